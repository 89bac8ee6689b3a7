// A meteorological input on the example basin's grid: the values of the
// methods against hand-computed values, post-processing, warnings,
// statistics, hydrologic response units and the point service.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>

#include "forcing/meteoint.h"
#include "forcing/meteoint_files_station.h"
#include "forcing/meteoint_fixture.h"
#include "framework/gridtable.h"

using namespace meteotest;
using testsupport::ReadFile;

namespace {

// Three stations around the grid: S1 on the lower-left corner of cell (1, 2),
// S2 and S3 below the grid's bottom edge.
const std::vector<StationPlace> Three = {{1100, 2200, 500}, {1300, 2000, 650}, {1000, 2000, 450}};
const MeteoDate Start{2020, 1, 1, 24};

// Ten daily rows with the values 10, 20, 30 on day 1 and one more on each
// following day.
std::string ThreeStations() {
    return StationText(Three, DailyRows(Start, 10, 3, [](int day, int s) { return 10.0 * s + day; }));
}

// The valid cells of the example grid.
const std::pair<int, int> ValidCells[] = {{1, 2}, {1, 3}, {1, 4}, {2, 1}, {2, 2}, {2, 3}, {2, 4}, {3, 2}, {3, 3}};

void Step(meteointerpol& input) {
    int64_t h, d, m, y;
    input.GetActualDate(&h, &d, &m, &y);
    input.InterpolateStep(h, d, m, y);
}

}  // namespace

// Inverse-distance weighting at the cells' lower-left corners. Squared
// distances from cell (2, 3) are 20000, 20000 and 50000 (weights 5:5:2),
// from cell (3, 2) 40000, 40000 and 10000 (1:1:4); S1 lies on cell (1, 2),
// which weighs it as a station 1 m away.
TEST(MeteoInput, InverseDistanceOnTheExampleGrid) {
    struct Case {
        const char* weight;
        double cell23, cell32, cell12;
    } cases[] = {
        {"2", (5 * 10 + 5 * 20 + 2 * 30) / 12.0, (10 + 20 + 4 * 30) / 6.0,
         (10 + 20 / 80000.0 + 30 / 50000.0) / (1 + 1 / 80000.0 + 1 / 50000.0)},
        {"1",
         (10 / std::sqrt(2e4) + 20 / std::sqrt(2e4) + 30 / std::sqrt(5e4)) / (2 / std::sqrt(2e4) + 1 / std::sqrt(5e4)),
         (10 + 20 + 2 * 30) / 4.0,
         (10 + 20 / std::sqrt(8e4) + 30 / std::sqrt(5e4)) / (1 + 1 / std::sqrt(8e4) + 1 / std::sqrt(5e4))},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.weight);
        InputFixture f;
        Section section;
        section.Weight = c.weight;
        f.Control(section.Text("temperature"));
        f.Input("stations.txt", ThreeStations());
        int status = -1;
        auto input = f.Make("temperature", &status);
        ASSERT_EQ(status, 0);
        Step(*input);
        double** r = input->ResultGrid;
        EXPECT_NEAR(r[2][3], c.cell23, 1e-12);
        EXPECT_NEAR(r[3][2], c.cell32, 1e-12);
        EXPECT_NEAR(r[1][2], c.cell12, 1e-12);
        for (auto [row, col] : {std::pair{1, 1}, {3, 1}, {3, 4}}) EXPECT_EQ(r[row][col], G);
        input->DeleteModule();
    }
}

// A maximum distance of 100 m leaves cells (1, 4) and (2, 3) without a
// station: they warn, in row order, and their -10000 passes the limits like
// any value. Scaling comes before the limits.
TEST(MeteoInput, SearchRadiusLimitsAndWarnings) {
    InputFixture f;
    Section section;
    section.MaxDistance = "100";
    section.Scaling = "2";
    section.Limits = "-50\n0\n50\n50\n";
    f.Control(section.Text("temperature"));
    f.Input("stations.txt", ThreeStations());
    int status = -1;
    auto input = f.Make("temperature", &status);
    ASSERT_EQ(status, 0);
    input->SetWarnings(1);
    Step(*input);
    double** r = input->ResultGrid;
    const double expected[4][5] = {{}, {0, G, 20, 20, 0}, {0, 50, 20, 0, 40}, {0, G, 50, 40, G}};
    for (int row = 1; row <= 3; ++row)
        for (int col = 1; col <= 4; ++col) EXPECT_EQ(r[row][col], expected[row][col]) << row << "," << col;

    input->SetWarnings(0);
    input->ReadNextStep();
    Step(*input);
    const auto warnings = f.Entries(2);
    ASSERT_EQ(warnings.size(), 2u);
    EXPECT_EQ(warnings[0], " at x=1300, y=2200 no station within the specified search radius!");
    EXPECT_EQ(warnings[1], " at x=1200, y=2100 no station within the specified search radius!");
}

