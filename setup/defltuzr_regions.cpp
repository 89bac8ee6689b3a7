#include "setup/defltuzr_regions.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "framework/diagnostics_writer.h"
#include "framework/zonetable.h"
#include "setup/defltuzr_cellsize.h"
#include "setup/derived_grid_names.h"

namespace {

[[noreturn]] void Fatal(DiagnosticsWriter* writer, int code, auto&&... pieces) {
    if (writer) {
        (*writer << ... << pieces);
        *writer << "[end-entry]";
    }
    throw code;
}

[[noreturn]] void BrokenInvariant(const char* what, const char* file, int line) {
    std::fprintf(stderr, "internal error: %s (%s:%d)\n", what, file, line);
    std::abort();
}

#define REGION_CHECK(condition) \
    do { \
        if (!(condition)) BrokenInvariant(#condition, __FILE__, __LINE__); \
    } while (0)

// The nearest cells of up to two other regions found around one cell.
struct Neighbourhood {
    double Region2 = 0, Region3 = 0;               // region codes, 0 for none
    double Weight1 = 0, Weight2 = 0, Weight3 = 0;  // distances [cells] until the weights are made
    int32_t Row2 = 0, Col2 = 0, Row3 = 0, Col3 = 0;
};

// Looks for other regions within the radius m [cells] of cell (i, j) of region
// q. Distances are whole cells; with two regions every other cell belongs to
// region 2, with more the two nearest found are kept.
Neighbourhood SearchNeighbourhood(double** regionGrid, int32_t rows, int32_t cols, double nodata, int regionCount,
                                  int32_t i, int32_t j, double q, double m, int32_t radiusRows) {
    Neighbourhood n;
    n.Weight1 = n.Weight2 = n.Weight3 = m;
    n.Row2 = n.Row3 = i;
    n.Col2 = n.Col3 = j;
    const int32_t kFirst = std::max<int32_t>(1, i - radiusRows);
    const int32_t kLast = std::min<int32_t>(rows, i + radiusRows);
    for (int32_t k = kFirst; k <= kLast; ++k) {
        const double di = i - k;
        // Half width of the circle in this row, never wider than the grid.
        const int32_t h = static_cast<int32_t>(std::min(std::trunc(std::sqrt(m * m - di * di)), double(cols)));
        const int32_t lFirst = std::max<int32_t>(1, j - h);
        const int32_t lLast = std::min<int32_t>(cols, j + h);
        for (int32_t l = lFirst; l <= lLast; ++l) {
            const double value = regionGrid[k][l];
            if (value <= nodata) continue;
            const double v = ZoneCodeOf(value);
            if (v == q) continue;
            const double dj = j - l;
            const double dist = std::trunc(std::sqrt(di * di + dj * dj));
            if (n.Region2 == 0) n.Region2 = v;
            if (v == n.Region2) {
                if (n.Weight1 >= dist) {
                    n.Weight1 = n.Weight2 = dist;
                    n.Row2 = k;
                    n.Col2 = l;
                }
            } else if (regionCount > 2) {
                if (n.Region3 == 0) n.Region3 = v;
                if (v == n.Region3) {
                    if (n.Weight3 >= dist) {
                        n.Weight3 = dist;
                        n.Row3 = k;
                        n.Col3 = l;
                    }
                } else if (n.Weight3 > n.Weight2) {
                    if (n.Weight3 > dist) {
                        n.Region3 = v;
                        n.Weight3 = dist;
                        n.Row3 = k;
                        n.Col3 = l;
                    }
                } else if (n.Weight2 > dist) {
                    n.Region2 = v;
                    n.Weight2 = dist;
                    n.Row2 = k;
                    n.Col2 = l;
                }
            }
        }
    }
    return n;
}

// Turns the distances into weights that add up to 1.
void MakeWeights(Neighbourhood& n, int regionCount, int32_t i, int32_t j, double m) {
    const double t = n.Weight1 / (2 * m) + 0.5;
    if (regionCount == 2) {
        if (t > 1) {
            n.Weight1 = 1;
            n.Weight2 = 0;
        } else if (t < 0.5) {
            n.Weight1 = n.Weight2 = 0.5;
        } else {
            n.Weight1 = t;
            n.Weight2 = 1 - t;
        }
        return;
    }
    n.Weight1 = t > 1 ? 1 : std::max(t, 0.5);
    if (n.Region3 > 0) {
        auto positive = [](double x) { return x <= 0 ? 1.0 : x; };
        const double F = std::sqrt(double(i - n.Row2) * (i - n.Row2) + double(j - n.Col2) * (j - n.Col2));
        const double G = std::sqrt(double(i - n.Row3) * (i - n.Row3) + double(j - n.Col3) * (j - n.Col3));
        const double H = positive(m - std::min(F, G));
        const double A = positive(F + m);
        const double B = positive(G + m);
        const double x = std::min({H, A, B});
        const double off = (0.9 - 0.5 * std::cos(1.5707963 * x / m)) / (2 * m);
        const double p1 = std::max(0.0, 1 / H - off);
        const double p2 = std::max(0.0, 1 / A - off);
        const double p3 = std::max(0.0, 1 / B - off);
        const double s = p1 + p2 + p3;
        n.Weight1 = p1 / s;
        n.Weight2 = p2 / s;
        if (n.Weight1 + n.Weight2 > 1) n.Weight2 = 1 - n.Weight1;
        n.Weight3 = 1 - (n.Weight1 + n.Weight2);
    } else {
        n.Weight3 = 0;
        n.Weight2 = n.Region2 > 0 ? 1 - n.Weight1 : 0;
    }
}

}  // namespace

std::vector<DerivedRegionGrid> RegionWeightGridsFor(int regionCount) {
    std::vector<DerivedRegionGrid> grids{{"regression_weights1", Weights1Suffix}};
    if (regionCount > 1) {
        grids.push_back({"regression_regions2", Regions2Suffix});
        grids.push_back({"regression_weights2", Weights2Suffix});
    }
    if (regionCount > 2) {
        grids.push_back({"regression_regions3", Regions3Suffix});
        grids.push_back({"regression_weights3", Weights3Suffix});
    }
    return grids;
}

void MakeRegionGridFromZones(double** zoneGrid, double** regionGrid, int32_t rows, int32_t cols, double nodata) {
    for (int32_t i = 1; i <= rows; ++i) {
        for (int32_t j = 1; j <= cols; ++j) regionGrid[i][j] = zoneGrid[i][j] != nodata ? 1 : nodata;
    }
}

RegionTable RankRegions(double** zoneGrid, double** regionGrid, int32_t rows, int32_t cols, double nodata,
                        DiagnosticsWriter* writer, const std::string& regionFileName, const std::string& moduleName) {
    if (writer) *writer << "ranking regions from " << regionFileName << " for " << moduleName << "[end-entry]";

    // Register the codes; ranks come out in ascending order of code.
    std::vector<double> firstValue(MaxRegionCode + 1, 0.0);
    std::vector<char> seen(MaxRegionCode + 1, 0);
    int count = 0;
    int largest = 0;
    for (int32_t i = 1; i <= rows; ++i) {
        for (int32_t j = 1; j <= cols; ++j) {
            if (zoneGrid[i][j] == nodata) continue;
            const double value = regionGrid[i][j];
            const double code = ZoneCodeOf(value);
            if (!(code >= 1 && code <= MaxRegionCode)) {
                Fatal(writer, 3, "FATAL: invalid region code in ", regionFileName,
                      "!\n (codes has to be between 1 and ", MaxRegionCode, ")!\n");
            }
            const int c = static_cast<int>(code);
            if (seen[c]) continue;
            if (++count > MaxRegionCount) {
                Fatal(writer, 4, "FATAL: too much zones in ", regionFileName, ", (max. ", MaxRegionCount, ")!\n");
            }
            seen[c] = 1;
            firstValue[c] = value;
            largest = std::max(largest, c);
        }
    }

    RegionTable table;
    table.Count = count;
    table.LargestCode = largest;
    table.Records.assign(static_cast<size_t>(count) + 1, RegionRecord{});
    table.Codes.assign(static_cast<size_t>(count) + 1, 0.0);
    table.CodeToRank.assign(static_cast<size_t>(largest) + 1, 0);
    int rank = 0;
    for (int c = 0; c <= largest; ++c) {
        if (!seen[c]) continue;
        table.CodeToRank[c] = ++rank;
        table.Codes[rank] = firstValue[c];
    }

    // Mean position of every region's cells.
    std::vector<double> rowSum(static_cast<size_t>(count) + 1, 0.0);
    std::vector<double> colSum(static_cast<size_t>(count) + 1, 0.0);
    for (int32_t i = 1; i <= rows; ++i) {
        for (int32_t j = 1; j <= cols; ++j) {
            if (zoneGrid[i][j] == nodata || regionGrid[i][j] == nodata) continue;
            const int k = table.CodeToRank[static_cast<int>(ZoneCodeOf(regionGrid[i][j]))];
            rowSum[k] += i;
            colSum[k] += j;
            table.Records[k].CellCount += 1;
        }
    }
    for (int k = 1; k <= count; ++k) {
        RegionRecord& r = table.Records[k];
        r.MeanRowExact = rowSum[k] / r.CellCount;
        r.MeanColExact = colSum[k] / r.CellCount;
        r.MeanRow = static_cast<int>(r.MeanRowExact);
        r.MeanCol = static_cast<int>(r.MeanColExact);
    }
    return table;
}

void GenerateRegionWeights(double** zoneGrid, double** regionGrid, int32_t rows, int32_t cols, double cellSize,
                           double nodata, const RowExtent* rowExtents, const RegionTable& regions,
                           double* transitionDistance, const RegionWeightGrids& grids, DiagnosticsWriter* writer) {
    const int r = regions.Count;
    REGION_CHECK(grids.Weights1 != nullptr);
    REGION_CHECK(r <= 1 || (grids.Regions2 != nullptr && grids.Weights2 != nullptr));
    REGION_CHECK(r <= 2 || (grids.Regions3 != nullptr && grids.Weights3 != nullptr));
    RequirePositiveCellSize(cellSize, writer);

    if (writer)
        *writer << "generating region weight grids"
                << "[end-entry]";
    if (!(*transitionDistance > 0)) *transitionDistance = 0.01;
    if (std::isinf(*transitionDistance)) {
        Fatal(writer, 17, "FATAL: the transition distance in [region_transition_distance] must be finite, not ",
              *transitionDistance);
    }
    const double m = *transitionDistance / cellSize;  // radius [cells]
    // Rows searched above and below a cell, never more than the grid has.
    const int32_t radiusRows = static_cast<int32_t>(std::min(std::trunc(m), double(rows)));

    for (int32_t i = 1; i <= rows; ++i) {
        for (int32_t j = 1; j <= cols; ++j) {
            if (zoneGrid[i][j] <= nodata) regionGrid[i][j] = nodata;
        }
    }

    double** const outputs[5] = {grids.Weights1, r > 1 ? grids.Regions2 : nullptr, r > 1 ? grids.Weights2 : nullptr,
                                 r > 2 ? grids.Regions3 : nullptr, r > 2 ? grids.Weights3 : nullptr};

    // Every cell reads the region grid only and writes its own cells. Threads
    // only pay off when there is some work to share.
    const double searchCells = (2.0 * radiusRows + 1) * (2 * std::min(m, double(cols)) + 1);
    const bool parallel = r > 1 && double(rows) * cols * searchCells >= 65536;
#pragma omp parallel for schedule(static) if (parallel)
    for (int32_t i = 1; i <= rows; ++i) {
        const int32_t first = std::max<int32_t>(1, rowExtents[i].first);
        const int32_t last = std::min<int32_t>(cols, rowExtents[i].last);
        for (double** g : outputs) {
            if (!g) continue;
            for (int32_t j = 1; j <= cols; ++j) {
                if (j < first || j > last) g[i][j] = 0;
            }
        }
        for (int32_t j = first; j <= last; ++j) {
            if (zoneGrid[i][j] <= nodata) {
                for (double** g : outputs) {
                    if (g) g[i][j] = nodata;
                }
                continue;
            }
            if (r < 2) {
                grids.Weights1[i][j] = 1;
                continue;
            }
            const double q = ZoneCodeOf(regionGrid[i][j]);
            Neighbourhood n = SearchNeighbourhood(regionGrid, rows, cols, nodata, r, i, j, q, m, radiusRows);
            MakeWeights(n, r, i, j, m);
            grids.Weights1[i][j] = n.Weight1;
            grids.Regions2[i][j] = n.Region2;
            grids.Weights2[i][j] = n.Weight2;
            if (r > 2) {
                grids.Regions3[i][j] = n.Region3;
                grids.Weights3[i][j] = n.Weight3;
            }
        }
    }

    if (writer) {
        for (int32_t i = 1; i <= rows; ++i) *writer << ".";
        if (rows > 0) *writer << "[end-entry]";
    }
}
