// The metadata as each output format holds it, and the JPEG quality
// estimate.
#include "host/core/Metadata.h"

#include <zlib.h>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

// The tables of the JPEG standard's Annex K, in natural order: the ones the
// common encoders scale by their quality setting.
const uint8_t kLuma[64] = {16, 11, 10, 16, 24,  40,  51,  61,  12, 12, 14, 19, 26,  58,  60,  55,
                           14, 13, 16, 24, 40,  57,  69,  56,  14, 17, 22, 29, 51,  87,  80,  62,
                           18, 22, 37, 56, 68,  109, 103, 77,  24, 35, 55, 64, 81,  104, 113, 92,
                           49, 64, 78, 87, 103, 121, 120, 101, 72, 92, 95, 98, 112, 100, 103, 99};
const uint8_t kChroma[64] = {17, 18, 24, 47, 99, 99, 99, 99, 18, 21, 26, 66, 99, 99, 99, 99,
                             24, 26, 56, 99, 99, 99, 99, 99, 47, 66, 99, 99, 99, 99, 99, 99,
                             99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99,
                             99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99};

const char kXmpKeyword[] = "XML:com.adobe.xmp";
const char kXmpNamespace[] = "http://ns.adobe.com/xap/1.0/";
// The most data a JPEG segment holds (its length field counts itself).
const size_t kSegmentData = 65533;

void Append(std::vector<uint8_t> &to, const void *bytes, size_t size)
{
    const auto *p = static_cast<const uint8_t *>(bytes);
    to.insert(to.end(), p, p + size);
}

void PutBe32(std::vector<uint8_t> &to, uint32_t v)
{
    const uint8_t b[4] = {uint8_t(v >> 24), uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)};
    Append(to, b, 4);
}

// The EXIF block as an output carries it: the thumbnail dropped; a block
// whose structure does not hold together is not carried.
std::vector<uint8_t> ExifForOutput(const ImageMetadata &m, std::vector<std::string> *dropped)
{
    std::vector<uint8_t> block = m.exif;
    if (block.empty())
        return block;
    const ExifSummary summary = SummariseExif(block.data(), block.size());
    if (!summary.valid) {
        dropped->push_back("the EXIF data (its header or first directory is malformed)");
        return {};
    }
    if (summary.hasThumbnail) {
        DropExifThumbnail(&block);
        dropped->push_back("the EXIF thumbnail (it shows the unfiltered picture)");
    }
    return block;
}

uint32_t Rounded(double v)
{
    return v <= 0 ? 0 : v >= 4294967295.0 ? 0xFFFFFFFFu : uint32_t(std::lround(v));
}

} // namespace

Resolution InInchesOrCentimetres(const Resolution &r)
{
    if (r.unit != Resolution::Unit::Metre)
        return r;
    Resolution to = r;
    const double x = r.x * 0.0254, y = r.y * 0.0254;
    if (std::fabs(x - std::round(x)) < 0.01 && std::fabs(y - std::round(y)) < 0.01) {
        to.unit = Resolution::Unit::Inch;
        to.x = std::round(x);
        to.y = std::round(y);
    } else {
        to.unit = Resolution::Unit::Centimetre;
        to.x = r.x / 100;
        to.y = r.y / 100;
    }
    return to;
}

std::vector<PngChunk> PngChunksFor(const ImageMetadata &m, std::vector<std::string> *dropped)
{
    std::vector<PngChunk> chunks;
    if (!m.icc.empty()) {
        PngChunk iccp{"iCCP", {}};
        const std::string name = m.iccName.empty() ? "ICC profile" : m.iccName;
        Append(iccp.data, name.data(), name.size());
        iccp.data.push_back(0);
        iccp.data.push_back(0);  // deflate
        uLongf packed = compressBound(uLong(m.icc.size()));
        std::vector<uint8_t> deflated(packed);
        if (compress2(deflated.data(), &packed, m.icc.data(), uLong(m.icc.size()), Z_BEST_COMPRESSION) == Z_OK) {
            Append(iccp.data, deflated.data(), packed);
            chunks.push_back(std::move(iccp));
        } else {
            dropped->push_back("the colour profile (it could not be compressed)");
        }
    }
    for (const PngChunk &c : m.pngColour)
        chunks.push_back(c);
    const Resolution &r = m.resolution;
    if (r.unit != Resolution::Unit::Unknown) {
        const double perMetre = r.unit == Resolution::Unit::Inch         ? 1 / 0.0254
                                : r.unit == Resolution::Unit::Centimetre ? 100
                                                                         : 1;
        PngChunk phys{"pHYs", {}};
        PutBe32(phys.data, Rounded(r.x * perMetre));
        PutBe32(phys.data, Rounded(r.y * perMetre));
        phys.data.push_back(r.unit == Resolution::Unit::None ? 0 : 1);
        if (Rounded(r.x * perMetre) != 0 && Rounded(r.y * perMetre) != 0)
            chunks.push_back(std::move(phys));
    }
    std::vector<uint8_t> exif = ExifForOutput(m, dropped);
    if (!exif.empty())
        chunks.push_back({"eXIf", std::move(exif)});
    if (!m.xmp.empty()) {
        PngChunk itxt{"iTXt", {}};
        Append(itxt.data, kXmpKeyword, sizeof kXmpKeyword);  // with its zero
        const uint8_t uncompressed[4] = {0, 0, 0, 0};         // flag, method, empty language and keyword
        Append(itxt.data, uncompressed, 4);
        Append(itxt.data, m.xmp.data(), m.xmp.size());
        chunks.push_back(std::move(itxt));
    }
    for (const PngChunk &c : m.pngText)
        chunks.push_back(c);
    for (const JpegSegment &s : m.jpegSegments) {
        if (s.marker == 0xFE && std::find(s.data.begin(), s.data.end(), 0) == s.data.end() && !s.data.empty()) {
            PngChunk text{"tEXt", {}};
            Append(text.data, "Comment", 8);
            Append(text.data, s.data.data(), s.data.size());
            chunks.push_back(std::move(text));
        } else if (s.marker == 0xED) {
            dropped->push_back("the JPEG file's Photoshop and IPTC data (a PNG has no place for it)");
        } else if (s.marker == 0xE1) {
            dropped->push_back("the JPEG file's extended XMP (a PNG has no place for it)");
        } else {
            dropped->push_back("a JPEG comment that is not text");
        }
    }
    return chunks;
}

