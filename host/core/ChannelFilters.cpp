#include "host/core/ChannelFilters.h"

#include <algorithm>
#include <cmath>

namespace filters {
namespace {

bool ValidPadding(int32_t padding)
{
    return padding == -1 || (padding >= 0 && padding <= 255);
}

// The source inside `rect` surrounded by `margin` samples of padding, as a
// row-major buffer of (w + 2 margin) x (h + 2 margin) samples.
template <typename Sample>
std::vector<Sample> Padded(const RasterView &source, const VRect &rect, int32_t margin, int32_t padding)
{
    const int32_t w = rect.right - rect.left, h = rect.bottom - rect.top;
    const int32_t pw = w + 2 * margin, ph = h + 2 * margin;
    const uint16_t constant =
        padding < 0 ? 0 : (source.depth == 16 ? Convert8To16(uint32_t(padding)) : uint16_t(padding));
    std::vector<Sample> out(size_t(pw) * size_t(ph));
    for (int32_t y = 0; y < ph; ++y) {
        const int32_t sy = y - margin;
        Sample *row = out.data() + size_t(y) * pw;
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

// Sliding-histogram median over an 8-bit padded buffer.
void Median8(const std::vector<uint8_t> &p, int32_t w, int32_t h, int32_t r, const RasterView &destination,
             const VRect &rect)
{
    const int32_t side = 2 * r + 1;
    const int32_t pw = w + 2 * r, ph = h + 2 * r;
    const int32_t half = (side * side - 1) / 2;  // rank of the median, from 0

    // A window is of one value when each of its rows is: `across[y][x]` is
    // the value of row y over columns x .. x + 2r when they are all equal
    // (256 otherwise), and `down[y][x]` counts how many rows from y on keep
    // the same `across` value.
    std::vector<uint16_t> across(size_t(pw) * ph, 256), down(size_t(w) * ph, 0);
    for (int32_t y = 0; y < ph; ++y) {
        const uint8_t *row = p.data() + size_t(y) * pw;
        int32_t runEnd = pw - 1;  // the last column of the run of equal values through x
        for (int32_t x = pw - 1; x >= 0; --x) {
            if (x + 1 < pw && row[x] != row[x + 1])
                runEnd = x;
            if (x < w && runEnd >= x + side - 1)
                across[size_t(y) * pw + x] = row[x];
        }
    }
    for (int32_t x = 0; x < w; ++x)
        for (int32_t y = ph - 1; y >= 0; --y) {
            const uint16_t v = across[size_t(y) * pw + x];
            const uint16_t below = y + 1 < ph ? down[size_t(y + 1) * w + x] : 0;
            const bool same = y + 1 < ph && across[size_t(y + 1) * pw + x] == v;
            down[size_t(y) * w + x] = uint16_t(same ? std::min<int32_t>(below + 1, side) : 1);
        }

    uint32_t hist[256];
    for (int32_t y = 0; y < h; ++y) {
        const uint8_t *top = p.data() + size_t(y) * pw;
        uint16_t *out = &destination.At(rect.left, rect.top + y);
        int32_t histX = -1;  // the window column the histogram holds; -1: none
        uint32_t median = 0, below = 0;
        for (int32_t x = 0; x < w; ++x) {
            const uint16_t v = across[size_t(y) * pw + x];
            if (v != 256 && down[size_t(y) * w + x] >= side) {
                out[x] = v;
                continue;
            }
            if (histX < 0 || 2 * (x - histX) > side) {  // rebuilding is cheaper than sliding
                std::fill(std::begin(hist), std::end(hist), 0u);
                for (int32_t dy = 0; dy < side; ++dy) {
                    const uint8_t *row = top + size_t(dy) * pw + x;
                    for (int32_t dx = 0; dx < side; ++dx)
                        ++hist[row[dx]];
                }
                median = 0;
                below = 0;
            } else {
                for (int32_t step = histX; step < x; ++step) {
                    for (int32_t dy = 0; dy < side; ++dy) {
                        const uint8_t *row = top + size_t(dy) * pw;
                        const uint8_t gone = row[step], come = row[step + side];
                        --hist[gone];
                        ++hist[come];
                        below += uint32_t(come < median) - uint32_t(gone < median);
                    }
                }
            }
            histX = x;
            while (below > uint32_t(half)) {
                --median;
                below -= hist[median];
            }
            while (below + hist[median] <= uint32_t(half)) {
                below += hist[median];
                ++median;
            }
            out[x] = uint16_t(median);
        }
    }
}

void MedianGeneric(const std::vector<uint16_t> &p, int32_t w, int32_t h, int32_t r,
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
    const std::vector<uint16_t> p = Padded<uint16_t>(source, r, margin, padding);

    // Horizontal pass into 32-bit sums, vertical pass into 64-bit sums.
    std::vector<uint32_t> across(size_t(w) * ph);
    for (int32_t y = 0; y < ph; ++y) {
        const uint16_t *row = p.data() + size_t(y) * pw;
        uint32_t *out = across.data() + size_t(y) * w;
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
            const uint32_t *row = across.data() + size_t(y + t) * w;
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
        Median8(Padded<uint8_t>(source, r, radius, padding), w, h, radius, destination, r);
    else
        MedianGeneric(Padded<uint16_t>(source, r, radius, padding), w, h, radius, destination, r);
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
