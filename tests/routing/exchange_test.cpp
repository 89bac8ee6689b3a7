// The routing's side of the river-water exchange: the availability it leaves
// for irrigation, the withdrawals of irrigation and of the soil model at the
// tributaries and outlets, the withdrawals a river cannot supply carried
// into the next step, and the balance of everything the routing took.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "routing/exchange.h"
#include "routing/reservoir.h"
#include "routing/routing_harness.h"
#include "soil/unsatzon.h"

using namespace routingtest;

namespace {

const char* const Channel = " kh = 0.01 kv = 0.01 bm = 50 bf = 10 tm = 20 nm = 30 nf = 15 I = 0.01 L = 10 A = 10\n";

// TG 3 (50 km2) routes subbasin 1; TG 30 (100 km2) routes 3 and 20. Areas:
// 1 and 20 10 km2 each, 3 and 30 40 km2 each. Channels pass their input on
// within the step.
std::string Network(const std::string& extra = "") {
    return ControlText("flows.ctl",
                       {{"1 1000 10 1 ", "1 1000 10 2 "},
                        {"TG 3 A = 100", "TG 3 A = 50"},
                        {"L = 10 A = 10\nend", std::string("L = 10 A = 10\nTG 30 A = 100 f = 1.0\n  OL 3") + Channel +
                                                   "  OL 20" + Channel + extra + "end"}});
}

struct ExchangeRun {
    RoutingHarness h{{{1, 0.1}, {3, 0.4}, {20, 0.1}, {30, 0.4}}};
    std::unique_ptr<abflussmodellklasse> routing;
    std::vector<double> water;
    double* qg[1];
    std::vector<ZoneRecord> demand;
    std::vector<riverflow_table> rivers;

    ExchangeRun(const std::string& control, bool withDemand, bool withRivers) {
        int status = -1;
        routing = h.Build(control, &status);
        EXPECT_EQ(status, 0) << h.Console();
        const size_t n1 = static_cast<size_t>(h.Subbasins.Count + 1);
        water.assign(n1, 0.036);
        qg[0] = water.data();
        routing->SetQg(qg);
        routing->InitRouting();
        demand.assign(h.Records.begin(), h.Records.end());
        for (ZoneRecord& r : demand) r.n = r.sx = r.RelCellSum = 0;
        if (withDemand) routing->SetIrrigationDemand(demand.data());
        rivers.assign(n1, riverflow_table{});
        if (withRivers) routing->SetRiverflowTable(rivers.data());
    }
    ~ExchangeRun() { routing->DeleteModule(); }

    // Delivered mean irrigation [mm] of the step per subbasin code.
    void Demand(int code, double mm) {
        ZoneRecord& r = demand[static_cast<size_t>(h.Rank(code))];
        r.RelCellSum = 2;
        r.sx = 2 * mm;
    }
    double Area(int code) const { return h.Records[0].rel * h.Records[static_cast<size_t>(h.Rank(code))].rel; }
    double m3s(int code) { return routing->RoutedDischarge(h.Rank(code)); }
};

}  // namespace

TEST(RoutingExchange, WithdrawAtMostByHand) {
    struct Case {
        double q, rate, left, unmet;
    } cases[] = {{1, 0.25, 0.75, 0}, {0.2, 0.5, 0, 0.3}, {0, 0.5, 0, 0.5}, {-1, 0.5, -1, 0.5}, {1, 0, 1, 0}};
    for (const Case& c : cases) {
        double q = c.q;
        EXPECT_DOUBLE_EQ(WithdrawAtMost(q, c.rate), c.unmet);
        EXPECT_DOUBLE_EQ(q, c.left);
    }
}

