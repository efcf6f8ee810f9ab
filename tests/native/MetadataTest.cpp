// What a file holds beside its pixels: read from PNG, JPEG and TIFF files,
// carried into each output format and read back the same; the EXIF
// thumbnail dropped without moving anything else; JPEG quality and chroma
// subsampling as Debian's cjpeg made them; damaged metadata left out, and
// named, without costing the rest.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <unistd.h>
#include <zlib.h>

#include <algorithm>

#include "host/core/ByteStreams.h"
#include "host/core/JpegCodec.h"
#include "tests/common/NativeFiles.h"
#include "engine/Raster.h"
#include "host/core/JpegWriter.h"
#include "host/core/Metadata.h"
#include "host/core/PngReader.h"
#include "host/core/PngWriter.h"
#include "host/core/TiffCodec.h"
#include "tests/common/ExifBlocks.h"

namespace {

std::vector<uint8_t> Text(const std::string &s)
{
    return std::vector<uint8_t>(s.begin(), s.end());
}

Document Gradient(int32_t w, int32_t h, int32_t depth)
{
    Document d = MakeDocument(w, h, 3, depth, depth == 16 ? plugInModeRGB48 : plugInModeRGBColor);
    FillTestPattern(&d, 5);
    return d;
}

std::vector<uint8_t> PngWith(const ImageMetadata &m, std::vector<std::string> *dropped)
{
    std::vector<uint8_t> file;
    std::string error;
    const std::vector<PngChunk> chunks = PngChunksFor(m, dropped);
    EXPECT_TRUE(WritePng(Gradient(40, 30, 8),
                         [&](const uint8_t *b, size_t n) {
                             file.insert(file.end(), b, b + n);
                             return true;
                         },
                         &error, 1, size_t(1) << 20, chunks))
        << error;
    return file;
}

std::vector<uint8_t> JpegWith(const Document &d, const JpegWriteOptions &options)
{
    std::vector<uint8_t> file;
    std::string error;
    EXPECT_TRUE(WriteJpeg(d, options,
                          [&](const uint8_t *b, size_t n) {
                              file.insert(file.end(), b, b + n);
                              return true;
                          },
                          &error))
        << error;
    return file;
}

ImageMetadata Rich()
{
    ImageMetadata m;
    m.icc = exif_blocks::FakeProfile(3000);
    m.iccName = "Display P3";
    m.exif = exif_blocks::Builder(false).Build(true);
    m.xmp = Text("<x:xmpmeta xmlns:x='adobe:ns:meta/'><dc:title>Cliff</dc:title></x:xmpmeta>");
    m.resolution = {Resolution::Unit::Inch, 300, 300};
    return m;
}

std::string Folder()
{
    static const std::string folder = native_files::Folder("metadata");
    return folder;
}

using native_files::Bytes;

} // namespace

TEST(ExifBlock, TheThumbnailAtTheEndIsCutOffAndEverythingElseStaysInPlace)
{
    for (bool big : {false, true}) {
        const std::vector<uint8_t> original = exif_blocks::Builder(big).Build(true);
        std::vector<uint8_t> block = original;
        ASSERT_TRUE(SummariseExif(block.data(), block.size()).hasThumbnail);
        ASSERT_TRUE(DropExifThumbnail(&block));
        const ExifSummary after = SummariseExif(block.data(), block.size());
        EXPECT_TRUE(after.valid);
        EXPECT_EQ(after.bigEndian, big);
        EXPECT_FALSE(after.hasThumbnail);
        EXPECT_EQ(after.orientation, 6);
        const std::vector<uint8_t> without = exif_blocks::Builder(big).Build(false);
        // The same bytes as the block built without one.
        EXPECT_EQ(block, without) << (big ? "big-endian" : "little-endian");
    }
}

TEST(ExifBlock, AThumbnailBeforeOtherValuesIsUnlinkedAndNothingMoves)
{
    const std::vector<uint8_t> original = exif_blocks::Builder(true).Build(true, true);
    std::vector<uint8_t> block = original;
    ASSERT_TRUE(DropExifThumbnail(&block));
    ASSERT_EQ(block.size(), original.size());
    EXPECT_FALSE(SummariseExif(block.data(), block.size()).hasThumbnail);
    size_t differing = 0;
    for (size_t i = 0; i < block.size(); ++i)
        differing += block[i] != original[i];
    EXPECT_GT(differing, 0u);
    EXPECT_LE(differing, 4u);  // the link to IFD1 alone
    EXPECT_NE(std::search(block.begin(), block.end(), std::begin("PhoneMaker"), std::end("PhoneMaker") - 1),
              block.end());
}

