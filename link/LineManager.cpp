#include "link/LineManager.h"

#include "platform/log/DialscopeLog.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <algorithm>

using namespace tel;

namespace {

constexpr std::uint32_t kRequestedApiVersion = 0x00020000;
constexpr std::uint32_t kDeviceApiVersion = 0x00010004;
constexpr std::uint32_t kLineStates = 0x00BFFFFF;
constexpr std::uint32_t kAddressStates = 0x1FF;
const char* const kWaitForConnect = "Wait for connect ... ";

} // namespace

LineManager::LineManager(TelephonyService& service, std::unique_ptr<CallPort> port,
                         DialStatusFactory& dialStatus, AnswerWatchdog& watchdog, Timings timings)
    : m_service(service)
    , m_port(std::move(port))
    , m_dialStatus(dialStatus)
    , m_watchdog(watchdog)
    , m_timings(timings) {
    m_answerPause.setSingleShot(true);
    m_answerPause.setInterval(m_timings.answerPauseMs);
    QObject::connect(&m_answerPause, &QTimer::timeout, [this] { answerOffered(); });
}

LineManager::~LineManager() {
    cancelDiscovery();
    Shutdown();
}

void LineManager::discover(int device, std::function<void()> finished) {
    m_discovering = true;
    m_discoveryToken = std::make_shared<int>(0);
    std::weak_ptr<int> token = m_discoveryToken;
    m_service.discover([this, token, device, finished = std::move(finished)] {
        if (token.expired())
            return;
        m_discovering = false;
        m_discoveryToken.reset();
        Reinitialize(device);
        if (finished)
            finished();
    });
}

void LineManager::cancelDiscovery() {
    m_discovering = false;
    m_discoveryToken.reset();
}

bool LineManager::Initialize(int startDevice) {
    LineApp app = 0;
    std::uint32_t numDevs = 0;
    std::uint32_t apiVersion = kRequestedApiVersion;
    const std::int32_t result = m_service.Initialize(
        kAppName, [this](const LineMessage& message) { onMessage(message); }, app, numDevs, apiVersion);
    if (result != LINEERR_OK) {
        qCWarning(lcLink, "the telephony service did not start: error 0x%08x", unsigned(result));
        Shutdown();
        return false;
    }
    m_app = app;
    m_numDevs = numDevs;
    m_deviceNames.clear();
    for (std::uint32_t device = 0; device < numDevs; ++device)
        m_deviceNames.push_back(queryLineName(static_cast<int>(device)));
    if (numDevs == 0) {
        qCWarning(lcLink, "no telephony devices (no port answered)");
        Shutdown();
        return false;
    }

    int first = startDevice == -1 ? m_device : startDevice;
    if (first < 0 || first >= static_cast<int>(numDevs))
        first = 0;
    for (std::uint32_t device = static_cast<std::uint32_t>(first); device < numDevs; ++device) {
        std::uint32_t version = 0;
        if (m_service.negotiateApiVersion(m_app, device, kDeviceApiVersion, kDeviceApiVersion, version) !=
            LINEERR_OK)
            continue;
        m_version = version;
        LineDevCaps caps;
        if (m_service.devCaps(m_app, device, m_version, caps) == LINEERR_OK) {
            m_lineName =
                caps.stringFormat == StringFormat::Ascii ? QString::fromLatin1(caps.lineName) : QString();
            if ((caps.bearerModes & LINEBEARERMODE_VOICE) && (caps.mediaModes & LINEMEDIAMODE_DATAMODEM) &&
                (caps.lineFeatures & LINEFEATURE_MAKECALL)) {
                m_device = static_cast<int>(device);
                return true;
            }
        }
        m_version = 0;
    }
    // No modem among them: nothing is chosen, so no stale name is shown for it.
    qCWarning(lcLink, "none of %u telephony devices from device %d on is a data modem", unsigned(numDevs),
              first);
    m_lineName.clear();
    Shutdown();
    return false;
}

