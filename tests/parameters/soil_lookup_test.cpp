#include <gtest/gtest.h>
#include <omp.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "parameters/soil.h"

namespace {

// theta_s 0.45, theta_r 0.05, alpha 2 1/m, n 1.5 (m = 1/3), tau 0.5, ten
// layers of 0.2 m under a 5 cm top layer.
SoilType Loam() {
    SoilType soil(1);
    soil.ParseOldFormat(nullptr, "1 loam 25 35 0.0001 300 1 0.45 0.05 2.0 1.5 10 0.2 1000 0.5\n", 2);
    return soil;
}

SoilType FrozenLoam(double factor = 1.22) {
    SoilType soil = Loam();
    for (int l = 1; l <= soil.LayerCount; ++l) soil.MakeFreezingTables(l, factor);
    return soil;
}

const double* Axis = SoilType::SuctionAxis;
constexpr double Nan = std::numeric_limits<double>::quiet_NaN();

}  // namespace

TEST(SoilHydraulicTables, EndsAndPointsAgainstHandValues) {
    const SoilType soil = Loam();
    EXPECT_EQ(soil.ConductTablePoints, 30);
    EXPECT_EQ(soil.SuctionTablePoints, 30);
    for (int l = 0; l <= soil.LayerCount; ++l) {
        const double* w = soil.ThetaSuctionTable(l);
        const double* v = soil.ThetaConductTable(l);
        const double* k = soil.KrelTable(l);
        EXPECT_EQ(w[0], 0.45);
        EXPECT_EQ(w[30], 0.05);  // exactly theta_r, not the curve at 150 m
        EXPECT_EQ(k[30], 0);
        for (int i = 0; i <= 30; ++i) EXPECT_EQ(v[i], w[i]) << "layer " << l << " point " << i;
        // W = 0.40 (1 / (1 + (2 h)^1.5))^(1/3) + 0.05, K = Se^0.5 (1 - (1 - Se^3)^(1/3))^2
        EXPECT_NEAR(w[12], 0.438739368121182, 1e-14);  // h = 0.1
        EXPECT_NEAR(w[19], 0.2884910295282894, 1e-14);  // h = 1.2
        EXPECT_NEAR(w[22], 0.1995756481539146, 1e-14);  // h = 3.45
        EXPECT_NEAR(k[12], 0.31511876894132773, 1e-14);
        EXPECT_NEAR(k[19], 0.004498588142571186, 1e-15);
        EXPECT_NEAR(w[1], 0.45, 1e-15);
        EXPECT_NEAR(k[1], 1, 1e-15);
    }
    EXPECT_EQ(Axis[1], 0);
    EXPECT_EQ(Axis[2], 0.0005);
    EXPECT_EQ(Axis[22], 3.45);
    EXPECT_EQ(Axis[30], 150);
}

TEST(SoilHydraulicLookups, SuctionFromTheta) {
    const SoilType soil = Loam();
    const double* w = soil.ThetaSuctionTable(3);
    EXPECT_NEAR(soil.SuctionFromTheta(3, 0.45), 0, 1e-12);
    EXPECT_EQ(soil.SuctionFromTheta(3, 0.5), 0);
    EXPECT_EQ(soil.SuctionFromTheta(3, 0.05), 150);
    EXPECT_EQ(soil.SuctionFromTheta(3, 0.01), 150);
    EXPECT_EQ(soil.SuctionFromTheta(3, w[5]), 0.005);
    // Halfway between two points in water content is halfway in suction.
    EXPECT_NEAR(soil.SuctionFromTheta(3, (w[19] + w[20]) / 2), 1.4, 1e-12);
    EXPECT_TRUE(std::isnan(soil.SuctionFromTheta(3, Nan)));
}

