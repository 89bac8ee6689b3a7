// A run of the real executable that stops and goes on: four days of a small
// part of the example basin in one go, and the same four days as a chain of
// runs, each started from the state the one before left (read mode 1). Every
// file the last run writes, statistics, point files, routed discharge, state
// grids and stacks and the storage content file, agrees byte for byte with
// the one run.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "support/example_switches.h"
#include "support/test_support.h"

using namespace testsupport;

namespace {

namespace fs = std::filesystem;

std::string Replaced(std::string text, const std::string& what, const std::string& with) {
    const size_t at = text.find(what);
    EXPECT_NE(at, std::string::npos) << what;
    if (at != std::string::npos) text.replace(at, what.size(), with);
    return text;
}

// The example's inputs with the subbasins cut down to a window of 5 x 12
// cells that holds all three, and travel times that spread every subbasin
// over four flow-time zones.
void CopyInputs(const TempDir& dir) {
    const fs::path example = TestDataPath("../../examples/basin");
    fs::copy(example / "input", dir.file("input"), fs::copy_options::recursive);
    std::istringstream zones(ReadFile(dir.file("input/zones.asc")));
    std::string header, out, times;
    for (int i = 0; i < 6 && std::getline(zones, header); ++i) out += header + "\n";
    times = out;
    std::string line;
    for (int r = 0; std::getline(zones, line); ++r) {
        std::istringstream values(line);
        std::string value;
        for (int c = 0; values >> value; ++c) {
            const bool kept = r >= 22 && r <= 26 && c >= 22 && c <= 33;
            out += (c ? " " : "") + (kept ? value : std::string("-9999"));
            times += (c ? " " : "") + std::to_string(600 + (c % 4) * 3600);
        }
        out += "\n";
        times += "\n";
    }
    WriteFile(dir.file("input/zones.asc"), out);
    WriteFile(dir.file("input/flow_times.asc"), times);
}

// Every land-use parameter at its mid-season value the whole year: the daily
// parameter grids of a run's first day are those of its start date, while a
// run that goes on uses those of the day before until the day ends.
std::string ConstantLanduse(std::string control) {
    for (const char* key : {"Albedo = ", "rsc = ", "rs_interception = ", "rs_evaporation = ", "LAI = ", "Z0 = ",
                            "VCF = ", "RootDepth = "}) {
        for (size_t at = control.find(key); at != std::string::npos; at = control.find(key, at + 1)) {
            const size_t begin = at + std::string(key).size();
            const size_t end = control.find(';', begin);
            std::istringstream values(control.substr(begin, end - begin));
            // The mid-season value (the fourth).
            std::string first;
            for (int i = 0; i < 4; ++i) values >> first;
            if (std::string(key) == "Albedo = ") first = "0.2";  // the value the albedo grid starts with
            std::string all = first;
            for (int i = 1; i < 6; ++i) all += " " + first;
            control.replace(begin, end - begin, all);
        }
    }
    return control;
}

// The example's control file for the period, with hourly soil statistics,
// a control point, the flow times, constant land-use parameters (or the
// example's own tables with `dailyLanduse`), and snow and interception off
// (their storages would start cold in the second run).
std::string Control(const std::string& period, const std::string& in, const std::string& out, int readMode,
                    bool routing = true, bool dailyLanduse = false) {
    std::string control = ReadFile(TestDataPath("../../examples/basin/basin.ctl"));
    const size_t begin = control.find("[model_time]");
    control.replace(begin, control.find("[zone_grid]") - begin, "[model_time]\n" + period + "\n");
    control = Replaced(control, "$set $in = input/", "$set $in = " + in);
    control = Replaced(control, "$set $out = output/", "$set $out = " + out);
    // the glacier, the aquifer, surface routing and the silting-up keep
    // states of their own: they stay out
    control = RemoveStandardGrids(control, {"ice_firn.asc"});
    control = SetSectionSwitch(control, "groundwater_flow", 0);
    control = SetSectionSwitch(control, "SurfaceRoutingModel", 0);
    control = SetSectionSwitch(control, "SiltingUpModel", 0);
    control = AddStandardGrids(control, "flow_times.asc flow_times fillcode = 0 writecode = 0 statfile = "
                                        "flow_times.sta statcode = 0\n");
    control = Replaced(control, "0 0                        # control point (row column): none", "25 30");
    control = Replaced(control, "0                          # read mode of the state grids: cold start",
                       std::to_string(readMode));
    const size_t soil = control.find("[unsatzon_model]");
    const size_t soilEnd = control.find("[SurfaceRoutingModel]");
    for (size_t at = control.find(".sta 2024", soil); at < soilEnd; at = control.find(".sta 2024", at))
        control.replace(at, 9, ".sta 2001");
    control = SetSectionSwitch(control, "snow_model", 0);
    control = SetSectionSwitch(control, "interception_model", 0);
    if (!routing) control = SwitchOffWithDependents(control, {"routing_model"});
    return dailyLanduse ? control : ConstantLanduse(control);
}

// Every statistics file of the control text with a row per step: a day's
// mean is not comparable when the day is split between two runs.
std::string HourlyStatistics(std::string control) {
    for (const char* code : {" 2024", " 4024", "statcode = 2024", "statcode = 4024"}) {
        std::string hourly = code;
        hourly.replace(hourly.size() - 2, 2, "01");
        for (size_t at = control.find(code); at != std::string::npos; at = control.find(code, at + 1))
            control.replace(at, hourly.size(), hourly);
    }
    return control;
}

// The non-empty lines of a text file.
std::vector<std::string> Lines(const std::string& path) {
    std::vector<std::string> lines;
    std::istringstream in(ReadFile(path));
    for (std::string line; std::getline(in, line);)
        if (!line.empty()) lines.push_back(line);
    return lines;
}

// The dated rows of a statistics or point file.
std::vector<std::string> DataRows(const std::string& path) {
    std::vector<std::string> rows;
    std::istringstream in(ReadFile(path));
    for (std::string line; std::getline(in, line);)
        if (line.rfind("2019", 0) == 0) rows.push_back(line);
    return rows;
}

}  // namespace

