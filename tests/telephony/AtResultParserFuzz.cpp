// Feeds arbitrary modem output to the result parser, whole and in the pieces
// the first byte chooses, and checks that both ways agree.
#include "platform/telephony/AtResultParser.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0)
        return 0;
    const std::size_t step = 1 + data[0] % 17;
    const char* bytes = reinterpret_cast<const char*>(data + 1);
    const std::size_t length = size - 1;

    AtResultParser whole;
    std::vector<AtResult> a;
    whole.feed(bytes, length, a);

    AtResultParser pieces;
    std::vector<AtResult> b;
    for (std::size_t at = 0; at < length; at += step)
        pieces.feed(bytes + at, std::min(step, length - at), b);

    if (a != b)
        std::abort();
    for (const AtResult& r : a)
        if (r.text.size() > AtResultParser::kMaxLine)
            std::abort();
    return 0;
}