bool LineManager::OpenLine() {
    if (m_line != 0)
        return true;
    if (m_app == 0 || m_device < 0)
        return false;
    Line line = 0;
    if (const std::int32_t result =
            m_service.Open(m_app, static_cast<std::uint32_t>(m_device), line, m_version,
                           LINECALLPRIVILEGE_MONITOR | LINECALLPRIVILEGE_OWNER, LINEMEDIAMODE_DATAMODEM);
        result != LINEERR_OK) {
        qCWarning(lcLink, "cannot open line %d: error 0x%08x", m_device, unsigned(result));
        return false;
    }
    m_line = line;
    m_service.setStatusMessages(m_line, kLineStates, kAddressStates);
    return true;
}

void LineManager::CloseLine() {
    DropCall();
    if (m_line != 0) {
        const Line line = m_line;
        m_line = 0;
        m_service.close(line);
    }
}

void LineManager::Shutdown() {
    CloseLine();
    if (m_app != 0) {
        const LineApp app = m_app;
        m_app = 0;
        m_service.Shutdown(app);
    }
}

bool LineManager::Reinitialize(int device) {
    Shutdown();
    return Initialize(device) && OpenLine();
}

void LineManager::ResetLine() {
    if (m_app == 0) {
        Reinitialize(-1);
        return;
    }
    CloseLine();
    OpenLine();
}

bool LineManager::Dial(const QString& number) {
    if (m_line == 0)
        return false;
    AddressStatus status;
    if (m_service.addressStatus(m_line, 0, status) != LINEERR_OK ||
        !(status.addressFeatures & LINEADDRFEATURE_MAKECALL)) {
        qCWarning(lcLink, "the line cannot dial now (busy or its modem is gone)");
        return false;
    }

    CallParams params;
    params.bearerMode = LINEBEARERMODE_VOICE;
    params.mediaMode = LINEMEDIAMODE_DATAMODEM;
    params.callParamFlags = LINECALLPARAMFLAGS_IDLE;
    params.addressMode = LINEADDRESSMODE_ADDRESSID;
    params.addressId = 0;
    params.noAnswerTimeout = m_timings.noAnswerTimeoutS;

    closeDialStatus();
    m_dialStatusWindow = m_dialStatus.openDialStatus(number, QString::fromLatin1(kWaitForConnect));

    m_answered = false;
    m_connected = false;
    m_answering = false;
    beginAttempt(false, number);
    Call call = 0;
    const std::int32_t request = m_service.makeCall(m_line, call, number.toStdString(), 0, params);
    if (call != 0)
        m_call = call;
    const std::int32_t reply = waitForReply(request);
    if (reply == LINEERR_OK)
        return true;
    // -1: no reply within the wait.
    qCWarning(lcLink, "the dial was refused: error 0x%08x", unsigned(reply));
    DropCall();
    return false;
}

std::int32_t LineManager::waitForReply(std::int32_t request) {
    if (request <= 0)
        return request;
    m_pendingRequest = request;
    m_replyReceived = false;
    m_replyResult = LINEERR_OPERATIONFAILED;
    QElapsedTimer elapsed;
    elapsed.start();
    // Wakes the event loop at the bound even when nothing else happens.
    QTimer wake;
    wake.setSingleShot(true);
    wake.setTimerType(Qt::PreciseTimer);
    while (!m_replyReceived) {
        const qint64 left = m_timings.replyWaitMs - elapsed.elapsed();
        if (left <= 0)
            return -1;
        wake.start(static_cast<int>(left));
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    }
    return m_replyResult;
}

