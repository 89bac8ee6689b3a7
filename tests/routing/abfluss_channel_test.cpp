// The channel state at the start of a run: area fractions and the check of
// the catchment area, the flow arrays and storage elements filled with the
// starting flow, and the river-flow records the soil model reads.

#include <gtest/gtest.h>

#include <cmath>
#include <numeric>

#include "routing/routing_harness.h"
#include "soil/unsatzon.h"
#include "support/element_balance.h"

using namespace routingtest;

TEST(RoutingChannelState, CatchmentAreaAgainstTheZoneGrid) {
    struct Case {
        double zoneArea;
        bool info;
        double area;
    } cases[] = {{100.0005, false, 100.0}, {99.9995, false, 100.0}, {100.002, true, 100.002}, {90.0, true, 90.0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.zoneArea);
        RoutingHarness h({{3, 1.0}}, c.zoneArea);
        int status = -1;
        auto routing = h.Build(ControlText("single.ctl"), &status);
        ASSERT_EQ(status, 0) << h.Console();
        routingclass& d = *routing->Descriptions[1];
        EXPECT_NEAR(d.CatchmentArea, c.area, 1e-9);
        EXPECT_EQ(h.Console().find("INFO: Basin") != std::string::npos ||
                      h.Console().find("Basin 3: area in contr.file: 100 <-> zone-grid ") != std::string::npos,
                  c.info)
            << h.Console();
        // Without channels the outlet's own runoff carries the area factor.
        EXPECT_EQ(d.Weights[0], 0.8);
        EXPECT_EQ(routing->GetAbfrel()[0][1], 1.0);
        EXPECT_EQ(routing->GetAbfrel()[1][1], 0.8);
        routing->DeleteModule();
    }
    RoutingHarness h({{3, 1.0}}, 100.002);
    int status = -1;
    auto routing = h.Build(ControlText("single.ctl"), &status);
    EXPECT_NE(h.Console().find("Basin 3: area in contr.file: 100 <-> zone-grid 100.002 (adjusted to the latter)"),
              std::string::npos)
        << h.Console();
    routing->DeleteModule();
}

TEST(RoutingChannelState, AreaFractionsAddUpToTheAreaFactor) {
    RoutingHarness h;
    int status = -1;
    auto routing =
        h.Build(ControlText("network.ctl", {{"TG 20 A = 32.26 f = 1.0", "TG 20 A = 32.26 f = 0.5"}}), &status);
    ASSERT_EQ(status, 0) << h.Console();
    double** abfrel = routing->GetAbfrel();
    for (int k = 1; k <= 2; ++k) {
        routingclass& d = *routing->Descriptions[static_cast<size_t>(k)];
        const int used = d.Counts.OL + d.Counts.SUMTRIB;
        const double sum = std::accumulate(d.Weights.begin(), d.Weights.begin() + used + 1, 0.0);
        EXPECT_NEAR(sum, d.AreaFactor, 1e-14) << k;
    }
    // The first outlet stands for its whole catchment in the second
    // description; the summed channel for all three of its tributaries.
    const double first = 0.0549 + 0.0278 + 0.0499, sumtrib = 0.05 + 0.03 + 0.01, second = 0.1 + first + sumtrib;
    routingclass& d = *routing->Descriptions[2];
    EXPECT_NEAR(d.Weights[0], 0.1 / second * 0.5, 1e-14);
    EXPECT_NEAR(d.Weights[1], first / second * 0.5, 1e-14);
    EXPECT_NEAR(d.Weights[2], sumtrib / second * 0.5, 1e-14);
    EXPECT_NEAR(abfrel[0][h.Rank(3)], first, 1e-15);
    EXPECT_NEAR(abfrel[0][h.Rank(20)], second, 1e-15);
    EXPECT_EQ(abfrel[1][h.Rank(20)], 0.5);
    EXPECT_EQ(abfrel[1][h.Rank(3)], 1.0);
    EXPECT_NEAR(d.CatchmentArea, 32.26, 1e-9);
    routing->DeleteModule();
}

