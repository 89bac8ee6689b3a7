#include "framework/signals.h"

#include <unistd.h>

ModellApplication* CurrentApplication = nullptr;
volatile sig_atomic_t CtrlCState = 0;
volatile sig_atomic_t ApplicationRunning = 0;
volatile sig_atomic_t TerminationSignal = 0;

int TerminationExitCode() { return TerminationSignal != 0 ? 128 + TerminationSignal : 0; }

namespace {

void WriteConsole(const char* text, size_t length) {
    while (length > 0) {
        const ssize_t n = write(STDOUT_FILENO, text, length);
        if (n <= 0) return;
        text += n;
        length -= static_cast<size_t>(n);
    }
}

void SetHandler(int signalNumber, void (*handler)(int)) {
    struct sigaction action {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;
    sigaction(signalNumber, &action, nullptr);
}

}  // namespace

void OnCtrlC(int signalNumber) {
    // Further presses are ignored until the handler is armed again.
    SetHandler(signalNumber, SIG_IGN);
    if (!ApplicationRunning) return;
    if (CtrlCState != 0) return;
    CtrlCState = 1;
    static const char message[] = "\nCntr-C pressed! please wait...\n\n";
    WriteConsole(message, sizeof message - 1);
}

void OnTermination(int signalNumber) {
    if (TerminationSignal != 0) return;
    TerminationSignal = signalNumber;
    static const char message[] = "\nsignal to end received: the run stops after the current step...\n\n";
    WriteConsole(message, sizeof message - 1);
}

void OnFloatingPointError(int /*signalNumber*/) {
    // Floating-point traps stay masked, so only integer faults arrive here;
    // returning would repeat the faulting instruction.
    static const char message[] = "floating point error\n";
    WriteConsole(message, sizeof message - 1);
    _exit(136);
}

void ArmCtrlCHandler() { SetHandler(SIGINT, OnCtrlC); }

void ResetCtrlCHandler() { SetHandler(SIGINT, SIG_DFL); }

void InstallSignalHandlers() {
    SetHandler(SIGINT, OnCtrlC);
    SetHandler(SIGFPE, OnFloatingPointError);
    SetHandler(SIGTERM, OnTermination);
    SetHandler(SIGHUP, OnTermination);
}

CtrlCIgnored::CtrlCIgnored() {
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    Restorable = sigaction(SIGINT, &ignore, &Saved) == 0;
}

CtrlCIgnored::~CtrlCIgnored() {
    if (Restorable) sigaction(SIGINT, &Saved, nullptr);
}
