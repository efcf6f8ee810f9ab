// The dialog's arithmetic on its own: tone conversions, the preview's fit,
// view and placement with the published example numbers, and the settings
// file's bytes under damaged input.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>

#include "settings/SettingsCodec.h"
#include "ui/PreviewGeometry.h"
#include "ui/PreviewTransparency.h"
#include "ui/ToneControls.h"

TEST(ToneControls, PositionsTextsAndTypedValues)
{
    EXPECT_EQ(PositionFromValue(Tone::Bias, 0.29f), 289);  // 0.29f * 1000 is just under 290
    EXPECT_EQ(PositionFromValue(Tone::Gamma, 3.0f), 0);
    EXPECT_EQ(PositionFromValue(Tone::Contrast, 128.7f), 126);
    EXPECT_EQ(PositionFromValue(Tone::Bias, 0.5f), 500);
    EXPECT_EQ(PositionFromValue(Tone::Gamma, 1.0f), 2000);
    EXPECT_EQ(PositionFromValue(Tone::Contrast, 255.0f), 0);

    char text[64];
    FormatValue(Tone::Bias, ValueFromPosition(Tone::Bias, 5), text, sizeof text);
    EXPECT_STREQ(text, "0.01");  // 0.005 in double precision rounds up
    EXPECT_LT(double(static_cast<float>(ValueFromPosition(Tone::Bias, 5))), 0.005);  // stored just below
    FormatValue(Tone::Bias, ValueFromPosition(Tone::Bias, 0), text, sizeof text);
    EXPECT_STREQ(text, "0.00");
    FormatValue(Tone::Contrast, 255.0, text, sizeof text);
    EXPECT_STREQ(text, "255");

    float v = -1;
    EXPECT_TRUE(TakeTypedValue(Tone::Bias, "0.29", &v));
    EXPECT_EQ(v, 0.29f);
    EXPECT_TRUE(TakeTypedValue(Tone::Gamma, "3", &v));
    EXPECT_TRUE(TakeTypedValue(Tone::Gamma, "3.00000001", &v));  // 3 once in single precision
    EXPECT_TRUE(TakeTypedValue(Tone::Contrast, "128.7abc", &v));  // the leading number
    EXPECT_EQ(v, 128.7f);
    v = 7;
    for (const char *refused : {"0", "", "0.", "-1", "3.5", "abc", "nan", "inf", "1e300", "-0"})
        EXPECT_FALSE(TakeTypedValue(Tone::Bias, refused, &v)) << refused;
    EXPECT_FALSE(TakeTypedValue(Tone::Contrast, "255.1", &v));
    EXPECT_EQ(v, 7);  // untouched by refusals
}

TEST(ToneControls, StoredValuesOutsideTheRangeShowTheNearestEnd)
{
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    EXPECT_EQ(PositionFromValue(Tone::Bias, 7.0f), 3000);
    EXPECT_EQ(PositionFromValue(Tone::Bias, -2.0f), 0);
    EXPECT_EQ(PositionFromValue(Tone::Bias, inf), 3000);
    EXPECT_EQ(PositionFromValue(Tone::Gamma, inf), 0);
    EXPECT_EQ(PositionFromValue(Tone::Gamma, -inf), 3000);
    EXPECT_EQ(PositionFromValue(Tone::Contrast, 1e30f), 0);
    EXPECT_EQ(PositionFromValue(Tone::Contrast, -1e30f), 255);
    for (Tone tone : kTones)
        EXPECT_EQ(PositionFromValue(tone, nan), 0);
    char text[64];
    FormatValue(Tone::Contrast, 3.4e38, text, sizeof text);  // the widest text a float gives
    EXPECT_EQ(std::strlen(text), 39u);
}

// The published example: a 2048 x 1024 document in a 400 x 300 area.
TEST(PreviewGeometry, FitPlacementAndZoom)
{
    const PreviewSize size = FitPreview(400, 300, 2048, 1024);
    EXPECT_EQ(size.width, 400);
    EXPECT_EQ(size.height, 150);
    const ImageOrigin at = PlaceImage(100, 50, 500, 350, 90, 40, size);  // area in screen, client origin
    EXPECT_EQ(at.x, 10);
    EXPECT_EQ(at.y, 10 + 75);  // 75 pixels below the area's top

    const PreviewSize portrait = FitPreview(400, 300, 2000, 3000);
    EXPECT_EQ(portrait.width, 266);
    EXPECT_EQ(portrait.height, 300);

    ViewState view;
    SourceRect r = UpdateView(&view, 2048, 1024, 1.0f, 0, 0, size);
    EXPECT_EQ(view.viewCentreX, 1024);
    EXPECT_EQ(view.viewCentreY, 512);
    EXPECT_EQ((std::vector<int32_t>{r.top, r.left, r.bottom, r.right}), (std::vector<int32_t>{0, 0, 1024, 2048}));
    r = UpdateView(&view, 2048, 1024, 3.0f, 0, 0, size);
    EXPECT_EQ((std::vector<int32_t>{r.top, r.left, r.bottom, r.right}), (std::vector<int32_t>{409, 819, 614, 1228}));
    r = UpdateView(&view, 2048, 1024, 7.0f, 0, 0, size);
    EXPECT_EQ((std::vector<int32_t>{r.top, r.left, r.bottom, r.right}), (std::vector<int32_t>{491, 983, 532, 1064}));

    ViewState wide;
    r = UpdateView(&wide, 3001, 1000, 1.0f, 0, 0, FitPreview(400, 300, 3001, 1000));
    EXPECT_EQ(wide.viewCentreX, 1500);
    EXPECT_EQ(r.left, 0);
    EXPECT_EQ(r.right, 3000);

    EXPECT_EQ(PlanesFromMode(3, 0), 3);
    EXPECT_EQ(PlanesFromMode(4, 0), 4);
    EXPECT_EQ(PlanesFromMode(8, 9), 1);
    for (int16_t unknown : {int16_t(7), int16_t(-1), int16_t(12), int16_t(200)})
        EXPECT_EQ(PlanesFromMode(unknown, 9), 9) << unknown;
}

