#include "host/commands/Commands.h"

#include <windows.h>
#include <psapi.h>

#include <cstdio>
#include <new>
#include <string>

#include "host/commands/Options.h"
#include "host/commands/Output.h"
#include "host/core/Parallel.h"
#include "host/files/FileJob.h"
#include "host/files/FileSystem.h"
#include "host/files/ImageFile.h"
#include "host/session/FilterHost.h"
#include "host/windows/DialogDriver.h"

namespace commands {

namespace {

const char *SelectorWord(int16_t selector)
{
    static const char *const kWords[] = {"about", "parameters", "prepare", "start", "continue", "finish"};
    return selector >= 0 && selector <= 5 ? kWords[selector] : "unknown";
}


double PeakMegabytes()
{
    PROCESS_MEMORY_COUNTERS counters = {};
    counters.cb = sizeof counters;
    if (!GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters))
        return 0;
    return double(counters.PeakWorkingSetSize) / (1024.0 * 1024.0);
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
    job.jpegQuality = o.jpegQuality;
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
        if (!job.DroppedWords().empty()) {
            std::string words = job.DroppedWords();
            words[0] = 'N';
            Say(stdout, "%s.\n", words.c_str());
        }
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


} // namespace

// One image through the module, with its dialog typed into, accepted, or
// left to the person at the display.
int Run(int argc, char **argv)
{
    RunOptions options;
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

} // namespace commands
