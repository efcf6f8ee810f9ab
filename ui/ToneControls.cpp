#include "ui/ToneControls.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "resources/ResourceIds.h"

namespace {

const ToneControl kControls[3] = {
    {Tone::Bias, IDC_BIAS_SLIDER, IDC_BIAS_EDIT, 3000, 100, "%.2f", 3.0},
    {Tone::Gamma, IDC_GAMMA_SLIDER, IDC_GAMMA_EDIT, 3000, 100, "%.2f", 3.0},
    {Tone::Contrast, IDC_CONTRAST_SLIDER, IDC_CONTRAST_EDIT, 255, 10, "%.0f", 255.0},
};

} // namespace

const Tone kTones[3] = {Tone::Bias, Tone::Gamma, Tone::Contrast};

const ToneControl &ControlFor(Tone tone)
{
    return kControls[static_cast<int>(tone)];
}

float &SettingFor(FilterSettings &settings, Tone tone)
{
    switch (tone) {
    case Tone::Bias: return settings.bias;
    case Tone::Gamma: return settings.gamma;
    default: return settings.contrast;
    }
}

int32_t PositionFromValue(Tone tone, float value)
{
    const double v = value;
    double position = 0;
    switch (tone) {
    case Tone::Bias: position = v * 1000.0; break;
    case Tone::Gamma: position = 3000.0 - v * 1000.0; break;
    case Tone::Contrast: position = 255.0 - v; break;
    }
    const double top = ControlFor(tone).maxPosition;
    if (!(position >= 0.0))  // below the range, or not a number
        return 0;
    if (position > top)
        return static_cast<int32_t>(top);
    return static_cast<int32_t>(position);
}

double ValueFromPosition(Tone tone, int32_t position)
{
    switch (tone) {
    case Tone::Bias: return position * 0.001;
    case Tone::Gamma: return 3.0 - position * 0.001;
    default: return 255.0 - position;
    }
}

void FormatValue(Tone tone, double value, char *text, size_t size)
{
    if (size == 0)
        return;
    std::snprintf(text, size, ControlFor(tone).format, value);
}

bool TakeTypedValue(Tone tone, const char *text, float *value)
{
    const double typed = std::atof(text);
    // Not above 0 (NaN included), or so large that single precision cannot
    // hold it: refused before any conversion.
    if (!(typed > 0.0) || typed > 1e30)
        return false;
    const float rounded = static_cast<float>(typed);
    if (rounded > ControlFor(tone).maxTyped)
        return false;
    *value = rounded;
    return true;
}
