// The water balance of the whole example basin with the soil model and
// evapotranspiration on, the application stepped in this process: what the
// soil model received minus what it evaporated and transpired, minus the
// change of what it holds, minus the runoff it handed to the routing is zero.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <sstream>

#include "app/modapuzr.h"
#include "framework/diagnostics_writer.h"
#include "parameters/soil.h"
#include "soil/example_basin_copy.h"
#include "soil/unsatzon.h"
#include "support/in_process_run.h"
#include "support/test_support.h"

using namespace testsupport;

namespace {

// Sums over the soil model's cells, weighted by their area, and over its
// subbasins, weighted by their share of that area [mm over the basin].
struct BasinSums {
    explicit BasinSums(unsatzonmodellklasse& soil) : Soil(soil) {
        for (int r = 1; r <= Soil.NRows; ++r)
            for (int c = 1; c <= Soil.NCols; ++c)
                if (Counts(r, c)) Area += Soil.CellWeight(r, c);
    }
    bool Counts(int r, int c) const { return Soil.OwnModelCell(r, c) && Soil.SubbasinRankOfCell(r, c) > 0; }
    template <typename F>
    double OverCells(F value) const {
        double sum = 0;
        for (int r = 1; r <= Soil.NRows; ++r)
            for (int c = 1; c <= Soil.NCols; ++c)
                if (Counts(r, c)) sum += Soil.CellWeight(r, c) * value(r, c);
        return sum / Area;
    }
    template <typename F>
    double OverSubbasins(F value) const {
        double sum = 0;
        for (size_t s = 1; s < Soil.SubbasinCellWeight.size(); ++s)
            sum += Soil.SubbasinCellWeight[s] * value(static_cast<int>(s));
        return sum / Area;
    }
    // Water in the soil columns and ponds, in the flow-time zones and in
    // the linear storages.
    double Stored() const {
        const int L = Soil.maxLayers;
        const double columns = OverCells([&](int r, int c) {
            const SoilType& soil = Soil.CellSoil(r, c);
            double water = 0;
            for (int l = 1; l <= L; ++l) water += 1000 * Soil.Theta[r][c][l] * soil.thickness[static_cast<size_t>(l)];
            if (Soil.PondingStorage) water += Soil.PondingStorage[r][c];
            return water;
        });
        return columns + OverSubbasins([&](int s) { return Soil.StoredRunoff(s); });
    }
    double Input() const {
        return OverCells([&](int r, int c) { return std::max(0.0, Soil.WaterInput[r][c]); });
    }
    // What the soil model took: transpiration of every vegetation layer and
    // soil evaporation.
    double Evapotranspiration() const {
        return OverCells([&](int r, int c) {
            double sum = Soil.RealEvaporation[r][c];
            for (int v = 1; v <= Soil.vegetationLayers; ++v) sum += Soil.RealTranspiration[static_cast<size_t>(v)][r][c];
            return sum;
        });
    }
    double Runoff() const {
        return OverSubbasins([&](int s) { return Soil.GetQg()[0][s]; });
    }
    unsatzonmodellklasse& Soil;
    double Area = 0;
};

}  // namespace

// Four days of June 2019 from a cold start (the first day under the
// sanitizers): three days of rain and a dry day, the soil draining from its
// start and the storages receding.
TEST(SoilBasinBalance, ExampleBasinClosesOverItsSteps) {
#ifdef RUVEX_SANITIZED
    const int days = 1;
#else
    const int days = 4;
#endif
    TempDir dir;
    soiltest::CopyExampleInputs(dir);
    const std::string control = soiltest::ExampleControl(24, days, 6, 1, 6);
    ASSERT_FALSE(control.empty());
    WriteFile(dir.file("basin.ctl"), control);
    InProcessRun process(dir);
    ASSERT_EQ(process.Init(), 0) << process.Console.str();
    ModellApplication& app = process.App;
    ASSERT_NE(app.UnsaturatedZone, nullptr);
    ASSERT_NE(app.UnsaturatedZone->WaterInput, nullptr);
    BasinSums sums(*app.UnsaturatedZone);
    ASSERT_GT(sums.Area, 0);

    const double before = sums.Stored();
    double input = 0, etr = 0, runoff = 0, worst = 0;
    int steps = 0;
    double stored = before;
    app.AfterTimeStep = [&] {
        const double in = sums.Input(), out = sums.Evapotranspiration(), q = sums.Runoff(), now = sums.Stored();
        worst = std::max(worst, std::fabs(in - out - q - (now - stored)));
        input += in;
        etr += out;
        runoff += q;
        stored = now;
        ++steps;
    };
    ASSERT_EQ(process.Run(), 0) << process.Console.str();
    const double after = sums.Stored();

    const double residual = input - etr - (after - before) - runoff;
    std::printf("%d steps: input %.9f mm, ETR %.9f mm, storage change %.9f mm, runoff %.9f mm, residual %.3g mm, "
                "largest step residual %.3g mm\n",
                steps, input, etr, after - before, runoff, residual, worst);
    EXPECT_EQ(steps, 24 * days);
    EXPECT_GT(input, 0);
    EXPECT_GT(etr, 0);
    EXPECT_GT(runoff, 0);
    EXPECT_LT(std::fabs(residual), 1e-9 * input);
}
