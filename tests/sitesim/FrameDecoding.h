#pragma once

// Test helper: decodes a packed DIB with libavcodec, independently of the
// program's own decompressor, to prove that a frame is a real picture.

#include <cstdint>
#include <vector>

extern "C" {
#include <libavcodec/codec_id.h>
}

// Top-down RGB24 pixels of the decoded picture; empty when it does not decode
// to a picture of the size the header gives.
std::vector<uint8_t> decodeToRgb(const std::vector<uint8_t>& dib, AVCodecID id);
// The same for a stream: each frame decoded in order by one decoder, as a
// delta frame needs the pictures before it.
std::vector<std::vector<uint8_t>> decodeStreamToRgb(const std::vector<std::vector<uint8_t>>& dibs,
                                                    AVCodecID id);
