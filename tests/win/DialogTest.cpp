// The main dialog under Wine, driven as a person drives it: keys into the
// edits, the sliders' keys and thumbs, the buttons, the mouse on the
// preview, and the platform's own file dialogs.
#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <limits>

#include "RenderExpectation.h"
#include "TestHost.h"
#include "host/files/ImageFile.h"
#include "host/windows/DialogDriver.h"
#include "host/umbrolux/FilterRegistry.h"
#include "resources/ResourceIds.h"

namespace dd = dialog_driver;

namespace {

// Every dialog test runs in the full host and in a plain one, which reads
// nothing scaled, applies no filters and draws what it is given from its own
// corner: the module's dialog must behave the same in both.
class DialogTest : public ModuleTest, public ::testing::WithParamInterface<HostProfile> {
protected:
    void SetUp() override
    {
        ModuleTest::SetUp();
        host.behaviour.profile = GetParam();
        ASSERT_TRUE(DeleteFilterKey());
        char dir[MAX_PATH] = {};
        GetTempPathA(MAX_PATH, dir);
        folder = std::string(dir) + "umbrolux-dialog-" + std::to_string(GetCurrentProcessId());
        CreateDirectoryA(folder.c_str(), nullptr);
    }
    void TearDown() override
    {
        DeleteFilterKey();
        RemoveTree(folder);
    }
    static void RemoveTree(const std::string &path)
    {
        WIN32_FIND_DATAA found;
        HANDLE search = FindFirstFileA((path + "\\*").c_str(), &found);
        if (search != INVALID_HANDLE_VALUE) {
            do {
                const std::string name = found.cFileName;
                if (name == "." || name == "..")
                    continue;
                if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                    RemoveTree(path + "\\" + name);
                else
                    DeleteFileA((path + "\\" + name).c_str());
            } while (FindNextFileA(search, &found));
            FindClose(search);
        }
        RemoveDirectoryA(path.c_str());
    }

    // Runs the filter over the document with the script acting in its
    // dialog; the script ends the dialog.
    RunReport RunDialog(Document &d, const std::function<void(HWND)> &script)
    {
        host.windows.dialogHandler = [&](HWND dialog) { script(dialog); };
        return host.Run(d);
    }
    Document Photo(int32_t w = 120, int32_t h = 80)
    {
        Document d = MakeDocument(w, h, 3, 8, plugInModeRGBColor);
        FillTestPattern(&d, 11);
        return d;
    }
    static int Position(HWND dialog, int sliderId)
    {
        return int(SendDlgItemMessageA(dialog, sliderId, TBM_GETPOS, 0, 0));
    }
    static float Stored(const char *name)
    {
        float v = -1;
        ReadFilterFloat(name, &v);
        return v;
    }
    static std::vector<uint8_t> FileBytes(const std::string &path)
    {
        std::vector<uint8_t> bytes;
        if (FILE *f = std::fopen(path.c_str(), "rb")) {
            int c;
            while ((c = std::fgetc(f)) != EOF)
                bytes.push_back(uint8_t(c));
            std::fclose(f);
        }
        return bytes;
    }
    static void WriteBytes(const std::string &path, const std::vector<uint8_t> &bytes)
    {
        FILE *f = std::fopen(path.c_str(), "wb");
        ASSERT_NE(f, nullptr);
        std::fwrite(bytes.data(), 1, bytes.size(), f);
        std::fclose(f);
    }
    // The three edits' texts, bias first.
    static std::vector<std::string> Texts(HWND dialog)
    {
        return {dd::TextOf(dialog, IDC_BIAS_EDIT), dd::TextOf(dialog, IDC_GAMMA_EDIT),
                dd::TextOf(dialog, IDC_CONTRAST_EDIT)};
    }
    std::string StoredPath()
    {
        DWORD type = 0;
        std::vector<uint8_t> bytes;
        if (!ReadFilterValue("Last settings path", &type, &bytes))
            return "";
        return std::string(reinterpret_cast<const char *>(bytes.data()));
    }

