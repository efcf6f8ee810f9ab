// The host's PNG reader: files made here by hand (every row filter, every
// kind it reads and the kinds it leaves to the platform), and damaged files,
// which are refused without reading past the bytes or allocating for a size
// the data cannot fill.
#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "host/core/Parallel.h"
#include "host/core/PngReader.h"
#include "host/core/PngWriter.h"

namespace {

void Put32(std::vector<uint8_t> *out, uint32_t v)
{
    for (int shift = 24; shift >= 0; shift -= 8)
        out->push_back(uint8_t(v >> shift));
}

void AddChunk(std::vector<uint8_t> *file, const char *type, const std::vector<uint8_t> &data)
{
    Put32(file, uint32_t(data.size()));
    const size_t start = file->size();
    file->insert(file->end(), type, type + 4);
    file->insert(file->end(), data.begin(), data.end());
    Put32(file, uint32_t(crc32(0L, file->data() + start, uInt(4 + data.size()))));
}

struct Raw {
    uint32_t width, height;
    uint8_t depth, colour, interlace = 0;
    std::vector<uint8_t> pixels;  // unfiltered rows, file byte order
};

size_t BytesPerPixel(const Raw &r)
{
    const int channels = r.colour == 0 ? 1 : r.colour == 2 ? 3 : r.colour == 4 ? 2 : r.colour == 6 ? 4 : 1;
    return size_t(channels) * (r.depth == 16 ? 2 : 1);
}

// Filters each row with filters[y % count], written out from the PNG
// format's definitions.
std::vector<uint8_t> Filtered(const Raw &r, const std::vector<uint8_t> &filters)
{
    const size_t bpp = BytesPerPixel(r), rowBytes = size_t(r.width) * bpp;
    std::vector<uint8_t> out;
    for (uint32_t y = 0; y < r.height; ++y) {
        const uint8_t f = filters[y % filters.size()];
        out.push_back(f);
        for (size_t i = 0; i < rowBytes; ++i) {
            const int x = r.pixels[y * rowBytes + i];
            const int a = i >= bpp ? r.pixels[y * rowBytes + i - bpp] : 0;
            const int b = y > 0 ? r.pixels[(y - 1) * rowBytes + i] : 0;
            const int c = i >= bpp && y > 0 ? r.pixels[(y - 1) * rowBytes + i - bpp] : 0;
            const int p = a + b - c, pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
            const int predictor = f == 1 ? a : f == 2 ? b : f == 3 ? (a + b) / 2
                                : f == 4 ? (pa <= pb && pa <= pc ? a : pb <= pc ? b : c) : 0;
            out.push_back(uint8_t(x - predictor));
        }
    }
    return out;
}

std::vector<uint8_t> MakePng(const Raw &r, const std::vector<uint8_t> &filters, size_t idatPieces = 1)
{
    std::vector<uint8_t> file = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    std::vector<uint8_t> header;
    Put32(&header, r.width);
    Put32(&header, r.height);
    header.insert(header.end(), {r.depth, r.colour, 0, 0, r.interlace});
    AddChunk(&file, "IHDR", header);
    AddChunk(&file, "tEXt", {'a', 0, 'b'});
    const std::vector<uint8_t> rows = Filtered(r, filters);
    uLongf size = compressBound(uLong(rows.size()));
    std::vector<uint8_t> deflated(size);
    EXPECT_EQ(compress2(deflated.data(), &size, rows.data(), uLong(rows.size()), 6), Z_OK);
    deflated.resize(size);
    const size_t piece = (deflated.size() + idatPieces - 1) / idatPieces;
    for (size_t at = 0; at < deflated.size(); at += piece)
        AddChunk(&file, "IDAT", std::vector<uint8_t>(deflated.begin() + long(at),
                                                     deflated.begin() + long(std::min(deflated.size(), at + piece))));
    AddChunk(&file, "IEND", {});
    return file;
}

Raw Pattern(uint32_t width, uint32_t height, uint8_t depth, uint8_t colour)
{
    Raw r{width, height, depth, colour, 0, {}};
    uint32_t state = width * 7919u + height * 104729u + depth + colour;
    r.pixels.resize(size_t(width) * height * BytesPerPixel(r));
    for (size_t i = 0; i < r.pixels.size(); ++i) {
        state = state * 1664525u + 1013904223u;
        r.pixels[i] = uint8_t((i / 7) * 3 + (state >> 29));  // smooth with a little noise
    }
    return r;
}

PngRead Read(const std::vector<uint8_t> &file, Document *d, std::string *error, uint32_t maxSide = 30000)
{
    return ReadPng(file.data(), file.size(), d, error, maxSide);
}

} // namespace

