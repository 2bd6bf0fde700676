// Playback costs: seeking to random frames of a 100,000-frame Motion JPEG clip,
// and decoding plus converting the next 320 x 240 frame for display. Each
// reports the medians of the single operations, wall time as "median_ms" and
// CPU time as "median_cpu_ms".
#include "platform/avi/AviWriter.h"
#include "platform/media/MediaPlayer.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <time.h>
#include <unistd.h>

namespace {

std::string tempPath(const std::string& name) {
    const char* base = std::getenv("TMPDIR");
    return std::string(base && *base ? base : "/tmp") + "/dialscope-bench-" + std::to_string(getpid()) + "-" +
           name;
}

// Motion JPEG pictures of the ffmpeg test pattern, made by the ffmpeg tool.
std::vector<std::vector<uint8_t>> jpegPictures(int count, int quality) {
    const std::string pattern = tempPath("frame-%03d.jpg");
    const std::string cmd = "ffmpeg -v error -y -f lavfi -i testsrc=size=320x240:rate=2 -frames:v " +
                            std::to_string(count) + " -c:v mjpeg -q:v " + std::to_string(quality) + " '" +
                            pattern + "'";
    std::vector<std::vector<uint8_t>> pictures;
    if (std::system(cmd.c_str()) != 0)
        return pictures;
    for (int i = 1; i <= count; ++i) {
        char name[64];
        std::snprintf(name, sizeof name, pattern.c_str(), i);
        std::ifstream in(name, std::ios::binary);
        pictures.emplace_back(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        std::filesystem::remove(name);
    }
    return pictures;
}

bool writeClip(const std::string& path, const std::vector<std::vector<uint8_t>>& pictures, int frames) {
    BitmapInfoHeader format;
    format.biWidth = 320;
    format.biHeight = 240;
    format.biBitCount = 24;
    format.biCompression = makeFourCC('M', 'J', 'P', 'G');
    format.biSizeImage = uint32_t(pictures[0].size());
    uint8_t header[40];
    format.write(header);
    ::unlink(path.c_str()); // the writer never replaces a file
    auto writer = AviWriter::create(path);
    if (!writer || !writer->createStream(AviStreamInfo::forClip(format)) || !writer->setFormat(header))
        return false;
    for (int i = 0; i < frames; ++i)
        writer->write(pictures[size_t(i) % pictures.size()]);
    return writer->close();
}

// Wall and CPU time of single operations, for their medians: on a busy machine
// the wall time also counts waiting for a core.
struct Timings {
    std::vector<double> wall;
    std::vector<double> cpu;

    template <typename F> void measure(F&& operation) {
        const auto start = std::chrono::steady_clock::now();
        const double cpuStart = cpuSeconds();
        operation();
        cpu.push_back(cpuSeconds() - cpuStart);
        wall.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
    static double cpuSeconds() {
        timespec t{};
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
        return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
    }
    static double median(std::vector<double>& v) {
        std::nth_element(v.begin(), v.begin() + ptrdiff_t(v.size() / 2), v.end());
        return v[v.size() / 2];
    }
    void report(benchmark::State& state) {
        if (wall.empty())
            return;
        state.counters["median_ms"] = median(wall) * 1e3;
        state.counters["median_cpu_ms"] = median(cpu) * 1e3;
    }
};

void BM_SeekIn100kFrameClip(benchmark::State& state) {
    const std::string path = tempPath("seek.avi");
    const auto pictures = jpegPictures(8, 20);
    MediaPlayer player;
    if (pictures.size() != 8 || !writeClip(path, pictures, 100000) || !player.open(path)) {
        state.SkipWithError("cannot make the clip");
        return;
    }
    player.setOutputSize(352, 288);
    std::mt19937 random(7);
    std::uniform_int_distribution<int64_t> frame(0, player.totalFrames() - 1);
    Timings timings;
    for (auto _ : state) {
        const int64_t target = frame(random);
        timings.measure([&] { player.seek(target); });
    }
    timings.report(state);
    player.close();
    std::filesystem::remove(path);
}
BENCHMARK(BM_SeekIn100kFrameClip)->Unit(benchmark::kMillisecond)->Iterations(500);

// Arg: 0 draws at the clip's own size, 1 at the player's default 352 x 288.
void BM_DecodeAndConvertNextFrame(benchmark::State& state) {
    const std::string path = tempPath("decode.avi");
    const auto pictures = jpegPictures(50, 3);
    MediaPlayer player;
    if (pictures.size() != 50 || !writeClip(path, pictures, 50) || !player.open(path)) {
        state.SkipWithError("cannot make the clip");
        return;
    }
    if (state.range(0) == 1)
        player.setOutputSize(352, 288);
    Timings timings;
    int64_t next = 1;
    for (auto _ : state) {
        timings.measure([&] { player.seek(next); });
        next = (next + 1) % 50;
    }
    timings.report(state);
    player.close();
    std::filesystem::remove(path);
}
BENCHMARK(BM_DecodeAndConvertNextFrame)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->Iterations(1000);

} // namespace

BENCHMARK_MAIN();
