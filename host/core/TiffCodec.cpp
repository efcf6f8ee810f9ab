#include "host/core/TiffCodec.h"

#include <tiffio.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <iterator>
#include <cstdarg>
#include <cstdio>
#include <memory>
#include <new>
#include <vector>

namespace {

// One file's bytes and messages, for libtiff's client procedures.
struct TiffClient {
    SeekableSource *source = nullptr;
    SeekableSink *sink = nullptr;
    uint64_t position = 0;
    std::string firstError;
    bool sinkFailed = false;
};

tmsize_t ReadProc(thandle_t handle, void *into, tmsize_t size)
{
    auto *client = static_cast<TiffClient *>(handle);
    if (client->source == nullptr || size <= 0)
        return 0;
    const size_t got = client->source->ReadAt(client->position, into, size_t(size));
    client->position += got;
    return tmsize_t(got);
}

tmsize_t WriteProc(thandle_t handle, void *bytes, tmsize_t size)
{
    auto *client = static_cast<TiffClient *>(handle);
    if (client->sink == nullptr || size < 0 || client->sinkFailed)
        return -1;
    if (!client->sink->WriteAt(client->position, bytes, size_t(size))) {
        client->sinkFailed = true;
        return -1;
    }
    client->position += uint64_t(size);
    return size;
}

toff_t SizeProc(thandle_t handle)
{
    auto *client = static_cast<TiffClient *>(handle);
    return client->source != nullptr ? client->source->Size() : client->sink->Size();
}

// Offsets are unsigned: a step back arrives as its two's complement, and the
// sum wraps to the right place.
toff_t SeekProc(thandle_t handle, toff_t offset, int whence)
{
    auto *client = static_cast<TiffClient *>(handle);
    const uint64_t base = whence == SEEK_CUR ? client->position : whence == SEEK_END ? SizeProc(handle) : 0;
    client->position = base + offset;
    return client->position;
}

int CloseProc(thandle_t) { return 0; }
int MapProc(thandle_t, void **, toff_t *) { return 0; }
void UnmapProc(thandle_t, void *, toff_t) {}

int OnError(TIFF *, void *user, const char *module, const char *format, va_list args)
{
    auto *client = static_cast<TiffClient *>(user);
    if (client->firstError.empty()) {
        char text[512];
        std::vsnprintf(text, sizeof text, format, args);
        client->firstError = text;
    }
    return 1;  // handled: nothing on the console
}

int OnWarning(TIFF *, void *, const char *, const char *, va_list) { return 1; }

struct TiffCloser {
    void operator()(TIFF *tiff) const { TIFFClose(tiff); }
};
using TiffHandle = std::unique_ptr<TIFF, TiffCloser>;

struct OptionsFree {
    void operator()(TIFFOpenOptions *options) const { TIFFOpenOptionsFree(options); }
};

TiffHandle Open(TiffClient *client, const char *mode)
{
    std::unique_ptr<TIFFOpenOptions, OptionsFree> options(TIFFOpenOptionsAlloc());
    if (!options)
        return nullptr;
    TIFFOpenOptionsSetErrorHandlerExtR(options.get(), OnError, client);
    TIFFOpenOptionsSetWarningHandlerExtR(options.get(), OnWarning, client);
    return TiffHandle(TIFFClientOpenExt("image", mode, client, ReadProc, WriteProc, SeekProc, CloseProc,
                                        SizeProc, MapProc, UnmapProc, options.get()));
}

ImageRead Refuse(std::string *error, const std::string &why)
{
    if (error != nullptr)
        *error = why;
    return ImageRead::Refused;
}

std::string PhotometricName(uint16_t photometric)
{
    switch (photometric) {
    case PHOTOMETRIC_MINISWHITE: return "grey (white is zero)";
    case PHOTOMETRIC_MINISBLACK: return "grey";
    case PHOTOMETRIC_RGB: return "RGB";
    case PHOTOMETRIC_PALETTE: return "palette";
    case PHOTOMETRIC_MASK: return "transparency mask";
    case PHOTOMETRIC_SEPARATED: return "separated";
    case PHOTOMETRIC_YCBCR: return "YCbCr";
    case PHOTOMETRIC_CIELAB: return "CIE L*a*b*";
    case PHOTOMETRIC_ICCLAB: return "ICC L*a*b*";
    case PHOTOMETRIC_ITULAB: return "ITU L*a*b*";
    case PHOTOMETRIC_CFA: return "colour filter array (raw sensor)";
    case PHOTOMETRIC_LOGL: return "LogL";
    case PHOTOMETRIC_LOGLUV: return "LogLuv";
    default: return "photometric " + std::to_string(photometric);
    }
}

std::string SampleName(uint16_t format, uint16_t bits)
{
    const std::string size = std::to_string(bits) + "-bit";
    switch (format) {
    case SAMPLEFORMAT_IEEEFP: return size + " float";
    case SAMPLEFORMAT_INT: return size + " signed integer";
    case SAMPLEFORMAT_COMPLEXINT: return size + " complex integer";
    case SAMPLEFORMAT_COMPLEXIEEEFP: return size + " complex float";
    default: return size;
    }
}

std::string CompressionName(uint16_t compression)
{
    switch (compression) {
    case COMPRESSION_OJPEG: return "old-style JPEG";
    case COMPRESSION_JBIG: return "JBIG";
    case COMPRESSION_LZMA: return "LZMA";
    case COMPRESSION_ZSTD: return "Zstandard";
    case COMPRESSION_WEBP: return "WebP";
    case COMPRESSION_JXL: return "JPEG XL";
    case COMPRESSION_LERC: return "LERC";
    case COMPRESSION_PIXARLOG: return "PixarLog";
    case COMPRESSION_SGILOG:
    case COMPRESSION_SGILOG24: return "SGI LogLuv";
    default: {
        const TIFFCodec *codec = TIFFFindCODEC(compression);
        return codec != nullptr ? std::string(codec->name) : "an unknown coding";
    }
    }
}

// How many bytes of image, at most, one byte of a coding can give; 0 for a
// coding this reader does not take. `rowBytes` is a row's decoded bytes.
uint64_t GreatestRatio(uint16_t compression, uint64_t rowBytes)
{
    switch (compression) {
    case COMPRESSION_NONE: return 1;
    // A run of 128 equal bytes in 2.
    case COMPRESSION_PACKBITS: return 64;
    // A code of at least 9 bits gives at most a string of 4096 bytes.
    case COMPRESSION_LZW: return 3641;
    // Deflate's longest match, 258 bytes, in about 2 bits.
    case COMPRESSION_ADOBE_DEFLATE:
    case COMPRESSION_DEFLATE: return 1032;
    // Every 8 x 8 block of samples costs at least a bit (counted in the
    // luminance's samples only, see NeededBytes).
    case COMPRESSION_JPEG: return 512;
    // A fax-coded row costs at least a bit.
    case COMPRESSION_CCITTRLE:
    case COMPRESSION_CCITTRLEW:
    case COMPRESSION_CCITTFAX3:
    case COMPRESSION_CCITTFAX4: return 8 * std::max<uint64_t>(rowBytes, 1);
    default: return 0;
    }
}

struct Layout {
    uint32_t width = 0, height = 0;
    uint16_t bits = 1, samples = 1, format = SAMPLEFORMAT_UINT, photometric = PHOTOMETRIC_MINISBLACK;
    uint16_t planar = PLANARCONFIG_CONTIG, compression = COMPRESSION_NONE;
    bool tiled = false;
    uint32_t tileWidth = 0, tileHeight = 0, rowsPerStrip = 0;
    int colours = 1;       // colour samples of a pixel
    bool alpha = false;    // the sample after the colours is kept as transparency
    bool associated = false;
    bool minIsWhite = false;

