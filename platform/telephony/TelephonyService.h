#pragma once

// The telephony service the line control drives: line devices with
// capabilities, one open line per device, calls placed, offered, answered,
// dropped and released, and the data handle of a connected data call.
//
// Contract shared by every implementation:
// - All operations are called on the thread that owns the service object, and
//   the callback is only ever invoked on that thread, from its event loop,
//   never from inside an operation and never from a worker thread.
// - Operations that take time (MakeCall, Answer, Drop) return a positive
//   request identifier and later deliver LINE_REPLY (param1 = identifier,
//   param2 = result) ; immediate failures return a negative LINEERR_ value.
// - After Shutdown, after Close of a line and after DeallocateCall, no message
//   that concerns them is delivered any more, even if it was already queued.
// - The handle returned by GetID for kDataModemClass is a new descriptor that
//   the caller owns and closes.

#include "platform/telephony/TelephonyTypes.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace tel {

using LineCallback = std::function<void(const LineMessage&)>;

class TelephonyService {
public:
    virtual ~TelephonyService() = default;

    // Starts a session for `appName`; reports the number of line devices.
    virtual std::int32_t Initialize(const std::string& appName, LineCallback callback, LineApp& app,
                                    std::uint32_t& numDevs, std::uint32_t& apiVersion) = 0;
    virtual std::int32_t Shutdown(LineApp app) = 0;
    virtual void discover(std::function<void()> done) {
        if (done)
            done();
    }
    // The operator's network modems ("tcp://HOST:PORT", "rfc2217://HOST:PORT"),
    // listed after every other device from the next Initialize or Discover on.
    // Services without network modems ignore them.
    virtual void setNetworkModems(const std::vector<std::string>& urls) { (void)urls; }
    // True when a network modem was listed but did not answer its last probe
    // (unreachable, or no modem behind it): a Discover tries it again.
    virtual bool hasUnansweredNetworkModems() const { return false; }

    virtual std::int32_t negotiateApiVersion(LineApp app, std::uint32_t deviceId, std::uint32_t low,
                                             std::uint32_t high, std::uint32_t& version) = 0;
    virtual std::int32_t devCaps(LineApp app, std::uint32_t deviceId, std::uint32_t apiVersion,
                                 LineDevCaps& caps) = 0;
    virtual std::int32_t icon(std::uint32_t deviceId, DeviceIcon& icon) = 0;

    virtual std::int32_t Open(LineApp app, std::uint32_t deviceId, Line& line, std::uint32_t apiVersion,
                              std::uint32_t privileges, std::uint32_t mediaModes) = 0;
    virtual std::int32_t setStatusMessages(Line line, std::uint32_t lineStates,
                                           std::uint32_t addressStates) = 0;
    virtual std::int32_t addressStatus(Line line, std::uint32_t addressId, AddressStatus& status) = 0;
    virtual std::int32_t close(Line line) = 0;

    virtual std::int32_t makeCall(Line line, Call& call, const std::string& number, std::uint32_t countryCode,
                                  const CallParams& params) = 0;
    virtual std::int32_t answer(Call call) = 0;
    virtual std::int32_t drop(Call call) = 0;
    virtual std::int32_t deallocateCall(Call call) = 0;
    virtual std::int32_t callStatus(Call call, CallStatus& status) = 0;
    virtual std::int32_t id(Call call, std::uint32_t select, const std::string& deviceClass, int& handle) = 0;
};

} // namespace tel
