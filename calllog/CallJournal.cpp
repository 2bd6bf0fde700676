#include "calllog/CallJournal.h"

#include <QLoggingCategory>

Q_DECLARE_LOGGING_CATEGORY(lcCallLog)

CallJournal::CallJournal(CallLog* log, Sources sources)
    : m_log(log)
    , m_sources(std::move(sources)) {}

void CallJournal::onCallEnded(const LineCallRecord& record) {
    const CallCounters counters = m_sources.counters ? m_sources.counters() : CallCounters{};
    const QString name =
        !record.answered && m_sources.phoneBookName ? m_sources.phoneBookName(record.number) : QString();
    m_last = buildCallLogEntry(record, counters, name);
    if (m_log && !m_log->append(*m_last))
        qCWarning(lcCallLog) << "call not logged:" << CallLog::resultCode(m_last->result) << record.number;
    if (m_sources.filed)
        m_sources.filed(*m_last);
}
