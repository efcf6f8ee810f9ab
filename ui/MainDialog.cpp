#include "ui/MainDialog.h"

#include <commctrl.h>
#include <shellapi.h>

#include <cstring>
#include <new>

#include "plugin/FilterContext.h"
#include "resources/ResourceIds.h"
#include "settings/RegistryKey.h"
#include "settings/SettingsFile.h"
#include "ui/ToneControls.h"

namespace {

// The context of the dialog under way, through which every message reaches
// the filter's state.
FilterContext *dialogContext = nullptr;

// The drag state, kept for the module's lifetime: whether a drag is under
// way, where the last press was (client coordinates), and the mouse's
// displacement summed over all finished drags.
int32_t dragging = 0;
int32_t dragStartX = 0;
int32_t dragStartY = 0;
int32_t dragBaseX = 0;
int32_t dragBaseY = 0;

const DWORD kSimpleBeep = 0xFFFFFFFF;

// How the dialog under way ended, as the dialog itself ended it: 0 until
// then. The dialog manager's own answer is not trusted for this: a loop
// that ends on a quit message answers as though OK had been pressed.
int dialogOutcome = 0;

// A GDI bitmap, deleted with its owner.
class OwnedBitmap {
public:
    OwnedBitmap() = default;
    ~OwnedBitmap() { Reset(nullptr); }
    OwnedBitmap(const OwnedBitmap &) = delete;
    OwnedBitmap &operator=(const OwnedBitmap &) = delete;

