// The water balance of the whole basin, the application stepped in this
// process on a cropped copy of the example: precipitation and every other
// inflow equal every kind of evapotranspiration, the runoff handed on and the
// change of every storage, in every step and over the run.

#include <gtest/gtest.h>
#include <omp.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "app/modapuzr.h"
#include "framework/diagnostics_writer.h"
#include "soil/example_basin_copy.h"
#include "soil/unsatzon.h"
#include "support/basin_ledger.h"
#include "support/example_switches.h"
#include "support/in_process_run.h"
#include "support/test_support.h"

using namespace testsupport;

namespace {

// The control text of the example from hour 1 of `startDay`, `month`, `year`
// for `hours` hourly steps, the glacier and the aquifer left as the example
// has them, without its travel times.
std::string ExampleWindowControl(int startDay, int hours, int month = 6, int year = 2019) {
    const std::string control = soiltest::ExampleControlWithTime(
        "1\n" + std::to_string(startDay) + "\n" + std::to_string(month) + "\n" + std::to_string(year) + "\n" +
        std::to_string((hours - 1) % 24 + 1) + "\n" + std::to_string(startDay + (hours - 1) / 24) + "\n" +
        std::to_string(month) + "\n" + std::to_string(year) + "\n\n");
    if (control.empty()) return "";
    // A window cuts its subbasins off from their outlets, so their travel
    // times would start beyond the first zone: every window runs with one zone.
    return RemoveStandardGrids(control, {"flow_times.asc"});
}

// The control text for a window of the example that holds only subbasin 3:
// the statistics list only it, the point output, which
// need the other subbasins and points, are off; the routing keeps the
// outlet of subbasin 3 (`area` km2).
std::string SubbasinThreeOnly(std::string control, double area) {
    const std::string list = "[output_list]\n";
    const size_t begin = control.find(list);
    const size_t end = control.find("\n\n", begin);
    if (begin == std::string::npos || end == std::string::npos) return "";
    control.replace(begin, end - begin, list + "1\n3");
    // The soil model's subbasin block: the values of subbasin 3 alone.
    const std::string codes = "1 3                        # subbasin codes";
    const size_t block = control.find(codes);
    if (block == std::string::npos) return "";
    control = control.substr(0, block) + "3" + control.substr(control.find('\n', block));
    size_t at = block + 2;
    for (int line = 0; line < 6; ++line) {
        const size_t blank = control.find(' ', at);
        control.erase(at, blank + 1 - at);
        at = control.find('\n', at) + 1;
    }
    const size_t point = control.find("30 40                      # control point (row column)");
    if (point == std::string::npos) return "";
    control.replace(point, 5, "0 0  ");
    // The silting-up's minimum rain pause, where it is on.
    const std::string pause =
        "1 3                        # minimum rain pause: subbasin 1 for 1 and 2, subbasin 3\n20 20";
    const size_t pauseAt = control.find(pause);
    if (pauseAt != std::string::npos) control.replace(pauseAt, pause.size(), "3\n20");
    const size_t network = control.find("TG 1 A = ");
    const size_t networkEnd = control.find("end of the routing network");
    if (network == std::string::npos || networkEnd == std::string::npos) return "";
    control.replace(network, networkEnd - network, "TG 3 A = " + std::to_string(area) + " f = 1.0\n");
    return SetSectionSwitch(control, "special_output", 0);
}

// River cells on the copied grids: model cells without a lower model
// neighbour, so that every cell drains to one; the grids join the variable
// grids of `control`.
std::string WithRiverGrids(const TempDir& dir, std::string control) {
    auto read = [&](const std::string& name, std::string& header, int& rows, int& cols) {
        std::istringstream in(ReadFile(dir.file("input/" + name)));
        std::string key, value;
        for (int k = 0; k < 6; ++k) {
            in >> key >> value;
            header += key + " " + value + "\n";
            if (key == "ncols") cols = std::stoi(value);
            if (key == "nrows") rows = std::stoi(value);
        }
        std::vector<double> values(static_cast<size_t>(rows) * cols);
        for (double& v : values) in >> v;
        return values;
    };
    std::string header, ignored;
    int rows = 0, cols = 0;
    const std::vector<double> zones = read("zones.asc", header, rows, cols);
    const std::vector<double> dem = read("dem.asc", ignored, rows, cols);
    std::ostringstream river, links;
    river << header;
    links << header;
    for (int r = 0; r < rows; ++r) {
        for (int c = 0; c < cols; ++c) {
            const auto at = [&](const std::vector<double>& g, int rr, int cc) {
                return g[static_cast<size_t>(rr * cols + cc)];
            };
            const bool model = at(zones, r, c) != -9999;
            bool lowest = model;
            for (int dr = -1; dr <= 1; ++dr)
                for (int dc = -1; dc <= 1; ++dc) {
                    const int rr = r + dr, cc = c + dc;
                    if ((dr == 0 && dc == 0) || rr < 0 || cc < 0 || rr >= rows || cc >= cols) continue;
                    if (at(zones, rr, cc) != -9999 && at(dem, rr, cc) < at(dem, r, c)) lowest = false;
                }
            river << (model ? (lowest ? 1 : 0) : -9999) << (c + 1 < cols ? " " : "\n");
            links << (model ? 0 : -9999) << (c + 1 < cols ? " " : "\n");
        }
    }
    WriteFile(dir.file("input/river.asc"), river.str());
    WriteFile(dir.file("input/river_links.asc"), links.str());
    const std::string heading = "[variable_grids]\n";
    const size_t count = control.find(heading);
    if (count == std::string::npos) return "";
    const size_t from = count + heading.size(), to = control.find('\n', from) + 1;
    return control.substr(0, from) + std::to_string(std::atoi(control.c_str() + from) + 3) + "\n" +
           "river.asc river_depth 0 0\n0\n1\nriver.asc river_width 0 0\n0\n1\n"
           "river_links.asc river_links 0 0\n0\n1\n" +
           control.substr(to);
}

struct LedgerRun {
    int Code = 0;
    std::string Console;
};

// Runs the control text in `dir` in this process and books every step in
// the ledger of the basin and in one of each subbasin rank in `subbasins`.
// `afterStep`, if given, sees the ledgers after each booked step.
LedgerRun RunWithLedgers(const TempDir& dir, const std::string& control, const std::vector<int>& subbasins,
                         const std::function<void(ModellApplication&, std::vector<BasinLedger>&)>& check,
                         const std::function<void(ModellApplication&, std::vector<BasinLedger>&)>& afterStep = {}) {
    WriteFile(dir.file("basin.ctl"), control);
    InProcessRun process(dir);

    // One thread: the ledger reads between the steps, and spinning threads
    // only slow a loaded machine down.
    struct OneThread {
        int Previous = omp_get_max_threads();
        OneThread() { omp_set_num_threads(1); }
        ~OneThread() { omp_set_num_threads(Previous); }
    } threads;

    LedgerRun result;
    result.Code = process.Init();
    if (result.Code != 0) {
        result.Console = process.Console.str();
        return result;
    }
    ModellApplication& app = process.App;
    // The groundwater model sets its start heads in its first step: the
    // ledger opens behind it.
    std::vector<BasinLedger> ledgers{BasinLedger(app)};
    for (int s : subbasins) ledgers.emplace_back(app, s);
    bool open = false;
    app.AfterTimeStep = [&] {
        for (BasinLedger& ledger : ledgers) open ? ledger.BookStep() : ledger.Open();
        if (open && afterStep) afterStep(app, ledgers);
        open = true;
    };
    result.Code = process.Run();
    app.AfterTimeStep = nullptr;
    result.Console = process.Console.str();
    if (result.Code == 0) check(app, ledgers);
    return result;
}

LedgerRun RunWithLedger(const TempDir& dir, const std::string& control,
                        const std::function<void(ModellApplication&, BasinLedger&)>& check) {
    return RunWithLedgers(dir, control, {},
                          [&](ModellApplication& app, std::vector<BasinLedger>& ledgers) { check(app, ledgers[0]); });
}

#ifdef RUVEX_SANITIZED
constexpr int Hours = 12;
#else
constexpr int Hours = 48;
#endif

// The control text with the model time from hour 1 of `startDay`, `startMonth`
// `startYear` to hour 24 of `endDay`, `endMonth`, `endYear`.
std::string WithModelTime(std::string control, int startDay, int startMonth, int startYear, int endDay, int endMonth,
                          int endYear) {
    return soiltest::WithModelTimeLines(std::move(control),
                                        "1\n" + std::to_string(startDay) + "\n" + std::to_string(startMonth) + "\n" +
                                            std::to_string(startYear) + "\n24\n" + std::to_string(endDay) + "\n" +
                                            std::to_string(endMonth) + "\n" + std::to_string(endYear) + "\n\n");
}

// A window of rows firstRow.. and columns firstColumn.. of the example's lower
// valley, where the three subbasins meet, copied into `dir` with the routing
// network of the example: subbasin 1 through its reservoir, then with
// subbasin 2 along their channels to the outlet of subbasin 3, which also
// takes the inflow from its file and gives up the abstraction. The areas of
// the network are those of the window; `control` is the example's control
// text for the run's model time. Empty when the example has changed or the
// window misses a subbasin.
std::string ValleyControl(const TempDir& dir, std::string control, int firstRow, int firstColumn, int rows,
                          int columns) {
    soiltest::CopyExampleInputs(dir);
    soiltest::CropExampleGrids(dir, firstRow, firstColumn, rows, columns);
    if (control.empty()) return "";
    control = RemoveStandardGrids(control, {"glacier.asc", "glacier_codes.asc"});
    control = SetSectionSwitch(control, "special_output", 0);
    const size_t point = control.find("30 40                      # control point (row column)");
    if (point == std::string::npos) return "";
    control.replace(point, 5, "0 0  ");
    // Subbasin areas [km2] of the window.
    double area[4] = {};
    {
        std::istringstream in(ReadFile(dir.file("input/zones.asc")));
        std::string key, value;
        for (int k = 0; k < 6; ++k) in >> key >> value;
        double code = 0;
        while (in >> code)
            if (code >= 1 && code <= 3) area[static_cast<int>(code)] += 0.01;
    }
    if (!(area[1] * area[2] * area[3] > 0)) return "";
    for (const auto& [from, to] : {std::pair<std::string, double>{"TG 1 A = 5.49", area[1]},
                                   {"TG 3 A = 21.53", area[1] + area[2] + area[3]},
                                   {"I = 0.004 L = 3500 A = 5.49", area[1]},
                                   {"I = 0.006 L = 2500 A = 2.78", area[2]}}) {
        const size_t at = control.find(from);
        if (at == std::string::npos) return "";
        const size_t number = from.rfind(' ') + 1;
        control.replace(at + number, from.size() - number, std::to_string(to));
    }
    return control;
}

// The lower valley, where the aquifer drains through its fixed heads, for
// `Hours` steps from `startDay`, `month` 2019.
std::string LowerValleyControl(const TempDir& dir, int startDay, int month) {
    return ValleyControl(dir, ExampleWindowControl(startDay, Hours, month), 24, 1, 12, 32);
}

}  // namespace

