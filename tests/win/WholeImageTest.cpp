// The whole-image run in the emulated host: the tile grid, progress and
// cancel, the host's failures, and the last values in the registry.
#include <algorithm>
#include <cstring>

#include "TestHost.h"
#include "engine/FilterSettings.h"
#include "host/umbrolux/FilterRegistry.h"
#include "engine/ChannelFilters.h"
#include "RenderExpectation.h"
#include "tests/common/ToneFormula.h"

namespace {

std::string TileText(int top, int left, int bottom, int right)
{
    const std::string r = "(" + std::to_string(top) + "," + std::to_string(left) + "," + std::to_string(bottom) +
                          "," + std::to_string(right) + ")";
    return "in " + r + " out " + r;
}

bool HasValue(const char *name)
{
    DWORD type = 0;
    std::vector<uint8_t> bytes;
    return ReadFilterValue(name, &type, &bytes);
}

// Every profile of host: the full one, and the plain ones with the record's
// buffer procedures, with handle procedures only, and with no memory
// procedures at all.
class WholeImageTest : public ModuleTest, public ::testing::WithParamInterface<HostProfile> {
protected:
    void SetUp() override
    {
        ModuleTest::SetUp();
        host.behaviour.profile = GetParam();
        ASSERT_TRUE(DeleteFilterKey());
        ASSERT_TRUE(StoreFilterFloat("Last bias", tone.bias));
        ASSERT_TRUE(StoreFilterFloat("Last gamma", tone.gamma));
        ASSERT_TRUE(StoreFilterFloat("Last contrast", tone.contrast));
    }
    void TearDown() override { DeleteFilterKey(); }

    Document Photo(int32_t w, int32_t h, int32_t depth = 8)
    {
        Document d = MakeDocument(w, h, 3, depth, depth == 16 ? plugInModeRGB48 : plugInModeRGBColor);
        FillTestPattern(&d, uint32_t(w * 7 + h));
        return d;
    }

    bool Full() const { return GetParam() == HostProfile::Full; }

    std::vector<std::string> Tiles() const { return TileRequests(host); }

    // Allocations of `bytes` from wherever the profile's memory comes from
    // (none where the host has no memory procedures: the module's heap).
    size_t Allocations(int32_t bytes) const
    {
        const std::string n = std::to_string(bytes);
        switch (GetParam()) {
        case HostProfile::Full: return host.CountEvents(EventKind::Buffer, "new " + n);
        case HostProfile::Plain: return host.CountEvents(EventKind::Buffer, "allocate " + n);
        case HostProfile::PlainHandles: return host.CountEvents(EventKind::Handle, "new " + n);
        default: return 1;
        }
    }

    // The one message a host that reports nothing itself leaves to the module.
    void ExpectToldOnce(const std::string &text)
    {
        ASSERT_EQ(host.windows.messageBoxes.size(), 1u);
        EXPECT_EQ(host.windows.messageBoxes[0].caption, "Error");
        EXPECT_EQ(host.windows.messageBoxes[0].text, text);
    }

    FilterSettings tone = {0.05f, 2.0f, 230.0f};
};

// What only the full host can do: cancel through abortProc, and refuse
// tiles of no size.
class FullHostWholeImageTest : public WholeImageTest {};

} // namespace

TEST_P(WholeImageTest, TwelveTilesRowByRowWithClippedEdges)
{
    Document d = Photo(1000, 700);
    const Document original = d;
    const RunReport report = host.Run(d);
    EXPECT_EQ(report.result, 0);
    EXPECT_TRUE(report.finished);
    EXPECT_TRUE(report.Clean());

    const std::vector<std::string> tiles = Tiles();
    const std::vector<std::string> expected = {
        TileText(0, 0, 256, 256),     TileText(0, 256, 256, 512),     TileText(0, 512, 256, 768),
        TileText(0, 768, 256, 1000),  TileText(256, 0, 512, 256),     TileText(256, 256, 512, 512),
        TileText(256, 512, 512, 768), TileText(256, 768, 512, 1000),  TileText(512, 0, 700, 256),
        TileText(512, 256, 700, 512), TileText(512, 512, 700, 768),   TileText(512, 768, 700, 1000)};
    EXPECT_EQ(tiles, expected);

    std::vector<std::string> progress;
    for (const HostEvent &e : host.events)
        if (e.kind == EventKind::Progress)
            progress.push_back(e.text);
    ASSERT_EQ(progress.size(), 12u);
    EXPECT_EQ(progress.front(), "1/12");
    EXPECT_EQ(progress.back(), "12/12");
    EXPECT_EQ(host.CountEvents(EventKind::Port, "new 256x256 depth 8"), Full() ? 2u : 0u);
    EXPECT_EQ(Allocations(196608), 1u);

    const Document expectedDoc = ExpectedDocument(original, 256, 256, tone);
    EXPECT_TRUE(d.planes == expectedDoc.planes);
}

