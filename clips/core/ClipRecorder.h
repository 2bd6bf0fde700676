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
// clock and the record folder's text once (the folder itself is looked at
// with the files, on the writer); RecordFrame checks a frame and hands a
// copy of it over; StopRecording completes the clip. Everything that touches
// the disk (creating the files, writing, syncing, completing) runs as jobs
// on the program's one ClipWriterThread when the environment names one, in
// order per clip, so a stalled record folder never holds up the caller; the
// clip's entry is saved on the caller's thread when the writer reports the
// clip complete. Without a writer thread every job runs at once on the
// caller's thread (the same steps, synchronously). The folder, names and
// start time are kept for the whole clip, so a record folder changed in the
// middle of a clip does not move it.
//
// Frames are untrusted: a frame whose header declares more bytes than it
// holds is not recorded at all, so nothing is read past the caller's bytes.
// Both files are created new when the recording starts (never replacing or
// following anything, mode 0640); a stem that is taken in any way, e.g. by a
// second recording of the same channel in the same second, gets "_1", "_2",
// ... appended. The image file stays empty until the first frame and is
// removed when no frame came. Frames the writer's queue has no room for are
// dropped and counted (ClipWriterThread::dropped).
//
// Failures are silent for the operator, as for every clip operation, and
// logged (dialscope.clips): a clip whose files or headers cannot be written
// (missing folder, full disk, a folder name too long for the clip index)
// leaves nothing behind and the recorder idle; a frame that cannot be written
// ends the recording as Stop does, so the clip keeps every earlier frame and
// is listed; an image file that cannot be written completely is removed, and
// the clip goes on without one. With a writer thread these show in
// recording() once the writer's report has come back.
//
// Destroying a recorder stops a running recording, so its record is written.
// Used on one thread (the UI thread).

#include "clips/core/ClipIndex.h"
#include "clips/core/ClipsInUse.h"
#include "platform/avi/AviWriter.h"
#include "platform/dib/PackedDib.h"

#include <cstdint>
#include <ctime>
#include <functional>
#include <memory>
#include <span>
#include <string>

class ClipWriterThread;

class ClipRecorder {
public:
    struct Environment {
        // The record folder at the moment a recording starts, as text: called
        // on the caller's thread, so it must not touch the folder.
        std::function<std::string()> recordPath;
        // The local clock; std::time when empty.
        std::function<std::time_t()> clock;
        AviWriter::Options aviOptions;
        // Where the files are written; on the caller's thread when empty.
        std::shared_ptr<ClipWriterThread> writer;
        // What recordPath's text stands for on disk (e.g. another folder
        // when it is unreachable); called where the files are written, the
        // writer thread, so it may wait on the volume. The text as it is
        // when empty.
        std::function<std::string(const std::string&)> resolveFolder;
    };

    ClipRecorder(ClipIndex& index, Environment environment);
    ~ClipRecorder();
    ClipRecorder(const ClipRecorder&) = delete;
    ClipRecorder& operator=(const ClipRecorder&) = delete;

    // Stops any running recording, then starts a clip of `channel` whose
    // stream format is `streamFormat` (followed by `colorTable` when the
    // caller holds it: 4 x biClrUsed bytes; without it the declared format
    // carries no colour table). True when the clip is under way: with a
    // writer thread, until the writer reports that its files could not be
    // made.
    bool StartRecording(int32_t channel, const BitmapInfoHeader& streamFormat,
                        std::span<const uint8_t> colorTable = {});
    // Appends one frame (a packed DIB) while recording; the first frame of a
    // clip also becomes its image file. An empty span is no frame. A frame
    // the disk takes no more stops the recording (recording() turns false).
    void RecordFrame(std::span<const uint8_t> frame);
    // Completes the video file and saves the clip record when recording;
    // harmless otherwise.
    void StopRecording();

    // The channel window's Record command: nothing while recording; otherwise
    // StartRecording and, when the frame buffer holds a frame (its first word
    // is 40), record that frame at once so the clip begins with the picture
    // on screen. True when a recording was started.
    bool recordCommand(int32_t channel, const BitmapInfoHeader& streamFormat,
                       std::span<const uint8_t> frameBuffer);

    // Enable rules: Record while idle, Stop while recording.
    bool recording() const;

    // Brings the video file on disk up to date when it is due; call it from a
    // timer while recording so a pause in the stream loses nothing.
    void flushIfDue();

    // The clip being recorded (empty when idle; the names, and the folder as
    // resolved, once the files exist).
    const std::string& recordFolder() const;
    const std::string& videoFileName() const;
    const std::string& imageFileName() const;
    // Stream position of the next frame; kept after stop, reset by a start.
    int32_t writtenFrames() const { return m_written; }

    struct Clip; // one clip's state, shared with the writer's jobs

private:
    std::time_t now() const;
    bool run(std::function<void()> job, size_t bytes, bool mustRun);

    ClipIndex& m_index;
    Environment m_env;
    std::shared_ptr<Clip> m_clip; // the current clip until Stop or the next start
    int32_t m_written = 0;
};
