// The evapotranspiration sub-model: its section checks, the grids it creates,
// the daily methods and Penman-Monteith on a small grid, and whole runs of the
// real executable.

#include <gtest/gtest.h>

#include <omp.h>

#include <cmath>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <sstream>

#include "forcing/meteoint_fixture.h"
#include "framework/diagnostics_writer.h"
#include "framework/gridtable.h"
#include "framework/statistics_table.h"
#include "parameters/multilayer_landuse.h"
#include "support/model_fixture.h"
#include "support/test_support.h"
#include "surface/etpetr.h"
#include "surface/etpetr_physics.h"

using namespace testsupport;

namespace {

// The section lines after the switch and the interval, one entry per line
// group so a case can replace one of them.
struct SectionLines {
    std::string Method = "2 method";
    std::string Pec = "1 2 3 4 5 6 7 8 9 10 11 12";
    std::string Fh = "0.1 0.2 0.3 0.4 0.5 0.6 0.7 0.8 0.9 1.0 1.1 1.2";
    std::string Outputs =
        "1.5 fk\netp.grd\n0\netp.sta 0\netr.grd\n0\netr.sta 0\nevap.grd\n0\nevap.sta 0\nevar.grd\n0\nevar.sta 0\n"
        "snev.grd\n0\nsnev.sta 0\neip.grd\n0\neip.sta 0\nrgex.sta 0\n";
    std::string Radiation = "0.25 0.25 0.25 0.25 a0..a3";
    std::string Sunshine = "0.1 -0.5 0 0 CS";
    std::string Rest = "0.7 0.1 T0 T1\n1000 H\n4 4 4 4 4 4 4 4 4 4 4 4\n0.5 0 f v\ncloud.sta 0\n";

    std::string Text() const {
        return Method + "\n" + Pec + "\n" + Fh + "\n" + Outputs + Radiation + "\n" + Sunshine + "\n" + Rest;
    }
};

// A 3 x 4 grid, zones 7 (columns 1, 2) and 9 (columns 3, 4); cell (3, 4)
// lies outside the basin.
struct EtpFixture {
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

