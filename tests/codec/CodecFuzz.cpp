// Feeds untrusted frames to the decompressor. An input whose first byte is odd
// is handed over whole as a packed DIB. Otherwise its next bytes choose a codec,
// a small size, a bit depth, a colour table size and a frame count, and the
// rest is cut into that many frames of one stream, so that decoders with
// inter-frame state see sequences.

#include "VideoDecompressor.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace {

const uint32_t kCodecs[] = {
    BitmapInfoHeader::kRgb,         1, // RLE8
    makeFourCC('c', 'v', 'i', 'd'), makeFourCC('C', 'R', 'A', 'M'),
    makeFourCC('M', 'J', 'P', 'G'), makeFourCC('X', 'V', 'I', 'D'),
    makeFourCC('I', 'V', '5', '0'), makeFourCC('I', 'V', '3', '2'),
    makeFourCC('Y', 'U', 'Y', '2'), makeFourCC('M', 'P', '4', '2'),
    makeFourCC('m', 's', 'v', 'c'),
};
const uint16_t kBitCounts[] = {8, 16, 24, 32, 4, 12};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1)
        return 0;
    const std::span<const uint8_t> input(data, size);
    auto decompressor = VideoDecompressor::open("iv50");
    if (!decompressor)
        return 0;
    if (input[0] & 1) {
        decompressor->decompress(input.subspan(1));
        return 0;
    }
    if (size < 7)
        return 0;
    BitmapInfoHeader header;
    header.biCompression = kCodecs[input[1] % std::size(kCodecs)];
    header.biWidth = 1 + input[2];
    header.biHeight = int8_t(input[3]) * 2;
    header.biBitCount = kBitCounts[input[4] % std::size(kBitCounts)];
    header.biClrUsed = input[5];
    const size_t frames = 1 + input[6] % 3;
    const std::span<const uint8_t> rest = input.subspan(7);
    const size_t table = size_t(header.biClrUsed) * 4;
    const size_t each = rest.size() / frames;
    if (each < table)
        return 0;
    header.biSizeImage = uint32_t(each - table);

    std::vector<uint8_t> frame(BitmapInfoHeader::kSize + each);
    for (size_t i = 0; i < frames; ++i) {
        header.write(frame.data());
        std::copy_n(rest.begin() + i * each, each, frame.begin() + BitmapInfoHeader::kSize);
        decompressor->decompress(frame);
    }
    return 0;
}