TEST(SoilHydraulicLookups, KrelFromTheta) {
    const SoilType soil = Loam();
    const double* w = soil.ThetaConductTable(2);
    const double* k = soil.KrelTable(2);
    EXPECT_EQ(soil.KrelFromTheta(2, 0.45, 0.45), 1);
    EXPECT_EQ(soil.KrelFromTheta(2, 0.45, w[12]), k[12]);
    EXPECT_EQ(soil.KrelFromTheta(2, w[12], 0.45), k[12]);  // the smaller of the two
    EXPECT_EQ(soil.KrelFromTheta(2, 0.049, 0.3), 0);
    EXPECT_EQ(soil.KrelFromTheta(2, 0.3, 0.01), 0);
    EXPECT_EQ(soil.KrelFromTheta(2, 0.05, 0.05), 0);
    EXPECT_NEAR(soil.KrelFromTheta(2, (w[12] + w[13]) / 2, 1), (k[12] + k[13]) / 2, 1e-15);
    // A NaN in either argument: the first one counts.
    EXPECT_EQ(soil.KrelFromTheta(2, 0.45, Nan), 1);
    EXPECT_TRUE(std::isnan(soil.KrelFromTheta(2, Nan, 0.45)));
}

TEST(SoilHydraulicLookups, ThetaFromSuction) {
    const SoilType soil = Loam();
    const double* w = soil.ThetaSuctionTable(1);
    EXPECT_EQ(soil.ThetaFromSuction(1, 0), w[1]);
    EXPECT_EQ(soil.ThetaFromSuction(1, -3), w[1]);
    EXPECT_NEAR(soil.ThetaFromSuction(1, 0), 0.45, 1e-15);
    // Points closer than 1 mm are not interpolated.
    EXPECT_EQ(soil.ThetaFromSuction(1, 0.0003), w[1]);
    EXPECT_EQ(soil.ThetaFromSuction(1, 0.0007), w[2]);
    EXPECT_EQ(soil.ThetaFromSuction(1, 0.001), w[2]);
    EXPECT_NEAR(soil.ThetaFromSuction(1, 0.0015), (w[3] + w[4]) / 2, 1e-15);  // a 1 mm gap is interpolated
    // 1.5 m: a quarter of the way from 1.6 m back to 1.2 m.
    EXPECT_NEAR(soil.ThetaFromSuction(1, 1.5), 0.25 * 0.2884910295282894 + 0.75 * 0.2619224170302491, 1e-12);
    EXPECT_EQ(soil.ThetaFromSuction(1, 150), 0.05);
    EXPECT_EQ(soil.ThetaFromSuction(1, 200), 0.05);
    EXPECT_TRUE(std::isnan(soil.ThetaFromSuction(1, Nan)));
}

TEST(SoilHydraulicLookups, RoundTripAndMonotonicity) {
    const SoilType soil = Loam();
    const double m = 1 - 1 / 1.5;
    // Suction -> water content -> suction returns the suction wherever the
    // table interpolates (above 1 mm).
    for (double h = 0.0011; h < 150; h *= 1.07) {
        const double theta = soil.ThetaFromSuction(4, h);
        EXPECT_NEAR(soil.SuctionFromTheta(4, theta), h, 1e-9 * std::max(1.0, h)) << "h = " << h;
        // Between the points the table stays close to the closed-form curve.
        if (h < 100) {
            const double exact = 0.40 * std::pow(1 / (1 + std::pow(2 * h, 1.5)), m) + 0.05;
            EXPECT_NEAR(theta, exact, 0.01) << "h = " << h;
        }
    }
    double lastTheta = 1, lastSuction = 1e9, lastK = -1;
    for (int i = 0; i <= 2000; ++i) {
        const double h = i * 0.08;
        const double theta = soil.ThetaFromSuction(4, h);
        EXPECT_LE(theta, lastTheta) << "h = " << h;
        lastTheta = theta;
        const double t = 0.04 + i * 0.0002;  // 0.04 .. 0.44
        const double s = soil.SuctionFromTheta(4, t);
        const double k = soil.KrelFromTheta(4, t, t);
        EXPECT_LE(s, lastSuction) << "theta = " << t;
        EXPECT_GE(k, lastK) << "theta = " << t;
        EXPECT_GE(k, 0);
        EXPECT_LE(k, 1);
        lastSuction = s;
        lastK = k;
    }
}

