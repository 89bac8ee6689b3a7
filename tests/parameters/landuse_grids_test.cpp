// Daily land-use parameter grids: creation and start values, the update at
// the end of each day, the internal-parameter mask, layer cells without land
// use, the vegetation period, the dynamic phenology driven by a temperature
// grid, failures, and equal results for any number of threads.

#include "parameters/defltuzr_landuse_grids.h"

#include <gtest/gtest.h>
#include <omp.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "framework/diagnostics_writer.h"
#include "framework/gridtable.h"
#include "framework/modelobject.h"
#include "parameters/defltuzr_landuse_grids_rows.h"
#include "support/test_support.h"

using namespace testsupport;

namespace {

constexpr double NoData = -9999;

// Interpolated values, equal up to rounding.
#define EXPECT_CLOSE(actual, expected) EXPECT_NEAR(actual, expected, 1e-12)

template <typename Call>
int ThrownCode(Call call) {
    try {
        call();
    } catch (int code) {
        return code;
    }
    return 0;
}

// An old one-line class: albedo 0.2, monthly resistances (January 100,
// February 200, March 130, April 140, May 150, ...), fix points 100, 150,
// 250, 300 with LAI 1..4, Z0 0.01..0.04, VCF 0.1..0.4, root depth 100..400.
LanduseType OldMeadow() {
    LanduseType r;
    r.ParseOldFormat(nullptr,
                     "12 meadow 0.2 100 200 130 140 150 160 170 180 190 110 120 90 100 150 250 300 1 2 3 4 "
                     "0.01 0.02 0.03 0.04 0.1 0.2 0.3 0.4 100 200 300 400 1.5 3.45\n",
                     2);
    return r;
}

LanduseType Brace(const std::string& method, const std::string& keys, int code) {
    LanduseType r;
    r.ParseEntry(nullptr,
                 std::to_string(code) + " class method = " + method + " {\n" +
                     "  RootDist = 1; TReduWet = 0.95; HReduDry = 3.45;\n" + keys + "}\n",
                 method);
    return r;
}

// Two fix points, days 100 and 200; the LAI is left to a grid read before.
LanduseType ForestWithoutLai() {
    return Brace("VariableDayCount",
                 "  useInternalParameters = 11101111; JulDays = 100 200;\n"
                 "  Albedo = 0.1 0.3; rsc = 50 150; LAI = 2 6; Z0 = 0.5 1.5; VCF = 0.5 0.9;\n"
                 "  RootDepth = 500 1000; AltDep = 0 0;\n",
                 20);
}

// Method 3: dormancy release on day 52, base temperature 5, threshold 30,
// season reset on day 50; fix point 3 is the dynamic start, fix point 4
// lies 30 days after it.
LanduseType Beech() {
    return Brace("DynamicPhenology_1",
                 "  JulDays = 1 40 -1 30 366;\n"
                 "  F* = 30; DP1_t1_dorm = 52; DP1_T_Bf = 5; JDReset_TStart = 50; maxStartJDforDP1 = 160;\n"
                 "  Albedo = 0.2 0.2 0.2 0.2 0.2; rsc = 50 50 50 50 50; LAI = 1 2 2 5 5; Z0 = 1 1 1 1 1;\n"
                 "  VCF = 0.5 0.5 0.5 0.5 0.5; RootDepth = 1 1 1 1 1; AltDep = 0 0 0 0 0;\n",
                 30);
}

// Method 5: fix point 2 (nominal day 120) is reached with a forcing sum of 50
// above 5 degC.
LanduseType Maize() {
    return Brace("DynamicPhenology_3",
                 "  JulDays = 1 120 200 366; ForcingThreshold = -1 50 -1 -1;\n"
                 "  DP1_t1_dorm = 1; DP1_T_Bf = 5; JDReset_TStart = 300; maxStartJDforDP1 = 160;\n"
                 "  Albedo = 0.2 0.2 0.2 0.2; rsc = 50 50 50 50; LAI = 1 3 4 1; Z0 = 1 1 1 1;\n"
                 "  VCF = 0.5 0.5 0.5 0.5; RootDepth = 1 1 1 1; AltDep = 0 0 0 0;\n",
                 40);
}

LanduseType Larch() {
    return Brace("DynamicPhenology_2",
                 "  JulDays = 1 40 -1 30 366;\n"
                 "  F* = 30; DP1_t1_dorm = 52; DP1_T_Bf = 5; JDReset_TStart = 45; maxStartJDforDP1 = 160;\n"
                 "  DP2_t0_dorm = 280; DP2_t1_dorm = 44; DP2_T_Bf = 3; DP2_T_Bc = 4; DP2_Par_a = 20;\n"
                 "  DP2_Par_b = -0.01;\n"
                 "  Albedo = 0.2 0.2 0.2 0.2 0.2; rsc = 50 50 50 50 50; LAI = 1 2 2 5 5; Z0 = 1 1 1 1 1;\n"
                 "  VCF = 0.5 0.5 0.5 0.5 0.5; RootDepth = 1 1 1 1 1; AltDep = 0 0 0 0 0;\n",
                 50);
}

LanduseType Oak() {
    return Brace("DynamicPhenology_4",
                 "  JulDays = 1 40 -1 30 250 366;\n"
                 "  F* = 30; DP1_t1_dorm = 52; DP1_T_Bf = 5; JDReset_TStart = 44; maxStartJDforDP1 = 160;\n"
                 "  DP4_t0_dorm = 300; DP4_t1_dorm = 45; DP4_T0 = 5; DP4_T1 = 4; DP4_Par_a = 40;\n"
                 "  DP4_Par_b = -2; DP4_T_xylstop = 8; DP4_t_xs1 = 60; DP4_SPSLF = 5;\n"
                 "  Albedo = 0.2 0.2 0.2 0.2 0.2 0.2; rsc = 50 50 50 50 50 50; LAI = 1 2 2 5 5 1;\n"
                 "  Z0 = 1 1 1 1 1 1; VCF = 0.5 0.5 0.5 0.5 0.5 0.5; RootDepth = 1 1 1 1 1 1;\n"
                 "  AltDep = 0 0 0 0 0 0;\n",
                 60);
}

// The set-up's grid output by write code, recorded: the entry and the date
// the set-up held at the call.
struct RecordingSetup : modelobject {
    struct Call {
        int index;
        int64_t hour, day;
    };
    std::vector<Call> calls;
    RecordingSetup(DiagnosticsWriter* writer) : modelobject(writer, "") {}
    void WriteGridByCode(int index, bool regionFilter, bool suppressAggregates) override {
        calls.push_back({index, StepHour, StepDay});
        modelobject::WriteGridByCode(index, regionFilter, suppressAggregates);
    }
};

// A set-up with a small grid table: zone grid in entry 1, elevation model in
// entry 2, "albedo" and the land-use layer grids after them.
struct Fixture {
    TempDir dir;
    std::ostringstream console;
    DiagnosticsWriter writer{dir.file("diag.xml"), DiagDebug, console};
    std::unique_ptr<MemoryGrid[]> table = CreateGridTable();
    RecordingSetup setup{&writer};
    std::vector<double**> own;
    std::vector<LanduseType> landuse;
    std::vector<double**> layers;
    int gridCount = 0;
    std::unique_ptr<LanduseParameterGrids> grids;
    double** zone;
    double** dem;

