#include "link/CommPort.h"

#include "app/core/ChannelTable.h"
#include "link/ChannelChoice.h"
#include "link/TileLayout.h"
#include "platform/dialogs/DialogService.h"
#include "platform/log/DialscopeLog.h"
#include "res/StringTable.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <unistd.h>

static_assert(CommPort::kMaxChannelWindows == TileLayout::kMaxWindows,
              "every open channel window has a tile");

namespace {

// Handlers tried, in order, before any decompressor that accepts the frame.
constexpr std::string_view kPreferredHandlers[] = {"iv50", "iv32"};

// Kinds of trouble a call logs once (CommPort::m_loggedThisCall).
enum LoggedTrouble : uint32_t {
    kLoggedDamagedPacket = 1u << 0,
    kLoggedMalformedFrame = 1u << 1,
    kLoggedOversizeFrame = 1u << 2,
    kLoggedUndecodableFrame = 1u << 3,
    kLoggedUnknownPacket = 1u << 4,
    kLoggedNoWindow = 1u << 5,
};

// True the first time `kind` comes up in this call; marks it as logged.
bool firstThisCall(uint32_t& logged, LoggedTrouble kind) {
    if (logged & kind)
        return false;
    logged |= kind;
    return true;
}

// The frame's compression as four characters, for the log.
std::string fourCCText(uint32_t fourCC) {
    if (fourCC == BitmapInfoHeader::kRgb)
        return "RGB";
    std::string text;
    for (int i = 0; i < 4; ++i) {
        const char c = char((fourCC >> (8 * i)) & 0xFF);
        text += c >= 0x20 && c < 0x7F ? c : '?';
    }
    return text;
}

// Main window commands the program shows once per call, however often a
// site repeats the packet behind them.
bool oncePerCall(CommandId command) {
    return command == CommandId::LoginError || command == CommandId::CompressionError;
}

// Whether a frame's header describes a picture at all: a positive width, a
// non-zero height, a bit depth a bitmap can have, and for an uncompressed
// frame the image bytes every row needs. Anything else cannot be shown or
// recorded as a playable clip.
bool describesPicture(const PackedDibView& frame, size_t frameBytes) {
    const BitmapInfoHeader& h = frame.header();
    if (h.biWidth <= 0 || h.biHeight == 0)
        return false;
    switch (h.biBitCount) {
    case 1:
    case 4:
    case 8:
    case 16:
    case 24:
    case 32:
        break;
    default:
        return false;
    }
    if (h.biCompression != BitmapInfoHeader::kRgb)
        return true;
    const int64_t rows = h.biHeight < 0 ? -int64_t(h.biHeight) : int64_t(h.biHeight);
    const int64_t rowBytes = (int64_t(h.biWidth) * h.biBitCount + 31) / 32 * 4;
    // A frame without biSizeImage is read with all the bytes that follow its colour table.
    const uint64_t held = h.biSizeImage != 0
                              ? h.biSizeImage
                              : uint64_t(frameBytes) - BitmapInfoHeader::kSize - h.colorTableBytes();
    return uint64_t(rowBytes * rows) <= held;
}

// The site's name: the identity record's first field, up to its first zero.
std::string siteNameOf(const std::array<uint8_t, Wire::kSiteRecordSize>& record) {
    constexpr size_t kNameField = 30;
    std::string name;
    for (size_t i = 0; i < kNameField && record[i] != 0; ++i)
        name.push_back(char(record[i]));
    return name;
}

} // namespace

CommPort::CommPort(DialogService& dialogs, ConnectionStore& store, ChannelTable& channels,
                   DecompressorFactory& decompressors, Options options)
    : m_dialogs(dialogs)
    , m_store(store)
    , m_channels(channels)
    , m_decompressors(decompressors)
    , m_options(std::move(options))
    , m_port(m_options.stopBound) {
    m_timer.setInterval(m_options.timerPeriod);
    m_timer.setTimerType(Qt::PreciseTimer);
    QObject::connect(&m_timer, &QTimer::timeout, &m_postTarget, [this] { OnConnectionTimer(); });
}

