#include "settings/SettingsFile.h"

#include <commdlg.h>

#include <cstdio>
#include <cstring>

#include "settings/RegistryKey.h"
#include "settings/SettingsCodec.h"

const char kSettingsDescription[] = "Umbrolux settings";
const char kSettingsPattern[] = "*.ulx";

namespace {

const char kErrorCaption[] = "Error";
const char kCannotSave[] = "Cannot save settings";
const char kCannotLoad[] = "Cannot load settings";
const char kNotASettingsFile[] = "The file is not a valid setting file.";

// The dialog may fill this many characters; the buffer has room beyond
// them for the appended extension.
constexpr DWORD kMaxPath = 512;
constexpr size_t kPathBuffer = kMaxPath + 16;

// The largest block a file carries (the tone values take 12 bytes). The
// file's bytes live on the stack: nothing here allocates, so nothing can
// fail for want of memory.
constexpr size_t kMaxBlock = 64;

// A library loaded for as long as its owner lives. The common dialogs are
// loaded so, for one file dialog, rather than imported: a run that never
// asks for a file loads neither them nor what they bring (the printer
// spooler, which keeps a handle of its own for good on some platforms).
class LoadedLibrary {
public:
    explicit LoadedLibrary(const char *name) : module_(LoadLibraryA(name)) {}
    ~LoadedLibrary()
    {
        if (module_ != nullptr)
            FreeLibrary(module_);
    }
    LoadedLibrary(const LoadedLibrary &) = delete;
    LoadedLibrary &operator=(const LoadedLibrary &) = delete;

    // An entry of the library, or null.
    template <typename Function>
    Function Entry(const char *name) const
    {
        if (module_ == nullptr)
            return nullptr;
        return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(GetProcAddress(module_, name)));
    }

private:
    HMODULE module_;
};

using FileDialogProc = BOOL(WINAPI *)(LPOPENFILENAMEA);

} // namespace

SettingsFile::SettingsFile(HWND owner, const char *registryPath, const char *filterDescription,
                           const char *filterPattern, uint32_t magic)
    : registryPath(registryPath), filterPattern(filterPattern), filterDescription(filterDescription), magic(magic),
      owner(owner)
{
}

SettingsFile::~SettingsFile() = default;

bool SettingsFile::ChoosePath(bool saving, char *path, const char *lastPath)
{
    std::memset(path, 0, kPathBuffer);
    std::strncpy(path, lastPath, kMaxPath - 1);

    char filter[128] = {};
    std::snprintf(filter, sizeof filter - 2, "%s%c%s%c%c", filterDescription, '\0', filterPattern, '\0', '\0');

    OPENFILENAMEA dialog;
    std::memset(&dialog, 0, sizeof dialog);
    // The record as it was before the fields added in Windows 2000.
    dialog.lStructSize = OPENFILENAME_SIZE_VERSION_400A;
    dialog.lpstrFilter = filter;
    dialog.lpstrFile = path;
    dialog.nMaxFile = kMaxPath;
    dialog.Flags = saving ? OFN_OVERWRITEPROMPT : OFN_FILEMUSTEXIST;
    const LoadedLibrary commonDialogs("comdlg32.dll");
    const FileDialogProc run = commonDialogs.Entry<FileDialogProc>(saving ? "GetSaveFileNameA" : "GetOpenFileNameA");
    if (run == nullptr) {
        Tell(saving ? kCannotSave : kCannotLoad);
        return false;
    }
    if (!run(&dialog))
        return false;

    // The extension is the pattern without its "*"; it is added unless the
    // path holds it anywhere, matched case by case.
    const char *extension = filterPattern + 1;
    if (std::strstr(path, extension) == nullptr)
        std::strncat(path, extension, kPathBuffer - std::strlen(path) - 1);
    return true;
}

void SettingsFile::Tell(const char *message) const
{
    MessageBoxA(owner, message, kErrorCaption, MB_OK | MB_ICONERROR);
}

int SettingsFile::Save(const void *data, int32_t size)
{
    RegistryKey key(registryPath);
    char path[kPathBuffer];
    if (ChoosePath(true, path, key.ReadString(kLastSettingsPath, ""))) {
        HANDLE file = CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE) {
            Tell(kCannotSave);
        } else {
            uint8_t bytes[4 + kMaxBlock];
            const size_t length = EncodeSettings(magic, data, size > 0 ? size_t(size) : 0, bytes, sizeof bytes);
            DWORD written = 0;
            const BOOL wrote = length != 0 && WriteFile(file, bytes, DWORD(length), &written, nullptr);
            CloseHandle(file);
            // A file that could not be written whole is no settings file:
            // the user hears of it, and it is not offered next time.
            if (!wrote || written != length)
                Tell(kCannotSave);
            else
                key.WriteString(kLastSettingsPath, path);
        }
    }
    key.Close();
    return 0;
}

int SettingsFile::Load(void *data, int32_t size)
{
    RegistryKey key(registryPath);
    char path[kPathBuffer];
    if (ChoosePath(false, path, key.ReadString(kLastSettingsPath, ""))) {
        HANDLE file = CreateFileA(path, GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE) {
            Tell(kCannotLoad);
        } else {
            // The magic and at most one block; anything after is ignored.
            const size_t block = size > 0 ? (size_t(size) < kMaxBlock ? size_t(size) : kMaxBlock) : 0;
            uint8_t bytes[4 + kMaxBlock];
            DWORD read = 0, more = 0;
            BOOL ok = ReadFile(file, bytes, 4, &read, nullptr);
            if (ok && read == 4 && block != 0)
                ok = ReadFile(file, bytes + 4, DWORD(block), &more, nullptr);
            CloseHandle(file);
            if (ok && DecodeSettings(bytes, read + more, magic, data, block))
                key.WriteString(kLastSettingsPath, path);
            else
                Tell(kNotASettingsFile);
        }
    }
    key.Close();
    return 0;
}
