#include "platform/telephony/ComPortClient.h"

namespace telnet {

bool ComPortClient::wantLocal(std::uint8_t option) {
    return option == kOptBinary || option == kOptSga || option == kOptComPort;
}

bool ComPortClient::wantRemote(std::uint8_t option) {
    // The server's own COM-PORT side is harmless to accept; its echo is not.
    return option == kOptBinary || option == kOptSga || option == kOptComPort;
}

std::string ComPortClient::Start() {
    std::string out;
    for (const std::uint8_t option : {kOptBinary, kOptSga}) {
        m_local[option] = Side::Asked;
        m_remote[option] = Side::Asked;
        out += Negotiation(kWill, option);
        out += Negotiation(kDo, option);
    }
    m_local[kOptComPort] = Side::Asked;
    out += Negotiation(kWill, kOptComPort);
    return out;
}

std::string ComPortClient::settings() const {
    std::string out;
    out += comPort(kSetBaudRate, bigEndian32(m_settings.baudRate));
    out += comPort(kSetDataSize, std::string(1, static_cast<char>(m_settings.dataSize)));
    out += comPort(kSetParity, std::string(1, static_cast<char>(m_settings.parity)));
    out += comPort(kSetStopSize, std::string(1, static_cast<char>(m_settings.stopSize)));
    out += comPort(kSetControl, std::string(1, static_cast<char>(m_settings.control)));
    out += setDtr(true);
    return out;
}

std::string ComPortClient::setDtr(bool on) {
    return comPort(kSetControl, std::string(1, static_cast<char>(on ? kControlDtrOn : kControlDtrOff)));
}

void ComPortClient::onEvent(const Event& event, std::string& reply) {
    switch (event.kind) {
    case Event::Kind::Negotiation: {
        const std::uint8_t option = event.option;
        switch (event.verb) {
        case kDo:
            if (!wantLocal(option)) {
                reply += Negotiation(kWont, option);
                return;
            }
            if (m_local[option] == Side::Off)
                reply += Negotiation(kWill, option);
            m_local[option] = Side::On;
            if (option == kOptComPort && !m_accepted) {
                m_accepted = true;
                m_refused = false;
                reply += settings();
            }
            return;
        case kDont:
            if (m_local[option] == Side::On)
                reply += Negotiation(kWont, option);
            m_local[option] = Side::Off;
            if (option == kOptComPort) {
                m_refused = true;
                m_accepted = false;
            }
            return;
        case kWill:
            if (!wantRemote(option)) {
                reply += Negotiation(kDont, option);
                return;
            }
            if (m_remote[option] == Side::Off)
                reply += Negotiation(kDo, option);
            m_remote[option] = Side::On;
            return;
        case kWont:
            if (m_remote[option] == Side::On)
                reply += Negotiation(kDont, option);
            m_remote[option] = Side::Off;
            return;
        default:
            return;
        }
    }
    case Event::Kind::Subnegotiation: {
        if (event.option != kOptComPort || event.payload.empty())
            return;
        const auto code = static_cast<std::uint8_t>(event.payload[0]);
        if (code == kServerOffset + kNotifyModemState && event.payload.size() >= 2) {
            m_modemState = static_cast<std::uint8_t>(event.payload[1]);
            m_haveModemState = true;
        } else if (code > kServerOffset && code <= kServerOffset + kPurgeData) {
            ++m_acks;
        }
        return;
    }
    case Event::Kind::Command:
        return;
    }
}

} // namespace telnet
