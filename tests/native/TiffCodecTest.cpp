// The host's TIFF reading and writing through libtiff: every layout it reads
// gives the same pixels as the same image as PNG; JPEG-compressed files as
// libtiff's own RGBA interface decodes them; files it does not read are named
// for what they are; a file whose data cannot hold its declared image is
// refused without costing that image's memory.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "host/core/PngReader.h"
#include "host/core/PngWriter.h"
#include "host/core/TiffCodec.h"
#include "tests/common/PeakHeap.h"
#include "tests/common/TiffLayouts.h"

using namespace tiff_layouts;

namespace {

ImageRead Read(const std::vector<uint8_t> &bytes, Document *d, std::string *error)
{
    MemorySource source(bytes.data(), bytes.size());
    return ReadTiff(source, d, error);
}

// The document read back from the same pixels written as PNG.
Document AsPng(const Document &d)
{
    std::vector<uint8_t> png;
    std::string error;
    EXPECT_TRUE(WritePng(d, [&](const uint8_t *b, size_t n) { png.insert(png.end(), b, b + n); return true; },
                         &error));
    Document back;
    EXPECT_EQ(ReadPng(png.data(), png.size(), &back, &error), PngRead::Read) << error;
    return back;
}

} // namespace

// 8- and 16-bit samples in either byte order (a big-endian file's 16-bit
// samples not byte-swapped), strips and tiles, chunky and planar-separate,
// each lossless coding with and without the predictor, grey, grey with
// alpha, RGB and RGBA: the pixels written, and those of the same image as
// PNG.
TEST(TiffCodec, EveryLosslessLayoutGivesThePixelsOfTheSameImageAsPng)
{
    const std::vector<Layout> layouts = LosslessLayouts();
    ASSERT_EQ(layouts.size(), 384u);
    for (const Layout &l : layouts) {
        SCOPED_TRACE(l.Name());
        const std::vector<uint16_t> samples = Samples(l);
        const std::vector<uint8_t> file = Write(l, samples);
        ASSERT_FALSE(file.empty());
        Document d;
        std::string error;
        ASSERT_EQ(Read(file, &d, &error), ImageRead::Read) << error;
        const Document expected = Expected(l, samples);
        EXPECT_EQ(d.mode, expected.mode);
        EXPECT_EQ(d.depth, expected.depth);
        EXPECT_EQ(d.hasTransparency, expected.hasTransparency);
        EXPECT_EQ(d.planes, expected.planes);
        const Document png = AsPng(expected);
        const size_t colours = std::min<size_t>(3, d.planes.size());
        for (size_t p = 0; p < colours; ++p)
            EXPECT_EQ(d.planes[p], png.planes[p]) << "plane " << p;
    }
}

// A big-endian file's 16-bit samples, one value checked by hand.
TEST(TiffCodec, BigEndianSixteenBitSamplesKeepTheirValue)
{
    Layout l;
    l.bigEndian = true;
    l.bits = 16;
    l.channels = 1;
    std::vector<uint16_t> samples(size_t(kWidth) * kHeight, 0x1234);
    samples[1] = 0xFF00;
    const std::vector<uint8_t> file = Write(l, samples);
    ASSERT_EQ(file[0], 'M');
    Document d;
    std::string error;
    ASSERT_EQ(Read(file, &d, &error), ImageRead::Read) << error;
    EXPECT_EQ(d.At(0, 0, 0), FileToHost16(0x1234));
    EXPECT_EQ(d.At(0, 1, 0), FileToHost16(0xFF00));
}

// JPEG-compressed files (grey, RGB, YCbCr subsampled; strips and tiles;
// chunky and planar-separate) decode as libtiff's RGBA interface decodes
// them, and near what was written.
TEST(TiffCodec, JpegCompressedFilesDecodeAsLibtiffDecodesThem)
{
    for (const Layout &l : JpegLayouts()) {
        SCOPED_TRACE(l.Name());
        const std::vector<uint16_t> samples = Samples(l);
        const std::vector<uint8_t> file = Write(l, samples);
        ASSERT_FALSE(file.empty());
        Document d;
        std::string error;
        ASSERT_EQ(Read(file, &d, &error), ImageRead::Read) << error;
        ASSERT_EQ(d.PlaneCount(), l.channels);
        const std::vector<uint32_t> rgba = LibtiffRgba(file);
        ASSERT_FALSE(rgba.empty());
        size_t mismatches = 0;
        double error_sum = 0;
        for (uint32_t y = 0; y < kHeight; ++y)
            for (uint32_t x = 0; x < kWidth; ++x)
                for (int c = 0; c < l.channels; ++c) {
                    const uint32_t word = rgba[size_t(y) * kWidth + x];
                    const uint16_t reference = uint16_t((word >> (8 * c)) & 0xFF);
                    const uint16_t got = d.At(c, int32_t(x), int32_t(y));
                    mismatches += got != reference;
                    error_sum += std::abs(int(got) - int(samples[(size_t(y) * kWidth + x) * size_t(l.channels) + size_t(c)]));
                }
        EXPECT_EQ(mismatches, 0u);
        EXPECT_LT(error_sum / (double(kWidth) * kHeight * l.channels), 10.0);
    }
}