std::vector<JpegSegment> JpegSegmentsFor(const ImageMetadata &m, std::vector<std::string> *dropped)
{
    std::vector<JpegSegment> segments;
    std::vector<uint8_t> exif = ExifForOutput(m, dropped);
    if (!exif.empty()) {
        if (exif.size() + 6 > kSegmentData) {
            dropped->push_back("the EXIF data (" + std::to_string(exif.size()) +
                               " bytes, more than a JPEG segment holds)");
        } else {
            JpegSegment app1{0xE1, {}};
            Append(app1.data, "Exif\0\0", 6);
            Append(app1.data, exif.data(), exif.size());
            segments.push_back(std::move(app1));
        }
    }
    if (!m.xmp.empty()) {
        if (m.xmp.size() + sizeof kXmpNamespace > kSegmentData) {
            dropped->push_back("the XMP metadata (" + std::to_string(m.xmp.size()) +
                               " bytes, more than a JPEG segment holds)");
        } else {
            JpegSegment app1{0xE1, {}};
            Append(app1.data, kXmpNamespace, sizeof kXmpNamespace);
            Append(app1.data, m.xmp.data(), m.xmp.size());
            segments.push_back(std::move(app1));
        }
    }
    if (!m.icc.empty()) {
        const size_t part = kSegmentData - 14;
        const size_t count = (m.icc.size() + part - 1) / part;
        if (count > 255) {
            dropped->push_back("the colour profile (" + std::to_string(m.icc.size()) +
                               " bytes, more than a JPEG file holds)");
        } else {
            for (size_t i = 0; i < count; ++i) {
                JpegSegment app2{0xE2, {}};
                Append(app2.data, "ICC_PROFILE\0", 12);
                app2.data.push_back(uint8_t(i + 1));
                app2.data.push_back(uint8_t(count));
                const size_t from = i * part, take = std::min(part, m.icc.size() - from);
                Append(app2.data, m.icc.data() + from, take);
                segments.push_back(std::move(app2));
            }
        }
    }
    for (const PngChunk &c : m.pngColour)
        if (c.type != "sRGB" || !m.icc.empty())  // a JPEG without a profile is taken as sRGB
            dropped->push_back("the PNG file's " + c.type + " chunk (a JPEG has no place for it)");
    if (!m.pngText.empty())
        dropped->push_back("the PNG file's " + std::to_string(m.pngText.size()) +
                           " text chunks (a JPEG has no place for them)");
    for (const JpegSegment &s : m.jpegSegments)
        segments.push_back(s);
    return segments;
}

void ScaledJpegTable(int quality, bool chroma, uint16_t table[64])
{
    quality = std::min(100, std::max(1, quality));
    const long scale = quality < 50 ? 5000 / quality : 200 - 2 * quality;
    const uint8_t *base = chroma ? kChroma : kLuma;
    for (int i = 0; i < 64; ++i)
        table[i] = uint16_t(std::min(255L, std::max(1L, (base[i] * scale + 50) / 100)));
}

int EstimateJpegQuality(const uint16_t luma[64], const uint16_t *chroma)
{
    int best = 1;
    uint64_t bestError = UINT64_MAX;
    for (int q = 1; q <= 100; ++q) {
        uint16_t table[64];
        uint64_t error = 0;
        ScaledJpegTable(q, false, table);
        for (int i = 0; i < 64; ++i)
            error += uint64_t(std::abs(int(table[i]) - int(luma[i])));
        if (chroma != nullptr) {
            ScaledJpegTable(q, true, table);
            for (int i = 0; i < 64; ++i)
                error += uint64_t(std::abs(int(table[i]) - int(chroma[i])));
        }
        if (error <= bestError) {
            bestError = error;
            best = q;
        }
    }
    return best;
}
