#include "platform/codec/VideoDecompressor.h"
#include "platform/log/DialscopeLog.h"
#include "tests/codec/TestFrames.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

namespace {

BitmapInfoHeader headerFor(uint32_t fourCC, int width = 320, int height = 240, uint16_t bitCount = 24) {
    BitmapInfoHeader h;
    h.biWidth = width;
    h.biHeight = height;
    h.biBitCount = bitCount;
    h.biCompression = fourCC;
    return h;
}

constexpr uint32_t kMjpg = makeFourCC('M', 'J', 'P', 'G');
constexpr uint32_t kCram = makeFourCC('C', 'R', 'A', 'M');

// Checks the drawable layout every decoded frame must have and returns the
// pixels' difference from `expected`.
ImageDifference checkDrawable(const std::optional<std::vector<uint8_t>>& dib, const TestImage& expected) {
    EXPECT_TRUE(dib.has_value());
    if (!dib)
        return {};
    const PackedDibView view(*dib);
    EXPECT_TRUE(view.valid());
    if (!view.valid())
        return {};
    const BitmapInfoHeader& h = view.header();
    EXPECT_EQ(h.biBitCount, 24);
    EXPECT_EQ(h.biCompression, BitmapInfoHeader::kRgb);
    EXPECT_EQ(h.biClrUsed, 0u);
    EXPECT_GT(h.biHeight, 0) << "drawable frames are bottom-up";
    const uint32_t stride = (uint32_t(h.biWidth) * 3 + 3) & ~3u;
    EXPECT_EQ(h.biSizeImage, stride * uint32_t(h.biHeight));
    EXPECT_EQ(dib->size(), BitmapInfoHeader::kSize + h.biSizeImage);
    return compareWithDib(expected, view.image().data(), h.biWidth, h.biHeight);
}

// ---------------------------------------------------------------------------
// Finding a decompressor

TEST(VideoDecompressorLookup, OpensEveryCodecItsHandlerNamesInAnyCase) {
    for (const char* handler :
         {"iv50", "IV50", "iv32", "IV31", "IV41", "cvid", "CVID", "CRAM", "msvc", "MSVC",
          "WHAM", "MJPG", "mjpg", "XVID", "xvid", "DIVX", "DX50", "MP4V", "FMP4", "H263"})
        EXPECT_NE(VideoDecompressor::open(handler), nullptr) << handler;
    for (const char* handler : {"zq9x", "", "iv500", "    "})
        EXPECT_EQ(VideoDecompressor::open(handler), nullptr) << '"' << handler << '"';
}

TEST(VideoDecompressorLookup, OnlyTheFormatsRecordersSendReachADecoder) {
    // libavcodec decodes these, but no recorder sends them: a site's frame
    // naming one finds no decompressor.
    for (const char* handler :
         {"H264", "avc1", "HEVC", "VP80", "YUY2", "DIV3", "HFYU", "FFV1", "png ", "tscc"}) {
        EXPECT_EQ(VideoDecompressor::open(handler), nullptr) << handler;
        const std::string h(handler);
        EXPECT_EQ(VideoDecompressor::locate(headerFor(makeFourCC(h[0], h[1], h[2], h[3]))), nullptr)
            << handler;
    }
    auto mjpeg = VideoDecompressor::open("MJPG");
    ASSERT_NE(mjpeg, nullptr);
    EXPECT_FALSE(mjpeg->decompress(
        packDib(headerFor(makeFourCC('H', '2', '6', '4'), 16, 16), {}, std::vector<uint8_t>(64, 0))));
    // BI_RLE8 is Microsoft RLE.
    EXPECT_NE(VideoDecompressor::locate(headerFor(1, 16, 16, 8)), nullptr);
}

TEST(VideoDecompressorLookup, QueryAnswersOnlyForTheOpenedCodec) {
    auto indeo5 = VideoDecompressor::open("iv50");
    ASSERT_NE(indeo5, nullptr);
    EXPECT_TRUE(indeo5->canDecompress(headerFor(makeFourCC('I', 'V', '5', '0'))));
    EXPECT_TRUE(indeo5->canDecompress(headerFor(makeFourCC('i', 'v', '5', '0'))));
    EXPECT_FALSE(indeo5->canDecompress(headerFor(kMjpg)));
    EXPECT_FALSE(indeo5->canDecompress(headerFor(makeFourCC('i', 'v', '3', '2'))));
    EXPECT_FALSE(indeo5->canDecompress(headerFor(BitmapInfoHeader::kRgb)));

    // Tags of one codec share its decoder.
    auto xvid = VideoDecompressor::open("XVID");
    ASSERT_NE(xvid, nullptr);
    EXPECT_TRUE(xvid->canDecompress(headerFor(makeFourCC('D', 'I', 'V', 'X'))));
}

TEST(VideoDecompressorLookup, LocateFindsTheDecoderOfTheHeader) {
    auto mjpeg = VideoDecompressor::locate(headerFor(kMjpg));
    ASSERT_NE(mjpeg, nullptr);
    EXPECT_TRUE(mjpeg->canDecompress(headerFor(kMjpg)));
    EXPECT_FALSE(mjpeg->canDecompress(headerFor(makeFourCC('c', 'v', 'i', 'd'))));

    for (uint16_t bits : {8, 16, 24, 32})
        EXPECT_NE(VideoDecompressor::locate(headerFor(BitmapInfoHeader::kRgb, 16, 16, bits)), nullptr)
            << bits;
    EXPECT_EQ(VideoDecompressor::locate(headerFor(BitmapInfoHeader::kRgb, 16, 16, 4)), nullptr);
    EXPECT_EQ(VideoDecompressor::locate(headerFor(makeFourCC('z', 'q', '9', 'x'))), nullptr);
}

TEST(VideoDecompressorLookup, RefusesHeadersWithUnusableSizes) {
    auto mjpeg = VideoDecompressor::open("MJPG");
    ASSERT_NE(mjpeg, nullptr);
    EXPECT_TRUE(mjpeg->canDecompress(headerFor(kMjpg, 8192, -8192)));
    for (auto [w, h] : {std::pair{0, 240},
                        {-320, 240},
                        {320, 0},
                        {8193, 240},
                        {320, 8193},
                        {320, -8193},
                        {320, INT32_MIN},
                        {INT32_MIN, 240}}) {
        EXPECT_FALSE(mjpeg->canDecompress(headerFor(kMjpg, w, h))) << w << 'x' << h;
        EXPECT_EQ(VideoDecompressor::locate(headerFor(kMjpg, w, h)), nullptr) << w << 'x' << h;
    }
    BitmapInfoHeader wrongSize = headerFor(kMjpg);
    wrongSize.biSize = 108;
    EXPECT_FALSE(mjpeg->canDecompress(wrongSize));
}

// ---------------------------------------------------------------------------
// Uncompressed frames: exact, in both row orders

TEST(VideoDecompressorRaw, TrueColourFramesComeBackExactInBothRowOrders) {
    auto d = VideoDecompressor::open("MJPG"); // any decompressor converts BI_RGB frames
    ASSERT_NE(d, nullptr);
    // 161 pixels wide: rows of 24-bit frames need padding.
    for (auto [w, h] : {std::pair{320, 240}, {161, 7}}) {
        const TestImage image = makeColourBars(w, h);
        for (uint16_t bits : {24, 32}) {
            for (bool topDown : {false, true}) {
                SCOPED_TRACE(std::to_string(w) + " bits " + std::to_string(bits) +
                             (topDown ? " top-down" : ""));
                const ImageDifference diff =
                    checkDrawable(d->decompress(rawDib(image, bits, topDown)), image);
                EXPECT_TRUE(diff.sameSize);
                EXPECT_EQ(diff.maxAbsolute, 0);
            }
        }
    }
}

TEST(VideoDecompressorRaw, HighColourFramesExpandFiveBitChannels) {
    auto d = VideoDecompressor::open("cvid");
    ASSERT_NE(d, nullptr);
    TestImage image = makeColourBars(161, 9);
    const std::vector<uint8_t> dib = rawDib(image, 16, false);
    // What 5 bits per channel hold, widened so that 31 is full intensity again.
    for (uint8_t& v : image.bgr)
        v = uint8_t((v >> 3) << 3 | v >> 5);
    const ImageDifference diff = checkDrawable(d->decompress(dib), image);
    EXPECT_TRUE(diff.sameSize);
    EXPECT_EQ(diff.maxAbsolute, 0);
    EXPECT_EQ(checkDrawable(d->decompress(rawDib(makeColourBars(161, 9), 16, true)), image).maxAbsolute, 0);
}

TEST(VideoDecompressorRaw, PalettisedFramesLookUpTheirColourTable) {
    auto d = VideoDecompressor::open("iv50");
    ASSERT_NE(d, nullptr);
    const int w = 13, h = 5, stride = 16;
    std::vector<uint8_t> table(4 * 200);
    for (int i = 0; i < 200; ++i) {
        table[4 * i] = uint8_t(i);           // blue
        table[4 * i + 1] = uint8_t(255 - i); // green
        table[4 * i + 2] = uint8_t(i * 7);   // red
    }
    std::vector<uint8_t> pixels(stride * h, 0xEE);
    TestImage expected{w, h, std::vector<uint8_t>(w * h * 3)};
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            // Index 255 lies past the 200 entries: black.
            const int index = (x == 0 && y == 0) ? 255 : (x * 13 + y * 29) % 200;
            pixels[(h - 1 - y) * stride + x] = uint8_t(index);
            uint8_t* e = expected.bgr.data() + (y * w + x) * 3;
            if (index < 200)
                std::memcpy(e, &table[4 * index], 3);
        }
    }
    for (bool topDown : {false, true}) {
        std::vector<uint8_t> rows = pixels;
        if (topDown)
            for (int y = 0; y < h; ++y)
                std::memcpy(&rows[y * stride], &pixels[(h - 1 - y) * stride], stride);
        const auto dib = packDib(headerFor(BitmapInfoHeader::kRgb, w, topDown ? -h : h, 8), table, rows);
        EXPECT_EQ(checkDrawable(d->decompress(dib), expected).maxAbsolute, 0) << topDown;
    }

    // An 8-bit frame without a colour table has no colours.
    EXPECT_FALSE(d->decompress(packDib(headerFor(BitmapInfoHeader::kRgb, w, h, 8), {}, pixels)));
}

