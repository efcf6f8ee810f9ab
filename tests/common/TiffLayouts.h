// TIFF files of every layout the host reads, written with libtiff into
// memory from one set of samples, for the native tests of the reader and the
// tests of filterhost under Wine; and the document those samples make.
#pragma once

#include <tiffio.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "host/core/Document.h"

namespace tiff_layouts {

struct Layout {
    bool bigEndian = false;
    int bits = 8;  // 8 or 16
    uint16_t compression = COMPRESSION_NONE;
    bool predictor = false;
    bool separate = false;
    bool tiled = false;
    int channels = 3;  // 1 grey, 2 grey + alpha, 3 RGB, 4 RGBA
    // JPEG only: the colours stored as YCbCr (subsampled 2 x 2) rather than RGB.
    bool ycbcr = false;

    std::string Name() const
    {
        const char *coding = compression == COMPRESSION_NONE       ? "uncompressed"
                             : compression == COMPRESSION_LZW      ? "LZW"
                             : compression == COMPRESSION_PACKBITS ? "PackBits"
                             : compression == COMPRESSION_JPEG     ? (ycbcr ? "JPEG YCbCr" : "JPEG")
                                                                   : "Deflate";
        const char *colours[] = {"", "grey", "grey+alpha", "RGB", "RGBA"};
        return std::string(bigEndian ? "big-endian " : "little-endian ") + std::to_string(bits) + "-bit " +
               colours[channels] + " " + coding + (predictor ? " predictor" : "") +
               (separate ? " planar-separate" : " chunky") + (tiled ? " tiles" : " strips");
    }
};

// Width and height: not multiples of the strips' rows or the tiles' sides.
const uint32_t kWidth = 45, kHeight = 37;

// The file's samples, pixel by pixel (chunky), in the file's range: values
// whose two bytes differ, and edges that lossy coding would blur.
inline std::vector<uint16_t> Samples(const Layout &l)
{
    std::vector<uint16_t> s(size_t(kWidth) * kHeight * size_t(l.channels));
    uint32_t state = 12345u + uint32_t(l.channels);
    for (size_t i = 0; i < s.size(); ++i) {
        state = state * 1103515245u + 12345u;
        const uint32_t pixel = uint32_t(i / size_t(l.channels));
        const uint32_t x = pixel % kWidth, y = pixel / kWidth;
        const uint32_t smooth = (x * 5 + y * 3 + uint32_t(i % size_t(l.channels)) * 40) & 0xFF;
        // JPEG's pixels are smooth with an edge; the lossless codings get noise.
        const uint32_t v = l.compression == COMPRESSION_JPEG ? (x < kWidth / 2 ? smooth : 255 - smooth / 2)
                                                             : (state >> 16) & 0xFF;
        s[i] = l.bits == 16 ? uint16_t(v * 257u ^ ((state >> 8) & 0x7F)) : uint16_t(v);
        if (l.compression != COMPRESSION_JPEG && (i / size_t(l.channels)) % 7 < 3)
            s[i] = s[i - (i >= size_t(l.channels) ? size_t(l.channels) : 0)];  // runs, for PackBits
    }
    return s;
}

// The document the host makes of those samples: grey + alpha as grey, RGBA
// with a transparency plane, 16-bit samples in the host's range.
inline Document Expected(const Layout &l, const std::vector<uint16_t> &s)
{
    const int planes = l.channels == 2 ? 1 : l.channels;
    Document d = MakeDocument(int32_t(kWidth), int32_t(kHeight), planes, l.bits,
                              l.channels <= 2 ? (l.bits == 16 ? plugInModeGray16 : plugInModeGrayScale)
                                              : (l.bits == 16 ? plugInModeRGB48 : plugInModeRGBColor));
    d.hasTransparency = l.channels == 4;
    for (uint32_t y = 0; y < kHeight; ++y)
        for (uint32_t x = 0; x < kWidth; ++x)
            for (int p = 0; p < planes; ++p) {
                const uint16_t v = s[(size_t(y) * kWidth + x) * size_t(l.channels) + size_t(p)];
                d.At(p, int32_t(x), int32_t(y)) = l.bits == 16 ? FileToHost16(v) : v;
            }
    return d;
}

// libtiff's client procedures over a growing vector.
struct MemoryFile {
    std::vector<uint8_t> bytes;
    uint64_t at = 0;
    static tmsize_t Read(thandle_t h, void *to, tmsize_t n)
    {
        auto *f = static_cast<MemoryFile *>(h);
        if (f->at >= f->bytes.size())
            return 0;
        const size_t k = std::min<size_t>(size_t(n), f->bytes.size() - size_t(f->at));
        std::memcpy(to, f->bytes.data() + f->at, k);
        f->at += k;
        return tmsize_t(k);
    }
    static tmsize_t Write(thandle_t h, void *from, tmsize_t n)
    {
        auto *f = static_cast<MemoryFile *>(h);
        if (f->at + uint64_t(n) > f->bytes.size())
            f->bytes.resize(size_t(f->at + uint64_t(n)));
        std::memcpy(f->bytes.data() + f->at, from, size_t(n));
        f->at += uint64_t(n);
        return n;
    }
    static toff_t Seek(thandle_t h, toff_t off, int whence)
    {
        auto *f = static_cast<MemoryFile *>(h);
        const uint64_t base = whence == SEEK_CUR ? f->at : whence == SEEK_END ? f->bytes.size() : 0;
        f->at = base + off;
        return f->at;
    }
    static int Close(thandle_t) { return 0; }
    static toff_t Size(thandle_t h) { return static_cast<MemoryFile *>(h)->bytes.size(); }
    static int Map(thandle_t, void **, toff_t *) { return 0; }
    static void Unmap(thandle_t, void *, toff_t) {}
};

// The file, or an empty vector when libtiff refused to write it.
inline std::vector<uint8_t> Write(const Layout &l, const std::vector<uint16_t> &s)
{
    MemoryFile file;
    TIFF *t = TIFFClientOpen("layout", l.bigEndian ? "wb" : "wl", &file, MemoryFile::Read, MemoryFile::Write,
                             MemoryFile::Seek, MemoryFile::Close, MemoryFile::Size, MemoryFile::Map,
                             MemoryFile::Unmap);
    if (t == nullptr)
        return {};
    const bool jpeg = l.compression == COMPRESSION_JPEG;
    const uint16_t photometric = l.channels >= 3 ? (l.ycbcr ? PHOTOMETRIC_YCBCR : PHOTOMETRIC_RGB)
                                                 : PHOTOMETRIC_MINISBLACK;
    bool ok = TIFFSetField(t, TIFFTAG_IMAGEWIDTH, kWidth) && TIFFSetField(t, TIFFTAG_IMAGELENGTH, kHeight) &&
              TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, uint16_t(l.bits)) &&
              TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, uint16_t(l.channels)) &&
              TIFFSetField(t, TIFFTAG_PHOTOMETRIC, photometric) &&
              TIFFSetField(t, TIFFTAG_PLANARCONFIG, l.separate ? PLANARCONFIG_SEPARATE : PLANARCONFIG_CONTIG) &&
              TIFFSetField(t, TIFFTAG_COMPRESSION, l.compression);
    if (l.channels == 2 || l.channels == 4) {
        const uint16_t extra[] = {EXTRASAMPLE_UNASSALPHA};
        ok = ok && TIFFSetField(t, TIFFTAG_EXTRASAMPLES, uint16_t(1), extra);
    }
    if (l.predictor)
        ok = ok && TIFFSetField(t, TIFFTAG_PREDICTOR, PREDICTOR_HORIZONTAL);
    if (jpeg) {
        ok = ok && TIFFSetField(t, TIFFTAG_JPEGQUALITY, 90);
        if (l.ycbcr)
            ok = ok && TIFFSetField(t, TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB);
    }
    const uint32_t side = 16, rows = jpeg ? 16 : 5;
    if (l.tiled)
        ok = ok && TIFFSetField(t, TIFFTAG_TILEWIDTH, side) && TIFFSetField(t, TIFFTAG_TILELENGTH, side);
    else
        ok = ok && TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, rows);
    const int planes = l.separate ? l.channels : 1;
    const int perPixel = l.separate ? 1 : l.channels;
    const size_t sampleBytes = size_t(l.bits / 8);
    auto put = [&](uint8_t *to, uint32_t x, uint32_t y, int c) {
        const uint16_t v = s[(size_t(y) * kWidth + x) * size_t(l.channels) + size_t(c)];
        if (l.bits == 16)
            std::memcpy(to, &v, 2);  // libtiff takes the machine's order
        else
            *to = uint8_t(v);
    };
    if (!l.tiled) {
        std::vector<uint8_t> row(kWidth * size_t(perPixel) * sampleBytes);
        for (int p = 0; ok && p < planes; ++p)
            for (uint32_t y = 0; ok && y < kHeight; ++y) {
                for (uint32_t x = 0; x < kWidth; ++x)
                    for (int c = 0; c < perPixel; ++c)
                        put(&row[(size_t(x) * size_t(perPixel) + size_t(c)) * sampleBytes], x, y,
                            l.separate ? p : c);
                ok = TIFFWriteScanline(t, row.data(), y, uint16_t(p)) >= 0;
            }
    } else {
        std::vector<uint8_t> tile(size_t(side) * side * size_t(perPixel) * sampleBytes);
        for (int p = 0; ok && p < planes; ++p)
            for (uint32_t ty = 0; ok && ty < kHeight; ty += side)
                for (uint32_t tx = 0; ok && tx < kWidth; tx += side) {
                    std::fill(tile.begin(), tile.end(), 0);
                    for (uint32_t y = ty; y < std::min(kHeight, ty + side); ++y)
                        for (uint32_t x = tx; x < std::min(kWidth, tx + side); ++x)
                            for (int c = 0; c < perPixel; ++c)
                                put(&tile[((size_t(y - ty) * side + (x - tx)) * size_t(perPixel) + size_t(c)) *
                                          sampleBytes],
                                    x, y, l.separate ? p : c);
                    ok = TIFFWriteTile(t, tile.data(), tx, ty, 0, uint16_t(p)) >= 0;
                }
    }
    ok = ok && TIFFWriteDirectory(t);
    TIFFClose(t);
    return ok ? file.bytes : std::vector<uint8_t>();
}