TEST(ExifBlock, ABlockThatDoesNotHoldTogetherIsRefusedAndNotCarried)
{
    std::vector<uint8_t> block = exif_blocks::Builder(false).Build(true);
    block[4] = 0xF0;  // IFD0 far past the end
    EXPECT_FALSE(SummariseExif(block.data(), block.size()).valid);
    std::vector<uint8_t> copy = block;
    EXPECT_FALSE(DropExifThumbnail(&copy));
    EXPECT_EQ(copy, block);
    ImageMetadata m;
    m.exif = block;
    std::vector<std::string> dropped;
    for (const PngChunk &c : PngChunksFor(m, &dropped))
        EXPECT_NE(c.type, "eXIf");
    ASSERT_EQ(dropped.size(), 1u);
    EXPECT_NE(dropped[0].find("EXIF data"), std::string::npos);
    // A count that would run a directory past the end, in 64 bits or not.
    std::vector<uint8_t> counted = exif_blocks::Builder(false).Build(false);
    counted[8] = 0xFF, counted[9] = 0xFF;
    EXPECT_FALSE(SummariseExif(counted.data(), counted.size()).valid);
}

TEST(PngMetadata, EverythingCarriedIsReadBackAsItWent)
{
    ImageMetadata m = Rich();
    m.pngColour.push_back({"gAMA", {0, 0, 0xB1, 0x8F}});
    m.pngText.push_back({"tEXt", Text(std::string("Author\0A. Person", 16))});
    m.jpegSegments.push_back({0xFE, Text("shot on a phone")});
    std::vector<std::string> dropped;
    const std::vector<uint8_t> file = PngWith(m, &dropped);
    ASSERT_EQ(dropped.size(), 1u);
    EXPECT_NE(dropped[0].find("thumbnail"), std::string::npos);

    ImageMetadata back;
    ReadPngMetadata(file.data(), file.size(), &back);
    EXPECT_TRUE(back.dropped.empty());
    EXPECT_EQ(back.icc, m.icc);
    EXPECT_EQ(back.iccName, "Display P3");
    EXPECT_EQ(back.exif, exif_blocks::Builder(false).Build(false));
    EXPECT_EQ(back.xmp, m.xmp);
    ASSERT_EQ(back.pngColour.size(), 1u);
    EXPECT_EQ(back.pngColour[0].data, m.pngColour[0].data);
    ASSERT_EQ(back.pngText.size(), 2u);
    EXPECT_EQ(back.pngText[0].data, m.pngText[0].data);
    EXPECT_EQ(back.pngText[1].data, Text(std::string("Comment\0shot on a phone", 23)));
    EXPECT_EQ(back.resolution.unit, Resolution::Unit::Metre);
    EXPECT_EQ(back.resolution.x, 11811);
    // And the pixels are read as before.
    Document d;
    std::string error;
    EXPECT_EQ(ReadPng(file.data(), file.size(), &d, &error), PngRead::Read) << error;
}

TEST(PngMetadata, ADamagedChunkIsLeftOutAndNamedTheRestKept)
{
    ImageMetadata m = Rich();
    m.pngText.push_back({"tEXt", Text(std::string("Title\0Cliff", 11))});
    std::vector<std::string> dropped;
    std::vector<uint8_t> file = PngWith(m, &dropped);
    // The text chunk's last data byte: its checksum no longer matches.
    const auto text = std::search(file.begin(), file.end(), std::begin("tEXt"), std::end("tEXt") - 1);
    ASSERT_NE(text, file.end());
    *(text + 4 + 10) ^= 0x20;
    ImageMetadata back;
    ReadPngMetadata(file.data(), file.size(), &back);
    EXPECT_TRUE(back.pngText.empty());
    EXPECT_EQ(back.icc, m.icc);
    EXPECT_EQ(back.xmp, m.xmp);
    ASSERT_EQ(back.dropped.size(), 1u);
    EXPECT_EQ(back.dropped[0], "the PNG file's tEXt chunk (its checksum is wrong)");

    // A profile whose compressed data is damaged (and its checksum made
    // right): left out, named.
    std::vector<uint8_t> bad = PngWith(m, &dropped);
    const auto iccp = std::search(bad.begin(), bad.end(), std::begin("iCCP"), std::end("iCCP") - 1);
    const size_t at = size_t(iccp - bad.begin());
    const uint32_t length = (uint32_t(bad[at - 4]) << 24) | (bad[at - 3] << 16) | (bad[at - 2] << 8) | bad[at - 1];
    bad[at + 4 + 20] ^= 0xFF;
    const uint32_t crc = uint32_t(crc32(crc32(0L, Z_NULL, 0), &bad[at], 4 + length));
    for (int i = 0; i < 4; ++i)
        bad[at + 4 + length + size_t(i)] = uint8_t(crc >> (24 - 8 * i));
    ImageMetadata profileless;
    ReadPngMetadata(bad.data(), bad.size(), &profileless);
    EXPECT_TRUE(profileless.icc.empty());
    EXPECT_EQ(profileless.xmp, m.xmp);
    ASSERT_FALSE(profileless.dropped.empty());
    EXPECT_NE(profileless.dropped[0].find("colour profile"), std::string::npos);

    // Cut short in the middle of a chunk: what came before is kept.
    ImageMetadata cut;
    ReadPngMetadata(file.data(), size_t(text - file.begin()) + 6, &cut);
    EXPECT_EQ(cut.icc, m.icc);
    ASSERT_FALSE(cut.dropped.empty());
}

