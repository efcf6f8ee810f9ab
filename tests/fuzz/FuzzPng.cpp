// Image files people hand the host: the PNG reader on any bytes.
#include <cstddef>
#include <cstdint>
#include <string>

#include "host/core/PngReader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    Document document;
    std::string error;
    // Sides bounded so that a valid header cannot ask for more memory than
    // the fuzzer allows; the reader's own bound is tested natively.
    if (ReadPng(data, size, &document, &error, 1024) == PngRead::Read) {
        for (const auto &plane : document.planes)
            if (plane.size() != size_t(document.width) * size_t(document.height))
                __builtin_trap();
    }
    return 0;
}
