// The soil model's section "[unsatzon_model]" of the storage content file:
// the flow-time zones and the two linear storages of every subbasin and the
// baseflow every subbasin still owes from negative steps, written
// at the end of a run and loaded by a warm start (read mode 1). The section
// repeats the subbasin codes and six per-subbasin parameters; a warm start
// compares them with its own and refuses a state that belongs to another
// set-up.
//
// After the deficits the section records what the state belongs to: the
// date of the last step of the run that wrote it, and the layer thicknesses
// of every soil type. A warm start at another date than the step after that
// date is warned about; a state of other soil layers is refused. An older
// section without these lines still reads, with a warning.
//
// Numbers are written in the shortest form that reads back to the same
// double, so that a run continued from the file goes on bit for bit.

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "framework/diagnostics_writer.h"
#include "framework/state_checks.h"
#include "framework/storage_content_file.h"
#include "framework/string_helpers.h"
#include "parameters/soil.h"
#include "soil/unsatzon.h"

namespace {

// Skips the rest of the current line, the line end included.
void SkipLine(FILE* file) {
    for (int ch = std::fgetc(file); ch != EOF && ch != '\n'; ch = std::fgetc(file)) {
    }
}

// True when a stored value `s` stands for the current value `v`: relative
// difference up to 1e-5, a stored 0 only for a current 0, an infinity or a
// NaN only for the same.
bool StoredValueFits(double s, double v) {
    if (std::isnan(s) || std::isnan(v)) return std::isnan(s) && std::isnan(v);
    if (std::isinf(s) || std::isinf(v)) return s == v;
    if (s == 0) return v == 0;
    return !(std::fabs((s - v) / s) > 1e-5);
}

// Days from 1 January of year 1 to the date (Gregorian calendar).
int64_t DayNumber(int64_t year, int64_t month, int64_t day) {
    const int64_t y = month <= 2 ? year - 1 : year;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const int64_t yoe = y - era * 400;
    const int64_t doy = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe;
}

// Minutes of a model date (hour 1 to 24 ends its step) from a fixed origin.
int64_t DateMinutes(int64_t year, int64_t month, int64_t day, int64_t hour) {
    return DayNumber(year, month, day) * 1440 + hour * 60;
}

std::string DateText(int64_t year, int64_t month, int64_t day, int64_t hour) {
    return std::to_string(day) + "." + std::to_string(month) + "." + std::to_string(year) + " " +
           std::to_string(hour) + ". h";
}

bool BlankOrSection(const std::string& line) {
    const size_t first = line.find_first_not_of(" \t\r");
    return first == std::string::npos || line[first] == '[';
}

// The leading numbers of a line; the comment after them is left.
std::vector<double> LeadingNumbers(const std::string& line) {
    std::vector<double> values;
    const char* at = line.c_str();
    for (;;) {
        char* end = nullptr;
        const double v = std::strtod(at, &end);
        if (end == at) break;
        values.push_back(v);
        at = end;
    }
    return values;
}

}  // namespace

void unsatzonmodellklasse::SetSubSteps(int n) { SubSteps = n; }

