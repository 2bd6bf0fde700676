#include "connect/ResourceIcons.h"

#include <QIcon>
#include <QPainter>
#include <QSvgRenderer>

namespace ResourceIcons {

QPixmap svg(const QString& resource, QSize size) {
    QSvgRenderer renderer(resource);
    if (!renderer.isValid())
        return {};
    QPixmap pixmap(size);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    renderer.render(&painter);
    return pixmap;
}

QPixmap dialIcon(int id) {
    return svg(QStringLiteral(":/images/dialing%1.svg").arg(id));
}

QPixmap deviceIcon(tel::DeviceIcon icon) {
    const QIcon themed = QIcon::fromTheme(QString::fromLatin1(tel::deviceIconName(icon)));
    if (!themed.isNull())
        return themed.pixmap(kIconSize);
    return svg(icon == tel::DeviceIcon::DataModem ? QStringLiteral(":/images/device_modem.svg")
                                                  : QStringLiteral(":/images/device_serial.svg"));
}

} // namespace ResourceIcons
