// The channel routing step: translation and linear-storage kernels by hand,
// the water balance of every sub-channel over a run with changing runoff,
// a steady state that stays steady and the step response of one storage.

#include <gtest/gtest.h>

#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <vector>

#include "framework/tracer_info.h"

#include "routing/abfluss_route.h"
#include "routing/routing_harness.h"
#include "support/element_balance.h"

using namespace routingtest;

namespace {

struct TranslationCase {
    const char* name;
    int Ns, blockLength, D, fill;
    std::vector<double> before;   // positions 0..; entry 0 unused
    std::vector<double> input;    // 1..Ns; entry 0 unused
    std::vector<double> after;    // the block after the step
    int fillAfter;
    double storeBefore, storeAfter;
};

}  // namespace

TEST(RoutingKernels, TranslationByHand) {
    const TranslationCase cases[] = {
        // One element of delay: the first input leaves a step later.
        {"steady delay", 1, 2, 1, 2, {0, 5, 5, 5}, {0, 8}, {0, 5, 8}, 2, 0, 0},
        // Two sub-intervals, no delay: the input leaves in the same step.
        {"no delay", 2, 2, 0, 2, {0, 1, 2, 3, 4}, {0, 7, 9}, {0, 7, 9}, 2, 0, 0},
        // Translation 3 -> 1: the three elements in transit (2, 3, 4) and
        // the input 10 squeezed into two: 2 + 3 leaves now, 4 + 10 next step.
        {"shrinking", 1, 4, 1, 4, {0, 1, 2, 3, 4, 6}, {0, 10}, {0, 5, 14, 4, 6}, 2, 0, 0},
        // Translation 0 -> 2: the input 6 stretched over three elements.
        {"growing", 1, 4, 2, 1, {0, 1, 0, 0, 0, 0}, {0, 6}, {0, 2, 2, 2, 0}, 3, 0, 0},
        // Two sub-intervals, translation 1 -> 2: 6 in transit and the input
        // 4, 8 over four elements, each taking three quarters of a source:
        // 0.75 * 6, 0.25 * 6 + 0.5 * 4, 0.5 * 4 + 0.25 * 8, 0.75 * 8.
        {"growing by a part of a step", 2, 4, 2, 3, {0, 1, 1, 6, 0, 0, 0}, {0, 4, 8}, {0, 4.5, 3.5, 4, 6}, 4, 0, 0},
        // A store that an older state left goes with the input, spread
        // evenly; a debt is taken from the water as far as it reaches.
        {"store released", 1, 2, 1, 2, {0, 5, 5, 5}, {0, 8}, {0, 6.5, 9.5}, 2, 3, 0},
        {"debt paid", 1, 2, 1, 2, {0, 5, 5, 5}, {0, 8}, {0, 5 * 0.5, 8 * 0.5}, 2, -6.5, 0},
        {"debt larger than the water", 1, 2, 1, 2, {0, 5, 5, 5}, {0, 8}, {0, 0, 0}, 2, -20, -7},
    };
    for (const TranslationCase& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<double> water = c.before, tracer(c.before.size(), 2.0);
        std::vector<double> in = c.input, inTracer(c.input.size(), 3.0);
        double* E[2] = {water.data(), tracer.data()};
        const double* U[2] = {in.data(), inTracer.data()};
        double store[2] = {c.storeBefore, 2.0};
        const double decay[2] = {1.0, 0.5};
        std::vector<double> scratch(2 * static_cast<size_t>(c.blockLength));
        const int b = 1;
        double before = store[0];
        for (int p = b + c.Ns; p <= c.fill; ++p) before += water[static_cast<size_t>(p)];
        for (int s = 1; s <= c.Ns; ++s) before += in[static_cast<size_t>(s)];
        int fill = c.fill;
        TranslateSubChannel(E, U, 1, SubChannelBlock{b, c.blockLength, c.Ns}, c.D, fill, store, decay, scratch.data());
        for (size_t p = 1; p < c.after.size(); ++p) EXPECT_NEAR(water[p], c.after[p], 1e-14) << "position " << p;
        EXPECT_EQ(fill, c.fillAfter);
        EXPECT_EQ(store[0], c.storeAfter);
        // What left (b .. b + Ns - 1), what is in transit and the store hold
        // what was there and what came in.
        double after = store[0];
        for (int p = b; p <= fill; ++p) after += water[static_cast<size_t>(p)];
        EXPECT_NEAR(after, before, 1e-13);
    }
    // Concentrations: the elements in transit keep theirs (2), the input's
    // decays once as it enters (3 x 0.5), and a squeezed element mixes the
    // two by water.
    {
        std::vector<double> water{0, 1, 2, 3, 4, 6}, tracer(6, 2.0), in{0, 10}, inTracer{0, 3};
        double* E[2] = {water.data(), tracer.data()};
        const double* U[2] = {in.data(), inTracer.data()};
        double store[2] = {0, 0};
        const double decay[2] = {1.0, 0.5};
        std::vector<double> scratch(8);
        int fill = 4;
        TranslateSubChannel(E, U, 1, SubChannelBlock{1, 4, 1}, 1, fill, store, decay, scratch.data());
        EXPECT_NEAR(tracer[1], 2.0, 1e-15);
        EXPECT_NEAR(tracer[2], (4 * 2.0 + 10 * 1.5) / 14, 1e-15);
    }
    // A tracer decays once, as its water enters.
    std::vector<double> water{0, 5, 5, 5}, tracer{0, 2, 2, 2}, in{0, 8}, inTracer{0, 3};
    double* E[2] = {water.data(), tracer.data()};
    const double* U[2] = {in.data(), inTracer.data()};
    double store[2] = {0, 0};
    const double decay[2] = {1.0, 0.5};
    std::vector<double> scratch(4);
    int fill = 2;
    for (int step = 0; step < 2; ++step)
        TranslateSubChannel(E, U, 1, SubChannelBlock{1, 2, 1}, 1, fill, store, decay, scratch.data());
    EXPECT_EQ(tracer[1], 1.5);
}

