#include "framework/modapuzr.h"

#include <cstdio>
#include <cstring>

#include "framework/diagnostics_writer.h"
#include "framework/signals.h"

ModellApplication::~ModellApplication() = default;

void ModellApplication::init(DiagnosticsWriter* writer, int argc, char** argv, int index) {
    Writer = writer;
    ModuleName = "application";
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "-dumpmode") == 0) DumpMode = true;
        if (std::strcmp(argv[i], "-closeAfterDump") == 0) CloseAfterDump = true;
    }
    ControlFilePath = argv[index];
    try {
        FILE* control = std::fopen(ControlFilePath.c_str(), "r");
        if (!control) {
            *Writer << "FATAL: error opening " << ControlFilePath << "[end-entry]";
            throw 28;
        }
        std::fclose(control);
        InitComplete = 1;
    } catch (int code) {
        *Writer << "FATAL: Exception " << code << " caught in ModellApplication::init()" << "[end-entry]";
        throw;
    }
}

int ModellApplication::run() {
    *Writer << "INFO: reached end of simulation sucessfully" << "[end-entry]";
    return CtrlCState == 1 ? 1 : 0;
}

void ModellApplication::ClearMemory() {}
