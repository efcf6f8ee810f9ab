// filterhost: runs a filter module the way a real host does, from the
// command line, and tells what happened in plain words.
#include <windows.h>
#include <psapi.h>

#include <algorithm>
#include <new>
#include <set>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <vector>
#include <cstring>
#include <string>

#include "host/DialogDriver.h"
#include "host/FileJob.h"
#include "host/FilterHost.h"
#include "host/FilterRegistry.h"
#include "host/ImageFile.h"
#include "host/UmbroluxModule.h"
#include "host/core/Raster.h"

namespace {

void Usage()
{
    std::fprintf(stderr,
                 "usage:\n"
                 "  filterhost list MODULE...\n"
                 "  filterhost about MODULE\n"
                 "  filterhost run MODULE IMAGE [OUT] [--set bias=B,gamma=G,contrast=C | --ok] [--screenshot PNG]\n"
                 "                 [--mask-view PNG] [--bias B] [--gamma G] [--contrast C] [--tile WxH]\n"
                 "                 [--selection MASK]\n"
                 "  filterhost batch MODULE OUTDIR FILE-OR-FOLDER... [--set ... | --ok] [--bias B] [--gamma G]\n"
                 "                 [--contrast C] [--tile WxH] [--jobs N]\n"
                 "  filterhost file MODULE IMAGE OUT [--set ... | --ok] [--bias B] [--gamma G] [--contrast C]\n"
                 "                 [--tile WxH]\n"
                 "  filterhost convert IMAGE OUT [--depth 8|16]\n"
                 "IMAGE and OUT are PNG or TIFF files, 8 or 16 bits per sample. --set types the\n"
                 "values into the filter's dialog and presses OK; --ok presses OK on the values\n"
                 "shown; without either the dialog waits for you. --screenshot saves the dialog\n"
                 "(in its Result view), --mask-view the preview's Mask view. --bias, --gamma and\n"
                 "--contrast set the last values the dialog starts from; --tile sets the host's\n"
                 "tile size (256x256 by default); MASK is a grey image of the same size, white\n"
                 "where the image is selected. batch filters every file given and every image\n"
                 "in each folder given into OUTDIR: the first file's dialog sets the values, the\n"
                 "others repeat them, N files at once (one per processor unless --jobs says\n"
                 "otherwise), each in a process of its own when N is above 1. file filters one\n"
                 "file as batch does and prints batch's line for it.\n");
}

const char *SelectorWord(int16_t selector)
{
    static const char *const kWords[] = {"about", "parameters", "prepare", "start", "continue", "finish"};
    return selector >= 0 && selector <= 5 ? kWords[selector] : "unknown";
}

// Suites, handles, buffers and windows one by one; tiles and port calls,
// which come by the hundred, as counts.
void PrintEvents(const FilterHost &host)
{
    size_t tiles = 0, portCalls = 0;
    for (const HostEvent &e : host.events) {
        if (e.kind == EventKind::Advance)
            ++tiles;
        else if (e.kind == EventKind::Port)
            ++portCalls;
        else if (e.kind != EventKind::Selector && e.kind != EventKind::Progress)
            std::printf("  %-8s %s\n", EventKindName(e.kind), e.text.c_str());
    }
    if (tiles != 0 || portCalls != 0)
        std::printf("  %zu tile request(s) through advanceState, %zu channel-port call(s)\n", tiles, portCalls);
}

// Exit status: 0 the filter ran, 3 it did not (refused or cancelled), 1 an
// error or a leak, 2 bad input.
int Finish(const RunReport &report)
{
    if (!report.notEnabled.empty()) {
        std::printf("Not run: %s\n", report.notEnabled.c_str());
        return 3;
    }
    for (const std::string &leak : report.leaks)
        std::printf("LEAK: %s\n", leak.c_str());
    for (const std::string &failure : report.failures)
        std::printf("FAILURE: %s\n", failure.c_str());
    if (!report.Clean() || report.result < 0)
        return 1;
    return report.result == 0 ? 0 : 3;
}

struct RunOptions {
    std::string module, image, out, selection, screenshot, maskView;
    // What --set types into the dialog's edits: (edit id, text).
    std::vector<std::pair<int, std::string>> typed;
    std::string setSpec;  // --set's text, for the processes of a batch
    bool hasSet = false;
    int jobs = 0;  // files filtered at once by a batch; 0: one per processor
    std::vector<std::string> positional;
    // What --bias, --gamma and --contrast store as the last values.
    std::vector<std::pair<const umbrolux::ToneControl *, float>> lastValues;
    int32_t tileWidth = 256, tileHeight = 256;
};

bool ParseFloat(const char *text, float *value)
{
    char *end = nullptr;
    *value = std::strtof(text, &end);
    return end != text && *end == '\0';
}

// "bias=0.5,gamma=2": each value as text for its edit, checked to be a number.
bool ParseSet(const std::string &spec, std::vector<std::pair<int, std::string>> *typed)
{
    size_t at = 0;
    while (at <= spec.size()) {
        const size_t comma = std::min(spec.find(',', at), spec.size());
        const std::string item = spec.substr(at, comma - at);
        const size_t equals = item.find('=');
        if (equals == std::string::npos)
            return false;
        const std::string name = item.substr(0, equals), value = item.substr(equals + 1);
        float number = 0;
        if (!ParseFloat(value.c_str(), &number))
            return false;
        const umbrolux::ToneControl *control = umbrolux::FindToneControl(name);
        if (control == nullptr)
            return false;
        typed->emplace_back(control->edit, value);
        at = comma + 1;
    }
    return !typed->empty();
}

bool ParseRun(int argc, char **argv, RunOptions *o)
{
    std::vector<std::string> positional;
    for (int i = 2; i < argc; ++i) {
        const std::string a = argv[i];
        const bool hasValue = i + 1 < argc;
        const umbrolux::ToneControl *control =
            a.compare(0, 2, "--") == 0 ? umbrolux::FindToneControl(a.substr(2)) : nullptr;
        if (control != nullptr) {
            float value = 0;
            if (!hasValue || !ParseFloat(argv[++i], &value))
                return false;
            o->lastValues.emplace_back(control, value);
        } else if (a == "--selection" && hasValue)
            o->selection = argv[++i];
        else if (a == "--screenshot" && hasValue)
            o->screenshot = argv[++i];
        else if (a == "--mask-view" && hasValue)
            o->maskView = argv[++i];
        else if (a == "--jobs" && hasValue) {
            char *end = nullptr;
            const long jobs = std::strtol(argv[++i], &end, 10);
            if (end == argv[i] || *end != '\0' || jobs < 1 || jobs > 64)
                return false;
            o->jobs = int(jobs);
        } else if (a == "--ok")
            o->hasSet = true;
        else if (a == "--set" && hasValue) {
            o->setSpec = argv[++i];
            if (!ParseSet(o->setSpec, &o->typed))
                return false;
            o->hasSet = true;
        }
        else if (a == "--tile" && hasValue) {
            if (std::sscanf(argv[++i], "%dx%d", &o->tileWidth, &o->tileHeight) != 2 || o->tileWidth < 0 ||
                o->tileHeight < 0 || o->tileWidth > 32767 || o->tileHeight > 32767)
                return false;
        } else if (a.compare(0, 2, "--") == 0)
            return false;
        else
            positional.push_back(a);
    }
    o->positional = positional;
    return true;
}

void PrintWarnings(const FilterHost &host)
{
    for (const std::string &w : host.loadWarnings)
        std::printf("warning: %s\n", w.c_str());
}

// What a host's filter menu would show for each module, and for which
// documents it enables the item.
int List(int argc, char **argv)
{
    int status = 0;
    for (int i = 2; i < argc; ++i) {
        FilterHost host;
        std::string error;
        if (!host.Load(argv[i], &error)) {
            std::printf("%s\n", error.c_str());
            status = 1;
            continue;
        }
        const std::string version = host.Catalog().VersionLine();
        std::printf("%s%s%s\n", argv[i], version.empty() ? "" : ": ", version.c_str());
        for (const FilterResource &f : host.Catalog().filters) {
            if (!f.valid)
                continue;
            const pipl::PropertyList &l = f.list;
            std::printf("  %s\n", f.MenuPath().c_str());
            std::printf("    property list %s, interface %u.%u, entry point %s\n", f.resourceName.c_str(),
                        l.interfaceVersion >> 16, l.interfaceVersion & 0xFFFF, EntryPointFor(l).c_str());
            std::string modes;
            for (int16_t mode = 0; mode <= 13; ++mode)
                if (pipl::EnabledFor(l, mode, ImageModeName(mode)).enabled)
                    modes += std::string(modes.empty() ? "" : ", ") + ImageModeName(mode);
            std::printf("    enabled for %s%s\n", modes.empty() ? "no documents" : modes.c_str(),
                        l.hasEnable ? " (by its enabling expression)" : l.hasMode ? " (by its mode flags)" : "");
            if (const aete::Event *event = f.Event())
                std::printf("    scripting event \"%s\" (%s/%s) with %zu parameter(s)\n", event->name.c_str(),
                            pipl::CodeText(event->eventClass).c_str(), pipl::CodeText(event->eventId).c_str(),
                            event->parameters.size());
        }
        PrintWarnings(host);
    }
    return status;
}

int About(const std::string &modulePath)
{
    FilterHost host;
    std::string error;
    if (!host.Load(modulePath, &error)) {
        std::fprintf(stderr, "filterhost: %s\n", error.c_str());
        return 2;
    }
    PrintWarnings(host);
    const std::string version = host.Catalog().VersionLine();
    if (!version.empty())
        std::printf("%s\n", version.c_str());
    const RunReport report = host.About();
    PrintEvents(host);
    std::printf("about returned %s\n", ResultWords(report.result).c_str());
    return Finish(report);
}

double PeakMegabytes()
{
    PROCESS_MEMORY_COUNTERS counters = {};
    counters.cb = sizeof counters;
    if (!GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters))
        return 0;
    return double(counters.PeakWorkingSetSize) / (1024.0 * 1024.0);
}

