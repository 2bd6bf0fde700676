// Screenshot mode: with DIALSCOPE_SCREENSHOT_DIR set, saves a picture of the
// event list with sample events there (for the docs); otherwise skipped.
#include "EventNotifyDialog.h"
#include "ScriptedDialogService.h"
#include "TempAppStore.h"

#include <QTreeWidget>
#include <gtest/gtest.h>

#include <cstdlib>

namespace {

TEST(Screenshots, EventList) {
    const char* dir = std::getenv("DIALSCOPE_SCREENSHOT_DIR");
    if (!dir)
        GTEST_SKIP() << "set DIALSCOPE_SCREENSHOT_DIR to take screenshots";
    TempAppStore temp;
    AppStore& store = temp.store();
    std::time_t t = 1709280000;
    for (auto [name, tel, address, memo] :
         {std::tuple{"Harbour depot", "555-0100", "1 Harbour Rd, Gate 2", "Door alarm, camera 3"},
          {"North Yard", "555-0142", "Quarry Lane 7", "Motion in zone B"},
          {"Bridge", "555-0177", "River St / Mill St", "Power restored"}}) {
        t += 3671;
        store.setClock([t] { return t; });
        store.AddEventRecord(EventRecord::makeBlock(name, tel, address, memo));
    }
    ScriptedDialogService dialogs;
    EventNotifyDialog dialog(store, dialogs);
    dialog.findChild<QTreeWidget*>("list1071")->topLevelItem(1)->setSelected(true);
    dialog.show();
    QString file = QString::fromLocal8Bit(dir) + "/event_list.png";
    EXPECT_TRUE(dialog.grab().save(file)) << file.toStdString();
}

} // namespace
