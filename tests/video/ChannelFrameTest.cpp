#include "tests/codec/TestFrames.h"
#include "video/core/ChannelFrameBuffer.h"
#include "video/core/DibPainter.h"
#include "video/core/PicturePainter.h"

#include <QImage>
#include <QPainter>
#include <gtest/gtest.h>

namespace {

const QColor kGrey(128, 128, 128);

// Red top half over a blue bottom half, so a picture drawn upside down shows.
TestImage redOverBlue() {
    TestImage image{4, 4, std::vector<uint8_t>(4 * 4 * 3, 0)};
    for (int i = 0; i < 16; ++i)
        image.bgr[size_t(i) * 3 + (i < 8 ? 2 : 0)] = 255;
    return image;
}

// Draws into a grey 20 x 20 canvas; the canvas and whether anything was drawn.
std::pair<QImage, bool> drawInto(const std::vector<uint8_t>& dib, QRect target) {
    QImage canvas(20, 20, QImage::Format_RGB32);
    canvas.fill(kGrey);
    QPainter painter(&canvas);
    const bool drawn = drawPackedDib(painter, target, dib);
    painter.end();
    return {canvas, drawn};
}

std::vector<uint8_t> held(ChannelFrameBuffer& buffer) {
    return buffer.withFrame(
        [](std::span<const uint8_t> frame) { return std::vector<uint8_t>(frame.begin(), frame.end()); });
}

} // namespace

TEST(DibPainter, DrawsEveryRowOrderAndDepthUprightStretchedOverTheTarget) {
    for (uint16_t bits : {uint16_t(24), uint16_t(32)}) {
        for (bool topDown : {false, true}) {
            SCOPED_TRACE(testing::Message() << bits << " bits, top-down " << topDown);
            const auto [canvas, drawn] = drawInto(rawDib(redOverBlue(), bits, topDown), QRect(2, 4, 16, 12));
            ASSERT_TRUE(drawn);
            EXPECT_EQ(canvas.pixelColor(3, 5), QColor(255, 0, 0));
            EXPECT_EQ(canvas.pixelColor(16, 14), QColor(0, 0, 255));
            EXPECT_EQ(canvas.pixelColor(1, 1), kGrey);
            EXPECT_EQ(canvas.pixelColor(10, 17), kGrey);
        }
    }
}

TEST(DibPainter, DrawsNothingForPicturesItCannotShowOrWhoseHeaderLies) {
    const std::vector<uint8_t> good = rawDib(redOverBlue(), 24, false);
    auto changed = [&](void (*change)(BitmapInfoHeader&)) {
        std::vector<uint8_t> dib = good;
        BitmapInfoHeader header = *BitmapInfoHeader::parse(dib);
        change(header);
        header.write(dib.data());
        return dib;
    };
    const std::vector<std::vector<uint8_t>> bad = {
        changed([](BitmapInfoHeader& h) { h.biCompression = makeFourCC('M', 'J', 'P', 'G'); }),
        changed([](BitmapInfoHeader& h) { h.biBitCount = 16; }),
        changed([](BitmapInfoHeader& h) { h.biWidth = 0; }),
        changed([](BitmapInfoHeader& h) { h.biWidth = 100000; }),
        changed([](BitmapInfoHeader& h) { h.biHeight = INT32_MIN; }),
        changed([](BitmapInfoHeader& h) { h.biHeight = 40; }),    // more rows than the image holds
        changed([](BitmapInfoHeader& h) { h.biSizeImage += 1; }), // declared beyond the bytes
        std::vector<uint8_t>(good.begin(), good.begin() + 20),
    };
    for (size_t i = 0; i < bad.size(); ++i) {
        const auto [canvas, drawn] = drawInto(bad[i], QRect(0, 0, 8, 8));
        EXPECT_FALSE(drawn) << "case " << i;
        EXPECT_EQ(canvas.pixelColor(4, 4), kGrey) << "case " << i;
    }
}

