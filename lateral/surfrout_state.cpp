// The section "[SurfaceRoutingModel]" of the storage content file: the
// travel-time zones and the two linear storages of every subbasin, written at
// the end of a run and read at a warm start.

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <string>

#include "framework/diagnostics_writer.h"
#include "framework/state_checks.h"
#include "framework/storage_content_file.h"
#include "framework/string_helpers.h"
#include "lateral/surfrout.h"

namespace {

const char* const SectionName = "SurfaceRoutingModel";
// The velocities of the last computation start the velocity iteration of the
// next step, so a warm start needs them to go on where the run stopped. They
// follow the linear storages as a block of their own: a file without it (an
// older one) is read as before, with the velocities starting at 0.
const char* const VelocityMarker = "(cells with flow velocities)";

}  // namespace

void surfaceroutingclass::WriteStorageContent(int append) {
    if (Method == 0 || !zoneFZT_QD.Allocated()) return;
    const std::string path = InDirectory(OutputDirectory, StorageFile);
    const int n = Settings.Zones ? Settings.ZoneCount : 0;
    const int t = std::max(TracerCount, 0);
    double** qdd = QDd.Rows();
    double** qii = QIi.Rows();
    std::string text = "[SurfaceRoutingModel]\n";
    text += std::to_string(n) + " (number of subasins)\n";
    text += std::to_string(t) + " (number of tracers)\n";
    auto record = [&](const unsatzon::FlowTimeZone& z, const char* label) {
        text += ShortestText(z.n) + " " + ShortestText(z.sx) + " " + ShortestText(z.zonenwert) + " " + ShortestText(z.rel) + " " +
                ShortestText(z.RelCellSum) + " (" + label + ".n/.sx/.zonenwert/.rel/.RelCellSum)\n";
    };
    for (int i = 0; i <= t; ++i) {
        text += std::to_string(i) + " (0=runoff, 1...9 = tracers)\n";
        for (int j = 1; j <= n; ++j) {
            const int zones = zoneFZT_QD.ZoneCount(j);
            text += std::to_string(j) + " " + std::to_string(zones) + " (zone " + std::to_string(j) + " and maxzeit)\n";
            for (int z = 1; z <= zones; ++z) {
                record(zoneFZT_QD.Zones(i, j)[z], "zoneFZT_QD");
                record(zoneFZT_QI.Zones(i, j)[z], "zoneFZT_QI");
            }
            std::string index = "[";
            index += std::to_string(i);
            index += "][";
            index += std::to_string(j);
            index += "])\n";
            text += ShortestText(qdd[i][j]) + " (QDd" + index;
            text += ShortestText(qii[i][j]) + " (QIi" + index;
        }
    }
    text += VelocityBlock();
    text += "\n";

    // A file that another section of this run did not create is made anew,
    // so that the section never lands behind an old one.
    WriteStorageSection(StorageStage, path, text, append, Writer);
}

std::string surfaceroutingclass::VelocityBlock() const {
    std::string cells;
    int count = 0;
    for (int32_t i = 1; i <= NRows; ++i) {
        for (int32_t j = 1; j <= NCols; ++j) {
            if (!IsModelCell(i, j)) continue;
            const double* v = Velocity[i][j];
            if (std::all_of(v + 1, v + 9, [](double x) { return x == 0; })) continue;
            ++count;
            cells += std::to_string(i);
            cells += ' ';
            cells += std::to_string(j);
            for (int d = 1; d <= 8; ++d) {
                cells += ' ';
                cells += ShortestText(v[d]);
            }
            cells += '\n';
        }
    }
    return std::to_string(count) + " " + VelocityMarker + "\n" + cells;
}

void surfaceroutingclass::ReadVelocityBlock() {
    FILE* f = StateFile;
    std::string line;
    for (int ch; (ch = std::fgetc(f)) != EOF;) {
        if (ch == '\n') {
            if (line.find_first_not_of(" \t\r") != std::string::npos) break;
            line.clear();
            continue;
        }
        line += static_cast<char>(ch);
    }
    // An older file, or the next section: the velocities start at 0. Any
    // other line is what is left of a cut or damaged one.
    if (line.find(VelocityMarker) == std::string::npos) {
        const size_t first = line.find_first_not_of(" \t\r");
        if (first == std::string::npos || line[first] == '[') return;
        if (Writer) {
            *Writer << "FATAL: error in storage file content reading " << StatePath
                    << ": the line after the storages is cut short or damaged (\"" << line << "\")" << "[end-entry]";
        }
        throw 71;
    }
    long long count = -1;
    const int read = std::sscanf(line.c_str(), "%lld", &count);
    const long long cells = static_cast<long long>(NRows) * NCols;
    if (read != 1 || count < 0 || count > cells)
        StorageMismatchError("number of cells with flow velocities", static_cast<double>(cells), static_cast<double>(count));
    for (long long k = 0; k < count; ++k) {
        int row = 0, col = 0;
        if (std::fscanf(f, "%d %d", &row, &col) != 2 || row < 1 || row > NRows || col < 1 || col > NCols ||
            !IsModelCell(row, col)) {
            StorageMismatchError("cell of the flow velocities", static_cast<double>(k + 1), NoData);
        }
        double* v = Velocity[row][col];
        for (int d = 1; d <= 8; ++d) {
            double value = 0;
            if (std::fscanf(f, "%lf", &value) != 1 || !std::isfinite(value))
                StorageMismatchError("number of flow velocities of a cell", 8, d - 1);
            v[d] = value;
        }
        // Each cell's line ends with its line end: one without was cut.
        std::string rest;
        ReadRestOfLine(f, &rest);
        if (rest.empty() || rest.back() != '\n') {
            if (Writer) {
                *Writer << "FATAL: error in storage file content reading " << StatePath
                        << ": the flow velocities of the cell in row " << row << ", column " << col << " are cut short"
                        << "[end-entry]";
            }
            throw 71;
        }
    }
}

