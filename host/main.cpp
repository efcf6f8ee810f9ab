// filterhost: runs a filter module the way a real host does, from the
// command line, and tells what happened in plain words.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "host/FilterHost.h"
#include "host/ImageFile.h"

namespace {

void Usage()
{
    std::fprintf(stderr,
                 "usage:\n"
                 "  filterhost about MODULE\n"
                 "  filterhost run MODULE IMAGE [OUT]\n"
                 "IMAGE and OUT are PNG or TIFF files, 8 or 16 bits per sample.\n");
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

void PrintEvents(const FilterHost &host)
{
    for (const HostEvent &e : host.events)
        if (e.kind != EventKind::Selector && e.kind != EventKind::Progress)
            std::printf("  %-8s %s\n", EventKindName(e.kind), e.text.c_str());
}

int Finish(const RunReport &report)
{
    for (const std::string &leak : report.leaks)
        std::printf("LEAK: %s\n", leak.c_str());
    for (const std::string &failure : report.failures)
        std::printf("FAILURE: %s\n", failure.c_str());
    if (!report.Clean())
        return 1;
    return report.result < 0 ? 1 : 0;
}

int About(const std::string &modulePath)
{
    FilterHost host;
    std::string error;
    if (!host.Load(modulePath, &error)) {
        std::fprintf(stderr, "filterhost: %s\n", error.c_str());
        return 2;
    }
    const RunReport report = host.About();
    PrintEvents(host);
    std::printf("about returned %s\n", ResultWords(report.result).c_str());
    return Finish(report);
}

int Run(const std::string &modulePath, const std::string &imagePath, const std::string &outPath)
{
    Document document;
    std::string error;
    if (!LoadImageFile(imagePath, &document, &error)) {
        std::fprintf(stderr, "filterhost: %s\n", error.c_str());
        return 2;
    }
    FilterHost host;
    if (!host.Load(modulePath, &error)) {
        std::fprintf(stderr, "filterhost: %s\n", error.c_str());
        return 2;
    }
    std::printf("Document %s: %d x %d, %s, %d-bit, %d plane(s)\n", imagePath.c_str(), document.width,
                document.height, ImageModeName(document.mode), document.depth, document.PlaneCount());

    const RunReport report = host.Run(document);
    for (const SelectorCall &call : report.calls)
        std::printf("%-10s -> %s\n", SelectorWord(call.selector), ResultWords(call.result).c_str());
    std::printf("What the filter did through the host:\n");
    PrintEvents(host);
    if (!report.finished)
        std::printf("The run ended without finish; the image is unchanged.\n");

    if (!outPath.empty()) {
        if (!SaveImageFile(outPath, document, &error)) {
            std::fprintf(stderr, "filterhost: %s\n", error.c_str());
            return 2;
        }
        std::printf("Wrote %s\n", outPath.c_str());
    }
    return Finish(report);
}

} // namespace

int main(int argc, char **argv)
{
    if (argc >= 3 && std::strcmp(argv[1], "about") == 0 && argc == 3)
        return About(argv[2]);
    if (argc >= 4 && std::strcmp(argv[1], "run") == 0 && argc <= 5)
        return Run(argv[2], argv[3], argc == 5 ? argv[4] : "");
    Usage();
    return 2;
}
