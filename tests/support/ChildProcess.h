#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

// A program started by a test as a separate process (posix_spawn, so it is
// safe in a test process that runs threads), with its stdout on a pipe. The
// child inherits the environment, with the given "NAME=value" entries added or
// replacing the inherited ones (so a test never has to setenv in its own,
// threaded process), optionally in another working folder. A child still running when the object goes away is
// killed and reaped.
class ChildProcess {
public:
    // argv[0] is the program's path. On failure running() is false.
    // `workingDirectory`: the child's current folder (empty: the test's).
    explicit ChildProcess(const std::vector<std::string>& argv,
                          const std::vector<std::string>& environment = {},
                          const std::string& workingDirectory = {});
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    bool running() const { return m_pid > 0; }
    pid_t pid() const { return m_pid; }

    // Waits up to `timeoutMs` for output and appends what is there to `out`;
    // false once the child has closed its stdout and all was read.
    bool readSome(int timeoutMs, std::string& out);
    // Everything the child writes until it closes its stdout.
    std::string readAll();

    void kill(int signal);
    // Waits for the child to end; its wait status, or -1.
    int wait();

private:
    pid_t m_pid = -1;
    int m_stdout = -1;
};
