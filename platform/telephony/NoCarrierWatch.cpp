#include "platform/telephony/NoCarrierWatch.h"

void NoCarrierWatch::arm(std::chrono::milliseconds quiet) {
    m_armed = true;
    m_lost = false;
    m_quiet = quiet;
    m_tail.clear();
    m_pendingSince.reset();
}

void NoCarrierWatch::disarm() {
    m_armed = false;
    m_tail.clear();
    m_pendingSince.reset();
}

void NoCarrierWatch::feed(std::string_view bytes, Clock::time_point now) {
    if (!m_armed || m_lost || bytes.empty())
        return;
    const std::size_t keep = kResultLine.size();
    if (bytes.size() >= keep) {
        m_tail.assign(bytes.substr(bytes.size() - keep));
    } else {
        m_tail.append(bytes);
        if (m_tail.size() > keep)
            m_tail.erase(0, m_tail.size() - keep);
    }
    // Any byte after a result line cancels it: it was data, not the modem.
    if (m_tail == kResultLine)
        m_pendingSince = now;
    else
        m_pendingSince.reset();
}

std::optional<NoCarrierWatch::Clock::time_point> NoCarrierWatch::deadline() const {
    if (!m_pendingSince)
        return std::nullopt;
    return *m_pendingSince + m_quiet;
}

bool NoCarrierWatch::check(Clock::time_point now) {
    if (m_armed && !m_lost && m_pendingSince && now >= *m_pendingSince + m_quiet) {
        m_lost = true;
        m_pendingSince.reset();
    }
    return m_lost;
}
