#pragma once

// The link with a remote site for the whole life of the program: one object,
// reused for every call.
//
// Start(fd, answered) takes the connected call's descriptor, starts the serial
// threads (SerialEngine), queues the login and starts the connection timer. On
// every tick (250 ms, on the user-interface thread) the receive queue is
// drained through the PacketReceiver and each packet is dispatched: channel
// lists rebuild the channel table and set the open/close permissions, video
// frames are routed to one channel window per stream key (created on the
// stream's first frame, cascaded, tiled when "VideoArrange" is on), site
// records become event records, and prompts, rejections and hang-up requests
// are posted to the main window. The tick then rewrites the status line and
// every 22nd tick sends a keep-alive. Stop() ends the threads, closes every
// channel window and shows "Disconnect".
//
// Channel slots live until the connection ends, even after the operator
// closed their window: later frames of that stream key are dropped and make
// no new window. Window count, cascade position and the fixed window are kept
// here for the main window and the channel windows.
//
// Each stream key decodes with a decompressor of its own (the call's chosen
// kind, made fresh for the stream): delta-coded frames of one camera never
// touch another camera's picture. The window keeps the decoded picture, so a
// repaint or a snapshot never decodes a frame again.
//
// A caller may be hostile (in Listen mode anyone who dials in is one), so
// well-formed floods are bounded: at most kMaxChannelWindows windows and
// kMaxStreamKeys remembered stream keys per call (a frame of a new key beyond
// either is dropped uncounted), one pending or running main window command of
// each kind, one login-rejected and one no-decompressor notice per call, one
// event record per site record request sent, and each drain handles at most
// a budget of packets and time so that the timer, the keep-alives and the
// operator's input keep running while data floods in.
//
// Everything but the serial threads runs on the thread that created the
// object, which must run a Qt event loop: the timer and the posted commands
// are delivered through it.

#include "link/CallCounters.h"
#include "link/CallPort.h"
#include "link/ChannelControl.h"
#include "link/LinkInterfaces.h"
#include "link/PacketReceiver.h"
#include "link/Protocol.h"
#include "link/ReopenChannel.h"
#include "platform/serial/SerialEngine.h"

#include <QObject>
#include <QPoint>
#include <QStringList>
#include <QTime>
#include <QTimer>

#include <chrono>
#include <functional>
#include <list>
#include <memory>
#include <optional>
#include <set>
#include <span>
#include <unordered_map>
#include <vector>

class ChannelTable;
class DialogService;

// Times the program uses as they are; tests shorten them.
struct CommPortOptions {
    std::chrono::milliseconds timerPeriod{250};
    std::chrono::milliseconds stopBound = SerialEngine::kDefaultStopBound;
    // The local time of day, for the status line.
    std::function<QTime()> clock = [] {
        return QTime::currentTime();
    };
    // What one drain may handle before it leaves the rest for the next tick.
    int drainPackets = 200;
    std::chrono::milliseconds drainTime{50};
    // New channel windows one drain may open. Each brings a window, and on an
    // answered call a recording and a snapshot viewer whose posted commands
    // run before the next input event; a burst of new streams is spread over
    // ticks so input and keep-alives run between them.
    int drainNewWindows = 4;
    // The monotonic time frames are stamped with, for the call's counters.
    std::function<std::chrono::steady_clock::time_point()> now = [] {
        return std::chrono::steady_clock::now();
    };
};

class CommPort final : public CallPort, public PacketQueue, public ChannelControl, private PacketHandler {
public:
    static constexpr int kKeepAliveTicks = 22;
    // The most pixels a frame may declare; larger frames are dropped.
    // Decoding and scaling cost follows the picture's area, whatever bytes
    // follow the header: this admits every size up to 1280 x 1024 (so 720p
    // sites, and all the pictures the former 1024-pixel side limit took),
    // which decodes and scales in milliseconds, and keeps pictures that would
    // hold the user interface for seconds out.
    static constexpr int64_t kMaxLiveFramePixels = int64_t(1280) * 1024;
    // Channel windows open at once per connection: the tiling limit.
    static constexpr int kMaxChannelWindows = 64;
    // Stream keys remembered per call (open or closed windows).
    static constexpr size_t kMaxStreamKeys = 1024;
    static constexpr QPoint kCascadeStep{28, 22};

