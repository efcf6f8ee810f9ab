#include "host/session/HostProfile.h"

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
    {HostProfile::PhotoDemon, "photodemon"},
    {HostProfile::Gimp, "gimp"},
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
        s.platformWindow = true;
        s.finishAfterSuccess = true;
        s.selections = true;
        s.absoluteLayerFields = true;
        s.columnBytes = true;
        return s;
    }
    // What every other host shares: only the record, and a layer with
    // transparency handed as four planes.
    s.basicSuite = false;
    s.documentInfo = false;
    s.abortAnswers = false;
    s.platformWindow = true;
    s.finishAfterSuccess = true;
    s.selections = true;
    s.absoluteLayerFields = true;
    s.columnBytes = true;
    if (profile == HostProfile::PhotoDemon) {
        // PhotoDemon's engine: every image as 32-bit BGRA handed as RGBA,
        // all eight buffer procedures, handles whose size it neither tells
        // nor changes, integer rates, and its faults as they are.
        s.signature = SignatureFromBytes('s', 'p', 'H', 'O');
        s.recordBuffers = true;
        s.handleProcs = true;
        s.handleSizes = false;
        s.samplingSupport = 1;
        s.integerInputRate = true;
        s.advanceAlwaysSucceeds = true;
        s.displayIgnoresOrigin = true;
        s.selections = false;
        s.absoluteLayerFields = false;
        s.columnBytes = false;
        s.everyImageWithTransparency = true;
        s.filterRectOneShort = true;
        s.refetchOnlyForNewRectangle = true;
        s.planesFromFirstSample = true;
        s.displayReadsDocumentPlanes = true;
        return s;
    }
    if (profile == HostProfile::Gimp) {
        // GIMP's loader: its five classic buffer procedures and full handle
        // procedures, rates ignored, no window, no finish after success, no
        // selection, and only the last stored output kept.
        s.signature = SignatureFromBytes('G', 'I', 'M', 'P');
        s.recordBuffers = true;
        s.handleProcs = true;
        s.handleSizes = true;
        s.samplingSupport = 0;
        s.integerInputRate = false;
        s.advanceAlwaysSucceeds = true;
        s.displayIgnoresOrigin = false;
        s.platformWindow = false;
        s.finishAfterSuccess = false;
        s.selections = false;
        s.columnBytes = false;
        s.lastStoredOutputOnly = true;
        return s;
    }
    s.signature = kPlainHostSignature;
    s.recordBuffers = profile == HostProfile::Plain;
    s.handleProcs = profile != HostProfile::PlainNoMemory;
    s.handleSizes = profile == HostProfile::Plain;
    s.samplingSupport = 1;
    s.integerInputRate = true;
    s.advanceAlwaysSucceeds = true;
    s.displayIgnoresOrigin = true;
    return s;
}
