#include "platform/codec/CodecDecoder.h"

#include "platform/log/DialscopeLog.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/error.h>
}

#include <algorithm>
#include <cstring>
#include <new>
#include <string>

namespace {

// libavcodec's text for an error code, for the log.
std::string avErrorText(int code) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return text;
}

// The stream's FourCC as four characters, for the log.
std::string fourCCText(uint32_t fourCC) {
    std::string text;
    for (int i = 0; i < 4; ++i) {
        const char c = char((fourCC >> (8 * i)) & 0xFF);
        text += c >= 0x20 && c < 0x7F ? c : '?';
    }
    return text;
}

// Where the bytes of a lendable buffer are: libavcodec's buffer while the
// decoder holds it, then a copy of its last contents if pictures were still
// drawn from it when the decoder let it go (null if that copy failed).
struct LentBytes {
    const uint8_t* bytes = nullptr;
    std::unique_ptr<uint8_t[]> copy;
};

// A buffer libavcodec's default allocator made, wrapped so that its release
// passes through releaseLendable().
struct LendableBuffer {
    static constexpr uint32_t kTag = 0x4c454e44; // marks buffers made here
    uint32_t tag = kTag;
    AVBufferRef* inner = nullptr;
    std::shared_ptr<LentBytes> lent;
};

void releaseLendable(void* opaque, uint8_t*) {
    auto* buffer = static_cast<LendableBuffer*>(opaque);
    if (buffer->lent.use_count() > 1) {
        // A window still draws this picture: it keeps the last contents.
        LentBytes& lent = *buffer->lent;
        lent.copy.reset(new (std::nothrow) uint8_t[buffer->inner->size]);
        if (lent.copy)
            std::memcpy(lent.copy.get(), buffer->inner->data, buffer->inner->size);
        lent.bytes = lent.copy.get();
    }
    av_buffer_unref(&buffer->inner);
    delete buffer;
}

// The decoders that keep one picture and update it in place with each frame.
bool updatesInPlace(AVCodecID id) {
    return id == AV_CODEC_ID_CINEPAK || id == AV_CODEC_ID_MSVIDEO1 || id == AV_CODEC_ID_MSRLE;
}

} // namespace

int CodecDecoder::getLendableBuffer(AVCodecContext* context, AVFrame* frame, int flags) {
    if (const int error = avcodec_default_get_buffer2(context, frame, flags); error < 0)
        return error;
    // On failure libavcodec lets go of the frame, wrapped buffers or not.
    for (AVBufferRef*& buffer : frame->buf) {
        if (!buffer)
            continue;
        auto* wrapped = new (std::nothrow) LendableBuffer;
        if (!wrapped)
            return AVERROR(ENOMEM);
        try {
            wrapped->lent = std::make_shared<LentBytes>();
        } catch (const std::bad_alloc&) {
            delete wrapped;
            return AVERROR(ENOMEM);
        }
        wrapped->lent->bytes = buffer->data;
        AVBufferRef* outer = av_buffer_create(buffer->data, buffer->size, &releaseLendable, wrapped, 0);
        if (!outer) {
            delete wrapped;
            return AVERROR(ENOMEM);
        }
        wrapped->inner = buffer;
        buffer = outer;
    }
    return 0;
}

std::unique_ptr<CodecDecoder> CodecDecoder::create(const AVCodec* codec, const Stream& stream) {
    std::unique_ptr<CodecDecoder> decoder(new CodecDecoder);
    decoder->m_stream = stream;
    AVCodecContext* context = avcodec_alloc_context3(codec);
    decoder->m_context = context;
    decoder->m_packet = av_packet_alloc();
    decoder->m_frame = av_frame_alloc();
    decoder->m_received = av_frame_alloc();
    if (!context || !decoder->m_packet || !decoder->m_frame || !decoder->m_received) {
        DIALSCOPE_WARN_LIMITED(lcCodec, "no memory for a %s decoder", fourCCText(stream.fourCC).c_str());
        return nullptr;
    }

    context->codec_tag = stream.fourCC;
    context->width = stream.width;
    context->height = stream.height;
    context->bits_per_coded_sample = stream.bitCount;
    // Decoding happens on the caller's thread, one picture out per frame in:
    // no frame threads, whose pipeline would hold pictures back.
    context->thread_count = 1;
    if (updatesInPlace(codec->id)) {
        decoder->m_lends = true;
        context->get_buffer2 = &CodecDecoder::getLendableBuffer;
    }
    // Formats that take their size from the bitstream must not make a frame
    // cost more than its header declared: the picture is capped to the
    // declared width x height. libavcodec checks its buffers against this
    // limit with whole padded rows (strides aligned to 64 pixels, heights to
    // macroblocks, the 16-pixel edges motion-compensated formats draw around
    // a picture), and MPEG-4's edge emulation scratch of 280 padded rows
    // whatever the height; hence the padding and nothing more.
    const auto padded = [](int64_t side, int64_t align, int64_t extra) {
        return (side + align - 1) / align * align + extra;
    };
    const int64_t picture = padded(stream.width, 64, 128) * padded(stream.height, 16, 64);
    const int64_t scratch = padded(stream.width + 32, 64, 128) * 288;
    context->max_pixels = std::max(picture, scratch);
    if (const int error = avcodec_open2(context, codec, nullptr); error < 0) {
        DIALSCOPE_WARN_LIMITED(lcCodec, "cannot open the %s decoder for %dx%d, %d bits: %s",
                               fourCCText(stream.fourCC).c_str(), stream.width, stream.height,
                               stream.bitCount, avErrorText(error).c_str());
        return nullptr;
    }
    return decoder;
}

