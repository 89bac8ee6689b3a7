#include "support/child_process.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <thread>

#include "support/test_support.h"

extern char** environ;

namespace testsupport {

namespace {

// The pause between two looks at the log or the child's state.
constexpr auto Poll = std::chrono::milliseconds(10);

std::string NameOf(const std::string& entry) { return entry.substr(0, entry.find('=')); }

bool HasEntry(const std::vector<std::string>& entries, const std::string& name) {
    for (const auto& e : entries) {
        if (NameOf(e) == name) return true;
    }
    return false;
}

}  // namespace

void IgnoreSigpipe() {
    struct sigaction action {};
    action.sa_handler = SIG_IGN;
    sigemptyset(&action.sa_mask);
    sigaction(SIGPIPE, &action, nullptr);
}

std::vector<std::string> DefaultRunEnvironment(const std::string& extra) {
    std::vector<std::string> entries;
    std::istringstream words(extra);
    std::string word;
    while (words >> word) entries.push_back(word);
    const char* defaults[][2] = {{"OMP_NUM_THREADS", "2"}, {"OMP_WAIT_POLICY", "passive"}};
    for (const auto& d : defaults) {
        if (!HasEntry(entries, d[0]) && !std::getenv(d[0])) entries.push_back(std::string(d[0]) + "=" + d[1]);
    }
    return entries;
}

ChildProcess::ChildProcess(const std::string& program, const std::vector<std::string>& arguments,
                           const std::string& directory, const std::string& logFile,
                           const std::vector<std::string>& environment)
    : LogFile(logFile) {
    IgnoreSigpipe();
    // Everything the child needs is prepared before the fork: after it, the
    // child only calls what is safe in a copy of a threaded process.
    std::vector<std::string> env = environment;
    for (char** e = environ; *e; ++e) {
        if (!HasEntry(environment, NameOf(*e))) env.emplace_back(*e);
    }
    std::vector<char*> envp;
    for (auto& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    std::vector<std::string> args{program};
    args.insert(args.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);

    const int out = open(logFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    int input[2];
    if (out < 0) return;
    if (pipe2(input, O_CLOEXEC) != 0) {
        close(out);
        return;
    }
    const pid_t child = fork();
    if (child == 0) {
        signal(SIGPIPE, SIG_DFL);
        if (chdir(directory.c_str()) != 0) _exit(127);
        if (dup2(input[0], STDIN_FILENO) < 0 || dup2(out, STDOUT_FILENO) < 0 || dup2(out, STDERR_FILENO) < 0) {
            _exit(127);
        }
        execve(argv[0], argv.data(), envp.data());
        _exit(127);
    }
    close(input[0]);
    close(out);
    if (child < 0) {
        close(input[1]);
        return;
    }
    Pid = child;
    Input = input[1];
}

ChildProcess::~ChildProcess() {
    if (Pid > 0 && !Ended) {
        kill(Pid, SIGKILL);
        Reap(true);
    }
    CloseInput();
}

bool ChildProcess::Reap(bool block) {
    if (Pid <= 0 || Ended) return Ended;
    int status = 0;
    pid_t r;
    do {
        r = waitpid(Pid, &status, block ? 0 : WNOHANG);
    } while (r < 0 && errno == EINTR);
    if (r == Pid) {
        Status = status;
        Ended = true;
    }
    return Ended;
}

bool ChildProcess::Running() { return Pid > 0 && !Reap(false); }

std::string ChildProcess::Output() const { return ReadFile(LogFile); }

bool ChildProcess::WaitForOutput(const std::string& text, size_t from, Seconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
        // The state is taken before the log is read, so that output written
        // just before the end is still seen.
        const bool ended = !Running();
        const std::string log = Output();
        if (log.size() > from && log.find(text, from) != std::string::npos) return true;
        if (ended || std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(Poll);
    }
}

bool ChildProcess::Write(const std::string& text) {
    if (Input < 0) return false;
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = write(Input, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;  // EPIPE: the child has closed its input or ended
        done += static_cast<size_t>(n);
    }
    return true;
}

void ChildProcess::CloseInput() {
    if (Input >= 0) close(Input);
    Input = -1;
}

bool ChildProcess::Signal(int number) { return Running() && kill(Pid, number) == 0; }

int ChildProcess::Wait(Seconds limit) {
    if (Pid <= 0) return -1;
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!Reap(false) && std::chrono::steady_clock::now() < deadline) std::this_thread::sleep_for(Poll);
    if (!Ended) {
        kill(Pid, SIGKILL);
        Reap(true);
    }
    return WIFEXITED(Status) ? WEXITSTATUS(Status) : 128 + WTERMSIG(Status);
}

}  // namespace testsupport
