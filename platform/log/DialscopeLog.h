#pragma once

// Logging categories of the subsystems, so support can follow a failure that
// the operator is deliberately not told about (store writes, clip files).
//
// How it works: each subsystem logs with qCWarning(lcX, ...) and says why
// (errno text, codec or SQLite message). Warnings and worse are on by
// default, debug messages off; QT_LOGGING_RULES changes that as usual
// ("dialscope.avi.debug=true"). Messages go to stderr; a program that calls
// installLogFile() also appends them to the file named by DIALSCOPE_LOG.

#include <QLoggingCategory>

#include <chrono>
#include <functional>
#include <mutex>

Q_DECLARE_LOGGING_CATEGORY(lcLink)
Q_DECLARE_LOGGING_CATEGORY(lcTelephony)
Q_DECLARE_LOGGING_CATEGORY(lcCodec)
Q_DECLARE_LOGGING_CATEGORY(lcClips)
Q_DECLARE_LOGGING_CATEGORY(lcStore)
Q_DECLARE_LOGGING_CATEGORY(lcAvi)
Q_DECLARE_LOGGING_CATEGORY(lcApp)

// When DIALSCOPE_LOG names a file, every message from now on is written to
// stderr and appended to that file (created 0600). True when a file was
// opened; false when the variable is unset or the file cannot be opened (said
// on stderr).
bool installLogFile();

// Bounds how much one place in the code may write: a failure that a peer can
// repeat (a damaged frame, a stream the decoder refuses) must not make the
// log grow without limit. At most `burst` messages per `period`; the messages
// held back are counted and the count is given with the next one written.
// Thread-safe. The clock is injectable for tests.
class LogBudget {
public:
    using Clock = std::function<std::chrono::steady_clock::time_point()>;
    explicit LogBudget(int burst = 5, std::chrono::steady_clock::duration period = std::chrono::minutes(1),
                       Clock clock = {});

    // True when a message may be written now; `heldBack` then holds how many
    // were held back since the last one written (0 when none).
    bool take(int* heldBack = nullptr);

    // Every budget starts afresh (tests that expect a message from a place
    // earlier tests may have used up).
    static void resetAll();

private:
    std::mutex m_mutex;
    const int m_burst;
    const std::chrono::steady_clock::duration m_period;
    const Clock m_clock;
    std::chrono::steady_clock::time_point m_windowStart{};
    int m_used = 0;
    int m_heldBack = 0;
    unsigned m_generation = 0;
    bool m_started = false;
};

// qCWarning through a budget of its own at this place in the code:
// DIALSCOPE_WARN_LIMITED(lcCodec, "cannot open %s: %s", name, reason).
#define DIALSCOPE_WARN_LIMITED(category, ...)                                                                \
    do {                                                                                                     \
        static LogBudget dialscopeBudget_;                                                                   \
        int dialscopeHeld_ = 0;                                                                              \
        if (dialscopeBudget_.take(&dialscopeHeld_)) {                                                        \
            if (dialscopeHeld_ > 0)                                                                          \
                qCWarning(category, "(%d similar messages held back)", dialscopeHeld_);                      \
            qCWarning(category, __VA_ARGS__);                                                                \
        }                                                                                                    \
    } while (false)
