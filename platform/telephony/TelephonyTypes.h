#pragma once

// Values and records of the telephony service: line messages, call states,
// device states, capability bits, request results and the records the service
// fills in. The service is asynchronous in the usual way: operations that take
// time return a positive request identifier at once and later deliver a
// LINE_REPLY message carrying that identifier and the result (0 = success,
// negative = error); immediate failures are returned as negative results.
// Every message is delivered on the thread that owns the service (the UI
// thread), never on a worker thread.

#include <cstdint>
#include <string>

namespace tel {

using LineApp = std::uint32_t; // 0 = none
using Line = std::uint32_t;    // 0 = none
using Call = std::uint32_t;    // 0 = none

// Results. 0 is success, positive values are request identifiers.
constexpr std::int32_t LINEERR_OK = 0;
constexpr std::int32_t LINEERR_BADDEVICEID = std::int32_t(0x80000002u);
constexpr std::int32_t LINEERR_INCOMPATIBLEAPIVERSION = std::int32_t(0x8000000Cu);
constexpr std::int32_t LINEERR_INVALADDRESS = std::int32_t(0x80000013u);
constexpr std::int32_t LINEERR_INVALCALLHANDLE = std::int32_t(0x80000019u);
constexpr std::int32_t LINEERR_INVALCALLSTATE = std::int32_t(0x8000001Bu);
constexpr std::int32_t LINEERR_INVALLINEHANDLE = std::int32_t(0x8000002Bu);
constexpr std::int32_t LINEERR_INVALPARAM = std::int32_t(0x80000032u);
constexpr std::int32_t LINEERR_NODEVICE = std::int32_t(0x80000035u);
constexpr std::int32_t LINEERR_RESOURCEUNAVAIL = std::int32_t(0x80000047u);
constexpr std::int32_t LINEERR_OPERATIONFAILED = std::int32_t(0x80000048u);
constexpr std::int32_t LINEERR_INVALAPPHANDLE = std::int32_t(0x80000049u);
constexpr std::int32_t LINEERR_UNINITIALIZED = std::int32_t(0x8000004Cu);
constexpr std::int32_t LINEERR_INVALDEVICECLASS = std::int32_t(0x80000023u);

// Message kinds.
enum LineMessageKind : std::uint32_t {
    LINE_CALLSTATE = 2,
    LINE_CLOSE = 3,
    LINE_LINEDEVSTATE = 8,
    LINE_REPLY = 12,
    LINE_CREATE = 19,
    LINE_REMOVE = 25,
};

// Call states (a call is in exactly one).
constexpr std::uint32_t LINECALLSTATE_IDLE = 0x00000001;
constexpr std::uint32_t LINECALLSTATE_OFFERING = 0x00000002;
constexpr std::uint32_t LINECALLSTATE_ACCEPTED = 0x00000004;
constexpr std::uint32_t LINECALLSTATE_DIALTONE = 0x00000008;
constexpr std::uint32_t LINECALLSTATE_DIALING = 0x00000010;
constexpr std::uint32_t LINECALLSTATE_RINGBACK = 0x00000020;
constexpr std::uint32_t LINECALLSTATE_BUSY = 0x00000040;
constexpr std::uint32_t LINECALLSTATE_SPECIALINFO = 0x00000080;
constexpr std::uint32_t LINECALLSTATE_CONNECTED = 0x00000100;
constexpr std::uint32_t LINECALLSTATE_PROCEEDING = 0x00000200;
constexpr std::uint32_t LINECALLSTATE_DISCONNECTED = 0x00004000;
constexpr std::uint32_t LINECALLSTATE_UNKNOWN = 0x00008000;

// Detail of LINECALLSTATE_DISCONNECTED (why the call ended) and of LINECALLSTATE_BUSY.
constexpr std::uint32_t LINEDISCONNECTMODE_NORMAL = 0x00000001;
constexpr std::uint32_t LINEDISCONNECTMODE_BUSY = 0x00000010;
constexpr std::uint32_t LINEDISCONNECTMODE_NOANSWER = 0x00000020;
constexpr std::uint32_t LINEDISCONNECTMODE_UNAVAIL = 0x00000800;
constexpr std::uint32_t LINEDISCONNECTMODE_NODIALTONE = 0x00001000;
constexpr std::uint32_t LINEBUSYMODE_UNAVAIL = 0x00000004;

// Device states (LINE_LINEDEVSTATE parameter 1).
constexpr std::uint32_t LINEDEVSTATE_OTHER = 0x00000001;
constexpr std::uint32_t LINEDEVSTATE_RINGING = 0x00000002;
constexpr std::uint32_t LINEDEVSTATE_CONNECTED = 0x00000004;
constexpr std::uint32_t LINEDEVSTATE_DISCONNECTED = 0x00000008;
constexpr std::uint32_t LINEDEVSTATE_OUTOFSERVICE = 0x00000080;
constexpr std::uint32_t LINEDEVSTATE_MAINTENANCE = 0x00000100;
constexpr std::uint32_t LINEDEVSTATE_OPEN = 0x00000200;
constexpr std::uint32_t LINEDEVSTATE_CLOSE = 0x00000400;
constexpr std::uint32_t LINEDEVSTATE_REINIT = 0x00040000;
constexpr std::uint32_t LINEDEVSTATE_TRANSLATECHANGE = 0x00400000;
constexpr std::uint32_t LINEDEVSTATE_REMOVED = 0x01000000;

// Capability bits.
constexpr std::uint32_t LINEBEARERMODE_VOICE = 0x00000001;
constexpr std::uint32_t LINEBEARERMODE_DATA = 0x00000010;
constexpr std::uint32_t LINEMEDIAMODE_DATAMODEM = 0x00000010;
constexpr std::uint32_t LINEFEATURE_MAKECALL = 0x00000008;
constexpr std::uint32_t LINEADDRFEATURE_MAKECALL = 0x00000004;
constexpr std::uint32_t LINECALLPRIVILEGE_NONE = 0x00000001;
constexpr std::uint32_t LINECALLPRIVILEGE_MONITOR = 0x00000002;
constexpr std::uint32_t LINECALLPRIVILEGE_OWNER = 0x00000004;
constexpr std::uint32_t LINECALLPARAMFLAGS_IDLE = 0x00000010;
constexpr std::uint32_t LINEADDRESSMODE_ADDRESSID = 0x00000001;
constexpr std::uint32_t LINECALLSELECT_CALL = 0x00000004;

// Interface versions the service speaks.
constexpr std::uint32_t kLowestApiVersion = 0x00010004;
constexpr std::uint32_t kHighestApiVersion = 0x00020002;

// Device class whose identifier is the data handle of a connected call: a file
// descriptor owned by the caller from then on (the caller closes it).
inline constexpr const char* kDataModemClass = "comm/datamodem";

// One message, as delivered to the application's callback.
struct LineMessage {
    std::uint32_t device = 0; // line handle, call handle or device index, by kind
    LineMessageKind kind = LINE_CALLSTATE;
    std::uint32_t param1 = 0; // call state, device state, request identifier, device index
    std::uint32_t param2 = 0; // state detail, request result (as unsigned)
    std::uint32_t param3 = 0; // privilege of a newly reported call, else 0
};

enum class StringFormat { None, Ascii };

struct LineDevCaps {
    std::string lineName;
    StringFormat stringFormat = StringFormat::None;
    std::uint32_t bearerModes = 0;
    std::uint32_t mediaModes = 0;
    std::uint32_t lineFeatures = 0;
    std::uint32_t numAddresses = 0;
};

// The picture a device is shown with. The UI maps it to an icon of its theme.
enum class DeviceIcon { DataModem, SerialPort };

// Theme icon name for a device icon ("modem", "network-wired").
const char* deviceIconName(DeviceIcon icon);

struct AddressStatus {
    std::uint32_t numActiveCalls = 0;
    std::uint32_t addressFeatures = 0;
};

struct CallParams {
    std::uint32_t bearerMode = 0;
    std::uint32_t mediaMode = 0;
    std::uint32_t callParamFlags = 0;
    std::uint32_t addressMode = 0;
    std::uint32_t addressId = 0;
    std::uint32_t noAnswerTimeout = 0; // seconds; 0 = the service's default
};

struct CallStatus {
    std::uint32_t callState = 0;
    std::uint32_t callStateMode = 0;
    std::uint32_t callPrivilege = 0;
    std::uint32_t rate = 0; // connected call: bits per second the modem reported; 0 unknown
};

} // namespace tel
