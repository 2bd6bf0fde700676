#include "platform/export/ClipExporter.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QFont>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QTimeZone>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/imgutils.h>
#include <libavutil/opt.h>
#include <libswscale/swscale.h>
}

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <deque>
#include <memory>
#include <unistd.h>

#ifndef DIALSCOPE_VERSION
#define DIALSCOPE_VERSION "0"
#endif

namespace {

// Pictures larger than this in either direction are refused, as in playback.
constexpr int kMaxSide = 4096;
// Packets of an inter-coded stream held back before a range starts, so a copy
// can begin at the key frame before it; a longer group starts at the next key.
constexpr size_t kMaxHeldPackets = 600;
constexpr size_t kMaxHeldBytes = size_t(64) << 20;
// Key frame interval of the H.264 output, in seconds: seeking in a player
// stays quick.
constexpr int kKeyIntervalSeconds = 10;

std::string avError(int code) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return text;
}

std::string baseName(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

struct FormatCloser {
    void operator()(AVFormatContext* context) const { avformat_close_input(&context); }
};
using InputPtr = std::unique_ptr<AVFormatContext, FormatCloser>;
struct CodecCloser {
    void operator()(AVCodecContext* context) const { avcodec_free_context(&context); }
};
using CodecPtr = std::unique_ptr<AVCodecContext, CodecCloser>;
struct FrameFree {
    void operator()(AVFrame* frame) const { av_frame_free(&frame); }
};
using FramePtr = std::unique_ptr<AVFrame, FrameFree>;
struct PacketFree {
    void operator()(AVPacket* packet) const { av_packet_free(&packet); }
};
using PacketPtr = std::unique_ptr<AVPacket, PacketFree>;

// One clip opened for reading.
struct Input {
    InputPtr format;
    AVStream* stream = nullptr;
    int64_t startMs = 0;
    AVRational frameRate{0, 1};
    int64_t frameMs = 0;
    int64_t frames = 0;

    // Wall-clock time of a stream timestamp.
    int64_t timeOf(int64_t pts) const { return startMs + av_rescale_q(pts, stream->time_base, {1, 1000}); }
};

std::optional<Input> openInput(const ExportClip& clip, std::string& why) {
    AVFormatContext* raw = nullptr;
    const AVInputFormat* avi = av_find_input_format("avi");
    const std::string url = "file:" + clip.path;
    const int opened = avformat_open_input(&raw, url.c_str(), avi, nullptr);
    if (opened < 0) {
        why = avError(opened);
        return std::nullopt;
    }
    Input input;
    input.format.reset(raw);
    const int index = av_find_best_stream(raw, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    if (index < 0) {
        why = "no video stream";
        return std::nullopt;
    }
    input.stream = raw->streams[index];
    const AVCodecParameters* par = input.stream->codecpar;
    if (par->width <= 0 || par->height <= 0 || par->width > kMaxSide || par->height > kMaxSide) {
        why = "unusable picture size";
        return std::nullopt;
    }
    AVRational rate = input.stream->avg_frame_rate;
    if (rate.num <= 0 || rate.den <= 0)
        rate = av_inv_q(input.stream->time_base);
    if (rate.num <= 0 || rate.den <= 0 || av_q2d(rate) > 1000.0) {
        why = "unusable frame rate";
        return std::nullopt;
    }
    input.frameRate = av_make_q(rate.num, rate.den);
    input.frameMs = std::max<int64_t>(1, av_rescale(1000, rate.den, rate.num));
    input.frames = std::max<int64_t>(0, input.stream->nb_frames);
    input.startMs = clip.startMs;
    return input;
}

// Frames of a clip within the range, from its frame count and timing.
int64_t framesInRange(const Input& input, std::optional<int64_t> from, std::optional<int64_t> until) {
    int64_t first = 0;
    int64_t last = input.frames; // exclusive
    if (from && *from > input.startMs)
        first = std::max<int64_t>(0, (*from - input.startMs) / input.frameMs);
    if (until)
        last = std::min(last,
                        std::max<int64_t>(0, (*until - input.startMs + input.frameMs - 1) / input.frameMs));
    return std::max<int64_t>(0, last - first);
}

bool sameStream(const AVCodecParameters* a, const AVCodecParameters* b) {
    return a->codec_id == b->codec_id && a->codec_tag == b->codec_tag && a->width == b->width &&
           a->height == b->height && a->format == b->format &&
           a->bits_per_coded_sample == b->bits_per_coded_sample;
}

// One libswscale conversion, made again only when the source changes.
// Full-range ("J") YUV is given as its plain format plus a range setting:
// handed over as it is, libswscale would rebuild the context every frame.
struct Converter {
    SwsContext* context = nullptr;
    int width = 0;
    int height = 0;
    int format = -1;

    ~Converter() { sws_freeContext(context); }

    SwsContext* get(int sourceWidth, int sourceHeight, AVPixelFormat source, int targetWidth,
                    int targetHeight, AVPixelFormat target) {
        if (context && sourceWidth == width && sourceHeight == height && source == format)
            return context;
        sws_freeContext(context);
        context = nullptr;
        bool fullRange = false;
        AVPixelFormat plain = source;
        switch (source) {
        case AV_PIX_FMT_YUVJ420P:
            plain = AV_PIX_FMT_YUV420P;
            fullRange = true;
            break;
        case AV_PIX_FMT_YUVJ422P:
            plain = AV_PIX_FMT_YUV422P;
            fullRange = true;
            break;
        case AV_PIX_FMT_YUVJ444P:
            plain = AV_PIX_FMT_YUV444P;
            fullRange = true;
            break;
        case AV_PIX_FMT_YUVJ440P:
            plain = AV_PIX_FMT_YUV440P;
            fullRange = true;
            break;
        default:
            break;
        }
        context = sws_getContext(sourceWidth, sourceHeight, plain, targetWidth, targetHeight, target,
                                 SWS_BILINEAR, nullptr, nullptr, nullptr);
        if (context && fullRange) {
            const int* coefficients = sws_getCoefficients(SWS_CS_DEFAULT);
            const bool rgbTarget = target == AV_PIX_FMT_RGB32;
            sws_setColorspaceDetails(context, coefficients, 1, coefficients, rgbTarget ? 1 : 0, 0, 1 << 16,
                                     1 << 16);
        }
        width = sourceWidth;
        height = sourceHeight;
        format = source;
        return context;
    }
};

bool captionPossible() {
    return qobject_cast<QGuiApplication*>(QCoreApplication::instance()) != nullptr &&
           QFontDatabase::families().size() > 0;
}

} // namespace

std::optional<int64_t> clipStartFromFileName(const std::string& fileName) {
    const std::string name = baseName(fileName);
    if (name.size() < 14 ||
        !std::all_of(name.begin(), name.begin() + 14, [](char c) { return c >= '0' && c <= '9'; }))
        return std::nullopt;
    auto number = [&](size_t at, size_t length) {
        return std::stoi(name.substr(at, length));
    };
    std::tm local{};
    local.tm_year = number(0, 4) - 1900;
    local.tm_mon = number(4, 2) - 1;
    local.tm_mday = number(6, 2);
    local.tm_hour = number(8, 2);
    local.tm_min = number(10, 2);
    local.tm_sec = number(12, 2);
    local.tm_isdst = -1;
    if (local.tm_mon < 0 || local.tm_mon > 11 || local.tm_mday < 1 || local.tm_mday > 31 ||
        local.tm_hour > 23 || local.tm_min > 59 || local.tm_sec > 60)
        return std::nullopt;
    const std::time_t time = std::mktime(&local);
    if (time == std::time_t(-1))
        return std::nullopt;
    return int64_t(time) * 1000;
}

std::string ClipExporter::provenance(const std::vector<ExportClip>& clips) {
    std::string text = "Exported by Dialscope " DIALSCOPE_VERSION " from ";
    for (size_t i = 0; i < clips.size(); ++i) {
        if (i > 0)
            text += ", ";
        text += baseName(clips[i].path);
    }
    return text;
}

std::string ClipExporter::utcText(int64_t ms) {
    const QDateTime time = QDateTime::fromMSecsSinceEpoch(ms, QTimeZone::utc());
    return time.toString(QStringLiteral("yyyy-MM-ddThh:mm:ss.zzz000Z")).toStdString();
}

std::string ClipExporter::captionText(const std::string& label, int64_t frameMs) {
    const QDateTime time = QDateTime::fromMSecsSinceEpoch(frameMs);
    return label + "  " + time.toString(QStringLiteral("yyyy-MM-dd hh:mm:ss")).toStdString();
}

// One export's working state: the output and, for a transcode, the encoder.
struct ClipExporter::Impl {
    const ExportRequest& request;
    const std::atomic<bool>& abort;
    const Progress& progress;
    ExportResult result;

    std::vector<ExportClip> used; // the clips that take part, in time order
    std::string tempPath;
    AVFormatContext* output = nullptr;
    AVStream* outStream = nullptr;
    bool headerWritten = false;
    bool opened = false;
    int64_t firstMs = 0;
    int64_t lastPts = AV_NOPTS_VALUE;
    int64_t done = 0;
    int64_t total = 0;

    // The copy: the first clip's stream parameters.
    AVCodecParameters* copyParams = nullptr;

    // The transcode.
    CodecPtr encoder;
    FramePtr encoded; // yuv420p picture handed to the encoder
    PacketPtr outPacket;
    Converter toCanvas; // decoded picture to the caption canvas
    Converter canvasToYuv;
    Converter toYuv; // decoded picture to the encoder, without caption
    QImage canvas;
    bool caption = false;
    int captionPixels = 0;

    Impl(const ExportRequest& r, const std::atomic<bool>& a, const Progress& p)
        : request(r)
        , abort(a)
        , progress(p) {}

    ~Impl() {
        avcodec_parameters_free(&copyParams);
        if (output) {
            if (opened)
                avio_closep(&output->pb);
            avformat_free_context(output);
        }
        if (!tempPath.empty())
            ::unlink(tempPath.c_str());
    }

    bool fail(std::string why) {
        result.status = ExportResult::Status::Failed;
        result.reason = std::move(why);
        return false;
    }

    void warn(std::string text) { result.warnings.push_back(std::move(text)); }

    bool wanted(int64_t t, int64_t duration) const {
        return (!request.fromMs || t + duration > *request.fromMs) &&
               (!request.untilMs || t < *request.untilMs);
    }
    bool pastRange(int64_t t) const { return request.untilMs && t >= *request.untilMs; }

    void tick() {
        ++done;
        if (progress)
            progress(done, std::max(done, total));
    }

    bool createOutput() {
        const bool mkv = request.format == ExportFormat::MkvCopy;
        tempPath = request.outputPath + ".partial";
        const std::string url = "file:" + tempPath;
        const int made =
            avformat_alloc_output_context2(&output, nullptr, mkv ? "matroska" : "mp4", url.c_str());
        if (made < 0 || !output)
            return fail("cannot set up the output: " + avError(made));
        av_dict_set(&output->metadata, "title", request.title.c_str(), 0);
        av_dict_set(&output->metadata, "comment", provenance(used).c_str(), 0);
        av_dict_set(&output->metadata, "creation_time", utcText(used.front().startMs).c_str(), 0);
        const int io = avio_open(&output->pb, url.c_str(), AVIO_FLAG_WRITE);
        if (io < 0)
            return fail("cannot create " + tempPath + ": " + avError(io));
        opened = true;
        return true;
    }

    bool writeHeader() {
        AVDictionary* options = nullptr;
        if (request.format == ExportFormat::MkvCopy)
            av_dict_set(&options, "allow_raw_vfw", "1", 0);
        else
            av_dict_set(&options, "movflags", "+faststart", 0);
        const int written = avformat_write_header(output, &options);
        av_dict_free(&options);
        if (written < 0)
            return fail("cannot write the file header: " + avError(written));
        headerWritten = true;
        return true;
    }

    // Next output timestamp in `timeBase` for a frame at wall-clock `t`;
    // always after the previous one, so overlapping clips cannot break the file.
    int64_t nextPts(int64_t t, AVRational timeBase) {
        int64_t pts = av_rescale_q_rnd(t - firstMs, {1, 1000}, timeBase,
                                       AVRounding(AV_ROUND_NEAR_INF | AV_ROUND_PASS_MINMAX));
        if (lastPts != AV_NOPTS_VALUE && pts <= lastPts)
            pts = lastPts + 1;
        lastPts = pts;
        return pts;
    }

    // ---- copy ----

    bool startCopy(const Input& input) {
        copyParams = avcodec_parameters_alloc();
        if (!copyParams || avcodec_parameters_copy(copyParams, input.stream->codecpar) < 0)
            return fail("out of memory");
        if (!createOutput())
            return false;
        outStream = avformat_new_stream(output, nullptr);
        if (!outStream || avcodec_parameters_copy(outStream->codecpar, copyParams) < 0)
            return fail("cannot add the video stream");
        outStream->time_base = {1, 1000};
        outStream->avg_frame_rate = input.frameRate;
        outStream->r_frame_rate = input.frameRate;
        av_dict_set(&outStream->metadata, "title", request.title.c_str(), 0);
        return writeHeader();
    }

    bool copyPacket(AVPacket* packet, int64_t t, int64_t duration) {
        packet->stream_index = 0;
        packet->pts = packet->dts = nextPts(t, outStream->time_base);
        packet->duration = av_rescale_q(duration, {1, 1000}, outStream->time_base);
        packet->pos = -1;
        const int written = av_write_frame(output, packet);
        if (written < 0)
            return fail("cannot write a frame: " + avError(written));
        ++result.framesWritten;
        return true;
    }

    // Reads the clip's next video packet into `packet`, passing over other
    // streams; false at the end of the file or after a read error (said,
    // with the frames read so far).
    bool nextVideoPacket(Input& input, AVPacket* packet, int64_t framesRead) {
        while (true) {
            const int read = av_read_frame(input.format.get(), packet);
            if (read == AVERROR_EOF)
                return false;
            if (read < 0) {
                warn(baseName(clipPath(input)) + ": read error after " + std::to_string(framesRead) +
                     " frames (" + avError(read) + ")");
                return false;
            }
            if (packet->stream_index == input.stream->index)
                return true;
            av_packet_unref(packet);
        }
    }

    // Copies the wanted packets of one clip; false only when the export stops.
    bool copyClip(Input& input) {
        const AVCodecParameters* par = input.stream->codecpar;
        if (copyParams && !sameStream(copyParams, par)) {
            warn(baseName(clipPath(input)) + ": skipped, its video format differs from the first clip's");
            return true;
        }
        PacketPtr packet(av_packet_alloc());
        std::deque<PacketPtr> held; // the group of pictures before the range
        size_t heldBytes = 0;
        int64_t index = 0;
        int64_t corrupt = 0;
        while (true) {
            if (abort.load(std::memory_order_relaxed))
                return false;
            if (!nextVideoPacket(input, packet.get(), index))
                break;
            const int64_t pts = packet->pts != AV_NOPTS_VALUE   ? packet->pts
                                : packet->dts != AV_NOPTS_VALUE ? packet->dts
                                                                : index;
            ++index;
            if (packet->flags & AV_PKT_FLAG_CORRUPT) {
                // A frame cut short (a recording that was interrupted) would
                // be copied as a broken picture; it is left out.
                ++corrupt;
                av_packet_unref(packet.get());
                continue;
            }
            const int64_t t = input.timeOf(pts);
            if (pastRange(t)) {
                av_packet_unref(packet.get());
                break;
            }
            const bool key = (packet->flags & AV_PKT_FLAG_KEY) != 0;
            if (!wanted(t, input.frameMs)) {
                // Before the range: keep the group since the last key frame.
                if (key) {
                    held.clear();
                    heldBytes = 0;
                }
                if (key || !held.empty()) {
                    heldBytes += size_t(packet->size);
                    if (held.size() >= kMaxHeldPackets || heldBytes > kMaxHeldBytes) {
                        held.clear();
                        heldBytes = 0;
                    } else if (AVPacket* copy = av_packet_clone(packet.get())) {
                        held.emplace_back(copy);
                    }
                }
                av_packet_unref(packet.get());
                continue;
            }
            const bool withHeld = !key && !held.empty() && result.framesWritten == 0;
            if (!copyParams) {
                const AVPacket* first = withHeld ? held.front().get() : packet.get();
                firstMs = input.timeOf(first->pts != AV_NOPTS_VALUE ? first->pts : first->dts);
                if (!startCopy(input))
                    return false;
            }
            if (withHeld) {
                for (PacketPtr& early : held) {
                    const int64_t earlyPts = early->pts != AV_NOPTS_VALUE ? early->pts : early->dts;
                    if (!copyPacket(early.get(), input.timeOf(earlyPts), input.frameMs))
                        return false;
                }
            }
            held.clear();
            const bool copied = copyPacket(packet.get(), t, input.frameMs);
            av_packet_unref(packet.get());
            if (!copied)
                return false;
            tick();
        }
        if (corrupt > 0)
            warn(baseName(clipPath(input)) + ": " + std::to_string(corrupt) + " damaged frames left out");
        return true;
    }

    // ---- transcode ----

    bool startTranscode(const Input& input) {
        const AVCodec* codec = avcodec_find_encoder_by_name("libx264");
        if (!codec)
            codec = avcodec_find_encoder(AV_CODEC_ID_H264);
        if (!codec)
            return fail("no H.264 encoder in this FFmpeg");
        if (!createOutput())
            return false;
        encoder.reset(avcodec_alloc_context3(codec));
        if (!encoder)
            return fail("out of memory");
        const AVCodecParameters* par = input.stream->codecpar;
        encoder->width = std::max(2, par->width & ~1);
        encoder->height = std::max(2, par->height & ~1);
        encoder->pix_fmt = AV_PIX_FMT_YUV420P;
        encoder->framerate = input.frameRate;
        encoder->time_base = av_inv_q(input.frameRate);
        encoder->sample_aspect_ratio = {1, 1};
        encoder->gop_size = std::max(1, int(av_q2d(input.frameRate) * kKeyIntervalSeconds));
        if (output->oformat->flags & AVFMT_GLOBALHEADER)
            encoder->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
        av_opt_set(encoder->priv_data, "preset", "veryfast", 0);
        av_opt_set(encoder->priv_data, "crf", "23", 0);
        const int openError = avcodec_open2(encoder.get(), codec, nullptr);
        if (openError < 0)
            return fail(std::string("cannot open the ") + codec->name + " encoder: " + avError(openError));

        outStream = avformat_new_stream(output, nullptr);
        if (!outStream || avcodec_parameters_from_context(outStream->codecpar, encoder.get()) < 0)
            return fail("cannot add the video stream");
        outStream->time_base = encoder->time_base;
        outStream->avg_frame_rate = input.frameRate;
        av_dict_set(&outStream->metadata, "title", request.title.c_str(), 0);

        encoded.reset(av_frame_alloc());
        outPacket.reset(av_packet_alloc());
        if (!encoded || !outPacket)
            return fail("out of memory");
        encoded->format = AV_PIX_FMT_YUV420P;
        encoded->width = encoder->width;
        encoded->height = encoder->height;
        if (av_frame_get_buffer(encoded.get(), 0) < 0)
            return fail("out of memory");

        caption = request.caption && captionPossible();
        if (request.caption && !caption)
            warn("caption left out: no fonts available");
        if (caption) {
            canvas = QImage(encoder->width, encoder->height, QImage::Format_RGB32);
            captionPixels = std::max(9, encoder->height / 26);
        }
        return writeHeader();
    }

    bool drainEncoder(bool flush) {
        if (flush) {
            const int sent = avcodec_send_frame(encoder.get(), nullptr);
            if (sent < 0 && sent != AVERROR_EOF)
                return fail("the encoder failed: " + avError(sent));
        }
        while (true) {
            const int received = avcodec_receive_packet(encoder.get(), outPacket.get());
            if (received == AVERROR(EAGAIN) || received == AVERROR_EOF)
                return true;
            if (received < 0)
                return fail("the encoder failed: " + avError(received));
            av_packet_rescale_ts(outPacket.get(), encoder->time_base, outStream->time_base);
            outPacket->stream_index = 0;
            const int written = av_interleaved_write_frame(output, outPacket.get());
            if (written < 0)
                return fail("cannot write a frame: " + avError(written));
        }
    }

    void drawCaption(int64_t t) {
        QPainter painter(&canvas);
        QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
        font.setPixelSize(captionPixels);
        painter.setFont(font);
        const QString text = QString::fromStdString(captionText(request.title, t));
        const QFontMetrics metrics(font);
        const int margin = std::max(2, captionPixels / 4);
        const int width = std::min(canvas.width(), metrics.horizontalAdvance(text) + 2 * margin);
        const int height = metrics.height() + margin;
        const QRect box(0, canvas.height() - height, width, height);
        painter.fillRect(box, QColor(0, 0, 0, 160));
        painter.setPen(Qt::white);
        painter.drawText(box.adjusted(margin, 0, 0, 0), Qt::AlignLeft | Qt::AlignVCenter, text);
    }

    bool encodeFrame(const AVFrame* picture, int64_t t) {
        if (av_frame_make_writable(encoded.get()) < 0)
            return fail("out of memory");
        const auto sourceFormat = AVPixelFormat(picture->format);
        if (caption) {
            SwsContext* in = toCanvas.get(picture->width, picture->height, sourceFormat, canvas.width(),
                                          canvas.height(), AV_PIX_FMT_RGB32);
            SwsContext* out = canvasToYuv.get(canvas.width(), canvas.height(), AV_PIX_FMT_RGB32,
                                              encoded->width, encoded->height, AV_PIX_FMT_YUV420P);
            if (!in || !out)
                return fail("cannot convert the pictures");
            uint8_t* canvasPlanes[4] = {canvas.bits(), nullptr, nullptr, nullptr};
            int canvasStrides[4] = {int(canvas.bytesPerLine()), 0, 0, 0};
            sws_scale(in, picture->data, picture->linesize, 0, picture->height, canvasPlanes, canvasStrides);
            drawCaption(t);
            const uint8_t* const source[4] = {canvas.constBits(), nullptr, nullptr, nullptr};
            sws_scale(out, source, canvasStrides, 0, canvas.height(), encoded->data, encoded->linesize);
        } else {
            SwsContext* direct = toYuv.get(picture->width, picture->height, sourceFormat, encoded->width,
                                           encoded->height, AV_PIX_FMT_YUV420P);
            if (!direct)
                return fail("cannot convert the pictures");
            sws_scale(direct, picture->data, picture->linesize, 0, picture->height, encoded->data,
                      encoded->linesize);
        }
        encoded->pts = nextPts(t, encoder->time_base);
        const int sent = avcodec_send_frame(encoder.get(), encoded.get());
        if (sent < 0)
            return fail("the encoder failed: " + avError(sent));
        ++result.framesWritten;
        return drainEncoder(false);
    }

    // Decodes one clip and encodes its wanted frames; false only when the
    // export stops.
    bool transcodeClip(Input& input) {
        const AVCodecParameters* par = input.stream->codecpar;
        const AVCodec* codec = avcodec_find_decoder(par->codec_id);
        CodecPtr decoder(codec ? avcodec_alloc_context3(codec) : nullptr);
        if (!decoder || avcodec_parameters_to_context(decoder.get(), par) < 0) {
            warn(baseName(clipPath(input)) + ": skipped, no decoder for its video format");
            return true;
        }
        decoder->pkt_timebase = input.stream->time_base;
        decoder->thread_count = 1;
        if (avcodec_open2(decoder.get(), codec, nullptr) < 0) {
            warn(baseName(clipPath(input)) + ": skipped, its decoder does not open");
            return true;
        }
        PacketPtr packet(av_packet_alloc());
        FramePtr frame(av_frame_alloc());
        int64_t index = 0;
        int64_t undecodable = 0;
        bool past = false;
        bool stop = false;

        // Encodes what the decoder has ready; false when the export stops.
        auto receive = [&]() {
            while (true) {
                const int got = avcodec_receive_frame(decoder.get(), frame.get());
                if (got == AVERROR(EAGAIN) || got == AVERROR_EOF)
                    return true;
                if (got < 0) {
                    ++undecodable;
                    return true;
                }
                const int64_t pts = frame->best_effort_timestamp != AV_NOPTS_VALUE
                                        ? frame->best_effort_timestamp
                                        : frame->pts;
                const int64_t t = pts != AV_NOPTS_VALUE ? input.timeOf(pts) : input.startMs;
                const bool keep = wanted(t, input.frameMs) && frame->width > 0 && frame->height > 0 &&
                                  frame->width <= kMaxSide && frame->height <= kMaxSide;
                if (pastRange(t))
                    past = true;
                if (keep) {
                    if (!encoder) {
                        firstMs = t;
                        if (!startTranscode(input))
                            return false;
                    }
                    if (!encodeFrame(frame.get(), t))
                        return false;
                    tick();
                }
                av_frame_unref(frame.get());
            }
        };

        while (!past) {
            if (abort.load(std::memory_order_relaxed))
                return false;
            if (!nextVideoPacket(input, packet.get(), index))
                break;
            ++index;
            if (packet->flags & AV_PKT_FLAG_CORRUPT) {
                ++undecodable;
                av_packet_unref(packet.get());
                continue;
            }
            const int sent = avcodec_send_packet(decoder.get(), packet.get());
            av_packet_unref(packet.get());
            if (sent < 0 && sent != AVERROR(EAGAIN))
                ++undecodable;
            if (!receive()) {
                stop = true;
                break;
            }
        }
        if (!stop) {
            avcodec_send_packet(decoder.get(), nullptr);
            stop = !receive();
        }
        if (undecodable > 0)
            warn(baseName(clipPath(input)) + ": " + std::to_string(undecodable) +
                 " frames could not be decoded");
        return !stop;
    }

    // The path of an opened clip, for warnings.
    std::string clipPath(const Input& input) const {
        const char* url = input.format->url;
        std::string path = url ? url : "";
        return path.rfind("file:", 0) == 0 ? path.substr(5) : path;
    }

    ExportResult run() {
        std::vector<ExportClip> clips = request.clips;
        std::stable_sort(clips.begin(), clips.end(),
                         [](const ExportClip& a, const ExportClip& b) { return a.startMs < b.startMs; });

        // First pass: which clips open, and how many frames to expect.
        std::vector<ExportClip>& usable = used;
        for (const ExportClip& clip : clips) {
            std::string why;
            const std::optional<Input> input = openInput(clip, why);
            if (!input) {
                warn(baseName(clip.path) + ": skipped, " + why);
                continue;
            }
            if (request.untilMs && clip.startMs >= *request.untilMs)
                continue;
            if (request.fromMs && input->frames > 0 &&
                clip.startMs + input->frames * input->frameMs <= *request.fromMs)
                continue;
            total += framesInRange(*input, request.fromMs, request.untilMs);
            usable.push_back(clip);
        }

        for (const ExportClip& clip : usable) {
            if (abort.load(std::memory_order_relaxed))
                break;
            std::string why;
            std::optional<Input> input = openInput(clip, why);
            if (!input) {
                warn(baseName(clip.path) + ": skipped, " + why);
                continue;
            }
            const bool going =
                request.format == ExportFormat::MkvCopy ? copyClip(*input) : transcodeClip(*input);
            if (!going)
                break;
        }

        if (abort.load(std::memory_order_relaxed)) {
            result.status = ExportResult::Status::Cancelled;
            result.reason = "cancelled";
            return result;
        }
        if (result.status == ExportResult::Status::Failed && !result.reason.empty())
            return result;
        if (result.framesWritten == 0) {
            result.status = ExportResult::Status::NothingToExport;
            result.reason = "no footage to export";
            return result;
        }
        if (encoder && !drainEncoder(true))
            return result;
        const int trailer = av_write_trailer(output);
        if (trailer < 0) {
            fail("cannot complete the file: " + avError(trailer));
            return result;
        }
        const int closed = avio_closep(&output->pb);
        opened = false;
        if (closed < 0) {
            fail("cannot complete the file: " + avError(closed));
            return result;
        }
        if (::rename(tempPath.c_str(), request.outputPath.c_str()) != 0) {
            fail("cannot name the file " + request.outputPath + ": " + std::strerror(errno));
            return result;
        }
        tempPath.clear();
        result.status = ExportResult::Status::Done;
        return result;
    }
};

ClipExporter::ClipExporter(ExportRequest request)
    : m_request(std::move(request)) {}

ClipExporter::~ClipExporter() = default;

ExportResult ClipExporter::run(const std::atomic<bool>& abort, const Progress& progress) {
    if (m_request.clips.empty()) {
        ExportResult result;
        result.status = ExportResult::Status::NothingToExport;
        result.reason = "no clips given";
        return result;
    }
    if (m_request.outputPath.empty()) {
        ExportResult result;
        result.reason = "no output file given";
        return result;
    }
    Impl impl(m_request, abort, progress);
    return impl.run();
}
