// Ctrl-C during a coupled run: the real executable waits for the other
// program's semaphore file, receives SIGINT and reads its answer from
// standard input.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <thread>

#include "support/model_fixture.h"
#include "support/test_support.h"

using namespace testsupport;

namespace {

struct ChildRun {
    int exitCode = -1;
    std::string output;
};

// Starts ruvex in `dir`, sends SIGINT once the output shows `trigger`, then
// writes `answer` to its standard input and waits for its end.
ChildRun RunWithCtrlC(const TempDir& dir, const std::string& control, const std::string& trigger,
                      const std::string& answer) {
    int input[2];
    EXPECT_EQ(pipe(input), 0);
    const std::string log = dir.file("console.txt");
    const pid_t child = fork();
    if (child == 0) {
        if (chdir(dir.path().c_str()) != 0) _exit(127);
        dup2(input[0], STDIN_FILENO);
        close(input[1]);
        const int out = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(out, STDOUT_FILENO);
        dup2(out, STDERR_FILENO);
        execl(RUVEX_BINARY, RUVEX_BINARY, control.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    close(input[0]);
    ChildRun run;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (ReadFile(log).find(trigger) == std::string::npos && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    kill(child, SIGINT);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_EQ(write(input[1], answer.data(), answer.size()), static_cast<ssize_t>(answer.size()));
    int status = 0;
    for (int k = 0; k < 3000 && waitpid(child, &status, WNOHANG) == 0; ++k) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    if (waitpid(child, &status, WNOHANG) == 0) {
        kill(child, SIGKILL);
        waitpid(child, &status, 0);
    }
    close(input[1]);
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    run.output = ReadFile(log);
    return run;
}

const char* const CoupledSection =
    "[ExternalCoupling]\n1\ngo.sem\n50\nI\n1440\n0\n0\n0\ndone.sem\nready\n";

}  // namespace

TEST(CtrlCDuringCoupling, AnswerTwoCancelsWith98) {
    TempDir dir;
    ModelFiles files;
    files.Extra = CoupledSection;
    const auto run = RunWithCtrlC(dir, files.Write(dir), "waiting for external synchronisation file", "2\n");
    EXPECT_EQ(run.exitCode, 98) << run.output;
    const std::string xml = ReadFile(dir.file("Ruvex_Diag.xml"));
    EXPECT_EQ(XmlProblem(xml), "");
    bool caught = false;
    for (const auto& line : DiagLines(xml)) {
        caught |= line.level == 0 && line.description == "Exception in Modellapplication::WaitForFile() caught!";
    }
    EXPECT_TRUE(caught) << xml;
}

TEST(CtrlCDuringCoupling, AnswerZeroContinues) {
    TempDir dir;
    ModelFiles files;
    files.Extra = CoupledSection;
    const std::string control = files.Write(dir);
    std::thread partner([&] {
        // The other program delivers its semaphore file a little later.
        std::this_thread::sleep_for(std::chrono::milliseconds(800));
        WriteFile(dir.file("go.sem"), "go\n");
    });
    const auto run = RunWithCtrlC(dir, control, "waiting for external synchronisation file", "0\n");
    partner.join();
    EXPECT_EQ(run.exitCode, 0) << run.output;
    EXPECT_TRUE(FileExists(dir.file("done.sem")));
}