// Nearest station moved to the cell's altitude. Cell (1, 4) is as far from
// S1 as from S2 and takes S1 (the earlier); plain Thiessen takes S2 (the
// later).
TEST(MeteoInput, ThiessenWithLapseRate) {
    struct Case {
        const char* what;
        int method;
        std::string line;
        double cell14, cell32, cell33;
    } cases[] = {
        {"one lapse rate", 12, "-0.0065 lapse rate", 10 + 110 * -0.0065, 30 + 20 * -0.0065, 20 + -70 * -0.0065},
        {"inversion at 550 m", 12, "-0.0065 550 0.002", 10 + 50 * -0.0065 + 60 * 0.002, 30 + 20 * -0.0065,
         20 + -70 * 0.002},
        {"plain Thiessen", 4, "none", 20, 30, 20},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        InputFixture f;
        Section section;
        section.Method = c.method;
        section.ThirdLine = c.line;
        f.Control(section.Text("temperature"));
        f.Input("stations.txt", ThreeStations());
        int status = -1;
        auto input = f.Make("temperature", &status);
        ASSERT_EQ(status, 0);
        Step(*input);
        EXPECT_NEAR(input->ResultGrid[1][4], c.cell14, 1e-12);
        EXPECT_NEAR(input->ResultGrid[3][2], c.cell32, 1e-12);
        EXPECT_NEAR(input->ResultGrid[3][3], c.cell33, 1e-12);
    }
}

// With all stations equal the lapse rate still applies, and with P-type a
// dry station stays dry at every altitude.
TEST(MeteoInput, LapseRateOnEqualStationsAndPType) {
    for (double value : {5.0, 0.0}) {
        SCOPED_TRACE(value);
        InputFixture f;
        Section section;
        section.Method = 12;
        section.ThirdLine = "-0.0065 550 0.002 P-type";
        f.Control(section.Text("precipitation"));
        f.Input("stations.txt", StationText(Three, DailyRows(Start, 3, 3, [&](int, int) { return value; })));
        int status = -1;
        auto input = f.Make("precipitation", &status);
        ASSERT_EQ(status, 0);
        for (int step = 0; step < 2; ++step) {
            Step(*input);
            const double cell14 = value == 0 ? 0 : 5 + 50 * -0.0065 + 60 * 0.002;
            EXPECT_NEAR(input->ResultGrid[1][4], cell14, 1e-12);
            input->ReadNextStep();
        }
    }
}

// When every valid station reports the same value, every cell gets it, also
// one beyond the search radius; station 1, invalid, is left invalid.
TEST(MeteoInput, AllEqualShortcutLeavesTheStationsAlone) {
    InputFixture f;
    Section section;
    section.MaxDistance = "100";
    f.Control(section.Text("temperature"));
    f.Input("stations.txt", StationText(Three, DailyRows(Start, 3, 3, [](int, int s) { return s == 1 ? 1e5 : 4; })));
    int status = -1;
    auto input = f.Make("temperature", &status);
    ASSERT_EQ(status, 0);
    input->ReadNextStep();  // the start row never takes the shortcut
    Step(*input);
    for (auto [row, col] : ValidCells) EXPECT_EQ(input->ResultGrid[row][col], 4) << row << "," << col;
    EXPECT_EQ(input->StationFile(0)->Values()[1], -10000);

    // Station values changed after reading (a correction) are no longer all
    // equal: the cells are interpolated again.
    input->StationFile(0)->Values()[3] = 8;
    Step(*input);
    EXPECT_EQ(input->ResultGrid[2][1], 8);
    EXPECT_LT(input->ResultGrid[2][3], -9999);
}

