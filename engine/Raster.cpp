#include "engine/Raster.h"

#include <algorithm>

Raster::Raster(const VRect &b, int32_t d) : bounds(b), depth(d)
{
    const int64_t w = int64_t(b.right) - b.left, h = int64_t(b.bottom) - b.top;
    samples.assign(w > 0 && h > 0 ? size_t(w * h) : 0, 0);
}

bool IsEmpty(const VRect &r)
{
    return r.bottom <= r.top || r.right <= r.left;
}

VRect Intersect(const VRect &a, const VRect &b)
{
    VRect r{std::max(a.top, b.top), std::max(a.left, b.left), std::min(a.bottom, b.bottom),
            std::min(a.right, b.right)};
    if (IsEmpty(r))
        r = VRect{0, 0, 0, 0};
    return r;
}

SPErr CheckMemory(const PixelMemoryDesc &memory)
{
    if (memory.data == nullptr)
        return paramErr;
    if (memory.depth != 8 && memory.depth != 16)
        return errUnsupportedDepth;
    if (memory.rowBits % 8 != 0 || memory.colBits % 8 != 0 || memory.bitOffset % 8 != 0 ||
        memory.bitOffset < 0)
        return paramErr;
    return noErr;
}

namespace {

uint8_t *Address(const PixelMemoryDesc &memory, int64_t row, int64_t column)
{
    return static_cast<uint8_t *>(memory.data) + row * (memory.rowBits / 8) + column * (memory.colBits / 8) +
           memory.bitOffset / 8;
}

void Store(const PixelMemoryDesc &memory, uint8_t *at, uint32_t sample, int32_t sampleDepth)
{
    if (memory.depth == 8) {
        *at = sampleDepth == 8 ? uint8_t(sample) : Convert16To8(sample);
    } else {
        const uint16_t v = sampleDepth == 16 ? uint16_t(sample) : Convert8To16(sample);
        at[0] = uint8_t(v & 0xFF);
        at[1] = uint8_t(v >> 8);
    }
}

uint16_t Load(const PixelMemoryDesc &memory, const uint8_t *at, int32_t channelDepth)
{
    if (memory.depth == 8)
        return channelDepth == 8 ? *at : Convert8To16(*at);
    uint32_t v = uint32_t(at[0]) | (uint32_t(at[1]) << 8);
    if (v > 32768)
        v = 32768;  // the host's 16-bit range ends at 32768
    return channelDepth == 16 ? uint16_t(v) : Convert16To8(v);
}

} // namespace

SPErr ReadToMemory(const RasterView &channel, VRect *area, const PixelMemoryDesc &memory)
{
    if (area == nullptr)
        return paramErr;
    if (const SPErr e = CheckMemory(memory))
        return e;
    const VRect requested = *area;
    const VRect r = Intersect(requested, channel.bounds);
    *area = r;
    const int64_t step = memory.colBits / 8;
    for (int32_t y = r.top; y < r.bottom; ++y) {
        uint8_t *to = Address(memory, y - requested.top, r.left - requested.left);
        const uint16_t *from = &channel.At(r.left, y);
        const int32_t width = r.right - r.left;
        if (memory.depth == 8 && channel.depth == 8) {  // the common case, without conversions
            for (int32_t x = 0; x < width; ++x)
                to[x * step] = uint8_t(from[x]);
            continue;
        }
        for (int32_t x = 0; x < width; ++x)
            Store(memory, to + x * step, from[x], channel.depth);
    }
    return noErr;
}

SPErr WriteFromMemory(const RasterView &channel, const VRect &writeLimit, VRect *area,
                      const PixelMemoryDesc &memory)
{
    if (area == nullptr)
        return paramErr;
    if (const SPErr e = CheckMemory(memory))
        return e;
    const VRect requested = *area;
    const VRect r = Intersect(Intersect(requested, channel.bounds), writeLimit);
    *area = r;
    const int64_t step = memory.colBits / 8;
    for (int32_t y = r.top; y < r.bottom; ++y) {
        const uint8_t *from = Address(memory, y - requested.top, r.left - requested.left);
        uint16_t *to = &channel.At(r.left, y);
        const int32_t width = r.right - r.left;
        if (memory.depth == 8 && channel.depth == 8) {
            for (int32_t x = 0; x < width; ++x)
                to[x] = from[x * step];
            continue;
        }
        for (int32_t x = 0; x < width; ++x)
            to[x] = Load(memory, from + x * step, channel.depth);
    }
    return noErr;
}

void Pyramid::Build(const RasterView &base, int32_t minimumSize, int32_t maxLevels)
{
    BuildLevels(base, minimumSize, maxLevels, [](int32_t rows, const std::function<void(int32_t, int32_t)> &reduce) {
        reduce(0, rows);
    });
}

