#include "host/core/PngReader.h"

#include "host/core/Parallel.h"
#include "host/core/PngWriter.h"

#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

namespace {

const uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};

uint32_t Be32(const uint8_t *p)
{
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | uint32_t(p[3]);
}

PngRead Damaged(std::string *error, const std::string &why)
{
    if (error != nullptr)
        *error = why;
    return PngRead::Damaged;
}

struct Inflater {
    z_stream stream{};
    bool open = false;
    ~Inflater()
    {
        if (open)
            inflateEnd(&stream);
    }
};

// The predictor of whichever of left, above and upper left is nearest to
// left + above - upper left (ties to left, then above), without branches.
inline uint8_t Paeth(int a, int b, int c)
{
    const int pa = std::abs(b - c), pb = std::abs(a - c), pc = std::abs(a + b - 2 * c);
    const int ab = pa <= pb ? a : b, pab = pa <= pb ? pa : pb;
    return uint8_t(pab <= pc ? ab : c);
}

// Undoes a row's filter in place; `previous` is the row above, unfiltered
// (all zero for the first row).
bool Unfilter(uint8_t filter, uint8_t *row, const uint8_t *previous, size_t bytes, size_t bpp)
{
    switch (filter) {
    case 0:
        return true;
    case 1:
        for (size_t i = bpp; i < bytes; ++i)
            row[i] = uint8_t(row[i] + row[i - bpp]);
        return true;
    case 2:
        for (size_t i = 0; i < bytes; ++i)
            row[i] = uint8_t(row[i] + previous[i]);
        return true;
    case 3:
        for (size_t i = 0; i < bpp && i < bytes; ++i)
            row[i] = uint8_t(row[i] + (previous[i] >> 1));
        for (size_t i = bpp; i < bytes; ++i)
            row[i] = uint8_t(row[i] + ((unsigned(row[i - bpp]) + previous[i]) >> 1));
        return true;
    case 4:
        for (size_t i = 0; i < bpp && i < bytes; ++i)
            row[i] = uint8_t(row[i] + previous[i]);  // Paeth(0, b, 0) is b
        for (size_t i = bpp; i < bytes; ++i)
            row[i] = uint8_t(row[i] + Paeth(row[i - bpp], previous[i], previous[i - bpp]));
        return true;
    default:
        return false;
    }
}

// An unfiltered row of the file (without its filter byte) into row y of
// the document's planes.
void StoreRow(Document &document, const uint8_t *row, uint32_t y, size_t bpp)
{
    const size_t width = size_t(document.width);
    const bool sixteen = document.depth == 16;
    for (int p = 0; p < document.PlaneCount(); ++p) {
        uint16_t *to = document.planes[size_t(p)].data() + size_t(y) * width;
        const uint8_t *s = row + size_t(p) * (sixteen ? 2 : 1);
        if (sixteen)
            for (size_t x = 0; x < width; ++x, s += bpp)
                to[x] = FileToHost16(uint16_t(s[0] << 8 | s[1]));
        else
            for (size_t x = 0; x < width; ++x, s += bpp)
                to[x] = *s;
    }
}

