// Routed against observed discharge: each step compared with the observation
// of its own date, the R-square offset, the efficiency tables at the end, and
// observed discharge replacing the routed input of a gauged channel.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "framework/routstatistic.h"
#include "routing/routing_harness.h"

using namespace routingtest;

namespace {

// flows.ctl (TG 3 with OL 1, channels that pass their input on) with the
// observed file `obs.txt` for subbasin `gauged` in column 1.
std::string Observed(int gauged, int offset, int method = 1, const char* file = "obs.txt") {
    return ControlText("flows.ctl", {{"1                          # routing on", std::to_string(method) + " "},
                                     {"Qrouted.sta 0 ", "Qrouted.sta 2001 "},
                                     {"none ", std::string(file) + " "},
                                     {"0                          # gauge descriptors",
                                      "1\n" + std::to_string(gauged) + " 1"},
                                     {"0                          # offset", std::to_string(offset) + " "}});
}

std::string ObservedFile(const std::vector<std::pair<int, double>>& hours) {
    std::string text = "YY MM DD HH Q\n";
    for (const auto& [hour, value] : hours) {
        char line[100];
        std::snprintf(line, sizeof line, "2020 1 1 %d %.17g\n", hour, value);
        text += line;
    }
    return text;
}

struct ObservedRun {
    RoutingHarness h{{{1, 0.1}, {3, 0.9}}};
    std::unique_ptr<abflussmodellklasse> routing;
    std::vector<double> water;
    double* qg[1];
    bool deleted = false;

    ObservedRun(const std::string& control, const std::string& file) {
        if (!file.empty()) testsupport::WriteFile(h.dir.file("obs.txt"), file);
        int status = -1;
        routing = h.Build(control, &status);
        EXPECT_EQ(status, 0) << h.Console();
        water.assign(3, 0.036);
        qg[0] = water.data();
        routing->SetQg(qg);
        routing->InitRouting();
        routing->SetStatus(1);
    }
    ~ObservedRun() { End(); }
    void End() {
        if (!deleted) routing->DeleteModule();
        deleted = true;
    }
    // The routed discharge of step k is k m3/s at the outlet.
    void Steps(int count, const std::vector<double>& routed = {}) {
        for (int step = 1; step <= count; ++step) {
            const double m3s = routed.empty() ? step : routed[static_cast<size_t>(step - 1)];
            water.assign(3, 0.036 * m3s);
            routing->RunTimeStep(step, 1, 1, 2020);
        }
    }
    const double* Sums(int shift) {
        const size_t block = static_cast<size_t>(h.Subbasins.Count + 1) * EfficiencySumCount;
        return routing->EfficiencyPlain.data() + static_cast<size_t>(shift + 10) * block +
               static_cast<size_t>(h.Rank(3)) * EfficiencySumCount;
    }
};

}  // namespace

