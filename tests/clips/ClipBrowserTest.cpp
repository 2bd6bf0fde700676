#include "app/core/ChannelTable.h"
#include "clips/core/ClipIndex.h"
#include "clips/ui/ClipBrowserDialog.h"
#include "clips/ui/ClipListWidget.h"
#include "clips/ui/SearchClipsDialog.h"
#include "platform/dialogs/ScriptedDialogService.h"
#include "platform/registry/RegistryStore.h"
#include "res/StringTable.h"
#include "tests/avi/ClipTestTools.h"
#include "tests/clips/CatalogBuildGate.h"
#include "tests/support/TempDir.h"
#include "video/ui/PlayerWindow.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QDateEdit>
#include <QFontMetrics>
#include <QHeaderView>
#include <QPointer>
#include <QScrollBar>
#include <QTimeEdit>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <thread>

namespace {

namespace fs = std::filesystem;

class ClipBrowserTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_folder = m_dir.path() + "/";
        m_channels.replace({{2, "Gate"}, {3, "Yard"}});
    }

    // Saves a clip record (Location comes from the channel table) and, when
    // asked, its files: a playable clip and its image file.
    ClipRecord add(const std::string& stem, int32_t channel, const std::string& date, const std::string& time,
                   bool withFiles = false) {
        ClipRecord r;
        r.FileName = stem + ".avi";
        r.ImageName = stem + ".img";
        r.Channel = channel;
        r.SDate = date;
        r.STime = time;
        r.EDate = date;
        r.ETime = time;
        r.Path = m_folder;
        if (withFiles) {
            const auto frame = cliptest::rawFrame(32, 24, channel);
            EXPECT_TRUE(cliptest::writeClip(m_folder + r.FileName, {frame, frame}));
            std::ofstream(m_folder + r.ImageName, std::ios::binary)
                .write(reinterpret_cast<const char*>(frame.data()), std::streamsize(frame.size()));
        }
        EXPECT_TRUE(m_index.SaveClipRecord(r));
        return r;
    }
    // Opened as the program opens it once the catalog read at start-up is in.
    std::unique_ptr<ClipBrowserDialog> browser() {
        m_index.catalogNow();
        return std::make_unique<ClipBrowserDialog>(m_index, m_dialogs, nullptr);
    }
    static QStringList column(const QTreeWidget* list, int c) {
        QStringList texts;
        for (int i = 0; i < list->topLevelItemCount(); ++i)
            texts << list->topLevelItem(i)->text(c);
        return texts;
    }
    static QStringList nodes(const QTreeWidget* tree) { return column(tree, 0); }
    // Runs the event loop until `done` holds (queued calls from the catalog
    // worker arrive); false after 20 s.
    static bool eventsUntil(const std::function<bool()>& done) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (!done()) {
            if (std::chrono::steady_clock::now() > deadline)
                return false;
            QCoreApplication::processEvents();
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return true;
    }
    static int players(const QWidget* owner) {
        return int(owner->findChildren<PlayerWindow*>(Qt::FindDirectChildrenOnly).size());
    }
    std::map<std::string, int> openFlags() {
        std::vector<ClipRecord> records;
        m_index.LoadClipRecords(records);
        std::map<std::string, int> flags;
        for (const ClipRecord& r : records)
            flags[r.FileName] = r.Open;
        return flags;
    }

    TempDir m_dir;
    std::string m_folder;
    RegistryStore m_store{m_dir.file("user.sqlite")};
    ChannelTable m_channels;
    ClipIndex m_index{m_store, m_channels};
    ScriptedDialogService m_dialogs;
};

TEST_F(ClipBrowserTest, AnEmptyIndexShowsNothingAndPlayAndDeleteDoNothing) {
    auto dialog = browser();
    EXPECT_EQ(dialog->windowTitle(), "Video clips");
    EXPECT_EQ(dialog->tree()->topLevelItemCount(), 0);
    EXPECT_EQ(dialog->countTexts(), "||");
    dialog->play();
    dialog->deleteSelected();
    dialog->deleteNodeClips();
    EXPECT_TRUE(m_dialogs.shown().empty());
    EXPECT_EQ(players(dialog.get()), 0);
}

