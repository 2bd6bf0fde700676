#pragma once

// The video recorder at the far end of the call: it checks the login, sends
// its channel list and a channel prompt (or opens channels by itself), streams
// the open channels as video frames at their frame rates, answers the site
// record request, and logs everything the viewer sends.
//
// On a call the site placed itself, it expects the answering credentials
// ("Rav-Lookout" / "Q-Lynx") and sends its channels without being asked.
//
// Like the modem, this is a pure state machine driven by the caller: bytes and
// the current time go in, packets come out through a hook. Frames are produced
// only while fewer than `lowWater` bytes wait to be sent, so a slow link
// lowers the frame rate instead of piling up a queue, as on a real site.

#include "tools/sitesim/JsonLog.h"
#include "tools/sitesim/ModemEmulator.h"
#include "tools/sitesim/SiteFraming.h"
#include "tools/sitesim/TestPatternEncoder.h"

#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace sitesim {

struct ChannelConfig {
    int32_t number = 1;
    std::string name;
    Codec codec = Codec::Mjpeg;
    int32_t streamKey = 0; // 0: 1000 + number
    double fps = 2.0;
    int width = 0; // 0: the size the login asked for
    int height = 0;

    int32_t key() const { return streamKey != 0 ? streamKey : 1000 + number; }

    // "NUM:NAME[,codec=mjpg|cvid|msvc|rgb][,key=K][,fps=F][,size=WxH]".
    static std::optional<ChannelConfig> parse(std::string_view description, std::string& error);
};

struct SiteRecord {
    std::string name = "Riverside Depot";
    std::string tel = "555-0142";
    std::string address = "12 Canal Street, Riverside";
    std::string memo = "Simulated site";

    // The 300-byte record: Name 30, Tel 30, Address 120, Memo 120 bytes.
    std::vector<uint8_t> encode() const;
};

struct SiteConfig {
    std::string user = "demo";
    std::string password = "demo";
    std::string answerUser = "Rav-Lookout";
    std::string answerPassword = "Q-Lynx";
    std::vector<ChannelConfig> channels;
    int32_t permissions = 3;
    bool prompt = true;
    std::vector<int32_t> autoOpen;     // opened after a login on a call the viewer placed
    std::vector<int32_t> callChannels; // sent on a call the site placed; empty: all
    int width = 0;                     // overrides the login's image size when set
    int height = 0;
    // Delta-coded formats send a key frame every `gop` frames (1: all key frames).
    int gop = 1;
    static constexpr int kDemoGop = 10;
    SiteRecord record;
    size_t lowWater = 1024;

    static std::vector<ChannelConfig> defaultChannels();
};

class SiteSimulator {
public:
    struct Hooks {
        std::function<void(std::vector<uint8_t>)> send;
        std::function<void(const JsonObject&)> log;
        std::function<void()> loginAccepted;
    };

    SiteSimulator(SiteConfig config, Hooks hooks);
    ~SiteSimulator();

    void beginSession(bool placedBySite, TimePoint now);
    void endSession();
    bool active() const { return m_active; }
    bool loggedIn() const { return m_loggedIn; }
    bool placedBySite() const { return m_placedBySite; }

    void fromViewer(std::span<const uint8_t> bytes, TimePoint now);
    // Sends the frames that are due while the backlog allows.
    void tick(TimePoint now, size_t backlogBytes);
    std::optional<TimePoint> nextDeadline(size_t backlogBytes) const;

    // Scripted events; false when the channel is not configured.
    bool openStream(int32_t channel, TimePoint now);
    bool closeStream(int32_t channel);
    bool closeChannelBySite(int32_t channel);
    void sendChannelList();
    void sendSiteInfo();
    void sendBare(uint8_t type); // a packet with zero parameters and no payload
    // The streaming channel's next frame with its last bytes replaced by
    // `text` (for receivers that look for text in the stream); false when the
    // channel is not streaming or its frame is shorter than the text.
    bool sendFrameEndingWith(int32_t channel, std::string_view text);

    std::vector<int32_t> streamingChannels() const;
    std::optional<int32_t> fixedChannel() const { return m_fixed; }

private:
    struct Stream;

    void handle(const Packet& packet, TimePoint now);
    void handleLogin(const Packet& packet, TimePoint now);
    void send(uint8_t type, int32_t param1, int32_t param2, std::span<const uint8_t> payload = {});
    const ChannelConfig* findChannel(int32_t number) const;
    bool eligible(const Stream& stream) const;
    void log(JsonObject entry);

    SiteConfig m_config;
    Hooks m_hooks;
    PacketReader m_reader{Layout::Viewer, 65536};
    bool m_active = false;
    bool m_placedBySite = false;
    bool m_loggedIn = false;
    int m_imageSize = 1;
    int m_quality = 30;
    std::vector<std::unique_ptr<Stream>> m_streams;
    std::optional<int32_t> m_fixed;
};

} // namespace sitesim
