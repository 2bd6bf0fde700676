// The dialing status window: its animation, its looks, and "Hang up" through
// the line control with the scripted telephony service.
#include "connect/DialStatusDialog.h"
#include "connect/DialStatusDialogFactory.h"
#include "link/LineManager.h"
#include "platform/telephony/ScriptedTelephony.h"
#include "tests/telephony/TelephonyTestSupport.h"

#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>

using namespace tel;

TEST(DialStatusDialogTest, AnimatesIcons121To125AndWrapsOnEveryTick) {
    DialStatusDialog dialog("555 0101", "Wait for connect ... ", nullptr, 5);
    EXPECT_EQ(dialog.shownIcon(), 121);
    std::vector<int> shown;
    QObject::connect(&dialog, &DialStatusDialog::iconShown, [&](int id) { shown.push_back(id); });
    ASSERT_TRUE(waitUntil([&] { return shown.size() >= 7; }, 3000));
    EXPECT_EQ(std::vector<int>(shown.begin(), shown.begin() + 7),
              (std::vector<int>{121, 122, 123, 124, 125, 121, 122}));
    // Every step has a picture.
    const QPixmap pixmap = dialog.findChild<QLabel*>("icon1010")->pixmap();
    EXPECT_FALSE(pixmap.isNull());
}

TEST(DialStatusDialogTest, ShowsNumberAndStatusHasNoCloseBoxAndIgnoresEscape) {
    QWidget mainWindow;
    mainWindow.setGeometry(100, 50, 900, 700);
    mainWindow.show();
    DialStatusDialog dialog("555 0101", "Wait for connect ... ", &mainWindow);
    dialog.present();
    EXPECT_EQ(dialog.windowTitle(), "Connect to local site");
    EXPECT_EQ(dialog.findChild<QLabel*>("text1011")->text(), "555 0101");
    EXPECT_EQ(dialog.findChild<QLabel*>("text1012")->text(), "Wait for connect ... ");
    EXPECT_EQ(dialog.findChild<QPushButton*>("button1069")->text(), "Hang up");
    EXPECT_FALSE(dialog.windowFlags() & Qt::WindowCloseButtonHint);
    EXPECT_FALSE(dialog.isModal());
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_LE((dialog.frameGeometry().center() - mainWindow.frameGeometry().center()).manhattanLength(), 2);
    QTest::keyClick(&dialog, Qt::Key_Escape);
    EXPECT_TRUE(dialog.isVisible());
}

class DialStatusFactoryTest : public ::testing::Test {
protected:
    void SetUp() override {
        service.devices = {{"Modem A"}};
        ASSERT_TRUE(lines.Reinitialize(-1));
    }
    static LineManager::Timings shortTimings() {
        LineManager::Timings timings;
        timings.replyWaitMs = 300;
        return timings;
    }

    ScriptedTelephony service;
    TestHost host;
    std::shared_ptr<TestPort::Record> record = std::make_shared<TestPort::Record>();
    QWidget mainWindow;
    // As in the main window: the factory names the line control made right after it.
    DialStatusDialogFactory factory{&mainWindow, lines};
    LineManager lines{service, std::make_unique<TestPort>(record), factory, host, shortTimings()};
};

TEST_F(DialStatusFactoryTest, HangUpDropsTheCallClosesTheWindowAndKeepsListening) {
    ASSERT_TRUE(lines.Dial("555 0101"));
    DialStatusDialog* window = factory.openWindow();
    ASSERT_NE(window, nullptr);
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(window->findChild<QLabel*>("text1011")->text(), "555 0101");
    EXPECT_EQ(window->findChild<QLabel*>("text1012")->text(), "Wait for connect ... ");

    window->findChild<QPushButton*>("button1069")->click();
    EXPECT_NE(factory.openWindow(), nullptr); // not destroyed inside its own click
    ASSERT_TRUE(waitUntil([&] { return factory.openWindow() == nullptr; }, 2000));
    EXPECT_FALSE(lines.hasCall());
    EXPECT_TRUE(lines.isLineOpen());
    EXPECT_EQ(service.ops("Drop").size(), 1u);
    EXPECT_EQ(service.ops("Deallocate").size(), 1u);
}

TEST_F(DialStatusFactoryTest, ADialThatFailsAtOnceClosesTheWindowBeforeItAnimates) {
    service.makeCallReply = ScriptedTelephony::ReplyMode::Fail;
    EXPECT_FALSE(lines.Dial("555"));
    EXPECT_EQ(factory.openWindow(), nullptr);

    service.makeCallReply = ScriptedTelephony::ReplyMode::Succeed;
    ASSERT_TRUE(lines.Dial("556"));
    ASSERT_NE(factory.openWindow(), nullptr);
    service.postCallState(service.lastCall(), LINECALLSTATE_CONNECTED);
    ASSERT_TRUE(waitUntil([&] { return factory.openWindow() == nullptr; }, 1000));
    EXPECT_TRUE(lines.isConnected());
}
