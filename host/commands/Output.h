// What the commands print, and how: UTF-8 text, the module's warnings, what
// the filter did through the host, and the exit status a run ends with.
#pragma once

#include <cstdio>

#include "host/session/FilterHost.h"

namespace commands {

// printf, in UTF-8.
void Say(FILE *stream, const char *format, ...);
void PrintWarnings(const FilterHost &host);
void PrintEvents(const FilterHost &host);
int Finish(const RunReport &report);

} // namespace commands
