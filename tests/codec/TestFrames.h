#pragma once

// Video frames for tests and benchmarks, made the way a site sends them: a
// test picture compressed with a libavcodec encoder, or stored uncompressed,
// in a packed DIB whose header names the codec's FourCC.

#include "platform/dib/PackedDib.h"
#include "tests/support/TestPattern.h"

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

// Header, colour table and image as one packed DIB; biClrUsed and biSizeImage
// are set from the spans.
std::vector<uint8_t> packDib(BitmapInfoHeader header, std::span<const uint8_t> colorTable,
                             std::span<const uint8_t> image);

// `image` as an uncompressed 16 (5-5-5), 24 or 32-bit BI_RGB packed DIB,
// bottom-up or top-down (negative biHeight). The unused byte of 32-bit pixels
// is set to 0xA5, so readers that take it for something show it.
std::vector<uint8_t> rawDib(const TestImage& image, uint16_t bitCount, bool topDown);

class TestFrameEncoder {
public:
    // An encoder by libavcodec name ("mjpeg", "cinepak", "msvideo1", "mpeg4")
    // writing frames tagged `fourCC` with `bitCount`; a key frame every
    // `keyInterval` pictures. Nothing when this FFmpeg lacks the encoder.
    static std::unique_ptr<TestFrameEncoder> create(const char* encoder, uint32_t fourCC, uint16_t bitCount,
                                                    int width, int height, int keyInterval = 12);
    ~TestFrameEncoder();
    TestFrameEncoder(const TestFrameEncoder&) = delete;
    TestFrameEncoder& operator=(const TestFrameEncoder&) = delete;

    // The next picture as a packed DIB; empty when the encoder gave no packet.
    std::vector<uint8_t> encode(const TestImage& image);

private:
    TestFrameEncoder() = default;
    struct State;
    std::unique_ptr<State> m_state;
};
