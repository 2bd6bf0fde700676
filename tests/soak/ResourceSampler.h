#pragma once

// Reads what a running process holds from /proc: resident memory, open file
// descriptors, threads and the CPU time it has used. One call is one sample;
// a process that has gone away gives nullopt.

#include <optional>
#include <sys/types.h>

struct ResourceSample {
    double seconds = 0;    // since the sampler was made
    long long rssKiB = 0;  // VmRSS
    int fds = 0;           // entries of /proc/PID/fd
    int threads = 0;       // Threads
    double cpuSeconds = 0; // user + system time so far
};

class ResourceSampler {
public:
    explicit ResourceSampler(pid_t pid);

    std::optional<ResourceSample> sample() const;

private:
    pid_t m_pid;
    double m_startSeconds;
};
