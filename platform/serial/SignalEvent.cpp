#include "platform/serial/SignalEvent.h"

#include <cerrno>
#include <cstdint>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

SignalEvent::SignalEvent()
    : m_fd(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}

SignalEvent::~SignalEvent() {
    if (m_fd >= 0)
        ::close(m_fd);
}

void SignalEvent::set() {
    const uint64_t one = 1;
    // The counter only saturates after 2^64 - 2 sets; a failed write (EAGAIN)
    // therefore still leaves the event set.
    while (::write(m_fd, &one, sizeof one) < 0 && errno == EINTR) {
    }
}

void SignalEvent::clear() {
    uint64_t value = 0;
    while (::read(m_fd, &value, sizeof value) < 0 && errno == EINTR) {
    }
}

bool SignalEvent::isSet() const {
    pollfd p{m_fd, POLLIN, 0};
    return ::poll(&p, 1, 0) > 0 && (p.revents & POLLIN);
}
