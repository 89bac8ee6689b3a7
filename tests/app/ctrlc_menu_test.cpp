// The Ctrl-C menu, the wait for a semaphore file and the semaphore writer,
// driven through string streams in place of the console.

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "app/modapuzr_menu.h"
#include "framework/diagnostics_writer.h"
#include "framework/signals.h"
#include "support/test_support.h"

namespace {

using testsupport::DiagLines;
using testsupport::FileExists;
using testsupport::ReadFile;
using testsupport::TempDir;
using testsupport::WriteFile;

// The SIGINT action currently installed.
void (*InstalledSigint())(int) {
    struct sigaction current {};
    sigaction(SIGINT, nullptr, &current);
    return current.sa_handler;
}

// Records what the menu asks of the application.
struct Recorder {
    int Stops = 0;
    int Flushes = 0;
    std::vector<std::vector<int64_t>> EndDates;  // year, month, day, hour
    bool HasInput = true;
    StepDate Current{5, 4, 3, 2001};
};

class CtrlCMenuTest : public ::testing::Test {
protected:
    CtrlCMenuTest() : Writer(std::make_unique<DiagnosticsWriter>(Dir.file("diag.xml"), DiagDebug, Console)) {}

    void SetUp() override {
        sigaction(SIGINT, nullptr, &SavedSigint);
        CtrlCState = 0;
    }
    void TearDown() override {
        CtrlCState = 0;
        sigaction(SIGINT, &SavedSigint, nullptr);
    }

    RunHooks Hooks(std::istream& console) {
        RunHooks hooks;
        hooks.Writer = Writer.get();
        hooks.Console = &console;
        hooks.StopInputsAtActualDate = [this] { ++Record.Stops; };
        hooks.ActualDate = [this](StepDate& date) {
            if (!Record.HasInput) return false;
            date = Record.Current;
            return true;
        };
        hooks.SetEndDate = [this](int64_t year, int64_t month, int64_t day, int64_t hour) {
            Record.EndDates.push_back({year, month, day, hour});
        };
        hooks.FlushOutputs = [this] { ++Record.Flushes; };
        return hooks;
    }

    // The code a call throws, 0 when it returns.
    template <typename F> static int ThrownCode(F&& call) {
        try {
            call();
        } catch (int code) {
            return code;
        }
        return 0;
    }

    int CountEntries(int level, const std::string& text) {
        Writer->Close();
        int count = 0;
        for (const auto& line : DiagLines(ReadFile(Dir.file("diag.xml")))) {
            count += line.level == level && line.description.find(text) != std::string::npos;
        }
        return count;
    }

    TempDir Dir;
    std::ostringstream Console;
    std::unique_ptr<DiagnosticsWriter> Writer;
    Recorder Record;
    struct sigaction SavedSigint {};
};

TEST_F(CtrlCMenuTest, EachAnswerHasItsEffectAndResult) {
    struct Case {
        const char* input;
        int result;
        int state;
        int stops, endDates, flushes;
        int nextAnswer;  // what the console answers afterwards
    };
    const Case cases[] = {
        {"0\n", 0, 0, 0, 0, 0, MenuAnswerEndOfInput},
        {"1\n", CtrlCCancelAtEndOfStep, CtrlCCancelAtEndOfStep, 1, 1, 0, MenuAnswerEndOfInput},
        {"3\n", 0, 0, 0, 0, 1, MenuAnswerEndOfInput},
        {"7\n", 0, 0, 0, 0, 0, MenuAnswerEndOfInput},  // 4 to 9: nothing happens
        {"x\n", 0, 0, 0, 0, 0, MenuAnswerEndOfInput},  // not a digit
        // No console input (a batch job): the clean stop of the answer 1.
        {"", CtrlCCancelAtEndOfStep, CtrlCCancelAtEndOfStep, 1, 1, 0, MenuAnswerEndOfInput},
        {"12\n", CtrlCCancelAtEndOfStep, CtrlCCancelAtEndOfStep, 1, 1, 0, 2},  // one character only
        {" \n  2\n", CtrlCCancelNow, 2, 0, 0, 0, MenuAnswerEndOfInput},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string("answer \"") + c.input + "\"");
        Record = Recorder{};
        Console.str("");
        ResetCtrlCHandler();
        std::istringstream console(c.input);
        const RunHooks hooks = Hooks(console);

        EXPECT_EQ(CtrlCMenu(hooks), c.result);
        EXPECT_EQ(CtrlCState, c.state);
        EXPECT_EQ(Record.Stops, c.stops);
        EXPECT_EQ(Record.EndDates.size(), static_cast<size_t>(c.endDates));
        if (c.endDates > 0) {
            EXPECT_EQ(Record.EndDates[0], (std::vector<int64_t>{2001, 3, 4, 5}));
        }
        EXPECT_EQ(Record.Flushes, c.flushes);
        EXPECT_EQ(ReadMenuAnswer(console), c.nextAnswer);
        EXPECT_NE(Console.str().find("Ctrl-C: cancel the model? \n0 = no (continue)\n1 = cancel with next interval"),
                  std::string::npos);
        // The handler is armed again after every answer but "cancel now".
        if (c.result == CtrlCCancelNow) {
            EXPECT_EQ(InstalledSigint(), SIG_DFL);
        } else {
            EXPECT_EQ(InstalledSigint(), &OnCtrlC);
        }
    }
    // The prompt is for the console only.
    EXPECT_EQ(CountEntries(DiagDebug, "cancel the model"), 0);
}

