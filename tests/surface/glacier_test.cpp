// Static glaciers of the snow model: the section's checks, ice and firn melt
// by hand, the linear runoff storages by hand and their water balance, the
// storage content section read back, thread invariance.

#include <gtest/gtest.h>
#include <omp.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>

#include "surface/glacier_physics.h"
#include "surface/snow_fixture.h"

using namespace snowtest;
using testsupport::FileExists;
using testsupport::ReadFile;
using testsupport::WriteFile;

namespace {

// The lines of "[ice_firn]", numbered 1 to 52 (the static methods read 1 to 22).
struct IceFirnSection {
    std::map<int, std::string> Lines;
    IceFirnSection() {
        const char* const defaults[] = {
            "",           "1",          "7",           "5",          "4",         "2",        "0.01",
            "0.02",       "0.005",      "0.01",        "10",         "0",         "5",        "0",
            "0",          "0",          "firnmelt.asc", "0",         "qfirn.sta 0", "icemelt.asc", "0",
            "qice.sta 0", "qglac.sta 0", "qsgl.sta 0", "0",          "3 2500 0.5", "30 9",    "28.5 1.36 5 0",
            "firn.stack", "0",          "firn.sta 0",  "gmb.asc",    "0",         "ogmb.asc", "0",
            "gmb1.sta 0", "gmb2.sta 0", "1",           "nog.sta 0",  "gs.asc",    "0",        "gl.asc",
            "0",          "gt.asc",     "0",           "gm.asc",     "0",         "gst.asc",  "0",
            "gtt.asc",    "0",          "ge.asc",      "0"};
        for (int i = 1; i <= 52; ++i) Lines[i] = defaults[i];
    }
    std::string Text() const {
        const int method = std::stoi(Lines.at(1));
        const int end = method > 10 ? 52 : 22;
        std::string text = "[ice_firn]\n";
        for (int i = 1; i <= end; ++i) text += Lines.at(i) + "\n";
        return text;
    }
};

// A glacier run's inputs: no precipitation, the temperature `t`, the ice_firn
// grid from `iceFirn` (row-major, nodata-free).
void AddGlacierInputs(SnowFixture& f, double t, const std::vector<double>& iceFirn) {
    f.AddInputs(0, t);
    double** grid = f.Add("ice_firn", 0);
    size_t k = 0;
    for (int r = 1; r <= f.rows; ++r)
        for (int c = 1; c <= f.cols; ++c, ++k)
            if (grid[r][c] != -9999) grid[r][c] = iceFirn[k];
}

// A runoff table with row 0 for `n` subbasins, each holding `fill`.
struct Target {
    std::vector<double> Row;
    double* Rows[1];
    Target(int n, double fill) : Row(static_cast<size_t>(n) + 1, fill) { Rows[0] = Row.data(); }
    double** Table() { return Rows; }
};

}  // namespace

// Every check of the glacier set-up ends the run with its code and text.
TEST(GlacierSetup, Failures) {
    struct Case {
        const char* name;
        int method;
        std::map<int, std::string> lines;
        const char* grids;  // "i" ice_firn, "g" GlacierizedCells, "c" GlacierCodes
        double fraction, code;
        int code_;
        const char* text;
    } cases[] = {
        {"glacier method 3", 3, {}, "i", 1, 1, 80, "Method for glacier melt must be 1(resp 11 for dynamic model"},
        {"static method, GlacierizedCells only", 1, {}, "g", 1, 1, 33, "ice_firn"},
        {"dynamic method without codes", 11, {}, "g", 1, 1, 33, "GlacierCodes"},
        {"a glacier cell without code", 11, {}, "gc", 1, -9999, 80,
         "There is a cell in the GlacierizedCells-grid having no valid value in \nGlacierCodes (must be an integer ID "
         "for each separate glacier) at row 1 and col 1"},
        {"no glacier cell", 11, {}, "gc", 0, 1, 80,
         "There are no glacierized cells in GlacierizedCells-grid (all nodata or equal to 0)!"},
        {"no glacier code in the subbasins", 11, {}, "gc", 1, 0, 80, ")contains nodata values only. \n"},
        {"line 25 with two values", 11, {{25, "3 2500"}}, "gc", 1, 1, 80,
         "Could not read the three parameters firn_levels (int),\nfirn_base (double), and deltafirnper100m"},
        {"line 26 with one value", 11, {{26, "30"}}, "gc", 1, 1, 80, "Could not read the two parameters GMBEvalDay"},
        {"line 27 with three values", 11, {{27, "28.5 1.36 5"}}, "gc", 1, 1, 80,
         "Could not read the four parameters VAscaling"},
        {"firn_levels 0", 11, {{25, "0 2500 0.5"}}, "gc", 1, 1, 80, "firn_levels of [ice_firn] must be 1 or above. Here: 0"},
        {"numElevBands 0", 11, {{27, "28.5 1.36 0 0"}}, "gc", 1, 1, 80,
         "numElevBands of [ice_firn] must be 1 or above. Here: 0"},
        {"VAexponent 0", 11, {{27, "28.5 0 5 0"}}, "gc", 1, 1, 80, "VAexponent of [ice_firn] must be above 0. Here: 0"},
        {"extraWeightFactorBand0 -1", 11, {{27, "28.5 1.36 5 -1"}}, "gc", 1, 1, 80,
         "extraWeightFactorBand0 of [ice_firn] must be 0 or above. Here: -1"},
        {"GMBEvalMonth 13", 11, {{26, "30 13"}}, "gc", 1, 1, 80, "GMBEvalMonth of [ice_firn] must be within 1 to 12. Here: 13"},
        {"GMBEvalDay 0", 11, {{26, "0 9"}}, "gc", 1, 1, 80, "GMBEvalDay of [ice_firn] must be within 1 to 31. Here: 0"},
        {"kice_els -1", 1, {{10, "-1"}}, "i", 1, 1, 80,
         "storage constant kice_els of [ice_firn] must be 0 or above (0 means no delay). Here: -1"},
        {"ksnow_els -0.5", 1, {{12, "-0.5"}}, "i", 1, 1, 80, "ksnow_els of [ice_firn] must be 0 or above"},
        {"a missing value", 1, {{21, ""}, {22, ""}}, "i", 1, 1, 17, "name of the qice-statistic-file for "},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SnowFixture f(2, 2, {{1, 1}, {1, 1}}, {{2600, 2700}, {2800, 2900}});
        f.AddInputs(0, 0);
        const std::string grids = c.grids;
        if (grids.find('i') != std::string::npos) f.Add("ice_firn", c.fraction);
        if (grids.find('g') != std::string::npos) f.Add("GlacierizedCells", c.fraction);
        if (grids.find('c') != std::string::npos) {
            double** codes = f.Add("GlacierCodes", 1);
            codes[1][1] = c.code;
            if (c.code != -9999) codes[1][2] = codes[2][1] = codes[2][2] = c.code;
        }
        IceFirnSection ice;
        ice.Lines[1] = std::to_string(c.method);
        for (const auto& [line, value] : c.lines) ice.Lines[line] = value;
        EXPECT_EQ(f.MakeCode(SnowSection(), 60, ice.Text()), c.code_);
        EXPECT_NE(f.Diagnostics().find(c.text), std::string::npos) << f.Diagnostics().substr(0, 3000);
    }
}

