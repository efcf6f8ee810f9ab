// How the preview shows an image with transparency: the colour over a light
// grey-and-white checkerboard, as the hosts that hand such layers show them,
// in a map of four bytes a pixel (red, green, blue and one spare), which
// every host reads right, whatever it takes a pixel's size to be.
#pragma once

#include <cstdint>

// The side of one square of the checkerboard, in preview pixels, and its two
// shades.
constexpr int32_t kCheckerSquare = 8;
constexpr uint8_t kCheckerLight = 255;
constexpr uint8_t kCheckerDark = 204;

// The checkerboard's shade at preview pixel (x, y) (both 0 or more):
// squares from the image's top left corner, the first one light.
inline uint8_t CheckerShade(int32_t x, int32_t y)
{
    return ((x / kCheckerSquare + y / kCheckerSquare) & 1) == 0 ? kCheckerLight : kCheckerDark;
}

// v / 255, truncated, for v below 65535.
inline uint32_t DivideBy255(uint32_t v)
{
    return (v + 1 + (v >> 8)) >> 8;
}

// One sample over the checkerboard: (colour * alpha + shade * (255 - alpha))
// / 255, rounded to nearest.
inline uint8_t OverShade(uint8_t colour, uint8_t alpha, uint8_t shade)
{
    return uint8_t(DivideBy255(uint32_t(colour) * alpha + uint32_t(shade) * (255u - alpha) + 127u));
}

// Packed 3-byte RGB (width x height) composited with its transparency (one
// byte a pixel, 255 opaque) over the checkerboard into `out`, 4 bytes a
// pixel, rows packed; with a null `alpha` the pixels are copied as they are
// (a grey mask, say). The spare fourth byte is 255.
void ComposeForDisplay(const uint8_t *rgb, const uint8_t *alpha, int32_t width, int32_t height, uint8_t *out);
