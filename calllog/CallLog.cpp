#include "calllog/CallLog.h"

#include "platform/registry/RegistryStore.h"

#include <QDir>
#include <QFileInfo>
#include <QIODevice>
#include <QLoggingCategory>
#include <QSaveFile>
#include <QTimeZone>

#include <algorithm>

#include <sqlite3.h>
#include <sys/stat.h>

Q_LOGGING_CATEGORY(lcCallLog, "dialscope.calllog")

namespace {

constexpr int kBusyTimeoutMs = 2000;

constexpr const char* kSchema = R"(
CREATE TABLE IF NOT EXISTS Calls(
  Id INTEGER PRIMARY KEY,
  Start INTEGER NOT NULL,
  UtcOffset INTEGER NOT NULL,
  Direction TEXT NOT NULL,
  Number TEXT NOT NULL,
  Site TEXT NOT NULL,
  Modem TEXT NOT NULL,
  ConnectSpeed INTEGER NOT NULL,
  Result TEXT NOT NULL,
  EndedBy TEXT NOT NULL,
  DurationMs INTEGER NOT NULL,
  BytesIn INTEGER NOT NULL,
  BytesOut INTEGER NOT NULL,
  Frames INTEGER NOT NULL,
  Channels INTEGER NOT NULL,
  Clips INTEGER NOT NULL,
  EventFiled INTEGER NOT NULL);
CREATE INDEX IF NOT EXISTS CallsByStart ON Calls(Start);
)";

constexpr const char* kColumns =
    "Id, Start, UtcOffset, Direction, Number, Site, Modem, ConnectSpeed, Result, "
    "EndedBy, DurationMs, BytesIn, BytesOut, Frames, Channels, Clips, EventFiled";

// Statement with automatic finalisation.
class Statement {
public:
    Statement(sqlite3* db, const std::string& sql) {
        if (db && sqlite3_prepare_v2(db, sql.c_str(), -1, &m_stmt, nullptr) != SQLITE_OK) {
            qCWarning(lcCallLog) << "prepare failed:" << sqlite3_errmsg(db);
            m_stmt = nullptr;
        }
    }
    ~Statement() { sqlite3_finalize(m_stmt); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;
    explicit operator bool() const { return m_stmt != nullptr; }
    sqlite3_stmt* get() const { return m_stmt; }
    void bind(int i, int64_t v) { sqlite3_bind_int64(m_stmt, i, v); }
    void bind(int i, const QString& v) {
        const QByteArray utf8 = v.toUtf8();
        sqlite3_bind_text(m_stmt, i, utf8.constData(), int(utf8.size()), SQLITE_TRANSIENT);
    }
    QString text(int i) const {
        const auto* p = reinterpret_cast<const char*>(sqlite3_column_text(m_stmt, i));
        return p ? QString::fromUtf8(p, sqlite3_column_bytes(m_stmt, i)) : QString();
    }
    int64_t integer(int i) const { return sqlite3_column_int64(m_stmt, i); }

private:
    sqlite3_stmt* m_stmt = nullptr;
};

const QString kDirectionDialled = QStringLiteral("dialled");
const QString kDirectionAnswered = QStringLiteral("answered");

// A stored count read back: never negative, whatever the file holds.
uint64_t count(int64_t v) {
    return v < 0 ? 0 : uint64_t(v);
}

CallLogEntry entryFromRow(const Statement& row) {
    CallLogEntry e;
    e.id = row.integer(0);
    const int64_t offset = std::clamp<int64_t>(row.integer(2), -18 * 3600, 18 * 3600);
    e.start = QDateTime::fromMSecsSinceEpoch(row.integer(1), QTimeZone(int(offset)));
    e.direction = row.text(3) == kDirectionAnswered ? CallDirection::Answered : CallDirection::Dialled;
    e.number = row.text(4);
    e.site = row.text(5);
    e.modem = row.text(6);
    e.connectSpeed = uint32_t(std::min<uint64_t>(count(row.integer(7)), UINT32_MAX));
    e.result = CallLog::resultFromCode(row.text(8)).value_or(CallResult::NoCarrier);
    e.endedBy = CallLog::endedByFromCode(row.text(9)).value_or(CallEndedBy::None);
    e.durationMs = int64_t(count(row.integer(10)));
    e.bytesIn = count(row.integer(11));
    e.bytesOut = count(row.integer(12));
    e.frames = count(row.integer(13));
    e.channels = uint32_t(std::min<uint64_t>(count(row.integer(14)), UINT32_MAX));
    e.clips = uint32_t(std::min<uint64_t>(count(row.integer(15)), UINT32_MAX));
    e.eventFiled = row.integer(16) != 0;
    return e;
}

// RFC 4180: a field with a comma, quote or line break is quoted, quotes doubled.
QByteArray csvField(const QString& text) {
    QByteArray utf8 = text.toUtf8();
    if (!utf8.contains(',') && !utf8.contains('"') && !utf8.contains('\r') && !utf8.contains('\n'))
        return utf8;
    utf8.replace("\"", "\"\"");
    return '"' + utf8 + '"';
}

QString isoTime(const QDateTime& time) {
    // Always with the offset, so the text names one instant wherever it is read.
    return time.toOffsetFromUtc(time.offsetFromUtc()).toString(Qt::ISODate);
}

} // namespace

