#include "platform/serial/SerialEngine.h"

#include "platform/log/DialscopeLog.h"
#include "platform/serial/SignalEvent.h"

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <fcntl.h>
#include <mutex>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <system_error>
#include <termios.h>
#include <thread>
#include <unistd.h>

// Everything the two threads touch. Shared with them, so a thread that outlives
// its stop bound never uses freed memory; the descriptor is closed when the
// last holder lets go, or by close() once both threads have ended.
struct SerialEngine::Link {
    explicit Link(int descriptor)
        : fd(descriptor) {}
    ~Link() {
        if (fd >= 0)
            ::close(fd);
    }

    int fd;
    SignalEvent readerStop;
    SignalEvent writerStop;
    SignalEvent sendSignal;

    mutable std::mutex receiveLock;
    std::deque<Block> received;
    mutable std::mutex sendLock;
    std::deque<Block> sendQueue;
};

struct SerialEngine::Worker {
    struct Done {
        std::mutex lock;
        std::condition_variable cv;
        bool finished = false;
    };
    std::thread thread;
    std::shared_ptr<Done> done = std::make_shared<Done>();

    bool running() const {
        std::lock_guard lock(done->lock);
        return thread.joinable() && !done->finished;
    }
};

namespace {

// Raw binary mode: no line editing, echo, signals, character translation or
// output processing; reads return as soon as one byte is there. Speed, parity,
// stop bits and both kinds of flow control stay as they were set.
void configureRaw(int fd) {
    termios tio{};
    if (::tcgetattr(fd, &tio) != 0)
        return; // a character device that is no terminal: nothing to configure
    tio.c_iflag &= ~tcflag_t(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL);
    tio.c_oflag &= ~tcflag_t(OPOST);
    tio.c_lflag &= ~tcflag_t(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
    tio.c_cflag |= CREAD;
    tio.c_cc[VMIN] = 1;
    tio.c_cc[VTIME] = 0;
    if (::tcsetattr(fd, TCSANOW, &tio) != 0)
        qCWarning(lcLink, "cannot make the connection's terminal raw: %s", std::strerror(errno));
}

void raiseOwnPriority() {
    // Only a privileged process may lower its nice value; failure is fine.
    ::setpriority(PRIO_PROCESS, ::gettid(), -10);
}

// Waits until the stop event fires or `ms` pass; true when it fired.
bool stopWithin(const SignalEvent& stop, int ms) {
    pollfd p{stop.fd(), POLLIN, 0};
    int r;
    while ((r = ::poll(&p, 1, ms)) < 0 && errno == EINTR) {
    }
    return r != 0;
}

} // namespace

SerialEngine::SerialEngine(std::chrono::milliseconds stopBound)
    : m_stopBound(stopBound) {}

SerialEngine::~SerialEngine() {
    close({});
}

bool SerialEngine::isCharDevice(int fd) {
    struct stat st {};
    return ::fstat(fd, &st) == 0 && S_ISCHR(st.st_mode);
}

bool SerialEngine::isByteStream(int fd) {
    struct stat st {};
    if (::fstat(fd, &st) != 0)
        return false;
    if (S_ISCHR(st.st_mode))
        return true;
    int type = 0;
    socklen_t length = sizeof type;
    return S_ISSOCK(st.st_mode) && ::getsockopt(fd, SOL_SOCKET, SO_TYPE, &type, &length) == 0 &&
           type == SOCK_STREAM;
}

bool SerialEngine::Open(int fd) {
    if (m_link)
        return false;
    auto link = std::make_shared<Link>(fd);
    if (!link->readerStop.valid() || !link->writerStop.valid() || !link->sendSignal.valid()) {
        qCWarning(lcLink, "no events for the connection's threads: %s", std::strerror(errno));
        return false;
    }
    configureRaw(fd);
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0 || ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) < 0) {
        qCWarning(lcLink, "cannot make the connection non-blocking: %s", std::strerror(errno));
        return false;
    }

    auto reader = std::make_unique<Worker>();
    auto writer = std::make_unique<Worker>();
    auto launch = [&link](Worker& worker, void (*body)(Link&)) {
        auto done = worker.done;
        worker.thread = std::thread([link, done, body] {
            body(*link);
            std::lock_guard lock(done->lock);
            done->finished = true;
            done->cv.notify_all();
        });
    };
    try {
        launch(*reader, runReader);
        launch(*writer, runWriter);
    } catch (const std::system_error& error) {
        qCWarning(lcLink, "no thread for the connection: %s", error.what());
        link->readerStop.set();
        link->writerStop.set();
        if (reader->thread.joinable())
            reader->thread.join();
        return false;
    }
    m_link = std::move(link);
    m_reader = std::move(reader);
    m_writer = std::move(writer);
    return true;
}

