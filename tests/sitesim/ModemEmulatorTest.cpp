#include "tools/sitesim/ModemEmulator.h"

#include <gtest/gtest.h>

using namespace sitesim;
using namespace std::chrono_literals;

namespace {

// Drives a modem with a hand-made clock and collects what it says.
struct ModemRig {
    explicit ModemRig(ModemConfig config = makeConfig()) {
        ModemEmulator::Hooks hooks;
        hooks.toDte = [this](std::string_view text) {
            dte += text;
        };
        hooks.toSite = [this](std::span<const uint8_t> bytes) {
            site.append(bytes.begin(), bytes.end());
        };
        hooks.callStarted = [this](bool placedBySite) {
            calls.push_back(placedBySite ? "incoming" : "outgoing");
        };
        hooks.callEnded = [this] {
            calls.push_back("ended");
        };
        modem = std::make_unique<ModemEmulator>(std::move(config), hooks);
    }

    static ModemConfig makeConfig() {
        ModemConfig config;
        config.dialDelay = 100ms;
        config.answerDelay = 50ms;
        config.ringInterval = 1000ms;
        config.ringCount = 3;
        config.guardTime = 200ms;
        config.callbackDelay = 500ms;
        config.numbers["555"] = *DialOutcome::parse("BUSY");
        config.numbers["556"] = *DialOutcome::parse("NO ANSWER@20");
        config.numbers["557"] = *DialOutcome::parse("CONNECT 9600");
        config.numbers["558"] = *DialOutcome::parse("NO DIALTONE");
        config.numbers["999"] = *DialOutcome::parse("CALLBACK");
        return config;
    }

    // Sends text, returns what the modem said in reply.
    std::string send(std::string_view text) {
        dte.clear();
        modem->fromDte(std::span(reinterpret_cast<const uint8_t*>(text.data()), text.size()), now);
        return dte;
    }
    // Advances the clock, running every deadline on the way, and returns the output.
    std::string advance(Millis by) {
        dte.clear();
        const TimePoint end = now + by;
        while (auto next = modem->nextDeadline()) {
            if (*next > end)
                break;
            now = std::max(now, *next);
            modem->tick(now);
        }
        now = end;
        modem->tick(now);
        return dte;
    }
    // Dials and advances to the outcome.
    std::string dial(const std::string& number) {
        send("ATD" + number + "\r");
        return advance(150ms);
    }

    TimePoint now{};
    std::string dte;
    std::string site;
    std::vector<std::string> calls;
    std::unique_ptr<ModemEmulator> modem;
};

} // namespace

TEST(ModemEmulator, CommandTable) {
    struct Case {
        const char* input;
        const char* reply;
    };
    const Case cases[] = {
        {"AT\r", "AT\r\r\nOK\r\n"},
        {"at\r", "at\r\r\nOK\r\n"},
        // Identification as real modems give it: ATI is a product code.
        {"ATI\r", "ATI\r\r\n33600\r\n\r\nOK\r\n"},
        {"ATI3\r", "ATI3\r\r\nSiteSim V.34 Data Modem\r\n\r\nOK\r\n"},
        {"AT+GMM\r", "AT+GMM\r\r\nSiteSim V.34 Data Modem\r\n\r\nOK\r\n"},
        {"at+gmi\r", "at+gmi\r\r\nSiteSim\r\n\r\nOK\r\n"},
        {"AT+GSN\r", "AT+GSN\r\r\nERROR\r\n"},
        {"ATFOO\r", "ATFOO\r\r\nERROR\r\n"},
        {"ATE2\r", "ATE2\r\r\nERROR\r\n"},
        {"ATS7?\r", "ATS7?\r\r\n050\r\n\r\nOK\r\n"},
        {"AT S7 = 30 S7?\r", "AT S7 = 30 S7?\r\r\n030\r\n\r\nOK\r\n"},
        {"AT&C1&D2&K3M0L0X4\r", "AT&C1&D2&K3M0L0X4\r\r\nOK\r\n"},
        {"AT&X\r", "AT&X\r\r\nERROR\r\n"},
        {"ATS256=1\r", "ATS256=1\r\r\nERROR\r\n"},
        {"ATH0\r", "ATH0\r\r\nOK\r\n"},
        {"ATO\r", "ATO\r\r\nERROR\r\n"},      // no call to return to
        {"ATA\r", "ATA\r\r\nNO CARRIER\r\n"}, // nothing ringing
        {"noise AT\r", "noise AT\r\r\nOK\r\n"},
        {"ATX\bI\r", "ATX\b \bI\r\r\n33600\r\n\r\nOK\r\n"}, // backspace edits
        {"ATE0\r", "ATE0\r\r\nOK\r\n"},                     // echo of the line itself still on
    };
    ModemRig rig;
    for (const Case& c : cases)
        EXPECT_EQ(rig.send(c.input), c.reply) << c.input;
    // Echo off, numeric codes, quiet.
    EXPECT_EQ(rig.send("ATV0\r"), "0\r");
    EXPECT_EQ(rig.send("ATBAD\r"), "4\r");
    EXPECT_EQ(rig.send("ATI\r"), "33600\r\n0\r");
    EXPECT_EQ(rig.send("ATQ1\r"), "");
    EXPECT_EQ(rig.send("ATBAD\r"), "");
    // ATZ restores echo, verbose codes and the registers; A/ repeats the last line.
    EXPECT_EQ(rig.send("ATS7=9Z\r"), "\r\nOK\r\n"); // echo was still off
    EXPECT_EQ(rig.send("ATS7?\r"), "ATS7?\r\r\n050\r\n\r\nOK\r\n");
    EXPECT_EQ(rig.send("A/"), "A/\r\n050\r\n\r\nOK\r\n");
    EXPECT_EQ(rig.send("AT&F\r"), "AT&F\r\r\nOK\r\n");
}

