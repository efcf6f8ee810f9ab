// The host's filters against slow references that read every window sample
// through the padding rule directly.
#include <gtest/gtest.h>

#include <algorithm>

#include "engine/BinCounts.h"
#include "engine/ChannelFilters.h"

namespace {

Raster Noise(VRect bounds, int32_t depth, uint32_t seed)
{
    Raster r(bounds, depth);
    uint32_t state = seed;
    const uint32_t top = depth == 16 ? 32769u : 256u;
    for (uint16_t &v : r.samples) {
        state = state * 1664525u + 1013904223u;
        v = uint16_t((state >> 8) % top);
    }
    return r;
}

// Mostly saturated, like a shadow mask: a few dark blobs in 255.
Raster MaskLike(VRect bounds, uint32_t seed)
{
    Raster r(bounds, 8);
    const int32_t w = bounds.right - bounds.left;
    uint32_t state = seed;
    for (size_t i = 0; i < r.samples.size(); ++i) {
        const int32_t x = int32_t(i % size_t(w)), y = int32_t(i / size_t(w));
        state = state * 1664525u + 1013904223u;
        const bool dark = ((x / 9) + (y / 7)) % 5 == 0;
        r.samples[i] = dark ? uint16_t((state >> 24) % 90) : 255;
    }
    return r;
}

// The sample the filters see at (x, y) for `rect` and `padding`.
uint32_t PaddedAt(const RasterView &src, const VRect &rect, int32_t x, int32_t y, int32_t padding)
{
    if (x >= rect.left && x < rect.right && y >= rect.top && y < rect.bottom)
        return src.At(x, y);
    if (padding >= 0)
        return src.depth == 16 ? Convert8To16(uint32_t(padding)) : uint32_t(padding);
    const int32_t cx = std::min(std::max(x, rect.left), rect.right - 1);
    const int32_t cy = std::min(std::max(y, rect.top), rect.bottom - 1);
    return src.At(cx, cy);
}

uint16_t GaussianReference(const RasterView &src, const VRect &rect, int32_t x, int32_t y,
                           const std::vector<uint32_t> &w, int32_t padding)
{
    const int32_t m = int32_t(w.size()) / 2;
    uint64_t sum = 0;
    for (int32_t j = -m; j <= m; ++j)
        for (int32_t i = -m; i <= m; ++i)
            sum += uint64_t(w[size_t(j + m)]) * w[size_t(i + m)] * PaddedAt(src, rect, x + i, y + j, padding);
    return uint16_t((sum + (uint64_t(1) << 31)) >> 32);
}

uint16_t MedianReference(const RasterView &src, const VRect &rect, int32_t x, int32_t y, int32_t r,
                         int32_t padding)
{
    std::vector<uint32_t> window;
    for (int32_t j = -r; j <= r; ++j)
        for (int32_t i = -r; i <= r; ++i)
            window.push_back(PaddedAt(src, rect, x + i, y + j, padding));
    std::sort(window.begin(), window.end());
    return uint16_t(window[window.size() / 2]);
}

struct Shape {
    VRect bounds;  // of both channels
    VRect rect;    // filtered
};

const Shape kShapes[] = {
    {{0, 0, 1, 1}, {0, 0, 1, 1}},
    {{0, 0, 1, 9}, {0, 0, 1, 9}},
    {{0, 0, 23, 1}, {0, 0, 23, 1}},
    {{0, 0, 37, 41}, {0, 0, 37, 41}},
    {{10, 20, 50, 70}, {15, 22, 40, 69}},   // a rect inside channels with an origin
    {{0, 0, 30, 30}, {-5, 10, 20, 90}},     // a rect reaching outside: clipped
};

} // namespace

TEST(GaussianWeights, SumToOneAndAreSymmetric)
{
    for (double sigma : {0.2, 65541 / 65536.0, 2.5, 10.0}) {
        const std::vector<uint32_t> w = filters::GaussianWeights(sigma);
        ASSERT_EQ(w.size() % 2, 1u);
        uint64_t sum = 0;
        for (size_t i = 0; i < w.size(); ++i) {
            sum += w[i];
            EXPECT_EQ(w[i], w[w.size() - 1 - i]);
        }
        EXPECT_EQ(sum, 65536u);
    }
    EXPECT_EQ(filters::GaussianWeights(65541 / 65536.0).size(), 9u);  // ceil(3 * 1.00008) = 4 each side
}