CallLog::CallLog(const QString& path, int64_t maxEntries)
    : m_maxEntries(std::max<int64_t>(1, maxEntries)) {
    const QFileInfo info(path);
    if (!QDir().mkpath(info.absolutePath())) {
        qCWarning(lcCallLog) << "cannot create the folder of" << path;
        return;
    }
    const bool existed = info.exists();
    const QByteArray file = QFile::encodeName(path);
    if (sqlite3_open_v2(file.constData(), &m_db,
                        SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX,
                        nullptr) != SQLITE_OK) {
        qCWarning(lcCallLog) << "cannot open" << path << ":"
                             << (m_db ? sqlite3_errmsg(m_db) : "out of memory");
        sqlite3_close(m_db);
        m_db = nullptr;
        return;
    }
    if (!existed)
        ::chmod(file.constData(), 0600); // the log names sites and numbers
    sqlite3_busy_timeout(m_db, kBusyTimeoutMs);
    if (!exec("PRAGMA journal_mode=WAL") || !exec("PRAGMA synchronous=NORMAL") || !exec(kSchema)) {
        qCWarning(lcCallLog) << "unusable call log" << path;
        sqlite3_close(m_db);
        m_db = nullptr;
    }
}

CallLog::~CallLog() {
    sqlite3_close(m_db);
}

QString CallLog::defaultPath() {
    const QString store = QString::fromStdString(RegistryStore::defaultPath(RegistryRoot::CurrentUser));
    return QFileInfo(store).absolutePath() + QStringLiteral("/calls.sqlite");
}

bool CallLog::exec(const char* sql) const {
    char* error = nullptr;
    if (sqlite3_exec(m_db, sql, nullptr, nullptr, &error) == SQLITE_OK)
        return true;
    qCWarning(lcCallLog) << "statement failed:" << (error ? error : "") << sql;
    sqlite3_free(error);
    return false;
}

