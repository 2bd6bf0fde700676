// Feeds untrusted frames to the decompressor. The first byte picks a mode:
//  0: the rest is handed over whole as a packed DIB;
//  1: the next bytes choose a codec, a small size, a bit depth, a colour table
//     size and a frame count, and the rest is cut into that many frames of one
//     stream, so decoders with inter-frame state see sequences;
//  2: a valid frame of a real codec, encoded at start-up, is damaged: the next
//     byte picks the frame and a cut, the rest are (offset, xor) triples. The
//     decoder sees the good frame, then the damaged one, then the good one.
// libavcodec is not instrumented for coverage, so mode 2 is what takes the
// decoders deep into their bitstream parsers.

#include "platform/codec/VideoDecompressor.h"
#include "tests/codec/TestFrames.h"

#include <algorithm>
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

std::vector<std::vector<uint8_t>> makeSeedFrames() {
    struct Seed {
        const char* encoder;
        uint32_t fourCC;
        uint16_t bitCount;
    };
    const Seed seeds[] = {{"mjpeg", makeFourCC('M', 'J', 'P', 'G'), 24},
                          {"mpeg4", makeFourCC('X', 'V', 'I', 'D'), 24},
                          {"cinepak", makeFourCC('c', 'v', 'i', 'd'), 24},
                          {"msvideo1", makeFourCC('C', 'R', 'A', 'M'), 16}};
    std::vector<std::vector<uint8_t>> frames;
    for (const Seed& s : seeds) {
        if (auto encoder = TestFrameEncoder::create(s.encoder, s.fourCC, s.bitCount, 48, 32)) {
            auto frame = encoder->encode(makeColourBars(48, 32));
            if (!frame.empty())
                frames.push_back(std::move(frame));
        }
    }
    frames.push_back(rawDib(makeColourBars(48, 32), 24, true));
    return frames;
}

void wholeFrame(VideoDecompressor& d, std::span<const uint8_t> input) {
    d.decompress(input);
}

void builtStream(VideoDecompressor& d, std::span<const uint8_t> input) {
    if (input.size() < 6)
        return;
    BitmapInfoHeader header;
    header.biCompression = kCodecs[input[0] % std::size(kCodecs)];
    header.biWidth = 1 + input[1];
    header.biHeight = int8_t(input[2]) * 2;
    header.biBitCount = kBitCounts[input[3] % std::size(kBitCounts)];
    header.biClrUsed = input[4];
    const size_t frames = 1 + input[5] % 3;
    const std::span<const uint8_t> rest = input.subspan(6);
    const size_t table = size_t(header.biClrUsed) * 4;
    const size_t each = rest.size() / frames;
    if (each < table)
        return;
    header.biSizeImage = uint32_t(each - table);
    std::vector<uint8_t> frame(BitmapInfoHeader::kSize + each);
    for (size_t i = 0; i < frames; ++i) {
        header.write(frame.data());
        std::copy_n(rest.begin() + i * each, each, frame.begin() + BitmapInfoHeader::kSize);
        d.decompress(frame);
    }
}

void damagedSeed(VideoDecompressor& d, std::span<const uint8_t> input) {
    static const std::vector<std::vector<uint8_t>> seeds = makeSeedFrames();
    if (input.empty() || seeds.empty())
        return;
    const std::vector<uint8_t>& seed = seeds[input[0] % seeds.size()];
    std::vector<uint8_t> damaged = seed;
    for (size_t i = 1; i + 3 <= input.size(); i += 3) {
        const size_t offset = (size_t(input[i]) | size_t(input[i + 1]) << 8) % damaged.size();
        damaged[offset] ^= input[i + 2];
    }
    // The high bits of the first byte cut the image short, header and all.
    if (input[0] >= 0x80) {
        const size_t image = damaged.size() - BitmapInfoHeader::kSize;
        const size_t keep = image * (input[0] & 0x7F) / 0x80;
        BitmapInfoHeader header = *BitmapInfoHeader::parse(damaged);
        header.biSizeImage = uint32_t(keep);
        header.write(damaged.data());
        damaged.resize(BitmapInfoHeader::kSize + keep);
    }
    d.decompress(seed);
    d.decompress(damaged);
    d.decompress(seed);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1)
        return 0;
    const std::span<const uint8_t> input(data, size);
    auto decompressor = VideoDecompressor::open("iv50");
    if (!decompressor)
        return 0;
    switch (input[0] % 3) {
    case 0:
        wholeFrame(*decompressor, input.subspan(1));
        break;
    case 1:
        builtStream(*decompressor, input.subspan(1));
        break;
    default:
        damagedSeed(*decompressor, input.subspan(1));
        break;
    }
    return 0;
}
