#include "clips/core/ClipWriterThread.h"

ClipWriterThread::ClipWriterThread(Limits limits)
    : m_limits(limits)
    , m_receiver(std::make_unique<QObject>()) {
    m_thread = std::thread([this] { serve(); });
}

ClipWriterThread::~ClipWriterThread() {
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_wake.notify_all();
    m_thread.join();
    // Every job has run; what they handed back is run here, as the event
    // loop may never get to it.
    runResults();
}

bool ClipWriterThread::post(std::function<void()> job, size_t bytes, bool mustRun) {
    {
        std::lock_guard lock(m_mutex);
        if (!mustRun && (m_jobs.size() >= m_limits.maxJobs || m_queuedBytes + bytes > m_limits.maxBytes)) {
            ++m_dropped;
            return false;
        }
        m_queuedBytes += bytes;
        m_jobs.push_back({std::move(job), bytes});
    }
    m_wake.notify_one();
    return true;
}

void ClipWriterThread::serve() {
    std::unique_lock lock(m_mutex);
    while (true) {
        m_wake.wait(lock, [this] { return m_stopping || !m_jobs.empty(); });
        if (m_jobs.empty())
            return; // stopping, and everything queued has run
        Job job = std::move(m_jobs.front());
        m_jobs.pop_front();
        ++m_running;
        lock.unlock();
        job.run();
        job.run = nullptr; // what the job held goes before the queue is looked at again
        lock.lock();
        --m_running;
        m_queuedBytes -= job.bytes;
    }
}

void ClipWriterThread::deliver(std::function<void()> result) {
    std::lock_guard lock(m_mutex);
    m_results.push_back(std::move(result));
    if (m_resultsCallPending || m_stopping)
        return;
    m_resultsCallPending = true;
    // Dropped with the receiver should the writer be destroyed first; the
    // destructor then runs the results itself.
    QMetaObject::invokeMethod(
        m_receiver.get(), [this] { runResults(); }, Qt::QueuedConnection);
}

void ClipWriterThread::runResults() {
    std::vector<std::function<void()>> results;
    {
        std::lock_guard lock(m_mutex);
        results.swap(m_results);
        m_resultsCallPending = false;
    }
    for (auto& result : results)
        result();
}

uint64_t ClipWriterThread::dropped() const {
    std::lock_guard lock(m_mutex);
    return m_dropped;
}

size_t ClipWriterThread::pending() const {
    std::lock_guard lock(m_mutex);
    return m_jobs.size() + m_running;
}
