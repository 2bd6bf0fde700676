#include "video/core/PlayerTables.h"

#include "clips/core/ClipIndex.h"

#include <algorithm>
#include <cstdio>

namespace player {

int speedAfterScroll(int index, int code, int position) {
    const int last = int(kSpeeds.size()) - 1;
    switch (code) {
    case LineUp:
    case PageUp:
        return std::max(index - 1, 0);
    case LineDown:
    case PageDown:
        return std::min(index + 1, last);
    case ThumbPosition:
    case ThumbTrack:
        return position >= 0 && position <= last ? position : kDefaultSpeed;
    default:
        return index;
    }
}

std::optional<int64_t> positionScrollTarget(int code, int sliderPosition, int reportedPosition) {
    if (code >= LineUp && code <= PageDown)
        return sliderPosition;
    if (code == ThumbPosition || code == ThumbTrack)
        return reportedPosition;
    return std::nullopt;
}

bool seekMoves(int64_t target, int64_t current, int64_t stop) {
    return target <= stop && target != current;
}

int64_t rewindTarget(int64_t current) {
    return std::max<int64_t>(current - 1, 0);
}

int64_t forwardTarget(int64_t current, int64_t stop) {
    return std::min(current + 1, stop);
}

std::string infoLine(int64_t current, int64_t total, double currentSeconds, double durationSeconds) {
    char text[128];
    std::snprintf(text, sizeof text, "Total: %d/%d Frame  --   %.1f/%.1f Sec", int32_t(current),
                  int32_t(total), currentSeconds, durationSeconds);
    return text;
}

std::string rateLabel(double averageTimePerFrame) {
    char text[64];
    std::snprintf(text, sizeof text, "FPS: %2.1f", averageTimePerFrame != 0 ? 1 / averageTimePerFrame : 0.0);
    return text;
}

std::string clipTitle(const std::string& fileName, int64_t fileLength) {
    char size[32];
    std::snprintf(size, sizeof size, "%8dK", int32_t(fileLength >> 10));
    return fileName + " " + size;
}

HeaderTexts headerFor(const ClipRecord& record) {
    char channel[16];
    std::snprintf(channel, sizeof channel, "%04d", int(record.Channel));
    return {std::string(channel) + " " + record.Location, "Start:" + record.SDate + "[" + record.STime + "]",
            "Ending:" + record.EDate + "[" + record.ETime + "]"};
}

} // namespace player
