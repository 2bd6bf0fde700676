#pragma once

// Turns the byte stream a Hayes modem sends in command mode into lines and
// classifies each: result codes in verbose ("NO CARRIER") or numeric ("3")
// form, the echo of a command we sent ("AT..."), or other text (the answer to
// ATI, garbage). Bytes may arrive split anywhere; a line ends at CR or LF and
// empty lines are skipped. Lines longer than kMaxLine are cut there, so no
// input makes the parser hold more than kMaxLine bytes.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

enum class AtResultKind {
    Ok,
    Connect,
    Ring,
    NoCarrier,
    Error,
    NoDialtone,
    Busy,
    NoAnswer,
    Echo,
    Text,
};

struct AtResult {
    AtResultKind kind = AtResultKind::Text;
    std::string text; // the line as received: printable ASCII only, blanks trimmed

    bool operator==(const AtResult&) const = default;
};

// The speed of a CONNECT line ("CONNECT 33600", "CONNECT 28800/ARQ/V34"): the
// number after the code, 0 when there is none or it does not fit a modem.
std::uint32_t connectRate(std::string_view text);

// True for the codes that end a command or a call attempt (all but Ring, Echo, Text).
bool isFinalResult(AtResultKind kind);

class AtResultParser {
public:
    static constexpr std::size_t kMaxLine = 256;

    // Feeds bytes; every completed line is appended to `out`.
    void feed(const char* data, std::size_t size, std::vector<AtResult>& out);
    // Drops a partial line.
    void reset() { m_line.clear(); }

    // Classifies one complete line (without its terminator).
    static AtResult classify(std::string_view line);

private:
    std::string m_line;
    bool m_overlong = false;
};
