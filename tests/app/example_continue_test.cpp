// The example's run continued by its own recipe: basin.ctl over a first
// part, then basin_continue.ctl from the state that part left in output/.
// Split at moments of the four seasons, every output of the second part
// equals the one run over both parts, byte for byte; a state from another
// configuration is refused, and one from another date is warned about.

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <map>
#include <ostream>
#include <regex>
#include <sstream>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "support/example_switches.h"
#include "support/test_support.h"
#include "support/warm_start.h"

using namespace testsupport;

namespace {

const std::string BasinDir = std::string(RUVEX_TEST_DATA) + "/../../examples/basin";

struct Moment {
    int Hour, Day, Month, Year;
    long Key() const { return Year * 93000L + Month * 7750L + Day * 250L + Hour; }
};

// The control text with [model_time] from `start` to `end`.
std::string WithPeriod(const std::string& control, const Moment& start, const Moment& end) {
    auto line = [](int value) { return std::to_string(value) + "\n"; };
    const std::string period = "[model_time]\n" + line(start.Hour) + line(start.Day) + line(start.Month) +
                               line(start.Year) + line(end.Hour) + line(end.Day) + line(end.Month) + line(end.Year);
    const std::string replaced = std::regex_replace(control, std::regex(R"(\[model_time\]\n(.*\n){8})"), period,
                                                    std::regex_constants::format_first_only);
    EXPECT_NE(replaced, control) << "no [model_time] to set";
    return replaced;
}

// A copy of the example (inputs, both control files, both output
// directories) with `edit` applied to each control text.
template <typename Edit>
void CopyExample(const TempDir& dir, Edit edit) {
    std::filesystem::copy(BasinDir + "/input", dir.file("input"), std::filesystem::copy_options::recursive);
    std::filesystem::create_directories(dir.file("output"));
    std::filesystem::create_directories(dir.file("output_continued"));
    for (const char* name : {"basin.ctl", "basin_continue.ctl"})
        WriteFile(dir.file(name), edit(ReadFile(BasinDir + "/" + name), std::string(name) == "basin.ctl"));
}

RunResult RunExample(const TempDir& dir, const std::string& control) {
    return RunRuvex(dir.path(), {control}, "OMP_NUM_THREADS=2");
}

// The rows of a dated table from `from` on: (rows, whether it is a table).
std::pair<std::vector<std::string>, bool> RowsFrom(const std::string& text, const Moment& from) {
    std::istringstream in(text);
    std::vector<std::string> rows;
    // A table without rows yet: its header names the run's own control file.
    bool dated = text.rfind("YY\t", 0) == 0;
    std::string row;
    while (std::getline(in, row)) {
        std::istringstream words(row);
        long y = 0, m = 0, d = 0, h = 0;
        if (!(words >> y >> m >> d >> h) || y < 1900 || y > 2100 || m < 1 || m > 12) continue;
        dated = true;
        if (y * 93000L + m * 7750L + d * 250L + h >= from.Key()) rows.push_back(row);
    }
    return {rows, dated};
}

// Every output of the run continued in `parts` (in output_continued/) equals
// the one run's in `whole` from `resume` on, apart from sums and means over a
// run's own steps. Returns the number of files compared; counts the
// vegetation-period outputs in `vegetationOutputs`.
int ExpectSecondPartEqualsOneRun(const TempDir& whole, const TempDir& parts, const Moment& resume,
                                 int* vegetationOutputs) {
    const std::map<std::string, std::string> expected = OutputFiles(whole);
    std::map<std::string, std::string> got;
    for (const auto& entry : std::filesystem::directory_iterator(parts.file("output_continued")))
        got[entry.path().filename().string()] = ReadFile(entry.path().string());
    int compared = 0;
    for (const auto& [name, text] : expected) {
        const std::string extension = std::filesystem::path(name).extension().string();
        // Sums and means over a run's own steps; the set-up's derived grids
        // and the code grids, which the continuing run takes from input/.
        const bool vegetationPeriod = name.find("_vegper.") != std::string::npos;
        if (vegetationPeriod) ++*vegetationOutputs;
        if (((extension == ".sum" || extension == ".mit") && !vegetationPeriod) || name.find(".$") != std::string::npos ||
            name == "landuse.asc" || name == "soils.asc")
            continue;
        const auto other = got.find(name);
        if (other == got.end()) {
            ADD_FAILURE() << name << " is missing after the continued run";
            continue;
        }
        const auto [rows, dated] = RowsFrom(text, resume);
        if (!dated) {
            EXPECT_TRUE(text == other->second) << name << " differs after the continued run";
            ++compared;
            continue;
        }
        const auto [otherRows, otherDated] = RowsFrom(other->second, resume);
        // Rows that sum over several steps begin with the continued run's own
        // steps when it starts inside their period: their dates differ.
        if (!rows.empty() && !otherRows.empty() && rows.front().substr(0, 14) != otherRows.front().substr(0, 14)) {
            EXPECT_NE(resume.Hour, 1) << name << ": rows of whole days misplaced";
            continue;
        }
        EXPECT_EQ(rows, otherRows) << name;
        ++compared;
    }
    return compared;
}

struct Split {
    const char* Name;
    Moment Start, Resume, End;  // first step of each part, last step of the run
    Moment FirstEnd;            // last step of the first part
    bool DynamicGlacier;        // the glacier that changes its extent on 30 September
    int VegetationWriteDay;     // > 0: the meadow's vegetation period from 15 April to 15 September,
                                // written on this day of the year as sums and means of etr and etp
};

void PrintTo(const Split& split, std::ostream* out) { *out << split.Name; }

std::string ForSplit(const Split& split, const std::string& control) {
    std::string text = control;
    if (split.VegetationWriteDay > 0) {
        ReplaceOnce(text, "  SoilTillage = 105 280;\n",
                    "  SoilTillage = 105 280;\n  StartVegetationPeriodForBalance = 2; StopVegetationPeriodForBalance = 5;\n"
                    "  JDVegetationResetForBalance = 1; JDVegetationWriteForBalance = " +
                        std::to_string(split.VegetationWriteDay) + ";\n");
        text = SetWriteCodesAfter(text, {"etr.asc"}, 1000);
        text = SetWriteCodesAfter(text, {"etp.asc"}, 2000);
    }
    if (!split.DynamicGlacier) return text;
    // The continuing run reads the glacier's extent back from the state.
    const size_t at = text.find("../input/ice_firn.asc ");
    if (at != std::string::npos) text.replace(at, 9, "");
    return WithDynamicGlacier(text);
}

class ExampleContinue : public ::testing::TestWithParam<Split> {};

TEST_P(ExampleContinue, SecondPartEqualsOneRun) {
    const Split& s = GetParam();
    TempDir whole, parts;
    CopyExample(whole, [&](const std::string& text, bool first) {
        return first ? WithPeriod(ForSplit(s, text), s.Start, s.End) : text;
    });
    CopyExample(parts, [&](const std::string& text, bool first) {
        return first ? WithPeriod(ForSplit(s, text), s.Start, s.FirstEnd) : WithPeriod(ForSplit(s, text), s.Resume, s.End);
    });
    if (HasFatalFailure()) return;
    const RunResult one = RunExample(whole, "basin.ctl");
    ASSERT_EQ(one.exitCode, 0) << one.output;
    const RunResult first = RunExample(parts, "basin.ctl");
    ASSERT_EQ(first.exitCode, 0) << first.output;
    const RunResult second = RunExample(parts, "basin_continue.ctl");
    ASSERT_EQ(second.exitCode, 0) << second.output;
    // The state belongs to the step before, and nothing falls back to a cold value.
    for (const char* warning : {"belongs to", "carries neither", "no section", "no baseflow deficit", "no albedo"})
        EXPECT_EQ(second.output.find(warning), std::string::npos) << warning << "\n" << second.output;

    int vegetationOutputs = 0;
    EXPECT_GT(ExpectSecondPartEqualsOneRun(whole, parts, s.Resume, &vegetationOutputs), 40);
    // Sums and means of etr and etp, of the whole stand and of each layer.
    if (s.VegetationWriteDay > 0) {
        EXPECT_EQ(vegetationOutputs, 6);
    }
}

#ifdef RUVEX_SANITIZED
// Under the sanitizers: a few hours on each side.
const Split Splits[] = {
    {"NewYear", {21, 31, 12, 2019}, {1, 1, 1, 2020}, {3, 1, 1, 2020}, {24, 31, 12, 2019}, false, 0},
    {"SummerNoon", {9, 14, 7, 2019}, {13, 14, 7, 2019}, {24, 14, 7, 2019}, {12, 14, 7, 2019}, false, 195},
};
#else
const Split Splits[] = {
    {"NewYear", {1, 30, 12, 2019}, {1, 1, 1, 2020}, {24, 2, 1, 2020}, {24, 31, 12, 2019}, false, 0},
    {"Spring", {1, 30, 3, 2019}, {1, 1, 4, 2019}, {24, 2, 4, 2019}, {24, 31, 3, 2019}, false, 0},
    // Inside the meadow's vegetation period, written on 15 July (day 196).
    {"SummerNoon", {1, 13, 7, 2019}, {13, 14, 7, 2019}, {24, 15, 7, 2019}, {12, 14, 7, 2019}, false, 196},
    {"AutumnAfterGlacierUpdate", {1, 29, 9, 2019}, {1, 1, 10, 2019}, {24, 2, 10, 2019}, {24, 30, 9, 2019}, true, 0},
};
#endif

INSTANTIATE_TEST_SUITE_P(Seasons, ExampleContinue, ::testing::ValuesIn(Splits),
                         [](const ::testing::TestParamInfo<Split>& info) { return info.param.Name; });

// The meadow's season starts by the weather of each cell: after its reset on
// 7 April it sums the daily mean temperatures above 0 (weighted by the soil's
// moisture) until they pass a threshold set by the cold days counted, and its
// fix points follow that start. The alpine pasture's second fix point waits
// for a sum of 30 degree-days above -5. The forest's understorey is meadow,
// so both land-use layers carry the phenology.
std::string WithDynamicPhenology(const std::string& control) {
    std::string text = control;
    ReplaceOnce(text, "11 meadow method = VariableDayCount {", "11 meadow method = DynamicPhenology_4 {");
    ReplaceOnce(text, "  JulDays = 15 105 135 166 258 319;\n",
                "  JulDays = 15 60 -1 30 258 319;\n"
                "  F* = 30; DP1_t1_dorm = 52; DP1_T_Bf = 5; JDReset_TStart = 97; maxStartJDforDP1 = 160;\n"
                "  DP4_t0_dorm = 300; DP4_t1_dorm = 90; DP4_T0 = 5; DP4_T1 = 0; DP4_Par_a = 15; DP4_Par_b = -1;\n"
                "  DP4_T_xylstop = 8; DP4_t_xs1 = 250; DP4_SPSLF = 5; StressFactorDynPhen = 1;\n");
    ReplaceOnce(text, "31 alpine_pasture method = VariableDayCount {", "31 alpine_pasture method = DynamicPhenology_3 {");
    ReplaceOnce(text, "  JulDays = 15 135 166 196 244 288;\n",
                "  JulDays = 1 110 166 196 244 366; ForcingThreshold = -1 30 -1 -1 -1 -1;\n"
                "  DP1_t1_dorm = 1; DP1_T_Bf = -5; JDReset_TStart = 300; maxStartJDforDP1 = 160;\n");
    return text;
}

// Split at noon of the day on which the meadow's season may start: the
// day's mean temperature is half summed.
TEST(ExampleContinuePhenology, SecondPartEqualsOneRun) {
    const Moment start{1, 7, 4, 2019}, firstEnd{12, 9, 4, 2019}, resume{13, 9, 4, 2019}, end{24, 10, 4, 2019};
    TempDir whole, parts;
    CopyExample(whole, [&](const std::string& text, bool first) {
        return first ? WithPeriod(WithDynamicPhenology(text), start, end) : text;
    });
    CopyExample(parts, [&](const std::string& text, bool first) {
        return WithPeriod(WithDynamicPhenology(text), first ? start : resume, first ? firstEnd : end);
    });
    if (HasFatalFailure()) return;
    const RunResult one = RunExample(whole, "basin.ctl");
    ASSERT_EQ(one.exitCode, 0) << one.output;
    const RunResult first = RunExample(parts, "basin.ctl");
    ASSERT_EQ(first.exitCode, 0) << first.output;
    const std::string state = ReadFile(parts.file("output/storage_content.txt_0"));
    ASSERT_NE(state.find("[dynamic_phenology]"), std::string::npos);
    const RunResult second = RunExample(parts, "basin_continue.ctl");
    ASSERT_EQ(second.exitCode, 0) << second.output;
    EXPECT_EQ(second.output.find("no section"), std::string::npos) << second.output;
    int vegetationOutputs = 0;
    EXPECT_GT(ExpectSecondPartEqualsOneRun(whole, parts, resume, &vegetationOutputs), 40);

    // The same state read by runs that differ from it, for one step each.
    const size_t section = state.find("[dynamic_phenology]");
    const std::string withoutSection = state.substr(0, section) + state.substr(state.find("\n\n", section) + 2);
    const Moment oneStep{14, 9, 4, 2019};
    const struct {
        const char* name;
        std::string state;
        bool dynamic;  // the continuing run has dynamic phenology
        int exitCode;
        const char* message;
    } cases[] = {
        {"an older state without the section", withoutSection, true, 0,
         "no section [dynamic_phenology] in output/storage_content.txt_0: the dynamic phenology starts "
         "from the values of the start date"},
        {"a run without dynamic phenology", state, false, 71, "value in actual control is:   (none in this run)"},
        {"another number of fix points", std::regex_replace(state, std::regex(R"(\n(60 80 2) 6 )"), "\n$1 7 "), true,
         71, "value in actual control is:   60 80 2 6\nbut value in storage file is: 60 80 2 7"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        WriteFile(parts.file("output/storage_content.txt_0"), c.state);
        std::string control = ReadFile(BasinDir + "/basin_continue.ctl");
        WriteFile(parts.file("basin_continue.ctl"),
                  WithPeriod(c.dynamic ? WithDynamicPhenology(control) : control, resume, oneStep));
        const RunResult run = RunExample(parts, "basin_continue.ctl");
        EXPECT_EQ(run.exitCode, c.exitCode) << run.output;
        EXPECT_NE(run.output.find(c.message), std::string::npos) << run.output;
    }
}

// A state and the run that continues it, changed in one way each.
struct Change {
    const char* Name;
    const char* StateFile;  // empty: the changes are made to basin_continue.ctl
    std::vector<std::pair<std::string, std::string>> Edits;
    int ExitCode;
    const char* Message;  // a part of the output that names what does not fit
    // A damage done to the state file (after the edits); it may empty the
    // text to RemoveFile, which deletes the file.
    std::function<void(std::string&)> Damage = nullptr;
};

const char* const RemoveFile = "\x01remove";

void PrintTo(const Change& change, std::ostream* out) { *out << change.Name; }

// The first part, two steps of 1 April 2019, run once for every case.
class ExampleContinueChanged : public ::testing::TestWithParam<Change> {
protected:
    static void SetUpTestSuite() {
        First = new TempDir;
        const Moment start{1, 1, 4, 2019}, firstEnd{2, 1, 4, 2019}, resume{3, 1, 4, 2019}, end{4, 1, 4, 2019};
        CopyExample(*First, [&](const std::string& text, bool first) {
            return first ? WithPeriod(text, start, firstEnd) : WithPeriod(text, resume, end);
        });
        FirstRun = RunExample(*First, "basin.ctl");
    }
    static void TearDownTestSuite() {
        delete First;
        First = nullptr;
    }
    static TempDir* First;
    static RunResult FirstRun;
};
TempDir* ExampleContinueChanged::First = nullptr;
RunResult ExampleContinueChanged::FirstRun;

TEST_P(ExampleContinueChanged, IsRefusedOrWarned) {
    const Change& c = GetParam();
    ASSERT_EQ(FirstRun.exitCode, 0) << FirstRun.output;
    TempDir dir;
    std::filesystem::copy(First->path(), dir.path(), std::filesystem::copy_options::recursive);
    const std::string target = std::string(c.StateFile).empty() ? dir.file("basin_continue.ctl")
                                                                : dir.file("output/") + c.StateFile;
    std::string text = ReadFile(target);
    for (const auto& [from, to] : c.Edits) ReplaceOnce(text, from, to);
    if (c.Damage) c.Damage(text);
    if (text == RemoveFile) {
        std::filesystem::remove(target);
    } else {
        WriteFile(target, text);
    }
    const RunResult second = RunExample(dir, "basin_continue.ctl");
    EXPECT_EQ(second.exitCode, c.ExitCode) << second.output;
    EXPECT_NE(second.output.find(c.Message), std::string::npos) << second.output;
}

const Change Changes[] = {
    {"LayerThickness", "", {{"thickness = 0.1 0.3 0.5;", "thickness = 0.1 0.3 0.6;"}}, 71,
     "thickness of layer 5 of soil 3 [m]"},
    {"LayerCount",
     "",
     {{"layers = 2 2 2;\n  thickness = 0.1 0.3 0.5;", "layers = 2 2 3;\n  thickness = 0.1 0.3 0.5;"},
      {"layers = 2 2 2;\n  thickness = 0.1 0.24 0.3;", "layers = 2 2 3;\n  thickness = 0.1 0.24 0.3;"}},
     13,
     "wrong number of levels in stack theta.stk"},
    {"TracerCount", "", {{"[substance_transport]\n2 ", "[substance_transport]\n1 "}}, 71, "tracers"},
    {"Subbasins", "storage_content.txt_0", {{"1\t2\t3\t(code)", "1\t2\t4\t(code)"}}, 71, "subbasin code"},
    {"GridSize", "snowstorage_solid.asc", {{"ncols\t80", "ncols\t79"}}, 24, "output/snowstorage_solid.asc"},
    {"StateOfAnotherDate", "storage_content.txt_0", {{"2019 4 1 2 (date", "2019 3 31 2 (date"}}, 0,
     "belongs to 31.3.2019 2. h, but this run starts at 1.4.2019 3. h"},
    {"StartAtAnotherDate", "", {{"[model_time]\n3\n", "[model_time]\n4\n"}}, 0,
     "belongs to 1.4.2019 2. h, but this run starts at 1.4.2019 4. h"},
    // A state written before the date and the soil layers were recorded.
    {"OlderStateWithoutDateAndLayers",
     "storage_content.txt_0",
     {{"2019 4 1 2 (date of the state: year, month, day, hour of its last step)\n2 (soil types)\n"
       "3 6 0.1 0.1 0.3 0.3 0.5 0.5 (soil code, number of layers, their thicknesses [m])\n"
       "7 6 0.1 0.1 0.24 0.24 0.3 0.3 (soil code, number of layers, their thicknesses [m])\n",
       ""}},
     0,
     "carries neither the date of its state nor the soil layers"},
    {"OlderStateWithoutVegetationPeriod", "storage_content.txt_0", {{"[vegetation_period]", "[other]"}}, 0,
     "no section [vegetation_period] in"},
};

INSTANTIATE_TEST_SUITE_P(Configurations, ExampleContinueChanged, ::testing::ValuesIn(Changes),
                         [](const ::testing::TestParamInfo<Change>& info) { return info.param.Name; });

// The value of the first cell of a text grid (six header lines) or stack
// (twelve, one value per line) whose `level` holds a value other than
// nodata, replaced by `change` of it.
std::function<void(std::string&)> FirstCell(bool stack, int level, std::function<std::string(double)> change) {
    return [=](std::string& text) {
        std::istringstream in(text);
        std::string out, line;
        int header = stack ? 12 : 6, levels = 1;
        long k = 0;
        bool done = false;
        while (std::getline(in, line)) {
            if (header > 0) {
                --header;
                if (stack && line.rfind("numlevels", 0) == 0) levels = std::stoi(line.substr(10)) + 1;
                out += line + "\n";
                continue;
            }
            std::istringstream words(line);
            std::string word, row;
            while (words >> word) {
                const double value = std::stod(word);
                if (!done && k % levels == level && value != -9999) {
                    word = change(value);
                    done = true;
                }
                ++k;
                row += (row.empty() ? "" : "\t") + word;
            }
            out += row + "\n";
        }
        EXPECT_TRUE(done) << "no cell to damage";
        text = out;
    };
}

std::function<std::string(double)> To(const std::string& value) {
    return [value](double) { return value; };
}

// The first number of the line that holds `marker`, replaced by `value`.
std::function<void(std::string&)> LineValue(const std::string& marker, const std::string& value) {
    return [=](std::string& text) {
        const size_t at = text.find(marker);
        ASSERT_NE(at, std::string::npos) << marker;
        const size_t start = text.rfind('\n', at) + 1;
        const size_t end = text.find_first_of(" \t", start);
        text.replace(start, end - start, value);
    };
}

// The text cut after the first `marker` (or `keep` characters before its end).
std::function<void(std::string&)> CutAfter(const std::string& marker, size_t keep = 0) {
    return [=](std::string& text) {
        const size_t at = text.find(marker);
        ASSERT_NE(at, std::string::npos) << marker;
        text.resize(at + marker.size() - keep);
    };
}

// The section beginning with the line `name` left out, up to its empty line.
std::function<void(std::string&)> WithoutSection(const std::string& name) {
    return [=](std::string& text) {
        const size_t at = text.find(name + "\n");
        ASSERT_NE(at, std::string::npos) << name;
        const size_t end = text.find("\n\n", at);
        text.erase(at, end == std::string::npos ? std::string::npos : end + 2 - at);
    };
}

std::string Times(double value, double factor) {
    std::ostringstream text;
    text.precision(17);
    text << value * factor;
    return text.str();
}

// Every kind of bad value and every missing or cut state: refused with the
// code of its file and a message that names the value.
const Change Damaged[] = {
    {"SnowStorageNegative", "snowstorage_solid.asc", {}, 22, "solid snow storage [mm] of the cell in row",
     FirstCell(false, 0, To("-50"))},
    {"ThetaNegated", "theta.stk", {}, 22, "water content theta of the cell in row",
     FirstCell(true, 1, [](double v) { return Times(v, -1); })},
    {"ThetaTimesTen", "theta.stk", {}, 22, "water content theta of the cell in row",
     FirstCell(true, 2, [](double v) { return Times(v, 10); })},
    {"SoilTemperatureHuge", "temper.stk", {}, 22, "soil temperature [degC] of the cell in row",
     FirstCell(true, 1, To("1e300"))},
    {"SoilHeadHuge", "hh.stk", {}, 22, "hydraulic head [m] of the cell in row", FirstCell(true, 1, To("1e6"))},
    {"GroundwaterHeadHuge", "gw_head_1.asc", {}, 22, "groundwater head [m] of the cell in row",
     FirstCell(false, 0, To("1e6"))},
    {"KineticEnergyHuge", "kinetic_energy.asc", {}, 22, "kinetic energy [J/m2] of the cell in row",
     FirstCell(false, 0, To("1e308"))},
    {"TracerStateHuge", "tracer_chlinter.asc", {}, 22, "tracer storage of the cell in row",
     FirstCell(false, 0, To("1e308"))},
    {"SoilTracerNegative", "tracer_chlunsat.asc", {}, 22, "tracer content of the cell in row",
     FirstCell(true, 1, To("-1"))},
    {"RunoffStorageNan", "storage_content.txt_0", {}, 71, "[unsatzon_model] QDd[0][1] is nan",
     LineValue("(QDd[0][1])", "nan")},
    {"RunoffStorageInf", "storage_content.txt_0", {}, 71, "[unsatzon_model] QIi[0][2] is inf",
     LineValue("(QIi[0][2])", "inf")},
    {"RoutingOutflowHuge", "storage_content.txt_0", {}, 71, "outflow [m3/s] (position",
     LineValue("(wqtab[local tributary 1].Qaus[subchannel 1][1..2])", "2147483648")},
    {"SunshineNegative", "storage_content.txt_0", {}, 71, "[evapotranspiration] sunshine of row",
     [](std::string& text) {
         const size_t grid = text.find("(rows and columns of the sunshine grid)\n");
         ASSERT_NE(grid, std::string::npos);
         const size_t cell = text.find_first_not_of("-9 \n", text.find('\n', grid));
         const size_t end = text.find_first_of(" \n", cell);
         text.replace(cell, end - cell, "-3");
     }},
    {"SurfaceStorageNan", "surfrout_state.txt_0", {}, 71, "[SurfaceRoutingModel] QIi[0][1] is nan",
     LineValue("(QIi[0][1])", "nan")},
    // Missing or cut.
    {"SnowSectionMissing", "storage_content.txt_0", {}, 71, "the section [snow_model] is missing",
     WithoutSection("[snow_model]")},
    {"CutAfterSoilSection", "storage_content.txt_0", {}, 71, "error in storage file content reading",
     CutAfter("[unsatzon_model]\n")},
    {"SurfaceStateMissing", "surfrout_state.txt_0", {}, 64, "error opening storage content file output/surfrout",
     [](std::string& text) { text = RemoveFile; }},
    {"SurfaceStateEmpty", "surfrout_state.txt_0", {}, 71, "the section [SurfaceRoutingModel] is missing",
     [](std::string& text) { text.clear(); }},
    {"SurfaceStateLastNumberCut", "surfrout_state.txt_0", {}, 71, "cut short",
     [](std::string& text) {
         // Whatever the last line holds (a velocity or a storage), its last
         // characters go.
         while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
         text.resize(text.size() - 3);
     }},
    // The sunshine of the day is this model's own addition: without it the
    // day starts anew, with a WARNING.
    {"SunshineSectionMissing", "storage_content.txt_0", {}, 0, "the mean sunshine of the day starts at its cold",
     WithoutSection("[evapotranspiration]")},
};

INSTANTIATE_TEST_SUITE_P(DamagedStates, ExampleContinueChanged, ::testing::ValuesIn(Damaged),
                         [](const ::testing::TestParamInfo<Change>& info) { return info.param.Name; });

}  // namespace
