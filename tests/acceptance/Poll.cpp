#include "tests/acceptance/Poll.h"

#include "tests/support/ChildProcess.h"

#include <chrono>
#include <csignal>
#include <sys/wait.h>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

} // namespace

bool waitUntil(const std::function<bool()>& condition, int timeoutMs, int stepMs) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (Clock::now() < deadline) {
        if (condition())
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(stepMs));
    }
    return condition();
}

ToolResult runTool(const std::vector<std::string>& argv, const std::vector<std::string>& environment,
                   int timeoutMs) {
    ToolResult result;
    ChildProcess child(argv, environment);
    if (!child.running())
        return result;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    bool open = true;
    while (open) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) {
            result.timedOut = true;
            child.kill(SIGKILL);
            break;
        }
        open = child.readSome(int(left.count()), result.output);
    }
    const int status = child.wait();
    if (!result.timedOut && status >= 0 && WIFEXITED(status))
        result.exitCode = WEXITSTATUS(status);
    return result;
}
