// The call log file: rows round trip with every field, filters, the bound on
// its size, owner-only access, a damaged file, and the CSV export read back
// with an independent RFC 4180 reader.
#include "calllog/CallLog.h"
#include "calllog/CallLogCommand.h"
#include "tests/support/TempDir.h"

#include <QBuffer>
#include <QFile>
#include <QTimeZone>
#include <gtest/gtest.h>

#include <sys/stat.h>

namespace {

QDateTime at(int day, int hour, int minute) {
    return QDateTime(QDate(2026, 3, day), QTime(hour, minute), QTimeZone(3600));
}

CallLogEntry Entry(const QDateTime& start, const QString& number, CallResult result) {
    CallLogEntry e;
    e.start = start;
    e.number = number;
    e.modem = QStringLiteral("SiteSim V.34");
    e.result = result;
    return e;
}

// RFC 4180 records: quoted fields may hold commas, CRLF and doubled quotes.
std::vector<std::vector<QString>> parseCsv(const QByteArray& bytes) {
    std::vector<std::vector<QString>> rows;
    std::vector<QString> row;
    QByteArray field;
    bool quoted = false;
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        const char c = bytes[i];
        if (quoted) {
            if (c == '"' && i + 1 < bytes.size() && bytes[i + 1] == '"') {
                field += '"';
                ++i;
            } else if (c == '"') {
                quoted = false;
            } else {
                field += c;
            }
        } else if (c == '"') {
            quoted = true;
        } else if (c == ',') {
            row.push_back(QString::fromUtf8(field));
            field.clear();
        } else if (c == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n') {
            row.push_back(QString::fromUtf8(field));
            field.clear();
            rows.push_back(std::move(row));
            row.clear();
            ++i;
        } else {
            field += c;
        }
    }
    EXPECT_TRUE(field.isEmpty() && row.empty()) << "the last record must end with CRLF";
    return rows;
}

class CallLogTest : public ::testing::Test {
protected:
    TempDir dir{"dialscope-calllog"};
    QString path = QString::fromStdString(dir.file("sub/calls.sqlite"));
};

TEST_F(CallLogTest, RowsComeBackWholeNewestFirstAndSurviveReopening) {
    CallLogEntry full = Entry(at(2, 9, 30), QStringLiteral("555-0101"), CallResult::Connected);
    full.direction = CallDirection::Dialled;
    full.site = QStringLiteral("Nord-Tor Süd");
    full.connectSpeed = 33600;
    full.endedBy = CallEndedBy::SiteRequest;
    full.durationMs = 125500;
    full.bytesIn = 5'000'000'000ull;
    full.bytesOut = 1234;
    full.frames = 987;
    full.channels = 3;
    full.clips = 2;
    full.eventFiled = true;
    CallLogEntry answered = Entry(at(3, 1, 0), QString(), CallResult::LoginRejected);
    answered.direction = CallDirection::Answered;
    {
        CallLog log(path);
        ASSERT_TRUE(log.IsOpen());
        ASSERT_TRUE(log.append(full));
        ASSERT_TRUE(log.append(answered));
        ASSERT_TRUE(log.append(Entry(at(1, 0, 0), QStringLiteral("1"), CallResult::Busy)));
    }
    struct stat st {};
    ASSERT_EQ(::stat(QFile::encodeName(path).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);

    CallLog log(path);
    const std::vector<CallLogEntry> rows = log.query();
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[0].start, answered.start);
    EXPECT_EQ(rows[2].result, CallResult::Busy);
    CallLogEntry back = rows[1];
    EXPECT_GT(back.id, 0);
    back.id = 0;
    EXPECT_EQ(back, full);
    EXPECT_EQ(back.start.offsetFromUtc(), 3600);
}

TEST_F(CallLogTest, FiltersCombineAndTotalsCoverTheFilteredRows) {
    CallLog log(path);
    CallLogEntry a = Entry(at(1, 10, 0), QStringLiteral("555-0101"), CallResult::Connected);
    a.site = QStringLiteral("North Gate");
    a.durationMs = 60000;
    a.bytesIn = 100;
    CallLogEntry b = Entry(at(2, 10, 0), QStringLiteral("555-0202"), CallResult::Connected);
    b.durationMs = 30000;
    b.bytesIn = 50;
    CallLogEntry c = Entry(at(3, 10, 0), QStringLiteral("100%_x"), CallResult::NoAnswer);
    for (const CallLogEntry& e : {a, b, c})
        ASSERT_TRUE(log.append(e));

    CallLogFilter range;
    range.from = at(2, 0, 0);
    range.to = at(3, 10, 0); // exclusive
    ASSERT_EQ(log.query(range).size(), 1u);
    EXPECT_EQ(log.query(range)[0].number, "555-0202");

    CallLogFilter text;
    text.text = QStringLiteral("gate"); // the site name, any case
    ASSERT_EQ(log.query(text).size(), 1u);
    text.text = QStringLiteral("%_"); // wildcard characters match only themselves
    ASSERT_EQ(log.query(text).size(), 1u);
    EXPECT_EQ(log.query(text)[0].number, "100%_x");

    CallLogFilter result;
    result.result = CallResult::Connected;
    const std::vector<CallLogEntry> connected = log.query(result);
    ASSERT_EQ(connected.size(), 2u);
    const CallLogTotals totals = CallLog::totals(connected);
    EXPECT_EQ(totals.calls, 2u);
    EXPECT_EQ(totals.connectedMs, 90000);
    EXPECT_EQ(totals.bytesIn, 150u);
}

