#include "host/session/HostSuites.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>

#include "host/session/FilterHost.h"
#include "host/session/ChannelPorts.h"

namespace {

const SPErr kSuiteNotFound = 0x53214664;  // 'S!Fd'

HostSuites *Served()
{
    FilterHost *host = FilterHost::Active();
    return host != nullptr ? &host->suites : nullptr;
}

// ---- handle procedures -----------------------------------------------------

struct HandleBlock {
    Ptr data;  // the master pointer; a handle points here
    int32_t size;
};

HandleBlock *BlockOf(Handle h)
{
    return reinterpret_cast<HandleBlock *>(h);
}

extern "C" Handle PI_CDECL HandleNew(int32_t size)
{
    HostSuites *suites = Served();
    return suites != nullptr ? suites->NewHandle(size) : nullptr;
}

extern "C" void PI_CDECL HandleDispose(Handle h)
{
    if (HostSuites *suites = Served())
        suites->DisposeHandle(h);
}

extern "C" int32_t PI_CDECL HandleGetSize(Handle h)
{
    HostSuites *suites = Served();
    return suites != nullptr && suites->OwnsHandle(h) ? BlockOf(h)->size : 0;
}

extern "C" OSErr PI_CDECL HandleSetSize(Handle h, int32_t size)
{
    HostSuites *suites = Served();
    if (suites == nullptr || !suites->OwnsHandle(h) || size < 0)
        return paramErr;
    char *data = static_cast<char *>(std::realloc(BlockOf(h)->data, size_t(size) + 1));
    if (data == nullptr)
        return memFullErr;
    BlockOf(h)->data = data;
    BlockOf(h)->size = size;
    FilterHost::Active()->Log(EventKind::Handle, "setSize " + std::to_string(size));
    return noErr;
}

extern "C" Ptr PI_CDECL HandleLock(Handle h, Boolean)
{
    HostSuites *suites = Served();
    return suites != nullptr && suites->OwnsHandle(h) ? *h : nullptr;
}

extern "C" void PI_CDECL HandleUnlock(Handle) {}
extern "C" void PI_CDECL HandleRecoverSpace(int32_t) {}

// A host that does not keep handle sizes: every handle answers 0, and a new
// size changes nothing.
extern "C" int32_t PI_CDECL SizelessHandleGetSize(Handle)
{
    return 0;
}

extern "C" OSErr PI_CDECL SizelessHandleSetSize(Handle, int32_t size)
{
    if (FilterHost *host = FilterHost::Active())
        host->Log(EventKind::Handle, "setSize " + std::to_string(size) + " (ignored)");
    return noErr;
}

// ---- the record's buffer procedures ----------------------------------------

extern "C" OSErr PI_CDECL RecordBufferAllocate(int32_t size, BufferID *id)
{
    HostSuites *suites = Served();
    if (suites == nullptr) {
        if (id != nullptr)
            *id = nullptr;
        return memFullErr;
    }
    return suites->AllocateRecordBuffer(size, id);
}

extern "C" Ptr PI_CDECL RecordBufferLock(BufferID id, Boolean)
{
    HostSuites *suites = Served();
    return suites != nullptr ? suites->LockRecordBuffer(id) : nullptr;
}

extern "C" void PI_CDECL RecordBufferUnlock(BufferID id)
{
    if (HostSuites *suites = Served())
        suites->UnlockRecordBuffer(id);
}

extern "C" void PI_CDECL RecordBufferFree(BufferID id)
{
    if (HostSuites *suites = Served())
        suites->FreeRecordBuffer(id);
}

extern "C" int32_t PI_CDECL RecordBufferSpace()
{
    return 1 << 30;
}

// ---- basic suite -----------------------------------------------------------

extern "C" SPErr PI_CDECL BasicAcquire(const char *name, int32_t version, const void **suite)
{
    HostSuites *suites = Served();
    return suites != nullptr ? suites->Acquire(name, version, suite) : kSuiteNotFound;
}

extern "C" SPErr PI_CDECL BasicRelease(const char *name, int32_t version)
{
    HostSuites *suites = Served();
    return suites != nullptr ? suites->Release(name, version) : kSuiteNotFound;
}

extern "C" int32_t PI_CDECL BasicIsEqual(const char *a, const char *b)
{
    return a != nullptr && b != nullptr && std::strcmp(a, b) == 0;
}

extern "C" SPErr PI_CDECL BasicAllocate(int32_t size, void **block)
{
    if (block == nullptr)
        return paramErr;
    *block = size >= 0 ? std::malloc(size_t(size) + 1) : nullptr;
    return *block != nullptr ? 0 : memFullErr;
}

extern "C" SPErr PI_CDECL BasicFree(void *block)
{
    std::free(block);
    return 0;
}

extern "C" SPErr PI_CDECL BasicReallocate(void *block, int32_t size, void **newBlock)
{
    if (newBlock == nullptr)
        return paramErr;
    *newBlock = size >= 0 ? std::realloc(block, size_t(size) + 1) : nullptr;
    return *newBlock != nullptr ? 0 : memFullErr;
}

extern "C" SPErr PI_CDECL BasicUndefined()
{
    return -1;  // nothing is undefined here
}

// ---- buffer suite ----------------------------------------------------------

extern "C" Ptr PI_CDECL BufferNew(uint32_t *requested, uint32_t minimum)
{
    HostSuites *suites = Served();
    return suites != nullptr ? suites->NewBuffer(requested, minimum) : nullptr;
}

extern "C" void PI_CDECL BufferDispose(Ptr *buffer)
{
    if (HostSuites *suites = Served())
        suites->DisposeBuffer(buffer);
}

extern "C" uint32_t PI_CDECL BufferGetSize(Ptr buffer)
{
    HostSuites *suites = Served();
    return suites != nullptr ? suites->BufferSize(buffer) : 0;
}

extern "C" uint32_t PI_CDECL BufferGetSpace()
{
    return 1u << 30;
}

const PSBufferSuite1 kBufferSuite = {BufferNew, BufferDispose, BufferGetSize, BufferGetSpace};

} // namespace

