// The soak run's verdict on resource samples, and the /proc sampler it uses.
#include "tests/soak/GrowthCheck.h"
#include "tests/soak/ResourceSampler.h"

#include "tests/support/ChildProcess.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <cmath>
#include <csignal>
#include <filesystem>
#include <functional>
#include <thread>

namespace {

// One sample a minute for `minutes`, RSS from `rss(minute)`, fds and threads
// from their own functions.
std::vector<ResourceSample> samples(
    int minutes, const std::function<long long(int)>& rss,
    const std::function<int(int)>& fds = [](int) { return 40; },
    const std::function<int(int)>& threads = [](int) { return 12; }) {
    std::vector<ResourceSample> samples;
    for (int m = 0; m <= minutes; ++m) {
        ResourceSample s;
        s.seconds = 60.0 * m;
        s.rssKiB = rss(m);
        s.fds = fds(m);
        s.threads = threads(m);
        s.cpuSeconds = 6.0 * m; // 10 % of a core
        samples.push_back(s);
    }
    return samples;
}

GrowthLimits tenMinuteWarmUp() {
    GrowthLimits limits;
    limits.warmUpSeconds = 600;
    limits.rssAllowanceKiB = 8 * 1024;
    return limits;
}

TEST(GrowthCheck, MemoryVerdicts) {
    const long long base = 120 * 1024;
    struct Case {
        const char* name;
        std::function<long long(int)> rss;
        bool grows;
    } cases[] = {
        {"flat with noise", [&](int m) { return base + (m % 7) * 300; }, false},
        {"growth only during the warm-up", [&](int m) { return base + std::min(m, 10) * 4096; }, false},
        {"one step in the middle", [&](int m) { return base + (m > 35 ? 20 * 1024 : 0); }, false},
        {"steady leak of 1 MiB in 3 minutes", [&](int m) { return base + m * 350; }, true},
        {"leak hidden in noise", [&](int m) { return base + m * 400 + (m % 5) * 2000; }, true},
        {"slow drift below the allowance", [&](int m) { return base + m * 50; }, false},
    };
    for (const Case& c : cases) {
        const GrowthVerdict verdict = judgeGrowth(samples(60, c.rss), tenMinuteWarmUp());
        EXPECT_TRUE(verdict.judged) << c.name;
        EXPECT_EQ(verdict.memoryGrows, c.grows) << c.name << "\n" << verdict.describe();
        EXPECT_EQ(verdict.failed(), c.grows) << c.name;
    }
}

TEST(GrowthCheck, DescriptorAndThreadCeilings) {
    const auto rss = [](int) {
        return 100 * 1024LL;
    };
    // Reconnecting every 5 minutes opens three descriptors and a thread for a while.
    const auto sawtoothFds = [](int m) {
        return 40 + (m % 5 == 0 ? 3 : 0);
    };
    const auto sawtoothThreads = [](int m) {
        return 12 + (m % 5 == 0 ? 1 : 0);
    };
    GrowthVerdict verdict = judgeGrowth(samples(60, rss, sawtoothFds, sawtoothThreads), tenMinuteWarmUp());
    EXPECT_FALSE(verdict.failed()) << verdict.describe();

    // One descriptor or thread left behind per reconnect.
    verdict = judgeGrowth(samples(60, rss, [](int m) { return 40 + m / 5; }), tenMinuteWarmUp());
    EXPECT_TRUE(verdict.fdsGrow);
    EXPECT_FALSE(verdict.threadsGrow);
    verdict = judgeGrowth(samples(60, rss, sawtoothFds, [](int m) { return 12 + m / 5; }), tenMinuteWarmUp());
    EXPECT_TRUE(verdict.threadsGrow);
    EXPECT_FALSE(verdict.fdsGrow);
    EXPECT_NEAR(verdict.cpuPercent, 10.0, 0.01);
}

TEST(GrowthCheck, RunShorterThanTheWarmUpIsNotJudgedAndFails) {
    const GrowthVerdict verdict = judgeGrowth(samples(12, [](int) { return 1000LL; }), tenMinuteWarmUp());
    EXPECT_FALSE(verdict.judged);
    EXPECT_TRUE(verdict.failed());
}

TEST(ResourceSampler, ReadsAProcessWhoseNameHasSpacesAndParenthesesAndNothingOnceItIsGone) {
    TempDir dir("dialscope-sampler");
    const std::string odd = dir.file("a) b (c");
    std::filesystem::copy_file("/bin/sleep", odd);
    std::filesystem::permissions(odd, std::filesystem::perms::owner_all);
    ChildProcess child({odd, "30"});
    ASSERT_TRUE(child.running());
    const ResourceSampler sampler(child.pid());
    std::optional<ResourceSample> sample;
    for (int i = 0; i < 100 && !sample; ++i) {
        sample = sampler.sample();
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ASSERT_TRUE(sample);
    EXPECT_GT(sample->rssKiB, 0);
    EXPECT_EQ(sample->threads, 1);
    EXPECT_GE(sample->fds, 1);
    EXPECT_GE(sample->cpuSeconds, 0);
    child.kill(SIGKILL);
    child.wait();
    EXPECT_FALSE(sampler.sample());
}

} // namespace
