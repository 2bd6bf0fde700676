#include "unattended/RedialScheduler.h"

#include "res/StringTable.h"

#include <algorithm>

using namespace std::chrono_literals;

std::chrono::seconds RedialScheduler::delayBefore(int attempt) {
    switch (attempt) {
    case 1:
        return 10s;
    case 2:
        return 30s;
    case 3:
        return 60s;
    case 4:
        return 120s;
    default:
        return 300s;
    }
}

void RedialScheduler::configure(bool enabled, int attempts) {
    m_enabled = enabled;
    m_maxAttempts = std::clamp(attempts, kMinAttempts, kMaxAttempts);
    if (!m_enabled)
        cancel();
}

bool RedialScheduler::onCallDropped(Target target, TimePoint now) {
    if (!m_enabled)
        return false;
    m_target = std::move(target);
    m_attempt = 1;
    m_phase = Phase::Waiting;
    m_due = now + delayBefore(m_attempt);
    return true;
}

bool RedialScheduler::onAttemptFailed(TimePoint now) {
    if (m_phase != Phase::Dialling)
        return m_phase == Phase::Waiting;
    if (m_attempt >= m_maxAttempts) {
        cancel();
        return false;
    }
    ++m_attempt;
    m_phase = Phase::Waiting;
    m_due = now + delayBefore(m_attempt);
    return true;
}

void RedialScheduler::onLoggedIn() {
    if (m_phase == Phase::Dialling)
        cancel();
}

void RedialScheduler::cancel() {
    m_phase = Phase::Idle;
    m_attempt = 0;
    m_target = {};
}

bool RedialScheduler::takeDue(TimePoint now, bool lineFree) {
    if (m_phase != Phase::Waiting || now < m_due || !lineFree)
        return false;
    m_phase = Phase::Dialling;
    return true;
}

std::optional<QString> RedialScheduler::statusText(TimePoint now) const {
    if (m_phase != Phase::Waiting)
        return std::nullopt;
    const auto left =
        std::chrono::ceil<std::chrono::seconds>(std::max(m_due - now, TimePoint::duration::zero()));
    return loadString(IDS_RECONNECT_COUNTDOWN).arg(left.count()).arg(m_attempt).arg(m_maxAttempts);
}
