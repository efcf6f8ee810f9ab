// The module in hosts that offer less than the full host, as real hosts do:
// no basic suite and no document description, their own memory procedures,
// a signature other than the full host's, and the ways their callbacks
// differ. The filter must give the same pixels as in the full host, and tell
// the user itself what such a host would not.
#include <windows.h>

#include <algorithm>
#include <functional>

#include "RenderExpectation.h"
#include "TestHost.h"
#include "host/windows/DialogDriver.h"
#include "host/umbrolux/FilterRegistry.h"
#include "host/session/HostProfile.h"
#include "host/files/ImageFile.h"
#include "resources/ResourceIds.h"

namespace dd = dialog_driver;

namespace {

class PlainHostTest : public ModuleTest {
protected:
    void SetUp() override
    {
        ModuleTest::SetUp();
        ASSERT_TRUE(DeleteFilterKey());
        ASSERT_TRUE(StoreFilterFloat("Last bias", tone.bias));
        ASSERT_TRUE(StoreFilterFloat("Last gamma", tone.gamma));
        ASSERT_TRUE(StoreFilterFloat("Last contrast", tone.contrast));
        host.behaviour.profile = HostProfile::Plain;
    }
    void TearDown() override { DeleteFilterKey(); }

    Document Photo(int32_t w, int32_t h, int32_t depth = 8)
    {
        Document d = MakeDocument(w, h, 3, depth, depth == 16 ? plugInModeRGB48 : plugInModeRGBColor);
        FillTestPattern(&d, uint32_t(w * 3 + h));
        return d;
    }

    std::vector<std::string> Tiles() const { return TileRequests(host); }

    FilterSettings tone = {0.4f, 1.7f, 220.0f};
};

} // namespace

// The independent host at its plainest that still filters: advanceState,
// the record's buffer and handle procedures, displayPixels and progress.
// The dialog shows a live preview, OK filters, and a host that keeps only
// the last output it delivered gets the whole image in one request: the
// pixels the full host gives with the image in one tile.
TEST_F(PlainHostTest, AHostThatKeepsOnlyItsLastOutputGetsTheWholeImageAtOnce)
{
    for (int32_t depth : {8, 16}) {
        host.events.clear();
        host.behaviour.hostSignature = SignatureFromBytes('G', 'I', 'M', 'P');
        host.behaviour.lastOutputOnly = true;
        Document d = Photo(700, 450, depth);
        const Document original = d;
        size_t shown = 0;
        host.windows.dialogHandler = [&](HWND dialog) {
            dd::Click(dialog, IDC_VIEW_RESULT);
            shown = host.drawing.lastDisplay.image.rgb.size();
            dd::Click(dialog, IDOK);
        };
        const RunReport report = host.Run(d);
        EXPECT_EQ(report.result, 0);
        EXPECT_TRUE(report.Clean()) << (report.leaks.empty() ? "" : report.leaks[0]);
        EXPECT_GT(shown, 0u);
        EXPECT_EQ(Tiles(), std::vector<std::string>{"in (0,0,450,700) out (0,0,450,700)"});
        EXPECT_TRUE(d.planes == ExpectedDocument(original, 700, 450, tone).planes) << depth;
        EXPECT_TRUE(host.windows.messageBoxes.empty());
    }
}

// The preview's requests are followed, before the first tile, by one for an
// empty rectangle: a host that caches by rectangle would otherwise hand the
// preview's data back as the first tile's.
TEST_F(PlainHostTest, TheRunBeginsWithAnEmptyRequestAfterThePreviewsReads)
{
    Document d = Photo(300, 200);
    const RunReport report = host.Run(d);
    EXPECT_EQ(report.result, 0);
    std::vector<std::string> requests;
    for (const HostEvent &e : host.events)
        if (e.kind == EventKind::Advance && e.text.compare(0, 3, "in ") == 0)
            requests.push_back(e.text.substr(0, e.text.find(" mask")));
    const std::vector<std::string> tiles = Tiles();
    ASSERT_EQ(tiles.size(), 2u);
    const auto first = std::find(requests.begin(), requests.end(), tiles[0]);
    ASSERT_NE(first, requests.end());
    ASSERT_NE(first, requests.begin());
    EXPECT_EQ(*(first - 1), "in (0,0,0,0) out (0,0,0,0)");
    EXPECT_GT(first - requests.begin(), 1);  // the preview read before it
    EXPECT_EQ(std::count(requests.begin(), requests.end(), "in (0,0,0,0) out (0,0,0,0)"), 1);
}

