// Feeds arbitrary modem bytes to the NO CARRIER watch in the pieces the first
// byte chooses: the result line is pending exactly when the stream so far ends
// with it, whatever the pieces, and the kept tail never grows.
#include "platform/telephony/NoCarrierWatch.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0)
        return 0;
    const std::size_t step = 1 + data[0] % 17;
    const std::string_view bytes(reinterpret_cast<const char*>(data + 1), size - 1);
    const auto start = NoCarrierWatch::Clock::time_point{};

    NoCarrierWatch watch;
    watch.arm(std::chrono::milliseconds(100));
    std::string seen;
    for (std::size_t at = 0; at < bytes.size(); at += step) {
        const std::string_view piece = bytes.substr(at, step);
        const auto now = start + std::chrono::milliseconds(at);
        watch.feed(piece, now);
        seen.append(piece);
        const bool ends = seen.size() >= NoCarrierWatch::kResultLine.size() &&
                          seen.compare(seen.size() - NoCarrierWatch::kResultLine.size(),
                                       NoCarrierWatch::kResultLine.size(), NoCarrierWatch::kResultLine) == 0;
        if (watch.lost())
            break; // stays lost until re-armed
        if (watch.deadline().has_value() != ends)
            std::abort();
        if (watch.check(now + std::chrono::milliseconds(99)))
            std::abort(); // never before the quiet time
    }
    return 0;
}