int Convert(int argc, char **argv)
{
    int depth = 0;
    if (argc == 6 && std::strcmp(argv[4], "--depth") == 0)
        depth = std::atoi(argv[5]);
    if ((argc != 4 && argc != 6) || (argc == 6 && depth != 8 && depth != 16)) {
        Usage();
        return 2;
    }
    Document document;
    std::string error;
    if (!LoadImageFile(argv[2], &document, &error)) {
        std::fprintf(stderr, "filterhost: %s\n", error.c_str());
        return 2;
    }
    if (depth != 0 && depth != document.depth) {
        for (auto &plane : document.planes)
            for (uint16_t &v : plane)
                v = depth == 16 ? Convert8To16(v) : Convert16To8(v);
        document.depth = depth;
        if (document.mode == plugInModeRGBColor || document.mode == plugInModeRGB48)
            document.mode = depth == 16 ? plugInModeRGB48 : plugInModeRGBColor;
        else
            document.mode = depth == 16 ? plugInModeGray16 : plugInModeGrayScale;
    }
    if (!SaveImageFile(argv[3], document, &error)) {
        std::fprintf(stderr, "filterhost: %s\n", error.c_str());
        return 2;
    }
    return 0;
}

// The last values the dialog starts from, and the host as the options ask
// (Esc cancels: a person may be watching).
void Prepare(FilterHost *host, const RunOptions &o)
{
    for (const auto &entry : o.lastValues)
        StoreFilterFloat(entry.first->lastValue, entry.second);
    host->behaviour.escapeCancels = true;
    host->behaviour.tileWidth = o.tileWidth;
    host->behaviour.tileHeight = o.tileHeight;
}

