// The whole-image run: the filter rectangle in the host's output tiles, each
// delivered by advanceState and rendered from its input into its output.
#include <cstring>

#include "plugin/FilterContext.h"
#include "settings/RegistryKey.h"

int32_t FilterContext::AllocTileMask(int32_t size)
{
    tileMask = buffers->New(nullptr, uint32_t(size));
    if (tileMask == nullptr)
        *result = genericErr;
    else
        // Pixels outside a selection keep their mask entries through pass 1;
        // cleared, they bring no stale memory into the first tile's smoothing.
        std::memset(tileMask, 0, size_t(size));
    return *result;
}

int32_t FilterContext::FreeTileMask()
{
    buffers->Dispose(&tileMask);
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

    // Sized in 64 bits: a buffer larger than the suite can hand out is
    // refused rather than wrapped around.
    const int32_t planes = filterRecord->planes;
    const int64_t maskBytes = int64_t(filterRecord->depth) * tileHeight * tileWidth * planes / 8;
    if (maskBytes <= 0 || maskBytes > INT32_MAX || maskBytes < int64_t(tileHeight) * tileWidth * 3) {
        *result = memFullErr;
        return -1;
    }
    if (AllocTileMask(int32_t(maskBytes)) != 0)
        return -1;

    const Rect bounds = filterRecord->filterRect;
    const int32_t width = bounds.right - bounds.left;
    const int32_t height = bounds.bottom - bounds.top;
    const int32_t columns = width > 0 ? (width + tileWidth - 1) / tileWidth : 0;
    const int32_t rows = height > 0 ? (height + tileHeight - 1) / tileHeight : 0;
    const int32_t total = rows * columns;
    const bool sixteenBit = filterRecord->depth == 16;

    int32_t done = 0;
    bool cancelled = false;
    for (int32_t row = 0; row < rows && !cancelled; ++row) {
        for (int32_t column = 0; column < columns; ++column) {
            Rect &in = filterRecord->inRect;
            in.left = int16_t(bounds.left + column * tileWidth);
            in.right = int16_t(in.left + tileWidth < bounds.right ? in.left + tileWidth : bounds.right);
            in.top = int16_t(bounds.top + row * tileHeight);
            in.bottom = int16_t(in.top + tileHeight < bounds.bottom ? in.top + tileHeight : bounds.bottom);
            filterRecord->outRect = in;
            if (filterRecord->haveMask)
                filterRecord->maskRect = in;
            filterRecord->inLoPlane = filterRecord->outLoPlane = 0;
            filterRecord->inHiPlane = filterRecord->outHiPlane = int16_t(planes - 1);

            *result = filterRecord->advanceState();
            if (*result != noErr) {
                FreeTileMask();
                return -1;
            }

            RenderBlock(filterRecord->inData, filterRecord->outData, reinterpret_cast<uint8_t *>(tileMask),
                        in.right - in.left, in.bottom - in.top, planes, sixteenBit ? 1 : 0);

            ++done;
            filterRecord->progressProc(done, total);
            if (filterRecord->abortProc()) {
                *result = 1;
                cancelled = true;
                break;
            }
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
