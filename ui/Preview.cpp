// The preview: its three buffers, and the paint that reads the visible part
// of the document at preview size, renders it and has the host draw it.
#include <windows.h>

#include "plugin/FilterContext.h"
#include "resources/ResourceIds.h"
#include "ui/PreviewGeometry.h"
#include "ui/PreviewTransparency.h"

namespace {

// The view centre and the pan the previous paint used; set on the first
// paint after the module loads and kept from one dialog to the next.
ViewState previewView;

bool SameRect(const Rect &a, const Rect &b)
{
    return a.top == b.top && a.left == b.left && a.bottom == b.bottom && a.right == b.right;
}

} // namespace

int32_t FilterContext::AllocatePreviewBuffers(int32_t size)
{
    uint8_t **const targets[3] = {&previewOriginal, &previewMask, &previewResult};
    previewCapacity = size > 0 ? size : 0;
    previewCache = PreviewCache();
    // The module draws the preview itself where the host has no
    // displayPixels: room for the largest image as a bitmap, padded rows.
    if (services.drawing == HostServices::Drawing::Own && size > 0)
        drawBits.assign(size_t(size) + 4 * (size_t(size) / 3 + 1), 0);
    for (int i = 0; i < 3; ++i) {
        if (previewBuffers[i].Allocate(services.memory, size)) {
            *targets[i] = reinterpret_cast<uint8_t *>(previewBuffers[i].Get());
        } else {
            *targets[i] = nullptr;
            *result = genericErr;
        }
    }
    // A document with transparency: one byte a pixel of it, and what is
    // drawn, four bytes a pixel.
    if (transparency && size > 0) {
        const int32_t pixels = size / 3;
        const bool allocated = transparencyBuffers[0].Allocate(services.memory, pixels) &&
                               transparencyBuffers[1].Allocate(services.memory, pixels * 4);
        previewAlpha = allocated ? reinterpret_cast<uint8_t *>(transparencyBuffers[0].Get()) : nullptr;
        previewDisplay = allocated ? reinterpret_cast<uint8_t *>(transparencyBuffers[1].Get()) : nullptr;
        if (!allocated)
            *result = genericErr;
    }
    return 0;
}

int32_t FilterContext::FreePreviewBuffers()
{
    std::vector<uint8_t>().swap(drawBits);
    for (MemoryBlock &buffer : previewBuffers)
        buffer.Free();
    for (MemoryBlock &buffer : transparencyBuffers)
        buffer.Free();
    previewOriginal = previewMask = previewResult = nullptr;
    previewAlpha = previewDisplay = nullptr;
    previewShown = nullptr;
    previewCapacity = 0;
    previewCache = PreviewCache();
    return 0;
}

const uint8_t *FilterContext::DisplayedPixels(int32_t width, int32_t height, int32_t *columnBytes)
{
    *columnBytes = 3;
    if (!transparency || previewDisplay == nullptr)
        return previewShown;
    // The original and the result over the checkerboard, the mask as it is,
    // each four bytes a pixel: a host that takes a pixel to be as many bytes
    // as the document has planes reads them right.
    const bool mask = previewShown == previewMask;
    ComposeForDisplay(previewShown, mask ? nullptr : previewAlpha, width, height, previewDisplay);
    *columnBytes = 4;
    return previewDisplay;
}