TEST(GaussianBlur, MatchesTheDirectConvolution)
{
    for (const Shape &shape : kShapes)
        for (int32_t depth : {8, 16})
            for (int32_t padding : {-1, 0, 200})
                for (Fixed radius : {65541, 3 << 15, 3 << 16}) {
                    Raster src = Noise(shape.bounds, depth, 5), dst(shape.bounds, depth);
                    std::fill(dst.samples.begin(), dst.samples.end(), 7);
                    ASSERT_EQ(filters::GaussianBlur(src.View(), dst.View(), shape.rect, radius, padding), 0);
                    const VRect r = Intersect(shape.rect, shape.bounds);
                    const auto w = filters::GaussianWeights(radius / 65536.0);
                    for (int32_t y = shape.bounds.top; y < shape.bounds.bottom; ++y)
                        for (int32_t x = shape.bounds.left; x < shape.bounds.right; ++x) {
                            const bool inside = x >= r.left && x < r.right && y >= r.top && y < r.bottom;
                            const uint16_t expected = inside ? GaussianReference(src.View(), r, x, y, w, padding) : 7;
                            ASSERT_EQ(dst.View().At(x, y), expected)
                                << x << "," << y << " depth " << depth << " padding " << padding << " radius " << radius;
                        }
                }
}

// Radii beyond the usual: one whose weights all fall on the centre, and
// one wider than the channel (61 taps over 5 rows); and a destination of
// the other depth, which receives the converted results.
TEST(GaussianBlur, TinyAndHugeRadiiAndDepthChanges)
{
    const VRect bounds{0, 0, 5, 7};
    for (Fixed radius : {Fixed(6554), Fixed(10 << 16), Fixed(65541)})
        for (int32_t padding : {-1, 0, 200})
            for (int32_t depths : {88, 816, 168, 1616}) {
                const int32_t from = depths == 88 || depths == 816 ? 8 : 16, to = depths % 100 == 16 ? 16 : 8;
                Raster src = Noise(bounds, from, 17), dst(bounds, to);
                ASSERT_EQ(filters::GaussianBlur(src.View(), dst.View(), bounds, radius, padding), 0);
                const auto w = filters::GaussianWeights(radius / 65536.0);
                for (int32_t y = 0; y < 5; ++y)
                    for (int32_t x = 0; x < 7; ++x) {
                        uint32_t expected = GaussianReference(src.View(), bounds, x, y, w, padding);
                        if (from != to)
                            expected = to == 8 ? Convert16To8(expected) : Convert8To16(expected);
                        ASSERT_EQ(dst.View().At(x, y), expected)
                            << x << "," << y << " radius " << radius << " padding " << padding << " depths " << depths;
                    }
            }
    EXPECT_EQ(filters::GaussianWeights(6554 / 65536.0)[1], 65536u);
}

TEST(GaussianBlur, RefusesBadParameters)
{
    Raster a = Noise({0, 0, 4, 4}, 8, 1), b({0, 0, 4, 4}, 8);
    EXPECT_NE(filters::GaussianBlur(a.View(), b.View(), a.bounds, 65536, 256), 0);
    EXPECT_NE(filters::GaussianBlur(a.View(), b.View(), a.bounds, 65536, -2), 0);
    EXPECT_NE(filters::GaussianBlur(a.View(), b.View(), a.bounds, -1, -1), 0);
}

TEST(MedianFilter, MatchesSortingEveryWindow)
{
    for (const Shape &shape : kShapes)
        for (int32_t radius : {1, 2, 7})
            for (int32_t padding : {-1, 0, 255})
                for (int kind = 0; kind < 3; ++kind) {
                    const int32_t depth = kind == 2 ? 16 : 8;
                    Raster src = kind == 1 ? MaskLike(shape.bounds, 3) : Noise(shape.bounds, depth, 9);
                    Raster dst(shape.bounds, depth);
                    std::fill(dst.samples.begin(), dst.samples.end(), 7);
                    ASSERT_EQ(filters::MedianFilter(src.View(), dst.View(), shape.rect, radius, padding), 0);
                    const VRect r = Intersect(shape.rect, shape.bounds);
                    for (int32_t y = shape.bounds.top; y < shape.bounds.bottom; ++y)
                        for (int32_t x = shape.bounds.left; x < shape.bounds.right; ++x) {
                            const bool inside = x >= r.left && x < r.right && y >= r.top && y < r.bottom;
                            const uint16_t expected = inside ? MedianReference(src.View(), r, x, y, radius, padding) : 7;
                            ASSERT_EQ(dst.View().At(x, y), expected)
                                << x << "," << y << " radius " << radius << " padding " << padding << " kind " << kind;
                        }
                }
}

