#include "tools/sitesim/TestPatternEncoder.h"

#include "platform/dib/PackedDib.h"

#include <gtest/gtest.h>

#include "tests/sitesim/FrameDecoding.h"

#include <cstdlib>

extern "C" {
#include <libavcodec/avcodec.h>
}

using namespace sitesim;

namespace {

double meanAbsDiff(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
    if (a.size() != b.size() || a.empty())
        return 1e9;
    double sum = 0;
    for (size_t i = 0; i < a.size(); ++i)
        sum += std::abs(int(a[i]) - int(b[i]));
    return sum / double(a.size());
}

std::vector<uint8_t> pattern(int64_t index, int channel, int w, int h) {
    std::vector<uint8_t> rgb(size_t(w) * size_t(h) * 3);
    TestPatternEncoder::renderPattern(index, channel, w, h, rgb.data(), w * 3);
    return rgb;
}

} // namespace

TEST(TestPatternEncoder, EncodedFramesDecodeBackToThePattern) {
    struct Case {
        Codec codec;
        AVCodecID decoder;
        int width, height;
        uint32_t fourcc;
        uint16_t bits;
        double tolerance; // mean absolute error per channel byte
    };
    const Case cases[] = {
        {Codec::Mjpeg, AV_CODEC_ID_MJPEG, 320, 240, makeFourCC('M', 'J', 'P', 'G'), 24, 8},
        {Codec::Mjpeg, AV_CODEC_ID_MJPEG, 176, 144, makeFourCC('M', 'J', 'P', 'G'), 24, 8},
        {Codec::Cinepak, AV_CODEC_ID_CINEPAK, 160, 120, makeFourCC('c', 'v', 'i', 'd'), 24, 20},
        {Codec::MsVideo1, AV_CODEC_ID_MSVIDEO1, 160, 120, makeFourCC('M', 'S', 'V', 'C'), 16, 20},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(codecName(c.codec) + std::string(" ") + std::to_string(c.width));
        std::string error;
        auto encoder = TestPatternEncoder::create(c.codec, c.width, c.height, error);
        ASSERT_TRUE(encoder) << error;
        // Frames later in the stream are key frames too: each decodes alone.
        for (const int64_t index : {0, 5}) {
            const auto dib = encoder->encode(index, 2, 90);
            ASSERT_TRUE(dib);
            const PackedDibView view(*dib);
            ASSERT_TRUE(view.valid());
            EXPECT_EQ(view.header().biSize, 40u);
            EXPECT_EQ(view.header().biWidth, c.width);
            EXPECT_EQ(view.header().biHeight, c.height);
            EXPECT_EQ(view.header().biCompression, c.fourcc);
            EXPECT_EQ(view.header().biBitCount, c.bits);
            EXPECT_EQ(view.header().biSizeImage, dib->size() - 40);
            const auto decoded = decodeToRgb(*dib, c.decoder);
            ASSERT_FALSE(decoded.empty());
            EXPECT_LT(meanAbsDiff(decoded, pattern(index, 2, c.width, c.height)), c.tolerance);
            // The picture moves: a later frame is clearly not this one.
            EXPECT_GT(meanAbsDiff(decoded, pattern(index + 7, 2, c.width, c.height)), 2.0);
        }
    }
}

TEST(TestPatternEncoder, UncompressedFramesAreBottomUpBgr) {
    std::string error;
    auto encoder = TestPatternEncoder::create(Codec::Rgb, 160, 120, error);
    ASSERT_TRUE(encoder) << error;
    const auto dib = encoder->encode(3, 1, 30);
    ASSERT_TRUE(dib);
    const PackedDibView view(*dib);
    ASSERT_TRUE(view.valid());
    EXPECT_EQ(view.header().biCompression, 0u);
    EXPECT_EQ(view.header().biSizeImage, 160u * 120 * 3);
    const auto rgb = pattern(3, 1, 160, 120);
    for (const auto& [x, y] : {std::pair{0, 0}, std::pair{159, 0}, std::pair{80, 60}, std::pair{7, 119}}) {
        const uint8_t* top = rgb.data() + (size_t(y) * 160 + size_t(x)) * 3;
        const uint8_t* stored = view.image().data() + (size_t(119 - y) * 160 + size_t(x)) * 3;
        EXPECT_EQ(stored[0], top[2]);
        EXPECT_EQ(stored[1], top[1]);
        EXPECT_EQ(stored[2], top[0]);
    }
}

TEST(TestPatternEncoder, QualityAndSizeChecks) {
    std::string error;
    EXPECT_FALSE(TestPatternEncoder::create(Codec::Mjpeg, 100, 100, error));
    EXPECT_NE(error.find("100x100"), std::string::npos);
    auto encoder = TestPatternEncoder::create(Codec::Mjpeg, 320, 240, error);
    ASSERT_TRUE(encoder);
    EXPECT_LT(encoder->encode(1, 1, 5)->size() * 2, encoder->encode(1, 1, 95)->size());
    EXPECT_EQ(parseCodec("CVID"), Codec::Cinepak);
    EXPECT_FALSE(parseCodec("h264"));
}

TEST(TestPatternEncoder, DeltaCodedStreamsSendAKeyFrameEveryGopAndDecodeInOrder) {
    constexpr int kGop = 4;
    for (const auto& [codec, decoder] :
         {std::pair{Codec::Cinepak, AV_CODEC_ID_CINEPAK}, {Codec::MsVideo1, AV_CODEC_ID_MSVIDEO1}}) {
        SCOPED_TRACE(codecName(codec));
        std::string error;
        auto encoder = TestPatternEncoder::create(codec, 160, 120, error, kGop);
        ASSERT_TRUE(encoder) << error;
        std::vector<std::vector<uint8_t>> frames;
        for (int64_t i = 0; i <= 2 * kGop; ++i)
            frames.push_back(*encoder->encode(i, 1, 90));
        // Delta frames carry only what changed (the bars, the box, the
        // counter), far less than a key frame.
        for (size_t i = 0; i < frames.size(); ++i) {
            if (i % kGop == 0 && i > 0) {
                EXPECT_GT(frames[i].size(), frames[i - 1].size() * 3 / 2) << "key frame " << i;
            } else if (i % kGop != 0) {
                EXPECT_LT(frames[i].size(), frames[0].size() * 2 / 3) << i;
            }
        }
        const auto pictures = decodeStreamToRgb(frames, decoder);
        ASSERT_EQ(pictures.size(), frames.size());
        for (size_t i = 0; i < pictures.size(); ++i)
            EXPECT_LT(meanAbsDiff(pictures[i], pattern(int64_t(i), 1, 160, 120)), 20) << i;
    }
    // Channels tell apart by content, not only by their number in the corner.
    EXPECT_GT(meanAbsDiff(pattern(3, 1, 160, 120), pattern(3, 2, 160, 120)), 20);
}
