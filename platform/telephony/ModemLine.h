#pragma once

// The worker that drives one open line's Hayes modem. It owns the port and a
// thread; the owner (on the UI thread) posts commands and receives events
// through a sink that runs on the worker thread (the owner queues them to the
// UI thread).
//
// Life of the modem:
//   setup (ATZ, then echo off, verbose codes, DCD follows carrier, DTR drop
//   hangs up, no auto-answer) -> idle; RING -> offering (a new call);
//   Dial -> "ATDT" -> dialing (a RING now only rings the line); Answer -> "ATA" -> answering; CONNECT ->
//   connected: the worker stops reading, the data stream belongs to the
//   caller, and only the far end hanging up is watched (carrier detect where
//   the device has modem lines, hang-up of the descriptor where it has none;
//   carrier reported by a device server counts once it has been seen on; on
//   raw TCP the modem's NO CARRIER line followed by silence, NoCarrierWatch.h).
//   Drop: DTR low where supported, else "+++" between guard times and "ATH0";
//   also both when a device server may have ignored the DTR drop.
// A network modem is connected on the worker, never on the owner's thread;
// one that cannot be reached makes the line dead at once.
// A device that does not answer the setup or goes away makes the line dead:
// a running call is reported disconnected, and the line reports Closed once
// no call is left.
//
// Shutdown order (destructor): abort flag, wake, join; the port closes last.

#include "platform/telephony/HayesTimings.h"
#include "platform/telephony/SerialPort.h"
#include "platform/telephony/TelephonyTypes.h"

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

struct ModemEvent {
    enum class Kind { Reply, CallState, Ring, Closed };
    Kind kind = Kind::Reply;
    tel::Call call = 0;
    std::uint32_t requestId = 0;
    std::int32_t result = 0;
    std::uint32_t state = 0;
    std::uint32_t detail = 0;
    bool newCall = false;   // Ring: the first ring of a new offered call
    std::uint32_t rate = 0; // CallState connected: the speed in the CONNECT line; 0 none
};

class ModemLine {
public:
    using Sink = std::function<void(const ModemEvent&)>;
    using HandleSource = std::function<tel::Call()>;
    // Opens the port on the worker thread; `wakeFd` becomes readable on abort.
    using Opener = std::function<std::optional<SerialPort>(int wakeFd)>;

    // Starts the worker; it sets the modem up first.
    ModemLine(SerialPort port, HayesTimings timings, Sink sink, HandleSource newCall);
    // Starts the worker; it opens the port with `open` first.
    ModemLine(Opener open, HayesTimings timings, Sink sink, HandleSource newCall);
    ~ModemLine();
    ModemLine(const ModemLine&) = delete;
    ModemLine& operator=(const ModemLine&) = delete;

    bool started() const { return m_thread.joinable(); }

    void Dial(tel::Call call, const std::string& number, int noAnswerMs, std::uint32_t requestId);
    void answer(tel::Call call, std::uint32_t requestId);
    void drop(tel::Call call, std::uint32_t requestId);
    // The owner forgot the call: hang it up quietly if it is still going.
    void release(tel::Call call);

    // A new descriptor of the port for the data stream of a connected call.
    int dataHandle() const { return m_port.reopen(); }
    bool dead() const { return m_dead.load(); }

private:
    enum class State { Idle, Offering, Dialing, Answering, Connected, Dead };
    struct Command {
        enum class Kind { Dial, Answer, Drop, Release } kind;
        tel::Call call = 0;
        std::string number;
        int noAnswerMs = 0;
        std::uint32_t requestId = 0;
    };

    void post(Command command);
    void run();
    bool setup();
    void handle(const Command& command);
    void onInput();
    void onResult(const AtResult& result);
    void endCall(std::uint32_t state, std::uint32_t detail);
    void hangUp();
    void lose();
    void emitEvent(ModemEvent event);
    void reply(std::uint32_t requestId, std::int32_t result);
    void callState(tel::Call call, std::uint32_t state, std::uint32_t detail, std::uint32_t rate = 0);
    // Sends a command and waits for its final result; nullopt on time-out,
    // abort or loss (loss also sets m_lost).
    std::optional<AtResult> exchange(std::string_view text, int waitMs);
    std::optional<AtResult> awaitResult(int waitMs);
    bool send(std::string_view text);
    void pause(int ms);
    void checkTimers();
    void connected(std::uint32_t rate);

    Opener m_open;
    SerialPort m_port; // set by the worker before it reports anything
    const HayesTimings m_timings;
    const Sink m_sink;
    const HandleSource m_newCall;

    // Shared with the UI thread.
    std::mutex m_mutex;
    std::deque<Command> m_commands;
    std::atomic<bool> m_abort{false};
    std::atomic<bool> m_dead{false};
    int m_commandFd = -1; // eventfd: a command was posted
    int m_abortFd = -1;   // eventfd: stop now

    // Worker thread only.
    State m_state = State::Idle;
    tel::Call m_call = 0;
    bool m_closePending = false; // dead with a call: report Closed once it is released
    bool m_lost = false;
    bool m_watchCarrier = false;
    bool m_carrierSeen = false;
    SteadyTime m_deadline{};
    AtResultParser m_parser;
    std::thread m_thread;
};