TEST(PreviewGeometry, PanMovesAgainstTheMouseAndStopsAtTheEdges)
{
    const PreviewSize size = FitPreview(400, 300, 2048, 1024);
    auto zoom3 = [&](ViewState *view, int32_t panX, int32_t panY) {
        return UpdateView(view, 2048, 1024, 3.0f, panX, panY, size);
    };
    ViewState once;
    zoom3(&once, 0, 0);
    SourceRect r = zoom3(&once, 10, 0);  // ten pixels right, in one paint
    EXPECT_EQ(once.viewCentreX, 1013);
    EXPECT_EQ(r.left, 808);
    EXPECT_EQ(r.right, 1217);

    ViewState tenPaints;
    zoom3(&tenPaints, 0, 0);
    for (int32_t pan = 1; pan <= 10; ++pan)
        zoom3(&tenPaints, pan, 0);
    EXPECT_EQ(tenPaints.viewCentreX, 1004);  // every paint truncates

    ViewState right;
    zoom3(&right, 0, 0);
    r = zoom3(&right, 100000, 0);
    EXPECT_EQ(right.viewCentreX, 204);
    EXPECT_EQ(r.left, 0);
    EXPECT_EQ(r.right, 408);

    ViewState leftUp;
    zoom3(&leftUp, 0, 0);
    r = zoom3(&leftUp, -100000, -100000);
    EXPECT_EQ(leftUp.viewCentreX, 1843);
    EXPECT_EQ(leftUp.viewCentreY, 921);
    EXPECT_EQ((std::vector<int32_t>{r.top, r.left, r.bottom, r.right}), (std::vector<int32_t>{818, 1638, 1023, 2047}));

    // A drag at zoom 1 is consumed without effect, and pan totals at the
    // ends of the 32-bit range move nothing out of range.
    ViewState extreme;
    UpdateView(&extreme, 2048, 1024, 1.0f, 55, 55, size);
    r = UpdateView(&extreme, 2048, 1024, 3.0f, 55, 55, size);
    EXPECT_EQ(r.left, 819);
    r = UpdateView(&extreme, 2048, 1024, 3.0f, INT32_MIN, INT32_MAX, size);
    EXPECT_EQ(r.right, 2047);
    EXPECT_EQ(r.top, 0);

    // The next dialog, on a smaller document: the kept centre is first
    // pulled inside it.
    const PreviewSize small = FitPreview(400, 300, 300, 200);
    r = UpdateView(&leftUp, 300, 200, 3.0f, -100000, -100000, small);
    EXPECT_EQ(leftUp.viewCentreX, 270);  // 300 - 30
    EXPECT_EQ(leftUp.viewCentreY, 180);  // 200 - 20
    EXPECT_EQ((std::vector<int32_t>{r.top, r.left, r.bottom, r.right}), (std::vector<int32_t>{160, 240, 200, 300}));

    // No document, or no preview pixels: nothing to divide by.
    EXPECT_EQ(FitPreview(400, 300, 0, 0).width, 0);
    ViewState empty;
    r = UpdateView(&empty, 0, 0, 3.0f, 10, 10, PreviewSize());
    EXPECT_EQ(r.right - r.left, 0);
}