TEST(SoilWarmStart, TwoRunsEqualOne) {
    // The chain stops at midnight after 18 July and again at noon of 19 July,
    // inside a sunlit day: the evapotranspiration carries the sunshine of the
    // day's sunlit steps over to its night, and the daily land-use parameters
    // of the example's tables change at the end of every day.
    const std::string whole = "13\n18\n7\n2019\n24\n19\n7\n2019";
    const std::string first = "13\n18\n7\n2019\n24\n18\n7\n2019";
    const std::string second = "1\n19\n7\n2019\n12\n19\n7\n2019";
    const std::string third = "13\n19\n7\n2019\n24\n19\n7\n2019";
    auto control = [](const std::string& period, const std::string& in, const std::string& out, int readMode) {
        return HourlyStatistics(Control(period, in, out, readMode, true, true));
    };

    TempDir a;
    CopyInputs(a);
    fs::create_directories(a.file("output"));
    WriteFile(a.file("basin.ctl"), control(whole, "input/", "output/", 0));
    RunResult run = RunRuvex(a.path(), {"basin.ctl"});
    ASSERT_EQ(run.exitCode, 0) << run.output;

    TempDir b;
    CopyInputs(b);
    for (const char* d : {"state1", "state2", "output"}) fs::create_directories(b.file(d));
    WriteFile(b.file("first.ctl"), control(first, "input/", "state1/", 0));
    run = RunRuvex(b.path(), {"first.ctl"});
    ASSERT_EQ(run.exitCode, 0) << run.output;
    // The later runs read their inputs and the state from one directory (the
    // land-use and soil grids a run writes hold table positions, not codes:
    // the inputs replace them).
    auto inputsInto = [&](const char* d) {
        fs::copy(b.file("input"), b.file(d), fs::copy_options::recursive | fs::copy_options::overwrite_existing);
    };
    inputsInto("state1");
    WriteFile(b.file("second.ctl"), control(second, "state1/", "state2/", 1));
    run = RunRuvex(b.path(), {"second.ctl"});
    ASSERT_EQ(run.exitCode, 0) << run.output;
    inputsInto("state2");
    // On eight threads: the warm start does not depend on them either.
    WriteFile(b.file("third.ctl"), control(third, "state2/", "output/", 1));
    run = RunRuvex(b.path(), {"third.ctl"}, "RUVEX_PARALLEL_MIN_CELLS=1 OMP_NUM_THREADS=8");
    ASSERT_EQ(run.exitCode, 0) << run.output;
    const std::string diagnostics = ReadFile(b.file("Ruvex_Diag.xml"));
    for (const char* model : {"unsatzon_model", "evapotranspiration"}) {
        EXPECT_NE(diagnostics.find(std::string("storage content of ") + model + " read from"), std::string::npos)
            << model;
    }

    // Every file of the last run: its dated rows are the last rows of the
    // one run's file under the same column titles; a file without dated rows
    // (grids, stacks, the storage content file) is the same file. (The other
    // header lines name the run's own files, and the efficiency criteria
    // cover the run's own period.)
    int compared = 0;
    for (const auto& entry : fs::directory_iterator(b.file("output"))) {
        const std::string name = entry.path().filename().string();
        SCOPED_TRACE(name);
        const std::string continuousPath = a.file("output/" + name);
        ASSERT_TRUE(FileExists(continuousPath));
        const std::vector<std::string> warm = DataRows(entry.path().string());
        if (warm.empty()) {
            EXPECT_TRUE(ReadFile(continuousPath) == ReadFile(entry.path().string()));
        } else {
            const std::vector<std::string> continuous = DataRows(continuousPath);
            ASSERT_GE(continuous.size(), warm.size());
            EXPECT_EQ(std::vector<std::string>(continuous.end() - static_cast<long>(warm.size()), continuous.end()),
                      warm);
            EXPECT_EQ(Lines(continuousPath).front(), Lines(entry.path().string()).front());
        }
        ++compared;
    }
    EXPECT_GT(compared, 20);

    // The point files of the cell step itself are compared once they get rows.
    const std::vector<std::string> cellPointFiles = {"otherdata.txt", "etr.txt", "interflow.txt"};
    for (const char* name : {"gwstand.sta", "gwn.sta", "sb1.sta", "sb2.sta", "root.sta", "infex.sta", "qd.sta",
                             "qi.sta", "qb.sta", "qg.sta", "macro.sta", "infilt.sta", "qbottom.txt", "theta.txt",
                             "hhyd.txt", "otherdata.txt", "etr.txt", "interflow.txt", "Qrouted.sta"}) {
        SCOPED_TRACE(name);
        const std::vector<std::string> warm = DataRows(b.file(std::string("output/") + name));
        const bool cellPoint = std::find(cellPointFiles.begin(), cellPointFiles.end(), name) != cellPointFiles.end();
        if (cellPoint && warm.empty()) continue;
        ASSERT_EQ(warm.size(), 12u);
        EXPECT_TRUE(warm.front().rfind("2019\t 7\t19\t13\t", 0) == 0 || warm.front().rfind("2019\t7\t19\t13\t", 0) == 0)
            << warm.front();
    }
    for (const char* name : {"theta.stk", "hh.stk", "hgeo.stk", "gwstand.asc", "gwtheta.asc", "gwlevel.asc",
                             "deltagw.asc", "storage_content.txt_0"}) {
        SCOPED_TRACE(name);
        ASSERT_TRUE(FileExists(a.file(std::string("output/") + name)));
    }
    // Water travels: the direct runoff of the second half is not all zero.
    const std::vector<std::string> qd = DataRows(b.file("output/qd.sta"));
    bool wet = false;
    for (const std::string& row : qd) wet = wet || row.find("0.000000\t0.000000\t0.000000") == std::string::npos;
    EXPECT_TRUE(wet);

    // With routing on, the soil model's section follows the routing's.
    const std::string storage = ReadFile(a.file("output/storage_content.txt_0"));
    EXPECT_EQ(storage.rfind("[routing_model]\n", 0), 0u);
    EXPECT_NE(storage.find("\n\n[unsatzon_model]\n3 (number of subasins)\n1\t2\t3\t(code)\n"), std::string::npos);
    EXPECT_EQ(storage.substr(storage.size() - 2), "\n\n");
}

