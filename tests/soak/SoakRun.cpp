// The long run: the built program on a private X server, connected to the
// simulated site with four channels streaming and two of them recording, the
// site hanging up every few minutes and the operator dialling again. Samples
// the program's memory, descriptors, threads and CPU time every ten seconds
// and fails when any of them keeps growing after the warm-up.
//
// Not part of the test suite (it runs for an hour); scripts/soak.sh builds and
// runs it. Environment: DIALSCOPE_SOAK_MINUTES (60), DIALSCOPE_SOAK_HANGUP_MINUTES
// (10), DIALSCOPE_SOAK_CSV (a file for every sample).
#include "tests/acceptance/AcceptanceTest.h"
#include "tests/soak/GrowthCheck.h"
#include "tests/soak/ResourceSampler.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <thread>

namespace {

double envNumber(const char* name, double fallback) {
    const char* text = std::getenv(name);
    if (!text || !*text)
        return fallback;
    char* end = nullptr;
    const double value = std::strtod(text, &end);
    return end && *end == '\0' && value > 0 ? value : fallback;
}

class SoakRun : public AcceptanceTest {
protected:
    static constexpr int kChannels = 4;
    static constexpr int kRecorded = 2;

    // Dials (again, until the line is back after a hang-up), opens every
    // channel, tiles them and starts recording the first two.
    void connectAndRecord() {
        ASSERT_TRUE(waitUntil(
            [&] {
                if (!menuCommand("c", "c"))
                    return false;
                if (waitForDialog("^Connect to local site$", 2000))
                    return true;
                m_xdo.press({"Escape", "Escape"});
                return false;
            },
            kLongWaitMs, 1000))
            << "Connect never became available";
        m_xdo.press({"Escape"});
        ASSERT_TRUE(m_xdo.waitForNoWindow("^Connect to local site$"));
        // The pointer rests on an empty stretch of the toolbar, not on a
        // channel window's button where the last call's windows were.
        ASSERT_TRUE(m_xdo.moveTo(m_main, XServer::kWidth - 10, 50));
        ASSERT_EQ(callWithChannels(kChannels).size(), size_t(kChannels));
        ASSERT_TRUE(menuCommand("v", "a"));
        const std::vector<ChannelToolbar> windows = waitForChannelWindows(kChannels);
        ASSERT_EQ(windows.size(), size_t(kChannels));
        for (int index = 0; index < kRecorded; ++index) {
            ASSERT_TRUE(m_xdo.click(m_main, windows[index].record.x(), windows[index].record.y()));
            ASSERT_TRUE(waitUntil([&] { return !hasRedMarkAt(grabMain(), windows[index].record); },
                                  kShortWaitMs, 200))
                << "channel window " << index << " does not record";
        }
    }
};

TEST_F(SoakRun, ResourcesStayFlatOverManyCallsWithFourChannelsAndTwoRecordings) {
    using Clock = std::chrono::steady_clock;
    const double minutes = envNumber("DIALSCOPE_SOAK_MINUTES", 60);
    const double hangUpMinutes = envNumber("DIALSCOPE_SOAK_HANGUP_MINUTES", 10);
    GrowthLimits limits;
    limits.warmUpSeconds = std::clamp(minutes * 60 / 6, 60.0, 600.0);

    ASSERT_TRUE(startSite());
    ASSERT_TRUE(startProgram());
    ASSERT_NO_FATAL_FAILURE(connectAndRecord());
    const ResourceSampler sampler(m_program->pid());
    std::vector<ResourceSample> samples;
    int calls = 1;
    const Clock::time_point start = Clock::now();
    Clock::time_point callStart = start, nextSample = start;
    auto elapsedMinutes = [&](Clock::time_point since) {
        return std::chrono::duration<double, std::ratio<60>>(Clock::now() - since).count();
    };

    while (elapsedMinutes(start) < minutes) {
        if (Clock::now() >= nextSample) {
            const std::optional<ResourceSample> sample = sampler.sample();
            ASSERT_TRUE(sample && m_program->running()) << "the program ended";
            samples.push_back(*sample);
            if (samples.size() % 6 == 1)
                std::printf("soak %6.1f min  rss %7lld KiB  fds %3d  threads %3d  cpu %7.1f s  calls %d\n",
                            sample->seconds / 60, sample->rssKiB, sample->fds, sample->threads,
                            sample->cpuSeconds, calls);
            std::fflush(stdout);
            nextSample += std::chrono::seconds(10);
        }
        if (elapsedMinutes(callStart) >= hangUpMinutes && minutes - elapsedMinutes(start) > 1) {
            // The far end hangs up: the windows go, recordings are finished,
            // and the operator dials again.
            ASSERT_TRUE(m_site->send("hangup"));
            ASSERT_TRUE(waitForChannelWindows(0).empty()) << "windows stay after the far end hung up";
            ASSERT_NO_FATAL_FAILURE(connectAndRecord());
            ++calls;
            callStart = Clock::now();
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
    }
    ASSERT_TRUE(menuCommand("c", "h"));
    ASSERT_TRUE(waitForChannelWindows(0).empty());

    const GrowthVerdict verdict = judgeGrowth(samples, limits);
    std::printf("soak: %.0f minutes, %d calls, %zu samples, warm-up %.0f s\n%s", minutes, calls,
                samples.size(), limits.warmUpSeconds, verdict.describe().c_str());
    if (const char* csv = std::getenv("DIALSCOPE_SOAK_CSV"); csv && *csv) {
        std::ofstream out(csv);
        out << "seconds,rss_kib,fds,threads,cpu_seconds\n";
        for (const ResourceSample& s : samples)
            out << s.seconds << ',' << s.rssKiB << ',' << s.fds << ',' << s.threads << ',' << s.cpuSeconds
                << '\n';
    }
    EXPECT_FALSE(verdict.failed()) << verdict.describe();

    // Every call left its two finished clips, each with its record.
    EXPECT_EQ(filesWithExtension(recordFolder(), ".avi").size(), size_t(calls * kRecorded));
    EXPECT_EQ(filesWithExtension(recordFolder(), ".img").size(), size_t(calls * kRecorded));
    EXPECT_EQ(m_store->subkeys(std::string(kStoreRoot) + "\\RemoteRecord").size(), size_t(calls * kRecorded));
    EXPECT_EQ(exitFromMenu(), 0);
}

} // namespace
