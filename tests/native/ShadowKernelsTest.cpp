// The pixel passes against the formula written out on its own.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <vector>

#include "engine/ShadowKernels.h"
#include "tests/common/ToneFormula.h"

using engine::BlockLayout;
using engine::ToneCurve;

namespace {

struct Tone {
    float gamma;
    float contrast;
};

uint16_t Formula(uint32_t v, uint32_t m, const uint8_t *selection, Tone tone, bool sixteen)
{
    return formula::Sample(v, m, selection, tone.gamma, tone.contrast, sixteen);
}

ToneCurve &Curve()
{
    static ToneCurve curve;
    return curve;
}

const engine::MaskCurve &Bias(float bias, bool sixteen)
{
    static engine::MaskCurve curve;
    curve.Prepare(bias, sixteen);
    return curve;
}

// One pixel with all three channels at v, rendered with mask m.
uint16_t BlendOne(uint32_t v, uint8_t m, Tone tone, bool sixteen, const uint8_t *selection = nullptr)
{
    BlockLayout layout;
    layout.width = layout.height = 1;
    layout.sixteenBit = sixteen;
    layout.selection = selection;
    const uint8_t mask[3] = {m, m, m};
    Curve().Prepare(tone.gamma, tone.contrast, sixteen);
    if (sixteen) {
        const uint16_t in[3] = {uint16_t(v), uint16_t(v), uint16_t(v)};
        uint16_t out[3] = {7, 7, 7};
        engine::Blend(in, out, mask, layout, Curve());
        EXPECT_TRUE(out[0] == out[1] && out[1] == out[2]);
        return out[0];
    }
    const uint8_t in[3] = {uint8_t(v), uint8_t(v), uint8_t(v)};
    uint8_t out[3] = {7, 7, 7};
    engine::Blend(in, out, mask, layout, Curve());
    EXPECT_TRUE(out[0] == out[1] && out[1] == out[2]);
    return out[0];
}

} // namespace

TEST(Blend, KnownValues)
{
    struct Case {
        float gamma, contrast;
        bool sixteen;
        uint32_t v;
        uint8_t m;
        int selection;  // -1: none
        uint16_t expected;
    };
    const Case cases[] = {
        {2.0f, 255.0f, false, 10, 0, -1, 50},
        {2.0f, 255.0f, false, 10, 120, -1, 31},
        {2.0f, 255.0f, false, 10, 255, -1, 10},
        {2.0f, 255.0f, true, 1285, 0, -1, 6488},
        {2.0f, 255.0f, true, 1285, 120, -1, 4040},
        {0.5f, 255.0f, false, 128, 0, -1, 64},
        {1.0f, 128.0f, false, 200, 0, -1, 255},
        {1.0f, 128.0f, true, 32768, 0, -1, 32768},
        // A partly selected pixel lies between its sample and its result by
        // its weight (128/255): the neutral tones leave it as it is.
        {1.0f, 255.0f, false, 200, 0, 128, 200},
        {1.0f, 255.0f, false, 200, 255, 128, 200},
        {2.0f, 255.0f, false, 10, 0, 128, 30},
        {2.0f, 255.0f, false, 10, 0, 255, 50},
        {2.0f, 255.0f, true, 1285, 0, 128, 3897},
        // The end stops: an infinite term meeting a zero factor is not a
        // number, stored as 0; an infinite lift clamps to the full scale.
        {0.0f, 128.0f, false, 200, 255, -1, 0},
        {0.0f, 128.0f, false, 200, 0, -1, 255},
        {0.0f, 255.0f, false, 100, 0, -1, 0},
        {1.0f, 0.0f, false, 10, 0, -1, 255},
        {1.0f, 0.0f, false, 0, 0, -1, 0},
        {1.0f, 0.0f, true, 0, 0, -1, 0},
        {1.0f, 0.0f, true, 5, 0, -1, 32768},
    };
    for (const Case &c : cases) {
        const uint8_t sel = uint8_t(c.selection);
        EXPECT_EQ(BlendOne(c.v, c.m, {c.gamma, c.contrast}, c.sixteen, c.selection >= 0 ? &sel : nullptr),
                  c.expected)
            << "gamma " << c.gamma << " contrast " << c.contrast << (c.sixteen ? " 16-bit" : " 8-bit")
            << " v " << c.v << " m " << int(c.m) << " selection " << c.selection;
    }
}