    Fixture(int rows, int cols) {
        setup.NRows = rows;
        setup.NCols = cols;
        setup.NoData = NoData;
        setup.GridTable = table.get();
        setup.OutputDirectory = dir.path() + "/";
        zone = Store("zone", 1);
        dem = Store("dem", 400);
        landuse.resize(1);
        landuse[0].JDVegetationResetForBalance = 1;
        landuse[0].JDVegetationWriteForBalance = 365;
    }
    ~Fixture() {
        grids.reset();
        for (double** m : own) setup.free_matrix(m, 1, setup.NRows, 1, setup.NCols);
    }

    double** Store(const std::string& name, double fill) {
        double** m = setup.matrix(1, setup.NRows, 1, setup.NCols, setup.NRows);
        for (int r = 1; r <= setup.NRows; ++r)
            for (int c = 1; c <= setup.NCols; ++c) m[r][c] = fill;
        own.push_back(m);
        setup.StoreGrid(FindFreeGridEntry(table.get()), name, m, nullptr, 1, name, 0, 1, setup.NRows);
        return m;
    }
    // Layer grid k (1..), stored as "landuse" k.
    double** Layer(double fill) {
        if (layers.empty()) layers.push_back(nullptr);
        double** m = Store("landuse" + std::to_string(layers.size()), fill);
        layers.push_back(m);
        if (layers.size() == 2) layers[0] = m;
        return m;
    }
    void Generate(long day, long month, long year) {
        grids = std::make_unique<LanduseParameterGrids>(setup);
        grids->generateMultiLayerParameterGrids(static_cast<int>(layers.size()) - 1, landuse, layers.data(), day,
                                                month, year, gridCount);
    }
    void Step(long hour, long day, long month, long year, int period = 1440) {
        grids->CalcActualLanduseParameters(hour, day, month, year, period);
    }
    double** Grid(const std::string& name) {
        const int index = setup.FindGrid(name);
        EXPECT_GT(index, 0) << name;
        return index > 0 ? table[index].Data : nullptr;
    }
    double At(const std::string& name, int r, int c) { return Grid(name)[r][c]; }
};

// ----- method 1 values, update at the end of the day, mask, cells without land use -------

// Cells of the 3 x 3 grid:   zone         layer 1          elevation
//                            1 1 -9999    1  1  1          400 1400 400
//                            1 1 1        2  0  99         400 400 400
//                            1 1 1     -9999 -5  2         400 400 400
struct MixedGrid : Fixture {
    double** lai;
    double** albedo;
    MixedGrid() : Fixture(3, 3) {
        zone[1][3] = NoData;
        dem[1][2] = 1400;
        albedo = Store("albedo", 0.7);
        double** l = Layer(1);
        l[2][1] = 2;
        l[2][2] = 0;
        l[2][3] = 99;
        l[3][1] = NoData;
        l[3][2] = -5;
        l[3][3] = 2;
        // A standard grid of the LAI read before: kept where the class
        // leaves the LAI to it, but never below 0.
        lai = Store("leaf_area_index1", 7);
        lai[2][1] = 2.5;
        lai[3][3] = -3;
        landuse.push_back(OldMeadow());
        landuse.push_back(ForestWithoutLai());
    }
};

TEST(LanduseParameterGrids, StartValuesOfFixedAndVariableClasses) {
    MixedGrid f;
    f.Generate(5, 5, 2001);  // day 125
    EXPECT_FALSE(f.grids->HasDynamicPhenology());
    EXPECT_EQ(f.setup.FindGrid("TemperatureAVG"), 0);
    EXPECT_EQ(f.setup.FindGrid("MultipleStartTimes1"), 0);

    // Old class at 400 m on day 125, halfway between fix points 1 and 2;
    // May 5 lies 20 of 30 days from the April value on to the May value.
    const double rscMay5 = 140 * 10.0 / 30 + 150 * 20.0 / 30;
    EXPECT_CLOSE(f.At("leaf_area_index1", 1, 1), 1.5);
    EXPECT_CLOSE(f.At("vegetation_coverage_degree1", 1, 1), 0.15);
    EXPECT_CLOSE(f.At("root_depth1", 1, 1), 150);
    EXPECT_CLOSE(f.At("RoughnessLength1", 1, 1), 0.015);
    EXPECT_CLOSE(f.At("SurfaceCanopyResistance1", 1, 1), rscMay5);
    EXPECT_CLOSE(f.At("SurfaceEvaporationResistance", 1, 1), rscMay5);
    EXPECT_CLOSE(f.At("SurfaceIntercepResistance1", 1, 1), 20);
    EXPECT_CLOSE(f.albedo[1][1], 0.2);
    EXPECT_EQ(f.At("VegetationStart1", 1, 1), 0);  // no balance period
    EXPECT_EQ(f.At("VegetationStop1", 1, 1), -1);
    EXPECT_EQ(f.At("VegetationDuration1", 1, 1), 0);
    // At 1400 m fix point 1 moves to day 125: its values hold.
    EXPECT_CLOSE(f.At("leaf_area_index1", 1, 2), 1);
    EXPECT_CLOSE(f.At("root_depth1", 1, 2), 100);
    EXPECT_CLOSE(f.At("RoughnessLength1", 1, 2), 0.01);

    // Two fix points, day 125 a quarter of the way; the LAI is the grid's.
    EXPECT_CLOSE(f.albedo[2][1], 0.15);
    EXPECT_CLOSE(f.At("SurfaceCanopyResistance1", 2, 1), 75);
    EXPECT_CLOSE(f.At("RoughnessLength1", 2, 1), 0.75);
    EXPECT_CLOSE(f.At("vegetation_coverage_degree1", 2, 1), 0.6);
    EXPECT_CLOSE(f.At("root_depth1", 2, 1), 625);
    EXPECT_CLOSE(f.At("SurfaceEvaporationResistance", 2, 1), 200);
    EXPECT_EQ(f.lai[2][1], 2.5);
    EXPECT_EQ(f.lai[3][3], 0);
    EXPECT_EQ(f.Grid("leaf_area_index1"), f.lai);

    // Outside the zone grid: nodata, the albedo keeps its value.
    for (const char* name : {"root_depth1", "leaf_area_index1", "RoughnessLength1", "VegetationStart1",
                             "VegetationDuration1", "SurfaceEvaporationResistance"}) {
        EXPECT_EQ(f.At(name, 1, 3), NoData) << name;
    }
    EXPECT_EQ(f.albedo[1][3], 0.7);
    // Layer values 0, 99 (outside the table), nodata and -5: no land use.
    const int noLanduse[4][2] = {{2, 2}, {2, 3}, {3, 1}, {3, 2}};
    for (const auto& cell : noLanduse) {
        const int r = cell[0], c = cell[1];
        for (const char* name : {"root_depth1", "vegetation_coverage_degree1", "leaf_area_index1",
                                 "SurfaceCanopyResistance1", "SurfaceIntercepResistance1", "RoughnessLength1",
                                 "VegetationStart1", "VegetationStop1", "VegetationDuration1",
                                 "SurfaceEvaporationResistance"}) {
            EXPECT_EQ(f.At(name, r, c), NoData) << name << " at " << r << "," << c;
        }
        EXPECT_EQ(f.albedo[r][c], NoData) << r << "," << c;
    }
    // Every grid created here counts as a set-up grid: nine per layer and
    // the evaporation resistance (the LAI grid existed).
    EXPECT_EQ(f.gridCount, 9);
    EXPECT_EQ(f.table[f.setup.FindGrid("root_depth1")].FileName, "root_depth1");
}

TEST(LanduseParameterGrids, ParametersChangeOnlyAtTheLastStepOfADay) {
    struct Case {
        double shiftHours;
        long hour;
        bool dayEnd;
    } cases[] = {{0, 12, false}, {0, 24, true}, {6, 24, false}, {6, 18, true}, {6.9, 18, true}};
    for (const Case& k : cases) {
        MixedGrid f;
        f.setup.TimeShiftHours = k.shiftHours;
        f.Generate(5, 5, 2001);
        f.Step(k.hour, 6, 5, 2001);  // day 126
        const double lai = f.At("leaf_area_index1", 1, 1);
        const double rsc = f.At("SurfaceCanopyResistance1", 1, 1);
        if (k.dayEnd) {
            EXPECT_CLOSE(lai, 1.52) << k.hour;
            EXPECT_CLOSE(rsc, 140 * 9.0 / 30 + 150 * 21.0 / 30) << k.hour;
            EXPECT_CLOSE(f.albedo[2][1], 0.152);
            EXPECT_EQ(f.setup.StepDay, 6);
            EXPECT_NE(f.console.str().find("   actual parameters 6.5.2001 " + std::to_string(k.hour) + ". h\n"),
                      std::string::npos);
        } else {
            EXPECT_CLOSE(lai, 1.5) << k.hour;
            EXPECT_CLOSE(rsc, 140 * 10.0 / 30 + 150 * 20.0 / 30) << k.hour;
        }
        // The grid's own LAI stays; cells without land use stay nodata; the
        // duration counts every step.
        EXPECT_EQ(f.lai[2][1], 2.5);
        EXPECT_EQ(f.At("root_depth1", 2, 3), NoData);
        EXPECT_EQ(f.albedo[3][2], NoData);
        EXPECT_EQ(f.At("VegetationDuration1", 1, 1), 1);
        EXPECT_EQ(f.At("VegetationDuration1", 2, 2), NoData);
    }
}

TEST(LanduseParameterGrids, DailyLimitsDifferFromTheStartLimits) {
    // A roughness of 0.005 is raised at the start but kept later; a negative
    // canopy resistance is 0 at the start and stays negative later.
    Fixture f(1, 1);
    f.Store("albedo", 0.7);
    f.Layer(1);
    f.landuse.push_back(Brace("VariableDayCount",
                              "  JulDays = 100 200; Albedo = 0.1 0.1; rsc = -5 -5; LAI = 1 1; Z0 = 0.005 0.005;\n"
                              "  VCF = 2 2; RootDepth = 0.001 0.001; AltDep = 0 0;\n",
                              1));
    f.Generate(1, 6, 2001);
    EXPECT_EQ(f.At("RoughnessLength1", 1, 1), 0.01);
    EXPECT_EQ(f.At("SurfaceCanopyResistance1", 1, 1), 0);
    EXPECT_EQ(f.At("vegetation_coverage_degree1", 1, 1), 1);
    EXPECT_EQ(f.At("root_depth1", 1, 1), 0.01);
    f.Step(24, 1, 6, 2001);
    EXPECT_CLOSE(f.At("RoughnessLength1", 1, 1), 0.005);
    EXPECT_EQ(f.At("SurfaceCanopyResistance1", 1, 1), -5);
    EXPECT_EQ(f.At("vegetation_coverage_degree1", 1, 1), 1);
    EXPECT_EQ(f.At("root_depth1", 1, 1), 0.01);
}

// A run that goes on from an earlier run's state holds at its first step
// the grids the earlier run held there: those of the last day that ended
// before it (the daily limits included), across month and year ends, and of
// the same day once its last step (hour plus time shift = 24) has passed.
TEST(LanduseParameterGrids, ResumedRunHoldsTheValuesOfTheGoingRun) {
    struct Case {
        const char* name;
        long hour, day, month, year;
        double shift;
        long endHour, endDay, endMonth, endYear;  // the going run's last day end
    } cases[] = {
        {"first hour after a leap day", 1, 1, 3, 2020, 0, 24, 29, 2, 2020},
        {"noon of New Year's day", 13, 1, 1, 2019, 0, 24, 31, 12, 2018},
        {"evening after the shifted day end", 20, 15, 7, 2019, 5, 19, 15, 7, 2019},
        {"morning before the shifted day end", 10, 15, 7, 2019, 5, 19, 14, 7, 2019},
    };
    const char* names[] = {"albedo", "SurfaceEvaporationResistance", "root_depth1", "leaf_area_index1",
                           "vegetation_coverage_degree1", "SurfaceCanopyResistance1", "SurfaceIntercepResistance1",
                           "RoughnessLength1"};
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        auto make = [&](Fixture& f) {
            f.setup.TimeShiftHours = k.shift;
            f.Store("albedo", 0.7);
            f.Layer(1);  // table positions: 1 the meadow, 2 the class below
            f.zone[1][3] = NoData;  // outside: left alone
            f.landuse.push_back(OldMeadow());
            // Limits that differ between the start and the day end.
            f.landuse.push_back(Brace("VariableDayCount",
                                      "  JulDays = 1 366; Albedo = 0.1 0.4; rsc = -5 -50; LAI = 1 5;\n"
                                      "  Z0 = 0.005 0.002; VCF = 0.2 0.9; RootDepth = 0.001 0.001; AltDep = 0 0;\n",
                                      1));
            f.layers[1][1][2] = 2;
        };
        Fixture going(1, 3);
        make(going);
        going.Generate(1, 1, 2018);
        going.Step(k.endHour, k.endDay, k.endMonth, k.endYear);
        Fixture resumed(1, 3);
        make(resumed);
        resumed.Generate(k.day, k.month, k.year);
        resumed.grids->ResumeParameters(k.hour, k.day, k.month, k.year);
        for (const char* name : names) {
            for (int c = 1; c <= 3; ++c) EXPECT_EQ(resumed.At(name, 1, c), going.At(name, 1, c)) << name << c;
        }
        // The start's limits differ: the resumption is not a plain start.
        Fixture started(1, 3);
        make(started);
        started.Generate(k.day, k.month, k.year);
        EXPECT_NE(started.At("SurfaceCanopyResistance1", 1, 2), resumed.At("SurfaceCanopyResistance1", 1, 2));
    }
}

