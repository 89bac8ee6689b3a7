// Release rules of reservoirs: the worked release example by hand, the season
// blend, the week-day and hour switch, the limits of the release and of the
// abstractions that draw on a reservoir, and the checks of a rule section.

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <functional>
#include <string>
#include <vector>

#include "routing/reservoir_rules.h"

namespace {

RuleTable Parse(const std::vector<std::string>& lines, int minimumRows = 1) {
    RuleTable table;
    const std::string problem = ParseRuleTable(lines, minimumRows, table);
    EXPECT_EQ(problem, "");
    return table;
}

// (0 m3, 0 m3/s) and (100000 m3, 10 m3/s), released on every day and hour.
RuleTable Linear() { return Parse({"2", "0 0", "100000 10", "", "", ""}); }

double Release(const RuleTable& table, double volume, double inflow, double minutes, double dTmin, int year = 2001,
               int month = 6, int day = 1, int hour = 12) {
    std::vector<double> drawn;
    return RuleRelease(table, volume, inflow, minutes, dTmin, year, month, day, hour, nullptr, {}, drawn);
}

}  // namespace

// Six sub-steps of 600 s in an hour from 50000 m3 with 2 m3/s inflow.
TEST(ReservoirRules, ReleaseInSubStepsByHand) {
    const RuleTable table = Linear();
    const double expected[] = {5.12, 4.9328, 4.756832, 4.59142208, 4.4359367552, 4.289780549888};
    double volume = 50000;
    for (double q : expected) {
        const double got = Release(table, volume, 2, 10, 600);
        EXPECT_NEAR(got, q, 1e-12);
        volume += (2 - got) * 600;
    }
    const double mean = Release(table, 50000, 2, 60, 600);
    EXPECT_NEAR(mean, 4.687795, 5e-7);
    EXPECT_NEAR(50000 + 2 * 3600 - mean * 3600, 40323.937, 1e-3);
    EXPECT_NEAR(50000 + 2 * 3600 - mean * 3600, volume, 1e-9);
}

TEST(ReservoirRules, SeasonColumnsAndTheirBlend) {
    const RuleTable table = Parse({"2 90 270", "0 0 0", "100000 10 40", "", "", ""});
    struct Case {
        int day;
        int k;
        double w;
    } cases[] = {{60, 1, 1.0}, {90, 1, 1.0}, {180, 2, 0.5}, {270, 2, 1.0}, {300, 2, 7.0 / 6.0}};
    for (const Case& c : cases) {
        int k = 0;
        double w = 0;
        RuleColumns(table, c.day, k, w);
        EXPECT_EQ(k, c.k) << c.day;
        EXPECT_NEAR(w, c.w, 1e-15) << c.day;
    }
    // Day 300 extrapolates: 7/6 of the second column and -1/6 of the first.
    EXPECT_NEAR(BlendedRelease(table, 2, 7.0 / 6.0, 1, 1, 50000), 7.0 / 6.0 * 20 - 1.0 / 6.0 * 5, 1e-12);
    // A one-column table uses its column all year, whatever key it names.
    const RuleTable one = Parse({"2 150", "0 0", "100000 10", "", "", ""});
    EXPECT_EQ(one.Columns, 1);
    int k = 0;
    double w = 0;
    RuleColumns(one, 300, k, w);
    EXPECT_EQ(k, 1);
    EXPECT_EQ(w, 1.0);
    // Day of year with February always 28 days.
    EXPECT_EQ(RuleDayOfYear(3, 1), 60);
    EXPECT_EQ(RuleDayOfYear(12, 31), 365);
}