// Methods 2 and 3 read the regression file: three layers split at 490 and
// 600 m; method 3 blends it half and half with the inverse-distance value.
TEST(MeteoInput, RegressionFileAndBlend) {
    const std::string regression =
        "jr mo a1 b1 hl a2 b2 hu a3 b3 c0 cx cy\n"
        "2020 1 1 24 10 -0.01 490 12 -0.012 600 5 0 -10000 0 0\n"
        "2020 1 2 24 10 -0.01 490 12 -0.012 600 5 0 -10000 0 0\n";
    for (int method : {2, 3}) {
        SCOPED_TRACE(method);
        InputFixture f;
        Section section;
        section.Method = method;
        section.ThirdLine = "regression.txt";
        f.Control(section.Text("temperature"));
        f.Input("stations.txt", ThreeStations());
        f.Input("regression.txt", regression);
        int status = -1;
        auto input = f.Make("temperature", &status);
        ASSERT_EQ(status, 0);
        Step(*input);
        const double idw32 = (10 + 20 + 4 * 30) / 6.0;
        const double regression32 = 10 - 0.01 * 470;   // below the lower inversion
        const double regression12 = 12 - 0.012 * 500;  // middle layer
        const double regression14 = 5;                 // above the upper inversion
        double** r = input->ResultGrid;
        if (method == 2) {
            EXPECT_NEAR(r[3][2], regression32, 1e-12);
            EXPECT_NEAR(r[1][2], regression12, 1e-12);
            EXPECT_NEAR(r[1][4], regression14, 1e-12);
        } else {
            EXPECT_NEAR(r[3][2], 0.5 * regression32 + 0.5 * idw32, 1e-12);
        }
        input->ReadNextStep();
        EXPECT_FALSE(input->EndOfData());
    }
}

// Bilinear interpolation in a 2 x 2 station mesh reproduces a plane; method
// 6 adds the second file's gradient times the elevation.
TEST(MeteoInput, BilinearMeshAndGradients) {
    const std::vector<StationPlace> mesh = {{950, 1950, 0}, {1350, 1950, 0}, {950, 2250, 0}, {1350, 2250, 0}};
    auto plane = [](double x, double y) { return x / 100 + y / 1000; };
    InputFixture f;
    Section section;
    section.Method = 5;
    f.Control(section.Text("temperature"));
    f.Input("stations.txt", StationText(mesh, DailyRows(Start, 2, 4, [&](int, int s) {
                                            return plane(mesh[static_cast<size_t>(s - 1)].X,
                                                         mesh[static_cast<size_t>(s - 1)].Y);
                                        })));
    int status = -1;
    auto input = f.Make("temperature", &status);
    ASSERT_EQ(status, 0);
    Step(*input);
    for (auto [row, col] : ValidCells) {
        EXPECT_NEAR(input->ResultGrid[row][col], plane(f.coordX.at(row, col), f.coordY.at(row, col)), 1e-9)
            << row << "," << col;
    }

    InputFixture g;
    section.Method = 6;
    section.SecondStationLine = "gradients.txt";
    g.Control(section.Text("temperature"));
    g.Input("stations.txt", StationText(mesh, DailyRows(Start, 2, 4, [&](int, int s) {
                                            return plane(mesh[static_cast<size_t>(s - 1)].X,
                                                         mesh[static_cast<size_t>(s - 1)].Y);
                                        })));
    g.Input("gradients.txt", StationText(mesh, DailyRows(Start, 2, 4, [](int, int) { return 0.01; })));
    auto combined = g.Make("temperature", &status);
    ASSERT_EQ(status, 0);
    for (int step = 0; step < 2; ++step) {
        Step(*combined);
        for (auto [row, col] : ValidCells) {
            EXPECT_NEAR(combined->ResultGrid[row][col],
                        plane(g.coordX.at(row, col), g.coordY.at(row, col)) + 0.01 * g.elevation.at(row, col), 1e-9);
        }
        combined->ReadNextStep();
    }
}

