#pragma once

// The clips browser's preview source: a clip's image file (a packed DIB with
// compressed image data) read into a fixed buffer of 307,200 bytes and
// decompressed for display.
//
// How it works: the buffer is allocated once. A file is loaded only when its
// path differs from the one loaded last, so moving between clips that share
// an image file costs nothing. A file longer than the buffer is refused
// rather than cut, and only the bytes actually read are handed on, so a
// header that claims more than the file holds never makes anything read past
// them. The decompressor is kept while it fits the next file: one opened for
// "iv50", else "iv32", else one located for the file's header.

#include "platform/codec/VideoDecompressor.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

class ImagePreview {
public:
    static constexpr size_t kBufferSize = 307200;

    enum class Load {
        Unchanged, // the same file as last time: nothing was read
        Loaded,
        Missing, // cannot be opened: no picture
        TooLong, // longer than the buffer: refused, no picture
    };

    ImagePreview();

    Load load(const std::string& path);
    // A picture to show: the loaded file is valid and a decompressor is open.
    bool valid() const { return m_valid && m_decompressor != nullptr; }
    // The drawable packed DIB of the loaded file; nothing when there is no
    // valid file, no decompressor or the frame does not decode.
    std::optional<std::vector<uint8_t>> decode();

    std::span<const uint8_t> bytes() const { return std::span(m_buffer).first(m_length); }
    const std::string& path() const { return m_path; }

private:
    void chooseDecompressor();

    std::vector<uint8_t> m_buffer;
    size_t m_length = 0;
    std::string m_path;
    bool m_valid = true;
    std::unique_ptr<VideoDecompressor> m_decompressor;
};
