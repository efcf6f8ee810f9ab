#include "host/umbrolux/FilterRegistry.h"

#include <cstring>

#include "host/umbrolux/UmbroluxModule.h"

const char *const kFilterRegistryPath = umbrolux::kRegistryPath;

bool DeleteFilterKey(HKEY root)
{
    const LONG answer = RegDeleteKeyA(root, kFilterRegistryPath);
    return answer == ERROR_SUCCESS || answer == ERROR_FILE_NOT_FOUND;
}

bool StoreFilterValue(const char *name, DWORD type, const void *bytes, DWORD size)
{
    HKEY key = nullptr;
    if (RegCreateKeyA(HKEY_LOCAL_MACHINE, kFilterRegistryPath, &key) != ERROR_SUCCESS)
        return false;
    const LONG answer = RegSetValueExA(key, name, 0, type, static_cast<const BYTE *>(bytes), size);
    RegCloseKey(key);
    return answer == ERROR_SUCCESS;
}

bool StoreFilterFloat(const char *name, float value)
{
    return StoreFilterValue(name, REG_BINARY, &value, sizeof value);
}

bool ReadFilterFloat(const char *name, float *value, HKEY root)
{
    DWORD type = 0;
    std::vector<uint8_t> bytes;
    if (!ReadFilterValue(name, &type, &bytes, root) || bytes.size() != sizeof *value)
        return false;
    std::memcpy(value, bytes.data(), sizeof *value);
    return true;
}

bool ReadFilterValue(const char *name, DWORD *type, std::vector<uint8_t> *bytes, HKEY root)
{
    HKEY key = nullptr;
    if (RegOpenKeyExA(root, kFilterRegistryPath, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    DWORD size = 0;
    LONG answer = RegQueryValueExA(key, name, nullptr, type, nullptr, &size);
    if (answer == ERROR_SUCCESS) {
        bytes->assign(size, 0);
        answer = RegQueryValueExA(key, name, nullptr, type, bytes->data(), &size);
    }
    RegCloseKey(key);
    return answer == ERROR_SUCCESS;
}

bool FilterKeyExists(HKEY root)
{
    HKEY key = nullptr;
    if (RegOpenKeyExA(root, kFilterRegistryPath, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}
