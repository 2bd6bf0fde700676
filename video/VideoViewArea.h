#pragma once

// The main window's view area: the QMdiArea that holds every live channel
// window, with the program's grey pattern as background. It is the
// connection's ViewArea: CreateChannelWindow makes a ChannelWindow and hands
// back the handle the connection keeps in its slot.
//
// Command states that depend on other windows (the window count enables Fix,
// the fixed window checks it) are refreshed on every window once control
// returns to the event loop after a window was created, closed or fixed, by
// which time the connection has updated its count.

#include "LinkInterfaces.h"

#include <QList>
#include <QMdiArea>

class ChannelWindow;
class ChannelWindowContext;

class VideoViewArea final : public QMdiArea, public ViewArea {
    Q_OBJECT

public:
    explicit VideoViewArea(ChannelWindowContext& context, QWidget* parent = nullptr);

    // The size of the area's client (its viewport).
    QSize ClientSize() const override;
    std::unique_ptr<ChannelWindowHandle> CreateChannelWindow(const ChannelWindowInfo& info) override;

    // The channel windows still open, in creation order.
    QList<ChannelWindow*> ChannelWindows() const;
    // Shows the current enable and check rules on every window's toolbar.
    void RefreshCommandStates();

private:
    void ScheduleRefresh();

    ChannelWindowContext& m_context;
    bool m_refreshPending = false;
    // Receives the windows' signals. QMdiArea cuts every connection from a
    // sub-window to itself when the sub-window closes, and this member goes
    // before the windows when the area is destroyed.
    QObject m_windowSignals;
};
