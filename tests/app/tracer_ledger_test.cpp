// Tracers through the whole model on a piece of the example basin, the
// application stepped in this process: the load of a conservative tracer
// that entered with the precipitation is held by the snow cover, the
// interception, the soil columns and the subbasins' storages or was handed
// to the routing; a tracer that enters everywhere at one concentration
// leaves every sub-model, the routing and its reservoir included, at that
// concentration; a radioactive tracer decays with its half-life in every
// sub-model that holds it, whatever step length that sub-model keeps.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <sstream>
#include <string>

#include "app/modapuzr.h"
#include "framework/diagnostics_writer.h"
#include "framework/gridtable.h"
#include "lateral/gwflow.h"
#include "routing/abfluss.h"
#include "soil/example_basin_copy.h"
#include "soil/unsatzon.h"
#include "support/in_process_run.h"
#include "support/test_support.h"
#include "surface/interzep.h"
#include "surface/snowmod.h"
#include "support/tracer_ledger.h"

using namespace testsupport;

namespace {

// A window of the example's grids, counted from 1 at the top left.
struct Window {
    int FirstRow, FirstColumn, Rows, Columns;
};

// Rows 15 to 26 and columns 18 to 37 of the example: the three subbasins
// meet there.
constexpr Window Piece{15, 18, 12, 20};

// A grid of the cropped window with one value everywhere.
std::string UniformGrid(const TempDir& dir, const Window& window, double value) {
    std::istringstream in(ReadFile(dir.file("input/zones.asc")));
    std::ostringstream out;
    std::string line;
    for (int k = 0; k < 6 && std::getline(in, line); ++k) out << line << "\n";
    char cell[64];
    std::snprintf(cell, sizeof cell, "%.17g", value);
    for (int r = 0; r < window.Rows; ++r) {
        for (int c = 0; c < window.Columns; ++c) out << (c ? " " : "") << cell;
        out << "\n";
    }
    return out.str();
}

// The tracers of a run: each line of the control file's tracer section and
// the concentration of its input grid.
struct Tracer {
    std::string Line;
    double Input = 0;
};

struct Basin {
    int EndHour = 24, EndDay = 3, EndMonth = 6, StartDay = 1, StartMonth = 6;
    int StartYear = 2019, EndYear = 2019;
    Window Cut = Piece;
    std::vector<Tracer> Tracers;
    std::function<void(std::string&)> Edit;
};

void WriteBasin(const TempDir& dir, const Basin& basin) {
    soiltest::CopyExampleInputs(dir);
    soiltest::CropExampleGrids(dir, basin.Cut.FirstRow, basin.Cut.FirstColumn, basin.Cut.Rows, basin.Cut.Columns);
    std::string control =
        soiltest::ExampleControl(basin.EndHour, basin.EndDay, basin.EndMonth, basin.StartDay, basin.StartMonth);
    ASSERT_FALSE(control.empty());
    // The years of the model time: the start year on the fourth line of the
    // section, the end year on the eighth.
    const size_t time = control.find("[model_time]\n");
    ASSERT_NE(time, std::string::npos);
    size_t at = time;
    for (int k = 0; k < 8; ++k) {
        at = control.find('\n', at) + 1;
        if (k == 3 || k == 7) {
            ASSERT_EQ(control.compare(at, 4, "2019"), 0);
            control.replace(at, 4, std::to_string(k == 3 ? basin.StartYear : basin.EndYear));
        }
    }
    control = SetSectionSwitch(control, "special_output", 0);
    control = SetSectionSwitch(control, "irrigation", 0);
    std::string section = "[substance_transport]\n" + std::to_string(basin.Tracers.size()) + "\n";
    std::string grids;
    for (size_t k = 0; k < basin.Tracers.size(); ++k) {
        section += basin.Tracers[k].Line + "\n";
        const std::string file = "tracer_" + std::to_string(k + 1) + ".asc";
        WriteFile(dir.file("input/" + file), UniformGrid(dir, basin.Cut, basin.Tracers[k].Input));
        grids += file + " concflux_tracer_" + std::to_string(k + 1) +
                 "_input fillcode = 0 writecode = 0 statfile = " + file + ".sta statcode = 0\n";
    }
    // The test's tracers in place of the example's own, with their input
    // grids in place of the example's.
    const size_t begin = control.find("[substance_transport]\n");
    ASSERT_NE(begin, std::string::npos);
    const size_t end = control.find("\n\n", begin);
    ASSERT_NE(end, std::string::npos);
    control.replace(begin, end + 1 - begin, section);
    control = RemoveStandardGrids(control, {"tracer_1_input.asc", "tracer_2_input.asc"});
    control = AddStandardGrids(control, grids);
    // The routing's external inflow brings the test's tracers at the
    // concentrations of the rain.
    std::istringstream inflow(ReadFile(dir.file("input/inflow_1.txt")));
    std::ostringstream rewritten;
    std::string line;
    for (bool header = true; std::getline(inflow, line); header = false) {
        std::istringstream fields(line);
        std::string field;
        for (int k = 0; k < 5 && fields >> field; ++k) rewritten << (k ? " " : "") << field;
        for (size_t k = 0; k < basin.Tracers.size(); ++k) {
            char value[64];
            std::snprintf(value, sizeof value, "%.17g", basin.Tracers[k].Input);
            rewritten << " " << (header ? "tracer_" + std::to_string(k + 1) : std::string(value));
        }
        rewritten << "\n";
    }
    WriteFile(dir.file("input/inflow_1.txt"), rewritten.str());
    if (basin.Edit) basin.Edit(control);
    WriteFile(dir.file("basin.ctl"), control);
}

const char* Conservative =
    "chloride non_radioactive non_evaporating min_conc = 0 max_conc = 1e9 mg/l soilini = 0.5 gwini = 0.5 "
    "statcode = 0 gridcode = 0 path = output/ statext = sta gridext = asc";

}  // namespace

