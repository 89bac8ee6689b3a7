// The routing's section of the storage content file: per description the
// storage elements of every channel index, the linear-storage states and the
// river-flow records, then the fill positions and correction stores. Numbers
// are written in the shortest form that reads back to the same double, so
// that a warm start continues the run bit for bit.

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "framework/diagnostics_writer.h"
#include "framework/gridfiles.h"
#include "framework/state_checks.h"
#include "framework/storage_content_file.h"
#include "routing/abfluss.h"
#include "soil/unsatzon.h"

namespace {

void Put(std::string& out, double value) {
    char buffer[64];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    out.append(buffer, result.ptr);
}

template <typename... A>
void Printf(std::string& out, const char* format, A... args) {
    const int n = std::snprintf(nullptr, 0, format, args...);
    const size_t at = out.size();
    out.resize(at + static_cast<size_t>(n));
    std::snprintf(out.data() + at, static_cast<size_t>(n) + 1, format, args...);
}

// Values with a blank after each and a line end after every tenth.
void PutValues(std::string& out, const std::vector<double>& values, int count, bool lastLineEnd) {
    for (int p = 1; p <= count; ++p) {
        Put(out, values[static_cast<size_t>(p)]);
        out += ' ';
        if (p % 10 == 0) out += '\n';
    }
    if (lastLineEnd) out += '\n';
}

// Reads a line (without its end) into `line`; false at the end of the file.
bool ReadLine(FILE* file, std::string& line) {
    line.clear();
    int c;
    while ((c = std::fgetc(file)) != EOF && c != '\n') line += static_cast<char>(c);
    return c != EOF || !line.empty();
}

void SkipLine(FILE* file) {
    int c;
    while ((c = std::fgetc(file)) != EOF && c != '\n') {
    }
}

}  // namespace

void routingclass::WriteStorage(std::string& out) {
    if (!Storage) return;
    const int n = Links.SubbasinCount;
    const int T = Links.TracerCount;
    const int Ns = SubIntervals;
    const int ab = Counts.OL + Counts.SUMTRIB;
    auto linearStates = [&](int e) {
        const wqtab& w = Tables[static_cast<size_t>(e)];
        for (int sigma = 1; sigma <= static_cast<int>(w.S); ++sigma) {
            for (int s = 1; s <= Ns; ++s) {
                Put(out, w.Qaus[static_cast<size_t>(sigma)][static_cast<size_t>(s)]);
                out += ' ';
            }
            Printf(out, " (wqtab[local tributary %d].Qaus[subchannel %d][1..%d])\n", e, sigma, Ns);
            Put(out, w.qvzuq[static_cast<size_t>(sigma)]);
            Printf(out, " (wqtab[local tributary %d].qvzuq[subchannel %d])\n", e, sigma);
        }
    };
    Printf(out, "%d (routing subbasin with tributaries", OutletCode);
    for (int e = 1; e <= Counts.OL; ++e) Printf(out, " %d", Code[static_cast<size_t>(e)]);
    out += '\n';
    for (int e = 1; e <= ab; ++e) {
        const int M = Tables[static_cast<size_t>(e)].StorageElements + Ns;
        const std::vector<int>& list = Tributaries[static_cast<size_t>(e)];
        const int m = list.empty() ? 0 : list[0];
        for (int jj = 1; jj <= m + 1; ++jj) {
            const int i = jj <= m ? RankOf(list[static_cast<size_t>(jj)]) : IndexOf(e);
            for (int t = 0; t <= T; ++t) {
                Printf(out, "%d %d (tracer/flow index and tributary subbasin)\n", t, i);
                PutValues(out, (*Storage)[static_cast<size_t>(t)][static_cast<size_t>(i)], M, true);
            }
            linearStates(e);
            if (RiverFlows) {
                const riverflow_table& r = RiverFlows[i];
                for (int t = 0; t <= T; ++t) {
                    Put(out, t < 10 ? r.flow_mm[t] : 0.0);
                    out += ' ';
                }
                Printf(out, "(riverflow_table[%d].flow_mm[%d])\n", i, T + 1);
                Put(out, r.flowm3s);
                out += ' ';
                Put(out, r.speed);
                Printf(out, " (riverflow_table[%d].flowm3s/speed\n", i);
            }
        }
    }
    for (int e = ab + 1; e <= ChannelCount; ++e) {
        const int i = IndexOf(e);
        const int M = Tables[static_cast<size_t>(e)].StorageElements + Ns;
        for (int t = 0; t <= T; ++t) {
            Printf(out, "%d %d (tracer/flow index and external inflow)\n", t, i);
            PutValues(out, (*Storage)[static_cast<size_t>(t)][static_cast<size_t>(i)], M, false);
        }
        out += '\n';
        // Each inflow channel keeps its own linear storages.
        linearStates(e);
    }
    (void)n;
    WriteReservoirStates(out);
    out += "\n\n";
}

