#pragma once

// The call panel: a dock beside the view area with the figures of the
// running call (or, idle, of the last one) from CallStats: direction, site,
// modem and connect speed, elapsed time, bytes both ways, the receive rate
// and its share of the line, damaged packets, frames, and one row per
// channel with its frames, frames per minute, last frame size and the age of
// its last frame (marked once the channel stalled).
//
// How it works: the panel only shows. Its owner calls Refresh once a second;
// Refresh samples the sources (the connection's counters, the line's call)
// into CallStats and writes the texts. No figure is computed here.

#include "calllog/CallStats.h"

#include <QDockWidget>

#include <functional>

class QLabel;
class QTreeWidget;

class CallPanel final : public QDockWidget {
    Q_OBJECT
public:
    // The rows of the figure list, in order.
    enum Field {
        kDirection,
        kSite,
        kModem,
        kElapsed,
        kReceived,
        kSent,
        kRate,
        kDamaged,
        kFrames,
        kFieldCount
    };

    struct Sources {
        std::function<bool()> live;
        std::function<LineCallRecord()> line;
        std::function<CallCounters()> counters;
        // The name to show for the call's site.
        std::function<QString(const LineCallRecord&, const CallCounters&)> site;
        // A channel's label ("0001 Gate").
        std::function<QString(int32_t)> channelLabel;
        CallStats::Clock clock;
    };

    CallPanel(Sources sources, QWidget* parent = nullptr);

    void refresh();
    const CallStats& stats() const { return m_stats; }
    QString fieldText(Field field) const;
    QTreeWidget* ChannelList() const { return m_channels; }

private:
    Sources m_sources;
    CallStats m_stats;
    QLabel* m_values[kFieldCount] = {};
    QTreeWidget* m_channels = nullptr;
};
