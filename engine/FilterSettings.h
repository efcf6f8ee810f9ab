// The three tone parameters of the filter. Their 12 bytes, in this order, are
// also the body of a settings file, so the layout is fixed.
#pragma once

struct FilterSettings {
    float bias;      // "Separation": scales the brightness mask
    float gamma;     // the power curve is 1 / gamma
    float contrast;  // the white point the samples are scaled against
};

static_assert(sizeof(FilterSettings) == 12, "three contiguous floats");

constexpr float kDefaultBias = 0.5f;
constexpr float kDefaultGamma = 1.0f;
constexpr float kDefaultContrast = 255.0f;
