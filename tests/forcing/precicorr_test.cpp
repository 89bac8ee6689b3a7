// Undercatch correction of precipitation: the kernels against hand values,
// the correction of station values, regression sets and grids on real
// inputs, and a whole run in which the corrected station values reach the
// precipitation grid.

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "forcing/meteoint.h"
#include "forcing/meteoint_files_station.h"
#include "forcing/meteoint_fixture.h"
#include "forcing/meteoint_precicorr.h"
#include "forcing/meteoint_precicorr_physics.h"
#include "support/model_fixture.h"
#include "support/test_support.h"

using meteoint::RegressionSet;
using meteoint::UndercatchParameters;
using meteotest::DailyRows;
using meteotest::G;
using meteotest::InputFixture;
using meteotest::Section;
using meteotest::StationPlace;
using meteotest::StationText;

namespace {

const double NaN = std::numeric_limits<double>::quiet_NaN();
// T0 = 0, rain 1.1 + 0.01 u, snow 1.3 + 0.02 u.
const UndercatchParameters Gauge{0, 1.1, 0.01, 1.3, 0.02};
const char* const GaugeSection = "[precipitation_correction]\n1\n0\n1.1\n0.01\n1.3\n0.02\n";

}  // namespace

TEST(PrecipitationCorrectionKernels, FactorRainSnowAndMissingValues) {
    struct Case {
        const char* what;
        double t, u, factor;
    };
    const Case cases[] = {
        {"rain just above the threshold", 0.5, 5, 1.1 + 0.05},
        {"the threshold itself is snow", 0, 5, 1.3 + 0.1},
        {"cold and calm: the snow constant", -3, 0, 1.3},
        {"warm and calm: the rain constant", 12, 0, 1.1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_DOUBLE_EQ(meteoint::UndercatchFactor(Gauge, c.t, c.u), c.factor);
    }
    // A missing temperature is rain, a missing wind speed calm.
    EXPECT_EQ(meteoint::UsableTemperature(-10000, 9999, 0), 1);
    EXPECT_EQ(meteoint::UsableTemperature(NaN, 9999, -2), -1);
    EXPECT_EQ(meteoint::UsableTemperature(-9999, 9999, 0), -9999);
    EXPECT_EQ(meteoint::UsableTemperature(-4.5, 9999, 0), -4.5);
    EXPECT_EQ(meteoint::UsableWindSpeed(-10000, 9999), 0);
    EXPECT_EQ(meteoint::UsableWindSpeed(NaN, 9999), 0);
    EXPECT_EQ(meteoint::UsableWindSpeed(3.5, 9999), 3.5);
    // Only valid values (v >= -N) change.
    EXPECT_DOUBLE_EQ(meteoint::CorrectedPrecipitation(10, 9999, 1.12), 11.2);
    EXPECT_EQ(meteoint::CorrectedPrecipitation(0, 9999, 1.4), 0);
    EXPECT_EQ(meteoint::CorrectedPrecipitation(-9999, 9999, 2), -19998);
    EXPECT_EQ(meteoint::CorrectedPrecipitation(-10000, 9999, 2), -10000);
    EXPECT_TRUE(std::isnan(meteoint::CorrectedPrecipitation(NaN, 9999, 2)));
}

TEST(PrecipitationCorrectionKernels, SamplesAndLineFit) {
    EXPECT_EQ(meteoint::SampleAltitudes(0, 100, 1000),
              (std::vector<double>{0, 100, 200, 300, 400, 500, 600, 700, 800, 900, 1000}));
    EXPECT_EQ(meteoint::SampleAltitudes(1000, 250, 1600), (std::vector<double>{1000, 1250, 1500}));
    EXPECT_TRUE(meteoint::SampleAltitudes(0, 0, 0).empty());  // a layer of no thickness
    EXPECT_TRUE(meteoint::SampleAltitudes(0, -10, -100).empty());
    EXPECT_TRUE(meteoint::SampleAltitudes(0, NaN, 100).empty());
    // A step too small to move z, or one that would take forever, ends.
    EXPECT_EQ(meteoint::SampleAltitudes(1e20, 1, 2e20).size(), 1u);
    EXPECT_EQ(meteoint::SampleAltitudes(0, 1e-9, 1).size(), meteoint::MaxLayerSamples);

    // w = 3 + 0.5 z exactly through three points.
    const std::vector<double> z{0, 10, 20}, w{3, 8, 13};
    const meteoint::LineFit fit = meteoint::FitLine(z, w);
    ASSERT_TRUE(fit.Fitted);
    EXPECT_DOUBLE_EQ(fit.Intercept, 3);
    EXPECT_DOUBLE_EQ(fit.Gradient, 0.5);
    // Scattered: z 0, 1, 2 and w 0, 2, 1 give B = (3*4 - 3*3)/(3*5 - 9) = 0.5, A = (3 - 1.5)/3 = 0.5.
    const meteoint::LineFit scattered = meteoint::FitLine(std::vector<double>{0, 1, 2}, std::vector<double>{0, 2, 1});
    EXPECT_DOUBLE_EQ(scattered.Gradient, 0.5);
    EXPECT_DOUBLE_EQ(scattered.Intercept, 0.5);
    EXPECT_FALSE(meteoint::FitLine(std::vector<double>{}, std::vector<double>{}).Fitted);
    EXPECT_FALSE(meteoint::FitLine(std::vector<double>{5}, std::vector<double>{1}).Fitted);
    EXPECT_FALSE(meteoint::FitLine(std::vector<double>{5, 5}, std::vector<double>{1, 2}).Fitted);
}

// A continuous set: 1 + 0.01 z below 200 m, 2 + 0.005 z up to 1000 m, 5 + 0.002 z above.
RegressionSet ThreeLayers() {
    RegressionSet s;
    s.A1 = 1, s.B1 = 0.01, s.Hl = 200;
    s.A2 = 2, s.B2 = 0.005, s.Hu = 1000;
    s.A3 = 5, s.B3 = 0.002;
    s.C0 = -10000;
    return s;
}

TEST(PrecipitationCorrectionKernels, RegressionRefit) {
    auto expectSet = [](const RegressionSet& s, std::vector<double> expected) {
        const std::vector<double> actual{s.A1, s.B1, s.Hl, s.A2, s.B2, s.Hu, s.A3, s.B3, s.C0};
        for (size_t i = 0; i < expected.size(); ++i) EXPECT_NEAR(actual[i], expected[i], 1e-9) << "coefficient " << i;
    };
    auto twice = [](double) { return 2.0; };
    {
        SCOPED_TRACE("a constant factor scales every layer; the joined middle layer too");
        RegressionSet s = ThreeLayers();
        meteoint::RefitRegression(s, 9999, 1500, twice);
        expectSet(s, {2, 0.02, 200, 4, 0.01, 1000, 10, 0.004, -10000});
    }
    {
        SCOPED_TRACE("without a lower inversion the middle layer is refitted and hu stays where the layers meet");
        RegressionSet s = ThreeLayers();
        s.Hl = 0;
        meteoint::RefitRegression(s, 9999, 1500, twice);
        expectSet(s, {1, 0.01, 0, 4, 0.01, 1000, 10, 0.004});
    }
    {
        SCOPED_TRACE("layers that do not meet at hu: hu moves to (a2 - a3) / (b3 - b2)");
        RegressionSet s = ThreeLayers();
        s.Hl = 0;
        s.A3 = 6;
        meteoint::RefitRegression(s, 9999, 1500, [](double) { return 1.0; });
        expectSet(s, {1, 0.01, 0, 2, 0.005, 4.0 / 0.003, 6, 0.002});
    }
    {
        SCOPED_TRACE("the upper layer is left alone when zmax is not above hu or b3 is 0");
        RegressionSet s = ThreeLayers();
        s.Hl = 0;
        meteoint::RefitRegression(s, 9999, 900, twice);
        // Middle doubled (4 + 0.01 z), upper kept: they now meet at (4 - 5) / (0.002 - 0.01) = 125 m.
        expectSet(s, {1, 0.01, 0, 4, 0.01, 125, 5, 0.002});
    }
    {
        SCOPED_TRACE("a missing set stays as it is");
        RegressionSet s = ThreeLayers();
        s.A1 = -10000;
        meteoint::RefitRegression(s, 9999, 1500, twice);
        expectSet(s, {-10000, 0.01, 200, 2, 0.005, 1000, 5, 0.002});
    }
    {
        SCOPED_TRACE("a middle layer of no thickness keeps its line instead of a division by zero");
        RegressionSet s = ThreeLayers();
        s.Hu = 200;
        meteoint::RefitRegression(s, 9999, 1500, twice);
        EXPECT_TRUE(std::isfinite(s.A2) && std::isfinite(s.B2));
        EXPECT_EQ(s.A2, 2);
        EXPECT_EQ(s.B2, 0.005);
    }
    {
        SCOPED_TRACE("hu above zmax / 2: the upper layer is sampled up to 2 hu");
        RegressionSet s = ThreeLayers();
        double highest = 0;
        int samples = 0;
        meteoint::RefitRegression(s, 9999, 1200, [&](double z) {
            if (z >= 1000) {
                highest = std::max(highest, z);
                ++samples;
            }
            return 1.0;
        });
        EXPECT_GT(highest, 1979);
        EXPECT_LE(highest, 2000);
        EXPECT_GE(samples, 50);
    }
    {
        SCOPED_TRACE("a factor that changes with altitude: rain below 500 m, snow above");
        // Middle layer 2 + 0.005 z sampled at 0, 100, ..., 1000 with factor
        // 1 up to 500 m and 2 above: w = 2, 2.5, 3, 3.5, 4, 4.5, 10, 11, 12, 13, 14.
        // Sz = 5500, Szz = 3850000, Sw = 79.5, Szw = 54750:
        // B = (11 * 54750 - 5500 * 79.5) / (11 * 3850000 - 5500^2) = 165000 / 12100000,
        // A = (79.5 - B * 5500) / 11 = 4.5 / 11.
        RegressionSet s = ThreeLayers();
        s.Hl = 0;
        s.B3 = 0;
        meteoint::RefitRegression(s, 9999, 1500, [](double z) { return z > 500 ? 2.0 : 1.0; });
        EXPECT_NEAR(s.B2, 165000.0 / 12100000.0, 1e-12);
        EXPECT_NEAR(s.A2, 4.5 / 11, 1e-9);
    }
}

namespace {

const std::vector<StationPlace> Places = {{1100, 2200, 500}, {1300, 2000, 650}, {1000, 2000, 450}};

// An input of `method` from the station file "<name>.txt".
Section InputSection(const std::string& name, int method) {
    Section s;
    s.Method = method;
    s.StationLine = name + ".txt";
    s.ResultName = name + ".asc";
    s.StatisticsLine = name + ".sta 0";
    return s;
}

// Precipitation (inverse distance), temperature and wind speed (nearest
// station, so that the value at a station is its own) over two days, and the
// correction over the inputs named in `names`.
struct CorrectionRig {
    InputFixture f;
    std::vector<std::unique_ptr<meteointerpol>> inputs;
    std::vector<meteointerpol*> pointers{nullptr};
    std::vector<std::string> names{""};
    std::unique_ptr<precicorrclass> correction;
    setuptest::Grid temperatureGrid{{G, -5, -5, -5}, {-5, -5, -5, -5}, {G, -5, -5, G}};

    CorrectionRig(const std::vector<std::string>& inputNames, const std::string& section,
                  const std::vector<double>& day1P, int precipitationMethod = 1, bool temperatureAsGrid = false) {
        if (temperatureAsGrid) f.AddGrid("temperature", temperatureGrid);
        std::string control = section;
        for (const std::string& name : inputNames) {
            const int method = name == "precipitation" ? precipitationMethod : 4;
            Section s = InputSection(name, method);
            if (method == 3) s.ThirdLine = "regression.txt";
            control += s.Text(name);
        }
        f.Control(control);
        f.Input("precipitation.txt", StationText(Places, {{{2020, 1, 1, 24}, day1P}, {{2020, 1, 2, 24}, {1, 2, 3}}}));
        f.Input("temperature.txt",
                StationText(Places, {{{2020, 1, 1, 24}, {5, 0, -2}}, {{2020, 1, 2, 24}, {-10000, -10000, -10000}}}));
        f.Input("wind_speed.txt",
                StationText(Places, {{{2020, 1, 1, 24}, {2, 3, 1}}, {{2020, 1, 2, 24}, {-10000, -10000, -10000}}}));
        // a1 b1 hl a2 b2 hu a3 b3 c0 cx cy
        const std::string set = " 1 0.01 200 2 0.005 1000 5 0.002 -10000 0 0\n";
        f.Input("regression.txt", "jr mo\n2020 1 1 24" + set + "2020 1 2 24" + set);
        for (const std::string& name : inputNames) {
            int status = -1;
            inputs.push_back(f.Make(name, &status));
            EXPECT_EQ(status, 0) << name;
            pointers.push_back(inputs.back().get());
            names.push_back(name);
        }
        int status = -1;
        correction = std::make_unique<precicorrclass>(&status, &f.writer, f.statistics, 200, pointers.data(),
                                                      names.data(), static_cast<int>(inputs.size()), f.settings,
                                                      f.table.get());
        EXPECT_EQ(status, 0);
        correction->SetMaxAltitude(1500);
    }
    meteointerpol& precipitation() { return *inputs[0]; }
    std::vector<double> StationValues() {
        const std::vector<double>& v = precipitation().StationFile(0)->Values();
        return std::vector<double>(v.begin() + 1, v.end());
    }
    void NextDay() {
        for (auto& input : inputs) input->ReadNextStep();
    }
};

// Cells of the 3 x 4 grid, row by row.
std::vector<double> GridCopy(double** grid) {
    std::vector<double> copy;
    for (int r = 1; r <= 3; ++r)
        for (int c = 1; c <= 4; ++c) copy.push_back(grid[r][c]);
    return copy;
}

void ExpectValues(const std::vector<double>& actual, const std::vector<double>& expected) {
    ASSERT_EQ(actual.size(), expected.size());
    for (size_t i = 0; i < actual.size(); ++i) EXPECT_NEAR(actual[i], expected[i], 1e-12) << "station " << i + 1;
}

}  // namespace

// Each station with the temperature and wind speed at its own place; a
// missing temperature is rain and a missing wind calm; an invalid value stays.
TEST(PrecipitationCorrection, StationValuesOfTheStep) {
    CorrectionRig rig({"precipitation", "temperature", "wind_speed"}, GaugeSection, {10, 4, -10000});
    EXPECT_FALSE(rig.correction->InputMissing);
    EXPECT_EQ(rig.correction->StationCount, 3);
    rig.correction->CorrectStationData();
    // 10 (1.1 + 0.01 * 2) in the rain; 4 (1.3 + 0.02 * 3) at exactly 0 degC.
    ExpectValues(rig.StationValues(), {11.2, 5.44, -10000});
    EXPECT_EQ(rig.correction->StationTemperature, (std::vector<double>{0, 5, 0, -2}));
    EXPECT_EQ(rig.correction->StationWind, (std::vector<double>{0, 2, 3, 1}));
    // The next record replaces the corrected values; without temperature and
    // wind that day only the rain constant applies.
    rig.NextDay();
    rig.correction->CorrectStationData();
    ExpectValues(rig.StationValues(), {1.1, 2.2, 3.3});
    EXPECT_EQ(rig.correction->StationTemperature, (std::vector<double>{0, 1, 1, 1}));
    EXPECT_EQ(rig.correction->StationWind, (std::vector<double>{0, 0, 0, 0}));
}

// What leaves the station values alone, and what the rain constants alone do.
TEST(PrecipitationCorrection, SwitchedOffMissingQuantitiesAndGridOnlyTemperature) {
    {
        SCOPED_TRACE("switched off");
        CorrectionRig rig({"precipitation", "temperature", "wind_speed"},
                          "[precipitation_correction]\n0\n0\n1.1\n0.01\n1.3\n0.02\n", {10, 4, 7});
        rig.correction->CorrectStationData();
        rig.correction->CorrectGrid();
        ExpectValues(rig.StationValues(), {10, 4, 7});
        EXPECT_TRUE(rig.correction->StationTemperature.empty());
    }
    {
        SCOPED_TRACE("no temperature and no wind: all rain, calm");
        CorrectionRig rig({"precipitation"}, GaugeSection, {10, 4, 7});
        EXPECT_EQ(rig.correction->TemperatureInput, -1);
        EXPECT_EQ(rig.correction->WindInput, -1);
        rig.correction->CorrectStationData();
        ExpectValues(rig.StationValues(), {11, 4.4, 7.7});
    }
    {
        SCOPED_TRACE("temperature only as a grid: the stations stay, the grid is corrected");
        CorrectionRig rig({"precipitation"}, GaugeSection, {10, 4, 7}, 1, true);
        EXPECT_TRUE(rig.correction->InputMissing);
        rig.correction->CorrectStationData();
        ExpectValues(rig.StationValues(), {10, 4, 7});
        rig.precipitation().InterpolateStep(24, 1, 1, 2020);
        double** grid = rig.precipitation().ResultGrid;
        const std::vector<double> before = GridCopy(grid);
        rig.correction->CorrectGrid();
        for (int r = 1; r <= 3; ++r) {
            for (int c = 1; c <= 4; ++c) {
                const double b = before[static_cast<size_t>((r - 1) * 4 + c - 1)];
                const double expected = b == G ? G : 1.3 * b;
                EXPECT_NEAR(grid[r][c], expected, 1e-12) << "cell " << r << " " << c;
            }
        }
    }
}

// Methods with a regression set: the stations and the layers are corrected.
TEST(PrecipitationCorrection, RegressionLayersOfTheStep) {
    CorrectionRig rig({"precipitation"}, "[precipitation_correction]\n1\n0\n2\n0\n3\n0\n", {10, 4, -10000}, 3);
    rig.correction->CorrectStationData();
    ExpectValues(rig.StationValues(), {20, 8, -10000});
    const RegressionSet& s = rig.precipitation().Regression();
    const std::vector<double> actual{s.A1, s.B1, s.Hl, s.A2, s.B2, s.Hu, s.A3, s.B3};
    const std::vector<double> expected{2, 0.02, 200, 4, 0.01, 1000, 10, 0.004};
    for (size_t i = 0; i < actual.size(); ++i) EXPECT_NEAR(actual[i], expected[i], 1e-9) << "coefficient " << i;
    // The next record brings the set as read again.
    rig.NextDay();
    EXPECT_EQ(rig.precipitation().Regression().A1, 1);
}

// The grid, cell by cell: only the valid row extents of this process, rain
// above the threshold, missing temperatures as rain and missing wind as calm;
// cells without a value keep their markers.
TEST(PrecipitationCorrection, GridCells) {
    InputFixture f;
    f.Control(GaugeSection);
    setuptest::Grid p{{5, 10, 10, 10}, {G, 4, -10000, 2}, {5, 1, 1, 5}};
    setuptest::Grid t{{0, 5, 0, -1}, {0, 0, 0, 3}, {0, -10000, 2, 0}};
    setuptest::Grid u{{0, 2, 3, 0}, {0, 0, 0, -10000}, {0, 1, 2, 0}};
    f.AddGrid("precipitation", p);
    f.AddGrid("temperature", t);
    f.AddGrid("wind_speed", u);
    f.regions.at(2, 4) = 1;  // another process's cell
    int status = -1;
    precicorrclass correction(&status, &f.writer, f.statistics, 200, nullptr, nullptr, 0, f.settings, f.table.get());
    ASSERT_EQ(status, 0);
    EXPECT_TRUE(correction.InputMissing);
    correction.CorrectStationData();  // nothing to do without inputs
    correction.CorrectGrid();
    const double expected[3][4] = {{5, 11.2, 13.6, 13}, {G, 5.2, -10000, 2}, {5, 1.11, 1.12, 5}};
    for (int r = 1; r <= 3; ++r) {
        for (int c = 1; c <= 4; ++c) EXPECT_NEAR(p.at(r, c), expected[r - 1][c - 1], 1e-12) << "cell " << r << " " << c;
    }
}

// A whole run: the corrected station values are what the precipitation grid
// interpolates, step by step, while the switched-off section leaves them.
TEST(PrecipitationCorrection, WholeRunCorrectsBeforeInterpolation) {
    using namespace testsupport;
    const std::vector<StationPlace> one = {{1150, 2150, 500}};
    auto run = [&](const std::string& correction) {
        TempDir dir;
        ModelFiles files;
        files.ModelTime = "24\n1\n1\n2020\n24\n3\n1\n2020\n";
        files.MeteoInputs = "[meteo_data_count]\n3\n[meteo_names]\nprecipitation\ntemperature\nwind_speed\n";
        if (!correction.empty()) files.PrecipitationCorrection = correction;
        Section p = InputSection("precipitation", 4);
        p.StatisticsLine = "precipitation.sta 2001";
        files.Extra = p.Text("precipitation") + InputSection("temperature", 4).Text("temperature") +
                      InputSection("wind_speed", 4).Text("wind_speed");
        const std::string control = files.Write(dir);
        // Day 1 rain in wind 4, day 2 snow (exactly 0 degC) in wind 5, day 3
        // no precipitation value at all.
        WriteFile(dir.file("input/precipitation.txt"),
                  StationText(one, DailyRows({2020, 1, 1, 24}, 3, 1, [](int day, int) {
                                  return day == 2 ? -10000.0 : 10.0 * (day + 1);
                              })));
        WriteFile(dir.file("input/temperature.txt"),
                  StationText(one, DailyRows({2020, 1, 1, 24}, 3, 1, [](int day, int) { return day == 0 ? 3.0 : 0.0; })));
        WriteFile(dir.file("input/wind_speed.txt"),
                  StationText(one, DailyRows({2020, 1, 1, 24}, 3, 1, [](int day, int) { return 4.0 + day; })));
        const auto result = RunRuvex(dir.path(), {control});
        EXPECT_EQ(result.exitCode, 0) << result.output;
        std::vector<double> means;
        for (const auto& row : meteotest::StatisticsRows(dir.file("output/precipitation.sta"))) {
            if (row.size() > 4) means.push_back(row[4]);
        }
        return means;
    };
    const std::vector<double> off = run("");
    const std::vector<double> on = run("1\n1.5\n1.1\n0.01\n1.3\n0.02\n");
    ASSERT_EQ(off.size(), 3u);
    ASSERT_EQ(on.size(), 3u);
    EXPECT_NEAR(off[0], 10, 1e-9);
    EXPECT_NEAR(off[1], 20, 1e-9);
    // 3 degC is above the threshold 1.5: rain, 1.1 + 0.01 * 4; 0 degC snow, 1.3 + 0.02 * 5.
    EXPECT_NEAR(on[0], 10 * 1.14, 1e-9);
    EXPECT_NEAR(on[1], 20 * 1.4, 1e-9);
    EXPECT_EQ(on[2], off[2]);
}

// A temperature read from a list of grids has no stations: the correction
// takes the grid of the step at each precipitation station's cell, so the
// western station (cell at -5 degC on day 1, +5 on day 2) is corrected as
// snow and then as rain, the eastern one (+5, then -5) the other way round.
// Without that temperature every station would count as rain.
TEST(PrecipitationCorrection, TemperatureFromAListOfGrids) {
    using namespace testsupport;
    TempDir dir;
    ModelFiles files;
    files.ModelTime = "24\n1\n1\n2020\n24\n2\n1\n2020\n";
    files.MeteoInputs = "[meteo_data_count]\n2\n[meteo_names]\nprecipitation\ntemperature\n";
    files.PrecipitationCorrection = "1\n0\n1.1\n0.01\n1.3\n0.02\n";
    Section p = InputSection("precipitation", 4);
    p.StatisticsLine = "precipitation.sta 2001";
    Section t = InputSection("temperature", 9);
    t.StationLine = "temperature_grids.txt";
    t.ThirdLine = "8.916787e-5 0.0767528404 127 6.00e-006 0.098";
    files.Extra = p.Text("precipitation") + t.Text("temperature");
    auto grid = [](double west, double east) {
        std::string text = "ncols 4\nnrows 3\nxllcorner 1000\nyllcorner 2000\ncellsize 100\nnodata_value -9999\n";
        for (int r = 0; r < 3; ++r)
            text += std::to_string(west) + " " + std::to_string(west) + " " + std::to_string(east) + " " +
                    std::to_string(east) + "\n";
        return text;
    };
    files.InputFiles["cold_west.asc"] = grid(-5, 5);
    files.InputFiles["cold_east.asc"] = grid(5, -5);
    files.InputFiles["temperature_grids.txt"] =
        "grids\nYY MM DD HH 0\nYY MM DD HH 1000\nYY MM DD HH 2000\nname\n2020 1 1 24 cold_west.asc\n"
        "2020 1 2 24 cold_east.asc\n";
    const std::string control = files.Write(dir);
    // Stations in the cells of row 2, columns 2 and 4; every cell of zone 1
    // takes the western one (nearest station), zone 2 two cells of each.
    const std::vector<StationPlace> two = {{1150, 2150, 500}, {1350, 2150, 640}};
    WriteFile(dir.file("input/precipitation.txt"),
              StationText(two, DailyRows({2020, 1, 1, 24}, 2, 2, [](int, int) { return 10.0; })));
    const auto result = RunRuvex(dir.path(), {control});
    ASSERT_EQ(result.exitCode, 0) << result.output;
    const auto rows = meteotest::StatisticsRows(dir.file("output/precipitation.sta"));
    ASSERT_EQ(rows.size(), 2u);
    const double snow = 10 * 1.3, rain = 10 * 1.1;
    const double expected[2][2] = {{snow, (snow + rain) / 2}, {rain, (snow + rain) / 2}};
    for (size_t day = 0; day < 2; ++day) {
        ASSERT_GE(rows[day].size(), 6u);
        EXPECT_NEAR(rows[day][4], expected[day][0], 1e-9) << "zone 1, day " << day + 1;
        EXPECT_NEAR(rows[day][5], expected[day][1], 1e-9) << "zone 2, day " << day + 1;
    }
}
