#pragma once

// The low-disk-space watch behind the main window's disk panes and its
// periodic check.
//
// How it works: every check compares the free megabytes of the record folder's
// volume with the threshold. While below, the status bar shows a red dot next
// to the disk that alternates between large and small at every check; the
// warning is due only at the first check found below, and only confirming
// Options (Reconfigure) makes it due again. A threshold of 0 switches the
// check off: the flags then stay as they were.

#include <QString>

#include <cstdint>
#include <string>

class DiskWatch {
public:
    static constexpr uint32_t kDefaultThresholdMB = 50;
    static constexpr uint32_t kDefaultIntervalS = 10;

    // The stored settings as the main window takes them: a threshold of 0 or
    // above 9999 becomes 50 MB, an interval of 0 or above 300 becomes 10 s.
    DiskWatch(uint32_t thresholdMB, uint32_t intervalS);

    // New values from Options (taken as they are; threshold 0 is "off") and
    // the warning made due again.
    void reconfigure(uint32_t thresholdMB, uint32_t intervalS);

    // One check with the free space now; true when the warning is to be shown.
    bool check(uint32_t freeMB);

    uint32_t thresholdMB() const { return m_threshold; }
    int intervalMs() const { return int(m_interval) * 1000; }
    bool below() const { return m_below; }
    // Which dot shows while below: the large one when set.
    bool blinkPhase() const { return m_blink; }
    bool warned() const { return m_warned; }

    // The disk pane's text, e.g. "51234 MB Free on /home".
    static QString paneText(uint32_t freeMB, const std::string& mountPoint);

private:
    uint32_t m_threshold;
    uint32_t m_interval;
    bool m_below = false;
    bool m_blink = false;
    bool m_warned = false;
};
