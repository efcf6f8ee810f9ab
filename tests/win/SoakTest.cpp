// A long session in one host process: the module run again and again, held
// loaded or loaded again for every run, each run with its dialog opened and
// OK pressed; and one dialog through a long series of zooms, drags and view
// changes. After a warm-up, what the process holds (GDI and USER objects,
// kernel handles, threads, heap in use) must come back to the same level:
// a module that keeps anything per run or per load shows here.
#include <windows.h>

#include "TestHost.h"
#include "host/windows/DialogDriver.h"
#include "host/umbrolux/FilterRegistry.h"
#include "host/watch/ProcessCensus.h"
#include "resources/ResourceIds.h"

namespace dd = dialog_driver;

namespace {

// Runs before the first count: the platform's and the host's one-time
// allocations (classes, caches, the registry key) settle.
constexpr int kWarmUpRuns = 3;
constexpr int kHeldRuns = 20;
constexpr int kReloadedRuns = 10;
// What a series may leave beyond where it started: far less than one
// object, or one load's runtime pool (some 70 KB), per run.
constexpr int64_t kObjectAllowance = 2;
constexpr int64_t kHeapAllowance = 24 * 1024;

std::string Growth(const ProcessCensus &before, const ProcessCensus &after)
{
    return "before: " + CensusText(before) + "\nafter:  " + CensusText(after);
}

void ExpectSameLevel(const ProcessCensus &before, const ProcessCensus &after, const char *what)
{
    const ProcessCensus g = CensusGrowth(before, after);
    const std::string figures = Growth(before, after);
    EXPECT_LE(g.gdiObjects, kObjectAllowance) << what << ": GDI objects\n" << figures;
    EXPECT_LE(g.userObjects, kObjectAllowance) << what << ": USER objects\n" << figures;
    EXPECT_LE(g.kernelHandles, kObjectAllowance) << what << ": kernel handles\n" << figures;
    EXPECT_LE(g.threads, 0) << what << ": threads\n" << figures;
    EXPECT_LE(g.tlsSlots, 0) << what << ": thread-local storage slots\n" << figures;
    EXPECT_LE(g.heapBytes, kHeapAllowance) << what << ": heap in use\n" << figures;
}

class SoakTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(DeleteFilterKey());
        std::string error;
        ASSERT_TRUE(host.Load(ModulePath(), &error)) << error;
        document = MakeDocument(96, 64, 3, 8, plugInModeRGBColor);
        FillTestPattern(&document, 5);
    }
    void TearDown() override { DeleteFilterKey(); }

    // One run as a host makes it: the dialog opens and OK is pressed (the
    // host's own answer to a dialog), then the whole image is filtered. The
    // host forgets what it logged, so that only the module's part remains.
    void RunOnce(bool reload)
    {
        if (reload) {
            host.Unload();
            std::string error;
            ASSERT_TRUE(host.Load(ModulePath(), &error)) << error;
        }
        const RunReport report = host.Run(document);
        ASSERT_EQ(report.result, noErr);
        ASSERT_TRUE(report.finished);
        ASSERT_TRUE(report.Clean());
        ASSERT_EQ(host.CountEvents(EventKind::Window, "dialog"), 1u);
        Forget();
    }
    // The host's own record of what happened, which grows with every call.
    void Forget()
    {
        host.events.clear();
        host.events.shrink_to_fit();
        host.windows.Clear();
    }

    FilterHost host;
    Document document;
};

} // namespace

// The counts themselves: each kind of object taken shows, and shows gone
// once given back.
namespace {

struct Objects {
    HBITMAP bitmaps[3];
    HWND window;
    HMENU menu;
    HANDLE events[2];
    void *block;
    DWORD slot;

    Objects()
        : bitmaps{CreateBitmap(4, 4, 1, 32, nullptr), CreateBitmap(4, 4, 1, 32, nullptr),
                  CreateBitmap(4, 4, 1, 32, nullptr)},
          window(CreateWindowExA(0, "Static", "census", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr)),
          menu(CreatePopupMenu()),
          events{CreateEventA(nullptr, TRUE, FALSE, nullptr), CreateEventA(nullptr, TRUE, FALSE, nullptr)},
          block(HeapAlloc(GetProcessHeap(), 0, 256 * 1024)), slot(TlsAlloc())
    {
    }
    ~Objects()
    {
        TlsFree(slot);
        HeapFree(GetProcessHeap(), 0, block);
        for (HANDLE e : events)
            CloseHandle(e);
        DestroyMenu(menu);
        DestroyWindow(window);
        for (HBITMAP b : bitmaps)
            DeleteObject(b);
    }
    Objects(const Objects &) = delete;
    Objects &operator=(const Objects &) = delete;
};

} // namespace