// With routing off the soil model's section is the first of the file, and a
// file an older run left behind is replaced, not appended to.
TEST(SoilWarmStart, SectionFirstWithoutRouting) {
    TempDir dir;
    CopyInputs(dir);
    fs::create_directories(dir.file("output"));
    WriteFile(dir.file("output/storage_content.txt_0"), "[unsatzon_model]\nstale\n\n");
    WriteFile(dir.file("basin.ctl"), Control("1\n17\n7\n2019\n3\n17\n7\n2019", "input/", "output/", 0, false));
    const RunResult run = RunRuvex(dir.path(), {"basin.ctl"});
    ASSERT_EQ(run.exitCode, 0) << run.output;
    const std::string storage = ReadFile(dir.file("output/storage_content.txt_0"));
    EXPECT_EQ(storage.rfind("[unsatzon_model]\n3 (number of subasins)\n", 0), 0u) << storage;
    EXPECT_EQ(storage.find("stale"), std::string::npos);
    EXPECT_EQ(storage.find("[routing_model]"), std::string::npos);
}

// Four cells of subbasin 1 in the window become lake 1, with a common crest
// 1 m above the highest of them and 1 mm of ponding elsewhere; returns the
// crest [m].
double AddLake(const TempDir& dir) {
    auto grid = [&](const std::string& name) {
        std::vector<std::vector<std::string>> cells;
        std::istringstream in(ReadFile(dir.file("input/" + name)));
        std::string line;
        for (int i = 0; i < 6; ++i) std::getline(in, line);
        while (std::getline(in, line)) {
            std::istringstream values(line);
            std::vector<std::string> row;
            for (std::string v; values >> v;) row.push_back(v);
            if (!row.empty()) cells.push_back(row);
        }
        return cells;
    };
    const auto zones = grid("zones.asc");
    const auto dem = grid("dem.asc");
    std::vector<std::pair<size_t, size_t>> lake;
    for (size_t r = 0; r < zones.size() && lake.size() < 4; ++r)
        for (size_t c = 0; c < zones[r].size() && lake.size() < 4; ++c)
            if (zones[r][c] == "1") lake.emplace_back(r, c);
    EXPECT_EQ(lake.size(), 4u);
    double crest = 0;
    for (auto [r, c] : lake) crest = std::max(crest, std::stod(dem[r][c]) + 1);
    std::string codes;
    {
        std::istringstream in(ReadFile(dir.file("input/zones.asc")));
        std::string line;
        for (int i = 0; i < 6 && std::getline(in, line); ++i) codes += line + "\n";
    }
    std::string ponding = codes;
    for (size_t r = 0; r < zones.size(); ++r) {
        for (size_t c = 0; c < zones[r].size(); ++c) {
            const bool isLake = std::find(lake.begin(), lake.end(), std::pair{r, c}) != lake.end();
            codes += (c ? " " : "") + std::string(isLake ? "1" : "-9999");
            ponding += (c ? " " : "") + (zones[r][c] == "-9999" ? std::string("-9999")
                                         : isLake ? std::to_string(crest - std::stod(dem[r][c]))
                                                  : std::string("0.001"));
        }
        codes += "\n";
        ponding += "\n";
    }
    WriteFile(dir.file("input/lake_codes.asc"), codes);
    WriteFile(dir.file("input/max_pond.asc"), ponding);
    return crest;
}