void routingclass::WriteExtraState(std::string& out) {
    const int T = Links.TracerCount;
    for (int e = 1; e <= ChannelCount; ++e) {
        const wqtab& w = Tables[static_cast<size_t>(e)];
        for (int sigma = 1; sigma <= static_cast<int>(w.S); ++sigma) {
            Printf(out, "%d %d %d %d ", DescriptionNumber, e, sigma, w.FillPosition[static_cast<size_t>(sigma)]);
            for (int t = 0; t <= T; ++t) {
                Put(out, w.Correction[static_cast<size_t>(t)][static_cast<size_t>(sigma)]);
                out += ' ';
            }
            out += "(fill position and correction store of description/channel/sub-channel)\n";
            Printf(out, "%d %d %d ", DescriptionNumber, e, sigma);
            for (const auto* y : {&w.QausMain, &w.QausPlain}) {
                for (int s = 1; s <= SubIntervals; ++s) {
                    Put(out, (*y)[static_cast<size_t>(sigma)][static_cast<size_t>(s)]);
                    out += ' ';
                }
            }
            out += "(main-channel and flood-plain outflows of description/channel/sub-channel)\n";
        }
    }
}

bool routingclass::ReadExtraState(const std::string& line, const std::string& path) {
    const bool fillLine = line.find("(fill position and correction store") != std::string::npos;
    const bool storageLine = line.find("(main-channel and flood-plain outflows") != std::string::npos;
    if (!fillLine && !storageLine) return false;
    const int T = Links.TracerCount;
    int k = 0, e = 0, sigma = 0, fill = 0, used = 0;
    const char* text = line.c_str();
    auto bad = [&]() {
        if (Writer) {
            *Writer << "FATAL: error reading " << (fillLine ? "fill position" : "linear storages") << " in file "
                    << path << " (line \"" << line << "\")" << "[end-entry]";
        }
        throw 71;
    };
    if (std::sscanf(text, "%d %d %d%n", &k, &e, &sigma, &used) != 3) bad();
    if (k != DescriptionNumber) return false;
    if (e < 1 || e > ChannelCount) bad();
    wqtab& w = Tables[static_cast<size_t>(e)];
    if (sigma < 1 || sigma > static_cast<int>(w.S)) bad();
    const int Ns = SubIntervals;
    text += used;
    if (storageLine) {
        // Both storages' outflows; their sum stays the stored `Qaus`.
        std::vector<double> values(static_cast<size_t>(2 * Ns), 0.0);
        for (double& v : values) {
            int more = 0;
            if (std::sscanf(text, "%lf%n", &v, &more) != 1 || !std::isfinite(v)) bad();
            text += more;
            statecheck::CheckValue(Writer, path, "storage outflow [m3/s] (line \"" + line + "\")", v,
                                   {0, statecheck::MaxDischarge}, 71);
        }
        for (int s = 1; s <= Ns; ++s) {
            w.QausMain[static_cast<size_t>(sigma)][static_cast<size_t>(s)] = values[static_cast<size_t>(s - 1)];
            w.QausPlain[static_cast<size_t>(sigma)][static_cast<size_t>(s)] = values[static_cast<size_t>(Ns + s - 1)];
        }
        return true;
    }
    if (std::sscanf(text, "%d%n", &fill, &used) != 1) bad();
    const int b = (sigma - 1) * BlockLength(e) + 1;
    if (fill < b + Ns - 1 || fill > b + BlockLength(e) - 1) bad();
    text += used;
    std::vector<double>& store = StoreValues;
    for (int t = 0; t <= T; ++t) {
        int more = 0;
        if (std::sscanf(text, "%lf%n", &store[static_cast<size_t>(t)], &more) != 1) bad();
        text += more;
    }
    w.FillPosition[static_cast<size_t>(sigma)] = fill;
    for (int t = 0; t <= T; ++t) w.Correction[static_cast<size_t>(t)][static_cast<size_t>(sigma)] = store[static_cast<size_t>(t)];
    return true;
}

