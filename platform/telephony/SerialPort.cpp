#include "platform/telephony/SerialPort.h"

#include "platform/log/DialscopeLog.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <glob.h>
#include <linux/serial.h>
#include <poll.h>
#include <set>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <system_error>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace {

int remainingMs(SteadyTime deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    return left.count() <= 0 ? 0 : static_cast<int>(std::min<long long>(left.count(), 60'000));
}

std::string canonical(const std::string& path) {
    char* real = realpath(path.c_str(), nullptr);
    if (!real)
        return path;
    std::string result(real);
    std::free(real);
    return result;
}

bool Exists(const std::string& path) {
    return access(path.c_str(), F_OK) == 0;
}

std::vector<std::string> glob(const std::string& pattern) {
    std::vector<std::string> found;
    glob_t g{};
    if (glob(pattern.c_str(), 0, nullptr, &g) == 0) {
        for (std::size_t i = 0; i < g.gl_pathc; ++i)
            found.emplace_back(g.gl_pathv[i]);
    }
    globfree(&g);
    return found;
}

// Waits until `fd` is ready for `events`; the wake descriptor interrupts.
SerialPort::Io waitFor(int fd, short events, SteadyTime deadline, int wakeFd) {
    for (;;) {
        pollfd fds[2] = {{fd, events, 0}, {wakeFd, POLLIN, 0}};
        const int n = poll(fds, wakeFd >= 0 ? 2 : 1, remainingMs(deadline));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return SerialPort::Io::Lost;
        }
        if (n == 0)
            return SerialPort::Io::Timeout;
        if (wakeFd >= 0 && (fds[1].revents & POLLIN))
            return SerialPort::Io::Woken;
        if (fds[0].revents & events)
            return SerialPort::Io::Done;
        if (fds[0].revents & (POLLHUP | POLLERR | POLLNVAL))
            return SerialPort::Io::Lost;
    }
}

} // namespace

std::optional<SerialPort> SerialPort::openNetwork(const std::string& url, int connectMs, int wakeFd) {
    const std::optional<NetworkEndpoint> endpoint = parseNetworkEndpoint(url);
    if (!endpoint) {
        errno = EINVAL;
        return std::nullopt;
    }
    const int fd = connectTcp(*endpoint, connectMs, wakeFd);
    if (fd < 0)
        return std::nullopt;
    int local = -1;
    if (endpoint->kind == NetworkEndpoint::Kind::RawTcp) {
        std::shared_ptr<Rfc2217Link> link = Rfc2217Link::startRaw(fd, local);
        if (!link)
            return std::nullopt;
        return SerialPort(local, Transport::RawTcp, std::move(link));
    }
    std::shared_ptr<Rfc2217Link> link = Rfc2217Link::Start(fd, connectMs, wakeFd, local);
    if (!link)
        return std::nullopt;
    return SerialPort(local, Transport::Rfc2217, std::move(link));
}

std::optional<SerialPort> SerialPort::Open(const std::string& path, int connectMs, int wakeFd) {
    if (isNetworkModem(path))
        return openNetwork(path, connectMs, wakeFd);
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    termios tio{};
    if (tcgetattr(fd, &tio) != 0) {
        const int err = errno;
        ::close(fd);
        errno = err;
        return std::nullopt;
    }
    cfmakeraw(&tio);
    tio.c_cflag |= CREAD | CLOCAL | HUPCL;
    tio.c_cc[VMIN] = 1; // so that an empty non-blocking read is EAGAIN and 0 means hung up
    tio.c_cc[VTIME] = 0;
    cfsetispeed(&tio, B115200);
    cfsetospeed(&tio, B115200);
    // A port left in its cooked mode would translate and swallow bytes of
    // the binary stream: one that takes no raw settings is not used.
    if (tcsetattr(fd, TCSANOW, &tio) != 0) {
        const int err = errno;
        qCWarning(lcTelephony, "cannot set %s to raw 115200 bit/s: %s", path.c_str(), std::strerror(err));
        ::close(fd);
        errno = err;
        return std::nullopt;
    }
    return SerialPort(fd);
}

