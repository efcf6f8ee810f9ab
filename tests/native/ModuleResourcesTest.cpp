// The resources of the built modules, read from the module files as a host
// finds them, against the published forms built here.
#include <gtest/gtest.h>

#include <cctype>

#include "BuiltModules.h"
#include "host/core/PeFile.h"
#include "host/core/PropertyList.h"
#include "host/core/Terminology.h"
#include "host/core/VersionRecord.h"
#include "tests/common/ResourceBytes.h"

namespace {

constexpr uint16_t kUsEnglish = 1033;
constexpr const char *kScope = "3d9c6e41-7a25-4f0b-b8e2-59c1d04a7f36";

// Window and control styles, as the platform defines them.
enum : uint32_t {
    WS_POPUP = 0x80000000, WS_CHILD = 0x40000000, WS_VISIBLE = 0x10000000, WS_DISABLED = 0x08000000,
    WS_CAPTION = 0x00C00000, WS_BORDER = 0x00800000, WS_SYSMENU = 0x00080000, WS_GROUP = 0x00020000,
    WS_TABSTOP = 0x00010000, DS_MODALFRAME = 0x80, DS_SETFONT = 0x40, DS_FIXEDSYS = 0x08, DS_3DLOOK = 0x04,
    BS_PUSHBUTTON = 0, BS_DEFPUSHBUTTON = 1, BS_GROUPBOX = 7, BS_AUTORADIOBUTTON = 9,
    SS_LEFT = 0, SS_BITMAP = 0x0E, SS_ETCHEDHORZ = 0x10, SS_ETCHEDVERT = 0x11, ES_LEFT = 0, ES_AUTOHSCROLL = 0x80,
    TBS_AUTOTICKS = 0x1, TBS_VERT = 0x2, TBS_LEFT = 0x4, WS_EX_TRANSPARENT = 0x20, WS_EX_STATICEDGE = 0x20000,
};

struct Control {
    int32_t id;
    std::string className;
    uint32_t style;
    std::string text;
    int16_t x, y, cx, cy;
    uint32_t exStyle;
};

// The main dialog's controls in template order.
std::vector<Control> PublishedControls()
{
    const uint32_t c = WS_CHILD | WS_VISIBLE;
    const uint32_t slider = c | WS_TABSTOP | TBS_VERT | TBS_LEFT | TBS_AUTOTICKS;
    const uint32_t edit = c | WS_BORDER | WS_TABSTOP | ES_LEFT | ES_AUTOHSCROLL;
    const uint32_t push = c | WS_TABSTOP | BS_PUSHBUTTON;
    const uint32_t label = c | WS_GROUP | SS_LEFT;
    return {
        {1, "Button", c | WS_TABSTOP | BS_DEFPUSHBUTTON, "OK", 170, 256, 50, 14, 0},
        {2, "Button", push, "Cancel", 228, 256, 50, 14, 0},
        {1002, "Static", WS_CHILD | WS_BORDER | WS_GROUP | SS_LEFT, "", 3, 1, 286, 234, 0},
        {1007, "Button", push, "-", 145, 236, 14, 11, 0},
        {1008, "Button", push, "+", 129, 236, 14, 11, 0},
        {-1, "Button", c | BS_GROUPBOX, "View", 299, 7, 52, 50, 0},
        {1010, "Button", c | BS_AUTORADIOBUTTON, "Original", 307, 19, 40, 8, 0},
        {1011, "Button", c | BS_AUTORADIOBUTTON, "Mask", 307, 31, 33, 8, 0},
        {1012, "Button", c | BS_AUTORADIOBUTTON, "Result", 307, 43, 39, 8, 0},
        {-1, "Button", c | BS_GROUPBOX, "Settings", 300, 62, 137, 177, 0},
        {-1, "Static", c | SS_ETCHEDHORZ, "", 7, 251, 430, 1, 0},
        {-1, "Static", label | WS_DISABLED, "Zoom", 104, 238, 17, 8, 0},
        {1018, "msctls_trackbar32", slider, "", 358, 87, 16, 136, 0},
        {-1, "Static", label, "Gamma", 356, 77, 24, 8, 0},
        {1004, "msctls_trackbar32", slider, "", 315, 87, 16, 136, 0},
        {-1, "Static", label, "Separation", 306, 77, 36, 8, 0},
        {-1, "Static", c | SS_BITMAP, "#1004", 400, 7, 37, 31, WS_EX_STATICEDGE | WS_EX_TRANSPARENT},
        {1024, "Button", push, "Load", 7, 257, 29, 13, 0},
        {1025, "Button", push, "Save", 39, 257, 29, 13, 0},
        {-1, "Static", c | SS_ETCHEDVERT, "", 74, 260, 1, 10, 0},
        {1027, "Edit", edit, "", 313, 223, 29, 12, 0},
        {1029, "Edit", edit, "", 355, 223, 29, 12, 0},
        {1026, "Button", push, "Help", 80, 257, 29, 13, 0},
        {1019, "msctls_trackbar32", slider, "", 401, 87, 16, 136, 0},
        {-1, "Static", label, "Contrast", 398, 77, 29, 8, 0},
        {1030, "Edit", edit, "", 397, 223, 29, 12, 0},
        {1028, "Button", push, "Reset", 408, 257, 29, 13, 0},
    };
}

// Reads an extended dialog template, failing the test on anything short.
class TemplateReader {
public:
    explicit TemplateReader(const std::vector<uint8_t> &bytes) : b_(bytes) {}

