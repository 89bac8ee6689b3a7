// The section "[SurfaceRoutingModel]" of the storage content file: the
// travel-time zones and the two linear storages of every subbasin, written at
// the end of a run and read at a warm start.

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>

#include "framework/diagnostics_writer.h"
#include "framework/storage_content_file.h"
#include "framework/string_helpers.h"
#include "lateral/surfrout.h"

namespace {

const char* const SectionName = "SurfaceRoutingModel";
const char* const ColdStartNote =
    ". This means that the actual model run will not initialize the flow travel time zones for direct runoff and "
    "interflow, as it was before version 9.08.06.";

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
    text += "\n";

    // A file that another section of this run did not create is made anew,
    // so that the section never lands behind an old one.
    WriteStorageSection(StorageStage, path, text, append, Writer);
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
    if (!f) {
        if (Writer) *Writer << "WARNING: error opening storage content file " << path << ColdStartNote << "[end-entry]";
        return;
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
            *Writer << "WARNING: error locking for the section [" << SectionName << "] in " << path << ColdStartNote
                    << "[end-entry]";
        }
        return;
    }
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
    auto real = [&](const std::string& description) {
        double value = 0;
        if (std::fscanf(f, "%lf", &value) != 1) StorageMismatchError(description, 1, 0);
        ReadRestOfLine(f, nullptr);
        return value;
    };
    auto zone = [&](unsatzon::FlowTimeZone& z, const std::string& description) {
        const int read = std::fscanf(f, "%lf %lf %lf %lf %lf", &z.n, &z.sx, &z.zonenwert, &z.rel, &z.RelCellSum);
        if (read != 5) StorageMismatchError(description, 5, read < 0 ? 0 : read);
        ReadRestOfLine(f, nullptr);
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
            qdd[i][j] = real("QDd");
            qii[i][j] = real("QIi");
        }
    }
}
