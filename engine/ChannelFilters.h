// The filters that smooth the filter's mask, which a host also applies to
// channel ports by name: a Gaussian blur, a median, a copy and a fill. Each works on `rect`
// (clipped to both channels), reads only the source inside it, and treats
// everything outside as padding: -1 repeats the nearest edge sample, 0..255
// is a constant (scaled to 0..32768 on 16-bit channels).
#pragma once

#include <cstdint>
#include <vector>

#include "engine/Raster.h"

namespace filters {

// Working memory of the blur and the median, kept by the caller from call to
// call: fresh large blocks cost a page fault per page on every call, which on
// some systems outweighs the filter. One workspace serves one call at a time;
// it grows to the largest call it served and gives its memory back when it
// ends.
class Workspace {
public:
    Workspace() = default;
    Workspace(const Workspace &) = delete;
    Workspace &operator=(const Workspace &) = delete;

    std::vector<uint8_t> padded8, fine8, coarse8, binOf;
    std::vector<uint16_t> padded16, fine16, coarse16, ofOne, rankOf, levels;
    std::vector<uint16_t> highs, lows, row;
    std::vector<uint32_t> sumA, sumB;
};

// The integer weights of a Gaussian of standard deviation `sigma`: 2R + 1
// taps with R = ceil(3 sigma), summing to exactly 65536.
std::vector<uint32_t> GaussianWeights(double sigma);

// A true Gaussian of the given 16.16 radius (its standard deviation),
// separable, with exact integer arithmetic: each output is the rounded
// value of sum(wy * wx * sample) / 2^32.
SPErr GaussianBlur(const RasterView &source, const RasterView &destination, VRect rect, Fixed radius,
                   int32_t padding, Workspace &workspace);

// The median of the (2 radius + 1)^2 window around each sample. 8-bit
// channels use column histograms (constant time per sample) and skip
// windows of one value; 16-bit channels slide one histogram of four levels
// along rows that turn at the ends.
SPErr MedianFilter(const RasterView &source, const RasterView &destination, VRect rect, int32_t radius,
                   int32_t padding, Workspace &workspace);

// Output rows rowBegin .. rowEnd - 1 (the channel's coordinates, clipped to
// the working rectangle) of the same calls, exactly as the whole call
// computes them: the source rows the band's radius reaches beyond it are
// read, and padding is still applied at the edges of `rect`. Bands of one
// call may run at the same time, each with its own workspace, when the
// destination's samples are not the source's.
SPErr GaussianBlurRows(const RasterView &source, const RasterView &destination, VRect rect, Fixed radius,
                       int32_t padding, int32_t rowBegin, int32_t rowEnd, Workspace &workspace);
SPErr MedianFilterRows(const RasterView &source, const RasterView &destination, VRect rect, int32_t radius,
                       int32_t padding, int32_t rowBegin, int32_t rowEnd, Workspace &workspace);

// How many rows above and below an output row the blur of this radius
// reads (0 for none or a radius out of range).
int32_t GaussianReach(Fixed radius);

// The same, each with a workspace of its own for this call.
SPErr GaussianBlur(const RasterView &source, const RasterView &destination, VRect rect, Fixed radius,
                   int32_t padding);
SPErr MedianFilter(const RasterView &source, const RasterView &destination, VRect rect, int32_t radius,
                   int32_t padding);

SPErr CopyPixels(const RasterView &source, const RasterView &destination, VRect rect);

SPErr SetPixels(const RasterView &destination, VRect rect, int32_t value);

} // namespace filters