// By hand: the availability of a tributary is its runoff; a withdrawal
// larger than the flow leaves 0 and takes the rest in the next step; the
// outlet below two tributaries is lowered by each of them once, and the
// river demand of an outlet upstream is added back to it.
TEST(RoutingExchange, AvailabilityAndWithdrawalsByHand) {
    ExchangeRun run(Network(), true, false);
    abflussmodellklasse& r = *run.routing;
    double** maxirrig = r.GetMaxIrrig();
    // Step 1 without demand takes nothing.
    r.RunTimeStep(1, 1, 1, 2020);
    EXPECT_NEAR(run.m3s(30), 1.0, 1e-8);
    EXPECT_DOUBLE_EQ(maxirrig[0][run.h.Rank(1)], 0.036);
    // Step 2: subbasin 1 wants 0.05 mm of its 0.036.
    run.Demand(1, 0.05);
    run.Demand(20, 0.01);
    run.Demand(3, 0.02);
    r.RunTimeStep(2, 1, 1, 2020);
    const double mmToM3s = 1.0 / 3.6;  // 1 mm per hour over 1 km2
    EXPECT_NEAR(run.m3s(3), 0.5 - 0.036 * 10 * mmToM3s - 0.02 * 40 * mmToM3s, 1e-8);
    EXPECT_NEAR(run.m3s(30), 1.0 - (0.036 * 10 + 0.02 * 40 + 0.01 * 10) * mmToM3s, 1e-8);
    EXPECT_NEAR(r.Exchange.IrrigationDeficit[static_cast<size_t>(run.h.Rank(1))], 0.014, 1e-15);
    for (int i = 1; i <= run.h.Subbasins.Count; ++i) EXPECT_GE(r.StepFlows.Rows()[0][i], 0.0);
    // The availability at 30 in mm over 30's own 40 km2, with the demand of
    // outlet 3 given back.
    const double f30 = (0.036 * 100 - 0.036 * 10 - 0.02 * 40 - 0.01 * 10) / 100;
    EXPECT_NEAR(maxirrig[0][run.h.Rank(30)], f30 / 0.4 + 0.02, 1e-12);
    // Step 3 without demand: the 0.014 mm left over is taken now.
    run.Demand(1, 0);
    run.Demand(20, 0);
    run.Demand(3, 0);
    r.RunTimeStep(3, 1, 1, 2020);
    EXPECT_NEAR(run.m3s(30), 1.0 - 0.014 * 10 * mmToM3s, 1e-8);
    EXPECT_EQ(r.Exchange.IrrigationDeficit[static_cast<size_t>(run.h.Rank(1))], 0.0);
}

// A dry outlet gives up its river demand once: its own description carries
// what it could not give, and the description below, where it is a
// tributary, does not ask for it again, in this step or the next.
TEST(RoutingExchange, DryOutletCarriesItsDemandOnce) {
    ExchangeRun run(Network(), true, false);
    abflussmodellklasse& r = *run.routing;
    for (int code : {1, 3}) run.water[static_cast<size_t>(run.h.Rank(code))] = 0;
    const size_t three = static_cast<size_t>(run.h.Rank(3));
    // The channels of description 3 run dry.
    for (int step = 1; step <= 10; ++step) r.RunTimeStep(step, 1, 1, 2020);
    ASSERT_EQ(run.m3s(3), 0.0);
    for (int step = 11; step <= 12; ++step) {
        run.Demand(3, 0.02);
        r.RunTimeStep(step, 1, 1, 2020);
        EXPECT_DOUBLE_EQ(r.Exchange.IrrigationDeficit[three], 0.02 * (step - 10)) << step;
        EXPECT_NEAR(run.m3s(30), 0.036 * 50 / 3.6, 1e-8) << "subbasins 20 and 30 keep their water";
    }
}

// Over a run with irrigation from rivers, a soil-model river withdrawal and
// an external abstraction, the water the routing took equals what was asked,
// less what it carries into the next step; no flow is ever negative.
TEST(RoutingExchange, EverythingTakenIsAccounted) {
    ExchangeRun plain(Network(), false, false);
    ExchangeRun with(Network("  AL 1 = extern al.txt 0.05 0.5 0.2 m3/s\n"), true, true);
    const int n = with.h.Subbasins.Count;
    double asked = 0, carriedBefore = 0, taken = 0, largest = 0;
    auto carried = [&]() {
        double m3 = 0;
        for (int i = 1; i <= n; ++i) {
            const int code = static_cast<int>(with.h.Records[static_cast<size_t>(i)].zonenwert);
            m3 += with.routing->Exchange.IrrigationDeficit[static_cast<size_t>(i)] * with.Area(code) * 1000;
            m3 += with.routing->Exchange.SoilDeficit[static_cast<size_t>(i)] * with.rivers[static_cast<size_t>(i)].area * 1000;
        }
        return m3;
    };
    for (int step = 1; step <= 30; ++step) {
        const double q = 0.001 + 0.04 * (1 + std::sin(step / 3.0));
        for (size_t i = 1; i < plain.water.size(); ++i) plain.water[i] = with.water[i] = q * (0.5 + 0.2 * static_cast<double>(i));
        double stepAsked = 0;
        for (int code : {1, 3, 20, 30}) {
            const double d = 0.02 * (1 + std::cos(step + code));
            with.Demand(code, d);
            stepAsked += d * with.Area(code) * 1000;
        }
        for (int code : {1, 20}) {
            const double soil = 0.03 * (1 + std::sin(step * code));
            with.rivers[static_cast<size_t>(with.h.Rank(code))].withdrawn = soil;
            stepAsked += soil * 3600;
        }
        plain.routing->RunTimeStep(step, 1, 1, 2020);
        with.routing->RunTimeStep(step, 1, 1, 2020);
        const double stepTaken = (plain.m3s(30) - with.m3s(30)) * 3600;
        asked += stepAsked;
        taken += stepTaken;
        for (int i = 1; i <= n; ++i) {
            ASSERT_GE(with.routing->StepFlows.Rows()[0][i], 0.0) << step;
            for (int s = 1; s <= 2; ++s) ASSERT_GE(with.routing->SubIntervalFlows.Rows()[0][s][i], 0.0) << step;
        }
        const double carriedNow = carried();
        largest = std::max(largest, carriedNow);
        carriedBefore = carriedNow;
    }
    // The abstraction's records [m3/s] as buffered for its file.
    const AL_class& al = *with.routing->Descriptions[2]->Abstractions[1];
    double abstracted = 0;
    for (int k = 0; k < al.RecordsHeld; ++k) abstracted += al.Records[static_cast<size_t>(k * al.ValuesPerRecord + 4)] * 3600;
    EXPECT_EQ(al.RecordsHeld, 30);
    EXPECT_GT(abstracted, 0.0);
    EXPECT_GT(largest, 0.0) << "some withdrawal was carried";
    const double expected = asked + abstracted - carriedBefore;
    EXPECT_NEAR(taken / expected, 1.0, 1e-8) << taken << " " << expected;
    std::printf("taken %.6f m3, asked %.6f m3, abstracted %.6f m3, carried at the end %.6f m3\n", taken, asked,
                abstracted, carriedBefore);
}

