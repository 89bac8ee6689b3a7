// Solutes in the soil model on a small grid, driven through the real cell
// step and the runoff per subbasin: a solute at concentration 1 stays at 1 in
// every layer, runoff grid and runoff table; the solute balance of every cell
// and iteration step closes; decay follows the half-life whatever the
// iteration steps and whatever another set-up writes into the shared record;
// the set-up of the stacks, the point file and their failures.

#include <gtest/gtest.h>

#include <omp.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <sstream>

#include "framework/diagnostics_writer.h"
#include "framework/gridtable.h"
#include "framework/memory_handling.h"
#include "framework/statistics_table.h"
#include "framework/tracer_info.h"
#include "parameters/landuse.h"
#include "parameters/soil.h"
#include "soil/soil_model_fixture.h"
#include "soil/unsatzon.h"
#include "support/test_support.h"

using namespace testsupport;

namespace {

constexpr int Rows = 3, Cols = 4, Layers = 6;
constexpr double Dz = 0.2;

struct Section {
    std::string Head = "2 method\n0 surface water\n0 pond\n0 drainage\n0 clay\n1e-8 ksat clay\n2 ini_gw_level\n";
    std::string Control = "0 0 control point\n";
    std::string Parameters = "1 kelsqd\n3 kelsqi\n0.01 density\n2 kelsqlat\n0.05 Q0\n0.2 snow\n";
    std::string Tail = "0 readgrid\nstorage.txt\n";
    std::string Text() const {
        std::string stats, pairs;
        for (const char* s : {"qdrain", "gwstand", "gwn", "sb1", "sb2", "root", "infex", "pond", "qd", "qi", "qb",
                              "qg", "gwin", "gwex", "macro", "infilt"})
            stats += std::string(s) + ".sta 0\n";
        for (int k = 1; k <= 24; ++k) pairs += "grid" + std::to_string(k) + ".asc\n0\n";
        return Head + stats + pairs + Control + "qb.txt\ntheta.txt\nhhyd.txt\nother.txt\netr.txt\n"
               "interflow.txt\n1 codes\n" + Parameters + Tail;
    }
};

TracerInfo Solute(bool evaporating, double soil, double groundwater) {
    TracerInfo t;
    t.name = "cl_";
    t.evaporating = evaporating ? 1 : 0;
    t.max_conc = 10;
    t.soilini = soil;
    t.gwini = groundwater;
    t.path = "";
    t.statext = "sta";
    t.gridext = "stk";
    return t;
}

// One subbasin; cell (3, 4) lies outside. Works in its own directory.
struct Fixture : soiltest::SoilGridFixture {
    std::filesystem::path before = std::filesystem::current_path();
    std::vector<TracerInfo> tracers{TracerInfo()};
    std::unique_ptr<unsatzonmodellklasse> model;
    int status = -1;
    int hour = 0;

    Fixture() : SoilGridFixture(soiltest::Loam(Layers, Dz, 2e-5), 0.3, 0.1) {
        std::filesystem::current_path(dir.path());
    }
    ~Fixture() {
        model.reset();
        std::filesystem::current_path(before);
    }
    void NoEvapotranspiration() {
        for (const char* name : {"pot_transpiration0", "pot_transpiration1", "potential_evaporation"})
            for (int r = 1; r <= Rows; ++r)
                for (int c = 1; c <= Cols; ++c) Grid(name)[r][c] = 0;
    }
    // The model and its solutes; `beforeSolutes` runs between the two.
    int Make(const Section& section, int subSteps, const std::function<void()>& beforeSolutes = {}) {
        WriteFile(dir.file("model.ctl"), "[unsatzon_model]\n1 switch\n60 interval\n" + section.Text());
        settings.CompiledControlFile = dir.file("model.ctl");
        model = std::make_unique<unsatzonmodellklasse>(&status, &writer, statistics, StatisticsTableSize,
                                                       "unsatzon_model", settings, table.get(), nullptr, subSteps);
        if (status != 0) return status;
        if (beforeSolutes) beforeSolutes();
        const int T = static_cast<int>(tracers.size()) - 1;
        model->InitTracers(&status, T, tracers.data(), statistics, StatisticsTableSize);
        if (status == 0) model->SetStatus(1);
        return status;
    }
    void Step() {
        model->BeginTimeStep(hour, 1, 6, 2020);
        for (int s = 1; s <= model->SubSteps; ++s) model->RunTimeStep(hour, 1, 6, 2020);
        model->EndTimeStep(hour, 1, 6, 2020);
        ++hour;
    }
    // Concentration of layer l of solute k in a cell.
    double Concentration(int k, int r, int c, int l) {
        const double U = model->SoilTracers[static_cast<size_t>(k)].Stack[r][c][l];
        if (tracers[static_cast<size_t>(k)].evaporating) return U;
        return U / (1000 * model->Theta[r][c][l] * Dz);
    }
    std::string Diagnostics() const { return console.str(); }
};

}  // namespace