    using Options = CommPortOptions;

    // One entry of the channel window list.
    struct ChannelSlot {
        int32_t channel = 0;
        int32_t streamKey = 0;
        uint64_t windowId = 0;                       // 0 once the window is gone
        std::unique_ptr<ChannelWindowHandle> window; // none once closed
        // This stream's own decoder state; made with the first frame it
        // draws and dropped with the window.
        std::unique_ptr<VideoDecompressor> decompressor;
    };

    CommPort(DialogService& dialogs, ConnectionStore& store, ChannelTable& channels,
             DecompressorFactory& decompressors, Options options = {});
    ~CommPort() override;
    CommPort(const CommPort&) = delete;
    CommPort& operator=(const CommPort&) = delete;

    // The main window's parts; any may be null (nothing is then shown there).
    void attachMainWindow(MainWindowCommands* mainWindow, ViewArea* viewArea, StatusLine* statusLine);

    // Takes ownership of the connected call's descriptor in every case: on
    // failure it is closed (after the "not a comm handle" notice when it is no
    // character device; at once when a connection is already running, which
    // stays untouched).
    bool Start(int fd, bool answered) override;
    // Ends the connection; does nothing when none runs.
    void Stop() override;
    bool IsOpen() const { return m_port.IsOpen(); }
    bool isAnswered() const { return m_answered; }

    // Appends one outbound block to the send queue (ignored while not open).
    void queueBlock(std::vector<uint8_t> block) override;

    // Hands every received chunk to the receiver, in order; re-entry and calls
    // while not open do nothing.
    void DrainReceived();
    void PushFrontReceived(std::vector<uint8_t> chunk);
    // The connection timer routine (also callable directly).
    void OnConnectionTimer();
    void SendLogin();
    void SetStatusText(const QString& text);

    // Permissions from the last channel list.
    bool mayOpenChannels() const { return m_mayOpen; }
    bool mayCloseChannels() const { return m_mayClose; }
    // The enable rule of "Open local site video channel": port open, open
    // permission, non-empty channel table.
    bool canOpenChannel() const;
    // The channel choice list's lines ("%04d Name"), sorted.
    QStringList channelChoiceLines() const;
    // Sends OpenChannel(channel) unless that channel already has a live
    // window; only while the port is open. True when a packet was queued.
    bool requestOpenChannel(int32_t channel);

    // A channel window's Fix command: with two or more windows, sends
    // FixChannel for its channel and makes it the fixed window, or releases it.
    void FixWindow(uint64_t windowId) override;
    // A channel window's Close command after the operator confirmed (or
    // without asking when the site had stopped it): sends CloseChannel when
    // `sendCloseChannel`, then removes the window and keeps the slot.
    void CloseWindow(uint64_t windowId, bool sendCloseChannel) override;

    // Frame routing and the channel window list.
    void RouteFrame(const InboundPacket& packet);
    ChannelSlot* CreateChannelWindow(int32_t channel, int32_t streamKey, const BitmapInfoHeader& header);
    void RemoveChannelWindow(ChannelSlot* slot, bool discardSlot);
    void ArrangeWindows();
    ChannelSlot* FindSlotByKey(int32_t streamKey);
    bool IsChannelOpen(int32_t channel) const;
    const std::list<ChannelSlot>& channelSlots() const { return m_slots; }

    int WindowCount() const override { return m_windowCount; }
    QPoint cascadePosition() const { return m_cascade; }
    // The id of the fixed window; 0 when none.
    uint64_t FixedWindow() const override { return m_fixedWindow; }
    int frameCount() const { return m_frameCount; }

