// The entry point and its six handlers, driven by the emulated host.
#include <cstring>

#include "TestHost.h"
#include "host/umbrolux/FilterRegistry.h"

namespace {

const char kModeMessage[] = "Only 8/16 bit RGB mode is supported.";
const char kLayerMessage[] = "Filter works on background layer only";

Document Rgb8()
{
    Document d = MakeDocument(32, 24, 3, 8, plugInModeRGBColor);
    FillTestPattern(&d, 1);
    return d;
}

std::vector<int16_t> Selectors(const RunReport &report)
{
    std::vector<int16_t> s;
    for (const SelectorCall &c : report.calls)
        s.push_back(c.selector);
    return s;
}

} // namespace

// ---- about -----------------------------------------------------------------

TEST_F(ModuleTest, AboutShowsItsTextWithoutOwnerOrIcon)
{
    const RunReport report = host.About();
    EXPECT_EQ(report.result, 0);
    EXPECT_TRUE(report.Clean());
    ASSERT_EQ(host.windows.messageBoxes.size(), 1u);
    const MessageBoxSeen &box = host.windows.messageBoxes[0];
    EXPECT_EQ(box.text, "Umbrolux version 1.0b");
    EXPECT_EQ(box.caption, "About Umbrolux");
    EXPECT_EQ(box.owner, nullptr);
    EXPECT_EQ(box.icon, MessageBoxIcon::None);
    EXPECT_EQ(box.buttons, std::vector<int>{IDOK});
    EXPECT_EQ(host.CountEvents(EventKind::Suite, ""), 0u);
}

