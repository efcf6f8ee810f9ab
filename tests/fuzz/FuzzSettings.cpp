// What reaches the dialog from outside: a settings file's bytes, decoded
// into the tone values and shown on the sliders and in the edits, and text
// typed into an edit.
#include <cstddef>
#include <cstdint>
#include <string>

#include "engine/FilterSettings.h"
#include "settings/SettingsCodec.h"
#include "ui/ToneControls.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FilterSettings settings{};
    if (DecodeSettings(data, size, kSettingsMagic, &settings, sizeof settings)) {
        for (Tone tone : {Tone::Bias, Tone::Gamma, Tone::Contrast}) {
            const float value = SettingFor(settings, tone);
            PositionFromValue(tone, value);
            char text[64];
            FormatValue(tone, value, text, sizeof text);
        }
    }
    const std::string typed(reinterpret_cast<const char *>(data), size);
    for (Tone tone : {Tone::Bias, Tone::Gamma, Tone::Contrast}) {
        float value = 0;
        if (TakeTypedValue(tone, typed.c_str(), &value)) {
            const int32_t position = PositionFromValue(tone, value);
            ValueFromPosition(tone, position);
        }
    }
    return 0;
}