    std::string folder;
};

// What only the full host shows: the scaled reads of the document's channels.
class FullHostDialogTest : public DialogTest {};

// The source rectangle of the view, from the last paint's scaled reads: the
// view's read comes first, the renderer's read of the preview second.
std::string LastViewRead(const FilterHost &host)
{
    std::vector<std::string> reads;
    for (const HostEvent &e : host.events)
        if (e.kind == EventKind::Port && e.text.compare(0, 15, "scaled read Red") == 0)
            reads.push_back(e.text.substr(16, e.text.find(" ->") - 16));
    return reads.size() >= 2 ? reads[reads.size() - 2] : "";
}

std::string RectText(int top, int left, int bottom, int right)
{
    return "(" + std::to_string(top) + "," + std::to_string(left) + "," + std::to_string(bottom) + "," +
           std::to_string(right) + ")";
}

} // namespace

TEST_P(DialogTest, OpensOnTheLastValuesAndTakesTypedValuesByTheRules)
{
    ASSERT_TRUE(StoreFilterFloat("Last gamma", 2.0f));
    Document d = Photo();
    const RunReport report = RunDialog(d, [&](HWND dialog) {
        EXPECT_EQ(Texts(dialog), (std::vector<std::string>{"0.50", "2.00", "255"}));
        EXPECT_EQ(Position(dialog, IDC_GAMMA_SLIDER), 1000);
        EXPECT_EQ(SendDlgItemMessageA(dialog, IDC_VIEW_ORIGINAL, BM_GETCHECK, 0, 0), BST_CHECKED);

        dd::TypeInto(dialog, IDC_BIAS_EDIT, "0.29");
        EXPECT_EQ(Position(dialog, IDC_BIAS_SLIDER), 289);
        dd::TypeInto(dialog, IDC_GAMMA_EDIT, "3");
        EXPECT_EQ(Position(dialog, IDC_GAMMA_SLIDER), 0);
        const int beeps = host.imports.beeps;
        dd::TypeInto(dialog, IDC_GAMMA_EDIT, "3.5");  // "3" is taken, "3." and "3.5" too big
        EXPECT_EQ(host.imports.beeps, beeps + 1);
        EXPECT_EQ(Position(dialog, IDC_GAMMA_SLIDER), 0);
        EXPECT_EQ(dd::TextOf(dialog, IDC_GAMMA_EDIT), "3.5");
        dd::TypeInto(dialog, IDC_CONTRAST_EDIT, "128.7");
        EXPECT_EQ(Position(dialog, IDC_CONTRAST_SLIDER), 126);
        EXPECT_EQ(dd::TextOf(dialog, IDC_CONTRAST_EDIT), "128.7");
        const int before = host.imports.beeps;
        dd::TypeInto(dialog, IDC_BIAS_EDIT, "0");
        EXPECT_EQ(host.imports.beeps, before + 1);
        EXPECT_EQ(Position(dialog, IDC_BIAS_SLIDER), 289);
        dd::Click(dialog, IDOK);
    });
    EXPECT_EQ(report.result, 0);
    EXPECT_TRUE(report.finished);
    EXPECT_TRUE(report.Clean()) << (report.leaks.empty() ? "" : report.leaks[0]);
    // The values shown when OK was pressed are the run's and the next
    // dialog's.
    EXPECT_EQ(Stored("Last bias"), 0.29f);
    EXPECT_EQ(Stored("Last gamma"), 3.0f);
    EXPECT_EQ(Stored("Last contrast"), 128.7f);
}