TEST_F(CtrlCMenuTest, CancelWithNextIntervalWithoutInputsSetsNoEndDate) {
    Record.HasInput = false;
    std::istringstream console("1\n");
    EXPECT_EQ(CtrlCMenu(Hooks(console)), CtrlCCancelAtEndOfStep);
    EXPECT_EQ(Record.Stops, 1);
    EXPECT_TRUE(Record.EndDates.empty());
}

TEST_F(CtrlCMenuTest, TheStepCheckShowsTheMenuOnlyAfterCtrlC) {
    std::istringstream console("3\n3\n");
    const RunHooks hooks = Hooks(console);

    CheckCtrlC(hooks);  // nothing pending
    EXPECT_EQ(Console.str(), "");

    CtrlCState = CtrlCCancelAtEndOfStep;  // left from a menu of an earlier step
    CheckCtrlC(hooks);
    EXPECT_EQ(CtrlCState, 0);
    EXPECT_EQ(Console.str(), "");

    CtrlCState = 1;
    CheckCtrlC(hooks);
    EXPECT_EQ(Record.Flushes, 1);
    EXPECT_EQ(CtrlCState, 0);
    EXPECT_NE(Console.str().find("choose one of the above options"), std::string::npos);
}

// "Cancel now" ends the process with 98, with the warning as the last entry
// before the closing line of the diagnostics file and nothing flushed. The death test runs in
// a fresh process, which finds the directory of the parent in the environment.
TEST(CtrlCMenuDeathTest, CancelNowEndsTheProcessWith98) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const char* const variable = "RUVEX_CANCEL_NOW_TEST_DIR";
    std::unique_ptr<TempDir> dir;
    std::string path;
    if (const char* inherited = std::getenv(variable)) {
        path = inherited;
    } else {
        dir = std::make_unique<TempDir>();
        path = dir->path();
        setenv(variable, path.c_str(), 1);
    }
    const std::string diagnostics = path + "/diag.xml";
    const std::string flushMark = path + "/flushed";

    EXPECT_EXIT(
        {
            std::ostringstream console;
            static DiagnosticsWriter* writer = new DiagnosticsWriter(diagnostics, DiagDebug, console);
            *writer << "INFO: running" << "[end-entry]";
            std::istringstream answers("2\n");
            RunHooks hooks;
            hooks.Writer = writer;
            hooks.Console = &answers;
            hooks.FlushOutputs = [&] { WriteFile(flushMark, "x"); };
            CtrlCState = 1;
            CheckCtrlC(hooks);
        },
        ::testing::ExitedWithCode(CtrlCCancelNow), "");
    unsetenv(variable);

    const std::string xml = ReadFile(diagnostics);
    EXPECT_EQ(testsupport::XmlProblem(xml), "");
    const auto lines = DiagLines(xml);
    ASSERT_GE(lines.size(), 2u);
    const auto& warning = lines[lines.size() - 2];
    EXPECT_EQ(warning.level, DiagWarning);
    EXPECT_EQ(warning.description, "program manually killed by pressing Ctrl-C and selecting 2!");
    EXPECT_EQ(lines.back().description.rfind("Ruvex finished at ", 0), 0u);  // the file was finished
    for (const auto& line : lines) EXPECT_NE(line.level, DiagFatal);
    EXPECT_FALSE(FileExists(flushMark));
}

