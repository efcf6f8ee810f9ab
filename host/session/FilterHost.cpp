#include "host/session/FilterHost.h"

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