TEST(Blend, NeutralTonesReturnTheInputWhateverTheMaskAndTheSelection)
{
    for (uint32_t m = 0; m < 256; ++m) {
        for (uint32_t v = 0; v < 256; ++v)
            ASSERT_EQ(BlendOne(v, uint8_t(m), {1.0f, 255.0f}, false), v) << "m " << m;
        for (uint32_t v : {0u, 1u, 2u, 255u, 1000u, 16384u, 32767u, 32768u})
            ASSERT_EQ(BlendOne(v, uint8_t(m), {1.0f, 255.0f}, true), v) << "m " << m;
        // A feathered selection's edge is not darkened by a filter that
        // changes nothing.
        for (uint8_t selection : {1, 64, 128, 254})
            for (uint32_t v : {0u, 3u, 100u, 200u, 255u}) {
                ASSERT_EQ(BlendOne(v, uint8_t(m), {1.0f, 255.0f}, false, &selection), v)
                    << "m " << m << " selection " << int(selection);
                ASSERT_EQ(BlendOne(v * 128, uint8_t(m), {1.0f, 255.0f}, true, &selection), v * 128)
                    << "m " << m << " selection " << int(selection);
            }
    }
}

TEST(Blend, EveryEightBitSampleAndMaskMatchesTheFormula)
{
    const Tone tones[] = {{2.0f, 255.0f}, {0.5f, 200.0f}, {1.37f, 91.5f}, {3.0f, 1.0f},
                          {0.01f, 255.0f}, {0.0f, 128.0f}, {1.0f, 0.0f}, {2.9f, 254.9f}};
    const uint8_t selections[] = {1, 77, 128, 254, 255};
    for (const Tone &tone : tones)
        for (uint32_t m = 0; m < 256; ++m)
            for (uint32_t v = 0; v < 256; ++v) {
                ASSERT_EQ(BlendOne(v, uint8_t(m), tone, false), Formula(v, m, nullptr, tone, false))
                    << tone.gamma << "/" << tone.contrast << " v " << v << " m " << m;
                const uint8_t &sel = selections[(v + m) % 5];
                ASSERT_EQ(BlendOne(v, uint8_t(m), tone, false, &sel), Formula(v, m, &sel, tone, false))
                    << tone.gamma << "/" << tone.contrast << " v " << v << " m " << m << " sel " << int(sel);
            }
}

TEST(Blend, SixteenBitSamplesMatchTheFormula)
{
    const Tone tones[] = {{2.0f, 255.0f}, {0.5f, 200.0f}, {1.37f, 91.5f}, {2.9f, 3.0f}, {0.0f, 100.0f}};
    uint32_t state = 99;
    for (const Tone &tone : tones)
        for (int i = 0; i < 20000; ++i) {
            state = state * 1664525u + 1013904223u;
            uint32_t v = (state >> 8) % 32769u;
            if (i % 97 == 0)
                v = 0;
            if (i % 89 == 0)
                v = 32768;
            const uint8_t m = uint8_t(state >> 24);
            ASSERT_EQ(BlendOne(v, m, tone, true), Formula(v, m, nullptr, tone, true))
                << tone.gamma << "/" << tone.contrast << " v " << v << " m " << int(m);
            const uint8_t sel = uint8_t(state >> 3);
            if (sel != 0) {
                ASSERT_EQ(BlendOne(v, m, tone, true, &sel), Formula(v, m, &sel, tone, true));
            }
        }
}

