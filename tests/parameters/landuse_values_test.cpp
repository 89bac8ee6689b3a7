// Values of a land-use class at a day: day of the year, altitude shift,
// interpolation for every method, monthly resistances, the balance period,
// the n-factor and the latest dynamic start, against hand-computed values.

#include <gtest/gtest.h>

#include <cmath>
#include <sstream>
#include <string>
#include <vector>

#include "framework/diagnostics_writer.h"
#include "parameters/landuse.h"
#include "support/test_support.h"

using namespace testsupport;

namespace {

// A diagnostics writer whose console text the test can read.
struct Log {
    TempDir dir;
    std::ostringstream console;
    DiagnosticsWriter writer{dir.file("diag.xml"), DiagDebug, console};
    std::string Text() const { return console.str(); }
};

// The code a call throws, or 0.
template <typename Call>
int ThrownCode(Call call) {
    try {
        call();
    } catch (int code) {
        return code;
    }
    return 0;
}

LanduseType OldMeadow() {
    LanduseType r;
    r.Code = 1;
    r.ParseOldFormat(nullptr,
                     "12 meadow 0.2 100 200 130 140 150 160 170 180 190 110 120 90 100 150 250 300 1 2 3 4 "
                     "0.01 0.02 0.03 0.04 0.1 0.2 0.3 0.4 100 200 300 400 1.5 3.45\n",
                     2);
    return r;
}

LanduseType Block(const std::string& method, const std::string& keys, int code = 30) {
    LanduseType r;
    r.ParseEntry(nullptr, std::to_string(code) + " test method = " + method + " {\n" +
                              "  RootDist = 1; TReduWet = 0.95; HReduDry = 3.45;\n" + keys + "}\n",
                 method);
    return r;
}

// Lists of n values for the keys the block needs besides the given ones.
std::string Lists(const std::string& lai, const std::string& altDep) {
    return "  LAI = " + lai + ";\n  AltDep = " + altDep + ";\n  Albedo = " + lai + "; rsc = " + lai + "; Z0 = " + lai +
           "; VCF = " + lai + "; RootDepth = " + lai + ";\n";
}

const std::string Dp1Keys = "  F* = 200; DP1_t1_dorm = 60; DP1_T_Bf = 5; JDReset_TStart = 300; maxStartJDforDP1 = 160;\n";

// One land-use layer of 1 x 2 cells: the 1-based grids of the dynamic start,
// the forcing sum and the sample days (levels 0..7).
struct CellGrids {
    double startCells[3] = {0, 0, 0};
    double forcingCells[3] = {0, 0, 0};
    double levels[3][8] = {};
    double* startRows[2] = {nullptr, startCells};
    double* forcingRows[2] = {nullptr, forcingCells};
    double** startLayers[2] = {nullptr, startRows};
    double** forcingLayers[2] = {nullptr, forcingRows};
    double* levelCols[3] = {nullptr, levels[1], levels[2]};
    double** levelRows[2] = {nullptr, levelCols};
    GridStack stacks[2] = {nullptr, levelRows};

    void Attach(LanduseType& r) { r.AttachCellGrids(1, 7, startLayers, nullptr, forcingLayers, stacks); }
    void SampleDays(int col, const std::vector<double>& days) {
        for (size_t i = 0; i < days.size(); ++i) levels[col][i] = days[i];
    }
};

}  // namespace

TEST(LanduseValues, InterpolateLinear) {
    EXPECT_DOUBLE_EQ(InterpolateLinear(1, 10, 3, 20, 2), 15);
    EXPECT_DOUBLE_EQ(InterpolateLinear(1, 10, 3, 20, 5), 30);  // extrapolated
    EXPECT_DOUBLE_EQ(InterpolateLinear(1, 10, 1, 20, 5), 10);
    // Values near the limit of a double between fix points far apart stay
    // finite: a day between an albedo of -1e308 and 0.2 lies between them.
    const double v = InterpolateLinear(90, -1e308, 300, 0.2, 195);
    EXPECT_TRUE(std::isfinite(v));
    EXPECT_NEAR(v / -1e308, 0.5, 1e-12);
    EXPECT_DOUBLE_EQ(InterpolateLinear(0, 1.5e308, 200, 1.5e308, 100), 1.5e308);
}

