// The whole example basin, every sub-model at once, run over two days in one
// go and split in two: the first day, then a warm start over the second from
// every state the first day left (the storage content file, the state grids
// and stacks of the snow, the glacier, the interception, the silting-up
// model, the soil model, surface routing and the groundwater). Every output
// of the second day is the same, byte for byte.

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "support/test_support.h"
#include "support/warm_start.h"

using namespace testsupport;

namespace {

const std::string BasinDir = std::string(RUVEX_TEST_DATA) + "/../../examples/basin";

// Wet days of May 2019: water runs over the surface, snow lies high up.
constexpr int Month = 5, FirstDay = 6;

// The example from hour 1 of `startDay` to hour `endHour` of `endDay` (May
// 2019), every state written at the end of the run; with a `stateDirectory`,
// every sub-model reads its state from there.
void WriteExample(const TempDir& dir, int startDay, int endDay, int endHour, const std::string& stateDirectory) {
    std::filesystem::copy(BasinDir + "/input", dir.file("input"), std::filesystem::copy_options::recursive);
    std::filesystem::create_directories(dir.file("output"));
    std::string control = ReadFile(BasinDir + "/basin.ctl");
    const std::regex modelTime(R"(\[model_time\]\n(.*\n){8})");
    auto line = [](int value) { return std::to_string(value) + "\n"; };
    const std::string period = "[model_time]\n1\n" + line(startDay) + line(Month) + "2019\n" + line(endHour) +
                               line(endDay) + line(Month) + "2019\n";
    const std::string replaced = std::regex_replace(control, modelTime, period);
    ASSERT_NE(replaced, control) << "the example's model time has moved";
    control = SetWriteCodesAfter(
        replaced,
        {"snowstorage_solid.asc", "snowstorage_liquid.asc", "snow_age.asc", "snowtemp.asc", "surftemp.asc",
         "firn_WE_stack.asc", "glacier_mass_balance_old.asc", "glacier_snowstorage_solid.asc",
         "glacier_snowstorage_liquid.asc", "glacier_surftemp.asc", "glacier_snowtemp.asc", "disposition.asc",
         "rainpause.asc", "tst.asc", "surfstor.asc"},
        3);
    control = SetWriteCodesAfter(control, {"days_snow.asc"}, 23);
    if (!stateDirectory.empty()) {
        ReplaceOnce(control, "InitialStateDirectory = $in", "InitialStateDirectory = " + stateDirectory + "/");
        ReplaceOnce(control,
                    "surfstor.asc SurfStorSiltingUp 0 0  # water on the surface for the silting-up model [mm]\n3\n0",
                    "surfstor.asc SurfStorSiltingUp 0 0\n3\n1");
        for (const char* comment : {"state grids are not read", "glacier grids are not read", "storages start empty",
                                    "state grids start at 0", "read mode of the state grids",
                                    "start from empty storages", "start heads"})
            SwitchReadOn(control, comment);
    }
    WriteFile(dir.file("basin.ctl"), control);
}

TEST(ExampleWarmStart, WholeExampleSplitRunEqualsOneRun) {
    // Under the sanitizers the second day is cut to its first hours.
#ifdef RUVEX_SANITIZED
    const int lastHour = 3;
#else
    const int lastHour = 24;
#endif
    TempDir whole, first, state, second;
    WriteExample(whole, FirstDay, FirstDay + 1, lastHour, "");
    WriteExample(first, FirstDay, FirstDay, 24, "");
    if (HasFatalFailure()) return;
    const RunResult full = RunRuvex(whole.path(), {"basin.ctl"}, "OMP_NUM_THREADS=2");
    ASSERT_EQ(full.exitCode, 0) << full.output;
    const RunResult cold = RunRuvex(first.path(), {"basin.ctl"}, "OMP_NUM_THREADS=2");
    ASSERT_EQ(cold.exitCode, 0) << cold.output;
    FillStateDirectory(first, state);
    WriteExample(second, FirstDay + 1, FirstDay + 1, lastHour, state.path());
    const RunResult warm = RunRuvex(second.path(), {"basin.ctl"}, "OMP_NUM_THREADS=2");
    ASSERT_EQ(warm.exitCode, 0) << warm.output;

    const std::map<std::string, std::string> a = OutputFiles(whole), b = OutputFiles(second);
    int tables = 0, states = 0;
    for (const auto& [name, text] : a) {
        const std::string extension = std::filesystem::path(name).extension().string();
        // Sums and means over a run's own steps differ by their nature.
        if (extension == ".sum" || extension == ".mit") continue;
        const auto other = b.find(name);
        ASSERT_NE(other, b.end()) << name;
        const std::vector<std::string> rows = RowsFromDay(text, Month, FirstDay + 1);
        if (!rows.empty()) {
            ++tables;
            EXPECT_EQ(rows, RowsFromDay(other->second, Month, FirstDay + 1)) << name;
        } else if (RowsFromDay(text, Month, 1).empty()) {
            // A file without dated rows is a state or an end-of-run grid.
            ++states;
            EXPECT_TRUE(text == other->second) << name << " differs after the warm start";
        }
    }
    // Snow, glacier, interception, silting-up, soil, surface routing,
    // groundwater, routing and the tracers of each of them.
    EXPECT_GE(states, 40);
    EXPECT_GE(tables, lastHour == 24 ? 80 : 2);
}

}  // namespace