// The image data inflated on this thread into a ring of strips of rows
// while another thread, a strip or more behind, undoes the rows' filters
// and stores them. The answers are those of reading on one thread: the
// rows are checked in the file's order, and a row the other thread refuses
// comes before anything this one finds further on. When the second thread
// cannot be started, *started is false and nothing has been read.
template <typename Walk, typename Store, typename UnfilterRow>
PngRead ReadOverlapped(z_stream &z, size_t stripBytes, size_t stride, uint32_t height, Walk &walk, bool &ended,
                       std::string *error, const Store &store, const UnfilterRow &unfilter, bool *started)
{
    const size_t kStrips = 4;
    std::vector<std::vector<uint8_t>> ring(kStrips, std::vector<uint8_t>(stripBytes));
    std::vector<size_t> rowsIn(kStrips, 0);
    std::mutex lock;
    std::condition_variable changed;
    size_t published = 0, consumed = 0;  // strips handed over, and strips stored
    bool finished = false, refused = false;

    std::vector<uint8_t> above(stride, 0);  // the row above the strip's first, unfiltered
    auto storing = [&]() {
        uint32_t y = 0;
        for (;;) {
            size_t rows = 0;
            uint8_t *strip = nullptr;
            {
                std::unique_lock<std::mutex> hold(lock);
                changed.wait(hold, [&] { return published > consumed || finished; });
                if (published == consumed)
                    return;
                strip = ring[consumed % kStrips].data();
                rows = rowsIn[consumed % kStrips];
            }
            for (size_t i = 0; i < rows; ++i, ++y) {
                uint8_t *row = strip + i * stride;
                if (!unfilter(row, i == 0 ? above.data() : row - stride)) {
                    std::lock_guard<std::mutex> hold(lock);
                    refused = true;
                    changed.notify_all();
                    return;
                }
                store(row, y);
            }
            if (rows > 0)
                std::memcpy(above.data(), strip + (rows - 1) * stride, stride);
            std::lock_guard<std::mutex> hold(lock);
            ++consumed;
            changed.notify_all();
        }
    };
    std::thread storer;
    try {
        storer = parallel::StartThread(storing);
    } catch (const std::system_error &) {
        *started = false;
        return PngRead::Read;
    }
    *started = true;
    // Should this thread leave by an exception, the storer is still told to
    // end and waited for.
    struct Ending {
        std::thread &storer;
        std::mutex &lock;
        std::condition_variable &changed;
        bool &finished;
        ~Ending()
        {
            if (!storer.joinable())
                return;
            {
                std::lock_guard<std::mutex> hold(lock);
                finished = true;
                changed.notify_all();
            }
            storer.join();
        }
    } ending{storer, lock, changed, finished};

    uint32_t rowsInflated = 0;  // whole rows handed over, at most the image's
    size_t filled = 0;          // bytes in the strip being inflated
    bool stopped = false;       // the storer refused a row
    // Hands over the strip's whole rows (those of the image); the next
    // strip waits for its slot in the ring to be stored.
    auto handOver = [&](size_t rows) {
        std::unique_lock<std::mutex> hold(lock);
        rowsIn[published % kStrips] = rows;
        ++published;
        changed.notify_all();
        changed.wait(hold, [&] { return published - consumed < kStrips || refused; });
        stopped = refused;
        filled = 0;
    };
    const PngRead answer = walk(
        [&](const uint8_t *data, uint32_t length) {
            z.next_in = const_cast<uint8_t *>(data);
            z.avail_in = length;
            while (z.avail_in > 0 && !ended) {
                uint8_t *strip = ring[published % kStrips].data();
                z.next_out = strip + filled;
                z.avail_out = uInt(stripBytes - filled);
                const int result = inflate(&z, Z_NO_FLUSH);
                if (result != Z_OK && result != Z_STREAM_END && result != Z_BUF_ERROR)
                    return Damaged(error, result == Z_MEM_ERROR ? "out of memory" : "the PNG file's image data is damaged");
                filled = stripBytes - z.avail_out;
                const uint32_t whole = uint32_t(filled / stride);
                // The rows up to the image's are still handed over below.
                if (rowsInflated + whole > height)
                    return Damaged(error, "the PNG file holds more image data than its size");
                if (filled == stripBytes) {
                    rowsInflated += whole;
                    handOver(whole);
                    if (stopped)
                        return PngRead::Damaged;
                }
                if (result == Z_STREAM_END)
                    ended = true;
            }
            return PngRead::Read;
        },
        [&]() { return rowsInflated + uint32_t(filled / stride); });
    {
        // What is left of the last strip: its whole rows, up to the image's.
        std::unique_lock<std::mutex> hold(lock);
        if (!stopped && filled >= stride) {
            rowsIn[published % kStrips] = std::min<size_t>(filled / stride, height - rowsInflated);
            ++published;
        }
        finished = true;
        changed.notify_all();
    }
    storer.join();
    if (refused)
        return Damaged(error, "the PNG file's image data is damaged (an unknown row filter)");
    return answer;
}

