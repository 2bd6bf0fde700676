#pragma once

// What the scenarios read off a live call from the outside: the channel
// windows found in a screenshot of the main window by their toolbars, and
// the clips in the record folder as ffprobe and the file system see them.
//
// How it works: a channel window's toolbar is a black strip with a red
// Record dot above a red Close cross (both red while the window does not
// record); pairs of red marks stacked in one column on such a strip are one
// window. The other buttons and the picture sit at fixed distances from
// Record.

#include <QImage>
#include <QPoint>
#include <QRect>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

struct ChannelToolbar {
    QPoint record;
    QPoint close;
    QPoint stop() const { return record + QPoint(0, 24); }
    QPoint snapshot() const { return record + QPoint(0, 87); }
    // A part of the picture, right of the toolbar.
    QRect picture() const { return QRect(record.x() + 30, record.y() + 10, 140, 90); }
};

// The channel windows' toolbars in `image`, top to bottom, left to right.
std::vector<ChannelToolbar> findChannelToolbars(const QImage& image);
// True when a red mark (Record dot or Close cross) is drawn around `centre`.
bool hasRedMarkAt(const QImage& image, QPoint centre);

// ffprobe's view of a clip's video stream ("codec_name", "nb_read_frames",
// "width", ...); empty when ffprobe cannot read it.
std::map<std::string, std::string> probeVideo(const std::string& path);
// Names of the files in `folder` ending in `extension` (".avi"), sorted.
std::vector<std::string> filesWithExtension(const std::string& folder, const std::string& extension);
// Names of every file in `folder`, sorted.
std::vector<std::string> filesIn(const std::string& folder);
// 0 when the file does not exist.
uintmax_t fileSize(const std::string& path);
