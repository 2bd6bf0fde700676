#include "tools/sitesim/SiteSimulator.h"

#include "platform/dib/PackedDib.h"

#include <gtest/gtest.h>

#include <cstring>
#include <utility>

using namespace sitesim;
using namespace std::chrono_literals;

namespace {

std::vector<uint8_t> loginRecord(const std::string& user, const std::string& password, int32_t imageSize = 0,
                                 int32_t quality = 50) {
    std::vector<uint8_t> record(48, 0);
    std::memcpy(record.data(), user.data(), std::min<size_t>(user.size(), 20));
    std::memcpy(record.data() + 20, password.data(), std::min<size_t>(password.size(), 20));
    writeLe32(record.data() + 40, imageSize);
    writeLe32(record.data() + 44, quality);
    return record;
}

struct SiteRig {
    explicit SiteRig(SiteConfig config = makeConfig()) {
        SiteSimulator::Hooks hooks;
        hooks.send = [this](std::vector<uint8_t> bytes) {
            reader.feed(bytes);
            while (auto p = reader.next())
                sent.push_back(std::move(*p));
        };
        hooks.log = [this](const JsonObject& entry) {
            log.push_back(entry.str());
        };
        hooks.loginAccepted = [this] {
            ++logins;
        };
        site = std::make_unique<SiteSimulator>(std::move(config), hooks);
    }

    static SiteConfig makeConfig() {
        SiteConfig config;
        config.user = "alice";
        config.password = "secret";
        config.channels = {{1, "Gate", Codec::Mjpeg, 0, 10.0, 0, 0},
                           {2, "Yard", Codec::Rgb, 77, 10.0, 0, 0},
                           {3, "Dock", Codec::Mjpeg, 0, 10.0, 176, 144}};
        config.permissions = 1;
        return config;
    }

    void viewer(uint8_t type, std::span<const uint8_t> payload = {}) {
        site->fromViewer(encodeViewerPacket(type, payload), now);
    }
    void viewerValue(uint8_t type, int32_t value) { site->fromViewer(encodeViewerValue(type, value), now); }
    std::vector<Packet> take() { return std::exchange(sent, {}); }
    // Advances the clock and ticks; with no backlog the link drains at once,
    // so the site is ticked again until it has nothing more to send.
    std::vector<Packet> frames(Millis after, size_t backlog = 0) {
        now += after;
        std::vector<Packet> all;
        for (int i = 0; i < 16; ++i) {
            site->tick(now, backlog);
            auto batch = take();
            if (batch.empty())
                break;
            all.insert(all.end(), batch.begin(), batch.end());
        }
        return all;
    }
    bool logged(const std::string& fragment) const {
        return std::any_of(log.begin(), log.end(),
                           [&](const std::string& l) { return l.find(fragment) != std::string::npos; });
    }

    TimePoint now{};
    PacketReader reader{Layout::Site};
    std::vector<Packet> sent;
    std::vector<std::string> log;
    int logins = 0;
    std::unique_ptr<SiteSimulator> site;
};

} // namespace

TEST(SiteSimulator, GoodLoginGetsChannelListAndPrompt) {
    SiteRig rig;
    rig.site->beginSession(false, rig.now);
    rig.viewer(Login, loginRecord("alice", "secret"));
    const auto packets = rig.take();
    ASSERT_EQ(packets.size(), 2u);
    const Packet& list = packets[0];
    EXPECT_EQ(list.type, ChannelList);
    EXPECT_EQ(list.param1, 3);
    EXPECT_EQ(list.param2, 1);
    ASSERT_EQ(list.payload.size(), 3u * 36);
    EXPECT_EQ(readLe32(list.payload.data() + 36), 2);
    EXPECT_EQ(fieldText(std::span(list.payload).subspan(40, 32)), "Yard");
    EXPECT_EQ(list.payload[36 + 4 + 31], 0);
    EXPECT_EQ(packets[1].type, ChannelPrompt);
    EXPECT_EQ(rig.logins, 1);
    EXPECT_TRUE(rig.logged(
        "\"user\":\"alice\",\"password\":\"secret\",\"imageSize\":0,\"quality\":50,\"accepted\":true"));
}

TEST(SiteSimulator, BadOrShortLoginIsRejectedAndNothingElseIsServed) {
    for (const auto& record : {loginRecord("alice", "wrong"), loginRecord("Rav-Lookout", "Q-Lynx"),
                               std::vector<uint8_t>(40, 'a')}) {
        SiteRig rig;
        rig.site->beginSession(false, rig.now);
        rig.viewer(Login, record);
        const auto packets = rig.take();
        ASSERT_EQ(packets.size(), 1u);
        EXPECT_EQ(packets[0].type, LoginRejected);
        rig.viewerValue(OpenChannel, 1);
        rig.viewerValue(SiteInfoRequest, 0);
        EXPECT_TRUE(rig.frames(1s).empty());
        EXPECT_TRUE(rig.logged("not logged in"));
        EXPECT_EQ(rig.logins, 0);
    }
}

