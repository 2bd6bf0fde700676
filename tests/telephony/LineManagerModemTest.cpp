// The line control with the real telephony service and modems on
// pseudo-terminals: choosing the modem, dialled and answered calls, hang-ups
// from either end and peers that misbehave.
#include "link/LineManager.h"
#include "platform/telephony/HayesTelephony.h"
#include "tests/support/TempDir.h"
#include "tests/telephony/PtyModem.h"
#include "tests/telephony/TelephonyTestSupport.h"

#include <QElapsedTimer>
#include <gtest/gtest.h>

#include <poll.h>
#include <unistd.h>

using namespace tel;

namespace {

class LineManagerModemTest : public ::testing::Test {
protected:
    LineManagerModemTest()
        : record(std::make_shared<TestPort::Record>()) {}

    void Make(std::vector<std::string> paths) {
        PortSources sources;
        sources.explicitPaths = std::move(paths);
        HayesTimings hayes;
        hayes.probeAnswerMs = 150;
        hayes.commandMs = 500;
        hayes.guardMs = 90;
        hayes.ringGapMs = 2000;
        hayes.answerMs = 5000;
        service = std::make_unique<HayesTelephony>(sources, hayes);
        LineManager::Timings timings;
        timings.answerPauseMs = 200;
        timings.answerWatchdogMs = 500;
        timings.replyWaitMs = 2000;
        timings.noAnswerTimeoutS = 1;
        lines =
            std::make_unique<LineManager>(*service, std::make_unique<TestPort>(record), host, host, timings);
    }
    void listen(PtyModem& modem, int device = 0) {
        ASSERT_TRUE(lines->Reinitialize(device));
        ASSERT_TRUE(waitUntil([&] { return modem.countCommands("ATE0V1") >= 1; }, 2000));
    }
    std::string Path(const std::string& name) { return dir.file(name); }