bool CallLog::append(const CallLogEntry& entry) {
    if (!m_db)
        return false;
    Statement insert(m_db,
                     "INSERT INTO Calls(Start, UtcOffset, Direction, Number, Site, Modem, ConnectSpeed, "
                     "Result, EndedBy, DurationMs, BytesIn, BytesOut, Frames, Channels, Clips, EventFiled) "
                     "VALUES(?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?)");
    if (!insert)
        return false;
    const auto clampCount = [](uint64_t v) {
        return int64_t(std::min<uint64_t>(v, uint64_t(INT64_MAX)));
    };
    insert.bind(1, entry.start.toMSecsSinceEpoch());
    insert.bind(2, int64_t(entry.start.offsetFromUtc()));
    insert.bind(3, entry.direction == CallDirection::Answered ? kDirectionAnswered : kDirectionDialled);
    insert.bind(4, entry.number);
    insert.bind(5, entry.site);
    insert.bind(6, entry.modem);
    insert.bind(7, int64_t(entry.connectSpeed));
    insert.bind(8, resultCode(entry.result));
    insert.bind(9, endedByCode(entry.endedBy));
    insert.bind(10, std::max<int64_t>(0, entry.durationMs));
    insert.bind(11, clampCount(entry.bytesIn));
    insert.bind(12, clampCount(entry.bytesOut));
    insert.bind(13, clampCount(entry.frames));
    insert.bind(14, int64_t(entry.channels));
    insert.bind(15, int64_t(entry.clips));
    insert.bind(16, entry.eventFiled ? 1 : 0);

    if (!exec("BEGIN IMMEDIATE"))
        return false;
    bool ok = sqlite3_step(insert.get()) == SQLITE_DONE;
    if (!ok)
        qCWarning(lcCallLog) << "append failed:" << sqlite3_errmsg(m_db);
    if (ok) {
        // Row ids only grow, so the newest kMaxEntries are the highest ids.
        Statement trim(m_db, "DELETE FROM Calls WHERE Id <= ?");
        trim.bind(1, sqlite3_last_insert_rowid(m_db) - m_maxEntries);
        ok = trim && sqlite3_step(trim.get()) == SQLITE_DONE;
    }
    if (!ok || !exec("COMMIT")) {
        exec("ROLLBACK");
        return false;
    }
    return true;
}

std::vector<CallLogEntry> CallLog::query(const CallLogFilter& filter) const {
    std::vector<CallLogEntry> entries;
    if (!m_db)
        return entries;
    std::string sql = std::string("SELECT ") + kColumns + " FROM Calls WHERE 1";
    if (filter.from)
        sql += " AND Start >= :from";
    if (filter.to)
        sql += " AND Start < :to";
    if (!filter.text.isEmpty())
        sql += " AND (Number LIKE :text ESCAPE '\\' OR Site LIKE :text ESCAPE '\\')";
    if (filter.result)
        sql += " AND Result = :result";
    sql += " ORDER BY Start DESC, Id DESC";
    Statement query(m_db, sql);
    if (!query)
        return entries;
    const auto index = [&query](const char* name) {
        return sqlite3_bind_parameter_index(query.get(), name);
    };
    if (filter.from)
        query.bind(index(":from"), filter.from->toMSecsSinceEpoch());
    if (filter.to)
        query.bind(index(":to"), filter.to->toMSecsSinceEpoch());
    if (!filter.text.isEmpty()) {
        QString pattern = filter.text;
        pattern.replace(QLatin1Char('\\'), QStringLiteral("\\\\"))
            .replace(QLatin1Char('%'), QStringLiteral("\\%"))
            .replace(QLatin1Char('_'), QStringLiteral("\\_"));
        query.bind(index(":text"), QLatin1Char('%') + pattern + QLatin1Char('%'));
    }
    if (filter.result)
        query.bind(index(":result"), resultCode(*filter.result));
    int rc;
    while ((rc = sqlite3_step(query.get())) == SQLITE_ROW)
        entries.push_back(entryFromRow(query));
    if (rc != SQLITE_DONE)
        qCWarning(lcCallLog) << "query stopped:" << sqlite3_errmsg(m_db);
    return entries;
}

CallLogTotals CallLog::totals(const std::vector<CallLogEntry>& entries) {
    CallLogTotals totals;
    for (const CallLogEntry& e : entries) {
        ++totals.calls;
        if (e.result == CallResult::Connected || e.durationMs > 0)
            totals.connectedMs += e.durationMs;
        totals.bytesIn += e.bytesIn;
        totals.bytesOut += e.bytesOut;
    }
    return totals;
}