// The example's sub-models with the glacier that changes its extent: snow,
// the glacier's firn and ice, interception, evapotranspiration, irrigation,
// the soil model and the two groundwater layers, on the glacier's corner of
// the basin in June, where half-glacierized cells take the groundwater
// model's first-layer flows into their ice-free columns.
TEST(BasinLedger, ExampleWithGlacierCloses) {
    TempDir dir;
    soiltest::CopyExampleInputs(dir);
    soiltest::CropExampleGrids(dir, 38, 58, 12, 12);
    const std::string control = SubbasinThreeOnly(WithDynamicGlacier(ExampleWindowControl(12, Hours)), 1.0);
    ASSERT_FALSE(control.empty());
    const LedgerRun run = RunWithLedger(dir, control, [](ModellApplication&, BasinLedger& ledger) {
        const double relative = std::fabs(ledger.RunResidual()) / ledger.RunScale();
        std::printf("%s", ledger.Table().c_str());
        EXPECT_EQ(ledger.Steps(), Hours - 1);
#ifndef RUVEX_SANITIZED
        // Rain fell, then the glacier melted and its runoff storages filled
        // (the shortened run ends before the melt).
        EXPECT_GT(ledger.TotalOf("precipitation"), 0);
        EXPECT_GT(ledger.TotalOf("glacier ice melt"), 0);
        EXPECT_GT(ledger.LargestOf("glacier runoff storages"), 0);
#endif
        EXPECT_LT(relative, 1e-9) << ledger.Table();
        EXPECT_LT(ledger.WorstRelativeStep(), 1e-9) << ledger.Table();
    });
    ASSERT_EQ(run.Code, 0) << run.Console;
}

