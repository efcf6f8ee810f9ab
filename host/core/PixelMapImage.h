// What a host's displayPixels shows of a plug-in's pixel map: the source
// rectangle read through the map's row, column and plane steps as 8-bit RGB,
// with a mask description shown as transparency over a checkerboard.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "plugin/HostInterface.h"

struct DisplayedImage {
    int32_t width = 0, height = 0;
    std::vector<uint8_t> rgb;  // top row first, 3 bytes a pixel
    bool masked = false;
};

// False with a reason for a map a host cannot show (no pixels, a mode other
// than RGB or grayscale, a source outside the bounds, steps that do not fit).
bool ReadPixelMap(const PSPixelMap &map, const VRect &source, DisplayedImage *image, std::string *error);
