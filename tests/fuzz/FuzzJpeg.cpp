// Image files people hand the host: the JPEG reader (libjpeg-turbo and the
// host's checks around it) on any bytes.
#include <cstddef>
#include <cstdint>
#include <string>

#include "host/core/JpegCodec.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    Document document;
    std::string error;
    const ImageRead answer = ReadJpeg(data, size, &document, &error, 1024);
    if (answer == ImageRead::Read) {
        for (const auto &plane : document.planes)
            if (plane.size() != size_t(document.width) * size_t(document.height))
                __builtin_trap();
    } else if (answer == ImageRead::Refused && (error.empty() || !document.planes.empty())) {
        __builtin_trap();
    }
    return 0;
}