SerialPort::SerialPort(SerialPort&& other) noexcept
    : m_fd(other.m_fd)
    , m_transport(other.m_transport)
    , m_link(std::move(other.m_link)) {
    other.m_fd = -1;
}

SerialPort& SerialPort::operator=(SerialPort&& other) noexcept {
    if (this != &other) {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = other.m_fd;
        m_transport = other.m_transport;
        m_link = std::move(other.m_link);
        other.m_fd = -1;
    }
    return *this;
}

SerialPort::~SerialPort() {
    if (m_fd >= 0)
        ::close(m_fd);
    m_link.reset(); // the pump stops after the program's end is closed
}

int SerialPort::reopen() const {
    if (m_fd < 0)
        return -1;
    if (m_transport != Transport::Serial)
        return fcntl(m_fd, F_DUPFD_CLOEXEC, 0); // a socket has no second open
    const std::string self = "/proc/self/fd/" + std::to_string(m_fd);
    const int fd = ::open(self.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd >= 0)
        return fd;
    const int dup = fcntl(m_fd, F_DUPFD_CLOEXEC, 0);
    return dup;
}

bool SerialPort::hasModemLines() const {
    if (m_transport == Transport::RawTcp)
        return false; // no DTR; carrier comes from the NO CARRIER watch
    if (m_transport != Transport::Serial)
        return m_link != nullptr;
    int status = 0;
    return ioctl(m_fd, TIOCMGET, &status) == 0;
}

bool SerialPort::carrierDetect() const {
    if (m_transport != Transport::Serial)
        return m_link && m_link->carrierDetect();
    int status = 0;
    return ioctl(m_fd, TIOCMGET, &status) == 0 && (status & TIOCM_CD) != 0;
}

bool SerialPort::setDtr(bool on) const {
    if (m_transport != Transport::Serial)
        return m_link && m_link->setDtr(on);
    int bits = TIOCM_DTR;
    return ioctl(m_fd, on ? TIOCMBIS : TIOCMBIC, &bits) == 0;
}

void SerialPort::watchNoCarrier(bool on, int quietMs) const {
    if (m_transport == Transport::RawTcp && m_link)
        m_link->watchNoCarrier(on, quietMs);
}

bool SerialPort::isAbsentUart() const {
    if (m_transport != Transport::Serial)
        return false;
    serial_struct info{};
    return ioctl(m_fd, TIOCGSERIAL, &info) == 0 && info.type == PORT_UNKNOWN;
}

void SerialPort::flushInput() const {
    if (m_transport == Transport::Serial) {
        tcflush(m_fd, TCIFLUSH);
        return;
    }
    // A socket has no input queue to flush: read off what has arrived (bounded,
    // so a server that keeps sending cannot hold us here).
    char buffer[4096];
    for (int i = 0; i < 64; ++i) {
        const ssize_t n = ::recv(m_fd, buffer, sizeof buffer, MSG_DONTWAIT);
        if (n <= 0)
            break;
    }
}

bool SerialPort::mayStillBeOnline() const {
    if (m_transport != Transport::Rfc2217)
        return false;
    return !m_link || m_link->closed() ? false : !m_link->hasModemState() || m_link->carrierDetect();
}

SerialPort::Io SerialPort::writeAll(std::string_view bytes, SteadyTime deadline, int wakeFd) const {
    while (!bytes.empty()) {
        const ssize_t n = ::write(m_fd, bytes.data(), bytes.size());
        if (n > 0) {
            bytes.remove_prefix(static_cast<std::size_t>(n));
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno != EAGAIN)
            return Io::Lost;
        const Io waited = waitFor(m_fd, POLLOUT, deadline, wakeFd);
        if (waited != Io::Done)
            return waited;
    }
    return Io::Done;
}

