// The effect's per-sample formula, written out on its own for the tests:
// lifted L = P * (255 - m) [* 32768/255], plus (m * v) / 255, rounded to
// single precision and clamped (not a number is 0); a partly selected pixel
// (weight w below 1) then v + w * (that - v), rounded and clamped again;
// truncated.
#pragma once

#include <cmath>
#include <cstdint>

namespace formula {

// The power term of a sample.
inline double Lift(uint32_t v, float gamma, float contrast, bool sixteen)
{
    const double c = 1.0 / double(contrast);
    const float g = float(1.0 / double(gamma));
    const double base = double(v) * c * 255.0 * (sixteen ? 1.0 / 32768.0 : 1.0 / 255.0);
    return std::pow(base, double(g));
}

// The rest of the formula, from the power term on.
inline uint16_t Finish(double lift, uint32_t v, uint32_t m, const uint8_t *selection, bool sixteen)
{
    const double w = selection != nullptr ? double(float(*selection * (1.0 / 255.0))) : 1.0;
    double t = lift * (255.0 - m);
    if (sixteen)
        t = t * (32768.0 / 255.0);
    float r = float(t + double(m * v) * (1.0 / 255.0));
    const float full = sixteen ? 32768.0f : 255.0f;
    r = r != r ? 0.0f : r > full ? full : (r < 0.0f ? 0.0f : r);
    if (w != 1.0) {
        r = float(double(v) + w * (double(r) - double(v)));
        r = r > full ? full : (r < 0.0f ? 0.0f : r);
    }
    return uint16_t(r);
}

inline uint16_t Sample(uint32_t v, uint32_t m, const uint8_t *selection, float gamma, float contrast,
                       bool sixteen)
{
    return Finish(Lift(v, gamma, contrast, sixteen), v, m, selection, sixteen);
}

// The mask value before smoothing.
inline uint8_t Mask(uint32_t sum, float bias, bool sixteen)
{
    const double value = double(sum) * double(bias) * (sixteen ? 0.03125 : 4.0);
    if (!(value > 0.0))
        return 0;
    return value > 255.0 ? 255 : uint8_t(value);
}

} // namespace formula
