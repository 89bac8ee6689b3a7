#pragma once
// The example basin copied into a test directory, with a shorter model time
// and, optionally, cut down to a window of its grids: a small basin that keeps
// the example's stations, tables and sections.

#include <cstdio>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "support/test_support.h"

namespace soiltest {

inline std::filesystem::path ExampleBasin() { return testsupport::TestDataPath("../../examples/basin"); }

// An ESRI ASCII grid cut to rows firstRow.. and columns firstColumn.. (1-based,
// counted from the top left); the corner moves with the window.
inline std::string CropAsciiGrid(const std::string& text, int firstRow, int firstColumn, int rows, int columns) {
    std::istringstream in(text);
    std::string key;
    double ncols = 0, nrows = 0, xll = 0, yll = 0, cellsize = 0, nodata = 0;
    in >> key >> ncols >> key >> nrows >> key >> xll >> key >> yll >> key >> cellsize >> key >> nodata;
    std::vector<std::string> values(static_cast<size_t>(ncols * nrows));
    for (std::string& v : values) in >> v;
    std::ostringstream out;
    out.precision(17);
    out << "ncols " << columns << "\nnrows " << rows << "\nxllcorner " << xll + (firstColumn - 1) * cellsize
        << "\nyllcorner " << yll + (nrows - (firstRow - 1 + rows)) * cellsize << "\ncellsize " << cellsize
        << "\nnodata_value " << nodata << "\n";
    for (int r = firstRow; r < firstRow + rows; ++r) {
        for (int c = firstColumn; c < firstColumn + columns; ++c) {
            out << values[static_cast<size_t>((r - 1) * ncols + (c - 1))] << (c + 1 < firstColumn + columns ? " " : "");
        }
        out << "\n";
    }
    return out.str();
}

// `control` with the lines of its section "[model_time]" (up to the section
// "[zone_grid]") replaced by `lines`; empty when either section is missing.
inline std::string WithModelTimeLines(std::string control, const std::string& lines) {
    const size_t begin = control.find("[model_time]");
    const size_t end = control.find("[zone_grid]");
    if (begin == std::string::npos || end == std::string::npos) return "";
    control.replace(begin, end - begin, "[model_time]\n" + lines);
    return control;
}

// The example's own control text with the model time `lines`.
inline std::string ExampleControlWithTime(const std::string& lines) {
    return WithModelTimeLines(testsupport::ReadFile((ExampleBasin() / "basin.ctl").string()), lines);
}

// The example's control text with the model time from hour 1 of day
// `startDay`, month `startMonth` to `endHour` of day `endDay`, month
// `endMonth`, all in 2019.
inline std::string ExampleControl(int endHour, int endDay, int endMonth, int startDay = 1, int startMonth = 1) {
    std::string control = ExampleControlWithTime("1\n" + std::to_string(startDay) + "\n" +
                                                 std::to_string(startMonth) + "\n2019\n" + std::to_string(endHour) +
                                                 "\n" + std::to_string(endDay) + "\n" + std::to_string(endMonth) +
                                                 "\n2019\n\n");
    if (control.empty()) return "";
    // The soil model's own checks: the glacier, whose runoff the snow model
    // adds, and the aquifer, surface routing and the silting-up, which take
    // part of its water, stay out.
    control = testsupport::RemoveStandardGrids(control, {"ice_firn.asc"});
    control = testsupport::SetSectionSwitch(control, "SurfaceRoutingModel", 0);
    control = testsupport::SetSectionSwitch(control, "SiltingUpModel", 0);
    return testsupport::SetSectionSwitch(control, "groundwater_flow", 0);
}

// Copies the example's inputs into `dir` and creates its output directory.
inline void CopyExampleInputs(const testsupport::TempDir& dir) {
    std::filesystem::copy(ExampleBasin() / "input", dir.file("input"), std::filesystem::copy_options::recursive);
    std::filesystem::create_directories(dir.file("output"));
}

// Cuts every copied grid (zones, elevations, land uses, soils, glaciers,
// channels, fixed heads, irrigation codes, tracer inputs, ...) to the window.
inline void CropExampleGrids(const testsupport::TempDir& dir, int firstRow, int firstColumn, int rows, int columns) {
    for (const auto& entry : std::filesystem::directory_iterator(dir.file("input"))) {
        if (entry.path().extension() != ".asc") continue;
        const std::string path = entry.path().string();
        testsupport::WriteFile(path, CropAsciiGrid(testsupport::ReadFile(path), firstRow, firstColumn, rows, columns));
    }
}

}  // namespace soiltest