    std::string What() const
    {
        return "a TIFF with " + std::string(planar == PLANARCONFIG_SEPARATE ? "planar-separate " : "chunky ") +
               SampleName(format, bits) + " samples";
    }
    // Samples of a pixel in one strip or tile.
    uint16_t ChunkSamples() const { return planar == PLANARCONFIG_SEPARATE ? 1 : samples; }
    uint64_t RowBytes(uint32_t pixels) const
    {
        return (uint64_t(pixels) * ChunkSamples() * bits + 7) / 8;
    }
    // The bytes a strip or tile of `pixels` x `rows` must give: for JPEG, a
    // byte a pixel (its luminance, whatever the subsampling of the rest).
    uint64_t NeededBytes(uint32_t pixels, uint32_t rows) const
    {
        return compression == COMPRESSION_JPEG ? uint64_t(pixels) * rows : RowBytes(pixels) * rows;
    }
};

// The checks made before the image is allocated: every strip or tile is in
// the file, and can give what it must.
bool DataCanHoldImage(TIFF *tiff, const Layout &l, uint64_t fileSize, std::string *why)
{
    const uint32_t planes = l.planar == PLANARCONFIG_SEPARATE ? l.samples : 1;
    uint64_t perPlane = 0, chunkPixels = 0, chunkRows = 0;
    const char *kind = l.tiled ? "tile" : "strip";
    if (l.tiled) {
        if (l.tileWidth == 0 || l.tileHeight == 0)
            return *why = "its tiles have no size", false;
        perPlane = uint64_t((l.width + l.tileWidth - 1) / l.tileWidth) * ((l.height + l.tileHeight - 1) / l.tileHeight);
        chunkPixels = l.tileWidth;
        chunkRows = l.tileHeight;
    } else {
        const uint32_t rows = std::max<uint32_t>(1, std::min(l.rowsPerStrip, l.height));
        perPlane = (uint64_t(l.height) + rows - 1) / rows;
        chunkPixels = l.width;
        chunkRows = rows;
    }
    const uint64_t chunks = perPlane * planes;
    const uint64_t present = l.tiled ? TIFFNumberOfTiles(tiff) : TIFFNumberOfStrips(tiff);
    if (present < chunks)
        return *why = "it holds " + std::to_string(present) + " " + kind + "s where its image needs " +
                      std::to_string(chunks) + " (the file is damaged)",
               false;
    const uint64_t ratio = GreatestRatio(l.compression, l.RowBytes(uint32_t(chunkPixels)));
    const std::string coding = l.compression == COMPRESSION_NONE ? "uncompressed" : CompressionName(l.compression);
    uint64_t total = 0;
    for (uint64_t i = 0; i < chunks; ++i) {
        uint64_t rows = chunkRows;
        if (!l.tiled) {
            const uint64_t first = (i % perPlane) * chunkRows;
            rows = std::min<uint64_t>(chunkRows, l.height - first);
        }
        const uint64_t need = l.NeededBytes(uint32_t(chunkPixels), uint32_t(rows));
        const uint64_t offset = TIFFGetStrileOffset(tiff, uint32_t(i));
        const uint64_t count = TIFFGetStrileByteCount(tiff, uint32_t(i));
        const std::string which = kind + std::string(" ") + std::to_string(i + 1) + " of " + std::to_string(chunks);
        if (offset > fileSize || count > fileSize - offset)
            return *why = "its data cannot hold the " + std::to_string(l.width) + " x " + std::to_string(l.height) +
                          " image it declares: " + which +
                          " lies past the end of the file (the file is truncated or damaged)",
                   false;
        if (count == 0)
            return *why = "its " + which + " has no data (the file is damaged)", false;
        const bool short_ = l.compression == COMPRESSION_NONE ? count < need : count * ratio < need;
        if (short_)
            return *why = "its data cannot hold the " + std::to_string(l.width) + " x " + std::to_string(l.height) +
                          " image it declares: " + which + " has " + std::to_string(count) + " bytes of " +
                          coding + " data for " + std::to_string(need) + " bytes of image",
                   false;
        total += need;
    }
    // Strips that share their data cannot make a small file hold more.
    if (l.compression != COMPRESSION_NONE && total > fileSize * ratio + 1024)
        return *why = "its data cannot hold the " + std::to_string(l.width) + " x " + std::to_string(l.height) +
                      " image it declares: " + std::to_string(fileSize) + " bytes of " + coding +
                      " data for " + std::to_string(total) + " bytes of image",
               false;
    return true;
}

// The value of sample `index` of a row of `bits`-bit samples (16-bit ones
// in the machine's order, as libtiff gives them).
inline uint32_t SampleAt(const uint8_t *row, uint64_t index, uint16_t bits)
{
    switch (bits) {
    case 8: return row[index];
    case 16: {
        uint16_t v;
        std::memcpy(&v, row + index * 2, 2);
        return v;
    }
    default: {
        const uint64_t bit = index * bits;
        const unsigned shift = unsigned(8 - bits - bit % 8);
        return (row[bit / 8] >> shift) & ((1u << bits) - 1u);
    }
    }
}

struct Palette {
    std::vector<uint16_t> red, green, blue;  // 8-bit values
};

// Stores `count` pixels of a decoded row, starting at (x, y), from sample
// `first` of each pixel (`step` samples apart), into the document's plane
// `plane` (for a palette, planes 0..2).
void StoreRow(const Layout &l, const Palette &palette, const uint8_t *row, uint32_t count, uint32_t first,
              uint32_t step, Document *d, int32_t plane, uint32_t x, uint32_t y)
{
    const uint32_t top = (1u << l.bits) - 1u;
    if (l.photometric == PHOTOMETRIC_PALETTE) {
        uint16_t *r = &d->At(0, int32_t(x), int32_t(y)), *g = &d->At(1, int32_t(x), int32_t(y)),
                 *b = &d->At(2, int32_t(x), int32_t(y));
        for (uint32_t i = 0; i < count; ++i) {
            const uint32_t index = SampleAt(row, uint64_t(i) * step + first, l.bits);
            r[i] = palette.red[index];
            g[i] = palette.green[index];
            b[i] = palette.blue[index];
        }
        return;
    }
    uint16_t *to = &d->At(plane, int32_t(x), int32_t(y));
    const bool invert = l.minIsWhite && plane < l.colours;
    for (uint32_t i = 0; i < count; ++i) {
        uint32_t v = SampleAt(row, uint64_t(i) * step + first, l.bits);
        if (invert)
            v = top - v;
        to[i] = l.bits == 16 ? FileToHost16(uint16_t(v)) : l.bits == 8 ? uint16_t(v) : uint16_t(v * 255u / top);
    }
}

// Colours stored multiplied by their alpha are divided by it.
void Unassociate(Document *d, int colours)
{
    const uint32_t max = uint32_t(d->MaxSample());
    const std::vector<uint16_t> &alpha = d->planes[size_t(colours)];
    for (int c = 0; c < colours; ++c)
        for (size_t i = 0; i < alpha.size(); ++i) {
            uint16_t &v = d->planes[size_t(c)][i];
            const uint32_t a = alpha[i];
            v = a == 0 ? 0 : uint16_t(std::min(max, (uint32_t(v) * max + a / 2) / a));
        }
}

ImageRead Describe(TIFF *tiff, Layout *l, std::string *error, uint32_t maxSide)
{
    TIFFGetField(tiff, TIFFTAG_IMAGEWIDTH, &l->width);
    TIFFGetField(tiff, TIFFTAG_IMAGELENGTH, &l->height);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_BITSPERSAMPLE, &l->bits);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_SAMPLESPERPIXEL, &l->samples);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_SAMPLEFORMAT, &l->format);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_PLANARCONFIG, &l->planar);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_COMPRESSION, &l->compression);
    if (!TIFFGetField(tiff, TIFFTAG_PHOTOMETRIC, &l->photometric))
        l->photometric = l->samples >= 3 ? PHOTOMETRIC_RGB : PHOTOMETRIC_MINISBLACK;
    l->tiled = TIFFIsTiled(tiff) != 0;
    if (l->tiled) {
        TIFFGetField(tiff, TIFFTAG_TILEWIDTH, &l->tileWidth);
        TIFFGetField(tiff, TIFFTAG_TILELENGTH, &l->tileHeight);
    } else {
        TIFFGetFieldDefaulted(tiff, TIFFTAG_ROWSPERSTRIP, &l->rowsPerStrip);
    }

    if (l->width == 0 || l->height == 0 || l->width > maxSide || l->height > maxSide)
        return Refuse(error, "its size, " + std::to_string(l->width) + " x " + std::to_string(l->height) +
                                 ", is not one the host opens (1 to " + std::to_string(maxSide) +
                                 " pixels a side)");
    const bool integer = l->format == SAMPLEFORMAT_UINT || l->format == SAMPLEFORMAT_VOID;
    switch (l->photometric) {
    case PHOTOMETRIC_MINISWHITE:
    case PHOTOMETRIC_MINISBLACK:
        l->colours = 1;
        l->minIsWhite = l->photometric == PHOTOMETRIC_MINISWHITE;
        break;
    case PHOTOMETRIC_PALETTE:
        l->colours = 1;
        break;
    case PHOTOMETRIC_RGB:
        l->colours = 3;
        break;
    case PHOTOMETRIC_YCBCR:
        if (l->compression != COMPRESSION_JPEG)
            return Refuse(error, "it is a TIFF in YCbCr colour that is not JPEG-compressed; the host reads YCbCr "
                                 "only in JPEG-compressed TIFFs");
        l->colours = 3;
        break;
    case PHOTOMETRIC_SEPARATED: {
        uint16_t inks = INKSET_CMYK;
        TIFFGetFieldDefaulted(tiff, TIFFTAG_INKSET, &inks);
        if (inks != INKSET_CMYK || l->samples < 4)
            return Refuse(error, "it is a TIFF separated into inks other than CMYK; the host reads grey, RGB, "
                                 "CMYK and palette images");
        l->colours = 4;
        break;
    }
    default:
        return Refuse(error, "it is a TIFF in " + PhotometricName(l->photometric) +
                                 " colour; the host reads grey, RGB, CMYK and palette images");
    }
    const bool fewBits = (l->bits == 1 || l->bits == 2 || l->bits == 4) && l->colours == 1 && l->samples == 1;
    const bool paletteBits = l->photometric != PHOTOMETRIC_PALETTE || l->bits <= 8;
    if (!integer || !(l->bits == 8 || l->bits == 16 || fewBits) || !paletteBits)
        return Refuse(error, "it is " + l->What() +
                                 "; the host reads 8- and 16-bit integer samples (and 1, 2 or 4 bits in grey and "
                                 "palette images)");
    if (l->samples < l->colours)
        return Refuse(error, "it is a TIFF in " + PhotometricName(l->photometric) + " colour with " +
                                 std::to_string(l->samples) + " sample(s) a pixel, too few for its colours");
    if (GreatestRatio(l->compression, 1) == 0 || !TIFFIsCODECConfigured(l->compression))
        return Refuse(error, "it is a TIFF compressed with " + CompressionName(l->compression) + " (compression " +
                                 std::to_string(l->compression) + "), which the host does not decode");
    if (l->compression == COMPRESSION_JPEG && l->bits != 8)
        return Refuse(error, "it is a JPEG-compressed TIFF with " + std::to_string(l->bits) +
                                 "-bit samples; the host decodes 8-bit JPEG data");
    // The sample after RGB's colours is kept when it is an alpha; other
    // extra samples are left out, and a grey image's alpha is dropped.
    uint16_t extraCount = 0;
    uint16_t *extra = nullptr;
    TIFFGetFieldDefaulted(tiff, TIFFTAG_EXTRASAMPLES, &extraCount, &extra);
    if (l->colours == 3 && l->samples > 3 && extraCount > 0 && extra != nullptr &&
        (extra[0] == EXTRASAMPLE_ASSOCALPHA || extra[0] == EXTRASAMPLE_UNASSALPHA)) {
        l->alpha = true;
        l->associated = extra[0] == EXTRASAMPLE_ASSOCALPHA;
    }
    return ImageRead::Read;
}

} // namespace

