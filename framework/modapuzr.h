#pragma once
// One model run: builds, wires, runs and tears down every component of the
// run described by one control file.

#include <cstdint>
#include <string>

#include "framework/memory_handling.h"

class DiagnosticsWriter;

class ModellApplication : public memory_handling {
public:
    ModellApplication() = default;
    ~ModellApplication() override;

    // Takes argument `index` of the command line as the control file.
    void init(DiagnosticsWriter* writer, int argc, char** argv, int index);
    virtual int run();
    virtual void ClearMemory();

    int InitComplete = 0;
    bool DumpMode = false;
    bool CloseAfterDump = false;
    std::string ControlFilePath;
    int64_t CurrentHour = 0, CurrentDay = 0, CurrentMonth = 0, CurrentYear = 0;
};