TEST_F(CallLogTest, KeepsOnlyTheNewestRowsAndAnUnusableFileFailsQuietly) {
    {
        CallLog log(path, 5);
        for (int i = 0; i < 8; ++i)
            ASSERT_TRUE(log.append(Entry(at(1, 0, i), QString::number(i), CallResult::Busy)));
        const std::vector<CallLogEntry> rows = log.query();
        ASSERT_EQ(rows.size(), 5u);
        EXPECT_EQ(rows.front().number, "7");
        EXPECT_EQ(rows.back().number, "3");
    }
    const QString junk = QString::fromStdString(dir.file("junk.sqlite"));
    QFile file(junk);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(QByteArray(8192, 'x'));
    file.close();
    CallLog broken(junk);
    EXPECT_FALSE(broken.IsOpen());
    EXPECT_FALSE(broken.append(Entry(at(1, 0, 0), QStringLiteral("1"), CallResult::Busy)));
    EXPECT_TRUE(broken.query().empty());
}

TEST_F(CallLogTest, CsvExportReadsBackFieldForField) {
    CallLogEntry tricky = Entry(at(4, 23, 59), QStringLiteral("555,0101"), CallResult::Connected);
    tricky.site = QStringLiteral("Yard \"B\"\r\nLine 2 – Süd");
    tricky.endedBy = CallEndedBy::FarEnd;
    tricky.durationMs = 1500;
    tricky.bytesIn = 42;
    tricky.eventFiled = true;
    CallLogEntry plain = Entry(at(4, 8, 0), QStringLiteral("7"), CallResult::NoDialTone);
    {
        CallLog log(path);
        ASSERT_TRUE(log.append(plain));
        ASSERT_TRUE(log.append(tricky));
    }
    const QString csv = QString::fromStdString(dir.file("out.csv"));
    ASSERT_TRUE(CallLog::exportCsv(path, csv));
    QFile file(csv);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const std::vector<std::vector<QString>> rows = parseCsv(file.readAll());
    ASSERT_EQ(rows.size(), 3u);
    ASSERT_EQ(rows[0].size(), 15u);
    EXPECT_EQ(rows[0][0], "Start");
    for (const auto& row : rows)
        EXPECT_EQ(row.size(), rows[0].size());
    EXPECT_EQ(QDateTime::fromString(rows[1][0], Qt::ISODate), tricky.start);
    EXPECT_EQ(rows[1][0], "2026-03-04T23:59:00+01:00");
    EXPECT_EQ(rows[1][2], tricky.number);
    EXPECT_EQ(rows[1][3], tricky.site);
    EXPECT_EQ(rows[1][6], "connected");
    EXPECT_EQ(rows[1][7], "far-end");
    EXPECT_EQ(rows[1][8], "1.500");
    EXPECT_EQ(rows[1][9], "42");
    EXPECT_EQ(rows[1][14], "yes");
    EXPECT_EQ(rows[2][6], "no-dial-tone");
    EXPECT_EQ(rows[2][7], "");

    // No log yet: the header alone, and no log file made by the export.
    const QString none = QString::fromStdString(dir.file("none/calls.sqlite"));
    file.close();
    ASSERT_TRUE(CallLog::exportCsv(none, csv));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(parseCsv(file.readAll()).size(), 1u);
    EXPECT_FALSE(QFile::exists(none));
}

TEST_F(CallLogTest, CommandLineExportWritesTheWholeLogAndLeavesOtherCommandLinesAlone) {
    {
        CallLog log(path);
        ASSERT_TRUE(log.append(Entry(at(1, 0, 0), QStringLiteral("1"), CallResult::Busy)));
    }
    const std::string csv = dir.file("script.csv");
    const std::string logPath = path.toStdString();
    const char* const exportArgs[] = {"dialscope", "--call-log-csv", csv.c_str()};
    EXPECT_EQ(runCallLogCommand(3, exportArgs, logPath.c_str()), 0);
    QFile file(QString::fromStdString(csv));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(parseCsv(file.readAll()).size(), 2u);

    const std::string joined = "--call-log-csv=" + dir.file("joined.csv");
    const char* const joinedArgs[] = {"dialscope", "-Embedding", joined.c_str()};
    EXPECT_EQ(runCallLogCommand(3, joinedArgs, logPath.c_str()), 0);
    EXPECT_TRUE(QFile::exists(QString::fromStdString(dir.file("joined.csv"))));

    const char* const missing[] = {"dialscope", "--call-log-csv"};
    EXPECT_EQ(runCallLogCommand(2, missing, logPath.c_str()), 2);
    const std::string unwritable = dir.file("no/such/folder/x.csv");
    const char* const badTarget[] = {"dialscope", "--call-log-csv", unwritable.c_str()};
    EXPECT_EQ(runCallLogCommand(3, badTarget, logPath.c_str()), 1);
    const char* const other[] = {"dialscope", "/Embedding"};
    EXPECT_FALSE(runCallLogCommand(2, other, logPath.c_str()));
}

} // namespace
