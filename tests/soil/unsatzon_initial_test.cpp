// Kernels of the soil model's set-up: the cold-start column, the groundwater
// scan, the drainage layer, the root-zone mean, the group rule of the
// subbasin parameters, the tuning lines and the point-file formats.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <limits>
#include <vector>

#include "parameters/soil.h"
#include "soil/unsatzon.h"
#include "soil/unsatzon_initial.h"

using namespace unsatzon;

namespace {

// Loam: theta_s 0.45, theta_r 0.05, alpha 2 1/m, n 1.5, layers of 0.1 m.
SoilType Loam(int layers, double thickness = 0.1) {
    SoilType soil(1);
    soil.CreateLayers(layers, 0);
    for (int l = 0; l <= layers; ++l) {
        soil.theta_sat[l] = 0.45;
        soil.theta_res[l] = 0.05;
        soil.alpha[l] = 2;
        soil.Par_n[l] = 1.5;
        soil.Par_m[l] = 1 - 1 / 1.5;
        soil.Par_tau[l] = 0.5;
        soil.ksat[l] = 1e-5;
        soil.thickness[l] = thickness;
        soil.MakeHydraulicTables(l);
    }
    return soil;
}

// The column of one cell with the surface at 100 m.
struct Column {
    const SoilType& soil;
    int L;
    std::vector<double> bottom, theta, head;
    explicit Column(const SoilType& s) : soil(s), L(s.LayerCount), bottom(L + 1), theta(L + 1), head(L + 1) {
        bottom[0] = 100;
        for (int l = 1; l <= L; ++l) bottom[l] = bottom[l - 1] - soil.thickness[l];
    }
    GroundwaterScan Start(int k, bool coldStart) {
        HydrostaticWaterContent(soil, bottom, soil.thickness, L, k, theta);
        HydraulicHeadsFromTheta(soil, bottom, L, theta, head);
        return ScanGroundwaterLevel(theta, soil.theta_sat, bottom, L, coldStart);
    }
};

}  // namespace

TEST(SoilInitialState, ColdStartTenLayers) {
    const SoilType soil = Loam(10);
    Column c(soil);
    const int k = ColdStartGroundwaterLayer(10, 2);
    ASSERT_EQ(k, 5);
    const GroundwaterScan scan = c.Start(k, true);
    const double suction[] = {0.5, 0.4, 0.3, 0.2, 0.1};
    // The retention curve at those suctions: 0.40 (1 / (1 + (2 h)^1.5))^(1/3) + 0.05.
    const double curve[] = {0.36748021039363993, 0.38413827575903864, 0.4022124459080349, 0.42103227511032065,
                            0.438739368121182};
    double water = 0;
    for (int l = 1; l <= 10; ++l) water += c.theta[l] * 0.1;
    double expectedWater = 5 * 0.1 * 0.45;
    for (double w : curve) expectedWater += w * 0.1;
    EXPECT_NEAR(water, expectedWater, 2e-3);
    for (int l = 1; l <= 5; ++l) {
        SCOPED_TRACE(l);
        EXPECT_NEAR(c.theta[l], soil.ThetaFromSuction(l, suction[l - 1]), 1e-12);
        EXPECT_NEAR(c.theta[l], curve[l - 1], 2e-3);
        // Equilibrium: every unsaturated layer has the head of the table at
        // the centre of layer 6.
        EXPECT_NEAR(c.head[l], 100 - 0.55, 2e-3);
    }
    for (int l = 6; l <= 10; ++l) EXPECT_EQ(c.theta[l], 0.45);
    EXPECT_EQ(c.theta[0], 0.45);
    EXPECT_EQ(scan.level, 6);
    EXPECT_NEAR(scan.distance, -0.5, 1e-12);
    EXPECT_EQ(scan.thetaAbove, c.theta[5]);
}

TEST(SoilInitialState, GroundwaterLayerStaysInTheProfile) {
    const SoilType soil = Loam(10);
    struct Case {
        double ini;
        int k;
    };
    for (const Case& t : {Case{1, 10}, Case{0.5, 10}, Case{0.01, 10}, Case{9, 2}, Case{100, 1}}) {
        SCOPED_TRACE(t.ini);
        Column c(soil);
        const int k = ColdStartGroundwaterLayer(10, t.ini);
        EXPECT_EQ(k, t.k);
        const GroundwaterScan scan = c.Start(k, true);
        EXPECT_GE(scan.level, 1);
        EXPECT_LE(scan.level, 10);
        for (int l = 1; l <= 10; ++l) {
            EXPECT_TRUE(std::isfinite(c.theta[l]));
            EXPECT_LE(c.theta[l], 0.45);
        }
        if (k == 10) {
            // The table lies on the bottom of the profile: layer 10 is half a
            // layer above it, and no saturated block is left.
            EXPECT_NEAR(c.theta[10], soil.ThetaFromSuction(10, 0.05), 1e-12);
            EXPECT_EQ(scan.level, 10);
            EXPECT_NEAR(scan.distance, -1.0, 1e-12);
        }
    }
    // One layer: the table can only be in it.
    const SoilType single = Loam(1, 0.5);
    Column c(single);
    EXPECT_EQ(ColdStartGroundwaterLayer(1, 0.5), 1);
    EXPECT_EQ(c.Start(1, true).level, 1);
}

