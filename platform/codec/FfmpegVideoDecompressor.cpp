#include "platform/codec/FfmpegVideoDecompressor.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/log.h>
}

#include <algorithm>
#include <mutex>

namespace {

// Damaged frames from a telephone line are routine; libavcodec would report each
// one on stderr, some as fatal. Only the default level is changed, so a level
// set deliberately by the program stays.
void quietenLibav() {
    static std::once_flag once;
    std::call_once(once, [] {
        if (av_log_get_level() == AV_LOG_INFO)
            av_log_set_level(AV_LOG_QUIET);
    });
}

// The formats recorders of this kind send. A site's frames reach only these
// decoders, whatever FourCC they carry: libavcodec has hundreds of others,
// each one more parser a hostile caller could aim at, some far costlier per
// byte than any of these.
constexpr AVCodecID kAllowedCodecs[] = {
    AV_CODEC_ID_INDEO3,   AV_CODEC_ID_INDEO4,   AV_CODEC_ID_INDEO5,
    AV_CODEC_ID_CINEPAK,  AV_CODEC_ID_MSVIDEO1, // CRAM, MSVC, WHAM
    AV_CODEC_ID_MSRLE,    AV_CODEC_ID_MJPEG,
    AV_CODEC_ID_MPEG4, // DIVX, DX50, XVID, MP4V
    AV_CODEC_ID_H263,     AV_CODEC_ID_H263I,    AV_CODEC_ID_H263P,
    AV_CODEC_ID_RAWVIDEO, // BI_RGB only, see allowed()
};

bool allowed(AVCodecID id, uint32_t fourCC) {
    if (id == AV_CODEC_ID_RAWVIDEO)
        return fourCC == BitmapInfoHeader::kRgb;
    return std::find(std::begin(kAllowedCodecs), std::end(kAllowedCodecs), id) != std::end(kAllowedCodecs);
}

// A handler code of 1 to 4 characters, padded with spaces as FourCCs are.
std::optional<uint32_t> fourCCOfHandler(std::string_view handler) {
    if (handler.empty() || handler.size() > 4)
        return std::nullopt;
    char c[4] = {' ', ' ', ' ', ' '};
    std::copy(handler.begin(), handler.end(), c);
    return makeFourCC(c[0], c[1], c[2], c[3]);
}

} // namespace

int FfmpegVideoDecompressor::decoderIdFor(uint32_t fourCC) {
    // av_codec_get_id tries the exact tag first, then compares upper-cased tags.
    const AVCodecTag* const tables[] = {avformat_get_riff_video_tags(), nullptr};
    const AVCodecID id = av_codec_get_id(tables, fourCC);
    return id != AV_CODEC_ID_NONE && allowed(id, fourCC) && avcodec_find_decoder(id) ? int(id)
                                                                                     : int(AV_CODEC_ID_NONE);
}

std::unique_ptr<VideoDecompressor> VideoDecompressor::open(std::string_view handler) {
    const auto fourCC = fourCCOfHandler(handler);
    const int id = fourCC ? FfmpegVideoDecompressor::decoderIdFor(*fourCC) : int(AV_CODEC_ID_NONE);
    if (id == AV_CODEC_ID_NONE)
        return nullptr;
    return std::make_unique<FfmpegVideoDecompressor>(id);
}

std::unique_ptr<VideoDecompressor> VideoDecompressor::locate(const BitmapInfoHeader& input) {
    const int id = FfmpegVideoDecompressor::decoderIdFor(input.biCompression);
    if (id == AV_CODEC_ID_NONE)
        return nullptr;
    auto decompressor = std::make_unique<FfmpegVideoDecompressor>(id);
    if (!decompressor->canDecompress(input))
        return nullptr;
    return decompressor;
}

FfmpegVideoDecompressor::FfmpegVideoDecompressor(int codecId)
    : m_codecId(codecId) {
    quietenLibav();
}

bool FfmpegVideoDecompressor::canDecompress(const BitmapInfoHeader& input) const {
    if (input.biSize != BitmapInfoHeader::kSize || !FrameGeometry::of(input))
        return false;
    if (input.biCompression == BitmapInfoHeader::kRgb && !RawFrameReader::supports(input.biBitCount))
        return false;
    return decoderIdFor(input.biCompression) == m_codecId;
}