// Types the values of --set into the dialog's edits, key by key.
void TypeValues(HWND dialog, const RunOptions &o)
{
    for (const auto &entry : o.typed)
        dialog_driver::TypeInto(dialog, entry.first, entry.second);
}

// Saves what the preview shows in its Mask view.
bool SaveMaskView(FilterHost &host, HWND dialog, const std::string &path)
{
    dialog_driver::Click(dialog, umbrolux::kMaskViewButton);
    const DisplayedImage &shown = host.drawing.lastDisplay.image;
    Document view = MakeDocument(shown.width, shown.height, 3, 8, plugInModeRGBColor);
    for (size_t i = 0; i < size_t(shown.width) * size_t(shown.height); ++i)
        for (int c = 0; c < 3; ++c)
            view.planes[size_t(c)][i] = shown.rgb[i * 3 + size_t(c)];
    std::string why;
    if (host.drawing.displayCount == 0 || !SaveImageFile(path, view, &why)) {
        std::fprintf(stderr, "filterhost: cannot save the mask view %s\n", why.c_str());
        return false;
    }
    std::printf("Wrote the mask view %s\n", path.c_str());
    return true;
}

// Saves the dialog as it stands, in its Result view.
bool SaveScreenshot(HWND dialog, const std::string &path)
{
    dialog_driver::Click(dialog, umbrolux::kResultViewButton);
    Document shot;
    std::string why;
    if (!dialog_driver::Screenshot(dialog, &shot) || !SaveImageFile(path, shot, &why)) {
        std::fprintf(stderr, "filterhost: cannot save the screenshot %s\n", why.c_str());
        return false;
    }
    std::printf("Wrote the dialog's screenshot %s\n", path.c_str());
    return true;
}

