// Whole runs of the example basin with one value of a sub-model section or
// table changed to something that is no value of it: a word that only begins
// like a number, a number that is not finite or lies outside what the value
// can be. Each run ends during the set-up with the code of that input and a
// FATAL entry naming the file (and line), the key and the value.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/test_support.h"

using namespace testsupport;
namespace fs = std::filesystem;

namespace {

const std::string BasinDir = std::string(RUVEX_TEST_DATA) + "/../../examples/basin";

struct ValueCase {
    const char* what;
    std::string from;  // text of basin.ctl
    std::string to;    // what it becomes
    int code;
    std::vector<std::string> messages;  // parts of the FATAL entries
};

// Runs a copy of the example basin once per case, the case's text replaced.
void RunCases(const std::vector<ValueCase>& cases) {
    TempDir dir;
    fs::copy(BasinDir + "/input", dir.file("input"), fs::copy_options::recursive);
    fs::create_directories(dir.file("output"));
    const std::string control = ReadFile(BasinDir + "/basin.ctl");
    for (const ValueCase& c : cases) {
        SCOPED_TRACE(c.what);
        const size_t at = control.find(c.from);
        ASSERT_NE(at, std::string::npos) << "no \"" << c.from << "\" in the example's control file";
        std::string text = control;
        text.replace(at, c.from.size(), c.to);
        WriteFile(dir.file("basin.ctl"), text);
        const RunResult run = RunRuvex(dir.path(), {"basin.ctl"});
        EXPECT_EQ(run.exitCode, c.code & 0xff) << run.output;
        std::string fatal;
        for (const DiagLine& line : DiagLines(ReadFile(dir.file("Ruvex_Diag.xml")))) {
            if (line.level <= 1) fatal += XmlUnescaped(line.description) + "\n";
        }
        EXPECT_NE(fatal.find("Program aborted with exit code " + std::to_string(c.code)), std::string::npos)
            << fatal;
        for (const std::string& message : c.messages) {
            EXPECT_NE(fatal.find(message), std::string::npos) << "missing: " << message << "\n" << fatal;
        }
        EXPECT_EQ(run.output.find("reached end of simulation"), std::string::npos);
    }
}

}  // namespace

// The soil model's subbasin lines: code 10.
TEST(InputValuesRun, SoilSubbasinLines) {
    const std::string density = "1 1                        # channel network density";
    RunCases({
        {"channel network density nan", density, "nan 1", 10,
         {"error reading channel network density: the value nan is not a finite number", "basin.ctl", "line "}},
        {"channel network density -9999", density, "1 -9999", 10,
         {"channel network density: the value -9999 lies outside 0 to 1000000"}},
        {"kelsqd 3a-5", "1 2                        # kelsqd", "1 3a-5", 10,
         {"error reading kelsqd: the value 3a-5 is not a number"}},
        {"snow runoff fraction 367", "0 0                        # SnowRunoff_fraction", "0 367", 10,
         {"SnowRunoff_fraction: the value 367 lies outside 0 to 1"}},
    });
}

