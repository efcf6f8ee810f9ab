#include "engine/BandedScaledRead.h"

#include <algorithm>
#include <cstring>

namespace engine {
namespace {

int32_t ReducedSize(int32_t size, int32_t level)
{
    for (int32_t i = 0; i < level; ++i)
        size = (size + 1) / 2;
    return size;
}

} // namespace

bool BandedScaledRead::Plan(int32_t documentWidth, int32_t documentHeight, int32_t depth,
                            const PSScaling &scaling, const VRect &readRect, int64_t bandSamples, int32_t planes)
{
    Clear();
    if (documentWidth <= 0 || documentHeight <= 0 || planes < 3 || planes > 4)
        return false;
    planes_ = planes;
    scaling_ = scaling;
    depth_ = depth == 16 ? 16 : 8;
    level_ = ScaledReadLevel(scaling, PyramidLevelCount(documentWidth, documentHeight));
    if (level_ < 0)
        return false;
    levelWidth_ = ReducedSize(documentWidth, level_);
    levelHeight_ = ReducedSize(documentHeight, level_);
    footprint_ = ScaledReadFootprint(scaling, readRect, level_, VPoint{0, 0}, documentWidth, documentHeight);
    if (IsEmpty(footprint_))
        return false;
    // The level's samples are averages of whole blocks of 2^level rows and
    // columns, aligned to the document's origin, or of what the document has
    // of them at its right and bottom edges: the region is those blocks.
    const int32_t block = int32_t(1) << level_;
    region_ = VRect{footprint_.top * block, footprint_.left * block,
                    std::min(footprint_.bottom * block, documentHeight),
                    std::min(footprint_.right * block, documentWidth)};
    const int32_t regionWidth = region_.right - region_.left, regionHeight = region_.bottom - region_.top;
    const int64_t rows = std::max<int64_t>(1, bandSamples / regionWidth);
    bandRows_ = int32_t(std::min<int64_t>((rows + block - 1) / block * block, regionHeight));
    bandRows_ = std::max(bandRows_, std::min(block, regionHeight));
    for (int32_t p = 0; p < planes_; ++p)
        reduced_[p] = Raster(footprint_, depth_);
    return true;
}

void BandedScaledRead::AddBand(int32_t top, int32_t rows, const void *data, int32_t rowBytes, int32_t planes)
{
    if (data == nullptr || rows <= 0 || planes < planes_ || top < region_.top || top + rows > region_.bottom)
        return;
    const int32_t width = region_.right - region_.left;
    const VRect bounds{top, region_.left, top + rows, region_.right};
    if (band_.samples.size() < size_t(width) * size_t(rows))
        band_.samples.resize(size_t(width) * size_t(rows));
    band_.bounds = bounds;
    band_.depth = depth_;
    const RasterView band{band_.samples.data(), bounds, depth_};
    for (int32_t p = 0; p < planes_; ++p) {
        for (int32_t y = 0; y < rows; ++y) {
            const uint8_t *row = static_cast<const uint8_t *>(data) + int64_t(y) * rowBytes;
            uint16_t *to = &band.At(region_.left, top + y);
            if (depth_ == 16) {
                for (int32_t x = 0; x < width; ++x) {
                    uint16_t v;
                    std::memcpy(&v, row + (int64_t(x) * planes + p) * 2, sizeof v);
                    to[x] = v;
                }
            } else {
                for (int32_t x = 0; x < width; ++x)
                    to[x] = row[int64_t(x) * planes + p];
            }
        }
        // The band's rows at the chosen level: its top is on a block
        // boundary, so its blocks are the document's.
        Pyramid levels;
        RasterView reduced = band;
        if (level_ > 0) {
            // Every level up to the chosen one, even where the band is
            // already down to one sample (a band of a narrow region at the
            // document's edge): a single sample reduces to itself.
            levels.Build(band, 0, level_);
            reduced = levels.Level(level_);
        }
        const int32_t levelTop = top >> level_;
        RasterView into = reduced_[p].View();
        for (int32_t y = 0; y < reduced.Height(); ++y) {
            const int32_t at = levelTop + y;
            if (at < footprint_.top || at >= footprint_.bottom)
                continue;
            const uint16_t *from = reduced.data + size_t(y) * size_t(reduced.Width());
            const int32_t columns = std::min(reduced.Width(), footprint_.right - footprint_.left);
            std::copy(from, from + columns, &into.At(footprint_.left, at));
        }
    }
}

SPErr BandedScaledRead::Read(int32_t plane, VRect *readRect, const PixelMemoryDesc &memory) const
{
    if (plane < 0 || plane >= planes_ || IsEmpty(footprint_))
        return paramErr;
    Raster &samples = const_cast<Raster &>(reduced_[plane]);
    return ReadScaledFromLevel(samples.View(), level_, VPoint{0, 0}, levelWidth_, levelHeight_, readRect, scaling_,
                               memory);
}

void BandedScaledRead::Clear()
{
    for (Raster &plane : reduced_)
        plane = Raster();
    band_ = Raster();
    footprint_ = region_ = VRect{};
    bandRows_ = 0;
    planes_ = 3;
}

} // namespace engine
