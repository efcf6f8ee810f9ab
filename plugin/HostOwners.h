// Small owners of what the module acquires from the host within one start
// call: a suite here, a block of memory in ModuleMemory.h. Each gives back what it holds when it ends,
// so release on every path is a property of the scope that holds it. None
// throws, and each decides from the acquisition itself whether it holds
// anything.
#pragma once

#include "plugin/HostInterface.h"

// One suite acquired through the basic suite. A host that answers success
// but hands back no suite lacks it all the same; its acquisition is still
// released, so that its count stays balanced.
class SuiteLease {
public:
    SuiteLease(SPBasicSuite *basic, const char *name, int32_t version) : name_(name), version_(version)
    {
        if (basic == nullptr || basic->AcquireSuite == nullptr || basic->ReleaseSuite == nullptr)
            return;
        const void *acquired = nullptr;
        if (basic->AcquireSuite(name, version, &acquired) != 0)
            return;
        basic_ = basic;
        suite_ = const_cast<void *>(acquired);
    }
    ~SuiteLease() { Release(); }
    SuiteLease(const SuiteLease &) = delete;
    SuiteLease &operator=(const SuiteLease &) = delete;

    template <typename Suite>
    Suite *As() const
    {
        return static_cast<Suite *>(suite_);
    }

    // Gives the acquisition back now; the owner then holds nothing.
    void Release()
    {
        if (basic_ != nullptr)
            basic_->ReleaseSuite(name_, version_);
        basic_ = nullptr;
        suite_ = nullptr;
    }

private:
    SPBasicSuite *basic_ = nullptr;  // set while an acquisition is held
    void *suite_ = nullptr;
    const char *name_;
    int32_t version_;
};