TEST(LanduseParameterGrids, LogEntryAtTheEndOfTheDay) {
    struct Case {
        int interval;
        int64_t heldHour;
        const char* line;  // empty: no entry
    } cases[] = {{1, 23, "   actual parameters 6.5.2001 24. h\n"},
                 {0, 23, "   actual parameters 6.5.2001 24. h\n"},
                 {6, 18, "   actual parameters 6.5.2001 24. h (time of meteo data)\n"},
                 {6, 17, ""}};
    for (const Case& k : cases) {
        MixedGrid f;
        f.setup.LogInterval = k.interval;
        f.Generate(5, 5, 2001);
        f.setup.StepHour = k.heldHour;
        f.Step(24, 6, 5, 2001);
        if (*k.line) {
            EXPECT_NE(f.console.str().find(k.line), std::string::npos) << k.interval;
        } else {
            EXPECT_EQ(f.console.str().find("actual parameters"), std::string::npos);
        }
    }
}

// ----- vegetation period of the balance ------------------------------------------------------

TEST(LanduseParameterGrids, VegetationPeriodAndTableWideBalanceDays) {
    Fixture f(1, 2);
    f.Store("albedo", 0.7);
    f.Layer(1);
    f.landuse.push_back(Brace("VariableDayCount",
                              "  JulDays = 100 110 120 130; StartVegetationPeriodForBalance = 2;\n"
                              "  StopVegetationPeriodForBalance = 3; JDVegetationResetForBalance = 122;\n"
                              "  Albedo = 0.1 0.1 0.1 0.1; rsc = 1 1 1 1; LAI = 1 1 1 1; Z0 = 1 1 1 1;\n"
                              "  VCF = 1 1 1 1; RootDepth = 1 1 1 1; AltDep = 0 0 0 0;\n",
                              1));
    f.landuse[0].JDVegetationResetForBalance = 122;
    f.landuse[0].JDVegetationWriteForBalance = 121;
    f.Generate(15, 4, 2001);  // day 105
    EXPECT_EQ(f.At("VegetationStart1", 1, 1), -1);
    const int lastEntry = f.setup.FindGrid("VegetationDuration1");
    ASSERT_GT(lastEntry, 0);
    // Daily steps from day 106 (April 16) to day 125 (May 5).
    for (long doy = 106; doy <= 125; ++doy) {
        f.Step(24, doy <= 120 ? doy - 90 : doy - 120, doy <= 120 ? 4 : 5, 2001);
        if (doy == 109) {
            EXPECT_EQ(f.At("VegetationDuration1", 1, 1), 0);
        }
        if (doy == 110) {
            EXPECT_EQ(f.At("VegetationStart1", 1, 1), 110);
        }
        if (doy == 121) {
            // Days 110..119 inside the period; the stop day 120 is outside.
            EXPECT_EQ(f.At("VegetationStart1", 1, 1), 110);
            EXPECT_EQ(f.At("VegetationStop1", 1, 1), 120);
            EXPECT_EQ(f.At("VegetationDuration1", 1, 2), 10);
            EXPECT_EQ(f.table[1].VegOutputDue, 1);
            EXPECT_EQ(f.table[lastEntry].VegOutputDue, 1);
            EXPECT_EQ(f.table[1].VegResetDue, 0);
            EXPECT_EQ(f.table[lastEntry + 1].VegOutputDue, 0);
        }
        if (doy == 122) {
            EXPECT_EQ(f.table[1].VegResetDue, 1);
            EXPECT_EQ(f.table[lastEntry].VegResetDue, 1);
        }
    }
    EXPECT_EQ(f.At("VegetationStart1", 1, 1), -1);
    EXPECT_EQ(f.At("VegetationStop1", 1, 1), -1);
    EXPECT_EQ(f.At("VegetationDuration1", 1, 1), 0);
}