// Whole rows of 16-bit pixels, each channel and each pixel's mask its own,
// in blocks of odd width: every sample as the formula gives it, including
// tones that make the formula infinite or not a number, and a faulty host's
// samples above the full scale in the middle of a row.
TEST(Blend, SixteenBitRowsMatchTheFormulaSampleBySample)
{
    const Tone tones[] = {{2.0f, 255.0f}, {0.37f, 17.0f}, {2.9f, 3.0f}, {0.0f, 100.0f}, {1.0f, 0.0f}, {3.0f, 1e-30f}};
    const int32_t width = 37, height = 5;
    uint32_t state = 7;
    for (const Tone &tone : tones) {
        std::vector<uint16_t> in(size_t(width) * height * 3), out(in.size(), 7);
        std::vector<uint8_t> mask(in.size());
        for (size_t i = 0; i < in.size(); ++i) {
            state = state * 1664525u + 1013904223u;
            in[i] = uint16_t((state >> 8) % 32769u);
            if (i % 101 == 50)
                in[i] = uint16_t(32769u + (state >> 20) % 30000u);
        }
        for (size_t p = 0; p < mask.size(); p += 3) {
            state = state * 1664525u + 1013904223u;
            mask[p] = mask[p + 1] = mask[p + 2] = uint8_t(state >> 24);
        }
        BlockLayout layout;
        layout.width = width;
        layout.height = height;
        layout.sixteenBit = true;
        Curve().Prepare(tone.gamma, tone.contrast, true);
        engine::Blend(in.data(), out.data(), mask.data(), layout, Curve());
        for (size_t i = 0; i < in.size(); ++i)
            ASSERT_EQ(out[i], Formula(in[i], mask[i - i % 3], nullptr, tone, true))
                << tone.gamma << "/" << tone.contrast << " sample " << i << " v " << in[i];
    }
}

// Every 16-bit sample value with every mask value, in whole rows as the
// host delivers them: row r holds the samples r, r + 1, ... (all 32769
// values, so each lands on every position of the four-pixel steps over
// the rows) and pixel p the mask (p + r) mod 256, so that neighbouring
// pixels differ; two more rows have the mask at 255 throughout, and at
// 255 in runs of four and five pixels, which are looked up; the last the
// same runs with a faulty host's samples above the full scale.
TEST(Blend, EverySixteenBitSampleAndMaskMatchesTheFormula)
{
    const Tone tones[] = {{2.0f, 220.0f}, {0.37f, 17.0f}, {1.0f, 255.0f}, {0.0f, 100.0f},
                          {1.0f, 0.0f},   {1.0f, -100.0f}, {-2.0f, 255.0f}, {3.0f, 1e-30f}};
    const int32_t width = 32769 / 3, rows = 259;
    std::vector<uint16_t> in(size_t(width) * 3 * rows), out(in.size(), 7);
    std::vector<uint8_t> mask(in.size());
    for (int32_t r = 0; r < rows; ++r)
        for (int32_t i = 0; i < width * 3; ++i) {
            const size_t at = size_t(r) * width * 3 + size_t(i);
            const int32_t p = i / 3;
            in[at] = r < 258 ? uint16_t((i + r) % 32769) : uint16_t(32769 + i % 32767);
            mask[at] = r < 256 ? uint8_t((p + r) % 256) : r == 256 || p % 9 < 4 ? 255 : uint8_t(p % 251);
        }
    BlockLayout layout;
    layout.width = width;
    layout.height = rows;
    layout.sixteenBit = true;
    std::vector<double> lifts(32769);
    for (const Tone &tone : tones) {
        for (uint32_t v = 0; v <= 32768; ++v)
            lifts[v] = formula::Lift(v, tone.gamma, tone.contrast, true);
        Curve().Prepare(tone.gamma, tone.contrast, true);
        engine::Blend(in.data(), out.data(), mask.data(), layout, Curve());
        for (size_t at = 0; at < in.size(); ++at) {
            const uint32_t v = in[at], m = mask[at - at % 3];
            const double lift = v <= 32768 ? lifts[v] : formula::Lift(v, tone.gamma, tone.contrast, true);
            ASSERT_EQ(out[at], formula::Finish(lift, v, m, nullptr, true))
                << tone.gamma << "/" << tone.contrast << " v " << v << " m " << m << " sample " << at;
        }
    }
}

TEST(Blend, SamplesAboveTheFullScaleAreComputedNotLookedUp)
{
    for (uint32_t v : {32769u, 40000u, 65535u})
        EXPECT_EQ(BlendOne(v, 10, {2.0f, 255.0f}, true), Formula(v, 10, nullptr, {2.0f, 255.0f}, true));
}

TEST(Mask, ChannelSumsAtTheDefaultBias)
{
    EXPECT_EQ(engine::MaskValue(10 + 20 + 30, 0.5f, false), 120);
    EXPECT_EQ(engine::MaskValue(127, 0.5f, false), 254);
    EXPECT_EQ(engine::MaskValue(128, 0.5f, false), 255);
    EXPECT_EQ(engine::MaskValue(765, 0.5f, false), 255);
    EXPECT_EQ(engine::MaskValue(16319, 0.5f, true), 254);
    EXPECT_EQ(engine::MaskValue(16320, 0.5f, true), 255);
    EXPECT_EQ(engine::MaskValue(98304, 0.5f, true), 255);
}

