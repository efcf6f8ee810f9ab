// What the host's process holds at one moment: its GDI objects, USER
// objects, kernel handles, threads and heap in use, counted so that a
// module that keeps any of them after a run, or after it is freed, shows.
//
// Where the platform answers the counts itself (GetGuiResources,
// GetProcessHandleCount) its answers are taken. Where it answers 0 (Wine),
// the objects are counted one by one: every GDI handle value is probed with
// GetObjectType; the process's windows are enumerated (top-level, their
// descendants and the message-only ones) and its menus and cursors probed
// among the USER handle values; kernel handle values are probed with
// GetHandleInformation. The thread-local storage slots in use are those
// TlsAlloc does not give when asked for every free one. The heap in use is the sum of the busy blocks of
// every heap of the process, walked with HeapWalk; the committed private
// memory is summed over the address space with VirtualQuery.
#pragma once

#include <cstdint>
#include <string>

struct ProcessCensus {
    int64_t gdiObjects = 0;
    int64_t userObjects = 0;
    int64_t kernelHandles = 0;
    int64_t threads = 0;
    int64_t tlsSlots = 0;      // thread-local storage slots in use (of the 1088 a process has)
    int64_t heapBytes = 0;     // in busy heap blocks, over every heap of the process
    int64_t heapBlocks = 0;
    int64_t privateBytes = 0;  // committed private memory (heaps, stacks, the runtime's own)
    // How the objects were counted: "the platform's counts" or "probed".
    bool gdiProbed = false, userProbed = false, kernelProbed = false;
};

// Counts what the calling process holds now. Call it from the thread
// whose windows are of interest, with nothing of its own under way.
ProcessCensus TakeCensus();

// What `after` holds beyond `before`, field by field (negative: less).
ProcessCensus CensusGrowth(const ProcessCensus &before, const ProcessCensus &after);

// "GDI 12, USER 30, kernel 40, threads 3, TLS 5, heap 1234 KB in 567 blocks,
// private 8.5 MB".
std::string CensusText(const ProcessCensus &census);
