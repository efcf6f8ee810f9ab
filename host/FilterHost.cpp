#include "host/FilterHost.h"

#include <shellapi.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "host/HostPort.h"
#include "host/ImportPatch.h"

namespace {

FilterHost *gActiveHost = nullptr;

const SPErr kSuiteNotFound = 0x53214664;  // 'S!Fd'

const char *SelectorName(int16_t selector)
{
    switch (selector) {
    case filterSelectorAbout: return "about";
    case filterSelectorParameters: return "parameters";
    case filterSelectorPrepare: return "prepare";
    case filterSelectorStart: return "start";
    case filterSelectorContinue: return "continue";
    case filterSelectorFinish: return "finish";
    default: return "unknown";
    }
}

bool Empty(const Rect &r)
{
    return r.bottom <= r.top || r.right <= r.left;
}

std::string RectText(const Rect &r)
{
    return "(" + std::to_string(r.top) + "," + std::to_string(r.left) + "," + std::to_string(r.bottom) +
           "," + std::to_string(r.right) + ")";
}

// ---- callbacks in the record ----------------------------------------------

extern "C" Boolean PI_CDECL HostAbort()
{
    FilterHost *host = FilterHost::Active();
    return host != nullptr ? host->Abort() : 0;
}

extern "C" void PI_CDECL HostProgress(int32_t done, int32_t total)
{
    if (FilterHost *host = FilterHost::Active())
        host->Progress(done, total);
}

extern "C" OSErr PI_CDECL HostAdvanceState()
{
    FilterHost *host = FilterHost::Active();
    return host != nullptr ? host->AdvanceState() : OSErr(genericErr);
}

extern "C" OSErr PI_CDECL HostDisplayPixels(const PSPixelMap *source, const VRect *srcRect, int32_t dstRow,
                                             int32_t dstCol, void *platformContext)
{
    FilterHost *host = FilterHost::Active();
    if (host == nullptr || source == nullptr || srcRect == nullptr)
        return paramErr;
    return host->DisplayPixels(*source, *srcRect, dstRow, dstCol, static_cast<HDC>(platformContext));
}

extern "C" void PI_CDECL HostProcessEvent(void *) {}

// ---- handle procedures -----------------------------------------------------

extern "C" Handle PI_CDECL HandleNew(int32_t size)
{
    FilterHost *host = FilterHost::Active();
    return host != nullptr ? host->NewHandle(size) : nullptr;
}

extern "C" void PI_CDECL HandleDispose(Handle h)
{
    if (FilterHost *host = FilterHost::Active())
        host->DisposeHandle(h);
}

struct HandleBlock {
    Ptr data;  // the master pointer; a handle points here
    int32_t size;
};

HandleBlock *BlockOf(Handle h)
{
    return reinterpret_cast<HandleBlock *>(h);
}

extern "C" int32_t PI_CDECL HandleGetSize(Handle h)
{
    FilterHost *host = FilterHost::Active();
    return host != nullptr && host->OwnsHandle(h) ? BlockOf(h)->size : 0;
}

extern "C" OSErr PI_CDECL HandleSetSize(Handle h, int32_t size)
{
    FilterHost *host = FilterHost::Active();
    if (host == nullptr || !host->OwnsHandle(h) || size < 0)
        return paramErr;
    char *data = static_cast<char *>(std::realloc(BlockOf(h)->data, size_t(size) + 1));
    if (data == nullptr)
        return memFullErr;
    BlockOf(h)->data = data;
    BlockOf(h)->size = size;
    host->Log(EventKind::Handle, "setSize " + std::to_string(size));
    return noErr;
}

extern "C" Ptr PI_CDECL HandleLock(Handle h, Boolean)
{
    FilterHost *host = FilterHost::Active();
    return host != nullptr && host->OwnsHandle(h) ? *h : nullptr;
}

extern "C" void PI_CDECL HandleUnlock(Handle) {}
extern "C" void PI_CDECL HandleRecoverSpace(int32_t) {}

// ---- basic suite -----------------------------------------------------------

extern "C" SPErr PI_CDECL BasicAcquire(const char *name, int32_t version, const void **suite)
{
    FilterHost *host = FilterHost::Active();
    return host != nullptr ? host->AcquireSuite(name, version, suite) : kSuiteNotFound;
}

extern "C" SPErr PI_CDECL BasicRelease(const char *name, int32_t version)
{
    FilterHost *host = FilterHost::Active();
    return host != nullptr ? host->ReleaseSuite(name, version) : kSuiteNotFound;
}

extern "C" int32_t PI_CDECL BasicIsEqual(const char *a, const char *b)
{
    return a != nullptr && b != nullptr && std::strcmp(a, b) == 0;
}

extern "C" SPErr PI_CDECL BasicAllocate(int32_t size, void **block)
{
    *block = size >= 0 ? std::malloc(size_t(size) + 1) : nullptr;
    return *block != nullptr ? 0 : memFullErr;
}

extern "C" SPErr PI_CDECL BasicFree(void *block)
{
    std::free(block);
    return 0;
}

extern "C" SPErr PI_CDECL BasicReallocate(void *block, int32_t size, void **newBlock)
{
    *newBlock = size >= 0 ? std::realloc(block, size_t(size) + 1) : nullptr;
    return *newBlock != nullptr ? 0 : memFullErr;
}

extern "C" SPErr PI_CDECL BasicUndefined()
{
    return -1;  // nothing is undefined here
}

// ---- buffer suite ----------------------------------------------------------

extern "C" Ptr PI_CDECL BufferNew(uint32_t *requested, uint32_t minimum)
{
    FilterHost *host = FilterHost::Active();
    return host != nullptr ? host->NewBuffer(requested, minimum) : nullptr;
}

extern "C" void PI_CDECL BufferDispose(Ptr *buffer)
{
    if (FilterHost *host = FilterHost::Active())
        host->DisposeBuffer(buffer);
}

extern "C" uint32_t PI_CDECL BufferGetSize(Ptr buffer)
{
    FilterHost *host = FilterHost::Active();
    return host != nullptr ? host->BufferSize(buffer) : 0;
}

extern "C" uint32_t PI_CDECL BufferGetSpace()
{
    return 1u << 30;
}

// The module's registry handles, watched through its imports so that a key
// left open shows up as a leak.
LONG WINAPI WatchedRegCreateKeyA(HKEY parent, LPCSTR path, PHKEY key)
{
    if (FilterHost *host = FilterHost::Active())
        if (host->behaviour.refuseMachineKey && parent == HKEY_LOCAL_MACHINE) {
            host->Log(EventKind::Registry, std::string("refused HKEY_LOCAL_MACHINE\\") + (path != nullptr ? path : ""));
            if (key != nullptr)
                *key = nullptr;
            return ERROR_ACCESS_DENIED;
        }
    const LONG answer = RegCreateKeyA(parent, path, key);
    if (FilterHost *host = FilterHost::Active())
        if (answer == ERROR_SUCCESS)
            host->KeyOpened(*key, path != nullptr ? path : "");
    return answer;
}

LONG WINAPI WatchedRegOpenKeyExA(HKEY parent, LPCSTR path, DWORD options, REGSAM access, PHKEY key)
{
    const LONG answer = RegOpenKeyExA(parent, path, options, access, key);
    if (FilterHost *host = FilterHost::Active())
        if (answer == ERROR_SUCCESS)
            host->KeyOpened(*key, path != nullptr ? path : "");
    return answer;
}

LONG WINAPI WatchedRegCloseKey(HKEY key)
{
    if (FilterHost *host = FilterHost::Active())
        host->KeyClosed(key);
    return RegCloseKey(key);
}

// Beeps and the shell leave nothing else to check: the module's calls are
// recorded on their way through.
BOOL WINAPI WatchedMessageBeep(UINT type)
{
    if (FilterHost *host = FilterHost::Active())
        host->Beeped(type);
    return MessageBeep(type);  // and a person at the display hears it
}

HINSTANCE WINAPI WatchedShellExecuteA(HWND owner, LPCSTR verb, LPCSTR file, LPCSTR parameters, LPCSTR folder,
                                      INT show)
{
    FilterHost *host = FilterHost::Active();
    if (host == nullptr)
        return reinterpret_cast<HINSTANCE>(SE_ERR_NOASSOC);
    return host->ShellExecuted(owner, verb, file, parameters, folder, show);
}

// The module's heap, refused on request while its start call runs.
void *__cdecl WatchedMalloc(size_t size)
{
    if (FilterHost *host = FilterHost::Active())
        if (host->behaviour.failModuleMalloc && host->StartUnderWay()) {
            host->Log(EventKind::Failure, "malloc of " + std::to_string(size) + " refused as asked");
            return nullptr;
        }
    return std::malloc(size);
}

// Points the module's registry, beep, shell and heap calls at the watchers.
void WatchImports(HMODULE module)
{
    PatchImport(module, "advapi32.dll", "RegCreateKeyA", reinterpret_cast<void *>(WatchedRegCreateKeyA));
    PatchImport(module, "advapi32.dll", "RegOpenKeyExA", reinterpret_cast<void *>(WatchedRegOpenKeyExA));
    PatchImport(module, "advapi32.dll", "RegCloseKey", reinterpret_cast<void *>(WatchedRegCloseKey));
    PatchImport(module, "user32.dll", "MessageBeep", reinterpret_cast<void *>(WatchedMessageBeep));
    PatchImport(module, "shell32.dll", "ShellExecuteA", reinterpret_cast<void *>(WatchedShellExecuteA));
    PatchImport(module, "msvcrt.dll", "malloc", reinterpret_cast<void *>(WatchedMalloc));
}

LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    return DefWindowProcA(window, message, wParam, lParam);
}

