#include "forcing/meteoint_postprocess.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

// The change of the month m is m (January 1 to December 12).
const double MonthNumbers[13] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};

TEST(MeteoPostProcess, DayChangeBetweenMonthCentres) {
    struct Case {
        const char* what;
        int day, month;
        double expected;
    } cases[] = {
        {"15 February, after a 31-day month", 15, 2, 2 * 30.0 / 31 + 1 * 1.0 / 31},
        {"16 April, a 30-day month", 16, 4, 4 * 29.0 / 30 + 5 * 1.0 / 30},
        {"1 March", 1, 3, 3 * 13.0 / 28 + 2 * 15.0 / 28},
        {"1 January takes December before it", 1, 1, 1 * 16.0 / 31 + 12 * 15.0 / 31},
        {"31 December takes January after it", 31, 12, 1 * 16.0 / 31 + 12 * 15.0 / 31},
        {"month 14 counts as February", 15, 14, 2 * 30.0 / 31 + 1 * 1.0 / 31},
    };
    for (const Case& c : cases) {
        EXPECT_NEAR(meteoint::ScenarioDayChange(MonthNumbers, c.day, c.month), c.expected, 1e-12) << c.what;
    }
    // A constant change stays constant on every day.
    double tens[13];
    for (double& v : tens) v = 1.1;
    for (int month = 1; month <= 12; ++month)
        for (int day = 1; day <= 31; ++day) EXPECT_NEAR(meteoint::ScenarioDayChange(tens, day, month), 1.1, 1e-12);
}

TEST(MeteoPostProcess, ScalingLimitsAndScenario) {
    struct Case {
        double value, scale, expected;
    } cases[] = {
        {-10000, 1, 0},  // no station in reach: below the lower limit
        {700, 1, 500},   // above the upper limit
        {250, 2, 500},   // scaled first, then limited
        {260, 2, 500},  {-0.5, 1, 0}, {12.5, 1, 12.5},
    };
    for (const Case& c : cases) EXPECT_EQ(meteoint::ScaleAndLimit(c.value, c.scale, 0, 0, 500, 500), c.expected);
    EXPECT_EQ(meteoint::ScaleAndLimit(3, 1, 5, -1, 4, 99), -1);  // the lower limit is tested first

    EXPECT_EQ(meteoint::ApplyScenario(10, 2, 1), 12);
    EXPECT_EQ(meteoint::ApplyScenario(10, 2, 6), 12);
    for (int method : {0, 2, 3, 4, 5}) EXPECT_EQ(meteoint::ApplyScenario(10, 2, method), 20);
    EXPECT_EQ(meteoint::NeutralScenarioChange(1), 0);
    EXPECT_EQ(meteoint::NeutralScenarioChange(3), 1);
}

TEST(MeteoPostProcess, NearestScenarioRow) {
    std::vector<meteoint::ScenarioRow> rows(3);
    rows[0].X = 0, rows[0].Y = 0;
    rows[1].X = 200, rows[1].Y = 0;
    rows[2].X = 0, rows[2].Y = 200;
    EXPECT_EQ(meteoint::NearestScenarioRow(rows, 10, 10), 0);
    EXPECT_EQ(meteoint::NearestScenarioRow(rows, 190, 0), 1);
    EXPECT_EQ(meteoint::NearestScenarioRow(rows, 100, 100), 2);   // equally near to all three: the last
    EXPECT_EQ(meteoint::NearestScenarioRow(rows, 3.2e7, 0), -1);  // beyond sqrt(1e15) m
    EXPECT_EQ(meteoint::NearestScenarioRow({}, 0, 0), -1);
}

}  // namespace
