// The small choice dialogs: modem selection, channel choice, remote control
// and its command line, and the packets the remote control command sends.
#include "app/core/AppStore.h"
#include "app/core/ChannelTable.h"
#include "connect/ChannelChoiceDialog.h"
#include "connect/CommandDialog.h"
#include "connect/NetworkModemList.h"
#include "connect/RemoteControlCommand.h"
#include "connect/RemoteControlDialog.h"
#include "connect/SelectModemDialog.h"
#include "platform/dialogs/ScriptedDialogService.h"
#include "platform/registry/RegistryStore.h"
#include "res/StringTable.h"
#include "tests/link/LinkDoubles.h"
#include "tests/support/TempDir.h"

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

using tel::DeviceIcon;

namespace {

QPushButton* Button(QWidget& dialog, int id) {
    auto* button = dialog.findChild<QPushButton*>(QStringLiteral("button%1").arg(id));
    EXPECT_NE(button, nullptr) << id;
    return button;
}

// ---- Modem selection ----

TEST(SelectModemDialogTest, HighlightsTheCurrentDeviceShowsIconsAndReturnsTheChosenIndex) {
    std::vector<int> asked;
    SelectModemDialog dialog({"ttyS0", "", "SiteSim V.34 Data Modem"}, 2, [&](int device) {
        asked.push_back(device);
        return device == 1 ? std::nullopt
                           : std::optional(device == 2 ? DeviceIcon::DataModem : DeviceIcon::SerialPort);
    });
    EXPECT_EQ(dialog.windowTitle(), "Select modem");
    auto* list = dialog.findChild<QComboBox*>("combo1008");
    ASSERT_EQ(list->count(), 3);
    EXPECT_EQ(list->itemText(1), ""); // a device whose name is unknown keeps its place
    EXPECT_EQ(list->currentIndex(), 2);
    EXPECT_EQ(dialog.selectedIndex(), 2);
    EXPECT_EQ(asked, std::vector<int>{2});
    auto* icon = dialog.findChild<QLabel*>("icon1009");
    EXPECT_FALSE(icon->pixmap().isNull());

    list->setCurrentIndex(0);
    EXPECT_EQ(dialog.selectedIndex(), 0);
    list->setCurrentIndex(1); // no icon for it: the last one stays
    EXPECT_EQ(dialog.selectedIndex(), 1);
    EXPECT_FALSE(icon->pixmap().isNull());
    Button(dialog, 1)->click();
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(dialog.selectedIndex(), 1);
}

TEST(SelectModemDialogTest, CurrentDeviceOutsideTheListHighlightsNothingAndAnEmptyListCannotBeSelected) {
    SelectModemDialog outside({"A", "B"}, 5, nullptr);
    EXPECT_EQ(outside.findChild<QComboBox*>("combo1008")->currentIndex(), -1);
    EXPECT_EQ(outside.selectedIndex(), -1);
    outside.findChild<QComboBox*>("combo1008")->setCurrentIndex(1);
    Button(outside, 1)->click();
    EXPECT_EQ(outside.result(), QDialog::Accepted);
    EXPECT_EQ(outside.selectedIndex(), 1);

    SelectModemDialog empty({}, -1, nullptr);
    Button(empty, 1)->click();
    EXPECT_EQ(empty.result(), QDialog::Rejected);
}

// Typed addresses are checked and kept in one spelling; the stored text reads
// back to the same list, and what a damaged store holds is never trusted.
TEST(NetworkModemListTest, TypedEntriesAreCheckedAndTheStoredTextRoundTrips) {
    const struct {
        const char* typed;
        const char* canonical; // nullptr: refused
    } cases[] = {
        {"tcp://modems.example:4001", "tcp://modems.example:4001"},
        {"  RFC2217://10.0.0.7:2217/ ", "rfc2217://10.0.0.7:2217"},
        {"tcp://[::1]:7000", "tcp://[::1]:7000"},
        {"tcp://box_3.site-a:1", "tcp://box_3.site-a:1"},
        {"tcp://host:0", nullptr},
        {"tcp://host:65536", nullptr},
        {"tcp://host", nullptr},
        {"telnet://host:23", nullptr},
        {"/dev/ttyS0", nullptr},
        {"tcp://a,b:1", nullptr},
        {"tcp://a b:1", nullptr},
        {"tcp://[fe80::1%eth0]:1", nullptr},
        {"tcp://user@host:1", nullptr},
        {"", nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.typed);
        const auto canonical = NetworkModemList::canonical(c.typed);
        ASSERT_EQ(canonical.has_value(), c.canonical != nullptr);
        if (c.canonical) {
            EXPECT_EQ(*canonical, c.canonical);
        }
    }

    NetworkModemList list;
    using R = NetworkModemList::AddResult;
    EXPECT_EQ(list.add("tcp://a:1"), R::Added);
    EXPECT_EQ(list.add("rfc2217://[::1]:2217"), R::Added);
    EXPECT_EQ(list.add("TCP://a:1/"), R::Listed);
    EXPECT_EQ(list.add("tcp://a"), R::Invalid);
    EXPECT_EQ(list.toText(), "tcp://a:1, rfc2217://[::1]:2217");
    EXPECT_EQ(NetworkModemList::fromText(list.toText()), list);
    EXPECT_FALSE(list.remove(2));
    EXPECT_TRUE(list.remove(0));
    EXPECT_EQ(list.entries(), std::vector<std::string>{"rfc2217://[::1]:2217"});

    // A damaged or hand-edited value: bad entries and repeats go, the rest stays in order.
    EXPECT_EQ(NetworkModemList::fromText("tcp://b:2,,garbage tcp://b:2\ttcp://c:3:4 rfc2217://d:5").entries(),
              (std::vector<std::string>{"tcp://b:2", "rfc2217://d:5"}));
    std::string many;
    for (int port = 1; port <= 100; ++port)
        many += "tcp://h:" + std::to_string(port) + " ";
    NetworkModemList full = NetworkModemList::fromText(many);
    EXPECT_EQ(full.entries().size(), NetworkModemList::kMaxEntries);
    EXPECT_EQ(full.add("tcp://other:1"), R::Full);
}

class SelectModemNetworkTest : public ::testing::Test {
protected:
    QLineEdit* Edit(QWidget& dialog) { return dialog.findChild<QLineEdit*>("edit1011"); }
    QStringList Listed(QWidget& dialog) {
        QStringList rows;
        auto* list = dialog.findChild<QListWidget*>("list1010");
        for (int row = 0; list && row < list->count(); ++row)
            rows << list->item(row)->text();
        return rows;
    }
    std::string stored() {
        return store.profileText(NetworkModemList::kSection, NetworkModemList::kValueName, "<none>");
    }

