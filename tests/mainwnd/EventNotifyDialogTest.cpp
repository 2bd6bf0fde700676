#include "mainwnd/EventNotifyDialog.h"
#include "platform/dialogs/ScriptedDialogService.h"
#include "tests/app/TempAppStore.h"
#include "tests/support/ModalDriver.h"

#include <QTreeWidget>
#include <gtest/gtest.h>

namespace {

class EventNotifyDialogTest : public ::testing::Test {
protected:
    // Stores a record at 1 March 2024, 10:00 plus `seconds`, local time.
    void addEvent(int seconds, const char* name, const char* tel = "", const char* address = "",
                  const char* memo = "") {
        std::tm when{};
        when.tm_year = 124;
        when.tm_mon = 2;
        when.tm_mday = 1;
        when.tm_hour = 10;
        when.tm_isdst = -1;
        std::time_t t = std::mktime(&when) + seconds;
        m_store.setClock([t] { return t; });
        ASSERT_TRUE(m_store.AddEventRecord(EventRecord::makeBlock(name, tel, address, memo)));
    }
    static QTreeWidget* list(QWidget* d) { return d->findChild<QTreeWidget*>("list1071"); }
    static QStringList column(QWidget* d, int c) {
        QStringList texts;
        for (int i = 0; i < list(d)->topLevelItemCount(); ++i)
            texts << list(d)->topLevelItem(i)->text(c);
        return texts;
    }
    QStringList storedIds() {
        std::vector<EventRecord> records;
        m_store.LoadEventRecords(records);
        QStringList ids;
        for (const auto& r : records)
            ids << QString::fromStdString(r.ID);
        return ids;
    }

    TempAppStore m_temp;
    AppStore& m_store = m_temp.store();
    ScriptedDialogService m_dialogs;
};

TEST_F(EventNotifyDialogTest, ShowsEveryRecordInTheStoresOrderInFiveColumns) {
    addEvent(61, "D\xE9p\xF4t", "555-0100", "1 H\xF6henweg", "door alarm"); // site records are Latin-1
    addEvent(0, "Gate");
    addEvent(0, "Gate again", "555-0112"); // the same second: replaces the one before
    EventNotifyDialog dialog(m_store, m_dialogs);
    QTreeWidget* l = list(&dialog);
    ASSERT_EQ(l->columnCount(), 5);
    int avg = QFontMetrics(dialog.font()).averageCharWidth();
    for (auto [c, header, chars] : {std::tuple{0, "Event", 20},
                                    {1, "Name", 30},
                                    {2, "Phone", 30},
                                    {3, "Address", 60},
                                    {4, "Memo", 60}}) {
        EXPECT_EQ(l->headerItem()->text(c), header);
        EXPECT_EQ(l->columnWidth(c), chars * avg) << header;
    }
    EXPECT_EQ(l->palette().color(QPalette::Base), QColor(255, 255, 220));

    EXPECT_EQ(column(&dialog, 0), storedIds()) << "rows keep the store's order";
    int depot = column(&dialog, 1).indexOf(QStringLiteral("D\u00E9p\u00F4t"));
    ASSERT_GE(depot, 0);
    QStringList row;
    for (int c = 0; c < 5; ++c)
        row << column(&dialog, c)[depot];
    EXPECT_EQ(row, (QStringList{"20240301100101", QStringLiteral("D\u00E9p\u00F4t"), "555-0100",
                                QStringLiteral("1 H\u00F6henweg"), "door alarm"}));
    EXPECT_EQ(column(&dialog, 1).size(), 2);
    EXPECT_TRUE(column(&dialog, 1).contains("Gate again"));
}

TEST_F(EventNotifyDialogTest, DeleteAsksOnceAndRemovesTheSelectedRecords) {
    EventNotifyDialog empty(m_store, m_dialogs);
    clickButton(&empty, 1072);
    EXPECT_TRUE(m_dialogs.shown().empty()) << "an empty list asks nothing";

    for (int s = 0; s < 4; ++s)
        addEvent(s, "site");
    EventNotifyDialog dialog(m_store, m_dialogs);
    QStringList ids = column(&dialog, 0);
    for (int row : {0, 1, 3})
        list(&dialog)->topLevelItem(row)->setSelected(true);
    m_dialogs.setNextAnswer(MessageAnswer::Cancel);
    clickButton(&dialog, 1072);
    EXPECT_EQ(column(&dialog, 0), ids);
    EXPECT_EQ(storedIds().size(), 4);

    m_dialogs.setNextAnswer(MessageAnswer::Ok);
    clickButton(&dialog, 1072);
    ASSERT_EQ(m_dialogs.shown().size(), 2u);
    EXPECT_EQ(m_dialogs.shown()[1].text, "\n\n Delete select item(s) ? \n\n");
    EXPECT_EQ(m_dialogs.shown()[1].buttons, MessageButtons::OkCancel);
    EXPECT_EQ(m_dialogs.shown()[1].icon, MessageIcon::Question);
    EXPECT_EQ(column(&dialog, 0), QStringList{ids[2]});
    EXPECT_EQ(storedIds(), QStringList{ids[2]});
}

} // namespace