HostSuites::HostSuites(FilterHost &host)
    : host_(host), handleProcs_(), sizelessHandleProcs_(), bufferProcs_(), basic_(), servedBuffers_(),
      servedPorts_()
{
    handleProcs_.handleProcsVersion = kCurrentHandleProcsVersion;
    handleProcs_.numHandleProcs = kCurrentHandleProcsCount;
    handleProcs_.newProc = HandleNew;
    handleProcs_.disposeProc = HandleDispose;
    handleProcs_.getSizeProc = HandleGetSize;
    handleProcs_.setSizeProc = HandleSetSize;
    handleProcs_.lockProc = HandleLock;
    handleProcs_.unlockProc = HandleUnlock;
    handleProcs_.recoverSpaceProc = HandleRecoverSpace;
    handleProcs_.disposeRegularHandleProc = HandleDispose;
    sizelessHandleProcs_ = handleProcs_;
    sizelessHandleProcs_.getSizeProc = SizelessHandleGetSize;
    sizelessHandleProcs_.setSizeProc = SizelessHandleSetSize;
    // Version 2 with the five classic procedures; the 64-bit ones are not
    // offered.
    bufferProcs_.bufferProcsVersion = kCurrentBufferProcsVersion;
    bufferProcs_.numBufferProcs = 5;
    bufferProcs_.allocateProc = RecordBufferAllocate;
    bufferProcs_.lockProc = RecordBufferLock;
    bufferProcs_.unlockProc = RecordBufferUnlock;
    bufferProcs_.freeProc = RecordBufferFree;
    bufferProcs_.spaceProc = RecordBufferSpace;
    basic_ = {BasicAcquire, BasicRelease, BasicIsEqual, BasicAllocate, BasicFree, BasicReallocate, BasicUndefined};
}

HostSuites::~HostSuites()
{
    ReleaseParameters();
    for (Handle h : std::set<Handle>(handles_))
        FreeHandle(h);
}

void HostSuites::Serve(FilterRecord &record)
{
    const HostBehaviour &behaviour = host_.behaviour;
    const ProfileServices services = host_.Services();
    HandleProcs *handles = services.handleSizes ? &handleProcs_ : &sizelessHandleProcs_;
    record.handleProcs = behaviour.noHandleProcs || !services.handleProcs ? nullptr : handles;
    record.bufferProcs = services.recordBuffers ? &bufferProcs_ : nullptr;
    record.sSPBasic = behaviour.noBasicSuite || !services.basicSuite ? nullptr : &basic_;
    record.parameters = parameters_;
    servedBuffers_ = kBufferSuite;
    servedPorts_ = ChannelPorts::Suite();
    const std::string &missing = behaviour.missingEntry;
    if (missing == "buffers:New") servedBuffers_.New = nullptr;
    else if (missing == "buffers:Dispose") servedBuffers_.Dispose = nullptr;
    else if (missing == "ports:CanRead") servedPorts_.CanRead = nullptr;
    else if (missing == "ports:ReadScaledPixels") servedPorts_.ReadScaledPixels = nullptr;
    else if (missing == "ports:New") servedPorts_.New = nullptr;
    else if (missing == "ports:Dispose") servedPorts_.Dispose = nullptr;
    else if (missing == "ports:WritePixelsToBaseLevel") servedPorts_.WritePixelsToBaseLevel = nullptr;
    else if (missing == "ports:ReadPixelsFromLevel") servedPorts_.ReadPixelsFromLevel = nullptr;
    else if (missing == "ports:ApplyOperation") servedPorts_.ApplyOperation = nullptr;
    else if (missing == "ports:GetDataBounds") servedPorts_.GetDataBounds = nullptr;
}

