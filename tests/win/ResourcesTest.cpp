// The host finds, lists and enables the filter by its resources alone, and
// the dialog template shows its logo from the module's own bitmap.
#include <windows.h>
#include <commctrl.h>

#include <algorithm>

#include "TestHost.h"
#include "host/files/ImageFile.h"
#include "resources/ResourceIds.h"

namespace {

INT_PTR CALLBACK QuietDialog(HWND, UINT, WPARAM, LPARAM)
{
    return FALSE;
}

} // namespace

TEST_F(ModuleTest, TheHostFindsTheFilterThroughItsPropertyList)
{
    const FilterResource *filter = host.Filter();
    ASSERT_NE(filter, nullptr);
    EXPECT_EQ(filter->resourceName, "#16000");
    EXPECT_EQ(filter->MenuPath(), "Korvane > Umbrolux...");
    EXPECT_EQ(EntryPointFor(filter->list), "PluginMain");
    EXPECT_TRUE(host.loadWarnings.empty()) << host.loadWarnings[0];
    ASSERT_NE(filter->Event(), nullptr);
    EXPECT_EQ(filter->Event()->name, "Umbrolux");
    EXPECT_EQ(host.Catalog().VersionLine(), "Umbrolux Photoshop plugin 1.0.0.1");
}

TEST_F(ModuleTest, EnabledForRgbDocumentsOnly)
{
    for (int16_t mode : {plugInModeRGBColor, plugInModeRGB48}) {
        Document d = MakeDocument(4, 4, 3, mode == plugInModeRGB48 ? 16 : 8, mode);
        EXPECT_TRUE(host.EnabledFor(d).enabled) << ImageModeName(mode);
    }
    struct Disabled {
        int16_t mode;
        int32_t planes, depth;
    };
    for (const Disabled &c : {Disabled{plugInModeGrayScale, 1, 8}, Disabled{plugInModeGray16, 1, 16},
                              Disabled{plugInModeCMYKColor, 4, 8}, Disabled{plugInModeLabColor, 3, 8},
                              Disabled{plugInModeLab48, 3, 16}, Disabled{plugInModeIndexedColor, 1, 8}}) {
        Document d = MakeDocument(4, 4, c.planes, c.depth, c.mode);
        const Document before = d;
        const RunReport report = host.Run(d);
        const std::string mode = ImageModeName(c.mode);
        EXPECT_NE(report.notEnabled.find("Umbrolux... is not available for " + mode + " documents"),
                  std::string::npos)
            << report.notEnabled;
        // A greyed menu item: the module is not called at all.
        EXPECT_TRUE(report.calls.empty()) << mode;
        EXPECT_TRUE(host.windows.messageBoxes.empty()) << mode;
        EXPECT_EQ(d.planes, before.planes) << mode;
    }
}

TEST_F(ModuleTest, TheFilterCaseFollowsTheSelectionAndTheLayer)
{
    Document d = MakeDocument(8, 8, 3, 8, plugInModeRGBColor);
    FillTestPattern(&d, 5);
    EXPECT_EQ(host.Run(d).filterCase, 1);
    d.selection.assign(64, 255);
    const RunReport selected = host.Run(d);
    EXPECT_EQ(selected.filterCase, 2);
    EXPECT_EQ(selected.handling.inputHandling, 4);  // white matte, as the list asks
    EXPECT_EQ(selected.handling.flags1, 6);
}

TEST(FaultyModule, AMalformedPropertyListIsNamedAndPassedOver)
{
    FilterHost host;
    std::string error;
    ASSERT_TRUE(host.Load(BesideTests("Misbehaving.8bf"), &error)) << error;
    ASSERT_EQ(host.loadWarnings.size(), 1u);
    EXPECT_NE(host.loadWarnings[0].find("#16001"), std::string::npos) << host.loadWarnings[0];
    EXPECT_NE(host.loadWarnings[0].find("not padded"), std::string::npos) << host.loadWarnings[0];
    ASSERT_NE(host.Filter(), nullptr);
    EXPECT_EQ(host.Filter()->MenuPath(), "Tests > Misbehaving");
    // Without an enabling expression its mode flags decide: Lab yes, CMYK no.
    EXPECT_TRUE(host.EnabledFor(MakeDocument(2, 2, 3, 8, plugInModeLabColor)).enabled);
    EXPECT_FALSE(host.EnabledFor(MakeDocument(2, 2, 4, 8, plugInModeCMYKColor)).enabled);

    // A module without a property list is no filter, whatever it exports.
    EXPECT_FALSE(host.Load(BesideTests("filterhost.exe"), &error));
    EXPECT_NE(error.find("no property list"), std::string::npos) << error;
}

