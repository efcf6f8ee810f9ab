// The EXIF block's directories, walked as TIFF lays them out: a header
// giving the byte order and the first directory's offset, then directories
// of 12-byte entries, each ending with the offset of the next. Every offset
// and count is checked against the block in 64-bit arithmetic before it is
// used.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "host/core/Metadata.h"

namespace {

class Block {
public:
    Block(const uint8_t *bytes, size_t size) : p_(bytes), size_(size)
    {
        big_ = size >= 2 && p_[0] == 'M';
    }
    bool Header() const
    {
        if (size_ < 8)
            return false;
        if (std::memcmp(p_, "II*\0", 4) != 0 && std::memcmp(p_, "MM\0*", 4) != 0)
            return false;
        return true;
    }
    bool Big() const { return big_; }
    uint8_t U8(uint64_t at) const { return p_[at]; }
    bool Has(uint64_t at, uint64_t length) const { return at <= size_ && length <= size_ - at; }
    uint16_t U16(uint64_t at) const
    {
        const uint8_t *q = p_ + at;
        return big_ ? uint16_t((q[0] << 8) | q[1]) : uint16_t(q[0] | (q[1] << 8));
    }
    uint32_t U32(uint64_t at) const
    {
        const uint8_t *q = p_ + at;
        return big_ ? (uint32_t(q[0]) << 24) | (uint32_t(q[1]) << 16) | (uint32_t(q[2]) << 8) | q[3]
                    : uint32_t(q[0]) | (uint32_t(q[1]) << 8) | (uint32_t(q[2]) << 16) | (uint32_t(q[3]) << 24);
    }

private:
    const uint8_t *p_;
    size_t size_;
    bool big_ = false;
};

// The bytes a value of the type takes; 0 for a type TIFF does not define.
uint32_t TypeBytes(uint16_t type)
{
    switch (type) {
    case 1: case 2: case 6: case 7: return 1;
    case 3: case 8: return 2;
    case 4: case 9: case 11: case 13: return 4;
    case 5: case 10: case 12: return 8;
    default: return 0;
    }
}

struct Directory {
    uint32_t at = 0;
    uint16_t count = 0;
    uint64_t End() const { return uint64_t(at) + 2 + 12ull * count + 4; }
};

// The directory at `at`, when its entries and next offset lie in the block.
bool ReadDirectory(const Block &b, uint32_t at, Directory *d)
{
    if (!b.Has(at, 2))
        return false;
    d->at = at;
    d->count = b.U16(at);
    return b.Has(at, uint64_t(2) + 12ull * d->count + 4);
}

// The entry's value's bytes: where they lie and how many (in the entry
// itself when they fit in 4).
bool ValueExtent(const Block &b, uint64_t entry, uint64_t *at, uint64_t *length)
{
    const uint32_t unit = TypeBytes(b.U16(entry + 2));
    if (unit == 0)
        return false;
    *length = uint64_t(unit) * b.U32(entry + 4);
    *at = *length <= 4 ? entry + 8 : b.U32(entry + 8);
    return true;
}

// The greatest end of the bytes the directory and its values take.
uint64_t DirectoryExtent(const Block &b, const Directory &d)
{
    uint64_t end = d.End();
    for (uint16_t i = 0; i < d.count; ++i) {
        const uint64_t entry = uint64_t(d.at) + 2 + 12ull * i;
        uint64_t at = 0, length = 0;
        if (ValueExtent(b, entry, &at, &length) && length > 4 && b.Has(at, length))
            end = std::max(end, at + length);
    }
    return end;
}

// The greatest end of everything a directory reaches: its entries' values
// and, through the pointer tags (EXIF, GPS, interoperability), the
// directories below it; `depth` stops a loop of pointers.
uint64_t ReachedExtent(const Block &b, uint32_t at, int depth)
{
    Directory d;
    if (depth > 4 || !ReadDirectory(b, at, &d))
        return 0;
    uint64_t end = DirectoryExtent(b, d);
    for (uint16_t i = 0; i < d.count; ++i) {
        const uint64_t entry = uint64_t(d.at) + 2 + 12ull * i;
        const uint16_t tag = b.U16(entry);
        const uint16_t type = b.U16(entry + 2);
        if ((tag == 0x8769 || tag == 0x8825 || tag == 0xA005) && (type == 4 || type == 13) &&
            b.U32(entry + 4) == 1)
            end = std::max(end, ReachedExtent(b, b.U32(entry + 8), depth + 1));
    }
    return end;
}

} // namespace

ExifSummary SummariseExif(const uint8_t *block, size_t size)
{
    ExifSummary s;
    Block b(block, size);
    Directory first;
    if (!b.Header() || b.U32(4) < 8 || !ReadDirectory(b, b.U32(4), &first))
        return s;
    s.valid = true;
    s.bigEndian = b.Big();
    for (uint16_t i = 0; i < first.count; ++i) {
        const uint64_t entry = uint64_t(first.at) + 2 + 12ull * i;
        if (b.U16(entry) == 274 && b.U16(entry + 2) == 3 && b.U32(entry + 4) == 1)
            s.orientation = b.U16(entry + 8);
        s.hasGps = s.hasGps || b.U16(entry) == 0x8825;
    }
    Directory second;
    const uint32_t next = b.U32(first.End() - 4);
    s.hasThumbnail = next != 0 && ReadDirectory(b, next, &second);
    return s;
}

