#include "platform/telephony/ModemLine.h"

#include "platform/log/DialscopeLog.h"

#include <cerrno>
#include <cstring>
#include <poll.h>
#include <sys/eventfd.h>
#include <system_error>
#include <unistd.h>

using namespace tel;

namespace {

SteadyTime After(int ms) {
    return std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
}

int remainingMs(SteadyTime deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now())
            .count();
    return left <= 0 ? 0 : static_cast<int>(std::min<long long>(left, 60'000));
}

void signalFd(int fd) {
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = ::write(fd, &one, sizeof one);
}

void drain(int fd) {
    std::uint64_t value;
    [[maybe_unused]] const ssize_t n = ::read(fd, &value, sizeof value);
}

} // namespace

ModemLine::ModemLine(SerialPort port, HayesTimings timings, Sink sink, HandleSource newCall)
    : ModemLine([shared = std::make_shared<SerialPort>(std::move(port))](
                    int) -> std::optional<SerialPort> { return std::move(*shared); },
                timings, std::move(sink), std::move(newCall)) {}

ModemLine::ModemLine(Opener open, HayesTimings timings, Sink sink, HandleSource newCall)
    : m_open(std::move(open))
    , m_timings(timings)
    , m_sink(std::move(sink))
    , m_newCall(std::move(newCall)) {
    m_commandFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    m_abortFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (m_commandFd < 0 || m_abortFd < 0)
        return;
    try {
        m_thread = std::thread(&ModemLine::run, this);
    } catch (const std::system_error&) {
        // started() stays false; the owner refuses to open the line.
    }
}

ModemLine::~ModemLine() {
    m_abort = true;
    if (m_abortFd >= 0)
        signalFd(m_abortFd);
    if (m_thread.joinable())
        m_thread.join();
    if (m_commandFd >= 0)
        ::close(m_commandFd);
    if (m_abortFd >= 0)
        ::close(m_abortFd);
}

void ModemLine::post(Command command) {
    {
        std::lock_guard lock(m_mutex);
        m_commands.push_back(std::move(command));
    }
    signalFd(m_commandFd);
}

void ModemLine::Dial(Call call, const std::string& number, int noAnswerMs, std::uint32_t requestId) {
    post({Command::Kind::Dial, call, number, noAnswerMs, requestId});
}

void ModemLine::answer(Call call, std::uint32_t requestId) {
    post({Command::Kind::Answer, call, {}, 0, requestId});
}

void ModemLine::drop(Call call, std::uint32_t requestId) {
    post({Command::Kind::Drop, call, {}, 0, requestId});
}

void ModemLine::release(Call call) {
    post({Command::Kind::Release, call, {}, 0, 0});
}

void ModemLine::emitEvent(ModemEvent event) {
    if (!m_abort)
        m_sink(event);
}

void ModemLine::reply(std::uint32_t requestId, std::int32_t result) {
    ModemEvent event;
    event.kind = ModemEvent::Kind::Reply;
    event.requestId = requestId;
    event.result = result;
    emitEvent(event);
}

void ModemLine::callState(Call call, std::uint32_t state, std::uint32_t detail, std::uint32_t rate) {
    ModemEvent event;
    event.kind = ModemEvent::Kind::CallState;
    event.call = call;
    event.state = state;
    event.detail = detail;
    event.rate = rate;
    emitEvent(event);
}

bool ModemLine::send(std::string_view text) {
    const SerialPort::Io io = m_port.writeAll(text, After(m_timings.commandMs), m_abortFd);
    if (io == SerialPort::Io::Lost)
        m_lost = true;
    return io == SerialPort::Io::Done;
}

std::optional<AtResult> ModemLine::awaitResult(int waitMs) {
    SerialPort::Io io;
    std::optional<AtResult> result = awaitFinal(m_port, m_parser, After(waitMs), m_abortFd, io);
    if (io == SerialPort::Io::Lost)
        m_lost = true;
    return result;
}

std::optional<AtResult> ModemLine::exchange(std::string_view text, int waitMs) {
    if (!send(text))
        return std::nullopt;
    return awaitResult(waitMs);
}

void ModemLine::pause(int ms) {
    pollfd abortFd{m_abortFd, POLLIN, 0};
    const SteadyTime until = After(ms);
    while (!m_abort && remainingMs(until) > 0)
        poll(&abortFd, 1, remainingMs(until));
}

bool ModemLine::setup() {
    m_port.flushInput();
    if (!exchange("ATZ\r", m_timings.commandMs))
        return false;
    const std::optional<AtResult> setup = exchange("ATE0V1&C1&D2S0=0\r", m_timings.commandMs);
    if (!setup)
        return false;
    // A modem without &C/&D still does the rest.
    if (setup->kind != AtResultKind::Ok && !exchange("ATE0V1S0=0\r", m_timings.commandMs))
        return false;
    m_port.setDtr(true);
    return true;
}

void ModemLine::run() {
    std::optional<SerialPort> port = m_open(m_abortFd);
    m_open = nullptr;
    bool setUp = false;
    if (port) {
        m_port = std::move(*port);
        setUp = setup();
        if (!setUp && !m_abort)
            qCWarning(lcTelephony, "the modem %s",
                      m_lost ? "port failed during its set-up" : "did not answer its set-up commands");
    }
    if (!setUp && !m_abort)
        lose();
    while (!m_abort) {
        pollfd fds[3] = {{m_abortFd, POLLIN, 0}, {m_commandFd, POLLIN, 0}, {m_port.fd(), POLLIN, 0}};
        nfds_t count = 3;
        if (m_state == State::Dead)
            count = 2; // a dead port keeps signalling its hang-up
        else if (m_state == State::Connected)
            fds[2].events = POLLRDHUP; // the data belongs to the call; only a hang-up wakes us

        int timeout = -1;
        if (m_state == State::Offering || m_state == State::Dialing || m_state == State::Answering)
            timeout = remainingMs(m_deadline);
        else if (m_state == State::Connected && m_watchCarrier)
            timeout = m_timings.carrierPollMs;

        const int ready = poll(fds, count, timeout);
        if (m_abort)
            break;
        if (ready < 0 && errno != EINTR) {
            qCWarning(lcTelephony, "waiting on the modem port failed: %s", std::strerror(errno));
            lose();
            continue;
        }
        if (ready > 0 && (fds[1].revents & POLLIN)) {
            drain(m_commandFd);
            std::deque<Command> commands;
            {
                std::lock_guard lock(m_mutex);
                commands.swap(m_commands);
            }
            for (const Command& command : commands) {
                if (m_abort)
                    break;
                handle(command);
            }
            continue; // the port's readiness may have changed meanwhile
        }
        if (ready > 0 && count == 3 && fds[2].revents) {
            if (fds[2].revents & POLLIN)
                onInput();
            else
                lose();
        }
        if (!m_abort && m_state != State::Dead)
            checkTimers();
    }
}

void ModemLine::handle(const Command& command) {
    switch (command.kind) {
    case Command::Kind::Dial: {
        if (m_state != State::Idle) {
            reply(command.requestId,
                  m_state == State::Dead ? LINEERR_OPERATIONFAILED : LINEERR_RESOURCEUNAVAIL);
            return;
        }
        m_parser.reset();
        if (!send("ATDT" + command.number + "\r")) {
            reply(command.requestId, LINEERR_OPERATIONFAILED);
            if (m_lost)
                lose();
            return;
        }
        m_call = command.call;
        m_state = State::Dialing;
        m_deadline = After(command.noAnswerMs);
        reply(command.requestId, LINEERR_OK);
        callState(m_call, LINECALLSTATE_DIALING, 0);
        callState(m_call, LINECALLSTATE_PROCEEDING, 0);
        return;
    }
    case Command::Kind::Answer:
        if (m_state != State::Offering || command.call != m_call) {
            reply(command.requestId, LINEERR_INVALCALLSTATE);
            return;
        }
        m_parser.reset();
        if (!send("ATA\r")) {
            reply(command.requestId, LINEERR_OPERATIONFAILED);
            if (m_lost)
                lose();
            return;
        }
        m_state = State::Answering;
        m_deadline = After(m_timings.answerMs);
        reply(command.requestId, LINEERR_OK);
        return;
    case Command::Kind::Drop:
        if (command.call == m_call && m_state != State::Idle && m_state != State::Dead)
            hangUp();
        reply(command.requestId, LINEERR_OK);
        callState(command.call, LINECALLSTATE_IDLE, 0);
        return;
    case Command::Kind::Release:
        if (command.call == m_call && m_state != State::Idle && m_state != State::Dead)
            hangUp();
        if (m_state == State::Dead && m_closePending) {
            m_closePending = false;
            emitEvent({ModemEvent::Kind::Closed});
        }
        return;
    }
}

void ModemLine::hangUp() {
    switch (m_state) {
    case State::Offering:
        exchange("ATH0\r", m_timings.commandMs);
        break;
    case State::Dialing:
    case State::Answering:
        // Any character ends a dial or an answer attempt.
        if (send("\r")) {
            awaitResult(m_timings.commandMs);
            if (!m_lost)
                exchange("ATH0\r", m_timings.commandMs);
        }
        break;
    case State::Connected: {
        const bool dropped = m_port.hasModemLines() && m_port.setDtr(false);
        if (dropped) {
            pause(m_timings.dtrDropMs);
            m_port.setDtr(true);
            m_port.flushInput();
        }
        if (!dropped || m_port.mayStillBeOnline()) {
            pause(m_timings.guardMs);
            m_parser.reset();
            if (send("+++")) {
                awaitResult(m_timings.guardMs + m_timings.commandMs);
                if (!m_lost)
                    exchange("ATH0\r", m_timings.commandMs);
            }
        }
        break;
    }
    case State::Idle:
    case State::Dead:
        break;
    }
    m_call = 0;
    m_parser.reset();
    m_port.watchNoCarrier(false, 0);
    if (m_lost) {
        m_state = State::Dead;
        m_dead = true;
        m_closePending = true;
    } else {
        m_state = State::Idle;
    }
}

void ModemLine::lose() {
    if (m_state == State::Dead)
        return;
    const bool hadCall = m_state != State::Idle && m_call != 0;
    if (hadCall) {
        callState(m_call, LINECALLSTATE_DISCONNECTED,
                  m_state == State::Connected ? LINEDISCONNECTMODE_NORMAL : LINEDISCONNECTMODE_UNAVAIL);
        m_closePending = true;
    }
    m_state = State::Dead;
    m_dead = true;
    m_call = 0;
    if (!hadCall)
        emitEvent({ModemEvent::Kind::Closed});
}

void ModemLine::endCall(std::uint32_t state, std::uint32_t detail) {
    m_port.watchNoCarrier(false, 0);
    callState(m_call, state, detail);
    m_call = 0;
    m_state = State::Idle;
    m_parser.reset();
}

void ModemLine::onInput() {
    // While a call is being set up, read byte by byte so that nothing after
    // CONNECT is taken from the data stream.
    const bool settingUp = m_state == State::Dialing || m_state == State::Answering;
    std::vector<AtResult> lines;
    for (;;) {
        char buffer[256];
        const ssize_t n = ::read(m_port.fd(), buffer, settingUp ? 1 : sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno == EAGAIN)
            return;
        if (n <= 0) {
            if (m_state != State::Dead)
                qCWarning(lcTelephony, "the modem port %s", n == 0 ? "hung up" : std::strerror(errno));
            lose();
            return;
        }
        lines.clear();
        m_parser.feed(buffer, static_cast<std::size_t>(n), lines);
        for (const AtResult& line : lines) {
            onResult(line);
            if (m_state == State::Connected || m_state == State::Dead)
                return;
        }
        if (!settingUp)
            return;
    }
}

void ModemLine::onResult(const AtResult& result) {
    switch (m_state) {
    case State::Idle:
        if (result.kind == AtResultKind::Ring) {
            m_call = m_newCall();
            m_state = State::Offering;
            m_deadline = After(m_timings.ringGapMs);
            ModemEvent event{ModemEvent::Kind::Ring, m_call};
            event.newCall = true;
            emitEvent(event);
        }
        return;
    case State::Offering:
        if (result.kind == AtResultKind::Ring) {
            m_deadline = After(m_timings.ringGapMs);
            emitEvent({ModemEvent::Kind::Ring, m_call});
        } else if (result.kind == AtResultKind::NoCarrier) {
            endCall(LINECALLSTATE_DISCONNECTED, LINEDISCONNECTMODE_NORMAL);
        }
        return;
    case State::Dialing:
    case State::Answering:
        switch (result.kind) {
        case AtResultKind::Connect:
            connected(connectRate(result.text));
            return;
        case AtResultKind::Busy:
            endCall(LINECALLSTATE_BUSY, LINEBUSYMODE_UNAVAIL);
            return;
        case AtResultKind::NoAnswer:
            endCall(LINECALLSTATE_DISCONNECTED, LINEDISCONNECTMODE_NOANSWER);
            return;
        case AtResultKind::NoDialtone:
            endCall(LINECALLSTATE_DISCONNECTED, LINEDISCONNECTMODE_NODIALTONE);
            return;
        case AtResultKind::NoCarrier:
        case AtResultKind::Error:
        case AtResultKind::Ok:
            endCall(LINECALLSTATE_DISCONNECTED, LINEDISCONNECTMODE_UNAVAIL);
            return;
        case AtResultKind::Ring:
            // A call came in as this one was placed: the line rings. The
            // owner hears of it (the line device rings) and decides whether
            // to give up the dial for it.
            if (m_state == State::Dialing)
                emitEvent({ModemEvent::Kind::Ring, m_call});
            return;
        case AtResultKind::Echo:
        case AtResultKind::Text:
            return;
        }
        return;
    case State::Connected:
    case State::Dead:
        return;
    }
}

void ModemLine::checkTimers() {
    const bool due = remainingMs(m_deadline) == 0;
    switch (m_state) {
    case State::Offering:
        if (due) // the caller gave up before we answered
            endCall(LINECALLSTATE_DISCONNECTED, LINEDISCONNECTMODE_NORMAL);
        return;
    case State::Dialing:
    case State::Answering: {
        if (!due)
            return;
        // Nobody answered in time: end the attempt (any character does).
        std::optional<AtResult> result;
        if (send("\r"))
            result = awaitResult(m_timings.commandMs);
        if (m_lost) {
            lose();
        } else if (result && result->kind == AtResultKind::Connect) {
            connected(connectRate(result->text));
        } else {
            endCall(LINECALLSTATE_DISCONNECTED, LINEDISCONNECTMODE_NOANSWER);
        }
        return;
    }
    case State::Connected:
        if (!m_watchCarrier)
            return;
        if (m_port.carrierDetect())
            m_carrierSeen = true;
        else if (m_carrierSeen)
            endCall(LINECALLSTATE_DISCONNECTED, LINEDISCONNECTMODE_NORMAL);
        return;
    case State::Idle:
    case State::Dead:
        return;
    }
}

void ModemLine::connected(std::uint32_t rate) {
    m_state = State::Connected;
    // Raw TCP has no carrier line: the modem's NO CARRIER result stands in.
    m_port.watchNoCarrier(true, m_timings.noCarrierQuietMs);
    // A local port shows carrier at CONNECT. A device server reports it in its
    // own time (some poll the lines once a second), so there carrier loss
    // counts only after carrier was reported on.
    m_carrierSeen = m_port.carrierDetect();
    m_watchCarrier = m_carrierSeen || m_port.kind() == SerialPort::Transport::Rfc2217 ||
                     m_port.kind() == SerialPort::Transport::RawTcp;
    callState(m_call, LINECALLSTATE_CONNECTED, 0, rate);
}