// A glacier in two subbasins ends the set-up with 84.
TEST(GlacierSetup, GlacierInTwoSubbasins) {
    SnowFixture f(1, 3, {{1, 1, 2}}, {{2600, 2700, 2800}});
    f.AddInputs(0, 0);
    f.Add("GlacierizedCells", 1);
    f.Add("GlacierCodes", 7);
    IceFirnSection ice;
    ice.Lines[1] = "11";
    EXPECT_EQ(f.MakeCode(SnowSection(), 60, ice.Text()), 84);
    EXPECT_NE(f.Diagnostics().find("!!!! ERROR !!!! \n\nglacier 7 is located in more than one subbasin:\nFirst cell "
                                   "was found in subbasin 1,\nwhereas the cell in row 1 and col 3 belongs to subbasin "
                                   "2.\nPlease make sure that each single glacier belongs to one specific subbasin only."),
              std::string::npos)
        << f.Diagnostics();
}

// Method 2 derives the snow-on-ice statistics name from the qglac name.
TEST(GlacierSetup, SnowOnIceStatisticsName) {
    for (const auto& [glacierName, expected] :
         std::vector<std::pair<std::string, std::string>>{{"glac.out", "glac_qsgl_.out"}, {"glac", "glac_qsgl_"}}) {
        SnowFixture f(1, 2, {{1, 1}}, {{2600, 2700}});
        AddGlacierInputs(f, 0, {1, 2});
        f.Add("global_radiation", 100);
        IceFirnSection ice;
        ice.Lines[1] = "2";
        ice.Lines[22] = glacierName + " 2024";
        auto model = f.Make(SnowSection(), 60, ice.Text());
        model->DeleteModule();
        EXPECT_TRUE(FileExists(f.dir.file("out/" + expected))) << expected;
        EXPECT_NE(ReadFile(f.dir.file("out/" + expected)).find("snow_melt_from_ice_areas__"), std::string::npos);
    }
    // method 2 needs a radiation grid
    SnowFixture f(1, 2, {{1, 1}}, {{2600, 2700}});
    AddGlacierInputs(f, 0, {1, 2});
    IceFirnSection ice;
    ice.Lines[1] = "2";
    EXPECT_EQ(f.MakeCode(SnowSection(), 60, ice.Text()), 33);
}

