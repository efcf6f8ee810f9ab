// Reads the common kinds of PNG file straight into a document: grey, grey
// with alpha, RGB and RGB with alpha, 8 or 16 bits per sample, not
// interlaced. Other kinds (palettes, fewer than 8 bits, interlacing) are
// left to the platform's decoder. Every length, size and checksum in the
// file is checked: a damaged file is refused, never read past.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "host/core/Document.h"

enum class PngRead {
    Read,      // *document holds the image
    NotPng,    // the bytes do not start with the PNG signature
    OtherKind, // a PNG this reader leaves to the platform's decoder
    Damaged,   // a PNG that cannot be read; *error says why
};

// True when the bytes begin with the PNG signature (8 bytes).
bool LooksLikePng(const uint8_t *bytes, size_t size);

// Grey with alpha is read as grey (the alpha dropped), RGB with alpha as RGB
// with a transparency plane, as the host's other decoder reads them.
// `maxSide` bounds each side of the image. With more than one thread, a
// large image's rows are unfiltered and stored on a second thread while
// this one inflates the next ones; the answers are the same.
// When no thread can be started, everything is read on this one. `*way`,
// when given, says how the image data was read.
enum class PngReadWay {
    OneThread,   // inflated, unfiltered and stored on this thread
    Overlapped,  // inflated here, unfiltered and stored on a second thread
    Pieces,      // a file written in pieces: the pieces inflated at once
};
PngRead ReadPng(const uint8_t *bytes, size_t size, Document *document, std::string *error,
                uint32_t maxSide = 30000, int threads = 1, PngReadWay *way = nullptr);
