// Prints what a long session costs the host's process: the module run RUNS
// times with the module held, then RUNS times loaded again for every run,
// each run with its dialog opened and OK pressed over the image given; the
// process's heap in use, GDI and USER objects, kernel handles and threads
// after a warm-up of 3 runs, after 10 and 50 runs and at the end, and what
// each run left on average, beside the goal (the module held: within 2 MB
// and 5 objects of the start; loaded again each time: 1 MB and 5 objects).
// Figures only; the soak tests (tests/win/SoakTest.cpp) are the checks.
//
//   soak_bench MODULE IMAGE [RUNS]
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "host/session/FilterHost.h"
#include "host/files/ImageFile.h"
#include "host/watch/ProcessCensus.h"

namespace {

constexpr int kWarmUpRuns = 3;

// One run; with `reload` the module is loaded for the run and freed after
// it, as a host that loads it for every run does.
bool RunOnce(FilterHost &host, Document &document, const std::string &module, bool reload)
{
    std::string error;
    if (!host.Loaded() && !host.Load(module, &error)) {
        std::fprintf(stderr, "soak_bench: %s\n", error.c_str());
        return false;
    }
    const RunReport report = host.Run(document);
    if (reload)
        host.Unload();
    host.events.clear();
    host.events.shrink_to_fit();
    host.windows.Clear();
    if (report.result != noErr || !report.finished || !report.Clean()) {
        std::fprintf(stderr, "soak_bench: a run failed (result %d)\n", report.result);
        return false;
    }
    return true;
}

bool Series(FilterHost &host, Document &document, const std::string &module, bool reload, int runs)
{
    const double heapGoal = reload ? 1.0 : 2.0;  // MB
    std::printf("-- %d runs, the module %s\n", runs, reload ? "loaded for every run and freed after it" : "held");
    for (int i = 0; i < kWarmUpRuns; ++i)
        if (!RunOnce(host, document, module, reload))
            return false;
    const ProcessCensus start = TakeCensus();
    std::printf("  after %d runs of warm-up: %s\n", kWarmUpRuns, CensusText(start).c_str());
    const double began = FilterHost::Now();
    for (int done = 1; done <= runs; ++done) {
        if (!RunOnce(host, document, module, reload))
            return false;
        if (done != 10 && done != 50 && done != runs)
            continue;
        const ProcessCensus now = TakeCensus();
        std::printf("  after %d more: %s\n", done, CensusText(now).c_str());
        if (done != runs)
            continue;
        const ProcessCensus g = CensusGrowth(start, now);
        std::printf("  left per run: heap %.0f bytes, GDI %.2f, USER %.2f, kernel %.2f, threads %.2f, TLS slots %.2f "
                    "(%.2f s a run)\n",
                    double(g.heapBytes) / runs, double(g.gdiObjects) / runs, double(g.userObjects) / runs,
                    double(g.kernelHandles) / runs, double(g.threads) / runs, double(g.tlsSlots) / runs, (FilterHost::Now() - began) / runs);
        std::printf("  left over the %d runs: heap %.1f KB (goal: within %.0f MB), GDI %lld, USER %lld, kernel %lld "
                    "(goal: within 5 objects each), threads %lld, TLS slots %lld\n",
                    runs, double(g.heapBytes) / 1024.0, heapGoal, (long long)g.gdiObjects, (long long)g.userObjects,
                    (long long)g.kernelHandles, (long long)g.threads, (long long)g.tlsSlots);
    }
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 3 && argc != 4) {
        std::fprintf(stderr, "usage: soak_bench MODULE IMAGE [RUNS]\n");
        return 2;
    }
    const std::string module = argv[1];
    const int runs = argc == 4 ? std::atoi(argv[3]) : 100;
    if (runs < 1) {
        std::fprintf(stderr, "soak_bench: RUNS must be at least 1\n");
        return 2;
    }
    Document document;
    std::string error;
    FilterHost host;
    if (!LoadImageFile(argv[2], &document, &error) || !host.Load(module, &error)) {
        std::fprintf(stderr, "soak_bench: %s\n", error.c_str());
        return 2;
    }
    std::printf("%s over %s, %d x %d; counted %s\n", module.c_str(), argv[2], document.width, document.height,
                TakeCensus().gdiProbed ? "one by one (the platform's own counts answer 0)" : "by the platform");
    const bool ok = Series(host, document, module, false, runs) && Series(host, document, module, true, runs);
    return ok ? 0 : 1;
}