bool LooksLikeTiff(const uint8_t *bytes, size_t size)
{
    if (size < 4)
        return false;
    return (bytes[0] == 'I' && bytes[1] == 'I' && (bytes[2] == 42 || bytes[2] == 43) && bytes[3] == 0) ||
           (bytes[0] == 'M' && bytes[1] == 'M' && bytes[2] == 0 && (bytes[3] == 42 || bytes[3] == 43));
}

namespace {

// The first directory's tags that EXIF keeps there too: the description,
// the camera, the software, the date, the artist and the copyright.
const uint16_t kCameraTags[] = {270, 271, 272, 305, 306, 315, 33432};

bool Floating(TIFFDataType type)
{
    return type == TIFF_RATIONAL || type == TIFF_SRATIONAL || type == TIFF_FLOAT || type == TIFF_DOUBLE;
}

bool Signed(TIFFDataType type)
{
    return type == TIFF_SBYTE || type == TIFF_SSHORT || type == TIFF_SLONG || type == TIFF_SLONG8;
}

// `count` values as libtiff stores them for the field, into the entry.
void TakeValues(const TIFFField *field, const void *values, uint32_t count, ExifEntry *e)
{
    const TIFFDataType type = TIFFFieldDataType(field);
    const int size = TIFFFieldSetGetSize(field);
    e->type = uint16_t(type);
    e->count = count;
    const uint8_t *p = static_cast<const uint8_t *>(values);
    if (type == TIFF_ASCII) {
        e->text.assign(reinterpret_cast<const char *>(p), strnlen(reinterpret_cast<const char *>(p), count));
        e->count = uint32_t(e->text.size() + 1);
        return;
    }
    for (uint32_t i = 0; i < count; ++i, p += size) {
        if (type == TIFF_BYTE || type == TIFF_SBYTE || type == TIFF_UNDEFINED) {
            e->bytes.push_back(*p);
        } else if (Floating(type) && size == 4) {
            float f;
            std::memcpy(&f, p, 4);
            e->numbers.push_back(f);
        } else if (Floating(type) && size == 8) {
            double d;
            std::memcpy(&d, p, 8);
            e->numbers.push_back(d);
        } else if (size == 2) {
            uint16_t v;
            std::memcpy(&v, p, 2);
            e->numbers.push_back(Signed(type) ? double(int16_t(v)) : double(v));
        } else if (size == 4) {
            uint32_t v;
            std::memcpy(&v, p, 4);
            e->numbers.push_back(Signed(type) ? double(int32_t(v)) : double(v));
        } else if (size == 8) {
            uint64_t v;
            std::memcpy(&v, p, 8);
            e->numbers.push_back(double(v));
        }
    }
}

// The current directory's value of a field libtiff knows, into an entry.
bool GetEntry(TIFF *tiff, const TIFFField *field, ExifEntry *e)
{
    e->tag = uint16_t(TIFFFieldTag(field));
    if (TIFFFieldPassCount(field)) {
        void *values = nullptr;
        if (TIFFFieldReadCount(field) == TIFF_VARIABLE2) {
            uint32_t count = 0;
            if (!TIFFGetField(tiff, e->tag, &count, &values) || values == nullptr)
                return false;
            TakeValues(field, values, count, e);
        } else {
            uint16_t count = 0;
            if (!TIFFGetField(tiff, e->tag, &count, &values) || values == nullptr)
                return false;
            TakeValues(field, values, count, e);
        }
        return true;
    }
    const int readCount = TIFFFieldReadCount(field);
    if (TIFFFieldDataType(field) == TIFF_ASCII) {
        char *text = nullptr;
        if (!TIFFGetField(tiff, e->tag, &text) || text == nullptr)
            return false;
        TakeValues(field, text, uint32_t(strlen(text) + 1), e);
        return true;
    }
    if (readCount == 1) {
        alignas(8) uint8_t value[8] = {};
        if (!TIFFGetField(tiff, e->tag, value))
            return false;
        TakeValues(field, value, 1, e);
        return true;
    }
    if (readCount > 1) {
        void *values = nullptr;
        if (!TIFFGetField(tiff, e->tag, &values) || values == nullptr)
            return false;
        TakeValues(field, values, uint32_t(readCount), e);
        return true;
    }
    return false;
}

// A TIFF's EXIF directory, with the camera tags of its first, as an EXIF
// block. Read last: it leaves the EXIF directory the current one.
void ReadExif(TIFF *tiff, ImageMetadata *m)
{
    toff_t offset = 0;
    if (!TIFFGetField(tiff, TIFFTAG_EXIFIFD, &offset) || offset == 0)
        return;
    std::vector<ExifEntry> first, exif;
    for (uint16_t tag : kCameraTags) {
        const TIFFField *field = TIFFFieldWithTag(tiff, tag);
        ExifEntry e;
        if (field != nullptr && GetEntry(tiff, field, &e))
            first.push_back(std::move(e));
    }
    if (m->tiffOrientation != 0) {
        ExifEntry orientation;
        orientation.tag = 274;
        orientation.type = TIFF_SHORT;
        orientation.count = 1;
        orientation.numbers.push_back(m->tiffOrientation);
        first.push_back(orientation);
    }
    if (!TIFFReadEXIFDirectory(tiff, offset)) {
        m->dropped.push_back("the TIFF file's EXIF directory (it cannot be read)");
        return;
    }
    const int tags = TIFFGetTagListCount(tiff);
    for (int i = 0; i < tags; ++i) {
        const TIFFField *field = TIFFFieldWithTag(tiff, TIFFGetTagListEntry(tiff, i));
        ExifEntry e;
        if (field != nullptr && TIFFFieldTag(field) != 0xA005 && GetEntry(tiff, field, &e))
            exif.push_back(std::move(e));
    }
    m->exif = BuildExifBlock(std::move(first), std::move(exif));
}

// Sets a field libtiff knows from an entry, its values in the types libtiff
// takes for it; false when they do not fit its definition.
bool SetEntry(TIFF *t, const ExifEntry &e)
{
    const TIFFField *field = TIFFFindField(t, e.tag, TIFF_ANY);
    if (field == nullptr)
        return false;
    const TIFFDataType type = TIFFFieldDataType(field);
    if (type == TIFF_ASCII)
        return e.type == TIFF_ASCII && TIFFSetField(t, e.tag, e.text.c_str()) == 1;
    const bool raw = type == TIFF_BYTE || type == TIFF_SBYTE || type == TIFF_UNDEFINED;
    const uint32_t count = raw ? uint32_t(e.bytes.size()) : uint32_t(e.numbers.size());
    if (count == 0 || (raw != (e.type == 1 || e.type == 6 || e.type == 7)))
        return false;
    const int size = TIFFFieldSetGetSize(field);
    std::vector<uint8_t> values(size_t(count) * size_t(size > 0 ? size : 1));
    for (uint32_t i = 0; i < count; ++i) {
        uint8_t *to = values.data() + size_t(i) * size_t(size);
        if (raw) {
            *to = e.bytes[i];
            continue;
        }
        const double n = e.numbers[i];
        if (Floating(type) && size == 4) {
            const float f = float(n);
            std::memcpy(to, &f, 4);
        } else if (Floating(type) && size == 8) {
            std::memcpy(to, &n, 8);
        } else if (size == 1) {
            *to = uint8_t(int64_t(n));
        } else if (size == 2) {
            const uint16_t v = uint16_t(int64_t(n));
            std::memcpy(to, &v, 2);
        } else if (size == 4) {
            const uint32_t v = uint32_t(int64_t(n));
            std::memcpy(to, &v, 4);
        } else if (size == 8) {
            const uint64_t v = uint64_t(int64_t(n));
            std::memcpy(to, &v, 8);
        } else {
            return false;
        }
    }
    if (TIFFFieldPassCount(field)) {
        if (TIFFFieldWriteCount(field) == TIFF_VARIABLE2)
            return TIFFSetField(t, e.tag, count, values.data()) == 1;
        return count <= 65535 && TIFFSetField(t, e.tag, int(count), values.data()) == 1;
    }
    const int writeCount = TIFFFieldWriteCount(field);
    if (writeCount > 1)
        return uint32_t(writeCount) == count && TIFFSetField(t, e.tag, values.data()) == 1;
    if (writeCount != 1 || count != 1)
        return false;
    if (Floating(type))
        return TIFFSetField(t, e.tag, e.numbers[0]) == 1;
    if (size == 8)
        return TIFFSetField(t, e.tag, uint64_t(int64_t(e.numbers[0]))) == 1;
    if (size == 4)
        return TIFFSetField(t, e.tag, uint32_t(int64_t(e.numbers[0]))) == 1;
    return TIFFSetField(t, e.tag, int(raw ? e.bytes[0] : int64_t(e.numbers[0]))) == 1;
}

// Writes the EXIF block's EXIF directory as the file's first bytes after its
// header, and leaves a fresh image directory current; *offset is where the
// EXIF directory lies (0 when there is none), and *skipped counts the
// entries libtiff does not know or that do not fit its definitions.
bool WriteExifDirectory(TIFF *t, const std::vector<ExifEntry> &exif, uint64_t *offset, int *skipped)
{
    *offset = 0;
    if (exif.empty())
        return true;
    if (TIFFCreateEXIFDirectory(t) != 0)
        return false;
    int set = 0;
    for (const ExifEntry &e : exif)
        SetEntry(t, e) ? ++set : ++*skipped;
    bool ok = set == 0 || TIFFWriteCustomDirectory(t, offset);
    TIFFFreeDirectory(t);
    TIFFCreateDirectory(t);
    return ok;
}

// The metadata the directory holds that the host carries into its outputs.
void ReadMetadata(TIFF *tiff, ImageMetadata *m)
{
    uint32_t count = 0;
    void *data = nullptr;
    if (TIFFGetField(tiff, TIFFTAG_ICCPROFILE, &count, &data) && data != nullptr && count != 0)
        m->icc.assign(static_cast<uint8_t *>(data), static_cast<uint8_t *>(data) + count);
    if (TIFFGetField(tiff, TIFFTAG_XMLPACKET, &count, &data) && data != nullptr && count != 0)
        m->xmp.assign(static_cast<uint8_t *>(data), static_cast<uint8_t *>(data) + count);
    float x = 0, y = 0;
    uint16_t unit = RESUNIT_INCH;
    if (TIFFGetField(tiff, TIFFTAG_XRESOLUTION, &x) && TIFFGetField(tiff, TIFFTAG_YRESOLUTION, &y) && x > 0 &&
        y > 0 && std::isfinite(x) && std::isfinite(y)) {
        TIFFGetFieldDefaulted(tiff, TIFFTAG_RESOLUTIONUNIT, &unit);
        m->resolution.unit = unit == RESUNIT_CENTIMETER ? Resolution::Unit::Centimetre
                             : unit == RESUNIT_NONE     ? Resolution::Unit::None
                                                        : Resolution::Unit::Inch;
        m->resolution.x = x;
        m->resolution.y = y;
    }
    uint16_t orientation = 0;
    if (TIFFGetField(tiff, TIFFTAG_ORIENTATION, &orientation) && orientation >= 1 && orientation <= 8)
        m->tiffOrientation = orientation;
    ReadExif(tiff, m);
}

// The metadata a TIFF file is written with; what it has no place for is
// named in `dropped`.
bool WriteMetadata(TIFF *t, const ImageMetadata &m, uint64_t exifOffset, const std::vector<ExifEntry> &first,
                   std::vector<std::string> *dropped)
{
    if (exifOffset != 0 && !TIFFSetField(t, TIFFTAG_EXIFIFD, exifOffset))
        return false;
    for (const ExifEntry &e : first)
        if (std::find(std::begin(kCameraTags), std::end(kCameraTags), e.tag) != std::end(kCameraTags) &&
            e.type == TIFF_ASCII && !e.text.empty() && !TIFFSetField(t, e.tag, e.text.c_str()))
            return false;
    if (!m.icc.empty() && !TIFFSetField(t, TIFFTAG_ICCPROFILE, uint32_t(m.icc.size()), m.icc.data()))
        return false;
    if (!m.xmp.empty() && !TIFFSetField(t, TIFFTAG_XMLPACKET, uint32_t(m.xmp.size()), m.xmp.data()))
        return false;
    const Resolution r = InInchesOrCentimetres(m.resolution);
    if (r.unit != Resolution::Unit::Unknown && r.x > 0 && r.y > 0) {
        const uint16_t unit = r.unit == Resolution::Unit::Inch   ? RESUNIT_INCH
                              : r.unit == Resolution::Unit::None ? RESUNIT_NONE
                                                                 : RESUNIT_CENTIMETER;
        if (!TIFFSetField(t, TIFFTAG_XRESOLUTION, r.x) || !TIFFSetField(t, TIFFTAG_YRESOLUTION, r.y) ||
            !TIFFSetField(t, TIFFTAG_RESOLUTIONUNIT, unit))
            return false;
    }
    if (dropped != nullptr) {
        for (const PngChunk &c : m.pngColour)
            if (c.type != "sRGB" || !m.icc.empty())
                dropped->push_back("the PNG file's " + c.type + " chunk (a TIFF file has no place for it)");
        if (!m.pngText.empty())
            dropped->push_back("the PNG file's " + std::to_string(m.pngText.size()) +
                               " text chunks (a TIFF file has no place for them)");
        if (!m.jpegSegments.empty())
            dropped->push_back("the JPEG file's comments and Photoshop data (a TIFF file has no place for them)");
    }
    return true;
}

// The orientation a TIFF file is written with: the TIFF's own, else the
// EXIF's, else the top left.
uint16_t OrientationFor(const ImageMetadata *m)
{
    if (m == nullptr)
        return ORIENTATION_TOPLEFT;
    if (m->tiffOrientation >= 1 && m->tiffOrientation <= 8)
        return uint16_t(m->tiffOrientation);
    const ExifSummary exif = SummariseExif(m->exif.data(), m->exif.size());
    if (exif.valid && exif.orientation >= 1 && exif.orientation <= 8)
        return uint16_t(exif.orientation);
    return ORIENTATION_TOPLEFT;
}

} // namespace

