// Opening the clips browser over 10,000, 100,000 and 1,000,000 clips: the
// tree is filled from the clip index's catalog (built beforehand, as the
// program builds it in the background at start), the list stays empty until a
// node is chosen. A second case selects a node holding every clip, which
// loads its newest page. Both report the median of single runs as
// "median_ms"; the first also the resident size after opening ("rss_mb").
// A third opens the browser on an index whose catalog is not read yet (as
// right after start-up, or after another process wrote): "open_ms" until the
// dialog is there (its loading state), "filled_ms" until the catalog built on
// the worker has filled the tree.
#include "app/core/ChannelTable.h"
#include "clips/core/ClipIndex.h"
#include "clips/ui/ClipBrowserDialog.h"
#include "clips/ui/ClipListWidget.h"
#include "platform/dialogs/ScriptedDialogService.h"
#include "platform/registry/RegistryStore.h"
#include "tests/support/TempDir.h"

#include <QApplication>
#include <QEventLoop>
#include <QTreeWidget>
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace {

struct FilledIndex {
    FilledIndex(int64_t entries, int channels)
        : store(dir.file("user.sqlite"))
        , index(store, table) {
        table.replace({{1, "Loading bay"}, {2, "Gate"}, {3, "Office"}});
        for (int64_t n = 0; n < entries;) {
            WriteBatch batch(store);
            for (const int64_t end = std::min(entries, n + 10000); n < end; ++n) {
                ClipRecord r;
                r.FileName = "2024030514" + std::to_string(10000000 + n) + ".avi";
                r.ImageName = "2024030514" + std::to_string(10000000 + n) + ".img";
                r.Channel = int32_t(n % channels + 1);
                r.Open = int32_t(n % 3 == 0);
                r.SDate = r.EDate = "2024/03/05";
                r.STime = "14:07";
                r.ETime = "14:09";
                r.Path = "/home/operator/clips/";
                index.SaveClipRecord(r);
            }
            batch.commit();
        }
        index.catalogNow();
    }
    TempDir dir{"dialscope-bench"};
    ChannelTable table;
    RegistryStore store;
    ClipIndex index;
};

FilledIndex& filled(int64_t entries, int channels) {
    static std::map<std::pair<int64_t, int>, std::unique_ptr<FilledIndex>> cache;
    auto& slot = cache[{entries, channels}];
    if (!slot)
        slot = std::make_unique<FilledIndex>(entries, channels);
    return *slot;
}

template <typename Op> void timeEach(benchmark::State& state, Op op) {
    std::vector<double> samples;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        op();
        samples.push_back(
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
    }
    std::sort(samples.begin(), samples.end());
    state.counters["median_ms"] = samples[samples.size() / 2];
}

// Resident memory of this process, in MB.
double residentMB() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmRSS:", 0) == 0)
            return std::stod(line.substr(6)) / 1024.0;
    return 0;
}

void BM_OpenBrowser(benchmark::State& state) {
    FilledIndex& f = filled(state.range(0), 16);
    ScriptedDialogService dialogs;
    timeEach(state, [&] {
        ClipBrowserDialog dialog(f.index, dialogs, nullptr);
        if (dialog.tree()->topLevelItemCount() != 16)
            state.SkipWithError("wrong grouping");
        dialog.tree()->setCurrentItem(dialog.tree()->topLevelItem(0));
        state.counters["rss_mb"] = residentMB();
    });
}
BENCHMARK(BM_OpenBrowser)
    ->Arg(10'000)
    ->Arg(100'000)
    ->Arg(1'000'000)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(5);

void BM_SelectNodeOfAllClips(benchmark::State& state) {
    FilledIndex& f = filled(state.range(0), 1);
    ScriptedDialogService dialogs;
    ClipBrowserDialog dialog(f.index, dialogs, nullptr);
    timeEach(state, [&] {
        dialog.tree()->clearSelection();
        dialog.selectNode("0001 Loading bay");
        if (dialog.list()->topLevelItemCount() !=
            int(std::min<int64_t>(state.range(0), ClipBrowserDialog::kPageRows)))
            state.SkipWithError("list not filled");
    });
}
BENCHMARK(BM_SelectNodeOfAllClips)->Arg(10'000)->Arg(100'000)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_OpenBrowserBeforeTheCatalog(benchmark::State& state) {
    FilledIndex& f = filled(state.range(0), 16);
    ScriptedDialogService dialogs;
    std::vector<double> open, filled;
    for (auto _ : state) {
        ClipIndex fresh(f.store, f.table); // no catalog yet
        const auto start = std::chrono::steady_clock::now();
        ClipBrowserDialog dialog(fresh, dialogs, nullptr);
        open.push_back(
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
        if (!dialog.loading())
            state.SkipWithError("the catalog was there already");
        while (dialog.loading())
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
        filled.push_back(
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
        if (dialog.tree()->topLevelItemCount() != 16)
            state.SkipWithError("wrong grouping");
    }
    std::sort(open.begin(), open.end());
    std::sort(filled.begin(), filled.end());
    state.counters["open_ms"] = open[open.size() / 2];
    state.counters["filled_ms"] = filled[filled.size() / 2];
}
BENCHMARK(BM_OpenBrowserBeforeTheCatalog)
    ->Arg(100'000)
    ->Arg(1'000'000)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3);

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
