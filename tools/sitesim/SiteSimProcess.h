#pragma once

// Runs dialscope-sitesim as a child process for integration tests: starts it
// with a link, a control socket and a JSON log inside a given folder, waits
// until it is ready, sends control commands, reads the log, and stops it with
// SIGTERM (also when the object goes away).

#include <chrono>
#include <string>
#include <sys/types.h>
#include <vector>

class SiteSimProcess {
public:
    SiteSimProcess() = default;
    ~SiteSimProcess();
    SiteSimProcess(const SiteSimProcess&) = delete;
    SiteSimProcess& operator=(const SiteSimProcess&) = delete;

    // Path of the built executable.
    static std::string executable();

    // Starts the simulator with `args` plus --link DIR/modem, --control
    // DIR/control and --log DIR/sitesim.log, and waits (up to 10 s) until the
    // link and the control socket exist. False, with a reason, otherwise.
    bool start(const std::string& dir, const std::vector<std::string>& args, std::string& error);

    const std::string& linkPath() const { return m_link; }
    const std::string& controlPath() const { return m_control; }
    const std::string& logPath() const { return m_log; }
    pid_t pid() const { return m_pid; }

    // Sends one control command and returns the reply line ("" when the
    // simulator cannot be reached).
    std::string command(const std::string& line) const;

    // The TCP port of a simulator started with --tcp or --rfc2217 (0 asks for
    // any free one); 0 when it has none.
    int tcpPort() const;
    // The modem's address for the program: "tcp://127.0.0.1:PORT" or
    // "rfc2217://127.0.0.1:PORT"; the link path without a TCP port.
    std::string modemUrl() const;

    std::vector<std::string> logLines() const;
    // Waits until a log line contains every fragment; returns that line, or ""
    // after the timeout. Lines before `skip` are not considered.
    std::string waitForLog(const std::vector<std::string>& fragments, std::chrono::milliseconds timeout,
                           size_t skip = 0) const;

    // SIGTERM and wait; the exit status (as waitpid reports it), or -1.
    int stop();

private:
    pid_t m_pid = -1;
    std::string m_link;
    std::string m_control;
    std::string m_log;
    bool m_telnet = false;
};
