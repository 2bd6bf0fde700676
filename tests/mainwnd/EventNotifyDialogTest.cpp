#include "EventNotifyDialog.h"
#include "ModalDriver.h"
#include "ScriptedDialogService.h"
#include "TempAppStore.h"

#include <QTreeWidget>
#include <gtest/gtest.h>

namespace {

class EventNotifyDialogTest : public ::testing::Test {
protected:
    // Stores a record at the given time of 1 March 2024, local time.
    void addEvent(int hour, int minute, int second, const char* name, const char* tel, const char* address,
                  const char* memo) {
        std::tm when{};
        when.tm_year = 124;
        when.tm_mon = 2;
        when.tm_mday = 1;
        when.tm_hour = hour;
        when.tm_min = minute;
        when.tm_sec = second;
        when.tm_isdst = -1;
        std::time_t t = std::mktime(&when);
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
    std::vector<std::string> storedIds() {
        std::vector<EventRecord> records;
        m_store.LoadEventRecords(records);
        std::vector<std::string> ids;
        for (const auto& r : records)
            ids.push_back(r.ID);
        return ids;
    }

    TempAppStore m_temp;
    AppStore& m_store = m_temp.store();
    ScriptedDialogService m_dialogs;
};

TEST_F(EventNotifyDialogTest, ShowsEveryRecordInTheStoresOrderWithFiveColumns) {
    addEvent(9, 0, 1, "Depot", "555-0100", "1 Harbour Rd", "door alarm");
    addEvent(8, 30, 0, "Gate", "555-0111", "", "");
    addEvent(8, 30, 0, "Gate again", "555-0112", "", "same second"); // replaces the one before
    EventNotifyDialog dialog(m_store, m_dialogs);
    EXPECT_EQ(dialog.windowTitle(), "Browse event notify");
    QTreeWidget* l = list(&dialog);
    ASSERT_EQ(l->columnCount(), 5);
    QStringList headers;
    for (int c = 0; c < 5; ++c)
        headers << l->headerItem()->text(c);
    EXPECT_EQ(headers, (QStringList{"Event", "Name", "Phone", "Address", "Memo"}));
    int avg = QFontMetrics(dialog.font()).averageCharWidth();
    for (auto [c, chars] : {std::pair{0, 20}, {1, 30}, {2, 30}, {3, 60}, {4, 60}})
        EXPECT_EQ(l->columnWidth(c), chars * avg) << c;
    EXPECT_EQ(l->palette().color(QPalette::Base), QColor(255, 255, 220));

    std::vector<std::string> ids = storedIds();
    ASSERT_EQ(ids.size(), 2u);
    QStringList expectedIds;
    for (const auto& id : ids)
        expectedIds << QString::fromStdString(id);
    EXPECT_EQ(column(&dialog, 0), expectedIds) << "rows keep the store's order";
    int depot = column(&dialog, 1).indexOf("Depot");
    ASSERT_GE(depot, 0);
    EXPECT_EQ(column(&dialog, 0)[depot], "20240301090001");
    EXPECT_EQ(column(&dialog, 2)[depot], "555-0100");
    EXPECT_EQ(column(&dialog, 3)[depot], "1 Harbour Rd");
    EXPECT_EQ(column(&dialog, 4)[depot], "door alarm");
    EXPECT_TRUE(column(&dialog, 1).contains("Gate again"));
}

TEST_F(EventNotifyDialogTest, DeleteAsksOnceAndRemovesTheSelectedRecords) {
    for (int s = 0; s < 4; ++s)
        addEvent(10, 0, s, "site", "", "", "");
    EventNotifyDialog dialog(m_store, m_dialogs);
    dialog.show();
    ClickButton(&dialog, 1072);
    EXPECT_TRUE(m_dialogs.shown().empty());

    QStringList ids = column(&dialog, 0);
    for (int row : {0, 1, 3})
        list(&dialog)->topLevelItem(row)->setSelected(true);
    m_dialogs.setNextAnswer(MessageAnswer::Cancel);
    ClickButton(&dialog, 1072);
    EXPECT_EQ(column(&dialog, 0), ids);
    EXPECT_EQ(storedIds().size(), 4u);

    m_dialogs.setNextAnswer(MessageAnswer::Ok);
    ClickButton(&dialog, 1072);
    ASSERT_EQ(m_dialogs.shown().size(), 2u);
    EXPECT_EQ(m_dialogs.shown()[1].text, "\n\n Delete select item(s) ? \n\n");
    EXPECT_EQ(m_dialogs.shown()[1].buttons, MessageButtons::OkCancel);
    EXPECT_EQ(m_dialogs.shown()[1].icon, MessageIcon::Question);
    EXPECT_EQ(column(&dialog, 0), QStringList{ids[2]});
    EXPECT_EQ(storedIds(), std::vector<std::string>{ids[2].toStdString()});

    ClickButton(&dialog, 2);
    EXPECT_EQ(dialog.result(), QDialog::Rejected);
}

TEST_F(EventNotifyDialogTest, AnEmptyStoreShowsAnEmptyList) {
    EventNotifyDialog dialog(m_store, m_dialogs);
    EXPECT_EQ(list(&dialog)->topLevelItemCount(), 0);
    ClickButton(&dialog, 1072);
    EXPECT_TRUE(m_dialogs.shown().empty());
}

} // namespace
