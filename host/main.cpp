// filterhost: runs a filter module the way a real host does, from the
// command line, and tells what happened in plain words.
#include <windows.h>
#include <psapi.h>

#include <algorithm>
#include <new>
#include <set>
#include <cctype>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <vector>
#include <iostream>
#include <mutex>
#include <thread>
#include <cstring>
#include <string>

#include "host/windows/DialogDriver.h"
#include "host/files/FileJob.h"
#include "host/files/FileSystem.h"
#include "host/session/FilterHost.h"
#include "host/umbrolux/FilterRegistry.h"
#include "host/session/HostProfile.h"
#include "host/files/ImageFile.h"
#include "host/umbrolux/UmbroluxModule.h"
#include "host/core/Parallel.h"
#include "engine/Raster.h"

namespace {

// printf, in UTF-8: names are printed as they are spelled, on a console
// and in a file alike.
void Say(FILE *stream, const char *format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    va_list again;
    va_copy(again, arguments);
    const int n = std::vsnprintf(nullptr, 0, format, arguments);
    va_end(arguments);
    std::string text(size_t(n > 0 ? n : 0), '\0');
    if (n > 0)
        std::vsnprintf(&text[0], size_t(n) + 1, format, again);
    va_end(again);
    files::Print(stream, text);
}

void Usage()
{
    Say(stderr,
                 "usage:\n"
                 "  filterhost list MODULE...\n"
                 "  filterhost about MODULE\n"
                 "  filterhost run MODULE IMAGE [OUT] [--set bias=B,gamma=G,contrast=C | --ok] [--screenshot PNG]\n"
                 "                 [--mask-view PNG] [--bias B] [--gamma G] [--contrast C] [--tile WxH]\n"
                 "                 [--selection MASK] [--host PROFILE] [--threads N]\n"
                 "  filterhost batch MODULE OUTDIR FILE-OR-FOLDER... [--set ... | --ok] [--bias B] [--gamma G]\n"
                 "                 [--contrast C] [--tile WxH] [--jobs N] [--overwrite] [--host PROFILE] [--threads N]\n"
                 "  filterhost serve MODULE [--set ... | --ok] [--bias B] [--gamma G] [--contrast C] [--tile WxH]\n"
                 "                 [--host PROFILE] [--threads N]\n"
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
                 "otherwise) in N worker processes when N is above 1. run replaces OUT when it\n"
                 "exists, unless it is read-only or is the input or MASK (by any name). batch\n"
                 "never replaces an input, a read-only file or a file it did not write: such\n"
                 "an output takes the name with -1, -2, ... and its line says why; --overwrite\n"
                 "lets it replace other existing files. serve is such a worker: it\n"
                 "filters the files its input names (IN<tab>OUT a line), one line out each.\n"
                 "--host chooses the host the filter sees: full (the default: the basic suite\n"
                 "with the buffer and channel-port suites, the document description), plain\n"
                 "(none of those; memory through the record's buffer and handle procedures,\n"
                 "integer sampling rates), plain-handles (handle procedures alone, which keep\n"
                 "no sizes), plain-no-memory (no memory services at all), photodemon\n"
                 "(PhotoDemon's filter engine: every image as four planes, with its faults) or\n"
                 "gimp (GIMP's loader: keeps only the last output it stored). An image with\n"
                 "alpha is filtered in every profile but full, its alpha kept.\n"
                 "--threads sets how many threads the host's own work (reading and writing\n"
                 "PNG files, its blur and median, the preview's reductions) uses: one per\n"
                 "processor by default, shared among a batch's workers; 1 keeps it all on one.\n");
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
    size_t tiles = 0, others = 0, portCalls = 0;
    for (const HostEvent &e : host.events) {
        // A request that asks for output is a tile; one that asks for none
        // reads image data (a preview's) or asks for nothing.
        if (e.kind == EventKind::Advance && e.text.compare(0, 3, "in ") == 0)
            ++(e.text.find(" out (0,0,0,0)") == std::string::npos ? tiles : others);
        else if (e.kind == EventKind::Advance)
            Say(stdout, "  %-8s %s\n", EventKindName(e.kind), e.text.c_str());
        else if (e.kind == EventKind::Port)
            ++portCalls;
        else if (e.kind != EventKind::Selector && e.kind != EventKind::Progress)
            Say(stdout, "  %-8s %s\n", EventKindName(e.kind), e.text.c_str());
    }
    if (tiles != 0 || others != 0 || portCalls != 0)
        Say(stdout, "  %zu tile request(s) and %zu request(s) without output through advanceState, %zu channel-port "
                    "call(s)\n",
                    tiles, others, portCalls);
}

// Exit status: 0 the filter ran, 3 it did not (refused or cancelled), 1 an
// error or a leak, 2 bad input.
int Finish(const RunReport &report)
{
    if (!report.notEnabled.empty()) {
        Say(stdout, "Not run: %s\n", report.notEnabled.c_str());
        return 3;
    }
    for (const std::string &leak : report.leaks)
        Say(stdout, "LEAK: %s\n", leak.c_str());
    for (const std::string &failure : report.failures)
        Say(stdout, "FAILURE: %s\n", failure.c_str());
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
    bool overwrite = false;  // --overwrite: a batch replaces existing files (never an input, never a read-only one)
    int jobs = 0;  // files filtered at once by a batch; 0: one per processor
    int threads = 0;  // threads of the host's own work; 0: one per processor
    std::vector<std::string> positional;
    // What --bias, --gamma and --contrast store as the last values.
    std::vector<std::pair<const umbrolux::ToneControl *, float>> lastValues;
    int32_t tileWidth = 256, tileHeight = 256;
    HostProfile profile = HostProfile::Full;  // --host
    std::string error;  // why the options were refused, when a generic line would not say
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
        } else if (a == "--threads" && hasValue) {
            char *end = nullptr;
            const long threads = std::strtol(argv[++i], &end, 10);
            if (end == argv[i] || *end != '\0' || threads < 1 || threads > 64)
                return false;
            o->threads = int(threads);
        } else if (a == "--ok")
            o->hasSet = true;
        else if (a == "--overwrite")
            o->overwrite = true;
        else if (a == "--set" && hasValue) {
            o->setSpec = argv[++i];
            if (!ParseSet(o->setSpec, &o->typed))
                return false;
            o->hasSet = true;
        }
        else if (a == "--host" && hasValue) {
            if (!ParseHostProfile(argv[++i], &o->profile)) {
                o->error = std::string("unknown host profile \"") + argv[i] + "\" (--host takes " +
                           HostProfileNames() + ")";
                return false;
            }
        } else if (a == "--tile" && hasValue) {
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
        Say(stdout, "warning: %s\n", w.c_str());
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
            Say(stdout, "%s\n", error.c_str());
            status = 1;
            continue;
        }
        const std::string version = host.Catalog().VersionLine();
        Say(stdout, "%s%s%s\n", argv[i], version.empty() ? "" : ": ", version.c_str());
        for (const FilterResource &f : host.Catalog().filters) {
            if (!f.valid)
                continue;
            const pipl::PropertyList &l = f.list;
            Say(stdout, "  %s\n", f.MenuPath().c_str());
            Say(stdout, "    property list %s, interface %u.%u, entry point %s\n", f.resourceName.c_str(),
                        l.interfaceVersion >> 16, l.interfaceVersion & 0xFFFF, EntryPointFor(l).c_str());
            std::string modes;
            for (int16_t mode = 0; mode <= 13; ++mode)
                if (pipl::EnabledFor(l, mode, ImageModeName(mode)).enabled)
                    modes += std::string(modes.empty() ? "" : ", ") + ImageModeName(mode);
            Say(stdout, "    enabled for %s%s\n", modes.empty() ? "no documents" : modes.c_str(),
                        l.hasEnable ? " (by its enabling expression)" : l.hasMode ? " (by its mode flags)" : "");
            if (const aete::Event *event = f.Event())
                Say(stdout, "    scripting event \"%s\" (%s/%s) with %zu parameter(s)\n", event->name.c_str(),
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
        Say(stderr, "filterhost: %s\n", error.c_str());
        return 2;
    }
    PrintWarnings(host);
    const std::string version = host.Catalog().VersionLine();
    if (!version.empty())
        Say(stdout, "%s\n", version.c_str());
    const RunReport report = host.About();
    PrintEvents(host);
    Say(stdout, "about returned %s\n", ResultWords(report.result).c_str());
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
    if (files::SameFile(argv[2], argv[3])) {
        Say(stderr, "filterhost: the output %s would replace the input %s (it is the same file)\n", argv[3], argv[2]);
        return 2;
    }
    if (!LoadImageFile(argv[2], &document, &error)) {
        Say(stderr, "filterhost: %s\n", error.c_str());
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
        Say(stderr, "filterhost: %s\n", error.c_str());
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
    host->behaviour.profile = o.profile;
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
        Say(stderr, "filterhost: cannot save the mask view %s\n", why.c_str());
        return false;
    }
    Say(stdout, "Wrote the mask view %s\n", path.c_str());
    return true;
}

// Saves the dialog as it stands, in its Result view.
bool SaveScreenshot(HWND dialog, const std::string &path)
{
    dialog_driver::Click(dialog, umbrolux::kResultViewButton);
    Document shot;
    std::string why;
    if (!dialog_driver::Screenshot(dialog, &shot) || !SaveImageFile(path, shot, &why)) {
        Say(stderr, "filterhost: cannot save the screenshot %s\n", why.c_str());
        return false;
    }
    Say(stdout, "Wrote the dialog's screenshot %s\n", path.c_str());
    return true;
}

int Run(const RunOptions &o)
{
    const double started = FilterHost::Now();
    FileJob job(o.image, o.out, o.selection);
    std::string error;
    // Everything that can be known before the work is checked first: the
    // dialog's pictures replace no input either.
    for (const std::string *picture : {&o.screenshot, &o.maskView})
        for (const std::string *input : {&o.image, &o.selection})
            if (!picture->empty() && !input->empty() && files::SameFile(*picture, *input)) {
                Say(stderr, "filterhost: %s would replace the input %s (it is the same file)\n", picture->c_str(),
                    input->c_str());
                return 2;
            }
    if (!job.Check(&error) || !job.Load(&error)) {
        Say(stderr, "filterhost: %s\n", error.c_str());
        return 2;
    }
    FilterHost host;
    if (!host.Load(o.module, &error)) {
        Say(stderr, "filterhost: %s\n", error.c_str());
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
    Say(stdout, "Filter %s (%s)\n", host.Filter()->MenuPath().c_str(), host.Catalog().VersionLine().c_str());
    Say(stdout, "Document %s: %d x %d, %s, %d-bit, %d plane(s)\n", o.image.c_str(), document.width,
                document.height, ImageModeName(document.mode), document.depth, document.PlaneCount());
    if (o.profile != HostProfile::Full)
        Say(stdout, "Host profile %s\n", HostProfileName(o.profile));
    const DWORD ticks = GetTickCount();
    host.onProgress = [ticks](int32_t done, int32_t total) {
        const int percent = total > 0 ? int(int64_t(done) * 100 / total) : 100;
        Say(stdout, "\rprogress %3d%% (%d of %d tiles, %.1f s)", percent, done, total,
                    (GetTickCount() - ticks) / 1000.0);
        if (done >= total)
            Say(stdout, "\n");
        std::fflush(stdout);
    };

    const FileJob::Outcome outcome = job.Filter(host, &error);
    const RunReport &report = job.Report();
    if (outcome == FileJob::Outcome::NotEnabled)
        return Finish(report);
    if (dialogFailed)
        return 1;
    Say(stdout, "Filter case %d: input handling %d, output handling %d, flags 0x%02X 0x%02X\n", report.filterCase,
                report.handling.inputHandling, report.handling.outputHandling, report.handling.flags1,
                report.handling.flags2);
    for (const SelectorCall &call : report.calls)
        Say(stdout, "%-10s -> %s\n", SelectorWord(call.selector), ResultWords(call.result).c_str());
    Say(stdout, "What the filter did through the host:\n");
    PrintEvents(host);
    if (!report.completed)
        Say(stdout, "The run did not go through; the image is unchanged.\n");
    if (!o.out.empty() && outcome != FileJob::Outcome::Completed) {
        Say(stdout, "Nothing written to %s: %s.\n", o.out.c_str(), error.c_str());
    } else if (!o.out.empty()) {
        if (!job.Write(&error)) {
            Say(stderr, "filterhost: %s\n", error.c_str());
            return 2;
        }
        Say(stdout, "Wrote %s\n", o.out.c_str());
    }
    const FilterHost::Timing &t = host.timing;
    const double total = FilterHost::Now() - started;
    const double stages = job.decodeSeconds + t.selectors + job.encodeSeconds;
    Say(stdout, "Timing: decode %.3f s; dialog %.3f s; filter %.3f s (the module's own work %.3f s, the host's "
                "blur and median %.3f s, tile delivery %.3f s); encode %.3f s; the rest (loading the module, "
                "checks) %.3f s; in all %.3f s; peak memory %.0f MB; %d thread(s)\n",
                job.decodeSeconds, t.dialog, t.selectors - t.dialog,
                t.selectors - t.dialog - t.hostFilters - t.tileDelivery, t.hostFilters, t.tileDelivery,
                job.encodeSeconds, total - stages, total, PeakMegabytes(), parallel::ThreadCount());
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
        FileJob job(file, out, "", o.overwrite ? FileJob::Replacing::Overwrite : FileJob::Replacing::Nothing);
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

// `serve`: a batch's worker. Filters the files its input names, one line
// each ("IN<tab>OUT"), through one loaded module, as a batch does in one
// process: the first file's dialog is accepted on the values given (--set or
// --ok), the later ones repeat the filter. For each file it writes one line:
// 0, 1 or 3 (filtered, failed, cancelled), a space, and the batch's line.
int Serve(const RunOptions &o)
{
    FilterHost host;
    std::string error;
    const bool loaded = host.Load(o.module, &error);
    if (loaded)
        Prepare(&host, o);
    bool dialogShown = false;
    std::string request;
    while (std::getline(std::cin, request)) {
        if (!request.empty() && request.back() == '\r')
            request.pop_back();
        const size_t tab = request.find('\t');
        std::string line = "FAILED: " + error;
        FileEnd end = FileEnd::Failed;
        if (tab == std::string::npos)
            line = "FAILED: the request names no output";
        else if (loaded)
            end = BatchFile(host, o, request.substr(0, tab), request.substr(tab + 1), &dialogShown, &line);
        Say(stdout, "%d %s\n", end == FileEnd::Filtered ? 0 : end == FileEnd::Cancelled ? 3 : 1, line.c_str());
        std::fflush(stdout);
    }
    return 0;
}

std::string Quoted(const std::string &text)
{
    return "\"" + text + "\"";
}

// A `serve` process of the batch, with a pipe to its input and one from its
// output.
class Worker {
public:
    Worker() = default;
    Worker(const Worker &) = delete;
    Worker &operator=(const Worker &) = delete;
    ~Worker() { Stop(); }

    bool Start(const std::string &commandLine)
    {
        SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
        HANDLE childInput = nullptr, childOutput = nullptr;
        if (!CreatePipe(&childInput, &input_, &inherit, 0))
            return false;
        if (!CreatePipe(&output_, &childOutput, &inherit, 0)) {
            CloseHandle(childInput);
            CloseHandle(input_);
            input_ = nullptr;
            return false;
        }
        SetHandleInformation(input_, HANDLE_FLAG_INHERIT, 0);
        SetHandleInformation(output_, HANDLE_FLAG_INHERIT, 0);
        STARTUPINFOW startup = {};
        startup.cb = sizeof startup;
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdInput = childInput;
        startup.hStdOutput = childOutput;
        startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);  // the answers alone come through the pipe
        std::wstring line = files::Wide(commandLine);
        line.push_back(L'\0');
        const BOOL started =
            CreateProcessW(nullptr, &line[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process_);
        CloseHandle(childInput);
        CloseHandle(childOutput);
        if (!started) {
            process_ = PROCESS_INFORMATION{};
            Stop();
        }
        return started != FALSE;
    }

    bool Running() const { return process_.hProcess != nullptr; }

    // Asks for one file and waits for its line; false when the worker has
    // ended (it is then stopped).
    bool Filter(const std::string &in, const std::string &out, int *status, std::string *line)
    {
        const std::string request = in + "\t" + out + "\n";
        DWORD written = 0;
        if (!WriteFile(input_, request.data(), DWORD(request.size()), &written, nullptr) ||
            written != request.size()) {
            Stop();
            return false;
        }
        std::string answer;
        for (;;) {
            const size_t end = pending_.find('\n');
            if (end != std::string::npos) {
                answer = pending_.substr(0, end);
                pending_.erase(0, end + 1);
                break;
            }
            char buffer[4096];
            DWORD got = 0;
            if (!ReadFile(output_, buffer, sizeof buffer, &got, nullptr) || got == 0) {
                Stop();
                return false;
            }
            pending_.append(buffer, got);
        }
        if (!answer.empty() && answer.back() == '\r')
            answer.pop_back();
        if (answer.size() < 2 || (answer[0] != '0' && answer[0] != '1' && answer[0] != '3') || answer[1] != ' ') {
            *status = 1;
            *line = "FAILED: the worker answered \"" + answer + "\"";
        } else {
            *status = answer[0] - '0';
            *line = answer.substr(2);
        }
        return true;
    }

    // Closes its input, so that it ends, and waits for it.
    void Stop()
    {
        if (input_ != nullptr)
            CloseHandle(input_);
        input_ = nullptr;
        if (process_.hProcess != nullptr) {
            WaitForSingleObject(process_.hProcess, INFINITE);
            CloseHandle(process_.hProcess);
            CloseHandle(process_.hThread);
        }
        process_ = PROCESS_INFORMATION{};
        if (output_ != nullptr)
            CloseHandle(output_);
        output_ = nullptr;
        pending_.clear();
    }

private:
    PROCESS_INFORMATION process_{};
    HANDLE input_ = nullptr, output_ = nullptr;
    std::string pending_;
};

// The files from `first` on, through `jobs` worker processes (`serve`),
// each given the next file as soon as it has finished one. Lines are printed
// as files end. A cancel lets the files under way end and gives out no more.
void BatchInProcesses(const RunOptions &o, const std::vector<std::string> &files,
                      const std::vector<OutputName> &outputs, size_t first, int *filtered, int *failed,
                      bool *cancelled)
{
    std::wstring self(32768, L'\0');
    self.resize(GetModuleFileNameW(nullptr, &self[0], DWORD(self.size())));
    std::string commandLine = Quoted(files::Utf8(self)) + " serve " + Quoted(o.module);
    if (o.overwrite)
        commandLine += " --overwrite";
    commandLine += o.hasSet && !o.setSpec.empty() ? " --set " + Quoted(o.setSpec) : " --ok";
    commandLine += " --tile " + std::to_string(o.tileWidth) + "x" + std::to_string(o.tileHeight);
    commandLine += std::string(" --host ") + HostProfileName(o.profile);
    // The processors are shared among the workers.
    commandLine += " --threads " + std::to_string(std::max(1, o.threads / std::max(1, o.jobs)));
    std::mutex lock;
    size_t next = first;
    auto work = [&]() {
        Worker worker;
        for (;;) {
            size_t index;
            {
                std::lock_guard<std::mutex> hold(lock);
                if (*cancelled || next >= files.size())
                    return;
                index = next++;
            }
            int status = 1;
            std::string line;
            // A worker that has ended (it crashed on a file) is replaced
            // for the next one.
            if (!worker.Running() && !worker.Start(commandLine))
                line = "FAILED: cannot start a worker process (error " + std::to_string(GetLastError()) + ")";
            else if (!worker.Filter(files[index], outputs[index].path, &status, &line))
                status = 1, line = "FAILED: the worker process ended while filtering it";
            if (status == 0 && !outputs[index].note.empty())
                line += "; " + outputs[index].note;
            std::lock_guard<std::mutex> hold(lock);
            Say(stdout, "[%zu/%zu] %s: %s\n", index + 1, files.size(), files[index].c_str(), line.c_str());
            std::fflush(stdout);
            if (status == 0)
                ++*filtered;
            else if (status == 3)
                *cancelled = true;
            else
                ++*failed;
        }
    };
    std::vector<std::thread> threads;
    for (int i = 0; i < o.jobs && first + size_t(i) < files.size(); ++i)
        threads.emplace_back(work);
    for (std::thread &t : threads)
        t.join();
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
        Say(stderr, "filterhost: no image files to filter\n");
        return 2;
    }
    CreateDirectoryW(files::SystemPath(outDir).c_str(), nullptr);
    if (!files::IsFolder(outDir)) {
        Say(stderr, "filterhost: cannot make the output folder %s\n", outDir.c_str());
        return 2;
    }
    FilterHost host;
    std::string error;
    if (!host.Load(o.module, &error)) {
        Say(stderr, "filterhost: %s\n", error.c_str());
        return 2;
    }
    PrintWarnings(host);
    Prepare(&host, o);

    const double started = FilterHost::Now();
    int filtered = 0, failed = 0;
    bool dialogShown = false, cancelled = false;
    const std::vector<OutputName> outputs = OutputNames(files, outDir, o.overwrite);
    size_t index = 0;
    // Here, one after another: every file with one job; with more, the files
    // up to the first dialog when the person chooses the values in it.
    for (; index < files.size() && !cancelled && (o.jobs <= 1 || (!o.hasSet && !dialogShown)); ++index) {
        Say(stdout, "[%zu/%zu] %s: ", index + 1, files.size(), files[index].c_str());
        std::fflush(stdout);
        std::string line;
        const FileEnd end = BatchFile(host, o, files[index], outputs[index].path, &dialogShown, &line);
        if (end == FileEnd::Filtered && !outputs[index].note.empty())
            line += "; " + outputs[index].note;
        Say(stdout, "%s\n", line.c_str());
        std::fflush(stdout);
        filtered += end == FileEnd::Filtered ? 1 : 0;
        failed += end == FileEnd::Failed ? 1 : 0;
        cancelled = end == FileEnd::Cancelled;
    }
    if (index < files.size() && !cancelled)
        BatchInProcesses(o, files, outputs, index, &filtered, &failed, &cancelled);
    Say(stdout, "Batch: %d of %zu file(s) filtered, %d failed%s; %.1f s\n", filtered, files.size(), failed,
                cancelled ? ", cancelled" : "", FilterHost::Now() - started);
    return failed != 0 || cancelled ? 1 : 0;
}

int Main(int argc, char **argv);

} // namespace

// The arguments are taken as the system gives them, in wide characters, and
// go on as UTF-8.
int main()
{
    std::vector<std::string> arguments = files::Arguments();
    std::vector<char *> argv;
    for (std::string &argument : arguments)
        argv.push_back(&argument[0]);
    argv.push_back(nullptr);
    return Main(int(arguments.size()), argv.data());
}

namespace {

int Main(int argc, char **argv)
{
    if (argc >= 3 && std::strcmp(argv[1], "about") == 0 && argc == 3)
        return About(argv[2]);
    if (argc >= 3 && std::strcmp(argv[1], "list") == 0)
        return List(argc, argv);
    if (argc >= 2 && std::strcmp(argv[1], "convert") == 0) {
        parallel::SetThreadCount(parallel::ProcessorCount());
        return Convert(argc, argv);
    }
    RunOptions options;
    if (argc >= 2 && std::strcmp(argv[1], "run") == 0) {
        const std::vector<std::string> &p = options.positional;
        if (ParseRun(argc, argv, &options) && p.size() >= 2 && p.size() <= 3 && !options.overwrite) {
            options.module = p[0];
            options.image = p[1];
            options.out = p.size() == 3 ? p[2] : "";
            parallel::SetThreadCount(options.threads != 0 ? options.threads : parallel::ProcessorCount());
            try {
                return Run(options);
            } catch (const std::bad_alloc &) {
                Say(stderr, "filterhost: out of memory\n");
                return 1;
            }
        }
        if (!options.error.empty())
            Say(stderr, "filterhost: %s\n", options.error.c_str());
        else
            Say(stderr, "filterhost: run takes MODULE IMAGE [OUT] and the options listed when "
                                 "filterhost is run alone\n");
        return 2;
    }
    if (argc >= 2 && std::strcmp(argv[1], "serve") == 0) {
        const std::vector<std::string> &p = options.positional;
        if (ParseRun(argc, argv, &options) && p.size() == 1 && options.selection.empty() &&
            options.screenshot.empty() && options.maskView.empty()) {
            options.module = p[0];
            parallel::SetThreadCount(options.threads != 0 ? options.threads : parallel::ProcessorCount());
            return Serve(options);
        }
        if (!options.error.empty())
            Say(stderr, "filterhost: %s\n", options.error.c_str());
        else
            Say(stderr, "filterhost: serve takes MODULE and the tone, tile and host options listed "
                                 "when filterhost is run alone\n");
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
            if (options.threads == 0)
                options.threads = parallel::ProcessorCount();
            parallel::SetThreadCount(options.threads);
            return Batch(options);
        }
        if (!options.error.empty())
            Say(stderr, "filterhost: %s\n", options.error.c_str());
        else
            Say(stderr, "filterhost: batch takes MODULE OUTDIR FILE-OR-FOLDER... and the tone, tile "
                                 "and host options listed when filterhost is run alone\n");
        return 2;
    }
    Usage();
    return 2;
}

} // namespace
