// The example stopped from outside after its first day: SIGTERM and SIGHUP
// end the run as a fatal error does (every finished day in the statistics,
// complete diagnostics, no end state), and Ctrl-C in a run without a
// terminal (no console input) stops it cleanly with everything written.

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <string>

#include "support/child_process.h"
#include "support/test_support.h"

using namespace testsupport;

namespace {

const std::string BasinDir = std::string(RUVEX_TEST_DATA) + "/../../examples/basin";
// Logged at the last step of the first day.
const char* const FirstDayLogged = "temperature 1.1.2019 24. h";

// The example over ten days in `dir`; returns the control file's name.
std::string CopyExample(const TempDir& dir) {
    std::filesystem::copy(BasinDir + "/input", dir.file("input"), std::filesystem::copy_options::recursive);
    std::filesystem::create_directories(dir.file("output"));
    std::string control = ReadFile(BasinDir + "/basin.ctl");
    ReplaceOnce(control, "24                         # end hour\n31                         # end day\n"
                         "12                         # end month\n2020",
                "24\n10\n1\n2019");
    WriteFile(dir.file("basin.ctl"), control);
    return "basin.ctl";
}

}  // namespace

TEST(StopFromOutside, FinishedDaysAreKept) {
    IgnoreSigpipe();
    struct Case {
        int signal;
        int code;
        bool endState;  // the state of the last finished step is written
    };
    for (const Case c : {Case{SIGTERM, 143, false}, Case{SIGHUP, 129, false}, Case{SIGINT, 99, true}}) {
        SCOPED_TRACE("signal " + std::to_string(c.signal));
        TempDir dir;
        ChildProcess child(RUVEX_BINARY, {CopyExample(dir)}, dir.path(), dir.file("console.txt"),
                           DefaultRunEnvironment("OMP_NUM_THREADS=2"));
        ASSERT_TRUE(child.Started());
        child.CloseInput();  // no terminal: the console has no input
        ASSERT_TRUE(child.WaitForOutput(FirstDayLogged)) << child.Output();
        ASSERT_TRUE(child.Signal(c.signal)) << "the run ended before the signal:\n" << child.Output();
        ASSERT_EQ(child.Wait(), c.code) << child.Output();

        const std::string xml = ReadFile(dir.file("Ruvex_Diag.xml"));
        EXPECT_EQ(XmlProblem(xml), "");
        // Every finished day and no more: the first one at least, not all ten.
        const auto rows = StatisticsValueRows(dir.file("output/etp.sta"));
        ASSERT_GE(rows.size(), 1u) << ReadFile(dir.file("output/etp.sta"));
        EXPECT_LT(rows.size(), 10u);
        EXPECT_EQ(rows[0][0], 2019);
        EXPECT_EQ(rows[0][2], 1);
        // The hourly discharge up to the last hour of the first day.
        EXPECT_NE(ReadFile(dir.file("output/Qrouted.sta")).find("\n2019\t 1\t 1\t24\t"), std::string::npos);
        EXPECT_EQ(FileExists(dir.file("output/storage_content.txt_0")), c.endState);
        EXPECT_EQ(FileExists(dir.file("output/surfrout_state.txt_0")), c.endState);
        for (const auto& entry : std::filesystem::directory_iterator(dir.file("output")))
            EXPECT_EQ(entry.path().string().find(".$tmp"), std::string::npos) << entry.path();
        if (c.signal == SIGINT) {
            EXPECT_NE(child.Output().find("no answer from the console (end of input): taking 1"), std::string::npos);
        } else {
            EXPECT_NE(xml.find(c.signal == SIGTERM ? "told to end by SIGTERM" : "told to end by SIGHUP"),
                      std::string::npos);
            EXPECT_NE(xml.find("Program aborted with exit code " + std::to_string(c.code)), std::string::npos);
        }
    }
}