TEST(MedianFilter, LargeMaskLikeChannelMatchesTheReference)
{
    // Long runs of one value and the windows around their edges.
    Raster src = MaskLike({0, 0, 120, 300}, 11), dst({0, 0, 120, 300}, 8);
    ASSERT_EQ(filters::MedianFilter(src.View(), dst.View(), src.bounds, 7, -1), 0);
    for (int32_t y = 0; y < 120; ++y)
        for (int32_t x = 0; x < 300; ++x)
            ASSERT_EQ(dst.View().At(x, y), MedianReference(src.View(), src.bounds, x, y, 7, -1)) << x << "," << y;
}

// 8 bits: past the first stripe of columns (128), with both widths of
// packed counts: radius 7 is the largest with byte lanes, 8 the smallest
// with 16-bit lanes; 100 gives windows of more than 2^15 samples. 16 bits:
// rows of both directions, and the same window sizes.
TEST(MedianFilter, WideChannelsAndEveryLaneWidthMatchTheReference)
{
    struct Case {
        VRect bounds;
        int32_t radius, depth;
    };
    const Case cases[] = {{{0, 0, 12, 261}, 7, 8}, {{0, 0, 9, 261}, 8, 8},  {{0, 0, 3, 2}, 100, 8},
                          {{0, 0, 1, 130}, 100, 8}, {{0, 0, 6, 45}, 7, 16}, {{0, 0, 5, 20}, 8, 16},
                          {{0, 0, 3, 2}, 100, 16}};
    for (const Case &c : cases)
        for (int32_t padding : {-1, 0}) {
            Raster src = Noise(c.bounds, c.depth, 21), dst(c.bounds, c.depth);
            ASSERT_EQ(filters::MedianFilter(src.View(), dst.View(), c.bounds, c.radius, padding), 0);
            for (int32_t y = c.bounds.top; y < c.bounds.bottom; ++y)
                for (int32_t x = c.bounds.left; x < c.bounds.right; x += c.radius == 100 ? 7 : 1)
                    ASSERT_EQ(dst.View().At(x, y), MedianReference(src.View(), c.bounds, x, y, c.radius, padding))
                        << x << "," << y << " radius " << c.radius << " padding " << padding << " depth " << c.depth;
        }
}

namespace {

// The bin holding `rank` of 16 counts, and the rank within it, by walking.
int32_t BinOfRankReference(const uint32_t *counts, uint32_t rank, uint32_t *within)
{
    int32_t bin = 0;
    while (rank >= counts[bin])
        rank -= counts[bin++];
    *within = rank;
    return bin;
}

template <int Bits>
void CheckBinOfRank(uint32_t total, uint32_t seed)
{
    using Counts = filters::BinCounts<Bits>;
    uint32_t state = seed;
    for (int trial = 0; trial < 400; ++trial) {
        // Spread `total` over the bins: at random, or all in one or two.
        uint32_t counts[16] = {};
        state = state * 1664525u + 1013904223u;
        const int kind = trial % 4;
        for (uint32_t i = 0; i < total; ++i) {
            state = state * 1664525u + 1013904223u;
            const uint32_t bin = kind == 0 ? (state >> 8) % 16 : kind == 1 ? (trial / 4) % 16 : (state >> 9) % 2 * 15;
            ++counts[kind == 3 ? (bin + trial) % 16 : bin];
        }
        typename Counts::Count packed[16];
        for (int b = 0; b < 16; ++b)
            packed[b] = typename Counts::Count(counts[b]);
        uint64_t words[Counts::kWords];
        for (int k = 0; k < Counts::kWords; ++k)
            words[k] = Counts::Word(packed + k * Counts::kLanes);
        for (uint32_t rank = 0; rank <= (total - 1) / 2; rank += 1 + rank / 50) {
            uint32_t expectedWithin = 0, within = 99999, portableWithin = 99999;
            const int32_t expected = BinOfRankReference(counts, rank, &expectedWithin);
            ASSERT_EQ(Counts::BinOfRankPortable(words, rank, &portableWithin), expected) << Bits << " rank " << rank;
            ASSERT_EQ(portableWithin, expectedWithin);
            ASSERT_EQ(Counts::BinOfRank(words, rank, &within), expected) << Bits << " rank " << rank;
            ASSERT_EQ(within, expectedWithin);
        }
    }
}

} // namespace

