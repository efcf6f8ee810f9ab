// Drawing the plug-in's pixel maps: the record's displayPixels, which
// converts a pixel map to a device-independent bitmap and draws it on the
// device context the plug-in names (its preview), keeping what it drew last.
// A plain host reads the source rectangle from the map's origin, whatever
// origin the rectangle has.
#pragma once

#include <windows.h>

#include "host/core/PixelMapImage.h"
#include "plugin/HostInterface.h"

class FilterHost;

class PixelMapDrawing {
public:
    explicit PixelMapDrawing(FilterHost &host) : host_(host) {}
    PixelMapDrawing(const PixelMapDrawing &) = delete;
    PixelMapDrawing &operator=(const PixelMapDrawing &) = delete;

    // Puts displayPixels into the record, unless the host's behaviour takes
    // it away.
    void Serve(FilterRecord &record);

    OSErr Draw(const PSPixelMap &source, const VRect &srcRect, int32_t dstRow, int32_t dstCol, HDC dc);

    struct Display {
        int32_t row = 0, column = 0;  // where, in the device context's coordinates
        DisplayedImage image;
    };
    Display lastDisplay;
    int displayCount = 0;

private:
    FilterHost &host_;
};