namespace {

// Runs the glacier's corner of the example (rows 38 to 49, columns 58 to 69,
// subbasin 3 only) with `windowControl` and checks that the ledger closes
// over the run and in every step; `check` adds what the case itself shows.
void CheckGlacierCornerCloses(const std::string& windowControl, const std::function<void(BasinLedger&)>& check) {
    TempDir dir;
    soiltest::CopyExampleInputs(dir);
    soiltest::CropExampleGrids(dir, 38, 58, 12, 12);
    const std::string control = SubbasinThreeOnly(windowControl, 1.0);
    ASSERT_FALSE(control.empty());
    const LedgerRun run = RunWithLedger(dir, control, [&](ModellApplication&, BasinLedger& ledger) {
        check(ledger);
        EXPECT_LT(std::fabs(ledger.RunResidual()) / ledger.RunScale(), 1e-9) << ledger.Table();
        EXPECT_LT(ledger.WorstRelativeStep(), 1e-9) << ledger.Table();
    });
    ASSERT_EQ(run.Code, 0) << run.Console;
}

}  // namespace

// The glacier's corner of the example as it stands in June: the fixed
// glacier, snow by the energy balance with slides, two vegetation layers,
// surface routing with the silting-up, frozen soil with dynamic steps, the
// aquifer and the tracers. The rain on the fixed glacier leaves the cells'
// snow cover over the ice and reaches the glacier's runoff storages.
TEST(BasinLedger, ExampleAsItStandsCloses) {
    CheckGlacierCornerCloses(ExampleWindowControl(12, Hours), [](BasinLedger& ledger) {
        std::printf("%s", ledger.Table().c_str());
        EXPECT_EQ(ledger.Steps(), Hours - 1);
        EXPECT_GT(ledger.TotalOf("precipitation"), 0);
    });
}