TEST(LanduseValues, DayOfYearCountsFebruaryOfTheDatesOwnYear) {
    const LanduseType r = OldMeadow();
    struct Case {
        int day, month, year, expected;
    };
    for (const Case& c : std::vector<Case>{{1, 1, 2001, 1},
                                           {29, 2, 2000, 60},
                                           {1, 3, 2000, 61},
                                           {1, 3, 2001, 60},
                                           {1, 3, 1900, 60},
                                           {1, 3, 2004, 61},
                                           {31, 12, 2000, 366},
                                           {31, 12, 2001, 365},
                                           {31, 12, 1900, 365},
                                           {31, 12, 2400, 366}}) {
        EXPECT_EQ(r.DayOfYear(c.day, c.month, c.year), c.expected) << c.day << "." << c.month << "." << c.year;
    }
    EXPECT_EQ(ThrownCode([&] { r.DayOfYear(32, 12, 2000); }), 150);
    EXPECT_EQ(ThrownCode([&] { r.DayOfYear(-1, 1, 2000); }), 150);
    EXPECT_EQ(ThrownCode([&] { r.GetLAIAtDate(nullptr, 32, 12, 2000, 1, 400, 1, 1); }), 150);
}

TEST(LanduseValues, AltitudeShiftsTheFixPoints) {
    const LanduseType r = OldMeadow();
    EXPECT_EQ(r.ComputeFixPointDays(nullptr, -1, 1400), (std::vector<int>{-66, 125, 175, 225, 275}));
    EXPECT_EQ(r.ComputeFixPointDays(nullptr, -1, 400), (std::vector<int>{-66, 100, 150, 250, 300}));
    EXPECT_EQ(r.ComputeFixPointDays(nullptr, -1, 0), (std::vector<int>{-66, 90, 140, 260, 310}));
    // Truncated toward zero: 399 m shifts by -0.025 -> 0.
    EXPECT_EQ(r.ComputeFixPointDays(nullptr, -1, 399), (std::vector<int>{-66, 100, 150, 250, 300}));
    EXPECT_EQ(r.FindFixPointInterval(nullptr, 100, -1, 400), 1);
    EXPECT_EQ(r.FindFixPointInterval(nullptr, 101, -1, 400), 2);
    EXPECT_EQ(r.FindFixPointInterval(nullptr, 301, -1, 400), 5);
    EXPECT_EQ(r.FindFixPointInterval(nullptr, 101, -1, 0), 2);
    EXPECT_EQ(r.FindFixPointInterval(nullptr, 91, -1, 0), 2);
}

TEST(LanduseValues, ShiftedDayOutsideTheYearEndsTheRun) {
    LanduseType r = OldMeadow();
    r.JulDays[1] = 5;  // shifted to day -5 at 0 m
    for (double altitude : {0.0, std::nan("")}) {
        Log log;
        EXPECT_EQ(ThrownCode([&] { r.GetLAIAtJulDay(&log.writer, 50, 1, 1, 1, altitude); }), 152) << altitude;
        if (altitude == 0.0) {
            EXPECT_NE(log.Text().find("\n---ERROR--\naltitude correction resulted in a Julian day of -5 for fix point 1 "
                                      "(JD should be between 1 and 366)\n"),
                      std::string::npos)
                << log.Text();
        }
    }
    // Day 0 and day -1 still lie inside the accepted range.
    r.JulDays[1] = 10;
    EXPECT_EQ(r.ComputeFixPointDays(nullptr, -1, 0)[1], 0);
}