TEST(PngReader, EveryRowFilterAndKindReadsBackExactly)
{
    struct Kind { uint8_t depth, colour; int planes; bool transparency; };
    for (const Kind &k : {Kind{8, 2, 3, false}, Kind{16, 2, 3, false}, Kind{8, 0, 1, false}, Kind{16, 0, 1, false},
                          Kind{8, 6, 4, true}, Kind{16, 6, 4, true}, Kind{8, 4, 1, false}, Kind{16, 4, 1, false}}) {
        SCOPED_TRACE(std::to_string(k.depth) + "-bit, colour type " + std::to_string(k.colour));
        const Raw raw = Pattern(37, 23, k.depth, k.colour);
        const std::vector<uint8_t> file = MakePng(raw, {0, 1, 2, 3, 4, 4, 3, 2, 1}, 3);
        Document d;
        std::string error;
        ASSERT_EQ(Read(file, &d, &error), PngRead::Read) << error;
        ASSERT_EQ(d.width, 37);
        ASSERT_EQ(d.height, 23);
        EXPECT_EQ(d.depth, k.depth);
        ASSERT_EQ(d.PlaneCount(), k.planes);
        EXPECT_EQ(d.hasTransparency, k.transparency);
        const size_t bpp = BytesPerPixel(raw), sampleBytes = k.depth / 8;
        for (int p = 0; p < k.planes; ++p)
            for (uint32_t y = 0; y < raw.height; ++y)
                for (uint32_t x = 0; x < raw.width; ++x) {
                    const uint8_t *s = &raw.pixels[(size_t(y) * raw.width + x) * bpp + size_t(p) * sampleBytes];
                    const uint16_t expected = k.depth == 16 ? FileToHost16(uint16_t(s[0] << 8 | s[1])) : s[0];
                    ASSERT_EQ(d.At(p, int32_t(x), int32_t(y)), expected) << "plane " << p << " at " << x << "," << y;
                }
    }
}

TEST(PngReader, ReadsWhatTheHostsWriterWrites)
{
    Document d = MakeDocument(300, 130, 3, 16, plugInModeRGB48);
    FillTestPattern(&d, 8);
    std::vector<uint8_t> file;
    std::string error;
    ASSERT_TRUE(WritePng(d, [&](const uint8_t *b, size_t n) {
        file.insert(file.end(), b, b + n);
        return true;
    }, &error));
    Document back;
    ASSERT_EQ(Read(file, &back, &error), PngRead::Read) << error;
    EXPECT_EQ(back.planes, d.planes);
    EXPECT_EQ(back.mode, plugInModeRGB48);
}

TEST(PngReader, LeavesOtherKindsToThePlatform)
{
    Document d;
    std::string error;
    Raw palette = Pattern(5, 4, 8, 3), bilevel = Pattern(16, 4, 1, 0), interlaced = Pattern(5, 4, 8, 2);
    palette.pixels.assign(20, 1);
    bilevel.pixels.assign(8, 0xA5);
    interlaced.interlace = 1;
    for (const Raw *r : {&palette, &bilevel, &interlaced})
        EXPECT_EQ(Read(MakePng(*r, {0}), &d, &error), PngRead::OtherKind);
    const std::vector<uint8_t> text = {'n', 'o', 't', ' ', 'a', ' ', 'P', 'N', 'G'};
    EXPECT_EQ(Read(text, &d, &error), PngRead::NotPng);
    EXPECT_EQ(ReadPng(nullptr, 0, &d, &error), PngRead::NotPng);
}