// Method 1 by hand, hourly at 5 degC: ice 7 x 5 / 24, firn 5 x 5 / 24, nothing
// in a cell without glacier; a cell with snow melts its ice only once the
// pack's solid snow is gone, less that step's snow melt.
TEST(GlacierStep, StaticMeltByHand) {
    SnowFixture f(1, 4, {{1, 1, 1, 1}}, {{2600, 2700, 2800, 2900}});
    AddGlacierInputs(f, 5, {1, 2, 0, 1});
    f.Add("debris_on_glaciers", -9999);
    auto model = f.Make(SnowSection(), 60, IceFirnSection().Text());
    double** ice = f.Grid("melt_from_ice");
    double** firn = f.Grid("melt_from_firn");
    double** solid = f.Grid("snowstorage_solid");
    double** total = f.Grid("snow_storage_total");
    solid[1][4] = 1;
    total[1][4] = 1;
    model->RunTimeStep(1, 1, 7, 2020);
    EXPECT_NEAR(ice[1][1], 7.0 * 5 / 24, 1e-15);
    EXPECT_EQ(firn[1][1], 0);
    EXPECT_NEAR(firn[1][2], 5.0 * 5 / 24, 1e-15);
    EXPECT_EQ(ice[1][2], 0);
    EXPECT_EQ(ice[1][3], 0);
    EXPECT_EQ(firn[1][3], 0);
    // 4 x 5 / 24 of the 1 mm melt: snow is left, the ice does not melt
    EXPECT_NEAR(solid[1][4], 1 - 4.0 * 5 / 24, 1e-15);
    EXPECT_EQ(ice[1][4], 0);
    const double left = solid[1][4];
    model->RunTimeStep(2, 1, 7, 2020);
    EXPECT_EQ(solid[1][4], 0);
    EXPECT_NEAR(ice[1][4], 7.0 * 5 / 24 - left, 1e-15);
    EXPECT_NEAR(ice[1][1], 7.0 * 5 / 24, 1e-15);

    // below T0 nothing melts; a debris factor scales the ice melt only
    SnowFixture g(1, 2, {{1, 1}}, {{2600, 2700}});
    AddGlacierInputs(g, 5, {1, 2});
    g.Add("debris_on_glaciers", 0.5);
    auto debris = g.Make(SnowSection(), 60, IceFirnSection().Text());
    debris->RunTimeStep(1, 1, 7, 2020);
    EXPECT_NEAR(g.Grid("melt_from_ice")[1][1], 0.5 * 7.0 * 5 / 24, 1e-15);
    EXPECT_NEAR(g.Grid("melt_from_firn")[1][2], 5.0 * 5 / 24, 1e-15);
    g.Grid("temperature")[1][1] = g.Grid("temperature")[1][2] = -1;
    debris->RunTimeStep(2, 1, 7, 2020);
    EXPECT_EQ(g.Grid("melt_from_ice")[1][1], 0);
    EXPECT_EQ(g.Grid("melt_from_firn")[1][2], 0);
}

// Ice melt only, empty storages, kice_els 10: after ten hourly steps the ice
// storage gives 1.458333 (1 - e^-1) per glacier area; the target holds that
// times the glacier share, a subbasin without glacier keeps its value, and
// the statistics codes do not change it.
TEST(GlacierStep, RunoffStoragesByHand) {
    struct Layout {
        const char* name;
        std::vector<double> iceFirn;
        double share;
    } layouts[] = {{"whole subbasin ice", {1, 1, 0}, 1.0}, {"half the subbasin ice", {1, 0, 0}, 0.5}};
    for (const Layout& layout : layouts) {
        std::vector<double> results;
        for (const char* code : {"0", "2001", "2024", "1001"}) {
            SCOPED_TRACE(std::string(layout.name) + ", ice statistics code " + code);
            SnowFixture f(1, 3, {{1, 1, 2}}, {{2600, 2700, 2800}});
            AddGlacierInputs(f, 5, layout.iceFirn);
            IceFirnSection ice;
            ice.Lines[21] = std::string("qice.sta ") + code;
            ice.Lines[22] = "qglac.sta 2001";
            auto model = f.Make(SnowSection(), 60, ice.Text());
            Target qg(2, 42);
            model->SetGlacierRunoffTarget(qg.Table());
            for (int hour = 1; hour <= 10; ++hour) model->RunTimeStep(hour, 1, 7, 2020);
            const double expected = 7.0 * 5 / 24 * (1 - std::exp(-1.0));
            EXPECT_NEAR(model->Qice_els[1], expected, 1e-12);
            EXPECT_NEAR(expected, 0.921842, 1e-6);
            EXPECT_EQ(model->Qfirn_els[1], 0);
            EXPECT_EQ(model->Qsnow_els[1], 0);
            EXPECT_NEAR(qg.Row[1], expected * layout.share, 1e-12);
            EXPECT_EQ(qg.Row[2], 42);
            results.push_back(qg.Row[1]);
            model->DeleteModule();
            // the total glacier melt statistics show the storage outflow
            const std::string text = ReadFile(f.dir.file("out/qglac.sta"));
            const size_t last = text.rfind("\n2020");
            ASSERT_NE(last, std::string::npos);
            double y, m, d, h, v1;
            ASSERT_EQ(std::sscanf(text.c_str() + last + 1, "%lf %lf %lf %lf %lf", &y, &m, &d, &h, &v1), 5);
            EXPECT_NEAR(v1, expected * layout.share, 1e-5);
        }
        for (double r : results) EXPECT_EQ(r, results[0]);
    }
}

