// Decoding one 320x240 frame into a drawable DIB, per codec: the work done for
// every frame a channel window shows. Run with --benchmark_repetitions=9 to see
// medians.

#include "platform/codec/VideoDecompressor.h"
#include "tests/codec/TestFrames.h"

#include <benchmark/benchmark.h>

extern "C" {
#include <libavcodec/avcodec.h>
}

#include <algorithm>
#include <cstring>
#include <random>

namespace {

// Colour bars with sensor-like noise, so that the codecs have detail to code as
// in camera pictures, not just flat areas.
TestImage cameraLikePicture() {
    TestImage image = makeColourBars(320, 240);
    std::mt19937 random(20);
    std::uniform_int_distribution<int> noise(-12, 12);
    for (uint8_t& v : image.bgr)
        v = uint8_t(std::clamp(int(v) + noise(random), 0, 255));
    return image;
}

void decodeLoop(benchmark::State& state, const std::vector<uint8_t>& frame) {
    auto decompressor = VideoDecompressor::locate(*BitmapInfoHeader::parse(frame));
    if (!decompressor || !decompressor->decompress(frame)) {
        state.SkipWithError("frame does not decode");
        return;
    }
    for (auto _ : state)
        benchmark::DoNotOptimize(decompressor->decompress(frame));
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(frame.size()));
}

void BM_DecodeCoded(benchmark::State& state, const char* encoder, uint32_t fourCC, uint16_t bitCount) {
    auto enc = TestFrameEncoder::create(encoder, fourCC, bitCount, 320, 240);
    const std::vector<uint8_t> frame = enc ? enc->encode(cameraLikePicture()) : std::vector<uint8_t>();
    if (frame.empty()) {
        state.SkipWithError("no encoder");
        return;
    }
    decodeLoop(state, frame);
}

void BM_DecodeRaw(benchmark::State& state, uint16_t bitCount) {
    decodeLoop(state, rawDib(cameraLikePicture(), bitCount, false));
}

// Delta-coded video as recorders send it: a key frame, then eleven frames that
// carry only what moved. `streams` channels of the same size interleave, each
// decoding in a decompressor of its own (one per stream, as a connection
// keeps them). Time is per frame.
void BM_DecodeDeltaPerStream(benchmark::State& state, const char* encoder, uint32_t fourCC,
                             uint16_t bitCount) {
    const int streams = int(state.range(0));
    constexpr int kGop = 12;
    auto enc = TestFrameEncoder::create(encoder, fourCC, bitCount, 320, 240, kGop);
    if (!enc) {
        state.SkipWithError("no encoder");
        return;
    }
    std::vector<std::vector<uint8_t>> frames;
    TestImage picture = cameraLikePicture();
    for (int i = 0; i < kGop; ++i) {
        // A box moving over the still scene: the part a delta frame carries.
        for (int y = 100; y < 140; ++y)
            for (int x = 0; x < 40; ++x)
                std::fill_n(&picture.bgr[(size_t(y) * 320 + size_t(x + 20 * i)) * 3], 3, uint8_t(40 * i));
        frames.push_back(enc->encode(picture));
        if (frames.back().empty()) {
            state.SkipWithError("encoding failed");
            return;
        }
    }
    std::vector<std::unique_ptr<VideoDecompressor>> decompressors;
    for (int s = 0; s < streams; ++s)
        decompressors.push_back(VideoDecompressor::locate(*BitmapInfoHeader::parse(frames[0])));
    if (!decompressors[0]) {
        state.SkipWithError("no decompressor");
        return;
    }
    size_t next = 0;
    for (auto _ : state) {
        const std::vector<uint8_t>& frame = frames[(next / size_t(streams)) % frames.size()];
        benchmark::DoNotOptimize(decompressors[next % size_t(streams)]->decompress(frame));
        ++next;
    }
    state.SetItemsProcessed(int64_t(state.iterations()));
}

// A camera's stream as sites send it: a key frame every `gop` pictures (1: all
// key frames), the others delta frames that carry a box moving over the
// still scene.
std::vector<std::vector<uint8_t>> cameraStream(const char* encoder, uint32_t fourCC, uint16_t bitCount,
                                               int gop) {
    constexpr int kFrames = 12;
    auto enc = TestFrameEncoder::create(encoder, fourCC, bitCount, 320, 240, gop);
    if (!enc)
        return {};
    std::vector<std::vector<uint8_t>> frames;
    TestImage picture = cameraLikePicture();
    for (int i = 0; i < kFrames; ++i) {
        for (int y = 100; y < 140; ++y)
            for (int x = 0; x < 40; ++x)
                std::fill_n(&picture.bgr[(size_t(y) * 320 + size_t(x + 20 * i)) * 3], 3, uint8_t(40 * i));
        frames.push_back(enc->encode(picture));
        if (frames.back().empty())
            return {};
    }
    return frames;
}

