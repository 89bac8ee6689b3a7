#include "framework/storage_content_file.h"

#include <cerrno>
#include <filesystem>

#include "framework/diagnostics_writer.h"
#include "framework/end_state_stage.h"

StorageContentStage::~StorageContentStage() { Discard(); }

std::string StorageContentStage::StagedName(const std::string& target) { return target + ".$tmp"; }

void StorageContentStage::Fail(DiagnosticsWriter* writer, const std::string& file, int number) {
    if (writer) *writer << "FATAL: write error " << file << " ! (" << number << ")" << "[end-entry]";
    throw 18;
}

FILE* StorageContentStage::Open(const std::string& target, const char* mode, bool copyExisting,
                                DiagnosticsWriter* writer) {
    Staged& staged = Files[target];
    if (staged.File) return staged.File;
    staged.Path = StagedName(target);
    if (copyExisting) {
        std::error_code error;
        if (std::filesystem::exists(target, error)) {
            std::filesystem::copy_file(target, staged.Path, std::filesystem::copy_options::overwrite_existing, error);
            if (error) Fail(writer, staged.Path, error.value());
        }
    }
    staged.File = std::fopen(staged.Path.c_str(), mode);
    if (!staged.File) Fail(writer, staged.Path, errno);
    return staged.File;
}

FILE* StorageContentStage::Create(const std::string& target, DiagnosticsWriter* writer) {
    auto it = Files.find(target);
    if (it != Files.end() && it->second.File) {
        // A second "create" in one run starts the file anew.
        std::fclose(it->second.File);
        it->second.File = nullptr;
    }
    return Open(target, "w", false, writer);
}

FILE* StorageContentStage::Append(const std::string& target, DiagnosticsWriter* writer) {
    return Open(target, "a", true, writer);
}

bool StorageContentStage::Holds(const std::string& target) const {
    const auto it = Files.find(target);
    return it != Files.end() && it->second.File != nullptr;
}

void StorageContentStage::Commit(DiagnosticsWriter* writer) {
    for (auto& [target, staged] : Files) {
        if (!staged.File) continue;
        const bool written = std::ferror(staged.File) == 0;
        const int closed = std::fclose(staged.File);
        staged.File = nullptr;
        if (!written || closed != 0) {
            std::remove(staged.Path.c_str());
            Fail(writer, target, errno);
        }
        if (endstate::Active()) {
            // Part of the run's end state: renamed with all its other files.
            endstate::WritePath(target);
            endstate::Written(target);
            continue;
        }
        if (std::rename(staged.Path.c_str(), target.c_str()) != 0) {
            const int number = errno;
            std::remove(staged.Path.c_str());
            Fail(writer, target, number);
        }
    }
    Files.clear();
}

void StorageContentStage::Discard() {
    for (auto& [target, staged] : Files) {
        if (staged.File) std::fclose(staged.File);
        staged.File = nullptr;
        if (!staged.Path.empty()) std::remove(staged.Path.c_str());
    }
    Files.clear();
}

void WriteStorageSection(StorageContentStage* shared, const std::string& path, const std::string& text, bool append,
                         DiagnosticsWriter* writer) {
    StorageContentStage own;
    StorageContentStage& stage = shared ? *shared : own;
    FILE* file = (append && stage.Holds(path)) ? stage.Append(path, writer) : stage.Create(path, writer);
    if (std::fwrite(text.data(), 1, text.size(), file) != text.size()) {
        if (writer) *writer << "FATAL: error writing storage content file " << path << "[end-entry]";
        stage.Discard();
        throw 18;
    }
    if (!shared) own.Commit(writer);
}
