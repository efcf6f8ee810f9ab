#include "host/commands/Batch.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <new>

#include "host/commands/Commands.h"
#include "host/commands/Output.h"
#include "host/core/Parallel.h"
#include "host/files/FileSystem.h"
#include "host/windows/DialogDriver.h"

namespace commands {

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
        job.jpegQuality = o.jpegQuality;
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
            if (!job.DroppedWords().empty())
                *line += "; " + job.DroppedWords();
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


namespace {

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
    const std::vector<OutputName> outputs = OutputNames(files, outDir, o.overwrite, o.format);
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


} // namespace

int Batch(int argc, char **argv)
{
    RunOptions options;
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

} // namespace commands
