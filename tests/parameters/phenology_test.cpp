// Dynamic phenology kernels and the daily rules of one cell, against
// hand-computed values.

#include "parameters/defltuzr_phenology.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace {

constexpr double NoData = -9999;

LanduseType Record(int method, const std::vector<int32_t>& days) {
    LanduseType R;
    R.Method = method;
    R.FixPointCount = static_cast<int32_t>(days.size());
    R.JulDays.assign(1, days.back() - 366);
    R.JulDays.insert(R.JulDays.end(), days.begin(), days.end());
    return R;
}

PhenologyCellWeather Weather(double T, double T7 = 0, double g = 0) {
    PhenologyCellWeather w;
    w.MeanTemperature = T;
    w.MovingMeanTemperature = T7;
    w.StressFactor = g;
    return w;
}

TEST(PhenologyKernels, ForcingRates) {
    EXPECT_NEAR(SigmoidForcingRate(23.4, 5), 14.2, 1e-12);
    EXPECT_NEAR(SigmoidForcingRate(13.4, 5), 28.4 / (1 + std::exp(1.85)), 1e-12);
    EXPECT_EQ(SigmoidForcingRate(5, 5), 0);
    EXPECT_EQ(SigmoidForcingRate(-3, 5), 0);
    EXPECT_EQ(SigmoidForcingRate(NAN, 5), 0);
}

TEST(PhenologyKernels, ChillRate) {
    const struct {
        double T, units;
    } cases[] = {{-5, 0}, {-3.4, 0}, {0.3, 0.5}, {4, 1}, {8, 0.5}, {12, 0}, {20, 0}};
    for (const auto& c : cases) EXPECT_NEAR(ChillRate(c.T, -3.4, 4, 12), c.units, 1e-12) << c.T;
}

TEST(PhenologyKernels, SoilMoistureStress) {
    // Halfway between HReduDry and 150 with weight 2: each rate counts twice.
    const double g = PhenologyStressFactor(true, (50 + 150) / 2.0, 50);
    EXPECT_NEAR(g, 0.5, 1e-15);
    EXPECT_NEAR(WeightedForcing(3, g, 2), 6, 1e-15);
    EXPECT_EQ(WeightedForcing(3, g, 0), 3);
    EXPECT_EQ(PhenologyStressFactor(false, 100, 50), 0);
    EXPECT_EQ(PhenologyStressFactor(true, 40, 50), 0);
    // No range above HReduDry: no stress instead of a division by zero.
    EXPECT_EQ(PhenologyStressFactor(true, 150, 150), 0);
    EXPECT_EQ(PhenologyStressFactor(true, 170, 160), 0);
}

TEST(PhenologyKernels, StartTimesSearch) {
    // L = 4; a record with three fix points has nodata in level 4.
    const double three[6] = {0, 10, 20, -1, NoData, 0};
    EXPECT_EQ(StartTimesSearch(three, 5, 4, NoData), 1);
    EXPECT_EQ(StartTimesSearch(three, 15, 4, NoData), 2);
    EXPECT_EQ(StartTimesSearch(three, 25, 4, NoData), 3);
    const double passed[6] = {0, 10, 20, 30, NoData, 0};
    EXPECT_EQ(StartTimesSearch(passed, 40, 4, NoData), 3);
    // With L fix points the top level ends the search.
    const double full[6] = {0, 10, 20, 30, 35, 0};
    EXPECT_EQ(StartTimesSearch(full, 40, 4, NoData), 5);
}