void unsatzonmodellklasse::WriteStorageContent(bool /*append*/) {
    if (Method == 0 || !zoneFZT_QD.Allocated() || !zoneFZT_QI.Allocated() || !QDd.Rows() || !QIi.Rows()) return;
    const std::string path = InDirectory(OutputDirectory, StorageFileName);
    const int n = Subbasins.Count;
    const int T = zoneFZT_QD.Tracers();
    std::string text = "[unsatzon_model]\n" + std::to_string(n) + " (number of subasins)\n";
    char line[160];
    for (int s = 1; s <= n; ++s) {
        std::snprintf(line, sizeof line, "%.0f\t", Subbasins.Records[s].zonenwert);
        text += line;
    }
    text += "(code)\n";
    auto parameterLine = [&](const std::vector<double>& values, const char* comment) {
        for (int s = 1; s <= n; ++s) text += ShortestText(values[static_cast<size_t>(s)]) + " ";
        text += comment;
    };
    parameterLine(kelsqd, "(kelsqd in min)\n");
    parameterLine(kelsqi, "(kelsqi in min)\n");
    parameterLine(channelNetworkDensity, "(drainage density)\n");
    parameterLine(kelsqlat, "(inverse recession constant for baseflow [needed when using no groundwater model])\n");
    parameterLine(qbRedFaktor, "(max. baseflow [needed when using no groundwater model])\n");
    parameterLine(SnowRunoff_fraction, "(surface runoff fraction of snowmelt)\n");
    text += std::to_string(T) + " (number of tracers)\n";
    double** qdd = QDd.Rows();
    double** qii = QIi.Rows();
    auto record = [&](const unsatzon::FlowTimeZone& z, const char* comment) {
        for (double v : {z.n, z.sx, z.zonenwert, z.rel, z.RelCellSum}) text += ShortestText(v) + " ";
        text += comment;
    };
    for (int i = 0; i <= T; ++i) {
        text += std::to_string(i) + " (0=runoff, 1...9 = tracers)\n";
        for (int s = 1; s <= n; ++s) {
            const int zones = static_cast<int>(maxzeit[static_cast<size_t>(s)]);
            text += std::to_string(s) + " " + std::to_string(zones) + " (zone " + std::to_string(s) +
                    " and maxzeit)\n";
            const unsatzon::FlowTimeZone* qd = zoneFZT_QD.Zones(i, s);
            const unsatzon::FlowTimeZone* qi = zoneFZT_QI.Zones(i, s);
            for (int z = 1; z <= zones; ++z) {
                record(qd[z], "(zoneFZT_QD.n/.sx/.zonenwert/.rel/.RelCellSum)\n");
                record(qi[z], "(zoneFZT_QI.n/.sx/.zonenwert/.rel/.RelCellSum)\n");
            }
            text += ShortestText(qdd[i][s]) + " (QDd[" + std::to_string(i) + "][" + std::to_string(s) + "])\n";
            text += ShortestText(qii[i][s]) + " (QIi[" + std::to_string(i) + "][" + std::to_string(s) + "])\n";
        }
    }
    // The last line, added after the others so that older readers of the
    // section still find every line where they expect it.
    for (int s = 1; s <= n; ++s) {
        const size_t i = static_cast<size_t>(s);
        text += ShortestText(i < BaseflowDeficit.size() ? BaseflowDeficit[i] : 0.0) + " ";
    }
    text += "(baseflow deficit [mm])\n";
    if (StepYear > 0) {
        text += std::to_string(StepYear) + " " + std::to_string(StepMonth) + " " + std::to_string(StepDay) + " " +
                std::to_string(StepHour) + " (date of the state: year, month, day, hour of its last step)\n";
    }
    const int soils = soilTypes ? Settings.SoilCount : 0;
    text += std::to_string(soils) + " (soil types)\n";
    for (int t = 1; t <= soils; ++t) {
        const SoilType& soil = soilTypes[t];
        text += std::to_string(soil.Code) + " " + std::to_string(soil.LayerCount);
        for (int k = 1; k <= soil.LayerCount && static_cast<size_t>(k) < soil.thickness.size(); ++k) {
            text += ' ';
            AppendShortest(text, soil.thickness[static_cast<size_t>(k)]);
        }
        text += " (soil code, number of layers, their thicknesses [m])\n";
    }
    text += "\n";

    // A section is appended only to what this run has staged: never to a
    // file an older run left behind.
    WriteStorageSection(StorageStage, path, text, true, Writer);
}

void unsatzonmodellklasse::StorageMismatchError(const std::string& label, double current, double stored) {
    if (StorageFile) std::fclose(StorageFile);
    StorageFile = nullptr;
    if (Writer) {
        *Writer << "FATAL: error in storage file content reading " << label << ":\nvalue in actual control is:   "
                << current << "\nbut value in storage file is: " << stored << "\nRuvex throws..." << "[end-entry]";
    }
    throw 71;
}

