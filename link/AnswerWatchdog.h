#pragma once

// The main window's answer watchdog (its timer 150): started when an offered
// call is answered. When it fires, the main window calls
// LineManager::OnAnswerWatchdog, which stops it.

class AnswerWatchdog {
public:
    virtual ~AnswerWatchdog() = default;

    virtual void startAnswerWatchdog(int ms) = 0;
    virtual void stopAnswerWatchdog() = 0;
};