TEST(LanduseParameterGrids, HourlyStepsCountHoursAndAbsentLayerStaysNodata) {
    // Two layers; layer 2 is absent in column 2.
    Fixture f(1, 2);
    f.Store("albedo", 0.7);
    f.Layer(1);
    double** second = f.Layer(2);
    second[1][2] = NoData;
    f.landuse.push_back(OldMeadow());
    f.landuse.push_back(ForestWithoutLai());
    f.Generate(5, 5, 2001);
    EXPECT_EQ(f.grids->LayerCount(), 2);
    EXPECT_CLOSE(f.At("root_depth2", 1, 1), 625);
    EXPECT_EQ(f.At("leaf_area_index2", 1, 1), 0);  // a new grid, the LAI left to it
    EXPECT_CLOSE(f.At("albedo", 1, 1), 0.2);  // from layer 1 only
    for (long hour = 1; hour <= 24; ++hour) f.Step(hour, 6, 5, 2001, 60);
    EXPECT_EQ(f.At("VegetationDuration1", 1, 1), 24);
    EXPECT_EQ(f.At("VegetationDuration2", 1, 1), 24);
    EXPECT_EQ(f.At("VegetationDuration2", 1, 2), NoData);
    EXPECT_EQ(f.At("root_depth2", 1, 2), NoData);
    EXPECT_CLOSE(f.At("root_depth2", 1, 1), 630);
    EXPECT_CLOSE(f.At("root_depth1", 1, 2), 152);
}

