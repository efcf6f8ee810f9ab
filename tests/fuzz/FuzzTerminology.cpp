// A module's scripting terminology.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "host/core/Terminology.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    aete::Terminology terms;
    std::string error;
    aete::Parse(std::vector<uint8_t>(data, data + size), &terms, &error);
    return 0;
}
