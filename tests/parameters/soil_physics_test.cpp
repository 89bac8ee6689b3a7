#include <gtest/gtest.h>

#include <cmath>

#include "parameters/soil_physics.h"

using namespace soilphysics;

// theta_s 0.45, theta_r 0.05, alpha 2 1/m, n 1.5, m = 1 - 1/n = 1/3.
TEST(SoilPhysics, VanGenuchtenRetentionAgainstHandValues) {
    const double m = 1 - 1 / 1.5;
    struct Case {
        double suction, saturation;
    };
    // Se = (1 / (1 + (2 h)^1.5))^(1/3):
    //   h = 0:   1
    //   h = 0.1: (1 / 1.0894427191)^(1/3)        = 0.9718484203
    //   h = 1:   (1 / (1 + 2.8284271247))^(1/3)  = 0.6392340079
    //   h = 50:  (1 / (1 + 1000))^(1/3)          = 0.0999666889
    const Case cases[] = {{0, 1}, {0.1, 0.9718484203}, {1, 0.6392340079}, {50, 0.0999666889}};
    for (const auto& c : cases) {
        const double se = VanGenuchtenSaturation(c.suction, 2, 1.5, m);
        EXPECT_NEAR(se, c.saturation, 1e-9) << "h = " << c.suction;
        EXPECT_NEAR(WaterContentFromSaturation(se, 0.45, 0.05), 0.40 * c.saturation + 0.05, 1e-9);
    }
    EXPECT_EQ(WaterContentFromSaturation(1, 0.45, 0.05), 0.45);
    EXPECT_EQ(WaterContentFromSaturation(0, 0.45, 0.05), 0.05);
}

TEST(SoilPhysics, MualemConductivityAgainstHandValues) {
    // Se 0.5, m 0.5, tau 0.5: 0.5^0.5 (1 - (1 - 0.25)^0.5)^2
    //   = 0.7071067812 x (1 - 0.8660254038)^2 = 0.7071067812 x 0.0179491924 = 0.0126919957
    EXPECT_NEAR(MualemRelativeConductivity(0.5, 0.5, 0.5), 0.0126919957, 1e-10);
    EXPECT_DOUBLE_EQ(MualemRelativeConductivity(1, 1.0 / 3, 0.5), 1);
    EXPECT_DOUBLE_EQ(MualemRelativeConductivity(0, 1.0 / 3, 0.5), 0);
    // Rises with saturation.
    double previous = 0;
    for (int i = 1; i <= 100; ++i) {
        const double k = MualemRelativeConductivity(i / 100.0, 1.0 / 3, 0.5);
        EXPECT_GT(k, previous);
        previous = k;
    }
}

TEST(SoilPhysics, FreezingCurveAndItsSlope) {
    // u = 1, n = 2, m = 0.5: F = (1 / 2)^0.5 = 0.7071067812
    EXPECT_NEAR(UnfrozenFraction(1, 2, 0.5), 0.7071067812, 1e-10);
    EXPECT_DOUBLE_EQ(UnfrozenFraction(0, 1.5, 1.0 / 3), 1);
    // alpha 2, fT 1.22: S = 0.5 x 2 x 2 x 1.22 x 1 x 2^-1.5 = 2.44 x 0.3535533906 = 0.8626702731
    EXPECT_NEAR(UnfrozenFractionSlope(1, 2, 1.22, 2, 0.5), 0.8626702731, 1e-10);
    // No freezing scale, no slope (also for n below 1, where u^(n-1) diverges).
    EXPECT_EQ(UnfrozenFractionSlope(0, 0, 1.22, 1.5, 1.0 / 3), 0);
    EXPECT_EQ(UnfrozenFractionSlope(0, 2, 0, 0.8, 0.5), 0);

    // The slope is the derivative of the fraction with temperature, for T < 0
    // with u = -fT T alpha.
    const double alpha = 2, factor = 1.22, n = 1.5, m = 1 - 1 / n;
    for (double t : {-0.05, -0.2, -1.0, -4.0}) {
        const double h = 1e-6;
        const double up = UnfrozenFraction(std::fabs(factor * (t + h)) * alpha, n, m);
        const double down = UnfrozenFraction(std::fabs(factor * (t - h)) * alpha, n, m);
        const double slope = UnfrozenFractionSlope(std::fabs(factor * t) * alpha, alpha, factor, n, m);
        EXPECT_NEAR(slope, (up - down) / (2 * h), 1e-6 * std::max(1.0, slope)) << "T = " << t;
    }
}

TEST(SoilPhysics, FreezingShiftPieces) {
    EXPECT_EQ(FreezingShiftK1, 1.2999999999999998);
    EXPECT_NE(FreezingShiftK1, 1.3);
    EXPECT_EQ(FreezingShiftK3, 0.1499999999999999);
    EXPECT_EQ(FreezingShiftK4, 0.2999999999999998);

    const double tc = -1;
    EXPECT_EQ(FreezingShift(-0.5, tc), 0);  // warmer than the steepest point
    EXPECT_EQ(FreezingShift(tc, tc), 0);
    EXPECT_NEAR(FreezingShift(-2, tc), -2 + 1.15, 1e-15);  // colder than K1 Tc
    // Between K1 Tc and Tc: (T* - Tc) / 2.
    EXPECT_NEAR(FreezingShift(-1.2, tc), -0.1, 1e-12);
    // The pieces meet at K1 Tc.
    EXPECT_NEAR(FreezingShift(FreezingShiftK1 * tc, tc), FreezingShiftK1 * tc - 1.15 * tc, 1e-12);
    // Tc = 0 (no slope at all): everything below 0 is shifted by T* itself.
    EXPECT_EQ(FreezingShift(-10, 0), -10);
}

TEST(SoilPhysics, HeatCapacityOfPartlyFrozenSoil) {
    EXPECT_EQ(IceHeatCapacity(0, 2090, 1940), 2090);
    EXPECT_EQ(IceHeatCapacity(3, 2090, 1940), 2090);
    EXPECT_EQ(IceHeatCapacity(-25, 2090, 1940), 1940);
    EXPECT_DOUBLE_EQ(IceHeatCapacity(-10, 2090, 1940), 0.5 * 1940 + 0.5 * 2090);
    EXPECT_DOUBLE_EQ(IceHeatCapacity(-20, 2090, 1940), 1940);
    // 0.3 x 1000 x (0.5 x 4187 + 0.5 x 2015) + 1500 x 800 + 10 = 930300 + 1200000 + 10
    EXPECT_DOUBLE_EQ(VolumetricHeatCapacity(0.3, 1000, 0.5, 4187, 2015, 1500, 800, 10), 2130310);
    // Dry soil: only the solid part and the addend.
    EXPECT_DOUBLE_EQ(VolumetricHeatCapacity(0, 1000, 1, 4187, 2090, 1500, 800, 0), 1200000);
}