TEST(VideoDecompressorRaw, SizeImageZeroMeansTheComputedSize) {
    auto d = VideoDecompressor::open("MJPG");
    ASSERT_NE(d, nullptr);
    const TestImage image = makeColourBars(32, 8);
    std::vector<uint8_t> dib = rawDib(image, 24, false);
    BitmapInfoHeader h = *BitmapInfoHeader::parse(dib);
    h.biSizeImage = 0;
    h.write(dib.data());
    EXPECT_EQ(checkDrawable(d->decompress(dib), image).maxAbsolute, 0);
    // ... but only when the bytes hold every row.
    dib.pop_back();
    EXPECT_FALSE(d->decompress(dib));
}

TEST(VideoDecompressorRaw, RefusesFramesThatDoNotHoldTheirRows) {
    auto d = VideoDecompressor::open("MJPG");
    ASSERT_NE(d, nullptr);
    const TestImage image = makeColourBars(32, 8);
    std::vector<uint8_t> dib = rawDib(image, 32, false);

    // Declared image larger than the bytes given.
    BitmapInfoHeader h = *BitmapInfoHeader::parse(dib);
    h.biSizeImage += 1;
    std::vector<uint8_t> overstated = dib;
    h.write(overstated.data());
    EXPECT_FALSE(d->decompress(overstated));

    // Declared image and bytes agree, but are too short for the rows.
    std::vector<uint8_t> shortImage(dib.begin() + BitmapInfoHeader::kSize, dib.end() - 1);
    EXPECT_FALSE(d->decompress(packDib(headerFor(BitmapInfoHeader::kRgb, 32, 8, 32), {}, shortImage)));

    // Colour table running past the end.
    h = *BitmapInfoHeader::parse(dib);
    h.biClrUsed = 0x40000000;
    h.write(dib.data());
    EXPECT_FALSE(d->decompress(dib));

    // Unsupported depths, unknown codecs and broken headers.
    EXPECT_FALSE(d->decompress({}));
    EXPECT_FALSE(d->decompress(std::vector<uint8_t>(39, 0)));
    EXPECT_FALSE(d->decompress(packDib(headerFor(BitmapInfoHeader::kRgb, 32, 8, 4), {}, shortImage)));
    EXPECT_FALSE(d->decompress(packDib(headerFor(makeFourCC('z', 'q', '9', 'x'), 32, 8), {}, shortImage)));
}