TEST_P(WholeImageTest, EightFullTilesAndOneSmallImage)
{
    Document d = Photo(1024, 512);
    EXPECT_EQ(host.Run(d).result, 0);
    EXPECT_EQ(host.CountEvents(EventKind::Progress, ""), 8u);
    EXPECT_EQ(host.CountEvents(EventKind::Progress, "8/8"), 1u);

    host.events.clear();
    Document small = Photo(40, 30);
    const Document original = small;
    EXPECT_EQ(host.Run(small).result, 0);
    EXPECT_EQ(host.CountEvents(EventKind::Progress, ""), 1u);
    EXPECT_EQ(host.CountEvents(EventKind::Port, "new 40x30 depth 8"), Full() ? 2u : 0u);
    EXPECT_TRUE(small.planes == ExpectedDocument(original, 256, 256, tone).planes);
}

TEST_P(WholeImageTest, SixteenBitDocumentsAndPaddedRowsGiveEachTileItsOwnRender)
{
    host.behaviour.tileWidth = 100;
    host.behaviour.tileHeight = 60;
    host.behaviour.rowPadding = 7;
    Document d = Photo(230, 130, 16);
    const Document original = d;
    EXPECT_EQ(host.Run(d).result, 0);
    EXPECT_EQ(Allocations(36000), 1u);  // 2 x 60 x 100 x 3
    EXPECT_TRUE(d.planes == ExpectedDocument(original, 100, 60, tone).planes);
}

TEST_P(WholeImageTest, ASelectionSetsMaskRectAndLimitsTheEffect)
{
    Document d = Photo(300, 200);
    d.selection.resize(300 * 200);
    for (size_t i = 0; i < d.selection.size(); ++i)
        d.selection[i] = uint8_t((i / 300) < 100 ? 255 : (i % 300) < 150 ? 0 : 128);
    const Document original = d;
    EXPECT_EQ(host.Run(d).result, 0);
    const std::vector<std::string> tiles = Tiles();
    EXPECT_EQ(tiles.size(), 2u);
    for (const HostEvent &e : host.events)
        if (e.kind == EventKind::Advance && e.text.compare(0, 3, "in ") == 0 &&
            e.text.find(" out (0,0,0,0)") == std::string::npos) {
            const std::string in = e.text.substr(3, e.text.find(" out") - 3);
            EXPECT_NE(e.text.find("mask " + in), std::string::npos) << e.text;
        }
    EXPECT_TRUE(d.planes == ExpectedDocument(original, 256, 256, tone).planes);
}

TEST_P(WholeImageTest, WithoutASelectionMaskRectIsLeftAlone)
{
    Document d = Photo(300, 200);
    EXPECT_EQ(host.Run(d).result, 0);
    EXPECT_EQ(Tiles().size(), 2u);
    for (const HostEvent &e : host.events) {
        if (e.kind == EventKind::Advance && e.text.compare(0, 3, "in ") == 0) {
            EXPECT_NE(e.text.find("mask (0,0,0,0)"), std::string::npos) << e.text;
        }
    }
}

TEST_P(FullHostWholeImageTest, ACancelDuringTheThirdTileStillStoresTheLastValues)
{
    ASSERT_TRUE(DeleteFilterKey());
    host.behaviour.abortAfter = 3;
    Document d = Photo(1000, 700);
    const RunReport report = host.Run(d);
    EXPECT_EQ(report.result, 1);
    EXPECT_FALSE(report.finished);
    EXPECT_TRUE(report.Clean()) << (report.leaks.empty() ? "" : report.leaks[0]);
    EXPECT_EQ(host.CountEvents(EventKind::Progress, ""), 3u);
    EXPECT_EQ(host.CountEvents(EventKind::Progress, "3/12"), 1u);
    EXPECT_EQ(host.CountEvents(EventKind::Advance, ""), 3u);
    // The defaults, since the key was gone when the dialog opened.
    for (auto value : {std::pair<const char *, float>{"Last bias", 0.5f}, {"Last gamma", 1.0f}, {"Last contrast", 255.0f}}) {
        DWORD type = 0;
        std::vector<uint8_t> bytes;
        ASSERT_TRUE(ReadFilterValue(value.first, &type, &bytes)) << value.first;
        EXPECT_EQ(type, DWORD(REG_BINARY));
        ASSERT_EQ(bytes.size(), 4u);
        float stored;
        std::memcpy(&stored, bytes.data(), 4);
        EXPECT_EQ(stored, value.second) << value.first;
    }
}

