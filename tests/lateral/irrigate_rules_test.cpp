// Irrigation kernels: the amount of each kind of rule against hand values,
// the tracer mixing, and the limitation of surface-water amounts on
// hand-filled exchange tables, with the delivered water checked against
// what the reservoirs and rivers give.

#include <gtest/gtest.h>

#include <vector>

#include "framework/zonetable.h"
#include "lateral/irrigate_rules.h"
#include "setup/irrigation_table.h"
#include "soil/unsatzon.h"

using irrigate::CellWater;

namespace {

constexpr double NoData = -9999;

IrrigationRule Rule(int method, int origin, double minRatio = 0) {
    IrrigationRule rule;
    rule.Code = 1;
    rule.Method = method;
    rule.Origin = origin;
    rule.MinEtrToEtp = minRatio;
    rule.ClearSchedule();
    return rule;
}

// Soil water between the thresholds of method 3 (SBLOW 0.25, SBHIGH 0.30).
CellWater Soil(double sb1, double previous = 0) {
    CellWater cell;
    cell.Previous = previous;
    cell.SB1 = sb1;
    cell.SBLow = 0.25;
    cell.SBHigh = 0.30;
    cell.EtrToEtp = 1;
    cell.RootDepth = 0.5;
    cell.ProfileDepth = 2;
    return cell;
}

}  // namespace

