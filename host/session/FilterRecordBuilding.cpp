// The record and the document description the host hands the module for a
// document, as the host profile and the behaviour's switches decide; the
// rooms that serve the record (HostSuites, TileDelivery, PixelMapDrawing)
// fill in their parts.
#include "host/session/FilterHost.h"

#include <algorithm>

namespace {

extern "C" void PI_CDECL HostProcessEvent(void *) {}

} // namespace

void FilterHost::BuildDocumentInfo(Document &document)
{
    documentInfo_ = ReadImageDocumentDesc();
    documentInfo_.minVersion = 0;
    documentInfo_.maxVersion = 1;
    documentInfo_.imageMode = document.mode;
    documentInfo_.depth = document.depth;
    documentInfo_.bounds = VRect{0, 0, document.height, document.width};
    documentInfo_.hResolution = documentInfo_.vResolution = 72 << 16;
    for (int i = 0; i < 256; ++i)
        documentInfo_.redLUT[i] = documentInfo_.greenLUT[i] = documentInfo_.blueLUT[i] = uint8_t(i);

    const int32_t colourPlanes = document.PlaneCount() - (document.hasTransparency ? 1 : 0);
    channelDescs_.assign(size_t(document.PlaneCount()), ReadChannelDesc());
    static const char *const kNames[] = {"Red", "Green", "Blue", "Channel 4", "Channel 5"};
    for (int32_t p = 0; p < document.PlaneCount(); ++p) {
        HostPort *port = ports.AddDocumentPlane(
            kNames[p < 4 ? p : 4], RasterView{document.planes[size_t(p)].data(), documentInfo_.bounds, document.depth});
        ReadChannelDesc &desc = channelDescs_[size_t(p)];
        desc.minVersion = 0;
        desc.maxVersion = 1;
        desc.port = port;
        desc.bounds = documentInfo_.bounds;
        desc.depth = document.depth;
        desc.tileSize = VPoint{256, 256};
        desc.target = 1;
        desc.shown = 1;
        desc.channelType = int16_t(p < 3 ? p + 1 : 0);
        desc.name = kNames[p < 4 ? p : 4];
    }
    for (int32_t p = 0; p + 1 < colourPlanes; ++p)
        channelDescs_[size_t(p)].next = &channelDescs_[size_t(p) + 1];
    documentInfo_.targetCompositeChannels = colourPlanes > 0 ? &channelDescs_[0] : nullptr;
    documentInfo_.mergedCompositeChannels = documentInfo_.targetCompositeChannels;
    if (document.hasTransparency) {
        documentInfo_.targetTransparency = &channelDescs_.back();
        documentInfo_.mergedTransparency = &channelDescs_.back();
    }
}

void FilterHost::BuildRecord(Document &document)
{
    record_ = FilterRecord();
    FilterRecord &r = record_;
    const int16_t width = int16_t(document.width > 32767 ? 32767 : document.width);
    const int16_t height = int16_t(document.height > 32767 ? 32767 : document.height);
    r.imageSize = Point{height, width};
    r.planes = int16_t(document.PlaneCount());
    const ProfileServices services = Services();
    // A host whose filter rectangle leaves out the image's last row and
    // column: those stay as they are.
    const int16_t shorter = services.filterRectOneShort ? 1 : 0;
    r.filterRect = Rect{0, 0, int16_t(std::max(0, height - shorter)), int16_t(std::max(0, width - shorter))};
    r.background = RGBColor{0xFFFF, 0xFFFF, 0xFFFF};
    r.foreground = RGBColor{0, 0, 0};
    r.maxSpace = 1 << 30;
    r.backColor[0] = r.backColor[1] = r.backColor[2] = 255;
    r.hostSig = behaviour.hostSignature != 0 ? behaviour.hostSignature : services.signature;
    r.imageMode = document.mode;
    r.imageHRes = r.imageVRes = 72 << 16;
    r.wholeSize = r.imageSize;
    r.platformData = behaviour.noPlatformWindow || !services.platformWindow ? nullptr : &platform_;
    r.processEvent = HostProcessEvent;
    const bool selected = !document.selection.empty() && services.selections;
    r.filterCase = int16_t(pipl::FilterCaseFor(selected, document.hasTransparency));
    r.supportsAbsolute = 1;
    r.samplingSupport = services.samplingSupport;
    r.inputRate = r.maskRate = behaviour.inputRate != 0 ? behaviour.inputRate : 1 << 16;
    const int16_t layerPlanes = int16_t(document.PlaneCount() - (document.hasTransparency ? 1 : 0));
    const int16_t transparencyPlanes = document.hasTransparency ? 1 : 0;
    r.inLayerPlanes = r.outLayerPlanes = layerPlanes;
    r.inTransparencyMask = r.outTransparencyMask = transparencyPlanes;
    if (services.absoluteLayerFields) {
        r.absLayerPlanes = layerPlanes;
        r.absTransparencyMask = transparencyPlanes;
    }
    const int32_t sampleBytes = document.depth == 16 ? 2 : 1;
    if (services.columnBytes)
        r.inColumnBytes = r.outColumnBytes = sampleBytes * document.PlaneCount();
    r.inPlaneBytes = r.outPlaneBytes = sampleBytes;
    r.inTileHeight = r.outTileHeight = r.absTileHeight = r.maskTileHeight = int16_t(behaviour.tileHeight);
    r.inTileWidth = r.outTileWidth = r.absTileWidth = r.maskTileWidth = int16_t(behaviour.tileWidth);
    r.haveMask = selected ? 1 : 0;
    r.documentInfo = behaviour.noDocumentInfo || !services.documentInfo ? nullptr : &documentInfo_;
    r.depth = behaviour.zeroDepth ? 0 : document.depth;
    if (behaviour.staleTileLayout) {
        // What an earlier filter's last tile left: rows far longer than the
        // preview's, and a one-row selection.
        r.inRowBytes = r.outRowBytes = 1 << 20;
        staleSelection_.assign(64, 0xFF);
        r.maskData = staleSelection_.data();
        r.maskRowBytes = 1 << 20;
    }

    suites.Serve(r);
    tiles.Serve(r, &document);
    drawing.Serve(r);
}