TEST(SoilTracers, ConservativeSoluteStaysAtOne) {
    struct Case {
        const char* what;
        int subSteps, method;
        double pondMaximum;  // [m]; 0: off
        bool macropores;
        const char* q0;      // baseflow constant
        bool groundwater = false;
    };
    const Case cases[] = {
        {"one sub-step", 1, 2, 0, false, "0.05"},
        {"three sub-steps, dynamic steps", 3, 3, 0, false, "0.05"},
        {"pond that overflows", 1, 2, 0.002, false, "0.05"},
        {"active macropores", 3, 2, 0, true, "0.05"},
        {"baseflow drained from the table", 1, 3, 0, false, "2"},
        {"groundwater model on, with its aquifer", 1, 2, 0, false, "0.05", true},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.what);
        Fixture f;
        f.NoEvapotranspiration();
        f.tracers.push_back(Solute(true, 1, 1));
        f.tracers.push_back(Solute(false, 1, 1));
        f.tracers[2].name = "na_";
        f.Add("concflux_tracer_1_input", 1);
        f.Add("concflux_tracer_2_input", 1);
        Section section;
        section.Control = "2 2 control point\n";
        if (k.pondMaximum > 0) {
            section.Head.replace(section.Head.find("0 pond"), 1, "1");
            f.Add("max_ponding_storage", k.pondMaximum);
        }
        if (k.method == 3) {
            section.Head.replace(0, 1, "3");
            section.Tail += "600 min step\nsubsteps.sta 0\nsubsteps.asc\n0\n";
            for (int l = 1; l <= 2; ++l) f.soils[1].ksat[static_cast<size_t>(l)] = 2e-4;
        }
        section.Parameters.replace(section.Parameters.find("0.05 Q0"), 4, k.q0);
        if (k.macropores) {
            f.soils[1].PMacroThresh = 1e-7;
            f.soils[1].MacroCapacity = 2e-6;
            f.soils[1].MacroDepth = 0.7;
            f.soils[1].CapacityRedu = 0.8;
        }
        double** aquifer[3] = {};
        if (k.groundwater) {
            aquifer[1] = f.Add("concstor_tracer_1_layer_1_groundwater_flow", 1);
            aquifer[2] = f.Add("concstor_tracer_2_layer_1_groundwater_flow", 1);
            f.Add("aquifer_thickness_1", 5);
        }
        ASSERT_EQ(f.Make(section, k.subSteps, [&] { f.model->GroundwaterActive = k.groundwater ? 1 : 0; }), 0)
            << f.Diagnostics();
        double** rain = f.Grid("precipitation");
        for (int r = 1; r <= Rows; ++r)
            for (int c = 1; c <= Cols; ++c) rain[r][c] = 30.0 * c / Cols;
        unsatzonmodellklasse& m = *f.model;
        bool direct = false, inter = false;
        for (int step = 0; step < 3; ++step) {
            f.Step();
            for (int t = 1; t <= 2; ++t) {
                SCOPED_TRACE(t);
                const SoilTracer& st = m.SoilTracers[static_cast<size_t>(t)];
                for (int r = 1; r <= Rows; ++r)
                    for (int c = 1; c <= Cols; ++c) {
                        if (!m.OwnModelCell(r, c)) continue;
                        for (int l = 1; l <= Layers; ++l)
                            ASSERT_NEAR(f.Concentration(t, r, c, l), 1, 1e-12) << r << " " << c << " " << l;
                        const double qd = m.DirectFlow[r][c], qi = m.InterFlow[r][c];
                        const double cd = t == 1 ? st.QDConc[r][c] : st.QDConc[r][c] / qd;
                        const double ci = t == 1 ? st.QIConc[r][c] : st.QIConc[r][c] / qi;
                        if (qd > 1e-9) {
                            direct = true;
                            EXPECT_NEAR(cd, 1, 1e-12);
                        }
                        if (qi > 1e-9) {
                            inter = true;
                            EXPECT_NEAR(ci, 1, 1e-12);
                        }
                        EXPECT_NEAR(st.Concentration[r][c], 1, 1e-12);
                        if (k.groundwater) {
                            EXPECT_NEAR(aquifer[t][r][c], 1, 1e-12);
                        }
                    }
                for (const char* name : {"QD", "QI", "QDd", "QIi", "QBb", "Qg"}) {
                    const std::string n = name;
                    ExchangeTable<double>* tables[] = {&m.QD, &m.QI, &m.QDd, &m.QIi};
                    double** rows = n == "QD" ? tables[0]->Rows() : n == "QI" ? tables[1]->Rows()
                                  : n == "QDd" ? tables[2]->Rows() : n == "QIi" ? tables[3]->Rows()
                                  : n == "QBb" ? m.GetQBb() : m.GetQg();
                    if (rows[0][1] > 1e-12) {
                        EXPECT_NEAR(rows[t][1], 1, 1e-12) << name;
                    }
                }
                EXPECT_NEAR(st.ZoneSums[1].sx, m.GetQg()[t][1], 0);
            }
        }
        EXPECT_TRUE(direct);
        EXPECT_TRUE(inter);
        if (k.q0[0] == '2') {
            EXPECT_GT(m.GetQBb()[0][1], 0);
        }
        // The point file of every solute holds concentrations of 1.
        m.FlushOutputs();
        for (const char* file : {"cl_point.sta", "na_point.sta"}) {
            const std::string text = ReadFile(f.dir.file(file));
            std::istringstream lines(text);
            std::string line;
            std::getline(lines, line);
            EXPECT_EQ(line.rfind("YY\tMM\tDD\tHH\ttracer concentration for tracer", 0), 0u) << line;
            int rows = 0;
            while (std::getline(lines, line)) {
                std::istringstream values(line);
                double v = 0;
                for (int i = 0; i < 4; ++i) values >> v;
                for (int l = 1; l <= Layers; ++l) {
                    ASSERT_TRUE(values >> v) << line;
                    EXPECT_NEAR(v, 1, 1e-5) << line;
                }
                ++rows;
            }
            EXPECT_EQ(rows, 3 * k.subSteps);
        }
    }
}

