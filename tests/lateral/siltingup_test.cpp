// The silting-up model: its laws against hand values, the grouped lists of
// subbasin codes, the section of the control file, the cell step with its
// water balance, the user's expressions and thread invariance.

#include <gtest/gtest.h>
#include <omp.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <sstream>

#include "framework/diagnostics_writer.h"
#include "framework/gridtable.h"
#include "framework/statistics_table.h"
#include "framework/subbasin_groups.h"
#include "lateral/siltingup.h"
#include "lateral/siltingup_physics.h"
#include "parameters/landuse.h"
#include "parameters/soil.h"
#include "support/test_support.h"
#include "support/water_balance.h"
#include "framework/tracer_info.h"

using namespace testsupport;

namespace {

// ---------------------------------------------------------------- kernels

TEST(SiltingUpKernels, HandValuesWithTheDefaults) {
    const siltingup::CapacityParameters p;
    const siltingup::GrainSizes soil;  // 0.3333 sand, 0.3333 silt, 0.3334 clay
    const double dg = siltingup::GeometricMeanDiameter(soil);
    EXPECT_NEAR(dg, 10.4028, 1e-4);
    const double y = siltingup::FinalRate(p, dg, soil.sand);
    EXPECT_NEAR(y, 4.37183, 1e-5);
    EXPECT_NEAR(siltingup::Disposition(p, soil.sand, dg, 0.3), 0.00227392, 1e-8);
    EXPECT_NEAR(siltingup::Disposition(p, soil.sand, dg, 10), 0.00116796, 1e-8);
    EXPECT_EQ(siltingup::Disposition(p, soil.sand, dg, 0), 0.0);

    // Hourly steps on the tillage day, no cover, KE 0 before.
    struct Rain {
        double intensity, e, ke, capacity, runoff;
    };
    const Rain rains[] = {
        {10, 20.62, 206.2, 42.3070, 0},
        {80, 28.33, 2266.4, 4.72217, 75.2778},
    };
    const double cv = siltingup::Disposition(p, soil.sand, dg, 0.3);
    for (const Rain& r : rains) {
        SCOPED_TRACE(r.intensity);
        const double e = siltingup::EnergyPerMm(r.intensity);
        EXPECT_NEAR(e, r.e, 1e-12);
        const double ke = siltingup::KineticEnergyAfter(0, 0.3, r.intensity, e, 0, 0, 1, 60);
        EXPECT_NEAR(ke, r.ke, 1e-9);
        const double v = siltingup::Capacity(cv, ke, p.A, y, 60);
        EXPECT_NEAR(v, r.capacity, 1e-4);
        const auto split = siltingup::Split(r.intensity, v, true);
        EXPECT_NEAR(split.directRunoff, r.runoff, 1e-4);
        EXPECT_EQ(split.infiltration + split.directRunoff, r.intensity);
    }
    // Half-hourly steps: the capacity is per step.
    EXPECT_NEAR(siltingup::Capacity(0, 0, 65, 4, 30), 32.5, 1e-12);
}

TEST(SiltingUpKernels, EnergyPerMmAtItsLimits) {
    const struct {
        double intensity, e;
    } cases[] = {{0, 0}, {0.05, 0}, {0.0500001, 11.89 + 8.73 * std::log10(0.0500001)}, {1, 11.89},
                 {76.19, 11.89 + 8.73 * std::log10(76.19)}, {76.2, 28.33}, {500, 28.33}};
    for (const auto& c : cases) EXPECT_DOUBLE_EQ(siltingup::EnergyPerMm(c.intensity), c.e) << c.intensity;
}

TEST(SiltingUpKernels, TimeSinceTillageAndRainPause) {
    // Tillage on days 100 and 200; day 0 is 200 - 366.
    const std::vector<int32_t> days{-166, 100, 200};
    const std::vector<int32_t> none{-9999};
    const struct {
        const std::vector<int32_t>* days;
        int n, day;
        double tst;
    } cases[] = {
        {&days, 2, 100, 0.3},  // the tillage day
        {&days, 2, 110, 10},   {&days, 2, 199, 99}, {&days, 2, 200, 0.3}, {&days, 2, 366, 166},
        {&days, 2, 50, 216},   // before the first date: since day 200 of the year before
        {&days, 2, 1, 167},    {&none, 0, 100, 0},
    };
    for (const auto& c : cases) EXPECT_DOUBLE_EQ(siltingup::TimeSinceTillage(*c.days, c.n, c.day), c.tst) << c.day;

    EXPECT_EQ(siltingup::RainPauseAfter(2, 0.06, 60), 0.0);
    EXPECT_DOUBLE_EQ(siltingup::RainPauseAfter(2, 0.05, 60), 2 + 1 / 24.0);  // 0.05 mm/h is no rain
    // Dry steps: KE holds below the minimum pause, restarts at 0 once reached.
    EXPECT_EQ(siltingup::KineticEnergyAfter(300, 5, 0, 0, 0, 0.09, 0.1, 60), 300.0);
    EXPECT_EQ(siltingup::KineticEnergyAfter(300, 5, 0, 0, 0, 0.1, 0.1, 60), 0.0);
    // Cover shields the soil; no tillage dates: no energy at all.
    EXPECT_DOUBLE_EQ(siltingup::KineticEnergyAfter(100, 5, 10, 20, 0.25, 0, 1, 60), 100 + 150.0);
    EXPECT_EQ(siltingup::KineticEnergyAfter(100, 0, 10, 20, 0, 0, 1, 60), 0.0);
}

TEST(SiltingUpKernels, SplitNeverMakesMoreRunoffThanWater) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const struct {
        double u, v;
        bool tilled;
        double infiltration, runoff;
    } cases[] = {
        {10, 4, true, 4, 6}, {10, 40, true, 10, 0}, {10, -3, true, 0, 10},  // a negative capacity counts 0
        {10, nan, true, 0, 10}, {10, 4, false, 10, 0},                     // untilled: all infiltrates
        {0, 4, true, 0, 0},
    };
    for (const auto& c : cases) {
        const auto s = siltingup::Split(c.u, c.v, c.tilled);
        EXPECT_EQ(s.infiltration, c.infiltration) << c.u << " " << c.v;
        EXPECT_EQ(s.directRunoff, c.runoff) << c.u << " " << c.v;
    }
}

