#pragma once

// The command line's call-log export: "--call-log-csv FILE" (or
// "--call-log-csv=FILE") writes the whole call log to FILE as CSV and ends
// the program before anything else starts: no window, no instance check, so
// scripts may run it while the program runs. Any other command line is left
// to the program.

#include <optional>

// The exit status when the command line asks for the export (0: written,
// 1: the log could not be read or FILE written, 2: FILE missing); nothing
// when it does not ask for it. `logPath` empty: the default call log.
std::optional<int> runCallLogCommand(int argc, const char* const* argv, const char* logPath = nullptr);
