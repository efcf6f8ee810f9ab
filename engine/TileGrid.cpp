#include "engine/TileGrid.h"

namespace engine {

namespace {

int32_t TilesAcross(int32_t length, int32_t tile)
{
    return length > 0 && tile > 0 ? int32_t((int64_t(length) + tile - 1) / tile) : 0;
}

int16_t ClippedEnd(int32_t start, int32_t length, int32_t limit)
{
    const int64_t end = int64_t(start) + length;
    return int16_t(end < limit ? end : limit);
}

} // namespace

TileGrid::TileGrid(const TileRect &bounds, int32_t tileWidth, int32_t tileHeight)
    : bounds_(bounds), tileWidth_(tileWidth), tileHeight_(tileHeight)
{
    columns_ = TilesAcross(bounds.Width(), tileWidth);
    rows_ = TilesAcross(bounds.Height(), tileHeight);
}

TileRect TileGrid::Tile(int32_t index) const
{
    TileRect tile;
    if (index < 0 || index >= Count())
        return tile;
    const int32_t row = index / columns_, column = index % columns_;
    // Every corner lies inside the rectangle, so it fits the 16-bit
    // coordinates the rectangle has.
    const int32_t left = bounds_.left + column * tileWidth_;
    const int32_t top = bounds_.top + row * tileHeight_;
    tile.left = int16_t(left);
    tile.top = int16_t(top);
    tile.right = ClippedEnd(left, tileWidth_, bounds_.right);
    tile.bottom = ClippedEnd(top, tileHeight_, bounds_.bottom);
    return tile;
}

int32_t TileMaskBytes(int32_t depth, int32_t tileWidth, int32_t tileHeight, int32_t planes)
{
    if (depth <= 0 || tileWidth <= 0 || tileHeight <= 0 || planes <= 0)
        return 0;
    const int64_t pixels = int64_t(tileHeight) * tileWidth;
    const int64_t bitsPerPixel = int64_t(depth) * planes;
    if (pixels > (int64_t(INT32_MAX) * 8 + 7) / bitsPerPixel)
        return 0;
    const int64_t bytes = pixels * bitsPerPixel / 8;
    if (bytes > INT32_MAX || bytes < pixels * 3)
        return 0;
    return int32_t(bytes);
}

} // namespace engine