// The same corner in late October, when snow falls on the fixed glacier:
// the glacier keeps no pack of its own, the cells' pack covers the ice, and
// what melts from it reaches the glacier's runoff storages.
TEST(BasinLedger, SnowOnTheFixedGlacierCloses) {
    CheckGlacierCornerCloses(ExampleWindowControl(26, Hours, 10), [](BasinLedger& ledger) {
        std::printf("%s", ledger.Table().c_str());
        EXPECT_GT(ledger.LargestOf("snow on the glacier part"), 0);
    });
}

// The same corner in the downpour of 20 May 2020: the surface water runs
// from the cells below the glacier's edge onto two cells all glacier, which
// have no soil column to take it in. It stays on their surface and flows
// on, and the soil of a cell takes the surface water over its ice-free part
// only.
TEST(BasinLedger, SurfaceWaterOnTheGlacierCloses) {
    CheckGlacierCornerCloses(ExampleWindowControl(20, 14, 5, 2020), [](BasinLedger& ledger) {
        EXPECT_GT(ledger.LargestOf("water on the surface"), 0);
    });
}

// Without the glacier and the aquifer, with surface routing (flowpath method
// 1) over two sub-steps and the silting-up of the tilled meadow: the water
// that the soil cannot take in flows over the surface to the river cells and
// through surface routing's zones and storages to the outlet.
TEST(BasinLedger, SurfaceRoutingAndSiltingUpOverTwoSubStepsClose) {
    TempDir dir;
    soiltest::CopyExampleInputs(dir);
    soiltest::CropExampleGrids(dir, 26, 38, 12, 12);
    std::string control = SubbasinThreeOnly(ExampleWindowControl(18, Hours), 1.0);
    ASSERT_FALSE(control.empty());
    // Cloudbursts of up to 100 mm/h: the meadow's silted surface and the
    // wet soil turn part of them into overland flow.
    const size_t precipitation = control.find("[precipitation]");
    const std::string factor = "1                          # scaling factor";
    const size_t scaling = control.find(factor, precipitation);
    ASSERT_NE(scaling, std::string::npos);
    control[scaling] = '8';
    control = RemoveStandardGrids(control, {"glacier.asc", "glacier_codes.asc"});
    control = SetSectionSwitch(control, "groundwater_flow", 0);
    control = SetSectionSwitch(control, "SiltingUpModel", 1);
    control = WithRiverGrids(dir, control);
    ASSERT_FALSE(control.empty());
    const std::string routing = "[SurfaceRoutingModel]\n";
    const size_t at = control.find(routing);
    ASSERT_NE(at, std::string::npos);
    control.replace(at, control.find("\n\n", at) + 1 - at,
                    "[SurfaceRoutingModel]\n1\n60\n1\nqdsr.sta 0\nqisr.sta "
                    "0\nqbsr.sta 0\nqgsr.sta 0\n"
                    "sr_velocity.stk\n0\nsr_fluxes.stk\n0\n0.0001\n10\n0."
                    "000001\n50\n1\n600\n0.01\n1\n0\n"
                    "sr_storage.sta 0\nsurfrout_state.txt\n");
    control += "\n[soil_surface_groundwater_substeps]\n2\n";
    const LedgerRun run = RunWithLedger(dir, control, [](ModellApplication& app, BasinLedger& ledger) {
        const double relative = std::fabs(ledger.RunResidual()) / ledger.RunScale();
        std::printf("%s", ledger.Table().c_str());
        EXPECT_EQ(app.UnsaturatedZone->GetSubSteps(), 2);
        EXPECT_EQ(ledger.Steps(), Hours - 1);
        EXPECT_GT(ledger.TotalOf("precipitation"), 0);
        // Water stood on the surface and passed surface routing's storages.
        EXPECT_GT(ledger.LargestOf("water on the surface"), 1000);
        EXPECT_GT(ledger.LargestOf("surface routing zones and storages"), 1000);
        EXPECT_LT(relative, 1e-9) << ledger.Table();
        EXPECT_LT(ledger.WorstRelativeStep(), 1e-9) << ledger.Table();
    });
    ASSERT_EQ(run.Code, 0) << run.Console;
}

