// Screenshot mode: with DIALSCOPE_SCREENSHOT_DIR set, opens the settings
// dialogs with sample data and saves pictures of them there (for the docs);
// otherwise skipped.
#include "OptionsDialog.h"
#include "PhoneBookDialog.h"
#include "RecordPathDialog.h"
#include "ScriptedDialogService.h"
#include "TempAppStore.h"

#include <QTreeWidget>
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

namespace {

void Save(QWidget* dialog, const char* dir, const char* name) {
    dialog->show();
    QString file = QStringLiteral("%1/%2.png").arg(QString::fromLocal8Bit(dir), QLatin1String(name));
    EXPECT_TRUE(dialog->grab().save(file)) << file.toStdString();
}

TEST(Screenshots, SettingsDialogs) {
    const char* dir = std::getenv("DIALSCOPE_SCREENSHOT_DIR");
    if (!dir)
        GTEST_SKIP() << "set DIALSCOPE_SCREENSHOT_DIR to take screenshots";
    TempAppStore temp;
    AppStore& store = temp.store();
    ScriptedDialogService dialogs;

    OptionsDialog options(store, dialogs);
    Save(&options, dir, "options");

    std::string clips = temp.dir().file("Recordings");
    for (const char* sub : {"Clips/Day1", "Clips/Day2", "Clips/Day3", "Snapshots", "Archive"})
        std::filesystem::create_directories(clips + "/" + sub);
    store.SetRecordPath(clips + "/Clips/Day2/");
    RecordPathDialog recordPath(store, nullptr,
                                {{"/", false}, {temp.dir().path(), false}, {"/mnt/nas", true}});
    recordPath.resize(recordPath.sizeHint().width() * 3 / 2, recordPath.sizeHint().height());
    Save(&recordPath, dir, "record_path");

    store.SavePhoneEntry({"harbour", "h4rb", "555-0100", "Harbour depot, gate 2"});
    store.SavePhoneEntry({"North Yard", "ny", "555-0142", "Night shift only"});
    store.SavePhoneEntry({"bridge", "br1dge", "555-0177", ""});
    store.SavePhoneEntry({"Airfield", "af", "0044 20 7946 0321", "Hangar 4"});
    PhoneBookDialog phoneBook(store, dialogs, PhoneBookDialog::Mode::Select);
    phoneBook.findChild<QTreeWidget*>("list1014")->topLevelItem(1)->setSelected(true);
    Save(&phoneBook, dir, "phone_book");
}

} // namespace
