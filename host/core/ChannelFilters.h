// The host's own filters that a plug-in applies to channel ports by name:
// a Gaussian blur, a median, a copy and a fill. Each works on `rect`
// (clipped to both channels), reads only the source inside it, and treats
// everything outside as padding: -1 repeats the nearest edge sample, 0..255
// is a constant (scaled to 0..32768 on 16-bit channels).
#pragma once

#include <cstdint>
#include <vector>

#include "host/core/Raster.h"

namespace filters {

// The integer weights of a Gaussian of standard deviation `sigma`: 2R + 1
// taps with R = ceil(3 sigma), summing to exactly 65536.
std::vector<uint32_t> GaussianWeights(double sigma);

// A true Gaussian of the given 16.16 radius (its standard deviation),
// separable, with exact integer arithmetic: each output is the rounded
// value of sum(wy * wx * sample) / 2^32.
SPErr GaussianBlur(const RasterView &source, const RasterView &destination, VRect rect, Fixed radius,
                   int32_t padding);

// The median of the (2 radius + 1)^2 window around each sample. 8-bit
// channels use column histograms (constant time per sample) and skip
// windows of one value; 16-bit channels slide one histogram of four levels
// along rows that turn at the ends.
SPErr MedianFilter(const RasterView &source, const RasterView &destination, VRect rect, int32_t radius,
                   int32_t padding);

SPErr CopyPixels(const RasterView &source, const RasterView &destination, VRect rect);

SPErr SetPixels(const RasterView &destination, VRect rect, int32_t value);

} // namespace filters