    HBITMAP Get() const { return bitmap_; }
    void Reset(HBITMAP bitmap)
    {
        if (bitmap_ != nullptr && bitmap_ != bitmap)
            DeleteObject(bitmap_);
        bitmap_ = bitmap;
    }

private:
    HBITMAP bitmap_ = nullptr;
};

// The logo the dialog under way shows: the module's own, so that it goes
// when the dialog goes. The picture control loads an image of its own from
// the template, which it never frees on some platforms; the dialog takes it
// from the control and frees it too.
OwnedBitmap logo;

// The template's picture control (a static control showing a bitmap; it
// has no id of its own).
HWND LogoControl(HWND window)
{
    for (HWND child = GetWindow(window, GW_CHILD); child != nullptr; child = GetWindow(child, GW_HWNDNEXT)) {
        char name[16] = {};
        GetClassNameA(child, name, sizeof name);
        if (lstrcmpiA(name, "Static") == 0 && (GetWindowLongA(child, GWL_STYLE) & SS_TYPEMASK) == SS_BITMAP)
            return child;
    }
    return nullptr;
}

// Gives the control the module's logo in place of the image it loaded.
void ShowLogo(HWND window)
{
    HWND control = LogoControl(window);
    if (control == nullptr)
        return;
    logo.Reset(static_cast<HBITMAP>(
        LoadImageA(dialogContext->moduleInstance, MAKEINTRESOURCEA(IDB_LOGO), IMAGE_BITMAP, 0, 0, LR_DEFAULTCOLOR)));
    if (logo.Get() == nullptr)
        return;  // the control keeps its own, which the dialog's end frees
    const HGDIOBJ previous =
        reinterpret_cast<HGDIOBJ>(SendMessageA(control, STM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(logo.Get())));
    if (previous != nullptr && previous != logo.Get())
        DeleteObject(previous);
}

// Takes whatever image the control holds (the logo, a copy the control
// made of it, or the template's) and frees it with the logo.
void ReleaseLogo(HWND window)
{
    if (HWND control = LogoControl(window)) {
        const HGDIOBJ held = reinterpret_cast<HGDIOBJ>(SendMessageA(control, STM_SETIMAGE, IMAGE_BITMAP, 0));
        if (held != nullptr && held != logo.Get())
            DeleteObject(held);
    }
    logo.Reset(nullptr);
}

void EndWith(HWND window, int outcome)
{
    dialogOutcome = outcome;
    EndDialog(window, outcome);
}

void Redraw(HWND window)
{
    InvalidateRect(window, nullptr, FALSE);
}

void SetEditText(HWND window, Tone tone, double value)
{
    char text[64];
    FormatValue(tone, value, text, sizeof text);
    SetDlgItemTextA(window, ControlFor(tone).editId, text);
}

void SetSliderPosition(HWND window, Tone tone, float value)
{
    SendDlgItemMessageA(window, ControlFor(tone).sliderId, TBM_SETPOS, TRUE, PositionFromValue(tone, value));
}

// Edits, then sliders, from the current values; then the preview.
void RefreshAll(HWND window)
{
    FilterSettings &settings = dialogContext->settings;
    for (Tone tone : kTones)
        SetEditText(window, tone, SettingFor(settings, tone));
    for (Tone tone : kTones)
        SetSliderPosition(window, tone, SettingFor(settings, tone));
    Redraw(window);
}

void Initialise(HWND window, LPARAM lParam)
{
    dialogContext = reinterpret_cast<FilterContext *>(lParam);
    FilterContext &context = *dialogContext;

    RECT area = {};
    GetWindowRect(GetDlgItem(window, IDC_PREVIEW), &area);
    const int16_t width = static_cast<int16_t>(area.right - area.left);
    const int16_t height = static_cast<int16_t>(area.bottom - area.top);
    context.previewRect = Rect{0, 0, height, width};
    // Computed in 64 bits: an area too large for the buffer suite's 32-bit
    // sizes gets no buffers (and so no preview) rather than a wrapped size.
    const int64_t bytes = int64_t(height) * int64_t(width) * 3;
    context.AllocatePreviewBuffers(bytes > INT32_MAX ? 0 : int32_t(bytes));

    ShowLogo(window);
    CheckRadioButton(window, IDC_VIEW_ORIGINAL, IDC_VIEW_RESULT, IDC_VIEW_ORIGINAL);
    context.previewShown = context.previewOriginal;

    RegistryKey key(kRegistryPath);
    context.settings.bias = key.ReadFloat(kLastBias, kDefaultBias);
    context.settings.gamma = key.ReadFloat(kLastGamma, kDefaultGamma);
    context.settings.contrast = key.ReadFloat(kLastContrast, kDefaultContrast);
    key.Close();

    for (Tone tone : kTones) {
        const ToneControl &control = ControlFor(tone);
        const float value = SettingFor(context.settings, tone);
        SendDlgItemMessageA(window, control.sliderId, TBM_SETRANGE, FALSE, MAKELPARAM(0, control.maxPosition));
        SetSliderPosition(window, tone, value);
        SendDlgItemMessageA(window, control.sliderId, TBM_SETTICFREQ, control.tickFrequency, 0);
        SetEditText(window, tone, value);
    }
    context.PaintPreview(window);
}

// A typed value, taken only from the edit that holds the focus: the texts
// the dialog writes itself never feed back.
void TakeEditValue(HWND window, Tone tone)
{
    const ToneControl &control = ControlFor(tone);
    if (GetFocus() != GetDlgItem(window, control.editId))
        return;
    char text[32] = {};
    GetDlgItemTextA(window, control.editId, text, sizeof text);
    float value = 0;
    if (!TakeTypedValue(tone, text, &value)) {
        MessageBeep(kSimpleBeep);
        return;
    }
    SettingFor(dialogContext->settings, tone) = value;
    SetSliderPosition(window, tone, value);
    Redraw(window);
}

void OpenHelp(HWND window)
{
    char folder[256 + 1] = {};
    GetModuleFileNameA(dialogContext->moduleInstance, folder, 256);
    if (char *slash = std::strrchr(folder, '\\'))
        *slash = '\0';
    ShellExecuteA(window, "open", "Umbrolux.htm", nullptr, folder, SW_SHOW);
}

void RunSettingsFile(HWND window, bool load)
{
    SettingsFile file(window, kRegistryPath, kSettingsDescription, kSettingsPattern, kSettingsMagic);
    if (load) {
        file.Load(&dialogContext->settings, sizeof(FilterSettings));
        RefreshAll(window);
    } else {
        file.Save(&dialogContext->settings, sizeof(FilterSettings));
    }
}

void Command(HWND window, int id, int code)
{
    FilterContext &context = *dialogContext;
    switch (id) {
    case IDOK:
    case IDCANCEL:
        if (code == 0) {
            context.FreePreviewBuffers();
            EndWith(window, id);
        }
        break;
    case IDC_ZOOM_OUT:
        if (context.zoom - 1.0f < 1.0f) {
            MessageBeep(kSimpleBeep);
        } else {
            context.zoom -= 1.0f;
            Redraw(window);
        }
        break;
    case IDC_ZOOM_IN:
        if (context.zoom > 6.0f) {
            MessageBeep(kSimpleBeep);
        } else {
            context.zoom += 1.0f;
            Redraw(window);
        }
        break;
    case IDC_VIEW_ORIGINAL:
    case IDC_VIEW_MASK:
    case IDC_VIEW_RESULT:
        context.previewShown = id == IDC_VIEW_ORIGINAL ? context.previewOriginal
                               : id == IDC_VIEW_MASK   ? context.previewMask
                                                       : context.previewResult;
        Redraw(window);
        break;
    case IDC_LOAD:
        RunSettingsFile(window, true);
        break;
    case IDC_SAVE:
        RunSettingsFile(window, false);
        break;
    case IDC_HELP_BUTTON:
        OpenHelp(window);
        break;
    case IDC_RESET:
        context.settings = FilterSettings{kDefaultBias, kDefaultGamma, kDefaultContrast};
        RefreshAll(window);
        break;
    case IDC_BIAS_EDIT:
    case IDC_GAMMA_EDIT:
    case IDC_CONTRAST_EDIT:
        if (code == EN_CHANGE)
            TakeEditValue(window, id == IDC_BIAS_EDIT ? Tone::Bias : id == IDC_GAMMA_EDIT ? Tone::Gamma : Tone::Contrast);
        break;
    default:
        break;
    }
}

// A move of the slider that holds the focus, whatever the scroll code.
void SliderMoved(HWND window, HWND slider)
{
    for (Tone tone : kTones) {
        const ToneControl &control = ControlFor(tone);
        if (slider != GetDlgItem(window, control.sliderId) || GetFocus() != slider)
            continue;
        const int32_t position = int32_t(SendMessageA(slider, TBM_GETPOS, 0, 0));
        const double value = ValueFromPosition(tone, position);
        SettingFor(dialogContext->settings, tone) = static_cast<float>(value);
        SetEditText(window, tone, value);
        Redraw(window);
    }
}

void ButtonDown(HWND window, int32_t x, int32_t y)
{
    dragStartX = x;
    dragStartY = y;
    POINT origin = {0, 0};
    ClientToScreen(window, &origin);
    const int32_t screenX = x + origin.x, screenY = y + origin.y;
    RECT area = {};
    GetWindowRect(GetDlgItem(window, IDC_PREVIEW), &area);
    if (area.left < screenX && screenX < area.right && area.top < screenY && screenY < area.bottom) {
        dragging = 1;
        SetCapture(window);
    }
}

void MouseMoved(HWND window, int32_t x, int32_t y)
{
    if (!dragging)
        return;
    dialogContext->panX = dragBaseX + x - dragStartX;
    dialogContext->panY = dragBaseY + y - dragStartY;
    Redraw(window);
}

void ButtonUp(int32_t x, int32_t y)
{
    if (!dragging)
        return;
    dragBaseX += x - dragStartX;
    dragBaseY += y - dragStartY;
    dragging = 0;
    ReleaseCapture();
}

} // namespace