TEST(Mask, TheTableAgreesWithTheFormulaEverywhere)
{
    for (float bias : {0.5f, 0.0f, 3.0f, 0.0137f, -1.0f, std::nanf("")})
        for (bool sixteen : {false, true}) {
            const engine::MaskCurve &curve = Bias(bias, sixteen);
            const uint32_t top = sixteen ? 98304u + 200u : 765u;
            for (uint32_t s = 0; s <= top; ++s)
                ASSERT_EQ(curve.Value(s), formula::Mask(s, bias, sixteen)) << bias << " " << s;
        }
    // Sums of out-of-range 16-bit samples are computed, not read past the table.
    EXPECT_EQ(Bias(0.001f, true).Value(3 * 65535u), formula::Mask(3 * 65535u, 0.001f, true));
}

TEST(Mask, BiasAtAndBeyondItsEnds)
{
    for (uint32_t s : {0u, 1u, 300u, 765u}) {
        EXPECT_EQ(engine::MaskValue(s, 0.0f, false), 0);
        EXPECT_EQ(engine::MaskValue(s, -0.5f, false), 0);
        EXPECT_EQ(engine::MaskValue(s, std::nanf(""), false), 0);
        EXPECT_EQ(engine::MaskValue(s, -INFINITY, true), 0);
    }
    EXPECT_EQ(engine::MaskValue(0, INFINITY, false), 0);  // 0 * infinity is not a number
    EXPECT_EQ(engine::MaskValue(1, INFINITY, false), 255);
    EXPECT_EQ(engine::MaskValue(1, 3.0f, false), 12);
}

// ---- block addressing ----------------------------------------------------------

namespace {

template <typename Sample>
struct Block {
    int32_t width, height, rowBytes;  // rowBytes 0: packed
    std::vector<uint8_t> bytes;

    Block(int32_t w, int32_t h, int32_t rb, uint8_t fill) : width(w), height(h), rowBytes(rb)
    {
        const size_t size = rb == 0 ? size_t(w) * h * 3 * sizeof(Sample) : size_t(rb) * h + 8;
        bytes.assign(size, fill);
    }
    Sample *At(int32_t x, int32_t y)
    {
        auto *base = reinterpret_cast<Sample *>(bytes.data());
        if (rowBytes == 0)
            return base + (size_t(y) * width + x) * 3;
        return base + (int64_t(y) * rowBytes) / int64_t(sizeof(Sample)) + x * 3;
    }
};

} // namespace

namespace {

// Renders a pseudo-random block with the given row steps and returns the
// output samples in pixel order, and the mask.
template <typename Sample>
std::vector<uint32_t> RenderBlockOf(int32_t width, int32_t height, int32_t srcStep, int32_t dstStep,
                                    std::vector<uint8_t> *mask)
{
    const bool sixteen = sizeof(Sample) == 2;
    Block<Sample> src(width, height, srcStep, 0), dst(width, height, dstStep, 0xAB);
    uint32_t state = 7;
    for (int32_t y = 0; y < height; ++y)
        for (int32_t x = 0; x < width; ++x)
            for (int c = 0; c < 3; ++c) {
                state = state * 1664525u + 1013904223u;
                src.At(x, y)[c] = Sample((state >> 12) % (sixteen ? 32769u : 256u));
            }
    BlockLayout layout;
    layout.width = width;
    layout.height = height;
    layout.sixteenBit = sixteen;
    layout.sourceRowBytes = srcStep;
    layout.destinationRowBytes = dstStep;
    mask->assign(size_t(width) * height * 3, 0xEE);
    engine::BuildMask(src.bytes.data(), mask->data(), layout, Bias(0.05f, sixteen));
    Curve().Prepare(1.8f, 230.0f, sixteen);
    engine::Blend(src.bytes.data(), dst.bytes.data(), mask->data(), layout, Curve());

    std::vector<uint32_t> out;
    for (int32_t y = 0; y < height; ++y)
        for (int32_t x = 0; x < width; ++x)
            for (int c = 0; c < 3; ++c)
                out.push_back(dst.At(x, y)[c]);
    // Bytes between the rows are never written.
    if (dstStep != 0)
        for (int32_t y = 0; y < height; ++y) {
            const size_t end = size_t(reinterpret_cast<uint8_t *>(dst.At(0, y)) - dst.bytes.data()) +
                               size_t(width) * 3 * sizeof(Sample);
            const size_t next = y + 1 < height
                                    ? size_t(reinterpret_cast<uint8_t *>(dst.At(0, y + 1)) - dst.bytes.data())
                                    : dst.bytes.size();
            for (size_t i = end; i < next; ++i)
                EXPECT_EQ(dst.bytes[i], 0xAB) << "byte " << i;
        }
    return out;
}

} // namespace