CommPort::~CommPort() {
    Stop();
}

void CommPort::attachMainWindow(MainWindowCommands* mainWindow, ViewArea* viewArea, StatusLine* statusLine) {
    m_mainWindow = mainWindow;
    m_viewArea = viewArea;
    m_statusLine = statusLine;
}

bool CommPort::Start(int fd, bool answered) {
    if (!SerialEngine::isByteStream(fd)) {
        qCWarning(lcLink, "the call's handle %d is no byte stream", fd);
        m_dialogs.notice(nullptr, loadString(IDP_NOT_COMM_HANDLE));
        ::close(fd);
        return false;
    }
    if (IsOpen() || m_stopping) {
        if (fd != m_port.descriptor()) // never close the running link's own descriptor
            ::close(fd);
        return false;
    }
    const QTime started = m_options.clock();
    if (!m_port.Open(fd)) {
        qCWarning(lcLink, "cannot start the connection on handle %d", fd);
        return false;
    }

    m_receiver.reset();
    m_mayOpen = false;
    m_mayClose = false;
    m_draining = false;
    m_frameCount = 0;
    m_keepAliveCount = 0;
    m_siteInfoAllowed = 0;
    m_commandsThisCall.clear();
    m_windowCount = 0;
    m_cascade = QPoint(0, 0);
    m_startTime = started;
    m_answered = answered;
    m_loggedIn = false;
    m_reopened = false;
    m_restartRecord.clear();
    m_counters = CallCounters{};
    m_counters.answered = answered;
    m_counters.started = m_options.now();
    m_damagedAtStart = m_receiver.damaged();
    m_loggedThisCall = 0;

    SendLogin();
    m_timer.start();
    return true;
}

void CommPort::Stop() {
    if (!IsOpen() || m_stopping)
        return;
    m_stopping = true;
    m_answered = false;
    m_timer.stop();
    // The wait keeps the event loop running; the stopped timer, the busy flag
    // and m_stopping keep parsing and a second Stop out of it.
    m_port.close([] { QCoreApplication::processEvents(); });
    while (!m_slots.empty())
        RemoveChannelWindow(&m_slots.front(), true);
    m_decompressor.reset();
    m_draining = false;
    m_stopping = false;
    SetStatusText(loadString(IDS_STATUS_DISCONNECT));
}

void CommPort::queueBlock(std::vector<uint8_t> block) {
    if (IsOpen())
        m_counters.bytesOut += block.size();
    m_port.QueueSend(std::move(block));
}

void CommPort::PushFrontReceived(std::vector<uint8_t> chunk) {
    m_port.PushFrontReceived(std::move(chunk));
}

void CommPort::DrainReceived() {
    if (m_draining || !IsOpen() || m_stopping)
        return;
    m_draining = true;
    m_drainedPackets = 0;
    m_drainedWindows = 0;
    QElapsedTimer spent;
    spent.start();
    // The receiver hands out at most one packet per chunk and returns what
    // followed it, so the budget is checked between packets; what is left
    // stays queued, in order, for the next tick.
    while (m_drainedPackets < m_options.drainPackets && m_drainedWindows < m_options.drainNewWindows &&
           spent.elapsed() < m_options.drainTime.count()) {
        std::optional<std::vector<uint8_t>> chunk = m_port.takeReceived();
        if (!chunk)
            break;
        const uint64_t damagedBefore = m_receiver.damaged();
        std::vector<uint8_t> leftover = m_receiver.ParseChunk(*chunk, *this);
        if (m_receiver.damaged() != damagedBefore && firstThisCall(m_loggedThisCall, kLoggedDamagedPacket))
            qCWarning(lcLink,
                      "damaged packet from the site (a bad length or check); later ones are counted only");
        // Bytes handed back are taken again with the next chunk: count them then.
        m_counters.bytesIn += chunk->size() - std::min(leftover.size(), chunk->size());
        if (!leftover.empty())
            m_port.PushFrontReceived(std::move(leftover));
    }
    m_draining = false;
}

