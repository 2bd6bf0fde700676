#include "tools/sitesim/SiteSimProcess.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace {

int connectTo(const std::string& path) {
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    if (path.size() >= sizeof addr.sun_path)
        return -1;
    std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd >= 0 && ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0)
        return fd;
    if (fd >= 0)
        ::close(fd);
    return -1;
}

} // namespace

std::string SiteSimProcess::executable() {
    return DIALSCOPE_SITESIM_EXE;
}

SiteSimProcess::~SiteSimProcess() {
    stop();
}

bool SiteSimProcess::start(const std::string& dir, const std::vector<std::string>& args, std::string& error) {
    m_link = dir + "/modem";
    m_control = dir + "/control";
    m_log = dir + "/sitesim.log";
    std::vector<std::string> argv = {executable(), "--link", m_link, "--control", m_control, "--log", m_log};
    argv.insert(argv.end(), args.begin(), args.end());
    m_telnet = std::find(args.begin(), args.end(), "--rfc2217") != args.end();
    std::vector<char*> cargv;
    for (std::string& a : argv)
        cargv.push_back(a.data());
    cargv.push_back(nullptr);
    // The child must not inherit blocked signals, or SIGTERM would not stop it
    // before its own signalfd is set up.
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK);
    const int rc = posix_spawn(&m_pid, cargv[0], nullptr, &attr, cargv.data(), environ);
    posix_spawnattr_destroy(&attr);
    if (rc != 0) {
        m_pid = -1;
        error = "cannot start " + executable() + ": " + std::strerror(rc);
        return false;
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < deadline) {
        int status = 0;
        if (::waitpid(m_pid, &status, WNOHANG) == m_pid) {
            m_pid = -1;
            error = "the simulator exited at start-up (status " + std::to_string(status) + ")";
            return false;
        }
        struct stat st {};
        if (::lstat(m_link.c_str(), &st) == 0) {
            const int fd = connectTo(m_control);
            if (fd >= 0) {
                ::close(fd);
                return true;
            }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    error = "the simulator did not publish its link in time";
    stop();
    return false;
}

std::string SiteSimProcess::command(const std::string& line) const {
    const int fd = connectTo(m_control);
    if (fd < 0)
        return "";
    const std::string text = line + "\n";
    std::string reply;
    if (::send(fd, text.data(), text.size(), MSG_NOSIGNAL) == ssize_t(text.size())) {
        char buf[512];
        ssize_t n;
        while (reply.find('\n') == std::string::npos && (n = ::recv(fd, buf, sizeof buf, 0)) > 0)
            reply.append(buf, size_t(n));
    }
    ::close(fd);
    if (const auto nl = reply.find('\n'); nl != std::string::npos)
        reply.resize(nl);
    return reply;
}

int SiteSimProcess::tcpPort() const {
    const std::string status = command("status");
    const std::string key = "\"tcpPort\":";
    const auto at = status.find(key);
    return at == std::string::npos ? 0 : std::atoi(status.c_str() + at + key.size());
}

std::string SiteSimProcess::modemUrl() const {
    const int port = tcpPort();
    if (port == 0)
        return m_link;
    return std::string(m_telnet ? "rfc2217" : "tcp") + "://127.0.0.1:" + std::to_string(port);
}

std::vector<std::string> SiteSimProcess::logLines() const {
    std::vector<std::string> lines;
    std::ifstream in(m_log);
    std::string line;
    while (std::getline(in, line))
        lines.push_back(line);
    return lines;
}

std::string SiteSimProcess::waitForLog(const std::vector<std::string>& fragments,
                                       std::chrono::milliseconds timeout, size_t skip) const {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    do {
        const std::vector<std::string> lines = logLines();
        for (size_t i = skip; i < lines.size(); ++i) {
            bool all = true;
            for (const std::string& f : fragments)
                all = all && lines[i].find(f) != std::string::npos;
            if (all)
                return lines[i];
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    } while (std::chrono::steady_clock::now() < deadline);
    return "";
}

int SiteSimProcess::stop() {
    if (m_pid <= 0)
        return -1;
    ::kill(m_pid, SIGTERM);
    int status = -1;
    while (::waitpid(m_pid, &status, 0) < 0 && errno == EINTR) {
    }
    m_pid = -1;
    return status;
}
