// A module's property list: parsed, then asked what a host asks of it (for
// which documents it is enabled, through its enabling expression, and how
// it handles each filter case).
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "host/core/PropertyList.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    pipl::PropertyList list;
    std::string error;
    if (!pipl::Parse(std::vector<uint8_t>(data, data + size), &list, &error))
        return 0;
    static const char *const kModes[] = {"BitmapMode", "GrayScaleMode", "IndexedColorMode", "RGBMode", "CMYKMode",
                                         "HSLMode", "HSBMode", "MultichannelMode", "DuotoneMode", "LabMode",
                                         "Gray16Mode", "RGB48Mode", "Lab48Mode", "CMYK64Mode"};
    for (int mode = 0; mode < 14; ++mode)
        pipl::EnabledFor(list, mode, kModes[mode]);
    for (int filterCase = 0; filterCase <= 8; ++filterCase)
        pipl::CaseHandling(list, filterCase);
    return 0;
}
