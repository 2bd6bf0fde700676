#include "calllog/FrameAge.h"

#include <algorithm>
#include <limits>

namespace FrameAge {

std::chrono::milliseconds threshold(const ChannelCounters& channel) {
    return std::max(kMinimumAge, channel.recentInterval * kIntervalFactor);
}

std::optional<int> oldPictureSeconds(const ChannelCounters& channel, ChannelCounters::TimePoint now) {
    if (channel.frames == 0 || now < channel.lastFrame)
        return std::nullopt;
    const auto age = std::chrono::duration_cast<std::chrono::milliseconds>(now - channel.lastFrame);
    if (age <= threshold(channel))
        return std::nullopt;
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(age).count();
    return int(std::min<int64_t>(seconds, std::numeric_limits<int>::max()));
}

bool stalled(const ChannelCounters& channel, ChannelCounters::TimePoint now) {
    return channel.frames > 0 && now - channel.lastFrame >= kStalledAge;
}

} // namespace FrameAge
