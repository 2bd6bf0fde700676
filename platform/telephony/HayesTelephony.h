#pragma once

// The telephony service on Linux: every serial port that exists is a line
// device, and each one that answers "AT" with "OK" is a data modem that can
// place and answer calls (see ModemLine for how the modem is driven).
//
// Initialize lists the ports (SerialPort.h: PortSources) and probes them all
// at once with short time-outs, so it holds the caller for well under two
// probe answer times. Discover does the same listing and probing on a worker
// thread and hands the result to the next Initialize, which then answers at
// once; the program starts with it so that its window never waits for a port
// that does not answer. The worker is joined on destruction (a probe is
// bounded by two probe answer times, so that wait is short). While initialised, the folders of the scanned
// ports are watched: a port that appears or disappears there is reported as LINE_CREATE or LINE_REMOVE.
//
// Network modems are probed like serial ports, but an answer (or its absence)
// is remembered per address: a synchronous Initialize probes only those it has
// never heard of, so one that did not answer never holds the caller for the
// connect time-out again. Discover probes them all afresh; that is how an
// unreachable host is tried again. A network modem that stops answering is
// logged once, not at every probe.
//
// Worker threads (one per open line) report through queued calls to this
// object; every message reaches the callback on this object's thread, and
// messages about a session, line or call that has ended meanwhile are dropped
// on arrival.

#include "platform/telephony/HayesTimings.h"
#include "platform/telephony/ModemLine.h"
#include "platform/telephony/SerialPort.h"
#include "platform/telephony/TelephonyService.h"

#include <QFileSystemWatcher>
#include <QObject>
#include <QTimer>

#include <atomic>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <thread>

namespace tel {

class HayesTelephony : public QObject, public TelephonyService {
    Q_OBJECT
public:
    explicit HayesTelephony(PortSources sources = PortSources::fromSystem(), HayesTimings timings = {},
                            QObject* parent = nullptr);
    ~HayesTelephony() override;

    std::int32_t Initialize(const std::string& appName, LineCallback callback, LineApp& app,
                            std::uint32_t& numDevs, std::uint32_t& apiVersion) override;
    std::int32_t Shutdown(LineApp app) override;
    void discover(std::function<void()> done) override;
    void setNetworkModems(const std::vector<std::string>& urls) override;
    bool hasUnansweredNetworkModems() const override;
    std::int32_t negotiateApiVersion(LineApp app, std::uint32_t deviceId, std::uint32_t low,
                                     std::uint32_t high, std::uint32_t& version) override;
    std::int32_t devCaps(LineApp app, std::uint32_t deviceId, std::uint32_t apiVersion,
                         LineDevCaps& caps) override;
    std::int32_t icon(std::uint32_t deviceId, DeviceIcon& icon) override;
    std::int32_t Open(LineApp app, std::uint32_t deviceId, Line& line, std::uint32_t apiVersion,
                      std::uint32_t privileges, std::uint32_t mediaModes) override;
    std::int32_t setStatusMessages(Line line, std::uint32_t lineStates, std::uint32_t addressStates) override;
    std::int32_t addressStatus(Line line, std::uint32_t addressId, AddressStatus& status) override;
    std::int32_t close(Line line) override;
    std::int32_t makeCall(Line line, Call& call, const std::string& number, std::uint32_t countryCode,
                          const CallParams& params) override;
    std::int32_t answer(Call call) override;
    std::int32_t drop(Call call) override;
    std::int32_t deallocateCall(Call call) override;
    std::int32_t callStatus(Call call, CallStatus& status) override;
    std::int32_t id(Call call, std::uint32_t select, const std::string& deviceClass, int& handle) override;

    // Path of a device, for diagnostics and tests; empty when out of range.
    std::string devicePath(std::uint32_t deviceId) const;

    // Keeps only the characters a modem dials ("0-9 * # A-D , W P T ! @"),
    // dropping blanks and the usual separators "-()./"; nullopt when anything
    // else is in the number or nothing is left.
    static std::optional<std::string> dialString(const std::string& number);

private:
    struct Device {
        std::string path;
        bool modem = false;
        std::string name;
    };
    struct OpenLineRecord {
        std::uint32_t deviceId = 0;
        std::uint32_t lineStates = 0;
        std::unique_ptr<ModemLine> modem;
    };
    struct CallRecord {
        Line line = 0;
        CallStatus status;
    };

    void enqueue(std::uint64_t session, Line line, const ModemEvent& event);
    void deliver(std::uint64_t session, Line line, const ModemEvent& event);
    void notify(const LineMessage& message);
    void postNotify(const LineMessage& message);
    void rescan();
    void watchFolders();
    std::uint32_t nextRequest();
    ModemLine* lineOf(Call call);
    void forgetLine(Line line);
    void finishDiscovery(std::uint64_t round, const std::vector<ProbeResult>& probes);
    static std::vector<Device> presentDevices(const std::vector<ProbeResult>& probes);
    // Probes the ports, reusing what is known of network modems already probed.
    std::vector<ProbeResult> probeKnown();
    void rememberNetworkProbes(const std::vector<ProbeResult>& probes);

    PortSources m_sources;                              // changed only on this object's thread
    std::map<std::string, ProbeResult> m_networkProbes; // the last probe of each network modem
    const HayesTimings m_timings;
    LineCallback m_callback;
    LineApp m_app = 0;
    std::uint64_t m_session = 0;
    std::vector<Device> m_devices;
    std::map<Line, OpenLineRecord> m_lines;
    std::map<Call, CallRecord> m_calls;
    std::atomic<std::uint32_t> m_nextHandle{1};
    std::uint32_t m_nextRequest = 0;
    std::set<std::string> m_knownPorts;
    QFileSystemWatcher m_watcher;
    QTimer m_settle;

    // Discovery: the worker, whether it runs, who waits for it, and what it
    // found for the next Initialize. A synchronous Initialize meanwhile bumps
    // the round, so the worker's older answer is not used after it.
    std::thread m_discovery;
    bool m_discovering = false;
    std::uint64_t m_discoveryRound = 0;
    std::vector<std::function<void()>> m_discoverDone;
    std::optional<std::vector<Device>> m_found;
};

} // namespace tel