TEST(SiteSimulator, TwentyCharacterNameWithoutTerminatorLogsIn) {
    SiteConfig config = SiteRig::makeConfig();
    config.user = std::string(20, 'u');
    config.password = std::string(20, 'p');
    SiteRig rig(config);
    rig.site->beginSession(false, rig.now);
    rig.viewer(Login, loginRecord(config.user, config.password));
    EXPECT_EQ(rig.take().at(0).type, ChannelList);
}

TEST(SiteSimulator, CallPlacedBySiteUsesAnsweringCredentialsAndSendsChannels) {
    SiteConfig config = SiteRig::makeConfig();
    config.callChannels = {1, 3};
    SiteRig rig(config);
    rig.site->beginSession(true, rig.now);
    rig.viewer(Login, loginRecord("alice", "secret"));
    EXPECT_EQ(rig.take().at(0).type, LoginRejected);
    rig.viewer(Login, loginRecord("Rav-Lookout", "Q-Lynx", 1));
    rig.viewerValue(SiteInfoRequest, 0);
    const auto packets = rig.take();
    ASSERT_EQ(packets.size(), 2u); // no prompt on a call the site placed
    EXPECT_EQ(packets[0].type, ChannelList);
    EXPECT_EQ(packets[1].type, SiteInfo);
    ASSERT_EQ(packets[1].payload.size(), 300u);
    const std::span<const uint8_t> record(packets[1].payload);
    EXPECT_EQ(fieldText(record.subspan(0, 30)), "Riverside Depot");
    EXPECT_EQ(fieldText(record.subspan(30, 30)), "555-0142");
    EXPECT_EQ(fieldText(record.subspan(60, 120)), "12 Canal Street, Riverside");
    EXPECT_EQ(fieldText(record.subspan(180, 120)), "Simulated site");
    EXPECT_EQ(rig.site->streamingChannels(), (std::vector<int32_t>{1, 3}));
    const auto frames = rig.frames(0ms);
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(frames[0].param1, 1);
    EXPECT_EQ(frames[1].param1, 3);
}

TEST(SiteSimulator, OpenedChannelsStreamFramesWithTheirKeysAndSizes) {
    SiteRig rig;
    rig.site->beginSession(false, rig.now);
    rig.viewer(Login, loginRecord("alice", "secret", 1));
    rig.take();
    rig.viewerValue(OpenChannel, 2);
    rig.viewerValue(OpenChannel, 3);
    rig.viewerValue(OpenChannel, 2); // already open: no second stream
    rig.viewerValue(OpenChannel, 9); // not a channel of this site
    const auto frames = rig.frames(0ms);
    ASSERT_EQ(frames.size(), 2u);
    struct Want {
        int32_t channel, key, width, height;
        uint32_t fourcc;
    };
    const Want wants[] = {{2, 77, 320, 240, 0}, {3, 1003, 176, 144, makeFourCC('M', 'J', 'P', 'G')}};
    for (size_t i = 0; i < 2; ++i) {
        EXPECT_EQ(frames[i].type, VideoFrame);
        EXPECT_EQ(frames[i].param1, wants[i].channel);
        EXPECT_EQ(frames[i].param2, wants[i].key);
        const PackedDibView dib(frames[i].payload);
        ASSERT_TRUE(dib.valid());
        EXPECT_EQ(dib.header().biWidth, wants[i].width);
        EXPECT_EQ(dib.header().biHeight, wants[i].height);
        EXPECT_EQ(dib.header().biCompression, wants[i].fourcc);
        EXPECT_EQ(dib.whole().size(), frames[i].payload.size());
    }
    EXPECT_TRUE(rig.logged("open of an unknown channel"));
    // Closing stops the stream; the other goes on.
    rig.viewerValue(CloseChannel, 2);
    const auto later = rig.frames(100ms);
    ASSERT_EQ(later.size(), 1u);
    EXPECT_EQ(later[0].param1, 3);
}

