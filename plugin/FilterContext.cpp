#include "plugin/FilterContext.h"

#include "ui/MainDialog.h"

namespace {

const char kAboutText[] = "Umbrolux version 1.0b";
const char kAboutCaption[] = "About Umbrolux";
const char kErrorCaption[] = "Error";
const char kModeMessage[] = "Only 8/16 bit RGB mode is supported.";
const char kLayerMessage[] = "Filter works on background layer only";

const int32_t kParametersHandleSize = 6;

// The two suites of a start call, acquired in order (the buffer suite only
// when the channel-ports suite was had) and released in the same order.
class StartSuites {
public:
    explicit StartSuites(SPBasicSuite *basic)
        : ports(basic, kPSChannelPortsSuite, kPSChannelPortsSuiteVersion3),
          buffers(ports.As<void>() != nullptr ? basic : nullptr, kPSBufferSuite, kPSBufferSuiteVersion1)
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
        context_.channelPorts = nullptr;
        context_.buffers = nullptr;
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
    const HandleProcs *procs = filterRecord->handleProcs;
    if (procs == nullptr || procs->numHandleProcs < 1 || procs->newProc == nullptr) {
        // A host without handle procedures cannot hold the parameters.
        *result = errPlugInHostInsufficient;
        return;
    }
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
    if (RefuseUnsupportedDocument())
        return;

    StartSuites suites(filterRecord->sSPBasic);
    channelPorts = suites.ports.As<PSChannelPortsSuite3>();
    buffers = suites.buffers.As<PSBufferSuite1>();
    StartScope scope(*this);
    if (!HostHasRequiredServices()) {
        *result = errPlugInHostInsufficient;
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
        *result = genericErr;  // the dialog could not be created, or failed
}

void FilterContext::DoContinue()
{
    *result = noErr;
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

bool FilterContext::RefuseUnsupportedDocument()
{
    const char *message = nullptr;
    if (filterRecord->imageMode != plugInModeRGBColor && filterRecord->imageMode != plugInModeRGB48)
        message = kModeMessage;
    else if (filterRecord->planes != 3)
        message = kLayerMessage;
    else if (filterRecord->depth != 8 && filterRecord->depth != 16)
        message = kModeMessage;
    if (message == nullptr)
        return false;

    MessageBoxA(HostWindow(), message, kErrorCaption, MB_OK | MB_ICONINFORMATION);
    *result = 1;
    return true;
}

bool FilterContext::HostHasRequiredServices() const
{
    const PSChannelPortsSuite3 *ports = channelPorts;
    const PSBufferSuite1 *suite = buffers;
    return filterRecord->advanceState != nullptr && ports != nullptr && suite != nullptr &&
           ports->CanRead != nullptr && ports->ReadScaledPixels != nullptr && ports->New != nullptr &&
           ports->Dispose != nullptr && ports->WritePixelsToBaseLevel != nullptr &&
           ports->ApplyOperation != nullptr && ports->ReadPixelsFromLevel != nullptr && suite->New != nullptr &&
           suite->Dispose != nullptr;
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
