// The component shells: every component the application creates constructs
// from its section (on and off), answers the wiring getters, keeps the
// FATAL checks of the wiring and survives a whole construction, time loop
// and teardown in the application's order.

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>
#include <memory>
#include <sstream>

#include "forcing/expokorr.h"
#include "forcing/meteoint.h"
#include "forcing/meteoint_precicorr.h"
#include "forcing/meteoint_superposition.h"
#include "framework/diagnostics_writer.h"
#include "framework/gridtable.h"
#include "framework/statistics_table.h"
#include "framework/teilmod_pointseries.h"
#include "lateral/gwflow.h"
#include "lateral/irrigate.h"
#include "lateral/siltingup.h"
#include "lateral/surfrout.h"
#include "routing/abfluss.h"
#include "setup/tracer_ini.h"
#include "parameters/landuse.h"
#include "parameters/soil.h"
#include "soil/unsatzon.h"
#include "support/test_support.h"
#include "surface/etpetr.h"
#include "surface/interzep.h"
#include "surface/snowmod.h"

using namespace testsupport;

namespace {

const char* const SubModelSections[] = {
    "RegionalSuperposition", "radiation_correction", "evapotranspiration",  "snow_model", "interception_model",
    "SiltingUpModel",        "unsatzon_model",       "SurfaceRoutingModel", "irrigation", "groundwater_flow",
    "routing_model",         "special_output"};

// The section of a meteorological input that reads the station file
// "$DIR/<name>.txt" (the fixture puts its directory in place of "$DIR").
std::string MeteoSection(const std::string& name, int method) {
    return "[" + name + "]\n" + std::to_string(method) + " method\n$DIR/" + name +
           ".txt station file\nnone regression file\n" + name +
           ".asc result grid\n0 write code\n1 scaling\n" + name +
           ".sta 0 statistics\n9999 nodata\n2 idw weight\n0.5 fraction\n1e6 distance\n0 slope\n1 ratio\n"
           "-1e9\n-1e9\n1e9\n1e9\n0 no scenarios\n";
}

// The evapotranspiration lines after the switch and the interval: Hamon,
// every output and statistics off.
const char* const HamonSectionBody =
    "2 method\n1 1 1 1 1 1 1 1 1 1 1 1\n0.3 0.3 0.3 0.3 0.3 0.3 0.3 0.3 0.3 0.3 0.3 0.3\n1 fk\n"
    "etp.grd\n0\netp.sta 0\netr.grd\n0\netr.sta 0\nevap.grd\n0\nevap.sta 0\nevar.grd\n0\nevar.sta 0\n"
    "snev.grd\n0\nsnev.sta 0\neip.grd\n0\neip.sta 0\nrgex.sta 0\n0.25 0.25 0.25 0.25\n0.1 -0.5 0 0\n"
    "0.7 0.1\n1000\n4 4 4 4 4 4 4 4 4 4 4 4\n0.5 0\ncloud.sta 0\n";

// The soil model's lines after the switch and the interval: a cold start,
// every output off, both subbasins (codes 7 and 9) listed.
std::string SoilSectionBody() {
    std::string text = "2 method\n0\n0\n0\n0\n0 ksat clay\n2 ini_gw_level\n";
    for (int i = 0; i < 16; ++i) text += "soil" + std::to_string(i) + ".sta 0\n";
    for (int i = 0; i < 24; ++i) text += "soil" + std::to_string(i) + ".grd\n0\n";
    text += "0 0 control point\nqb.txt\ntheta.txt\nhhyd.txt\nother.txt\netr.txt\ninterflow.txt\n7 9\n1 1\n1 1\n1 1\n"
            "1 1\n1 1\n0 0\n0 readgrid\nstorage.txt\n";
    return text;
}

// The interception lines after the switch and the interval: evaporation by
// potential transpiration, every output and statistics off.
const char* const InterceptionSectionBody =
    "1 method\ntf.grd\n0\ntf.sta 0\nei.grd\n0\nei.sta 0\nsi.grd\n0\nsi.sta 0\n0.2 SIdicke\n0 read mode\n";

// The silting-up lines after the switch and the interval: method 1, every
// output off, the minimum rain pause of both subbasins (codes 7 and 9).
const char* const SiltingUpSectionBody =
    "1 method\nsdisp.sta 0\nqdsu.sta 0\ncv.grd\n0\nrp.grd\n0\nke.grd\n0\ntst.grd\n0\nqdsu.grd\n0\n7 9\n0.1 0.1\n"
    "0 read code\n";
// The groundwater lines after the switch and the interval: one layer, no
// control point, every output off.
const char* const GroundwaterSectionBody =
    "1 method\n5 maxiter\n0.001 maxerror\n1 alpha\n1 sor\n0 read\n1 layers\n0 0 control point\ncp.txt\n"
    "head1.asc\n0\nfx1.asc\n0\nfy1.asc\n0\nbal1.asc\n0\n";

// A station file with one station and one row, dated 1.1.1990 hour 1.
const char* const OneRowStationFile =
    "stations\nz z z z 500\nx x x x 1150\ny y y y 2150\nname\n1990 1 1 1 4.5\n";

// A control file with every sub-model section at the given method (1 when not
// named, 0 for the radiation correction), a meteorological input "temperature" and the precipitation
// correction. Sections named with a negative method are left out.
std::string ControlFile(const std::map<std::string, int>& methods) {
    std::string text =
        MeteoSection("temperature", 4) + "[precipitation_correction]\n1\n0\n1.1\n0.01\n1.3\n0.02\n";
    for (const char* section : SubModelSections) {
        const auto it = methods.find(section);
        // The radiation correction and the snow model need grids these shells
        // lack; their own tests run them.
        const int fallback =
            std::string(section) == "radiation_correction" || std::string(section) == "snow_model" ? 0 : 1;
        const int method = it == methods.end() ? fallback : it->second;
        if (method < 0) continue;
        // Evapotranspiration runs Hamon here, a daily method.
        const bool etp = std::string(section) == "evapotranspiration" && method != 0;
        text += std::string("[") + section + "]\n" + std::to_string(method) + " method\n" +
                (etp ? "1440" : "60") + " interval [min]\n";
        if (etp) text += HamonSectionBody;
        if (std::string(section) == "unsatzon_model" && method != 0) text += SoilSectionBody();
        if (std::string(section) == "interception_model" && method != 0) text += InterceptionSectionBody;
        if (std::string(section) == "SiltingUpModel" && method != 0) text += SiltingUpSectionBody;
        if (std::string(section) == "groundwater_flow" && method != 0) text += GroundwaterSectionBody;
        if (std::string(section) == "RegionalSuperposition" && method != 0) text += "NumberOfEntities = 0;\n";
        if (std::string(section) == "special_output" && method != 0) text += "numfiles = 0;\n";
        if (std::string(section) == "irrigation" && method != 0) text += "irr_gw.sta 0\nirr_sw.sta 0\n";
        // A routing without descriptions; it reads its output unit itself.
        if (std::string(section) == "routing_model" && method != 0)
            text += "1 1000 10 2\nQ.sta 0\nnone\n0\n0\n\n[output_interval]\n24\n0\n1\n";
    }
    return text;
}

// A 3 x 4 model grid with two zones, codes 7 and 9.
struct ShellFixture {
    TempDir dir;
    std::ostringstream console;
    DiagnosticsWriter writer{dir.file("d.xml"), DiagDebug, console};
    std::unique_ptr<MemoryGrid[]> table = CreateGridTable();
    StatisticsTableEntry statistics[StatisticsTableSize + 1] = {};
    ModelSettings settings;
    std::vector<ZoneRecord> zones{ZoneRecord{0, 0, 0, 0.12, 0}, ZoneRecord{6, 6, 7, 0.5, 6},
                                  ZoneRecord{6, 6, 9, 0.5, 6}};
    std::vector<int> zoneRank = std::vector<int>(10, 0);
    memory_handling memory;
    double** zoneGrid = memory.matrix(1, 3, 1, 4, 3);