// ----- dynamic phenology ------------------------------------------------------------------------

// One row of method-3 cells: A at 23.4 degC (14.2 forcing units a day),
// B at 5 degC (none), C at 13.4 degC; D at varying temperatures.
struct Method3Row : Fixture {
    double** temperature;
    Method3Row() : Fixture(1, 4) {
        Store("albedo", 0.2);
        Layer(1);
        landuse.push_back(Beech());
        temperature = Store("temperature", 0);
    }
    void Weather(double d) {
        temperature[1][1] = 23.4;
        temperature[1][2] = 5;
        temperature[1][3] = 13.4;
        temperature[1][4] = d;
    }
};

TEST(DynamicPhenology, Method3StartFollowsTheTemperature) {
    Method3Row f;
    f.Generate(18, 2, 2001);  // day 49
    ASSERT_TRUE(f.grids->HasDynamicPhenology());
    EXPECT_FALSE(f.grids->HasMultipleStartTimes());
    EXPECT_EQ(f.At("Pheno_start1", 1, 1), 0);  // a new grid starts at 0
    EXPECT_EQ(f.At("FStar_ForcingThreshold1", 1, 1), 0);

    // Day 50 in four steps of six hours: the daily mean of D is 15.
    const double dTemps[4] = {0, 10, 20, 30};
    for (int s = 0; s < 4; ++s) {
        f.Weather(dTemps[s]);
        f.Step(6 * (s + 1), 19, 2, 2001, 360);
        if (s == 2) {
            EXPECT_CLOSE(f.At("TemperatureAVG", 1, 4), 7.5);
        }
    }
    EXPECT_EQ(f.At("TemperatureAVG", 1, 4), 0);
    EXPECT_CLOSE(f.At("TemperatureMOVAVG7", 1, 4), 15);
    // Day 50 resets the season: no forcing before it.
    EXPECT_EQ(f.At("Pheno_start1", 1, 1), -1);
    EXPECT_EQ(f.At("SumOfForcingUnits1", 1, 1), 0);

    const double rateC = 28.4 / (1 + std::exp(-0.185 * (13.4 - 5 - 18.4)));
    std::vector<double> dailyD = {15};
    for (long day = 20; day <= 28; ++day) {  // days 51..59
        const long doy = 31 + day;
        f.Weather(10.0 * (doy - 49));
        dailyD.push_back(10.0 * (doy - 49));
        f.Step(24, day, 2, 2001);
        const double forcingDays = doy >= 52 ? doy - 51.0 : 0.0;
        if (doy <= 53) {
            EXPECT_EQ(f.At("Pheno_start1", 1, 1), -1) << doy;
            EXPECT_NEAR(f.At("SumOfForcingUnits1", 1, 1), 14.2 * forcingDays, 1e-9) << doy;
        } else {
            EXPECT_EQ(f.At("Pheno_start1", 1, 1), 54) << doy;
            EXPECT_NEAR(f.At("SumOfForcingUnits1", 1, 1), 42.6, 1e-9) << doy;  // stops at the start
        }
        EXPECT_EQ(f.At("SumOfForcingUnits1", 1, 2), 0);
        EXPECT_EQ(f.At("Pheno_start1", 1, 2), -1);
        EXPECT_EQ(f.At("Pheno_start1", 1, 3), doy >= 59 ? 59 : -1) << doy;
        if (doy <= 58) {
            EXPECT_NEAR(f.At("SumOfForcingUnits1", 1, 3), rateC * forcingDays, 1e-9) << doy;
        }
        // The 7-day mean: fewer days at the start of the run.
        const size_t days = dailyD.size() < 7 ? dailyD.size() : 7;
        double sum = 0;
        for (size_t i = dailyD.size() - days; i < dailyD.size(); ++i) sum += dailyD[i];
        EXPECT_CLOSE(f.At("TemperatureMOVAVG7", 1, 4), sum / static_cast<double>(days)) << doy;
        if (doy == 55) {
            // A started on day 54: LAI from fix point 3 (day 54, 2) towards
            // fix point 4 (day 84, 5). B holds fix point 2 until its start.
            EXPECT_CLOSE(f.At("leaf_area_index1", 1, 1), 2.1);
            EXPECT_CLOSE(f.At("leaf_area_index1", 1, 2), 2);
        }
    }
    EXPECT_EQ(f.grids->DaysInMovingMean(), 7);
    // The 7-day mean goes to its write code once a day, at that day's date.
    const int movingMean = f.setup.FindGrid("TemperatureMOVAVG7");
    ASSERT_EQ(f.setup.calls.size(), 10u);
    for (size_t i = 0; i < f.setup.calls.size(); ++i) {
        EXPECT_EQ(f.setup.calls[i].index, movingMean);
        EXPECT_EQ(f.setup.calls[i].hour, 24);
        EXPECT_EQ(f.setup.calls[i].day, static_cast<int64_t>(19 + i));
    }
}

