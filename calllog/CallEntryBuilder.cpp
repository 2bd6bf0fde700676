#include "calllog/CallEntryBuilder.h"

namespace {

CallResult unconnectedResult(LineCallEnd end) {
    switch (end) {
    case LineCallEnd::Busy:
        return CallResult::Busy;
    case LineCallEnd::NoAnswer:
        return CallResult::NoAnswer;
    case LineCallEnd::NoDialTone:
        return CallResult::NoDialTone;
    default:
        return CallResult::NoCarrier;
    }
}

CallEndedBy endedBy(LineCallEnd end, const CallCounters& counters) {
    switch (end) {
    case LineCallEnd::LineError:
        return CallEndedBy::LineError;
    case LineCallEnd::Watchdog:
        return CallEndedBy::Watchdog;
    case LineCallEnd::Local:
        return counters.siteAskedHangUp ? CallEndedBy::SiteRequest : CallEndedBy::Operator;
    default:
        // The site may drop the line itself right after asking us to.
        return counters.siteAskedHangUp ? CallEndedBy::SiteRequest : CallEndedBy::FarEnd;
    }
}

} // namespace

CallLogEntry buildCallLogEntry(const LineCallRecord& line, const CallCounters& counters,
                               const QString& phoneBookName) {
    CallLogEntry entry;
    entry.start = line.start;
    entry.direction = line.answered ? CallDirection::Answered : CallDirection::Dialled;
    entry.number = line.number;
    entry.site = line.answered ? QString() : phoneBookName;
    entry.modem = line.modem;
    entry.connectSpeed = line.connectSpeed;
    if (!line.connected) {
        entry.result = unconnectedResult(line.end);
        if (line.end == LineCallEnd::Watchdog)
            entry.endedBy = CallEndedBy::Watchdog;
        else if (line.end == LineCallEnd::LineError)
            entry.endedBy = CallEndedBy::LineError;
        return entry;
    }

    entry.durationMs = line.connectedFor.count();
    if (line.answered)
        entry.site = QString::fromLatin1(counters.siteName.data(), qsizetype(counters.siteName.size()));
    entry.bytesIn = counters.bytesIn;
    entry.bytesOut = counters.bytesOut;
    entry.frames = counters.frames;
    for (const ChannelCounters& channel : counters.channels)
        if (channel.frames > 0)
            ++entry.channels;
    entry.clips = counters.clipsRecorded;
    entry.eventFiled = counters.eventFiled;
    if (counters.loginRejected) {
        entry.result = CallResult::LoginRejected;
    } else if (counters.noDecompressor) {
        entry.result = CallResult::NoDecompressor;
    } else {
        entry.result = CallResult::Connected;
        entry.endedBy = endedBy(line.end, counters);
    }
    return entry;
}
