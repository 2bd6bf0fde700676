// The line control against the scripted telephony service: device choice,
// dialing, answering, dropping and the service's messages.
#include "link/LineManager.h"
#include "platform/telephony/ScriptedTelephony.h"
#include "tests/telephony/TelephonyTestSupport.h"

#include <QElapsedTimer>
#include <gtest/gtest.h>

using namespace tel;

namespace {

class LineManagerTest : public ::testing::Test {
protected:
    LineManagerTest()
        : record(std::make_shared<TestPort::Record>()) {}

    void Make(std::vector<ScriptedTelephony::Device> devices) {
        service.devices = std::move(devices);
        LineManager::Timings timings;
        timings.answerPauseMs = 150;
        timings.answerWatchdogMs = 777;
        timings.replyWaitMs = 300;
        lines =
            std::make_unique<LineManager>(service, std::make_unique<TestPort>(record), host, host, timings);
    }
    void makeListening() {
        Make({{"Modem A"}});
        ASSERT_TRUE(lines->Reinitialize(-1));
        ASSERT_TRUE(lines->isLineOpen());
    }
    void dialConnected() {
        ASSERT_TRUE(lines->Dial("555"));
        service.postCallState(service.lastCall(), LINECALLSTATE_CONNECTED);
        ASSERT_TRUE(waitUntil([&] { return lines->isConnected(); }, 1000));
    }
    int count(const std::string& prefix) { return static_cast<int>(service.ops(prefix).size()); }

