// What the host shows of a plug-in's pixel map.
#include <gtest/gtest.h>

#include "host/core/PixelMapImage.h"

namespace {

PSPixelMap Map(std::vector<uint8_t> &pixels, int32_t width, int32_t height, int32_t colBytes, int32_t rowBytes)
{
    PSPixelMap map = {};
    map.version = 1;
    map.bounds = VRect{0, 0, height, width};
    map.imageMode = plugInModeRGBColor;
    map.rowBytes = rowBytes;
    map.colBytes = colBytes;
    map.planeBytes = 1;
    map.baseAddr = pixels.data();
    return map;
}

} // namespace

TEST(PixelMapImage, ReadsThroughTheStepsAndShowsTheMaskAsTransparency)
{
    // 3 x 2 pixels of 4 bytes each (RGB and a spare), rows padded to 16.
    std::vector<uint8_t> pixels(32, 0);
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 3; ++x)
            for (int c = 0; c < 3; ++c)
                pixels[size_t(y * 16 + x * 4 + c)] = uint8_t(10 * (y * 3 + x) + c);
    PSPixelMap map = Map(pixels, 3, 2, 4, 16);
    DisplayedImage image;
    std::string error;
    ASSERT_TRUE(ReadPixelMap(map, VRect{1, 1, 2, 3}, &image, &error)) << error;
    EXPECT_EQ(image.width, 2);
    EXPECT_EQ(image.height, 1);
    EXPECT_EQ(image.rgb, (std::vector<uint8_t>{40, 41, 42, 50, 51, 52}));
    EXPECT_FALSE(image.masked);

    // A mask: opaque, clear, half; clear shows the white checker square.
    std::vector<uint8_t> alpha = {255, 0, 128, 255, 255, 255};
    PSPixelMask mask = {nullptr, alpha.data(), 3, 1, 0};
    map.masks = &mask;
    ASSERT_TRUE(ReadPixelMap(map, VRect{0, 0, 1, 3}, &image, &error)) << error;
    EXPECT_TRUE(image.masked);
    EXPECT_EQ(image.rgb[0], 0);
    EXPECT_EQ(image.rgb[3], 255);
    EXPECT_EQ(image.rgb[6], (20 * 128 + 255 * 127 + 127) / 255);
}

TEST(PixelMapImage, RefusesWhatItCannotShow)
{
    std::vector<uint8_t> pixels(12, 0);
    DisplayedImage image;
    std::string error;
    PSPixelMap map = Map(pixels, 2, 2, 3, 6);
    EXPECT_FALSE(ReadPixelMap(map, VRect{0, 0, 3, 2}, &image, &error));  // beyond the bounds
    EXPECT_FALSE(ReadPixelMap(map, VRect{1, 0, 0, 2}, &image, &error));  // upside down
    map.rowBytes = 5;  // rows shorter than their pixels
    EXPECT_FALSE(ReadPixelMap(map, VRect{0, 0, 2, 2}, &image, &error));
    map = Map(pixels, 2, 2, 3, 6);
    map.imageMode = plugInModeCMYKColor;
    EXPECT_FALSE(ReadPixelMap(map, VRect{0, 0, 2, 2}, &image, &error));
    map = Map(pixels, 2, 2, 3, 6);
    map.baseAddr = nullptr;
    EXPECT_FALSE(ReadPixelMap(map, VRect{0, 0, 2, 2}, &image, &error));
}
