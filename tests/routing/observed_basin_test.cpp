// The example basin's gauge at the outlet: a run of a few rainy days of
// January 2019 ends its routed-discharge file with the four efficiency
// tables, and their shift-0 values agree with a computation of our own from
// the written routed discharges and the observed file.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "support/test_support.h"

using namespace testsupport;
namespace fs = std::filesystem;

namespace {

const std::string BasinDir = std::string(RUVEX_TEST_DATA) + "/../../examples/basin";

#ifdef RUVEX_SANITIZED
constexpr int LastDay = 5;
#else
constexpr int LastDay = 7;
#endif

using Date = std::tuple<int, int, int, int>;

// The efficiency values of two series as the tables define them: pairs with
// an observation above 0 (the logarithmic ones also with a routed value
// above 0); R-square 1 - mean squared deviation / variance of the
// observations, the coefficient with the deviations' own variance.
struct Efficiency {
    double rSquare = 0, coefficient = 0;
};

Efficiency Compute(const std::vector<std::pair<double, double>>& pairs) {  // (routed, observed)
    double n = 0, d = 0, dd = 0, o = 0, oo = 0;
    for (const auto& [s, obs] : pairs) {
        n += 1;
        d += s - obs;
        dd += (s - obs) * (s - obs);
        o += obs;
        oo += obs * obs;
    }
    const double w = (oo - o * o / n) / (n - 1);
    return {1 - dd / (n - 1) / w, 1 - (dd - d * d / n) / (n - 1) / w};
}

// The values of a table line ("LIN. R-SQUARE\t0\t...") after the label and the shift.
std::vector<double> TableLine(const std::string& file, const std::string& label) {
    const size_t at = file.find(label + "\t0\t");
    if (at == std::string::npos) return {};
    std::istringstream words(file.substr(at + label.size() + 3, file.find('\n', at) - at - label.size() - 3));
    std::vector<double> values;
    double v = 0;
    while (words >> v) values.push_back(v);
    return values;
}

}  // namespace

TEST(ExampleBasinObserved, EfficiencyTablesAgreeWithTheWrittenSeries) {
    TempDir dir;
    fs::copy(BasinDir + "/input", dir.file("input"), fs::copy_options::recursive);
    fs::create_directories(dir.file("output"));
    std::string control = ReadFile(BasinDir + "/basin.ctl");
    ASSERT_NE(control.find("input/observed_discharge.txt"), std::string::npos);
    ASSERT_NE(control.find("Qrouted.sta 2001"), std::string::npos);
    const std::string timed =
        std::regex_replace(control, std::regex(R"(\[model_time\]\n(.*\n){8})"),
                           "[model_time]\n1\n5\n1\n2019\n24\n" + std::to_string(LastDay) + "\n1\n2019\n",
                           std::regex_constants::format_first_only);
    ASSERT_NE(timed, control);
    WriteFile(dir.file("basin.ctl"), timed);
    const RunResult run = RunRuvex(dir.path(), {"basin.ctl"}, "OMP_NUM_THREADS=2");
    ASSERT_EQ(run.exitCode, 0) << run.output;

    // Observations by date.
    std::map<Date, double> observed;
    {
        std::istringstream in(ReadFile(dir.file("input/observed_discharge.txt")));
        std::string line;
        std::getline(in, line);
        int y = 0, m = 0, d = 0, h = 0;
        double q = 0;
        while (in >> y >> m >> d >> h >> q) observed[{y, m, d, h}] = q;
    }

    // Routed discharge of the outlet (the third subbasin column) per step.
    const std::string routedFile = ReadFile(dir.file("output/Qrouted.sta"));
    std::istringstream in(routedFile);
    std::string line;
    // Pairs of (routed, observed), the routed value as written and moved to
    // either end of its rounding interval (five decimals).
    const double halfDigit = 0.5e-5;
    std::vector<std::pair<double, double>> plain, logarithmic, lower, upper, lowerLog, upperLog;
    int steps = 0;
    for (int n = 0; std::getline(in, line); ++n) {
        if (n < 3) continue;
        std::istringstream words(line);
        int y = 0, m = 0, d = 0, h = 0;
        double q1 = 0, q2 = 0, q3 = 0;
        if (!(words >> y >> m >> d >> h >> q1 >> q2 >> q3)) break;  // the tables begin
        ++steps;
        const auto it = observed.find({y, m, d, h});
        ASSERT_NE(it, observed.end()) << line;
        if (it->second <= 0) continue;
        plain.emplace_back(q3, it->second);
        lower.emplace_back(q3 > 0 ? q3 - halfDigit : q3, it->second);
        upper.emplace_back(q3 > 0 ? q3 + halfDigit : q3, it->second);
        if (q3 > 0) {
            logarithmic.emplace_back(std::log(q3), std::log(it->second));
            lowerLog.emplace_back(std::log(q3 - halfDigit), std::log(it->second));
            upperLog.emplace_back(std::log(q3 + halfDigit), std::log(it->second));
        }
    }
    EXPECT_EQ(steps, 24 * (LastDay - 4));
    ASSERT_GE(plain.size(), 3u);
    ASSERT_GE(logarithmic.size(), 3u);
    const Efficiency lin = Compute(plain), log = Compute(logarithmic);
    const Efficiency linLow = Compute(lower), linHigh = Compute(upper);
    const Efficiency logLow = Compute(lowerLog), logHigh = Compute(upperLog);
    // How far the rounding of the written routed values can move each value.
    auto spread = [](double a, double b, double c) { return std::fmax(std::fabs(a - c), std::fabs(b - c)); };

    const struct {
        const char* label;
        double expected, rounding;
    } tables[] = {{"LIN. R-SQUARE", lin.rSquare, spread(linLow.rSquare, linHigh.rSquare, lin.rSquare)},
                  {"LOG. R-SQUARE", log.rSquare, spread(logLow.rSquare, logHigh.rSquare, log.rSquare)},
                  {"COEFF.VAR.LIN", lin.coefficient, spread(linLow.coefficient, linHigh.coefficient, lin.coefficient)},
                  {"COEFF.VAR.LOG", log.coefficient, spread(logLow.coefficient, logHigh.coefficient, log.coefficient)}};
    for (const auto& t : tables) {
        const std::vector<double> values = TableLine(routedFile, t.label);
        ASSERT_EQ(values.size(), 3u) << t.label << "\n" << routedFile;
        // Subbasins 1 and 2 have no gauge.
        EXPECT_EQ(values[0], -9999) << t.label;
        EXPECT_EQ(values[1], -9999) << t.label;
        // The routed values are written with five decimals, the table with
        // four; the logarithms of the small winter flows magnify the
        // rounding, by as much as moving every written value to either end
        // of its rounding interval moves the recomputation.
        const double tolerance = 1e-4 * std::fmax(1.0, std::fabs(t.expected)) + t.rounding + 5e-5;
        EXPECT_NEAR(values[2], t.expected, tolerance) << t.label;
        std::printf("example gauge, %s at shift 0: table %.4f, recomputed %.6f (rounding %.3g)\n", t.label, values[2],
                    t.expected, t.rounding);
    }
}
