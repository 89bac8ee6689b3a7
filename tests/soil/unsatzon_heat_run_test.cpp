// Soil heat inside the soil model on a small grid: freezing soil keeps its
// water (every iteration step of every column closes), frost goes into the
// ground and shows in the thaw depth, one thread equals four; the first
// profile; the temperature pre-run with its degree days and its profile.

#include <gtest/gtest.h>

#include <omp.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <functional>
#include <vector>

#include "soil/soil_model_fixture.h"
#include "soil/unsatzon_heat_physics.h"

using namespace soiltest;

namespace {

// Heat on with `method`, no groundwater model.
std::string HeatSection(int method) {
    return "\n[heat_transfer]\n1 switch\n" + std::to_string(method) +
           " method\n0\n0\n12 base\n-0.007 lapse\n800\n1500\n0.58\n1e-10\n0.5562\n2.33\n4187\n1940\n2090\n334000\n"
           "1000\n1.22\n0.5\n60\n1800\n1\n1\ntemperature.txt\ntemper.sta 0\ntemper.stk\n0\nthaw.asc\n0\n";
}

// Runs `body` with the working directory in `dir` (the set-up writes the
// lower boundary grid there).
void InDirectory(const std::string& dir, const std::function<void()>& body) {
    const std::filesystem::path before = std::filesystem::current_path();
    std::filesystem::current_path(dir);
    try {
        body();
    } catch (...) {
        std::filesystem::current_path(before);
        throw;
    }
    std::filesystem::current_path(before);
}

struct HeatRun {
    double largestResidual = 0;
    double coldestTop = 100;
    double deepestThaw = 0;
    std::vector<double> state;  // temperatures and water contents of every cell
};

// `air` over soil at `start` everywhere, the lower boundary included.
HeatRun RunHeat(int method, double air, double start) {
    HeatRun run;
    SoilModelFixture f;
    f.groundwater = 0;
    f.extraSections = HeatSection(method);
    f.Add("temperature", air);
    f.uses[1].nf_freezing = 0.8;  // snow-free meadow
    f.uses[1].nf_thawing = 1.0;
    InDirectory(f.dir.path(), [&] {
        EXPECT_EQ(f.Make(1), 0) << f.console.str();
        if (!f.model) return;
        unsatzonmodellklasse& m = *f.model;
        ASSERT_NE(m.SoilTemperature, nullptr);
        m.InitialTemperatureProfile = 0;
        double** low = f.Grid("T_Lower_Boundary_Condition");
        for (int r = 1; r <= Rows; ++r)
            for (int c = 1; c <= Cols; ++c) {
                low[r][c] = start;
                for (int k = 0; k <= Layers; ++k) m.SoilTemperature[r][c][k] = start;
            }
        double** rain = f.Grid("precipitation");
        for (int r = 1; r <= Rows; ++r)
            for (int c = 1; c <= Cols; ++c) rain[r][c] = 0.3 * c;
        m.StepObserver = [&](const unsatzonmodellklasse::IterationStepRecord& s) {
            const double residual =
                s.Offered - (s.Transpiration + s.DirectRunoff + s.Interflow + s.Baseflow + s.SoilEnd - s.SoilStart);
            run.largestResidual = std::max(run.largestResidual, std::fabs(residual));
        };
        for (int hour = 1; hour <= 72; ++hour) {
            m.BeginTimeStep(hour, 10, 1, 2020);
            m.RunTimeStep(hour, 10, 1, 2020);
            m.EndTimeStep(hour, 10, 1, 2020);
        }
        for (int r = 1; r <= Rows; ++r)
            for (int c = 1; c <= Cols; ++c) {
                if (!m.OwnModelCell(r, c)) continue;
                run.coldestTop = std::min(run.coldestTop, m.SoilTemperature[r][c][1]);
                run.deepestThaw = std::min(run.deepestThaw, f.Grid("ThawDepthTMod")[r][c]);
                run.state.insert(run.state.end(), m.SoilTemperature[r][c], m.SoilTemperature[r][c] + Layers + 1);
                run.state.insert(run.state.end(), m.Theta[r][c], m.Theta[r][c] + Layers + 1);
            }
    });
    return run;
}

}  // namespace

// Frost from the air into soil just above 0 degC, and a thaw over frozen
// soil: water neither appears nor vanishes as it freezes or thaws, the top
// freezes, a thaw front forms, and the result does not depend on the
// threads. Explicit, implicit and implicit with water-borne heat.
TEST(SoilHeatRun, FreezingAndThawingKeepTheWaterAndThreadsAgree) {
    struct Case {
        const char* what;
        double air, start;
    };
    const Case cases[] = {{"frost", -15, 2}, {"thaw", 30, -3}};
    for (const Case& k : cases) {
        for (int method : {10, 11, 12}) {
            SCOPED_TRACE(std::string(k.what) + ", heat method " + std::to_string(method));
            const int saved = omp_get_max_threads();
            omp_set_num_threads(1);
            const HeatRun one = RunHeat(method, k.air, k.start);
            omp_set_num_threads(4);
            const HeatRun four = RunHeat(method, k.air, k.start);
            omp_set_num_threads(saved);
            EXPECT_LT(one.largestResidual, 1e-9);
            if (k.air < 0) {
                EXPECT_LT(one.coldestTop, 0);
                EXPECT_EQ(one.deepestThaw, 0);  // frozen on top: no thaw front
            } else {
                EXPECT_GT(one.coldestTop, 0);
                EXPECT_LT(one.deepestThaw, 0);  // thawed on top, frozen below
            }
            ASSERT_EQ(one.state.size(), four.state.size());
            EXPECT_EQ(std::memcmp(one.state.data(), four.state.data(), one.state.size() * sizeof(double)), 0);
            std::printf("%s, heat method %d: top %.3f degC, thaw depth %.3f m, residual %.3g mm\n", k.what,
                        method, one.coldestTop, one.deepestThaw, one.largestResidual);
        }
    }
}