    ScriptedTelephony service;
    TestHost host;
    std::shared_ptr<TestPort::Record> record;
    std::unique_ptr<LineManager> lines;
};

// ---- Choosing the device ----

TEST_F(LineManagerTest, SearchPassesOverANonModemAndOpensTheModemForDataCalls) {
    Make({{"COM1 serial", false}, {"Modem B"}});
    ASSERT_TRUE(lines->Reinitialize(-1));
    EXPECT_EQ(service.log.front(), "Initialize Lookout-Remote");
    EXPECT_EQ(lines->chosenDevice(), 1);
    EXPECT_EQ(lines->lineName(), "Modem B");
    EXPECT_EQ(service.ops("Open"), std::vector<std::string>{"Open 1 6 16"});
    EXPECT_EQ(service.lastLineStates(), 0x00BFFFFFu);
    EXPECT_TRUE(lines->isLineOpen());
    EXPECT_EQ(lines->deviceCount(), 2);
}

TEST_F(LineManagerTest, SearchStartsAtTheGivenIndexAndNeverWrapsBelowIt) {
    Make({{"Modem A"}, {"Serial", false}, {"Modem C"}});
    ASSERT_TRUE(lines->Reinitialize(1));
    EXPECT_EQ(lines->chosenDevice(), 2);

    Make({{"Modem A"}, {"Serial", false}});
    EXPECT_FALSE(lines->Reinitialize(1));
    EXPECT_FALSE(lines->isLineOpen());
    EXPECT_FALSE(lines->isInitialized());
    EXPECT_TRUE(lines->lineName().isEmpty());

    // A start beyond the devices means device 0; -1 means the chosen device.
    Make({{"Serial", false}, {"Modem B"}, {"Modem C"}});
    ASSERT_TRUE(lines->Reinitialize(9));
    EXPECT_EQ(lines->chosenDevice(), 1);
    ASSERT_TRUE(lines->Reinitialize(2));
    ASSERT_TRUE(lines->Reinitialize(-1));
    EXPECT_EQ(lines->chosenDevice(), 2);
}

TEST_F(LineManagerTest, DevicesThatDoNotNegotiateOrHaveNoNameAreHandled) {
    Make({{"Old modem", true, true, false}, {"", true, false}});
    ASSERT_TRUE(lines->Reinitialize(-1));
    EXPECT_EQ(lines->chosenDevice(), 1);
    EXPECT_TRUE(lines->lineName().isEmpty());
    EXPECT_TRUE(lines->GetLineName(0).isEmpty());
    EXPECT_TRUE(lines->GetLineName(5).isEmpty());
}

TEST_F(LineManagerTest, EmptySystemLeavesTheLineClosed) {
    Make({});
    EXPECT_FALSE(lines->Reinitialize(-1));
    EXPECT_FALSE(lines->isLineOpen());
    EXPECT_FALSE(lines->isInitialized());
    EXPECT_EQ(lines->deviceCount(), 0);
    EXPECT_EQ(count("Shutdown"), 1);
    EXPECT_FALSE(lines->Dial("555"));
    EXPECT_EQ(host.openWindows, 0);

    service.initializeResult = LINEERR_OPERATIONFAILED;
    EXPECT_FALSE(lines->Reinitialize(-1));
}

TEST_F(LineManagerTest, LineNamesStayListedWhenNoModemQualified) {
    Make({{"COM1", false}, {"COM2", false}});
    EXPECT_FALSE(lines->Reinitialize(-1));
    EXPECT_EQ(lines->deviceCount(), 2);
    EXPECT_EQ(lines->GetLineName(0), "COM1");
    EXPECT_EQ(lines->GetLineName(1), "COM2");
    DeviceIcon icon;
    ASSERT_TRUE(lines->lineIcon(0, icon));
    EXPECT_EQ(icon, DeviceIcon::SerialPort);
}

// ---- Dialing ----

TEST_F(LineManagerTest, DialShowsStatusUntilConnectedThenStartsThePort) {
    makeListening();
    ASSERT_TRUE(lines->Dial("555-0101"));
    EXPECT_EQ(service.ops("MakeCall"), std::vector<std::string>{"MakeCall 555-0101"});
    const CallParams params = service.lastCallParams();
    EXPECT_EQ(params.bearerMode, LINEBEARERMODE_VOICE);
    EXPECT_EQ(params.mediaMode, LINEMEDIAMODE_DATAMODEM);
    EXPECT_EQ(params.callParamFlags, LINECALLPARAMFLAGS_IDLE);
    EXPECT_EQ(params.addressMode, LINEADDRESSMODE_ADDRESSID);
    EXPECT_EQ(params.noAnswerTimeout, 30u);
    EXPECT_EQ(host.shownNumbers, std::vector<QString>{"555-0101"});
    EXPECT_EQ(host.shownStatus, "Wait for connect ... ");
    EXPECT_EQ(host.openWindows, 1);
    EXPECT_TRUE(lines->hasCall());

    service.postCallState(service.lastCall(), LINECALLSTATE_PROCEEDING); // progress changes nothing
    service.post({0, LINE_CALLSTATE, LINECALLSTATE_CONNECTED, 0, 0});    // nor does a call handle of 0
    runEventsFor(30);
    EXPECT_EQ(host.openWindows, 1);
    EXPECT_EQ(record->starts, 0);
}

TEST_F(LineManagerTest, ConnectedCallHandsItsDataHandleToThePortOnce) {
    makeListening();
    ASSERT_TRUE(lines->Dial("555"));
    const Call call = service.lastCall();
    service.postCallState(call, LINECALLSTATE_CONNECTED);
    service.postCallState(call, LINECALLSTATE_CONNECTED);
    ASSERT_TRUE(waitUntil([&] { return record->starts > 0; }, 1000));
    runEventsFor(30);
    EXPECT_EQ(record->starts, 1);
    EXPECT_FALSE(record->answered);
    EXPECT_TRUE(lines->isConnected());
    EXPECT_EQ(host.openWindows, 0);
    EXPECT_EQ(service.ops("GetID"),
              std::vector<std::string>{"GetID " + std::to_string(call) + " comm/datamodem"});

    // Hang up by the program: port stopped, call dropped and released, line still listening.
    EXPECT_TRUE(lines->DropCall());
    EXPECT_EQ(record->stops, 1);
    EXPECT_EQ(count("Drop"), 1);
    EXPECT_EQ(count("Deallocate"), 1);
    EXPECT_FALSE(lines->hasCall());
    EXPECT_FALSE(lines->isConnected());
    EXPECT_TRUE(lines->isLineOpen());
}

TEST_F(LineManagerTest, DialWithoutReplyFailsAtTheBoundAndClosesTheStatusWindow) {
    makeListening();
    service.makeCallReply = ScriptedTelephony::ReplyMode::Never;
    QElapsedTimer elapsed;
    elapsed.start();
    EXPECT_FALSE(lines->Dial("555"));
    EXPECT_GE(elapsed.elapsed(), 290);
    EXPECT_LT(elapsed.elapsed(), 3000);
    EXPECT_EQ(host.openWindows, 0);
    EXPECT_EQ(count("Deallocate"), 1);
    EXPECT_FALSE(lines->hasCall());
    EXPECT_TRUE(lines->isLineOpen());
}

TEST_F(LineManagerTest, DialFailuresEndWithTheWindowClosed) {
    makeListening();
    service.makeCallReply = ScriptedTelephony::ReplyMode::Fail;
    EXPECT_FALSE(lines->Dial("555"));
    EXPECT_EQ(host.openWindows, 0);
    EXPECT_EQ(host.shownNumbers.size(), 1u);

    service.addressFeatures = 0; // no make-call feature: nothing is shown at all
    EXPECT_FALSE(lines->Dial("555"));
    EXPECT_EQ(host.shownNumbers.size(), 1u);
}

TEST_F(LineManagerTest, BusyDisconnectedAndUnknownResetTheLineAndLeaveItListening) {
    for (std::uint32_t state :
         {LINECALLSTATE_BUSY, LINECALLSTATE_DISCONNECTED, LINECALLSTATE_SPECIALINFO, LINECALLSTATE_UNKNOWN}) {
        makeListening();
        ASSERT_TRUE(lines->Dial("555"));
        const Call call = service.lastCall();
        const int opens = count("Open");
        service.postCallState(call, state);
        ASSERT_TRUE(waitUntil([&] { return count("Open") == opens + 1; }, 1000)) << state;
        EXPECT_TRUE(lines->isLineOpen());
        EXPECT_FALSE(lines->hasCall());
        EXPECT_EQ(host.openWindows, 0);
    }
}

// ---- Answering ----

TEST_F(LineManagerTest, OfferedCallIsAnsweredAfterThePauseAndStartsThePortAsAnswered) {
    makeListening();
    QElapsedTimer elapsed;
    elapsed.start();
    const Call call = service.offer();
    ASSERT_TRUE(waitUntil([&] { return lines->isAnswering(); }, 1000));
    EXPECT_EQ(count("Answer"), 0);
    ASSERT_TRUE(waitUntil([&] { return lines->isAnswered(); }, 2000));
    EXPECT_GE(elapsed.elapsed(), 140);
    EXPECT_EQ(service.ops("Answer"), std::vector<std::string>{"Answer " + std::to_string(call)});
    EXPECT_TRUE(host.watchdogRunning);
    EXPECT_EQ(host.watchdogMs, 777);

    service.postCallState(call, LINECALLSTATE_CONNECTED);
    ASSERT_TRUE(waitUntil([&] { return record->starts == 1; }, 1000));
    EXPECT_TRUE(record->answered);

    // The watchdog firing after the connect changes nothing.
    const int inits = count("Initialize");
    lines->OnAnswerWatchdog();
    EXPECT_FALSE(host.watchdogRunning);
    EXPECT_EQ(count("Initialize"), inits);
    EXPECT_TRUE(lines->isConnected());
}

TEST_F(LineManagerTest, RepeatedOfferWhileAnsweringIsIgnored) {
    makeListening();
    const Call call = service.offer();
    ASSERT_TRUE(waitUntil([&] { return lines->isAnswering(); }, 1000));
    service.post({call, LINE_CALLSTATE, LINECALLSTATE_OFFERING, 0, LINECALLPRIVILEGE_OWNER});
    ASSERT_TRUE(waitUntil([&] { return lines->isAnswered(); }, 2000));
    runEventsFor(300);
    EXPECT_EQ(count("Answer"), 1);
    EXPECT_EQ(host.watchdogStarts, 1);
}

TEST_F(LineManagerTest, WatchdogRestartsTheServiceWhenTheAnsweredCallNeverConnects) {
    makeListening();
    service.offer();
    ASSERT_TRUE(waitUntil([&] { return lines->isAnswered(); }, 2000));
    const int inits = count("Initialize");
    lines->OnAnswerWatchdog();
    EXPECT_FALSE(host.watchdogRunning);
    EXPECT_EQ(count("Initialize"), inits + 1);
    EXPECT_TRUE(lines->isLineOpen());
    EXPECT_FALSE(lines->hasCall());
    EXPECT_FALSE(lines->isAnswered());
}

TEST_F(LineManagerTest, OfferDroppedDuringThePauseIsNotAnswered) {
    makeListening();
    service.offer();
    ASSERT_TRUE(waitUntil([&] { return lines->isAnswering(); }, 1000));
    lines->ResetLine();
    runEventsFor(300);
    EXPECT_EQ(count("Answer"), 0);
    EXPECT_FALSE(lines->isAnswering());
    EXPECT_TRUE(lines->isLineOpen());
}

// ---- Dropping and service messages ----

TEST_F(LineManagerTest, DroppingAnIdleCallOnlyReleasesIt) {
    makeListening();
    const Call call = service.offer();
    ASSERT_TRUE(waitUntil([&] { return lines->hasCall(); }, 1000));
    service.setCallState(call, LINECALLSTATE_IDLE);
    EXPECT_TRUE(lines->DropCall());
    EXPECT_EQ(count("Drop"), 0);
    EXPECT_EQ(count("Deallocate"), 1);
    EXPECT_TRUE(lines->DropCall()); // no call: nothing to do
    EXPECT_EQ(count("Deallocate"), 1);
}

TEST_F(LineManagerTest, DataHandleFailureOrRefusedPortResetsTheLine) {
    makeListening();
    service.getIdResult = LINEERR_OPERATIONFAILED;
    Call call = service.offer();
    ASSERT_TRUE(waitUntil([&] { return lines->isAnswered(); }, 2000));
    int opens = count("Open");
    service.postCallState(call, LINECALLSTATE_CONNECTED);
    ASSERT_TRUE(waitUntil([&] { return count("Open") == opens + 1; }, 1000));
    EXPECT_FALSE(lines->isConnected());
    EXPECT_EQ(record->starts, 0);

    service.getIdResult = LINEERR_OK;
    record->refuse = true;
    call = service.offer();
    ASSERT_TRUE(waitUntil([&] { return lines->isAnswered(); }, 2000));
    opens = count("Open");
    service.postCallState(call, LINECALLSTATE_CONNECTED);
    ASSERT_TRUE(waitUntil([&] { return count("Open") == opens + 1; }, 1000));
    EXPECT_EQ(record->starts, 1);
    EXPECT_FALSE(lines->isConnected());
    EXPECT_TRUE(lines->isLineOpen());
}

TEST_F(LineManagerTest, LineCloseLeavesTheLineClosedUntilListenReopensIt) {
    makeListening();
    service.post({service.OpenLine(), LINE_CLOSE, 0, 0, 0});
    ASSERT_TRUE(waitUntil([&] { return !lines->isLineOpen(); }, 1000));
    EXPECT_TRUE(lines->isInitialized());
    lines->ResetLine();
    EXPECT_TRUE(lines->isLineOpen());

    // Listen with the service down restarts it.
    lines->Shutdown();
    lines->ResetLine();
    EXPECT_TRUE(lines->isInitialized());
    EXPECT_TRUE(lines->isLineOpen());
}

TEST_F(LineManagerTest, DeviceChangesRestartTheService) {
    makeListening();
    const Line line = service.OpenLine();
    int inits = count("Initialize");
    service.post({0, LINE_CREATE, 1, 0, 0});
    ASSERT_TRUE(waitUntil([&] { return count("Initialize") == inits + 1; }, 1000));
    inits = count("Initialize");
    service.post({0, LINE_REMOVE, 0, 0, 0});
    ASSERT_TRUE(waitUntil([&] { return count("Initialize") == inits + 1; }, 1000));

    // Device states: only for the open line, REINIT only without detail.
    inits = count("Initialize");
    service.post({line, LINE_LINEDEVSTATE, LINEDEVSTATE_REMOVED, 0, 0}); // an old line handle
    service.post({service.OpenLine(), LINE_LINEDEVSTATE, LINEDEVSTATE_REINIT, 5, 0});
    service.post({service.OpenLine(), LINE_LINEDEVSTATE, LINEDEVSTATE_RINGING, 0, 0});
    runEventsFor(50);
    EXPECT_EQ(count("Initialize"), inits);
    for (std::uint32_t state :
         {LINEDEVSTATE_DISCONNECTED, LINEDEVSTATE_OUTOFSERVICE, LINEDEVSTATE_MAINTENANCE,
          LINEDEVSTATE_TRANSLATECHANGE, LINEDEVSTATE_REMOVED, LINEDEVSTATE_REINIT}) {
        inits = count("Initialize");
        service.post({service.OpenLine(), LINE_LINEDEVSTATE, state, 0, 0});
        ASSERT_TRUE(waitUntil([&] { return count("Initialize") == inits + 1; }, 1000)) << state;
        EXPECT_TRUE(lines->isLineOpen());
    }
}

TEST_F(LineManagerTest, DestructionShutsTheServiceDownBeforeThePortGoes) {
    makeListening();
    dialConnected();
    lines.reset();
    EXPECT_EQ(record->stops, 1);
    EXPECT_EQ(service.log.back(), "Shutdown");
}

} // namespace
