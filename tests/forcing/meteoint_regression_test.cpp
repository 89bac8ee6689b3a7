// The elevation-dependent regression fitted from station data (methods 10 and
// 11): least-squares kernels against hand-computed fits, whole fits of
// constructed station sets with known layers, degenerate station sets, and a
// run of the real executable.

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "forcing/meteoint_fixture.h"
#include "forcing/meteoint_regression.h"
#include "support/model_fixture.h"
#include "support/test_support.h"

using namespace meteoint;

namespace {

constexpr double N = 9999;
constexpr double Missing = -N - 1;

// Stations as plain lists; the kernels read 1-based arrays.
struct Stations {
    std::vector<double> v{0}, z{0}, x{0}, y{0};
    Stations& add(double altitude, double value, double px = 0, double py = 0) {
        z.push_back(altitude);
        v.push_back(value);
        x.push_back(px);
        y.push_back(py);
        return *this;
    }
    StationFile file() const {
        StationFile f;
        f.Value = v;
        f.Altitude = z;
        f.X = x;
        f.Y = y;
        return f;
    }
};

// Spread positions that lie on no straight line, station k.
double PX(int k) { return 1000.0 * (k % 3) + 37.0 * k; }
double PY(int k) { return 500.0 * (k % 4) + 11.0 * k * k; }

// Stations at `altitudes` with values of `value(z)`, at spread positions.
template <typename F>
Stations Profile(const std::vector<double>& altitudes, F value) {
    Stations s;
    int k = 0;
    for (double z : altitudes) {
        s.add(z, value(z), PX(k), PY(k));
        ++k;
    }
    return s;
}

RegressionFitSettings Settings(double zl, double zu, double tol, int overlap, double range, double gu = -9999) {
    return RegressionFitSettings{zl, zu, tol, overlap, range, gu};
}

void ExpectLayers(const RegressionSet& s, const RegressionSet& e, double tol = 1e-9) {
    EXPECT_NEAR(s.A1, e.A1, tol);
    EXPECT_NEAR(s.B1, e.B1, tol);
    EXPECT_NEAR(s.Hl, e.Hl, 1e-6);
    EXPECT_NEAR(s.A2, e.A2, tol);
    EXPECT_NEAR(s.B2, e.B2, tol);
    EXPECT_NEAR(s.Hu, e.Hu, 1e-6);
    EXPECT_NEAR(s.A3, e.A3, tol);
    EXPECT_NEAR(s.B3, e.B3, tol);
}

}  // namespace

// Least squares of v on z: (0,1), (1,3), (2,4) give b = 1.5, a = 7/6;
// stations exactly on a line give that line; one altitude gives none.
TEST(ElevationRegressionKernels, AltitudeLine) {
    AltitudeGroup g;
    g.Add(0, 1);
    g.Add(1, 3);
    g.Add(2, 4);
    auto line = FitAltitudeLine(g);
    ASSERT_TRUE(line.has_value());
    EXPECT_NEAR(line->B, 1.5, 1e-12);
    EXPECT_NEAR(line->A, 7.0 / 6.0, 1e-12);
    EXPECT_EQ(g.MinZ, 0);
    EXPECT_EQ(g.MaxZ, 2);

    AltitudeGroup exact;
    for (double z : {350.0, 1210.0, 2890.0, 777.0}) exact.Add(z, 12.5 - 0.0065 * z);
    line = FitAltitudeLine(exact);
    ASSERT_TRUE(line.has_value());
    EXPECT_NEAR(line->A, 12.5, 1e-9);
    EXPECT_NEAR(line->B, -0.0065, 1e-12);

    AltitudeGroup flat;
    for (double v : {1.0, 2.0, 6.0}) flat.Add(333.3, v);
    EXPECT_TRUE(flat.AltitudesCoincide());
    EXPECT_FALSE(FitAltitudeLine(flat).has_value());
    AltitudeGroup one;
    one.Add(100, 1);
    EXPECT_FALSE(FitAltitudeLine(one).has_value());

    // The mean point of a group; the upper group keeps it as its top.
    CollapseToMeanPoint(flat, false);
    EXPECT_EQ(flat.Count, 1);
    EXPECT_NEAR(flat.SumV, 3, 1e-12);
    EXPECT_NEAR(flat.MaxZ, 333.3, 1e-9);
}

