#pragma once

// The far end: the simulated modem and site (dialscope-sitesim) as its own
// process, its modem on a pseudo-terminal published as a link the program
// under test opens, scripted through its control socket and watched through
// its JSON log.
//
// How it works: the sim is started with --link, --control and --log in a
// given folder plus the scenario's own options (short dial and answer
// delays, channels, ...); start() returns once the terminal link and the
// control socket exist. Control commands go through "dialscope-sitesim
// --send", one tool run per command, and the reply line comes back as it is.

#include "tests/acceptance/Poll.h"
#include "tests/support/ChildProcess.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

class SiteSim {
public:
    // `folder`: an existing folder for the link, the socket and the log.
    SiteSim(std::string folder, std::vector<std::string> options);
    ~SiteSim();
    SiteSim(const SiteSim&) = delete;
    SiteSim& operator=(const SiteSim&) = delete;

    bool start();
    const std::string& linkPath() const { return m_link; }

    // The modem pulled out: the sim dies at once (its terminal vanishes with
    // it, whatever was being sent) and the link to the terminal goes, as a
    // USB modem's device node does. A new SiteSim on the same folder plugs
    // a modem in again.
    void unplug();

    // The reply ("OK", "OK {json}"), or nullopt when the sim did not answer
    // or refused the command.
    std::optional<std::string> send(const std::string& command) const;
    // The whole log so far, one JSON object per line.
    std::string log() const;
    // True once a log line contains every one of `fragments`.
    bool waitForLog(const std::vector<std::string>& fragments, int timeoutMs = kLongWaitMs) const;

private:
    std::string m_folder;
    std::string m_link;
    std::string m_control;
    std::string m_logPath;
    std::vector<std::string> m_options;
    std::unique_ptr<ChildProcess> m_process;
};