TEST(PngReader, RefusesDamagedFilesWithoutReadingPastThem)
{
    const std::vector<uint8_t> good = MakePng(Pattern(19, 11, 8, 2), {1, 4}, 2);
    Document d;
    std::string error;
    ASSERT_EQ(Read(good, &d, &error), PngRead::Read);
    // Every shorter prefix: refused with a reason, never read past (the
    // sanitizers watch). The IEND chunk alone may go missing.
    size_t accepted = 0;
    for (size_t n = 8; n < good.size(); ++n) {
        const std::vector<uint8_t> cut(good.begin(), good.begin() + long(n));
        error.clear();
        const PngRead answer = Read(cut, &d, &error);
        if (answer == PngRead::Read)
            ++accepted;
        else
            EXPECT_EQ(answer, PngRead::Damaged) << n;
        EXPECT_TRUE(answer == PngRead::Read || !error.empty()) << n;
    }
    EXPECT_LE(accepted, 12u);
    // A flipped bit anywhere in the header or the image data is caught (by
    // a checksum, a length or the header's own checks); in the text chunk,
    // which a reader may pass over, or after the image data has ended, it
    // does no harm.
    const size_t textChunk = 33, textEnd = textChunk + 15, end = good.size() - 12;
    for (size_t i = 8; i < good.size(); ++i) {
        std::vector<uint8_t> flipped = good;
        flipped[i] ^= 0x10;
        const bool harmless = (i >= textChunk + 4 && i < textEnd) || i >= end;
        EXPECT_EQ(Read(flipped, &d, &error), harmless ? PngRead::Read : PngRead::Damaged) << "byte " << i;
    }
    // An unknown row filter.
    Raw raw = Pattern(6, 3, 8, 0);
    std::vector<uint8_t> file = MakePng(raw, {5});
    EXPECT_EQ(Read(file, &d, &error), PngRead::Damaged);
    EXPECT_NE(error.find("row filter"), std::string::npos) << error;
}

TEST(PngReader, ASmallFileCannotClaimAHugeImage)
{
    // 30000 x 30000 RGB in a few hundred bytes: refused before any image is
    // made (a 5.4 GB document would be), and sides past the bound at once.
    Raw tiny = Pattern(4, 4, 8, 2);
    std::vector<uint8_t> file = MakePng(tiny, {0});
    const size_t header = 8 + 8;  // the width and height of IHDR
    auto setSize = [&](uint32_t w, uint32_t h) {
        for (int i = 0; i < 4; ++i) {
            file[header + size_t(i)] = uint8_t(w >> (24 - 8 * i));
            file[header + 4 + size_t(i)] = uint8_t(h >> (24 - 8 * i));
        }
        const uLong crc = crc32(0L, &file[12], 17);
        for (int i = 0; i < 4; ++i)
            file[29 + size_t(i)] = uint8_t(crc >> (24 - 8 * i));
    };
    Document d;
    std::string error;
    setSize(30000, 30000);
    EXPECT_EQ(Read(file, &d, &error), PngRead::Damaged);
    EXPECT_EQ(d.planes.size(), 0u);
    EXPECT_NE(error.find("ends before"), std::string::npos) << error;
    setSize(30001, 4);
    EXPECT_EQ(Read(file, &d, &error), PngRead::Damaged);
    EXPECT_EQ(error, "unsupported image size");
}

