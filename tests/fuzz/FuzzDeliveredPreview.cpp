// What a plain host hands the preview: image data delivered in bands of
// rows, of any size and samples, for a view anywhere in the document. The
// reduction built from the bands must give what the full host's scaled read
// of the whole document gives, and never read or write outside its memory.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "engine/BandedScaledRead.h"

namespace {

struct Bytes {
    const uint8_t *data;
    size_t size, at = 0;
    uint32_t Next() { return at < size ? data[at++] : 0; }
    int32_t Range(int32_t low, int32_t high) { return low + int32_t(Next() % uint32_t(high - low + 1)); }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    Bytes in{data, size};
    const int32_t w = in.Range(1, 96), h = in.Range(1, 96);
    const int32_t depth = in.Next() % 2 == 0 ? 8 : 16;
    const int32_t left = in.Range(0, w - 1), top = in.Range(0, h - 1);
    const VRect source{top, left, in.Range(top + 1, h), in.Range(left + 1, w)};
    const VRect destination{0, 0, in.Range(1, 48), in.Range(1, 48)};
    const int64_t bandSamples = in.Range(1, 4096);
    const int32_t padding = in.Range(0, 7) * (depth / 8);
    // Colour, or colour and transparency.
    const int32_t count = in.Next() % 2 == 0 ? 3 : 4;

    Raster planes[4] = {Raster(VRect{0, 0, h, w}, depth), Raster(VRect{0, 0, h, w}, depth),
                        Raster(VRect{0, 0, h, w}, depth), Raster(VRect{0, 0, h, w}, depth)};
    const uint32_t full = depth == 16 ? 32768 : 255;
    for (Raster &plane : planes)
        for (uint16_t &v : plane.samples)
            v = uint16_t(((in.Next() << 8) | in.Next()) % (full + 1));

    const PSScaling scaling{source, destination};
    const int32_t dw = destination.right, dh = destination.bottom;
    std::vector<uint8_t> expected(size_t(dw) * dh * size_t(count)), got(expected.size(), 0xEE);
    for (int32_t p = 0; p < count; ++p) {
        Pyramid pyramid;
        pyramid.Build(planes[p].View());
        VRect area = destination;
        ReadScaledToMemory(pyramid, &area, scaling,
                           PixelMemoryDesc{expected.data(), dw * 8 * count, 8 * count, 8 * p, 8});
    }

    engine::BandedScaledRead read;
    if (!read.Plan(w, h, depth, scaling, destination, bandSamples, count))
        std::abort();  // a view inside the document always has pixels to read
    const VRect region = read.Region();
    const int32_t bytes = depth / 8, rw = region.right - region.left;
    for (int32_t band = region.top; band < region.bottom; band += read.BandRows()) {
        const int32_t rows = std::min(read.BandRows(), region.bottom - band);
        // Exactly the band's bytes: the sanitizer sees any read past them.
        const int32_t rowBytes = rw * count * bytes + padding;
        std::vector<uint8_t> delivered(size_t(rowBytes) * (rows - 1) + size_t(rw) * size_t(count) * bytes);
        for (int32_t y = 0; y < rows; ++y)
            for (int32_t x = 0; x < rw; ++x)
                for (int32_t p = 0; p < count; ++p) {
                    const uint16_t v = planes[p].View().At(region.left + x, band + y);
                    uint8_t *at = delivered.data() + size_t(y) * rowBytes + (size_t(x) * count + p) * bytes;
                    at[0] = uint8_t(v);
                    if (bytes == 2)
                        at[1] = uint8_t(v >> 8);
                }
        read.AddBand(band, rows, delivered.data(), rowBytes, count);
    }
    for (int32_t p = 0; p < count; ++p) {
        VRect area = destination;
        if (read.Read(p, &area, PixelMemoryDesc{got.data(), dw * 8 * count, 8 * count, 8 * p, 8}) != 0)
            std::abort();
    }
    if (got != expected)
        std::abort();
    return 0;
}