// ---------------------------------------------------------------------------
// Compressed frames made by libavcodec's encoders

struct CodecCase {
    const char* encoder;
    uint32_t fourCC;
    uint16_t bitCount;
    double meanTolerance; // lossy codecs: mean absolute error allowed per channel
};

void PrintTo(const CodecCase& c, std::ostream* os) {
    *os << c.encoder;
}
std::string caseName(const testing::TestParamInfo<CodecCase>& info) {
    return info.param.encoder;
}

class VideoDecompressorCodec : public testing::TestWithParam<CodecCase> {};

TEST_P(VideoDecompressorCodec, DecodesEncodedTestPictureAtBothSizes) {
    const CodecCase& c = GetParam();
    for (auto [w, h] : {std::pair{160, 120}, {320, 240}}) {
        SCOPED_TRACE(std::to_string(w) + "x" + std::to_string(h));
        auto encoder = TestFrameEncoder::create(c.encoder, c.fourCC, c.bitCount, w, h);
        if (!encoder)
            GTEST_SKIP() << "this FFmpeg has no " << c.encoder << " encoder";
        const TestImage image = makeColourBars(w, h);
        const std::vector<uint8_t> frame = encoder->encode(image);
        ASSERT_FALSE(frame.empty());

        auto own = VideoDecompressor::locate(*BitmapInfoHeader::parse(frame));
        ASSERT_NE(own, nullptr);
        const auto decoded = own->decompress(frame);
        const ImageDifference diff = checkDrawable(decoded, image);
        EXPECT_TRUE(diff.sameSize);
        EXPECT_LE(diff.meanAbsolute, c.meanTolerance);

        // A decompressor opened for another codec decodes it the same way.
        auto other = VideoDecompressor::open("iv50");
        ASSERT_NE(other, nullptr);
        EXPECT_FALSE(other->canDecompress(*BitmapInfoHeader::parse(frame)));
        EXPECT_EQ(other->decompress(frame), decoded);

        // The clips browser hands over a larger buffer than the frame.
        std::vector<uint8_t> buffer(307200 * 2, 0);
        std::copy(frame.begin(), frame.end(), buffer.begin());
        EXPECT_EQ(own->decompress(buffer), decoded);
    }
}

