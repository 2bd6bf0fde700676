#pragma once

// Turns a finished call attempt into its call-log row: the line's view (who
// placed it, how it ended on the line) merged with what the connection
// counted. The connection's flags tell the local drops apart: a rejected
// login or a missing decompressor is the call's result; a hang-up the site
// asked for is a site request; any other local drop is the operator's.
// Counters are used only for calls that connected (otherwise they still hold
// the previous call's).

#include "calllog/CallLog.h"
#include "link/CallCounters.h"
#include "link/LineCallRecord.h"

// `phoneBookName`: the phone-book entry whose number was dialled, if any.
CallLogEntry buildCallLogEntry(const LineCallRecord& line, const CallCounters& counters,
                               const QString& phoneBookName);