namespace {

// Both descriptions with an internal pair whose abstraction is routed after
// its inflow (so the inflow reads the flows of the step before), an external
// inflow and an external abstraction; with `reservoir`, subbasin 3 flows
// into a reservoir that supplies its irrigation and the abstraction there.
std::string WarmNetwork(bool reservoir) {
    const std::string sp = reservoir ? "\n  SP 3 file = r3.txt V0 = 2000 C0 = 0 0 0 0 0 0 0 0 0" : "";
    const std::string rules = reservoir ? "\n[abstraction_rule_reservoir_3]\n2\n0 0\n100000 1\n" : "";
    return ControlText(
        "flows.ctl",
        {{"1 1000 10 1 ", "1 1000 10 2 "},
         {"TG 3 A = 100 f = 1.0", "TG 3 A = 50 f = 1.0" + sp},
         {"L = 10 A = 10\nend",
          std::string("L = 10 A = 10\n  ZL 1 = intern kh = 2 kv = 6 bm = 5 bf = 20 tm = 0.5 nm = 25 nf = 10 I = 0.003 "
                      "L = 3000 A = 10\n  AL 2 = extern al2.txt 0 0.3 10 mm\n") +
              "TG 30 A = 100 f = 1.0\n  OL 3 kh = 1 kv = 5 bm = 2 bf = 100 tm = 0.5 nm = 40 nf = 20 I = 0.0005 L = "
              "10000 A = 50\n  OL 20" +
              Channel + "  ZL 2 = extern zl.txt 1 5" + Channel + "  AL 1 = intern 0 0.2 10 mm\nend"}}) +
           rules;
}

struct WarmRun {
    RoutingHarness h{{{1, 0.1}, {3, 0.4}, {20, 0.1}, {30, 0.4}}};
    std::unique_ptr<abflussmodellklasse> routing;
    std::vector<double> water;
    double* qg[1];
    std::vector<ZoneRecord> demand;
    std::vector<riverflow_table> rivers;

