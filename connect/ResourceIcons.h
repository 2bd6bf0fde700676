#pragma once

// Pictures of the connection dialogs, drawn from the SVG files compiled into
// the program (":/images/...") at the size a dialog shows them.

#include "platform/telephony/TelephonyTypes.h"

#include <QPixmap>
#include <QSize>
#include <QString>

namespace ResourceIcons {

inline constexpr QSize kIconSize{32, 32};

// An SVG resource drawn at `size`; a null pixmap when it cannot be read.
QPixmap svg(const QString& resource, QSize size = kIconSize);
// The dialing animation's icon `id` (121 to 125).
QPixmap dialIcon(int id);
// A line device's picture: the desktop theme's icon when it has one, else ours.
QPixmap deviceIcon(tel::DeviceIcon icon);

} // namespace ResourceIcons