TEST(JpegMetadata, ProfileExifXmpAndCommentsGoThroughAJpegUnchanged)
{
    ImageMetadata m = Rich();
    m.icc = exif_blocks::FakeProfile(150000);  // three APP2 segments
    m.jpegSegments.push_back({0xFE, Text("a comment")});
    m.jpegSegments.push_back({0xED, Text(std::string("Photoshop 3.0\0008BIM", 18))});
    JpegWriteOptions options;
    options.quality = 87;
    options.resolution = m.resolution;
    std::vector<std::string> dropped;
    options.segments = JpegSegmentsFor(m, &dropped);
    ASSERT_EQ(dropped.size(), 1u);  // the thumbnail
    const std::vector<uint8_t> file = JpegWith(Gradient(64, 48, 8), options);

    ImageMetadata back;
    ReadJpegMetadata(file.data(), file.size(), &back);
    EXPECT_TRUE(back.dropped.empty());
    EXPECT_EQ(back.icc, m.icc);
    EXPECT_EQ(back.exif, exif_blocks::Builder(false).Build(false));
    EXPECT_EQ(back.xmp, m.xmp);
    ASSERT_EQ(back.jpegSegments.size(), 2u);
    EXPECT_EQ(back.jpegSegments[0].data, m.jpegSegments[0].data);
    EXPECT_EQ(back.jpegSegments[1].marker, 0xED);
    EXPECT_EQ(back.resolution.unit, Resolution::Unit::Inch);
    EXPECT_EQ(back.resolution.x, 300);
    EXPECT_EQ(back.jpegQuality, 87);
    EXPECT_EQ(back.chromaAcross, 1);
    EXPECT_EQ(back.chromaDown, 1);
    Document d;
    std::string error;
    EXPECT_EQ(ReadJpeg(file.data(), file.size(), &d, &error), ImageRead::Read) << error;
}

TEST(JpegMetadata, AProfileWithAMissingPartIsLeftOutAndNamed)
{
    ImageMetadata m;
    m.icc = exif_blocks::FakeProfile(150000);
    std::vector<std::string> dropped;
    JpegWriteOptions options;
    options.segments = JpegSegmentsFor(m, &dropped);
    ASSERT_EQ(options.segments.size(), 3u);
    options.segments.erase(options.segments.begin() + 1);
    options.segments.push_back({0xE1, Text(std::string("Exif\0\0II*\0", 10))});  // cut short
    const std::vector<uint8_t> file = JpegWith(Gradient(16, 16, 8), options);
    ImageMetadata back;
    ReadJpegMetadata(file.data(), file.size(), &back);
    EXPECT_TRUE(back.icc.empty());
    ASSERT_EQ(back.dropped.size(), 1u);
    EXPECT_NE(back.dropped[0].find("colour profile"), std::string::npos);
    // The short EXIF is read as it is, and not carried: it does not hold
    // together.
    std::vector<std::string> again;
    JpegSegmentsFor(back, &again);
    ASSERT_EQ(again.size(), 1u);
    EXPECT_NE(again[0].find("EXIF data"), std::string::npos);
}