// June rain in the lower valley runs through channels and the reservoir to
// the outlet, the soil and the aquifer exchanging water over two sub-steps;
// the inflow from its file joins at the outlet and the abstraction takes its
// share there.
TEST(BasinLedger, RoutingNetworkWithReservoirCloses) {
    TempDir dir;
    std::string control = LowerValleyControl(dir, 12, 6);
    ASSERT_FALSE(control.empty());
    control += "\n[soil_surface_groundwater_substeps]\n2\n";
    const LedgerRun run = RunWithLedger(dir, control, [](ModellApplication&, BasinLedger& ledger) {
        const double relative = std::fabs(ledger.RunResidual()) / ledger.RunScale();
        std::printf("%s", ledger.Table().c_str());
        EXPECT_EQ(ledger.Steps(), Hours - 1);
        EXPECT_GT(ledger.TotalOf("outlet discharge"), 0);
        EXPECT_GT(ledger.LargestOf("channels"), 0);
        EXPECT_GT(ledger.LargestOf("reservoirs"), 0);
        EXPECT_GT(ledger.TotalOf("inflows from files"), 0);
#ifndef RUVEX_SANITIZED
        // The shortened run ends before the outlet reaches the abstraction's
        // threshold.
        EXPECT_GT(ledger.TotalOf("abstractions"), 0);
#endif
        EXPECT_NE(ledger.TotalOf("groundwater fixed heads"), 0);
        EXPECT_LT(relative, 1e-9) << ledger.Table();
        EXPECT_LT(ledger.WorstRelativeStep(), 1e-9) << ledger.Table();
    });
    ASSERT_EQ(run.Code, 0) << run.Console;
}

