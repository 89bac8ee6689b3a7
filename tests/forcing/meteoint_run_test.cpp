// Whole runs of the real executable with meteorological inputs: the model
// clock over two years, the failures that end a run, spin-up repetitions,
// results independent of the number of threads, and the example basin.

#include <gtest/gtest.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <filesystem>
#include <map>

#include "forcing/meteoint_fixture.h"
#include "support/model_fixture.h"
#include "support/test_support.h"

using namespace testsupport;
using meteotest::DailyRows;
using meteotest::Section;
using meteotest::StationPlace;
using meteotest::StationText;

namespace {

const std::vector<StationPlace> Three = {{1100, 2200, 500}, {1300, 2000, 650}, {1000, 2000, 450}};

std::string Inputs(const std::vector<std::string>& names) {
    std::string text = "[meteo_data_count]\n" + std::to_string(names.size()) + "\n[meteo_names]\n";
    for (const auto& name : names) text += name + "\n";
    return text;
}

// Descriptions of the entries of one level in the run's diagnostics file.
std::vector<std::string> Entries(const TempDir& dir, int level) {
    std::vector<std::string> out;
    for (const auto& line : DiagLines(ReadFile(dir.file("Ruvex_Diag.xml")))) {
        if (line.level == level) out.push_back(line.description);
    }
    return out;
}

bool HasFatal(const TempDir& dir, const std::string& text) {
    for (const auto& entry : Entries(dir, 0)) {
        if (entry.find(text) != std::string::npos) return true;
    }
    return false;
}

// Every file below a directory, by its path relative to it, with its content.
std::map<std::string, std::string> Files(const std::string& root) {
    std::map<std::string, std::string> files;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
        if (!entry.is_regular_file()) continue;
        files[std::filesystem::relative(entry.path(), root).string()] = ReadFile(entry.path().string());
    }
    return files;
}

std::string Number(double v) {
    char buffer[64];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, v);
    return std::string(buffer, result.ptr);
}

}  // namespace

// A daily run over 2001 and 2002 steps exactly 730 times: one statistics row
// per day, from the first to the last day, although the station file goes on.
TEST(MeteoRun, TwoYearsOfDailySteps) {
    TempDir dir;
    ModelFiles files;
    files.ModelTime = "24\n1\n1\n2001\n24\n31\n12\n2002\n";
    files.MeteoInputs = Inputs({"temperature"});
    Section section;
    section.StationLine = "temperature.txt";
    section.StatisticsLine = "temperature.sta 2001";
    files.Extra = section.Text("temperature");
    const auto control = files.Write(dir);
    WriteFile(dir.file("input/temperature.txt"),
              StationText(Three, DailyRows({2001, 1, 1, 24}, 760, 3, [](int day, int s) { return day % 17 + s; })));
    const auto run = RunRuvex(dir.path(), {control});
    ASSERT_EQ(run.exitCode, 0) << run.output;
    EXPECT_TRUE(Entries(dir, 0).empty());
    const auto rows = meteotest::StatisticsRows(dir.file("output/temperature.sta"));
    ASSERT_EQ(rows.size(), 730u);
    EXPECT_EQ(std::vector<double>(rows.front().begin(), rows.front().begin() + 4),
              (std::vector<double>{2001, 1, 1, 24}));
    EXPECT_EQ(std::vector<double>(rows.back().begin(), rows.back().begin() + 4),
              (std::vector<double>{2002, 12, 31, 24}));
}