    // The grids a meteorological input needs besides the zone grid: the
    // elevation model in entry 2, "RelCellArea", "CoordX" and "CoordY".
    std::vector<double**> meteoGrids;

    explicit ShellFixture(std::string control) {
        for (size_t at = control.find("$DIR"); at != std::string::npos; at = control.find("$DIR"))
            control.replace(at, 4, dir.path());
        WriteFile(dir.file("model.ctl"), control);
        settings.CompiledControlFile = dir.file("model.ctl");
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
        zoneRank[7] = 1;
        zoneRank[9] = 2;
        settings.StartYear = 1990, settings.StartMonth = 1, settings.StartDay = 1, settings.StartHour = 1;
        settings.EndYear = 1990, settings.EndMonth = 1, settings.EndDay = 2, settings.EndHour = 0;
        for (int r = 1; r <= 3; ++r)
            for (int c = 1; c <= 4; ++c) zoneGrid[r][c] = c <= 2 ? 7 : 9;
        table[1].Data = zoneGrid;
        table[1].InternalName = "zone_grid";
        table[1].EverUsed = true;
    }
    ~ShellFixture() {
        memory.free_matrix(zoneGrid, 1, 3, 1, 4);
        for (double** grid : meteoGrids) memory.free_matrix(grid, 1, 3, 1, 4);
    }

