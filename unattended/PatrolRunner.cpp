#include "unattended/PatrolRunner.h"

#include "app/core/ChannelTable.h"
#include "link/CommPort.h"
#include "link/LineManager.h"
#include "platform/bitmap/BitmapFile.h"
#include "platform/telephony/TelephonyTypes.h"

#include <QDir>
#include <QFile>
#include <QLoggingCategory>
#include <QSaveFile>
#include <QThreadPool>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <deque>
#include <mutex>

Q_LOGGING_CATEGORY(lcPatrol, "dialscope.patrol")

using namespace tel;
using Steady = std::chrono::steady_clock;

// A round's folders. recordFolder is set by the round's first job and read
// only by its later jobs (one queue: in order, one at a time); roundFolder is
// read on the UI thread too, hence the lock.
struct PatrolRunner::RoundFiles {
    std::string recordFolder;
    mutable std::mutex lock;
    std::string roundFolder;
};

// File jobs run in the order posted and never two at once: one task of the
// global pool drains the queue, and Post starts one only when none runs. The
// jobs hold what they need by value, so they outlive the runner safely (and
// the global pool's waitForDone still covers them).
struct PatrolRunner::WorkQueue {
    std::mutex lock;
    std::deque<std::function<void()>> jobs;
    bool draining = false;

    // Queues `job`; false (and nothing queued) when `limit` jobs already
    // wait, which bounds what a hung volume can pile up.
    static bool post(const std::shared_ptr<WorkQueue>& queue, std::function<void()> job,
                     size_t limit = SIZE_MAX) {
        {
            std::lock_guard guard(queue->lock);
            if (queue->jobs.size() >= limit)
                return false;
            queue->jobs.push_back(std::move(job));
            if (queue->draining)
                return true;
            queue->draining = true;
        }
        QThreadPool::globalInstance()->start([queue] {
            for (;;) {
                std::function<void()> next;
                {
                    std::lock_guard guard(queue->lock);
                    if (queue->jobs.empty()) {
                        queue->draining = false;
                        return;
                    }
                    next = std::move(queue->jobs.front());
                    queue->jobs.pop_front();
                }
                next();
            }
        });
        return true;
    }
};

PatrolRunner::PatrolRunner(LineManager& lines, CommPort& port, const ChannelTable& channels, Options options)
    : m_lines(lines)
    , m_port(port)
    , m_channels(channels)
    , m_options(std::move(options))
    , m_files(std::make_shared<RoundFiles>())
    , m_work(std::make_shared<WorkQueue>()) {
    m_timer.setInterval(m_options.tick);
    QObject::connect(&m_timer, &QTimer::timeout, &m_context, [this] { tick(); });
}

PatrolRunner::~PatrolRunner() {
    m_timer.stop();
}

std::string PatrolRunner::roundFolder() const {
    std::lock_guard guard(m_files->lock);
    return m_files->roundFolder;
}

bool PatrolRunner::Start(std::vector<PatrolSite> sites) {
    if (running() || sites.empty())
        return false;
    const std::string stored = m_options.recordFolder ? m_options.recordFolder() : std::string("./");
    m_report = PatrolReport();
    m_report.started = m_options.now();
    m_report.folder =
        QStringLiteral("patrol/") + m_report.started.toString(QStringLiteral("yyyyMMdd-hhmmss"));
    m_files = std::make_shared<RoundFiles>();
    WorkQueue::post(m_work, [files = m_files, stored, resolve = m_options.resolveFolder,
                             relative = m_report.folder.toStdString()] {
        files->recordFolder = resolve ? resolve(stored) : stored;
        const std::string round = files->recordFolder + relative + "/";
        {
            std::lock_guard guard(files->lock);
            files->roundFolder = round;
        }
        if (!QDir().mkpath(QString::fromStdString(round)))
            qCWarning(lcPatrol) << "cannot create" << round.c_str();
    });
    m_reportSlot.clear();
    for (const PatrolSite& site : sites) {
        PatrolSiteResult result;
        result.name = site.name;
        result.number = site.number;
        result.result = QStringLiteral("not called");
        m_reportSlot.push_back(m_report.sites.size());
        m_report.sites.push_back(std::move(result));
    }
    m_sites = std::move(sites);
    m_retry.clear();
    m_next = 0;
    m_retriesQueued = false;
    m_callEnded.reset();
    m_state = State::WaitLine;
    m_since = Steady::now();
    m_busyAt = {};
    m_interrupted = 0;
    qCInfo(lcPatrol) << "patrol round over" << m_sites.size() << "sites into" << stored.c_str()
                     << m_report.folder;
    m_timer.start();
    return true;
}

void PatrolRunner::Stop() {
    if (!running())
        return;
    const bool inCall = m_state != State::WaitLine;
    if (inCall) {
        current().result = QStringLiteral("stopped");
        if (m_lines.hasCall() || m_port.IsOpen())
            m_lines.ResetLine();
    }
    for (size_t i = m_next; i < m_sites.size(); ++i) {
        PatrolSiteResult& site = m_report.sites[m_reportSlot[i]];
        if (!site.reached)
            site.result = QStringLiteral("stopped");
    }
    finish();
}

