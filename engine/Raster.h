// One channel of samples (as the emulated host keeps its channels, and as the
// filter smooths its mask), the transfers between it and memory described by
// a PixelMemoryDesc, and its reductions to a smaller scale.
#pragma once

#include <cstdint>
#include <functional>
#include <limits>
#include <vector>

#include "plugin/HostInterface.h"

// Samples of one channel, row-major, covering `bounds`; depth 8 (0..255) or
// 16 (0..32768). The view does not own its samples.
struct RasterView {
    uint16_t *data = nullptr;
    VRect bounds{};
    int32_t depth = 8;

    int32_t Width() const { return bounds.right - bounds.left; }
    int32_t Height() const { return bounds.bottom - bounds.top; }
    uint16_t &At(int32_t x, int32_t y) const
    {
        return data[size_t(y - bounds.top) * size_t(Width()) + size_t(x - bounds.left)];
    }
};

// An owned channel.
struct Raster {
    VRect bounds{};
    int32_t depth = 8;
    std::vector<uint16_t> samples;

    Raster() = default;
    Raster(const VRect &b, int32_t d);
    RasterView View() { return RasterView{samples.data(), bounds, depth}; }
};

bool IsEmpty(const VRect &r);
VRect Intersect(const VRect &a, const VRect &b);

// Depth conversions as hosts make them.
inline uint16_t Convert8To16(uint32_t v)
{
    return uint16_t((v * 32768u + 127u) / 255u);
}
inline uint8_t Convert16To8(uint32_t v)
{
    return uint8_t((v * 255u + 16384u) / 32768u);
}

// Checks a pixel memory description: a data address, depth 8 or 16, and
// row and column steps and bit offset in whole bytes.
SPErr CheckMemory(const PixelMemoryDesc &memory);

// Copies *area (clipped to the channel, the clipped rectangle written back)
// into memory whose origin is the requested area's top-left corner.
SPErr ReadToMemory(const RasterView &channel, VRect *area, const PixelMemoryDesc &memory);

// Copies memory (origin at the requested area's top-left) into *area,
// clipped to the channel and to writeLimit; the clipped rectangle is
// written back.
SPErr WriteFromMemory(const RasterView &channel, const VRect &writeLimit, VRect *area,
                      const PixelMemoryDesc &memory);

// Downsampled copies of a channel: level k is 2^k times smaller, each of its
// samples the rounded average of the 2 x 2 (fewer at the edges) samples of
// the level below.
class Pyramid {
public:
    // Levels until both sides are at most minimumSize samples, and no more
    // than maxLevels of them above the base.
    void Build(const RasterView &base, int32_t minimumSize = 1,
               int32_t maxLevels = std::numeric_limits<int32_t>::max());
    // The same levels, each one's rows reduced in bands by the caller's
    // `bands`: given a level's height and `reduce`, it calls reduce(begin,
    // end) for bands that cover rows 0 .. height - 1 once each, on whatever
    // threads it keeps, and returns when all are done. Nothing here starts a
    // thread.
    using RowBands = std::function<void(int32_t rows, const std::function<void(int32_t, int32_t)> &reduce)>;
    void Build(const RasterView &base, int32_t minimumSize, const RowBands &bands);
    // Rows rowBegin .. rowEnd - 1 of `level` (half of `below` each way,
    // rounded up, at its origin) from `below`.
    static void ReduceRows(const RasterView &below, const RasterView &level, int32_t rowBegin, int32_t rowEnd);
    void Clear() { levels_.clear(); }
    bool Empty() const { return levels_.empty(); }
    int32_t LevelCount() const { return int32_t(levels_.size()) + 1; }
    RasterView Level(int32_t level) const;

private:
    void BuildLevels(const RasterView &base, int32_t minimumSize, int32_t maxLevels, const RowBands &bands);

    RasterView base_;
    std::vector<Raster> levels_;  // levels 1, 2, ...
};

// A scaled read: *readRect is in destination coordinates of the scaling;
// each destination pixel receives the average of the source pixels that it
// covers (read from the pyramid level nearest the scale), or, enlarging,
// the source pixel under it. The clipped rectangle is written back.
SPErr ReadScaledToMemory(const Pyramid &pyramid, VRect *readRect, const PSScaling &scaling,
                         const PixelMemoryDesc &memory);

// The parts of a scaled read, for a reader that builds only what it needs.
//
// The number of levels a full pyramid of a width x height channel has (the
// base included).
int32_t PyramidLevelCount(int32_t width, int32_t height);
// The level a scaled read takes its samples from: the coarsest whose pixels
// are still no larger than a destination pixel. -1 for an empty scaling.
int32_t ScaledReadLevel(const PSScaling &scaling, int32_t levelCount);
// The samples of `level` that a scaled read of readRect (clipped to the
// destination) averages, in that level's coordinates from the base's origin
// at `baseOrigin`, for a base of baseWidth x baseHeight; empty when none.
VRect ScaledReadFootprint(const PSScaling &scaling, const VRect &readRect, int32_t level, VPoint baseOrigin,
                          int32_t baseWidth, int32_t baseHeight);
// A scaled read from one level. `samples` holds at least the footprint,
// addressed in that level's coordinates from the base's origin; levelWidth
// and levelHeight are the whole level's size.
SPErr ReadScaledFromLevel(const RasterView &samples, int32_t level, VPoint baseOrigin, int32_t levelWidth,
                          int32_t levelHeight, VRect *readRect, const PSScaling &scaling,
                          const PixelMemoryDesc &memory);
