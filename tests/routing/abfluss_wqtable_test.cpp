// The hydraulic kernels of the water-level/discharge tables and the tables a
// channel builds from its ten values.

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "routing/abfluss_routingclass.h"
#include "routing/abfluss_wqtable.h"
#include "routing/routing_harness.h"

using namespace routingtest;

namespace {

// Manning's law for a rectangular channel solved by bisection on the depth:
// Q = B h (B h / (B + 2h))^(2/3) n sqrt(I).
double ExactDepth(double Q, double B, double n, double I) {
    double lo = 0, hi = 100;
    for (int i = 0; i < 200; ++i) {
        const double h = (lo + hi) / 2;
        const double q = B * h * std::pow(B * h / (B + 2 * h), 2.0 / 3.0) * n * std::sqrt(I);
        (q < Q ? lo : hi) = h;
    }
    return (lo + hi) / 2;
}

}  // namespace

TEST(RoutingKernels, ManningIterationMeetsTheExactSolution) {
    // The iteration stops on an absolute velocity change of 0.005 m/s, so
    // slow channels meet the solution less closely.
    struct Case {
        double Q, B, n, I, start, relative;
    } cases[] = {
        {8.4, 10, 30, 0.001, 1.0, 0.005},   // the worked example: 0.99992 m, 0.84007 m/s
        {8.4, 10, 30, 0.001, 0.05, 0.005},  // a poor starting value
        {0.5, 2, 35, 0.0001, 1.0, 0.02},
        {120, 25, 40, 0.002, 1.0, 0.005},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Q);
        const double h = ExactDepth(c.Q, c.B, c.n, c.I);
        const double v = c.Q / (c.B * h);
        double depth = 0, radius = 0, velocity = c.start;
        const double result = IterateManningVelocity(c.Q, c.B, depth, radius, velocity, c.n, std::sqrt(c.I), 0.005, 50);
        EXPECT_EQ(result, velocity);
        EXPECT_NEAR(velocity, v, c.relative * v);
        EXPECT_NEAR(depth, h, c.relative * h);
        EXPECT_NEAR(radius, depth * c.B / (c.B + 2 * depth), 1e-12);
    }
    EXPECT_NEAR(ExactDepth(8.4, 10, 30, 0.001), 0.99992, 1e-5);
    EXPECT_NEAR(8.4 / (10 * ExactDepth(8.4, 10, 30, 0.001)), 0.84007, 1e-5);

    // No flow, or a start at rest: depth, radius and velocity 0.
    double depth = 1, radius = 1, velocity = 1;
    EXPECT_EQ(IterateManningVelocity(0.0, 10, depth, radius, velocity, 30, 0.03, 0.005, 50), 0.0);
    EXPECT_EQ(depth, 0.0);
    EXPECT_EQ(radius, 0.0);
}

TEST(RoutingKernels, FloodPlainSplitKeepsBothFlowsAndTheirSum) {
    // Main channel 2 m wide and 0.2 m deep, flood plains 50 m: the averaging
    // of the water level would hand the plains more than the main channel
    // carries.
    const ChannelSection section{2, 50, 0.2, 35, 5, std::sqrt(0.0001)};
    const double qMin = 1, qMax = 400, intervals = 40, area = 2;
    const double d = std::log(qMax / qMin) / intervals;
    double vm = 1.0;
    int split = 0;
    for (int i = 40; i >= 0; --i) {
        SCOPED_TRACE(i);
        const double Q = std::exp(std::log(qMin) + i * d) / 1000 * area;
        const SectionFlow f = SplitSectionFlow(section, Q, vm);
        if (f.vm > 0) vm = f.vm;
        for (double x : {f.Qm, f.Qf, f.vm, f.vf, f.dm, f.df, f.Rm, f.Rf}) EXPECT_TRUE(std::isfinite(x));
        EXPECT_GE(f.Qm, 0.0);
        EXPECT_GE(f.Qf, 0.0);
        EXPECT_NEAR(f.Qm + f.Qf, Q, 1e-12 * Q);
        // Flow on the plains has depth there, and none without.
        EXPECT_EQ(f.Qf > 0, f.df > 0);
        if (f.Qf > 0) ++split;
    }
    EXPECT_GT(split, 0);

    // Below the main-channel depth the plains stay dry.
    const SectionFlow low = SplitSectionFlow(ChannelSection{10, 50, 2, 30, 15, std::sqrt(0.001)}, 8.4, 1.0);
    EXPECT_EQ(low.Qf, 0.0);
    EXPECT_EQ(low.vf, 0.0);
    EXPECT_EQ(low.df, 0.0);
    EXPECT_EQ(low.Qm, 8.4);
}