// Each subbasin on its own, where nothing crosses its border but what it
// hands to the routing (no aquifer, no surface routing): the three of the
// lower valley close one by one, and together they make the basin's ledger
// down to the routing's input.
TEST(BasinLedger, EverySubbasinClosesOnItsOwn) {
    TempDir dir;
    std::string control = LowerValleyControl(dir, 12, 6);
    ASSERT_FALSE(control.empty());
    control = SetSectionSwitch(control, "groundwater_flow", 0);
    control = SetSectionSwitch(control, "routing_model", 0);
    control = SetSectionSwitch(control, "irrigation", 0);
    control = SwitchOffWithDependents(control, {"SurfaceRoutingModel", "SiltingUpModel"});
    const LedgerRun run =
        RunWithLedgers(dir, control, {1, 2, 3}, [](ModellApplication&, std::vector<BasinLedger>& ledgers) {
            ASSERT_EQ(ledgers.size(), 4u);
            double precipitation = 0, runoff = 0, area = 0;
            for (size_t s = 1; s < ledgers.size(); ++s) {
                const BasinLedger& ledger = ledgers[s];
                SCOPED_TRACE(s);
                EXPECT_GT(ledger.Area(), 0);
                EXPECT_GT(ledger.TotalOf("runoff to the routing"), 0);
                EXPECT_LT(std::fabs(ledger.RunResidual()), 1e-9 * ledger.RunScale()) << ledger.Table();
                EXPECT_LT(ledger.WorstRelativeStep(), 1e-9) << ledger.Table();
                precipitation += ledger.TotalOf("precipitation");
                runoff += ledger.TotalOf("runoff to the routing");
                area += ledger.Area();
            }
            std::printf("%s", ledgers[0].Table().c_str());
            EXPECT_NEAR(area, ledgers[0].Area(), 1e-6);
            EXPECT_NEAR(precipitation, ledgers[0].TotalOf("precipitation"), 1e-9 * precipitation);
            EXPECT_NEAR(runoff, ledgers[0].TotalOf("runoff to the routing"), 1e-9 * runoff);
            EXPECT_LT(std::fabs(ledgers[0].RunResidual()), 1e-9 * ledgers[0].RunScale()) << ledgers[0].Table();
        });
    ASSERT_EQ(run.Code, 0) << run.Console;
}

// The same corner with everything the example runs in January: surface
// routing carries water over the land to the channel cells, the fields take
// river water, the aquifer exchanges water across the borders. Each
// subbasin's ledger, down to the runoff it hands to the routing, closes;
// the river water its fields receive enters it from outside.
TEST(BasinLedger, EverySubbasinClosesWithSurfaceRoutingAndRiverIrrigation) {
    TempDir dir;
    const std::string control = LowerValleyControl(dir, 2, 1);
    ASSERT_FALSE(control.empty());
    const LedgerRun run =
        RunWithLedgers(dir, control, {1, 2, 3}, [](ModellApplication&, std::vector<BasinLedger>& ledgers) {
            ASSERT_EQ(ledgers.size(), 4u);
            double rivers = 0;
            for (size_t s = 0; s < ledgers.size(); ++s) {
                const BasinLedger& ledger = ledgers[s];
                SCOPED_TRACE(s);
                EXPECT_LT(std::fabs(ledger.RunResidual()), 1e-9 * ledger.RunScale()) << ledger.Table();
                EXPECT_LT(ledger.WorstRelativeStep(), 1e-9) << ledger.Table();
                if (s > 0) rivers += ledger.TotalOf("irrigation from the rivers");
            }
            EXPECT_GT(ledgers[0].LargestOf("water on the surface") + ledgers[0].LargestOf("surface routing zones and storages"), 0);
            EXPECT_NEAR(rivers, ledgers[0].TotalOf("irrigation within the basin"), 1e-9 * rivers);
        });
    ASSERT_EQ(run.Code, 0) << run.Console;
}

