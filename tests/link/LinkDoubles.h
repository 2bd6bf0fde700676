#pragma once

// Test doubles for the connection's interfaces, and packet builders. The
// doubles record geometry and calls so tests can check placement and routing
// without widgets.

#include "link/LinkInterfaces.h"
#include "link/Protocol.h"

#include <QStringList>

#include <cstring>
#include <functional>
#include <map>
#include <string>
#include <vector>

// What happened to one channel window; outlives the window's handle.
struct WindowLog {
    ChannelWindowInfo info;
    int streamWidth = 0;
    QRect geometry;
    std::vector<bool> bars;
    bool recording = false;
    int recorded = 0;
    int delivered = 0;
    std::vector<std::vector<uint8_t>> frames; // as delivered, in order
    std::vector<std::vector<uint8_t>> drawn;
    bool closedBySite = false;
    std::vector<CommandId> commands;
    size_t drawnAtFirstCommand = 0;
    bool closed = false;
};

class FakeWindow final : public ChannelWindowHandle {
public:
    explicit FakeWindow(std::shared_ptr<WindowLog> log)
        : m(std::move(log)) {}
    void setStreamFormat(const BitmapInfoHeader& h) override { m->streamWidth = h.biWidth; }
    void sizeForPicture(int w, int h) override { m->geometry.setSize({w, h}); }
    void moveOnTop(QPoint topLeft) override { m->geometry.moveTopLeft(topLeft); }
    void setCell(const QRect& cell) override { m->geometry = cell; }
    void applyBars(bool shown) override { m->bars.push_back(shown); }
    bool isRecording() const override { return m->recording; }
    void RecordFrame(std::span<const uint8_t>) override { ++m->recorded; }
    void deliverFrame(std::span<const uint8_t> frame) override {
        ++m->delivered;
        m->frames.emplace_back(frame.begin(), frame.end());
    }
    void draw(std::span<const uint8_t> image) override { m->drawn.emplace_back(image.begin(), image.end()); }
    void markClosedBySite() override { m->closedBySite = true; }
    void onPostedCommand(CommandId command) override {
        if (m->commands.empty())
            m->drawnAtFirstCommand = m->drawn.size();
        m->commands.push_back(command);
    }
    void close() override { m->closed = true; }

private:
    std::shared_ptr<WindowLog> m;
};

// The main window, its view area and status line, and the application store.
class FakeHost final : public MainWindowCommands, public ViewArea, public StatusLine, public ConnectionStore {
public:
    QSize size{1000, 600};
    std::vector<std::shared_ptr<WindowLog>> windows;
    std::vector<CommandId> commands;
    bool maximized = false;
    bool bars = true;
    int alarms = 0;
    QStringList status;
    LoginValues login{"alice", "secret", 1, 30};
    bool videoArrange = false;
    std::vector<std::array<uint8_t, Wire::kSiteRecordSize>> events;

    QSize clientSize() const override { return size; }
    std::unique_ptr<ChannelWindowHandle> CreateChannelWindow(const ChannelWindowInfo& info) override {
        windows.push_back(std::make_shared<WindowLog>());
        windows.back()->info = info;
        return std::make_unique<FakeWindow>(windows.back());
    }
    // Runs inside a posted command, as a modal dialog's event loop would.
    std::function<void(CommandId)> whileRunning;
    void onPostedCommand(CommandId command) override {
        commands.push_back(command);
        if (whileRunning)
            whileRunning(command);
    }
    bool isMaximized() const override { return maximized; }
    void maximize() override { maximized = true; }
    bool barsShown() const override { return bars; }
    void startAlarm() override { ++alarms; }
    void SetStatusText(const QString& text) override { status.append(text); }
    LoginValues loginValues() const override { return login; }
    bool videoArrangeOn() const override { return videoArrange; }
    bool AddEventRecord(const std::array<uint8_t, Wire::kSiteRecordSize>& record) override {
        events.push_back(record);
        return true;
    }
};

// Decodes a frame into the marker image "DEC" and the number of frames this
// instance decoded so far, as a delta decoder's state would advance.
class FakeDecompressor final : public VideoDecompressor {
public:
    FakeDecompressor(bool accepts, bool decodes)
        : m_accepts(accepts)
        , m_decodes(decodes) {}
    bool canDecompress(const BitmapInfoHeader&) const override { return m_accepts; }
    std::unique_ptr<VideoDecompressor> fresh() const override {
        return std::make_unique<FakeDecompressor>(m_accepts, m_decodes);
    }
    std::optional<std::vector<uint8_t>> decompress(std::span<const uint8_t>) override {
        if (!m_decodes)
            return std::nullopt;
        return std::vector<uint8_t>{'D', 'E', 'C', uint8_t(++m_decoded)};
    }

private:
    bool m_accepts, m_decodes;
    int m_decoded = 0;
};

