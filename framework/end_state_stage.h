#pragma once
// The end state of a run (the grids and stacks written under their plain
// names at the run's last step, the storage content file, every file written
// while the run finishes) is written whole or not at all. Each of its files
// goes to a staged name beside its target (the target with ".$tmp"
// appended). Once all are written, at the end of the teardown, a list of
// them (the commit file, itself staged and renamed) is put into the output
// directory, the staged files are renamed over their targets one by one, and
// the list is removed. A run killed in between leaves either staged files
// without a list (the old state stands: they are removed at the next start)
// or the list (the new state is whole: the next start finishes the renames).
//
// For tests, RUVEX_STAGE_FAULT_AFTER=k makes the process kill itself with
// SIGKILL after the k-th step of the write (each staged file written, the
// list put in place, each rename, the list removed).

#include <string>

class DiagnosticsWriter;

namespace endstate {

// The suffix of a staged file and the name of the commit file.
inline constexpr const char* StagedSuffix = ".$tmp";
inline constexpr const char* CommitFileName = "ruvex_end_state.$commit";

// A run of the application stages its end state; other writers of grids
// (a sub-model driven on its own) write straight to their files.
void Enable();

// From now on (the teardown) the writers stage every file; the commit file
// goes into `directory` (the run's output directory, "" for the working
// directory). Files staged before (at the last step) stay staged.
void Begin(const std::string& directory);
bool Active();

// While one lives, the writers of an enabled run stage their files (a
// snapshot of the run's last step under its plain name).
class StagedWrites {
public:
    StagedWrites();
    ~StagedWrites();
    StagedWrites(const StagedWrites&) = delete;
    StagedWrites& operator=(const StagedWrites&) = delete;
};

// The name to write `target` under: the staged name while staging is active
// (the target is then part of the end state), else the target itself.
std::string WritePath(const std::string& target);
// A writer has finished (and closed) the staged file of `target`.
void Written(const std::string& target);

// Puts the staged files in place as described above; a failing write or
// rename is FATAL (code 18). Ends the staging.
void Commit(DiagnosticsWriter* writer);
// Removes every staged file; the targets stay as they were. Ends the staging.
// After an error, a signal to end or a run that never reached its teardown.
void Discard();

// Brings `directory` back to one whole state after a run was killed while it
// wrote its end state: with a commit file the renames it lists are finished,
// without one the staged files (".$tmp") left behind are removed. Each is
// logged as a WARNING. A failing rename or removal is FATAL (code 71).
void Recover(const std::string& directory, DiagnosticsWriter* writer);

}  // namespace endstate
