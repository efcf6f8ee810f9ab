// The host's PNG writer, read back by a reader written here from the file
// format: chunk lengths and CRCs, the header, and the rows inflated and
// unfiltered, sample for sample.
#include <gtest/gtest.h>
#include <zlib.h>

#include <cstring>
#include <string>
#include <vector>

#include "host/core/Parallel.h"
#include "host/core/PngReader.h"
#include "host/core/PngWriter.h"

namespace {

uint32_t BigEndian32(const uint8_t *p)
{
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | uint32_t(p[3]);
}

struct Chunk {
    std::string type;
    std::vector<uint8_t> data;
};

// Splits the file into chunks, checking the signature and every CRC.
std::vector<Chunk> ReadChunks(const std::vector<uint8_t> &file)
{
    static const uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    std::vector<Chunk> chunks;
    EXPECT_GE(file.size(), 8u);
    EXPECT_EQ(std::memcmp(file.data(), kSignature, 8), 0);
    size_t at = 8;
    while (at + 12 <= file.size()) {
        const uint32_t length = BigEndian32(&file[at]);
        EXPECT_LE(at + 12 + length, file.size());
        if (at + 12 + length > file.size())
            break;
        Chunk c{std::string(reinterpret_cast<const char *>(&file[at + 4]), 4),
                std::vector<uint8_t>(file.begin() + long(at) + 8, file.begin() + long(at) + 8 + long(length))};
        const uLong crc = crc32(0L, &file[at + 4], uInt(4 + length));
        EXPECT_EQ(BigEndian32(&file[at + 8 + length]), uint32_t(crc)) << c.type;
        chunks.push_back(std::move(c));
        at += 12 + length;
    }
    EXPECT_EQ(at, file.size());
    return chunks;
}

// Decodes a file of this writer's kinds back into a document (file samples
// brought to the host's range).
Document ReadBack(const std::vector<uint8_t> &file)
{
    const std::vector<Chunk> chunks = ReadChunks(file);
    Document d;
    if (chunks.size() < 3 || chunks.front().type != "IHDR" || chunks.back().type != "IEND") {
        ADD_FAILURE() << "chunks out of order";
        return d;
    }
    const std::vector<uint8_t> &h = chunks.front().data;
    EXPECT_EQ(h.size(), 13u);
    const int32_t width = int32_t(BigEndian32(&h[0])), height = int32_t(BigEndian32(&h[4]));
    const int depth = h[8], channels = h[9] == 6 ? 4 : h[9] == 2 ? 3 : 1;
    EXPECT_TRUE(h[9] == 6 || h[9] == 2 || h[9] == 0);
    EXPECT_EQ(h[10] | h[11] | h[12], 0);
    std::vector<uint8_t> deflated;
    for (size_t i = 1; i + 1 < chunks.size(); ++i) {
        if (chunks[i].type[0] >= 'a' && chunks[i].type[0] <= 'z')
            continue;  // ancillary: a reader may pass over it
        EXPECT_EQ(chunks[i].type, "IDAT");
        deflated.insert(deflated.end(), chunks[i].data.begin(), chunks[i].data.end());
    }
    const size_t bytesPerPixel = size_t(channels) * size_t(depth / 8);
    const size_t rowBytes = 1 + size_t(width) * bytesPerPixel;
    std::vector<uint8_t> raw(rowBytes * size_t(height) + 1);
    uLongf rawSize = uLongf(raw.size());
    EXPECT_EQ(uncompress(raw.data(), &rawSize, deflated.data(), uLong(deflated.size())), Z_OK);
    EXPECT_EQ(rawSize, rowBytes * size_t(height));

    d = MakeDocument(width, height, channels, depth, channels >= 3 ? (depth == 16 ? plugInModeRGB48 : plugInModeRGBColor)
                                                                   : (depth == 16 ? plugInModeGray16 : plugInModeGrayScale));
    d.hasTransparency = channels == 4;
    std::vector<uint8_t> previous(rowBytes - 1, 0), current(rowBytes - 1);
    for (int32_t y = 0; y < height; ++y) {
        const uint8_t *row = &raw[size_t(y) * rowBytes];
        const uint8_t filter = row[0];
        EXPECT_LE(filter, 4);
        for (size_t i = 0; i < rowBytes - 1; ++i) {
            const uint8_t a = i >= bytesPerPixel ? current[i - bytesPerPixel] : 0, b = previous[i];
            const uint8_t c = i >= bytesPerPixel ? previous[i - bytesPerPixel] : 0;
            const int p = a + b - c, pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
            const uint8_t predictor = filter == 1 ? a : filter == 2 ? b : filter == 3 ? uint8_t((a + b) / 2)
                                    : filter == 4 ? (pa <= pb && pa <= pc ? a : pb <= pc ? b : c) : 0;
            current[i] = uint8_t(row[1 + i] + predictor);
        }
        for (int32_t x = 0; x < width; ++x)
            for (int ch = 0; ch < channels; ++ch) {
                const uint8_t *s = &current[size_t(x) * bytesPerPixel + size_t(ch) * size_t(depth / 8)];
                d.At(ch, x, y) = depth == 16 ? FileToHost16(uint16_t(s[0] << 8 | s[1])) : s[0];
            }
        previous = current;
    }
    return d;
}

std::vector<uint8_t> Written(const Document &d, std::string *error, size_t refuseAfter = SIZE_MAX, int threads = 1,
                             size_t pieceBytes = size_t(1) << 20)
{
    std::vector<uint8_t> file;
    if (!WritePng(d, [&](const uint8_t *bytes, size_t size) {
            if (file.size() + size > refuseAfter)
                return false;
            file.insert(file.end(), bytes, bytes + size);
            return true;
        }, error, threads, pieceBytes))
        file.clear();
    return file;
}

} // namespace

