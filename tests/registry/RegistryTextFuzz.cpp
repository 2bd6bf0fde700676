// Parses arbitrary bytes as a line of the store's text form; a value that
// parses must read back the same after being written out again.
#include "platform/registry/RegistryText.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const RegTextLine line = parseRegTextLine(std::string_view(reinterpret_cast<const char*>(data), size));
    if (line.kind != RegTextLine::Kind::Value)
        return 0;
    const RegTextLine again = parseRegTextLine("  \"" + escapeRegText(line.value.name) +
                                               "\" = " + describeRegValue(line.value.value));
    if (again.kind != RegTextLine::Kind::Value || again.value.name != line.value.name ||
        again.value.value.data != line.value.value.data)
        std::abort();
    return 0;
}
