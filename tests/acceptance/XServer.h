#pragma once

// A private X server (Xvfb) for one scenario, so the program under test runs
// on a real X display with real keyboard focus, window titles and pixels,
// apart from any desktop and from other tests running at the same time.
//
// How it works: Xvfb is started with -displayfd, so it picks a free display
// number itself and reports it on a pipe once it accepts connections; nothing
// is guessed or raced. No window manager runs: the scenarios focus windows
// explicitly and read the program's own window-state requests. The server is
// killed and reaped when the object goes away.

#include "tests/support/ChildProcess.h"

#include <memory>
#include <string>
#include <vector>

class XServer {
public:
    static constexpr int kWidth = 1280;
    static constexpr int kHeight = 1024;

    XServer() = default;
    ~XServer();
    XServer(const XServer&) = delete;
    XServer& operator=(const XServer&) = delete;

    // Starts the server and waits until it is ready; false when it failed.
    bool start();
    // ":N", empty before a successful start.
    const std::string& display() const { return m_display; }
    // "DISPLAY=:N" and the other settings an X client of this server needs.
    std::vector<std::string> clientEnvironment() const;

private:
    std::unique_ptr<ChildProcess> m_server;
    std::string m_display;
};
