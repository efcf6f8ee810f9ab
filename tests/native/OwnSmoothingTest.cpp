// What the filter does itself in a host that lacks the services: its own
// smoothing of the mask, and the preview's scaled read from delivered bands.
// Each must give what the full host's own services give.
#include <gtest/gtest.h>

#include <random>

#include "engine/BandedScaledRead.h"
#include "engine/ChannelFilters.h"
#include "engine/MaskSmoother.h"

namespace {

Raster Noise(int32_t w, int32_t h, int32_t depth, uint32_t seed, bool smooth = false)
{
    Raster r(VRect{0, 0, h, w}, depth);
    std::mt19937 random(seed);
    const uint32_t full = depth == 16 ? 32768 : 255;
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x)
            r.samples[size_t(y) * w + x] =
                uint16_t(smooth ? (uint32_t(x * 7 + y * 3) * full / uint32_t(7 * w + 3 * h)) : random() % (full + 1));
    return r;
}

// The document's first `count` planes interleaved as a host delivers them,
// rows padded by `padding` bytes.
std::vector<uint8_t> Interleave(const Raster planes[], int32_t count, const VRect &rect, int32_t padding,
                                int32_t *rowBytes)
{
    const int32_t bytes = planes[0].depth == 16 ? 2 : 1, w = rect.right - rect.left;
    *rowBytes = w * count * bytes + padding;
    std::vector<uint8_t> out(size_t(*rowBytes) * size_t(rect.bottom - rect.top), 0xCD);
    for (int32_t y = rect.top; y < rect.bottom; ++y)
        for (int32_t x = rect.left; x < rect.right; ++x)
            for (int32_t p = 0; p < count; ++p) {
                const uint16_t v = planes[p].samples[size_t(y) * size_t(planes[p].bounds.right) + size_t(x)];
                uint8_t *at = out.data() + size_t(y - rect.top) * size_t(*rowBytes) +
                              size_t((x - rect.left) * count + p) * bytes;
                if (bytes == 2) {
                    at[0] = uint8_t(v);
                    at[1] = uint8_t(v >> 8);
                } else {
                    at[0] = uint8_t(v);
                }
            }
    return out;
}

} // namespace

TEST(MaskSmoother, GivesTheHostsBlurThenMedianInAllThreeBytes)
{
    engine::MaskSmoother smoother;
    // The larger block first: the smaller one reuses its memory.
    for (const auto &size : {std::make_pair(61, 47), std::make_pair(1, 1), std::make_pair(16, 3), std::make_pair(2, 40)}) {
        const int32_t w = size.first, h = size.second;
        const Raster mask = Noise(w, h, 8, uint32_t(w * 131 + h));
        std::vector<uint8_t> entries(size_t(w) * h * 3);
        for (size_t i = 0; i < mask.samples.size(); ++i) {
            entries[i * 3] = uint8_t(mask.samples[i]);
            entries[i * 3 + 1] = 0x11;  // only byte 0 goes into the smoothing
            entries[i * 3 + 2] = 0x22;
        }
        Raster a = mask, b(mask.bounds, 8);
        ASSERT_EQ(filters::GaussianBlur(a.View(), b.View(), a.bounds, 65541, -1), 0);
        ASSERT_EQ(filters::MedianFilter(b.View(), a.View(), a.bounds, 7, -1), 0);

        smoother.Smooth(entries.data(), w, h);
        for (size_t i = 0; i < a.samples.size(); ++i) {
            ASSERT_EQ(entries[i * 3], a.samples[i]) << w << "x" << h << " at " << i;
            ASSERT_EQ(entries[i * 3 + 1], a.samples[i]);
            ASSERT_EQ(entries[i * 3 + 2], a.samples[i]);
        }
    }
    smoother.Release();
}

struct ScaledCase {
    int32_t width, height, depth;
    VRect source, destination;
};

class BandedScaledReadTest : public ::testing::TestWithParam<ScaledCase> {};

