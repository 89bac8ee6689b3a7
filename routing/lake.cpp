// Lakes on the grid: the water-level/volume table of a lake, its content
// from and to the ponded water of its cells, and the table kernels.

#include "routing/lake.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>

#include "framework/diagnostics_writer.h"
#include "framework/zonetable.h"
#include "routing/reservoir.h"

std::vector<double> LakeTableLevels(double top, double bottom) {
    std::vector<double> levels;
    const double depth = top - bottom;
    // A count of steps that comes out a hair below a whole number is that
    // number.
    const double eps = 1e-9;
    if (!(depth >= 0.01 - eps)) return levels;
    int fine = 0, medium = 0, coarse = 0;
    double rest = 0;
    if (depth >= 4) {
        fine = 400;
        rest = depth - 4;
    } else {
        fine = std::max(1, static_cast<int>(std::floor(depth / 0.01 + eps)));
    }
    if (rest >= 10) {
        medium = 500;
    } else if (rest > 0) {
        medium = static_cast<int>(std::floor(rest / 0.02 + eps));
    }
    if (rest > 10) coarse = static_cast<int>(std::ceil((rest - 10) / 0.05 - eps));
    levels.reserve(static_cast<size_t>(fine + medium + coarse + 1));
    for (int i = 0; i < fine; ++i) levels.push_back(top - 0.01 * i);
    for (int i = 0; i < medium; ++i) levels.push_back(top - 4 - 0.02 * i);
    for (int i = 0; i < coarse; ++i) levels.push_back(top - 4 - 10 - 0.05 * i);
    levels.push_back(bottom);
    return levels;
}

double LakeVolumeBelow(const std::vector<double>& elevations, double cellArea, double level) {
    double v = 0;
    for (double z : elevations)
        if (z < level) v += cellArea * (level - z);
    return v;
}

double LakeInterpolate(const std::vector<double>& X, const std::vector<double>& Y, double x) {
    const int rows = static_cast<int>(X.size());
    if (rows < 2) return rows == 1 ? Y[0] : 0.0;
    int k = 1;
    if (!(x >= X[1]) && rows > 2) {
        k = rows - 1;
        for (int j = 2; j <= rows - 1; ++j) {
            if (X[static_cast<size_t>(j)] <= x) {
                k = j;
                break;
            }
        }
    }
    const size_t a = static_cast<size_t>(k - 1), b = static_cast<size_t>(k);
    return ((X[a] - x) * Y[b] + (x - X[b]) * Y[a]) / (X[a] - X[b]);
}

void SP_class::BuildLakeTable() {
    if (LakeFlag == 0) return;
    LakeCode = Code;
    const LakeGrids& g = Lake;
    const double noData = Geometry.NoData;
    const int rows = Geometry.NRows, cols = Geometry.NCols;
    auto rankOf = [&](double code) {
        const long c = std::lround(code);
        return CodeToRank && c >= 0 && c <= LargestCode ? CodeToRank[c] : 0;
    };
    const int outletRank = rankOf(OutletCode);
    FirstRow = rows + 1;
    FirstColumn = cols + 1;
    LastRow = LastColumn = 0;
    bool first = true;
    double reference = 0;
    for (int r = 1; r <= rows; ++r) {
        // Without row extents every column of the row is scanned.
        const int firstColumn = Geometry.RowExtents ? Geometry.RowExtents[r].first : 1;
        const int lastColumn = Geometry.RowExtents ? Geometry.RowExtents[r].last : cols;
        for (int c = firstColumn; c <= lastColumn; ++c) {
            if (g.Subbasins[r][c] == noData || g.LakeCodes[r][c] == noData) continue;
            if (std::lround(g.LakeCodes[r][c]) != LakeCode) continue;
            const double crest = g.Elevation[r][c] + g.MaxPonding[r][c] / 1000;
            if (first) {
                reference = crest;
                first = false;
            } else if (std::fabs(crest - reference) > 0.01) {
                if (Writer) {
                    *Writer << "FATAL: \n============== ERROR ====================\n"
                            << "Error in initialization for lake " << LakeCode << "."
                            << "All Cells for a lake must have the same Altitude value for DEM + MAXPOND\n"
                            << "Value at row " << r << ", col " << c << " is " << crest << "\n"
                            << "but first value of dhm for this lake was " << reference << "\n"
                            << "\n\n=======================================\n"
                            << "[end-entry]";
                }
                throw 213;
            }
            if (rankOf(g.Subbasins[r][c]) != outletRank) {
                if (Writer) {
                    *Writer << "FATAL:  error in routing description or LAKE grid:\n"
                            << " Lake " << LakeCode << " must be located completely within subbasin " << OutletCode
                            << "." << "[end-entry]";
                }
                throw 224;
            }
            FirstRow = std::min(FirstRow, r);
            LastRow = std::max(LastRow, r);
            FirstColumn = std::min(FirstColumn, c);
            LastColumn = std::max(LastColumn, c);
        }
    }
    if (first) {
        // No cell: no top, no bottom, no table.
        if (Writer) {
            *Writer << "FATAL:  error in routing description or LAKE grid:\n"
                    << " Lake " << LakeCode << " has no cell with its code in the LAKE grid inside the model area."
                    << "[end-entry]";
        }
        throw 224;
    }
    double top = 0, bottom = 9999;
    std::vector<double> elevations;
    for (int r = FirstRow; r <= LastRow; ++r) {
        for (int c = FirstColumn; c <= LastColumn; ++c) {
            if (g.LakeCodes[r][c] == noData || std::lround(g.LakeCodes[r][c]) != LakeCode) continue;
            top = std::max(top, g.Elevation[r][c] + g.MaxPonding[r][c] / 1000);
            bottom = std::min(bottom, g.Elevation[r][c]);
            elevations.push_back(g.Elevation[r][c]);
        }
    }
    Levels = LakeTableLevels(top, bottom);
    if (Levels.empty()) {
        if (Writer) {
            *Writer << "FATAL: \n============== ERROR ====================\n"
                    << "Error in initialization for lake " << LakeCode << ": the lake is less than 0.01 m deep "
                    << "(DEM + MAXPOND at most " << top << " m, lowest cell " << bottom << " m)"
                    << "\n\n=======================================\n"
                    << "[end-entry]";
        }
        throw 213;
    }
    TableRows = static_cast<int>(Levels.size());
    const double cellArea = Geometry.CellSize * Geometry.CellSize;
    Volumes.assign(Levels.size(), 0.0);
    for (int i = 0; i + 1 < TableRows; ++i)
        Volumes[static_cast<size_t>(i)] = LakeVolumeBelow(elevations, cellArea, Levels[static_cast<size_t>(i)]);

    char name[64];
    std::snprintf(name, sizeof name, "W_V_Table_%02d.dat", LakeCode);
    std::string text = "waterlevel-volume-table lake " + std::to_string(LakeCode) + "\nLevel[m a.s.l.]\tVolume[m^3]\n";
    for (int i = 0; i < TableRows; ++i) {
        char line[128];
        std::snprintf(line, sizeof line, "%g\t%g\n", Levels[static_cast<size_t>(i)], Volumes[static_cast<size_t>(i)]);
        text += line;
    }
    FILE* file = std::fopen(name, "w");
    bool written = file && std::fwrite(text.data(), 1, text.size(), file) == text.size();
    if (file && std::fclose(file) != 0) written = false;
    if (!written) {
        if (Writer) {
            *Writer << "FATAL: error opening " << name << " for writing the waterlevel-volume-relation to disk."
                    << "[end-entry]";
        }
        throw 225;
    }
}