TEST(SoilInitialState, TableFromTheGroundwaterDistance) {
    const SoilType soil = Loam(10);
    Column c(soil);
    EXPECT_EQ(GroundwaterLayerFromDistance(c.bottom, 10, -0.05), 0);
    EXPECT_EQ(GroundwaterLayerFromDistance(c.bottom, 10, -0.35), 3);
    EXPECT_EQ(GroundwaterLayerFromDistance(c.bottom, 10, -2.0), 10);
    const GroundwaterScan scan = c.Start(0, false);
    for (int l = 1; l <= 10; ++l) EXPECT_EQ(c.theta[l], 0.45);
    EXPECT_EQ(scan.level, 1);
    EXPECT_EQ(scan.thetaAbove, c.theta[0]);
}

TEST(SoilInitialState, DrainageLayerAndRootZone) {
    const SoilType soil = Loam(10);
    Column c(soil);
    EXPECT_EQ(DrainageLayer(c.bottom, 10, 0.005), 0);
    EXPECT_EQ(DrainageLayer(c.bottom, 10, 0.01), 0);
    EXPECT_EQ(DrainageLayer(c.bottom, 10, 100 - c.bottom[3] + 0.01), 3);
    EXPECT_EQ(DrainageLayer(c.bottom, 10, 0.12), 2);
    EXPECT_EQ(DrainageLayer(c.bottom, 10, 5), 10);

    c.Start(5, true);
    double sum = 0;
    for (int l = 1; l <= 10; ++l) sum += c.theta[l] * 0.1;
    // The whole profile but the last 1e-8 m of layer 10.
    const double profileMean = (sum - c.theta[10] * 1e-8) / (1 - 1e-8);
    EXPECT_NEAR(RootZoneWaterContent(c.theta, soil.thickness, 10, 9999), profileMean, 1e-12);
    EXPECT_NEAR(RootZoneWaterContent(c.theta, soil.thickness, 10, 50), profileMean, 1e-12);
    EXPECT_EQ(RootZoneWaterContent(c.theta, soil.thickness, 10, 0), c.theta[1]);
    EXPECT_EQ(RootZoneWaterContent(c.theta, soil.thickness, 10, 1e-9), 1);
    EXPECT_NEAR(RootZoneWaterContent(c.theta, soil.thickness, 10, 0.25),
                (0.1 * c.theta[1] + 0.1 * c.theta[2] + 0.05 * c.theta[3]) / 0.25, 1e-12);
}

TEST(SoilSubbasins, GroupRule) {
    struct Case {
        std::vector<int> codes;   // subbasin codes present
        std::vector<int> listed;  // the code line
        std::vector<double> first, second;  // the numbers of two lines
        std::vector<double> expectFirst;    // per rank 1..n
    };
    const Case cases[] = {
        {{1, 2, 5, 8}, {1, 8}, {10, 20}, {1, 2}, {10, 10, 10, 20}},
        {{1, 2, 5, 8}, {1, 5, 8}, {10, 20, 30}, {1, 2, 3}, {10, 10, 20, 30}},
        {{1, 2, 5, 8}, {5, 8}, {10, 20, 30}, {1, 2, 3}, {10, 10, 20, 30}},
        {{1, 5, 8}, {5, 8}, {10, 20}, {1, 2}, {0, 10, 20}},
        {{4}, {4}, {7}, {1}, {7}},
    };
    for (const Case& c : cases) {
        const int largest = c.codes.back();
        std::vector<int> rank(static_cast<size_t>(largest) + 1, 0);
        for (size_t r = 0; r < c.codes.size(); ++r) rank[static_cast<size_t>(c.codes[r])] = static_cast<int>(r) + 1;
        SubbasinCodeMarks marks(rank.data(), largest, static_cast<int>(c.codes.size()), c.codes.front());
        for (int code : c.listed) ASSERT_TRUE(marks.Add(code)) << code;
        EXPECT_TRUE(marks.Complete());
        size_t used = 0;
        std::vector<double> values;
        int failed = 0;
        auto next = [&](double* v) {
            if (used >= c.first.size()) return false;
            *v = c.first[used++];
            return true;
        };
        ASSERT_TRUE(AssignGroupValues(marks.Marks(), values, next, [](double v) { return v; }, &failed));
        EXPECT_EQ(used, c.first.size()) << "every number of the line is taken";
        EXPECT_EQ(std::vector<double>(values.begin() + 1, values.end()), c.expectFirst);
        // One number short: the rank that misses it is named.
        used = 1;
        EXPECT_FALSE(AssignGroupValues(marks.Marks(), values, next, [](double v) { return v; }, &failed));
    }
    // Codes out of order, twice or unknown are refused.
    std::vector<int> rank = {0, 1, 2, 0, 0, 3};
    for (const std::vector<int>& bad : {std::vector<int>{2, 1}, std::vector<int>{2, 2}, std::vector<int>{3},
                                        std::vector<int>{0}, std::vector<int>{6}}) {
        SubbasinCodeMarks marks(rank.data(), 5, 3, 1);
        bool ok = true;
        for (int code : bad) ok = ok && marks.Add(code);
        EXPECT_FALSE(ok) << bad.front();
    }
}

