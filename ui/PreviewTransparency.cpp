#include "ui/PreviewTransparency.h"

void ComposeForDisplay(const uint8_t *rgb, const uint8_t *alpha, int32_t width, int32_t height, uint8_t *out)
{
    if (rgb == nullptr || out == nullptr || width <= 0 || height <= 0)
        return;
    for (int32_t y = 0; y < height; ++y) {
        const uint8_t *from = rgb + int64_t(y) * width * 3;
        uint8_t *to = out + int64_t(y) * width * 4;
        if (alpha == nullptr) {
            for (int32_t x = 0; x < width; ++x, from += 3, to += 4) {
                to[0] = from[0];
                to[1] = from[1];
                to[2] = from[2];
                to[3] = 255;
            }
            continue;
        }
        const uint8_t *a = alpha + int64_t(y) * width;
        for (int32_t x = 0; x < width; ++x, from += 3, to += 4) {
            // The shade's share, with the rounding, once for the pixel.
            const uint32_t opacity = a[x], under = uint32_t(CheckerShade(x, y)) * (255u - opacity) + 127u;
            to[0] = uint8_t(DivideBy255(from[0] * opacity + under));
            to[1] = uint8_t(DivideBy255(from[1] * opacity + under));
            to[2] = uint8_t(DivideBy255(from[2] * opacity + under));
            to[3] = 255;
        }
    }
}
