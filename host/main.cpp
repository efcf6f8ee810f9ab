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

#include "host/FilterHost.h"
#include "host/FilterRegistry.h"
#include "host/DialogDriver.h"
#include "host/ImageFile.h"
#include "resources/ResourceIds.h"
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
                 "                 [--contrast C] [--tile WxH]\n"
                 "  filterhost convert IMAGE OUT [--depth 8|16]\n"
                 "IMAGE and OUT are PNG or TIFF files, 8 or 16 bits per sample. --set types the\n"
                 "values into the filter's dialog and presses OK; --ok presses OK on the values\n"
                 "shown; without either the dialog waits for you. --screenshot saves the dialog\n"
                 "(in its Result view), --mask-view the preview's Mask view. --bias, --gamma and\n"
                 "--contrast set the last values the dialog starts from; --tile sets the host's\n"
                 "tile size (256x256 by default); MASK is a grey image of the same size, white\n"
                 "where the image is selected. batch filters every file given and every image\n"
                 "in each folder given into OUTDIR, loading the module once: the first file's\n"
                 "dialog sets the values, the others repeat them.\n");
}

const char *SelectorWord(int16_t selector)
{
    static const char *const kWords[] = {"about", "parameters", "prepare", "start", "continue", "finish"};
    return selector >= 0 && selector <= 5 ? kWords[selector] : "unknown";
}

