// The river water of a small piece of the example basin over a short run,
// the application stepped in this process: irrigation from a river and from
// the reservoir, the soil model's exchange with its rivers and two
// abstractions all draw on the routing at once. What the routing took out
// of its flows and its reservoir, with the change of what it still owes,
// equals what the irrigation delivered, what the soil columns took from the
// rivers and what the abstractions report; no flow, storage element or
// reservoir volume ever goes below 0.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "app/modapuzr.h"
#include "framework/diagnostics_writer.h"
#include "framework/gridtable.h"
#include "lateral/irrigate.h"
#include "routing/abfluss.h"
#include "routing/abstraction.h"
#include "routing/reservoir.h"
#include "setup/irrigation_table.h"
#include "soil/example_basin_copy.h"
#include "soil/unsatzon.h"
#include "support/in_process_run.h"
#include "support/test_support.h"

using namespace testsupport;

namespace {

#ifdef RUVEX_SANITIZED
constexpr int Hours = 8;
#else
constexpr int Hours = 8;
#endif
constexpr int LastHour = 23;

// Rows 15 to 26 and columns 18 to 37 of the example: the three subbasins
// meet there, with fields that take river water in each of them.
constexpr int FirstRow = 15, FirstColumn = 18, Rows = 12, Columns = 20;

// Every third cell of subbasins 1 and 2 lies on the river of its subbasin.
std::string RiverLinks(const std::string& zones) {
    std::istringstream in(zones);
    std::ostringstream out;
    std::string line;
    for (int k = 0; k < 6 && std::getline(in, line); ++k) out << line << "\n";
    int row = 0;
    while (std::getline(in, line)) {
        std::istringstream cells(line);
        std::string cell;
        int column = 0;
        while (cells >> cell) {
            const bool river = cell == "2" || (cell == "1" && (row + column) % 3 == 0);
            out << (column ? " " : "") << (river ? cell : "-9999");
            ++column;
        }
        out << "\n";
        ++row;
    }
    return out.str();
}

void WriteBasin(const TempDir& dir) {
    soiltest::CopyExampleInputs(dir);
    soiltest::CropExampleGrids(dir, FirstRow, FirstColumn, Rows, Columns);
    WriteFile(dir.file("input/river_links.asc"), RiverLinks(ReadFile(dir.file("input/zones.asc"))));
    std::string control = soiltest::ExampleControl(LastHour, 1, 1);
    ASSERT_FALSE(control.empty());
    control = WithJanuaryRiverIrrigation(control);
    ReplaceOnce(control, "[model_time]\n1\n", "[model_time]\n" + std::to_string(LastHour - Hours + 1) + "\n");
    // The river exchange of the soil model needs the groundwater model.
    control = SetSectionSwitch(control, "groundwater_flow", 1);
    control = SetSectionSwitch(control, "special_output", 0);
    ReplaceOnce(control, "30 40                      # control point (row column)", "5 5");
    ReplaceOnce(control, "0                          # surface water interaction",
            "2                          # surface water interaction");
    ReplaceOnce(control, "15                         # number of variable grids",
            "19\n"
            "river_depth.asc river_depth 0 1\n0\n0\n"
            "river_width.asc river_width 0 4\n0\n0\n"
            "kolmation.asc kolmation 0 1e-3\n0\n0\n"
            "river_links.asc river_links 0 -9999\n0\n1");
    // An abstraction from the reservoir and one from the river at the
    // basin's outlet, in place of the example's own.
    const size_t own = control.find("  AL 1 = extern abstraction_1.txt");
    ASSERT_NE(own, std::string::npos);
    control.erase(own, control.find('\n', own) + 1 - own);
    ReplaceOnce(control, "C0 = 0 0 0 0 0 0 0 0 0 dTmin = 600\n",
            "C0 = 0 0 0 0 0 0 0 0 0 dTmin = 600\n  AL 2 = extern al_reservoir.txt 0 0.2 0.01 m3/s\n");
    ReplaceOnce(control, "L = 2500 A = 2.78\n", "L = 2500 A = 2.78\n  AL 1 = extern al_river.txt 0 0.3 10 m3/s\n");
    WriteFile(dir.file("basin.ctl"), control);
}

struct Volumes {
    double taken = 0, delivered = 0, soil = 0, abstracted = 0;
};

// What one run of the piece shows, step by step and in total.
struct BasinRun {
    bool done = false;
    int steps = 0;
    Volumes total, reservoirPart;
    double carried = 0, largestCarried = 0, worst = 0, smallest = 0;
    // Per step and subbasin rank: the river water the soil columns took, the
    // soil withdrawal the routing still owes after the step and the river's
    // flow over one step that the routing reports for the next step [m3].
    std::vector<std::vector<double>> soilTaken, soilOwed, reported;
};

void RunBasin(BasinRun& run) {
    TempDir dir;
    WriteBasin(dir);
    if (::testing::Test::HasFatalFailure()) return;
    InProcessRun process(dir);
    ASSERT_EQ(process.Init(), 0) << process.Console.str();
    ModellApplication& app = process.App;
    ASSERT_NE(app.Routing, nullptr);
    ASSERT_NE(app.UnsaturatedZone, nullptr);
    ASSERT_EQ(app.UnsaturatedZone->GetSubSteps(), 1);
    abflussmodellklasse& routing = *app.Routing;
    const ModelSettings& s = app.Settings;
    ASSERT_NE(s.IrrigationTable, nullptr);
    auto grid = [&](const char* name) {
        const int k = FindGridEntry(app.GridTable.get(), name, true);
        EXPECT_GT(k, 0) << name;
        return k > 0 ? app.GridTable[k].Data : nullptr;
    };
    double** zones = grid("zonegrid_soilmodel");
    double** codes = grid("irrigation_codes");
    double** amounts = grid("irrigation_amounts");
    double** fromRivers = grid("river_infiltration");
    ASSERT_TRUE(zones && codes && amounts && fromRivers);
    const double cellM2 = s.CellSize * s.CellSize;
    std::vector<SP_class*> reservoirs;
    std::vector<AL_class*> abstractions;
    for (int k = 1; k <= routing.DescriptionCount; ++k) {
        routingclass& d = *routing.Descriptions[static_cast<size_t>(k)];
        for (size_t j = 1; j < d.Reservoirs.size(); ++j) reservoirs.push_back(d.Reservoirs[j].get());
        for (size_t j = 1; j < d.Abstractions.size(); ++j) abstractions.push_back(d.Abstractions[j].get());
    }
    ASSERT_EQ(reservoirs.size(), 1u);
    ASSERT_EQ(abstractions.size(), 2u);

    Volumes& total = run.total;
    Volumes& reservoirPart = run.reservoirPart;
    double& carried = run.carried;
    double& largestCarried = run.largestCarried;
    double& worst = run.worst;
    double& smallest = run.smallest;
    int& steps = run.steps;
    carried = routing.CarriedWithdrawalVolume();
    const int n = routing.Subbasins.Count;
    app.AfterTimeStep = [&] {
        Volumes step;
        std::vector<double> soilTaken(static_cast<size_t>(n) + 1, 0.0), soilOwed(soilTaken), reported(soilTaken);
        // The surface water the fields received, cell by cell.
        for (int r = 1; r <= s.NRows; ++r)
            for (int c = 1; c <= s.NCols; ++c) {
                if (!(zones[r][c] >= 1)) continue;
                const int position = static_cast<int>(codes[r][c]);
                if (position < 1 || position > s.IrrigationCount) continue;
                const IrrigationRule& rule = s.IrrigationTable[position];
                if (rule.Method > 0 && rule.Origin == 2) step.delivered += amounts[r][c] / 1000 * cellM2;
                step.soil += fromRivers[r][c] / 1000 * cellM2;
                // A cell takes river water only from the river of its own subbasin.
                const int code = static_cast<int>(zones[r][c]);
                const int rank = code <= routing.Subbasins.LargestCode ? routing.Subbasins.CodeToRank[code] : 0;
                if (rank >= 1 && rank <= n) soilTaken[static_cast<size_t>(rank)] += fromRivers[r][c] / 1000 * cellM2;
            }
        for (const AL_class* al : abstractions) {
            ASSERT_GE(al->RecordsHeld, 1);
            const double m3s = al->Records[static_cast<size_t>((al->RecordsHeld - 1) * al->ValuesPerRecord + 4)];
            EXPECT_GE(m3s, 0.0);
            step.abstracted += m3s * 3600;
        }
        const WithdrawnVolumes& w = routing.Exchange.LastStep;
        step.taken = w.IrrigationFromRivers + w.SoilFromRivers + w.Abstractions;
        for (const SP_class* sp : reservoirs) {
            step.taken += sp->Irrig.m3 + sp->Abstr.m3;
            reservoirPart.taken += sp->Irrig.m3;
            smallest = std::min(smallest, sp->State[0]);
        }
        const double now = routing.CarriedWithdrawalVolume();
        const double asked = step.delivered + step.soil + step.abstracted;
        worst = std::max(worst, std::fabs(step.taken + (now - carried) - asked) / std::max(1.0, asked));
        largestCarried = std::max(largestCarried, now);
        carried = now;
        total.taken += step.taken;
        total.delivered += step.delivered;
        total.soil += step.soil;
        total.abstracted += step.abstracted;
        ++steps;
        if (routing.RiverFlows)
            for (int i = 1; i <= n; ++i) {
                const size_t k = static_cast<size_t>(i);
                soilOwed[k] = routing.Exchange.SoilDeficit[k] * routing.RiverFlows[i].area * 1000;
                reported[k] = routing.RiverFlows[i].flowm3s * 3600;
            }
        run.soilTaken.push_back(soilTaken);
        run.soilOwed.push_back(soilOwed);
        run.reported.push_back(reported);

        // Nothing the routing holds is ever negative.
        const int entries = routing.Subbasins.Count + routing.Totals.ZL;
        double** F = routing.StepFlows.Rows();
        double*** Fs = routing.SubIntervalFlows.Rows();
        for (int i = 1; i <= entries; ++i) {
            smallest = std::min(smallest, F[0][i]);
            for (int k = 1; k <= routing.SubIntervals; ++k) smallest = std::min(smallest, Fs[0][k][i]);
        }
        for (const auto& elements : routing.StorageElements[0])
            for (double e : elements) smallest = std::min(smallest, e);
    };
    ASSERT_EQ(process.Run(), 0) << process.Console.str();
    run.done = true;
}

// The run is shared by the tests below.
const BasinRun& Basin() {
    static BasinRun run;
    static bool started = false;
    if (!started) {
        started = true;
        RunBasin(run);
    }
    return run;
}

}  // namespace

