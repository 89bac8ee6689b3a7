// The example basin with surface routing on, run by the real executable for
// three hours: river cells where no model neighbour lies lower, the
// statistics of surface routing, the routed discharge taken from its runoff
// table, and the same bytes on one and three threads.

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <regex>
#include <sstream>

#include "support/test_support.h"

using namespace testsupport;
namespace fs = std::filesystem;

namespace {

const std::string BasinDir = std::string(RUVEX_TEST_DATA) + "/../../examples/basin";

struct AsciiGrid {
    std::string header;  // the six header lines
    int cols = 0, rows = 0;
    double nodata = -9999;
    std::vector<double> values;
    double at(int r, int c) const { return values[static_cast<size_t>(r) * cols + c]; }
};

AsciiGrid ReadAscii(const std::string& path) {
    std::istringstream in(ReadFile(path));
    AsciiGrid g;
    std::string key;
    double value = 0;
    for (int k = 0; k < 6; ++k) {
        in >> key >> value;
        std::ostringstream line;
        line << key << " " << value << "\n";
        g.header += line.str();
        if (key == "ncols") g.cols = static_cast<int>(value);
        if (key == "nrows") g.rows = static_cast<int>(value);
        if (key == "nodata_value" || key == "NODATA_value") g.nodata = value;
    }
    g.values.resize(static_cast<size_t>(g.rows) * g.cols);
    for (double& v : g.values) in >> v;
    return g;
}

// River cells: model cells without a lower model neighbour, so that every
// cell drains to one over the bed.
void WriteRiverGrids(const std::string& input) {
    const AsciiGrid zones = ReadAscii(input + "/zones.asc");
    const AsciiGrid dem = ReadAscii(input + "/dem.asc");
    std::ostringstream river, links, storage;
    river << zones.header;
    links << zones.header;
    int count = 0;
    for (int r = 0; r < zones.rows; ++r) {
        for (int c = 0; c < zones.cols; ++c) {
            const bool model = zones.at(r, c) != zones.nodata;
            bool lowest = model;
            for (int dr = -1; dr <= 1 && lowest; ++dr)
                for (int dc = -1; dc <= 1 && lowest; ++dc) {
                    const int rr = r + dr, cc = c + dc;
                    if ((dr == 0 && dc == 0) || rr < 0 || cc < 0 || rr >= zones.rows || cc >= zones.cols) continue;
                    if (zones.at(rr, cc) != zones.nodata && dem.at(rr, cc) < dem.at(r, c)) lowest = false;
                }
            count += lowest;
            river << (model ? (lowest ? 1 : 0) : -9999) << (c + 1 < zones.cols ? " " : "\n");
            links << (model ? 0 : -9999) << (c + 1 < zones.cols ? " " : "\n");
        }
    }
    ASSERT_GT(count, 0);
    WriteFile(input + "/river.asc", river.str());
    WriteFile(input + "/river_links.asc", links.str());
}

const char* const Section =
    "[SurfaceRoutingModel]\n1\n60\n1                          # flowpath method\n"
    "qdsr.sta 2001\nqisr.sta 2001\nqbsr.sta 2001\nqgsr.sta 2001\nsr_velocity.stk\n0\nsr_fluxes.stk\n0\n"
    "0.0001\n10\n0.000001\n50\n1\n600\n0.01\n1\n0                          # cold start\n"
    "sr_storage.sta 2001\nsurfrout_state.txt\n\n";

// A copy of the example basin in `dir`, three hours of 1 January, surface
// routing on with the river grids, the routed discharge hourly.
void CopyBasin(const TempDir& dir) {
    fs::copy(BasinDir + "/input", dir.file("input"), fs::copy_options::recursive);
    fs::create_directories(dir.file("output"));
    WriteRiverGrids(dir.file("input"));
    std::string text = ReadFile(BasinDir + "/basin.ctl");
    auto replace = [&](const std::regex& what, const std::string& with) {
        const std::string replaced = std::regex_replace(text, what, with, std::regex_constants::format_first_only);
        ASSERT_TRUE(replaced != text) << "the example basin's control file has changed near: " << with;
        text = replaced;
    };
    replace(std::regex(R"(\[model_time\]\n(.*\n){8})"), "[model_time]\n1\n1\n1\n2019\n3\n1\n1\n2019\n");
    // the river grids join the variable grids
    const std::string header = "[variable_grids]\n";
    const size_t count = text.find(header) + header.size();
    const size_t countEnd = text.find('\n', count) + 1;
    ASSERT_NE(count, header.size() - 1) << "the example basin has no variable grids";
    text = text.substr(0, count) + std::to_string(std::atoi(text.c_str() + count) + 3) + "\n" +
           "river.asc river_depth 0 0\n0\n1\nriver.asc river_width 0 0\n0\n1\n"
           "river_links.asc river_links 0 0\n0\n1\n" + text.substr(countEnd);
    // the river grids here replace the example's, and the aquifer stays out
    text = RemoveStandardGrids(text, {"river_depth.asc", "river_width.asc", "river_links.asc"});
    text = SetSectionSwitch(text, "groundwater_flow", 0);
    replace(std::regex(R"(\[SurfaceRoutingModel\]\n[\s\S]*?\n\n)"), Section);
    WriteFile(dir.file("basin.ctl"), text);
}

TEST(SurfaceRoutingRun, ExampleBasinAlikeOnOneAndThreeThreads) {
    TempDir one, three;
    CopyBasin(one);
    CopyBasin(three);
    const auto a = RunRuvex(one.path(), {"basin.ctl"}, "OMP_NUM_THREADS=1");
    const auto b = RunRuvex(three.path(), {"basin.ctl"}, "RUVEX_PARALLEL_MIN_CELLS=1 OMP_NUM_THREADS=3");
    ASSERT_EQ(a.exitCode, 0) << a.output;
    ASSERT_EQ(b.exitCode, 0) << b.output;
    const auto first = OutputFiles(one), second = OutputFiles(three);
    ASSERT_EQ(first.size(), second.size());
    for (const auto& [name, content] : first) {
        ASSERT_EQ(second.count(name), 1u) << name;
        EXPECT_TRUE(content == second.at(name)) << name << " differs between 1 and 3 threads";
    }
    for (const char* file : {"qdsr.sta", "qisr.sta", "qbsr.sta", "qgsr.sta", "sr_storage.sta", "surfrout_state.txt_0"})
        EXPECT_EQ(first.count(file), 1u) << file;
    const auto qg = StatisticsValueRows(one.file("output/qgsr.sta"));
    ASSERT_EQ(qg.size(), 3u);
    for (const auto& row : qg)
        for (size_t k = 4; k < row.size(); ++k) EXPECT_GE(row[k], 0.0);
    const std::string state = first.at("surfrout_state.txt_0");
    EXPECT_EQ(state.rfind("[SurfaceRoutingModel]\n", 0), 0u) << state.substr(0, 200);
}

}  // namespace
