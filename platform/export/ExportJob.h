#pragma once

// Runs one ClipExporter on its own thread for a window: progress and the end
// arrive as queued signals on the thread that owns the job, so the window
// keeps painting (live video included) while the export works.
//
// How it works: start() launches a std::thread running the exporter with the
// job's abort flag. The exporter's progress callback posts a queued call only
// when the whole percentage changes, so a long export cannot flood the event
// queue. cancel() raises the abort flag; the exporter stops between frames
// and removes its temporary file. The destructor cancels and joins the thread
// before anything else goes, so no queued call can reach a dead job.
// Time left is extrapolated from the time spent so far (clock injectable).

#include "platform/export/ClipExporter.h"

#include <QObject>

#include <atomic>
#include <chrono>
#include <functional>
#include <optional>
#include <thread>

class ExportJob : public QObject {
    Q_OBJECT

public:
    using Clock = std::function<std::chrono::steady_clock::time_point()>;

    explicit ExportJob(ExportRequest request, Clock clock = {}, QObject* parent = nullptr);
    ~ExportJob() override;

    void start();
    void cancel();
    bool running() const { return m_running; }
    // Valid once finished() was emitted.
    const ExportResult& result() const { return m_result; }

    // Seconds still to go when `done` of `total` took `elapsed`; nothing until
    // something is done.
    static std::optional<int> secondsLeft(int64_t done, int64_t total, std::chrono::milliseconds elapsed);

signals:
    // Percentage done (0-100) and seconds left (-1 while unknown).
    void progressed(int percent, int secondsLeft);
    void finished();

private:
    void report(int64_t done, int64_t total);
    void complete(ExportResult result);

    ExportRequest m_request;
    Clock m_clock;
    std::chrono::steady_clock::time_point m_started;
    std::atomic<bool> m_abort{false};
    std::thread m_thread;
    bool m_running = false;
    int m_lastPercent = -1; // touched by the worker thread only
    ExportResult m_result;
};
