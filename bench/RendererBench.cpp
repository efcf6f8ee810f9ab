// Speed figures for the pure kernels and the host's filters, the last few
// beside their goals. Prints, never judges: run it on a quiet machine and
// read the numbers.
//
//   umbrolux_bench [PHOTO.ppm]
//
// The optional photograph (binary PPM, 8-bit) gives the filters a real
// shadow mask; without it they run on a synthetic mask-like pattern.
#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "bench/BenchClock.h"
#include "engine/FilterSettings.h"
#include "engine/ShadowKernels.h"
#include "engine/ChannelFilters.h"
#include "engine/MaskSmoother.h"
#include "tests/common/ToneFormula.h"

namespace {

void Report(const char *what, double seconds, double pixels)
{
    std::printf("  %-44s %8.2f ns/px %9.1f MP/s\n", what, seconds * 1e9 / pixels, pixels / seconds / 1e6);
}

struct Image {
    int32_t width = 0, height = 0;
    std::vector<uint8_t> rgb;
};

bool ReadPpm(const char *path, Image *image)
{
    FILE *f = std::fopen(path, "rb");
    if (f == nullptr)
        return false;
    int w = 0, h = 0, max = 0;
    const bool ok = std::fscanf(f, "P6 %d %d %d", &w, &h, &max) == 3 && max == 255 && w > 0 && h > 0;
    if (ok) {
        std::fgetc(f);
        image->width = w;
        image->height = h;
        image->rgb.resize(size_t(w) * h * 3);
        if (std::fread(image->rgb.data(), 1, image->rgb.size(), f) != image->rgb.size())
            image->rgb.clear();
    }
    std::fclose(f);
    return ok && !image->rgb.empty();
}

Image Noise(int32_t width, int32_t height)
{
    Image image{width, height, std::vector<uint8_t>(size_t(width) * height * 3)};
    uint32_t state = 1;
    for (uint8_t &v : image.rgb) {
        state = state * 1664525u + 1013904223u;
        v = uint8_t(state >> 24);
    }
    return image;
}

// A photograph-like frame: smooth gradients, dark in the lower left.
Image Synthetic(int32_t width, int32_t height)
{
    Image image{width, height, std::vector<uint8_t>(size_t(width) * height * 3)};
    for (int32_t y = 0; y < height; ++y)
        for (int32_t x = 0; x < width; ++x)
            for (int c = 0; c < 3; ++c)
                image.rgb[(size_t(y) * width + x) * 3 + c] =
                    uint8_t((x * 200 / width + (height - y) * 55 / height + c * 10) % 256);
    return image;
}

std::vector<uint16_t> Widen(const std::vector<uint8_t> &rgb)
{
    std::vector<uint16_t> out(rgb.size());
    for (size_t i = 0; i < rgb.size(); ++i)
        out[i] = Convert8To16(rgb[i]);
    return out;
}

// Returns the speed-up over the literal formula.
double BenchRenderer(const char *label, const Image &image, bool sixteen, engine::ToneCurve &curve)
{
    const double pixels = double(image.width) * image.height;
    engine::BlockLayout layout;
    layout.width = image.width;
    layout.height = image.height;
    layout.sixteenBit = sixteen;
    std::vector<uint8_t> mask(image.rgb.size());
    std::vector<uint16_t> wide = sixteen ? Widen(image.rgb) : std::vector<uint16_t>();
    const void *source = sixteen ? static_cast<const void *>(wide.data()) : image.rgb.data();
    const size_t bytes = image.rgb.size() * (sixteen ? 2 : 1);
    std::vector<uint8_t> out(bytes);
    const int runs = pixels > 4e6 ? 3 : 10;

    std::printf("%s, %s, %.1f MP\n", label, sixteen ? "16-bit" : "8-bit", pixels / 1e6);
    const FilterSettings tone = {0.5f, 2.0f, 220.0f};
    const double kernel = BestSeconds(runs, [&] {
        static engine::MaskCurve bias;
        bias.Prepare(tone.bias, sixteen);
        engine::BuildMask(source, mask.data(), layout, bias);
        curve.Prepare(tone.gamma, tone.contrast, sixteen);
        engine::Blend(source, out.data(), mask.data(), layout, curve);
    });
    Report("renderer passes 1 and 3 (host pass no-op)", kernel, pixels);

    // The formula evaluated literally per sample: three power calls per pixel.
    const double literal = BestSeconds(1, [&] {
        for (size_t i = 0; i < size_t(pixels); ++i) {
            uint32_t v[3];
            for (int c = 0; c < 3; ++c)
                v[c] = sixteen ? wide[i * 3 + c] : image.rgb[i * 3 + c];
            const uint8_t m = formula::Mask(v[0] + v[1] + v[2], tone.bias, sixteen);
            for (int c = 0; c < 3; ++c) {
                const uint16_t r = formula::Sample(v[c], m, nullptr, tone.gamma, tone.contrast, sixteen);
                if (sixteen)
                    std::memcpy(&out[(i * 3 + c) * 2], &r, 2);
                else
                    out[i * 3 + c] = uint8_t(r);
            }
        }
    });
    Report("literal formula (3 pow per pixel)", literal, pixels);

    const double copy = BestSeconds(runs, [&] { std::memcpy(out.data(), source, bytes); });
    Report("memcpy of the same bytes", copy, pixels);
    std::printf("  speed-up over the literal formula %.1fx; %.2fx the memcpy time\n", literal / kernel,
                kernel / copy);
    return literal / kernel;
}

struct FilterFigures {
    double median = 0, blur = 0, pixels = 0;  // seconds, and the pixels they took
};

FilterFigures BenchFilters(const char *label, const Raster &mask)
{
    const double pixels = double(mask.samples.size());
    Raster a = mask, b(mask.bounds, 8);
    std::printf("host filters on %s, 8-bit, %.1f MP\n", label, pixels / 1e6);
    filters::Workspace workspace;
    const double median = BestSeconds(2, [&] { filters::MedianFilter(a.View(), b.View(), a.bounds, 7, -1, workspace); });
    Report("median, radius 7 (15 x 15)", median, pixels);
    const double blur = BestSeconds(2, [&] { filters::GaussianBlur(a.View(), b.View(), a.bounds, 65541, -1, workspace); });
    Report("Gaussian, radius 1.0", blur, pixels);
    return FilterFigures{median, blur, pixels};
}

Raster MaskOf(const Image &image)
{
    Raster r(VRect{0, 0, image.height, image.width}, 8);
    for (size_t i = 0; i < r.samples.size(); ++i)
        r.samples[i] = formula::Mask(uint32_t(image.rgb[i * 3]) + image.rgb[i * 3 + 1] + image.rgb[i * 3 + 2], 0.5f, false);
    return r;
}

} // namespace