void unsatzonmodellklasse::UnreadableStorageValue(const std::string& label, double current) {
    if (StorageFile) std::fclose(StorageFile);
    StorageFile = nullptr;
    if (Writer) {
        *Writer << "FATAL: error in storage file content reading " << label << ":\nvalue in actual control is:   "
                << current << "\nbut value in storage file is: (missing or unreadable) in " << StoragePath
                << "\nRuvex throws..." << "[end-entry]";
    }
    throw 71;
}

void unsatzonmodellklasse::CheckStoredValue(const std::string& label, double value, statecheck::Range range) {
    if (std::isfinite(value) && value >= range.Low && value <= range.High) return;
    if (StorageFile) std::fclose(StorageFile);
    StorageFile = nullptr;
    statecheck::CheckValue(Writer, StoragePath, "[unsatzon_model] " + label, value, range, 71);
}

void unsatzonmodellklasse::ReadAndCompareStorageValue(double current, const std::string& label) {
    double stored = 0;
    if (!StorageFile || std::fscanf(StorageFile, "%lf", &stored) != 1) UnreadableStorageValue(label, current);
    if (!StoredValueFits(stored, current)) StorageMismatchError(label, current, stored);
}

// The line of the baseflow deficits. A section written before the line
// existed ends with its empty line here: such a state owes nothing, as the
// run that wrote it did not carry its deficit over either, and the log says
// so. A line that is there must hold a readable value for every subbasin.
bool unsatzonmodellklasse::ReadBaseflowDeficit() {
    std::string text;
    int ch = std::fgetc(StorageFile);
    for (; ch != EOF && ch != '\n'; ch = std::fgetc(StorageFile)) text += static_cast<char>(ch);
    const bool blank = text.find_first_not_of(" \t\r") == std::string::npos;
    if (blank || text.front() == '[') {
        if (Writer) {
            *Writer << "WARNING: no baseflow deficit in the section [unsatzon_model] of " << StoragePath
                    << ": the subbasins start owing no baseflow" << "[end-entry]";
        }
        return false;
    }
    const char* at = text.c_str();
    for (int s = 1; s <= Subbasins.Count; ++s) {
        char* end = nullptr;
        const double value = std::strtod(at, &end);
        if (end == at || !std::isfinite(value) || value < 0) UnreadableStorageValue("baseflow deficit", 0);
        at = end;
        if (static_cast<size_t>(s) < BaseflowDeficit.size()) BaseflowDeficit[static_cast<size_t>(s)] = value;
    }
    return true;
}

