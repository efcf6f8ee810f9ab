#include "plugin/FilterContext.h"

#include "ui/MainDialog.h"

namespace {

const char kAboutText[] = "Umbrolux version 1.0b";
const char kAboutCaption[] = "About Umbrolux";
const char kErrorCaption[] = "Error";
const char kModeMessage[] = "Only 8/16 bit RGB mode is supported.";
const char kLayerMessage[] = "Filter works on background layer only";

const int32_t kParametersHandleSize = 6;

// Acquires one suite through the basic suite. A host that answers success but
// hands back no suite lacks it all the same; what it did acquire is released
// so that its count stays balanced.
template <typename Suite>
bool AcquireSuite(SPBasicSuite *basic, const char *name, int32_t version, Suite **suite)
{
    *suite = nullptr;
    const void *acquired = nullptr;
    if (basic->AcquireSuite(name, version, &acquired) != 0)
        return false;
    if (acquired == nullptr) {
        basic->ReleaseSuite(name, version);
        return false;
    }
    *suite = static_cast<Suite *>(const_cast<void *>(acquired));
    return true;
}

} // namespace

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
      previewResult(nullptr)
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
    if (!AcquireSuites()) {
        *result = errPlugInHostInsufficient;
        return;
    }

    const int choice = RunMainDialog(*this, HostWindow());
    if (choice == IDOK)
        ApplyWholeImage();
    else if (choice == IDCANCEL)
        *result = 1;
    else
        *result = genericErr;  // the dialog could not be created

    DisposePorts();
    ReleaseSuites();
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

bool FilterContext::AcquireSuites()
{
    SPBasicSuite *basic = filterRecord->sSPBasic;
    if (basic == nullptr)
        return false;
    if (!AcquireSuite(basic, kPSChannelPortsSuite, kPSChannelPortsSuiteVersion3, &channelPorts))
        return false;
    if (!AcquireSuite(basic, kPSBufferSuite, kPSBufferSuiteVersion1, &buffers)) {
        basic->ReleaseSuite(kPSChannelPortsSuite, kPSChannelPortsSuiteVersion3);
        channelPorts = nullptr;
        return false;
    }
    return true;
}

void FilterContext::ReleaseSuites()
{
    SPBasicSuite *basic = filterRecord->sSPBasic;
    basic->ReleaseSuite(kPSChannelPortsSuite, kPSChannelPortsSuiteVersion3);
    basic->ReleaseSuite(kPSBufferSuite, kPSBufferSuiteVersion1);
    channelPorts = nullptr;
    buffers = nullptr;
}

void FilterContext::DisposePorts()
{
    if (portA != nullptr)
        channelPorts->Dispose(&portA);
    if (portB != nullptr)
        channelPorts->Dispose(&portB);
    portA = nullptr;
    portB = nullptr;
}
