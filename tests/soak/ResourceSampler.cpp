#include "tests/soak/ResourceSampler.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>

namespace {

double steadySeconds() {
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

// utime and stime are fields 14 and 15; the command name (field 2) may hold
// spaces and parentheses, so counting starts after its last ')'.
std::optional<double> cpuSeconds(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text;
    if (!std::getline(stat, text))
        return std::nullopt;
    const std::size_t close = text.rfind(')');
    if (close == std::string::npos)
        return std::nullopt;
    std::istringstream fields(text.substr(close + 1));
    std::string field;
    unsigned long long utime = 0, stime = 0;
    for (int index = 3; fields >> field; ++index) {
        if (index == 14)
            utime = std::stoull(field);
        else if (index == 15) {
            stime = std::stoull(field);
            return static_cast<double>(utime + stime) / static_cast<double>(sysconf(_SC_CLK_TCK));
        }
    }
    return std::nullopt;
}

int countFds(pid_t pid) {
    DIR* dir = opendir(("/proc/" + std::to_string(pid) + "/fd").c_str());
    if (!dir)
        return -1;
    int count = 0;
    while (const dirent* entry = readdir(dir))
        if (entry->d_name[0] != '.')
            ++count;
    closedir(dir);
    return count;
}

} // namespace

ResourceSampler::ResourceSampler(pid_t pid)
    : m_pid(pid)
    , m_startSeconds(steadySeconds()) {}

std::optional<ResourceSample> ResourceSampler::sample() const {
    ResourceSample sample;
    sample.seconds = steadySeconds() - m_startSeconds;
    std::ifstream status("/proc/" + std::to_string(m_pid) + "/status");
    bool haveRss = false, haveThreads = false;
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("VmRSS:", 0) == 0)
            haveRss = std::sscanf(line.c_str() + 6, "%lld", &sample.rssKiB) == 1;
        else if (line.rfind("Threads:", 0) == 0)
            haveThreads = std::sscanf(line.c_str() + 8, "%d", &sample.threads) == 1;
    }
    const std::optional<double> cpu = cpuSeconds(m_pid);
    sample.fds = countFds(m_pid);
    if (!haveRss || !haveThreads || !cpu || sample.fds < 0)
        return std::nullopt;
    sample.cpuSeconds = *cpu;
    return sample;
}
