// Reads and writes PNG, TIFF and JPEG files, 8 or 16 bits per sample (JPEG
// 8): PNG through the host's own reader and writer (the platform's imaging
// component reads the rarer kinds of PNG), TIFF through libtiff, JPEG
// through libjpeg-turbo; with each, the file's metadata (colour profile,
// EXIF, XMP, text, resolution), read and written by the host itself. Paths
// are UTF-8; files are opened by their wide names.
#pragma once

#include <string>
#include <vector>

#include "host/core/Document.h"
#include "host/core/Metadata.h"

namespace files {
class OutputFile;
}

// Loads an RGB (or grey) PNG, TIFF or JPEG image; 16-bit files are converted
// to the host's 0..32768 range. A file with alpha gives a fourth,
// transparency plane. With `metadata`, what the file holds beside its
// pixels is read into it; what could not be read is named in its `dropped`.
bool LoadImageFile(const std::string &path, Document *document, std::string *error,
                   ImageMetadata *metadata = nullptr);

struct ImageWriteOptions {
    // Written into the file as far as its format holds it.
    const ImageMetadata *metadata = nullptr;
    // A JPEG's quality, 1..100; 0: the input JPEG's own, else 95.
    int jpegQuality = 0;
};

// True when the host writes files of the name's extension (.png, .tif,
// .tiff, .jpg, .jpeg, in any case).
bool WritableImageName(const std::string &path);

// Writes the document's colour planes, and its transparency where it has one,
// at its depth (a JPEG at 8 bits, rounded); the format follows the
// extension. Every write is checked, and a file that failed is removed.
// `notes`, when given, receives what the output could not keep, in words.
bool SaveImageFile(const std::string &path, const Document &document, std::string *error,
                   const ImageWriteOptions &options = {}, std::vector<std::string> *notes = nullptr);
// Encodes the document into a file created for it (`path` gives the format
// and the name in messages); the file's own checks (files::OutputFile) say
// whether every byte reached the disk.
bool WriteImageFile(files::OutputFile &file, const std::string &path, const Document &document, std::string *error,
                    const ImageWriteOptions &options = {}, std::vector<std::string> *notes = nullptr);