// An anisotropy ratio below 1 creates the rotated coordinate grids under the
// input's name and weighs distances along the main axis less; teardown
// releases every grid the input stored.
TEST(MeteoInput, AnisotropicInverseDistance) {
    InputFixture f;
    Section section;
    section.Slope = "30";
    section.Ratio = "0.5";
    f.Control(section.Text("temperature"));
    f.Input("stations.txt", ThreeStations());
    int status = -1;
    auto input = f.Make("temperature", &status);
    ASSERT_EQ(status, 0);
    const int xIndex = FindGridEntry(f.table.get(), "CoordXRot_temperature", true);
    const int yIndex = FindGridEntry(f.table.get(), "CoordYRot_temperature", true);
    ASSERT_GT(xIndex, 0);
    ASSERT_GT(yIndex, 0);
    Step(*input);

    const double slope = 30 * 0.017453292519944444;
    auto rotate = [&](double x, double y) { return meteoint::RotatePoint(x, y, 1000, 2000, slope); };
    for (auto [row, col] : ValidCells) {
        const auto cell = rotate(f.coordX.at(row, col), f.coordY.at(row, col));
        EXPECT_NEAR(f.table[static_cast<size_t>(xIndex)].Data[row][col], cell.X, 1e-9);
        double sum = 0, weights = 0;
        for (size_t s = 0; s < 3; ++s) {
            const auto station = rotate(Three[s].X, Three[s].Y);
            const double dx = (station.X - cell.X) * 0.5;
            const double dy = station.Y - cell.Y;
            double d2 = dx * dx + dy * dy;
            if (d2 <= 0) d2 = 1;
            sum += (10.0 * static_cast<double>(s + 1)) / d2;
            weights += 1 / d2;
        }
        EXPECT_NEAR(input->ResultGrid[row][col], sum / weights, 1e-9) << row << "," << col;
    }
    input->DeleteModule();
    for (const char* name : {"CoordXRot_temperature", "CoordYRot_temperature", "temperature"}) {
        EXPECT_EQ(FindGridEntry(f.table.get(), name, false), 0) << name;
    }
}

