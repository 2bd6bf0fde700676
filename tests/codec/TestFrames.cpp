#include "tests/codec/TestFrames.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libswscale/swscale.h>
}

#include <algorithm>
#include <cstring>

std::vector<uint8_t> packDib(BitmapInfoHeader header, std::span<const uint8_t> colorTable,
                             std::span<const uint8_t> image) {
    header.biClrUsed = uint32_t(colorTable.size() / 4);
    header.biSizeImage = uint32_t(image.size());
    std::vector<uint8_t> dib(BitmapInfoHeader::kSize);
    header.write(dib.data());
    dib.insert(dib.end(), colorTable.begin(), colorTable.end());
    dib.insert(dib.end(), image.begin(), image.end());
    return dib;
}

std::vector<uint8_t> rawDib(const TestImage& image, uint16_t bitCount, bool topDown) {
    const size_t stride = ((size_t(image.width) * bitCount + 31) / 32) * 4;
    std::vector<uint8_t> pixels(stride * image.height);
    for (int y = 0; y < image.height; ++y) {
        uint8_t* row = pixels.data() + stride * size_t(topDown ? y : image.height - 1 - y);
        for (int x = 0; x < image.width; ++x) {
            const uint8_t* p = image.pixel(x, y);
            if (bitCount == 16) {
                const uint16_t v = uint16_t((p[2] >> 3) << 10 | (p[1] >> 3) << 5 | p[0] >> 3);
                row[2 * x] = uint8_t(v);
                row[2 * x + 1] = uint8_t(v >> 8);
            } else {
                const int bytes = bitCount / 8;
                std::memcpy(row + bytes * x, p, 3);
                if (bytes == 4)
                    row[4 * x + 3] = 0xA5;
            }
        }
    }
    BitmapInfoHeader header;
    header.biWidth = image.width;
    header.biHeight = topDown ? -image.height : image.height;
    header.biBitCount = bitCount;
    return packDib(header, {}, pixels);
}

struct TestFrameEncoder::State {
    AVCodecContext* context = nullptr;
    AVFrame* frame = nullptr;
    AVPacket* packet = nullptr;
    SwsContext* scaler = nullptr;
    uint32_t fourCC = 0;
    uint16_t bitCount = 0;
    int64_t pts = 0;

    ~State() {
        sws_freeContext(scaler);
        av_packet_free(&packet);
        av_frame_free(&frame);
        avcodec_free_context(&context);
    }
};

std::unique_ptr<TestFrameEncoder> TestFrameEncoder::create(const char* encoder, uint32_t fourCC,
                                                           uint16_t bitCount, int width, int height,
                                                           int keyInterval) {
    const AVCodec* codec = avcodec_find_encoder_by_name(encoder);
    if (!codec || !codec->pix_fmts)
        return nullptr;
    std::unique_ptr<TestFrameEncoder> result(new TestFrameEncoder);
    result->m_state = std::make_unique<State>();
    State& s = *result->m_state;
    s.fourCC = fourCC;
    s.bitCount = bitCount;
    s.context = avcodec_alloc_context3(codec);
    s.frame = av_frame_alloc();
    s.packet = av_packet_alloc();
    if (!s.context || !s.frame || !s.packet)
        return nullptr;
    AVCodecContext* c = s.context;
    c->width = width;
    c->height = height;
    c->time_base = {1, 25};
    c->pix_fmt = codec->pix_fmts[0];
    c->gop_size = keyInterval;
    c->max_b_frames = 0;
    c->thread_count = 1;
    c->codec_tag = fourCC;
    // A fixed fine quantiser keeps lossy round trips close to the source.
    c->flags |= AV_CODEC_FLAG_QSCALE;
    c->global_quality = FF_QP2LAMBDA * 2;
    if (avcodec_open2(c, codec, nullptr) < 0)
        return nullptr;

    s.frame->format = c->pix_fmt;
    s.frame->width = width;
    s.frame->height = height;
    if (av_frame_get_buffer(s.frame, 0) < 0)
        return nullptr;
    s.scaler = sws_getContext(width, height, AV_PIX_FMT_BGR24, width, height, c->pix_fmt, SWS_BILINEAR,
                              nullptr, nullptr, nullptr);
    if (!s.scaler)
        return nullptr;
    return result;
}

TestFrameEncoder::~TestFrameEncoder() = default;

std::vector<uint8_t> TestFrameEncoder::encode(const TestImage& image) {
    State& s = *m_state;
    if (image.width != s.context->width || image.height != s.context->height ||
        av_frame_make_writable(s.frame) < 0)
        return {};
    const uint8_t* const src[4] = {image.bgr.data(), nullptr, nullptr, nullptr};
    const int srcStride[4] = {image.width * 3, 0, 0, 0};
    sws_scale(s.scaler, src, srcStride, 0, image.height, s.frame->data, s.frame->linesize);
    s.frame->pts = s.pts++;
    if (avcodec_send_frame(s.context, s.frame) < 0 || avcodec_receive_packet(s.context, s.packet) < 0)
        return {};
    BitmapInfoHeader header;
    header.biWidth = image.width;
    header.biHeight = image.height;
    header.biBitCount = s.bitCount;
    header.biCompression = s.fourCC;
    std::vector<uint8_t> dib = packDib(header, {}, {s.packet->data, size_t(s.packet->size)});
    av_packet_unref(s.packet);
    return dib;
}