int main(int argc, char **argv)
{
    static engine::ToneCurve curve;
    Image photo;
    if (argc > 1 && !ReadPpm(argv[1], &photo)) {
        std::fprintf(stderr, "umbrolux_bench: cannot read %s as a binary PPM\n", argv[1]);
        return 2;
    }
    const bool real = !photo.rgb.empty();
    if (!real)
        photo = Synthetic(5312, 2988);

    const Image small = Noise(1024, 1024), large = Noise(4096, 4096);
    const Image *images[] = {&small, &large, &photo};
    double worst16 = 1e30;
    for (bool sixteen : {false, true}) {
        for (const Image *image : images) {
            const char *label = image != &photo ? "noise" : real ? "photograph" : "synthetic frame";
            const double speedUp = BenchRenderer(label, *image, sixteen, curve);
            if (sixteen)
                worst16 = speedUp < worst16 ? speedUp : worst16;
        }
    }
    BenchFilters("noise", MaskOf(Noise(4096, 4096)));
    // Noise with a mask that is not saturated everywhere: low bias.
    FilterFigures uniform;
    {
        Raster r(VRect{0, 0, 4096, 4096}, 8);
        uint32_t state = 3;
        for (uint16_t &v : r.samples) {
            state = state * 1664525u + 1013904223u;
            v = uint16_t(state >> 24);
        }
        uniform = BenchFilters("uniform noise", r);
    }
    const FilterFigures step =
        BenchFilters(real ? "the photograph's mask at the default bias" : "a synthetic frame's mask", MaskOf(photo));

    // The module's own smoothing, for hosts without the named filters: the
    // same two filters over a 3-byte mask, with its copies in and out.
    double own = 0;
    {
        const Raster mask = MaskOf(photo);
        std::vector<uint8_t> entries(mask.samples.size() * 3);
        engine::MaskSmoother smoother;
        own = BestSeconds(2, [&] {
            for (size_t i = 0; i < mask.samples.size(); ++i)
                entries[i * 3] = uint8_t(mask.samples[i]);
            smoother.Smooth(entries.data(), photo.width, photo.height);
        });
        std::printf("the module's own smoothing on %s\n", real ? "the photograph's mask" : "a synthetic frame's mask");
        Report("blur and median over 3-byte mask entries", own, double(mask.samples.size()));
    }

    std::printf("against the goals\n");
    std::printf("  16-bit blend: %.1fx the literal formula, the least of the three runs above (goal 15x)\n", worst16);
    std::printf("  median 15x15 on uniform noise: %.0f MP/s (goal 60)\n", uniform.pixels / uniform.median / 1e6);
    std::printf("  Gaussian and median on %s: %.2f s for %.1f MP, the host's share of the filter step "
                "(the whole step's goal: 0.35 s on the 15.9 MP photograph)\n",
                real ? "the photograph's mask" : "a synthetic frame's mask", step.median + step.blur,
                step.pixels / 1e6);
    std::printf("  the module's own smoothing: %.2f s against the host's filters' %.2f s (goal: no slower)\n", own,
                step.median + step.blur);
    return 0;
}
