// The user's manual in docs/ stays true to the program: every control-file
// section the code looks up has its entry in the manual and every entry names
// a section the code reads (likewise the keys of the land-use and soil
// blocks), and every control file of the tutorial runs with the real binary.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>

#include "support/test_support.h"

using namespace testsupport;
namespace fs = std::filesystem;

namespace {

const fs::path SourceRoot = fs::path(RUVEX_TEST_DATA) / ".." / "..";
const char* const CodeFolders[] = {"app", "framework", "setup", "parameters", "forcing",
                                   "surface", "soil", "lateral", "routing"};

std::string Slurp(const fs::path& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

std::vector<fs::path> ManualFiles() {
    std::vector<fs::path> files;
    for (const auto& entry : fs::recursive_directory_iterator(SourceRoot / "docs")) {
        if (entry.path().extension() == ".md") files.push_back(entry.path());
    }
    std::sort(files.begin(), files.end());
    return files;
}

// The first groups of every match of `pattern`, looked for only in the lines
// that hold `hint` (std::regex over whole sources would take seconds).
std::set<std::string> Matches(const std::string& text, const std::regex& pattern, const std::string& hint) {
    std::set<std::string> found;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        if (line.find(hint) == std::string::npos) continue;
        for (std::sregex_iterator it(line.begin(), line.end(), pattern), end; it != end; ++it) {
            found.insert((*it)[1].str());
        }
    }
    return found;
}

// The sections the program looks up, as the manual names them: "[name]" for a
// fixed name, "[prefix_<...>]" for names built from a prefix and a number, and
// "[<input_name>]" for the sections named in [meteo_names]. Only lookups
// count (a FindSection call or the name a reader is handed), so that a
// message or a state-file section that quotes a name in brackets is no
// section of the control file.
std::set<std::string> SectionsTheCodeReads() {
    std::set<std::string> sections;
    const std::regex lookedUp(R"re(\b(?:FindSection|InitLakes)\(\s*"\[([A-Za-z][A-Za-z0-9_]*)\]")re");
    const std::regex prefix(R"re("\[([A-Za-z][A-Za-z0-9_]*_)"\s*\+)re");
    // The sub-models get their section's name from the application.
    const std::regex constructed(R"re(new \w+\(&status, Writer, statistics, size, "([A-Za-z][A-Za-z0-9_]*)")re");
    // A reader that looks up its own module name names its section there.
    const std::string byModuleName = "FindSection(\"[\" + ModuleName + \"]\"";
    const std::regex moduleName(R"re(\bModuleName = "([A-Za-z][A-Za-z0-9_]*)")re");
    for (const char* folder : CodeFolders) {
        for (const auto& entry : fs::directory_iterator(SourceRoot / folder)) {
            const std::string text = Slurp(entry.path());
            for (const auto& name : Matches(text, lookedUp, "\"[")) sections.insert("[" + name + "]");
            for (const auto& name : Matches(text, prefix, "\"[")) sections.insert("[" + name + "<...>]");
            for (const auto& name : Matches(text, constructed, "new ")) sections.insert("[" + name + "]");
            if (text.find(byModuleName) == std::string::npos) continue;
            for (const auto& name : Matches(text, moduleName, "ModuleName = ")) sections.insert("[" + name + "]");
            // The meteorological inputs take the names listed in [meteo_names].
            if (entry.path().filename().string().rfind("meteoint_section", 0) == 0) sections.insert("[<input_name>]");
        }
    }
    return sections;
}

// The manual's entries: a heading that holds nothing but the section in
// brackets, e.g. "### [model_time]" or "### [abstraction_rule_reservoir_<code>]".
std::set<std::string> SectionsInTheManual() {
    std::set<std::string> sections;
    const std::regex heading(R"(^#{2,4} (\[[^\]\s]+\])\s*$)");
    for (const auto& file : ManualFiles()) {
        std::istringstream lines(Slurp(file));
        std::string line;
        std::smatch m;
        while (std::getline(lines, line)) {
            if (!std::regex_match(line, m, heading)) continue;
            // A name built from a number: what stands in the angle brackets is free.
            sections.insert(std::regex_replace(m[1].str(), std::regex(R"(_<[^>]*>\])"), "_<...>]"));
        }
    }
    return sections;
}

// Keys the manual lists in the table after the marker "<!-- keys: what -->":
// the first cell of each row, in backticks.
std::set<std::string> KeysInTheManual(const std::string& what) {
    std::set<std::string> keys;
    const std::string marker = "<!-- keys: " + what + " -->";
    for (const auto& file : ManualFiles()) {
        std::istringstream lines(Slurp(file));
        std::string line;
        bool inTable = false;
        while (std::getline(lines, line)) {
            if (line.find(marker) != std::string::npos) {
                inTable = true;
                continue;
            }
            if (!inTable) continue;
            if (line.empty() && !keys.empty()) break;
            std::smatch m;
            if (std::regex_search(line, m, std::regex(R"(^\| `([A-Za-z][A-Za-z_0-9-]*)`)"))) keys.insert(m[1].str());
        }
    }
    return keys;
}

std::set<std::string> KeysTheCodeReads(const std::vector<std::string>& files) {
    // The readers' helpers: requiredList("ksat", ...), optionalNumber(...),
    // methodInteger(...), offsetWithDefault(...), lookup("..."), and the
    // plain searches FindKeyValue(text, "..."), ReadValueList(text, "..."),
    // ReadHorizonList(text, "...") and `at = entry.find("...");`.
    const std::regex call(R"re(\b(?:required|optional|method|offset)\w*\(\s*"([A-Za-z][\w-]*)")re");
    const std::regex lookup(
        R"re((?:\blookup\(|\b(?:FindKeyValue|ReadValueList|ReadHorizonList)\(\w+,|=\s*\w+\.find\()\s*"([A-Za-z][\w-]*)")re");
    std::set<std::string> keys;
    for (const auto& name : files) {
        const std::string text = Slurp(SourceRoot / name);
        for (const auto& key : Matches(text, call, "\"")) keys.insert(key);
        for (const auto& key : Matches(text, lookup, "\"")) keys.insert(key);
    }
    return keys;
}

std::string Difference(const std::set<std::string>& a, const std::set<std::string>& b) {
    std::string text;
    for (const auto& x : a) {
        if (!b.count(x)) text += " " + x;
    }
    return text;
}

}  // namespace

TEST(Manual, EverySectionTheCodeReadsHasItsEntryAndNoEntryIsStale) {
    const auto code = SectionsTheCodeReads();
    const auto manual = SectionsInTheManual();
    // The scan itself must see the well-known sections, or it has gone blind.
    for (const char* known : {"[model_time]", "[unsatzon_model]", "[lake_model]", "[precipitation_correction]",
                              "[<input_name>]", "[abstraction_rule_reservoir_<...>]"}) {
        ASSERT_TRUE(code.count(known)) << known << " not found in the sources";
    }
    EXPECT_EQ(Difference(code, manual), "") << "sections the code reads but the manual does not describe";
    EXPECT_EQ(Difference(manual, code), "") << "sections the manual describes but the code does not read";
}

TEST(Manual, KeysOfTheLandUseAndSoilBlocksMatchTheCode) {
    const struct {
        const char* what;
        std::vector<std::string> files;
        const char* known;
    } tables[] = {
        {"landuse", {"parameters/landuse_brace.cpp"}, "LAI"},
        {"soil", {"parameters/soil_entry.cpp"}, "ksat"},
    };
    for (const auto& table : tables) {
        const auto code = KeysTheCodeReads(table.files);
        const auto manual = KeysInTheManual(table.what);
        ASSERT_TRUE(code.count(table.known)) << table.what << ": the scan of the sources found no " << table.known;
        EXPECT_EQ(Difference(code, manual), "") << table.what << ": keys the code reads but the manual lacks";
        EXPECT_EQ(Difference(manual, code), "") << table.what << ": keys in the manual that the code does not read";
    }
}

// Each step of the tutorial, run as the tutorial says, from a copy of its
// folder; the checks are what the tutorial tells the reader to look at.
TEST(Manual, EveryTutorialControlFileRuns) {
    const fs::path tutorial = SourceRoot / "docs" / "tutorial";
    const std::string walkThrough = Slurp(SourceRoot / "docs" / "tutorial.md");
    std::vector<std::string> steps;
    for (const auto& entry : fs::directory_iterator(tutorial)) {
        if (entry.path().extension() == ".ctl") steps.push_back(entry.path().filename().string());
    }
    std::sort(steps.begin(), steps.end());
    ASSERT_GE(steps.size(), 2u);
    for (const auto& step : steps) {
        SCOPED_TRACE(step);
        EXPECT_NE(walkThrough.find(step), std::string::npos) << "docs/tutorial.md does not mention " << step;
        TempDir dir;
        fs::copy(tutorial / "input", dir.file("input"), fs::copy_options::recursive);
        fs::copy_file(tutorial / step, dir.file(step));
        fs::create_directories(dir.file("output"));
        const auto run = RunRuvex(dir.path(), {step});
        ASSERT_EQ(run.exitCode, 0) << run.output;
        // Ten days: one row per day of the basin's temperature in every step.
        const auto temperature = StatisticsValueRows(dir.file("output/temperature.sta"));
        ASSERT_EQ(temperature.size(), 10u);
        if (FileExists(dir.file("output/qg.sta"))) {
            for (const auto& row : StatisticsValueRows(dir.file("output/qg.sta"))) {
                for (size_t k = 4; k < row.size(); ++k) EXPECT_GT(row[k], 0) << "no runoff";
            }
        }
        if (step.find("routing") != std::string::npos) {
            // Hourly rows; the outlet carries its own runoff and that of subbasin 1.
            const auto routed = StatisticsValueRows(dir.file("output/Qrouted.sta"));
            ASSERT_EQ(routed.size(), 240u);
            for (const auto& row : routed) EXPECT_GT(row.back(), row[row.size() - 2]);
        }
    }
}
