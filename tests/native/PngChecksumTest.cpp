// The Adler-32 of pieces joined into one stream, for pieces of any length:
// checked against zlib's running checksum over the same bytes, and against
// the checksum of a run of zero bytes worked out by hand. Built natively and
// into the Windows tests, where zlib's own length type is 32 bits.
#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "host/core/PngWriter.h"

namespace {

const uint64_t kModulus = 65521;

uint32_t Adler(const std::vector<uint8_t> &bytes)
{
    return uint32_t(adler32(adler32(0L, Z_NULL, 0), bytes.data(), uInt(bytes.size())));
}

} // namespace

TEST(PngChecksum, JoinsShortPiecesAsZlibChecksumsTheWhole)
{
    std::vector<uint8_t> whole(100000);
    for (size_t i = 0; i < whole.size(); ++i)
        whole[i] = uint8_t(i * 131 + (i >> 9));
    for (size_t cut : {size_t(0), size_t(1), size_t(65521), size_t(99999), whole.size()}) {
        const std::vector<uint8_t> first(whole.begin(), whole.begin() + long(cut)),
            second(whole.begin() + long(cut), whole.end());
        EXPECT_EQ(CombineAdler(Adler(first), Adler(second), second.size()), Adler(whole)) << "cut at " << cut;
    }
}

// A second piece of 2 GB and more: zlib's running checksum over a repeated
// pattern of 2^31 + 12345 bytes, then runs of zeros up to 2^40 bytes, whose
// checksums follow from the definition (each zero byte adds nothing to the
// first sum and the first sum to the second).
TEST(PngChecksum, JoinsPiecesOfTwoGigabytesAndMore)
{
    const std::vector<uint8_t> head = {'p', 'i', 'e', 'c', 'e', 's', 0x00, 0xFF, 0x80};
    const uint32_t headAdler = Adler(head);

    std::vector<uint8_t> block(size_t(1) << 20);
    for (size_t i = 0; i < block.size(); ++i)
        block[i] = uint8_t(i * 7 + 3);
    const uint64_t length = (uint64_t(1) << 31) + 12345;
    uLong alone = adler32(0L, Z_NULL, 0), after = headAdler;
    for (uint64_t done = 0; done < length;) {
        const uInt take = uInt(std::min<uint64_t>(block.size(), length - done));
        alone = adler32(alone, block.data(), take);
        after = adler32(after, block.data(), take);
        done += take;
    }
    EXPECT_EQ(CombineAdler(headAdler, uint32_t(alone), length), uint32_t(after));

    const uint32_t a = headAdler & 0xFFFF, b = headAdler >> 16;
    for (uint64_t zeros : {uint64_t(1) << 31, (uint64_t(1) << 32) - 1, (uint64_t(1) << 32) + 5,
                           (uint64_t(1) << 40) + 3}) {
        const uint32_t zerosAdler = uint32_t((zeros % kModulus) << 16 | 1);
        const uint32_t expected = uint32_t((b + zeros % kModulus * a) % kModulus << 16 | a);
        EXPECT_EQ(CombineAdler(headAdler, zerosAdler, zeros), expected) << zeros << " zero bytes";
    }
}
