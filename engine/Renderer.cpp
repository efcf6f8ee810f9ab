// The shadow-recovery renderer: the mask and blend passes around the
// smoothing of the mask, by the host's named filters through two scratch
// channel ports where the host has them, else by the module itself.
#include <windows.h>

#include <cstring>

#include "engine/ShadowKernels.h"
#include "plugin/FilterContext.h"

namespace {

// The host's filters receive their parameter blocks as they stand: a blur of
// 16.16 radius 65541 (about one pixel) and a median of radius 7, both
// repeating the edge samples.
GaussianBlurParameters gBlurParameters = {engine::kMaskBlurRadius, kEdgeReplicationPadding};
RadiusParameters gMedianParameters = {engine::kMaskMedianRadius, kEdgeReplicationPadding};

bool Contains(const VRect &outer, const VRect &inner)
{
    return inner.top >= outer.top && inner.left >= outer.left && inner.bottom <= outer.bottom &&
           inner.right <= outer.right;
}

// The mask buffer as the ports see it: byte `offset` of each 3-byte entry.
PixelMemoryDesc MaskMemory(uint8_t *mask, int32_t width, int32_t offset)
{
    return PixelMemoryDesc{mask + offset, width * 24, 24, 0, 8};
}

} // namespace

bool FilterContext::SmoothMask(uint8_t *mask, int32_t width, int32_t height)
{
    if (services.smoothing == HostServices::Smoothing::Own) {
        ownSmoother.Smooth(mask, width, height);
        return true;
    }
    const VRect r = {0, 0, height, width};

    // The ports keep the size of the call that created them. A larger block
    // would make the host clip (or a careless host overrun) the transfers,
    // so ports too small for it are made anew.
    if (portA != nullptr && !Contains(portABounds, r))
        channelPorts->Dispose(&portA), portA = nullptr;
    if (portB != nullptr && !Contains(portBBounds, r))
        channelPorts->Dispose(&portB), portB = nullptr;

    if (portA == nullptr) {
        if (channelPorts->New(&portA, &r, 8, 1) != 0 || portA == nullptr) {
            portA = nullptr;
            return false;
        }
        portABounds = r;
    }
    if (portB == nullptr) {
        if (channelPorts->New(&portB, &r, 8, 1) != 0 || portB == nullptr) {
            portB = nullptr;
            return false;
        }
        portBBounds = r;
    }

    VRect area = r;
    PixelMemoryDesc memory = MaskMemory(mask, width, 0);
    if (channelPorts->WritePixelsToBaseLevel(portA, &area, &memory) != 0)
        return false;

    area = r;
    channelPorts->ApplyOperation(kGaussianBlurFilter, portA, portB, nullptr, &gBlurParameters, &area);
    area = r;
    channelPorts->ApplyOperation(kMedianFilter, portB, portA, nullptr, &gMedianParameters, &area);

    for (int32_t offset = 0; offset < 3; ++offset) {
        area = r;
        memory = MaskMemory(mask, width, offset);
        if (channelPorts->ReadPixelsFromLevel(portA, 0, &area, &memory) != 0)
            return false;
    }
    return true;
}

int32_t FilterContext::RenderBlock(const void *source, void *destination, uint8_t *mask, int32_t width,
                                   int32_t height, int32_t stride, uint8_t sixteenBit)
{
    engine::BlockLayout layout;
    layout.width = width;
    layout.height = height;
    layout.stride = stride;
    layout.sixteenBit = sixteenBit != 0;
    layout.sourceRowBytes = filterRecord->inRowBytes;
    layout.destinationRowBytes = filterRecord->outRowBytes;
    layout.selection = static_cast<const uint8_t *>(filterRecord->maskData);
    layout.selectionRowBytes = filterRecord->maskRowBytes;
    RenderLaidOut(source, destination, mask, layout);
    return 0;
}

void FilterContext::RenderLaidOut(const void *source, void *destination, uint8_t *mask,
                                  const engine::BlockLayout &layout)
{
    if (layout.width > 0 && layout.height > 0 && MakeMask(source, mask, layout))
        BlendLaidOut(source, destination, mask, layout);
}

bool FilterContext::MakeMask(const void *source, uint8_t *mask, const engine::BlockLayout &layout)
{
    maskCurve.Prepare(settings.bias, layout.sixteenBit);
    engine::BuildMask(source, mask, layout, maskCurve);
    return SmoothMask(mask, layout.width, layout.height);
}

void FilterContext::BlendLaidOut(const void *source, void *destination, const uint8_t *mask,
                                 const engine::BlockLayout &layout)
{
    toneCurve.Prepare(settings.gamma, settings.contrast, layout.sixteenBit);
    engine::Blend(source, destination, mask, layout, toneCurve);
}