// The lower valley in the downpour of 20 May 2020: water on the surface runs
// from one subbasin's cells onto another's before it reaches a channel.
// What crossed each border enters one subbasin's ledger and leaves the
// other's, and every subbasin closes.
TEST(BasinLedger, SurfaceWaterAcrossSubbasinBordersCloses) {
    TempDir dir;
    const std::string control = ValleyControl(dir, ExampleWindowControl(20, 14, 5, 2020), 24, 1, 12, 32);
    ASSERT_FALSE(control.empty());
    const LedgerRun run =
        RunWithLedgers(dir, control, {1, 2, 3}, [](ModellApplication&, std::vector<BasinLedger>& ledgers) {
            ASSERT_EQ(ledgers.size(), 4u);
            double crossed = 0, net = 0;
            for (size_t s = 0; s < ledgers.size(); ++s) {
                const BasinLedger& ledger = ledgers[s];
                SCOPED_TRACE(s);
                EXPECT_LT(std::fabs(ledger.RunResidual()), 1e-9 * ledger.RunScale()) << ledger.Table();
                EXPECT_LT(ledger.WorstRelativeStep(), 1e-9) << ledger.Table();
                if (s == 0) continue;
                crossed += std::fabs(ledger.TotalOf("surface water across the border"));
                net += ledger.TotalOf("surface water across the border");
            }
            EXPECT_GT(crossed, 0);
            EXPECT_NEAR(net, 0, 1e-9 * crossed);
        });
    ASSERT_EQ(run.Code, 0) << run.Console;
}

// The first days of January, with the fields taking 3 mm a day from the
// rivers: what the routing gives up, the land receives.
TEST(BasinLedger, IrrigationFromTheRiversCloses) {
    TempDir dir;
    std::string control = LowerValleyControl(dir, 2, 1);
    ASSERT_FALSE(control.empty());
    control = WithJanuaryRiverIrrigation(control);
    const LedgerRun run = RunWithLedger(dir, control, [](ModellApplication&, BasinLedger& ledger) {
        const double relative = std::fabs(ledger.RunResidual()) / ledger.RunScale();
        std::printf("%s", ledger.Table().c_str());
        EXPECT_GT(ledger.TotalOf("irrigation within the basin"), 0);
        EXPECT_EQ(ledger.TotalOf("irrigation from outside the basin"), 0);
        EXPECT_LT(relative, 1e-9) << ledger.Table();
        EXPECT_LT(ledger.WorstRelativeStep(), 1e-9) << ledger.Table();
    });
    ASSERT_EQ(run.Code, 0) << run.Console;
}

namespace {

// What the ledger booked for term `name` over period `k`.
double PeriodTotal(const BasinLedger& ledger, size_t k, const std::string& name) {
    for (size_t i = 0; i < ledger.Terms().size(); ++i)
        if (ledger.Terms()[i].Name == name) return ledger.Periods()[k].Totals[i];
    return 0;
}

const char* const Shortfall = "groundwater the soil could not give";

}  // namespace