TEST(RoutingKernels, LinearStoragesAndDecayByHand) {
    const double k2 = std::exp(-0.5), k10 = std::exp(-0.1);
    struct Case {
        double x, y, phi, phi0, kh, kv, out;
    } cases[] = {
        {1, 0, 0, 0, k2, k10, 1 - k2},                      // main channel only
        {1, 0, 1, 1, k2, k10, 1 - k10},                     // flood plains only
        {1, 1, 0.25, 0.25, k2, k10, 1.0},                   // steady
        {0, 2, 0.5, 0.2, k2, k10, k2 * 0.8 * 2 + k10 * 0.2 * 2},
        {3, 1, 0, 0, std::exp(-1 / 0.01), std::exp(-1 / 0.01), 3.0},  // 0.01 h passes the input
    };
    for (const Case& c : cases) EXPECT_NEAR(LinearStorageOutflow(c.x, c.y, c.phi, c.phi0, c.kh, c.kv), c.out, 1e-15);
    EXPECT_NEAR(LinearStorageContent(1, 0, k2, k10), k2 / (1 - k2), 1e-15);

    // The two storages apart: each keeps its own outflow, so that a share
    // that moves to the flood plains leaves the main channel's water where
    // it is.
    struct Split {
        double x, phi, yMain, yPlain, mainAfter, plainAfter;
    } splits[] = {
        {1, 0, 0, 0, 1 - k2, 0},
        {1, 1, 0, 0, 0, 1 - k10},
        {0, 0.5, 2, 1, k2 * 2, k10 * 1},                    // no input: both drain at their own rate
        {4, 0.25, 1, 3, 0.75 * 4 * (1 - k2) + k2, 0.25 * 4 * (1 - k10) + 3 * k10},
    };
    for (const Split& c : splits) {
        double yMain = c.yMain, yPlain = c.yPlain;
        const double before = TwoLinearStoragesContent(yMain, yPlain, k2, k10);
        const double out = TwoLinearStorages(c.x, c.phi, k2, k10, yMain, yPlain);
        EXPECT_NEAR(yMain, c.mainAfter, 1e-15);
        EXPECT_NEAR(yPlain, c.plainAfter, 1e-15);
        EXPECT_EQ(out, yMain + yPlain);
        // in = out + change of content
        EXPECT_NEAR(c.x - out - (TwoLinearStoragesContent(yMain, yPlain, k2, k10) - before), 0.0, 1e-14);
    }

    struct Decay {
        bool decays;
        double h;
        int D;
        int Ns;
        double factor;
    } decays[] = {
        {true, 1, 2, 1, 0.943874312681693},  // 2^(-2/24)
        {true, 1, 4, 2, 0.943874312681693},
        {true, 1, 0, 1, 1.0},
        {false, -9999, 5, 1, 1.0},  // a tracer that does not decay keeps its concentration
        {true, -9999, 5, 1, 0.0},
        {true, 0, 5, 1, 0.0},
    };
    for (const Decay& d : decays) EXPECT_NEAR(TranslationDecayFactor(d.decays, d.h, d.D, 60, d.Ns), d.factor, 1e-9);
}

namespace {

std::vector<Subbasin> SteadySubbasins() { return {{1, 0.1}, {2, 0.1}, {3, 0.1}, {20, 0.3}, {30, 0.4}}; }

// A routing built from `control` with runoff `q` [mm per step] everywhere.
struct RoutingRun {
    RoutingHarness h{SteadySubbasins()};
    std::unique_ptr<abflussmodellklasse> routing;
    std::vector<double> water;
    std::vector<double> tracer;
    double* qg[2];