bool SerialEngine::stopWorker(Worker& worker, const std::function<void()>& pump) {
    if (!worker.thread.joinable())
        return true;
    const auto deadline = std::chrono::steady_clock::now() + m_stopBound;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        {
            std::unique_lock lock(worker.done->lock);
            const auto slice = std::clamp(left, std::chrono::milliseconds(0), std::chrono::milliseconds(20));
            if (worker.done->cv.wait_for(lock, slice, [&] { return worker.done->finished; }))
                break;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            // Left to end on its own; it keeps the shared state alive.
            worker.thread.detach();
            return false;
        }
        if (pump)
            pump();
    }
    worker.thread.join();
    return true;
}

void SerialEngine::close(const std::function<void()>& pump) {
    if (!m_link)
        return;
    std::shared_ptr<Link> link = m_link;
    link->readerStop.set();
    const bool readerEnded = stopWorker(*m_reader, pump);
    link->writerStop.set();
    const bool writerEnded = stopWorker(*m_writer, pump);
    {
        std::lock_guard lock(link->receiveLock);
        link->received.clear();
    }
    {
        std::lock_guard lock(link->sendLock);
        link->sendQueue.clear();
    }
    if (readerEnded && writerEnded) {
        ::tcflush(link->fd, TCIFLUSH);
        ::tcflush(link->fd, TCOFLUSH);
        ::close(link->fd);
        link->fd = -1;
    }
    m_reader.reset();
    m_writer.reset();
    m_link.reset();
}

void SerialEngine::QueueSend(Block block) {
    if (!m_link)
        return;
    {
        std::lock_guard lock(m_link->sendLock);
        m_link->sendQueue.push_back(std::move(block));
    }
    m_link->sendSignal.set();
}

std::optional<SerialEngine::Block> SerialEngine::takeReceived() {
    if (!m_link)
        return std::nullopt;
    std::lock_guard lock(m_link->receiveLock);
    if (m_link->received.empty())
        return std::nullopt;
    Block block = std::move(m_link->received.front());
    m_link->received.pop_front();
    return block;
}

void SerialEngine::PushFrontReceived(Block block) {
    if (!m_link)
        return;
    std::lock_guard lock(m_link->receiveLock);
    m_link->received.push_front(std::move(block));
}

size_t SerialEngine::receivedCount() const {
    if (!m_link)
        return 0;
    std::lock_guard lock(m_link->receiveLock);
    return m_link->received.size();
}

size_t SerialEngine::pendingSendCount() const {
    if (!m_link)
        return 0;
    std::lock_guard lock(m_link->sendLock);
    return m_link->sendQueue.size();
}

int SerialEngine::descriptor() const {
    return m_link ? m_link->fd : -1;
}

bool SerialEngine::readerRunning() const {
    return m_reader && m_reader->running();
}
bool SerialEngine::writerRunning() const {
    return m_writer && m_writer->running();
}

