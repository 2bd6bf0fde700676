// Clip index at 1,000, 10,000, 100,000 and 1,000,000 entries: loading all
// entries grows linearly, saving, marking and deleting one entry stay flat
// (with the catalog attached, as in the program). The catalog's build and a
// search by channel and day, and importing a million entries as `dsreg
// import` does, are timed too. Each case reports the median time of a single
// operation as "median_ms".
#include "app/core/ChannelTable.h"
#include "clips/core/ClipCatalog.h"
#include "clips/core/ClipIndex.h"
#include "platform/registry/RegistryImport.h"
#include "platform/registry/RegistryStore.h"
#include "tests/support/TempDir.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <map>
#include <memory>
#include <string>

namespace {

ClipRecord makeClip(int64_t n) {
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
        channels.replace({{1, "Loading bay"}, {2, "Gate"}, {3, "Office"}});
        // As an import writes: one transaction per 10,000 entries.
        for (int64_t n = 0; n < entries;) {
            WriteBatch batch(store);
            for (const int64_t end = std::min(entries, n + 10000); n < end; ++n) {
                ClipRecord r = makeClip(n);
                index.SaveClipRecord(r);
            }
            batch.commit();
        }
        index.catalogNow();
    }
    TempDir dir{"dialscope-bench"};
    ChannelTable channels;
    RegistryStore store;
    ClipIndex index;
    int64_t next = 1'000'000;
};

FilledIndex& filled(int64_t entries) {
    static std::map<int64_t, std::unique_ptr<FilledIndex>> cache;
    auto& slot = cache[entries];
    if (!slot)
        slot = std::make_unique<FilledIndex>(entries);
    return *slot;
}

// Times each operation on its own and reports the median.
template <typename Op> void timeEach(benchmark::State& state, Op op) {
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
    FilledIndex& f = filled(state.range(0));
    timeEach(state, [&] {
        std::vector<ClipRecord> records;
        f.index.LoadClipRecords(records);
        benchmark::DoNotOptimize(records.data());
        if (int64_t(records.size()) < state.range(0))
            state.SkipWithError("entries missing");
    });
    state.SetComplexityN(state.range(0));
}

void BM_SaveClipRecord(benchmark::State& state) {
    FilledIndex& f = filled(state.range(0));
    timeEach(state, [&] {
        ClipRecord r = makeClip(f.next++);
        benchmark::DoNotOptimize(f.index.SaveClipRecord(r));
    });
}

void BM_MarkClipRead(benchmark::State& state) {
    FilledIndex& f = filled(state.range(0));
    int64_t n = 0;
    timeEach(state, [&] {
        // Spread over the whole index, alternating read and unread.
        int64_t which = (n * 7919) % state.range(0);
        f.index.MarkClipRead(makeClip(which).FileName, n++ % 2 == 0);
    });
}

void BM_DeleteClipRecord(benchmark::State& state) {
    FilledIndex& f = filled(state.range(0));
    int64_t n = 0;
    timeEach(state, [&] {
        // Spread over the index; each deleted entry is saved again untimed.
        const int64_t which = (n++ * 7919) % state.range(0);
        ClipRecord r = makeClip(which);
        if (!f.index.DeleteClipRecord(r.FileName))
            state.SkipWithError("not deleted");
        state.PauseTiming();
        f.index.SaveClipRecord(r);
        state.ResumeTiming();
    });
}

void BM_BuildCatalog(benchmark::State& state) {
    FilledIndex& f = filled(state.range(0));
    timeEach(state, [&] {
        ClipCatalog catalog = ClipCatalog::build(f.store);
        if (int64_t(catalog.size()) < state.range(0))
            state.SkipWithError("entries missing");
    });
}

void BM_SearchChannelAndDay(benchmark::State& state) {
    FilledIndex& f = filled(state.range(0));
    const ClipCatalog& catalog = f.index.catalogNow();
    const auto group = catalog.findGroup("0002 Gate");
    const SearchFilter day{true, searchBound(2024, 3, 5, 0, 0), true, searchBound(2024, 3, 5, 23, 59)};
    timeEach(state, [&] {
        const auto hits = catalog.search(group, day);
        benchmark::DoNotOptimize(hits.data());
        if (hits.empty())
            state.SkipWithError("nothing found");
    });
}

// Importing entries as `dsreg import` reads them (parsing included), into a
// fresh store each time.
void BM_Import(benchmark::State& state) {
    std::vector<std::string> lines;
    lines.reserve(size_t(state.range(0)) * 11);
    for (int64_t n = 0; n < state.range(0); ++n) {
        const ClipRecord r = makeClip(n);
        lines.push_back("[HKCU\\software\\Kestrel-Lookout\\RemoteRecord\\" + r.FileName + "]");
        for (const auto& [name, text] : {std::pair{"FileName", r.FileName},
                                         {"Location", std::string("Gate")},
                                         {"SDate", r.SDate},
                                         {"STime", r.STime},
                                         {"EDate", r.EDate},
                                         {"ETime", r.ETime},
                                         {"ImageName", r.ImageName},
                                         {"Path", r.Path}})
            lines.push_back(std::string("  \"") + name + "\" = sz[" + std::to_string(text.size()) + "]:\"" +
                            text + "\"");
        lines.push_back("  \"Channel\" = dword:00000002 (2)");
        lines.push_back("  \"Open\" = dword:00000000 (0)");
    }
    timeEach(state, [&] {
        state.PauseTiming();
        auto dir = std::make_unique<TempDir>("dialscope-bench-import");
        RegistryStore store(dir->file("user.sqlite"));
        state.ResumeTiming();
        RegistryImport import([&store](RegistryRoot) { return &store; });
        for (const std::string& line : lines)
            if (!import.addLine(line))
                break;
        if (!import.finish())
            state.SkipWithError(import.error().c_str());
    });
}

BENCHMARK(BM_LoadClipRecords)
    ->Arg(1000)
    ->Arg(10000)
    ->Arg(100000)
    ->Unit(benchmark::kMillisecond)
    ->Complexity(benchmark::oN);
BENCHMARK(BM_SaveClipRecord)->Arg(1000)->Arg(10000)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_MarkClipRead)->Arg(1000)->Arg(10000)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_DeleteClipRecord)->Arg(1000)->Arg(1000000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_BuildCatalog)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_SearchChannelAndDay)->Arg(1000000)->Unit(benchmark::kMillisecond)->Iterations(9);
BENCHMARK(BM_Import)->Arg(1000000)->Unit(benchmark::kSecond)->Iterations(1);

} // namespace

BENCHMARK_MAIN();
