// JPEG files, read through libjpeg-turbo with its default decoding (the
// accurate integer inverse DCT, fancy upsampling): the same pixels as
// libjpeg-turbo's own djpeg gives. Grey files give grey documents, YCbCr and
// RGB ones RGB, CMYK and YCCK ones CMYK (as the file stores them).
//
// A file that ends before its image does is refused, not filled with grey;
// so is one whose data is too short to code its declared image (every block
// of a Huffman-coded file costs at least a bit, and two in a sequential
// one), before the image is allocated.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "host/core/Document.h"
#include "host/core/ImageRead.h"

// True when the bytes begin with a JPEG's start-of-image marker (3 bytes).
bool LooksLikeJpeg(const uint8_t *bytes, size_t size);

// `maxSide` bounds each side of the image.
ImageRead ReadJpeg(const uint8_t *bytes, size_t size, Document *document, std::string *error,
                   uint32_t maxSide = 30000);