TEST(LanduseValues, FourFixPointsOfTheFixedMethod) {
    const LanduseType r = OldMeadow();  // LAI 1 2 3 4 on days 100 150 250 300, entry 0 = 4 on day -66
    struct Case {
        int day;
        double altitude, expected;
    };
    for (const Case& c : std::vector<Case>{
             {125, 400, 1.5},
             {100, 400, 1.0},
             {50, 400, (4.0 * 50 + 1.0 * 116) / 166},
             {340, 400, (4.0 * 126 + 1.0 * 40) / 166},  // day - 366 against fix point 0
             {150, 1400, 1.5},                          // fix points 125 and 175
             {320, 1400, (4.0 * 171 + 1.0 * 20) / 191}, // past 275: between -66 and 125
         }) {
        EXPECT_NEAR(r.GetLAIAtJulDay(nullptr, c.day, 1, 1, 1, c.altitude), c.expected, 1e-12)
            << "day " << c.day << " at " << c.altitude << " m";
    }
    // 4 May is day 125 in 2000 and day 124 in 2001.
    EXPECT_NEAR(r.GetLAIAtDate(nullptr, 4, 5, 2000, 1, 400, 1, 1), 1.5, 1e-12);
    EXPECT_NEAR(r.GetLAIAtDate(nullptr, 4, 5, 2001, 1, 400, 1, 1), 1.48, 1e-12);
    EXPECT_NEAR(r.GetZ0AtJulDay(nullptr, 200, 1, 1, 1, 400), 0.025, 1e-12);
    EXPECT_NEAR(r.GetVCFAtDate(nullptr, 19, 7, 2001, 1, 400, 1, 1), 0.25, 1e-12);  // day 200
    EXPECT_NEAR(r.GetRootDepthAtJulDay(nullptr, 275, 1, 1, 1, 400), 350, 1e-12);
    EXPECT_NEAR(r.GetAlbedoAtDate(nullptr, 1, 1, 2001, 1, 400, 1, 1), 0.2, 1e-12);
    EXPECT_NEAR(r.GetSRStemDiameterAtJulDay(nullptr, 10, 1, 1, 1, 400), 0.01, 1e-12);
    EXPECT_NEAR(r.GetSRResidCovrgAtDate(nullptr, 10, 10, 2001, 1, 400, 1, 1), 0.01, 1e-12);
}

TEST(LanduseValues, MonthlyResistancesOfTheFixedMethod) {
    const LanduseType r = OldMeadow();  // December 90, January 100, February 200, March 130
    struct Case {
        int day, month, year;
        double expected;
    };
    for (const Case& c : std::vector<Case>{
             {15, 1, 2001, 100},
             {31, 1, 2001, 100 + 100 * 16.0 / 31},
             {1, 2, 2001, 100 + 100 * 17.0 / 31},
             {15, 2, 2001, 200},
             {10, 1, 2001, 90 * 5.0 / 31 + 100 * 26.0 / 31},  // from December of the year before
             {1, 3, 2001, 165},                               // 14 of 28 days
             {1, 3, 2000, 200 * 14.0 / 29 + 130 * 15.0 / 29}, // 15 of 29 days
             {31, 12, 2001, 90 * 15.0 / 31 + 100 * 16.0 / 31},
         }) {
        EXPECT_NEAR(r.GetRscAtDate(nullptr, c.day, c.month, c.year, 1, 400, 1, 1), c.expected, 1e-12)
            << c.day << "." << c.month << "." << c.year;
        EXPECT_NEAR(r.GetRsEvaporationAtDate(nullptr, c.day, c.month, c.year, 1, 400, 1, 1), c.expected, 1e-12);
        EXPECT_DOUBLE_EQ(r.GetRsInterceptionAtDate(nullptr, c.day, c.month, c.year, 1, 400, 1, 1), 20);
    }
    // A bare day of the year is taken in a year without 29 February.
    EXPECT_NEAR(r.GetRscAtJulDay(nullptr, 31, 1, 1, 1, 400), 100 + 100 * 16.0 / 31, 1e-12);
    EXPECT_NEAR(r.GetRscAtJulDay(nullptr, 60, 1, 1, 1, 400), 165, 1e-12);
    EXPECT_EQ(ThrownCode([&] { r.GetRscAtDate(nullptr, 1, 13, 2001, 1, 400, 1, 1); }), 154);
}

TEST(LanduseValues, VariableDayCountAndTwoFixPointsOnOneDay) {
    const LanduseType r =
        Block("VariableDayCount", "  JulDays = 100 200 200 300;\n" + Lists("1 2 3 4", "0.01 0.01 0.01 0.01"));
    EXPECT_NEAR(r.GetLAIAtJulDay(nullptr, 200, 1, 1, 1, 400), 2, 1e-12);  // the earlier one on the day
    EXPECT_NEAR(r.GetLAIAtJulDay(nullptr, 201, 1, 1, 1, 400), 3.01, 1e-12);
    // At 1400 m every fix point moves 10 days later.
    EXPECT_NEAR(r.GetLAIAtJulDay(nullptr, 160, 1, 1, 1, 1400), 1.5, 1e-12);
    EXPECT_NEAR(r.GetLAIAtDate(nullptr, 29, 2, 2000, 1, 1400, 1, 1), (4.0 * 50 + 1.0 * 126) / 176, 1e-12);
    // Resistances of methods 2 to 6 follow the fix points, not the months.
    EXPECT_NEAR(r.GetRscAtJulDay(nullptr, 150, 1, 1, 1, 400), 1.5, 1e-12);
    EXPECT_NEAR(r.GetRsInterceptionAtJulDay(nullptr, 150, 1, 1, 1, 400), 20, 1e-12);
    EXPECT_NEAR(r.GetRsEvaporationAtDate(nullptr, 1, 6, 2001, 1, 400, 1, 1), 200, 1e-12);
}