void PatrolRunner::onCallEnd(const CallEnd& end) {
    if (!end.dialled || m_state == State::Idle || m_state == State::WaitLine)
        return;
    if (end.state == LINECALLSTATE_BUSY)
        m_callEnded = QStringLiteral("busy");
    else if (end.detail == LINEDISCONNECTMODE_NOANSWER)
        m_callEnded = QStringLiteral("no answer");
    else if (end.detail == LINEDISCONNECTMODE_NODIALTONE)
        m_callEnded = QStringLiteral("no dial tone");
    else if (end.connected)
        m_callEnded = QStringLiteral("dropped");
    else
        m_callEnded = QStringLiteral("no carrier");
}

void PatrolRunner::onLoginRejected() {
    if (m_state == State::Dialling)
        m_callEnded = QStringLiteral("login rejected");
}

bool PatrolRunner::wantsFrame(int32_t channel) const {
    if (m_state != State::Channels)
        return false;
    return std::any_of(m_waits.begin(), m_waits.end(),
                       [channel](const ChannelWait& wait) { return wait.channel == channel && !wait.done; });
}

void PatrolRunner::onFrame(int32_t channel, std::span<const uint8_t> picture) {
    if (m_state != State::Channels)
        return;
    for (ChannelWait& wait : m_waits) {
        if (wait.channel != channel || wait.done)
            continue;
        wait.done = true;
        const QString site = fileSafeName(current().name);
        const QString relative = m_report.folder + u'/' + site + u'/' +
                                 QStringLiteral("%1.bmp").arg(channel, 4, 10, QLatin1Char('0'));
        // Written off this thread; the report only names the file.
        const bool queued = WorkQueue::post(
            m_work,
            [files = m_files, relative, bytes = std::vector<uint8_t>(picture.begin(), picture.end())] {
                const QString path = QString::fromStdString(files->recordFolder) + relative;
                QDir().mkpath(path.section(u'/', 0, -2));
                int error = 0;
                if (!BitmapFile::save(path.toStdString(), bytes, &error))
                    qCWarning(lcPatrol) << "cannot save" << path << ":" << std::strerror(error);
            },
            m_options.maxPendingFiles);
        if (!queued) {
            qCWarning(lcPatrol) << "record volume not answering; picture" << relative << "dropped";
            return;
        }
        for (PatrolChannelResult& result : current().channels) {
            if (result.channel == channel) {
                result.file = relative;
                result.frameTime = m_options.now();
                result.result = QStringLiteral("picture");
            }
        }
        return;
    }
}

void PatrolRunner::dialNext() {
    const PatrolSite& site = m_sites[m_next];
    if (m_reportSlot[m_next] != m_siteIndex)
        m_interrupted = 0;
    m_siteIndex = m_reportSlot[m_next];
    ++m_next;
    m_callEnded.reset();
    m_waits.clear();
    m_port.clearReopen();
    m_port.setLoginOverride(site.login);
    m_state = State::Dialling;
    m_since = Steady::now();
    qCInfo(lcPatrol) << "patrol calls" << site.name << "at" << site.number;
    if (!m_lines.Dial(site.number))
        siteFailed(QStringLiteral("no connection"), false);
}

void PatrolRunner::siteFailed(const QString& reason, bool retry) {
    PatrolSiteResult& site = current();
    site.reached = false;
    site.result = reason;
    qCInfo(lcPatrol) << "patrol: site" << site.name << "not reached:" << reason;
    if (retry && !m_retriesQueued)
        m_retry.push_back(m_next - 1);
    if (m_lines.hasCall() || m_port.IsOpen())
        m_lines.ResetLine();
    m_callEnded.reset();
    m_state = State::WaitLine;
    m_since = Steady::now();
    m_busyAt = m_since;
}

void PatrolRunner::dialInterrupted() {
    // The dial may still be under way, or the line control already reset the
    // line for its end; a call already taken by the line control is left alone.
    if (!m_callEnded && !m_lines.isAnswering() && !m_lines.isAnswered() &&
        (m_lines.hasCall() || m_port.IsOpen()))
        m_lines.ResetLine();
    ++m_interrupted;
    qCInfo(lcPatrol) << "patrol: a call came in while dialling" << current().name
                     << "; it is called again after it";
    if (m_interrupted > kMaxInterruptions) {
        siteFailed(QStringLiteral("line taken by incoming calls"), false);
        return;
    }
    --m_next; // the same site comes next
    m_callEnded.reset();
    m_state = State::WaitLine;
    m_since = Steady::now();
    m_busyAt = m_since;
}

void PatrolRunner::finishSite() {
    if (m_callEnded && current().result == QStringLiteral("reached"))
        current().result = *m_callEnded; // the site dropped the call before we were done
    if (m_lines.hasCall() || m_port.IsOpen())
        m_lines.ResetLine();
    m_callEnded.reset();
    m_waits.clear();
    m_state = State::WaitLine;
    m_since = Steady::now();
    m_busyAt = m_since;
}

