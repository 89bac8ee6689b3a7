// The example basin with the groundwater model on, run by the real
// executable: two layers (the soil and an aquifer below it) with a fixed head
// at the outlet cell, head grids of both layers and the control point file,
// the same outputs on 1 and 8 threads, and a warm start from the written
// heads.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <map>
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

// A grid of the basin's shape: `value` inside the basin, nodata outside;
// `special` gives single cells another value.
void WriteGrid(const std::string& path, const AsciiGrid& dem, double value,
               const std::map<std::pair<int, int>, double>& special = {}) {
    std::string text = dem.header;
    for (int r = 1; r <= dem.rows; ++r) {
        for (int c = 1; c <= dem.cols; ++c) {
            double v = dem.at(r, c) == -9999 ? -9999 : value;
            const auto it = special.find({r, c});
            if (it != special.end()) v = it->second;
            std::ostringstream word;
            word << v;
            text += word.str() + (c < dem.cols ? " " : "\n");
        }
    }
    WriteFile(path, text);
}

struct Basin {
    AsciiGrid dem;
    AsciiGrid zones;  // the basin's cells
    bool inside(int r, int c) const { return zones.at(r, c) != -9999; }
    int outletRow = 0, outletCol = 0;
    int controlRow = 0, controlCol = 0;
};

