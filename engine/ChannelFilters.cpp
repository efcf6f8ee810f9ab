#include "engine/ChannelFilters.h"

#include <algorithm>
#include <cmath>

#include "engine/BinCounts.h"

namespace filters {
namespace {

template <typename T>
T *Scratch(std::vector<T> &buffer, size_t size)
{
    if (buffer.size() < size)
        buffer.resize(size);
    return buffer.data();
}

// The median's column histograms: 8-bit counts for windows of up to 255
// samples, 16-bit ones beyond.
template <typename Count>
std::vector<Count> &CountsOf(Workspace &ws, bool fine);
template <>
std::vector<uint8_t> &CountsOf<uint8_t>(Workspace &ws, bool fine)
{
    return fine ? ws.fine8 : ws.coarse8;
}
template <>
std::vector<uint16_t> &CountsOf<uint16_t>(Workspace &ws, bool fine)
{
    return fine ? ws.fine16 : ws.coarse16;
}

bool ValidPadding(int32_t padding)
{
    return padding == -1 || (padding >= 0 && padding <= 255);
}

// Row y of the source inside `rect` surrounded by `margin` samples of
// padding, (w + 2 margin) x (h + 2 margin) in all; or its padded columns
// first .. first + columns - 1 only.
template <typename Sample>
void PaddedRow(const RasterView &source, const VRect &rect, int32_t margin, int32_t padding, int32_t first,
               int32_t columns, int32_t y, Sample *row)
{
    const int32_t w = rect.right - rect.left, h = rect.bottom - rect.top;
    const uint16_t constant =
        padding < 0 ? 0 : (source.depth == 16 ? Convert8To16(uint32_t(padding)) : uint16_t(padding));
    const int32_t sy = y - margin;
    if (padding >= 0 && (sy < 0 || sy >= h)) {
        std::fill(row, row + columns, Sample(constant));
        return;
    }
    // The columns that lie left of the source, in it, and right of it.
    const int32_t end = first + columns;
    const int32_t inFirst = std::min(std::max(first, margin), end);
    const int32_t inEnd = std::max(std::min(end, margin + w), inFirst);
    const uint16_t *in = &source.At(rect.left, rect.top + std::min(std::max(sy, 0), h - 1));
    std::fill(row, row + (inFirst - first), Sample(padding >= 0 ? constant : in[0]));
    Sample *middle = row + (inFirst - first);
    const uint16_t *from = in + (inFirst - margin);
    for (int32_t x = 0; x < inEnd - inFirst; ++x)
        middle[x] = Sample(from[x]);
    std::fill(row + (inEnd - first), row + columns, Sample(padding >= 0 ? constant : in[w - 1]));
}

// Its padded rows firstRow .. firstRow + rows - 1, as a row-major buffer
// of the given columns.
template <typename Sample>
const Sample *Padded(std::vector<Sample> &buffer, const RasterView &source, const VRect &rect, int32_t margin,
                     int32_t padding, int32_t first, int32_t columns, int32_t firstRow, int32_t rows)
{
    Sample *out = Scratch(buffer, size_t(columns) * size_t(rows));
    for (int32_t y = 0; y < rows; ++y)
        PaddedRow(source, rect, margin, padding, first, columns, firstRow + y, out + size_t(y) * size_t(columns));
    return out;
}

// The rows rowBegin .. rowEnd - 1 of the working rectangle, counted from its
// top into *begin .. *end - 1; false when the band holds none of them.
bool BandOf(const VRect &r, int32_t rowBegin, int32_t rowEnd, int32_t *begin, int32_t *end)
{
    *begin = std::max(rowBegin, r.top) - r.top;
    *end = std::min(rowEnd, r.bottom) - r.top;
    return *end > *begin;
}

VRect Working(const RasterView &source, const RasterView &destination, const VRect &rect)
{
    return Intersect(Intersect(rect, source.bounds), destination.bounds);
}

// Median of an 8-bit padded buffer (w + 2r by h + 2r samples).
//
// Constant time per sample: a histogram per padded column over the
// window's rows, as 256 fine and 16 coarse counts, moved down a row per
// output row; the window's 16 coarse counts kept current as it slides
// right; of its fine counts, only the segment of 16 that the median falls
// into is brought up to date, from where it was last used (mostly the
// column before). Windows of one value are found from the columns that are
// of one value and skip the search. The columns are taken in stripes
// narrow enough for their histograms to stay in the processor's nearest
// caches.
//
// Output rows rowBegin .. rowEnd - 1 of the rectangle only (from its top),
// from padded rows rowBegin .. rowEnd + 2r - 1: every output depends on its
// window's samples alone, so a band of rows comes out as in the whole.
template <int Bits>
void Median8(const RasterView &source, const VRect &rect, int32_t r, int32_t padding, const RasterView &destination,
             int32_t rowBegin, int32_t rowEnd, Workspace &ws)
{
    const int32_t w = rect.right - rect.left, h = rowEnd - rowBegin;
    using P = BinCounts<Bits>;
    using Count = typename P::Count;
    const int kWords = P::kWords;
    const int32_t side = 2 * r + 1;
    const uint32_t half = uint32_t(side * side - 1) / 2;  // the median's rank, from 0
    const uint16_t kMixed = 256;                          // not of one value

    // Wide enough that the columns shared with the next stripe (2r of
    // them) are a small part of the work.
    const int32_t stripe = std::max(128, 4 * r);
    const int32_t maxColumns = std::min(w, stripe) + 2 * r;
    std::vector<Count> &fineCounts = CountsOf<Count>(ws, true), &coarseCounts = CountsOf<Count>(ws, false);
    Count *colFine = Scratch(fineCounts, size_t(maxColumns) * 256);
    Count *colCoarse = Scratch(coarseCounts, size_t(maxColumns) * 16);
    uint16_t *ofOne = Scratch(ws.ofOne, size_t(maxColumns));
    uint8_t *binOf = Scratch(ws.binOf, size_t(maxColumns));
    uint16_t *rankOf = Scratch(ws.rankOf, size_t(maxColumns));
    uint64_t fine[16][kWords];
    int32_t fineAt[16];  // the window column each fine segment is current for

    for (int32_t x0 = 0; x0 < w; x0 += stripe) {
        const int32_t sw = std::min(stripe, w - x0);  // output columns in this stripe
        const int32_t cols = sw + 2 * r;              // histogram columns: padded x0 .. x0 + cols
        // The stripe's padded columns, row after row: read in order.
        const uint8_t *p = Padded(ws.padded8, source, rect, r, padding, x0, cols, rowBegin, h + 2 * r);
        const size_t pw = size_t(cols);
        std::fill(colFine, colFine + size_t(cols) * 256, Count(0));
        std::fill(colCoarse, colCoarse + size_t(cols) * 16, Count(0));
        // Rows 0 .. 2r - 1, and row 0 once more, which the first output
        // row takes out again as it takes row 2r in.
        for (int32_t y = -1; y < side - 1; ++y) {
            const uint8_t *row = p + size_t(std::max(y, 0)) * pw;
            for (int32_t col = 0; col < cols; ++col) {
                ++colFine[size_t(col) * 256 + row[col]];
                ++colCoarse[size_t(col) * 16 + (row[col] >> 4)];
            }
        }

        for (int32_t y = 0; y < h; ++y) {
            // The window's rows become y .. y + 2r: row y - 1 (row 0 for the
            // first) leaves the columns, row y + 2r enters. A window is of
            // one value when its 2r + 1 columns are, alike: `ofOne[col]` is
            // that value for the window whose last column is col, or kMixed.
            const uint8_t *leaving = p + size_t(std::max(y - 1, 0)) * pw;
            const uint8_t *entering = p + size_t(y + side - 1) * pw;
            int32_t runStart = 0;  // the first column of the run of equal columns through col
            uint16_t previous = kMixed;
            for (int32_t col = 0; col < cols; ++col) {
                const uint8_t out = leaving[col], v = entering[col];
                --colFine[size_t(col) * 256 + out];
                --colCoarse[size_t(col) * 16 + (out >> 4)];
                const int32_t count = ++colFine[size_t(col) * 256 + v];
                ++colCoarse[size_t(col) * 16 + (v >> 4)];
                const uint16_t value = count == side ? v : kMixed;
                runStart = value == previous ? runStart : col;
                previous = value;
                ofOne[col] = runStart <= col - 2 * r ? value : kMixed;
            }

            uint64_t coarse[kWords] = {};
            for (int32_t col = 0; col < side; ++col)
                for (int i = 0; i < kWords; ++i)
                    coarse[i] += P::Word(colCoarse + size_t(col) * 16 + size_t(i) * P::kLanes);
            std::fill(std::begin(fineAt), std::end(fineAt), -side);

            // First the coarse bin of every window of the row and the rank
            // within it, then the fine segments: two short loops keep more
            // windows in flight in the processor than one long one.
            for (int32_t x = 0; x < sw; ++x) {
                if (x > 0) {
                    const Count *enter = colCoarse + size_t(x - 1 + side) * 16;
                    const Count *leave = colCoarse + size_t(x - 1) * 16;
                    for (int i = 0; i < kWords; ++i)
                        coarse[i] = coarse[i] + P::Word(enter + i * P::kLanes) - P::Word(leave + i * P::kLanes);
                }
                if (ofOne[x + 2 * r] != kMixed)
                    continue;
                uint32_t rank = 0;
                binOf[x] = uint8_t(P::BinOfRank(coarse, half, &rank));
                rankOf[x] = uint16_t(rank);
            }
            uint16_t *out = &destination.At(rect.left + x0, rect.top + rowBegin + y);
            for (int32_t x = 0; x < sw; ++x) {
                if (ofOne[x + 2 * r] != kMixed) {
                    out[x] = ofOne[x + 2 * r];
                    continue;
                }
                const int32_t c = binOf[x];
                uint64_t *segment = fine[c];
                const Count *column = colFine + size_t(c) * 16;  // the segment's counts in column 0
                if (x - fineAt[c] > side / 2) {
                    for (int i = 0; i < kWords; ++i)
                        segment[i] = 0;
                    for (int32_t col = x; col < x + side; ++col)
                        for (int i = 0; i < kWords; ++i)
                            segment[i] += P::Word(column + size_t(col) * 256 + size_t(i) * P::kLanes);
                } else {
                    for (int32_t step = fineAt[c]; step < x; ++step) {
                        const Count *enter = column + size_t(step + side) * 256;
                        const Count *leave = column + size_t(step) * 256;
                        for (int i = 0; i < kWords; ++i)
                            segment[i] = segment[i] + P::Word(enter + i * P::kLanes) - P::Word(leave + i * P::kLanes);
                    }
                }
                fineAt[c] = x;
                uint32_t rank = 0;
                out[x] = uint16_t(16 * c + P::BinOfRank(segment, rankOf[x], &rank));
            }
        }
    }
}

// Median of a 16-bit padded buffer (w + 2r by h + 2r samples, of any
// 16-bit values). The window moves a sample at a time along rows that turn
// at the ends (left to right, down, right to left, down, ...), each step
// taking one line of 2r + 1 samples out and another in. Its histogram is
// kept at four levels, counting the samples by their top 4, 8, 12 and all
// 16 bits, so that four searches among 16 counts find the median. The
// buffer's first row is padded row rowBegin; its h output rows are the
// rectangle's rows rowBegin .. rowBegin + h - 1.
void Median16(const uint16_t *p, int32_t w, int32_t h, int32_t r, const RasterView &destination,
              const VRect &rect, int32_t rowBegin, Workspace &ws)
{
    using Counts = BinCounts<16>;
    const int32_t side = 2 * r + 1;
    const size_t pw = size_t(w) + 2 * size_t(r);
    const uint32_t half = uint32_t(side * side - 1) / 2;  // the median's rank, from 0
    const size_t total = 16 + 256 + 4096 + 65536;
    uint16_t *level1 = Scratch(ws.levels, total);
    std::fill(level1, level1 + total, uint16_t(0));
    uint16_t *level2 = level1 + 16, *level3 = level2 + 256, *level4 = level3 + 4096;

    auto add = [&](uint32_t v) {
        ++level1[v >> 12];
        ++level2[v >> 8];
        ++level3[v >> 4];
        ++level4[v];
    };
    auto remove = [&](uint32_t v) {
        --level1[v >> 12];
        --level2[v >> 8];
        --level3[v >> 4];
        --level4[v];
    };
    // One line of the window out and another in, `step` samples apart along it.
    auto swap = [&](const uint16_t *out, const uint16_t *in, size_t step) {
        for (int32_t i = 0; i < side; ++i, out += step, in += step) {
            remove(*out);
            add(*in);
        }
    };
    auto median = [&]() {
        uint32_t rank = half, bin = 0;
        for (const uint16_t *level : {level1, level2, level3, level4}) {
            const uint16_t *group = level + size_t(bin) * 16;
            uint64_t words[Counts::kWords];
            for (int k = 0; k < Counts::kWords; ++k)
                words[k] = Counts::Word(group + k * Counts::kLanes);
            bin = bin * 16 + uint32_t(Counts::BinOfRank(words, rank, &rank));
        }
        return uint16_t(bin);
    };

    for (int32_t dy = 0; dy < side; ++dy)
        for (int32_t dx = 0; dx < side; ++dx)
            add(p[size_t(dy) * pw + size_t(dx)]);
    int32_t x = 0;  // the window's left column in the padded buffer, and its output column
    for (int32_t y = 0;;) {
        const int32_t direction = y % 2 == 0 ? 1 : -1;
        const uint16_t *top = p + size_t(y) * pw;
        for (int32_t i = 0;; ++i) {
            destination.At(rect.left + x, rect.top + rowBegin + y) = median();
            if (i + 1 == w)
                break;
            if (direction > 0)
                swap(top + x, top + x + side, pw);
            else
                swap(top + x + 2 * r, top + x - 1, pw);
            x += direction;
        }
        if (++y == h)
            break;
        swap(top + x, top + size_t(side) * pw + x, 1);
    }
}

} // namespace

std::vector<uint32_t> GaussianWeights(double sigma)
{
    const int32_t radius = std::max<int32_t>(1, int32_t(std::ceil(3.0 * sigma)));
    std::vector<double> raw(size_t(2 * radius + 1));
    double total = 0.0;
    for (int32_t i = -radius; i <= radius; ++i) {
        raw[size_t(i + radius)] = std::exp(-double(i) * i / (2.0 * sigma * sigma));
        total += raw[size_t(i + radius)];
    }
    std::vector<uint32_t> weights(raw.size());
    uint32_t sum = 0;
    for (size_t i = 0; i < raw.size(); ++i) {
        weights[i] = uint32_t(std::lround(raw[i] / total * 65536.0));
        sum += weights[i];
    }
    weights[size_t(radius)] += 65536u - sum;  // the centre takes the rounding
    return weights;
}

SPErr GaussianBlur(const RasterView &source, const RasterView &destination, VRect rect, Fixed radius,
                   int32_t padding, Workspace &ws)
{
    return GaussianBlurRows(source, destination, rect, radius, padding, rect.top, rect.bottom, ws);
}

int32_t GaussianReach(Fixed radius)
{
    if (radius <= 0 || radius > (250 << 16))
        return 0;
    return int32_t(GaussianWeights(radius / 65536.0).size() / 2);
}

SPErr GaussianBlurRows(const RasterView &source, const RasterView &destination, VRect rect, Fixed radius,
                       int32_t padding, int32_t rowBegin, int32_t rowEnd, Workspace &ws)
{
    if (!ValidPadding(padding) || radius < 0 || radius > (250 << 16))
        return paramErr;
    const VRect r = Working(source, destination, rect);
    if (IsEmpty(r))
        return noErr;
    int32_t b = 0, e = 0;
    if (!BandOf(r, rowBegin, rowEnd, &b, &e))
        return noErr;
    if (radius == 0)
        return CopyPixels(source, destination, VRect{r.top + b, r.left, r.top + e, r.right});
    const std::vector<uint32_t> weights = GaussianWeights(radius / 65536.0);
    const int32_t taps = int32_t(weights.size()), margin = taps / 2;
    const int32_t w = r.right - r.left;
    const bool convert = source.depth != destination.depth;

    // Every product below is of two 16-bit numbers, which SSE2 multiplies
    // eight at a time. A weight of 65536 is the only one that does not fit:
    // the whole weight on the centre, which leaves every sample as it is.
    if (weights[size_t(margin)] == 65536u) {
        for (int32_t y = r.top + b; y < r.top + e; ++y)
            for (int32_t x = r.left; x < r.right; ++x) {
                const uint32_t v = source.At(x, y);
                destination.At(x, y) = uint16_t(!convert ? v : destination.depth == 8 ? Convert16To8(v) : Convert8To16(v));
            }
        return noErr;
    }
    std::vector<uint16_t> weight(weights.begin(), weights.end());

    // Row by row: a padded row's horizontal sums H = sum(wx * sample), below
    // 2^31, are kept for the last `taps` rows as their high and low 16
    // bits; then, for the output row they complete, A = sum(wy * high) and
    // B = sum(wy * low), each below 2^32, make the exact total A 2^16 + B,
    // whose rounded value (A 2^16 + B + 2^31) / 2^32 is
    // (A + B / 2^16 + 2^15) / 2^16, divisions truncating. A band of output
    // rows b .. e - 1 takes padded rows b .. e + 2 margin - 1, and gives the
    // same sums for them as the whole does.
    uint16_t *highs = Scratch(ws.highs, size_t(taps) * size_t(w));
    uint16_t *lows = Scratch(ws.lows, size_t(taps) * size_t(w));
    uint16_t *row = Scratch(ws.row, size_t(w) + 2 * size_t(margin));
    uint32_t *sumA = Scratch(ws.sumA, size_t(w));
    uint32_t *sumB = Scratch(ws.sumB, size_t(w));
    for (int32_t py = b; py < e + 2 * margin; ++py) {
        PaddedRow(source, r, margin, padding, 0, w + 2 * margin, py, row);
        // Three taps to a pass over the row, so that the sums are loaded
        // and stored a third as often.
        std::fill(sumA, sumA + w, 0u);
        for (int32_t t = 0; t < taps; t += 3) {
            const uint16_t w0 = weight[size_t(t)];
            const uint16_t w1 = t + 1 < taps ? weight[size_t(t + 1)] : 0;
            const uint16_t w2 = t + 2 < taps ? weight[size_t(t + 2)] : 0;
            const uint16_t *in0 = row + t, *in1 = row + std::min(t + 1, taps - 1), *in2 = row + std::min(t + 2, taps - 1);
            for (int32_t x = 0; x < w; ++x)
                sumA[x] += uint32_t(w0) * uint32_t(in0[x]) + uint32_t(w1) * uint32_t(in1[x]) +
                           uint32_t(w2) * uint32_t(in2[x]);
        }
        uint16_t *high = highs + size_t(py % taps) * size_t(w), *low = lows + size_t(py % taps) * size_t(w);
        for (int32_t x = 0; x < w; ++x) {
            high[x] = uint16_t(sumA[x] >> 16);
            low[x] = uint16_t(sumA[x]);
        }
        if (py < b + taps - 1)
            continue;

        const int32_t y = py - (taps - 1);  // the output row, whose padded rows are y .. py
        std::fill(sumA, sumA + w, 0u);
        std::fill(sumB, sumB + w, 0u);
        for (int32_t t = 0; t < taps; t += 3) {
            const uint16_t w0 = weight[size_t(t)];
            const uint16_t w1 = t + 1 < taps ? weight[size_t(t + 1)] : 0;
            const uint16_t w2 = t + 2 < taps ? weight[size_t(t + 2)] : 0;
            const size_t r0 = size_t((y + t) % taps) * size_t(w);
            const size_t r1 = size_t((y + std::min(t + 1, taps - 1)) % taps) * size_t(w);
            const size_t r2 = size_t((y + std::min(t + 2, taps - 1)) % taps) * size_t(w);
            const uint16_t *h0 = highs + r0, *h1 = highs + r1, *h2 = highs + r2;
            const uint16_t *l0 = lows + r0, *l1 = lows + r1, *l2 = lows + r2;
            for (int32_t x = 0; x < w; ++x) {
                sumA[x] += uint32_t(w0) * uint32_t(h0[x]) + uint32_t(w1) * uint32_t(h1[x]) +
                           uint32_t(w2) * uint32_t(h2[x]);
                sumB[x] += uint32_t(w0) * uint32_t(l0[x]) + uint32_t(w1) * uint32_t(l1[x]) +
                           uint32_t(w2) * uint32_t(l2[x]);
            }
        }
        uint16_t *out = &destination.At(r.left, r.top + y);
        if (!convert) {
            for (int32_t x = 0; x < w; ++x)
                out[x] = uint16_t((sumA[x] + (sumB[x] >> 16) + 0x8000u) >> 16);
        } else {
            for (int32_t x = 0; x < w; ++x) {
                const uint32_t v = (sumA[x] + (sumB[x] >> 16) + 0x8000u) >> 16;
                out[x] = uint16_t(destination.depth == 8 ? Convert16To8(v) : Convert8To16(v));
            }
        }
    }
    return noErr;
}

SPErr MedianFilter(const RasterView &source, const RasterView &destination, VRect rect, int32_t radius,
                   int32_t padding, Workspace &ws)
{
    return MedianFilterRows(source, destination, rect, radius, padding, rect.top, rect.bottom, ws);
}

SPErr MedianFilterRows(const RasterView &source, const RasterView &destination, VRect rect, int32_t radius,
                       int32_t padding, int32_t rowBegin, int32_t rowEnd, Workspace &ws)
{
    if (!ValidPadding(padding) || radius < 1 || radius > 100)
        return paramErr;
    if (source.depth != destination.depth)
        return errUnsupportedDepth;
    const VRect r = Working(source, destination, rect);
    if (IsEmpty(r))
        return noErr;
    int32_t b = 0, e = 0;
    if (!BandOf(r, rowBegin, rowEnd, &b, &e))
        return noErr;
    const int32_t w = r.right - r.left, h = e - b;
    if (source.depth == 8 && radius <= 7)
        Median8<8>(source, r, radius, padding, destination, b, e, ws);
    else if (source.depth == 8)
        Median8<16>(source, r, radius, padding, destination, b, e, ws);
    else
        Median16(Padded(ws.padded16, source, r, radius, padding, 0, w + 2 * radius, b, h + 2 * radius), w, h, radius,
                 destination, r, b, ws);
    return noErr;
}

SPErr GaussianBlur(const RasterView &source, const RasterView &destination, VRect rect, Fixed radius,
                   int32_t padding)
{
    Workspace workspace;
    return GaussianBlur(source, destination, rect, radius, padding, workspace);
}

SPErr MedianFilter(const RasterView &source, const RasterView &destination, VRect rect, int32_t radius,
                   int32_t padding)
{
    Workspace workspace;
    return MedianFilter(source, destination, rect, radius, padding, workspace);
}

SPErr CopyPixels(const RasterView &source, const RasterView &destination, VRect rect)
{
    const VRect r = Working(source, destination, rect);
    for (int32_t y = r.top; y < r.bottom; ++y)
        for (int32_t x = r.left; x < r.right; ++x) {
            const uint16_t v = source.At(x, y);
            destination.At(x, y) = source.depth == destination.depth ? v
                                   : destination.depth == 8           ? Convert16To8(v)
                                                                      : Convert8To16(v);
        }
    return noErr;
}

SPErr SetPixels(const RasterView &destination, VRect rect, int32_t value)
{
    if (value < 0 || value > 255)
        return paramErr;
    const VRect r = Intersect(rect, destination.bounds);
    const uint16_t v = destination.depth == 16 ? Convert8To16(uint32_t(value)) : uint16_t(value);
    for (int32_t y = r.top; y < r.bottom; ++y)
        for (int32_t x = r.left; x < r.right; ++x)
            destination.At(x, y) = v;
    return noErr;
}

} // namespace filters
