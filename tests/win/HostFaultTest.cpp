// What a host that behaves a little differently, or an earlier step of the
// same start call, leaves behind: the module still ends every start call with
// a defined result, never crashes, and gives back everything it acquired.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <functional>

#include "RenderExpectation.h"
#include "TestHost.h"
#include "host/windows/DialogDriver.h"
#include "host/umbrolux/FilterRegistry.h"
#include "resources/ResourceIds.h"

namespace dd = dialog_driver;

namespace {

class HostFaultTest : public ModuleTest {
protected:
    void SetUp() override
    {
        ModuleTest::SetUp();
        ASSERT_TRUE(DeleteFilterKey());
        ASSERT_TRUE(DeleteFilterKey(HKEY_CURRENT_USER));
        ASSERT_TRUE(StoreFilterFloat("Last bias", tone.bias));
        ASSERT_TRUE(StoreFilterFloat("Last gamma", tone.gamma));
        ASSERT_TRUE(StoreFilterFloat("Last contrast", tone.contrast));
    }
    void TearDown() override
    {
        DeleteFilterKey();
        DeleteFilterKey(HKEY_CURRENT_USER);
    }

    Document Photo(int32_t w, int32_t h)
    {
        Document d = MakeDocument(w, h, 3, 8, plugInModeRGBColor);
        FillTestPattern(&d, uint32_t(w * 5 + h));
        return d;
    }

    // A run whose dialog the script drives; the script ends the dialog.
    RunReport RunDialog(Document &d, const std::function<void(HWND)> &script)
    {
        host.windows.dialogHandler = [&](HWND dialog) { script(dialog); };
        return host.Run(d);
    }

    // A run accepted with OK that must filter the whole document.
    void ExpectCompleteRun(const char *what, Document &d)
    {
        const Document original = d;
        const RunReport report = host.Run(d);
        EXPECT_EQ(report.result, 0) << what;
        EXPECT_TRUE(report.finished) << what;
        EXPECT_TRUE(report.Clean()) << what << ": " << (report.leaks.empty() ? "" : report.leaks.front());
        EXPECT_TRUE(d.planes == ExpectedDocument(original, 256, 256, tone).planes) << what;
    }

    static void WriteBytes(const std::string &path, const void *bytes, size_t size)
    {
        FILE *f = std::fopen(path.c_str(), "wb");
        ASSERT_NE(f, nullptr);
        std::fwrite(bytes, 1, size, f);
        std::fclose(f);
    }

    FilterSettings tone = {0.3f, 1.8f, 240.0f};
};

} // namespace

// The preview's failures (a scaled read that fails, a failed can-read query,
// a preview buffer refused) set the result code inside the same start call;
// none of them may stop the run that OK starts.
TEST_F(HostFaultTest, APreviewFailureDoesNotStopTheRun)
{
    // One pixel across: the preview's source rectangle truncates to nothing
    // and the host refuses the scaled read.
    for (auto size : {std::pair<int32_t, int32_t>{1, 300}, {300, 1}}) {
        Document d = Photo(size.first, size.second);
        host.imports.beeps = 0;
        ExpectCompleteRun(size.first == 1 ? "1 x 300" : "300 x 1", d);
        EXPECT_GT(host.imports.beeps, 0) << "the preview's read did not fail";
        float stored = 0;
        EXPECT_TRUE(ReadFilterFloat("Last bias", &stored));
    }
    for (const char *call : {"ReadScaledPixels", "CanRead"}) {
        host.behaviour.portFaults = {{call, 0}};
        Document d = Photo(90, 70);
        ExpectCompleteRun(call, d);
        EXPECT_GT(host.CountEvents(EventKind::Port, std::string(call) + " failed as asked"), 0u);
    }
    host.behaviour.portFaults.clear();
    // The preview buffers are the first three the module asks for.
    for (int refused = 1; refused <= 3; ++refused) {
        host.behaviour.failBufferOn = refused;
        Document d = Photo(90, 70);
        ExpectCompleteRun(("preview buffer " + std::to_string(refused)).c_str(), d);
    }
}

TEST_F(HostFaultTest, ARefusedTileMaskEndsTheRunWithNothingStored)
{
    ASSERT_TRUE(DeleteFilterKey());
    host.behaviour.failBufferOn = 4;
    Document d = Photo(90, 70);
    const Document original = d;
    const RunReport report = host.Run(d);
    EXPECT_EQ(report.result, -1);
    EXPECT_TRUE(report.Clean());
    EXPECT_EQ(host.CountEvents(EventKind::Buffer, "new 196608 (refused)"), 1u);
    EXPECT_EQ(host.CountEvents(EventKind::Advance, ""), 0u);
    EXPECT_TRUE(d.planes == original.planes);
    float stored = 0;
    EXPECT_FALSE(ReadFilterFloat("Last bias", &stored));
}