// The first step sets the profile of a newly created stack: level 0 the
// lower boundary, the layers in proportion to depth between air and
// boundary; the second step does not reset it.
TEST(SoilHeatRun, InitialProfileAtTheFirstStep) {
    SoilModelFixture f;
    f.groundwater = 0;
    f.extraSections = HeatSection(11);
    f.Add("temperature", -4);
    InDirectory(f.dir.path(), [&] {
        ASSERT_EQ(f.Make(1), 0) << f.console.str();
        unsatzonmodellklasse& m = *f.model;
        m.BeginTimeStep(1, 10, 1, 2020);
        const double* T = m.SoilTemperature[2][2];
        const double* z = m.GeodeticHeads[2][2];
        const double low = f.Grid("T_Lower_Boundary_Condition")[2][2];
        EXPECT_DOUBLE_EQ(low, 12 - 0.007 * z[0]);
        EXPECT_EQ(T[0], low);
        for (int k = 1; k <= Layers; ++k) {
            const double A = (z[0] - (z[k - 1] + z[k]) / 2) / (z[0] - z[Layers]);
            EXPECT_NEAR(T[k], A * low + (1 - A) * -4, 1e-12);
        }
        EXPECT_EQ(m.SoilTemperature[Rows][Cols][1], -9999);
        m.SoilTemperature[2][2][1] = 1.5;
        m.BeginTimeStep(2, 10, 1, 2020);
        EXPECT_EQ(m.SoilTemperature[2][2][1], 1.5);
    });
}

TEST(SoilPreSpinUp, DegreeDaysAndProfile) {
    // mean ground temperature by hand
    EXPECT_NEAR(unsatzon::MeanGroundTemperature(1000, 2000, 1, 0.5, 1.2, 1.5, 1), -0.547945, 1e-6);

    // a year of constant +5 degC, hourly
    SoilModelFixture f;
    f.groundwater = 0;
    f.extraSections = HeatSection(11);
    double** air = f.Add("temperature", 5);
    InDirectory(f.dir.path(), [&] {
        ASSERT_EQ(f.Make(1), 0) << f.console.str();
        unsatzonmodellklasse& m = *f.model;
        // one thread: a year of hourly passes over twelve cells
        const int saved = omp_get_max_threads();
        omp_set_num_threads(1);
        for (int day = 0; day < 365; ++day)
            for (int hour = 1; hour <= 24; ++hour) m.PreSpinUpStep(hour, 1, 1, 2020);
        omp_set_num_threads(saved);
        const int fdd = FindGridEntry(f.table.get(), "FreezingDegreeDays", false);
        const int tdd = FindGridEntry(f.table.get(), "thawingDegreeDays", false);
        ASSERT_GT(fdd, 0);
        ASSERT_GT(tdd, 0);
        EXPECT_EQ(f.table[fdd].Data[2][2], 0);
        EXPECT_NEAR(f.table[tdd].Data[2][2], 5 * 365, 1e-9);
        m.FinishPreSpinUp();
        // the working grids are gone, the profile stays through the first step
        for (const char* name : {"FreezingDegreeDays", "thawingDegreeDays", "DailyTemperature", "AnnualTemperature"})
            EXPECT_EQ(FindGridEntry(f.table.get(), name, false), 0) << name;
        air[2][2] = -30;
        m.BeginTimeStep(1, 1, 1, 2021);
        const double* T = m.SoilTemperature[2][2];
        const double* theta = m.Theta[2][2];
        EXPECT_NEAR(T[1], 5, 1e-12);
        for (int k = 2; k <= Layers; ++k) {
            const double lambda = unsatzon::DegreeDayConductivity(0.45, theta[k], 0.58, 0.5562);
            EXPECT_NEAR(T[k] - T[k - 1], 0.06 * Dz / lambda, 1e-12) << k;
        }
    });

    // heat off: the pre-run refuses to start
    SoilModelFixture off;
    off.groundwater = 0;
    off.Add("temperature", 5);
    ASSERT_EQ(off.Make(1), 0) << off.console.str();
    int code = 0;
    try {
        off.model->PreSpinUpStep(1, 1, 1, 2020);
    } catch (int c) {
        code = c;
    }
    EXPECT_EQ(code, 1040);
    EXPECT_NE(off.console.str().find(
                  "heat transfer model not active in unsatzon_model. This is required for pre-SpinUp!"),
              std::string::npos)
        << off.console.str();
}
