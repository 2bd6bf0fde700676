#pragma once

// Exports recorded clips of one channel as one video file for handing on:
// either Matroska with the recorded frames copied byte for byte at their exact
// times, or MP4 with H.264 (yuv420p, the clips' constant frame rate,
// "+faststart") that browsers and phones play. Optionally only the frames
// within a time range are kept.
//
// How it works: clips are taken in start order. Each is opened with FFmpeg's
// AVI reader only (a clip file is untrusted: pictures above 4096 x 4096 are
// refused), and a frame's wall-clock time is its clip's start plus its
// presentation time. Output times count from the first exported frame, so a
// gap between clips stays a gap (times jump; nothing is invented). The copy
// keeps each packet as it is; the transcode decodes, converts with libswscale,
// optionally burns a caption (label and the frame's local date and time,
// bottom-left) into the picture with QPainter, and encodes. A clip that cannot
// be opened, or whose stream does not match the first clip's for a copy, is
// skipped with a warning; a clip that fails part way keeps the frames read so
// far.
//
// The file is written under a temporary name beside the target and renamed
// only when complete, so a cancelled or failed export, or a crash, never
// leaves a partial file under the target's name. run() is synchronous and
// checks the abort flag between frames; callers run it on a worker thread.
// The caption needs a QGuiApplication (fonts); without one it is left out.

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

enum class ExportFormat { MkvCopy, Mp4H264 };

struct ExportClip {
    std::string path;
    // Wall-clock start of the clip's first frame, milliseconds since the epoch.
    int64_t startMs = 0;
};

struct ExportRequest {
    std::vector<ExportClip> clips;
    std::string outputPath;
    ExportFormat format = ExportFormat::Mp4H264;
    // Frames shown within [fromMs, untilMs) are kept; every frame without bounds.
    std::optional<int64_t> fromMs;
    std::optional<int64_t> untilMs;
    // The channel label: the file's title and the caption's first words.
    std::string title;
    // Burned-in caption, MP4 only.
    bool caption = true;
};

// What a window asks to export: clips of one channel, its label and an
// optional range; the output file and format are chosen later.
struct ExportPlan {
    std::vector<ExportClip> clips;
    std::string title;
    std::optional<int64_t> fromMs;
    std::optional<int64_t> untilMs;
};

struct ExportResult {
    enum class Status { Done, Cancelled, NothingToExport, Failed };
    Status status = Status::Failed;
    // Why it failed, for the log or stderr.
    std::string reason;
    // One line per clip or frame problem that did not stop the export.
    std::vector<std::string> warnings;
    int64_t framesWritten = 0;
};

class ClipExporter {
public:
    // Called from the exporting thread as frames are done; total is an
    // estimate from the clips' frame counts and the range.
    using Progress = std::function<void(int64_t done, int64_t total)>;

    explicit ClipExporter(ExportRequest request);
    ~ClipExporter();
    ClipExporter(const ClipExporter&) = delete;
    ClipExporter& operator=(const ClipExporter&) = delete;

    ExportResult run(const std::atomic<bool>& abort, const Progress& progress = {});

    // The file's comment: the source clip files and the program's version.
    static std::string provenance(const std::vector<ExportClip>& clips);
    // "YYYY-MM-DDThh:mm:ss.000000Z" of a time in milliseconds since the epoch.
    static std::string utcText(int64_t ms);
    // The caption text of a frame: label and local "YYYY-MM-DD hh:mm:ss".
    static std::string captionText(const std::string& label, int64_t frameMs);

private:
    struct Impl;
    ExportRequest m_request;
};

// The wall-clock start of a recorded clip from its file name, whose first 14
// characters are the local start "%Y%m%d%H%M%S"; nothing for other names.
std::optional<int64_t> clipStartFromFileName(const std::string& fileName);