bool CallLog::writeCsv(const std::vector<CallLogEntry>& entries, QIODevice& out) {
    bool ok = out.write("Start,Direction,Number,Site,Modem,ConnectSpeed,Result,EndedBy,DurationSeconds,"
                        "BytesIn,BytesOut,Frames,Channels,Clips,EventFiled\r\n") > 0;
    for (const CallLogEntry& e : entries) {
        if (!ok)
            break;
        QByteArray line;
        line += csvField(isoTime(e.start)) + ',';
        line += (e.direction == CallDirection::Answered ? "answered" : "dialled");
        line += ',' + csvField(e.number) + ',' + csvField(e.site) + ',' + csvField(e.modem) + ',';
        line += QByteArray::number(e.connectSpeed) + ',';
        line += resultCode(e.result).toUtf8() + ',' + endedByCode(e.endedBy).toUtf8() + ',';
        line += QByteArray::number(double(e.durationMs) / 1000.0, 'f', 3) + ',';
        line += QByteArray::number(qulonglong(e.bytesIn)) + ',' + QByteArray::number(qulonglong(e.bytesOut)) +
                ',';
        line += QByteArray::number(qulonglong(e.frames)) + ',' + QByteArray::number(e.channels) + ',';
        line += QByteArray::number(e.clips) + ',' + (e.eventFiled ? "yes" : "no") + "\r\n";
        ok = out.write(line) == line.size();
    }
    return ok;
}

bool CallLog::exportCsv(const QString& logPath, const QString& csvPath) {
    std::vector<CallLogEntry> entries;
    if (QFileInfo::exists(logPath)) {
        const CallLog log(logPath);
        if (!log.IsOpen())
            return false;
        entries = log.query();
    }
    QSaveFile out(csvPath);
    if (!out.open(QIODevice::WriteOnly)) {
        qCWarning(lcCallLog) << "cannot write" << csvPath << ":" << out.errorString();
        return false;
    }
    if (!writeCsv(entries, out)) {
        out.cancelWriting();
        return false;
    }
    return out.commit();
}

QString CallLog::resultCode(CallResult result) {
    switch (result) {
    case CallResult::Connected:
        return QStringLiteral("connected");
    case CallResult::Busy:
        return QStringLiteral("busy");
    case CallResult::NoAnswer:
        return QStringLiteral("no-answer");
    case CallResult::NoDialTone:
        return QStringLiteral("no-dial-tone");
    case CallResult::NoCarrier:
        return QStringLiteral("no-carrier");
    case CallResult::LoginRejected:
        return QStringLiteral("login-rejected");
    case CallResult::NoDecompressor:
        return QStringLiteral("no-decompressor");
    }
    return {};
}

QString CallLog::endedByCode(CallEndedBy endedBy) {
    switch (endedBy) {
    case CallEndedBy::None:
        return QString();
    case CallEndedBy::Operator:
        return QStringLiteral("operator");
    case CallEndedBy::SiteRequest:
        return QStringLiteral("site-request");
    case CallEndedBy::FarEnd:
        return QStringLiteral("far-end");
    case CallEndedBy::LineError:
        return QStringLiteral("line-error");
    case CallEndedBy::Watchdog:
        return QStringLiteral("watchdog");
    }
    return {};
}

std::optional<CallResult> CallLog::resultFromCode(const QString& code) {
    for (CallResult r :
         {CallResult::Connected, CallResult::Busy, CallResult::NoAnswer, CallResult::NoDialTone,
          CallResult::NoCarrier, CallResult::LoginRejected, CallResult::NoDecompressor})
        if (resultCode(r) == code)
            return r;
    return std::nullopt;
}

std::optional<CallEndedBy> CallLog::endedByFromCode(const QString& code) {
    for (CallEndedBy e : {CallEndedBy::None, CallEndedBy::Operator, CallEndedBy::SiteRequest,
                          CallEndedBy::FarEnd, CallEndedBy::LineError, CallEndedBy::Watchdog})
        if (endedByCode(e) == code)
            return e;
    return std::nullopt;
}
