// The preview in a host that reads nothing scaled for the plug-in and draws
// nothing for it: the document read through advanceState in bands of rows,
// reduced to the preview's scale as the host's scaled reads reduce, and the
// preview drawn by the module itself.
#include <windows.h>

#include "plugin/FilterContext.h"

bool FilterContext::ReadDelivered(const Rect &sourceRect, const Rect &destinationRect, uint8_t *buffer,
                                  uint8_t *alpha)
{
    FilterRecord &record = *filterRecord;
    const Rect bounds = record.filterRect;
    const int32_t width = bounds.right - bounds.left, height = bounds.bottom - bounds.top;
    const PSScaling scaling = {{sourceRect.top, sourceRect.left, sourceRect.bottom, sourceRect.right},
                               {destinationRect.top, destinationRect.left, destinationRect.bottom,
                                destinationRect.right}};
    const int32_t depth = DocumentDepth();
    // The transparency comes in the same request as the colour: a host that
    // refetches only for another rectangle would hand the colour's pixels
    // back for a request of the transparency alone.
    const int32_t planes = alpha != nullptr ? 4 : 3;
    if (!deliveredRead.Plan(width, height, depth, scaling, scaling.destinationRect, int64_t(1) << 20, planes))
        return false;

    // All the planes in each request (hosts differ in what they deliver
    // for one plane at a time, or for planes that do not start at 0), every
    // pixel (a rate above 1 would make the preview alias), nothing written
    // back.
    const VRect region = deliveredRead.Region();
    const int32_t sampleBytes = depth == 16 ? 2 : 1;
    bool delivered = true;
    deliveredForPreview = true;
    for (int32_t top = region.top; top < region.bottom && delivered; top += deliveredRead.BandRows()) {
        const int32_t bottom = std::min(top + deliveredRead.BandRows(), region.bottom);
        record.inRect = Rect{int16_t(bounds.top + top), int16_t(bounds.left + region.left),
                             int16_t(bounds.top + bottom), int16_t(bounds.left + region.right)};
        record.outRect = Rect();
        record.maskRect = Rect();
        record.inLoPlane = 0;
        record.inHiPlane = int16_t(planes - 1);
        record.outLoPlane = 0;
        record.outHiPlane = 2;
        record.inputRate = 1 << 16;
        const OSErr answer = record.advanceState();
        // A row step of 0 means packed rows, as it does for the tiles.
        const int32_t packed = (region.right - region.left) * planes * sampleBytes;
        const int32_t rowBytes = record.inRowBytes != 0 ? record.inRowBytes : packed;
        if (answer != noErr || record.inData == nullptr || rowBytes < packed) {
            delivered = false;
            break;
        }
        deliveredRead.AddBand(top, bottom - top, record.inData, rowBytes, planes);
    }
    record.inRect = Rect();

    if (delivered) {
        const VRect destination = scaling.destinationRect;
        const int32_t destinationWidth = destination.right - destination.left;
        PixelMemoryDesc memory = {buffer, destinationWidth * 3 * 8, 3 * 8, 0, 8};
        for (int32_t plane = 0; plane < planes; ++plane) {
            VRect area = destination;
            if (plane == 3)
                memory = PixelMemoryDesc{alpha, destinationWidth * 8, 8, 0, 8};
            else
                memory.bitOffset = 8 * plane;
            if (deliveredRead.Read(plane, &area, memory) != noErr)
                delivered = false;
        }
    }
    deliveredRead.Clear();
    if (!delivered) {
        *result = genericErr;
        MessageBeep(0xFFFFFFFF);
    }
    return delivered;
}

void FilterContext::DrawPreview(HDC dc, const uint8_t *pixels, int32_t columnBytes, int32_t x, int32_t y,
                                int32_t width, int32_t height)
{
    // A top-down bitmap: rows in order, each padded to 4 bytes, in blue,
    // green, red order.
    const size_t stride = (size_t(width) * 3 + 3) & ~size_t(3);
    if (dc == nullptr || pixels == nullptr || width <= 0 || height <= 0 ||
        drawBits.size() < stride * size_t(height))
        return;
    for (int32_t row = 0; row < height; ++row) {
        const uint8_t *from = pixels + size_t(row) * size_t(width) * size_t(columnBytes);
        uint8_t *to = drawBits.data() + size_t(row) * stride;
        for (int32_t column = 0; column < width; ++column, from += columnBytes, to += 3) {
            to[0] = from[2];
            to[1] = from[1];
            to[2] = from[0];
        }
    }
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    info.bmiHeader.biCompression = BI_RGB;
    SetDIBitsToDevice(dc, x, y, DWORD(width), DWORD(height), 0, 0, 0, UINT(height), drawBits.data(), &info,
                      DIB_RGB_COLORS);
}
