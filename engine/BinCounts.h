// Sixteen histogram counts packed into 64-bit words, for the median filter:
// adding and subtracting them a word at a time, and finding the bin that
// holds a given rank without branches.
#pragma once

#include <cstdint>
#include <cstring>
#include <type_traits>

#if defined(__SSE2__) && defined(__GNUC__)
#define UMBROLUX_BIN_COUNTS_SSE2 1
#include <emmintrin.h>
#endif

namespace filters {

// Count 8k + j (Bits 8) or 4k + j (Bits 16) sits in lane j of word k.
// Lanes add and subtract without carries between them as long as every
// count, and every running sum of a word's counts, stays below 2^Bits: for
// the counts of a median window of n samples, while n plus one column of
// them is below 2^Bits. 8-bit lanes thus serve radii up to 7, 16-bit lanes
// all the others (up to 100: 201^2 + 201 samples).
template <int Bits>
struct BinCounts {
    static_assert(Bits == 8 || Bits == 16, "8- or 16-bit lanes");
    using Count = typename std::conditional<Bits == 8, uint8_t, uint16_t>::type;
    static constexpr int kLanes = 64 / Bits;
    static constexpr int kWords = 16 / kLanes;
    static constexpr uint64_t kOnes = Bits == 8 ? 0x0101010101010101u : 0x0001000100010001u;
    static constexpr uint64_t kTops = kOnes << (Bits - 1);
    static constexpr uint64_t kLane = (uint64_t(1) << Bits) - 1;

    // A word from kLanes counts in memory: one load where the byte order
    // puts the first count in the lowest lane already.
    static uint64_t Word(const Count *counts)
    {
        uint64_t word = 0;
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
        std::memcpy(&word, counts, sizeof word);
#else
        for (int j = 0; j < kLanes; ++j)
            word |= uint64_t(counts[j]) << (Bits * j);
#endif
        return word;
    }

    // The sum of a word's lanes (which must fit one lane).
    static uint32_t Total(uint64_t word) { return uint32_t((word * kOnes) >> (64 - Bits)); }

    // The bin that holds rank `rank` (from 0, below 2^(Bits - 1)) of the
    // counts in `words`, whose total must exceed the rank; *within receives
    // the rank within that bin. On noise the bin is as good as random, so
    // nothing here is a condition the compiler could turn into a branch:
    // masks choose the word, and in it one subtraction compares the running
    // sums of all its lanes with the rank.
    static int32_t BinOfRankPortable(const uint64_t *words, uint32_t rank, uint32_t *within)
    {
        uint64_t word = words[0];
        uint32_t k = 0, sum = 0, below = 0;
        for (int i = 0; i + 1 < kWords; ++i) {
            const uint32_t total = Total(words[i]);
            sum += total;
            const uint32_t under = 0u - uint32_t(sum <= rank);  // all ones when word i lies below the rank
            k -= under;
            below += total & under;
            word ^= (word ^ words[i + 1]) & (0u - uint64_t(under & 1u));
        }
        rank -= below;
        // A lane's running sum s is at most the rank when its top bit is
        // clear and 2^(Bits - 1) + rank - s keeps its top bit.
        const uint64_t sums = word * kOnes;
        const uint64_t ranks = kTops + uint64_t(rank) * kOnes;
        const uint64_t under = ((ranks - (sums & ~kTops)) & ~sums & kTops) >> (Bits - 1);
        *within = rank - Total(word & (under * kLane));
        return int32_t(k * uint32_t(kLanes) + Total(under));
    }

    // The same, with SSE2 where the compiler targets it: all sixteen
    // running sums in one register (bytes) or two (16-bit lanes), a few
    // shifted additions, and no multiplications.
    static int32_t BinOfRank(const uint64_t *words, uint32_t rank, uint32_t *within)
    {
#if defined(UMBROLUX_BIN_COUNTS_SSE2)
        if constexpr (Bits == 8) {
            const __m128i counts = _mm_set_epi64x(int64_t(words[1]), int64_t(words[0]));
            __m128i sums = _mm_add_epi8(counts, _mm_slli_si128(counts, 1));
            sums = _mm_add_epi8(sums, _mm_slli_si128(sums, 2));
            sums = _mm_add_epi8(sums, _mm_slli_si128(sums, 4));
            sums = _mm_add_epi8(sums, _mm_slli_si128(sums, 8));
            const __m128i ranks = _mm_set1_epi8(char(rank));
            const __m128i under = _mm_cmpeq_epi8(_mm_max_epu8(sums, ranks), ranks);  // sum <= rank
            // The lanes under the rank are the lowest ones (the last never
            // is): count them by the first one that is not.
            const uint32_t bin = uint32_t(__builtin_ctz(~uint32_t(_mm_movemask_epi8(under))));
            const __m128i below = _mm_sad_epu8(_mm_and_si128(counts, under), _mm_setzero_si128());
            *within = rank - uint32_t(_mm_cvtsi128_si32(below) + _mm_cvtsi128_si32(_mm_srli_si128(below, 8)));
            return int32_t(bin);
        } else {
            // Eight 16-bit lanes to a register: running sums in each, the
            // first register's total added to the second's.
            const __m128i low = _mm_set_epi64x(int64_t(words[1]), int64_t(words[0]));
            const __m128i high = _mm_set_epi64x(int64_t(words[3]), int64_t(words[2]));
            auto runningSums = [](__m128i c) {
                c = _mm_add_epi16(c, _mm_slli_si128(c, 2));
                c = _mm_add_epi16(c, _mm_slli_si128(c, 4));
                return _mm_add_epi16(c, _mm_slli_si128(c, 8));
            };
            const __m128i sumsLow = runningSums(low);
            const __m128i lowTotal = _mm_shufflehi_epi16(sumsLow, 0xFF);
            const __m128i sumsHigh = _mm_add_epi16(runningSums(high), _mm_unpackhi_epi64(lowTotal, lowTotal));
            // sum <= rank where the saturating difference sum - rank is 0.
            const __m128i ranks = _mm_set1_epi16(int16_t(rank)), zero = _mm_setzero_si128();
            const __m128i underLow = _mm_cmpeq_epi16(_mm_subs_epu16(sumsLow, ranks), zero);
            const __m128i underHigh = _mm_cmpeq_epi16(_mm_subs_epu16(sumsHigh, ranks), zero);
            const uint32_t bin =
                uint32_t(__builtin_ctz(~uint32_t(_mm_movemask_epi8(_mm_packs_epi16(underLow, underHigh)))));
            // The counts of the bins under the rank, added across (no sum
            // of them exceeds the total).
            __m128i below = _mm_add_epi16(_mm_and_si128(low, underLow), _mm_and_si128(high, underHigh));
            below = _mm_add_epi16(below, _mm_srli_si128(below, 8));
            below = _mm_add_epi16(below, _mm_srli_si128(below, 4));
            below = _mm_add_epi16(below, _mm_srli_si128(below, 2));
            *within = rank - (uint32_t(_mm_cvtsi128_si32(below)) & 0xFFFFu);
            return int32_t(bin);
        }
#endif
        return BinOfRankPortable(words, rank, within);
    }
};

} // namespace filters