// A decoder's own layouts are drawn without conversion: each must come out in
// its true colours, upright, and a snapshot of the kept picture must be the
// same picture as a 24-bit DIB.
TEST(PicturePainter, DrawsEachDecoderLayoutInItsColoursAndSnapshotsItAsADib) {
    const TestImage image = redOverBlue();
    for (auto layout :
         {DrawablePicture::Layout::Bgr24, DrawablePicture::Layout::Rgb24, DrawablePicture::Layout::Rgb555}) {
        SCOPED_TRACE(int(layout));
        const int stride = 16; // 4 pixels of 3 or 2 bytes, padded to 4 bytes
        auto bytes = std::make_shared<std::vector<uint8_t>>(size_t(stride) * 4 + 64, 0);
        for (int y = 0; y < 4; ++y) {
            for (int x = 0; x < 4; ++x) {
                const uint8_t* bgr = &image.bgr[(size_t(y) * 4 + size_t(x)) * 3];
                uint8_t* out = bytes->data() + y * stride;
                if (layout == DrawablePicture::Layout::Rgb555) {
                    const uint16_t v = uint16_t((bgr[2] >> 3) << 10 | (bgr[1] >> 3) << 5 | bgr[0] >> 3);
                    out[x * 2] = uint8_t(v);
                    out[x * 2 + 1] = uint8_t(v >> 8);
                } else {
                    const bool rgb = layout == DrawablePicture::Layout::Rgb24;
                    out[x * 3] = rgb ? bgr[2] : bgr[0];
                    out[x * 3 + 1] = bgr[1];
                    out[x * 3 + 2] = rgb ? bgr[0] : bgr[2];
                }
            }
        }
        BitmapInfoHeader header;
        header.biXPelsPerMeter = 2835;
        const DrawablePicture picture(layout, 4, 4, bytes->data(), stride, bytes, header);

        QImage canvas(20, 20, QImage::Format_RGB32);
        canvas.fill(kGrey);
        QPainter painter(&canvas);
        drawPicture(painter, QRect(2, 4, 16, 12), picture);
        painter.end();
        EXPECT_EQ(canvas.pixelColor(3, 5), QColor(255, 0, 0));
        EXPECT_EQ(canvas.pixelColor(16, 14), QColor(0, 0, 255));
        EXPECT_EQ(canvas.pixelColor(1, 1), kGrey);

        ChannelFrameBuffer buffer;
        buffer.setPicture(picture);
        std::vector<uint8_t> expected = rawDib(image, 24, false);
        BitmapInfoHeader h = *BitmapInfoHeader::parse(expected);
        h.biXPelsPerMeter = 2835;
        h.write(expected.data());
        EXPECT_EQ(buffer.withPicture(
                      [](std::span<const uint8_t> p) { return std::vector<uint8_t>(p.begin(), p.end()); }),
                  expected);
    }
}

TEST(ChannelFrameBuffer, HandsOutOnlyTheNewestValidFrameCutToTheBufferSize) {
    auto frameOf = [](size_t bytes) {
        std::vector<uint8_t> frame(bytes, uint8_t(bytes));
        BitmapInfoHeader header;
        header.biSizeImage = uint32_t(bytes - BitmapInfoHeader::kSize);
        header.write(frame.data());
        return frame;
    };
    ChannelFrameBuffer buffer;
    ASSERT_TRUE(buffer.usable());
    EXPECT_FALSE(buffer.holdsFrame());
    EXPECT_TRUE(held(buffer).empty());

    buffer.deliver(frameOf(5000));
    buffer.deliver(frameOf(100));
    EXPECT_TRUE(buffer.holdsFrame());
    EXPECT_EQ(held(buffer), frameOf(100)) << "never the stale tail of a longer frame";

    const std::vector<uint8_t> huge = frameOf(ChannelFrameBuffer::kCapacity + 4096);
    buffer.deliver(huge);
    const std::vector<uint8_t> cut = held(buffer);
    ASSERT_EQ(cut.size(), ChannelFrameBuffer::kCapacity);
    EXPECT_TRUE(std::equal(cut.begin(), cut.end(), huge.begin()));

    std::vector<uint8_t> notAFrame = frameOf(100);
    notAFrame[0] = 41;
    buffer.deliver(notAFrame);
    EXPECT_FALSE(buffer.holdsFrame());
    EXPECT_TRUE(held(buffer).empty());
}
