// Mount tables of any bytes, whole and split at a point the input chooses,
// must parse to the same entries without reading outside the input.
#include "app/core/MountTable.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    std::vector<MountEntry> whole = MountTableParser::parse(text);
    size_t split = size ? data[0] % (size + 1) : 0;
    MountTableParser parser;
    parser.feed(text.substr(0, split));
    parser.feed(text.substr(split));
    std::vector<MountEntry> pieces = parser.finish();
    if (pieces.size() != whole.size())
        std::abort();
    for (size_t i = 0; i < whole.size(); ++i)
        if (pieces[i].mountPoint != whole[i].mountPoint || pieces[i].type != whole[i].type)
            std::abort();
    listedVolumes(whole);
    return 0;
}
