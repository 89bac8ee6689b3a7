#pragma once
// Signal handling of the process. The handlers only set flags and write one
// line to the console with write(2); the time loop reads the flags.

#include <csignal>

class ModellApplication;

// The application whose run is in progress, or null.
extern ModellApplication* CurrentApplication;

// Ctrl-C state of the running application: 0 nothing pending, 1 pressed and
// not yet answered, other values as set by the Ctrl-C menu.
extern volatile sig_atomic_t CtrlCState;
// 1 while an application is between the installation of the handlers and its
// deletion; the Ctrl-C handler touches nothing otherwise.
extern volatile sig_atomic_t ApplicationRunning;

// The signal (SIGTERM or SIGHUP) that asked the run to end, 0 while none has.
// The time loop ends the run between two steps as a fatal error does, with
// the code TerminationExitCode().
extern volatile sig_atomic_t TerminationSignal;

// 128 + the termination signal, or 0 while none has arrived.
int TerminationExitCode();

void OnCtrlC(int signalNumber);
void OnTermination(int signalNumber);
void OnFloatingPointError(int signalNumber);
void ArmCtrlCHandler();
void ResetCtrlCHandler();
void InstallSignalHandlers();

// Ignores SIGINT for its lifetime and then restores the disposition that was
// in force before (writers that must not be interrupted).
class CtrlCIgnored {
public:
    CtrlCIgnored();
    ~CtrlCIgnored();
    CtrlCIgnored(const CtrlCIgnored&) = delete;
    CtrlCIgnored& operator=(const CtrlCIgnored&) = delete;

private:
    struct sigaction Saved;
    bool Restorable = false;
};
