// The whole-image run: the filter rectangle in the host's output tiles, each
// delivered by advanceState and rendered from its input into its output.
#include <cstring>

#include "engine/TileGrid.h"
#include "plugin/FilterContext.h"
#include "settings/RegistryKey.h"

int32_t FilterContext::AllocTileMask(int32_t size)
{
    // Success is the allocation's own: the result code may hold what the
    // preview left there.
    if (tileMaskBuffer.Allocate(buffers, size)) {
        tileMask = tileMaskBuffer.Get();
        // Pixels outside a selection keep their mask entries through pass 1;
        // cleared, they bring no stale memory into the first tile's smoothing.
        std::memset(tileMask, 0, size_t(size));
    } else {
        tileMask = nullptr;
        *result = genericErr;
    }
    return *result;
}

int32_t FilterContext::FreeTileMask()
{
    tileMaskBuffer.Free();
    tileMask = nullptr;
    return 0;
}

int32_t FilterContext::ApplyWholeImage()
{
    const int32_t tileHeight = filterRecord->outTileHeight;
    const int32_t tileWidth = filterRecord->outTileWidth;
    if (tileHeight <= 0 || tileWidth <= 0) {
        *result = filterBadParameters;
        return -1;
    }

    DisposePorts();

    const int32_t planes = filterRecord->planes;
    const int32_t maskBytes = engine::TileMaskBytes(filterRecord->depth, tileWidth, tileHeight, planes);
    if (maskBytes == 0) {
        *result = memFullErr;
        return -1;
    }
    AllocTileMask(maskBytes);
    if (tileMask == nullptr)
        return -1;
    // From here the result code is the run's own.
    *result = noErr;

    const Rect bounds = filterRecord->filterRect;
    const engine::TileGrid grid(engine::TileRect{bounds.top, bounds.left, bounds.bottom, bounds.right}, tileWidth,
                                tileHeight);
    const bool sixteenBit = filterRecord->depth == 16;
    for (int32_t index = 0; index < grid.Count(); ++index) {
        const engine::TileRect tile = grid.Tile(index);
        Rect &in = filterRecord->inRect;
        in = Rect{tile.top, tile.left, tile.bottom, tile.right};
        filterRecord->outRect = in;
        if (filterRecord->haveMask)
            filterRecord->maskRect = in;
        filterRecord->inLoPlane = filterRecord->outLoPlane = 0;
        filterRecord->inHiPlane = filterRecord->outHiPlane = int16_t(planes - 1);

        *result = filterRecord->advanceState();
        // A host that reports success without delivering both buffers has
        // failed all the same: nothing can be rendered, nothing is stored.
        if (*result == noErr && (filterRecord->inData == nullptr || filterRecord->outData == nullptr))
            *result = genericErr;
        if (*result != noErr) {
            FreeTileMask();
            return -1;
        }

        RenderBlock(filterRecord->inData, filterRecord->outData, reinterpret_cast<uint8_t *>(tileMask),
                    tile.Width(), tile.Height(), planes, sixteenBit ? 1 : 0);

        if (filterRecord->progressProc != nullptr)
            filterRecord->progressProc(index + 1, grid.Count());
        if (filterRecord->abortProc != nullptr && filterRecord->abortProc()) {
            *result = 1;
            break;
        }
    }

    FreeTileMask();
    DisposePorts();

    RegistryKey key(kRegistryPath);
    key.WriteFloat(kLastBias, settings.bias);
    key.WriteFloat(kLastGamma, settings.gamma);
    key.WriteFloat(kLastContrast, settings.contrast);
    key.Close();
    return *result;
}