TEST_P(VideoDecompressorCodec, InterFramesOfInterleavedStreamsKeepTheirOwnState) {
    const CodecCase& c = GetParam();
    auto large = TestFrameEncoder::create(c.encoder, c.fourCC, c.bitCount, 320, 240, 100);
    auto small = TestFrameEncoder::create(c.encoder, c.fourCC, c.bitCount, 160, 120, 100);
    if (!large || !small)
        GTEST_SKIP() << "this FFmpeg has no " << c.encoder << " encoder";
    auto d = VideoDecompressor::open("iv32");
    ASSERT_NE(d, nullptr);
    for (int i = 0; i < 4; ++i) {
        SCOPED_TRACE("picture " + std::to_string(i));
        const TestImage bigImage = makeColourBars(320, 240, 8 * i);
        const TestImage smallImage = makeColourBars(160, 120, 4 * i);
        const auto bigFrame = large->encode(bigImage);
        const auto smallFrame = small->encode(smallImage);
        ASSERT_FALSE(bigFrame.empty());
        ASSERT_FALSE(smallFrame.empty());
        EXPECT_LE(checkDrawable(d->decompress(bigFrame), bigImage).meanAbsolute, c.meanTolerance);
        EXPECT_LE(checkDrawable(d->decompress(smallFrame), smallImage).meanAbsolute, c.meanTolerance);
    }
}