TEST(ModemEmulator, ChainedCommandsStopAtTheFirstError) {
    ModemRig rig;
    EXPECT_EQ(rig.send("ATE0 V0 Q9 V1\r"), "ATE0 V0 Q9 V1\r4\r");
    // E0 and V0 ran before the error; V1 did not.
    EXPECT_EQ(rig.send("AT\r"), "0\r");
}

TEST(ModemEmulator, OverlongLineIsAnError) {
    ModemRig rig;
    rig.send("ATE0\r");
    EXPECT_EQ(rig.send("AT" + std::string(200, 'I') + "\r"), "\r\nERROR\r\n");
}

TEST(ModemEmulator, DialOutcomes) {
    struct Case {
        const char* number;
        const char* x4;
        const char* x0;
    };
    const Case cases[] = {
        {"T 1-234", "\r\nCONNECT 33600\r\n", "\r\nCONNECT\r\n"},
        {"T555", "\r\nBUSY\r\n", "\r\nNO CARRIER\r\n"},
        {"P556", "\r\nNO ANSWER\r\n", "\r\nNO CARRIER\r\n"},
        {"557", "\r\nCONNECT 9600\r\n", "\r\nCONNECT\r\n"},
        {"558", "\r\nNO DIALTONE\r\n", "\r\nNO CARRIER\r\n"},
    };
    for (const Case& c : cases) {
        for (const int x : {4, 0}) {
            ModemRig rig;
            rig.send("ATE0X" + std::to_string(x) + "\r");
            EXPECT_EQ(rig.send(std::string("ATD") + c.number + "\r"), "");
            EXPECT_EQ(rig.modem->state(), ModemEmulator::State::Dialing);
            EXPECT_EQ(rig.advance(150ms), x == 4 ? c.x4 : c.x0) << c.number << " X" << x;
        }
    }
    // The outcome arrives after the dial delay, not before.
    ModemRig rig;
    rig.send("ATE0D1\r");
    EXPECT_EQ(rig.advance(90ms), "");
    EXPECT_EQ(rig.advance(10ms), "\r\nCONNECT 33600\r\n");
    EXPECT_EQ(rig.calls, std::vector<std::string>{"outgoing"});
}

TEST(ModemEmulator, AnyCharacterAbortsADial) {
    ModemRig rig;
    rig.send("ATE0DT12\r");
    EXPECT_EQ(rig.send("x"), "\r\nNO CARRIER\r\n");
    EXPECT_EQ(rig.advance(500ms), "");
    EXPECT_TRUE(rig.calls.empty());
}