TEST(JpegMetadata, QualityAndSubsamplingAreThoseCjpegWasGiven)
{
    const std::string ppm = Folder() + "/q.ppm";
    {
        std::ofstream out(ppm, std::ios::binary);
        out << "P6\n48 32\n255\n";
        for (int i = 0; i < 48 * 32 * 3; ++i)
            out.put(char((i * 37) & 255));
    }
    struct Case {
        int quality;
        const char *sample;
        int across, down;
    };
    for (const Case &c : {Case{12, "2x2", 2, 2}, Case{50, "2x1", 2, 1}, Case{75, "1x1", 1, 1},
                          Case{87, "2x2", 2, 2}, Case{95, "1x2", 1, 2}, Case{100, "1x1", 1, 1}}) {
        const std::string jpg = Folder() + "/q.jpg";
        const std::string command = "cjpeg -quality " + std::to_string(c.quality) + " -sample " + c.sample +
                                    " -outfile '" + jpg + "' '" + ppm + "'";
        ASSERT_EQ(std::system(command.c_str()), 0) << command;
        const std::vector<uint8_t> file = Bytes(jpg);
        ImageMetadata m;
        ReadJpegMetadata(file.data(), file.size(), &m);
        EXPECT_EQ(m.jpegQuality, c.quality) << c.sample;
        EXPECT_EQ(m.chromaAcross, c.across) << c.quality;
        EXPECT_EQ(m.chromaDown, c.down) << c.quality;

        // Written again at that quality and subsampling, the tables and
        // factors are the same.
        JpegWriteOptions options;
        options.quality = m.jpegQuality;
        options.chromaAcross = m.chromaAcross;
        options.chromaDown = m.chromaDown;
        const std::vector<uint8_t> again = JpegWith(Gradient(48, 32, 8), options);
        ImageMetadata m2;
        ReadJpegMetadata(again.data(), again.size(), &m2);
        EXPECT_EQ(m2.jpegQuality, c.quality);
        EXPECT_EQ(m2.chromaAcross, c.across);
        EXPECT_EQ(m2.chromaDown, c.down);
    }
}

TEST(JpegWriter, SixteenBitSamplesAreRoundedToTheNearestEightBitOne)
{
    EXPECT_EQ(Convert16To8(0), 0);
    EXPECT_EQ(Convert16To8(32768), 255);
    EXPECT_EQ(Convert16To8(64), 0);    // 0.498
    EXPECT_EQ(Convert16To8(65), 1);    // 0.506
    EXPECT_EQ(Convert16To8(16384), 128);  // 127.5 rounds up
    // A flat grey at quality 100 decodes to the rounded value exactly.
    Document d = MakeDocument(16, 16, 1, 16, plugInModeGray16);
    for (uint16_t &v : d.planes[0])
        v = 12345;  // 96.07
    JpegWriteOptions options;
    options.quality = 100;
    const std::vector<uint8_t> file = JpegWith(d, options);
    Document back;
    std::string error;
    ASSERT_EQ(ReadJpeg(file.data(), file.size(), &back, &error), ImageRead::Read) << error;
    EXPECT_EQ(back.depth, 8);
    for (uint16_t v : back.planes[0])
        ASSERT_EQ(v, 96);
}

TEST(JpegWriter, TransparencyAndASinkThatFailsAreRefusedInWords)
{
    Document d = MakeDocument(8, 8, 4, 8, plugInModeRGBColor);
    d.hasTransparency = true;
    std::string error;
    EXPECT_FALSE(WriteJpeg(d, {}, [](const uint8_t *, size_t) { return true; }, &error));
    EXPECT_NE(error.find("transparency"), std::string::npos);
    size_t calls = 0;
    EXPECT_FALSE(WriteJpeg(Gradient(300, 300, 8), {}, [&](const uint8_t *, size_t) { return ++calls > 1; }, &error));
    EXPECT_EQ(error, "the file could not be written");
}

