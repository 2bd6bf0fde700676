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
    QObject::connect(&m_timer, &QTimer::timeout, &m_context, [this] { this->tick(); });
}

void Reconnector::configure(bool enabled, int attempts) {
    m_scheduler.configure(enabled, attempts);
    if (!enabled)
        m_port.clearReopen();
    if (enabled)
        m_timer.start();
    else
        m_timer.stop();
}

void Reconnector::noteOperatorDial(const QString& number) {
    cancel();
    m_number = number;
    m_login.reset();
    m_port.setLoginOverride(std::nullopt);
}

void Reconnector::forgetNumber() {
    cancel();
    m_number.clear();
}

bool Reconnector::cancel() {
    const bool running = m_scheduler.pending();
    if (running)
        qCInfo(lcReconnect) << "redial series ended by the operator or the site";
    m_scheduler.cancel();
    m_port.clearReopen();
    return running;
}

void Reconnector::onCallEnd(const CallEnd& end) {
    if (!end.dialled || !m_scheduler.enabled())
        return;
    const auto now = m_clock();
    if (m_scheduler.currentPhase() == RedialScheduler::Phase::Dialling) {
        if (end.connected && m_port.loggedIn()) {
            // The redial had logged in and dropped again: a new series.
            m_scheduler.onLoggedIn();
            startSeries();
            return;
        }
        qCInfo(lcReconnect) << "redial attempt" << m_scheduler.attempt() << "failed, call state" << end.state;
        if (!m_scheduler.onAttemptFailed(now))
            qCWarning(lcReconnect) << "giving up on" << m_number << "after" << m_scheduler.maxAttempts()
                                   << "attempts";
        return;
    }
    if (end.connected && !m_number.isEmpty() && m_scheduler.currentPhase() == RedialScheduler::Phase::Idle)
        startSeries();
}

void Reconnector::startSeries() {
    RedialScheduler::Target target;
    target.number = m_number;
    target.login = m_login.value_or(m_store.loginValues());
    target.channels = m_port.openChannelsNow();
    qCInfo(lcReconnect) << "call to" << m_number << "dropped; redialling with" << target.channels.size()
                        << "channels";
    m_scheduler.onCallDropped(std::move(target), m_clock());
}

void Reconnector::tick() {
    const auto now = m_clock();
    if (m_scheduler.currentPhase() == RedialScheduler::Phase::Dialling) {
        if (m_port.IsOpen() && m_port.loggedIn()) {
            qCInfo(lcReconnect) << "redial attempt" << m_scheduler.attempt() << "logged in";
            m_scheduler.onLoggedIn();
        } else if (!m_lines.hasCall() && !m_port.IsOpen()) {
            // Dropped through the dialing window: the operator ended it.
            cancel();
        }
        return;
    }
    const bool lineFree = m_lines.isLineOpen() && !m_lines.hasCall();
    if (m_scheduler.takeDue(now, lineFree)) {
        const RedialScheduler::Target& target = m_scheduler.currentTarget();
        qCInfo(lcReconnect) << "redial attempt" << m_scheduler.attempt() << "of" << m_scheduler.maxAttempts()
                            << "to" << target.number;
        m_login = target.login;
        m_port.setLoginOverride(target.login);
        m_port.planReopen(target.channels);
        if (!m_lines.Dial(target.number))
            m_scheduler.onAttemptFailed(m_clock());
        return;
    }
    if (lineFree) {
        if (const std::optional<QString> text = m_scheduler.statusText(now))
            m_status.SetStatusText(*text);
    }
}
