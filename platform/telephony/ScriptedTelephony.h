#pragma once

// A telephony service for tests of the line control: devices are described
// by the test, every operation is recorded as a line of text, requests are
// answered as the test says (at once through the event loop, with an error,
// or never), and the test posts call-state, device-state and other messages
// itself. Messages arrive through the event loop, as from the real service.

#include "platform/telephony/TelephonyService.h"

#include <QObject>

#include <map>
#include <string>
#include <vector>

namespace tel {

class ScriptedTelephony : public TelephonyService {
public:
    struct Device {
        std::string name;
        bool modem = true;
        bool asciiName = true;
        bool negotiates = true;
    };
    enum class ReplyMode { Succeed, Fail, Never };

    std::vector<Device> devices;
    std::int32_t initializeResult = LINEERR_OK;
    std::int32_t openResult = LINEERR_OK;
    std::uint32_t addressFeatures = LINEADDRFEATURE_MAKECALL;
    ReplyMode makeCallReply = ReplyMode::Succeed;
    ReplyMode answerReply = ReplyMode::Succeed;
    ReplyMode dropReply = ReplyMode::Succeed;
    std::int32_t getIdResult = LINEERR_OK;
    // How long Discover takes (a slow probe); below 0 it is done at once,
    // inside the call, like a service with nothing to probe.
    int discoveryMs = -1;
    int discoveriesUnderWay() const { return m_discoveries; }
    // What HasUnansweredNetworkModems says, and the last list SetNetworkModems
    // gave (each call is logged as "SetNetworkModems N").
    bool unansweredNetworkModems = false;
    std::vector<std::string> networkModems;

    // Every operation, in order: "Initialize Lookout-Remote", "Open 1", "MakeCall 555",
    // "Answer 7", "Drop 7", "Deallocate 7", "Close", "Shutdown", "GetID 7".
    std::vector<std::string> log;
    std::vector<std::string> ops(const std::string& prefix) const;

    // Messages to the application, delivered from the event loop.
    void post(const LineMessage& message);
    void postCallState(Call call, std::uint32_t state, std::uint32_t privilege = 0);
    void setCallState(Call call, std::uint32_t state) { m_calls[call] = state; }
    // A call the service offers (as after RING); returns its handle.
    Call offer();

    Call lastCall() const { return m_lastCall; }
    LineApp app() const { return m_app; }
    Line OpenLine() const { return m_line; }
    std::uint32_t lastLineStates() const { return m_lineStates; }
    CallParams lastCallParams() const { return m_lastParams; }

    std::int32_t Initialize(const std::string& appName, LineCallback callback, LineApp& app,
                            std::uint32_t& numDevs, std::uint32_t& apiVersion) override;
    std::int32_t Shutdown(LineApp app) override;
    void discover(std::function<void()> done) override;
    void setNetworkModems(const std::vector<std::string>& urls) override;
    bool hasUnansweredNetworkModems() const override { return unansweredNetworkModems; }
    std::int32_t negotiateApiVersion(LineApp app, std::uint32_t deviceId, std::uint32_t low,
                                     std::uint32_t high, std::uint32_t& version) override;
    std::int32_t devCaps(LineApp app, std::uint32_t deviceId, std::uint32_t apiVersion,
                         LineDevCaps& caps) override;
    std::int32_t icon(std::uint32_t deviceId, DeviceIcon& icon) override;
    std::int32_t Open(LineApp app, std::uint32_t deviceId, Line& line, std::uint32_t apiVersion,
                      std::uint32_t privileges, std::uint32_t mediaModes) override;
    std::int32_t setStatusMessages(Line line, std::uint32_t lineStates, std::uint32_t addressStates) override;
    std::int32_t addressStatus(Line line, std::uint32_t addressId, AddressStatus& status) override;
    std::int32_t close(Line line) override;
    std::int32_t makeCall(Line line, Call& call, const std::string& number, std::uint32_t countryCode,
                          const CallParams& params) override;
    std::int32_t answer(Call call) override;
    std::int32_t drop(Call call) override;
    std::int32_t deallocateCall(Call call) override;
    std::int32_t callStatus(Call call, CallStatus& status) override;
    std::int32_t id(Call call, std::uint32_t select, const std::string& deviceClass, int& handle) override;

private:
    std::int32_t request(ReplyMode mode);

    QObject m_context; // queued deliveries die with the service
    LineCallback m_callback;
    LineApp m_app = 0;
    Line m_line = 0;
    std::uint32_t m_next = 100;
    std::uint32_t m_lineStates = 0;
    CallParams m_lastParams;
    Call m_lastCall = 0;
    std::map<Call, std::uint32_t> m_calls;
    int m_discoveries = 0;
};

} // namespace tel