TEST_F(ClipBrowserTest, GroupsByLabelListsNewestFirstAndCounts) {
    add("200107151409330002", 2, "2001/07/15", "14:09");
    add("200107161000000003", 3, "2001/07/16", "10:00");
    add("200107170900000002", 2, "2001/07/17", "09:00");
    m_index.MarkClipRead("200107151409330002.avi", true);
    m_channels.replace({{3, "Yard"}}); // channel 2 has lost its name
    add("200107180800000002", 2, "2001/07/18", "08:00");

    auto dialog = browser();
    EXPECT_EQ(nodes(dialog->tree()), (QStringList{"0002 ", "0002 Gate", "0003 Yard"}));
    EXPECT_EQ(dialog->list()->topLevelItemCount(), 0) << "no node is selected at opening";

    ASSERT_TRUE(dialog->selectNode("0002 Gate"));
    EXPECT_EQ(column(dialog->list(), 0), (QStringList{"200107170900000002.avi", "200107151409330002.avi"}));
    EXPECT_EQ(column(dialog->list(), 1), (QStringList{"2001/07/17 09:00", "2001/07/15 14:09"}));
    EXPECT_EQ(column(dialog->list(), 3),
              (QStringList{QString::fromStdString(m_folder), QString::fromStdString(m_folder)}));
    EXPECT_EQ(dialog->countTexts(), "     2|     1|     1");
    EXPECT_FALSE(ClipListWidget::isRead(dialog->list()->topLevelItem(0)));
    EXPECT_TRUE(ClipListWidget::isRead(dialog->list()->topLevelItem(1)));
    EXPECT_EQ(dialog->list()->headerItem()->text(2), "Ending time");
    // The columns fit the dialog's own font: file names and times show whole.
    const QFontMetrics metrics(dialog->list()->font());
    EXPECT_EQ(dialog->list()->font().family(), dialog->font().family());
    EXPECT_GE(dialog->list()->columnWidth(0),
              metrics.horizontalAdvance(QStringLiteral("200107170900000002.avi")) +
                  dialog->list()->iconSize().width());
    EXPECT_GE(dialog->list()->columnWidth(1), metrics.horizontalAdvance(QStringLiteral("2001/07/17 09:00")));
    EXPECT_GE(dialog->list()->columnWidth(2), metrics.horizontalAdvance(QStringLiteral("2001/07/17 09:00")));

    ASSERT_TRUE(dialog->selectNode("0002 "));
    EXPECT_EQ(column(dialog->list(), 0), QStringList{"200107180800000002.avi"});
    EXPECT_EQ(dialog->countTexts(), "     1|     0|     1");
}

TEST_F(ClipBrowserTest, PreviewShowsTheImageFileAndOnlyTheCrossWithoutOne) {
    add("200107151409330002", 2, "2001/07/15", "14:09", true);
    add("200107151500000002", 2, "2001/07/15", "15:00"); // no files
    auto dialog = browser();
    dialog->resize(640, 540);
    dialog->show();
    ASSERT_TRUE(dialog->selectNode("0002 Gate"));
    ClipListWidget* list = dialog->list();
    list->topLevelItem(1)->setSelected(true);
    ASSERT_FALSE(dialog->previewFrame()->picture().isNull());
    EXPECT_EQ(dialog->previewFrame()->picture().size(), QSize(32, 24));
    const QImage shown = dialog->previewFrame()->grab().toImage();
    const QColor middle = shown.pixelColor(shown.width() / 2, shown.height() / 4);
    EXPECT_TRUE(cliptest::near({uint8_t(middle.red()), uint8_t(middle.green()), uint8_t(middle.blue())},
                               cliptest::frameColour(2), 8));

    list->clearSelection();
    list->topLevelItem(0)->setSelected(true);
    EXPECT_TRUE(dialog->previewFrame()->picture().isNull());
    const QImage cross = dialog->previewFrame()->grab().toImage();
    const int w = cross.width(), h = cross.height();
    EXPECT_EQ(cross.pixelColor(w / 4, (h - 1) / 4), QColor(Qt::black)) << "on the diagonal";
    EXPECT_NE(cross.pixelColor(w / 2, h / 6), QColor(Qt::black));
    EXPECT_TRUE(m_dialogs.shown().empty());
}