TEST(SoilFreezingTables, ShapeAgainstHandValues) {
    const SoilType soil = FrozenLoam();
    const int nf = soil.FreezingSteps;
    ASSERT_EQ(nf, 1000);
    for (int l = 1; l <= soil.LayerCount; ++l) {
        ASSERT_TRUE(soil.FreezingTablesReady(l));
        const double* f = soil.UnfrozenFractionTable(l);
        const double* s = soil.UnfrozenSlopeTable(l);
        const double* z = soil.FreezingShiftTable(l);
        EXPECT_EQ(f[0], 1);
        EXPECT_EQ(s[0], 0);
        // T = -1: u = 1.22 x 1 x 2 = 2.44, F = (1 / (2.44^1.5 + 1))^(1/3)
        EXPECT_NEAR(f[100], 0.5923469045602052, 1e-14);
        EXPECT_NEAR(s[100], 0.23461687022444788, 1e-14);
        // Steepest slope where u^1.5 = (n - 1) / (m n + 1) = 1/3, that is at
        // T = -(1/3)^(2/3) / 2.44 = -0.19703 (on the 0.01 grid: -0.20).
        int steepest = 1;
        for (int i = 1; i <= nf; ++i) {
            if (s[i] > s[steepest]) steepest = i;
        }
        EXPECT_NEAR(steepest * -0.01, -0.19703, 0.01);
        // The shift runs from T* = -10 well below the steepest point up to 0.
        EXPECT_NEAR(z[0], -10 - 1.15 * -0.19703, 0.012);
        EXPECT_EQ(z[nf], 0);
        for (int i = 1; i <= nf; ++i) {
            EXPECT_GE(z[i], z[i - 1]) << "i = " << i;
            EXPECT_LE(z[i], 0);
            EXPECT_LE(f[i], f[i - 1]);
        }
    }
    EXPECT_FALSE(soil.FreezingTablesReady(0));  // the soil model fills layers 1..N only
}

TEST(SoilFreezingTables, NoFreezingScaleGivesFlatTables) {
    const SoilType soil = FrozenLoam(0);
    const double* s = soil.UnfrozenSlopeTable(5);
    const double* z = soil.FreezingShiftTable(5);
    for (int i = 0; i <= soil.FreezingSteps; ++i) {
        EXPECT_EQ(s[i], 0);
        EXPECT_DOUBLE_EQ(z[i], -10);
    }
}