SerialPort::Io SerialPort::readSome(std::string& out, std::size_t max, SteadyTime deadline,
                                    int wakeFd) const {
    for (;;) {
        const Io waited = waitFor(m_fd, POLLIN, deadline, wakeFd);
        if (waited != Io::Done)
            return waited;
        char buffer[256];
        const ssize_t n = ::read(m_fd, buffer, std::min(max, sizeof buffer));
        if (n > 0) {
            out.assign(buffer, static_cast<std::size_t>(n));
            return Io::Done;
        }
        if (n < 0 && (errno == EAGAIN || errno == EINTR))
            continue;
        return Io::Lost; // EIO after a hang-up, or end of file
    }
}

PortSources PortSources::fromSystem() {
    PortSources sources;
    if (const char* env = std::getenv("DIALSCOPE_MODEMS")) {
        sources.explicitPaths = splitModemList(env);
    }
    sources.scanPatterns = {"/dev/ttyS*", "/dev/ttyUSB*", "/dev/ttyACM*", "/dev/serial/by-id/*"};
    return sources;
}

std::vector<std::string> listSerialPorts(const PortSources& sources) {
    std::vector<std::string> ports;
    std::set<std::string> seen;
    auto add = [&](const std::string& path) {
        if (isNetworkModem(path)) {
            // Reachable or not, it is listed: the probe finds out.
            if (seen.insert(path).second)
                ports.push_back(path);
            return;
        }
        if (Exists(path) && seen.insert(canonical(path)).second)
            ports.push_back(path);
    };
    for (const std::string& path : sources.explicitPaths)
        add(path);
    std::vector<std::string> scanned;
    for (const std::string& pattern : sources.scanPatterns)
        for (std::string& path : glob(pattern))
            scanned.push_back(std::move(path));
    // Natural order keeps ttyS2 before ttyS10.
    std::sort(scanned.begin(), scanned.end(), [](const std::string& a, const std::string& b) {
        return a.size() != b.size() ? a.size() < b.size() : a < b;
    });
    for (const std::string& path : scanned)
        add(path);
    for (const std::string& url : sources.networkModems)
        if (isNetworkModem(url))
            add(url);
    return ports;
}

std::vector<std::string> scannedPortIds(const PortSources& sources) {
    std::set<std::string> ids;
    for (const std::string& pattern : sources.scanPatterns)
        for (const std::string& path : glob(pattern))
            ids.insert(canonical(path));
    return {ids.begin(), ids.end()};
}

std::optional<AtResult> awaitFinal(const SerialPort& port, AtResultParser& parser, SteadyTime deadline,
                                   int wakeFd, SerialPort::Io& io, std::vector<std::string>* text) {
    std::vector<AtResult> lines;
    std::string chunk;
    // One byte at a time: whatever follows the final result (an unsolicited
    // RING, say) stays in the port for the caller's next read.
    for (;;) {
        io = port.readSome(chunk, 1, deadline, wakeFd);
        if (io != SerialPort::Io::Done)
            return std::nullopt;
        lines.clear();
        parser.feed(chunk.data(), chunk.size(), lines);
        for (AtResult& line : lines) {
            if (isFinalResult(line.kind))
                return std::move(line);
            if (text && line.kind == AtResultKind::Text)
                text->push_back(line.text);
        }
    }
}

namespace {

std::string_view trimmed(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
        text.remove_suffix(1);
    return text;
}

// The first non-empty line, without a "+GMx:" style prefix.
std::string firstLine(const std::vector<std::string>& lines, std::string_view prefix) {
    for (const std::string& line : lines) {
        std::string_view text = trimmed(line);
        if (!prefix.empty() && text.size() >= prefix.size() &&
            std::equal(prefix.begin(), prefix.end(), text.begin(), [](char a, char b) {
                return std::toupper(static_cast<unsigned char>(a)) ==
                       std::toupper(static_cast<unsigned char>(b));
            }))
            text = trimmed(text.substr(prefix.size()));
        if (!text.empty())
            return std::string(text);
    }
    return {};
}

} // namespace

