#include "host/commands/Output.h"

#include <cstdarg>
#include <string>

#include "host/files/FileSystem.h"

namespace commands {

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


void PrintWarnings(const FilterHost &host)
{
    for (const std::string &w : host.loadWarnings)
        Say(stdout, "warning: %s\n", w.c_str());
}


} // namespace commands