std::unique_ptr<VideoDecompressor> FfmpegVideoDecompressor::fresh() const {
    return std::make_unique<FfmpegVideoDecompressor>(m_codecId);
}

std::optional<FfmpegVideoDecompressor::Decoded>
FfmpegVideoDecompressor::decode(std::span<const uint8_t> packedDib) {
    const PackedDibView view(packedDib);
    if (!view.valid())
        return std::nullopt;
    const auto geometry = FrameGeometry::of(view.header());
    if (!geometry)
        return std::nullopt;
    const BitmapInfoHeader& header = view.header();
    if (header.biCompression == BitmapInfoHeader::kRgb) {
        const auto picture = m_raw.read(packedDib, view, *geometry);
        if (!picture)
            return std::nullopt;
        return Decoded{*picture, nullptr, *geometry, header};
    }
    CodecDecoder* decoder =
        decoderFor({header.biCompression, geometry->width, geometry->height, header.biBitCount});
    if (!decoder)
        return std::nullopt;
    const auto picture = decoder->decode(view.image(), view.colorTable());
    if (!picture) {
        if (!decoder->hasDecoded())
            dropDecoder(decoder);
        return std::nullopt;
    }
    return Decoded{*picture, decoder, *geometry, header};
}

std::optional<std::vector<uint8_t>> FfmpegVideoDecompressor::decompress(std::span<const uint8_t> packedDib) {
    const auto decoded = decode(packedDib);
    if (!decoded)
        return std::nullopt;
    // A picture whose own size differs from the header is fitted to the header,
    // which is what the caller sized its window for.
    return m_converter.toDrawableDib(decoded->picture, decoded->geometry.width, decoded->geometry.height,
                                     decoded->header);
}

std::optional<DrawablePicture>
FfmpegVideoDecompressor::decompressPicture(std::span<const uint8_t> packedDib) {
    return picture(packedDib, false);
}

std::optional<DrawablePicture>
FfmpegVideoDecompressor::decompressLivePicture(std::span<const uint8_t> packedDib) {
    return picture(packedDib, true);
}

std::optional<DrawablePicture> FfmpegVideoDecompressor::picture(std::span<const uint8_t> packedDib,
                                                                bool live) {
    const auto decoded = decode(packedDib);
    if (!decoded)
        return std::nullopt;
    // A decoder's picture may be held as it is; the raw reader reuses its
    // buffer, so its picture gets a converted copy.
    CodecDecoder* decoder = decoded->decoder;
    return DrawablePicture::fromSource(
        decoded->picture, decoded->geometry.width, decoded->geometry.height, decoded->header, m_converter,
        [decoder, live]() { return decoder ? decoder->holdPicture(live) : PictureHold{}; });
}

CodecDecoder* FfmpegVideoDecompressor::decoderFor(const CodecDecoder::Stream& stream) {
    ++m_clock;
    for (Slot& slot : m_decoders) {
        if (slot.decoder->stream() == stream) {
            slot.lastUse = m_clock;
            return slot.decoder.get();
        }
    }
    const int id = decoderIdFor(stream.fourCC);
    if (id == AV_CODEC_ID_NONE)
        return nullptr;
    auto decoder = CodecDecoder::create(avcodec_find_decoder(AVCodecID(id)), stream);
    if (!decoder)
        return nullptr;
    if (m_decoders.size() == kMaxDecoders) {
        auto oldest = std::min_element(m_decoders.begin(), m_decoders.end(),
                                       [](const Slot& a, const Slot& b) { return a.lastUse < b.lastUse; });
        m_decoders.erase(oldest);
    }
    m_decoders.push_back({std::move(decoder), m_clock});
    return m_decoders.back().decoder.get();
}

void FfmpegVideoDecompressor::dropDecoder(const CodecDecoder* decoder) {
    std::erase_if(m_decoders, [decoder](const Slot& slot) { return slot.decoder.get() == decoder; });
}
