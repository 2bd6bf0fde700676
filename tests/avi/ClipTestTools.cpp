#include "tests/avi/ClipTestTools.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/pixdesc.h>
}

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <sstream>
#include <sys/wait.h>

namespace cliptest {

Rgb frameColour(int index) {
    const auto level = [&](int bit) {
        return uint8_t(index & bit ? 230 : 20);
    };
    return {level(1), level(2), level(4)};
}

bool near(Rgb a, Rgb b, int tolerance) {
    return std::abs(a.r - b.r) <= tolerance && std::abs(a.g - b.g) <= tolerance &&
           std::abs(a.b - b.b) <= tolerance;
}

std::vector<uint8_t> rawFrame(int width, int height, int index) {
    const uint32_t stride = (uint32_t(width) * 3 + 3) & ~3u;
    BitmapInfoHeader h;
    h.biWidth = width;
    h.biHeight = height;
    h.biBitCount = 24;
    h.biSizeImage = stride * uint32_t(height);
    std::vector<uint8_t> dib(BitmapInfoHeader::kSize + h.biSizeImage);
    h.write(dib.data());
    const Rgb top = frameColour(index);
    const Rgb bottom{uint8_t(255 - top.r), uint8_t(255 - top.g), uint8_t(255 - top.b)};
    for (int row = 0; row < height; ++row) {
        // Row 0 of a bottom-up DIB is the bottom of the picture.
        const Rgb c = row < height / 2 ? bottom : top;
        uint8_t* p = dib.data() + BitmapInfoHeader::kSize + size_t(row) * stride;
        for (int x = 0; x < width; ++x) {
            p[3 * x] = c.b;
            p[3 * x + 1] = c.g;
            p[3 * x + 2] = c.r;
        }
    }
    return dib;
}

std::vector<std::vector<uint8_t>> jpegFrames(const std::string& folder, int count, int width, int height) {
    const std::string pattern = folder + "/jpeg-%03d.jpg";
    std::ostringstream cmd;
    cmd << "ffmpeg -v error -y -f lavfi -i color=c=black:s=" << width << "x" << height << ":r=2"
        << " -vf \"format=rgb24,geq=r='if(mod(N,2),230,20)':g='if(mod(floor(N/2),2),230,20)'"
        << ":b='if(mod(floor(N/4),2),230,20)'\" -frames:v " << count << " -c:v mjpeg -q:v 3 -start_number 0 '"
        << pattern << "'";
    int status = 0;
    run(cmd.str(), &status);
    std::vector<std::vector<uint8_t>> frames;
    if (status != 0)
        return frames;
    for (int i = 0; i < count; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "/jpeg-%03d.jpg", i);
        const std::vector<uint8_t> jpeg = readFile(folder + name);
        BitmapInfoHeader h;
        h.biWidth = width;
        h.biHeight = height;
        h.biBitCount = 24;
        h.biCompression = makeFourCC('M', 'J', 'P', 'G');
        h.biSizeImage = uint32_t(jpeg.size());
        std::vector<uint8_t> dib(BitmapInfoHeader::kSize);
        h.write(dib.data());
        dib.insert(dib.end(), jpeg.begin(), jpeg.end());
        frames.push_back(std::move(dib));
    }
    return frames;
}

bool writeClip(const std::string& path, const std::vector<std::vector<uint8_t>>& frames,
               AviWriter::Options options) {
    auto writer = AviWriter::create(path, options);
    if (!writer || frames.empty())
        return false;
    const PackedDibView first(frames.front());
    if (!writer->createStream(AviStreamInfo::forClip(first.header())))
        return false;
    writer->setFormat(first.whole().first(BitmapInfoHeader::kSize));
    for (const auto& frame : frames) {
        if (!writer->write(PackedDibView(frame).image()))
            return false;
    }
    return writer->close();
}

bool makeToolClip(const std::string& path, const std::string& codec, int count, int width, int height,
                  const std::string& extraArgs) {
    std::ostringstream cmd;
    cmd << "ffmpeg -v error -y -f lavfi -i color=c=black:s=" << width << "x" << height << ":r=2"
        << " -vf \"format=rgb24,geq=r='if(mod(N,2),230,20)':g='if(mod(floor(N/2),2),230,20)'"
        << ":b='if(mod(floor(N/4),2),230,20)'\" -frames:v " << count << " -c:v " << codec << " " << extraArgs
        << " '" << path << "'";
    int status = 0;
    run(cmd.str(), &status);
    return status == 0;
}

std::vector<uint8_t> readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::string run(const std::string& command, int* exitCode) {
    std::string out;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) {
        if (exitCode)
            *exitCode = -1;
        return out;
    }
    std::array<char, 4096> buffer;
    size_t n;
    while ((n = fread(buffer.data(), 1, buffer.size(), pipe)) > 0)
        out.append(buffer.data(), n);
    const int status = pclose(pipe);
    if (exitCode)
        *exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return out;
}