HWND CreateMainWindow()
{
    static ATOM atom = 0;
    HINSTANCE instance = GetModuleHandleA(nullptr);
    if (atom == 0) {
        WNDCLASSA wc = {};
        wc.lpfnWndProc = MainWindowProc;
        wc.hInstance = instance;
        wc.hCursor = LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW));
        wc.lpszClassName = "UmbroluxFilterHost";
        atom = RegisterClassA(&wc);
    }
    return CreateWindowA("UmbroluxFilterHost", "Filter host", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                         CW_USEDEFAULT, 640, 480, nullptr, nullptr, instance, nullptr);
}

} // namespace

const char *EventKindName(EventKind kind)
{
    switch (kind) {
    case EventKind::Selector: return "selector";
    case EventKind::Suite: return "suite";
    case EventKind::Handle: return "handle";
    case EventKind::Buffer: return "buffer";
    case EventKind::Port: return "port";
    case EventKind::Window: return "window";
    case EventKind::Progress: return "progress";
    case EventKind::Advance: return "advance";
    case EventKind::Registry: return "registry";
    default: return "failure";
    }
}

FilterHost *FilterHost::Active()
{
    return gActiveHost;
}

FilterHost::Session::Session(FilterHost *host) : previous_(gActiveHost)
{
    gActiveHost = host;
}

