// filterhost's TIFF and JPEG files under Wine, read by libtiff and
// libjpeg-turbo rather than the platform's codecs: every TIFF layout loads as
// the same image as PNG, JPEG-compressed TIFFs as libtiff decodes them, JPEG
// files exactly as Debian's djpeg decodes them, and a small file that
// declares a huge image is refused within 100 MB of memory.
#include <gtest/gtest.h>

#include <windows.h>
#include <psapi.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "host/files/ImageFile.h"
#include "tests/common/TiffLayouts.h"
#include "tests/win/TestHost.h"

using namespace tiff_layouts;

namespace {

void WriteBytes(const std::string &path, const std::vector<uint8_t> &bytes)
{
    FILE *f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    ASSERT_EQ(std::fwrite(bytes.data(), 1, bytes.size(), f), bytes.size());
    ASSERT_EQ(std::fclose(f), 0);
}

// A PPM as djpeg writes it: width, height and RGB samples.
bool ReadPpm(const std::string &path, int *w, int *h, std::vector<uint8_t> *samples)
{
    std::ifstream in(path, std::ios::binary);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::istringstream header(text);
    std::string magic;
    int max = 0;
    header >> magic >> *w >> *h >> max;
    if (magic != "P6" || max != 255)
        return false;
    const size_t start = size_t(header.tellg()) + 1;
    samples->assign(text.begin() + long(start), text.end());
    return samples->size() == size_t(*w) * size_t(*h) * 3;
}

} // namespace

// Every lossless layout (both byte orders, 8 and 16 bits, strips and tiles,
// chunky and planar-separate, uncompressed, LZW, Deflate and PackBits with
// and without the predictor; grey, grey with alpha, RGB, RGBA) loads as the
// same pixels saved and loaded as PNG.
TEST(CodecFiles, EveryTiffLayoutLoadsAsTheSameImageAsPng)
{
    const std::string tif = TempPath("layout.tif"), png = TempPath("layout.png");
    for (const Layout &l : LosslessLayouts()) {
        SCOPED_TRACE(l.Name());
        const std::vector<uint16_t> samples = Samples(l);
        WriteBytes(tif, Write(l, samples));
        const Document expected = Expected(l, samples);
        std::string error;
        ASSERT_TRUE(SaveImageFile(png, expected, &error)) << error;
        Document fromTiff, fromPng;
        ASSERT_TRUE(LoadImageFile(png, &fromPng, &error)) << error;
        if (!LoadImageFile(tif, &fromTiff, &error)) {
            ADD_FAILURE() << error;
            continue;
        }
        EXPECT_EQ(fromTiff.mode, expected.mode);
        EXPECT_EQ(fromTiff.hasTransparency, expected.hasTransparency);
        EXPECT_EQ(fromTiff.planes, expected.planes);
        const size_t colours = std::min<size_t>(3, fromTiff.planes.size());
        for (size_t p = 0; p < colours && p < fromPng.planes.size(); ++p)
            EXPECT_EQ(fromTiff.planes[p], fromPng.planes[p]) << "plane " << p;
    }
    DeleteFileA(tif.c_str());
    DeleteFileA(png.c_str());
}

// A big-endian file's 16-bit samples (as a Mac writes them) keep their
// values: not byte-swapped.
TEST(CodecFiles, BigEndianSixteenBitTiffsAreNotByteSwapped)
{
    Layout l;
    l.bigEndian = true;
    l.bits = 16;
    l.channels = 3;
    std::vector<uint16_t> samples(size_t(kWidth) * kHeight * 3, 0x1234);
    const std::string tif = TempPath("big-endian.tif");
    WriteBytes(tif, Write(l, samples));
    Document d;
    std::string error;
    ASSERT_TRUE(LoadImageFile(tif, &d, &error)) << error;
    for (int c = 0; c < 3; ++c)
        EXPECT_EQ(d.At(c, 3, 2), FileToHost16(0x1234)) << "not " << FileToHost16(0x3412);
    DeleteFileA(tif.c_str());
}

// JPEG-compressed TIFFs (grey, RGB, subsampled YCbCr; strips and tiles;
// chunky and planar-separate) load, as libtiff's RGBA interface decodes them.
TEST(CodecFiles, JpegCompressedTiffsLoadAsLibtiffDecodesThem)
{
    const std::string tif = TempPath("jpeg-layout.tif");
    for (const Layout &l : JpegLayouts()) {
        SCOPED_TRACE(l.Name());
        const std::vector<uint8_t> file = Write(l, Samples(l));
        WriteBytes(tif, file);
        Document d;
        std::string error;
        ASSERT_TRUE(LoadImageFile(tif, &d, &error)) << error;
        ASSERT_EQ(d.PlaneCount(), l.channels);
        const std::vector<uint32_t> rgba = LibtiffRgba(file);
        ASSERT_FALSE(rgba.empty());
        size_t mismatches = 0;
        for (uint32_t y = 0; y < kHeight; ++y)
            for (uint32_t x = 0; x < kWidth; ++x)
                for (int c = 0; c < l.channels; ++c)
                    mismatches += d.At(c, int32_t(x), int32_t(y)) != ((rgba[size_t(y) * kWidth + x] >> (8 * c)) & 0xFF);
        EXPECT_EQ(mismatches, 0u);
    }
    DeleteFileA(tif.c_str());
}