// The file as libtiff's own RGBA interface decodes it (its JPEG data through
// the same JPEG library, by another path): ABGR words, top row first.
inline std::vector<uint32_t> LibtiffRgba(const std::vector<uint8_t> &bytes)
{
    MemoryFile file;
    file.bytes = bytes;
    TIFF *t = TIFFClientOpen("layout", "rm", &file, MemoryFile::Read, MemoryFile::Write, MemoryFile::Seek,
                             MemoryFile::Close, MemoryFile::Size, MemoryFile::Map, MemoryFile::Unmap);
    if (t == nullptr)
        return {};
    std::vector<uint32_t> raster(size_t(kWidth) * kHeight);
    const bool ok = TIFFReadRGBAImageOriented(t, kWidth, kHeight, raster.data(), ORIENTATION_TOPLEFT, 0) == 1;
    TIFFClose(t);
    return ok ? raster : std::vector<uint32_t>();
}

// Every lossless layout: each byte order, depth, coding (with and without
// the predictor), arrangement and organisation, for each kind of colour.
inline std::vector<Layout> LosslessLayouts()
{
    std::vector<Layout> all;
    const uint16_t codings[] = {COMPRESSION_NONE, COMPRESSION_LZW, COMPRESSION_ADOBE_DEFLATE, COMPRESSION_PACKBITS};
    for (bool big : {false, true})
        for (int bits : {8, 16})
            for (uint16_t coding : codings)
                for (bool predictor : {false, true}) {
                    if (predictor && (coding == COMPRESSION_NONE || coding == COMPRESSION_PACKBITS))
                        continue;
                    for (bool separate : {false, true})
                        for (bool tiled : {false, true})
                            for (int channels : {1, 2, 3, 4}) {
                                Layout l;
                                l.bigEndian = big;
                                l.bits = bits;
                                l.compression = coding;
                                l.predictor = predictor;
                                l.separate = separate;
                                l.tiled = tiled;
                                l.channels = channels;
                                all.push_back(l);
                            }
                }
    return all;
}

