#pragma once

// Test doubles for the connection's interfaces, and packet builders. The
// doubles record geometry and calls so tests can check placement and routing
// without widgets.

#include "LinkInterfaces.h"
#include "Protocol.h"

#include <QStringList>

#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

// What happened to one channel window; outlives the window's handle.
struct WindowLog {
    ChannelWindowInfo info;
    BitmapInfoHeader streamFormat;
    QSize picture;
    QRect geometry;
    bool onTop = false;
    std::vector<bool> barsApplied;
    bool recording = false;
    int recordedFrames = 0;
    int deliveredFrames = 0;
    std::vector<std::vector<uint8_t>> drawn;
    bool closedBySite = false;
    std::vector<int> postedCommands;
    int drawnWhenFirstCommandArrived = -1;
    bool closed = false;
};

class FakeWindow final : public ChannelWindowHandle {
public:
    explicit FakeWindow(std::shared_ptr<WindowLog> log)
        : m_log(std::move(log)) {}
    void SetStreamFormat(const BitmapInfoHeader& header) override { m_log->streamFormat = header; }
    void SizeForPicture(int width, int height) override {
        m_log->picture = QSize(width, height);
        m_log->geometry.setSize(QSize(width, height));
    }
    void MoveOnTop(QPoint topLeft) override {
        m_log->geometry.moveTopLeft(topLeft);
        m_log->onTop = true;
    }
    void SetCell(const QRect& cell) override { m_log->geometry = cell; }
    void ApplyBars(bool shown) override { m_log->barsApplied.push_back(shown); }
    bool IsRecording() const override { return m_log->recording; }
    void RecordFrame(std::span<const uint8_t>) override { ++m_log->recordedFrames; }
    void DeliverFrame(std::span<const uint8_t>, const std::shared_ptr<VideoDecompressor>& d) override {
        if (d)
            ++m_log->deliveredFrames;
    }
    void Draw(std::span<const uint8_t> image) override {
        m_log->drawn.emplace_back(image.begin(), image.end());
    }
    void MarkClosedBySite() override { m_log->closedBySite = true; }
    void OnPostedCommand(int command) override {
        if (m_log->postedCommands.empty())
            m_log->drawnWhenFirstCommandArrived = int(m_log->drawn.size());
        m_log->postedCommands.push_back(command);
    }
    void Close() override { m_log->closed = true; }

private:
    std::shared_ptr<WindowLog> m_log;
};

class FakeViewArea final : public ViewArea {
public:
    QSize size{1000, 600};
    bool failCreation = false;
    std::vector<std::shared_ptr<WindowLog>> windows;

    QSize ClientSize() const override { return size; }
    std::unique_ptr<ChannelWindowHandle> CreateChannelWindow(const ChannelWindowInfo& info) override {
        if (failCreation)
            return nullptr;
        auto log = std::make_shared<WindowLog>();
        log->info = info;
        windows.push_back(log);
        return std::make_unique<FakeWindow>(log);
    }
};

class FakeStatusLine final : public StatusLine {
public:
    QStringList texts;
    void SetStatusText(const QString& text) override { texts.append(text); }
    QString last() const { return texts.isEmpty() ? QString() : texts.last(); }
};

class FakeMainWindow final : public MainWindowCommands {
public:
    std::vector<int> commands;
    bool maximized = false;
    int maximizeCalls = 0;
    bool bars = true;
    int alarms = 0;

    void OnPostedCommand(int command) override { commands.push_back(command); }
    bool IsMaximized() const override { return maximized; }
    void Maximize() override {
        maximized = true;
        ++maximizeCalls;
    }
    bool BarsShown() const override { return bars; }
    void StartAlarm() override { ++alarms; }
};

class FakeStore final : public ConnectionStore {
public:
    LoginValues login{"alice", "secret", 1, 30};
    bool videoArrange = false;
    std::vector<std::array<uint8_t, Wire::kSiteRecordSize>> events;

    LoginValues GetLoginValues() const override { return login; }
    bool VideoArrangeOn() const override { return videoArrange; }
    bool AddEventRecord(const std::array<uint8_t, Wire::kSiteRecordSize>& record) override {
        events.push_back(record);
        return true;
    }
};

// Decodes a frame into a marker image: "DEC" followed by the frame's size.
class FakeDecompressor final : public VideoDecompressor {
public:
    explicit FakeDecompressor(bool accepts, bool decodes)
        : m_accepts(accepts)
        , m_decodes(decodes) {}
    bool canDecompress(const BitmapInfoHeader&) const override { return m_accepts; }
    std::optional<std::vector<uint8_t>> decompress(std::span<const uint8_t> packedDib) override {
        if (!m_decodes)
            return std::nullopt;
        std::vector<uint8_t> image = {'D', 'E', 'C', uint8_t(packedDib.size())};
        return image;
    }

private:
    bool m_accepts;
    bool m_decodes;
};

