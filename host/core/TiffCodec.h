// TIFF files, read and written through libtiff.
//
// Read: one image (a file of several pages is refused), in strips or tiles,
// chunky or planar-separate, either byte order, uncompressed, LZW, Deflate,
// PackBits, JPEG or fax-coded, with or without a predictor; grey (with or
// without alpha; the alpha is dropped, as for PNG), RGB, RGB with alpha (a
// transparency plane), CMYK, palette; 8- or 16-bit samples, and 1, 2 and 4
// bits for grey and palette images. 16-bit samples are converted to the
// host's 0..32768 range; palettes and fewer bits give 8-bit documents,
// palette and bilevel images RGB ones.
//
// Before the image is allocated, each strip or tile must be able to give the
// bytes it is declared to hold: uncompressed data present in full, compressed
// data at most the coding's greatest ratio smaller; a file whose data cannot
// hold its declared image is refused without costing its memory.
#pragma once

#include <cstdint>
#include <string>

#include "host/core/ByteStreams.h"
#include "host/core/Document.h"
#include "host/core/ImageRead.h"
#include "host/core/Metadata.h"

// True when the bytes begin as a TIFF or BigTIFF file does (4 bytes).
bool LooksLikeTiff(const uint8_t *bytes, size_t size);

// `maxSide` bounds each side of the image. With `metadata`, the colour
// profile, XMP, resolution and orientation are read into it.
ImageRead ReadTiff(SeekableSource &file, Document *document, std::string *error, uint32_t maxSide = 30000,
                   ImageMetadata *metadata = nullptr);

// Writes the document's colour planes (grey, RGB or CMYK), and an RGB
// document's transparency as unassociated alpha, at its depth,
// Deflate-compressed with the horizontal predictor, in strips; a BigTIFF
// when the image could pass 4 GB. False, with *error saying why, when the
// sink refused a write or the encoder failed. With `metadata`, its colour
// profile, XMP, resolution and orientation (a TIFF's own, or the EXIF's)
// are written too, and what a TIFF file has no place for is added to
// `dropped`.
bool WriteTiff(const Document &document, SeekableSink &file, std::string *error,
               const ImageMetadata *metadata = nullptr, std::vector<std::string> *dropped = nullptr);
