// The snow kernels against values worked out by hand.

#include <gtest/gtest.h>

#include <cmath>

#include "surface/snowmod_physics.h"

using namespace snowphys;

TEST(SnowPhysics, KernelValues) {
    struct Case {
        const char* name;
        double actual, expected, tolerance;
    };
    const int days[13] = {0, 31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const Case cases[] = {
        {"snow fraction at 2 degC", SnowFraction(2, 1, 1), 0, 0},
        {"snow fraction at 1 degC", SnowFraction(1, 1, 1), 0.5, 0},
        {"snow fraction at 0 degC", SnowFraction(0, 1, 1), 1, 0},
        {"step at T0R", SnowFraction(1, 1, 0), 1, 0},
        {"above T0R", SnowFraction(1.0001, 1, 0), 0, 0},
        {"day of year 21 March", static_cast<double>(DayOfYear(21, 3, days)), 80, 0},
        {"melt factor day 80", SeasonalFactor(2, 1, 80), 2.0, 1e-12},
        {"melt factor day 171", SeasonalFactor(2, 1, 171), 2.99999, 1e-5},
        {"melt factor day 355", SeasonalFactor(2, 1, 355), 1.00023, 1e-5},
        {"albedo warm", SnowAlbedo(0.5, 0.85, 10, 1), 0.71229, 1e-5},
        {"albedo cold", SnowAlbedo(0.5, 0.85, 10, 0), 0.60542, 1e-5},
        {"ice vapour pressure of the energy balance", SurfaceIceVapourPressure(263.16), 2.5968, 1e-4},
        {"air vapour pressure below 0", AirSaturationVapourPressure(-10), 2.5968, 1e-4},
        {"air vapour pressure above 0", AirSaturationVapourPressure(10), 12.2939, 1e-3},
        {"saturation over ice", SaturationVapourPressureIce(-10), 2.5946, 1e-4},
        {"degree-day", DegreeDayMelt(3, 5, 0, 24), 0.625, 1e-15},
        {"temperature-wind", TemperatureWindMelt(1, 0.5, 2, 3, 1, 1), 4, 1e-15},
        {"radiation index dry", RadiationIndexMelt(0.05, 2, 0, 24, 2, 1, 3, 6), 2 * 2 * 1.0 / 24, 1e-15},
        {"radiation index at exactly 2.4 mm a day", RadiationIndexMelt(2.4 / 24, 2, 0, 24, 2, 1, 3, 6), 1.0 / 6, 1e-15},
        {"radiation index rain on snow", RadiationIndexMelt(0.2, 2, 0, 24, 2, 1, 3, 6.11),
         0.6 * 2 / 24 + 3.0 * 2 / 24 + 0.006 * 0.2 * 2, 1e-15},
        {"deposition capacity flat", DepositionCapacity(1, 0, 55), 1, 0},
        {"deposition capacity 55 deg", DepositionCapacity(1, 55, 55), 0, 0},
        {"deposition capacity 70 deg", DepositionCapacity(1, 70, 55), 0, 0},
        {"deposition capacity without a maximum slope", DepositionCapacity(1, 0, 0), 0, 0},
    };
    for (const Case& c : cases) EXPECT_NEAR(c.actual, c.expected, c.tolerance) << c.name;
}

// Retention: melt up to the solid storage, liquid water above the capacity
// leaves; a negative melt moves back at most the liquid present.
TEST(SnowPhysics, Retention) {
    struct Case {
        double melt, cwh, ss, sl;
        double outflow, ssAfter, slAfter;
    } cases[] = {
        {0.625, 0.1, 91.25, 8.75, 0.3125, 90.625, 9.0625},
        {0, 0.1, 100, 0, 0, 100, 0},
        {5, 0.1, 2, 1, 3, 0, 0},                // more melt than snow
        {0, 0.1, 0, 4, 4, 0, 0},                // rain on bare ground passes through
        {-0.1005, 0.1, 5, 0, 0, 5, 0},          // refreezing without liquid water
        {-0.5, 0.1, 5, 0.2, 0, 5.2, 0},          // refreezing more than there is
    };
    for (const auto& c : cases) {
        double ss = c.ss, sl = c.sl, moved = 0;
        const double out = Retain(c.melt, c.cwh, &ss, &sl, &moved);
        EXPECT_NEAR(out, c.outflow, 1e-12);
        EXPECT_NEAR(ss, c.ssAfter, 1e-12);
        EXPECT_NEAR(sl, c.slAfter, 1e-12);
        EXPECT_GE(sl, 0);
        EXPECT_NEAR(c.ss + c.sl, ss + sl + out, 1e-12);
    }
    double ss = 5, sl = 0.05;
    Refreeze(1, 2, -1, 0, 24, 1, &ss, &sl);  // wants 1/12 mm, finds 0.05
    EXPECT_DOUBLE_EQ(ss, 5.05);
    EXPECT_EQ(sl, 0);
}

namespace {

EnergyInputs ColdDry() {
    EnergyInputs in;
    in.T = -8;
    in.h = 0.6;
    in.N = 0.3;
    in.P = 0;
    in.u = 2;
    in.G = 50;
    in.albedo = 0.8;
    in.dt = 60;
    in.z = 1500;
    return in;
}

}  // namespace

TEST(SnowPhysics, EnergyBalance) {
    // a cold dry pack converges or makes its 150 adjustments
    {
        EnergyInputs in = ColdDry();
        double ss = 50, sl = 0, tp = 265, ts = 263;
        const EnergyResult r = EnergyBalanceNoMelt(in, 1, &ss, &sl, &tp, &ts, -9999);
        EXPECT_TRUE(std::fabs(r.balance) <= 0.25 || r.evaluations == 151) << r.balance;
        EXPECT_LE(ts, Melting);
        EXPECT_LE(tp, Melting);
        EXPECT_NEAR(ss + sl + r.sublimation, 50, 1e-12);
    }
    // liquid water in the pack keeps the surface at the melting point
    {
        EnergyInputs in = ColdDry();
        double ss = 50, sl = 2, tp = 270, ts = 260;
        const EnergyResult r = EnergyBalanceNoMelt(in, 1, &ss, &sl, &tp, &ts, -9999);
        EXPECT_EQ(ts, Melting);
        EXPECT_EQ(r.evaluations, 1);
        EXPECT_NEAR(ss + sl + r.sublimation, 52, 1e-12);
    }
    // dry air: the wet-bulb search and the balance stay finite
    {
        EXPECT_TRUE(std::isfinite(WetBulbTemperature(3, 0, 900)));
        EnergyInputs in = ColdDry();
        in.h = 0;
        in.T = 4;
        in.G = 600;
        double ss = 20, sl = 0, tp = 273.16, ts = 273.16;
        const EnergyResult r = EnergyBalanceMelt(in, 1, &ss, &sl, &tp, &ts, -9999);
        EXPECT_TRUE(std::isfinite(r.melt));
        EXPECT_TRUE(std::isfinite(r.sublimation));
        EXPECT_TRUE(std::isfinite(ss + sl));
    }
    // the melt of one evaluation is linear in its weight
    {
        EnergyInputs in = ColdDry();
        in.T = 5;
        in.h = 0.9;
        in.G = 500;
        in.albedo = 0.5;
        double melts[2];
        const double weights[2] = {1, 0.5};
        for (int k = 0; k < 2; ++k) {
            double ss = 40, sl = 0, tp = Melting, ts = Melting;
            melts[k] = EnergyBalanceMelt(in, weights[k], &ss, &sl, &tp, &ts, -9999).melt;
        }
        ASSERT_GT(melts[0], 0);
        EXPECT_NEAR(melts[1], melts[0] / 2, 1e-12);
    }
    // an emptied pack has no temperatures
    {
        EnergyInputs in = ColdDry();
        in.h = 0.05;
        in.u = 20;
        double ss = 1e-9, sl = 0, tp = 265, ts = 263;
        EnergyBalanceNoMelt(in, 1, &ss, &sl, &tp, &ts, -9999);
        EXPECT_EQ(ss + sl, 0);
        EXPECT_EQ(tp, -9999);
        EXPECT_EQ(ts, -9999);
    }
}