TEST_P(FullHostWholeImageTest, AZeroTileSizeIsRefusedBeforeAnythingHappens)
{
    ASSERT_TRUE(DeleteFilterKey());
    for (auto size : {std::pair<int32_t, int32_t>{0, 256}, {256, 0}}) {
        host.events.clear();
        host.behaviour.tileWidth = size.first;
        host.behaviour.tileHeight = size.second;
        Document d = Photo(50, 40);
        const Document original = d;
        const RunReport report = host.Run(d);
        EXPECT_EQ(report.result, -30100);
        EXPECT_TRUE(report.Clean());
        // Nothing of the run's own: only the preview's ports and buffers.
        EXPECT_EQ(host.CountEventsAfterDialog(EventKind::Port, "new"), 0u);
        EXPECT_EQ(host.CountEventsAfterDialog(EventKind::Buffer, "new"), 0u);
        EXPECT_FALSE(HasValue("Last bias"));
        EXPECT_TRUE(d.planes == original.planes);
    }
}

TEST_P(WholeImageTest, AnAdvanceStateErrorStopsTheRunAndWritesNothing)
{
    ASSERT_TRUE(DeleteFilterKey());
    Document d = Photo(600, 300);
    const Document original = d;
    // The second tile's request fails: counted from the requests the
    // preview made (a plain host's run also begins with an empty request).
    // A plain host answers 0 and delivers nothing.
    host.windows.dialogHandler = [&](HWND dialog) {
        const int requests = int(host.CountEvents(EventKind::Advance, "in "));
        host.behaviour.failAdvanceOn = requests + (Full() ? 2 : 3);
        PostMessageA(GetDlgItem(dialog, IDOK), BM_CLICK, 0, 0);
    };
    const RunReport report = host.Run(d);
    EXPECT_TRUE(report.Clean()) << (report.leaks.empty() ? "" : report.leaks[0]);
    EXPECT_EQ(host.CountEvents(EventKind::Progress, ""), 1u);
    EXPECT_FALSE(HasValue("Last bias"));
    if (Full()) {
        EXPECT_EQ(report.result, -108);
        EXPECT_FALSE(report.finished);
        EXPECT_TRUE(host.windows.messageBoxes.empty());
    } else {
        // The host would say nothing: the module names the cause, once.
        EXPECT_EQ(report.result, 1);
        ExpectToldOnce("The host delivered no image data for the filter to work on.");
    }
    EXPECT_EQ(d.planes.size(), original.planes.size());
}

TEST_P(WholeImageTest, AMissingMaskBufferRendersNothingAndRequestsNothing)
{
    ASSERT_TRUE(DeleteFilterKey());
    host.behaviour.failBufferAllocation = true;
    Document d = Photo(300, 200);
    const Document original = d;
    const RunReport report = host.Run(d);
    EXPECT_TRUE(report.Clean());
    if (GetParam() == HostProfile::PlainNoMemory) {
        // The module's own heap: nothing the host can refuse, and the run
        // (at the default values, the key being gone) goes through.
        EXPECT_EQ(report.result, 0);
        EXPECT_EQ(Tiles().size(), 2u);
        EXPECT_TRUE(HasValue("Last bias"));
        return;
    }
    if (Full() || GetParam() == HostProfile::Plain) {
        EXPECT_TRUE(Tiles().empty());
        EXPECT_FALSE(HasValue("Last bias"));
        EXPECT_TRUE(d.planes == original.planes);
    }
    if (Full())
        EXPECT_EQ(report.result, -1);
    else if (GetParam() == HostProfile::Plain) {
        EXPECT_EQ(report.result, 1);
        ExpectToldOnce("There is not enough memory to filter the image.");
    }
}

TEST_P(WholeImageTest, AMaskBufferTooLargeForThirtyTwoBitsIsRefused)
{
    host.behaviour.tileWidth = 32767;
    host.behaviour.tileHeight = 32767;
    Document d = Photo(20, 10, 16);
    const RunReport report = host.Run(d);
    EXPECT_EQ(host.CountEventsAfterDialog(EventKind::Buffer, "new"), 0u);
    EXPECT_TRUE(Tiles().empty());
    EXPECT_TRUE(report.Clean());
    if (Full()) {
        EXPECT_EQ(report.result, -108);
    } else {
        EXPECT_EQ(report.result, 1);
        ExpectToldOnce("There is not enough memory to filter the image.");
    }
}

namespace {

std::string ProfileName(const ::testing::TestParamInfo<HostProfile> &info)
{
    switch (info.param) {
    case HostProfile::Full: return "Full";
    case HostProfile::Plain: return "Plain";
    case HostProfile::PlainHandles: return "PlainHandles";
    default: return "PlainNoMemory";
    }
}

} // namespace

INSTANTIATE_TEST_SUITE_P(Hosts, WholeImageTest,
                         ::testing::Values(HostProfile::Full, HostProfile::Plain, HostProfile::PlainHandles,
                                           HostProfile::PlainNoMemory),
                         ProfileName);
INSTANTIATE_TEST_SUITE_P(Hosts, FullHostWholeImageTest, ::testing::Values(HostProfile::Full), ProfileName);