ImageRead ReadTiff(SeekableSource &file, Document *document, std::string *error, uint32_t maxSide,
                   ImageMetadata *metadata)
{
    *document = Document();
    uint8_t head[4] = {};
    if (!LooksLikeTiff(head, file.ReadAt(0, head, sizeof head)))
        return ImageRead::NotThisKind;
    try {
        TiffClient client;
        client.source = &file;
        TiffHandle tiff = Open(&client, "rm");
        if (!tiff)
            return Refuse(error, "it is a TIFF that cannot be opened (" +
                                     (client.firstError.empty() ? std::string("damaged") : client.firstError) + ")");
        const tdir_t pages = TIFFNumberOfDirectories(tiff.get());
        if (pages > 1)
            return Refuse(error, "it holds " + std::to_string(pages) + " pages; the host opens single-page files only");
        if (!TIFFSetDirectory(tiff.get(), 0))
            return Refuse(error, "its image directory is damaged (" + client.firstError + ")");

        Layout l;
        const ImageRead described = Describe(tiff.get(), &l, error, maxSide);
        if (described != ImageRead::Read)
            return described;
        std::string why;
        if (!DataCanHoldImage(tiff.get(), l, file.Size(), &why))
            return Refuse(error, why);

        Palette palette;
        if (l.photometric == PHOTOMETRIC_PALETTE) {
            uint16_t *r = nullptr, *g = nullptr, *b = nullptr;
            if (!TIFFGetField(tiff.get(), TIFFTAG_COLORMAP, &r, &g, &b))
                return Refuse(error, "it is a palette TIFF without its palette");
            const size_t entries = size_t(1) << l.bits;
            // Some writers store 8-bit values in the 16-bit entries.
            bool eightBit = true;
            for (size_t i = 0; i < entries; ++i)
                eightBit = eightBit && r[i] < 256 && g[i] < 256 && b[i] < 256;
            for (const auto &channel : {std::make_pair(r, &palette.red), std::make_pair(g, &palette.green),
                                        std::make_pair(b, &palette.blue)})
                for (size_t i = 0; i < entries; ++i)
                    channel.second->push_back(uint16_t(eightBit ? channel.first[i] : channel.first[i] >> 8));
        }
        // JPEG's YCbCr is converted to RGB by the JPEG decoder.
        if (l.compression == COMPRESSION_JPEG && l.photometric == PHOTOMETRIC_YCBCR &&
            !TIFFSetField(tiff.get(), TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB))
            return Refuse(error, "its JPEG data cannot be converted to RGB (" + client.firstError + ")");

        // Bilevel images open as RGB, as palette ones do (and as in PNG).
        const bool bilevel = l.colours == 1 && l.bits == 1 && l.photometric != PHOTOMETRIC_PALETTE;
        const bool grey = l.colours == 1 && l.photometric != PHOTOMETRIC_PALETTE && !bilevel;
        const bool sixteen = l.bits == 16;
        const int32_t planeCount = grey ? 1 : l.colours == 1 ? 3 : l.colours + (l.alpha ? 1 : 0);
        const int16_t mode = l.colours == 4 ? (sixteen ? plugInModeCMYK64 : plugInModeCMYKColor)
                             : grey         ? (sixteen ? plugInModeGray16 : plugInModeGrayScale)
                                            : (sixteen ? plugInModeRGB48 : plugInModeRGBColor);
        *document = MakeDocument(int32_t(l.width), int32_t(l.height), planeCount, sixteen ? 16 : 8, mode);
        document->hasTransparency = l.alpha;

        // The samples read: the colours, and the alpha when kept.
        const int wanted = l.photometric == PHOTOMETRIC_PALETTE || bilevel ? 1 : planeCount;
        const bool separate = l.planar == PLANARCONFIG_SEPARATE && l.samples > 1;
        auto damaged = [&]() {
            *document = Document();
            return Refuse(error, "its image data is damaged (" +
                                     (client.firstError.empty() ? std::string("a strip or tile cannot be decoded")
                                                                : client.firstError) +
                                     ")");
        };
        if (!l.tiled) {
            const tmsize_t lineSize = TIFFScanlineSize(tiff.get());
            if (lineSize <= 0)
                return damaged();
            std::vector<uint8_t> line(static_cast<size_t>(lineSize));
            for (int s = 0; s < (separate ? wanted : 1); ++s)
                for (uint32_t y = 0; y < l.height; ++y) {
                    if (TIFFReadScanline(tiff.get(), line.data(), y, uint16_t(s)) < 0)
                        return damaged();
                    if (separate)
                        StoreRow(l, palette, line.data(), l.width, 0, 1, document, s, 0, y);
                    else
                        for (int p = 0; p < wanted; ++p)
                            StoreRow(l, palette, line.data(), l.width, uint32_t(p), l.samples, document, p, 0, y);
                }
        } else {
            const tmsize_t tileSize = TIFFTileSize(tiff.get());
            const tmsize_t tileRow = TIFFTileRowSize(tiff.get());
            if (tileSize <= 0 || tileRow <= 0)
                return damaged();
            std::vector<uint8_t> tile(static_cast<size_t>(tileSize));
            for (int s = 0; s < (separate ? wanted : 1); ++s)
                for (uint32_t ty = 0; ty < l.height; ty += l.tileHeight)
                    for (uint32_t tx = 0; tx < l.width; tx += l.tileWidth) {
                        if (TIFFReadTile(tiff.get(), tile.data(), tx, ty, 0, uint16_t(s)) < 0)
                            return damaged();
                        const uint32_t w = std::min(l.tileWidth, l.width - tx);
                        const uint32_t h = std::min(l.tileHeight, l.height - ty);
                        for (uint32_t r = 0; r < h; ++r) {
                            const uint8_t *row = tile.data() + size_t(r) * size_t(tileRow);
                            if (separate)
                                StoreRow(l, palette, row, w, 0, 1, document, s, tx, ty + r);
                            else
                                for (int p = 0; p < wanted; ++p)
                                    StoreRow(l, palette, row, w, uint32_t(p), l.samples, document, p, tx, ty + r);
                        }
                    }
        }
        if (bilevel)
            document->planes[1] = document->planes[2] = document->planes[0];
        if (l.alpha && l.associated)
            Unassociate(document, l.colours);
        if (metadata != nullptr)
            ReadMetadata(tiff.get(), metadata);
        return ImageRead::Read;
    } catch (const std::bad_alloc &) {
        *document = Document();
        return Refuse(error, "there is not enough memory to read it");
    }
}

