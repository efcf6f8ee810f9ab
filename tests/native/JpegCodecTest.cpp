// The host's JPEG reading through libjpeg-turbo: files made by Debian's
// cjpeg in each kind (subsampled, progressive, arithmetic, grey, RGB, with
// restarts) decode to exactly the pixels Debian's djpeg gives; a truncated
// file and one whose data cannot hold its declared image are refused, the
// latter without costing its memory.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include <unistd.h>

#include "host/core/JpegCodec.h"
#include "tests/common/NativeFiles.h"
#include "tests/common/PeakHeap.h"

namespace {

std::string Folder()
{
    static const std::string folder = native_files::Folder("jpeg");
    return folder;
}

using native_files::Bytes;

// A PPM with hard colour edges, stripes and gradients.
void WriteEdges(const std::string &path, int w, int h)
{
    std::ofstream out(path, std::ios::binary);
    out << "P6\n" << w << " " << h << "\n255\n";
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            uint8_t rgb[3];
            if ((x / 5 + y / 7) % 2 == 0) {
                rgb[0] = 230; rgb[1] = 20; rgb[2] = 30;
            } else if (x > y) {
                rgb[0] = 10; rgb[1] = 40; rgb[2] = 220;
            } else {
                rgb[0] = uint8_t(x * 2); rgb[1] = uint8_t(255 - y * 3); rgb[2] = uint8_t((x * y) & 0xFF);
            }
            out.write(reinterpret_cast<const char *>(rgb), 3);
        }
}

// A PPM or PGM as djpeg writes it: channels, then samples row by row.
bool ReadPnm(const std::string &path, int *w, int *h, int *channels, std::vector<uint8_t> *samples)
{
    const std::vector<uint8_t> b = Bytes(path);
    std::string text(b.begin(), b.end());
    std::istringstream in(text);
    std::string magic;
    int max = 0;
    in >> magic >> *w >> *h >> max;
    if ((magic != "P6" && magic != "P5") || max != 255)
        return false;
    *channels = magic == "P6" ? 3 : 1;
    const size_t start = size_t(in.tellg()) + 1;
    samples->assign(b.begin() + long(start), b.end());
    return samples->size() == size_t(*w) * size_t(*h) * size_t(*channels);
}

} // namespace

TEST(JpegCodec, DecodesExactlyAsDebiansDjpeg)
{
    const std::string ppm = Folder() + "/edges.ppm";
    WriteEdges(ppm, 97, 61);
    for (const char *options : {"-quality 90", "-quality 75 -sample 2x1", "-quality 95 -sample 1x1",
                                "-quality 85 -progressive", "-quality 85 -arithmetic", "-quality 90 -grayscale",
                                "-quality 90 -rgb", "-quality 80 -restart 1"}) {
        SCOPED_TRACE(options);
        const std::string jpg = Folder() + "/edges.jpg", ref = Folder() + "/edges-djpeg.pnm";
        ASSERT_EQ(std::system(("cjpeg " + std::string(options) + " -outfile '" + jpg + "' '" + ppm + "'").c_str()), 0);
        ASSERT_EQ(std::system(("djpeg -pnm -outfile '" + ref + "' '" + jpg + "'").c_str()), 0);
        int w = 0, h = 0, channels = 0;
        std::vector<uint8_t> expected;
        ASSERT_TRUE(ReadPnm(ref, &w, &h, &channels, &expected));
        const std::vector<uint8_t> file = Bytes(jpg);
        Document d;
        std::string error;
        ASSERT_EQ(ReadJpeg(file.data(), file.size(), &d, &error), ImageRead::Read) << error;
        ASSERT_EQ(d.width, w);
        ASSERT_EQ(d.height, h);
        ASSERT_EQ(d.PlaneCount(), channels);
        EXPECT_EQ(d.mode, channels == 1 ? plugInModeGrayScale : plugInModeRGBColor);
        size_t mismatches = 0;
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                for (int c = 0; c < channels; ++c)
                    mismatches += d.At(c, x, y) != expected[(size_t(y) * size_t(w) + size_t(x)) * size_t(channels) + size_t(c)];
        EXPECT_EQ(mismatches, 0u);
    }
}

TEST(JpegCodec, ATruncatedFileIsRefused)
{
    const std::string ppm = Folder() + "/cut.ppm", jpg = Folder() + "/cut.jpg";
    WriteEdges(ppm, 200, 120);
    ASSERT_EQ(std::system(("cjpeg -quality 90 -outfile '" + jpg + "' '" + ppm + "'").c_str()), 0);
    std::vector<uint8_t> file = Bytes(jpg);
    file.resize(file.size() / 2);
    Document d;
    std::string error;
    EXPECT_EQ(ReadJpeg(file.data(), file.size(), &d, &error), ImageRead::Refused);
    EXPECT_NE(error.find("the file ends before its image does"), std::string::npos) << error;
    EXPECT_TRUE(d.planes.empty());

    const uint8_t notJpeg[] = {0xFF, 0xD8, 0x00};
    EXPECT_EQ(ReadJpeg(notJpeg, sizeof notJpeg, &d, &error), ImageRead::NotThisKind);
}

// A small JPEG whose frame header is made to declare 12000 x 12000 or
// 30000 x 30000 pixels is refused, and the read costs well under 100 MB.
TEST(JpegCodec, ADeclaredSizeTheDataCannotHoldIsRefusedWithoutItsMemory)
{
    const std::string ppm = Folder() + "/small.ppm", jpg = Folder() + "/small.jpg";
    WriteEdges(ppm, 64, 48);
    ASSERT_EQ(std::system(("cjpeg -quality 90 -outfile '" + jpg + "' '" + ppm + "'").c_str()), 0);
    const std::vector<uint8_t> original = Bytes(jpg);
    ASSERT_LT(original.size(), 5000u);
    for (uint16_t side : {uint16_t(12000), uint16_t(30000)}) {
        std::vector<uint8_t> file = original;
        size_t sof = 0;
        for (size_t i = 2; i + 9 < file.size(); ++i)
            if (file[i] == 0xFF && file[i + 1] == 0xC0) {
                sof = i;
                break;
            }
        ASSERT_NE(sof, 0u);
        file[sof + 5] = uint8_t(side >> 8);
        file[sof + 6] = uint8_t(side);
        file[sof + 7] = uint8_t(side >> 8);
        file[sof + 8] = uint8_t(side);
        Document d;
        std::string error;
        ImageRead answer = ImageRead::Read;
#ifdef UMBROLUX_PEAK_HEAP
        const long long peak = peak_heap::Measure([&] { answer = ReadJpeg(file.data(), file.size(), &d, &error); });
        EXPECT_LT(peak, 100ll << 20);
        std::printf("[ measured ] %u a side: %.1f KB of heap at the peak\n", unsigned(side), double(peak) / 1024.0);
#else
        answer = ReadJpeg(file.data(), file.size(), &d, &error);
#endif
        EXPECT_EQ(answer, ImageRead::Refused);
        EXPECT_NE(error.find("its data cannot hold the " + std::to_string(side) + " x " + std::to_string(side) +
                             " image it declares"),
                  std::string::npos)
            << error;
    }
}