TEST_F(ClipBrowserTest, PlayOpensAtMostSixPlayersAndMarksOnlyThoseRead) {
    for (int i = 0; i < 8; ++i)
        add("2001071514093" + std::to_string(i) + "0002", 2, "2001/07/15", "14:09", i >= 6);
    auto dialog = browser();
    ASSERT_TRUE(dialog->selectNode("0002 Gate"));
    dialog->list()->selectAll();
    dialog->play();
    EXPECT_EQ(players(dialog.get()), 6);
    EXPECT_EQ(dialog->countTexts(), "     8|     6|     2");
    const auto flags = openFlags();
    // List order is newest first: the two oldest stay unread and unopened.
    for (int i = 0; i < 8; ++i)
        EXPECT_EQ(flags.at("2001071514093" + std::to_string(i) + "0002.avi"), i >= 2 ? 1 : 0) << i;
    EXPECT_TRUE(ClipListWidget::isRead(dialog->list()->topLevelItem(0)));
    EXPECT_FALSE(ClipListWidget::isRead(dialog->list()->topLevelItem(7)));
    // The four played clips without files report it; the players close with the dialog.
    EXPECT_EQ(m_dialogs.shownTexts().count(loadString(IDP_OPEN_FILE_ERROR)), 4);
    QPointer<PlayerWindow> survivor = dialog->findChild<PlayerWindow*>();
    dialog.reset();
    EXPECT_TRUE(survivor.isNull());
}

TEST_F(ClipBrowserTest, DeleteAsksAndRemovesItemsEntriesAndFilesEvenWhenFilesAreGone) {
    add("200107151409330002", 2, "2001/07/15", "14:09", true);
    add("200107151500000002", 2, "2001/07/15", "15:00"); // files already gone
    add("200107151600000002", 2, "2001/07/15", "16:00", true);
    m_index.MarkClipRead("200107151500000002.avi", true);
    auto dialog = browser();
    ASSERT_TRUE(dialog->selectNode("0002 Gate"));
    ClipListWidget* list = dialog->list();

    dialog->deleteSelected(); // nothing selected: no question
    EXPECT_TRUE(m_dialogs.shown().empty());

    list->topLevelItem(1)->setSelected(true);
    list->topLevelItem(2)->setSelected(true);
    dialog->deleteSelected(); // no answer scripted: Cancel
    EXPECT_EQ(m_dialogs.shownTexts(), QStringList{loadString(IDP_DELETE_SELECTED)});
    EXPECT_EQ(m_dialogs.shown()[0].buttons, MessageButtons::OkCancel);
    EXPECT_EQ(list->topLevelItemCount(), 3);
    EXPECT_EQ(openFlags().size(), 3u);

    m_dialogs.setNextAnswer(MessageAnswer::Ok);
    dialog->deleteSelected();
    EXPECT_EQ(column(list, 0), QStringList{"200107151600000002.avi"});
    EXPECT_EQ(dialog->countTexts(), "     1|     0|     1");
    EXPECT_EQ(openFlags().size(), 1u);
    EXPECT_FALSE(fs::exists(m_folder + "200107151409330002.avi"));
    EXPECT_FALSE(fs::exists(m_folder + "200107151409330002.img"));
    EXPECT_TRUE(fs::exists(m_folder + "200107151600000002.avi"));

    // Reselecting the node shows what is left in the group.
    dialog->tree()->clearSelection();
    ASSERT_TRUE(dialog->selectNode("0002 Gate"));
    EXPECT_EQ(list->topLevelItemCount(), 1);
}

TEST_F(ClipBrowserTest, DeleteNodeClipsEmptiesTheNodeButKeepsIt) {
    add("200107151409330002", 2, "2001/07/15", "14:09", true);
    add("200107151500000002", 2, "2001/07/15", "15:00");
    add("200107151500000003", 3, "2001/07/15", "15:00");
    auto dialog = browser();
    dialog->deleteNodeClips(); // no node selected
    EXPECT_TRUE(m_dialogs.shown().empty());
    ASSERT_TRUE(dialog->selectNode("0002 Gate"));
    m_dialogs.setNextAnswer(MessageAnswer::Ok);
    dialog->deleteNodeClips();
    EXPECT_EQ(dialog->list()->topLevelItemCount(), 0);
    EXPECT_EQ(dialog->countTexts(), "     0|     0|     0");
    EXPECT_EQ(nodes(dialog->tree()).size(), 2);
    EXPECT_EQ(openFlags().size(), 1u);
    EXPECT_FALSE(fs::exists(m_folder + "200107151409330002.img"));
}