void Pyramid::Build(const RasterView &base, int32_t minimumSize, const RowBands &bands)
{
    BuildLevels(base, minimumSize, std::numeric_limits<int32_t>::max(), bands);
}

void Pyramid::BuildLevels(const RasterView &base, int32_t minimumSize, int32_t maxLevels, const RowBands &bands)
{
    base_ = base;
    levels_.clear();
    RasterView below = base;
    while ((below.Width() > minimumSize || below.Height() > minimumSize) && int32_t(levels_.size()) < maxLevels) {
        const int32_t w = (below.Width() + 1) / 2, h = (below.Height() + 1) / 2;
        Raster level(VRect{0, 0, h, w}, base.depth);
        const RasterView to = level.View();
        bands(h, [&](int32_t begin, int32_t end) { ReduceRows(below, to, begin, end); });
        levels_.push_back(std::move(level));
        below = levels_.back().View();
    }
}

void Pyramid::ReduceRows(const RasterView &below, const RasterView &level, int32_t rowBegin, int32_t rowEnd)
{
    const int32_t w = level.Width();
    rowBegin = std::max(rowBegin, 0);
    rowEnd = std::min(rowEnd, level.Height());
    // Whole 2 x 2 blocks straight from the rows; the odd last column
    // and row, averaged over what there is, below.
    const int32_t fullW = below.Width() / 2, fullH = below.Height() / 2;
    const size_t belowW = size_t(below.Width());
    for (int32_t y = rowBegin; y < std::min(rowEnd, fullH); ++y) {
        const uint16_t *r0 = below.data + size_t(2 * y) * belowW, *r1 = r0 + belowW;
        uint16_t *out = level.data + size_t(y) * size_t(w);
        for (int32_t x = 0; x < fullW; ++x)
            out[x] = uint16_t((uint32_t(r0[2 * x]) + r0[2 * x + 1] + r1[2 * x] + r1[2 * x + 1] + 2) / 4);
    }
    for (int32_t y = rowBegin; y < rowEnd; ++y)
        for (int32_t x = y < fullH ? fullW : 0; x < w; ++x) {
            uint32_t sum = 0, n = 0;
            for (int32_t dy = 0; dy < 2; ++dy)
                for (int32_t dx = 0; dx < 2; ++dx) {
                    const int32_t sx = 2 * x + dx, sy = 2 * y + dy;
                    if (sx < below.Width() && sy < below.Height()) {
                        sum += below.At(below.bounds.left + sx, below.bounds.top + sy);
                        ++n;
                    }
                }
            level.data[size_t(y) * size_t(w) + size_t(x)] = uint16_t((sum + n / 2) / n);
        }
}

RasterView Pyramid::Level(int32_t level) const
{
    if (level <= 0)
        return base_;
    const Raster &r = levels_[size_t(level - 1)];
    return RasterView{const_cast<uint16_t *>(r.samples.data()), r.bounds, r.depth};
}

int32_t PyramidLevelCount(int32_t width, int32_t height)
{
    int32_t count = 1;
    while (width > 1 || height > 1) {
        width = (width + 1) / 2;
        height = (height + 1) / 2;
        ++count;
    }
    return count;
}

int32_t ScaledReadLevel(const PSScaling &scaling, int32_t levelCount)
{
    const VRect &src = scaling.sourceRect, &dst = scaling.destinationRect;
    const int64_t sw = int64_t(src.right) - src.left, sh = int64_t(src.bottom) - src.top;
    const int64_t dw = int64_t(dst.right) - dst.left, dh = int64_t(dst.bottom) - dst.top;
    if (sw <= 0 || sh <= 0 || dw <= 0 || dh <= 0)
        return -1;
    int32_t level = 0;
    while (level + 1 < levelCount && (int64_t(2) << level) <= sw / dw && (int64_t(2) << level) <= sh / dh)
        ++level;
    return level;
}

namespace {

// The half-open span of level samples that destination column (or row) d
// covers: from .. to in destination coordinates, the scaling's start and
// size on the destination and source sides, the base's origin, and the
// level's size on this axis.
struct ScaledAxis {
    int32_t dstStart;
    int64_t dstSize;
    int32_t srcStart;
    int64_t srcSize;
    int32_t baseStart;
    int32_t levelSize;
    int32_t level;

