// The emulated host's document: a flat image of one or more planes in the
// host's sample range (0..255 at depth 8, 0..32768 at depth 16).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "plugin/HostInterface.h"

struct Document {
    int32_t width = 0;
    int32_t height = 0;
    int16_t mode = plugInModeRGBColor;
    int32_t depth = 8;
    // One vector per plane, row-major, width * height samples.
    std::vector<std::vector<uint16_t>> planes;
    // True when the last plane is the layer's transparency.
    bool hasTransparency = false;
    // The user's selection, one byte per pixel (255 fully selected), or
    // empty when nothing is selected.
    std::vector<uint8_t> selection;

    int32_t PlaneCount() const { return int32_t(planes.size()); }
    int32_t MaxSample() const { return depth == 16 ? kHost16BitMax : 255; }
    uint16_t &At(int32_t plane, int32_t x, int32_t y)
    {
        return planes[size_t(plane)][size_t(y) * size_t(width) + size_t(x)];
    }
    uint16_t At(int32_t plane, int32_t x, int32_t y) const
    {
        return planes[size_t(plane)][size_t(y) * size_t(width) + size_t(x)];
    }
};

// A document of the given shape, every sample 0.
Document MakeDocument(int32_t width, int32_t height, int32_t planeCount, int32_t depth,
                      int16_t mode);

// Fills the planes with a deterministic pattern with dark and bright parts.
void FillTestPattern(Document *document, uint32_t seed);

// The mode's name as the host interface spells it ("RGBMode", ...).
const char *ImageModeName(int16_t mode);

// Conversions between a file's 16-bit range and the host's.
inline uint16_t FileToHost16(uint16_t v)
{
    return uint16_t((uint32_t(v) * 32768u + 32767u) / 65535u);
}
inline uint16_t HostToFile16(uint16_t v)
{
    const uint32_t doubled = uint32_t(v) * 2u;
    return uint16_t(doubled > 65535u ? 65535u : doubled);
}
