// The connect dialog on the offscreen platform: what it opens with, the
// slider, the checks, what Connect and Apply store, and the phone book.
#include "connect/ConnectDialog.h"
#include "app/ui/PhoneBookDialog.h"
#include "connect/AppConnectionStore.h"
#include "connect/DialStatusDialog.h"
#include "platform/dialogs/ScriptedDialogService.h"
#include "platform/registry/RegistryStore.h"
#include "res/StringTable.h"
#include "tests/support/TempDir.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QSlider>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <gtest/gtest.h>

#include <cstdlib>

namespace {

class ConnectDialogTest : public ::testing::Test {
protected:
    template <typename T> T* find(QWidget& dialog, const char* name) {
        T* widget = dialog.findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(widget, nullptr) << name;
        return widget;
    }
    QLineEdit* Edit(QWidget& dialog, int id) {
        return find<QLineEdit>(dialog, QStringLiteral("edit%1").arg(id).toLatin1().constData());
    }
    void click(QWidget& dialog, int id) {
        find<QPushButton>(dialog, QStringLiteral("button%1").arg(id).toLatin1().constData())->click();
    }
    QString qualityLabel(QWidget& dialog) { return find<QLabel>(dialog, "label1007")->text(); }

    TempDir dir;
    RegistryStore user{dir.file("user.sqlite")};
    RegistryStore machine{dir.file("machine.sqlite")};
    AppStore store{user, machine};
    ScriptedDialogService dialogs;
};

TEST_F(ConnectDialogTest, OpensWithTheStoredValuesClampingQualityAndHidingAnUnsavedPassword) {
    ASSERT_TRUE(store.saveCallSettings({"op", "secret", "555 0101", 0, 150, 0}));
    ConnectDialog dialog(store, dialogs);
    EXPECT_EQ(dialog.windowTitle(), "Connect to local site");
    EXPECT_EQ(Edit(dialog, 1021)->text(), "op");
    EXPECT_EQ(Edit(dialog, 1004)->text(), "");
    EXPECT_EQ(Edit(dialog, 1004)->echoMode(), QLineEdit::Password);
    EXPECT_EQ(Edit(dialog, 1000)->text(), "555 0101");
    auto* sizes = find<QComboBox>(dialog, "combo1005");
    ASSERT_EQ(sizes->count(), 2);
    EXPECT_EQ(sizes->itemText(0), "160X120");
    EXPECT_EQ(sizes->itemText(1), "320X240");
    EXPECT_EQ(sizes->currentIndex(), 0);
    EXPECT_EQ(find<QSlider>(dialog, "slider1006")->value(), 30);
    EXPECT_EQ(qualityLabel(dialog), " 30 %");
    EXPECT_FALSE(find<QCheckBox>(dialog, "check1002")->isChecked());

    // Cancel stores nothing: the hidden password is still what the login sends.
    click(dialog, 2);
    EXPECT_EQ(dialog.result(), QDialog::Rejected);
    EXPECT_EQ(AppConnectionStore(store).loginValues().password, "secret");
    EXPECT_EQ(store.callSettings().quality, 30);

    ASSERT_TRUE(store.saveCallSettings({"op", "secret", "555", 1, 100, 1}));
    ConnectDialog saved(store, dialogs);
    EXPECT_EQ(Edit(saved, 1004)->text(), "secret");
    EXPECT_TRUE(find<QCheckBox>(saved, "check1002")->isChecked());
    EXPECT_EQ(find<QComboBox>(saved, "combo1005")->currentIndex(), 1);
    EXPECT_EQ(qualityLabel(saved), "100 %");
}

TEST_F(ConnectDialogTest, TextFieldsTakeAtMostTheirLimits) {
    ConnectDialog dialog(store, dialogs);
    const QString longText(40, QLatin1Char('7'));
    for (auto [id, limit] : {std::pair{1021, 20}, {1004, 20}, {1000, 30}}) {
        QLineEdit* edit = Edit(dialog, id);
        edit->setFocus();
        QTest::keyClicks(edit, longText);
        EXPECT_EQ(edit->text().size(), limit) << id;
        edit->clear();
        edit->insert(longText); // pasted text is cut too
        EXPECT_EQ(edit->text().size(), limit) << id;
    }
    click(dialog, 1);
    EXPECT_EQ(store.callSettings().user, std::string(20, '7'));
    EXPECT_EQ(store.callSettings().password, std::string(20, '7'));
    EXPECT_EQ(store.callSettings().dial, std::string(30, '7'));
}

TEST_F(ConnectDialogTest, NamesAndPasswordsTakeTwentyLatin1CharactersAndRefuseOthers) {
    ConnectDialog dialog(store, dialogs);
    const QString umlauts = QString(25, QChar(0xFC)); // one byte each on the wire
    for (int id : {1021, 1004}) {
        QLineEdit* edit = Edit(dialog, id);
        edit->setFocus();
        for (QChar c : QStringLiteral("M\u00FCller\u20AC\u0416")) // typed as a keyboard layout would
            QTest::sendKeyEvent(QTest::Click, edit, Qt::Key_unknown, QString(c), Qt::NoModifier);
        EXPECT_EQ(edit->text(), QStringLiteral("M\u00FCller"))
            << id << ": the euro sign and the Cyrillic letter are refused";
        edit->clear();
        edit->insert(QStringLiteral(
            "Gr\u00FC\u00DFe \U0001F600")); // a paste with one foreign character is refused whole
        EXPECT_EQ(edit->text(), QString()) << id;
        edit->insert(umlauts);
        EXPECT_EQ(edit->text(), umlauts.left(20)) << id;
    }
    Edit(dialog, 1000)->setText(QStringLiteral("555"));
    click(dialog, 1);
    EXPECT_EQ(store.callSettings().user, std::string(20, '\xFC'))
        << "the store keeps the bytes the login sends";
    const LoginValues login = AppConnectionStore(store).loginValues();
    EXPECT_EQ(login.password, std::string(20, '\xFC'));
    const auto record = buildLoginRecord(login);
    EXPECT_EQ(std::string(record.begin(), record.begin() + 40), std::string(40, '\xFC'));
}

TEST_F(ConnectDialogTest, SliderKeysStepByOneAndTenWithinTheRangeAndTheLabelFollows) {
    ASSERT_TRUE(store.saveCallSettings({"op", "", "1", 1, 95, 0}));
    ConnectDialog dialog(store, dialogs);
    auto* slider = find<QSlider>(dialog, "slider1006");
    slider->setFocus();
    QTest::keyClick(slider, Qt::Key_PageUp);
    EXPECT_EQ(slider->value(), 100);
    EXPECT_EQ(dialog.quality(), 100);
    EXPECT_EQ(qualityLabel(dialog), "100 %");
    QTest::keyClick(slider, Qt::Key_Right);
    EXPECT_EQ(slider->value(), 100);
    QTest::keyClick(slider, Qt::Key_PageDown);
    QTest::keyClick(slider, Qt::Key_Left);
    EXPECT_EQ(slider->value(), 89);
    EXPECT_EQ(qualityLabel(dialog), " 89 %");

    slider->triggerAction(QAbstractSlider::SliderToMinimum); // any other notification
    EXPECT_EQ(dialog.quality(), 0);
    EXPECT_EQ(qualityLabel(dialog), "  0 %");
    QTest::keyClick(slider, Qt::Key_Left);
    QTest::keyClick(slider, Qt::Key_PageDown);
    EXPECT_EQ(slider->value(), 0);
    QTest::keyClick(slider, Qt::Key_PageUp);
    EXPECT_EQ(qualityLabel(dialog), " 10 %");

    slider->setSliderDown(true); // dragging the thumb
    slider->setSliderPosition(63);
    slider->setSliderDown(false);
    EXPECT_EQ(qualityLabel(dialog), " 63 %");
    click(dialog, 1070);
    EXPECT_EQ(store.callSettings().quality, 63);
}

TEST_F(ConnectDialogTest, ConnectChecksUserThenDialNumberAndFocusesTheMissingField) {
    ASSERT_TRUE(store.saveCallSettings({"", "", "", 1, 30, 0}));
    ConnectDialog dialog(store, dialogs);
    dialog.show();
    QApplication::setActiveWindow(&dialog);

    click(dialog, 1);
    ASSERT_EQ(dialogs.shown().size(), 1u);
    EXPECT_EQ(dialogs.shown()[0].text, "\n\n Please input user name! \n\n");
    EXPECT_EQ(dialogs.shown()[0].icon, MessageIcon::Exclamation);
    EXPECT_EQ(QApplication::focusWidget(), Edit(dialog, 1021));
    EXPECT_TRUE(dialog.isVisible());

    Edit(dialog, 1021)->setText("op");
    click(dialog, 1);
    ASSERT_EQ(dialogs.shown().size(), 2u);
    EXPECT_EQ(dialogs.shown()[1].text, loadString(IDP_INPUT_DIAL_NUMBER));
    EXPECT_EQ(QApplication::focusWidget(), Edit(dialog, 1000));
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_EQ(store.callSettings().user, ""); // nothing stored by a failed check

    Edit(dialog, 1000)->setText("555 0101");
    Edit(dialog, 1004)->setText("pw");
    find<QComboBox>(dialog, "combo1005")->setCurrentIndex(0);
    find<QCheckBox>(dialog, "check1002")->setChecked(true);
    click(dialog, 1);
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(dialog.dialNumber(), "555 0101");
    const CallSettings call = store.callSettings();
    EXPECT_EQ(call.user, "op");
    EXPECT_EQ(call.password, "pw");
    EXPECT_EQ(call.dial, "555 0101");
    EXPECT_EQ(call.formatSize, 0);
    EXPECT_EQ(call.quality, 30);
    EXPECT_EQ(call.save, 1);
    EXPECT_EQ(dialogs.shown().size(), 2u);
}

TEST_F(ConnectDialogTest, ApplyStoresWithoutChecksAndStaysOpen) {
    ASSERT_TRUE(store.saveCallSettings({"op", "old", "555", 1, 30, 0}));
    ConnectDialog dialog(store, dialogs);
    dialog.show();
    Edit(dialog, 1021)->clear();
    Edit(dialog, 1000)->clear();
    click(dialog, 1070);
    EXPECT_TRUE(dialogs.shown().empty());
    EXPECT_TRUE(dialog.isVisible());
    const CallSettings call = store.callSettings();
    EXPECT_EQ(call.user, "");
    EXPECT_EQ(call.dial, "");
    // The password is written on every save: the hidden one is replaced by the empty field.
    EXPECT_EQ(call.password, "");
}

TEST_F(ConnectDialogTest, AddDirectoryAsksFirstAndNeedsAUserName) {
    ConnectDialog dialog(store, dialogs);
    click(dialog, 1024); // no user name: no question, no entry
    EXPECT_TRUE(dialogs.shown().empty());

    Edit(dialog, 1021)->setText("North Gate");
    Edit(dialog, 1004)->setText("pw");
    Edit(dialog, 1000)->setText("555 0101");
    click(dialog, 1024); // answered No by default
    ASSERT_EQ(dialogs.shown().size(), 1u);
    EXPECT_EQ(dialogs.shown()[0].text, "\n\n Add to directory? \n\n");
    EXPECT_EQ(dialogs.shown()[0].buttons, MessageButtons::YesNo);
    EXPECT_EQ(dialogs.shown()[0].icon, MessageIcon::Question);
    std::vector<PhoneEntry> book;
    store.LoadPhoneBook(book);
    EXPECT_TRUE(book.empty());

    dialogs.setNextAnswer(MessageAnswer::Yes);
    click(dialog, 1024);
    store.LoadPhoneBook(book);
    ASSERT_EQ(book.size(), 1u);
    EXPECT_EQ(book[0].Name, "North Gate");
    EXPECT_EQ(book[0].PassWord, "pw");
    EXPECT_EQ(book[0].Dial, "555 0101");
    EXPECT_EQ(book[0].Memo, "");
    EXPECT_EQ(dialogs.shown().size(), 2u) << "nothing more said when stored";

    // A name the store cannot take is said, not silently dropped.
    Edit(dialog, 1021)->setText("North\\Gate");
    dialogs.setNextAnswer(MessageAnswer::Yes);
    click(dialog, 1024);
    ASSERT_EQ(dialogs.shown().size(), 4u);
    EXPECT_EQ(dialogs.shown()[3].text, "\n\n Input error! \n\n");
    book.clear();
    store.LoadPhoneBook(book);
    EXPECT_EQ(book.size(), 1u);
}

TEST_F(ConnectDialogTest, PhoneBookInSelectModeFillsNamePasswordAndNumber) {
    ASSERT_TRUE(store.SavePhoneEntry({"Alpha", "a-pw", "111", "first"}));
    ASSERT_TRUE(store.SavePhoneEntry({"Bravo", "b-pw", "222 333", "second"}));
    ConnectDialog dialog(store, dialogs);
    Edit(dialog, 1021)->setText("typed");

    bool sawSelectMode = false;
    QTimer::singleShot(0, [&] {
        auto* book = qobject_cast<PhoneBookDialog*>(QApplication::activeModalWidget());
        ASSERT_NE(book, nullptr);
        sawSelectMode = book->findChild<QPushButton*>("button1")->isEnabled();
        auto* list = book->findChild<QTreeWidget*>("list1014");
        list->topLevelItem(1)->setSelected(true);
        book->findChild<QPushButton*>("button1")->click();
    });
    click(dialog, 1020);
    EXPECT_TRUE(sawSelectMode);
    EXPECT_EQ(Edit(dialog, 1021)->text(), "Bravo");
    EXPECT_EQ(Edit(dialog, 1004)->text(), "b-pw");
    EXPECT_EQ(Edit(dialog, 1000)->text(), "222 333");

    // Leaving the phone book with Exit changes nothing.
    QTimer::singleShot(
        0, [] { QApplication::activeModalWidget()->findChild<QPushButton*>("button2")->click(); });
    click(dialog, 1020);
    EXPECT_EQ(Edit(dialog, 1021)->text(), "Bravo");
}

// Screenshot mode: with DIALSCOPE_SCREENSHOT_DIR set, saves a picture of the
// dialog with sample values there (for the docs); otherwise skipped.
TEST_F(ConnectDialogTest, Screenshot) {
    const char* shots = std::getenv("DIALSCOPE_SCREENSHOT_DIR");
    if (!shots)
        GTEST_SKIP() << "set DIALSCOPE_SCREENSHOT_DIR to take screenshots";
    ASSERT_TRUE(store.saveCallSettings({"operator", "secret", "555 0101", 1, 30, 1}));
    ConnectDialog dialog(store, dialogs);
    dialog.show();
    const QString file = QStringLiteral("%1/connect.png").arg(QString::fromLocal8Bit(shots));
    EXPECT_TRUE(dialog.grab().save(file)) << file.toStdString();

    DialStatusDialog status("555 0101", "Wait for connect ... ", nullptr, 5);
    status.present();
    while (status.shownIcon() != 124)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    const QString statusFile = QStringLiteral("%1/dial_status.png").arg(QString::fromLocal8Bit(shots));
    EXPECT_TRUE(status.grab().save(statusFile)) << statusFile.toStdString();
}

} // namespace