// The search both ways (with SSE2 where built with it, and the portable
// one) against walking the bins, for windows of every size the lanes serve.
// Every split of the rows into 1 to 7 bands (bands of one row among them),
// each band computed alone with a workspace of its own, gives the whole
// call's samples exactly; rows of the destination outside the rectangle are
// left alone.
void ExpectBandsMatchTheWholeCall(const Raster &src, const VRect &rect, int32_t depth, bool median, int32_t radius,
                                  Fixed blurRadius, int32_t padding)
{
    Raster source = src;
    Raster whole(src.bounds, depth);
    std::fill(whole.samples.begin(), whole.samples.end(), 7);
    const SPErr expected = median ? filters::MedianFilter(source.View(), whole.View(), rect, radius, padding)
                                  : filters::GaussianBlur(source.View(), whole.View(), rect, blurRadius, padding);
    ASSERT_EQ(expected, 0);
    const VRect r = Intersect(rect, src.bounds);
    const int32_t rows = r.bottom - r.top;
    for (int32_t bands = 1; bands <= 7; ++bands)
        for (int32_t shift = 0; shift < 3; ++shift) {
            // Band edges: even splits, then moved by `shift` rows, some
            // bands left one row tall or empty.
            std::vector<int32_t> edges{r.top};
            for (int32_t i = 1; i < bands; ++i)
                edges.push_back(std::min(r.bottom, std::max(edges.back(), r.top + rows * i / bands + shift * (i % 2))));
            edges.push_back(r.bottom);
            if (shift == 2 && bands > 1)
                edges[1] = std::min(r.bottom, r.top + 1);
            std::sort(edges.begin(), edges.end());
            Raster banded(src.bounds, depth);
            std::fill(banded.samples.begin(), banded.samples.end(), 7);
            for (size_t i = 0; i + 1 < edges.size(); ++i) {
                filters::Workspace ws;
                const SPErr e =
                    median ? filters::MedianFilterRows(source.View(), banded.View(), rect, radius, padding, edges[i],
                                                       edges[i + 1], ws)
                           : filters::GaussianBlurRows(source.View(), banded.View(), rect, blurRadius, padding,
                                                       edges[i], edges[i + 1], ws);
                ASSERT_EQ(e, 0);
            }
            ASSERT_EQ(banded.samples, whole.samples)
                << (median ? "median radius " : "blur radius ") << (median ? radius : blurRadius) << " depth "
                << depth << " padding " << padding << " bands " << bands << " shift " << shift;
        }
}

TEST(GaussianBlur, BandsOfRowsMatchTheWholeCall)
{
    const VRect bounds{3, 2, 3 + 41, 2 + 23};
    const VRect rects[] = {bounds, VRect{5, 4, 38, 19}, VRect{0, 0, 9, 100}};
    for (int32_t depth : {8, 16})
        for (const VRect &rect : rects)
            for (int32_t padding : {-1, 0, 200})
                for (Fixed radius : {Fixed(0), Fixed(6554), Fixed(65541), Fixed(3 << 15), Fixed(5 << 16)})
                    ExpectBandsMatchTheWholeCall(Noise(bounds, depth, 21), rect, depth, false, 0, radius, padding);
}

TEST(MedianFilter, BandsOfRowsMatchTheWholeCall)
{
    const VRect bounds{1, 3, 1 + 37, 3 + 139};  // past the first stripe of columns
    const VRect rects[] = {bounds, VRect{4, 5, 30, 140}};
    for (int32_t depth : {8, 16})
        for (const VRect &rect : rects)
            for (int32_t padding : {-1, 0, 255})
                for (int32_t radius : {1, 2, 7, 8}) {
                    ExpectBandsMatchTheWholeCall(Noise(bounds, depth, 13), rect, depth, true, radius, 0, padding);
                    if (depth == 8)
                        ExpectBandsMatchTheWholeCall(MaskLike(bounds, 5), rect, depth, true, radius, 0, padding);
                }
}

TEST(BinCounts, BinOfRankMatchesWalkingTheBins)
{
    for (uint32_t side : {3u, 5u, 15u})
        CheckBinOfRank<8>(side * side, side);
    for (uint32_t side : {3u, 17u, 181u, 201u})
        CheckBinOfRank<16>(side * side, side);
}

TEST(CopyAndSet, CopyConvertsDepthsAndSetFills)
{
    Raster a = Noise({0, 0, 3, 5}, 16, 2), b({0, 0, 3, 5}, 8);
    ASSERT_EQ(filters::CopyPixels(a.View(), b.View(), a.bounds), 0);
    for (size_t i = 0; i < a.samples.size(); ++i)
        EXPECT_EQ(b.samples[i], Convert16To8(a.samples[i]));
    ASSERT_EQ(filters::SetPixels(b.View(), VRect{1, 1, 2, 4}, 9), 0);
    EXPECT_EQ(b.View().At(1, 1), 9);
    EXPECT_EQ(b.View().At(3, 1), 9);
    EXPECT_EQ(b.View().At(0, 0), Convert16To8(a.samples[0]));
    EXPECT_NE(filters::SetPixels(b.View(), b.bounds, 256), 0);
}
