#include "tools/sitesim/TestPatternEncoder.h"

#include "platform/dib/PackedDib.h"

#include <algorithm>
#include <cctype>
#include <cstring>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/imgutils.h>
#include <libavutil/log.h>
#include <libavutil/opt.h>
#include <libswscale/swscale.h>
}

namespace sitesim {

namespace {

std::string lower(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        c = char(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

// 3 x 5 block digits, one row of three bits per 3 bits, top row first.
constexpr uint16_t kDigits[10] = {
    0b111'101'101'101'111, 0b010'110'010'010'111, 0b111'001'111'100'111, 0b111'001'111'001'111,
    0b101'101'111'001'001, 0b111'100'111'001'111, 0b111'100'111'101'111, 0b111'001'001'001'001,
    0b111'101'111'101'111, 0b111'101'111'001'111,
};

struct Canvas {
    uint8_t* rgb;
    int width, height, stride;

    void fill(int x0, int y0, int w, int h, uint8_t r, uint8_t g, uint8_t b) const {
        const int x1 = std::min(width, x0 + w), y1 = std::min(height, y0 + h);
        for (int y = std::max(0, y0); y < y1; ++y) {
            uint8_t* p = rgb + size_t(y) * size_t(stride);
            for (int x = std::max(0, x0); x < x1; ++x) {
                p[3 * x] = r;
                p[3 * x + 1] = g;
                p[3 * x + 2] = b;
            }
        }
    }

    // Draws `value` in block digits with its top-left corner at (x, y).
    void number(int64_t value, int x, int y, int cell) const {
        const std::string text = std::to_string(value);
        for (const char ch : text) {
            const uint16_t glyph = kDigits[ch - '0'];
            fill(x - cell / 2, y - cell / 2, 4 * cell, 6 * cell, 0, 0, 0);
            for (int row = 0; row < 5; ++row)
                for (int col = 0; col < 3; ++col)
                    if ((glyph >> (14 - (row * 3 + col))) & 1)
                        fill(x + col * cell, y + row * cell, cell, cell, 255, 255, 255);
            x += 4 * cell;
        }
    }
};

} // namespace

std::optional<Codec> parseCodec(std::string_view name) {
    const std::string n = lower(name);
    if (n == "mjpg" || n == "mjpeg")
        return Codec::Mjpeg;
    if (n == "cvid" || n == "cinepak")
        return Codec::Cinepak;
    if (n == "msvc" || n == "cram" || n == "msvideo1")
        return Codec::MsVideo1;
    if (n == "rgb" || n == "bi_rgb")
        return Codec::Rgb;
    return std::nullopt;
}

const char* codecName(Codec codec) {
    switch (codec) {
    case Codec::Mjpeg:
        return "mjpg";
    case Codec::Cinepak:
        return "cvid";
    case Codec::MsVideo1:
        return "msvc";
    case Codec::Rgb:
        return "rgb";
    }
    return "?";
}

uint32_t codecFourCC(Codec codec) {
    switch (codec) {
    case Codec::Mjpeg:
        return makeFourCC('M', 'J', 'P', 'G');
    case Codec::Cinepak:
        return makeFourCC('c', 'v', 'i', 'd');
    case Codec::MsVideo1:
        return makeFourCC('M', 'S', 'V', 'C');
    case Codec::Rgb:
        return BitmapInfoHeader::kRgb;
    }
    return 0;
}

bool isSupportedSize(int width, int height) {
    static constexpr int kSizes[][2] = {{160, 120}, {176, 144}, {320, 240}, {352, 288}, {640, 480}};
    return std::any_of(std::begin(kSizes), std::end(kSizes),
                       [&](const int* s) { return s[0] == width && s[1] == height; });
}

void TestPatternEncoder::renderPattern(int64_t index, int channel, int width, int height, uint8_t* rgb,
                                       int stride) {
    const Canvas canvas{rgb, width, height, stride};
    // Background: a vertical gradient tinted per channel.
    const int tint = (channel * 67) % 256;
    for (int y = 0; y < height; ++y) {
        const auto level = uint8_t(40 + 120 * y / std::max(1, height - 1));
        canvas.fill(0, y, width, 1, uint8_t((level + tint) / 2), level, uint8_t((level + 255 - tint) / 2));
    }
    // Colour bars across the middle third, scrolling sideways.
    static constexpr uint8_t kBars[8][3] = {{255, 255, 255}, {255, 255, 0}, {0, 255, 255}, {0, 255, 0},
                                            {255, 0, 255},   {255, 0, 0},   {0, 0, 255},   {16, 16, 16}};
    const int barWidth = std::max(1, width / 8);
    const int shift = int((index * 4 + int64_t(channel) * barWidth * 3) % (barWidth * 8));
    for (int x = 0; x < width; ++x) {
        const auto* bar = kBars[((x + shift) / barWidth) % 8];
        canvas.fill(x, height / 3, 1, height / 3, bar[0], bar[1], bar[2]);
    }
    // A box bouncing along the lower third.
    const int box = std::max(4, height / 6);
    const int travel = std::max(1, width - box);
    const int pos = int((index * 6 + int64_t(channel) * 37) % (2 * travel));
    const int bx = pos < travel ? pos : 2 * travel - pos;
    canvas.fill(bx, height * 2 / 3 + (height / 3 - box) / 2, box, box, 255, 128, 0);
    // Channel number top left, frame counter bottom left.
    const int cell = std::max(2, height / 40);
    canvas.number(channel, cell * 2, cell * 2, cell);
    canvas.number(index, cell * 2, height - cell * 8, cell);
}

TestPatternEncoder::TestPatternEncoder(Codec codec, int width, int height, int gop)
    : m_codec(codec)
    , m_width(width)
    , m_height(height)
    , m_gop(std::max(1, gop))
    , m_rgb(size_t(width) * size_t(height) * 3) {}

TestPatternEncoder::~TestPatternEncoder() {
    sws_freeContext(m_sws);
    av_packet_free(&m_packet);
    av_frame_free(&m_frame);
    avcodec_free_context(&m_context);
}

std::unique_ptr<TestPatternEncoder> TestPatternEncoder::create(Codec codec, int width, int height,
                                                               std::string& error, int gop) {
    if (!isSupportedSize(width, height)) {
        error = "unsupported picture size " + std::to_string(width) + "x" + std::to_string(height);
        return nullptr;
    }
    std::unique_ptr<TestPatternEncoder> encoder(new TestPatternEncoder(codec, width, height, gop));
    if (!encoder->open(error))
        return nullptr;
    return encoder;
}

bool TestPatternEncoder::open(std::string& error) {
    if (m_codec == Codec::Rgb)
        return true;
    // swscale notes that full-range YUV formats are deprecated; the encoder
    // needs exactly that, so only errors are worth printing.
    av_log_set_level(AV_LOG_ERROR);
    AVCodecID id = AV_CODEC_ID_MJPEG;
    AVPixelFormat format = AV_PIX_FMT_YUVJ420P;
    if (m_codec == Codec::Cinepak) {
        id = AV_CODEC_ID_CINEPAK;
        format = AV_PIX_FMT_RGB24;
    } else if (m_codec == Codec::MsVideo1) {
        id = AV_CODEC_ID_MSVIDEO1;
        format = AV_PIX_FMT_RGB555LE;
    }
    const AVCodec* codec = avcodec_find_encoder(id);
    if (!codec) {
        error = std::string("libavcodec has no encoder for ") + codecName(m_codec);
        return false;
    }
    m_context = avcodec_alloc_context3(codec);
    m_frame = av_frame_alloc();
    m_packet = av_packet_alloc();
    if (!m_context || !m_frame || !m_packet) {
        error = "out of memory";
        return false;
    }
    m_context->width = m_width;
    m_context->height = m_height;
    m_context->pix_fmt = format;
    m_context->time_base = AVRational{1, 25};
    // A key frame every m_gop frames. Microsoft Video 1 counts frames since
    // its last key frame against keyint_min (0 forces one each time); Cinepak
    // starts a key frame whenever its frame counter reaches keyint_min.
    m_context->gop_size = m_gop;
    m_context->keyint_min = m_codec == Codec::MsVideo1 ? m_gop - 1 : m_gop;
    if (m_codec == Codec::Mjpeg)
        m_context->flags |= AV_CODEC_FLAG_QSCALE;
    if (m_codec == Codec::Cinepak) {
        // Fewer strips and no extra codebook passes: nearly twice as fast.
        av_opt_set_int(m_context->priv_data, "max_strips", 1, 0);
        av_opt_set_int(m_context->priv_data, "max_extra_cb_iterations", 0, 0);
    }
    if (avcodec_open2(m_context, codec, nullptr) < 0) {
        error = std::string("cannot open the ") + codecName(m_codec) + " encoder";
        return false;
    }
    m_frame->format = format;
    m_frame->width = m_width;
    m_frame->height = m_height;
    if (av_frame_get_buffer(m_frame, 0) < 0) {
        error = "out of memory";
        return false;
    }
    if (format != AV_PIX_FMT_RGB24) {
        m_sws = sws_getContext(m_width, m_height, AV_PIX_FMT_RGB24, m_width, m_height, format, SWS_BILINEAR,
                               nullptr, nullptr, nullptr);
        if (!m_sws) {
            error = "cannot convert pictures for the encoder";
            return false;
        }
    }
    return true;
}

std::vector<uint8_t> TestPatternEncoder::packRgb() const {
    // BI_RGB rows are bottom-up, BGR, padded to 4 bytes.
    const size_t rowBytes = (size_t(m_width) * 3 + 3) & ~size_t{3};
    std::vector<uint8_t> image(rowBytes * size_t(m_height), 0);
    for (int y = 0; y < m_height; ++y) {
        const uint8_t* src = m_rgb.data() + size_t(y) * size_t(m_width) * 3;
        uint8_t* dst = image.data() + size_t(m_height - 1 - y) * rowBytes;
        for (int x = 0; x < m_width; ++x) {
            dst[3 * x] = src[3 * x + 2];
            dst[3 * x + 1] = src[3 * x + 1];
            dst[3 * x + 2] = src[3 * x];
        }
    }
    return image;
}

std::optional<std::vector<uint8_t>> TestPatternEncoder::encode(int64_t index, int channel, int quality) {
    if (m_codec != Codec::Cinepak)
        return encodeNow(index, channel, quality);
    if (channel != m_loopChannel || quality != m_loopQuality) {
        m_loop.assign(kCinepakLoop, {});
        m_loopChannel = channel;
        m_loopQuality = quality;
    }
    const auto slot = size_t(((index % kCinepakLoop) + kCinepakLoop) % kCinepakLoop);
    if (m_loop[slot].empty()) {
        auto dib = encodeNow(int64_t(slot), channel, quality);
        if (!dib)
            return std::nullopt;
        m_loop[slot] = std::move(*dib);
    }
    return m_loop[slot];
}

std::optional<std::vector<uint8_t>> TestPatternEncoder::encodeNow(int64_t index, int channel, int quality) {
    renderPattern(index, channel, m_width, m_height, m_rgb.data(), m_width * 3);
    std::vector<uint8_t> image;
    BitmapInfoHeader header;
    header.biWidth = m_width;
    header.biHeight = m_height;
    header.biBitCount = m_codec == Codec::MsVideo1 ? 16 : 24;
    header.biCompression = codecFourCC(m_codec);
    if (m_codec == Codec::Rgb) {
        image = packRgb();
    } else {
        if (av_frame_make_writable(m_frame) < 0)
            return std::nullopt;
        const uint8_t* src[1] = {m_rgb.data()};
        const int srcStride[1] = {m_width * 3};
        if (m_sws) {
            sws_scale(m_sws, src, srcStride, 0, m_height, m_frame->data, m_frame->linesize);
        } else {
            av_image_copy_plane(m_frame->data[0], m_frame->linesize[0], m_rgb.data(), m_width * 3,
                                m_width * 3, m_height);
        }
        m_frame->pts = m_pts++;
        m_frame->pict_type = m_gop == 1 ? AV_PICTURE_TYPE_I : AV_PICTURE_TYPE_NONE;
        if (m_codec == Codec::Mjpeg) {
            const int qscale = 2 + (100 - std::clamp(quality, 0, 100)) * 29 / 100;
            m_frame->quality = qscale * FF_QP2LAMBDA;
        }
        if (avcodec_send_frame(m_context, m_frame) < 0 || avcodec_receive_packet(m_context, m_packet) < 0)
            return std::nullopt;
        image.assign(m_packet->data, m_packet->data + m_packet->size);
        av_packet_unref(m_packet);
    }
    header.biSizeImage = uint32_t(image.size());
    std::vector<uint8_t> dib(BitmapInfoHeader::kSize + image.size());
    header.write(dib.data());
    std::copy(image.begin(), image.end(), dib.begin() + BitmapInfoHeader::kSize);
    return dib;
}

} // namespace sitesim
