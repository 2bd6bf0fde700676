#pragma once

// Texts that name clips: the file name stem of a recording (start stamp and
// channel number), the fixed-width dates and times kept in the clip index, and
// the channel label that groups clips in the browser and the search dialog.
//
// The dates "%04d/%02d/%02d" and times "%02d:%02d" are fixed width, so a
// byte-wise comparison of their concatenation orders them in time; the search
// relies on that. File names begin with the 14-digit stamp, so sorting them
// by text sorts clips by start time.

#include <cstdint>
#include <ctime>
#include <string>

// "%Y%m%d%H%M%S" of a local time: 14 digits.
std::string clipStampText(const std::tm& local);
// "%04d/%02d/%02d": year, month 1-12, day.
std::string clipDateText(const std::tm& local);
// "%02d:%02d": hour 0-23, minute.
std::string clipTimeText(const std::tm& local);
// The channel number as "%04d" (more digits above 9999).
std::string channelText(int32_t channel);
// "%04d" of the channel, one space, then the channel name (the space is kept
// when the name is empty).
std::string clipChannelLabel(int32_t channel, const std::string& location);
// The image file that belongs to a video file name: the name up to its first
// "." followed by ".img".
std::string imageNameFor(const std::string& videoFileName);
// The local time of a clock reading.
std::tm localTime(std::time_t time);
