#pragma once

// The call log: one row per finished call attempt, dialled or answered,
// connected or not, in its own SQLite file beside the settings store
// ("calls.sqlite", same folder rules, mode 0600 in a 0700 folder). The
// settings store is not touched.
//
// How it works: Append writes one row in its own transaction when a call has
// ended (write-ahead log, so a crash loses at most the call still running)
// and drops the rows beyond the newest kMaxEntries. Query reads rows newest
// first with optional filters; WriteCsv turns rows into RFC 4180 text (UTF-8,
// header row, CRLF line ends, ISO 8601 times with their UTC offset).
//
// One CallLog object per thread; several processes may share the file (an
// export runs while the program writes).

#include <QDateTime>
#include <QString>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

class QIODevice;
struct sqlite3;

enum class CallDirection { Dialled, Answered };

enum class CallResult {
    Connected,
    Busy,
    NoAnswer,
    NoDialTone,
    NoCarrier,
    LoginRejected,
    NoDecompressor,
};

// Who ended a connected call; None for calls that never connected.
enum class CallEndedBy { None, Operator, SiteRequest, FarEnd, LineError, Watchdog };

struct CallLogEntry {
    int64_t id = 0; // assigned by Append
    QDateTime start;
    CallDirection direction = CallDirection::Dialled;
    QString number; // the dialled number; empty for answered calls
    QString site;   // phone-book or site name; empty when unknown
    QString modem;
    uint32_t connectSpeed = 0;
    CallResult result = CallResult::NoCarrier;
    CallEndedBy endedBy = CallEndedBy::None;
    int64_t durationMs = 0; // time connected
    uint64_t bytesIn = 0;
    uint64_t bytesOut = 0;
    uint64_t frames = 0;
    uint32_t channels = 0; // channels that sent at least one frame
    uint32_t clips = 0;    // clips recorded
    bool eventFiled = false;

    bool operator==(const CallLogEntry&) const = default;
};

struct CallLogFilter {
    std::optional<QDateTime> from; // start at or after
    std::optional<QDateTime> to;   // start before
    QString text;                  // part of the number or the site name, any case
    std::optional<CallResult> result;
};

struct CallLogTotals {
    uint64_t calls = 0;
    int64_t connectedMs = 0;
    uint64_t bytesIn = 0;
    uint64_t bytesOut = 0;
};

class CallLog {
public:
    static constexpr int64_t kMaxEntries = 100000;

    // Opens or creates the file; a file that cannot be opened leaves the log
    // unusable (IsOpen false, Append and Query do nothing).
    explicit CallLog(const QString& path, int64_t maxEntries = kMaxEntries);
    ~CallLog();
    CallLog(const CallLog&) = delete;
    CallLog& operator=(const CallLog&) = delete;

    // "calls.sqlite" in the folder of the per-user settings store.
    static QString defaultPath();

    bool IsOpen() const { return m_db != nullptr; }
    // Stores `entry` (its id is ignored); false when it was not written.
    bool append(const CallLogEntry& entry);
    // Matching rows, newest first.
    std::vector<CallLogEntry> query(const CallLogFilter& filter = {}) const;

    static CallLogTotals totals(const std::vector<CallLogEntry>& entries);
    // Writes the header row and one row per entry; false when a write failed.
    static bool writeCsv(const std::vector<CallLogEntry>& entries, QIODevice& out);
    // Writes the whole log to `path` as CSV (replacing it whole or not at all).
    static bool exportCsv(const QString& logPath, const QString& csvPath);

    // The stable codes stored and exported ("connected", "no-answer", "far-end").
    static QString resultCode(CallResult result);
    static QString endedByCode(CallEndedBy endedBy);
    static std::optional<CallResult> resultFromCode(const QString& code);
    static std::optional<CallEndedBy> endedByFromCode(const QString& code);

private:
    bool exec(const char* sql) const;

    sqlite3* m_db = nullptr;
    int64_t m_maxEntries;
};
