// Where the module's large blocks come from (the tile mask, the preview's
// buffers): the host's buffer suite, else the record's own buffer
// procedures, else its handle procedures, else the module's own heap. The
// source is chosen once per start call; each block is owned by a MemoryBlock,
// which gives it back the way it came however the call ends.
#pragma once

#include "plugin/HostInterface.h"

enum class MemoryKind { BufferSuite, RecordBuffers, Handles, ModuleHeap };

struct MemorySource {
    MemoryKind kind = MemoryKind::ModuleHeap;
    PSBufferSuite1 *suite = nullptr;
    const BufferProcs *bufferProcs = nullptr;
    const HandleProcs *handleProcs = nullptr;

    // The first of the four that the host offers, judged by the entries the
    // module calls (a table's version and count are not always filled in).
    static MemorySource Choose(PSBufferSuite1 *suite, const BufferProcs *bufferProcs,
                               const HandleProcs *handleProcs);
};

class MemoryBlock {
public:
    MemoryBlock() = default;
    ~MemoryBlock() { Free(); }
    MemoryBlock(const MemoryBlock &) = delete;
    MemoryBlock &operator=(const MemoryBlock &) = delete;

    // Frees what it held, then asks for `size` bytes. True when the block
    // was had; its address is then Get().
    bool Allocate(const MemorySource &source, int32_t size);
    // Gives the block back to where it came from.
    void Free();

    Ptr Get() const { return data_; }

private:
    MemorySource source_;
    Ptr data_ = nullptr;
    BufferID buffer_ = nullptr;  // a block of the record's buffer procedures
    Handle handle_ = nullptr;    // a block of the handle procedures
    bool locked_ = false;        // the handle is locked through the host
};
