#include "settings/RegistryKey.h"

#include <cstdint>
#include <cstring>
#include <initializer_list>

const char kRegistryPath[] = "Software\\Korvane\\Plugins\\Umbrolux";
const char kLastBias[] = "Last bias";
const char kLastGamma[] = "Last gamma";
const char kLastContrast[] = "Last contrast";
const char kLastSettingsPath[] = "Last settings path";

RegistryKey::RegistryKey(const char *path) : key(nullptr), stringBuffer()
{
    Open(path);
}

RegistryKey::~RegistryKey()
{
    if (key != nullptr)
        Close();
}

int RegistryKey::Open(const char *path)
{
    // A user without the rights to create the key for the whole machine
    // keeps the values under the same path for himself; a key the machine
    // already has is read there.
    for (HKEY root : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER}) {
        key = nullptr;
        if (RegCreateKeyA(root, path, &key) == ERROR_SUCCESS && key != nullptr)
            return 0;
    }
    key = nullptr;
    return -1;
}

const char *RegistryKey::ReadString(const char *name, const char *defaultText, int *status)
{
    DWORD size = sizeof stringBuffer;
    const LONG answer = key != nullptr
                            ? RegQueryValueExA(key, name, nullptr, nullptr, reinterpret_cast<BYTE *>(stringBuffer), &size)
                            : ERROR_INVALID_HANDLE;
    if (answer != ERROR_SUCCESS) {
        if (status != nullptr)
            *status = 2;
        return defaultText;
    }
    // A stored value need not end in a NUL; the text always ends within
    // the buffer.
    if (size >= sizeof stringBuffer)
        size = sizeof stringBuffer - 1;
    stringBuffer[size] = '\0';
    if (status != nullptr)
        *status = 1;
    return stringBuffer;
}

LONG RegistryKey::WriteString(const char *name, const char *text)
{
    if (key == nullptr)
        return ERROR_INVALID_HANDLE;
    return RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE *>(text),
                          DWORD(std::strlen(text) + 1));
}

float RegistryKey::ReadFloat(const char *name, float defaultValue, int *status)
{
    uint8_t bytes[4] = {};
    DWORD size = sizeof bytes;
    const LONG answer =
        key != nullptr ? RegQueryValueExA(key, name, nullptr, nullptr, bytes, &size) : ERROR_INVALID_HANDLE;
    // A value shorter than 4 bytes is treated as absent: only its bytes
    // would be defined.
    if (answer != ERROR_SUCCESS || size != sizeof bytes) {
        if (status != nullptr)
            *status = 2;
        return defaultValue;
    }
    float value;
    std::memcpy(&value, bytes, sizeof value);
    if (status != nullptr)
        *status = 1;
    return value;
}

LONG RegistryKey::WriteFloat(const char *name, float value)
{
    if (key == nullptr)
        return ERROR_INVALID_HANDLE;
    return RegSetValueExA(key, name, 0, REG_BINARY, reinterpret_cast<const BYTE *>(&value), sizeof value);
}

LONG RegistryKey::Close()
{
    if (key == nullptr)
        return ERROR_INVALID_HANDLE;
    const LONG answer = RegCloseKey(key);
    key = nullptr;
    return answer;
}
