#include "FrameDecoding.h"

#include "PackedDib.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/log.h>
#include <libswscale/swscale.h>
}

std::vector<uint8_t> decodeToRgb(const std::vector<uint8_t>& dib, AVCodecID id) {
    av_log_set_level(AV_LOG_ERROR);
    const PackedDibView view(dib);
    if (!view.valid())
        return {};
    const AVCodec* codec = avcodec_find_decoder(id);
    AVCodecContext* ctx = avcodec_alloc_context3(codec);
    ctx->width = view.header().biWidth;
    ctx->height = view.header().biHeight;
    ctx->bits_per_coded_sample = view.header().biBitCount;
    std::vector<uint8_t> rgb;
    AVPacket* packet = av_packet_alloc();
    AVFrame* frame = av_frame_alloc();
    std::vector<uint8_t> data(view.image().begin(), view.image().end());
    data.resize(data.size() + AV_INPUT_BUFFER_PADDING_SIZE, 0);
    packet->data = data.data();
    packet->size = int(view.image().size());
    if (avcodec_open2(ctx, codec, nullptr) == 0 && avcodec_send_packet(ctx, packet) == 0 &&
        avcodec_receive_frame(ctx, frame) == 0 && frame->width == ctx->width &&
        frame->height == ctx->height) {
        SwsContext* sws =
            sws_getContext(frame->width, frame->height, AVPixelFormat(frame->format), frame->width,
                           frame->height, AV_PIX_FMT_RGB24, SWS_BILINEAR, nullptr, nullptr, nullptr);
        rgb.resize(size_t(frame->width) * size_t(frame->height) * 3);
        uint8_t* dst[1] = {rgb.data()};
        const int dstStride[1] = {frame->width * 3};
        sws_scale(sws, frame->data, frame->linesize, 0, frame->height, dst, dstStride);
        sws_freeContext(sws);
    }
    av_frame_free(&frame);
    av_packet_free(&packet);
    avcodec_free_context(&ctx);
    return rgb;
}
