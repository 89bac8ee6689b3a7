// Values of the routing, surface routing and groundwater inputs that once
// crashed the model, stalled its start or ran on into nan: a copy of the
// example basin with one value changed ends at set-up or in its first step
// with the input's code, a message naming the file and the value, and no
// crash.

#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "support/test_support.h"

using namespace testsupport;
namespace fs = std::filesystem;

namespace {

const std::string BasinDir = std::string(RUVEX_TEST_DATA) + "/../../examples/basin";

struct Edit {
    std::string file;  // "basin.ctl" or a file under the basin directory
    std::string from, to;
};

// A copy of the example basin for one day with the edits applied; every
// edit must match.
void PrepareBasin(const TempDir& dir, const std::vector<Edit>& edits) {
    fs::copy(BasinDir + "/input", dir.file("input"), fs::copy_options::recursive);
    fs::create_directories(dir.file("output"));
    const std::string control = ReadFile(BasinDir + "/basin.ctl");
    const std::regex endOfRun(R"(\[model_time\]\n(.*\n){4}24 .*\n31 .*\n12 .*\n2020 .*\n)");
    const std::string shortened =
        std::regex_replace(control, endOfRun, "[model_time]\n1\n1\n1\n2019\n24\n1\n1\n2019\n");
    ASSERT_NE(shortened, control) << "the model time of the example basin has moved";
    WriteFile(dir.file("basin.ctl"), shortened);
    for (const Edit& e : edits) {
        const std::string text = ReadFile(dir.file(e.file));
        const size_t at = text.find(e.from);
        ASSERT_NE(at, std::string::npos) << e.file << ": " << e.from;
        WriteFile(dir.file(e.file), text.substr(0, at) + e.to + text.substr(at + e.from.size()));
    }
}

}  // namespace

TEST(RoutingInputRefusal, EachBadValueEndsWithItsCode) {
    const std::string gauge = "1                          # gauge descriptors\n";
    const std::string channel = "I = 0.004 L = 3500 A = 5.49";
    struct Case {
        const char* what;
        std::vector<Edit> edits;
        int code;
        std::string message;
    } cases[] = {
        // Once a crash: the second pass skipped a fixed number of lines.
        {"gauge descriptor count twice", {{"basin.ctl", gauge, gauge + gauge}}, 17,
         "error reading a column number for column indexing in routing model ("},
        // Once an initial routing without end.
        {"channel area 0", {{"basin.ctl", channel, "I = 0.004 L = 3500 A = 0"}}, 17,
         "error in routing description 2 (TG 3), element 1: the catchment area of the channel 0 lies outside (0, "
         "1e+07] (description on line "},
        {"channel area -0", {{"basin.ctl", channel, "I = 0.004 L = 3500 A = -0"}}, 17,
         "the catchment area of the channel -0 lies outside"},
        {"channel area 1e-9", {{"basin.ctl", channel, "I = 0.004 L = 3500 A = 1e-9"}}, 17,
         "routing description 2 (TG 3), element 1: the travel time through the channel at the lowest specific "
         "discharge, 74452.2 h, is longer than 10000 routing steps"},
        {"channel area 1e-14", {{"basin.ctl", channel, "I = 0.004 L = 3500 A = 1e-14"}}, 17,
         "the travel time through the channel at the lowest specific discharge, 7.44533e+06 h"},
        {"channel length -1", {{"basin.ctl", channel, "I = 0.004 L = -1 A = 5.49"}}, 17,
         "the channel length -1 lies outside (0, 1e+07]"},
        {"channel value nan", {{"basin.ctl", channel, "I = nan L = 3500 A = 5.49"}}, 17,
         "for the slope ("},
        {"sub-intervals 222222222", {{"basin.ctl", "1 1500 50 2 ", "1 1500 50 222222222 "}}, 17,
         "the number of time sub-intervals per routing step 222222222 in line 3 of [routing_model]"},
        // Reservoir start values and its rule table.
        {"reservoir V0 1e300", {{"basin.ctl", "V0 = 100000", "V0 = 1e300"}}, 35,
         "for reservoir 1: the initial volume V0 = 1e+300 lies outside 0 to 1e+13 m3"},
        {"reservoir rows beyond any integer", {{"basin.ctl", "4 90 273 ", "99999999999999999999 90 273 "}}, 34,
         "section [abstraction_rule_reservoir_1] in control file: the number of rows is too large"},
        // The inflow series, read in the first step.
        {"inflow 1e300", {{"input/inflow_1.txt", "2019 1 1 5 0.0400", "2019 1 1 5 1e300"}}, 39,
         "the discharge [m3/s] 1.0000000000000001e+300 of inflow 1 in input/inflow_1.txt, column 5, row of "
         "2019.1.1, 5. h, lies outside 0 to 1e+06"},
        {"inflow -1", {{"input/inflow_1.txt", "2019 1 1 5 0.0400", "2019 1 1 5 -1"}}, 39,
         "the discharge [m3/s] -1 of inflow 1 in input/inflow_1.txt"},
        {"inflow concentration 1e300", {{"input/inflow_1.txt", "2019 1 1 5 0.0400 3.000", "2019 1 1 5 0.0400 1e300"}},
         39, "the concentration of tracer 1 1.0000000000000001e+300 of inflow 1 in input/inflow_1.txt, column 6"},
        // Surface routing and groundwater controls.
        {"longest surface sub-step 0.01 s", {{"basin.ctl", "1200                       # longest sub time step",
                                              "0.01                       # longest sub time step"}},
         17, "maximum sub time step [s] in ; SurfaceRoutingModel: the value 0.01 lies outside 1 to 1000000"},
        {"surface wake tolerance line left out",
         {{"basin.ctl", "0.0001                     # iteration error of the wake length [m]\n", ""}}, 17,
         "maximum iteration steps for A_NL in ; SurfaceRoutingModel: the value 0.000001 is not a whole number"},
        {"groundwater relaxation 1e300", {{"basin.ctl", "0                          # relaxation: 0 = adaptive",
                                           "1e300                      # relaxation"}},
         17, "sor-parameter in ; groundwater_flow: the value 1.0000000000000001e+300 lies outside 0 to"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir dir;
        PrepareBasin(dir, c.edits);
        const auto run = RunRuvex(dir.path(), {"basin.ctl"});
        EXPECT_EQ(run.exitCode, c.code & 0xff) << run.output;
        // The diagnostics file keeps quotes as entities: the messages above
        // are matched without them.
        bool named = false, aborted = false;
        for (const DiagLine& line : DiagLines(ReadFile(dir.file("Ruvex_Diag.xml")))) {
            if (line.description.find(c.message) != std::string::npos) named = true;
            if (line.description == "Program aborted with exit code " + std::to_string(c.code)) aborted = true;
        }
        EXPECT_TRUE(named) << run.output;
        EXPECT_TRUE(aborted) << run.output;
    }
}
