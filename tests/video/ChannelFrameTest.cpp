#include "ChannelFrameBuffer.h"
#include "DibPainter.h"
#include "TestFrames.h"

#include <QImage>
#include <QPainter>
#include <gtest/gtest.h>

#include <cstring>

namespace {

// A picture whose top half is red and bottom half blue, so a flipped drawing shows.
TestImage redOverBlue(int width, int height) {
    TestImage image{width, height, std::vector<uint8_t>(size_t(width) * height * 3)};
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            uint8_t* p = image.bgr.data() + (size_t(y) * width + x) * 3;
            const bool top = y < height / 2;
            p[0] = top ? 0 : 255; // blue
            p[1] = 0;
            p[2] = top ? 255 : 0; // red
        }
    }
    return image;
}

// Draws the DIB into a grey canvas of the given size; returns the canvas and the result.
std::pair<QImage, bool> drawInto(const std::vector<uint8_t>& dib, QSize canvasSize, QRect target) {
    QImage canvas(canvasSize, QImage::Format_RGB32);
    canvas.fill(QColor(128, 128, 128));
    QPainter painter(&canvas);
    const bool drawn = DrawPackedDib(painter, target, dib);
    painter.end();
    return {canvas, drawn};
}

std::vector<uint8_t> frameOf(size_t bytes, uint8_t fill) {
    std::vector<uint8_t> frame(bytes, fill);
    BitmapInfoHeader header;
    header.biWidth = 320;
    header.biHeight = 240;
    header.biBitCount = 24;
    header.biCompression = makeFourCC('M', 'J', 'P', 'G');
    header.biSizeImage = uint32_t(bytes - BitmapInfoHeader::kSize);
    header.write(frame.data());
    return frame;
}

std::vector<uint8_t> heldFrame(ChannelFrameBuffer& buffer) {
    return buffer.WithFrame([](std::span<const uint8_t> frame, const std::shared_ptr<VideoDecompressor>&) {
        return std::vector<uint8_t>(frame.begin(), frame.end());
    });
}

} // namespace

// ---------------------------------------------------------------------------
// Drawing packed DIBs

TEST(DibPainter, DrawsEveryRowOrderAndDepthUprightAndStretched) {
    const TestImage image = redOverBlue(4, 4);
    for (uint16_t bits : {uint16_t(24), uint16_t(32)}) {
        for (bool topDown : {false, true}) {
            SCOPED_TRACE(testing::Message() << bits << " bits, top-down " << topDown);
            const auto [canvas, drawn] =
                drawInto(rawDib(image, bits, topDown), QSize(20, 20), QRect(2, 4, 16, 12));
            ASSERT_TRUE(drawn);
            EXPECT_EQ(canvas.pixelColor(3, 5), QColor(255, 0, 0)) << "top left of the target is red";
            EXPECT_EQ(canvas.pixelColor(16, 14), QColor(0, 0, 255)) << "bottom right of the target is blue";
            EXPECT_EQ(canvas.pixelColor(1, 1), QColor(128, 128, 128)) << "nothing outside the target";
            EXPECT_EQ(canvas.pixelColor(10, 17), QColor(128, 128, 128));
        }
    }
}