class FakeDecompressorFactory final : public DecompressorFactory {
public:
    // Handlers that open, and whether each accepts frames.
    std::map<std::string, bool> handlers{{"iv50", true}};
    bool locates = false;
    bool decodes = true;
    QStringList calls;

    std::unique_ptr<VideoDecompressor> Open(std::string_view handler) override {
        calls.append(QString::fromLatin1(handler.data(), qsizetype(handler.size())));
        auto it = handlers.find(std::string(handler));
        if (it == handlers.end())
            return nullptr;
        return std::make_unique<FakeDecompressor>(it->second, decodes);
    }
    std::unique_ptr<VideoDecompressor> Locate(const BitmapInfoHeader&) override {
        calls.append(QStringLiteral("locate"));
        return locates ? std::make_unique<FakeDecompressor>(true, decodes) : nullptr;
    }
};

// An inbound packet's bytes.
inline std::vector<uint8_t> Inbound(uint8_t type, int32_t param1, int32_t param2,
                                    const std::vector<uint8_t>& payload = {}) {
    std::vector<uint8_t> bytes(Wire::kInboundHeaderSize, 0);
    std::memcpy(bytes.data(), "TOP", 4);
    bytes[4] = type;
    WriteInt32(bytes.data() + 8, param1);
    WriteInt32(bytes.data() + 12, param2);
    WriteInt32(bytes.data() + 16, int32_t(payload.size()));
    std::memcpy(bytes.data() + 20, "EOF", 4);
    bytes.insert(bytes.end(), payload.begin(), payload.end());
    for (char c : std::string_view("END\0EOF\0", 8))
        bytes.push_back(uint8_t(c));
    return bytes;
}

inline std::vector<uint8_t> Inbound(InboundType type, int32_t param1 = 0, int32_t param2 = 0,
                                    const std::vector<uint8_t>& payload = {}) {
    return Inbound(uint8_t(type), param1, param2, payload);
}

// A packed DIB frame payload with `imageBytes` bytes of image after the header.
inline std::vector<uint8_t> FramePayload(int width, int height, size_t imageBytes = 16,
                                         uint32_t fourcc = makeFourCC('I', 'V', '5', '0')) {
    BitmapInfoHeader h;
    h.biWidth = width;
    h.biHeight = height;
    h.biBitCount = 24;
    h.biCompression = fourcc;
    h.biSizeImage = uint32_t(imageBytes);
    std::vector<uint8_t> bytes(BitmapInfoHeader::kSize + imageBytes, 0x5A);
    h.write(bytes.data());
    return bytes;
}

inline std::vector<uint8_t> Concat(std::initializer_list<std::vector<uint8_t>> parts) {
    std::vector<uint8_t> out;
    for (const auto& p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

struct OutboundPacket {
    uint8_t type = 0;
    std::vector<uint8_t> payload;
};

// Splits a byte stream the viewer sent into packets; stops at the first bytes
// that are not a well-formed packet.
inline std::vector<OutboundPacket> SplitOutbound(const std::vector<uint8_t>& bytes) {
    std::vector<OutboundPacket> packets;
    size_t at = 0;
    while (at + Wire::kOutboundHeaderSize + Wire::kTrailerSize <= bytes.size()) {
        const uint8_t* h = bytes.data() + at;
        if (std::memcmp(h, "TOP", 4) != 0 || std::memcmp(h + 12, "EOF", 4) != 0)
            break;
        const int32_t n = ReadInt32(h + 8);
        const size_t end = at + Wire::kOutboundHeaderSize + size_t(n);
        if (n < 0 || end + Wire::kTrailerSize > bytes.size() ||
            std::memcmp(bytes.data() + end, "END\0EOF", 8) != 0)
            break;
        packets.push_back({h[4], std::vector<uint8_t>(h + Wire::kOutboundHeaderSize, bytes.data() + end)});
        at = end + Wire::kTrailerSize;
    }
    return packets;
}

// A PacketQueue that keeps the blocks as they were queued.
class RecordingQueue final : public PacketQueue {
public:
    std::vector<std::vector<uint8_t>> blocks;
    void QueueBlock(std::vector<uint8_t> block) override { blocks.push_back(std::move(block)); }
    std::vector<uint8_t> bytes() const {
        std::vector<uint8_t> out;
        for (const auto& b : blocks)
            out.insert(out.end(), b.begin(), b.end());
        return out;
    }
};
