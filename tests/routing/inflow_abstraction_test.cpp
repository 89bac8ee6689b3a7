// Inflows and abstractions of the routing: constant and external inflows,
// abstractions by mode and their files, the pairing of internal abstractions
// with internal inflows, and the balance of the outlet with both.

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "routing/abfluss_routingclass.h"
#include "routing/abstraction.h"
#include "routing/reservoir.h"
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
        {"missing start value", {"2020 1 1 1 -9999 1 1", "2020 1 1 2 1 1 1", "2020 1 1 3 2 1 1"}, 5, 0, 0, "", {0, 1, 2}},
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
        // The initial routing starts from the start row's discharge.
        EXPECT_NEAR(F[0][h.Subbasins.Count + 1], c.m3s[0] * 0.06 * 60 / 10, 1e-12);
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

namespace {

std::vector<Subbasin> TwoOutlets() { return {{1, 0.1}, {3, 0.4}, {30, 0.5}}; }

// flows.ctl as two descriptions: TG 3 (50 km2) with OL 1 and `first`, then
// TG 30 (100 km2) with OL 3 and `second`.
std::string TwoDescriptions(const std::string& first, const std::string& second, const std::string& rules = "") {
    std::string text = ControlText(
        "flows.ctl", {{"TG 3 A = 100", "TG 3 A = 50"},
                      {"L = 10 A = 10\nend", "L = 10 A = 10\n" + first + "TG 30 A = 100 f = 1.0\n  OL 3" + Channel +
                                                 second + "end"}});
    return text + rules;
}

std::vector<std::string> DataLines(const std::string& file) {
    std::vector<std::string> lines;
    size_t at = 0;
    while (at < file.size()) {
        const size_t end = file.find('\n', at);
        const std::string line = file.substr(at, end - at);
        if (!line.empty() && std::isdigit(static_cast<unsigned char>(line[0]))) lines.push_back(line);
        if (end == std::string::npos) break;
        at = end + 1;
    }
    return lines;
}

}  // namespace