TEST(SettingsCodec, TheSixteenBytesAndWhatALoadTakes)
{
    const float values[3] = {0.5f, 1.0f, 255.0f};
    std::vector<uint8_t> bytes(16);
    ASSERT_EQ(EncodeSettings(0x584C4D55u, values, sizeof values, bytes.data(), bytes.size()), 16u);
    EXPECT_EQ(bytes, (std::vector<uint8_t>{0x55, 0x4D, 0x4C, 0x58, 0, 0, 0, 0x3F, 0, 0, 0x80, 0x3F, 0, 0, 0x7F, 0x43}));

    float block[3] = {9, 9, 9};
    const uint8_t eight[8] = {'U', 'M', 'L', 'X', 0, 0, 0x80, 0x3F};
    EXPECT_TRUE(DecodeSettings(eight, sizeof eight, 0x584C4D55u, block, sizeof block));
    EXPECT_EQ(block[0], 1.0f);  // bias alone replaced
    EXPECT_EQ(block[1], 9.0f);
    EXPECT_FALSE(DecodeSettings(eight, 3, 0x584C4D55u, block, sizeof block));
    EXPECT_FALSE(DecodeSettings(bytes.data(), bytes.size(), 0x584C4D56u, block, sizeof block));

    // Too little room: nothing is written.
    std::vector<uint8_t> small(15, 0xEE);
    EXPECT_EQ(EncodeSettings(0x584C4D55u, values, sizeof values, small.data(), small.size()), 0u);
    EXPECT_EQ(small, std::vector<uint8_t>(15, 0xEE));
    EXPECT_EQ(EncodeSettings(0x584C4D55u, values, 0, small.data(), 3), 0u);
}

// Random and truncated files: a load takes the bytes after a matching magic
// (at most one block) and leaves everything else alone, and never reads or
// writes out of bounds (the sanitizers watch).
TEST(SettingsCodec, RandomAndTruncatedFiles)
{
    const uint32_t magic = 0x584C4D55u;
    std::mt19937 random(20261208);
    const float good[3] = {0.25f, 2.0f, 100.0f};
    std::vector<uint8_t> valid(16);
    ASSERT_EQ(EncodeSettings(magic, good, sizeof good, valid.data(), valid.size()), 16u);
    std::vector<std::vector<uint8_t>> corpus;
    for (size_t n = 0; n <= valid.size() + 4; ++n) {
        std::vector<uint8_t> file(valid.begin(), valid.begin() + long(std::min(n, valid.size())));
        file.resize(n, 0xEE);
        corpus.push_back(file);
    }
    for (int i = 0; i < 2000; ++i) {
        std::vector<uint8_t> file(random() % 40);
        for (uint8_t &b : file)
            b = uint8_t(random());
        if (i % 2 == 0 && file.size() >= 4)
            std::memcpy(file.data(), &magic, 4);
        corpus.push_back(file);
    }
    for (const std::vector<uint8_t> &file : corpus) {
        uint8_t block[14];
        std::memset(block, 0xAB, sizeof block);
        const bool matches = file.size() >= 4 && std::memcmp(file.data(), &magic, 4) == 0;
        EXPECT_EQ(DecodeSettings(file.data(), file.size(), magic, block + 1, 12), matches);
        EXPECT_EQ(block[0], 0xAB);
        EXPECT_EQ(block[13], 0xAB);
        const size_t taken = matches ? std::min<size_t>(file.size() - 4, 12) : 0;
        for (size_t k = 0; k < 12; ++k)
            EXPECT_EQ(block[1 + k], k < taken ? file[4 + k] : 0xAB);
    }
}

// The preview of an image with transparency: each pixel over the
// checkerboard's shade, squares of 8 from the top left, the first light; a
// grey mask copied as it is; four bytes a pixel, the fourth spare.
TEST(PreviewTransparency, ComposesOverTheCheckerboard)
{
    const int32_t w = 19, h = 11;
    std::vector<uint8_t> rgb(size_t(w) * h * 3), alpha(size_t(w) * h), out(size_t(w) * h * 4, 0x5A);
    for (size_t i = 0; i < rgb.size(); ++i)
        rgb[i] = uint8_t(i * 37);
    for (size_t i = 0; i < alpha.size(); ++i)
        alpha[i] = uint8_t(i * 53);
    alpha[0] = 0;
    alpha[1] = 255;
    ComposeForDisplay(rgb.data(), alpha.data(), w, h, out.data());
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x) {
            const size_t i = size_t(y) * w + size_t(x);
            const uint32_t shade = ((x / 8 + y / 8) % 2 == 0) ? 255 : 204;
            for (int c = 0; c < 3; ++c) {
                const uint32_t v = rgb[i * 3 + size_t(c)], a = alpha[i];
                ASSERT_EQ(out[i * 4 + size_t(c)], uint8_t((v * a + shade * (255 - a) + 127) / 255)) << x << "," << y;
            }
            ASSERT_EQ(out[i * 4 + 3], 255);
        }
    EXPECT_EQ(out[0], 255);   // fully transparent: the light square
    EXPECT_EQ(out[4], rgb[3]);  // opaque: the colour itself
    EXPECT_EQ(CheckerShade(8, 0), 204);
    EXPECT_EQ(CheckerShade(8, 8), 255);

    ComposeForDisplay(rgb.data(), nullptr, w, h, out.data());
    for (size_t i = 0; i < alpha.size(); ++i)
        for (int c = 0; c < 3; ++c)
            ASSERT_EQ(out[i * 4 + size_t(c)], rgb[i * 3 + size_t(c)]);
}

TEST(PreviewTransparency, DividesBy255AsTheDivisionDoes)
{
    for (uint32_t v = 0; v < 65535; ++v)
        ASSERT_EQ(DivideBy255(v), v / 255) << v;
}
