#pragma once

// The client side of a Telnet session with COM-PORT-CONTROL, as the program
// drives a modem behind a serial device server: a pure state machine over
// decoded Telnet events, no I/O.
//
// Start() offers binary transmission and suppress-go-ahead both ways and
// WILL COM-PORT-CONTROL. Once the server agrees (DO COM-PORT-CONTROL) the
// line settings a local port would get follow (speed, 8 data bits, no
// parity, one stop bit, no flow control) and DTR is raised. Every option
// is answered at most once per change of its state (no negotiation loops);
// options we do not use are refused. The server's NOTIFY-MODEMSTATE is kept:
// carrier detect is its CD bit.

#include "platform/telephony/TelnetCodec.h"

#include <array>
#include <cstdint>
#include <string>

namespace telnet {

struct LineSettings {
    std::uint32_t baudRate = 115200;
    std::uint8_t dataSize = 8;
    std::uint8_t parity = 1;   // none
    std::uint8_t stopSize = 1; // one stop bit
    std::uint8_t control = kControlNoFlow;
};

class ComPortClient {
public:
    ComPortClient() = default;
    explicit ComPortClient(LineSettings settings)
        : m_settings(settings) {}

    // The opening offers.
    std::string Start();
    // Handles one event from the server; appends the answer (if any) to `reply`.
    void onEvent(const Event& event, std::string& reply);

    bool accepted() const { return m_accepted; }
    bool refused() const { return m_refused; }
    bool hasModemState() const { return m_haveModemState; }
    std::uint8_t modemState() const { return m_modemState; }
    bool carrierDetect() const { return (m_modemState & kModemStateCd) != 0; }
    // SET-CONTROL subnegotiation that raises or drops DTR.
    static std::string setDtr(bool on);
    // How many settings replies the server sent (each echoes what it applied).
    int settingsAcknowledged() const { return m_acks; }

private:
    enum class Side : std::uint8_t { Off, Asked, On };
    static bool wantLocal(std::uint8_t option);
    static bool wantRemote(std::uint8_t option);
    std::string settings() const;

    LineSettings m_settings;
    std::array<Side, 256> m_local{};  // options we perform (WILL)
    std::array<Side, 256> m_remote{}; // options the server performs (DO)
    bool m_accepted = false;
    bool m_refused = false;
    bool m_haveModemState = false;
    std::uint8_t m_modemState = 0;
    int m_acks = 0;
};

} // namespace telnet