// An external abstraction takes its amount from the outlet, exactly, and
// writes it (m3/s) to its file; it never takes more than the outlet holds.
TEST(RoutingAbstractions, ExternalAbstractionLowersTheOutletByItsAmount) {
    struct Case {
        const char* name;
        std::string element;
        double q;         // runoff [mm per hour]
        double taken;     // [m3/s] of 1 m3/s at the outlet
    } cases[] = {
        {"maximum in m3/s", "  AL 1 = extern al.txt 0 1 0.4 m3/s\n", 0.036, 0.4},
        {"threshold in m3/s", "  AL 1 = extern al.txt 0.25 0.5 10 m3/s)\n", 0.036, 0.375},
        {"below the threshold", "  AL 1 = extern al.txt 2 0.5 10 m3/s\n", 0.036, 0.0},
        {"dry river", "  AL 1 = extern al.txt 0 1 10 mm\n", 0.0, 0.0},
        {"fraction above 1", "  AL 1 = extern al.txt 0 3 10 mm\n", 0.036, 1.0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FlowRun run(FlowsControl(c.element), c.q);
        ASSERT_EQ(run.status, 0) << run.h.Console();
        ASSERT_EQ(run.Init(), 0) << run.h.Console();
        const double before = c.q / 0.036;
        for (int step = 1; step <= 3; ++step) {
            run.routing->RunTimeStep(step, 1, 1, 2020);
            EXPECT_NEAR(run.Outlet(), before - c.taken, 1e-7) << step;
            EXPECT_GE(run.routing->StepFlows.Rows()[0][run.h.Rank(3)], 0.0);
        }
        run.routing->FlushOutputs();
        const std::string file = run.h.File("al.txt");
        EXPECT_EQ(file.rfind("YY\tMM\tDD\tHH\tm^3/s\nabstraction_1\nYY\tMM\tDD\tHH\tm^3/s\n", 0), 0u) << file;
        const std::vector<std::string> rows = DataLines(file);
        ASSERT_EQ(rows.size(), 3u) << file;
        for (const std::string& row : rows) {
            const double value = std::stod(row.substr(row.rfind('\t') + 1));
            EXPECT_NEAR(value, c.taken, 1e-7) << row;
            EXPECT_GE(value, 0.0);
        }
    }
}

// The number, threshold, fraction and maximum of an abstraction are whole
// numbers, the last three of 0 or more.
TEST(RoutingAbstractions, ValuesAreWholeNumbersOfZeroOrMore) {
    struct Case {
        const char* name;
        std::string element;
        const char* message;
    } cases[] = {
        {"fraction with a tail", "  AL 1 = extern al.txt 0 1x 0.4 m3/s\n",
         "FATAL: error reading threshold, fraction and maximum of abstraction 1"},
        {"maximum nan", "  AL 1 = extern al.txt 0 1 nan m3/s\n",
         "FATAL: error reading threshold, fraction and maximum of abstraction 1"},
        {"threshold -1", "  AL 1 = extern al.txt -1 1 0.4 m3/s\n",
         "FATAL: abstraction 1: threshold -1, fraction 1 and maximum 0.4 must be 0 or more"},
        {"maximum -1e300", "  AL 1 = extern al.txt 0 1 -1e300 m3/s\n", "and maximum -1e+300 must be 0 or more"},
        {"number with a tail", "  AL 1e300 = extern al.txt 0 1 0.4 m3/s\n",
         "no abstraction number after \"AL\" in the routing description of TG 3 (\"1e300\")"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FlowRun run(FlowsControl(c.element), 0.036);
        EXPECT_EQ(run.status, std::string(c.name) == "number with a tail" ? 44 : 17);
        EXPECT_NE(run.h.Console().find(c.message), std::string::npos) << run.h.Console();
    }
}

// A time series abstraction reads the row of each step; a missing value
// takes nothing, a row of another date ends the run.
TEST(RoutingAbstractions, AbstractionFromFile) {
    RoutingHarness h({{1, 0.1}, {3, 0.9}});
    testsupport::WriteFile(h.dir.file("in.txt"), "YY MM DD HH a b\n2020 1 1 1 9 0.3\n2020 1 1 2 9 -9999\n"
                                                 "2020 1 1 3 9 5\n2020 1 1 5 9 0.1\n");
    int status = -1;
    auto routing = h.Build(FlowsControl("  AL 1 = from_file input_file = in.txt column = 1 out = out.txt\n"), &status);
    ASSERT_EQ(status, 0) << h.Console();
    std::vector<double> water(3, 0.036);
    double* qg[1] = {water.data()};
    routing->SetQg(qg);
    routing->InitRouting();
    const double expected[] = {0.7, 1.0, 0.0};  // 0.3 taken, nothing, all (5 > 1)
    for (int step = 1; step <= 3; ++step) {
        routing->RunTimeStep(step, 1, 1, 2020);
        EXPECT_NEAR(routing->RoutedDischarge(h.Rank(3)), expected[step - 1], 1e-7) << step;
    }
    int thrown = 0;
    try {
        routing->RunTimeStep(4, 1, 1, 2020);
    } catch (int code) {
        thrown = code;
    }
    EXPECT_EQ(thrown, 36);
    EXPECT_NE(h.Console().find("error comparing dates in in.txt"), std::string::npos);
    // A file that ends before the run does too.
    {
        RoutingHarness e({{1, 0.1}, {3, 0.9}});
        testsupport::WriteFile(e.dir.file("in.txt"), "2020 1 1 1 9 0.3\n");
        int code = -1;
        auto ending = e.Build(FlowsControl("  AL 1 = from_file input_file = in.txt column = 1 out = out.txt\n"), &code);
        ASSERT_EQ(code, 0) << e.Console();
        std::vector<double> runoff(3, 0.036);
        double* rows[1] = {runoff.data()};
        ending->SetQg(rows);
        ending->InitRouting();
        ending->RunTimeStep(1, 1, 1, 2020);
        int end = 0;
        try {
            ending->RunTimeStep(2, 1, 1, 2020);
        } catch (int c) {
            end = c;
        }
        EXPECT_EQ(end, 39);
        EXPECT_NE(e.Console().find("error reading from in.txt (or from its buffer) for abstraction 1\nreached end of file!"),
                  std::string::npos);
        ending->DeleteModule();
    }
    routing->FlushOutputs();
    for (const std::string& row : DataLines(h.File("out.txt"))) EXPECT_GE(std::stod(row.substr(row.rfind('\t') + 1)), 0.0);
    routing->DeleteModule();
}

// An internal abstraction hands its water (m3/s) to the inflow of the same
// number: the outlet below both carries the same water as without them.
TEST(RoutingAbstractions, InternalPairMovesWaterUnchanged) {
    const double q = 0.036;
    FlowRun plain(TwoDescriptions("", ""), q, TwoOutlets());
    FlowRun paired(TwoDescriptions("  AL 1 = intern 0 0.5 10 mm\n", std::string("  ZL 1 = intern") + Channel), q,
                   TwoOutlets());
    ASSERT_EQ(plain.status, 0) << plain.h.Console();
    ASSERT_EQ(paired.status, 0) << paired.h.Console();
    ASSERT_EQ(plain.Init(), 0);
    ASSERT_EQ(paired.Init(), 0) << paired.h.Console();
    EXPECT_NE(paired.h.Console().find("checking connection of internal inflows and abstractions"), std::string::npos);
    for (int step = 1; step <= 4; ++step) {
        plain.routing->RunTimeStep(step, 1, 1, 2020);
        paired.routing->RunTimeStep(step, 1, 1, 2020);
        const double at3 = plain.routing->RoutedDischarge(paired.h.Rank(3));
        EXPECT_NEAR(paired.routing->RoutedDischarge(paired.h.Rank(3)), at3 / 2, 1e-9) << step;
        EXPECT_NEAR(paired.routing->RoutedDischarge(paired.h.Rank(30)),
                    plain.routing->RoutedDischarge(plain.h.Rank(30)), 1e-8)
            << step;
    }
}

TEST(RoutingAbstractions, MiswiredInternalFlows) {
    const std::string ZL1 = std::string("  ZL 1 = intern") + Channel;
    struct Case {
        const char* name;
        std::string control;
        int construction, init;
        const char* message;
    } cases[] = {
        {"a sound pair",
         TwoDescriptions("  AL 1 = intern 0 1 1 mm\n", ZL1) + "", 0, 0, ""},
        {"inflow already connected",
         ControlText("flows.ctl", {{"L = 10 A = 10\nend", std::string("L = 10 A = 10\n  AL 1 = intern 0 1 1 mm\n") +
                                                              "TG 30 A = 100 f = 1.0\n  OL 3" + Channel +
                                                              "  AL 1 = extern x.txt 0 1 1 mm\n  AL 1 = intern 0 1 1 mm\n" +
                                                              "TG 1 A = 10 f = 1.0\n" + ZL1 + "end"}}),
         0, 300, "Inflow 1 is already connected to an internal abstraction.\nEach abstaction (AL-element) must be conencted"},
        {"same outlet", TwoDescriptions("", ZL1 + "  AL 1 = intern 0 1 1 mm\n"), 0, 301,
         "Abstraction AL 1 from routing description 2 and inflow ZL 1 are both defined for the same routing-subbasin TG 30"},
        {"inflow without abstraction", TwoDescriptions("", ZL1), 0, 302,
         "in routing description 2 for TG 30:\nInternal Inflow ZL 1 has no conenction to an internal abstraction."},
        {"abstraction without inflow", TwoDescriptions("  AL 1 = intern 0 1 1 mm\n", ""), 0, 303,
         "in routing description 1 for TG 3:\nInternal abstraction AL 1 is not connected to any internal inflow."},
        {"mode in capitals", TwoDescriptions("  AL 1 = Intern 0 1 1 mm\n", ZL1), 44, 0,
         "the modus \"Intern\" is not supported for abstraction 1"},
        {"rule section missing", TwoDescriptions("  AL 1 = extern_with_rule r.txt\n", ""), 34, 0,
         "section [abstraction_rule_abstraction_1] not found in control file"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<Subbasin> subbasins = TwoOutlets();
        FlowRun run(c.control, 0.036, subbasins);
        EXPECT_EQ(run.status, c.construction) << run.h.Console();
        if (run.status == 0) {
            EXPECT_EQ(run.Init(), c.init) << run.h.Console();
        }
        EXPECT_NE(run.h.Console().find(c.message), std::string::npos) << run.h.Console();
        if (run.status != 0) run.routing.reset();
    }
}

// A paired rule abstraction without capacities takes nothing; unpaired (an
// external rule) it takes the table's value.
TEST(RoutingAbstractions, RuleAbstractionsAndTheirCapacity) {
    const std::string rules =
        "[abstraction_rule_abstraction_1]\n2 1\n0 0\n10 1\nno capacities here\nWeekDays = 1234567\n"
        "start_hour = 0\nstop_hour = 24\n";
    struct Case {
        const char* name;
        std::string first, second;
        double taken;  // [m3/s] at outlet 3 (1 m3/s before)
    } cases[] = {
        // 0.5 m3/s at the outlet of 50 km2 (0.036 mm/h): the table gives 0.05.
        {"external rule", "  AL 1 = extern_with_rule rule.txt\n", "", 0.05},
        {"paired rule without capacity", "  AL 1 = intern_with_rule\n", std::string("  ZL 1 = intern") + Channel, 0.0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FlowRun run(TwoDescriptions(c.first, c.second, rules), 0.036, TwoOutlets());
        ASSERT_EQ(run.status, 0) << run.h.Console();
        ASSERT_EQ(run.Init(), 0) << run.h.Console();
        for (int step = 1; step <= 2; ++step) {
            run.routing->RunTimeStep(step, 1, 1, 2020);
            EXPECT_NEAR(run.routing->RoutedDischarge(run.h.Rank(3)), 0.5 - c.taken, 1e-7) << step;
        }
    }
}

// The reservoir's rule abstraction (mode 8): a week-day mask and an hour
// window per column, and the capacity of the receiving river.
TEST(RoutingKernels, RuleWithWeekdaysByHand) {
    AL_class al;
    al.SetParams(nullptr, nullptr, 0, 3, 100, 1, 60, "");
    al.Mode = AL_class::InternWithRuleFromReservoir;
    AbstractionRules& R = al.Rules;
    R.Rows = 2;
    R.Columns = 1;
    R.x = {0, 0, 1000};
    R.y = {{}, {0, 0, 2}};
    R.slope = {{}, {0, 0.002, 0}};
    R.DayKey = {0, 1};
    R.TargetCap = {0, -1};
    struct Case {
        const char* name;
        int64_t mask;
        int start, stop;
        int64_t year, month, day, hour;
        double volume, rate;
    } cases[] = {
        {"working day inside the hours", 12345, 8, 18, 2020, 1, 1, 10, 500, 1.0},  // a Wednesday
        {"Saturday", 12345, 8, 18, 2020, 1, 4, 10, 500, 0.0},
        {"outside the hours", 12345, 8, 18, 2020, 1, 1, 19, 500, 0.0},
        {"hour 0 belongs to the day before", 6, 0, 24, 2020, 1, 5, 0, 500, 1.0},  // Sunday 0 h: Saturday
        {"mask -1 is Monday only", -1, 0, 24, 2020, 1, 6, 5, 500, 1.0},
        {"mask -1 on a Tuesday", -1, 0, 24, 2020, 1, 7, 5, 500, 0.0},
        {"above the table", 1234567, 0, 24, 2020, 1, 1, 5, 5000, 2.0},
        {"no hours given", 1234567, -1, -1, 2020, 1, 1, 5, 500, 0.0},
    };
    for (const Case& c : cases) {
        R.Mask = {0, c.mask};
        R.StartHour = {0, c.start};
        R.StopHour = {0, c.stop};
        EXPECT_DOUBLE_EQ(al.RuleWithWeekdays(nullptr, c.year, c.month, c.day, c.hour, c.volume), c.rate) << c.name;
    }
    // Paired: the receiving river carries 0.5 m3/s, its capacity is 1.2.
    StorageElementArrays storage(1, std::vector<std::vector<double>>(4, std::vector<double>(3, 0.0)));
    storage[0][2][1] = 0.5 * 0.06 * 60 / 50;  // target outlet, 50 km2
    al.ConnectInflow(2, 3, 50, 1, 100);
    R.Mask = {0, 1234567};
    R.StartHour = {0, 0};
    R.StopHour = {0, 24};
    R.TargetCap = {0, 1.2};
    EXPECT_NEAR(al.RuleWithWeekdays(&storage, 2020, 1, 1, 5, 500), 0.7, 1e-7);
    R.TargetCap = {0, -1};
    EXPECT_EQ(al.RuleWithWeekdays(&storage, 2020, 1, 1, 5, 500), 0.0);
}

// The opening message names an inflow by its position in the description,
// the end-of-file message by its number.
TEST(RoutingInflows, MessagesNamePositionAndNumber) {
    const std::string control =
        TwoDescriptions(std::string("  ZL 2 = extern zl.txt 1 5") + Channel, std::string("  ZL 1 = constant 1") + Channel);
    {
        FlowRun run(control, 0.036, TwoOutlets());
        EXPECT_EQ(run.status, 37);
        EXPECT_NE(run.h.Console().find("error opening zl.txt for inflow 1"), std::string::npos) << run.h.Console();
        run.routing.reset();
    }
    RoutingHarness h(TwoOutlets());
    testsupport::WriteFile(h.dir.file("zl.txt"), "2020 1 1 1 1\n");
    int status = -1;
    auto routing = h.Build(control, &status);
    ASSERT_EQ(status, 0) << h.Console();
    std::vector<double> water(4, 0.036);
    double* qg[1] = {water.data()};
    routing->SetQg(qg);
    routing->InitRouting();
    routing->RunTimeStep(1, 1, 1, 2020);
    int thrown = 0;
    try {
        routing->RunTimeStep(2, 1, 1, 2020);
    } catch (int code) {
        thrown = code;
    }
    EXPECT_EQ(thrown, 39);
    EXPECT_NE(h.Console().find("for inflow 2\nreached end of file!"), std::string::npos) << h.Console();
    routing->DeleteModule();
}

// A description of its outlet alone passes f times the outlet's runoff on,
// also with several sub-intervals.
TEST(RoutingAbstractions, DescriptionWithoutChannels) {
    for (const char* line : {"1 1000 10 1 ", "1 1000 10 3 "}) {
        SCOPED_TRACE(line);
        RoutingHarness h({{1, 0.5}, {3, 0.5}});
        int status = -1;
        auto routing = h.Build(ControlText("single.ctl", {{"1 1000 10 2 ", line}}), &status);
        ASSERT_EQ(status, 0) << h.Console();
        std::vector<double> water(3, 0.5);
        double* qg[1] = {water.data()};
        routing->SetQg(qg);
        routing->InitRouting();
        for (int step = 1; step <= 3; ++step) {
            routing->RunTimeStep(step, 1, 1, 2020);
            EXPECT_DOUBLE_EQ(routing->RoutedDischarge(h.Rank(3)), 0.8 * 0.5);
            for (int s = 1; s <= routing->SubIntervals; ++s)
                EXPECT_DOUBLE_EQ(routing->SubIntervalFlows.Rows()[0][s][h.Rank(3)], 0.8 * 0.5);
        }
        routing->DeleteModule();
    }
}

// Mode 8: the reservoir's rule abstraction draws in the reservoir's sub-steps
// of 600 s and hands the step's mean rate to the paired inflow. The rule asks
// for 0.5 m3/s; a reservoir of 2500 m3 without inflow or release gives 1800
// m3 in the first hour, the 700 m3 left in the second and nothing after:
// what the draw takes is what the reservoir lost, never more.
TEST(RoutingAbstractions, ReservoirRuleDrawsWhatIsThere) {
    const std::string reservoir =
        "  SP 3 file = r3.txt V0 = 2500 C0 = 0 0 0 0 0 0 0 0 0 dTmin = 600\n"
        "  AL 1 = intern_with_rule_from_reservoir\n";
    const std::string rules =
        "\n[abstraction_rule_reservoir_3]\n2\n0 0\n1000000000 0\n"
        "\n[abstraction_rule_abstraction_1]\n2 1\n0 0\n1 0.5\nTargetCap = 100\nWeekDays = 1234567\n"
        "start_hour = 0\nstop_hour = 24\n";
    FlowRun run(TwoDescriptions(reservoir, std::string("  ZL 1 = intern") + Channel, rules), 0.0, TwoOutlets());
    ASSERT_EQ(run.status, 0) << run.h.Console();
    ASSERT_EQ(run.Init(), 0) << run.h.Console();
    routingclass& first = *run.routing->Descriptions[1];
    ASSERT_EQ(first.Reservoirs.size(), 2u);
    ASSERT_EQ(first.Abstractions.size(), 2u);
    SP_class& sp = *first.Reservoirs[1];
    AL_class& al = *first.Abstractions[1];
    ASSERT_EQ(al.Mode, AL_class::InternWithRuleFromReservoir);
    const double expectedRate[] = {0.5, 700.0 / 3600, 0.0, 0.0};
    const double expectedVolume[] = {700, 0, 0, 0};
    double volume = 2500, drawn = 0;
    for (int step = 1; step <= 4; ++step) {
        run.routing->RunTimeStep(step, 1, 1, 2020);
        EXPECT_NEAR(al.State[0], expectedRate[step - 1], 1e-12) << "step " << step;
        EXPECT_NEAR(sp.State[0], expectedVolume[step - 1], 1e-9) << "step " << step;
        EXPECT_GE(sp.State[0], 0.0) << "step " << step;
        EXPECT_EQ(sp.Outflow, 0.0) << "step " << step;
        // The reservoir lost exactly what the abstraction handed on.
        EXPECT_NEAR(volume - sp.State[0], al.State[0] * 3600, 1e-9) << "step " << step;
        drawn += al.State[0] * 3600;
        volume = sp.State[0];
    }
    EXPECT_NEAR(drawn, 2500, 1e-9);
    // The paired inflow carries the draw to the second description's outlet.
    EXPECT_GT(run.routing->RoutedDischarge(run.h.Rank(30)), 0.0);
}