// Two years of the example's climate (2019 and 2020) on the corner of the
// lower valley where the three subbasins meet: snow in the winters, the soil
// with its heat and frost, the aquifer, the channels and the reservoir. The
// ledger of the basin and that of each subbasin, which exchange groundwater
// across their borders, close over each year, the storages held at the end
// of 2019 being those 2020 starts from, and over both. What the aquifer
// moves on from its first layer leaves the columns, from below field
// capacity where they hold nothing above it: the ledger books what they
// could not give as entering, and it stays at round-off. Surface routing and the irrigation from the
// rivers, whose flows between the subbasins the ledger does not know, stay
// off. Under the sanitizers a month across the turn of the year stands for
// the two.
TEST(BasinLedger, TwoYearsCloseYearByYearInEverySubbasin) {
#ifdef RUVEX_SANITIZED
    const int startDay = 16, startMonth = 12, endDay = 15, endMonth = 1;
#else
    const int startDay = 1, startMonth = 1, endDay = 31, endMonth = 12;
#endif
    TempDir dir;
    std::string control = ValleyControl(
        dir, WithModelTime(ExampleWindowControl(1, 24, 1), startDay, startMonth, 2019, endDay, endMonth, 2020), 24,
        25, 4, 6);
    ASSERT_FALSE(control.empty());
    control = SetSectionSwitch(control, "irrigation", 0);
    control = SwitchOffWithDependents(control, {"SurfaceRoutingModel", "SiltingUpModel"});
    // Closes each ledger's period at hour 24 of 31 December.
    const auto closeYear = [](ModellApplication& app, std::vector<BasinLedger>& ledgers) {
        if (app.CurrentHour == 24 && app.CurrentDay == 31 && app.CurrentMonth == 12)
            for (BasinLedger& ledger : ledgers) ledger.ClosePeriod(std::to_string(app.CurrentYear));
    };
    int64_t year = 0;
    const LedgerRun run = RunWithLedgers(
        dir, control, {1, 2, 3},
        [&](ModellApplication& app, std::vector<BasinLedger>& ledgers) {
            year = app.CurrentYear;
            ASSERT_EQ(ledgers.size(), 4u);
            for (size_t s = 0; s < ledgers.size(); ++s) {
                BasinLedger& ledger = ledgers[s];
                const std::string name = s == 0 ? "basin" : "subbasin " + std::to_string(s);
                SCOPED_TRACE(name);
                // The shortened run ends within 2020.
                if (ledger.Periods().size() == 1) ledger.ClosePeriod(std::to_string(year));
                ASSERT_EQ(ledger.Periods().size(), 2u) << ledger.Table();
                for (size_t k = 0; k < 2; ++k) {
                    const BasinLedger::Period& p = ledger.Periods()[k];
                    std::printf("%s, %s: %d steps, relative residual %.3g, worst step %.3g; %.6g m3 of %.6g m3 "
                                "precipitation the columns could not give the aquifer\n",
                                name.c_str(), p.Label.c_str(), p.Steps, p.Relative(), p.WorstStep,
                                PeriodTotal(ledger, k, Shortfall), PeriodTotal(ledger, k, "precipitation"));
                    EXPECT_LT(p.Relative(), 1e-9) << ledger.PeriodTable(k);
                    EXPECT_LT(std::fabs(PeriodTotal(ledger, k, Shortfall)),
                              1e-9 * PeriodTotal(ledger, k, "precipitation"))
                        << ledger.PeriodTable(k);
                    EXPECT_LT(p.WorstStep, 1e-9) << ledger.PeriodTable(k);
                }
                const double relative = std::fabs(ledger.RunResidual()) / ledger.RunScale();
                std::printf("%s, both years: %d steps, relative residual %.3g\n", name.c_str(), ledger.Steps(),
                            relative);
                EXPECT_LT(relative, 1e-9) << ledger.Table();
                const BasinLedger::Period &first = ledger.Periods()[0], &second = ledger.Periods()[1];
                EXPECT_EQ(first.Label, "2019");
                EXPECT_EQ(second.Label, "2020");
                EXPECT_EQ(first.Steps + second.Steps, ledger.Steps());
                // What each year booked adds up to the run's sums: a
                // storage's changes do so only when 2020 starts from what
                // it held at the end of 2019.
                for (size_t i = 0; i < ledger.Terms().size(); ++i) {
                    const BasinLedger::Term& t = ledger.Terms()[i];
                    EXPECT_NEAR(first.Totals[i] + second.Totals[i], t.Total,
                                1e-12 * (std::fabs(first.Totals[i]) + std::fabs(second.Totals[i]) + 1))
                        << t.Name;
                }
                EXPECT_GT(ledger.TotalOf("precipitation"), 0);
                EXPECT_GT(ledger.LargestOf("snow (ice-free part)"), 0);
                EXPECT_NE(ledger.TotalOf("groundwater layer 2"), 0);
                if (s > 0) {
                    EXPECT_NE(ledger.TotalOf("groundwater across the border"), 0);
                }
                // A column never gives more than the aquifer drew (but for
                // round-off).
                EXPECT_GE(ledger.TotalOf(Shortfall), -1e-12 * ledger.RunScale());
            }
            BasinLedger& basin = ledgers[0];
            EXPECT_GT(basin.TotalOf("soil evaporation"), 0);
            EXPECT_GT(basin.TotalOf("outlet discharge"), 0);
            EXPECT_GT(basin.LargestOf("channels"), 0);
            EXPECT_GT(basin.LargestOf("reservoirs"), 0);
            // Across the borders between the subbasins, what one gains
            // another loses.
            double across = 0, scale = 0;
            for (size_t s = 1; s < ledgers.size(); ++s) {
                across += ledgers[s].TotalOf("groundwater across the border");
                scale += std::fabs(ledgers[s].TotalOf("groundwater across the border"));
            }
            EXPECT_LE(std::fabs(across), 1e-9 * scale);
        },
        closeYear);
    ASSERT_EQ(run.Code, 0) << run.Console;
    EXPECT_EQ(year, 2020);
}