TEST(SoilTracers, SoluteBalanceOfEveryCellAndIterationStep) {
    struct Case {
        const char* what;
        bool evaporating, radioactive;
        int subSteps, method;
        double pondMaximum;
        bool groundwater = false;
    };
    const Case cases[] = {
        {"amounts, groundwater model on", false, false, 1, 2, 0, true},
        {"concentrations, groundwater model on", true, true, 2, 2, 0, true},
        {"concentrations", true, false, 2, 2, 0},
        {"amounts", false, false, 2, 2, 0},
        {"amounts, pond", false, false, 1, 2, 0.005},
        {"concentrations, pond, decay", true, true, 1, 2, 0.005},
        {"amounts, dynamic steps, decay", false, true, 1, 3, 0},
    };
    double largest = 0;
    for (const Case& k : cases) {
        SCOPED_TRACE(k.what);
        Fixture f;
        TracerInfo solute = Solute(k.evaporating, 0.5, 1.5);
        if (k.radioactive) {
            solute.radioactive = 1;
            solute.half_time = 2;
        }
        f.tracers.push_back(solute);
        f.Add("concflux_tracer_1_input", 2);
        Section section;
        if (k.pondMaximum > 0) {
            section.Head.replace(section.Head.find("0 pond"), 1, "1");
            f.Add("max_ponding_storage", k.pondMaximum);
        }
        if (k.method == 3) {
            section.Head.replace(0, 1, "3");
            section.Tail += "600 min step\nsubsteps.sta 0\nsubsteps.asc\n0\n";
            for (int l = 1; l <= 2; ++l) f.soils[1].ksat[static_cast<size_t>(l)] = 2e-4;
        }
        if (k.groundwater) {
            f.Add("concstor_tracer_1_layer_1_groundwater_flow", 3);
            f.Add("aquifer_thickness_1", 4);
        }
        ASSERT_EQ(f.Make(section, k.subSteps, [&] { f.model->GroundwaterActive = k.groundwater ? 1 : 0; }), 0)
            << f.Diagnostics();
        double** rain = f.Grid("precipitation");
        for (int r = 1; r <= Rows; ++r)
            for (int c = 1; c <= Cols; ++c) rain[r][c] = 24.0 * c / Cols;
        int records = 0;
        unsatzon::TracerColumnLoads total;
        f.model->TracerObserver = [&](const unsatzonmodellklasse::TracerStepRecord& s) {
            ++records;
            const unsatzon::TracerColumnLoads& x = s.Loads;
            total.Direct += x.Direct;
            total.Interflow += x.Interflow;
            total.Baseflow += x.Baseflow;
            total.Decay += x.Decay;
            total.Evapotranspiration += x.Evapotranspiration;
            const double residual = s.Before + x.Input + x.Supply + x.River - x.Out() - s.After;
            const double scale = std::max(1.0, s.Before);
            largest = std::max(largest, std::fabs(residual) / scale);
            EXPECT_NEAR(residual / scale, 0, 1e-13) << "row " << s.Row << ", column " << s.Column;
        };
        for (int step = 0; step < 3; ++step) f.Step();
        EXPECT_GT(records, 0);
        // The solute moved on every path.
        EXPECT_GT(total.Direct, 0);
        EXPECT_GT(total.Interflow, 0);
        if (!k.groundwater) {
            EXPECT_GT(total.Baseflow, 0);  // with the groundwater model the column drains into it
        }
        EXPECT_EQ(total.Decay > 0, k.radioactive);
        EXPECT_EQ(total.Evapotranspiration > 0, k.evaporating);
    }
    std::printf("solute balance per cell and iteration step: largest relative residual %.3g\n", largest);
}