TEST(PhenologyRules, Method4ChillingAndThreshold) {
    LanduseType R = Record(LanduseMethodDynamicPhenology2, {1, 40, -1, 30, 366});
    R.DP2_t0_dorm = 280;
    R.DP2_t1_dorm = 44;
    R.DP2_T_Bf = 3;
    R.DP2_T_Bc = 4;
    R.DP2_Offset_1 = -3.4;
    R.DP2_Offset_2 = 12;
    R.DP2_Par_a = 20;
    R.DP2_Par_b = -0.1;
    R.JDReset_TStart = 300;

    PhenologyCellState s;
    s.StartDay = 0;
    AdvancePhenologyDay(R, 43, 5, NoData, Weather(0.3), s);  // chill 0.5, then the threshold
    EXPECT_NEAR(s.ChillingSum, 0.5, 1e-12);
    EXPECT_NEAR(s.ForcingThreshold, 20 * std::exp(-0.05), 1e-12);
    PhenologyCellState empty;
    AdvancePhenologyDay(R, 43, 5, NoData, Weather(12), empty);
    EXPECT_EQ(empty.ForcingThreshold, 20);  // no chill: Par_a
    // Between dormancy release and dormancy no chilling; the day before the
    // dormancy clears it.
    s.ChillingSum = 7;
    AdvancePhenologyDay(R, 100, 5, NoData, Weather(4), s);
    EXPECT_EQ(s.ChillingSum, 7);
    AdvancePhenologyDay(R, 279, 5, NoData, Weather(4), s);
    EXPECT_EQ(s.ChillingSum, 0);
    // Forcing after the reset until the cell threshold is passed.
    s = PhenologyCellState();
    s.ForcingThreshold = 20;
    AdvancePhenologyDay(R, 300, 5, NoData, Weather(21.4), s);
    EXPECT_EQ(s.StartDay, -1);
    EXPECT_EQ(s.ForcingSum, 0);
    R.JDReset_TStart = 10;
    AdvancePhenologyDay(R, 50, 5, NoData, Weather(21.4), s);  // 14.2
    AdvancePhenologyDay(R, 51, 5, NoData, Weather(21.4), s);  // 28.4
    EXPECT_EQ(s.StartDay, 51);
}

LanduseType Method6() {
    LanduseType R = Record(LanduseMethodDynamicPhenology4, {1, 40, -1, 30, 250});
    R.DP4_t0_dorm = 300;
    R.DP4_t1_dorm = 45;
    R.DP4_T0 = 5;
    R.DP4_T1 = 4;
    R.DP4_Par_a = 40;
    R.DP4_Par_b = -2;
    R.DP4_T_xylstop = 8;
    R.DP4_t_xs1 = 150;
    R.DP4_SPSLF = 5;
    R.JDReset_TStart = 320;
    return R;
}

TEST(PhenologyRules, Method6ThresholdStartAndLeafFall) {
    LanduseType R = Method6();
    double P[7] = {0, 1, 40, 120, 30, 250, 0};
    PhenologyCellState s;
    s.SampleDays = P;
    AdvancePhenologyDay(R, 44, 5, NoData, Weather(10), s);  // the day before release, no cold days
    EXPECT_EQ(s.ForcingThreshold, 40);
    s.ChillingSum = std::exp(2.0);
    AdvancePhenologyDay(R, 44, 5, NoData, Weather(10), s);
    EXPECT_NEAR(s.ForcingThreshold, 36, 1e-12);
    // Forcing above 4 degC: 30 + 10 > 36 on day 46; fix point 3 gets the day,
    // fix point 4 its nominal 30 days after it.
    AdvancePhenologyDay(R, 45, 5, NoData, Weather(34), s);
    EXPECT_EQ(s.StartDay, -1);
    AdvancePhenologyDay(R, 46, 5, NoData, Weather(14), s);
    EXPECT_EQ(s.StartDay, 46);
    EXPECT_EQ(P[3], 46);
    EXPECT_EQ(P[4], 76);

    // Leaf fall: five cold 7-day means in a row from day 150 on; a warm day
    // restarts the count. Fix point 5 moves to the day of the leaf fall.
    const double t7[9] = {5, 5, 5, 9, 5, 5, 5, 5, 5};
    for (int i = 0; i < 9; ++i) {
        AdvancePhenologyDay(R, 150 + i, 5, NoData, Weather(10, t7[i]), s);
        if (i < 8) {
            EXPECT_EQ(s.LeafFallDay, 0) << i;
        }
    }
    EXPECT_EQ(s.LeafFallDay, 158);
    EXPECT_EQ(s.ColdDayCount, 5);
    EXPECT_EQ(P[5], 158);
    EXPECT_EQ(P[4], 76);
    EXPECT_EQ(P[6], 0);  // the top level, beyond the record's fix points, is left alone
}

