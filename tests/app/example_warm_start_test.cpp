// A warm start on a piece of the example basin: the first run writes every
// state that a later run reads back, the second run starts from them. Here
// the silting-up model and surface routing, which share the concentration
// of the water on the surface, and the interception, each with the two
// tracers of the example; and a run split in two that must go on exactly as
// the run over the whole period.

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "soil/example_basin_copy.h"
#include "support/test_support.h"
#include "support/warm_start.h"

using namespace testsupport;

namespace {

constexpr int FirstRow = 15, FirstColumn = 18, Rows = 12, Columns = 20;

// The piece from hour 1 of `startDay` to hour 24 of `endDay` (of `month`
// 2019) with the silting-up model and surface routing on and their state
// grids written at the end of the run; `stateDirectory` non-empty: both and
// the interception read their state from there.
void WriteBasin(const TempDir& dir, int startDay, int endDay, const std::string& stateDirectory, int month = 1) {
    soiltest::CopyExampleInputs(dir);
    soiltest::CropExampleGrids(dir, FirstRow, FirstColumn, Rows, Columns);
    std::string control = soiltest::ExampleControl(24, endDay, month, startDay, month);
    ASSERT_FALSE(control.empty());
    control = SetSectionSwitch(control, "special_output", 0);
    control = SetSectionSwitch(control, "irrigation", 0);
    control = SetSectionSwitch(control, "SiltingUpModel", 1);
    control = SetSectionSwitch(control, "SurfaceRoutingModel", 1);
    control = SetWriteCodesAfter(control, {"disposition.asc", "rainpause.asc", "tst.asc"}, 3);
    if (!stateDirectory.empty()) {
        ReplaceOnce(control, "InitialStateDirectory = $in", "InitialStateDirectory = " + stateDirectory + "/");
        ReplaceOnce(control, "0                          # state grids start at 0", "1");
        ReplaceOnce(control, "0                          # start from empty storages", "1 ");
        ReplaceOnce(control, "0                          # storages start empty", "1");
    }
    WriteFile(dir.file("basin.ctl"), control);
}

// Days of May 2019 with rain heavy enough for water to run over the surface
// of the piece.
constexpr int WetMonth = 5, WetDay = 6;

// The piece with every sub-model on but the groundwater, from hour 1 of
// `startDay` to hour `endHour` of `endDay` (May 2019), every state written at
// the end of the run; `stateDirectory` non-empty: every state is read from
// there.
void WriteWholeBasin(const TempDir& dir, int startDay, int endDay, int endHour, const std::string& stateDirectory) {
    WriteBasin(dir, startDay, endDay, stateDirectory, WetMonth);
    std::string control = ReadFile(dir.file("basin.ctl"));
    ReplaceOnce(control, "\n24\n" + std::to_string(endDay) + "\n" + std::to_string(WetMonth) + "\n2019\n",
                "\n" + std::to_string(endHour) + "\n" + std::to_string(endDay) + "\n" + std::to_string(WetMonth) +
                    "\n2019\n");
    control = SetSectionSwitch(control, "irrigation", 1);
    control = SetWriteCodesAfter(control, {"snowstorage_solid.asc", "snowstorage_liquid.asc", "snow_age.asc",
                                           "snowtemp.asc", "surftemp.asc", "kinetic_energy.asc", "surfstor.asc"},
                                 3);
    // The snow days go on from the count they had (a sum that is read back).
    control = SetWriteCodesAfter(control, {"days_snow.asc"}, 23);
    if (!stateDirectory.empty()) {
        ReplaceOnce(control,
                    "surfstor.asc SurfStorSiltingUp 0 0  # water on the surface for the silting-up model [mm]\n3\n0",
                    "surfstor.asc SurfStorSiltingUp 0 0\n3\n1");
        ReplaceOnce(control, "0                          # state grids are not read: a cold start", "1");
        ReplaceOnce(control, "0                          # read mode of the state grids: cold start", "1");
    }
    WriteFile(dir.file("basin.ctl"), control);
}

TEST(ExampleWarmStart, SplitRunGoesOnExactlyForSurfaceAndRouting) {
    // Two wet days at once, and split after the first: the first day on its
    // own, then a warm start over the second (its first hours under the
    // sanitizers, without the daily statistics). Water runs over the surface
    // at the split.
#ifdef RUVEX_SANITIZED
    const int lastHour = 6;
    const std::vector<std::string> tables{"Qrouted.sta", "reservoir_1.txt", "abstraction_1.txt"};
#else
    const int lastHour = 24;
    const std::vector<std::string> tables{"sdisp.sta", "qdsu.sta", "qdsr.sta", "qisr.sta", "qbsr.sta",
                                          "qgsr.sta", "sr_storage.sta", "Qrouted.sta", "reservoir_1.txt",
                                          "abstraction_1.txt"};
#endif
    TempDir whole, first, state, second;
    WriteWholeBasin(whole, WetDay, WetDay + 1, lastHour, "");
    WriteWholeBasin(first, WetDay, WetDay, 24, "");
    const RunResult full = RunRuvex(whole.path(), {"basin.ctl"}, "OMP_NUM_THREADS=2");
    ASSERT_EQ(full.exitCode, 0) << full.output;
    const RunResult cold = RunRuvex(first.path(), {"basin.ctl"}, "OMP_NUM_THREADS=2");
    ASSERT_EQ(cold.exitCode, 0) << cold.output;
    const std::string velocities = ReadFile(first.file("output/surfrout_state.txt_0"));
    ASSERT_EQ(velocities.find("\n0 (cells with flow velocities)"), std::string::npos) << velocities;
    FillStateDirectory(first, state);
    WriteWholeBasin(second, WetDay + 1, WetDay + 1, lastHour, state.path());
    const RunResult warm = RunRuvex(second.path(), {"basin.ctl"}, "OMP_NUM_THREADS=2");
    ASSERT_EQ(warm.exitCode, 0) << warm.output;

    const std::map<std::string, std::string> a = OutputFiles(whole), b = OutputFiles(second);
    auto both = [&](const std::string& name) {
        const bool present = a.count(name) && b.count(name);
        EXPECT_TRUE(present) << name;
        return present;
    };
    // Statistics and tables of the silting-up model, surface routing and the
    // routing: every row from the split on.
    for (const std::string& name : tables) {
        if (!both(name)) continue;
        const std::vector<std::string> rows = RowsFromDay(a.at(name), WetMonth, WetDay + 1);
        EXPECT_FALSE(rows.empty()) << name;
        EXPECT_EQ(rows, RowsFromDay(b.at(name), WetMonth, WetDay + 1)) << name;
    }
    // Their states at the end, byte for byte.
    for (const char* name : {"surfstor.asc", "kinetic_energy.asc", "rainpause.asc", "disposition.asc", "tst.asc",
                             "surfrout_state.txt_0", "tracer_chlSilti.asc", "tracer_triSilti.asc"}) {
        if (both(name)) {
            EXPECT_EQ(a.at(name), b.at(name)) << name;
        }
    }
    if (both("storage_content.txt_0")) {
        auto routing = [](const std::string& text) { return text.substr(0, text.find("[unsatzon_model]")); };
        EXPECT_EQ(routing(a.at("storage_content.txt_0")), routing(b.at("storage_content.txt_0")));
    }
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

    TempDir state;
    FillStateDirectory(first, state);

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
