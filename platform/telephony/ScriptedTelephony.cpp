#include "platform/telephony/ScriptedTelephony.h"

#include <QTimer>

#include <fcntl.h>
#include <unistd.h>

namespace tel {

std::vector<std::string> ScriptedTelephony::ops(const std::string& prefix) const {
    std::vector<std::string> found;
    for (const std::string& entry : log)
        if (entry.rfind(prefix, 0) == 0)
            found.push_back(entry);
    return found;
}

void ScriptedTelephony::post(const LineMessage& message) {
    QMetaObject::invokeMethod(
        &m_context,
        [this, message] {
            if (m_app != 0 && m_callback)
                m_callback(message);
        },
        Qt::QueuedConnection);
}

void ScriptedTelephony::postCallState(Call call, std::uint32_t state, std::uint32_t privilege) {
    QMetaObject::invokeMethod(
        &m_context,
        [this, call, state, privilege] {
            if (m_app == 0 || !m_callback || m_calls.count(call) == 0)
                return; // released calls report nothing more
            m_calls[call] = state;
            m_callback({call, LINE_CALLSTATE, state, 0, privilege});
        },
        Qt::QueuedConnection);
}

Call ScriptedTelephony::offer() {
    const Call call = m_next++;
    m_lastCall = call;
    m_calls[call] = LINECALLSTATE_OFFERING;
    post({call, LINE_CALLSTATE, LINECALLSTATE_OFFERING, 0, LINECALLPRIVILEGE_OWNER});
    return call;
}

std::int32_t ScriptedTelephony::request(ReplyMode mode) {
    const std::int32_t request = static_cast<std::int32_t>(m_next++);
    if (mode != ReplyMode::Never) {
        const std::int32_t result = mode == ReplyMode::Succeed ? LINEERR_OK : LINEERR_OPERATIONFAILED;
        post({0, LINE_REPLY, static_cast<std::uint32_t>(request), static_cast<std::uint32_t>(result), 0});
    }
    return request;
}

std::int32_t ScriptedTelephony::Initialize(const std::string& appName, LineCallback callback, LineApp& app,
                                           std::uint32_t& numDevs, std::uint32_t&) {
    log.push_back("Initialize " + appName);
    if (initializeResult != LINEERR_OK)
        return initializeResult;
    m_callback = std::move(callback);
    m_app = m_next++;
    app = m_app;
    numDevs = static_cast<std::uint32_t>(devices.size());
    return LINEERR_OK;
}

void ScriptedTelephony::setNetworkModems(const std::vector<std::string>& urls) {
    log.push_back("SetNetworkModems " + std::to_string(urls.size()));
    networkModems = urls;
}

void ScriptedTelephony::discover(std::function<void()> done) {
    log.push_back("Discover");
    if (discoveryMs < 0) {
        TelephonyService::discover(std::move(done));
        return;
    }
    ++m_discoveries;
    QTimer::singleShot(discoveryMs, &m_context, [this, done = std::move(done)] {
        --m_discoveries;
        if (done)
            done();
    });
}

std::int32_t ScriptedTelephony::Shutdown(LineApp app) {
    log.push_back("Shutdown");
    if (app != m_app || m_app == 0)
        return LINEERR_INVALAPPHANDLE;
    m_app = 0;
    m_line = 0;
    m_calls.clear();
    return LINEERR_OK;
}

std::int32_t ScriptedTelephony::negotiateApiVersion(LineApp app, std::uint32_t deviceId, std::uint32_t,
                                                    std::uint32_t high, std::uint32_t& version) {
    if (app != m_app || m_app == 0)
        return LINEERR_INVALAPPHANDLE;
    if (deviceId >= devices.size())
        return LINEERR_BADDEVICEID;
    if (!devices[deviceId].negotiates)
        return LINEERR_INCOMPATIBLEAPIVERSION;
    version = high;
    return LINEERR_OK;
}

std::int32_t ScriptedTelephony::devCaps(LineApp app, std::uint32_t deviceId, std::uint32_t,
                                        LineDevCaps& caps) {
    if (app != m_app || m_app == 0)
        return LINEERR_INVALAPPHANDLE;
    if (deviceId >= devices.size())
        return LINEERR_BADDEVICEID;
    const Device& device = devices[deviceId];
    caps = LineDevCaps{};
    caps.lineName = device.name;
    caps.stringFormat = device.asciiName ? StringFormat::Ascii : StringFormat::None;
    if (device.modem) {
        caps.bearerModes = LINEBEARERMODE_VOICE;
        caps.mediaModes = LINEMEDIAMODE_DATAMODEM;
        caps.lineFeatures = LINEFEATURE_MAKECALL;
    }
    return LINEERR_OK;
}

std::int32_t ScriptedTelephony::icon(std::uint32_t deviceId, DeviceIcon& icon) {
    if (deviceId >= devices.size())
        return LINEERR_BADDEVICEID;
    icon = devices[deviceId].modem ? DeviceIcon::DataModem : DeviceIcon::SerialPort;
    return LINEERR_OK;
}

std::int32_t ScriptedTelephony::Open(LineApp app, std::uint32_t deviceId, Line& line, std::uint32_t,
                                     std::uint32_t privileges, std::uint32_t mediaModes) {
    log.push_back("Open " + std::to_string(deviceId) + " " + std::to_string(privileges) + " " +
                  std::to_string(mediaModes));
    if (app != m_app || m_app == 0)
        return LINEERR_INVALAPPHANDLE;
    if (openResult != LINEERR_OK)
        return openResult;
    m_line = m_next++;
    line = m_line;
    return LINEERR_OK;
}

std::int32_t ScriptedTelephony::setStatusMessages(Line line, std::uint32_t lineStates, std::uint32_t) {
    if (line != m_line || m_line == 0)
        return LINEERR_INVALLINEHANDLE;
    m_lineStates = lineStates;
    return LINEERR_OK;
}

std::int32_t ScriptedTelephony::addressStatus(Line line, std::uint32_t, AddressStatus& status) {
    if (line != m_line || m_line == 0)
        return LINEERR_INVALLINEHANDLE;
    status.addressFeatures = addressFeatures;
    return LINEERR_OK;
}

std::int32_t ScriptedTelephony::close(Line line) {
    log.push_back("Close");
    if (line != m_line || m_line == 0)
        return LINEERR_INVALLINEHANDLE;
    m_line = 0;
    m_calls.clear();
    return LINEERR_OK;
}

std::int32_t ScriptedTelephony::makeCall(Line line, Call& call, const std::string& number, std::uint32_t,
                                         const CallParams& params) {
    log.push_back("MakeCall " + number);
    if (line != m_line || m_line == 0)
        return LINEERR_INVALLINEHANDLE;
    m_lastParams = params;
    call = m_next++;
    m_lastCall = call;
    m_calls[call] = LINECALLSTATE_DIALING;
    return request(makeCallReply);
}

std::int32_t ScriptedTelephony::answer(Call call) {
    log.push_back("Answer " + std::to_string(call));
    if (m_calls.count(call) == 0)
        return LINEERR_INVALCALLHANDLE;
    return request(answerReply);
}

std::int32_t ScriptedTelephony::drop(Call call) {
    log.push_back("Drop " + std::to_string(call));
    if (m_calls.count(call) == 0)
        return LINEERR_INVALCALLHANDLE;
    m_calls[call] = LINECALLSTATE_IDLE;
    return request(dropReply);
}

std::int32_t ScriptedTelephony::deallocateCall(Call call) {
    log.push_back("Deallocate " + std::to_string(call));
    return m_calls.erase(call) ? LINEERR_OK : LINEERR_INVALCALLHANDLE;
}

std::int32_t ScriptedTelephony::callStatus(Call call, CallStatus& status) {
    auto it = m_calls.find(call);
    if (it == m_calls.end())
        return LINEERR_INVALCALLHANDLE;
    status = CallStatus{it->second, 0, LINECALLPRIVILEGE_OWNER};
    return LINEERR_OK;
}

std::int32_t ScriptedTelephony::id(Call call, std::uint32_t, const std::string& deviceClass, int& handle) {
    log.push_back("GetID " + std::to_string(call) + " " + deviceClass);
    if (getIdResult != LINEERR_OK)
        return getIdResult;
    if (m_calls.count(call) == 0)
        return LINEERR_INVALCALLHANDLE;
    handle = ::open("/dev/null", O_RDWR | O_CLOEXEC);
    return handle >= 0 ? LINEERR_OK : LINEERR_OPERATIONFAILED;
}

} // namespace tel