// Failures that end a run, with their exit codes and FATAL entries.
TEST(MeteoRun, FailuresEndTheRun) {
    struct Case {
        const char* what;
        std::vector<std::string> names;
        Section second;  // section of the second input, when there is one
        std::string firstStations, secondStations, regression;
        int code;
        const char* message;
    };
    auto daily = [](MeteoDate first, int days, int skip = -1) {
        auto rows = DailyRows(first, days, 3, [](int day, int s) { return day + s; });
        if (skip >= 0) rows.erase(rows.begin() + skip);
        return StationText(Three, rows);
    };
    Section precipitation;
    precipitation.StationLine = "precipitation.txt";
    precipitation.ResultName = "precipitation.asc";
    Section regressionInput;
    regressionInput.Method = 3;
    regressionInput.StationLine = "precipitation.txt";
    regressionInput.ThirdLine = "regression.txt";
    std::string lagging = "jr mo\n";
    for (int day : {1, 2, 3, 5, 6, 7, 8, 9, 10})
        lagging += "2020 1 " + std::to_string(day) + " 24 1 0 0 1 0 0 1 0 -10000 0 0\n";
    const Case cases[] = {
        {"station file without the start date",
         {"temperature"},
         {},
         daily({2020, 1, 2, 24}, 20),
         "",
         "",
         51,
         "dosnt contain date 1.1.2020, hour 24(feof)!"},
        {"second input skips a day",
         {"temperature", "precipitation"},
         precipitation,
         daily({2020, 1, 1, 24}, 20),
         daily({2020, 1, 1, 24}, 20, 4),
         "",
         52,
         "error in date columns of precipitation"},
        {"regression file lags its station file",
         {"temperature", "precipitation"},
         regressionInput,
         daily({2020, 1, 1, 24}, 20),
         daily({2020, 1, 1, 24}, 20),
         lagging,
         52,
         "error in date column of precipitation for IDW*Regress"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir dir;
        ModelFiles files;
        files.MeteoInputs = Inputs(c.names);
        Section first;
        first.StationLine = "temperature.txt";
        files.Extra = first.Text("temperature") + (c.names.size() > 1 ? c.second.Text(c.names[1]) : "");
        const auto control = files.Write(dir);
        WriteFile(dir.file("input/temperature.txt"), c.firstStations);
        WriteFile(dir.file("input/precipitation.txt"), c.secondStations);
        WriteFile(dir.file("input/regression.txt"), c.regression);
        const auto run = RunRuvex(dir.path(), {control});
        EXPECT_EQ(run.exitCode, c.code) << run.output;
        EXPECT_TRUE(HasFatal(dir, c.message)) << run.output;
    }
}

// A spin-up with two repetitions steps through the same dates twice; with a
// single hydrologic response unit every cell takes the value of its master
// cell, the first valid cell.
TEST(MeteoRun, SpinUpRepeatsTheDates) {
    TempDir dir;
    ModelFiles files;
    files.MeteoInputs = Inputs({"temperature"});
    Section section;
    section.StationLine = "temperature.txt";
    section.StatisticsLine = "temperature.sta 2001";
    section.WriteCode = 3;
    files.Extra = section.Text("temperature") + "[SpinUp]\n1\n0\n2\n1\nelevation 1000 linear\n";
    const auto control = files.Write(dir);
    WriteFile(dir.file("input/temperature.txt"),
              StationText(Three, DailyRows({2020, 1, 1, 24}, 12, 3, [](int day, int s) { return 10.0 * s + day; })));
    const auto run = RunRuvex(dir.path(), {control});
    ASSERT_EQ(run.exitCode, 0) << run.output;
    const auto rows = meteotest::StatisticsRows(dir.file("output/temperature.sta"));
    ASSERT_EQ(rows.size(), 20u);
    for (size_t k = 0; k < 10; ++k) {
        EXPECT_EQ(rows[k], rows[k + 10]) << k;
        EXPECT_EQ(rows[k][2], static_cast<double>(k + 1));
    }
    const auto grid = meteotest::ReadTextGrid(dir.file("output/result.asc"));
    const double master = grid.at(1, 2);
    for (auto [row, col] : {std::pair{1, 3}, {1, 4}, {2, 1}, {2, 4}, {3, 3}}) EXPECT_EQ(grid.at(row, col), master);
}

// Every result grid, aggregate and statistics file is the same byte for byte
// with one thread, three and eight, and so are the warnings and their order.
TEST(MeteoRun, SameResultsOnOneThreeAndEightThreads) {
    const int rows = 24, cols = 30;
    std::string header = "ncols " + std::to_string(cols) + "\nnrows " + std::to_string(rows) +
                         "\nxllcorner 1000\nyllcorner 2000\ncellsize 100\nnodata_value -9999\n";
    ModelFiles files;
    files.ZoneGrid = header;
    files.Elevation = header;
    for (int r = 1; r <= rows; ++r) {
        for (int c = 1; c <= cols; ++c) {
            const bool inside = (r - 12) * (r - 12) + (c - 15) * (c - 15) < 150;
            files.ZoneGrid += inside ? (c <= 15 ? "1 " : "2 ") : "-9999 ";
            files.Elevation += inside ? Number(400 + 7.5 * r + 3.25 * c + 40 * std::sin(r * c * 0.1)) + " " : "-9999 ";
        }
        files.ZoneGrid += "\n";
        files.Elevation += "\n";
    }
    files.ModelTime = "24\n1\n1\n2020\n24\n10\n1\n2020\n";
    files.SearchRadiusWarning = 1;
    files.MeteoInputs = Inputs({"temperature", "precipitation", "wind_speed"});

    std::vector<StationPlace> scattered, mesh;
    for (int k = 0; k < 9; ++k) scattered.push_back({1200.0 + 310 * k, 2100.0 + 230 * ((k * 5) % 9), 400.0 + 30 * k});
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 4; ++j) mesh.push_back({900.0 + 1100 * j, 1900.0 + 1300 * i, 500});
    auto values = [](int day, int s) { return std::round(100 * std::sin(day * 0.7 + s * 1.3)) / 10; };

    Section temperature;
    temperature.StationLine = "scattered.txt";
    temperature.WriteCode = 2;
    temperature.StatisticsLine = "temperature.sta 2001";
    temperature.MaxDistance = "700";
    temperature.Slope = "20";
    temperature.Ratio = "0.7";
    temperature.Scenario = "1\n1\n2\n1500 2500 1 1 1 1 1 1 1 1 1 1 1 1\n3500 4000 2 2 2 2 2 2 2 2 2 2 2 2\n";
    Section precipitation;
    precipitation.Method = 12;
    precipitation.StationLine = "scattered.txt";
    precipitation.ThirdLine = "-0.001 550 0.0005 P-type";
    precipitation.ResultName = "precipitation.asc";
    precipitation.WriteCode = 313;
    precipitation.StatisticsLine = "precipitation.sta 4001";
    Section wind;
    wind.Method = 5;
    wind.StationLine = "mesh.txt";
    wind.ResultName = "wind.asc";
    wind.WriteCode = 5;
    wind.StatisticsLine = "wind.sta 2001";
    files.Extra = temperature.Text("temperature") + precipitation.Text("precipitation") + wind.Text("wind_speed");

    // The small grid takes the parallel path only below the usual threshold.
    constexpr int Runs = 3;
    std::map<std::string, std::string> results[Runs];
    std::vector<std::string> warnings[Runs];
    const char* threads[Runs] = {"OMP_NUM_THREADS=1", "RUVEX_PARALLEL_MIN_CELLS=1 OMP_NUM_THREADS=3",
                                 "RUVEX_PARALLEL_MIN_CELLS=1 OMP_NUM_THREADS=8"};
    for (int k = 0; k < Runs; ++k) {
        TempDir dir;
        const auto control = files.Write(dir);
        WriteFile(dir.file("input/scattered.txt"), StationText(scattered, DailyRows({2020, 1, 1, 24}, 10, 9, values)));
        WriteFile(dir.file("input/mesh.txt"), StationText(mesh, DailyRows({2020, 1, 1, 24}, 10, 12, values)));
        const auto run = RunRuvex(dir.path(), {control}, threads[k]);
        ASSERT_EQ(run.exitCode, 0) << run.output;
        results[k] = Files(dir.file("output"));
        warnings[k] = Entries(dir, 2);
    }
    EXPECT_GT(results[0].count("result_20200105.024"), 0u);
    EXPECT_GT(results[0].count("precipitation.asc"), 0u);
    EXPECT_FALSE(warnings[0].empty());
    for (int k = 1; k < Runs; ++k) {
        SCOPED_TRACE(threads[k]);
        EXPECT_EQ(warnings[0], warnings[k]);
        ASSERT_EQ(results[0].size(), results[k].size());
        for (const auto& [name, content] : results[0]) {
            ASSERT_TRUE(results[k].count(name)) << name;
            EXPECT_TRUE(results[k][name] == content) << name;
        }
    }
}

// The example basin runs through its period with its temperature input.
TEST(MeteoRun, ExampleBasin) {
    TempDir dir;
    std::filesystem::copy(TestDataPath("../../examples"), dir.path(), std::filesystem::copy_options::recursive);
    std::filesystem::create_directories(dir.file("output"));
    const auto run = RunRuvex(dir.path(), {"example.ctl"});
    ASSERT_EQ(run.exitCode, 0) << run.output;
    EXPECT_TRUE(Entries(dir, 0).empty());
    const auto rows = meteotest::StatisticsRows(dir.file("output/temperature.sta"));
    ASSERT_EQ(rows.size(), 10u);
    EXPECT_EQ(rows.back()[2], 10);
}