int Run(const RunOptions &o)
{
    const double started = FilterHost::Now();
    FileJob job(o.image, o.out, o.selection);
    std::string error;
    // Everything that can be known before the work is checked first.
    if (!job.Check(&error) || !job.Load(&error)) {
        std::fprintf(stderr, "filterhost: %s\n", error.c_str());
        return 2;
    }
    FilterHost host;
    if (!host.Load(o.module, &error)) {
        std::fprintf(stderr, "filterhost: %s\n", error.c_str());
        return 2;
    }
    Prepare(&host, o);
    // The dialog: typed into and accepted, or left to the person at the
    // display (whose Help button then really opens the page).
    bool dialogFailed = false;
    if (o.hasSet) {
        host.windows.dialogHandler = [&](HWND dialog) {
            TypeValues(dialog, o);
            if (!o.maskView.empty() && !SaveMaskView(host, dialog, o.maskView))
                dialogFailed = true;
            if (!o.screenshot.empty() && !SaveScreenshot(dialog, o.screenshot))
                dialogFailed = true;
            dialog_driver::Click(dialog, dialogFailed ? IDCANCEL : IDOK);
        };
    } else {
        host.windows.dialogHandler = [](HWND) {};
        host.behaviour.openShell = true;
    }

    PrintWarnings(host);
    const Document &document = job.Loaded();
    std::printf("Filter %s (%s)\n", host.Filter()->MenuPath().c_str(), host.Catalog().VersionLine().c_str());
    std::printf("Document %s: %d x %d, %s, %d-bit, %d plane(s)\n", o.image.c_str(), document.width,
                document.height, ImageModeName(document.mode), document.depth, document.PlaneCount());
    const DWORD ticks = GetTickCount();
    host.onProgress = [ticks](int32_t done, int32_t total) {
        const int percent = total > 0 ? int(int64_t(done) * 100 / total) : 100;
        std::printf("\rprogress %3d%% (%d of %d tiles, %.1f s)", percent, done, total,
                    (GetTickCount() - ticks) / 1000.0);
        if (done >= total)
            std::printf("\n");
        std::fflush(stdout);
    };

    const FileJob::Outcome outcome = job.Filter(host, &error);
    const RunReport &report = job.Report();
    if (outcome == FileJob::Outcome::NotEnabled)
        return Finish(report);
    if (dialogFailed)
        return 1;
    std::printf("Filter case %d: input handling %d, output handling %d, flags 0x%02X 0x%02X\n", report.filterCase,
                report.handling.inputHandling, report.handling.outputHandling, report.handling.flags1,
                report.handling.flags2);
    for (const SelectorCall &call : report.calls)
        std::printf("%-10s -> %s\n", SelectorWord(call.selector), ResultWords(call.result).c_str());
    std::printf("What the filter did through the host:\n");
    PrintEvents(host);
    if (!report.finished)
        std::printf("The run ended without finish; the image is unchanged.\n");
    if (!o.out.empty() && outcome != FileJob::Outcome::Completed) {
        std::printf("Nothing written to %s.\n", o.out.c_str());
    } else if (!o.out.empty()) {
        if (!job.Write(&error)) {
            std::fprintf(stderr, "filterhost: %s\n", error.c_str());
            return 2;
        }
        std::printf("Wrote %s\n", o.out.c_str());
    }
    const FilterHost::Timing &t = host.timing;
    const double total = FilterHost::Now() - started;
    const double stages = job.decodeSeconds + t.selectors + job.encodeSeconds;
    std::printf("Timing: decode %.3f s; dialog %.3f s; filter %.3f s (the module's own work %.3f s, the host's "
                "blur and median %.3f s, tile delivery %.3f s); encode %.3f s; the rest (loading the module, "
                "checks) %.3f s; in all %.3f s; peak memory %.0f MB\n",
                job.decodeSeconds, t.dialog, t.selectors - t.dialog,
                t.selectors - t.dialog - t.hostFilters - t.tileDelivery, t.hostFilters, t.tileDelivery,
                job.encodeSeconds, total - stages, total, PeakMegabytes());
    return Finish(report);
}