TEST(RoutingKernels, TableRowSubChannelsAndStorageConstants) {
    const double d = std::log(1000.0 / 1.0) / 10;
    struct RowCase {
        double s;
        int row;
    } rows[] = {{0, 1}, {-3, 1}, {1, 1}, {std::exp(d), 1}, {std::exp(d) * 1.0001, 2}, {std::exp(5.5 * d), 6},
                {2000, 11}, {std::numeric_limits<double>::infinity(), 11}, {std::nan(""), 1}};
    for (const RowCase& c : rows) EXPECT_EQ(TableRowOf(c.s, 1.0, d, 11), c.row) << c.s;
    EXPECT_EQ(TableRowOf(50, 1.0, 0.0, 11), 1);

    struct SubCase {
        double tLow, tHigh, dtHours, S;
    } subs[] = {
        {1.5, 1.0, 1.0, 1},            // within one step
        {2.0, 1.0, 1.0, 1},            // exactly one step apart
        {3.5, 1.0, 1.0, 3},            // 2.5 steps apart
        {11.0, 1.0, 1.0, 10},          // 10 steps apart
        {1.0, 5.0, 1.0, 1},            // the lowest row faster than the highest
        {1e30, 1.0, 1.0, 0},           // too many sub-channels
        {std::numeric_limits<double>::infinity(), 1.0, 1.0, 0},
        {std::nan(""), 1.0, 1.0, 0},
    };
    for (const SubCase& c : subs) EXPECT_EQ(SubChannelCount(c.tLow, c.tHigh, c.dtHours, 1e9), c.S) << c.tLow;
    // The count is the smallest that satisfies the test, also where rounding
    // of the closed form could miss it.
    for (double gap = 0.5; gap < 40; gap += 0.37) {
        const double S = SubChannelCount(2.0 + gap, 2.0, 1.0, 1e9);
        EXPECT_LE((2.0 + gap) / S, 2.0 / S + 1.0);
        if (S > 1) {
            EXPECT_GT((2.0 + gap) / (S - 1), 2.0 / (S - 1) + 1.0);
        }
    }

    EXPECT_EQ(StorageConstantOf(1.0), 0.0);
    EXPECT_EQ(StorageConstantOf(0.0), -9999.0);
    EXPECT_NEAR(StorageConstantOf(std::exp(-1.0 / 2.0)), 2.0, 1e-12);
}

namespace {

// A description with one "OL" channel from subbasin 1 to outlet 3.
struct OneChannel {
    RoutingHarness h{{{1, 0.3}, {3, 0.7}}, 10.0};
    std::vector<double> fractions{10.0, 0.3, 0.7}, factors{1, 1, 1};
    double* abfrel[2] = {fractions.data(), factors.data()};
    std::unique_ptr<routingclass> d;
    OneChannel() {
        int status = -1;
        ElementCounts counts;
        counts.OL = 1;
        d = std::make_unique<routingclass>(&status, h.Links(abfrel), 10.0, 1.0, counts, 3, 1);
        EXPECT_EQ(status, 0);
    }
    ~OneChannel() { d->DeleteModule(); }
};

}  // namespace