    std::pair<int32_t, int32_t> Span(int32_t d) const
    {
        int64_t s0 = srcStart + (int64_t(d) - dstStart) * srcSize / dstSize - baseStart;
        int64_t s1 = srcStart + (int64_t(d) - dstStart + 1) * srcSize / dstSize - baseStart;
        if (s1 <= s0)
            s1 = s0 + 1;
        int64_t l0 = s0 >> level, l1 = (s1 + (int64_t(1) << level) - 1) >> level;
        l0 = std::max<int64_t>(0, std::min<int64_t>(l0, levelSize));
        l1 = std::max<int64_t>(l0, std::min<int64_t>(l1, levelSize));
        return {int32_t(l0), int32_t(l1)};
    }
};

ScaledAxis ColumnAxis(const PSScaling &scaling, int32_t level, int32_t baseLeft, int32_t levelWidth)
{
    const VRect &src = scaling.sourceRect, &dst = scaling.destinationRect;
    return ScaledAxis{dst.left, int64_t(dst.right) - dst.left, src.left, int64_t(src.right) - src.left,
                      baseLeft, levelWidth, level};
}

ScaledAxis RowAxis(const PSScaling &scaling, int32_t level, int32_t baseTop, int32_t levelHeight)
{
    const VRect &src = scaling.sourceRect, &dst = scaling.destinationRect;
    return ScaledAxis{dst.top, int64_t(dst.bottom) - dst.top, src.top, int64_t(src.bottom) - src.top,
                      baseTop, levelHeight, level};
}

int32_t LevelSize(int32_t size, int32_t level)
{
    for (int32_t i = 0; i < level; ++i)
        size = (size + 1) / 2;
    return size;
}

} // namespace

VRect ScaledReadFootprint(const PSScaling &scaling, const VRect &readRect, int32_t level, VPoint baseOrigin,
                          int32_t baseWidth, int32_t baseHeight)
{
    const VRect r = Intersect(readRect, scaling.destinationRect);
    if (IsEmpty(r) || level < 0)
        return VRect{0, 0, 0, 0};
    const ScaledAxis columns = ColumnAxis(scaling, level, baseOrigin.h, LevelSize(baseWidth, level));
    const ScaledAxis rows = RowAxis(scaling, level, baseOrigin.v, LevelSize(baseHeight, level));
    // Spans grow with d, so the first and last destination pixels bound them.
    const VRect footprint{rows.Span(r.top).first, columns.Span(r.left).first, rows.Span(r.bottom - 1).second,
                          columns.Span(r.right - 1).second};
    return IsEmpty(footprint) ? VRect{0, 0, 0, 0} : footprint;
}

SPErr ReadScaledFromLevel(const RasterView &samples, int32_t level, VPoint baseOrigin, int32_t levelWidth,
                          int32_t levelHeight, VRect *readRect, const PSScaling &scaling,
                          const PixelMemoryDesc &memory)
{
    if (readRect == nullptr)
        return paramErr;
    if (const SPErr e = CheckMemory(memory))
        return e;
    if (level < 0)
        return paramErr;
    const VRect requested = *readRect;
    const VRect r = Intersect(requested, scaling.destinationRect);
    *readRect = r;

    // Each destination column and row covers a half-open span of source
    // pixels, in the level's coordinates.
    const ScaledAxis columnAxis = ColumnAxis(scaling, level, baseOrigin.h, levelWidth);
    const ScaledAxis rowAxis = RowAxis(scaling, level, baseOrigin.v, levelHeight);
    std::vector<std::pair<int32_t, int32_t>> columns, rows;
    for (int32_t d = r.left; d < r.right; ++d)
        columns.push_back(columnAxis.Span(d));
    for (int32_t d = r.top; d < r.bottom; ++d)
        rows.push_back(rowAxis.Span(d));

    for (size_t j = 0; j < rows.size(); ++j)
        for (size_t i = 0; i < columns.size(); ++i) {
            uint64_t sum = 0, n = 0;
            for (int32_t y = rows[j].first; y < rows[j].second; ++y)
                for (int32_t x = columns[i].first; x < columns[i].second; ++x) {
                    sum += samples.At(x, y);
                    ++n;
                }
            const uint32_t v = n != 0 ? uint32_t((sum + n / 2) / n) : 0;
            Store(memory, Address(memory, int64_t(r.top) - requested.top + int64_t(j),
                                  int64_t(r.left) - requested.left + int64_t(i)),
                  v, samples.depth);
        }
    return noErr;
}

SPErr ReadScaledToMemory(const Pyramid &pyramid, VRect *readRect, const PSScaling &scaling,
                         const PixelMemoryDesc &memory)
{
    if (readRect == nullptr)
        return paramErr;
    if (const SPErr e = CheckMemory(memory))
        return e;
    const int32_t level = ScaledReadLevel(scaling, pyramid.LevelCount());
    if (level < 0)
        return paramErr;
    const RasterView base = pyramid.Level(0);
    const VPoint origin{base.bounds.top, base.bounds.left};
    RasterView source = pyramid.Level(level);
    // Level 0 is addressed in the base's own coordinates; the reduced levels
    // start at 0, 0: both become coordinates from the base's origin.
    if (level == 0)
        source = RasterView{base.data, VRect{0, 0, base.Height(), base.Width()}, base.depth};
    return ReadScaledFromLevel(source, level, origin, source.Width(), source.Height(), readRect, scaling, memory);
}