// The about record is far shorter than a filter record: placed against an
// inaccessible page, any read of a filter-record field faults.
TEST_F(ModuleTest, AboutReadsNothingPastTheAboutRecord)
{
    SYSTEM_INFO si;
    GetSystemInfo(&si);
    const size_t page = si.dwPageSize;
    auto *base = static_cast<uint8_t *>(VirtualAlloc(nullptr, 2 * page, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
    ASSERT_NE(base, nullptr);
    DWORD old = 0;
    ASSERT_TRUE(VirtualProtect(base + page, page, PAGE_NOACCESS, &old));
    auto *about = reinterpret_cast<AboutRecord *>(base + page - sizeof(AboutRecord));
    std::memset(about, 0, sizeof(AboutRecord));
    EXPECT_EQ(host.Call(filterSelectorAbout, about), 0);
    EXPECT_EQ(host.windows.messageBoxes.size(), 1u);
    VirtualFree(base, 0, MEM_RELEASE);
}

// ---- parameters, prepare, continue, finish, unknown selectors ---------------

TEST_F(ModuleTest, ParametersAsksForASixByteHandleOnlyWhenThereIsNone)
{
    Document d = Rgb8();
    host.Attach(d);
    EXPECT_EQ(host.Call(filterSelectorParameters, &host.Record()), 0);
    Handle first = host.Record().parameters;
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(host.CountEvents(EventKind::Handle, "new 6"), 1u);

    EXPECT_EQ(host.Call(filterSelectorParameters, &host.Record()), 0);
    EXPECT_EQ(host.Record().parameters, first);
    EXPECT_EQ(host.CountEvents(EventKind::Handle, "new"), 1u);
    host.Record().handleProcs->disposeProc(first);
}

TEST_F(ModuleTest, ParametersReportsOutOfMemoryWhenTheHandleIsRefused)
{
    host.behaviour.failHandleAllocation = true;
    Document d = Rgb8();
    const RunReport report = host.Run(d);
    ASSERT_EQ(report.calls.size(), 1u);
    EXPECT_EQ(report.calls[0].selector, filterSelectorParameters);
    EXPECT_EQ(report.result, -108);
    EXPECT_FALSE(report.finished);
    EXPECT_TRUE(report.Clean());
}

TEST_F(ModuleTest, ParametersWithoutHandleProceduresHoldNone)
{
    // The handle's contents are never used: a host that cannot hold one is
    // not refused for it.
    host.behaviour.noHandleProcs = true;
    Document d = Rgb8();
    const RunReport report = host.Run(d);
    EXPECT_EQ(report.result, 0);
    EXPECT_TRUE(report.finished);
    EXPECT_EQ(host.Record().parameters, nullptr);
    EXPECT_TRUE(report.Clean());
}

TEST_F(ModuleTest, PrepareAsksForNoBufferSpace)
{
    Document d = Rgb8();
    host.Attach(d);
    host.Record().bufferSpace = 12345;
    host.Record().maxSpace = 67890;
    EXPECT_EQ(host.Call(filterSelectorPrepare, &host.Record()), 0);
    EXPECT_EQ(host.Record().bufferSpace, 0);
    EXPECT_EQ(host.Record().maxSpace, 0);
}

TEST_F(ModuleTest, ContinueEmptiesAllThreeRectangles)
{
    Document d = Rgb8();
    host.Attach(d);
    host.Record().inRect = Rect{1, 2, 3, 4};
    host.Record().outRect = Rect{5, 6, 7, 8};
    host.Record().maskRect = Rect{9, 10, 11, 12};
    EXPECT_EQ(host.Call(filterSelectorContinue, &host.Record()), 0);
    const Rect zero = {};
    EXPECT_EQ(std::memcmp(&host.Record().inRect, &zero, sizeof zero), 0);
    EXPECT_EQ(std::memcmp(&host.Record().outRect, &zero, sizeof zero), 0);
    EXPECT_EQ(std::memcmp(&host.Record().maskRect, &zero, sizeof zero), 0);
}

TEST_F(ModuleTest, FinishSucceeds)
{
    Document d = Rgb8();
    host.Attach(d);
    EXPECT_EQ(host.Call(filterSelectorFinish, &host.Record()), 0);
}

TEST_F(ModuleTest, UnknownSelectorsLeaveTheResultAtZeroAndTouchNothing)
{
    Document d = Rgb8();
    host.Attach(d);
    host.Record().inRect = Rect{1, 2, 3, 4};
    for (int16_t selector : {int16_t(6), int16_t(7), int16_t(-1), int16_t(1000)}) {
        const FilterRecord before = host.Record();
        EXPECT_EQ(host.Call(selector, &host.Record()), 0) << selector;
        EXPECT_EQ(std::memcmp(&before, &host.Record(), sizeof before), 0) << selector;
    }
    EXPECT_EQ(host.windows.messageBoxes.size(), 0u);
    EXPECT_EQ(host.CountEvents(EventKind::Suite, ""), 0u);
    EXPECT_EQ(host.CountEvents(EventKind::Handle, ""), 0u);
}

// ---- start: the document checks ------------------------------------------------

struct Refusal {
    const char *name;
    int16_t mode;
    int32_t planes;
    int32_t depth;
    bool transparency;
    const char *message;
};

void PrintTo(const Refusal &r, std::ostream *os)
{
    *os << r.name;
}

class DocumentCheck : public ModuleTest, public ::testing::WithParamInterface<Refusal> {};

TEST_P(DocumentCheck, RefusesWithItsMessageAndAcquiresNothing)
{
    // Called whatever its menu item's state, as a script may call it.
    host.behaviour.ignoreEnabling = true;
    const Refusal &r = GetParam();
    Document d = MakeDocument(16, 16, r.planes, r.depth, r.mode);
    d.hasTransparency = r.transparency;
    const RunReport report = host.Run(d);

    EXPECT_EQ(report.result, 1);
    EXPECT_EQ(Selectors(report), (std::vector<int16_t>{1, 2, 3}));
    EXPECT_FALSE(report.finished);
    EXPECT_TRUE(report.Clean());
    ASSERT_EQ(host.windows.messageBoxes.size(), 1u);
    const MessageBoxSeen &box = host.windows.messageBoxes[0];
    EXPECT_EQ(box.text, r.message);
    EXPECT_EQ(box.caption, "Error");
    EXPECT_EQ(box.icon, MessageBoxIcon::Information);
    EXPECT_EQ(box.owner, host.MainWindow());
    EXPECT_EQ(box.buttons, std::vector<int>{IDOK});
    EXPECT_EQ(host.CountEvents(EventKind::Suite, ""), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Refusals, DocumentCheck,
    ::testing::Values(
        Refusal{"Rgb16WithTransparency", plugInModeRGB48, 4, 16, true, kLayerMessage},
        Refusal{"Rgb8WithTransparency", plugInModeRGBColor, 4, 8, true, kLayerMessage},
        Refusal{"Grayscale", plugInModeGrayScale, 1, 8, false, kModeMessage},
        Refusal{"Gray16", plugInModeGray16, 1, 16, false, kModeMessage},
        Refusal{"Cmyk", plugInModeCMYKColor, 4, 8, false, kModeMessage},
        Refusal{"Lab", plugInModeLabColor, 3, 8, false, kModeMessage},
        Refusal{"RgbOfAnotherDepth", plugInModeRGBColor, 3, 32, false, kModeMessage}),
    [](const ::testing::TestParamInfo<Refusal> &info) { return std::string(info.param.name); });

// ---- start: the suites --------------------------------------------------------

TEST_F(ModuleTest, EightBitRgbRunsAndReleasesEverything)
{
    ASSERT_TRUE(DeleteFilterKey());
    ASSERT_TRUE(StoreFilterFloat("Last gamma", 2.0f));  // not the identity
    Document d = Rgb8();
    const Document before = d;
    const RunReport report = host.Run(d);

    EXPECT_EQ(Selectors(report), (std::vector<int16_t>{1, 2, 3, 4, 5}));
    EXPECT_EQ(report.result, 0);
    EXPECT_TRUE(report.finished);
    EXPECT_TRUE(report.Clean()) << (report.leaks.empty() ? "" : report.leaks[0]);
    EXPECT_TRUE(host.windows.messageBoxes.empty());
    EXPECT_EQ(host.CountEvents(EventKind::Suite, "acquire \"" kPSChannelPortsSuite "\" v3"), 1u);
    EXPECT_EQ(host.CountEvents(EventKind::Suite, "acquire \"" kPSBufferSuite "\" v1"), 1u);
    EXPECT_EQ(host.CountEvents(EventKind::Suite, "release \"" kPSChannelPortsSuite "\" v3"), 1u);
    EXPECT_EQ(host.CountEvents(EventKind::Suite, "release \"" kPSBufferSuite "\" v1"), 1u);
    // The preview's ports are replaced by ports of the tiles' size; every
    // port made is disposed.
    EXPECT_EQ(host.CountEvents(EventKind::Port, "new"), host.CountEvents(EventKind::Port, "dispose"));
    EXPECT_EQ(host.CountEventsAfterDialog(EventKind::Port, "new"), 2u);
    EXPECT_NE(d.planes, before.planes);
}

TEST_F(ModuleTest, SixteenBitRgbRuns)
{
    Document d = MakeDocument(8, 8, 3, 16, plugInModeRGB48);
    FillTestPattern(&d, 2);
    const RunReport report = host.Run(d);
    EXPECT_EQ(report.result, 0);
    EXPECT_TRUE(host.windows.messageBoxes.empty());
    EXPECT_EQ(host.CountEvents(EventKind::Suite, "acquire"), 2u);
    EXPECT_TRUE(report.Clean());
}

TEST_F(ModuleTest, StartRebindsTheHostPointersOnEveryCall)
{
    // Two runs with two different records and documents: the second must
    // report through its own result and record, not the first's.
    Document refused = MakeDocument(4, 4, 1, 8, plugInModeGrayScale);
    host.behaviour.ignoreEnabling = true;
    EXPECT_EQ(host.Run(refused).result, 1);
    Document d = Rgb8();
    host.behaviour.repeatLastFilter = true;
    const RunReport report = host.Run(d);
    EXPECT_EQ(Selectors(report), (std::vector<int16_t>{2, 3, 4, 5}));
    EXPECT_EQ(report.result, 0);
    EXPECT_EQ(host.windows.messageBoxes.size(), 1u);
}
