#include "app/ui/PhoneBookDialog.h"
#include "platform/dialogs/ScriptedDialogService.h"
#include "tests/app/DoubleClick.h"
#include "tests/app/TempAppStore.h"
#include "tests/support/ModalDriver.h"

#include <QLineEdit>
#include <QPushButton>
#include <gtest/gtest.h>

namespace {

class PhoneBookDialogTest : public ::testing::Test {
protected:
    std::unique_ptr<PhoneBookDialog> open(PhoneBookDialog::Mode mode = PhoneBookDialog::Mode::Edit) {
        auto dialog = std::make_unique<PhoneBookDialog>(m_store, m_dialogs, mode);
        dialog->show();
        return dialog;
    }
    static QTreeWidget* list(QWidget* d) { return d->findChild<QTreeWidget*>("list1014"); }
    static QLineEdit* edit(QWidget* d, int id) {
        return d->findChild<QLineEdit*>(QStringLiteral("edit%1").arg(id));
    }
    static QStringList column(QWidget* d, int c) {
        QStringList texts;
        for (int i = 0; i < list(d)->topLevelItemCount(); ++i)
            texts << list(d)->topLevelItem(i)->text(c);
        return texts;
    }
    static void add(QWidget* d, const QString& user, const QString& password, const QString& phone) {
        edit(d, 1013)->setText(user);
        edit(d, 1017)->setText(password);
        edit(d, 1018)->setText(phone);
        edit(d, 1019)->setText("note of " + user);
        clickButton(d, 1016);
    }
    static void selectRows(QWidget* d, std::initializer_list<int> rows) {
        list(d)->clearSelection();
        for (int row : rows)
            list(d)->topLevelItem(row)->setSelected(true);
    }
    std::vector<PhoneEntry> stored() {
        std::vector<PhoneEntry> entries;
        m_store.LoadPhoneBook(entries);
        return entries;
    }