TEST(ExchangeBasin, WhatTheRoutingTakesIsWhatWasDeliveredTakenAndAbstracted) {
    const BasinRun& run = Basin();
    ASSERT_TRUE(run.done);
    const Volumes& total = run.total;
    const Volumes& reservoirPart = run.reservoirPart;
    const double carried = run.carried, largestCarried = run.largestCarried, worst = run.worst,
                 smallest = run.smallest;
    const int steps = run.steps;

    const double asked = total.delivered + total.soil + total.abstracted;
    const double residual = total.taken + carried - asked;
    std::printf("%d steps: routing took %.9g m3, owes %.9g m3 (at most %.9g); delivered %.9g m3 (reservoir %.9g), "
                "soil %.9g m3, abstracted %.9g m3; residual %.3g m3, largest step residual %.3g\n",
                steps, total.taken, carried, largestCarried, total.delivered, reservoirPart.taken, total.soil,
                total.abstracted, residual, worst);
    EXPECT_EQ(steps, Hours);
    EXPECT_GT(total.delivered, 0.0);
    EXPECT_GT(reservoirPart.taken, 0.0);
    EXPECT_GT(total.delivered, reservoirPart.taken) << "the rivers supply fields as well";
    EXPECT_GT(total.soil, 0.0);
    EXPECT_GT(total.abstracted, 0.0);
    EXPECT_GT(largestCarried, 0.0) << "some withdrawal was carried into a later step";
    EXPECT_LT(std::fabs(residual), 1e-8 * asked);
    EXPECT_LT(worst, 1e-8);
    EXPECT_GE(smallest, 0.0);
}