    uint16_t U16()
    {
        if (at_ + 2 > b_.size()) {
            ADD_FAILURE() << "template truncated at " << at_;
            at_ = b_.size();
            return 0;
        }
        const uint16_t v = uint16_t(b_[at_] | (b_[at_ + 1] << 8));
        at_ += 2;
        return v;
    }
    uint32_t U32() { return U16() | (uint32_t(U16()) << 16); }
    uint8_t U8() { return at_ < b_.size() ? b_[at_++] : 0; }
    std::string Text()
    {
        std::string s;
        for (uint16_t u = U16(); u != 0 && at_ < b_.size(); u = U16())
            s.push_back(char(u));
        return s;
    }
    // A string, or an ordinal written "#n", with the predefined control
    // classes named.
    std::string TextOrOrdinal(bool isClass)
    {
        if (at_ + 2 <= b_.size() && b_[at_] == 0xFF && b_[at_ + 1] == 0xFF) {
            U16();
            const uint16_t ordinal = U16();
            if (isClass && ordinal == 0x80)
                return "Button";
            if (isClass && ordinal == 0x81)
                return "Edit";
            if (isClass && ordinal == 0x82)
                return "Static";
            return "#" + std::to_string(ordinal);
        }
        return Text();
    }
    void Align4() { at_ = (at_ + 3) & ~size_t(3); }
    bool AtEnd() const { return at_ >= b_.size(); }

private:
    const std::vector<uint8_t> &b_;
    size_t at_ = 0;
};

std::string Lower(std::string s)
{
    for (char &ch : s)
        ch = char(std::tolower(static_cast<unsigned char>(ch)));
    return s;
}

struct BuiltModule {
    std::string path;
    pe::ModuleInfo info;
    std::vector<uint8_t> bytes;
};

std::vector<BuiltModule> BuiltModules()
{
    std::vector<BuiltModule> modules;
    for (const std::string &path : BuiltModulePaths()) {
        std::vector<uint8_t> bytes;
        if (!pe::ReadFileBytes(path, &bytes))
            continue;
        BuiltModule m{path, {}, bytes};
        std::string error;
        EXPECT_TRUE(pe::ParseModule(bytes, &m.info, &error)) << path << ": " << error;
        modules.push_back(m);
    }
    return modules;
}

std::vector<uint8_t> Data(const BuiltModule &m, const std::string &type, const std::string &name)
{
    const pe::Resource *r = pe::FindResource(m.info, type, name, kUsEnglish);
    EXPECT_NE(r, nullptr) << m.path << " has no US English " << type << " " << name;
    return r != nullptr ? pe::ResourceBytes(m.bytes, *r) : std::vector<uint8_t>();
}

class ModuleResources : public ::testing::Test {
protected:
    void SetUp() override
    {
        modules_ = BuiltModules();
        if (modules_.empty())
            GTEST_SKIP() << "no built modules in this tree";
    }
    std::vector<BuiltModule> modules_;
};

} // namespace

TEST_F(ModuleResources, TheFiveResourcesAndNoOthers)
{
    for (const BuiltModule &m : modules_) {
        std::vector<std::string> found;
        for (const pe::Resource &r : m.info.resources) {
            found.push_back(r.type + " " + r.name);
            EXPECT_EQ(r.language, kUsEnglish) << m.path << ": " << r.type << " " << r.name;
        }
        // Types sort names before numbers: AETE, PIPL, then bitmap 2,
        // dialog 5, version 16.
        EXPECT_EQ(found, (std::vector<std::string>{"AETE #16000", "PIPL #16000", "#2 #1004", "#5 #101", "#16 #1"}))
            << m.path;
    }
}

