#pragma once
// A child process for tests that talk to the real executable while it runs:
// standard input is a pipe the test writes to, standard output and error go to
// a log file the test watches. Every wait is for an event (a text in the log,
// the child's end) with a generous limit, never a fixed pause; writes to a
// child that has already ended fail with a result instead of killing the test
// process with SIGPIPE.

#include <sys/types.h>

#include <chrono>
#include <string>
#include <vector>

namespace testsupport {

// Makes this process ignore SIGPIPE, so that a write to a pipe whose reader
// has gone fails with EPIPE. Children started by ChildProcess get the default
// action back.
void IgnoreSigpipe();

// The environment entries every run of the executable gets unless the test or
// the caller's environment sets them: a small thread count with passive
// waiting, so that many runs side by side on a busy machine do not starve
// each other's threads at the barriers.
std::vector<std::string> DefaultRunEnvironment(const std::string& extra = "");

class ChildProcess {
public:
    using Seconds = std::chrono::seconds;

    // Starts `program` with `arguments` in `directory`; `environment` holds
    // "NAME=value" entries that are added to (or replace) this process's.
    ChildProcess(const std::string& program, const std::vector<std::string>& arguments,
                 const std::string& directory, const std::string& logFile,
                 const std::vector<std::string>& environment = {});
    // A child still running is killed and reaped.
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    bool Started() const { return Pid > 0; }
    // Waits until the log holds `text` after byte `from`; false when the
    // child ends first (and the text never came) or the limit passes.
    bool WaitForOutput(const std::string& text, size_t from = 0, Seconds limit = Seconds(120));
    // Writes all of `text` to the child's standard input; false when the
    // child has closed it or ended.
    bool Write(const std::string& text);
    void CloseInput();
    // Sends a signal; false when the child has already ended.
    bool Signal(int number);
    // Waits for the end; a child still running after the limit is killed.
    // Returns the exit code, or 128 + the signal that ended it.
    int Wait(Seconds limit = Seconds(240));
    bool Running();
    std::string Output() const;

private:
    bool Reap(bool block);

    pid_t Pid = -1;
    int Input = -1;
    int Status = 0;
    bool Ended = false;
    std::string LogFile;
};

}  // namespace testsupport
