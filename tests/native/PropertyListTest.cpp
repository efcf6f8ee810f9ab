// The host's reading of property lists: a filter's list as published, and
// damaged lists that a host must refuse without fault.
#include <gtest/gtest.h>

#include "host/core/PropertyList.h"

namespace {

class Builder {
public:
    Builder &Add(const char (&key)[5], std::vector<uint8_t> data, bool pad = true)
    {
        while (pad && data.size() % 4 != 0)
            data.push_back(0);
        Put32(pipl::Code("8BIM"));
        Put32(pipl::Code(key));
        Put32(0);
        Put32(uint32_t(data.size()));
        body_.insert(body_.end(), data.begin(), data.end());
        ++count_;
        return *this;
    }
    std::vector<uint8_t> Bytes(uint32_t version = 0) const
    {
        std::vector<uint8_t> out = {1, 0};
        for (int i = 0; i < 4; ++i)
            out.push_back(uint8_t(version >> (8 * i)));
        for (int i = 0; i < 4; ++i)
            out.push_back(uint8_t(count_ >> (8 * i)));
        out.insert(out.end(), body_.begin(), body_.end());
        return out;
    }
    static std::vector<uint8_t> Pascal(const std::string &s)
    {
        std::vector<uint8_t> d = {uint8_t(s.size())};
        d.insert(d.end(), s.begin(), s.end());
        return d;
    }
    static std::vector<uint8_t> C(const std::string &s)
    {
        std::vector<uint8_t> d(s.begin(), s.end());
        d.push_back(0);
        return d;
    }
    static std::vector<uint8_t> Le32(uint32_t v) { return {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)}; }

private:
    void Put32(uint32_t v)
    {
        for (int i = 0; i < 4; ++i)
            body_.push_back(uint8_t(v >> (8 * i)));
    }
    std::vector<uint8_t> body_;
    uint32_t count_ = 0;
};

Builder FilterList()
{
    std::vector<uint8_t> hstm = Builder::Le32(0);
    for (auto part : {Builder::Le32(pipl::Code("kvr1")), Builder::Le32(pipl::Code("kvr1")), std::vector<uint8_t>{0x80, 0x3E}})
        hstm.insert(hstm.end(), part.begin(), part.end());
    const std::vector<uint8_t> scope = Builder::C("3f1c8b2e-5a47-4d2b-9c1e-7b5d2a6f9e04");
    hstm.insert(hstm.end(), scope.begin(), scope.end());
    std::vector<uint8_t> fici;
    for (int c = 0; c < 7; ++c)
        fici.insert(fici.end(), {4, 4, 6, 0});
    Builder b;
    b.Add("kind", Builder::Le32(pipl::Code("8BFM")))
        .Add("name", Builder::Pascal("Umbrolux..."))
        .Add("catg", Builder::Pascal("Korvane"))
        .Add("vers", Builder::Le32(4u << 16))
        .Add("wx86", Builder::C("PluginMain"))
        .Add("mode", {0x5F, 0xC0, 0, 0})
        .Add("hstm", hstm)
        .Add("enbl", Builder::C("in (PSHOP_ImageMode, RGBMode, RGB48Mode)"))
        .Add("fici", fici);
    return b;
}

} // namespace

TEST(PropertyList, ReadsAFiltersList)
{
    pipl::PropertyList list;
    std::string error;
    ASSERT_TRUE(pipl::Parse(FilterList().Bytes(), &list, &error)) << error;
    EXPECT_EQ(list.properties.size(), 9u);
    EXPECT_EQ(list.name, "Umbrolux...");
    EXPECT_EQ(list.category, "Korvane");
    EXPECT_EQ(list.entryX86, "PluginMain");
    EXPECT_EQ(list.interfaceVersion, 4u << 16);
    EXPECT_EQ(list.modeFlags, 0x5FC0);
    EXPECT_EQ(list.terminologyResource, 16000);
    EXPECT_EQ(list.terminologyScope.size(), 36u);
    ASSERT_EQ(list.filterCases.size(), 7u);
    EXPECT_EQ(list.filterCases[6].flags1, 6);
    EXPECT_EQ(list.enableExpression, "in (PSHOP_ImageMode, RGBMode, RGB48Mode)");
}