    // Adds the grids of a meteorological input (entries 2 to 5) and the
    // one-row station files of the named inputs.
    void AddMeteoGrids(std::initializer_list<const char*> inputs = {"temperature"}) {
        const char* const names[] = {"[elevation_model]", "RelCellArea", "CoordX", "CoordY"};
        for (int k = 0; k < 4; ++k) {
            double** grid = memory.matrix(1, 3, 1, 4, 3);
            for (int r = 1; r <= 3; ++r) {
                for (int c = 1; c <= 4; ++c) {
                    const double values[4] = {500, 1, 1000 + 100.0 * (c - 1), 2000 + 100.0 * (3 - r)};
                    grid[r][c] = values[k];
                }
            }
            meteoGrids.push_back(grid);
            MemoryGrid& entry = table[2 + k];
            entry.Data = grid;
            entry.InternalName = names[k];
            entry.EverUsed = true;
        }
        for (const char* input : inputs) WriteFile(dir.file(std::string(input) + ".txt"), OneRowStationFile);
    }
    // A uniform grid in the next free entry, freed with the fixture.
    void AddGrid(const std::string& name, double value) {
        double** grid = memory.matrix(1, 3, 1, 4, 3);
        for (int r = 1; r <= 3; ++r)
            for (int c = 1; c <= 4; ++c) grid[r][c] = value;
        meteoGrids.push_back(grid);
        const int index = FindFreeGridEntry(table.get());
        MemoryGrid& entry = table[index];
        entry.Data = grid;
        entry.InternalName = name;
        entry.EverUsed = true;
        added.push_back(index);
    }
    // The land-use grids of one vegetation layer, which interception reads.
    void AddVegetationGrids() {
        AddGrid("landuse1", 1);
        AddGrid("leaf_area_index1", 2);
        AddGrid("vegetation_coverage_degree1", 0.8);
    }
    // What the soil model reads besides the grids of evapotranspiration: the
    // land-use and soil grids, a soil table of two layers and, with
    // `waterInput`, a precipitation grid.
    std::vector<SoilType> soils;
    std::vector<LanduseType> landuses;
    std::vector<RowExtent> extents;
    void AddSoilInputs(bool waterInput) {
        AddGrid("zonegrid_soilmodel", 0);
        double** zone = meteoGrids.back();
        for (int r = 1; r <= 3; ++r)
            for (int c = 1; c <= 4; ++c) zone[r][c] = zoneGrid[r][c];
        for (const char* name : {"landuse1", "root_depth1", "vegetation_coverage_degree1", "leaf_area_index1",
                                 "SurfaceCanopyResistance1", "SurfaceIntercepResistance1", "RoughnessLength1",
                                 "SurfaceEvaporationResistance", "albedo", "slope_angle", "soil_types", "SurfStorSiltingUp"})
            AddGrid(name, 1);
        if (waterInput) AddGrid("precipitation", 0);
        // The aquifer of the groundwater model: one layer below the soil.
        AddGrid("aquifer_thickness_1", 1);
        AddGrid("gw_k_x_1", 1e-4);
        AddGrid("gw_k_y_1", 1e-4);
        AddGrid("gw_storage_coeff_1", 0.1);
        AddGrid("gw_boundary_fix_h_1", -9999);
        AddGrid("gw_boundary_fix_q_1", -9999);
        AddGrid("CellSizeX", settings.CellSize);
        AddGrid("CellSizeY", settings.CellSize);
        soils.assign(2, SoilType());
        soils[1].CreateLayers(2, 0);
        for (int l = 0; l <= 2; ++l) {
            soils[1].theta_sat[l] = 0.4;
            soils[1].theta_res[l] = 0.05;
            soils[1].alpha[l] = 2;
            soils[1].Par_n[l] = 1.5;
            soils[1].Par_m[l] = 1 - 1 / 1.5;
            soils[1].Par_tau[l] = 0.5;
            soils[1].thickness[l] = 0.3;
            soils[1].MakeHydraulicTables(l);
        }
        settings.SoilTable = soils.data();
        settings.SoilCount = 1;
        // The soil columns take the root parameters of land use 1.
        if (!settings.LanduseTable) {
            landuses.assign(2, LanduseType());
            landuses[1].TReduWet = 0.95;
            landuses[1].LimitReduWet = 0.5;
            landuses[1].HReduDry = 150;
            // Two fix points over the year, so that day values can be asked of it.
            landuses[1].FixPointCount = 2;
            landuses[1].JulDays = {0, 1, 366};
            landuses[1].ActualJulDays = {0, 1, 366};
            landuses[1].AltDep = {0, 0, 0};
            landuses[1].SR_ResidCovrg = {0, 0, 0};
            settings.LanduseTable = landuses.data();
            settings.LanduseCount = 1;
        }
        extents = DeriveRowExtents(zoneGrid, 3, 4, -9999);
        settings.RowExtents = extents.data();
    }
    // True for the entries the fixture fills itself.
    bool OwnEntry(int index) const {
        if (index >= 1 && index <= 5) return true;
        for (double** grid : meteoGrids)
            if (table[index].Data == grid) return true;
        return std::find(added.begin(), added.end(), index) != added.end();
    }
    std::vector<int> added;

    SubbasinTable Subbasins() { return {zones.data(), zoneRank.data(), 2, 9}; }
    std::string Console() const { return console.str(); }
};

template <typename F>
int ThrownCode(F f) {
    try {
        f();
    } catch (int code) {
        return code;
    }
    return 0;
}

}  // namespace

