// The preview's geometry as plain arithmetic over plain values: fitting the
// document into the preview area, the view centre that zoom and pan move and
// that stays inside the document, the document rectangle the view covers,
// and where the image sits in the dialog. The painting glue applies it.
#pragma once

#include <cstdint>

// The preview image's size in buffer pixels: the document's longer side
// spans the area along its own axis, each axis scaled by the area's extent.
struct PreviewSize {
    int32_t width = 0, height = 0;
};
PreviewSize FitPreview(int32_t areaWidth, int32_t areaHeight, int32_t documentWidth, int32_t documentHeight);

// The view state that lives as long as the module: the centre in document
// pixels (x 0 means "centre afresh") and the pan the previous paint used.
struct ViewState {
    int32_t viewCentreX = 0, viewCentreY = 0;
    int32_t lastPanX = 0, lastPanY = 0;
};

// A rectangle in document pixels.
struct SourceRect {
    int32_t top = 0, left = 0, bottom = 0, right = 0;
};

// The magnification D of a zoom step z: (z * z + 1) / 2.
double Magnification(float zoom);

// One paint's view: centres afresh when asked (or at zoom 1), moves the
// centre against the pan since the previous paint, keeps the view inside the
// document, records the pan as used, and returns the covered rectangle.
// A preview of no pixels consumes the pan without moving.
SourceRect UpdateView(ViewState *view, int32_t documentWidth, int32_t documentHeight, float zoom, int32_t panX,
                      int32_t panY, const PreviewSize &preview);

// The image's top left corner in the dialog's client coordinates: centred in
// the preview area (given in screen coordinates), less the client origin.
struct ImageOrigin {
    int16_t x = 0, y = 0;
};
ImageOrigin PlaceImage(int32_t areaLeft, int32_t areaTop, int32_t areaRight, int32_t areaBottom, int32_t clientX,
                       int32_t clientY, const PreviewSize &preview);

// A coordinate as the host's 16-bit rectangles hold it: clamped, never
// wrapped.
int16_t To16(int32_t v);

// The number of colour planes of a host image mode, or the fallback for
// modes without a fixed count (multichannel, unknown).
int16_t PlanesFromMode(int16_t mode, int16_t fallback);
