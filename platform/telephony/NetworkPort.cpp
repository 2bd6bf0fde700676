#include "platform/telephony/NetworkPort.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <system_error>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

int remainingMs(Clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left <= 0 ? 0 : static_cast<int>(std::min<long long>(left, 60'000));
}

bool readable(int fd) {
    if (fd < 0)
        return false;
    pollfd p{fd, POLLIN, 0};
    return poll(&p, 1, 0) > 0 && (p.revents & POLLIN);
}

void setNonBlocking(int fd) {
    const int flags = fcntl(fd, F_GETFL);
    if (flags >= 0)
        fcntl(fd, F_SETFL, flags | O_NONBLOCK);
}

} // namespace

bool isNetworkModem(std::string_view path) {
    return path.find("://") != std::string_view::npos;
}

std::optional<NetworkEndpoint> parseNetworkEndpoint(std::string_view url) {
    NetworkEndpoint endpoint;
    const std::size_t scheme = url.find("://");
    if (scheme == std::string_view::npos)
        return std::nullopt;
    const std::string_view name = url.substr(0, scheme);
    if (name == "tcp")
        endpoint.kind = NetworkEndpoint::Kind::RawTcp;
    else if (name == "rfc2217")
        endpoint.kind = NetworkEndpoint::Kind::Rfc2217;
    else
        return std::nullopt;
    std::string_view rest = url.substr(scheme + 3);
    if (!rest.empty() && rest.back() == '/')
        rest.remove_suffix(1);
    std::size_t colon;
    if (!rest.empty() && rest.front() == '[') {
        const std::size_t close = rest.find(']');
        if (close == std::string_view::npos || close + 1 >= rest.size() || rest[close + 1] != ':')
            return std::nullopt;
        endpoint.host = std::string(rest.substr(1, close - 1));
        colon = close + 1;
    } else {
        colon = rest.rfind(':');
        if (colon == std::string_view::npos)
            return std::nullopt;
        endpoint.host = std::string(rest.substr(0, colon));
        if (endpoint.host.find_first_of(":/@ ") != std::string::npos)
            return std::nullopt;
    }
    const std::string_view portText = rest.substr(colon + 1);
    unsigned port = 0;
    const auto [ptr, ec] = std::from_chars(portText.data(), portText.data() + portText.size(), port);
    if (endpoint.host.empty() || portText.empty() || ec != std::errc() ||
        ptr != portText.data() + portText.size() || port == 0 || port > 65535)
        return std::nullopt;
    endpoint.port = static_cast<std::uint16_t>(port);
    return endpoint;
}

std::vector<std::string> splitModemList(std::string_view list) {
    const bool urls = isNetworkModem(list);
    const auto separator = [urls](char c) {
        return c == ',' || c == ' ' || c == '\t' || c == '\n' || c == '\r' || (!urls && c == ':');
    };
    std::vector<std::string> entries;
    std::size_t i = 0;
    while (i < list.size()) {
        while (i < list.size() && separator(list[i]))
            ++i;
        std::size_t end = i;
        while (end < list.size() && !separator(list[end]))
            ++end;
        if (end > i)
            entries.emplace_back(list.substr(i, end - i));
        i = end;
    }
    return entries;
}

int connectTcp(const NetworkEndpoint& endpoint, int timeoutMs, int wakeFd) {
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICSERV | AI_ADDRCONFIG;
    addrinfo* found = nullptr;
    const std::string port = std::to_string(endpoint.port);
    if (getaddrinfo(endpoint.host.c_str(), port.c_str(), &hints, &found) != 0 || !found) {
        errno = EHOSTUNREACH;
        return -1;
    }
    int error = ETIMEDOUT;
    int result = -1;
    for (addrinfo* ai = found; ai && result < 0; ai = ai->ai_next) {
        const int fd =
            ::socket(ai->ai_family, ai->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, ai->ai_protocol);
        if (fd < 0) {
            error = errno;
            continue;
        }
        if (::connect(fd, ai->ai_addr, ai->ai_addrlen) != 0 && errno != EINPROGRESS) {
            error = errno;
            ::close(fd);
            continue;
        }
        // Wait for the handshake, the deadline or the wake descriptor.
        for (;;) {
            pollfd fds[2] = {{fd, POLLOUT, 0}, {wakeFd, POLLIN, 0}};
            const int n = poll(fds, wakeFd >= 0 ? 2 : 1, remainingMs(deadline));
            if (n < 0 && errno == EINTR)
                continue;
            if (n > 0 && wakeFd >= 0 && (fds[1].revents & POLLIN)) {
                error = ECANCELED;
            } else if (n > 0) {
                int soError = 0;
                socklen_t length = sizeof soError;
                getsockopt(fd, SOL_SOCKET, SO_ERROR, &soError, &length);
                if (soError == 0)
                    result = fd;
                else
                    error = soError;
            } else {
                error = n == 0 ? ETIMEDOUT : errno;
            }
            break;
        }
        if (result < 0)
            ::close(fd);
        if (error == ECANCELED || remainingMs(deadline) == 0)
            break;
    }
    freeaddrinfo(found);
    if (result < 0) {
        errno = error;
        return -1;
    }
    const int one = 1;
    setsockopt(result, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    return result;
}

// The link's socket pair and pump thread; `prepare` runs (under the link's
// lock) before the pump starts. The program's end of the pair goes to
// `localFd`; on failure every descriptor is closed and errno says why.
std::shared_ptr<Rfc2217Link> Rfc2217Link::launch(int socketFd, bool raw, int& localFd,
                                                 const std::function<void(Rfc2217Link&)>& prepare) {
    int pair[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, pair) != 0) {
        ::close(socketFd);
        return nullptr;
    }
    setNonBlocking(socketFd);
    std::shared_ptr<Rfc2217Link> link(new Rfc2217Link(socketFd, pair[1], raw));
    if (link->m_wake < 0) {
        ::close(pair[0]);
        return nullptr;
    }
    if (prepare) {
        std::lock_guard lock(link->m_mutex);
        prepare(*link);
    }
    try {
        link->m_thread = std::thread(&Rfc2217Link::run, link.get());
    } catch (const std::system_error&) {
        ::close(pair[0]);
        errno = EAGAIN;
        return nullptr;
    }
    localFd = pair[0];
    return link;
}

std::shared_ptr<Rfc2217Link> Rfc2217Link::Start(int socketFd, int timeoutMs, int wakeFd, int& localFd) {
    int local = -1;
    std::shared_ptr<Rfc2217Link> link = launch(socketFd, false, local, [](Rfc2217Link& starting) {
        starting.m_control = starting.m_session.Start();
    });
    if (!link)
        return nullptr;
    // Wait for the server's answer in short slices so the wake descriptor is seen.
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    std::unique_lock lock(link->m_mutex);
    while (!link->m_session.accepted()) {
        if (link->m_session.refused() || link->m_closed || remainingMs(deadline) == 0 || readable(wakeFd)) {
            lock.unlock();
            ::close(local);
            errno = link->m_session.refused() ? EPROTONOSUPPORT : link->m_closed ? ECONNRESET : ETIMEDOUT;
            return nullptr;
        }
        link->m_changed.wait_for(lock, std::chrono::milliseconds(std::min(50, remainingMs(deadline) + 1)));
    }
    localFd = local;
    return link;
}

std::shared_ptr<Rfc2217Link> Rfc2217Link::startRaw(int socketFd, int& localFd) {
    return launch(socketFd, true, localFd, nullptr);
}

Rfc2217Link::Rfc2217Link(int socketFd, int pumpFd, bool raw)
    : m_raw(raw)
    , m_socket(socketFd)
    , m_pump(pumpFd) {
    m_wake = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
}

Rfc2217Link::~Rfc2217Link() {
    m_abort = true;
    wake();
    if (m_thread.joinable())
        m_thread.join();
    if (m_wake >= 0)
        ::close(m_wake);
    ::close(m_pump);
    ::close(m_socket);
}

void Rfc2217Link::wake() {
    const std::uint64_t one = 1;
    if (m_wake >= 0) [[maybe_unused]]
        const ssize_t n = ::write(m_wake, &one, sizeof one);
}

bool Rfc2217Link::hasModemState() const {
    std::lock_guard lock(m_mutex);
    return m_raw || m_session.hasModemState();
}

bool Rfc2217Link::carrierDetect() const {
    std::lock_guard lock(m_mutex);
    if (m_raw)
        return !m_closed && !m_noCarrier.lost();
    return !m_closed && m_session.carrierDetect();
}

void Rfc2217Link::watchNoCarrier(bool on, int quietMs) {
    if (!m_raw)
        return;
    {
        std::lock_guard lock(m_mutex);
        if (on)
            m_noCarrier.arm(std::chrono::milliseconds(quietMs));
        else
            m_noCarrier.disarm();
    }
    wake();
}

bool Rfc2217Link::setDtr(bool on) {
    if (m_closed || m_raw)
        return false;
    {
        std::lock_guard lock(m_mutex);
        m_control += telnet::ComPortClient::setDtr(on);
    }
    wake();
    return true;
}

void Rfc2217Link::run() {
    std::string toNet;   // escaped data and protocol bytes for the server
    std::string toLocal; // unescaped data for the program
    std::string data;
    std::vector<telnet::Event> events;
    telnet::Decoder decoder;
    bool netOpen = true;
    char buffer[16384];

    const auto finish = [this] {
        {
            std::lock_guard lock(m_mutex);
            m_closed = true;
        }
        m_changed.notify_all();
        // Readers of the local end now see end of file, pollers a hang-up.
        ::shutdown(m_pump, SHUT_RDWR);
    };

    while (!m_abort) {
        {
            std::lock_guard lock(m_mutex);
            if (!m_control.empty()) {
                toNet += m_control;
                m_control.clear();
            }
        }
        if (!netOpen && toLocal.empty())
            break;
        pollfd fds[3] = {{m_wake, POLLIN, 0}, {netOpen ? m_socket : -1, 0, 0}, {m_pump, 0, 0}};
        if (netOpen && toLocal.size() < kMaxBuffered)
            fds[1].events |= POLLIN;
        if (netOpen && !toNet.empty())
            fds[1].events |= POLLOUT;
        if (netOpen && toNet.size() < kMaxBuffered)
            fds[2].events |= POLLIN;
        if (!toLocal.empty())
            fds[2].events |= POLLOUT;
        int timeout = -1;
        if (m_raw && (fds[1].events & POLLIN)) {
            std::lock_guard lock(m_mutex);
            if (const std::optional<Clock::time_point> due = m_noCarrier.deadline())
                timeout = remainingMs(*due) + 1;
        }
        if (poll(fds, 3, timeout) < 0) {
            if (errno == EINTR)
                continue;
            break;
        }
        // Silence counts only while the socket is read and has nothing: bytes
        // held back by a full local buffer are not silence.
        if (m_raw && (fds[1].events & POLLIN) && !(fds[1].revents & POLLIN)) {
            std::lock_guard lock(m_mutex);
            m_noCarrier.check(Clock::now());
        }
        if (fds[0].revents & POLLIN) {
            std::uint64_t value;
            [[maybe_unused]] const ssize_t n = ::read(m_wake, &value, sizeof value);
            continue;
        }
        if (fds[1].revents & (POLLIN | POLLHUP | POLLERR)) {
            const ssize_t n = ::recv(m_socket, buffer, sizeof buffer, 0);
            if (n > 0 && m_raw) {
                const std::string_view bytes(buffer, static_cast<std::size_t>(n));
                toLocal += bytes;
                std::lock_guard lock(m_mutex);
                m_noCarrier.feed(bytes, Clock::now());
            } else if (n > 0) {
                data.clear();
                events.clear();
                decoder.feed(std::string_view(buffer, static_cast<std::size_t>(n)), data, events);
                toLocal += data;
                if (!events.empty()) {
                    {
                        std::lock_guard lock(m_mutex);
                        for (const telnet::Event& event : events)
                            m_session.onEvent(event, toNet);
                    }
                    m_changed.notify_all();
                }
            } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
                netOpen = false; // deliver what is buffered, then close
                toNet.clear();
                {
                    std::lock_guard lock(m_mutex);
                    m_closed = true;
                }
                m_changed.notify_all();
            }
        }
        if (netOpen && (fds[1].revents & POLLOUT)) {
            const ssize_t n = ::send(m_socket, toNet.data(), toNet.size(), MSG_NOSIGNAL);
            if (n > 0)
                toNet.erase(0, static_cast<std::size_t>(n));
            else if (n < 0 && errno != EAGAIN && errno != EINTR)
                netOpen = false, toNet.clear();
        }
        if (fds[2].revents & POLLOUT) {
            const ssize_t n = ::send(m_pump, toLocal.data(), toLocal.size(), MSG_NOSIGNAL);
            if (n > 0)
                toLocal.erase(0, static_cast<std::size_t>(n));
            else if (n < 0 && errno != EAGAIN && errno != EINTR)
                break;
        }
        if (fds[2].revents & (POLLIN | POLLHUP)) {
            const ssize_t n = ::recv(m_pump, buffer, sizeof buffer, 0);
            if (n > 0 && m_raw)
                toNet.append(buffer, static_cast<std::size_t>(n));
            else if (n > 0)
                telnet::appendEscaped(toNet, std::string_view(buffer, static_cast<std::size_t>(n)));
            else if (n == 0 || (errno != EAGAIN && errno != EINTR))
                break; // every local descriptor is closed
        }
    }
    finish();
}
