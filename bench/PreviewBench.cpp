// Prints what one preview paint costs in the dialog: from a slider's key
// notification to the end of the WM_PAINT it causes, at zoom 1 and zoom 7,
// with the image given (the filter's own module, in the emulated host, in
// the full host's profile or another), and the memory the dialog takes
// beyond the document's.
// Figures only; nothing here is a test.
//
//   preview_bench MODULE IMAGE [full|plain|plain-handles|plain-no-memory]
#include <windows.h>
#include <commctrl.h>
#include <psapi.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "host/windows/DialogDriver.h"
#include "host/session/FilterHost.h"
#include "host/session/HostProfile.h"
#include "host/files/ImageFile.h"
#include "resources/ResourceIds.h"

namespace {

struct Figures {
    double median = 0, mean = 0, worst = 0;
    double filters = 0, display = 0, reads = 0;  // means, in milliseconds (reads: the notification)
};

FilterHost *gHost = nullptr;

double PeakMegabytes()
{
    PROCESS_MEMORY_COUNTERS counters = {};
    counters.cb = sizeof counters;
    if (!GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters))
        return 0;
    return double(counters.PeakWorkingSetSize) / (1024.0 * 1024.0);
}

Figures Measure(HWND dialog, int paints)
{
    const FilterHost::Timing before = gHost->timing;
    HWND slider = GetDlgItem(dialog, IDC_GAMMA_SLIDER);
    SetFocus(slider);
    dialog_driver::Settle(dialog);
    std::vector<double> times;
    double notifyTotal = 0;
    for (int i = 0; i < paints; ++i) {
        const UINT key = i % 2 == 0 ? VK_DOWN : VK_UP;
        const double started = FilterHost::Now();
        SendMessageA(slider, WM_KEYDOWN, key, 1);
        const double notified = FilterHost::Now();
        UpdateWindow(dialog);  // the paint the notification asked for, now
        notifyTotal += notified - started;
        times.push_back(FilterHost::Now() - started);
        SendMessageA(slider, WM_KEYUP, key, 0xC0000001);
    }
    std::sort(times.begin(), times.end());
    Figures f;
    f.median = times[times.size() / 2] * 1000;
    for (double t : times)
        f.mean += t * 1000 / times.size();
    f.worst = times.back() * 1000;
    f.filters = (gHost->timing.previewFilters - before.previewFilters) * 1000 / paints;
    f.display = (gHost->timing.display - before.display) * 1000 / paints;
    f.reads = notifyTotal * 1000 / paints;
    return f;
}

} // namespace

int main(int argc, char **argv)
{
    HostProfile profile = HostProfile::Full;
    if ((argc != 3 && argc != 4) || (argc == 4 && !ParseHostProfile(argv[3], &profile))) {
        std::fprintf(stderr, "usage: preview_bench MODULE IMAGE [%s]\n", HostProfileNames().c_str());
        return 2;
    }
    Document document;
    std::string error;
    FilterHost host;
    if (!LoadImageFile(argv[2], &document, &error) || !host.Load(argv[1], &error)) {
        std::fprintf(stderr, "preview_bench: %s\n", error.c_str());
        return 2;
    }
    host.behaviour.profile = profile;
    const double documentPeak = PeakMegabytes();
    double dialogPeak = 0;
    const int paints = 40;
    gHost = &host;

    Figures one{}, seven{};
    host.windows.dialogHandler = [&](HWND dialog) {
        RECT area = {};
        GetWindowRect(GetDlgItem(dialog, IDC_PREVIEW), &area);
        std::printf("%s, %d x %d, %d-bit, the %s host; preview area %ld x %ld pixels; %d paints each\n", argv[2],
                    document.width, document.height, document.depth, HostProfileName(profile),
                    area.right - area.left, area.bottom - area.top, paints);
        one = Measure(dialog, paints);
        for (int i = 0; i < 6; ++i)
            dialog_driver::Click(dialog, IDC_ZOOM_IN);
        seven = Measure(dialog, paints);
        for (const auto &z : {std::make_pair(1, one), std::make_pair(7, seven)})
            std::printf("  one paint at zoom %d: median %.2f ms, mean %.2f ms, worst %.2f ms (of which the host's "
                        "blur and median %.2f ms, drawing %.2f ms, the notification itself %.2f ms)\n",
                        z.first, z.second.median, z.second.mean, z.second.worst, z.second.filters, z.second.display,
                        z.second.reads);
        dialogPeak = PeakMegabytes();
        dialog_driver::Click(dialog, IDCANCEL);
    };
    RunReport report = host.Run(document);
    if (!report.Clean())
        return 1;
    std::printf("  the dialog's peak memory beyond the process's peak before it (the file's load): %.1f MB "
                "(the document holds %.1f MB; goal: no copy of it at full resolution)\n",
                dialogPeak - documentPeak,
                double(document.width) * document.height * document.PlaneCount() * 2 / (1024.0 * 1024.0));
    // The same paints with nothing to show (no preview buffers): what
    // repainting the dialog costs the platform by itself.
    host.behaviour.failBufferAllocation = true;
    host.windows.dialogHandler = [&](HWND dialog) {
        const Figures empty = Measure(dialog, paints);
        std::printf("  one paint with an empty preview (the platform's own repaint): median %.2f ms, mean %.2f ms\n",
                    empty.median, empty.mean);
        std::printf("  the preview's own cost of a paint (median beyond the empty one): zoom 1 %.2f ms, zoom 7 %.2f ms "
                    "(goal: at most 5 ms)\n", one.median - empty.median, seven.median - empty.median);
        dialog_driver::Click(dialog, IDCANCEL);
    };
    report = host.Run(document);
    return report.Clean() ? 0 : 1;
}
