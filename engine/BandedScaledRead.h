// A scaled read of a document whose pixels arrive in bands of rows (a host
// that delivers image data but reads nothing scaled for the plug-in): the
// same averages as a scaled read from the whole document's pyramid, built
// from only the rows and columns that read needs, and without a copy of the
// document at full size.
#pragma once

#include <cstdint>
#include <vector>

#include "engine/Raster.h"

namespace engine {

class BandedScaledRead {
public:
    // Plans the read of readRect under `scaling` from a document of
    // documentWidth x documentHeight pixels (origin 0, 0) with samples of
    // `depth` bits. False, with nothing to deliver, when the read is empty.
    // Bands hold about bandSamples samples of each plane. `planes` is how
    // many of each pixel's samples are reduced: 3 (red, green, blue) or 4
    // (and the transparency that follows them).
    bool Plan(int32_t documentWidth, int32_t documentHeight, int32_t depth, const PSScaling &scaling,
              const VRect &readRect, int64_t bandSamples = int64_t(1) << 20, int32_t planes = 3);

    // The document pixels to deliver, in bands of BandRows() rows from the
    // region's top (the last band may be shorter).
    const VRect &Region() const { return region_; }
    int32_t BandRows() const { return bandRows_; }

    // One band: `rows` rows of the region from row `top`, the pixels of each
    // row interleaved with `planes` samples each (the first three are red,
    // green and blue, the fourth transparency), 8- or 16-bit as planned,
    // rows `rowBytes` apart. A band with fewer samples a pixel than the
    // planned planes is ignored.
    void AddBand(int32_t top, int32_t rows, const void *data, int32_t rowBytes, int32_t planes);

    // Once every band was added: a planned plane (0, 1, 2, or 3 for the
    // transparency) into memory, as a scaled read of the document's channel
    // would.
    SPErr Read(int32_t plane, VRect *readRect, const PixelMemoryDesc &memory) const;

    // Gives back the memory of the last read.
    void Clear();

private:
    PSScaling scaling_{};
    int32_t depth_ = 8;
    int32_t planes_ = 3;
    int32_t level_ = 0;
    int32_t levelWidth_ = 0, levelHeight_ = 0;  // the whole document at the chosen level
    VRect region_{};     // document pixels
    VRect footprint_{};  // the same at the chosen level
    int32_t bandRows_ = 0;
    Raster reduced_[4];  // the footprint's samples at the chosen level, per planned plane
    Raster band_;        // one plane of one band at full size
};

} // namespace engine