// JPEG-compressed layouts: grey, RGB stored as RGB and as subsampled YCbCr,
// in strips and tiles, chunky (and RGB planar-separate), in both byte orders.
inline std::vector<Layout> JpegLayouts()
{
    std::vector<Layout> all;
    for (bool big : {false, true})
        for (bool tiled : {false, true})
            for (int kind = 0; kind < 4; ++kind) {
                Layout l;
                l.bigEndian = big;
                l.compression = COMPRESSION_JPEG;
                l.tiled = tiled;
                l.channels = kind == 0 ? 1 : 3;
                l.ycbcr = kind == 2;
                l.separate = kind == 3;
                all.push_back(l);
            }
    return all;
}

inline void Put16(std::vector<uint8_t> *t, size_t at, uint16_t v)
{
    (*t)[at] = uint8_t(v);
    (*t)[at + 1] = uint8_t(v >> 8);
}
inline void Put32(std::vector<uint8_t> *t, size_t at, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        (*t)[at + size_t(i)] = uint8_t(v >> (8 * i));
}

// A little-endian RGB TIFF declaring `side` x `side` 8-bit pixels in
// `strips` strips, each of `dataBytes` bytes of `compression` data that all
// strips share (bytes of a simple pattern, as a small file would hold).
inline std::vector<uint8_t> LyingTiff(uint32_t side, uint16_t compression, uint32_t dataBytes, uint32_t strips = 1)
{
    std::vector<uint8_t> t(8 + dataBytes, 0);
    t[0] = t[1] = 'I';
    t[2] = 42;
    for (uint32_t i = 0; i < dataBytes; ++i)
        t[8 + i] = uint8_t(i * 7 + 1);
    const size_t bits = t.size();
    t.resize(t.size() + 6);
    for (int k = 0; k < 3; ++k)
        Put16(&t, bits + size_t(k) * 2, 8);
    size_t offsets = 0, counts = 0;
    if (strips > 1) {
        offsets = t.size();
        t.resize(t.size() + size_t(strips) * 4);
        counts = t.size();
        t.resize(t.size() + size_t(strips) * 4);
        for (uint32_t i = 0; i < strips; ++i) {
            Put32(&t, offsets + size_t(i) * 4, 8);
            Put32(&t, counts + size_t(i) * 4, dataBytes);
        }
    }
    struct Entry {
        uint16_t tag, type;
        uint32_t count, value;
    };
    const uint32_t rows = (side + strips - 1) / strips;
    const Entry entries[] = {
        {256, 4, 1, side},
        {257, 4, 1, side},
        {258, 3, 3, uint32_t(bits)},
        {259, 3, 1, compression},
        {262, 3, 1, 2},
        {273, 4, strips, strips > 1 ? uint32_t(offsets) : 8u},
        {277, 3, 1, 3},
        {278, 4, 1, rows},
        {279, 4, strips, strips > 1 ? uint32_t(counts) : dataBytes},
        {284, 3, 1, 1},
    };
    const size_t ifd = t.size();
    Put32(&t, 4, uint32_t(ifd));
    const uint16_t n = uint16_t(sizeof entries / sizeof entries[0]);
    t.resize(t.size() + 2 + size_t(n) * 12 + 4);
    Put16(&t, ifd, n);
    for (uint16_t i = 0; i < n; ++i) {
        const size_t at = ifd + 2 + size_t(i) * 12;
        Put16(&t, at, entries[i].tag);
        Put16(&t, at + 2, entries[i].type);
        Put32(&t, at + 4, entries[i].count);
        if (entries[i].type == 3 && entries[i].count == 1)
            Put16(&t, at + 8, uint16_t(entries[i].value));
        else
            Put32(&t, at + 8, entries[i].value);
    }
    return t;
}

} // namespace tiff_layouts
