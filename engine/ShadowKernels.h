// The two pixel passes of the shadow-recovery effect, as pure functions of
// pixel spans and prepared constants: no host, no platform, no globals.
//
// Pass 1 turns each pixel's channel sum into an 8-bit brightness mask.
// Pass 3 mixes a gamma-and-contrast-lifted value with the untouched sample
// according to the (smoothed) mask. Every output is bit-identical to the
// per-sample formula evaluated in double precision with its single-precision
// rounding points; tables only cache values that depend on one sample value.
#pragma once

#include <cstdint>

namespace engine {

// Where each pixel of a block lies. Row steps in bytes; a step of 0 means
// packed rows (width * stride samples). A 16-bit block's row starts at
// (y * rowBytes) / 2 samples, the division truncating.
struct BlockLayout {
    int32_t width = 0;
    int32_t height = 0;
    int32_t stride = 3;            // samples per pixel; the first three are R, G, B
    bool sixteenBit = false;       // samples are uint16 in 0..32768
    int32_t sourceRowBytes = 0;
    int32_t destinationRowBytes = 0;
    const uint8_t *selection = nullptr;  // one byte per pixel; 0 = outside; null = none
    int32_t selectionRowBytes = 0;       // 0 = width bytes per row
};

// The mask value of one channel sum: s * bias * (4 or 1/32), clamped to 255,
// truncated. A negative or not-a-number value gives 0.
uint8_t MaskValue(uint32_t channelSum, float bias, bool sixteenBit);

// The mask value per channel sum for one bias and depth (about 96 KB: keep
// it in static storage); rebuilt only when the bias or the depth change.
class MaskCurve {
public:
    void Prepare(float bias, bool sixteenBit);
    // Sums above three times the full scale (a faulty host's samples) are
    // computed rather than looked up.
    uint8_t Value(uint32_t channelSum) const
    {
        return channelSum <= top_ && channelSum < sizeof values_ ? values_[channelSum]
                                                                 : MaskValue(channelSum, bias_, sixteenBit_);
    }
    // The table itself, valid for sums up to Top().
    const uint8_t *Values() const { return values_; }
    uint32_t Top() const { return top_; }

private:
    bool prepared_ = false;
    float bias_ = 0.0f;
    bool sixteenBit_ = false;
    uint32_t top_ = 0;
    uint8_t values_[3 * 32768 + 1] = {};
};

// Pass 1. Writes bytes 0, 1 and 2 of each selected pixel's entry in the
// packed mask buffer (stride bytes per pixel, whatever the depth); the
// entries of unselected pixels are left as they are.
void BuildMask(const void *source, uint8_t *mask, const BlockLayout &layout, const MaskCurve &curve);

// The power term of one sample: ((v * (1/contrast) * 255 * K) ^ (float)(1/gamma)).
double LiftedSample(uint32_t sample, float gamma, float contrast, bool sixteenBit);

// The constants of pass 3 for one gamma, contrast and depth, with a table of
// the power term per sample value and, for blocks without a selection, the
// finished results: at 8 bits per (mask, sample) pair, at 16 bits per
// sample for mask 255 (no lift, as everywhere but in the shadows). About
// 450 KB: keep it in static storage.
class ToneCurve {
public:
    // Rebuilds the tables only when gamma, contrast or the depth change.
    void Prepare(float gamma, float contrast, bool sixteenBit);

    // Samples above the full scale (which a faulty host could deliver) are
    // computed rather than looked up.
    double Lifted(uint32_t sample) const
    {
        return sample <= full_ ? lifted_[sample] : LiftedSample(sample, gamma_, contrast_, sixteenBit_);
    }
    // The table of the power term, valid for samples up to the full scale.
    const double *LiftedValues() const { return lifted_; }
    const uint8_t *Results8(uint8_t mask) const { return result8_[mask]; }
    // The 16-bit results at mask 255, for every 16-bit sample (a faulty
    // host's above the full scale too).
    const uint16_t *Results16AtFullMask() const { return result16At255_; }
    bool SixteenBit() const { return sixteenBit_; }

private:
    bool prepared_ = false;
    float gamma_ = 0.0f;
    float contrast_ = 0.0f;
    bool sixteenBit_ = false;
    uint32_t full_ = 0;
    double lifted_[32769] = {};
    uint8_t result8_[256][256] = {};
    uint16_t result16At255_[65536] = {};
};

// Pass 3. Mixes every selected pixel into the destination; unselected
// pixels are left as they are.
void Blend(const void *source, void *destination, const uint8_t *mask, const BlockLayout &layout,
           const ToneCurve &curve);

// One output sample from its parts, exactly as the formula reads:
// lifted term P * k (* 32768/255 at 16 bits) plus (m * v) / 255, rounded to
// single precision and clamped to the full scale (a result that is not a
// number is 0); for a partly selected pixel (weight below 1) then
// v + w * (that - v), rounded and clamped again; truncated.
uint16_t BlendSample(double lifted, float weight, uint32_t mask, uint32_t sample, bool sixteenBit);


// The selection weight of one selection byte, rounded to single precision.
float SelectionWeight(uint8_t selection);

} // namespace engine