// The control file with the lake grids, ponding on and "[lake_model]" on
// with initialisation method 1.
std::string WithLake(std::string control) {
    control = AddStandardGrids(control, "lake_codes.asc lake_codes fillcode = 0 writecode = 0 statfile = lake.sta "
                                        "statcode = 0\nmax_pond.asc max_ponding_storage fillcode = 0 writecode = 0 "
                                        "statfile = max_pond.sta statcode = 0\n");
    control = Replaced(control, "0                          # ponding", "1");
    return Replaced(control, "[SurfaceRoutingModel]", "[lake_model]\n1\n1\n0\n0\n0\n\n[SurfaceRoutingModel]");
}

// Lakes on the grid in a whole run: the lake of the soil model (saturated
// cells, ponding) is the reservoir of the routing, which writes its
// water-level table and balance file; stopped and continued, the lake, the
// ponding and the routed discharge go on as in one run.
TEST(SoilWarmStart, LakeOnTheGridWithTheSoilModel) {
    TempDir a;
    CopyInputs(a);
    const double crest = AddLake(a);
    fs::create_directories(a.file("output"));
    WriteFile(a.file("basin.ctl"), WithLake(Control("1\n17\n7\n2019\n24\n20\n7\n2019", "input/", "output/", 0)));
    RunResult run = RunRuvex(a.path(), {"basin.ctl"});
    ASSERT_EQ(run.exitCode, 0) << run.output;

    const std::string table = ReadFile(a.file("W_V_Table_01.dat"));
    EXPECT_EQ(table.rfind("waterlevel-volume-table lake 1\n", 0), 0u) << table.substr(0, 200);
    EXPECT_NE(ReadFile(a.file("Ruvex_Diag.xml")).find("lakeCellsPerMPIRank[0] 4"), std::string::npos);
    const std::vector<std::string> balance = DataRows(a.file("output/reservoir_1.txt"));
    ASSERT_EQ(balance.size(), 96u);
    // Level, area and volume of the lake: a level below the crest, a wetted
    // area of at least one cell.
    std::istringstream first(balance.front());
    double y, m, d, h, level, area, volume;
    first >> y >> m >> d >> h >> level >> area >> volume;
    EXPECT_LE(level, crest);
    EXPECT_GE(area, 10000);
    EXPECT_GT(volume, 0);

    TempDir b;
    CopyInputs(b);
    AddLake(b);
    fs::create_directories(b.file("state"));
    fs::create_directories(b.file("output"));
    WriteFile(b.file("first.ctl"), WithLake(Control("1\n17\n7\n2019\n4\n19\n7\n2019", "input/", "state/", 0)));
    run = RunRuvex(b.path(), {"first.ctl"});
    ASSERT_EQ(run.exitCode, 0) << run.output;
    fs::copy(b.file("input"), b.file("state"), fs::copy_options::recursive | fs::copy_options::overwrite_existing);
    WriteFile(b.file("second.ctl"), WithLake(Control("5\n19\n7\n2019\n24\n20\n7\n2019", "state/", "output/", 1)));
    run = RunRuvex(b.path(), {"second.ctl"});
    ASSERT_EQ(run.exitCode, 0) << run.output;
    for (const char* name : {"reservoir_1.txt", "Qrouted.sta", "pond.sta", "qg.sta", "theta.txt"}) {
        SCOPED_TRACE(name);
        const std::vector<std::string> continuous = DataRows(a.file(std::string("output/") + name));
        const std::vector<std::string> warm = DataRows(b.file(std::string("output/") + name));
        ASSERT_EQ(warm.size(), 44u);
        ASSERT_GE(continuous.size(), warm.size());
        EXPECT_EQ(std::vector<std::string>(continuous.end() - 44, continuous.end()), warm);
    }
    for (const char* name : {"theta.stk", "pond.asc", "storage_content.txt_0"}) {
        SCOPED_TRACE(name);
        EXPECT_TRUE(ReadFile(a.file(std::string("output/") + name)) == ReadFile(b.file(std::string("output/") + name)));
    }
}
