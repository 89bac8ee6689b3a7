#pragma once
// The application stepped in this process on a written control file: the
// working directory moves into the run's directory for the run's relative
// paths and comes back however the test ends; the console and diagnostics
// are kept for the failure messages.

#include <filesystem>
#include <sstream>
#include <string>

#include "app/modapuzr.h"
#include "framework/diagnostics_writer.h"
#include "framework/gridtable.h"
#include "support/test_support.h"

namespace testsupport {

class InProcessRun {
public:
    explicit InProcessRun(const TempDir& dir) : InProcessRun(dir.path()) {}
    // A run in an existing directory, its diagnostics written to
    // `diagnostics` there.
    explicit InProcessRun(const std::string& directory, const std::string& diagnostics = "diag.xml")
        : Writer(directory + "/" + diagnostics, DiagDebug, Console) {
        std::filesystem::current_path(directory);
    }
    ~InProcessRun() {
        App.AfterTimeStep = nullptr;
        App.ClearMemory();
        std::filesystem::current_path(Previous);
    }
    InProcessRun(const InProcessRun&) = delete;
    InProcessRun& operator=(const InProcessRun&) = delete;

    // Set-up of the control file in the run's directory: 0, or the code the
    // set-up ended with.
    int Init(const std::string& controlFile = "basin.ctl") {
        std::string program = "ruvex", file = controlFile;
        char* argv[] = {program.data(), file.data(), nullptr};
        try {
            App.init(&Writer, 2, argv, 1);
        } catch (int thrown) {
            return thrown;
        }
        return 0;
    }
    // The time loop: 0, or the code the run ended with.
    int Run() {
        try {
            App.run();
        } catch (int thrown) {
            return thrown;
        }
        return 0;
    }
    double** Grid(const std::string& name) {
        const int k = FindGridEntry(App.GridTable.get(), name, true);
        return k > 0 ? App.GridTable[k].Data : nullptr;
    }

private:
    std::filesystem::path Previous = std::filesystem::current_path();

public:
    std::ostringstream Console;
    DiagnosticsWriter Writer;
    ModellApplication App;
};

}  // namespace testsupport