void HostSuites::FreeHandle(Handle h)
{
    handles_.erase(h);
    HandleBlock *block = BlockOf(h);
    std::free(block->data);
    delete block;
}

void HostSuites::ReleaseParameters()
{
    if (parameters_ != nullptr && handles_.count(parameters_) != 0)
        FreeHandle(parameters_);
    parameters_ = nullptr;
}

void HostSuites::CollectLeaks(std::vector<std::string> *leaks)
{
    for (auto &entry : suiteCounts_)
        if (entry.second != 0)
            leaks->push_back("suite \"" + entry.first + "\" left acquired " + std::to_string(entry.second) +
                             " time(s)");
    suiteCounts_.clear();
    for (auto &entry : bufferSizes_)
        leaks->push_back("buffer of " + std::to_string(entry.second) + " bytes not disposed");
    buffers_.clear();
    bufferSizes_.clear();
    for (Handle h : std::set<Handle>(handles_))
        if (h != parameters_) {
            leaks->push_back("handle of " + std::to_string(BlockOf(h)->size) + " bytes not disposed");
            FreeHandle(h);
        }
    for (auto &entry : recordBlocks_)
        leaks->push_back("record buffer of " + std::to_string(entry.second.size) + " bytes not freed" +
                         (entry.second.locks != 0 ? " (left locked)" : ""));
    recordBlocks_.clear();
}

void HostSuites::CollectFailures(std::vector<std::string> *failures)
{
    failures->insert(failures->end(), misuses_.begin(), misuses_.end());
    misuses_.clear();
}

void HostSuites::Misuse(const std::string &what)
{
    host_.Log(EventKind::Failure, what);
    misuses_.push_back(what);
}

HostSuites::RecordBlock *HostSuites::RecordBlockOf(BufferID id, const char *call)
{
    auto it = recordBlocks_.find(id);
    if (it == recordBlocks_.end()) {
        Misuse(std::string(call) + " of an unknown record buffer");
        return nullptr;
    }
    return &it->second;
}

OSErr HostSuites::AllocateRecordBuffer(int32_t size, BufferID *id)
{
    const HostBehaviour &behaviour = host_.behaviour;
    if (id == nullptr) {
        Misuse("allocate of a record buffer with no place for its id");
        return paramErr;
    }
    *id = nullptr;
    const bool refused = behaviour.failBufferAllocation || ++bufferCalls_ == behaviour.failBufferOn;
    host_.Log(EventKind::Buffer, "allocate " + std::to_string(size) + (refused ? " (refused)" : ""));
    if (refused)
        return memFullErr;
    if (size < 0)
        return paramErr;
    RecordBlock block;
    block.data.reset(new (std::nothrow) char[size_t(size) + 1]);
    if (!block.data)
        return memFullErr;
    block.size = size;
    // The ids are the host's own numbers, never addresses: a freed id stays
    // unknown for the rest of the run.
    *id = reinterpret_cast<BufferID>(uintptr_t(++nextRecordBlock_) << 4);
    recordBlocks_[*id] = std::move(block);
    return noErr;
}

Ptr HostSuites::LockRecordBuffer(BufferID id)
{
    RecordBlock *block = RecordBlockOf(id, "lock");
    if (block == nullptr)
        return nullptr;
    host_.Log(EventKind::Buffer, "lock " + std::to_string(block->size));
    ++block->locks;
    return block->data.get();
}

void HostSuites::UnlockRecordBuffer(BufferID id)
{
    RecordBlock *block = RecordBlockOf(id, "unlock");
    if (block == nullptr)
        return;
    host_.Log(EventKind::Buffer, "unlock " + std::to_string(block->size));
    if (block->locks == 0) {
        Misuse("unlock of a record buffer of " + std::to_string(block->size) + " bytes that is not locked");
        return;
    }
    --block->locks;
}

