#pragma once

// The operator's hands and eyes on a test X server, through xdotool and
// xprop: find top-level windows by title, read their titles, geometry and
// properties, give one the keyboard focus, press keys, type text and click at
// positions relative to a window.
//
// How it works: every call runs the tool once against the server's display;
// waits poll the window list until the condition holds or the time is up.
// Keys go through the XTEST extension to whatever has the focus, exactly as
// a keyboard would, so every input call first focuses its window and checks
// that the focus arrived (there is no window manager to do it).

#include "tests/acceptance/Poll.h"

#include <QRect>

#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

class XServer;

using WindowId = unsigned long;

class Xdo {
public:
    explicit Xdo(const XServer& server);

    // Visible top-level windows whose title matches the extended regular
    // expression `titleRegex`, in the server's stacking order.
    std::vector<WindowId> search(const std::string& titleRegex) const;
    // The first such window, waiting up to `timeoutMs` for one to appear.
    std::optional<WindowId> waitForWindow(const std::string& titleRegex, int timeoutMs = kShortWaitMs) const;
    // True once no visible window matches any more.
    bool waitForNoWindow(const std::string& titleRegex, int timeoutMs = kShortWaitMs) const;

    // Every visible window of process `pid`, titled or not (menus too).
    std::vector<WindowId> windowsOf(pid_t pid) const;

    std::string title(WindowId window) const;
    pid_t pid(WindowId window) const;
    // Position on the screen and size; an empty rectangle when unknown.
    QRect geometry(WindowId window) const;
    // The raw xprop text of one property ("_NET_WM_STATE(ATOM) = ...").
    std::string property(WindowId window, const std::string& name) const;
    // True for a window the window manager never sees (menus, tooltips).
    bool overrideRedirect(WindowId window) const;
    WindowId focusedWindow() const;

    // Puts `window` above the others (an operator clicking its frame).
    bool raise(WindowId window) const;
    // Gives `window` the keyboard focus; true once it has it.
    bool focus(WindowId window) const;
    // The tool's pause after each key: slow enough for a dialog typed into.
    static constexpr int kKeyDelayMs = 60;
    // Presses key combinations ("alt+c", "Return", "ctrl+a") in `window`.
    bool key(WindowId window, const std::vector<std::string>& keys, int delayMs = kKeyDelayMs) const;
    // Presses keys wherever the keyboard is now (an open menu grabs it).
    // The call returns `delayMs` a key after the key went out.
    bool press(const std::vector<std::string>& keys, int delayMs = kKeyDelayMs) const;
    bool type(WindowId window, const std::string& text) const;
    // Clicks at (x, y) relative to the window's top-left corner.
    bool click(WindowId window, int x, int y, int button = 1) const;
    // Moves the pointer there without clicking (a button under the pointer
    // is drawn highlighted, which changes what a screenshot shows).
    bool moveTo(WindowId window, int x, int y) const;

private:
    ToolResult run(const std::vector<std::string>& arguments) const;

    const XServer& m_server;
};
