#include "platform/media/MediaPlayer.h"

#include "platform/dib/PackedDib.h"

#include <algorithm>
#include <cmath>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/pixdesc.h>
#include <libswscale/swscale.h>
}

namespace {

// Frames a decoder may hold back before it returns the frame of a packet.
constexpr int64_t kMaxDecoderDelay = 16;
// Larger pictures are refused rather than decoded (a corrupt header).
constexpr int kMaxPictureSide = 16384;
constexpr int64_t kMaxPicturePixels = 4096 * 4096;

// The full-range "J" formats are their plain counterparts with full-range
// colour; swscale wants them said that way.
AVPixelFormat plainFormat(AVPixelFormat format, bool& fullRange) {
    fullRange = true;
    switch (format) {
    case AV_PIX_FMT_YUVJ420P:
        return AV_PIX_FMT_YUV420P;
    case AV_PIX_FMT_YUVJ422P:
        return AV_PIX_FMT_YUV422P;
    case AV_PIX_FMT_YUVJ444P:
        return AV_PIX_FMT_YUV444P;
    case AV_PIX_FMT_YUVJ440P:
        return AV_PIX_FMT_YUV440P;
    case AV_PIX_FMT_YUVJ411P:
        return AV_PIX_FMT_YUV411P;
    default:
        fullRange = false;
        return format;
    }
}

// A scaler for the picture in `frame` to width x height of `target`.
SwsContext* scalerFor(SwsContext* cached, const AVFrame* frame, int width, int height, AVPixelFormat target) {
    bool fullRange = false;
    const AVPixelFormat source = plainFormat(AVPixelFormat(frame->format), fullRange);
    SwsContext* ctx = sws_getCachedContext(cached, frame->width, frame->height, source, width, height, target,
                                           SWS_BILINEAR, nullptr, nullptr, nullptr);
    if (ctx && fullRange) {
        const int* coefficients = sws_getCoefficients(SWS_CS_DEFAULT);
        sws_setColorspaceDetails(ctx, coefficients, 1, coefficients, 1, 0, 1 << 16, 1 << 16);
    }
    return ctx;
}

bool pictureUsable(const AVFrame* frame) {
    return frame->data[0] && frame->width > 0 && frame->height > 0 && frame->width <= kMaxPictureSide &&
           frame->height <= kMaxPictureSide && int64_t(frame->width) * frame->height <= kMaxPicturePixels;
}

} // namespace

MediaPlayer::MediaPlayer(Clock clock)
    : m_clock(clock ? std::move(clock) : Clock([] { return std::chrono::steady_clock::now(); })) {}

MediaPlayer::~MediaPlayer() {
    close();
}

void MediaPlayer::close() {
    sws_freeContext(m_displayScaler);
    sws_freeContext(m_snapshotScaler);
    m_displayScaler = m_snapshotScaler = nullptr;
    av_packet_free(&m_packet);
    av_frame_free(&m_frame);
    av_frame_free(&m_decoded);
    av_frame_free(&m_pending);
    avcodec_free_context(&m_codec);
    avformat_close_input(&m_format);
    m_state = PlayState::None;
    m_streamIndex = -1;
    m_intraOnly = false;
    m_totalFrames = 0;
    m_frameSeconds = 0;
    m_position = 0;
    m_completeQueued = m_errorQueued = false;
    m_events.clear();
    m_shownFrame = -1;
    m_lastReadFrame = -1;
    m_decoderDrained = false;
    m_image = {};
}

bool MediaPlayer::failOpen(const char* reason) {
    close();
    m_error = reason;
    return false;
}

