#include "mainwnd/DiskWatch.h"

DiskWatch::DiskWatch(uint32_t thresholdMB, uint32_t intervalS)
    : m_threshold(thresholdMB == 0 || thresholdMB > 9999 ? kDefaultThresholdMB : thresholdMB)
    , m_interval(intervalS == 0 || intervalS > 300 ? kDefaultIntervalS : intervalS) {}

void DiskWatch::reconfigure(uint32_t thresholdMB, uint32_t intervalS) {
    m_threshold = thresholdMB;
    // Options only accepts 1 to 300; anything else keeps the timer sane.
    m_interval = intervalS == 0 || intervalS > 300 ? kDefaultIntervalS : intervalS;
    m_warned = false;
}

bool DiskWatch::check(uint32_t freeMB) {
    if (m_threshold == 0)
        return false;
    m_below = freeMB < m_threshold;
    bool warn = false;
    if (m_below && !m_warned) {
        m_warned = true;
        warn = true;
    }
    m_blink = !m_blink;
    return warn;
}

QString DiskWatch::paneText(uint32_t freeMB, const std::string& mountPoint) {
    return QStringLiteral("%1 MB Free on %2").arg(freeMB).arg(QString::fromStdString(mountPoint));
}