double SP_class::LevelFromVolume(double volume) {
    if (LakeFlag == 0 || TableRows < 2) return 0.0;
    return LakeInterpolate(Volumes, Levels, volume);
}

double SP_class::VolumeFromLevel(double level) {
    if (LakeFlag == 0 || TableRows < 2) return 0.0;
    return LakeInterpolate(Levels, Volumes, level);
}

double SP_class::GetLakeConcentrations(double* buffer) {
    if (LakeFlag == 0) return 0.0;
    const int T = TracerCount;
    for (int k = 0; k <= T; ++k) buffer[k] = 0;
    const double cellArea = Geometry.CellSize * Geometry.CellSize;
    for (int r = FirstRow; r <= LastRow; ++r) {
        for (int c = FirstColumn; c <= LastColumn; ++c) {
            if (Lake.LakeCodes[r][c] == Geometry.NoData || std::lround(Lake.LakeCodes[r][c]) != LakeCode) continue;
            const double p = Lake.Ponding[r][c];
            if (!(p > 0)) continue;
            const double v = p / 1000 * cellArea;
            buffer[0] += v;
            for (int k = 1; k <= T; ++k)
                if (Lake.TracerStacks[static_cast<size_t>(k)]) buffer[k] += v * Lake.TracerStacks[static_cast<size_t>(k)][r][c][0];
        }
    }
    for (int k = 1; k <= T; ++k) buffer[k] = buffer[0] > 0 ? buffer[k] / buffer[0] : 0.0;
    return buffer[0];
}

double SP_class::WriteLakeLevel(double volume) {
    if (LakeFlag == 0) return 0.0;
    const int T = TracerCount;
    const double level = LevelFromVolume(volume);
    for (int r = FirstRow; r <= LastRow; ++r) {
        for (int c = FirstColumn; c <= LastColumn; ++c) {
            if (Lake.LakeCodes[r][c] == Geometry.NoData || std::lround(Lake.LakeCodes[r][c]) != LakeCode) continue;
            const double z = Lake.Elevation[r][c];
            const bool wet = level > z;
            Lake.Ponding[r][c] = wet ? (level - z) * 1000 : 0.0;
            for (int k = 1; k <= T; ++k)
                if (Lake.TracerStacks[static_cast<size_t>(k)])
                    Lake.TracerStacks[static_cast<size_t>(k)][r][c][0] = wet ? State[static_cast<size_t>(k)] : 0.0;
        }
    }
    return level;
}

void SP_class::InitLakeFromGrid() {
    if (LakeFlag == 0) return;
    std::fill(State.begin(), State.end(), 0.0);
    for (int r = FirstRow; r <= LastRow; ++r) {
        for (int c = FirstColumn; c <= LastColumn; ++c) {
            if (Lake.LakeCodes[r][c] == Geometry.NoData || std::lround(Lake.LakeCodes[r][c]) != LakeCode) continue;
            const double p = Lake.Ponding[r][c];
            if (!(p > 0)) continue;
            State[0] = VolumeFromLevel(Lake.Elevation[r][c] + p / 1000);
            for (int k = 1; k <= TracerCount; ++k)
                if (Lake.TracerStacks[static_cast<size_t>(k)])
                    State[static_cast<size_t>(k)] = Lake.TracerStacks[static_cast<size_t>(k)][r][c][0];
            return;
        }
    }
}
