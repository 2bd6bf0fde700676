#include "DoubleClick.h"
#include "ModalDriver.h"
#include "OptionsDialog.h"
#include "PasswordCommands.h"
#include "PasswordDialog.h"
#include "RecordPathDialog.h"
#include "ScriptedDialogService.h"
#include "SettingsCommands.h"
#include "SetupPasswordDialog.h"
#include "TempAppStore.h"

#include <QCheckBox>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QTest>
#include <QTreeWidget>
#include <gtest/gtest.h>

#include <filesystem>

namespace {

namespace fs = std::filesystem;

template <typename T> T* Find(QWidget* dialog, const char* name) {
    T* child = dialog->findChild<T*>(QString::fromLatin1(name));
    EXPECT_NE(child, nullptr) << name;
    return child;
}

QLineEdit* Edit(QWidget* dialog, int id) {
    return Find<QLineEdit>(dialog, QStringLiteral("edit%1").arg(id).toLatin1().constData());
}

// What the main window would do after the settings commands.
struct RecordingFollowUp : SettingsFollowUp {
    std::vector<std::pair<uint32_t, uint32_t>> diskWatch;
    int arranged = 0;
    int folderChanged = 0;
    void diskWatchChanged(uint32_t thresholdMB, uint32_t checkSeconds) override {
        diskWatch.emplace_back(thresholdMB, checkSeconds);
    }
    void arrangeWindows() override { ++arranged; }
    void recordFolderChanged() override { ++folderChanged; }
};

class SettingsDialogsTest : public ::testing::Test {
protected:
    TempAppStore m_temp;
    AppStore& m_store = m_temp.store();
    ScriptedDialogService m_dialogs;
};

// ---- Options ----

TEST_F(SettingsDialogsTest, OptionsOnAnEmptyStoreShowsTheDefaults) {
    OptionsDialog dialog(m_store, m_dialogs);
    EXPECT_EQ(dialog.windowTitle(), "Options");
    EXPECT_FALSE(Find<QCheckBox>(&dialog, "check1068")->isChecked());
    EXPECT_TRUE(Find<QCheckBox>(&dialog, "check1025")->isChecked());
    QLineEdit* lowSpace = Edit(&dialog, 1026);
    EXPECT_EQ(lowSpace->text(), "50");
    EXPECT_EQ(Edit(&dialog, 1027)->text(), "10");
    EXPECT_TRUE(lowSpace->alignment() & Qt::AlignRight);

    // Typing is limited to digits.
    lowSpace->clear();
    QTest::keyClicks(lowSpace, "4x-2 ");
    EXPECT_EQ(lowSpace->text(), "42");

    ClickButton(&dialog, 2);
    EXPECT_EQ(dialog.result(), QDialog::Rejected);
    EXPECT_EQ(m_store.GetSetting(AppStore::kLimitDiskSpace), -1) << "Cancel stores nothing";
}

TEST_F(SettingsDialogsTest, OptionsRefusesAnOutOfRangeThresholdUntilCorrected) {
    OptionsDialog dialog(m_store, m_dialogs);
    dialog.show();
    Find<QCheckBox>(&dialog, "check1025")->setChecked(false);
    Find<QCheckBox>(&dialog, "check1068")->setChecked(true);
    Edit(&dialog, 1026)->setText("10000");
    Edit(&dialog, 1027)->setText("0"); // also bad, but the threshold is checked first
    ClickButton(&dialog, 1);
    EXPECT_EQ(m_dialogs.shownTexts(), QStringList{"Please enter an integer between 0 and 9999."});
    EXPECT_EQ(m_dialogs.shown()[0].icon, MessageIcon::Exclamation);
    EXPECT_EQ(dialog.focusWidget(), Edit(&dialog, 1026));
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_EQ(m_store.GetSetting(AppStore::kVideoArrange), -1);
    EXPECT_EQ(m_store.GetSetting(AppStore::kAutoRun), -1);

    Edit(&dialog, 1026)->setText("0");
    ClickButton(&dialog, 1);
    EXPECT_EQ(m_dialogs.shownTexts().last(), "Please enter an integer between 1 and 300.");
    EXPECT_EQ(dialog.focusWidget(), Edit(&dialog, 1027));
    EXPECT_TRUE(dialog.isVisible());

    Edit(&dialog, 1027)->setText("abc"); // pasted, not typed
    ClickButton(&dialog, 1);
    EXPECT_EQ(m_dialogs.shownTexts().last(), "Please enter a positive integer.");
    EXPECT_EQ(m_store.GetSetting(AppStore::kLimitDiskSpace), -1);

    Edit(&dialog, 1027)->setText("300");
    ClickButton(&dialog, 1);
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(m_dialogs.shown().size(), 3u);
    EXPECT_EQ(m_store.GetSetting(AppStore::kVideoArrange), 0);
    EXPECT_EQ(m_store.GetSetting(AppStore::kLimitDiskSpace), 0);
    EXPECT_EQ(m_store.GetSetting(AppStore::kCheckTimer), 300);
    EXPECT_EQ(m_store.GetSetting(AppStore::kAutoRun), 1);
    EXPECT_TRUE(fs::exists(m_temp.dir().file("config/autostart/dialscope.desktop")))
        << "auto run also installs the log-in start";
    EXPECT_EQ(dialog.values().lowSpaceMB, 0u);
    EXPECT_EQ(dialog.values().checkSeconds, 300u);
}

TEST_F(SettingsDialogsTest, OptionsCommandHandsTheNewValuesToTheMainWindow) {
    RecordingFollowUp followUp;
    ModalDriver driver;
    driver.then([](QDialog* d) {
        Edit(d, 1026)->setText("200");
        Edit(d, 1027)->setText("30");
        ClickButton(d, 1);
    });
    driver.then([](QDialog* d) {
        Find<QCheckBox>(d, "check1025")->setChecked(false);
        ClickButton(d, 1);
    });
    driver.then([](QDialog* d) { ClickButton(d, 2); });

    EXPECT_TRUE(RunOptionsCommand(nullptr, m_store, m_dialogs, followUp));
    EXPECT_EQ(followUp.diskWatch, (std::vector<std::pair<uint32_t, uint32_t>>{{200, 30}}));
    EXPECT_EQ(followUp.arranged, 1) << "arrangement reads on";

    EXPECT_TRUE(RunOptionsCommand(nullptr, m_store, m_dialogs, followUp));
    EXPECT_EQ(followUp.diskWatch.size(), 2u);
    EXPECT_EQ(followUp.arranged, 1) << "arrangement now off";

    EXPECT_FALSE(RunOptionsCommand(nullptr, m_store, m_dialogs, followUp));
    EXPECT_EQ(followUp.diskWatch.size(), 2u);
    EXPECT_TRUE(driver.done());
}

// ---- Record path ----

class RecordPathTest : public SettingsDialogsTest {
protected:
    // A volume with Clips/Day1, Clips/Day2 and Other/Deep.
    void SetUp() override {
        fs::create_directories(m_root + "/Clips/Day1");
        fs::create_directories(m_root + "/Clips/Day2");
        fs::create_directories(m_root + "/Other/Deep");
    }
    std::unique_ptr<RecordPathDialog> open() {
        return std::make_unique<RecordPathDialog>(m_store, nullptr, std::vector<Volume>{{m_root, false}});
    }
    QTreeWidgetItem* child(QTreeWidgetItem* item, const QString& text) {
        for (int i = 0; i < item->childCount(); ++i)
            if (item->child(i)->text(0) == text)
                return item->child(i);
        return nullptr;
    }

