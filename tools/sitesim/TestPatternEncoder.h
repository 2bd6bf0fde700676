#pragma once

// Moving test pictures, encoded as the packed DIBs a site sends as video
// frames: a 40-byte BITMAPINFOHEADER (biCompression = the codec's FourCC,
// biSizeImage = the size of the encoded image) followed by the image.
//
// The pattern (colour bars scrolling sideways, a bouncing box, the channel
// number and a frame counter in block digits, tint, bar order and box phase
// differing per channel so that channels tell apart by content) is drawn in
// RGB and encoded with libavcodec: Motion JPEG ("MJPG"), Cinepak ("cvid") or
// Microsoft Video 1 ("MSVC"); or stored uncompressed as 24-bit bottom-up
// BI_RGB. Cinepak and Microsoft Video 1 send a key frame every `gop` frames
// and delta frames (only what changed) between, as real recorders do; with
// a gop of 1 every frame is a key frame so that a viewer can start anywhere.
// A delta frame is coded against the picture encoded just before it, so a
// stream's frames must be requested in order.
//
// Cinepak encoding is slow (tens of milliseconds at 160x120, a fifth of a
// second at 320x240) and would stall the simulator's loop, so a Cinepak
// encoder encodes a loop of kCinepakLoop pictures once and replays it.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct AVCodecContext;
struct AVFrame;
struct AVPacket;
struct SwsContext;

namespace sitesim {

enum class Codec { Mjpeg, Cinepak, MsVideo1, Rgb };

// "mjpg", "cvid", "msvc" or "rgb", case-insensitive.
std::optional<Codec> parseCodec(std::string_view name);
const char* codecName(Codec codec);
uint32_t codecFourCC(Codec codec);

// The picture sizes a site offers.
bool isSupportedSize(int width, int height);

class TestPatternEncoder {
public:
    static constexpr int kCinepakLoop = 16;

    ~TestPatternEncoder();
    TestPatternEncoder(const TestPatternEncoder&) = delete;
    TestPatternEncoder& operator=(const TestPatternEncoder&) = delete;

    // Nothing (and a reason in `error`) when the size is not supported or the
    // encoder cannot be opened.
    static std::unique_ptr<TestPatternEncoder> create(Codec codec, int width, int height, std::string& error,
                                                      int gop = 1);

    // Packed DIB of picture `index` for `channel`; quality 0..100 (used by
    // Motion JPEG). Nothing when encoding fails.
    std::optional<std::vector<uint8_t>> encode(int64_t index, int channel, int quality);

    // Draws picture `index` for `channel` as top-down RGB24 rows of `stride` bytes.
    static void renderPattern(int64_t index, int channel, int width, int height, uint8_t* rgb, int stride);

    Codec codec() const { return m_codec; }
    int width() const { return m_width; }
    int height() const { return m_height; }

private:
    TestPatternEncoder(Codec codec, int width, int height, int gop);
    bool open(std::string& error);
    std::vector<uint8_t> packRgb() const;
    std::optional<std::vector<uint8_t>> encodeNow(int64_t index, int channel, int quality);

    Codec m_codec;
    int m_width;
    int m_height;
    int m_gop;
    std::vector<uint8_t> m_rgb;
    std::vector<std::vector<uint8_t>> m_loop; // Cinepak: encoded pictures by index modulo the loop
    int m_loopChannel = -1;
    int m_loopQuality = -1;
    int64_t m_pts = 0; // the encoders want rising timestamps, whatever picture is asked for
    AVCodecContext* m_context = nullptr;
    AVFrame* m_frame = nullptr;
    AVPacket* m_packet = nullptr;
    SwsContext* m_sws = nullptr;
};

} // namespace sitesim
