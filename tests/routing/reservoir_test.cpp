// Reservoirs: the element keys and rule section with their errors, the
// balance file, the balance of one step over a table of cases, tracer decay
// and mixing, and a routing run with a reservoir behind a flood wave whose
// balance file closes record by record, whose release is the outlet's
// discharge and whose warm start continues the run bit for bit.

#include <gtest/gtest.h>

#include <cmath>
#include <sstream>
#include <string>
#include <vector>

#include "framework/tracer_info.h"
#include "routing/reservoir.h"
#include "routing/routing_harness.h"
#include "support/test_support.h"

using namespace routingtest;

namespace {

std::vector<Subbasin> ReservoirSubbasins() { return {{1, 0.1}, {2, 0.1}, {3, 0.1}, {20, 0.3}, {30, 0.4}}; }

const char* const Header =
    "YY\tMM\tDD\tHH\tW[m]\tA[m2]\tV[m3]\tQin[m3]\tQin[mm]\tQin[m3s]\tQout[m3]\tQout[mm]\tQout[m3s]\tIrrig[m3]\tIrrig[mm]"
    "\tIrrig[m3s]\tQGW[m3]\tQGW[mm]\tQGW[m3s]\tETR[m3]\tETR[mm]\tETR[m3s]\tPREC[m3]\tPREC[mm]\tPREC[m3s]\tdV[m3]\tdV[mm]"
    "\tdV[m3s]\tAbstr[m3]\tAbstr[mm]\tAbstr[m3s]\tErr[m3]\tErr[mm]\tErr[m3s]";

const char* const Element = "SP 1 file = reservoir_1.txt V0 = 200000 C0 = 0 0 0 0 0 0 0 0 0 dTmin = 600";

// A reservoir made by hand with `tracers` tracers and an hourly step.
struct HandReservoir {
    std::vector<TracerInfo> tracers;
    SP_class sp;
    HandReservoir(int n, const std::string& text, double dt = 60) : tracers(static_cast<size_t>(n + 1)) {
        for (int k = 1; k <= n; ++k) {
            std::string& name = tracers[static_cast<size_t>(k)].name;
            name = std::to_string(k);
            name.insert(name.begin(), 't');
            name.push_back('_');
        }
        sp.SetParams(nullptr, tracers.data(), n, 3, nullptr, ReservoirGeometry{}, nullptr, 0, 0, dt, "", "");
        sp.ReadDescription(nullptr, 1, text);
    }
};

}  // namespace

