#include "host/watch/ProcessCensus.h"

#include <windows.h>
#include <tlhelp32.h>

#include <cstdio>

namespace {

// GDI handles carry their slot in the table in their low 16 bits; Wine
// finds an object by its slot alone when the upper bits are 0.
constexpr uintptr_t kGdiSlots = 0x10000;
// USER handles: slot n is the value 0x20 + 2n, up to 0xffef.
constexpr uintptr_t kFirstUserHandle = 0x20, kLastUserHandle = 0xffef;
// Kernel handles are multiples of 4, given out lowest first; past this many
// unused values in a row there are no more.
constexpr int kKernelGapLimit = 4096;

constexpr int kTlsSlots = 64 + 1024;

int64_t CountTlsSlotsInUse()
{
    DWORD taken[kTlsSlots];
    int free = 0;
    while (free < kTlsSlots) {
        const DWORD slot = TlsAlloc();
        if (slot == TLS_OUT_OF_INDEXES)
            break;
        taken[free++] = slot;
    }
    for (int i = 0; i < free; ++i)
        TlsFree(taken[i]);
    return kTlsSlots - free;
}

int64_t CountThreads()
{
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return -1;
    const DWORD self = GetCurrentProcessId();
    int64_t threads = 0;
    THREADENTRY32 entry = {};
    entry.dwSize = sizeof entry;
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry))
        threads += entry.th32OwnerProcessID == self;
    CloseHandle(snapshot);
    return threads;
}

void WalkHeaps(int64_t *bytes, int64_t *blocks)
{
    // On the stack: the count must not disturb the heaps it counts.
    HANDLE heaps[256];
    const DWORD count = GetProcessHeaps(256, heaps);
    *bytes = 0;
    *blocks = 0;
    for (DWORD i = 0; i < count && i < 256; ++i) {
        if (!HeapLock(heaps[i]))
            continue;
        PROCESS_HEAP_ENTRY entry = {};
        while (HeapWalk(heaps[i], &entry)) {
            if (entry.wFlags & PROCESS_HEAP_ENTRY_BUSY) {
                *bytes += entry.cbData;
                ++*blocks;
            }
        }
        HeapUnlock(heaps[i]);
    }
}

int64_t CommittedPrivateBytes()
{
    SYSTEM_INFO system = {};
    GetSystemInfo(&system);
    const auto *address = static_cast<const char *>(system.lpMinimumApplicationAddress);
    const auto *end = static_cast<const char *>(system.lpMaximumApplicationAddress);
    int64_t total = 0;
    MEMORY_BASIC_INFORMATION region = {};
    while (address < end && VirtualQuery(address, &region, sizeof region) == sizeof region) {
        if (region.State == MEM_COMMIT && region.Type == MEM_PRIVATE)
            total += int64_t(region.RegionSize);
        const char *next = static_cast<const char *>(region.BaseAddress) + region.RegionSize;
        if (next <= address)
            break;
        address = next;
    }
    return total;
}

int64_t ProbeGdiObjects()
{
    int64_t count = 0;
    for (uintptr_t slot = 1; slot < kGdiSlots; ++slot)
        count += GetObjectType(reinterpret_cast<HGDIOBJ>(slot)) != 0;
    return count;
}

struct WindowTally {
    DWORD process;
    int64_t count;
};

BOOL CALLBACK TallyChild(HWND window, LPARAM tally)
{
    auto *t = reinterpret_cast<WindowTally *>(tally);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    t->count += owner == t->process;
    return TRUE;
}

// A top-level window of the process, and every window below it.
BOOL CALLBACK TallyTopLevel(HWND window, LPARAM tally)
{
    auto *t = reinterpret_cast<WindowTally *>(tally);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner == t->process) {
        ++t->count;
        EnumChildWindows(window, TallyChild, tally);  // every descendant
    }
    return TRUE;
}

