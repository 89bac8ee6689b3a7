// Inflows and abstractions of the routing: constant and external inflows,
// abstractions by mode and their files, the pairing of internal abstractions
// with internal inflows, and the balance of the outlet with both.

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "routing/abstraction.h"
#include "routing/routing_harness.h"
#include "support/element_balance.h"

using namespace routingtest;

namespace {

const char* const Channel = " kh = 0.01 kv = 0.01 bm = 50 bf = 10 tm = 20 nm = 30 nf = 15 I = 0.01 L = 10 A = 10\n";

// flows.ctl with `elements` added to its description and, when given, a
// second description.
std::string FlowsControl(const std::string& elements, const std::string& second = "") {
    return ControlText("flows.ctl", {{"L = 10 A = 10\nend", "L = 10 A = 10\n" + elements + second + "end"}});
}

// A routing over subbasin 1 (10 km2) into outlet 3 (90 km2), or the
// subbasins given, with runoff `q` [mm per hour] everywhere.
struct FlowRun {
    RoutingHarness h;
    std::unique_ptr<abflussmodellklasse> routing;
    std::vector<double> water;
    double* qg[1];
    int status = -1;

    FlowRun(const std::string& control, double q, std::vector<Subbasin> subbasins = {{1, 0.1}, {3, 0.9}})
        : h(std::move(subbasins)) {
        routing = h.Build(control, &status);
        water.assign(static_cast<size_t>(h.Subbasins.Count + 1), q);
        qg[0] = water.data();
        if (status != 0) return;
        routing->SetQg(qg);
    }
    // Initial routing; the code it throws, or 0.
    int Init() {
        try {
            routing->InitRouting();
        } catch (int code) {
            return code;
        }
        return 0;
    }
    ~FlowRun() {
        if (routing && status == 0) routing->DeleteModule();
    }
    double Outlet() { return routing->RoutedDischarge(h.Rank(3)); }
};

}  // namespace

TEST(RoutingKernels, ThresholdAbstractionByHand) {
    struct Case {
        double Q, T, threshold, fraction, maximum, a;
    } cases[] = {
        {6, 0, 2, 0.5, 10, 2},     // (6 - 2) x 0.5
        {6, 3, 2, 0.5, 10, 1},     // the water left may not fall below the threshold
        {1.5, 0, 2, 0.5, 10, 0},   // below the threshold
        {100, 0, 2, 0.5, 10, 10},  // the maximum
        {6, 7, 2, 0.5, 10, 0},     // more taken before than there is: never negative
        {6, 0, 0, 1.5, 10, 6},     // a fraction above 1 takes at most the water left
    };
    for (const Case& c : cases) {
        EXPECT_DOUBLE_EQ(ThresholdAbstraction(c.Q, c.T, c.threshold, c.fraction, c.maximum), c.a)
            << c.Q << " " << c.T;
    }
    EXPECT_EQ(RuleDayOfYear(3, 1), 60);
    EXPECT_EQ(WeekDayOf(2020, 1, 1), 3);  // a Wednesday
    EXPECT_EQ(WeekDayOf(2024, 3, 3), 7);  // a Sunday
}

// A constant 2.5 m3/s on a channel of 10 km2 enters as 0.9 mm per hour and
// raises a steady outlet by 2.5 m3/s.
TEST(RoutingInflows, ConstantInflowRaisesTheOutletByItsDischarge) {
    FlowRun run(FlowsControl(std::string("  ZL 1 = constant 2.5") + Channel), 0.036);
    ASSERT_EQ(run.status, 0) << run.h.Console();
    ASSERT_EQ(run.Init(), 0) << run.h.Console();
    double** F = run.routing->StepFlows.Rows();
    const int n = run.h.Subbasins.Count;
    EXPECT_NEAR(F[0][n + 1], 0.9, 1e-12);
    for (int step = 1; step <= 5; ++step) {
        run.routing->RunTimeStep(step, 1, 1, 2020);
        EXPECT_NEAR(run.Outlet(), 1.0 + 2.5, 1e-8) << step;
    }
    EXPECT_FALSE(run.h.File("wq_tabZL.001").empty());
}

