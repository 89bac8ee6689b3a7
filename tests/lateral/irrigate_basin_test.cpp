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

#ifdef RUVEX_SANITIZED
constexpr int Days = 1;
#else
constexpr int Days = 2;
#endif

// A copy of the example basin with irrigation on for the first `Days` days
// of 2019; `edit` changes the control text further.
void CopyBasin(const TempDir& dir, const std::function<std::string(std::string)>& edit = nullptr) {
    fs::copy(BasinDir + "/input", dir.file("input"), fs::copy_options::recursive);
    fs::create_directories(dir.file("output"));
    const std::string control = ReadFile(BasinDir + "/basin.ctl");
    const std::regex endOfRun(R"(\[model_time\]\n(.*\n){4}24 .*\n31 .*\n12 .*\n2020 .*\n)");
    const std::string shortened = "[model_time]\n1\n1\n1\n2019\n24\n" + std::to_string(Days) + "\n1\n2019\n";
    std::string text = std::regex_replace(control, endOfRun, shortened);
    ASSERT_NE(text, control) << "the model time of the example basin has moved";
    text = SetSectionSwitch(text, "irrigation", 1);
    if (edit) text = edit(text);
    WriteFile(dir.file("basin.ctl"), text);
}

std::map<std::string, std::string> Outputs(const TempDir& dir) {
    std::map<std::string, std::string> files;
    for (const auto& entry : fs::directory_iterator(dir.file("output")))
        files[entry.path().filename().string()] = ReadFile(entry.path().string());
    return files;
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

TEST(IrrigationBasin, RiversSupplyFromTheSecondStepOnAndThreadsAgree) {
    const char* threads[] = {"OMP_NUM_THREADS=1", "RUVEX_PARALLEL_MIN_CELLS=1 OMP_NUM_THREADS=8"};
    std::map<std::string, std::string> outputs[2];
    for (int k = 0; k < 2; ++k) {
        TempDir dir;
        CopyBasin(dir);
        const auto run = RunRuvex(dir.path(), {"basin.ctl"}, threads[k]);
        ASSERT_EQ(run.exitCode, 0) << run.output;
        outputs[k] = Outputs(dir);
    }
    const auto& first = outputs[0];
    ASSERT_EQ(first.count("irrigation_gw.sta"), 1u);
    ASSERT_EQ(first.count("irrigation_sw.sta"), 1u);
    ASSERT_EQ(first.count("irrig.asc"), 1u);
    for (const auto& [name, content] : first) {
        SCOPED_TRACE(name);
        ASSERT_EQ(outputs[1].count(name), 1u);
        EXPECT_TRUE(content == outputs[1].at(name)) << "differs between 1 and 8 threads";
    }
    const auto surface = StatisticRows(first.at("irrigation_sw.sta"));
    ASSERT_EQ(surface.size(), static_cast<size_t>(24 * Days));
    // subbasins 1 to 3 and the basin
    for (double v : surface[0]) EXPECT_EQ(v, 0) << "no river water before the routing ran";
    double later = 0;
    for (size_t s = 1; s < surface.size(); ++s) later = std::max(later, surface[s][3]);
    EXPECT_GT(later, 0);
    // the fields ask for 3 mm a day, never more
    for (const auto& row : surface)
        for (double v : row) EXPECT_LE(v, 3.0 / 24 + 1e-4);
    EXPECT_EQ(StatisticRows(first.at("irrigation_gw.sta")).size(), static_cast<size_t>(24 * Days));
}

TEST(IrrigationBasin, SurfaceWaterStatisticOffChangesNoWater) {
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
        const auto run = RunRuvex(dir.path(), {"basin.ctl"});
        ASSERT_EQ(run.exitCode, 0) << run.output;
        outputs[k] = Outputs(dir);
    }
    EXPECT_EQ(outputs[1].count("irrigation_sw.sta"), 0u);
    for (const char* name : {"irrig.asc", "Qrouted.sta", "qg.sta", "irrigation_gw.sta"}) {
        SCOPED_TRACE(name);
        ASSERT_EQ(outputs[0].count(name), 1u);
        ASSERT_EQ(outputs[1].count(name), 1u);
        EXPECT_TRUE(outputs[0].at(name) == outputs[1].at(name));
    }
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
