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
//
// One channel may be shown alone: ShowAlone keeps every window's place,
// hides the others and scales the chosen one to the whole area (its picture's
// aspect kept); RestoreLayout puts every window back as it was. Closing the
// alone window restores the others.

#include "link/LinkInterfaces.h"

#include <QList>
#include <QMdiArea>
#include <QPointer>
#include <QRect>

class ChannelWindow;
class ChannelWindowContext;

class VideoViewArea final : public QMdiArea, public ViewArea {
    Q_OBJECT

public:
    explicit VideoViewArea(ChannelWindowContext& context, QWidget* parent = nullptr);

    // The size of the area's client (its viewport).
    QSize clientSize() const override;
    std::unique_ptr<ChannelWindowHandle> CreateChannelWindow(const ChannelWindowInfo& info) override;

    // The channel windows still open, in creation order.
    QList<ChannelWindow*> channelWindows() const;
    // Shows the current enable and check rules on every window's toolbar.
    void refreshCommandStates();

    // The channel window shown alone; null when the layout shows.
    ChannelWindow* aloneWindow() const;
    bool showAlone(ChannelWindow* window);
    void restoreLayout();
    // The active channel window; null when none is.
    ChannelWindow* activeChannelWindow() const;

private:
    void scheduleRefresh();

    struct Place {
        QPointer<ChannelWindow> window;
        QRect geometry;
        bool visible = true;
    };

    ChannelWindowContext& m_context;
    QPointer<ChannelWindow> m_alone;
    QList<Place> m_places;
    bool m_refreshPending = false;
    // Receives the windows' signals. QMdiArea cuts every connection from a
    // sub-window to itself when the sub-window closes, and this member goes
    // before the windows when the area is destroyed.
    QObject m_windowSignals;
};
