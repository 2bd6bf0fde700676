// Settings and stores of the application on a warm store: one integer
// setting, the whole call section, and loading a phone book and an event list.
// Each case reports the median time of a single operation as "median_ms".
#include "app/core/AppStore.h"
#include "platform/registry/RegistryStore.h"
#include "tests/support/TempDir.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <string>

namespace {

struct Stores {
    TempDir dir{"dialscope-bench"};
    RegistryStore user{dir.file("user.sqlite")};
    RegistryStore machine{dir.file("machine.sqlite")};
    AppStore app{user, machine};
};

Stores& warm() {
    static Stores stores;
    return stores;
}

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

void BM_GetSetting(benchmark::State& state) {
    AppStore& app = warm().app;
    app.SetSetting(AppStore::kCheckTimer, 30);
    timeEach(state, [&] { benchmark::DoNotOptimize(app.GetSetting(AppStore::kCheckTimer)); });
}

void BM_SetSetting(benchmark::State& state) {
    AppStore& app = warm().app;
    int32_t n = 0;
    timeEach(state, [&] { benchmark::DoNotOptimize(app.SetSetting(AppStore::kModem, n++ % 4)); });
}

void BM_GetCallSettings(benchmark::State& state) {
    AppStore& app = warm().app;
    app.saveCallSettings({"guard", "pw", "5551234", 1, 60, 1});
    timeEach(state, [&] { benchmark::DoNotOptimize(app.callSettings()); });
}

void BM_LoadPhoneBook(benchmark::State& state) {
    Stores& s = warm();
    {
        WriteBatch batch(s.user);
        for (int64_t n = 0; n < state.range(0); ++n)
            s.app.SavePhoneEntry(
                {"Site " + std::to_string(n), "password", "555" + std::to_string(n), "memo"});
        batch.commit();
    }
    timeEach(state, [&] {
        std::vector<PhoneEntry> list;
        s.app.LoadPhoneBook(list);
        benchmark::DoNotOptimize(list.data());
    });
}

BENCHMARK(BM_GetSetting)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_SetSetting)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_GetCallSettings)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_LoadPhoneBook)->Arg(1000)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
