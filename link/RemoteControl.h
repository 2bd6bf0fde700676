#pragma once

// The remote-control packets: close the site's program, reboot the site, or
// have it run a command line. Nothing comes back for any of them.

#include "link/Protocol.h"

#include <string_view>

void sendCloseSite(PacketQueue& queue);
void sendRebootSite(PacketQueue& queue);
// The command line with its terminating NUL as payload; no payload when empty.
void sendRunProgram(PacketQueue& queue, std::string_view commandLine);