FilterHost::Session::~Session()
{
    gActiveHost = previous_;
}

FilterHost::FilterHost() : record_(), platform_(), handleProcs_(), basicSuite_(), bufferSuite_(),
                           documentInfo_()
{
    mainWindow_ = CreateMainWindow();
    platform_.hwnd = mainWindow_;
    windows.Install();
    // A user who opens the filter's dialog and accepts the values it shows.
    windows.dialogHandler = [this](HWND dialog) {
        char caption[128] = {};
        GetWindowTextA(dialog, caption, sizeof caption);
        Log(EventKind::Window, std::string("dialog \"") + caption + "\": OK");
        if (HWND ok = GetDlgItem(dialog, IDOK))
            PostMessageA(ok, BM_CLICK, 0, 0);
        else
            PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
    };
    windows.onMessageBox = [this](const MessageBoxSeen &box) {
        std::string owner = box.owner == nullptr ? "no owner" : box.owner == mainWindow_ ? "the host window" : "another window";
        Log(EventKind::Window, "message box \"" + box.caption + "\": \"" + box.text + "\" (icon " +
                                   MessageBoxIconName(box.icon) + ", " + owner + ")");
    };

    handleProcs_.handleProcsVersion = kCurrentHandleProcsVersion;
    handleProcs_.numHandleProcs = kCurrentHandleProcsCount;
    handleProcs_.newProc = HandleNew;
    handleProcs_.disposeProc = HandleDispose;
    handleProcs_.getSizeProc = HandleGetSize;
    handleProcs_.setSizeProc = HandleSetSize;
    handleProcs_.lockProc = HandleLock;
    handleProcs_.unlockProc = HandleUnlock;
    handleProcs_.recoverSpaceProc = HandleRecoverSpace;
    handleProcs_.disposeRegularHandleProc = HandleDispose;

    basicSuite_ = {BasicAcquire, BasicRelease, BasicIsEqual, BasicAllocate,
                   BasicFree, BasicReallocate, BasicUndefined};
    bufferSuite_ = {BufferNew, BufferDispose, BufferGetSize, BufferGetSpace};
}

FilterHost::~FilterHost()
{
    Unload();
    ReleaseParameters();
    windows.Uninstall();
    if (mainWindow_ != nullptr)
        DestroyWindow(mainWindow_);
}

bool FilterHost::Load(const std::string &modulePath, std::string *error)
{
    Unload();
    module_ = LoadLibraryA(modulePath.c_str());
    if (module_ == nullptr) {
        if (error != nullptr)
            *error = "cannot load " + modulePath + " (error " + std::to_string(GetLastError()) + ")";
        return false;
    }
    // The host's own executable, named as a module, is the host itself: its
    // imports stay as they are (the watchers call through them).
    if (module_ != GetModuleHandleA(nullptr))
        WatchImports(module_);
    // A host looks at the resources only: a module without a usable
    // property list is not a filter, whatever it exports.
    catalog_ = ReadModuleCatalog(module_);
    loadWarnings.clear();
    for (const FilterResource &f : catalog_.filters) {
        if (!f.valid)
            loadWarnings.push_back("property list " + f.resourceName + " is malformed: " + f.error);
        else if (!f.terminologyError.empty())
            loadWarnings.push_back("property list " + f.resourceName + ": " + f.terminologyError);
    }
    const FilterResource *filter = catalog_.FirstFilter();
    std::string refusal;
    std::string entryName;
    if (filter == nullptr) {
        refusal = catalog_.filters.empty() ? " is not a filter: it has no property list (PiPL resource)"
                                           : " is not a filter: no property list of it can be used";
    } else {
        entryName = EntryPointFor(filter->list);
        if (entryName.empty())
            refusal = std::string(" cannot run in this host: its property list has no ") + EntryPointKey() +
                      " entry point";
    }
    if (refusal.empty()) {
        entry_ = reinterpret_cast<PluginEntryProc>(
            reinterpret_cast<void (*)()>(GetProcAddress(module_, entryName.c_str())));
        if (entry_ == nullptr)
            refusal = " does not export " + entryName + ", the entry point its property list names";
    }
    if (!refusal.empty()) {
        if (error != nullptr) {
            *error = modulePath + refusal;
            for (const std::string &w : loadWarnings)
                *error += "; " + w;
        }
        FreeLibrary(module_);
        module_ = nullptr;
        catalog_ = ModuleCatalog();
        return false;
    }
    return true;
}

void FilterHost::Unload()
{
    if (module_ != nullptr)
        FreeLibrary(module_);
    module_ = nullptr;
    entry_ = nullptr;
    catalog_ = ModuleCatalog();
}

pipl::Enablement FilterHost::EnabledFor(const Document &document) const
{
    const FilterResource *filter = catalog_.FirstFilter();
    if (filter == nullptr)
        return pipl::Enablement{false, "no filter is loaded"};
    pipl::Enablement e = pipl::EnabledFor(filter->list, document.mode, ImageModeName(document.mode));
    if (!e.enabled)
        return e;
    const int filterCase = pipl::FilterCaseFor(!document.selection.empty(), document.hasTransparency);
    if (pipl::CaseHandling(filter->list, filterCase).inputHandling == pipl::kHandlingCantFilter)
        return pipl::Enablement{false, "it cannot filter this kind of layer (filter case " +
                                           std::to_string(filterCase) + ")"};
    return e;
}

