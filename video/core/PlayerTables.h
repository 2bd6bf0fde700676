#pragma once

// The player's fixed tables and the rules of its controls, kept apart from
// the widgets: the twenty playback speeds with their labels, the five video
// sizes, how the speed slider's scroll codes move the speed, where the step
// commands land, and the texts the player shows.
//
// Scroll codes are those of a track bar: 0 line up/left, 1 line down/right,
// 2 page up/left, 3 page down/right, 4 thumb position, 5 thumb tracking.

#include <array>
#include <cstdint>
#include <optional>
#include <string>

struct ClipRecord;

namespace player {

struct Speed {
    double rate;
    const char* label;
};

// The labels of indices 1 to 4 are not the reciprocals of their rates.
inline constexpr std::array<Speed, 20> kSpeeds{
    {{0.1, "/10"}, {0.2, "/8"},   {0.4, "/6"},   {0.6, "/4"},   {0.8, "/2"},   {1.0, "x1"},  {1.5, "x1.5"},
     {2.0, "x2"},  {2.5, "x2.5"}, {3.0, "x3"},   {4.0, "x4"},   {5.0, "x5"},   {6.0, "x6"},  {8.0, "x8"},
     {9.0, "x9"},  {10.0, "x10"}, {20.0, "x20"}, {30.0, "x30"}, {40.0, "x40"}, {50.0, "x50"}}};
inline constexpr int kDefaultSpeed = 5;

struct VideoSize {
    int width;
    int height;
};
inline constexpr std::array<VideoSize, 5> kSizes{
    {{160, 120}, {176, 144}, {320, 240}, {352, 288}, {480, 360}}};
inline constexpr int kDefaultSize = 3;

enum ScrollCode { LineUp = 0, LineDown = 1, PageUp = 2, PageDown = 3, ThumbPosition = 4, ThumbTrack = 5 };

// The speed index after a scroll of the speed slider: steps stay within
// 0..19, a thumb position outside 0..19 selects the default speed; other
// codes keep the index.
int speedAfterScroll(int index, int code, int position);

// The frame a position slider scroll asks for: the slider's own position for
// line and page steps, the reported position for the thumb; nothing for
// other codes.
std::optional<int64_t> positionScrollTarget(int code, int sliderPosition, int reportedPosition);
// Whether seeking to `target` moves anything: not beyond the stop position
// and not the current frame.
bool seekMoves(int64_t target, int64_t current, int64_t stop);

// Rewind and Forward: one frame, within 0..stop.
int64_t rewindTarget(int64_t current);
int64_t forwardTarget(int64_t current, int64_t stop);

// "Total: %d/%d Frame  --   %.1f/%.1f Sec", frames as 32-bit values.
std::string infoLine(int64_t current, int64_t total, double currentSeconds, double durationSeconds);
// "FPS: %2.1f" of the clip's own frame rate (0 when the frame time is 0).
std::string rateLabel(double averageTimePerFrame);
// The window title of an open clip: the file name, a blank and the file's
// length in kilobytes as "%8dK".
std::string clipTitle(const std::string& fileName, int64_t fileLength);

struct HeaderTexts {
    std::string line1; // "%04d" channel, a blank, the location
    std::string start; // "Start:" date "[" time "]"
    std::string end;   // "Ending:" date "[" time "]"
};
HeaderTexts headerFor(const ClipRecord& record);

} // namespace player
