#include "tests/acceptance/ProgramUnderTest.h"

#include "tests/acceptance/AcceptancePaths.h"
#include "tests/acceptance/XServer.h"

#include <chrono>
#include <csignal>
#include <filesystem>
#include <sys/stat.h>
#include <sys/wait.h>

ProgramUnderTest::ProgramUnderTest(const XServer& server, std::string sandbox, std::string modemLink)
    : m_server(server)
    , m_sandbox(std::move(sandbox))
    , m_modemLink(std::move(modemLink))
    , m_xdo(server) {}

ProgramUnderTest::~ProgramUnderTest() {
    if (running())
        terminate(2000);
}

bool ProgramUnderTest::start(const std::vector<std::string>& arguments) {
    for (const char* folder : {"registry", "work", "home", "config", "data", "cache", "runtime", "tmp"})
        std::filesystem::create_directories(m_sandbox + "/" + folder);
    ::chmod((m_sandbox + "/runtime").c_str(), 0700);

    std::vector<std::string> environment = m_server.clientEnvironment();
    for (const std::string& entry : {
             "DIALSCOPE_REGISTRY_DIR=" + registryDir(),
             "DIALSCOPE_MODEMS=" + m_modemLink,
             "HOME=" + m_sandbox + "/home",
             "XDG_CONFIG_HOME=" + m_sandbox + "/config",
             "XDG_DATA_HOME=" + m_sandbox + "/data",
             "XDG_CACHE_HOME=" + m_sandbox + "/cache",
             "XDG_RUNTIME_DIR=" + m_sandbox + "/runtime",
             // The single-instance socket lives in the temporary folder.
             "TMPDIR=" + m_sandbox + "/tmp",
             // No session bus and no accessibility bridge behind the test server.
             std::string("DBUS_SESSION_BUS_ADDRESS=disabled:"),
             std::string("NO_AT_BRIDGE=1"),
         })
        environment.push_back(entry);

    std::vector<std::string> argv{kProgramPath};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    m_process = std::make_unique<ChildProcess>(argv, environment, workingDir());
    m_ended = false;
    m_status = -1;
    return m_process->running();
}

bool ProgramUnderTest::running() const {
    return m_process && !m_ended && m_process->running();
}

pid_t ProgramUnderTest::pid() const {
    return m_process ? m_process->pid() : -1;
}

std::optional<WindowId> ProgramUnderTest::waitForMainWindow(int timeoutMs) {
    std::optional<WindowId> found;
    waitUntil(
        [&] {
            // The splash and the message boxes carry the same title.
            for (WindowId window : m_xdo.search("^Dialscope$")) {
                const std::string type = m_xdo.property(window, "_NET_WM_WINDOW_TYPE");
                if (m_xdo.pid(window) == pid() && type.find("_NORMAL") != std::string::npos &&
                    type.find("_DIALOG") == std::string::npos && type.find("_SPLASH") == std::string::npos)
                    found = window;
            }
            return found.has_value() || !running();
        },
        timeoutMs, 200);
    return found;
}

std::optional<int> ProgramUnderTest::waitForExit(int timeoutMs) {
    if (!m_process)
        return std::nullopt;
    if (!m_ended) {
        std::string ignored;
        const bool closed = waitUntil([&] { return !m_process->readSome(50, ignored); }, timeoutMs, 1);
        if (!closed)
            return std::nullopt;
        m_status = m_process->wait();
        m_ended = true;
    }
    if (m_status < 0 || !WIFEXITED(m_status))
        return std::nullopt;
    return WEXITSTATUS(m_status);
}

void ProgramUnderTest::terminate(int graceMs) {
    if (!running())
        return;
    m_process->kill(SIGTERM);
    if (!waitForExit(graceMs)) {
        m_process->kill(SIGKILL);
        m_status = m_process->wait();
        m_ended = true;
    }
}
