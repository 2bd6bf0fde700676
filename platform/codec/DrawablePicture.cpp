#include "platform/codec/DrawablePicture.h"

#include "platform/codec/VideoDecompressor.h"

#include <algorithm>
#include <climits>

extern "C" {
#include <libavutil/mem.h>
}

namespace {

std::optional<DrawablePicture::Layout> drawableLayout(AVPixelFormat format) {
    switch (format) {
    case AV_PIX_FMT_BGR24:
        return DrawablePicture::Layout::Bgr24;
    case AV_PIX_FMT_RGB24:
        return DrawablePicture::Layout::Rgb24;
    case AV_PIX_FMT_RGB555LE:
        return DrawablePicture::Layout::Rgb555;
    default:
        return std::nullopt;
    }
}

} // namespace

std::optional<DrawablePicture> DrawablePicture::fromSource(const SourcePicture& source, int width, int height,
                                                           const BitmapInfoHeader& header,
                                                           FrameConverter& converter,
                                                           const std::function<PictureHold()>& hold) {
    const auto layout = drawableLayout(source.format);
    if (layout && source.width == width && source.height == height && source.planes[0] &&
        source.strides[0] > 0 && source.strides[0] % 4 == 0) {
        PictureHold held = hold();
        if (held.owner) {
            DrawablePicture picture(*layout, width, height, source.planes[0], source.strides[0],
                                    std::move(held.owner), header);
            if (held.lent && *held.lent && source.planes[0] >= *held.lent) {
                picture.m_lentOffset = size_t(source.planes[0] - *held.lent);
                picture.m_lent = std::move(held.lent);
            }
            return picture;
        }
    }
    if (width <= 0 || height <= 0 || width > kMaxFrameSide || height > kMaxFrameSide)
        return std::nullopt;
    const size_t stride = (size_t(width) * 3 + 63) & ~size_t(63);
    std::shared_ptr<uint8_t> buffer(
        static_cast<uint8_t*>(av_malloc(stride * size_t(height) + AlignedBuffer::kSlack)),
        [](uint8_t* p) { av_free(p); });
    if (!buffer || !converter.toBgr24(source, width, height, buffer.get(), int(stride)))
        return std::nullopt;
    const uint8_t* data = buffer.get();
    return DrawablePicture(Layout::Bgr24, width, height, data, int(stride), std::move(buffer), header);
}

DrawablePicture::DrawablePicture(Layout layout, int width, int height, const uint8_t* data, int stride,
                                 std::shared_ptr<const void> owner, const BitmapInfoHeader& header)
    : m_layout(layout)
    , m_width(width)
    , m_height(height)
    , m_data(data)
    , m_stride(stride)
    , m_owner(std::move(owner))
    , m_header(header) {}

DrawablePicture DrawablePicture::ofPackedDib(std::vector<uint8_t> dib) {
    auto bytes = std::make_shared<const std::vector<uint8_t>>(std::move(dib));
    const uint8_t* data = bytes->data();
    const int size = int(std::min<size_t>(bytes->size(), size_t(INT32_MAX)));
    return DrawablePicture(Layout::PackedDib, 0, 0, data, size, std::move(bytes), BitmapInfoHeader());
}

std::span<const uint8_t> DrawablePicture::packedBytes() const {
    if (m_layout != Layout::PackedDib)
        return {};
    return {m_data, size_t(m_stride)};
}

std::vector<uint8_t> DrawablePicture::packedDib(FrameConverter& converter) const {
    if (m_layout == Layout::PackedDib)
        return {m_data, m_data + m_stride};
    if (!data())
        return {};
    SourcePicture source;
    source.width = m_width;
    source.height = m_height;
    source.planes[0] = data();
    source.strides[0] = m_stride;
    switch (m_layout) {
    case Layout::Bgr24:
        source.format = AV_PIX_FMT_BGR24;
        break;
    case Layout::Rgb24:
        source.format = AV_PIX_FMT_RGB24;
        break;
    case Layout::Rgb555:
        source.format = AV_PIX_FMT_RGB555LE;
        break;
    case Layout::PackedDib:
        break;
    }
    auto dib = converter.toDrawableDib(source, m_width, m_height, m_header);
    return dib ? std::move(*dib) : std::vector<uint8_t>();
}

std::vector<uint8_t> DrawablePicture::packedDib() const {
    FrameConverter converter;
    return packedDib(converter);
}

std::optional<DrawablePicture> VideoDecompressor::decompressPicture(std::span<const uint8_t> packedDib) {
    auto dib = decompress(packedDib);
    if (!dib)
        return std::nullopt;
    return DrawablePicture::ofPackedDib(std::move(*dib));
}