TEST(RoutingChannelState, StartFromConstantRunoff) {
    RoutingHarness h;
    int status = -1;
    auto routing =
        h.Build(ControlText("network.ctl", {{"TG 3 A = 13.26 f = 1.0", "TG 3 A = 13.26 f = 0.8"}}), &status, 1);
    ASSERT_EQ(status, 0) << h.Console();
    const int n = h.Subbasins.Count;
    // Runoff [mm per step] 0.1 x rank, concentrations 7 + rank.
    std::vector<double> water(static_cast<size_t>(n + 1)), tracer(static_cast<size_t>(n + 1));
    for (int i = 1; i <= n; ++i) {
        water[static_cast<size_t>(i)] = 0.1 * i;
        tracer[static_cast<size_t>(i)] = 7 + i;
    }
    double* qg[2] = {water.data(), tracer.data()};
    routing->SetQg(qg);
    // The set-up state alone: a grid-read mode skips the initial passes.
    routing->GridReadMode = 1;
    routing->InitRouting();
    EXPECT_EQ(h.Console().find("routing the initialization discharges"), std::string::npos);
    std::vector<riverflow_table> records(static_cast<size_t>(n + 1));
    routing->SetRiverflowTable(records.data());

    double** abfrel = routing->GetAbfrel();
    const double dt = 60;
    struct Member {
        int code, description, channel;
    } members[] = {{1, 1, 1}, {2, 1, 2}, {3, 2, 1}, {12, 2, 2}, {13, 2, 2}, {14, 2, 2}};
    for (const Member& m : members) {
        SCOPED_TRACE(m.code);
        const int i = h.Rank(m.code);
        const riverflow_table& r = records[static_cast<size_t>(i)];
        routingclass& d = *routing->Descriptions[static_cast<size_t>(m.description)];
        // The area over which this subbasin's water is counted.
        const double area = 100.0 * abfrel[0][i] / abfrel[1][i];
        EXPECT_EQ(r.description, m.description);
        EXPECT_EQ(r.channel, m.channel);
        EXPECT_DOUBLE_EQ(r.area, area);
        EXPECT_EQ(r.flow_mm[0], 0.1 * i);
        EXPECT_EQ(r.flow_mm[1], 7 + i);
        EXPECT_DOUBLE_EQ(r.flowm3s, 0.1 * i * area * 16.6666667 / dt);
        EXPECT_EQ(r.speed, d.Tables[static_cast<size_t>(m.channel)].v[static_cast<size_t>(d.GetTableRow(m.channel, 0.1 * i))]);
        EXPECT_EQ(r.withdrawn, 0.0);
    }
    // Subbasin 3 is the first outlet with area factor 0.8: its water counts
    // over its catchment divided by the factor.
    EXPECT_DOUBLE_EQ(records[static_cast<size_t>(h.Rank(3))].area, 13.26 / 0.8);
    for (int code : {20, 30}) EXPECT_EQ(records[static_cast<size_t>(h.Rank(code))].description, 0);

    // Storage elements hold the starting flow of what feeds each channel.
    const StorageElementArrays& E = routing->StorageElements;
    for (int k = 1; k <= 2; ++k) {
        routingclass& d = *routing->Descriptions[static_cast<size_t>(k)];
        for (int e = 1; e <= d.ChannelCount; ++e) {
            const wqtab& w = d.Tables[static_cast<size_t>(e)];
            const std::vector<int> indices = d.IsZL(e) ? std::vector<int>{d.IndexOf(e)} : d.SubbasinRanksOf(e);
            for (int i : indices) {
                for (int t = 0; t <= 1; ++t) {
                    const std::vector<double>& elements = E[static_cast<size_t>(t)][static_cast<size_t>(i)];
                    ASSERT_EQ(elements.size(), static_cast<size_t>(w.StorageElements + 2 + 1));
                    const double expected = routing->StepFlows.Rows()[t][i];
                    EXPECT_EQ(elements[0], 0.0);
                    for (size_t p = 1; p < elements.size(); ++p) ASSERT_EQ(elements[p], expected) << e << " " << p;
                }
            }
            const double flow = routing->StepFlows.Rows()[0][d.IndexOf(e)];
            for (int s = 1; s <= static_cast<int>(w.S); ++s) {
                EXPECT_EQ(w.Qaus[static_cast<size_t>(s)][1], flow);
                EXPECT_EQ(w.Qaus[static_cast<size_t>(s)][2], flow);
                EXPECT_GE(w.FillPosition[static_cast<size_t>(s)], 2);
                EXPECT_LE(w.FillPosition[static_cast<size_t>(s)], w.StorageElements + 2);
            }
        }
    }
    // The constant inflow of 2.5 m3/s over its 3 km2, in mm per hour.
    EXPECT_NEAR(routing->StepFlows.Rows()[0][n + 1], 2.5 * 0.06 * 60 / 3, 1e-12);
    double*** Fs = routing->SubIntervalFlows.Rows();
    for (int s = 1; s <= 2; ++s)
        for (int i = 1; i <= n + 1; ++i) EXPECT_EQ(Fs[0][s][i], routing->StepFlows.Rows()[0][i]);

    // After a step the records follow the flows and the withdrawal is reset;
    // area, description and channel stay.
    const int i = h.Rank(13);
    records[static_cast<size_t>(i)].withdrawn = 0.3;
    routing->StepFlows.Rows()[0][i] = 2.0;
    routing->Descriptions[2]->UpdateRiverflowTable();
    EXPECT_EQ(records[static_cast<size_t>(i)].withdrawn, 0.0);
    EXPECT_EQ(records[static_cast<size_t>(i)].flow_mm[0], 2.0);
    EXPECT_DOUBLE_EQ(records[static_cast<size_t>(i)].flowm3s, 2.0 * 3.0 * 16.6666667 / dt);
    EXPECT_EQ(records[static_cast<size_t>(i)].channel, 2);
    routing->DeleteModule();
    for (const auto& tracer : E)
        for (const auto& elements : tracer) EXPECT_TRUE(elements.empty());
}

TEST(RoutingChannelState, ElementBalanceNamesTheElementThatLosesWater) {
    testsupport::ElementBalance b({"channel 1", "outlet"});
    b.BeginStep();
    b.Storage(0, 10.0);
    b.In(0, 2.0);
    b.Move(0, 1, 3.0);
    b.Out(1, 3.0);
    b.EndStorage(0, 9.0);
    EXPECT_EQ(b.Check(1e-12), "");
    b.BeginStep();
    b.Storage(0, 10.0);
    b.Move(0, 1, 3.0);
    b.EndStorage(0, 7.5);  // half a unit gone
    b.EndStorage(1, 3.0);
    EXPECT_EQ(b.Check(1e-12).rfind("step 2, element channel 1: in 0, out 3, before 10, after 7.5, residual -0.5", 0),
              0u)
        << b.Check(1e-12);
    EXPECT_EQ(b.LargestResidual(), 0.5);
}
