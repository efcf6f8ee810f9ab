// The host's reading of property lists: a filter's list as published, and
// damaged lists that a host must refuse without fault.
#include <gtest/gtest.h>

#include "host/core/PropertyList.h"
#include "tests/common/ResourceBytes.h"

using resource_bytes::Bytes;
using resource_bytes::PropertyListBytes;

namespace {

PropertyListBytes FilterList()
{
    return resource_bytes::FilterPropertyList("3f1c8b2e-5a47-4d2b-9c1e-7b5d2a6f9e04", false);
}

PropertyListBytes Kind(const char (&kind)[5] = "8BFM")
{
    PropertyListBytes b;
    b.Add("kind", Bytes().Code(kind));
    return b;
}

} // namespace

TEST(PropertyList, ReadsAFiltersList)
{
    pipl::PropertyList list;
    std::string error;
    ASSERT_TRUE(pipl::Parse(FilterList().Build(), &list, &error)) << error;
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
    EXPECT_FALSE(pipl::Parse(FilterList().Build(1), &list, &error));  // version 1
    EXPECT_FALSE(pipl::Parse(Kind().Add("name", Bytes().Pascal("abcd"), false).Build(), &list, &error));  // not padded
    EXPECT_NE(error.find("padded"), std::string::npos) << error;
    EXPECT_FALSE(pipl::Parse(Kind("8BAM").Build(), &list, &error));
    EXPECT_FALSE(pipl::Parse(Kind().Add("vers", Bytes().U32((4u << 16) + 1)).Build(), &list, &error));
    EXPECT_FALSE(pipl::Parse(Kind().Add("name", Bytes().U8(9).U8('a').U8('b')).Build(), &list, &error));  // name past its data
    EXPECT_FALSE(pipl::Parse(Kind().Add("hstm", Bytes().U32(0).Code("kvr1")).Build(), &list, &error));
    EXPECT_FALSE(pipl::Parse(Kind().Add("wx86", Bytes().U32(0x41414141)).Build(), &list, &error));  // no NUL
    // Every truncation of a good list is refused, never read past.
    const std::vector<uint8_t> whole = FilterList().Build();
    for (size_t n = 0; n < whole.size(); ++n)
        EXPECT_FALSE(pipl::Parse(std::vector<uint8_t>(whole.begin(), whole.begin() + long(n)), &list, &error)) << n;
    // An unknown key is kept and passed over.
    PropertyListBytes extra = FilterList();
    extra.Add("zzzz", Bytes().U32(0x04030201));
    EXPECT_TRUE(pipl::Parse(extra.Build(), &list, &error)) << error;
    EXPECT_EQ(list.properties.size(), 10u);
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
    const std::string deep = std::string(100000, '(') + "true" + std::string(100000, ')');
    const std::string negations = std::string(100000, '!') + "true";
    for (const std::string &bad : {std::string("in (PSHOP_ImageMode, RGBMode"), std::string("in PSHOP_ImageMode"),
                                   std::string("RGBMode &&"), std::string("(true"), std::string("in (Other, RGBMode)"),
                                   std::string("true true"), std::string(""), deep, negations}) {
        EXPECT_FALSE(pipl::Evaluate(bad, "RGBMode", &enabled, &error)) << bad.substr(0, 40);
        EXPECT_FALSE(error.empty()) << bad.substr(0, 40);
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

TEST(Enabling, ExpressionFirstThenModeFlags)
{
    pipl::PropertyList list;
    std::string error;
    ASSERT_TRUE(pipl::Parse(FilterList().Build(), &list, &error)) << error;
    // The flags admit grayscale and Lab but not 48-bit RGB; the expression,
    // which decides, says the opposite.
    EXPECT_TRUE(pipl::EnabledFor(list, 11, "RGB48Mode").enabled);
    const pipl::Enablement lab = pipl::EnabledFor(list, 9, "LabMode");
    EXPECT_FALSE(lab.enabled);
    EXPECT_NE(lab.reason.find("LabMode"), std::string::npos);

    // Without an expression the flags decide.
    ASSERT_TRUE(pipl::Parse(Kind().Add("mode", Bytes().U8(0x5F).U8(0xC0)).Build(), &list, &error)) << error;
    EXPECT_TRUE(pipl::EnabledFor(list, 9, "LabMode").enabled);
    EXPECT_FALSE(pipl::EnabledFor(list, 11, "RGB48Mode").enabled);

    // An expression that does not parse disables, even where the flags admit.
    ASSERT_TRUE(pipl::Parse(Kind().Add("mode", Bytes().U8(0x5F).U8(0xC0)).Add("enbl", Bytes().C("in (PSHOP_ImageMode, RGBMode")).Build(),
                            &list, &error));
    const pipl::Enablement broken = pipl::EnabledFor(list, 3, "RGBMode");
    EXPECT_FALSE(broken.enabled);
    EXPECT_NE(broken.reason.find("cannot be read"), std::string::npos) << broken.reason;

    // Neither: no modes named, nothing enabled.
    ASSERT_TRUE(pipl::Parse(Kind().Build(), &list, &error));
    EXPECT_FALSE(pipl::EnabledFor(list, 3, "RGBMode").enabled);
}

TEST(FilterCases, ChosenFromTheDocumentAndReadFromFici)
{
    pipl::PropertyList list;
    std::string error;
    PropertyListBytes cases = Kind();
    Bytes fici;
    for (uint8_t c = 1; c <= 7; ++c)
        fici.U8(c == 2 ? 0 : 4).U8(4).U8(uint8_t(c * 16)).U8(0);
    ASSERT_TRUE(pipl::Parse(cases.Add("fici", fici).Build(), &list, &error)) << error;
    EXPECT_EQ(pipl::FilterCaseFor(false, false), 1);
    EXPECT_EQ(pipl::FilterCaseFor(true, false), 2);
    EXPECT_EQ(pipl::FilterCaseFor(false, true), 4);
    EXPECT_EQ(pipl::FilterCaseFor(true, true), 5);
    EXPECT_EQ(pipl::CaseHandling(list, 2).inputHandling, pipl::kHandlingCantFilter);
    EXPECT_EQ(pipl::CaseHandling(list, 5).flags1, 5 * 16);
    ASSERT_TRUE(pipl::Parse(Kind().Build(), &list, &error));
    EXPECT_EQ(pipl::CaseHandling(list, 1).inputHandling, pipl::kHandlingNone);
}
