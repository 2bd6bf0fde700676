// Screenshot mode: with DIALSCOPE_SCREENSHOT_DIR set, opens the Options,
// record path, phone book and event list dialogs with sample data and saves
// pictures of them there (for the docs); otherwise skipped.
#include "app/ui/OptionsDialog.h"
#include "app/ui/PhoneBookDialog.h"
#include "app/ui/RecordPathDialog.h"
#include "mainwnd/EventNotifyDialog.h"
#include "platform/dialogs/ScriptedDialogService.h"
#include "tests/app/TempAppStore.h"

#include <QTreeWidget>
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

namespace {

void Save(QDialog&& dialog, const char* dir, const char* name, int selectRow = -1) {
    if (auto* list = dialog.findChild<QTreeWidget*>(); list && selectRow >= 0)
        list->topLevelItem(selectRow)->setSelected(true);
    dialog.show();
    QString file = QStringLiteral("%1/%2.png").arg(QString::fromLocal8Bit(dir), QLatin1String(name));
    EXPECT_TRUE(dialog.grab().save(file)) << file.toStdString();
}

TEST(Screenshots, Dialogs) {
    const char* dir = std::getenv("DIALSCOPE_SCREENSHOT_DIR");
    if (!dir)
        GTEST_SKIP() << "set DIALSCOPE_SCREENSHOT_DIR to take screenshots";
    TempAppStore temp;
    AppStore& store = temp.store();
    ScriptedDialogService dialogs;
    Save(OptionsDialog(store, dialogs), dir, "options");

    std::string root = temp.dir().file("Recordings");
    for (const char* sub : {"Clips/Day1", "Clips/Day2", "Clips/Day3", "Snapshots", "Archive"})
        std::filesystem::create_directories(root + "/" + sub);
    store.SetRecordPath(root + "/Clips/Day2/");
    RecordPathDialog recordPath(store, nullptr,
                                {{"/", false}, {temp.dir().path(), false}, {"/mnt/nas", true}});
    recordPath.resize(recordPath.sizeHint().width() * 3 / 2, recordPath.sizeHint().height());
    Save(std::move(recordPath), dir, "record_path");

    store.SavePhoneEntry({"harbour", "h4rb", "555-0100", "Harbour depot, gate 2"});
    store.SavePhoneEntry({"North Yard", "ny", "555-0142", "Night shift only"});
    store.SavePhoneEntry({"bridge", "br1dge", "555-0177", ""});
    store.SavePhoneEntry({"Airfield", "af", "0044 20 7946 0321", "Hangar 4"});
    Save(PhoneBookDialog(store, dialogs, PhoneBookDialog::Mode::Select), dir, "phone_book", 1);

    std::time_t t = 1709280000;
    for (auto [name, tel, address, memo] :
         {std::tuple{"Harbour depot", "555-0100", "1 Harbour Rd, Gate 2", "Door alarm, camera 3"},
          {"North Yard", "555-0142", "Quarry Lane 7", "Motion in zone B"},
          {"Bridge", "555-0177", "River St / Mill St", "Power restored"}}) {
        t += 3671;
        store.setClock([t] { return t; });
        store.AddEventRecord(EventRecord::makeBlock(name, tel, address, memo));
    }
    Save(EventNotifyDialog(store, dialogs), dir, "event_list", 1);
}

} // namespace
