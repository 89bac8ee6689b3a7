// The evapotranspiration's section "[evapotranspiration]" of the storage
// content file: the sunshine of the day's sunlit steps, summed while the day
// is bright and averaged for the night, which Penman-Monteith uses in the dark
// steps. A run that goes on from the file (read modes 1 and 3) picks up the
// day where the earlier run left it; without the section it starts as a cold
// run does (relative sunshine 0.5 until the first sunlit step).
// After the sunshine comes the albedo the last step left: the snow model sets
// it in every step (snow albedo, or the land use's albedo of the step's own
// day), and the next step's radiation balance starts from it. A section
// without these lines leaves the land use's albedo of the day before.
//
// Numbers are written in the shortest form that reads back to the same
// double.

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "framework/diagnostics_writer.h"
#include "framework/state_checks.h"
#include "framework/storage_content_file.h"
#include "framework/string_helpers.h"
#include "surface/etpetr.h"

namespace {

constexpr const char* SectionName = "[evapotranspiration]";

}  // namespace

void verdunstungsmodellklasse::ReadStorageContent(const std::string* fileName, int readMode) {
    if (Method == 0 || !fileName) return;
    StorageFileName = *fileName;
    if (readMode != 1 && readMode != 3) return;

    const std::string path = InDirectory(InputDirectory, *fileName);
    auto coldStart = [&](const std::string& why) {
        if (!Writer) return;
        *Writer << "WARNING: evapotranspiration: " << why << path << "[end-entry]";
        *Writer << "WARNING: the mean sunshine of the day starts at its cold start value" << "[end-entry]";
    };
    StorageSectionReader reader(path, Writer);
    if (!reader.IsOpen()) {
        coldStart("error opening storage content file ");
        return;
    }
    if (!reader.FindSection(SectionName)) {
        coldStart(std::string(SectionName) + " not found in storage content file ");
        return;
    }

    double day[2] = {};
    reader.ReadNumbers("sunlit steps of the day", 2, day);
    if ((day[0] != 0 && day[0] != 1) || day[1] < 0 || day[1] != std::floor(day[1]) || day[1] > 1e6)
        reader.Mismatch("sunlit steps of the day", "0 or 1 and a count", reader.Line);
    double size[2] = {};
    reader.ReadNumbers("number of rows and columns", 2, size);
    if (size[0] != NRows || size[1] != NCols) {
        reader.Mismatch("number of rows and columns", std::to_string(NRows) + " " + std::to_string(NCols),
                        ShortestText(size[0]) + " " + ShortestText(size[1]));
    }
    // Read whole before any cell is changed: a section cut short leaves
    // nothing half loaded.
    std::vector<double> cells(static_cast<size_t>(NRows) * static_cast<size_t>(NCols));
    for (int32_t i = 1; i <= NRows; ++i) {
        reader.ReadNumbers("sunshine of row " + std::to_string(i), static_cast<size_t>(NCols),
                           &cells[static_cast<size_t>(i - 1) * NCols]);
    }
    // The sunshine of the day so far [h]: nodata or not negative.
    for (int32_t i = 1; i <= NRows; ++i) {
        for (int32_t j = 1; j <= NCols; ++j) {
            const double v = cells[static_cast<size_t>(i - 1) * NCols + j - 1];
            if (v == NoData) continue;
            statecheck::CheckValue(Writer, path,
                                   std::string(SectionName) + " sunshine of row " + std::to_string(i) + ", column " +
                                       std::to_string(j),
                                   v, {0, 1.0e6}, 71);
        }
    }
    for (int32_t i = 1; i <= NRows; ++i)
        for (int32_t j = 1; j <= NCols; ++j) SsdTemp[i][j] = cells[static_cast<size_t>(i - 1) * NCols + j - 1];
    BrightPartBegun = day[0] == 1;
    BrightSteps = static_cast<int>(day[1]);
    ReadAlbedo(reader);
    if (Writer) *Writer << "storage content of " << ModuleName << " read from " << path << "[end-entry]";
}

void verdunstungsmodellklasse::ReadAlbedo(StorageSectionReader& reader) {
    if (!Albedo) return;
    const std::string& path = reader.Path();
    auto older = [&] {
        if (Writer) {
            *Writer << "WARNING: evapotranspiration: no albedo in the section " << SectionName << " of " << path
                    << ": the first step takes the land use's albedo of the day before" << "[end-entry]";
        }
    };
    if (!reader.NextLine() || BlankLine(reader.Line) || reader.Line.front() == '[') {
        older();
        return;
    }
    double size[2] = {};
    reader.ParseNumbers("number of rows and columns of the albedo", 2, size);
    if (size[0] != NRows || size[1] != NCols) {
        reader.Mismatch("number of rows and columns of the albedo",
                        std::to_string(NRows) + " " + std::to_string(NCols),
                        ShortestText(size[0]) + " " + ShortestText(size[1]));
    }
    std::vector<double> cells(static_cast<size_t>(NRows) * static_cast<size_t>(NCols));
    for (int32_t i = 1; i <= NRows; ++i) {
        const std::string label = "albedo of row " + std::to_string(i);
        reader.ReadNumbers(label, static_cast<size_t>(NCols), &cells[static_cast<size_t>(i - 1) * NCols]);
        for (int32_t j = 1; j <= NCols; ++j) {
            const double v = cells[static_cast<size_t>(i - 1) * NCols + j - 1];
            if (v == NoData) continue;
            statecheck::CheckValue(Writer, path, label + ", column " + std::to_string(j), v, {0, 1}, 71);
        }
    }
    for (int32_t i = 1; i <= NRows; ++i)
        for (int32_t j = 1; j <= NCols; ++j) Albedo[i][j] = cells[static_cast<size_t>(i - 1) * NCols + j - 1];
}

void verdunstungsmodellklasse::WriteStorageContent() {
    if (Method == 0 || StorageFileName.empty() || !SsdTemp) return;
    const std::string path = InDirectory(OutputDirectory, StorageFileName);
    std::string text = std::string(SectionName) + "\n";
    text += std::to_string(BrightPartBegun ? 1 : 0) + " " + std::to_string(BrightSteps) +
            " (sunlit part of the day begun, its steps so far)\n";
    text += std::to_string(NRows) + " " + std::to_string(NCols) + " (rows and columns of the sunshine grid)\n";
    AppendGridRows(text, SsdTemp, 1, NRows, NCols);
    if (Albedo) {
        text += std::to_string(NRows) + " " + std::to_string(NCols) + " (rows and columns of the albedo grid)\n";
        AppendGridRows(text, Albedo, 1, NRows, NCols);
    }
    text += "\n";

    WriteStorageSection(StorageStage, path, text, true, Writer);
}
