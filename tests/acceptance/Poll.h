#pragma once

// Waiting without sleeping blindly, and running the small command-line tools
// the scenarios look through (xdotool, import, dsreg, ffprobe, the sim's
// --send).
//
// How it works: WaitUntil asks its condition every `stepMs` until it holds or
// the time is up, so a fast build passes quickly and a slow (sanitizer) build
// only uses more of the same generous budget. RunTool starts a child process
// with environment overrides, collects its standard output and kills it when
// it outlives its time.

#include <functional>
#include <string>
#include <vector>

// Budgets sized for sanitizer builds on a loaded two-core machine; a poll
// ends as soon as its condition holds.
inline constexpr int kShortWaitMs = 10000;
inline constexpr int kLongWaitMs = 60000;

// True as soon as `condition` holds; false when it still fails after
// `timeoutMs`. The condition is asked once more at the deadline.
bool waitUntil(const std::function<bool()>& condition, int timeoutMs, int stepMs = 100);

struct ToolResult {
    int exitCode = -1; // -1: did not start, was killed or did not exit normally
    bool timedOut = false;
    std::string output; // standard output
    bool ok() const { return exitCode == 0 && !timedOut; }
};

// Runs argv (argv[0] an absolute path) with `environment` ("NAME=value")
// added to the test's own, for at most `timeoutMs`.
ToolResult runTool(const std::vector<std::string>& argv, const std::vector<std::string>& environment = {},
                   int timeoutMs = kShortWaitMs);
