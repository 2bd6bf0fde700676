#include "unattended/PatrolReport.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

bool PatrolReport::allReached() const {
    for (const PatrolSiteResult& site : sites) {
        if (!site.reached)
            return false;
    }
    return true;
}

QByteArray PatrolReport::toJson() const {
    QJsonArray siteArray;
    for (const PatrolSiteResult& site : sites) {
        QJsonArray channelArray;
        for (const PatrolChannelResult& channel : site.channels) {
            channelArray.append(QJsonObject{
                {"channel", channel.channel},
                {"name", channel.name},
                {"file", channel.file},
                {"time", channel.frameTime.isValid() ? channel.frameTime.toString(Qt::ISODate) : QString()},
                {"result", channel.result},
            });
        }
        siteArray.append(QJsonObject{
            {"name", site.name},
            {"number", site.number},
            {"reached", site.reached},
            {"result", site.result},
            {"channels", channelArray},
        });
    }
    const QJsonObject root{
        {"started", started.toString(Qt::ISODate)},
        {"folder", folder},
        {"allReached", allReached()},
        {"sites", siteArray},
    };
    return QJsonDocument(root).toJson(QJsonDocument::Indented);
}

PatrolReport PatrolReport::fromJson(const QByteArray& json) {
    PatrolReport report;
    const QJsonObject root = QJsonDocument::fromJson(json).object();
    report.started = QDateTime::fromString(root.value("started").toString(), Qt::ISODate);
    report.folder = root.value("folder").toString();
    report.finished = !root.isEmpty();
    for (const QJsonValue& siteValue : root.value("sites").toArray()) {
        const QJsonObject s = siteValue.toObject();
        PatrolSiteResult site;
        site.name = s.value("name").toString();
        site.number = s.value("number").toString();
        site.reached = s.value("reached").toBool();
        site.result = s.value("result").toString();
        for (const QJsonValue& channelValue : s.value("channels").toArray()) {
            const QJsonObject c = channelValue.toObject();
            PatrolChannelResult channel;
            channel.channel = c.value("channel").toInt();
            channel.name = c.value("name").toString();
            channel.file = c.value("file").toString();
            channel.frameTime = QDateTime::fromString(c.value("time").toString(), Qt::ISODate);
            channel.result = c.value("result").toString();
            site.channels.push_back(std::move(channel));
        }
        report.sites.push_back(std::move(site));
    }
    return report;
}

QString fileSafeName(const QString& name) {
    QString safe;
    for (const QChar c : name.trimmed()) {
        const bool keep =
            (c.unicode() < 128 && c.isLetterOrNumber()) || c == u' ' || c == u'-' || c == u'_' || c == u'.';
        safe += keep ? c : QChar(u'_');
    }
    if (safe.isEmpty() || safe == "." || safe == "..")
        safe = QStringLiteral("site");
    return safe;
}
