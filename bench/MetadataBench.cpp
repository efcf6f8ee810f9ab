// Speed figures for what a photograph carries beside its pixels, on a PNG
// photograph made into a phone-style JPEG (4:2:0, quality 90) with a 64 KB
// EXIF block and a 3 KB colour profile: reading the metadata, making each
// output format's chunks and segments, against decoding the JPEG; and
// writing the photograph as JPEG against writing it as PNG. Prints, never
// judges.
//
//   metadata_bench PHOTO.png
#include <cstdio>
#include <string>
#include <vector>

#include "bench/BenchClock.h"
#include "bench/BenchFiles.h"
#include "host/core/JpegCodec.h"
#include "host/core/JpegWriter.h"
#include "host/core/Metadata.h"
#include "host/core/Parallel.h"
#include "host/core/PngReader.h"
#include "host/core/PngWriter.h"
#include "tests/common/ExifBlocks.h"

namespace {

// An EXIF block of about 64 KB: the test block, and a maker's note of
// filler in its own directory's value, as a camera writes one.
std::vector<uint8_t> LargeExif()
{
    std::vector<uint8_t> block = exif_blocks::Builder(false).Build(false);
    block.resize(65000 - 6, 0x5A);
    return block;
}

} // namespace

int main(int argc, char **argv)
{
    std::vector<uint8_t> file;
    Document document;
    std::string error;
    if (argc != 2 || !ReadWholeFile(argv[1], &file) || ReadPng(file.data(), file.size(), &document, &error) != PngRead::Read) {
        std::fprintf(stderr, "usage: metadata_bench PHOTO.png (an RGB PNG)\n");
        return 2;
    }
    ImageMetadata source;
    source.exif = LargeExif();
    source.icc = exif_blocks::FakeProfile(3144);
    const std::string xmp = "<x:xmpmeta xmlns:x='adobe:ns:meta/'><dc:title>photo</dc:title></x:xmpmeta>";
    source.xmp.assign(xmp.begin(), xmp.end());
    source.resolution = {Resolution::Unit::Inch, 72, 72};
    std::vector<std::string> dropped;
    JpegWriteOptions options;
    options.quality = 90;
    options.chromaAcross = options.chromaDown = 2;
    options.segments = JpegSegmentsFor(source, &dropped);
    std::vector<uint8_t> jpeg;
    auto toJpeg = [&](const uint8_t *b, size_t n) {
        jpeg.insert(jpeg.end(), b, b + n);
        return true;
    };
    if (!WriteJpeg(document, options, toJpeg, &error)) {
        std::fprintf(stderr, "metadata_bench: %s\n", error.c_str());
        return 1;
    }
    std::printf("  %d x %d, %.1f MP; as JPEG (quality 90, 4:2:0) %.1f MB with %zu bytes of EXIF and %zu of profile\n",
                document.width, document.height, double(document.width) * document.height / 1e6, jpeg.size() / 1e6,
                source.exif.size(), source.icc.size());

    ImageMetadata read;
    const double readSeconds = BestSeconds(5, [&] {
        read = ImageMetadata();
        ReadJpegMetadata(jpeg.data(), jpeg.size(), &read);
    });
    size_t carried = 0;
    const double carrySeconds = BestSeconds(5, [&] {
        std::vector<std::string> notes;
        carried = 0;
        for (const JpegSegment &s : JpegSegmentsFor(read, &notes))
            carried += s.data.size();
        for (const PngChunk &c : PngChunksFor(read, &notes))
            carried += c.data.size();
    });
    Document decoded;
    const double decodeSeconds = BestSeconds(3, [&] { ReadJpeg(jpeg.data(), jpeg.size(), &decoded, &error); });
    std::printf("  metadata: read %.3f ms, made into JPEG segments and PNG chunks %.3f ms (%zu bytes); decoding the "
                "JPEG %.0f ms: the metadata is %.3f%% of the decoding alone\n",
                readSeconds * 1e3, carrySeconds * 1e3, carried, decodeSeconds * 1e3,
                100 * (readSeconds + carrySeconds) / decodeSeconds);

    // The same photograph written both ways, as the host writes them.
    size_t jpegBytes = 0, pngBytes = 0;
    const double jpegSeconds = BestSeconds(3, [&] {
        jpegBytes = 0;
        WriteJpeg(decoded, options, [&](const uint8_t *, size_t n) { jpegBytes += n; return true; }, &error);
    });
    const double pngSeconds = BestSeconds(3, [&] {
        pngBytes = 0;
        WritePng(decoded, [&](const uint8_t *, size_t n) { pngBytes += n; return true; }, &error,
                 parallel::ThreadCount());
    });
    std::printf("  writing: JPEG %.0f ms (%.1f MB), PNG on %d thread(s) %.0f ms (%.1f MB)\n", jpegSeconds * 1e3,
                jpegBytes / 1e6, parallel::ThreadCount(), pngSeconds * 1e3, pngBytes / 1e6);
    return 0;
}
