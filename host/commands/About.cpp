#include "host/commands/Commands.h"

#include <string>

#include "host/commands/Options.h"
#include "host/commands/Output.h"
#include "host/files/FileJob.h"
#include "host/session/FilterHost.h"

namespace commands {

namespace {

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


} // namespace

// The module's about box, as a host's Help menu shows it.
int About(int argc, char **argv)
{
    if (argc != 3) {
        Usage();
        return 2;
    }
    return About(std::string(argv[2]));
}

} // namespace commands