// The piece runs without groundwater model and irrigation, so that the soil
// model's runoff is all that leaves it. The energy-balance snow with its
// slides, the forest's two vegetation layers over one interception store and
// the soil's heat and frost with dynamic steps stay on. Surface routing stays
// off: it would take the place of the subbasins' linear storages and hold
// load of its own that the ledger does not book; the silting-up goes with it,
// and the piece holds no glacier cell. Runs from a cold start (one day under
// the sanitizers): two days of June with rain, the soil draining and the
// subbasins' storages receding; a day of March with snow falling and melting
// under rain.
TEST(TracerLedger, ConservativeLoadClosesOverEveryStorage) {
    struct Case {
        const char* what;
        int startDay, endDay, month;
        bool snow;
    };
    const Case cases[] = {
        {"June", 1, 2, 6, false},
        {"March", 27, 27, 3, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir dir;
        Basin basin;
        basin.StartMonth = basin.EndMonth = c.month;
        basin.StartDay = c.startDay;
        basin.EndDay = c.endDay;
#ifdef RUVEX_SANITIZED
        basin.StartDay = basin.EndDay;
#endif
        basin.Tracers = {{Conservative, 2.0}};
        WriteBasin(dir, basin);
        if (HasFatalFailure()) return;
        InProcessRun run(dir);
        ASSERT_EQ(run.Init(), 0) << run.Console.str();
        tracerledger::TracerLedger ledger(run.App, 1);
        run.App.AfterTimeStep = [&] { ledger.Step(); };
        ASSERT_EQ(run.Run(), 0) << run.Console.str();
        std::printf("%s: %s", c.what, ledger.Table().c_str());
        EXPECT_GT(ledger.In(), 0);
        EXPECT_GT(ledger.Out(), 0);
        if (c.snow) {
            EXPECT_GT(std::max(ledger.Initial().Snow, ledger.Final().Snow), 0);
        }
        EXPECT_LT(std::fabs(ledger.RelativeResidual()), 1e-9) << ledger.Table();
    }
}

// The conservative tracer over the two years of the example's climate
// (2019 and 2020) on the corner of the lower valley where the three
// subbasins meet, with snow in the winters and the soil's heat and frost:
// its load closes over each year, the load held at the end of 2019 being the
// one 2020 starts from, and over both. Under the sanitizers a month across
// the turn of the year stands for the two.
TEST(TracerLedger, ConservativeLoadClosesYearByYearOverTwoYears) {
    TempDir dir;
    Basin basin;
    basin.Cut = {24, 25, 4, 6};
#ifdef RUVEX_SANITIZED
    basin.StartDay = 16, basin.StartMonth = 12, basin.EndDay = 15, basin.EndMonth = 1;
#else
    basin.StartDay = 1, basin.StartMonth = 1, basin.EndDay = 31, basin.EndMonth = 12;
#endif
    basin.EndYear = 2020;
    basin.Tracers = {{Conservative, 2.0}};
    basin.Edit = [](std::string& control) {
        ReplaceOnce(control, "30 40                      # control point (row column)", "0 0");
    };
    WriteBasin(dir, basin);
    if (HasFatalFailure()) return;
    InProcessRun run(dir);
    ASSERT_EQ(run.Init(), 0) << run.Console.str();
    tracerledger::TracerLedger ledger(run.App, 1);
    // In, out and held at the start of each year and at the end of the run.
    struct Mark {
        int64_t Year;
        int Steps;
        double In, Out, Held;
    };
    std::vector<Mark> marks{{2019, 0, 0, 0, ledger.Initial().Total()}};
    ModellApplication& app = run.App;
    double snow = 0;
    app.AfterTimeStep = [&] {
        ledger.Step();
        snow = std::max(snow, ledger.Final().Snow);
        if (app.CurrentHour == 24 && app.CurrentDay == 31 && app.CurrentMonth == 12)
            marks.push_back({app.CurrentYear + 1, ledger.Steps(), ledger.In(), ledger.Out(), ledger.Final().Total()});
    };
    ASSERT_EQ(run.Run(), 0) << run.Console.str();
    if (marks.back().Steps != ledger.Steps())
        marks.push_back({app.CurrentYear + 1, ledger.Steps(), ledger.In(), ledger.Out(), ledger.Final().Total()});
    ASSERT_EQ(marks.size(), 3u) << ledger.Table();
    for (size_t k = 0; k + 1 < marks.size(); ++k) {
        const Mark &from = marks[k], &to = marks[k + 1];
        const double in = to.In - from.In, out = to.Out - from.Out;
        const double residual = in - out - (to.Held - from.Held);
        const double scale = std::max({std::fabs(in), std::fabs(from.Held), std::fabs(to.Held)});
        std::printf("%ld: %d steps, in %.9g, out %.9g, held %.9g to %.9g, relative residual %.3g\n",
                    static_cast<long>(from.Year), to.Steps - from.Steps, in, out, from.Held, to.Held,
                    std::fabs(residual) / scale);
        EXPECT_GT(in, 0);
        EXPECT_GT(out, 0);
        EXPECT_LT(std::fabs(residual), 1e-9 * scale) << from.Year << "\n" << ledger.Table();
    }
    std::printf("both years: %s", ledger.Table().c_str());
    // The winters' snow held load.
    EXPECT_GT(snow, 0);
    EXPECT_LT(std::fabs(ledger.RelativeResidual()), 1e-9) << ledger.Table();
}

namespace {

// Largest relative departure from `c` of a sub-model's outflow
// concentrations, over the cells or subbasins where water flows.
struct Departure {
    double Worst = 0;
    int Checked = 0;
    std::string Where;
    void Check(const char* what, double flow, double concentration, double c) {
        if (!(flow > 1e-12)) return;
        ++Checked;
        const double d = std::fabs(concentration - c) / c;
        if (d > Worst || !std::isfinite(d)) {
            Worst = std::isfinite(d) ? d : 1e300;
            Where = std::string(what) + " at " + std::to_string(concentration);
        }
    }
};

}  // namespace

// A tracer that evaporates with the water keeps its concentration whatever
// evaporates: entering everywhere at c, held everywhere at c from the start
// (the reservoir's water included), it leaves the snow cover, the
// interception, the soil columns, every subbasin and the routing at c, and
// the aquifer's layers stay at c. A day of March with snow and rain on the
// piece, the groundwater model on.
TEST(TracerLedger, UniformConcentrationLeavesEverySubModelUnchanged) {
    constexpr double C = 3.5;
    TempDir dir;
    Basin basin;
    basin.StartMonth = basin.EndMonth = 3;
    basin.StartDay = basin.EndDay = 27;
    basin.Tracers = {{"deuterium non_radioactive evaporating min_conc = 0 max_conc = 1e9 soilini = 3.5 gwini = 3.5 "
                      "statcode = 0 gridcode = 0 path = output/ statext = sta gridext = asc",
                      C}};
    basin.Edit = [](std::string& control) {
        control = SetSectionSwitch(control, "groundwater_flow", 1);
        ReplaceOnce(control, "30 40                      # control point (row column)", "5 5");
    };
    WriteBasin(dir, basin);
    if (HasFatalFailure()) return;
    InProcessRun run(dir);
    ASSERT_EQ(run.Init(), 0) << run.Console.str();
    ModellApplication& app = run.App;
    unsatzonmodellklasse& soil = *app.UnsaturatedZone;
    ASSERT_EQ(soil.SoilTracers.size(), 2u);
    ASSERT_GT(app.Groundwater->GetMethod(), 0);
    double** throughfall = run.Grid("throughfall0");
    ASSERT_NE(throughfall, nullptr);
    ASSERT_GT(app.Routing->GetMethod(), 0);
    // The reservoir's water of the cold start holds the tracer at c as well.
    int reservoirs = 0;
    for (const auto& description : app.Routing->Descriptions) {
        if (!description) continue;
        for (const auto& reservoir : description->Reservoirs) {
            if (!reservoir) continue;
            ASSERT_GE(reservoir->State.size(), 2u);
            reservoir->State[1] = C;
            ++reservoirs;
        }
    }
    ASSERT_GT(reservoirs, 0);
    // The forest's two vegetation layers hold one well-mixed store: its load
    // is c times the water of both layers.
    interzeptionsmodellklasse& canopy = *app.Interception;
    ASSERT_EQ(canopy.LayerCount, 2);
    tracerledger::TracerLedger ledger(app, 1);
    double lowerLayer = 0, canopyDeparture = 0;
    Departure snow, interception, direct, inter, aquifer, subbasins, outlets;
    app.AfterTimeStep = [&] {
        double water = 0, area = 0;
        for (int r = 1; r <= soil.NRows; ++r) {
            for (int c = 1; c <= soil.NCols; ++c) {
                if (!soil.OwnModelCell(r, c) || soil.SubbasinRankOfCell(r, c) < 1) continue;
                water += soil.CellWeight(r, c) * canopy.Storage[0][r][c];
                area += soil.CellWeight(r, c);
                lowerLayer = std::max(lowerLayer, canopy.Storage[2][r][c]);
            }
        }
        const double expected = C * water / area;
        if (expected > 0)
            canopyDeparture =
                std::max(canopyDeparture, std::fabs(ledger.HeldNow().Interception - expected) / expected);
        for (int r = 1; r <= soil.NRows; ++r) {
            for (int c = 1; c <= soil.NCols; ++c) {
                if (!soil.OwnModelCell(r, c) || soil.SubbasinRankOfCell(r, c) < 1) continue;
                snow.Check("snow", app.Snow->snowcoverOutflowGrid[r][c], app.Snow->TracerStorage[1].FluxGrid[r][c], C);
                interception.Check("interception", throughfall[r][c], app.Interception->TracerStorage[1].FluxGrid[r][c],
                                   C);
                direct.Check("direct runoff", soil.DirectFlow[r][c], soil.SoilTracers[1].QDConc[r][c], C);
                inter.Check("interflow", soil.InterFlow[r][c], soil.SoilTracers[1].QIConc[r][c], C);
                for (int l = 1; l <= app.Groundwater->Layers; ++l)
                    aquifer.Check("aquifer", 1, app.Groundwater->Concentration[1][static_cast<size_t>(l)][r][c], C);
            }
        }
        RunoffTable qg = soil.GetQg();
        for (size_t s = 1; s < soil.SubbasinCellWeight.size(); ++s) subbasins.Check("Qg", qg[0][s], qg[1][s], C);
        double** routed = app.Routing->StepFlows.Rows();
        for (int s = 1; s <= app.Routing->Subbasins.Count; ++s)
            outlets.Check("routed discharge", routed[0][s], routed[1][s], C);
    };
    ASSERT_EQ(run.Run(), 0) << run.Console.str();
    std::printf("interception load over both layers: largest relative departure %.3g\n", canopyDeparture);
    EXPECT_GT(lowerLayer, 0);
    EXPECT_LT(canopyDeparture, 1e-12);
    for (const Departure* d : {&snow, &interception, &direct, &inter, &aquifer, &subbasins, &outlets}) {
        std::printf("%d outflows checked, largest relative departure %.3g %s\n", d->Checked, d->Worst, d->Where.c_str());
        // No cell of the piece runs off directly in these days.
        if (d != &direct) {
            EXPECT_GT(d->Checked, 0);
        }
        EXPECT_LT(d->Worst, 1e-12) << d->Where;
    }
}

// Pairs of tracers alike but for the half-life of the second, entering
// nowhere (input concentration 0): each storage holds of the second exactly
// 2^(-t/T) of what it holds of the first, wherever water moves them inside
// that storage. The first pair starts in the snow cover and the interception
// storage; the second in the soil and the aquifer, so that no load reaches
// them from a sub-model above, whose load of a step is younger than theirs.
// The soil model and the groundwater run three sub-steps per step, the snow
// cover and the interception one; each decays at its own rate, whichever
// set-up wrote the shared factor last. Half a day of March (a quarter under
// the sanitizers) with snow and rain.
TEST(TracerLedger, RadioactiveLoadDecaysWithItsHalfLifeInEverySubModel) {
    constexpr double HalfLife = 1.5;  // [d]
    TempDir dir;
    Basin basin;
    basin.StartMonth = basin.EndMonth = 3;
    basin.StartDay = basin.EndDay = 27;
#ifdef RUVEX_SANITIZED
    basin.EndHour = 6;
#else
    basin.EndHour = 12;
#endif
    const std::string above = " non_evaporating min_conc = 0 max_conc = 1e9 mg/l soilini = 0 gwini = 0 "
                              "statcode = 0 gridcode = 0 path = output/ statext = sta gridext = asc";
    const std::string below = " non_evaporating min_conc = 0 max_conc = 1e9 mg/l soilini = 0.8 gwini = 0.6 "
                              "statcode = 0 gridcode = 0 path = output/ statext = sta gridext = asc";
    basin.Tracers = {{"stable non_radioactive" + above, 0.0},
                     {"tritium radioactive half_time = 1.5 d" + above, 0.0},
                     {"chloride non_radioactive" + below, 0.0},
                     {"krypton radioactive half_time = 1.5 d" + below, 0.0}};
    basin.Edit = [](std::string& control) {
        control = SetSectionSwitch(control, "groundwater_flow", 1);
        ReplaceOnce(control, "30 40                      # control point (row column)", "5 5");
        control += "\n[soil_surface_groundwater_substeps]\n3\n";
    };
    WriteBasin(dir, basin);
    if (HasFatalFailure()) return;
    InProcessRun run(dir);
    ASSERT_EQ(run.Init(), 0) << run.Console.str();
    ModellApplication& app = run.App;
    unsatzonmodellklasse& soil = *app.UnsaturatedZone;
    ASSERT_EQ(soil.GetSubSteps(), 3);
    ASSERT_EQ(soil.SoilTracers.size(), 5u);
    ASSERT_GT(app.Groundwater->GetMethod(), 0);
    auto own = [&](int r, int c) { return soil.OwnModelCell(r, c) && soil.SubbasinRankOfCell(r, c) > 0; };
    // The first pair's load in the snow cover and the interception storage
    // of every cell.
    for (teilmodellklasse* model : {static_cast<teilmodellklasse*>(app.Snow), static_cast<teilmodellklasse*>(app.Interception)})
        for (int k = 1; k <= 2; ++k)
            for (int r = 1; r <= soil.NRows; ++r)
                for (int c = 1; c <= soil.NCols; ++c)
                    if (own(r, c)) model->TracerStorage[static_cast<size_t>(k)].StorageGrid[r][c] = 0.25;

    struct Store {
        const char* what;
        int stable;  // the pair's first tracer
        int levels;
        std::function<double(int k, int r, int c, int level)> value;
        double worst = 0;
        int checked = 0;
        std::string where = "";
    };
    std::vector<Store> stores = {
        {"snow", 1, 1,
         [&](int k, int r, int c, int) { return app.Snow->TracerStorage[static_cast<size_t>(k)].StorageGrid[r][c]; }},
        {"interception", 1, 1,
         [&](int k, int r, int c, int) {
             return app.Interception->TracerStorage[static_cast<size_t>(k)].StorageGrid[r][c];
         }},
        {"soil", 3, soil.maxLayers + 1,
         [&](int k, int r, int c, int l) { return soil.SoilTracers[static_cast<size_t>(k)].Stack[r][c][l]; }},
        {"groundwater", 3, app.Groundwater->Layers,
         [&](int k, int r, int c, int l) {
             return app.Groundwater->Concentration[static_cast<size_t>(k)][static_cast<size_t>(l + 1)][r][c];
         }},
    };
    int step = 0;
    app.AfterTimeStep = [&] {
        ++step;
        const double expected = std::pow(2.0, -(step / 24.0) / HalfLife);
        for (Store& s : stores) {
            for (int r = 1; r <= soil.NRows; ++r) {
                for (int c = 1; c <= soil.NCols; ++c) {
                    if (!own(r, c)) continue;
                    for (int l = 0; l < s.levels; ++l) {
                        const double stable = s.value(s.stable, r, c, l), decaying = s.value(s.stable + 1, r, c, l);
                        if (!(stable > 1e-9)) continue;
                        ++s.checked;
                        const double d = std::fabs(decaying / stable / expected - 1);
                        if (d > s.worst) {
                            s.worst = d;
                            s.where = "step " + std::to_string(step) + ", row " + std::to_string(r) + ", column " +
                                      std::to_string(c) + ", level " + std::to_string(l);
                        }
                    }
                }
            }
        }
    };
    ASSERT_EQ(run.Run(), 0) << run.Console.str();
    for (const Store& s : stores) {
        std::printf("%s: %d values over %d steps, largest relative departure from 2^(-t/T) %.3g\n", s.what, s.checked,
                    step, s.worst);
        EXPECT_GT(s.checked, 0) << s.what;
        EXPECT_LT(s.worst, 1e-9) << s.what << " at " << s.where;
    }
}
