#pragma once

// The built program started as a separate process on a test X server, the
// way an operator starts it, but in a sandbox: its own settings store, home,
// runtime, temporary and configuration folders (so neither its settings nor
// its single-instance socket meet any other copy), and a working folder (which is also the
// default record folder) inside one temporary folder, and its modem list
// pointing at the simulated site's terminal.
//
// How it works: the child gets environment overrides only (the test process
// itself is never changed). The main window is found by its title among the
// visible top-level windows that carry the child's process id; the end of the
// process is seen as the end of its standard output (the pipe closes when it
// exits), so no signal handling is involved. A child still running when the
// object goes away is killed.

#include "tests/acceptance/Xdo.h"
#include "tests/support/ChildProcess.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

class XServer;

class ProgramUnderTest {
public:
    // `sandbox`: an existing empty folder the program may fill; `modemLink`:
    // the terminal of the simulated modem (empty: no modem).
    ProgramUnderTest(const XServer& server, std::string sandbox, std::string modemLink);
    ~ProgramUnderTest();
    ProgramUnderTest(const ProgramUnderTest&) = delete;
    ProgramUnderTest& operator=(const ProgramUnderTest&) = delete;

    // Starts the program with `arguments`; false when it could not be started.
    bool start(const std::vector<std::string>& arguments = {});
    bool running() const;
    pid_t pid() const;

    // The folders given to the program.
    std::string registryDir() const { return m_sandbox + "/registry"; }
    std::string workingDir() const { return m_sandbox + "/work"; }

    // The visible main window (title "Dialscope") of this process.
    std::optional<WindowId> waitForMainWindow(int timeoutMs = kLongWaitMs);
    // Waits for the process to end by itself; its exit code, or nullopt when
    // it is still running after `timeoutMs` or did not exit normally.
    std::optional<int> waitForExit(int timeoutMs = kLongWaitMs);
    // Ends the process (SIGTERM, then SIGKILL after `graceMs`).
    void terminate(int graceMs = 5000);

private:
    const XServer& m_server;
    std::string m_sandbox;
    std::string m_modemLink;
    Xdo m_xdo;
    std::unique_ptr<ChildProcess> m_process;
    bool m_ended = false;
    int m_status = -1;
};