    TempAppStore m_temp;
    AppStore& m_store = m_temp.store();
    ScriptedDialogService m_dialogs;
};

TEST_F(PhoneBookDialogTest, ShowsStoredEntriesSortedWithoutPasswords) {
    m_store.SavePhoneEntry({"zeta", "pz", "900", "last"});
    m_store.SavePhoneEntry({"Alpha", "pa", "100", "first"});
    m_store.SavePhoneEntry({"beta", "pb", "200", ""});
    auto d = open();
    EXPECT_EQ(column(d.get(), 0), (QStringList{"Alpha", "beta", "zeta"}));
    EXPECT_EQ(column(d.get(), 1), (QStringList{"100", "200", "900"}));
    EXPECT_EQ(column(d.get(), 2), (QStringList{"first", "", "last"}));
    EXPECT_EQ(list(d.get())->palette().color(QPalette::Base), QColor(255, 255, 220));
    EXPECT_EQ(list(d.get())->columnWidth(2), 50 * QFontMetrics(d->font()).averageCharWidth());
    for (auto [id, limit] : {std::pair{1013, 20}, {1017, 20}, {1018, 30}, {1019, 50}})
        EXPECT_EQ(edit(d.get(), id)->maxLength(), limit) << id;
}

TEST_F(PhoneBookDialogTest, AddStoresAtOnceAndOverwritesAnExistingName) {
    auto d = open();
    add(d.get(), "", "pw", "123");
    EXPECT_EQ(m_dialogs.shownTexts(), QStringList{"\n\n Please input user name! \n\n"});
    EXPECT_EQ(d->focusWidget(), edit(d.get(), 1013));
    EXPECT_TRUE(stored().empty());

    add(d.get(), "site", "pw1", "555-1");
    add(d.get(), "site", "pw2", "555-2");
    EXPECT_EQ(column(d.get(), 1), QStringList{"555-2"});
    EXPECT_TRUE(edit(d.get(), 1017)->text().isEmpty());
    EXPECT_EQ(d->focusWidget(), edit(d.get(), 1013));
    ASSERT_EQ(stored().size(), 1u);
    EXPECT_EQ(stored()[0].PassWord, "pw2");

    // A double-click fills the edits, the password from the entries.
    doubleClick(list(d.get()), list(d.get())->topLevelItem(0));
    EXPECT_EQ(edit(d.get(), 1013)->text(), "site");
    EXPECT_EQ(edit(d.get(), 1017)->text(), "pw2");
    EXPECT_EQ(edit(d.get(), 1018)->text(), "555-2");
    EXPECT_EQ(edit(d.get(), 1019)->text(), "note of site");

    // A backslash would nest store keys; it cannot be typed into the name.
    edit(d.get(), 1013)->clear();
    QTest::keyClicks(edit(d.get(), 1013), "a\\b");
    EXPECT_EQ(edit(d.get(), 1013)->text(), "ab");
}

TEST_F(PhoneBookDialogTest, NamesDifferingOnlyInCaseShareOneRowAndOneStoredEntry) {
    m_store.SavePhoneEntry({"bob", "old", "111", "first"});
    auto d = open(PhoneBookDialog::Mode::Select);
    add(d.get(), "Bob", "new", "222");
    EXPECT_EQ(column(d.get(), 0), QStringList{"bob"}) << "the row keeps the first spelling";
    ASSERT_EQ(stored().size(), 1u);
    EXPECT_EQ(stored()[0].PassWord, "new");
    selectRows(d.get(), {0});
    clickButton(d.get(), 1);
    EXPECT_EQ(d->selectedEntry().PassWord, "new") << "the stored password, not the old spelling's";
    EXPECT_EQ(column(open().get(), 0), QStringList{"Bob"}) << "reopened: the store's spelling";
}

TEST_F(PhoneBookDialogTest, DeleteAsksOnceForAllSelectedRows) {
    for (const char* name : {"a1", "b2", "c3", "d4"})
        m_store.SavePhoneEntry({name, "p", "1", ""});
    auto d = open();
    clickButton(d.get(), 1015);
    EXPECT_TRUE(m_dialogs.shown().empty()) << "nothing selected, nothing asked";
    selectRows(d.get(), {0, 2, 3});
    m_dialogs.setNextAnswer(MessageAnswer::Cancel);
    clickButton(d.get(), 1015);
    EXPECT_EQ(column(d.get(), 0).size(), 4);
    EXPECT_EQ(stored().size(), 4u);

    m_dialogs.setNextAnswer(MessageAnswer::Ok);
    clickButton(d.get(), 1015);
    ASSERT_EQ(m_dialogs.shown().size(), 2u);
    EXPECT_EQ(m_dialogs.shown()[1].text, "\n\n Delete select item(s) ? \n\n");
    EXPECT_EQ(m_dialogs.shown()[1].buttons, MessageButtons::OkCancel);
    EXPECT_EQ(m_dialogs.shown()[1].icon, MessageIcon::Question);
    EXPECT_EQ(column(d.get(), 0), QStringList{"b2"});
    ASSERT_EQ(stored().size(), 1u);
    EXPECT_EQ(stored()[0].Name, "b2");
}

TEST_F(PhoneBookDialogTest, FromTheMenuSelectIsDisabledAndEnterExits) {
    m_store.SavePhoneEntry({"site", "pw", "1", ""});
    auto d = open(PhoneBookDialog::Mode::Edit);
    EXPECT_FALSE(d->findChild<QPushButton*>("button1")->isEnabled());
    selectRows(d.get(), {0});
    edit(d.get(), 1019)->setFocus();
    QTest::keyClick(edit(d.get(), 1019), Qt::Key_Return);
    EXPECT_FALSE(d->isVisible());
    EXPECT_EQ(d->result(), QDialog::Rejected);
}

TEST_F(PhoneBookDialogTest, SelectModeReturnsTheFirstSelectedRowsNamePasswordAndNumber) {
    m_store.SavePhoneEntry({"north", "pn", "555-0100", "hill"});
    m_store.SavePhoneEntry({"south", "ps", "555-0199", ""});
    m_store.userStore().createKey("software\\Kestrel-Lookout\\RemotePhone\\bare").setString("Name", "bare");
    ModalDriver driver;
    driver.then([this](QDialog* d) {
        clickButton(d, 1);
        EXPECT_EQ(m_dialogs.shownTexts(), QStringList{"\n\n Input error! \n\n"});
        selectRows(d, {2, 1});
        clickButton(d, 1);
    });
    driver.then([](QDialog* d) {
        EXPECT_EQ(column(d, 1)[0], "") << "missing values show as empty texts";
        edit(d, 1017)->setText("typed");
        selectRows(d, {0});
        clickButton(d, 1);
    });
    for (auto [name, password, dial] : {std::tuple{"north", "pn", "555-0100"}, {"bare", "", ""}}) {
        PhoneBookDialog dialog(m_store, m_dialogs, PhoneBookDialog::Mode::Select);
        ASSERT_EQ(dialog.exec(), QDialog::Accepted);
        EXPECT_EQ(dialog.selectedEntry().Name, name);
        EXPECT_EQ(dialog.selectedEntry().PassWord, password);
        EXPECT_EQ(dialog.selectedEntry().Dial, dial);
    }
}

} // namespace
