#pragma once

// One libavcodec decoder for one stream: a FourCC at one picture size and bit
// depth. It is set up as a video file reader would set it up from the stream's
// bitmap header: codec tag, width, height and bits per coded sample, and for
// palettised streams the colour table as palette side data with the first
// packet and whenever it changes. Decoders of inter-coded formats keep the
// previous picture here, so a stream must keep its own decoder.
//
// The decoders that update one picture in place from frame to frame (Cinepak,
// Microsoft Video 1 and RLE) get their buffers through a wrapper that learns
// when libavcodec lets a buffer go; that is what lets such a picture be lent
// to a live window instead of copied by libavcodec before every frame.

#include "platform/codec/DrawablePicture.h"
#include "platform/codec/FrameConverter.h"

#include <cstdint>
#include <memory>
#include <span>

struct AVCodec;
struct AVCodecContext;
struct AVFrame;
struct AVPacket;

class CodecDecoder {
public:
    struct Stream {
        uint32_t fourCC = 0;
        int width = 0;
        int height = 0;
        uint16_t bitCount = 0;

        bool operator==(const Stream&) const = default;
    };

    // Nothing when libavcodec cannot open the decoder for this stream.
    static std::unique_ptr<CodecDecoder> create(const AVCodec* codec, const Stream& stream);
    ~CodecDecoder();
    CodecDecoder(const CodecDecoder&) = delete;
    CodecDecoder& operator=(const CodecDecoder&) = delete;

    const Stream& stream() const { return m_stream; }
    // True once a picture came out. Some decoders settle their reading of the
    // stream on its first packet (Cinepak, for one, decides then whether frames
    // carry extra bytes), so a decoder that failed before its first picture is
    // better replaced than kept.
    bool hasDecoded() const { return m_hasDecoded; }

    // Decodes one compressed picture; `colorTable` is the frame's table of
    // 4-byte entries (blue, green, red, unused). The picture stays valid until
    // the next call; nothing when the data does not decode to a picture now.
    std::optional<SourcePicture> decode(std::span<const uint8_t> image, std::span<const uint8_t> colorTable);
    // What keeps the picture decode() returned last drawable; nothing without
    // a picture. Normally a reference to its buffers, which keeps its bytes
    // unchanged for as long as it is held (the decoder then decodes into
    // other buffers of its pool). With `live`, a decoder that keeps the
    // picture itself to update it in place lends it instead: the bytes then
    // follow the stream's next frames, and stay readable (copied out) if the
    // decoder lets the buffer go first.
    PictureHold holdPicture(bool live = false) const;

private:
    CodecDecoder() = default;

    bool attachPalette(std::span<const uint8_t> colorTable);
    // libavcodec's get_buffer2 for the decoders that lend their picture.
    static int getLendableBuffer(AVCodecContext* context, AVFrame* frame, int flags);

    Stream m_stream;
    AVCodecContext* m_context = nullptr;
    AVPacket* m_packet = nullptr;
    AVFrame* m_frame = nullptr;
    AVFrame* m_received = nullptr;
    bool m_paletteSent = false;
    bool m_hasDecoded = false;
    bool m_lends = false;
    Palette m_palette{};
};