void HostSuites::FreeRecordBuffer(BufferID id)
{
    RecordBlock *block = RecordBlockOf(id, "free");
    if (block == nullptr)
        return;
    host_.Log(EventKind::Buffer, "free " + std::to_string(block->size));
    if (block->locks != 0)
        Misuse("record buffer of " + std::to_string(block->size) + " bytes freed while locked");
    recordBlocks_.erase(id);
}

SPErr HostSuites::Acquire(const char *name, int32_t version, const void **suite)
{
    const HostBehaviour &behaviour = host_.behaviour;
    const std::string n = name != nullptr ? name : "";
    const std::string what = "acquire \"" + n + "\" v" + std::to_string(version);
    if (suite == nullptr) {
        host_.Log(EventKind::Suite, what + " refused: no result pointer");
        return paramErr;
    }
    *suite = nullptr;
    if (n == behaviour.refusedSuite) {
        host_.Log(EventKind::Suite, what + " refused");
        return kSuiteNotFound;
    }
    if (n == behaviour.nullSuite) {
        host_.Log(EventKind::Suite, what + " answered with no suite");
        ++suiteCounts_[n];
        return 0;
    }
    if (n == kPSBufferSuite && version == kPSBufferSuiteVersion1)
        *suite = &servedBuffers_;
    else if (n == kPSChannelPortsSuite && version == kPSChannelPortsSuiteVersion3)
        *suite = &servedPorts_;
    if (*suite == nullptr) {
        host_.Log(EventKind::Suite, what + " not found");
        return kSuiteNotFound;
    }
    host_.Log(EventKind::Suite, what);
    ++suiteCounts_[n];
    return 0;
}

SPErr HostSuites::Release(const char *name, int32_t version)
{
    const std::string n = name != nullptr ? name : "";
    host_.Log(EventKind::Suite, "release \"" + n + "\" v" + std::to_string(version));
    auto it = suiteCounts_.find(n);
    if (it == suiteCounts_.end() || it->second <= 0) {
        host_.Log(EventKind::Failure, "release of \"" + n + "\" that was not acquired");
        return kSuiteNotFound;
    }
    --it->second;
    return 0;
}

Handle HostSuites::NewHandle(int32_t size)
{
    const bool refused = host_.behaviour.failHandleAllocation;
    host_.Log(EventKind::Handle, "new " + std::to_string(size) + (refused ? " (refused)" : ""));
    if (refused || size < 0)
        return nullptr;
    auto *block = new (std::nothrow) HandleBlock{static_cast<Ptr>(std::calloc(size_t(size) + 1, 1)), size};
    if (block == nullptr || block->data == nullptr) {
        if (block != nullptr)
            std::free(block->data);
        delete block;
        return nullptr;
    }
    Handle h = reinterpret_cast<Handle>(block);
    handles_.insert(h);
    return h;
}

void HostSuites::DisposeHandle(Handle h)
{
    host_.Log(EventKind::Handle, "dispose");
    if (h == nullptr || handles_.count(h) == 0) {
        host_.Log(EventKind::Failure, "dispose of an unknown handle");
        return;
    }
    if (h == parameters_)
        parameters_ = nullptr;
    FreeHandle(h);
}

Ptr HostSuites::NewBuffer(uint32_t *requested, uint32_t minimum)
{
    const HostBehaviour &behaviour = host_.behaviour;
    const uint32_t size = requested != nullptr && *requested > minimum ? *requested : minimum;
    const bool refused = behaviour.failBufferAllocation || ++bufferCalls_ == behaviour.failBufferOn;
    host_.Log(EventKind::Buffer, "new " + std::to_string(size) + (refused ? " (refused)" : ""));
    if (refused)
        return nullptr;
    std::unique_ptr<char[]> memory(new (std::nothrow) char[size_t(size) + 1]);
    if (!memory)
        return nullptr;
    Ptr p = memory.get();
    buffers_[p] = std::move(memory);
    bufferSizes_[p] = size;
    if (requested != nullptr)
        *requested = size;
    return p;
}

void HostSuites::DisposeBuffer(Ptr *buffer)
{
    if (buffer == nullptr || *buffer == nullptr)
        return;
    host_.Log(EventKind::Buffer, "dispose " + std::to_string(BufferSize(*buffer)));
    if (buffers_.erase(*buffer) == 0)
        host_.Log(EventKind::Failure, "dispose of an unknown buffer");
    bufferSizes_.erase(*buffer);
    *buffer = nullptr;
}

uint32_t HostSuites::BufferSize(Ptr buffer) const
{
    auto it = bufferSizes_.find(buffer);
    return it != bufferSizes_.end() ? it->second : 0;
}
