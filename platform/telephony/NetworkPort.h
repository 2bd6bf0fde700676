#pragma once

// Modems behind serial device servers. A modem "path" may be a URL:
//   tcp://HOST:PORT      raw TCP, the bytes of the serial line and nothing else;
//   rfc2217://HOST:PORT  Telnet with COM-PORT-CONTROL (line settings, DTR, DCD).
//
// Either way the rest of the program gets one non-blocking descriptor that
// carries the bare byte stream: the connected socket itself for raw TCP; for
// RFC 2217 one end of a socket pair, the other end of which a pump thread
// (Rfc2217Link) joins to the server through the Telnet codec, escaping and
// unescaping IAC bytes and keeping the modem state the server reports.
//
// The pump ends when the server closes the connection (it then closes its end
// of the pair, so readers see end of file and pollers a hang-up) or when every
// local descriptor of the pair is closed. Its buffers are bounded both ways: it
// stops reading one side while the other side's buffer is full.
//
// Raw TCP goes through the same kind of pump, without telnet (Rfc2217Link::
// StartRaw): the bytes pass unchanged, and during a call the pump watches them
// for the modem's NO CARRIER result (NoCarrierWatch.h), since raw TCP has no
// carrier line and a device server may keep the connection open.
//
// Shutdown order (destructor): abort flag, wake, join; descriptors close last.

#include "platform/telephony/ComPortClient.h"
#include "platform/telephony/NoCarrierWatch.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

struct NetworkEndpoint {
    enum class Kind { RawTcp, Rfc2217 };
    Kind kind = Kind::RawTcp;
    std::string host;
    std::uint16_t port = 0;
};

// True when `path` names a network modem (holds "://").
bool isNetworkModem(std::string_view path);
// "tcp://HOST:PORT" or "rfc2217://HOST:PORT" (HOST may be "[v6]"); nullopt
// for any other scheme, a missing host or a port outside 1..65535.
std::optional<NetworkEndpoint> parseNetworkEndpoint(std::string_view url);
// A DIALSCOPE_MODEMS-style list: entries separated by ',' or whitespace, and
// by ':' too when the list holds no "://" (older colon-separated lists).
std::vector<std::string> splitModemList(std::string_view list);

// Connects to the endpoint within `timeoutMs` (each resolved address in turn);
// a connected non-blocking socket with TCP_NODELAY, or -1 with errno set
// (ETIMEDOUT, ECANCELED when `wakeFd` fired first).
int connectTcp(const NetworkEndpoint& endpoint, int timeoutMs, int wakeFd);

class Rfc2217Link {
public:
    static constexpr std::size_t kMaxBuffered = 256 * 1024;

    // Takes over a connected socket and negotiates COM-PORT-CONTROL, waiting at
    // most `timeoutMs` for the server to agree. On success `localFd` is the
    // program's end of the byte stream (non-blocking, the caller owns it).
    // nullptr with errno set when the server refuses, closes or stays silent.
    static std::shared_ptr<Rfc2217Link> Start(int socketFd, int timeoutMs, int wakeFd, int& localFd);
    // Takes over a connected raw TCP socket: a plain pass-through (no Telnet)
    // that can watch the stream for NO CARRIER. nullptr with errno set on failure.
    static std::shared_ptr<Rfc2217Link> startRaw(int socketFd, int& localFd);
    ~Rfc2217Link();
    Rfc2217Link(const Rfc2217Link&) = delete;
    Rfc2217Link& operator=(const Rfc2217Link&) = delete;

    bool hasModemState() const;
    // Telnet: the DCD the server reported. Raw: no NO CARRIER has been seen
    // since WatchNoCarrier armed the watch. False once the connection is gone.
    bool carrierDetect() const;
    // Queues SET-CONTROL DTR on/off; false once the connection is gone, and
    // always on raw TCP (no DTR there).
    bool setDtr(bool on);
    // Raw TCP: starts (a call connected) or stops watching for NO CARRIER
    // followed by `quietMs` of silence. Ignored over Telnet.
    void watchNoCarrier(bool on, int quietMs);
    bool closed() const { return m_closed.load(); }

private:
    Rfc2217Link(int socketFd, int pumpFd, bool raw);
    static std::shared_ptr<Rfc2217Link> launch(int socketFd, bool raw, int& localFd,
                                               const std::function<void(Rfc2217Link&)>& prepare);
    void run();
    void wake();

    const bool m_raw; // raw TCP: no Telnet, NO CARRIER watched instead
    const int m_socket;
    const int m_pump; // the pump's end of the socket pair
    int m_wake = -1;  // eventfd: abort, or control bytes to send
    std::atomic<bool> m_abort{false};
    std::atomic<bool> m_closed{false};

    mutable std::mutex m_mutex;        // guards the session and m_control
    std::condition_variable m_changed; // the session or m_closed changed
    telnet::ComPortClient m_session;
    NoCarrierWatch m_noCarrier;
    std::string m_control; // protocol bytes queued by other threads
    std::thread m_thread;
};