// How one file of a batch ended.
enum class FileEnd { Filtered, Failed, Cancelled };

// One file of a batch through the loaded module, with the dialog handled as
// a batch handles it: typed into (--set) or accepted (--ok) until a dialog
// has been shown, left to the person at the display when neither was given,
// and accepted on the values it shows once one has been. *line is what the
// batch prints for the file.
FileEnd BatchFile(FilterHost &host, const RunOptions &o, const std::string &file, const std::string &out,
                  bool *dialogShown, std::string *line)
{
    const double started = FilterHost::Now();
    bool dialogSeen = false;
    if (!*dialogShown && o.hasSet) {
        host.windows.dialogHandler = [&](HWND dialog) {
            dialogSeen = true;
            TypeValues(dialog, o);
            dialog_driver::Click(dialog, IDOK);
        };
    } else if (!*dialogShown) {
        host.windows.dialogHandler = [&](HWND) { dialogSeen = true; };
        host.behaviour.openShell = true;
    } else {
        host.windows.dialogHandler = [](HWND dialog) { dialog_driver::Click(dialog, IDOK); };
    }
    // Running out of memory fails this file alone; the others go on.
    try {
        std::string error;
        FileJob job(file, out);
        FileJob::Outcome outcome = FileJob::Outcome::Pending;
        const bool done = job.Check(&error) && job.Load(&error) &&
                          (outcome = job.Filter(host, &error)) == FileJob::Outcome::Completed && job.Write(&error);
        // The first dialog sets the values; a file refused before any
        // dialog leaves the next one to show it.
        *dialogShown = *dialogShown || dialogSeen;
        char text[64];
        if (done) {
            const Document &d = job.Loaded();
            std::snprintf(text, sizeof text, "%d x %d, %s, %d-bit -> ", d.width, d.height, ImageModeName(d.mode),
                          d.depth);
            *line = text + job.Out();
            std::snprintf(text, sizeof text, " (%.2f s)", FilterHost::Now() - started);
            *line += text;
            return FileEnd::Filtered;
        }
        if (outcome == FileJob::Outcome::Cancelled) {
            *line = "cancelled; the batch stops here";
            return FileEnd::Cancelled;
        }
        *line = "FAILED: " + error;
    } catch (const std::bad_alloc &) {
        *line = "FAILED: out of memory";
    }
    return FileEnd::Failed;
}

// `file`: one file as a batch filters it, in a process of its own; prints the
// batch's line for it. Exit status 0 filtered, 1 failed, 3 cancelled.
int OneFile(const RunOptions &o)
{
    FilterHost host;
    std::string error;
    if (!host.Load(o.module, &error)) {
        std::printf("FAILED: %s\n", error.c_str());
        return 1;
    }
    Prepare(&host, o);
    bool dialogShown = false;
    std::string line;
    const FileEnd end = BatchFile(host, o, o.image, o.out, &dialogShown, &line);
    std::printf("%s\n", line.c_str());
    return end == FileEnd::Filtered ? 0 : end == FileEnd::Cancelled ? 3 : 1;
}

std::string Quoted(const std::string &text)
{
    return "\"" + text + "\"";
}

// A `file` process for one file of the batch, its output read through a pipe.
struct Worker {
    size_t index = 0;
    PROCESS_INFORMATION process{};
    HANDLE output = nullptr;
    std::string text;

    bool Start(const std::string &commandLine)
    {
        SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
        HANDLE writeEnd = nullptr;
        if (!CreatePipe(&output, &writeEnd, &inherit, 0))
            return false;
        SetHandleInformation(output, HANDLE_FLAG_INHERIT, 0);
        STARTUPINFOA startup = {};
        startup.cb = sizeof startup;
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
        startup.hStdOutput = writeEnd;
        startup.hStdError = writeEnd;
        std::vector<char> line(commandLine.begin(), commandLine.end());
        line.push_back('\0');
        const BOOL started =
            CreateProcessA(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process);
        CloseHandle(writeEnd);
        if (!started) {
            CloseHandle(output);
            output = nullptr;
        }
        return started != FALSE;
    }

