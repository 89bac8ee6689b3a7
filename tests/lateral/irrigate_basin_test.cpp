// Irrigation in the example basin: a groundwater rule on the meadows and a
// surface-water rule on the fields, run for a short time with the routing
// that supplies the river water.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
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

// Hourly steps run from 1 January 2019, hour 1.
#ifdef RUVEX_SANITIZED
constexpr int Hours = 4;
#else
constexpr int Hours = 12;
#endif

// A copy of the example basin with irrigation on for the first `Hours`
// hours of 2019, its fields taking river water in January; `edit` changes
// the control text further.
void CopyBasin(const TempDir& dir, const std::function<std::string(std::string)>& edit = nullptr) {
    fs::copy(BasinDir + "/input", dir.file("input"), fs::copy_options::recursive);
    fs::create_directories(dir.file("output"));
    const std::string control = ReadFile(BasinDir + "/basin.ctl");
    const std::regex endOfRun(R"(\[model_time\]\n(.*\n){4}24 .*\n31 .*\n12 .*\n2020 .*\n)");
    const std::string shortened = "[model_time]\n1\n1\n1\n2019\n" + std::to_string(Hours) + "\n1\n1\n2019\n";
    std::string text = std::regex_replace(control, endOfRun, shortened);
    ASSERT_NE(text, control) << "the model time of the example basin has moved";
    text = WithJanuaryRiverIrrigation(SetSectionSwitch(text, "irrigation", 1));
    if (edit) text = edit(text);
    WriteFile(dir.file("basin.ctl"), text);
}

// The rows of a statistics file after its header lines: the values after
// the date, one vector per step.
std::vector<std::vector<double>> StatisticRows(const std::string& text) {
    std::vector<std::vector<double>> rows;
    std::istringstream lines(text);
    std::string line;
    int header = 3;
    while (std::getline(lines, line)) {
        if (header > 0) {
            --header;
            continue;
        }
        std::istringstream fields(line);
        std::vector<double> values;
        double v = 0;
        while (fields >> v) values.push_back(v);
        if (values.size() > 4) rows.emplace_back(values.begin() + 4, values.end());
    }
    return rows;
}

}  // namespace

// The cells of a grid file of the example's inputs, row by row.
std::vector<std::string> Cells(const std::string& path) {
    std::istringstream lines(ReadFile(path));
    std::string line, word;
    std::vector<std::string> cells;
    for (int header = 0; header < 6 && std::getline(lines, line); ++header) {
    }
    while (lines >> word) cells.push_back(word);
    return cells;
}

// One run on 1 thread with every statistic, one on 8 threads with the
// surface-water statistic off: every other output is the same, so neither
// the threads nor the statistic's write code change any water.
TEST(IrrigationBasin, RiversAndTheReservoirSupplyFromTheSecondStepOn) {
    const char* threads[] = {"OMP_NUM_THREADS=1", "RUVEX_PARALLEL_MIN_CELLS=1 OMP_NUM_THREADS=8"};
    std::map<std::string, std::string> outputs[2];
    for (int k = 0; k < 2; ++k) {
        TempDir dir;
        CopyBasin(dir, [k](std::string text) {
            if (k == 1) {
                const std::string on = "irrigation_sw.sta 2001";
                text.replace(text.find(on), on.size(), "irrigation_sw.sta 0");
            }
            return text;
        });
        const auto run = RunRuvex(dir.path(), {"basin.ctl"}, threads[k]);
        ASSERT_EQ(run.exitCode, 0) << run.output;
        outputs[k] = OutputFiles(dir);
    }
    const auto& first = outputs[0];
    ASSERT_EQ(first.count("irrigation_gw.sta"), 1u);
    ASSERT_EQ(first.count("irrigation_sw.sta"), 1u);
    ASSERT_EQ(first.count("irrig.asc"), 1u);
    EXPECT_EQ(outputs[1].count("irrigation_sw.sta"), 0u);
    for (const auto& [name, content] : first) {
        if (name == "irrigation_sw.sta") continue;
        SCOPED_TRACE(name);
        ASSERT_EQ(outputs[1].count(name), 1u);
        EXPECT_TRUE(content == outputs[1].at(name)) << "differs between the runs";
    }

    // Subbasins 1 to 3 and the basin: nothing before the routing ran, then
    // the fields' 3 mm a day wherever the rivers and the reservoir carry it.
    const auto surface = StatisticRows(first.at("irrigation_sw.sta"));
    ASSERT_EQ(surface.size(), static_cast<size_t>(Hours));
    ASSERT_EQ(surface[0].size(), 4u);
    for (double v : surface[0]) EXPECT_EQ(v, 0) << "no river water before the routing ran";
    for (size_t s = 1; s < surface.size(); ++s) {
        EXPECT_GT(surface[s][3], 0);
        for (double v : surface[s]) EXPECT_LE(v, 3.0 / 24 + 1e-4);
    }
    EXPECT_EQ(StatisticRows(first.at("irrigation_gw.sta")).size(), static_cast<size_t>(Hours));

    // Subbasin 1 is the outlet of the reservoir, which covers its whole
    // demand: what leaves the reservoir for irrigation in a step is the
    // water its field cells (code 2) receive, 3 mm / 24 on 100 m x 100 m.
    const auto zones = Cells(BasinDir + "/input/zones.asc");
    const auto codes = Cells(BasinDir + "/input/irrigation.asc");
    ASSERT_EQ(zones.size(), codes.size());
    int fields = 0;
    for (size_t c = 0; c < zones.size(); ++c) fields += zones[c] == "1" && codes[c] == "2";
    const double delivered = fields * 3.0 / 24 / 1000 * 100 * 100;  // [m3]
    ASSERT_GT(fields, 0);
    std::istringstream reservoir(first.at("reservoir_1.txt"));
    std::string line;
    int step = 0;
    while (std::getline(reservoir, line)) {
        if (line.rfind("2019", 0) != 0) continue;
        std::istringstream row(line);
        std::vector<double> values;
        double v = 0;
        while (row >> v) values.push_back(v);
        ASSERT_GE(values.size(), 14u);
        const double irrigation = values[13];  // Irrig[m3]
        SCOPED_TRACE(step);
        if (step == 0) {
            EXPECT_EQ(irrigation, 0);
        } else {
            EXPECT_NEAR(irrigation, delivered, 1e-9 * delivered);
        }
        ++step;
    }
    EXPECT_EQ(step, Hours);
}

TEST(IrrigationBasin, IrrigationNeedsTheRouting) {
    TempDir dir;
    CopyBasin(dir, [](std::string text) { return SetSectionSwitch(text, "routing_model", 0); });
    const auto run = RunRuvex(dir.path(), {"basin.ctl"});
    EXPECT_EQ(run.exitCode, 60) << run.output;
    bool found = false;
    for (const auto& line : DiagLines(ReadFile(dir.file("Ruvex_Diag.xml")))) {
        const std::string& d = line.description;
        const size_t a = d.find("if irrigation is modelled, also routing has to be modelled!");
        if (a != std::string::npos && d.find("(Adress of array maxirrig[] is NULL", a) != std::string::npos)
            found = line.level == 0;
    }
    EXPECT_TRUE(found) << run.output;
}
