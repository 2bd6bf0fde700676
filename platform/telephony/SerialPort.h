#pragma once

// One open serial port as the telephony service uses it: opened without
// becoming the controlling terminal and without waiting for carrier, raw 8N1,
// modem status ignored by the driver (the service watches carrier itself),
// DTR dropped on the last close. Reads and writes never block; the helpers
// wait with poll() and give up at a deadline or when a wake descriptor fires.
//
// A port may also be a modem behind a serial device server ("tcp://HOST:PORT"
// or "rfc2217://HOST:PORT", see NetworkPort.h): the descriptor then carries
// the same bare byte stream, DTR and carrier detect travel as RFC 2217
// messages (raw TCP has no DTR; its carrier loss is the modem's NO CARRIER
// during a call, see WatchNoCarrier), and the connection is made within a
// connect time-out.
//
// Also: which ports exist (the system's serial devices plus explicit paths),
// and the probe that tells a data modem (answers "AT" with "OK") from a port
// that does not answer.

#include "platform/telephony/AtResultParser.h"
#include "platform/telephony/NetworkPort.h"

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

using SteadyTime = std::chrono::steady_clock::time_point;

class SerialPort {
public:
    enum class Transport { Serial, RawTcp, Rfc2217 };
    static constexpr int kConnectMs = 5000;

    // Opens and configures `path`; nullopt with errno set when it cannot. A
    // network modem is connected within `connectMs`; `wakeFd` (if >= 0)
    // cancels the wait.
    static std::optional<SerialPort> Open(const std::string& path, int connectMs = kConnectMs,
                                          int wakeFd = -1);

    // Not open: every operation fails.
    SerialPort() = default;

    SerialPort(SerialPort&& other) noexcept;
    SerialPort& operator=(SerialPort&& other) noexcept;
    SerialPort(const SerialPort&) = delete;
    SerialPort& operator=(const SerialPort&) = delete;
    ~SerialPort();

    int fd() const { return m_fd; }
    Transport kind() const { return m_transport; }

    // A second, independent descriptor of the same port (own file status
    // flags, blocking), for whoever takes over the data stream; -1 on failure.
    int reopen() const;

    // Modem status lines: false on devices without them (pseudo-terminals).
    bool hasModemLines() const;
    bool carrierDetect() const;
    bool setDtr(bool on) const;
    // Raw TCP: from a call's CONNECT on, CarrierDetect turns false once the
    // modem's NO CARRIER line was the last thing received for `quietMs`.
    // Does nothing on other transports.
    void watchNoCarrier(bool on, int quietMs) const;
    // A UART node with no hardware behind it (the kernel lists ttyS0..31 always).
    bool isAbsentUart() const;

    void flushInput() const;
    // After a DTR pulse: whether the modem may still be on line, so that the
    // escape sequence and ATH0 must follow (a server that reports no modem
    // state, or still reports carrier).
    bool mayStillBeOnline() const;

    enum class Io { Done, Timeout, Woken, Lost };
    // Writes all of `bytes` before `deadline`. Woken when `wakeFd` (if >= 0) becomes readable.
    Io writeAll(std::string_view bytes, SteadyTime deadline, int wakeFd) const;
    // Reads what is there (at most `max` bytes) once the port is readable.
    Io readSome(std::string& out, std::size_t max, SteadyTime deadline, int wakeFd) const;

private:
    explicit SerialPort(int fd, Transport transport = Transport::Serial,
                        std::shared_ptr<Rfc2217Link> link = nullptr)
        : m_fd(fd)
        , m_transport(transport)
        , m_link(std::move(link)) {}
    static std::optional<SerialPort> openNetwork(const std::string& url, int connectMs, int wakeFd);

    int m_fd = -1;
    Transport m_transport = Transport::Serial;
    std::shared_ptr<Rfc2217Link> m_link;
};

// Where ports come from: explicit paths first, in order (each that exists),
// then every match of the scan patterns, sorted, then the operator's network
// modems (last, so adding one moves no other device's index). A port reached by several
// names (a by-id link and its ttyUSB node) is listed once, under its first name.
struct PortSources {
    std::vector<std::string> explicitPaths;
    std::vector<std::string> scanPatterns;  // glob patterns
    std::vector<std::string> networkModems; // the operator's network modems, listed last

    // DIALSCOPE_MODEMS (see SplitModemList) plus /dev/ttyS*, /dev/ttyUSB*,
    // /dev/ttyACM*, /dev/serial/by-id/*.
    static PortSources fromSystem();
};

std::vector<std::string> listSerialPorts(const PortSources& sources);
// The canonical names of the ports matched by the scan patterns (explicit paths left out).
std::vector<std::string> scannedPortIds(const PortSources& sources);

struct ProbeResult {
    std::string path;
    bool present = false; // exists as a port (even if it does not answer)
    bool modem = false;   // answered "AT" with "OK"
    std::string name;     // its identification (ATI3, else +GMI/+GMM), or the path
};

// Probes every port at once, each on its own thread; every exchange waits at
// most `answerMs` for its answer, so the whole probe takes about 3 x answerMs
// (plus up to `connectMs` for a network modem that does not accept).
std::vector<ProbeResult> probePorts(const std::vector<std::string>& paths, int answerMs,
                                    int connectMs = SerialPort::kConnectMs);

// The modem's name from its identification answers: the first informative
// line of ATI3, else the +GMI and +GMM answers joined (their "+GMx:" prefixes
// removed); empty when neither says anything.
std::string modemName(const std::vector<std::string>& ati3, const std::vector<std::string>& gmi,
                      const std::vector<std::string>& gmm);

// Waits for the final result of a command while feeding `parser`; Text lines
// are collected into `text` when given. Reads nothing past the final result's
// line. nullopt on time-out, wake or loss (`io` tells which).
std::optional<AtResult> awaitFinal(const SerialPort& port, AtResultParser& parser, SteadyTime deadline,
                                   int wakeFd, SerialPort::Io& io, std::vector<std::string>* text = nullptr);