// Large enough for the overlapped reading (several strips of rows): good
// files, an unknown filter in the first, a middle and the last row, files
// cut short, with rows to spare, or with a flipped bit answer as the
// reading on one thread does: the same answer, reason and pixels.
TEST(PngReader, ReadingOnTwoThreadsAnswersAsOnOne)
{
    struct Case { uint32_t width, height; uint8_t depth, colour; };
    for (const Case &c : {Case{700, 1100, 8, 2}, Case{301, 901, 16, 6}, Case{2001, 1500, 8, 0}}) {
        SCOPED_TRACE(std::to_string(c.width) + " x " + std::to_string(c.height) + ", " + std::to_string(c.depth) +
                     "-bit, colour type " + std::to_string(c.colour));
        const Raw raw = Pattern(c.width, c.height, c.depth, c.colour);
        std::vector<std::vector<uint8_t>> files;
        files.push_back(MakePng(raw, {0, 1, 2, 3, 4}, 7));
        for (uint32_t bad : {0u, c.height / 2, c.height - 1}) {
            std::vector<uint8_t> filters(c.height, 4);
            filters[bad] = 5;
            files.push_back(MakePng(raw, filters, 3));
        }
        const std::vector<uint8_t> good = files.front();
        for (size_t cut : {good.size() / 3, good.size() / 2, good.size() - 40, good.size() - 12})
            files.emplace_back(good.begin(), good.begin() + long(cut));
        for (size_t at : {good.size() / 4, good.size() / 2 + 3, good.size() - 30}) {
            std::vector<uint8_t> flipped = good;
            flipped[at] ^= 0x10;
            files.push_back(flipped);
        }
        // A header a few rows short of the image data, its checksum made
        // again.
        std::vector<uint8_t> spare = good;
        const uint32_t shorter = c.height - 3;
        for (int i = 0; i < 4; ++i)
            spare[20 + size_t(i)] = uint8_t(shorter >> (24 - 8 * i));
        const uLong crc = crc32(0L, &spare[12], 17);
        for (int i = 0; i < 4; ++i)
            spare[29 + size_t(i)] = uint8_t(crc >> (24 - 8 * i));
        files.push_back(spare);

        for (size_t f = 0; f < files.size(); ++f) {
            Document one;
            std::string oneError;
            const PngRead expected = ReadPng(files[f].data(), files[f].size(), &one, &oneError, 30000, 1);
            if (f == 0) {
                ASSERT_EQ(expected, PngRead::Read) << oneError;
            }
            for (int threads : {2, 3}) {
                Document two;
                std::string twoError;
                EXPECT_EQ(ReadPng(files[f].data(), files[f].size(), &two, &twoError, 30000, threads), expected)
                    << "file " << f;
                EXPECT_EQ(twoError, oneError) << "file " << f;
                if (expected == PngRead::Read) {
                    EXPECT_EQ(two.planes, one.planes) << "file " << f;
                }
            }
        }
    }
}

namespace {

std::vector<uint8_t> WrittenInPieces(const Document &d, int threads, size_t pieceBytes)
{
    std::vector<uint8_t> file;
    std::string error;
    EXPECT_TRUE(WritePng(d, [&](const uint8_t *b, size_t n) {
        file.insert(file.end(), b, b + n);
        return true;
    }, &error, threads, pieceBytes)) << error;
    return file;
}

// Where each chunk's data begins and how long it is.
std::vector<std::pair<size_t, size_t>> ChunkData(const std::vector<uint8_t> &file)
{
    std::vector<std::pair<size_t, size_t>> chunks;
    for (size_t at = 8; at + 12 <= file.size();) {
        const size_t length = size_t(file[at]) << 24 | size_t(file[at + 1]) << 16 | size_t(file[at + 2]) << 8 | file[at + 3];
        chunks.emplace_back(at + 8, length);
        at += 12 + length;
    }
    return chunks;
}

// The file with byte `at` (inside a chunk's data) changed and that chunk's
// checksum made again, so that only what the data says is wrong.
std::vector<uint8_t> Altered(std::vector<uint8_t> file, size_t at, uint8_t mask)
{
    for (const auto &chunk : ChunkData(file))
        if (at >= chunk.first && at < chunk.first + chunk.second) {
            file[at] ^= mask;
            const uLong crc = crc32(0L, &file[chunk.first - 4], uInt(4 + chunk.second));
            for (int i = 0; i < 4; ++i)
                file[chunk.first + chunk.second + size_t(i)] = uint8_t(crc >> (24 - 8 * i));
        }
    return file;
}

} // namespace

