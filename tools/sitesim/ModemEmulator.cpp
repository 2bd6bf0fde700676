#include "tools/sitesim/ModemEmulator.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

namespace sitesim {

namespace {

constexpr size_t kMaxLine = 160;
// S-registers used here: S0 rings to auto-answer, S1 ring count, S2 escape
// character, S3 line end, S4 line feed, S5 backspace, S12 guard time.
constexpr int kRegRings = 1, kRegEscape = 2, kRegCr = 3, kRegLf = 4, kRegBs = 5, kRegGuard = 12;

std::string upper(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        c = char(std::toupper(static_cast<unsigned char>(c)));
    return out;
}

std::string trim(std::string_view text) {
    while (!text.empty() && text.front() == ' ')
        text.remove_prefix(1);
    while (!text.empty() && text.back() == ' ')
        text.remove_suffix(1);
    return std::string(text);
}

} // namespace

std::optional<DialOutcome> DialOutcome::parse(std::string_view text) {
    DialOutcome outcome;
    std::string body = upper(text);
    if (const auto at = body.find('@'); at != std::string::npos) {
        const std::string ms = trim(std::string_view(body).substr(at + 1));
        if (ms.empty() || ms.size() > 7 || !std::all_of(ms.begin(), ms.end(), ::isdigit))
            return std::nullopt;
        outcome.delay = Millis(std::stol(ms));
        body.resize(at);
    }
    body = trim(body);
    if (body.rfind("CONNECT", 0) == 0) {
        const std::string rate = trim(std::string_view(body).substr(7));
        if (!rate.empty()) {
            if (rate.size() > 7 || !std::all_of(rate.begin(), rate.end(), ::isdigit))
                return std::nullopt;
            outcome.rate = std::stoi(rate);
        }
        outcome.kind = Kind::Connect;
    } else if (body == "BUSY") {
        outcome.kind = Kind::Busy;
    } else if (body == "NO ANSWER") {
        outcome.kind = Kind::NoAnswer;
    } else if (body == "NO CARRIER") {
        outcome.kind = Kind::NoCarrier;
    } else if (body == "NO DIALTONE") {
        outcome.kind = Kind::NoDialtone;
    } else if (body == "CALLBACK") {
        outcome.kind = Kind::Callback;
    } else {
        return std::nullopt;
    }
    return outcome;
}

ModemEmulator::ModemEmulator(ModemConfig config, Hooks hooks)
    : m_config(std::move(config))
    , m_hooks(std::move(hooks)) {
    factoryReset();
}

const char* ModemEmulator::stateName(State state) {
    switch (state) {
    case State::Idle:
        return "idle";
    case State::Dialing:
        return "dialing";
    case State::Ringing:
        return "ringing";
    case State::Answering:
        return "answering";
    case State::Online:
        return "online";
    case State::OnlineCommand:
        return "online-command";
    }
    return "?";
}

std::string ModemEmulator::normaliseNumber(std::string_view dialString) {
    std::string digits;
    for (const char c : dialString) {
        if (std::isdigit(static_cast<unsigned char>(c)) || c == '*' || c == '#')
            digits += c;
    }
    return digits;
}

void ModemEmulator::factoryReset() {
    m_echo = true;
    m_verbose = true;
    m_quiet = false;
    m_xLevel = 4;
    m_dtrMode = 2;
    m_s.fill(0);
    m_s[kRegEscape] = '+';
    m_s[kRegCr] = '\r';
    m_s[kRegLf] = '\n';
    m_s[kRegBs] = 8;
    m_s[6] = 2;  // wait for dial tone, seconds
    m_s[7] = 50; // wait for carrier, seconds
    m_s[8] = 2;  // comma pause, seconds
    m_s[10] = 14;
    m_guard = m_config.guardTime;
    m_s[kRegGuard] = uint8_t(std::clamp<long>(m_guard.count() / 20, 0, 255));
}

void ModemEmulator::log(JsonObject entry) {
    if (m_hooks.log)
        m_hooks.log(entry);
}

void ModemEmulator::setState(State state) {
    if (state == m_state)
        return;
    m_state = state;
    log(JsonObject("modem").add("state", stateName(state)));
}

void ModemEmulator::result(Result code) {
    static constexpr const char* kNames[] = {"OK", "CONNECT",     "RING", "NO CARRIER", "ERROR",
                                             "",   "NO DIALTONE", "BUSY", "NO ANSWER"};
    std::string text = kNames[int(code)];
    if (code == Result::Connect && m_xLevel >= 1 && m_callRate > 0)
        text += " " + std::to_string(m_callRate);
    log(JsonObject("result").add("text", text).add("suppressed", m_quiet));
    if (m_quiet || !m_hooks.toDte)
        return;
    const char cr = char(m_s[kRegCr]), lf = char(m_s[kRegLf]);
    if (m_verbose)
        m_hooks.toDte(std::string{cr, lf} + text + std::string{cr, lf});
    else
        m_hooks.toDte(std::to_string(int(code)) + cr);
}

void ModemEmulator::info(std::string_view text) {
    if (m_quiet || !m_hooks.toDte)
        return;
    const char cr = char(m_s[kRegCr]), lf = char(m_s[kRegLf]);
    if (m_verbose)
        m_hooks.toDte(std::string{cr, lf} + std::string(text) + std::string{cr, lf});
    else
        m_hooks.toDte(std::string(text) + std::string{cr, lf});
}

void ModemEmulator::fromDte(std::span<const uint8_t> bytes, TimePoint now) {
    tick(now);
    for (const uint8_t byte : bytes) {
        switch (m_state) {
        case State::Online:
            dataByte(byte, now);
            break;
        case State::Dialing:
        case State::Answering:
            // Any character aborts a call attempt.
            log(JsonObject("call").add("action", "aborted"));
            m_deadline.reset();
            setState(State::Idle);
            result(Result::NoCarrier);
            break;
        default:
            commandByte(byte, now);
        }
    }
    flushForward();
}

void ModemEmulator::commandByte(uint8_t byte, TimePoint now) {
    const bool echo = m_echo && m_hooks.toDte;
    if (!m_inLine) {
        if (echo)
            m_hooks.toDte(std::string(1, char(byte)));
        if (m_sawA && (byte == 'T' || byte == 't')) {
            m_inLine = true;
            m_overflow = false;
            m_line.clear();
            m_sawA = false;
        } else if (m_sawA && byte == '/') {
            m_sawA = false;
            execute(m_lastLine, now);
        } else {
            m_sawA = byte == 'A' || byte == 'a';
        }
        return;
    }
    if (byte == m_s[kRegCr]) {
        if (echo)
            m_hooks.toDte(std::string(1, char(byte)));
        m_inLine = false;
        if (m_overflow) {
            log(JsonObject("command").add("line", "AT" + m_line).add("overflow", true));
            result(Result::Error);
            return;
        }
        m_lastLine = m_line;
        execute(m_line, now);
    } else if (byte == m_s[kRegBs]) {
        if (!m_line.empty()) {
            m_line.pop_back();
            if (echo)
                m_hooks.toDte(std::string{char(byte), ' ', char(byte)});
        }
    } else if (byte >= 0x20 && byte != 0x7f) {
        if (echo)
            m_hooks.toDte(std::string(1, char(byte)));
        if (m_line.size() < kMaxLine)
            m_line += char(byte);
        else
            m_overflow = true;
    }
}

void ModemEmulator::execute(const std::string& line, TimePoint now) {
    log(JsonObject("command").add("line", "AT" + line));
    size_t i = 0;
    const auto skipSpaces = [&] {
        while (i < line.size() && line[i] == ' ')
            ++i;
    };
    // The decimal argument of a command; `fallback` when it has none, -1 when
    // it is too long to be valid.
    const auto number = [&](int fallback) {
        skipSpaces();
        if (i >= line.size() || !std::isdigit(static_cast<unsigned char>(line[i])))
            return fallback;
        long value = 0;
        while (i < line.size() && std::isdigit(static_cast<unsigned char>(line[i]))) {
            value = std::min<long>(value * 10 + (line[i] - '0'), 100000);
            ++i;
        }
        return value > 65535 ? -1 : int(value);
    };
    const auto inRange = [](int value, int max) {
        return value >= 0 && value <= max;
    };

    while (i < line.size()) {
        const char c = char(std::toupper(static_cast<unsigned char>(line[i++])));
        switch (c) {
        case ' ':
            break;
        case 'A':
            answer(now);
            return;
        case 'D':
            dial(std::string_view(line).substr(i), now);
            return;
        case 'E':
        case 'Q':
        case 'V': {
            const int v = number(0);
            if (!inRange(v, 1))
                return result(Result::Error);
            (c == 'E' ? m_echo : c == 'Q' ? m_quiet : m_verbose) = v == 1;
            break;
        }
        case 'X': {
            const int v = number(0);
            if (!inRange(v, 4))
                return result(Result::Error);
            m_xLevel = v;
            break;
        }
        case 'L':
        case 'M':
            if (!inRange(number(0), 3))
                return result(Result::Error);
            break;
        case 'H':
            if (number(0) != 0)
                return result(Result::Error);
            if (callUp()) {
                endCall();
            } else if (m_state == State::Ringing) {
                m_deadline.reset();
                setState(State::Idle);
            }
            break;
        case 'O':
            if (!inRange(number(0), 1) || m_state != State::OnlineCommand)
                return result(Result::Error);
            result(Result::Connect);
            m_plusCount = 0;
            m_lastData = now;
            setState(State::Online);
            return;
        case 'Z':
            if (number(0) < 0)
                return result(Result::Error);
            if (callUp())
                endCall();
            factoryReset();
            return result(Result::Ok);
        case 'I': {
            // As most modems: I0 is a product code, I3 the model's name.
            const int v = number(0);
            if (!inRange(v, 9))
                return result(Result::Error);
            info(v == 0 ? std::to_string(m_config.productCode) : m_config.productName);
            break;
        }
        case '+': {
            // Extended identification: +GMI (maker), +GMM (model); nothing else.
            std::string name;
            while (i < line.size() && std::isalpha(static_cast<unsigned char>(line[i])))
                name += char(std::toupper(static_cast<unsigned char>(line[i++])));
            if (name == "GMI")
                info(m_config.maker);
            else if (name == "GMM")
                info(m_config.productName);
            else
                return result(Result::Error);
            break;
        }
        case 'S': {
            const int reg = number(-1);
            if (!inRange(reg, 255))
                return result(Result::Error);
            skipSpaces();
            if (i < line.size() && line[i] == '?') {
                ++i;
                char buf[8];
                std::snprintf(buf, sizeof buf, "%03d", m_s[size_t(reg)]);
                info(buf);
            } else if (i < line.size() && line[i] == '=') {
                ++i;
                const int value = number(0);
                if (!inRange(value, 255))
                    return result(Result::Error);
                m_s[size_t(reg)] = uint8_t(value);
                if (reg == kRegGuard)
                    m_guard = Millis(value * 20);
            } else {
                return result(Result::Error);
            }
            break;
        }
        case '&': {
            if (i >= line.size())
                return result(Result::Error);
            const char sub = char(std::toupper(static_cast<unsigned char>(line[i++])));
            const int v = number(0);
            const bool ok = (sub == 'C' && inRange(v, 1)) || (sub == 'D' && inRange(v, 3)) ||
                            (sub == 'F' && v == 0) || (sub == 'K' && inRange(v, 6)) ||
                            (sub == 'W' && inRange(v, 1));
            if (!ok)
                return result(Result::Error);
            if (sub == 'F')
                factoryReset();
            if (sub == 'D')
                m_dtrMode = v;
            break;
        }
        default:
            return result(Result::Error);
        }
    }
    result(Result::Ok);
}

void ModemEmulator::dial(std::string_view dialString, TimePoint now) {
    if (m_state != State::Idle)
        return result(Result::Error);
    const std::string number = normaliseNumber(dialString);
    const auto rule = m_config.numbers.find(number);
    m_pendingOutcome = rule != m_config.numbers.end() ? rule->second : m_config.defaultOutcome;
    m_deadline = now + m_pendingOutcome.delay.value_or(m_config.dialDelay);
    log(JsonObject("call").add("action", "dial").add("number", number));
    setState(State::Dialing);
}

void ModemEmulator::answer(TimePoint now) {
    if (m_state != State::Ringing)
        return result(callUp() ? Result::Error : Result::NoCarrier);
    log(JsonObject("call").add("action", "answer"));
    m_deadline = now + m_config.answerDelay;
    setState(State::Answering);
}

void ModemEmulator::finishDial(TimePoint now) {
    const DialOutcome& outcome = m_pendingOutcome;
    using Kind = DialOutcome::Kind;
    if (outcome.kind == Kind::Connect) {
        m_callRate = outcome.rate > 0 ? outcome.rate : m_config.connectRate;
        connect(now, false);
        return;
    }
    setState(State::Idle);
    switch (outcome.kind) {
    case Kind::Busy:
        result(m_xLevel >= 3 ? Result::Busy : Result::NoCarrier);
        break;
    case Kind::NoAnswer:
        result(m_xLevel >= 1 ? Result::NoAnswer : Result::NoCarrier);
        break;
    case Kind::NoDialtone:
        result(m_xLevel == 2 || m_xLevel == 4 ? Result::NoDialtone : Result::NoCarrier);
        break;
    case Kind::Callback:
        m_callbackAt = now + m_config.callbackDelay;
        log(JsonObject("call")
                .add("action", "callback-scheduled")
                .add("ms", int64_t(m_config.callbackDelay.count())));
        result(Result::NoCarrier);
        break;
    default:
        result(Result::NoCarrier);
    }
}

void ModemEmulator::connect(TimePoint now, bool placedBySite) {
    m_deadline.reset();
    m_plusCount = 0;
    m_lastData = now;
    m_placedBySite = placedBySite;
    if (placedBySite)
        m_callerWaiting = false; // answered: the caller got through
    result(Result::Connect);
    setState(State::Online);
    log(JsonObject("call")
            .add("action", "connected")
            .add("rate", m_callRate)
            .add("placedBySite", placedBySite));
    if (m_hooks.callStarted)
        m_hooks.callStarted(placedBySite);
}

void ModemEmulator::endCall() {
    m_plusCount = 0;
    m_forward.clear();
    setState(State::Idle);
    log(JsonObject("call").add("action", "ended"));
    if (m_hooks.callEnded)
        m_hooks.callEnded();
}

bool ModemEmulator::remoteHangUp() {
    switch (m_state) {
    case State::Online:
    case State::OnlineCommand:
        endCall();
        result(Result::NoCarrier);
        return true;
    case State::Dialing:
    case State::Ringing:
    case State::Answering:
        m_deadline.reset();
        setState(State::Idle);
        result(Result::NoCarrier);
        return true;
    case State::Idle:
        break;
    }
    return false;
}

void ModemEmulator::dtrDropped() {
    log(JsonObject("dtr").add("mode", m_dtrMode));
    if (m_dtrMode == 0)
        return;
    if (m_dtrMode == 1) {
        if (m_state == State::Online) {
            flushHeldPlus();
            flushForward();
            setState(State::OnlineCommand);
            result(Result::Ok);
        }
        return;
    }
    if (callUp())
        endCall();
    else if (m_state != State::Idle) {
        m_deadline.reset();
        setState(State::Idle);
    }
    m_inLine = false;
    m_sawA = false;
    if (m_dtrMode == 3)
        factoryReset();
}

bool ModemEmulator::incomingCall(TimePoint now) {
    if (m_state != State::Idle)
        return false;
    m_rings = 0;
    m_callRate = m_config.connectRate;
    setState(State::Ringing);
    ring(now);
    return true;
}

void ModemEmulator::persistentCall(TimePoint now) {
    m_callerWaiting = true;
    m_callerTries = 1;
    m_callerRetryAt = now + m_config.ringInterval;
    if (m_state == State::Dialing) {
        // Both ends took the line in the same moment: the caller's ring wins.
        log(JsonObject("call").add("action", "collision"));
        m_deadline.reset();
        setState(State::Idle);
        incomingCall(now);
        result(Result::NoCarrier);
        return;
    }
    if (!incomingCall(now))
        log(JsonObject("call").add("action", "caller-waiting").add("reason", "line busy"));
}

void ModemEmulator::ring(TimePoint now) {
    ++m_rings;
    m_s[kRegRings] = uint8_t(std::min(m_rings, 255));
    log(JsonObject("ring").add("count", m_rings));
    result(Result::Ring);
    m_deadline = now + m_config.ringInterval;
    if (m_s[0] > 0 && m_rings >= m_s[0])
        answer(now);
}

void ModemEmulator::tick(TimePoint now) {
    if (m_state == State::Online && m_plusCount > 0 && now - m_lastPlus >= m_guard) {
        if (m_plusCount == 3) {
            m_plusCount = 0;
            setState(State::OnlineCommand);
            log(JsonObject("escape"));
            result(Result::Ok);
        } else {
            flushHeldPlus();
            flushForward();
        }
    }
    if (m_deadline && now >= *m_deadline) {
        switch (m_state) {
        case State::Dialing:
            m_deadline.reset();
            finishDial(now);
            break;
        case State::Answering:
            connect(now, true);
            break;
        case State::Ringing:
            if (m_rings >= m_config.ringCount) {
                m_deadline.reset();
                log(JsonObject("call").add("action", "caller-gave-up"));
                setState(State::Idle);
            } else {
                ring(now);
            }
            break;
        default:
            m_deadline.reset();
        }
    }
    if (m_callerWaiting && now >= m_callerRetryAt) {
        m_callerRetryAt = now + m_config.ringInterval;
        if (m_state == State::Idle) {
            if (m_callerTries >= m_config.ringCount) {
                m_callerWaiting = false;
                log(JsonObject("call").add("action", "caller-gave-up"));
            } else {
                ++m_callerTries;
                incomingCall(now);
            }
        }
    }
    if (m_callbackAt && now >= *m_callbackAt) {
        m_callbackAt.reset();
        if (!incomingCall(now))
            log(JsonObject("call").add("action", "callback-dropped").add("reason", "line busy"));
    }
}

std::optional<TimePoint> ModemEmulator::nextDeadline() const {
    std::optional<TimePoint> next = m_deadline;
    const auto consider = [&next](TimePoint t) {
        if (!next || t < *next)
            next = t;
    };
    if (m_callbackAt)
        consider(*m_callbackAt);
    if (m_callerWaiting)
        consider(m_callerRetryAt);
    if (m_state == State::Online && m_plusCount > 0)
        consider(m_lastPlus + m_guard);
    return next;
}

void ModemEmulator::dataByte(uint8_t byte, TimePoint now) {
    const uint8_t escape = m_s[kRegEscape];
    if (m_plusCount > 0 && (byte != escape || m_plusCount == 3 || now - m_lastPlus >= m_guard))
        flushHeldPlus();
    if (byte == escape && escape <= 127 && m_plusCount == 0 && now - m_lastData >= m_guard) {
        m_plusCount = 1;
        m_lastPlus = now;
    } else if (byte == escape && m_plusCount > 0) {
        ++m_plusCount;
        m_lastPlus = now;
    } else {
        m_forward.push_back(byte);
    }
    m_lastData = now;
}

void ModemEmulator::flushHeldPlus() {
    m_forward.insert(m_forward.end(), size_t(m_plusCount), m_s[kRegEscape]);
    m_plusCount = 0;
}

void ModemEmulator::flushForward() {
    if (m_forward.empty())
        return;
    if (m_hooks.toSite)
        m_hooks.toSite(m_forward);
    m_forward.clear();
}

} // namespace sitesim
