// The program against a site that turns hostile in the middle of a call:
// garbage, damaged, oversized and truncated packets and lying lengths mixed
// into the video for a while. The operator must keep a responsive program,
// every channel window, a recording that stays readable and an intact store.
//
// CI runs it for 40 seconds; scripts/bad-peer.sh runs it for minutes
// (DIALSCOPE_BAD_PEER_SECONDS), in the sanitizer build too. DIALSCOPE_CHAOS_SEED
// and DIALSCOPE_CHAOS_RATE choose the damage.
#include "AcceptancePaths.h"
#include "AcceptanceTest.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <regex>
#include <thread>

namespace {

std::string EnvText(const char* name, const char* fallback) {
    const char* text = std::getenv(name);
    return text && *text ? text : fallback;
}

// Sum of the damage counts in the site's status reply.
long DamageSent(const std::string& status) {
    const size_t counts = status.find("\"counts\"");
    if (counts == std::string::npos)
        return 0;
    const std::string tail = status.substr(counts, status.find('}', counts) - counts);
    long total = 0;
    const std::regex number(":([0-9]+)");
    for (auto it = std::sregex_iterator(tail.begin(), tail.end(), number); it != std::sregex_iterator(); ++it)
        total += std::stol((*it)[1]);
    return total;
}

using BadPeerScenario = AcceptanceTest;

TEST_F(BadPeerScenario, ProgramStaysResponsiveAndKeepsWindowsRecordingAndStoreThroughHostileBytes) {
    const int seconds = std::atoi(EnvText("DIALSCOPE_BAD_PEER_SECONDS", "40").c_str());
    const std::string seed = EnvText("DIALSCOPE_CHAOS_SEED", "7");
    ASSERT_TRUE(startSite({"--chaos-rate", EnvText("DIALSCOPE_CHAOS_RATE", "0.35")}));
    ASSERT_TRUE(startProgram());
    ASSERT_TRUE(m_xdo.moveTo(m_main, XServer::kWidth - 10, 50));
    ASSERT_EQ(callWithChannels(3).size(), 3u);
    ASSERT_TRUE(menuCommand("v", "a"));
    const std::vector<ChannelToolbar> windows = waitForChannelWindows(3);
    ASSERT_EQ(windows.size(), 3u);
    ASSERT_TRUE(m_xdo.click(m_main, windows[0].record.x(), windows[0].record.y()));
    ASSERT_TRUE(m_xdo.moveTo(m_main, XServer::kWidth - 10, 50));
    ASSERT_TRUE(WaitUntil([&] { return !HasRedMarkAt(grabMain(), windows[0].record); }, kShortWaitMs, 200));
    const std::string settingsBefore = m_store->exportTree(kProfileKey);

    // The site turns hostile; every few seconds the operator opens and
    // closes About, and the channel windows must all still be there.
    ASSERT_TRUE(m_site->send("chaos on " + seed));
    double slowest = 0;
    int checks = 0;
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (std::chrono::steady_clock::now() < end) {
        ASSERT_TRUE(m_program->running()) << "the program ended";
        const std::optional<double> response = aboutRoundTrip();
        ASSERT_TRUE(response) << "About did not open and close";
        slowest = std::max(slowest, *response);
        ++checks;
        // The recording window's Record dot is grey; its Close cross stays.
        const QImage now = grabMain();
        EXPECT_EQ(FindChannelToolbars(now).size(), 2u) << "a channel window went";
        EXPECT_TRUE(HasRedMarkAt(now, windows[0].close)) << "the recording window went";
        std::this_thread::sleep_for(std::chrono::seconds(3));
    }
    const std::optional<std::string> status = m_site->send("chaos off");
    ASSERT_TRUE(status);
    const std::optional<std::string> report = m_site->send("status");
    ASSERT_TRUE(report);
    const long damaged = DamageSent(*report);
    std::printf("bad peer: %d s, %ld damaged packets, About answered %d times, slowest %.2f s\n", seconds,
                damaged, checks, slowest);
    EXPECT_GT(damaged, 0) << *report;
    EXPECT_LT(slowest, 5.0);

    // Once the site behaves, every picture moves again; the recording is
    // stopped, the call hung up and the clip is a readable AVI with its record.
    const QImage calm = grabMain();
    for (const ChannelToolbar& window : windows)
        EXPECT_TRUE(WaitUntil([&] { return Screen::changedShare(calm, grabMain(), window.picture()) > 0.01; },
                              kShortWaitMs, 250))
            << "a picture stands still after the damage";
    ASSERT_TRUE(m_xdo.click(m_main, windows[0].stop().x(), windows[0].stop().y()));
    ASSERT_TRUE(WaitUntil([&] { return HasRedMarkAt(grabMain(), windows[0].record); }, kShortWaitMs, 200));
    ASSERT_TRUE(menuCommand("c", "h"));
    EXPECT_TRUE(waitForChannelWindows(0).empty());
    EXPECT_EQ(m_store->exportTree(kProfileKey), settingsBefore);
    const std::vector<std::string> clips = FilesWithExtension(recordFolder(), ".avi");
    ASSERT_EQ(clips.size(), 1u);
    EXPECT_GT(std::atoi(ProbeVideo(recordFolder() + "/" + clips[0])["nb_read_frames"].c_str()), 10);
    EXPECT_EQ(m_store->subkeys(std::string(kStoreRoot) + "\\RemoteRecord"), clips);
    EXPECT_EQ(exitFromMenu(), 0);
}

} // namespace
