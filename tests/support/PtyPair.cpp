#include "tests/support/PtyPair.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

PtyPair::PtyPair() {
    m_controller = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (m_controller < 0 || ::grantpt(m_controller) != 0 || ::unlockpt(m_controller) != 0)
        return;
    const char* name = ::ptsname(m_controller);
    if (!name)
        return;
    m_terminal = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (m_terminal >= 0) {
        // Raw from the start, so nothing the test writes is edited or echoed
        // before the code under test configures the line.
        termios tio{};
        ::tcgetattr(m_terminal, &tio);
        ::cfmakeraw(&tio);
        ::tcsetattr(m_terminal, TCSANOW, &tio);
    }
}

PtyPair::~PtyPair() {
    closeController();
    if (m_terminal >= 0)
        ::close(m_terminal);
}

int PtyPair::releaseTerminal() {
    const int fd = m_terminal;
    m_terminal = -1;
    return fd;
}

void PtyPair::closeController() {
    if (m_controller >= 0)
        ::close(m_controller);
    m_controller = -1;
}

bool PtyPair::write(const std::vector<uint8_t>& bytes) {
    size_t offset = 0;
    while (offset < bytes.size()) {
        const ssize_t n = ::write(m_controller, bytes.data() + offset, bytes.size() - offset);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        offset += size_t(n);
    }
    return true;
}

std::vector<uint8_t> PtyPair::read(size_t count, int timeoutMs) {
    std::vector<uint8_t> out;
    uint8_t buffer[4096];
    while (out.size() < count) {
        pollfd p{m_controller, POLLIN, 0};
        if (::poll(&p, 1, timeoutMs) <= 0 || !(p.revents & POLLIN))
            break;
        const ssize_t n = ::read(m_controller, buffer, std::min(sizeof buffer, count - out.size()));
        if (n <= 0)
            break;
        out.insert(out.end(), buffer, buffer + n);
    }
    return out;
}