bool DropExifThumbnail(std::vector<uint8_t> *block)
{
    Block b(block->data(), block->size());
    Directory first;
    if (!b.Header() || b.U32(4) < 8 || !ReadDirectory(b, b.U32(4), &first))
        return false;
    const uint64_t link = first.End() - 4;
    const uint32_t next = b.U32(link);
    Directory second;
    if (next == 0)
        return true;
    if (!ReadDirectory(b, next, &second)) {
        // A link to no directory: nothing to drop but the link.
        std::memset(block->data() + link, 0, 4);
        return true;
    }
    // Where the thumbnail's directory and data lie past everything else,
    // they are cut off; elsewhere they stay as bytes nothing points to.
    uint64_t kept = std::max<uint64_t>(8, ReachedExtent(b, first.at, 0));
    uint64_t thumbnailFrom = next;
    for (uint16_t i = 0; i < second.count; ++i) {
        const uint64_t entry = uint64_t(second.at) + 2 + 12ull * i;
        const uint16_t tag = b.U16(entry);
        if ((tag == 0x0201 || tag == 0x0111) && b.U32(entry + 4) == 1) {
            const uint64_t at = b.U16(entry + 2) == 3 ? b.U16(entry + 8) : b.U32(entry + 8);
            thumbnailFrom = std::min(thumbnailFrom, at);
        }
    }
    std::memset(block->data() + link, 0, 4);
    if (thumbnailFrom >= kept && kept < block->size())
        block->resize(size_t(kept));
    return true;
}

namespace {

// The entry's values, decoded, when they lie in the block.
bool DecodeEntry(const Block &b, uint64_t entry, ExifEntry *e)
{
    e->tag = b.U16(entry);
    e->type = b.U16(entry + 2);
    e->count = b.U32(entry + 4);
    uint64_t at = 0, length = 0;
    if (!ValueExtent(b, entry, &at, &length) || !b.Has(at, length) || length > (1u << 20))
        return false;
    const uint32_t unit = TypeBytes(e->type);
    for (uint32_t i = 0; i < e->count; ++i) {
        const uint64_t p = at + uint64_t(i) * unit;
        switch (e->type) {
        case 1: case 6: case 7: e->bytes.push_back(b.U8(p)); break;
        case 2: e->text.push_back(char(b.U8(p))); break;
        case 3: e->numbers.push_back(b.U16(p)); break;
        case 8: e->numbers.push_back(int16_t(b.U16(p))); break;
        case 4: case 13: e->numbers.push_back(b.U32(p)); break;
        case 9: e->numbers.push_back(int32_t(b.U32(p))); break;
        case 5: {
            const uint32_t d = b.U32(p + 4);
            e->numbers.push_back(d == 0 ? 0.0 : double(b.U32(p)) / d);
            break;
        }
        case 10: {
            const int32_t d = int32_t(b.U32(p + 4));
            e->numbers.push_back(d == 0 ? 0.0 : double(int32_t(b.U32(p))) / d);
            break;
        }
        case 11: {
            const uint32_t bits = b.U32(p);
            float f;
            std::memcpy(&f, &bits, 4);
            e->numbers.push_back(f);
            break;
        }
        case 12: {
            const uint64_t hi = b.U32(p + (b.Big() ? 0 : 4)), lo = b.U32(p + (b.Big() ? 4 : 0));
            const uint64_t bits = (hi << 32) | lo;
            double d;
            std::memcpy(&d, &bits, 8);
            e->numbers.push_back(d);
            break;
        }
        default: return false;
        }
    }
    // The text without its terminating zero (and what a writer padded).
    while (!e->text.empty() && e->text.back() == '\0')
        e->text.pop_back();
    return true;
}

bool IsPointer(uint16_t tag)
{
    return tag == 0x8769 || tag == 0x8825 || tag == 0xA005;
}

void PutLe16(std::vector<uint8_t> &to, uint16_t v)
{
    to.push_back(uint8_t(v));
    to.push_back(uint8_t(v >> 8));
}

void PutLe32(std::vector<uint8_t> &to, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        to.push_back(uint8_t(v >> (8 * i)));
}

// A quotient as a rational: whole numbers exactly, others over the largest
// power of ten that keeps both parts in range.
void PutRational(std::vector<uint8_t> &to, double v, bool isSigned)
{
    const double limit = isSigned ? 2147483647.0 : 4294967295.0;
    if (!std::isfinite(v) || (!isSigned && v < 0))
        v = 0;
    uint32_t denominator = 1;
    while (denominator < 1000000000u && std::fabs(v * denominator * 10) <= limit &&
           std::fabs(v * denominator - std::round(v * denominator)) > 1e-9)
        denominator *= 10;
    const double numerator = std::max(-limit, std::min(limit, std::round(v * denominator)));
    PutLe32(to, isSigned ? uint32_t(int32_t(numerator)) : uint32_t(numerator));
    PutLe32(to, denominator);
}

// The value's bytes, little-endian, as its type lays them out.
std::vector<uint8_t> ValueBytes(const ExifEntry &e, uint32_t *count)
{
    std::vector<uint8_t> v;
    switch (e.type) {
    case 1: case 6: case 7:
        v = e.bytes;
        *count = uint32_t(v.size());
        break;
    case 2:
        v.assign(e.text.begin(), e.text.end());
        v.push_back(0);
        *count = uint32_t(v.size());
        break;
    default:
        for (double n : e.numbers) {
            switch (e.type) {
            case 3: case 8: PutLe16(v, uint16_t(int32_t(n))); break;
            case 4: case 9: case 13: PutLe32(v, uint32_t(int64_t(n))); break;
            case 5: case 10: PutRational(v, n, e.type == 10); break;
            case 11: {
                const float f = float(n);
                uint32_t bits;
                std::memcpy(&bits, &f, 4);
                PutLe32(v, bits);
                break;
            }
            case 12: {
                uint64_t bits;
                std::memcpy(&bits, &n, 8);
                PutLe32(v, uint32_t(bits));
                PutLe32(v, uint32_t(bits >> 32));
                break;
            }
            default: break;
            }
        }
        *count = uint32_t(e.numbers.size());
        break;
    }
    return v;
}

// Writes one directory at the block's end: its entries, then the values
// that do not fit in an entry. `pointer` (a tag and the offset it points
// to) is added among them when its tag is not 0; answers the offset of the
// entry that holds it, for the caller to mend.
size_t PutDirectory(std::vector<uint8_t> &block, std::vector<ExifEntry> entries, uint16_t pointer)
{
    if (pointer != 0) {
        ExifEntry p;
        p.tag = pointer;
        p.type = 4;
        p.numbers.push_back(0);
        entries.push_back(p);
    }
    std::stable_sort(entries.begin(), entries.end(),
                     [](const ExifEntry &a, const ExifEntry &b) { return a.tag < b.tag; });
    const size_t start = block.size();
    size_t values = start + 2 + 12 * entries.size() + 4;
    std::vector<uint8_t> tail;
    PutLe16(block, uint16_t(entries.size()));
    size_t pointerAt = 0;
    for (const ExifEntry &e : entries) {
        uint32_t count = 0;
        std::vector<uint8_t> v = ValueBytes(e, &count);
        if (e.tag == pointer && pointer != 0)
            pointerAt = block.size() + 8;
        PutLe16(block, e.tag);
        PutLe16(block, e.type);
        PutLe32(block, count);
        if (v.size() <= 4) {
            v.resize(4, 0);
            block.insert(block.end(), v.begin(), v.end());
        } else {
            PutLe32(block, uint32_t(values + tail.size()));
            tail.insert(tail.end(), v.begin(), v.end());
            if (tail.size() % 2 != 0)
                tail.push_back(0);
        }
    }
    PutLe32(block, 0);
    block.insert(block.end(), tail.begin(), tail.end());
    return pointerAt;
}

} // namespace