TEST(SoilFreezingLookups, UnfrozenFractionAndSlope) {
    const SoilType soil = FrozenLoam();
    const int n = soil.LayerCount;
    const double* f = soil.UnfrozenFractionTable(1);
    const double* s = soil.UnfrozenSlopeTable(1);
    const double* z = soil.FreezingShiftTable(1);
    std::vector<double> temperature(n + 1), theta(n + 1, 0.45), fraction(n + 1, -7), slope(n + 1, -7);

    struct Case {
        double t, theta, fraction, slope;
    };
    const Case cases[] = {
        {0.5, 0.45, 1, 0},
        {0, 0.45, 1, 0},  // not below 0 after the shift
        {-1, 0.45, f[100], s[100]},  // saturated: no shift, the table point itself
        {-12, 0.45, 0, 0},
        {-12, 0.2, 0, 0},
        {-5, 0.05, 1, 0},  // dry soil: shifted by |Z[0]|, still above 0
    };
    for (const auto& c : cases) {
        for (int l = 1; l <= n; ++l) {
            temperature[l] = c.t;
            theta[l] = c.theta;
        }
        soil.CalcUnfrozenFraction(fraction.data(), temperature.data(), theta.data());
        soil.CalcFreezingSlope(slope.data(), temperature.data(), theta.data());
        for (int l = 1; l <= n; ++l) {
            EXPECT_DOUBLE_EQ(fraction[l], c.fraction) << "T = " << c.t << " theta = " << c.theta;
            EXPECT_DOUBLE_EQ(slope[l], c.slope) << "T = " << c.t << " theta = " << c.theta;
        }
        EXPECT_EQ(fraction[0], -7);  // entry 0 is not touched
    }

    // At -10 the fraction is 0 while the slope is still a table value.
    for (int l = 1; l <= n; ++l) temperature[l] = -10;
    soil.CalcUnfrozenFraction(fraction.data(), temperature.data(), theta.data());
    soil.CalcFreezingSlope(slope.data(), temperature.data(), theta.data());
    EXPECT_EQ(fraction[1], 0);
    EXPECT_GT(slope[1], 0);

    // Dry soil at -9.9: T' = -9.9 + |Z[0]|, interpolated between two points.
    for (int l = 1; l <= n; ++l) {
        temperature[l] = -9.9;
        theta[l] = 0.05;
    }
    soil.CalcUnfrozenFraction(fraction.data(), temperature.data(), theta.data());
    const double p = (-9.9 + std::fabs(z[0])) * 1000 / -10;
    const int k = static_cast<int>(p);
    EXPECT_NEAR(fraction[1], f[k + 1] * (p - k) + f[k] * (1 - (p - k)), 1e-15);

    // Without temperatures nothing is written.
    std::vector<double> untouched(n + 1, -3);
    soil.CalcUnfrozenFraction(untouched.data(), nullptr, theta.data());
    soil.CalcFreezingSlope(untouched.data(), nullptr, theta.data());
    for (double v : untouched) EXPECT_EQ(v, -3);

    // The fraction never rises as the soil gets colder, and stays in [0, 1].
    for (double water : {0.06, 0.2, 0.35, 0.45}) {
        double last = 1;
        for (int i = 0; i <= 1100; ++i) {
            for (int l = 1; l <= n; ++l) {
                temperature[l] = -i * 0.01;
                theta[l] = water;
            }
            soil.CalcUnfrozenFraction(fraction.data(), temperature.data(), theta.data());
            EXPECT_LE(fraction[3], last + 1e-15) << "T = " << temperature[3] << " theta = " << water;
            EXPECT_GE(fraction[3], 0);
            last = fraction[3];
        }
    }
}

TEST(SoilHeat, HeatCapacityPerLayer) {
    SoilType soil = Loam();
    const int n = soil.LayerCount;
    for (int l = 0; l <= n; ++l) {
        soil.DryDensity[l] = 1500;
        soil.DryHeatCapacity[l] = 800;
    }
    std::vector<double> t(n + 1, 0), out(n + 1, 0), f(n + 1, 0.5), add(n + 1, 0), theta(n + 1, 0.3);
    t[1] = -10;
    t[2] = -25;
    t[3] = 0;
    t[4] = 4;
    add[4] = 50;
    soil.CalcHeatCapacity(t.data(), out.data(), f.data(), add.data(), theta.data(), 1000, 4187, 2090, 1940);
    // 0.3 x 1000 x (0.5 x 4187 + 0.5 x ci) + 1500 x 800 + addend
    EXPECT_DOUBLE_EQ(out[1], 300 * (2093.5 + 0.5 * 2015) + 1.2e6);
    EXPECT_DOUBLE_EQ(out[2], 300 * (2093.5 + 0.5 * 1940) + 1.2e6);
    EXPECT_DOUBLE_EQ(out[3], 300 * (2093.5 + 0.5 * 2090) + 1.2e6);
    EXPECT_DOUBLE_EQ(out[4], 300 * (2093.5 + 0.5 * 2090) + 1.2e6 + 50);
    EXPECT_EQ(out[0], 0);
}

