// Cost of recording: appending one sample (CPU time, against a plain write of
// the same bytes) and closing a clip of 100,000 samples (index written, file
// synced).
#include "platform/avi/AviWriter.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <unistd.h>

namespace {

std::string tempPath(const char* name) {
    const char* base = std::getenv("TMPDIR");
    return std::string(base && *base ? base : "/tmp") + "/dialscope-bench-" + std::to_string(getpid()) + "-" +
           name;
}

std::unique_ptr<AviWriter> openClip(const std::string& path, uint32_t sampleSize) {
    BitmapInfoHeader format;
    format.biWidth = 320;
    format.biHeight = 240;
    format.biBitCount = 24;
    format.biCompression = makeFourCC('M', 'J', 'P', 'G');
    format.biSizeImage = sampleSize;
    ::unlink(path.c_str()); // the writer never replaces a file
    auto writer = AviWriter::create(path);
    uint8_t header[40];
    format.write(header);
    if (!writer || !writer->createStream(AviStreamInfo::forClip(format)) || !writer->setFormat(header))
        return nullptr;
    return writer;
}

void BM_AppendSample(benchmark::State& state) {
    const std::string path = tempPath("append.avi");
    const std::vector<uint8_t> sample(size_t(state.range(0)), 0x5A);
    auto writer = openClip(path, uint32_t(sample.size()));
    if (!writer) {
        state.SkipWithError("cannot create the clip");
        return;
    }
    for (auto _ : state)
        benchmark::DoNotOptimize(writer->write(sample));
    writer->close();
    std::filesystem::remove(path);
}
BENCHMARK(BM_AppendSample)->Arg(64)->Iterations(200000);
BENCHMARK(BM_AppendSample)->Arg(4096)->Iterations(20000);

// The write the sample costs in any case: chunk header and data, one system call.
void BM_PlainWrite(benchmark::State& state) {
    const std::string path = tempPath("plain.bin");
    const std::vector<uint8_t> sample(size_t(state.range(0)) + 8, 0x5A);
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    for (auto _ : state)
        benchmark::DoNotOptimize(::write(fd, sample.data(), sample.size()));
    ::close(fd);
    std::filesystem::remove(path);
}
BENCHMARK(BM_PlainWrite)->Arg(64)->Iterations(200000);
BENCHMARK(BM_PlainWrite)->Arg(4096)->Iterations(20000);

void BM_Close100kSamples(benchmark::State& state) {
    const std::string path = tempPath("close.avi");
    const std::vector<uint8_t> sample(64, 0x5A);
    for (auto _ : state) {
        state.PauseTiming();
        auto writer = openClip(path, uint32_t(sample.size()));
        for (int i = 0; writer && i < 100000; ++i)
            writer->write(sample);
        state.ResumeTiming();
        if (!writer || !writer->close())
            state.SkipWithError("close failed");
    }
    std::filesystem::remove(path);
}
BENCHMARK(BM_Close100kSamples)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);

} // namespace

BENCHMARK_MAIN();