// libavcodec's own cost of a frame: avcodec_send_packet and
// avcodec_receive_frame alone, set up as our decoder sets it up (tag, size,
// bits per sample, one thread), the packet already in a padded buffer.
void BM_LibavDecodeOnly(benchmark::State& state, const char* encoder, uint32_t fourCC, uint16_t bitCount,
                        int gop) {
    const auto frames = cameraStream(encoder, fourCC, bitCount, gop);
    if (frames.empty()) {
        state.SkipWithError("no encoder");
        return;
    }
    const AVCodec* codec = avcodec_find_decoder_by_name(encoder);
    AVCodecContext* context = codec ? avcodec_alloc_context3(codec) : nullptr;
    AVPacket* packet = av_packet_alloc();
    AVFrame* picture = av_frame_alloc();
    if (!context || !packet || !picture) {
        state.SkipWithError("no decoder");
        return;
    }
    context->codec_tag = fourCC;
    context->width = 320;
    context->height = 240;
    context->bits_per_coded_sample = bitCount;
    context->thread_count = 1;
    std::vector<AVPacket*> packets;
    for (const auto& frame : frames) {
        const PackedDibView view(frame);
        AVPacket* p = av_packet_alloc();
        av_new_packet(p, int(view.image().size()));
        std::memcpy(p->data, view.image().data(), view.image().size());
        packets.push_back(p);
    }
    if (avcodec_open2(context, codec, nullptr) < 0) {
        state.SkipWithError("decoder does not open");
        return;
    }
    size_t next = 0;
    for (auto _ : state) {
        av_packet_ref(packet, packets[next++ % packets.size()]);
        avcodec_send_packet(context, packet);
        av_packet_unref(packet);
        while (avcodec_receive_frame(context, picture) >= 0)
            benchmark::DoNotOptimize(picture->data[0]);
    }
    state.SetItemsProcessed(int64_t(state.iterations()));
    for (AVPacket* p : packets)
        av_packet_free(&p);
    av_frame_free(&picture);
    av_packet_free(&packet);
    avcodec_free_context(&context);
}

// The same frames through a channel's decompressor: decode and conversion to
// the picture the channel window draws (and keeps while it shows it, until the
// stream's next picture replaces it).
void BM_DecodeToDrawable(benchmark::State& state, const char* encoder, uint32_t fourCC, uint16_t bitCount,
                         int gop) {
    const auto frames = cameraStream(encoder, fourCC, bitCount, gop);
    if (frames.empty()) {
        state.SkipWithError("no encoder");
        return;
    }
    auto decompressor = VideoDecompressor::locate(*BitmapInfoHeader::parse(frames[0]));
    if (!decompressor) {
        state.SkipWithError("no decompressor");
        return;
    }
    std::optional<DrawablePicture> shown;
    size_t next = 0;
    for (auto _ : state)
        shown = decompressor->decompressLivePicture(frames[next++ % frames.size()]);
    state.SetItemsProcessed(int64_t(state.iterations()));
}

} // namespace

// Side by side: libavcodec alone, then the whole path to the drawable picture.
BENCHMARK_CAPTURE(BM_LibavDecodeOnly, mjpeg_MJPG, "mjpeg", makeFourCC('M', 'J', 'P', 'G'), 24, 1);
BENCHMARK_CAPTURE(BM_DecodeToDrawable, mjpeg_MJPG, "mjpeg", makeFourCC('M', 'J', 'P', 'G'), 24, 1);
BENCHMARK_CAPTURE(BM_LibavDecodeOnly, cinepak_cvid, "cinepak", makeFourCC('c', 'v', 'i', 'd'), 24, 12);
BENCHMARK_CAPTURE(BM_DecodeToDrawable, cinepak_cvid, "cinepak", makeFourCC('c', 'v', 'i', 'd'), 24, 12);
BENCHMARK_CAPTURE(BM_LibavDecodeOnly, msvideo1_CRAM, "msvideo1", makeFourCC('C', 'R', 'A', 'M'), 16, 12);
BENCHMARK_CAPTURE(BM_DecodeToDrawable, msvideo1_CRAM, "msvideo1", makeFourCC('C', 'R', 'A', 'M'), 16, 12);

BENCHMARK_CAPTURE(BM_DecodeDeltaPerStream, cinepak_cvid, "cinepak", makeFourCC('c', 'v', 'i', 'd'), 24)
    ->Arg(1)
    ->Arg(4);
BENCHMARK_CAPTURE(BM_DecodeDeltaPerStream, msvideo1_CRAM, "msvideo1", makeFourCC('C', 'R', 'A', 'M'), 16)
    ->Arg(1)
    ->Arg(4);
BENCHMARK_CAPTURE(BM_DecodeCoded, mjpeg_MJPG, "mjpeg", makeFourCC('M', 'J', 'P', 'G'), 24);
BENCHMARK_CAPTURE(BM_DecodeCoded, mpeg4_XVID, "mpeg4", makeFourCC('X', 'V', 'I', 'D'), 24);
BENCHMARK_CAPTURE(BM_DecodeCoded, cinepak_cvid, "cinepak", makeFourCC('c', 'v', 'i', 'd'), 24);
BENCHMARK_CAPTURE(BM_DecodeCoded, msvideo1_CRAM, "msvideo1", makeFourCC('C', 'R', 'A', 'M'), 16);
BENCHMARK_CAPTURE(BM_DecodeRaw, rgb16, 16);
BENCHMARK_CAPTURE(BM_DecodeRaw, rgb24, 24);
BENCHMARK_CAPTURE(BM_DecodeRaw, rgb32, 32);

BENCHMARK_MAIN();