TEST(DynamicPhenology, Method5FindsItsFixPointByForcing) {
    Fixture f(1, 2);
    f.Store("albedo", 0.2);
    f.Layer(1);
    f.landuse.push_back(Maize());
    double** temperature = f.Store("temperature", 15);  // 10 units a day
    temperature[1][2] = 10;                              // 5 units a day
    f.Generate(28, 2, 2001);                              // day 59
    ASSERT_TRUE(f.grids->HasMultipleStartTimes());
    EXPECT_EQ(f.grids->LargestFixPointCount(), 4);
    const int stackIndex = FindGridEntry(f.table.get(), "MultipleStartTimes1", false);
    ASSERT_GT(stackIndex, 0);
    GridStack P = f.table[stackIndex].Stack;
    EXPECT_EQ(f.table[stackIndex].NumLevels, 5);
    EXPECT_EQ(f.table[stackIndex].UnitsDigit, 3);
    EXPECT_EQ(P[1][1][1], 1);
    EXPECT_EQ(P[1][1][2], -1);  // to be found by its forcing threshold
    EXPECT_EQ(P[1][1][3], 200);
    EXPECT_EQ(P[1][1][4], 366);
    EXPECT_EQ(P[1][1][5], 0);

    for (long day = 1; day <= 10; ++day) {  // days 60..69
        f.Step(24, day, 3, 2001);
        const long doy = 59 + day;
        if (doy == 61) {
            // Forcing 20 of 50 between fix points 1 and 2.
            EXPECT_CLOSE(f.At("leaf_area_index1", 1, 1), 1.8);
        }
    }
    EXPECT_EQ(P[1][1][2], 64);  // 50 units after five days
    EXPECT_EQ(P[1][1][0], 50);
    EXPECT_EQ(P[1][2][2], 69);
    EXPECT_CLOSE(f.At("leaf_area_index1", 1, 1), 3 + 1.0 * (69 - 64) / (200 - 64));

    // The stack of layer 1 is written at the end as "<name>_End".
    f.grids->Release(true, false);
    EXPECT_EQ(f.setup.FindGrid("root_depth1"), 0);
    EXPECT_EQ(FindGridEntry(f.table.get(), "MultipleStartTimes1", false), 0);
    GridStack back = nullptr;
    EXPECT_EQ(f.setup.ReadStack(f.dir.file("MultipleStartTimes1_End"), back), 5);
    EXPECT_EQ(back[1][1][2], 64);
    EXPECT_EQ(back[1][2][2], 69);
    f.setup.free_matrix3d(back, 1, 1);
}

