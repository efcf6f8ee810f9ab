// What the renderer must produce for a block, built independently of it
// from the effect's formula and the host's own filters.
#pragma once

#include <algorithm>
#include <cstring>
#include <vector>

#include "engine/FilterSettings.h"
#include "engine/ChannelFilters.h"
#include "host/core/Document.h"
#include "engine/Raster.h"
#include "tests/common/ToneFormula.h"

struct Pixels {
    int32_t width = 0, height = 0;
    bool sixteen = false;
    std::vector<uint16_t> samples;  // packed, 3 per pixel

    Pixels(int32_t w, int32_t h, bool s, uint32_t seed) : width(w), height(h), sixteen(s)
    {
        samples.resize(size_t(w) * h * 3);
        uint32_t state = seed;
        for (size_t i = 0; i < samples.size(); ++i) {
            state = state * 1664525u + 1013904223u;
            // Dark at the left, bright at the right, with noise: the mask
            // is neither all 0 nor all 255.
            const uint32_t x = uint32_t((i / 3) % size_t(w));
            const uint32_t full = s ? 32768u : 255u;
            const uint32_t ramp = full * x / uint32_t(w) / 3;
            samples[i] = uint16_t(std::min(full, ramp + (state >> 24) % (full / 16 + 1)));
        }
    }
    // The bytes of a block with `rowBytes` per row (0: packed).
    std::vector<uint8_t> Bytes(int32_t rowBytes, uint8_t fill = 0) const
    {
        const int32_t sampleBytes = sixteen ? 2 : 1;
        const int32_t step = rowBytes != 0 ? rowBytes : width * 3 * sampleBytes;
        std::vector<uint8_t> b(size_t(step) * height + 8, fill);
        for (int32_t y = 0; y < height; ++y)
            for (int32_t i = 0; i < width * 3; ++i) {
                const uint16_t v = samples[size_t(y) * width * 3 + i];
                if (sixteen)
                    std::memcpy(&b[size_t(y) * step + size_t(i) * 2], &v, 2);
                else
                    b[size_t(y) * step + i] = uint8_t(v);
            }
        return b;
    }
    static std::vector<uint16_t> Read(const std::vector<uint8_t> &b, int32_t w, int32_t h, bool sixteen,
                                      int32_t rowBytes)
    {
        const int32_t step = rowBytes != 0 ? rowBytes : w * 3 * (sixteen ? 2 : 1);
        std::vector<uint16_t> out;
        for (int32_t y = 0; y < h; ++y)
            for (int32_t i = 0; i < w * 3; ++i) {
                uint16_t v = 0;
                if (sixteen)
                    std::memcpy(&v, &b[size_t(y) * step + size_t(i) * 2], 2);
                else
                    v = b[size_t(y) * step + i];
                out.push_back(v);
            }
        return out;
    }
};

enum Smoothing { kBlurAndMedian, kBlurOnly, kMedianOnly, kNone };

// What the renderer must produce, built from the formula and the host's own
// filters: the mask of pass 1, smoothed as asked, then the blend.
struct Expected {
    std::vector<uint8_t> mask;      // 3 bytes per pixel
    std::vector<uint16_t> result;   // 3 samples per pixel
};

inline Expected Compose(const Pixels &p, FilterSettings s, Smoothing smoothing, const uint8_t *selection = nullptr,
                 const std::vector<uint16_t> *untouched = nullptr)
{
    const VRect r = {0, 0, p.height, p.width};
    Raster first(r, 8), second(r, 8);
    for (int32_t i = 0; i < p.width * p.height; ++i)
        first.samples[size_t(i)] =
            formula::Mask(uint32_t(p.samples[size_t(i) * 3]) + p.samples[size_t(i) * 3 + 1] + p.samples[size_t(i) * 3 + 2],
                          s.bias, p.sixteen);
    Raster *smoothed = &first;
    if (smoothing == kBlurAndMedian || smoothing == kBlurOnly) {
        filters::GaussianBlur(first.View(), second.View(), r, 65541, -1);
        smoothed = &second;
    }
    if (smoothing == kBlurAndMedian || smoothing == kMedianOnly) {
        Raster *to = smoothed == &first ? &second : &first;
        filters::MedianFilter(smoothed->View(), to->View(), r, 7, -1);
        smoothed = to;
    }
    Expected e;
    for (int32_t i = 0; i < p.width * p.height; ++i) {
        const uint8_t m = uint8_t(smoothed->samples[size_t(i)]);
        e.mask.insert(e.mask.end(), {m, m, m});
        for (int c = 0; c < 3; ++c) {
            const uint8_t *sel = selection != nullptr ? &selection[i] : nullptr;
            if (sel != nullptr && *sel == 0)
                e.result.push_back((*untouched)[size_t(i) * 3 + c]);
            else
                e.result.push_back(formula::Sample(p.samples[size_t(i) * 3 + c], m, sel, s.gamma, s.contrast, p.sixteen));
        }
    }
    return e;
}

// The document as the filter must leave it: each tile rendered on its own,
// its mask from its own pixels, blurred and median-filtered with edge
// padding, then the formula.
inline Document ExpectedDocument(const Document &in, int32_t tileW, int32_t tileH, FilterSettings s)
{
    Document out = in;
    const bool sixteen = in.depth == 16;
    for (int32_t top = 0; top < in.height; top += tileH)
        for (int32_t left = 0; left < in.width; left += tileW) {
            const int32_t w = std::min(tileW, in.width - left), h = std::min(tileH, in.height - top);
            const VRect r = {0, 0, h, w};
            Raster a(r, 8), b(r, 8);
            for (int32_t y = 0; y < h; ++y)
                for (int32_t x = 0; x < w; ++x) {
                    const size_t i = size_t(y) * w + x;
                    const bool selected = in.selection.empty() || in.selection[size_t(top + y) * in.width + left + x] != 0;
                    // Cleared memory for pixels outside the selection.
                    a.samples[i] = selected ? formula::Mask(uint32_t(in.At(0, left + x, top + y)) + in.At(1, left + x, top + y) +
                                                                in.At(2, left + x, top + y),
                                                            s.bias, sixteen)
                                            : 0;
                }
            filters::GaussianBlur(a.View(), b.View(), r, 65541, -1);
            filters::MedianFilter(b.View(), a.View(), r, 7, -1);
            for (int32_t y = 0; y < h; ++y)
                for (int32_t x = 0; x < w; ++x) {
                    const uint8_t *sel = in.selection.empty() ? nullptr : &in.selection[size_t(top + y) * in.width + left + x];
                    if (sel != nullptr && *sel == 0)
                        continue;
                    const uint8_t m = uint8_t(a.samples[size_t(y) * w + x]);
                    for (int c = 0; c < 3; ++c)
                        out.At(c, left + x, top + y) =
                            formula::Sample(in.At(c, left + x, top + y), m, sel, s.gamma, s.contrast, sixteen);
                }
        }
    return out;
}