// Eight 320x240 frames of colour bars with a key frame every six; empty when
// this FFmpeg has no encoder for the case (or it failed).
std::vector<std::vector<uint8_t>> deltaStream(const CodecCase& c) {
    auto encoder = TestFrameEncoder::create(c.encoder, c.fourCC, c.bitCount, 320, 240, 6);
    std::vector<std::vector<uint8_t>> frames;
    for (int i = 0; encoder && i < 8; ++i) {
        frames.push_back(encoder->encode(makeColourBars(320, 240, 10 * i)));
        if (frames.back().empty())
            return {};
    }
    return frames;
}

// A picture kept by reference (decompressPicture) is the decoder's own
// output: it must equal the packed DIB of the same frame, and stay unchanged
// while the stream decodes on (delta frames update the decoder's picture in
// place).
TEST_P(VideoDecompressorCodec, ShownPicturesMatchTheDibAndOutliveLaterFrames) {
    const std::vector<std::vector<uint8_t>> frames = deltaStream(GetParam());
    if (frames.empty())
        GTEST_SKIP() << "this FFmpeg has no " << GetParam().encoder << " encoder";
    auto live = VideoDecompressor::locate(*BitmapInfoHeader::parse(frames[0]));
    auto reference = VideoDecompressor::locate(*BitmapInfoHeader::parse(frames[0]));
    ASSERT_TRUE(live && reference);
    std::vector<DrawablePicture> shown;
    std::vector<std::vector<uint8_t>> expected;
    for (size_t i = 0; i < frames.size(); ++i) {
        SCOPED_TRACE("frame " + std::to_string(i));
        auto picture = live->decompressPicture(frames[i]);
        auto dib = reference->decompress(frames[i]);
        ASSERT_TRUE(picture && dib);
        EXPECT_NE(picture->layout(), DrawablePicture::Layout::PackedDib);
        EXPECT_EQ(picture->packedDib(), *dib);
        shown.push_back(std::move(*picture));
        expected.push_back(std::move(*dib));
    }
    for (size_t i = 0; i < shown.size(); ++i)
        EXPECT_EQ(shown[i].packedDib(), expected[i]) << "picture " << i << " changed after later frames";

    // Uncompressed frames come out as their own copy, equal to the DIB.
    auto raw = VideoDecompressor::open("MJPG"); // any decompressor reads BI_RGB frames
    ASSERT_NE(raw, nullptr);
    const auto rawFrame = rawDib(makeColourBars(32, 8), 16, false);
    const auto rawPicture = raw->decompressPicture(rawFrame);
    ASSERT_TRUE(rawPicture);
    EXPECT_EQ(rawPicture->packedDib(), raw->decompress(rawFrame));
}

