// The watch over the module's imports: its registry keys, beeps, shell calls
// and heap go through the host on their way to the system (its import table
// is rewritten when it loads), so that a key left open shows up as a leak, a
// beep or a page opened is seen, and the heap can be refused on request.
#pragma once

#include <windows.h>

#include <map>
#include <string>
#include <vector>

class FilterHost;

// A call of the module's to the shell, as it asked for it.
struct ShellCall {
    HWND owner;
    std::string verb, file, parameters, folder;
    int show;
};

class ImportWatch {
public:
    explicit ImportWatch(FilterHost &host) : host_(host) {}
    ImportWatch(const ImportWatch &) = delete;
    ImportWatch &operator=(const ImportWatch &) = delete;

    // Points the module's registry, beep, shell and heap imports at the
    // watchers.
    void Watch(HMODULE module);
    // Registry keys the module opened and never closed, forgotten once
    // listed.
    void CollectLeaks(std::vector<std::string> *leaks);

    int beeps = 0;
    std::vector<ShellCall> shellCalls;

    // The watchers' work.
    void KeyOpened(HKEY key, const std::string &path);
    void KeyClosed(HKEY key);
    void Beeped(UINT type);
    HINSTANCE ShellExecuted(HWND owner, const char *verb, const char *file, const char *parameters,
                            const char *folder, int show);

private:
    FilterHost &host_;
    std::map<HKEY, std::string> openKeys_;
};
