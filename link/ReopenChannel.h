#pragma once

// A channel that was open when a dialled call dropped, in the order it was
// opened: a redial opens it again and, when it was recording, records again.

#include <cstdint>

struct ReopenChannel {
    int32_t channel = 0;
    bool recording = false; // restarts as a new clip
    bool operator==(const ReopenChannel&) const = default;
};