// The line through a point meeting another line at an altitude; a point at
// that altitude takes the other line's gradient.
TEST(ElevationRegressionKernels, LineMeetingAt) {
    const AltitudeLine upper{20, -0.008};
    const AltitudeLine l = LineMeetingAt(975, 8.6, upper, 1000);
    EXPECT_NEAR(l.B, 0.136, 1e-12);
    EXPECT_NEAR(l.A, -124, 1e-9);
    EXPECT_NEAR(l.At(1000), upper.At(1000), 1e-9);
    const AltitudeLine at = LineMeetingAt(1000, 10.8, upper, 1000);
    EXPECT_EQ(at.B, -0.008);
    EXPECT_NEAR(at.At(1000), 10.8, 1e-12);
}

// r = 1 + 2x + 3y on a unit square, exactly and with a disturbance that is
// orthogonal to the plane (the xy term) so the least-squares plane is the
// same; large map coordinates; collinear or too few points give none.
TEST(ElevationRegressionKernels, TrendPlane) {
    struct Case {
        const char* what;
        std::vector<double> x, y, r;
        bool fits;
        double c0, cx, cy, tol;
    };
    const std::vector<double> sx{0, 1, 0, 1}, sy{0, 0, 1, 1};
    std::vector<double> exact, disturbed, far, fx, fy;
    const double e[] = {0.5, -0.5, -0.5, 0.5};
    for (int k = 0; k < 4; ++k) {
        exact.push_back(1 + 2 * sx[k] + 3 * sy[k]);
        disturbed.push_back(exact.back() + e[k]);
        fx.push_back(5.2e6 + 800 * sx[k]);
        fy.push_back(6.1e6 + 600 * sy[k]);
        far.push_back(4 + 1e-3 * (fx.back() - 5.2e6) - 2e-3 * (fy.back() - 6.1e6));
    }
    const Case cases[] = {
        {"exact", sx, sy, exact, true, 1, 2, 3, 1e-12},
        {"orthogonal disturbance", sx, sy, disturbed, true, 1, 2, 3, 1e-12},
        {"map coordinates", fx, fy, far, true, 4 - 1e-3 * 5.2e6 + 2e-3 * 6.1e6, 1e-3, -2e-3, 1e-7},
        {"collinear", {0, 1, 2, 3}, {0, 2, 4, 6}, {1, 2, 3, 4}, false, 0, 0, 0, 0},
        {"one x", {5, 5, 5, 5}, {0, 1, 2, 3}, {1, 2, 3, 4}, false, 0, 0, 0, 0},
        {"three points", {0, 1, 0}, {0, 0, 1}, {1, 3, 4}, false, 0, 0, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const auto plane = FitTrendPlane(c.x, c.y, c.r);
        ASSERT_EQ(plane.has_value(), c.fits);
        if (!plane) continue;
        EXPECT_NEAR(plane->Cx, c.cx, 1e-12);
        EXPECT_NEAR(plane->Cy, c.cy, 1e-12);
        EXPECT_NEAR(plane->C0, c.c0, c.tol);
    }
}

// Steps of the grouping: a station at Zl is lower but not the highest
// below; the overlap puts the nearest stations on either side into both
// groups; a lone station on one side draws its neighbour across.
TEST(ElevationRegressionKernels, Groups) {
    Stations s;
    for (double z : {200.0, 600.0, 1000.0, 1400.0, 2000.0}) s.add(z, 1);
    auto g = GroupStations(s.file(), Settings(1000, 2000, 0, 1, 0), N);
    EXPECT_EQ(g.Lower.Count, 4);  // 200, 600, 1000 and 1400
    EXPECT_EQ(g.Upper.Count, 3);  // 1400, 2000 and 600
    EXPECT_EQ(g.Lower.MaxZ, 1400);
    EXPECT_EQ(g.Upper.MinZ, 600);
    g = GroupStations(s.file(), Settings(1000, 2000, 0, 0, 0), N);
    EXPECT_EQ(g.Lower.Count, 3);
    EXPECT_EQ(g.Upper.Count, 2);

    Stations lone;
    lone.add(500, 1).add(1200, 2).add(1500, 3).add(1800, 4);
    g = GroupStations(lone.file(), Settings(1000, 2000, 0, 0, 0), N);
    EXPECT_EQ(g.Lower.Count, 2);  // 500 and 1200
    EXPECT_EQ(g.Upper.Count, 3);

    // Values at or below -N take no part.
    Stations invalid;
    invalid.add(500, -N).add(600, -N - 1).add(1500, 3).add(700, NAN);
    g = GroupStations(invalid.file(), Settings(1000, 2000, 0, 0, 0), N);
    EXPECT_EQ(g.Lower.Count, 0);
    EXPECT_EQ(g.Upper.Count, 1);
}

// Whole fits of constructed stations: the layers the data were made of come
// back (Zl 1000, Zu 2000, tolerance 50, cluster range 10 unless said).
TEST(ElevationRegressionFit, ConstructedLayers) {
    auto lowerInversion = [](double z) { return -5 + 0.01 * z; };
    auto upperLapse = [](double z) { return 17.5 - 0.005 * z; };
    auto lowerFlat = [](double z) { return 5 - 0.002 * z; };
    auto upperSteep = [](double z) { return 20 - 0.008 * z; };
    struct Case {
        const char* what;
        Stations stations;
        RegressionFitSettings settings;
        RegressionSet expected;  // the layers
        bool flatPlane = false;  // every station on the layers: the plane is flat at a1
    };
    Stations inversion = Profile({200, 600, 1000, 1600, 2000, 2500}, [&](double z) {
        return z <= 1000 ? lowerInversion(z) : upperLapse(z);
    });
    Stations threeLayers = Profile({100, 500, 900, 2100, 2600, 3000}, [&](double z) {
        return z <= 1000 ? lowerFlat(z) : upperSteep(z);
    });
    Stations oneLower = Profile({850, 1100, 1600, 2200}, [&](double z) { return z < 1000 ? 6.0 : upperSteep(z); });
    const Case cases[] = {
        {"one line below Zl", Profile({200, 500, 800}, [](double z) { return 10 - 0.006 * z; }),
         Settings(1000, 2000, 50, 0, 10), {10, 0, 0, 10, -0.006, 1000, 10, -0.006, 0, 0, 0}},
        // The lines meet at 1500, inside [950, 2050]: two layers.
        {"inversion recovered", inversion, Settings(1000, 2000, 50, 0, 10),
         {-5, 0, 0, -5, 0.01, 1500, 17.5, -0.005, 0, 0, 0}, true},
        // The lines meet at 2500, outside: the middle layer joins them at Zl and Zu.
        {"three layers", threeLayers, Settings(1000, 2000, 50, 0, 10),
         {5, -0.002, 1000, 2, 0.001, 2000, 20, -0.008, 0, 0, 0}, true},
        {"three layers, fixed lapse rate above", threeLayers, Settings(1000, 2000, 50, 0, 10, -0.0065),
         {5, -0.002, 1000, 2, 0.001, 2000, 17, -0.0065, 0, 0, 0}},
        // 850 and 1100 are within 300 m: their mean point (975, 8.6) meets the
        // upper line at Zl.
        {"one lower point meets the upper line at Zl", oneLower, Settings(1000, 2000, 50, 0, 300),
         {-124, 0, 0, -124, 0.136, 1000, 20, -0.008, 0, 0, 0}},
        {"two stations far apart", Profile({400, 1600}, [](double z) { return 3 + 0.002 * z; }),
         Settings(1000, 2000, 50, 0, 10), {3, 0, 0, 3, 0.002, 1000, 3, 0.002, 0, 0, 0}},
        {"two stations within the cluster range", Profile({950, 1040}, [](double z) { return z < 1000 ? 4 : 8; }),
         Settings(1000, 2000, 50, 0, 100), {6, 0, 0, 6, 0, 1000, 6, 0, 0, 0, 0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const RegressionSet s = FitElevationRegression(c.stations.file(), c.settings, N);
        ExpectLayers(s, c.expected);
        // Stations on the layers leave the same intercept everywhere: a flat
        // plane at a1; none with three or fewer stations.
        if (c.flatPlane) {
            EXPECT_NEAR(s.C0, s.A1, 1e-6);
            EXPECT_NEAR(s.Cx, 0, 1e-9);
            EXPECT_NEAR(s.Cy, 0, 1e-9);
        } else if (c.stations.v.size() <= 4) {
            EXPECT_EQ(s.C0, Missing);
        }
    }
}

// A horizontal trend that the altitude line cannot explain ends up in the
// plane, and the fitted set reproduces every station.
TEST(ElevationRegressionFit, TrendPlaneOfTheIntercept) {
    Stations s;
    const double px[] = {0, 1000, 1000, 0}, py[] = {0, 1000, 0, 1000}, pz[] = {200, 200, 800, 800};
    for (int k = 0; k < 4; ++k) s.add(pz[k], 10 - 0.006 * pz[k] + 0.001 * px[k] + 0.002 * py[k], px[k], py[k]);
    const RegressionSet set = FitElevationRegression(s.file(), Settings(1000, 2000, 50, 0, 10), N);
    ExpectLayers(set, {11.5, 0, 0, 11.5, -0.006, 1000, 11.5, -0.006, 0, 0, 0});
    EXPECT_NEAR(set.C0, 10, 1e-9);
    EXPECT_NEAR(set.Cx, 0.001, 1e-12);
    EXPECT_NEAR(set.Cy, 0.002, 1e-12);
    for (int k = 1; k <= 4; ++k) EXPECT_NEAR(RegressionValue(set, N, -9999, s.x[k], s.y[k], s.z[k]), s.v[k], 1e-9);

    // The same stations on one straight line in the map: no plane.
    Stations line;
    for (int k = 0; k < 4; ++k) line.add(pz[k], s.v[k + 1], 100.0 * k, 50.0 * k);
    EXPECT_EQ(FitElevationRegression(line.file(), Settings(1000, 2000, 50, 0, 10), N).C0, Missing);
}

// Degenerate station sets give a finite set or a missing one, never NaN,
// infinity or a missing coefficient used as a value.
TEST(ElevationRegressionFit, DegenerateStationSets) {
    struct Case {
        const char* what;
        Stations stations;
        RegressionFitSettings settings;
        bool missing;
        std::vector<std::pair<double, double>> values;  // altitude, value without a plane
    };
    Stations none;
    none.add(500, -N).add(1500, -10000);
    Stations oneAbove;
    oneAbove.add(1500, 7);
    Stations sameAltitudeUpper = Profile({200, 500, 800}, [](double z) { return 10 - 0.006 * z; });
    sameAltitudeUpper.add(1500, 4, 10, 20).add(1500, 6, 30, 5);
    Stations allAtOneAltitude;
    allAtOneAltitude.add(700, 1).add(700, 2).add(700, 6);
    Stations lowerMeanAtZl;
    lowerMeanAtZl.add(950, 10).add(1050, 11.6).add(1500, 8).add(2000, 4);
    Stations sameAltitudeOverlap;
    sameAltitudeOverlap.add(1200, 3).add(1200, 5).add(1800, 1);
    const Case cases[] = {
        {"no valid station", none, Settings(1000, 2000, 50, 0, 10), true, {}},
        // One station above Zl with the overlap on: constant at its value.
        {"one station, overlap", oneAbove, Settings(1000, 2000, 50, 1, 10), false, {{0, 7}, {3000, 7}}},
        {"one station", oneAbove, Settings(1000, 2000, 50, 0, 10), false, {{0, 7}, {3000, 7}}},
        // Two upper stations at one altitude with cluster range 0 act as one
        // point (1500, 5), whose line meets the lower one at Zl.
        {"upper group at one altitude", sameAltitudeUpper, Settings(1000, 2000, 50, 0, 0), false,
         {{500, 7}, {1000, 4}, {1500, 5}, {2000, 6}}},
        {"all stations at one altitude", allAtOneAltitude, Settings(1000, 2000, 50, 0, 0), false,
         {{0, 3}, {700, 3}, {2500, 3}}},
        // The lower group's mean point lies at Zl: it takes the upper gradient.
        {"lower mean point at Zl", lowerMeanAtZl, Settings(1000, 2000, 50, 0, 150), false,
         {{1000, 10.8}, {1500, 8}}},
        // Overlap into an empty lower group of two stations at one altitude.
        {"overlap at one altitude", sameAltitudeOverlap, Settings(1000, 2000, 50, 1, 0), false,
         {{1200, 4}, {1800, 1}}},
        // Zl = Zu and the lines meet far away: no middle layer to divide by.
        {"equal inversion heights",
         Profile({100, 500, 900, 2100, 2600, 3000}, [](double z) { return z <= 1000 ? 5 - 0.002 * z : 20 - 0.008 * z; }),
         Settings(1000, 1000, 50, 0, 10), false, {{500, 4}, {1000, 3}, {2600, -0.8}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const RegressionSet s = FitElevationRegression(c.stations.file(), c.settings, N);
        for (double v : {s.A1, s.B1, s.Hl, s.A2, s.B2, s.Hu, s.A3, s.B3, s.C0, s.Cx, s.Cy}) {
            EXPECT_TRUE(std::isfinite(v));
        }
        EXPECT_EQ(s.A1 < -N, c.missing);
        if (c.missing) {
            EXPECT_EQ(RegressionValue(s, N, -9999, 0, 0, 500), Missing);
        }
        RegressionSet layers = s;
        layers.C0 = Missing;
        for (auto [z, v] : c.values) EXPECT_NEAR(RegressionValue(layers, N, -9999, 0, 0, z), v, 1e-9) << z;
    }
}

namespace {

using meteotest::Section;
using meteotest::StationPlace;
using testsupport::ModelFiles;
using testsupport::TempDir;

// Two lines meeting at 600 m inside [530, 720]: 2 + 0.01 z below,
// 20 - 0.02 z above, shifted by the day index.
double Layers(double z) { return z <= 600 ? 2 + 0.01 * z : 20 - 0.02 * z; }

const std::vector<StationPlace> Places = {{1000, 2000, 300}, {1400, 2000, 450}, {1000, 2300, 520},
                                          {1400, 2300, 700}, {1200, 2150, 800}, {1100, 2050, 1000}};

struct RunResult {
    int exitCode;
    std::string output;
    meteotest::TextGrid grid;
};

RunResult RunMethod(const Section& section, const std::string& stations) {
    TempDir dir;
    ModelFiles files;
    files.MeteoInputs = "[meteo_data_count]\n1\n[meteo_names]\ntemperature\n";
    files.Extra = section.Text("temperature");
    const auto control = files.Write(dir);
    testsupport::WriteFile(dir.file("input/temperature.txt"), stations);
    const auto run = testsupport::RunRuvex(dir.path(), {control});
    RunResult result{run.exitCode, run.output, {}};
    if (run.exitCode == 0) result.grid = meteotest::ReadTextGrid(dir.file("output/result.asc"));
    return result;
}

}  // namespace

// Method 10 in a run of the executable: every cell of the last day holds the
// fitted layers at its elevation.
TEST(ElevationRegressionRun, MethodTenWritesTheLayers) {
    Section section;
    section.Method = 10;
    section.StationLine = "temperature.txt";
    section.ThirdLine = "550 700 20 0 10";
    section.WriteCode = 3;
    const auto rows = meteotest::DailyRows({2020, 1, 1, 24}, 12, 6, [](int day, int s) {
        return Layers(Places[static_cast<size_t>(s - 1)].Z) + day;
    });
    const RunResult run = RunMethod(section, meteotest::StationText(Places, rows));
    ASSERT_EQ(run.exitCode, 0) << run.output;
    const double elevation[3][4] = {{-9999, 500, 520, 610}, {480, 505, 600, 640}, {-9999, 470, 580, -9999}};
    for (int r = 1; r <= 3; ++r) {
        for (int c = 1; c <= 4; ++c) {
            const double z = elevation[r - 1][c - 1];
            if (z == -9999) continue;
            EXPECT_NEAR(run.grid.at(r, c), Layers(z) + 9, 1e-9) << r << " " << c;
        }
    }
}

// Degenerate stations end the run cleanly: all at one altitude with cluster
// range 0 give the mean up to Zl (method 10), and a method-11 input whose
// stations are all missing on every day still steps to the end.
TEST(ElevationRegressionRun, DegenerateStationsEndCleanly) {
    const std::vector<StationPlace> flat = {{1000, 2000, 500}, {1400, 2000, 500}, {1000, 2300, 500}};
    Section section;
    section.Method = 10;
    section.StationLine = "temperature.txt";
    section.ThirdLine = "550 700 20 1 0 -0.0065";
    section.WriteCode = 3;
    auto rows = meteotest::DailyRows({2020, 1, 1, 24}, 12, 3, [](int, int s) { return 2.0 * s; });
    RunResult run = RunMethod(section, meteotest::StationText(flat, rows));
    ASSERT_EQ(run.exitCode, 0) << run.output;
    EXPECT_NEAR(run.grid.at(2, 2), 4, 1e-9);
    // Above Zl the fixed lapse rate applies from the value at Zl.
    EXPECT_NEAR(run.grid.at(2, 4), 4 - 0.0065 * (640 - 550), 1e-9);

    section.Method = 11;
    rows = meteotest::DailyRows({2020, 1, 1, 24}, 12, 3, [](int, int) { return -10000.0; });
    run = RunMethod(section, meteotest::StationText(flat, rows));
    EXPECT_EQ(run.exitCode, 0) << run.output;
}
