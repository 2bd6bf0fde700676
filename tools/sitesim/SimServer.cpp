#include "tools/sitesim/SimServer.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sstream>
#include <sys/inotify.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <termios.h>
#include <unistd.h>

namespace sitesim {

namespace {

constexpr size_t kReadChunk = 4096;
constexpr size_t kMaxControlLine = 4096;
constexpr Millis kHangUpLinger{200};
constexpr size_t kMaxConnOut = 64 * 1024;

std::vector<std::string> splitWords(const std::string& line) {
    std::istringstream in(line);
    std::vector<std::string> words;
    std::string word;
    while (in >> word)
        words.push_back(word);
    return words;
}

// A decimal or 0x-prefixed hexadecimal integer.
bool parseInt(const std::string& text, int32_t& value) {
    const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    const char* begin = text.data() + (hex ? 2 : 0);
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(begin, end, value, hex ? 16 : 10);
    return !text.empty() && ec == std::errc() && ptr == end;
}

} // namespace

SimServer::SimServer(SimOptions options)
    : m_options(std::move(options))
    , m_chaos(m_options.chaosSeed.value_or(DamageGenerator::kDefaultSeed), m_options.chaosRate)
    , m_chaosOn(m_options.chaosSeed.has_value()) {
    m_chaos.setFlood(m_options.flood);
    ModemEmulator::Hooks modemHooks;
    modemHooks.toDte = [this](std::string_view text) {
        m_dteOut.append(text);
    };
    modemHooks.toSite = [this](std::span<const uint8_t> bytes) {
        m_site->fromViewer(bytes, m_now);
    };
    modemHooks.callStarted = [this](bool placedBySite) {
        m_site->beginSession(placedBySite, m_now);
        sendModemState(true);
    };
    modemHooks.callEnded = [this] {
        m_site->endSession();
        m_siteOut.clear();
        sendModemState(false);
    };
    modemHooks.log = [this](const JsonObject& entry) {
        log(entry);
    };
    m_modem = std::make_unique<ModemEmulator>(m_options.modem, modemHooks);

    SiteSimulator::Hooks siteHooks;
    siteHooks.send = [this](std::vector<uint8_t> packet) {
        if (linkOnline())
            sendSitePacket(packet);
    };
    siteHooks.log = [this](const JsonObject& entry) {
        log(entry);
    };
    siteHooks.loginAccepted = [this] {
        for (const ScheduledCommand& c : m_options.onLogin)
            m_scheduled.emplace_back(m_now + c.at, c.command);
    };
    m_site = std::make_unique<SiteSimulator>(m_options.site, siteHooks);
}

SimServer::~SimServer() {
    cleanUp();
    closeRetired();
    for (Client& c : m_clients)
        ::close(c.fd);
    if (m_master >= 0)
        ::close(m_master);
    if (m_slaveKeep >= 0)
        ::close(m_slaveKeep);
    if (m_listen >= 0)
        ::close(m_listen);
    if (m_inotify >= 0)
        ::close(m_inotify);
    if (m_conn >= 0)
        ::close(m_conn);
    if (m_tcpListen >= 0)
        ::close(m_tcpListen);
}

bool SimServer::start(std::string& error) {
    if (!m_log.open(m_options.logPath)) {
        error = "cannot open the log " + m_options.logPath + ": " + std::strerror(errno);
        return false;
    }
    m_inotify = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (!publishPty(error) || !openControl(error) || !openTcp(error))
        return false;
    m_now = Clock::now();
    for (const ScheduledCommand& c : m_options.at)
        m_scheduled.emplace_back(m_now + c.at, c.command);
    if (m_options.dataOnly)
        m_site->beginSession(m_options.incoming, m_now);
    log(JsonObject("start")
            .add("link", m_options.link)
            .add("pty", m_slavePath)
            .add("tcpPort", int64_t(m_tcpPort))
            .add("tcpClient", m_conn >= 0)
            .add("dataOnly", m_options.dataOnly)
            .add("bps", int64_t(m_options.bps))
            .add("tcpPort", int64_t(m_tcpPort)));
    return true;
}

bool SimServer::openTcp(std::string& error) {
    if (!m_options.tcpPort)
        return true;
    m_tcpListen = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(*m_options.tcpPort);
    const int one = 1;
    if (m_tcpListen >= 0)
        setsockopt(m_tcpListen, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    socklen_t length = sizeof addr;
    if (m_tcpListen < 0 || ::bind(m_tcpListen, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::listen(m_tcpListen, 4) != 0 ||
        ::getsockname(m_tcpListen, reinterpret_cast<sockaddr*>(&addr), &length) != 0) {
        error =
            "cannot listen on 127.0.0.1:" + std::to_string(*m_options.tcpPort) + ": " + std::strerror(errno);
        return false;
    }
    m_tcpPort = ntohs(addr.sin_port);
    return true;
}

void SimServer::acceptTcp() {
    const int fd = ::accept4(m_tcpListen, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0)
        return;
    // One client at a time: a new one takes the port over, as if the old one
    // had hung up first (a program that closes and reconnects at once may be
    // seen connecting before its close is read).
    closeConn();
    const int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    m_conn = fd;
    m_connOut.clear();
    m_telnetIn.reset();
    m_dtr = true;
    m_dteOut.clear();
    log(JsonObject("tcp").add("action", "connected").add("telnet", m_options.telnet));
}

void SimServer::closeConn() {
    if (m_conn < 0)
        return;
    ::close(m_conn);
    m_conn = -1;
    m_connOut.clear();
    log(JsonObject("tcp").add("action", "closed"));
    // Like the last close of the terminal: a DTR drop.
    portClosed();
}

void SimServer::flushConn() {
    while (m_conn >= 0 && !m_connOut.empty()) {
        const ssize_t n = ::send(m_conn, m_connOut.data(), m_connOut.size(), MSG_NOSIGNAL);
        if (n > 0) {
            m_connOut.erase(0, size_t(n));
            continue;
        }
        if (n < 0 && (errno == EAGAIN || errno == EINTR))
            return;
        closeConn();
    }
}

void SimServer::readConn() {
    char buf[kReadChunk];
    const ssize_t n = ::recv(m_conn, buf, sizeof buf, 0);
    if (n < 0 && (errno == EAGAIN || errno == EINTR))
        return;
    if (n <= 0) {
        closeConn();
        return;
    }
    m_bytesFromViewer += uint64_t(n);
    std::string data;
    std::vector<telnet::Event> events;
    if (m_options.telnet)
        m_telnetIn.feed(std::string_view(buf, size_t(n)), data, events);
    else
        data.assign(buf, size_t(n));
    const std::span<const uint8_t> bytes(reinterpret_cast<const uint8_t*>(data.data()), data.size());
    if (!bytes.empty()) {
        if (m_options.dataOnly)
            m_site->fromViewer(bytes, m_now);
        else
            m_modem->fromDte(bytes, m_now);
    }
    for (const telnet::Event& event : events)
        telnetEvent(event);
    flushConn();
}

// The server side of the option subset the program uses: binary and
// suppress-go-ahead both ways, COM-PORT-CONTROL from the client, every
// setting echoed as applied, DTR from SET-CONTROL.
void SimServer::telnetEvent(const telnet::Event& event) {
    using namespace telnet;
    if (event.kind == Event::Kind::Negotiation) {
        const uint8_t option = event.option;
        const bool known = option == kOptBinary || option == kOptSga || option == kOptComPort;
        if (event.verb == kWill) {
            m_connOut += Negotiation(known ? kDo : kDont, option);
            if (option == kOptComPort)
                sendModemState(m_carrier);
        } else if (event.verb == kDo) {
            m_connOut += Negotiation(known && option != kOptComPort ? kWill : kWont, option);
        }
        log(JsonObject("telnet").add("verb", int64_t(event.verb)).add("option", int64_t(option)));
        return;
    }
    if (event.kind != Event::Kind::Subnegotiation || event.option != kOptComPort || event.payload.empty())
        return;
    const auto code = uint8_t(event.payload[0]);
    const std::string value = event.payload.substr(1);
    if (code < kSetBaudRate || code > kPurgeData)
        return;
    m_connOut += comPort(uint8_t(code + kServerOffset), value);
    log(JsonObject("comport")
            .add("code", int64_t(code))
            .add("value", value.empty() ? -1 : int64_t(uint8_t(value.back()))));
    if (code == kSetControl && value.size() == 1) {
        const auto control = uint8_t(value[0]);
        if (control == kControlDtrOff && m_dtr) {
            m_dtr = false;
            log(JsonObject("dtr").add("on", false));
            if (m_options.dataOnly)
                m_site->beginSession(m_options.incoming, m_now);
            else
                m_modem->dtrDropped();
        } else if (control == kControlDtrOn) {
            m_dtr = true;
        }
    }
}

void SimServer::sendModemState(bool carrier) {
    const bool changed = carrier != m_carrier;
    m_carrier = carrier;
    if (m_conn < 0 || !m_options.telnet)
        return;
    // DSR and CTS always on; the delta bit marks a carrier change.
    const uint8_t state = uint8_t(telnet::kModemStateDsr | telnet::kModemStateCts |
                                  (carrier ? telnet::kModemStateCd : 0) | (changed ? 0x08 : 0));
    m_connOut += telnet::comPort(uint8_t(telnet::kServerOffset + telnet::kNotifyModemState),
                                 std::string(1, char(state)));
}

ssize_t SimServer::dteWrite(const char* bytes, size_t size) {
    if (m_conn < 0)
        return ::write(m_master, bytes, size);
    flushConn();
    if (m_conn < 0 || m_connOut.size() >= kMaxConnOut)
        return 0;
    const std::string_view view(bytes, size);
    if (m_options.telnet)
        telnet::appendEscaped(m_connOut, view);
    else
        m_connOut.append(view);
    flushConn();
    return ssize_t(size);
}

bool SimServer::publishPty(std::string& error) {
    const int master = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    char name[128];
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0 ||
        ptsname_r(master, name, sizeof name) != 0) {
        error = std::string("cannot create a pseudo-terminal: ") + std::strerror(errno);
        if (master >= 0)
            ::close(master);
        return false;
    }
    const int keep = ::open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    termios tio{};
    if (keep < 0 || tcgetattr(keep, &tio) != 0) {
        error = std::string("cannot open ") + name + ": " + std::strerror(errno);
        ::close(master);
        if (keep >= 0)
            ::close(keep);
        return false;
    }
    // Raw, so the line discipline neither echoes nor edits what passes.
    cfmakeraw(&tio);
    cfsetispeed(&tio, B115200);
    cfsetospeed(&tio, B115200);
    tcsetattr(keep, TCSANOW, &tio);

    const std::string temp = m_options.link + ".new." + std::to_string(::getpid());
    ::unlink(temp.c_str());
    if (::symlink(name, temp.c_str()) != 0 || ::rename(temp.c_str(), m_options.link.c_str()) != 0) {
        error = "cannot publish " + m_options.link + ": " + std::strerror(errno);
        ::unlink(temp.c_str());
        ::close(master);
        ::close(keep);
        return false;
    }
    // The new terminal is in place; only now does the old one start to go away.
    closeRetired();
    m_retiredMaster = m_master;
    m_retiredKeep = m_slaveKeep;
    m_retireAt = Clock::now() + kHangUpLinger;
    m_master = master;
    m_slaveKeep = keep;
    m_slavePath = name;
    watchSlave();
    log(JsonObject("pty").add("link", m_options.link).add("path", m_slavePath));
    return true;
}

bool SimServer::openControl(std::string& error) {
    if (m_options.control.empty())
        return true;
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    if (m_options.control.size() >= sizeof addr.sun_path) {
        error = "control socket path too long";
        return false;
    }
    std::memcpy(addr.sun_path, m_options.control.c_str(), m_options.control.size() + 1);
    ::unlink(m_options.control.c_str());
    m_listen = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    // The control socket can hang up or damage a call: only its owner may
    // connect, from the moment it exists (0600, not 0600 after a chmod).
    const mode_t oldMask = ::umask(077);
    const bool bound =
        m_listen >= 0 && ::bind(m_listen, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
    ::umask(oldMask);
    if (!bound || ::listen(m_listen, 8) != 0) {
        error = "cannot listen on " + m_options.control + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

void SimServer::watchSlave() {
    if (m_inotify < 0)
        return;
    if (m_watch >= 0)
        inotify_rm_watch(m_inotify, m_watch);
    // Our own descriptor was opened before the watch, so only the program's count.
    m_watch = inotify_add_watch(m_inotify, m_slavePath.c_str(), IN_OPEN | IN_CLOSE);
    m_portOpens = 0;
}

void SimServer::readPortEvents() {
    alignas(inotify_event) char buf[4096];
    ssize_t n;
    while ((n = ::read(m_inotify, buf, sizeof buf)) > 0) {
        for (ssize_t off = 0; off + ssize_t(sizeof(inotify_event)) <= n;) {
            const auto* event = reinterpret_cast<const inotify_event*>(buf + off);
            off += ssize_t(sizeof(inotify_event) + event->len);
            if (event->wd != m_watch)
                continue;
            if (event->mask & IN_OPEN) {
                ++m_portOpens;
                log(JsonObject("port").add("action", "opened").add("opens", m_portOpens));
            } else if ((event->mask & IN_CLOSE) && m_portOpens > 0 && --m_portOpens == 0) {
                portClosed();
            }
        }
    }
}

void SimServer::portClosed() {
    log(JsonObject("port").add("action", "closed"));
    if (m_options.dataOnly) {
        m_site->beginSession(m_options.incoming, m_now);
    } else {
        m_modem->dtrDropped();
    }
    m_dteOut.clear();
    m_siteOut.clear();
    tcflush(m_slaveKeep, TCIFLUSH);
}

void SimServer::closeRetired() {
    if (m_retiredMaster >= 0)
        ::close(m_retiredMaster);
    if (m_retiredKeep >= 0)
        ::close(m_retiredKeep);
    m_retiredMaster = m_retiredKeep = -1;
}

void SimServer::cleanUp() {
    if (!m_slavePath.empty()) {
        char target[256];
        const ssize_t n = ::readlink(m_options.link.c_str(), target, sizeof target - 1);
        if (n > 0 && std::string(target, size_t(n)) == m_slavePath)
            ::unlink(m_options.link.c_str());
        m_slavePath.clear();
    }
    if (m_listen >= 0 && !m_options.control.empty()) {
        ::unlink(m_options.control.c_str());
        ::close(m_listen);
        m_listen = -1;
    }
}

bool SimServer::linkOnline() const {
    return m_options.dataOnly ? m_site->active() : m_modem->online();
}

void SimServer::farEndHangUp() {
    if (m_options.dataOnly)
        m_site->endSession();
    else
        m_modem->remoteHangUp();
    // Best effort: the modem's NO CARRIER before the line goes dead (the old
    // master lingers a moment so that it can be read). A short write loses
    // nothing that matters on a line that is going away.
    if (!m_dteOut.empty() && dteWrite(m_dteOut.data(), m_dteOut.size()) < 0)
        log(JsonObject("warning").add("text", "NO CARRIER not delivered"));
    m_dteOut.clear();
    m_siteOut.clear();
    if (m_conn >= 0 && !m_options.telnet) {
        // Raw TCP has no carrier line: the server closes the connection.
        flushConn();
        ::shutdown(m_conn, SHUT_WR);
        closeConn();
        return;
    }
    if (m_conn >= 0)
        return; // the Telnet client saw carrier drop; the connection stays
    std::string error;
    if (!publishPty(error))
        log(JsonObject("error").add("text", error));
    if (m_options.dataOnly)
        m_site->beginSession(m_options.incoming, m_now);
}

void SimServer::readMaster() {
    uint8_t buf[kReadChunk];
    const ssize_t n = ::read(m_master, buf, sizeof buf);
    if (n <= 0)
        return;
    m_bytesFromViewer += uint64_t(n);
    const std::span<const uint8_t> bytes(buf, size_t(n));
    if (m_options.dataOnly)
        m_site->fromViewer(bytes, m_now);
    else
        m_modem->fromDte(bytes, m_now);
}

void SimServer::refillTokens() {
    if (m_options.bps <= 0)
        return;
    const double rate = double(m_options.bps) / 8.0;
    const double burst = std::max(rate / 20.0, 32.0);
    const double elapsed = std::chrono::duration<double>(m_now - m_lastRefill).count();
    m_tokens = std::min(burst, m_tokens + elapsed * rate);
    m_lastRefill = m_now;
}

std::optional<TimePoint> SimServer::bandwidthWake() const {
    if (m_options.bps <= 0 || m_siteOut.empty() || !linkOnline() || m_tokens >= 1.0)
        return std::nullopt;
    const double rate = double(m_options.bps) / 8.0;
    const double want = std::min(double(m_siteOut.size()), std::max(rate / 20.0, 32.0)) - m_tokens;
    return m_now + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(want / rate)) +
           Millis(1);
}

void SimServer::writeMaster() {
    while (!m_dteOut.empty()) {
        const ssize_t n = dteWrite(m_dteOut.data(), m_dteOut.size());
        if (n <= 0)
            return;
        m_dteOut.erase(0, size_t(n));
    }
    if (!linkOnline()) {
        m_siteOut.clear();
        return;
    }
    refillTokens();
    while (!m_siteOut.empty()) {
        size_t allowed = std::min(m_siteOut.size(), kReadChunk);
        if (m_options.bps > 0)
            allowed = std::min(allowed, size_t(std::max(0.0, m_tokens)));
        if (allowed == 0)
            return;
        const ssize_t n = dteWrite(m_siteOut.data(), allowed);
        if (n <= 0)
            return;
        m_siteOut.erase(0, size_t(n));
        m_bytesToViewer += uint64_t(n);
        if (m_options.bps > 0)
            m_tokens -= double(n);
    }
}

void SimServer::sendSitePacket(const std::vector<uint8_t>& packet) {
    if (!m_chaosOn) {
        m_siteOut.append(packet.begin(), packet.end());
        return;
    }
    const std::vector<uint8_t> bytes = m_chaos.apply(packet);
    m_siteOut.append(bytes.begin(), bytes.end());
    if (m_chaos.lastDamage().empty())
        return;
    std::string kinds = "[";
    for (const DamageKind kind : m_chaos.lastDamage())
        kinds += (kinds.size() > 1 ? "," : "") + JsonObject::quote(damageKindName(kind));
    log(JsonObject("chaos").addRaw("damage", kinds + "]").add("len", bytes.size()));
}

// "chaos on [SEED]" starts afresh from the seed (keeping a flood set);
// "chaos off" keeps the counts; "chaos flood KIND|off" picks the flood.
std::string SimServer::chaosCommand(const std::vector<std::string>& words) {
    if (words.size() == 2 && words[1] == "off") {
        m_chaosOn = false;
        return "OK";
    }
    if (words.size() == 3 && words[1] == "flood") {
        const std::optional<DamageKind> flood = parseFloodKind(words[2]);
        if (!flood && words[2] != "off")
            return "ERROR chaos flood KIND | chaos flood off";
        m_chaos.setFlood(flood);
        return "OK";
    }
    if (words.size() < 2 || words.size() > 3 || words[1] != "on")
        return "ERROR chaos on [SEED] | chaos off";
    uint64_t seed = m_chaos.seed();
    if (words.size() == 3) {
        const std::string& text = words[2];
        const auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), seed);
        if (ec != std::errc() || ptr != text.data() + text.size())
            return "ERROR seed expected";
    }
    const std::optional<DamageKind> flood = m_chaos.flood();
    m_chaos = DamageGenerator(seed, m_options.chaosRate);
    m_chaos.setFlood(flood);
    m_chaosOn = true;
    return "OK";
}

void SimServer::acceptClient() {
    const int fd = ::accept4(m_listen, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd >= 0)
        m_clients.push_back(Client{fd, {}, {}});
}

bool SimServer::serviceClient(Client& client, short revents) {
    if (revents & (POLLIN | POLLHUP | POLLERR)) {
        char buf[1024];
        const ssize_t n = ::recv(client.fd, buf, sizeof buf, 0);
        if (n <= 0 && client.out.empty())
            return false;
        if (n > 0)
            client.in.append(buf, size_t(n));
        size_t nl;
        while ((nl = client.in.find('\n')) != std::string::npos) {
            std::string line = client.in.substr(0, nl);
            client.in.erase(0, nl + 1);
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            client.out += runCommand(line) + "\n";
        }
        if (client.in.size() > kMaxControlLine)
            return false;
        if (n <= 0 && client.out.empty())
            return false;
    }
    if (!client.out.empty()) {
        const ssize_t n = ::send(client.fd, client.out.data(), client.out.size(), MSG_NOSIGNAL);
        if (n < 0 && errno != EAGAIN)
            return false;
        if (n > 0)
            client.out.erase(0, size_t(n));
    }
    return true;
}

void SimServer::runDueCommands() {
    for (size_t i = 0; i < m_scheduled.size();) {
        if (m_scheduled[i].first <= m_now) {
            const std::string command = m_scheduled[i].second;
            m_scheduled.erase(m_scheduled.begin() + std::ptrdiff_t(i));
            runCommand(command);
            i = 0;
        } else {
            ++i;
        }
    }
}

std::string SimServer::status() const {
    std::string streams = "[";
    for (const int32_t c : m_site->streamingChannels())
        streams += (streams.size() > 1 ? "," : "") + std::to_string(c);
    streams += "]";
    std::string counts = "{";
    for (size_t i = 0; i < kDamageKinds; ++i)
        counts += (i ? "," : "") + JsonObject::quote(damageKindName(DamageKind(i))) + ":" +
                  std::to_string(m_chaos.counts()[i]);
    char rate[32];
    std::snprintf(rate, sizeof rate, "%g", m_chaos.rate());
    const std::string chaos = std::string("{\"on\":") + (m_chaosOn ? "true" : "false") +
                              ",\"seed\":" + std::to_string(m_chaos.seed()) + ",\"rate\":" + rate +
                              ",\"counts\":" + counts + "}}";
    JsonObject o("status");
    o.add("modem", m_options.dataOnly ? "data-only" : ModemEmulator::stateName(m_modem->state()))
        .add("session", m_site->active())
        .add("placedBySite", m_site->placedBySite())
        .add("loggedIn", m_site->loggedIn())
        .addRaw("streams", streams)
        .add("pty", m_slavePath)
        .add("tcpPort", int64_t(m_tcpPort))
        .add("tcpClient", m_conn >= 0)
        .add("bytesToViewer", int64_t(m_bytesToViewer))
        .add("bytesFromViewer", int64_t(m_bytesFromViewer))
        .addRaw("chaos", chaos);
    return o.str();
}

std::string SimServer::runCommand(const std::string& line) {
    const std::vector<std::string> words = splitWords(line);
    std::string reply = "OK";
    const auto needSession = [&] {
        if (m_site->active())
            return true;
        reply = "ERROR no call";
        return false;
    };
    const auto channelArg = [&](size_t index, int32_t& channel) {
        if (words.size() <= index || !parseInt(words[index], channel)) {
            reply = "ERROR channel number expected";
            return false;
        }
        return true;
    };
    int32_t channel = 0;
    if (words.empty()) {
        reply = "ERROR empty command";
    } else if (words[0] == "ring" && words.size() == 2 && words[1] == "persist") {
        if (m_options.dataOnly)
            reply = "ERROR no modem";
        else
            m_modem->persistentCall(m_now);
    } else if (words[0] == "ring") {
        if (m_options.dataOnly)
            m_site->beginSession(true, m_now);
        else if (!m_modem->incomingCall(m_now))
            reply = "ERROR line busy";
    } else if (words[0] == "hangup") {
        farEndHangUp();
    } else if (words[0] == "carrier-lost") {
        // Unlike "hangup", nothing closes: NO CARRIER is the last thing the
        // client reads (the call's queued site data is dropped with the call).
        if (m_options.dataOnly || !m_modem->remoteHangUp())
            reply = "ERROR no call";
    } else if (words[0] == "event" && words.size() >= 2) {
        const std::string& kind = words[1];
        static const std::map<std::string, uint8_t> bare = {{"hangup-request", HangUpRequest},
                                                            {"login-request", LoginRequest},
                                                            {"login-rejected", LoginRejected},
                                                            {"prompt", ChannelPrompt}};
        static const char* const kOthers[] = {"channel-closed", "channel-list", "site-info", "unknown",
                                              "text-frame"};
        const bool known =
            bare.count(kind) || std::find(std::begin(kOthers), std::end(kOthers), kind) != std::end(kOthers);
        if (!known) {
            reply = "ERROR unknown event " + kind;
        } else if (!needSession()) {
        } else if (kind == "channel-closed") {
            if (channelArg(2, channel) && !m_site->closeChannelBySite(channel))
                reply = "ERROR no channel " + std::to_string(channel);
        } else if (bare.count(kind)) {
            m_site->sendBare(bare.at(kind));
        } else if (kind == "channel-list") {
            m_site->sendChannelList();
        } else if (kind == "site-info") {
            m_site->sendSiteInfo();
        } else if (kind == "text-frame") {
            if (channelArg(2, channel) && !m_site->sendFrameEndingWith(channel, "\r\nNO CARRIER\r\n"))
                reply = "ERROR no channel " + std::to_string(channel);
        } else if (kind == "unknown") {
            int32_t type = 7;
            if (words.size() >= 3 && (!parseInt(words[2], type) || type < 0 || type > 255))
                reply = "ERROR type 0..255 expected";
            else
                m_site->sendBare(uint8_t(type));
        }
    } else if (words[0] == "open" || words[0] == "close") {
        if (needSession() && channelArg(1, channel)) {
            const bool ok =
                words[0] == "open" ? m_site->openStream(channel, m_now) : m_site->closeStream(channel);
            if (!ok)
                reply = "ERROR no channel " + std::to_string(channel);
        }
    } else if (words[0] == "dial-result") {
        const auto outcome = DialOutcome::parse(line.substr(line.find("dial-result") + 11));
        if (outcome)
            m_modem->setDefaultOutcome(*outcome);
        else
            reply = "ERROR bad dial result";
    } else if (words[0] == "chaos") {
        reply = chaosCommand(words);
    } else if (words[0] == "status") {
        reply = "OK " + status();
    } else if (words[0] == "quit") {
        m_quit = true;
    } else {
        reply = "ERROR unknown command";
    }
    log(JsonObject("control").add("command", line).add("reply", reply));
    return reply;
}

void SimServer::run(int stopFd) {
    while (!m_quit) {
        m_now = Clock::now();
        if (!m_options.dataOnly)
            m_modem->tick(m_now);
        runDueCommands();
        if (m_retiredMaster >= 0 && m_now >= m_retireAt)
            closeRetired();
        m_site->tick(m_now, m_siteOut.size());
        writeMaster();
        if (m_quit)
            break;

        TimePoint wake = TimePoint::max();
        const auto consider = [&wake](std::optional<TimePoint> t) {
            if (t && *t < wake)
                wake = *t;
        };
        if (!m_options.dataOnly)
            consider(m_modem->nextDeadline());
        consider(m_site->nextDeadline(m_siteOut.size()));
        consider(bandwidthWake());
        for (const auto& s : m_scheduled)
            consider(s.first);
        if (m_retiredMaster >= 0)
            consider(m_retireAt);
        int timeout = -1;
        if (wake != TimePoint::max()) {
            const auto ms = std::chrono::ceil<Millis>(wake - Clock::now()).count();
            timeout = int(std::clamp<long long>(ms, 0, 60000));
        }

        const bool wantWrite = !m_dteOut.empty() || (linkOnline() && !m_siteOut.empty() && !bandwidthWake());
        std::vector<pollfd> fds;
        fds.push_back({stopFd, POLLIN, 0});
        fds.push_back({m_master, short(POLLIN | (wantWrite && m_conn < 0 ? POLLOUT : 0)), 0});
        fds.push_back({m_listen, POLLIN, 0});
        fds.push_back({m_inotify, POLLIN, 0});
        fds.push_back({m_tcpListen, POLLIN, 0});
        fds.push_back(
            {m_conn, short(POLLIN | (!m_connOut.empty() || (wantWrite && m_conn >= 0) ? POLLOUT : 0)), 0});
        constexpr size_t kFixedFds = 6;
        for (const Client& c : m_clients)
            fds.push_back({c.fd, short(POLLIN | (c.out.empty() ? 0 : POLLOUT)), 0});
        if (::poll(fds.data(), fds.size(), timeout) < 0) {
            if (errno == EINTR)
                continue;
            break;
        }
        m_now = Clock::now();
        if (fds[0].revents)
            break;
        // Opens and closes of the port first: a program that closes the port and
        // opens it again writes its next command only after the close, so that
        // command must not be read (and answered) before the close flushes.
        if (fds[3].revents & POLLIN)
            readPortEvents();
        if (fds[1].revents & POLLIN)
            readMaster();
        if (fds[2].revents & POLLIN)
            acceptClient();
        if (m_conn >= 0 && fds[5].fd == m_conn && (fds[5].revents & (POLLIN | POLLHUP | POLLERR)))
            readConn();
        if (m_conn >= 0 && fds[5].fd == m_conn && (fds[5].revents & POLLOUT))
            flushConn();
        if (fds[4].revents & POLLIN)
            acceptTcp();
        for (size_t i = 0, n = fds.size() - kFixedFds; i < n; ++i) {
            if (!serviceClient(m_clients[i], fds[kFixedFds + i].revents)) {
                ::close(m_clients[i].fd);
                m_clients[i].fd = -1;
            }
        }
        std::erase_if(m_clients, [](const Client& c) { return c.fd < 0; });
    }
    // Replies (e.g. to "quit") still waiting are sent before leaving.
    for (const Client& c : m_clients)
        ::send(c.fd, c.out.data(), c.out.size(), MSG_NOSIGNAL);
    log(JsonObject("stop"));
}

} // namespace sitesim
