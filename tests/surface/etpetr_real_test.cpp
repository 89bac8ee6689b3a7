// Evapotranspiration around the water balance: the lake settings and open
// water, snow evaporation from the snow packs, the total real
// evapotranspiration, and the copies of hydrologic response units.

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <memory>
#include <sstream>

#include "framework/diagnostics_writer.h"
#include "framework/gridtable.h"
#include "framework/statistics_table.h"
#include "support/test_support.h"
#include "support/water_balance.h"
#include "surface/etpetr.h"
#include "surface/etpetr_physics.h"
#include "surface/etpetr_real_physics.h"

using namespace testsupport;

namespace {

// The evapotranspiration section after the switch and the interval; Hamon
// unless the method is replaced, statistics as given.
std::string Section(const std::string& method, const std::string& etrStatistics = "etr.sta 0",
                    const std::string& etpStatistics = "etp.sta 0") {
    return method + " method\n1 2 3 4 5 6 7 8 9 10 11 12\n0.1 0.2 0.3 0.4 0.5 0.6 0.7 0.8 0.9 1.0 1.1 1.2\n1.5 fk\n"
           "etp.grd\n0\n" + etpStatistics + "\netr.grd\n0\n" + etrStatistics + "\nevap.grd\n0\nevap.sta 0\n"
           "evar.grd\n0\nevar.sta 0\nsnev.grd\n0\nsnev.sta 0\neip.grd\n0\neip.sta 0\nrgex.sta 0\n"
           "0.25 0.25 0.25 0.25 a0..a3\n0.1 -0.5 0 0 CS\n0.7 0.1 T0 T1\n1000 H\n4 4 4 4 4 4 4 4 4 4 4 4\n"
           "0.5 0 f v\ncloud.sta 0\n";
}

// A 3 x 4 grid, zones 7 (columns 1, 2) and 9 (columns 3, 4); cell (3, 4)
// lies outside the basin.
struct Fixture {
    TempDir dir;
    std::ostringstream console;
    DiagnosticsWriter writer{dir.file("d.xml"), DiagDebug, console};
    std::unique_ptr<MemoryGrid[]> table = CreateGridTable();
    StatisticsTableEntry statistics[StatisticsTableSize + 1] = {};
    ModelSettings settings;
    std::vector<ZoneRecord> zones{ZoneRecord{0, 0, 0, 0.11, 0}, ZoneRecord{6, 6, 7, 0.5, 6},
                                  ZoneRecord{5, 5, 9, 0.5, 5}};
    std::vector<int> zoneRank = std::vector<int>(10, 0);
    memory_handling memory;
    std::vector<double**> grids;

