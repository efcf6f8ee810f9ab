#include "host/watch/ImportWatch.h"

#include <shellapi.h>

#include <cstdio>
#include <cstdlib>

#include "host/session/FilterHost.h"
#include "host/watch/ImportPatch.h"

namespace {

ImportWatch *Watching()
{
    FilterHost *host = FilterHost::Active();
    return host != nullptr ? &host->imports : nullptr;
}

LONG WINAPI WatchedRegCreateKeyA(HKEY parent, LPCSTR path, PHKEY key)
{
    if (FilterHost *host = FilterHost::Active())
        if (host->behaviour.refuseMachineKey && parent == HKEY_LOCAL_MACHINE) {
            host->Log(EventKind::Registry, std::string("refused HKEY_LOCAL_MACHINE\\") + (path != nullptr ? path : ""));
            if (key != nullptr)
                *key = nullptr;
            return ERROR_ACCESS_DENIED;
        }
    const LONG answer = RegCreateKeyA(parent, path, key);
    if (ImportWatch *watch = Watching())
        if (answer == ERROR_SUCCESS)
            watch->KeyOpened(*key, path != nullptr ? path : "");
    return answer;
}

LONG WINAPI WatchedRegOpenKeyExA(HKEY parent, LPCSTR path, DWORD options, REGSAM access, PHKEY key)
{
    const LONG answer = RegOpenKeyExA(parent, path, options, access, key);
    if (ImportWatch *watch = Watching())
        if (answer == ERROR_SUCCESS)
            watch->KeyOpened(*key, path != nullptr ? path : "");
    return answer;
}

LONG WINAPI WatchedRegCloseKey(HKEY key)
{
    if (ImportWatch *watch = Watching())
        watch->KeyClosed(key);
    return RegCloseKey(key);
}

BOOL WINAPI WatchedMessageBeep(UINT type)
{
    if (ImportWatch *watch = Watching())
        watch->Beeped(type);
    return MessageBeep(type);  // and a person at the display hears it
}

HINSTANCE WINAPI WatchedShellExecuteA(HWND owner, LPCSTR verb, LPCSTR file, LPCSTR parameters, LPCSTR folder,
                                      INT show)
{
    ImportWatch *watch = Watching();
    if (watch == nullptr)
        return reinterpret_cast<HINSTANCE>(SE_ERR_NOASSOC);
    return watch->ShellExecuted(owner, verb, file, parameters, folder, show);
}

// The module's heap, refused on request while its start call runs.
void *__cdecl WatchedMalloc(size_t size)
{
    if (FilterHost *host = FilterHost::Active())
        if (host->behaviour.failModuleMalloc && host->StartUnderWay()) {
            host->Log(EventKind::Failure, "malloc of " + std::to_string(size) + " refused as asked");
            return nullptr;
        }
    return std::malloc(size);
}

} // namespace

void ImportWatch::Watch(HMODULE module)
{
    PatchImport(module, "advapi32.dll", "RegCreateKeyA", reinterpret_cast<void *>(WatchedRegCreateKeyA));
    PatchImport(module, "advapi32.dll", "RegOpenKeyExA", reinterpret_cast<void *>(WatchedRegOpenKeyExA));
    PatchImport(module, "advapi32.dll", "RegCloseKey", reinterpret_cast<void *>(WatchedRegCloseKey));
    PatchImport(module, "user32.dll", "MessageBeep", reinterpret_cast<void *>(WatchedMessageBeep));
    PatchImport(module, "shell32.dll", "ShellExecuteA", reinterpret_cast<void *>(WatchedShellExecuteA));
    PatchImport(module, "msvcrt.dll", "malloc", reinterpret_cast<void *>(WatchedMalloc));
}

void ImportWatch::CollectLeaks(std::vector<std::string> *leaks)
{
    for (auto &entry : openKeys_)
        leaks->push_back("registry key \"" + entry.second + "\" not closed");
    openKeys_.clear();
}

void ImportWatch::KeyOpened(HKEY key, const std::string &path)
{
    host_.Log(EventKind::Registry, "open " + path);
    openKeys_[key] = path;
}

void ImportWatch::KeyClosed(HKEY key)
{
    if (openKeys_.erase(key) == 0)
        host_.Log(EventKind::Failure, "close of a registry key that is not open");
    else
        host_.Log(EventKind::Registry, "close");
}

void ImportWatch::Beeped(UINT type)
{
    ++beeps;
    char text[32];
    std::snprintf(text, sizeof text, "beep 0x%08X", unsigned(type));
    host_.Log(EventKind::Window, text);
}

HINSTANCE ImportWatch::ShellExecuted(HWND owner, const char *verb, const char *file, const char *parameters,
                                     const char *folder, int show)
{
    ShellCall call{owner, verb != nullptr ? verb : "", file != nullptr ? file : "",
                   parameters != nullptr ? parameters : "", folder != nullptr ? folder : "", show};
    host_.Log(EventKind::Window, "shell \"" + call.verb + "\" \"" + call.file + "\" in \"" + call.folder + "\"");
    shellCalls.push_back(call);
    if (host_.behaviour.openShell)
        return ShellExecuteA(owner, verb, file, parameters, folder, show);
    return reinterpret_cast<HINSTANCE>(33);  // what the shell answers when it opened the file
}
