// The answer of the host's TIFF and JPEG readers.
#pragma once

enum class ImageRead {
    Read,        // *document holds the image
    NotThisKind, // the bytes are not of the reader's format
    Refused,     // a file of the format that is not read; *error says what it is and why
};