QString CommPort::statusText() const {
    return loadString(IDS_STATUS_CONNECTED)
        .arg(m_startTime.toString(QStringLiteral("hh:mm:ss")),
             m_options.clock().toString(QStringLiteral("hh:mm:ss")), QString::number(m_frameCount));
}

void CommPort::OnConnectionTimer() {
    if (!IsOpen())
        return;
    DrainReceived();
    SetStatusText(statusText());
    if (m_keepAliveCount < kKeepAliveTicks - 1) {
        ++m_keepAliveCount;
    } else {
        SendValue(*this, OutboundType::KeepAlive, 0);
        m_keepAliveCount = 0;
    }
}

void CommPort::SendLogin() {
    LoginValues values = m_loginOverride && !m_answered ? *m_loginOverride : m_store.loginValues();
    if (m_answered) {
        values.user = std::string(Wire::kAnsweredUser);
        values.password = std::string(Wire::kAnsweredPassword);
    }
    QueuePacket(*this, OutboundType::Login, buildLoginRecord(values));
    if (m_answered) {
        SendValue(*this, OutboundType::SiteInfoRequest, 0);
        ++m_siteInfoAllowed;
    }
}

void CommPort::SetStatusText(const QString& text) {
    if (m_statusLine)
        m_statusLine->SetStatusText(text);
}

bool CommPort::onPacket(const InboundPacket& packet) {
    ++m_drainedPackets;
    switch (InboundType(packet.type)) {
    case InboundType::ChannelList:
        m_mayOpen = packet.param2 & kMayOpenChannels;
        m_mayClose = packet.param2 & kMayCloseChannels;
        m_channels.replace(parseChannelList(packet.param1, packet.payload));
        m_loggedIn = true;
        if (m_reopenPlanned && !m_answered) {
            m_reopenPlanned = false;
            m_reopened = true;
            for (const ReopenChannel& entry : m_reopen) {
                if (requestOpenChannel(entry.channel) && entry.recording)
                    m_restartRecord.push_back(entry.channel);
            }
            m_reopen.clear();
        }
        return true;
    case InboundType::VideoFrame:
        return route(packet);
    case InboundType::ChannelPrompt:
        if (!m_reopened) // a redial opens its channels itself
            postToMainWindow(CommandId::OpenChannel);
        return true;
    case InboundType::LoginRejected:
        m_counters.loginRejected = true;
        postToMainWindow(CommandId::LoginError);
        return true;
    case InboundType::LoginRequest:
        SendLogin();
        return true;
    case InboundType::ChannelClosed:
        if (ChannelSlot* slot = FindSlotByKey(packet.param2); slot && slot->window)
            slot->window->markClosedBySite();
        return true;
    case InboundType::SiteInfo: {
        // One record answers one request; unasked records are ignored.
        if (m_siteInfoAllowed > 0) {
            --m_siteInfoAllowed;
            const std::array<uint8_t, Wire::kSiteRecordSize> record = siteRecordFromPayload(packet.payload);
            if (m_store.AddEventRecord(record))
                m_counters.eventFiled = true;
            m_counters.siteName = siteNameOf(record);
        }
        return true;
    }
    case InboundType::HangUpRequest:
        m_counters.siteAskedHangUp = true;
        postToMainWindow(CommandId::HangUp);
        return true;
    }
    if (firstThisCall(m_loggedThisCall, kLoggedUnknownPacket))
        qCWarning(lcLink, "packet of unknown type %d from the site", int(packet.type));
    SetStatusText(loadString(IDS_STATUS_STREAM_ERROR));
    return true;
}

void CommPort::RouteFrame(const InboundPacket& packet) {
    route(packet);
}