// -------------------------------------------------- grouped subbasin lists

// Both rules on one table: the values per rank that the code list and the
// value line 10 20 30 (as many numbers as the list asks for) give.
TEST(SubbasinGroups, BothRulesOnOneTable) {
    struct Case {
        const char* what;
        GroupRule rule;
        std::vector<int> codes;   // subbasin codes in rank order
        std::vector<int> listed;  // the code line
        std::vector<double> values;  // per rank 1..n
    };
    const Case cases[] = {
        {"1 8 of 1..8", GroupRule::SiltingUp, {1, 2, 3, 4, 5, 6, 7, 8}, {1, 8}, {10, 10, 10, 10, 10, 10, 10, 20}},
        {"3 5 8 of 1..8", GroupRule::SiltingUp, {1, 2, 3, 4, 5, 6, 7, 8}, {3, 5, 8},
         {10, 10, 10, 10, 20, 20, 20, 30}},
        {"2 8 of 1..8", GroupRule::SiltingUp, {1, 2, 3, 4, 5, 6, 7, 8}, {2, 8}, {0, 10, 10, 10, 10, 10, 10, 20}},
        {"3 5 8 of 1..8, soil", GroupRule::Soil, {1, 2, 3, 4, 5, 6, 7, 8}, {3, 5, 8},
         {10, 10, 20, 20, 30, 30, 30, 40}},
        {"1 8 of 1 2 5 8, soil", GroupRule::Soil, {1, 2, 5, 8}, {1, 8}, {10, 10, 10, 20}},
        {"1 5 8 of 1 2 5 8, soil", GroupRule::Soil, {1, 2, 5, 8}, {1, 5, 8}, {10, 10, 20, 30}},
        {"5 8 of 1 2 5 8, soil", GroupRule::Soil, {1, 2, 5, 8}, {5, 8}, {10, 10, 20, 30}},
        {"5 8 of 1 2 5 8", GroupRule::SiltingUp, {1, 2, 5, 8}, {5, 8}, {10, 10, 10, 20}},
        {"5 8 of 1 5 8, soil", GroupRule::Soil, {1, 5, 8}, {5, 8}, {0, 10, 20}},
        {"5 8 of 1 5 8", GroupRule::SiltingUp, {1, 5, 8}, {5, 8}, {0, 10, 20}},
        {"one subbasin", GroupRule::SiltingUp, {4}, {4}, {10}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const int largest = c.codes.back();
        std::vector<int> rank(static_cast<size_t>(largest) + 1, 0);
        for (size_t r = 0; r < c.codes.size(); ++r) rank[static_cast<size_t>(c.codes[r])] = static_cast<int>(r) + 1;
        SubbasinGroupList list(rank.data(), largest, static_cast<int>(c.codes.size()), c.codes[0], c.rule);
        for (int code : c.listed) ASSERT_TRUE(list.Add(code)) << code;
        EXPECT_TRUE(list.Complete());
        double next = 0;
        std::vector<double> values;
        int failed = 0;
        ASSERT_TRUE(AssignGroupedValues(list.Marks(), values, [&](double* v) { return *v = (next += 10), true; },
                                        [](double v) { return v; }, &failed));
        for (size_t r = 1; r < values.size(); ++r) EXPECT_EQ(values[r], c.values[r - 1]) << "rank " << r;
    }
    // Refused codes: 0, above the largest, without subbasin, twice, descending.
    std::vector<int> rank{0, 1, 0, 2, 3};
    for (int bad : {0, 5, 2, -1}) {
        SubbasinGroupList list(rank.data(), 4, 3, 1, GroupRule::SiltingUp);
        EXPECT_FALSE(list.Add(bad)) << bad;
    }
    SubbasinGroupList twice(rank.data(), 4, 3, 1, GroupRule::SiltingUp);
    EXPECT_TRUE(twice.Add(3));
    EXPECT_FALSE(twice.Add(3));
    EXPECT_FALSE(twice.Add(1));
}

// -------------------------------------------------------------- the model

// A 2 x 4 grid of eight subbasins with the codes 1 to 8 (row 1: 1 2 3 4,
// row 2: 5 6 7 8). Land use 1 is tilled on days 100 and 200, land use 2 has
// no tillage dates; neither has residues. The soil is the default one.
struct SiltingUpFixture {
    TempDir dir;
    std::ostringstream console;
    DiagnosticsWriter writer{dir.file("d.xml"), DiagDebug, console};
    std::unique_ptr<MemoryGrid[]> table = CreateGridTable();
    StatisticsTableEntry statistics[StatisticsTableSize + 1] = {};
    ModelSettings settings;
    std::vector<ZoneRecord> zones;
    std::vector<int> zoneRank = std::vector<int>(9, 0);
    std::vector<RowExtent> extents = std::vector<RowExtent>(3, RowExtent{1, 4});
    std::vector<LanduseType> landuse = std::vector<LanduseType>(3);
    std::vector<SoilType> soils;
    memory_handling memory;
    std::vector<double**> grids;

    SiltingUpFixture() {
        settings.NRows = 2;
        settings.NCols = 4;
        settings.FirstRow = 1;
        settings.LastRow = 2;
        settings.CellSize = 100;
        settings.NoData = -9999;
        zones.push_back(ZoneRecord{0, 0, 1, 0.08, 0});
        for (int z = 1; z <= 8; ++z) {
            zones.push_back(ZoneRecord{1, 1, static_cast<double>(z), 0.125, 1});
            zoneRank[static_cast<size_t>(z)] = z;
        }
        settings.Zones = zones.data();
        settings.ZoneCount = 8;
        settings.ZoneRank = zoneRank.data();
        settings.MaxZoneCode = 8;
        extents[0] = RowExtent{0, -1};
        settings.RowExtents = extents.data();
        settings.DefaultOutputDirectory = dir.path() + "/";
        const std::string lists =
            "  RootDist = 1; TReduWet = 0.95; HReduDry = 3.45;\n  JulDays = 15 300; LAI = 1 1; AltDep = 0 0; "
            "Albedo = 0.2 0.2; rsc = 50 50; Z0 = 0.1 0.1;\n  VCF = 1 1; RootDepth = 0.5 0.5; SR_ResidCovrg = 0 0;\n";
        landuse[1].ParseEntry(nullptr, "11 field method = VariableDayCount {\n" + lists + "  SoilTillage = 100 200;\n}\n",
                              "VariableDayCount");
        landuse[2].ParseEntry(nullptr, "21 meadow method = VariableDayCount {\n" + lists + "}\n", "VariableDayCount");
        settings.LanduseTable = landuse.data();
        settings.LanduseCount = 2;
        soils.emplace_back();
        soils.emplace_back();
        const double su[9] = {0, 65, 12.2, 0.52, -0.64, 0.013, -1.03, 0.7, -0.19};
        for (int k = 1; k <= 8; ++k) soils[1].SU_PAR[k] = su[k];
        settings.SoilTable = soils.data();
        settings.SoilCount = 1;

        double** zone = Add("zone_grid", 0);
        for (int r = 1; r <= 2; ++r)
            for (int c = 1; c <= 4; ++c) zone[r][c] = (r - 1) * 4 + c;
        Add("[elevation_model]", 500);
        Add("precipitation", 0);
        Add("landuse1", 1);
        Add("vegetation_coverage_degree1", 0);
        Add("soil_types", 1);
        Add("SurfStorSiltingUp", 0);
    }
    ~SiltingUpFixture() {
        for (double** grid : grids) memory.free_matrix(grid, 1, 2, 1, 4);
    }
    double** Add(const std::string& name, double value) {
        double** grid = memory.matrix(1, 2, 1, 4, 2);
        for (int r = 1; r <= 2; ++r)
            for (int c = 1; c <= 4; ++c) grid[r][c] = value;
        grids.push_back(grid);
        MemoryGrid& entry = table[FindFreeGridEntry(table.get())];
        entry.Data = grid;
        entry.InternalName = name;
        entry.EverUsed = true;
        return grid;
    }
    double** Grid(const std::string& name) {
        const int index = FindGridEntry(table.get(), name, true);
        return index > 0 ? table[index].Data : nullptr;
    }
    // The section from its method line on; `tail` follows the read code.
    static std::string Section(const std::string& methodLine, const std::string& pauses = "1 8\n0.1 0.1\n",
                               const std::string& tail = "") {
        return "[SiltingUpModel]\n1 switch\n60 interval\n" + methodLine +
               "sdisp.sta 0\nqdsu.sta 0\ncv.asc\n0\nrp.asc\n0\nke.asc\n0\ntst.asc\n0\nqdsu.asc\n0\n" + pauses +
               "0 read code\n" + tail;
    }
    std::unique_ptr<siltingupclass> Make(const std::string& section, int* status) {
        WriteFile(dir.file("model.ctl"), section);
        settings.CompiledControlFile = dir.file("model.ctl");
        *status = -1;
        return std::make_unique<siltingupclass>(status, &writer, statistics, StatisticsTableSize, "SiltingUpModel",
                                                settings, table.get());
    }
    std::unique_ptr<siltingupclass> Make(const std::string& section) {
        int status = -1;
        auto model = Make(section, &status);
        EXPECT_EQ(status, 0) << console.str();
        return model;
    }
};

// Method 3 restating the built-in laws with the parameters of the soil.
const std::string BuiltInExpressions =
    "SiltingUpExpressions\n{\n"
    "  Z = (O>0) * E * (100*L)^F * K^G * (O + (O<=0))^H;\n"
    "  W = (P>0.05) * ((P<76.2) * (11.89 + 8.73*log10(P + (P<=0.05))) + (P>=76.2)*28.33);\n"
    "  Y = B * K^C * (100*L)^D;\n"
    "  V = (exp(-Z*Q) * (A - Y) + Y) * R / 60;\n}\n";

TEST(SiltingUpSection, Cases) {
    struct Case {
        const char* what;
        std::string section;
        int status;
        const char* message;  // part of the FATAL entry
        int method;
        std::vector<double> pauses;  // per rank 1..8
    };
    const std::string help = "\npossible error by using the same parameters\nfor groups of subbasins:";
    const Case cases[] = {
        {"no method line", SiltingUpFixture::Section(""), 0, "", 1, {0.1, 0.1, 0.1, 0.1, 0.1, 0.1, 0.1, 0.1}},
        {"method 1", SiltingUpFixture::Section("1 method\n", "1 8\n0.5 2\n"), 0, "", 1,
         {0.5, 0.5, 0.5, 0.5, 0.5, 0.5, 0.5, 2}},
        {"3 5 8", SiltingUpFixture::Section("1\n", "3 5 8\n1 2 3\n"), 0, "", 1, {1, 1, 1, 1, 2, 2, 2, 3}},
        {"2 8", SiltingUpFixture::Section("1\n", "2\t8\n1\n2\n"), 0, "", 1, {0, 1, 1, 1, 1, 1, 1, 2}},
        {"method 2", SiltingUpFixture::Section("2\n", "1 8\n1 1\n", "1\n2\n3\n4\n5\n6\n7\n8\n"), 0, "", 2,
         {1, 1, 1, 1, 1, 1, 1, 1}},
        {"method 2, seven parameters", SiltingUpFixture::Section("2\n", "1 8\n1 1\n", "1\n2\n3\n4\n5\n6\n7\n"), 17,
         "parameter H for method 2 (C_v) ", 0, {}},
        {"a list short of the largest code", SiltingUpFixture::Section("1\n", "1 5\n0.1 0.2\n"), 10,
         "error! there is no code 0 (from ", 0, {}},
        {"an unreadable code", SiltingUpFixture::Section("1\n", "1 x\n"), 10, "error reading code[1] for SiltingUpModel",
         0, {}},
        {"a code without subbasin", SiltingUpFixture::Section("1\n", "1 9\n"), 10, "error! there is no code 9 (from ",
         0, {}},
        {"a missing pause", SiltingUpFixture::Section("1\n", "1 8\n0.1 x\n"), 10,
         "error reading RainPause[8] for SiltingUpModel (minimum rainpause)\npossible error", 0, {}},
        {"no statistics line", "[SiltingUpModel]\n1\n60\n1\n", 17,
         "name of the statistics for silting disposition SDISP ", 0, {}},
        {"method 3, blank line before the keyword", SiltingUpFixture::Section("3\n", "1 8\n1 1\n", "\n" + BuiltInExpressions),
         402, "no SiltingUpExpressios found (at least X, Y and Z must be initialized) in control file \"", 0, {}},
        {"method 3, keyword not in column 1", SiltingUpFixture::Section("3\n", "1 8\n1 1\n", " " + BuiltInExpressions),
         402, "no SiltingUpExpressios found", 0, {}},
        {"method 3, no {", SiltingUpFixture::Section("3\n", "1 8\n1 1\n", "SiltingUpExpressions Z=1;\n"), 400,
         "error looking for opening bracket \"{\" after \"SiltingUpExpressions\" in control file \"", 0, {}},
        {"method 3, no }", SiltingUpFixture::Section("3\n", "1 8\n1 1\n", "SiltingUpExpressions {\nZ=1;\nV=2;\n"), 401,
         "error looking for closing bracket \"}\" after \"SiltingUpExpressions\" in control file \"", 0, {}},
        {"method 3", SiltingUpFixture::Section("3\n", "1 8\n1 1\n", BuiltInExpressions), 0, "", 3,
         {1, 1, 1, 1, 1, 1, 1, 1}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        SiltingUpFixture f;
        int status = -1;
        auto model = f.Make(c.section, &status);
        EXPECT_EQ(status, c.status) << f.console.str();
        if (c.status != 0) {
            EXPECT_NE(f.console.str().find(c.message), std::string::npos) << f.console.str();
            if (c.status == 10) {
                EXPECT_NE(f.console.str().find(help), std::string::npos);
            }
            // nothing is left in the grid table
            EXPECT_EQ(FindGridEntry(f.table.get(), "KineticEnergy", false), 0);
            continue;
        }
        EXPECT_EQ(model->ComputationMethod, c.method);
        for (int r = 1; r <= 8; ++r) EXPECT_EQ(model->MinimumRainPause[static_cast<size_t>(r)], c.pauses[r - 1]) << r;
        if (c.method == 2) {
            EXPECT_EQ(model->Parameters.A, 1);
            EXPECT_EQ(model->Parameters.H, 8);
        } else {
            EXPECT_EQ(model->Parameters.A, 65);
            EXPECT_EQ(model->Parameters.H, -0.19);
        }
        // the five grids in consecutive free entries
        const int first = FindGridEntry(f.table.get(), "SiltingUpDisposition", true);
        const char* names[] = {"RainPause", "KineticEnergy", "TimeSinceLastSoilTillage", "DirectRunoffSiltingUp"};
        for (int k = 0; k < 4; ++k) EXPECT_EQ(FindGridEntry(f.table.get(), names[k], true), first + 1 + k);
        EXPECT_EQ(f.Grid("KineticEnergy")[1][1], 0.0);
        model->DeleteModule();
        EXPECT_EQ(FindGridEntry(f.table.get(), "KineticEnergy", false), 0);
    }
}

TEST(SiltingUpSection, ExpressionsAreSplitAndStrippedOfBlanks) {
    SiltingUpFixture f;
    auto model = f.Make(SiltingUpFixture::Section(
        "3\n", "1 8\n1 1\n",
        "SiltingUpExpressions\n\n  {  Z = K * 2 ;W=\n 3;;\tDEV = 1;\nV = X * 2; ignored }\n"));
    const std::vector<std::string> expected{"Z=K*2", "W=3", "", "DEV=1", "V=X*2"};
    EXPECT_EQ(model->Expressions, expected);
}

TEST(SiltingUpSection, GlacierGridsAndReadCode) {
    {
        SiltingUpFixture f;
        f.Add("GlacierizedCells", 0);
        int status = -1;
        f.Make(SiltingUpFixture::Section("1\n"), &status);
        EXPECT_EQ(status, 2);
        EXPECT_NE(f.console.str().find("error: Silting-Up module cannot be used when glacier model is active."),
                  std::string::npos);
    }
    {
        // Read code 1 needs the four state grids as files.
        SiltingUpFixture f;
        std::string section = SiltingUpFixture::Section("1\n");
        section.replace(section.find("0 read code"), 1, "1");
        int status = -1;
        f.Make(section, &status);
        EXPECT_NE(status, 0);
        EXPECT_NE(f.console.str().find("cv.asc"), std::string::npos);
    }
}

// ----------------------------------------------------------- the step

// Hourly steps on 10 April 2021 (day 100, a tillage day of land use 1).
TEST(SiltingUpStep, HandValuesOnTheTillageDay) {
    SiltingUpFixture f;
    double** landuse = f.Grid("landuse1");
    landuse[1][4] = 2;  // no tillage dates
    double** rain = f.Grid("precipitation");
    rain[1][1] = 10;
    rain[1][2] = 80;
    rain[1][3] = 0.05;
    rain[1][4] = 80;
    rain[2][1] = 76.2;
    f.Grid("SurfStorSiltingUp")[1][4] = 3;  // discarded: no surface routing
    auto model = f.Make(SiltingUpFixture::Section("1\n"));
    model->RunTimeStep(10, 10, 4, 2021);
    double** cv = f.Grid("SiltingUpDisposition");
    double** ke = f.Grid("KineticEnergy");
    double** dr = f.Grid("DirectRunoffSiltingUp");
    double** tst = f.Grid("TimeSinceLastSoilTillage");
    double** rp = f.Grid("RainPause");
    EXPECT_NEAR(cv[1][1], 0.00227392, 1e-8);
    EXPECT_EQ(tst[1][1], 0.3);
    EXPECT_NEAR(ke[1][1], 206.2, 1e-9);
    EXPECT_EQ(dr[1][1], 0.0);
    EXPECT_EQ(rain[1][1], 10.0);
    EXPECT_NEAR(ke[1][2], 2266.4, 1e-9);
    EXPECT_NEAR(dr[1][2], 75.2778, 1e-4);
    EXPECT_NEAR(rain[1][2], 4.72217, 1e-5);
    EXPECT_EQ(ke[1][3], 0.0);  // 0.05 mm/h is no rain
    EXPECT_DOUBLE_EQ(rp[1][3], 1 / 24.0);
    EXPECT_EQ(rp[1][2], 0.0);
    EXPECT_NEAR(ke[2][1], 76.2 * 28.33, 1e-9);
    // no tillage dates: TST, KE, Cv and DR 0, all water infiltrates
    EXPECT_EQ(tst[1][4], 0.0);
    EXPECT_EQ(ke[1][4], 0.0);
    EXPECT_EQ(cv[1][4], 0.0);
    EXPECT_EQ(dr[1][4], 0.0);
    EXPECT_EQ(rain[1][4], 80.0);
    EXPECT_EQ(f.Grid("SurfStorSiltingUp")[1][4], 0.0);

    // Ten days later, and before the first tillage date of the year.
    model->RunTimeStep(10, 20, 4, 2021);
    EXPECT_NEAR(cv[1][1], 0.00116796, 1e-8);
    EXPECT_EQ(tst[1][1], 10.0);
    model->RunTimeStep(10, 19, 2, 2021);
    EXPECT_EQ(tst[1][1], 50 - (200 - 366));
    model->DeleteModule();
}

// A wet step, then dry hours: KE holds until the rain pause reaches the
// minimum of the subbasin (0.1 d), then drops to 0.
TEST(SiltingUpStep, DrySpellRestartsTheEnergy) {
    SiltingUpFixture f;
    double** rain = f.Grid("precipitation");
    auto model = f.Make(SiltingUpFixture::Section("1\n"));
    double** ke = f.Grid("KineticEnergy");
    const double wet[] = {10, 0, 0, 0, 10};
    const double expected[] = {206.2, 206.2, 206.2, 0, 206.2};
    for (int h = 0; h < 5; ++h) {
        for (int r = 1; r <= 2; ++r)
            for (int c = 1; c <= 4; ++c) rain[r][c] = wet[h];
        model->RunTimeStep(h + 1, 10, 4, 2021);
        EXPECT_NEAR(ke[2][3], expected[h], 1e-9) << "hour " << h + 1;
    }
    model->DeleteModule();
}

// Per cell and step: what reaches the surface (input water + surface storage)
// equals the infiltration left in the input water grid plus the direct runoff,
// and the surface storage is empty afterwards; with and without surface
// routing, for every method.
TEST(SiltingUpStep, WaterBalanceOfEveryCellAndStep) {
    struct Variant {
        const char* what;
        std::string method, tail;
        bool surfaceRouting;
    };
    const Variant variants[] = {
        {"method 1", "1\n", "", false},
        {"method 1, surface routing", "1\n", "", true},
        {"method 2", "2\n", "65\n12.2\n0.52\n-0.64\n0.013\n-1.03\n0.7\n-0.19\n", true},
        {"method 3", "3\n", BuiltInExpressions, true},
        {"method 3, V below 0", "3\n", "SiltingUpExpressions {Z=1; W=2; V=-5;}\n", true},
    };
    for (const Variant& v : variants) {
        SCOPED_TRACE(v.what);
        SiltingUpFixture f;
        if (v.surfaceRouting) f.Add("SurfaceRoutingWeights", 1);
        f.Grid("landuse1")[2][2] = 2;
        double** rain = f.Grid("precipitation");
        double** storage = f.Grid("SurfStorSiltingUp");
        auto model = f.Make(SiltingUpFixture::Section(v.method, "1 8\n0.1 0.1\n", v.tail));
        double** dr = f.Grid("DirectRunoffSiltingUp");
        WaterBalance wb(2, 4);
        double largest = 0;
        for (int step = 0; step < 48; ++step) {
            for (int r = 1; r <= 2; ++r)
                for (int c = 1; c <= 4; ++c) {
                    rain[r][c] = std::fmod(step * 7.3 + r * 3.1 + c * 11.7, 23.0) * (step % 5 == 3 ? 0 : 1);
                    storage[r][c] = std::fmod(step * 1.9 + c, 4.0);
                }
            wb.BeginStep();
            wb.In(rain);
            if (v.surfaceRouting) wb.In(storage);  // without surface routing it is discarded unused
            model->RunTimeStep(step % 24, 10 + step / 24, 4, 2021);
            wb.Out(rain);
            wb.Out(dr);
            wb.EndStorage(storage);
            EXPECT_EQ(wb.Check(1e-12), "");
            for (int r = 1; r <= 2; ++r)
                for (int c = 1; c <= 4; ++c) {
                    EXPECT_GE(rain[r][c], 0.0);
                    EXPECT_GE(dr[r][c], 0.0);
                    EXPECT_EQ(storage[r][c], 0.0);
                }
            largest = std::max(largest, wb.LargestResidual());
        }
        EXPECT_EQ(dr[2][2], 0.0);  // untilled
        std::printf("[ balance ] %s: largest residual %.3g mm\n", v.what, largest);
        model->DeleteModule();
    }
}

// The same rain over several days through method 2 with the defaults and
// through method 3 with the built-in laws written out.
TEST(SiltingUpStep, ExpressionsRestatingTheBuiltInLawsMatchMethod2) {
    struct Run {
        std::vector<double> values;  // the five grids and the input water after every step
    };
    auto run = [](const std::string& method, const std::string& tail) {
        SiltingUpFixture f;
        f.Grid("landuse1")[2][2] = 2;
        f.Grid("vegetation_coverage_degree1")[1][3] = 0.4;
        double** rain = f.Grid("precipitation");
        auto model = f.Make(SiltingUpFixture::Section(method, "1 8\n0.1 0.1\n", tail));
        Run result;
        const char* names[] = {"SiltingUpDisposition", "RainPause", "KineticEnergy", "TimeSinceLastSoilTillage",
                               "DirectRunoffSiltingUp", "precipitation"};
        for (int step = 0; step < 72; ++step) {
            for (int r = 1; r <= 2; ++r)
                for (int c = 1; c <= 4; ++c) rain[r][c] = step % 7 < 3 ? std::fmod(step * 13.1 + c * 29.0 + r, 90.0) : 0;
            model->RunTimeStep(step % 24, 8 + step / 24, 4, 2021);
            for (const char* name : names) {
                double** g = f.Grid(name);
                for (int r = 1; r <= 2; ++r)
                    for (int c = 1; c <= 4; ++c) result.values.push_back(g[r][c]);
            }
        }
        model->DeleteModule();
        return result;
    };
    const Run two = run("2\n", "65\n12.2\n0.52\n-0.64\n0.013\n-1.03\n0.7\n-0.19\n");
    const Run three = run("3\n", BuiltInExpressions);
    ASSERT_EQ(two.values.size(), three.values.size());
    double runoff = 0;
    for (size_t k = 0; k < two.values.size(); ++k) {
        EXPECT_NEAR(three.values[k], two.values[k], 1e-12 * std::max(1.0, std::fabs(two.values[k]))) << k;
        if ((k / 8) % 6 == 4) runoff += two.values[k];
    }
    EXPECT_GT(runoff, 0.0);  // the comparison covers steps with direct runoff
}

// A failing expression ends the step with 403 and names the lowest failing
// cell's expression and the parser's text, on any number of threads.
TEST(SiltingUpStep, ExpressionErrorsEndTheRun) {
    setenv("RUVEX_PARALLEL_MIN_CELLS", "1", 1);
    struct Case {
        const char* what;
        std::string block;
        const char* message;
    };
    const Case cases[] = {
        {"unknown variable", "SiltingUpExpressions {Z=1; W=2; V=abc*2;}\n",
         "expression V=abc*2 could not be parsed correctly. Parser message: Error: Unknown variable abc (col 3)"},
        {"empty expression", "SiltingUpExpressions {Z=1;; V=2;}\n",
         "expression  could not be parsed correctly. Parser message: Error: Empty expression"},
        {"a failure in the second row only", "SiltingUpExpressions {Z=1; W=2; V=1%(P<5);}\n",
         "expression V=1%(P<5) could not be parsed correctly. Parser message: Error: Unknown error"},
        {"factorial of a negative number", "SiltingUpExpressions {Z=1; W=2; V=(P-5)!;}\n",
         "expression V=(P-5)! could not be parsed correctly. Parser message: Error: Integer value expected in "
         "function factorial (col -1)"},
        // Results that are no finite number, in the first row (P = 1).
        {"log of a negative number", "SiltingUpExpressions {Z=1; W=2; V=log(P-5);}\n",
         "expression V=log(P-5) gives nan in the cell of row 1, column 1; the expressions must give finite numbers"},
        {"171!", "SiltingUpExpressions {Z=factorial(170+P); W=2; V=1;}\n",
         "expression Z=factorial(170+P) gives inf in the cell of row 1, column 1"},
        {"a quotient of 0", "SiltingUpExpressions {Z=1; W=2; V=(P-1)/(P-1);}\n",
         "expression V=(P-1)/(P-1) gives nan in the cell of row 1, column 1"},
        {"an intermediate variable", "SiltingUpExpressions {Z=1; W=2; X=sqrt(0-P); V=1;}\n",
         "expression X=sqrt(0-P) gives nan in the cell of row 1, column 1"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::string entries[2];
        for (int t = 0; t < 2; ++t) {
            SiltingUpFixture f;
            double** rain = f.Grid("precipitation");
            for (int r = 1; r <= 2; ++r)
                for (int col = 1; col <= 4; ++col) rain[r][col] = r == 2 ? 10 : 1;
            auto model = f.Make(SiltingUpFixture::Section("3\n", "1 8\n1 1\n", c.block));
            const int saved = omp_get_max_threads();
            omp_set_num_threads(t == 0 ? 1 : 8);
            int code = 0;
            try {
                model->RunTimeStep(1, 10, 4, 2021);
            } catch (int thrown) {
                code = thrown;
            }
            omp_set_num_threads(saved);
            EXPECT_EQ(code, 403);
            const std::string text = f.console.str();
            const size_t at = text.find("\n-----------------error------------\nin instance SiltingUpModel\n");
            ASSERT_NE(at, std::string::npos) << text;
            entries[t] = text.substr(at);
            EXPECT_NE(entries[t].find(c.message), std::string::npos) << entries[t];
            model->DeleteModule();
        }
        EXPECT_EQ(entries[0], entries[1]);
    }
}

// Only an assignment to V starts the expressions that follow the energy
// update: DEV=3 and V==3 do not.
TEST(SiltingUpSection, OnlyAnAssignmentToVStartsTheSecondBatch) {
    for (const auto& [text, assigns] : std::vector<std::pair<const char*, bool>>{
             {"V=3", true}, {"v=X*2", true}, {"V=-1", true}, {" V = 3", true}, {"DEV=3", false}, {"V==3", false},
             {"V=>3", false}, {"VV=3", false}, {"X=V", false}, {"V", false}, {"", false}}) {
        EXPECT_EQ(AssignsV(text), assigns) << text;
    }
    SiltingUpFixture f;
    auto model = f.Make(SiltingUpFixture::Section("3\n", "1 8\n1 1\n", "SiltingUpExpressions {Z=1; DEV=3; W=2; V=5;}\n"));
    EXPECT_EQ(model->SecondBatch, 3u);
    model->DeleteModule();
}

// Every grid and statistics file is the same, bit for bit, on 1 and 8 threads.
TEST(SiltingUpStep, OneThreadEqualsEight) {
    setenv("RUVEX_PARALLEL_MIN_CELLS", "1", 1);
    auto run = [](int threads, const std::string& method, const std::string& tail) {
        SiltingUpFixture f;
        f.Grid("landuse1")[2][2] = 2;
        double** rain = f.Grid("precipitation");
        std::string section = SiltingUpFixture::Section(method, "1 8\n0.1 0.1\n", tail);
        section.replace(section.find("sdisp.sta 0"), 11, "sdisp.sta 1001");
        section.replace(section.find("qdsu.sta 0"), 10, "qdsu.sta 1001");
        auto model = f.Make(section);
        const int saved = omp_get_max_threads();
        omp_set_num_threads(threads);
        std::string bytes;
        for (int step = 0; step < 30; ++step) {
            for (int r = 1; r <= 2; ++r)
                for (int c = 1; c <= 4; ++c) rain[r][c] = std::fmod(step * 5.7 + c * 3.3 + r, 30.0);
            model->RunTimeStep(step % 24, 10, 4, 2021);
            for (const char* name : {"SiltingUpDisposition", "RainPause", "KineticEnergy", "DirectRunoffSiltingUp",
                                     "precipitation"}) {
                double** g = f.Grid(name);
                for (int r = 1; r <= 2; ++r) bytes.append(reinterpret_cast<const char*>(g[r] + 1), 4 * sizeof(double));
            }
        }
        omp_set_num_threads(saved);
        model->FlushStatistics();
        model->DeleteModule();
        bytes += ReadFile(f.dir.file("sdisp.sta")) + ReadFile(f.dir.file("qdsu.sta"));
        return bytes;
    };
    for (const auto& [method, tail] : {std::pair<std::string, std::string>{"1\n", ""}, {"3\n", BuiltInExpressions}}) {
        const std::string one = run(1, method, tail);
        const std::string eight = run(8, method, tail);
        EXPECT_GT(one.size(), 30u * 40 * sizeof(double));
        EXPECT_TRUE(one == eight) << method;
    }
}

// Tracers: the input concentration comes from the first of the four linked
// grids, a radioactive tracer decays by this model's own factor, the load
// that leaves with the direct runoff is what the storage loses.
TEST(SiltingUpStep, TracersFollowTheWater) {
    {
        SiltingUpFixture f;
        auto model = f.Make(SiltingUpFixture::Section("1\n"));
        std::vector<TracerInfo> tracers(2);
        tracers[1].name = "cl_";
        int status = -1;
        model->InitTracers(&status, 1, tracers.data(), f.statistics, StatisticsTableSize);
        EXPECT_EQ(status, 33);  // none of the four input grids
        model->DeleteModule();
    }
    SiltingUpFixture f;
    f.Add("concflux_tracer_1_input", 7);
    f.Add("concflux_tracer_1_interception_model", 2);
    f.Add("concflux_tracer_2_snow_model", 3);
    double** rain = f.Grid("precipitation");
    rain[1][1] = 80;  // direct runoff
    rain[1][2] = 10;  // none
    auto model = f.Make(SiltingUpFixture::Section("1\n"));
    std::vector<TracerInfo> tracers(3);
    tracers[1].name = "rad";
    tracers[1].radioactive = 1;
    tracers[1].half_time = 1;
    tracers[1].max_conc = 1e9;
    tracers[2].name = "evp";
    tracers[2].evaporating = 1;
    tracers[2].max_conc = 1e9;
    int status = -1;
    model->InitTracers(&status, 2, tracers.data(), f.statistics, StatisticsTableSize);
    ASSERT_EQ(status, 0) << f.console.str();
    const double decay = std::exp(-(60.0 / 1440) / (1.442695041111 * 1));
    tracers[1].decay_factor = 0.5;  // a later set-up's factor must not count
    double** stored1 = f.Grid("concstor_tracer_1_SiltingUpModel");
    double** out1 = f.Grid("concflux_tracer_1_SiltingUpModel");
    double** stored2 = f.Grid("concstor_tracer_2_SiltingUpModel");
    double** out2 = f.Grid("concflux_tracer_2_SiltingUpModel");
    for (int c = 1; c <= 2; ++c) stored1[1][c] = stored2[1][c] = 1;
    model->RunTimeStep(10, 10, 4, 2021);
    const double dr = f.Grid("DirectRunoffSiltingUp")[1][1];
    ASSERT_GT(dr, 0);
    // tracer 1 carries a load: 1 decayed plus 80 mm at 2, split with the water
    const double load = decay + 80 * 2;
    EXPECT_NEAR(stored1[1][1] + out1[1][1] * dr, load, 1e-9);
    EXPECT_NEAR(out1[1][1] * dr, 80 * load / (dr + 80), 1e-9);
    EXPECT_NEAR(stored1[1][2], decay + 10 * 2, 1e-12);
    // tracer 2 evaporates: the storage takes the input's concentration and
    // the runoff carries it
    EXPECT_NEAR(stored2[1][1], 3, 1e-12);
    EXPECT_NEAR(out2[1][1], 3, 1e-12);
    model->ReleaseTracers();
    model->DeleteModule();
}

// In HRU mode a cell that is not a master shows its master's values.
TEST(SiltingUpStep, HydrologicResponseUnitsCopyTheMaster) {
    SiltingUpFixture f;
    double** units = f.Add("HydrologicResponseUnits", 0);
    double** masters = f.Add("MasterHydrologicResponseUnits", 0);
    for (int r = 1; r <= 2; ++r)
        for (int c = 1; c <= 4; ++c) units[r][c] = masters[r][c] = (r - 1) * 4 + c;
    units[2][3] = 1;  // belongs to the unit of cell (1, 1)
    masters[2][3] = -9999;
    double** rain = f.Grid("precipitation");
    rain[1][1] = 80;
    rain[2][3] = 5;
    auto model = f.Make(SiltingUpFixture::Section("1\n"));
    model->RunTimeStep(10, 10, 4, 2021);
    for (const char* name : {"SurfStorSiltingUp", "TimeSinceLastSoilTillage", "RainPause", "KineticEnergy",
                             "SiltingUpDisposition", "precipitation", "DirectRunoffSiltingUp"}) {
        EXPECT_EQ(f.Grid(name)[2][3], f.Grid(name)[1][1]) << name;
    }
    EXPECT_GT(f.Grid("DirectRunoffSiltingUp")[2][3], 0);
    model->DeleteModule();
}

// A land use whose days leave the year in two cells (by the altitude shift)
// ends the step with its code and one entry, the same on any thread count.
TEST(SiltingUpStep, LandUseFailureInTheLoopIsReportedOnce) {
    setenv("RUVEX_PARALLEL_MIN_CELLS", "1", 1);
    std::string entries[2];
    for (int t = 0; t < 2; ++t) {
        SiltingUpFixture f;
        double** elevation = f.Grid("[elevation_model]");
        elevation[1][3] = 5e6;
        elevation[2][2] = 6e6;
        auto model = f.Make(SiltingUpFixture::Section("1\n"));
        f.landuse[1].ParseEntry(nullptr,
                                "11 field method = VariableDayCount {\n  RootDist = 1; TReduWet = 0.95; HReduDry = 3.45;"
                                " JulDays = 15 300; LAI = 1 1; AltDep = 1 1; Albedo = 0.2 0.2; rsc = 50 50; Z0 = 0.1 "
                                "0.1; VCF = 1 1; RootDepth = 0.5 0.5; SoilTillage = 100;\n}\n",
                                "VariableDayCount");
        const int saved = omp_get_max_threads();
        omp_set_num_threads(t == 0 ? 1 : 8);
        int code = 0;
        try {
            model->RunTimeStep(1, 10, 4, 2021);
        } catch (int thrown) {
            code = thrown;
        }
        omp_set_num_threads(saved);
        EXPECT_EQ(code, 152) << f.console.str();
        entries[t] = f.console.str().substr(f.console.str().find("\n---ERROR--"));
        model->DeleteModule();
    }
    EXPECT_EQ(entries[0], entries[1]);
    EXPECT_EQ(entries[0].find("---ERROR--", 5), std::string::npos) << entries[0];  // one entry
}

// A warm start from the four state grids written after ten steps continues
// the run bit for bit.
TEST(SiltingUpStep, WarmStartEqualsTheContinuousRun) {
    auto rainOf = [](int step, int r, int c) { return step % 4 == 3 ? 0.0 : std::fmod(step * 9.1 + c * 4.3 + r, 40.0); };
    const char* names[] = {"SiltingUpDisposition", "RainPause", "KineticEnergy", "TimeSinceLastSoilTillage",
                           "DirectRunoffSiltingUp", "precipitation"};
    SiltingUpFixture f;
    f.settings.InitialStateDirectory = f.dir.path() + "/";
    double** rain = f.Grid("precipitation");
    auto continuous = f.Make(SiltingUpFixture::Section("1\n", "1 8\n0.2 0.2\n"));
    std::string after;
    for (int step = 0; step < 20; ++step) {
        if (step == 10) {
            continuous->WriteGrid("cv.asc", f.Grid("SiltingUpDisposition"), true, true);
            continuous->WriteGrid("rp.asc", f.Grid("RainPause"), true, true);
            continuous->WriteGrid("ke.asc", f.Grid("KineticEnergy"), true, true);
            continuous->WriteGrid("tst.asc", f.Grid("TimeSinceLastSoilTillage"), true, true);
        }
        for (int r = 1; r <= 2; ++r)
            for (int c = 1; c <= 4; ++c) rain[r][c] = rainOf(step, r, c);
        continuous->RunTimeStep(step % 24, 10, 4, 2021);
        if (step < 10) continue;
        for (const char* name : names)
            for (int r = 1; r <= 2; ++r) after.append(reinterpret_cast<const char*>(f.Grid(name)[r] + 1), 32);
    }
    continuous->DeleteModule();

    SiltingUpFixture g;
    g.settings.InitialStateDirectory = f.dir.path() + "/";
    std::string section = SiltingUpFixture::Section("1\n", "1 8\n0.2 0.2\n");
    section.replace(section.find("0 read code"), 1, "1");
    auto warm = g.Make(section);
    EXPECT_EQ(g.Grid("DirectRunoffSiltingUp")[1][1], 0.0);  // never read
    EXPECT_GT(g.Grid("KineticEnergy")[1][1], 0.0);
    double** rain2 = g.Grid("precipitation");
    std::string resumed;
    for (int step = 10; step < 20; ++step) {
        for (int r = 1; r <= 2; ++r)
            for (int c = 1; c <= 4; ++c) rain2[r][c] = rainOf(step, r, c);
        warm->RunTimeStep(step % 24, 10, 4, 2021);
        for (const char* name : names)
            for (int r = 1; r <= 2; ++r) resumed.append(reinterpret_cast<const char*>(g.Grid(name)[r] + 1), 32);
    }
    warm->DeleteModule();
    EXPECT_TRUE(after == resumed);
}

}  // namespace
