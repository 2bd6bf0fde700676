#pragma once

// A Hayes-compatible data modem as seen from its serial side (the DTE).
//
// Offline it takes V.250 command lines ("AT" ... CR): echo (E), result code
// form (V, Q, X), S-registers, reset (Z, &F), identification (I, +GMI,
// +GMM), dial (D),
// answer (A), hang up (H), return online (O), and accepts the usual set-up
// commands (&C, &D, &K, &W, L, M) as no-ops. Several commands may share a
// line; "A/" repeats the last line; backspace (S5) edits the line.
//
// A dial ends, after a delay, in the outcome configured for the number
// (CONNECT with a rate, BUSY, NO ANSWER, NO CARRIER, NO DIALTONE, or a call
// back: NO CARRIER now and an incoming call a little later). An incoming call
// rings every ring interval until ATA (or S0 rings when S0 > 0).
//
// Online, every byte goes to the remote site, except the escape sequence:
// a guard time without data, "+++" (S2), and a guard time without data again
// switch to online command mode ("OK"); ATO resumes, ATH0 hangs up. The guard
// time is S12 fiftieths of a second, one second by default.
//
// The class is a pure state machine: bytes and the current time go in, output
// and call events come out through hooks, and nextDeadline() tells the caller
// when to call tick() again. Nothing here sleeps or reads a clock.

#include "tools/sitesim/JsonLog.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace sitesim {

using Clock = std::chrono::steady_clock;
using TimePoint = Clock::time_point;
using Millis = std::chrono::milliseconds;

struct DialOutcome {
    enum class Kind { Connect, Busy, NoAnswer, NoCarrier, NoDialtone, Callback };
    Kind kind = Kind::Connect;
    int rate = 0;                // CONNECT rate; 0 means the modem's connect rate
    std::optional<Millis> delay; // time until the outcome; none means the dial delay

    // "CONNECT", "CONNECT 9600", "BUSY", "NO ANSWER", "NO CARRIER",
    // "NO DIALTONE" or "CALLBACK", case-insensitive, each optionally followed
    // by "@<milliseconds>".
    static std::optional<DialOutcome> parse(std::string_view text);
};

struct ModemConfig {
    std::string productName = "SiteSim V.34 Data Modem"; // ATI3, AT+GMM
    std::string maker = "SiteSim";                       // AT+GMI
    int productCode = 33600;                             // ATI, ATI0
    int connectRate = 33600;
    Millis dialDelay{3000};
    Millis answerDelay{1500};
    Millis ringInterval{3000};
    int ringCount = 10; // rings before an unanswered caller gives up
    Millis guardTime{1000};
    Millis callbackDelay{5000};
    DialOutcome defaultOutcome;
    std::map<std::string, DialOutcome> numbers; // by dialled digits
};

class ModemEmulator {
public:
    enum class State { Idle, Dialing, Ringing, Answering, Online, OnlineCommand };

    struct Hooks {
        std::function<void(std::string_view)> toDte;
        std::function<void(std::span<const uint8_t>)> toSite;
        std::function<void(bool placedBySite)> callStarted;
        std::function<void()> callEnded;
        std::function<void(const JsonObject&)> log;
    };

    ModemEmulator(ModemConfig config, Hooks hooks);

    void fromDte(std::span<const uint8_t> bytes, TimePoint now);
    void tick(TimePoint now);
    std::optional<TimePoint> nextDeadline() const;

    // The far end calls; false when the line is not idle.
    bool incomingCall(TimePoint now);
    // The far end calls and keeps calling until it is answered, as sites that
    // report alarms do: it rings at once on an idle line; a dial under way
    // meets it on the line (RING, then the dial ends in NO CARRIER and the
    // line rings on); while a call is up, or when the ringing is cut off
    // unanswered, it calls again one ring interval after the line is free.
    // It gives up after ring-count tries.
    void persistentCall(TimePoint now);
    bool callerWaiting() const { return m_callerWaiting; }
    // The far end hangs up; true when a call (or call attempt) was ended.
    bool remoteHangUp();
    // The terminal dropped DTR (closed the port). As set by &D: 0 ignores it,
    // 1 leaves data mode for online command mode, 2 hangs up, 3 hangs up and
    // restores the factory settings.
    void dtrDropped();

    void setDefaultOutcome(const DialOutcome& outcome) { m_config.defaultOutcome = outcome; }
    State state() const { return m_state; }
    bool online() const { return m_state == State::Online; }
    bool callUp() const { return m_state == State::Online || m_state == State::OnlineCommand; }
    int rate() const { return m_callRate; }

    // Digits of a dial string: dial modifiers, punctuation and spaces removed.
    static std::string normaliseNumber(std::string_view dialString);
    static const char* stateName(State state);

private:
    enum class Result {
        Ok = 0,
        Connect = 1,
        Ring = 2,
        NoCarrier = 3,
        Error = 4,
        NoDialtone = 6,
        Busy = 7,
        NoAnswer = 8
    };

    void factoryReset();
    void commandByte(uint8_t byte, TimePoint now);
    void dataByte(uint8_t byte, TimePoint now);
    void flushHeldPlus();
    void flushForward();
    void execute(const std::string& line, TimePoint now);
    void dial(std::string_view dialString, TimePoint now);
    void answer(TimePoint now);
    void finishDial(TimePoint now);
    void connect(TimePoint now, bool placedBySite);
    void endCall();
    void ring(TimePoint now);
    void result(Result code);
    void info(std::string_view text);
    void setState(State state);
    void log(JsonObject entry);

    ModemConfig m_config;
    Hooks m_hooks;
    State m_state = State::Idle;

    // settings (factory values restored by Z and &F).
    bool m_echo = true;
    bool m_verbose = true;
    bool m_quiet = false;
    int m_xLevel = 4;
    int m_dtrMode = 2;
    std::array<uint8_t, 256> m_s{};
    Millis m_guard{1000};

    // Command line assembly.
    bool m_sawA = false;
    bool m_inLine = false;
    bool m_overflow = false;
    std::string m_line;
    std::string m_lastLine;

    // Calls and timers.
    std::optional<TimePoint> m_deadline; // dial outcome, answer, next ring
    std::optional<TimePoint> m_callbackAt;
    bool m_callerWaiting = false; // a persistent caller not yet answered
    int m_callerTries = 0;
    TimePoint m_callerRetryAt{};
    DialOutcome m_pendingOutcome;
    int m_rings = 0;
    int m_callRate = 0;
    bool m_placedBySite = false;

    // Escape detection while online.
    TimePoint m_lastData{};
    TimePoint m_lastPlus{};
    int m_plusCount = 0;
    std::vector<uint8_t> m_forward;
};

} // namespace sitesim
