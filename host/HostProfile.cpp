#include "host/HostProfile.h"

namespace {

struct NamedProfile {
    HostProfile profile;
    const char *name;
};

const NamedProfile kProfiles[] = {
    {HostProfile::Full, "full"},
    {HostProfile::Plain, "plain"},
    {HostProfile::PlainHandles, "plain-handles"},
    {HostProfile::PlainNoMemory, "plain-no-memory"},
};

} // namespace

const char *HostProfileName(HostProfile profile)
{
    for (const NamedProfile &p : kProfiles)
        if (p.profile == profile)
            return p.name;
    return "unknown";
}

bool ParseHostProfile(const std::string &name, HostProfile *profile)
{
    for (const NamedProfile &p : kProfiles)
        if (name == p.name) {
            *profile = p.profile;
            return true;
        }
    return false;
}

std::string HostProfileNames()
{
    std::string names;
    for (const NamedProfile &p : kProfiles)
        names += std::string(names.empty() ? "" : ", ") + p.name;
    return names;
}

ProfileServices ServicesOf(HostProfile profile)
{
    ProfileServices s = {};
    if (profile == HostProfile::Full) {
        s.signature = kPhotoshopSignature;
        s.basicSuite = true;
        s.documentInfo = true;
        s.recordBuffers = false;
        s.handleProcs = true;
        s.handleSizes = true;
        s.samplingSupport = 0;
        s.integerInputRate = false;
        s.advanceAlwaysSucceeds = false;
        s.displayIgnoresOrigin = false;
        s.abortAnswers = true;
        return s;
    }
    s.signature = kPlainHostSignature;
    s.basicSuite = false;
    s.documentInfo = false;
    s.recordBuffers = profile == HostProfile::Plain;
    s.handleProcs = profile != HostProfile::PlainNoMemory;
    s.handleSizes = profile == HostProfile::Plain;
    s.samplingSupport = 1;
    s.integerInputRate = true;
    s.advanceAlwaysSucceeds = true;
    s.displayIgnoresOrigin = true;
    s.abortAnswers = false;
    return s;
}
