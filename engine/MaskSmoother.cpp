#include "engine/MaskSmoother.h"

namespace engine {

void MaskSmoother::Smooth(uint8_t *mask, int32_t width, int32_t height)
{
    if (mask == nullptr || width <= 0 || height <= 0)
        return;
    const size_t count = size_t(width) * size_t(height);
    if (first_.size() < count) {
        first_.resize(count);
        second_.resize(count);
    }
    if (!workspace_)
        workspace_.reset(new filters::Workspace());
    const VRect r{0, 0, height, width};
    const RasterView a{first_.data(), r, 8}, b{second_.data(), r, 8};
    for (size_t i = 0; i < count; ++i)
        first_[i] = mask[i * 3];
    filters::GaussianBlur(a, b, r, kMaskBlurRadius, kMaskEdgePadding, *workspace_);
    filters::MedianFilter(b, a, r, kMaskMedianRadius, kMaskEdgePadding, *workspace_);
    for (size_t i = 0; i < count; ++i) {
        const uint8_t v = uint8_t(first_[i]);
        mask[i * 3] = mask[i * 3 + 1] = mask[i * 3 + 2] = v;
    }
}

void MaskSmoother::Release()
{
    std::vector<uint16_t>().swap(first_);
    std::vector<uint16_t>().swap(second_);
    workspace_.reset();
}

} // namespace engine