TEST(ReservoirRules, WeekDaysFromTheCalendarWhateverTheTimeZone) {
    const char* previous = std::getenv("TZ");
    const std::string saved = previous ? previous : "";
    for (const char* zone : {"UTC", "Pacific/Auckland"}) {
        setenv("TZ", zone, 1);
        tzset();
        EXPECT_EQ(RuleWeekDay(2001, 1, 1, 0), 7) << zone;  // the hour before: Sunday 31 December 2000
        EXPECT_EQ(RuleWeekDay(2001, 1, 1, 1), 1) << zone;
        EXPECT_EQ(RuleWeekDay(2001, 1, 1, 24), 1) << zone;
        EXPECT_EQ(RuleWeekDay(2024, 2, 29, 12), 4) << zone;
        EXPECT_EQ(RuleWeekDay(1970, 1, 1, 5), 4) << zone;
    }
    if (previous) {
        setenv("TZ", saved.c_str(), 1);
    } else {
        unsetenv("TZ");
    }
    tzset();
}

TEST(ReservoirRules, SwitchTableAndLimits) {
    const RuleTable always = Linear();
    const RuleTable workdays = Parse({"2", "0 0", "100000 10", "WeekDays = 12345", "start_hour = 8", "stop_hour = 17"});
    const RuleTable maskOnly = Parse({"2", "0 0", "100000 10", "WeekDays = 1234567", "", ""});
    // Monday 4 June 2001.
    struct Case {
        const char* what;
        const RuleTable* table;
        double volume, inflow;
        int month, day, hour;
        double release;
    } cases[] = {
        {"no WeekDays line: every hour", &always, 50000, 0, 6, 4, 3, -1},
        {"working day within the hours", &workdays, 50000, 0, 6, 4, 9, -1},
        {"working day before the start", &workdays, 50000, 0, 6, 4, 7, 0},
        {"working day after the stop", &workdays, 50000, 0, 6, 4, 19, 0},
        {"Sunday", &workdays, 50000, 0, 6, 3, 12, 0},
        {"mask without hour lines: nothing", &maskOnly, 50000, 0, 6, 4, 12, 0},
        {"zero date: switch off", &always, 50000, 0, 0, 0, 0, 0},
        {"above the table: the inflow", &workdays, 200000, 3, 6, 3, 12, 3},
        {"above the table in a zero date", &always, 200000, 3, 0, 0, 0, 3},
        {"at the first volume: nothing", &always, 0, 0, 6, 4, 12, 0},
    };
    for (const Case& c : cases) {
        const double got = Release(*c.table, c.volume, c.inflow, 60, 3600, 2001, c.month, c.day, c.hour);
        if (c.release < 0) {
            EXPECT_NEAR(got, 1e-4 * c.volume, 1e-9) << c.what;
        } else {
            EXPECT_EQ(got, c.release) << c.what;
        }
    }
    // A step shorter than the sub-step has no sub-step: nothing is released.
    EXPECT_EQ(Release(always, 50000, 2, 5, 600), 0.0);
    // A negative blended release counts as 0; a release never takes more
    // than is there: 10 m3/s asked of 100 m3 over 600 s.
    const RuleTable negative = Parse({"2", "0 -5", "100000 -1", "", "", ""});
    EXPECT_EQ(Release(negative, 50000, 0, 60, 600), 0.0);
    const RuleTable steep = Parse({"2", "0 10", "100000 10", "", "", ""});
    EXPECT_NEAR(Release(steep, 100, 0, 10, 600), 100.0 / 600, 1e-15);
}

// A lake above its table releases by the last row extended with the slope
// of the last interval, and at least its inflow once its level is half a
// metre above the threshold.
TEST(ReservoirRules, LakeAboveItsTable) {
    const RuleTable table = Parse({"2", "0 0", "100000 10", "", "", ""}, 2);
    LakeRelease lake;
    lake.Level = [](double v) { return 500 + v / 100000; };  // 1 m per 100000 m3
    lake.ThresholdLevel = 501;
    std::vector<double> drawn;
    auto release = [&](double volume, double inflow) {
        return RuleRelease(table, volume, inflow, 10, 600, 2001, 6, 4, 12, &lake, {}, drawn);
    };
    // 120000 m3 + 600 s of 1 m3/s: 10 + 1e-4 * 20600 = 12.06 m3/s.
    EXPECT_NEAR(release(120000, 1), 12.06, 1e-12);
    // Inflow above that, level 501.206 m: not yet half a metre above.
    EXPECT_NEAR(release(120000, 20), 10 + 1e-4 * 32000, 1e-12);
    // Level 501.612 m: the inflow passes.
    EXPECT_EQ(release(150000, 20), 20.0);
    // A reservoir passes its inflow whatever its level.
    EXPECT_EQ(RuleRelease(table, 120000, 1, 10, 600, 2001, 6, 4, 12, nullptr, {}, drawn), 1.0);
}