    EtpFixture() {
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
        zoneRank[7] = 1;
        zoneRank[9] = 2;
        double** zone = Add("zone_grid", 7);
        for (int r = 1; r <= 3; ++r)
            for (int c = 3; c <= 4; ++c) zone[r][c] = 9;
        zone[3][4] = -9999;
        Add("[elevation_model]", 500);
    }
    ~EtpFixture() {
        for (double** grid : grids) memory.free_matrix(grid, 1, 3, 1, 4);
    }
    double** Add(const std::string& name, double value) {
        double** grid = memory.matrix(1, 3, 1, 4, 3);
        for (int r = 1; r <= 3; ++r)
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
    std::unique_ptr<verdunstungsmodellklasse> Make(const SectionLines& lines, int interval = 1440) {
        WriteFile(dir.file("model.ctl"),
                  "[evapotranspiration]\n1 switch\n" + std::to_string(interval) + " interval\n" + lines.Text());
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

TEST(Evapotranspiration, SectionChecks) {
    struct Case {
        const char* what;
        std::function<void(SectionLines&)> change;
        int interval;
        int code;
        const char* text;
    };
    const Case cases[] = {
        {"daily method with hourly steps", [](SectionLines& l) { l.Method = "3"; }, 60, 44,
         "for daily time steps or larger"},
        {"comment after the PEC values", [](SectionLines& l) { l.Pec += " PEC"; }, 1440, 45, "fh-parameter for"},
        {"eleven PEC values", [](SectionLines& l) { l.Pec = "1 2 3 4 5 6 7 8 9 10 11"; l.Fh = "x"; }, 1440, 45,
         "PEC-parameter for"},
        {"diffuse fraction too small", [](SectionLines& l) { l.Radiation = "0.049 0.451 0.25 0.25"; }, 1440, 10,
         "too small: 0.049"},
        {"diffuse fraction too large", [](SectionLines& l) { l.Radiation = "0.51 0.24 0.25 0"; }, 1440, 10,
         "too large: 0.51"},
        {"coefficient sum 1.011", [](SectionLines& l) { l.Radiation = "0.25 0.25 0.25 0.261"; }, 1440, 10,
         "in ihrer Summe 1"},
        {"no root", [](SectionLines& l) { l.Sunshine = "0.5 0.5 0 0"; }, 1440, 10, "No null point"},
        {"constant sunshine", [](SectionLines& l) { l.Sunshine = "0.3 0 0 0"; }, 1440, 10,
         "at minimum a linear relationship"},
        {"day fraction 1.5", [](SectionLines& l) { l.Rest = "0.7 0.1\n1000\n4 4 4 4 4 4 4 4 4 4 4 4\n1.5 0\n"; },
         1440, 10, "amplitude_fraction_day: 1.5"},
        {"no day fraction", [](SectionLines& l) { l.Rest = "0.7 0.1\n1000\n4 4 4 4 4 4 4 4 4 4 4 4\nx\n"; }, 1440,
         10, "error reading fraction for temperature amplitude"},
        {"unreadable transmissivity", [](SectionLines& l) { l.Rest = "0.7 x\n"; }, 1440, 17, "error in control file"},
        {"Wendling without radiation", [](SectionLines& l) { l.Method = "3"; }, 1440, 46, "erlative sunshine"},
        {"Haude without humidity", [](SectionLines& l) { l.Method = "4"; }, 1440, 46, "vapor pressure (e, in mbar)"},
        {"unknown method", [](SectionLines& l) { l.Method = "7"; }, 1440, 46, "erlative sunshine"},
        {"Hamon without temperature", [](SectionLines&) {}, 1440, 33, "corr_temperature, temperature or temperature"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EtpFixture f;
        SectionLines lines;
        c.change(lines);
        EXPECT_EQ(ThrownCode([&] { f.Make(lines, c.interval); }), c.code);
        EXPECT_NE(f.Diagnostics().find(c.text), std::string::npos) << f.Diagnostics();
        // nothing of the sub-model stays behind
        EXPECT_EQ(f.Grid("pot_transpiration0"), nullptr);
    }
}

TEST(Evapotranspiration, AcceptedLimitsAndGrids) {
    EtpFixture f;
    f.Add("temperature", 10);
    SectionLines lines;
    lines.Radiation = "0.05 0.45 0.25 0.26";  // a0 at its lower limit, sum 1.01
    lines.Rest = "0.7 0.1\n1000\n4 4 4 4 4 4 4 4 4 4 4 4\n0.5 0\n\n";
    auto model = f.Make(lines);
    EXPECT_NEAR(model->SunshineThreshold, 0.2, 1e-12);
    EXPECT_EQ(model->PecTable[0], 12);
    EXPECT_EQ(model->PecTable[13], 1);
    for (const char* name : {"pot_transpiration0", "pot_transpiration1", "real_transpiration0",
                             "potential_InterceptionEvap1", "potential_evaporation", "real_evaporation",
                             "snow_evaporation", "AspectCorrectedGlobalRadiation", "cloudiness", "SSDTemp"}) {
        SCOPED_TRACE(name);
        double** grid = f.Grid(name);
        ASSERT_NE(grid, nullptr);
        EXPECT_EQ(grid[3][4], -9999);
        EXPECT_EQ(grid[1][1], std::string(name) == "SSDTemp" ? 0.5 : 0.0);
    }
    const int index = FindGridEntry(f.table.get(), "pot_transpiration1", true);
    EXPECT_EQ(f.table[index].OutputName.find("etp_Layer_1.grd") != std::string::npos, true)
        << f.table[index].OutputName;
    model->DeleteModule();
    EXPECT_EQ(f.Grid("pot_transpiration0"), nullptr);
    EXPECT_EQ(f.Grid("SSDTemp"), nullptr);
}

// Hamon on 15 March and Haude on 2 July at a temperature of 10 degrees.
TEST(Evapotranspiration, DailyMethodsOnTheGrid) {
    {
        EtpFixture f;
        f.Add("temperature", 10);
        auto model = f.Make(SectionLines{});
        model->PotentialEvapotranspiration(24, 15, 3, 2020);
        const double beta = model->SunlitFraction;
        EXPECT_GT(beta, 0.3);
        const double expected = etpetr::HamonEtp(3.0, beta, 10);
        for (const char* name : {"pot_transpiration0", "pot_transpiration1", "potential_InterceptionEvap0"}) {
            EXPECT_NEAR(f.Grid(name)[2][3], expected, 1e-12) << name;
            EXPECT_EQ(f.Grid(name)[3][4], -9999) << name;
        }
        EXPECT_EQ(f.Grid("AspectCorrectedGlobalRadiation")[1][1], 0.0);
        EXPECT_EQ(f.Grid("cloudiness")[1][1], 0.5);
    }
    {
        EtpFixture f;
        f.Add("temperature_14", 10);
        f.Add("air_humidity_14", 0.6);
        SectionLines lines;
        lines.Method = "4";
        auto model = f.Make(lines);
        model->PotentialEvapotranspiration(24, 2, 7, 2020);
        const double es = etpetr::HaudeSaturationVapourPressure(10);
        EXPECT_NEAR(f.Grid("pot_transpiration0")[1][2], es * 0.7 * 0.4, 1e-12);
    }
}

// Wendling with global radiation and the radiation correction ratio: the
// radiation input is overwritten with its corrected value, capped for the
// output grid.
TEST(Evapotranspiration, WendlingWithCorrectedRadiation) {
    EtpFixture f;
    f.Add("temperature", 15);
    double** radiation = f.Add("global_radiation", 3000);
    f.Add("albedo", 0.2);
    double** chi = f.Add("radiation_correction", 1.2);
    SectionLines lines;
    lines.Method = "3";
    auto model = f.Make(lines);
    model->SetCorrectedRadiationGrid(chi);
    model->PotentialEvapotranspiration(24, 21, 6, 2020);
    // On the day the relative radiation follows from the clear-sky sum;
    // whatever s is, R = (1 + 0.75 s 0.2) 3000 and s = (R / 3000 - 1) / 0.15.
    const double r = radiation[1][1];
    const double s = (r / 3000 - 1) / 0.15;
    EXPECT_GE(s, 0.0);
    EXPECT_LE(s, 1.0);
    EXPECT_NEAR(f.Grid("SSDTemp")[1][1], 0.5 + s, 1e-12);
    const double cap = 1260 * 24 * model->SunlitFraction;
    EXPECT_NEAR(f.Grid("AspectCorrectedGlobalRadiation")[1][1], std::min(r, cap), 1e-9);
    EXPECT_NEAR(f.Grid("pot_transpiration0")[1][1], etpetr::WendlingEtp(std::min(r, cap), 0.2, 1.5, 15), 1e-12);
}

// Penman-Monteith with one layer over a day: the total is transpiration plus
// soil evaporation, the day temperature rises and the night one falls, and
// one thread gives what four give.
TEST(Evapotranspiration, PenmanMonteithOneLayer) {
    std::map<std::string, std::vector<double>> results[2];
    for (int k = 0; k < 2; ++k) {
        omp_set_num_threads(k == 0 ? 1 : 4);
        EtpFixture f;
        double** t = f.Add("temperature", 18);
        double** night = f.Add("temperature_night", 12);
        f.Add("air_humidity", 0.55);
        double** wind = f.Add("wind_speed", 2);
        for (int r = 1; r <= 3; ++r)
            for (int c = 1; c <= 4; ++c) wind[r][c] = 0.5 * r + c;
        f.Add("global_radiation", 4000);
        f.Add("albedo", 0.2);
        f.Add("leaf_area_index1", 3);
        f.Add("root_depth1", 0.5);
        f.Add("vegetation_coverage_degree1", 0.8);
        f.Add("SurfaceCanopyResistance1", 70);
        f.Add("SurfaceIntercepResistance1", 40);
        f.Add("RoughnessLength1", 0.1);
        f.Add("SurfaceEvaporationResistance", 200);
        SectionLines lines;
        lines.Method = "1";
        auto model = f.Make(lines);
        model->PotentialEvapotranspiration(24, 21, 6, 2020);
        EXPECT_GT(t[1][1], 18);
        EXPECT_LT(night[1][1], 12);
        for (const char* name : {"pot_transpiration0", "pot_transpiration1", "potential_InterceptionEvap0",
                                 "potential_evaporation", "AspectCorrectedGlobalRadiation", "cloudiness"}) {
            double** g = f.Grid(name);
            for (int r = 1; r <= 3; ++r)
                for (int c = 1; c <= 4; ++c) results[k][name].push_back(g[r][c]);
        }
        double** total = f.Grid("pot_transpiration0");
        double** layer = f.Grid("pot_transpiration1");
        double** soil = f.Grid("potential_evaporation");
        EXPECT_GT(layer[2][2], 0);
        EXPECT_GT(soil[2][2], 0);
        EXPECT_DOUBLE_EQ(total[2][2], layer[2][2] + soil[2][2]);
        EXPECT_TRUE(std::isfinite(total[1][1]));
    }
    omp_set_num_threads(omp_get_num_procs());
    EXPECT_EQ(results[0], results[1]);
}

// Two vegetation layers: each layer gets its file names, the lower layer
// alone yields soil evaporation, a cell without the second layer gives it 0,
// and a daily method refuses layered vegetation.
TEST(Evapotranspiration, TwoLayers) {
    std::vector<MultilayerLanduseType> multilayer(2);
    multilayer[1].Code = 3;
    multilayer[1].LayerCount = 2;
    multilayer[1].k_extinct = 0.5;
    multilayer[1].LAI_scale = 8;
    auto layered = [&](EtpFixture& f) {
        f.settings.MultilayerLanduseTable = multilayer.data();
        f.settings.MultilayerLanduseCount = 1;
        f.Add("landuse", 1);  // the set-up has renumbered code 3 to its position
        f.Add("landuse1", 1);
        double** second = f.Add("landuse2", 2);
        second[1][1] = -9999;
    };
    {
        EtpFixture f;
        layered(f);
        f.Add("temperature", 10);
        EXPECT_EQ(ThrownCode([&] { f.Make(SectionLines{}); }), 44);
        EXPECT_NE(f.Diagnostics().find("number of layers: 2"), std::string::npos);
    }
    EtpFixture f;
    layered(f);
    f.Add("temperature", 16);
    f.Add("temperature_night", 9);
    f.Add("vapor_pressure", 9);
    f.Add("wind_speed", 3);
    f.Add("global_radiation", 3500);
    f.Add("albedo", 0.18);
    const double values[2][6] = {{6, 1, 0.9, 90, 50, 1.5}, {2, 0.3, 0.7, 60, 30, 0.05}};
    const char* stems[6] = {"leaf_area_index", "root_depth", "vegetation_coverage_degree",
                            "SurfaceCanopyResistance", "SurfaceIntercepResistance", "RoughnessLength"};
    for (int k = 1; k <= 2; ++k)
        for (int p = 0; p < 6; ++p) f.Add(stems[p] + std::to_string(k), values[k - 1][p]);
    f.Grid("leaf_area_index2")[1][1] = -9999;
    f.Add("SurfaceEvaporationResistance", 150);
    SectionLines lines;
    lines.Method = "1";
    auto model = f.Make(lines);
    for (int k = 0; k <= 2; ++k) {
        const int index = FindGridEntry(f.table.get(), "pot_transpiration" + std::to_string(k), true);
        const std::string expected = k == 0 ? "etp.grd" : "etp_Layer_" + std::to_string(k) + ".grd";
        EXPECT_NE(f.table[index].OutputName.find(expected), std::string::npos) << f.table[index].OutputName;
    }
    model->PotentialEvapotranspiration(24, 10, 5, 2020);
    double** total = f.Grid("pot_transpiration0");
    double** first = f.Grid("pot_transpiration1");
    double** second = f.Grid("pot_transpiration2");
    double** soil = f.Grid("potential_evaporation");
    double** interception = f.Grid("potential_InterceptionEvap0");
    EXPECT_GT(first[2][2], 0);
    EXPECT_GT(second[2][2], 0);
    EXPECT_GT(soil[2][2], 0);
    EXPECT_DOUBLE_EQ(total[2][2], first[2][2] + second[2][2] + soil[2][2]);
    EXPECT_DOUBLE_EQ(interception[2][2],
                     f.Grid("potential_InterceptionEvap1")[2][2] + f.Grid("potential_InterceptionEvap2")[2][2]);
    // Without the second layer the first one is the lowest and holds the soil term.
    EXPECT_EQ(second[1][1], 0);
    EXPECT_GT(soil[1][1], 0);
    EXPECT_DOUBLE_EQ(total[1][1], first[1][1] + soil[1][1]);
    EXPECT_NE(soil[1][1], soil[2][2]);
}

// The multilayer entry of a cell is the one at the table position the
// "landuse" grid holds (the set-up renumbers codes to positions), not the
// entry whose code equals that number. Polar night with net radiation input
// leaves one night part of fraction 1, so the lower layer's transpiration can
// be computed by hand: with the entry at position 1 (k_extinct 0.6, LAI_scale
// 2) it is 3.255975622531565 mm; the entry whose code is 1 (position 2:
// 0.05, 60) would give 0.34677652337993825 mm, the defaults 1.466989337282404.
TEST(Evapotranspiration, LayerEntryByTablePosition) {
    std::vector<MultilayerLanduseType> multilayer(3);
    multilayer[1].Code = 2;
    multilayer[1].LayerCount = 2;
    multilayer[1].k_extinct = 0.6;
    multilayer[1].LAI_scale = 2;
    multilayer[2].Code = 1;
    multilayer[2].LayerCount = 2;
    multilayer[2].k_extinct = 0.05;
    multilayer[2].LAI_scale = 60;
    EtpFixture f;
    f.settings.Latitude = 80;
    f.settings.MultilayerLanduseTable = multilayer.data();
    f.settings.MultilayerLanduseCount = 2;
    f.Add("landuse", 1);
    f.Add("landuse1", 1);
    f.Add("landuse2", 2);
    f.Add("temperature", 5);
    f.Add("temperature_night", 2);
    f.Add("vapor_pressure", 5);
    f.Add("air_pressure", 950);
    f.Add("wind_speed", 3);
    f.Add("net_radiation", 1500);
    f.Add("albedo", 0.2);
    const double values[2][6] = {{4, 1, 0.9, 80, 40, 1.0}, {2, 0.3, 0.6, 0, 30, 0.05}};
    const char* stems[6] = {"leaf_area_index", "root_depth", "vegetation_coverage_degree",
                            "SurfaceCanopyResistance", "SurfaceIntercepResistance", "RoughnessLength"};
    for (int k = 1; k <= 2; ++k)
        for (int p = 0; p < 6; ++p) f.Add(stems[p] + std::to_string(k), values[k - 1][p]);
    f.Add("SurfaceEvaporationResistance", 150);
    SectionLines lines;
    lines.Method = "1";
    auto model = f.Make(lines);
    model->PotentialEvapotranspiration(24, 21, 12, 2020);
    ASSERT_EQ(model->SunlitFraction, 0);
    EXPECT_NEAR(f.Grid("pot_transpiration2")[2][2], 3.255975622531565, 1e-10);
    EXPECT_NEAR(f.Grid("pot_transpiration2")[1][3], 3.255975622531565, 1e-10);
}

// Whole runs: Hamon over ten days with its grids and statistics written, the
// same bytes on one and on four threads; a PEC line with a comment ends the
// run with code 45.
TEST(Evapotranspiration, WholeRunsOfTheExecutable) {
    using meteotest::DailyRows;
    using meteotest::Section;
    using meteotest::StationText;
    ModelFiles files;
    files.MeteoInputs = "[meteo_data_count]\n1\n[meteo_names]\ntemperature\n";
    Section temperature;
    temperature.StationLine = "temperature.txt";
    files.Extra = temperature.Text("temperature");
    files.Methods["evapotranspiration"] = 1;
    SectionLines lines;
    lines.Outputs =
        "1 fk\netp.grd\n1\netp.sta 2001\netr.grd\n0\netr.sta 0\nevap.grd\n0\nevap.sta 0\nevar.grd\n0\nevar.sta 0\n"
        "snev.grd\n0\nsnev.sta 0\neip.grd\n0\neip.sta 0\nrgex.sta 0\n";
    files.SectionBodies["evapotranspiration"] = lines.Text();
    const std::string stations =
        StationText({{1100, 2200, 500}, {1300, 2000, 650}},
                    DailyRows({2020, 1, 1, 24}, 12, 2, [](int day, int s) { return 2.0 + day % 5 - s; }));

    std::map<std::string, std::string> outputs[2];
    const char* threads[2] = {"OMP_NUM_THREADS=1", "OMP_NUM_THREADS=4"};
    for (int k = 0; k < 2; ++k) {
        TempDir dir;
        const auto control = files.Write(dir);
        WriteFile(dir.file("input/temperature.txt"), stations);
        const auto run = RunRuvex(dir.path(), {control}, threads[k]);
        ASSERT_EQ(run.exitCode, 0) << run.output;
        for (const auto& entry : std::filesystem::directory_iterator(dir.file("output"))) {
            outputs[k][entry.path().filename().string()] = ReadFile(entry.path().string());
        }
    }
    ASSERT_TRUE(outputs[0].count("etp.sta")) << outputs[0].size();
    EXPECT_EQ(outputs[0], outputs[1]);

    TempDir dir;
    lines.Pec += " PEC";
    files.SectionBodies["evapotranspiration"] = lines.Text();
    const auto control = files.Write(dir);
    WriteFile(dir.file("input/temperature.txt"), stations);
    const auto run = RunRuvex(dir.path(), {control});
    EXPECT_EQ(run.exitCode, 45) << run.output;
}

// The day's sunshine in the storage content file: a run that goes on finds
// the sum (or the night's mean) and the sunlit steps of the day exactly as
// the earlier run left them. Without the file or the section it starts cold
// with a warning; a section that does not fit this grid, or is cut short,
// ends the run with code 71 and leaves the state untouched.
TEST(Evapotranspiration, DayOfSunshineGoesOnInTheStorageContentFile) {
    EtpFixture f;
    f.Add("temperature", 10);
    f.settings.InitialStateDirectory = f.settings.DefaultOutputDirectory = f.dir.path() + "/";
    const std::string name = "storage.txt_0";
    // Cell (3, 4) lies outside the basin.
    auto expected = [](int r, int c, bool loaded) {
        return r == 3 && c == 4 ? -9999 : loaded ? 0.1 * r + 0.01 * c + 1.0 / 3.0 : 0.5;
    };
    {
        auto model = f.Make(SectionLines());
        for (int r = 1; r <= 3; ++r)
            for (int c = 1; c <= 4; ++c) model->SsdTemp[r][c] = expected(r, c, true);
        model->BrightPartBegun = true;
        model->BrightSteps = 5;
        model->ReadStorageContent(&name, 0);
        model->SetStatus(1);
        EXPECT_EQ(ThrownCode([&] { model->DeleteModule(); }), 0) << f.Diagnostics();
    }
    const std::string stored = ReadFile(f.dir.file(name));
    ASSERT_EQ(stored.rfind("[evapotranspiration]\n1 5 (sunlit part of the day begun, its steps so far)\n"
                           "3 4 (rows and columns of the sunshine grid)\n",
                           0),
              0u)
        << stored;
    EXPECT_EQ(stored.substr(stored.size() - 2), "\n\n");

    struct Case {
        const char* name;
        std::string file;  // empty: no file
        int readMode;
        int code;
        bool loaded;
        const char* text;
    };
    auto replaced = [&](const std::string& what, const std::string& with) {
        std::string text = stored;
        text.replace(text.find(what), what.size(), with);
        return text;
    };
    const Case cases[] = {
        {"read mode 1", stored, 1, 0, true, "storage content of evapotranspiration read from"},
        {"read mode 3, after another section", "[unsatzon_model]\n2 (number of subasins)\n\n" + stored, 3, 0, true,
         "storage content of evapotranspiration read from"},
        {"read mode 2 reads nothing", stored, 2, 0, false, ""},
        {"no file", "", 1, 0, false, "error opening storage content file"},
        {"no section", "[unsatzon_model]\n2 (number of subasins)\n\n", 1, 0, false,
         "[evapotranspiration] not found in storage content file"},
        {"another grid", replaced("3 4 (rows", "3 5 (rows"), 1, 71, false,
         "error in storage file content reading number of rows and columns:"},
        {"cut short", stored.substr(0, stored.size() - 40), 1, 71, false,
         "error in storage file content reading sunshine of row 3:"},
        {"unreadable flag", replaced("1 5 (sunlit", "x 5 (sunlit"), 1, 71, false,
         "error in storage file content reading sunlit steps of the day:"},
        {"flag neither 0 nor 1", replaced("1 5 (sunlit", "2 5 (sunlit"), 1, 71, false,
         "error in storage file content reading sunlit steps of the day:"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove(f.dir.file(name));
        if (!c.file.empty()) WriteFile(f.dir.file(name), c.file);
        f.console.str("");
        auto model = f.Make(SectionLines());
        EXPECT_EQ(ThrownCode([&] { model->ReadStorageContent(&name, c.readMode); }), c.code);
        EXPECT_NE(f.Diagnostics().find(c.text), std::string::npos) << f.Diagnostics();
        EXPECT_EQ(model->BrightPartBegun, c.loaded);
        EXPECT_EQ(model->BrightSteps, c.loaded ? 5 : 0);
        for (int r = 1; r <= 3; ++r)
            for (int c2 = 1; c2 <= 4; ++c2)
                EXPECT_EQ(model->SsdTemp[r][c2], expected(r, c2, c.loaded)) << r << c2;
        model->StorageFileName.clear();  // no section of its own at the end
        model->DeleteModule();
    }
}

}  // namespace