// Inflow summed over the steps = runoff summed + change of the water held by
// the three storages, per subbasin, with ice, firn, a storage without delay
// and changing temperatures.
TEST(GlacierStep, WaterBalanceOfTheRunoffStorages) {
    SnowFixture f(2, 4, {{1, 1, 2, 2}, {1, 3, 2, 2}}, {{2600, 2700, 2800, 2900}, {2650, 2750, 2850, 2950}});
    AddGlacierInputs(f, 5, {1, 2, 1, 0, 0, 0, 2, 1});
    IceFirnSection ice;
    ice.Lines[10] = "7";   // kice_els
    ice.Lines[11] = "0";   // kfirn_els: no delay
    ice.Lines[12] = "3";   // ksnow_els
    ice.Lines[13] = "0.4"; // initial storages
    ice.Lines[14] = "0.2";
    auto model = f.Make(SnowSection(), 60, ice.Text());
    Target qg(3, -1);
    model->SetGlacierRunoffTarget(qg.Table());
    const double k[3] = {7, 0, 3};
    auto held = [&](int s, double share) {
        return share * (glacierphys::StoredWater(model->Qice_els[static_cast<size_t>(s)], k[0]) +
                        glacierphys::StoredWater(model->Qfirn_els[static_cast<size_t>(s)], k[1]) +
                        glacierphys::StoredWater(model->Qsnow_els[static_cast<size_t>(s)], k[2]));
    };
    const double shares[3] = {2.0 / 3, 3.0 / 4, 0};
    const int cells[3] = {3, 4, 1};
    double before[2] = {held(1, shares[0]), held(2, shares[1])};
    double inflow[2] = {}, runoff[2] = {};
    double** t = f.Grid("temperature");
    for (int step = 0; step < 72; ++step) {
        for (int r = 1; r <= 2; ++r)
            for (int c = 1; c <= 4; ++c) t[r][c] = 8 * std::sin(step * 0.3 + r + c) - 1;
        model->RunTimeStep(step % 24 + 1, 1 + step / 24, 7, 2020);
        double sums[3] = {};
        for (int r = 1; r <= 2; ++r)
            for (int c = 1; c <= 4; ++c) {
                const int s = static_cast<int>(f.table[1].Data[r][c]) - 1;
                sums[s] += f.Grid("melt_from_ice")[r][c] + f.Grid("melt_from_firn")[r][c];
            }
        for (int s = 0; s < 2; ++s) {
            inflow[s] += sums[s] / cells[s];
            runoff[s] += qg.Row[static_cast<size_t>(s) + 1];
        }
        EXPECT_EQ(qg.Row[3], -1);  // no glacier in subbasin 3
    }
    for (int s = 0; s < 2; ++s) {
        const double change = held(s + 1, shares[s]) - before[s];
        const double residual = inflow[s] - runoff[s] - change;
        EXPECT_GT(inflow[s], 1);
        EXPECT_LE(std::fabs(residual), 1e-9 * inflow[s]) << "subbasin " << s + 1;
        std::printf("subbasin %d: inflow %.6f mm, runoff %.6f mm, storage change %.6f mm, residual %.3g\n", s + 1,
                    inflow[s], runoff[s], change, residual);
    }
}

// The storages go into the storage content file and come back bit for bit:
// ten steps, a warm start and ten more equal twenty steps; a file that does
// not fit ends the run with 71, a missing file or section gives a cold start.
TEST(GlacierState, StorageContentSection) {
    const std::vector<std::vector<double>> zones = {{1, 1, 2, 3}, {1, 2, 2, 3}};
    const std::vector<std::vector<double>> dem = {{2600, 2700, 2800, 2900}, {2650, 2750, 2850, 2950}};
    const std::vector<double> iceFirn = {1, 2, 1, 0, 0, 1, 2, 1};
    const std::string name = "state.txt";
    auto run = [&](SnowFixture& f, int firstStep, int lastStep, int readMode, Target& qg) {
        AddGlacierInputs(f, 5, iceFirn);
        IceFirnSection ice;
        ice.Lines[10] = "4";
        ice.Lines[11] = "2.5";
        ice.Lines[12] = "3";
        auto model = f.Make(SnowSection(), 60, ice.Text());
        model->SetGlacierRunoffTarget(qg.Table());
        model->ReadStorageContent(&name, readMode);
        model->SetStatus(1);
        for (int step = firstStep; step <= lastStep; ++step) {
            for (int r = 1; r <= 2; ++r)
                for (int c = 1; c <= 4; ++c) f.Grid("temperature")[r][c] = 6 * std::sin(step * 0.4 + c) + 2;
            model->RunTimeStep(step % 24 + 1, 1 + step / 24, 7, 2020);
        }
        std::vector<double> q = {model->Qice_els[1], model->Qfirn_els[1], model->Qsnow_els[1], model->Qice_els[3],
                                 model->Qfirn_els[2]};
        model->DeleteModule();
        return q;
    };
    SnowFixture whole(2, 4, zones, dem);
    Target all(3, 0);
    const auto continuous = run(whole, 0, 19, 0, all);

    SnowFixture first(2, 4, zones, dem);
    Target half(3, 0);
    run(first, 0, 9, 0, half);
    const std::string written = ReadFile(first.dir.file("out/" + name));
    ASSERT_EQ(written.rfind("[snow_model]\n3 (number of subasins)\n1\t", 0), 0u) << written;
    SnowFixture second(2, 4, zones, dem);
    WriteFile(second.dir.file("in/" + name), "[soil_model]\nother lines\n" + written);
    Target rest(3, 0);
    const auto warm = run(second, 10, 19, 1, rest);
    EXPECT_EQ(warm, continuous);
    EXPECT_EQ(rest.Row, all.Row);
    EXPECT_EQ(ReadFile(second.dir.file("out/" + name)), ReadFile(whole.dir.file("out/" + name)));

    // files that do not fit the run
    std::string four = "[snow_model]\n3 (number of subasins)\n";
    for (int i = 1; i <= 3; ++i)
        for (const char* x : {"ice", "firn", "snow"})
            four += std::to_string(i) + "\t0.5(TG code and Q" + x + "_slr value)\n";
    std::string renumbered = four;
    renumbered.replace(renumbered.find("\n2\t"), 3, "\n5\t");
    struct Bad {
        const char* name;
        std::vector<std::vector<double>> zones;
        std::string text;
        const char* message;
    } bad[] = {
        {"three subbasins read by four", {{1, 1, 2, 3}, {1, 2, 4, 3}}, four,
         "number of subbasins:\nvalue in actual control is:   4\nbut value in storage file is: 3"},
        {"a line numbered 5 for subbasin 2", zones, renumbered,
         "subbasin code:\nvalue in actual control is:   2\nbut value in storage file is: 5"},
        {"a cut section", zones, four.substr(0, four.find("\n3\t") + 1), "subbasin code:\nvalue in actual control is:   3"},
        {"a value missing", zones, four.substr(0, four.rfind("0.5")), "Qsnow_els of subbasin 3"},
    };
    // The code a glacier model of `f` throws reading the state in read mode 1
    // (0 when it reads it).
    auto readCode = [&](SnowFixture& f) {
        AddGlacierInputs(f, 5, iceFirn);
        auto model = f.Make(SnowSection(), 60, IceFirnSection().Text());
        try {
            model->ReadStorageContent(&name, 1);
        } catch (int thrown) {
            return thrown;
        }
        return 0;
    };
    for (const Bad& b : bad) {
        SCOPED_TRACE(b.name);
        SnowFixture f(2, 4, b.zones, dem);
        WriteFile(f.dir.file("in/" + name), b.text);
        EXPECT_EQ(readCode(f), 71);
        EXPECT_NE(f.Diagnostics().find(b.message), std::string::npos) << f.Diagnostics().substr(0, 2000);
    }

    // a missing file or section of a run asked to go on from a state: refused
    for (const bool file : {false, true}) {
        SnowFixture f(2, 4, zones, dem);
        if (file) WriteFile(f.dir.file("in/" + name), "[soil_model]\n1\n");
        EXPECT_EQ(readCode(f), file ? 71 : 64);
        EXPECT_NE(f.Diagnostics().find(file ? "the section [snow_model] is missing in " : "error opening storage content file "),
                  std::string::npos);
    }
}

