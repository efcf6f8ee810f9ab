#include "host/files/FileSystem.h"

#include <shellapi.h>

#include <algorithm>
#include <cstdio>
#include <cctype>
#include <cstdlib>

namespace files {

std::wstring Wide(const std::string &utf8)
{
    if (utf8.empty())
        return std::wstring();
    const int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), int(utf8.size()), nullptr, 0);
    std::wstring wide(size_t(n > 0 ? n : 0), L'\0');
    if (n > 0)
        MultiByteToWideChar(CP_UTF8, 0, utf8.data(), int(utf8.size()), &wide[0], n);
    return wide;
}

std::string Utf8(const std::wstring &wide)
{
    if (wide.empty())
        return std::string();
    const int n = WideCharToMultiByte(CP_UTF8, 0, wide.data(), int(wide.size()), nullptr, 0, nullptr, nullptr);
    std::string text(size_t(n > 0 ? n : 0), '\0');
    if (n > 0)
        WideCharToMultiByte(CP_UTF8, 0, wide.data(), int(wide.size()), &text[0], n, nullptr, nullptr);
    return text;
}

std::wstring SystemPath(const std::string &path)
{
    const std::wstring wide = Wide(path);
    if (wide.empty() || wide.compare(0, 4, L"\\\\?\\") == 0)
        return wide;
    DWORD n = GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
    if (n == 0)
        return wide;
    std::wstring full(n, L'\0');
    n = GetFullPathNameW(wide.c_str(), n, &full[0], nullptr);
    if (n == 0 || n >= full.size())
        return wide;
    full.resize(n);
    // Below the shortest limit (a folder's name leaves room for an 8.3
    // name inside it) a name is passed as it is.
    if (full.size() < MAX_PATH - 12)
        return full;
    if (full.compare(0, 2, L"\\\\") == 0)
        return L"\\\\?\\UNC\\" + full.substr(2);
    return L"\\\\?\\" + full;
}

DWORD Attributes(const std::string &path)
{
    return path.empty() ? INVALID_FILE_ATTRIBUTES : GetFileAttributesW(SystemPath(path).c_str());
}