// A live window keeps only the newest picture, which a delta-coded decoder may
// lend instead of copy: it must equal the frame's DIB after every frame, and
// stay drawable and unchanged once the decoder is gone.
TEST_P(VideoDecompressorCodec, LivePicturesMatchTheDibAndOutliveTheirDecoder) {
    const std::vector<std::vector<uint8_t>> frames = deltaStream(GetParam());
    if (frames.empty())
        GTEST_SKIP() << "this FFmpeg has no " << GetParam().encoder << " encoder";
    auto live = VideoDecompressor::locate(*BitmapInfoHeader::parse(frames[0]));
    auto reference = VideoDecompressor::locate(*BitmapInfoHeader::parse(frames[0]));
    ASSERT_TRUE(live && reference);
    std::optional<DrawablePicture> shown;
    std::vector<uint8_t> expected;
    for (size_t i = 0; i < frames.size(); ++i) {
        SCOPED_TRACE("frame " + std::to_string(i));
        shown = live->decompressLivePicture(frames[i]);
        const auto dib = reference->decompress(frames[i]);
        ASSERT_TRUE(shown && dib);
        EXPECT_EQ(shown->packedDib(), *dib);
        expected = *dib;
    }
    live.reset();
    EXPECT_EQ(shown->packedDib(), expected) << "the picture changed or went with its decoder";
}

TEST_P(VideoDecompressorCodec, DamagedFramesNeverCrashAndTheNextGoodFrameDecodes) {
    const CodecCase& c = GetParam();
    auto encoder = TestFrameEncoder::create(c.encoder, c.fourCC, c.bitCount, 160, 120, 1);
    if (!encoder)
        GTEST_SKIP() << "this FFmpeg has no " << c.encoder << " encoder";
    const TestImage image = makeColourBars(160, 120);
    const std::vector<uint8_t> frame = encoder->encode(image);
    ASSERT_GT(frame.size(), BitmapInfoHeader::kSize + 16);
    const size_t imageBytes = frame.size() - BitmapInfoHeader::kSize;
    const BitmapInfoHeader header = *BitmapInfoHeader::parse(frame);
    auto d = VideoDecompressor::open(std::string(reinterpret_cast<const char*>(&c.fourCC), 4));
    ASSERT_NE(d, nullptr);

    // Declared larger than what arrived: refused outright.
    EXPECT_FALSE(d->decompress(std::span(frame).first(frame.size() - 1)));

    auto expectDrawableOrNothing = [&](const std::vector<uint8_t>& damaged) {
        const auto out = d->decompress(damaged);
        if (out) {
            const PackedDibView view(*out);
            ASSERT_TRUE(view.valid());
            EXPECT_EQ(view.header().biWidth, 160);
            EXPECT_EQ(view.header().biHeight, 120);
        }
    };
    // Cut short, with a header that agrees.
    for (size_t keep : {size_t(1), size_t(7), imageBytes / 3, imageBytes / 2, imageBytes - 1}) {
        std::vector<uint8_t> cut(frame.begin() + BitmapInfoHeader::kSize,
                                 frame.begin() + BitmapInfoHeader::kSize + keep);
        expectDrawableOrNothing(packDib(header, {}, cut));
    }
    // Bit flips and byte runs through the image.
    for (size_t pos = 0; pos < imageBytes; pos += 1 + imageBytes / 97) {
        std::vector<uint8_t> flipped = frame;
        flipped[BitmapInfoHeader::kSize + pos] ^= uint8_t(1u << (pos % 8));
        expectDrawableOrNothing(flipped);
        std::vector<uint8_t> smeared = frame;
        std::fill_n(smeared.begin() + BitmapInfoHeader::kSize + pos, std::min<size_t>(16, imageBytes - pos),
                    uint8_t(0xFF));
        expectDrawableOrNothing(smeared);
    }
    // An empty image, and a header size the stream does not have.
    EXPECT_FALSE(d->decompress(packDib(header, {}, {})));
    BitmapInfoHeader huge = header;
    huge.biWidth = 9000;
    EXPECT_FALSE(d->decompress(packDib(huge, {}, std::span(frame).subspan(BitmapInfoHeader::kSize))));

    // The damage leaves no trace: the next good key frame decodes as before.
    EXPECT_LE(checkDrawable(d->decompress(frame), image).meanAbsolute, c.meanTolerance);
}

