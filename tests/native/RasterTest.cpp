// Transfers between channels and a plug-in's memory, and scaled reads.
#include <gtest/gtest.h>

#include <algorithm>

#include "engine/Raster.h"

namespace {

Raster Ramp(VRect bounds, int32_t depth)
{
    Raster r(bounds, depth);
    for (size_t i = 0; i < r.samples.size(); ++i)
        r.samples[i] = uint16_t((i * 37) % (depth == 16 ? 32769 : 256));
    return r;
}

PixelMemoryDesc Interleaved(void *data, int32_t width, int32_t channel, int32_t depth = 8)
{
    return PixelMemoryDesc{data, width * 3 * depth, 3 * depth, channel * depth, depth};
}

} // namespace

TEST(Transfer, ReadsIntoInterleavedMemoryAndClips)
{
    Raster r = Ramp({10, 20, 14, 25}, 8);
    std::vector<uint8_t> memory(6 * 4 * 3, 0xEE);
    VRect area{10, 19, 14, 25};  // one column left of the channel
    ASSERT_EQ(ReadToMemory(r.View(), &area, Interleaved(memory.data(), 6, 1)), 0);
    EXPECT_EQ(area.left, 20);
    EXPECT_EQ(area.right, 25);
    for (int32_t y = 0; y < 4; ++y)
        for (int32_t x = 0; x < 6; ++x) {
            const size_t at = (size_t(y) * 6 + x) * 3;
            EXPECT_EQ(memory[at], 0xEE);
            EXPECT_EQ(memory[at + 2], 0xEE);
            EXPECT_EQ(memory[at + 1], x == 0 ? 0xEE : r.View().At(19 + x, 10 + y)) << x << "," << y;
        }
}

TEST(Transfer, ConvertsBetweenDepths)
{
    Raster sixteen({0, 0, 1, 3}, 16);
    sixteen.samples = {0, 16384, 32768};
    uint8_t eight[3] = {};
    VRect area = sixteen.bounds;
    ASSERT_EQ(ReadToMemory(sixteen.View(), &area, PixelMemoryDesc{eight, 24, 8, 0, 8}), 0);
    EXPECT_EQ(eight[0], 0);
    EXPECT_EQ(eight[1], 128);
    EXPECT_EQ(eight[2], 255);

    Raster target({0, 0, 1, 3}, 16);
    const uint8_t bytes[3] = {0, 128, 255};
    area = target.bounds;
    ASSERT_EQ(WriteFromMemory(target.View(), target.bounds, &area, PixelMemoryDesc{const_cast<uint8_t *>(bytes), 24, 8, 0, 8}), 0);
    EXPECT_EQ(target.samples, (std::vector<uint16_t>{0, 16448, 32768}));
}

TEST(Transfer, HonoursTheWriteLimit)
{
    Raster r({0, 0, 2, 4}, 8);
    const uint8_t ones[8] = {1, 1, 1, 1, 1, 1, 1, 1};
    VRect area = r.bounds;
    ASSERT_EQ(WriteFromMemory(r.View(), VRect{0, 1, 2, 3}, &area, PixelMemoryDesc{const_cast<uint8_t *>(ones), 32, 8, 0, 8}), 0);
    EXPECT_EQ(r.samples, (std::vector<uint16_t>{0, 1, 1, 0, 0, 1, 1, 0}));
    EXPECT_EQ(area.left, 1);
    EXPECT_EQ(area.right, 3);
}

TEST(Transfer, RefusesDescriptionsItCannotServe)
{
    Raster r({0, 0, 2, 2}, 8);
    uint8_t memory[16] = {};
    VRect area = r.bounds;
    EXPECT_NE(ReadToMemory(r.View(), &area, PixelMemoryDesc{nullptr, 16, 8, 0, 8}), 0);
    EXPECT_NE(ReadToMemory(r.View(), &area, PixelMemoryDesc{memory, 16, 8, 0, 32}), 0);
    EXPECT_NE(ReadToMemory(r.View(), &area, PixelMemoryDesc{memory, 12, 6, 0, 8}), 0);
    EXPECT_NE(ReadToMemory(r.View(), &area, PixelMemoryDesc{memory, 16, 8, 3, 8}), 0);
    EXPECT_NE(ReadToMemory(r.View(), nullptr, PixelMemoryDesc{memory, 16, 8, 0, 8}), 0);
}

TEST(Scaling, OneToOneIsACopyAndHalvingAverages)
{
    Raster r = Ramp({0, 0, 8, 8}, 8);
    Pyramid pyramid;
    pyramid.Build(r.View());
    uint8_t same[64] = {};
    VRect read{0, 0, 8, 8};
    ASSERT_EQ(ReadScaledToMemory(pyramid, &read, PSScaling{{0, 0, 8, 8}, {0, 0, 8, 8}}, PixelMemoryDesc{same, 64, 8, 0, 8}), 0);
    for (int i = 0; i < 64; ++i)
        EXPECT_EQ(same[i], r.samples[size_t(i)]);

    uint8_t half[16] = {};
    read = VRect{0, 0, 4, 4};
    ASSERT_EQ(ReadScaledToMemory(pyramid, &read, PSScaling{{0, 0, 8, 8}, {0, 0, 4, 4}}, PixelMemoryDesc{half, 32, 8, 0, 8}), 0);
    for (int32_t y = 0; y < 4; ++y)
        for (int32_t x = 0; x < 4; ++x) {
            const uint32_t sum = r.View().At(2 * x, 2 * y) + r.View().At(2 * x + 1, 2 * y) +
                                 r.View().At(2 * x, 2 * y + 1) + r.View().At(2 * x + 1, 2 * y + 1);
            EXPECT_EQ(half[y * 4 + x], (sum + 2) / 4) << x << "," << y;
        }
}

