#include "plugin/FilterContext.h"

#include <cstdio>

#include "ui/MainDialog.h"

namespace {

const char kAboutText[] = "Umbrolux version 1.0b";
const char kAboutCaption[] = "About Umbrolux";
const char kErrorCaption[] = "Error";
const char kModeMessage[] = "Only 8/16 bit RGB mode is supported.";
const char kLayerMessage[] = "Filter works on background layer only";
// Where a host other than the original hands planes that are not red, green,
// blue and at most one transparency.
const char kPlanesMessage[] =
    "Umbrolux filters RGB images with at most one transparency plane; the host handed %d planes.";
const char kLayerPlanesMessage[] =
    "Umbrolux filters RGB images with at most one transparency plane; the host handed %d planes "
    "(%d colour, %d transparency, %d other).";

const int32_t kParametersHandleSize = 6;

// What the user reads where the host reports nothing itself.
const char kNoImageDataMessage[] = "This host delivers no image data to filters, so Umbrolux cannot filter the image.";
const char kNothingDeliveredMessage[] = "The host delivered no image data for the filter to work on.";
const char kOutOfMemoryMessage[] = "There is not enough memory to filter the image.";
const char kHostErrorMessage[] = "The host reported error %d while delivering the image.";
const char kDialogFailedMessage[] = "The filter's dialog could not be opened.";
const char kOtherFailureMessage[] = "Umbrolux could not filter the image (error %d).";

// The two suites of a start call, acquired in order and released in the
// same order; a host may offer either without the other.
class StartSuites {
public:
    explicit StartSuites(SPBasicSuite *basic)
        : ports(basic, kPSChannelPortsSuite, kPSChannelPortsSuiteVersion3),
          buffers(basic, kPSBufferSuite, kPSBufferSuiteVersion1)
    {
    }
    ~StartSuites()
    {
        ports.Release();
        buffers.Release();
    }
    StartSuites(const StartSuites &) = delete;
    StartSuites &operator=(const StartSuites &) = delete;

    SuiteLease ports;
    SuiteLease buffers;
};

} // namespace

// Everything a start call acquires through the suites, given back however the
// call ends: the preview buffers (the dialog frees them on OK and Cancel, but
// its modal loop can end other ways), the tile mask and the scratch ports.
class FilterContext::StartScope {
public:
    explicit StartScope(FilterContext &context) : context_(context) {}
    ~StartScope()
    {
        context_.FreePreviewBuffers();
        context_.FreeTileMask();
        context_.DisposePorts();
        context_.ownSmoother.Release();
        context_.deliveredRead.Clear();
        context_.channelPorts = nullptr;
        context_.buffers = nullptr;
        context_.services = HostServices();
        context_.transparency = false;
    }
    StartScope(const StartScope &) = delete;
    StartScope &operator=(const StartScope &) = delete;

private:
    FilterContext &context_;
};

FilterContext::FilterContext()
    : filterRecord(nullptr),
      data(nullptr),
      result(nullptr),
      moduleInstance(nullptr),
      portA(nullptr),
      portB(nullptr),
      channelPorts(nullptr),
      buffers(nullptr),
      tileMask(nullptr),
      previewRect(),
      previewOriginal(nullptr),
      zoom(1.0f),
      panX(0),
      panY(0),
      previewMask(nullptr),
      previewShown(nullptr),
      previewResult(nullptr),
      previewCapacity(0),
      portABounds(),
      portBBounds()
{
}

FilterContext::~FilterContext() = default;

void FilterContext::DoAbout()
{
    MessageBoxA(nullptr, kAboutText, kAboutCaption, MB_OK);
}

void FilterContext::DoParameters()
{
    if (filterRecord->parameters != nullptr)
        return;
    // The handle's contents are never used: a host without handle
    // procedures simply holds none.
    const HandleProcs *procs = filterRecord->handleProcs;
    if (procs == nullptr || procs->newProc == nullptr)
        return;
    filterRecord->parameters = procs->newProc(kParametersHandleSize);
    if (filterRecord->parameters == nullptr)
        *result = memFullErr;
}

void FilterContext::DoPrepare()
{
    filterRecord->bufferSpace = 0;
    filterRecord->maxSpace = 0;
    *result = noErr;
}

void FilterContext::DoStart()
{
    *result = noErr;
    failure = Failure::None;
    if (RefuseUnsupportedDocument())
        return;
    transparency = HandsTransparency();

    StartSuites suites(filterRecord->sSPBasic);
    channelPorts = suites.ports.As<PSChannelPortsSuite3>();
    buffers = suites.buffers.As<PSBufferSuite1>();
    StartScope scope(*this);
    // Whatever else the host lacks, the module does itself; without image
    // data there is nothing to filter.
    ChooseServices();
    if (!services.delivers) {
        Fail(Failure::NoImageData, errPlugInHostInsufficient);
        return;
    }

    const int choice = RunMainDialog(*this, HostWindow());
    if (choice == IDOK)
        ApplyWholeImage();
    else if (choice == IDCANCEL)
        *result = 1;
    else if (choice == kDialogOutOfMemory)
        *result = memFullErr;
    else
        Fail(Failure::DialogFailed, genericErr);  // the dialog could not be created, or failed
    // The last tile's output is written: a host other than the original
    // stores it with a call of its own, and one that finds a rectangle still
    // set fetches the unfiltered pixels again over it.
    if (!services.continueEndsRun)
        EmptyRectangles();
}