TEST(PngWriter, EveryKindComesBackSampleForSample)
{
    struct Kind { int32_t planes, depth; int16_t mode; };
    for (const Kind &k : {Kind{3, 8, plugInModeRGBColor}, Kind{3, 16, plugInModeRGB48},
                          Kind{4, 8, plugInModeRGBColor}, Kind{4, 16, plugInModeRGB48},
                          Kind{1, 8, plugInModeGrayScale}, Kind{1, 16, plugInModeGray16}}) {
        // Wide enough for rows of several IDAT chunks at 16 bits, and a
        // pattern with edges, flat parts and both ends of the range; four
        // planes are colour and transparency.
        Document d = MakeDocument(301, 97, k.planes, k.depth, k.mode);
        FillTestPattern(&d, 5);
        d.hasTransparency = k.planes == 4;
        d.At(0, 0, 0) = 0;
        d.At(0, 1, 0) = uint16_t(d.MaxSample());
        std::string error;
        const std::vector<uint8_t> file = Written(d, &error);
        ASSERT_FALSE(file.empty()) << error;
        const Document back = ReadBack(file);
        EXPECT_EQ(back.width, d.width);
        EXPECT_EQ(back.height, d.height);
        EXPECT_EQ(back.depth, d.depth);
        EXPECT_EQ(back.planes, d.planes) << k.planes << " plane(s), " << k.depth << " bits";
        EXPECT_EQ(back.hasTransparency, d.hasTransparency) << k.planes << " plane(s)";
    }
}

TEST(PngWriter, LargeImagesSpanSeveralDataChunks)
{
    Document d = MakeDocument(1200, 400, 3, 16, plugInModeRGB48);
    uint32_t state = 12345;
    for (auto &plane : d.planes)
        for (uint16_t &v : plane) {
            state = state * 1664525u + 1013904223u;  // noise does not compress
            v = uint16_t((state >> 8) % 32769u);
        }
    std::string error;
    const std::vector<uint8_t> file = Written(d, &error);
    ASSERT_FALSE(file.empty()) << error;
    size_t dataChunks = 0;
    for (const Chunk &c : ReadChunks(file))
        dataChunks += c.type == "IDAT" ? 1 : 0;
    EXPECT_GT(dataChunks, 4u);
    EXPECT_EQ(ReadBack(file).planes, d.planes);
}

TEST(PngWriter, RefusesWhatAPngCannotHoldAndStopsWhenTheSinkFails)
{
    std::string error;
    EXPECT_TRUE(Written(MakeDocument(0, 5, 3, 8, plugInModeRGBColor), &error).empty());
    EXPECT_FALSE(error.empty());
    EXPECT_TRUE(Written(MakeDocument(4, 4, 0, 8, plugInModeRGBColor), &error).empty());
    EXPECT_TRUE(Written(MakeDocument(4, 4, 3, 12, plugInModeRGBColor), &error).empty());

    Document d = MakeDocument(64, 64, 3, 8, plugInModeRGBColor);
    FillTestPattern(&d, 2);
    for (size_t refuseAfter : {size_t(0), size_t(8), size_t(40), size_t(200)}) {
        error.clear();
        EXPECT_TRUE(Written(d, &error, refuseAfter).empty()) << refuseAfter;
        EXPECT_EQ(error, "cannot write the file") << refuseAfter;
    }
}