TEST(ModemEmulator, RingsUntilAnsweredThenConnects) {
    ModemRig rig;
    rig.send("ATE0\r");
    rig.dte.clear();
    ASSERT_TRUE(rig.modem->incomingCall(rig.now));
    EXPECT_EQ(rig.dte, "\r\nRING\r\n");
    EXPECT_FALSE(rig.modem->incomingCall(rig.now)); // line busy
    EXPECT_EQ(rig.advance(999ms), "");
    EXPECT_EQ(rig.advance(1ms), "\r\nRING\r\n");
    EXPECT_EQ(rig.send("ATS1?\r"), "\r\n002\r\n\r\nOK\r\n");
    EXPECT_EQ(rig.send("ATA\r"), "");
    EXPECT_EQ(rig.advance(50ms), "\r\nCONNECT 33600\r\n");
    EXPECT_EQ(rig.calls, std::vector<std::string>{"incoming"});
    EXPECT_TRUE(rig.modem->online());
}

TEST(ModemEmulator, UnansweredCallerGivesUpAndS0AutoAnswers) {
    ModemRig rig;
    rig.send("ATE0\r");
    rig.modem->incomingCall(rig.now);
    EXPECT_EQ(rig.advance(5000ms), "\r\nRING\r\n\r\nRING\r\n");
    EXPECT_EQ(rig.modem->state(), ModemEmulator::State::Idle);

    rig.send("ATS0=2\r");
    rig.modem->incomingCall(rig.now);
    EXPECT_EQ(rig.advance(1100ms), "\r\nRING\r\n\r\nCONNECT 33600\r\n");
}

TEST(ModemEmulator, EscapeNeedsGuardTimesThenAth0HangsUp) {
    ModemRig rig;
    rig.send("ATE0\r");
    rig.dial("1");
    ASSERT_TRUE(rig.modem->online());
    // Data flows to the site untouched, including a "+++" inside it.
    rig.send("abc+++def");
    EXPECT_EQ(rig.site, "abc+++def");
    // "+++" too soon after data is data.
    rig.advance(100ms);
    rig.send("+++");
    EXPECT_EQ(rig.advance(300ms), "");
    EXPECT_EQ(rig.site, "abc+++def+++");
    // Data within the guard time after "+++" cancels the escape.
    rig.advance(300ms);
    rig.send("+++");
    rig.advance(100ms);
    rig.send("x");
    EXPECT_EQ(rig.advance(300ms), "");
    EXPECT_EQ(rig.site, "abc+++def++++++x");
    EXPECT_TRUE(rig.modem->online());
    // Guard, "+++" one character at a time, guard: command mode.
    rig.advance(300ms);
    rig.send("+");
    rig.advance(50ms);
    rig.send("+");
    rig.advance(50ms);
    rig.send("+");
    EXPECT_EQ(rig.advance(199ms), "");
    EXPECT_EQ(rig.advance(1ms), "\r\nOK\r\n");
    EXPECT_EQ(rig.modem->state(), ModemEmulator::State::OnlineCommand);
    EXPECT_EQ(rig.site, "abc+++def++++++x");
    // ATO goes back online; a second escape and ATH0 end the call.
    EXPECT_EQ(rig.send("ATO\r"), "\r\nCONNECT 33600\r\n");
    EXPECT_TRUE(rig.modem->online());
    rig.advance(300ms);
    rig.send("+++");
    EXPECT_EQ(rig.advance(300ms), "\r\nOK\r\n");
    EXPECT_EQ(rig.send("ATH0\r"), "\r\nOK\r\n");
    EXPECT_EQ(rig.modem->state(), ModemEmulator::State::Idle);
    EXPECT_EQ(rig.calls, (std::vector<std::string>{"outgoing", "ended"}));
}

TEST(ModemEmulator, GuardTimeFollowsS12) {
    ModemRig rig;
    rig.send("ATE0S12=5\r"); // 100 ms
    rig.dial("1");
    rig.advance(150ms);
    rig.send("+++");
    EXPECT_EQ(rig.advance(100ms), "\r\nOK\r\n");
}

TEST(ModemEmulator, CallbackNumberHangsUpAndCallsBack) {
    ModemRig rig;
    rig.send("ATE0\r");
    EXPECT_EQ(rig.dial("999"), "\r\nNO CARRIER\r\n");
    EXPECT_EQ(rig.advance(400ms), "");
    EXPECT_EQ(rig.advance(100ms), "\r\nRING\r\n");
    EXPECT_EQ(rig.modem->state(), ModemEmulator::State::Ringing);
}

