// Module files a host meets in its plug-in folder: the PE reader, then each
// resource it finds through the reader of its kind.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "host/core/PeFile.h"
#include "host/core/PropertyList.h"
#include "host/core/Terminology.h"
#include "host/core/VersionRecord.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const std::vector<uint8_t> bytes(data, data + size);
    pe::ModuleInfo info;
    std::string error;
    if (!pe::ParseModule(bytes, &info, &error))
        return 0;
    for (const pe::Resource &r : info.resources) {
        const std::vector<uint8_t> resource = pe::ResourceBytes(bytes, r);
        if (r.type == "PIPL") {
            pipl::PropertyList list;
            pipl::Parse(resource, &list, &error);
        } else if (r.type == "AETE") {
            aete::Terminology terms;
            aete::Parse(resource, &terms, &error);
        } else if (r.type == "#16") {
            version::VersionRecord record;
            version::Parse(resource, &record, &error);
        }
    }
    return 0;
}