void routingclass::ReadStorage(FILE* file, const std::string& path) {
    if (!Storage) return;
    const int T = Links.TracerCount;
    const int Ns = SubIntervals;
    const int ab = Counts.OL + Counts.SUMTRIB;
    int position = 0;
    std::string line;
    auto fail = [&](const char* what, int at) {
        if (Writer) *Writer << "FATAL: error reading " << what << " in file " << path << " (position " << at << ")" << "[end-entry]";
        throw 71;
    };
    // Flows and tracer contents are finite and not negative; a flow above
    // any river's is refused as well.
    auto value = [&](double& v, const char* what, statecheck::Range range) {
        if (std::fscanf(file, "%lf", &v) != 1) fail("a stored value", position);
        statecheck::CheckValue(Writer, path, std::string(what) + " (position " + std::to_string(position) + ")", v,
                               range, 71);
    };
    const statecheck::Range flow{0, statecheck::MaxDischarge};
    const statecheck::Range content{0, statecheck::MaxConcentration};
    auto header = [&](int t, int i) {
        int a = 0, b = 0;
        ++position;
        if (std::fscanf(file, "%d%d", &a, &b) != 2) fail("tracer code", position);
        SkipLine(file);
        if (a != t) fail("tracer code", position);
        if (b != i) fail("tributary index", position);
    };
    auto linearStates = [&](int e) {
        wqtab& w = Tables[static_cast<size_t>(e)];
        for (int sigma = 1; sigma <= static_cast<int>(w.S); ++sigma) {
            const size_t ks = static_cast<size_t>(sigma);
            for (int s = 1; s <= Ns; ++s) value(w.Qaus[ks][static_cast<size_t>(s)], "outflow [m3/s]", flow);
            SkipLine(file);
            ++position;
            value(w.qvzuq[ks], "share of the flood plain", {0, 1});
            SkipLine(file);
            ++position;
            // The split between the storages as the share gives it; the
            // lines of both storages' outflows, where the file has them,
            // replace it.
            const double phi = w.qvzuq[ks];
            for (int s = 1; s <= Ns; ++s) {
                const double y = w.Qaus[ks][static_cast<size_t>(s)];
                w.QausMain[ks][static_cast<size_t>(s)] = (1 - phi) * y;
                w.QausPlain[ks][static_cast<size_t>(s)] = phi * y;
            }
        }
    };

    int code = 0;
    if (std::fscanf(file, "%d", &code) != 1 || code != OutletCode) fail("subbasin code", 1);
    SkipLine(file);
    for (int e = 1; e <= ab; ++e) {
        const int M = Tables[static_cast<size_t>(e)].StorageElements + Ns;
        const std::vector<int>& list = Tributaries[static_cast<size_t>(e)];
        const int m = list.empty() ? 0 : list[0];
        for (int jj = 1; jj <= m + 1; ++jj) {
            const int i = jj <= m ? RankOf(list[static_cast<size_t>(jj)]) : IndexOf(e);
            for (int t = 0; t <= T; ++t) {
                header(t, i);
                std::vector<double>& E = (*Storage)[static_cast<size_t>(t)][static_cast<size_t>(i)];
                for (int p = 1; p <= M; ++p) {
                    value(E[static_cast<size_t>(p)], t == 0 ? "stored flow [m3/s]" : "stored tracer content",
                          t == 0 ? flow : content);
                }
            }
            linearStates(e);
            // River-flow lines follow where the writing run had the table;
            // they are recognised by their comment.
            const long at = std::ftell(file);
            int c;
            while ((c = std::fgetc(file)) == ' ' || c == '\n' || c == '\t' || c == '\r') {
            }
            if (c != EOF) std::ungetc(c, file);
            const long start = std::ftell(file);
            ReadLine(file, line);
            if (line.find("riverflow_table[") != std::string::npos) {
                std::string second;
                ReadLine(file, second);
                position += 2;
                if (RiverFlows) {
                    riverflow_table& r = RiverFlows[i];
                    const char* text = line.c_str();
                    for (int t = 0; t <= T; ++t) {
                        double v = 0;
                        int used = 0;
                        if (std::sscanf(text, "%lf%n", &v, &used) != 1) fail("a river-flow value", position);
                        statecheck::CheckValue(Writer, path,
                                               "river flow [mm] (position " + std::to_string(position) + ")", v,
                                               t == 0 ? statecheck::Range{0, statecheck::MaxWaterMm} : content, 71);
                        if (t < 10) r.flow_mm[t] = v;
                        text += used;
                    }
                    if (std::sscanf(second.c_str(), "%lf %lf", &r.flowm3s, &r.speed) != 2)
                        fail("a river-flow value", position);
                    const std::string at = " (position " + std::to_string(position) + ")";
                    statecheck::CheckValue(Writer, path, "river flow [m3/s]" + at, r.flowm3s, flow, 71);
                    statecheck::CheckValue(Writer, path, "river flow speed" + at, r.speed, flow, 71);
                }
            } else {
                std::fseek(file, start, SEEK_SET);
            }
            (void)at;
        }
    }
    for (int e = ab + 1; e <= ChannelCount; ++e) {
        const int i = IndexOf(e);
        const int M = Tables[static_cast<size_t>(e)].StorageElements + Ns;
        for (int t = 0; t <= T; ++t) {
            header(t, i);
            std::vector<double>& E = (*Storage)[static_cast<size_t>(t)][static_cast<size_t>(i)];
            for (int p = 1; p <= M; ++p) {
                value(E[static_cast<size_t>(p)], t == 0 ? "stored flow [m3/s]" : "stored tracer content",
                      t == 0 ? flow : content);
            }
        }
        linearStates(e);
    }
    ReadReservoirStates(file, path, position);
}