void unsatzonmodellklasse::ReadStateStamp() {
    std::string line;
    const bool dated = ReadTextLine(StorageFile, &line) && !BlankOrSection(line);
    if (!dated) {
        if (Writer) {
            *Writer << "WARNING: the section [unsatzon_model] of " << StoragePath
                    << " carries neither the date of its state nor the soil layers: neither is checked"
                    << "[end-entry]";
        }
        return;
    }
    const std::vector<double> date = LeadingNumbers(line);
    if (date.size() < 4) UnreadableStorageValue("date of the state", 0);
    for (double v : date) {
        if (!(v == std::floor(v)) || std::fabs(v) > 1e6) UnreadableStorageValue("date of the state", 0);
    }
    const auto y = static_cast<int64_t>(date[0]), m = static_cast<int64_t>(date[1]),
               d = static_cast<int64_t>(date[2]), h = static_cast<int64_t>(date[3]);
    if (m < 1 || m > 12 || d < 1 || d > 31 || h < 0 || h > 24) UnreadableStorageValue("date of the state", 0);
    const int64_t next = DateMinutes(y, m, d, h) + static_cast<int64_t>(std::llround(TimeInterval));
    const int64_t start =
        DateMinutes(Settings.StartYear, Settings.StartMonth, Settings.StartDay, Settings.StartHour);
    if (next != start && Writer) {
        *Writer << "WARNING: the state in " << StoragePath << " belongs to " << DateText(y, m, d, h)
                << ", but this run starts at "
                << DateText(Settings.StartYear, Settings.StartMonth, Settings.StartDay, Settings.StartHour)
                << " and not at the step after it" << "[end-entry]";
    }

    // The soil types and their layers.
    const int soils = soilTypes ? Settings.SoilCount : 0;
    if (!ReadTextLine(StorageFile, &line) || BlankOrSection(line)) UnreadableStorageValue("number of soil types", soils);
    const std::vector<double> count = LeadingNumbers(line);
    if (count.empty()) UnreadableStorageValue("number of soil types", soils);
    if (count[0] != soils) StorageMismatchError("number of soil types", soils, count[0]);
    for (int t = 1; t <= soils; ++t) {
        const SoilType& soil = soilTypes[t];
        const std::string name = "soil " + std::to_string(soil.Code);
        if (!ReadTextLine(StorageFile, &line) || BlankOrSection(line)) UnreadableStorageValue("layers of " + name, 0);
        const std::vector<double> v = LeadingNumbers(line);
        if (v.size() < 2) UnreadableStorageValue("layers of " + name, 0);
        if (v[0] != soil.Code) StorageMismatchError("code of soil type " + std::to_string(t), soil.Code, v[0]);
        if (v[1] != soil.LayerCount) StorageMismatchError("number of layers of " + name, soil.LayerCount, v[1]);
        if (v.size() < static_cast<size_t>(soil.LayerCount) + 2)
            UnreadableStorageValue("thicknesses of the layers of " + name, 0);
        for (int k = 1; k <= soil.LayerCount && static_cast<size_t>(k) < soil.thickness.size(); ++k) {
            const double current = soil.thickness[static_cast<size_t>(k)];
            const double stored = v[static_cast<size_t>(k) + 1];
            if (!StoredValueFits(stored, current))
                StorageMismatchError("thickness of layer " + std::to_string(k) + " of " + name + " [m]", current,
                                     stored);
        }
    }
}

