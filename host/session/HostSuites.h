// The host's memory services: the handle procedures, the record's buffer
// procedures, the basic suite through which the module acquires the other
// suites, and the buffer suite. Every handle, buffer, record buffer and
// acquired suite is counted, so that anything the module leaves behind is
// reported as a leak.
#pragma once

#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "plugin/HostInterface.h"

class FilterHost;

class HostSuites {
public:
    explicit HostSuites(FilterHost &host);
    ~HostSuites();
    HostSuites(const HostSuites &) = delete;
    HostSuites &operator=(const HostSuites &) = delete;

    // Puts the handle procedures and the basic suite into the record, and
    // prepares the suites the basic suite hands out, each less whatever
    // entry the host's behaviour takes away.
    void Serve(FilterRecord &record);
    // The basic suite for an about record (null when the host has none).
    SPBasicSuite *BasicFor(bool present) { return present ? &basic_ : nullptr; }
    // Counts of buffer calls, and the misuses, start again with each run.
    void BeginRun()
    {
        bufferCalls_ = 0;
        misuses_.clear();
    }

    // The parameters handle the module made in its parameters call, kept
    // across runs as a real host keeps it.
    Handle Parameters() const { return parameters_; }
    void KeepParameters(Handle h) { parameters_ = h; }
    void ReleaseParameters();

    // Everything left acquired or undisposed, each released after it is
    // listed.
    void CollectLeaks(std::vector<std::string> *leaks);
    // What the module did wrong with the record's buffers (an unknown
    // block, a block freed while locked, an unlock without a lock), each
    // listed once.
    void CollectFailures(std::vector<std::string> *failures);

    // The entries of the suites, for the module's calls.
    SPErr Acquire(const char *name, int32_t version, const void **suite);
    SPErr Release(const char *name, int32_t version);
    Handle NewHandle(int32_t size);
    void DisposeHandle(Handle h);
    bool OwnsHandle(Handle h) const { return handles_.count(h) != 0; }
    Ptr NewBuffer(uint32_t *requested, uint32_t minimum);
    void DisposeBuffer(Ptr *buffer);
    uint32_t BufferSize(Ptr buffer) const;
    OSErr AllocateRecordBuffer(int32_t size, BufferID *id);
    Ptr LockRecordBuffer(BufferID id);
    void UnlockRecordBuffer(BufferID id);
    void FreeRecordBuffer(BufferID id);

private:
    struct RecordBlock {
        std::unique_ptr<char[]> data;
        int32_t size = 0;
        int locks = 0;
    };
    void FreeHandle(Handle h);
    // The block of an id, or null (logged as a misuse) for one the host
    // never handed out or has freed.
    RecordBlock *RecordBlockOf(BufferID id, const char *call);
    void Misuse(const std::string &what);

    FilterHost &host_;
    HandleProcs handleProcs_;
    // The handle procedures of a host whose getSize answers 0 and whose
    // setSize does nothing.
    HandleProcs sizelessHandleProcs_;
    BufferProcs bufferProcs_;
    SPBasicSuite basic_;
    // The suites as served: the host's own, less any entry the behaviour
    // takes away.
    PSBufferSuite1 servedBuffers_;
    PSChannelPortsSuite3 servedPorts_;
    int bufferCalls_ = 0;
    Handle parameters_ = nullptr;
    std::map<std::string, int> suiteCounts_;
    std::set<Handle> handles_;
    std::map<Ptr, std::unique_ptr<char[]>> buffers_;
    std::map<Ptr, uint32_t> bufferSizes_;
    std::map<BufferID, RecordBlock> recordBlocks_;
    int nextRecordBlock_ = 0;
    std::vector<std::string> misuses_;
};