bool MediaPlayer::open(const std::string& path) {
    close();
    m_error.clear();
    // Only the AVI reader: a clip file never makes FFmpeg follow playlists or
    // references to other files, whatever its bytes say.
    if (avformat_open_input(&m_format, path.c_str(), av_find_input_format("avi"), nullptr) < 0)
        return failOpen("the file cannot be opened as a clip");
    m_streamIndex = av_find_best_stream(m_format, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    if (m_streamIndex < 0)
        return failOpen("the clip holds no video stream");
    for (unsigned i = 0; i < m_format->nb_streams; ++i) {
        if (int(i) != m_streamIndex)
            m_format->streams[i]->discard = AVDISCARD_ALL;
    }
    AVStream* stream = m_format->streams[m_streamIndex];

    const AVCodec* decoder = avcodec_find_decoder(stream->codecpar->codec_id);
    if (!decoder)
        return failOpen("no decoder for the clip's video format");
    m_codec = avcodec_alloc_context3(decoder);
    if (!m_codec || avcodec_parameters_to_context(m_codec, stream->codecpar) < 0)
        return failOpen("out of memory");
    m_codec->thread_count = 1; // one picture at a time, with no latency
    m_codec->max_pixels = kMaxPicturePixels;
    if (avcodec_open2(m_codec, decoder, nullptr) < 0)
        return failOpen("the clip's decoder cannot be opened");
    const AVCodecDescriptor* descriptor = avcodec_descriptor_get(decoder->id);
    m_intraOnly = descriptor && (descriptor->props & AV_CODEC_PROP_INTRA_ONLY);

    // Each video sample of an AVI file lasts one tick of the stream's time base,
    // so a timestamp counts frames.
    if (stream->time_base.num <= 0 || stream->time_base.den <= 0)
        return failOpen("the clip has no frame rate");
    m_frameSeconds = av_q2d(stream->time_base);
    m_startPts = stream->start_time != AV_NOPTS_VALUE ? stream->start_time : 0;
    m_totalFrames = countFrames();
    if (m_totalFrames <= 0)
        return failOpen("the clip holds no frames");

    m_frame = av_frame_alloc();
    m_decoded = av_frame_alloc();
    m_pending = av_frame_alloc();
    m_packet = av_packet_alloc();
    if (!m_frame || !m_decoded || !m_pending || !m_packet)
        return failOpen("out of memory");

    m_state = PlayState::Stopped;
    if (!showFrame(0))
        return failOpen("the clip's first frame cannot be decoded");
    return true;
}

int64_t MediaPlayer::countFrames() const {
    const AVStream* stream = m_format->streams[m_streamIndex];
    const int entries = avformat_index_get_entries_count(stream);
    int64_t total = stream->nb_frames > 0 ? stream->nb_frames : entries;
    // An index that covers the clip tells whether its samples are really in
    // the file: a copy cut short keeps the frames it holds.
    if (entries > 0 && entries >= total) {
        const int64_t fileSize = avio_size(m_format->pb);
        for (int i = entries - 1; i >= 0 && fileSize > 0; --i) {
            const AVIndexEntry* e = avformat_index_get_entry(const_cast<AVStream*>(stream), i);
            if (e && e->pos + 8 + e->size <= fileSize) {
                total = std::min(total, e->timestamp - m_startPts + 1);
                break;
            }
            if (i == 0)
                total = 0;
        }
    }
    return total;
}

bool MediaPlayer::run() {
    if (m_state == PlayState::None)
        return false;
    if (m_state != PlayState::Running) {
        m_anchor = m_clock();
        m_state = PlayState::Running;
        m_completeQueued = m_errorQueued = false;
    }
    return true;
}

bool MediaPlayer::pause() {
    return halt(PlayState::Paused);
}

bool MediaPlayer::stop() {
    return halt(PlayState::Stopped);
}

bool MediaPlayer::halt(PlayState state) {
    if (m_state == PlayState::None)
        return false;
    if (m_state == PlayState::Running) {
        m_position = positionAt(m_clock());
        showFrame(int64_t(m_position));
    }
    m_state = state;
    return true;
}

bool MediaPlayer::setRate(double rate) {
    if (!(rate > 0) || !std::isfinite(rate))
        return false;
    if (m_state == PlayState::Running) {
        const auto now = m_clock();
        m_position = positionAt(now);
        m_anchor = now;
    }
    m_rate = rate;
    return true;
}

double MediaPlayer::positionAt(std::chrono::steady_clock::time_point now) const {
    if (m_state != PlayState::Running)
        return m_position;
    const double elapsed = std::chrono::duration<double>(now - m_anchor).count();
    const double position = m_position + std::max(0.0, elapsed) * m_rate / m_frameSeconds;
    return std::min(position, double(m_totalFrames));
}

int64_t MediaPlayer::currentFrame() const {
    return int64_t(positionAt(m_clock()));
}

double MediaPlayer::currentSeconds() const {
    return positionAt(m_clock()) * m_frameSeconds;
}

bool MediaPlayer::seek(int64_t frame) {
    if (m_state == PlayState::None)
        return false;
    m_position = double(std::clamp<int64_t>(frame, 0, m_totalFrames));
    m_anchor = m_clock();
    m_completeQueued = m_errorQueued = false;
    return showFrame(int64_t(m_position));
}

bool MediaPlayer::tick() {
    if (m_state == PlayState::None)
        return false;
    const double position = positionAt(m_clock());
    const bool running = m_state == PlayState::Running;
    if (running && position >= double(m_totalFrames) && !m_completeQueued) {
        m_events.push_back(MediaEvent::Complete);
        m_completeQueued = true;
    }
    const int64_t before = m_shownFrame;
    if (!showFrame(int64_t(position)) && running && !m_errorQueued) {
        m_events.push_back(MediaEvent::ErrorAbort);
        m_errorQueued = true;
    }
    return m_shownFrame != before;
}

std::optional<std::chrono::nanoseconds> MediaPlayer::timeToNextFrame() const {
    if (m_state != PlayState::Running)
        return std::nullopt;
    const double position = positionAt(m_clock());
    if (position >= double(m_totalFrames))
        return std::nullopt;
    const double seconds = (std::floor(position) + 1 - position) * m_frameSeconds / m_rate;
    return std::chrono::nanoseconds(int64_t(std::ceil(seconds * 1e9)));
}

std::optional<MediaEvent> MediaPlayer::takeEvent() {
    if (m_events.empty())
        return std::nullopt;
    const MediaEvent event = m_events.front();
    m_events.pop_front();
    return event;
}

bool MediaPlayer::showFrame(int64_t frame) {
    const int64_t target = std::clamp<int64_t>(frame, 0, m_totalFrames - 1);
    if (target == m_shownFrame)
        return true;
    if (!decodeFrame(target))
        return false;
    convertForDisplay();
    return true;
}

int64_t MediaPlayer::frameNumber(const AVFrame* frame) const {
    const int64_t ts =
        frame->best_effort_timestamp != AV_NOPTS_VALUE ? frame->best_effort_timestamp : frame->pts;
    return ts == AV_NOPTS_VALUE ? m_lastReadFrame : ts - m_startPts;
}

bool MediaPlayer::seekDemuxer(int64_t frame) {
    if (av_seek_frame(m_format, m_streamIndex, frame + m_startPts, AVSEEK_FLAG_BACKWARD) < 0)
        return false;
    avcodec_flush_buffers(m_codec);
    m_lastReadFrame = -1;
    m_decoderDrained = false;
    return true;
}

bool MediaPlayer::decodeFrame(int64_t target) {
    // Reading on from where the demuxer stands is right when no key frame lies
    // between there and the target; otherwise seek to the key frame at or
    // before the target.
    AVStream* stream = m_format->streams[m_streamIndex];
    int64_t keyFrame = -1;
    const int key = av_index_search_timestamp(stream, target + m_startPts, AVSEEK_FLAG_BACKWARD);
    if (const AVIndexEntry* e = key >= 0 ? avformat_index_get_entry(stream, key) : nullptr)
        keyFrame = e->timestamp - m_startPts;
    const bool readOn = m_lastReadFrame >= 0 && !m_decoderDrained && m_lastReadFrame < target &&
                        keyFrame <= m_lastReadFrame + 1;
    if (!readOn && !seekDemuxer(target))
        return false;

    // The picture is the last frame at or before the target; a frame after it
    // only when nothing earlier came out (the target frame was undecodable).
    bool found = false;
    bool done = false;
    while (!done) {
        int result;
        while ((result = avcodec_receive_frame(m_codec, m_decoded)) == 0) {
            const int64_t number = frameNumber(m_decoded);
            if (number <= target || !found) {
                av_frame_unref(m_pending);
                av_frame_move_ref(m_pending, m_decoded);
                found = true;
            } else {
                av_frame_unref(m_decoded);
            }
            if (number >= target)
                done = true;
        }
        if (done || result == AVERROR_EOF || m_decoderDrained) {
            m_decoderDrained = m_decoderDrained || result == AVERROR_EOF;
            break;
        }
        if (m_lastReadFrame > target + kMaxDecoderDelay)
            break;
        if (av_read_frame(m_format, m_packet) < 0) {
            // End of the file (or unreadable): let the decoder give up what it holds.
            avcodec_send_packet(m_codec, nullptr);
            m_decoderDrained = true;
            continue;
        }
        if (m_packet->stream_index == m_streamIndex) {
            const int64_t ts = m_packet->pts != AV_NOPTS_VALUE ? m_packet->pts : m_packet->dts;
            m_lastReadFrame = ts != AV_NOPTS_VALUE ? ts - m_startPts : m_lastReadFrame + 1;
            // A picture that needs no other is decoded only when it may be shown.
            if (!m_intraOnly || m_lastReadFrame >= target)
                avcodec_send_packet(m_codec, m_packet); // a corrupt packet is skipped
        }
        av_packet_unref(m_packet);
    }
    if (!found || !pictureUsable(m_pending))
        return false;
    av_frame_unref(m_frame);
    av_frame_move_ref(m_frame, m_pending);
    m_shownFrame = target;
    return true;
}

bool MediaPlayer::convertForDisplay() {
    const int width = m_outputWidth > 0 ? m_outputWidth : m_frame->width;
    const int height = m_outputHeight > 0 ? m_outputHeight : m_frame->height;
    m_displayScaler = scalerFor(m_displayScaler, m_frame, width, height, AV_PIX_FMT_RGB32);
    if (!m_displayScaler)
        return false;
    m_image.width = width;
    m_image.height = height;
    m_image.stride = width * 4;
    m_image.pixels.resize(size_t(m_image.stride) * size_t(height));
    uint8_t* planes[4] = {m_image.pixels.data(), nullptr, nullptr, nullptr};
    const int strides[4] = {m_image.stride, 0, 0, 0};
    sws_scale(m_displayScaler, m_frame->data, m_frame->linesize, 0, m_frame->height, planes, strides);
    return true;
}

void MediaPlayer::setOutputSize(int width, int height) {
    width = std::clamp(width, 0, kMaxPictureSide);
    height = std::clamp(height, 0, kMaxPictureSide);
    if (width == m_outputWidth && height == m_outputHeight)
        return;
    m_outputWidth = width;
    m_outputHeight = height;
    if (m_frame && m_frame->data[0])
        convertForDisplay();
}

int MediaPlayer::videoWidth() const {
    return m_frame && m_frame->data[0] ? m_frame->width : (m_codec ? m_codec->width : 0);
}

int MediaPlayer::videoHeight() const {
    return m_frame && m_frame->data[0] ? m_frame->height : (m_codec ? m_codec->height : 0);
}

std::optional<std::vector<uint8_t>> MediaPlayer::currentImage() {
    if (!m_frame || !m_frame->data[0])
        return std::nullopt;
    const int width = m_frame->width;
    const int height = m_frame->height;
    m_snapshotScaler = scalerFor(m_snapshotScaler, m_frame, width, height, AV_PIX_FMT_BGR24);
    if (!m_snapshotScaler)
        return std::nullopt;
    const uint32_t stride = (uint32_t(width) * 3 + 3) & ~3u;
    BitmapInfoHeader header;
    header.biWidth = width;
    header.biHeight = height;
    header.biBitCount = 24;
    header.biSizeImage = stride * uint32_t(height);
    std::vector<uint8_t> dib(BitmapInfoHeader::kSize + header.biSizeImage);
    header.write(dib.data());
    // Bottom-up rows: start at the last row and step backwards.
    uint8_t* planes[4] = {dib.data() + BitmapInfoHeader::kSize + size_t(stride) * (height - 1), nullptr,
                          nullptr, nullptr};
    const int strides[4] = {-int(stride), 0, 0, 0};
    sws_scale(m_snapshotScaler, m_frame->data, m_frame->linesize, 0, height, planes, strides);
    return dib;
}
