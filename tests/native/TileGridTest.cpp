#include <gtest/gtest.h>

#include <vector>

#include "engine/TileGrid.h"

using engine::TileGrid;
using engine::TileMaskBytes;
using engine::TileRect;

namespace {

TileRect R(int top, int left, int bottom, int right)
{
    TileRect r;
    r.top = int16_t(top), r.left = int16_t(left), r.bottom = int16_t(bottom), r.right = int16_t(right);
    return r;
}

// Every pixel of the rectangle lies in exactly one tile.
void ExpectCovers(const TileGrid &grid, const TileRect &bounds)
{
    std::vector<int> hits(size_t(bounds.Width()) * size_t(bounds.Height()), 0);
    for (int32_t i = 0; i < grid.Count(); ++i) {
        const TileRect t = grid.Tile(i);
        ASSERT_GE(t.left, bounds.left);
        ASSERT_LE(t.right, bounds.right);
        ASSERT_GE(t.top, bounds.top);
        ASSERT_LE(t.bottom, bounds.bottom);
        ASSERT_GT(t.Width(), 0);
        ASSERT_GT(t.Height(), 0);
        for (int y = t.top; y < t.bottom; ++y)
            for (int x = t.left; x < t.right; ++x)
                ++hits[size_t(y - bounds.top) * size_t(bounds.Width()) + size_t(x - bounds.left)];
    }
    for (int h : hits)
        ASSERT_EQ(h, 1);
}

} // namespace

TEST(TileGrid, CutsTheRectangleRowByRowWithClippedLastTiles)
{
    const TileGrid grid(R(0, 0, 700, 1000), 256, 256);
    ASSERT_TRUE(grid.Valid());
    EXPECT_EQ(grid.Columns(), 4);
    EXPECT_EQ(grid.Rows(), 3);
    EXPECT_EQ(grid.Count(), 12);
    // Row-major: the second tile is to the right of the first.
    EXPECT_EQ(grid.Tile(1).left, 256);
    EXPECT_EQ(grid.Tile(1).top, 0);
    EXPECT_EQ(grid.Tile(4).left, 0);
    EXPECT_EQ(grid.Tile(4).top, 256);
    EXPECT_EQ(grid.Tile(3).Width(), 232);
    EXPECT_EQ(grid.Tile(11).Height(), 188);
    EXPECT_EQ(grid.Tile(11).right, 1000);
    ExpectCovers(grid, R(0, 0, 700, 1000));

    const TileGrid even(R(0, 0, 512, 1024), 256, 256);
    EXPECT_EQ(even.Count(), 8);
    for (int32_t i = 0; i < even.Count(); ++i) {
        EXPECT_EQ(even.Tile(i).Width(), 256);
        EXPECT_EQ(even.Tile(i).Height(), 256);
    }
}

TEST(TileGrid, SmallOffsetAndThinRectangles)
{
    // Smaller than one tile: one tile of the rectangle's size.
    const TileGrid small(R(10, 20, 90, 140), 256, 256);
    ASSERT_EQ(small.Count(), 1);
    EXPECT_EQ(small.Tile(0).top, 10);
    EXPECT_EQ(small.Tile(0).left, 20);
    EXPECT_EQ(small.Tile(0).bottom, 90);
    EXPECT_EQ(small.Tile(0).right, 140);

    // One pixel wide or high, and a selection's offset rectangle.
    for (const TileRect &r : {R(0, 0, 300, 1), R(0, 0, 1, 300), R(33, 17, 250, 401)}) {
        const TileGrid grid(r, 64, 48);
        ExpectCovers(grid, r);
    }
    EXPECT_EQ(TileGrid(R(0, 0, 300, 1), 64, 48).Count(), 7);
}

TEST(TileGrid, NothingToCutOrNoTileSize)
{
    EXPECT_EQ(TileGrid(R(5, 5, 5, 50), 16, 16).Count(), 0);
    EXPECT_EQ(TileGrid(R(50, 50, 10, 10), 16, 16).Count(), 0);
    EXPECT_FALSE(TileGrid(R(0, 0, 10, 10), 0, 16).Valid());
    EXPECT_FALSE(TileGrid(R(0, 0, 10, 10), 16, -1).Valid());
    EXPECT_EQ(TileGrid(R(0, 0, 10, 10), 0, 16).Count(), 0);
    // Out of range asks give an empty tile rather than reading past the grid.
    const TileGrid grid(R(0, 0, 10, 10), 4, 4);
    EXPECT_EQ(grid.Tile(-1).Width(), 0);
    EXPECT_EQ(grid.Tile(grid.Count()).Width(), 0);
}

TEST(TileGrid, EdgesNearTheCoordinateLimitDoNotWrap)
{
    // The last tile's nominal right edge (32000 + 2 * 512) is past what 16
    // bits hold; it is clipped before it is narrowed.
    const TileRect r = R(32600, 32000, 32767, 32767);
    const TileGrid grid(r, 512, 512);
    EXPECT_EQ(grid.Columns(), 2);
    EXPECT_EQ(grid.Tile(1).right, 32767);
    EXPECT_EQ(grid.Tile(1).bottom, 32767);
    ExpectCovers(grid, r);
}

TEST(TileGrid, MaskBufferSize)
{
    EXPECT_EQ(TileMaskBytes(8, 256, 256, 3), 196608);
    EXPECT_EQ(TileMaskBytes(16, 256, 256, 3), 393216);  // twice the room the mask uses
    EXPECT_EQ(TileMaskBytes(8, 256, 128, 4), 131072);
    // Less than the mask's 3 bytes per pixel, or nothing at all.
    EXPECT_EQ(TileMaskBytes(8, 256, 256, 1), 0);
    EXPECT_EQ(TileMaskBytes(0, 256, 256, 3), 0);
    EXPECT_EQ(TileMaskBytes(8, 0, 256, 3), 0);
    EXPECT_EQ(TileMaskBytes(8, 256, -4, 3), 0);
    // Past what the buffer suite's sizes hold, however large the factors.
    EXPECT_EQ(TileMaskBytes(16, 32767, 32767, 3), 0);
    EXPECT_EQ(TileMaskBytes(INT32_MAX, INT32_MAX, INT32_MAX, INT32_MAX), 0);
    EXPECT_EQ(TileMaskBytes(8, 32767, 21845, 3), 2147385345);
}