    TempDir dir;
    RegistryStore user{dir.file("user.sqlite")};
    RegistryStore machine{dir.file("machine.sqlite")};
    AppStore store{user, machine};
    ScriptedDialogService dialogs;
};

TEST_F(SelectModemNetworkTest, AddsAndRemovesCheckedEntriesAndStoresThemOnlyOnSelect) {
    ASSERT_TRUE(store.setProfileText("Setting", "NetworkModems", "tcp://ser2net.lan:4001"));
    {
        SelectModemDialog dialog({"ttyS0"}, 0, nullptr);
        dialog.enableNetworkModems(store, dialogs);
        EXPECT_EQ(Listed(dialog), QStringList{"tcp://ser2net.lan:4001"});

        for (const char* bad : {"ser2net.lan:4001", "tcp://ser2net.lan:99999"}) {
            Edit(dialog)->setText(bad);
            Button(dialog, 1012)->click();
        }
        Edit(dialog)->setText("TCP://ser2net.lan:4001");
        Button(dialog, 1012)->click();
        EXPECT_EQ(dialogs.shownTexts(),
                  (QStringList{loadString(IDP_NETWORK_MODEM_INVALID), loadString(IDP_NETWORK_MODEM_INVALID),
                               loadString(IDP_NETWORK_MODEM_LISTED)}));
        EXPECT_EQ(Edit(dialog)->text(), "TCP://ser2net.lan:4001"); // kept for correcting

        Edit(dialog)->setText(" rfc2217://10.1.2.3:2217 ");
        Button(dialog, 1012)->click();
        EXPECT_EQ(Edit(dialog)->text(), "");
        EXPECT_EQ(Listed(dialog), (QStringList{"tcp://ser2net.lan:4001", "rfc2217://10.1.2.3:2217"}));
        dialog.findChild<QListWidget*>("list1010")->setCurrentRow(0);
        Button(dialog, 1013)->click();
        EXPECT_EQ(Listed(dialog), QStringList{"rfc2217://10.1.2.3:2217"});

        Button(dialog, 2)->click(); // Cancel forgets it all
        EXPECT_EQ(stored(), "tcp://ser2net.lan:4001");
    }
    // With no device to choose, Select still keeps the list (the first network modem).
    SelectModemDialog empty({}, -1, nullptr);
    empty.enableNetworkModems(store, dialogs);
    Edit(empty)->setText("tcp://127.0.0.1:7000");
    Button(empty, 1012)->click();
    Button(empty, 1)->click();
    EXPECT_EQ(empty.result(), QDialog::Rejected);
    EXPECT_EQ(stored(), "tcp://ser2net.lan:4001, tcp://127.0.0.1:7000");

    // Without EnableNetworkModems the dialog is the plain device choice.
    SelectModemDialog plain({"A"}, 0, nullptr);
    EXPECT_FALSE(plain.findChild<QListWidget*>("list1010")->isVisibleTo(&plain));
    Button(plain, 1)->click();
    EXPECT_EQ(stored(), "tcp://ser2net.lan:4001, tcp://127.0.0.1:7000");
}

// ---- Channel choice ----

TEST(ChannelChoiceDialogTest, ListsSortedLabelsSelectsTheFirstAndReturnsItsNumber) {
    ChannelTable table;
    table.replace({{12, "Gate"}, {3, "Yard"}, {120, "Dock"}});
    ChannelChoiceDialog dialog(table);
    EXPECT_EQ(dialog.windowTitle(), "Open local site video channel");
    auto* list = dialog.findChild<QComboBox*>("combo1");
    ASSERT_EQ(list->count(), 3);
    EXPECT_EQ(list->itemText(0), "0003 Yard");
    EXPECT_EQ(list->itemText(1), "0012 Gate");
    EXPECT_EQ(list->itemText(2), "0120 Dock");
    EXPECT_EQ(Button(dialog, 1)->text(), "&Open");
    EXPECT_EQ(dialog.channel(), 3);
    list->setCurrentIndex(2);
    Button(dialog, 1)->click();
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(dialog.channel(), 120);

    ChannelChoiceDialog none{ChannelTable{}};
    EXPECT_EQ(none.channel(), 0);
}

// ---- Remote control ----

TEST(RemoteControlDialogTest, EachButtonClosesWithItsChoiceAndExitOrEscapeWithNone) {
    const struct {
        int id;
        const char* text;
        RemoteChoice choice;
    } buttons[] = {
        {1077, "&A. Close remote site.", RemoteChoice::CloseSite},
        {1078, "&B. Reboot remote site.", RemoteChoice::RebootSite},
        {1079, "&C. Execute extra program.", RemoteChoice::RunProgram},
        {1, "&Q.Exit", RemoteChoice::None},
    };
    for (const auto& b : buttons) {
        RemoteControlDialog dialog;
        dialog.show();
        EXPECT_EQ(Button(dialog, b.id)->text(), b.text);
        Button(dialog, b.id)->click();
        EXPECT_FALSE(dialog.isVisible()) << b.id;
        EXPECT_EQ(dialog.choice(), b.choice) << b.id;
        EXPECT_EQ(dialog.result(), int(b.choice)) << b.id;
    }
    RemoteControlDialog dialog;
    dialog.show();
    EXPECT_TRUE(Button(dialog, 1)->isDefault());
    QTest::keyClick(&dialog, Qt::Key_Escape);
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(dialog.choice(), RemoteChoice::None);
}

TEST(RemoteControlDialogTest, CommandLineStartsEmptyOffersSortedPresetsAndTakesFiftyCharacters) {
    CommandDialog dialog;
    auto* command = dialog.findChild<QComboBox*>("combo1080");
    ASSERT_NE(command, nullptr);
    EXPECT_TRUE(command->isEditable());
    ASSERT_EQ(command->count(), 2);
    EXPECT_EQ(command->itemText(0), "zb-hsr");
    EXPECT_EQ(command->itemText(1), "zb-qdm");
    EXPECT_EQ(dialog.commandLine(), "");
    command->setCurrentIndex(1);
    EXPECT_EQ(dialog.commandLine(), "zb-qdm");
    command->lineEdit()->clear();
    QTest::keyClicks(command->lineEdit(), QString(60, QLatin1Char('x')));
    EXPECT_EQ(dialog.commandLine().size(), 50);
}

class RemoteControlCommandTest : public ::testing::Test {
protected:
    RemoteControlPrompts prompts(RemoteChoice choice, std::optional<QString> line = std::nullopt) {
        return {[this, choice] {
                    ++chooseCalls;
                    return choice;
                },
                [line] {
                    return line;
                }};
    }
    std::vector<OutboundPacket> sent() const { return splitOutbound(queue.bytes()); }

