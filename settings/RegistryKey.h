// One registry key under HKEY_LOCAL_MACHINE (or, where that cannot be opened
// or created, under HKEY_CURRENT_USER), opened (and created) by the
// constructor and closed by Close or, failing that, the destructor. Reads
// fall back to their defaults; no status is ever acted upon.
#pragma once

#include <windows.h>

class RegistryKey {
public:
    explicit RegistryKey(const char *path);
    virtual ~RegistryKey();
    RegistryKey(const RegistryKey &) = delete;
    RegistryKey &operator=(const RegistryKey &) = delete;

    int Open(const char *path);
    // status, when given: 1 read, 2 default.
    const char *ReadString(const char *name, const char *defaultText, int *status = nullptr);
    LONG WriteString(const char *name, const char *text);
    float ReadFloat(const char *name, float defaultValue, int *status = nullptr);
    LONG WriteFloat(const char *name, float value);
    LONG Close();

private:
    HKEY key;
    char stringBuffer[512];
};

// Where the filter keeps its last values.
extern const char kRegistryPath[];
extern const char kLastBias[];
extern const char kLastGamma[];
extern const char kLastContrast[];
extern const char kLastSettingsPath[];