bool ReadExifEntries(const uint8_t *block, size_t size, std::vector<ExifEntry> *first, std::vector<ExifEntry> *exif)
{
    Block b(block, size);
    Directory d;
    if (!b.Header() || b.U32(4) < 8 || !ReadDirectory(b, b.U32(4), &d))
        return false;
    uint32_t exifAt = 0;
    for (uint16_t i = 0; i < d.count; ++i) {
        const uint64_t entry = uint64_t(d.at) + 2 + 12ull * i;
        const uint16_t tag = b.U16(entry);
        if (tag == 0x8769 && b.U32(entry + 4) == 1)
            exifAt = b.U32(entry + 8);
        ExifEntry e;
        if (!IsPointer(tag) && DecodeEntry(b, entry, &e))
            first->push_back(std::move(e));
    }
    Directory x;
    if (exifAt != 0 && exifAt != d.at && ReadDirectory(b, exifAt, &x)) {
        for (uint16_t i = 0; i < x.count; ++i) {
            const uint64_t entry = uint64_t(x.at) + 2 + 12ull * i;
            ExifEntry e;
            if (!IsPointer(b.U16(entry)) && DecodeEntry(b, entry, &e))
                exif->push_back(std::move(e));
        }
    }
    return true;
}

std::vector<uint8_t> BuildExifBlock(std::vector<ExifEntry> first, std::vector<ExifEntry> exif)
{
    std::vector<uint8_t> block = {'I', 'I', 42, 0, 8, 0, 0, 0};
    const size_t pointerAt = PutDirectory(block, std::move(first), exif.empty() ? 0 : 0x8769);
    if (!exif.empty()) {
        const uint32_t at = uint32_t(block.size());
        for (int i = 0; i < 4; ++i)
            block[pointerAt + size_t(i)] = uint8_t(at >> (8 * i));
        PutDirectory(block, std::move(exif), 0);
    }
    return block;
}
