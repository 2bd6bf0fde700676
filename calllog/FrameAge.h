#pragma once

// When a channel's picture counts as old: the rule behind the "last frame N s
// ago" mark on a channel window and the stalled mark in the call panel.
//
// A picture is old once its age exceeds both 5 s and three times the
// channel's recent frame interval. Both bounds must be passed so that a
// channel that steadily sends a frame every few seconds (normal over a modem)
// never shows the mark between two frames: the mark means "later than this
// channel usually is", never "as late as it always is". The mark goes with
// the next frame (its age starts again at zero). A channel whose last frame
// is 60 s old or older is stalled.

#include "link/CallCounters.h"

#include <chrono>
#include <optional>

namespace FrameAge {

inline constexpr std::chrono::milliseconds kMinimumAge{5000};
inline constexpr int kIntervalFactor = 3;
inline constexpr std::chrono::milliseconds kStalledAge{60000};

// The age above which the channel's picture counts as old.
std::chrono::milliseconds threshold(const ChannelCounters& channel);
// The picture's age in whole seconds when it counts as old; nothing while
// it is fresh or before the channel's first frame.
std::optional<int> oldPictureSeconds(const ChannelCounters& channel, ChannelCounters::TimePoint now);
bool stalled(const ChannelCounters& channel, ChannelCounters::TimePoint now);

} // namespace FrameAge