TEST(LanduseValues, DynamicStartHoldsAndThenRunsFromTheStartDay) {
    LanduseType r = Block("DynamicPhenology_1", Dp1Keys + "  JulDays = 1 100 -1 30 366;\n" +
                                                    Lists("0.5 1 2 5 0.5", "0 0 0 0 0"));
    ASSERT_EQ(r.TStartIndex, 3);
    CellGrids grids;
    grids.startCells[1] = -1;   // not started yet
    grids.startCells[2] = 120;  // started on day 120
    grids.Attach(r);
    struct Case {
        int col, day;
        double expected;
    };
    for (const Case& c : std::vector<Case>{
             {1, 50, (0.5 * 50 + 1.0 * 49) / 99},
             {1, 100, 1},
             {1, 150, 1},
             {1, 300, 1},
             {2, 50, (0.5 * 50 + 1.0 * 49) / 99},
             {2, 120, 1},
             {2, 121, 2.1},
             {2, 135, 3.5},
             {2, 150, 5},
             {2, 200, (5.0 * 166 + 0.5 * 50) / 216},
         }) {
        EXPECT_NEAR(r.GetLAIAtJulDay(nullptr, c.day, 1, 1, c.col, 400), c.expected, 1e-12)
            << "column " << c.col << ", day " << c.day;
    }
    EXPECT_EQ(r.ComputeFixPointDays(nullptr, 120, 1400), (std::vector<int>{0, 1, 100, 120, 150, 366}));
}

TEST(LanduseValues, DynamicStartOutsideTheYearNamesTheCell) {
    LanduseType r = Block("DynamicPhenology_1", Dp1Keys + "  JulDays = 1 100 -1 30 366;\n" +
                                                    Lists("0.5 1 2 5 0.5", "0 0 0 0 0"));
    CellGrids grids;
    grids.startCells[1] = 360;  // fix point 4 would fall on day 390
    grids.startCells[2] = -5;
    grids.Attach(r);
    {
        Log log;
        EXPECT_EQ(ThrownCode([&] { r.GetRootDepthAtJulDay(&log.writer, 50, 1, 1, 1, 400); }), 152);
        EXPECT_NE(log.Text().find("dynamic phenology (method 1 or 2 after TStart) resulted in a Julian day of 390 for "
                                  "fix point 4 (JD should be between 1 and 366)\n"
                                  "Coordinates: i=1, j=1\nLayer=1\nAltitude=400m\nJulday=50\nLanduse Code=30\nTStart=-1\n"),
                  std::string::npos)
            << log.Text();
    }
    {
        Log log;
        EXPECT_EQ(ThrownCode([&] { r.GetLAIAtJulDay(&log.writer, 50, 1, 1, 2, 400); }), 152);
        EXPECT_NE(log.Text().find("dynamic phenology (method 1 or 2 at TStart) resulted in a Julian day of -5 for fix "
                                  "point 3"),
                  std::string::npos)
            << log.Text();
        EXPECT_EQ(log.Text().find("Coordinates"), std::string::npos);
    }
}

