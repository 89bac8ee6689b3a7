// The example basin with its groundwater model, run by the real executable:
// two layers (the soil and an aquifer below it) with fixed heads at the outlet
// cells, head and balance grids of both layers and the control point file,
// the same outputs on 1 and 8 threads, and a warm start from the written
// heads. The runs are a few hours long; the sanitizer build runs fewer.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "support/test_support.h"

using namespace testsupport;
namespace fs = std::filesystem;

namespace {

const std::string BasinDir = std::string(RUVEX_TEST_DATA) + "/../../examples/basin";

struct AsciiGrid {
    std::string header;  // the six header lines
    int rows = 0, cols = 0;
    std::vector<double> values;  // row-major
    double at(int r, int c) const { return values[static_cast<size_t>((r - 1) * cols + (c - 1))]; }
};

AsciiGrid ReadAscii(const std::string& path) {
    std::istringstream in(ReadFile(path));
    AsciiGrid g;
    std::string line;
    for (int i = 0; i < 6 && std::getline(in, line); ++i) {
        g.header += line + "\n";
        std::istringstream words(line);
        std::string key;
        double value = 0;
        words >> key >> value;
        if (key == "ncols") g.cols = static_cast<int>(value);
        if (key == "nrows") g.rows = static_cast<int>(value);
    }
    double v = 0;
    while (in >> v) g.values.push_back(v);
    return g;
}

struct Basin {
    AsciiGrid dem;
    AsciiGrid zones;  // the basin's cells
    AsciiGrid fixed;  // fixed heads of layer 2
    bool inside(int r, int c) const { return zones.at(r, c) != -9999; }
    bool fixedHead(int r, int c) const { return fixed.at(r, c) != -9999; }
};

#ifdef RUVEX_SANITIZED
constexpr int RunHours = 6;
#else
constexpr int RunHours = 24;
#endif

// A copy of the example basin for its first `hours` hours (1 January 2019
// from 1 h on); `readCode` 1 starts from the heads in "input/".
Basin PrepareBasin(const TempDir& dir, int hours, int readCode) {
    fs::copy(BasinDir + "/input", dir.file("input"), fs::copy_options::recursive);
    fs::create_directories(dir.file("output"));
    Basin b;
    b.dem = ReadAscii(dir.file("input/dem.asc"));
    b.zones = ReadAscii(dir.file("input/zones.asc"));
    b.fixed = ReadAscii(dir.file("input/gw_fixed_head_2.asc"));
    std::string control = ReadFile(BasinDir + "/basin.ctl");
    const auto replace = [&](const std::regex& what, const std::string& with) {
        const std::string replaced = std::regex_replace(control, what, with, std::regex_constants::format_first_only);
        EXPECT_NE(replaced, control) << "the example basin's control file has changed near: " << with;
        control = replaced;
    };
    const int lastHour = (hours - 1) % 24 + 1, lastDay = (hours - 1) / 24 + 1;
    replace(std::regex(R"(\[model_time\]\n(.*\n){8})"),
            "[model_time]\n1\n1\n1\n2019\n" + std::to_string(lastHour) + "\n" + std::to_string(lastDay) + "\n1\n2019\n");
    EXPECT_NE(control.find("[groundwater_flow]\n1 "), std::string::npos) << "the example runs its groundwater model";
    // The read code is the eighth line of the section.
    size_t line = control.find("[groundwater_flow]\n");
    for (int k = 0; k < 8 && line != std::string::npos; ++k) line = control.find('\n', line) + 1;
    EXPECT_EQ(control.compare(line, 2, "0 "), 0) << "the example's groundwater section has changed";
    control[line] = static_cast<char>('0' + readCode);
    WriteFile(dir.file("basin.ctl"), control);
    return b;
}

std::string Output(const TempDir& dir, const std::string& name) { return ReadFile(dir.file("output/" + name)); }

// The solver's entries of the diagnostics, one a line.
std::string SolverLog(const TempDir& dir) {
    const std::string xml = ReadFile(dir.file("Ruvex_Diag.xml"));
    std::string lines;
    for (size_t at = xml.find("GWlevel "); at != std::string::npos; at = xml.find("GWlevel ", at + 1)) {
        lines += xml.substr(at, xml.find('"', at) - at) + "\n";
    }
    return lines;
}

TEST(GroundwaterRun, ExampleBasinWithAnAquifer) {
    TempDir one;
    const Basin b = PrepareBasin(one, RunHours, 0);
    const RunResult run = RunRuvex(one.path(), {"basin.ctl"}, "OMP_NUM_THREADS=1");
    ASSERT_EQ(run.exitCode, 0) << run.output;

    // Heads between the aquifer bottom and the surface, outside the basin
    // nodata; the fixed heads keep their values.
    const AsciiGrid h1 = ReadAscii(one.file("output/gw_head_1.asc"));
    const AsciiGrid h2 = ReadAscii(one.file("output/gw_head_2.asc"));
    const AsciiGrid balance1 = ReadAscii(one.file("output/gw_balance_1.asc"));
    const AsciiGrid balance2 = ReadAscii(one.file("output/gw_balance_2.asc"));
    ASSERT_EQ(h2.values.size(), b.dem.values.size());
    ASSERT_EQ(balance2.values.size(), b.dem.values.size());
    int fixedCells = 0;
    double largestResidual = 0, outflow = 0;
    for (int r = 1; r <= b.dem.rows; ++r) {
        for (int c = 1; c <= b.dem.cols; ++c) {
            const double z = b.dem.at(r, c);
            if (!b.inside(r, c)) {
                EXPECT_EQ(h2.at(r, c), -9999);
                continue;
            }
            EXPECT_LE(h1.at(r, c), z + 1e-9) << r << "," << c;
            EXPECT_LE(h2.at(r, c), z + 1e-9) << r << "," << c;
            EXPECT_GT(h2.at(r, c), z - 1.8 - 20) << r << "," << c;
            // The balance of the last sub-step: the storage change of every
            // cell is what entered it, to the solver's tolerance; only the
            // fixed heads, where the aquifer drains, show the water leaving.
            EXPECT_LT(std::fabs(balance1.at(r, c)), 1e-4) << r << "," << c;
            if (b.fixedHead(r, c)) {
                ++fixedCells;
                EXPECT_DOUBLE_EQ(h2.at(r, c), b.fixed.at(r, c));
                outflow += balance2.at(r, c);
                continue;
            }
            largestResidual = std::fmax(largestResidual, std::fabs(balance2.at(r, c)));
        }
    }
    EXPECT_EQ(fixedCells, 3);
    EXPECT_LT(largestResidual, 1e-4);
    EXPECT_LT(outflow, -1e-3) << "the aquifer drains through its fixed heads";
    EXPECT_TRUE(FileExists(one.file("output/gw_head_2_old.asc")));
    std::printf("example groundwater: largest residual %.3g mm, outflow at the fixed heads %.4g mm\n",
                largestResidual, outflow);

    // One record per sub-step; "baseflow" moves.
    const std::string cp = Output(one, "gw_control_point.txt");
    std::istringstream lines(cp);
    std::string line;
    std::getline(lines, line);
    EXPECT_EQ(line.find("YY\tMM\tDD\tHH\tcontrol_point_fluxes[30][40][lr: 1, 1]\t"), 0u);
    int records = 0;
    bool baseflowMoves = false;
    while (std::getline(lines, line)) {
        ++records;
        std::istringstream words(line);
        std::vector<double> v;
        double x = 0;
        while (words >> x) v.push_back(x);
        ASSERT_EQ(v.size(), 4u + 12u) << line;
        if (v[9] != 0) baseflowMoves = true;
    }
    EXPECT_EQ(records, RunHours);
    EXPECT_TRUE(baseflowMoves);
    const std::string solverLog = SolverLog(one);
#ifndef RUVEX_SANITIZED
    // the solver reports once a day
    EXPECT_NE(solverLog.find("GWlevel 2, MPI-rank 0, Steps "), std::string::npos);
#endif

    // The same outputs on eight threads, every row pass on the team.
    TempDir eight;
    PrepareBasin(eight, RunHours, 0);
    const RunResult parallel = RunRuvex(eight.path(), {"basin.ctl"}, "RUVEX_PARALLEL_MIN_CELLS=1 OMP_NUM_THREADS=8");
    ASSERT_EQ(parallel.exitCode, 0) << parallel.output;
    for (const char* name : {"gw_head_1.asc", "gw_head_2.asc", "gw_head_1_old.asc", "gw_head_2_old.asc",
                             "gw_balance_1.asc", "gw_balance_2.asc", "gw_control_point.txt"}) {
        EXPECT_TRUE(Output(one, name) == Output(eight, name)) << name;
    }
    EXPECT_EQ(solverLog, SolverLog(eight));

    // A warm start from the written heads.
    TempDir warm;
    PrepareBasin(warm, RunHours / 2, 1);
    for (const char* name : {"gw_head_1.asc", "gw_head_1_old.asc", "gw_head_2.asc", "gw_head_2_old.asc"})
        WriteFile(warm.file(std::string("input/") + name), Output(one, name));
    // and from the tracer concentrations the aquifer layers wrote
    for (const auto& entry : fs::directory_iterator(one.file("output"))) {
        const std::string name = entry.path().filename().string();
        if (name.rfind("tracer_", 0) == 0 && name.find("grou") != std::string::npos && entry.path().extension() == ".asc")
            WriteFile(warm.file("input/" + name), Output(one, name));
    }
    const RunResult again = RunRuvex(warm.path(), {"basin.ctl"}, "OMP_NUM_THREADS=1");
    ASSERT_EQ(again.exitCode, 0) << again.output;
    const AsciiGrid w2 = ReadAscii(warm.file("output/gw_head_2.asc"));
    for (int r = 1; r <= b.dem.rows; ++r)
        for (int c = 1; c <= b.dem.cols; ++c)
            if (b.fixedHead(r, c)) {
                EXPECT_DOUBLE_EQ(w2.at(r, c), b.fixed.at(r, c));
            }
}

}  // namespace