    // Reads what is waiting in the pipe (the process writes one line, so
    // the pipe never fills), and everything once it has ended.
    void Drain()
    {
        DWORD available = 0;
        while (PeekNamedPipe(output, nullptr, 0, nullptr, &available, nullptr) && available > 0) {
            char buffer[4096];
            DWORD got = 0;
            if (!ReadFile(output, buffer, std::min<DWORD>(available, sizeof buffer), &got, nullptr) || got == 0)
                break;
            text.append(buffer, got);
        }
    }

    // The exit status, once it has ended.
    DWORD Finish()
    {
        Drain();
        DWORD status = 1;
        GetExitCodeProcess(process.hProcess, &status);
        CloseHandle(process.hProcess);
        CloseHandle(process.hThread);
        CloseHandle(output);
        while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
            text.pop_back();
        return status;
    }
};

// The files from `first` on, each in a `file` process of its own, `jobs` at
// a time. Lines are printed as files end. A cancel lets the running files
// end and starts no more.
void BatchInProcesses(const RunOptions &o, const std::vector<std::string> &files,
                      const std::vector<std::string> &outputs, size_t first, int *filtered, int *failed,
                      bool *cancelled)
{
    char self[MAX_PATH * 2] = {};
    GetModuleFileNameA(nullptr, self, sizeof self);
    std::string options = o.hasSet ? (o.setSpec.empty() ? " --ok" : " --set " + Quoted(o.setSpec)) : " --ok";
    options += " --tile " + std::to_string(o.tileWidth) + "x" + std::to_string(o.tileHeight);
    std::vector<Worker> running;
    size_t next = first;
    while (next < files.size() || !running.empty()) {
        while (!*cancelled && next < files.size() && running.size() < size_t(o.jobs)) {
            Worker worker;
            worker.index = next;
            const std::string commandLine = Quoted(self) + " file " + Quoted(o.module) + " " + Quoted(files[next]) +
                                            " " + Quoted(outputs[next]) + options;
            if (worker.Start(commandLine)) {
                running.push_back(worker);
            } else {
                std::printf("[%zu/%zu] %s: FAILED: cannot start a process (error %lu)\n", next + 1, files.size(),
                            files[next].c_str(), GetLastError());
                ++*failed;
            }
            ++next;
        }
        if (*cancelled && running.empty())
            break;
        if (running.empty())
            continue;
        std::vector<HANDLE> handles;
        for (const Worker &w : running)
            handles.push_back(w.process.hProcess);
        // A short wait, so that the pipes are read while the processes run.
        const DWORD woke = WaitForMultipleObjects(DWORD(handles.size()), handles.data(), FALSE, 200);
        for (Worker &w : running)
            w.Drain();
        if (woke >= WAIT_OBJECT_0 + handles.size())
            continue;
        Worker done = running[woke - WAIT_OBJECT_0];
        running.erase(running.begin() + long(woke - WAIT_OBJECT_0));
        const DWORD status = done.Finish();
        std::printf("[%zu/%zu] %s: %s\n", done.index + 1, files.size(), files[done.index].c_str(),
                    done.text.empty() ? "FAILED: the process ended without a word" : done.text.c_str());
        std::fflush(stdout);
        if (status == 0)
            ++*filtered;
        else if (status == 3)
            *cancelled = true;
        else
            ++*failed;
    }
}

