// JPEG files written through libjpeg-turbo: grey or RGB (as YCbCr), 8 bits a
// sample, with the metadata segments the caller hands over.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "host/core/Document.h"
#include "host/core/Metadata.h"

struct JpegWriteOptions {
    int quality = 95;                 // 1..100, as the common encoders scale their tables
    int chromaAcross = 1, chromaDown = 1;  // luma samples a chroma sample covers (1 x 1: none subsampled)
    Resolution resolution;            // the JFIF header's density
    std::vector<JpegSegment> segments;  // written after the JFIF header, in order
};

// Receives the file's bytes in order; answers false when they could not be
// written.
using JpegSink = std::function<bool(const uint8_t *bytes, size_t size)>;

// Writes a grey or RGB document; a 16-bit one is rounded to 8 bits a sample
// (Convert16To8).
// A document with transparency or of another mode is refused (JPEG holds
// neither), as is a write the sink refused: false, *error saying why.
bool WriteJpeg(const Document &document, const JpegWriteOptions &options, const JpegSink &sink,
               std::string *error);