int64_t ProbeUserObjects()
{
    WindowTally tally{GetCurrentProcessId(), 0};
    EnumWindows(TallyTopLevel, reinterpret_cast<LPARAM>(&tally));
    for (HWND window = FindWindowExA(HWND_MESSAGE, nullptr, nullptr, nullptr); window != nullptr;
         window = FindWindowExA(HWND_MESSAGE, window, nullptr, nullptr)) {
        TallyTopLevel(window, reinterpret_cast<LPARAM>(&tally));
    }
    // Menus, cursors and icons: answered from the process's own table, so
    // another process's objects and unused values cost no more than a look.
    using FrameInfoProc = HCURSOR(WINAPI *)(HCURSOR, DWORD, DWORD, DWORD *, DWORD *);
    const auto frameInfo = reinterpret_cast<FrameInfoProc>(
        reinterpret_cast<void (*)()>(GetProcAddress(GetModuleHandleA("user32.dll"), "GetCursorFrameInfo")));
    int64_t others = 0;
    for (uintptr_t value = kFirstUserHandle; value <= kLastUserHandle; value += 2) {
        if (IsMenu(reinterpret_cast<HMENU>(value))) {
            ++others;
        } else if (frameInfo != nullptr) {
            DWORD rate = 0, steps = 0;
            others += frameInfo(reinterpret_cast<HCURSOR>(value), 0, 0, &rate, &steps) != nullptr;
        }
    }
    return tally.count + others;
}

int64_t ProbeKernelHandles()
{
    int64_t count = 0;
    int gap = 0;
    for (uintptr_t value = 4; gap < kKernelGapLimit; value += 4) {
        DWORD flags = 0;
        if (GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags)) {
            ++count;
            gap = 0;
        } else {
            ++gap;
        }
    }
    return count;
}

} // namespace

ProcessCensus TakeCensus()
{
    ProcessCensus c;
    c.threads = CountThreads();
    c.tlsSlots = CountTlsSlotsInUse();
    WalkHeaps(&c.heapBytes, &c.heapBlocks);
    c.privateBytes = CommittedPrivateBytes();

    HANDLE self = GetCurrentProcess();
    c.gdiObjects = GetGuiResources(self, GR_GDIOBJECTS);
    c.gdiProbed = c.gdiObjects == 0;
    if (c.gdiProbed)
        c.gdiObjects = ProbeGdiObjects();
    c.userObjects = GetGuiResources(self, GR_USEROBJECTS);
    c.userProbed = c.userObjects == 0;
    if (c.userProbed)
        c.userObjects = ProbeUserObjects();
    DWORD handles = 0;
    c.kernelProbed = !GetProcessHandleCount(self, &handles) || handles == 0;
    c.kernelHandles = c.kernelProbed ? ProbeKernelHandles() : handles;
    return c;
}

ProcessCensus CensusGrowth(const ProcessCensus &before, const ProcessCensus &after)
{
    ProcessCensus g = after;
    g.gdiObjects -= before.gdiObjects;
    g.userObjects -= before.userObjects;
    g.kernelHandles -= before.kernelHandles;
    g.threads -= before.threads;
    g.tlsSlots -= before.tlsSlots;
    g.heapBytes -= before.heapBytes;
    g.heapBlocks -= before.heapBlocks;
    g.privateBytes -= before.privateBytes;
    return g;
}

std::string CensusText(const ProcessCensus &c)
{
    char text[256];
    std::snprintf(text, sizeof text, "GDI %lld, USER %lld, kernel %lld, threads %lld, TLS %lld, heap %.1f KB in %lld blocks, "
                  "private %.2f MB",
                  (long long)c.gdiObjects, (long long)c.userObjects, (long long)c.kernelHandles,
                  (long long)c.threads, (long long)c.tlsSlots, double(c.heapBytes) / 1024.0, (long long)c.heapBlocks,
                  double(c.privateBytes) / (1024.0 * 1024.0));
    return text;
}
