#include "host/core/PngWriter.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "host/core/Parallel.h"

namespace {

const uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
const uint8_t kFilterSub = 1;
const size_t kChunkBytes = 256 * 1024;  // the most deflated bytes in one IDAT chunk

void PutBigEndian32(uint8_t *to, uint32_t v)
{
    to[0] = uint8_t(v >> 24);
    to[1] = uint8_t(v >> 16);
    to[2] = uint8_t(v >> 8);
    to[3] = uint8_t(v);
}

// One chunk: length, type, data and the CRC of type and data.
bool WriteChunk(const ByteSink &sink, const char type[4], const uint8_t *data, size_t size)
{
    uint8_t head[8];
    PutBigEndian32(head, uint32_t(size));
    std::memcpy(head + 4, type, 4);
    uLong crc = crc32(0L, Z_NULL, 0);
    crc = crc32(crc, head + 4, 4);
    if (size != 0)
        crc = crc32(crc, data, uInt(size));
    uint8_t tail[4];
    PutBigEndian32(tail, uint32_t(crc));
    return sink(head, sizeof head) && (size == 0 || sink(data, size)) && sink(tail, sizeof tail);
}

// The row as the file holds it, filtered with Sub: the filter byte, then
// each sample's bytes (most significant first) less the same byte of the
// pixel to the left.
void FilterRow(const Document &d, int32_t channels, int32_t y, uint8_t *row)
{
    row[0] = kFilterSub;
    uint8_t *out = row + 1;
    const size_t width = size_t(d.width), start = size_t(y) * width;
    const size_t step = size_t(channels) * (d.depth == 16 ? 2 : 1);
    for (int32_t c = 0; c < channels; ++c) {
        const uint16_t *plane = d.planes[size_t(c)].data() + start;
        if (d.depth == 16) {
            uint8_t *to = out + size_t(c) * 2;
            uint8_t hiBefore = 0, loBefore = 0;
            for (size_t x = 0; x < width; ++x, to += step) {
                const uint16_t v = HostToFile16(plane[x]);
                const uint8_t hi = uint8_t(v >> 8), lo = uint8_t(v);
                to[0] = uint8_t(hi - hiBefore);
                to[1] = uint8_t(lo - loBefore);
                hiBefore = hi;
                loBefore = lo;
            }
        } else {
            uint8_t *to = out + c;
            uint8_t before = 0;
            for (size_t x = 0; x < width; ++x, to += step) {
                const uint8_t v = uint8_t(plane[x]);
                *to = uint8_t(v - before);
                before = v;
            }
        }
    }
}

struct Deflater {
    z_stream stream{};
    bool open = false;
    ~Deflater()
    {
        if (open)
            deflateEnd(&stream);
    }
};

// Rows [begin, end), filtered, deflated as raw deflate data (no zlib header
// or checksum) that ends on a byte boundary: with an empty stored block
// (Z_SYNC_FLUSH) unless `last`, with the final block when it is. *adler is
// the Adler-32 of the filtered rows.
bool DeflatePiece(const Document &document, int32_t channels, size_t rowBytes, int32_t begin, int32_t end,
                  bool last, std::vector<uint8_t> *out, uLong *adler)
{
    Deflater deflater;
    if (deflateInit2(&deflater.stream, Z_BEST_SPEED, Z_DEFLATED, -15, 9, Z_RLE) != Z_OK)
        return false;
    deflater.open = true;
    z_stream &z = deflater.stream;
    std::vector<uint8_t> row(rowBytes);
    // (The rows' size in 64 bits, capped where a uLong is 32: only a first guess.)
    const uint64_t input = std::min<uint64_t>(uint64_t(rowBytes) * uint64_t(end - begin), 0x7FFFFFFFu);
    out->resize(deflateBound(&z, uLong(input)) / 2 + 4096);
    size_t produced = 0;
    *adler = adler32(0L, Z_NULL, 0);
    auto pump = [&](int flush) {
        for (;;) {
            if (produced == out->size())
                out->resize(out->size() * 2);
            z.next_out = out->data() + produced;
            z.avail_out = uInt(out->size() - produced);
            const int answer = deflate(&z, flush);
            if (answer != Z_OK && answer != Z_STREAM_END && answer != Z_BUF_ERROR)
                return false;
            produced = out->size() - z.avail_out;
            if (answer == Z_STREAM_END)
                return true;
            // Done with this input when zlib left room in the output.
            if (z.avail_in == 0 && z.avail_out != 0 && flush != Z_FINISH)
                return true;
        }
    };
    for (int32_t y = begin; y < end; ++y) {
        FilterRow(document, channels, y, row.data());
        *adler = adler32(*adler, row.data(), uInt(row.size()));
        z.next_in = row.data();
        z.avail_in = uInt(row.size());
        if (!pump(Z_NO_FLUSH))
            return false;
    }
    if (!pump(last ? Z_FINISH : Z_SYNC_FLUSH))
        return false;
    out->resize(produced);
    return true;
}

// The image data deflated in `pieces` pieces of rows, one per thread, joined
// into the one zlib stream a PNG holds: the zlib header, the pieces' raw
// deflate data one after another (each but the last ending on a byte
// boundary without a final block), and the Adler-32 of all the rows,
// combined from the pieces'.
bool WritePieces(const Document &document, int32_t channels, size_t rowBytes, int pieces, int threads,
                 const ByteSink &sink, std::string *error)
{
    std::vector<std::vector<uint8_t>> deflated(static_cast<size_t>(pieces));
    std::vector<uLong> adlers(static_cast<size_t>(pieces));
    std::vector<uint64_t> lengths(static_cast<size_t>(pieces));
    std::vector<char> ok(static_cast<size_t>(pieces), 0);
    parallel::ForEach(pieces, threads, [&](int i) {
        int64_t begin = 0, end = 0;
        parallel::Band(document.height, pieces, i, &begin, &end);
        lengths[size_t(i)] = uint64_t(rowBytes) * uint64_t(end - begin);
        ok[size_t(i)] = DeflatePiece(document, channels, rowBytes, int32_t(begin), int32_t(end), i + 1 == pieces,
                                     &deflated[size_t(i)], &adlers[size_t(i)])
                            ? 1
                            : 0;
    });
    if (std::find(ok.begin(), ok.end(), 0) != ok.end()) {
        *error = "out of memory";
        return false;
    }
    uint32_t adler = uint32_t(adlers[0]);
    for (size_t i = 1; i < adlers.size(); ++i)
        adler = CombineAdler(adler, uint32_t(adlers[i]), lengths[i]);

    // The stream as deflate at level 1 begins it: a 32 KB window, the
    // fastest level, and the check bits.
    const uint8_t zlibHeader[2] = {0x78, 0x01};
    uint8_t trailer[4];
    PutBigEndian32(trailer, uint32_t(adler));
    std::vector<uint8_t> chunk;
    chunk.reserve(kChunkBytes);
    auto put = [&](const uint8_t *bytes, size_t size) {
        while (size > 0) {
            const size_t take = std::min(size, kChunkBytes - chunk.size());
            chunk.insert(chunk.end(), bytes, bytes + take);
            bytes += take;
            size -= take;
            if (chunk.size() == kChunkBytes) {
                if (!WriteChunk(sink, "IDAT", chunk.data(), chunk.size()))
                    return false;
                chunk.clear();
            }
        }
        return true;
    };
    // Where each piece begins in the stream, and its first row, ahead of
    // the image data: this host's reader inflates the pieces of such a file
    // at once. Other readers pass over the chunk (ancillary, private).
    std::vector<uint8_t> index(4 + 8 * size_t(pieces) + 4);
    PutBigEndian32(index.data(), uint32_t(pieces));
    size_t offset = sizeof zlibHeader;
    for (int i = 0; i < pieces; ++i) {
        int64_t begin = 0, end = 0;
        parallel::Band(document.height, pieces, i, &begin, &end);
        PutBigEndian32(index.data() + 4 + 8 * size_t(i), uint32_t(offset));
        PutBigEndian32(index.data() + 8 + 8 * size_t(i), uint32_t(begin));
        offset += deflated[size_t(i)].size();
    }
    PutBigEndian32(index.data() + index.size() - 4, uint32_t(offset));
    if (offset > 0x7FFFFFFF)
        index.clear();  // offsets past what the chunk holds: no index
    bool written = index.empty() || WriteChunk(sink, kPieceIndex, index.data(), index.size());
    written = written && put(zlibHeader, sizeof zlibHeader);
    for (size_t i = 0; written && i < deflated.size(); ++i) {
        written = put(deflated[i].data(), deflated[i].size());
        deflated[i] = std::vector<uint8_t>();
    }
    written = written && put(trailer, sizeof trailer) &&
              (chunk.empty() || WriteChunk(sink, "IDAT", chunk.data(), chunk.size())) &&
              WriteChunk(sink, "IEND", nullptr, 0);
    if (!written)
        *error = "cannot write the file";
    return written;
}

} // namespace

