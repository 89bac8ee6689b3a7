// The snow model's set-up and teardown: the section and its checks, the grids
// it registers, the slide order and deposition capacity, a warm start from
// state grids, lakes, and the snow section of the storage content file.

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>

#include "framework/gridtable.h"
#include "surface/snow_fixture.h"
#include "surface/snowmod_physics.h"

using namespace snowtest;
using testsupport::FileExists;
using testsupport::ReadFile;
using testsupport::WriteFile;

namespace {

const std::vector<std::vector<double>> Row3 = {{1, 2, 3}, {1, 2, 3}};
const std::vector<std::vector<double>> Dem3 = {{100, 200, 300}, {110, 210, 310}};

void AddSlideGrids(SnowFixture& f, double slope) {
    for (int k = 1; k <= 4; ++k) f.Add("slidefraction" + std::to_string(k), 0.25);
    f.Add("slope_angle", slope);
}

void AddEnergyGrids(SnowFixture& f) {
    f.Add("wind_speed", 2);
    f.Add("cloudiness", 0.5);
    f.Add("air_humidity", 0.7);
    f.Add("AspectCorrectedGlobalRadiation", 100);
}

}  // namespace

// Every check of the section ends the run with its code and text; values on
// the edge of their ranges are accepted.
TEST(SnowSetup, SectionChecks) {
    struct Case {
        const char* name;
        std::map<int, std::string> lines;
        int last;  // cut the section after this line (0: whole)
        int interval;
        int code;
        const char* text;
    } cases[] = {
        {"missing value", {}, 21, 60, 17, "Writegrid of the snowdays grid for "},
        {"method 15", {{1, "15"}}, 0, 60, 17, "method for snow_model must lie within 1 to 14. Here: 15"},
        {"method 0", {{1, "0"}}, 0, 60, 17, "method for snow_model must lie within 1 to 14. Here: 0"},
        {"empty line 42", {{1, "5"}, {42, ""}}, 0, 60, 404,
         "cannot read additional parameters for snow model methods 5 to 11 from "},
        {"deposition slope 91", {{1, "8"}, {57, "91"}}, 0, 60, 405,
         "maxDepositionSlope not within parameter bounds of [0...90] Here: 91"},
        {"deposition factor 0", {{1, "8"}, {58, "0"}}, 0, 60, 406,
         "maxDepositionFactor not within parameter bounds of (0...inf). Here: 0"},
        {"slide slope 0", {{1, "8"}, {59, "0"}}, 0, 60, 407,
         "minSlideSlope not within parameter bounds of [0...90]. Here: 0"},
        {"slide fraction 1.01", {{1, "8"}, {60, "1.01"}}, 0, 60, 408,
         "slideMassFrac not within parameter bounds of (0...1.0]. Here: 1.01"},
        {"outgoing factor 0", {{1, "8"}, {61, "1"}, {62, "0"}}, 0, 60, 408,
         "outgoing long wave radiation correction factor LWOUTcorr not within parameter bounds of "
         "(0...3.0]. Here: 0"},
        {"method 5 cut at 61", {{1, "5"}}, 61, 60, 17, "outgoing long wave radiation correction factor for "},
        {"method 2 without wind", {{1, "2"}}, 0, 60, 33, "wind_speed"},
        {"721 minutes without night temperature", {}, 0, 721, 33, "temperature_night"},
        {"720 minutes", {}, 0, 720, 0, ""},
        {"edges accepted", {{1, "8"}, {57, "90"}, {59, "90"}, {60, "1"}, {62, "3"}}, 0, 60, 0, ""},
        {"deposition slope 0 accepted", {{1, "8"}, {57, "0"}}, 0, 60, 0, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SnowFixture f(2, 3, Row3, Dem3);
        f.AddInputs(0, 0);
        AddSlideGrids(f, 10);
        SnowSection section;
        for (const auto& [line, value] : c.lines) section.Set(line, value);
        // the next section follows directly: reading one line too many fails
        const std::string text = "[snow_model]\n1 switch\n" + std::to_string(c.interval) + " interval\n" +
                                 section.Text(c.last) + "[next_section]\n1\n";
        WriteFile(f.dir.file("model.ctl"), text);
        f.settings.CompiledControlFile = f.dir.file("model.ctl");
        int code = 0;
        try {
            int status = -1;
            schneemodellklasse model(&status, &f.writer, f.statistics, StatisticsTableSize, "snow_model", f.settings,
                                     f.table.get());
            EXPECT_EQ(status, 0);
            model.DeleteModule();
        } catch (int thrown) {
            code = thrown;
        }
        EXPECT_EQ(code, c.code);
        if (c.code != 0) {
            EXPECT_NE(f.Diagnostics().find(c.text), std::string::npos) << f.Diagnostics();
        }
        // nothing of a failed or finished model stays in the grid table
        EXPECT_EQ(f.Entry("snowstorage_solid"), 0);
    }
}

TEST(SnowSetup, RequiredGridsAndThresholds) {
    {
        SnowFixture f(2, 3, Row3, Dem3);
        f.AddInputs(0, 0);
        f.table[f.Entry("zonegrid_soilmodel")].InternalName = "other";
        EXPECT_EQ(f.MakeCode(SnowSection()), 33);
    }
    {
        // T0R below T0: an ERROR entry, and T0R is raised
        SnowFixture f(2, 3, Row3, Dem3);
        f.AddInputs(0, 0);
        SnowSection section;
        section.Set(3, "-1");
        auto model = f.Make(section);
        EXPECT_EQ(model->T0R, 0);
        EXPECT_NE(f.Diagnostics().find("because these thresholds are contradicting each other, T0R was set to T0!"),
                  std::string::npos);
        EXPECT_EQ(model->Status, 0);
    }
    {
        // the switch off: nothing is read or registered
        SnowFixture f(2, 3, Row3, Dem3);
        WriteFile(f.dir.file("model.ctl"), "[snow_model]\n0\n60\n");
        f.settings.CompiledControlFile = f.dir.file("model.ctl");
        int status = -1;
        schneemodellklasse model(&status, &f.writer, f.statistics, StatisticsTableSize, "snow_model", f.settings,
                                 f.table.get());
        EXPECT_EQ(model.GetSnowStorageGrid(), nullptr);
        EXPECT_EQ(model.GetSnowMethod(), 0);
        EXPECT_EQ(f.Entry("days_snow"), 0);
        EXPECT_TRUE(std::filesystem::is_empty(f.dir.file("out")));
    }
}

// The grids of an energy-balance method with slides and permafrost, their
// entries, the wiring getters and a teardown that leaves found grids alone.
TEST(SnowSetup, GridsWiringAndTeardown) {
    SnowFixture f(2, 3, Row3, Dem3);
    f.AddInputs(0, 0);
    AddSlideGrids(f, 10);
    AddEnergyGrids(f);
    f.Add("ThawCoeffPermaFrost", 0.1);
    f.Add("PermafrostThawDepth", 0);
    f.Add("root_depth1", 1);
    double** freeDays = f.Add("SnowFreeDaysGrid", 0);
    SnowSection section;
    section.Set(1, "6");
    section.Set(27, "albedo.sta 2001");
    auto model =
        f.Make(section, 60, "[permafrost]\n1\n10 Min_Snow_Age_Refreeze\n5 Max_SWE\nthaw.sta 2001\n2e-9\n");
    EXPECT_EQ(model->GetSnowMethod(), 6);
    EXPECT_EQ(model->GetSnowStorageGrid(), f.Grid("snowstorage_solid"));
    for (const char* name : {"snowstorage_liquid", "snow_storage_total", "days_snow", "snow_age", "snowtemp",
                             "surftemp", "max_deposition", "elev_order_row", "elev_order_col", "input_mass",
                             "mobile_mass", "deposition", "snow_fraction", "rain_fraction", "snowcover_outflow",
                             "melt_from_snowcover", "SnowCoverDaysGrid"}) {
        SCOPED_TRACE(name);
        EXPECT_GT(f.Entry(name), 0);
    }
    EXPECT_EQ(f.Grid("snowtemp")[1][1], -9999);
    EXPECT_EQ(f.Grid("snowstorage_solid")[1][1], 0);
    EXPECT_EQ(model->snowFreeDaysGrid, freeDays);
    EXPECT_EQ(model->reducedKsat, 2e-9);
    EXPECT_TRUE(model->permafrost);
    EXPECT_NE(ReadFile(f.dir.file("out/albedo.sta")).find("albedo____"), std::string::npos);
    EXPECT_NE(ReadFile(f.dir.file("out/thaw.sta")).find("thaw_depth_in_m_"), std::string::npos);
    model->DeleteModule();
    for (const char* name : {"snowstorage_solid", "snowtemp", "max_deposition", "SnowCoverDaysGrid", "deposition"})
        EXPECT_EQ(f.Entry(name), 0) << name;
    EXPECT_EQ(f.Grid("SnowFreeDaysGrid"), freeDays);

    // the permafrost method must be 1
    SnowFixture g(2, 3, Row3, Dem3);
    g.AddInputs(0, 0);
    g.Add("ThawCoeffPermaFrost", 0.1);
    g.Add("PermafrostThawDepth", 0);
    g.Add("root_depth1", 1);
    EXPECT_EQ(g.MakeCode(SnowSection(), 60, "[permafrost]\n2\n10\n5\nthaw.sta 0\n1e-9\n"), 80);
    EXPECT_NE(g.Diagnostics().find("method for permafrost melt must be 1 (alpha*sqrt(time))"),
              std::string::npos);
}

// The deposition capacity from the slope with the defaults, never negative,
// 0 for a maximum slope of 0; a supplied grid is used as it stands.
TEST(SnowSetup, DepositionCapacity) {
    EXPECT_EQ(snowphys::DepositionCapacity(1, 0, 55), 1);
    EXPECT_EQ(snowphys::DepositionCapacity(1, 55, 55), 0);
    EXPECT_EQ(snowphys::DepositionCapacity(1, 70, 55), 0);
    EXPECT_EQ(snowphys::DepositionCapacity(1, 0, 0), 0);
    EXPECT_EQ(snowphys::DepositionCapacity(1, 30, 0), 0);

    SnowFixture f(2, 3, Row3, Dem3);
    f.AddInputs(0, 0);
    AddSlideGrids(f, 0);
    double** slope = f.Grid("slope_angle");
    slope[1][2] = 55;
    slope[1][3] = 70;
    SnowSection section;
    section.Set(1, "8");
    auto model = f.Make(section);
    double** capacity = f.Grid("max_deposition");
    EXPECT_EQ(capacity[1][1], 1);
    EXPECT_EQ(capacity[1][2], 0);
    EXPECT_EQ(capacity[1][3], 0);
    model->DeleteModule();

    section.Set(57, "0");
    auto flat = f.Make(section);
    for (int r = 1; r <= 2; ++r)
        for (int c = 1; c <= 3; ++c) EXPECT_EQ(f.Grid("max_deposition")[r][c], 0);
    flat->DeleteModule();

    double** supplied = f.Add("max_deposition", 0.5);
    auto given = f.Make(section);
    EXPECT_EQ(given->maxDepositionGrid, supplied);
    EXPECT_EQ(supplied[1][1], 0.5);
    given->DeleteModule();
    EXPECT_EQ(f.Grid("max_deposition"), supplied);
}

// The slide order names the cells lowest first, equal elevations in
// row-major order, nodata outside the zones.
TEST(SnowSetup, ElevationOrder) {
    SnowFixture f(2, 3, {{1, 1, 1}, {1, -9999, 1}}, {{300, 100, 200}, {100, 50, 400}});
    f.AddInputs(0, 0);
    AddSlideGrids(f, 10);
    SnowSection section;
    section.Set(1, "8");
    auto model = f.Make(section);
    double** row = f.Grid("elev_order_row");
    double** col = f.Grid("elev_order_col");
    const int expected[2][3][2] = {{{1, 2}, {2, 1}, {1, 3}}, {{1, 1}, {-9999, -9999}, {2, 3}}};
    for (int r = 1; r <= 2; ++r)
        for (int c = 1; c <= 3; ++c) {
            EXPECT_EQ(row[r][c], expected[r - 1][c - 1][0]) << r << "," << c;
            EXPECT_EQ(col[r][c], expected[r - 1][c - 1][1]) << r << "," << c;
        }
}

// A warm start reads the seven state grids; a hole in a storage takes a
// neighbour's value, while the temperatures keep nodata there: the mark of an
// empty pack, which restarts from the air temperature.
TEST(SnowSetup, WarmStartFromStateGrids) {
    SnowFixture f(2, 3, Row3, Dem3);
    f.AddInputs(0, 0);
    AddEnergyGrids(f);
    const char* files[] = {"ssolid.asc", "sliquid.asc", "stotal.asc", "sdays.asc", "sage.asc", "stemp.asc",
                           "sftemp.asc"};
    const char* names[] = {"snowstorage_solid", "snowstorage_liquid", "snow_storage_total", "days_snow", "snow_age",
                           "snowtemp", "surftemp"};
    for (int k = 0; k < 7; ++k) {
        const double base = k < 5 ? 10.0 * (k + 1) : 260.0 + k;
        std::string text = "ncols 3\nnrows 2\nxllcorner 0\nyllcorner 0\ncellsize 100\nnodata_value -9999\n";
        for (int r = 1; r <= 2; ++r) {
            for (int c = 1; c <= 3; ++c) {
                const bool hole = r == 2 && c == 2;
                text += (hole ? std::string("-9999") : std::to_string(base + r * 0.25 + c * 0.5)) + " ";
            }
            text += "\n";
        }
        WriteFile(f.dir.file(std::string("in/") + files[k]), text);
    }
    SnowSection section;
    section.Set(1, "5");
    section.Set(41, "1");
    auto model = f.Make(section);
    for (int k = 0; k < 7; ++k) {
        SCOPED_TRACE(names[k]);
        double** grid = f.Grid(names[k]);
        ASSERT_NE(grid, nullptr);
        const double base = k < 5 ? 10.0 * (k + 1) : 260.0 + k;
        EXPECT_DOUBLE_EQ(grid[1][1], base + 0.75);
        EXPECT_DOUBLE_EQ(grid[2][3], base + 2 * 0.25 + 1.5);
        if (k >= 5) {
            EXPECT_EQ(grid[2][2], -9999);
        } else {
            EXPECT_NE(grid[2][2], -9999);  // taken from a neighbour
        }
    }
}

TEST(SnowSetup, Lakes) {
    {
        SnowFixture f(2, 3, Row3, Dem3);
        f.AddInputs(0, 0);
        auto model = f.Make(SnowSection());
        model->InitLakes("[lake_model]");
        EXPECT_NE(f.Diagnostics().find("no LAKE-grid was found in snow_model\nLake modelling is switched off "
                                       "for snow_model.\n"),
                  std::string::npos)
            << f.Diagnostics();
        EXPECT_EQ(model->lakeFlag, 0);
    }
    {
        SnowFixture f(2, 3, Row3, Dem3);
        f.AddInputs(0, 0);
        f.Add("lake_codes", 1);
        auto model = f.Make(SnowSection(), 60, "[lake_model]\n1\n");
        int code = 0;
        try {
            model->InitLakes("[lake_model]");
        } catch (int thrown) {
            code = thrown;
        }
        EXPECT_EQ(code, 28);
        EXPECT_NE(f.Diagnostics().find("\n\n=======================================\n!!!! ERROR !!!! "),
                  std::string::npos);
        f.Add("ponding_storage_top", 1);
        model->InitLakes("[lake_model]");
        EXPECT_EQ(model->lakeFlag, 1);
        EXPECT_EQ(model->pondingStorageGrid, f.Grid("ponding_storage_top"));
    }
    {
        // hydrologic response units: lakes stay off
        SnowFixture f(2, 3, Row3, Dem3);
        f.AddInputs(0, 0);
        f.Add("lake_codes", 1);
        f.Add("HydrologicResponseUnits", 1);
        f.Add("MasterHydrologicResponseUnits", 1);
        auto model = f.Make(SnowSection(), 60, "[lake_model]\n1\n");
        model->InitLakes("[lake_model]");
        EXPECT_EQ(model->lakeFlag, 0);
    }
}

// The snow section: 3n + 3 lines after the other sections, values that read
// back exactly; nothing for read modes 2 and 4 or without a name.
TEST(SnowSetup, StorageSection) {
    SnowFixture f(2, 3, Row3, Dem3);
    f.AddInputs(0, 0);
    const std::string name = "state.ftz_0";
    WriteFile(f.dir.file("out/" + name), "[routing_model]\n1\n\n");
    {
        auto model = f.Make(SnowSection());
        model->SetGlacierRunoffTarget(nullptr);
        model->ReadStorageContent(&name, 1);
        model->SetStatus(1);
        model->DeleteModule();
    }
    const std::string text = ReadFile(f.dir.file("out/" + name));
    std::string expected = "[routing_model]\n1\n\n[snow_model]\n3 (number of subasins)\n";
    for (int i = 1; i <= 3; ++i)
        expected += std::to_string(i) + "\t0(TG code and Qice_slr value)\n" + std::to_string(i) +
                    "\t0(TG code and Qfirn_slr value)\n" + std::to_string(i) + "\t0(TG code and Qsnow_slr value)\n";
    expected += "\n";
    EXPECT_EQ(text, expected);

    for (int mode : {2, 4}) {
        const std::string other = "other" + std::to_string(mode);
        auto model = f.Make(SnowSection());
        model->SetGlacierRunoffTarget(nullptr);
        model->ReadStorageContent(&other, mode);
        model->DeleteModule();
        EXPECT_FALSE(FileExists(f.dir.file("out/" + other)));
    }
    auto model = f.Make(SnowSection());
    model->SetGlacierRunoffTarget(nullptr);
    model->ReadStorageContent(nullptr, 1);
    model->DeleteModule();

    // the mismatch report
    auto check = f.Make(SnowSection());
    int code = 0;
    try {
        check->StorageMismatchError("number of subbasins", 4, 3);
    } catch (int thrown) {
        code = thrown;
    }
    EXPECT_EQ(code, 71);
    EXPECT_NE(f.Diagnostics().find("(snow model) error in storage file content reading number of subbasins:\n"
                                   "value in actual control is:   4\nbut value in storage file is: 3\nRuvex throws..."),
              std::string::npos);
}

// Every grid written and every statistics file on, a few steps and the
// teardown: each grid and writer is released once (run under the sanitizers).
TEST(SnowSetup, EveryOutputOnThroughTeardown) {
    SnowFixture f(2, 3, Row3, Dem3);
    f.AddInputs(1, -1);
    AddSlideGrids(f, 40);
    AddEnergyGrids(f);
    f.Add("snow_evaporation", 0);
    f.Add("max_deposition", 0.5);
    f.Add("ThawCoeffPermaFrost", 0.1);
    f.Add("PermafrostThawDepth", 0);
    f.Add("root_depth1", 1);
    f.Add("SnowFreeDaysGrid", 0);
    f.Add("deposition_index", 0.1);
    SnowSection section;
    section.Set(1, "7");
    for (int line = 15; line <= 56; ++line) {
        std::string& value = section.Lines[line];
        if (value == "0" && line != 41) value = "1";
        const size_t blank = value.find(" 0");
        if (blank != std::string::npos) value = value.substr(0, blank) + " 2001";
    }
    std::unique_ptr<schneemodellklasse> model;
    try {
        model = f.Make(section, 60, "[permafrost]\n1\n3\n5\nthaw.sta 2001\n1e-9\n");
    } catch (int code) {
        FAIL() << code << f.Diagnostics();
    }
    for (int hour = 1; hour <= 6; ++hour) {
        f.Grid("temperature")[1][1] = hour - 3;
        model->RunTimeStep(hour, 1, 1, 2020);
    }
    model->FlushStatistics();
    model->SetStatus(1);
    model->DeleteModule();
    for (const char* file : {"snow.sta", "rain.sta", "stemp.sta", "sftemp.sta", "inmass.sta", "depos.sta",
                             "thaw.sta", "outflow.sta", "stotal.sta"})
        EXPECT_TRUE(FileExists(f.dir.file(std::string("out/") + file))) << file;
    EXPECT_EQ(f.Entry("snow_fraction"), 0);
    EXPECT_GT(f.Entry("max_deposition"), 0);
    EXPECT_GT(f.Entry("SnowFreeDaysGrid"), 0);
}