namespace {

std::string InflowFile(const std::vector<std::string>& rows) {
    std::string text = "YY MM DD HH Q c1 c2\n";
    for (const std::string& r : rows) text += r + "\n";
    return text;
}

}  // namespace

TEST(RoutingInflows, ExternalInflowFiles) {
    struct Case {
        const char* name;
        std::vector<std::string> rows;
        int column;
        int setUpCode;       // thrown by the set-up
        int runCode;         // thrown in the steps
        const char* message;
        std::vector<double> m3s;  // inflow per step 1..3 [m3/s]
    } cases[] = {
        {"plain", {"2020 1 1 1 2.5 1 2", "2020 1 1 2 5 1 2", "2020 1 1 3 -9999 1 2"}, 5, 0, 0, "", {2.5, 5, 0}},
        {"two-digit years", {"95 1 1 1 1 1 1", "95 1 1 2 2 1 1", "95 1 1 3 3 1 1"}, 5, 0, 0, "", {1, 2, 3}},
        {"gap", {"2020 1 1 1 1 1 1", "2020 1 1 3 2 1 1"}, 5, 0, 36,
         "error comparing dates in zl.txt:\n     read: 2020.1.1, 3. h,\nshould be: 2020.1.1, 2. h.", {1}},
        {"early end", {"2020 1 1 1 1 1 1", "2020 1 1 2 2 1 1"}, 5, 0, 39,
         "error reading from zl.txt (or from its buffer) for inflow 1\nreached end of file!", {1, 2}},
        {"too few columns for two tracers", {"2020 1 1 1 1 1 1"}, 6, 38, 0,
         "there is not the required number of columns in zl.txt for reading ZL[1]", {}},
        {"value column names a date", {"2020 1 1 1 1 1 1"}, 4, 38, 0, "there is not the required number", {}},
        {"start date missing", {"2020 1 1 2 1 1 1"}, 5, 38, 0, "starting date 1.1.2020, 1. h in zl.txt not found", {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RoutingHarness h({{1, 0.1}, {3, 0.9}});
        const int year = c.rows[0].rfind("95 ", 0) == 0 ? 1995 : 2020;
        h.settings.StartYear = year;
        testsupport::WriteFile(h.dir.file("zl.txt"), InflowFile(c.rows));
        int status = -1;
        auto routing = h.Build(FlowsControl("  ZL 1 = extern zl.txt 1 " + std::to_string(c.column) + Channel), &status,
                               2);
        EXPECT_EQ(status, c.setUpCode) << h.Console();
        if (status != 0) {
            EXPECT_NE(h.Console().find(c.message), std::string::npos) << h.Console();
            continue;
        }
        std::vector<double> water(3, 0.0), c1(3, 0.0), c2(3, 0.0);
        double* qg[3] = {water.data(), c1.data(), c2.data()};
        routing->SetQg(qg);
        routing->InitRouting();
        int thrown = 0;
        double** F = routing->StepFlows.Rows();
        for (int step = 1; step <= 3 && thrown == 0; ++step) {
            try {
                routing->RunTimeStep(step, 1, 1, year);
            } catch (int code) {
                thrown = code;
                break;
            }
            ASSERT_LE(static_cast<size_t>(step), c.m3s.size());
            // Without runoff the outlet carries the inflow alone; a missing
            // discharge gives 0.
            EXPECT_NEAR(routing->RoutedDischarge(h.Rank(3)), c.m3s[static_cast<size_t>(step - 1)], 1e-7) << step;
            EXPECT_EQ(F[1][h.Subbasins.Count + 1], 1.0);
        }
        EXPECT_EQ(thrown, c.runCode);
        if (c.runCode != 0) {
            EXPECT_NE(h.Console().find(c.message), std::string::npos) << h.Console();
        }
        routing->DeleteModule();
    }
}