TEST(SoilSubbasins, Conversions) {
    EXPECT_DOUBLE_EQ(RecessionMinutes(0.0005), 0.06);
    EXPECT_DOUBLE_EQ(RecessionMinutes(0.001), 0.06);
    EXPECT_DOUBLE_EQ(RecessionMinutes(2), 120);
    EXPECT_EQ(LateralReciprocal(0), std::numeric_limits<double>::infinity());
    EXPECT_EQ(LateralReciprocal(-1), 0);
    EXPECT_EQ(LateralReciprocal(4), 0.25);
}

TEST(SoilSettings, TuningLines) {
    struct Case {
        const char* text;
        double maxError, maxIterations;
    };
    const Case cases[] = {
        {"max_error = 1e-6 # tighter\n\n", 1e-6, 100},
        {"  max_iterations= 250\n", 1e-5, 250},
        {"\tmax_iterations=250\nmax_error = 2e-5\n", 2e-5, 250},
        {"max_error = 1e-6\n\nmax_iterations = 250\n", 1e-6, 100},
        {"max_error = 1e-6\nmax_iterations = 250", 1e-6, 100},
        {"max_error 1e-6\nmax_iterations = many\n", 1e-5, 100},
        {"max_error = 1\nmax_error = 3\nother = 5\n", 3, 100},
        {"", 1e-5, 100},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        FILE* f = std::tmpfile();
        ASSERT_NE(f, nullptr);
        std::fputs(c.text, f);
        std::rewind(f);
        double maxError = 1e-5, maxIterations = 100;
        ReadTuningLines(f, &maxError, &maxIterations);
        std::fclose(f);
        EXPECT_EQ(maxError, c.maxError);
        EXPECT_EQ(maxIterations, c.maxIterations);
    }
}

TEST(SoilOutputs, PointFilesAndTags) {
    EXPECT_EQ(LayerPointHeader("theta", 3, 4, 1, 3), "YY\tMM\tDD\tHH\ttheta[3][4][1]\t[2]\t[3]\t\n");
    EXPECT_EQ(LayerPointHeader("etr", 2, 1, 0, 3, "(etr[0] is evaporation from first layer)"),
              "YY\tMM\tDD\tHH\tetr[2][1](etr[0] is evaporation from first layer)[0]\t[1]\t[2]\t[3]\t\n");
    EXPECT_EQ(OtherDataPointHeader(2, 1, 2),
              "YY\tMM\tDD\tHH\totherdata[2][1]QD\tQI\tDELTAGW/QB\tQINF\tGWIN\tGWEX\tGWN\tUPRISE\tPERCOL\tMACR\tQDRAIN\t"
              "ACT_POND\tINFEX\tGWST\tGWLEVEL\tROOT\tAlbedo\tRSE\tLAI_1\tVCF_1\tRSC_1\tRSI_1\tROOT_1\tZ0_1\tLAI_2\tVCF_2"
              "\tRSC_2\tRSI_2\tROOT_2\tZ0_2\n");
    EXPECT_EQ(ControlPointCapacity(4 + 1), 29127);
    EXPECT_EQ(ControlPointCapacity(6 * 2 + 19), 7489);
    EXPECT_EQ(ControlPointCapacity(1000000), 1);
    EXPECT_EQ(MakeUnsatzonOptionTag(true, false, 1, false, false, true), "+ft,+srf1+po,");
    EXPECT_EQ(MakeUnsatzonOptionTag(false, true, 2, true, true, false), "+ir,+srf2,+dr,+cl,");
    EXPECT_EQ(MakeUnsatzonOptionTag(false, false, 0, false, false, false), "");
    EXPECT_EQ(MakeUnsatzonOptionTag(false, false, 5, false, false, false), "+srf2,");
    const char* arguments[] = {"ruvex", "-dumpmodeX", "run.ctl", "-closeAfterDump"};
    EXPECT_EQ(DumpSwitchesOf(4, arguments).DumpMode, 0);
    EXPECT_EQ(DumpSwitchesOf(4, arguments).CloseAfterDump, 1);
    arguments[1] = "-dumpmode";
    EXPECT_EQ(DumpSwitchesOf(4, arguments).DumpMode, 1);
    EXPECT_EQ(DumpSwitchesOf(1, arguments).DumpMode, 0);
    EXPECT_EQ(ImmobilisedFileName("out/sb2.sta"), "out/sb2_immo.sta");
    EXPECT_EQ(ImmobilisedFileName("out.d/sb2"), "out.d/sb2_immo");
    EXPECT_EQ(ImmobilisedFileName("a.b.c"), "a.b_immo.c");
}