TEST(Reservoir, ElementKeysAndRuleSectionErrors) {
    const std::string good = ControlText("reservoir.ctl");
    struct Case {
        const char* what;
        std::string control;
        int status;
        const char* message;
    } cases[] = {
        {"good", good, 0, ""},
        {"no file", ControlText("reservoir.ctl", {{"file = reservoir_1.txt ", ""}}), 35,
         "FATAL: for reservoir 1: no \"file =\" found!"},
        // The key of the next element is not this reservoir's.
        {"file of the next reservoir",
         ControlText("reservoir.ctl", {{Element, "SP 1 V0 = 5 C0 = 0 0 0 0 0 0 0 0 0\n  SP 2 file = other.txt V0 = 1 "
                                                 "C0 = 0 0 0 0 0 0 0 0 0"}}),
         35, "FATAL: for reservoir 1: no \"file =\" found!"},
        {"no V0", ControlText("reservoir.ctl", {{"V0 = 200000 ", ""}}), 35, "FATAL: for reservoir 1: no \"V0 =\" found!"},
        {"negative V0", ControlText("reservoir.ctl", {{"V0 = 200000", "V0 = -1"}}), 35,
         "FATAL: for reservoir 1: the initial volume V0"},
        {"no C0", ControlText("reservoir.ctl", {{"C0 = 0 0 0 0 0 0 0 0 0 ", ""}}), 35,
         "FATAL: for reservoir 1: no \"C0 =\" found!"},
        {"short C0", ControlText("reservoir.ctl", {{"C0 = 0 0 0 0 0 0 0 0 0 ", "C0 = 0 0 0 "}}), 35,
         "must be followed by nine concentrations"},
        {"dTmin 0", ControlText("reservoir.ctl", {{"dTmin = 600", "dTmin = 0"}}), 35, "the sub-step dTmin (\"0\") must be a number from 1 s to the routing step, 3600 s"},
        {"V0 not a whole number", ControlText("reservoir.ctl", {{"V0 = 200000", "V0 = 2e5x"}}), 35,
         "FATAL: for reservoir 1: no \"V0 =\" found! (\"2e5x\" is no number)"},
        {"reservoir number with a tail", ControlText("reservoir.ctl", {{"SP 1 file", "SP 1e300 file"}}), 35,
         "no reservoir number after \"SP\" in the routing description of TG 3"},
        {"V0 nan", ControlText("reservoir.ctl", {{"V0 = 200000", "V0 = nan"}}), 35, "(\"nan\" is no number)"},
        {"V0 1e300", ControlText("reservoir.ctl", {{"V0 = 200000", "V0 = 1e300"}}), 35,
         "FATAL: for reservoir 1: the initial volume V0 = 1e+300 lies outside 0 to 1e+13 m3"},
        {"C0 negative", ControlText("reservoir.ctl", {{"C0 = 0 0 0", "C0 = 0 -1 0"}}), 35,
         "FATAL: for reservoir 1: the initial concentration 2 of \"C0 =\", -1, lies outside 0 to 1e+12"},
        {"C0 1e300", ControlText("reservoir.ctl", {{"C0 = 0 0 0", "C0 = 1e300 0 0"}}), 35,
         "the initial concentration 1 of \"C0 =\", 1e+300, lies outside"},
        {"C0 inf", ControlText("reservoir.ctl", {{"C0 = 0 0 0", "C0 = inf 0 0"}}), 35, "(\"inf\" is no number)"},
        {"dTmin 1e-300", ControlText("reservoir.ctl", {{"dTmin = 600", "dTmin = 1e-300"}}), 35,
         "the sub-step dTmin (\"1e-300\") must be a number from 1 s"},
        {"rule row count beyond any integer",
         ControlText("reservoir.ctl", {{"4 90 270 ", "99999999999999999999999 90 270 "}}), 34,
         "FATAL: section [abstraction_rule_reservoir_1] in control file: the number of rows is too large"},
        {"rule row count of the largest long",
         ControlText("reservoir.ctl", {{"4 90 270 ", "9223372036854775807 90 270 "}}), 34,
         "the number of rows is too large"},
        {"no rule section", ControlText("reservoir.ctl", {{"[abstraction_rule_reservoir_1]", "[other]"}}), 34,
         "FATAL: section [abstraction_rule_reservoir_1] not found in control file"},
        {"descending volumes", ControlText("reservoir.ctl", {{"500000   3     2", "50000    3     2"}}), 34,
         "FATAL: section [abstraction_rule_reservoir_1] in control file: the volume of row 3 is below"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        RoutingHarness h(ReservoirSubbasins());
        int status = -1;
        auto routing = h.Build(c.control, &status);
        EXPECT_EQ(status, c.status) << h.Console().substr(h.Console().size() > 800 ? h.Console().size() - 800 : 0);
        if (c.status == 0) {
            const std::string file = h.File("reservoir_1.txt");
            EXPECT_EQ(file, std::string(Header) + "\nreservoir_1\n" + Header + "\n");
            const SP_class& sp = *routing->Descriptions[1]->Reservoirs[1];
            EXPECT_EQ(sp.Code, 1);
            EXPECT_EQ(sp.dTmin, 600);
            EXPECT_EQ(sp.State[0], 200000);
            EXPECT_EQ(sp.Rules.Columns, 2);
            EXPECT_EQ(routing->Descriptions[1]->ReservoirCode[1], 1);
            routing->DeleteModule();
        } else {
            EXPECT_NE(h.Console().find(c.message), std::string::npos) << h.Console();
        }
    }
}

TEST(Reservoir, BalanceFileLayoutAndBuffer) {
    HandReservoir nine(9, "file = r.txt V0 = 10 C0 = 1 2 3 4 5 6 7 8 9");
    EXPECT_EQ(nine.sp.ValuesPerRecord(), 44);
    EXPECT_EQ(nine.sp.RecordsPerBuffer(), 5957);
    EXPECT_EQ(nine.sp.State[9], 9);
    EXPECT_EQ(nine.sp.dTmin, 60) << "default sub-step";
    HandReservoir none(0, "file = /abs/r.txt V0 = 10 C0 = 1 2 3 4 5 6 7 8 9");
    EXPECT_EQ(none.sp.FileName, "/abs/r.txt");
    EXPECT_EQ(none.sp.State.size(), 1u);
    std::string name = "r.txt";
    none.sp.AddOutputPath("out/", name);
    EXPECT_EQ(name, "out/r.txt");
    name = "~/r.txt";
    none.sp.AddOutputPath("out/", name);
    EXPECT_EQ(name, "~/r.txt");

    // A balance file that cannot be created (37) or appended to (65).
    {
        testsupport::TempDir gone;
        HandReservoir r(0, "file = " + gone.file("sub/r.txt") + " V0 = 10 C0 = 0 0 0 0 0 0 0 0 0");
        int code = 0;
        try {
            r.sp.OpenOutput();
        } catch (int c) {
            code = c;
        }
        EXPECT_EQ(code, 37);
        r.sp.BufferRecord(2001, 1, 1, 1);
        code = 0;
        try {
            r.sp.FlushBuffer(1);
        } catch (int c) {
            code = c;
        }
        EXPECT_EQ(code, 65);
    }

    // Two runs in one directory: the header anew, then the records.
    testsupport::TempDir dir;
    for (int run = 1; run <= 2; ++run) {
        HandReservoir r(2, "file = " + dir.file("b.txt") + " V0 = 1000 C0 = 0.5 0 0 0 0 0 0 0 0 dTmin = 600");
        r.sp.Rules = RuleTable{};
        ASSERT_EQ(ParseRuleTable({"2", "0 0", "10000 1"}, 1, r.sp.Rules), "");
        r.sp.OpenOutput();
        std::vector<double> rates;
        const double cin[3] = {0, 1, 0};
        for (int step = 1; step <= run; ++step) {
            r.sp.CalcBalance(cin, 0.5, {}, rates, 60, 0, 0, 2001, 6, step, 12);
            r.sp.BufferRecord(2001, 6, step, 12);
        }
        r.sp.FlushBuffer(0);
        EXPECT_EQ(r.sp.RecordsHeld(), run) << "nothing written without the write flag";
        r.sp.FlushBuffer(1);
        const std::string file = testsupport::ReadFile(dir.file("b.txt"));
        const std::string header = std::string(Header) + "\tt1_\tt2_";
        EXPECT_EQ(file.rfind(header + "\nreservoir_1\n" + header + "\n", 0), 0u);
        const auto records = testsupport::ValueRowsOfText(file);
        ASSERT_EQ(records.size(), static_cast<size_t>(run));
        EXPECT_EQ(records[0].size(), 36u);
        EXPECT_NE(file.find("\n2001\t 6\t 1\t12\t0\t0\t"), std::string::npos) << file;
    }
}

// One step of a plain reservoir: the volume changes by inflow minus release
// minus what irrigation and abstractions took, it never goes below 0, and
// nothing is taken that was not there.
TEST(Reservoir, BalanceOfOneStepCloses) {
    struct Case {
        const char* what;
        double volume, inflow, irrigation, abstraction;
        int month;  // 0: a pass of the initial routing
        double irrigTaken, abstrTaken, maxRelease;
    } cases[] = {
        {"within the table", 50000, 2, 0, 0, 6, 0, 0, 1e9},
        {"irrigation and abstraction", 50000, 2, 3000, 1000, 6, 3000, 1000, 1e9},
        {"asked more than held", 3000, 1, 2000, 5000, 6, 2000, 1000, 1e9},
        {"empty and dry", 0, 0, 100, 100, 6, 0, 0, 0},
        {"above the table", 150000, 5, 0, 0, 6, 0, 0, 1e9},
        {"3600 m3 without inflow", 3600, 0, 0, 0, 6, 0, 0, 1.0},
        {"initial routing pass", 50000, 2, 0, 0, 0, 0, 0, 1e9},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        HandReservoir r(0, "file = x V0 = 0 C0 = 0 0 0 0 0 0 0 0 0 dTmin = 600");
        // Steep enough to empty 3600 m3 within the hour.
        ASSERT_EQ(ParseRuleTable({"2", "0 2", "100000 10"}, 1, r.sp.Rules), "");
        r.sp.State[0] = c.volume;
        std::vector<double> rates;
        r.sp.CalcBalance(nullptr, c.inflow, {}, rates, 60, c.irrigation, c.abstraction, c.month > 0 ? 2001 : 0,
                         c.month, c.month > 0 ? 4 : 0, c.month > 0 ? 12 : 0);
        const SP_class& s = r.sp;
        EXPECT_EQ(s.Irrig.m3, c.irrigTaken);
        EXPECT_EQ(s.Abstr.m3, c.abstrTaken);
        EXPECT_EQ(s.WithdrawalShortfall, c.irrigation + c.abstraction - c.irrigTaken - c.abstrTaken);
        EXPECT_GE(s.State[0], 0.0);
        EXPECT_GE(s.Outflow, 0.0);
        EXPECT_LE(s.Outflow, c.maxRelease);
        if (c.month > 0) {
            const double change = s.State[0] - c.volume;
            const double terms = s.Qin.m3 - s.Qout.m3 - s.Irrig.m3 - s.Abstr.m3;
            EXPECT_NEAR(change, terms, 1e-12 * std::max({1.0, c.volume, s.Qin.m3, s.Qout.m3}));
        } else {
            EXPECT_EQ(s.State[0], c.volume) << "the initial routing keeps the volume";
            EXPECT_LE(s.Qout.m3, c.volume);
        }
        for (const ReservoirTerm* t : {&s.Qin, &s.Qout, &s.Irrig, &s.QGW, &s.ETR, &s.PREC, &s.dV, &s.Abstr, &s.Err}) {
            EXPECT_EQ(t->mm, 0.0);
            EXPECT_EQ(t->m3s, t->m3 / 3600);
        }
        EXPECT_EQ(s.Area, 0.0);
        EXPECT_EQ(s.dV.m3, 0.0);
        EXPECT_EQ(s.Err.m3, 0.0);
    }
}

TEST(Reservoir, TracersDecayAndMix) {
    HandReservoir r(3, "file = x V0 = 0 C0 = 0 0 0 0 0 0 0 0 0");
    r.tracers[1].radioactive = 1;
    r.tracers[1].half_time = 1;  // day
    r.tracers[2].half_time = -9999;
    r.sp.SetParams(nullptr, r.tracers.data(), 3, 3, nullptr, ReservoirGeometry{}, nullptr, 0, 0, 60, "", "");
    ASSERT_EQ(ParseRuleTable({"2", "0 0", "1e9 0"}, 1, r.sp.Rules), "");
    r.sp.State = {1e5, 1.0, 1.0, 0.0};
    const double cin[4] = {0, 5, 5, 5};
    std::vector<double> rates;
    for (int step = 1; step <= 24; ++step) {
        r.sp.CalcBalance(cin, 0, {}, rates, 60, 0, 0, 2001, 1, 2, step - 1);
        if (step == 1) {
            EXPECT_NEAR(r.sp.State[1], 0.9715319, 1e-7);
        }
    }
    EXPECT_NEAR(r.sp.State[1], 0.5, 1e-9);
    EXPECT_EQ(r.sp.State[2], 1.0);
    // Mixing: 1e5 m3 at 0 with 3600 m3 at 5.
    r.sp.CalcBalance(cin, 1, {}, rates, 60, 0, 0, 2001, 1, 3, 1);
    EXPECT_NEAR(r.sp.State[3], 5 * 3600 / (1e5 + 3600), 1e-12);
    // No water, no inflow: no concentration.
    r.sp.State = {0, 1, 1, 1};
    r.sp.CalcBalance(cin, 0, {}, rates, 60, 0, 0, 2001, 1, 3, 2);
    EXPECT_EQ(r.sp.State[1], 0.0);
    EXPECT_EQ(r.sp.State[2], 0.0);
    EXPECT_EQ(r.sp.MixConcentration(1, 3, -1, 1), 2.0);
}

namespace {

// A routing with the reservoir of reservoir.ctl behind outlet 3.
struct ReservoirRun {
    RoutingHarness h{ReservoirSubbasins()};
    std::unique_ptr<abflussmodellklasse> routing;
    std::vector<double> water;
    double* qg[1];
    int year = 2001, month = 1, day = 1, hour = 0;

    ReservoirRun() {
        int status = -1;
        routing = h.Build(ControlText("reservoir.ctl"), &status);
        EXPECT_EQ(status, 0) << h.Console();
        water.assign(static_cast<size_t>(h.Subbasins.Count + 1), 0.01);
        qg[0] = water.data();
        routing->SetQg(qg);
        routing->InitRouting();
    }
    ~ReservoirRun() {
        if (routing) routing->DeleteModule();
    }
    // Step `step`: a flood wave on every subbasin; dates 37 hours apart so
    // that the run passes every hour, week day and season.
    double Step(int step) {
        const double wave = 0.01 + 0.6 * std::exp(-std::pow((step % 60 - 20) / 6.0, 2));
        for (size_t i = 1; i < water.size(); ++i) water[i] = wave * (1 + 0.1 * static_cast<double>(i));
        static const int lengths[13] = {0, 31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
        hour += 37;
        while (hour > 23) {
            hour -= 24;
            if (++day > lengths[month]) {
                day = 1;
                if (++month > 12) {
                    month = 1;
                    ++year;
                }
            }
        }
        (void)step;
        routing->RunTimeStep(hour, day, month, year);
        return routing->RoutedDischarge(h.Rank(3));
    }
    std::string State() {
        const std::string name = "state.txt";
        routing->ReadStorageFile(&name, 0);
        routing->WriteStorageFile();
        return h.File(name);
    }
};

}  // namespace

TEST(Reservoir, RunBehindAFloodWaveClosesRecordByRecord) {
    ReservoirRun run;
    const SP_class& sp = *run.routing->Descriptions[1]->Reservoirs[1];
    std::vector<double> routed;
    int released = 0, held = 0;
    for (int step = 1; step <= 240; ++step) {
        routed.push_back(run.Step(step));
        // The outlet's routed discharge is the release.
        ASSERT_NEAR(routed.back(), sp.Outflow, 1e-8 * std::max(1.0, sp.Outflow)) << step;
        released += sp.Outflow > 0 && sp.Outflow != sp.Qin.m3s;
        held += sp.Outflow == 0;
    }
    EXPECT_GT(released, 10);
    EXPECT_GT(held, 10) << "the working-day rule holds water back";
    run.routing->FlushOutputs();
    const auto records = testsupport::ValueRowsOfText(run.h.File("reservoir_1.txt"));
    ASSERT_EQ(records.size(), 240u);
    double before = 200000, largest = 0;
    for (size_t j = 0; j < records.size(); ++j) {
        const std::vector<double>& r = records[j];
        ASSERT_EQ(r.size(), 34u);
        const double V = r[6], Qin = r[7], Qout = r[10], Irrig = r[13], Abstr = r[28];
        const double residual = (V - before) - (Qin - Qout - Irrig - Abstr);
        const double scale = std::max({1.0, V, before, Qin, Qout});
        ASSERT_LE(std::fabs(residual), 1e-9 * scale) << "record " << j + 1;
        largest = std::max(largest, std::fabs(residual) / scale);
        for (int i : {8, 11, 14, 17, 20, 23, 26, 29, 32}) ASSERT_EQ(r[static_cast<size_t>(i)], 0.0) << "mm column " << i;
        for (int i : {7, 10, 13, 16, 19, 22, 25, 28, 31})
            ASSERT_NEAR(r[static_cast<size_t>(i) + 2], r[static_cast<size_t>(i)] / 3600,
                        1e-15 * std::max(1.0, r[static_cast<size_t>(i)]));
        for (int i : {6, 7, 10, 13, 28}) ASSERT_GE(r[static_cast<size_t>(i)], 0.0);
        before = V;
    }
    std::printf("largest relative reservoir residual %.3g\n", largest);
}

TEST(Reservoir, WarmStartContinuesBitForBit) {
    ReservoirRun whole;
    std::vector<double> all;
    for (int step = 1; step <= 96; ++step) all.push_back(whole.Step(step));
    const std::string finalState = whole.State();
    whole.routing->FlushOutputs();
    const std::string wholeFile = whole.h.File("reservoir_1.txt");

    ReservoirRun first;
    for (int step = 1; step <= 48; ++step) first.Step(step);
    const std::string saved = first.State();
    EXPECT_NE(saved.find("\n1 (number of reservoirs)\n"), std::string::npos) << saved;

    ReservoirRun second;
    second.year = first.year, second.month = first.month, second.day = first.day, second.hour = first.hour;
    testsupport::WriteFile(second.h.dir.file("state.txt"), saved);
    const std::string name = "state.txt";
    second.routing->ReadStorageFile(&name, 1);
    for (int step = 49; step <= 96; ++step)
        ASSERT_EQ(second.Step(step), all[static_cast<size_t>(step - 1)]) << "step " << step;
    EXPECT_EQ(second.State(), finalState);
    second.routing->FlushOutputs();
    const std::string rest = second.h.File("reservoir_1.txt");
    // The records of the second half are those of the continuous run.
    const size_t at = rest.find('\n', rest.find('\n', rest.find('\n') + 1) + 1) + 1;
    ASSERT_NE(wholeFile.find(rest.substr(at)), std::string::npos);
    EXPECT_EQ(wholeFile.size() - wholeFile.find(rest.substr(at)), rest.size() - at);

    // A state with another number of reservoirs does not fit.
    ReservoirRun other;
    std::string changed = saved;
    changed.replace(changed.find("\n1 (number of reservoirs)"), 25, "\n2 (number of reservoirs)");
    testsupport::WriteFile(other.h.dir.file("state.txt"), changed);
    int code = 0;
    try {
        other.routing->ReadStorageFile(&name, 1);
    } catch (int c) {
        code = c;
    }
    EXPECT_EQ(code, 71);
    EXPECT_NE(other.h.Console().find("error reading reservoir code in file state.txt (position 49)"), std::string::npos) << other.h.Console();
}

// A description without channels passes f times its outlet's own runoff, to
// the outlet or into its reservoir.
TEST(Reservoir, DescriptionsWithoutChannels) {
    for (bool reservoir : {false, true}) {
        SCOPED_TRACE(reservoir ? "with a reservoir" : "outlet only");
        RoutingHarness h({{1, 0.5}, {3, 0.5}});
        int status = -1;
        const std::string sp = reservoir ? "\n  SP 4 file = r4.txt V0 = 0 C0 = 0 0 0 0 0 0 0 0 0" : "";
        const std::string rules = reservoir ? "\n[abstraction_rule_reservoir_4]\n1\n0 0\n" : "";
        auto routing =
            h.Build(ControlText("single.ctl", {{"TG 3 A = 100 f = 0.8", "TG 3 A = 100 f = 0.8" + sp}}) + rules, &status);
        ASSERT_EQ(status, 0) << h.Console();
        std::vector<double> water(3, 0.5);
        double* qg[1] = {water.data()};
        routing->SetQg(qg);
        routing->InitRouting();
        routing->RunTimeStep(1, 1, 1, 2020);
        if (reservoir) {
            // A one-row table at 0 m3: everything above it passes.
            const SP_class& r = *routing->Descriptions[1]->Reservoirs[1];
            EXPECT_NEAR(r.Qin.m3s, 0.5 * 50 * 16.6666667 / 60, 1e-9);  // 0.5 mm from 50 km2
            EXPECT_NEAR(r.Outflow, r.Qin.m3s, 1e-12);
        }
        EXPECT_NEAR(routing->RoutedDischarge(h.Rank(3)), 0.8 * 0.5, 1e-8);
        routing->DeleteModule();
    }
}