// Files written in pieces are read with their pieces inflated at once:
// every size and piece count reads back exactly; a list that does not match
// the image data, and image data damaged inside the pieces (checksums made
// again), are answered as on one thread.
TEST(PngReader, PiecesOfTheHostsOwnFilesReadAtOnceAsOnOneThread)
{
    struct Kind { int32_t width, height, planes, depth; int16_t mode; };
    for (const Kind &k : {Kind{3, 7, 3, 8, plugInModeRGBColor}, Kind{301, 97, 3, 16, plugInModeRGB48},
                          Kind{64, 13, 1, 8, plugInModeGrayScale}, Kind{1, 40, 1, 16, plugInModeGray16}}) {
        Document d = MakeDocument(k.width, k.height, k.planes, k.depth, k.mode);
        FillTestPattern(&d, 3);
        for (int pieces : {2, 3, 7}) {
            const std::vector<uint8_t> file = WrittenInPieces(d, pieces, 1);
            for (int threads : {1, 2, 4}) {
                Document back;
                std::string error;
                ASSERT_EQ(ReadPng(file.data(), file.size(), &back, &error, 30000, threads), PngRead::Read) << error;
                EXPECT_EQ(back.planes, d.planes) << k.width << " x " << k.height << ", " << pieces << " pieces, "
                                                 << threads << " threads";
            }
        }
    }

    Document d = MakeDocument(301, 97, 3, 8, plugInModeRGBColor);
    FillTestPattern(&d, 9);
    const std::vector<uint8_t> file = WrittenInPieces(d, 4, 1);
    const auto chunks = ChunkData(file);
    ASSERT_GE(chunks.size(), 4u);
    const size_t index = chunks[1].first, data = chunks[2].first, dataLength = chunks[2].second;
    std::vector<std::vector<uint8_t>> files;
    for (size_t at = index; at < index + chunks[1].second; at += 3)  // every field of the list
        files.push_back(Altered(file, at, 0x01));
    for (size_t step = 1; step < 40; ++step)  // inside the pieces
        files.push_back(Altered(file, data + dataLength * step / 40, uint8_t(1 << (step % 8))));
    files.push_back(Altered(file, data + dataLength - 2, 0x80));  // the Adler-32
    for (size_t f = 0; f < files.size(); ++f) {
        Document one, many;
        std::string oneError, manyError;
        const PngRead expected = ReadPng(files[f].data(), files[f].size(), &one, &oneError, 30000, 1);
        EXPECT_EQ(ReadPng(files[f].data(), files[f].size(), &many, &manyError, 30000, 3), expected) << "file " << f;
        EXPECT_EQ(manyError, oneError) << "file " << f;
        if (expected == PngRead::Read) {
            EXPECT_EQ(many.planes, one.planes) << "file " << f;
        }
        if (f < files.size() - 40) {
            EXPECT_EQ(expected, PngRead::Read) << "a list that does not match is passed over, file " << f;
            EXPECT_EQ(many.planes, d.planes) << "file " << f;
        }
    }
}

// A list whose pieces do not hold together (a file the fuzzer made): read as
// a file without the list, which succeeds, and with no reason left over from
// the pieces' attempt.
TEST(PngReader, AListThatFailsLeavesNoReasonBehind)
{
    const std::string hex =
        "89504e470d0a1a0a0000000d49484452000000060000000908020000009ef8caca000000207a70495800000003000000"
        "020000000000000041000000030000008000000006000000bbda7e7abe000000bf49444154780162946792d0b7523034"
        "f03130d255f750d494d465e41497d55157b2b1b1b4b7b254d296d6553066e413163557b5557217b594f6d3b1d231d696"
        "03000000ffff62646166f0b1b252b331d4b1f3b415975530d46314e6e056b4d274d332d57476d03756d5953564146462"
        "30b30bb4d014d5b5f1b636d397509107000000ffff63e49491d237b0b0d754d6b2b0b6d45252d5d06564106130b3f271"
        "579456b33137557654375460141413b25451d3b1f3b05236d1365353d1530500ee2d1aef3e615d5300fbffffb6454e44"
        "ae426082";
    std::vector<uint8_t> file;
    for (size_t i = 0; i + 1 < hex.size(); i += 2)
        file.push_back(uint8_t(std::stoi(hex.substr(i, 2), nullptr, 16)));
    Document one, two;
    std::string oneError, twoError;
    ASSERT_EQ(ReadPng(file.data(), file.size(), &one, &oneError, 1024, 1), PngRead::Read) << oneError;
    ASSERT_EQ(ReadPng(file.data(), file.size(), &two, &twoError, 1024, 2), PngRead::Read) << twoError;
    EXPECT_EQ(twoError, "");
    EXPECT_EQ(two.planes, one.planes);
}

// Files of the host's own are read through their pieces, the way a file
// without the list could not be: among them pieces whose rows fill the
// reader's strips exactly (1047 rows of 1001 bytes to a strip of 1 MB, and
// 2094 rows a piece), where the last inflate of a piece ends its output and
// its input at once.
TEST(PngReader, PiecesThatFillTheStripsExactlyAreReadAsPieces)
{
    struct Size { int32_t width, height; };
    for (const Size &size : {Size{1000, 4188}, Size{1000, 4190}, Size{301, 97}}) {
        Document d = MakeDocument(size.width, size.height, 1, 8, plugInModeGrayScale);
        FillTestPattern(&d, 5);
        const std::vector<uint8_t> file = WrittenInPieces(d, 2, size.width > 500 ? size_t(1) << 20 : 1);
        Document back;
        std::string error;
        PngReadWay way = PngReadWay::OneThread;
        ASSERT_EQ(ReadPng(file.data(), file.size(), &back, &error, 30000, 2, &way), PngRead::Read) << error;
        EXPECT_EQ(back.planes, d.planes);
        EXPECT_EQ(way, PngReadWay::Pieces) << size.width << " x " << size.height;
    }
}

