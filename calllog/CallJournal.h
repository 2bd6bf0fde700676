#pragma once

// Files every finished call in the call log: the line control's call-end
// sink. Each attempt the line reports becomes one row (BuildCallLogEntry)
// with the connection's counters of that moment and the phone-book name of
// the dialled number. Runs on the user-interface thread; one append costs well
// under a millisecond.

#include "calllog/CallEntryBuilder.h"
#include "calllog/CallLog.h"
#include "link/LineCallRecord.h"

#include <functional>

class CallJournal final : public CallEndSink {
public:
    struct Sources {
        std::function<CallCounters()> counters;
        // The phone-book name of a number; empty when none has it.
        std::function<QString(const QString&)> phoneBookName;
        // Told after each row was filed (for open views of the log).
        std::function<void(const CallLogEntry&)> filed;
    };

    // `log` may be null: nothing is filed then. It must outlive the journal.
    CallJournal(CallLog* log, Sources sources);

    void onCallEnded(const LineCallRecord& record) override;
    // The row of the last call reported; nothing before the first.
    const std::optional<CallLogEntry>& last() const { return m_last; }

private:
    CallLog* m_log;
    Sources m_sources;
    std::optional<CallLogEntry> m_last;
};
