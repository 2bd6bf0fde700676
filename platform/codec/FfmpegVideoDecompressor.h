#pragma once

// The libavcodec-backed video decompressor behind VideoDecompressor::open and
// VideoDecompressor::locate.
//
// It is opened for one decoder (the codec a handler code or a frame's FourCC
// names in libavformat's RIFF tag table), and that decoder alone answers
// canDecompress. decompress takes a frame of any FourCC: BI_RGB frames go
// through RawFrameReader, every other frame through a CodecDecoder kept per
// stream (FourCC, size, bit depth), so interleaved channels keep their own
// inter-frame state. At most kMaxDecoders streams are kept; the least recently
// used one is dropped.

#include "platform/codec/CodecDecoder.h"
#include "platform/codec/FrameConverter.h"
#include "platform/codec/RawFrameReader.h"
#include "platform/codec/VideoDecompressor.h"

#include <memory>
#include <utility>
#include <vector>

class FfmpegVideoDecompressor final : public VideoDecompressor {
public:
    static constexpr size_t kMaxDecoders = 8;

    // `codecId` is an AVCodecID that has a decoder.
    explicit FfmpegVideoDecompressor(int codecId);

    bool canDecompress(const BitmapInfoHeader& input) const override;
    std::unique_ptr<VideoDecompressor> fresh() const override;
    std::optional<std::vector<uint8_t>> decompress(std::span<const uint8_t> packedDib) override;
    std::optional<DrawablePicture> decompressPicture(std::span<const uint8_t> packedDib) override;
    std::optional<DrawablePicture> decompressLivePicture(std::span<const uint8_t> packedDib) override;

    // The AVCodecID libavformat's RIFF table gives a FourCC (case-insensitive)
    // when it is one of the formats recorders send (Indeo 3/4/5, Cinepak,
    // Microsoft Video 1 and RLE, Motion JPEG, MPEG-4 part 2, H.263, BI_RGB)
    // and libavcodec has a decoder for it; 0 (AV_CODEC_ID_NONE) otherwise.
    static int decoderIdFor(uint32_t fourCC);

private:
    // A frame's picture as decoded: by the decoder of its stream (which may
    // hold it), or read from BI_RGB rows (decoder null); nothing when the
    // frame describes no picture or does not decode.
    std::optional<DrawablePicture> picture(std::span<const uint8_t> packedDib, bool live);

    struct Decoded {
        SourcePicture picture;
        CodecDecoder* decoder;
        FrameGeometry geometry;
        BitmapInfoHeader header;
    };
    std::optional<Decoded> decode(std::span<const uint8_t> packedDib);
    CodecDecoder* decoderFor(const CodecDecoder::Stream& stream);
    void dropDecoder(const CodecDecoder* decoder);

    struct Slot {
        std::unique_ptr<CodecDecoder> decoder;
        uint64_t lastUse;
    };

    int m_codecId;
    std::vector<Slot> m_decoders;
    uint64_t m_clock = 0;
    RawFrameReader m_raw;
    FrameConverter m_converter;
};
