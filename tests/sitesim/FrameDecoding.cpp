#include "tests/sitesim/FrameDecoding.h"

#include "platform/dib/PackedDib.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/log.h>
#include <libswscale/swscale.h>
}

std::vector<uint8_t> decodeToRgb(const std::vector<uint8_t>& dib, AVCodecID id) {
    std::vector<std::vector<uint8_t>> pictures = decodeStreamToRgb({dib}, id);
    return pictures.empty() ? std::vector<uint8_t>{} : std::move(pictures.front());
}

std::vector<std::vector<uint8_t>> decodeStreamToRgb(const std::vector<std::vector<uint8_t>>& dibs,
                                                    AVCodecID id) {
    av_log_set_level(AV_LOG_ERROR);
    std::vector<std::vector<uint8_t>> pictures;
    if (dibs.empty() || !PackedDibView(dibs.front()).valid())
        return pictures;
    const BitmapInfoHeader first = PackedDibView(dibs.front()).header();
    const AVCodec* codec = avcodec_find_decoder(id);
    AVCodecContext* ctx = avcodec_alloc_context3(codec);
    ctx->width = first.biWidth;
    ctx->height = first.biHeight;
    ctx->bits_per_coded_sample = first.biBitCount;
    AVPacket* packet = av_packet_alloc();
    AVFrame* frame = av_frame_alloc();
    const bool open = avcodec_open2(ctx, codec, nullptr) == 0;
    for (const std::vector<uint8_t>& dib : dibs) {
        const PackedDibView view(dib);
        if (!open || !view.valid())
            break;
        std::vector<uint8_t> data(view.image().begin(), view.image().end());
        data.resize(data.size() + AV_INPUT_BUFFER_PADDING_SIZE, 0);
        packet->data = data.data();
        packet->size = int(view.image().size());
        std::vector<uint8_t>& rgb = pictures.emplace_back();
        if (avcodec_send_packet(ctx, packet) != 0 || avcodec_receive_frame(ctx, frame) != 0 ||
            frame->width != ctx->width || frame->height != ctx->height)
            continue;
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
    return pictures;
}