// Each sub-model switches itself on and off from its section; off, every
// getter answers null, and on, the tables the wiring hands around exist.
TEST(ComponentShells, SectionSwitchAndGetters) {
    for (int method : {0, 1}) {
        SCOPED_TRACE(method);
        std::map<std::string, int> methods;
        for (const char* section : SubModelSections) methods[section] = method;
        methods["radiation_correction"] = 0;
        methods["snow_model"] = 0;
        ShellFixture f(ControlFile(methods));
        f.AddMeteoGrids();
        f.AddGrid("temperature", 5);
        f.AddGrid("precipitation", 1);
        f.AddVegetationGrids();
        if (method != 0) f.AddSoilInputs(false);
        auto* st = f.statistics;
        const ModelSettings& s = f.settings;
        MemoryGrid* g = f.table.get();
        int status = -1;
        const bool on = method != 0;

        RegionalSuperposition superposition(&status, &f.writer, st, 200, "RegionalSuperposition", s, g);
        EXPECT_EQ(status, 0);
        EXPECT_EQ(superposition.GetMethod(), method);
        expokorrklasse radiation(&status, &f.writer, st, 200, "radiation_correction", s, g);
        EXPECT_EQ(radiation.GetCorrectedRadiationGrid(), nullptr);
        verdunstungsmodellklasse evapotranspiration(&status, &f.writer, st, 200, "evapotranspiration", s, g);
        EXPECT_EQ(evapotranspiration.GetMethod(), method);
        schneemodellklasse snow(&status, &f.writer, st, 200, "snow_model", s, g);
        EXPECT_EQ(snow.GetSnowStorageGrid(), nullptr);
        EXPECT_EQ(snow.GetSnowMethod(), 0);
        interzeptionsmodellklasse interception(&status, &f.writer, st, 200, "interception_model", s, g);
        siltingupclass silting(&status, &f.writer, st, 200, "SiltingUpModel", s, g);
        EXPECT_EQ(silting.GetMethod(), method);

        unsatzonmodellklasse soil(&status, &f.writer, st, 200, "unsatzon_model", s, g, nullptr, 3);
        EXPECT_EQ(status, 0);
        EXPECT_EQ(soil.GetSubSteps(), 3);
        soil.GroundwaterActive = 1;
        soil.InitTracers(&status, 0, nullptr, st, 200);
        EXPECT_EQ(status, 0);
        EXPECT_EQ(soil.GetQg() != nullptr, on);
        EXPECT_EQ(soil.GetQBb() != nullptr, on);
        EXPECT_EQ(soil.GetKelsqd() != nullptr, on);
        EXPECT_EQ(soil.GetKelsqi() != nullptr, on);
        EXPECT_EQ(soil.GetRiverflowTable() != nullptr, on);
        EXPECT_EQ(soil.GetStorageFileName() != nullptr, on);
        EXPECT_EQ(soil.GetSubbasinTable().Count, 2);

        surfaceroutingclass surface(&status, &f.writer, st, 200, "SurfaceRoutingModel", s, g, 3);
        surface.InitTracers(&status, 0, nullptr, st, 200);
        EXPECT_EQ(surface.GetQg() != nullptr, on);

        // the grids the soil model creates for an irrigation table
        if (on)
            for (const char* name :
                 {"irrigation_codes", "Max_Pumping", "irrigation_amounts", "SBLOW_grid", "SBHIGH_grid", "ETR2ETP"})
                f.AddGrid(name, 0);
        irrigationclass irrigation(&status, &f.writer, st, 200, "irrigation", s, g, nullptr, f.Subbasins());
        EXPECT_EQ(status, 0) << f.Console();
        ZoneRecord* demand = irrigation.GetIrrigationDemand();
        ASSERT_EQ(demand != nullptr, on);
        if (on) {
            EXPECT_EQ(demand[2].zonenwert, 9);
        }

        gwflowclass groundwater(&status, &f.writer, st, 200, "groundwater_flow", s, g, nullptr, f.Subbasins(), 3);
        EXPECT_EQ(groundwater.GetSubSteps(), 3);

        abflussmodellklasse routing(&status, &f.writer, st, 200, "routing_model", s, g, f.Subbasins(), 2, nullptr, 0);
        EXPECT_EQ(status, 0);
        EXPECT_EQ(routing.GetMaxIrrig() != nullptr, on);
        EXPECT_EQ(routing.GetMaxIrrigFromReservoirs() != nullptr, on);
        EXPECT_EQ(routing.GetRoutingTargetTable() != nullptr, on);
        ASSERT_EQ(routing.GetAbfrel() != nullptr, on);
        if (on) {
            // tracer rows 0..2, subbasin columns 0..2; area fractions with the total area in entry 0
            routing.GetMaxIrrig()[2][2] = 1;
            EXPECT_DOUBLE_EQ(routing.GetAbfrel()[0][0], 0.12);
            EXPECT_DOUBLE_EQ(routing.GetAbfrel()[0][2], 0.5);
            EXPECT_DOUBLE_EQ(routing.GetAbfrel()[1][2], 1.0);
            EXPECT_EQ(routing.GetRoutingTargetTable()[0][4], 0);
        }

        SpecialOutputClass special(&status, &f.writer, st, 200, "special_output", s, g, 3);
        EXPECT_EQ(special.GetMethod(), method);
    }
}

// A missing section ends the run with code 17 for every sub-model but
// special output, which is then off.
TEST(ComponentShells, MissingSections) {
    using Make = std::function<void(ShellFixture&, int*)>;
    const std::vector<std::pair<const char*, Make>> makers = {
        {"RegionalSuperposition",
         [](ShellFixture& f, int* st) {
             RegionalSuperposition m(st, &f.writer, f.statistics, 200, "RegionalSuperposition", f.settings,
                                     f.table.get());
         }},
        {"radiation_correction",
         [](ShellFixture& f, int* st) {
             expokorrklasse m(st, &f.writer, f.statistics, 200, "radiation_correction", f.settings, f.table.get());
         }},
        {"evapotranspiration",
         [](ShellFixture& f, int* st) {
             verdunstungsmodellklasse m(st, &f.writer, f.statistics, 200, "evapotranspiration", f.settings,
                                        f.table.get());
         }},
        {"snow_model",
         [](ShellFixture& f, int* st) {
             schneemodellklasse m(st, &f.writer, f.statistics, 200, "snow_model", f.settings, f.table.get());
         }},
        {"interception_model",
         [](ShellFixture& f, int* st) {
             interzeptionsmodellklasse m(st, &f.writer, f.statistics, 200, "interception_model", f.settings,
                                         f.table.get());
         }},
        {"SiltingUpModel",
         [](ShellFixture& f, int* st) {
             siltingupclass m(st, &f.writer, f.statistics, 200, "SiltingUpModel", f.settings, f.table.get());
         }},
        {"unsatzon_model",
         [](ShellFixture& f, int* st) {
             unsatzonmodellklasse m(st, &f.writer, f.statistics, 200, "unsatzon_model", f.settings, f.table.get(),
                                    nullptr, 1);
         }},
        {"SurfaceRoutingModel",
         [](ShellFixture& f, int* st) {
             surfaceroutingclass m(st, &f.writer, f.statistics, 200, "SurfaceRoutingModel", f.settings, f.table.get(),
                                   1);
         }},
        {"irrigation",
         [](ShellFixture& f, int* st) {
             irrigationclass m(st, &f.writer, f.statistics, 200, "irrigation", f.settings, f.table.get(), nullptr,
                               f.Subbasins());
         }},
        {"groundwater_flow",
         [](ShellFixture& f, int* st) {
             gwflowclass m(st, &f.writer, f.statistics, 200, "groundwater_flow", f.settings, f.table.get(), nullptr,
                           f.Subbasins(), 1);
         }},
        {"routing_model",
         [](ShellFixture& f, int* st) {
             abflussmodellklasse m(st, &f.writer, f.statistics, 200, "routing_model", f.settings, f.table.get(),
                                   f.Subbasins(), 0, nullptr, 0);
         }},
        {"temperature",
         [](ShellFixture& f, int* st) {
             f.AddMeteoGrids();
             meteointerpol m(st, &f.writer, f.statistics, 200, "temperature", FindFreeGridEntry(f.table.get()),
                             f.settings, f.table.get());
         }},
    };
    for (const auto& [section, make] : makers) {
        SCOPED_TRACE(section);
        std::map<std::string, int> methods{{section, -1}};
        std::string control = ControlFile(methods);
        if (std::string(section) == "temperature") control.replace(0, control.find("[precipitation_correction]"), "");
        ShellFixture f(control);
        int status = 0;
        EXPECT_EQ(ThrownCode([&] { make(f, &status); }), 17);
        EXPECT_NE(f.Console().find(std::string("error in control file, [") + section + "]; (EOF)not found!"),
                  std::string::npos);
    }
    {
        // the precipitation correction reports its failures through the status
        ShellFixture f("[temperature]\n4\n");
        int status = 0;
        precicorrclass correction(&status, &f.writer, f.statistics, 200, nullptr, nullptr, 0, f.settings,
                                  f.table.get());
        EXPECT_EQ(status, 17);
    }
    {
        ShellFixture f(ControlFile({{"special_output", -1}}));
        int status = -1;
        SpecialOutputClass special(&status, &f.writer, f.statistics, 200, "special_output", f.settings, f.table.get(),
                                   1);
        EXPECT_EQ(status, 0);
        EXPECT_EQ(special.GetMethod(), 0);
        special.Step(1, 1, 1, 1990, true, 1);
        special.Flush();
        special.DeleteModule();
    }
}