TEST_F(CtrlCMenuTest, WaitForFileReturnsOnceTheFileExists) {
    const std::string name = Dir.file("go.sem");
    std::istringstream console("");
    RunHooks hooks = Hooks(console);
    std::vector<long> pauses;
    hooks.WaitTicks = [&](long ticks) {
        pauses.push_back(ticks);
        if (pauses.size() == 3) WriteFile(name, "");
    };

    WaitForFile(hooks, name, 250);
    EXPECT_EQ(pauses, (std::vector<long>{250, 250, 250}));
    EXPECT_NE(Console.str().find("waiting for external synchronisation file " + name + "..."), std::string::npos);
    EXPECT_NE(Console.str().find("found it! "), std::string::npos);

    pauses.clear();
    WaitForFile(hooks, name, 250);  // already there: no pause at all
    EXPECT_TRUE(pauses.empty());
    EXPECT_TRUE(FileExists(name));  // the wait never removes it
}

TEST_F(CtrlCMenuTest, CtrlCDuringTheWaitAsksWhetherToCancel) {
    struct Case {
        const char* input;
        int thrown;     // 98 for the answer 2
        int stateLeft;  // the Ctrl-C state when the file was found
        int questions;
        int fileAtPause;  // the file appears during this pause
    };
    const Case cases[] = {
        {"0\n", 0, 0, 1, 3},
        {"5\n", 0, 0, 1, 3},
        {"1\n0\n", 0, 0, 2, 3},  // 1 stays, so the question comes again while the file is missing
        {"1\n", 0, 1, 1, 2},     // a 1 left standing opens the main menu at the next step
        {"3\n", 0, 3, 1, 2},
        {"2\n", CtrlCCancelNow, 2, 1, 3},
        {"12\n", CtrlCCancelNow, 2, 2, 3},  // one character: the 2 answers the second question
        {"", 0, 1, 1, 3},  // no console input: asked once, the clean stop left for the next step
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string("answer \"") + c.input + "\"");
        const std::string name = Dir.file(std::string("wait_") + std::to_string(&c - cases) + ".sem");
        Console.str("");
        std::istringstream console(c.input);
        RunHooks hooks = Hooks(console);
        int pauses = 0;
        hooks.WaitTicks = [&](long) {
            ++pauses;
            if (pauses == 1) CtrlCState = 1;  // Ctrl-C pressed during the first pause
            if (pauses == c.fileAtPause) WriteFile(name, "");
        };
        CtrlCState = 0;
        const int thrown = ThrownCode([&] { WaitForFile(hooks, name, 1); });
        EXPECT_EQ(thrown, c.thrown);
        if (thrown == 0) {
            EXPECT_EQ(CtrlCState, c.stateLeft);
        }
        int questions = 0;
        for (size_t at = Console.str().find("Ctrl-C pressed while waiting for " + name + "\nCancel the model?");
             at != std::string::npos; at = Console.str().find("Ctrl-C pressed while waiting for", at + 1)) {
            ++questions;
        }
        EXPECT_EQ(questions, c.questions);
    }
    EXPECT_EQ(CountEntries(DiagFatal, "Exception in Modellapplication::WaitForFile() caught!"), 2);
}

TEST_F(CtrlCMenuTest, ThePauseEndsEarlyWhenCtrlCIsPending) {
    const auto start = std::chrono::steady_clock::now();
    WaitTicks(0);
    WaitTicks(-5);
    WaitTicks(CLOCKS_PER_SEC / 1000);  // a millisecond
    CtrlCState = 1;
    WaitTicks(600L * CLOCKS_PER_SEC);  // ten minutes, unless interrupted
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30));
}

