// Settings store costs: reading a setting from a warm store, opening a store
// per call (as the settings-cleaner exports do), writing a value, and walking
// a large store key by index.
#include "platform/registry/RegistryStore.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <string>

namespace {

// A store file in a fresh temporary folder, removed afterwards.
class ScratchStore {
public:
    ScratchStore() {
        std::string pattern = (std::filesystem::temp_directory_path() / "registry-bench-XXXXXX").string();
        m_dir = mkdtemp(pattern.data()) ? pattern : std::string();
    }
    ~ScratchStore() {
        std::error_code ignored;
        std::filesystem::remove_all(m_dir, ignored);
    }
    std::string file() const { return m_dir + "/user.sqlite"; }

private:
    std::string m_dir;
};

const char* const kSetting = "software\\Kestrel-Lookout\\Dialscope\\Setting";

void BM_OpenKeyAndQueryValue(benchmark::State& state) {
    ScratchStore scratch;
    RegistryStore store(scratch.file());
    store.createKey(kSetting).setDword("CheckTimer", 10);
    for (auto _ : state) {
        auto value = store.openKey(kSetting).queryValue("CheckTimer");
        benchmark::DoNotOptimize(value);
    }
}
BENCHMARK(BM_OpenKeyAndQueryValue);

void BM_OpenStoreKeyAndQueryValue(benchmark::State& state) {
    ScratchStore scratch;
    RegistryStore keeper(scratch.file()); // keeps the file open, as a running program does
    keeper.createKey(kSetting).setDword("CheckTimer", 10);
    for (auto _ : state) {
        RegistryStore store(scratch.file());
        auto value = store.openKey(kSetting).queryValue("CheckTimer");
        benchmark::DoNotOptimize(value);
    }
}
BENCHMARK(BM_OpenStoreKeyAndQueryValue);

void BM_SetValue(benchmark::State& state) {
    ScratchStore scratch;
    RegistryStore store(scratch.file());
    RegistryKey key = store.createKey(kSetting);
    uint32_t i = 0;
    for (auto _ : state)
        benchmark::DoNotOptimize(key.setDword("CheckTimer", ++i));
}
BENCHMARK(BM_SetValue);

void BM_EnumerateSubkeys(benchmark::State& state) {
    ScratchStore scratch;
    RegistryStore store(scratch.file());
    const auto count = uint32_t(state.range(0));
    {
        WriteBatch batch(store);
        RegistryKey parent = store.createKey("software\\Kestrel-Lookout\\RemoteRecord");
        for (uint32_t i = 0; i < count; ++i)
            parent.createSubkey("clip" + std::to_string(i * 7919 % count));
        batch.commit();
    }
    for (auto _ : state) {
        // A fresh handle each time, so every pass reads the names anew.
        RegistryKey parent = store.openKey("software\\Kestrel-Lookout\\RemoteRecord");
        uint32_t n = parent.subkeyCount().value_or(0);
        for (uint32_t i = 0; i < n; ++i)
            benchmark::DoNotOptimize(parent.subkeyName(i));
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * count);
}
BENCHMARK(BM_EnumerateSubkeys)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);

void BM_SubkeysWithValues(benchmark::State& state) {
    ScratchStore scratch;
    RegistryStore store(scratch.file());
    const auto count = uint32_t(state.range(0));
    {
        WriteBatch batch(store);
        RegistryKey parent = store.createKey("software\\Kestrel-Lookout\\RemotePhone");
        for (uint32_t i = 0; i < count; ++i) {
            RegistryKey entry = parent.createSubkey("entry" + std::to_string(i));
            entry.setString("Name", "entry" + std::to_string(i));
            entry.setString("Dial", "5550100");
        }
        batch.commit();
    }
    for (auto _ : state) {
        auto all = store.openKey("software\\Kestrel-Lookout\\RemotePhone").subkeysWithValues();
        benchmark::DoNotOptimize(all);
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * count);
}
BENCHMARK(BM_SubkeysWithValues)->Arg(10000)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