TEST(SiteSimulator, FrameRateAndBacklogPaceTheStream) {
    SiteRig rig;
    rig.site->beginSession(false, rig.now);
    rig.viewer(Login, loginRecord("alice", "secret"));
    rig.viewerValue(OpenChannel, 1);
    rig.take();
    EXPECT_EQ(rig.frames(0ms).size(), 1u);
    EXPECT_EQ(rig.frames(50ms).size(), 0u);
    EXPECT_EQ(rig.site->nextDeadline(0), rig.now + 50ms);
    EXPECT_EQ(rig.frames(50ms).size(), 1u);
    // A full link holds frames back without a deadline; once it drains, one
    // frame goes out, not the backlog of missed ones.
    EXPECT_EQ(rig.frames(500ms, 4096).size(), 0u);
    EXPECT_FALSE(rig.site->nextDeadline(4096));
    EXPECT_EQ(rig.frames(0ms).size(), 1u);
    EXPECT_EQ(rig.frames(0ms).size(), 0u);
}

TEST(SiteSimulator, FixedChannelTakesTheLinkUntilReleased) {
    SiteRig rig;
    rig.site->beginSession(false, rig.now);
    rig.viewer(Login, loginRecord("alice", "secret"));
    rig.viewerValue(OpenChannel, 1);
    rig.viewerValue(OpenChannel, 2);
    rig.take();
    rig.viewerValue(FixChannel, 2);
    EXPECT_EQ(rig.site->fixedChannel(), 2);
    auto frames = rig.frames(0ms);
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].param1, 2);
    rig.viewerValue(FixChannel, 2);
    EXPECT_FALSE(rig.site->fixedChannel());
    EXPECT_EQ(rig.frames(100ms).size(), 2u);
}

TEST(SiteSimulator, ScriptedEvents) {
    SiteRig rig;
    rig.site->beginSession(false, rig.now);
    rig.viewer(Login, loginRecord("alice", "secret"));
    rig.viewerValue(OpenChannel, 2);
    rig.take();
    EXPECT_TRUE(rig.site->closeChannelBySite(2));
    EXPECT_FALSE(rig.site->closeChannelBySite(5));
    rig.site->sendBare(HangUpRequest);
    rig.site->sendBare(7);
    const auto packets = rig.take();
    ASSERT_EQ(packets.size(), 3u);
    EXPECT_EQ(packets[0].type, ChannelClosed);
    EXPECT_EQ(packets[0].param1, 2);
    EXPECT_EQ(packets[0].param2, 77);
    EXPECT_EQ(packets[1].type, HangUpRequest);
    EXPECT_EQ(packets[2].type, 7);
    EXPECT_TRUE(rig.site->streamingChannels().empty());
}

TEST(SiteSimulator, RemoteControlAndKeepAliveAreLogged) {
    SiteRig rig;
    rig.site->beginSession(false, rig.now);
    rig.viewer(Login, loginRecord("alice", "secret"));
    rig.take();
    const std::string command = "zb-hsr";
    rig.viewer(RunProgram, std::span(reinterpret_cast<const uint8_t*>(command.c_str()), command.size() + 1));
    rig.viewer(RebootSite);
    rig.viewer(CloseSite);
    rig.viewerValue(KeepAlive, 0);
    rig.viewer(42);
    EXPECT_TRUE(rig.take().empty());
    EXPECT_TRUE(rig.logged("\"name\":\"RunProgram\",\"len\":7,\"value\":"));
    EXPECT_TRUE(rig.logged("\"text\":\"zb-hsr\""));
    EXPECT_TRUE(rig.logged("\"name\":\"RebootSite\""));
    EXPECT_TRUE(rig.logged("\"name\":\"CloseSite\""));
    EXPECT_TRUE(rig.logged("\"name\":\"KeepAlive\""));
    EXPECT_TRUE(rig.logged("\"type\":42,\"name\":\"unknown\""));
}

TEST(SiteSimulator, ChannelDescriptionParsing) {
    std::string error;
    const auto channel = ChannelConfig::parse("12:Back door,codec=cvid,key=500,fps=0.5,size=352x288", error);
    ASSERT_TRUE(channel) << error;
    EXPECT_EQ(channel->number, 12);
    EXPECT_EQ(channel->name, "Back door");
    EXPECT_EQ(channel->codec, Codec::Cinepak);
    EXPECT_EQ(channel->key(), 500);
    EXPECT_DOUBLE_EQ(channel->fps, 0.5);
    EXPECT_EQ(channel->width, 352);
    EXPECT_EQ(ChannelConfig::parse("4:Plain", error)->key(), 1004);
    for (const char* bad :
         {"Gate", "x:Gate", "1:Gate,codec=h264", "1:Gate,size=100x100", "1:Gate,fps=0", "1:Gate,key"})
        EXPECT_FALSE(ChannelConfig::parse(bad, error)) << bad;
}