    Fixture() {
        settings.NRows = 3;
        settings.NCols = 4;
        settings.FirstRow = 1;
        settings.LastRow = 3;
        settings.CellSize = 100;
        settings.NoData = -9999;
        settings.Zones = zones.data();
        settings.ZoneCount = 2;
        settings.ZoneRank = zoneRank.data();
        settings.MaxZoneCode = 9;
        settings.Latitude = 47.5;
        settings.Longitude = 8.25;
        settings.ReferenceMeridian = 15;
        settings.DefaultOutputDirectory = dir.path() + "/";
        zoneRank[7] = 1;
        zoneRank[9] = 2;
        double** zone = Add("zone_grid", 7);
        for (int r = 1; r <= 3; ++r)
            for (int c = 3; c <= 4; ++c) zone[r][c] = 9;
        zone[3][4] = -9999;
        Add("[elevation_model]", 500);
        Add("temperature", 10);
    }
    ~Fixture() {
        for (double** grid : grids) memory.free_matrix(grid, 1, 3, 1, 4);
    }
    double** Add(const std::string& name, double value) {
        double** grid = memory.matrix(1, 3, 1, 4, 3);
        for (int r = 1; r <= 3; ++r)
            for (int c = 1; c <= 4; ++c) grid[r][c] = r == 3 && c == 4 ? -9999 : value;
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
    void Fill(double** grid, double value) {
        for (int r = 1; r <= 3; ++r)
            for (int c = 1; c <= 4; ++c)
                if (!(r == 3 && c == 4)) grid[r][c] = value;
    }
    // The control file holds the evapotranspiration section and `more`.
    std::unique_ptr<verdunstungsmodellklasse> Make(const std::string& section, int interval = 1440,
                                                   const std::string& more = "", int on = 1) {
        WriteFile(dir.file("model.ctl"), "[evapotranspiration]\n" + std::to_string(on) + " switch\n" +
                                             std::to_string(interval) + " interval\n" + section + more);
        settings.CompiledControlFile = dir.file("model.ctl");
        int status = -1;
        auto model = std::make_unique<verdunstungsmodellklasse>(&status, &writer, statistics, StatisticsTableSize,
                                                                "evapotranspiration", settings, table.get());
        EXPECT_EQ(status, 0);
        return model;
    }
    std::string Diagnostics() const { return console.str(); }
};

int ThrownCode(const std::function<void()>& f) {
    try {
        f();
    } catch (int code) {
        return code;
    }
    return 0;
}

TEST(Lakes, SettingsTable) {
    struct Case {
        const char* what;
        bool lakeCodes;
        const char* pondingName;  // null: no ponding grid
        bool hru;
        int switchOn;
        const char* section;  // null: no "[lake_model]" section
        int code;
        const char* text;
        int lakeSwitch;
        bool grids;
    };
    const Case cases[] = {
        {"no lake grid", false, "ponding_storage", false, 1, nullptr, 0,
         "no LAKE-grid was found in evapotranspiration\nLake modelling is switched off for "
         "evapotranspiration.\n",
         0, false},
        {"flow control 0 reads line 1 only", true, "ponding_storage", false, 1, "0\nnot a number\n", 0, "", 0, false},
        {"initialization method 3", true, "ponding_storage", false, 1, "1\n3\n0.08\n0.001\n", 211,
         "Error in initialization method for [lake_model].", 1, true},
        {"no ponding grid", true, nullptr, false, 1, "1\n1\n0.08\n0.001\n", 28,
         "LAKE-grid was found, but no POND-Grid", 1, false},
        {"only the top ponding grid", true, "ponding_storage_top", false, 1, "1\n2\n0.08\n0.001\n", 0, "", 1, true},
        {"response units: lakes off, lines 2 to 4 not read", true, "ponding_storage", true, 1, "1\nx\n", 0, "", 0,
         false},
        {"evapotranspiration off still reads the settings", true, "ponding_storage", false, 0, "1\n1\n0.08\n0.001\n",
         0, "", 1, true},
        {"evapotranspiration off with response units", true, "ponding_storage", true, 0, "1\nx\n", 0, "", 0, false},
        {"section missing", true, "ponding_storage", false, 1, nullptr, 17, "[lake_model]", 0, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Fixture f;
        if (c.lakeCodes) f.Add("lake_codes", 1);
        if (c.pondingName) f.Add(c.pondingName, 2);
        if (c.hru) {
            f.Add("HydrologicResponseUnits", 1);
            double** master = f.Add("MasterHydrologicResponseUnits", -9999);
            master[1][1] = 1;
        }
        auto model = f.Make(Section("2"), 1440, c.section ? std::string("[lake_model]\n") + c.section : "", c.switchOn);
        EXPECT_EQ(ThrownCode([&] { model->InitLakes("[lake_model]"); }), c.code);
        EXPECT_NE(f.Diagnostics().find(c.text), std::string::npos) << f.Diagnostics();
        EXPECT_EQ(model->LakeSwitch, c.lakeSwitch);
        EXPECT_EQ(model->Ponding != nullptr, c.grids);
        if (c.pondingName && c.grids) {
            EXPECT_EQ(model->Ponding, f.Grid(c.pondingName));
        }
        if (c.grids && c.code == 0) {
            EXPECT_DOUBLE_EQ(model->OpenWaterAlbedo, 0.08);
            EXPECT_DOUBLE_EQ(model->OpenWaterRoughness, 0.001);
        }
    }
}

// Penman-Monteith with one layer at noon: a lake cell with ponding water
// evaporates as open water; with its ponding storage empty it is land.
TEST(Lakes, OpenWaterInPenmanMonteith) {
    Fixture f;
    f.Add("air_humidity", 0.6);
    f.Add("wind_speed", 2);
    f.Add("global_radiation", 600);
    f.Add("albedo", 0.2);
    f.Add("leaf_area_index1", 3);
    f.Add("root_depth1", 0.5);
    f.Add("vegetation_coverage_degree1", 0.8);
    f.Add("SurfaceCanopyResistance1", 70);
    f.Add("SurfaceIntercepResistance1", 40);
    f.Add("RoughnessLength1", 0.1);
    f.Add("SurfaceEvaporationResistance", 200);
    f.Fill(f.Grid("temperature"), 20);
    double** lakes = f.Add("lake_codes", 0);
    double** ponding = f.Add("ponding_storage", 0);
    lakes[2][2] = lakes[2][3] = 4;
    ponding[2][2] = 5;
    auto model = f.Make(Section("1"), 60, "[lake_model]\n1\n1\n0.08\n0.001\n");
    model->InitLakes("[lake_model]");
    model->PotentialEvapotranspiration(12, 21, 6, 2020);

    double** transpiration = f.Grid("pot_transpiration1");
    double** interception = f.Grid("potential_InterceptionEvap1");
    double** soil = f.Grid("potential_evaporation");
    EXPECT_EQ(interception[2][2], 0);
    EXPECT_EQ(soil[2][2], 0);
    // the same kernel with the open-water values
    const double beta = model->SunlitFraction;
    ASSERT_GT(beta, 0.99);
    etpetr::PenmanMonteithLayer in;
    in.openWater = true;
    in.intervalMinutes = 60;
    in.sigmaDt = 5.67e-8;
    in.airPressure = etpetr::AirPressureFromElevation(500, 20);
    in.windSpeed = 2;
    in.roughnessLength = 0.001;
    in.shortwave = (1 - 0.08) * f.Grid("AspectCorrectedGlobalRadiation")[2][2];
    in.sunshine = f.Grid("SSDTemp")[2][2];
    in.a0 = 0.25;
    in.dayPart = true;
    in.temperature = 20;
    in.partFraction = beta;
    in.saturationPressure = etpetr::SaturationVapourPressure(20);
    in.vapourPressure = 0.6 * in.saturationPressure;
    double top = 0, left = 0;
    const double expected = etpetr::PenmanMonteith(in, top, left).transpiration;
    EXPECT_GT(expected, 0);
    EXPECT_NEAR(transpiration[2][2], expected, 1e-12);
    // an empty lake is land, the same as a cell without a lake code
    EXPECT_GT(interception[2][3], 0);
    EXPECT_GT(soil[2][3], 0);
    EXPECT_EQ(transpiration[2][3], transpiration[2][1]);
    EXPECT_EQ(soil[2][3], soil[2][1]);
}

// Snow evaporation: the ice-free pack lowers the potentials, the glacier pack
// sees the same full potentials; each pack loses what it evaporates.
TEST(SnowEvaporation, PacksAndPotentials) {
    struct Case {
        const char* what;
        int snowMethod;
        double glacier;  // fraction; negative: no glacier snow grids
        double storage, glacierStorage;
        double snow, transpiration, evaporation, storageAfter;
        double glacierSnow, glacierStorageAfter;
    };
    const Case cases[] = {
        {"3 mm of snow", 1, -1, 3, 0, 3, 0, 3, 0, 0, 0},
        {"10 mm of snow", 1, -1, 10, 0, 6, 0, 0, 4, 0, 0},
        {"method 5", 5, -1, 3, 0, 0, 0, 0, 3, 0, 0},
        {"method 6", 6, -1, 3, 0, 0, 0, 0, 3, 0, 0},
        {"method 7", 7, -1, 3, 0, 0, 0, 0, 3, 0, 0},
        {"method 11", 11, -1, 3, 0, 0, 0, 0, 3, 0, 0},
        {"half glacier", 1, 0.5, 3, 10, 3, 0, 3, 0, 6, 4},
        {"whole glacier", 1, 1, 3, 10, 0, 2, 4, 3, 6, 4},
        {"no snow", 1, 0.5, 0, 0, 0, 2, 4, 0, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Fixture f;
        double** glacierFraction = c.glacier >= 0 ? f.Add("GlacierizedCells", c.glacier) : nullptr;
        double** glacierSnow = nullptr;
        double** glacierStorage = nullptr;
        if (glacierFraction) {
            glacierSnow = f.Add("SnowEvaporation_onGlacier", 0);
            f.Add("TotalSnowStorage_onGlacier", c.glacierStorage);
            glacierStorage = f.Add("SolidSnowStorage_onGlacier", c.glacierStorage);
        }
        double** storage = f.Add("snowstorage_solid", c.storage);
        auto model = f.Make(Section("2"));
        model->SetSnowStorageGrid(storage);
        model->SetSnowMethod(c.snowMethod);
        f.Fill(f.Grid("pot_transpiration1"), 2);
        f.Fill(f.Grid("potential_evaporation"), 4);
        WaterBalance pack(3, 4), glacierPack(3, 4);
        pack.Mask(f.Grid("zone_grid"));
        glacierPack.Mask(f.Grid("zone_grid"));
        pack.BeginStep();
        pack.Storage(storage);
        glacierPack.BeginStep();
        if (glacierStorage) glacierPack.Storage(glacierStorage);
        model->SnowEvaporation(24, 3, 2, 2020);
        pack.Out(f.Grid("snow_evaporation"));
        pack.EndStorage(storage);
        EXPECT_EQ(pack.Check(1e-12), "");
        if (glacierStorage) {
            glacierPack.Out(glacierSnow);
            glacierPack.EndStorage(glacierStorage);
            EXPECT_EQ(glacierPack.Check(1e-12), "");
        }
        EXPECT_NEAR(f.Grid("snow_evaporation")[2][2], c.snow, 1e-12);
        EXPECT_NEAR(f.Grid("pot_transpiration1")[2][2], c.transpiration, 1e-12);
        EXPECT_NEAR(f.Grid("potential_evaporation")[2][2], c.evaporation, 1e-12);
        EXPECT_NEAR(storage[2][2], c.storageAfter, 1e-12);
        if (glacierStorage) {
            EXPECT_NEAR(glacierSnow[2][2], c.glacierSnow, 1e-12);
            EXPECT_NEAR(glacierStorage[2][2], c.glacierStorageAfter, 1e-12);
        }
    }
    // without a snow storage grid nothing happens
    Fixture f;
    auto model = f.Make(Section("2"));
    f.Fill(f.Grid("pot_transpiration1"), 2);
    model->SnowEvaporation(24, 3, 2, 2020);
    EXPECT_EQ(f.Grid("pot_transpiration1")[2][2], 2);
    EXPECT_EQ(f.Grid("snow_evaporation")[2][2], 0);
}

// The last value of the last row of a statistics file (the zone columns
// first, the total last) and the column of a zone.
std::vector<std::string> LastRow(const std::string& text) {
    std::istringstream in(text);
    std::string line, last;
    while (std::getline(in, line))
        if (!line.empty()) last = line;
    std::vector<std::string> fields;
    std::istringstream row(last);
    std::string field;
    while (row >> field) fields.push_back(field);
    return fields;
}

TEST(RealEvapotranspiration, Totals) {
    EXPECT_DOUBLE_EQ(etpetr::RealEvapotranspirationTotal(true, 0.3, 0.2, 0.1, 0.4, 7), 1.0);
    EXPECT_DOUBLE_EQ(etpetr::RealEvapotranspirationTotal(false, 0.3, 0.2, 0.1, 0.4, 0.5), 0.7);
    EXPECT_DOUBLE_EQ(etpetr::GlacierWeightedTotal(1.0, 0.25, 0.8), 0.95);

    for (bool interception : {true, false}) {
        SCOPED_TRACE(interception);
        Fixture f;
        f.Add("GlacierizedCells", 0.25);
        if (interception) f.Add("interception_evaporation0", 0.3);
        // statistics of every zone and the total, means per step
        double** glacierSnow = f.Add("SnowEvaporation_onGlacier", 0);
        f.Add("TotalSnowStorage_onGlacier", 0);
        f.Add("SolidSnowStorage_onGlacier", 0);
        double** storage = f.Add("snowstorage_solid", 0);
        auto model = f.Make(Section("2", "etr.sta 2001"));
        model->SetSnowStorageGrid(storage);
        model->SnowEvaporation(24, 3, 2, 2020);  // finds the glacier snow grids
        f.Fill(glacierSnow, 0.8);
        model->BeginRealEvapotranspiration(24, 3, 2, 2020);
        f.Fill(f.Grid("snow_evaporation"), 0.2);
        f.Fill(f.Grid("real_evaporation"), 0.1);
        f.Fill(f.Grid("real_transpiration1"), 0.4);
        f.Fill(f.Grid("real_transpiration0"), 0.5);
        model->SumRealEvapotranspiration(24, 3, 2, 2020);
        EXPECT_NEAR(f.Grid("real_transpiration0")[2][2], interception ? 1.0 : 0.7, 1e-12);
        model->FlushStatistics();
        model->DeleteModule();
        const auto total = LastRow(ReadFile(f.dir.file("etr.sta")));
        const auto layer = LastRow(ReadFile(f.dir.file("etr_Layer_1.sta")));
        ASSERT_GE(total.size(), 7u);
        // 0.75 of the total and 0.25 of the snow evaporation on the glacier
        EXPECT_EQ(total[4], interception ? "0.95000" : "0.72500");
        EXPECT_EQ(total[5], total[4]);
        // the layer: 0.4 on the ice-free three quarters, 0 on the glacier
        ASSERT_GE(layer.size(), 6u);
        EXPECT_EQ(layer[4], "0.30000");
    }
}

// Hydrologic response units: unit 1 the first two cells of row 1, unit 2 the
// rest, their master cells (1, 2) and (1, 3);
// after each step every other cell holds exactly its master's values, and the
// statistics count it.
TEST(ResponseUnits, CopiesOfTheMasterCells) {
    Fixture f;
    double** units = f.Add("HydrologicResponseUnits", 0);
    double** masters = f.Add("MasterHydrologicResponseUnits", -9999);
    for (int r = 1; r <= 3; ++r)
        for (int c = 1; c <= 4; ++c) units[r][c] = r == 1 && c <= 2 ? 1 : 2;
    masters[1][2] = 1;
    masters[1][3] = 2;
    double** temperature = f.Grid("temperature");
    for (int r = 1; r <= 3; ++r)
        for (int c = 1; c <= 4; ++c) temperature[r][c] = 5 + 3 * r + c;
    double** storage = f.Add("snowstorage_solid", 0);
    for (int r = 1; r <= 3; ++r)
        for (int c = 1; c <= 4; ++c) storage[r][c] = 50.0 * r * c;
    auto model = f.Make(Section("2", "etr.sta 0", "etp.sta 2001"));
    model->SetSnowStorageGrid(storage);
    model->SetSnowMethod(1);
    for (int day = 1; day <= 3; ++day) {
        model->PotentialEvapotranspiration(24, day, 5, 2020);
        model->SnowEvaporation(24, day, 5, 2020);
        for (int r = 1; r <= 3; ++r)
            for (int c = 1; c <= 4; ++c) {
                if (r == 3 && c == 4) continue;
                const int mc = r == 1 && c <= 2 ? 2 : 3;
                for (const char* name : {"pot_transpiration0", "pot_transpiration1", "potential_InterceptionEvap1",
                                         "potential_evaporation", "snow_evaporation", "snowstorage_solid"}) {
                    EXPECT_EQ(f.Grid(name)[r][c], f.Grid(name)[1][mc]) << name << " (" << r << "," << c << ")";
                }
            }
    }
    EXPECT_GT(f.Grid("snow_evaporation")[2][1], 0);
    EXPECT_NE(f.Grid("pot_transpiration0")[1][2], f.Grid("pot_transpiration0")[1][3]);
    const double first = f.Grid("pot_transpiration0")[1][2], second = f.Grid("pot_transpiration0")[1][3];
    model->FlushStatistics();
    model->DeleteModule();
    // zone 7 holds two cells of unit 1 and four of unit 2, each counted
    const auto row = LastRow(ReadFile(f.dir.file("etp.sta")));
    ASSERT_GE(row.size(), 6u);
    EXPECT_NEAR(std::stod(row[4]), (2 * first + 4 * second) / 6, 1e-5);
}

}  // namespace