// One and eight threads give the same melt, outflow and runoff bits, the
// small grid's passes run in parallel.
TEST(GlacierStep, ThreadsGiveTheSameBits) {
    setenv("RUVEX_PARALLEL_MIN_CELLS", "1", 1);
    const int R = 45, C = 50;
    std::vector<std::vector<double>> zones(R, std::vector<double>(C, 1)), dem(R, std::vector<double>(C, 0));
    std::vector<double> iceFirn;
    for (int r = 0; r < R; ++r)
        for (int c = 0; c < C; ++c) {
            zones[r][c] = c < 20 ? 1 : (r < 20 ? 2 : 3);
            dem[r][c] = 2400 + 13.0 * ((r * 7 + c * 3) % 11) + r;
            iceFirn.push_back((r + c) % 5 == 0 ? 2 : ((r * c) % 3 == 0 ? 1 : 0));
        }
    auto run = [&](int threads) {
        omp_set_num_threads(threads);
        SnowFixture f(R, C, zones, dem);
        AddGlacierInputs(f, 0, iceFirn);
        IceFirnSection ice;
        ice.Lines[15] = "0.1";
        auto model = f.Make(SnowSection(), 60, ice.Text());
        Target qg(3, 0);
        model->SetGlacierRunoffTarget(qg.Table());
        std::vector<double> out;
        for (int step = 0; step < 30; ++step) {
            for (int r = 1; r <= R; ++r)
                for (int c = 1; c <= C; ++c) {
                    f.Grid("temperature")[r][c] = 4 * std::sin(step * 0.5 + r * 0.1) - c * 0.05;
                    f.Grid("precipitation")[r][c] = step % 7 == 0 ? 2 : 0;
                }
            model->RunTimeStep(step % 24 + 1, 1 + step / 24, 6, 2020);
            for (const char* g : {"melt_from_ice", "melt_from_firn", "snowcover_outflow", "snow_storage_total"})
                for (int r = 1; r <= R; ++r)
                    for (int c = 1; c <= C; ++c) out.push_back(f.Grid(g)[r][c]);
            out.insert(out.end(), qg.Row.begin(), qg.Row.end());
        }
        return out;
    };
    const auto one = run(1), eight = run(8);
    omp_set_num_threads(omp_get_num_procs());
    ASSERT_EQ(one.size(), eight.size());
    EXPECT_TRUE(std::memcmp(one.data(), eight.data(), one.size() * sizeof(double)) == 0);
}

namespace {

// Two subbasins with one glacier each; the cell at 2504 m holds little firn.
const std::vector<std::vector<double>> DynZones = {{1, 1, 2}, {1, 2, 2}};
const std::vector<std::vector<double>> DynDem = {{2504, 2530, 2400}, {2600, 2502, 2800}};

void AddDynamicGrids(SnowFixture& f) {
    double** fraction = f.Add("GlacierizedCells", 0);
    double** codes = f.Add("GlacierCodes", 0);
    const double g[2][3] = {{1, 0.6, 0}, {1, 0.3, 1}};
    const double q[2][3] = {{1, 1, 0}, {1, 2, 2}};
    for (int r = 1; r <= 2; ++r)
        for (int c = 1; c <= 3; ++c) {
            fraction[r][c] = g[r - 1][c - 1];
            codes[r][c] = q[r - 1][c - 1];
        }
}

// Every input a dynamic glacier run with any snow method may ask for.
void AddDynamicInputs(SnowFixture& f) {
    f.AddInputs(0, 0);
    f.Add("wind_speed", 2);
    f.Add("cloudiness", 0.5);
    f.Add("air_humidity", 0.7);
    f.Add("AspectCorrectedGlobalRadiation", 200);
    f.Add("global_radiation", 150);
    f.Add("snow_evaporation", 0);
    AddDynamicGrids(f);
}

}  // namespace