// The pieces a file's list names, each inflated on a thread of its own as
// raw deflate data from the stream's bytes, its rows unfiltered and stored
// as they come. True when every piece gave exactly its rows and ended where
// the next begins, on a block boundary with no bits to spare (so that its
// bytes mean there what they mean in the one stream), the last with the
// stream's final block, each piece's first row needs no row above, and the
// stream's Adler-32 matches; false, the document part written, otherwise.
// A piece that reaches back into the one before fails here (the distance
// is too far back for its own data).
template <typename Walk>
bool ReadPieces(const uint8_t *index, uint32_t indexLength, uint64_t dataBytes, size_t stride, uint32_t height,
                int threads, Walk &walk, Document &document, size_t bpp)
{
    if (indexLength < 12 || indexLength % 8 != 0)
        return false;
    const uint32_t count = Be32(index);
    if (count < 1 || count > 4096 || indexLength != 4 + 8 * count + 4)
        return false;
    std::vector<uint32_t> offsets(count + 1), rows(count + 1);
    for (uint32_t i = 0; i < count; ++i) {
        offsets[i] = Be32(index + 4 + 8 * i);
        rows[i] = Be32(index + 8 + 8 * i);
        if (i > 0 && (offsets[i] <= offsets[i - 1] || rows[i] <= rows[i - 1]))
            return false;
    }
    offsets[count] = Be32(index + indexLength - 4);
    rows[count] = height;
    if (offsets[0] != 2 || rows[0] != 0 || rows[count - 1] >= height || offsets[count] <= offsets[count - 1])
        return false;

    // The stream, gathered from the file's chunks (each checked as ever).
    std::vector<uint8_t> stream;
    stream.reserve(size_t(dataBytes));
    if (walk([&](const uint8_t *data, uint32_t length) {
            stream.insert(stream.end(), data, data + length);
            return PngRead::Read;
        },
             [&]() { return height; }) != PngRead::Read)
        return false;
    // The zlib header as inflate takes it (deflate, a window of at most
    // 32 KB, no preset dictionary), and the Adler-32 just after the last
    // piece.
    // (In 64 bits: an end offset near 4 GB would wrap a 32-bit size.)
    if (uint64_t(stream.size()) < uint64_t(offsets[count]) + 4 || (stream[0] & 0x0F) != 8 || (stream[0] >> 4) > 7 ||
        (stream[0] * 256u + stream[1]) % 31 != 0 || (stream[1] & 0x20) != 0)
        return false;

    std::vector<uLong> adlers(count);
    std::atomic<bool> failed{false};
    const size_t rowBytes = stride - 1;
    parallel::ForEach(int(count), threads, [&](int piece) {
        const size_t i = size_t(piece);
        Inflater inflater;
        if (failed || inflateInit2(&inflater.stream, -15) != Z_OK) {
            failed = true;
            return;
        }
        inflater.open = true;
        z_stream &z = inflater.stream;
        z.next_in = stream.data() + offsets[i];
        z.avail_in = uInt(offsets[i + 1] - offsets[i]);
        const size_t stripRows = std::max<size_t>(1, (size_t(1) << 20) / stride);
        std::vector<uint8_t> strip(stripRows * stride), above(stride, 0);
        uint32_t y = rows[i];
        size_t filled = 0;
        uLong adler = adler32(0L, Z_NULL, 0);
        int answer = Z_OK;
        // Where the last inflate that moved left the stream (z.data_type):
        // a call that can do nothing (Z_BUF_ERROR) forgets that it stood
        // between two blocks.
        int where = 0;
        while (!failed) {
            z.next_out = strip.data() + filled;
            z.avail_out = uInt(strip.size() - filled);
            answer = inflate(&z, Z_NO_FLUSH);
            if (answer != Z_OK && answer != Z_STREAM_END && answer != Z_BUF_ERROR)
                break;
            if (answer != Z_BUF_ERROR)
                where = z.data_type;
            const bool roomLeft = z.avail_out != 0;  // else more may be waiting inside zlib
            const size_t got = strip.size() - z.avail_out;
            adler = adler32(adler, strip.data() + filled, uInt(got - filled));
            filled = got;
            const size_t whole = filled / stride;
            if (uint64_t(y) + whole > rows[i + 1])
                break;
            for (size_t r = 0; r < whole; ++r, ++y) {
                uint8_t *row = strip.data() + r * stride;
                // The first row of a piece after the first is unfiltered
                // from its own bytes alone, or not here.
                if (y == rows[i] && i > 0 && row[0] > 1) {
                    failed = true;
                    return;
                }
                if (!Unfilter(row[0], row + 1, (r == 0 ? above.data() : row - stride) + 1, rowBytes, bpp)) {
                    failed = true;
                    return;
                }
                StoreRow(document, row + 1, y, bpp);
            }
            if (whole > 0) {
                std::memcpy(above.data(), strip.data() + (whole - 1) * stride, stride);
                std::memmove(strip.data(), strip.data() + whole * stride, filled - whole * stride);
                filled -= whole * stride;
            }
            if (answer == Z_STREAM_END || (z.avail_in == 0 && roomLeft))
                break;
        }
        const bool last = i + 1 == count;
        const bool atBoundary = (where & 128) != 0 && (where & 7) == 0 && (where & 64) == 0;
        if (failed || y != rows[i + 1] || filled != 0 || z.avail_in != 0 ||
            (last ? answer != Z_STREAM_END : answer == Z_STREAM_END || !atBoundary))
            failed = true;
        adlers[i] = adler;
    });
    if (failed)
        return false;
    uint32_t adler = uint32_t(adlers[0]);
    for (uint32_t i = 1; i < count; ++i)
        adler = CombineAdler(adler, uint32_t(adlers[i]), uint64_t(rows[i + 1] - rows[i]) * uint64_t(stride));
    return Be32(stream.data() + offsets[count]) == adler;
}

} // namespace

