#include "plugin/ModuleMemory.h"

#include <cstdlib>

namespace {

// A table whose count says how many entries it has must have the one at
// `index`; a count of 0 says nothing (some hosts zero it), and then only the
// pointer counts.
bool Offers(int16_t count, int index, const void *entry)
{
    return entry != nullptr && (count <= 0 || index < count);
}

bool HasSuite(const PSBufferSuite1 *suite)
{
    return suite != nullptr && suite->New != nullptr && suite->Dispose != nullptr;
}

bool HasBufferProcs(const BufferProcs *procs)
{
    if (procs == nullptr)
        return false;
    const int16_t n = procs->numBufferProcs;
    return Offers(n, 0, reinterpret_cast<const void *>(procs->allocateProc)) &&
           Offers(n, 1, reinterpret_cast<const void *>(procs->lockProc)) &&
           Offers(n, 2, reinterpret_cast<const void *>(procs->unlockProc)) &&
           Offers(n, 3, reinterpret_cast<const void *>(procs->freeProc));
}

bool HasHandleProcs(const HandleProcs *procs)
{
    return procs != nullptr && Offers(procs->numHandleProcs, 0, reinterpret_cast<const void *>(procs->newProc)) &&
           Offers(procs->numHandleProcs, 1, reinterpret_cast<const void *>(procs->disposeProc));
}

// The handle procedures' lock and unlock, when the host has both.
bool CanLockHandles(const HandleProcs *procs)
{
    return Offers(procs->numHandleProcs, 4, reinterpret_cast<const void *>(procs->lockProc)) &&
           Offers(procs->numHandleProcs, 5, reinterpret_cast<const void *>(procs->unlockProc));
}

} // namespace

MemorySource MemorySource::Choose(PSBufferSuite1 *suite, const BufferProcs *bufferProcs,
                                  const HandleProcs *handleProcs)
{
    MemorySource source;
    if (HasSuite(suite)) {
        source.kind = MemoryKind::BufferSuite;
        source.suite = suite;
    } else if (HasBufferProcs(bufferProcs)) {
        source.kind = MemoryKind::RecordBuffers;
        source.bufferProcs = bufferProcs;
    } else if (HasHandleProcs(handleProcs)) {
        source.kind = MemoryKind::Handles;
        source.handleProcs = handleProcs;
    }
    return source;
}

bool MemoryBlock::Allocate(const MemorySource &source, int32_t size)
{
    Free();
    if (size <= 0)
        return false;
    source_ = source;
    switch (source.kind) {
    case MemoryKind::BufferSuite:
        // No larger size requested: the block is exactly what is asked for.
        data_ = source.suite->New(nullptr, uint32_t(size));
        break;
    case MemoryKind::RecordBuffers:
        if (source.bufferProcs->allocateProc(size, &buffer_) != noErr || buffer_ == nullptr) {
            buffer_ = nullptr;
            break;
        }
        data_ = source.bufferProcs->lockProc(buffer_, 1);
        break;
    case MemoryKind::Handles:
        // Allocated at its final size: some hosts' size queries and resizes
        // do nothing.
        handle_ = source.handleProcs->newProc(size);
        if (handle_ == nullptr)
            break;
        if (CanLockHandles(source.handleProcs)) {
            data_ = source.handleProcs->lockProc(handle_, 1);
            locked_ = data_ != nullptr;
        } else {
            data_ = *handle_;
        }
        break;
    case MemoryKind::ModuleHeap:
        data_ = static_cast<Ptr>(std::malloc(size_t(size)));
        break;
    }
    if (data_ == nullptr) {
        Free();
        return false;
    }
    return true;
}

void MemoryBlock::Free()
{
    switch (source_.kind) {
    case MemoryKind::BufferSuite:
        if (data_ != nullptr)
            source_.suite->Dispose(&data_);
        break;
    case MemoryKind::RecordBuffers:
        if (buffer_ != nullptr) {
            if (data_ != nullptr)
                source_.bufferProcs->unlockProc(buffer_);
            source_.bufferProcs->freeProc(buffer_);
        }
        break;
    case MemoryKind::Handles:
        if (handle_ != nullptr) {
            if (locked_)
                source_.handleProcs->unlockProc(handle_);
            source_.handleProcs->disposeProc(handle_);
        }
        break;
    case MemoryKind::ModuleHeap:
        std::free(data_);
        break;
    }
    data_ = nullptr;
    buffer_ = nullptr;
    handle_ = nullptr;
    locked_ = false;
    source_ = MemorySource();
}