TEST(SoilTracers, DecayFollowsTheHalfLife) {
    for (int method : {2, 3}) {
        for (bool evaporating : {true, false}) {
            SCOPED_TRACE(std::to_string(method) + (evaporating ? " concentrations" : " amounts"));
            Fixture f;
            f.NoEvapotranspiration();
            TracerInfo solute = Solute(evaporating, 1, 1);
            solute.radioactive = 1;
            solute.half_time = 1;
            f.tracers.push_back(solute);
            f.Add("concflux_tracer_1_input", 0);
            Section section;
            if (method == 3) {
                section.Head.replace(0, 1, "3");
                section.Tail += "900 min step\nsubsteps.sta 0\nsubsteps.asc\n0\n";
                for (int l = 1; l <= Layers; ++l) f.soils[1].ksat[static_cast<size_t>(l)] = 1e-2;
            }
            ASSERT_EQ(f.Make(section, 1), 0) << f.Diagnostics();
            // Another sub-model with another interval sets up the same solute.
            f.tracers[1].decay_factor = 0.123;
            for (int step = 1; step <= 48; ++step) {
                f.Step();
                if (step != 24 && step != 48) continue;
                const double expected = step == 24 ? 0.5 : 0.25;
                for (int r = 1; r <= Rows; ++r)
                    for (int c = 1; c <= Cols; ++c) {
                        if (!f.model->OwnModelCell(r, c)) continue;
                        for (int l = 1; l <= Layers; ++l)
                            ASSERT_NEAR(f.Concentration(1, r, c, l), expected, 1e-9) << r << " " << c << " " << l;
                    }
            }
            if (method == 3) {
                EXPECT_EQ(f.Grid("number_of_substeps")[2][2], 4);
            }
        }
    }
}