TEST(TiffMetadata, ProfileXmpResolutionAndTheExifOrientationGoIntoATiff)
{
    ImageMetadata m = Rich();
    m.resolution = {Resolution::Unit::Metre, 11811, 11811};
    MemorySink sink;
    std::string error;
    std::vector<std::string> dropped;
    ASSERT_TRUE(WriteTiff(Gradient(20, 10, 16), sink, &error, &m, &dropped)) << error;
    EXPECT_TRUE(dropped.empty()) << dropped[0];
    MemorySource source(sink.bytes.data(), sink.bytes.size());
    Document d;
    ImageMetadata back;
    ASSERT_EQ(ReadTiff(source, &d, &error, 30000, &back), ImageRead::Read) << error;
    EXPECT_TRUE(back.dropped.empty());
    EXPECT_EQ(d.PlaneCount(), 3);
    // The camera in the first directory, the date in the EXIF one, no
    // thumbnail.
    std::vector<ExifEntry> first, exif;
    ASSERT_TRUE(ReadExifEntries(back.exif.data(), back.exif.size(), &first, &exif));
    EXPECT_FALSE(SummariseExif(back.exif.data(), back.exif.size()).hasThumbnail);
    EXPECT_EQ(SummariseExif(back.exif.data(), back.exif.size()).orientation, 6);
    std::string make, date;
    for (const ExifEntry &e : first)
        if (e.tag == 271)
            make = e.text;
    for (const ExifEntry &e : exif)
        if (e.tag == 0x9003)
            date = e.text;
    EXPECT_EQ(make, "PhoneMaker");
    EXPECT_EQ(date, "2026:06:01 12:00:00");

    // A GPS directory has no place in the TIFF the host writes: named.
    ImageMetadata located = m;
    std::vector<ExifEntry> gpsFirst, gpsExif;
    ASSERT_TRUE(ReadExifEntries(m.exif.data(), m.exif.size(), &gpsFirst, &gpsExif));
    ExifEntry gps;
    gps.tag = 0x8825;
    gps.type = 4;
    gps.numbers = {8};
    gpsFirst.push_back(gps);
    located.exif = BuildExifBlock(gpsFirst, gpsExif);
    ASSERT_TRUE(SummariseExif(located.exif.data(), located.exif.size()).hasGps);
    MemorySink withGps;
    std::vector<std::string> gpsDropped;
    ASSERT_TRUE(WriteTiff(Gradient(4, 4, 8), withGps, &error, &located, &gpsDropped)) << error;
    ASSERT_EQ(gpsDropped.size(), 1u);
    EXPECT_NE(gpsDropped[0].find("GPS"), std::string::npos);
    EXPECT_EQ(back.icc, m.icc);
    EXPECT_EQ(back.xmp, m.xmp);
    EXPECT_EQ(back.tiffOrientation, 6);
    EXPECT_EQ(back.resolution.unit, Resolution::Unit::Inch);
    EXPECT_FLOAT_EQ(float(back.resolution.x), 300.0f);

    // A TIFF's own orientation and EXIF go through a TIFF as they were.
    MemorySink second;
    ASSERT_TRUE(WriteTiff(d, second, &error, &back, &dropped)) << error;
    MemorySource again(second.bytes.data(), second.bytes.size());
    ImageMetadata third;
    ASSERT_EQ(ReadTiff(again, &d, &error, 30000, &third), ImageRead::Read) << error;
    EXPECT_EQ(third.tiffOrientation, 6);
    EXPECT_EQ(third.icc, m.icc);
    EXPECT_EQ(third.exif, back.exif);
}

TEST(ExifBlock, EntriesReadAndBuiltAgainKeepTheirValues)
{
    std::vector<ExifEntry> first, exif;
    const std::vector<uint8_t> big = exif_blocks::Builder(true).Build(true);
    ASSERT_TRUE(ReadExifEntries(big.data(), big.size(), &first, &exif));
    ExifEntry exposure;
    exposure.tag = 0x829A;
    exposure.type = 5;
    exposure.count = 2;
    exposure.numbers = {1.0 / 250, 4};
    exif.push_back(exposure);
    const std::vector<uint8_t> rebuilt = BuildExifBlock(first, exif);
    std::vector<ExifEntry> first2, exif2;
    ASSERT_TRUE(ReadExifEntries(rebuilt.data(), rebuilt.size(), &first2, &exif2));
    ASSERT_EQ(first2.size(), 2u);  // the make and the orientation; the pointer is made again
    EXPECT_EQ(first2[0].text, "PhoneMaker");
    EXPECT_EQ(first2[1].numbers, std::vector<double>{6});
    ASSERT_EQ(exif2.size(), 2u);
    EXPECT_EQ(exif2[0].tag, 0x829A);
    EXPECT_DOUBLE_EQ(exif2[0].numbers[0], 0.004);
    EXPECT_DOUBLE_EQ(exif2[0].numbers[1], 4);
    EXPECT_EQ(exif2[1].text, "2026:06:01 12:00:00");
    EXPECT_FALSE(SummariseExif(rebuilt.data(), rebuilt.size()).bigEndian);
}

TEST(Resolution, PixelsAMetreBecomeWholeInchesWhereTheyAre)
{
    const Resolution dpi = InInchesOrCentimetres({Resolution::Unit::Metre, 11811, 2835});
    EXPECT_EQ(dpi.unit, Resolution::Unit::Inch);
    EXPECT_EQ(dpi.x, 300);
    EXPECT_EQ(dpi.y, 72);
    const Resolution cm = InInchesOrCentimetres({Resolution::Unit::Metre, 10050, 10050});  // 255.27 dpi
    EXPECT_EQ(cm.unit, Resolution::Unit::Centimetre);
    EXPECT_EQ(cm.x, 100.5);
}