void FilterContext::PaintPreview(HWND window)
{
    RECT area = {};
    GetWindowRect(GetDlgItem(window, IDC_PREVIEW), &area);

    // The document's size: its description's, or, where the preview reads
    // the image data the host delivers, the filter rectangle's. Without all
    // three buffers there is nothing to read into or draw from: the area
    // stays empty.
    const ReadImageDocumentDesc *document = filterRecord != nullptr ? filterRecord->documentInfo : nullptr;
    const ReadChannelDesc *first = document != nullptr ? document->targetCompositeChannels : nullptr;
    const bool haveBuffers = previewOriginal != nullptr && previewMask != nullptr && previewResult != nullptr &&
                             (!transparency || (previewAlpha != nullptr && previewDisplay != nullptr));
    const bool delivered = services.previewSource == HostServices::PreviewSource::Delivered;
    VRect documentBounds = {};
    if (delivered && filterRecord != nullptr) {
        const Rect &r = filterRecord->filterRect;
        documentBounds = VRect{r.top, r.left, r.bottom, r.right};
    } else if (first != nullptr) {
        documentBounds = first->bounds;
    }

    PreviewSize size;
    if ((delivered || first != nullptr) && haveBuffers) {
        const int32_t documentWidth = documentBounds.right - documentBounds.left;
        const int32_t documentHeight = documentBounds.bottom - documentBounds.top;
        size = FitPreview(area.right - area.left, area.bottom - area.top, documentWidth, documentHeight);
        // The area is the one the buffers were sized for; should it have
        // grown since, nothing larger than the buffers is read.
        if (int64_t(size.width) * size.height * 3 > previewCapacity)
            size = PreviewSize();
        previewRect = Rect{0, 0, To16(size.height), To16(size.width)};
        const SourceRect view = UpdateView(&previewView, documentWidth, documentHeight, zoom, panX, panY, size);
        if (size.width > 0 && size.height > 0) {
            const Rect source = {To16(view.top), To16(view.left), To16(view.bottom), To16(view.right)};
            // The document is read again only for another view of it.
            PreviewCache &cache = previewCache;
            if (!cache.originalValid || !SameRect(source, cache.source) || !SameRect(previewRect, cache.size)) {
                cache.maskValid = false;
                ReadComposite(source, previewRect, previewOriginal);
                cache.originalValid = !compositeReadFailed;
                cache.source = source;
                cache.size = previewRect;
            }
            RenderPreview();
        }
    }

    POINT origin = {0, 0};
    ClientToScreen(window, &origin);
    const ImageOrigin at = PlaceImage(area.left, area.top, area.right, area.bottom, origin.x, origin.y, size);

    PAINTSTRUCT paint;
    HDC dc = BeginPaint(window, &paint);
    if (size.width > 0 && size.height > 0 && previewShown != nullptr) {
        RECT frame = {at.x, at.y, at.x + size.width, at.y + size.height};
        InflateRect(&frame, 2, 2);
        FrameRect(dc, &frame, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));

        int32_t columnBytes = 3;
        const uint8_t *pixels = DisplayedPixels(size.width, size.height, &columnBytes);
        PSPixelMap map = {};
        map.version = 1;
        map.bounds = VRect{0, 0, size.height, size.width};
        map.imageMode = plugInModeRGBColor;
        map.rowBytes = size.width * columnBytes;
        map.colBytes = columnBytes;
        map.planeBytes = 1;
        map.baseAddr = const_cast<uint8_t *>(pixels);
        PSPixelMask mask = {};
        if (transparency) {
            // Composited already: no host draws transparency from a plain
            // map, and one that draws it from a mask would do it twice.
        } else if (filterRecord->isFloating) {
            mask.maskData = filterRecord->maskData;
            mask.rowBytes = filterRecord->maskRowBytes;
            mask.colBytes = 1;
            map.masks = &mask;
        } else if (filterRecord->inLayerPlanes != 0 && filterRecord->inTransparencyMask != 0 &&
                   filterRecord->inData != nullptr) {
            // The transparency follows the colour planes in the host's input
            // buffer, which exists only while the host has delivered one.
            mask.maskData = static_cast<uint8_t *>(filterRecord->inData) +
                            PlanesFromMode(filterRecord->imageMode, 0);
            mask.rowBytes = filterRecord->inRowBytes;
            mask.colBytes = filterRecord->inColumnBytes;
            map.masks = &mask;
        }
        if (services.drawing == HostServices::Drawing::Host)
            filterRecord->displayPixels(&map, &map.bounds, at.y, at.x, dc);
        else
            DrawPreview(dc, pixels, columnBytes, at.x, at.y, size.width, size.height);
    }
    EndPaint(window, &paint);
}