// The pieces' list with its numbers at the ends of their range (offsets and
// rows past the stream and the image, near 2^31 and 2^32): passed over, the
// file read as one stream, as on one thread.
TEST(PngReader, AListWithNumbersOutOfRangeIsPassedOver)
{
    Document d = MakeDocument(301, 97, 3, 8, plugInModeRGBColor);
    FillTestPattern(&d, 11);
    const std::vector<uint8_t> file = WrittenInPieces(d, 3, 1);
    const auto chunks = ChunkData(file);
    ASSERT_GE(chunks.size(), 3u);
    const size_t index = chunks[1].first, fields = chunks[1].second / 4;
    ASSERT_EQ(fields, 1 + 2 * 3 + 1u);
    for (size_t field = 0; field < fields; ++field)
        for (uint32_t value : {0u, 1u, 2u, 96u, 97u, 0x7FFFFFFFu, 0x80000000u, 0xFFFFFFF0u, 0xFFFFFFFFu}) {
            std::vector<uint8_t> altered = file;
            const size_t at = index + 4 * field;
            for (int i = 0; i < 4; ++i)
                altered[at + size_t(i)] = uint8_t(value >> (24 - 8 * i));
            const uLong crc = crc32(0L, &altered[index - 4], uInt(4 + chunks[1].second));
            for (int i = 0; i < 4; ++i)
                altered[index + chunks[1].second + size_t(i)] = uint8_t(crc >> (24 - 8 * i));
            Document back;
            std::string error;
            ASSERT_EQ(ReadPng(altered.data(), altered.size(), &back, &error, 30000, 2), PngRead::Read)
                << "field " << field << " = " << value << ": " << error;
            EXPECT_EQ(back.planes, d.planes) << "field " << field << " = " << value;
        }
}

namespace {

// While it lives, no thread can be started.
struct NoThreads {
    NoThreads() { parallel::RefuseThreadsForTesting(true); }
    ~NoThreads() { parallel::RefuseThreadsForTesting(false); }
};

} // namespace

// When the system gives no thread, reading on several threads reads on this
// one: a large file as one stream, and a file in pieces piece after piece,
// with the answers of reading on one thread, damaged files included.
TEST(PngReader, ReadsOnThisThreadWhenNoOtherCanStart)
{
    Document d = MakeDocument(700, 1500, 3, 8, plugInModeRGBColor);
    FillTestPattern(&d, 6);
    const std::vector<uint8_t> plain = WrittenInPieces(d, 1, 1), pieces = WrittenInPieces(d, 3, 1);
    const auto chunks = ChunkData(plain);
    const std::vector<uint8_t> damaged = Altered(plain, chunks[1].first + chunks[1].second / 2, 0x10);
    for (const std::vector<uint8_t> *read : {&plain, &pieces, &damaged}) {
        const std::vector<uint8_t> &file = *read;
        Document one, many;
        std::string oneError, manyError;
        PngReadWay way = PngReadWay::Overlapped, expectedWay = PngReadWay::Overlapped;
        const PngRead expected = ReadPng(file.data(), file.size(), &one, &oneError, 30000, 2, &expectedWay);
        NoThreads noThreads;
        EXPECT_EQ(ReadPng(file.data(), file.size(), &many, &manyError, 30000, 2, &way), expected);
        EXPECT_EQ(manyError, oneError);
        EXPECT_EQ(many.planes, one.planes);
        EXPECT_EQ(way, read == &pieces ? PngReadWay::Pieces : PngReadWay::OneThread);
        EXPECT_NE(expectedWay, PngReadWay::OneThread);  // with threads, another way
    }
    Document back;
    std::string error;
    ASSERT_EQ(ReadPng(plain.data(), plain.size(), &back, &error, 30000, 2), PngRead::Read);
    EXPECT_EQ(back.planes, d.planes);
}