// A node's clips load a page at a time, newest first, as the list is
// scrolled; the counts are the node's, and deleting the node's clips removes
// those not loaded yet as well.
TEST_F(ClipBrowserTest, ANodeLoadsItsClipsAPageAtATimeAsTheListScrolls) {
    const int clips = int(ClipBrowserDialog::kPageRows) + 40;
    for (int n = 0; n < clips; ++n) {
        char stem[32];
        std::snprintf(stem, sizeof stem, "2001071514%04d0002", n);
        add(stem, 2, "2001/07/15", "14:00");
    }
    add("200107151500000003", 3, "2001/07/15", "15:00");
    auto dialog = browser();
    dialog->resize(640, 540);
    dialog->show();
    ASSERT_TRUE(dialog->selectNode("0002 Gate"));
    EXPECT_EQ(dialog->list()->topLevelItemCount(), int(ClipBrowserDialog::kPageRows));
    EXPECT_EQ(dialog->countTexts(),
              QString::fromStdString(formatCount(clips) + "|     0|" + formatCount(clips)));
    EXPECT_EQ(dialog->list()->topLevelItem(0)->text(0),
              QString::asprintf("2001071514%04d0002.avi", clips - 1));

    QScrollBar* bar = dialog->list()->verticalScrollBar();
    QCoreApplication::processEvents(); // the list lays its rows out
    ASSERT_GT(bar->maximum(), 0);
    bar->setValue(bar->maximum());
    EXPECT_EQ(dialog->list()->topLevelItemCount(), clips);
    EXPECT_EQ(dialog->list()->topLevelItem(clips - 1)->text(0), "2001071514"
                                                                "0000"
                                                                "0002.avi");

    // Chosen again: the first page only, then every clip of the node deleted.
    ASSERT_TRUE(dialog->selectNode("0003 Yard"));
    ASSERT_TRUE(dialog->selectNode("0002 Gate"));
    EXPECT_EQ(dialog->list()->topLevelItemCount(), int(ClipBrowserDialog::kPageRows));
    m_dialogs.setNextAnswer(MessageAnswer::Ok);
    dialog->deleteNodeClips();
    EXPECT_EQ(openFlags().size(), 1u) << "the clips not loaded are gone too";
}