    explicit RoutingRun(const std::string& control, double q, int tracers = 0) {
        int status = -1;
        static int listed[] = {0, 1, 2, 3, 20, 30};  // 1-based
        h.settings.OutputListCount = 5;
        h.settings.OutputListCodes = listed;
        routing = h.Build(control, &status, tracers);
        EXPECT_EQ(status, 0) << h.Console();
        water.assign(static_cast<size_t>(h.Subbasins.Count + 1), q);
        tracer.assign(water.size(), 1.0);
        qg[0] = water.data();
        qg[1] = tracer.data();
        routing->SetQg(qg);
        routing->InitRouting();
    }
    ~RoutingRun() { routing->DeleteModule(); }
};

std::string SumtribControl() {
    return ControlText("steady.ctl",
                       {{"  OL 1 kh = 2 kv = 10", "  SUMTRIB 1&2 kh = 2 kv = 10"},
                        {"I = 0.0005 L = 10000 A = 10", "I = 0.0005 L = 10000 A = 20"},
                        {"  OL 2 kh = 3 kv = 3 bm = 10 bf = 50 tm = 1 nm = 30 nf = 15 I = 0.001 L = 4000 A = 10\n", ""}});
}

}  // namespace

TEST(RoutingStep, SteadyStateStaysSteady) {
    const double q = 0.036;  // mm per hour: 1 m3/s from 100 km2
    for (const std::string& control : {ControlText("steady.ctl"), SumtribControl()}) {
        RoutingRun run(control, q);
        abflussmodellklasse& r = *run.routing;
        routingclass& first = *r.Descriptions[1];
        EXPECT_GE(first.Tables[1].S, 2) << "the flood-plain channel has several sub-channels";
        for (int step = 1; step <= 100; ++step) {
            r.RunTimeStep(step % 24, 1, 1, 2020);
            for (int code : {3, 30}) {
                const double area = code == 3 ? 30.0 : 100.0;
                const double expected = q * area * 16.6666667 / 60.0;
                const double got = r.RoutedDischarge(run.h.Rank(code));
                ASSERT_NEAR(got / expected, 1.0, 1e-8) << "step " << step << " outlet " << code;
            }
        }
        EXPECT_NEAR(r.RoutedDischarge(run.h.Rank(30)), 1.0, 1e-6);
    }
}

TEST(RoutingStep, StepResponseOfOneStorage) {
    const std::string control = ControlText(
        "single.ctl", {{"0                          # output unit: mm", "1                          # output unit: m3/s"},
                       {"1 1000 10 2 ", "1 1000 10 1 "},
                       {"TG 3 A = 100 f = 0.8",
                        "TG 3 A = 100 f = 1.0\n  OL 1 kh = 2 kv = 2 bm = 50 bf = 10 tm = 20 nm = 30 nf = 15 I = 0.01 "
                        "L = 10 A = 50"}});
    RoutingHarness h({{1, 0.5}, {3, 0.5}});
    int status = -1;
    auto routing = h.Build(control, &status);
    ASSERT_EQ(status, 0) << h.Console();
    std::vector<double> water(3, 0.0);
    double* qg[1] = {water.data()};
    routing->SetQg(qg);
    routing->InitRouting();
    EXPECT_NE(h.Console().find("routing the initialization discharges (1 times)"), std::string::npos) << h.Console();
    ASSERT_EQ(routing->Descriptions[1]->Tables[1].delta[1], 0);
    water[static_cast<size_t>(h.Rank(1))] = 0.5;
    const double expected[] = {0.393469340287367, 0.632120558828558, 0.776869839851570, 0.864664716763387};
    for (int step = 0; step < 20; ++step) {
        routing->RunTimeStep(step, 1, 1, 2020);
        const double ratio = routing->RoutedDischarge(h.Rank(3)) / routing->RoutedDischarge(h.Rank(1));
        EXPECT_NEAR(ratio, 1 - std::pow(std::exp(-0.5), step + 1), 1e-9) << step;
        if (step < 4) {
            EXPECT_NEAR(ratio, expected[step], 1e-9);
        }
    }
    routing->DeleteModule();
}

namespace {

// Water held by sub-channel `sigma` of channel `e`: its storage elements in
// transit and its two linear storages, in element units (mm per step, one
// value per sub-interval). No water is held anywhere else.
double SubChannelContent(routingclass& d, int e, int sigma, const std::vector<double>& E) {
    const wqtab& w = d.Tables[static_cast<size_t>(e)];
    const int Ns = d.SubIntervals;
    const int b = (sigma - 1) * d.BlockLength(e) + 1;
    const size_t ks = static_cast<size_t>(sigma);
    EXPECT_EQ(w.Correction[0][ks], 0.0);
    double content = 0;
    for (int p = b + Ns; p <= w.FillPosition[ks]; ++p) content += E[static_cast<size_t>(p)];
    for (int s = 1; s <= Ns; ++s)
        content += TwoLinearStoragesContent(w.QausMain[ks][static_cast<size_t>(s)], w.QausPlain[ks][static_cast<size_t>(s)],
                                            d.RetentionMain[static_cast<size_t>(e)],
                                            d.RetentionPlain[static_cast<size_t>(e)]);
    return content;
}

}  // namespace