TEST_F(ModuleResources, PropertyListAndTerminologyByteForByte)
{
    for (const BuiltModule &m : modules_) {
        const bool x64 = m.info.machine == pe::kMachineAmd64;
        EXPECT_EQ(Data(m, "PIPL", "#16000"), resource_bytes::FilterPropertyList(kScope, x64).Build()) << m.path;
        EXPECT_EQ(Data(m, "AETE", "#16000"), resource_bytes::FilterTerminology()) << m.path;

        // And a host reads them as meant.
        pipl::PropertyList list;
        aete::Terminology terms;
        std::string error;
        ASSERT_TRUE(pipl::Parse(Data(m, "PIPL", "#16000"), &list, &error)) << error;
        ASSERT_TRUE(aete::Parse(Data(m, "AETE", "#16000"), &terms, &error)) << error;
        EXPECT_EQ(list.terminologyResource, 16000);
        const aete::Event *event = terms.FindEvent(list.terminologyClass, list.terminologyEvent);
        ASSERT_NE(event, nullptr);
        EXPECT_EQ(event->name, "Umbrolux");
        ASSERT_EQ(event->parameters.size(), 3u);
        EXPECT_EQ(event->parameters[1].flags, 0x2000);
        ASSERT_EQ(terms.suites[0].enumerations.size(), 1u);
        EXPECT_EQ(terms.suites[0].enumerations[0].enumerators[3].description, "green with envy");
    }
}

TEST_F(ModuleResources, DialogTemplateControlByControl)
{
    for (const BuiltModule &m : modules_) {
        const std::vector<uint8_t> &bytes = Data(m, "#5", "#101");
        TemplateReader t(bytes);
        EXPECT_EQ(t.U16(), 1);       // extended template
        EXPECT_EQ(t.U16(), 0xFFFF);
        EXPECT_EQ(t.U32(), 0u);      // help id
        EXPECT_EQ(t.U32(), 0u);      // extended style
        EXPECT_EQ(t.U32(), WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT | DS_FIXEDSYS | DS_3DLOOK);
        const uint16_t count = t.U16();
        EXPECT_EQ(count, 27);
        const int16_t frame[4] = {int16_t(t.U16()), int16_t(t.U16()), int16_t(t.U16()), int16_t(t.U16())};
        EXPECT_EQ(std::vector<int16_t>(frame, frame + 4), (std::vector<int16_t>{0, 0, 447, 276}));
        EXPECT_EQ(t.TextOrOrdinal(false), "");  // no menu
        EXPECT_EQ(t.TextOrOrdinal(false), "");  // no class
        EXPECT_EQ(t.Text(), "Korvane - Umbrolux 1.3b");
        EXPECT_EQ(t.U16(), 8);    // points
        EXPECT_EQ(t.U16(), 400);  // weight
        EXPECT_EQ(t.U8(), 0);     // not italic
        EXPECT_EQ(t.U8(), 1);     // character set
        EXPECT_EQ(t.Text(), "MS Shell Dlg");

        const std::vector<Control> expected = PublishedControls();
        for (size_t i = 0; i < expected.size() && i < count; ++i) {
            const Control &e = expected[i];
            t.Align4();
            EXPECT_EQ(t.U32(), 0u) << "help id of control " << i;
            EXPECT_EQ(t.U32(), e.exStyle) << "extended style of control " << i;
            EXPECT_EQ(t.U32(), e.style) << "style of control " << i << " (" << e.text << ")";
            const int16_t place[4] = {int16_t(t.U16()), int16_t(t.U16()), int16_t(t.U16()), int16_t(t.U16())};
            EXPECT_EQ(std::vector<int16_t>(place, place + 4), (std::vector<int16_t>{e.x, e.y, e.cx, e.cy})) << i;
            EXPECT_EQ(int32_t(t.U32()), e.id) << "control " << i;
            EXPECT_EQ(Lower(t.TextOrOrdinal(true)), Lower(e.className)) << "control " << i;
            EXPECT_EQ(t.TextOrOrdinal(false), e.text) << "control " << i;
            EXPECT_EQ(t.U16(), 0) << "creation data of control " << i;
        }
        EXPECT_TRUE(t.AtEnd());
    }
}