TEST(ProcessCensus, SeesEachKindOfObjectTakenAndGiven)
{
    // A window that stays: the thread's window-manager objects (an input
    // method window on some platforms) come with its first window and go
    // with its last. And the objects once before counting: what the
    // platform sets up for itself on first use stays.
    HWND anchor = CreateWindowExA(0, "Static", "", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
    delete new Objects;
    const ProcessCensus before = TakeCensus();
    EXPECT_GT(before.gdiObjects, 0);
    EXPECT_GT(before.userObjects, 0);
    EXPECT_GT(before.kernelHandles, 0);
    EXPECT_GT(before.threads, 0);
    EXPECT_GT(before.heapBytes, 0);

    ProcessCensus during;
    {
        const Objects objects;
        during = TakeCensus();
    }
    const ProcessCensus after = TakeCensus();
    DestroyWindow(anchor);
    SCOPED_TRACE("taken: " + Growth(before, during) + "\ngiven back: " + Growth(before, after));
    EXPECT_EQ(during.gdiObjects - before.gdiObjects, 3);
    EXPECT_EQ(during.userObjects - before.userObjects, 2);  // the window and the menu
    EXPECT_EQ(during.kernelHandles - before.kernelHandles, 2);
    EXPECT_GE(during.heapBytes - before.heapBytes, 256 * 1024);
    EXPECT_EQ(during.tlsSlots - before.tlsSlots, 1);
    EXPECT_EQ(after.gdiObjects, before.gdiObjects);
    EXPECT_EQ(after.userObjects, before.userObjects);
    EXPECT_EQ(after.kernelHandles, before.kernelHandles);
    EXPECT_EQ(after.threads, before.threads);
    EXPECT_EQ(after.tlsSlots, before.tlsSlots);
    EXPECT_LT(after.heapBytes - before.heapBytes, 64 * 1024);
}

TEST_F(SoakTest, RunsWithTheModuleHeldLeaveNothingBehind)
{
    for (int i = 0; i < kWarmUpRuns; ++i)
        RunOnce(false);
    const ProcessCensus before = TakeCensus();
    for (int i = 0; i < kHeldRuns; ++i)
        RunOnce(false);
    ExpectSameLevel(before, TakeCensus(), "the module held");
}

TEST_F(SoakTest, RunsWithTheModuleLoadedAgainEachTimeLeaveNothingBehind)
{
    for (int i = 0; i < kWarmUpRuns; ++i)
        RunOnce(true);
    const ProcessCensus before = TakeCensus();
    for (int i = 0; i < kReloadedRuns; ++i)
        RunOnce(true);
    host.Unload();
    const ProcessCensus after = TakeCensus();
    ASSERT_TRUE(host.Load(ModulePath(), nullptr));
    ExpectSameLevel(before, after, "the module loaded for every run");
}

// One dialog kept open through many zooms, drags on the preview and view
// changes: each paint gives back what it took.
TEST_F(SoakTest, ALongSessionInOneDialogLeavesNothingBehind)
{
    RunOnce(false);
    ProcessCensus before, after;
    int paints = 0;
    host.windows.dialogHandler = [&](HWND dialog) {
        RECT area = {};
        GetWindowRect(GetDlgItem(dialog, IDC_PREVIEW), &area);
        POINT origin = {0, 0};
        ClientToScreen(dialog, &origin);
        const POINT middle = {(area.left + area.right) / 2 - origin.x, (area.top + area.bottom) / 2 - origin.y};
        const int views[3] = {IDC_VIEW_MASK, IDC_VIEW_RESULT, IDC_VIEW_ORIGINAL};
        auto steps = [&](int rounds) {
            for (int i = 0; i < rounds; ++i) {
                dd::Click(dialog, IDC_ZOOM_IN);
                dd::Click(dialog, IDC_ZOOM_IN);
                const int dx = i % 2 == 0 ? 7 : -7, dy = i % 3 == 0 ? 5 : -5;
                dd::Drag(dialog, middle, POINT{middle.x + dx, middle.y + dy}, 2);
                dd::Click(dialog, views[i % 3]);
                dd::Click(dialog, IDC_ZOOM_OUT);
                dd::Click(dialog, IDC_ZOOM_OUT);
            }
        };
        steps(3);
        Forget();
        before = TakeCensus();
        const int displayed = host.drawing.displayCount;
        steps(20);
        Forget();
        after = TakeCensus();
        paints = host.drawing.displayCount - displayed;
        dd::Click(dialog, IDOK);
    };
    const RunReport report = host.Run(document);
    EXPECT_EQ(report.result, noErr);
    EXPECT_TRUE(report.Clean());
    EXPECT_GE(paints, 20 * 7);  // every step painted the preview
    ExpectSameLevel(before, after, "one dialog");
}

// The logo's picture control shows the module's logo, and the bitmap goes
// with the dialog.
TEST_F(SoakTest, TheDialogsLogoGoesWithTheDialog)
{
    HGDIOBJ shown = nullptr;
    BITMAP size = {};
    host.windows.dialogHandler = [&](HWND dialog) {
        for (HWND child = GetWindow(dialog, GW_CHILD); child != nullptr; child = GetWindow(child, GW_HWNDNEXT))
            if ((GetWindowLongA(child, GWL_STYLE) & SS_TYPEMASK) == SS_BITMAP)
                shown = reinterpret_cast<HGDIOBJ>(SendMessageA(child, STM_GETIMAGE, IMAGE_BITMAP, 0));
        GetObjectA(shown, sizeof size, &size);
        dd::Click(dialog, IDOK);
    };
    const RunReport report = host.Run(document);
    EXPECT_EQ(report.result, noErr);
    ASSERT_NE(shown, nullptr);
    EXPECT_EQ(size.bmWidth, 54);
    EXPECT_EQ(size.bmHeight, 48);
    EXPECT_EQ(GetObjectType(shown), 0u) << "the logo's bitmap outlived its dialog";
}