bool CommPort::ensureDecompressor(const BitmapInfoHeader& header) {
    if (m_decompressor)
        return true;
    for (std::string_view handler : kPreferredHandlers) {
        std::unique_ptr<VideoDecompressor> candidate = m_decompressors.Open(handler);
        if (candidate && candidate->canDecompress(header)) {
            m_decompressor = std::move(candidate);
            return true;
        }
    }
    m_decompressor = m_decompressors.locate(header);
    return m_decompressor != nullptr;
}

// Returns false only when no decompressor exists: the call is then dropped
// and the receiver halts until the next Start.
bool CommPort::route(const InboundPacket& packet) {
    const PackedDibView frame(packet.payload);
    // Short, not a 40-byte header, declaring more than it holds, or no picture.
    if (!frame.valid() || !describesPicture(frame, packet.payload.size())) {
        if (firstThisCall(m_loggedThisCall, kLoggedMalformedFrame))
            qCWarning(lcLink, "channel %d sent a %zu-byte frame that describes no picture",
                      int(packet.param1), packet.payload.size());
        ++m_counters.damagedPackets;
        return true;
    }
    // Decoding, scaling and repainting cost what the header declares, however
    // few bytes follow it: a frame far larger than any live picture would hold
    // the user interface for seconds, so it counts as malformed.
    const int64_t rows =
        frame.header().biHeight < 0 ? -int64_t(frame.header().biHeight) : int64_t(frame.header().biHeight);
    if (int64_t(frame.header().biWidth) * rows > kMaxLiveFramePixels) {
        if (firstThisCall(m_loggedThisCall, kLoggedOversizeFrame))
            qCWarning(lcLink, "channel %d sent a %dx%lld frame, larger than any live picture",
                      int(packet.param1), int(frame.header().biWidth), static_cast<long long>(rows));
        ++m_counters.damagedPackets;
        return true;
    }
    if (!ensureDecompressor(frame.header())) {
        qCWarning(lcLink, "no decompressor for %s frames of %dx%d, %d bits; the call's frames stop",
                  fourCCText(frame.header().biCompression).c_str(), int(frame.header().biWidth),
                  int(frame.header().biHeight), int(frame.header().biBitCount));
        m_counters.noDecompressor = true;
        postToMainWindow(CommandId::CompressionError);
        return false;
    }
    ChannelSlot* slot = FindSlotByKey(packet.param2);
    if (!slot && mayAddStream())
        slot = CreateChannelWindow(packet.param1, packet.param2, frame.header());
    if (!slot || !slot->window) {
        if (!slot && firstThisCall(m_loggedThisCall, kLoggedNoWindow))
            qCWarning(
                lcLink,
                "no window for stream %d of channel %d (%d windows, %zu streams): its frames are dropped",
                int(packet.param2), int(packet.param1), m_windowCount, m_slotByKey.size());
        return true;
    }

    ChannelWindowHandle& window = *slot->window;
    ++m_frameCount;
    ++m_counters.frames;
    if (ChannelCounters* counters = m_counters.Channel(slot->channel, slot->streamKey))
        counters->countFrame(packet.payload.size(), m_options.now());
    if (window.isRecording())
        window.RecordFrame(packet.payload);
    window.deliverFrame(packet.payload);
    drawFrame(*slot, packet, frame);
    return true;
}

bool CommPort::mayAddStream() const {
    return m_windowCount < kMaxChannelWindows && m_slotByKey.size() < kMaxStreamKeys;
}

