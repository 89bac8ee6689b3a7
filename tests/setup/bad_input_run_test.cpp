// Whole runs of the real executable on input that must never be taken as it
// stands: numbers that are no finite numbers, values beyond the range of
// their type or of what they describe, counts that cannot be right. Each run
// ends at once with its code and a FATAL entry naming the file and the value.

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "forcing/meteoint_fixture.h"
#include "support/model_fixture.h"
#include "support/test_support.h"

using namespace testsupport;

namespace {

struct BadInputCase {
    const char* what;
    std::function<void(ModelFiles&)> setUp;   // changes to the model files
    std::vector<std::pair<std::string, std::string>> replace;  // changes to the control text
    int code;
    std::vector<std::string> messages;  // parts of the FATAL text, file and value among them
};

std::string Replaced(std::string text, const std::string& from, const std::string& to) {
    const size_t at = text.find(from);
    EXPECT_NE(at, std::string::npos) << "no \"" << from << "\" in the control text";
    if (at != std::string::npos) text.replace(at, from.size(), to);
    return text;
}

void RunCases(const std::vector<BadInputCase>& cases) {
    for (const BadInputCase& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir dir;
        ModelFiles files;
        if (c.setUp) c.setUp(files);
        const std::string control = files.Write(dir);
        std::string text = files.ControlText();
        for (const auto& [from, to] : c.replace) text = Replaced(text, from, to);
        WriteFile(dir.file(control), text);
        const RunResult run = RunRuvex(dir.path(), {control});
        EXPECT_EQ(run.exitCode, c.code) << run.output;
        // The FATAL entries of the diagnostics file (with the ERROR entries
        // that explain them) carry the messages.
        std::string fatal;
        for (const DiagLine& line : DiagLines(ReadFile(dir.file("Ruvex_Diag.xml")))) {
            if (line.level <= 1) fatal += XmlUnescaped(line.description) + "\n";
        }
        EXPECT_NE(fatal, "");
        for (const std::string& message : c.messages) {
            EXPECT_NE(fatal.find(message), std::string::npos) << "missing: " << message << "\n" << fatal;
        }
        EXPECT_EQ(run.output.find("reached end of simulation"), std::string::npos) << run.output;
    }
}

const std::string GridHeader = "ncols 4\nnrows 3\nxllcorner 1000\nyllcorner 2000\ncellsize 100\nnodata_value -9999\n";

std::string Zone(const std::string& header) { return header + "-9999 1 1 2\n1 1 2 2\n-9999 1 2 -9999\n"; }

std::string Elevation(const std::string& cell) {
    return GridHeader + "-9999 500 520 610\n480 " + cell + " 600 640\n-9999 470 580 -9999\n";
}

std::string WithCarriageReturns(std::string text) {
    for (char& c : text) {
        if (c == '\n') c = '\r';
    }
    return text;
}

}  // namespace

// Grid values that are not finite numbers and zone-grid headers whose
// coordinates or cell areas are not finite and positive: code 22.
TEST(BadInputRun, GridsAndZoneHeaders) {
    const std::string header = "ncols 4\nnrows 3\nxllcorner %X\nyllcorner 2000\ncellsize %C\nnodata_value -9999\n";
    auto zoneHeader = [&](const std::string& x, const std::string& cs) {
        return Replaced(Replaced(header, "%X", x), "%C", cs);
    };
    const std::vector<BadInputCase> cases = {
        {"elevation nan", [](ModelFiles& f) { f.Elevation = Elevation("nan"); }, {}, 22,
         {"dem.asc", "row 2, col 2", "\"nan\" is no finite number"}},
        {"elevation -inf", [](ModelFiles& f) { f.Elevation = Elevation("-inf"); }, {}, 22,
         {"dem.asc", "\"-inf\" is no finite number"}},
        {"elevation Infinity", [](ModelFiles& f) { f.Elevation = Elevation("Infinity"); }, {}, 22,
         {"dem.asc", "\"Infinity\" is no finite number"}},
        {"cell size 1e300", [&](ModelFiles& f) { f.ZoneGrid = Zone(zoneHeader("1000", "1e300")); }, {}, 22,
         {"zones.asc", "cell size 1e+300"}},
        {"denormal cell size", [&](ModelFiles& f) { f.ZoneGrid = Zone(zoneHeader("1000", "4.9e-324")); }, {}, 22,
         {"zones.asc", "the cell size 4.94066e-324 gives no usable cell area"}},
        {"corner 1e308", [&](ModelFiles& f) { f.ZoneGrid = Zone(zoneHeader("1e308", "100")); }, {}, 22,
         {"zones.asc", "the x corner 1e+308"}},
        {"zone grid with carriage-return line ends",
         [](ModelFiles& f) { f.ZoneGrid = WithCarriageReturns(Zone(GridHeader)); }, {}, 22,
         {"zones.asc", "lines ended by a carriage return alone are not read"}},
    };
    RunCases(cases);
}

