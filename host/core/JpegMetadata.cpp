// A JPEG file's segments up to its first scan: the metadata in its APPn
// segments and comments, and, from its quantisation tables and frame
// header, the quality and chroma subsampling it was made with. Each
// segment's length is checked against the file before it is read.
#include <algorithm>
#include <cstring>

#include "host/core/Metadata.h"

namespace {

// The natural (row-major) position of each coefficient in the order a file
// lists them.
const uint8_t kZigzag[64] = {0,  1,  8,  16, 9,  2,  3,  10, 17, 24, 32, 25, 18, 11, 4,  5,
                             12, 19, 26, 33, 40, 48, 41, 34, 27, 20, 13, 6,  7,  14, 21, 28,
                             35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23, 30, 37, 44, 51,
                             58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55, 62, 63};

bool Starts(const std::vector<uint8_t> &data, const char *prefix, size_t length)
{
    return data.size() >= length && std::memcmp(data.data(), prefix, length) == 0;
}

bool IsFrame(uint8_t marker)
{
    return marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
}

struct ProfilePart {
    int sequence;
    int count;
    std::vector<uint8_t> bytes;
};

void JoinProfile(std::vector<ProfilePart> &parts, ImageMetadata *m)
{
    if (parts.empty())
        return;
    std::sort(parts.begin(), parts.end(),
              [](const ProfilePart &a, const ProfilePart &b) { return a.sequence < b.sequence; });
    const int count = parts.front().count;
    bool whole = count == int(parts.size());
    for (size_t i = 0; whole && i < parts.size(); ++i)
        whole = parts[i].count == count && parts[i].sequence == int(i) + 1;
    if (!whole) {
        m->dropped.push_back("the colour profile (its APP2 segments are missing or out of order)");
        return;
    }
    for (const ProfilePart &part : parts)
        m->icc.insert(m->icc.end(), part.bytes.begin(), part.bytes.end());
}

} // namespace

void ReadJpegMetadata(const uint8_t *bytes, size_t size, ImageMetadata *m)
{
    if (size < 4 || bytes[0] != 0xFF || bytes[1] != 0xD8)
        return;
    uint16_t tables[4][64] = {};
    bool defined[4] = {};
    int tableOf[4] = {-1, -1, -1, -1};
    int across[4] = {}, down[4] = {};
    int components = 0;
    std::vector<ProfilePart> profile;
    size_t at = 2;
    for (;;) {
        // Fill bytes may stand before a marker.
        while (at < size && bytes[at] == 0xFF && at + 1 < size && bytes[at + 1] == 0xFF)
            ++at;
        if (size - at < 2 || bytes[at] != 0xFF) {
            m->dropped.push_back("what follows a damaged segment of the JPEG file");
            break;
        }
        const uint8_t marker = bytes[at + 1];
        at += 2;
        if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7))
            continue;
        if (marker == 0xD9 || marker == 0xDA)
            break;
        if (size - at < 2) {
            m->dropped.push_back("what follows a damaged segment of the JPEG file");
            break;
        }
        const size_t length = size_t((bytes[at] << 8) | bytes[at + 1]);
        if (length < 2 || length > size - at) {
            m->dropped.push_back("what follows a damaged segment of the JPEG file");
            break;
        }
        const uint8_t *p = bytes + at + 2;
        const size_t n = length - 2;
        at += length;
        std::vector<uint8_t> data(p, p + n);
        if (marker == 0xDB) {
            for (size_t q = 0; q < n;) {
                const int precision = p[q] >> 4, id = p[q] & 15;
                const size_t entries = precision == 0 ? 64 : 128;
                if (id > 3 || precision > 1 || n - q - 1 < entries)
                    break;
                for (int k = 0; k < 64; ++k)
                    tables[id][kZigzag[k]] = precision == 0 ? p[q + 1 + size_t(k)]
                                                            : uint16_t((p[q + 1 + 2 * size_t(k)] << 8) |
                                                                       p[q + 2 + 2 * size_t(k)]);
                defined[id] = true;
                q += 1 + entries;
            }
        } else if (IsFrame(marker)) {
            if (n >= 6) {
                components = std::min<int>(p[5], 4);
                for (int c = 0; c < components && 6 + 3 * size_t(c) + 3 <= n; ++c) {
                    across[c] = p[6 + 3 * c + 1] >> 4;
                    down[c] = p[6 + 3 * c + 1] & 15;
                    tableOf[c] = p[6 + 3 * c + 2] & 3;
                }
            }
        } else if (marker == 0xE0) {
            if (Starts(data, "JFIF\0", 5) && n >= 12 && data[7] <= 2 && data[8] | data[9] | data[10] | data[11]) {
                m->resolution.unit = data[7] == 1   ? Resolution::Unit::Inch
                                     : data[7] == 2 ? Resolution::Unit::Centimetre
                                                    : Resolution::Unit::None;
                m->resolution.x = (data[8] << 8) | data[9];
                m->resolution.y = (data[10] << 8) | data[11];
            }
        } else if (marker == 0xE1) {
            static const char kXmp[] = "http://ns.adobe.com/xap/1.0/";
            static const char kExtended[] = "http://ns.adobe.com/xmp/extension/";
            if (Starts(data, "Exif\0", 5) && n >= 6) {
                if (m->exif.empty())
                    m->exif.assign(data.begin() + 6, data.end());
            } else if (Starts(data, kXmp, sizeof kXmp)) {
                if (m->xmp.empty())
                    m->xmp.assign(data.begin() + std::ptrdiff_t(sizeof kXmp), data.end());
            } else if (Starts(data, kExtended, sizeof kExtended)) {
                m->jpegSegments.push_back({marker, std::move(data)});
            }
        } else if (marker == 0xE2) {
            if (Starts(data, "ICC_PROFILE\0", 12)) {
                if (n < 14)
                    m->dropped.push_back("the colour profile (an APP2 segment is malformed)");
                else
                    profile.push_back({data[12], data[13], std::vector<uint8_t>(data.begin() + 14, data.end())});
            }
        } else if (marker == 0xED || marker == 0xFE) {
            m->jpegSegments.push_back({marker, std::move(data)});
        }
    }
    JoinProfile(profile, m);

    // The first component is the luma (or the grey); the chroma's tables and
    // sampling are the second's.
    if (components >= 1 && tableOf[0] >= 0 && defined[tableOf[0]]) {
        const bool chroma = components >= 3 && tableOf[1] >= 0 && defined[tableOf[1]];
        m->jpegQuality = EstimateJpegQuality(tables[tableOf[0]], chroma ? tables[tableOf[1]] : nullptr);
    }
    if (components >= 3 && across[1] > 0 && down[1] > 0 && across[2] > 0 && down[2] > 0) {
        const int chromaAcross = std::max(across[1], across[2]), chromaDown = std::max(down[1], down[2]);
        m->chromaAcross = std::max(1, across[0] / chromaAcross);
        m->chromaDown = std::max(1, down[0] / chromaDown);
    }
}
