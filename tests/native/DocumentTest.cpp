// The host's 16-bit range conversions, which every 16-bit file passes through.
#include <gtest/gtest.h>

#include "host/core/Document.h"

TEST(SixteenBitRange, FileToHostFollowsTheHostsRounding)
{
    EXPECT_EQ(FileToHost16(0), 0);
    EXPECT_EQ(FileToHost16(65535), 32768);
    EXPECT_EQ(FileToHost16(1), 1);          // (32768 + 32767) / 65535
    EXPECT_EQ(FileToHost16(2), 1);
    EXPECT_EQ(FileToHost16(32768), 16384);  // rounds to nearest
}

TEST(SixteenBitRange, HostToFileDoublesAndClamps)
{
    EXPECT_EQ(HostToFile16(0), 0);
    EXPECT_EQ(HostToFile16(1), 2);
    EXPECT_EQ(HostToFile16(32767), 65534);
    EXPECT_EQ(HostToFile16(32768), 65535);
}

TEST(SixteenBitRange, EveryHostValueSurvivesTheRoundTrip)
{
    for (uint32_t v = 0; v <= 32768; ++v)
        ASSERT_EQ(FileToHost16(HostToFile16(uint16_t(v))), v);
}