bool WriteTiff(const Document &document, SeekableSink &file, std::string *error, const ImageMetadata *metadata,
               std::vector<std::string> *dropped)
{
    const bool sixteen = document.depth == 16;
    const bool cmyk = document.mode == plugInModeCMYKColor || document.mode == plugInModeCMYK64;
    // Colour with its transparency is written with it, as unassociated
    // alpha (straight, as the document holds it).
    const bool alpha = !cmyk && document.PlaneCount() >= 4 && document.hasTransparency;
    const int channels = document.PlaneCount() < 3 ? 1 : (cmyk || alpha) && document.PlaneCount() >= 4 ? 4 : 3;
    const uint64_t rowBytes = uint64_t(document.width) * uint64_t(channels) * (sixteen ? 2u : 1u);
    // Deflate can grow incompressible data a little: a file that could pass
    // 4 GB is a BigTIFF.
    const bool big = rowBytes * uint64_t(document.height) > (uint64_t(3) << 30);
    try {
        TiffClient client;
        client.sink = &file;
        TiffHandle tiff = Open(&client, big ? "w8l" : "wl");
        auto fail = [&](const std::string &what) {
            if (error != nullptr)
                *error = client.sinkFailed                ? file.Failure()
                         : client.firstError.empty()      ? what
                                                          : what + " (" + client.firstError + ")";
            return false;
        };
        if (!tiff)
            return fail("the TIFF encoder cannot start");
        TIFF *t = tiff.get();
        // The EXIF directory goes first, before the image's own.
        std::vector<ExifEntry> first, exif;
        uint64_t exifOffset = 0;
        if (metadata != nullptr && !metadata->exif.empty()) {
            int skipped = 0;
            if (!ReadExifEntries(metadata->exif.data(), metadata->exif.size(), &first, &exif)) {
                if (dropped != nullptr)
                    dropped->push_back("the EXIF data (its header or first directory is malformed)");
            } else if (!WriteExifDirectory(t, exif, &exifOffset, &skipped)) {
                return fail("the TIFF encoder refused the EXIF directory");
            } else if (dropped != nullptr) {
                if (skipped != 0)
                    dropped->push_back(std::to_string(skipped) +
                                       " EXIF tag(s) that a TIFF's EXIF directory does not define");
                if (SummariseExif(metadata->exif.data(), metadata->exif.size()).hasGps)
                    dropped->push_back("the EXIF GPS directory (the host does not write it into TIFF files)");
            }
        }
        // Strips of about 1 MB, a whole number of rows.
        const uint32_t rowsPerStrip =
            uint32_t(std::max<uint64_t>(1, std::min<uint64_t>(uint64_t(document.height), (1u << 20) / std::max<uint64_t>(rowBytes, 1))));
        if (!TIFFSetField(t, TIFFTAG_IMAGEWIDTH, uint32_t(document.width)) ||
            !TIFFSetField(t, TIFFTAG_IMAGELENGTH, uint32_t(document.height)) ||
            !TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, uint16_t(sixteen ? 16 : 8)) ||
            !TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, uint16_t(channels)) ||
            !TIFFSetField(t, TIFFTAG_PHOTOMETRIC,
                          channels == 1 ? PHOTOMETRIC_MINISBLACK : cmyk ? PHOTOMETRIC_SEPARATED : PHOTOMETRIC_RGB) ||
            !TIFFSetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG) ||
            !TIFFSetField(t, TIFFTAG_ORIENTATION, OrientationFor(metadata)) ||
            !TIFFSetField(t, TIFFTAG_COMPRESSION, COMPRESSION_ADOBE_DEFLATE) ||
            !TIFFSetField(t, TIFFTAG_PREDICTOR, PREDICTOR_HORIZONTAL) ||
            !TIFFSetField(t, TIFFTAG_ZIPQUALITY, 1) ||
            !TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, rowsPerStrip) ||
            (cmyk && channels == 4 && !TIFFSetField(t, TIFFTAG_INKSET, INKSET_CMYK)))
            return fail("the TIFF encoder refused the image's description");
        const uint16_t unassociated[1] = {EXTRASAMPLE_UNASSALPHA};
        if (alpha && !TIFFSetField(t, TIFFTAG_EXTRASAMPLES, uint16_t(1), unassociated))
            return fail("the TIFF encoder refused the image's description");
        if (metadata != nullptr && !WriteMetadata(t, *metadata, exifOffset, first, dropped))
            return fail("the TIFF encoder refused the image's metadata");
        std::vector<uint8_t> row(static_cast<size_t>(rowBytes));
        for (int32_t y = 0; y < document.height; ++y) {
            for (int c = 0; c < channels; ++c) {
                const uint16_t *from = document.planes[size_t(c)].data() + size_t(y) * size_t(document.width);
                if (sixteen) {
                    uint16_t *to = reinterpret_cast<uint16_t *>(row.data());
                    for (int32_t x = 0; x < document.width; ++x)
                        to[size_t(x) * size_t(channels) + size_t(c)] = HostToFile16(from[x]);
                } else {
                    for (int32_t x = 0; x < document.width; ++x)
                        row[size_t(x) * size_t(channels) + size_t(c)] = uint8_t(from[x]);
                }
            }
            if (TIFFWriteScanline(t, row.data(), uint32_t(y), 0) < 0)
                return fail("the TIFF encoder failed");
        }
        if (!TIFFWriteDirectory(t) || client.sinkFailed)
            return fail("the TIFF encoder failed");
        tiff.reset();
        if (client.sinkFailed)
            return fail("the TIFF encoder failed");
        return true;
    } catch (const std::bad_alloc &) {
        if (error != nullptr)
            *error = "there is not enough memory to write it";
        return false;
    }
}
