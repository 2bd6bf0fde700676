// The patrol's stored form, its schedule and its report's JSON.
#include "AppStore.h"
#include "PatrolReport.h"
#include "PatrolRunner.h"
#include "PatrolSettings.h"
#include "RegistryStore.h"
#include "TempDir.h"
#include "UnattendedSettings.h"

#include <gtest/gtest.h>

namespace {

class PatrolStoreTest : public ::testing::Test {
protected:
    TempDir dir{"dialscope-patrol"};
    RegistryStore user{dir.file("user.sqlite")};
    RegistryStore machine{dir.file("machine.sqlite")};
    AppStore store{user, machine};
};

TEST_F(PatrolStoreTest, SettingsRoundTripAndUnusableValuesReadAsOff) {
    // Nothing stored: no patrol, no unattended option on.
    const PatrolSettings empty = PatrolSettings::Read(store);
    EXPECT_TRUE(empty.entries.isEmpty());
    EXPECT_FALSE(empty.scheduled);
    const UnattendedSettings off = UnattendedSettings::Read(store);
    EXPECT_FALSE(off.reconnect);
    EXPECT_EQ(off.reconnectAttempts, 5);
    EXPECT_FALSE(off.retentionFreeSpace);
    EXPECT_EQ(off.retentionDays, 0);

    PatrolSettings s;
    s.entries = {"North Gate", "Yard"};
    s.scheduled = true;
    s.everyHours = 6;
    s.times = *PatrolSettings::ParseTimes("20:00, 8:00 08:00");
    s.recordSeconds = 15;
    ASSERT_TRUE(s.Store(store));
    const PatrolSettings back = PatrolSettings::Read(store);
    EXPECT_EQ(back.entries, s.entries);
    EXPECT_TRUE(back.scheduled);
    EXPECT_EQ(back.everyHours, 6);
    EXPECT_EQ(PatrolSettings::FormatTimes(back.times), "08:00 20:00");
    EXPECT_EQ(back.recordSeconds, 15);

    // Out-of-range values as another program may have written them.
    ASSERT_TRUE(store.SetProfileInt("Patrol", "EveryHours", 169));
    ASSERT_TRUE(store.SetProfileInt("Patrol", "RecordSeconds", -1));
    ASSERT_TRUE(store.SetProfileText("Patrol", "Times", "25:00"));
    ASSERT_TRUE(store.SetProfileInt("Unattended", "ReconnectAttempts", 21));
    ASSERT_TRUE(store.SetProfileInt("Unattended", "RetentionDays", -3));
    const PatrolSettings bad = PatrolSettings::Read(store);
    EXPECT_EQ(bad.everyHours, 0);
    EXPECT_EQ(bad.recordSeconds, 0);
    EXPECT_TRUE(bad.times.isEmpty());
    EXPECT_EQ(UnattendedSettings::Read(store).reconnectAttempts, 5);
    EXPECT_EQ(UnattendedSettings::Read(store).retentionDays, 0);
    EXPECT_FALSE(PatrolSettings::ParseTimes("8:00 noon").has_value());
}

TEST_F(PatrolStoreTest, SitesComeFromThePhoneBookInTheGivenOrder) {
    ASSERT_TRUE(store.SavePhoneEntry({"North Gate", "pw1", "5550101", ""}));
    ASSERT_TRUE(store.SavePhoneEntry({"Yard", "pw2", "5550102", ""}));
    QStringList missing;
    const std::vector<PatrolSite> sites =
        PatrolSitesFromPhoneBook(store, {"yard", "Nowhere", "North Gate"}, &missing);
    ASSERT_EQ(sites.size(), 2u);
    EXPECT_EQ(sites[0].name, "Yard");
    EXPECT_EQ(sites[0].number, "5550102");
    EXPECT_EQ(sites[0].login.user, "Yard");
    EXPECT_EQ(sites[0].login.password, "pw2");
    EXPECT_EQ(sites[1].name, "North Gate");
    EXPECT_EQ(missing, QStringList{"Nowhere"});
}

TEST(PatrolSchedule, EveryNHoursOrTheNextTimeOfDay) {
    PatrolSettings s;
    s.entries = {"A"};
    const QDateTime last(QDate(2026, 3, 4), QTime(21, 30));
    EXPECT_FALSE(PatrolSchedule::NextRound(s, last).has_value()); // not scheduled
    s.scheduled = true;
    EXPECT_FALSE(PatrolSchedule::NextRound(s, last).has_value()); // neither hours nor times
    s.times = *PatrolSettings::ParseTimes("08:00 21:30 22:00");
    EXPECT_EQ(PatrolSchedule::NextRound(s, last), QDateTime(QDate(2026, 3, 4), QTime(22, 0)));
    EXPECT_EQ(PatrolSchedule::NextRound(s, QDateTime(QDate(2026, 3, 4), QTime(23, 0))),
              QDateTime(QDate(2026, 3, 5), QTime(8, 0)));
    s.everyHours = 168; // hours win over times
    EXPECT_EQ(PatrolSchedule::NextRound(s, last), last.addDays(7));
    s.entries.clear();
    EXPECT_FALSE(PatrolSchedule::NextRound(s, last).has_value());
}

TEST(PatrolReport, JsonKeepsEverySiteAndChannelAndSaysWhetherAllWereReached) {
    PatrolReport report;
    report.started = QDateTime(QDate(2026, 3, 4), QTime(5, 6, 7));
    report.folder = "patrol/20260304-050607";
    PatrolSiteResult reached{"North Gate", "1", true, "reached", {}};
    reached.channels.push_back({1, "Gate", "patrol/20260304-050607/North Gate/0001.bmp",
                                QDateTime(QDate(2026, 3, 4), QTime(5, 6, 9)), "picture"});
    reached.channels.push_back({2, "Yard", "", QDateTime(), "no picture"});
    report.sites.push_back(reached);
    EXPECT_TRUE(report.AllReached());
    report.sites.push_back({"Dock", "2", false, "busy", {}});
    EXPECT_FALSE(report.AllReached());

    const QByteArray json = report.ToJson();
    EXPECT_TRUE(json.contains("\"allReached\": false"));
    const PatrolReport back = PatrolReport::FromJson(json);
    EXPECT_EQ(back.started, report.started);
    EXPECT_EQ(back.folder, report.folder);
    ASSERT_EQ(back.sites.size(), 2u);
    EXPECT_TRUE(back.sites[0].reached);
    ASSERT_EQ(back.sites[0].channels.size(), 2u);
    EXPECT_EQ(back.sites[0].channels[0].file, reached.channels[0].file);
    EXPECT_EQ(back.sites[0].channels[0].frameTime, reached.channels[0].frameTime);
    EXPECT_FALSE(back.sites[0].channels[1].frameTime.isValid());
    EXPECT_EQ(back.sites[1].result, "busy");

    // Whatever a damaged file holds, reading it yields a report, maybe empty.
    for (const char* damaged :
         {"", "{", "[1,2]", "{\"sites\": 5}", "{\"sites\": [1, {\"channels\": \"x\"}]}"})
        EXPECT_NO_THROW(PatrolReport::FromJson(damaged)) << damaged;
    EXPECT_EQ(PatrolReport::FromJson("{\"sites\": [1, {\"channels\": \"x\"}]}").sites.size(), 2u);
}

TEST(PatrolReport, SiteNamesBecomeSingleSafeFolderNames) {
    EXPECT_EQ(FileSafeName("North Gate"), "North Gate");
    EXPECT_EQ(FileSafeName("a/b\\c:d*?"), "a_b_c_d__");
    EXPECT_EQ(FileSafeName("../.."), ".._..");
    EXPECT_EQ(FileSafeName(".."), "site");
    EXPECT_EQ(FileSafeName("  "), "site");
    EXPECT_EQ(FileSafeName("Caf\u00e9"), "Caf_");
}

} // namespace
