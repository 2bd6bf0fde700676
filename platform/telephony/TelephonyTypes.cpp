#include "platform/telephony/TelephonyTypes.h"

namespace tel {

const char* deviceIconName(DeviceIcon icon) {
    switch (icon) {
    case DeviceIcon::DataModem:
        return "modem";
    case DeviceIcon::SerialPort:
        return "network-wired";
    }
    return "network-wired";
}

} // namespace tel
