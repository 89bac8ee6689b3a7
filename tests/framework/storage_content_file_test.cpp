#include "framework/storage_content_file.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

#include "framework/diagnostics_writer.h"
#include "support/test_support.h"

using namespace testsupport;

TEST(StorageContentFile, SectionsAppearOnlyAfterTheLastOne) {
    TempDir dir;
    const std::string target = dir.file("state.txt");
    WriteFile(target, "[old_state]\n1\n");
    StorageContentStage stage;
    std::fputs("[routing_model]\n1 2 3\n", stage.Create(target, nullptr));
    std::fputs("[unsatzon_model]\n4\n", stage.Append(target, nullptr));
    std::fputs("[snow_model]\n5\n", stage.Append(target, nullptr));
    EXPECT_EQ(ReadFile(target), "[old_state]\n1\n");  // nothing visible before the commit
    stage.Commit(nullptr);
    EXPECT_EQ(ReadFile(target), "[routing_model]\n1 2 3\n[unsatzon_model]\n4\n[snow_model]\n5\n");
    EXPECT_FALSE(FileExists(StorageContentStage::StagedName(target)));
}

TEST(StorageContentFile, AppendingContinuesAnEarlierFile) {
    TempDir dir;
    const std::string target = dir.file("state.txt");
    WriteFile(target, "[unsatzon_model]\n4\n");
    StorageContentStage stage;
    std::fputs("[snow_model]\n5\n", stage.Append(target, nullptr));
    stage.Commit(nullptr);
    EXPECT_EQ(ReadFile(target), "[unsatzon_model]\n4\n[snow_model]\n5\n");
}

TEST(StorageContentFile, AnAbortedTeardownLeavesTheOldFile) {
    TempDir dir;
    const std::string target = dir.file("state.txt");
    WriteFile(target, "complete state\n");
    {
        StorageContentStage stage;
        std::fputs("[routing_model]\nhalf", stage.Create(target, nullptr));
        // no commit: an error ended the teardown
    }
    EXPECT_EQ(ReadFile(target), "complete state\n");
    EXPECT_FALSE(FileExists(StorageContentStage::StagedName(target)));
}

TEST(StorageContentFile, FailuresAreFatal) {
    TempDir dir;
    std::ostringstream console;
    DiagnosticsWriter writer(dir.file("d.xml"), DiagDebug, console);
    StorageContentStage stage;
    try {
        stage.Create(dir.file("no/such/dir/state.txt"), &writer);
        ADD_FAILURE();
    } catch (int code) {
        EXPECT_EQ(code, 18);
    }
    // a rename onto a directory fails: the staged copy is removed
    std::filesystem::create_directories(dir.file("state_dir/inner"));
    std::fputs("x\n", stage.Create(dir.file("state_dir"), &writer));
    try {
        stage.Commit(&writer);
        ADD_FAILURE();
    } catch (int code) {
        EXPECT_EQ(code, 18);
    }
    EXPECT_FALSE(FileExists(StorageContentStage::StagedName(dir.file("state_dir"))));
    EXPECT_NE(console.str().find("write error"), std::string::npos);
}