namespace {

INT_PTR HandleMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    const int32_t x = static_cast<int16_t>(LOWORD(lParam));
    const int32_t y = static_cast<int16_t>(HIWORD(lParam));
    // However the dialog ends, its window goes, and the logo with it.
    if (message == WM_DESTROY) {
        ReleaseLogo(window);
        return 0;
    }
    // Nothing is acted on before the dialog knows its context.
    if (dialogContext == nullptr && message != WM_INITDIALOG)
        return message == WM_COMMAND || message == WM_VSCROLL || message == WM_MOUSEMOVE ||
               message == WM_LBUTTONDOWN || message == WM_LBUTTONUP;
    switch (message) {
    case WM_INITDIALOG:
        Initialise(window, lParam);
        return 0;
    case WM_PAINT:
        dialogContext->PaintPreview(window);
        return 0;
    case WM_COMMAND:
        Command(window, LOWORD(wParam), HIWORD(wParam));
        return 1;
    case WM_VSCROLL:
        SliderMoved(window, reinterpret_cast<HWND>(lParam));
        return 1;
    case WM_LBUTTONDOWN:
        ButtonDown(window, x, y);
        return 1;
    case WM_MOUSEMOVE:
        MouseMoved(window, x, y);
        return 1;
    case WM_LBUTTONUP:
        ButtonUp(x, y);
        return 1;
    default:
        return 0;
    }
}

} // namespace

// Nothing may unwind into the platform's dialog manager: a failure ends the
// dialog, and the start call reports it to the host.
INT_PTR CALLBACK MainDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    try {
        return HandleMessage(window, message, wParam, lParam);
    } catch (const std::bad_alloc &) {
        EndWith(window, kDialogOutOfMemory);
    } catch (...) {
        EndWith(window, kDialogFailed);
    }
    return 1;
}

int RunMainDialog(FilterContext &context, HWND ownerWindow)
{
    // The sliders are the common controls' trackbars.
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_BAR_CLASSES};
    InitCommonControlsEx(&controls);
    dialogOutcome = 0;
    const INT_PTR answer = DialogBoxParamA(context.moduleInstance, MAKEINTRESOURCEA(IDD_MAIN), ownerWindow,
                                           MainDialogProc, reinterpret_cast<LPARAM>(&context));
    return answer == -1 ? -1 : dialogOutcome;
}