    // Redialling a dropped call. The plan holds for the next dialled call:
    // once its channel list arrives (the login was accepted) OpenChannel goes
    // out for each planned channel in order, the site's channel prompt is not
    // passed on, and a channel that was recording starts recording again when
    // its window opens. ClearReopen drops a plan not yet carried out.
    void planReopen(const std::vector<ReopenChannel>& channels);
    void clearReopen();
    bool reopenPlanned() const { return m_reopenPlanned; }
    // The live channels in the order their windows opened, with their
    // recording state: what a redial reopens.
    std::vector<ReopenChannel> openChannelsNow() const;
    // Credentials used instead of the stored "Call" values by the next
    // dialled logins (a redial or a patrol call); nothing: the stored ones.
    void setLoginOverride(std::optional<LoginValues> login) { m_loginOverride = std::move(login); }
    // A channel list arrived on this connection (the site accepted the login).
    bool loggedIn() const { return m_loggedIn; }
    // Told, on this thread, about every picture a live channel window drew:
    // the decompressed packed DIB (or the frame as received when it needed
    // none). For site patrols; none by default. With `wanted`, the packed DIB
    // is made (and the observer told) only for channels it accepts, so the
    // pictures of a live call are not converted for nobody.
    using FrameObserver = std::function<void(int32_t channel, std::span<const uint8_t> picture)>;
    using FrameWanted = std::function<bool(int32_t channel)>;
    void setFrameObserver(FrameObserver observer, FrameWanted wanted = {}) {
        m_frameObserver = std::move(observer);
        m_frameWanted = std::move(wanted);
    }
    // Posts the Record command to the live window of `channel`; false when
    // the channel has none.
    bool startRecordingChannel(int32_t channel);

    SerialEngine& port() { return m_port; }
    const PacketReceiver& receiver() const { return m_receiver; }

    // The running or the last call's counters (see CallCounters.h).
    CallCounters counters() const;
    // A channel window of this call started a clip.
    void countClip() { ++m_counters.clipsRecorded; }

private:
    bool onPacket(const InboundPacket& packet) override;
    bool route(const InboundPacket& packet);
    bool ensureDecompressor(const BitmapInfoHeader& header);
    void drawFrame(ChannelSlot& slot, const InboundPacket& packet, const PackedDibView& frame);
    bool mayAddStream() const;
    ChannelSlot* findSlotByWindow(uint64_t windowId);
    void postToMainWindow(CommandId command);
    void postToWindow(uint64_t windowId, CommandId command);
    QString statusText() const;

    DialogService& m_dialogs;
    ConnectionStore& m_store;
    ChannelTable& m_channels;
    DecompressorFactory& m_decompressors;
    Options m_options;

    MainWindowCommands* m_mainWindow = nullptr;
    ViewArea* m_viewArea = nullptr;
    StatusLine* m_statusLine = nullptr;

    SerialEngine m_port;
    PacketReceiver m_receiver;
    QTimer m_timer;
    QObject m_postTarget; // queued calls die with it

    bool m_answered = false;
    bool m_mayOpen = false;
    bool m_mayClose = false;
    bool m_draining = false;
    bool m_stopping = false;
    int m_frameCount = 0;
    int m_keepAliveCount = 0;
    int m_drainedWindows = 0;               // channel windows opened in the running drain
    int m_drainedPackets = 0;               // packets handled in the running drain
    int m_siteInfoAllowed = 0;              // site record requests sent minus records filed
    std::set<CommandId> m_commandsBusy;     // posted to the main window, not finished
    std::set<CommandId> m_commandsThisCall; // posted once per call and already posted
    QTime m_startTime;
    std::shared_ptr<VideoDecompressor> m_decompressor;

    std::list<ChannelSlot> m_slots;
    std::unordered_map<int32_t, ChannelSlot*> m_slotByKey;
    int m_windowCount = 0;
    QPoint m_cascade;
    uint64_t m_fixedWindow = 0;
    uint64_t m_nextWindowId = 1;

    std::vector<ReopenChannel> m_reopen;  // planned for the next dialled login
    std::vector<int32_t> m_restartRecord; // reopened channels whose recording restarts
    bool m_reopenPlanned = false;
    bool m_reopened = false; // this connection reopened channels: no prompt
    bool m_loggedIn = false;
    std::optional<LoginValues> m_loginOverride;
    FrameObserver m_frameObserver;
    FrameWanted m_frameWanted;
    CallCounters m_counters;
    uint64_t m_damagedAtStart = 0; // the receiver's damaged count when the call started
    // Kinds of trouble already logged in this call: one line per kind per
    // call, however often a peer repeats it.
    uint32_t m_loggedThisCall = 0;
};
