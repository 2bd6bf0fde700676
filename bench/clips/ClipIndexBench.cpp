// Clip index at 1,000, 10,000 and 100,000 entries: loading all entries grows
// linearly, saving and marking one entry stay flat. Each case reports the
// median time of a single operation as "median_ms".
#include "ChannelTable.h"
#include "ClipIndex.h"
#include "RegistryStore.h"
#include "TempDir.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <map>
#include <memory>
#include <string>

namespace {

ClipRecord MakeClip(int64_t n) {
    ClipRecord r;
    r.FileName = "20240305" + std::to_string(100000000 + n) + "_3.avi";
    r.Channel = int32_t(n % 16 + 1);
    r.SDate = "2024/03/05";
    r.STime = "14:07";
    r.EDate = "2024/03/05";
    r.ETime = "14:09";
    r.ImageName = "20240305" + std::to_string(100000000 + n) + "_3.img";
    r.Path = "/home/operator/clips/";
    return r;
}

// One filled index per size, built once per process and shared by the cases.
struct FilledIndex {
    explicit FilledIndex(int64_t entries)
        : store(dir.file("user.sqlite"))
        , index(store, channels) {
        channels.Replace({{1, "Loading bay"}, {2, "Gate"}, {3, "Office"}});
        WriteBatch batch(store);
        for (int64_t n = 0; n < entries; ++n) {
            ClipRecord r = MakeClip(n);
            index.SaveClipRecord(r);
        }
        batch.commit();
    }
    TempDir dir{"dialscope-bench"};
    ChannelTable channels;
    RegistryStore store;
    ClipIndex index;
    int64_t next = 1'000'000;
};

FilledIndex& Filled(int64_t entries) {
    static std::map<int64_t, std::unique_ptr<FilledIndex>> cache;
    auto& slot = cache[entries];
    if (!slot)
        slot = std::make_unique<FilledIndex>(entries);
    return *slot;
}

// Times each operation on its own and reports the median.
template <typename Op> void TimeEach(benchmark::State& state, Op op) {
    std::vector<double> samples;
    for (auto _ : state) {
        auto start = std::chrono::steady_clock::now();
        op();
        samples.push_back(
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
    }
    std::sort(samples.begin(), samples.end());
    size_t mid = samples.size() / 2;
    state.counters["median_ms"] = samples.size() % 2 ? samples[mid] : (samples[mid - 1] + samples[mid]) / 2;
}

void BM_LoadClipRecords(benchmark::State& state) {
    FilledIndex& f = Filled(state.range(0));
    TimeEach(state, [&] {
        std::vector<ClipRecord> records;
        f.index.LoadClipRecords(records);
        benchmark::DoNotOptimize(records.data());
        if (int64_t(records.size()) < state.range(0))
            state.SkipWithError("entries missing");
    });
    state.SetComplexityN(state.range(0));
}

void BM_SaveClipRecord(benchmark::State& state) {
    FilledIndex& f = Filled(state.range(0));
    TimeEach(state, [&] {
        ClipRecord r = MakeClip(f.next++);
        benchmark::DoNotOptimize(f.index.SaveClipRecord(r));
    });
}

void BM_MarkClipRead(benchmark::State& state) {
    FilledIndex& f = Filled(state.range(0));
    int64_t n = 0;
    TimeEach(state, [&] {
        // Spread over the whole index, alternating read and unread.
        int64_t which = (n * 7919) % state.range(0);
        f.index.MarkClipRead(MakeClip(which).FileName, n++ % 2 == 0);
    });
}

BENCHMARK(BM_LoadClipRecords)
    ->Arg(1000)
    ->Arg(10000)
    ->Arg(100000)
    ->Unit(benchmark::kMillisecond)
    ->Complexity(benchmark::oN);
BENCHMARK(BM_SaveClipRecord)->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_MarkClipRead)->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
