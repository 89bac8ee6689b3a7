// Program entry: reads the options, creates the diagnostics writer, writes the
// banner and runs every control file of the command line in turn.

#include <clocale>
#include <cstring>
#include <exception>
#include <locale>
#include <new>
#include <string>

#include "app/modapuzr.h"
#include "app/modapuzr_menu.h"
#include "framework/build_stamp.h"
#include "framework/diagnostics_writer.h"
#include "framework/parallel_rows.h"
#include "framework/signals.h"

namespace {

const char* const DiagLevelOption = "-diaglevel:";
const char* const DiagFileOption = "-diagfile:";

bool StartsWith(const char* text, const char* prefix) { return std::strncmp(text, prefix, std::strlen(prefix)) == 0; }

bool IsOption(const char* argument) {
    return StartsWith(argument, DiagLevelOption) || StartsWith(argument, DiagFileOption) ||
           std::strcmp(argument, "-dumpmode") == 0 || std::strcmp(argument, "-closeAfterDump") == 0;
}

std::string VersionText() {
    std::string text = std::string("1.0 $Date: 2026-12-10 $, compiled at ") + RuvexBuildStamp();
    std::string clean;
    for (char c : text) {
        if (c != '$') clean += c;
    }
    return clean;
}

void WriteBanner(DiagnosticsWriter& writer) {
    writer << std::string(76, '-').c_str() << "[end-entry]";
    writer << "Ruvex-QOR (OpenMP) " << "[end-entry]";
    writer << "64-bit Version on Linux " << "[end-entry]";
    writer << ("Version: " + VersionText()).c_str() << "[end-entry]";
    writer << "Ruvex: a spatially distributed, deterministic hydrological model for river basins.\n"
           << "Water balance of land surface, soil and aquifer, with discharge routing.\n"
           << std::string(75, '-').c_str() << "[end-entry]";
}

}  // namespace

int main(int argc, char** argv) {
    ChooseThreadWaitPolicy(argv);
    ChooseThreadCount();
    std::setlocale(LC_ALL, "C");
    std::locale::global(std::locale::classic());

    int level = DiagDebug;
    std::string diagFile;
    // The last level option whose text names no level (the empty text keeps
    // the default); the run is refused then.
    std::string unknownLevel;
    for (int n = 1; n < argc; ++n) {
        if (StartsWith(argv[n], DiagLevelOption)) {
            const std::string text = argv[n] + std::strlen(DiagLevelOption);
            level = ParseDiagLevel(text);
            if (!text.empty() && !IsDiagLevelName(text)) unknownLevel = argv[n];
        }
        if (StartsWith(argv[n], DiagFileOption)) diagFile = argv[n] + std::strlen(DiagFileOption);
    }

    DiagnosticsWriter* writer = nullptr;
    int exitCode = 0;
    try {
        writer = new DiagnosticsWriter(diagFile, level);
        CurrentApplication = nullptr;
        WriteBanner(*writer);
        if (!unknownLevel.empty()) {
            *writer << "FATAL: \nunknown diagnostics level in " << unknownLevel
                    << " (FATAL, ERROR, WARNING, INFO or DEBUG)\n" << "[end-entry]";
            throw 2;
        }
        if (argc < 2) {
            *writer << "FATAL: \nusage: " << std::string(argv[0] ? argv[0] : "ruvex")
                    << " <1-st cntrl-file> [<2-nd cntrl-file> ... [n-th cntrl-file]] [-diagfile:<diagnostics_file> "
                       "[-diaglevel:<FATAL|ERROR|WARNING|INFO|DEBUG>]] [-dumpmode [-clsoeAfterDump]]\n"
                    << "[end-entry]";
            throw 2;
        }
        for (int n = 1; n < argc; ++n) {
            if (IsOption(argv[n])) continue;
            auto* application = new ModellApplication();
            try {
                application->init(writer, argc, argv, n);
            } catch (...) {
                delete application;
                throw;
            }
            CtrlCState = 0;
            CurrentApplication = application;
            ApplicationRunning = 1;
            exitCode = 0;
            InstallSignalHandlers();
            try {
                exitCode = application->run();
                // A signal to end after the last step: the run is not cleared
                // as a finished one, its end state is not written.
                StopWhenTerminated(writer);
                application->ClearMemory();
            } catch (int code) {
                ApplicationRunning = 0;
                CurrentApplication = nullptr;
                // "Cancel now" is the user's choice to leave without saving.
                if (code != CtrlCCancelNow) application->FlushAfterError();
                delete application;
                throw;
            } catch (...) {
                ApplicationRunning = 0;
                CurrentApplication = nullptr;
                application->FlushAfterError();
                delete application;
                throw;
            }
            ApplicationRunning = 0;
            CurrentApplication = nullptr;
            delete application;
            // A signal that arrived while the end state was being committed:
            // the state is whole, the remaining control files are not run.
            StopWhenTerminated(writer);
        }
        *writer << "exitcode " << exitCode << "[end-entry]";
        *writer << "o.k.\n\nthe end." << "[end-entry]";
        writer->Close();
        delete writer;
        return exitCode;
    } catch (int code) {
        if (!writer) return code;
        *writer << "FATAL: Exception " << code << " caught at top level!" << "[end-entry]";
        *writer << "FATAL: Program aborted with exit code " << code << "[end-entry]";
        delete writer;
        return code;
    } catch (const std::bad_alloc&) {
        if (writer) {
            *writer << "FATAL: memory allocation error in main (out of memory)" << "[end-entry]";
            *writer << "FATAL: Program aborted with exit code " << 81 << "[end-entry]";
            delete writer;
        }
        return 81;
    } catch (const std::exception& e) {
        if (writer) {
            *writer << "FATAL: internal error: " << std::string(e.what()) << "[end-entry]";
            *writer << "FATAL: Program aborted with exit code " << 70 << "[end-entry]";
            delete writer;
        }
        return 70;
    }
}
