#pragma once

// Redials a dialled call that dropped without the operator, through the line
// control's normal dial path, and has the connection reopen the channels that
// were open.
//
// How it works: the line control tells OnCallEnd about every call that ended
// by itself. A dialled call that had connected starts a series in the
// RedialScheduler with the number, the credentials and the open channels of
// that moment; a redial that ends before logging in counts as a failed
// attempt. A one-second tick places a due attempt while the line is free
// (an incoming call goes first), notices a login (the series ends), notices a
// redial the operator dropped from the dialing window (the series ends) and
// writes the countdown into the link status line. The operator's own Connect,
// Hang up, a rejected login and closing the program call Cancel.
//
// UI thread only; the line control, the connection and the status line must
// outlive it.

#include "unattended/RedialScheduler.h"

#include <QObject>
#include <QTimer>

#include <chrono>
#include <functional>

class CommPort;
class ConnectionStore;
class LineManager;
class StatusLine;
struct CallEnd;

class Reconnector {
public:
    using Clock = std::function<RedialScheduler::TimePoint()>;

    Reconnector(
        LineManager& lines, CommPort& port, ConnectionStore& store, StatusLine& status,
        Clock clock = [] { return std::chrono::steady_clock::now(); },
        std::chrono::milliseconds tick = std::chrono::seconds(1));

    void configure(bool enabled, int attempts);

    // The operator placed a call to `number`: a running series ends and a
    // later drop of this call redials this number.
    void noteOperatorDial(const QString& number);
    // Another dial path (a patrol) took the line: its calls are not redialled.
    void forgetNumber();
    // Ends a series; true when one was running.
    bool cancel();
    // The line control's call-end observer.
    void onCallEnd(const CallEnd& end);
    // The timer's routine (tests call it with their own clock).
    void tick();

    bool pending() const { return m_scheduler.pending(); }
    const RedialScheduler& scheduler() const { return m_scheduler; }

private:
    void startSeries();

    LineManager& m_lines;
    CommPort& m_port;
    ConnectionStore& m_store;
    StatusLine& m_status;
    Clock m_clock;
    RedialScheduler m_scheduler;
    QString m_number;                   // the operator's last dialled number; empty: none to redial
    std::optional<LoginValues> m_login; // the credentials of the redials; none: the stored ones
    QTimer m_timer;
    QObject m_context;
};