TEST_F(CtrlCMenuTest, SemaphoreFileHoldsTheTextAndNothingElse) {
    const std::string target = Dir.file("out.sem");
    WriteFile(target, "old content that is longer");
    WriteSemaphoreFile(target, "ready", Writer.get());
    EXPECT_EQ(ReadFile(target), "ready");
    EXPECT_FALSE(FileExists(Dir.file(TemporarySemaphoreName)));

    ASSERT_EQ(mkdir(Dir.file("sub").c_str(), 0755), 0);
    WriteSemaphoreFile(Dir.file("sub/empty.sem"), "", Writer.get());
    EXPECT_EQ(ReadFile(Dir.file("sub/empty.sem")), "");
    EXPECT_FALSE(FileExists(Dir.file(std::string("sub/") + TemporarySemaphoreName)));
}

TEST_F(CtrlCMenuTest, AFailingSemaphoreWriteIsFatal) {
    // The temporary file is made next to the target: a directory of its name
    // there blocks it.
    ASSERT_EQ(mkdir(Dir.file("blocked").c_str(), 0755), 0);
    ASSERT_EQ(mkdir(Dir.file(std::string("blocked/") + TemporarySemaphoreName).c_str(), 0755), 0);
    // A non-empty directory cannot be replaced by the rename.
    ASSERT_EQ(mkdir(Dir.file("target_is_dir").c_str(), 0755), 0);
    WriteFile(Dir.file("target_is_dir/x"), "x");

    struct Case {
        std::string target;
        int code;
        std::string message;
    };
    const Case cases[] = {
        {Dir.file("blocked/out.sem"), 26,
         "error creating semaphore file " + Dir.file(std::string("blocked/") + TemporarySemaphoreName)},
        {Dir.file("missing/out.sem"), 26, "error creating semaphore file " + Dir.file("missing/")},
        {Dir.file("target_is_dir"), 1002, "error renaming semaphore file " + Dir.file(TemporarySemaphoreName)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.target);
        EXPECT_EQ(ThrownCode([&] { WriteSemaphoreFile(c.target, "ready", Writer.get()); }), c.code);
    }
    EXPECT_FALSE(FileExists(Dir.file(TemporarySemaphoreName)));  // removed after the failed rename
    for (const Case& c : cases) EXPECT_EQ(CountEntries(DiagFatal, c.message), 1) << c.message;
}

TEST(CouplingIntervalTest, ANewIntervalBeginsWhenTheRhythmsUnitChanges) {
    CouplingProgress last;
    last.LastCouplingHour = 23;
    last.LastCouplingDay = 31;
    last.LastCouplingMonth = 1;
    last.LastCouplingYear = 2001;
    struct Case {
        char rhythm;
        StepDate date;  // hour, day, month, year
        bool changes;
    };
    const Case cases[] = {
        {'I', {23, 31, 1, 2001}, true},  {'H', {23, 31, 1, 2001}, false}, {'H', {0, 1, 2, 2001}, true},
        {'H', {23, 1, 2, 2001}, true},  // daily steps: same hour, another day
        {'D', {5, 31, 1, 2001}, false},  {'D', {0, 1, 2, 2001}, true},
        {'D', {23, 31, 1, 2002}, true},  // same day and month, another year
        {'M', {0, 1, 1, 2001}, false},   {'M', {0, 1, 2, 2001}, true},   {'M', {0, 1, 1, 2002}, true},
        {'Y', {0, 1, 12, 2001}, false},  {'Y', {0, 1, 1, 2002}, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(1, c.rhythm) + " " + std::to_string(c.date.Year) + "-" +
                     std::to_string(c.date.Month) + "-" + std::to_string(c.date.Day) + " " +
                     std::to_string(c.date.Hour));
        EXPECT_EQ(CouplingIntervalChanges(c.rhythm, last, c.date), c.changes);
    }
    // Before the first wait every rhythm begins an interval.
    for (char rhythm : {'I', 'H', 'D', 'M', 'Y'}) EXPECT_TRUE(CouplingIntervalChanges(rhythm, CouplingProgress{}, {}));
}

}  // namespace
