// What an image file holds beside its pixels, read from a PNG, JPEG or TIFF
// file and written into the filtered result, whatever its format: the
// colour profile, EXIF, XMP, text and the resolution. The filter changes
// only the pixels' values, never their number or order, so all of it stays
// true, except an EXIF thumbnail (a small copy of the unfiltered picture),
// which is dropped.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// The physical size of a pixel. PNG counts pixels a metre, TIFF and JFIF a
// inch or a centimetre; a unit of None gives only the pixels' aspect.
struct Resolution {
    enum class Unit { Unknown, None, Inch, Centimetre, Metre };
    Unit unit = Unit::Unknown;  // Unknown: the file said nothing
    double x = 0, y = 0;        // pixels a unit
};

// The resolution in a unit of inches or centimetres, for the formats that
// count in those (TIFF, JFIF): pixels a metre become pixels an inch when
// that is a whole number (a PNG of 300 dpi holds 11811 a metre), else pixels
// a centimetre. Other units are as they were.
Resolution InInchesOrCentimetres(const Resolution &r);

// A chunk of a PNG file as it stood (type and data).
struct PngChunk {
    std::string type;
    std::vector<uint8_t> data;
};

// A JPEG marker segment as it stood: its marker (0xE0..0xEF for APPn, 0xFE
// for a comment) and its data, without the length.
struct JpegSegment {
    uint8_t marker = 0;
    std::vector<uint8_t> data;
};

struct ImageMetadata {
    // The embedded ICC profile, byte for byte, and, from a PNG, the name its
    // iCCP chunk gave it.
    std::vector<uint8_t> icc;
    std::string iccName;
    // EXIF as a TIFF-structured block ("II*\0" or "MM\0*" first), as a
    // JPEG's APP1 and a PNG's eXIf hold it.
    std::vector<uint8_t> exif;
    // The XMP packet.
    std::vector<uint8_t> xmp;
    // A PNG's colour chunks (sRGB, gAMA, cHRM, cICP) and text chunks (tEXt,
    // zTXt, iTXt other than XMP), each as it stood.
    std::vector<PngChunk> pngColour;
    std::vector<PngChunk> pngText;
    // A JPEG's segments that only a JPEG holds (comments, Photoshop's and
    // IPTC's APP13, the extended XMP), each as it stood.
    std::vector<JpegSegment> jpegSegments;
    Resolution resolution;
    // A TIFF's orientation tag (1..8), 0 when the file is not a TIFF or
    // has none.
    int tiffOrientation = 0;

    // From a JPEG: the quality its quantisation tables were made with (0
    // when not a JPEG or not known), and how many luma samples, across and
    // down, each chroma sample covers (1 x 1: none subsampled).
    int jpegQuality = 0;
    int chromaAcross = 1, chromaDown = 1;

    // What was in the file and could not be kept, and why: "the EXIF
    // thumbnail (it shows the unfiltered picture)", ... Each says it whole.
    std::vector<std::string> dropped;

    bool Empty() const
    {
        return icc.empty() && exif.empty() && xmp.empty() && pngColour.empty() && pngText.empty() &&
               jpegSegments.empty() && resolution.unit == Resolution::Unit::Unknown;
    }
};

// ---- Readers: each walks a whole file's bytes (or a block of them); what
// is damaged is left out and named in `dropped`, never read past.

// The chunks of a PNG file (signature first).
void ReadPngMetadata(const uint8_t *bytes, size_t size, ImageMetadata *metadata);

// The segments of a JPEG file before its first scan, and its quality and
// chroma subsampling.
void ReadJpegMetadata(const uint8_t *bytes, size_t size, ImageMetadata *metadata);

// ---- The EXIF block.

// What an EXIF block holds, as far as the host needs it.
struct ExifSummary {
    bool valid = false;         // the header and the first directory hold together
    bool bigEndian = false;
    int orientation = 0;        // tag 274, 0 when absent
    bool hasThumbnail = false;  // a second directory (IFD1)
    bool hasGps = false;        // a GPS directory
};
ExifSummary SummariseExif(const uint8_t *block, size_t size);

// Drops the thumbnail directory (IFD1) and, where they end the block, its
// bytes; every other byte and offset stays as it was. False, the block as
// it was, when its header or first directory do not hold together.
bool DropExifThumbnail(std::vector<uint8_t> *block);

// One entry of an EXIF directory, its values decoded: text for ASCII, bytes
// for BYTE, SBYTE and UNDEFINED, numbers for the rest (a rational as its
// quotient).
struct ExifEntry {
    uint16_t tag = 0;
    uint16_t type = 0;  // TIFF's field type, 1..12
    uint32_t count = 0;
    std::string text;
    std::vector<uint8_t> bytes;
    std::vector<double> numbers;
};

// The entries of the first directory (but the pointers to other
// directories) and of the EXIF directory, each whose value lies in the
// block; false when the block does not hold together.
bool ReadExifEntries(const uint8_t *block, size_t size, std::vector<ExifEntry> *first,
                     std::vector<ExifEntry> *exif);

// A little-endian EXIF block of the two directories' entries (sorted by
// tag), the EXIF directory pointed to from the first when it has any.
std::vector<uint8_t> BuildExifBlock(std::vector<ExifEntry> first, std::vector<ExifEntry> exif);

// ---- Writing: what each output format holds of the metadata. Each call
// adds to `dropped` what the format has no place for.

// The chunks a PNG file carries, in the order they go before its image
// data: iCCP, the colour chunks, pHYs, eXIf, XMP's iTXt, the text chunks.
std::vector<PngChunk> PngChunksFor(const ImageMetadata &metadata, std::vector<std::string> *dropped);

// The segments a JPEG file carries after its JFIF header: EXIF's APP1, XMP's
// APP1, the profile's APP2 segments, then the JPEG-only segments.
std::vector<JpegSegment> JpegSegmentsFor(const ImageMetadata &metadata, std::vector<std::string> *dropped);

// ---- JPEG quality.

// The quality (1..100) whose standard tables, scaled as the common encoders
// scale them, come nearest the file's; `chroma` may be null. Tables are in
// natural (row-major) order.
int EstimateJpegQuality(const uint16_t luma[64], const uint16_t *chroma);

// The standard tables scaled to `quality`, in natural order.
void ScaledJpegTable(int quality, bool chroma, uint16_t table[64]);
