#include "tests/acceptance/XServer.h"

#include "tests/acceptance/AcceptancePaths.h"
#include "tests/acceptance/Poll.h"

#include <chrono>
#include <csignal>

XServer::~XServer() {
    if (m_server) {
        m_server->kill(SIGTERM);
        m_server->wait();
    }
}

bool XServer::start() {
    const std::string screen = std::to_string(kWidth) + "x" + std::to_string(kHeight) + "x24";
    m_server = std::make_unique<ChildProcess>(std::vector<std::string>{
        kXvfbPath, "-displayfd", "1", "-screen", "0", screen, "-nolisten", "tcp", "-noreset"});
    if (!m_server->running())
        return false;
    // The display number arrives as one line once the server is ready.
    std::string out;
    const bool ready = waitUntil(
        [&] {
            if (!m_server->readSome(100, out))
                return true; // the server ended
            return out.find('\n') != std::string::npos;
        },
        kLongWaitMs, 1);
    const size_t end = out.find('\n');
    if (!ready || end == std::string::npos || end == 0)
        return false;
    m_display = ":" + out.substr(0, end);
    return true;
}

std::vector<std::string> XServer::clientEnvironment() const {
    // No authority file: the server accepts local clients without one.
    return {"DISPLAY=" + m_display, "XAUTHORITY=", "QT_QPA_PLATFORM=xcb"};
}