// A copy of the example basin for `days` days of January 2019 with the
// groundwater model on; `readCode` 1 starts from the heads in "input/".
Basin PrepareBasin(const TempDir& dir, int days, int readCode) {
    fs::copy(BasinDir + "/input", dir.file("input"), fs::copy_options::recursive);
    fs::create_directories(dir.file("output"));
    Basin b;
    b.dem = ReadAscii(dir.file("input/dem.asc"));
    b.zones = ReadAscii(dir.file("input/zones.asc"));
    double lowest = 1e300;
    for (int r = 1; r <= b.dem.rows; ++r)
        for (int c = 1; c <= b.dem.cols; ++c) {
            const double z = b.dem.at(r, c);
            if (b.inside(r, c) && z < lowest) {
                lowest = z;
                b.outletRow = r;
                b.outletCol = c;
            }
        }
    b.controlRow = b.dem.rows / 2;
    for (int c = b.dem.cols / 2; c <= b.dem.cols; ++c)
        if (b.inside(b.controlRow, c) && b.inside(b.controlRow, c - 1)) {
            b.controlCol = c;
            break;
        }
    const std::string in = dir.file("input/");
    const std::map<std::string, double> layers[2] = {
        {{"aquifer_thickness_", 1}, {"gw_k_x_", 1e-6}, {"gw_k_y_", 1e-6}, {"gw_storage_coeff_", 0.2},
         {"gw_boundary_fix_q_", -9999}, {"gw_kolmation_", 1e-7}},
        {{"aquifer_thickness_", 20}, {"gw_k_x_", 1e-6}, {"gw_k_y_", 1e-6}, {"gw_storage_coeff_", 0.1},
         {"gw_boundary_fix_q_", -9999}}};
    std::string grids;
    int count = 0;
    for (int k = 1; k <= 2; ++k) {
        for (const auto& [stem, value] : layers[k - 1]) {
            const std::string name = stem + std::to_string(k);
            WriteGrid(in + name + ".asc", b.dem, value);
            grids += name + ".asc " + name + " fillcode = 0 writecode = 0 statfile = x.sta statcode = 0\n";
            ++count;
        }
        const std::string fixed = "gw_boundary_fix_h_" + std::to_string(k);
        std::map<std::pair<int, int>, double> outlet;
        if (k == 2) outlet[{b.outletRow, b.outletCol}] = lowest - 5;
        WriteGrid(in + fixed + ".asc", b.dem, -9999, outlet);
        grids += fixed + ".asc " + fixed + " fillcode = 0 writecode = 0 statfile = x.sta statcode = 0\n";
        ++count;
    }

    std::string control = ReadFile(BasinDir + "/basin.ctl");
    const auto replaceSection = [&](const std::string& from, const std::string& to, const std::string& text) {
        const size_t begin = control.find(from);
        const size_t end = control.find(to, begin);
        ASSERT_NE(begin, std::string::npos) << from;
        ASSERT_NE(end, std::string::npos) << to;
        control.replace(begin, end - begin, text);
    };
    replaceSection("[model_time]", "[zone_grid]",
                   "[model_time]\n1\n1\n1\n2019\n24\n" + std::to_string(days) + "\n1\n2019\n\n");
    const size_t standard = control.find("[standard_grids]\n");
    EXPECT_NE(standard, std::string::npos);
    count += std::atoi(control.c_str() + standard + 17);
    const size_t countEnd = control.find('\n', standard + 17);
    control.replace(standard, countEnd + 1 - standard, "[standard_grids]\n" + std::to_string(count) + "\n" + grids);
    std::ostringstream gw;
    gw << "[groundwater_flow]\n1\n60\n1 method\n200 maxiter\n1e-6 maxerror\n1 alpha\n0 adaptive sor\n" << readCode
       << " read code\n2 layers\n" << b.controlRow << " " << b.controlCol << " control point\ngwcp.txt\n";
    for (int k = 1; k <= 2; ++k) {
        gw << "gwh" << k << ".asc\n1\ngwfx" << k << ".asc\n1\ngwfy" << k << ".asc\n0\ngwbal" << k << ".asc\n1\n";
    }
    gw << "\n";
    replaceSection("[groundwater_flow]", "[routing_model]", gw.str());
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
    const Basin b = PrepareBasin(one, 2, 0);
    ASSERT_GT(b.controlCol, 0);
    const RunResult run = RunRuvex(one.path(), {"basin.ctl"}, "OMP_NUM_THREADS=1");
    ASSERT_EQ(run.exitCode, 0) << run.output;

    // Heads between the aquifer bottom and the surface, outside the basin nodata.
    const AsciiGrid h1 = ReadAscii(one.file("output/gwh1.asc"));
    const AsciiGrid h2 = ReadAscii(one.file("output/gwh2.asc"));
    ASSERT_EQ(h2.values.size(), b.dem.values.size());
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
        }
    }
    EXPECT_DOUBLE_EQ(h2.at(b.outletRow, b.outletCol), b.dem.at(b.outletRow, b.outletCol) - 5);
    EXPECT_TRUE(FileExists(one.file("output/gwh2_old.asc")));

    // One record per sub-step: the header and 48 hours; "baseflow" moves.
    const std::string cp = Output(one, "gwcp.txt");
    std::istringstream lines(cp);
    std::string line;
    std::getline(lines, line);
    EXPECT_EQ(line.find("YY\tMM\tDD\tHH\tcontrol_point_fluxes[" + std::to_string(b.controlRow) + "][" +
                        std::to_string(b.controlCol) + "][lr: 1, 1]\t"),
              0u);
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
    EXPECT_EQ(records, 48);
    EXPECT_TRUE(baseflowMoves);
    const std::string solverLog = SolverLog(one);
    EXPECT_NE(solverLog.find("GWlevel 2, MPI-rank 0, Steps "), std::string::npos);

    // The same outputs on eight threads, every row pass on the team.
    TempDir eight;
    PrepareBasin(eight, 2, 0);
    const RunResult parallel = RunRuvex(eight.path(), {"basin.ctl"}, "RUVEX_PARALLEL_MIN_CELLS=1 OMP_NUM_THREADS=8");
    ASSERT_EQ(parallel.exitCode, 0) << parallel.output;
    for (const char* name : {"gwh1.asc", "gwh2.asc", "gwh1_old.asc", "gwh2_old.asc", "gwfx1.asc", "gwfx2.asc",
                             "gwbal1.asc", "gwbal2.asc", "gwcp.txt"}) {
        EXPECT_TRUE(Output(one, name) == Output(eight, name)) << name;
    }
    EXPECT_EQ(solverLog, SolverLog(eight));

    // A warm start from the written heads.
    TempDir warm;
    PrepareBasin(warm, 1, 1);
    for (const char* name : {"gwh1.asc", "gwh1_old.asc", "gwh2.asc", "gwh2_old.asc"})
        WriteFile(warm.file(std::string("input/") + name), Output(one, name));
    const RunResult again = RunRuvex(warm.path(), {"basin.ctl"}, "OMP_NUM_THREADS=1");
    ASSERT_EQ(again.exitCode, 0) << again.output;
    const AsciiGrid w2 = ReadAscii(warm.file("output/gwh2.asc"));
    EXPECT_DOUBLE_EQ(w2.at(b.outletRow, b.outletCol), b.dem.at(b.outletRow, b.outletCol) - 5);
}

}  // namespace