TEST(LanduseValues, SampleDaysOfMethodsFiveAndSix) {
    LanduseType wheat = Block("DynamicPhenology_3",
                              "  DP1_t1_dorm = 1; DP1_T_Bf = 0; JDReset_TStart = 1; maxStartJDforDP1 = 366;\n"
                              "  JulDays = 1 120 200 366;\n  ForcingThreshold = -1 100 300 -1;\n" +
                                  Lists("0.5 2 5 0.5", "0 0 0 0"));
    CellGrids grids;
    grids.Attach(wheat);
    // Fix point 2 not passed yet: interpolated in forcing from the last sample.
    grids.SampleDays(1, {0, 1, -1, -1, 366});
    grids.forcingCells[1] = 40;
    EXPECT_NEAR(wheat.GetLAIAtJulDay(nullptr, 50, 1, 1, 1, 400), 0.6 * 0.5 + 0.4 * 2, 1e-12);
    EXPECT_NEAR(wheat.GetLAIAtJulDay(nullptr, 1, 1, 1, 1, 400), 0.6 * 0.5 + 0.4 * 2, 1e-12);
    // Fix point 2 reached on day 130 at threshold 100: on towards fix point 3.
    grids.SampleDays(2, {100, 1, 130, -1, 366});
    grids.forcingCells[2] = 200;
    EXPECT_NEAR(wheat.GetLAIAtJulDay(nullptr, 150, 1, 1, 2, 400), 0.5 * 2 + 0.5 * 5, 1e-12);

    LanduseType larch = Block("DynamicPhenology_4",
                              Dp1Keys +
                                  "  DP4_t0_dorm = 270; DP4_t1_dorm = 20; DP4_T0 = 5; DP4_T1 = 3; DP4_Par_a = 400;\n"
                                  "  DP4_Par_b = -20; DP4_T_xylstop = 10; DP4_t_xs1 = 200; DP4_SPSLF = 3;\n"
                                  "  JulDays = 1 -1 30 280 366;\n" +
                                  Lists("0.3 0.3 4 4 0.3", "0 0 0 0 0"));
    CellGrids larchGrids;
    larchGrids.Attach(larch);
    larchGrids.SampleDays(1, {0, 1, 95, 125, 280, 366});
    EXPECT_NEAR(larch.GetLAIAtJulDay(nullptr, 110, 1, 1, 1, 400), 2.15, 1e-12);
    EXPECT_NEAR(larch.GetLAIAtJulDay(nullptr, 366, 1, 1, 1, 400), 0.3, 1e-12);
    EXPECT_NEAR(larch.GetLAIAtJulDay(nullptr, 50, 1, 1, 1, 400), 0.3, 1e-12);
}

TEST(LanduseValues, VegetationPeriodOfTheBalance) {
    LanduseType r = Block("VariableDayCount", "  StartVegetationPeriodForBalance = 2; StopVegetationPeriodForBalance = 4;\n"
                                              "  JulDays = 1 100 200 300 366;\n" +
                                                  Lists("1 2 3 4 5", "0 0 0 0 0"));
    for (int day : {1, 50, 99, 101, 150, 199, 201, 299, 300, 301, 366}) {
        EXPECT_EQ(r.BalancePeriodDayAtJulDay(nullptr, day, 1, 1, 1, 400), -1) << day;
    }
    EXPECT_EQ(r.BalancePeriodDayAtJulDay(nullptr, 100, 1, 1, 1, 400), 100);
    EXPECT_EQ(r.BalancePeriodDayAtJulDay(nullptr, 200, 1, 1, 1, 400), 200);
    EXPECT_EQ(r.BalancePeriodDayAtDate(nullptr, 9, 4, 2000, 1, 400, 1, 1), 100);  // day 100 of a leap year
    EXPECT_EQ(r.BalancePeriodDayAtDate(nullptr, 9, 4, 2001, 1, 400, 1, 1), -1);
    EXPECT_EQ(r.BalanceStopDayAtJulDay(nullptr, 300, 1, 1, 1, 400), 300);
    EXPECT_EQ(r.BalanceStopDayAtJulDay(nullptr, 299, 1, 1, 1, 400), -1);
    EXPECT_EQ(r.BalanceStopDayAtDate(nullptr, 27, 10, 2001, 1, 400, 1, 1), 300);
    r.StartVegetationPeriodForBalance = 0;
    r.StopVegetationPeriodForBalance = 0;
    EXPECT_EQ(r.BalancePeriodDayAtJulDay(nullptr, 100, 1, 1, 1, 400), 0);
    EXPECT_EQ(r.BalanceStopDayAtJulDay(nullptr, 300, 1, 1, 1, 400), 0);
    EXPECT_EQ(OldMeadow().BalancePeriodDayAtJulDay(nullptr, 150, 1, 1, 1, 400), 0);

    LanduseType larch = Block("DynamicPhenology_4",
                              Dp1Keys +
                                  "  DP4_t0_dorm = 270; DP4_t1_dorm = 20; DP4_T0 = 5; DP4_T1 = 3; DP4_Par_a = 400;\n"
                                  "  DP4_Par_b = -20; DP4_T_xylstop = 10; DP4_t_xs1 = 200; DP4_SPSLF = 3;\n"
                                  "  StartVegetationPeriodForBalance = 2; StopVegetationPeriodForBalance = 4;\n"
                                  "  JulDays = 1 -1 30 280 366;\n" +
                                  Lists("0.3 0.3 4 4 0.3", "0 0 0 0 0"));
    CellGrids grids;
    grids.Attach(larch);
    grids.SampleDays(1, {0, 1, 95, 125, 280, 366});
    for (int day : {1, 94, 280, 300, 366}) EXPECT_EQ(larch.BalancePeriodDayAtJulDay(nullptr, day, 1, 1, 1, 400), -1) << day;
    for (int day : {95, 124, 125, 200, 279}) EXPECT_EQ(larch.BalancePeriodDayAtJulDay(nullptr, day, 1, 1, 1, 400), day);
    EXPECT_EQ(larch.BalanceStopDayAtJulDay(nullptr, 280, 1, 1, 1, 400), 280);
    EXPECT_EQ(larch.BalanceStopDayAtJulDay(nullptr, 281, 1, 1, 1, 400), -1);
    EXPECT_EQ(larch.BalanceStopDayAtJulDay(nullptr, 0, 1, 1, 1, 400), -1);
}

