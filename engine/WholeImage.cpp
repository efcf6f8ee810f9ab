// The whole-image run: the filter rectangle in the host's output tiles, each
// delivered by advanceState and rendered from its input into its output.
#include <algorithm>
#include <cstring>

#include "engine/TileGrid.h"
#include "plugin/FilterContext.h"
#include "settings/RegistryKey.h"

namespace {

// The tiles the module asks for where the host states no size.
const int32_t kOwnTileSize = 1024;

} // namespace

int32_t FilterContext::AllocTileMask(int32_t size)
{
    // Success is the allocation's own: the result code may hold what the
    // preview left there.
    if (tileMaskBuffer.Allocate(services.memory, size)) {
        tileMask = tileMaskBuffer.Get();
        // Pixels outside a selection keep their mask entries through pass 1;
        // cleared, they bring no stale memory into the first tile's smoothing.
        std::memset(tileMask, 0, size_t(size));
    } else {
        tileMask = nullptr;
        Fail(Failure::OutOfMemory, genericErr);
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
    const Rect bounds = filterRecord->filterRect;
    int32_t tileHeight = filterRecord->outTileHeight;
    int32_t tileWidth = filterRecord->outTileWidth;
    if (services.lastOutputOnly) {
        // A host that keeps only the output it delivered last gets the whole
        // filter rectangle in one request.
        tileWidth = std::max(1, bounds.right - bounds.left);
        tileHeight = std::max(1, bounds.bottom - bounds.top);
    } else if (tileHeight <= 0 || tileWidth <= 0) {
        // Where the module smooths the mask itself no port limits the
        // tiles, and a host that states no size of its own (or a negative
        // one) gets tiles of a size that suits the module.
        if (services.smoothing == HostServices::Smoothing::HostFilters) {
            *result = filterBadParameters;
            return -1;
        }
        tileWidth = tileHeight = kOwnTileSize;
    }

    DisposePorts();

    // A host that cached the preview's request by its rectangle would hand
    // the preview's data back for the first tile: an empty request comes
    // first.
    if (deliveredForPreview) {
        filterRecord->inRect = filterRecord->outRect = filterRecord->maskRect = Rect();
        filterRecord->advanceState();
        deliveredForPreview = false;
    }

    // Red, green and blue are asked for, in and out, interleaved three
    // samples a pixel: a document's transparency, after them, is neither
    // read nor written, and stays as it is. (A column step the host states
    // for them is not needed, and some hosts state it wrong.)
    const int32_t planes = 3;
    const int32_t maskBytes = engine::TileMaskBytes(DocumentDepth(), tileWidth, tileHeight, planes);
    if (maskBytes == 0) {
        *result = memFullErr;
        return -1;
    }
    AllocTileMask(maskBytes);
    if (tileMask == nullptr)
        return -1;
    // From here the result code is the run's own.
    *result = noErr;

    const engine::TileGrid grid(engine::TileRect{bounds.top, bounds.left, bounds.bottom, bounds.right}, tileWidth,
                                tileHeight);
    const bool sixteenBit = DocumentDepth() == 16;
    for (int32_t index = 0; index < grid.Count(); ++index) {
        const engine::TileRect tile = grid.Tile(index);
        Rect &in = filterRecord->inRect;
        in = Rect{tile.top, tile.left, tile.bottom, tile.right};
        filterRecord->outRect = in;
        if (filterRecord->haveMask)
            filterRecord->maskRect = in;
        filterRecord->inLoPlane = filterRecord->outLoPlane = 0;
        filterRecord->inHiPlane = filterRecord->outHiPlane = int16_t(planes - 1);
        // Every pixel: a host that samples the input at the record's rate
        // would otherwise deliver a reduced tile.
        filterRecord->inputRate = 1 << 16;

        *result = filterRecord->advanceState();
        // A host that reports success without delivering both buffers has
        // failed all the same: nothing can be rendered, nothing is stored.
        if (*result != noErr)
            failure = Failure::HostError;
        else if (filterRecord->inData == nullptr || filterRecord->outData == nullptr)
            Fail(Failure::NothingDelivered, genericErr);
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