// Routing without runoff, and irrigation without the routing's tables, end
// the run during the wiring.
TEST(ComponentShells, WiringChecks) {
    {
        ShellFixture f(ControlFile({{"unsatzon_model", 0}, {"SurfaceRoutingModel", 0}}));
        int status = 0;
        unsatzonmodellklasse soil(&status, &f.writer, f.statistics, 200, "unsatzon_model", f.settings, f.table.get(),
                                  nullptr, 1);
        abflussmodellklasse routing(&status, &f.writer, f.statistics, 200, "routing_model", f.settings, f.table.get(),
                                    soil.GetSubbasinTable(), 0, nullptr, soil.ReadGridsCode);
        EXPECT_EQ(ThrownCode([&] { routing.SetQg(soil.GetQg()); }), 43);
        EXPECT_NE(f.Console().find("No valid discharges for discharge routing!\nYou have to run the model including "
                                   "at least precipitation interpolation and soil model\nif discharges are wished.\n"),
                  std::string::npos);
        f.writer.Close();
        bool fatal = false;
        for (const auto& line : DiagLines(ReadFile(f.dir.file("d.xml")))) {
            fatal |= line.level == 0 && line.description.rfind("No valid discharges for discharge routing!;", 0) == 0;
        }
        EXPECT_TRUE(fatal);
    }
    {
        // an on soil model hands out nothing before its tracer set-up
        ShellFixture f(ControlFile({}));
        int status = 0;
        unsatzonmodellklasse soil(&status, &f.writer, f.statistics, 200, "unsatzon_model", f.settings, f.table.get(),
                                  nullptr, 1);
        EXPECT_EQ(ThrownCode([&] { soil.GetQg(); }), 57);
        EXPECT_NE(f.Console().find("Qg not initialized (may be, tracer module not linked? -> programmers error!)"),
                  std::string::npos);
        soil.InitTracers(&status, 0, nullptr, f.statistics, 200);
        EXPECT_EQ(soil.GetRiverflowTable(), nullptr);  // the groundwater model is off for it
        surfaceroutingclass surface(&status, &f.writer, f.statistics, 200, "SurfaceRoutingModel", f.settings,
                                    f.table.get(), 1);
        EXPECT_EQ(ThrownCode([&] { surface.GetQg(); }), 57);
    }

    const std::string first = "if irrigation is modelled, also routing has to be modelled!";
    double row[3] = {};
    double* rows[1] = {row};
    struct Case {
        const char* what;
        std::function<void(irrigationclass&, abflussmodellklasse&)> call;
        std::string message;
    } cases[] = {
        {"routing off",
         [](irrigationclass& i, abflussmodellklasse& r) {
             i.SetMaxIrrigTables(r.GetMaxIrrig(), r.GetMaxIrrigFromReservoirs());
         },
         first + "\n(Adress of array maxirrig[] is NULL\n"},
        {"reservoir table missing",
         [&](irrigationclass& i, abflussmodellklasse&) { i.SetMaxIrrigTables(rows, nullptr); },
         first + "\n(Adress of array maxirrigFromReservoirs[] is NULL\n"},
        {"target table missing",
         [](irrigationclass& i, abflussmodellklasse& r) { i.SetRoutingTargetTable(r.GetRoutingTargetTable()); },
         first + " \n(Adress of array routing-target is NULL)\n"},
        {"abfrel missing", [](irrigationclass& i, abflussmodellklasse& r) { i.SetAbfrel(r.GetAbfrel()); },
         first + " \n(Adress of array abfrel is NULL)\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ShellFixture f(ControlFile({{"routing_model", 0}}));
        int status = 0;
        irrigationclass irrigation(&status, &f.writer, f.statistics, 200, "irrigation", f.settings, f.table.get(),
                                   nullptr, f.Subbasins());
        abflussmodellklasse routing(&status, &f.writer, f.statistics, 200, "routing_model", f.settings, f.table.get(),
                                    f.Subbasins(), 0, nullptr, 0);
        EXPECT_EQ(ThrownCode([&] { c.call(irrigation, routing); }), 60);
        EXPECT_NE(f.Console().find(c.message), std::string::npos) << f.Console();
    }
    {
        // irrigation that is off takes the null tables of an off routing
        ShellFixture f(ControlFile({{"routing_model", 0}, {"irrigation", 0}}));
        int status = 0;
        irrigationclass irrigation(&status, &f.writer, f.statistics, 200, "irrigation", f.settings, f.table.get(),
                                   nullptr, f.Subbasins());
        irrigation.SetMaxIrrigTables(nullptr, nullptr);
        irrigation.SetRoutingTargetTable(nullptr);
        irrigation.SetAbfrel(nullptr);
    }
}

// A meteorological input keeps its result grid under its name in the entry
// it was given, carries the clock and checks the date of the step.
TEST(ComponentShells, MeteorologicalInput) {
    ShellFixture f(ControlFile({}));
    f.AddMeteoGrids();
    int status = -1;
    const int entry = FindFreeGridEntry(f.table.get());
    auto input = std::make_unique<meteointerpol>(&status, &f.writer, f.statistics, 200, "temperature", entry,
                                                 f.settings, f.table.get());
    EXPECT_EQ(status, 0);
    EXPECT_EQ(input->InterpolationMethod, 4);
    EXPECT_EQ(FindGridEntry(f.table.get(), "temperature", true), entry);
    EXPECT_EQ(f.table[entry].Data[3][4], -9999);

    int64_t hour, day, month, year;
    input->GetActualDate(&hour, &day, &month, &year);
    EXPECT_EQ(DateKey(year, month, day, hour), DateKey(1990, 1, 1, 1));
    input->InterpolateStep(1, 1, 1, 1990);
    EXPECT_EQ(ThrownCode([&] { input->InterpolateStep(2, 1, 1, 1990); }), 52);
    EXPECT_NE(f.Console().find("error in date columns of temperature\n\nfirst Meteo data set (this is the set from "
                               "which data is get:\n1.1.1990 2. h\n\nbut in temperature:\n1.1.1990 1. h\n"),
              std::string::npos);

    // one record: the data end with the first advance; a rewind takes it again
    EXPECT_FALSE(input->EndOfData());
    input->ReadNextStep();
    EXPECT_TRUE(input->EndOfData());
    input->ResetToStart();
    input->ReadNextStep();
    EXPECT_FALSE(input->EndOfData());
    input->StopAtActualDate();
    input->ReadNextStep();
    EXPECT_TRUE(input->EndOfData());

    input->DeleteModule();
    EXPECT_EQ(FindGridEntry(f.table.get(), "temperature", false), 0);
    EXPECT_NE(f.Console().find("deleting interpolator for temperature"), std::string::npos);

    for (const char* method : {"0", "13"}) {
        ShellFixture bad(std::string("[temperature]\n") + method + "\n");
        bad.AddMeteoGrids();
        EXPECT_EQ(ThrownCode([&] {
                      meteointerpol m(&status, &bad.writer, bad.statistics, 200, "temperature", 6, bad.settings,
                                      bad.table.get());
                  }),
                  53);
        EXPECT_EQ(status, 53);
        EXPECT_EQ(bad.table[6].Data, nullptr);
    }
}

// The superposition's entity count and blocks, and the inputs the
// precipitation correction finds.
TEST(ComponentShells, SuperpositionAndPrecipitationCorrection) {
    struct Case {
        const char* what;
        std::string body;
        int code;
        size_t entities;
    } cases[] = {
        {"two blocks",
         "NumberOfEntities = 2;\na { outputgrid = oa; writecode = 0;\noutputtable = a.txt; statcode = 0;\n}\n"
         "b {\n outputgrid = ob; writecode = 0; outputtable = b.txt; statcode = 0; }\n",
         0, 2},
        {"no keyword", "Entities = 2;\n", 133, 0},
        {"no number", "NumberOfEntities = two;\n", 133, 0},
        {"negative count", "NumberOfEntities = -1;\n", 133, 0},
        {"block not closed", "NumberOfEntities = 1;\na { x = 1;\n", 17, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ShellFixture f("[RegionalSuperposition]\n1\n60\n" + c.body);
        int status = 0;
        std::unique_ptr<RegionalSuperposition> superposition;
        EXPECT_EQ(ThrownCode([&] {
                      superposition = std::make_unique<RegionalSuperposition>(
                          &status, &f.writer, f.statistics, 200, "RegionalSuperposition", f.settings, f.table.get());
                  }),
                  c.code);
        if (c.code == 133) {
            EXPECT_NE(
                f.Console().find("could not read \"NumberOfEntities\" keyword in section [RegionalSuperposition]"),
                std::string::npos);
        }
        if (superposition) {
            EXPECT_EQ(superposition->EntityTexts.size(), c.entities);
        }
    }

    ShellFixture f(ControlFile({}));
    int status = 0;
    std::string names[] = {"", "temperature"};
    precicorrclass withoutPrecipitation(&status, &f.writer, f.statistics, 200, nullptr, names, 1, f.settings,
                                        f.table.get());
    EXPECT_EQ(status, 33);
    const int entry = FindFreeGridEntry(f.table.get());
    f.table[entry].Data = f.zoneGrid;
    f.table[entry].InternalName = "precipitation";
    f.table[entry].EverUsed = true;
    precicorrclass correction(&status, &f.writer, f.statistics, 200, nullptr, names, 1, f.settings, f.table.get());
    EXPECT_EQ(status, 0);
    EXPECT_DOUBLE_EQ(correction.SnowConstant, 1.3);
    EXPECT_EQ(correction.PrecipitationGridIndex, entry);
    EXPECT_EQ(correction.TemperatureInput, 1);
    EXPECT_EQ(correction.WindInput, -1);
    EXPECT_TRUE(correction.InputMissing);
}

// Every component on, with one tracer and two sub-steps: construction and
// wiring, two time steps and teardown in the application's order leave the
// grid table as they found it.
TEST(ComponentShells, WholeRunInApplicationOrder) {
    // Surface routing with its section and its river grids (the last row).
    std::string control = ControlFile({}) + MeteoSection("precipitation", 1);
    const std::string surfaceHead = "[SurfaceRoutingModel]\n1 method\n60 interval [min]\n";
    ASSERT_NE(control.find(surfaceHead), std::string::npos);
    control.replace(control.find(surfaceHead), surfaceHead.size(),
                    surfaceHead + "5\nqdsr.sta 0\nqisr.sta 0\nqbsr.sta 0\nqgsr.sta 0\nv.stk\n0\nf.stk\n0\n0.0001\n10\n"
                                  "0.000001\n50\n1\n600\n0.01\n1\n0\nsurfstate.txt\n");
    ShellFixture f(control);
    f.AddMeteoGrids({"temperature", "precipitation"});
    f.AddVegetationGrids();
    f.AddSoilInputs(false);
    for (const char* name : {"river_depth", "river_width"}) {
        f.AddGrid(name, 0);
        for (int c = 1; c <= 4; ++c) f.meteoGrids.back()[3][c] = 1;
    }
    f.AddGrid("river_links", 0);
    // The soil model's concentrations of its direct runoff and interflow.
    f.AddGrid("_CONC_QD_1_", 0);
    f.AddGrid("_CONC_QI_1_", 0);
    f.settings.LogInterval = 1;
    std::vector<TracerInfo> tracers(2);
    tracers[1].name = "abc";
    tracers[1].path = f.dir.path() + "/";
    tracers[1].statext = "sta";
    tracers[1].gridext = "grd";
    auto* st = f.statistics;
    const ModelSettings& s = f.settings;
    MemoryGrid* g = f.table.get();
    const int n = 2;
    int status = 0;
    auto check = [&] { ASSERT_EQ(status, 0) << f.Console(); };

    std::string names[] = {"", "temperature", "precipitation"};
    std::vector<std::unique_ptr<meteointerpol>> inputs(3);
    std::vector<meteointerpol*> inputPointers(3, nullptr);
    for (int i = 1; i <= 2; ++i) {
        inputs[i] = std::make_unique<meteointerpol>(&status, &f.writer, st, 200, names[i], FindFreeGridEntry(g), s, g);
        inputs[i]->SetWarnings(1);
        inputs[i]->SetTimeStep(0);
        inputs[i]->SetStatus(1);
        inputPointers[i] = inputs[i].get();
    }
    meteointerpol* temperature = inputs[1].get();
    auto superposition =
        std::make_unique<RegionalSuperposition>(&status, &f.writer, st, 200, "RegionalSuperposition", s, g);
    auto correction =
        std::make_unique<precicorrclass>(&status, &f.writer, st, 200, inputPointers.data(), names, 2, s, g);
    check();
    EXPECT_EQ(correction->PrecipitationInput, 2);
    EXPECT_FALSE(correction->InputMissing);
    auto radiation = std::make_unique<expokorrklasse>(&status, &f.writer, st, 200, "radiation_correction", s, g);
    auto evapotranspiration =
        std::make_unique<verdunstungsmodellklasse>(&status, &f.writer, st, 200, "evapotranspiration", s, g);
    evapotranspiration->SetCorrectedRadiationGrid(radiation->GetCorrectedRadiationGrid());
    auto snow = std::make_unique<schneemodellklasse>(&status, &f.writer, st, 200, "snow_model", s, g);
    snow->SetCorrectedRadiationGrid(radiation->GetCorrectedRadiationGrid());
    evapotranspiration->SetSnowStorageGrid(snow->GetSnowStorageGrid());
    evapotranspiration->SetSnowMethod(snow->GetSnowMethod());
    auto interception =
        std::make_unique<interzeptionsmodellklasse>(&status, &f.writer, st, 200, "interception_model", s, g);
    auto silting = std::make_unique<siltingupclass>(&status, &f.writer, st, 200, "SiltingUpModel", s, g);
    check();
    auto soil = std::make_unique<unsatzonmodellklasse>(&status, &f.writer, st, 200, "unsatzon_model", s, g, nullptr, n);
    check();
    soil->UpdateMaxPumping();
    soil->SetDumpMode(0, 0);
    evapotranspiration->InitLakes("[lake_model]");
    snow->InitLakes("[lake_model]");
    auto surface = std::make_unique<surfaceroutingclass>(&status, &f.writer, st, 200, "SurfaceRoutingModel", s, g, n);
    // the soil model's grids for an irrigation table, and the tracer's
    // concentration in the water input
    for (const char* name : {"irrigation_codes", "Max_Pumping", "irrigation_amounts", "SBLOW_grid", "SBHIGH_grid",
                             "ETR2ETP", "concflux_tracer_1_input"})
        f.AddGrid(name, 0);
    auto irrigation = std::make_unique<irrigationclass>(&status, &f.writer, st, 200, "irrigation", s, g, nullptr,
                                                        soil->GetSubbasinTable());
    auto groundwater = std::make_unique<gwflowclass>(&status, &f.writer, st, 200, "groundwater_flow", s, g, nullptr,
                                                     soil->GetSubbasinTable(), n);
    check();
    evapotranspiration->SetSubSteps(n);
    soil->GroundwaterActive = groundwater->GetMethod() != 0 ? 1 : 0;
    for (teilmodellklasse* model :
         std::initializer_list<teilmodellklasse*>{irrigation.get(), snow.get(), interception.get(), silting.get(),
                                                  groundwater.get(), soil.get(), surface.get()}) {
        model->InitTracers(&status, 1, tracers.data(), st, 200);
        check();
    }
    EXPECT_GT(FindGridEntry(g, "concstor_tracer_1_interception_model", true), 0);
    auto routing =
        std::make_unique<abflussmodellklasse>(&status, &f.writer, st, 200, "routing_model", s, g,
                                              soil->GetSubbasinTable(), 1, tracers.data(), soil->ReadGridsCode);
    check();
    surface->SetQBb(soil->GetQBb());
    surface->SetKelsqd(soil->GetKelsqd());
    surface->SetKelsqi(soil->GetKelsqi());
    soil->SetSurfaceRoutingActive(1);
    routing->SetQg(surface->GetQg());
    EXPECT_EQ(routing->Qg, surface->GetQg());  // surface routing's runoff, not the soil model's
    EXPECT_NE(routing->Qg, soil->GetQg());
    routing->LinkLakeGrids();
    routing->InitRouting();
    routing->SetIrrigationDemand(irrigation->GetIrrigationDemand());
    groundwater->SetRiverflowTable(soil->GetRiverflowTable());
    routing->SetRiverflowTable(soil->GetRiverflowTable());
    routing->ReadStorageFile(soil->GetStorageFileName(), soil->ReadGridsCode);
    routing->SetStatus(1);
    routing->OutputDirectory = f.dir.path() + "/";  // its state at the end goes here
    irrigation->SetRiverflowTable(soil->GetRiverflowTable());
    irrigation->SetQg(soil->GetQg());
    irrigation->LinkGroundwaterTracerStorage();
    IrrigationAvailability fromReservoirs = routing->GetMaxIrrigFromReservoirs();
    irrigation->SetMaxIrrigTables(routing->GetMaxIrrig(), fromReservoirs);
    irrigation->SetRoutingTargetTable(routing->GetRoutingTargetTable());
    irrigation->SetAbfrel(routing->GetAbfrel());
    irrigation->SetStatus(1);
    EXPECT_NE(irrigation->RiverFlows, nullptr);
    groundwater->SetQg(soil->GetQg());
    snow->SetGlacierRunoffTarget(soil->GetGlacierRunoff());
    snow->ReadStorageContent(soil->GetStorageFileName(), soil->ReadGridsCode);
    auto special = std::make_unique<SpecialOutputClass>(&status, &f.writer, st, 200, "special_output", s, g, n);
    check();

    // Two passes over the time range, as a spin-up repetition makes them.
    for (int pass = 1; pass <= 2; ++pass) {
        int64_t hour, day, month, year;
        temperature->GetActualDate(&hour, &day, &month, &year);
        correction->CorrectStationData();
        for (int i = 1; i <= 2; ++i) inputs[i]->InterpolateStep(hour, day, month, year);
        superposition->RunTimeStep(hour, day, month, year);
        for (int i = 1; i <= 2; ++i) inputs[i]->WriteResultGrid();
        superposition->WriteOutputs();
        radiation->RunTimeStep(hour, day, month, year);
        evapotranspiration->PotentialEvapotranspiration(hour, day, month, year);
        irrigation->RunTimeStep(hour, day, month, year);
        evapotranspiration->SnowEvaporation(hour, day, month, year);
        snow->RunTimeStep(hour, day, month, year);
        interception->RunTimeStep(hour, day, month, year);
        silting->RunTimeStep(hour, day, month, year);
        soil->BeginTimeStep(hour, day, month, year);
        surface->BeginTimeStep(hour, day, month, year);
        evapotranspiration->BeginRealEvapotranspiration(hour, day, month, year);
        groundwater->BeginTimeStep(hour, day, month, year);
        for (int j = 1; j <= soil->GetSubSteps(); ++j) {
            soil->RunTimeStep(hour, day, month, year);
            surface->RunTimeStep(hour, day, month, year);
            evapotranspiration->RunSubstep(hour, day, month, year);
            groundwater->RunTimeStep(hour, day, month, year);
            special->Step(hour, day, month, year, true, j);
        }
        soil->UpdateMaxPumping();
        soil->EndTimeStep(hour, day, month, year);
        surface->RouteZonesToSubbasins(hour, day, month, year);
        evapotranspiration->SumRealEvapotranspiration(hour, day, month, year);
        groundwater->WriteOutput(hour, day, month, year);
        routing->RunTimeStep(hour, day, month, year);
        special->Step(hour, day, month, year, false, 0);
        for (int i = 1; i <= 2; ++i) {
            inputs[i]->ReadNextStep();
            EXPECT_TRUE(inputs[i]->EndOfData());
            if (pass == 1) {
                inputs[i]->ResetToStart();
                inputs[i]->ReadNextStep();
            }
        }
    }
    EXPECT_NE(f.Console().find("  interception_model 1.1.1990 1. h (time of meteo data)"), std::string::npos);

    for (int i = 1; i <= 2; ++i) inputs[i]->FlushStatistics();
    superposition->FlushStatistics();
    evapotranspiration->FlushStatistics();
    snow->FlushStatistics();
    interception->FlushStatistics();
    irrigation->FlushStatistics();
    silting->FlushStatistics();
    soil->FlushOutputs();
    surface->FlushStatistics();
    groundwater->FlushOutputs();
    routing->FlushOutputs();
    special->Flush();
    for (int i = 2; i >= 1; --i) inputs[i]->DeleteModule();
    for (teilmodellklasse* model : std::initializer_list<teilmodellklasse*>{
             snow.get(), interception.get(), silting.get(), irrigation.get(), groundwater.get(), superposition.get()})
        model->ReleaseTracers();
    const int r = routing->GetMethod() != 0 ? 1 : 0;
    routing->DeleteModule();
    soil->FinishRun(r);
    silting->DeleteModule();
    surface->FinishRun(r == 1 || soil->GetMethod() != 0 ? 1 : 0);
    for (modelobject* component : std::initializer_list<modelobject*>{
             interception.get(), irrigation.get(), snow.get(), evapotranspiration.get(), radiation.get(),
             superposition.get(), correction.get(), groundwater.get(), special.get()})
        component->DeleteModule();

    // nothing but the fixture's own grids is left in the grid table
    for (int i = 2; i < GridTableEntries; ++i) {
        if (f.OwnEntry(i)) continue;
        SCOPED_TRACE(i);
        EXPECT_EQ(f.table[i].Data, nullptr);
        EXPECT_TRUE(f.table[i].InternalName.empty());
    }
}