// Draws (abstractions on the reservoir) take at most what is left.
TEST(ReservoirRules, DrawsNeverTakeWaterThatIsNotThere) {
    const RuleTable table = Linear();
    std::vector<double> volumes;
    const std::vector<std::function<double(double)>> draws = {[&](double v) {
        volumes.push_back(v);
        return 1.0;
    }};
    std::vector<double> drawn;
    // Empty reservoir, 60 sub-steps: nothing taken, the volume stays 0.
    EXPECT_EQ(RuleRelease(table, 0, 0, 60, 60, 2001, 6, 4, 12, nullptr, draws, drawn), 0.0);
    ASSERT_EQ(drawn.size(), 1u);
    EXPECT_EQ(drawn[0], 0.0);
    for (double v : volumes) EXPECT_GE(v, 0.0);
    // 1000 m3 and a wish of 1 m3/s over 60 sub-steps of 60 s: the release
    // and the draw share the water and nothing more.
    volumes.clear();
    const double release = RuleRelease(table, 1000, 0, 60, 60, 2001, 6, 4, 12, nullptr, draws, drawn);
    EXPECT_NEAR(release * 3600 + drawn[0], 1000, 1e-9);
    EXPECT_LE(drawn[0], 1000.0);
    for (double v : volumes) EXPECT_GE(v, 0.0);
}

TEST(ReservoirRules, SectionChecks) {
    struct Case {
        const char* what;
        std::vector<std::string> lines;
        int minimumRows;
        const char* problem;  // part of the text, "" for a good table
    } cases[] = {
        {"good", {"2 90 270", "0 0 0", "100 1 2", "WeekDays = 12345 67", "start_hour = 0 0", "stop_hour = 24 24"}, 1, ""},
        {"no rows", {"0", "", "", ""}, 1, "0 rows"},
        {"a lake needs two rows", {"1", "0 0", "", "", ""}, 2, "at least 2"},
        {"no row count", {"rows", "0 0"}, 1, "number of rows"},
        {"short row", {"2 90 270", "0 0 0", "100 1", "", "", ""}, 1, "row 2 holds 2 numbers, 3"},
        {"missing row", {"2"}, 1, "row 1 holds 0"},
        {"equal keys", {"2 90 90", "0 0 0", "100 1 2", "", "", ""}, 1, "strictly ascending"},
        {"volumes descend", {"2", "100 0", "50 1", "", "", ""}, 1, "row 2 is below"},
        {"too few masks", {"2 90 270", "0 0 0", "100 1 2", "WeekDays = 12345", "", ""}, 1, "WeekDays"},
        {"bad hours", {"2", "0 0", "100 1", "WeekDays = 1", "start_hour = x", ""}, 1, "start_hour"},
    };
    for (const Case& c : cases) {
        RuleTable table;
        const std::string problem = ParseRuleTable(c.lines, c.minimumRows, table);
        if (std::string(c.problem).empty()) {
            EXPECT_EQ(problem, "") << c.what;
        } else {
            EXPECT_NE(problem.find(c.problem), std::string::npos) << c.what << ": " << problem;
        }
    }
    RuleTable table;
    ASSERT_EQ(ParseRuleTable({"2 90 270", "0 0 0", "100 1 2", "WeekDays = 12345 67", "start_hour = 0 1",
                              "stop_hour = 23 24"},
                             1, table),
              "");
    EXPECT_EQ(table.Mask[2], 67);
    EXPECT_EQ(table.StartHour[2], 1);
    EXPECT_EQ(table.StopHour[1], 23);
    EXPECT_DOUBLE_EQ(table.slope[2][1], 0.02);
    EXPECT_EQ(table.slope[2][2], 0.0);
}
