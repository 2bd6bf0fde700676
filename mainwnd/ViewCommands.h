#pragma once

// Identifiers of the main window's commands for the call views and the
// keyboard: the call panel and call log, one channel alone over the view
// area, activating channel windows by their place and the active channel
// window's Record, Stop and Snapshot. They are not part of the frame command
// table: each runs only what the target's own rules allow at that moment
// (a channel window's Record still asks the window's enable rule).

enum ViewCommand : int {
    ID_CHANNEL_ALONE = 33000,      // F11: the active channel alone, or back to the layout
    ID_ACTIVATE_CHANNEL_1 = 33001, // Ctrl+1 ... Ctrl+9: 33001 ... 33009
    ID_ACTIVATE_CHANNEL_9 = 33009,
    ID_ACTIVE_RECORD = 33010,   // Ctrl+R
    ID_ACTIVE_STOP = 33011,     // Ctrl+T
    ID_ACTIVE_SNAPSHOT = 33012, // Ctrl+P
    ID_CALL_PANEL = 33013,      // View > Call panel
    ID_CALL_LOG = 33014,        // View > Call log
};
