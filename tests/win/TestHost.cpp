#include "TestHost.h"

#include <windows.h>

#include "host/windows/DialogDriver.h"
#include "host/files/FileSystem.h"

std::string BesideTests(const std::string &name)
{
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string dir(path);
    const size_t slash = dir.find_last_of("\\/");
    dir = slash == std::string::npos ? std::string(".") : dir.substr(0, slash);
    return dir + "\\" + name;
}

std::string TempPath(const std::string &name)
{
    char dir[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, dir);
    return std::string(dir) + "umbrolux-test-" + std::to_string(GetCurrentProcessId()) + "-" + name;
}

ProcessResult RunProcess(const std::string &commandLine, const std::string &environment)
{
    // The output goes to a file rather than a pipe: a helper process that
    // Wine starts on the child's behalf (its desktop) inherits the handles
    // and would keep a pipe open long after the child has ended.
    ProcessResult result;
    wchar_t dir[MAX_PATH] = {}, path[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, dir);
    GetTempFileNameW(dir, L"out", 0, path);
    SECURITY_ATTRIBUTES sa = {sizeof sa, nullptr, TRUE};
    HANDLE file = CreateFileW(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &sa, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_TEMPORARY, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        result.exitCode = DWORD(-1);
        return result;
    }
    std::wstring name, value;
    if (!environment.empty()) {
        const size_t equals = environment.find('=');
        name = files::Wide(environment.substr(0, equals));
        value = files::Wide(environment.substr(equals + 1));
        SetEnvironmentVariableW(name.c_str(), value.c_str());
    }
    STARTUPINFOW si = {};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdOutput = file;
    si.hStdError = file;
    si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    PROCESS_INFORMATION pi = {};
    std::wstring line = files::Wide(commandLine);
    const BOOL started = CreateProcessW(nullptr, &line[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi);
    if (!name.empty())
        SetEnvironmentVariableW(name.c_str(), nullptr);
    CloseHandle(file);
    if (started) {
        WaitForSingleObject(pi.hProcess, INFINITE);
        GetExitCodeProcess(pi.hProcess, &result.exitCode);
        CloseHandle(pi.hProcess);
        CloseHandle(pi.hThread);
    } else {
        result.exitCode = DWORD(-1);
    }
    HANDLE in = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, 0, nullptr);
    if (in != INVALID_HANDLE_VALUE) {
        char chunk[4096];
        DWORD n = 0;
        while (ReadFile(in, chunk, sizeof chunk, &n, nullptr) && n > 0)
            result.output.append(chunk, n);
        CloseHandle(in);
    }
    DeleteFileW(path);
    return result;
}

std::vector<std::string> TileRequests(const FilterHost &host)
{
    std::vector<std::string> tiles;
    for (const HostEvent &e : host.events)
        if (e.kind == EventKind::Advance && e.text.compare(0, 3, "in ") == 0 &&
            e.text.find(" out (0,0,0,0)") == std::string::npos)
            tiles.push_back(e.text.substr(0, e.text.find(" mask")));
    return tiles;
}

bool ClientAreaOnScreen(HWND dialog, const RECT &area, Document *cut)
{
    Document shot;
    if (!dialog_driver::Screenshot(dialog, &shot))
        return false;
    RECT window = {};
    GetWindowRect(dialog, &window);
    POINT client = {0, 0};
    ClientToScreen(dialog, &client);
    const int32_t left = client.x - window.left + area.left, top = client.y - window.top + area.top;
    *cut = MakeDocument(area.right - area.left, area.bottom - area.top, 3, 8, plugInModeRGBColor);
    for (int32_t y = 0; y < cut->height; ++y)
        for (int32_t x = 0; x < cut->width; ++x)
            for (int c = 0; c < 3; ++c)
                cut->At(c, x, y) = shot.At(c, left + x, top + y);
    return true;
}
