// A module's version record, as `list` and `about` read it.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "host/core/VersionRecord.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    version::VersionRecord record;
    std::string error;
    version::Parse(std::vector<uint8_t>(data, data + size), &record, &error);
    return 0;
}
