// Choosing what a retention pass deletes among 100,000 clips, stored in no
// particular order: the free-space rule needing about a tenth of them gone,
// and the age rule on top. The budget is 0.5 s per pass.
#include "unattended/RetentionPlanner.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <random>

namespace {

std::vector<RetentionClip> makeClips(size_t count) {
    std::mt19937 random(15);
    std::vector<RetentionClip> clips(count);
    char text[32];
    for (size_t i = 0; i < count; ++i) {
        RetentionClip& c = clips[i];
        const unsigned day = random() % 3650;
        std::snprintf(text, sizeof text, "%04u/%02u/%02u", 2015 + day / 365, 1 + day % 365 / 31 % 12,
                      1 + day % 28);
        c.sDate = text;
        std::snprintf(text, sizeof text, "%02u:%02u", unsigned(random() % 24), unsigned(random() % 60));
        c.sTime = text;
        std::snprintf(text, sizeof text, "%s%04u.avi", c.sDate.c_str(), unsigned(i % 10000));
        c.fileName = text;
        c.imageName = c.fileName;
        c.folder = "/srv/record/";
        c.bytes = 1'000'000 + random() % 9'000'000;
    }
    return clips;
}

void BM_PlanRetention100k(benchmark::State& state) {
    const std::vector<RetentionClip> clips = makeClips(100'000);
    RetentionPolicy policy;
    policy.freeSpaceRule = true;
    policy.limitBytes = 50'000'000'000ull; // about a tenth of the clips must go
    policy.freeBytes = 1'000'000'000ull;
    policy.ageCutoffKey = state.range(0) ? 201701010000ull : 0;
    const auto inUse = [](const RetentionClip&) {
        return false;
    };
    size_t chosen = 0;
    for (auto _ : state) {
        RetentionPlan plan = planRetention(clips, policy, inUse);
        chosen = plan.deleteClips.size();
        benchmark::DoNotOptimize(plan);
    }
    state.counters["chosen"] = double(chosen);
}
BENCHMARK(BM_PlanRetention100k)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
