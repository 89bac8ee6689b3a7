#include "framework/end_state_stage.h"

#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <vector>

#include "framework/diagnostics_writer.h"

namespace endstate {
namespace {

struct Stage {
    bool Enabled = false;
    bool Active = false;
    int Scopes = 0;
    std::string Directory;
    std::vector<std::string> Targets;  // in the order they were staged
    std::set<std::string> Known;
    std::set<std::string> Finished;  // written at least once
    long FaultAfter = 0;  // 0: no fault injection
    long Steps = 0;
};

Stage& Current() {
    static Stage stage;
    return stage;
}

std::string Staged(const std::string& target) { return target + StagedSuffix; }

// One step of the write is done; the fault hook may end the process here.
void Step() {
    Stage& stage = Current();
    if (stage.FaultAfter > 0 && ++stage.Steps >= stage.FaultAfter) {
        std::fflush(nullptr);
        raise(SIGKILL);
    }
}

[[noreturn]] void Fail(DiagnosticsWriter* writer, const std::string& text, const std::string& file, int code) {
    if (writer) *writer << "FATAL: " << text << file << " ! (" << errno << ")" << "[end-entry]";
    throw code;
}

// A commit file's line for `target`: its name when it lies in `directory`,
// else "@" and the path as given.
std::string Entry(const std::string& directory, const std::string& target) {
    if (target.compare(0, directory.size(), directory) == 0 &&
        target.find('/', directory.size()) == std::string::npos) {
        return target.substr(directory.size());
    }
    return "@" + target;
}

std::string TargetOf(const std::string& directory, const std::string& entry) {
    return !entry.empty() && entry[0] == '@' ? entry.substr(1) : directory + entry;
}

void Reset() {
    Stage& stage = Current();
    stage.Enabled = false;
    stage.Active = false;
    stage.Targets.clear();
    stage.Known.clear();
    stage.Finished.clear();
    stage.Steps = 0;
}

}  // namespace

void Enable() { Current().Enabled = true; }

void Begin(const std::string& directory) {
    Stage& stage = Current();
    stage.Enabled = true;
    stage.Active = true;
    stage.Directory = directory;
}

bool Active() { return Current().Active || (Current().Enabled && Current().Scopes > 0); }

StagedWrites::StagedWrites() { ++Current().Scopes; }
StagedWrites::~StagedWrites() { --Current().Scopes; }

std::string WritePath(const std::string& target) {
    Stage& stage = Current();
    if (!Active()) return target;
    if (stage.Targets.empty()) {
        const char* fault = std::getenv("RUVEX_STAGE_FAULT_AFTER");
        stage.FaultAfter = fault ? std::strtol(fault, nullptr, 10) : 0;
        stage.Steps = 0;
    }
    if (stage.Known.insert(target).second) stage.Targets.push_back(target);
    return Staged(target);
}

void Written(const std::string& target) {
    // A file written again (a spin-up's later round) is no new step.
    if (Current().Known.count(target) && Current().Finished.insert(target).second) Step();
}

void Commit(DiagnosticsWriter* writer) {
    Stage& stage = Current();
    const std::string commitFile = stage.Directory + CommitFileName;
    try {
        if (!stage.Targets.empty()) {
            const std::string stagedList = Staged(commitFile);
            {
                std::ofstream list(stagedList, std::ios::binary | std::ios::trunc);
                for (const std::string& target : stage.Targets) list << Entry(stage.Directory, target) << '\n';
                list.close();
                if (!list) Fail(writer, "write error ", stagedList, 18);
            }
            // From here on the new state is whole: a start after a kill
            // finishes the renames.
            if (std::rename(stagedList.c_str(), commitFile.c_str()) != 0) Fail(writer, "write error ", commitFile, 18);
            Step();
            for (const std::string& target : stage.Targets) {
                if (std::rename(Staged(target).c_str(), target.c_str()) != 0) Fail(writer, "write error ", target, 18);
                Step();
            }
            if (std::remove(commitFile.c_str()) != 0) Fail(writer, "write error ", commitFile, 18);
            Step();
            if (writer) {
                *writer << "end state of " << static_cast<long>(stage.Targets.size()) << " files put in place"
                        << "[end-entry]";
            }
        }
    } catch (...) {
        Discard();
        throw;
    }
    Reset();
}

void Discard() {
    Stage& stage = Current();
    // Once the commit file is in place the new state is whole; it is left
    // for the next start to finish.
    std::error_code error;
    const bool committed = stage.Active && std::filesystem::exists(stage.Directory + CommitFileName, error);
    if (!committed) {
        for (const std::string& target : stage.Targets) std::remove(Staged(target).c_str());
    }
    Reset();
}

void Recover(const std::string& directory, DiagnosticsWriter* writer) {
    namespace fs = std::filesystem;
    const std::string commitFile = directory + CommitFileName;
    std::error_code error;
    if (fs::exists(commitFile, error)) {
        std::ifstream list(commitFile, std::ios::binary);
        std::string entry;
        while (std::getline(list, entry)) {
            if (entry.empty()) continue;
            const std::string target = TargetOf(directory, entry);
            if (!fs::exists(Staged(target), error)) continue;  // renamed already
            if (std::rename(Staged(target).c_str(), target.c_str()) != 0) {
                Fail(writer, "error in storage file content reading: cannot finish the end state ", target, 71);
            }
            if (writer) {
                *writer << "WARNING: the end state of the last run was cut short while it was renamed: " << target
                        << " now holds its new content" << "[end-entry]";
            }
        }
        if (std::remove(commitFile.c_str()) != 0) {
            Fail(writer, "error in storage file content reading: cannot remove ", commitFile, 71);
        }
        return;
    }
    const fs::path where = directory.empty() ? fs::path(".") : fs::path(directory);
    if (!fs::is_directory(where, error)) return;
    std::vector<fs::path> leftovers;
    for (const auto& file : fs::directory_iterator(where, error)) {
        const std::string name = file.path().filename().string();
        const std::string suffix = StagedSuffix;
        if (name.size() > suffix.size() && name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0) {
            leftovers.push_back(file.path());
        }
    }
    for (const fs::path& file : leftovers) {
        if (!fs::remove(file, error) || error) {
            Fail(writer, "error in storage file content reading: cannot remove ", file.string(), 71);
        }
        if (writer) {
            *writer << "WARNING: " << file.string()
                    << " is left from an end state that was never completed; removed, the state before it stands"
                    << "[end-entry]";
        }
    }
}

}  // namespace endstate
