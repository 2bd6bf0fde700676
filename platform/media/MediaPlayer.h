#pragma once

// Plays one video clip file (AVI) for a player window: demuxes with
// libavformat, decodes with libavcodec and converts with libswscale into a
// drawable 32-bit image of the size the window asks for.
//
// The player is single-threaded and driven by its caller: no thread, no timer.
// Playback follows a clock (injectable for tests): while running, the position
// is the frame at which play began plus elapsed time x frame rate x rate. Each
// tick() decodes the picture for the present position; the window calls it
// from its timer, as often as it wants pictures (timeToNextFrame() says when
// the next one is due). Reaching the end queues a Complete event, which the
// window fetches with takeEvent() from the same timer.
//
// Positions are counted in frames from 0 to totalFrames(); the position
// totalFrames() is the end of the clip and shows the last frame. Every seek is
// exact: from the nearest key frame at or before the target, decoding on to
// the target (clips written by the recorder hold only key frames, so that is
// one decode).
//
// A clip file is untrusted: only FFmpeg's AVI reader is used, pictures larger
// than 4096 x 4096 pixels are refused, and a missing, truncated or corrupt
// file makes open() fail or a frame undecodable, never a crash. Frames that cannot be decoded
// leave the previous picture in place; a clip that cannot be read on while
// running queues an ErrorAbort event.

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

struct AVFormatContext;
struct AVCodecContext;
struct AVFrame;
struct AVPacket;
struct SwsContext;

enum class PlayState { None, Stopped, Paused, Running };

// Event codes as the player window tests them: 1 end of stream, 3 error abort.
enum class MediaEvent { Complete = 1, ErrorAbort = 3 };

// A picture ready to draw: rows of 32-bit 0xffRRGGBB words in native byte
// order (QImage::Format_RGB32), top row first.
struct VideoImage {
    int width = 0;
    int height = 0;
    int stride = 0; // bytes per row
    std::vector<uint8_t> pixels;
};

class MediaPlayer {
public:
    using Clock = std::function<std::chrono::steady_clock::time_point()>;

    // Without a clock the player follows std::chrono::steady_clock.
    explicit MediaPlayer(Clock clock = {});
    ~MediaPlayer();
    MediaPlayer(const MediaPlayer&) = delete;
    MediaPlayer& operator=(const MediaPlayer&) = delete;

    // Opens a clip, stopped at frame 0 with that frame decoded. False when the
    // file is missing, unreadable or not an AVI file, holds no video stream, no frames, a
    // format without a decoder, or a first frame that cannot be decoded; the
    // player is then closed and errorText() says why.
    bool open(const std::string& path);
    // Releases the clip; state None.
    void close();
    bool isOpen() const { return m_state != PlayState::None; }
    const std::string& errorText() const { return m_error; }

    PlayState state() const { return m_state; }
    // State changes; false only when no clip is open.
    bool run();
    bool pause();
    bool stop();

    // Playback rate: 1.0 is the clip's own speed. False for a rate that is not
    // positive (the rate is then unchanged).
    bool setRate(double rate);
    double rate() const { return m_rate; }

    int64_t totalFrames() const { return m_totalFrames; }
    // Seconds per frame of the clip (0.5 for a two-frames-per-second clip).
    double averageTimePerFrame() const { return m_frameSeconds; }
    double durationSeconds() const { return double(m_totalFrames) * m_frameSeconds; }
    // The present position, 0..totalFrames(); follows the clock while running.
    int64_t currentFrame() const;
    double currentSeconds() const;

    // Moves to a frame (clamped to 0..totalFrames()) and decodes its picture;
    // a running player plays on from there. False when no clip is open or the
    // picture could not be decoded (the position moves all the same).
    bool seek(int64_t frame);

    // Brings the picture up to the present position; queues Complete once the
    // end is reached while running. True when the picture changed.
    bool tick();
    // Time until the running position reaches the next frame; nothing when
    // the player is not running or is at the end.
    std::optional<std::chrono::nanoseconds> timeToNextFrame() const;
    // The oldest queued event, removed from the queue.
    std::optional<MediaEvent> takeEvent();

    // Size of the drawable picture; 0 x 0 (the default) keeps the clip's own.
    void setOutputSize(int width, int height);
    const VideoImage& image() const { return m_image; }
    // The clip's own picture size.
    int videoWidth() const;
    int videoHeight() const;

    // The present picture at the clip's own size as a packed DIB: 24-bit
    // BI_RGB, bottom-up rows padded to 4 bytes, no colour table. Nothing when
    // no picture is held.
    std::optional<std::vector<uint8_t>> currentImage();

private:
    bool failOpen(const char* reason);
    int64_t countFrames() const;
    bool halt(PlayState state);
    double positionAt(std::chrono::steady_clock::time_point now) const;
    bool showFrame(int64_t frame);
    bool decodeFrame(int64_t frame);
    bool seekDemuxer(int64_t frame);
    bool convertForDisplay();
    int64_t frameNumber(const AVFrame* frame) const;

    Clock m_clock;
    PlayState m_state = PlayState::None;
    std::string m_error;
    double m_rate = 1.0;

    AVFormatContext* m_format = nullptr;
    AVCodecContext* m_codec = nullptr;
    AVFrame* m_frame = nullptr;   // the picture shown
    AVFrame* m_decoded = nullptr; // scratch for decoding
    AVFrame* m_pending = nullptr; // the best picture found while decoding
    AVPacket* m_packet = nullptr;
    SwsContext* m_displayScaler = nullptr;
    SwsContext* m_snapshotScaler = nullptr;
    int m_streamIndex = -1;
    int64_t m_startPts = 0;
    bool m_intraOnly = false; // every picture decodes on its own

    int64_t m_totalFrames = 0;
    double m_frameSeconds = 0;
    // Position while not running, and where the clock was anchored while running.
    double m_position = 0;
    std::chrono::steady_clock::time_point m_anchor;
    bool m_completeQueued = false;
    bool m_errorQueued = false;
    std::deque<MediaEvent> m_events;

    int64_t m_shownFrame = -1;     // frame number of m_frame
    int64_t m_lastReadFrame = -1;  // frame of the last packet read, -1 after a seek
    bool m_decoderDrained = false; // the decoder saw the end and needs a flush
    int m_outputWidth = 0;
    int m_outputHeight = 0;
    VideoImage m_image;
};