TEST(RoutingObserved, EachStepMeetsTheObservationOfItsDate) {
    struct Case {
        const char* name;
        std::vector<std::pair<int, double>> rows;
        int offset;
        int steps;
        double pairs;
    } cases[] = {
        // The start row and three more: steps 1 to 4 compare, the last row too.
        {"start row and three more", {{1, 1}, {2, 2}, {3, 3}, {4, 4}}, 0, 6, 4},
        // Hour 3 is missing: every other step still meets its own hour.
        {"a missing step", {{1, 1}, {2, 2}, {4, 4}, {5, 5}}, 0, 6, 4},
        // Rows before the start are passed over.
        {"rows before the start", {{0, 7}, {1, 1}, {2, 2}, {3, 3}}, 0, 3, 3},
        {"R-square offset 5", {{1, 1}, {2, 2}, {3, 3}, {4, 4}, {5, 5}, {6, 6}, {7, 7}, {8, 8}}, 5, 8, 3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ObservedRun run(Observed(3, c.offset), ObservedFile(c.rows));
        run.Steps(c.steps);
        const double* sums = run.Sums(0);
        EXPECT_EQ(sums[PairCount], c.pairs);
        // Routed k m3/s in step k against the observation of hour k: no
        // deviation when every pair has the same date.
        EXPECT_NEAR(sums[DeviationSquares], 0.0, 1e-12);
        // One step ahead every observation is that of the next hour: each
        // pair deviates by exactly -1.
        EXPECT_GT(run.Sums(1)[PairCount], 0.0);
        EXPECT_NEAR(run.Sums(1)[DeviationSum], -run.Sums(1)[PairCount], 1e-6);
    }
}

namespace {

// Observations of 100 + h m3/s at hour h after midnight of 1 January 2020
// (hours up to 0 lie on 31 December 2019).
std::string ObservedAround(const std::vector<int>& hours) {
    std::string text = "YY MM DD HH Q\n";
    for (int h : hours) {
        char line[100];
        if (h >= 1)
            std::snprintf(line, sizeof line, "2020 1 1 %d %d\n", h, 100 + h);
        else
            std::snprintf(line, sizeof line, "2019 12 31 %d %d\n", 24 + h, 100 + h);
        text += line;
    }
    return text;
}

std::vector<int> Hours(int from, int to, std::vector<int> more = {}) {
    for (int h = from; h <= to; ++h) more.push_back(h);
    return more;
}

}  // namespace

// The first steps of a run (start 1 January 2020, 1 h), routed 100 + k m3/s
// in step k: at shift -m step k meets the observation of hour k - m, also
// before the start, where the file has it, and then deviates by exactly m.
// The statistics table receives the observation of the step after the
// current one.
TEST(RoutingObserved, NegativeShiftsInTheFirstSteps) {
    struct Case {
        const char* name;
        std::vector<int> hours;
        int offset;
        std::vector<int> pairs;  // after three steps, at shifts -1 .. -10
    } cases[] = {
        {"ten hours before the start", Hours(-9, 12), 0, {3, 3, 3, 3, 3, 3, 3, 3, 3, 3}},
        {"from the start", Hours(1, 12), 0, {2, 1, 0, 0, 0, 0, 0, 0, 0, 0}},
        {"three hours before the start", Hours(-2, 12), 0, {3, 3, 3, 2, 1, 0, 0, 0, 0, 0}},
        // hours -5 to 0 missing
        {"a gap before the start", Hours(1, 12, {-9, -8, -7, -6}), 0, {2, 1, 0, 0, 0, 0, 1, 2, 3, 3}},
        // the first step stays out of the sums
        {"R-square offset 1", Hours(-9, 12), 1, {2, 2, 2, 2, 2, 2, 2, 2, 2, 2}},
        // the file ends before the start: only the shifts that reach back
        // into it compare
        {"only before the start", Hours(-9, -4), 0, {0, 0, 0, 0, 1, 2, 3, 3, 3, 3}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ObservedRun run(Observed(3, c.offset), ObservedAround(c.hours));
        const int outlet = run.h.Rank(3);
        for (int step = 1; step <= 3; ++step) {
            run.water.assign(3, 0.036 * (100 + step));
            run.routing->RunTimeStep(step, 1, 1, 2020);
            const double* series = run.routing->RoutedStatistics->ObservedValues();
            ASSERT_NE(series, nullptr);
            const bool next = std::find(c.hours.begin(), c.hours.end(), step + 1) != c.hours.end();
            EXPECT_EQ(series[outlet], next ? 100 + step + 1 : -9999) << "step " << step;
        }
        for (int m = 1; m <= 10; ++m) {
            const double* sums = run.Sums(-m);
            const int pairs = c.pairs[static_cast<size_t>(m - 1)];
            EXPECT_EQ(sums[PairCount], pairs) << "shift -" << m;
            EXPECT_NEAR(sums[DeviationSum], pairs * m, 1e-6) << "shift -" << m;
        }
    }
}

TEST(RoutingObserved, EfficiencyTablesByHand) {
    ObservedRun run(Observed(3, 0), ObservedFile({{1, 1}, {2, 2}, {3, 3}, {4, 4}, {5, 5}}));
    run.Steps(5, {1, 2, 3, 4, 6});
    const double* sums = run.Sums(0);
    EXPECT_NEAR(EfficiencyRSquare(sums), 0.9, 1e-8);
    EXPECT_NEAR(EfficiencyCoefficient(sums), 0.92, 1e-8);
    run.routing->FlushOutputs();
    run.End();
    const std::string file = run.h.File("Qrouted.sta");
    for (const char* label : {"LIN. R-SQUARE\t0", "LOG. R-SQUARE\t0", "COEFF.VAR.LIN\t0", "COEFF.VAR.LOG\t0"})
        EXPECT_NE(file.find(label), std::string::npos) << label << "\n" << file;
    const size_t lin = file.find("LIN. R-SQUARE\t0");
    const std::string line = file.substr(lin, file.find('\n', lin) - lin);
    // Ungauged subbasin 1, then outlet 3.
    EXPECT_NE(line.find("-9999"), std::string::npos) << line;
    EXPECT_NE(line.find("0.9000"), std::string::npos) << line;
}

TEST(RoutingObserved, WithoutAFileOnlyTheInfo) {
    ObservedRun run(Observed(3, 0, 1, "missing.txt"), "");
    run.Steps(3);
    EXPECT_EQ(run.routing->ObservedWindow, nullptr);
    EXPECT_NE(run.h.Console().find("error opening missing.txt\nRouting will be done without comparison to "
                                   "observed discharge data!"),
              std::string::npos) << run.h.Console();
    run.End();
    EXPECT_EQ(run.h.File("Qrouted.sta").find("R-SQUARE"), std::string::npos);
}

TEST(RoutingObserved, UnreadableFileEndsTheSetUp) {
    RoutingHarness h({{1, 0.1}, {3, 0.9}});
    testsupport::WriteFile(h.dir.file("obs.txt"), "YY MM DD HH Q\n2020 1 1 1 1\n2020 1 1 2 x\n");
    int status = -1;
    auto routing = h.Build(Observed(3, 0), &status);
    EXPECT_EQ(status, 203);
    EXPECT_NE(h.Console().find("error analysing or reading obs.txt at row 2 or before"), std::string::npos)
        << h.Console();
}

// Method 2: an observation of 2.5 m3/s at the gauged tributary (10 km2)
// enters its channel as 2.5 x 0.06 x 60 / 10 = 0.9 mm; -1, a missing hour
// and the steps after the file's end leave the routed flow.
TEST(RoutingObserved, ObservedDischargeReplacesTheChannelInput) {
    ObservedRun run(Observed(1, 0, 2), ObservedFile({{1, 2.5}, {2, -1}, {4, 2.5}}));
    const double expected[] = {3.4, 1.0, 1.0, 3.4, 1.0, 1.0};
    for (int step = 1; step <= 6; ++step) {
        run.water.assign(3, 0.036);
        run.routing->RunTimeStep(step, 1, 1, 2020);
        EXPECT_NEAR(run.routing->RoutedDischarge(run.h.Rank(3)), expected[step - 1], 1e-7) << step;
    }
}
