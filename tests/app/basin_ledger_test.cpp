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

#include "app/modapuzr.h"
#include "framework/diagnostics_writer.h"
#include "soil/example_basin_copy.h"
#include "support/basin_ledger.h"
#include "support/test_support.h"

using namespace testsupport;

namespace {

// The control text of the example from hour 1 of `startDay` June 2019 for
// `hours` hourly steps, the glacier and the aquifer left as the example has
// them.
std::string ExampleWindowControl(int startDay, int hours) {
    std::string control = ReadFile((soiltest::ExampleBasin() / "basin.ctl").string());
    const size_t begin = control.find("[model_time]");
    const size_t end = control.find("[zone_grid]");
    if (begin == std::string::npos || end == std::string::npos) return "";
    control.replace(begin, end - begin,
                    "[model_time]\n1\n" + std::to_string(startDay) + "\n6\n2019\n" +
                        std::to_string((hours - 1) % 24 + 1) + "\n" + std::to_string(startDay + (hours - 1) / 24) +
                        "\n6\n2019\n\n");
    return control;
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
    size_t at = control.find('\n', block) + 1;
    control.replace(block, at - 1 - block, "3");
    at = block + 2;
    for (int line = 0; line < 6; ++line) {
        const size_t blank = control.find(' ', at);
        control.erase(at, blank + 1 - at);
        at = control.find('\n', at) + 1;
    }
    const size_t point = control.find("30 40                      # control point (row column)");
    if (point == std::string::npos) return "";
    control.replace(point, 5, "0 0  ");
    const size_t network = control.find("TG 1 A = ");
    const size_t networkEnd = control.find("end of the routing network");
    if (network == std::string::npos || networkEnd == std::string::npos) return "";
    control.replace(network, networkEnd - network, "TG 3 A = " + std::to_string(area) + " f = 1.0\n");
    return SetSectionSwitch(control, "special_output", 0);
}

struct LedgerRun {
    int Code = 0;
    std::string Console;
};

// Runs the control text in `dir` in this process and books every step.
LedgerRun RunWithLedger(const TempDir& dir, const std::string& control,
                        const std::function<void(ModellApplication&, BasinLedger&)>& check) {
    WriteFile(dir.file("basin.ctl"), control);
    struct WorkingDirectory {
        std::filesystem::path Previous = std::filesystem::current_path();
        ~WorkingDirectory() { std::filesystem::current_path(Previous); }
    } restore;
    std::filesystem::current_path(dir.path());

    // One thread: the ledger reads between the steps, and spinning threads
    // only slow a loaded machine down.
    struct OneThread {
        int Previous = omp_get_max_threads();
        OneThread() { omp_set_num_threads(1); }
        ~OneThread() { omp_set_num_threads(Previous); }
    } threads;

    LedgerRun result;
    std::ostringstream console;
    DiagnosticsWriter writer(dir.file("diag.xml"), DiagDebug, console);
    ModellApplication app;
    std::string program = "ruvex", file = "basin.ctl";
    char* argv[] = {program.data(), file.data(), nullptr};
    try {
        app.init(&writer, 2, argv, 1);
    } catch (int thrown) {
        result.Code = thrown;
    }
    if (result.Code != 0) {
        result.Console = console.str();
        return result;
    }
    // The groundwater model sets its start heads in its first step: the
    // ledger opens behind it.
    BasinLedger ledger(app);
    bool open = false;
    app.AfterTimeStep = [&] {
        if (open) {
            ledger.BookStep();
        } else {
            ledger.Open();
            open = true;
        }
    };
    try {
        app.run();
    } catch (int thrown) {
        result.Code = thrown;
    }
    app.AfterTimeStep = nullptr;
    result.Console = console.str();
    if (result.Code == 0) check(app, ledger);
    app.ClearMemory();
    return result;
}

#ifdef RUVEX_SANITIZED
constexpr int Hours = 6;
#else
constexpr int Hours = 48;
#endif

}  // namespace

// The example's sub-models as they stand: snow with the dynamic glacier,
// interception, evapotranspiration, irrigation, the soil model and the two
// groundwater layers, on the glacier's corner of the basin in June.
TEST(BasinLedger, ExampleWithGlacierCloses) {
    TempDir dir;
    soiltest::CopyExampleInputs(dir);
    soiltest::CropExampleGrids(dir, 38, 58, 12, 12);
    const std::string control = SubbasinThreeOnly(ExampleWindowControl(12, Hours), 1.0);
    ASSERT_FALSE(control.empty());
    const LedgerRun run = RunWithLedger(dir, control, [](ModellApplication&, BasinLedger& ledger) {
        const double relative = std::fabs(ledger.RunResidual()) / ledger.RunScale();
        std::printf("%s", ledger.Table().c_str());
        EXPECT_EQ(ledger.Steps(), Hours - 1);
        EXPECT_GT(ledger.TotalOf("precipitation"), 0);
        EXPECT_LT(relative, 1e-9) << ledger.Table();
        EXPECT_LT(ledger.WorstRelativeStep(), 1e-9) << ledger.Table();
    });
    ASSERT_EQ(run.Code, 0) << run.Console;
}
