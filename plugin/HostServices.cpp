#include "plugin/HostServices.h"

#include <cstring>

namespace {

// The host whose loader keeps only the output of the last advanceState
// signs with these bytes, in this order in memory.
const char kLastOutputOnlySignature[4] = {'G', 'I', 'M', 'P'};

bool HasPortFilters(const PSChannelPortsSuite3 *ports)
{
    return ports != nullptr && ports->New != nullptr && ports->Dispose != nullptr &&
           ports->WritePixelsToBaseLevel != nullptr && ports->ApplyOperation != nullptr &&
           ports->ReadPixelsFromLevel != nullptr;
}

bool HasScaledReads(const PSChannelPortsSuite3 *ports)
{
    return ports != nullptr && ports->CanRead != nullptr && ports->ReadScaledPixels != nullptr;
}

} // namespace

HostServices HostServices::Choose(const FilterRecord &record, PSChannelPortsSuite3 *ports,
                                  PSBufferSuite1 *buffers)
{
    HostServices services;
    services.delivers = record.advanceState != nullptr;
    services.reportsFailures = record.hostSig == kPhotoshopSignature;
    services.continueEndsRun = record.hostSig == kPhotoshopSignature;
    services.lastOutputOnly = std::memcmp(&record.hostSig, kLastOutputOnlySignature, sizeof record.hostSig) == 0;
    const ReadImageDocumentDesc *document = record.documentInfo;
    const ReadChannelDesc *first = document != nullptr ? document->targetCompositeChannels : nullptr;
    const bool described = first != nullptr && first->port != nullptr;

    services.smoothing = HasPortFilters(ports) ? Smoothing::HostFilters : Smoothing::Own;
    services.previewSource =
        described && HasScaledReads(ports) ? PreviewSource::DocumentPorts : PreviewSource::Delivered;
    services.drawing = record.displayPixels != nullptr ? Drawing::Host : Drawing::Own;
    services.memory = MemorySource::Choose(buffers, record.bufferProcs, record.handleProcs);
    return services;
}
