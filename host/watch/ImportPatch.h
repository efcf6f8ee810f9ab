// Redirects what a loaded module imports from a DLL, by rewriting its import
// address table in memory. The host uses it to watch calls that leave no
// other trace (registry handles, beeps, the shell).
#pragma once

#include <windows.h>

// Points the module's import of dll!function at `replacement`. Returns false
// when the module does not import it.
bool PatchImport(HMODULE module, const char *dll, const char *function, void *replacement);