CodecDecoder::~CodecDecoder() {
    av_frame_free(&m_received);
    av_frame_free(&m_frame);
    av_packet_free(&m_packet);
    avcodec_free_context(&m_context);
}

bool CodecDecoder::attachPalette(std::span<const uint8_t> colorTable) {
    const Palette palette = paletteFromColorTable(colorTable);
    if (m_paletteSent && palette == m_palette)
        return true;
    uint8_t* side = av_packet_new_side_data(m_packet, AV_PKT_DATA_PALETTE, AVPALETTE_SIZE);
    if (!side)
        return false;
    std::memcpy(side, palette.data(), AVPALETTE_SIZE);
    m_palette = palette;
    m_paletteSent = true;
    return true;
}

std::optional<SourcePicture> CodecDecoder::decode(std::span<const uint8_t> image,
                                                  std::span<const uint8_t> colorTable) {
    // An empty packet would start draining the decoder instead of decoding.
    if (image.empty() || image.size() > size_t(INT32_MAX) - AV_INPUT_BUFFER_PADDING_SIZE)
        return std::nullopt;
    // The previous picture is let go first, so that a delta-coded decoder may
    // update its buffer in place instead of copying it (unless a holder keeps it).
    av_frame_unref(m_frame);
    // The packet's buffer is reused while the decoder holds no reference to it
    // and it is large enough; the padding libavcodec's bitstream readers may
    // touch is zeroed either way (av_new_packet does it for a new buffer).
    const size_t need = image.size() + AV_INPUT_BUFFER_PADDING_SIZE;
    av_packet_free_side_data(m_packet);
    if (m_packet->buf && av_buffer_is_writable(m_packet->buf) && m_packet->buf->size >= need) {
        m_packet->data = m_packet->buf->data;
        m_packet->size = int(image.size());
        std::memset(m_packet->data + image.size(), 0, AV_INPUT_BUFFER_PADDING_SIZE);
    } else {
        av_packet_unref(m_packet);
        if (const int error = av_new_packet(m_packet, int(image.size())); error < 0) {
            DIALSCOPE_WARN_LIMITED(lcCodec, "no packet for a %zu-byte frame: %s", image.size(),
                                   avErrorText(error).c_str());
            return std::nullopt;
        }
    }
    std::memcpy(m_packet->data, image.data(), image.size());
    if (m_stream.bitCount <= 8 && !colorTable.empty() && !attachPalette(colorTable))
        return std::nullopt;

    if (const int error = avcodec_send_packet(m_context, m_packet); error < 0) {
        // Damaged frames are routine on a telephone line: the budget keeps a
        // stream of them from flooding the log.
        DIALSCOPE_WARN_LIMITED(lcCodec, "%s decoder refused a %zu-byte frame: %s",
                               fourCCText(m_stream.fourCC).c_str(), image.size(), avErrorText(error).c_str());
        m_paletteSent = false; // the decoder may have dropped the packet before taking its palette
        return std::nullopt;
    }
    bool got = false;
    int received = 0;
    while ((received = avcodec_receive_frame(m_context, m_received)) >= 0) {
        av_frame_unref(m_frame);
        av_frame_move_ref(m_frame, m_received);
        got = true;
    }
    if (!got) {
        // EAGAIN only asks for more input (a decoder with a delay).
        if (received == AVERROR(EAGAIN))
            qCDebug(lcCodec, "%s decoder holds its picture back", fourCCText(m_stream.fourCC).c_str());
        else
            DIALSCOPE_WARN_LIMITED(lcCodec, "%s decoder gave no picture for a %zu-byte frame: %s",
                                   fourCCText(m_stream.fourCC).c_str(), image.size(),
                                   avErrorText(received).c_str());
        return std::nullopt;
    }
    m_hasDecoded = true;

    SourcePicture picture;
    picture.format = AVPixelFormat(m_frame->format);
    picture.width = m_frame->width;
    picture.height = m_frame->height;
    for (int i = 0; i < 4; ++i) {
        picture.planes[i] = m_frame->data[i];
        picture.strides[i] = m_frame->linesize[i];
    }
    return picture;
}

PictureHold CodecDecoder::holdPicture(bool live) const {
    if (!m_frame->buf[0])
        return {};
    if (live && m_lends && m_frame->buf[1] == nullptr) {
        // More than our own reference: the decoder keeps this picture to
        // update it with the next frame, and lends it rather than copy it.
        auto* buffer = static_cast<LendableBuffer*>(av_buffer_get_opaque(m_frame->buf[0]));
        if (buffer && buffer->tag == LendableBuffer::kTag && av_buffer_get_ref_count(m_frame->buf[0]) > 1) {
            std::shared_ptr<const uint8_t* const> where(buffer->lent, &buffer->lent->bytes);
            return {where, where};
        }
    }
    AVFrame* held = av_frame_clone(m_frame);
    if (!held)
        return {};
    return {std::shared_ptr<const void>(held,
                                        [](const void* p) {
                                            AVFrame* frame = static_cast<AVFrame*>(const_cast<void*>(p));
                                            av_frame_free(&frame);
                                        }),
            nullptr};
}
