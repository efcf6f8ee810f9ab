#include "ui/PreviewGeometry.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

// Truncates toward zero after clamping into the 32-bit range, so that no
// conversion is ever out of range (a NaN gives 0).
int32_t Truncate(double v)
{
    if (!(v == v))
        return 0;
    v = std::min(std::max(v, double(std::numeric_limits<int32_t>::min())),
                 double(std::numeric_limits<int32_t>::max()));
    return static_cast<int32_t>(v);
}

} // namespace

int16_t To16(int32_t v)
{
    return static_cast<int16_t>(std::min<int32_t>(std::max<int32_t>(v, INT16_MIN), INT16_MAX));
}

PreviewSize FitPreview(int32_t areaWidth, int32_t areaHeight, int32_t documentWidth, int32_t documentHeight)
{
    PreviewSize size;
    if (documentWidth <= 0 || documentHeight <= 0 || areaWidth <= 0 || areaHeight <= 0)
        return size;
    const double s = 1.0 / std::max(documentWidth, documentHeight);
    size.width = Truncate(s * documentWidth * areaWidth);
    size.height = Truncate(s * documentHeight * areaHeight);
    return size;
}

double Magnification(float zoom)
{
    const double z = zoom;
    return (z * z + 1.0) * 0.5;
}

SourceRect UpdateView(ViewState *view, int32_t documentWidth, int32_t documentHeight, float zoom, int32_t panX,
                      int32_t panY, const PreviewSize &preview)
{
    const float docW = static_cast<float>(documentWidth);
    const float docH = static_cast<float>(documentHeight);
    if (view->viewCentreX == 0 || zoom == 1.0f) {
        view->viewCentreX = Truncate(docW * 0.5);
        view->viewCentreY = Truncate(docH * 0.5);
    }
    const double d = Magnification(zoom);
    if (preview.width > 0 && preview.height > 0) {
        view->viewCentreX = Truncate(view->viewCentreX + docW * (1.0 / d) / preview.width * (double(view->lastPanX) - panX));
        view->viewCentreY = Truncate(view->viewCentreY + docH * (1.0 / d) / preview.height * (double(view->lastPanY) - panY));
    }
    const double halfW = docW * 0.5 / d;
    const double halfH = docH * 0.5 / d;
    if (view->viewCentreX < halfW)
        view->viewCentreX = Truncate(halfW);
    if (view->viewCentreX > docW - halfW)
        view->viewCentreX = Truncate(docW - halfW);
    if (view->viewCentreY < halfH)
        view->viewCentreY = Truncate(halfH);
    if (view->viewCentreY > docH - halfH)
        view->viewCentreY = Truncate(docH - halfH);
    view->lastPanX = panX;
    view->lastPanY = panY;

    SourceRect r;
    r.top = Truncate(view->viewCentreY - halfH);
    r.left = Truncate(view->viewCentreX - halfW);
    r.bottom = Truncate(view->viewCentreY + halfH);
    r.right = Truncate(view->viewCentreX + halfW);
    return r;
}

ImageOrigin PlaceImage(int32_t areaLeft, int32_t areaTop, int32_t areaRight, int32_t areaBottom, int32_t clientX,
                       int32_t clientY, const PreviewSize &preview)
{
    ImageOrigin o;
    o.x = To16((areaLeft + areaRight - preview.width) / 2 - clientX);
    o.y = To16((areaTop + areaBottom - preview.height) / 2 - clientY);
    return o;
}

int16_t PlanesFromMode(int16_t mode, int16_t fallback)
{
    static const int16_t kPlanes[12] = {1, 1, 3, 3, 4, 3, 3, -1, 1, 3, 1, 3};
    if (mode < 0 || mode > 11 || kPlanes[mode] < 0)
        return fallback;
    return kPlanes[mode];
}
