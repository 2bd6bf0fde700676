#pragma once

// Helpers shared by the clip-file and playback tests: clip frames with known
// content, clips written the way the recorder writes them, clips made by the
// ffmpeg tool, ffprobe as an independent reader, and a RIFF chunk walker for
// checking header bytes, and a libavformat read-back of exported files.

#include "platform/avi/AviWriter.h"

#include <csignal>
#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <sys/resource.h>
#include <vector>

namespace cliptest {

struct Rgb {
    uint8_t r;
    uint8_t g;
    uint8_t b;
};

// Eight clearly different colours, frame i gets colour i mod 8.
Rgb frameColour(int index);
// True when two colours differ by at most `tolerance` in every channel.
bool near(Rgb a, Rgb b, int tolerance);

// An uncompressed 24-bit packed DIB (bottom-up, rows padded to 4 bytes): the
// upper half of the picture in frameColour(index), the lower half in its
// complement, so a flipped picture shows.
std::vector<uint8_t> rawFrame(int width, int height, int index);
// Packed DIBs with Motion JPEG images of frameColour(i), made by the ffmpeg tool.
std::vector<std::vector<uint8_t>> jpegFrames(const std::string& folder, int count, int width, int height);

// Writes the packed DIBs as a clip the way the recorder does: the stream of the
// first frame's header, its 40-byte header as format, one key-frame sample of
// image data per frame. Returns the writer's close() result.
bool writeClip(const std::string& path, const std::vector<std::vector<uint8_t>>& frames,
               AviWriter::Options options = {});

// A clip made by the ffmpeg tool: `count` frames in frameColour(i), two frames
// per second, encoded with `codec` plus any extra arguments.
bool makeToolClip(const std::string& path, const std::string& codec, int count, int width, int height,
                  const std::string& extraArgs = {});

std::vector<uint8_t> readFile(const std::string& path);
// Runs a shell command and returns what it printed; exitCode gets its status.
std::string run(const std::string& command, int* exitCode = nullptr);
// ffprobe's view of the first video stream, with packets counted:
// codec_name, codec_tag_string, r_frame_rate, nb_frames, nb_read_packets, width, height.
std::map<std::string, std::string> probe(const std::string& path);

// A video file as libavformat reads it back: stream count, the first video
// stream's codec, size and pixel format, its packets (bytes, times in
// milliseconds from the stream's start, key flags) and the file's tags
// (names in lower case: containers spell them differently).
struct ReadBack {
    bool opened = false;
    int streams = 0;
    std::string codec;
    std::string pixelFormat;
    int width = 0;
    int height = 0;
    std::vector<std::vector<uint8_t>> packets;
    std::vector<int64_t> timesMs; // presentation order
    std::vector<bool> keys;
    std::map<std::string, std::string> tags;
};
ReadBack readBack(const std::string& path);
// The first decoded picture of a file as rgb24 rows (via the ffmpeg tool).
std::vector<uint8_t> firstPictureRgb(const std::string& path, int width, int height);

uint32_t le32(std::span<const uint8_t> bytes, uint64_t offset);
uint16_t le16(std::span<const uint8_t> bytes, uint64_t offset);
std::string fourcc(uint32_t value);

// One RIFF chunk: its id, where it starts (the id), its data size, and for
// "RIFF"/"LIST" the list type.
struct Chunk {
    std::string id;
    uint64_t offset = 0;
    uint32_t size = 0;
    std::string listType;
    uint64_t dataOffset() const { return offset + 8; }
    uint64_t end() const { return offset + 8 + size + (size & 1); }
};
// The chunks that follow each other from `begin` to `end` (stops at the first
// chunk that does not fit).
std::vector<Chunk> chunks(std::span<const uint8_t> file, uint64_t begin, uint64_t end);
// The children of a list chunk.
std::vector<Chunk> children(std::span<const uint8_t> file, const Chunk& list);
// The first chunk with this id (or list type) among `list`.
std::optional<Chunk> find(const std::vector<Chunk>& list, const std::string& idOrType);

// Lets this process write files only up to `bytes` (RLIMIT_FSIZE, as a full
// disk or quota would) until it goes out of scope; writes past it fail with
// EFBIG instead of raising SIGXFSZ.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        getrlimit(RLIMIT_FSIZE, &m_saved);
        m_oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit = m_saved;
        limit.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit() {
        setrlimit(RLIMIT_FSIZE, &m_saved);
        std::signal(SIGXFSZ, m_oldHandler);
    }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

private:
    rlimit m_saved{};
    void (*m_oldHandler)(int) = nullptr;
};

} // namespace cliptest