// A quit message ends the dialog's modal loop without OK or Cancel; the
// preview buffers go back all the same, and the host's next run is not
// disturbed by the quit message the loop passed on.
TEST_F(HostFaultTest, AQuitMessageEndsTheDialogAndFreesItsBuffers)
{
    Document d = Photo(90, 70);
    const Document original = d;
    const RunReport report = RunDialog(d, [](HWND) { PostQuitMessage(0); });
    EXPECT_EQ(report.result, -1);
    EXPECT_TRUE(report.Clean()) << (report.leaks.empty() ? "" : report.leaks.front());
    EXPECT_EQ(host.CountEvents(EventKind::Window, "quit message left by the start call"), 1u);
    EXPECT_TRUE(d.planes == original.planes);

    host.windows.dialogHandler = [](HWND dialog) { dd::Click(dialog, IDOK); };
    ExpectCompleteRun("after the quit", d = original);
}

// Without memory for anything it would allocate, the dialog still loads and
// saves settings files: nothing on those paths allocates, and no exception
// can unwind into the platform or the host.
TEST_F(HostFaultTest, SettingsFilesNeedNoHeapAndNothingThrowsIntoTheHost)
{
    const float loaded[3] = {1.5f, 0.75f, 200.0f};
    uint8_t bytes[16] = {'U', 'M', 'L', 'X'};
    std::memcpy(bytes + 4, loaded, sizeof loaded);
    const std::string in = TempPath("no-heap-in.ulx"), out = TempPath("no-heap-out.ulx");
    WriteBytes(in, bytes, sizeof bytes);
    DeleteFileA(out.c_str());

    host.behaviour.failModuleMalloc = true;
    Document d = Photo(90, 70);
    const Document original = d;
    const RunReport report = RunDialog(d, [&](HWND dialog) {
        host.windows.fileDialogAnswers = {in};
        dd::Click(dialog, IDC_LOAD);
        EXPECT_EQ(dd::TextOf(dialog, IDC_BIAS_EDIT), "1.50");
        host.windows.fileDialogAnswers = {out};
        dd::Click(dialog, IDC_SAVE);
        dd::Click(dialog, IDOK);
    });
    EXPECT_EQ(report.result, 0);
    EXPECT_TRUE(report.Clean());
    EXPECT_TRUE(host.windows.messageBoxes.empty());

    FILE *f = std::fopen(out.c_str(), "rb");
    ASSERT_NE(f, nullptr);
    uint8_t saved[32] = {};
    const size_t n = std::fread(saved, 1, sizeof saved, f);
    std::fclose(f);
    EXPECT_EQ(n, sizeof bytes);
    EXPECT_EQ(std::memcmp(saved, bytes, sizeof bytes), 0);
    EXPECT_TRUE(d.planes == ExpectedDocument(original, 256, 256, {loaded[0], loaded[1], loaded[2]}).planes);
    DeleteFileA(in.c_str());
    DeleteFileA(out.c_str());
}

// A host that reuses its record leaves the last tile's row steps and
// selection in it while the dialog runs: the preview renders its own packed
// buffers all the same.
TEST_F(HostFaultTest, ThePreviewTakesNoLayoutFromTheRecord)
{
    DisplayedImage shown[2];
    for (int stale = 0; stale < 2; ++stale) {
        host.behaviour.staleTileLayout = stale == 1;
        Document d = Photo(160, 120);
        const RunReport report = RunDialog(d, [&](HWND dialog) {
            dd::Click(dialog, IDC_VIEW_RESULT);
            shown[stale] = host.drawing.lastDisplay.image;
            dd::Click(dialog, IDCANCEL);
        });
        EXPECT_EQ(report.result, 1);
        EXPECT_TRUE(report.Clean());
    }
    ASSERT_GT(shown[0].width, 0);
    EXPECT_EQ(shown[1].width, shown[0].width);
    EXPECT_EQ(shown[1].height, shown[0].height);
    EXPECT_TRUE(shown[1].rgb == shown[0].rgb);

    // The whole-image run takes the layout the host delivers with each tile.
    host.windows.dialogHandler = [](HWND dialog) { dd::Click(dialog, IDOK); };
    Document d = Photo(300, 280);
    ExpectCompleteRun("stale layout", d);
}

// Every service a run calls may be missing from a host: the start call ends
// at once with -30900, before the dialog, having acquired nothing for good.
// Progress and abort callbacks, a data-bounds query and pixel-map drawing
// are optional: without them the run completes.
TEST_F(HostFaultTest, MissingHostServices)
{
    // Without image data there is nothing to filter: the host, which reports
    // negative codes itself, hears that it lacks a service.
    host.behaviour.missingEntry = "advanceState";
    Document d = Photo(60, 40);
    const Document original = d;
    const RunReport report = host.Run(d);
    EXPECT_EQ(report.result, -30900);
    EXPECT_TRUE(report.Clean());
    EXPECT_EQ(host.CountEvents(EventKind::Window, "dialog "), 0u);
    EXPECT_EQ(host.CountEvents(EventKind::Window, "message box"), 0u);
    EXPECT_TRUE(d.planes == original.planes);

    // Everything else the module does itself when an entry is missing: the
    // smoothing, the preview's read and drawing, its memory.
    for (const char *entry :
         {"progressProc", "abortProc", "ports:GetDataBounds", "displayPixels", "ports:CanRead",
          "ports:ReadScaledPixels", "ports:New", "ports:Dispose", "ports:WritePixelsToBaseLevel",
          "ports:ReadPixelsFromLevel", "ports:ApplyOperation", "buffers:New", "buffers:Dispose"}) {
        host.behaviour.missingEntry = entry;
        Document photo = Photo(300, 280);
        ExpectCompleteRun(entry, photo);
    }
}