TEST(IrrigationRules, AmountByMethod) {
    IrrigationRule dates = Rule(IrrigationRule::ScheduleList, 2);
    dates.AddEvent(6, 1, 12);
    dates.AddEvent(6, 1, 99);  // only the first event of a day counts
    dates.AddEvent(7, 4, 6);
    const IrrigationRule suction = Rule(IrrigationRule::DemandSuction, 1);
    const IrrigationRule ratio = Rule(IrrigationRule::DemandEtrEtp, 1, 0.6);
    const IrrigationRule other = Rule(7, 1);
    auto etr = [](double r, double sb1, double previous = 0) {
        CellWater c = Soil(sb1, previous);
        c.EtrToEtp = r;
        return c;
    };
    const double hourlyRefill = 0.1 * 0.5 * 1000 / 24;  // 2.08333 mm
    struct Case {
        const char* what;
        const IrrigationRule* rule;
        CellWater cell;
        double dt;
        int month, day;
        double expected;
    } cases[] = {
        {"dates: listed day, daily", &dates, Soil(0.2), 1440, 6, 1, 12},
        {"dates: listed day, hourly", &dates, Soil(0.2), 60, 6, 1, 0.5},
        {"dates: other day", &dates, Soil(0.2, 4), 1440, 6, 2, 0},
        {"dates: second event", &dates, Soil(0.2), 1440, 7, 4, 6},
        {"suction: dry, daily refill", &suction, Soil(0.2), 1440, 6, 1, 50},
        {"suction: dry, first hour", &suction, Soil(0.2), 60, 6, 1, hourlyRefill},
        {"suction: dry, later hours keep", &suction, Soil(0.22, hourlyRefill), 60, 6, 1, hourlyRefill},
        {"suction: between, hourly keeps", &suction, Soil(0.27, hourlyRefill), 60, 6, 1, hourlyRefill},
        {"suction: refilled, hourly stops", &suction, Soil(0.30, hourlyRefill), 60, 6, 1, 0},
        {"suction: between, daily stops", &suction, Soil(0.27, 50), 1440, 6, 1, 0},
        {"ratio: at the threshold", &ratio, etr(0.6, 0.2), 1440, 6, 1, 0},
        {"ratio: above the threshold", &ratio, etr(0.9, 0.1), 1440, 6, 1, 0},
        {"ratio: low, soil dry", &ratio, etr(0.5, 0.2), 1440, 6, 1, 50},
        {"ratio: low, soil above SBHIGH", &ratio, etr(0.5, 0.35), 1440, 6, 1, 0},
        {"ratio: low, keeps its amount", &ratio, etr(0.5, 0.2, 7), 60, 6, 1, 7},
        {"ratio: recovered, hourly keeps", &ratio, etr(0.8, 0.28, 7), 60, 6, 1, 7},
        {"other method keeps", &other, Soil(0.2, 3.5), 60, 6, 1, 3.5},
        {"nodata previous counts 0", &other, Soil(0.2, NoData), 60, 6, 1, 0},
        {"nodata previous refills", &suction, Soil(0.2, NoData), 1440, 6, 1, 50},
        {"nodata soil water", &suction, Soil(NoData), 1440, 6, 1, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_NEAR(irrigate::RuleAmount(*c.rule, c.cell, c.dt, c.month, c.day, NoData), c.expected, 1e-12);
    }
}

TEST(IrrigationRules, RefillOverTheRootZone) {
    struct Case {
        const char* what;
        double sb1, sbHigh, root, profile, dt, expected;
    } cases[] = {
        {"daily", 0.20, 0.30, 0.5, 2, 1440, 50},
        {"whole profile (9999) limited to 2 m", 0.20, 0.30, 9999, 2, 1440, 200},
        {"root below the profile", 0.20, 0.30, 3, 2, 1440, 200},
        {"no profile depth known", 0.20, 0.30, 1, 0, 1440, 100},
        {"above SBHIGH gives nothing", 0.35, 0.30, 0.5, 2, 1440, 0},
        {"hourly", 0.20, 0.30, 0.5, 2, 60, 50.0 / 24},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_NEAR(irrigate::RefillAmount(c.sb1, c.sbHigh, c.root, c.profile, c.dt), c.expected, 1e-9);
    }
}

TEST(IrrigationRules, TracerMixing) {
    EXPECT_DOUBLE_EQ(irrigate::MixedConcentration(1, 10, 4, 5), 2);
    EXPECT_DOUBLE_EQ(irrigate::MixedConcentration(1, 0, 4, 5), 4);
    EXPECT_DOUBLE_EQ(irrigate::MixedConcentration(3, 10, 4, 0), 3);  // no irrigation: the input
    EXPECT_DOUBLE_EQ(irrigate::MixedConcentration(3, 0, 4, 0), 0);   // nothing falls
}

namespace {

// Hand-filled exchange tables of n subbasins in a basin of 100 km2; the
// demand of each subbasin is one cell's worth (weight 1).
struct Tables {
    int n;
    std::vector<ZoneRecord> demand;
    std::vector<double> available, reservoir, zero;
    std::vector<double*> rows, reservoirRows;
    std::vector<int> list, target, outlet;
    std::vector<int*> targetRows;
    std::vector<riverflow_table> rivers;

    explicit Tables(int count) : n(count) {
        demand.assign(static_cast<size_t>(n) + 1, ZoneRecord{});
        demand[0].rel = 100;
        available.assign(static_cast<size_t>(n) + 1, 0.0);
        reservoir.assign(static_cast<size_t>(n) + 1, 0.0);
        zero.assign(static_cast<size_t>(n) + 1, 0.0);
        rows = {available.data(), zero.data()};
        reservoirRows = {reservoir.data(), zero.data()};
        list.assign(2 * static_cast<size_t>(n) + 1, 0);
        target.assign(static_cast<size_t>(n) + 1, 0);
        outlet.assign(static_cast<size_t>(n) + 1, 0);
        targetRows = {list.data(), target.data(), outlet.data()};
        rivers.assign(static_cast<size_t>(n) + 1, riverflow_table{});
        for (int i = 1; i <= n; ++i) demand[static_cast<size_t>(i)].rel = 1.0 / n;
    }
    void Demand(int k, double mean) {
        ZoneRecord& r = demand[static_cast<size_t>(k)];
        r.n = r.RelCellSum = 1;
        r.sx = mean;
    }
    irrigate::Limitation Limit(bool withRivers = false) {
        irrigate::ExchangeView view;
        view.Count = n;
        view.TimeStep = 60;
        view.Demand = demand.data();
        view.MaxIrrig = rows.data();
        view.FromReservoirs = reservoirRows.data();
        view.Targets = targetRows.data();
        view.Rivers = withRivers ? rivers.data() : nullptr;
        return irrigate::LimitSurfaceWater(view);
    }
};

}  // namespace

TEST(IrrigationRules, SurfaceWaterLimitation) {
    struct Case {
        const char* what;
        double mean, river, reservoirWater;
        double fraction;  // supplied fraction left in maxirrig
        double factor;    // on the subbasin's surface-water amounts
        double share;     // reservoir share left in maxirrigFromReservoirs
    } cases[] = {
        {"first step: nothing available", 2, 0, 0, 0, 0, 0},
        {"river above demand", 2, 5, 0, 1, 1, 0},
        {"river short", 2, 0.5, 0, 0.25, 0.25, 0},
        {"tiny demand counts as met", 5e-9, 0, 0, 1, 1, 0},
        // All of the demand from the reservoir: what leaves the reservoir
        // is what is delivered (not 1/11 + 10/11 * 0.2 of it).
        {"reservoir covers the demand", 2, 1e6, 10, 1, 1, 2},
        {"reservoir and river share", 4, 1, 3, 1, 1, 3},
        {"reservoir part, river dry", 4, 0, 3, 0, 0.75, 3},
        {"no demand", 0, 3, 3, 1, 1, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Tables t(2);
        t.Demand(1, c.mean);
        t.available[1] = c.river;
        t.reservoir[1] = c.reservoirWater;
        // subbasin 2 is always short, so the amounts are rescaled
        t.Demand(2, 1);
        const irrigate::Limitation limit = t.Limit();
        EXPECT_TRUE(limit.Short);
        EXPECT_EQ(t.available[1], c.fraction);
        EXPECT_NEAR(limit.Factor[1], c.factor, 1e-12);
        EXPECT_EQ(t.reservoir[1], c.share);
        EXPECT_EQ(t.available[2], 0);
        EXPECT_EQ(limit.Factor[2], 0);
        // Delivered water = the reservoir share + the river water taken,
        // and neither source gives more than it had.
        const double delivered = c.mean * limit.Factor[1];
        const double fromRiver = delivered - t.reservoir[1];
        EXPECT_GE(fromRiver, -1e-12);
        EXPECT_LE(fromRiver, c.river + 1e-8);  // a demand up to 1e-8 mm counts as met
        EXPECT_LE(t.reservoir[1], c.reservoirWater);
    }
    {
        // a demand beyond the reservoir water counts as short even when
        // the river covers it; the amounts then stay as they are
        SCOPED_TRACE("nothing short: no rescaling");
        Tables t(2);
        t.Demand(1, 2);
        t.available[1] = 3;
        t.reservoir[1] = 0.5;
        t.Demand(2, 1);
        t.available[2] = 3;
        t.reservoir[2] = 1;
        EXPECT_TRUE(t.Limit().Short);
        EXPECT_EQ(t.available[1], 1);
        EXPECT_EQ(t.available[2], 1);
        t.available = {0, 3, 3};
        t.reservoir = {0, 2, 1};
        t.rows[0] = t.available.data();
        t.reservoirRows[0] = t.reservoir.data();
        const irrigate::Limitation limit = t.Limit();
        EXPECT_FALSE(limit.Short);
        EXPECT_EQ(limit.Factor[1], 1);
        EXPECT_EQ(limit.Factor[2], 1);
    }
}

TEST(IrrigationRules, WithdrawalsDownTheNetwork) {
    // Subbasins 1 and 2 flow into 3; 1 and 2 are routed and carry 0.1 m3/s.
    Tables t(3);
    t.target[1] = t.target[2] = 3;
    t.demand[1].rel = 0.2;
    t.demand[2].rel = 0.3;
    t.demand[3].rel = 0.5;
    t.Demand(1, 1);
    t.Demand(2, 2);
    t.available = {0, 4, 0.5, 10};
    t.rows[0] = t.available.data();
    for (int i = 1; i <= 3; ++i) {
        t.rivers[static_cast<size_t>(i)].description = 1;
        t.rivers[static_cast<size_t>(i)].area = 100 * t.demand[static_cast<size_t>(i)].rel;
        t.rivers[static_cast<size_t>(i)].flowm3s = 0.1;
        t.rivers[static_cast<size_t>(i)].flow_mm[0] = 0.1 / t.rivers[static_cast<size_t>(i)].area * 3.6;
    }
    t.rivers[3].flowm3s = 50;
    const irrigate::Limitation limit = t.Limit(true);
    EXPECT_EQ(t.available[3], 1);  // no demand of its own
    EXPECT_EQ(t.available[1], 1);
    EXPECT_NEAR(t.available[2], 0.25, 1e-15);
    EXPECT_NEAR(limit.Factor[2], 0.25, 1e-15);
    // 1 mm over 20 km2 in an hour is 5.56 m3/s: more than the 0.1 m3/s of
    // subbasin 1, so both its flows go to 0.
    EXPECT_EQ(t.rivers[1].flowm3s, 0);
    EXPECT_EQ(t.rivers[1].flow_mm[0], 0);
    EXPECT_EQ(t.rivers[2].flowm3s, 0);
    // The outlet's flow drops by both full river demands (1 mm over 20 km2,
    // 2 mm over 30 km2).
    EXPECT_NEAR(t.rivers[3].flowm3s, 50 - (1 * 20 + 2 * 30) / 3.6, 1e-9);
    EXPECT_NEAR(t.rivers[3].flow_mm[0], t.rivers[3].flowm3s / 50 * 3.6, 1e-12);
}

TEST(IrrigationRules, OutletAvailabilityAfterTwoTributaries) {
    // The outlet keeps a demand of its own, so its supplied fraction shows
    // the availability left after both tributaries took their water.
    Tables t(3);
    t.target[1] = t.target[2] = 3;
    t.demand[1].rel = 0.2;
    t.demand[2].rel = 0.3;
    t.demand[3].rel = 0.5;
    t.Demand(1, 1);
    t.Demand(2, 2);
    t.Demand(3, 10);
    t.available = {0, 4, 0.5, 10};
    t.rows[0] = t.available.data();
    t.Limit();
    const double left = 10 - 0.2 * 1 / 0.5 - 0.3 * 0.5 / 0.5;  // 9.3 mm
    EXPECT_NEAR(t.available[3], left / 10, 1e-15);
}