    TempDir dir{"dialscope-line"};
    TestHost host;
    std::shared_ptr<TestPort::Record> record;
    std::unique_ptr<HayesTelephony> service;
    std::unique_ptr<LineManager> lines;
};

PtyModem::Options behaving(PtyModem::Behaviour behaviour) {
    PtyModem::Options options;
    options.behaviour = behaviour;
    return options;
}

// ---- Choosing the modem ----

TEST_F(LineManagerModemTest, NonModemFirstAndModemSecondPicksTheModem) {
    PtyModem port(Path("port"), behaving(PtyModem::Behaviour::Silent));
    PtyModem modem(Path("modem"));
    Make({port.Link(), modem.Link()});
    listen(modem);
    EXPECT_EQ(lines->chosenDevice(), 1);
    EXPECT_EQ(lines->lineName(), "Test V.34 Data Modem");
    EXPECT_EQ(lines->GetLineName(0), QString::fromStdString(port.Link()));
    EXPECT_TRUE(lines->isLineOpen());
}

TEST_F(LineManagerModemTest, StartIndexOneNeverPicksDeviceZero) {
    PtyModem modem(Path("modem"));
    PtyModem port(Path("port"), behaving(PtyModem::Behaviour::Silent));
    Make({modem.Link(), port.Link()});
    EXPECT_FALSE(lines->Reinitialize(1));
    EXPECT_FALSE(lines->isLineOpen());
    EXPECT_EQ(modem.countCommands("ATZ"), 0);
    EXPECT_EQ(lines->deviceCount(), 2);
}

TEST_F(LineManagerModemTest, EmptySystemHasNoDevicesAndNoLine) {
    Make({Path("nothing-here")});
    EXPECT_FALSE(lines->Reinitialize(-1));
    EXPECT_EQ(lines->deviceCount(), 0);
    EXPECT_FALSE(lines->isLineOpen());
}

// ---- Dialled calls ----

TEST_F(LineManagerModemTest, DialledCallConnectsHandsOverTheDataAndHangsUpWithTheEscape) {
    PtyModem modem(Path("modem"));
    Make({modem.Link()});
    listen(modem);
    ASSERT_TRUE(lines->Dial("555 0101"));
    EXPECT_EQ(host.openWindows, 1);
    ASSERT_TRUE(waitUntil([&] { return record->fd >= 0; }, 3000));
    EXPECT_EQ(host.openWindows, 0);
    EXPECT_FALSE(record->answered);
    EXPECT_TRUE(lines->isConnected());
    EXPECT_EQ(modem.countCommands("ATDT5550101"), 1);

    // The port owns the data stream now.
    ASSERT_EQ(::write(record->fd, "LOGIN", 5), 5);
    ASSERT_TRUE(waitUntil([&] { return modem.data() == "LOGIN"; }, 2000));

    ASSERT_TRUE(lines->DropCall());
    EXPECT_EQ(record->stops, 1);
    EXPECT_EQ(modem.escapes(), 1);
    EXPECT_EQ(modem.countCommands("ATH0"), 1);
    EXPECT_TRUE(lines->isLineOpen());
    EXPECT_FALSE(lines->hasCall());

    // Still listening: a ring is answered.
    modem.ring();
    ASSERT_TRUE(waitUntil([&] { return modem.countCommands("ATA") == 1; }, 3000));
}

TEST_F(LineManagerModemTest, BusyNoAnswerAndNoDialtoneResetTheLineAndKeepItListening) {
    PtyModem::Options options;
    options.outcomes = {{"1", "BUSY"}, {"2", "NO ANSWER"}, {"3", "NO DIALTONE"}, {"4", ""}};
    PtyModem modem(Path("modem"), options);
    Make({modem.Link()});
    listen(modem);
    for (const char* number : {"1", "2", "3", "4"}) {
        SCOPED_TRACE(number);
        const int setups = modem.countCommands("ATZ");
        ASSERT_TRUE(lines->Dial(number));
        ASSERT_TRUE(waitUntil([&] { return modem.countCommands("ATZ") == setups + 1; }, 4000));
        ASSERT_TRUE(waitUntil([&] { return !lines->hasCall(); }, 1000));
        EXPECT_TRUE(lines->isLineOpen());
        EXPECT_EQ(host.openWindows, 0);
        EXPECT_EQ(record->starts, 0);
    }
}

TEST_F(LineManagerModemTest, HangUpWhileDialingLeavesTheLineListening) {
    PtyModem::Options options;
    options.defaultOutcome = "";
    PtyModem modem(Path("modem"), options);
    Make({modem.Link()});
    listen(modem);
    ASSERT_TRUE(lines->Dial("42"));
    ASSERT_TRUE(lines->DropCall());
    EXPECT_EQ(host.openWindows, 0);
    EXPECT_EQ(modem.countCommands("ATH0"), 1);
    EXPECT_TRUE(lines->isLineOpen());
    ASSERT_TRUE(lines->Dial("43"));
    EXPECT_TRUE(waitUntil([&] { return modem.countCommands("ATDT43") == 1; }, 1000));
}

// ---- Answered calls ----

TEST_F(LineManagerModemTest, RingIsAnsweredAfterThePauseOnceAndStartsThePortAsAnswered) {
    PtyModem modem(Path("modem"));
    Make({modem.Link()});
    listen(modem);
    QElapsedTimer elapsed;
    elapsed.start();
    modem.ring();
    ASSERT_TRUE(waitUntil([&] { return lines->isAnswering(); }, 2000));
    modem.ring();
    ASSERT_TRUE(waitUntil([&] { return record->fd >= 0; }, 3000));
    EXPECT_GE(elapsed.elapsed(), 190);
    EXPECT_EQ(modem.countCommands("ATA"), 1);
    EXPECT_TRUE(record->answered);
    EXPECT_TRUE(host.watchdogRunning);
    lines->OnAnswerWatchdog(); // fires after the connect: nothing happens
    EXPECT_TRUE(lines->isConnected());
    EXPECT_EQ(modem.countCommands("ATZ"), 1);
}

TEST_F(LineManagerModemTest, AnsweredCallThatNeverConnectsIsEndedByTheWatchdog) {
    PtyModem::Options options;
    options.answerOutcome = "";
    PtyModem modem(Path("modem"), options);
    Make({modem.Link()});
    listen(modem);
    modem.ring();
    ASSERT_TRUE(waitUntil([&] { return host.watchdogRunning; }, 3000));
    lines->OnAnswerWatchdog(); // the main window's timer 150 fired
    EXPECT_FALSE(host.watchdogRunning);
    EXPECT_TRUE(lines->isLineOpen());
    EXPECT_FALSE(lines->hasCall());
    ASSERT_TRUE(waitUntil([&] { return modem.countCommands("ATZ") == 2; }, 2000));
    EXPECT_EQ(record->starts, 0);
}

// ---- Hang-up by the far end and bad peers ----

TEST_F(LineManagerModemTest, FarEndHangUpStopsThePortAndFindsTheModemAgain) {
    PtyModem modem(Path("modem"));
    Make({modem.Link()});
    listen(modem);
    ASSERT_TRUE(lines->Dial("555"));
    ASSERT_TRUE(waitUntil([&] { return record->fd >= 0; }, 3000));
    modem.hangUpFarEnd();
    ASSERT_TRUE(waitUntil([&] { return record->stops == 1; }, 3000));
    EXPECT_FALSE(lines->isConnected());
    ASSERT_TRUE(waitUntil([&] { return modem.countCommands("ATZ") == 2; }, 3000));
    EXPECT_TRUE(lines->isLineOpen());
    modem.ring();
    ASSERT_TRUE(waitUntil([&] { return record->starts == 2; }, 3000));
    EXPECT_TRUE(record->answered);
}

TEST_F(LineManagerModemTest, ModemUnpluggedMidCallEndsWithTheLineClosedAndListenBringsItBack) {
    PtyModem modem(Path("modem"));
    Make({modem.Link()});
    listen(modem);
    ASSERT_TRUE(lines->Dial("555"));
    ASSERT_TRUE(waitUntil([&] { return record->fd >= 0; }, 3000));
    modem.unplug();
    ASSERT_TRUE(waitUntil([&] { return record->stops == 1 && !lines->isLineOpen(); }, 3000));
    EXPECT_FALSE(lines->hasCall());

    // Plugged in again: Listen reopens the line.
    modem.hangUpFarEnd();
    ASSERT_TRUE(waitUntil([&] { return ::access(modem.Link().c_str(), F_OK) == 0; }, 1000));
    lines->ResetLine();
    EXPECT_TRUE(lines->isLineOpen());
}

TEST_F(LineManagerModemTest, ModemThatStopsAnsweringOrBabblesLeavesTheLineClosed) {
    for (PtyModem::Behaviour behaviour : {PtyModem::Behaviour::Silent, PtyModem::Behaviour::Garbage}) {
        PtyModem modem(Path("modem"));
        Make({modem.Link()});
        listen(modem);
        modem.setBehaviour(behaviour);
        runEventsFor(20);
        QElapsedTimer elapsed;
        elapsed.start();
        lines->ResetLine(); // the set-up gets no answer
        EXPECT_LT(elapsed.elapsed(), 500);
        ASSERT_TRUE(waitUntil([&] { return !lines->isLineOpen(); }, 3000));
        EXPECT_FALSE(lines->Dial("555"));
        EXPECT_EQ(host.openWindows, 0);
        lines.reset();
        service.reset();
    }
}

} // namespace