bool LineManager::DropCall() {
    std::lock_guard lock(m_lock);
    closeDialStatus();
    if (m_call == 0) {
        finishAttempt(); // a dial the service refused before it made a call
        return true;
    }
    const Call call = m_call;
    m_answerPause.stop();
    if (m_watchdogRunning) {
        m_watchdogRunning = false;
        m_watchdog.stopAnswerWatchdog();
    }
    m_dropping = true;
    m_port->Stop();
    CallStatus status;
    if (m_service.callStatus(call, status) != LINEERR_OK || status.callState != LINECALLSTATE_IDLE)
        waitForReply(m_service.drop(call));
    const bool released = m_service.deallocateCall(call) == LINEERR_OK;
    m_dropping = false;
    // A message handled during the wait may have released this call and taken
    // a new one already; that one is not ours to forget.
    if (m_call == call) {
        finishAttempt();
        m_call = 0;
        m_connected = false;
        m_answering = false;
        m_answered = false;
    }
    return released;
}

void LineManager::OnAnswerWatchdog() {
    m_watchdogRunning = false;
    m_watchdog.stopAnswerWatchdog();
    if (!m_connected) {
        noteEnd(LineCallEnd::Watchdog);
        Reinitialize(-1);
    }
}

QString LineManager::queryLineName(int device) {
    if (m_app == 0 || device < 0)
        return {};
    std::uint32_t version = 0;
    LineDevCaps caps;
    if (m_service.negotiateApiVersion(m_app, static_cast<std::uint32_t>(device), kDeviceApiVersion,
                                      kDeviceApiVersion, version) != LINEERR_OK ||
        m_service.devCaps(m_app, static_cast<std::uint32_t>(device), version, caps) != LINEERR_OK ||
        caps.stringFormat != StringFormat::Ascii)
        return {};
    return QString::fromLatin1(caps.lineName);
}

QString LineManager::GetLineName(int device) {
    if (m_app != 0)
        return queryLineName(device);
    if (device >= 0 && device < static_cast<int>(m_deviceNames.size()))
        return m_deviceNames[static_cast<std::size_t>(device)];
    return {};
}

bool LineManager::lineIcon(int device, DeviceIcon& icon) {
    return device >= 0 && m_service.icon(static_cast<std::uint32_t>(device), icon) == LINEERR_OK;
}

void LineManager::onMessage(const LineMessage& message) {
    switch (message.kind) {
    case LINE_CALLSTATE:
        m_callStateDetail = message.param2;
        onCallState(message.device, message.param1, message.param2, message.param3);
        return;
    case LINE_CLOSE:
        noteEnd(LineCallEnd::LineError);
        CloseLine();
        return;
    case LINE_LINEDEVSTATE:
        onDeviceState(message.device, message.param1, message.param2);
        return;
    case LINE_REPLY:
        if (static_cast<std::int32_t>(message.param1) == m_pendingRequest || m_answering) {
            m_pendingRequest = static_cast<std::int32_t>(message.param1);
            m_replyResult = static_cast<std::int32_t>(message.param2);
            m_replyReceived = true;
            m_answering = false;
        }
        return;
    case LINE_CREATE:
    case LINE_REMOVE:
        noteEnd(LineCallEnd::LineError);
        Reinitialize(-1);
        return;
    }
}