TEST(PropertyList, RefusesWhatAHostRefuses)
{
    std::string error;
    pipl::PropertyList list;
    EXPECT_FALSE(pipl::Parse(FilterList().Bytes(1), &list, &error));  // version 1
    EXPECT_FALSE(pipl::Parse(Builder().Add("kind", Builder::Le32(pipl::Code("8BFM"))).Add("name", {3, 'a', 'b', 'c', 'd'}, false).Bytes(),
                             &list, &error));  // a length not padded
    EXPECT_FALSE(pipl::Parse(Builder().Add("kind", Builder::Le32(pipl::Code("8BAM"))).Bytes(), &list, &error));
    EXPECT_FALSE(pipl::Parse(Builder().Add("kind", Builder::Le32(pipl::Code("8BFM"))).Add("vers", Builder::Le32((4u << 16) + 1)).Bytes(),
                             &list, &error));
    EXPECT_FALSE(pipl::Parse(Builder().Add("kind", Builder::Le32(pipl::Code("8BFM"))).Add("name", {9, 'a', 'b', 0}).Bytes(),
                             &list, &error));  // a name longer than its data
    // Every truncation of a good list is refused, never read past.
    const std::vector<uint8_t> whole = FilterList().Bytes();
    for (size_t n = 0; n < whole.size(); ++n)
        EXPECT_FALSE(pipl::Parse(std::vector<uint8_t>(whole.begin(), whole.begin() + long(n)), &list, &error)) << n;
    // An unknown key is kept and passed over.
    Builder extra = FilterList();
    extra.Add("zzzz", {1, 2, 3, 4});
    EXPECT_TRUE(pipl::Parse(extra.Bytes(), &list, &error)) << error;
}

TEST(EnablingExpression, AdmitsOnlyRgbModes)
{
    const std::string rule = "in (PSHOP_ImageMode, RGBMode, RGB48Mode)";
    for (const char *mode : {"RGBMode", "RGB48Mode"}) {
        bool enabled = false;
        std::string error;
        ASSERT_TRUE(pipl::Evaluate(rule, mode, &enabled, &error)) << error;
        EXPECT_TRUE(enabled) << mode;
    }
    for (const char *mode : {"GrayScaleMode", "CMYKMode", "LabMode", "Gray16Mode"}) {
        bool enabled = true;
        std::string error;
        ASSERT_TRUE(pipl::Evaluate(rule, mode, &enabled, &error)) << error;
        EXPECT_FALSE(enabled) << mode;
    }
}

TEST(EnablingExpression, OperatorsAndMalformedText)
{
    bool enabled = false;
    std::string error;
    ASSERT_TRUE(pipl::Evaluate("!(PSHOP_ImageMode == LabMode) && (in (PSHOP_ImageMode, RGBMode) || false)", "RGBMode",
                               &enabled, &error));
    EXPECT_TRUE(enabled);
    ASSERT_TRUE(pipl::Evaluate("PSHOP_ImageMode == LabMode || !true", "RGBMode", &enabled, &error));
    EXPECT_FALSE(enabled);
    for (const char *bad : {"in (PSHOP_ImageMode, RGBMode", "in PSHOP_ImageMode", "RGBMode &&", "(true", "in (Other, RGBMode)",
                            "true true", ""}) {
        EXPECT_FALSE(pipl::Evaluate(bad, "RGBMode", &enabled, &error)) << bad;
        EXPECT_FALSE(error.empty()) << bad;
    }
}

TEST(ModeFlags, FollowTheHostsBitOrder)
{
    EXPECT_TRUE(pipl::ModeFlagsAdmit(0x5FC0, 3));    // RGB
    EXPECT_TRUE(pipl::ModeFlagsAdmit(0x5FC0, 9));    // Lab
    EXPECT_FALSE(pipl::ModeFlagsAdmit(0x5FC0, 0));   // bitmap
    EXPECT_FALSE(pipl::ModeFlagsAdmit(0x5FC0, 11));  // 48-bit RGB
    EXPECT_FALSE(pipl::ModeFlagsAdmit(0x5FC0, 14));
}