TEST(Block, PaddedAndPackedRowsGiveTheSameResult)
{
    for (int32_t width : {1, 5, 17})
        for (int32_t height : {1, 3}) {
            std::vector<uint8_t> maskPacked, maskPadded;
            // 8-bit rows padded by 5 bytes.
            const int32_t step8 = width * 3 + 5;
            EXPECT_EQ(RenderBlockOf<uint8_t>(width, height, step8, step8, &maskPadded),
                      RenderBlockOf<uint8_t>(width, height, 0, 0, &maskPacked));
            EXPECT_EQ(maskPadded, maskPacked);
            // 16-bit rows with an odd byte step: rows start at (y * rowBytes) / 2 samples.
            const int32_t step16 = width * 6 + 7;
            EXPECT_EQ(RenderBlockOf<uint16_t>(width, height, step16, step16 + 2, &maskPadded),
                      RenderBlockOf<uint16_t>(width, height, 0, 0, &maskPacked));
            EXPECT_EQ(maskPadded, maskPacked);
            for (size_t i = 0; i < maskPacked.size(); i += 3)
                ASSERT_TRUE(maskPacked[i] == maskPacked[i + 1] && maskPacked[i] == maskPacked[i + 2]);
        }
}

TEST(Block, UnselectedPixelsKeepTheirDestinationAndMaskEntry)
{
    const int32_t width = 4, height = 2;
    const uint8_t source[width * height * 3] = {10, 20, 30, 200, 100, 50, 0, 0, 0, 255, 255, 255,
                                                 1, 2, 3, 90, 80, 70, 60, 50, 40, 30, 20, 10};
    // Selection rows padded to 6 bytes.
    const uint8_t selection[2 * 6] = {0, 255, 128, 0, 9, 9, 255, 0, 1, 255, 9, 9};
    uint8_t destination[width * height * 3];
    std::vector<uint8_t> mask(sizeof destination, 0x55);
    std::fill(std::begin(destination), std::end(destination), 0x77);
    BlockLayout layout;
    layout.width = width;
    layout.height = height;
    layout.selection = selection;
    layout.selectionRowBytes = 6;
    engine::BuildMask(source, mask.data(), layout, Bias(0.5f, false));
    Curve().Prepare(2.0f, 255.0f, false);
    engine::Blend(source, destination, mask.data(), layout, Curve());
    for (int32_t y = 0; y < height; ++y)
        for (int32_t x = 0; x < width; ++x) {
            const int i = (y * width + x) * 3;
            const uint8_t sel = selection[y * 6 + x];
            if (sel == 0) {
                EXPECT_EQ(mask[i], 0x55) << x << "," << y;
                EXPECT_EQ(destination[i], 0x77) << x << "," << y;
                continue;
            }
            const uint8_t m = formula::Mask(uint32_t(source[i]) + source[i + 1] + source[i + 2], 0.5f, false);
            EXPECT_EQ(mask[i], m);
            for (int c = 0; c < 3; ++c)
                EXPECT_EQ(destination[i + c], Formula(source[i + c], m, &sel, {2.0f, 255.0f}, false));
        }
}

TEST(Block, AnEmptyBlockWritesNothing)
{
    uint8_t source[3] = {1, 2, 3}, destination[3] = {9, 9, 9}, mask[3] = {4, 4, 4};
    BlockLayout layout;
    Curve().Prepare(2.0f, 255.0f, false);
    for (auto size : {std::pair<int, int>{0, 1}, {1, 0}, {0, 0}, {-1, 5}}) {
        layout.width = size.first;
        layout.height = size.second;
        engine::BuildMask(source, mask, layout, Bias(0.5f, false));
        engine::Blend(source, destination, mask, layout, Curve());
        EXPECT_EQ(destination[0], 9);
        EXPECT_EQ(mask[0], 4);
    }
}