TEST_P(DialogTest, SlidersByKeyboardAndThumbAndReset)
{
    Document d = Photo();
    const Document before = d;
    const RunReport report = RunDialog(d, [&](HWND dialog) {
        EXPECT_EQ(dd::DragSliderTo(dialog, IDC_BIAS_SLIDER, 0), 0);
        EXPECT_EQ(dd::TextOf(dialog, IDC_BIAS_EDIT), "0.00");
        // A pixel of the thumb's travel is many positions; the keys step by one.
        const int dragged = dd::DragSliderTo(dialog, IDC_BIAS_SLIDER, 1500);
        EXPECT_NEAR(dragged, 1500, 30);
        char text[16];
        std::snprintf(text, sizeof text, "%.2f", dragged * 0.001);
        EXPECT_EQ(dd::TextOf(dialog, IDC_BIAS_EDIT), text);
        dd::PressKey(dialog, IDC_BIAS_SLIDER, VK_HOME);
        for (int i = 0; i < 5; ++i)
            dd::PressKey(dialog, IDC_BIAS_SLIDER, VK_DOWN);
        EXPECT_EQ(Position(dialog, IDC_BIAS_SLIDER), 5);
        EXPECT_EQ(dd::TextOf(dialog, IDC_BIAS_EDIT), "0.01");  // 0.005 in double precision
        dd::PressKey(dialog, IDC_GAMMA_SLIDER, VK_END);  // the bottom: gamma 0
        EXPECT_EQ(Position(dialog, IDC_GAMMA_SLIDER), 3000);
        EXPECT_EQ(dd::TextOf(dialog, IDC_GAMMA_EDIT), "0.00");
        dd::PressKey(dialog, IDC_CONTRAST_SLIDER, VK_DOWN);
        EXPECT_EQ(Position(dialog, IDC_CONTRAST_SLIDER), 1);
        EXPECT_EQ(dd::TextOf(dialog, IDC_CONTRAST_EDIT), "254");
        // A slider that does not hold the focus changes nothing.
        SendMessageA(dialog, WM_VSCROLL, SB_THUMBTRACK, LPARAM(GetDlgItem(dialog, IDC_BIAS_SLIDER)));
        EXPECT_EQ(dd::TextOf(dialog, IDC_BIAS_EDIT), "0.01");

        dd::Click(dialog, IDC_RESET);
        EXPECT_EQ(Texts(dialog), (std::vector<std::string>{"0.50", "1.00", "255"}));
        EXPECT_EQ(Position(dialog, IDC_BIAS_SLIDER), 500);
        EXPECT_EQ(Position(dialog, IDC_GAMMA_SLIDER), 2000);
        EXPECT_EQ(Position(dialog, IDC_CONTRAST_SLIDER), 0);
        dd::Click(dialog, IDCANCEL);
    });
    // Cancel changes no pixel and stores nothing.
    EXPECT_EQ(report.result, 1);
    EXPECT_FALSE(report.finished);
    EXPECT_TRUE(report.Clean());
    EXPECT_TRUE(d.planes == before.planes);
    EXPECT_FALSE(FilterKeyExists() && Stored("Last bias") != -1);
}

TEST_P(DialogTest, EnterIsOkAndEscIsCancelWhileAnEditHasTheFocus)
{
    Document d = Photo();
    const Document before = d;
    RunReport report = RunDialog(d, [&](HWND dialog) {
        dd::TypeInto(dialog, IDC_GAMMA_EDIT, "1.5");
        dd::PostKey(dialog, VK_ESCAPE);
    });
    EXPECT_EQ(report.result, 1);
    EXPECT_TRUE(d.planes == before.planes);
    EXPECT_EQ(Stored("Last gamma"), -1.0f);

    report = RunDialog(d, [&](HWND dialog) {
        dd::TypeInto(dialog, IDC_GAMMA_EDIT, "1.5");
        EXPECT_EQ(GetFocus(), GetDlgItem(dialog, IDC_GAMMA_EDIT));
        dd::PostKey(dialog, VK_RETURN);
    });
    EXPECT_EQ(report.result, 0);
    EXPECT_TRUE(report.finished);
    EXPECT_FALSE(d.planes == before.planes);
    EXPECT_EQ(Stored("Last gamma"), 1.5f);
}

TEST_P(DialogTest, ZoomBeepsAtItsEndsAndTheViewsShowTheirImages)
{
    Document d = Photo();
    RunReport report = RunDialog(d, [&](HWND dialog) {
        ASSERT_GT(host.drawing.displayCount, 0);
        const std::vector<uint8_t> original = host.drawing.lastDisplay.image.rgb;
        dd::Click(dialog, IDC_VIEW_MASK);
        const DisplayedImage &mask = host.drawing.lastDisplay.image;
        bool grey = true;
        for (size_t i = 0; i + 2 < mask.rgb.size(); i += 3)
            grey = grey && mask.rgb[i] == mask.rgb[i + 1] && mask.rgb[i] == mask.rgb[i + 2];
        EXPECT_TRUE(grey);
        EXPECT_NE(mask.rgb, original);
        dd::Click(dialog, IDC_VIEW_ORIGINAL);
        EXPECT_EQ(host.drawing.lastDisplay.image.rgb, original);

        const int beeps = host.imports.beeps;
        dd::Click(dialog, IDC_ZOOM_OUT);  // at 1
        EXPECT_EQ(host.imports.beeps, beeps + 1);
        for (int i = 0; i < 6; ++i)
            dd::Click(dialog, IDC_ZOOM_IN);
        EXPECT_EQ(host.imports.beeps, beeps + 1);
        dd::Click(dialog, IDC_ZOOM_IN);  // at 7
        EXPECT_EQ(host.imports.beeps, beeps + 2);
        for (int i = 0; i < 4; ++i)
            dd::Click(dialog, IDC_ZOOM_OUT);
        dd::Click(dialog, IDC_VIEW_RESULT);
        dd::Click(dialog, IDCANCEL);
    });
    EXPECT_EQ(report.result, 1);

    // The next dialog of the same module opens at zoom 3, on "Original".
    report = RunDialog(d, [&](HWND dialog) {
        EXPECT_EQ(SendDlgItemMessageA(dialog, IDC_VIEW_ORIGINAL, BM_GETCHECK, 0, 0), BST_CHECKED);
        EXPECT_EQ(SendDlgItemMessageA(dialog, IDC_VIEW_RESULT, BM_GETCHECK, 0, 0), BST_UNCHECKED);
        const int beeps = host.imports.beeps;
        for (int i = 0; i < 4; ++i)
            dd::Click(dialog, IDC_ZOOM_IN);
        EXPECT_EQ(host.imports.beeps, beeps);
        dd::Click(dialog, IDC_ZOOM_IN);
        EXPECT_EQ(host.imports.beeps, beeps + 1);
        dd::Click(dialog, IDCANCEL);
    });
    EXPECT_EQ(report.result, 1);
}

