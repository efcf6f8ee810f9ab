// Image files people hand the host: the TIFF reader (libtiff and the host's
// checks around it) on any bytes.
#include <cstddef>
#include <cstdint>
#include <string>

#include "host/core/TiffCodec.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    Document document;
    std::string error;
    MemorySource source(data, size);
    // Sides bounded so that a valid header cannot ask for more memory than
    // the fuzzer allows; the reader's own bound is tested natively.
    const ImageRead answer = ReadTiff(source, &document, &error, 1024);
    if (answer == ImageRead::Read) {
        for (const auto &plane : document.planes)
            if (plane.size() != size_t(document.width) * size_t(document.height))
                __builtin_trap();
    } else if (answer == ImageRead::Refused && (error.empty() || !document.planes.empty())) {
        __builtin_trap();
    }
    return 0;
}
