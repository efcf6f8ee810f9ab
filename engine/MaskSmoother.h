// The mask's smoothing done by the filter itself, for a host that applies no
// filters of its own to channel ports: the Gaussian blur of 16.16 radius 65541
// (about one pixel) and then the 15 x 15 median (radius 7), both repeating
// the edge samples, exactly as the host's named filters make them.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "engine/ChannelFilters.h"

namespace engine {

// The parameters the renderer gives the host's filters, and the smoother
// uses itself.
constexpr Fixed kMaskBlurRadius = 65541;
constexpr int32_t kMaskMedianRadius = 7;
constexpr int32_t kMaskEdgePadding = -1;  // edge samples repeated

class MaskSmoother {
public:
    MaskSmoother() = default;
    MaskSmoother(const MaskSmoother &) = delete;
    MaskSmoother &operator=(const MaskSmoother &) = delete;

    // Smooths byte 0 of every 3-byte entry of a width x height mask and
    // writes the result into bytes 0, 1 and 2. Its working memory grows to
    // the largest block and is kept for the next; it may throw
    // std::bad_alloc while it grows.
    void Smooth(uint8_t *mask, int32_t width, int32_t height);

    // Gives the working memory back.
    void Release();

private:
    std::vector<uint16_t> first_, second_;
    std::unique_ptr<filters::Workspace> workspace_;
};

} // namespace engine
