// Reads PNG, TIFF and JPEG files and writes PNG and TIFF files, 8 or 16 bits
// per sample: PNG through the host's own reader and writer (the platform's
// imaging component reads the rarer kinds of PNG), TIFF through libtiff, JPEG
// through libjpeg-turbo. Paths are UTF-8; files are opened by their wide
// names.
#pragma once

#include <string>

#include "host/core/Document.h"

namespace files {
class OutputFile;
}

// Loads an RGB (or grey) PNG, TIFF or JPEG image; 16-bit files are converted
// to the host's 0..32768 range. A file with alpha gives a fourth,
// transparency plane.
bool LoadImageFile(const std::string &path, Document *document, std::string *error);

// Writes the document's colour planes, and its transparency where it has one,
// at its depth; the format follows the extension (.png, .tif, .tiff). Every
// write is checked, and a file that failed is removed.
bool SaveImageFile(const std::string &path, const Document &document, std::string *error);
// Encodes the document into a file created for it (`path` gives the format
// and the name in messages); the file's own checks (files::OutputFile) say
// whether every byte reached the disk.
bool WriteImageFile(files::OutputFile &file, const std::string &path, const Document &document, std::string *error);