TEST(DynamicPhenology, SuppliedGridsStartCellsAtTheRecordValues) {
    // A supplied "Pheno_start1" with -1 starts the cell at TStart, its
    // forcing threshold at F*; the first season of method 4 ends at the
    // start because the chilling sum is 0.
    Fixture f(1, 2);
    f.Store("albedo", 0.2);
    f.Layer(1);
    f.landuse.push_back(Larch());
    f.Store("temperature", 10);
    double** start = f.Store("Pheno_start1", -1);
    start[1][2] = 70;
    double** threshold = f.Store("FStar_ForcingThreshold1", NoData);
    threshold[1][2] = 12;
    f.Generate(1, 7, 2001);  // day 182, after maxStartJDforDP1 160
    EXPECT_EQ(start[1][1], 130);  // TStart: 160 minus the 30 days of the fix point after it
    EXPECT_EQ(start[1][2], 70);
    EXPECT_EQ(threshold[1][1], 30);
    EXPECT_EQ(threshold[1][2], 12);
    EXPECT_FALSE(f.landuse[1].DynamicPhenology);
    EXPECT_EQ(f.At("SumOfChillingUnits1", 1, 1), 0);
}

TEST(DynamicPhenology, MissingTemperatureEndsTheRun) {
    Method3Row f;
    f.table[f.setup.FindGrid("temperature")].InternalName = "air_temperature";
    f.Generate(18, 2, 2001);
    EXPECT_EQ(ThrownCode([&] { f.Step(24, 19, 2, 2001); }), 33);
    EXPECT_NE(f.console.str().find("could not find grid with label \"temperature\". \nThis grid must be "
                                   "present (either by interpolating or by reading or as standard grid) for "
                                   "using dynamic phenology"),
              std::string::npos);

    // Without a dynamic class the temperature is not needed.
    MixedGrid g;
    g.Generate(5, 5, 2001);
    EXPECT_EQ(ThrownCode([&] { g.Step(24, 6, 5, 2001); }), 0);
}

// ----- failures --------------------------------------------------------------------------------------

TEST(LanduseParameterGrids, FailuresOfTheSetUp) {
    {
        Fixture f(1, 1);  // no albedo
        f.Layer(1);
        f.landuse.push_back(OldMeadow());
        EXPECT_EQ(ThrownCode([&] { f.Generate(5, 5, 2001); }), 12);
        EXPECT_NE(f.console.str().find("Albedo Grid not found for use within Landuse-Table.\n This grid must "
                                       "be read in as standard or variable grid (there, it can be created "
                                       "automatically)"),
                  std::string::npos);
    }
    {
        Fixture f(1, 1);  // a full grid table
        f.Store("albedo", 0.2);
        f.Layer(1);
        f.landuse.push_back(OldMeadow());
        for (int i = FindFreeGridEntry(f.table.get()); i <= LastGridIndex; ++i) f.table[i].InternalName = "x";
        EXPECT_EQ(ThrownCode([&] { f.Generate(5, 5, 2001); }), 12);
        EXPECT_NE(f.console.str().find("no free grid found in memory (at position 1000)\n"), std::string::npos);
    }
    {
        Fixture f(1, 1);  // a sample-day stack of a run with fewer fix points
        f.Store("albedo", 0.2);
        f.Layer(1);
        f.landuse.push_back(Maize());
        GridStack small = f.setup.matrix3d(1, 1, 1, 1, 3, 1);
        f.setup.StoreGrid(FindFreeGridEntry(f.table.get()), "MultipleStartTimes1", nullptr, small, 3,
                          "MultipleStartTimes1", 0, 1, 1);
        EXPECT_EQ(ThrownCode([&] { f.Generate(5, 5, 2001); }), 22);
        f.setup.free_matrix3d(small, 1, 1);
    }
    {
        // A shifted fix-point day outside the year in some cells: the run
        // ends with the code of the value operations on every thread count.
        const int saved = omp_get_max_threads();
        for (int threads : {1, 4}) {
            omp_set_num_threads(threads);
            Fixture f(20, 3);
            f.Store("albedo", 0.2);
            f.Layer(1);
            f.landuse.push_back(OldMeadow());
            f.dem[5][2] = -4000;  // fix point 1 on day 100 - 110
            f.dem[17][1] = -4000;
            EXPECT_EQ(ThrownCode([&] { f.Generate(5, 5, 2001); }), 152);
            EXPECT_NE(f.console.str().find("Coordinates: i=5, j=2"), std::string::npos);
        }
        omp_set_num_threads(saved);
    }
}

