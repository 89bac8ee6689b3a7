#include "setup/defltuzr_regions.h"

#include <gtest/gtest.h>
#include <omp.h>

#include <cmath>
#include <limits>
#include <memory>

#include "framework/zonetable.h"
#include "setup_test_grid.h"

using namespace setuptest;

namespace {

constexpr double Tol = 1e-12;

TEST(RankRegions, CodesAreRankedInAscendingOrderWithTheirMeanPositions) {
    Diagnostics diag;
    Grid zones{{1, 1, 1, 1}, {1, 1, Nodata, 1}};
    // Cell (2,3) lies outside the zone grid, so its region value is ignored.
    Grid regions{{5, 2, 9, 5}, {2.4, 9, 0, 4.6}};
    const RegionTable t =
        RankRegions(zones.data(), regions.data(), 2, 4, Nodata, diag.writer(), "regions.asc", "defaults");
    ASSERT_EQ(t.Count, 3);
    EXPECT_EQ(t.LargestCode, 9);
    EXPECT_EQ(t.CodeToRank, (std::vector<int>{0, 0, 1, 0, 0, 2, 0, 0, 0, 3}));
    EXPECT_EQ(t.Codes, (std::vector<double>{0, 2, 5, 9}));
    ASSERT_EQ(t.Records.size(), 4u);
    struct Expected {
        double count, row, col;
        int intRow, intCol;
    };
    const Expected expected[] = {
        {0, 0, 0, 0, 0},        // record 0
        {2, 1.5, 1.5, 1, 1},    // code 2: (1,2), (2,1)
        {3, 4.0 / 3, 3, 1, 3},  // code 5: (1,1), (1,4), (2,4)
        {2, 1.5, 2.5, 1, 2},    // code 9: (1,3), (2,2)
    };
    for (int k = 0; k <= 3; ++k) {
        EXPECT_EQ(t.Records[k].CellCount, expected[k].count) << k;
        EXPECT_DOUBLE_EQ(t.Records[k].MeanRowExact, expected[k].row) << k;
        EXPECT_DOUBLE_EQ(t.Records[k].MeanColExact, expected[k].col) << k;
        EXPECT_EQ(t.Records[k].MeanRow, expected[k].intRow) << k;
        EXPECT_EQ(t.Records[k].MeanCol, expected[k].intCol) << k;
    }
    EXPECT_NE(diag.Console().find("ranking regions from regions.asc for defaults"), std::string::npos);
}

TEST(RankRegions, InvalidCodesAndTooManyRegionsEndTheRun) {
    struct Case {
        double value;
        int code;
    };
    const Case cases[] = {{Nodata, 3}, {0, 3},     {0.49, 3},
                          {-1, 3},     {32768, 3}, {32767.4, 0},
                          {0.5, 0},    {1, 0},     {std::numeric_limits<double>::quiet_NaN(), 3}};
    for (const Case& c : cases) {
        Diagnostics diag;
        Grid zones{{1, 1}};
        Grid regions{{1, c.value}};
        EXPECT_EQ(ThrownCode([&] {
                      RankRegions(zones.data(), regions.data(), 1, 2, Nodata, diag.writer(), "reg.asc", "defaults");
                  }),
                  c.code)
            << c.value;
        if (c.code == 3) {
            EXPECT_NE(diag.Console().find("invalid region code in reg.asc!\n (codes has to be between 1 and 32767)!\n"),
                      std::string::npos);
        }
    }
    for (int codes : {30, 31}) {
        Diagnostics diag;
        Grid zones(1, codes, 1);
        Grid regions(1, codes);
        for (int j = 1; j <= codes; ++j) regions.at(1, j) = 100 - j;
        const int thrown = ThrownCode(
            [&] { RankRegions(zones.data(), regions.data(), 1, codes, Nodata, diag.writer(), "reg.asc", "defaults"); });
        EXPECT_EQ(thrown, codes == 30 ? 0 : 4);
        if (codes == 31) {
            EXPECT_NE(diag.Console().find("too much zones in reg.asc, (max. 30)!\n"), std::string::npos);
        }
    }
}

TEST(RegionWeightGridsFor, GridsDependOnTheRegionCount) {
    auto names = [](int count) {
        std::vector<std::string> out;
        for (const DerivedRegionGrid& g : RegionWeightGridsFor(count))
            out.push_back(std::string(g.InternalName) + g.Suffix);
        return out;
    };
    EXPECT_EQ(names(1), (std::vector<std::string>{"regression_weights1.$w1"}));
    EXPECT_EQ(names(2), (std::vector<std::string>{"regression_weights1.$w1", "regression_regions2.$r2",
                                                  "regression_weights2.$w2"}));
    EXPECT_EQ(names(30),
              (std::vector<std::string>{"regression_weights1.$w1", "regression_regions2.$r2", "regression_weights2.$w2",
                                        "regression_regions3.$r3", "regression_weights3.$w3"}));
}

// The region tables and weight grids of one case.
struct Weights {
    const int32_t Rows, Cols;
    Grid& Zones;
    Grid& Regions;
    Grid W1, R2, W2, R3, W3;
    RegionTable Table;
    Diagnostics Diag;