void FilterHost::Log(EventKind kind, std::string text)
{
    events.push_back(HostEvent{kind, std::move(text)});
}

size_t FilterHost::CountEventsFrom(size_t start, EventKind kind, const std::string &prefix) const
{
    size_t n = 0;
    for (size_t i = start; i < events.size(); ++i)
        if (events[i].kind == kind && events[i].text.compare(0, prefix.size(), prefix) == 0)
            ++n;
    return n;
}

size_t FilterHost::CountEvents(EventKind kind, const std::string &prefix) const
{
    return CountEventsFrom(0, kind, prefix);
}

size_t FilterHost::CountEventsAfterDialog(EventKind kind, const std::string &prefix) const
{
    size_t start = 0;
    for (size_t i = 0; i < events.size(); ++i)
        if (events[i].kind == EventKind::Window && events[i].text.compare(0, 7, "dialog ") == 0)
            start = i + 1;
    return CountEventsFrom(start, kind, prefix);
}

double FilterHost::Now()
{
    static LARGE_INTEGER frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f;
    }();
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return double(now.QuadPart) / double(frequency.QuadPart);
}

int16_t FilterHost::Call(int16_t selector, void *paramBlock)
{
    Session session(this);
    intptr_t data = 0;
    int16_t result = 0x7A7A;  // a value the plug-in must overwrite
    {
        Stopwatch stopwatch(&timing.selectors);
        entry_(selector, paramBlock, &data, &result);
    }
    Log(EventKind::Selector, std::string(SelectorName(selector)) + " -> " + std::to_string(result));
    return result;
}

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
        auto port = std::make_unique<HostPort>();
        port->name = kNames[p < 4 ? p : 4];
        port->view = RasterView{document.planes[size_t(p)].data(), documentInfo_.bounds, document.depth};
        ReadChannelDesc &desc = channelDescs_[size_t(p)];
        desc.minVersion = 0;
        desc.maxVersion = 1;
        desc.port = port.get();
        desc.bounds = documentInfo_.bounds;
        desc.depth = document.depth;
        desc.tileSize = VPoint{256, 256};
        desc.target = 1;
        desc.shown = 1;
        desc.channelType = int16_t(p < 3 ? p + 1 : 0);
        desc.name = kNames[p < 4 ? p : 4];
        ports_.push_back(std::move(port));
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
    r.abortProc = HostAbort;
    r.progressProc = HostProgress;
    r.parameters = parameters_;
    r.imageSize = Point{height, width};
    r.planes = int16_t(document.PlaneCount());
    r.filterRect = Rect{0, 0, height, width};
    r.background = RGBColor{0xFFFF, 0xFFFF, 0xFFFF};
    r.foreground = RGBColor{0, 0, 0};
    r.maxSpace = 1 << 30;
    r.backColor[0] = r.backColor[1] = r.backColor[2] = 255;
    r.hostSig = MakeOSType('U', 'M', 'B', 'X');
    r.imageMode = document.mode;
    r.imageHRes = r.imageVRes = 72 << 16;
    r.wholeSize = r.imageSize;
    r.platformData = &platform_;
    r.processEvent = HostProcessEvent;
    r.displayPixels = HostDisplayPixels;
    r.handleProcs = behaviour.noHandleProcs ? nullptr : &handleProcs_;
    r.filterCase = int16_t(pipl::FilterCaseFor(!document.selection.empty(), document.hasTransparency));
    r.advanceState = HostAdvanceState;
    r.supportsAbsolute = 1;
    r.inputRate = r.maskRate = 1 << 16;
    const int16_t layerPlanes = int16_t(document.PlaneCount() - (document.hasTransparency ? 1 : 0));
    r.inLayerPlanes = r.outLayerPlanes = r.absLayerPlanes = layerPlanes;
    r.inTransparencyMask = r.outTransparencyMask = r.absTransparencyMask = document.hasTransparency ? 1 : 0;
    const int32_t sampleBytes = document.depth == 16 ? 2 : 1;
    r.inColumnBytes = r.outColumnBytes = sampleBytes * document.PlaneCount();
    r.inPlaneBytes = r.outPlaneBytes = sampleBytes;
    r.inTileHeight = r.outTileHeight = r.absTileHeight = r.maskTileHeight = int16_t(behaviour.tileHeight);
    r.inTileWidth = r.outTileWidth = r.absTileWidth = r.maskTileWidth = int16_t(behaviour.tileWidth);
    r.haveMask = document.selection.empty() ? 0 : 1;
    r.documentInfo = behaviour.noDocumentInfo ? nullptr : &documentInfo_;
    r.sSPBasic = behaviour.noBasicSuite ? nullptr : &basicSuite_;
    r.depth = document.depth;
    if (behaviour.staleTileLayout) {
        // What an earlier filter's last tile left: rows far longer than the
        // preview's, and a one-row selection.
        r.inRowBytes = r.outRowBytes = 1 << 20;
        staleSelection_.assign(64, 0xFF);
        r.maskData = staleSelection_.data();
        r.maskRowBytes = 1 << 20;
    }

    servedBufferSuite_ = bufferSuite_;
    servedPortsSuite_ = ChannelPortsSuite();
    const std::string &missing = behaviour.missingEntry;
    if (missing == "advanceState") r.advanceState = nullptr;
    else if (missing == "progressProc") r.progressProc = nullptr;
    else if (missing == "abortProc") r.abortProc = nullptr;
    else if (missing == "displayPixels") r.displayPixels = nullptr;
    else if (missing == "buffers:New") servedBufferSuite_.New = nullptr;
    else if (missing == "buffers:Dispose") servedBufferSuite_.Dispose = nullptr;
    else if (missing == "ports:CanRead") servedPortsSuite_.CanRead = nullptr;
    else if (missing == "ports:ReadScaledPixels") servedPortsSuite_.ReadScaledPixels = nullptr;
    else if (missing == "ports:New") servedPortsSuite_.New = nullptr;
    else if (missing == "ports:Dispose") servedPortsSuite_.Dispose = nullptr;
    else if (missing == "ports:WritePixelsToBaseLevel") servedPortsSuite_.WritePixelsToBaseLevel = nullptr;
    else if (missing == "ports:ReadPixelsFromLevel") servedPortsSuite_.ReadPixelsFromLevel = nullptr;
    else if (missing == "ports:ApplyOperation") servedPortsSuite_.ApplyOperation = nullptr;
    else if (missing == "ports:GetDataBounds") servedPortsSuite_.GetDataBounds = nullptr;
}

