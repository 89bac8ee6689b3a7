#pragma once
// The storage content file (the state of a run, one section per sub-model)
// is written whole or not at all: the sections go to a temporary file in the
// target's directory, which is renamed over the target only after the last
// section has been written.

#include <cstdio>
#include <map>
#include <string>
#include <vector>

class DiagnosticsWriter;

class StorageContentStage {
public:
    StorageContentStage() = default;
    ~StorageContentStage();
    StorageContentStage(const StorageContentStage&) = delete;
    StorageContentStage& operator=(const StorageContentStage&) = delete;

    // The first section: a new, empty staged copy of `target`.
    FILE* Create(const std::string& target, DiagnosticsWriter* writer);
    // A later section: appends to the staged copy (started from the existing
    // target when this run has not created it).
    FILE* Append(const std::string& target, DiagnosticsWriter* writer);
    // True when this run has staged a copy of `target` that is still open.
    bool Holds(const std::string& target) const;
    // Closes every staged copy and renames it over its target; a failing
    // write, close or rename is FATAL (code 18).
    void Commit(DiagnosticsWriter* writer);
    // Drops every staged copy; the targets stay as they were.
    void Discard();

    static std::string StagedName(const std::string& target);

private:
    struct Staged {
        FILE* File = nullptr;
        std::string Path;
    };
    FILE* Open(const std::string& target, const char* mode, bool copyExisting, DiagnosticsWriter* writer);
    [[noreturn]] static void Fail(DiagnosticsWriter* writer, const std::string& file, int number);
    std::map<std::string, Staged> Files;
};

// Writes one sub-model's section `text` into the storage content file `path`:
// into the run's shared stage when there is one, appended after the sections
// this run has already staged there (when `append` is set) or into a new
// copy; without a shared stage the section is a file of its own, committed at
// once. A failing write drops the staged copies and is FATAL (code 18).
void WriteStorageSection(StorageContentStage* shared, const std::string& path, const std::string& text, bool append,
                         DiagnosticsWriter* writer);

// Reads one sub-model's section of the storage content file `path`: finds the
// section, reads its lines one by one and parses the numbers they begin with.
// A value that does not fit this run is FATAL (code 71), naming what was
// expected, what the file holds and the file.
class StorageSectionReader {
public:
    StorageSectionReader(const std::string& path, DiagnosticsWriter* writer);
    ~StorageSectionReader();
    StorageSectionReader(const StorageSectionReader&) = delete;
    StorageSectionReader& operator=(const StorageSectionReader&) = delete;

    // False when the file could not be opened.
    bool IsOpen() const { return File != nullptr; }
    const std::string& Path() const { return FilePath; }

    // Reads on to the line after the one that begins with `section`; false
    // when no line does.
    bool FindSection(const std::string& section);
    // Reads the next line into `Line` (without its end); false at the end of
    // the file with nothing read.
    bool NextLine();

    [[noreturn]] void Mismatch(const std::string& label, const std::string& current, const std::string& stored) const;
    // The `count` finite numbers `Line` begins with (from `offset` on) into
    // `target`; anything after them is left. A number that is missing or not
    // finite is a mismatch of "`count` values" against the line.
    void ParseNumbers(const std::string& label, size_t count, double* target, size_t offset = 0) const;
    std::vector<double> ParseNumbers(const std::string& label, size_t count, size_t offset = 0) const;
    // The next line, then its numbers; a missing line is a mismatch of
    // "`count` values" against "(missing)".
    void ReadNumbers(const std::string& label, size_t count, double* target);

    std::string Line;

private:
    FILE* File = nullptr;
    std::string FilePath;
    DiagnosticsWriter* Writer = nullptr;
};