void LineManager::onCallState(Call call, std::uint32_t state, std::uint32_t detail, std::uint32_t privilege) {
    if (call == 0)
        return;
    if (privilege == LINECALLPRIVILEGE_OWNER)
        m_call = call;
    m_callState = state;
    switch (state) {
    case LINECALLSTATE_OFFERING:
        m_lastRing = std::chrono::steady_clock::now();
        if (m_answering)
            return;
        // Taken now, answered after the pause: a repeated offer meanwhile is ignored.
        m_answering = true;
        m_offeredCall = call;
        if (m_attemptOpen && !m_connected)
            finishAttempt(); // an earlier offer that never became a call
        if (!m_attemptOpen)
            beginAttempt(true, {});
        m_answerPause.start();
        return;
    case LINECALLSTATE_CONNECTED: {
        if (m_connected)
            return;
        m_connected = true;
        closeDialStatus();
        m_attempt.connected = true;
        m_connectedAt = std::chrono::steady_clock::now();
        if (CallStatus status; m_service.callStatus(call, status) == LINEERR_OK)
            m_attempt.connectSpeed = status.rate;
        int fd = -1;
        const std::int32_t idResult = m_service.id(call, LINECALLSELECT_CALL, kDataModemClass, fd);
        if (idResult != LINEERR_OK)
            qCWarning(lcLink, "no data handle for the connected call: error 0x%08x", unsigned(idResult));
        if (idResult != LINEERR_OK || !m_port->Start(fd, m_answered)) {
            m_connected = false;
            m_attempt.connected = false; // the connection never ran: nothing of it to count
            ResetLine();
        }
        return;
    }
    case LINECALLSTATE_BUSY:
    case LINECALLSTATE_SPECIALINFO:
    case LINECALLSTATE_DISCONNECTED:
    case LINECALLSTATE_UNKNOWN:
        if (state == LINECALLSTATE_BUSY)
            noteEnd(LineCallEnd::Busy);
        else if (state == LINECALLSTATE_DISCONNECTED && m_connected)
            noteEnd(LineCallEnd::FarEnd);
        else if (state == LINECALLSTATE_DISCONNECTED && detail == LINEDISCONNECTMODE_NOANSWER)
            noteEnd(LineCallEnd::NoAnswer);
        else if (state == LINECALLSTATE_DISCONNECTED && detail == LINEDISCONNECTMODE_NODIALTONE)
            noteEnd(LineCallEnd::NoDialTone);
        else
            noteEnd(LineCallEnd::NoCarrier);
        if (m_callEnded && !m_dropping && call == m_call) {
            const CallEnd end{!m_answered && !m_answering, m_connected, state, m_callStateDetail};
            m_callEnded(end);
        }
        ResetLine();
        return;
    default:
        return;
    }
}

void LineManager::answerOffered() {
    const Call call = m_offeredCall;
    m_offeredCall = 0;
    // The offer may have ended during the pause (dropped, line reset).
    if (call == 0 || call != m_call || m_line == 0)
        return;
    m_answering = true;
    waitForReply(m_service.answer(call));
    if (m_call != call)
        return; // dropped while the answer was under way
    m_answered = true;
    m_watchdogRunning = true;
    m_watchdog.startAnswerWatchdog(m_timings.answerWatchdogMs);
}

void LineManager::onDeviceState(Line line, std::uint32_t state, std::uint32_t detail) {
    if (line == 0 || line != m_line)
        return;
    switch (state) {
    case LINEDEVSTATE_RINGING:
        m_lastRing = std::chrono::steady_clock::now();
        return;
    case LINEDEVSTATE_DISCONNECTED:
    case LINEDEVSTATE_OUTOFSERVICE:
    case LINEDEVSTATE_MAINTENANCE:
    case LINEDEVSTATE_TRANSLATECHANGE:
    case LINEDEVSTATE_REMOVED:
        noteEnd(LineCallEnd::LineError);
        Reinitialize(-1);
        return;
    case LINEDEVSTATE_REINIT:
        if (detail == 0) {
            noteEnd(LineCallEnd::LineError);
            Reinitialize(-1);
        }
        return;
    default:
        return;
    }
}

void LineManager::beginAttempt(bool answered, const QString& number) {
    finishAttempt();
    m_attempt = LineCallRecord{};
    m_attempt.answered = answered;
    m_attempt.number = number;
    m_attempt.modem = m_lineName;
    m_attempt.start = QDateTime::currentDateTime();
    m_attemptOpen = true;
    m_endNoted = false;
}

void LineManager::noteEnd(LineCallEnd end) {
    if (!m_attemptOpen || m_endNoted)
        return;
    m_attempt.end = end;
    m_endNoted = true;
}

void LineManager::finishAttempt() {
    if (!m_attemptOpen)
        return;
    m_attemptOpen = false;
    if (!m_endNoted)
        m_attempt.end = LineCallEnd::Local;
    if (m_attempt.connected)
        m_attempt.connectedFor = std::chrono::duration_cast<std::chrono::milliseconds>(
            std::chrono::steady_clock::now() - m_connectedAt);
    if (m_callEndSink)
        m_callEndSink->onCallEnded(m_attempt);
}
