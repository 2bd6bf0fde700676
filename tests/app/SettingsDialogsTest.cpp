#include "app/ui/OptionsDialog.h"
#include "app/ui/PasswordCommands.h"
#include "app/ui/PasswordDialog.h"
#include "app/ui/RecordPathDialog.h"
#include "app/ui/SettingsCommands.h"
#include "app/ui/SetupPasswordDialog.h"
#include "platform/dialogs/ScriptedDialogService.h"
#include "platform/registry/RegistryStore.h"
#include "tests/app/DoubleClick.h"
#include "tests/app/TempAppStore.h"
#include "tests/support/ModalDriver.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <gtest/gtest.h>

#include <filesystem>

namespace {

namespace fs = std::filesystem;

QLineEdit* Edit(QWidget* dialog, int id) {
    return dialog->findChild<QLineEdit*>(QStringLiteral("edit%1").arg(id));
}
QCheckBox* Check(QWidget* dialog, int id) {
    return dialog->findChild<QCheckBox*>(QStringLiteral("check%1").arg(id));
}
void Type(QWidget* dialog, int id, const QString& text) {
    Edit(dialog, id)->setText(text);
}

// What the main window does after the settings commands.
struct RecordingFollowUp : SettingsFollowUp {
    std::vector<std::pair<uint32_t, uint32_t>> diskWatch;
    int arranged = 0;
    int folderChanged = 0;
    void diskWatchChanged(uint32_t mb, uint32_t seconds) override { diskWatch.emplace_back(mb, seconds); }
    void arrangeWindows() override { ++arranged; }
    void recordFolderChanged() override { ++folderChanged; }
};

class SettingsDialogsTest : public ::testing::Test {
protected:
    TempAppStore m_temp;
    AppStore& m_store = m_temp.store();
    ScriptedDialogService m_dialogs;
};

TEST_F(SettingsDialogsTest, OptionsOnAnEmptyStoreShowsTheDefaultsAndTakesDigitsOnly) {
    OptionsDialog dialog(m_store, m_dialogs);
    EXPECT_FALSE(Check(&dialog, 1068)->isChecked());
    EXPECT_TRUE(Check(&dialog, 1025)->isChecked());
    EXPECT_EQ(Edit(&dialog, 1026)->text(), "50");
    EXPECT_EQ(Edit(&dialog, 1027)->text(), "10");
    EXPECT_TRUE(Edit(&dialog, 1026)->alignment() & Qt::AlignRight);
    Edit(&dialog, 1026)->clear();
    QTest::keyClicks(Edit(&dialog, 1026), "4x-2 ");
    EXPECT_EQ(Edit(&dialog, 1026)->text(), "42");
    clickButton(&dialog, 2);
    EXPECT_EQ(m_store.GetSetting(AppStore::kLimitDiskSpace), -1) << "Cancel stores nothing";
}

TEST_F(SettingsDialogsTest, OptionsStoresNothingUntilEveryNumberIsValid) {
    OptionsDialog dialog(m_store, m_dialogs);
    dialog.show();
    Check(&dialog, 1025)->setChecked(false);
    Check(&dialog, 1068)->setChecked(true);
    Type(&dialog, 1026, "10000");
    Type(&dialog, 1027, "0"); // also bad, but the threshold is checked first
    clickButton(&dialog, 1);
    EXPECT_EQ(m_dialogs.shownTexts(), QStringList{"Please enter an integer between 0 and 9999."});
    EXPECT_EQ(m_dialogs.shown()[0].icon, MessageIcon::Exclamation);
    EXPECT_EQ(dialog.focusWidget(), Edit(&dialog, 1026));

    Type(&dialog, 1026, "0");
    clickButton(&dialog, 1);
    EXPECT_EQ(m_dialogs.shownTexts().last(), "Please enter an integer between 1 and 300.");
    EXPECT_EQ(dialog.focusWidget(), Edit(&dialog, 1027));
    Type(&dialog, 1027, "abc"); // pasted, not typed
    clickButton(&dialog, 1);
    EXPECT_EQ(m_dialogs.shownTexts().last(), "Please enter a positive integer.");
    EXPECT_TRUE(dialog.isVisible());
    for (int id : {AppStore::kVideoArrange, AppStore::kLimitDiskSpace, AppStore::kAutoRun})
        EXPECT_EQ(m_store.GetSetting(id), -1) << id;

    Type(&dialog, 1027, "300");
    clickButton(&dialog, 1);
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(m_store.GetSetting(AppStore::kVideoArrange), 0);
    EXPECT_EQ(m_store.GetSetting(AppStore::kLimitDiskSpace), 0);
    EXPECT_EQ(m_store.GetSetting(AppStore::kCheckTimer), 300);
    EXPECT_EQ(m_store.GetSetting(AppStore::kAutoRun), 1);
    EXPECT_TRUE(fs::exists(m_temp.dir().file("config/autostart/dialscope.desktop")))
        << "log-in start installed";
}

TEST_F(SettingsDialogsTest, OptionsCommandHandsTheNewValuesToTheMainWindowAfterOkOnly) {
    RecordingFollowUp followUp;
    ModalDriver driver;
    driver.then([](QDialog* d) {
        Type(d, 1026, "200");
        Type(d, 1027, "30");
        clickButton(d, 1);
    });
    driver.then([](QDialog* d) {
        Check(d, 1025)->setChecked(false);
        clickButton(d, 1);
    });
    driver.then([](QDialog* d) { clickButton(d, 2); });
    EXPECT_TRUE(runOptionsCommand(nullptr, m_store, m_dialogs, followUp));
    EXPECT_EQ(followUp.arranged, 1) << "arrangement reads on";
    EXPECT_TRUE(runOptionsCommand(nullptr, m_store, m_dialogs, followUp));
    EXPECT_EQ(followUp.arranged, 1) << "arrangement now off";
    EXPECT_FALSE(runOptionsCommand(nullptr, m_store, m_dialogs, followUp));
    EXPECT_EQ(followUp.diskWatch, (std::vector<std::pair<uint32_t, uint32_t>>{{200, 30}, {200, 30}}));
}

// A volume holding Clips/Day1, Clips/Day2 and Other/Deep.
class RecordPathTest : public SettingsDialogsTest {
protected:
    void SetUp() override {
        for (const char* folder : {"/Clips/Day1", "/Clips/Day2", "/Other/Deep"})
            fs::create_directories(m_root + folder);
    }
    std::unique_ptr<RecordPathDialog> open() {
        auto dialog =
            std::make_unique<RecordPathDialog>(m_store, nullptr, std::vector<Volume>{{m_root, false}});
        m_tree = dialog->findChild<QTreeWidget*>("tree1029");
        m_label = dialog->findChild<QLabel*>("label1081");
        return dialog;
    }
    QTreeWidgetItem* item(QTreeWidgetItem* parent, const QString& text) {
        for (int i = 0; parent && i < parent->childCount(); ++i)
            if (parent->child(i)->text(0) == text)
                return parent->child(i);
        return nullptr;
    }

