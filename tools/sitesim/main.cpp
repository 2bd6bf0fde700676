// dialscope-sitesim: a simulated modem and video recorder on a pseudo-terminal,
// for integration tests and demonstrations. See --help.
#include "tools/sitesim/SimOptions.h"
#include "tools/sitesim/SimServer.h"

#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

// Client mode: each command on its own line, each reply printed; exit status 1
// when a reply is not "OK..." or the simulator cannot be reached.
int sendCommands(const std::string& socketPath, const std::vector<std::string>& commands) {
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    if (socketPath.size() >= sizeof addr.sun_path) {
        std::fprintf(stderr, "dialscope-sitesim: socket path too long\n");
        return 2;
    }
    std::memcpy(addr.sun_path, socketPath.c_str(), socketPath.size() + 1);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0 || ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        std::fprintf(stderr, "dialscope-sitesim: cannot connect to %s: %s\n", socketPath.c_str(),
                     std::strerror(errno));
        return 2;
    }
    int status = 0;
    std::string pending;
    for (const std::string& command : commands) {
        const std::string line = command + "\n";
        if (::send(fd, line.data(), line.size(), MSG_NOSIGNAL) != ssize_t(line.size()))
            return 2;
        size_t nl;
        while ((nl = pending.find('\n')) == std::string::npos) {
            char buf[512];
            const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
            if (n <= 0) {
                std::fprintf(stderr, "dialscope-sitesim: no reply to '%s'\n", command.c_str());
                return 2;
            }
            pending.append(buf, size_t(n));
        }
        const std::string reply = pending.substr(0, nl);
        pending.erase(0, nl + 1);
        std::printf("%s\n", reply.c_str());
        if (reply.rfind("OK", 0) != 0)
            status = 1;
    }
    ::close(fd);
    return status;
}

} // namespace

int main(int argc, char** argv) {
    std::string error;
    const auto options = sitesim::parseOptions(std::vector<std::string>(argv + 1, argv + argc), error);
    if (!options) {
        std::fprintf(stderr, "dialscope-sitesim: %s\nTry --help.\n", error.c_str());
        return 2;
    }
    if (options->help) {
        std::fputs(sitesim::usageText().c_str(), stdout);
        return 0;
    }
    if (!options->sendSocket.empty())
        return sendCommands(options->sendSocket, options->sendCommands);

    std::signal(SIGPIPE, SIG_IGN);
    sigset_t mask;
    sigemptyset(&mask);
    sigaddset(&mask, SIGTERM);
    sigaddset(&mask, SIGINT);
    sigprocmask(SIG_BLOCK, &mask, nullptr);
    const int stopFd = signalfd(-1, &mask, SFD_CLOEXEC);
    if (stopFd < 0) {
        std::fprintf(stderr, "dialscope-sitesim: signalfd: %s\n", std::strerror(errno));
        return 1;
    }

    sitesim::SimServer server(*options);
    if (!server.start(error)) {
        std::fprintf(stderr, "dialscope-sitesim: %s\n", error.c_str());
        server.cleanUp();
        return 1;
    }
    server.run(stopFd);
    server.cleanUp();
    ::close(stopFd);
    return 0;
}