// A host that states no tile size, or a negative one, gets tiles of
// 1024 x 1024 where the module smooths the mask itself.
TEST_F(PlainHostTest, TilesOfNoSizeOrNegativeSizeBecomeTilesOf1024)
{
    for (auto size : {std::pair<int32_t, int32_t>{0, 0}, {-64, 256}, {256, -1}}) {
        host.events.clear();
        host.behaviour.tileWidth = size.first;
        host.behaviour.tileHeight = size.second;
        Document d = Photo(2100, 1100);
        const Document original = d;
        const RunReport report = host.Run(d);
        EXPECT_EQ(report.result, 0);
        EXPECT_TRUE(report.Clean());
        EXPECT_EQ(Tiles().size(), 6u) << size.first << "x" << size.second;
        EXPECT_TRUE(d.planes == ExpectedDocument(original, 1024, 1024, tone).planes);
    }
}

// A depth of 0 in an RGB mode means the mode's own: 8 bits for RGB colour,
// 16 for 48-bit RGB.
TEST_F(PlainHostTest, ADepthOfZeroMeansTheModesOwn)
{
    for (HostProfile profile : {HostProfile::Full, HostProfile::Plain}) {
        for (int32_t depth : {8, 16}) {
            host.behaviour.profile = profile;
            host.behaviour.zeroDepth = true;
            Document d = Photo(90, 70, depth);
            const Document original = d;
            const RunReport report = host.Run(d);
            EXPECT_EQ(report.result, 0) << depth;
            EXPECT_TRUE(host.windows.messageBoxes.empty()) << depth;
            EXPECT_TRUE(d.planes == ExpectedDocument(original, 256, 256, tone).planes) << depth;
        }
    }
}

// Where the host does not report a failure itself, the module does, once,
// naming the cause, and ends with 1; the full host hears the code.
TEST_F(PlainHostTest, FailuresTheHostWouldNotShowAreToldOnce)
{
    struct Case {
        const char *what;
        HostProfile profile;
        OSType signature;
        std::function<void(HostBehaviour &)> set;
        int16_t result;
        std::string message;
    };
    const OSType other = MakeOSType('N', 'D', 'P', '.');
    const Case cases[] = {
        {"no advanceState", HostProfile::Plain, 0, [](HostBehaviour &b) { b.missingEntry = "advanceState"; }, 1,
         "This host delivers no image data to filters, so Umbrolux cannot filter the image."},
        {"no advanceState, no window", HostProfile::Plain, 0,
         [](HostBehaviour &b) {
             b.missingEntry = "advanceState";
             b.noPlatformWindow = true;
         },
         1, "This host delivers no image data to filters, so Umbrolux cannot filter the image."},
        {"a host error", HostProfile::Full, other,
         [](HostBehaviour &b) {
             b.failAdvanceOn = 1;
             b.advanceError = -30910;
         },
         1, "The host reported error -30910 while delivering the image."},
        {"out of memory", HostProfile::Full, other,
         [](HostBehaviour &b) {
             b.failAdvanceOn = 1;
             b.advanceError = memFullErr;
         },
         1, "There is not enough memory to filter the image."},
        {"the full host", HostProfile::Full, 0, [](HostBehaviour &b) { b.missingEntry = "advanceState"; }, -30900,
         ""},
    };
    for (const Case &c : cases) {
        host.behaviour = HostBehaviour();
        host.behaviour.profile = c.profile;
        host.behaviour.hostSignature = c.signature;
        c.set(host.behaviour);
        host.windows.messageBoxes.clear();
        host.events.clear();
        Document d = Photo(60, 40);
        const Document original = d;
        // Requests counted from the dialog on: the run's first tile fails.
        if (host.behaviour.failAdvanceOn > 0)
            host.windows.dialogHandler = [&](HWND dialog) {
                host.behaviour.failAdvanceOn = int(host.CountEvents(EventKind::Advance, "in ")) + 1;
                dd::Click(dialog, IDOK);
            };
        const RunReport report = host.Run(d);
        EXPECT_EQ(report.result, c.result) << c.what;
        EXPECT_TRUE(report.Clean()) << c.what;
        EXPECT_TRUE(d.planes == original.planes) << c.what;
        if (c.message.empty()) {
            EXPECT_TRUE(host.windows.messageBoxes.empty()) << c.what;
            continue;
        }
        ASSERT_EQ(host.windows.messageBoxes.size(), 1u) << c.what;
        const MessageBoxSeen &box = host.windows.messageBoxes[0];
        EXPECT_EQ(box.caption, "Error") << c.what;
        EXPECT_EQ(box.text, c.message) << c.what;
        EXPECT_EQ(box.owner, host.behaviour.noPlatformWindow ? nullptr : host.MainWindow()) << c.what;
    }
}