void FilterContext::DoContinue()
{
    *result = noErr;
    EmptyRectangles();
}

void FilterContext::EmptyRectangles()
{
    filterRecord->inRect = Rect();
    filterRecord->outRect = Rect();
    filterRecord->maskRect = Rect();
}

void FilterContext::DoFinish()
{
    *result = noErr;
}

HWND FilterContext::HostWindow() const
{
    const auto *platform = static_cast<const PlatformData *>(filterRecord->platformData);
    return platform != nullptr ? static_cast<HWND>(platform->hwnd) : nullptr;
}

bool FilterContext::HandsTransparency() const
{
    const FilterRecord &r = *filterRecord;
    if (r.hostSig == kPhotoshopSignature || r.planes != 4)
        return false;
    // Red, green, blue and their transparency, as the layer fields say; a
    // host that leaves them at 0 hands its four planes as such all the same.
    const bool described = r.inLayerPlanes == 3 && r.inTransparencyMask == 1;
    const bool undescribed = r.inLayerPlanes == 0 && r.inTransparencyMask == 0 && r.inNonLayerPlanes == 0;
    return described || undescribed;
}

bool FilterContext::RefuseUnsupportedDocument()
{
    char text[200] = {};
    if (filterRecord->imageMode != plugInModeRGBColor && filterRecord->imageMode != plugInModeRGB48) {
        std::snprintf(text, sizeof text, "%s", kModeMessage);
    } else if (filterRecord->planes != 3 && !HandsTransparency()) {
        // Only the original host has a background layer to point the user to;
        // elsewhere the message says what the host handed.
        const FilterRecord &r = *filterRecord;
        const int other = r.inNonLayerPlanes + r.inLayerMasks + r.inInvertedLayerMasks;
        if (r.hostSig == kPhotoshopSignature)
            std::snprintf(text, sizeof text, "%s", kLayerMessage);
        else if (r.inLayerPlanes == 0 && r.inTransparencyMask == 0 && other == 0)
            std::snprintf(text, sizeof text, kPlanesMessage, int(r.planes));
        else
            std::snprintf(text, sizeof text, kLayerPlanesMessage, int(r.planes), int(r.inLayerPlanes),
                          int(r.inTransparencyMask), other);
    } else if (DocumentDepth() != 8 && DocumentDepth() != 16) {
        std::snprintf(text, sizeof text, "%s", kModeMessage);
    }
    if (text[0] == 0)
        return false;

    MessageBoxA(HostWindow(), text, kErrorCaption, MB_OK | MB_ICONINFORMATION);
    *result = 1;
    return true;
}

void FilterContext::ChooseServices()
{
    services = HostServices::Choose(*filterRecord, channelPorts, buffers);
    deliveredForPreview = false;
}

int32_t FilterContext::DocumentDepth() const
{
    if (filterRecord->depth == 0)
        return filterRecord->imageMode == plugInModeRGB48 ? 16 : 8;
    return filterRecord->depth;
}

void FilterContext::Fail(Failure cause, int16_t code)
{
    failure = cause;
    *result = code;
}

void FilterContext::TellUserOfFailure()
{
    const Failure cause = failure;
    failure = Failure::None;
    if (filterRecord == nullptr || *result >= 0 || filterRecord->hostSig == kPhotoshopSignature)
        return;
    char text[160];
    const int code = *result;
    if (code == memFullErr || cause == Failure::OutOfMemory)
        std::snprintf(text, sizeof text, "%s", kOutOfMemoryMessage);
    else if (cause == Failure::NoImageData)
        std::snprintf(text, sizeof text, "%s", kNoImageDataMessage);
    else if (cause == Failure::NothingDelivered)
        std::snprintf(text, sizeof text, "%s", kNothingDeliveredMessage);
    else if (cause == Failure::HostError)
        std::snprintf(text, sizeof text, kHostErrorMessage, code);
    else if (cause == Failure::DialogFailed)
        std::snprintf(text, sizeof text, "%s", kDialogFailedMessage);
    else
        std::snprintf(text, sizeof text, kOtherFailureMessage, code);
    MessageBoxA(HostWindow(), text, kErrorCaption, MB_OK | MB_ICONERROR);
    // Such a host ignores negative codes or shows them as something else:
    // the user has been told.
    *result = 1;
}

void FilterContext::DisposePorts()
{
    const bool canDispose = channelPorts != nullptr && channelPorts->Dispose != nullptr;
    if (portA != nullptr && canDispose)
        channelPorts->Dispose(&portA);
    if (portB != nullptr && canDispose)
        channelPorts->Dispose(&portB);
    portA = nullptr;
    portB = nullptr;
}
