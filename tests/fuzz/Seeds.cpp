// Writes the fuzzers' starting inputs, one folder per fuzzer, from the same
// builders the tests use: small PNGs from the host's writer, hand-made
// module files, the published property list and terminology, version
// records and a settings file.
//
//   fuzz_seeds FOLDER
#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/stat.h>
#include <vector>

#include <jpeglib.h>

#include "host/core/JpegWriter.h"
#include "host/core/PngWriter.h"
#include "settings/SettingsCodec.h"
#include "tests/common/ExifBlocks.h"
#include "tests/common/ResourceBytes.h"
#include "tests/common/TiffLayouts.h"
#include "tests/common/TinyModules.h"

namespace {

bool Write(const std::string &path, const std::vector<uint8_t> &bytes)
{
    FILE *f = std::fopen(path.c_str(), "wb");
    if (f == nullptr)
        return false;
    const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return std::fclose(f) == 0 && ok;
}

std::vector<uint8_t> Png(int32_t width, int32_t height, int32_t planes, int32_t depth, int16_t mode, int pieces = 1)
{
    Document d = MakeDocument(width, height, planes, depth, mode);
    FillTestPattern(&d, 1);
    std::vector<uint8_t> file;
    std::string error;
    WritePng(d, [&](const uint8_t *b, size_t n) {
        file.insert(file.end(), b, b + n);
        return true;
    }, &error, pieces, 1);
    return file;
}

std::vector<uint8_t> FromHex(const std::string &hex)
{
    std::vector<uint8_t> bytes;
    for (size_t i = 0; i + 1 < hex.size(); i += 2)
        bytes.push_back(uint8_t(std::stoi(hex.substr(i, 2), nullptr, 16)));
    return bytes;
}

std::vector<uint8_t> Tiff(uint16_t compression, bool predictor, bool separate, bool tiled, int channels, int bits,
                          bool ycbcr = false)
{
    tiff_layouts::Layout l;
    l.compression = compression;
    l.predictor = predictor;
    l.separate = separate;
    l.tiled = tiled;
    l.channels = channels;
    l.bits = bits;
    l.ycbcr = ycbcr;
    l.bigEndian = bits == 16;
    return tiff_layouts::Write(l, tiff_layouts::Samples(l));
}

// A small JPEG from libjpeg's encoder: colour 4:2:0, or progressive.
std::vector<uint8_t> Jpeg(bool progressive)
{
    jpeg_compress_struct info{};
    jpeg_error_mgr errors{};
    info.err = jpeg_std_error(&errors);
    jpeg_create_compress(&info);
    unsigned char *out = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&info, &out, &size);
    info.image_width = 19;
    info.image_height = 13;
    info.input_components = 3;
    info.in_color_space = JCS_RGB;
    jpeg_set_defaults(&info);
    if (progressive)
        jpeg_simple_progression(&info);
    jpeg_start_compress(&info, TRUE);
    std::vector<uint8_t> row(19 * 3);
    while (info.next_scanline < info.image_height) {
        for (size_t i = 0; i < row.size(); ++i)
            row[i] = uint8_t(i * 13 + info.next_scanline * 7);
        JSAMPROW rows[1] = {row.data()};
        jpeg_write_scanlines(&info, rows, 1);
    }
    jpeg_finish_compress(&info);
    std::vector<uint8_t> bytes(out, out + size);
    jpeg_destroy_compress(&info);
    free(out);
    return bytes;
}

// Metadata of every kind the host carries, small.
ImageMetadata Metadata()
{
    ImageMetadata m;
    m.icc = exif_blocks::FakeProfile(300);
    m.exif = exif_blocks::Builder(false).Build(true);
    const std::string xmp = "<x:xmpmeta xmlns:x='adobe:ns:meta/'/>";
    m.xmp.assign(xmp.begin(), xmp.end());
    m.pngColour.push_back({"gAMA", {0, 0, 0xB1, 0x8F}});
    m.pngText.push_back({"tEXt", {'T', 'i', 't', 'l', 'e', 0, 'x'}});
    m.jpegSegments.push_back({0xFE, {'h', 'i'}});
    m.resolution = {Resolution::Unit::Inch, 300, 300};
    return m;
}