// Reader thread body. Ends on its stop event, an empty read or a read error.
void SerialEngine::runReader(Link& link) {
    raiseOwnPriority();
    uint8_t buffer[SerialEngine::kReadSize];
    pollfd fds[2] = {{link.readerStop.fd(), POLLIN, 0}, {link.fd, POLLIN | POLLPRI, 0}};
    for (;;) {
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            qCWarning(lcLink, "waiting for received data failed: %s", std::strerror(errno));
            break;
        }
        if (fds[0].revents)
            break;
        const short events = fds[1].revents;
        if (events & POLLNVAL)
            break;
        if (!events)
            continue;
        // Read what is there, 1,024 bytes at a time, before polling again: a
        // modem or pty hands over several kilobytes per wake-up. The bound
        // keeps the stop event looked at while data streams in.
        bool gotData = false;
        bool ended = false;
        for (int reads = 0; reads < kReadsPerWake;) {
            const ssize_t n = ::read(link.fd, buffer, sizeof buffer);
            if (n > 0) {
                SerialEngine::Block block(buffer, buffer + n);
                std::lock_guard lock(link.receiveLock);
                link.received.push_back(std::move(block));
                gotData = true;
                ++reads;
                continue;
            }
            if (n < 0 && errno == EINTR)
                continue;
            ended = n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK); // empty read or read error
            if (n < 0 && ended)
                qCWarning(lcLink, "reading the connection failed: %s", std::strerror(errno));
            break;
        }
        if (ended)
            break;
        // A line error without data: the poll reported it and it is cleared; a
        // short pause keeps a condition that stays raised from spinning.
        if (!gotData && (events & (POLLERR | POLLPRI | POLLHUP))) {
            if (stopWithin(link.readerStop, 10))
                break;
        }
    }
    ::tcflush(link.fd, TCIFLUSH);
}

// Writes one block whole. An error straight away drops the block as written;
// the stop event, or an error after waiting for the line, fails the write.
bool SerialEngine::writeBlock(Link& link, const Block& block) {
    size_t offset = 0;
    bool waited = false;
    while (offset < block.size()) {
        const ssize_t n = ::write(link.fd, block.data() + offset, block.size() - offset);
        if (n > 0) {
            offset += size_t(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            pollfd fds[2] = {{link.writerStop.fd(), POLLIN, 0}, {link.fd, POLLOUT, 0}};
            while (::poll(fds, 2, -1) < 0) {
                if (errno != EINTR) {
                    qCWarning(lcLink, "waiting to send failed; sending stops: %s", std::strerror(errno));
                    return false;
                }
            }
            if (fds[0].revents)
                return false;
            if (!(fds[1].revents & POLLOUT)) {
                qCWarning(lcLink, "the connection closed while sending; sending stops");
                return false;
            }
            waited = true;
            continue;
        }
        // Once per block at most, so the budget keeps a failing line quiet.
        DIALSCOPE_WARN_LIMITED(lcLink, "writing the connection failed: %s%s", std::strerror(errno),
                               waited ? "; sending stops" : "; the block is dropped");
        return !waited;
    }
    return true;
}

// Writer thread body. Ends on its stop event or a failed write.
void SerialEngine::runWriter(Link& link) {
    pollfd fds[2] = {{link.writerStop.fd(), POLLIN, 0}, {link.sendSignal.fd(), POLLIN, 0}};
    bool failed = false;
    while (!failed) {
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            break;
        }
        if (fds[0].revents || !(fds[1].revents & POLLIN))
            break;
        link.sendSignal.clear();
        for (;;) {
            const SerialEngine::Block* item = nullptr;
            {
                std::lock_guard lock(link.sendLock);
                if (link.sendQueue.empty())
                    break;
                // Only this thread removes items, and appending at the tail of
                // a deque leaves references to existing items valid.
                item = &link.sendQueue.front();
            }
            if (!writeBlock(link, *item)) {
                failed = true;
                break;
            }
            std::lock_guard lock(link.sendLock);
            link.sendQueue.pop_front();
        }
    }
    ::tcflush(link.fd, TCOFLUSH);
}
