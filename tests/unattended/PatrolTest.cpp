// The patrol's stored form, its schedule, its report's JSON and its two
// windows (the setup dialog and the report window, offscreen).
#include "app/core/AppStore.h"
#include "platform/dialogs/ScriptedDialogService.h"
#include "platform/registry/RegistryStore.h"
#include "tests/support/ModalDriver.h"
#include "tests/support/TempDir.h"
#include "unattended/PatrolDialogs.h"
#include "unattended/PatrolReport.h"
#include "unattended/PatrolRunner.h"
#include "unattended/PatrolSettings.h"
#include "unattended/UnattendedSettings.h"
#include "video/ui/StillViewer.h"

#include <QApplication>
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QLineEdit>
#include <QListWidget>
#include <QPointer>
#include <QPushButton>
#include <QSpinBox>
#include <QThreadPool>
#include <QTreeWidget>
#include <gtest/gtest.h>

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

namespace {

class PatrolStoreTest : public ::testing::Test {
protected:
    TempDir dir{"dialscope-patrol"};
    RegistryStore user{dir.file("user.sqlite")};
    RegistryStore machine{dir.file("machine.sqlite")};
    AppStore store{user, machine};

    std::string Folder() const { return dir.path() + "/"; }
    // A finished round's report.json (and its folder) under the record folder.
    void writeRound(const PatrolReport& report) {
        const QString folder = QString::fromStdString(Folder()) + report.folder;
        ASSERT_TRUE(QDir().mkpath(folder));
        QFile file(folder + "/report.json");
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(report.toJson());
    }
    // A 24-bit bitmap at `relative` under the record folder.
    void writePicture(const QString& relative) {
        const QString path = QString::fromStdString(Folder()) + relative;
        ASSERT_TRUE(QDir().mkpath(path.section(u'/', 0, -2)));
        QImage picture(64, 48, QImage::Format_RGB888);
        picture.fill(Qt::darkGreen);
        ASSERT_TRUE(picture.save(path, "BMP"));
    }
    static bool runUntil(const std::function<bool()>& done, int ms = 5000) {
        QElapsedTimer elapsed;
        elapsed.start();
        while (!done() && elapsed.elapsed() < ms)
            QApplication::processEvents(QEventLoop::AllEvents, 10);
        return done();
    }

