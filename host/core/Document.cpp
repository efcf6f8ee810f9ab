#include "host/core/Document.h"

Document MakeDocument(int32_t width, int32_t height, int32_t planeCount, int32_t depth, int16_t mode)
{
    Document d;
    d.width = width;
    d.height = height;
    d.depth = depth;
    d.mode = mode;
    d.planes.assign(size_t(planeCount), std::vector<uint16_t>(size_t(width) * size_t(height), 0));
    return d;
}

void FillTestPattern(Document *document, uint32_t seed)
{
    uint32_t state = seed * 2654435761u + 1u;
    const uint32_t max = uint32_t(document->MaxSample());
    for (int32_t p = 0; p < document->PlaneCount(); ++p)
        for (int32_t y = 0; y < document->height; ++y)
            for (int32_t x = 0; x < document->width; ++x) {
                state = state * 1664525u + 1013904223u;
                // A ramp from dark to bright with noise on it.
                const uint32_t ramp = document->width > 1 ? uint32_t(x) * max / uint32_t(document->width - 1) : 0;
                const uint32_t noise = (state >> 16) % (max / 8 + 1);
                const uint32_t v = ramp + noise > max ? max : ramp + noise;
                document->At(p, x, y) = uint16_t(v);
            }
}

const char *ImageModeName(int16_t mode)
{
    switch (mode) {
    case plugInModeBitmap: return "BitmapMode";
    case plugInModeGrayScale: return "GrayScaleMode";
    case plugInModeIndexedColor: return "IndexedColorMode";
    case plugInModeRGBColor: return "RGBMode";
    case plugInModeCMYKColor: return "CMYKMode";
    case plugInModeHSLColor: return "HSLMode";
    case plugInModeHSBColor: return "HSBMode";
    case plugInModeMultichannel: return "MultichannelMode";
    case plugInModeDuotone: return "DuotoneMode";
    case plugInModeLabColor: return "LabMode";
    case plugInModeGray16: return "Gray16Mode";
    case plugInModeRGB48: return "RGB48Mode";
    case plugInModeLab48: return "Lab48Mode";
    case plugInModeCMYK64: return "CMYK64Mode";
    default: return "UnknownMode";
    }
}