void CommPort::drawFrame(ChannelSlot& slot, const InboundPacket& packet, const PackedDibView& frame) {
    if (!slot.decompressor)
        slot.decompressor = m_decompressor->fresh();
    if (slot.decompressor) {
        if (std::optional<DrawablePicture> picture =
                slot.decompressor->decompressLivePicture(packet.payload)) {
            slot.window->drawPicture(*picture);
            if (m_frameObserver && (!m_frameWanted || m_frameWanted(slot.channel)))
                m_frameObserver(slot.channel, picture->packedDib());
            return;
        }
    }
    // An uncompressed frame may still be drawable as it is; anything else
    // that does not decode leaves the last picture on screen.
    if (frame.header().biCompression != BitmapInfoHeader::kRgb &&
        firstThisCall(m_loggedThisCall, kLoggedUndecodableFrame))
        qCWarning(lcLink, "a %s frame of channel %d did not decode; the last picture stays",
                  fourCCText(frame.header().biCompression).c_str(), int(slot.channel));
    if (frame.header().biCompression == BitmapInfoHeader::kRgb) {
        slot.window->draw(packet.payload);
        if (m_frameObserver)
            m_frameObserver(slot.channel, packet.payload);
    }
}

CommPort::ChannelSlot* CommPort::CreateChannelWindow(int32_t channel, int32_t streamKey,
                                                     const BitmapInfoHeader& header) {
    if (!m_viewArea)
        return nullptr;
    const QSize area = m_viewArea->clientSize();
    // 64-bit: the picture size comes from the site and may be anything.
    if (int64_t(m_cascade.x()) > int64_t(area.width()) - header.biWidth)
        m_cascade.setX(0);
    if (int64_t(m_cascade.y()) > int64_t(area.height()) - header.biHeight)
        m_cascade.setY(0);

    ChannelWindowInfo info{channel, streamKey, m_mayClose, m_nextWindowId};
    std::unique_ptr<ChannelWindowHandle> window = m_viewArea->CreateChannelWindow(info);
    if (!window)
        return nullptr;
    ++m_nextWindowId;
    window->setStreamFormat(header);
    window->sizeForPicture(header.biWidth, header.biHeight);
    window->moveOnTop(m_cascade);

    if (m_answered) {
        if (m_mainWindow)
            m_mainWindow->startAlarm();
        postToWindow(info.windowId, CommandId::ChannelRecord);
        postToWindow(info.windowId, CommandId::ChannelSnapshot);
    } else if (auto it = std::find(m_restartRecord.begin(), m_restartRecord.end(), channel);
               it != m_restartRecord.end()) {
        m_restartRecord.erase(it);
        postToWindow(info.windowId, CommandId::ChannelRecord);
    }
    ++m_windowCount;
    m_cascade += kCascadeStep;
    m_slots.push_back(ChannelSlot{channel, streamKey, info.windowId, std::move(window), nullptr});
    ChannelSlot* slot = &m_slots.back();
    m_slotByKey.emplace(streamKey, slot);
    ++m_drainedWindows;
    if (m_store.videoArrangeOn())
        ArrangeWindows();
    return slot;
}

void CommPort::RemoveChannelWindow(ChannelSlot* slot, bool discardSlot) {
    if (!slot)
        return;
    if (slot->window) {
        std::unique_ptr<ChannelWindowHandle> window = std::move(slot->window);
        slot->windowId = 0;
        slot->decompressor.reset();
        --m_windowCount;
        window->close();
    }
    if (discardSlot) {
        if (auto it = m_slotByKey.find(slot->streamKey); it != m_slotByKey.end() && it->second == slot)
            m_slotByKey.erase(it);
        m_slots.remove_if([slot](const ChannelSlot& s) { return &s == slot; });
    }
    if (m_store.videoArrangeOn())
        ArrangeWindows();
}

void CommPort::ArrangeWindows() {
    if (!m_viewArea)
        return;
    if (m_windowCount < 1 || m_windowCount > TileLayout::kMaxWindows)
        return;
    if (m_mainWindow && !m_mainWindow->isMaximized())
        m_mainWindow->maximize();
    const std::optional<TileLayout> layout = TileLayout::compute(m_windowCount, m_viewArea->clientSize());
    const bool bars = m_mainWindow ? m_mainWindow->barsShown() : true;
    int index = 0;
    for (ChannelSlot& slot : m_slots) {
        if (!slot.window)
            continue;
        slot.window->applyBars(bars);
        slot.window->setCell(layout->cell(index++));
    }
}

