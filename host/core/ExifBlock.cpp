// The EXIF block's directories, walked as TIFF lays them out: a header
// giving the byte order and the first directory's offset, then directories
// of 12-byte entries, each ending with the offset of the next. Every offset
// and count is checked against the block in 64-bit arithmetic before it is
// used.
#include <algorithm>
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
