// The host side of the filter's registry key: what a user's earlier runs
// left there, set or cleared by the command line and the tests.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

extern const char kFilterRegistryPath[];

// Removes the key with all its values; true when it is gone.
bool DeleteFilterKey();

// Stores a float as the filter stores it: 4 raw bytes, REG_BINARY.
bool StoreFilterFloat(const char *name, float value);

// Stores any bytes of any type, as another program could.
bool StoreFilterValue(const char *name, DWORD type, const void *bytes, DWORD size);

// Reads a stored float (4 bytes); false when it is absent or of another size.
bool ReadFilterFloat(const char *name, float *value);

// Reads a value's type and bytes; false when it is absent.
bool ReadFilterValue(const char *name, DWORD *type, std::vector<uint8_t> *bytes);

// True when the key exists.
bool FilterKeyExists();
