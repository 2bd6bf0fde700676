#include "platform/log/DialscopeLog.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <unistd.h>

Q_LOGGING_CATEGORY(lcLink, "dialscope.link", QtWarningMsg)
Q_LOGGING_CATEGORY(lcTelephony, "dialscope.telephony", QtWarningMsg)
Q_LOGGING_CATEGORY(lcCodec, "dialscope.codec", QtWarningMsg)
Q_LOGGING_CATEGORY(lcClips, "dialscope.clips", QtWarningMsg)
Q_LOGGING_CATEGORY(lcStore, "dialscope.store", QtWarningMsg)
Q_LOGGING_CATEGORY(lcAvi, "dialscope.avi", QtWarningMsg)
Q_LOGGING_CATEGORY(lcApp, "dialscope.app", QtWarningMsg)

namespace {

std::mutex g_logMutex;
int g_logFd = -1;
QtMessageHandler g_previous = nullptr;

void writeAll(int fd, const QByteArray& line) {
    const char* p = line.constData();
    qsizetype left = line.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, p, size_t(left));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;
        p += n;
        left -= n;
    }
}

void logToFile(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    if (g_previous)
        g_previous(type, context, message);
    const QByteArray line = qFormatLogMessage(type, context, message).toLocal8Bit() + '\n';
    // Messages come from worker threads too; one line at a time.
    std::lock_guard lock(g_logMutex);
    if (g_logFd >= 0)
        writeAll(g_logFd, line);
}

} // namespace

bool installLogFile() {
    const char* path = std::getenv("DIALSCOPE_LOG");
    if (!path || !*path)
        return false;
    const int fd = ::open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
        std::fprintf(stderr, "dialscope: cannot open log file %s: %s\n", path, std::strerror(errno));
        return false;
    }
    {
        std::lock_guard lock(g_logMutex);
        if (g_logFd >= 0)
            ::close(g_logFd);
        g_logFd = fd;
    }
    if (!g_previous)
        g_previous = qInstallMessageHandler(logToFile);
    return true;
}

namespace {
std::atomic<unsigned> g_budgetGeneration{0};
} // namespace

LogBudget::LogBudget(int burst, std::chrono::steady_clock::duration period, Clock clock)
    : m_burst(burst)
    , m_period(period)
    , m_clock(clock ? std::move(clock) : Clock([] { return std::chrono::steady_clock::now(); })) {}

bool LogBudget::take(int* heldBack) {
    std::lock_guard lock(m_mutex);
    const auto now = m_clock();
    const unsigned generation = g_budgetGeneration.load();
    if (!m_started || generation != m_generation) {
        m_started = true;
        m_generation = generation;
        m_windowStart = now;
        m_used = 0;
        m_heldBack = 0;
    } else if (now - m_windowStart >= m_period) {
        m_windowStart = now;
        m_used = 0;
    }
    if (m_used >= m_burst) {
        if (m_heldBack < INT_MAX)
            ++m_heldBack;
        return false;
    }
    ++m_used;
    if (heldBack)
        *heldBack = m_heldBack;
    m_heldBack = 0;
    return true;
}

void LogBudget::resetAll() {
    ++g_budgetGeneration;
}
