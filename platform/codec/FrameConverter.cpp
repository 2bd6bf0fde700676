#include "platform/codec/FrameConverter.h"

#include "platform/log/DialscopeLog.h"

extern "C" {
#include <libavutil/mem.h>
#include <libswscale/swscale.h>
}

#include <algorithm>
#include <cstring>

std::optional<FrameGeometry> FrameGeometry::of(const BitmapInfoHeader& header) {
    // 64-bit magnitude: -INT32_MIN does not fit in 32 bits.
    const int64_t height = header.biHeight;
    const int64_t rows = height < 0 ? -height : height;
    if (header.biWidth <= 0 || header.biWidth > kMaxFrameSide || rows == 0 || rows > kMaxFrameSide)
        return std::nullopt;
    return FrameGeometry{header.biWidth, int(rows), height < 0};
}

Palette paletteFromColorTable(std::span<const uint8_t> colorTable) {
    Palette palette{};
    const size_t entries = std::min(colorTable.size() / 4, palette.size());
    for (size_t i = 0; i < entries; ++i) {
        const uint8_t* e = colorTable.data() + 4 * i;
        palette[i] = 0xFF000000u | uint32_t(e[2]) << 16 | uint32_t(e[1]) << 8 | e[0];
    }
    return palette;
}

void AlignedBuffer::Free::operator()(uint8_t* p) const {
    av_free(p);
}

uint8_t* AlignedBuffer::reserve(size_t size) {
    if (size > m_capacity || !m_data) {
        m_data.reset(static_cast<uint8_t*>(av_malloc(size + kSlack)));
        m_capacity = m_data ? size : 0;
        if (!m_data)
            return nullptr;
    }
    std::memset(m_data.get() + size, 0, kSlack);
    return m_data.get();
}

FrameConverter::~FrameConverter() {
    for (Scaler& s : m_scalers)
        sws_freeContext(s.context);
}

SwsContext* FrameConverter::scalerFor(const SourcePicture& source, int width, int height) {
    ++m_clock;
    for (Scaler& s : m_scalers) {
        if (s.format == source.format && s.sourceWidth == source.width && s.sourceHeight == source.height &&
            s.width == width && s.height == height) {
            s.lastUse = m_clock;
            return s.context;
        }
    }
    SwsContext* context = sws_getContext(source.width, source.height, source.format, width, height,
                                         AV_PIX_FMT_BGR24, SWS_BILINEAR, nullptr, nullptr, nullptr);
    if (!context) {
        DIALSCOPE_WARN_LIMITED(lcCodec, "no scaler from %dx%d (pixel format %d) to %dx%d", source.width,
                               source.height, int(source.format), width, height);
        return nullptr;
    }
    if (m_scalers.size() == kMaxScalers) {
        auto oldest =
            std::min_element(m_scalers.begin(), m_scalers.end(),
                             [](const Scaler& a, const Scaler& b) { return a.lastUse < b.lastUse; });
        sws_freeContext(oldest->context);
        m_scalers.erase(oldest);
    }
    m_scalers.push_back({source.format, source.width, source.height, width, height, context, m_clock});
    return context;
}

bool FrameConverter::toBgr24(const SourcePicture& source, int width, int height, uint8_t* out,
                             int outStride) {
    if (source.width <= 0 || source.height <= 0 || source.width > kMaxFrameSide ||
        source.height > kMaxFrameSide || width <= 0 || height <= 0 || width > kMaxFrameSide ||
        height > kMaxFrameSide || !sws_isSupportedInput(source.format)) {
        DIALSCOPE_WARN_LIMITED(lcCodec, "cannot convert a %dx%d picture (pixel format %d) to %dx%d",
                               source.width, source.height, int(source.format), width, height);
        return false;
    }
    SwsContext* context = scalerFor(source, width, height);
    if (!context)
        return false;
    uint8_t* const dst[4] = {out, nullptr, nullptr, nullptr};
    const int dstStride[4] = {outStride, 0, 0, 0};
    if (const int rows = sws_scale(context, source.planes, source.strides, 0, source.height, dst, dstStride);
        rows != height) {
        DIALSCOPE_WARN_LIMITED(lcCodec, "scaling a %dx%d picture gave %d of %d rows", source.width,
                               source.height, rows, height);
        return false;
    }
    return true;
}

std::optional<std::vector<uint8_t>> FrameConverter::toDrawableDib(const SourcePicture& source, int width,
                                                                  int height, const BitmapInfoHeader& input) {
    if (width <= 0 || height <= 0 || width > kMaxFrameSide || height > kMaxFrameSide)
        return std::nullopt;
    const size_t rowBytes = size_t(width) * 3;
    const size_t scratchStride = (rowBytes + 63) & ~size_t(63);
    const uint8_t* scratch = nullptr;
    size_t sourceStride = scratchStride;
    if (source.format == AV_PIX_FMT_BGR24 && source.width == width && source.height == height &&
        source.strides[0] > 0) {
        // Already the DIB's pixel layout: its rows are copied as they are.
        scratch = source.planes[0];
        sourceStride = size_t(source.strides[0]);
    } else {
        uint8_t* converted = m_scratch.reserve(scratchStride * size_t(height));
        if (!converted) {
            DIALSCOPE_WARN_LIMITED(lcCodec, "no memory to convert a %dx%d picture", width, height);
            return std::nullopt;
        }
        if (!toBgr24(source, width, height, converted, int(scratchStride)))
            return std::nullopt;
        scratch = converted;
    }

    const size_t stride = (rowBytes + 3) & ~size_t(3);
    BitmapInfoHeader out;
    out.biWidth = width;
    out.biHeight = height;
    out.biBitCount = 24;
    out.biSizeImage = uint32_t(stride * size_t(height));
    out.biXPelsPerMeter = input.biXPelsPerMeter;
    out.biYPelsPerMeter = input.biYPelsPerMeter;

    std::vector<uint8_t> dib(BitmapInfoHeader::kSize + out.biSizeImage);
    out.write(dib.data());
    uint8_t* image = dib.data() + BitmapInfoHeader::kSize;
    for (int row = 0; row < height; ++row) // the DIB's first row is the picture's bottom row
        std::memcpy(image + size_t(row) * stride, scratch + size_t(height - 1 - row) * sourceStride,
                    rowBytes);
    return dib;
}
