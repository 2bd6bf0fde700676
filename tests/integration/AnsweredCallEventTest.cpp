// An answered call end to end: the simulated site calls in, the connection
// logs in with the answering credentials and asks for the site's identity, the
// reply is filed as an event record in the application store, and the event
// list shows it.
#include "link/CodecDecompressorFactory.h"
#include "link/CommPort.h"
#include "mainwnd/EventNotifyDialog.h"
#include "platform/dialogs/ScriptedDialogService.h"
#include "tests/app/TempAppStore.h"
#include "tests/link/LinkDoubles.h"
#include "tools/sitesim/SiteSimProcess.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTreeWidget>
#include <gtest/gtest.h>

#include <cstring>
#include <fcntl.h>
#include <unistd.h>

using namespace std::chrono_literals;

namespace {

// The connection's store, filing site records in the application store.
class AppEventStore final : public ConnectionStore {
public:
    explicit AppEventStore(AppStore& store)
        : m_store(store) {}
    LoginValues loginValues() const override { return {"unused", "unused", 0, 30}; }
    bool videoArrangeOn() const override { return false; }
    bool AddEventRecord(const std::array<uint8_t, Wire::kSiteRecordSize>& record) override {
        EventBlock block{};
        static_assert(sizeof block == sizeof record);
        std::memcpy(block.data(), record.data(), block.size());
        return m_store.AddEventRecord(block);
    }

private:
    AppStore& m_store;
};

} // namespace

TEST(AnsweredCallEvent, TheCallingSitesRecordAppearsInTheEventList) {
    TempDir dir("answered-e2e");
    SiteSimProcess sim;
    std::string error;
    ASSERT_TRUE(sim.start(dir.path(),
                          {"--data-only", "--incoming", "--site-name", "Harbour depot", "--site-tel",
                           "555-0100", "--site-address", "1 Harbour Rd", "--site-memo", "Door alarm",
                           "--channel", "1:Gate,codec=rgb,fps=5,size=160x120"},
                          error))
        << error;

    TempAppStore temp;
    AppEventStore events(temp.store());
    ScriptedDialogService dialogs;
    FakeHost host;
    ChannelTable channels;
    CodecDecompressorFactory codecs;
    CommPortOptions options;
    options.timerPeriod = 20ms;
    CommPort port(dialogs, events, channels, codecs, options);
    port.attachMainWindow(&host, &host, &host);

    const int fd = ::open(sim.linkPath().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    ASSERT_TRUE(port.Start(fd, true));
    auto stored = [&] {
        std::vector<EventRecord> records;
        temp.store().LoadEventRecords(records);
        return records.size();
    };
    QElapsedTimer clock;
    clock.start();
    while (stored() == 0 && clock.elapsed() < 15000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    port.Stop();
    ASSERT_EQ(stored(), 1u);

    EventNotifyDialog dialog(temp.store(), dialogs);
    auto* list = dialog.findChild<QTreeWidget*>("list1071");
    ASSERT_EQ(list->topLevelItemCount(), 1);
    QStringList row;
    for (int c = 1; c < 5; ++c)
        row << list->topLevelItem(0)->text(c);
    EXPECT_EQ(row, (QStringList{"Harbour depot", "555-0100", "1 Harbour Rd", "Door alarm"}));
    EXPECT_EQ(list->topLevelItem(0)->text(0).size(), 14) << "the arrival time as the event's ID";
}