// A host without one of the suites, or with one that is acquired but null:
// the module smooths, reads and allocates itself, filters exactly as with
// the suite, and gives back whatever it did acquire.
TEST_F(HostFaultTest, ASuiteTheHostLacksIsDoneByTheModule)
{
    struct Lack {
        const char *what;
        std::function<void(HostBehaviour &)> set;
        size_t portsReleased, buffersReleased;
    };
    const Lack lacks[] = {
        {"no basic suite", [](HostBehaviour &b) { b.noBasicSuite = true; }, 0, 0},
        {"channel ports refused", [](HostBehaviour &b) { b.refusedSuite = kPSChannelPortsSuite; }, 0, 1},
        {"buffer suite refused", [](HostBehaviour &b) { b.refusedSuite = kPSBufferSuite; }, 1, 0},
        {"channel ports null", [](HostBehaviour &b) { b.nullSuite = kPSChannelPortsSuite; }, 1, 1},
        {"buffer suite null", [](HostBehaviour &b) { b.nullSuite = kPSBufferSuite; }, 1, 1},
    };
    for (const Lack &lack : lacks) {
        host.behaviour = HostBehaviour();
        lack.set(host.behaviour);
        host.events.clear();
        Document d = Photo(300, 280);
        ExpectCompleteRun(lack.what, d);
        EXPECT_EQ(host.CountEvents(EventKind::Suite, "release \"" kPSChannelPortsSuite "\" v3"), lack.portsReleased)
            << lack.what;
        EXPECT_EQ(host.CountEvents(EventKind::Suite, "release \"" kPSBufferSuite "\" v1"), lack.buffersReleased)
            << lack.what;
        EXPECT_EQ(host.CountEvents(EventKind::Failure, ""), 0u) << lack.what;
        EXPECT_TRUE(host.windows.messageBoxes.empty()) << lack.what;
    }
}

// A host that answers success without delivering the tile's buffers has
// failed: the run stops, releases everything and stores nothing.
TEST_F(HostFaultTest, ATileDeliveredWithoutBuffersStopsTheRun)
{
    ASSERT_TRUE(DeleteFilterKey());
    host.behaviour.nullTileBuffers = true;
    Document d = Photo(300, 280);
    const RunReport report = host.Run(d);
    EXPECT_EQ(report.result, -1);
    EXPECT_TRUE(report.Clean());
    EXPECT_EQ(host.CountEvents(EventKind::Advance, "in "), 1u);
    EXPECT_EQ(host.CountEvents(EventKind::Progress, ""), 0u);
    float stored = 0;
    EXPECT_FALSE(ReadFilterFloat("Last bias", &stored));
}

// A standard user cannot create the machine's key: the last values are kept
// under the same path for the user, and read back from there. Values the
// machine's key already holds are read from it.
TEST_F(HostFaultTest, TheLastValuesLiveWithTheUserWhenTheMachineKeyIsRefused)
{
    ASSERT_TRUE(DeleteFilterKey());
    host.behaviour.refuseMachineKey = true;
    Document d = Photo(60, 40);
    RunReport report = RunDialog(d, [](HWND dialog) {
        dd::TypeInto(dialog, IDC_BIAS_EDIT, "1.25");
        dd::Click(dialog, IDOK);
    });
    EXPECT_EQ(report.result, 0);
    EXPECT_TRUE(report.Clean());
    EXPECT_GT(host.CountEvents(EventKind::Registry, "refused HKEY_LOCAL_MACHINE"), 0u);
    EXPECT_FALSE(FilterKeyExists(HKEY_LOCAL_MACHINE));
    float stored = 0;
    EXPECT_TRUE(ReadFilterFloat("Last bias", &stored, HKEY_CURRENT_USER));
    EXPECT_EQ(stored, 1.25f);

    std::string shown;
    auto look = [&](HWND dialog) {
        shown = dd::TextOf(dialog, IDC_BIAS_EDIT);
        dd::Click(dialog, IDCANCEL);
    };
    report = RunDialog(d, look);
    EXPECT_TRUE(report.Clean());
    EXPECT_EQ(shown, "1.25");

    host.behaviour.refuseMachineKey = false;
    ASSERT_TRUE(StoreFilterFloat("Last bias", 2.0f));
    RunDialog(d, look);
    EXPECT_EQ(shown, "2.00");
}