// Slope and ratio by method, at construction. Methods 5 to 8 estimate them
// from the station mesh (the section's values do not matter): a 3 x 3 mesh
// closer along an axis at 20 deg is rotated by 20 deg; one closer along an
// axis at -30 or -70 deg is not rotated. Methods 1, 3, 4 and 10 to 12 check
// the section's values (code 54) and rotate when b/a < 1; the regression (2)
// and the grid list (9) use neither, so any values pass and nothing is
// rotated. On the second day every station reports 3: every cell gets 3,
// except with the regression, the grid list and the lapse rate.
TEST(MeteoInput, AnisotropyShortcutAndExemptionsByMethod) {
    struct Case {
        std::string what;
        int method;
        std::string third, slope, ratio;
        double meshAxis;  // degrees of the closer axis of a station mesh; NaN: three stations
        int code;
        double slopeDegrees, ratioAfter;
        bool rotatedGrids;
        bool allEqualGivesCommon;
    };
    const double none = std::nan("");
    const std::string regression = "regression.txt";
    const std::string gif = "8.916787e-5 0.0767528404 127 6.00e-006 0.098";
    const std::vector<Case> cases = {
        {"IDW, slope 100", 1, "none", "100", "1", none, 54, 0, 0, false, false},
        {"IDW, ratio 0", 1, "none", "0", "0", none, 54, 0, 0, false, false},
        {"IDW + regression, slope 100", 3, regression, "100", "1", none, 54, 0, 0, false, false},
        {"Thiessen, ratio 1.5", 4, "none", "0", "1.5", none, 54, 0, 0, false, false},
        {"EDR from stations, ratio 0", 10, "400 700 50 0 10", "0", "0", none, 54, 0, 0, false, false},
        {"lapse rate, slope -91", 12, "-0.0065", "-91", "1", none, 54, 0, 0, false, false},
        {"IDW, slope 30, ratio 0.5", 1, "none", "30", "0.5", none, 0, 30, 0.5, true, true},
        // Equal stations stand for the inverse-distance part; the regression still applies.
        {"IDW + regression", 3, regression, "0", "1", none, 0, 0, 1, false, false},
        {"Thiessen", 4, "none", "0", "1", none, 0, 0, 1, false, true},
        {"lapse rate", 12, "-0.0065", "0", "1", none, 0, 0, 1, false, false},
        {"regression, slope 100, ratio 0", 2, regression, "100", "0", none, 0, 100, 0, false, false},
        {"regression, slope 30, ratio 0.5", 2, regression, "30", "0.5", none, 0, 30, 0.5, false, false},
        {"grid list, slope 100, ratio 0", 9, gif, "100", "0", none, 0, 100, 0, false, false},
        {"bilinear, mesh at 20 deg", 5, "none", "100", "0", 20, 0, 20, 0.995, true, true},
        {"bilinear, mesh at 60 deg", 5, "none", "0", "1", 60, 0, -30, 0.995, true, true},
        {"bilinear, mesh at -30 deg", 5, "none", "0", "1", -30, 0, 0, 1, false, true},
        {"bilinear, mesh at -70 deg", 5, "none", "0", "1", -70, 0, 0, 1, false, true},
        {"splines, mesh at 20 deg", 7, "none", "0", "1", 20, 0, 20, 0.995, true, true},
        // Unrotated, the windows of the column walk miss the tilted columns.
        {"splines, mesh at -30 deg", 7, "none", "0", "1", -30, 70, 0, 1, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        InputFixture f;
        Section section;
        section.Method = c.method;
        section.ThirdLine = c.third;
        section.Slope = c.slope;
        section.Ratio = c.ratio;
        if (c.method == 9) section.StationLine = "list.txt";
        f.Control(section.Text("temperature"));
        // Day 2 (the second step) has every station at 3.
        auto values = [](int day, int s) { return day == 1 ? 3.0 : 10.0 * s + day; };
        if (std::isnan(c.meshAxis)) {
            f.Input("stations.txt", StationText(Three, DailyRows(Start, 3, 3, values)));
        } else {
            // Spacing 150 m along the axis, 250 m across it, around the grid.
            const double t = c.meshAxis * 3.14159265358979 / 180;
            std::vector<StationPlace> mesh;
            for (int j = 0; j < 3; ++j)
                for (int i = 0; i < 3; ++i)
                    mesh.push_back({1150 + (i - 1) * 150 * std::cos(t) - (j - 1) * 250 * std::sin(t),
                                    2150 + (i - 1) * 150 * std::sin(t) + (j - 1) * 250 * std::cos(t), 500});
            f.Input("stations.txt", StationText(mesh, DailyRows(Start, 3, 9, values)));
        }
        f.Input("regression.txt",
                "jr mo a1 b1 hl a2 b2 hu a3 b3 c0 cx cy\n2020 1 1 24 10 -0.01 490 12 -0.012 600 5 0 -10000 0 0\n"
                "2020 1 2 24 10 -0.01 490 12 -0.012 600 5 0 -10000 0 0\n");
        f.Input("a.asc", "ncols 4\nnrows 3\nxllcorner 1000\nyllcorner 2000\ncellsize 100\nnodata_value -9999\n"
                         "1 2 3 4 5 6 7 8 9 10 11 12\n");
        f.Input("list.txt", "grids\nYY MM DD HH 0\nYY MM DD HH 1000\nYY MM DD HH 2000\nname\n2020 1 1 24 a.asc\n"
                            "2020 1 2 24 a.asc\n");
        int status = -1;
        std::unique_ptr<meteointerpol> input;
        const int code = ThrownCode([&] { input = f.Make("temperature", &status); });
        EXPECT_EQ(code, c.code);
        if (c.code != 0) {
            const char* text = c.code == 70      ? "Error converting the station coordinates into a grid"
                               : c.slope == "0" ? "ratio of anisotropy has to range from +1 to >0 liegen"
                                                : "anisotropy slope has to range from -90 to +90 degree \n";
            EXPECT_NE(f.Console().find(text), std::string::npos) << f.Console();
            continue;
        }
        ASSERT_TRUE(input);
        EXPECT_NEAR(input->AnisotropySlope / 0.017453292519944444, c.slopeDegrees, 1e-6);
        EXPECT_EQ(input->AnisotropyRatio, c.ratioAfter);
        EXPECT_EQ(FindGridEntry(f.table.get(), "CoordXRot_temperature", true) > 0, c.rotatedGrids);
        EXPECT_EQ(FindGridEntry(f.table.get(), "CoordYRot_temperature", true) > 0, c.rotatedGrids);
        Step(*input);
        EXPECT_GT(input->ResultGrid[2][2], -9999);
        input->ReadNextStep();
        Step(*input);
        bool allCommon = true;
        for (auto [row, col] : ValidCells) allCommon = allCommon && input->ResultGrid[row][col] == 3;
        EXPECT_EQ(allCommon, c.allEqualGivesCommon);
    }
}

// Choosing the look-up stations writes one "." per grid row to the entry
// that announces it, and ends that entry after each station file.
TEST(MeteoInput, LookUpStationsProgress) {
    const std::vector<StationPlace> mesh = {{950, 1950, 0}, {1350, 1950, 0}, {950, 2250, 0}, {1350, 2250, 0}};
    InputFixture f;
    Section section;
    section.Method = 6;
    section.SecondStationLine = "gradients.txt";
    f.Control(section.Text("temperature"));
    f.Input("stations.txt", StationText(mesh, DailyRows(Start, 2, 4, [](int, int s) { return 1.0 * s; })));
    f.Input("gradients.txt", StationText(mesh, DailyRows(Start, 2, 4, [](int, int) { return 0.01; })));
    int status = -1;
    auto input = f.Make("temperature", &status);
    ASSERT_EQ(status, 0);
    const std::vector<std::string> entries = f.Entries(DiagDebug);
    auto at = std::find(entries.begin(), entries.end(), "choosing look-up-stations......");
    ASSERT_NE(at, entries.end()) << f.Console();
    ASSERT_NE(at + 1, entries.end());
    EXPECT_EQ(*(at + 1), "...");
}

// Scenario tables: SzenMeth 3 holds percentages as factors, SzenMeth 1 adds;
// a cell without a table row within reach keeps its value. Scenario grids:
// SzenMeth 5 multiplies, 6 adds, each with the grid of the step's month.
TEST(MeteoInput, Scenarios) {
    const std::string twelve = " 10 10 10 10 10 10 10 10 10 10 10 10\n";
    const std::string twos = " 2 2 2 2 2 2 2 2 2 2 2 2\n";
    const double idw32 = (10 + 20 + 4 * 30) / 6.0;
    struct Case {
        const char* what;
        std::string scenario;
        double cell32;
    } cases[] = {
        {"percent", "1\n3\n1\n1000 2000" + twelve, idw32 * 1.1},
        {"added", "1\n1\n1\n1000 2000" + twos, idw32 + 2},
        {"nearest of two rows", "1\n1\n2\n1000 2000" + twos + "5000 5000 9 9 9 9 9 9 9 9 9 9 9 9\n", idw32 + 2},
        {"no row within reach, factor", "1\n3\n1\n1e9 1e9" + twelve, idw32},
        {"no row within reach, added", "1\n1\n1\n1e9 1e9" + twos, idw32},
        {"empty table", "1\n0\n0\n", idw32},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        InputFixture f;
        Section section;
        section.Scenario = c.scenario;
        f.Control(section.Text("temperature") + "[next]\n");
        f.Input("stations.txt", ThreeStations());
        int status = -1;
        auto input = f.Make("temperature", &status);
        ASSERT_EQ(status, 0);
        Step(*input);
        EXPECT_NEAR(input->ResultGrid[3][2], c.cell32, 1e-12);
        EXPECT_NE(f.Console().find("temperature 1.1.2020 24. h using scenarios!"), std::string::npos);
    }

    for (int method : {5, 6}) {
        SCOPED_TRACE(method);
        InputFixture f;
        f.settings.StartMonth = 1, f.settings.StartDay = 31;
        f.settings.EndMonth = 2, f.settings.EndDay = 1;
        std::string names;
        for (int month = 1; month <= 12; ++month) {
            const std::string name = "month" + std::to_string(month) + ".asc";
            names += name + "\n";
            std::string grid = "ncols 4\nnrows 3\nxllcorner 1000\nyllcorner 2000\ncellsize 100\nnodata_value -9999\n";
            for (int k = 0; k < 12; ++k) grid += std::to_string(month + 1) + " ";
            f.Input(name, grid + "\n");
        }
        Section section;
        section.Scenario = "1\n" + std::to_string(method) + "\n" + names;
        f.Control(section.Text("temperature"));
        f.Input("stations.txt",
                StationText(Three, DailyRows({2020, 1, 31, 24}, 2, 3, [](int, int s) { return 10.0 * s; })));
        int status = -1;
        auto input = f.Make("temperature", &status);
        ASSERT_EQ(status, 0);
        EXPECT_GT(FindGridEntry(f.table.get(), "scenariogrid_temperature", true), 0);
        for (double change : {2.0, 3.0}) {
            Step(*input);
            EXPECT_NEAR(input->ResultGrid[3][2], method == 5 ? idw32 * change : idw32 + change, 1e-12);
            input->ReadNextStep();
        }
        input->DeleteModule();
        EXPECT_EQ(FindGridEntry(f.table.get(), "scenariogrid_temperature", false), 0);
    }
}

// Method 9 reads the grid of every row of its list; "-9999" reads the last
// valid grid again. A scaling grid multiplies every cell.
TEST(MeteoInput, GridListAndScalingGrid) {
    InputFixture f;
    auto grid = [](double v) {
        std::string text = "ncols 4\nnrows 3\nxllcorner 1000\nyllcorner 2000\ncellsize 100\nnodata_value -9999\n";
        for (int k = 0; k < 12; ++k) text += std::to_string(v + k) + " ";
        return text + "\n";
    };
    f.Input("a.asc", grid(100));
    f.Input("b.asc", grid(200));
    f.Input("list.txt",
            "grids\nYY MM DD HH 0\nYY MM DD HH 1000\nYY MM DD HH 2000\nname\n2020 1 1 24 a.asc\n2020 1 2 24 -9999\n"
            "2020 1 3 24 b.asc\n");
    Section section;
    section.Method = 9;
    section.StationLine = "list.txt";
    section.ThirdLine = "8.916787e-5 0.0767528404 127 6.00e-006 0.098";
    f.Control(section.Text("temperature"));
    setuptest::Grid scaling(3, 4, 0.5);
    f.AddGrid("ScalingGrid_temperature", scaling);
    int status = -1;
    auto input = f.Make("temperature", &status);
    ASSERT_EQ(status, 0);
    for (double base : {100.0, 100.0, 200.0}) {
        // The point service takes the grid of the step at the point's cell
        // (row 2, column 2), before the step and after it alike, without
        // the scaling grid, and the grid as read where the zones end.
        EXPECT_EQ(input->InterpolatePoint(nullptr, 1150, 2150, 500), base + 5);
        EXPECT_EQ(input->InterpolatePoint(nullptr, 1050, 2250, 500), base);
        Step(*input);
        EXPECT_EQ(input->ResultGrid[2][3], (base + 6) * 0.5);
        EXPECT_EQ(input->ResultGrid[1][1], G);
        EXPECT_EQ(input->InterpolatePoint(nullptr, 1150, 2150, 500), base + 5);
        input->ReadNextStep();
    }

    InputFixture g;
    g.Input("list.txt", "grids\nYY MM DD HH 0\nYY MM DD HH 1000\nYY MM DD HH 2000\nname\n2020 1 1 24 -9999\n");
    g.Control(section.Text("temperature"));
    auto noGrid = g.Make("temperature", &status);
    ASSERT_EQ(status, 0);
    EXPECT_EQ(ThrownCode([&] { Step(*noGrid); }), 1050);
}

// With hydrologic response units only the master cells are interpolated;
// every other cell of a unit takes its master's value, also in the
// statistics.
TEST(MeteoInput, HydrologicResponseUnitsCopyTheirMaster) {
    InputFixture f;
    setuptest::Grid units{{G, 1, 1, 2}, {1, 1, 2, 2}, {G, 1, 2, G}};
    setuptest::Grid masters{{G, 1, G, 2}, {G, G, G, G}, {G, G, G, G}};
    f.AddGrid("HydrologicResponseUnits", units);
    f.AddGrid("MasterHydrologicResponseUnits", masters);
    Section section;
    section.StatisticsLine = "units.sta 2001";
    f.Control(section.Text("temperature"));
    f.Input("stations.txt", ThreeStations());
    int status = -1;
    auto input = f.Make("temperature", &status);
    ASSERT_EQ(status, 0);
    Step(*input);
    double** r = input->ResultGrid;
    const double master1 = (10 + 20 / 80000.0 + 30 / 50000.0) / (1 + 1 / 80000.0 + 1 / 50000.0);
    const double master2 = r[1][4];
    EXPECT_NE(master1, master2);
    for (auto [row, col] : ValidCells) {
        const double expected = units.at(row, col) == 1 ? master1 : master2;
        EXPECT_EQ(r[row][col], expected) << row << "," << col;
    }
    input->DeleteModule();
    const auto rows = StatisticsRows(f.dir.file("out/units.sta"));
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_NEAR(rows[0][4], master1, 1e-5);
    EXPECT_NEAR(rows[0][5], master2, 1e-5);
}

// The statistics hold the zone means of the result grid in every step, under
// the input's description line; the result grid goes out by its write code.
TEST(MeteoInput, StatisticsAndResultGrid) {
    InputFixture f;
    Section section;
    section.StatisticsLine = "temperature.sta 2001";
    section.WriteCode = 2;
    f.Control(section.Text("temperature"));
    f.Input("stations.txt", ThreeStations());
    int status = -1;
    auto input = f.Make("temperature", &status);
    ASSERT_EQ(status, 0);
    std::vector<std::vector<double>> grids;
    while (true) {
        Step(*input);
        input->WriteResultGrid();
        double zone1 = 0, zone2 = 0;
        for (auto [row, col] : ValidCells) (f.zone.at(row, col) == 1 ? zone1 : zone2) += input->ResultGrid[row][col];
        grids.push_back({zone1 / 5, zone2 / 4, (zone1 + zone2) / 9});
        input->ReadNextStep();
        if (input->EndOfData()) break;
    }
    input->FlushStatistics();
    input->DeleteModule();

    const std::string text = ReadFile(f.dir.file("out/temperature.sta"));
    EXPECT_NE(text.find("temperature interpolated with idw from " + f.dir.file("in/stations.txt") +
                        ", zones from zones.asc, weighting =  2.0,  maxentf =  1000000, control file " +
                        f.dir.file("model.ctl") + ", additional columns: 0_submodel:temperature"),
              std::string::npos);
    const auto rows = StatisticsRows(f.dir.file("out/temperature.sta"));
    ASSERT_EQ(rows.size(), 10u);
    for (size_t k = 0; k < rows.size(); ++k) {
        ASSERT_EQ(rows[k].size(), 7u);
        EXPECT_EQ(rows[k][2], static_cast<double>(k + 1));
        for (int z = 0; z < 3; ++z)
            EXPECT_NEAR(rows[k][4 + static_cast<size_t>(z)], grids[k][static_cast<size_t>(z)], 1e-5);
    }
    const auto written = ReadTextGrid(f.dir.file("out/result_20200103.024"));
    EXPECT_NEAR(written.at(3, 2), (12 + 22 + 4 * 32) / 6.0, 1e-12);
    EXPECT_EQ(written.at(1, 1), G);
}

// The point service interpolates at any point with scaling and limits; a
// point without anything to interpolate from gets the invalid value as it is.
TEST(MeteoInput, PointService) {
    InputFixture f;
    Section section;
    section.Scaling = "2";
    section.Limits = "0\n0\n40\n40\n";
    section.MaxDistance = "300";
    f.Control(section.Text("temperature"));
    f.Input("stations.txt", ThreeStations());
    int status = -1;
    auto input = f.Make("temperature", &status);
    ASSERT_EQ(status, 0);
    EXPECT_NEAR(input->InterpolatePoint(nullptr, 1200, 2100, 500), 35, 1e-12);
    EXPECT_EQ(input->InterpolatePoint(nullptr, 1100, 2000, 500), 40);  // 25 * 2 above the upper limit
    EXPECT_EQ(input->InterpolatePoint(nullptr, 1e6, 1e6, 500), -10000);
}
