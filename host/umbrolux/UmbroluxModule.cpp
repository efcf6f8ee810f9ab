#include "host/umbrolux/UmbroluxModule.h"

#include "resources/ResourceIds.h"

namespace umbrolux {

const char kRegistryPath[] = "Software\\Korvane\\Plugins\\Umbrolux";

const int kMaskViewButton = IDC_VIEW_MASK;
const int kResultViewButton = IDC_VIEW_RESULT;

const ToneControl *FindToneControl(const std::string &name)
{
    static const ToneControl kControls[] = {
        {"bias", "Last bias", IDC_BIAS_EDIT},
        {"gamma", "Last gamma", IDC_GAMMA_EDIT},
        {"contrast", "Last contrast", IDC_CONTRAST_EDIT},
    };
    for (const ToneControl &control : kControls)
        if (name == control.name)
            return &control;
    return nullptr;
}

} // namespace umbrolux
