#pragma once

// The running simulator: one poll() loop over the pseudo-terminal's master,
// the control socket and its clients, and a stop descriptor (the signalfd of
// SIGTERM/SIGINT), with the modem's and the site's deadlines as the poll
// timeout. Nothing spins: the loop sleeps until a descriptor or a deadline.
//
// The slave side is published as a symlink (made under a temporary name and
// renamed over the old one, so it is never missing). The simulator keeps a
// descriptor of its own slave open so the master never reports a hang-up when
// the program closes and reopens the port. A far-end hang-up publishes a fresh
// terminal first and then, after a short linger that lets the program read
// the modem's NO CARRIER (the kernel drops unread data when a master closes),
// closes the old master: the program sees EIO/POLLHUP on its slave and finds
// the modem again at the same path.
//
// A pseudo-terminal shows no DTR, but inotify on the slave device reports
// every open and close: when the last of the program's descriptors closes,
// that counts as a DTR drop (the modem acts as &D says, a data-only session
// starts afresh) and unread data is flushed, so the next opener of the port
// never reads what was meant for the previous one.
//
// With --tcp/--rfc2217 the modem is also reachable on the loopback address,
// one client at a time (a new one takes over from the old): while a client is
// connected the modem talks to it
// instead of the terminal, and its disconnecting counts as a DTR drop. Over
// Telnet every byte is IAC-escaped both ways, the COM-PORT-CONTROL settings
// are acknowledged, SET-CONTROL DTR off is a DTR drop and carrier changes go
// out as NOTIFY-MODEMSTATE. What is waiting for the client is bounded: the
// site's data stays queued while the socket buffer is full.
//
// Modem responses go out at once; the site's data goes out only while the
// call is online, through a token bucket when a bit rate is set. While the
// bad peer is on (--chaos, "chaos on"), every site packet passes through a
// DamageGenerator on its way out.

#include "platform/telephony/TelnetCodec.h"
#include "tools/sitesim/DamageGenerator.h"
#include "tools/sitesim/JsonLog.h"
#include "tools/sitesim/ModemEmulator.h"
#include "tools/sitesim/SimOptions.h"
#include "tools/sitesim/SiteSimulator.h"

#include <memory>
#include <string>
#include <vector>

namespace sitesim {

class SimServer {
public:
    explicit SimServer(SimOptions options);
    ~SimServer();
    SimServer(const SimServer&) = delete;
    SimServer& operator=(const SimServer&) = delete;

    // Opens the log, publishes the terminal and the control socket.
    bool start(std::string& error);
    // Runs until `stopFd` becomes readable or a "quit" command arrives.
    void run(int stopFd);
    // Removes the symlink (when it still names this simulator's terminal) and
    // the control socket.
    void cleanUp();

    // Executes one control command and returns its reply line (no newline).
    std::string runCommand(const std::string& line);

private:
    struct Client {
        int fd = -1;
        std::string in;
        std::string out;
    };

    bool publishPty(std::string& error);
    void closeRetired();
    void watchSlave();
    void readPortEvents();
    void portClosed();
    bool openControl(std::string& error);
    void farEndHangUp();
    bool linkOnline() const;
    void readMaster();
    void writeMaster();
    void refillTokens();
    std::optional<TimePoint> bandwidthWake() const;
    void acceptClient();
    bool serviceClient(Client& client, short revents);
    void runDueCommands();
    std::string status() const;
    void sendSitePacket(const std::vector<uint8_t>& packet);
    bool openTcp(std::string& error);
    void acceptTcp();
    void readConn();
    void flushConn();
    void closeConn();
    void telnetEvent(const telnet::Event& event);
    void sendModemState(bool carrier);
    // Writes to the modem's terminal side (the TCP client while one is
    // connected); the bytes taken, <= 0 when none can be taken now.
    ssize_t dteWrite(const char* bytes, size_t size);
    std::string chaosCommand(const std::vector<std::string>& words);
    void log(const JsonObject& entry) { m_log.write(entry); }

    SimOptions m_options;
    JsonLog m_log;
    std::unique_ptr<ModemEmulator> m_modem;
    std::unique_ptr<SiteSimulator> m_site;
    TimePoint m_now = Clock::now();

    int m_master = -1;
    int m_slaveKeep = -1;
    std::string m_slavePath;
    int m_retiredMaster = -1; // the terminal before a far-end hang-up, closed at m_retireAt
    int m_retiredKeep = -1;
    TimePoint m_retireAt{};
    int m_inotify = -1;
    int m_watch = -1;
    int m_portOpens = 0; // the program's open descriptions of the current slave
    int m_listen = -1;
    std::vector<Client> m_clients;

    int m_tcpListen = -1;
    uint16_t m_tcpPort = 0;
    int m_conn = -1;
    std::string m_connOut; // encoded bytes waiting for the TCP client
    telnet::Decoder m_telnetIn;
    bool m_dtr = true;
    bool m_carrier = false;

    std::string m_dteOut;  // modem responses
    std::string m_siteOut; // site data, sent while online
    double m_tokens = 0;
    TimePoint m_lastRefill = Clock::now();
    uint64_t m_bytesToViewer = 0;
    uint64_t m_bytesFromViewer = 0;

    DamageGenerator m_chaos;
    bool m_chaosOn = false;

    std::vector<std::pair<TimePoint, std::string>> m_scheduled;
    bool m_quit = false;
};

} // namespace sitesim
