// The end state is written whole or not at all: a run of the example that
// writes over the state of an earlier run is killed (SIGKILL, by the fault
// hook RUVEX_STAGE_FAULT_AFTER) at many moments of its end-state write; what
// the next start makes of the folder is the old state or the new one, byte
// for byte, with nothing staged left behind.

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>

#include "framework/end_state_stage.h"
#include "support/child_process.h"
#include "support/test_support.h"

using namespace testsupport;
namespace fs = std::filesystem;

namespace {

const std::string BasinDir = std::string(RUVEX_TEST_DATA) + "/../../examples/basin";

// The example over one day: the first of January or the second.
std::string OneDay(int day) {
    std::string control = ReadFile(BasinDir + "/basin.ctl");
    const std::string d = std::to_string(day);
    ReplaceOnce(control,
                "[model_time]\n1                          # start hour\n1                          # start day",
                "[model_time]\n1\n" + d);
    ReplaceOnce(control, "24                         # end hour\n31                         # end day\n"
                         "12                         # end month\n2020",
                "24\n" + d + "\n1\n2019");
    return control;
}

std::map<std::string, std::string> Folder(const std::string& path) {
    std::map<std::string, std::string> files;
    for (const auto& entry : fs::directory_iterator(path)) {
        files[entry.path().filename().string()] = ReadFile(entry.path().string());
    }
    return files;
}

std::map<std::string, std::string> Only(const std::map<std::string, std::string>& files,
                                        const std::set<std::string>& names) {
    std::map<std::string, std::string> kept;
    for (const auto& name : names) kept[name] = files.count(name) ? files.at(name) : "(missing)";
    return kept;
}

}  // namespace

TEST(EndStateWrite, KilledAnywhereTheFolderHoldsTheOldStateOrTheNew) {
    IgnoreSigpipe();
    TempDir dir;
    fs::copy(BasinDir + "/input", dir.file("input"), fs::copy_options::recursive);
    WriteFile(dir.file("first.ctl"), OneDay(1));
    WriteFile(dir.file("second.ctl"), OneDay(2));
    fs::create_directories(dir.file("output"));
    ASSERT_EQ(RunRuvex(dir.path(), {"first.ctl"}).exitCode, 0);
    fs::rename(dir.file("output"), dir.file("old"));
    const auto old = Folder(dir.file("old"));

    // The second day written over the first one's state, not interrupted.
    fs::copy(dir.file("old"), dir.file("output"));
    const RunResult whole = RunRuvex(dir.path(), {"second.ctl"});
    ASSERT_EQ(whole.exitCode, 0) << whole.output;
    std::smatch count;
    ASSERT_TRUE(std::regex_search(whole.output, count, std::regex(R"(end state of (\d+) files put in place)")));
    const int n = std::stoi(count[1]);
    ASSERT_GT(n, 10);
    fs::rename(dir.file("output"), dir.file("new"));
    const auto fresh = Folder(dir.file("new"));

    // The steps of the write: n staged files, the commit file in place, n
    // renames, the commit file removed.
    std::set<std::string> state;
    int sawOld = 0, sawNew = 0;
    for (int k : {n + 1, 1, n / 2, n, n + 2, n + 1 + n / 2, 2 * n + 1, 2 * n + 2}) {
        SCOPED_TRACE("killed after step " + std::to_string(k));
        fs::remove_all(dir.file("output"));
        fs::copy(dir.file("old"), dir.file("output"));
        {
            ChildProcess child(RUVEX_BINARY, {"second.ctl"}, dir.path(), dir.file("console.txt"),
                               DefaultRunEnvironment("RUVEX_STAGE_FAULT_AFTER=" + std::to_string(k)));
            ASSERT_TRUE(child.Started());
            ASSERT_EQ(child.Wait(), 128 + 9) << child.Output();
        }
        const std::string commit = dir.file(std::string("output/") + endstate::CommitFileName);
        if (FileExists(commit)) {
            std::istringstream names(ReadFile(commit));
            for (std::string name; std::getline(names, name);) state.insert(name);
        }
        endstate::Recover(dir.file("output/"), nullptr);  // what the next start does first
        const auto after = Folder(dir.file("output"));
        for (const auto& [name, content] : after) {
            EXPECT_EQ(name.find(".$tmp"), std::string::npos) << name;
            EXPECT_NE(name, endstate::CommitFileName);
        }
        ASSERT_FALSE(state.empty()) << "the commit file is listed before the first kill after it";
        const bool isOld = Only(after, state) == Only(old, state);
        const bool isNew = Only(after, state) == Only(fresh, state);
        EXPECT_TRUE(isOld || isNew);
        sawOld += isOld;
        sawNew += isNew;
    }
    EXPECT_EQ(state.size(), static_cast<size_t>(n));
    EXPECT_TRUE(state.count("storage_content.txt_0") && state.count("hh.stk") && state.count("gw_head_1.asc"));
    EXPECT_NE(Only(old, state), Only(fresh, state));
    EXPECT_EQ(sawOld, 3);  // killed before the commit file was in place
    EXPECT_EQ(sawNew, 5);
}