void abflussmodellklasse::ReadStorageFile(const std::string* fileName, int readCode) {
    if (Method == 0) return;
    // An empty name counts as none.
    HasStorageName = fileName != nullptr && !fileName->empty();
    if (!HasStorageName) return;
    StorageFileName = *fileName;
    if (readCode != 1 && readCode != 3) return;
    std::string path = StorageFileName;
    PrefixDirectory(InputDirectory, path);
    std::unique_ptr<FILE, int (*)(FILE*)> file(std::fopen(path.c_str(), "rt"), std::fclose);
    if (!file) {
        if (Writer) *Writer << "FATAL: error opening storage content file " << path << "[end-entry]";
        throw 64;
    }
    std::string line;
    bool found = false;
    while (ReadLine(file.get(), line)) {
        if (line.find("routing_model") != std::string::npos) {
            found = true;
            break;
        }
    }
    if (!found) {
        if (Writer) *Writer << "FATAL: error looking for the section " << "routing_model" << " in " << path << "[end-entry]";
        throw 71;
    }
    if (!Qg) return;
    for (int k = 1; k <= DescriptionCount; ++k) Descriptions[static_cast<size_t>(k)]->ReadStorage(file.get(), path);
    // The fill positions and correction stores, where the file has them.
    while (true) {
        const long start = std::ftell(file.get());
        if (!ReadLine(file.get(), line)) break;
        if (line.empty()) continue;
        if (line[0] == '[') {
            std::fseek(file.get(), start, SEEK_SET);
            break;
        }
        bool used = false;
        for (int k = 1; k <= DescriptionCount && !used; ++k)
            used = Descriptions[static_cast<size_t>(k)]->ReadExtraState(line, path);
        if (!used) used = ReadCarriedState(line, path);
        if (!used) break;
    }
    // The soil columns of the first step leave what is still owed in the rivers.
    if (RiverFlows)
        for (int k = 1; k <= DescriptionCount; ++k) Descriptions[static_cast<size_t>(k)]->HandCarriedToSoil();
}

void abflussmodellklasse::WriteStorageFile() {
    // Before the flow arrays exist there is no channel state to save.
    if (StorageElements.empty() || !Qg) return;
    std::string path = HasStorageName ? StorageFileName : std::string("storage.ftz");
    PrefixDirectory(OutputDirectory, path);
    std::string out = "[routing_model]\n";
    for (int k = 1; k <= DescriptionCount; ++k) Descriptions[static_cast<size_t>(k)]->WriteStorage(out);
    for (int k = 1; k <= DescriptionCount; ++k) Descriptions[static_cast<size_t>(k)]->WriteExtraState(out);
    WriteCarriedState(out);
    out += "\n";
    StorageContentStage local;
    StorageContentStage* stage = Stage ? Stage : &local;
    FILE* file = stage->Create(path, Writer);
    if (std::fwrite(out.data(), 1, out.size(), file) != out.size()) {
        if (Writer) *Writer << "FATAL: error writing storage content file " << path << "[end-entry]";
        stage->Discard();
        throw 18;
    }
    if (!Stage) local.Commit(Writer);
}

void abflussmodellklasse::StorageMismatchError(const std::string& text, double control, double stored) {
    if (Writer) {
        *Writer << "FATAL: error in storage file content reading " << text << ":\nvalue in actual control is:   "
                << control << "\nbut value in storage file is: " << stored << "\nRuvex throws..." << "[end-entry]";
    }
    throw 72;
}