std::vector<uint8_t> PngWithMetadata()
{
    Document d = MakeDocument(3, 2, 3, 8, plugInModeRGBColor);
    std::vector<uint8_t> file;
    std::string error;
    std::vector<std::string> dropped;
    WritePng(d, [&](const uint8_t *b, size_t n) {
        file.insert(file.end(), b, b + n);
        return true;
    }, &error, 1, size_t(1) << 20, PngChunksFor(Metadata(), &dropped));
    return file;
}

std::vector<uint8_t> JpegWithMetadata()
{
    Document d = MakeDocument(8, 8, 3, 8, plugInModeRGBColor);
    JpegWriteOptions options;
    options.chromaAcross = options.chromaDown = 2;
    std::vector<std::string> dropped;
    options.segments = JpegSegmentsFor(Metadata(), &dropped);
    std::vector<uint8_t> file;
    std::string error;
    WriteJpeg(d, options, [&](const uint8_t *b, size_t n) {
        file.insert(file.end(), b, b + n);
        return true;
    }, &error);
    return file;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: fuzz_seeds FOLDER\n");
        return 2;
    }
    const std::string root = argv[1];
    struct Seed {
        const char *fuzzer, *name;
        std::vector<uint8_t> bytes;
    };
    // A version record whose string entry of binary type runs past its end.
    const std::string record = "920034000000560053005f00560045005200530049004f004e005f0049004e0046004f0000000000bd04effe" +
                               std::string(96, '0') +
                               "36000000010053007400720069006e006700460069006c00650049006e0066006f000000120000000100"
                               "00000a000200000000005858";
    const float tones[3] = {0.1f, 2.0f, 200.0f};
    uint8_t settings[16] = {};
    const size_t settingsSize = EncodeSettings(kSettingsMagic, tones, sizeof tones, settings, sizeof settings);
    const std::vector<Seed> seeds = {
        {"png", "rgb8.png", Png(5, 4, 3, 8, plugInModeRGBColor)},
        {"png", "grey16.png", Png(3, 3, 1, 16, plugInModeGray16)},
        {"png", "pieces.png", Png(6, 9, 3, 8, plugInModeRGBColor, 3)},
        {"tiff", "lzw-predictor-separate-tiles.tif", Tiff(COMPRESSION_LZW, true, true, true, 4, 8)},
        {"tiff", "deflate-16-strips.tif", Tiff(COMPRESSION_ADOBE_DEFLATE, true, false, false, 3, 16)},
        {"tiff", "packbits-grey.tif", Tiff(COMPRESSION_PACKBITS, false, false, false, 2, 8)},
        {"tiff", "jpeg-ycbcr.tif", Tiff(COMPRESSION_JPEG, false, false, true, 3, 8, true)},
        {"jpeg", "baseline.jpg", Jpeg(false)},
        {"jpeg", "progressive.jpg", Jpeg(true)},
        {"pngmeta", "metadata.png", PngWithMetadata()},
        {"jpegmeta", "metadata.jpg", JpegWithMetadata()},
        {"exif", "little-thumbnail.exif", exif_blocks::Builder(false).Build(true)},
        {"exif", "big-thumbnail-first.exif", exif_blocks::Builder(true).Build(true, true)},
        {"module", "tiny.dll", TinyDll()},
        {"module", "resources.dll", DllWithResources(2)},
        {"pipl", "filter.pipl", resource_bytes::FilterPropertyList("kvr1", true).Build()},
        {"aete", "filter.aete", resource_bytes::FilterTerminology()},
        {"version", "binary-string.rc", FromHex(record)},
        {"settings", "tones.bin", std::vector<uint8_t>(settings, settings + settingsSize)},
        {"settings", "typed.txt", {'2', '.', '5', '0'}},
        // A 90 x 70 document at 8 bits, its middle read at a third of its size.
        {"delivered", "view.bin", {89, 69, 0, 20, 15, 60, 50, 22, 29, 200, 1, 7, 9, 200, 13}},
    };
    for (const Seed &seed : seeds) {
        const std::string folder = root + "/" + seed.fuzzer;
        mkdir(root.c_str(), 0755);
        mkdir(folder.c_str(), 0755);
        if (!Write(folder + "/" + seed.name, seed.bytes)) {
            std::fprintf(stderr, "fuzz_seeds: cannot write %s/%s\n", folder.c_str(), seed.name);
            return 1;
        }
    }
    return 0;
}