// The firn levels from the elevation, the glacier areas and volumes with
// their floors, the mass-balance grids filling each other's holes.
TEST(GlacierSetup, DynamicStartValues) {
    SnowFixture f(1, 3, {{1, 1, 1}}, {{2700, 2400, 2600}});
    f.AddInputs(0, 0);
    double** fraction = f.Add("GlacierizedCells", 1);
    double** codes = f.Add("GlacierCodes", 1);
    fraction[1][3] = 0.5;
    codes[1][3] = 2;
    IceFirnSection ice;
    ice.Lines[1] = "11";
    ice.Lines[29] = "3";  // the firn stack at the end of the run
    auto model = f.Make(SnowSection(), 60, ice.Text());
    for (int k = 1; k <= 3; ++k) {
        EXPECT_EQ(model->firnStack[1][1][k], 100);
        EXPECT_EQ(model->firnStack[1][2][k], 0);
    }
    EXPECT_EQ(model->firnStack[1][1][0], 300);
    EXPECT_EQ(f.Grid("firn_WE_stack")[1][1], 300);
    EXPECT_EQ(model->firnStack[1][2][0], 0);
    ASSERT_EQ(model->glaciers.size(), 2u);
    const auto& small = model->glaciers[1];
    EXPECT_EQ(small.code, 2);
    EXPECT_EQ(small.area, 0.01);
    EXPECT_NEAR(small.volume, 0.0543056, 1e-7);
    EXPECT_EQ(small.oldVolume, small.volume);
    EXPECT_NEAR(small.oldArea, 0.01, 1e-12);
    EXPECT_NEAR(model->glaciers[0].area, 0.02, 1e-15);
    EXPECT_EQ(f.Grid("GlacierizedCellsOld")[1][3], 0.5);
    EXPECT_EQ(f.Grid("GlacierCodesOld")[1][3], 2);

    ice.Lines[27] = "10 1.36 5 0";
    SnowFixture g(1, 3, {{1, 1, 1}}, {{2700, 2400, 2600}});
    g.AddInputs(0, 0);
    g.Add("GlacierizedCells", 0.5);
    g.Add("GlacierCodes", 2)[1][1] = 1;
    g.Grid("GlacierizedCells")[1][1] = 0;
    auto floor = g.Make(SnowSection(), 60, ice.Text());
    ASSERT_EQ(floor->glaciers.size(), 1u);
    EXPECT_EQ(floor->glaciers[0].oldVolume, 0.0543);
    EXPECT_NEAR(floor->glaciers[0].oldArea, 0.02160, 1e-5);

    // read grids: a hole in one mass-balance grid takes the other's value
    SnowFixture h(1, 3, {{1, 1, 1}}, {{2700, 2400, 2600}});
    h.AddInputs(0, 0);
    h.Add("GlacierizedCells", 1);
    h.Add("GlacierCodes", 1);
    double** balance = f.Grid("GlacierMassBalance");
    balance[1][2] = -9999;
    model->WriteGrid(h.dir.file("in/gmb.asc"), balance, true, false);
    f.Grid("OldGlacierMassBalance")[1][2] = 120;
    model->WriteGrid(h.dir.file("in/ogmb.asc"), f.Grid("OldGlacierMassBalance"), true, false);
    for (const char* name : {"gs.asc", "gl.asc", "gt.asc"})
        model->WriteGrid(h.dir.file(std::string("in/") + name), f.Grid("TotalSnowStorage_onGlacier"), true, false);
    model->WriteStack(h.dir.file("in/firn.stack"), model->firnStack, 3, true, false);
    ice.Lines[24] = "1";
    ice.Lines[25] = "7 2500 9";  // the levels come from the file
    ice.Lines[27] = "28.5 1.36 5 0";
    auto read = h.Make(SnowSection(), 60, ice.Text());
    EXPECT_EQ(h.Grid("GlacierMassBalance")[1][2], 120);
    EXPECT_EQ(h.Grid("OldGlacierMassBalance")[1][2], 120);
    EXPECT_EQ(read->firn_levels, 3);
    EXPECT_EQ(read->firnStack[1][1][2], 100);
    EXPECT_EQ(h.Grid("firn_WE_stack")[1][1], 300);
}

// Firn by hand: 2 mm of firn in level 1 and a firn melt of 5 mm: 2 mm from
// the firn, 3 mm from the ice, no firn left.
TEST(GlacierStep, FirnRunsOutByHand) {
    SnowFixture f(1, 1, {{1}}, {{2600}});
    f.AddInputs(0, 5);
    f.Add("GlacierizedCells", 1);
    f.Add("GlacierCodes", 1);
    IceFirnSection ice;
    ice.Lines[1] = "11";
    ice.Lines[3] = "24";  // DDFfirn: 5 mm in an hour at 5 degC
    auto model = f.Make(SnowSection(), 60, ice.Text());
    model->firnStack[1][1][1] = 2;
    model->firnStack[1][1][2] = model->firnStack[1][1][3] = 0;
    model->firnStack[1][1][0] = 2;
    f.Grid("firn_WE_stack")[1][1] = 2;
    model->RunTimeStep(1, 1, 7, 2020);
    EXPECT_EQ(f.Grid("melt_from_firn")[1][1], 2);
    EXPECT_EQ(f.Grid("melt_from_ice")[1][1], 3);
    EXPECT_EQ(f.Grid("firn_WE_stack")[1][1], 0);
    EXPECT_EQ(model->firnStack[1][1][0], 0);
    EXPECT_EQ(f.Grid("GlacierMassBalance")[1][1], -5);
    // then the ice melts by its own factor
    model->RunTimeStep(2, 1, 7, 2020);
    EXPECT_EQ(f.Grid("melt_from_firn")[1][1], 0);
    EXPECT_NEAR(f.Grid("melt_from_ice")[1][1], 7.0 * 5 / 24, 1e-15);
}

