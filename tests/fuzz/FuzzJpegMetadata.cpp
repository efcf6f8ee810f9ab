// A JPEG file's segments before its first scan, on any bytes: read, then
// carried into each output format's chunks and segments.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "host/core/Metadata.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    ImageMetadata m;
    ReadJpegMetadata(data, size, &m);
    if (m.jpegQuality < 0 || m.jpegQuality > 100 || m.chromaAcross < 1 || m.chromaDown < 1)
        __builtin_trap();
    std::vector<std::string> dropped;
    for (const JpegSegment &s : JpegSegmentsFor(m, &dropped))
        if (s.data.size() > 65533)
            __builtin_trap();
    PngChunksFor(m, &dropped);
    return 0;
}
