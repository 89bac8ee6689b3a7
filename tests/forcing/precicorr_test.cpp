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
