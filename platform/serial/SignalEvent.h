#pragma once

// A signal one thread raises and another waits for with poll(): an eventfd
// that is readable while the signal is set. Used as the stop events of the
// serial threads (set once, cleared never) and as the writer's send signal
// (set by every enqueue, cleared by the writer before it drains the queue).

class SignalEvent {
public:
    SignalEvent();
    ~SignalEvent();
    SignalEvent(const SignalEvent&) = delete;
    SignalEvent& operator=(const SignalEvent&) = delete;

    // False when the descriptor could not be created.
    bool valid() const { return m_fd >= 0; }
    // The descriptor to poll for POLLIN.
    int fd() const { return m_fd; }

    void set();
    void clear();
    bool isSet() const;

private:
    int m_fd = -1;
};
