// An EXIF block's directories, on any bytes: summarised, and its thumbnail
// dropped, which never grows the block, never leaves a thumbnail and keeps
// the orientation; its entries read and built into a block again, which
// holds together and gives the same entries.
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
    std::vector<ExifEntry> first, exif;
    if (ReadExifEntries(data, size, &first, &exif) != before.valid)
        __builtin_trap();
    if (before.valid) {
        const std::vector<uint8_t> rebuilt = BuildExifBlock(first, exif);
        std::vector<ExifEntry> first2, exif2;
        if (!ReadExifEntries(rebuilt.data(), rebuilt.size(), &first2, &exif2) || first2.size() != first.size() ||
            exif2.size() != exif.size())
            __builtin_trap();
    }
    return 0;
}
