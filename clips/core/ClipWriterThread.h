#pragma once

// The one thread that writes every recording's files, so that no file
// system call of a recording (write, sync, create, close) ever runs on the
// user-interface thread: a record folder on a stalled or slow volume then
// delays the files, never the live pictures or the operator's input.
//
// How it works: recorders post jobs (a closure each) to one queue, served in
// order by one worker thread, so the order of one clip's steps is kept.
// Results go back to the thread that made the ClipWriterThread (the UI
// thread) through its event loop and are run there in order. The queue is
// bounded in jobs and in bytes: a job that may be left out (a frame, a
// periodic sync) is refused when the queue is full and counted in dropped();
// a job that must run (creating or completing a clip) is always queued.
//
// Destroying the writer finishes every queued job, then runs the results not
// delivered yet on the destroying thread, so each started clip is completed
// and its record saved before the program ends. Jobs and results must not
// refer to objects that may be gone by then.

#include <QObject>

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

class ClipWriterThread {
public:
    struct Limits {
        size_t maxJobs = 512;
        size_t maxBytes = size_t(64) << 20; // frame bytes waiting for the disk
    };

    ClipWriterThread()
        : ClipWriterThread(Limits{}) {}
    explicit ClipWriterThread(Limits limits);
    ~ClipWriterThread();
    ClipWriterThread(const ClipWriterThread&) = delete;
    ClipWriterThread& operator=(const ClipWriterThread&) = delete;

    // Queues a job for the worker; `bytes` counts against the byte limit.
    // False when an optional job (mustRun false) found the queue full: it is
    // dropped and counted.
    bool post(std::function<void()> job, size_t bytes = 0, bool mustRun = false);
    // From a job: runs `result` on the owning thread, after the results
    // handed over before it.
    void deliver(std::function<void()> result);

    // Optional jobs refused because the queue was full.
    uint64_t dropped() const;
    // Jobs queued and not yet finished.
    size_t pending() const;

private:
    struct Job {
        std::function<void()> run;
        size_t bytes;
    };
    void serve();
    void runResults();

    Limits m_limits;
    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<Job> m_jobs;
    size_t m_queuedBytes = 0;
    size_t m_running = 0;
    uint64_t m_dropped = 0;
    bool m_stopping = false;
    std::vector<std::function<void()>> m_results;
    bool m_resultsCallPending = false;
    std::unique_ptr<QObject> m_receiver; // lives on the owning thread
    std::thread m_thread;
};
