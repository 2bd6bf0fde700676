#include "platform/telephony/HayesTelephony.h"

#include "platform/log/DialscopeLog.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <system_error>

namespace tel {

namespace {

constexpr std::uint32_t kDefaultNoAnswerSeconds = 30;
constexpr std::size_t kMaxDialLength = 60;

std::string canonicalPath(const std::string& path) {
    char* real = realpath(path.c_str(), nullptr);
    if (!real)
        return path;
    std::string result(real);
    std::free(real);
    return result;
}

} // namespace

HayesTelephony::HayesTelephony(PortSources sources, HayesTimings timings, QObject* parent)
    : QObject(parent)
    , m_sources(std::move(sources))
    , m_timings(timings) {
    m_settle.setSingleShot(true);
    m_settle.setInterval(m_timings.hotplugSettleMs);
    connect(&m_watcher, &QFileSystemWatcher::directoryChanged, this, [this] { m_settle.start(); });
    connect(&m_settle, &QTimer::timeout, this, &HayesTelephony::rescan);
}

HayesTelephony::~HayesTelephony() {
    // The discovery worker posts to this object; its answer is dropped with it.
    if (m_discovery.joinable())
        m_discovery.join();
    // Workers first: they post to this object until they are joined.
    m_lines.clear();
}

std::int32_t HayesTelephony::Initialize(const std::string& appName, LineCallback callback, LineApp& app,
                                        std::uint32_t& numDevs, std::uint32_t& apiVersion) {
    if (m_app != 0)
        return LINEERR_INVALAPPHANDLE;
    if (!callback || appName.empty())
        return LINEERR_INVALPARAM;
    if (apiVersion < kLowestApiVersion)
        return LINEERR_INCOMPATIBLEAPIVERSION;
    apiVersion = std::min(apiVersion, kHighestApiVersion);

    if (m_found) {
        m_devices = std::move(*m_found);
        m_found.reset();
    } else {
        ++m_discoveryRound; // a discovery under way answers for an older state
        m_devices = presentDevices(probeKnown());
    }
    const std::vector<std::string> scanned = scannedPortIds(m_sources);
    m_knownPorts = {scanned.begin(), scanned.end()};
    watchFolders();

    m_callback = std::move(callback);
    m_app = m_nextHandle++;
    ++m_session;
    app = m_app;
    numDevs = static_cast<std::uint32_t>(m_devices.size());
    return LINEERR_OK;
}

std::vector<HayesTelephony::Device> HayesTelephony::presentDevices(const std::vector<ProbeResult>& probes) {
    std::vector<Device> devices;
    for (const ProbeResult& probe : probes)
        if (probe.present)
            devices.push_back({probe.path, probe.modem, probe.name});
    return devices;
}

std::vector<ProbeResult> HayesTelephony::probeKnown() {
    const std::vector<std::string> paths = listSerialPorts(m_sources);
    std::vector<std::string> unknown;
    for (const std::string& path : paths)
        if (!isNetworkModem(path) || !m_networkProbes.count(path))
            unknown.push_back(path);
    const std::vector<ProbeResult> probed = probePorts(unknown, m_timings.probeAnswerMs, m_timings.connectMs);
    rememberNetworkProbes(probed);
    std::vector<ProbeResult> results;
    results.reserve(paths.size());
    std::size_t next = 0;
    for (const std::string& path : paths) {
        const auto known = m_networkProbes.find(path);
        if (next < probed.size() && probed[next].path == path)
            results.push_back(probed[next++]);
        else if (known != m_networkProbes.end())
            results.push_back(known->second);
    }
    return results;
}

void HayesTelephony::rememberNetworkProbes(const std::vector<ProbeResult>& probes) {
    for (const ProbeResult& probe : probes) {
        if (!isNetworkModem(probe.path))
            continue;
        const auto old = m_networkProbes.find(probe.path);
        const bool wasAnswering = old == m_networkProbes.end() || old->second.modem;
        if (!probe.modem && wasAnswering)
            qCWarning(lcTelephony, "network modem %s does not answer (unreachable, or no modem behind it)",
                      probe.path.c_str());
        m_networkProbes[probe.path] = probe;
    }
}

void HayesTelephony::setNetworkModems(const std::vector<std::string>& urls) {
    m_sources.networkModems = urls;
    // Forget the answers of addresses no longer listed (bounded by the lists).
    std::erase_if(m_networkProbes, [this](const auto& entry) {
        const auto listed = [&entry](const std::vector<std::string>& list) {
            return std::find(list.begin(), list.end(), entry.first) != list.end();
        };
        return !listed(m_sources.networkModems) && !listed(m_sources.explicitPaths);
    });
}

bool HayesTelephony::hasUnansweredNetworkModems() const {
    return std::any_of(m_devices.begin(), m_devices.end(),
                       [](const Device& device) { return isNetworkModem(device.path) && !device.modem; });
}

void HayesTelephony::discover(std::function<void()> done) {
    if (done)
        m_discoverDone.push_back(std::move(done));
    if (m_discovering)
        return; // the one under way answers every caller
    if (m_discovery.joinable())
        m_discovery.join(); // finished: its answer has been delivered
    m_discovering = true;
    const std::uint64_t round = ++m_discoveryRound;
    try {
        m_discovery = std::thread([this, round, sources = m_sources, answerMs = m_timings.probeAnswerMs,
                                   connectMs = m_timings.connectMs] {
            const std::vector<ProbeResult> probes = probePorts(listSerialPorts(sources), answerMs, connectMs);
            QMetaObject::invokeMethod(
                this, [this, round, probes] { finishDiscovery(round, probes); }, Qt::QueuedConnection);
        });
    } catch (const std::system_error&) {
        // No thread to spare: probe in line, as Initialize would.
        finishDiscovery(round,
                        probePorts(listSerialPorts(m_sources), m_timings.probeAnswerMs, m_timings.connectMs));
    }
}

void HayesTelephony::finishDiscovery(std::uint64_t round, const std::vector<ProbeResult>& probes) {
    m_discovering = false;
    rememberNetworkProbes(probes);
    if (round == m_discoveryRound)
        m_found = presentDevices(probes);
    std::vector<std::function<void()>> waiting;
    waiting.swap(m_discoverDone);
    for (const std::function<void()>& done : waiting)
        done();
}

std::int32_t HayesTelephony::Shutdown(LineApp app) {
    if (m_app == 0 || app != m_app)
        return LINEERR_INVALAPPHANDLE;
    m_lines.clear();
    m_calls.clear();
    m_app = 0;
    ++m_session;
    m_settle.stop();
    if (!m_watcher.directories().isEmpty())
        m_watcher.removePaths(m_watcher.directories());
    return LINEERR_OK;
}

std::int32_t HayesTelephony::negotiateApiVersion(LineApp app, std::uint32_t deviceId, std::uint32_t low,
                                                 std::uint32_t high, std::uint32_t& version) {
    if (m_app == 0 || app != m_app)
        return LINEERR_INVALAPPHANDLE;
    if (deviceId >= m_devices.size())
        return LINEERR_BADDEVICEID;
    if (low > high || high < kLowestApiVersion || low > kHighestApiVersion)
        return LINEERR_INCOMPATIBLEAPIVERSION;
    version = std::min(high, kHighestApiVersion);
    return LINEERR_OK;
}

std::int32_t HayesTelephony::devCaps(LineApp app, std::uint32_t deviceId, std::uint32_t apiVersion,
                                     LineDevCaps& caps) {
    if (m_app == 0 || app != m_app)
        return LINEERR_INVALAPPHANDLE;
    if (deviceId >= m_devices.size())
        return LINEERR_BADDEVICEID;
    if (apiVersion < kLowestApiVersion || apiVersion > kHighestApiVersion)
        return LINEERR_INCOMPATIBLEAPIVERSION;
    const Device& device = m_devices[deviceId];
    caps = LineDevCaps{};
    caps.lineName = device.name;
    caps.stringFormat = StringFormat::Ascii;
    if (device.modem) {
        caps.bearerModes = LINEBEARERMODE_VOICE;
        caps.mediaModes = LINEMEDIAMODE_DATAMODEM;
        caps.lineFeatures = LINEFEATURE_MAKECALL;
        caps.numAddresses = 1;
    }
    return LINEERR_OK;
}

std::int32_t HayesTelephony::icon(std::uint32_t deviceId, DeviceIcon& icon) {
    if (deviceId >= m_devices.size())
        return LINEERR_BADDEVICEID;
    icon = m_devices[deviceId].modem ? DeviceIcon::DataModem : DeviceIcon::SerialPort;
    return LINEERR_OK;
}

std::string HayesTelephony::devicePath(std::uint32_t deviceId) const {
    return deviceId < m_devices.size() ? m_devices[deviceId].path : std::string();
}

std::int32_t HayesTelephony::Open(LineApp app, std::uint32_t deviceId, Line& line, std::uint32_t apiVersion,
                                  std::uint32_t privileges, std::uint32_t mediaModes) {
    if (m_app == 0 || app != m_app)
        return LINEERR_INVALAPPHANDLE;
    if (deviceId >= m_devices.size())
        return LINEERR_BADDEVICEID;
    if (apiVersion < kLowestApiVersion || apiVersion > kHighestApiVersion)
        return LINEERR_INCOMPATIBLEAPIVERSION;
    if ((privileges & (LINECALLPRIVILEGE_OWNER | LINECALLPRIVILEGE_MONITOR | LINECALLPRIVILEGE_NONE)) == 0 ||
        mediaModes != LINEMEDIAMODE_DATAMODEM)
        return LINEERR_INVALPARAM;
    const Device& device = m_devices[deviceId];
    if (!device.modem)
        return LINEERR_NODEVICE;
    for (const auto& [handle, record] : m_lines)
        if (record.deviceId == deviceId)
            return LINEERR_RESOURCEUNAVAIL;

    // A local port opens at once; a network modem is connected on the line's
    // worker (an unreachable host closes the line instead of holding us).
    ModemLine::Opener opener;
    if (isNetworkModem(device.path)) {
        opener = [path = device.path, connectMs = m_timings.connectMs](int wakeFd) {
            std::optional<SerialPort> port = SerialPort::Open(path, connectMs, wakeFd);
            if (!port)
                qCWarning(lcTelephony, "cannot reach the modem at %s: %s", path.c_str(),
                          std::strerror(errno));
            return port;
        };
    } else {
        std::optional<SerialPort> port = SerialPort::Open(device.path);
        if (!port) {
            qCWarning(lcTelephony, "cannot open the modem at %s: %s", device.path.c_str(),
                      std::strerror(errno));
            return LINEERR_NODEVICE;
        }
        opener = [shared = std::make_shared<SerialPort>(std::move(*port))](int) -> std::optional<SerialPort> {
            return std::move(*shared);
        };
    }
    const Line handle = m_nextHandle++;
    const std::uint64_t session = m_session;
    auto modem = std::make_unique<ModemLine>(
        std::move(opener), m_timings,
        [this, session, handle](const ModemEvent& event) { enqueue(session, handle, event); },
        [this] { return m_nextHandle++; });
    if (!modem->started()) {
        qCWarning(lcTelephony, "no worker for the modem at %s", device.path.c_str());
        return LINEERR_RESOURCEUNAVAIL;
    }
    m_lines[handle] = OpenLineRecord{deviceId, 0, std::move(modem)};
    line = handle;
    return LINEERR_OK;
}

std::int32_t HayesTelephony::setStatusMessages(Line line, std::uint32_t lineStates, std::uint32_t) {
    auto it = m_lines.find(line);
    if (it == m_lines.end())
        return LINEERR_INVALLINEHANDLE;
    it->second.lineStates = lineStates;
    return LINEERR_OK;
}

std::int32_t HayesTelephony::addressStatus(Line line, std::uint32_t addressId, AddressStatus& status) {
    auto it = m_lines.find(line);
    if (it == m_lines.end())
        return LINEERR_INVALLINEHANDLE;
    if (addressId != 0)
        return LINEERR_INVALPARAM;
    status = AddressStatus{};
    for (const auto& [call, record] : m_calls)
        if (record.line == line && record.status.callState != LINECALLSTATE_IDLE)
            ++status.numActiveCalls;
    if (status.numActiveCalls == 0 && !it->second.modem->dead())
        status.addressFeatures = LINEADDRFEATURE_MAKECALL;
    return LINEERR_OK;
}

std::int32_t HayesTelephony::close(Line line) {
    if (m_lines.find(line) == m_lines.end())
        return LINEERR_INVALLINEHANDLE;
    forgetLine(line);
    return LINEERR_OK;
}

void HayesTelephony::forgetLine(Line line) {
    for (auto it = m_calls.begin(); it != m_calls.end();)
        it = it->second.line == line ? m_calls.erase(it) : std::next(it);
    auto node = m_lines.extract(line); // the worker is joined when `node` goes
}

std::optional<std::string> HayesTelephony::dialString(const std::string& number) {
    static constexpr std::string_view kDialable = "0123456789*#ABCDabcd,WwPpTt!@";
    static constexpr std::string_view kSeparators = " -()./";
    std::string dial;
    for (char c : number) {
        if (kSeparators.find(c) != std::string_view::npos)
            continue;
        if (kDialable.find(c) == std::string_view::npos)
            return std::nullopt;
        dial.push_back(c);
    }
    if (dial.empty() || dial.size() > kMaxDialLength)
        return std::nullopt;
    return dial;
}

std::uint32_t HayesTelephony::nextRequest() {
    if (++m_nextRequest > static_cast<std::uint32_t>(INT32_MAX))
        m_nextRequest = 1;
    return m_nextRequest;
}

std::int32_t HayesTelephony::makeCall(Line line, Call& call, const std::string& number, std::uint32_t,
                                      const CallParams& params) {
    auto it = m_lines.find(line);
    if (it == m_lines.end())
        return LINEERR_INVALLINEHANDLE;
    const std::optional<std::string> dial = dialString(number);
    if (!dial)
        return LINEERR_INVALADDRESS;
    if (it->second.modem->dead())
        return LINEERR_OPERATIONFAILED;
    const Call handle = m_nextHandle++;
    m_calls[handle] = CallRecord{line, CallStatus{LINECALLSTATE_DIALING, 0, LINECALLPRIVILEGE_OWNER}};
    const std::uint32_t request = nextRequest();
    const std::uint32_t seconds = params.noAnswerTimeout ? params.noAnswerTimeout : kDefaultNoAnswerSeconds;
    it->second.modem->Dial(handle, *dial, static_cast<int>(std::min<std::uint32_t>(seconds, 3600) * 1000),
                           request);
    call = handle;
    return static_cast<std::int32_t>(request);
}

ModemLine* HayesTelephony::lineOf(Call call) {
    auto it = m_calls.find(call);
    if (it == m_calls.end())
        return nullptr;
    auto line = m_lines.find(it->second.line);
    return line == m_lines.end() ? nullptr : line->second.modem.get();
}

std::int32_t HayesTelephony::answer(Call call) {
    ModemLine* modem = lineOf(call);
    if (!modem)
        return LINEERR_INVALCALLHANDLE;
    if (m_calls[call].status.callState != LINECALLSTATE_OFFERING)
        return LINEERR_INVALCALLSTATE;
    const std::uint32_t request = nextRequest();
    modem->answer(call, request);
    return static_cast<std::int32_t>(request);
}

std::int32_t HayesTelephony::drop(Call call) {
    ModemLine* modem = lineOf(call);
    if (!modem)
        return LINEERR_INVALCALLHANDLE;
    const std::uint32_t request = nextRequest();
    modem->drop(call, request);
    return static_cast<std::int32_t>(request);
}

std::int32_t HayesTelephony::deallocateCall(Call call) {
    ModemLine* modem = lineOf(call);
    if (!modem)
        return LINEERR_INVALCALLHANDLE;
    m_calls.erase(call);
    modem->release(call);
    return LINEERR_OK;
}

std::int32_t HayesTelephony::callStatus(Call call, CallStatus& status) {
    auto it = m_calls.find(call);
    if (it == m_calls.end())
        return LINEERR_INVALCALLHANDLE;
    status = it->second.status;
    return LINEERR_OK;
}

std::int32_t HayesTelephony::id(Call call, std::uint32_t select, const std::string& deviceClass,
                                int& handle) {
    if (select != LINECALLSELECT_CALL)
        return LINEERR_INVALPARAM;
    ModemLine* modem = lineOf(call);
    if (!modem)
        return LINEERR_INVALCALLHANDLE;
    if (deviceClass != kDataModemClass)
        return LINEERR_INVALDEVICECLASS;
    if (m_calls[call].status.callState != LINECALLSTATE_CONNECTED)
        return LINEERR_INVALCALLSTATE;
    const int fd = modem->dataHandle();
    if (fd < 0)
        return LINEERR_OPERATIONFAILED;
    handle = fd;
    return LINEERR_OK;
}

void HayesTelephony::enqueue(std::uint64_t session, Line line, const ModemEvent& event) {
    QMetaObject::invokeMethod(
        this, [this, session, line, event] { deliver(session, line, event); }, Qt::QueuedConnection);
}

void HayesTelephony::notify(const LineMessage& message) {
    // A copy: the callback may shut the service down and replace m_callback.
    const LineCallback callback = m_callback;
    if (callback)
        callback(message);
}

void HayesTelephony::postNotify(const LineMessage& message) {
    const std::uint64_t session = m_session;
    QMetaObject::invokeMethod(
        this,
        [this, session, message] {
            if (session == m_session && m_app != 0)
                notify(message);
        },
        Qt::QueuedConnection);
}

void HayesTelephony::deliver(std::uint64_t session, Line line, const ModemEvent& event) {
    if (session != m_session || m_app == 0)
        return;
    auto it = m_lines.find(line);
    if (it == m_lines.end())
        return;
    switch (event.kind) {
    case ModemEvent::Kind::Reply:
        notify({0, LINE_REPLY, event.requestId, static_cast<std::uint32_t>(event.result), 0});
        return;
    case ModemEvent::Kind::Ring: {
        const bool ringing = (it->second.lineStates & LINEDEVSTATE_RINGING) != 0;
        if (event.newCall) {
            m_calls[event.call] =
                CallRecord{line, CallStatus{LINECALLSTATE_OFFERING, 0, LINECALLPRIVILEGE_OWNER}};
            notify({event.call, LINE_CALLSTATE, LINECALLSTATE_OFFERING, 0, LINECALLPRIVILEGE_OWNER});
        } else if (m_calls.count(event.call) == 0) {
            return;
        }
        if (ringing && session == m_session && m_lines.count(line))
            notify({line, LINE_LINEDEVSTATE, LINEDEVSTATE_RINGING, 0, 0});
        return;
    }
    case ModemEvent::Kind::CallState: {
        auto call = m_calls.find(event.call);
        if (call == m_calls.end())
            return;
        call->second.status.callState = event.state;
        call->second.status.callStateMode = event.detail;
        if (event.state == LINECALLSTATE_CONNECTED)
            call->second.status.rate = event.rate;
        notify({event.call, LINE_CALLSTATE, event.state, event.detail, 0});
        return;
    }
    case ModemEvent::Kind::Closed:
        if (it->second.deviceId < m_devices.size())
            qCWarning(lcTelephony, "the modem at %s is gone; its line is closed",
                      m_devices[it->second.deviceId].path.c_str());
        forgetLine(line);
        notify({line, LINE_CLOSE, 0, 0, 0});
        return;
    }
}

void HayesTelephony::watchFolders() {
    QStringList folders;
    for (const std::string& pattern : m_sources.scanPatterns) {
        const QString folder = QFileInfo(QString::fromStdString(pattern)).path();
        if (QFileInfo(folder).isDir() && !folders.contains(folder))
            folders << folder;
    }
    const QStringList watched = m_watcher.directories();
    for (const QString& folder : folders)
        if (!watched.contains(folder))
            m_watcher.addPath(folder);
}

void HayesTelephony::rescan() {
    if (m_app == 0)
        return;
    watchFolders(); // a by-id folder may have appeared with the first USB port
    const std::vector<std::string> scanned = scannedPortIds(m_sources);
    const std::set<std::string> now(scanned.begin(), scanned.end());
    std::uint32_t nextId = static_cast<std::uint32_t>(m_devices.size());
    for (const std::string& id : now)
        if (!m_knownPorts.count(id))
            postNotify({0, LINE_CREATE, nextId++, 0, 0});
    for (const std::string& id : m_knownPorts) {
        if (now.count(id))
            continue;
        std::uint32_t deviceId = 0;
        for (; deviceId < m_devices.size(); ++deviceId)
            if (canonicalPath(m_devices[deviceId].path) == id || m_devices[deviceId].path == id)
                break;
        postNotify({0, LINE_REMOVE, deviceId, 0, 0});
    }
    m_knownPorts = now;
}

} // namespace tel
