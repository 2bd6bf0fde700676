#include "tests/support/ChildProcess.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

// The inherited environment with `overrides` ("NAME=value") put in.
std::vector<std::string> mergedEnvironment(const std::vector<std::string>& overrides) {
    std::vector<std::string> merged;
    auto nameOf = [](const std::string& entry) {
        return entry.substr(0, entry.find('='));
    };
    for (char** entry = environ; *entry; ++entry) {
        std::string inherited = *entry;
        bool replaced = false;
        for (const std::string& override : overrides)
            replaced = replaced || nameOf(override) == nameOf(inherited);
        if (!replaced)
            merged.push_back(inherited);
    }
    merged.insert(merged.end(), overrides.begin(), overrides.end());
    return merged;
}

} // namespace

ChildProcess::ChildProcess(const std::vector<std::string>& argv, const std::vector<std::string>& environment,
                           const std::string& workingDirectory) {
    int fds[2];
    if (argv.empty() || ::pipe2(fds, O_CLOEXEC) != 0)
        return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
    if (!workingDirectory.empty())
        posix_spawn_file_actions_addchdir_np(&actions, workingDirectory.c_str());
    std::vector<char*> args;
    for (const std::string& arg : argv)
        args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    std::vector<std::string> envStrings = mergedEnvironment(environment);
    std::vector<char*> env;
    for (std::string& entry : envStrings)
        env.push_back(entry.data());
    env.push_back(nullptr);
    pid_t pid = -1;
    int rc = posix_spawn(&pid, args[0], &actions, nullptr, args.data(), env.data());
    posix_spawn_file_actions_destroy(&actions);
    ::close(fds[1]);
    if (rc != 0) {
        ::close(fds[0]);
        return;
    }
    m_pid = pid;
    m_stdout = fds[0];
}

ChildProcess::~ChildProcess() {
    if (m_pid > 0) {
        kill(SIGKILL);
        wait();
    }
    if (m_stdout >= 0)
        ::close(m_stdout);
}

bool ChildProcess::readSome(int timeoutMs, std::string& out) {
    if (m_stdout < 0)
        return false;
    while (true) {
        pollfd pfd{m_stdout, POLLIN, 0};
        int ready = ::poll(&pfd, 1, timeoutMs);
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            return true;
        char buffer[4096];
        ssize_t n = ::read(m_stdout, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        out.append(buffer, size_t(n));
        return true;
    }
}

std::string ChildProcess::readAll() {
    std::string out;
    while (readSome(60000, out)) {
    }
    return out;
}

void ChildProcess::kill(int signal) {
    if (m_pid > 0)
        ::kill(m_pid, signal);
}

int ChildProcess::wait() {
    if (m_pid <= 0)
        return -1;
    int status = 0;
    pid_t rc;
    do {
        rc = ::waitpid(m_pid, &status, 0);
    } while (rc < 0 && errno == EINTR);
    m_pid = -1;
    return rc < 0 ? -1 : status;
}
