// Writes a document as a PNG file: grey or RGB, 8 or 16 bits per sample as
// the document holds them, lossless. Built for speed on large photographs:
// each row is filtered with Sub (each byte less the one a pixel to its left,
// which costs one subtraction and serves photographs well), and zlib deflates
// at its fastest level; the file stays an ordinary PNG that every reader
// takes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "host/core/Document.h"
#include "host/core/Metadata.h"

// The chunk in which a file written in pieces lists them: their count, then
// for each the offset in the zlib stream where its raw deflate data begins
// and its first row, then the offset where the last one ends (the stream's
// Adler-32 follows), each a big-endian 32-bit number. Its name makes it
// ancillary, private and unsafe to copy (it describes the image data).
inline constexpr char kPieceIndex[5] = "zpIX";

// The Adler-32 of two runs of bytes one after the other, from the first's
// checksum, the second's and the second's length, whatever that length
// (pieces of 2 GB and more included, on every platform).
uint32_t CombineAdler(uint32_t first, uint32_t second, uint64_t secondLength);

// Receives the file's bytes in order; answers false to stop the writing.
using ByteSink = std::function<bool(const uint8_t *bytes, size_t size)>;

// Grey (one plane), RGB (the first three planes) or, for a document with
// transparency, RGBA (the fourth plane its alpha). False, with *error saying why, when the document cannot
// be written or the sink refuses. With more than one thread, large images
// are deflated in pieces of rows, one per thread, joined into the file's one
// stream; the pixels read back are the same, the file a little larger.
// `pieceBytes` is the least image data (filtered rows) in one piece.
// `chunks` (metadata) are written after the header, before the image data.
bool WritePng(const Document &document, const ByteSink &sink, std::string *error, int threads = 1,
              size_t pieceBytes = size_t(1) << 20, const std::vector<PngChunk> &chunks = {});
