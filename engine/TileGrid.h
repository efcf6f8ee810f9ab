// The whole-image run's tiles: the filter rectangle cut into the host's
// output tile size, row by row, and the size of the one mask buffer that
// serves every tile. Pure arithmetic: no host, no platform.
#pragma once

#include <cstdint>

namespace engine {

// A rectangle in the host's 16-bit document coordinates.
struct TileRect {
    int16_t top = 0, left = 0, bottom = 0, right = 0;
    int32_t Width() const { return right - left; }
    int32_t Height() const { return bottom - top; }
};

class TileGrid {
public:
    // A grid over the rectangle; empty (no tiles) when the rectangle is
    // empty or inverted. Tile sides must be positive (see Valid).
    TileGrid(const TileRect &bounds, int32_t tileWidth, int32_t tileHeight);

    bool Valid() const { return tileWidth_ > 0 && tileHeight_ > 0; }
    int32_t Rows() const { return rows_; }
    int32_t Columns() const { return columns_; }
    int32_t Count() const { return rows_ * columns_; }

    // Tile `index` in row-major order (0 .. Count() - 1): its top-left corner
    // moved by whole tiles from the rectangle's, its bottom and right edges
    // clipped to the rectangle.
    TileRect Tile(int32_t index) const;

private:
    TileRect bounds_;
    int32_t tileWidth_, tileHeight_;
    int32_t rows_ = 0, columns_ = 0;
};

// The bytes of the run's mask buffer: depth x tile height x tile width x
// planes / 8, the host's sizing for a tile's samples. 0 when that is not a
// size the buffer suite can hand out (over 2^31 - 1 bytes, not positive) or
// leaves less than the 3 bytes per pixel that the mask takes.
int32_t TileMaskBytes(int32_t depth, int32_t tileWidth, int32_t tileHeight, int32_t planes);

} // namespace engine
