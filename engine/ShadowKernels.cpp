#include "engine/ShadowKernels.h"

#include <cmath>
#include <cstring>

#if defined(__SSE2__)
#define UMBROLUX_KERNELS_SSE2 1
#include <emmintrin.h>
#endif

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
    // Locals: the mask's byte stores could alias anything the compiler
    // would otherwise read again for every pixel.
    const int32_t width = layout.width, stride = layout.stride;
    const uint8_t *values = curve.Values();
    const uint32_t top = curve.Top();
    for (int32_t y = 0; y < layout.height; ++y) {
        const Sample *in = Row<Sample>(source, y, width, stride, layout.sourceRowBytes);
        const uint8_t *selected = SelectionRow(layout, y);
        uint8_t *out = mask + int64_t(y) * width * stride;
        int32_t x = 0;
        if (selected == nullptr && stride == 3) {
            // Every entry is written: one 4-byte store per pixel, its fourth
            // byte the next entry's first, written again by the next pixel
            // (the row's last pixel is done below).
            for (; x + 1 < width; ++x, in += 3, out += 3) {
                const uint32_t sum = uint32_t(in[0]) + in[1] + in[2];
                const uint32_t m = sum <= top ? values[sum] : curve.Value(sum);
                const uint32_t four = m * 0x01010101u;
                std::memcpy(out, &four, 4);
            }
        }
        for (; x < width; ++x, in += stride, out += stride) {
            if (selected != nullptr && selected[x] == 0)
                continue;
            const uint32_t sum = uint32_t(in[0]) + in[1] + in[2];
            const uint8_t m = sum <= top ? values[sum] : curve.Value(sum);
            out[0] = out[1] = out[2] = m;
        }
    }
}

// One 16-bit pixel without a selection, sample by sample.
inline void BlendPixel16(const uint16_t *in, uint16_t *out, uint32_t m, const ToneCurve &curve)
{
    const uint32_t r = in[0], g = in[1], b = in[2];
    out[0] = BlendSample(curve.Lifted(r), 1.0f, m, r, true);
    out[1] = BlendSample(curve.Lifted(g), 1.0f, m, g, true);
    out[2] = BlendSample(curve.Lifted(b), 1.0f, m, b, true);
}

#if defined(UMBROLUX_KERNELS_SSE2)
// Two samples of BlendSample at once, with the same operations in the same
// order (SSE2's double and single arithmetic is the scalar one, lane by
// lane): the lifted terms, the (255 - m) and m, and the samples.
inline __m128 BlendPair(__m128d lifted, __m128d k, __m128d m, __m128d v)
{
    const __m128d t = _mm_mul_pd(_mm_mul_pd(lifted, k), _mm_set1_pd(k32768Over255));
    const __m128d u = _mm_mul_pd(_mm_mul_pd(m, v), _mm_set1_pd(kInv255));  // m * v is exact
    return _mm_cvtpd_ps(_mm_add_pd(t, u));
}

// Four pixels (twelve samples) of a 16-bit row without a selection, three
// samples to a pixel; false, having written nothing, when a sample is above
// the full scale. Loads all before storing, so that the row may be
// rendered in place.
inline bool BlendFourPixels16(const uint16_t *in, uint16_t *out, const uint8_t *mask, const double *lifted,
                              const uint16_t *unlifted)
{
    if ((mask[0] & mask[3] & mask[6] & mask[9]) == 255) {
        // No lift anywhere (the commonest case by far: everything but the
        // shadows): the results are looked up, for any 16-bit sample.
        uint16_t results[12];
        for (int32_t i = 0; i < 12; ++i)
            results[i] = unlifted[in[i]];
        std::memcpy(out, results, sizeof results);
        return true;
    }
    const __m128i zero = _mm_setzero_si128();
    const __m128i s0 = _mm_unpacklo_epi16(_mm_loadl_epi64(reinterpret_cast<const __m128i *>(in)), zero);
    const __m128i s1 = _mm_unpacklo_epi16(_mm_loadl_epi64(reinterpret_cast<const __m128i *>(in + 4)), zero);
    const __m128i s2 = _mm_unpacklo_epi16(_mm_loadl_epi64(reinterpret_cast<const __m128i *>(in + 8)), zero);
    const __m128i fullScale = _mm_set1_epi32(32768);
    const __m128i above = _mm_or_si128(_mm_or_si128(_mm_cmpgt_epi32(s0, fullScale), _mm_cmpgt_epi32(s1, fullScale)),
                                       _mm_cmpgt_epi32(s2, fullScale));
    if (_mm_movemask_epi8(above) != 0)
        return false;

    // The pixels' masks and 255 minus them; then, per pair of samples
    // (0 1, 2 3, ... 10 11), the pixels they belong to: 0 0, 0 1, 1 1,
    // 2 2, 2 3, 3 3.
    const __m128d m01 = _mm_cvtepi32_pd(_mm_setr_epi32(mask[0], mask[3], 0, 0));
    const __m128d m23 = _mm_cvtepi32_pd(_mm_setr_epi32(mask[6], mask[9], 0, 0));
    const __m128d d255 = _mm_set1_pd(255.0);
    const __m128d k01 = _mm_sub_pd(d255, m01), k23 = _mm_sub_pd(d255, m23);
    auto low = [](__m128d a) { return _mm_unpacklo_pd(a, a); };
    auto high = [](__m128d a) { return _mm_unpackhi_pd(a, a); };
    auto samples = [](__m128i four, bool second) {
        return _mm_cvtepi32_pd(second ? _mm_unpackhi_epi64(four, four) : four);
    };
    auto terms = [&](int i) { return _mm_loadh_pd(_mm_load_sd(&lifted[in[i]]), &lifted[in[i + 1]]); };

    const __m128 f0 = _mm_movelh_ps(BlendPair(terms(0), low(k01), low(m01), samples(s0, false)),
                                    BlendPair(terms(2), k01, m01, samples(s0, true)));
    const __m128 f1 = _mm_movelh_ps(BlendPair(terms(4), high(k01), high(m01), samples(s1, false)),
                                    BlendPair(terms(6), low(k23), low(m23), samples(s1, true)));
    const __m128 f2 = _mm_movelh_ps(BlendPair(terms(8), k23, m23, samples(s2, false)),
                                    BlendPair(terms(10), high(k23), high(m23), samples(s2, true)));

    // result > 0 ? result : 0 (not a number gives 0), then the full scale,
    // truncated; packed to 16 bits through the signed range.
    const __m128 none = _mm_setzero_ps(), full = _mm_set1_ps(32768.0f);
    const __m128i n0 = _mm_sub_epi32(_mm_cvttps_epi32(_mm_min_ps(_mm_max_ps(f0, none), full)), fullScale);
    const __m128i n1 = _mm_sub_epi32(_mm_cvttps_epi32(_mm_min_ps(_mm_max_ps(f1, none), full)), fullScale);
    const __m128i n2 = _mm_sub_epi32(_mm_cvttps_epi32(_mm_min_ps(_mm_max_ps(f2, none), full)), fullScale);
    const __m128i flip = _mm_set1_epi16(int16_t(0x8000));
    _mm_storeu_si128(reinterpret_cast<__m128i *>(out), _mm_xor_si128(_mm_packs_epi32(n0, n1), flip));
    _mm_storel_epi64(reinterpret_cast<__m128i *>(out + 8), _mm_xor_si128(_mm_packs_epi32(n2, n2), flip));
    return true;
}
#endif

