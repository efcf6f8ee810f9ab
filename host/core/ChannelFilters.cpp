#include "host/core/ChannelFilters.h"

#include <algorithm>
#include <cmath>

namespace filters {
namespace {

// Working memory kept from call to call: fresh large blocks cost a page
// fault per page on every call, which on some systems outweighs the filter.
template <typename T>
T *Scratch(std::vector<T> &buffer, size_t size)
{
    if (buffer.size() < size)
        buffer.resize(size);
    return buffer.data();
}

thread_local std::vector<uint8_t> tPadded8;
thread_local std::vector<uint16_t> tPadded16, tAcross16, tDown16;
thread_local std::vector<uint32_t> tAcross32;

bool ValidPadding(int32_t padding)
{
    return padding == -1 || (padding >= 0 && padding <= 255);
}

// The source inside `rect` surrounded by `margin` samples of padding, as a
// row-major buffer of (w + 2 margin) x (h + 2 margin) samples.
template <typename Sample>
const Sample *Padded(std::vector<Sample> &buffer, const RasterView &source, const VRect &rect, int32_t margin,
                     int32_t padding)
{
    const int32_t w = rect.right - rect.left, h = rect.bottom - rect.top;
    const int32_t pw = w + 2 * margin, ph = h + 2 * margin;
    const uint16_t constant =
        padding < 0 ? 0 : (source.depth == 16 ? Convert8To16(uint32_t(padding)) : uint16_t(padding));
    Sample *out = Scratch(buffer, size_t(pw) * size_t(ph));
    for (int32_t y = 0; y < ph; ++y) {
        const int32_t sy = y - margin;
        Sample *row = out + size_t(y) * pw;
        if (padding >= 0 && (sy < 0 || sy >= h)) {
            std::fill(row, row + pw, Sample(constant));
            continue;
        }
        const int32_t cy = rect.top + std::min(std::max(sy, 0), h - 1);
        const uint16_t *in = &source.At(rect.left, cy);
        for (int32_t x = 0; x < pw; ++x) {
            const int32_t sx = x - margin;
            if (sx >= 0 && sx < w)
                row[x] = Sample(in[sx]);
            else
                row[x] = Sample(padding >= 0 ? constant : in[std::min(std::max(sx, 0), w - 1)]);
        }
    }
    return out;
}

VRect Working(const RasterView &source, const RasterView &destination, const VRect &rect)
{
    return Intersect(Intersect(rect, source.bounds), destination.bounds);
}

// Median of an 8-bit padded buffer.
void Median8(const uint8_t *p, int32_t w, int32_t h, int32_t r, const RasterView &destination,
             const VRect &rect)
{
    const int32_t side = 2 * r + 1;
    const int32_t pw = w + 2 * r, ph = h + 2 * r;
    const int32_t half = (side * side - 1) / 2;  // rank of the median, from 0

    // A window is of one value when each of its rows is: `across[y][x]` is
    // the value of row y over columns x .. x + 2r when they are all equal
    // (256 otherwise), and `down[y][x]` counts how many rows from y on keep
    // the same `across` value.
    uint16_t *across = Scratch(tAcross16, size_t(pw) * ph);
    uint16_t *down = Scratch(tDown16, size_t(w) * ph);
    for (int32_t y = 0; y < ph; ++y) {
        const uint8_t *row = p + size_t(y) * pw;
        int32_t runEnd = pw - 1;  // the last column of the run of equal values through x
        for (int32_t x = pw - 1; x >= 0; --x) {
            if (x + 1 < pw && row[x] != row[x + 1])
                runEnd = x;
            if (x < w)
                across[size_t(y) * pw + x] = runEnd >= x + side - 1 ? row[x] : uint16_t(256);
        }
    }
    for (int32_t x = 0; x < w; ++x)
        down[size_t(ph - 1) * w + x] = 1;
    for (int32_t y = ph - 2; y >= 0; --y) {  // row by row, for the cache
        const uint16_t *here = &across[size_t(y) * pw], *next = &across[size_t(y + 1) * pw];
        const uint16_t *nextDown = &down[size_t(y + 1) * w];
        uint16_t *out = &down[size_t(y) * w];
        for (int32_t x = 0; x < w; ++x)
            out[x] = here[x] == next[x] ? uint16_t(std::min<int32_t>(nextDown[x] + 1, side)) : uint16_t(1);
    }

    // Constant-time median: a 256-bin histogram per padded column over the
    // window's rows, moved down one row per output row, and the window's
    // histogram as a coarse part (16 bins of 16 values) kept current as the
    // window slides right, plus 16 fine segments brought up to date only
    // when the median falls into them.
    // The columns are taken in stripes narrow enough for their histograms
    // to stay in the processor's cache.
    const int32_t stripe = 192;
    const int32_t histColumns = std::min(w, stripe) + 2 * r;
    std::vector<uint16_t> colFine(size_t(histColumns) * 256), colCoarse(size_t(histColumns) * 16);
    uint16_t coarse[16];
    uint16_t fine[16][16];
    int32_t fineAt[16];  // the window column each fine segment is current for; -1: none

    for (int32_t x0 = 0; x0 < w; x0 += stripe) {
        const int32_t sw = std::min(stripe, w - x0);  // output columns in this stripe
        const int32_t cols = sw + 2 * r;              // histogram columns: padded x0 .. x0 + cols
        std::fill(colFine.begin(), colFine.end(), uint16_t(0));
        std::fill(colCoarse.begin(), colCoarse.end(), uint16_t(0));
        auto add = [&](int32_t col, uint8_t v, int delta) {
            uint16_t &f = colFine[size_t(col) * 256 + v];
            uint16_t &c = colCoarse[size_t(col) * 16 + (v >> 4)];
            f = uint16_t(f + delta);
            c = uint16_t(c + delta);
        };
        for (int32_t y = 0; y < side; ++y)
            for (int32_t col = 0; col < cols; ++col)
                add(col, p[size_t(y) * pw + size_t(x0 + col)], 1);

        for (int32_t y = 0; y < h; ++y) {
            if (y > 0) {
                const uint8_t *leaving = p + size_t(y - 1) * pw + x0;
                const uint8_t *entering = p + size_t(y - 1 + side) * pw + x0;
                for (int32_t col = 0; col < cols; ++col) {
                    add(col, leaving[col], -1);
                    add(col, entering[col], 1);
                }
            }
            std::fill(std::begin(coarse), std::end(coarse), uint16_t(0));
            for (int32_t col = 0; col < side; ++col)
                for (int b = 0; b < 16; ++b)
                    coarse[b] = uint16_t(coarse[b] + colCoarse[size_t(col) * 16 + b]);
            std::fill(std::begin(fineAt), std::end(fineAt), -1);

            uint16_t *out = &destination.At(rect.left + x0, rect.top + y);
            const uint16_t *uniform = &across[size_t(y) * pw + x0];
            const uint16_t *uniformRows = &down[size_t(y) * w + x0];
            for (int32_t x = 0; x < sw; ++x) {
                if (x > 0) {
                    const uint16_t *enter = &colCoarse[size_t(x - 1 + side) * 16];
                    const uint16_t *leave = &colCoarse[size_t(x - 1) * 16];
                    for (int b = 0; b < 16; ++b)
                        coarse[b] = uint16_t(coarse[b] + enter[b] - leave[b]);
                }
                if (uniform[x] != 256 && uniformRows[x] >= side) {
                    out[x] = uniform[x];  // a window of one value
                    continue;
                }
                // The median's coarse bin, counted from whichever end is nearer.
                int32_t lower = 0;
                for (int b = 0; b < 8; ++b)
                    lower += coarse[b];
                int32_t rank = half, c = 0;
                if (rank < lower) {
                    while (rank >= coarse[c])
                        rank -= coarse[c++];
                } else {
                    rank = 2 * half - rank;  // the same rank counted from the top
                    c = 15;
                    while (rank >= coarse[c])
                        rank -= coarse[c--];
                    rank = coarse[c] - 1 - rank;  // back to a rank from the bin's bottom
                }
                uint16_t *segment = fine[c];
                const size_t first = size_t(c) * 16;
                if (fineAt[c] < 0 || x - fineAt[c] > side) {
                    std::fill(segment, segment + 16, uint16_t(0));
                    for (int32_t col = x; col < x + side; ++col)
                        for (int b = 0; b < 16; ++b)
                            segment[b] = uint16_t(segment[b] + colFine[size_t(col) * 256 + first + size_t(b)]);
                } else {
                    for (int32_t step = fineAt[c]; step < x; ++step) {
                        const uint16_t *enter = &colFine[size_t(step + side) * 256 + first];
                        const uint16_t *leave = &colFine[size_t(step) * 256 + first];
                        for (int b = 0; b < 16; ++b)
                            segment[b] = uint16_t(segment[b] + enter[b] - leave[b]);
                    }
                }
                fineAt[c] = x;
                int32_t b = 0;
                if (2 * rank < coarse[c]) {
                    while (rank >= segment[b])
                        rank -= segment[b++];
                } else {
                    rank = coarse[c] - 1 - rank;
                    b = 15;
                    while (rank >= segment[b])
                        rank -= segment[b--];
                }
                out[x] = uint16_t(first + size_t(b));
            }
        }
    }
}

void MedianGeneric(const uint16_t *p, int32_t w, int32_t h, int32_t r,
                   const RasterView &destination, const VRect &rect)
{
    const int32_t side = 2 * r + 1, pw = w + 2 * r;
    std::vector<uint16_t> window(size_t(side) * side);
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x) {
            size_t n = 0;
            for (int32_t dy = 0; dy < side; ++dy)
                for (int32_t dx = 0; dx < side; ++dx)
                    window[n++] = p[size_t(y + dy) * pw + size_t(x + dx)];
            std::nth_element(window.begin(), window.begin() + long(n / 2), window.end());
            destination.At(rect.left + x, rect.top + y) = window[n / 2];
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
                   int32_t padding)
{
    if (!ValidPadding(padding) || radius < 0 || radius > (250 << 16))
        return paramErr;
    const VRect r = Working(source, destination, rect);
    if (IsEmpty(r))
        return noErr;
    if (radius == 0)
        return CopyPixels(source, destination, r);
    const std::vector<uint32_t> weights = GaussianWeights(radius / 65536.0);
    const int32_t taps = int32_t(weights.size()), margin = taps / 2;
    const int32_t w = r.right - r.left, h = r.bottom - r.top, pw = w + 2 * margin, ph = h + 2 * margin;
    const uint16_t *p = Padded(tPadded16, source, r, margin, padding);

    // Horizontal pass into 32-bit sums, vertical pass into 64-bit sums.
    uint32_t *across = Scratch(tAcross32, size_t(w) * ph);
    for (int32_t y = 0; y < ph; ++y) {
        const uint16_t *row = p + size_t(y) * pw;
        uint32_t *out = across + size_t(y) * w;
        for (int32_t x = 0; x < w; ++x) {
            uint32_t sum = 0;
            for (int32_t t = 0; t < taps; ++t)
                sum += weights[size_t(t)] * row[x + t];
            out[x] = sum;
        }
    }
    std::vector<uint64_t> column(static_cast<size_t>(w));
    for (int32_t y = 0; y < h; ++y) {
        std::fill(column.begin(), column.end(), 0);
        for (int32_t t = 0; t < taps; ++t) {
            const uint32_t *row = across + size_t(y + t) * w;
            const uint64_t weight = weights[size_t(t)];
            for (int32_t x = 0; x < w; ++x)
                column[size_t(x)] += weight * row[x];
        }
        uint16_t *out = &destination.At(r.left, r.top + y);
        for (int32_t x = 0; x < w; ++x) {
            uint32_t v = uint32_t((column[size_t(x)] + (uint64_t(1) << 31)) >> 32);
            if (source.depth != destination.depth)
                v = destination.depth == 8 ? Convert16To8(v) : Convert8To16(v);
            out[x] = uint16_t(v);
        }
    }
    return noErr;
}

SPErr MedianFilter(const RasterView &source, const RasterView &destination, VRect rect, int32_t radius,
                   int32_t padding)
{
    if (!ValidPadding(padding) || radius < 1 || radius > 100)
        return paramErr;
    if (source.depth != destination.depth)
        return errUnsupportedDepth;
    const VRect r = Working(source, destination, rect);
    if (IsEmpty(r))
        return noErr;
    const int32_t w = r.right - r.left, h = r.bottom - r.top;
    if (source.depth == 8)
        Median8(Padded(tPadded8, source, r, radius, padding), w, h, radius, destination, r);
    else
        MedianGeneric(Padded(tPadded16, source, r, radius, padding), w, h, radius, destination, r);
    return noErr;
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
