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
    const PngRead answer = ReadPng(data, size, &document, &error, 1024);
    if (answer == PngRead::Read) {
        for (const auto &plane : document.planes)
            if (plane.size() != size_t(document.width) * size_t(document.height))
                __builtin_trap();
    }
    // On two threads (the rows stored behind the inflating, or the pieces
    // of the host's own files at once): the same answer, reason and image.
    Document two;
    std::string twoError;
    if (ReadPng(data, size, &two, &twoError, 1024, 2) != answer || twoError != error ||
        (answer == PngRead::Read && two.planes != document.planes))
        __builtin_trap();
    return 0;
}