// A 16-bit row without a selection, three samples to a pixel.
void BlendRow16(const uint16_t *in, uint16_t *out, const uint8_t *mask, int32_t width, const ToneCurve &curve)
{
    int32_t x = 0;
#if defined(UMBROLUX_KERNELS_SSE2)
    const double *lifted = curve.LiftedValues();
    const uint16_t *unlifted = curve.Results16AtFullMask();
    for (; x + 4 <= width; x += 4, in += 12, out += 12, mask += 12)
        if (!BlendFourPixels16(in, out, mask, lifted, unlifted))
            for (int32_t i = 0; i < 4; ++i)
                BlendPixel16(in + 3 * i, out + 3 * i, mask[3 * i], curve);
#endif
    for (; x < width; ++x, in += 3, out += 3, mask += 3)
        BlendPixel16(in, out, mask[0], curve);
}

template <typename Sample>
void BlendOf(const void *source, void *destination, const uint8_t *mask, const BlockLayout &layout,
             const ToneCurve &curve)
{
    const bool sixteen = sizeof(Sample) == 2;
    const int32_t width = layout.width, stride = layout.stride;
    for (int32_t y = 0; y < layout.height; ++y) {
        const Sample *in = Row<Sample>(source, y, width, stride, layout.sourceRowBytes);
        Sample *out = Row<Sample>(destination, y, width, stride, layout.destinationRowBytes);
        const uint8_t *selected = SelectionRow(layout, y);
        const uint8_t *m = mask + int64_t(y) * width * stride;
        if (selected == nullptr && !sixteen) {
            // 8 bits without a selection: the finished results per (mask, sample).
            for (int32_t x = 0; x < width; ++x, in += stride, out += stride, m += stride) {
                const uint8_t *row = curve.Results8(m[0]);
                const uint8_t r = uint8_t(in[0]), g = uint8_t(in[1]), b = uint8_t(in[2]);
                out[0] = row[r];
                out[1] = row[g];
                out[2] = row[b];
            }
            continue;
        }
        if constexpr (sizeof(Sample) == 2) {
            if (selected == nullptr && stride == 3 && curve.SixteenBit()) {
                BlendRow16(in, out, m, width, curve);
                continue;
            }
        }
        for (int32_t x = 0; x < width; ++x, in += stride, out += stride, m += stride) {
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
    double t = lifted * k;
    if (sixteenBit)
        t *= k32768Over255;
    const double u = double(mask * sample) * kInv255;
    const float full = sixteenBit ? 32768.0f : 255.0f;
    // Written so that not-a-number fails the first test and becomes 0; the
    // two selections compile to branch-free minimum and maximum.
    float result = float(t + u);
    result = result > 0.0f ? result : 0.0f;
    result = result < full ? result : full;
    if (weight != 1.0f) {
        // A partly selected pixel is mixed between the sample as it was and
        // its result, by its selection weight: a feathered edge fades from
        // the untouched picture into the filtered one.
        result = float(double(sample) + double(weight) * (double(result) - double(sample)));
        result = result > 0.0f ? result : 0.0f;
        result = result < full ? result : full;
    }
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
    else
        for (uint32_t v = 0; v < 65536; ++v)
            result16At255_[v] =
                BlendSample(v <= full ? lifted_[v] : LiftedSample(v, gamma, contrast, true), 1.0f, 255, v, true);
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