int32_t FilterContext::ReadComposite(const Rect &sourceRect, const Rect &destinationRect, uint8_t *buffer)
{
    // The preview's original brings the document's transparency with it.
    const bool withTransparency = transparency && buffer == previewOriginal && previewAlpha != nullptr;
    if (services.previewSource == HostServices::PreviewSource::Delivered) {
        compositeReadFailed =
            !ReadDelivered(sourceRect, destinationRect, buffer, withTransparency ? previewAlpha : nullptr);
        return 0;
    }
    if (withTransparency)
        ReadTransparency(sourceRect, destinationRect);
    compositeReadFailed = true;
    const ReadImageDocumentDesc *document = filterRecord->documentInfo;
    const ReadChannelDesc *channel = document != nullptr ? document->targetCompositeChannels : nullptr;
    if (channel == nullptr || channel->port == nullptr)
        return 0;

    Boolean canRead = 0;
    if (channelPorts->CanRead(channel->port, &canRead) != 0) {
        *result = errPlugInHostInsufficient;
        return 0;
    }
    if (canRead == 0)
        return 0;

    const VRect destination = {destinationRect.top, destinationRect.left, destinationRect.bottom,
                               destinationRect.right};
    const PSScaling scaling = {{sourceRect.top, sourceRect.left, sourceRect.bottom, sourceRect.right},
                               destination};
    // The buffers hold three bytes a pixel, whatever else the document has.
    const int32_t planes = 3;
    PixelMemoryDesc memory = {buffer, (destination.right - destination.left) * planes * 8, planes * 8, 0, 8};

    // Red, green and blue into bytes 0, 1 and 2 of each pixel. A document
    // that lists fewer channels leaves the rest unread.
    bool failed = false;
    int32_t read = 0;
    for (int32_t i = 0; i < 3 && channel != nullptr; ++i, channel = channel->next, ++read) {
        VRect area = destination;
        memory.bitOffset = 8 * i;
        if (channelPorts->ReadScaledPixels(channel->port, &area, &scaling, &memory) != 0) {
            *result = genericErr;
            MessageBeep(0xFFFFFFFF);
            failed = true;
        }
    }
    compositeReadFailed = failed || read < 3;
    return 0;
}

void FilterContext::ReadTransparency(const Rect &sourceRect, const Rect &destinationRect)
{
    const int32_t width = destinationRect.right - destinationRect.left;
    const int32_t height = destinationRect.bottom - destinationRect.top;
    if (width <= 0 || height <= 0)
        return;
    std::memset(previewAlpha, 255, size_t(width) * size_t(height));
    const ReadImageDocumentDesc *document = filterRecord->documentInfo;
    const ReadChannelDesc *channel = document != nullptr ? document->targetTransparency : nullptr;
    if (channel == nullptr || channel->port == nullptr || channelPorts == nullptr ||
        channelPorts->ReadScaledPixels == nullptr)
        return;
    const VRect destination = {destinationRect.top, destinationRect.left, destinationRect.bottom,
                               destinationRect.right};
    const PSScaling scaling = {{sourceRect.top, sourceRect.left, sourceRect.bottom, sourceRect.right},
                               destination};
    PixelMemoryDesc memory = {previewAlpha, width * 8, 8, 0, 8};
    VRect area = destination;
    // A transparency that cannot be read leaves the preview opaque.
    if (channelPorts->ReadScaledPixels(channel->port, &area, &scaling, &memory) != 0)
        std::memset(previewAlpha, 255, size_t(width) * size_t(height));
}

int32_t FilterContext::RenderPreview()
{
    // The preview buffers are packed 8-bit RGB with no selection, whatever
    // the record holds for the host's tiles.
    engine::BlockLayout layout;
    layout.width = previewRect.right;
    layout.height = previewRect.bottom;
    layout.stride = 3;
    if (layout.width <= 0 || layout.height <= 0)
        return 0;
    // The mask is made again only when the bias or what was read changed:
    // moving the gamma or contrast slider only blends again.
    if (!previewCache.maskValid || previewCache.bias != settings.bias) {
        previewCache.maskValid = false;
        // The mask buffer is first given the document's top-left corner,
        // which only pixels that the mask pass skips would keep; the preview
        // has no selection, so none does, and image data that has to be
        // delivered is not asked for it.
        if (services.previewSource == HostServices::PreviewSource::DocumentPorts)
            ReadComposite(previewRect, previewRect, previewMask);
        if (!MakeMask(previewOriginal, previewMask, layout))
            return 0;
        previewCache.maskValid = previewCache.originalValid;
        previewCache.bias = settings.bias;
    }
    BlendLaidOut(previewOriginal, previewResult, previewMask, layout);
    return 0;
}
