#include "host/core/PixelMapImage.h"

#include "host/core/ByteReading.h"

namespace {

using binary::Fail;

// The light and dark squares hosts draw behind transparent pixels.
uint8_t Checker(int32_t x, int32_t y)
{
    return ((x / 8 + y / 8) & 1) != 0 ? 204 : 255;
}

} // namespace

bool ReadPixelMap(const PSPixelMap &map, const VRect &source, DisplayedImage *image, std::string *error)
{
    *image = DisplayedImage();
    if (map.version < 1 || map.baseAddr == nullptr)
        return Fail(error, "no pixels");
    int32_t planes = 0;
    if (map.imageMode == plugInModeRGBColor)
        planes = 3;
    else if (map.imageMode == plugInModeGrayScale)
        planes = 1;
    else
        return Fail(error, "an image mode this host does not draw");
    if (source.top < map.bounds.top || source.left < map.bounds.left || source.bottom > map.bounds.bottom ||
        source.right > map.bounds.right || source.bottom < source.top || source.right < source.left)
        return Fail(error, "a source rectangle outside the map's bounds");
    if (map.colBytes <= 0 || map.planeBytes < 0 || map.rowBytes < int64_t(map.colBytes) * (map.bounds.right - map.bounds.left))
        return Fail(error, "row, column or plane steps that do not fit the bounds");

    image->width = source.right - source.left;
    image->height = source.bottom - source.top;
    image->rgb.resize(size_t(image->width) * size_t(image->height) * 3);
    const PSPixelMask *mask = map.masks;
    image->masked = mask != nullptr && mask->maskData != nullptr;
    const auto *base = static_cast<const uint8_t *>(map.baseAddr);
    for (int32_t y = 0; y < image->height; ++y) {
        const int64_t row = int64_t(source.top - map.bounds.top + y);
        for (int32_t x = 0; x < image->width; ++x) {
            const int64_t column = int64_t(source.left - map.bounds.left + x);
            const uint8_t *pixel = base + row * map.rowBytes + column * map.colBytes;
            uint8_t *out = &image->rgb[(size_t(y) * size_t(image->width) + size_t(x)) * 3];
            for (int32_t c = 0; c < 3; ++c)
                out[c] = pixel[planes == 3 ? int64_t(c) * map.planeBytes : 0];
            if (image->masked) {
                const auto *m = static_cast<const uint8_t *>(mask->maskData);
                const uint32_t alpha = m[row * mask->rowBytes + column * mask->colBytes];
                const uint32_t behind = Checker(x, y);
                for (int32_t c = 0; c < 3; ++c)
                    out[c] = uint8_t((out[c] * alpha + behind * (255 - alpha) + 127) / 255);
            }
        }
    }
    return true;
}