INSTANTIATE_TEST_SUITE_P(Encoders, VideoDecompressorCodec,
                         testing::Values(CodecCase{"mjpeg", kMjpg, 24, 3.0},
                                         CodecCase{"mpeg4", makeFourCC('X', 'V', 'I', 'D'), 24, 3.0},
                                         CodecCase{"cinepak", makeFourCC('c', 'v', 'i', 'd'), 24, 3.0},
                                         CodecCase{"msvideo1", kCram, 16, 3.0}),
                         caseName);

TEST(VideoDecompressorStreams, APictureLargerThanItsHeaderDeclaresIsNotDecoded) {
    // Decoding cost follows the declared size: a small header over a large
    // picture's bitstream must not make the decoder build the large picture.
    auto encoder = TestFrameEncoder::create("mjpeg", kMjpg, 24, 640, 480);
    if (!encoder)
        GTEST_SKIP() << "this FFmpeg has no mjpeg encoder";
    std::vector<uint8_t> frame = encoder->encode(makeColourBars(640, 480));
    ASSERT_FALSE(frame.empty());
    auto own = VideoDecompressor::locate(*BitmapInfoHeader::parse(frame));
    ASSERT_NE(own, nullptr);
    EXPECT_TRUE(own->decompress(frame).has_value());
    BitmapInfoHeader small = *BitmapInfoHeader::parse(frame);
    small.biWidth = 64;
    small.biHeight = 48;
    small.write(frame.data());
    EXPECT_FALSE(own->fresh()->decompress(frame).has_value());
}

TEST(VideoDecompressorStreams, ManyStreamsAtOnceAllDecode) {
    // More streams than the decompressor keeps decoders for, twice round: the
    // streams it dropped come back with new decoders.
    auto d = VideoDecompressor::open("MJPG");
    ASSERT_NE(d, nullptr);
    std::vector<std::pair<TestImage, std::vector<uint8_t>>> streams;
    for (int i = 0; i < 12; ++i) {
        const int w = 32 + 16 * i, h = 24 + 8 * i;
        auto encoder = TestFrameEncoder::create("mjpeg", kMjpg, 24, w, h);
        if (!encoder)
            GTEST_SKIP() << "this FFmpeg has no mjpeg encoder";
        TestImage image = makeColourBars(w, h);
        auto frame = encoder->encode(image);
        streams.emplace_back(std::move(image), std::move(frame));
    }
    for (int round = 0; round < 2; ++round)
        for (const auto& [image, frame] : streams)
            EXPECT_LE(checkDrawable(d->decompress(frame), image).meanAbsolute, 6.0) << image.width;
}

// ---------------------------------------------------------------------------
// Palettised codec frames get the colour table as their palette

// An 8-bit Microsoft Video 1 frame of one-colour 4x4 blocks, listed from the
// bottom-left block, row by row: each block is its palette index and 0x80.
std::vector<uint8_t> fillBlockFrame(int blocksWide, int blocksHigh, const std::vector<uint8_t>& indices,
                                    std::span<const uint8_t> table) {
    std::vector<uint8_t> image;
    for (uint8_t index : indices) {
        image.push_back(index);
        image.push_back(0x80);
    }
    image.push_back(0);
    image.push_back(0);
    return packDib(headerFor(kCram, 4 * blocksWide, 4 * blocksHigh, 8), table, image);
}

