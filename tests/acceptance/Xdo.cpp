#include "tests/acceptance/Xdo.h"

#include "tests/acceptance/AcceptancePaths.h"
#include "tests/acceptance/XServer.h"

#include <filesystem>
#include <sstream>

namespace {

std::string trimmed(const std::string& text) {
    const size_t end = text.find_last_not_of("\r\n ");
    return end == std::string::npos ? std::string() : text.substr(0, end + 1);
}

std::string idText(WindowId window) {
    return std::to_string(window);
}

std::vector<WindowId> windowList(const std::string& output) {
    std::vector<WindowId> windows;
    std::istringstream lines(output);
    for (std::string line; std::getline(lines, line);)
        if (!line.empty())
            windows.push_back(std::stoul(line));
    return windows;
}

} // namespace

Xdo::Xdo(const XServer& server)
    : m_server(server) {}

ToolResult Xdo::run(const std::vector<std::string>& arguments) const {
    std::vector<std::string> argv{kXdotoolPath};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    return runTool(argv, m_server.clientEnvironment());
}

std::vector<WindowId> Xdo::search(const std::string& titleRegex) const {
    return windowList(run({"search", "--onlyvisible", "--name", titleRegex}).output);
}

std::vector<WindowId> Xdo::windowsOf(pid_t pid) const {
    return windowList(run({"search", "--onlyvisible", "--pid", std::to_string(pid)}).output);
}

std::optional<WindowId> Xdo::waitForWindow(const std::string& titleRegex, int timeoutMs) const {
    std::optional<WindowId> found;
    waitUntil(
        [&] {
            const std::vector<WindowId> windows = search(titleRegex);
            if (!windows.empty())
                found = windows.front();
            return found.has_value();
        },
        timeoutMs, 200);
    return found;
}

bool Xdo::waitForNoWindow(const std::string& titleRegex, int timeoutMs) const {
    return waitUntil([&] { return search(titleRegex).empty(); }, timeoutMs, 200);
}

std::string Xdo::title(WindowId window) const {
    return trimmed(run({"getwindowname", idText(window)}).output);
}

pid_t Xdo::pid(WindowId window) const {
    const std::string text = trimmed(run({"getwindowpid", idText(window)}).output);
    return text.empty() ? -1 : pid_t(std::stol(text));
}

QRect Xdo::geometry(WindowId window) const {
    std::istringstream lines(run({"getwindowgeometry", "--shell", idText(window)}).output);
    int x = 0, y = 0, width = 0, height = 0;
    for (std::string line; std::getline(lines, line);) {
        const size_t equals = line.find('=');
        if (equals == std::string::npos)
            continue;
        const std::string name = line.substr(0, equals);
        const int value = std::stoi(line.substr(equals + 1));
        if (name == "X")
            x = value;
        else if (name == "Y")
            y = value;
        else if (name == "WIDTH")
            width = value;
        else if (name == "HEIGHT")
            height = value;
    }
    return QRect(x, y, width, height);
}

std::string Xdo::property(WindowId window, const std::string& name) const {
    return trimmed(runTool({kXpropPath, "-id", idText(window), name}, m_server.clientEnvironment()).output);
}

bool Xdo::overrideRedirect(WindowId window) const {
    // xwininfo comes with xprop.
    const std::string xwininfo = (std::filesystem::path(kXpropPath).parent_path() / "xwininfo").string();
    return runTool({xwininfo, "-id", idText(window)}, m_server.clientEnvironment())
               .output.find("Override Redirect State: yes") != std::string::npos;
}

WindowId Xdo::focusedWindow() const {
    const std::string text = trimmed(run({"getwindowfocus", "-f"}).output);
    return text.empty() ? 0 : std::stoul(text);
}

bool Xdo::focus(WindowId window) const {
    return waitUntil(
        [&] {
            run({"windowfocus", "--sync", idText(window)});
            return focusedWindow() == window;
        },
        kShortWaitMs, 100);
}

bool Xdo::raise(WindowId window) const {
    return run({"windowraise", idText(window)}).ok();
}

bool Xdo::key(WindowId window, const std::vector<std::string>& keys, int delayMs) const {
    return focus(window) && press(keys, delayMs);
}

bool Xdo::press(const std::vector<std::string>& keys, int delayMs) const {
    std::vector<std::string> arguments{"key", "--delay", std::to_string(delayMs)};
    arguments.insert(arguments.end(), keys.begin(), keys.end());
    return run(arguments).ok();
}

bool Xdo::type(WindowId window, const std::string& text) const {
    if (!focus(window))
        return false;
    return run({"type", "--delay", "30", text}).ok();
}

bool Xdo::click(WindowId window, int x, int y, int button) const {
    return run({"mousemove", "--window", idText(window), "--sync", std::to_string(x), std::to_string(y),
                "click", std::to_string(button)})
        .ok();
}

bool Xdo::moveTo(WindowId window, int x, int y) const {
    return run({"mousemove", "--window", idText(window), "--sync", std::to_string(x), std::to_string(y)})
        .ok();
}
