#pragma once
// The Ctrl-C menu of the time loop, the wait for the coupled program's
// semaphore file, and the coupling steps at the start and end of a time step.
// They work through RunHooks, which the application fills with its own
// operations, and read the console from a stream, so that they can be driven
// without a terminal.

#include <cstdint>
#include <functional>
#include <iosfwd>
#include <string>

class DiagnosticsWriter;
class ExternalCoupling;

// Exit code of the answer "cancel now".
inline constexpr int CtrlCCancelNow = 98;
// Result of the run after the answer "cancel with next interval".
inline constexpr int CtrlCCancelAtEndOfStep = 99;
// The semaphore file is written under this name next to its target, then renamed.
inline constexpr const char* TemporarySemaphoreName = "Ruvex_QOR_temporary_semaphore.file";

// The date of a model step.
struct StepDate {
    int64_t Hour = 0, Day = 0, Month = 0, Year = 0;
};

// The coupling state of a run: the rhythm last asked for and the date of the
// last wait (-1 at first, so that the first step of a coupled run waits).
struct CouplingProgress {
    char CouplingRhythm = 'I';
    int64_t LastCouplingHour = -1, LastCouplingDay = -1, LastCouplingMonth = -1, LastCouplingYear = -1;
};

// What the menu and the coupling steps ask of the running application. Empty
// operations are skipped.
struct RunHooks {
    DiagnosticsWriter* Writer = nullptr;
    std::istream* Console = nullptr;  // console input; null: standard input
    // Every input, in order, stops at its current record.
    std::function<void()> StopInputsAtActualDate;
    // The date of the first input's current record; false when there is no input.
    std::function<bool(StepDate&)> ActualDate;
    // The end date on radiation correction, regional superposition,
    // evapotranspiration, snow, interception, silting-up, irrigation,
    // unsaturated zone, surface routing, groundwater, routing, the set-up and
    // special output, in this order.
    std::function<void(int64_t year, int64_t month, int64_t day, int64_t hour)> SetEndDate;
    // Every input's statistics, then the statistics and output buffers of the
    // components in the order of the teardown's flush.
    std::function<void()> FlushOutputs;
    // The soil model moves its groundwater table to the external one.
    std::function<void(int externalTimestep)> ApplyExternalGWTable;
    // The pause between two looks for the semaphore file; empty: WaitTicks.
    std::function<void(long ticks)> WaitTicks;
};

// What ReadMenuAnswer gives when the console has no more input.
inline constexpr int MenuAnswerEndOfInput = -1;

// One answer from the console: the first character after blanks; its digit
// value, 0 for anything else, MenuAnswerEndOfInput at the end of the input.
// The rest of the line stays in the input.
int ReadMenuAnswer(std::istream& console);

// Shows the Ctrl-C menu, reads the answer and acts on it; the global Ctrl-C
// state takes the answer, then 0 or CtrlCCancelAtEndOfStep. Returns 0 to go on,
// CtrlCCancelAtEndOfStep after "cancel with next interval" (end dates set), or
// CtrlCCancelNow for "cancel now", which is left to the caller (nothing else
// is done then). The Ctrl-C handler is armed again after every other answer.
// A console without input (a run without a terminal) answers 1: the run ends
// cleanly after the step with everything written, and says so.
int CtrlCMenu(const RunHooks& hooks);

// "Cancel now": the warning entry, the diagnostics file finished, and the
// process ends with CtrlCCancelNow; no output buffer is flushed.
[[noreturn]] void CancelNow(DiagnosticsWriter* writer);

// The menu with its immediate cancel.
void ShowCtrlCMenu(const RunHooks& hooks);

// The check at the start of a step: takes the Ctrl-C state and clears it, and
// shows the menu when Ctrl-C had been pressed.
void CheckCtrlC(const RunHooks& hooks);

// Ends the run when SIGTERM or SIGHUP has arrived: a FATAL entry naming the
// signal, then the code 128 + the signal is thrown, so that the finished
// steps are flushed as after any fatal error and no end state is written.
void StopWhenTerminated(DiagnosticsWriter* writer);

// A sleeping pause as long as `ticks` processor clock ticks; it ends early
// when a Ctrl-C or a signal to end is pending.
void WaitTicks(long ticks);

// Waits until the file `name` can be opened, pausing `ticks` between looks.
// A Ctrl-C while waiting asks whether to cancel; the answer 2 throws 98. A
// console without input leaves the Ctrl-C state at 1 once the file is found,
// so that the menu at the next step ends the run cleanly.
void WaitForFile(const RunHooks& hooks, const std::string& name, long ticks);

// Writes `text` (nothing added) to a temporary file in the target's directory
// and renames it to `target`. A failing create, write, close or rename is
// FATAL (codes 26, 18, 27, 1002); the temporary file does not stay behind.
void WriteSemaphoreFile(const std::string& target, const std::string& text, DiagnosticsWriter* writer);

// True when `date` lies in another coupling interval of `rhythm` than the
// last wait: always for 'I'; otherwise when the date differs from the last
// wait in its hour ('H'), day ('D'), month ('M') or year ('Y'), the longer
// units included.
bool CouplingIntervalChanges(char rhythm, const CouplingProgress& progress, const StepDate& date);

// Start of a step of a coupled run: at a new coupling interval waits for the
// semaphore file, reads the incoming grids and applies an external
// groundwater table. Nothing when the run is not coupled.
void CouplingWait(const RunHooks& hooks, ExternalCoupling& coupling, CouplingProgress& progress,
                  const StepDate& current);

// End of a step of a coupled run, after the inputs have advanced: `current`
// takes the date of the next record (when there is an input); at the end of
// the coupling interval (or of the run, `finished`) the outgoing data and the
// semaphore file are written, otherwise the outgoing data accumulate.
void CouplingExchange(const RunHooks& hooks, ExternalCoupling& coupling, CouplingProgress& progress,
                      StepDate& current, bool finished);