void surfaceroutingclass::StorageMismatchError(const std::string& description, double run, double file) {
    if (Writer) {
        *Writer << "FATAL: error in storage file content reading " << description << ":\nvalue in actual control is:   "
                << run << "\nbut value in storage file is: " << file << "\nRuvex throws..." << "[end-entry]";
    }
    throw 71;
}

void surfaceroutingclass::ReadAndCompareStorageValue(double expected, const std::string& description) {
    double value = 0;
    if (!StateFile || std::fscanf(StateFile, "%lf", &value) != 1) StorageMismatchError(description, expected, NoData);
    if ((value != 0 && std::fabs((value - expected) / value) > 0.00001) || (value == 0 && expected != 0))
        StorageMismatchError(description, expected, value);
}

void surfaceroutingclass::ReadStorageContent() {
    if (Method == 0) return;
    const std::string path = InDirectory(InputDirectory, StorageFile);
    FILE* f = std::fopen(path.c_str(), "rt");
    // The run was asked to go on from a state: one that is not there ends it.
    if (!f) {
        if (Writer) *Writer << "FATAL: error opening storage content file " << path << "[end-entry]";
        throw 64;
    }
    StateFile = f;
    struct Closer {
        FILE*& file;
        ~Closer() {
            std::fclose(file);
            file = nullptr;
        }
    } closer{StateFile};
    std::string line;
    bool found = false;
    for (int ch; !found && (ch = std::fgetc(f)) != EOF;) {
        if (ch != '\n') {
            line += static_cast<char>(ch);
            continue;
        }
        found = line.find(SectionName) != std::string::npos;
        line.clear();
    }
    if (!found && line.find(SectionName) != std::string::npos) found = true;
    if (!found) {
        if (Writer) {
            *Writer << "FATAL: error in storage file content reading: the section " << SectionName
                    << " is missing in " << path << "[end-entry]";
        }
        throw 71;
    }
    StatePath = path;
    const int n = Settings.Zones ? Settings.ZoneCount : 0;
    const int t = std::max(TracerCount, 0);
    auto integer = [&](const std::string& description, int expected) {
        int value = 0;
        if (std::fscanf(f, "%d", &value) != 1) StorageMismatchError(description, expected, NoData);
        return value;
    };
    auto expect = [&](const std::string& description, int expected) {
        const int value = integer(description, expected);
        if (value != expected) StorageMismatchError(description, expected, value);
        ReadRestOfLine(f, nullptr);
    };
    std::string section = SectionName;
    section += " ";
    // Every value line ends with its comment: a line without one was cut.
    auto comment = [&](const std::string& description) {
        std::string rest;
        ReadRestOfLine(f, &rest);
        if (rest.find('(') == std::string::npos) {
            if (Writer) {
                *Writer << "FATAL: error in storage file content reading " << path << ": the line of " << description
                        << " is cut short" << "[end-entry]";
            }
            throw 71;
        }
    };
    auto real = [&](const std::string& description, statecheck::Range range) {
        double value = 0;
        if (std::fscanf(f, "%lf", &value) != 1) StorageMismatchError(description, 1, 0);
        comment(description);
        statecheck::CheckValue(Writer, path, section + description, value, range, 71);
        return value;
    };
    auto zone = [&](unsatzon::FlowTimeZone& z, const std::string& description) {
        const int read = std::fscanf(f, "%lf %lf %lf %lf %lf", &z.n, &z.sx, &z.zonenwert, &z.rel, &z.RelCellSum);
        if (read != 5) StorageMismatchError(description, 5, read < 0 ? 0 : read);
        comment(description);
        // Counts, sums and cell shares: finite, none negative but the zone's value.
        const double values[5] = {z.n, z.sx, z.zonenwert, z.rel, z.RelCellSum};
        static const char* const fields[5] = {".n", ".sx", ".zonenwert", ".rel", ".RelCellSum"};
        for (int k = 0; k < 5; ++k) {
            statecheck::CheckValue(Writer, path, section + "zone" + fields[k], values[k],
                                   {k == 2 ? -statecheck::MaxHuge : 0, statecheck::MaxHuge}, 71);
        }
    };
    expect("number of subbasins", n);
    expect("number of tracers", t);
    double** qdd = QDd.Rows();
    double** qii = QIi.Rows();
    for (int i = 0; i <= t; ++i) {
        expect("actual tracers(0=runoff)", i);
        for (int j = 1; j <= n; ++j) {
            const int zones = zoneFZT_QD.ZoneCount(j);
            const int code = integer("actual zone", j);
            if (code != j) StorageMismatchError("actual zone", j, code);
            const int count = integer("maxzeit of actual subbasin", zones);
            if (count != zones) StorageMismatchError("maxzeit of actual subbasin", zones, count);
            ReadRestOfLine(f, nullptr);
            for (int z = 1; z <= zones; ++z) {
                zone(zoneFZT_QD.Zones(i, j)[z], "number of fields for zonal statistics QD");
                zone(zoneFZT_QI.Zones(i, j)[z], "number of fields for zonal statistics QI");
            }
            // The two runoff storages: water [mm] or tracer contents.
            const statecheck::Range storage{0, i == 0 ? statecheck::MaxWaterMm : statecheck::MaxConcentration};
            std::string at = "[";
            at += std::to_string(i) + "][" + std::to_string(j) + "]";
            qdd[i][j] = real("QDd" + at, storage);
            qii[i][j] = real("QIi" + at, storage);
        }
    }
    ReadVelocityBlock();
}
