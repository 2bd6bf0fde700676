#pragma once

// Command line of dialscope-sitesim: what the simulated modem and site do,
// where the pseudo-terminal and the control socket are published, and the
// client mode (--send) that passes control commands to a running simulator.

#include "tools/sitesim/DamageGenerator.h"
#include "tools/sitesim/ModemEmulator.h"
#include "tools/sitesim/SiteSimulator.h"

#include <optional>
#include <string>
#include <vector>

namespace sitesim {

struct ScheduledCommand {
    Millis at{0};
    std::string command;
};

struct SimOptions {
    std::string link;    // symlink to the pseudo-terminal's slave
    std::string control; // UNIX socket for control commands; empty: none
    std::string logPath; // JSON lines; "-" for standard output; empty: none
    // Also reachable over TCP on the loopback address (port 0: any free one,
    // shown by "status"); Telnet with COM-PORT-CONTROL when `telnet`.
    std::optional<uint16_t> tcpPort;
    bool telnet = false;
    bool dataOnly = false;
    bool incoming = false;             // data-only: the session is a call the site placed
    long bps = 0;                      // 0: no bandwidth limit
    std::optional<uint64_t> chaosSeed; // set: the site is a bad peer from the start
    double chaosRate = DamageGenerator::kDefaultRate;
    std::optional<DamageKind> flood; // set: the bad peer floods with this kind
    ModemConfig modem;
    SiteConfig site;
    std::vector<ScheduledCommand> at;      // from start-up
    std::vector<ScheduledCommand> onLogin; // from each accepted login
    bool help = false;
    // Client mode: send these commands to the socket and print the replies.
    std::string sendSocket;
    std::vector<std::string> sendCommands;
};

// Parses the arguments after the program name; nothing and a message in
// `error` when they are invalid.
std::optional<SimOptions> parseOptions(const std::vector<std::string>& args, std::string& error);
std::string usageText();

} // namespace sitesim