// In every glacier cell and step: the mass balance changes by the change of
// the glacier pack and of the firn less the ice melt, and the glacier pack
// closes its own balance; for glacier methods 11, 12 and 13 (on the energy
// balance of snow method 5 for 30 days), with firn running out.
TEST(GlacierStep, IceMassAndGlacierPackBalance) {
    struct Case {
        int glacierMethod, snowMethod, steps;
    } cases[] = {{11, 1, 240}, {12, 2, 240}, {13, 5, 720}, {13, 1, 240}};
    for (const Case& k : cases) {
        SCOPED_TRACE("glacier method " + std::to_string(k.glacierMethod) + ", snow method " +
                     std::to_string(k.snowMethod));
        SnowFixture f(2, 3, DynZones, DynDem);
        AddDynamicInputs(f);
        SnowSection snow;
        snow.Set(1, std::to_string(k.snowMethod));
        IceFirnSection ice;
        ice.Lines[1] = std::to_string(k.glacierMethod);
        auto model = f.Make(snow, 60, ice.Text());
        Target qg(2, 0);
        model->SetGlacierRunoffTarget(qg.Table());
        double** balance = f.Grid("GlacierMassBalance");
        double** pack = f.Grid("TotalSnowStorage_onGlacier");
        double** firn = f.Grid("firn_WE_stack");
        double** fraction = f.Grid("GlacierizedCells");
        double largest = 0, firnLost = 0;
        for (int step = 0; step < k.steps; ++step) {
            double before[3][4][3];
            for (int r = 1; r <= 2; ++r)
                for (int c = 1; c <= 3; ++c) {
                    f.Grid("temperature")[r][c] = 9 * std::sin(step * 0.26 + r) + 2 - c * 0.5;
                    f.Grid("precipitation")[r][c] = (step / 5 + r + c) % 4 == 0 ? 1.2 : 0;
                    f.Grid("snow_evaporation")[r][c] = 0;
                    before[r][c][0] = balance[r][c];
                    before[r][c][1] = pack[r][c];
                    before[r][c][2] = firn[r][c];
                }
            model->RunTimeStep(step % 24 + 1, 1 + step / 24, 6, 2020);
            for (int r = 1; r <= 2; ++r)
                for (int c = 1; c <= 3; ++c) {
                    if (!(fraction[r][c] > 0)) continue;
                    const double ice = f.Grid("melt_from_ice")[r][c];
                    const double mass = (balance[r][c] - before[r][c][0]) -
                                        ((pack[r][c] - before[r][c][1]) + (firn[r][c] - before[r][c][2]) - ice);
                    const double packResidual = f.Grid("snow_fraction")[r][c] + f.Grid("rain_fraction")[r][c] -
                                                (pack[r][c] - before[r][c][1]) -
                                                f.Grid("SnowMelt_onGlacier")[r][c] -
                                                f.Grid("SnowEvaporation_onGlacier")[r][c];
                    largest = std::max({largest, std::fabs(mass), std::fabs(packResidual)});
                    ASSERT_LE(std::fabs(mass), 1e-12 * std::max(1.0, std::fabs(balance[r][c])))
                        << "mass balance, step " << step << ", cell " << r << "," << c;
                    ASSERT_LE(std::fabs(packResidual), 1e-12 * std::max(1.0, pack[r][c]))
                        << "glacier pack, step " << step << ", cell " << r << "," << c;
                    firnLost += before[r][c][2] - firn[r][c];
                }
        }
        EXPECT_EQ(firn[1][1], 0);  // the cell at 2504 m ran out of firn
        EXPECT_GT(firnLost, 0);
        EXPECT_GT(qg.Row[1], 0);
        std::printf("largest residual %.3g mm\n", largest);
    }
}