TEST(SoilTracers, SetUpOfTheStacks) {
    for (bool evaporating : {true, false}) {
        Fixture f;
        f.tracers.push_back(Solute(evaporating, 0.5, 2));
        f.Add("concflux_tracer_1_interception_model", 0);
        ASSERT_EQ(f.Make(Section(), 1, [&] {
                      f.model->GroundwaterLevel[1][1] = 1;
                      f.model->GroundwaterLevel[1][2] = Layers;
                  }),
                  0)
            << f.Diagnostics();
        const SoilTracer& st = f.model->SoilTracers[1];
        for (int l = 1; l <= Layers; ++l) {
            EXPECT_NEAR(f.Concentration(1, 1, 1, l), 2, 1e-12) << l;
            EXPECT_NEAR(f.Concentration(1, 1, 2, l), l < Layers ? 0.5 : 2, 1e-12) << l;
        }
        EXPECT_EQ(st.Stack[3][4][1], -9999);
        EXPECT_EQ(st.Concentration[1][1], 2);
        for (const char* name : {"_CONC_QD_1_", "_CONC_QI_1_"}) {
            ASSERT_NE(f.Grid(name), nullptr) << name;
            EXPECT_EQ(f.Grid(name)[1][1], 0);
            EXPECT_EQ(f.Grid(name)[3][4], -9999);
        }
        ASSERT_NE(f.Grid("concstor_tracer_1_unsatzon_model"), nullptr);
        const int index = FindGridEntry(f.table.get(), "concstor_tracer_1_unsatzon_model", false);
        EXPECT_EQ(f.table[index].Stack, st.Stack);
        // The first baseflow concentration is that of the groundwater layers.
        EXPECT_NEAR(f.model->GetQg()[1][1], 2, 1e-12);
        f.model->ReleaseTracers();
        EXPECT_EQ(f.Grid("_CONC_QD_1_"), nullptr);
    }
}

TEST(SoilTracers, SetUpFailures) {
    {
        // A stack one level short.
        Fixture f;
        f.tracers.push_back(Solute(true, 1, 1));
        f.Add("concflux_tracer_1_input", 0);
        modelobject io(nullptr, "");
        io.NRows = Rows;
        io.NCols = Cols;
        io.CellSize = 100;
        GridStack stack = io.matrix3d(1, Rows, 1, Cols, Layers - 1, Rows);
        for (int r = 1; r <= Rows; ++r)
            for (int c = 1; c <= Cols; ++c)
                for (int l = 0; l < Layers; ++l) stack[r][c][l] = 0.3;
        io.WriteStack(f.dir.file("cl_unsat.stk"), stack, Layers - 1, true, false);
        io.free_matrix3d(stack, 1, Rows);
        EXPECT_EQ(f.Make(Section(), 1, [&] { f.model->readgrid = 1; }), 13);
        EXPECT_NE(f.Diagnostics().find("wrong number of levels in stack cl_unsat.stk (there are 5 levels, it "
                                       "must be 6"),
                  std::string::npos)
            << f.Diagnostics();
    }
    {
        // A point file in a directory that does not exist.
        Fixture f;
        f.tracers.push_back(Solute(true, 1, 1));
        f.tracers[1].path = "missing/";
        f.Add("concflux_tracer_1_input", 0);
        Section section;
        section.Control = "2 2 control point\n";
        EXPECT_EQ(f.Make(section, 1), 65);
        EXPECT_NE(f.Diagnostics().find("error opening tracer concentration file missing/cl_point.sta"),
                  std::string::npos)
            << f.Diagnostics();
    }
    {
        // No input concentration anywhere.
        Fixture f;
        f.tracers.push_back(Solute(true, 1, 1));
        EXPECT_EQ(f.Make(Section(), 1), 33);
    }
}