TEST_F(ClipBrowserTest, OpensAtOnceWhileTheCatalogIsReadAndFollowsAnotherProcessOnTheWorker) {
    add("200107151409330002", 2, "2001/07/15", "14:09");
    add("200107161000000003", 3, "2001/07/16", "10:00");
    BuildGate gate; // each catalog build waits for it, as a large index would
    m_index.setBuildHook(gate.hook());
    m_index.prepareCatalog(); // as at start-up

    auto dialog = std::make_unique<ClipBrowserDialog>(m_index, m_dialogs, nullptr);
    EXPECT_TRUE(dialog->loading());
    EXPECT_EQ(nodes(dialog->tree()), QStringList{loadString(IDS_LOADING_CLIPS)});
    EXPECT_FALSE(dialog->tree()->topLevelItem(0)->flags() & Qt::ItemIsSelectable);
    auto search = std::make_unique<SearchClipsDialog>(dialog->groups(), m_index, m_dialogs, dialog.get());
    EXPECT_TRUE(search->loading());
    EXPECT_EQ(search->channelBox()->count(), 1);
    EXPECT_EQ(search->countTexts(), loadString(IDS_LOADING_CLIPS) + "||");
    search->search(); // nothing to search yet: no answer rather than a wrong one
    EXPECT_EQ(search->list()->topLevelItemCount(), 0);
    add("200107170900000002", 2, "2001/07/17", "09:00"); // recorded meanwhile

    gate.open();
    ASSERT_TRUE(eventsUntil([&] { return !dialog->loading(); }));
    EXPECT_EQ(nodes(dialog->tree()), (QStringList{"0002 Gate", "0003 Yard"}));
    EXPECT_FALSE(search->loading());
    EXPECT_EQ(search->channelBox()->count(), 3);
    EXPECT_EQ(search->countTexts(), "||");
    ASSERT_TRUE(dialog->selectNode("0002 Gate"));
    EXPECT_EQ(column(dialog->list(), 0), (QStringList{"200107170900000002.avi", "200107151409330002.avi"}));

    // Another process adds a clip: the shown catalog answers until the one
    // rebuilt on the worker replaces it, the chosen node kept.
    gate.close();
    RegistryStore otherStore(m_dir.file("user.sqlite"));
    ClipIndex other(otherStore, m_channels);
    ClipRecord theirs{"200107180800000002.avi", 0,       2, {}, "2001/07/18", "08:00", "2001/07/18", "08:05",
                      "200107180800000002.img", m_folder};
    ASSERT_TRUE(other.SaveClipRecord(theirs));
    dialog->tree()->clearSelection();
    ASSERT_TRUE(dialog->selectNode("0002 Gate"));
    ASSERT_EQ(dialog->list()->topLevelItemCount(), 2);
    EXPECT_TRUE(m_index.catalogBuilding());
    dialog->list()->topLevelItem(1)->setSelected(true); // the operator's choice, kept
    gate.open();
    ASSERT_TRUE(eventsUntil([&] { return !m_index.catalogBuilding(); }));
    EXPECT_EQ(column(dialog->list(), 0),
              (QStringList{"200107180800000002.avi", "200107170900000002.avi", "200107151409330002.avi"}));
    ASSERT_EQ(dialog->list()->selectedItems().size(), 1);
    EXPECT_EQ(dialog->list()->selectedItems().front()->text(0), "200107151409330002.avi");
    EXPECT_EQ(dialog->countTexts(), "     3|     0|     3");
    search->search();
    EXPECT_EQ(search->list()->topLevelItemCount(), 4);

    // A catalog arriving while a message box is up (its event loop runs)
    // waits until the operation ends: the clips being deleted stay valid.
    gate.close();
    ClipRecord later{"200107190800000002.avi", 0,       2, {}, "2001/07/19", "08:00", "2001/07/19", "08:05",
                     "200107190800000002.img", m_folder};
    ASSERT_TRUE(other.SaveClipRecord(later));
    dialog->tree()->clearSelection();
    ASSERT_TRUE(dialog->selectNode("0002 Gate"));
    ASSERT_EQ(dialog->list()->topLevelItemCount(), 3);
    dialog->list()->topLevelItem(0)->setSelected(true);
    m_dialogs.setNextAnswer(MessageAnswer::Ok);
    m_dialogs.setWhileShown([&] {
        gate.open();
        EXPECT_TRUE(eventsUntil([&] { return !m_index.catalogBuilding(); }));
    });
    dialog->deleteSelected();
    m_dialogs.setWhileShown({});
    EXPECT_EQ(column(dialog->list(), 0),
              (QStringList{"200107190800000002.avi", "200107170900000002.avi", "200107151409330002.avi"}));
    EXPECT_EQ(dialog->countTexts(), "     3|     0|     3");

    const auto builders = gate.builders();
    EXPECT_EQ(builders.size(), 3u);
    for (const std::thread::id id : builders)
        EXPECT_NE(id, std::this_thread::get_id()) << "the window's thread built a catalog";
}

class SearchTest : public ClipBrowserTest {
protected:
    void SetUp() override {
        ClipBrowserTest::SetUp();
        add("200107151400000002", 2, "2001/07/15", "14:00", true);
        add("200107151359000002", 2, "2001/07/15", "13:59");
        add("200107152359400003", 3, "2001/07/15", "23:59");
        add("200107160000000003", 3, "2001/07/16", "00:00");
        m_browser = browser();
        m_search =
            std::make_unique<SearchClipsDialog>(m_browser->groups(), m_index, m_dialogs, m_browser.get());
    }
    void bounds(bool after, QDateTime lower, bool before, QDateTime upper) {
        m_search->afterBox()->setChecked(after);
        m_search->lowerDate()->setDate(lower.date());
        m_search->lowerTime()->setTime(lower.time());
        m_search->beforeBox()->setChecked(before);
        m_search->upperDate()->setDate(upper.date());
        m_search->upperTime()->setTime(upper.time());
    }
    QStringList results() { return column(m_search->list(), 0); }