bool LooksLikePng(const uint8_t *bytes, size_t size)
{
    return bytes != nullptr && size >= sizeof kSignature && std::memcmp(bytes, kSignature, sizeof kSignature) == 0;
}

PngRead ReadPng(const uint8_t *bytes, size_t size, Document *document, std::string *error, uint32_t maxSide,
                int threads, PngReadWay *way)
{
    PngReadWay taken = PngReadWay::OneThread;
    if (way == nullptr)
        way = &taken;
    *way = PngReadWay::OneThread;
    if (!LooksLikePng(bytes, size))
        return PngRead::NotPng;
    // The header comes first.
    size_t at = sizeof kSignature;
    if (size - at < 8 + 13 + 4 || Be32(bytes + at) != 13 || std::memcmp(bytes + at + 4, "IHDR", 4) != 0)
        return Damaged(error, "the PNG file does not begin with its header");
    const uint8_t *h = bytes + at + 8;
    if (Be32(h + 13) != uint32_t(crc32(crc32(0L, Z_NULL, 0), bytes + at + 4, 4 + 13)))
        return Damaged(error, "the PNG file's header is damaged (its checksum does not match)");
    const uint32_t width = Be32(h), height = Be32(h + 4);
    const uint8_t depth = h[8], colour = h[9];
    if (h[10] != 0 || h[11] != 0 || (h[12] != 0 && h[12] != 1))
        return Damaged(error, "the PNG file's header names an unknown compression, filter or interlace method");
    if (width == 0 || height == 0)
        return Damaged(error, "the PNG image has no pixels");
    if (width > maxSide || height > maxSide)
        return Damaged(error, "unsupported image size");
    const int channels = colour == 0 ? 1 : colour == 2 ? 3 : colour == 4 ? 2 : colour == 6 ? 4 : 0;
    if (channels == 0 || (depth != 8 && depth != 16) || h[12] != 0)
        return PngRead::OtherKind;
    at += 8 + 13 + 4;

    const size_t bpp = size_t(channels) * (depth / 8);
    const size_t rowBytes = size_t(width) * bpp;
    // Deflate shrinks data at most about 1032 times: a file whose image data
    // is too short for its size is refused before the image is made, so a
    // small file cannot cost gigabytes.
    uint64_t dataBytes = 0;
    const uint8_t *index = nullptr;  // the writer's list of pieces, ahead of the image data
    uint32_t indexLength = 0;
    for (size_t scan = at; size - scan >= 12;) {
        const uint32_t length = Be32(bytes + scan);
        if (length > 0x7FFFFFFFu || size - scan - 12 < length)
            break;
        if (std::memcmp(bytes + scan + 4, "IDAT", 4) == 0)
            dataBytes += length;
        else if (dataBytes == 0 && std::memcmp(bytes + scan + 4, kPieceIndex, 4) == 0)
            index = bytes + scan + 8, indexLength = length;
        scan += 12 + size_t(length);
    }
    if (dataBytes * 1100 < uint64_t(height) * (rowBytes + 1))
        return Damaged(error, "the PNG file ends before its image does");
    const int planeCount = channels == 4 ? 4 : channels == 3 ? 3 : 1;
    const bool sixteen = depth == 16;
    *document = MakeDocument(int32_t(width), int32_t(height), planeCount, depth,
                             channels >= 3 ? (sixteen ? plugInModeRGB48 : plugInModeRGBColor)
                                           : (sixteen ? plugInModeGray16 : plugInModeGrayScale));
    document->hasTransparency = channels == 4;

    Inflater inflater;
    if (inflateInit(&inflater.stream) != Z_OK)
        return Damaged(error, "out of memory");
    inflater.open = true;
    z_stream &z = inflater.stream;
    // Rows, each with its filter byte, are inflated many at a time (zlib
    // then keeps its window cheaply) and unfiltered in place; the last row
    // of a batch is kept as the row above the next batch's first.
    const size_t stride = rowBytes + 1;
    const size_t batchRows = std::max<size_t>(1, (size_t(1) << 20) / stride);
    std::vector<uint8_t> batch(batchRows * stride), above(stride, 0);
    uint32_t y = 0;
    size_t filled = 0, done = 0;  // bytes in the batch; whole rows of it unfiltered and stored
    bool ended = false;
    // Unfilters and stores every complete row in the batch not yet done.
    auto storeRows = [&]() {
        for (; (done + 1) * stride <= filled; ++done, ++y) {
            if (y >= height)
                return false;
            uint8_t *row = batch.data() + done * stride;
            const uint8_t *previous = done == 0 ? above.data() : row - stride;
            if (!Unfilter(row[0], row + 1, previous + 1, rowBytes, bpp))
                return false;
            StoreRow(*document, row + 1, y, bpp);
        }
        if (filled == batch.size()) {
            std::memcpy(above.data(), batch.data() + batch.size() - stride, stride);
            filled = done = 0;
        }
        return true;
    };
    // The chunks from `at` on, each checked; the image data of each IDAT
    // goes to take(data, length), which answers Read to go on (setting
    // `ended` at the end of the stream) or the reason to stop. `rows` says
    // how many rows the image data has given so far.
    auto walk = [&](auto &&take, auto &&rows) {
        while (!ended) {
            if (size - at < 12)
                return Damaged(error, rows() < height ? "the PNG file ends before its image does"
                                                      : "the PNG file ends early");
            const uint32_t length = Be32(bytes + at);
            const uint8_t *type = bytes + at + 4;
            if (length > 0x7FFFFFFFu || size - at - 12 < length)
                return Damaged(error, "the PNG file ends inside a chunk");
            const uint8_t *data = type + 4;
            const bool critical = (type[0] & 0x20) == 0;
            if (critical && Be32(data + length) != uint32_t(crc32(crc32(0L, Z_NULL, 0), type, 4 + length)))
                return Damaged(error, "the PNG file is damaged (a checksum does not match)");
            at += 12 + size_t(length);
            if (std::memcmp(type, "IEND", 4) == 0)
                break;
            if (std::memcmp(type, "IDAT", 4) != 0) {
                if (critical && std::memcmp(type, "PLTE", 4) != 0)
                    return Damaged(error, "the PNG file holds a part this host does not know");
                continue;
            }
            const PngRead taken = take(data, length);
            if (taken != PngRead::Read)
                return taken;
        }
        if (rows() < height)
            return Damaged(error, "the PNG file ends before its image does");
        return PngRead::Read;
    };

    // A file this host wrote in pieces: the pieces inflated at once, each on
    // a thread. Anything amiss, and the file is read as any other, which
    // gives the answers of a file without the list.
    if (threads > 1 && index != nullptr) {
        const size_t start = at;
        if (ReadPieces(index, indexLength, dataBytes, stride, height, threads, walk, *document, bpp)) {
            *way = PngReadWay::Pieces;
            return PngRead::Read;
        }
        // What the pieces' walk found is not the file's answer: the reading
        // that follows gives that.
        at = start;
        ended = false;
        if (error != nullptr)
            error->clear();
    }

    if (threads > 1 && uint64_t(height) * stride > 2 * batch.size()) {
        bool started = false;
        const PngRead answer =
            ReadOverlapped(z, batchRows * stride, stride, height, walk, ended, error,
                           [&](const uint8_t *row, uint32_t at) { StoreRow(*document, row + 1, at, bpp); },
                           [&](uint8_t *row, const uint8_t *previous) {
                               return Unfilter(row[0], row + 1, previous + 1, rowBytes, bpp);
                           },
                           &started);
        if (started) {
            *way = PngReadWay::Overlapped;
            return answer;
        }
        // No second thread: all of it on this one, as below.
    }

    return walk(
        [&](const uint8_t *data, uint32_t length) {
            z.next_in = const_cast<uint8_t *>(data);
            z.avail_in = length;
            while (z.avail_in > 0 && !ended) {
                z.next_out = batch.data() + filled;
                z.avail_out = uInt(batch.size() - filled);
                const int answer = inflate(&z, Z_NO_FLUSH);
                if (answer != Z_OK && answer != Z_STREAM_END && answer != Z_BUF_ERROR)
                    return Damaged(error, answer == Z_MEM_ERROR ? "out of memory" : "the PNG file's image data is damaged");
                filled = batch.size() - z.avail_out;
                if (!storeRows())
                    return Damaged(error, y >= height ? "the PNG file holds more image data than its size"
                                                      : "the PNG file's image data is damaged (an unknown row filter)");
                if (answer == Z_STREAM_END)
                    ended = true;
            }
            return PngRead::Read;
        },
        [&]() { return y; });
}
