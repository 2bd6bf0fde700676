#include "tests/sitesim/PtyClient.h"

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>
#include <utility>

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

PtyClient::PtyClient(const std::string& path) {
    m_fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    termios tio{};
    if (m_fd >= 0 && tcgetattr(m_fd, &tio) == 0) {
        cfmakeraw(&tio);
        tcsetattr(m_fd, TCSANOW, &tio);
    }
}

PtyClient::~PtyClient() {
    if (m_fd >= 0)
        ::close(m_fd);
}

void PtyClient::write(std::string_view text) {
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(m_fd, text.data() + done, text.size() - done);
        if (n > 0) {
            done += size_t(n);
        } else if (n < 0 && errno == EAGAIN) {
            pollfd p{m_fd, POLLOUT, 0};
            ::poll(&p, 1, 100);
        } else {
            return;
        }
    }
}

void PtyClient::write(const std::vector<uint8_t>& bytes) {
    write(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
}

bool PtyClient::readSome(milliseconds timeout, std::string& into) {
    if (m_hungUp)
        return false;
    pollfd p{m_fd, POLLIN, 0};
    if (::poll(&p, 1, int(timeout.count())) <= 0)
        return false;
    char buf[65536];
    const ssize_t n = ::read(m_fd, buf, sizeof buf);
    if (n > 0) {
        into.append(buf, size_t(n));
        return true;
    }
    if ((n < 0 && errno == EIO) || n == 0 || (p.revents & POLLHUP))
        m_hungUp = true;
    return false;
}

std::string PtyClient::readUntil(const std::string& pattern, milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    while (m_text.find(pattern) == std::string::npos) {
        const auto left = std::chrono::duration_cast<milliseconds>(deadline - Clock::now());
        if (left.count() <= 0 || (!readSome(left, m_text) && m_hungUp))
            break;
    }
    return std::exchange(m_text, {});
}

size_t PtyClient::drainFor(milliseconds duration) {
    const auto deadline = Clock::now() + duration;
    size_t total = 0;
    for (;;) {
        const auto left = std::chrono::duration_cast<milliseconds>(deadline - Clock::now());
        if (left.count() <= 0)
            break;
        std::string chunk;
        readSome(left, chunk);
        total += chunk.size();
        if (m_hungUp)
            break;
    }
    return total;
}

std::optional<sitesim::Packet> PtyClient::nextPacket(milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    for (;;) {
        if (auto packet = m_reader.next())
            return packet;
        const auto left = std::chrono::duration_cast<milliseconds>(deadline - Clock::now());
        if (left.count() <= 0)
            return std::nullopt;
        std::string chunk;
        if (!readSome(left, chunk) && m_hungUp)
            return std::nullopt;
        m_reader.feed(std::span(reinterpret_cast<const uint8_t*>(chunk.data()), chunk.size()));
    }
}

std::optional<sitesim::Packet> PtyClient::nextPacketOfType(uint8_t type, milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    while (Clock::now() < deadline) {
        auto packet = nextPacket(std::chrono::duration_cast<milliseconds>(deadline - Clock::now()));
        if (!packet || packet->type == type)
            return packet;
    }
    return std::nullopt;
}

bool PtyClient::waitForHangUp(milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    while (!m_hungUp && Clock::now() < deadline) {
        std::string ignored;
        readSome(std::chrono::duration_cast<milliseconds>(deadline - Clock::now()), ignored);
    }
    return m_hungUp;
}