// A file that is not read says what it is and why.
TEST(TiffCodec, FilesNotReadAreNamedForWhatTheyAre)
{
    MemoryFile file;
    TIFF *t = TIFFClientOpen("float", "wl", &file, MemoryFile::Read, MemoryFile::Write, MemoryFile::Seek,
                             MemoryFile::Close, MemoryFile::Size, MemoryFile::Map, MemoryFile::Unmap);
    ASSERT_NE(t, nullptr);
    TIFFSetField(t, TIFFTAG_IMAGEWIDTH, 4u);
    TIFFSetField(t, TIFFTAG_IMAGELENGTH, 2u);
    TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, 32);
    TIFFSetField(t, TIFFTAG_SAMPLEFORMAT, SAMPLEFORMAT_IEEEFP);
    TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, 3);
    TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
    TIFFSetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_SEPARATE);
    TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, 2u);
    std::vector<float> row(4, 0.5f);
    for (uint16_t s = 0; s < 3; ++s)
        for (uint32_t y = 0; y < 2; ++y)
            ASSERT_GE(TIFFWriteScanline(t, row.data(), y, s), 0);
    ASSERT_TRUE(TIFFWriteDirectory(t));
    TIFFClose(t);
    Document d;
    std::string error;
    EXPECT_EQ(Read(file.bytes, &d, &error), ImageRead::Refused);
    EXPECT_NE(error.find("it is a TIFF with planar-separate 32-bit float samples; the host reads 8- and 16-bit"),
              std::string::npos)
        << error;
    EXPECT_TRUE(d.planes.empty());

    std::vector<uint8_t> lab = LyingTiff(4, COMPRESSION_NONE, 48);
    Put16(&lab, lab.size() - 4 - 12 * 6 + 8, PHOTOMETRIC_CIELAB);  // the photometric entry's value
    EXPECT_EQ(Read(lab, &d, &error), ImageRead::Refused);
    EXPECT_NE(error.find("it is a TIFF in CIE L*a*b* colour"), std::string::npos) << error;

    std::vector<uint8_t> notTiff = {'I', 'I', 41, 0};
    EXPECT_EQ(Read(notTiff, &d, &error), ImageRead::NotThisKind);
}

// A 3 KB file that declares 12000 x 12000 or 30000 x 30000 pixels, in each
// coding, is refused before its image is allocated: the read costs well
// under 100 MB. Strips that all share the same small data are refused too.
TEST(TiffCodec, ADeclaredSizeTheDataCannotHoldIsRefusedWithoutItsMemory)
{
    for (uint32_t side : {12000u, 30000u})
        for (uint16_t coding : {COMPRESSION_NONE, COMPRESSION_LZW, COMPRESSION_ADOBE_DEFLATE, COMPRESSION_DEFLATE,
                                COMPRESSION_PACKBITS, COMPRESSION_JPEG}) {
            SCOPED_TRACE(std::to_string(side) + " a side, compression " + std::to_string(coding));
            const std::vector<uint8_t> file = LyingTiff(side, coding, 3000);
            ASSERT_LT(file.size(), 3200u);
            Document d;
            std::string error;
            ImageRead answer = ImageRead::Read;
#ifdef UMBROLUX_PEAK_HEAP
            const long long peak = peak_heap::Measure([&] { answer = Read(file, &d, &error); });
            EXPECT_LT(peak, 100ll << 20);
            std::printf("[ measured ] %u a side, compression %u: %.1f KB of heap at the peak\n", unsigned(side),
                        unsigned(coding), double(peak) / 1024.0);
#else
            answer = Read(file, &d, &error);
#endif
            EXPECT_EQ(answer, ImageRead::Refused);
            EXPECT_NE(error.find("its data cannot hold the " + std::to_string(side) + " x " + std::to_string(side) +
                                 " image it declares"),
                      std::string::npos)
                << error;
        }
    const std::vector<uint8_t> shared = LyingTiff(12000, COMPRESSION_ADOBE_DEFLATE, 3000, 12000);
    Document d;
    std::string error;
    EXPECT_EQ(Read(shared, &d, &error), ImageRead::Refused);
    EXPECT_NE(error.find("its data cannot hold the 12000 x 12000 image it declares"), std::string::npos) << error;

    // A strip that lies past the end of the file.
    std::vector<uint8_t> cut = LyingTiff(16, COMPRESSION_LZW, 768);
    Put32(&cut, cut.size() - 4 - 12 * 2 + 8, 100000);  // the strip's byte count
    EXPECT_EQ(Read(cut, &d, &error), ImageRead::Refused);
    EXPECT_NE(error.find("past the end of the file"), std::string::npos) << error;
}