TEST(Scaling, EachLevelAveragesItsBlocksUpToOddEdges)
{
    // Odd sides at every level: the last column and row average what there is.
    Raster r = Ramp({0, 0, 11, 13}, 16);
    Pyramid pyramid;
    pyramid.Build(r.View(), 1);
    RasterView below = r.View();
    for (int32_t level = 1; level < pyramid.LevelCount(); ++level) {
        const RasterView here = pyramid.Level(level);
        ASSERT_EQ(here.Width(), (below.Width() + 1) / 2);
        ASSERT_EQ(here.Height(), (below.Height() + 1) / 2);
        for (int32_t y = 0; y < here.Height(); ++y)
            for (int32_t x = 0; x < here.Width(); ++x) {
                uint32_t sum = 0, n = 0;
                for (int32_t sy = 2 * y; sy < std::min(2 * y + 2, below.Height()); ++sy)
                    for (int32_t sx = 2 * x; sx < std::min(2 * x + 2, below.Width()); ++sx, ++n)
                        sum += below.At(sx, sy);
                ASSERT_EQ(here.At(x, y), (sum + n / 2) / n) << "level " << level << " at " << x << "," << y;
            }
        below = here;
    }
}

TEST(Scaling, LargeReductionsAverageEveryPixelWithinRounding)
{
    Raster r = Ramp({0, 0, 64, 96}, 16);
    Pyramid pyramid;
    pyramid.Build(r.View());
    EXPECT_GE(pyramid.LevelCount(), 4);
    uint16_t out[8 * 12] = {};
    VRect read{0, 0, 8, 12};
    ASSERT_EQ(ReadScaledToMemory(pyramid, &read, PSScaling{{0, 0, 64, 96}, {0, 0, 8, 12}}, PixelMemoryDesc{out, 12 * 16, 16, 0, 16}), 0);
    for (int32_t y = 0; y < 8; ++y)
        for (int32_t x = 0; x < 12; ++x) {
            uint64_t sum = 0;
            for (int32_t j = 0; j < 8; ++j)
                for (int32_t i = 0; i < 8; ++i)
                    sum += r.View().At(8 * x + i, 8 * y + j);
            const double exact = double(sum) / 64.0;
            EXPECT_NEAR(out[y * 12 + x], exact, 1.5) << x << "," << y;
        }
}

TEST(Scaling, EnlargingRepeatsPixelsAndBadScalingIsRefused)
{
    Raster r = Ramp({0, 0, 2, 2}, 8);
    Pyramid pyramid;
    pyramid.Build(r.View());
    uint8_t out[16] = {};
    VRect read{0, 0, 4, 4};
    ASSERT_EQ(ReadScaledToMemory(pyramid, &read, PSScaling{{0, 0, 2, 2}, {0, 0, 4, 4}}, PixelMemoryDesc{out, 32, 8, 0, 8}), 0);
    for (int32_t y = 0; y < 4; ++y)
        for (int32_t x = 0; x < 4; ++x)
            EXPECT_EQ(out[y * 4 + x], r.View().At(x / 2, y / 2));
    EXPECT_NE(ReadScaledToMemory(pyramid, &read, PSScaling{{0, 0, 0, 2}, {0, 0, 4, 4}}, PixelMemoryDesc{out, 32, 8, 0, 8}), 0);
}

// Levels reduced in bands of rows, in any order (bands of one row among
// them), are the levels of the single pass, sample for sample.
TEST(Scaling, LevelsReducedInBandsOfRowsMatchTheSinglePass)
{
    for (const VRect &bounds : {VRect{0, 0, 11, 13}, VRect{2, 3, 2 + 40, 3 + 1}, VRect{0, 0, 1, 37}, VRect{0, 0, 67, 30}})
        for (int32_t depth : {8, 16}) {
            Raster r = Ramp(bounds, depth);
            for (size_t i = 0; i < r.samples.size(); ++i)
                r.samples[i] = uint16_t((r.samples[i] * 7 + i * 13) % (depth == 16 ? 32769 : 256));
            Pyramid whole;
            whole.Build(r.View(), 1);
            for (int32_t bands = 1; bands <= 6; ++bands) {
                Pyramid banded;
                banded.Build(r.View(), 1, [&](int32_t rows, const std::function<void(int32_t, int32_t)> &reduce) {
                    // Last band first; with six, every row a band of its own.
                    const int32_t count = bands == 6 ? rows : bands;
                    for (int32_t i = count - 1; i >= 0; --i)
                        reduce(rows * i / count, rows * (i + 1) / count);
                });
                ASSERT_EQ(banded.LevelCount(), whole.LevelCount());
                for (int32_t level = 1; level < whole.LevelCount(); ++level) {
                    const RasterView a = whole.Level(level), b = banded.Level(level);
                    ASSERT_EQ(a.Width(), b.Width());
                    ASSERT_EQ(a.Height(), b.Height());
                    ASSERT_TRUE(std::equal(a.data, a.data + size_t(a.Width()) * size_t(a.Height()), b.data))
                        << "level " << level << ", " << bands << " bands, depth " << depth;
                }
            }
        }
}
