#pragma once

// Line control: drives the modem through the telephony service. It picks a
// data modem (the first qualifying device from a start index upward), keeps a
// line open so that incoming calls are offered and answered, dials on
// request, hands the data handle of a connected call to the CallPort and
// drops calls again.
//
// Everything runs on the UI thread. The service's messages arrive there too,
// also while the line control waits for a request's reply: that wait keeps the
// event loop running (bounded, 10 s), so messages and commands can run inside
// it. The answering flag keeps a repeated offer from being answered twice and
// the connected flag keeps a repeated "connected" from starting the port twice.
//
// An offered call is answered after a pause (a single-shot timer, 2 s) and
// guarded by the main window's answer watchdog (50 s): a call that has not
// connected by then restarts the service.
//
// Every call attempt, dialled or answered, is reported to the call-end sink
// once when it ends (DropCall is where every call ends), with the first reason
// the line saw for its end; a drop without such a reason counts as local.

#include "link/AnswerWatchdog.h"
#include "link/CallPort.h"
#include "link/DialStatusWindow.h"
#include "link/LineCallRecord.h"
#include "platform/telephony/TelephonyService.h"

#include <QString>
#include <QTimer>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

// How a call ended by itself (not by DropCall): told to the call-end
// observer before the line is reset.
struct CallEnd {
    bool dialled = false;     // placed by Dial, not an answered offer
    bool connected = false;   // it had connected
    std::uint32_t state = 0;  // the LINECALLSTATE_* that ended it
    std::uint32_t detail = 0; // its busy or disconnect mode
};

class LineManager {
public:
    struct Timings {
        int answerPauseMs = 2000;
        int answerWatchdogMs = 50000;
        int replyWaitMs = 10000;
        std::uint32_t noAnswerTimeoutS = 30;
    };

    static constexpr const char* kAppName = "Lookout-Remote";

    LineManager(tel::TelephonyService& service, std::unique_ptr<CallPort> port, DialStatusFactory& dialStatus,
                AnswerWatchdog& watchdog, Timings timings);
    LineManager(tel::TelephonyService& service, std::unique_ptr<CallPort> port, DialStatusFactory& dialStatus,
                AnswerWatchdog& watchdog)
        : LineManager(service, std::move(port), dialStatus, watchdog, Timings{}) {}
    // Shuts the service down; the port goes after that.
    ~LineManager();
    LineManager(const LineManager&) = delete;
    LineManager& operator=(const LineManager&) = delete;

    // Starts the service and chooses the first qualifying device from
    // `startDevice` upward (-1: the chosen device). False, with the service
    // shut down, when there is none.
    bool Initialize(int startDevice);
    bool OpenLine();
    void CloseLine();
    void Shutdown();
    // Shutdown, Initialize from `device`, OpenLine. At start-up with the
    // stored modem, after the operator chose a modem, by the watchdog and on
    // device changes.
    bool Reinitialize(int device);
    // Start-up without holding the window: the service looks for its devices
    // in the background, then Reinitialize(`device`) runs and `finished`
    // follows, both from the event loop (or at once, when the service has
    // nothing slow to look for). Nothing runs once CancelDiscovery was called
    // or this object is gone.
    void discover(int device, std::function<void()> finished);
    void cancelDiscovery();
    bool isDiscovering() const { return m_discovering; }
    // Hang up and Listen: drop, close and reopen the line (restart the service
    // when it is not running).
    void ResetLine();
    // Places a call; true when the service accepted it. The status window is
    // shown while the call is placed and closed when it fails or connects.
    bool Dial(const QString& number);
    bool DropCall();
    // The main window's timer 150 fired.
    void OnAnswerWatchdog();

    // Name of any device, for the modem selection list; empty when unknown.
    QString GetLineName(int device);
    // Icon of any device; false when the service has none for it.
    bool lineIcon(int device, tel::DeviceIcon& icon);

    // States the main window's commands depend on.
    bool isLineOpen() const { return m_line != 0; }
    bool hasCall() const { return m_call != 0; }
    bool isConnected() const { return m_connected; }
    bool isAnswered() const { return m_answered; }
    bool isAnswering() const { return m_answering; }
    bool isInitialized() const { return m_app != 0; }
    int deviceCount() const { return static_cast<int>(m_numDevs); }
    int chosenDevice() const { return m_device; }
    const QString& lineName() const { return m_lineName; }
    std::uint32_t lastCallState() const { return m_callState; }
    // When the line last rang (an offered call, or a ring heard while a call
    // was being placed); the epoch when it never rang.
    std::chrono::steady_clock::time_point lastRing() const { return m_lastRing; }
    CallPort& port() { return *m_port; }
    // Where finished call attempts go; null reports nothing. Must outlive the
    // line control or be reset before it goes.
    void setCallEndSink(CallEndSink* sink) { m_callEndSink = sink; }
    // The running attempt, or the last one once it ended.
    const LineCallRecord& currentCall() const { return m_attempt; }

    // Told about every call that ends by itself (far-end hang-up, busy, no
    // answer, line error); not about calls ended through DropCall. Runs on
    // the UI thread while the connection is still up.
    void setCallEndObserver(std::function<void(const CallEnd&)> observer) {
        m_callEnded = std::move(observer);
    }

private:
    void onMessage(const tel::LineMessage& message);
    void onCallState(tel::Call call, std::uint32_t state, std::uint32_t detail, std::uint32_t privilege);
    void onDeviceState(tel::Line line, std::uint32_t state, std::uint32_t detail);
    void answerOffered();
    std::int32_t waitForReply(std::int32_t request);
    void closeDialStatus() { m_dialStatusWindow.reset(); }
    QString queryLineName(int device);
    void beginAttempt(bool answered, const QString& number);
    // Keeps the first reason seen for the end of the running attempt.
    void noteEnd(LineCallEnd end);
    void finishAttempt();

    tel::TelephonyService& m_service;
    std::unique_ptr<CallPort> m_port;
    DialStatusFactory& m_dialStatus;
    AnswerWatchdog& m_watchdog;
    const Timings m_timings;

    std::recursive_mutex m_lock;
    tel::LineApp m_app = 0;
    tel::Line m_line = 0;
    tel::Call m_call = 0;
    std::uint32_t m_version = 0;
    int m_device = -1;
    std::uint32_t m_numDevs = 0;
    QString m_lineName;
    std::vector<QString> m_deviceNames; // names read at the last start, for a stopped service
    bool m_answered = false;
    bool m_connected = false;
    bool m_answering = false;
    bool m_watchdogRunning = false;
    std::int32_t m_pendingRequest = 0;
    std::int32_t m_replyResult = 0;
    bool m_replyReceived = false;
    std::uint32_t m_callState = 0;
    tel::Call m_offeredCall = 0;
    QTimer m_answerPause;
    std::unique_ptr<DialStatusWindow> m_dialStatusWindow;
    bool m_discovering = false;
    // What a discovery's answer checks before it runs: reset on cancel and
    // with this object, so a late answer finds nobody to call.
    std::shared_ptr<int> m_discoveryToken;
    std::function<void(const CallEnd&)> m_callEnded;
    std::uint32_t m_callStateDetail = 0;
    bool m_dropping = false;

    CallEndSink* m_callEndSink = nullptr;
    bool m_attemptOpen = false;
    bool m_endNoted = false;
    LineCallRecord m_attempt;
    std::chrono::steady_clock::time_point m_connectedAt{};
    std::chrono::steady_clock::time_point m_lastRing{};
};