    ScriptedDialogService dialogs;
};

QStringList rows(const QListWidget* list) {
    QStringList rows;
    for (int row = 0; row < list->count(); ++row)
        rows << list->item(row)->text() + (list->item(row)->checkState() == Qt::Checked ? "+" : "");
    return rows;
}

void clickOk(QDialog* dialog) {
    dialog->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->click();
}

TEST_F(PatrolStoreTest, SettingsRoundTripAndUnusableValuesReadAsOff) {
    // Nothing stored: no patrol, no unattended option on.
    const PatrolSettings empty = PatrolSettings::read(store);
    EXPECT_TRUE(empty.entries.isEmpty());
    EXPECT_FALSE(empty.scheduled);
    const UnattendedSettings off = UnattendedSettings::read(store);
    EXPECT_FALSE(off.reconnect);
    EXPECT_EQ(off.reconnectAttempts, 5);
    EXPECT_FALSE(off.retentionFreeSpace);
    EXPECT_EQ(off.retentionDays, 0);

    PatrolSettings s;
    s.entries = {"North Gate", "Yard"};
    s.scheduled = true;
    s.everyHours = 6;
    s.times = *PatrolSettings::parseTimes("20:00, 8:00 08:00");
    s.recordSeconds = 15;
    ASSERT_TRUE(s.store(store));
    const PatrolSettings back = PatrolSettings::read(store);
    EXPECT_EQ(back.entries, s.entries);
    EXPECT_TRUE(back.scheduled);
    EXPECT_EQ(back.everyHours, 6);
    EXPECT_EQ(PatrolSettings::formatTimes(back.times), "08:00 20:00");
    EXPECT_EQ(back.recordSeconds, 15);

    // Out-of-range values as another program may have written them.
    ASSERT_TRUE(store.setProfileInt("Patrol", "EveryHours", 169));
    ASSERT_TRUE(store.setProfileInt("Patrol", "RecordSeconds", -1));
    ASSERT_TRUE(store.setProfileText("Patrol", "Times", "25:00"));
    ASSERT_TRUE(store.setProfileInt("Unattended", "ReconnectAttempts", 21));
    ASSERT_TRUE(store.setProfileInt("Unattended", "RetentionDays", -3));
    const PatrolSettings bad = PatrolSettings::read(store);
    EXPECT_EQ(bad.everyHours, 0);
    EXPECT_EQ(bad.recordSeconds, 0);
    EXPECT_TRUE(bad.times.isEmpty());
    EXPECT_EQ(UnattendedSettings::read(store).reconnectAttempts, 5);
    EXPECT_EQ(UnattendedSettings::read(store).retentionDays, 0);
    EXPECT_FALSE(PatrolSettings::parseTimes("8:00 noon").has_value());
}

TEST_F(PatrolStoreTest, SitesComeFromThePhoneBookInTheGivenOrder) {
    ASSERT_TRUE(store.SavePhoneEntry({"North Gate", "pw1", "5550101", ""}));
    ASSERT_TRUE(store.SavePhoneEntry({"Yard", "pw2", "5550102", ""}));
    QStringList missing;
    const std::vector<PatrolSite> sites =
        patrolSitesFromPhoneBook(store, {"yard", "Nowhere", "North Gate"}, &missing);
    ASSERT_EQ(sites.size(), 2u);
    EXPECT_EQ(sites[0].name, "Yard");
    EXPECT_EQ(sites[0].number, "5550102");
    EXPECT_EQ(sites[0].login.user, "Yard");
    EXPECT_EQ(sites[0].login.password, "pw2");
    EXPECT_EQ(sites[1].name, "North Gate");
    EXPECT_EQ(missing, QStringList{"Nowhere"});
}

// Setup > Site patrol > Edit: the stored entries come first and checked, the
// rest of the phone book after them; the operator checks, reorders and sets
// the schedule; times that do not read keep the dialog open; OK stores the
// values in the "Patrol" section, Cancel stores nothing.
TEST_F(PatrolStoreTest, SetupDialogEditsListAndScheduleAndStoresThemInThePatrolSection) {
    for (const char* name : {"Dock", "Gate", "Yard"})
        ASSERT_TRUE(store.SavePhoneEntry({name, "pw", "1", ""}));
    PatrolSettings before;
    before.entries = {"Yard"};
    before.times = *PatrolSettings::parseTimes("08:00");
    ASSERT_TRUE(before.store(store));

    ModalDriver driver;
    driver.then([](QDialog* d) {
        auto* sites = d->findChild<QListWidget*>("patrolSites");
        ASSERT_NE(sites, nullptr);
        EXPECT_EQ(rows(sites), (QStringList{"Yard+", "Dock", "Gate"}));
        sites->item(2)->setCheckState(Qt::Checked);
        sites->setCurrentRow(2);
        d->findChild<QPushButton*>("patrolUp")->click();
        d->findChild<QPushButton*>("patrolUp")->click();
        d->findChild<QPushButton*>("patrolUp")->click(); // already at the top
        EXPECT_EQ(rows(sites), (QStringList{"Gate+", "Yard+", "Dock"}));
        d->findChild<QCheckBox*>("patrolScheduled")->setChecked(true);
        d->findChild<QSpinBox*>("patrolRecordSeconds")->setValue(15);
        auto* times = d->findChild<QLineEdit*>("patrolTimes");
        times->setText("20:00 noon");
        clickOk(d);
        EXPECT_TRUE(d->isVisible()); // not a time: the dialog stays
        times->setText("20:00, 6:30");
        clickOk(d);
    });
    EXPECT_TRUE(PatrolSetupDialog::run(nullptr, store));
    EXPECT_TRUE(driver.done());
    EXPECT_EQ(store.profileText("Patrol", "Entries", {}), "Gate\nYard");
    EXPECT_EQ(store.profileInt("Patrol", "Scheduled", 0), 1);
    EXPECT_EQ(store.profileInt("Patrol", "EveryHours", -1), 0);
    EXPECT_EQ(store.profileText("Patrol", "Times", {}), "06:30 20:00");
    EXPECT_EQ(store.profileInt("Patrol", "RecordSeconds", 0), 15);

    // Shown again as stored; Cancel keeps it.
    driver.then([](QDialog* d) {
        EXPECT_EQ(rows(d->findChild<QListWidget*>("patrolSites")), (QStringList{"Gate+", "Yard+", "Dock"}));
        EXPECT_EQ(d->findChild<QLineEdit*>("patrolTimes")->text(), "06:30 20:00");
        d->findChild<QSpinBox*>("patrolHours")->setValue(12);
        d->reject();
    });
    EXPECT_FALSE(PatrolSetupDialog::run(nullptr, store));
    EXPECT_EQ(PatrolSettings::read(store).everyHours, 0);
}

// View > Patrol report: finished rounds newest first, failures in red, the
// thumbnails filled in by the worker, a click on a channel opens its picture;
// closing a window whose thumbnails are still loading is safe.
TEST_F(PatrolStoreTest, ReportWindowListsRoundsInRedForFailuresAndOpensAThumbnailsPicture) {
    PatrolReport older;
    older.started = QDateTime(QDate(2026, 3, 4), QTime(6, 0));
    older.folder = "patrol/20260304-060000";
    PatrolSiteResult gate{"Gate", "1", true, "reached", {}};
    gate.channels.push_back({1, "Door", older.folder + "/Gate/0001.bmp", older.started, "picture"});
    gate.channels.push_back({2, "Yard", "", QDateTime(), "no picture"});
    older.sites.push_back(gate);
    writeRound(older);
    writePicture(gate.channels[0].file);
    PatrolReport newer;
    newer.started = QDateTime(QDate(2026, 3, 4), QTime(18, 0));
    newer.folder = "patrol/20260304-180000";
    newer.sites.push_back({"Dock", "2", false, "busy", {}});
    writeRound(newer);
    ASSERT_TRUE(
        QDir().mkpath(QString::fromStdString(Folder()) + "patrol/20260304-190000")); // under way: no report

    QPointer<PatrolReportWindow> window =
        new PatrolReportWindow(loadRecentPatrolReports(Folder(), 10), Folder(), dialogs);
    window->show();
    QTreeWidget* tree = window->tree();
    ASSERT_EQ(tree->topLevelItemCount(), 2);
    QTreeWidgetItem* missed = tree->topLevelItem(0);
    EXPECT_EQ(missed->text(0), "2026-03-04 18:00:00");
    EXPECT_EQ(missed->foreground(1).color(), QColor(Qt::red));
    ASSERT_EQ(missed->childCount(), 1);
    EXPECT_EQ(missed->child(0)->text(1), "busy");
    EXPECT_EQ(missed->child(0)->foreground(0).color(), QColor(Qt::red));
    QTreeWidgetItem* site = tree->topLevelItem(1)->child(0);
    ASSERT_EQ(site->childCount(), 2);
    EXPECT_NE(site->foreground(0).color(), QColor(Qt::red));
    QTreeWidgetItem* picture = site->child(0);
    QTreeWidgetItem* none = site->child(1);
    EXPECT_EQ(none->foreground(1).color(), QColor(Qt::red));

    ASSERT_TRUE(runUntil([&] { return window->pendingThumbnails() == 0; }));
    EXPECT_FALSE(picture->icon(0).isNull());
    EXPECT_TRUE(none->icon(0).isNull());
    emit tree->itemClicked(none, 0);
    EXPECT_TRUE(window->findChildren<StillViewer*>().isEmpty());
    emit tree->itemClicked(picture, 0); // read on a worker, shown when read
    ASSERT_TRUE(runUntil([&] { return !window->findChildren<StillViewer*>().isEmpty(); }));
    const QList<StillViewer*> viewers = window->findChildren<StillViewer*>();
    ASSERT_EQ(viewers.size(), 1);
    EXPECT_TRUE(viewers[0]->isVisible());
    EXPECT_TRUE(viewers[0]->windowTitle().contains("0001 Door"));
    window->close();
    ASSERT_TRUE(runUntil([&] { return window.isNull(); }));

    // Many thumbnails, closed at once: the worker stops and posts to nobody.
    std::vector<PatrolReport> many(1, older);
    for (int i = 0; i < 400; ++i)
        many[0].sites[0].channels.push_back(gate.channels[0]);
    window = new PatrolReportWindow(many, Folder(), dialogs);
    window->show();
    window->close();
    ASSERT_TRUE(runUntil([&] { return window.isNull(); }));
    QThreadPool::globalInstance()->waitForDone();
    QApplication::processEvents();
}

// A record volume that hangs while the window opens: the window is up at
// once, the record folder is resolved and the rounds read on a worker (from
// what the stored text resolves to), and they are listed when read. A window
// closed while the volume still hangs gets nothing afterwards.
TEST_F(PatrolStoreTest, ReportWindowOpensAtOnceAndReadsTheRoundsOffItsThread) {
    PatrolReport round;
    round.started = QDateTime(QDate(2026, 3, 4), QTime(6, 0));
    round.folder = "patrol/20260304-060000";
    round.sites.push_back({"Gate", "1", true, "reached", {}});
    writeRound(round);

    // A resolver that holds its caller until released, as a hung volume does.
    struct Volume {
        std::mutex lock;
        std::condition_variable wake;
        bool answers = false;
        std::vector<std::thread::id> callers;
        std::vector<std::string> asked;
    };
    auto volume = std::make_shared<Volume>();
    const auto resolve = [volume, folder = Folder()](const std::string& stored) {
        std::unique_lock guard(volume->lock);
        volume->callers.push_back(std::this_thread::get_id());
        volume->asked.push_back(stored);
        volume->wake.wait(guard, [&] { return volume->answers; });
        return folder;
    };
    const auto called = [volume](size_t count) {
        std::lock_guard guard(volume->lock);
        return volume->callers.size() >= count;
    };
    const auto answer = [volume] {
        std::lock_guard guard(volume->lock);
        volume->answers = true;
        volume->wake.notify_all();
    };

    QPointer<PatrolReportWindow> window = new PatrolReportWindow("stored/", resolve, dialogs);
    window->show();
    ASSERT_TRUE(runUntil([&] { return called(1); }));
    QApplication::processEvents();
    EXPECT_TRUE(window->isVisible());
    EXPECT_FALSE(window->loaded());
    EXPECT_EQ(window->tree()->topLevelItemCount(), 0);
    answer();
    ASSERT_TRUE(runUntil([&] { return window->loaded(); }));
    ASSERT_EQ(window->tree()->topLevelItemCount(), 1);
    EXPECT_EQ(window->tree()->topLevelItem(0)->child(0)->text(0), "Gate");
    {
        std::lock_guard guard(volume->lock);
        EXPECT_NE(volume->callers[0], std::this_thread::get_id());
        EXPECT_EQ(volume->asked[0], "stored/");
        volume->answers = false;
    }
    window->close();
    ASSERT_TRUE(runUntil([&] { return window.isNull(); }));

    window = new PatrolReportWindow("stored/", resolve, dialogs);
    window->show();
    ASSERT_TRUE(runUntil([&] { return called(2); }));
    window->close();
    ASSERT_TRUE(runUntil([&] { return window.isNull(); }));
    answer();
    QThreadPool::globalInstance()->waitForDone();
    QApplication::processEvents();
}

TEST(PatrolSchedule, EveryNHoursOrTheNextTimeOfDay) {
    PatrolSettings s;
    s.entries = {"A"};
    const QDateTime last(QDate(2026, 3, 4), QTime(21, 30));
    EXPECT_FALSE(PatrolSchedule::nextRound(s, last).has_value()); // not scheduled
    s.scheduled = true;
    EXPECT_FALSE(PatrolSchedule::nextRound(s, last).has_value()); // neither hours nor times
    s.times = *PatrolSettings::parseTimes("08:00 21:30 22:00");
    EXPECT_EQ(PatrolSchedule::nextRound(s, last), QDateTime(QDate(2026, 3, 4), QTime(22, 0)));
    EXPECT_EQ(PatrolSchedule::nextRound(s, QDateTime(QDate(2026, 3, 4), QTime(23, 0))),
              QDateTime(QDate(2026, 3, 5), QTime(8, 0)));
    s.everyHours = 168; // hours win over times
    EXPECT_EQ(PatrolSchedule::nextRound(s, last), last.addDays(7));
    s.entries.clear();
    EXPECT_FALSE(PatrolSchedule::nextRound(s, last).has_value());
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
    EXPECT_TRUE(report.allReached());
    report.sites.push_back({"Dock", "2", false, "busy", {}});
    EXPECT_FALSE(report.allReached());

    const QByteArray json = report.toJson();
    EXPECT_TRUE(json.contains("\"allReached\": false"));
    const PatrolReport back = PatrolReport::fromJson(json);
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
        EXPECT_NO_THROW(PatrolReport::fromJson(damaged)) << damaged;
    EXPECT_EQ(PatrolReport::fromJson("{\"sites\": [1, {\"channels\": \"x\"}]}").sites.size(), 2u);
}

TEST(PatrolReport, SiteNamesBecomeSingleSafeFolderNames) {
    EXPECT_EQ(fileSafeName("North Gate"), "North Gate");
    EXPECT_EQ(fileSafeName("a/b\\c:d*?"), "a_b_c_d__");
    EXPECT_EQ(fileSafeName("../.."), ".._..");
    EXPECT_EQ(fileSafeName(".."), "site");
    EXPECT_EQ(fileSafeName("  "), "site");
    EXPECT_EQ(fileSafeName("Caf\u00e9"), "Caf_");
}

} // namespace