    TempDir m_volume;
    std::string m_root = m_volume.path();
};

TEST_F(RecordPathTest, OpensOnTheStoredFolderFillingTheWayThere) {
    m_store.SetRecordPath(m_root + "/Clips/Day1");
    auto dialog = open();
    QTreeWidget* tree = Find<QTreeWidget>(dialog.get(), "tree1029");
    QLabel* label = Find<QLabel>(dialog.get(), "label1081");
    EXPECT_EQ(label->text().toStdString(), m_root + "/Clips/Day1/");
    ASSERT_EQ(tree->topLevelItemCount(), 1);
    QTreeWidgetItem* root = tree->topLevelItem(0);
    EXPECT_EQ(root->text(0).toStdString(), m_root);
    ASSERT_EQ(root->childCount(), 2);
    QTreeWidgetItem* clips = child(root, "Clips");
    ASSERT_NE(clips, nullptr);
    EXPECT_EQ(clips->childCount(), 2);
    EXPECT_EQ(child(root, "Other")->childCount(), 0) << "folders off the path are not read";
    EXPECT_EQ(tree->currentItem(), child(clips, "Day1"));
    EXPECT_TRUE(clips->isExpanded());

    EXPECT_EQ(label->palette().color(QPalette::WindowText), QColor(255, 255, 0));
    EXPECT_EQ(label->palette().color(QPalette::Window), QColor(128, 128, 128));
}

TEST_F(RecordPathTest, OkStoresTheSelectedFolderAndCancelNothing) {
    m_store.SetRecordPath(m_root + "/Clips/Day1/");
    auto dialog = open();
    QTreeWidget* tree = Find<QTreeWidget>(dialog.get(), "tree1029");
    tree->setCurrentItem(child(tree->topLevelItem(0), "Other"));
    EXPECT_EQ(Find<QLabel>(dialog.get(), "label1081")->text().toStdString(), m_root + "/Other/");
    ClickButton(dialog.get(), 2);
    EXPECT_EQ(m_store.GetRecordPath(), m_root + "/Clips/Day1/");

    dialog = open();
    tree = Find<QTreeWidget>(dialog.get(), "tree1029");
    tree->setCurrentItem(child(tree->topLevelItem(0), "Other"));
    ClickButton(dialog.get(), 1);
    EXPECT_EQ(dialog->result(), QDialog::Accepted);
    EXPECT_EQ(m_store.GetRecordPath(), m_root + "/Other/");
    EXPECT_EQ(dialog->path(), m_root + "/Other/");
}

TEST_F(RecordPathTest, RightArrowAndDoubleClickReadAFolderOnlyWhenItHasNoChildren) {
    m_store.SetRecordPath(m_root + "/");
    auto dialog = open();
    dialog->show();
    QTreeWidget* tree = Find<QTreeWidget>(dialog.get(), "tree1029");
    QTreeWidgetItem* other = child(tree->topLevelItem(0), "Other");
    tree->setCurrentItem(other);
    ASSERT_EQ(other->childCount(), 0);
    QTest::keyClick(tree, Qt::Key_Right);
    ASSERT_EQ(other->childCount(), 1);
    EXPECT_EQ(other->child(0)->text(0), "Deep");
    EXPECT_TRUE(other->isExpanded());

    // Already filled: a folder created since is not picked up.
    fs::create_directory(m_root + "/Other/Later");
    QTest::keyClick(tree, Qt::Key_Right);
    EXPECT_EQ(other->childCount(), 1);

    QTreeWidgetItem* deep = other->child(0);
    fs::create_directory(m_root + "/Other/Deep/Inside");
    tree->setCurrentItem(deep);
    DoubleClick(tree, deep);
    ASSERT_EQ(deep->childCount(), 1);
    EXPECT_EQ(deep->child(0)->text(0), "Inside");
}

TEST_F(RecordPathTest, NetworkVolumesShowTheNetworkIcon) {
    RecordPathDialog dialog(m_store, nullptr, {{m_root, false}, {"/mnt/share", true}},
                            [](const std::string&) { return std::vector<std::string>{}; });
    QTreeWidget* tree = Find<QTreeWidget>(&dialog, "tree1029");
    ASSERT_EQ(tree->topLevelItemCount(), 2);
    auto image = [](const QIcon& icon) {
        return icon.pixmap(16, 16).toImage();
    };
    EXPECT_EQ(image(tree->topLevelItem(1)->icon(0)), image(QIcon(":/images/drive_network.png")));
    EXPECT_EQ(image(tree->topLevelItem(0)->icon(0)), image(QIcon(":/images/drive_local.png")));
    EXPECT_FALSE(image(QIcon(":/images/drive_network.png")).isNull());
}

TEST_F(RecordPathTest, WithNothingSelectedOkKeepsTheFolderInUse) {
    m_store.SetRecordPath(m_root + "/Clips");
    RecordPathDialog dialog(m_store, nullptr, {{"/volume/not/holding/it", false}});
    EXPECT_EQ(Find<QLabel>(&dialog, "label1081")->text(), "Path");
    ClickButton(&dialog, 1);
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(m_store.GetRecordPath(), m_root + "/Clips/");
}

TEST_F(RecordPathTest, RecordPathCommandTellsTheMainWindowOnlyAfterOk) {
    RecordingFollowUp followUp;
    ModalDriver driver;
    driver.then([](QDialog* d) { ClickButton(d, 2); });
    driver.then([](QDialog* d) { ClickButton(d, 1); });
    EXPECT_FALSE(RunRecordPathCommand(nullptr, m_store, followUp));
    EXPECT_EQ(followUp.folderChanged, 0);
    EXPECT_TRUE(RunRecordPathCommand(nullptr, m_store, followUp));
    EXPECT_EQ(followUp.folderChanged, 1);
}

// ---- Passwords ----

TEST_F(SettingsDialogsTest, PasswordDialogAcceptsOnlyTheStoredPair) {
    m_store.SaveAppPassword("op", "secret");
    PasswordDialog dialog(m_store, m_dialogs);
    dialog.show();
    EXPECT_EQ(Edit(&dialog, 1021)->text(), "op");
    EXPECT_EQ(Edit(&dialog, 1022)->text(), "");
    EXPECT_EQ(Edit(&dialog, 1022)->echoMode(), QLineEdit::Password);
    EXPECT_EQ(Edit(&dialog, 1021)->maxLength(), 20);
    EXPECT_EQ(Edit(&dialog, 1022)->maxLength(), 20);

    for (const char* wrong : {"Secret", "secre", ""}) {
        Edit(&dialog, 1022)->setText(wrong);
        ClickButton(&dialog, 1);
        EXPECT_TRUE(dialog.isVisible()) << wrong;
        EXPECT_EQ(Edit(&dialog, 1022)->text(), wrong) << "typed texts stay";
        EXPECT_EQ(dialog.focusWidget(), Edit(&dialog, 1022));
    }
    EXPECT_EQ(m_dialogs.shownTexts(), QStringList(3, "\n\n Password is not correct! \n\n"));

    Edit(&dialog, 1021)->setText("OP");
    Edit(&dialog, 1022)->setText("secret");
    ClickButton(&dialog, 1);
    EXPECT_TRUE(dialog.isVisible()) << "the user name is compared exactly";
    Edit(&dialog, 1021)->setText("op");
    ClickButton(&dialog, 1);
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
}

TEST_F(SettingsDialogsTest, SetupPasswordRulesForUserNameAndConfirmation) {
    m_store.SaveAppPassword("op", "secret");
    SetupPasswordDialog dialog(m_store, m_dialogs);
    dialog.show();
    EXPECT_EQ(Edit(&dialog, 1021)->text(), "op");
    EXPECT_EQ(Edit(&dialog, 1022)->text(), "secret");
    EXPECT_EQ(Edit(&dialog, 1023)->text(), "secret");
    for (int id : {1021, 1022, 1023})
        EXPECT_EQ(Edit(&dialog, id)->maxLength(), 20) << id;
    EXPECT_EQ(Edit(&dialog, 1023)->echoMode(), QLineEdit::Password);

    Edit(&dialog, 1022)->setText("new");
    Edit(&dialog, 1023)->setText("New");
    ClickButton(&dialog, 1);
    EXPECT_EQ(m_dialogs.shownTexts(), QStringList{"\n\n Password is not correct! \n\n"});
    EXPECT_EQ(dialog.focusWidget(), Edit(&dialog, 1023));

    Edit(&dialog, 1021)->clear();
    Edit(&dialog, 1023)->setText("new");
    ClickButton(&dialog, 1);
    EXPECT_EQ(m_dialogs.shownTexts().last(), "\n\n Please input user name! \n\n");
    EXPECT_EQ(dialog.focusWidget(), Edit(&dialog, 1021));
    EXPECT_TRUE(m_store.CheckAppPassword("op", "secret")) << "nothing stored while refused";

    // A user name with an empty password is a valid protection.
    Edit(&dialog, 1021)->setText("guard");
    Edit(&dialog, 1022)->clear();
    Edit(&dialog, 1023)->clear();
    ClickButton(&dialog, 1);
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_TRUE(m_store.CheckAppPassword("guard", ""));
    EXPECT_FALSE(m_store.CheckAppPassword("", ""));
}

TEST_F(SettingsDialogsTest, ResetThenOkRemovesTheProtectionResetThenCancelKeepsIt) {
    m_store.SaveAppPassword("op", "secret");
    {
        SetupPasswordDialog dialog(m_store, m_dialogs);
        ClickButton(&dialog, 1073);
        for (int id : {1021, 1022, 1023})
            EXPECT_TRUE(Edit(&dialog, id)->text().isEmpty()) << id;
        EXPECT_TRUE(m_store.CheckAppPassword("op", "secret")) << "Reset alone stores nothing";
        ClickButton(&dialog, 2);
    }
    EXPECT_TRUE(m_store.CheckAppPassword("op", "secret"));
    {
        SetupPasswordDialog dialog(m_store, m_dialogs);
        ClickButton(&dialog, 1073);
        ClickButton(&dialog, 1);
        EXPECT_EQ(dialog.result(), QDialog::Accepted);
    }
    EXPECT_TRUE(m_store.CheckAppPassword("", ""));
    EXPECT_TRUE(m_dialogs.shown().empty());
    ModalDriver none;
    EXPECT_TRUE(StartupPasswordCheck(m_store, m_dialogs)) << "no prompt after the reset";
    EXPECT_TRUE(none.seen().isEmpty());
}

TEST_F(SettingsDialogsTest, SetupPasswordCommandWithoutStoredPasswordOpensTheSetupAtOnce) {
    ModalDriver driver;
    driver.then([](QDialog* d) {
        for (int id : {1021, 1022, 1023})
            EXPECT_TRUE(Edit(d, id)->text().isEmpty()) << id;
        Edit(d, 1021)->setText("op");
        Edit(d, 1022)->setText("pw");
        Edit(d, 1023)->setText("pw");
        ClickButton(d, 1);
    });
    EXPECT_TRUE(RunSetupPasswordCommand(nullptr, m_store, m_dialogs));
    EXPECT_EQ(driver.seen(), QStringList{"SetupPasswordDialog"});
    EXPECT_TRUE(m_store.CheckAppPassword("op", "pw"));
}

TEST_F(SettingsDialogsTest, SetupPasswordCommandAsksTheStoredPasswordFirst) {
    m_store.SaveAppPassword("op", "pw");
    ModalDriver driver;
    driver.then([](QDialog* d) { ClickButton(d, 2); });
    EXPECT_FALSE(RunSetupPasswordCommand(nullptr, m_store, m_dialogs));
    EXPECT_EQ(driver.seen(), QStringList{"PasswordDialog"});
    EXPECT_TRUE(m_store.CheckAppPassword("op", "pw")) << "Cancel at the prompt changes nothing";

    driver.then([](QDialog* d) {
        Edit(d, 1022)->setText("pw");
        ClickButton(d, 1);
    });
    driver.then([](QDialog* d) {
        EXPECT_EQ(Edit(d, 1022)->text(), "pw");
        Edit(d, 1022)->setText("pw2");
        Edit(d, 1023)->setText("pw2");
        ClickButton(d, 1);
    });
    EXPECT_TRUE(RunSetupPasswordCommand(nullptr, m_store, m_dialogs));
    EXPECT_EQ(driver.seen(), (QStringList{"PasswordDialog", "PasswordDialog", "SetupPasswordDialog"}));
    EXPECT_TRUE(m_store.CheckAppPassword("op", "pw2"));
}

TEST_F(SettingsDialogsTest, StartupCheckPassesOnlyWithTheStoredPair) {
    m_store.SaveAppPassword("guard", "");
    ModalDriver driver;
    driver.then([this](QDialog* d) {
        EXPECT_EQ(d->parentWidget(), nullptr) << "no window exists yet";
        Edit(d, 1022)->setText("x");
        ClickButton(d, 1);
        EXPECT_TRUE(d->isVisible());
        Edit(d, 1022)->clear();
        ClickButton(d, 1);
        EXPECT_EQ(m_dialogs.shown().size(), 1u);
    });
    EXPECT_TRUE(StartupPasswordCheck(m_store, m_dialogs));
    driver.then([](QDialog* d) { ClickButton(d, 2); });
    EXPECT_FALSE(StartupPasswordCheck(m_store, m_dialogs));
}

} // namespace