// "[heat_transfer]", the snow and glacier sections, the coordinates, the
// model time and the variable grids: control-file values, code 17.
TEST(InputValuesRun, SectionValues) {
    RunCases({
        {"lapse rate 2.1e9", "-0.007                     # dTModLapseRate", "2.1e9", 17,
         {"dTModLapseRate", "the value 2.1e9 lies outside -0.1 to 0.1", "basin.ctl", "line "}},
        {"negative conductivity", "0.58                       # dTModLamDrySoil", "-0.58", 17,
         {"dTModLamDrySoil", "the value -0.58 lies outside"}},
        {"negative heat capacity", "800                        # dTModCDrySoil", "-800", 17,
         {"dTModCDrySoil", "the value -800 lies outside"}},
        {"snow T0 -1e300", "0                          # T0: threshold", "-1e300", 17,
         {"T0 for ; snow_model: the value -1e300 lies outside -100 to 100"}},
        {"snow time step 6o", "[snow_model]\n1                          # on\n60", "[snow_model]\n1\n6o", 17,
         {"time interval for [snow_model]", "the value 6o is not a number"}},
        {"glacier initial ice storage 1e300", "0                          # initial Qice_els", "1e300", 17,
         {"initial Qice_els", "the value 1e300 lies outside 0 to 1000000"}},
        {"glacier initial firn storage -1e300", "0                          # initial Qfirn_els", "-1e300", 17,
         {"initial Qfirn_els", "the value -1e300 lies outside"}},
        {"longitude 1e300", "8.25                       # longitude", "1e300", 17,
         {"geographic longitude: the value 1e300 lies outside -180 to 360"}},
        {"reference meridian 1e300", "15                         # reference meridian", "1e300", 17,
         {"reference meridian: the value 1e300 lies outside"}},
        {"time shift 1e300", "0                          # time shift", "1e300", 17,
         {"time shift of data time to lokal time: the value 1e300 lies outside -24 to 24"}},
        {"end before the start", "2020                       # end year", "2018", 17,
         {"end of the run in [model_time]", "31.12.2018 24:00 lies before its start 01.01.2019 1:00"}},
        {"leakage coefficient 1e<bytes>-7", "gw_kolmation_1 0 1e-7", "gw_kolmation_1 0 1e\x80\x81-7", 17,
         {"default value of variable grid", "gw_kolmation_1", "is not a finite number", "line "}},
        {"conductivity default 1e300", "gw_k_x_1 0 1e-6", "gw_k_x_1 0 1e300", 17,
         {"(gw_k_x_1)", "the value 1e300 lies outside 0 to 1"}},
        {"albedo default -1e308", "albedo.asc albedo 0 0.2", "albedo.asc albedo 0 -1e308", 17,
         {"(albedo)", "the value -1e308 lies outside 0 to 1"}},
    });
}

// The soil table (code 29) and the tracer table (code 56).
TEST(InputValuesRun, TableValues) {
    RunCases({
        {"ksat 3a-5", "ksat = 5e-6 2e-6 8e-7;", "ksat = 3a-5 2e-6 8e-7;", 29,
         {"Soil table code", "the value of \"ksat\" could not be read"}},
        {"ksat 0", "ksat = 5e-6 2e-6 8e-7;", "ksat = 0 2e-6 8e-7;", 29,
         {"layer 1: ksat (here 0) must lie above 0"}},
        {"theta_res -2147483649", "theta_res = 0.05 0.05 0.04;", "theta_res = -2147483649 0.05 0.04;", 29,
         {"theta_res (here -2.14748e+09) must lie within 0 to 1"}},
        {"soilini above max_conc", "soilini = 2 gwini", "soilini = 2.2e23 gwini", 56,
         {"error in soilini for tracer 1", "basin.ctl", "line ", "the value 2.2e23 lies above max_conc (100 mg/l)"}},
        {"max_conc Infinity", "max_conc = 100 mg/l soilini = 2", "max_conc = Infinity soilini = 2", 56,
         {"error in max_conc for tracer 1", "the value Infinity is not a finite number"}},
        {"gwini 4x", "gwini = 4 statcode", "gwini = 4x statcode", 56,
         {"error in gwini for tracer 1", "the value 4x is not a number"}},
        {"irrigation suction 2.5x", "meadow_pump 3 1 4 2.5 ", "meadow_pump 3 1 4 2.5x ", 29,
         {"the value 2.5x is not a number"}},
    });
}

// A level option that names no level is refused before any run.
TEST(InputValuesRun, UnknownDiagnosticsLevel) {
    TempDir dir;
    for (const char* option : {"-diaglevel:trace", "-diaglevel:warn"}) {
        SCOPED_TRACE(option);
        const RunResult run = RunRuvex(dir.path(), {"none.ctl", option});
        EXPECT_EQ(run.exitCode, 2) << run.output;
        EXPECT_NE(run.output.find(std::string("unknown diagnostics level in ") + option), std::string::npos)
            << run.output;
    }
}
