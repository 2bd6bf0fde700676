#include "platform/telephony/AtResultParser.h"

#include <array>
#include <cctype>

namespace {

struct Verbose {
    std::string_view word;
    AtResultKind kind;
};

// Longest words first where one is the prefix of another.
constexpr std::array<Verbose, 9> kVerbose{{
    {"OK", AtResultKind::Ok},
    {"CONNECT", AtResultKind::Connect},
    {"RING", AtResultKind::Ring},
    {"NO CARRIER", AtResultKind::NoCarrier},
    {"ERROR", AtResultKind::Error},
    {"NO DIALTONE", AtResultKind::NoDialtone},
    {"NO DIAL TONE", AtResultKind::NoDialtone},
    {"BUSY", AtResultKind::Busy},
    {"NO ANSWER", AtResultKind::NoAnswer},
}};

bool equalsNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (std::toupper(static_cast<unsigned char>(a[i])) != std::toupper(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

// Numeric result codes (ATV0): 0 OK, 1 CONNECT, 2 RING, 3 NO CARRIER, 4 ERROR,
// 6 NO DIALTONE, 7 BUSY, 8 NO ANSWER; 5 and 9..99 are CONNECT at a given speed.
bool numericKind(std::string_view line, AtResultKind& kind) {
    if (line.empty() || line.size() > 2)
        return false;
    int code = 0;
    for (char c : line) {
        if (c < '0' || c > '9')
            return false;
        code = code * 10 + (c - '0');
    }
    switch (code) {
    case 0:
        kind = AtResultKind::Ok;
        return true;
    case 1:
        kind = AtResultKind::Connect;
        return true;
    case 2:
        kind = AtResultKind::Ring;
        return true;
    case 3:
        kind = AtResultKind::NoCarrier;
        return true;
    case 4:
        kind = AtResultKind::Error;
        return true;
    case 6:
        kind = AtResultKind::NoDialtone;
        return true;
    case 7:
        kind = AtResultKind::Busy;
        return true;
    case 8:
        kind = AtResultKind::NoAnswer;
        return true;
    default:
        kind = AtResultKind::Connect;
        return code == 5 || code >= 9;
    }
}

} // namespace

bool isFinalResult(AtResultKind kind) {
    return kind != AtResultKind::Ring && kind != AtResultKind::Echo && kind != AtResultKind::Text;
}

AtResult AtResultParser::classify(std::string_view raw) {
    AtResult result;
    for (char c : raw)
        if (static_cast<unsigned char>(c) >= 0x20 && static_cast<unsigned char>(c) < 0x7F)
            result.text.push_back(c);
    std::string_view line = result.text;
    while (!line.empty() && line.front() == ' ')
        line.remove_prefix(1);
    while (!line.empty() && line.back() == ' ')
        line.remove_suffix(1);
    result.text = std::string(line);
    line = result.text;

    if (line.size() >= 2 &&
        (equalsNoCase(line.substr(0, 2), "AT") || equalsNoCase(line.substr(0, 2), "A/"))) {
        result.kind = AtResultKind::Echo;
        return result;
    }
    for (const Verbose& v : kVerbose) {
        if (equalsNoCase(line, v.word)) {
            result.kind = v.kind;
            return result;
        }
    }
    // "CONNECT 33600", "CONNECT 115200/ARQ": CONNECT followed by its details.
    if (line.size() > 8 && equalsNoCase(line.substr(0, 8), "CONNECT ")) {
        result.kind = AtResultKind::Connect;
        return result;
    }
    AtResultKind numeric;
    if (numericKind(line, numeric)) {
        result.kind = numeric;
        return result;
    }
    result.kind = AtResultKind::Text;
    return result;
}

void AtResultParser::feed(const char* data, std::size_t size, std::vector<AtResult>& out) {
    for (std::size_t i = 0; i < size; ++i) {
        const char c = data[i];
        if (c == '\r' || c == '\n') {
            if (!m_line.empty()) {
                AtResult r = classify(m_line);
                if (!r.text.empty())
                    out.push_back(std::move(r));
            }
            m_line.clear();
            m_overlong = false;
            continue;
        }
        if (m_overlong)
            continue;
        if (m_line.size() == kMaxLine) {
            // Cut an endless line: report what we have as text and skip to its end.
            std::string text = classify(m_line).text;
            if (!text.empty())
                out.push_back(AtResult{AtResultKind::Text, std::move(text)});
            m_line.clear();
            m_overlong = true;
            continue;
        }
        m_line.push_back(c);
    }
}

std::uint32_t connectRate(std::string_view text) {
    constexpr std::string_view kCode = "CONNECT";
    if (text.size() < kCode.size() || !equalsNoCase(text.substr(0, kCode.size()), kCode))
        return 0;
    size_t i = kCode.size();
    while (i < text.size() && text[i] == ' ')
        ++i;
    std::uint32_t rate = 0;
    size_t digits = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        if (++digits > 9)
            return 0; // no modem line runs at a billion bits per second
        rate = rate * 10 + std::uint32_t(text[i] - '0');
    }
    return rate;
}