void unsatzonmodellklasse::ReadStorageContent() {
    if (Method == 0) return;
    StoragePath = InDirectory(InputDirectory, StorageFileName);
    StorageFile = std::fopen(StoragePath.c_str(), "rt");
    if (!StorageFile) {
        if (Writer) *Writer << "FATAL: error opening storage content file " << StoragePath << "[end-entry]";
        throw 64;
    }
    // The section begins at the first line that mentions it.
    bool found = false;
    std::string line;
    for (int ch = 0; !found && ch != EOF;) {
        ch = std::fgetc(StorageFile);
        if (ch != '\n' && ch != EOF) {
            line += static_cast<char>(ch);
            continue;
        }
        found = line.find("unsatzon_model") != std::string::npos;
        line.clear();
    }
    if (!found) {
        std::fclose(StorageFile);
        StorageFile = nullptr;
        if (Writer) {
            *Writer << "FATAL: error locking for the section [unsatzon_model] in " << StoragePath << "[end-entry]";
        }
        throw 71;
    }

    // A count or code: an integer that must equal `current`.
    auto readCount = [&](const std::string& label, int current) {
        long long value = 0;
        std::string textRead;
        if (ScanInteger(StorageFile, -2147483647LL - 1, 2147483647LL, &value, &textRead) != IntegerScan::Read)
            UnreadableStorageValue(label, current);
        if (value != current) StorageMismatchError(label, current, static_cast<double>(value));
        return static_cast<int>(value);
    };
    auto readValue = [&](const std::string& label, double* target) {
        if (std::fscanf(StorageFile, "%lf", target) != 1) UnreadableStorageValue(label, 0);
    };

    const int n = Subbasins.Count;
    readCount("number of subbasins", n);
    SkipLine(StorageFile);
    for (int s = 1; s <= n; ++s) readCount("subbasin code", static_cast<int>(Subbasins.Records[s].zonenwert));
    SkipLine(StorageFile);
    const std::pair<const std::vector<double>*, const char*> parameters[] = {
        {&kelsqd, "m"},   {&kelsqi, "kelsqi"}, {&channelNetworkDensity, "flussdichte"},
        {&kelsqlat, "kelsqlat"}, {&qbRedFaktor, "Q0"}, {&SnowRunoff_fraction, "SR_Anteil"}};
    for (const auto& [values, label] : parameters) {
        for (int s = 1; s <= n; ++s) ReadAndCompareStorageValue((*values)[static_cast<size_t>(s)], label);
        SkipLine(StorageFile);
    }
    const int T = zoneFZT_QD.Tracers();
    readCount("number of tracers", T);
    SkipLine(StorageFile);
    double** qdd = QDd.Rows();
    double** qii = QIi.Rows();
    auto readRecord = [&](unsatzon::FlowTimeZone& z, const char* label) {
        // The five values of one line; the comment after them is skipped.
        std::string text;
        for (int ch = std::fgetc(StorageFile); ch != EOF && ch != '\n'; ch = std::fgetc(StorageFile))
            text += static_cast<char>(ch);
        double v[5] = {};
        int read = 0;
        const char* at = text.c_str();
        for (; read < 5; ++read) {
            char* end = nullptr;
            v[read] = std::strtod(at, &end);
            if (end == at) break;
            at = end;
        }
        if (read != 5) StorageMismatchError(label, 5, read);
        // Counts, sums and cell shares of a zone: finite, none negative but
        // the zone's value.
        static const char* const fields[5] = {".n", ".sx", ".zonenwert", ".rel", ".RelCellSum"};
        for (int k = 0; k < 5; ++k) {
            const double low = k == 2 ? -statecheck::MaxHuge : 0;
            CheckStoredValue(std::string(label).substr(std::string(label).rfind(' ') + 1) + fields[k], v[k],
                             {low, statecheck::MaxHuge});
        }
        z.n = v[0];
        z.sx = v[1];
        z.zonenwert = v[2];
        z.rel = v[3];
        z.RelCellSum = v[4];
    };
    for (int i = 0; i <= T; ++i) {
        readCount("actual tracers(0=runoff)", i);
        SkipLine(StorageFile);
        for (int s = 1; s <= n; ++s) {
            const int zones = static_cast<int>(maxzeit[static_cast<size_t>(s)]);
            readCount("actual zone", s);
            readCount("maxzeit of actual subbasin", zones);
            SkipLine(StorageFile);
            unsatzon::FlowTimeZone* qd = zoneFZT_QD.Zones(i, s);
            unsatzon::FlowTimeZone* qi = zoneFZT_QI.Zones(i, s);
            for (int z = 1; z <= zones; ++z) {
                readRecord(qd[z], "number of fields for zonal statistics QD");
                readRecord(qi[z], "number of fields for zonal statistics QI");
            }
            std::string at = "[";
            at += std::to_string(i) + "][" + std::to_string(s) + "]";
            // The two runoff storages: water [mm] or tracer contents.
            const statecheck::Range storage{0, i == 0 ? statecheck::MaxWaterMm : statecheck::MaxConcentration};
            readValue("QDd" + at, &qdd[i][s]);
            CheckStoredValue("QDd" + at, qdd[i][s], storage);
            SkipLine(StorageFile);
            readValue("QIi" + at, &qii[i][s]);
            CheckStoredValue("QIi" + at, qii[i][s], storage);
            SkipLine(StorageFile);
        }
    }
    if (ReadBaseflowDeficit()) ReadStateStamp();
    std::fclose(StorageFile);
    StorageFile = nullptr;
    if (Writer) *Writer << "storage content of " << ModuleName << " read from " << StoragePath << "[end-entry]";
}
