// Any block handed to the bitmap-file writer: encode() either refuses it or
// returns a file whose header describes exactly the bytes that follow, taken
// only from inside the block.
#include "platform/bitmap/BitmapFile.h"

#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::span<const uint8_t> block(data, size);
    const auto file = BitmapFile::encode(block);
    if (!file)
        return 0;
    const PackedDibView dib(block);
    const auto field = [&](size_t at) {
        uint32_t v;
        std::memcpy(&v, file->data() + at, 4);
        return v;
    };
    if (!dib.valid() || file->size() != 14 + dib.whole().size() || field(2) != file->size() ||
        field(10) != 14 + 40 + dib.colorTable().size() ||
        std::memcmp(file->data() + 14, data, dib.whole().size()) != 0)
        __builtin_trap();
    return 0;
}
