// An EXIF block's directories, on any bytes: summarised, and its thumbnail
// dropped, which never grows the block, never leaves a thumbnail and keeps
// the orientation.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "host/core/Metadata.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const ExifSummary before = SummariseExif(data, size);
    std::vector<uint8_t> block(data, data + size);
    const bool dropped = DropExifThumbnail(&block);
    if (dropped != before.valid || block.size() > size)
        __builtin_trap();
    if (dropped) {
        const ExifSummary after = SummariseExif(block.data(), block.size());
        if (!after.valid || after.hasThumbnail || after.orientation != before.orientation)
            __builtin_trap();
    } else if (block != std::vector<uint8_t>(data, data + size)) {
        __builtin_trap();
    }
    return 0;
}
