#include "tests/soak/GrowthCheck.h"

#include <algorithm>
#include <cstdio>

namespace {

// Least-squares slope of RSS over time, KiB per second.
double rssSlope(std::vector<ResourceSample>::const_iterator from,
                std::vector<ResourceSample>::const_iterator to) {
    const double n = static_cast<double>(to - from);
    double st = 0, sr = 0, stt = 0, str = 0;
    for (auto it = from; it != to; ++it) {
        const double r = static_cast<double>(it->rssKiB);
        st += it->seconds;
        sr += r;
        stt += it->seconds * it->seconds;
        str += it->seconds * r;
    }
    const double denominator = n * stt - st * st;
    return denominator > 0 ? (n * str - st * sr) / denominator : 0;
}

template <typename Field>
int maxOf(std::vector<ResourceSample>::const_iterator from, std::vector<ResourceSample>::const_iterator to,
          Field field) {
    int best = 0;
    for (auto it = from; it != to; ++it)
        best = std::max(best, field(*it));
    return best;
}

} // namespace

GrowthVerdict judgeGrowth(const std::vector<ResourceSample>& samples, const GrowthLimits& limits) {
    GrowthVerdict verdict;
    const auto begin = std::find_if(samples.begin(), samples.end(), [&](const ResourceSample& s) {
        return s.seconds >= limits.warmUpSeconds;
    });
    const auto end = samples.end();
    if (end - begin < 6)
        return verdict;
    verdict.judged = true;
    const auto middle = begin + (end - begin) / 2;
    const auto twoThirds = begin + 2 * (end - begin) / 3;

    verdict.rssAtWarmUpKiB = begin->rssKiB;
    verdict.rssAtEndKiB = (end - 1)->rssKiB;
    const double span = (end - 1)->seconds - begin->seconds;
    const double slope = rssSlope(begin, end);
    verdict.rssSlopeKiBPerHour = slope * 3600;
    const double allowance =
        std::max(static_cast<double>(limits.rssAllowanceKiB), 0.05 * static_cast<double>(begin->rssKiB));
    verdict.memoryGrows = slope * span > allowance && rssSlope(twoThirds, end) * span > allowance;

    const auto fds = [](const ResourceSample& s) {
        return s.fds;
    };
    const auto threads = [](const ResourceSample& s) {
        return s.threads;
    };
    verdict.fdsMaxFirst = maxOf(begin, middle, fds);
    verdict.fdsMaxSecond = maxOf(middle, end, fds);
    verdict.threadsMaxFirst = maxOf(begin, middle, threads);
    verdict.threadsMaxSecond = maxOf(middle, end, threads);
    verdict.fdsGrow = verdict.fdsMaxSecond > verdict.fdsMaxFirst + limits.fdSlack;
    verdict.threadsGrow = verdict.threadsMaxSecond > verdict.threadsMaxFirst + limits.threadSlack;

    if (span > 0)
        verdict.cpuPercent = 100 * ((end - 1)->cpuSeconds - begin->cpuSeconds) / span;
    return verdict;
}

std::string GrowthVerdict::describe() const {
    if (!judged)
        return "not judged: too few samples after the warm-up\n";
    char text[512];
    std::snprintf(text, sizeof text,
                  "memory   %lld KiB after warm-up, %lld KiB at the end, slope %+.0f KiB/h: %s\n"
                  "fds      max %d in the first half, %d in the second: %s\n"
                  "threads  max %d in the first half, %d in the second: %s\n"
                  "cpu      %.1f %% of one core on average\n",
                  rssAtWarmUpKiB, rssAtEndKiB, rssSlopeKiBPerHour, memoryGrows ? "GROWING" : "flat",
                  fdsMaxFirst, fdsMaxSecond, fdsGrow ? "GROWING" : "flat", threadsMaxFirst, threadsMaxSecond,
                  threadsGrow ? "GROWING" : "flat", cpuPercent);
    return text;
}
