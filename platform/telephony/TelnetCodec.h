#pragma once

// The Telnet framing a serial device server speaks (RFC 854 with the
// COM-PORT-CONTROL option of RFC 2217): a pure codec, no I/O.
//
// Outgoing data doubles every 0xFF (IAC) byte. Incoming bytes pass a
// three-state parser (data, after IAC, inside a subnegotiation): "IAC IAC" is
// one 0xFF data byte, "IAC WILL/WONT/DO/DONT opt" is a negotiation, "IAC SB
// opt ... IAC SE" a subnegotiation (its payload unescaped), any other
// "IAC x" a bare command. The parser carries its state across calls, so the
// stream may be cut anywhere. A subnegotiation longer than kMaxSubnegotiation
// is dropped whole (its bytes never reach the data), and an IAC inside one that
// is neither IAC nor SE ends it unfinished and starts a command, as a robust
// receiver must for a peer that forgot the SE.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace telnet {

inline constexpr std::uint8_t kIac = 255;
inline constexpr std::uint8_t kDont = 254;
inline constexpr std::uint8_t kDo = 253;
inline constexpr std::uint8_t kWont = 252;
inline constexpr std::uint8_t kWill = 251;
inline constexpr std::uint8_t kSb = 250;
inline constexpr std::uint8_t kSe = 240;

inline constexpr std::uint8_t kOptBinary = 0;
inline constexpr std::uint8_t kOptEcho = 1;
inline constexpr std::uint8_t kOptSga = 3;
inline constexpr std::uint8_t kOptComPort = 44;

// COM-PORT-CONTROL commands as the client sends them; the server answers
// each with the same payload under code + kServerOffset.
enum ComPortCommand : std::uint8_t {
    kSetBaudRate = 1,
    kSetDataSize = 2,
    kSetParity = 3,
    kSetStopSize = 4,
    kSetControl = 5,
    kNotifyLineState = 6,
    kNotifyModemState = 7,
    kFlowControlSuspend = 8,
    kFlowControlResume = 9,
    kSetLineStateMask = 10,
    kSetModemStateMask = 11,
    kPurgeData = 12,
};
inline constexpr std::uint8_t kServerOffset = 100;

// SET-CONTROL values the program uses.
inline constexpr std::uint8_t kControlNoFlow = 1;
inline constexpr std::uint8_t kControlDtrOn = 8;
inline constexpr std::uint8_t kControlDtrOff = 9;
// NOTIFY-MODEMSTATE bits.
inline constexpr std::uint8_t kModemStateCd = 0x80;
inline constexpr std::uint8_t kModemStateRi = 0x40;
inline constexpr std::uint8_t kModemStateDsr = 0x20;
inline constexpr std::uint8_t kModemStateCts = 0x10;

struct Event {
    enum class Kind { Negotiation, Subnegotiation, Command };
    Kind kind = Kind::Command;
    std::uint8_t verb = 0;   // WILL/WONT/DO/DONT, SB, or the bare command byte
    std::uint8_t option = 0; // negotiations and subnegotiations
    std::string payload;     // subnegotiations: the bytes after the option, unescaped

    bool operator==(const Event&) const = default;
};

class Decoder {
public:
    static constexpr std::size_t kMaxSubnegotiation = 64;

    // Appends the data bytes in `bytes` to `data` and the protocol events to
    // `events`, in the order they came.
    void feed(std::string_view bytes, std::string& data, std::vector<Event>& events);
    void reset() { *this = Decoder(); }

private:
    enum class State { Data, Iac, Option, Sub, SubIac };
    State m_state = State::Data;
    std::uint8_t m_verb = 0;
    bool m_subOption = false; // the option byte of the subnegotiation was read
    bool m_subOverflow = false;
    Event m_sub;
};

// Appends `bytes` with every IAC doubled.
void appendEscaped(std::string& out, std::string_view bytes);
std::string escaped(std::string_view bytes);
// "IAC verb option".
std::string Negotiation(std::uint8_t verb, std::uint8_t option);
// "IAC SB option payload IAC SE", the payload escaped.
std::string Subnegotiation(std::uint8_t option, std::string_view payload);
// A COM-PORT-CONTROL subnegotiation: the command code and its value bytes.
std::string comPort(std::uint8_t command, std::string_view value);
// A four-byte big-endian value, as SET-BAUDRATE takes it.
std::string bigEndian32(std::uint32_t value);

} // namespace telnet