    std::unique_ptr<ClipBrowserDialog> m_browser;
    std::unique_ptr<SearchClipsDialog> m_search;
};

const QDateTime k1400(QDate(2001, 7, 15), QTime(14, 0));
const QDateTime k2359(QDate(2001, 7, 15), QTime(23, 59));

TEST_F(SearchTest, OpensWithAllChannelsFiltersOffAndTodaysBounds) {
    EXPECT_EQ(m_search->windowTitle(), "Search video clips");
    QStringList entries;
    for (int i = 0; i < m_search->channelBox()->count(); ++i)
        entries << m_search->channelBox()->itemText(i);
    EXPECT_EQ(entries, (QStringList{"All video channel", "0002 Gate", "0003 Yard"}));
    EXPECT_FALSE(m_search->afterBox()->isChecked());
    EXPECT_FALSE(m_search->lowerDate()->isEnabled());
    EXPECT_FALSE(m_search->upperTime()->isEnabled());
    EXPECT_EQ(m_search->lowerDate()->date(), QDate::currentDate());
    EXPECT_EQ(m_search->lowerTime()->time(), QTime(0, 0));
    EXPECT_EQ(m_search->upperTime()->time(), QTime(23, 59));
    m_search->afterBox()->setChecked(true);
    EXPECT_TRUE(m_search->lowerTime()->isEnabled());
    EXPECT_FALSE(m_search->upperTime()->isEnabled());
}

TEST_F(SearchTest, BoundsAreInclusiveAndIgnoreSeconds) {
    m_search->search();
    EXPECT_EQ(results().size(), 4);
    EXPECT_EQ(m_search->countTexts(), "     4|     0|     4");
    EXPECT_EQ(results().first(), "200107160000000003.avi") << "newest first";

    bounds(true, k1400, true, k2359);
    m_search->search();
    EXPECT_EQ(results(), (QStringList{"200107152359400003.avi", "200107151400000002.avi"}));

    bounds(true, k2359, true, k1400);
    m_search->search();
    EXPECT_TRUE(results().isEmpty());
    EXPECT_EQ(m_search->countTexts(), "     0|     0|     0");

    bounds(false, k2359, true, k1400.addSecs(-60)); // before 13:59 only
    m_search->search();
    EXPECT_EQ(results(), QStringList{"200107151359000002.avi"});
}

TEST_F(SearchTest, TheChannelColumnIsFilledOnlyForAllChannels) {
    m_search->search();
    EXPECT_EQ(column(m_search->list(), 4), (QStringList{"0003 Yard", "0003 Yard", "0002 Gate", "0002 Gate"}));
    m_search->channelBox()->setCurrentIndex(1);
    m_search->search();
    EXPECT_EQ(column(m_search->list(), 4), (QStringList{"", ""}));
    EXPECT_EQ(results(), (QStringList{"200107151400000002.avi", "200107151359000002.avi"}));
}

TEST_F(SearchTest, OpenLooksClipsUpUnderTheChannelChosenNow) {
    m_search->search();                                   // all channels
    m_search->list()->topLevelItem(0)->setSelected(true); // 0003 Yard
    m_search->list()->topLevelItem(2)->setSelected(true); // 0002 Gate, with files
    m_search->channelBox()->setCurrentIndex(1);           // now 0002 Gate
    m_search->openSelected();
    // Both are marked read; only the clip whose label agrees gets a player.
    EXPECT_EQ(players(m_search.get()), 1);
    EXPECT_EQ(m_search->countTexts(), "     4|     2|     2");
    EXPECT_EQ(openFlags().at("200107160000000003.avi"), 1);
    // The browser catches up when a node is chosen: both read there too.
    ASSERT_TRUE(m_browser->selectNode("0002 Gate"));
    EXPECT_EQ(m_browser->groups().findRecord("0002 Gate", "200107151400000002.avi")->Open, 1);
    ASSERT_TRUE(m_browser->selectNode("0003 Yard"));
    EXPECT_EQ(m_browser->groups().findRecord("0003 Yard", "200107160000000003.avi")->Open, 1);
    EXPECT_EQ(m_browser->countTexts(), "     2|     1|     1");
    EXPECT_TRUE(m_dialogs.shown().empty()) << "the clip with files opened";
}

} // namespace

