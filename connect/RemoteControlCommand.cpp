#include "connect/RemoteControlCommand.h"

#include "link/RemoteControl.h"

bool runRemoteControl(bool connected, PacketQueue* port, const RemoteControlPrompts& prompts) {
    if (!connected || port == nullptr)
        return false;
    switch (prompts.choose()) {
    case RemoteChoice::CloseSite:
        sendCloseSite(*port);
        return true;
    case RemoteChoice::RebootSite:
        sendRebootSite(*port);
        return true;
    case RemoteChoice::RunProgram:
        if (std::optional<QString> line = prompts.commandLine()) {
            // The site takes single-byte text; a character it cannot take is sent as '?'.
            const QByteArray bytes = line->toLatin1();
            sendRunProgram(*port, std::string_view(bytes.constData(), size_t(bytes.size())));
            return true;
        }
        return false;
    case RemoteChoice::None:
        break;
    }
    return false;
}
