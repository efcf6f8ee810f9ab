// The host side of the module's registry key (named in UmbroluxModule.h):
// what a user's earlier runs left there, set or cleared by the command line
// and the tests.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

extern const char *const kFilterRegistryPath;

// Removes the key with all its values (the machine's unless `root` says
// otherwise); true when it is gone.
bool DeleteFilterKey(HKEY root = HKEY_LOCAL_MACHINE);

// Stores a float as the filter stores it: 4 raw bytes, REG_BINARY.
bool StoreFilterFloat(const char *name, float value);

// Stores any bytes of any type, as another program could.
bool StoreFilterValue(const char *name, DWORD type, const void *bytes, DWORD size);

// Reads a stored float (4 bytes); false when it is absent or of another size.
// The key is the machine's unless `root` says otherwise.
bool ReadFilterFloat(const char *name, float *value, HKEY root = HKEY_LOCAL_MACHINE);

// Reads a value's type and bytes; false when it is absent.
bool ReadFilterValue(const char *name, DWORD *type, std::vector<uint8_t> *bytes, HKEY root = HKEY_LOCAL_MACHINE);

// True when the key exists.
bool FilterKeyExists(HKEY root = HKEY_LOCAL_MACHINE);