TEST(DibPainter, DrawsNothingForPicturesItCannotShowOrThatLie) {
    const std::vector<uint8_t> good = rawDib(redOverBlue(4, 4), 24, false);
    auto withHeader = [&](auto change) {
        std::vector<uint8_t> dib = good;
        BitmapInfoHeader header = *BitmapInfoHeader::parse(dib);
        change(header);
        header.write(dib.data());
        return dib;
    };
    const std::vector<std::vector<uint8_t>> bad = {
        withHeader([](BitmapInfoHeader& h) { h.biCompression = makeFourCC('M', 'J', 'P', 'G'); }),
        withHeader([](BitmapInfoHeader& h) { h.biBitCount = 16; }),
        withHeader([](BitmapInfoHeader& h) { h.biWidth = 0; }),
        withHeader([](BitmapInfoHeader& h) { h.biWidth = 100000; }),
        withHeader([](BitmapInfoHeader& h) { h.biHeight = INT32_MIN; }),
        // More rows than the image bytes hold, though the declared size fits.
        withHeader([](BitmapInfoHeader& h) { h.biHeight = 40; }),
        withHeader([](BitmapInfoHeader& h) { h.biSizeImage += 1; }), // declared beyond the bytes
        std::vector<uint8_t>(good.begin(), good.begin() + 20),
    };
    for (size_t i = 0; i < bad.size(); ++i) {
        const auto [canvas, drawn] = drawInto(bad[i], QSize(8, 8), QRect(0, 0, 8, 8));
        EXPECT_FALSE(drawn) << "case " << i;
        EXPECT_EQ(canvas.pixelColor(4, 4), QColor(128, 128, 128)) << "case " << i;
    }
}

// ---------------------------------------------------------------------------
// The frame buffer

TEST(ChannelFrameBuffer, HoldsOnlyTheNewestFrameAndOnlyValidOnes) {
    ChannelFrameBuffer buffer;
    ASSERT_TRUE(buffer.Usable());
    EXPECT_FALSE(buffer.HoldsFrame());
    EXPECT_TRUE(heldFrame(buffer).empty());
    EXPECT_FALSE(buffer.Decode().has_value());

    const std::vector<uint8_t> longFrame = frameOf(5000, 0x11);
    const std::vector<uint8_t> shortFrame = frameOf(100, 0x22);
    buffer.Deliver(longFrame, nullptr);
    EXPECT_TRUE(buffer.HoldsFrame());
    EXPECT_EQ(heldFrame(buffer), longFrame);
    buffer.Deliver(shortFrame, nullptr);
    EXPECT_EQ(heldFrame(buffer), shortFrame) << "the stale tail of the longer frame is never handed out";
    EXPECT_FALSE(buffer.Decode().has_value()) << "no decompressor";

    std::vector<uint8_t> notAFrame = shortFrame;
    notAFrame[0] = 41;
    buffer.Deliver(notAFrame, nullptr);
    EXPECT_FALSE(buffer.HoldsFrame());
    EXPECT_TRUE(heldFrame(buffer).empty());
}

TEST(ChannelFrameBuffer, AnOversizedFrameIsCutAtTheBufferSize) {
    ChannelFrameBuffer buffer;
    const std::vector<uint8_t> huge = frameOf(ChannelFrameBuffer::kCapacity + 4096, 0x33);
    buffer.Deliver(huge, nullptr);
    const std::vector<uint8_t> held = heldFrame(buffer);
    ASSERT_EQ(held.size(), ChannelFrameBuffer::kCapacity);
    EXPECT_TRUE(std::equal(held.begin(), held.end(), huge.begin()));
}

TEST(ChannelFrameBuffer, DecodesTheHeldFrameWithTheDeliveredDecompressor) {
    auto encoder = TestFrameEncoder::create("mjpeg", makeFourCC('M', 'J', 'P', 'G'), 24, 320, 240);
    ASSERT_NE(encoder, nullptr);
    const TestImage bars = makeColourBars(320, 240);
    const std::vector<uint8_t> frame = encoder->encode(bars);
    std::shared_ptr<VideoDecompressor> decompressor =
        VideoDecompressor::locate(*BitmapInfoHeader::parse(frame));
    ASSERT_NE(decompressor, nullptr);

    ChannelFrameBuffer buffer;
    buffer.Deliver(frame, decompressor);
    const std::optional<std::vector<uint8_t>> image = buffer.Decode();
    ASSERT_TRUE(image.has_value());
    const PackedDibView view(*image);
    ASSERT_TRUE(view.valid());
    EXPECT_LT(compareWithDib(bars, view.image().data(), 320, 240).meanAbsolute, 8.0);
    EXPECT_EQ(
        buffer.WithFrame([](auto, const std::shared_ptr<VideoDecompressor>& held) { return held.get(); }),
        decompressor.get());
}