TEST(VideoDecompressorPalette, ColourTableReachesPalettisedDecodersAndFollowsChanges) {
    auto d = VideoDecompressor::open("MSVC");
    ASSERT_NE(d, nullptr);
    std::vector<uint8_t> table(4 * 4, 0);
    auto setEntry = [&](int i, uint8_t b, uint8_t g, uint8_t r) {
        table[4 * i] = b;
        table[4 * i + 1] = g;
        table[4 * i + 2] = r;
    };
    setEntry(0, 10, 20, 30);
    setEntry(1, 200, 100, 50);
    setEntry(2, 0, 255, 0);
    setEntry(3, 255, 255, 255);
    // Two rows of three blocks; the first listed row is the bottom one.
    const std::vector<uint8_t> indices = {0, 1, 2, 3, 2, 1};
    auto expectedFor = [&](std::span<const uint8_t> t) {
        TestImage e{12, 8, std::vector<uint8_t>(12 * 8 * 3)};
        for (int y = 0; y < 8; ++y)
            for (int x = 0; x < 12; ++x)
                std::memcpy(e.bgr.data() + (y * 12 + x) * 3, &t[4 * indices[(y < 4 ? 3 : 0) + x / 4]], 3);
        return e;
    };
    EXPECT_EQ(
        checkDrawable(d->decompress(fillBlockFrame(3, 2, indices, table)), expectedFor(table)).maxAbsolute,
        0);

    setEntry(1, 1, 2, 3);
    EXPECT_EQ(
        checkDrawable(d->decompress(fillBlockFrame(3, 2, indices, table)), expectedFor(table)).maxAbsolute,
        0);
}

} // namespace

// ---------------------------------------------------------------------------
// Failures leave a bounded trail in the log

namespace {

struct CapturedLog {
    static inline std::vector<std::pair<std::string, std::string>> lines; // category, text
    static void handler(QtMsgType, const QMessageLogContext& context, const QString& text) {
        lines.emplace_back(context.category ? context.category : "", text.toStdString());
    }
};

} // namespace

TEST(VideoDecompressorLog, ABudgetLetsABurstThroughAndCountsWhatItHeldBack) {
    using namespace std::chrono;
    steady_clock::time_point now{};
    LogBudget budget(3, minutes(1), [&] { return now; });
    int held = -1;
    for (int i = 0; i < 3; ++i) {
        EXPECT_TRUE(budget.take(&held)) << i;
        EXPECT_EQ(held, 0);
    }
    for (int i = 0; i < 10; ++i)
        EXPECT_FALSE(budget.take(&held));
    now += seconds(59);
    EXPECT_FALSE(budget.take(&held)) << "still the same minute";
    now += seconds(1);
    EXPECT_TRUE(budget.take(&held));
    EXPECT_EQ(held, 11) << "the next message written says how many were held back";
    EXPECT_TRUE(budget.take(&held));
    EXPECT_EQ(held, 0);
    EXPECT_TRUE(budget.take(&held));
    EXPECT_FALSE(budget.take(&held));
    LogBudget::resetAll();
    EXPECT_TRUE(budget.take(&held));
    EXPECT_EQ(held, 0);
}

TEST(VideoDecompressorLog, FramesThatDoNotDecodeAreLoggedWithTheReasonButNeverFloodTheLog) {
    LogBudget::resetAll();
    CapturedLog::lines.clear();
    const QtMessageHandler previous = qInstallMessageHandler(&CapturedLog::handler);
    auto d = VideoDecompressor::open("MJPG");
    ASSERT_NE(d, nullptr);
    std::vector<uint8_t> junk(3000);
    for (size_t i = 0; i < junk.size(); ++i)
        junk[i] = uint8_t(i * 151 + 7);
    const std::vector<uint8_t> frame = packDib(headerFor(kMjpg, 160, 120), {}, junk);
    for (int i = 0; i < 2000; ++i) // a hostile site's stream of bad frames
        EXPECT_FALSE(d->decompress(frame));
    qInstallMessageHandler(previous);

    size_t codecLines = 0;
    bool saysWhy = false;
    for (const auto& [category, text] : CapturedLog::lines) {
        if (category != "dialscope.codec")
            continue;
        ++codecLines;
        saysWhy = saysWhy || (text.find("MJPG") != std::string::npos && text.find(':') != std::string::npos);
    }
    EXPECT_TRUE(saysWhy) << "the codec and libavcodec's reason are named";
    EXPECT_GE(codecLines, 1u);
    EXPECT_LE(codecLines, 12u) << "a few lines per minute, not one per frame";
}