void PatrolRunner::openChannels() {
    PatrolSiteResult& site = current();
    site.reached = true;
    site.result = QStringLiteral("reached");
    site.channels.clear();
    m_waits.clear();
    for (const ChannelEntry& entry : m_channels.rows()) {
        PatrolChannelResult result;
        result.channel = entry.channel;
        result.name = QString::fromStdString(m_channels.GetChannelName(entry.channel));
        result.result = QStringLiteral("no picture");
        site.channels.push_back(std::move(result));
        m_waits.push_back({entry.channel});
    }
    m_allAtOnce = m_port.mayOpenChannels();
    m_state = State::Channels;
    if (m_allAtOnce) {
        for (ChannelWait& wait : m_waits) {
            m_port.requestOpenChannel(wait.channel); // false: already streaming, which is as good
            wait.requested = true;
            wait.since = Steady::now();
        }
    } else {
        requestNextChannel();
    }
}

void PatrolRunner::requestNextChannel() {
    for (ChannelWait& wait : m_waits) {
        if (wait.done)
            continue;
        if (!wait.requested) {
            m_port.requestOpenChannel(wait.channel);
            wait.requested = true;
            wait.since = Steady::now();
        }
        return; // one at a time
    }
}

void PatrolRunner::tick() {
    const auto now = Steady::now();
    switch (m_state) {
    case State::Idle:
        return;
    case State::WaitLine:
        if (m_next >= m_sites.size()) {
            if (m_retriesQueued || m_retry.empty()) {
                finish();
                return;
            }
            m_retriesQueued = true;
            for (size_t entry : m_retry) {
                m_sites.push_back(m_sites[entry]);
                m_reportSlot.push_back(m_reportSlot[entry]);
            }
            m_retry.clear();
        }
        if (!m_lines.isLineOpen()) {
            if (now - m_since > m_options.connectTimeout) {
                m_siteIndex = m_reportSlot[m_next];
                ++m_next;
                siteFailed(QStringLiteral("no line"), false);
            }
            return;
        }
        if (m_lines.hasCall()) {
            m_busyAt = now; // an incoming call goes first; the round goes on after it
            return;
        }
        if (now - std::max(m_busyAt, m_lines.lastRing()) < m_options.lineQuiet)
            return; // a caller that found the line busy, or rings again, gets through first
        dialNext();
        return;
    case State::Dialling:
        if (m_lines.lastRing() >= m_since) {
            dialInterrupted();
        } else if (m_callEnded) {
            const bool retry =
                *m_callEnded == QStringLiteral("busy") || *m_callEnded == QStringLiteral("no answer");
            siteFailed(*m_callEnded, retry);
        } else if (m_port.IsOpen() && m_port.loggedIn()) {
            openChannels();
        } else if (now - m_since > m_options.connectTimeout) {
            siteFailed(QStringLiteral("no connection"), false);
        } else if (now - m_since > std::chrono::seconds(1) && !m_lines.hasCall() && !m_port.IsOpen()) {
            siteFailed(QStringLiteral("hung up"), false); // dropped from the dialing window
        }
        return;
    case State::Channels: {
        if (m_callEnded) {
            finishSite();
            return;
        }
        bool allDone = true;
        for (ChannelWait& wait : m_waits) {
            if (wait.requested && !wait.done && now - wait.since > m_options.frameTimeout)
                wait.done = true;
            allDone = allDone && wait.done;
        }
        if (!allDone) {
            if (!m_allAtOnce)
                requestNextChannel();
            return;
        }
        bool pictures = false;
        if (m_options.recordSeconds > 0) {
            for (const PatrolChannelResult& channel : current().channels) {
                if (!channel.file.isEmpty())
                    pictures = m_port.startRecordingChannel(channel.channel) || pictures;
            }
        }
        if (pictures) {
            m_state = State::Recording;
            m_since = now;
        } else {
            finishSite();
        }
        return;
    }
    case State::Recording:
        if (m_callEnded || now - m_since >= std::chrono::seconds(m_options.recordSeconds))
            finishSite();
        return;
    }
}

void PatrolRunner::finish() {
    m_timer.stop();
    m_state = State::Idle;
    m_port.setLoginOverride(std::nullopt);
    m_report.finished = true;
    // After the round's pictures: the queue keeps the order.
    WorkQueue::post(m_work, [files = m_files, json = m_report.toJson()] {
        std::string round;
        {
            std::lock_guard guard(files->lock);
            round = files->roundFolder;
        }
        QSaveFile file(QString::fromStdString(round) + QStringLiteral("report.json"));
        if (!file.open(QIODevice::WriteOnly) || file.write(json) < 0 || !file.commit())
            qCWarning(lcPatrol) << "cannot write the report in" << round.c_str() << ":" << file.errorString();
    });
    qCInfo(lcPatrol) << "patrol round done;"
                     << (m_report.allReached() ? "every site reached" : "sites missed");
    if (m_finished)
        m_finished(m_report);
}
