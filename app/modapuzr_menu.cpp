#include "app/modapuzr_menu.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <iostream>
#include <thread>

#include "framework/diagnostics_writer.h"
#include "framework/signals.h"
#include "setup/defltuzr_coupling.h"

namespace {

std::istream& ConsoleOf(const RunHooks& hooks) { return hooks.Console ? *hooks.Console : std::cin; }

bool SameDay(const CouplingProgress& last, const StepDate& date) {
    return date.Year == last.LastCouplingYear && date.Month == last.LastCouplingMonth &&
           date.Day == last.LastCouplingDay;
}

bool SameMonth(const CouplingProgress& last, const StepDate& date) {
    return date.Year == last.LastCouplingYear && date.Month == last.LastCouplingMonth;
}

[[noreturn]] void SemaphoreFailure(DiagnosticsWriter* writer, const std::string& text, const std::string& temporary,
                                   int code) {
    std::remove(temporary.c_str());
    if (writer) *writer << text << "[end-entry]";
    throw code;
}

}  // namespace

int ReadMenuAnswer(std::istream& console) {
    char answer = 0;
    if (!(console >> std::skipws >> answer)) return MenuAnswerEndOfInput;
    return std::isdigit(static_cast<unsigned char>(answer)) ? answer - '0' : 0;
}

int CtrlCMenu(const RunHooks& hooks) {
    if (hooks.Writer) {
        *hooks.Writer << "SKIP: \n\nCtrl-C: cancel the model? \n0 = no (continue)\n1 = cancel with next interval "
                         "(writing all grids and buffers)\n2 = cancel now without saving buffers!\n3 = flush "
                         "buffers and go on\n\nchoose one of the above options: "
                      << "[end-entry]";
    }
    int answer = ReadMenuAnswer(ConsoleOf(hooks));
    if (answer == MenuAnswerEndOfInput) {
        // Nobody can answer (a batch job): stop cleanly and keep everything.
        if (hooks.Writer) {
            *hooks.Writer << "WARNING: no answer from the console (end of input): taking 1, the run ends after this "
                             "step with all grids, buffers and the end state written"
                          << "[end-entry]";
        }
        answer = 1;
    }
    CtrlCState = answer;
    switch (answer) {
    case 0:
        break;
    case 1: {
        if (hooks.StopInputsAtActualDate) hooks.StopInputsAtActualDate();
        StepDate date;
        // Without an input there is no record to stop at; the run ends after
        // its one step all the same.
        if (hooks.ActualDate && hooks.ActualDate(date) && hooks.SetEndDate) {
            hooks.SetEndDate(date.Year, date.Month, date.Day, date.Hour);
        }
        CtrlCState = CtrlCCancelAtEndOfStep;
        break;
    }
    case 2:
        return CtrlCCancelNow;
    case 3:
        if (hooks.FlushOutputs) hooks.FlushOutputs();
        CtrlCState = 0;
        break;
    default:
        CtrlCState = 0;
        break;
    }
    ArmCtrlCHandler();
    return CtrlCState == CtrlCCancelAtEndOfStep ? CtrlCCancelAtEndOfStep : 0;
}

void CancelNow(DiagnosticsWriter* writer) {
    if (writer) {
        *writer << "WARNING: program manually killed by pressing Ctrl-C and selecting 2!" << "[end-entry]";
        writer->Close();
    }
    std::exit(CtrlCCancelNow);
}

void ShowCtrlCMenu(const RunHooks& hooks) {
    if (CtrlCMenu(hooks) == CtrlCCancelNow) CancelNow(hooks.Writer);
}

void CheckCtrlC(const RunHooks& hooks) {
    const int state = CtrlCState;
    if (state != 0) CtrlCState = 0;
    if (state == 1) ShowCtrlCMenu(hooks);
}

void StopWhenTerminated(DiagnosticsWriter* writer) {
    const int code = TerminationExitCode();
    if (code == 0) return;
    if (writer) {
        *writer << "FATAL: the run was told to end by " << (TerminationSignal == SIGHUP ? "SIGHUP" : "SIGTERM")
                << ": the finished steps are kept, the end state is not written" << "[end-entry]";
    }
    throw code;
}

void WaitTicks(long ticks) {
    if (ticks <= 0) {
        std::this_thread::yield();
        return;
    }
    using namespace std::chrono;
    const double seconds = std::min(static_cast<double>(ticks) / CLOCKS_PER_SEC, 1.0e9);
    const auto deadline = steady_clock::now() + duration_cast<steady_clock::duration>(duration<double>(seconds));
    // Short slices, so that a pending Ctrl-C is answered without delay.
    constexpr auto slice = milliseconds(50);
    while (CtrlCState == 0 && TerminationSignal == 0) {
        const auto now = steady_clock::now();
        if (now >= deadline) return;
        std::this_thread::sleep_for(std::min<steady_clock::duration>(deadline - now, slice));
    }
}

