// A warm start on a piece of the example basin: the first run writes every
// state that a later run reads back, the second run starts from them. Here
// the silting-up model and surface routing, which share the concentration
// of the water on the surface, and the interception, each with the two
// tracers of the example.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "soil/example_basin_copy.h"
#include "support/test_support.h"

using namespace testsupport;

namespace {

constexpr int FirstRow = 15, FirstColumn = 18, Rows = 12, Columns = 20;

// The piece from hour 1 of `startDay` to hour 24 of `endDay` (January 2019)
// with the silting-up model and surface routing on and their state grids
// written at the end of the run; `stateDirectory` non-empty: both and the
// interception read their state from there.
void WriteBasin(const TempDir& dir, int startDay, int endDay, const std::string& stateDirectory) {
    soiltest::CopyExampleInputs(dir);
    soiltest::CropExampleGrids(dir, FirstRow, FirstColumn, Rows, Columns);
    std::string control = soiltest::ExampleControl(24, endDay, 1, startDay, 1);
    ASSERT_FALSE(control.empty());
    control = SetSectionSwitch(control, "special_output", 0);
    control = SetSectionSwitch(control, "irrigation", 0);
    control = SetSectionSwitch(control, "SiltingUpModel", 1);
    control = SetSectionSwitch(control, "SurfaceRoutingModel", 1);
    ReplaceOnce(control, "disposition.asc            # silting-up disposition grid\n0",
            "disposition.asc            # silting-up disposition grid\n3");
    ReplaceOnce(control, "rainpause.asc              # rain pause grid\n0", "rainpause.asc              # rain pause grid\n3");
    ReplaceOnce(control, "tst.asc                    # days since tillage\n0",
            "tst.asc                    # days since tillage\n3");
    if (!stateDirectory.empty()) {
        ReplaceOnce(control, "InitialStateDirectory = $in", "InitialStateDirectory = " + stateDirectory + "/");
        ReplaceOnce(control, "0                          # state grids start at 0", "1");
        ReplaceOnce(control, "0                          # start from empty storages", "1 ");
        ReplaceOnce(control, "0                          # storages start empty", "1");
    }
    WriteFile(dir.file("basin.ctl"), control);
}

TEST(ExampleWarmStart, SurfaceTracerStatesAreWrittenAndReadBack) {
    TempDir first;
    WriteBasin(first, 1, 1, "");
    const RunResult cold = RunRuvex(first.path(), {"basin.ctl"}, "OMP_NUM_THREADS=2");
    ASSERT_EQ(cold.exitCode, 0) << cold.output;
    // Both models hold a storage concentration per tracer that the next run
    // reads: each is written by its write code (at the end of the run).
    for (const char* name : {"tracer_chlSilti.asc", "tracer_triSilti.asc", "tracer_chlSurfa.asc",
                             "tracer_triSurfa.asc"}) {
        const std::filesystem::path path = first.file("output/") + name;
        ASSERT_TRUE(std::filesystem::exists(path)) << name;
        EXPECT_NE(ReadFile(path.string()).find("nodata_value"), std::string::npos) << name;
    }
    ASSERT_TRUE(std::filesystem::exists(first.file("output/surfrout_state.txt_0")));

    // The state directory: the inputs with the first run's output over them,
    // but the land-use and soil grids of the input (the output holds other
    // grids under these names).
    TempDir state;
    const auto over = std::filesystem::copy_options::recursive | std::filesystem::copy_options::overwrite_existing;
    std::filesystem::copy(first.file("input"), state.path(), over);
    std::filesystem::copy(first.file("output"), state.path(), over);
    for (const char* name : {"landuse.asc", "soils.asc"})
        std::filesystem::copy(first.file("input/") + name, state.file(name), over);

    TempDir second;
    WriteBasin(second, 2, 2, state.path());
    const RunResult warm = RunRuvex(second.path(), {"basin.ctl"}, "OMP_NUM_THREADS=2");
    EXPECT_EQ(warm.exitCode, 0) << warm.output;
    EXPECT_EQ(warm.output.find("error opening"), std::string::npos) << warm.output;

    // Each of them is read at the warm start: a damaged one ends the run.
#ifdef RUVEX_SANITIZED
    const std::vector<std::string> states{"tracer_chlinter.asc"};
#else
    const std::vector<std::string> states{"tracer_triSilti.asc", "tracer_chlSurfa.asc", "tracer_chlinter.asc"};
#endif
    for (const std::string& name : states) {
        const std::string kept = ReadFile(state.file(name));
        WriteFile(state.file(name), "ncols 3\n");
        const RunResult damaged = RunRuvex(second.path(), {"basin.ctl"}, "OMP_NUM_THREADS=2");
        EXPECT_EQ(damaged.exitCode, 22) << name << "\n" << damaged.output;
        EXPECT_NE(damaged.output.find(state.file(name)), std::string::npos) << name << "\n" << damaged.output;
        WriteFile(state.file(name), kept);
    }
}

}  // namespace
