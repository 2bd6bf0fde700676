#pragma once

// Judges a long run's resource samples. The samples taken during the warm-up
// (caches filling, first recordings opened) are left out. Memory fails when it
// keeps rising: the least-squares slope over the judged span, and also the
// slope over its last third alone, each add up to more than the allowance
// across the span (a single step, such as a cache filled once, leaves the last
// third flat). Descriptors and threads fail when the second half's maximum exceeds
// the first half's maximum by more than their slack (reconnects open and close
// a few of them, so single peaks are not leaks; a leak raises the ceiling).

#include "tests/soak/ResourceSampler.h"

#include <string>
#include <vector>

struct GrowthLimits {
    double warmUpSeconds = 600;
    long long rssAllowanceKiB = 8 * 1024; // or 5 % of the warmed-up RSS, whichever is larger
    int fdSlack = 2;
    int threadSlack = 1;
};

struct GrowthVerdict {
    bool judged = false; // enough samples after the warm-up
    bool memoryGrows = false;
    bool fdsGrow = false;
    bool threadsGrow = false;
    double rssSlopeKiBPerHour = 0;
    long long rssAtWarmUpKiB = 0;
    long long rssAtEndKiB = 0;
    int fdsMaxFirst = 0, fdsMaxSecond = 0;
    int threadsMaxFirst = 0, threadsMaxSecond = 0;
    double cpuPercent = 0; // mean over the judged span

    bool failed() const { return !judged || memoryGrows || fdsGrow || threadsGrow; }
    std::string describe() const;
};

GrowthVerdict judgeGrowth(const std::vector<ResourceSample>& samples, const GrowthLimits& limits);