// A caller that keeps trying: it meets a dial under way on the line, waits
// out a call that is up, rings again after its ringing was cut off, stops once
// answered and gives up after ring-count tries.
TEST(ModemEmulator, PersistentCallerMeetsADialWaitsForAFreeLineAndStopsWhenAnswered) {
    ModemRig rig;
    rig.send("ATE0\r");
    rig.send("ATD1\r");
    rig.dte.clear();
    rig.modem->persistentCall(rig.now);
    EXPECT_EQ(rig.dte, "\r\nRING\r\n\r\nNO CARRIER\r\n"); // the dial lost the line
    EXPECT_EQ(rig.modem->state(), ModemEmulator::State::Ringing);
    EXPECT_EQ(rig.send("ATA\r"), "");
    EXPECT_EQ(rig.advance(50ms), "\r\nCONNECT 33600\r\n");
    EXPECT_FALSE(rig.modem->callerWaiting());
    EXPECT_TRUE(rig.modem->remoteHangUp());

    // A call is up: nothing rings until the line is free again.
    rig.dial("1");
    rig.modem->persistentCall(rig.now);
    EXPECT_EQ(rig.advance(2500ms), "");
    EXPECT_TRUE(rig.modem->remoteHangUp());
    EXPECT_EQ(rig.advance(1000ms), "\r\nRING\r\n");
    // Cut off unanswered (DTR drop), it calls again; after three tries it stops.
    rig.modem->dtrDropped();
    EXPECT_EQ(rig.advance(1000ms), "\r\nRING\r\n");
    rig.modem->dtrDropped();
    EXPECT_EQ(rig.advance(3000ms), "");
    EXPECT_FALSE(rig.modem->callerWaiting());
}

TEST(ModemEmulator, FarEndHangUpEndsTheCall) {
    ModemRig rig;
    rig.send("ATE0\r");
    rig.dial("1");
    rig.dte.clear();
    EXPECT_TRUE(rig.modem->remoteHangUp());
    EXPECT_EQ(rig.dte, "\r\nNO CARRIER\r\n");
    EXPECT_EQ(rig.calls, (std::vector<std::string>{"outgoing", "ended"}));
    EXPECT_FALSE(rig.modem->remoteHangUp());
}

TEST(ModemEmulator, DialOutcomeParsing) {
    const auto connect = DialOutcome::parse("connect 14400@250");
    ASSERT_TRUE(connect);
    EXPECT_EQ(connect->kind, DialOutcome::Kind::Connect);
    EXPECT_EQ(connect->rate, 14400);
    EXPECT_EQ(connect->delay, Millis(250));
    EXPECT_FALSE(DialOutcome::parse("CONNECT fast"));
    EXPECT_FALSE(DialOutcome::parse("BUSY@"));
    EXPECT_FALSE(DialOutcome::parse("RINGING"));
    EXPECT_EQ(ModemEmulator::normaliseNumber("T,(555) 12-34;"), "5551234");
}

TEST(ModemEmulator, DtrDropFollowsAmpersandD) {
    {
        ModemRig rig; // factory &D2: hang up
        rig.send("ATE0\r");
        rig.dial("1");
        rig.modem->dtrDropped();
        EXPECT_EQ(rig.modem->state(), ModemEmulator::State::Idle);
        EXPECT_EQ(rig.calls, (std::vector<std::string>{"outgoing", "ended"}));
    }
    {
        ModemRig rig;
        rig.send("ATE0&D1\r");
        rig.dial("1");
        rig.dte.clear();
        rig.modem->dtrDropped();
        EXPECT_EQ(rig.dte, "\r\nOK\r\n");
        EXPECT_EQ(rig.modem->state(), ModemEmulator::State::OnlineCommand);
    }
    {
        ModemRig rig;
        rig.send("ATE0&D0\r");
        rig.dial("1");
        rig.modem->dtrDropped();
        EXPECT_TRUE(rig.modem->online());
    }
    {
        ModemRig rig; // &D3 also restores the factory settings (echo on)
        rig.send("ATE0&D3\r");
        rig.modem->dtrDropped();
        EXPECT_EQ(rig.send("AT\r"), "AT\r\r\nOK\r\n");
    }
}