    Weights(Grid& zones, Grid& regions)
        : Rows(zones.Rows),
          Cols(zones.Cols),
          Zones(zones),
          Regions(regions),
          W1(Rows, Cols, -1),
          R2(Rows, Cols, -1),
          W2(Rows, Cols, -1),
          R3(Rows, Cols, -1),
          W3(Rows, Cols, -1) {}

    void Generate(double cellSize, double* distance) {
        Table = RankRegions(Zones.data(), Regions.data(), Rows, Cols, Nodata, Diag.writer(), "r.asc", "defaults");
        const std::vector<RowExtent> extents = DeriveRowExtents(Zones.data(), Rows, Cols, Nodata);
        RegionWeightGrids g;
        g.Weights1 = W1.data();
        if (Table.Count > 1) {
            g.Regions2 = R2.data();
            g.Weights2 = W2.data();
        }
        if (Table.Count > 2) {
            g.Regions3 = R3.data();
            g.Weights3 = W3.data();
        }
        GenerateRegionWeights(Zones.data(), Regions.data(), Rows, Cols, cellSize, Nodata, extents.data(), Table,
                              distance, g, Diag.writer());
    }
    void Generate(double cellSize, double distance) { Generate(cellSize, &distance); }
};

TEST(GenerateRegionWeights, WithoutARegionGridEveryCellHasWeightOne) {
    Grid zones{{Nodata, 4, 4, Nodata}, {7, 7, Nodata, 4}};
    Grid regions(2, 4, 123);
    MakeRegionGridFromZones(zones.data(), regions.data(), 2, 4, Nodata);
    Weights w(zones, regions);
    w.Generate(100, 500);
    ASSERT_EQ(w.Table.Count, 1);
    EXPECT_EQ(w.Table.Codes[1], 1);
    // Cells outside a row's valid columns are not visited and hold 0.
    const double w1[2][4] = {{0, 1, 1, 0}, {1, 1, Nodata, 1}};
    const double region[2][4] = {{Nodata, 1, 1, Nodata}, {1, 1, Nodata, 1}};
    for (int32_t i = 1; i <= 2; ++i) {
        for (int32_t j = 1; j <= 4; ++j) {
            EXPECT_EQ(w.W1.at(i, j), w1[i - 1][j - 1]) << i << "," << j;
            EXPECT_EQ(regions.at(i, j), region[i - 1][j - 1]) << i << "," << j;
        }
    }
    EXPECT_NE(w.Diag.Console().find("generating region weight grids"), std::string::npos);
}

TEST(GenerateRegionWeights, TwoRegions) {
    // Region 1 on the left, region 2 on the right; cell (1,4) lies outside
    // the zone grid (its region value is dropped), and so does (3,6), which
    // is also outside the row's valid columns. Cells of 10 m, transition
    // distance 20 m: a radius of 2 cells.
    Grid zones{{1, 1, 1, Nodata, 1, 1}, {1, 1, 1, 1, 1, 1}, {1, 1, 1, 1, 1, Nodata}};
    Grid regions{{1, 1, 1, 2, 2, 2}, {1, 1, 1, 2, 2, 2}, {1, 1, 1, 2, 2, 2}};
    Weights w(zones, regions);
    w.Generate(10, 20);
    ASSERT_EQ(w.Table.Count, 2);
    EXPECT_EQ(regions.at(1, 4), Nodata);
    EXPECT_EQ(regions.at(3, 6), Nodata);
    // Per column: the other region at distance 1 gives 1/(2*2) + 0.5; at
    // distance 2 (or none within the radius) the own region takes it all.
    // In row 1 the dropped cell (1,4) leaves cell (1,2) without region 2
    // within the radius, while (1,3) finds it in the row below.
    const double w1[] = {0, 1, 1, 0.75, 0.75, 1, 1};
    const double r2[] = {0, 0, 2, 2, 1, 1, 0};
    for (int32_t i = 1; i <= 3; ++i) {
        for (int32_t j = 1; j <= 6; ++j) {
            if (zones.at(i, j) == Nodata) continue;
            EXPECT_DOUBLE_EQ(w.W1.at(i, j), w1[j]) << i << "," << j;
            EXPECT_DOUBLE_EQ(w.W2.at(i, j), 1 - w1[j]) << i << "," << j;
            EXPECT_EQ(w.R2.at(i, j), i == 1 && j == 2 ? 0 : r2[j]) << i << "," << j;
        }
    }
    EXPECT_EQ(w.W1.at(1, 4), Nodata);
    EXPECT_EQ(w.R2.at(1, 4), Nodata);
    EXPECT_EQ(w.W2.at(1, 4), Nodata);
    EXPECT_EQ(w.W1.at(3, 6), 0);
    EXPECT_EQ(w.R2.at(3, 6), 0);
    EXPECT_EQ(w.W2.at(3, 6), 0);
    // No third layer with two regions.
    EXPECT_EQ(w.W3.at(2, 2), -1);
}

TEST(GenerateRegionWeights, ThreeRegions) {
    Grid zones(1, 5, 1);
    Grid regions{{1, 1, 2, 3, 3}};
    Weights w(zones, regions);
    w.Generate(1, 2);
    ASSERT_EQ(w.Table.Count, 3);
    // (1,1): region 2 at distance 2, no third region within the radius.
    EXPECT_DOUBLE_EQ(w.W1.at(1, 1), 1);
    EXPECT_DOUBLE_EQ(w.W2.at(1, 1), 0);
    EXPECT_DOUBLE_EQ(w.W3.at(1, 1), 0);
    EXPECT_EQ(w.R2.at(1, 1), 2);
    EXPECT_EQ(w.R3.at(1, 1), 0);
    // (1,2): region 2 at F = 1, region 3 at G = 2, radius m = 2:
    // H = 1, A = 3, B = 4, off = (0.9 - 0.5 cos(1.5707963 / 2)) / 4,
    // p = (1/H, 1/A, 1/B) - off, weights p / sum(p).
    EXPECT_NEAR(w.W1.at(1, 2), 0.7357388503228837, Tol);
    EXPECT_NEAR(w.W2.at(1, 2), 0.16763694398469497, Tol);
    EXPECT_NEAR(w.W3.at(1, 2), 0.09662420569242136, Tol);
    EXPECT_EQ(w.R2.at(1, 2), 2);
    EXPECT_EQ(w.R3.at(1, 2), 3);
    // (1,3): region 1 and region 3 both at distance 1: H = 1, A = B = 3.
    EXPECT_NEAR(w.W1.at(1, 3), 0.6869562088458602, Tol);
    EXPECT_NEAR(w.W2.at(1, 3), 0.1565218955770699, Tol);
    EXPECT_NEAR(w.W3.at(1, 3), 0.15652189557706997, Tol);
    EXPECT_EQ(w.R2.at(1, 3), 1);
    EXPECT_EQ(w.R3.at(1, 3), 3);
}

TEST(GenerateRegionWeights, AFourthRegionReplacesTheFartherOne) {
    // Cell (1,4) of region 1 with a radius of 3 cells meets region 2 at
    // distance 3, region 3 at 2 and then region 4 at 1, which takes the place
    // of region 2 (the farther of the two); its own weight stays the distance
    // to region 2, so t = 3/6 + 0.5 = 1.
    Grid zones(1, 5, 1);
    Grid regions{{2, 3, 1, 1, 4}};
    Weights w(zones, regions);
    w.Generate(1, 3);
    ASSERT_EQ(w.Table.Count, 4);
    EXPECT_EQ(w.R2.at(1, 4), 4);
    EXPECT_EQ(w.R3.at(1, 4), 3);
    // F = 1, G = 2, m = 3: H = 2, A = 4, B = 5, x = 2.
    EXPECT_NEAR(w.W1.at(1, 4), 0.6266666648515153, Tol);
    EXPECT_NEAR(w.W2.at(1, 4), 0.22666666732672175, Tol);
    EXPECT_NEAR(w.W3.at(1, 4), 0.14666666782176296, Tol);
}

TEST(GenerateRegionWeights, ANonPositiveDistanceCoversTheCellItselfOnly) {
    for (double distance : {0.0, -5.0, std::numeric_limits<double>::quiet_NaN()}) {
        Grid zones(2, 3, 1);
        Grid regions{{1, 2, 1}, {2, 1, 2}};
        Weights w(zones, regions);
        w.Generate(1, &distance);
        EXPECT_EQ(distance, 0.01);
        for (int32_t i = 1; i <= 2; ++i) {
            for (int32_t j = 1; j <= 3; ++j) {
                EXPECT_EQ(w.W1.at(i, j), 1);
                EXPECT_EQ(w.W2.at(i, j), 0);
                EXPECT_EQ(w.R2.at(i, j), 0);
            }
        }
    }
    Grid zones(1, 2, 1);
    Grid regions{{1, 2}};
    Weights w(zones, regions);
    EXPECT_EQ(ThrownCode([&] { w.Generate(1, std::numeric_limits<double>::infinity()); }), 17);
    EXPECT_EQ(ThrownCode([&] { w.Generate(0, 5); }), 22);
}

TEST(GenerateRegionWeights, AHugeDistanceSearchesTheWholeGridOnly) {
    // A radius far beyond the grid is cut to the grid; every cell still finds
    // the other region and gets a weight between 0.5 and 1.
    Grid zones(3, 4, 1);
    Grid regions{{1, 1, 2, 2}, {1, 1, 2, 2}, {1, 1, 2, 2}};
    Weights w(zones, regions);
    w.Generate(1, 1e12);
    for (int32_t i = 1; i <= 3; ++i) {
        for (int32_t j = 1; j <= 4; ++j) {
            EXPECT_EQ(w.R2.at(i, j), j <= 2 ? 2 : 1);
            EXPECT_GE(w.W1.at(i, j), 0.5);
            EXPECT_LE(w.W1.at(i, j), 1);
            EXPECT_DOUBLE_EQ(w.W1.at(i, j) + w.W2.at(i, j), 1);
        }
    }
}

// A 40 x 50 basin with holes and regions in bands; weights of every valid
// cell lie in 0..1 and add up to 1, and the grids do not depend on the number
// of threads.
TEST(GenerateRegionWeights, WeightsAddUpToOneOnAnyNumberOfThreads) {
    const int32_t rows = 40, cols = 50;
    const int defaultThreads = omp_get_max_threads();
    for (int regionCount : {2, 3, 4, 6}) {
        std::vector<std::unique_ptr<Weights>> runs;
        std::vector<std::unique_ptr<Grid>> keep;
        for (int threads : {1, 4}) {
            auto zones = std::make_unique<Grid>(rows, cols, 1);
            auto regions = std::make_unique<Grid>(rows, cols);
            for (int32_t i = 1; i <= rows; ++i) {
                for (int32_t j = 1; j <= cols; ++j) {
                    regions->at(i, j) = 1 + (i / 9 + j / 11 + (i + 2 * j) / 23) % regionCount;
                    if ((i * 7 + j * 3) % 31 == 0 || (i > 30 && j < 8)) zones->at(i, j) = Nodata;
                }
            }
            auto w = std::make_unique<Weights>(*zones, *regions);
            omp_set_num_threads(threads);
            w->Generate(25, 130);  // radius 5.2 cells
            keep.push_back(std::move(zones));
            keep.push_back(std::move(regions));
            runs.push_back(std::move(w));
        }
        omp_set_num_threads(defaultThreads);
        const Weights& a = *runs[0];
        const Weights& b = *runs[1];
        ASSERT_EQ(a.Table.Count, regionCount);
        for (int32_t i = 1; i <= rows; ++i) {
            for (int32_t j = 1; j <= cols; ++j) {
                EXPECT_EQ(a.W1.at(i, j), b.W1.at(i, j));
                EXPECT_EQ(a.W2.at(i, j), b.W2.at(i, j));
                EXPECT_EQ(a.R2.at(i, j), b.R2.at(i, j));
                EXPECT_EQ(a.W3.at(i, j), b.W3.at(i, j));
                EXPECT_EQ(a.R3.at(i, j), b.R3.at(i, j));
                if (a.Zones.at(i, j) == Nodata) continue;
                double sum = a.W1.at(i, j) + a.W2.at(i, j);
                if (regionCount > 2) sum += a.W3.at(i, j);
                EXPECT_NEAR(sum, 1, 1e-12) << regionCount << " " << i << "," << j;
                EXPECT_GE(a.W1.at(i, j), 0);
                EXPECT_GE(a.W2.at(i, j), 0);
                EXPECT_GE(a.W1.at(i, j), a.W2.at(i, j));
                if (regionCount > 2) {
                    EXPECT_GE(a.W3.at(i, j), 0);
                }
            }
        }
    }
}

}  // namespace
