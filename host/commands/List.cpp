#include "host/commands/Commands.h"

#include <string>

#include "host/commands/Options.h"
#include "host/commands/Output.h"
#include "host/session/FilterHost.h"

namespace commands {

// What a host's filter menu would show for each module, and for which
// documents it enables the item.
int List(int argc, char **argv)
{
    if (argc < 3) {
        Usage();
        return 2;
    }
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


} // namespace commands
