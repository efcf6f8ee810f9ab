// The dialog's three tone controls, a slider and an edit each: how a value
// becomes a slider position and a text, how a position becomes a value, and
// which typed values are taken. No platform calls: the dialog applies them.
#pragma once

#include <cstddef>
#include <cstdint>

#include "engine/FilterSettings.h"

enum class Tone { Bias, Gamma, Contrast };

struct ToneControl {
    Tone tone;
    int sliderId;
    int editId;
    int32_t maxPosition;    // the slider runs from 0 to this
    int32_t tickFrequency;
    const char *format;     // the edit's text format
    double maxTyped;        // a typed value must be above 0 and at most this
};

const ToneControl &ControlFor(Tone tone);
extern const Tone kTones[3];  // bias, gamma, contrast: the order of every refresh

float &SettingFor(FilterSettings &settings, Tone tone);

// The slider position of a value, computed in double precision and truncated
// toward zero. A value beyond the slider's range (or not a number) gives the
// nearest end of the range (the top, position 0, for not a number), as the
// slider itself would show it; no out-of-range conversion happens.
int32_t PositionFromValue(Tone tone, float value);

// The value of a slider position, in double precision.
double ValueFromPosition(Tone tone, int32_t position);

// The edit's text for a value; always terminated within size.
void FormatValue(Tone tone, double value, char *text, size_t size);

// A typed text read as the dialog reads it (leading number, decimal point;
// anything else counts as 0). True with the single-precision value when it
// is above 0 and, rounded to single precision, at most the maximum.
bool TakeTypedValue(Tone tone, const char *text, float *value);