TEST(SoilHeat, ConductivityPowersArePreparedPerLayer) {
    SoilType soil = Loam();
    EXPECT_EQ(soil.SolidConductivityPower[1], -1);
    for (int l = 0; l <= soil.LayerCount; ++l) soil.DryThermalConduct[l] = 0.58;
    soil.theta_sat[7] = 0.3;
    soil.PrepareConductivityPowers(0.5562);
    EXPECT_NEAR(soil.SolidConductivityPower[1], 0.7411146468982309, 1e-15);  // 0.58^0.55
    EXPECT_NEAR(soil.WaterConductivityPower[1], 0.767987131578487, 1e-15);   // 0.5562^0.45
    EXPECT_NEAR(soil.SolidConductivityPower[7], std::pow(0.58, 0.7), 1e-15);
    EXPECT_NEAR(soil.WaterConductivityPower[7], std::pow(0.5562, 0.3), 1e-15);
}

TEST(SoilLookupDeathTest, MisuseStopsWithFileAndLine) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const SoilType soil = Loam();
    EXPECT_DEATH(soil.SuctionFromTheta(11, 0.3), "soil_lookup.cpp:[0-9]+: soil type 1 has no layer 11");
    EXPECT_DEATH(soil.ThetaFromSuction(-1, 0.3), "has no layer -1");
    std::vector<double> t(11, -1), theta(11, 0.3), out(11);
    EXPECT_DEATH(soil.CalcUnfrozenFraction(out.data(), t.data(), theta.data()),
                 "freezing tables of soil type 1, layer 1 are used before they were made");
}

// Every lookup from many threads at once gives bit for bit what one thread
// gives.
TEST(SoilLookupsParallel, ManyThreadsEqualOneThread) {
    const SoilType soil = FrozenLoam();
    const int n = soil.LayerCount;
    const int cells = 20000;
    auto compute = [&](std::vector<double>& result, int threads) {
        result.assign(static_cast<size_t>(cells) * (4 + 3 * n), 0);
#pragma omp parallel for schedule(static) num_threads(threads)
        for (int c = 0; c < cells; ++c) {
            double* r = &result[static_cast<size_t>(c) * (4 + 3 * n)];
            const int layer = 1 + c % n;
            const double theta = 0.04 + 0.42 * ((c * 7919) % cells) / cells;
            const double h = 160.0 * ((c * 104729) % cells) / cells;
            r[0] = soil.SuctionFromTheta(layer, theta);
            r[1] = soil.KrelFromTheta(layer, theta, theta + 0.01);
            r[2] = soil.ThetaFromSuction(layer, h);
            r[3] = soil.GetKsat()[layer];
            std::vector<double> t(n + 1), w(n + 1), f(n + 1), s(n + 1), cap(n + 1), add(n + 1, 1);
            for (int l = 1; l <= n; ++l) {
                t[l] = 2 - 13.0 * ((c * 31 + l * 17) % 977) / 977;
                w[l] = 0.05 + 0.4 * ((c * 13 + l * 5) % 101) / 100;
            }
            soil.CalcUnfrozenFraction(f.data(), t.data(), w.data());
            soil.CalcFreezingSlope(s.data(), t.data(), w.data());
            soil.CalcHeatCapacity(t.data(), cap.data(), f.data(), add.data(), w.data(), 1000, 4187, 2090, 1940);
            for (int l = 1; l <= n; ++l) {
                r[4 + 3 * (l - 1)] = f[l];
                r[5 + 3 * (l - 1)] = s[l];
                r[6 + 3 * (l - 1)] = cap[l];
            }
        }
    };
    std::vector<double> serial, parallel;
    compute(serial, 1);
    compute(parallel, 16);
    ASSERT_EQ(serial.size(), parallel.size());
    EXPECT_EQ(std::memcmp(serial.data(), parallel.data(), serial.size() * sizeof(double)), 0);
    // The inputs reach every branch: frozen and unfrozen layers both occur.
    int frozen = 0, thawed = 0;
    for (size_t i = 4; i < serial.size(); i += 4 + 3 * n) {
        frozen += serial[i] < 1;
        thawed += serial[i] == 1;
    }
    EXPECT_GT(frozen, 0);
    EXPECT_GT(thawed, 0);
}

