#pragma once

// Carrier loss on a modem reached over raw TCP: there is no carrier line, so
// the modem's own "NO CARRIER" result is the only sign that the call is gone
// while the device server keeps the connection open.
//
// The bytes of a call are the site's binary packets, which may contain the
// same text anywhere in a picture. The rule that tells the two apart: the
// result counts only as a whole verbose result line, "\r\nNO CARRIER\r\n",
// that is the last thing the modem sent, with nothing following it for the
// quiet time. A modem goes silent after that line (it is in command state and
// the far end is gone); a site packet never ends in it, since every packet
// ends with its 8-byte trailer written together with the payload, so text in
// a payload is followed by more bytes at once and the match is dropped. A call
// lost in the middle of a packet is found too: the line then follows the
// truncated packet and nothing comes after it.
//
// Pure: the caller feeds the received bytes with the time they arrived and
// asks at the deadline. Keeps only the last 14 bytes of the stream.

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

class NoCarrierWatch {
public:
    using Clock = std::chrono::steady_clock;
    static constexpr std::string_view kResultLine = "\r\nNO CARRIER\r\n";

    // Starts watching afresh (a call has connected); disarmed, bytes are ignored.
    void arm(std::chrono::milliseconds quiet);
    void disarm();
    bool armed() const { return m_armed; }

    // Bytes from the modem, received at `now`.
    void feed(std::string_view bytes, Clock::time_point now);
    // When a pending result line becomes final; nullopt when none is pending.
    std::optional<Clock::time_point> deadline() const;
    // True once the carrier is lost: a result line stayed the last thing
    // received until `now` reached its deadline. Stays true until re-armed.
    bool check(Clock::time_point now);
    bool lost() const { return m_lost; }

private:
    bool m_armed = false;
    bool m_lost = false;
    std::chrono::milliseconds m_quiet{0};
    std::string m_tail;
    std::optional<Clock::time_point> m_pendingSince;
};
