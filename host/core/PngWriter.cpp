#include "host/core/PngWriter.h"

#include <zlib.h>

#include <cstring>
#include <vector>

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

} // namespace

bool WritePng(const Document &document, const ByteSink &sink, std::string *error)
{
    const int32_t channels = document.PlaneCount() >= 3 ? 3 : document.PlaneCount() >= 1 ? 1 : 0;
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
    header[9] = channels == 3 ? 2 : 0;  // colour type: truecolour or greyscale
    header[10] = header[11] = header[12] = 0;  // deflate, adaptive filters, no interlace
    if (!sink(kSignature, sizeof kSignature) || !WriteChunk(sink, "IHDR", header, sizeof header)) {
        *error = "cannot write the file";
        return false;
    }

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
