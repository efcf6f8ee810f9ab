// Settings files: the platform's file dialogs, and the 16-byte file of a
// magic and the three tone values. The path of the last file is kept in the
// registry so that the next dialog opens on it.
#pragma once

#include <windows.h>

#include <cstdint>

#include "settings/SettingsCodec.h"

class SettingsFile {
public:
    SettingsFile(HWND owner, const char *registryPath, const char *filterDescription, const char *filterPattern,
                 uint32_t magic);
    virtual ~SettingsFile();

    // Each runs its file dialog and tells the user of any failure itself;
    // both always return 0.
    int Save(const void *data, int32_t size);
    int Load(void *data, int32_t size);

private:
    // Runs the save or open dialog on a path buffer that starts from the
    // last path, and gives the extension to a chosen name that lacks it.
    bool ChoosePath(bool saving, char *path, const char *lastPath);
    // An error message box owned by the dialog.
    void Tell(const char *message) const;

    const char *registryPath;
    const char *filterPattern;
    const char *filterDescription;
    uint32_t magic;
    HWND owner;
};

extern const char kSettingsDescription[];  // "Umbrolux settings"
extern const char kSettingsPattern[];      // "*.ulx"