TEST(LanduseParameterGrids, RowLoopRaisesTheFailureOfTheLowestRow) {
    const int saved = omp_get_max_threads();
    for (int threads : {1, 3, 8}) {
        omp_set_num_threads(threads);
        std::vector<int> done(41, 0);
        const int code = ThrownCode([&] {
            ForEachRow(1, 40, [&](int row) {
                if (row % 7 == 5) throw 1000 + row;
                done[static_cast<size_t>(row)] = 1;
            });
        });
        EXPECT_EQ(code, 1005) << threads;
        // Every other row is still done.
        EXPECT_EQ(done[39], 1);
        EXPECT_EQ(done[6], 1);
    }
    omp_set_num_threads(saved);
}

// ----- 1 thread = N threads ------------------------------------------------------------------------

// Every cell of every grid in the table, in table order.
std::vector<double> TableCells(Fixture& f, int levels) {
    std::vector<double> cells;
    for (int i = FirstGridIndex; i <= LastGridIndex; ++i) {
        const MemoryGrid& e = f.table[i];
        for (int r = 1; r <= f.setup.NRows; ++r) {
            for (int c = 1; c <= f.setup.NCols; ++c) {
                if (e.Data) cells.push_back(e.Data[r][c]);
                if (e.Stack) {
                    for (int l = 0; l <= levels && l <= e.NumLevels; ++l) cells.push_back(e.Stack[r][c][l]);
                }
            }
        }
    }
    return cells;
}

std::vector<double> MixedRun(int threads) {
    omp_set_num_threads(threads);
    const int rows = 37, cols = 23;
    Fixture f(rows, cols);
    f.Store("albedo", 0.2);
    double** first = f.Layer(1);
    double** second = f.Layer(1);
    double** temperature = f.Store("temperature", 0);
    double** theta = f.Store("MeanThetaInRootZone", 0);
    f.landuse.push_back(OldMeadow());
    f.landuse.push_back(ForestWithoutLai());
    f.landuse.push_back(Beech());
    f.landuse.push_back(Maize());
    f.landuse.push_back(Larch());
    f.landuse.push_back(Oak());
    f.landuse[3].StressFactorDynPhen = 1.5;
    for (int r = 1; r <= rows; ++r) {
        for (int c = 1; c <= cols; ++c) {
            f.zone[r][c] = (r + 2 * c) % 11 == 0 ? NoData : 1;
            f.dem[r][c] = 300 + 7 * r + 3 * c;
            first[r][c] = 1 + (r * 3 + c) % 6;
            second[r][c] = (r + c) % 5 == 0 ? NoData : 1 + (r + 5 * c) % 6;
            theta[r][c] = 3 + (r * c) % 140;
        }
    }
    f.Generate(10, 2, 2001);
    EXPECT_TRUE(f.grids->HasMultipleStartTimes());  // from table entries beyond the layer count
    for (int day = 0; day < 70; ++day) {
        const long doy = 42 + day;
        long month = 1, dom = doy;
        while (dom > f.setup.DaysPerMonth[month]) dom -= f.setup.DaysPerMonth[month++];
        for (long hour = 12; hour <= 24; hour += 12) {
            for (int r = 1; r <= rows; ++r)
                for (int c = 1; c <= cols; ++c)
                    temperature[r][c] = -4 + 0.4 * day + std::sin(0.3 * r + 0.2 * c + day) * 6 + (hour == 24 ? 3 : 0);
            f.Step(hour, dom, month, 2001, 720);
        }
    }
    std::vector<double> cells = TableCells(f, 8);
    // The run reaches every rule: seasons of methods 3, 4 and 6 start, leaves
    // fall, and method 5 finds fix-point days by forcing.
    int started[7] = {}, leafFall = 0, found = 0;
    const GridStack P = f.table[FindGridEntry(f.table.get(), "MultipleStartTimes1", false)].Stack;
    for (int r = 1; r <= rows; ++r) {
        for (int c = 1; c <= cols; ++c) {
            if (f.zone[r][c] == NoData) continue;
            if (f.At("Pheno_start1", r, c) > 0) ++started[static_cast<int>(first[r][c])];
            if (f.At("StartDayOfLeaveFall", r, c) > 0) ++leafFall;
            if (first[r][c] == 4 && P[r][c][2] > 0 && P[r][c][2] < 120) ++found;
        }
    }
    EXPECT_GT(started[3], 0);
    EXPECT_GT(started[5], 0);
    EXPECT_GT(started[6], 0);
    EXPECT_GT(leafFall, 0);
    EXPECT_GT(found, 0);
    f.grids->Release(false, true);
    return cells;
}

TEST(LanduseParameterGrids, OneThreadEqualsManyThreads) {
    const int saved = omp_get_max_threads();
    const std::vector<double> one = MixedRun(1);
    const std::vector<double> many = MixedRun(4);
    omp_set_num_threads(saved);
    ASSERT_EQ(one.size(), many.size());
    EXPECT_EQ(std::memcmp(one.data(), many.data(), one.size() * sizeof(double)), 0);
}

}  // namespace