TEST_P(FullHostDialogTest, DraggingStartsStrictlyInsideThePreviewAndMovesTheView)
{
    Document d = Photo(2048, 1024);
    const RunReport report = RunDialog(d, [&](HWND dialog) {
        RECT area = {};
        GetWindowRect(GetDlgItem(dialog, IDC_PREVIEW), &area);
        POINT origin = {0, 0};
        ClientToScreen(dialog, &origin);
        const int left = area.left - origin.x, top = area.top - origin.y;
        const int right = area.right - origin.x, bottom = area.bottom - origin.y;
        const int midX = (left + right) / 2, midY = (top + bottom) / 2;

        for (POINT edge : {POINT{left, midY}, POINT{midX, top}}) {
            dd::MouseDown(dialog, edge);
            EXPECT_NE(GetCapture(), dialog) << edge.x << "," << edge.y;
            dd::MouseUp(dialog, edge);
        }
        dd::MouseDown(dialog, POINT{right - 1, bottom - 1});
        EXPECT_EQ(GetCapture(), dialog);
        dd::MouseUp(dialog, POINT{right - 1, bottom - 1});
        EXPECT_EQ(GetCapture(), nullptr);

        // At zoom 3 the view covers a fifth of the document around its middle.
        dd::Click(dialog, IDC_ZOOM_IN);
        dd::Click(dialog, IDC_ZOOM_IN);
        EXPECT_EQ(LastViewRead(host), RectText(409, 819, 614, 1228));
        // Ten pixels to the right in one move: the view moves left by ten
        // preview pixels' worth of document, truncated once.
        const int pw = right - left;  // the wide document spans the area's width
        dd::Drag(dialog, POINT{midX, midY}, POINT{midX + 10, midY}, 1);
        const int centre = int(1024 + 2048.0 / 5.0 / pw * -10.0);
        EXPECT_EQ(LastViewRead(host), RectText(409, int(centre - 204.8), 614, int(centre + 204.8)));
        dd::Click(dialog, IDCANCEL);
    });
    EXPECT_EQ(report.result, 1);
    EXPECT_TRUE(report.Clean());

    // The next dialog of the module opens on the same view.
    const std::string moved = LastViewRead(host);
    host.events.clear();
    RunDialog(d, [&](HWND dialog) {
        EXPECT_EQ(LastViewRead(host), moved);
        dd::Click(dialog, IDCANCEL);
    });
}

