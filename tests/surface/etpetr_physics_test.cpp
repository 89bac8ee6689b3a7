// Kernels of potential evapotranspiration against hand-computed values.

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "surface/etpetr_physics.h"

using namespace etpetr;

namespace {

TEST(EtpetrPhysics, SaturationVapourPressure) {
    struct Case {
        double t, expected;
    };
    for (const Case c : {Case{0.0, 6.1078}, Case{20.0, 23.38022964146756}, Case{-10.0, 2.857141965025618}}) {
        EXPECT_NEAR(SaturationVapourPressure(c.t), c.expected, 1e-12) << c.t;
    }
}

TEST(EtpetrPhysics, SolveQuadratic) {
    double x1 = -1, x2 = -1;
    EXPECT_EQ(SolveQuadratic(-3.0, 2.0, x1, x2), 2);
    EXPECT_DOUBLE_EQ(x1, 1.0);
    EXPECT_DOUBLE_EQ(x2, 2.0);
    EXPECT_EQ(SolveQuadratic(-2.0, 1.0, x1, x2), 1);
    EXPECT_DOUBLE_EQ(x1, 1.0);
    EXPECT_DOUBLE_EQ(x2, 1.0);
    EXPECT_EQ(SolveQuadratic(0.0, 1.0, x1, x2), 0);
    EXPECT_EQ(x1, 0.0);
    EXPECT_EQ(x2, 0.0);
    EXPECT_EQ(SolveQuadratic(std::numeric_limits<double>::quiet_NaN(), 1.0, x1, x2), 0);
}

TEST(EtpetrPhysics, SunshineThresholdRoot) {
    struct Case {
        double cs[4];
        ThresholdResult result;
        double root;
    };
    const Case cases[] = {
        // Larger extremum 4.6356 lies above 1, the smaller one is taken: s'(0.24310) = 0.
        {{0.072, -0.808, 1.749, -0.239}, ThresholdResult::Found, 0.243103},
        {{0.1, -0.5, 0.0, 0.0}, ThresholdResult::Found, 0.2},
        {{0.5, 0.5, 0.0, 0.0}, ThresholdResult::NoRootInUnitInterval, 0.0},
        {{0.3, 0.0, 0.0, 0.0}, ThresholdResult::NotAtLeastLinear, 0.0},
        // x^2 - 1.5x + 0.5: roots 0.5 and 1, the larger one in [0, 1] wins.
        {{0.5, -1.5, 1.0, 0.0}, ThresholdResult::Found, 1.0},
        // x^2 - 2.5x + 1: roots 0.5 and 2.
        {{1.0, -2.5, 1.0, 0.0}, ThresholdResult::Found, 0.5},
        {{1.0, 0.0, 1.0, 0.0}, ThresholdResult::NoRootInUnitInterval, 0.0},
        // s' = 3 (x - 0.5)^2: one double extremum at 0.5.
        {{0.0, 0.75, -1.5, 1.0}, ThresholdResult::Found, 0.5},
    };
    for (const Case& c : cases) {
        double root = -1;
        EXPECT_EQ(SunshineThresholdRoot(c.cs, root), c.result) << c.cs[0] << " " << c.cs[1];
        if (c.result == ThresholdResult::Found) {
            EXPECT_NEAR(root, c.root, 1e-6) << c.cs[0];
        }
    }
}

TEST(EtpetrPhysics, MonthlyTablesBetweenMidMonthPoints) {
    double table[14];
    for (int m = 1; m <= 12; ++m) table[m] = m;  // January 1 .. December 12
    table[0] = table[12];
    table[13] = table[1];
    // Hamon: the 15th and the 16th take the month's own value.
    EXPECT_DOUBLE_EQ(HamonMonthlyFactor(table, 15, 3, 31), 3.0);
    EXPECT_DOUBLE_EQ(HamonMonthlyFactor(table, 16, 3, 31), 3.0);
    EXPECT_DOUBLE_EQ(HamonMonthlyFactor(table, 1, 3, 31), 2.0 + 1.0 * 16.0 / 30.0);
    EXPECT_DOUBLE_EQ(HamonMonthlyFactor(table, 31, 1, 31), 1.0 + 1.0 * 15.0 / 31.0);
    EXPECT_DOUBLE_EQ(HamonMonthlyFactor(table, 1, 1, 31), 12.0 - 11.0 * 16.0 / 30.0);
    EXPECT_DOUBLE_EQ(HamonMonthlyFactor(table, 31, 12, 31), 12.0 - 11.0 * 15.0 / 31.0);
    // Amplitude: the first half starts at -15.5, the second ends at days + 15.
    EXPECT_DOUBLE_EQ(TemperatureAmplitudeOfDay(table, 1, 3, 31), 2.0 + 16.5 / 30.5);
    EXPECT_DOUBLE_EQ(TemperatureAmplitudeOfDay(table, 15, 3, 31), 3.0);
    EXPECT_DOUBLE_EQ(TemperatureAmplitudeOfDay(table, 30, 4, 30), 4.0 + 14.0 / 29.0);
}

TEST(EtpetrPhysics, DailyMethods) {
    // Hamon: PEC 3, beta 0.5, 20 deg C.
    EXPECT_NEAR(HamonEtp(3.0, 0.5, 20.0), 8.555865501416541, 1e-10);
    // Wendling: R 5000 Wh/m2, albedo 0.2, fk 1, 15 deg C.
    EXPECT_NEAR(WendlingEtp(5000.0, 0.2, 1.0, 15.0), 3.0618840579710147, 1e-12);
    EXPECT_LT(WendlingEtp(500.0, 0.2, 1.0, -25.0), 0.0);  // below -22 deg C: negative, clipped by the caller

    EXPECT_NEAR(HaudeSaturationVapourPressure(20.0), 23.318327380591626, 1e-10);
    EXPECT_NEAR(HaudeSaturationVapourPressure(-5.0), 4.0150544297000295, 1e-10);
    EXPECT_DOUBLE_EQ(HaudeSaturationVapourPressure(0.0), 6.11);  // water formula at 0
    EXPECT_NEAR(HaudeEtp(HaudeSaturationVapourPressure(20.0), 0.3, 0.5), 3.497749107088744, 1e-10);
    EXPECT_DOUBLE_EQ(HaudeEtp(41.0, 0.4, 0.5), 7.0);  // 8.2 capped
    struct Deficit {
        double e, es, expected;
    };
    for (const Deficit d : {Deficit{5.0, 20.0, 0.75}, Deficit{25.0, 20.0, 0.0}, Deficit{-1.0, 20.0, 1.0}}) {
        EXPECT_DOUBLE_EQ(HaudeDeficitFromVapourPressure(d.e, d.es), d.expected) << d.e;
    }
    EXPECT_DOUBLE_EQ(HaudeDeficitFromHumidity(0.6), 0.4);
    EXPECT_DOUBLE_EQ(HaudeDeficitFromHumidity(1.3), 0.0);
    EXPECT_DOUBLE_EQ(HaudeDeficitFromHumidity(-0.2), 1.0);
}

TEST(EtpetrPhysics, RadiationAndSunshine) {
    EXPECT_NEAR(AirPressureFromElevation(500.0, 10.0), 953.66873639663, 1e-9);
    EXPECT_NEAR(Transmissivity(0.7, 0.1, 5, 3), 0.7259511797069716, 1e-12);
    const double cosZ[] = {0.5, 0.8, -0.2, 0.0};
    EXPECT_NEAR(ClearSkyRadiation(2, 0.5, 0.7, 1000.0, cosZ), 521.1136563114541, 1e-9);
    // Sub-steps below the horizon add nothing.
    EXPECT_NEAR(ClearSkyRadiation(4, 0.5, 0.7, 1000.0, cosZ), 521.1136563114541, 1e-9);

    EXPECT_DOUBLE_EQ(RelativeRadiation(300.0, 600.0), 0.5);
    EXPECT_DOUBLE_EQ(RelativeRadiation(900.0, 600.0), 1.0);
    EXPECT_DOUBLE_EQ(RelativeRadiation(-5.0, 600.0), 0.0);
    EXPECT_DOUBLE_EQ(RelativeRadiation(300.0, 0.0), 0.0);

    const double cs[4] = {0.1, -0.5, 0.0, 0.0};
    const double cubic[4] = {-0.2, 1.5, 0.0, 0.0};
    EXPECT_DOUBLE_EQ(SunshineFromRelativeRadiation(cs, 0.2, 0.2), 0.0);  // not above the threshold
    EXPECT_DOUBLE_EQ(SunshineFromRelativeRadiation(cubic, 0.1, 0.5), 0.55);
    EXPECT_DOUBLE_EQ(SunshineFromRelativeRadiation(cubic, 0.1, 0.9), 1.0);

    EXPECT_DOUBLE_EQ(Cloudiness(1.2), 0.0);
    EXPECT_NEAR(Cloudiness(1.0), 0.0384, 1e-12);
    EXPECT_NEAR(Cloudiness(0.5), 0.869175, 1e-12);
    EXPECT_DOUBLE_EQ(Cloudiness(0.0), 0.997);
}

TEST(EtpetrPhysics, PenmanMonteithTerms) {
    EXPECT_NEAR(DeltaOverGamma(20.0, 1000.0), 2.1958251079282642, 1e-12);
    EXPECT_NEAR(AerodynamicResistanceTop(0.1, 2.0), 63.702224926277175, 1e-10);
    EXPECT_NEAR(AerodynamicResistanceTop(2.5, 2.0), 12.019230769230768, 1e-12);
    // Negative wind counts as calm; a roughness of 0 as 1 mm: finite values.
    EXPECT_DOUBLE_EQ(AerodynamicResistanceTop(0.1, -5.0), AerodynamicResistanceTop(0.1, 0.0));
    EXPECT_TRUE(std::isfinite(AerodynamicResistanceTop(0.0, 1.0)));
    EXPECT_TRUE(std::isfinite(AerodynamicResistanceTop(-1.0, 1.0)));

    EXPECT_NEAR(SurfaceResistance(2.0, 1.0, 70.0, true), 109.375, 1e-12);
    EXPECT_DOUBLE_EQ(SurfaceResistance(2.0, 1.0, 70.0, false), 1250.0);
    EXPECT_DOUBLE_EQ(SurfaceResistance(2.0, 1.0, 0.0, true), 0.0);
    EXPECT_DOUBLE_EQ(SurfaceResistance(0.0, 1.0, 70.0, true), 2500.0);
    EXPECT_DOUBLE_EQ(SurfaceResistance(0.0, 0.0, 0.0, false), 0.0);

    EXPECT_NEAR(VapourTerm(0.5, 1440.0, SaturationVapourPressure(20.0), 10.0, 20.0, 50.0), 8.552614670771284,
                1e-10);
    EXPECT_DOUBLE_EQ(VapourTerm(0.5, 1440.0, 10.0, 12.0, 20.0, 50.0), 0.0);  // supersaturated air
    EXPECT_NEAR(NetLongwaveLoss(10.0, 0.23, 0.5, 0.5, 5.67e-8 * 24.0, 20.0), 848.1356899799175, 1e-9);
    EXPECT_TRUE(std::isfinite(NetLongwaveLoss(-3.0, 0.23, 0.5, 0.5, 5.67e-8 * 24.0, 20.0)));
}

PenmanMonteithLayer DayTopLayer() {
    PenmanMonteithLayer in;
    in.topLayer = true;
    in.lowestLayer = true;
    in.dayPart = true;
    in.partFraction = 0.5;
    in.intervalMinutes = 1440;
    in.sigmaDt = 5.67e-8 * 24.0;
    in.temperature = 20;
    in.airPressure = 1000;
    in.vapourPressure = 10;
    in.saturationPressure = SaturationVapourPressure(20);
    in.windSpeed = 2;
    in.coverage = 0.8;
    in.leafAreaIndex = 3;
    in.canopyResistance = 70;
    in.interceptionResistance = 40;
    in.soilResistance = 200;
    in.roughnessLength = 0.1;
    in.shortwave = 3000;
    in.sunshine = 0.5;
    in.a0 = 0.23;
    return in;
}

TEST(EtpetrPhysics, PenmanMonteithOneAndTwoLayers) {
    // One layer, day part: available radiation 2.84182 mm, 1.34914 mm absorbed.
    {
        double rTop = 0, left = 0;
        const PenmanMonteithResult r = PenmanMonteith(DayTopLayer(), rTop, left);
        EXPECT_NEAR(rTop, 63.702224926277175, 1e-10);
        EXPECT_NEAR(left, 1.4926824509212637, 1e-10);
        EXPECT_NEAR(r.transpiration, 2.036453805054265, 1e-10);
        EXPECT_NEAR(r.interception, 2.53035457972968, 1e-10);
        EXPECT_NEAR(r.soilEvaporation, 1.5769456739423813, 1e-10);
    }
    // Two layers: the upper one yields no soil evaporation; the lower one
    // takes the rest of the radiation and ra = sigma_L Lambda + r_top.
    {
        double rTop = 0, left = 0;
        PenmanMonteithLayer top = DayTopLayer();
        top.lowestLayer = false;
        const PenmanMonteithResult r1 = PenmanMonteith(top, rTop, left);
        EXPECT_EQ(r1.soilEvaporation, 0.0);
        PenmanMonteithLayer low = DayTopLayer();
        low.topLayer = false;
        low.coverage = 0.5;
        low.leafAreaIndex = 1;
        low.canopyResistance = 100;
        low.leafAreaAbove = 3;
        low.leafAreaScale = 10;
        const PenmanMonteithResult r2 = PenmanMonteith(low, rTop, left);
        EXPECT_NEAR(left, 1.29924440412779, 1e-10);
        EXPECT_NEAR(r2.transpiration, 0.6290245256977804, 1e-10);
        EXPECT_NEAR(r2.interception, 1.3770015346297613, 1e-10);
        EXPECT_NEAR(r2.soilEvaporation, 1.391424232607054, 1e-10);
    }
}

TEST(EtpetrPhysics, PenmanMonteithOpenWaterNightAndNetRadiation) {
    // Night over open water: the longwave loss leaves no radiation, r_s = 0,
    // only the vapour term drives evaporation; no interception, no soil term.
    PenmanMonteithLayer in = DayTopLayer();
    in.dayPart = false;
    in.openWater = true;
    in.temperature = 10;
    in.vapourPressure = 8;
    in.saturationPressure = SaturationVapourPressure(10);
    in.windSpeed = 0;
    in.roughnessLength = 0.001;
    double rTop = 0, left = 0;
    const PenmanMonteithResult r = PenmanMonteith(in, rTop, left);
    EXPECT_NEAR(r.transpiration, 0.1352714540734196, 1e-12);
    EXPECT_EQ(r.interception, 0.0);
    EXPECT_EQ(r.soilEvaporation, 0.0);

    // Net radiation input: each part takes its share b of the step's net
    // radiation (2000 Wh/m2 at 15 deg C are 2.92062 mm for the whole step).
    PenmanMonteithLayer net = DayTopLayer();
    net.netRadiationInput = true;
    net.netRadiation = 2000;
    net.temperature = 15;
    net.coverage = 1;
    net.leafAreaIndex = 1e9;  // absorbs everything
    for (bool day : {true, false}) {
        net.dayPart = day;
        double rt = 0, l = 1;
        PenmanMonteith(net, rt, l);
        EXPECT_NEAR(l, 0.0, 1e-12);
        net.coverage = 0;
        l = 0;
        PenmanMonteith(net, rt, l);
        EXPECT_NEAR(l, 0.5 * 2.9206183241053965, 1e-12);
        net.coverage = 1;
    }
}

// A step with net radiation split into a night part (b = 0.3) and a day part
// (b = 0.7) evaporates what one part of fraction 1 does: the radiation counts
// once. With rsc = 0 both parts have r_s = 0, so the sums must match; the
// values are computed by hand from the formulas.
TEST(EtpetrPhysics, NetRadiationCountsOncePerStep) {
    PenmanMonteithLayer in = DayTopLayer();
    in.netRadiationInput = true;
    in.netRadiation = 2000;
    in.temperature = 15;
    in.vapourPressure = 8;
    in.saturationPressure = SaturationVapourPressure(15);
    in.canopyResistance = 0;
    auto run = [&](bool day, double fraction) {
        in.dayPart = day;
        in.partFraction = fraction;
        double rTop = 0, left = 0;
        return PenmanMonteith(in, rTop, left);
    };
    const PenmanMonteithResult whole = run(true, 1.0);
    EXPECT_NEAR(whole.transpiration, 4.323766327354755, 1e-10);
    EXPECT_NEAR(whole.interception, 3.5014999440629073, 1e-10);
    EXPECT_NEAR(whole.soilEvaporation, 2.0311811954376067, 1e-10);
    const PenmanMonteithResult night = run(false, 0.3);
    const PenmanMonteithResult day = run(true, 0.7);
    EXPECT_NEAR(night.transpiration + day.transpiration, whole.transpiration, 1e-12);
    EXPECT_NEAR(night.interception + day.interception, whole.interception, 1e-12);
    EXPECT_NEAR(night.soilEvaporation + day.soilEvaporation, whole.soilEvaporation, 1e-12);
}

}  // namespace
