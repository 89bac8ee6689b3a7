// A run that stops and goes on from its own state must continue the solutes
// bit for bit: a piece of the example basin with the snow, the interception,
// the soil model and the groundwater model carrying the example's two
// tracers, run in one go and split into a first run and a warm start.

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <ostream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "soil/example_basin_copy.h"
#include "support/test_support.h"
#include "support/warm_start.h"

using namespace testsupport;

namespace {

#ifdef RUVEX_SANITIZED
constexpr int LastDay = 2;
#else
constexpr int LastDay = 3;
#endif

constexpr int FirstRow = 15, FirstColumn = 18, Rows = 12, Columns = 20;

struct Piece {
    const char* Name;
    const char* TracerKind;  // "evaporating" or "non_evaporating"
    bool Glacier;            // a small fixed glacier on "ice_firn"
};

// January 2019 from hour 1 of `startDay` to hour 24 of `endDay`, the
// groundwater model on; with a `stateDirectory`, every sub-model reads its
// state from there.
void WriteBasin(const TempDir& dir, const Piece& piece, int startDay, int endDay, const std::string& stateDirectory) {
    soiltest::CopyExampleInputs(dir);
    soiltest::CropExampleGrids(dir, FirstRow, FirstColumn, Rows, Columns);
    std::string control = soiltest::ExampleControl(24, endDay, 1, startDay, 1);
    ASSERT_FALSE(control.empty());
    control = SetSectionSwitch(control, "special_output", 0);
    control = SetSectionSwitch(control, "groundwater_flow", 1);
    ReplaceOnce(control, "30 40                      # control point", "0 0");
    const std::string kind = piece.TracerKind;
    if (kind != "evaporating") {
        ReplaceOnce(control, "Chloride non_radioactive evaporating", "Chloride non_radioactive " + kind);
        ReplaceOnce(control, "half_time = 4493 d evaporating", "half_time = 4493 d " + kind);
    }
    std::vector<std::pair<std::string, std::string>> stateGrids{
        {"snowstorage_solid.asc", "3"}, {"snowstorage_liquid.asc", "3"}, {"snow_age.asc", "3"},
        {"snowtemp.asc", "3"},          {"surftemp.asc", "3"},           {"days_snow.asc", "23"}};
    std::vector<std::string> readSwitches{"state grids are not read", "storages start empty",
                                          "read mode of the state grids", "start heads"};
    if (piece.Glacier) {
        control = AddStandardGrids(
            control, "ice_firn.asc ice_firn fillcode = 0 writecode = 0 statfile = ice_firn.sta statcode = 0\n");
        for (const char* grid : {"firn_WE_stack.asc", "glacier_mass_balance_old.asc", "glacier_snowstorage_solid.asc",
                                 "glacier_snowstorage_liquid.asc", "glacier_surftemp.asc", "glacier_snowtemp.asc"})
            stateGrids.emplace_back(grid, "3");
        readSwitches.emplace_back("glacier grids are not read");
        // A small glacier in the piece: ice in rows 6 and 7, firn in row 8,
        // columns 13 to 16.
        std::istringstream in(ReadFile(dir.file("input/ice_firn.asc")));
        std::ostringstream out;
        std::string line;
        for (int row = -5; std::getline(in, line); ++row) {
            if (row >= 6 && row <= 8) {
                std::istringstream cells(line);
                std::string cell, changed;
                for (int column = 1; cells >> cell; ++column)
                    changed += (column > 1 ? " " : "") + (column >= 13 && column <= 16 ? (row < 8 ? "1" : "2") : cell);
                line = changed;
            }
            out << line << "\n";
        }
        WriteFile(dir.file("input/ice_firn.asc"), out.str());
    }
    for (const auto& [grid, code] : stateGrids) control = SetWriteCodesAfter(control, {grid}, std::stoi(code));
    if (!stateDirectory.empty()) {
        ReplaceOnce(control, "InitialStateDirectory = $in", "InitialStateDirectory = " + stateDirectory + "/");
        for (const std::string& comment : readSwitches) SwitchReadOn(control, comment);
    }
    WriteFile(dir.file("basin.ctl"), control);
}

void RunBasin(const TempDir& dir) {
    const RunResult run = RunRuvex(dir.path(), {"basin.ctl"}, "OMP_NUM_THREADS=2");
    ASSERT_EQ(run.exitCode, 0) << run.output;
}

std::vector<std::vector<double>> RowsFromDay(const std::string& path, int day) {
    std::vector<std::vector<double>> rows;
    for (const std::vector<double>& row : StatisticsValueRows(path))
        if (row.size() > 2 && row[2] >= day) rows.push_back(row);
    return rows;
}

void PrintTo(const Piece& piece, std::ostream* out) { *out << piece.Name; }

class ExampleWarmStartTracers : public ::testing::TestWithParam<Piece> {};

TEST_P(ExampleWarmStartTracers, SplitRunEqualsContinuousRun) {
    const Piece& piece = GetParam();
    TempDir whole, first, state, warm;
    WriteBasin(whole, piece, 1, LastDay, "");
    WriteBasin(first, piece, 1, 1, "");
    if (HasFatalFailure()) return;
    RunBasin(whole);
    RunBasin(first);
    if (HasFatalFailure()) return;
    FillStateDirectory(first, state);
    WriteBasin(warm, piece, 2, LastDay, state.path());
    RunBasin(warm);
    if (HasFatalFailure()) return;

    const std::map<std::string, std::string> expected = OutputFiles(whole);
    const std::map<std::string, std::string> got = OutputFiles(warm);
    int grids = 0, statistics = 0;
    for (const auto& [name, text] : expected) {
        // The solutes, and the snow temperatures that drive the melt they leave with.
        const bool temperature = name.rfind("snowtemp.", 0) == 0 || name.rfind("surftemp.", 0) == 0;
        if (name.rfind("tracer_", 0) != 0 && !temperature) continue;
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
    // statistics, for each of the two tracers, and the two temperatures.
    EXPECT_GE(grids, 12);
    EXPECT_GE(statistics, 10);
}

// Solutes that stay behind when water evaporates and solutes that leave with
// it; and a few glacier cells, which keep no snow pack of their own and so no
// snow temperature.
INSTANTIATE_TEST_SUITE_P(Pieces, ExampleWarmStartTracers,
                         ::testing::Values(Piece{"Evaporating", "evaporating", false},
                                           Piece{"NonEvaporating", "non_evaporating", false},
                                           Piece{"Glacier", "evaporating", true}),
                         [](const ::testing::TestParamInfo<Piece>& info) { return info.param.Name; });

}  // namespace