// Deflated in pieces, one per thread, joined into one stream: every size
// (one row, one column, odd ones), both depths and kinds, and every piece
// count read back, with zlib alone and with the host's reader, as the one
// piece of a single thread does.
TEST(PngWriter, PiecesOnSeveralThreadsDecodeToTheSamePixels)
{
    struct Kind { int32_t planes, depth; int16_t mode; };
    struct Size { int32_t width, height; };
    for (const Kind &k : {Kind{3, 8, plugInModeRGBColor}, Kind{3, 16, plugInModeRGB48},
                          Kind{1, 8, plugInModeGrayScale}, Kind{1, 16, plugInModeGray16}})
        for (const Size &size : {Size{1, 1}, Size{1, 9}, Size{5, 2}, Size{3, 7}, Size{301, 97}, Size{64, 13}}) {
            Document d = MakeDocument(size.width, size.height, k.planes, k.depth, k.mode);
            FillTestPattern(&d, 7);
            std::string error;
            const std::vector<uint8_t> one = Written(d, &error);
            ASSERT_FALSE(one.empty()) << error;
            for (int threads : {2, 3, 4, 7})
                for (size_t pieceBytes : {size_t(1), size_t(100), size_t(4000)}) {
                    SCOPED_TRACE(std::to_string(size.width) + " x " + std::to_string(size.height) + ", " +
                                 std::to_string(k.planes) + " plane(s), " + std::to_string(k.depth) + " bits, " +
                                 std::to_string(threads) + " threads, pieces of " + std::to_string(pieceBytes));
                    const std::vector<uint8_t> many = Written(d, &error, SIZE_MAX, threads, pieceBytes);
                    ASSERT_FALSE(many.empty()) << error;
                    EXPECT_EQ(ReadBack(many).planes, d.planes);
                    Document back;
                    ASSERT_EQ(ReadPng(many.data(), many.size(), &back, &error), PngRead::Read) << error;
                    EXPECT_EQ(back.planes, d.planes);
                    if (pieceBytes == 1 && size.height > 1) {
                        EXPECT_NE(many, one);  // in pieces indeed
                    }
                }
        }
}

TEST(PngWriter, PiecesKeepTheFileSizeAndStopWhenTheSinkFails)
{
    Document d = MakeDocument(640, 480, 3, 8, plugInModeRGBColor);
    FillTestPattern(&d, 4);
    std::string error;
    const std::vector<uint8_t> one = Written(d, &error);
    const std::vector<uint8_t> four = Written(d, &error, SIZE_MAX, 4, 1);
    ASSERT_FALSE(one.empty());
    ASSERT_FALSE(four.empty());
    EXPECT_LT(double(four.size()), double(one.size()) * 1.03);
    EXPECT_EQ(ReadBack(four).planes, d.planes);
    for (size_t refuseAfter : {size_t(0), size_t(40), four.size() / 2, four.size() - 1}) {
        error.clear();
        EXPECT_TRUE(Written(d, &error, refuseAfter, 4, 1).empty()) << refuseAfter;
        EXPECT_EQ(error, "cannot write the file") << refuseAfter;
    }
}

// When the system gives no thread, the pieces are deflated one after
// another on this thread: the same file as with threads.
TEST(PngWriter, WritesThePiecesOnThisThreadWhenNoOtherCanStart)
{
    Document d = MakeDocument(301, 97, 3, 16, plugInModeRGB48);
    FillTestPattern(&d, 8);
    std::string error;
    const std::vector<uint8_t> threaded = Written(d, &error, SIZE_MAX, 4, 1);
    ASSERT_FALSE(threaded.empty()) << error;
    parallel::RefuseThreadsForTesting(true);
    const std::vector<uint8_t> alone = Written(d, &error, SIZE_MAX, 4, 1);
    parallel::RefuseThreadsForTesting(false);
    EXPECT_EQ(alone, threaded) << error;
    EXPECT_EQ(ReadBack(alone).planes, d.planes);
}
