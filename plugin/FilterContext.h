// The one object that lives as long as the module: the host's pointers for
// the call under way, the suites and ports of a run, the tone values and the
// preview state.
#pragma once

#include <windows.h>

#include <vector>

#include "engine/BandedScaledRead.h"
#include "engine/FilterSettings.h"
#include "engine/MaskSmoother.h"
#include "engine/ShadowKernels.h"
#include "plugin/HostInterface.h"
#include "plugin/HostOwners.h"
#include "plugin/HostServices.h"
#include "plugin/ModuleMemory.h"

class FilterContext {
public:
    FilterContext();
    virtual ~FilterContext();

    // Selector handlers; each reports through *result.
    void DoAbout();
    void DoParameters();
    void DoPrepare();
    void DoStart();
    void DoContinue();
    void DoFinish();

    // The renderer. RenderBlock turns a block of interleaved RGB pixels into
    // its smoothed mask and its shadow-lifted result, with the record's row
    // steps and selection (the host's tile buffers); ReadComposite copies the document's composite,
    // scaled by the host, into an interleaved 8-bit buffer; RenderPreview
    // renders the preview buffers. Each returns 0; host failures go to
    // *result (RenderBlock never touches it).
    int32_t RenderBlock(const void *source, void *destination, uint8_t *mask, int32_t width, int32_t height,
                        int32_t stride, uint8_t sixteenBit);
    int32_t ReadComposite(const Rect &sourceRect, const Rect &destinationRect, uint8_t *buffer);
    int32_t RenderPreview();

    // The preview: the three buffers the dialog allocates when it opens and
    // frees when it ends, and the paint that fits, reads, renders and draws.
    void PaintPreview(HWND window);
    int32_t AllocatePreviewBuffers(int32_t size);
    int32_t FreePreviewBuffers();

    // The whole image, tile by tile, through advanceState; then the tone
    // values become the last values in the registry. Returns the result
    // code at the end of the run, or -1 when it stopped early.
    int32_t ApplyWholeImage();
    // Allocates tileMask (null, and the result code -1, when the host has
    // no buffer for it) and frees it; freeing nothing is harmless.
    int32_t AllocTileMask(int32_t size);
    int32_t FreeTileMask();

    FilterSettings settings;  // left to static zero-initialisation
    FilterRecord *filterRecord;
    intptr_t *data;
    int16_t *result;
    HINSTANCE moduleInstance;
    PIChannelPort portA;
    PIChannelPort portB;
    PSChannelPortsSuite3 *channelPorts;
    PSBufferSuite1 *buffers;
    Ptr tileMask;
    Rect previewRect;
    uint8_t *previewOriginal;
    float zoom;
    int32_t panX;
    int32_t panY;
    uint8_t *previewMask;
    uint8_t *previewShown;
    uint8_t *previewResult;

    // What the host offers this start call: chosen from the record and the
    // suites held at the start of the call, and kept until it ends.
    const HostServices &Services() const { return services; }
    void ChooseServices();
    // Where the host reports nothing itself, tells the user what the
    // negative result code of the call means and reports 1 instead.
    void TellUserOfFailure();

private:
    class StartScope;

    HWND HostWindow() const;
    bool RefuseUnsupportedDocument();
    // The document's planes are red, green, blue and transparency: a layer
    // with transparency, which hosts other than the original hand as four
    // planes. Only the colour is asked for and filtered; the transparency
    // stays as it is, and the preview shows the colour over it.
    bool HandsTransparency() const;
    // Empties the three rectangles, so that the host asks for nothing more.
    void EmptyRectangles();
    // The document's bits per sample: a host that leaves the record's depth
    // at 0 means the mode's own.
    int32_t DocumentDepth() const;
    void DisposePorts();
    // The causes of a failure that the user is told of where the host says
    // nothing; the result code is set with it.
    enum class Failure { None, NoImageData, NothingDelivered, HostError, OutOfMemory, DialogFailed };
    void Fail(Failure cause, int16_t code);
    // The preview's read of the document from the image data advanceState
    // delivers, in bands of rows reduced as the host's scaled reads reduce.
    bool ReadDelivered(const Rect &sourceRect, const Rect &destinationRect, uint8_t *buffer, uint8_t *alpha);
    // Draws the preview on the paint's device context where the host has no
    // displayPixels.
    void DrawPreview(HDC dc, const uint8_t *pixels, int32_t columnBytes, int32_t x, int32_t y, int32_t width,
                     int32_t height);
    // A block's mask (made and smoothed; false when the host's smoothing
    // failed) and its blend; RenderLaidOut does both.
    void RenderLaidOut(const void *source, void *destination, uint8_t *mask, const engine::BlockLayout &layout);
    bool MakeMask(const void *source, uint8_t *mask, const engine::BlockLayout &layout);
    void BlendLaidOut(const void *source, void *destination, const uint8_t *mask, const engine::BlockLayout &layout);
    bool SmoothMask(uint8_t *mask, int32_t width, int32_t height);

    HostServices services;
    Failure failure = Failure::None;
    // The module's own smoothing, its memory kept for a start call.
    engine::MaskSmoother ownSmoother;
    engine::BandedScaledRead deliveredRead;
    // The preview asked advanceState for image data: the run first asks for
    // an empty rectangle, so that a host that caches by rectangle does not
    // hand the preview's data back.
    bool deliveredForPreview = false;
    std::vector<uint8_t> drawBits;  // the preview as a bitmap, when the module draws it
    // The document carries transparency after its colour (chosen at the
    // start call): the preview keeps it beside the colour, at preview scale,
    // and shows the chosen view composited over a checkerboard.
    bool transparency = false;
    uint8_t *previewAlpha = nullptr;    // one byte a preview pixel
    uint8_t *previewDisplay = nullptr;  // four bytes a preview pixel, what is drawn
    MemoryBlock transparencyBuffers[2];
    // The preview's transparency as the document's read fills it: scaled
    // from the document's transparency channel, or opaque where there is none.
    void ReadTransparency(const Rect &sourceRect, const Rect &destinationRect);
    // The pixels drawn for the chosen view, and their bytes a pixel.
    const uint8_t *DisplayedPixels(int32_t width, int32_t height, int32_t *columnBytes);

    // What the fields above point into while a start call holds it.
    MemoryBlock tileMaskBuffer;
    MemoryBlock previewBuffers[3];
    int64_t previewCapacity;  // bytes of each preview buffer: no paint writes beyond
    // The rectangles the ports were made with: a block that does not fit
    // gets new ports.
    VRect portABounds;
    VRect portBBounds;
    // What the preview buffers hold, so that a paint redoes only what its
    // change needs: a new view reads the document again, a new bias makes
    // the mask again, and a new gamma or contrast only blends again.
    struct PreviewCache {
        bool originalValid = false;  // previewOriginal holds `source` read at `size`
        Rect source{}, size{};
        bool maskValid = false;  // previewMask holds the smoothed mask of it for `bias`
        float bias = 0;
    } previewCache;
    bool compositeReadFailed = false;  // the last ReadComposite read nothing, or not all
    // The mask and tone tables, rebuilt only when the bias, gamma, contrast
    // or depth change.
    engine::MaskCurve maskCurve;
    engine::ToneCurve toneCurve;
};

extern FilterContext gFilterContext;