TEST_F(ModuleResources, LogoBitmapAndVersionRecord)
{
    for (const BuiltModule &m : modules_) {
        const std::vector<uint8_t> &logo = Data(m, "#2", "#1004");
        ASSERT_EQ(logo.size(), 40u + 7872u) << m.path;  // header, no colour table, 48 rows of 164 bytes
        auto u32 = [&](size_t at) { return uint32_t(logo[at] | (logo[at + 1] << 8) | (logo[at + 2] << 16) | (logo[at + 3] << 24)); };
        EXPECT_EQ(u32(0), 40u);                 // BITMAPINFOHEADER
        EXPECT_EQ(int32_t(u32(4)), 54);         // width
        EXPECT_EQ(int32_t(u32(8)), 48);         // height, positive: bottom-up
        EXPECT_EQ(logo[12] | (logo[13] << 8), 1);   // planes
        EXPECT_EQ(logo[14] | (logo[15] << 8), 24);  // bits per pixel
        EXPECT_EQ(u32(16), 0u);                 // uncompressed
        EXPECT_EQ(u32(32), 0u);                 // no colours used

        version::VersionRecord v;
        std::string error;
        ASSERT_TRUE(version::Parse(Data(m, "#16", "#1"), &v, &error)) << error;
        EXPECT_EQ(v.FileVersionText(), "1.0.0.1");
        EXPECT_EQ(v.productVersionMS, 0x00010000u);
        EXPECT_EQ(v.productVersionLS, 0x00000001u);
        EXPECT_EQ(v.fileFlagsMask, 0x17u);
        EXPECT_EQ(v.fileFlags, 0u);
        EXPECT_EQ(v.fileOS, 0x4u);   // VOS__WINDOWS32
        EXPECT_EQ(v.fileType, 0x2u); // VFT_DLL
        EXPECT_EQ(v.fileSubtype, 0u);
        EXPECT_EQ(v.fileDateMS | v.fileDateLS, 0u);
        ASSERT_EQ(v.tables.size(), 1u);
        EXPECT_EQ(v.tables[0].language, "040904b0");
        const std::vector<std::pair<std::string, std::string>> strings = {
            {"FileDescription", "Umbrolux Photoshop plugin"}, {"FileVersion", "1, 0, 0, 1"},
            {"InternalName", "Umbrolux"}, {"OriginalFilename", "Umbrolux.8bf"},
            {"ProductName", "Umbrolux Photoshop plugin"}, {"ProductVersion", "1, 0, 0, 1"}};
        EXPECT_EQ(v.tables[0].strings, strings);
        EXPECT_EQ(v.translations, std::vector<uint32_t>{0x04B00409u});
    }
}

// The host reads resources of any module it is pointed at: damaged ones are
// refused with a reason, never read past.
TEST(ResourceReaders, TruncatedAndDamagedInput)
{
    const std::vector<uint8_t> terms = resource_bytes::FilterTerminology();
    aete::Terminology parsed;
    std::string error;
    ASSERT_TRUE(aete::Parse(terms, &parsed, &error)) << error;
    for (size_t n = 0; n < terms.size(); ++n)
        EXPECT_FALSE(aete::Parse(std::vector<uint8_t>(terms.begin(), terms.begin() + long(n)), &parsed, &error)) << n;
    std::vector<uint8_t> padded = terms;
    padded.insert(padded.end(), {0, 0, 0});
    EXPECT_TRUE(aete::Parse(padded, &parsed, &error)) << error;
    padded.back() = 7;
    EXPECT_FALSE(aete::Parse(padded, &parsed, &error));

    // A version record with a length that runs past the data, or a node
    // with a length below its header.
    resource_bytes::Bytes record;
    record.U16(200).U16(0).U16(0);
    for (char ch : std::string("VS_VERSION_INFO"))
        record.U16(uint16_t(ch));
    record.U16(0);
    version::VersionRecord v;
    EXPECT_FALSE(version::Parse(record.data, &v, &error));
    record.data[0] = uint8_t(record.data.size());
    EXPECT_FALSE(version::Parse(record.data, &v, &error));  // no fixed information
    EXPECT_FALSE(version::Parse({2, 0, 0, 0}, &v, &error));

    // A string entry of binary type (146 bytes): its value length counts bytes, and
    // read as characters it would run past the entry and the data.
    const std::string hex = "920034000000560053005f00560045005200530049004f004e005f0049004e0046004f0000000000bd04effe" +
                            std::string(96, '0') +
                            "36000000010053007400720069006e006700460069006c00650049006e0066006f0000001200000001000000"
                            "0a000200000000005858";
    std::vector<uint8_t> binaryString;
    for (size_t i = 0; i + 1 < hex.size(); i += 2)
        binaryString.push_back(uint8_t(std::stoi(hex.substr(i, 2), nullptr, 16)));
    // Exactly as large as the record, so that the sanitizer sees a read past it.
    binaryString.shrink_to_fit();
    ASSERT_EQ(binaryString.size(), 146u);
    EXPECT_FALSE(version::Parse(binaryString, &v, &error));
    EXPECT_NE(error.find("is not terminated"), std::string::npos) << error;
}