    WarmRun(bool reservoir, int firstStep, const std::string& zl, const std::string* state = nullptr) {
        h.settings.StartDay = 1 + (firstStep - 1) / 24;
        h.settings.StartHour = (firstStep - 1) % 24 + 1;
        testsupport::WriteFile(h.dir.file("zl.txt"), zl);
        int status = -1;
        routing = h.Build(WarmNetwork(reservoir), &status);
        EXPECT_EQ(status, 0) << h.Console();
        water.assign(5, Runoff(firstStep));
        qg[0] = water.data();
        routing->SetQg(qg);
        routing->InitRouting();
        demand.assign(h.Records.begin(), h.Records.end());
        routing->SetIrrigationDemand(demand.data());
        rivers.assign(5, riverflow_table{});
        routing->SetRiverflowTable(rivers.data());
        const std::string name = "state.txt";
        if (state) testsupport::WriteFile(h.dir.file(name), *state);
        routing->ReadStorageFile(&name, state ? 1 : 0);
        routing->SetStatus(1);
    }
    ~WarmRun() { routing->DeleteModule(); }
    static double Runoff(int step) { return 0.02 + 0.3 * std::pow(1 + std::sin(step / 5.0), 3); }
    std::vector<double> Steps(int from, int to) {
        std::vector<double> routed;
        for (int step = from; step <= to; ++step) {
            for (size_t i = 1; i < water.size(); ++i) water[i] = Runoff(step) * (0.4 + 0.3 * static_cast<double>(i));
            for (size_t i = 1; i < demand.size(); ++i) {
                demand[i].RelCellSum = 1;
                demand[i].sx = 0.3 * (1 + std::cos(step + static_cast<double>(i)));
            }
            rivers[1].withdrawn = 0.2 * (1 + std::sin(step));
            routing->RunTimeStep((step - 1) % 24 + 1, 1 + (step - 1) / 24, 1, 2020);
            for (int i = 1; i <= h.Subbasins.Count; ++i) routed.push_back(routing->RoutedDischarge(i));
        }
        return routed;
    }
    std::string State() {
        routing->WriteStorageFile();
        return h.File("state.txt");
    }
};

std::string WarmInflowFile() {
    std::string text = "YY MM DD HH Q\n";
    for (int step = 1; step <= 48; ++step) {
        text += "2020 1 " + std::to_string(1 + (step - 1) / 24) + " " + std::to_string((step - 1) % 24 + 1) + " " +
                std::to_string(0.5 + 0.1 * (step % 7)) + "\n";
    }
    return text;
}

}  // namespace

// 48 steps in one run equal 24 steps, the state saved, and 24 more of a run
// that starts warm from it, with an internal pair, an external inflow, an
// abstraction and withdrawals carried between steps; with a reservoir that
// shares the irrigation of its subbasin with the river, also its balance
// file.
TEST(RoutingExchange, WarmStartWithInflowsAbstractionsAndCarriedWithdrawals) {
    const std::string zl = WarmInflowFile();
    // The rows of a step file after the last line the first run wrote.
    auto tail = [](const std::string& whole, const std::string& second) {
        const size_t from = second.find("\n2020");
        EXPECT_NE(from, std::string::npos);
        const size_t length = from == std::string::npos ? 0 : second.size() - from - 1;
        EXPECT_GT(length, 0u);
        EXPECT_EQ(whole.substr(whole.size() - std::min(length, whole.size())), second.substr(second.size() - length));
    };
    for (const bool reservoir : {false, true}) {
        SCOPED_TRACE(reservoir ? "with a reservoir" : "without a reservoir");
        WarmRun whole(reservoir, 1, zl);
        const std::vector<double> all = whole.Steps(1, 48);
        const std::string finalState = whole.State();
        whole.routing->FlushOutputs();

        WarmRun first(reservoir, 1, zl);
        first.Steps(1, 24);
        const std::string saved = first.State();
        EXPECT_NE(saved.find("(carried irrigation and soil withdrawals of subbasin)"), std::string::npos) << saved;
        EXPECT_NE(saved.find("(flows of internal inflow)"), std::string::npos);
        EXPECT_NE(saved.find("(irrigation availability of subbasin)"), std::string::npos);

        const std::vector<riverflow_table> riversAfterFirst = first.rivers;

        WarmRun second(reservoir, 25, zl, &saved);
        // The soil model's next step sees the rivers of the last step.
        for (size_t i = 1; i < riversAfterFirst.size(); ++i) {
            const riverflow_table& a = riversAfterFirst[i];
            const riverflow_table& b = second.rivers[i];
            EXPECT_EQ(b.flowm3s, a.flowm3s) << i;
            EXPECT_EQ(b.speed, a.speed) << i;
            EXPECT_EQ(b.flow_mm[0], a.flow_mm[0]) << i;
            EXPECT_EQ(b.area, a.area) << i;
            EXPECT_EQ(b.carried, a.carried) << i;
        }
        EXPECT_GT(riversAfterFirst[1].carried, 0.0) << "a soil withdrawal is owed over the restart";
        const std::vector<double> rest = second.Steps(25, 48);
        const size_t n = 4;
        ASSERT_EQ(rest.size(), 24 * n);
        for (size_t x = 0; x < rest.size(); ++x)
            ASSERT_EQ(rest[x], all[24 * n + x]) << "step " << 25 + x / n << " subbasin rank " << 1 + x % n;
        EXPECT_EQ(second.State(), finalState);
        second.routing->FlushOutputs();
        tail(whole.h.File("al2.txt"), second.h.File("al2.txt"));
        if (reservoir) {
            const SP_class& sp = *second.routing->Descriptions[1]->Reservoirs[1];
            EXPECT_GT(sp.Irrig.m3, 0.0) << "the reservoir supplies irrigation";
            tail(whole.h.File("r3.txt"), second.h.File("r3.txt"));
        }
    }
}
