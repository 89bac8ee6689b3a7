// A run that stops and goes on from its own state must continue the solutes
// bit for bit: a piece of the example basin with the snow, the interception,
// the soil model and the groundwater model carrying the example's two
// tracers, run in one go and split into a first run and a warm start.

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "soil/example_basin_copy.h"
#include "support/test_support.h"

using namespace testsupport;

namespace {

constexpr int FirstRow = 15, FirstColumn = 18, Rows = 12, Columns = 20;

#ifdef RUVEX_SANITIZED
constexpr int LastDay = 2;
#else
constexpr int LastDay = 3;
#endif

// January 2019 from hour 1 of `startDay` to hour 24 of `endDay`, the
// groundwater model on; with a `stateDirectory`, every sub-model reads its
// state from there.
void WriteBasin(const TempDir& dir, int startDay, int endDay, const std::string& stateDirectory,
                const std::string& tracerKind) {
    soiltest::CopyExampleInputs(dir);
    soiltest::CropExampleGrids(dir, FirstRow, FirstColumn, Rows, Columns);
    std::string control = soiltest::ExampleControl(24, endDay, 1, startDay, 1);
    ASSERT_FALSE(control.empty());
    control = SetSectionSwitch(control, "special_output", 0);
    control = SetSectionSwitch(control, "groundwater_flow", 1);
    ReplaceOnce(control, "30 40                      # control point", "0 0");
    if (tracerKind != "evaporating") {
        ReplaceOnce(control, "Chloride non_radioactive evaporating", "Chloride non_radioactive " + tracerKind);
        ReplaceOnce(control, "half_time = 4493 d evaporating", "half_time = 4493 d " + tracerKind);
    }
    // The snow model's state grids at the end of the run (the snow days also
    // summed over it).
    for (const auto& [grid, writeCode] : {std::pair{"snowstorage_solid.asc", "3"}, {"snowstorage_liquid.asc", "3"},
                                          {"snow_age.asc", "3"}, {"snowtemp.asc", "3"}, {"surftemp.asc", "3"},
                                          {"days_snow.asc", "23"}}) {
        const size_t at = control.find("\n" + std::string(grid));
        ASSERT_NE(at, std::string::npos) << grid;
        const size_t code = control.find('\n', at + 1) + 1;
        control.replace(code, control.find_first_of(" \t\n", code) - code, writeCode);
    }
    if (!stateDirectory.empty()) {
        ReplaceOnce(control, "InitialStateDirectory = $in", "InitialStateDirectory = " + stateDirectory + "/");
        for (const char* comment : {"state grids are not read", "storages start empty", "read mode of the state grids",
                                    "start heads"}) {
            const size_t at = control.find(std::string(comment));
            ASSERT_NE(at, std::string::npos) << comment;
            const size_t line = control.rfind('\n', at) + 1;
            ASSERT_EQ(control[line], '0') << comment;
            control[line] = '1';
        }
    }
    WriteFile(dir.file("basin.ctl"), control);
}

void RunBasin(const TempDir& dir) {
    const RunResult run = RunRuvex(dir.path(), {"basin.ctl"}, "OMP_NUM_THREADS=2");
    ASSERT_EQ(run.exitCode, 0) << run.output;
}

// The inputs with the first run's output over them, but the land-use and soil
// grids of the input (the output holds other grids under these names).
void MakeStateDirectory(const TempDir& first, const TempDir& state) {
    const auto over = std::filesystem::copy_options::recursive | std::filesystem::copy_options::overwrite_existing;
    std::filesystem::copy(first.file("input"), state.path(), over);
    std::filesystem::copy(first.file("output"), state.path(), over);
    for (const char* name : {"landuse.asc", "soils.asc"})
        std::filesystem::copy(first.file("input/") + name, state.file(name), over);
}

std::vector<std::vector<double>> RowsFromDay(const std::string& path, int day) {
    std::vector<std::vector<double>> rows;
    for (const std::vector<double>& row : StatisticsValueRows(path))
        if (row.size() > 2 && row[2] >= day) rows.push_back(row);
    return rows;
}

class ExampleWarmStartTracers : public ::testing::TestWithParam<const char*> {};

TEST_P(ExampleWarmStartTracers, SplitRunEqualsContinuousRun) {
    const std::string kind = GetParam();
    TempDir whole, first, state, warm;
    WriteBasin(whole, 1, LastDay, "", kind);
    WriteBasin(first, 1, 1, "", kind);
    RunBasin(whole);
    RunBasin(first);
    if (HasFatalFailure()) return;
    MakeStateDirectory(first, state);
    WriteBasin(warm, 2, LastDay, state.path(), kind);
    RunBasin(warm);
    if (HasFatalFailure()) return;

    const std::map<std::string, std::string> expected = OutputFiles(whole);
    const std::map<std::string, std::string> got = OutputFiles(warm);
    int grids = 0, statistics = 0;
    for (const auto& [name, text] : expected) {
        if (name.rfind("tracer_", 0) != 0) continue;
        const auto other = got.find(name);
        ASSERT_NE(other, got.end()) << name;
        const std::string extension = std::filesystem::path(name).extension().string();
        if (extension == ".asc") {
            ++grids;
            EXPECT_TRUE(text == other->second) << name << " differs after the warm start";
        } else if (extension == ".sta") {
            const auto rows = RowsFromDay(whole.file("output/") + name, 2);
            EXPECT_FALSE(rows.empty()) << name;
            if (!rows.empty()) ++statistics;
            EXPECT_EQ(rows, RowsFromDay(warm.file("output/") + name, 2)) << name;
        }
    }
    // The snow, interception, soil and both groundwater layers' states and
    // statistics, for each of the two tracers.
    EXPECT_GE(grids, 10);
    EXPECT_GE(statistics, 10);
}

INSTANTIATE_TEST_SUITE_P(Kinds, ExampleWarmStartTracers, ::testing::Values("evaporating", "non_evaporating"));

}  // namespace
