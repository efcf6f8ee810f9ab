// Host profiles: which host the emulated host stands in for. The full
// profile is the host the filter interface comes from, with the basic suite,
// its buffer and channel-port suites and the document description. The plain
// profiles are the hosts that offer only the filter record itself, as the
// open-source hosts and most closed ones do: no basic suite, no document
// description, memory through the record's own procedures (or none), integer
// sampling rates, and callbacks that are less careful than the full host's.
// Every fact a profile decides is here; the rooms ask ServicesOf.
#pragma once

#include <cstdint>
#include <string>

#include "plugin/HostInterface.h"

enum class HostProfile { Full, Plain, PlainHandles, PlainNoMemory };

// "full", "plain", "plain-handles", "plain-no-memory"
const char *HostProfileName(HostProfile profile);
// False, leaving *profile as it is, for a name that is none of them.
bool ParseHostProfile(const std::string &name, HostProfile *profile);
// Every name, for messages: "full, plain, plain-handles, plain-no-memory".
std::string HostProfileNames();

// The signature the plain profiles put in the record's hostSig.
constexpr OSType kPlainHostSignature = MakeOSType('P', 'L', 'N', 'H');

// A signature as a host that writes it as bytes in memory order leaves it:
// SignatureFromBytes('G', 'I', 'M', 'P') reads as 'PMIG'.
constexpr OSType SignatureFromBytes(char first, char second, char third, char fourth)
{
    return MakeOSType(fourth, third, second, first);
}

// What a profile offers the filter.
struct ProfileServices {
    OSType signature;             // the record's hostSig
    bool basicSuite;              // sSPBasic, and through it the buffer and channel-port suites
    bool documentInfo;            // the record's document description
    bool recordBuffers;           // the record's bufferProcs
    bool handleProcs;             // the record's handleProcs
    bool handleSizes;             // getSize and setSize work (else getSize answers 0, setSize does nothing)
    uint8_t samplingSupport;      // the record's samplingSupport
    bool integerInputRate;        // advanceState samples the input at inputRate's whole part
    bool advanceAlwaysSucceeds;   // advanceState answers 0 even where it delivers nothing
    bool displayIgnoresOrigin;    // displayPixels reads the source rectangle from the map's origin
    bool abortAnswers;            // abortProc can answer true
};

ProfileServices ServicesOf(HostProfile profile);