void FilterHost::Attach(Document &document)
{
    Detach();
    abortCalls_ = 0;
    advanceCalls_ = 0;
    bufferCalls_ = 0;
    timing = Timing();
    pendingOut_ = Rect();
    document_ = &document;
    BuildDocumentInfo(document);
    BuildRecord(document);
}

void FilterHost::Detach()
{
    // The document's own ports go with it; the plug-in's ports are leaks
    // and stay listed until CheckLeaks reports them.
    for (auto it = ports_.begin(); it != ports_.end();)
        it = (*it)->createdByPlugin ? it + 1 : ports_.erase(it);
    channelDescs_.clear();
    document_ = nullptr;
}

void FilterHost::ReleaseParameters()
{
    if (parameters_ != nullptr && handles_.count(parameters_) != 0) {
        HandleBlock *block = BlockOf(parameters_);
        std::free(block->data);
        delete block;
        handles_.erase(parameters_);
    }
    parameters_ = nullptr;
}

RunReport FilterHost::Run(Document &document)
{
    RunReport report;
    if (!Loaded()) {
        report.failures.push_back("no module loaded");
        return report;
    }
    if (!behaviour.ignoreEnabling) {
        const pipl::Enablement enabled = EnabledFor(document);
        if (!enabled.enabled) {
            report.notEnabled = Filter()->list.name + " is not available for " +
                                std::string(ImageModeName(document.mode)) + " documents: " + enabled.reason;
            return report;
        }
    }
    Attach(document);
    report.filterCase = record_.filterCase;
    if (Filter() != nullptr)
        report.handling = pipl::CaseHandling(Filter()->list, report.filterCase);
    auto call = [&](int16_t selector) {
        const int16_t result = Call(selector, &record_);
        // The last tile's output goes into the document once the plug-in
        // returns, as the next advanceState would have done.
        CommitOutput();
        report.calls.push_back(SelectorCall{selector, result});
        report.result = result;
        return result;
    };

    bool ok = true;
    if (!behaviour.repeatLastFilter) {
        ok = call(filterSelectorParameters) == noErr;
        parameters_ = record_.parameters;
    }
    if (ok)
        ok = call(filterSelectorPrepare) == noErr;
    if (ok) {
        startBegan_ = Now();
        inStart_ = true;
        ok = call(filterSelectorStart) == noErr;
        inStart_ = false;
        if (startBegan_ >= 0)
            timing.dialog += Now() - startBegan_;
        startBegan_ = -1;
        // A quit message that ended the plug-in's modal loop is passed on
        // by the loop; it was meant for the plug-in's dialog, not the host.
        MSG quit;
        if (PeekMessageA(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE))
            Log(EventKind::Window, "quit message left by the start call");
    }
    if (ok) {
        int continues = 0;
        while (!(Empty(record_.inRect) && Empty(record_.outRect) && Empty(record_.maskRect))) {
            if (++continues > behaviour.continueLimit) {
                report.failures.push_back("the plug-in never emptied its rectangles (in " +
                                          RectText(record_.inRect) + ", out " +
                                          RectText(record_.outRect) + ", mask " +
                                          RectText(record_.maskRect) + ")");
                ok = false;
                break;
            }
            if (call(filterSelectorContinue) != noErr) {
                ok = false;
                break;
            }
        }
    }
    // A host calls finish only after a successful start.
    if (ok) {
        call(filterSelectorFinish);
        report.finished = true;
    }
    report.leaks = CheckLeaks();
    for (const std::string &w : windows.unexpectedWindows)
        report.failures.push_back("unexpected window: " + w);
    Detach();
    return report;
}

RunReport FilterHost::About()
{
    RunReport report;
    if (!Loaded()) {
        report.failures.push_back("no module loaded");
        return report;
    }
    AboutRecord about = {};
    about.platformData = &platform_;
    about.sSPBasic = behaviour.noBasicSuite ? nullptr : &basicSuite_;
    const int16_t result = Call(filterSelectorAbout, &about);
    report.calls.push_back(SelectorCall{filterSelectorAbout, result});
    report.result = result;
    report.leaks = CheckLeaks();
    return report;
}

