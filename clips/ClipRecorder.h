#pragma once

// Records one live channel as a clip: a video file ("<stem>.avi") that holds
// every recorded frame's compressed image data as received, one key-frame
// sample per frame at two frames per second; an image file ("<stem>.img")
// holding the first recorded frame byte for byte (header, colour table,
// compressed data); and the clip's index entry, written when the recording
// stops. The stem is the start time "%Y%m%d%H%M%S" followed by the channel
// number "%04d".
//
// How it works: a channel window owns one recorder. StartRecording reads the
// clock and the record folder once, creates the video file and declares its
// stream from the window's stream format; RecordFrame appends a frame with one
// gathered write straight from the caller's bytes (no copy, no allocation);
// StopRecording completes the video file and saves the clip record. The
// folder, names and start time are kept for the whole clip, so a record folder
// changed in the middle of a clip does not move it.
//
// Frames are untrusted: a frame whose header declares more bytes than it
// holds is not recorded at all, so nothing is read past the caller's bytes.
// A second recording of the same channel in the same second gets the stem
// with "_1", "_2", ... appended instead of replacing the earlier clip.
// Failures are silent, as for every clip operation: a video file that cannot
// be created leaves the recorder idle; an image file that cannot be written
// completely is removed, and the clip goes on without one.
//
// Destroying a recorder stops a running recording, so its record is written.
// Used on the UI thread only.

#include "AviWriter.h"
#include "ClipIndex.h"
#include "ClipsInUse.h"
#include "PackedDib.h"

#include <cstdint>
#include <ctime>
#include <functional>
#include <memory>
#include <span>
#include <string>

class ClipRecorder {
public:
    struct Environment {
        // The record folder at the moment a recording starts.
        std::function<std::string()> recordPath;
        // The local clock; std::time when empty.
        std::function<std::time_t()> clock;
        AviWriter::Options aviOptions;
    };

    ClipRecorder(ClipIndex& index, Environment environment);
    ~ClipRecorder();
    ClipRecorder(const ClipRecorder&) = delete;
    ClipRecorder& operator=(const ClipRecorder&) = delete;

    // Stops any running recording, then starts a clip of `channel` whose
    // stream format is `streamFormat` (followed by `colorTable` when the
    // caller holds it: 4 x biClrUsed bytes; without it the declared format
    // carries no colour table). True when the video file and its stream are
    // open.
    bool StartRecording(int32_t channel, const BitmapInfoHeader& streamFormat,
                        std::span<const uint8_t> colorTable = {});
    // Appends one frame (a packed DIB) while recording; the first frame of a
    // clip also becomes its image file. An empty span is no frame.
    void RecordFrame(std::span<const uint8_t> frame);
    // Completes the video file and saves the clip record when recording;
    // harmless otherwise.
    void StopRecording();

    // The channel window's Record command: nothing while recording; otherwise
    // StartRecording and, when the frame buffer holds a frame (its first word
    // is 40), record that frame at once so the clip begins with the picture
    // on screen. True when a recording was started.
    bool RecordCommand(int32_t channel, const BitmapInfoHeader& streamFormat,
                       std::span<const uint8_t> frameBuffer);

    // Enable rules: Record while idle, Stop while recording.
    bool recording() const { return m_recording; }

    // Brings the video file on disk up to date when it is due; call it from a
    // timer while recording so a pause in the stream loses nothing.
    void flushIfDue();

    // The clip being recorded (empty when idle).
    const std::string& recordFolder() const { return m_folder; }
    const std::string& videoFileName() const { return m_videoName; }
    const std::string& imageFileName() const { return m_imageName; }
    // Stream position of the next frame; kept after stop, reset by a start.
    int32_t writtenFrames() const { return m_written; }

private:
    std::time_t now() const;
    bool pickNames(int32_t channel, const std::tm& start);
    void writeImageFile(std::span<const uint8_t> frame);

    ClipIndex& m_index;
    Environment m_env;

    std::unique_ptr<AviWriter> m_writer;
    bool m_recording = false;
    bool m_firstFramePending = false;
    int32_t m_written = 0;
    int32_t m_channel = 0;
    std::string m_folder;
    std::string m_videoName;
    std::string m_imageName;
    std::string m_startDate;
    std::string m_startTime;
    ClipsInUse::Token m_inUse; // keeps clean-ups away from the clip being written
};
