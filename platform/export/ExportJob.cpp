#include "platform/export/ExportJob.h"

#include <QMetaObject>

ExportJob::ExportJob(ExportRequest request, Clock clock, QObject* parent)
    : QObject(parent)
    , m_request(std::move(request))
    , m_clock(clock ? std::move(clock) : Clock([] { return std::chrono::steady_clock::now(); })) {}

ExportJob::~ExportJob() {
    m_abort = true;
    if (m_thread.joinable())
        m_thread.join();
}

void ExportJob::start() {
    if (m_running || m_thread.joinable())
        return;
    m_running = true;
    m_started = m_clock();
    m_thread = std::thread([this] {
        ClipExporter exporter(m_request);
        ExportResult result =
            exporter.run(m_abort, [this](int64_t done, int64_t total) { report(done, total); });
        QMetaObject::invokeMethod(
            this, [this, result = std::move(result)]() mutable { complete(std::move(result)); },
            Qt::QueuedConnection);
    });
}

void ExportJob::cancel() {
    m_abort = true;
}

std::optional<int> ExportJob::secondsLeft(int64_t done, int64_t total, std::chrono::milliseconds elapsed) {
    if (done <= 0 || total <= 0 || elapsed.count() < 0)
        return std::nullopt;
    const int64_t remaining = std::max<int64_t>(0, total - done);
    const double seconds = double(elapsed.count()) / 1000.0 * double(remaining) / double(done);
    return int(seconds + 0.5);
}

void ExportJob::report(int64_t done, int64_t total) {
    const int percent = total > 0 ? int(std::min<int64_t>(100, done * 100 / total)) : 0;
    if (percent == m_lastPercent)
        return;
    m_lastPercent = percent;
    const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(m_clock() - m_started);
    const int left = secondsLeft(done, total, elapsed).value_or(-1);
    QMetaObject::invokeMethod(
        this, [this, percent, left] { emit progressed(percent, left); }, Qt::QueuedConnection);
}

void ExportJob::complete(ExportResult result) {
    if (m_thread.joinable())
        m_thread.join();
    m_result = std::move(result);
    m_running = false;
    emit finished();
}
