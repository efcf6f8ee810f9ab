// The registry wrapper on Wine's real registry: what it stores, and what it
// makes of values of any type and length that another program left.
#include <cstring>

#include "TestHost.h"
#include "host/umbrolux/FilterRegistry.h"
#include "settings/RegistryKey.h"

namespace {

class RegistryTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(DeleteFilterKey()); }
    void TearDown() override { DeleteFilterKey(); }
};

} // namespace

TEST_F(RegistryTest, OpeningCreatesTheKeyAndMissingValuesGiveTheirDefaults)
{
    ASSERT_FALSE(FilterKeyExists());
    RegistryKey key(kRegistryPath);
    EXPECT_TRUE(FilterKeyExists());
    int status = 0;
    EXPECT_EQ(key.ReadFloat(kLastGamma, 1.0f, &status), 1.0f);
    EXPECT_EQ(status, 2);
    EXPECT_STREQ(key.ReadString(kLastSettingsPath, "", &status), "");
    EXPECT_EQ(status, 2);
    EXPECT_EQ(key.Close(), ERROR_SUCCESS);
}

TEST_F(RegistryTest, FloatsAreFourRawBytesAndTextKeepsItsNul)
{
    {
        RegistryKey key(kRegistryPath);
        key.WriteFloat(kLastBias, 0.5f);
        key.WriteString(kLastSettingsPath, "C:\\a\\b.ulx");
        key.Close();
    }
    DWORD type = 0;
    std::vector<uint8_t> bytes;
    ASSERT_TRUE(ReadFilterValue(kLastBias, &type, &bytes));
    EXPECT_EQ(type, DWORD(REG_BINARY));
    EXPECT_EQ(bytes, (std::vector<uint8_t>{0x00, 0x00, 0x00, 0x3F}));
    ASSERT_TRUE(ReadFilterValue(kLastSettingsPath, &type, &bytes));
    EXPECT_EQ(type, DWORD(REG_SZ));
    EXPECT_EQ(bytes.size(), std::strlen("C:\\a\\b.ulx") + 1);
    EXPECT_EQ(bytes.back(), 0);

    RegistryKey key(kRegistryPath);
    int status = 0;
    EXPECT_EQ(key.ReadFloat(kLastBias, 9.0f, &status), 0.5f);
    EXPECT_EQ(status, 1);
    EXPECT_STREQ(key.ReadString(kLastSettingsPath, "", &status), "C:\\a\\b.ulx");
    EXPECT_EQ(status, 1);
}

TEST_F(RegistryTest, ValuesOfOtherTypesAndLengths)
{
    // Four bytes of any type are a float's bits.
    const char text[4] = {'\x00', '\x00', '\x80', '\x3F'};
    ASSERT_TRUE(StoreFilterValue(kLastGamma, REG_SZ, text, 4));
    // Shorter or longer than 4 bytes: absent.
    const uint8_t three[3] = {1, 2, 3}, eight[8] = {0, 0, 0x80, 0x3F, 0, 0, 0, 0};
    ASSERT_TRUE(StoreFilterValue(kLastBias, REG_BINARY, three, 3));
    ASSERT_TRUE(StoreFilterValue(kLastContrast, REG_BINARY, eight, 8));
    const DWORD number = 7;
    ASSERT_TRUE(StoreFilterValue(kLastSettingsPath, REG_DWORD, &number, 4));

    RegistryKey key(kRegistryPath);
    int status = 0;
    EXPECT_EQ(key.ReadFloat(kLastGamma, 2.0f, &status), 1.0f);
    EXPECT_EQ(status, 1);
    EXPECT_EQ(key.ReadFloat(kLastBias, 0.5f, &status), 0.5f);
    EXPECT_EQ(status, 2);
    EXPECT_EQ(key.ReadFloat(kLastContrast, 255.0f, &status), 255.0f);
    EXPECT_EQ(status, 2);
    // A 4-byte number read as text: its bytes, ending within the buffer.
    EXPECT_STREQ(key.ReadString(kLastSettingsPath, "none", &status), "\x07");
    EXPECT_EQ(status, 1);
}

TEST_F(RegistryTest, TextAtAndBeyondTheBufferNeverRunsPastIt)
{
    const std::string fits(511, 'a');
    const std::string tooLong(512, 'b');
    ASSERT_TRUE(StoreFilterValue("fits", REG_SZ, fits.c_str(), DWORD(fits.size() + 1)));
    ASSERT_TRUE(StoreFilterValue("too long", REG_SZ, tooLong.c_str(), DWORD(tooLong.size() + 1)));
    // 512 bytes with no NUL at all.
    ASSERT_TRUE(StoreFilterValue("no nul", REG_BINARY, tooLong.data(), 512));

    RegistryKey key(kRegistryPath);
    int status = 0;
    EXPECT_EQ(std::string(key.ReadString("fits", "", &status)), fits);
    EXPECT_EQ(status, 1);
    EXPECT_STREQ(key.ReadString("too long", "default", &status), "default");
    EXPECT_EQ(status, 2);
    const char *raw = key.ReadString("no nul", "default", &status);
    EXPECT_EQ(status, 1);
    EXPECT_EQ(std::strlen(raw), 511u);
}

// In the full host the run is cancelled during its only tile; a plain host's
// abortProc never answers true, and its run ends: either way the values the
// dialog started from are stored.
class RegistryRunTest : public RegistryTest, public ::testing::WithParamInterface<HostProfile> {};

TEST_P(RegistryRunTest, TheDialogStartsFromTheLastValuesOfAnEarlierRun)
{
    std::string error;
    FilterHost host;
    ASSERT_TRUE(host.Load(ModulePath(), &error)) << error;
    host.behaviour.profile = GetParam();
    ASSERT_TRUE(StoreFilterFloat(kLastGamma, 2.5f));
    Document d = MakeDocument(20, 10, 3, 8, plugInModeRGBColor);
    FillTestPattern(&d, 5);
    host.behaviour.abortAfter = 1;  // cancelled during its only tile
    EXPECT_EQ(host.Run(d).result, GetParam() == HostProfile::Full ? 1 : 0);
    RegistryKey key(kRegistryPath);
    EXPECT_EQ(key.ReadFloat(kLastGamma, 0.0f), 2.5f);
    EXPECT_EQ(key.ReadFloat(kLastBias, 0.0f), 0.5f);
    EXPECT_EQ(key.ReadFloat(kLastContrast, 0.0f), 255.0f);
}

INSTANTIATE_TEST_SUITE_P(Hosts, RegistryRunTest, ::testing::Values(HostProfile::Full, HostProfile::Plain),
                         [](const ::testing::TestParamInfo<HostProfile> &info) {
                             return std::string(info.param == HostProfile::Full ? "Full" : "Plain");
                         });
