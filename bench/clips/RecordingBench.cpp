// Recording cost while four channels record at once: each iteration appends
// one frame (8 KB of compressed image data, as a site sends at 320 x 240) to
// each of four clips. Reports CPU time per frame and the heap allocations
// counted per frame in the recording path ("allocs_per_frame"; the writer's
// in-memory sample index grows geometrically, so this tends to 0).
#include "app/core/ChannelTable.h"
#include "clips/core/ClipIndex.h"
#include "clips/core/ClipRecorder.h"
#include "platform/registry/RegistryStore.h"
#include "tests/support/TempDir.h"

#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdlib>
#include <new>

// GCC takes the replaced operators below for a mismatched pair.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"

namespace {

std::atomic<int64_t> g_allocations{0};

} // namespace

void* operator new(size_t size) {
    g_allocations.fetch_add(1, std::memory_order_relaxed);
    if (void* p = std::malloc(size ? size : 1))
        return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, size_t) noexcept {
    std::free(p);
}

namespace {

std::vector<uint8_t> Frame(uint32_t imageBytes) {
    BitmapInfoHeader h;
    h.biWidth = 320;
    h.biHeight = 240;
    h.biBitCount = 24;
    h.biCompression = makeFourCC('M', 'J', 'P', 'G');
    h.biSizeImage = imageBytes;
    std::vector<uint8_t> frame(BitmapInfoHeader::kSize + imageBytes, 0x5A);
    h.write(frame.data());
    return frame;
}

void BM_RecordFourChannels(benchmark::State& state) {
    TempDir dir("dialscope-bench");
    RegistryStore store(dir.file("user.sqlite"));
    ChannelTable channels;
    ClipIndex index(store, channels);
    const std::vector<uint8_t> frame = Frame(uint32_t(state.range(0)));
    const BitmapInfoHeader header = *BitmapInfoHeader::parse(frame);
    std::vector<std::unique_ptr<ClipRecorder>> recorders;
    for (int channel = 1; channel <= 4; ++channel) {
        recorders.push_back(std::make_unique<ClipRecorder>(
            index, ClipRecorder::Environment{[&] { return dir.path() + "/"; }, {}, {}, {}, {}}));
        recorders.back()->StartRecording(channel, header);
    }
    const int64_t before = g_allocations.load();
    int64_t frames = 0;
    for (auto _ : state) {
        for (auto& recorder : recorders)
            recorder->RecordFrame(frame);
        frames += 4;
    }
    const int64_t allocations = g_allocations.load() - before;
    for (auto& recorder : recorders)
        recorder->StopRecording();
    state.SetItemsProcessed(frames);
    state.counters["allocs_per_frame"] = double(allocations) / double(frames);
    state.counters["cpu_us_per_frame"] =
        benchmark::Counter(double(frames), benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_RecordFourChannels)->Arg(8 * 1024)->Arg(40 * 1024)->MeasureProcessCPUTime();

} // namespace

BENCHMARK_MAIN();