CommPort::ChannelSlot* CommPort::FindSlotByKey(int32_t streamKey) {
    const auto it = m_slotByKey.find(streamKey);
    return it == m_slotByKey.end() ? nullptr : it->second;
}

CommPort::ChannelSlot* CommPort::findSlotByWindow(uint64_t windowId) {
    if (windowId == 0)
        return nullptr;
    for (ChannelSlot& slot : m_slots) {
        if (slot.windowId == windowId)
            return &slot;
    }
    return nullptr;
}

bool CommPort::IsChannelOpen(int32_t channel) const {
    for (const ChannelSlot& slot : m_slots) {
        if (slot.channel == channel && slot.window)
            return true;
    }
    return false;
}

bool CommPort::canOpenChannel() const {
    return IsOpen() && m_mayOpen && !m_channels.empty();
}

QStringList CommPort::channelChoiceLines() const {
    return ::channelChoiceLines(m_channels);
}

bool CommPort::requestOpenChannel(int32_t channel) {
    if (!IsOpen() || IsChannelOpen(channel))
        return false;
    SendValue(*this, OutboundType::OpenChannel, channel);
    return true;
}

void CommPort::FixWindow(uint64_t windowId) {
    if (m_windowCount <= 1)
        return;
    ChannelSlot* slot = findSlotByWindow(windowId);
    if (!slot)
        return;
    SendValue(*this, OutboundType::FixChannel, slot->channel);
    m_fixedWindow = m_fixedWindow == windowId ? 0 : windowId;
}

void CommPort::CloseWindow(uint64_t windowId, bool sendCloseChannel) {
    ChannelSlot* slot = findSlotByWindow(windowId);
    if (!slot)
        return;
    if (sendCloseChannel)
        SendValue(*this, OutboundType::CloseChannel, slot->channel);
    RemoveChannelWindow(slot, false);
}

bool CommPort::startRecordingChannel(int32_t channel) {
    for (const ChannelSlot& slot : m_slots) {
        if (slot.channel == channel && slot.window) {
            postToWindow(slot.windowId, CommandId::ChannelRecord);
            return true;
        }
    }
    return false;
}

void CommPort::planReopen(const std::vector<ReopenChannel>& channels) {
    m_reopen = channels;
    m_reopenPlanned = true;
}

void CommPort::clearReopen() {
    m_reopen.clear();
    m_reopenPlanned = false;
}

std::vector<ReopenChannel> CommPort::openChannelsNow() const {
    std::vector<ReopenChannel> open;
    for (const ChannelSlot& slot : m_slots) {
        if (slot.window)
            open.push_back({slot.channel, slot.window->isRecording()});
    }
    return open;
}

CallCounters CommPort::counters() const {
    CallCounters counters = m_counters;
    counters.damagedPackets += m_receiver.damaged() - m_damagedAtStart;
    return counters;
}

void CommPort::postToMainWindow(CommandId command) {
    // A command of a kind already pending or running (a channel choice dialog
    // still open) absorbs the repeat; some are shown once per call at all.
    if (m_commandsBusy.contains(command) || (oncePerCall(command) && m_commandsThisCall.contains(command)))
        return;
    m_commandsBusy.insert(command);
    if (oncePerCall(command))
        m_commandsThisCall.insert(command);
    QMetaObject::invokeMethod(
        &m_postTarget,
        [this, command] {
            if (m_mainWindow)
                m_mainWindow->onPostedCommand(command);
            m_commandsBusy.erase(command);
        },
        Qt::QueuedConnection);
}

void CommPort::postToWindow(uint64_t windowId, CommandId command) {
    QMetaObject::invokeMethod(
        &m_postTarget,
        [this, windowId, command] {
            if (ChannelSlot* slot = findSlotByWindow(windowId); slot && slot->window)
                slot->window->onPostedCommand(command);
        },
        Qt::QueuedConnection);
}
