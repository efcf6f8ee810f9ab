// A PNG file's chunks beside its image, on any bytes: read, then carried into
// each output format's chunks and segments.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "host/core/Metadata.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    ImageMetadata m;
    ReadPngMetadata(data, size, &m);
    std::vector<std::string> dropped;
    for (const PngChunk &c : PngChunksFor(m, &dropped))
        if (c.type.size() != 4)
            __builtin_trap();
    for (const JpegSegment &s : JpegSegmentsFor(m, &dropped))
        if (s.data.size() > 65533)
            __builtin_trap();
    return 0;
}