std::vector<std::string> FilterHost::CheckLeaks()
{
    std::vector<std::string> leaks;
    portCallCounts_.clear();
    for (auto &entry : openKeys_)
        leaks.push_back("registry key \"" + entry.second + "\" not closed");
    openKeys_.clear();
    for (auto &entry : suiteCounts_)
        if (entry.second != 0)
            leaks.push_back("suite \"" + entry.first + "\" left acquired " + std::to_string(entry.second) +
                            " time(s)");
    suiteCounts_.clear();
    for (auto &entry : bufferSizes_)
        leaks.push_back("buffer of " + std::to_string(entry.second) + " bytes not disposed");
    buffers_.clear();
    bufferSizes_.clear();
    for (Handle h : std::set<Handle>(handles_))
        if (h != parameters_) {
            leaks.push_back("handle of " + std::to_string(BlockOf(h)->size) + " bytes not disposed");
            HandleBlock *block = BlockOf(h);
            std::free(block->data);
            delete block;
            handles_.erase(h);
        }
    for (auto it = ports_.begin(); it != ports_.end();) {
        if ((*it)->createdByPlugin) {
            leaks.push_back("channel port \"" + (*it)->name + "\" not disposed");
            it = ports_.erase(it);
        } else {
            ++it;
        }
    }
    return leaks;
}

bool FilterHost::PortCallFails(const std::string &call)
{
    const int count = ++portCallCounts_[call];
    auto fault = behaviour.portFaults.find(call);
    const bool fails = fault != behaviour.portFaults.end() && (fault->second == 0 || fault->second == count);
    if (fails)
        Log(EventKind::Port, call + " failed as asked");
    return fails;
}

SPErr FilterHost::AcquireSuite(const char *name, int32_t version, const void **suite)
{
    const std::string n = name != nullptr ? name : "";
    const std::string what = "acquire \"" + n + "\" v" + std::to_string(version);
    if (suite == nullptr) {
        Log(EventKind::Suite, what + " refused: no result pointer");
        return paramErr;
    }
    *suite = nullptr;
    if (n == behaviour.refusedSuite) {
        Log(EventKind::Suite, what + " refused");
        return kSuiteNotFound;
    }
    if (n == behaviour.nullSuite) {
        Log(EventKind::Suite, what + " answered with no suite");
        ++suiteCounts_[n];
        return 0;
    }
    if (n == kPSBufferSuite && version == kPSBufferSuiteVersion1)
        *suite = &servedBufferSuite_;
    else if (n == kPSChannelPortsSuite && version == kPSChannelPortsSuiteVersion3)
        *suite = &servedPortsSuite_;
    if (*suite == nullptr) {
        Log(EventKind::Suite, what + " not found");
        return kSuiteNotFound;
    }
    Log(EventKind::Suite, what);
    ++suiteCounts_[n];
    return 0;
}

SPErr FilterHost::ReleaseSuite(const char *name, int32_t version)
{
    const std::string n = name != nullptr ? name : "";
    Log(EventKind::Suite, "release \"" + n + "\" v" + std::to_string(version));
    auto it = suiteCounts_.find(n);
    if (it == suiteCounts_.end() || it->second <= 0) {
        Log(EventKind::Failure, "release of \"" + n + "\" that was not acquired");
        return kSuiteNotFound;
    }
    --it->second;
    return 0;
}

Handle FilterHost::NewHandle(int32_t size)
{
    Log(EventKind::Handle, "new " + std::to_string(size) +
                               (behaviour.failHandleAllocation ? " (refused)" : ""));
    if (behaviour.failHandleAllocation || size < 0)
        return nullptr;
    auto *block = new HandleBlock{static_cast<Ptr>(std::calloc(size_t(size) + 1, 1)), size};
    if (block->data == nullptr) {
        delete block;
        return nullptr;
    }
    Handle h = reinterpret_cast<Handle>(block);
    handles_.insert(h);
    return h;
}

void FilterHost::DisposeHandle(Handle h)
{
    Log(EventKind::Handle, "dispose");
    if (h == nullptr || handles_.count(h) == 0) {
        Log(EventKind::Failure, "dispose of an unknown handle");
        return;
    }
    HandleBlock *block = BlockOf(h);
    std::free(block->data);
    delete block;
    handles_.erase(h);
    if (h == parameters_)
        parameters_ = nullptr;
}

Ptr FilterHost::NewBuffer(uint32_t *requested, uint32_t minimum)
{
    const uint32_t size = requested != nullptr && *requested > minimum ? *requested : minimum;
    const bool refused = behaviour.failBufferAllocation || ++bufferCalls_ == behaviour.failBufferOn;
    Log(EventKind::Buffer, "new " + std::to_string(size) + (refused ? " (refused)" : ""));
    if (refused)
        return nullptr;
    std::unique_ptr<char[]> memory(new (std::nothrow) char[size_t(size) + 1]);
    if (!memory)
        return nullptr;
    Ptr p = memory.get();
    buffers_[p] = std::move(memory);
    bufferSizes_[p] = size;
    if (requested != nullptr)
        *requested = size;
    return p;
}

void FilterHost::DisposeBuffer(Ptr *buffer)
{
    if (buffer == nullptr || *buffer == nullptr)
        return;
    Log(EventKind::Buffer, "dispose " + std::to_string(BufferSize(*buffer)));
    if (buffers_.erase(*buffer) == 0)
        Log(EventKind::Failure, "dispose of an unknown buffer");
    bufferSizes_.erase(*buffer);
    *buffer = nullptr;
}

uint32_t FilterHost::BufferSize(Ptr buffer) const
{
    auto it = bufferSizes_.find(buffer);
    return it != bufferSizes_.end() ? it->second : 0;
}

HostPort *FilterHost::FindPort(PIChannelPort port) const
{
    for (const auto &p : ports_)
        if (p.get() == port)
            return p.get();
    return nullptr;
}

