#include "tools/sitesim/SiteSimulator.h"

#include <algorithm>
#include <charconv>
#include <cstring>

namespace sitesim {

namespace {

constexpr size_t kLoginSize = 48;
constexpr size_t kNameField = 20;
constexpr size_t kEntrySize = 36;
constexpr size_t kEntryName = 32;

// Copies `text` into a zero-filled field of `width` bytes, keeping a NUL.
void putText(uint8_t* field, size_t width, const std::string& text) {
    std::memcpy(field, text.data(), std::min(text.size(), width - 1));
}

template <typename T> bool parseNumber(std::string_view text, T& value) {
    const auto* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    return ec == std::errc() && ptr == end;
}

} // namespace

struct SiteSimulator::Stream {
    ChannelConfig channel;
    std::unique_ptr<TestPatternEncoder> encoder;
    TimePoint nextDue;
    int64_t index = 0;
    bool warnedSize = false;
};

std::optional<ChannelConfig> ChannelConfig::parse(std::string_view description, std::string& error) {
    ChannelConfig channel;
    const auto colon = description.find(':');
    if (colon == std::string_view::npos || !parseNumber(description.substr(0, colon), channel.number)) {
        error = "channel '" + std::string(description) + "': expected NUM:NAME";
        return std::nullopt;
    }
    std::string_view rest = description.substr(colon + 1);
    const auto comma = rest.find(',');
    channel.name = std::string(rest.substr(0, comma));
    rest = comma == std::string_view::npos ? std::string_view() : rest.substr(comma + 1);
    while (!rest.empty()) {
        const auto next = rest.find(',');
        const std::string_view item = rest.substr(0, next);
        rest = next == std::string_view::npos ? std::string_view() : rest.substr(next + 1);
        const auto eq = item.find('=');
        const std::string_view key = item.substr(0, eq);
        const std::string_view value =
            eq == std::string_view::npos ? std::string_view() : item.substr(eq + 1);
        bool ok = eq != std::string_view::npos;
        if (ok && key == "codec") {
            const auto codec = parseCodec(value);
            ok = codec.has_value();
            if (ok)
                channel.codec = *codec;
        } else if (ok && key == "key") {
            ok = parseNumber(value, channel.streamKey) && channel.streamKey != 0;
        } else if (ok && key == "fps") {
            ok = parseNumber(value, channel.fps) && channel.fps > 0 && channel.fps <= 60;
        } else if (ok && key == "size") {
            const auto x = value.find('x');
            ok = x != std::string_view::npos && parseNumber(value.substr(0, x), channel.width) &&
                 parseNumber(value.substr(x + 1), channel.height) &&
                 isSupportedSize(channel.width, channel.height);
        } else {
            ok = false;
        }
        if (!ok) {
            error = "channel '" + std::string(description) + "': bad item '" + std::string(item) + "'";
            return std::nullopt;
        }
    }
    return channel;
}

std::vector<uint8_t> SiteRecord::encode() const {
    std::vector<uint8_t> record(300, 0);
    putText(record.data(), 30, name);
    putText(record.data() + 30, 30, tel);
    putText(record.data() + 60, 120, address);
    putText(record.data() + 180, 120, memo);
    return record;
}

std::vector<ChannelConfig> SiteConfig::defaultChannels() {
    std::vector<ChannelConfig> channels(4);
    channels[0] = {1, "Front gate", Codec::Mjpeg, 0, 2.0, 0, 0};
    channels[1] = {2, "Car park", Codec::Cinepak, 0, 2.0, 0, 0};
    channels[2] = {3, "Warehouse", Codec::MsVideo1, 0, 2.0, 0, 0};
    channels[3] = {4, "Reception", Codec::Mjpeg, 0, 2.0, 0, 0};
    return channels;
}

SiteSimulator::SiteSimulator(SiteConfig config, Hooks hooks)
    : m_config(std::move(config))
    , m_hooks(std::move(hooks)) {}

SiteSimulator::~SiteSimulator() = default;

void SiteSimulator::log(JsonObject entry) {
    if (m_hooks.log)
        m_hooks.log(entry);
}

void SiteSimulator::beginSession(bool placedBySite, TimePoint) {
    endSession();
    m_active = true;
    m_placedBySite = placedBySite;
    log(JsonObject("session").add("action", "begin").add("placedBySite", placedBySite));
}

void SiteSimulator::endSession() {
    if (m_active)
        log(JsonObject("session").add("action", "end"));
    m_active = false;
    m_loggedIn = false;
    m_streams.clear();
    m_fixed.reset();
    m_reader.clear();
}

void SiteSimulator::send(uint8_t type, int32_t param1, int32_t param2, std::span<const uint8_t> payload) {
    if (!m_active)
        return;
    log(JsonObject("sent")
            .add("type", int32_t(type))
            .add("name", siteTypeName(type))
            .add("param1", param1)
            .add("param2", param2)
            .add("len", payload.size()));
    if (m_hooks.send)
        m_hooks.send(encodeSitePacket(type, param1, param2, payload));
}

void SiteSimulator::fromViewer(std::span<const uint8_t> bytes, TimePoint now) {
    if (!m_active)
        return;
    m_reader.feed(bytes);
    while (auto packet = m_reader.next())
        handle(*packet, now);
}

const ChannelConfig* SiteSimulator::findChannel(int32_t number) const {
    const auto it = std::find_if(m_config.channels.begin(), m_config.channels.end(),
                                 [number](const ChannelConfig& c) { return c.number == number; });
    return it == m_config.channels.end() ? nullptr : &*it;
}

void SiteSimulator::handle(const Packet& packet, TimePoint now) {
    JsonObject entry("packet");
    entry.add("type", int32_t(packet.type))
        .add("name", viewerTypeName(packet.type))
        .add("len", packet.payload.size());
    if (packet.type == Login) {
        handleLogin(packet, now);
        return;
    }
    const bool hasValue = packet.payload.size() >= 4;
    const int32_t value = hasValue ? readLe32(packet.payload.data()) : 0;
    if (hasValue)
        entry.add("value", value);
    if (packet.type == RunProgram)
        entry.add("text", fieldText(packet.payload));
    if (!m_loggedIn) {
        log(entry.add("ignored", "not logged in"));
        return;
    }
    log(entry);
    switch (packet.type) {
    case OpenChannel:
        if (!hasValue || !findChannel(value))
            log(JsonObject("warning").add("text", "open of an unknown channel").add("channel", value));
        else
            openStream(value, now);
        break;
    case CloseChannel:
        if (hasValue)
            closeStream(value);
        break;
    case FixChannel:
        if (hasValue) {
            m_fixed = m_fixed == value ? std::nullopt : std::optional<int32_t>(value);
            log(JsonObject("fixed").add("channel", m_fixed.value_or(0)));
        }
        break;
    case SiteInfoRequest:
        sendSiteInfo();
        break;
    default: // KeepAlive, CloseSite, RebootSite, RunProgram and unknown types: logged only
        break;
    }
}

void SiteSimulator::handleLogin(const Packet& packet, TimePoint now) {
    JsonObject entry("packet");
    entry.add("type", int32_t(Login)).add("name", "Login").add("len", packet.payload.size());
    if (packet.payload.size() < kLoginSize) {
        log(entry.add("accepted", false).add("reason", "short login record"));
        send(LoginRejected, 0, 0);
        return;
    }
    const std::span<const uint8_t> record(packet.payload);
    const std::string user = fieldText(record.subspan(0, kNameField));
    const std::string password = fieldText(record.subspan(kNameField, kNameField));
    const int32_t imageSize = readLe32(record.data() + 40);
    const int32_t quality = readLe32(record.data() + 44);
    const std::string& wantUser = m_placedBySite ? m_config.answerUser : m_config.user;
    const std::string& wantPassword = m_placedBySite ? m_config.answerPassword : m_config.password;
    const bool accepted = user == wantUser && password == wantPassword;
    log(entry.add("user", user)
            .add("password", password)
            .add("imageSize", imageSize)
            .add("quality", quality)
            .add("accepted", accepted));
    if (!accepted) {
        m_loggedIn = false;
        m_streams.clear();
        send(LoginRejected, 0, 0);
        return;
    }
    const bool first = !m_loggedIn;
    m_loggedIn = true;
    m_imageSize = imageSize;
    m_quality = std::clamp(quality, 0, 100);
    sendChannelList();
    if (m_placedBySite) {
        for (const ChannelConfig& channel : m_config.channels) {
            const auto& wanted = m_config.callChannels;
            if (wanted.empty() || std::find(wanted.begin(), wanted.end(), channel.number) != wanted.end())
                openStream(channel.number, now);
        }
    } else {
        if (m_config.prompt && m_streams.empty())
            send(ChannelPrompt, 0, 0);
        for (const int32_t channel : m_config.autoOpen)
            openStream(channel, now);
    }
    if (first && m_hooks.loginAccepted)
        m_hooks.loginAccepted();
}

void SiteSimulator::sendChannelList() {
    std::vector<uint8_t> payload(kEntrySize * m_config.channels.size(), 0);
    for (size_t i = 0; i < m_config.channels.size(); ++i) {
        uint8_t* entry = payload.data() + i * kEntrySize;
        writeLe32(entry, m_config.channels[i].number);
        putText(entry + 4, kEntryName, m_config.channels[i].name);
    }
    send(ChannelList, int32_t(m_config.channels.size()), m_config.permissions, payload);
}

void SiteSimulator::sendSiteInfo() {
    send(SiteInfo, 0, 0, m_config.record.encode());
}

void SiteSimulator::sendBare(uint8_t type) {
    send(type, 0, 0);
}

bool SiteSimulator::openStream(int32_t number, TimePoint now) {
    const ChannelConfig* channel = findChannel(number);
    if (!channel)
        return false;
    if (!m_active)
        return true;
    const bool open = std::any_of(m_streams.begin(), m_streams.end(),
                                  [number](const auto& s) { return s->channel.number == number; });
    if (open)
        return true;
    int width = m_imageSize == 1 ? 320 : 160;
    int height = m_imageSize == 1 ? 240 : 120;
    if (m_config.width > 0) {
        width = m_config.width;
        height = m_config.height;
    }
    if (channel->width > 0) {
        width = channel->width;
        height = channel->height;
    }
    std::string error;
    auto encoder = TestPatternEncoder::create(channel->codec, width, height, error, m_config.gop);
    if (!encoder) {
        log(JsonObject("error").add("text", error).add("channel", number));
        return true;
    }
    auto stream = std::make_unique<Stream>();
    stream->channel = *channel;
    stream->encoder = std::move(encoder);
    stream->nextDue = now;
    m_streams.push_back(std::move(stream));
    log(JsonObject("stream")
            .add("action", "open")
            .add("channel", number)
            .add("key", channel->key())
            .add("codec", codecName(channel->codec))
            .add("width", width)
            .add("height", height));
    return true;
}

bool SiteSimulator::closeStream(int32_t number) {
    const auto it = std::find_if(m_streams.begin(), m_streams.end(),
                                 [number](const auto& s) { return s->channel.number == number; });
    if (it == m_streams.end())
        return findChannel(number) != nullptr;
    m_streams.erase(it);
    log(JsonObject("stream").add("action", "close").add("channel", number));
    return true;
}

bool SiteSimulator::closeChannelBySite(int32_t number) {
    const ChannelConfig* channel = findChannel(number);
    if (!channel)
        return false;
    send(ChannelClosed, number, channel->key());
    closeStream(number);
    return true;
}

std::vector<int32_t> SiteSimulator::streamingChannels() const {
    std::vector<int32_t> channels;
    for (const auto& s : m_streams)
        channels.push_back(s->channel.number);
    return channels;
}

bool SiteSimulator::eligible(const Stream& stream) const {
    if (!m_fixed || stream.channel.number == *m_fixed)
        return true;
    // A fixed channel takes the whole link, but only while it is streaming.
    return std::none_of(m_streams.begin(), m_streams.end(),
                        [this](const auto& s) { return s->channel.number == *m_fixed; });
}

void SiteSimulator::tick(TimePoint now, size_t backlogBytes) {
    if (!m_active || !m_loggedIn)
        return;
    while (backlogBytes < m_config.lowWater) {
        Stream* due = nullptr;
        for (const auto& s : m_streams) {
            if (eligible(*s) && s->nextDue <= now && (!due || s->nextDue < due->nextDue))
                due = s.get();
        }
        if (!due)
            return;
        const auto interval = std::chrono::duration_cast<Clock::duration>(
            std::chrono::duration<double>(1.0 / due->channel.fps));
        // After a stall (slow link), the next frame is one interval away, not a burst.
        due->nextDue = due->nextDue + interval > now ? due->nextDue + interval : now + interval;
        auto dib = due->encoder->encode(due->index++, due->channel.number, m_quality);
        if (!dib) {
            log(JsonObject("error").add("text", "encoding failed").add("channel", due->channel.number));
            continue;
        }
        if (dib->size() > kMaxSitePayload && !due->warnedSize) {
            due->warnedSize = true;
            log(JsonObject("warning")
                    .add("text", "frame larger than the viewer's receive buffer")
                    .add("channel", due->channel.number)
                    .add("len", dib->size()));
        }
        backlogBytes += dib->size() + kSiteHeaderSize + kTrailerSize;
        send(VideoFrame, due->channel.number, due->channel.key(), *dib);
    }
}

bool SiteSimulator::sendFrameEndingWith(int32_t channel, std::string_view text) {
    Stream* stream = nullptr;
    for (const auto& s : m_streams)
        if (s->channel.number == channel)
            stream = s.get();
    if (!m_active || !stream)
        return false;
    auto dib = stream->encoder->encode(stream->index++, channel, m_quality);
    if (!dib || dib->size() < text.size())
        return false;
    std::copy(text.begin(), text.end(), dib->end() - std::ptrdiff_t(text.size()));
    send(VideoFrame, channel, stream->channel.key(), *dib);
    return true;
}

std::optional<TimePoint> SiteSimulator::nextDeadline(size_t backlogBytes) const {
    if (!m_active || !m_loggedIn || backlogBytes >= m_config.lowWater)
        return std::nullopt;
    std::optional<TimePoint> next;
    for (const auto& s : m_streams) {
        if (eligible(*s) && (!next || s->nextDue < *next))
            next = s->nextDue;
    }
    return next;
}

} // namespace sitesim
