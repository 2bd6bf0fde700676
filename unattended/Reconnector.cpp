#include "unattended/Reconnector.h"

#include "link/CommPort.h"
#include "link/LineManager.h"
#include "link/LinkInterfaces.h"

#include <QLoggingCategory>

Q_LOGGING_CATEGORY(lcReconnect, "dialscope.reconnect")

Reconnector::Reconnector(LineManager& lines, CommPort& port, ConnectionStore& store, StatusLine& status,
                         Clock clock, std::chrono::milliseconds tick)
    : m_lines(lines)
    , m_port(port)
    , m_store(store)
    , m_status(status)
    , m_clock(std::move(clock)) {
    m_timer.setInterval(tick);
    QObject::connect(&m_timer, &QTimer::timeout, &m_context, [this] { Tick(); });
}

void Reconnector::Configure(bool enabled, int attempts) {
    m_scheduler.Configure(enabled, attempts);
    if (!enabled)
        m_port.ClearReopen();
    if (enabled)
        m_timer.start();
    else
        m_timer.stop();
}

void Reconnector::NoteOperatorDial(const QString& number) {
    Cancel();
    m_number = number;
    m_login.reset();
    m_port.SetLoginOverride(std::nullopt);
}

void Reconnector::ForgetNumber() {
    Cancel();
    m_number.clear();
}

bool Reconnector::Cancel() {
    const bool running = m_scheduler.Pending();
    if (running)
        qCInfo(lcReconnect) << "redial series ended by the operator or the site";
    m_scheduler.Cancel();
    m_port.ClearReopen();
    return running;
}

void Reconnector::OnCallEnd(const CallEnd& end) {
    if (!end.dialled || !m_scheduler.Enabled())
        return;
    const auto now = m_clock();
    if (m_scheduler.CurrentPhase() == RedialScheduler::Phase::Dialling) {
        if (end.connected && m_port.LoggedIn()) {
            // The redial had logged in and dropped again: a new series.
            m_scheduler.OnLoggedIn();
            StartSeries();
            return;
        }
        qCInfo(lcReconnect) << "redial attempt" << m_scheduler.Attempt() << "failed, call state" << end.state;
        if (!m_scheduler.OnAttemptFailed(now))
            qCWarning(lcReconnect) << "giving up on" << m_number << "after" << m_scheduler.MaxAttempts()
                                   << "attempts";
        return;
    }
    if (end.connected && !m_number.isEmpty() && m_scheduler.CurrentPhase() == RedialScheduler::Phase::Idle)
        StartSeries();
}

void Reconnector::StartSeries() {
    RedialScheduler::Target target;
    target.number = m_number;
    target.login = m_login.value_or(m_store.GetLoginValues());
    target.channels = m_port.OpenChannelsNow();
    qCInfo(lcReconnect) << "call to" << m_number << "dropped; redialling with" << target.channels.size()
                        << "channels";
    m_scheduler.OnCallDropped(std::move(target), m_clock());
}

void Reconnector::Tick() {
    const auto now = m_clock();
    if (m_scheduler.CurrentPhase() == RedialScheduler::Phase::Dialling) {
        if (m_port.IsOpen() && m_port.LoggedIn()) {
            qCInfo(lcReconnect) << "redial attempt" << m_scheduler.Attempt() << "logged in";
            m_scheduler.OnLoggedIn();
        } else if (!m_lines.HasCall() && !m_port.IsOpen()) {
            // Dropped through the dialing window: the operator ended it.
            Cancel();
        }
        return;
    }
    const bool lineFree = m_lines.IsLineOpen() && !m_lines.HasCall();
    if (m_scheduler.TakeDue(now, lineFree)) {
        const RedialScheduler::Target& target = m_scheduler.CurrentTarget();
        qCInfo(lcReconnect) << "redial attempt" << m_scheduler.Attempt() << "of" << m_scheduler.MaxAttempts()
                            << "to" << target.number;
        m_login = target.login;
        m_port.SetLoginOverride(target.login);
        m_port.PlanReopen(target.channels);
        if (!m_lines.Dial(target.number))
            m_scheduler.OnAttemptFailed(m_clock());
        return;
    }
    if (lineFree) {
        if (const std::optional<QString> text = m_scheduler.StatusText(now))
            m_status.SetStatusText(*text);
    }
}