HostPort *FilterHost::NewPort(const VRect &rect, int32_t depth)
{
    const int64_t width = int64_t(rect.right) - rect.left;
    const int64_t height = int64_t(rect.bottom) - rect.top;
    if (width < 0 || height < 0 || width * height > (int64_t(1) << 31))
        return nullptr;
    auto port = std::make_unique<HostPort>();
    port->name = "scratch " + std::to_string(ports_.size());
    port->own = Raster(rect, depth);
    port->view = port->own.View();
    port->writable = true;
    port->createdByPlugin = true;
    Log(EventKind::Port, "new " + std::to_string(width) + "x" + std::to_string(height) + " depth " +
                             std::to_string(depth));
    ports_.push_back(std::move(port));
    return ports_.back().get();
}

bool FilterHost::DisposePort(PIChannelPort port)
{
    for (auto it = ports_.begin(); it != ports_.end(); ++it)
        if (it->get() == port && (*it)->createdByPlugin) {
            Log(EventKind::Port, "dispose " + (*it)->name);
            ports_.erase(it);
            return true;
        }
    Log(EventKind::Failure, "dispose of an unknown port");
    return false;
}

Boolean FilterHost::Abort()
{
    ++abortCalls_;
    if (behaviour.escapeCancels && (GetAsyncKeyState(VK_ESCAPE) & 0x8000) != 0)
        return 1;
    return behaviour.abortAfter > 0 && abortCalls_ >= behaviour.abortAfter ? 1 : 0;
}

void FilterHost::Progress(int32_t done, int32_t total)
{
    Log(EventKind::Progress, std::to_string(done) + "/" + std::to_string(total));
    if (onProgress)
        onProgress(done, total);
}

namespace {

bool Inside(const Rect &r, int32_t width, int32_t height)
{
    return r.top >= 0 && r.left >= 0 && r.bottom <= height && r.right <= width && r.top <= r.bottom &&
           r.left <= r.right;
}

} // namespace

void FilterHost::CommitOutput()
{
    if (document_ == nullptr || Empty(pendingOut_) || outBuffer_.empty())
        return;
    const int32_t sampleBytes = document_->depth == 16 ? 2 : 1;
    const int32_t planes = pendingHi_ - pendingLo_ + 1;
    const int32_t width = pendingOut_.right - pendingOut_.left;
    const uint16_t full = uint16_t(document_->MaxSample());  // the host's range ends at its full scale
    for (int32_t y = pendingOut_.top; y < pendingOut_.bottom; ++y) {
        const uint8_t *row = outBuffer_.data() + size_t(y - pendingOut_.top) * size_t(pendingRowBytes_);
        for (int32_t p = 0; p < planes; ++p) {
            uint16_t *to = &document_->At(pendingLo_ + p, pendingOut_.left, y);
            if (sampleBytes == 2) {
                const uint16_t *from = reinterpret_cast<const uint16_t *>(row) + p;
                for (int32_t x = 0; x < width; ++x)
                    to[x] = std::min(from[size_t(x) * planes], full);
            } else {
                const uint8_t *from = row + p;
                for (int32_t x = 0; x < width; ++x)
                    to[x] = from[size_t(x) * planes];
            }
        }
    }
    for (const auto &port : ports_)
        if (!port->createdByPlugin)
            port->pyramid.Clear();
    pendingOut_ = Rect();
}

