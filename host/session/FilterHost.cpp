#include "host/session/FilterHost.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "host/files/FileSystem.h"


namespace {

FilterHost *gActiveHost = nullptr;

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

extern "C" void PI_CDECL HostProcessEvent(void *) {}

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
        wc.lpszClassName = "FilterHostWindow";
        atom = RegisterClassA(&wc);
    }
    return CreateWindowA("FilterHostWindow", "Filter host", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
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

std::string RectText(const Rect &r)
{
    return "(" + std::to_string(r.top) + "," + std::to_string(r.left) + "," + std::to_string(r.bottom) +
           "," + std::to_string(r.right) + ")";
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

FilterHost::FilterHost()
    : suites(*this), ports(*this), tiles(*this), drawing(*this), imports(*this), record_(), platform_(),
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
}

FilterHost::~FilterHost()
{
    Unload();
    windows.Uninstall();
    if (mainWindow_ != nullptr)
        DestroyWindow(mainWindow_);
}

bool FilterHost::Load(const std::string &modulePath, std::string *error)
{
    Unload();
    module_ = LoadLibraryW(files::Wide(modulePath).c_str());  // the name is UTF-8
    if (module_ == nullptr) {
        if (error != nullptr)
            *error = "cannot load " + modulePath + " (error " + std::to_string(GetLastError()) + ")";
        return false;
    }
    // The host's own executable, named as a module, is the host itself: its
    // imports stay as they are (the watchers call through them).
    if (module_ != GetModuleHandleA(nullptr))
        imports.Watch(module_);
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

void FilterHost::Attach(Document &document)
{
    Detach();
    suites.BeginRun();
    ports.BeginRun();
    timing = Timing();
    document_ = &document;
    BuildDocumentInfo(document);
    BuildRecord(document);
}

void FilterHost::Detach()
{
    tiles.Stop();
    ports.DropDocumentPorts();
    channelDescs_.clear();
    document_ = nullptr;
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
    // A host that hands every image with transparency gives an opaque one
    // an opaque transparency plane for the run.
    struct OpaquePlane {
        Document &document;
        bool added = false;
        ~OpaquePlane()
        {
            if (added) {
                document.planes.pop_back();
                document.hasTransparency = false;
            }
        }
    } opaque{document};
    if (Services().everyImageWithTransparency && !document.hasTransparency && document.PlaneCount() == 3) {
        document.planes.emplace_back(size_t(document.width) * size_t(document.height),
                                     uint16_t(document.MaxSample()));
        document.hasTransparency = true;
        opaque.added = true;
    }
    Attach(document);
    report.filterCase = record_.filterCase;
    if (Filter() != nullptr)
        report.handling = pipl::CaseHandling(Filter()->list, report.filterCase);
    auto call = [&](int16_t selector) {
        const int16_t result = Call(selector, &record_);
        // The last tile's output goes into the document once the plug-in
        // returns, as the next advanceState would have done (unless the
        // host keeps only the run's last output).
        tiles.EndOfCall();
        report.calls.push_back(SelectorCall{selector, result});
        report.result = result;
        return result;
    };

    bool ok = true;
    if (!behaviour.repeatLastFilter) {
        ok = call(filterSelectorParameters) == noErr;
        suites.KeepParameters(record_.parameters);
    }
    if (ok)
        ok = call(filterSelectorPrepare) == noErr;
    if (ok) {
        startBegan_ = Now();
        inStart_ = true;
        ok = call(filterSelectorStart) == noErr;
        inStart_ = false;
        DialogClosed();
        // A quit message that ended the plug-in's modal loop is passed on
        // by the loop; it was meant for the plug-in's dialog, not the host.
        MSG quit;
        if (PeekMessageA(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE))
            Log(EventKind::Window, "quit message left by the start call");
    }
    const bool lastStored = LastStoredOutputOnly();
    if (ok) {
        int continues = 0;
        while (!(Empty(record_.inRect) && Empty(record_.outRect) && Empty(record_.maskRect))) {
            // The loader that keeps its last stored output fetches (and
            // stores what it held) before each continue.
            if (lastStored) {
                Session session(this);
                tiles.Advance();
            }
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
    // ... and once more when every rectangle is empty: that stores the last
    // output delivered.
    if (ok && lastStored) {
        Session session(this);
        tiles.Advance();
    }
    // A host calls finish only after a successful start (and some not even
    // then).
    if (ok && !behaviour.noFinish && Services().finishAfterSuccess) {
        call(filterSelectorFinish);
        report.finished = true;
    }
    if (ok)
        tiles.EndOfRun();
    report.completed = ok;
    report.leaks = CheckLeaks();
    suites.CollectFailures(&report.failures);
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
    about.platformData = behaviour.noPlatformWindow ? nullptr : &platform_;
    about.sSPBasic = suites.BasicFor(!behaviour.noBasicSuite && Services().basicSuite);
    const int16_t result = Call(filterSelectorAbout, &about);
    report.calls.push_back(SelectorCall{filterSelectorAbout, result});
    report.result = result;
    report.leaks = CheckLeaks();
    return report;
}

std::vector<std::string> FilterHost::CheckLeaks()
{
    std::vector<std::string> leaks;
    imports.CollectLeaks(&leaks);
    suites.CollectLeaks(&leaks);
    ports.CollectLeaks(&leaks);
    return leaks;
}

void FilterHost::DialogClosed()
{
    if (startBegan_ >= 0) {
        timing.dialog += Now() - startBegan_;
        startBegan_ = -1;
    }
}