// A host that samples the input at the record's rate, and left a rate of 3
// there: the preview and the tiles still ask for every pixel, so the preview
// does not alias and the tiles are whole.
TEST_F(PlainHostTest, EveryRequestAsksForEveryPixel)
{
    auto run = [&](Fixed rate, std::vector<std::vector<uint8_t>> *shown) {
        host.behaviour.inputRate = rate;
        host.windows.dialogHandler = [&](HWND dialog) {
            for (int view : {IDC_VIEW_ORIGINAL, IDC_VIEW_RESULT}) {
                dd::Click(dialog, view);
                shown->push_back(host.drawing.lastDisplay.image.rgb);
            }
            dd::Click(dialog, IDC_ZOOM_IN);
            shown->push_back(host.drawing.lastDisplay.image.rgb);
            dd::Click(dialog, IDC_ZOOM_OUT);  // the next dialog opens where this one ends
            dd::Click(dialog, IDOK);
        };
        Document d = Photo(640, 400);
        const Document original = d;
        EXPECT_EQ(host.Run(d).result, 0);
        EXPECT_TRUE(d.planes == ExpectedDocument(original, 256, 256, tone).planes) << rate;
    };
    std::vector<std::vector<uint8_t>> atOne, atThree;
    run(0, &atOne);
    run(3 << 16, &atThree);
    ASSERT_EQ(atThree.size(), atOne.size());
    for (size_t i = 0; i < atOne.size(); ++i)
        EXPECT_TRUE(atThree[i] == atOne[i]) << "image " << i;
}

// A host that gives no window of its own: the dialog has no owner, and works.
TEST_F(PlainHostTest, WithoutAHostWindowTheDialogHasNoOwner)
{
    host.behaviour.noPlatformWindow = true;
    HWND owner = host.MainWindow();
    host.windows.dialogHandler = [&](HWND dialog) {
        owner = GetWindow(dialog, GW_OWNER);
        dd::Click(dialog, IDOK);
    };
    Document d = Photo(200, 150);
    const Document original = d;
    const RunReport report = host.Run(d);
    EXPECT_EQ(report.result, 0);
    EXPECT_EQ(owner, nullptr);
    EXPECT_TRUE(d.planes == ExpectedDocument(original, 256, 256, tone).planes);
}

// The host never calls finish after a successful run: nothing depends on it.
TEST_F(PlainHostTest, NothingWaitsForFinish)
{
    host.behaviour.noFinish = true;
    for (int run = 0; run < 2; ++run) {
        Document d = Photo(120, 90);
        const Document original = d;
        const RunReport report = host.Run(d);
        EXPECT_EQ(report.result, 0);
        EXPECT_FALSE(report.finished);
        EXPECT_TRUE(report.Clean());
        EXPECT_TRUE(d.planes == ExpectedDocument(original, 256, 256, tone).planes);
    }
}

// Where the host has no displayPixels the module draws the preview itself:
// the same pixels on the screen as the host draws.
TEST_F(PlainHostTest, WithoutDisplayPixelsTheModuleDrawsTheSamePixels)
{
    Document photo;
    std::string error;
    ASSERT_TRUE(LoadImageFile(BesideTests("cliff-backlit-500x420.png"), &photo, &error)) << error;
    RECT where = {};
    auto screen = [&](bool hostDraws) {
        host.behaviour.missingEntry = hostDraws ? "" : "displayPixels";
        std::vector<Document> shots;
        host.windows.dialogHandler = [&](HWND dialog) {
            for (int view : {IDC_VIEW_ORIGINAL, IDC_VIEW_MASK, IDC_VIEW_RESULT}) {
                dd::Click(dialog, view);
                if (hostDraws) {
                    const auto &shown = host.drawing.lastDisplay;
                    where = RECT{shown.column, shown.row, shown.column + shown.image.width,
                                 shown.row + shown.image.height};
                }
                Document cut;
                EXPECT_TRUE(ClientAreaOnScreen(dialog, where, &cut));
                shots.push_back(cut);
            }
            dd::Click(dialog, IDCANCEL);
        };
        const int before = host.drawing.displayCount;
        EXPECT_EQ(host.Run(photo).result, 1);
        EXPECT_EQ(host.drawing.displayCount > before, hostDraws);
        return shots;
    };
    const std::vector<Document> drawnByHost = screen(true);
    ASSERT_GT(where.right - where.left, 100);
    const std::vector<Document> drawnByModule = screen(false);
    ASSERT_EQ(drawnByModule.size(), drawnByHost.size());
    for (size_t i = 0; i < drawnByHost.size(); ++i)
        EXPECT_TRUE(drawnByModule[i].planes == drawnByHost[i].planes) << "view " << i;
    EXPECT_FALSE(drawnByHost[0].planes == drawnByHost[2].planes);  // the views differ
}