bool IsFolder(const std::string &path)
{
    const DWORD a = Attributes(path);
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool Exists(const std::string &path)
{
    return Attributes(path) != INVALID_FILE_ATTRIBUTES;
}

std::string FolderOf(const std::string &path)
{
    const size_t slash = path.find_last_of("\\/");
    if (slash == std::string::npos)
        return path.size() >= 2 && path[1] == ':' ? path.substr(0, 2) : ".";
    if (slash == 0 || (slash == 2 && path[1] == ':'))
        return path.substr(0, slash + 1);
    return path.substr(0, slash);
}

std::string NameOf(const std::string &path)
{
    const size_t slash = path.find_last_of("\\/");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

Identity IdentityOf(const std::string &path)
{
    Identity identity;
    if (path.empty())
        return identity;
    // Links are followed: the identity is the file's own.
    HANDLE file = CreateFileW(SystemPath(path).c_str(), FILE_READ_ATTRIBUTES,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                              FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return identity;
    BY_HANDLE_FILE_INFORMATION info = {};
    if (GetFileInformationByHandle(file, &info)) {
        identity.known = true;
        identity.volume = info.dwVolumeSerialNumber;
        identity.index = (uint64_t(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
    }
    CloseHandle(file);
    return identity;
}

bool SameFile(const std::string &a, const std::string &b)
{
    return IdentityOf(a) == IdentityOf(b);
}

std::vector<std::string> FilesIn(const std::string &folder)
{
    std::vector<std::string> names;
    WIN32_FIND_DATAW entry;
    HANDLE search = FindFirstFileW((SystemPath(folder) + L"\\*").c_str(), &entry);
    if (search == INVALID_HANDLE_VALUE)
        return names;
    do {
        if (!(entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
            names.push_back(Utf8(entry.cFileName));
    } while (FindNextFileW(search, &entry));
    FindClose(search);
    return names;
}

std::string CauseWords(DWORD error, const std::string &path)
{
    switch (error) {
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
        return "the disk is full";
    case ERROR_ACCESS_DENIED:
    case ERROR_WRITE_PROTECT: {
        const DWORD file = Attributes(path);
        if (file != INVALID_FILE_ATTRIBUTES && (file & FILE_ATTRIBUTE_DIRECTORY))
            return "a folder stands where the file should be";
        if (file != INVALID_FILE_ATTRIBUTES && (file & FILE_ATTRIBUTE_READONLY))
            return "the file is read-only";
        const DWORD folder = path.empty() ? INVALID_FILE_ATTRIBUTES : Attributes(FolderOf(path));
        if (folder != INVALID_FILE_ATTRIBUTES && (folder & FILE_ATTRIBUTE_READONLY))
            return "the folder is read-only";
        return error == ERROR_WRITE_PROTECT ? "the disk is write-protected" : "access is denied";
    }
    case ERROR_DIRECTORY:
        return "a folder stands where the file should be";
    case ERROR_FILENAME_EXCED_RANGE:
    case ERROR_BUFFER_OVERFLOW:
        return "the path is too long";
    case ERROR_PATH_NOT_FOUND:
        return "its folder does not exist";
    case ERROR_FILE_NOT_FOUND:
        return "there is no such file";
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
        return "a file of that name exists";
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
        return "another program is using the file";
    case ERROR_INVALID_NAME:
        return "the name is not valid here";
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY:
        return "out of memory";
    case ERROR_WRITE_FAULT:
        return "the file on disk is not what was written";
    default:
        break;
    }
    wchar_t *text = nullptr;
    std::string words;
    if (FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                       nullptr, error, 0, reinterpret_cast<wchar_t *>(&text), 0, nullptr) != 0 &&
        text != nullptr) {
        words = Utf8(text);
        LocalFree(text);
        while (!words.empty() && (words.back() == '\n' || words.back() == '\r' || words.back() == '.' ||
                                  words.back() == ' '))
            words.pop_back();
    }
    return (words.empty() ? "the system failed" : words) + " (error " + std::to_string(error) + ")";
}

OutputFile::~OutputFile()
{
    // A file not finished is no output: it goes.
    if (handle_ != INVALID_HANDLE_VALUE)
        Discard();
}

bool OutputFile::Fail(DWORD error)
{
    if (error_ == 0)
        error_ = error != 0 ? error : ERROR_WRITE_FAULT;
    return false;
}

bool OutputFile::Create(const std::string &path)
{
    path_ = path;
    position_ = extent_ = 0;
    error_ = 0;
    faultAt_ = UINT64_MAX;
    faultError_ = ERROR_DISK_FULL;
    wchar_t fault[64] = {};
    const DWORD n = GetEnvironmentVariableW(L"FILTERHOST_WRITE_FAULT", fault, 64);
    if (n > 0 && n < 64) {
        wchar_t *end = nullptr;
        faultAt_ = std::wcstoull(fault, &end, 10);
        if (end != nullptr && *end == L':')
            faultError_ = DWORD(std::wcstoul(end + 1, nullptr, 10));
    }
    handle_ = CreateFileW(SystemPath(path).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                          FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle_ == INVALID_HANDLE_VALUE)
        return Fail(GetLastError());
    return true;
}

bool OutputFile::WriteAt(uint64_t offset, const void *bytes, size_t size)
{
    if (error_ != 0)
        return false;
    if (handle_ == INVALID_HANDLE_VALUE)
        return Fail(ERROR_INVALID_HANDLE);
    uint64_t allowed = size;
    const bool fault = offset + size > faultAt_;
    if (fault)
        allowed = offset < faultAt_ ? faultAt_ - offset : 0;
    LARGE_INTEGER at;
    at.QuadPart = LONGLONG(offset);
    if (!SetFilePointerEx(handle_, at, nullptr, FILE_BEGIN))
        return Fail(GetLastError());
    const uint8_t *from = static_cast<const uint8_t *>(bytes);
    while (allowed > 0) {
        const DWORD chunk = DWORD(std::min<uint64_t>(allowed, 1u << 30));
        DWORD written = 0;
        if (!WriteFile(handle_, from, chunk, &written, nullptr))
            return Fail(GetLastError());
        if (written != chunk)  // the system took less than it was given: no room
            return Fail(ERROR_HANDLE_DISK_FULL);
        from += chunk;
        allowed -= chunk;
    }
    if (fault)
        return Fail(faultError_);
    position_ = offset + size;
    extent_ = std::max(extent_, position_);
    return true;
}

bool OutputFile::Write(const void *bytes, size_t size)
{
    return WriteAt(position_, bytes, size);
}

bool OutputFile::ReadAt(uint64_t offset, void *bytes, size_t size, size_t *got)
{
    *got = 0;
    if (handle_ == INVALID_HANDLE_VALUE)
        return Fail(ERROR_INVALID_HANDLE);
    LARGE_INTEGER at;
    at.QuadPart = LONGLONG(offset);
    if (!SetFilePointerEx(handle_, at, nullptr, FILE_BEGIN))
        return false;
    DWORD read = 0;
    if (!ReadFile(handle_, bytes, DWORD(std::min<size_t>(size, 1u << 30)), &read, nullptr))
        return false;
    *got = read;
    position_ = offset + read;
    return true;
}

bool OutputFile::SetSize(uint64_t size)
{
    if (error_ != 0)
        return false;
    if (handle_ == INVALID_HANDLE_VALUE)
        return Fail(ERROR_INVALID_HANDLE);
    if (size > faultAt_)
        return Fail(faultError_);
    LARGE_INTEGER at;
    at.QuadPart = LONGLONG(size);
    if (!SetFilePointerEx(handle_, at, nullptr, FILE_BEGIN) || !SetEndOfFile(handle_))
        return Fail(GetLastError());
    extent_ = size;
    return true;
}

bool OutputFile::Finish()
{
    if (handle_ == INVALID_HANDLE_VALUE)
        return Fail(ERROR_INVALID_HANDLE);
    LARGE_INTEGER size = {};
    if (error_ == 0 && !FlushFileBuffers(handle_))
        Fail(GetLastError());
    if (error_ == 0 && !GetFileSizeEx(handle_, &size))
        Fail(GetLastError());
    if (error_ == 0 && uint64_t(size.QuadPart) != extent_)
        Fail(ERROR_WRITE_FAULT);
    const HANDLE handle = handle_;
    handle_ = INVALID_HANDLE_VALUE;
    if (!CloseHandle(handle))
        Fail(GetLastError());
    if (error_ != 0) {
        Delete(path_);
        return false;
    }
    return true;
}

void OutputFile::Discard()
{
    if (handle_ != INVALID_HANDLE_VALUE)
        CloseHandle(handle_);
    handle_ = INVALID_HANDLE_VALUE;
    if (!path_.empty())
        Delete(path_);
}

namespace {

// The stream an encoder writes into: every call goes to the OutputFile,
// which keeps the first failure whether or not the encoder heeds it.
class OutputStream : public IStream {
public:
    explicit OutputStream(OutputFile *file) : file_(file) {}
    virtual ~OutputStream() = default;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void **object) override
    {
        if (object == nullptr)
            return E_POINTER;
        if (iid == IID_IUnknown || iid == IID_ISequentialStream || iid == IID_IStream) {
            *object = static_cast<IStream *>(this);
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ULONG(InterlockedIncrement(&references_)); }
    ULONG STDMETHODCALLTYPE Release() override
    {
        const LONG left = InterlockedDecrement(&references_);
        if (left == 0)
            delete this;
        return ULONG(left);
    }

    HRESULT STDMETHODCALLTYPE Read(void *bytes, ULONG size, ULONG *read) override
    {
        size_t got = 0;
        const bool ok = file_->ReadAt(file_->Position(), bytes, size, &got);
        if (read != nullptr)
            *read = ULONG(got);
        return !ok ? STG_E_READFAULT : got < size ? S_FALSE : S_OK;
    }
    HRESULT STDMETHODCALLTYPE Write(const void *bytes, ULONG size, ULONG *written) override
    {
        const bool ok = file_->Write(bytes, size);
        if (written != nullptr)
            *written = ok ? size : 0;
        if (ok)
            return S_OK;
        const DWORD error = file_->Error();
        return error == ERROR_DISK_FULL || error == ERROR_HANDLE_DISK_FULL ? STG_E_MEDIUMFULL
                                                                           : HRESULT_FROM_WIN32(error);
    }
    HRESULT STDMETHODCALLTYPE Seek(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER *position) override
    {
        const int64_t base = origin == STREAM_SEEK_SET   ? 0
                             : origin == STREAM_SEEK_CUR ? int64_t(file_->Position())
                             : origin == STREAM_SEEK_END ? int64_t(file_->Size())
                                                         : -1;
        if (base < 0 || base + move.QuadPart < 0)
            return STG_E_INVALIDFUNCTION;
        file_->Seek(uint64_t(base + move.QuadPart));
        if (position != nullptr)
            position->QuadPart = file_->Position();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetSize(ULARGE_INTEGER size) override
    {
        return file_->SetSize(size.QuadPart) ? S_OK : STG_E_MEDIUMFULL;
    }
    HRESULT STDMETHODCALLTYPE CopyTo(IStream *, ULARGE_INTEGER, ULARGE_INTEGER *, ULARGE_INTEGER *) override
    {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE Commit(DWORD) override { return file_->Error() == 0 ? S_OK : STG_E_MEDIUMFULL; }
    HRESULT STDMETHODCALLTYPE Revert() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override
    {
        return STG_E_INVALIDFUNCTION;
    }
    HRESULT STDMETHODCALLTYPE UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override
    {
        return STG_E_INVALIDFUNCTION;
    }
    HRESULT STDMETHODCALLTYPE Stat(STATSTG *stat, DWORD) override
    {
        if (stat == nullptr)
            return E_POINTER;
        *stat = STATSTG{};
        stat->type = STGTY_STREAM;
        stat->cbSize.QuadPart = file_->Size();
        stat->grfMode = STGM_READWRITE;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Clone(IStream **) override { return E_NOTIMPL; }

private:
    LONG references_ = 1;
    OutputFile *file_;
};

} // namespace

IStream *NewOutputStream(OutputFile *file)
{
    return new OutputStream(file);
}

bool Rename(const std::string &from, const std::string &to, bool replace, DWORD *error)
{
    if (MoveFileExW(SystemPath(from).c_str(), SystemPath(to).c_str(),
                    (replace ? MOVEFILE_REPLACE_EXISTING : 0) | MOVEFILE_WRITE_THROUGH))
        return true;
    *error = GetLastError();
    return false;
}

bool Delete(const std::string &path)
{
    return DeleteFileW(SystemPath(path).c_str()) != FALSE;
}

std::vector<std::string> Arguments()
{
    std::vector<std::string> arguments;
    int count = 0;
    wchar_t **wide = CommandLineToArgvW(GetCommandLineW(), &count);
    if (wide == nullptr)
        return arguments;
    for (int i = 0; i < count; ++i)
        arguments.push_back(Utf8(wide[i]));
    LocalFree(wide);
    return arguments;
}

void Print(FILE *stream, const std::string &text)
{
    const HANDLE handle = GetStdHandle(stream == stderr ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE);
    DWORD mode = 0;
    if ((stream == stdout || stream == stderr) && handle != INVALID_HANDLE_VALUE && handle != nullptr &&
        GetConsoleMode(handle, &mode)) {
        std::fflush(stream);
        const std::wstring wide = Wide(text);
        DWORD written = 0;
        WriteConsoleW(handle, wide.data(), DWORD(wide.size()), &written, nullptr);
        return;
    }
    std::fwrite(text.data(), 1, text.size(), stream);
}

namespace {

std::string Lower(std::string text)
{
    for (char &ch : text)
        ch = char(std::tolower(static_cast<unsigned char>(ch)));
    return text;
}

} // namespace

std::string LowerExtension(const std::string &path)
{
    const size_t slash = path.find_last_of("\\/");
    const size_t dot = path.find_last_of('.');
    return dot == std::string::npos || (slash != std::string::npos && dot < slash) ? "" : Lower(path.substr(dot));
}

// A name as a key: the full path, folded to lower case, so that two
// spellings of a file that does not exist yet compare equal.
std::string Key(const std::string &path)
{
    std::wstring wide = files::SystemPath(path);
    if (!wide.empty())
        CharLowerBuffW(&wide[0], DWORD(wide.size()));
    return files::Utf8(wide);
}

// A folder and a name in it.
std::string Join(const std::string &folder, const std::string &name)
{
    std::string joined = folder;
    while (joined.size() > 1 && (joined.back() == '\\' || joined.back() == '/') &&
           !(joined.size() == 3 && joined[1] == ':'))
        joined.pop_back();
    if (joined.empty() || (joined.back() != '\\' && joined.back() != '/'))
        joined += "\\";
    return joined + name;
}

} // namespace files