TEST(HostCommandLine, ListsTheFilterAsAHostMenuShowsIt)
{
    const ProcessResult r = RunProcess(Quote(BesideTests("filterhost.exe")) + " list " + Quote(ModulePath()));
    EXPECT_EQ(r.exitCode, 0u) << r.output;
    EXPECT_NE(r.output.find("Umbrolux Photoshop plugin 1.0.0.1"), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("\n  Korvane > Umbrolux...\r\n"), std::string::npos) << r.output;  // a console line
    EXPECT_NE(r.output.find("enabled for RGBMode, RGB48Mode (by its enabling expression)"), std::string::npos)
        << r.output;
}

TEST(HostCommandLine, AGreyPhotographIsNotFilteredAsIfTheMenuItemWereGreyed)
{
    Document grey = MakeDocument(40, 30, 1, 8, plugInModeGrayScale);
    FillTestPattern(&grey, 9);
    const std::string in = TempPath("grey.png"), out = TempPath("grey-out.png");
    std::string error;
    ASSERT_TRUE(SaveImageFile(in, grey, &error)) << error;
    const ProcessResult r = RunProcess(Quote(BesideTests("filterhost.exe")) + " run " + Quote(ModulePath()) + " " +
                                       Quote(in) + " " + Quote(out));
    EXPECT_EQ(r.exitCode, 3u) << r.output;
    EXPECT_NE(r.output.find("Not run: Umbrolux... is not available for GrayScaleMode documents"), std::string::npos)
        << r.output;
    EXPECT_EQ(GetFileAttributesA(out.c_str()), INVALID_FILE_ATTRIBUTES);
    DeleteFileA(in.c_str());
}

TEST(DialogTemplate, CreatesItsControlsAndShowsTheLogoFromTheModule)
{
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_BAR_CLASSES};
    ASSERT_TRUE(InitCommonControlsEx(&controls));
    HMODULE module = LoadLibraryA(ModulePath().c_str());
    ASSERT_NE(module, nullptr);
    HWND dialog = CreateDialogParamA(module, MAKEINTRESOURCEA(IDD_MAIN), nullptr, QuietDialog, 0);
    ASSERT_NE(dialog, nullptr);

    char title[64] = {};
    GetWindowTextA(dialog, title, sizeof title);
    EXPECT_STREQ(title, "Korvane - Umbrolux 1.3b");
    std::vector<HWND> children;
    for (HWND c = GetWindow(dialog, GW_CHILD); c != nullptr; c = GetWindow(c, GW_HWNDNEXT))
        children.push_back(c);
    EXPECT_EQ(children.size(), 27u);
    EXPECT_FALSE(IsWindowVisible(GetDlgItem(dialog, IDC_PREVIEW)) ||
                 (GetWindowLongA(GetDlgItem(dialog, IDC_PREVIEW), GWL_STYLE) & WS_VISIBLE));

    const auto logo = std::find_if(children.begin(), children.end(), [](HWND c) {
        return (GetWindowLongA(c, GWL_STYLE) & SS_TYPEMASK) == SS_BITMAP;
    });
    ASSERT_NE(logo, children.end());
    const auto bitmap = reinterpret_cast<HBITMAP>(SendMessageA(*logo, STM_GETIMAGE, IMAGE_BITMAP, 0));
    ASSERT_NE(bitmap, nullptr);
    BITMAP info = {};
    ASSERT_NE(GetObjectA(bitmap, sizeof info, &info), 0);
    EXPECT_EQ(info.bmWidth, 54);
    EXPECT_EQ(info.bmHeight, 48);

    DestroyWindow(dialog);
    FreeLibrary(module);
}