// Every sub-channel keeps its water: what entered equals what left plus the
// change of its content, step by step, while the runoff rises into the flood
// plains and falls again and the translations grow and shrink.
TEST(RoutingStep, EverySubChannelKeepsItsWater) {
    struct Case {
        const char* name;
        std::string control;
        bool equalConstants;
    } cases[] = {
        {"two OL, main channel and flood plains alike", ControlText("steady.ctl"), true},
        {"SUMTRIB, alike", SumtribControl(), true},
        // kh 2 / kv 10 and kh 1 / kv 5: the flood-plain share changes the
        // split between storages that drain at different rates.
        {"two OL, kh != kv", ControlText("steady.ctl"), false},
        {"SUMTRIB, kh != kv", SumtribControl(), false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RoutingRun run(c.control, 0.01);
        abflussmodellklasse& r = *run.routing;
        bool differentConstants = false;
        for (int k = 1; k <= 2; ++k) {
            routingclass& d = *r.Descriptions[static_cast<size_t>(k)];
            for (int e = 1; e <= d.ChannelCount; ++e) {
                const size_t ke = static_cast<size_t>(e);
                if (c.equalConstants) d.RetentionPlain[ke] = d.RetentionMain[ke];
                differentConstants = differentConstants || d.RetentionPlain[ke] != d.RetentionMain[ke];
            }
        }
        EXPECT_EQ(differentConstants, !c.equalConstants);
        double smallestShare = 1, largestShare = 0;
        struct Element {
            int k, e, sigma, index;
        };
        std::vector<Element> elements;
        std::vector<std::string> names;
        for (int k = 1; k <= 2; ++k) {
            routingclass& d = *r.Descriptions[static_cast<size_t>(k)];
            for (int e = 1; e <= d.ChannelCount; ++e)
                for (int sigma = 1; sigma <= static_cast<int>(d.Tables[static_cast<size_t>(e)].S); ++sigma) {
                    elements.push_back({k, e, sigma, d.IndexOf(e)});
                    names.push_back("description " + std::to_string(k) + " channel " + std::to_string(e) +
                                    " sub-channel " + std::to_string(sigma));
                }
        }
        testsupport::ElementBalance balance(names);
        bool grew = false, shrank = false;
        double largest = 0;
        for (int step = 1; step <= 120; ++step) {
            const double q = 0.01 + 0.4 * std::pow(1 + std::sin(step / 6.0), 3);
            for (size_t i = 1; i < run.water.size(); ++i) run.water[i] = q * (1 + 0.1 * static_cast<double>(i));
            balance.BeginStep();
            std::vector<int> fillBefore;
            for (size_t x = 0; x < elements.size(); ++x) {
                const Element& el = elements[x];
                routingclass& d = *r.Descriptions[static_cast<size_t>(el.k)];
                balance.Storage(x, SubChannelContent(d, el.e, el.sigma, r.StorageElements[0][static_cast<size_t>(el.index)]));
                fillBefore.push_back(d.Tables[static_cast<size_t>(el.e)].FillPosition[static_cast<size_t>(el.sigma)]);
            }
            r.RunTimeStep(step % 24, 1, 1, 2020);
            double*** Fs = r.SubIntervalFlows.Rows();
            for (size_t x = 0; x < elements.size(); ++x) {
                const Element& el = elements[x];
                routingclass& d = *r.Descriptions[static_cast<size_t>(el.k)];
                const wqtab& w = d.Tables[static_cast<size_t>(el.e)];
                const int S = static_cast<int>(w.S);
                for (int s = 1; s <= d.SubIntervals; ++s) {
                    balance.In(x, el.sigma == S ? Fs[0][s][el.index]
                                                : w.Qaus[static_cast<size_t>(el.sigma + 1)][static_cast<size_t>(s)]);
                    balance.Out(x, w.Qaus[static_cast<size_t>(el.sigma)][static_cast<size_t>(s)]);
                }
                balance.EndStorage(x, SubChannelContent(d, el.e, el.sigma, r.StorageElements[0][static_cast<size_t>(el.index)]));
                smallestShare = std::min(smallestShare, w.qvzuq[static_cast<size_t>(el.sigma)]);
                largestShare = std::max(largestShare, w.qvzuq[static_cast<size_t>(el.sigma)]);
                const int fill = w.FillPosition[static_cast<size_t>(el.sigma)];
                grew = grew || fill > fillBefore[x];
                shrank = shrank || fill < fillBefore[x];
            }
            ASSERT_EQ(balance.Check(1e-12), "");
            largest = std::max(largest, balance.LargestResidual());
        }
        EXPECT_TRUE(grew);
        EXPECT_TRUE(shrank);
        // The flood plains took up water and gave it back.
        EXPECT_EQ(smallestShare, 0.0);
        EXPECT_GT(largestShare, 0.3);
        std::printf("largest sub-channel residual %.3g\n", largest);
    }
}

// A wave that rises into the flood plains and falls back, from a cold start
// at low flow: every channel of both descriptions delivers at its end what
// entered it, or holds it in its storage elements and linear storages, to
// round-off over the wave, while its translations shrink and grow, also
// where the flood plains drain at their own rate.
TEST(RoutingStep, ChannelsDeliverTheirInputOverAWave) {
    struct Case {
        const char* name;
        bool equalConstants;
    } cases[] = {{"main channel and flood plains alike", true}, {"flood plains with their own constant", false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RoutingRun run(ControlText("steady.ctl"), 0.005);
        abflussmodellklasse& r = *run.routing;
        struct Channel {
            int k, e, index;
            double in = 0, out = 0, start = 0;
            int shortest = 1 << 30, longest = 0;
            double largestShare = 0;
        };
        std::vector<Channel> channels;
        for (int k = 1; k <= 2; ++k) {
            routingclass& d = *r.Descriptions[static_cast<size_t>(k)];
            for (int e = 1; e <= d.ChannelCount; ++e) {
                const size_t ke = static_cast<size_t>(e);
                if (c.equalConstants) d.RetentionPlain[ke] = d.RetentionMain[ke];
                channels.push_back({k, e, d.IndexOf(e)});
            }
        }
        auto content = [&](const Channel& ch) {
            routingclass& d = *r.Descriptions[static_cast<size_t>(ch.k)];
            double held = 0;
            for (int sigma = 1; sigma <= static_cast<int>(d.Tables[static_cast<size_t>(ch.e)].S); ++sigma)
                held += SubChannelContent(d, ch.e, sigma, r.StorageElements[0][static_cast<size_t>(ch.index)]);
            return held;
        };
        for (Channel& ch : channels) ch.start = content(ch);
        // 40 steps of base flow, the wave over 60 steps, 200 steps of recession
        for (int step = 1; step <= 300; ++step) {
            const double x = (step - 40) / 60.0;
            const double q = 0.005 + (x > 0 && x < 1 ? 0.8 * std::pow(std::sin(3.14159265358979 * x), 2) : 0.0);
            for (size_t i = 1; i < run.water.size(); ++i) run.water[i] = q * (1 + 0.1 * static_cast<double>(i));
            r.RunTimeStep(step % 24, 1 + step / 24, 1, 2020);
            double*** Fs = r.SubIntervalFlows.Rows();
            for (Channel& ch : channels) {
                routingclass& d = *r.Descriptions[static_cast<size_t>(ch.k)];
                const wqtab& w = d.Tables[static_cast<size_t>(ch.e)];
                for (int s = 1; s <= d.SubIntervals; ++s) {
                    ch.in += Fs[0][s][ch.index];
                    ch.out += w.Qaus[1][static_cast<size_t>(s)];
                }
                const int b = d.BlockLength(ch.e) * (static_cast<int>(w.S) - 1) + 1;
                const int D = w.FillPosition[w.S] - b - d.SubIntervals + 1;
                ch.shortest = std::min(ch.shortest, D);
                ch.longest = std::max(ch.longest, D);
                for (int sigma = 1; sigma <= static_cast<int>(w.S); ++sigma)
                    ch.largestShare = std::max(ch.largestShare, w.qvzuq[static_cast<size_t>(sigma)]);
            }
        }
        bool flooded = false;
        for (const Channel& ch : channels) {
            SCOPED_TRACE("description " + std::to_string(ch.k) + " channel " + std::to_string(ch.e));
            const double residual = ch.in - ch.out - (content(ch) - ch.start);
            EXPECT_NEAR(residual, 0.0, 1e-12 * ch.in) << "in " << ch.in << ", out " << ch.out;
            EXPECT_LT(ch.shortest, ch.longest) << "the translation of the upper sub-channel changed";
            flooded = flooded || ch.largestShare > 0.3;
            std::printf("description %d channel %d: in %.6f, out %.6f, residual %.3g, translation %d..%d\n", ch.k,
                        ch.e, ch.in, ch.out, residual, ch.shortest, ch.longest);
        }
        EXPECT_TRUE(flooded);
    }
}

namespace {

double ChangingRunoff(int step, size_t i) {
    return (0.01 + 0.4 * std::pow(1 + std::sin(step / 6.0), 3)) * (1 + 0.1 * static_cast<double>(i));
}

// Steps `from`..`to` with the changing runoff; the routed discharge of every
// subbasin per step.
std::vector<double> RunSteps(RoutingRun& run, int from, int to) {
    std::vector<double> routed;
    for (int step = from; step <= to; ++step) {
        for (size_t i = 1; i < run.water.size(); ++i) run.water[i] = ChangingRunoff(step, i);
        run.routing->RunTimeStep(step % 24, 1 + step / 24, 1, 2020);
        for (int i = 1; i <= run.h.Subbasins.Count; ++i) routed.push_back(run.routing->RoutedDischarge(i));
    }
    return routed;
}

std::string StateSection(RoutingRun& run) {
    const std::string name = "state.txt";
    run.routing->ReadStorageFile(&name, 0);
    run.routing->WriteStorageFile();
    return run.h.File(name);
}

}  // namespace

// 48 steps in one run equal 24 steps, the state saved, and 24 more steps of
// a run that starts warm from it: every routed value and the final state.
TEST(RoutingState, WarmStartContinuesBitForBit) {
    for (const std::string& control : {ControlText("steady.ctl"), SumtribControl()}) {
        RoutingRun whole(control, ChangingRunoff(0, 1));
        const std::vector<double> all = RunSteps(whole, 1, 48);
        const std::string finalState = StateSection(whole);

        RoutingRun first(control, ChangingRunoff(0, 1));
        RunSteps(first, 1, 24);
        // The state saved holds water on flood plains whose storage constant
        // differs from the main channel's.
        const routingclass& d = *first.routing->Descriptions[1];
        EXPECT_NE(d.RetentionMain[1], d.RetentionPlain[1]);
        EXPECT_GT(d.Tables[1].qvzuq[1], 0.0);
        const std::string saved = StateSection(first);
        EXPECT_EQ(saved.rfind("[routing_model]\n3 (routing subbasin with tributaries", 0), 0u) << saved.substr(0, 80);

        RoutingRun second(control, ChangingRunoff(0, 1));
        testsupport::WriteFile(second.h.dir.file("state.txt"), saved);
        const std::string name = "state.txt";
        second.routing->ReadStorageFile(&name, 1);
        const std::vector<double> rest = RunSteps(second, 25, 48);
        const size_t n = static_cast<size_t>(whole.h.Subbasins.Count);
        ASSERT_EQ(rest.size(), 24 * n);
        for (size_t x = 0; x < rest.size(); ++x)
            ASSERT_EQ(rest[x], all[24 * n + x]) << "step " << 25 + x / n << " subbasin rank " << 1 + x % n;
        EXPECT_EQ(StateSection(second), finalState);
    }
}

namespace {

// The code thrown by reading `text` as the storage content file in mode
// `mode`, or 0.
int ReadCode(RoutingRun& run, const std::string& text, int mode) {
    testsupport::WriteFile(run.h.dir.file("read.txt"), text);
    const std::string name = "read.txt";
    try {
        run.routing->ReadStorageFile(&name, mode);
    } catch (int code) {
        return code;
    }
    return 0;
}

std::string Replace(std::string text, const std::string& from, const std::string& to) {
    const size_t at = text.find(from);
    if (at == std::string::npos) return "no " + from;
    return text.replace(at, from.size(), to);
}

}  // namespace

TEST(RoutingState, LayoutAndMismatches) {
    RoutingRun run(ControlText("steady.ctl"), 0.3);
    RunSteps(run, 1, 5);
    const std::string state = StateSection(run);
    // Every block of storage elements: ten values a line, the rest on the
    // last line, an empty line after a full one.
    routingclass& d = *run.routing->Descriptions[1];
    const int M = d.Tables[1].StorageElements + d.SubIntervals;
    const size_t head = state.find("0 1 (tracer/flow index and tributary subbasin)\n");
    ASSERT_NE(head, std::string::npos) << state;
    size_t at = state.find('\n', head) + 1;
    for (int left = M; left > 0 || M % 10 == 0; left -= 10) {
        const size_t end = state.find('\n', at);
        const std::string line = state.substr(at, end - at);
        int values = 0;
        for (char c : line) values += c == ' ';
        EXPECT_EQ(values, left > 0 ? std::min(left, 10) : 0) << line;
        at = end + 1;
        if (left <= 0) break;
    }
    EXPECT_NE(state.find("\n0 (number of reservoirs)\n"), std::string::npos);
    EXPECT_NE(state.find(" (wqtab[local tributary 1].Qaus[subchannel 1][1..2])\n"), std::string::npos);

    struct Case {
        std::string text;
        int code;
        const char* message;
    } cases[] = {
        {state, 0, ""},
        {Replace(state, "\n30 (routing subbasin", "\n31 (routing subbasin"), 71,
         "error reading subbasin code in file read.txt (position 1)"},
        {Replace(state, "0 2 (tracer/flow index", "1 2 (tracer/flow index"), 71, "error reading tracer code in file"},
        {Replace(state, "0 2 (tracer/flow index", "0 4 (tracer/flow index"), 71,
         "error reading tributary index in file"},
        {Replace(state, "\n0 (number of reservoirs)", "\n1 (number of reservoirs)"), 71,
         "error reading reservoir code in file"},
        {state.substr(0, state.size() / 2), 71, "in file read.txt (position"},
        {"[other]\n1 2 3\n", 71, "error looking for the section routing_model in read.txt"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message);
        EXPECT_EQ(ReadCode(run, c.text, 1), c.code);
        EXPECT_EQ(ReadCode(run, c.text, 3), c.code);
        EXPECT_NE(run.h.Console().find(c.message), std::string::npos) << run.h.Console().substr(run.h.Console().size() > 600 ? run.h.Console().size() - 600 : 0);
        // Modes 2 and 4 read nothing.
        EXPECT_EQ(ReadCode(run, c.text, 2), 0);
        EXPECT_EQ(ReadCode(run, c.text, 4), 0);
    }
    // A file read in full leaves the state as it was written.
    ASSERT_EQ(ReadCode(run, state, 1), 0);
    EXPECT_EQ(StateSection(run), state);
    // The section of a file written without the fill positions still reads.
    const size_t extra = state.find("1 1 1 ");
    ASSERT_NE(extra, std::string::npos);
    EXPECT_EQ(ReadCode(run, state.substr(0, extra), 1), 0);

    // Without the lines of both storages' outflows the split between them
    // follows the stored flood-plain share.
    std::string withoutSplit;
    for (size_t from = 0; from < state.size();) {
        const size_t end = state.find('\n', from);
        const std::string line = state.substr(from, end - from + 1);
        if (line.find("(main-channel and flood-plain outflows") == std::string::npos) withoutSplit += line;
        from = end + 1;
    }
    ASSERT_LT(withoutSplit.size(), state.size());
    ASSERT_EQ(ReadCode(run, withoutSplit, 1), 0);
    bool flooded = false;
    for (int k = 1; k <= 2; ++k) {
        const routingclass& dk = *run.routing->Descriptions[static_cast<size_t>(k)];
        for (int e = 1; e <= dk.ChannelCount; ++e) {
            const wqtab& w = dk.Tables[static_cast<size_t>(e)];
            for (size_t sigma = 1; sigma <= static_cast<size_t>(w.S); ++sigma) {
                flooded = flooded || w.qvzuq[sigma] > 0;
                for (size_t s = 1; s <= 2; ++s) {
                    EXPECT_EQ(w.QausMain[sigma][s], (1 - w.qvzuq[sigma]) * w.Qaus[sigma][s]);
                    EXPECT_EQ(w.QausPlain[sigma][s], w.qvzuq[sigma] * w.Qaus[sigma][s]);
                }
            }
        }
    }
    EXPECT_TRUE(flooded);
    // A line of both storages' outflows that is cut short is refused.
    const size_t split = state.find(" (main-channel and flood-plain outflows");
    ASSERT_NE(split, std::string::npos);
    const size_t lineStart = state.rfind('\n', split) + 1;
    std::string cut = state;
    cut.replace(lineStart, split - lineStart, "1 1 1 0.5");
    EXPECT_EQ(ReadCode(run, cut, 1), 71);
    EXPECT_NE(run.h.Console().find("error reading linear storages in file read.txt"), std::string::npos);
}

// The routed-discharge file: unit 1 gives m3/s at every subbasin, unit 0 the
// routed mm unchanged.
TEST(RoutingStep, RoutedDischargeFileInBothUnits) {
    for (int unit : {0, 1}) {
        SCOPED_TRACE(unit);
        std::string control = ControlText("steady.ctl", {{"Qrouted.sta 0 ", "Qrouted.sta 2001 "}});
        if (unit == 0) control = Replace(control, "1                          # output unit: m3/s", "0");
        RoutingRun run(control, 0.036);
        for (int step = 1; step <= 3; ++step) run.routing->RunTimeStep(step, 1, 1, 2020);
        run.routing->FlushOutputs();
        const std::string file = run.h.File("Qrouted.sta");
        const std::string last = unit == 0 ? "2020\t 1\t 1\t 3\t0.03600\t0.03600\t0.03600\t0.03600\t0.03600\n"
                                           : "2020\t 1\t 1\t 3\t0.10000\t0.10000\t0.30000\t0.30000\t1.00000\n";
        EXPECT_NE(file.find(last), std::string::npos) << file;
        EXPECT_NE(file.find(unit == 0 ? "routed discharge [mm per subbasin] " : "routed discharge [ m3 per sec ] "),
                  std::string::npos);
    }
}

// Constant runoff of concentration c: a tracer that does not decay leaves
// with c; one of half-life 1 day behind a translation of 2 h arrives with
// c 2^(-2/24), mixed by flow with the outlet's own water.
TEST(RoutingStep, TracersThroughAChannel) {
    auto control = [](double length) {
        return ControlText("single.ctl",
                           {{"1 1000 10 2 ", "100 100.001 1 1 "},
                            {"TG 3 A = 100 f = 0.8",
                             "TG 3 A = 100 f = 1.0\n  OL 1 kh = 2 kv = 2 bm = 50 bf = 10 tm = 20 nm = 30 nf = 15 "
                             "I = 0.001 L = " + std::to_string(length) + " A = 50"}});
    };
    std::vector<TracerInfo> tracers(3);
    tracers[1].name = "chl";
    tracers[1].radioactive = 1;
    tracers[1].half_time = 1.0;
    tracers[1].path = "out/";
    tracers[1].statext = "sta";
    tracers[1].statcode = 2001;
    tracers[2].name = "cl_";
    tracers[2].statext = "sta";
    double velocity = 0;
    {
        RoutingHarness h({{1, 0.5}, {3, 0.5}});
        int status = -1;
        auto routing = h.Build(control(10000), &status);
        ASSERT_EQ(status, 0) << h.Console();
        velocity = routing->Descriptions[1]->Tables[1].v[1];
        routing->DeleteModule();
    }
    RoutingHarness h({{1, 0.5}, {3, 0.5}});
    std::filesystem::create_directories(h.dir.file("out"));
    static int listed[] = {0, 1, 3};
    h.settings.OutputListCount = 2;
    h.settings.OutputListCodes = listed;
    int status = -1;
    h.settings.CompiledControlFile = h.dir.file("model.ctl");
    testsupport::WriteFile(h.dir.file("model.ctl"), control(2.5 * 3600 * velocity));
    ASSERT_EQ(chdir(h.dir.path().c_str()), 0);
    auto routing = std::make_unique<abflussmodellklasse>(&status, &h.writer, h.statistics, StatisticsTableSize,
                                                         "routing_model", h.settings, h.table.get(), h.Subbasins, 2,
                                                         tracers.data(), 0);
    ASSERT_EQ(status, 0) << h.Console();
    routingclass& d = *routing->Descriptions[1];
    ASSERT_EQ(d.Tables[1].S, 1);
    ASSERT_EQ(d.Tables[1].delta[1], 2);
    const double q = 0.36, c = 5;  // 100 l/s/km2
    std::vector<double> water(3, q), conc1(3, c), conc2(3, c);
    double* qg[3] = {water.data(), conc1.data(), conc2.data()};
    routing->SetQg(qg);
    routing->InitRouting();
    const int outlet = h.Rank(3);
    const double k = std::pow(2.0, -2.0 / 24);
    for (int step = 1; step <= 10; ++step) {
        routing->RunTimeStep(step, 1, 1, 2020);
        double** F = routing->StepFlows.Rows();
        EXPECT_NEAR(F[2][outlet], c, 1e-12) << step;
        if (step >= 3) {
            EXPECT_NEAR(F[1][outlet], c * (1 + k) / 2, 1e-9) << step;
        }
        for (int t = 0; t <= 2; ++t) EXPECT_TRUE(std::isfinite(F[t][outlet]));
    }
    EXPECT_NEAR(c * (1 + k) / 2 / c * 2 - 1, 0.943874, 1e-6);
    routing->FlushOutputs();
    const std::string file = h.File("out/chlrouti.sta");
    EXPECT_NE(file.find("tracer concentration for tracer 1 (chl) "), std::string::npos) << file;
    routing->DeleteModule();
}

// A summed channel whose subbasins give no water carries no concentration,
// and nothing anywhere turns into NaN.
TEST(RoutingStep, DrySummedChannel) {
    RoutingRun run(SumtribControl(), 0.0, 1);
    for (int step = 1; step <= 5; ++step) {
        run.routing->RunTimeStep(step, 1, 1, 2020);
        double** F = run.routing->StepFlows.Rows();
        double*** Fs = run.routing->SubIntervalFlows.Rows();
        for (int t = 0; t <= 1; ++t)
            for (int i = 1; i <= run.h.Subbasins.Count; ++i) {
                ASSERT_TRUE(std::isfinite(F[t][i])) << t << " " << i;
                for (int s = 1; s <= 2; ++s) ASSERT_TRUE(std::isfinite(Fs[t][s][i])) << t << " " << s << " " << i;
            }
        EXPECT_EQ(Fs[1][1][run.routing->Descriptions[1]->IndexOf(1)], 0.0);
        EXPECT_EQ(run.routing->RoutedDischarge(run.h.Rank(30)), 0.0);
    }
}
