#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <filesystem>

#include "framework/signals.h"
#include "support/model_fixture.h"
#include "support/test_support.h"

using namespace testsupport;

namespace {

bool HasLine(const std::vector<DiagLine>& lines, int level, const std::string& text) {
    for (const auto& l : lines) {
        if (l.level == level && l.description == text) return true;
    }
    return false;
}

}  // namespace

TEST(ProgramEntry, NoArgumentPrintsUsageAndExits2) {
    TempDir dir;
    auto r = RunRuvex(dir.path(), {});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_NE(r.output.find("usage: "), std::string::npos);
    const std::string xml = ReadFile(dir.file("Ruvex_Diag.xml"));
    EXPECT_EQ(XmlProblem(xml), "");
    auto lines = DiagLines(xml);
    bool usage = false;
    for (auto& l : lines) usage |= (l.level == 0 && l.description.find(";usage: ") == 0);
    EXPECT_TRUE(usage) << xml;
    EXPECT_TRUE(HasLine(lines, 0, "Exception 2 caught at top level!"));
    EXPECT_TRUE(HasLine(lines, 0, "Program aborted with exit code 2"));
}

TEST(ProgramEntry, OptionsOnlyRunNothingAndExit0) {
    TempDir dir;
    auto r = RunRuvex(dir.path(), {"-diaglevel:INFO"});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_NE(r.output.find("exitcode 0"), std::string::npos);
    EXPECT_NE(r.output.find("Ruvex-QOR (OpenMP)"), std::string::npos);
    const std::string xml = ReadFile(dir.file("Ruvex_Diag.xml"));
    EXPECT_EQ(XmlProblem(xml), "") << xml;
    auto lines = DiagLines(xml);
    ASSERT_EQ(lines.size(), 2u) << xml;  // start and finish lines, no DEBUG entries
    EXPECT_EQ(lines[0].description.rfind("Ruvex start at ", 0), 0u);
    EXPECT_EQ(lines[1].description.rfind("Ruvex finished at ", 0), 0u);
}

TEST(ProgramEntry, MissingControlFileEndsWithCode28) {
    TempDir dir;
    auto r = RunRuvex(dir.path(), {"no_such.ctl", "-diagfile:run.xml"});
    EXPECT_EQ(r.exitCode, 28);
    const std::string xml = ReadFile(dir.file("run.xml"));
    EXPECT_EQ(XmlProblem(xml), "");
    auto lines = DiagLines(xml);
    EXPECT_TRUE(HasLine(lines, 0, "error opening no_such.ctl"));
    EXPECT_TRUE(HasLine(lines, 0, "Exception 28 caught at top level!"));
    EXPECT_TRUE(HasLine(lines, 0, "Program aborted with exit code 28"));
}

TEST(ProgramEntry, OptionsAreNeverTakenAsControlFiles) {
    TempDir dir;
    ModelFiles().Write(dir);
    std::filesystem::copy_file(dir.file("model.ctl"), dir.file("a.ctl"));
    // Every occurrence of a repeated option is skipped; the last value counts.
    auto r = RunRuvex(dir.path(), {"-diagfile:first.xml", "-dumpmode", "a.ctl", "-closeAfterDump",
                                   "-diaglevel:FATAL", "-diagfile:second.xml", "-diaglevel:warning"});
    EXPECT_EQ(r.exitCode, 0) << r.output;
    EXPECT_FALSE(FileExists(dir.file("first.xml")));
    const std::string xml = ReadFile(dir.file("second.xml"));
    EXPECT_EQ(XmlProblem(xml), "");
    for (const auto& l : DiagLines(xml)) EXPECT_LE(l.level, 3) << l.description;
    // a look-alike of an option is a control file
    r = RunRuvex(dir.path(), {"-dumpmodeX"});
    EXPECT_EQ(r.exitCode, 28);
}

TEST(ProgramEntry, FatalErrorInFirstControlFileStopsTheRest) {
    TempDir dir;
    ModelFiles().Write(dir);
    std::filesystem::copy_file(dir.file("model.ctl"), dir.file("b.ctl"));
    auto r = RunRuvex(dir.path(), {"missing.ctl", "b.ctl"});
    EXPECT_EQ(r.exitCode, 28);
    EXPECT_EQ(r.output.find("reached end of simulation"), std::string::npos);
    r = RunRuvex(dir.path(), {"b.ctl", "b.ctl"});
    EXPECT_EQ(r.exitCode, 0);
}

TEST(Signals, FloatingPointErrorEndsTheProcessWith136) {
    int pipeFds[2];
    ASSERT_EQ(pipe(pipeFds), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        dup2(pipeFds[1], STDOUT_FILENO);
        InstallSignalHandlers();
        raise(SIGFPE);
        _exit(0);  // never reached
    }
    close(pipeFds[1]);
    // Everything the child wrote, up to its end.
    std::string written;
    char buffer[128];
    for (;;) {
        const ssize_t n = read(pipeFds[0], buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        written.append(buffer, static_cast<size_t>(n));
    }
    close(pipeFds[0]);
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 136);
    EXPECT_EQ(written, "floating point error\n");
}

TEST(Signals, CtrlCSetsStateOnceAndOnlyDuringARun) {
    struct sigaction saved;
    sigaction(SIGINT, nullptr, &saved);
    CtrlCState = 0;
    ApplicationRunning = 0;
    ArmCtrlCHandler();
    raise(SIGINT);  // no application: nothing happens
    EXPECT_EQ(CtrlCState, 0);
    ApplicationRunning = 1;
    ArmCtrlCHandler();
    raise(SIGINT);
    EXPECT_EQ(CtrlCState, 1);
    raise(SIGINT);  // disarmed until armed again: ignored
    EXPECT_EQ(CtrlCState, 1);
    {
        CtrlCIgnored quiet;  // writers ignore SIGINT and restore the previous disposition
        CtrlCState = 0;
        ArmCtrlCHandler();
    }
    struct sigaction now;
    sigaction(SIGINT, nullptr, &now);
    EXPECT_EQ(now.sa_handler, SIG_IGN);  // the disposition before the guard was "ignore"
    ApplicationRunning = 0;
    CtrlCState = 0;
    sigaction(SIGINT, &saved, nullptr);
}