OSErr FilterHost::AdvanceState()
{
    if (startBegan_ >= 0) {
        timing.dialog += Now() - startBegan_;
        startBegan_ = -1;
    }
    Stopwatch stopwatch(&timing.tileDelivery);
    ++advanceCalls_;
    CommitOutput();
    FilterRecord &r = record_;
    Log(EventKind::Advance, "in " + RectText(r.inRect) + " out " + RectText(r.outRect) + " mask " +
                                RectText(r.maskRect) + " planes " + std::to_string(r.inLoPlane) + ".." +
                                std::to_string(r.inHiPlane));
    if (document_ == nullptr)
        return genericErr;
    if (behaviour.failAdvanceOn > 0 && advanceCalls_ == behaviour.failAdvanceOn) {
        Log(EventKind::Advance, "failed as asked");
        return behaviour.advanceError;
    }
    const int32_t w = document_->width, h = document_->height, count = document_->PlaneCount();
    const bool planesOk = r.inLoPlane >= 0 && r.inLoPlane <= r.inHiPlane && r.inHiPlane < count &&
                          r.outLoPlane >= 0 && r.outLoPlane <= r.outHiPlane && r.outHiPlane < count;
    if (!Inside(r.inRect, w, h) || !Inside(r.outRect, w, h) || (r.haveMask && !Inside(r.maskRect, w, h)) ||
        (!planesOk && !(Empty(r.inRect) && Empty(r.outRect)))) {
        Log(EventKind::Failure, "advanceState with a rectangle or planes outside the document");
        return paramErr;
    }

    const int32_t sampleBytes = document_->depth == 16 ? 2 : 1;
    auto deliver = [&](const Rect &rect, int16_t lo, int16_t hi, std::vector<uint8_t> *buffer, void **data,
                       int32_t *rowBytes) {
        if (Empty(rect)) {
            *data = nullptr;
            *rowBytes = 0;
            return;
        }
        const int32_t planes = hi - lo + 1;
        // Padding comes in whole samples, as a real host's rows are aligned.
        const int32_t padding = (behaviour.rowPadding + sampleBytes - 1) / sampleBytes * sampleBytes;
        *rowBytes = (rect.right - rect.left) * planes * sampleBytes + padding;
        buffer->assign(size_t(*rowBytes) * size_t(rect.bottom - rect.top), 0xCD);
        const int32_t width = rect.right - rect.left;
        for (int32_t y = rect.top; y < rect.bottom; ++y) {
            uint8_t *row = buffer->data() + size_t(y - rect.top) * size_t(*rowBytes);
            for (int32_t p = 0; p < planes; ++p) {
                const uint16_t *from = &document_->At(lo + p, rect.left, y);
                if (sampleBytes == 2) {
                    uint16_t *to = reinterpret_cast<uint16_t *>(row) + p;
                    for (int32_t x = 0; x < width; ++x)
                        to[size_t(x) * planes] = from[x];
                } else {
                    uint8_t *to = row + p;
                    for (int32_t x = 0; x < width; ++x)
                        to[size_t(x) * planes] = uint8_t(from[x]);
                }
            }
        }
        *data = buffer->data();
    };
    deliver(r.inRect, r.inLoPlane, r.inHiPlane, &inBuffer_, &r.inData, &r.inRowBytes);
    deliver(r.outRect, r.outLoPlane, r.outHiPlane, &outBuffer_, &r.outData, &r.outRowBytes);
    if (behaviour.nullTileBuffers) {
        Log(EventKind::Advance, "delivered no buffers as asked");
        r.inData = r.outData = nullptr;
    }
    r.inColumnBytes = (r.inHiPlane - r.inLoPlane + 1) * sampleBytes;
    r.outColumnBytes = (r.outHiPlane - r.outLoPlane + 1) * sampleBytes;

    if (r.haveMask && !Empty(r.maskRect) && !document_->selection.empty()) {
        const Rect &m = r.maskRect;
        r.maskRowBytes = (m.right - m.left) + behaviour.rowPadding;
        maskBuffer_.assign(size_t(r.maskRowBytes) * size_t(m.bottom - m.top), 0xCD);
        for (int32_t y = m.top; y < m.bottom; ++y)
            std::memcpy(maskBuffer_.data() + size_t(y - m.top) * size_t(r.maskRowBytes),
                        document_->selection.data() + size_t(y) * size_t(w) + size_t(m.left), size_t(m.right - m.left));
        r.maskData = maskBuffer_.data();
    } else {
        r.maskData = nullptr;
        r.maskRowBytes = 0;
    }

    pendingOut_ = r.outRect;
    pendingLo_ = r.outLoPlane;
    pendingHi_ = r.outHiPlane;
    pendingRowBytes_ = r.outRowBytes;
    return noErr;
}

void FilterHost::KeyOpened(HKEY key, const std::string &path)
{
    Log(EventKind::Registry, "open " + path);
    openKeys_[key] = path;
}

void FilterHost::KeyClosed(HKEY key)
{
    if (openKeys_.erase(key) == 0)
        Log(EventKind::Failure, "close of a registry key that is not open");
    else
        Log(EventKind::Registry, "close");
}

OSErr FilterHost::DisplayPixels(const PSPixelMap &source, const VRect &srcRect, int32_t dstRow, int32_t dstCol,
                                HDC dc)
{
    Stopwatch stopwatch(&timing.display);
    DisplayedImage image;
    std::string error;
    if (!ReadPixelMap(source, srcRect, &image, &error)) {
        Log(EventKind::Failure, "displayPixels: " + error);
        return paramErr;
    }
    // A bottom-up DIB would need the rows reversed; a top-down one takes
    // them in order, each padded to 4 bytes and in blue, green, red order.
    const int32_t stride = (image.width * 3 + 3) & ~3;
    std::vector<uint8_t> bits(size_t(stride) * size_t(image.height));
    for (int32_t y = 0; y < image.height; ++y)
        for (int32_t x = 0; x < image.width; ++x) {
            const uint8_t *from = &image.rgb[(size_t(y) * size_t(image.width) + size_t(x)) * 3];
            uint8_t *to = &bits[size_t(y) * size_t(stride) + size_t(x) * 3];
            to[0] = from[2];
            to[1] = from[1];
            to[2] = from[0];
        }
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = image.width;
    info.bmiHeader.biHeight = -image.height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    info.bmiHeader.biCompression = BI_RGB;
    if (dc != nullptr && image.width > 0 && image.height > 0)
        SetDIBitsToDevice(dc, dstCol, dstRow, DWORD(image.width), DWORD(image.height), 0, 0, 0, UINT(image.height),
                          bits.data(), &info, DIB_RGB_COLORS);
    ++displayCount;
    lastDisplay = Display{dstRow, dstCol, std::move(image)};
    return noErr;
}

void FilterHost::Beeped(UINT type)
{
    ++beeps;
    char text[32];
    std::snprintf(text, sizeof text, "beep 0x%08X", unsigned(type));
    Log(EventKind::Window, text);
}

HINSTANCE FilterHost::ShellExecuted(HWND owner, const char *verb, const char *file, const char *parameters,
                                    const char *folder, int show)
{
    ShellCall call{owner, verb != nullptr ? verb : "", file != nullptr ? file : "",
                   parameters != nullptr ? parameters : "", folder != nullptr ? folder : "", show};
    Log(EventKind::Window, "shell \"" + call.verb + "\" \"" + call.file + "\" in \"" + call.folder + "\"");
    shellCalls.push_back(call);
    if (behaviour.openShell)
        return ShellExecuteA(owner, verb, file, parameters, folder, show);
    return reinterpret_cast<HINSTANCE>(33);  // what the shell answers when it opened the file
}
