// A PNG file's chunks beside its image: each length is checked against the
// file before the chunk is read, and a chunk the host keeps is taken only
// when its checksum is right.
#include <zlib.h>

#include <cstring>

#include "host/core/Metadata.h"

namespace {

const uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
// A profile or text of more than this, once inflated, is not taken.
const size_t kMostInflated = size_t(32) << 20;

uint32_t Be32(const uint8_t *p)
{
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3];
}

// A zlib stream inflated whole, at most kMostInflated bytes.
bool Inflate(const uint8_t *data, size_t size, std::vector<uint8_t> *out)
{
    z_stream z{};
    if (inflateInit(&z) != Z_OK)
        return false;
    out->clear();
    z.next_in = const_cast<uint8_t *>(data);
    z.avail_in = uInt(size);
    int result = Z_OK;
    uint8_t buffer[16384];
    while (result == Z_OK) {
        z.next_out = buffer;
        z.avail_out = sizeof buffer;
        result = inflate(&z, Z_NO_FLUSH);
        if (result != Z_OK && result != Z_STREAM_END)
            break;
        out->insert(out->end(), buffer, buffer + (sizeof buffer - z.avail_out));
        if (out->size() > kMostInflated || (result == Z_OK && z.avail_in == 0 && z.avail_out != 0)) {
            result = Z_DATA_ERROR;
            break;
        }
    }
    inflateEnd(&z);
    return result == Z_STREAM_END;
}

// The length of the text up to a zero byte at or after `from`, or npos.
size_t Terminated(const std::vector<uint8_t> &data, size_t from)
{
    for (size_t i = from; i < data.size(); ++i)
        if (data[i] == 0)
            return i - from;
    return std::string::npos;
}

void TakeProfile(const std::vector<uint8_t> &data, ImageMetadata *m)
{
    const size_t name = Terminated(data, 0);
    if (name == std::string::npos || name == 0 || name > 79 || name + 2 > data.size() || data[name + 1] != 0) {
        m->dropped.push_back("the colour profile (its iCCP chunk is malformed)");
        return;
    }
    std::vector<uint8_t> profile;
    if (!Inflate(data.data() + name + 2, data.size() - name - 2, &profile) || profile.empty()) {
        m->dropped.push_back("the colour profile (its iCCP chunk does not inflate)");
        return;
    }
    m->icc = std::move(profile);
    m->iccName.assign(reinterpret_cast<const char *>(data.data()), name);
}

// An iTXt chunk: XMP's packet is taken out, any other text kept as it is.
void TakeInternationalText(PngChunk chunk, ImageMetadata *m)
{
    const std::vector<uint8_t> &data = chunk.data;
    const size_t keyword = Terminated(data, 0);
    static const char kXmp[] = "XML:com.adobe.xmp";
    if (keyword != sizeof kXmp - 1 || std::memcmp(data.data(), kXmp, keyword) != 0) {
        m->pngText.push_back(std::move(chunk));
        return;
    }
    // keyword, 0, compressed flag, method, language, 0, translated keyword, 0, text
    size_t at = keyword + 1;
    if (at + 2 > data.size()) {
        m->dropped.push_back("the XMP metadata (its iTXt chunk is malformed)");
        return;
    }
    const bool compressed = data[at] != 0;
    at += 2;
    for (int field = 0; field < 2; ++field) {
        const size_t length = Terminated(data, at);
        if (length == std::string::npos) {
            m->dropped.push_back("the XMP metadata (its iTXt chunk is malformed)");
            return;
        }
        at += length + 1;
    }
    if (!compressed) {
        m->xmp.assign(data.begin() + std::ptrdiff_t(at), data.end());
    } else if (!Inflate(data.data() + at, data.size() - at, &m->xmp)) {
        m->xmp.clear();
        m->dropped.push_back("the XMP metadata (its iTXt chunk does not inflate)");
    }
}

} // namespace

void ReadPngMetadata(const uint8_t *bytes, size_t size, ImageMetadata *m)
{
    if (size < 8 || std::memcmp(bytes, kSignature, 8) != 0)
        return;
    size_t at = 8;
    while (size - at >= 12) {
        const uint64_t length = Be32(bytes + at);
        const uint8_t *type = bytes + at + 4;
        if (length > 0x7FFFFFFFu || length + 12 > size - at) {
            m->dropped.push_back("what follows a damaged chunk of the PNG file");
            return;
        }
        const std::string name(reinterpret_cast<const char *>(type), 4);
        if (name == "IEND")
            return;
        const bool wanted = name == "iCCP" || name == "sRGB" || name == "gAMA" || name == "cHRM" ||
                            name == "cICP" || name == "pHYs" || name == "eXIf" || name == "tEXt" ||
                            name == "zTXt" || name == "iTXt";
        if (wanted) {
            const uint8_t *data = type + 4;
            const uint32_t crc = uint32_t(crc32(crc32(0L, Z_NULL, 0), type, uInt(4 + length)));
            if (crc != Be32(data + length)) {
                m->dropped.push_back("the PNG file's " + name + " chunk (its checksum is wrong)");
            } else {
                PngChunk chunk{name, std::vector<uint8_t>(data, data + length)};
                if (name == "iCCP") {
                    TakeProfile(chunk.data, m);
                } else if (name == "eXIf") {
                    m->exif = std::move(chunk.data);
                } else if (name == "iTXt") {
                    TakeInternationalText(std::move(chunk), m);
                } else if (name == "tEXt" || name == "zTXt") {
                    m->pngText.push_back(std::move(chunk));
                } else if (name == "pHYs") {
                    if (length == 9 && data[8] <= 1) {
                        m->resolution.unit = data[8] == 1 ? Resolution::Unit::Metre : Resolution::Unit::None;
                        m->resolution.x = Be32(data);
                        m->resolution.y = Be32(data + 4);
                    } else {
                        m->dropped.push_back("the resolution (the pHYs chunk is malformed)");
                    }
                } else {
                    const size_t expected = name == "sRGB" ? 1 : name == "gAMA" ? 4 : name == "cHRM" ? 32 : 4;
                    if (length == expected)
                        m->pngColour.push_back(std::move(chunk));
                    else
                        m->dropped.push_back("the PNG file's " + name + " chunk (it is malformed)");
                }
            }
        }
        at += size_t(length) + 12;
    }
    if (at != size)
        m->dropped.push_back("what follows a damaged chunk of the PNG file");
}
