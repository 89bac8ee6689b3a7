// Ctrl-C during a coupled run: the real executable waits for the other
// program's semaphore file, receives SIGINT and reads its answer from
// standard input.

#include <gtest/gtest.h>

#include <csignal>

#include "support/child_process.h"
#include "support/model_fixture.h"
#include "support/test_support.h"

using namespace testsupport;

namespace {

const char* const CoupledSection =
    "[ExternalCoupling]\n1\ngo.sem\n50\nI\n1440\n0\n0\n0\ndone.sem\nready\n";

const char* const Waiting = "waiting for external synchronisation file";
const char* const Question = "choose one of the above options: ";

// Starts ruvex on `control` in `dir`, waits until it waits for the semaphore
// file, presses Ctrl-C and waits for the question. Fails the test when the
// child ends or never gets there.
void StartAndPressCtrlC(ChildProcess& child) {
    ASSERT_TRUE(child.Started());
    ASSERT_TRUE(child.WaitForOutput(Waiting)) << child.Output();
    ASSERT_TRUE(child.Signal(SIGINT)) << "the run ended before Ctrl-C:\n" << child.Output();
    ASSERT_TRUE(child.WaitForOutput(Question)) << child.Output();
}

}  // namespace

TEST(CtrlCDuringCoupling, AnswerTwoCancelsWith98) {
    TempDir dir;
    ModelFiles files;
    files.Extra = CoupledSection;
    ChildProcess child(RUVEX_BINARY, {files.Write(dir)}, dir.path(), dir.file("console.txt"),
                       DefaultRunEnvironment());
    StartAndPressCtrlC(child);
    ASSERT_TRUE(child.Write("2\n")) << child.Output();
    EXPECT_EQ(child.Wait(), 98) << child.Output();
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
    ChildProcess child(RUVEX_BINARY, {files.Write(dir)}, dir.path(), dir.file("console.txt"),
                       DefaultRunEnvironment());
    StartAndPressCtrlC(child);
    ASSERT_TRUE(child.Write("0\n")) << child.Output();
    // The run goes on waiting; the other program delivers its file only now.
    const size_t answered = child.Output().size();
    WriteFile(dir.file("go.sem"), "go\n");
    EXPECT_TRUE(child.WaitForOutput("found it!", answered)) << child.Output();
    EXPECT_EQ(child.Wait(), 0) << child.Output();
    EXPECT_TRUE(FileExists(dir.file("done.sem")));
}