TEST(LanduseValues, NFactorIgnoresAltitude) {
    const LanduseType r = Block("VariableDayCount", "  JulDays = 100 200;\n  n-factor = 0.5 1.0;\n" +
                                                        Lists("1 2", "0.05 0.05"));
    EXPECT_NEAR(r.GetNFactorAtJulDay(nullptr, 150), 0.75, 1e-12);
    EXPECT_NEAR(r.GetNFactorAtJulDay(nullptr, 50), (1.0 * 50 + 0.5 * 216) / 266, 1e-12);
    EXPECT_NEAR(r.GetNFactorAtJulDay(nullptr, 250), (1.0 * 216 + 0.5 * 50) / 266, 1e-12);
    EXPECT_NEAR(r.GetNFactorAtDate(nullptr, 29, 5, 2000), 0.75, 1e-12);  // day 150
    // The other values move with altitude: 50 days later at 1400 m.
    EXPECT_NEAR(r.GetLAIAtJulDay(nullptr, 200, 1, 1, 1, 1400), 1.5, 1e-12);
    EXPECT_DOUBLE_EQ(OldMeadow().GetNFactorAtJulDay(nullptr, 200), -1);
}

TEST(LanduseValues, LatestDynamicStart) {
    LanduseType r = Block("DynamicPhenology_1", Dp1Keys + "  JulDays = 1 100 -1 30 366;\n" +
                                                    Lists("0.5 1 2 5 0.5", "0 0 0 0 0"));
    r.CheckMaxStartDay(1, 1, 2001);
    EXPECT_TRUE(r.DynamicPhenology);
    EXPECT_EQ(r.TStart, -1);
    r.CheckMaxStartDay(30, 6, 2001);  // day 181 > 160
    EXPECT_EQ(r.TStart, 160 - 30);
    LanduseType wheat = Block("VariableDayCount", "  JulDays = 100 200;\n" + Lists("1 2", "0 0"));
    wheat.CheckMaxStartDay(30, 6, 2001);
    EXPECT_FALSE(wheat.DynamicPhenology);
    EXPECT_EQ(ThrownCode([&] { r.CheckMaxStartDay(40, 12, 2001); }), 150);
}

TEST(LanduseValues, ConcurrentCallsGiveTheSerialValues) {
    const LanduseType r =
        Block("VariableDayCount", "  JulDays = 1 100 200 300 366;\n" + Lists("0.5 2 5 3 0.5", "0 0.02 0.02 -0.02 0"));
    const int cells = 4000;
    std::vector<double> serial(cells), parallel(cells);
    auto value = [&](int k) {
        const double altitude = 400 + (k % 97) * 25.0;
        const int day = 1 + k % 366;
        return r.GetLAIAtJulDay(nullptr, day, 1, 1, 1, altitude) + r.GetNFactorAtJulDay(nullptr, day) +
               r.GetRscAtDate(nullptr, 1 + k % 28, 1 + k % 12, 2000, 1, altitude, 1, 1);
    };
    for (int k = 0; k < cells; ++k) serial[k] = value(k);
#pragma omp parallel for schedule(static)
    for (int k = 0; k < cells; ++k) parallel[k] = value(k);
    for (int k = 0; k < cells; ++k) ASSERT_EQ(serial[k], parallel[k]) << k;
}
