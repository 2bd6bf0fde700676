#include "tests/telephony/PtyModem.h"

#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <termios.h>
#include <unistd.h>

namespace {

long long nowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

std::string upper(std::string text) {
    for (char& c : text)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

} // namespace

PtyModem::PtyModem(std::string link, Options options)
    : m_link(std::move(link))
    , m_options(std::move(options)) {
    m_wake = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    publish();
    m_thread = std::thread(&PtyModem::run, this);
}

PtyModem::~PtyModem() {
    m_stop = true;
    const std::uint64_t one = 1;
    [[maybe_unused]] ssize_t n = ::write(m_wake, &one, sizeof one);
    m_thread.join();
    closeMaster();
    ::unlink(m_link.c_str());
    ::close(m_wake);
}

void PtyModem::publish() {
    m_master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
    grantpt(m_master);
    unlockpt(m_master);
    const std::string slave = ptsname(m_master);
    // Holding the slave open keeps the master from seeing a hang-up between users.
    m_slave = ::open(slave.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    termios tio{};
    tcgetattr(m_slave, &tio);
    cfmakeraw(&tio);
    tcsetattr(m_slave, TCSANOW, &tio);
    const std::string temp = m_link + ".new";
    ::unlink(temp.c_str());
    [[maybe_unused]] int rc = ::symlink(slave.c_str(), temp.c_str());
    rc = ::rename(temp.c_str(), m_link.c_str());
    m_echo = true;
    m_commandMode = true;
    m_line.clear();
    m_dueAt = 0;
    m_plusAt = 0;
    m_plusCount = 0;
}

void PtyModem::closeMaster() {
    if (m_master >= 0)
        ::close(m_master);
    if (m_slave >= 0)
        ::close(m_slave);
    m_master = m_slave = -1;
}

void PtyModem::post(std::function<void()> action) {
    {
        std::lock_guard lock(m_mutex);
        m_actions.push_back(std::move(action));
    }
    const std::uint64_t one = 1;
    [[maybe_unused]] ssize_t n = ::write(m_wake, &one, sizeof one);
}

void PtyModem::ring() {
    post([this] {
        if (m_commandMode)
            result("RING");
    });
}

void PtyModem::sendData(const std::string& bytes) {
    post([this, bytes] { write(bytes); });
}

void PtyModem::hangUpFarEnd() {
    post([this] {
        closeMaster();
        {
            std::lock_guard lock(m_mutex);
            m_online = false;
        }
        publish();
    });
}

void PtyModem::unplug() {
    post([this] {
        closeMaster();
        ::unlink(m_link.c_str());
        std::lock_guard lock(m_mutex);
        m_online = false;
    });
}

void PtyModem::setBehaviour(Behaviour behaviour) {
    post([this, behaviour] { m_options.behaviour = behaviour; });
}

std::vector<std::string> PtyModem::commands() const {
    std::lock_guard lock(m_mutex);
    return m_commands;
}

int PtyModem::countCommands(const std::string& prefix) const {
    std::lock_guard lock(m_mutex);
    int count = 0;
    for (const std::string& command : m_commands)
        count += command.rfind(prefix, 0) == 0 ? 1 : 0;
    return count;
}

int PtyModem::escapes() const {
    std::lock_guard lock(m_mutex);
    return m_escapes;
}

std::string PtyModem::data() const {
    std::lock_guard lock(m_mutex);
    return m_data;
}

bool PtyModem::online() const {
    std::lock_guard lock(m_mutex);
    return m_online;
}

void PtyModem::write(const std::string& text) {
    if (m_master >= 0) [[maybe_unused]]
        ssize_t n = ::write(m_master, text.data(), text.size());
}

void PtyModem::result(const std::string& text) {
    write("\r\n" + text + "\r\n");
}

void PtyModem::onCommandLine(const std::string& raw) {
    const std::string line = upper(raw);
    {
        std::lock_guard lock(m_mutex);
        m_commands.push_back(line);
    }
    if (m_options.behaviour == Behaviour::Silent)
        return;
    if (m_options.behaviour == Behaviour::Garbage) {
        write("\x01\xfe~~ZZ\x7f\r\n#!?\r\n");
        return;
    }
    if (line.rfind("AT", 0) != 0)
        return;
    if (line == "ATZ") {
        m_echo = true;
        result("OK");
    } else if (line == "ATI") {
        result("33600"); // a product code, as most modems answer
        result("OK");
    } else if (line == "ATI3") {
        result(m_options.name);
        result("OK");
    } else if (line.rfind("ATDT", 0) == 0) {
        const std::string number = line.substr(4);
        auto it = m_options.outcomes.find(number);
        m_dueResult = it == m_options.outcomes.end() ? m_options.defaultOutcome : it->second;
        m_dueAt = m_dueResult.empty() ? 0 : nowMs() + m_options.dialDelayMs;
    } else if (line == "ATA") {
        m_dueResult = m_options.answerOutcome;
        m_dueAt = m_dueResult.empty() ? 0 : nowMs() + m_options.answerDelayMs;
    } else if (line.rfind("ATH", 0) == 0) {
        std::lock_guard lock(m_mutex);
        m_online = false;
        m_commandMode = true;
        result("OK");
    } else if (line.find("E0") != std::string::npos) {
        m_echo = false;
        std::string reply = "\r\nOK\r\n";
        if (!m_options.afterSetupOk.empty())
            reply += "\r\n" + m_options.afterSetupOk + "\r\n";
        write(reply);
    } else {
        result("OK");
    }
}

void PtyModem::onBytes(const char* data, std::size_t size) {
    const long long now = nowMs();
    if (!m_commandMode) {
        for (std::size_t i = 0; i < size; ++i) {
            const bool quietBefore = now - m_lastDataAt >= m_options.guardMs;
            if (data[i] == '+' && (m_plusCount > 0 || quietBefore)) {
                if (++m_plusCount == 3)
                    m_plusAt = now;
                continue;
            }
            m_plusCount = 0;
            m_plusAt = 0;
            m_lastDataAt = now;
            std::lock_guard lock(m_mutex);
            m_data.push_back(data[i]);
        }
        return;
    }
    for (std::size_t i = 0; i < size; ++i) {
        const char c = data[i];
        if (m_dueAt != 0) {
            // Any character ends a dial or answer in progress.
            m_dueAt = 0;
            result("NO CARRIER");
            continue;
        }
        if (m_echo)
            write(std::string(1, c));
        if (c == '\r') {
            if (!m_line.empty())
                onCommandLine(m_line);
            m_line.clear();
        } else if (c != '\n' && m_line.size() < 200) {
            m_line.push_back(c);
        }
    }
}

void PtyModem::run() {
    while (!m_stop) {
        int timeout = 20;
        pollfd fds[2] = {{m_wake, POLLIN, 0}, {m_master, POLLIN, 0}};
        poll(fds, m_master >= 0 ? 2 : 1, timeout);
        if (fds[0].revents & POLLIN) {
            std::uint64_t value;
            [[maybe_unused]] ssize_t n = ::read(m_wake, &value, sizeof value);
            std::deque<std::function<void()>> actions;
            {
                std::lock_guard lock(m_mutex);
                actions.swap(m_actions);
            }
            for (auto& action : actions)
                action();
        }
        if (m_master >= 0 && (fds[1].revents & POLLIN)) {
            char buffer[512];
            const ssize_t n = ::read(m_master, buffer, sizeof buffer);
            if (n > 0)
                onBytes(buffer, static_cast<std::size_t>(n));
        }
        const long long now = nowMs();
        if (m_dueAt != 0 && now >= m_dueAt) {
            m_dueAt = 0;
            result(m_dueResult);
            if (m_dueResult.rfind("CONNECT", 0) == 0) {
                m_commandMode = false;
                m_lastDataAt = now;
                std::lock_guard lock(m_mutex);
                m_online = true;
            }
        }
        if (m_plusAt != 0 && now - m_plusAt >= m_options.guardMs) {
            m_plusAt = 0;
            m_plusCount = 0;
            m_commandMode = true;
            {
                std::lock_guard lock(m_mutex);
                ++m_escapes;
            }
            result("OK");
        }
    }
}
