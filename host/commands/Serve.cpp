#include "host/commands/Commands.h"

#include <cstdio>
#include <iostream>
#include <string>

#include "host/commands/Batch.h"
#include "host/commands/Output.h"
#include "host/core/Parallel.h"

namespace commands {

namespace {

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


} // namespace

int Serve(int argc, char **argv)
{
    RunOptions options;
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

} // namespace commands