std::map<std::string, std::string> probe(const std::string& path) {
    const std::string out = run("ffprobe -v error -select_streams v:0 -count_packets -show_entries "
                                "stream=codec_name,codec_tag_string,r_frame_rate,nb_frames,nb_read_packets,"
                                "width,height -of default=noprint_wrappers=1 '" +
                                path + "'");
    std::map<std::string, std::string> values;
    std::istringstream lines(out);
    std::string line;
    while (std::getline(lines, line)) {
        const auto eq = line.find('=');
        if (eq != std::string::npos)
            values[line.substr(0, eq)] = line.substr(eq + 1);
    }
    return values;
}

ReadBack readBack(const std::string& path) {
    ReadBack back;
    AVFormatContext* format = nullptr;
    if (avformat_open_input(&format, ("file:" + path).c_str(), nullptr, nullptr) < 0)
        return back;
    if (avformat_find_stream_info(format, nullptr) < 0) {
        avformat_close_input(&format);
        return back;
    }
    back.opened = true;
    back.streams = int(format->nb_streams);
    const AVDictionaryEntry* tag = nullptr;
    while ((tag = av_dict_get(format->metadata, "", tag, AV_DICT_IGNORE_SUFFIX))) {
        std::string key = tag->key;
        std::transform(key.begin(), key.end(), key.begin(),
                       [](unsigned char c) { return char(std::tolower(c)); });
        back.tags[key] = tag->value;
    }
    const int index = av_find_best_stream(format, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    if (index >= 0) {
        const AVStream* stream = format->streams[index];
        back.codec = avcodec_get_name(stream->codecpar->codec_id);
        const char* pixel = av_get_pix_fmt_name(AVPixelFormat(stream->codecpar->format));
        back.pixelFormat = pixel ? pixel : "";
        back.width = stream->codecpar->width;
        back.height = stream->codecpar->height;
        const int64_t start = stream->start_time == AV_NOPTS_VALUE ? 0 : stream->start_time;
        AVPacket* packet = av_packet_alloc();
        while (av_read_frame(format, packet) >= 0) {
            if (packet->stream_index == index) {
                back.packets.emplace_back(packet->data, packet->data + packet->size);
                back.timesMs.push_back(av_rescale_q(packet->pts - start, stream->time_base, {1, 1000}));
                back.keys.push_back((packet->flags & AV_PKT_FLAG_KEY) != 0);
            }
            av_packet_unref(packet);
        }
        av_packet_free(&packet);
        std::sort(back.timesMs.begin(), back.timesMs.end());
    }
    avformat_close_input(&format);
    return back;
}

std::vector<uint8_t> firstPictureRgb(const std::string& path, int width, int height) {
    const std::string out = path + ".rgb";
    run("ffmpeg -v error -y -i '" + path + "' -frames:v 1 -f rawvideo -pix_fmt rgb24 -s " +
        std::to_string(width) + "x" + std::to_string(height) + " '" + out + "'");
    std::vector<uint8_t> bytes = readFile(out);
    std::remove(out.c_str());
    return bytes;
}

uint32_t le32(std::span<const uint8_t> b, uint64_t o) {
    return uint32_t(b[o]) | uint32_t(b[o + 1]) << 8 | uint32_t(b[o + 2]) << 16 | uint32_t(b[o + 3]) << 24;
}

uint16_t le16(std::span<const uint8_t> b, uint64_t o) {
    return uint16_t(b[o] | b[o + 1] << 8);
}

std::string fourcc(uint32_t v) {
    return {char(v & 0xff), char((v >> 8) & 0xff), char((v >> 16) & 0xff), char(v >> 24)};
}

std::vector<Chunk> chunks(std::span<const uint8_t> file, uint64_t begin, uint64_t end) {
    std::vector<Chunk> out;
    end = std::min<uint64_t>(end, file.size());
    for (uint64_t at = begin; at + 8 <= end;) {
        Chunk c;
        c.id = fourcc(le32(file, at));
        c.offset = at;
        c.size = le32(file, at + 4);
        if (c.dataOffset() + c.size > end)
            break;
        if ((c.id == "RIFF" || c.id == "LIST") && c.size >= 4)
            c.listType = fourcc(le32(file, at + 8));
        out.push_back(c);
        at = c.end();
    }
    return out;
}

std::vector<Chunk> children(std::span<const uint8_t> file, const Chunk& list) {
    return chunks(file, list.dataOffset() + 4, list.dataOffset() + list.size);
}

std::optional<Chunk> find(const std::vector<Chunk>& list, const std::string& idOrType) {
    for (const Chunk& c : list) {
        if (c.id == idOrType || c.listType == idOrType)
            return c;
    }
    return std::nullopt;
}

} // namespace cliptest
