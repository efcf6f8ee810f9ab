#include "host/session/PixelMapDrawing.h"

#include <vector>

#include "host/session/FilterHost.h"

namespace {

extern "C" OSErr PI_CDECL HostDisplayPixels(const PSPixelMap *source, const VRect *srcRect, int32_t dstRow,
                                             int32_t dstCol, void *platformContext)
{
    FilterHost *host = FilterHost::Active();
    if (host == nullptr || source == nullptr || srcRect == nullptr)
        return paramErr;
    return host->drawing.Draw(*source, *srcRect, dstRow, dstCol, static_cast<HDC>(platformContext));
}

} // namespace

void PixelMapDrawing::Serve(FilterRecord &record)
{
    record.displayPixels = host_.behaviour.missingEntry == "displayPixels" ? nullptr : HostDisplayPixels;
}

OSErr PixelMapDrawing::Draw(const PSPixelMap &source, const VRect &srcRect, int32_t dstRow, int32_t dstCol, HDC dc)
{
    FilterHost::Stopwatch stopwatch(&host_.timing.display);
    DisplayedImage image;
    std::string error;
    // A host that ignores the source rectangle's origin reads a rectangle
    // of its size from the map's first row and column.
    VRect read = srcRect;
    if (host_.Services().displayIgnoresOrigin) {
        read = VRect{source.bounds.top, source.bounds.left, source.bounds.top + (srcRect.bottom - srcRect.top),
                     source.bounds.left + (srcRect.right - srcRect.left)};
        if (read.top != srcRect.top || read.left != srcRect.left)
            host_.Log(EventKind::Window, "displayPixels drew from the map's origin, not from (" +
                                             std::to_string(srcRect.top) + "," + std::to_string(srcRect.left) + ")");
    }
    // A host that takes a pixel to be as many bytes as the document has
    // planes, whatever the map says.
    PSPixelMap map = source;
    const int16_t planes = host_.Record().planes;
    if (host_.Services().displayReadsDocumentPlanes && map.colBytes != planes) {
        host_.Log(EventKind::Window, "displayPixels read " + std::to_string(planes) + " bytes a pixel of a map of " +
                                         std::to_string(map.colBytes));
        map.colBytes = planes;
    }
    if (!ReadPixelMap(map, read, &image, &error)) {
        host_.Log(EventKind::Failure, "displayPixels: " + error);
        return paramErr;
    }
    // A top-down DIB takes the rows in order, each padded to 4 bytes and in
    // blue, green, red order.
    const int32_t stride = (image.width * 3 + 3) & ~3;
    std::vector<uint8_t> bits(size_t(stride) * size_t(image.height));
    for (int32_t y = 0; y < image.height; ++y)
        for (int32_t x = 0; x < image.width; ++x) {
            const uint8_t *from = &image.rgb[(size_t(y) * size_t(image.width) + size_t(x)) * 3];
            uint8_t *to = &bits[size_t(y) * size_t(stride) + size_t(x) * 3];
            to[0] = from[2];
            to[1] = from[1];
            to[2] = from[0];
        }
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = image.width;
    info.bmiHeader.biHeight = -image.height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    info.bmiHeader.biCompression = BI_RGB;
    if (dc != nullptr && image.width > 0 && image.height > 0)
        SetDIBitsToDevice(dc, dstCol, dstRow, DWORD(image.width), DWORD(image.height), 0, 0, 0, UINT(image.height),
                          bits.data(), &info, DIB_RGB_COLORS);
    ++displayCount;
    lastDisplay = Display{dstRow, dstCol, std::move(image)};
    return noErr;
}
