#include "framework/storage_content_file.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <filesystem>

#include "framework/diagnostics_writer.h"
#include "framework/end_state_stage.h"
#include "framework/string_helpers.h"

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

StorageSectionReader::StorageSectionReader(const std::string& path, DiagnosticsWriter* writer)
    : File(std::fopen(path.c_str(), "rt")), FilePath(path), Writer(writer) {}

StorageSectionReader::~StorageSectionReader() {
    if (File) std::fclose(File);
}

bool StorageSectionReader::FindSection(const std::string& section) {
    while (NextLine())
        if (Line.rfind(section, 0) == 0) return true;
    return false;
}

bool StorageSectionReader::NextLine() { return File && ReadTextLine(File, &Line); }

void StorageSectionReader::Mismatch(const std::string& label, const std::string& current,
                                    const std::string& stored) const {
    if (Writer) {
        *Writer << "FATAL: error in storage file content reading " << label << ":\nvalue in actual control is:   "
                << current << "\nbut value in storage file is: " << stored << " in " << FilePath
                << "\nRuvex throws..." << "[end-entry]";
    }
    throw 71;
}

void StorageSectionReader::ParseNumbers(const std::string& label, size_t count, double* target,
                                        size_t offset) const {
    const char* at = Line.c_str() + offset;
    for (size_t k = 0; k < count; ++k) {
        char* end = nullptr;
        target[k] = std::strtod(at, &end);
        if (end == at || !std::isfinite(target[k])) Mismatch(label, std::to_string(count) + " values", Line);
        at = end;
    }
}

std::vector<double> StorageSectionReader::ParseNumbers(const std::string& label, size_t count, size_t offset) const {
    std::vector<double> values(count);
    ParseNumbers(label, count, values.data(), offset);
    return values;
}

void StorageSectionReader::ReadNumbers(const std::string& label, size_t count, double* target) {
    if (!NextLine()) Mismatch(label, std::to_string(count) + " values", "(missing)");
    ParseNumbers(label, count, target);
}