class FakeDecompressorFactory final : public DecompressorFactory {
public:
    std::map<std::string, bool> handlers{{"iv50", true}}; // handlers that open, and whether they accept
    bool locates = false;
    bool decodes = true;
    QStringList calls;

    std::unique_ptr<VideoDecompressor> Open(std::string_view handler) override {
        calls.append(QString::fromLatin1(handler.data(), qsizetype(handler.size())));
        auto it = handlers.find(std::string(handler));
        return it == handlers.end() ? nullptr : std::make_unique<FakeDecompressor>(it->second, decodes);
    }
    std::unique_ptr<VideoDecompressor> locate(const BitmapInfoHeader&) override {
        calls.append("locate");
        return locates ? std::make_unique<FakeDecompressor>(true, decodes) : nullptr;
    }
};

inline std::vector<uint8_t> inbound(uint8_t type, int32_t param1 = 0, int32_t param2 = 0,
                                    const std::vector<uint8_t>& payload = {}) {
    std::vector<uint8_t> bytes(Wire::kInboundHeaderSize, 0);
    std::memcpy(bytes.data(), "TOP", 4);
    bytes[4] = type;
    writeInt32(bytes.data() + 8, param1);
    writeInt32(bytes.data() + 12, param2);
    writeInt32(bytes.data() + 16, int32_t(payload.size()));
    std::memcpy(bytes.data() + 20, "EOF", 4);
    bytes.insert(bytes.end(), payload.begin(), payload.end());
    bytes.insert(bytes.end(), {'E', 'N', 'D', 0, 'E', 'O', 'F', 0});
    return bytes;
}
inline std::vector<uint8_t> inbound(InboundType type, int32_t param1 = 0, int32_t param2 = 0,
                                    const std::vector<uint8_t>& payload = {}) {
    return inbound(uint8_t(type), param1, param2, payload);
}

// A packed DIB frame payload with `imageBytes` bytes of image after the header.
inline std::vector<uint8_t> framePayload(int width, int height, size_t imageBytes = 16) {
    BitmapInfoHeader h;
    h.biWidth = width;
    h.biHeight = height;
    h.biBitCount = 24;
    h.biCompression = makeFourCC('I', 'V', '5', '0');
    h.biSizeImage = uint32_t(imageBytes);
    std::vector<uint8_t> bytes(BitmapInfoHeader::kSize + imageBytes, 0x5A);
    h.write(bytes.data());
    return bytes;
}

inline std::vector<uint8_t> concat(std::initializer_list<std::vector<uint8_t>> parts) {
    std::vector<uint8_t> out;
    for (const auto& p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

struct OutboundPacket {
    uint8_t type = 0;
    std::vector<uint8_t> payload;
    int32_t value() const { return payload.size() == 4 ? readInt32(payload.data()) : -999; }
};

// Splits what the viewer sent into packets, up to the first malformed one.
inline std::vector<OutboundPacket> splitOutbound(const std::vector<uint8_t>& bytes) {
    std::vector<OutboundPacket> packets;
    for (size_t at = 0; at + 24 <= bytes.size();) {
        const uint8_t* h = bytes.data() + at;
        const int32_t n = readInt32(h + 8);
        const size_t end = at + 16 + size_t(n);
        if (std::memcmp(h, "TOP", 4) || std::memcmp(h + 12, "EOF", 4) || n < 0 || end + 8 > bytes.size() ||
            std::memcmp(bytes.data() + end, "END\0EOF", 8))
            break;
        packets.push_back({h[4], std::vector<uint8_t>(h + 16, bytes.data() + end)});
        at = end + 8;
    }
    return packets;
}

class RecordingQueue final : public PacketQueue {
public:
    std::vector<std::vector<uint8_t>> blocks;
    void queueBlock(std::vector<uint8_t> block) override { blocks.push_back(std::move(block)); }
    std::vector<uint8_t> bytes() const {
        std::vector<uint8_t> out;
        for (const auto& b : blocks)
            out.insert(out.end(), b.begin(), b.end());
        return out;
    }
};