// Ten steps, the state written (grids, firn stack, storage section), and ten
// more from it equal twenty steps in the runoff and every glacier grid.
TEST(GlacierState, DynamicWarmStart) {
    const std::string name = "state.txt";
    const char* grids[] = {"melt_from_ice", "melt_from_firn", "GlacierMassBalance", "OldGlacierMassBalance",
                           "SolidSnowStorage_onGlacier", "LiquidSnowStorage_onGlacier", "TotalSnowStorage_onGlacier",
                           "SnowMelt_onGlacier", "firn_WE_stack", "snow_storage_total"};
    auto run = [&](SnowFixture& f, int first, int last, bool warm, Target& qg,
                   std::unique_ptr<schneemodellklasse>& model) {
        AddDynamicInputs(f);
        SnowSection snow;
        snow.Set(41, warm ? "1" : "0");
        IceFirnSection ice;
        ice.Lines[1] = "11";
        ice.Lines[24] = warm ? "1" : "0";
        model = f.Make(snow, 60, ice.Text());
        model->SetGlacierRunoffTarget(qg.Table());
        model->ReadStorageContent(&name, warm ? 3 : 0);  // 3: the soil model's warm start switch
        model->SetStatus(1);
        for (int step = first; step <= last; ++step) {
            for (int r = 1; r <= 2; ++r)
                for (int c = 1; c <= 3; ++c) {
                    f.Grid("temperature")[r][c] = 7 * std::sin(step * 0.3 + c) + 1;
                    f.Grid("precipitation")[r][c] = step % 4 == 0 ? 2 : 0;
                }
            model->RunTimeStep(step % 24 + 1, 1 + step / 24, 6, 2020);
        }
    };
    SnowFixture whole(2, 3, DynZones, DynDem), first(2, 3, DynZones, DynDem), second(2, 3, DynZones, DynDem);
    Target a(2, 0), b(2, 0), c(2, 0);
    std::unique_ptr<schneemodellklasse> m1, m2, m3;
    run(whole, 0, 19, false, a, m1);
    run(first, 0, 9, false, b, m2);
    const std::pair<const char*, const char*> files[] = {
        {"ssolid.asc", "snowstorage_solid"}, {"sliquid.asc", "snowstorage_liquid"}, {"stotal.asc", "snow_storage_total"},
        {"sdays.asc", "days_snow"},          {"sage.asc", "snow_age"},             {"gmb.asc", "GlacierMassBalance"},
        {"ogmb.asc", "OldGlacierMassBalance"}, {"gs.asc", "SolidSnowStorage_onGlacier"},
        {"gl.asc", "LiquidSnowStorage_onGlacier"}, {"gt.asc", "TotalSnowStorage_onGlacier"}};
    for (const auto& [file, grid] : files)
        m2->WriteGrid(second.dir.file(std::string("in/") + file), first.Grid(grid), true, false);
    m2->WriteStack(second.dir.file("in/firn.stack"), m2->firnStack, m2->firn_levels, true, false);
    m2->DeleteModule();
    std::filesystem::copy_file(first.dir.file("out/" + name), second.dir.file("in/" + name));
    run(second, 10, 19, true, c, m3);
    EXPECT_EQ(c.Row, a.Row);
    for (const char* grid : grids)
        for (int r = 1; r <= 2; ++r)
            for (int col = 1; col <= 3; ++col)
                EXPECT_EQ(std::memcmp(&whole.Grid(grid)[r][col], &second.Grid(grid)[r][col], sizeof(double)), 0)
                    << grid << " " << r << "," << col << ": " << whole.Grid(grid)[r][col] << " vs "
                    << second.Grid(grid)[r][col];
    for (int k = 0; k <= 3; ++k) EXPECT_EQ(m1->firnStack[2][2][k], m3->firnStack[2][2][k]) << k;
    EXPECT_GT(a.Row[1], 0);
}

// Response units: a non-master cell carries its master's glacier state and
// melt, firn levels included; the snow storage without glaciers counts the
// ice-free part of each cell only.
TEST(GlacierStep, ResponseUnitsAndSnowWithoutGlaciers) {
    SnowFixture f(1, 3, {{1, 1, 1}}, {{2600, 2650, 2700}});
    f.AddInputs(0, 0);
    double** fraction = f.Add("GlacierizedCells", 1);
    fraction[1][1] = 0.5;
    fraction[1][3] = 0;
    double** codes = f.Add("GlacierCodes", 1);
    codes[1][3] = 0;
    double** units = f.Add("HydrologicResponseUnits", 1);
    units[1][3] = 2;
    double** masters = f.Add("MasterHydrologicResponseUnits", -9999);
    masters[1][1] = 1;
    masters[1][3] = 2;
    IceFirnSection ice;
    ice.Lines[1] = "11";
    ice.Lines[38] = "nog.sta 2001";
    auto model = f.Make(SnowSection(), 60, ice.Text());
    for (int hour = 1; hour <= 24; ++hour) {
        for (int c = 1; c <= 3; ++c) {
            f.Grid("temperature")[1][c] = hour < 6 ? -2.0 : 6.0 + c;
            f.Grid("precipitation")[1][c] = hour < 6 ? 2.0 : 0.0;
        }
        model->RunTimeStep(hour, 1, 7, 2020);
        for (const char* name : {"melt_from_ice", "melt_from_firn", "firn_WE_stack", "GlacierMassBalance",
                                 "TotalSnowStorage_onGlacier", "SolidSnowStorage_onGlacier", "SnowMelt_onGlacier",
                                 "snow_storage_total"})
            EXPECT_EQ(f.Grid(name)[1][2], f.Grid(name)[1][1]) << name << " hour " << hour;
        for (int k = 0; k <= 3; ++k) EXPECT_EQ(model->firnStack[1][2][k], model->firnStack[1][1][k]);
    }
    EXPECT_GT(f.Grid("melt_from_firn")[1][1], 0);
    const double expected = (0.5 * f.Grid("snow_storage_total")[1][1] * 2 + f.Grid("snow_storage_total")[1][3]) / 3;
    model->DeleteModule();
    // the last hour: cells 1 and 2 count half their pack, cell 3 all of it
    const std::string text = ReadFile(f.dir.file("out/nog.sta"));
    const size_t last = text.rfind("\n2020");
    ASSERT_NE(last, std::string::npos);
    double y, m, d, h, zone;
    ASSERT_EQ(std::sscanf(text.c_str() + last + 1, "%lf %lf %lf %lf %lf", &y, &m, &d, &h, &zone), 5);
    EXPECT_NEAR(zone, expected, 1e-3);
}
