// Metadata built byte by byte for the tests and the fuzzers' seeds: an
// EXIF block in either byte order, with or without a thumbnail directory,
// and a stand-in colour profile.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <vector>

namespace exif_blocks {

// An EXIF block built entry by entry.
class Builder {
public:
    explicit Builder(bool big) : big_(big) {}

    void U16(std::vector<uint8_t> &to, uint16_t v) const
    {
        if (big_)
            to.insert(to.end(), {uint8_t(v >> 8), uint8_t(v)});
        else
            to.insert(to.end(), {uint8_t(v), uint8_t(v >> 8)});
    }
    void U32(std::vector<uint8_t> &to, uint32_t v) const
    {
        if (big_)
            to.insert(to.end(), {uint8_t(v >> 24), uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)});
        else
            to.insert(to.end(), {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)});
    }
    void Put32(std::vector<uint8_t> &to, size_t at, uint32_t v) const
    {
        std::vector<uint8_t> b;
        U32(b, v);
        std::copy(b.begin(), b.end(), to.begin() + std::ptrdiff_t(at));
    }

    // Header; IFD0 (Orientation 6, Make out of line, the EXIF pointer);
    // the EXIF directory (DateTimeOriginal); then, when `thumbnail`, IFD1
    // and its JPEG data, at the end or (`thumbnailFirst`) before the Make.
    std::vector<uint8_t> Build(bool thumbnail, bool thumbnailFirst = false) const
    {
        std::vector<uint8_t> b;
        b.insert(b.end(), big_ ? std::initializer_list<uint8_t>{'M', 'M', 0, 42}
                               : std::initializer_list<uint8_t>{'I', 'I', 42, 0});
        U32(b, 8);
        // IFD0 at 8: 3 entries, 2 + 36 + 4 = 42 bytes, ends at 50.
        U16(b, 3);
        U16(b, 271), U16(b, 2), U32(b, 11);
        const size_t makeOffset = b.size();
        U32(b, 0);
        U16(b, 274), U16(b, 3), U32(b, 1), U16(b, 6), U16(b, 0);
        U16(b, 0x8769), U16(b, 4), U32(b, 1);
        const size_t exifOffset = b.size();
        U32(b, 0);
        const size_t nextLink = b.size();
        U32(b, 0);
        std::vector<uint8_t> thumbBlock;
        auto putThumbnail = [&]() {
            const size_t ifd1 = b.size();
            Put32(b, nextLink, uint32_t(ifd1));
            U16(b, 2);
            U16(b, 0x0201), U16(b, 4), U32(b, 1);
            const size_t dataAt = b.size();
            U32(b, 0);
            U16(b, 0x0202), U16(b, 4), U32(b, 1), U32(b, 6);
            U32(b, 0);
            Put32(b, dataAt, uint32_t(b.size()));
            b.insert(b.end(), {0xFF, 0xD8, 0xFF, 0xD9, 0xAB, 0xCD});
        };
        if (thumbnail && thumbnailFirst)
            putThumbnail();
        Put32(b, makeOffset, uint32_t(b.size()));
        const char make[] = "PhoneMaker";
        b.insert(b.end(), make, make + sizeof make);
        b.push_back(0);  // to a word boundary
        Put32(b, exifOffset, uint32_t(b.size()));
        U16(b, 1);
        U16(b, 0x9003), U16(b, 2), U32(b, 20);
        const size_t dateOffset = b.size();
        U32(b, 0);
        U32(b, 0);
        Put32(b, dateOffset, uint32_t(b.size()));
        const char date[] = "2026:06:01 12:00:00";
        b.insert(b.end(), date, date + sizeof date);
        if (thumbnail && !thumbnailFirst)
            putThumbnail();
        return b;
    }

private:
    bool big_;
};

// Bytes of the given size with an ICC profile's signature where a profile
// has it.
inline std::vector<uint8_t> FakeProfile(size_t size)
{
    std::vector<uint8_t> p(size);
    for (size_t i = 0; i < size; ++i)
        p[i] = uint8_t((i * 131u + 7u) >> 3);
    const uint8_t signature[4] = {'a', 'c', 's', 'p'};
    if (size >= 40)
        std::copy(signature, signature + 4, p.begin() + 36);
    return p;
}

} // namespace exif_blocks