// Control-file values beyond the range of their type or of what they
// describe: code 17 (12 for a grid count the grid table cannot hold).
TEST(BadInputRun, ControlFileValues) {
    const std::vector<BadInputCase> cases = {
        {"log interval beyond int", nullptr, {{"[output_interval]\n24\n", "[output_interval]\n4294967320\n"}}, 17,
         {"output control", "the value 4294967320 lies outside -2147483648 to 2147483647", "model.ctl"}},
        {"min_to_int_end 1e300", nullptr, {{"\n1\n0\nWriteAsciiGrids", "\n1\n1e300\nWriteAsciiGrids"}}, 17,
         {"min_to_int_end", "the value 1e300 lies outside 0 to 2147483647"}},
        {"latitude 95", nullptr, {{"[coordinates]\n47.5\n", "[coordinates]\n95\n"}}, 17,
         {"geographic latitude", "the value 95 lies outside -90 to 90"}},
        {"latitude nan", nullptr, {{"[coordinates]\n47.5\n", "[coordinates]\nnan\n"}}, 17,
         {"geographic latitude", "the value nan is not a finite number"}},
        {"longitude inf", nullptr, {{"47.5\n8.25\n", "47.5\ninf\n"}}, 17,
         {"geographic longitude", "the value inf is not a finite number"}},
        {"time shift -inf", nullptr, {{"8.25\n15\n1\n", "8.25\n15\n-inf\n"}}, 17,
         {"time shift of data time to lokal time", "the value -inf is not a finite number"}},
        {"variable grid count 2147483647", nullptr, {{"[variable_grids]\n0\n", "[variable_grids]\n2147483647\n"}},
         12, {"2147483647 variable grids do not fit", "no free grid found in memory"}},
        {"standard grid count beyond int", nullptr, {{"[standard_grids]\n1\n", "[standard_grids]\n4294967297\n"}},
         17, {"the value 4294967297 lies outside"}},
        {"interval inf", nullptr, {{"[snow_model]\n0\n1440\n", "[snow_model]\n0\ninf\n"}}, 17,
         {"time interval for [snow_model]", "the value inf is not a finite number"}},
        {"interval 3e9", nullptr, {{"[snow_model]\n0\n1440\n", "[snow_model]\n1\n3e9\n"}}, 17,
         {"time interval for [snow_model]", "the value 3000000000 lies outside 0 to 2147483647"}},
        {"meteorological name given twice",
         [](ModelFiles& f) { f.MeteoInputs = "[meteo_data_count]\n2\n[meteo_names]\ntemperature\ntemperature\n"; },
         {}, 17, {"name of meteorological variable 2", "the value temperature is already the name of variable 1"}},
        {"station nodata bound 1e300",
         [](ModelFiles& f) {
             f.MeteoInputs = "[meteo_data_count]\n1\n[meteo_names]\ntemperature\n";
             meteotest::Section section;
             section.NoData = "1e300";
             f.Extra = section.Text("temperature");
         },
         {}, 17, {"nodata value in [temperature]", "at most 1e+15", "read 1.0000000000000001e+300"}},
    };
    RunCases(cases);
}

// Values of the multilayer and irrigation tables that are no finite
// numbers: the codes of those tables.
TEST(BadInputRun, TableValues) {
    const auto irrigationOn = [](ModelFiles& f) { f.Methods["irrigation"] = 1; };
    const std::vector<BadInputCase> cases = {
        {"k_extinct nan", nullptr,
         {{"[multilayer_landuse]\n0\n",
           "[multilayer_landuse]\n1\n5 mixed { Landuse_Layers = 1, 2; k_extinct = nan; }\n"}},
         110, {"multilayer_landuse_table code 5", "the value \" nan\" of \"k_extinct\" is not a finite number"}},
        {"LAI_scale inf", nullptr,
         {{"[multilayer_landuse]\n0\n",
           "[multilayer_landuse]\n1\n5 mixed { Landuse_Layers = 1, 2; LAI_scale = inf; }\n"}},
         110, {"\"LAI_scale\" is not a finite number"}},
        {"psi_dry nan", irrigationOn, {{"[irrigation_table]\n0\n", "[irrigation_table]\n1\n7 drip 3 1 nan 3.45\n"}},
         29, {"for irrigation code 1: psi_dry or psi_wet could not be read correctly", "the value nan", "model.ctl"}},
        {"ratio inf", irrigationOn, {{"[irrigation_table]\n0\n", "[irrigation_table]\n1\n7 drip 4 1 inf\n"}}, 29,
         {"min(ETR/ETP) could not be read correctly", "the value inf is not a finite number"}},
        {"amount -inf", irrigationOn,
         {{"[irrigation_table]\n0\n", "[irrigation_table]\n1\n7 fixed 1 1 20 3.45 2 5 1 10 6 1 -inf\n"}}, 29,
         {"month[2] or day[2] or amount[2] could not be read", "the value -inf is not a finite number"}},
        {"amount nan in a text schedule", irrigationOn,
         {{"[irrigation_table]\n0\n",
           "[irrigation_table]\n1\n7 plan 2 1 20 3.45 starting from 06 01 with nan mm 3 times every 7 days\n"}},
         29, {"the amount after \"with\" could not be read", "with nan mm"}},
        {"code beyond int", irrigationOn,
         {{"[irrigation_table]\n0\n", "[irrigation_table]\n1\n4294967303 drip 3 1 20 3.45\n"}}, 29,
         {"code, name, method, or origin could not be read correctly", "the value 4294967303 lies outside"}},
    };
    RunCases(cases);
}