    TempDir m_volume;
    std::string m_root = m_volume.path();
    QTreeWidget* m_tree = nullptr;
    QLabel* m_label = nullptr;
};

TEST_F(RecordPathTest, OpensOnTheStoredFolderFillingOnlyTheWayThere) {
    m_store.SetRecordPath(m_root + "/Clips/Day1");
    auto dialog = open();
    EXPECT_EQ(m_label->text().toStdString(), m_root + "/Clips/Day1/");
    ASSERT_EQ(m_tree->topLevelItemCount(), 1);
    QTreeWidgetItem* clips = item(m_tree->topLevelItem(0), "Clips");
    ASSERT_NE(clips, nullptr);
    EXPECT_EQ(clips->childCount(), 2);
    EXPECT_EQ(item(m_tree->topLevelItem(0), "Other")->childCount(), 0) << "folders off the path are not read";
    EXPECT_EQ(m_tree->currentItem(), item(clips, "Day1"));
    EXPECT_TRUE(clips->isExpanded());
    EXPECT_EQ(m_label->palette().color(QPalette::WindowText), QColor(255, 255, 0));
    EXPECT_EQ(m_label->palette().color(QPalette::Window), QColor(128, 128, 128));
}

TEST_F(RecordPathTest, OkStoresTheSelectedFolderAndTheCommandTellsTheMainWindow) {
    m_store.SetRecordPath(m_root + "/Clips/Day1/");
    RecordingFollowUp followUp;
    ModalDriver driver;
    driver.then([this](QDialog* d) {
        auto* tree = d->findChild<QTreeWidget*>("tree1029");
        tree->setCurrentItem(item(tree->topLevelItem(0), "Other"));
        clickButton(d, 2);
    });
    EXPECT_FALSE(runRecordPathCommand(nullptr, m_store, followUp));
    EXPECT_EQ(m_store.GetRecordPath(), m_root + "/Clips/Day1/");
    EXPECT_EQ(followUp.folderChanged, 0);

    auto dialog = open();
    m_tree->setCurrentItem(item(m_tree->topLevelItem(0), "Other"));
    EXPECT_EQ(m_label->text().toStdString(), m_root + "/Other/");
    clickButton(dialog.get(), 1);
    EXPECT_EQ(m_store.GetRecordPath(), m_root + "/Other/");

    // A folder name that is not UTF-8 is stored byte for byte.
    std::string latin1 = m_root + "/Caf\xe9/";
    fs::create_directory(latin1);
    m_store.SetRecordPath(latin1);
    dialog = open();
    clickButton(dialog.get(), 1);
    EXPECT_EQ(m_store.GetRecordPath(), latin1);
}

TEST_F(RecordPathTest, AFolderTooLongForTheClipIndexIsRefusedAndSaid) {
    m_store.SetRecordPath(m_root + "/Clips/Day1/");
    std::string deep = m_root;
    while (deep.size() < 262)
        deep += "/" + std::string(60, 'n');
    fs::create_directories(deep);
    ScriptedDialogService dialogs;
    auto dialog = open();
    dialog->setDialogs(&dialogs);
    dialog->show();
    // Fill the tree down to the deep folder and select it.
    QTreeWidgetItem* node = m_tree->topLevelItem(0);
    for (size_t from = m_root.size() + 1; node && from < deep.size();) {
        const size_t to = std::min(deep.find('/', from), deep.size());
        m_tree->setCurrentItem(node);
        QTest::keyClick(m_tree, Qt::Key_Right);
        node = item(node, QString::fromStdString(deep.substr(from, to - from)));
        from = to + 1;
    }
    ASSERT_NE(node, nullptr);
    m_tree->setCurrentItem(node);
    clickButton(dialog.get(), 1);
    EXPECT_EQ(dialogs.shownTexts(), QStringList{"\n\n Record path is too long! \n\n"});
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_EQ(m_store.GetRecordPath(), m_root + "/Clips/Day1/");
}

TEST_F(RecordPathTest, RightArrowAndDoubleClickReadAFolderOnlyWhileItHasNoChildren) {
    m_store.SetRecordPath(m_root + "/");
    auto dialog = open();
    dialog->show();
    QTreeWidgetItem* other = item(m_tree->topLevelItem(0), "Other");
    m_tree->setCurrentItem(other);
    QTest::keyClick(m_tree, Qt::Key_Right);
    ASSERT_EQ(other->childCount(), 1);
    EXPECT_TRUE(other->isExpanded());
    fs::create_directory(m_root + "/Other/Later");
    QTest::keyClick(m_tree, Qt::Key_Right);
    EXPECT_EQ(other->childCount(), 1) << "a filled folder is not read again";

    fs::create_directory(m_root + "/Other/Deep/Inside");
    doubleClick(m_tree, other->child(0));
    ASSERT_EQ(other->child(0)->childCount(), 1);
    EXPECT_EQ(other->child(0)->child(0)->text(0), "Inside");
}

TEST_F(RecordPathTest, NetworkVolumesShowTheNetworkIconAndNoSelectionKeepsTheFolder) {
    m_store.SetRecordPath(m_root + "/Clips");
    RecordPathDialog dialog(m_store, nullptr, {{"/not/holding/it", false}, {"/mnt/share", true}},
                            [](const std::string&) { return std::vector<std::string>{}; });
    auto* tree = dialog.findChild<QTreeWidget*>("tree1029");
    auto image = [](const QIcon& icon) {
        return icon.pixmap(16, 16).toImage();
    };
    EXPECT_FALSE(image(QIcon(":/images/drive_network.png")).isNull());
    EXPECT_EQ(image(tree->topLevelItem(1)->icon(0)), image(QIcon(":/images/drive_network.png")));
    EXPECT_EQ(image(tree->topLevelItem(0)->icon(0)), image(QIcon(":/images/drive_local.png")));

    EXPECT_EQ(dialog.findChild<QLabel*>("label1081")->text(), "Path");
    clickButton(&dialog, 1);
    EXPECT_EQ(m_store.GetRecordPath(), m_root + "/Clips/");
}

TEST_F(SettingsDialogsTest, PasswordDialogAcceptsOnlyTheStoredPairExactly) {
    m_store.SaveAppPassword("op", "secret");
    PasswordDialog dialog(m_store, m_dialogs);
    dialog.show();
    EXPECT_EQ(Edit(&dialog, 1021)->text(), "op");
    EXPECT_EQ(Edit(&dialog, 1022)->echoMode(), QLineEdit::Password);
    EXPECT_EQ(Edit(&dialog, 1022)->maxLength(), 20);
    for (auto [user, password] : {std::pair{"op", "Secret"}, {"op", ""}, {"OP", "secret"}}) {
        Type(&dialog, 1021, user);
        Type(&dialog, 1022, password);
        clickButton(&dialog, 1);
        EXPECT_TRUE(dialog.isVisible()) << user << " " << password;
        EXPECT_EQ(Edit(&dialog, 1022)->text(), password) << "typed texts stay";
        EXPECT_EQ(dialog.focusWidget(), Edit(&dialog, 1022));
    }
    EXPECT_EQ(m_dialogs.shownTexts(), QStringList(3, "\n\n Password is not correct! \n\n"));
    Type(&dialog, 1021, "op");
    Type(&dialog, 1022, "secret");
    clickButton(&dialog, 1);
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
}

TEST_F(SettingsDialogsTest, SetupPasswordRefusesMismatchAndMissingUserName) {
    m_store.SaveAppPassword("op", "secret");
    SetupPasswordDialog dialog(m_store, m_dialogs);
    dialog.show();
    EXPECT_EQ(Edit(&dialog, 1022)->text(), "secret");
    EXPECT_EQ(Edit(&dialog, 1023)->text(), "secret");
    EXPECT_EQ(Edit(&dialog, 1023)->maxLength(), 20);

    Type(&dialog, 1022, "new");
    Type(&dialog, 1023, "New");
    clickButton(&dialog, 1);
    EXPECT_EQ(m_dialogs.shownTexts().last(), "\n\n Password is not correct! \n\n");
    EXPECT_EQ(dialog.focusWidget(), Edit(&dialog, 1023));
    Type(&dialog, 1021, "");
    Type(&dialog, 1023, "new");
    clickButton(&dialog, 1);
    EXPECT_EQ(m_dialogs.shownTexts().last(), "\n\n Please input user name! \n\n");
    EXPECT_EQ(dialog.focusWidget(), Edit(&dialog, 1021));
    EXPECT_TRUE(m_store.CheckAppPassword("op", "secret")) << "nothing stored while refused";

    // A user name with an empty password is a valid protection.
    Type(&dialog, 1021, "guard");
    Type(&dialog, 1022, "");
    Type(&dialog, 1023, "");
    clickButton(&dialog, 1);
    EXPECT_TRUE(m_store.CheckAppPassword("guard", ""));
    ModalDriver driver;
    driver.then([](QDialog* d) { clickButton(d, 2); });
    EXPECT_FALSE(StartupPasswordCheck(m_store, m_dialogs))
        << "the start-up prompt appears and Cancel fails it";
    EXPECT_EQ(driver.seen(), QStringList{"PasswordDialog"});
}

// A store that refuses every write (here: a folder where the file should
// be): the start-up password and the options are not taken for saved.
TEST_F(SettingsDialogsTest, ARefusedSaveIsSaidAndTheDialogStaysOpen) {
    RegistryStore refusing(m_temp.dir().path());
    AppStore store(refusing, refusing);
    const QString notSaved = "\n\n Save settings error! \n\n";

    SetupPasswordDialog password(store, m_dialogs);
    password.show();
    Type(&password, 1021, "op");
    Type(&password, 1022, "secret");
    Type(&password, 1023, "secret");
    clickButton(&password, 1);
    EXPECT_EQ(m_dialogs.shownTexts(), QStringList{notSaved});
    EXPECT_TRUE(password.isVisible());
    EXPECT_NE(password.result(), QDialog::Accepted);

    OptionsDialog options(store, m_dialogs);
    options.show();
    clickButton(&options, 1);
    EXPECT_EQ(m_dialogs.shownTexts(), (QStringList{notSaved, notSaved}));
    EXPECT_TRUE(options.isVisible());
}

TEST_F(SettingsDialogsTest, ResetThenCancelKeepsTheProtectionResetThenOkRemovesIt) {
    m_store.SaveAppPassword("op", "secret");
    for (int button : {2, 1}) {
        SetupPasswordDialog dialog(m_store, m_dialogs);
        clickButton(&dialog, 1073);
        for (int id : {1021, 1022, 1023})
            EXPECT_TRUE(Edit(&dialog, id)->text().isEmpty()) << id;
        EXPECT_TRUE(m_store.CheckAppPassword("op", "secret")) << "Reset alone stores nothing";
        clickButton(&dialog, button);
    }
    EXPECT_TRUE(m_store.CheckAppPassword("", ""));
    ModalDriver none;
    EXPECT_TRUE(StartupPasswordCheck(m_store, m_dialogs)) << "no prompt after the reset";
    EXPECT_TRUE(none.seen().isEmpty());
}

TEST_F(SettingsDialogsTest, SetupPasswordCommandAsksForAStoredPasswordFirst) {
    ModalDriver driver;
    driver.then([](QDialog* d) {
        EXPECT_TRUE(Edit(d, 1021)->text().isEmpty());
        Type(d, 1021, "op");
        Type(d, 1022, "pw");
        Type(d, 1023, "pw");
        clickButton(d, 1);
    });
    driver.then([](QDialog* d) { clickButton(d, 2); });
    driver.then([](QDialog* d) {
        Type(d, 1022, "pw");
        clickButton(d, 1);
    });
    driver.then([](QDialog* d) {
        Type(d, 1022, "pw2");
        Type(d, 1023, "pw2");
        clickButton(d, 1);
    });
    EXPECT_TRUE(runSetupPasswordCommand(nullptr, m_store, m_dialogs)) << "nothing stored: set-up at once";
    EXPECT_FALSE(runSetupPasswordCommand(nullptr, m_store, m_dialogs));
    EXPECT_TRUE(m_store.CheckAppPassword("op", "pw")) << "Cancel at the prompt changes nothing";
    EXPECT_TRUE(runSetupPasswordCommand(nullptr, m_store, m_dialogs));
    EXPECT_EQ(driver.seen(), (QStringList{"SetupPasswordDialog", "PasswordDialog", "PasswordDialog",
                                          "SetupPasswordDialog"}));
    EXPECT_TRUE(m_store.CheckAppPassword("op", "pw2"));
}

} // namespace
