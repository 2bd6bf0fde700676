#pragma once

// Bitmap files (".bmp"): a 14-byte file header in front of a packed DIB.
//
//   offset 0  "BM"
//   offset 2  file size    = 14 + biSize + 4 x biClrUsed + biSizeImage
//   offset 6  two reserved words, 0
//   offset 10 pixel offset = 14 + biSize + 4 x biClrUsed
//
// all little-endian, then the packed DIB (header, colour table, image) as it
// is held. The DIB's declared sizes are checked against the bytes actually
// held: a DIB that claims more than it holds is refused, so no file ever gets
// a header promising bytes it does not contain, and nothing is read past the
// caller's block. A compressed DIB is written as it is (a bitmap file with a
// compressed format code).

#include "platform/dib/PackedDib.h"

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

class BitmapFile {
public:
    static constexpr uint32_t kFileHeaderSize = 14;

    // The file header for this DIB header; nothing when its sizes do not fit
    // the 32-bit fields.
    static std::optional<std::array<uint8_t, kFileHeaderSize>> fileHeader(const BitmapInfoHeader& header);

    // The whole file for the packed DIB at the start of `packedDib`; bytes after
    // its declared size are left out. Nothing when the block is not a valid
    // packed DIB (biSize not 40, or declared sizes beyond the bytes held).
    static std::optional<std::vector<uint8_t>> encode(std::span<const uint8_t> packedDib);

    // Creates (or replaces) the file at `path` with encode(packedDib). True only
    // when every byte reached the file and it was closed cleanly; on failure a
    // partly written file is removed, and errnoOut (if given) says why
    // (EINVAL for a block that is not a valid packed DIB).
    static bool save(const std::string& path, std::span<const uint8_t> packedDib, int* errnoOut = nullptr);
};
