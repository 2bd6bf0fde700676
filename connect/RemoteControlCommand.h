#pragma once

// The remote control command without widgets: only while a call is connected
// and a port exists, ask for a choice; CloseSite and RebootSite are sent at
// once without confirmation, RunProgram asks for a command line and sends it
// (with its terminating NUL; no payload when empty) unless that was
// cancelled. Nothing ever comes back for these packets.

#include "connect/RemoteChoice.h"

#include <QString>

#include <functional>
#include <optional>

class PacketQueue;

struct RemoteControlPrompts {
    std::function<RemoteChoice()> choose;
    // The command line, or nothing when cancelled.
    std::function<std::optional<QString>()> commandLine;
};

// True when a packet was queued. `port` may be null (no port: nothing happens).
bool runRemoteControl(bool connected, PacketQueue* port, const RemoteControlPrompts& prompts);
