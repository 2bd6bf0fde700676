// Feeds arbitrary bytes to the packed DIB to image conversion that the still
// viewer, the player's snapshot and the clips browser's preview draw with.
#include "video/ui/DibImage.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QImage image = dibToImage({data, size});
    if (!image.isNull() && (image.width() <= 0 || image.height() <= 0))
        __builtin_trap();
    return 0;
}