TEST_P(DialogTest, HelpOpensThePageBesideTheModule)
{
    Document d = Photo();
    RunDialog(d, [&](HWND dialog) {
        dd::Click(dialog, IDC_HELP_BUTTON);
        ASSERT_EQ(host.imports.shellCalls.size(), 1u);
        const ShellCall &call = host.imports.shellCalls[0];
        EXPECT_EQ(call.owner, dialog);
        EXPECT_EQ(call.verb, "open");
        EXPECT_EQ(call.file, "Umbrolux.htm");
        EXPECT_EQ(call.parameters, "");
        EXPECT_EQ(call.show, SW_SHOW);
        const std::string module = ModulePath();
        EXPECT_EQ(call.folder, module.substr(0, module.find_last_of('\\')));
        dd::Click(dialog, IDCANCEL);
    });
    EXPECT_NE(GetFileAttributesA(BesideTests("Umbrolux.htm").c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST_P(DialogTest, SavesSettingsFilesThroughTheFileDialog)
{
    Document d = Photo();
    CreateDirectoryA((folder + "\\x.ulx").c_str(), nullptr);
    RunDialog(d, [&](HWND dialog) {
        dd::Click(dialog, IDC_RESET);
        host.windows.fileDialogAnswers = {folder + "\\b", folder + "\\b.ULX", folder + "\\x.ulx\\b"};
        for (int i = 0; i < 3; ++i)
            dd::Click(dialog, IDC_SAVE);
        EXPECT_EQ(FileBytes(folder + "\\b.ulx"),
                  (std::vector<uint8_t>{0x55, 0x4D, 0x4C, 0x58, 0, 0, 0, 0x3F, 0, 0, 0x80, 0x3F, 0, 0, 0x7F, 0x43}));
        EXPECT_EQ(FileBytes(folder + "\\b.ULX.ulx").size(), 16u);
        EXPECT_EQ(FileBytes(folder + "\\x.ulx\\b").size(), 16u);  // ".ulx" already in the path
        EXPECT_EQ(StoredPath(), folder + "\\x.ulx\\b");

        // Over an existing file: the platform asks first, then the file is
        // replaced; the dialog opened on the last path.
        dd::TypeInto(dialog, IDC_BIAS_EDIT, "2");
        WriteBytes(folder + "\\b.ulx", std::vector<uint8_t>(40, 7));
        host.windows.fileDialogAnswers = {folder + "\\b.ulx"};
        dd::Click(dialog, IDC_SAVE);
        ASSERT_EQ(host.windows.fileDialogs.size(), 4u);
        EXPECT_NE(host.windows.fileDialogs[3].fileName.find("b"), std::string::npos);
        // The platform's overwrite question (which Wine asks twice), answered Yes.
        ASSERT_FALSE(host.windows.messageBoxes.empty());
        for (const MessageBoxSeen &question : host.windows.messageBoxes)
            EXPECT_NE(question.text.find("already exists"), std::string::npos) << question.text;
        EXPECT_EQ(FileBytes(folder + "\\b.ulx"),
                  (std::vector<uint8_t>{0x55, 0x4D, 0x4C, 0x58, 0, 0, 0, 0x40, 0, 0, 0x80, 0x3F, 0, 0, 0x7F, 0x43}));
        EXPECT_EQ(StoredPath(), folder + "\\b.ulx");

        // A file another program holds open without sharing.
        HANDLE held = CreateFileA((folder + "\\held.ulx").c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                  CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(held, INVALID_HANDLE_VALUE);
        host.windows.messageBoxAnswers = {IDYES};  // it exists: replace it
        host.windows.fileDialogAnswers = {folder + "\\held.ulx"};
        dd::Click(dialog, IDC_SAVE);
        const MessageBoxSeen &box = host.windows.messageBoxes.back();
        EXPECT_EQ(box.text, "Cannot save settings");
        EXPECT_EQ(box.caption, "Error");
        EXPECT_EQ(box.icon, MessageBoxIcon::Error);
        EXPECT_EQ(box.owner, dialog);
        EXPECT_EQ(StoredPath(), folder + "\\b.ulx");
        host.windows.fileDialogAnswers = {folder + "\\held.ulx"};
        dd::Click(dialog, IDC_LOAD);
        EXPECT_EQ(host.windows.messageBoxes.back().text, "Cannot load settings");
        CloseHandle(held);
        dd::Click(dialog, IDCANCEL);
    });
}

TEST_P(DialogTest, LoadsSettingsFilesAndRefusesOthers)
{
    Document d = Photo();
    WriteBytes(folder + "\\eight.ulx", {'U', 'M', 'L', 'X', 0, 0, 0xA0, 0x3F});  // bias 1.25 alone
    WriteBytes(folder + "\\empty.ulx", {});
    WriteBytes(folder + "\\foreign.ulx", {'P', 'N', 'G', ' ', 0, 0, 0, 0x40, 0, 0, 0, 0x40, 0, 0, 0, 0x40});
    RunDialog(d, [&](HWND dialog) {
        dd::TypeInto(dialog, IDC_GAMMA_EDIT, "2.5");
        host.windows.fileDialogAnswers = {folder + "\\eight.ulx"};
        dd::Click(dialog, IDC_LOAD);
        EXPECT_EQ(Texts(dialog), (std::vector<std::string>{"1.25", "2.50", "255"}));
        EXPECT_EQ(Position(dialog, IDC_BIAS_SLIDER), 1250);
        EXPECT_EQ(StoredPath(), folder + "\\eight.ulx");

        for (const char *name : {"\\empty.ulx", "\\foreign.ulx"}) {
            host.windows.fileDialogAnswers = {folder + name};
            dd::Click(dialog, IDC_LOAD);
            ASSERT_FALSE(host.windows.messageBoxes.empty()) << name;
            EXPECT_EQ(host.windows.messageBoxes.back().text, "The file is not a valid setting file.");
            EXPECT_EQ(host.windows.messageBoxes.back().icon, MessageBoxIcon::Error);
            EXPECT_EQ(Texts(dialog), (std::vector<std::string>{"1.25", "2.50", "255"})) << name;
        }
        EXPECT_EQ(StoredPath(), folder + "\\eight.ulx");

        // A name without the extension opens the name with it.
        host.windows.fileDialogAnswers = {folder + "\\eight"};
        WriteBytes(folder + "\\eight", {});
        dd::TypeInto(dialog, IDC_BIAS_EDIT, "3");
        dd::Click(dialog, IDC_LOAD);
        EXPECT_EQ(dd::TextOf(dialog, IDC_BIAS_EDIT), "1.25");

        // A cancelled Load still writes the edits afresh from the values.
        dd::TypeInto(dialog, IDC_BIAS_EDIT, "1.5");
        EXPECT_EQ(dd::TextOf(dialog, IDC_BIAS_EDIT), "1.5");
        host.windows.fileDialogAnswers = {""};
        dd::Click(dialog, IDC_LOAD);
        EXPECT_EQ(dd::TextOf(dialog, IDC_BIAS_EDIT), "1.50");
        dd::Click(dialog, IDCANCEL);
    });
}

// What a careless host or a damaged registry gives the dialog: it still
// works, and nothing is read, drawn or converted that should not be.
TEST_P(DialogTest, WorksWithoutPreviewBuffers)
{
    Document d = Photo();
    host.behaviour.failBufferAllocation = true;
    const RunReport report = RunDialog(d, [&](HWND dialog) {
        dd::Click(dialog, IDC_VIEW_MASK);
        dd::Click(dialog, IDC_ZOOM_IN);
        dd::TypeInto(dialog, IDC_GAMMA_EDIT, "2");
        EXPECT_EQ(Position(dialog, IDC_GAMMA_SLIDER), 1000);
        EXPECT_EQ(host.drawing.displayCount, 0);  // the preview area stays empty
        dd::Click(dialog, IDCANCEL);
    });
    EXPECT_EQ(report.result, 1);
    EXPECT_TRUE(report.Clean());
    EXPECT_EQ(host.CountEvents(EventKind::Failure, ""), 0u);
}

// Without the document's description (and so without scaled reads of its
// channels), and in a plain host, the preview reads the image data that
// advanceState delivers, in bands of whole rows with all three planes, and
// shows exactly what the full host shows, in every view, zoomed and dragged:
// on the bundled photograph and on a larger document that the full host
// reduces through its pyramid.
TEST_P(FullHostDialogTest, WithoutTheDocumentsDescriptionThePreviewReadsDeliveredImageData)
{
    ASSERT_TRUE(StoreFilterFloat("Last gamma", 2.0f));
    Document photo;
    std::string error;
    ASSERT_TRUE(LoadImageFile(BesideTests("cliff-backlit-500x420.png"), &photo, &error)) << error;
    for (Document d : {photo, Photo(1100, 700)}) {
        auto shown = [&](HostProfile profile, bool described) {
            host.behaviour.profile = profile;
            host.behaviour.noDocumentInfo = !described;
            host.events.clear();
            std::vector<std::vector<uint8_t>> images;
            const RunReport report = RunDialog(d, [&](HWND dialog) {
                RECT area = {};
                GetWindowRect(GetDlgItem(dialog, IDC_PREVIEW), &area);
                POINT origin = {0, 0};
                ClientToScreen(dialog, &origin);
                const int midX = (area.left + area.right) / 2 - origin.x;
                const int midY = (area.top + area.bottom) / 2 - origin.y;
                for (int zoom = 0; zoom < 2; ++zoom) {
                    for (int view : {IDC_VIEW_ORIGINAL, IDC_VIEW_MASK, IDC_VIEW_RESULT}) {
                        dd::Click(dialog, view);
                        images.push_back(host.drawing.lastDisplay.image.rgb);
                    }
                    for (int i = 0; i < 6; ++i)
                        dd::Click(dialog, IDC_ZOOM_IN);
                    dd::Drag(dialog, POINT{midX, midY}, POINT{midX + 37, midY - 23}, 3);
                }
                dd::TypeInto(dialog, IDC_BIAS_EDIT, "1.3");
                images.push_back(host.drawing.lastDisplay.image.rgb);
                for (int i = 0; i < 6; ++i)
                    dd::Click(dialog, IDC_ZOOM_OUT);
                dd::Click(dialog, IDCANCEL);
            });
            EXPECT_EQ(report.result, 1);
            EXPECT_TRUE(report.Clean());
            EXPECT_EQ(host.CountEvents(EventKind::Failure, ""), 0u);
            return images;
        };
        const auto withPorts = shown(HostProfile::Full, true);
        EXPECT_EQ(host.CountEvents(EventKind::Advance, ""), 0u);
        for (HostProfile other : {HostProfile::Full, HostProfile::Plain}) {
            const auto delivered = shown(other, false);
            ASSERT_EQ(delivered.size(), withPorts.size());
            for (size_t i = 0; i < delivered.size(); ++i) {
                EXPECT_FALSE(delivered[i].empty()) << i;
                EXPECT_TRUE(delivered[i] == withPorts[i]) << d.width << " x " << d.height << ", image " << i;
            }
            // Every request takes all three planes and asks for no output.
            size_t requests = 0;
            for (const HostEvent &e : host.events)
                if (e.kind == EventKind::Advance && e.text.compare(0, 3, "in ") == 0) {
                    ++requests;
                    EXPECT_NE(e.text.find(" out (0,0,0,0) mask (0,0,0,0) planes 0..2"), std::string::npos) << e.text;
                }
            EXPECT_GT(requests, 0u);
        }
    }
}

TEST_P(DialogTest, StoredValuesOutsideTheRangesShowTheSlidersEnds)
{
    const float nan = std::numeric_limits<float>::quiet_NaN();
    ASSERT_TRUE(StoreFilterFloat("Last bias", 7.5f));
    ASSERT_TRUE(StoreFilterFloat("Last gamma", std::numeric_limits<float>::infinity()));
    ASSERT_TRUE(StoreFilterFloat("Last contrast", nan));
    Document d = Photo();
    RunDialog(d, [&](HWND dialog) {
        EXPECT_EQ(Position(dialog, IDC_BIAS_SLIDER), 3000);
        EXPECT_EQ(Position(dialog, IDC_GAMMA_SLIDER), 0);
        EXPECT_EQ(Position(dialog, IDC_CONTRAST_SLIDER), 0);
        EXPECT_EQ(dd::TextOf(dialog, IDC_BIAS_EDIT), "7.50");
        EXPECT_EQ(dd::TextOf(dialog, IDC_GAMMA_EDIT), "inf");
        EXPECT_EQ(dd::TextOf(dialog, IDC_CONTRAST_EDIT), "nan");
        dd::Click(dialog, IDCANCEL);
    });
}

// The preview of the bundled photograph at zoom 1, as it appears on the
// screen in each view, against the images committed when it was first
// right; and the Result and Mask views against the renderer's effect
// computed afresh from the Original view.
TEST_P(DialogTest, ThePreviewOnTheScreenInEachView)
{
    ASSERT_TRUE(StoreFilterFloat("Last gamma", 2.0f));
    Document photo;
    std::string error;
    ASSERT_TRUE(LoadImageFile(BesideTests("cliff-backlit-500x420.png"), &photo, &error)) << error;
    std::vector<DisplayedImage> drawn;
    RunDialog(photo, [&](HWND dialog) {
        for (int view : {IDC_VIEW_ORIGINAL, IDC_VIEW_MASK, IDC_VIEW_RESULT}) {
            dd::Click(dialog, view);
            drawn.push_back(host.drawing.lastDisplay.image);
            // The image and its frame, cut from the screen.
            const auto &shown = host.drawing.lastDisplay;
            Document cut;
            ASSERT_TRUE(ClientAreaOnScreen(dialog,
                                           RECT{shown.column - 3, shown.row - 3, shown.column + shown.image.width + 3,
                                                shown.row + shown.image.height + 3},
                                           &cut));
            const char *name = view == IDC_VIEW_ORIGINAL ? "original" : view == IDC_VIEW_MASK ? "mask" : "result";
            const std::string reference = BesideTests(std::string("reference\\preview-") + name + ".png");
            if (const char *update = std::getenv("UMBROLUX_WRITE_REFERENCES")) {
                ASSERT_TRUE(SaveImageFile(std::string(update) + "\\preview-" + name + ".png", cut, &error)) << error;
                continue;
            }
            Document expected;
            ASSERT_TRUE(LoadImageFile(reference, &expected, &error)) << error;
            EXPECT_EQ(cut.width, expected.width) << name;
            EXPECT_EQ(cut.height, expected.height) << name;
            EXPECT_TRUE(cut.planes == expected.planes) << name;
        }
        dd::Click(dialog, IDCANCEL);
    });
    ASSERT_EQ(drawn.size(), 3u);
    Pixels original(drawn[0].width, drawn[0].height, false, 0);
    original.samples.assign(drawn[0].rgb.begin(), drawn[0].rgb.end());
    const Expected effect = Compose(original, FilterSettings{0.5f, 2.0f, 255.0f}, kBlurAndMedian);
    EXPECT_EQ(drawn[1].rgb, effect.mask);
    EXPECT_TRUE(std::equal(drawn[2].rgb.begin(), drawn[2].rgb.end(), effect.result.begin(), effect.result.end()));
}

// A paint redoes only what its change needs: gamma and contrast only blend
// again (no read of the document, no host filter), the bias makes the mask
// again, another view reads the document again; and what the shortcut
// shows is what a dialog opened on the same values shows.
TEST_P(DialogTest, APaintRedoesOnlyWhatItsChangeNeeds)
{
    Document d = Photo(160, 100);
    ASSERT_TRUE(StoreFilterFloat("Last gamma", 1.5f));
    DisplayedImage shortcut;
    // The document is read through scaled reads in the full host and
    // through delivered rows in a plain one; only the full host applies
    // filters that can be counted.
    const bool full = GetParam() == HostProfile::Full;
    auto count = [&](const char *prefix) {
        if (std::string(prefix) == "scaled read" && !full)
            return host.CountEvents(EventKind::Advance, "in ");
        return host.CountEvents(EventKind::Port, prefix);
    };
    RunReport report = RunDialog(d, [&](HWND dialog) {
        dd::Settle(dialog);
        const size_t reads = count("scaled read"), filters = count("apply");
        ASSERT_EQ(filters > 0u, full);
        dd::PressKey(dialog, IDC_GAMMA_SLIDER, VK_UP);
        dd::PressKey(dialog, IDC_CONTRAST_SLIDER, VK_DOWN);
        dd::Settle(dialog);
        EXPECT_EQ(count("scaled read"), reads);
        EXPECT_EQ(count("apply"), filters);
        shortcut = host.drawing.lastDisplay.image;
        dd::Click(dialog, IDOK);
    });
    ASSERT_EQ(report.result, 0);
    ASSERT_FALSE(shortcut.rgb.empty());

    d = Photo(160, 100);
    report = RunDialog(d, [&](HWND dialog) {
        dd::Settle(dialog);
        EXPECT_EQ(host.drawing.lastDisplay.image.rgb, shortcut.rgb) << "the same values painted from the start";
        const size_t reads = count("scaled read"), filters = count("apply");
        dd::PressKey(dialog, IDC_BIAS_SLIDER, VK_UP);
        dd::Settle(dialog);
        EXPECT_EQ(count("apply"), filters + (full ? 2 : 0));  // the blur and the median, once
        dd::Click(dialog, IDC_ZOOM_IN);
        dd::Settle(dialog);
        EXPECT_GT(count("scaled read"), reads);
        dd::Click(dialog, IDCANCEL);
    });
    EXPECT_EQ(report.result, 1);
}

INSTANTIATE_TEST_SUITE_P(Hosts, DialogTest, ::testing::Values(HostProfile::Full, HostProfile::Plain),
                         [](const ::testing::TestParamInfo<HostProfile> &info) {
                             return std::string(info.param == HostProfile::Full ? "Full" : "Plain");
                         });
INSTANTIATE_TEST_SUITE_P(Hosts, FullHostDialogTest, ::testing::Values(HostProfile::Full),
                         [](const ::testing::TestParamInfo<HostProfile> &) { return std::string("Full"); });
