#pragma once

// The outcome of one patrol round and its JSON form (report.json in the
// round's folder).
//
// The JSON is an object: "started" (local time, ISO 8601), "folder" (the
// round's folder relative to the record folder), "allReached" and "sites": per
// site in calling order "name", "number", "reached", "result" (why not, or
// "reached") and "channels": per channel "channel", "name", "file" (relative to
// the record folder; empty when no picture came), "time" (the picture's local
// time) and "result".

#include <QByteArray>
#include <QDateTime>
#include <QString>

#include <cstdint>
#include <vector>

struct PatrolChannelResult {
    int32_t channel = 0;
    QString name;
    QString file; // relative to the record folder; empty: no picture
    QDateTime frameTime;
    QString result; // "picture", "no picture"
};

struct PatrolSiteResult {
    QString name;
    QString number;
    bool reached = false;
    QString result; // "reached", "busy", "no answer", "no connection", "login rejected", "stopped", ...
    std::vector<PatrolChannelResult> channels;
};

struct PatrolReport {
    QDateTime started;
    QString folder; // "patrol/<yyyyMMdd-hhmmss>"
    std::vector<PatrolSiteResult> sites;
    bool finished = false;

    bool allReached() const;
    QByteArray toJson() const;
    // Reads a report written by ToJson; nothing usable gives an empty report.
    static PatrolReport fromJson(const QByteArray& json);
};

// A site name as one folder name: letters, digits, blank, '-', '_' and '.'
// kept, everything else '_'; never empty, "." or "..".
QString fileSafeName(const QString& name);