// What the writer writes reads back the same, grey, RGB and RGB with its
// transparency, 8 and 16 bits; a sink that fills up makes it fail with the
// sink's reason.
TEST(TiffCodec, WrittenFilesReadBackTheSameAndAFullDiskFails)
{
    struct Kind {
        int planes, depth;
        int16_t mode;
    };
    for (const Kind &k : {Kind{1, 8, plugInModeGrayScale}, Kind{1, 16, plugInModeGray16}, Kind{3, 8, plugInModeRGBColor},
                          Kind{3, 16, plugInModeRGB48}, Kind{4, 8, plugInModeRGBColor}, Kind{4, 16, plugInModeRGB48}}) {
        Document d = MakeDocument(301, 207, k.planes, k.depth, k.mode);
        FillTestPattern(&d, 5);
        d.hasTransparency = k.planes == 4;
        MemorySink sink;
        std::string error;
        ASSERT_TRUE(WriteTiff(d, sink, &error)) << error;
        Document back;
        ASSERT_EQ(Read(sink.bytes, &back, &error), ImageRead::Read) << error;
        EXPECT_EQ(back.planes, d.planes);
        EXPECT_EQ(back.mode, d.mode);
        EXPECT_EQ(back.hasTransparency, d.hasTransparency);

        MemorySink full(sink.bytes.size() / 2);
        EXPECT_FALSE(WriteTiff(d, full, &error));
        EXPECT_EQ(error, "the disk is full");
    }
}

// Palette images open as 8-bit RGB through their palette; bilevel ones as
// RGB, 0 or 255; 4-bit grey as 8-bit grey, white-is-zero inverted.
TEST(TiffCodec, PaletteBilevelAndFewBitsOpenAsEightBits)
{
    struct Kind {
        uint16_t bits, photometric;
    };
    for (const Kind &k : {Kind{8, PHOTOMETRIC_PALETTE}, Kind{1, PHOTOMETRIC_MINISBLACK}, Kind{4, PHOTOMETRIC_MINISWHITE}}) {
        SCOPED_TRACE(std::to_string(k.bits) + "-bit, photometric " + std::to_string(k.photometric));
        MemoryFile file;
        TIFF *t = TIFFClientOpen("few", "wl", &file, MemoryFile::Read, MemoryFile::Write, MemoryFile::Seek,
                                 MemoryFile::Close, MemoryFile::Size, MemoryFile::Map, MemoryFile::Unmap);
        ASSERT_NE(t, nullptr);
        TIFFSetField(t, TIFFTAG_IMAGEWIDTH, 10u);
        TIFFSetField(t, TIFFTAG_IMAGELENGTH, 2u);
        TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, k.bits);
        TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, 1);
        TIFFSetField(t, TIFFTAG_PHOTOMETRIC, k.photometric);
        TIFFSetField(t, TIFFTAG_COMPRESSION, COMPRESSION_LZW);
        std::vector<uint16_t> r(256), g(256), b(256);
        for (int i = 0; i < 256; ++i) {
            r[size_t(i)] = uint16_t(i * 257);
            g[size_t(i)] = uint16_t((255 - i) * 257);
            b[size_t(i)] = uint16_t(0x8080);
        }
        if (k.photometric == PHOTOMETRIC_PALETTE)
            TIFFSetField(t, TIFFTAG_COLORMAP, r.data(), g.data(), b.data());
        // Row 0: sample values 0, 1, 2, ... (masked to the depth); row 1 all
        // the largest value.
        const uint32_t top = (1u << k.bits) - 1u;
        for (uint32_t y = 0; y < 2; ++y) {
            std::vector<uint8_t> row(10, 0);
            for (uint32_t x = 0; x < 10; ++x) {
                const uint32_t v = y == 0 ? (x & top) : top;
                const uint32_t bit = x * k.bits;
                row[bit / 8] = uint8_t(row[bit / 8] | (v << (8 - k.bits - bit % 8)));
            }
            ASSERT_GE(TIFFWriteScanline(t, row.data(), y, 0), 0);
        }
        ASSERT_TRUE(TIFFWriteDirectory(t));
        TIFFClose(t);
        Document d;
        std::string error;
        ASSERT_EQ(Read(file.bytes, &d, &error), ImageRead::Read) << error;
        EXPECT_EQ(d.depth, 8);
        for (uint32_t x = 0; x < 10; ++x) {
            const uint32_t v = x & top;
            if (k.photometric == PHOTOMETRIC_PALETTE) {
                ASSERT_EQ(d.PlaneCount(), 3);
                EXPECT_EQ(d.At(0, int32_t(x), 0), v);
                EXPECT_EQ(d.At(1, int32_t(x), 0), 255 - v);
                EXPECT_EQ(d.At(2, int32_t(x), 0), 0x80);
            } else if (k.bits == 1) {
                ASSERT_EQ(d.PlaneCount(), 3);
                for (int c = 0; c < 3; ++c)
                    EXPECT_EQ(d.At(c, int32_t(x), 0), v ? 255 : 0);
            } else {
                ASSERT_EQ(d.PlaneCount(), 1);
                EXPECT_EQ(d.At(0, int32_t(x), 0), (top - v) * 255 / top);
                EXPECT_EQ(d.At(0, int32_t(x), 1), 0);
            }
        }
    }
}