// A JPEG with hard colour edges, baseline 4:2:0 and progressive, loads as
// exactly the pixels Debian's djpeg decodes from the same file.
TEST(CodecFiles, JpegFilesLoadExactlyAsDjpegDecodesThem)
{
    for (const char *kind : {"baseline", "progressive"}) {
        SCOPED_TRACE(kind);
        int w = 0, h = 0;
        std::vector<uint8_t> expected;
        ASSERT_TRUE(ReadPpm(BesideTests(std::string("edges-") + kind + "-djpeg.ppm"), &w, &h, &expected));
        Document d;
        std::string error;
        ASSERT_TRUE(LoadImageFile(BesideTests(std::string("edges-") + kind + ".jpg"), &d, &error)) << error;
        ASSERT_EQ(d.width, w);
        ASSERT_EQ(d.height, h);
        ASSERT_EQ(d.PlaneCount(), 3);
        int worst = 0;
        size_t mismatches = 0;
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                for (int c = 0; c < 3; ++c) {
                    const int diff = std::abs(int(d.At(c, x, y)) - int(expected[(size_t(y) * size_t(w) + size_t(x)) * 3 + size_t(c)]));
                    worst = std::max(worst, diff);
                    mismatches += diff != 0;
                }
        EXPECT_EQ(mismatches, 0u) << "up to " << worst << " levels off";
    }
}

// A 3 KB TIFF declaring 12000 x 12000 or 30000 x 30000 RGB pixels (its
// strip Deflate- or LZW-compressed, or uncompressed) is refused, and the
// process's working set never grows by 100 MB on the way.
TEST(CodecFiles, ASmallTiffDeclaringAHugeImageIsRefusedWithinAHundredMegabytes)
{
    const std::string path = TempPath("lying.tif");
    for (uint32_t side : {12000u, 30000u})
        for (uint16_t coding : {COMPRESSION_ADOBE_DEFLATE, COMPRESSION_LZW, COMPRESSION_NONE}) {
            SCOPED_TRACE(std::to_string(side) + " a side, compression " + std::to_string(coding));
            const std::vector<uint8_t> file = LyingTiff(side, coding, 3000);
            ASSERT_LT(file.size(), 3200u);
            WriteBytes(path, file);
            PROCESS_MEMORY_COUNTERS before = {}, after = {};
            before.cb = after.cb = sizeof before;
            ASSERT_TRUE(GetProcessMemoryInfo(GetCurrentProcess(), &before, sizeof before));
            Document d;
            std::string error;
            const bool loaded = LoadImageFile(path, &d, &error);
            ASSERT_TRUE(GetProcessMemoryInfo(GetCurrentProcess(), &after, sizeof after));
            EXPECT_FALSE(loaded);
            const bool cannotHold = error.find("its data cannot hold the " + std::to_string(side) + " x " +
                                               std::to_string(side) + " image it declares") != std::string::npos;
#ifdef _WIN64
            EXPECT_TRUE(cannotHold) << error;
#else
            // A 32-bit libtiff cannot size a single strip of 2.7 GB at all,
            // and says so when it opens the file.
            EXPECT_TRUE(cannotHold || (side == 30000 && error.find("it is a TIFF that cannot be opened (Integer overflow")
                                                            != std::string::npos))
                << error;
#endif
            const double grewMb = (double(after.PeakWorkingSetSize) - double(before.WorkingSetSize)) / (1024.0 * 1024.0);
            EXPECT_LT(grewMb, 100.0);
            std::printf("[ measured ] %u x %u, compression %u: peak working set %.1f MB above the start\n", side, side,
                        unsigned(coding), grewMb);
        }
    DeleteFileA(path.c_str());
}

// A TIFF that is not read is named for what it is; a TIFF written by the
// host reads back the same through libtiff, in the host and outside it.
TEST(CodecFiles, RefusedTiffsAreNamedAndWrittenTiffsReadBack)
{
    MemoryFile file;
    TIFF *t = TIFFClientOpen("float", "wb", &file, MemoryFile::Read, MemoryFile::Write, MemoryFile::Seek,
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
    const std::string path = TempPath("float.tif");
    WriteBytes(path, file.bytes);
    Document d;
    std::string error;
    EXPECT_FALSE(LoadImageFile(path, &d, &error));
    EXPECT_NE(error.find("float.tif: it is a TIFF with planar-separate 32-bit float samples"), std::string::npos)
        << error;

    Document sixteen = MakeDocument(123, 77, 3, 16, plugInModeRGB48);
    FillTestPattern(&sixteen, 3);
    const std::string out = TempPath("written.tif");
    ASSERT_TRUE(SaveImageFile(out, sixteen, &error)) << error;
    ASSERT_TRUE(LoadImageFile(out, &d, &error)) << error;
    EXPECT_EQ(d.planes, sixteen.planes);
    // Outside the host: libtiff's own RGBA reading of the file's 16-bit
    // samples (rounded to 8 bits).
    std::ifstream in(out, std::ios::binary);
    const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    MemoryFile written;
    written.bytes = bytes;
    TIFF *r = TIFFClientOpen("written", "rm", &written, MemoryFile::Read, MemoryFile::Write, MemoryFile::Seek,
                             MemoryFile::Close, MemoryFile::Size, MemoryFile::Map, MemoryFile::Unmap);
    ASSERT_NE(r, nullptr);
    std::vector<uint32_t> rgba(123 * 77);
    ASSERT_EQ(TIFFReadRGBAImageOriented(r, 123, 77, rgba.data(), ORIENTATION_TOPLEFT, 0), 1);
    TIFFClose(r);
    for (int x = 0; x < 123; ++x)
        EXPECT_EQ(rgba[5 * 123 + size_t(x)] & 0xFF, (uint32_t(HostToFile16(sixteen.At(0, x, 5))) + 128) / 257)
            << x;
    for (const std::string &p : {path, out})
        DeleteFileA(p.c_str());
}