std::string ResultWords(int16_t result)
{
    switch (result) {
    case 0: return "0 (no error)";
    case 1: return "1 (the plug-in told the user, or the user cancelled)";
    case -1: return "-1 (failed)";
    case -108: return "-108 (out of memory)";
    case -128: return "-128 (cancelled)";
    case -30100: return "-30100 (bad parameters)";
    case -30900: return "-30900 (the host lacks a required suite)";
    default: return std::to_string(result);
    }
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
    bool hasSet = false;
    std::vector<std::string> positional;
    bool hasBias = false, hasGamma = false, hasContrast = false;
    float bias = 0, gamma = 0, contrast = 0;
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
        const int edit = name == "bias" ? IDC_BIAS_EDIT : name == "gamma" ? IDC_GAMMA_EDIT
                       : name == "contrast" ? IDC_CONTRAST_EDIT : 0;
        if (edit == 0)
            return false;
        typed->emplace_back(edit, value);
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
        if (a == "--bias" && hasValue)
            o->hasBias = ParseFloat(argv[++i], &o->bias);
        else if (a == "--gamma" && hasValue)
            o->hasGamma = ParseFloat(argv[++i], &o->gamma);
        else if (a == "--contrast" && hasValue)
            o->hasContrast = ParseFloat(argv[++i], &o->contrast);
        else if (a == "--selection" && hasValue)
            o->selection = argv[++i];
        else if (a == "--screenshot" && hasValue)
            o->screenshot = argv[++i];
        else if (a == "--mask-view" && hasValue)
            o->maskView = argv[++i];
        else if (a == "--ok")
            o->hasSet = true;
        else if (a == "--set" && hasValue) {
            if (!ParseSet(argv[++i], &o->typed))
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
        if ((a == "--bias" && !o->hasBias) || (a == "--gamma" && !o->hasGamma) ||
            (a == "--contrast" && !o->hasContrast))
            return false;
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

// A grey image as the document's selection: one byte per pixel.
bool LoadSelection(const std::string &path, Document *document, std::string *error)
{
    Document mask;
    if (!LoadImageFile(path, &mask, error))
        return false;
    if (mask.width != document->width || mask.height != document->height) {
        *error = path + " is not the size of the image";
        return false;
    }
    document->selection.resize(size_t(mask.width) * size_t(mask.height));
    for (size_t i = 0; i < document->selection.size(); ++i) {
        const uint16_t v = mask.planes[0][i];
        document->selection[i] = mask.depth == 16 ? Convert16To8(v) : uint8_t(v);
    }
    return true;
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
    if (o.hasBias)
        StoreFilterFloat("Last bias", o.bias);
    if (o.hasGamma)
        StoreFilterFloat("Last gamma", o.gamma);
    if (o.hasContrast)
        StoreFilterFloat("Last contrast", o.contrast);
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

std::string LowerExtension(const std::string &path)
{
    const size_t slash = path.find_last_of("\\/");
    const size_t dot = path.find_last_of('.');
    std::string ext = dot == std::string::npos || (slash != std::string::npos && dot < slash) ? "" : path.substr(dot);
    for (char &ch : ext)
        ch = char(std::tolower(static_cast<unsigned char>(ch)));
    return ext;
}

std::string FolderOf(const std::string &path)
{
    const size_t slash = path.find_last_of("\\/");
    return slash == std::string::npos ? "." : slash == 0 ? path.substr(0, 1) : path.substr(0, slash);
}

// The full path, folded to lower case: two names of one file compare equal.
std::string FullPath(const std::string &path)
{
    char full[MAX_PATH * 2] = {};
    if (GetFullPathNameA(path.c_str(), sizeof full, full, nullptr) == 0)
        return path;
    std::string text = full;
    for (char &ch : text)
        ch = char(std::tolower(static_cast<unsigned char>(ch)));
    return text;
}

// What can be known about an output before any work: a format the host
// writes, and a folder that exists.
bool CheckOutputPath(const std::string &path, std::string *why)
{
    const std::string ext = LowerExtension(path);
    if (ext != ".png" && ext != ".tif" && ext != ".tiff") {
        *why = "cannot write " + path + ": the name must end in .png, .tif or .tiff";
        return false;
    }
    const DWORD attributes = GetFileAttributesA(FolderOf(path).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        *why = "cannot write " + path + ": the folder " + FolderOf(path) + " does not exist";
        return false;
    }
    return true;
}

// Writes the image under a temporary name in the output's folder, then
// renames it to the output's name: whatever fails, and whenever, no partial
// file is left under that name.
bool SaveAtomically(const std::string &path, const Document &document, std::string *error)
{
    const std::string ext = LowerExtension(path);
    const std::string temporary =
        path.substr(0, path.size() - ext.size()) + ".partial-" + std::to_string(GetCurrentProcessId()) + ext;
    if (!SaveImageFile(temporary, document, error)) {
        DeleteFileA(temporary.c_str());
        return false;
    }
    if (!MoveFileExA(temporary.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        *error = "cannot write " + path + " (error " + std::to_string(GetLastError()) + ")";
        DeleteFileA(temporary.c_str());
        return false;
    }
    return true;
}

// True when the run ended on the person's cancel (in the dialog, or Esc
// during the run): the filter answered 1 without telling of a refusal.
bool CancelledByThePerson(const RunReport &report, const FilterHost &host)
{
    return report.result == 1 && !report.finished && host.CountEvents(EventKind::Window, "message box") == 0;
}

// The last message box the filter showed in this run, as the host logged it.
std::string LastMessageBox(const FilterHost &host)
{
    for (auto it = host.events.rbegin(); it != host.events.rend(); ++it)
        if (it->kind == EventKind::Window && it->text.compare(0, 11, "message box") == 0)
            return it->text;
    return "";
}

int Run(const RunOptions &o)
{
    // Everything that can be known before the work is checked first.
    if (!o.out.empty()) {
        std::string why;
        if (FullPath(o.out) == FullPath(o.image)) {
            std::fprintf(stderr, "filterhost: the output %s would replace the input\n", o.out.c_str());
            return 2;
        }
        if (!CheckOutputPath(o.out, &why)) {
            std::fprintf(stderr, "filterhost: %s\n", why.c_str());
            return 2;
        }
    }
    Document document;
    std::string error;
    const double decodeStart = FilterHost::Now();
    if (!LoadImageFile(o.image, &document, &error) ||
        (!o.selection.empty() && !LoadSelection(o.selection, &document, &error))) {
        std::fprintf(stderr, "filterhost: %s\n", error.c_str());
        return 2;
    }
    const double decodeSeconds = FilterHost::Now() - decodeStart;
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
            if (!o.maskView.empty()) {
                dialog_driver::Click(dialog, IDC_VIEW_MASK);
                const DisplayedImage &shown = host.lastDisplay.image;
                Document view = MakeDocument(shown.width, shown.height, 3, 8, plugInModeRGBColor);
                for (size_t i = 0; i < size_t(shown.width) * size_t(shown.height); ++i)
                    for (int c = 0; c < 3; ++c)
                        view.planes[size_t(c)][i] = shown.rgb[i * 3 + size_t(c)];
                std::string why;
                if (host.displayCount == 0 || !SaveImageFile(o.maskView, view, &why)) {
                    std::fprintf(stderr, "filterhost: cannot save the mask view %s\n", why.c_str());
                    dialogFailed = true;
                } else {
                    std::printf("Wrote the mask view %s\n", o.maskView.c_str());
                }
            }
            if (!o.screenshot.empty()) {
                dialog_driver::Click(dialog, IDC_VIEW_RESULT);
                Document shot;
                std::string why;
                if (!dialog_driver::Screenshot(dialog, &shot) || !SaveImageFile(o.screenshot, shot, &why)) {
                    std::fprintf(stderr, "filterhost: cannot save the screenshot %s\n", why.c_str());
                    dialogFailed = true;
                } else {
                    std::printf("Wrote the dialog's screenshot %s\n", o.screenshot.c_str());
                }
            }
            dialog_driver::Click(dialog, dialogFailed ? IDCANCEL : IDOK);
        };
    } else {
        host.windows.dialogHandler = [](HWND) {};
        host.behaviour.openShell = true;
    }

    PrintWarnings(host);
    std::printf("Filter %s (%s)\n", host.Filter()->MenuPath().c_str(), host.Catalog().VersionLine().c_str());
    std::printf("Document %s: %d x %d, %s, %d-bit, %d plane(s)\n", o.image.c_str(), document.width,
                document.height, ImageModeName(document.mode), document.depth, document.PlaneCount());
    const DWORD started = GetTickCount();
    host.onProgress = [started](int32_t done, int32_t total) {
        const int percent = total > 0 ? int(int64_t(done) * 100 / total) : 100;
        std::printf("\rprogress %3d%% (%d of %d tiles, %.1f s)", percent, done, total,
                    (GetTickCount() - started) / 1000.0);
        if (done >= total)
            std::printf("\n");
        std::fflush(stdout);
    };

    const RunReport report = host.Run(document);
    if (!report.notEnabled.empty())
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

    double encodeSeconds = 0;
    // Only a completed run has an output: after a cancel, a refusal or an
    // error the image is not what the filter makes of it.
    if (!o.out.empty() && !(report.finished && report.result == 0 && report.Clean())) {
        std::printf("Nothing written to %s.\n", o.out.c_str());
    } else if (!o.out.empty()) {
        const double encodeStart = FilterHost::Now();
        if (!SaveAtomically(o.out, document, &error)) {
            std::fprintf(stderr, "filterhost: %s\n", error.c_str());
            return 2;
        }
        encodeSeconds = FilterHost::Now() - encodeStart;
        std::printf("Wrote %s\n", o.out.c_str());
    }
    const FilterHost::Timing &t = host.timing;
    std::printf("Timing: decode %.3f s; dialog %.3f s; filter %.3f s (the module's own work %.3f s, the host's "
                "blur and median %.3f s, tile delivery %.3f s); encode %.3f s; peak memory %.0f MB\n",
                decodeSeconds, t.dialog, t.selectors - t.dialog, t.selectors - t.dialog - t.hostFilters - t.tileDelivery,
                t.hostFilters, t.tileDelivery, encodeSeconds, PeakMegabytes());
    return Finish(report);
}

// The image files of a folder, in name order; a file as it is.
std::vector<std::string> ExpandInputs(const std::vector<std::string> &inputs)
{
    std::vector<std::string> files;
    for (const std::string &input : inputs) {
        const DWORD attributes = GetFileAttributesA(input.c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
            files.push_back(input);
            continue;
        }
        std::vector<std::string> found;
        WIN32_FIND_DATAA entry;
        HANDLE search = FindFirstFileA((input + "\\*").c_str(), &entry);
        if (search == INVALID_HANDLE_VALUE)
            continue;
        do {
            std::string name = entry.cFileName;
            std::string lower = name;
            for (char &ch : lower)
                ch = char(std::tolower(static_cast<unsigned char>(ch)));
            const size_t dot = lower.find_last_of('.');
            const std::string ext = dot == std::string::npos ? "" : lower.substr(dot);
            if (!(entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
                (ext == ".png" || ext == ".tif" || ext == ".tiff" || ext == ".jpg" || ext == ".jpeg"))
                found.push_back(input + "\\" + name);
        } while (FindNextFileA(search, &entry));
        FindClose(search);
        std::sort(found.begin(), found.end());
        files.insert(files.end(), found.begin(), found.end());
    }
    return files;
}

// Each input's output in the folder: its own name (a JPEG's as PNG), or,
// when that is an input of the batch or an earlier file's output, the name
// with -1, -2, ... before the extension. No output is ever an input, and no
// two inputs share an output.
std::vector<std::string> OutputNames(const std::vector<std::string> &files, const std::string &outDir)
{
    std::set<std::string> inputs, taken;
    for (const std::string &file : files)
        inputs.insert(FullPath(file));
    std::vector<std::string> outputs;
    for (const std::string &file : files) {
        const size_t slash = file.find_last_of("\\/");
        const std::string name = slash == std::string::npos ? file : file.substr(slash + 1);
        std::string ext = LowerExtension(name);
        const std::string stem = name.substr(0, name.size() - ext.size());
        if (ext == ".jpg" || ext == ".jpeg")
            ext = ".png";  // JPEG is read, not written
        else
            ext = name.substr(name.size() - ext.size());
        std::string out = outDir + "\\" + stem + ext;
        for (int n = 1; inputs.count(FullPath(out)) != 0 || taken.count(FullPath(out)) != 0; ++n)
            out = outDir + "\\" + stem + "-" + std::to_string(n) + ext;
        taken.insert(FullPath(out));
        outputs.push_back(out);
    }
    return outputs;
}

// Many files through one loaded module: the first file's dialog sets the
// values (typed with --set, accepted with --ok, or by the person at the
// display), every later file runs with them, as the host's "repeat the last
// filter" does. A file that fails is reported and the others go on; a
// cancelled dialog stops the batch.
int Batch(const RunOptions &o)
{
    const std::string &module = o.positional[0], &outDir = o.positional[1];
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
    if (!host.Load(module, &error)) {
        std::fprintf(stderr, "filterhost: %s\n", error.c_str());
        return 2;
    }
    PrintWarnings(host);
    Prepare(&host, o);

    const double started = FilterHost::Now();
    int filtered = 0, failed = 0, index = 0;
    bool dialogShown = false, cancelled = false;
    const std::vector<std::string> outputs = OutputNames(files, outDir);
    for (const std::string &file : files) {
        const std::string &out = outputs[size_t(index)];
        ++index;
        const double fileStarted = FilterHost::Now();
        std::printf("[%d/%zu] %s: ", index, files.size(), file.c_str());
        std::fflush(stdout);

        // Running out of memory fails this file alone; the others go on.
        try {
            Document document;
            if (!LoadImageFile(file, &document, &error)) {
                std::printf("FAILED: %s\n", error.c_str());
                ++failed;
                continue;
            }
            bool dialogSeen = false;
            if (!dialogShown && o.hasSet) {
                host.windows.dialogHandler = [&](HWND dialog) {
                    dialogSeen = true;
                    TypeValues(dialog, o);
                    dialog_driver::Click(dialog, IDOK);
                };
            } else if (!dialogShown) {
                host.windows.dialogHandler = [&](HWND) { dialogSeen = true; };
                host.behaviour.openShell = true;
            } else {
                host.windows.dialogHandler = [](HWND dialog) { dialog_driver::Click(dialog, IDOK); };
            }
            host.events.clear();
            const RunReport report = host.Run(document);
            if (!report.notEnabled.empty()) {
                std::printf("FAILED: %s\n", report.notEnabled.c_str());
                ++failed;
                continue;
            }
            // The first dialog sets the values; a file refused before any dialog
            // leaves the next one to show it.
            dialogShown = dialogShown || dialogSeen;
            // Only the person's cancel stops the batch; a file the filter
            // refuses is reported like any other failure.
            if (CancelledByThePerson(report, host)) {
                std::printf("cancelled; the batch stops here\n");
                cancelled = true;
                break;
            }
            if (report.result == 1 && !LastMessageBox(host).empty()) {
                std::printf("FAILED: the filter refused it (%s)\n", LastMessageBox(host).c_str());
                ++failed;
                continue;
            }
            if (report.result != 0 || !report.Clean()) {
                std::printf("FAILED: the filter returned %s%s\n", ResultWords(report.result).c_str(),
                            report.Clean() ? "" : " and left something behind");
                ++failed;
                continue;
            }
            if (!SaveAtomically(out, document, &error)) {
                std::printf("FAILED: %s\n", error.c_str());
                ++failed;
                continue;
            }
            ++filtered;
            std::printf("%d x %d, %s, %d-bit -> %s (%.2f s)\n", document.width, document.height,
                        ImageModeName(document.mode), document.depth, out.c_str(), FilterHost::Now() - fileStarted);
        } catch (const std::bad_alloc &) {
            std::printf("FAILED: out of memory\n");
            ++failed;
        }
    }
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
    if (argc >= 2 && std::strcmp(argv[1], "batch") == 0) {
        if (ParseRun(argc, argv, &options) && options.positional.size() >= 3 && options.selection.empty() &&
            options.screenshot.empty() && options.maskView.empty())
            return Batch(options);
        std::fprintf(stderr, "filterhost: batch takes MODULE OUTDIR FILE-OR-FOLDER... and the tone and tile "
                             "options listed when filterhost is run alone\n");
        return 2;
    }
    Usage();
    return 2;
}