void WaitForFile(const RunHooks& hooks, const std::string& name, long ticks) {
    DiagnosticsWriter* writer = hooks.Writer;
    bool stopAfterWait = false;
    try {
        if (writer) *writer << "waiting for external synchronisation file " << name << "...";
        for (;;) {
            if (FILE* file = std::fopen(name.c_str(), "rb")) {
                std::fclose(file);
                if (writer) *writer << "found it! " << "[end-entry]";
                if (stopAfterWait) CtrlCState = 1;
                return;
            }
            StopWhenTerminated(writer);
            if (CtrlCState != 0) {
                CtrlCState = 0;
                if (writer) {
                    *writer << "SKIP: \n\nCtrl-C pressed while waiting for " << name
                            << "\nCancel the model? \n0 = no (continue)\n2 = cancel now without saving "
                               "buffers!\n\nchoose one of the above options: "
                            << "[end-entry]";
                }
                int answer = ReadMenuAnswer(ConsoleOf(hooks));
                if (answer == MenuAnswerEndOfInput) {
                    // Nobody can answer: the wait goes on, and the menu at the
                    // next step (which reads the same end of input) ends the
                    // run cleanly.
                    if (writer) {
                        *writer << "WARNING: no answer from the console (end of input): the run ends cleanly after "
                                   "the next step"
                                << "[end-entry]";
                    }
                    stopAfterWait = true;
                    answer = 0;
                }
                // 1 and 3 stay: the question comes again while the file is
                // missing, and a 1 left standing opens the menu at the next step.
                CtrlCState = answer > 3 ? 0 : answer;
                if (answer == 2) throw CtrlCCancelNow;
                ArmCtrlCHandler();
            }
            if (hooks.WaitTicks) {
                hooks.WaitTicks(ticks);
            } else {
                WaitTicks(ticks);
            }
            ArmCtrlCHandler();
        }
    } catch (int) {
        if (writer) *writer << "FATAL: Exception in Modellapplication::WaitForFile() caught!" << "[end-entry]";
        throw;
    }
}

void WriteSemaphoreFile(const std::string& target, const std::string& text, DiagnosticsWriter* writer) {
    // The temporary file lies next to the target, so that the rename never
    // crosses file systems and the other program sees the whole file at once.
    const size_t slash = target.find_last_of('/');
    const std::string temporary =
        (slash == std::string::npos ? std::string() : target.substr(0, slash + 1)) + TemporarySemaphoreName;

    FILE* file = std::fopen(temporary.c_str(), "wb");
    if (!file) {
        if (writer) *writer << "FATAL: error creating semaphore file " << temporary << "[end-entry]";
        throw 26;
    }
    if (!text.empty() && std::fwrite(text.data(), 1, text.size(), file) != text.size()) {
        std::fclose(file);
        SemaphoreFailure(writer, "FATAL: write error " + temporary + " ! (18)", temporary, 18);
    }
    if (std::fclose(file) != 0) SemaphoreFailure(writer, "FATAL: error closing " + temporary, temporary, 27);
    if (std::rename(temporary.c_str(), target.c_str()) != 0) {
        SemaphoreFailure(writer, "FATAL: error renaming semaphore file " + temporary + " to " + target, temporary,
                         1002);
    }
}

bool CouplingIntervalChanges(char rhythm, const CouplingProgress& progress, const StepDate& date) {
    switch (rhythm) {
    case 'H':
        return !SameDay(progress, date) || date.Hour != progress.LastCouplingHour;
    case 'D':
        return !SameDay(progress, date);
    case 'M':
        return !SameMonth(progress, date);
    case 'Y':
        return date.Year != progress.LastCouplingYear;
    default:
        return true;
    }
}

void CouplingWait(const RunHooks& hooks, ExternalCoupling& coupling, CouplingProgress& progress,
                  const StepDate& current) {
    if (!coupling.IsCoupled()) return;
    progress.CouplingRhythm = coupling.GetCouplingRhythm();
    if (!CouplingIntervalChanges(progress.CouplingRhythm, progress, current)) return;

    WaitForFile(hooks, coupling.GetSemaphoreFile(), coupling.GetWaitInterval());
    progress.LastCouplingHour = current.Hour;
    progress.LastCouplingDay = current.Day;
    progress.LastCouplingMonth = current.Month;
    progress.LastCouplingYear = current.Year;
    coupling.ReadExternalGrids(current.Year, current.Month, current.Day, current.Hour);
    if (coupling.HasExternalGWTable() && hooks.ApplyExternalGWTable) {
        hooks.ApplyExternalGWTable(coupling.GetExternalTimestep());
    }
}

void CouplingExchange(const RunHooks& hooks, ExternalCoupling& coupling, CouplingProgress& progress,
                      StepDate& current, bool finished) {
    if (!coupling.IsCoupled()) return;
    StepDate next;
    if (hooks.ActualDate && hooks.ActualDate(next)) current = next;
    progress.CouplingRhythm = coupling.GetCouplingRhythm();

    if (!finished && !CouplingIntervalChanges(progress.CouplingRhythm, progress, current)) {
        coupling.AccumulateExternalOutput();
        return;
    }
    const int dayEnded = finished || !SameDay(progress, current) ? 1 : 0;
    const int monthEnded = finished || !SameMonth(progress, current) ? 1 : 0;
    const int yearEnded = finished || current.Year != progress.LastCouplingYear ? 1 : 0;
    coupling.WriteExternalOutput(progress.LastCouplingDay, progress.LastCouplingMonth, progress.LastCouplingYear,
                                 dayEnded, monthEnded, yearEnded);
    WriteSemaphoreFile(coupling.GetOutSemaphoreFile(), coupling.GetOutSemaphoreContent(), hooks.Writer);
}
