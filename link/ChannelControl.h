#pragma once

// What a live channel window asks of the connection that made it: the window
// count and the fixed window (they drive the Fix command's enable and check
// rules), and the Fix and Close commands themselves.
//
// How it works: the connection (CommPort) implements it and keeps the window
// list, so a channel window reaches it directly instead of through the main
// window. All calls happen on the user-interface thread.

#include <cstdint>

class ChannelControl {
public:
    virtual ~ChannelControl() = default;

    // Live channel windows of the connection.
    virtual int WindowCount() const = 0;
    // The id of the fixed window; 0 when none.
    virtual uint64_t FixedWindow() const = 0;
    // Sends FixChannel for the window's channel and toggles the fixed window
    // (ignored with fewer than two windows).
    virtual void FixWindow(uint64_t windowId) = 0;
    // Sends CloseChannel when asked, then removes the window (its slot stays).
    // The window is closed through its handle before this returns.
    virtual void CloseWindow(uint64_t windowId, bool sendCloseChannel) = 0;
};
