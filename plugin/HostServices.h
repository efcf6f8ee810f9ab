// What the host offers a start call, chosen once from the record and the
// suites it hands out, entry by entry: the rest of the module asks this
// object how to smooth the mask, where memory comes from, where the preview
// reads the document and who draws it, and whether the host tells the user
// of a failure itself.
#pragma once

#include "plugin/HostInterface.h"
#include "plugin/ModuleMemory.h"

struct HostServices {
    enum class Smoothing {
        HostFilters,  // the host's named filters on two scratch channel ports
        Own,          // the module's own blur and median
    };
    enum class PreviewSource {
        DocumentPorts,  // scaled reads of the document's channel ports
        Delivered,      // the image data advanceState delivers, reduced by the module
    };
    enum class Drawing {
        Host,  // displayPixels
        Own,   // the module draws the pixels on the paint's device context
    };

    Smoothing smoothing = Smoothing::Own;
    PreviewSource previewSource = PreviewSource::Delivered;
    Drawing drawing = Drawing::Own;
    MemorySource memory;
    bool delivers = false;          // advanceState: without it nothing can be filtered
    bool reportsFailures = false;   // the host shows the user what a negative result code means
    bool lastOutputOnly = false;    // the host keeps only the last output delivered: one request for all
    // The host the interface comes from calls continue to empty the last
    // tile's rectangles; every other host stores the last output with a call
    // of its own once start returns with them empty, and some fetch again
    // over whatever is left set.
    bool continueEndsRun = false;

    static HostServices Choose(const FilterRecord &record, PSChannelPortsSuite3 *ports, PSBufferSuite1 *buffers);
};