    RecordingQueue queue;
    int chooseCalls = 0;
};

TEST_F(RemoteControlCommandTest, DoesNothingWithoutAConnectionOrAPort) {
    EXPECT_FALSE(runRemoteControl(false, &queue, prompts(RemoteChoice::CloseSite)));
    EXPECT_FALSE(runRemoteControl(true, nullptr, prompts(RemoteChoice::CloseSite)));
    EXPECT_EQ(chooseCalls, 0); // not even the dialog
    EXPECT_TRUE(queue.blocks.empty());
}

TEST_F(RemoteControlCommandTest, SendsOnePacketPerChoice) {
    EXPECT_TRUE(runRemoteControl(true, &queue, prompts(RemoteChoice::CloseSite)));
    EXPECT_TRUE(runRemoteControl(true, &queue, prompts(RemoteChoice::RebootSite)));
    EXPECT_FALSE(runRemoteControl(true, &queue, prompts(RemoteChoice::None)));
    EXPECT_FALSE(
        runRemoteControl(true, &queue, prompts(RemoteChoice::RunProgram, std::nullopt))); // cancelled
    EXPECT_TRUE(runRemoteControl(true, &queue, prompts(RemoteChoice::RunProgram, QString())));
    EXPECT_TRUE(
        runRemoteControl(true, &queue, prompts(RemoteChoice::RunProgram, QString(50, QLatin1Char('c')))));
    const auto sent = this->sent();
    ASSERT_EQ(sent.size(), 4u);
    EXPECT_EQ(sent[0].type, 20);
    EXPECT_TRUE(sent[0].payload.empty());
    EXPECT_EQ(sent[1].type, 21);
    EXPECT_EQ(sent[2].type, 22);
    EXPECT_EQ(sent[2].payload.size(), 0u);
    EXPECT_EQ(sent[3].type, 22);
    ASSERT_EQ(sent[3].payload.size(), 51u);
    EXPECT_EQ(sent[3].payload[49], 'c');
    EXPECT_EQ(sent[3].payload[50], 0);
}

TEST_F(RemoteControlCommandTest, DialogsRunInTurnAndTheEnteredLineIsSent) {
    QTimer::singleShot(0, [] {
        auto* remote = QApplication::activeModalWidget();
        remote->findChild<QPushButton*>("button1079")->click();
        QTimer::singleShot(0, [] {
            auto* command = QApplication::activeModalWidget();
            auto* edit = command->findChild<QComboBox*>("combo1080")->lineEdit();
            QTest::keyClicks(edit, "zb-hsr -now");
            command->findChild<QPushButton*>("button1")->click();
        });
    });
    EXPECT_TRUE(RemoteControlDialog::run(nullptr, true, &queue));
    const auto sent = this->sent();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].type, 22);
    EXPECT_EQ(std::string(sent[0].payload.begin(), sent[0].payload.end()), std::string("zb-hsr -now\0", 12));
}

} // namespace
