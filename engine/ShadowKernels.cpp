#include "engine/ShadowKernels.h"

#include <cmath>
#include <cstring>

namespace engine {
namespace {

const double kInv255 = 1.0 / 255.0;            // the double nearest to 1/255
const double kInv32768 = 1.0 / 32768.0;        // exact
const double k32768Over255 = 32768.0 / 255.0;  // the double nearest to 32768/255

uint32_t Bits(float f)
{
    uint32_t b;
    std::memcpy(&b, &f, sizeof b);
    return b;
}

// Rows of a block, addressed as the host lays them out.
template <typename Sample>
const Sample *Row(const void *base, int32_t y, int32_t width, int32_t stride, int32_t rowBytes)
{
    if (rowBytes == 0)
        return static_cast<const Sample *>(base) + int64_t(y) * width * stride;
    if (sizeof(Sample) == 1)
        return static_cast<const Sample *>(base) + int64_t(y) * rowBytes;
    return static_cast<const Sample *>(base) + (int64_t(y) * rowBytes) / 2;
}

template <typename Sample>
Sample *Row(void *base, int32_t y, int32_t width, int32_t stride, int32_t rowBytes)
{
    return const_cast<Sample *>(Row<Sample>(static_cast<const void *>(base), y, width, stride, rowBytes));
}

const uint8_t *SelectionRow(const BlockLayout &layout, int32_t y)
{
    if (layout.selection == nullptr)
        return nullptr;
    const int32_t step = layout.selectionRowBytes != 0 ? layout.selectionRowBytes : layout.width;
    return layout.selection + int64_t(y) * step;
}

template <typename Sample>
void BuildMaskOf(const void *source, uint8_t *mask, const BlockLayout &layout, const MaskCurve &curve)
{
    const int32_t stride = layout.stride;
    for (int32_t y = 0; y < layout.height; ++y) {
        const Sample *in = Row<Sample>(source, y, layout.width, stride, layout.sourceRowBytes);
        const uint8_t *selected = SelectionRow(layout, y);
        uint8_t *out = mask + int64_t(y) * layout.width * stride;
        for (int32_t x = 0; x < layout.width; ++x, in += stride, out += stride) {
            if (selected != nullptr && selected[x] == 0)
                continue;
            const uint8_t m = curve.Value(uint32_t(in[0]) + in[1] + in[2]);
            out[0] = out[1] = out[2] = m;
        }
    }
}

template <typename Sample>
void BlendOf(const void *source, void *destination, const uint8_t *mask, const BlockLayout &layout,
             const ToneCurve &curve)
{
    const bool sixteen = sizeof(Sample) == 2;
    const int32_t stride = layout.stride;
    for (int32_t y = 0; y < layout.height; ++y) {
        const Sample *in = Row<Sample>(source, y, layout.width, stride, layout.sourceRowBytes);
        Sample *out = Row<Sample>(destination, y, layout.width, stride, layout.destinationRowBytes);
        const uint8_t *selected = SelectionRow(layout, y);
        const uint8_t *m = mask + int64_t(y) * layout.width * stride;
        if (selected == nullptr && !sixteen) {
            // 8 bits without a selection: the finished results per (mask, sample).
            for (int32_t x = 0; x < layout.width; ++x, in += stride, out += stride, m += stride) {
                const uint8_t *row = curve.Results8(m[0]);
                const uint8_t r = uint8_t(in[0]), g = uint8_t(in[1]), b = uint8_t(in[2]);
                out[0] = row[r];
                out[1] = row[g];
                out[2] = row[b];
            }
            continue;
        }
        for (int32_t x = 0; x < layout.width; ++x, in += stride, out += stride, m += stride) {
            const uint32_t r = in[0], g = in[1], b = in[2];
            if (selected != nullptr && selected[x] == 0)
                continue;
            const float w = selected != nullptr ? SelectionWeight(selected[x]) : 1.0f;
            out[0] = Sample(BlendSample(curve.Lifted(r), w, m[0], r, sixteen));
            out[1] = Sample(BlendSample(curve.Lifted(g), w, m[0], g, sixteen));
            out[2] = Sample(BlendSample(curve.Lifted(b), w, m[0], b, sixteen));
        }
    }
}

} // namespace

uint8_t MaskValue(uint32_t channelSum, float bias, bool sixteenBit)
{
    const double value = double(channelSum) * double(bias) * (sixteenBit ? 0.03125 : 4.0);
    if (!(value > 0.0))  // negative, zero or not a number
        return 0;
    if (value > 255.0)
        return 255;
    return uint8_t(value);
}

float SelectionWeight(uint8_t selection)
{
    return float(double(selection) * kInv255);
}

double LiftedSample(uint32_t sample, float gamma, float contrast, bool sixteenBit)
{
    const double c = 1.0 / double(contrast);
    const float g = float(1.0 / double(gamma));
    const double base = double(sample) * c * 255.0 * (sixteenBit ? kInv32768 : kInv255);
    return std::pow(base, double(g));
}

uint16_t BlendSample(double lifted, float weight, uint32_t mask, uint32_t sample, bool sixteenBit)
{
    const double k = 255.0 - double(mask);
    double t = lifted * double(weight) * k;
    if (sixteenBit)
        t *= k32768Over255;
    const double u = double(mask * sample) * kInv255;
    float result = float(t + u);
    // Written so that not-a-number fails the first test and becomes 0; the
    // two selections compile to branch-free minimum and maximum.
    result = result > 0.0f ? result : 0.0f;
    const float full = sixteenBit ? 32768.0f : 255.0f;
    result = result < full ? result : full;
    return uint16_t(int32_t(result));
}

void ToneCurve::Prepare(float gamma, float contrast, bool sixteenBit)
{
    if (prepared_ && Bits(gamma) == Bits(gamma_) && Bits(contrast) == Bits(contrast_) && sixteenBit == sixteenBit_)
        return;
    const uint32_t full = sixteenBit ? 32768u : 255u;
    for (uint32_t v = 0; v <= full; ++v)
        lifted_[v] = LiftedSample(v, gamma, contrast, sixteenBit);
    if (!sixteenBit)
        for (uint32_t m = 0; m < 256; ++m)
            for (uint32_t v = 0; v < 256; ++v)
                result8_[m][v] = uint8_t(BlendSample(lifted_[v], 1.0f, m, v, false));
    prepared_ = true;
    gamma_ = gamma;
    contrast_ = contrast;
    sixteenBit_ = sixteenBit;
    full_ = full;
}

void MaskCurve::Prepare(float bias, bool sixteenBit)
{
    if (prepared_ && Bits(bias) == Bits(bias_) && sixteenBit == sixteenBit_)
        return;
    const uint32_t top = sixteenBit ? 3u * 32768u : 3u * 255u;
    for (uint32_t s = 0; s <= top; ++s)
        values_[s] = MaskValue(s, bias, sixteenBit);
    prepared_ = true;
    bias_ = bias;
    sixteenBit_ = sixteenBit;
    top_ = top;
}

void BuildMask(const void *source, uint8_t *mask, const BlockLayout &layout, const MaskCurve &curve)
{
    if (layout.width <= 0 || layout.height <= 0)
        return;
    if (layout.sixteenBit)
        BuildMaskOf<uint16_t>(source, mask, layout, curve);
    else
        BuildMaskOf<uint8_t>(source, mask, layout, curve);
}

void Blend(const void *source, void *destination, const uint8_t *mask, const BlockLayout &layout,
           const ToneCurve &curve)
{
    if (layout.width <= 0 || layout.height <= 0)
        return;
    if (layout.sixteenBit)
        BlendOf<uint16_t>(source, destination, mask, layout, curve);
    else
        BlendOf<uint8_t>(source, destination, mask, layout, curve);
}

} // namespace engine
