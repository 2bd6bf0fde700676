#pragma once

// One finished call attempt as the line control saw it: who placed it, the
// number, the modem, whether and how fast it connected and why the line
// ended it. The line control reports every attempt exactly once, when it ends,
// whether the operator dialled it, a site called in or the program redialled;
// the receiver adds what the connection counted (CallCounters) and logs it.

#include <QDateTime>
#include <QString>

#include <chrono>
#include <cstdint>

enum class LineCallEnd {
    Local,      // dropped on this side (operator, login rejected, no decompressor, site request)
    Busy,       // the far end was busy
    NoAnswer,   // nobody answered
    NoDialTone, // no dial tone on the line
    NoCarrier,  // the attempt failed otherwise before connecting
    FarEnd,     // the far end hung up a connected call
    LineError,  // the modem or line went away or was restarted
    Watchdog,   // the answer watchdog gave up on an answered call
};

struct LineCallRecord {
    bool answered = false;
    QString number; // the dialled number; empty for an answered call
    QString modem;  // the line device's name
    QDateTime start;
    bool connected = false;
    uint32_t connectSpeed = 0; // bits per second from the modem's CONNECT line; 0 unknown
    std::chrono::milliseconds connectedFor{0};
    LineCallEnd end = LineCallEnd::Local;
};

// Where the line control reports each finished attempt (on the UI thread,
// after the connection stopped, so its counters are final).
class CallEndSink {
public:
    virtual ~CallEndSink() = default;
    virtual void onCallEnded(const LineCallRecord& record) = 0;
};