// With the transparency after the colour too (four planes a pixel), each
// plane reads the same.
TEST_P(BandedScaledReadTest, EqualsTheScaledReadOfTheWholeDocument)
{
    const ScaledCase c = GetParam();
    Raster planes[4] = {Noise(c.width, c.height, c.depth, 1), Noise(c.width, c.height, c.depth, 2, true),
                        Noise(c.width, c.height, c.depth, 3), Noise(c.width, c.height, c.depth, 4, true)};
    const PSScaling scaling{c.source, c.destination};
    const int32_t dw = c.destination.right - c.destination.left, dh = c.destination.bottom - c.destination.top;

    // What the full host reads from each channel's pyramid, four bytes a
    // pixel.
    std::vector<uint8_t> expected(size_t(dw) * dh * 4, 0);
    for (int32_t p = 0; p < 4; ++p) {
        Pyramid pyramid;
        pyramid.Build(planes[p].View());
        VRect area = c.destination;
        ASSERT_EQ(ReadScaledToMemory(pyramid, &area,
                                     scaling, PixelMemoryDesc{expected.data(), dw * 32, 32, 8 * p, 8}),
                  0);
    }

    // Bands of a few rows up to the whole region at once.
    for (const int32_t count : {3, 4})
    for (const int64_t bandSamples : {int64_t(1), int64_t(c.width) * 5, int64_t(c.width) * 64, int64_t(1) << 24}) {
        engine::BandedScaledRead read;
        ASSERT_TRUE(read.Plan(c.width, c.height, c.depth, scaling, c.destination, bandSamples, count));
        const VRect region = read.Region();
        ASSERT_GT(read.BandRows(), 0);
        int32_t bands = 0;
        for (int32_t top = region.top; top < region.bottom; top += read.BandRows(), ++bands) {
            const int32_t bottom = std::min(top + read.BandRows(), region.bottom);
            int32_t rowBytes = 0;
            const std::vector<uint8_t> delivered =
                Interleave(planes, count, VRect{top, region.left, bottom, region.right}, 5, &rowBytes);
            read.AddBand(top, bottom - top, delivered.data(), rowBytes, count);
    }
    std::vector<uint8_t> got(expected.size(), 0xEE);
    for (int32_t p = 0; p < count; ++p) {
        VRect area = c.destination;
        ASSERT_EQ(read.Read(p, &area, PixelMemoryDesc{got.data(), dw * 32, 32, 8 * p, 8}), 0);
    }
    VRect outside = c.destination;
    EXPECT_NE(read.Read(count, &outside, PixelMemoryDesc{got.data(), dw * 32, 32, 0, 8}), 0) << "a plane not planned";
    if (count == 3)
        for (size_t i = 3; i < got.size(); i += 4)
            got[i] = expected[i];
    EXPECT_EQ(got, expected) << count << " planes, " << bands << " bands of " << read.BandRows() << " rows over region ("
                             << region.top << "," << region.left << "," << region.bottom << "," << region.right << ")";
    // Only what the read needs is delivered.
    EXPECT_LE(int64_t(region.right - region.left) * (region.bottom - region.top), int64_t(c.width) * c.height);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Views, BandedScaledReadTest,
    ::testing::Values(
        // The whole document reduced about 11 times (level 3), odd sizes.
        ScaledCase{1331, 757, 8, {0, 0, 757, 1331}, {0, 0, 67, 120}},
        ScaledCase{1331, 757, 16, {0, 0, 757, 1331}, {0, 0, 67, 120}},
        // A zoomed view away from the origin, reduced a little (level 1).
        ScaledCase{999, 601, 8, {123, 201, 457, 777}, {0, 0, 150, 260}},
        // Enlarged: level 0, only the view's pixels.
        ScaledCase{500, 420, 8, {191, 233, 214, 260}, {0, 0, 210, 250}},
        ScaledCase{500, 420, 16, {191, 233, 214, 260}, {0, 0, 210, 250}},
        // A view at the bottom right corner, where blocks are partial.
        ScaledCase{1027, 1029, 8, {700, 650, 1029, 1027}, {0, 0, 40, 45}},
        // Long and thin.
        ScaledCase{3001, 7, 8, {0, 0, 7, 3001}, {0, 0, 1, 300}}));

// A view that reaches past the document's edge, so that the region to read
// is a single column of the last block: each band's pyramid still reaches
// the chosen level, and the read is the full host's.
TEST(BandedScaledRead, ARegionOfOneSampleAtTheEdgeReachesTheChosenLevel)
{
    const int32_t w = 9, h = 9;
    Raster plane = Noise(w, h, 8, 7);
    const Raster planes[3] = {plane, plane, plane};
    const PSScaling scaling{VRect{0, 0, 16, 16}, VRect{0, 0, 4, 4}};
    const VRect readRect{2, 2, 3, 3};
    Pyramid pyramid;
    pyramid.Build(plane.View());
    std::vector<uint8_t> expected(16 * 3, 0), got(16 * 3, 0);
    VRect area = readRect;
    ASSERT_EQ(ReadScaledToMemory(pyramid, &area, scaling, PixelMemoryDesc{expected.data(), 4 * 24, 24, 0, 8}), 0);

    engine::BandedScaledRead read;
    ASSERT_TRUE(read.Plan(w, h, 8, scaling, readRect));
    const VRect region = read.Region();
    for (int32_t top = region.top; top < region.bottom; top += read.BandRows()) {
        const int32_t bottom = std::min(top + read.BandRows(), region.bottom);
        int32_t rowBytes = 0;
        const std::vector<uint8_t> delivered =
            Interleave(planes, 3, VRect{top, region.left, bottom, region.right}, 0, &rowBytes);
        read.AddBand(top, bottom - top, delivered.data(), rowBytes, 3);
    }
    area = readRect;
    ASSERT_EQ(read.Read(0, &area, PixelMemoryDesc{got.data(), 4 * 24, 24, 0, 8}), 0);
    EXPECT_EQ(got, expected);
}