std::string modemName(const std::vector<std::string>& ati3, const std::vector<std::string>& gmi,
                      const std::vector<std::string>& gmm) {
    std::string name = firstLine(ati3, {});
    if (name.empty()) {
        const std::string maker = firstLine(gmi, "+GMI:");
        const std::string model = firstLine(gmm, "+GMM:");
        name = maker.empty() ? model : model.empty() ? maker : maker + " " + model;
    }
    return name.substr(0, 63);
}

namespace {

ProbeResult probeOne(const std::string& path, int answerMs, int connectMs) {
    ProbeResult result;
    result.path = path;
    result.name = path;
    std::optional<SerialPort> port = SerialPort::Open(path, connectMs);
    if (!port) {
        // A node we may not open (busy, no permission) is still a port; a
        // vanished one is not. A network modem that cannot be reached is a
        // line that does not answer.
        const int err = errno;
        result.present = isNetworkModem(path) || (err != ENOENT && err != ENXIO && err != ENODEV);
        // Absent nodes and UARTs are the normal case of a scan; a port that
        // is there but refused (no permission, busy) or an unreachable
        // network modem is what support needs to see.
        if (result.present && err != EIO)
            DIALSCOPE_WARN_LIMITED(lcTelephony, "cannot open %s to look for a modem: %s", path.c_str(),
                                   std::strerror(err));
        else
            qCDebug(lcTelephony, "no port at %s: %s", path.c_str(), std::strerror(err));
        errno = err;
        return result;
    }
    if (port->isAbsentUart())
        return result;
    result.present = true;
    port->flushInput();
    AtResultParser parser;
    SerialPort::Io io;
    auto exchange = [&](std::string_view command, std::vector<std::string>* text) {
        const SteadyTime deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(answerMs);
        if (port->writeAll(command, deadline, -1) != SerialPort::Io::Done)
            return std::optional<AtResult>();
        return awaitFinal(*port, parser, deadline, -1, io, text);
    };
    const std::optional<AtResult> at = exchange("AT\r", nullptr);
    if (!at || at->kind != AtResultKind::Ok) {
        // Most serial ports have no modem behind them: not a warning.
        qCDebug(lcTelephony, "no modem answered AT on %s", path.c_str());
        return result;
    }
    result.modem = true;
    // ATI alone is a product code on most modems ("33600"); ATI3 or the
    // +GMI/+GMM pair name the model.
    std::vector<std::string> ati3, gmi, gmm;
    const std::optional<AtResult> i3 = exchange("ATI3\r", &ati3);
    if (!i3 || i3->kind != AtResultKind::Ok)
        ati3.clear();
    if (firstLine(ati3, {}).empty()) {
        const std::optional<AtResult> makerAnswer = exchange("AT+GMI\r", &gmi);
        if (!makerAnswer || makerAnswer->kind != AtResultKind::Ok)
            gmi.clear();
        const std::optional<AtResult> modelAnswer = exchange("AT+GMM\r", &gmm);
        if (!modelAnswer || modelAnswer->kind != AtResultKind::Ok)
            gmm.clear();
    }
    const std::string name = modemName(ati3, gmi, gmm);
    if (!name.empty())
        result.name = name;
    return result;
}

} // namespace

std::vector<ProbeResult> probePorts(const std::vector<std::string>& paths, int answerMs, int connectMs) {
    std::vector<ProbeResult> results(paths.size());
    std::vector<std::thread> probes;
    probes.reserve(paths.size());
    for (std::size_t i = 0; i < paths.size(); ++i) {
        try {
            probes.emplace_back([&results, &paths, i, answerMs, connectMs] {
                results[i] = probeOne(paths[i], answerMs, connectMs);
            });
        } catch (const std::system_error&) {
            results[i] =
                probeOne(paths[i], answerMs, connectMs); // no thread to spare: probe this one in line
        }
    }
    for (std::thread& t : probes)
        t.join();
    return results;
}