TEST_F(ClipBrowserTest, ExportWritesTheSelectedClipsOfTheNodeAsOneFile) {
    add("200107151409330002", 2, "2001/07/15", "14:09", true);
    add("200107151410000002", 2, "2001/07/15", "14:10", true);
    add("200107151411000003", 3, "2001/07/15", "14:11", true);

    auto dialog = browser();
    ASSERT_TRUE(dialog->selectNode("0002 Gate"));
    dialog->list()->selectAll();
    const std::string out = m_dir.file("gate.mkv");
    m_dialogs.setNextFileName(QString::fromStdString(out));
    dialog->exportSelected();

    EXPECT_EQ(m_dialogs.lastFileRequest().defaultName, "0002Gate-20010715-140933");
    EXPECT_EQ(m_dialogs.lastFileRequest().defaultSuffix, "mp4");
    EXPECT_EQ(m_dialogs.shownTexts(), QStringList{loadString(IDP_EXPORT_OK)});
    const cliptest::ReadBack file = cliptest::readBack(out);
    EXPECT_EQ(file.tags.at("title"), "0002 Gate");
    // Two frames each; the second clip starts 27 s after the first.
    EXPECT_EQ(file.timesMs, (std::vector<int64_t>{0, 500, 27'000, 27'500}));

    // Cancelling the file dialog exports nothing and says nothing.
    m_dialogs.clear();
    dialog->exportSelected();
    EXPECT_EQ(m_dialogs.fileDialogCount(), 1);
    EXPECT_TRUE(m_dialogs.shownTexts().isEmpty());
}

TEST_F(ClipBrowserTest, SearchExportsOneChannelAndRangesWithFootageOnly) {
    add("200107151409330002", 2, "2001/07/15", "14:09", true);
    add("200107151411000003", 3, "2001/07/15", "14:11", true);
    ClipGroupList groups;
    std::vector<ClipRecord> records;
    m_index.LoadClipRecords(records);
    for (ClipRecord& r : records)
        groups.add(std::move(r));
    m_index.catalogNow();
    SearchClipsDialog search(groups, m_index, m_dialogs, nullptr);

    // Clips of two channels cannot become one file.
    search.search();
    search.list()->selectAll();
    search.exportSelected();
    EXPECT_EQ(m_dialogs.shownTexts(), QStringList{loadString(IDP_EXPORT_ONE_CHANNEL)});
    EXPECT_EQ(m_dialogs.fileDialogCount(), 0);

    // A range needs one channel and both times.
    m_dialogs.clear();
    search.exportRange();
    EXPECT_EQ(m_dialogs.shownTexts(), QStringList{loadString(IDP_EXPORT_NEED_RANGE)});

    search.channelBox()->setCurrentIndex(search.channelBox()->findText("0002 Gate"));
    search.afterBox()->setChecked(true);
    search.beforeBox()->setChecked(true);
    search.lowerDate()->setDate(QDate(2001, 7, 15));
    search.upperDate()->setDate(QDate(2001, 7, 15));

    // Before the clip: nothing recorded there, no file dialog.
    m_dialogs.clear();
    search.lowerTime()->setTime(QTime(13, 0));
    search.upperTime()->setTime(QTime(14, 0));
    search.exportRange();
    EXPECT_EQ(m_dialogs.shownTexts(), QStringList{loadString(IDP_EXPORT_NO_FOOTAGE)});
    EXPECT_EQ(m_dialogs.fileDialogCount(), 0);

    // Around it: the clip's frames.
    m_dialogs.clear();
    search.upperTime()->setTime(QTime(15, 0));
    const std::string out = m_dir.file("range.mp4");
    m_dialogs.setNextFileName(QString::fromStdString(out));
    search.exportRange();
    EXPECT_EQ(m_dialogs.shownTexts(), QStringList{loadString(IDP_EXPORT_OK)});
    const cliptest::ReadBack file = cliptest::readBack(out);
    EXPECT_EQ(file.codec, "h264");
    EXPECT_EQ(file.packets.size(), 2u);
}
