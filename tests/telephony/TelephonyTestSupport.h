#pragma once

// Test doubles of what the main window gives the line control (the dialing
// status window and the answer watchdog) and of the serial port engine, plus
// a wait that keeps the Qt event loop running.

#include "link/AnswerWatchdog.h"
#include "link/CallPort.h"
#include "link/DialStatusWindow.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

#include <functional>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

// Runs the event loop until `done` holds or `ms` pass.
inline bool waitUntil(const std::function<bool()>& done, int ms) {
    QElapsedTimer elapsed;
    elapsed.start();
    while (!done()) {
        if (elapsed.elapsed() > ms)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::msleep(2);
    }
    return true;
}

inline void runEventsFor(int ms) {
    waitUntil([] { return false; }, ms);
}

class TestHost : public DialStatusFactory, public AnswerWatchdog {
public:
    struct Window : DialStatusWindow {
        explicit Window(TestHost& owner)
            : host(owner) {
            ++host.openWindows;
        }
        ~Window() override { --host.openWindows; }
        TestHost& host;
    };

    std::unique_ptr<DialStatusWindow> openDialStatus(const QString& number, const QString& status) override {
        shownNumbers.push_back(number);
        shownStatus = status;
        return std::make_unique<Window>(*this);
    }
    void startAnswerWatchdog(int ms) override {
        watchdogMs = ms;
        watchdogRunning = true;
        ++watchdogStarts;
    }
    void stopAnswerWatchdog() override { watchdogRunning = false; }

    int openWindows = 0;
    std::vector<QString> shownNumbers;
    QString shownStatus;
    bool watchdogRunning = false;
    int watchdogStarts = 0;
    int watchdogMs = 0;
};

// Stands in for the serial port engine: keeps the descriptor it is given and
// can talk over it like the engine's threads would.
class TestPort : public CallPort {
public:
    struct Record {
        int starts = 0;
        int stops = 0;
        bool answered = false;
        int fd = -1;
        bool refuse = false;
    };
    explicit TestPort(std::shared_ptr<Record> record)
        : m_record(std::move(record)) {}
    ~TestPort() override { Stop(); }

    bool Start(int fd, bool answered) override {
        ++m_record->starts;
        if (m_record->refuse || m_record->fd >= 0) {
            ::close(fd);
            return false;
        }
        m_record->fd = fd;
        m_record->answered = answered;
        return true;
    }
    void Stop() override {
        if (m_record->fd < 0)
            return;
        ++m_record->stops;
        ::close(m_record->fd);
        m_record->fd = -1;
    }

private:
    std::shared_ptr<Record> m_record;
};
