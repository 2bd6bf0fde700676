#include "platform/telephony/TelnetCodec.h"

#include <cstring>

namespace telnet {

void Decoder::feed(std::string_view bytes, std::string& data, std::vector<Event>& events) {
    std::size_t i = 0;
    while (i < bytes.size()) {
        if (m_state == State::Data) {
            // Bulk copy up to the next IAC: video frames rarely hold one.
            const void* hit = std::memchr(bytes.data() + i, kIac, bytes.size() - i);
            const std::size_t end =
                hit ? static_cast<std::size_t>(static_cast<const char*>(hit) - bytes.data()) : bytes.size();
            data.append(bytes.data() + i, end - i);
            i = end;
            if (i < bytes.size()) {
                m_state = State::Iac;
                ++i;
            }
            continue;
        }
        const auto byte = static_cast<std::uint8_t>(bytes[i++]);
        switch (m_state) {
        case State::Data:
            break;
        case State::Iac:
            if (byte == kIac) {
                data.push_back(static_cast<char>(kIac));
                m_state = State::Data;
            } else if (byte == kWill || byte == kWont || byte == kDo || byte == kDont) {
                m_verb = byte;
                m_state = State::Option;
            } else if (byte == kSb) {
                m_sub = Event{Event::Kind::Subnegotiation, kSb, 0, {}};
                m_subOption = false;
                m_subOverflow = false;
                m_state = State::Sub;
            } else {
                events.push_back({Event::Kind::Command, byte, 0, {}});
                m_state = State::Data;
            }
            break;
        case State::Option:
            events.push_back({Event::Kind::Negotiation, m_verb, byte, {}});
            m_state = State::Data;
            break;
        case State::Sub:
            if (byte == kIac) {
                m_state = State::SubIac;
            } else if (!m_subOption) {
                m_sub.option = byte;
                m_subOption = true;
            } else if (m_sub.payload.size() < kMaxSubnegotiation) {
                m_sub.payload.push_back(static_cast<char>(byte));
            } else {
                m_subOverflow = true;
            }
            break;
        case State::SubIac:
            if (byte == kIac) {
                if (!m_subOption) {
                    m_sub.option = kIac;
                    m_subOption = true;
                } else if (m_sub.payload.size() < kMaxSubnegotiation) {
                    m_sub.payload.push_back(static_cast<char>(kIac));
                } else {
                    m_subOverflow = true;
                }
                m_state = State::Sub;
            } else if (byte == kSe) {
                if (m_subOption && !m_subOverflow)
                    events.push_back(std::move(m_sub));
                m_sub = Event{};
                m_state = State::Data;
            } else {
                // A peer that forgot the SE: drop the unfinished subnegotiation
                // and read this byte as the verb after an IAC.
                m_sub = Event{};
                m_state = State::Iac;
                --i;
            }
            break;
        }
    }
}

void appendEscaped(std::string& out, std::string_view bytes) {
    std::size_t i = 0;
    while (i < bytes.size()) {
        const void* hit = std::memchr(bytes.data() + i, kIac, bytes.size() - i);
        if (!hit) {
            out.append(bytes.data() + i, bytes.size() - i);
            return;
        }
        const auto at = static_cast<std::size_t>(static_cast<const char*>(hit) - bytes.data());
        out.append(bytes.data() + i, at + 1 - i);
        out.push_back(static_cast<char>(kIac));
        i = at + 1;
    }
}

std::string escaped(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size() + bytes.size() / 64);
    appendEscaped(out, bytes);
    return out;
}

std::string Negotiation(std::uint8_t verb, std::uint8_t option) {
    return {static_cast<char>(kIac), static_cast<char>(verb), static_cast<char>(option)};
}

std::string Subnegotiation(std::uint8_t option, std::string_view payload) {
    std::string out{static_cast<char>(kIac), static_cast<char>(kSb)};
    appendEscaped(out, std::string_view(reinterpret_cast<const char*>(&option), 1));
    appendEscaped(out, payload);
    out.push_back(static_cast<char>(kIac));
    out.push_back(static_cast<char>(kSe));
    return out;
}

std::string comPort(std::uint8_t command, std::string_view value) {
    std::string payload(1, static_cast<char>(command));
    payload.append(value);
    return Subnegotiation(kOptComPort, payload);
}

std::string bigEndian32(std::uint32_t value) {
    return {static_cast<char>(value >> 24), static_cast<char>(value >> 16), static_cast<char>(value >> 8),
            static_cast<char>(value)};
}

} // namespace telnet
