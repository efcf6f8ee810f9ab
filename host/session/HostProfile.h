// Host profiles: which host the emulated host stands in for. The full
// profile is the host the filter interface comes from, with the basic suite,
// its buffer and channel-port suites and the document description. The plain
// profiles are the hosts that offer only the filter record itself, as the
// open-source hosts and most closed ones do: no basic suite, no document
// description, memory through the record's own procedures (or none), integer
// sampling rates, and callbacks that are less careful than the full host's;
// they hand a layer with transparency as Paint.NET's loader does (four
// planes, the layer fields and column bytes set). Two profiles stand in for
// particular hosts: PhotoDemon's filter engine, which hands every image as
// four planes with its own faults, and GIMP's loader, which keeps only the
// last output it stored. Every fact a profile decides is here; the rooms ask
// ServicesOf.
#pragma once

#include <cstdint>
#include <string>

#include "plugin/HostInterface.h"

enum class HostProfile { Full, Plain, PlainHandles, PlainNoMemory, PhotoDemon, Gimp };

// "full", "plain", "plain-handles", "plain-no-memory", "photodemon", "gimp"
const char *HostProfileName(HostProfile profile);
// False, leaving *profile as it is, for a name that is none of them.
bool ParseHostProfile(const std::string &name, HostProfile *profile);
// Every name, for messages: "full, plain, plain-handles, ...".
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
    bool platformWindow;          // platformData names the host's window
    bool finishAfterSuccess;      // finish is called after a successful run
    bool selections;              // a selection reaches the filter as maskData
    // Layers with transparency: the record's layer fields describe the
    // colour and transparency planes (inLayerPlanes, inTransparencyMask and
    // the same for out*); absLayerPlanes and the rest of abs* too, where set.
    bool absoluteLayerFields;
    // The record's inColumnBytes and outColumnBytes: set to the planes of the
    // document, then to the planes of each request; else left 0.
    bool columnBytes;
    // Every image is handed with transparency: an opaque one gets an opaque
    // fourth plane for the run.
    bool everyImageWithTransparency;
    // The filter rectangle leaves out the image's last row and column.
    bool filterRectOneShort;
    // advanceState fetches again only when a rectangle changes, not when
    // the planes do.
    bool refetchOnlyForNewRectangle;
    // A request of one plane, or of planes that do not start at 0, is served
    // from the pixel's first sample (the planes from 0 on).
    bool planesFromFirstSample;
    // displayPixels reads as many bytes a pixel as the document has planes,
    // whatever the map's column step.
    bool displayReadsDocumentPlanes;
    // The loader that keeps only its last stored output: every advanceState
    // stores the previous call's output, then fetches fresh copies from the
    // unfiltered image; after start it calls advanceState and continue while
    // a rectangle is set, then advanceState once more, and only what that
    // last store covered ends up in the image.
    bool lastStoredOutputOnly;
};

ProfileServices ServicesOf(HostProfile profile);