TEST(PhenologyRules, Method6LeafFallAtTheNominalDayMovesTheLaterFixPoint) {
    LanduseType R = Method6();
    R.DP4_SPSLF = 4;  // nominal day 30: passed at once
    double P[7] = {0, 1, 40, 120, 150, 250, NoData};
    PhenologyCellState s;
    s.SampleDays = P;
    s.StartDay = 120;
    s.ForcingThreshold = 1e9;
    AdvancePhenologyDay(R, 160, 6, NoData, Weather(10, 20), s);
    EXPECT_EQ(s.LeafFallDay, 160);
    EXPECT_EQ(P[5], 250 + 160 - 150);
    EXPECT_EQ(P[4], 160);
    EXPECT_EQ(P[3], 120);
    EXPECT_EQ(P[6], NoData);
}

TEST(PhenologyRules, Method5NewYearAndFixPoints) {
    LanduseType R = Record(LanduseMethodDynamicPhenology3, {1, 120, 200, 366});
    R.ForcingThreshold = {-1, -1, 50, -1, -1};
    R.DP1_T_Bf = 5;
    double P[6] = {50, 1, 80, 200, 366, 0};
    PhenologyCellState s;
    s.SampleDays = P;
    s.ForcingSum = 70;
    AdvancePhenologyDay(R, 1, 4, NoData, Weather(10), s);
    EXPECT_EQ(s.ForcingSum, 0);
    EXPECT_EQ(P[0], 0);
    EXPECT_EQ(P[1], 1);
    EXPECT_EQ(P[2], -1);  // waits for its threshold again
    EXPECT_EQ(P[3], 200);
    // Not reached by forcing: the nominal day is the latest day.
    AdvancePhenologyDay(R, 120, 4, NoData, Weather(5), s);
    EXPECT_EQ(P[2], 120);
    EXPECT_EQ(P[0], 50);
}

TEST(PhenologyRules, Method3AndFirstSeasons) {
    // Method 6 in its first season follows rule 3 and records its start in
    // the sample days.
    LanduseType R = Method6();
    R.DynamicPhenology = true;
    R.DP1_t1_dorm = 52;
    R.DP1_T_Bf = 5;
    R.FStar = 10;
    double P[7] = {0, 1, 40, -1, 30, 250, 0};
    PhenologyCellState s;
    s.SampleDays = P;
    AdvancePhenologyDay(R, 60, 5, NoData, Weather(23.4), s);
    EXPECT_EQ(s.StartDay, 60);
    EXPECT_EQ(P[3], 60);
    EXPECT_EQ(P[4], 90);
    AdvancePhenologyDay(R, 320, 5, NoData, Weather(23.4), s);
    EXPECT_EQ(s.StartDay, -1);
    EXPECT_EQ(P[3], -1);
    EXPECT_EQ(P[4], 30);

    // The first seasons end on the dormancy day of every class of the table.
    std::vector<LanduseType> table(4);
    table[2] = Method6();
    table[2].DynamicPhenology = true;
    table[3] = Record(LanduseMethodDynamicPhenology2, {1, 40, -1, 30, 366});
    table[3].DP2_t0_dorm = 280;
    table[3].DynamicPhenology = true;
    EndFirstSeasons(table, 300);
    EXPECT_FALSE(table[2].DynamicPhenology);
    EXPECT_TRUE(table[3].DynamicPhenology);
    EndFirstSeasons(table, 280);
    EXPECT_FALSE(table[3].DynamicPhenology);
}

}  // namespace