// The soil columns take river water only as far as the river still has it
// beyond what it owes them from earlier steps. So a withdrawal the river
// could not supply is repaid before the columns take more: the debt grows
// only in a step where it was below the flow the river reported, and then
// not beyond that flow, so it does not build up from step to step.
TEST(ExchangeBasin, TheSoilTakesOnlyWhatTheRiverHasBeyondItsDebt) {
    const BasinRun& run = Basin();
    ASSERT_TRUE(run.done);
    ASSERT_EQ(run.soilOwed.size(), static_cast<size_t>(Hours));
    const size_t n = run.soilOwed[0].size() - 1;
    double taken = 0, largestOwed = 0, owedAtEnd = 0;
    for (size_t i = 1; i <= n; ++i) {
        double reported = 0, owed = 0;  // after the step before
        for (size_t t = 0; t < run.soilOwed.size(); ++t) {
            SCOPED_TRACE("step " + std::to_string(t + 1) + ", subbasin " + std::to_string(i));
            const double took = run.soilTaken[t][i], nowOwed = run.soilOwed[t][i];
            EXPECT_LE(took, std::max(0.0, reported - owed) * (1 + 1e-8) + 1e-6);
            EXPECT_GE(nowOwed, 0.0);
            EXPECT_LE(nowOwed, std::max(owed, reported) * (1 + 1e-8) + 1e-6);
            taken += took;
            largestOwed = std::max(largestOwed, nowOwed);
            reported = run.reported[t][i];
            owed = nowOwed;
        }
        owedAtEnd += owed;
    }
    std::printf("soil took %.9g m3 from its rivers; they owed it at most %.9g m3, at the end %.9g m3\n", taken,
                largestOwed, owedAtEnd);
    EXPECT_GT(taken, 0.0);
    EXPECT_GT(largestOwed, 0.0) << "the set-up leaves a river short of what the soil took";
}
