// Exporting a one-hour clip recorded at two frames per second (7200 frames of
// 320x240 Motion JPEG, as a site sends them): copied into Matroska, and
// transcoded to H.264 MP4 with the caption burned in. The counter
// "realtime" is the clip's hour divided by the time one export took.

#include "platform/avi/AviWriter.h"
#include "platform/export/ClipExporter.h"
#include "tests/codec/TestFrames.h"

#include <benchmark/benchmark.h>

#include <QGuiApplication>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <unistd.h>

namespace {

constexpr int kFrames = 7200; // one hour at 2 fps
constexpr int64_t kStartMs = 1'800'000'000'000;

// A folder with the one-hour clip, made once per run.
class HourClip {
public:
    HourClip() {
        char pattern[] = "/tmp/dialscope-export-bench-XXXXXX";
        m_dir = ::mkdtemp(pattern) ? pattern : "";
        path = m_dir + "/hour.avi";
        auto encoder = TestFrameEncoder::create("mjpeg", makeFourCC('M', 'J', 'P', 'G'), 24, 320, 240, 1);
        if (!encoder)
            return;
        // Sixteen pictures with moving bars and noise, repeated: each frame
        // differs from the one before, as camera pictures do.
        std::vector<std::vector<uint8_t>> frames;
        std::mt19937 random(7);
        std::uniform_int_distribution<int> noise(-10, 10);
        for (int i = 0; i < 16; ++i) {
            TestImage image = makeColourBars(320, 240, i * 3);
            for (uint8_t& v : image.bgr)
                v = uint8_t(std::clamp(int(v) + noise(random), 0, 255));
            frames.push_back(encoder->encode(image));
        }
        auto writer = AviWriter::create(path);
        const PackedDibView first(frames.front());
        if (!writer || !first.valid() || !writer->createStream(AviStreamInfo::forClip(first.header())))
            return;
        std::vector<uint8_t> format(BitmapInfoHeader::kSize);
        BitmapInfoHeader header = first.header();
        header.biClrUsed = 0;
        header.write(format.data());
        writer->setFormat(format);
        for (int i = 0; i < kFrames; ++i)
            writer->write(PackedDibView(frames[size_t(i % 16)]).image(), true);
        ready = writer->close();
    }
    ~HourClip() {
        if (!m_dir.empty())
            std::filesystem::remove_all(m_dir);
    }

    std::string output(const char* name) const { return m_dir + "/" + name; }

    std::string path;
    bool ready = false;

private:
    std::string m_dir;
};

HourClip& hourClip() {
    static HourClip clip;
    return clip;
}

void exportHour(benchmark::State& state, ExportFormat format, const char* name) {
    HourClip& clip = hourClip();
    if (!clip.ready) {
        state.SkipWithError("no clip");
        return;
    }
    ExportRequest request;
    request.clips = {{clip.path, kStartMs}};
    request.outputPath = clip.output(name);
    request.format = format;
    request.title = "0001 Bench";
    request.caption = true;
    const std::atomic<bool> abort{false};
    double seconds = 0;
    for (auto _ : state) {
        const auto begin = std::chrono::steady_clock::now();
        const ExportResult result = ClipExporter(request).run(abort);
        seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
        if (result.status != ExportResult::Status::Done || result.framesWritten != kFrames) {
            state.SkipWithError(result.reason.c_str());
            return;
        }
    }
    state.counters["realtime"] = 3600.0 * double(state.iterations()) / seconds;
    state.counters["frames/s"] = double(kFrames) * double(state.iterations()) / seconds;
}

void BM_MkvCopyOneHour(benchmark::State& state) {
    exportHour(state, ExportFormat::MkvCopy, "hour.mkv");
}
void BM_Mp4TranscodeOneHour(benchmark::State& state) {
    exportHour(state, ExportFormat::Mp4H264, "hour.mp4");
}

} // namespace

BENCHMARK(BM_MkvCopyOneHour)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_Mp4TranscodeOneHour)->Unit(benchmark::kSecond)->Iterations(1);

int main(int argc, char** argv) {
    // The caption needs fonts, so a windowless GUI application.
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QGuiApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