// Many files through the module: the first file's dialog sets the values
// (typed with --set, accepted with --ok, or by the person at the display),
// every later file runs with them. With one job the module is loaded once
// and later files repeat the filter, as a host's "repeat the last filter"
// does; with more, each file runs in a process of its own whose dialog is
// accepted on the same values (typed again, or the last values the first
// dialog left). A file that fails is reported and the others go on; only the
// person's cancel stops the batch.
int Batch(const RunOptions &o)
{
    const std::string &outDir = o.positional[1];
    const std::vector<std::string> files =
        ExpandInputs(std::vector<std::string>(o.positional.begin() + 2, o.positional.end()));
    if (files.empty()) {
        std::fprintf(stderr, "filterhost: no image files to filter\n");
        return 2;
    }
    CreateDirectoryA(outDir.c_str(), nullptr);
    const DWORD outAttributes = GetFileAttributesA(outDir.c_str());
    if (outAttributes == INVALID_FILE_ATTRIBUTES || !(outAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
        std::fprintf(stderr, "filterhost: cannot make the output folder %s\n", outDir.c_str());
        return 2;
    }
    FilterHost host;
    std::string error;
    if (!host.Load(o.module, &error)) {
        std::fprintf(stderr, "filterhost: %s\n", error.c_str());
        return 2;
    }
    PrintWarnings(host);
    Prepare(&host, o);

    const double started = FilterHost::Now();
    int filtered = 0, failed = 0;
    bool dialogShown = false, cancelled = false;
    const std::vector<std::string> outputs = OutputNames(files, outDir);
    size_t index = 0;
    // Here, one after another: every file with one job; with more, the files
    // up to the first dialog when the person chooses the values in it.
    for (; index < files.size() && !cancelled && (o.jobs <= 1 || (!o.hasSet && !dialogShown)); ++index) {
        std::printf("[%zu/%zu] %s: ", index + 1, files.size(), files[index].c_str());
        std::fflush(stdout);
        std::string line;
        const FileEnd end = BatchFile(host, o, files[index], outputs[index], &dialogShown, &line);
        std::printf("%s\n", line.c_str());
        std::fflush(stdout);
        filtered += end == FileEnd::Filtered ? 1 : 0;
        failed += end == FileEnd::Failed ? 1 : 0;
        cancelled = end == FileEnd::Cancelled;
    }
    if (index < files.size() && !cancelled)
        BatchInProcesses(o, files, outputs, index, &filtered, &failed, &cancelled);
    std::printf("Batch: %d of %zu file(s) filtered, %d failed%s; %.1f s\n", filtered, files.size(), failed,
                cancelled ? ", cancelled" : "", FilterHost::Now() - started);
    return failed != 0 || cancelled ? 1 : 0;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc >= 3 && std::strcmp(argv[1], "about") == 0 && argc == 3)
        return About(argv[2]);
    if (argc >= 3 && std::strcmp(argv[1], "list") == 0)
        return List(argc, argv);
    if (argc >= 2 && std::strcmp(argv[1], "convert") == 0)
        return Convert(argc, argv);
    RunOptions options;
    if (argc >= 2 && std::strcmp(argv[1], "run") == 0) {
        const std::vector<std::string> &p = options.positional;
        if (ParseRun(argc, argv, &options) && p.size() >= 2 && p.size() <= 3) {
            options.module = p[0];
            options.image = p[1];
            options.out = p.size() == 3 ? p[2] : "";
            try {
                return Run(options);
            } catch (const std::bad_alloc &) {
                std::fprintf(stderr, "filterhost: out of memory\n");
                return 1;
            }
        }
        std::fprintf(stderr, "filterhost: run takes MODULE IMAGE [OUT] and the options listed when "
                             "filterhost is run alone\n");
        return 2;
    }
    if (argc >= 2 && std::strcmp(argv[1], "file") == 0) {
        const std::vector<std::string> &p = options.positional;
        if (ParseRun(argc, argv, &options) && p.size() == 3 && options.selection.empty() &&
            options.screenshot.empty() && options.maskView.empty()) {
            options.module = p[0];
            options.image = p[1];
            options.out = p[2];
            return OneFile(options);
        }
        std::fprintf(stderr, "filterhost: file takes MODULE IMAGE OUT and the tone and tile options listed when "
                             "filterhost is run alone\n");
        return 2;
    }
    if (argc >= 2 && std::strcmp(argv[1], "batch") == 0) {
        if (ParseRun(argc, argv, &options) && options.positional.size() >= 3 && options.selection.empty() &&
            options.screenshot.empty() && options.maskView.empty()) {
            options.module = options.positional[0];
            if (options.jobs == 0) {
                SYSTEM_INFO system;
                GetSystemInfo(&system);
                options.jobs = int(std::min<DWORD>(std::max<DWORD>(system.dwNumberOfProcessors, 1), 64));
            }
            return Batch(options);
        }
        std::fprintf(stderr, "filterhost: batch takes MODULE OUTDIR FILE-OR-FOLDER... and the tone and tile "
                             "options listed when filterhost is run alone\n");
        return 2;
    }
    Usage();
    return 2;
}