TEST(RoutingTables, RowsLookupAndStorageElements) {
    OneChannel c;
    routingclass& d = *c.d;
    const ChannelValues values{2, 10, 10, 50, 5, 30, 15, 0.001, 4000, 5};
    const int total = d.SetChannelParams(1, 1, {}, 4, 0, values, 1, 1000, 10);
    const wqtab& w = d.Tables[1];
    ASSERT_EQ(w.Rows, 11);
    EXPECT_NEAR(w.q[1], 1, 1e-12);
    EXPECT_NEAR(w.q[11], 1000, 1e-9);
    EXPECT_NEAR(w.qmm[11], 0.0036 * 1000, 1e-9);
    EXPECT_NEAR(w.Q[11], 5.0, 1e-9);
    EXPECT_EQ(d.Code[1], 1);
    EXPECT_NEAR(d.RetentionMain[1], std::exp(-0.5), 1e-15);
    EXPECT_NEAR(d.RetentionPlain[1], std::exp(-0.1), 1e-15);
    EXPECT_NEAR(d.RootSlope[1], std::sqrt(0.001), 1e-15);
    for (int r = 1; r <= 11; ++r) {
        EXPECT_TRUE(std::isfinite(w.t[r]));
        EXPECT_LT(w.dm[r], 5.0);  // the main channel holds all of it
        EXPECT_EQ(w.df[r], 0.0);
        EXPECT_EQ(w.v[r], w.vm[r]);
        EXPECT_EQ(w.delta[r], static_cast<int>(std::floor(w.t[r] / w.S / 60 * 60 * 4)));
        if (r > 1) {
            EXPECT_GT(w.v[r], w.v[r - 1]);
        }
    }
    int largest = 0;
    for (int r = 1; r <= 11; ++r) largest = std::max(largest, w.delta[r]);
    EXPECT_EQ(total, static_cast<int>((4 + largest) * w.S));
    EXPECT_EQ(w.StorageElements, total);
    EXPECT_EQ(d.GetMaxStorageElements(0), total);
    EXPECT_EQ(d.GetMaxStorageElements(total + 7), total + 7);
    EXPECT_EQ(w.Qaus.size(), static_cast<size_t>(w.S) + 2);
    EXPECT_EQ(w.Qaus[0].size(), 6u);

    // Rows by flow in mm per step: every flow up to row 2 is row 1, a flow of
    // q_max is row 10, anything above row 11.
    auto mm = [](double specific) { return specific * 60 / 16666.668; };
    EXPECT_EQ(d.GetTableRow(1, 0.0), 1);
    EXPECT_EQ(d.GetTableRow(1, -2.0), 1);
    EXPECT_EQ(d.GetTableRow(1, mm(1.5)), 1);
    EXPECT_EQ(d.GetTableRow(1, mm(w.q[2] * 0.999999)), 1);
    EXPECT_EQ(d.GetTableRow(1, mm(w.q[2] * 1.000001)), 2);
    EXPECT_EQ(d.GetTableRow(1, mm(w.q[10] * 1.01)), 10);
    EXPECT_EQ(d.GetTableRow(1, mm(1000)), 10);
    EXPECT_EQ(d.GetTableRow(1, mm(1000.5)), 11);
    EXPECT_EQ(d.GetTableRow(1, 1e300), 11);
}

TEST(RoutingTables, DefaultsForValuesThatAreNotPositive) {
    OneChannel c;
    routingclass& d = *c.d;
    const ChannelValues zero{};
    d.SetChannelParams(1, 1, {}, 2, 0, zero, 1, 1000, 10);
    EXPECT_NEAR(d.RetentionMain[1], std::exp(-100.0), 1e-60);
    EXPECT_NEAR(d.RetentionPlain[1], std::exp(-100.0), 1e-60);
    EXPECT_EQ(d.MainWidth[1], 0.1);
    EXPECT_EQ(d.PlainWidth[1], 0.1);
    EXPECT_EQ(d.MainDepth[1], 0.1);
    EXPECT_EQ(d.MainManning[1], 1.0);
    EXPECT_EQ(d.PlainManning[1], 1.0);
    EXPECT_EQ(d.RootSlope[1], 0.0316);
    EXPECT_EQ(d.Length[1], 1.0);
    EXPECT_EQ(d.ChannelArea[1], 0.000001);
    for (int r = 1; r <= 11; ++r) EXPECT_TRUE(std::isfinite(d.Tables[1].t[r]));
}

TEST(RoutingTables, FloodPlainChannelHasFiniteRows) {
    OneChannel c;
    routingclass& d = *c.d;
    const ChannelValues values{2, 10, 2, 50, 0.2, 35, 5, 0.0001, 4000, 2};
    d.SetChannelParams(1, 1, {}, 2, 0, values, 1, 400, 40);
    const wqtab& w = d.Tables[1];
    ASSERT_EQ(w.Rows, 41);
    bool plains = false;
    for (int r = 1; r <= 41; ++r) {
        SCOPED_TRACE(r);
        for (double x : {w.v[r], w.vm[r], w.vf[r], w.dm[r], w.df[r], w.t[r], w.QmQ[r], w.Rm[r], w.Rf[r]})
            EXPECT_TRUE(std::isfinite(x));
        EXPECT_GE(w.QmQ[r], 0.0);
        EXPECT_LE(w.QmQ[r], 1.0);
        EXPECT_GT(w.v[r], 0.0);
        plains |= w.QmQ[r] > 0;
    }
    EXPECT_TRUE(plains);
    EXPECT_GE(w.S, 1.0);
}

TEST(RoutingTables, UnusableChannelEndsTheSetUp) {
    // A q_min of 1e-300 makes the lowest row crawl: the channel would need
    // more sub-channels and storage elements than an int holds.
    OneChannel c;
    const ChannelValues values{2, 10, 10, 50, 1, 30, 15, 0.001, 4000, 5};
    int code = 0;
    try {
        c.d->SetChannelParams(1, 1, {}, 2, 0, values, 1e-300, 1000, 10);
    } catch (int thrown) {
        code = thrown;
    }
    EXPECT_EQ(code, 17);
    EXPECT_NE(c.h.Console().find("routing description 1 (TG 3), element 1: "), std::string::npos)
        << c.h.Console();
}