uint32_t CombineAdler(uint32_t first, uint32_t second, uint64_t secondLength)
{
    // zlib takes the length as a z_off_t, which is 32 bits where `long` is
    // (Windows, both architectures; its adler32_combine64 is no wider
    // there): a length of 2 GB or more would come out negative and the
    // answer ffffffff. The combination depends on the length only modulo
    // 65521, the checksum's modulus, so the remainder is handed over, which
    // every z_off_t holds.
    return uint32_t(adler32_combine(first, second, z_off_t(secondLength % 65521u)));
}

bool WritePng(const Document &document, const ByteSink &sink, std::string *error, int threads, size_t pieceBytes,
              const std::vector<PngChunk> &chunks)
{
    // Colour with its transparency, colour, or grey.
    const int32_t channels = document.PlaneCount() >= 4 && document.hasTransparency ? 4
                             : document.PlaneCount() >= 3                          ? 3
                             : document.PlaneCount() >= 1                          ? 1
                                                                                   : 0;
    if (channels == 0 || document.width <= 0 || document.height <= 0 ||
        (document.depth != 8 && document.depth != 16)) {
        *error = "a PNG holds 8- or 16-bit grey or RGB images of at least one pixel";
        return false;
    }
    const size_t rowBytes = 1 + size_t(document.width) * size_t(channels) * (document.depth == 16 ? 2 : 1);
    if (rowBytes > 0x7FFFFFFF / 2) {
        *error = "the image is too wide for a PNG";
        return false;
    }

    uint8_t header[13];
    PutBigEndian32(header, uint32_t(document.width));
    PutBigEndian32(header + 4, uint32_t(document.height));
    header[8] = uint8_t(document.depth);
    header[9] = channels == 4 ? 6 : channels == 3 ? 2 : 0;  // colour type: with alpha, truecolour or greyscale
    header[10] = header[11] = header[12] = 0;  // deflate, adaptive filters, no interlace
    if (!sink(kSignature, sizeof kSignature) || !WriteChunk(sink, "IHDR", header, sizeof header)) {
        *error = "cannot write the file";
        return false;
    }
    for (const PngChunk &chunk : chunks)
        if (chunk.type.size() != 4 || chunk.data.size() > 0x7FFFFFFF ||
            !WriteChunk(sink, chunk.type.data(), chunk.data.data(), chunk.data.size())) {
            *error = "cannot write the file";
            return false;
        }

    // Smaller pieces than pieceBytes gain little time and lose a little
    // compression at each join.
    const int pieces = parallel::BandCount(document.height, int64_t((pieceBytes + rowBytes - 1) / rowBytes), threads);
    if (pieces > 1)
        return WritePieces(document, channels, rowBytes, pieces, threads, sink, error);

    Deflater deflater;
    if (deflateInit2(&deflater.stream, Z_BEST_SPEED, Z_DEFLATED, 15, 9, Z_RLE) != Z_OK) {
        *error = "out of memory";
        return false;
    }
    deflater.open = true;
    z_stream &z = deflater.stream;
    std::vector<uint8_t> row(rowBytes), chunk(kChunkBytes);
    z.next_out = chunk.data();
    z.avail_out = uInt(chunk.size());
    // Deflates what is in z.next_in; a full chunk goes to the file.
    auto pump = [&](int flush) {
        for (;;) {
            const int answer = deflate(&z, flush);
            if (answer != Z_OK && answer != Z_STREAM_END && answer != Z_BUF_ERROR)
                return false;
            if (z.avail_out == 0 || (answer == Z_STREAM_END && z.avail_out != chunk.size())) {
                if (!WriteChunk(sink, "IDAT", chunk.data(), chunk.size() - z.avail_out))
                    return false;
                z.next_out = chunk.data();
                z.avail_out = uInt(chunk.size());
            }
            if (answer == Z_STREAM_END)
                return true;
            if (flush == Z_NO_FLUSH && z.avail_in == 0)
                return true;
        }
    };
    for (int32_t y = 0; y < document.height; ++y) {
        FilterRow(document, channels, y, row.data());
        z.next_in = row.data();
        z.avail_in = uInt(row.size());
        if (!pump(Z_NO_FLUSH)) {
            *error = "cannot write the file";
            return false;
        }
    }
    if (!pump(Z_FINISH) || !WriteChunk(sink, "IEND", nullptr, 0)) {
        *error = "cannot write the file";
        return false;
    }
    return true;
}