// The same run on one and on four threads: every solute value is the same
// bit for bit. (Run alone, as ctest runs it, the small grid is handed to the
// threads row by row.)
TEST(SoilTracers, OneThreadEqualsFourThreads) {
    setenv("RUVEX_PARALLEL_MIN_CELLS", "1", 1);
    const int threads = omp_get_max_threads();
    std::vector<double> results[2];
    for (int k = 0; k < 2; ++k) {
        omp_set_num_threads(k == 0 ? 1 : 4);
        Fixture f;
        f.tracers.push_back(Solute(true, 0.5, 1.5));
        f.tracers.push_back(Solute(false, 0.5, 1.5));
        f.tracers[2].name = "na_";
        f.Add("concflux_tracer_1_input", 2);
        f.Add("concflux_tracer_2_input", 3);
        ASSERT_EQ(f.Make(Section(), 2), 0) << f.Diagnostics();
        double** rain = f.Grid("precipitation");
        for (int r = 1; r <= Rows; ++r)
            for (int c = 1; c <= Cols; ++c) rain[r][c] = 20.0 * c / Cols;
        for (int step = 0; step < 3; ++step) f.Step();
        for (int t = 1; t <= 2; ++t) {
            const SoilTracer& st = f.model->SoilTracers[static_cast<size_t>(t)];
            for (int r = 1; r <= Rows; ++r)
                for (int c = 1; c <= Cols; ++c) {
                    for (int l = 0; l <= Layers; ++l) results[k].push_back(st.Stack[r][c][l]);
                    results[k].push_back(st.QDConc[r][c]);
                    results[k].push_back(st.QIConc[r][c]);
                }
            for (double** rows : {f.model->GetQg(), f.model->GetQBb()}) results[k].push_back(rows[t][1]);
        }
    }
    omp_set_num_threads(threads);
    ASSERT_EQ(results[0].size(), results[1].size());
    EXPECT_EQ(std::memcmp(results[0].data(), results[1].data(), results[0].size() * sizeof(double)), 0);
}

// Silting-up water that runs off directly brings its own concentration and
// mixes with the direct runoff by water: over a sub-step with direct runoff D
// [mm] of which s is silting-up water at 5 and the rest at 1, the load is
// D + 4 s.
TEST(SoilTracers, SiltingUpWaterMixesByWater) {
    for (bool evaporating : {true, false}) {
        SCOPED_TRACE(evaporating);
        Fixture f;
        f.NoEvapotranspiration();
        f.tracers.push_back(Solute(evaporating, 1, 1));
        f.Add("concflux_tracer_1_input", 1);
        f.Add("DirectRunoffSiltingUp", 4);
        f.Add("concflux_tracer_1_SiltingUpModel", 5);
        ASSERT_EQ(f.Make(Section(), 1), 0) << f.Diagnostics();
        double** rain = f.Grid("precipitation");
        for (int r = 1; r <= Rows; ++r)
            for (int c = 1; c <= Cols; ++c) rain[r][c] = 30.0 * (c - 1) / Cols;
        f.Step();
        const SoilTracer& st = f.model->SoilTracers[1];
        for (int r = 1; r <= Rows; ++r)
            for (int c = 1; c <= Cols; ++c) {
                if (!f.model->OwnModelCell(r, c)) continue;
                const double D = f.model->DirectFlow[r][c];
                ASSERT_GE(D, 4 - 1e-12);
                const double load = evaporating ? st.QDConc[r][c] * D : st.QDConc[r][c];
                EXPECT_NEAR(load, D + 4 * 4, 1e-10) << r << " " << c;
            }
        EXPECT_NEAR(f.model->GetQD()[1][1] * f.model->GetQD()[0][1], f.model->GetQD()[0][1] + 16, 1e-9);
    }
}