TEST(SoilHydraulicTables, SuctionCurveSteepnessFollowsTheTable) {
    // Steepest between 100 and 125 m: 25 m over W(100) - W(125), with
    // W(h) = 0.40 (1 / (1 + (alpha h)^1.5))^(1/3) + 0.05.
    auto W = [](double alpha, double h) { return 0.40 * std::cbrt(1 / (1 + std::pow(alpha * h, 1.5))) + 0.05; };
    SoilType soil = Loam();
    EXPECT_NEAR(soil.SuctionCurveSteepness(3), 25 / (W(2, 100) - W(2, 125)), 1e-6);  // 8375.63
    // A layer rebuilt with another alpha answers for its new table.
    soil.alpha[3] = 0.5;
    soil.MakeHydraulicTables(3);
    EXPECT_NEAR(soil.SuctionCurveSteepness(3), 25 / (W(0.5, 100) - W(0.5, 125)), 1e-6);  // 4199.60
    EXPECT_NEAR(soil.SuctionCurveSteepness(2), 25 / (W(2, 100) - W(2, 125)), 1e-6);
    // Layers without a table promise nothing.
    SoilType empty(2);
    empty.CreateLayers(2, 0);
    EXPECT_LT(empty.SuctionCurveSteepness(1), 0);
}

TEST(SoilFreezingLookups, FractionAndSlopeTogetherAsApart) {
    // Every layer of a column takes another temperature and water content:
    // above 0, at and beyond the coldest temperature of the tables, in the
    // tables, not a number.
    const SoilType soil = FrozenLoam();
    const int n = soil.LayerCount;
    const double temperatures[] = {0.5, 0, -0.0, -0.3, -1, -4.321, -9.99, -10, -10.5, -25, Nan};
    const double contents[] = {0.45, 0.3, 0.2, 0.051, 0.05, 0.02, 0.5, Nan};
    std::vector<double> T(n + 1), theta(n + 1);
    int k = 0;
    for (int round = 0; round < 12; ++round) {
        for (int l = 1; l <= n; ++l, ++k) {
            T[l] = temperatures[k % std::size(temperatures)];
            theta[l] = contents[(k / 3) % std::size(contents)];
        }
        std::vector<double> fraction(n + 1, -7), slope(n + 1, -7), bothFraction(n + 1, -7), bothSlope(n + 1, -7);
        soil.CalcUnfrozenFraction(fraction.data(), T.data(), theta.data());
        soil.CalcFreezingSlope(slope.data(), T.data(), theta.data());
        soil.CalcUnfrozenFractionAndSlope(bothFraction.data(), bothSlope.data(), T.data(), theta.data());
        for (int l = 1; l <= n; ++l) {
            EXPECT_EQ(std::memcmp(&fraction[l], &bothFraction[l], sizeof(double)), 0)
                << "T " << T[l] << ", theta " << theta[l] << ": " << fraction[l] << " / " << bothFraction[l];
            EXPECT_EQ(std::memcmp(&slope[l], &bothSlope[l], sizeof(double)), 0)
                << "T " << T[l] << ", theta " << theta[l] << ": " << slope[l] << " / " << bothSlope[l];
        }
    }
}

// The content at field capacity kept per layer is the table's own
// interpolation at that suction.
TEST(SoilHydraulicLookups, FieldCapacityContentIsTheTablesInterpolation) {
    constexpr int N = SoilType::TablePoints;
    const SoilType soil = Loam();
    for (int l = 0; l <= soil.LayerCount; ++l) {
        const double* w = soil.ThetaSuctionTable(l);
        int j = 1;
        while (j < N - 1 && !(Axis[j + 1] >= SoilType::FieldCapacitySuction)) ++j;
        const double weight = (SoilType::FieldCapacitySuction - Axis[j]) / (Axis[j + 1] - Axis[j]);
        EXPECT_EQ(soil.ThetaFromSuction(l, SoilType::FieldCapacitySuction), w[j] * (1 - weight) + w[j + 1] * weight);
        EXPECT_NEAR(soil.ThetaFromSuction(l, std::nextafter(SoilType::FieldCapacitySuction, 0.0)),
                    soil.ThetaFromSuction(l, SoilType::FieldCapacitySuction), 1e-12);
    }
}
