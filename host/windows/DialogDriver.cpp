#include "host/windows/DialogDriver.h"

#include <commctrl.h>

#include <cstdlib>
#include <vector>

#include "host/core/Document.h"

namespace dialog_driver {

void Settle(HWND dialog)
{
    RedrawWindow(dialog, nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
}

void TypeInto(HWND dialog, int editId, const std::string &text)
{
    HWND edit = GetDlgItem(dialog, editId);
    SetFocus(edit);
    SendMessageA(edit, EM_SETSEL, 0, -1);
    if (text.empty())
        SendMessageA(edit, WM_CHAR, VK_BACK, 0);
    for (char ch : text) {
        SendMessageA(edit, WM_CHAR, static_cast<WPARAM>(static_cast<unsigned char>(ch)), 1);
        Settle(dialog);
    }
    Settle(dialog);
}

void PressKey(HWND dialog, int controlId, UINT virtualKey)
{
    HWND control = GetDlgItem(dialog, controlId);
    SetFocus(control);
    SendMessageA(control, WM_KEYDOWN, virtualKey, 1);
    SendMessageA(control, WM_KEYUP, virtualKey, 0xC0000001);
    Settle(dialog);
}

void Click(HWND dialog, int controlId)
{
    SendMessageA(GetDlgItem(dialog, controlId), BM_CLICK, 0, 0);
    Settle(dialog);
}

int DragSliderTo(HWND dialog, int sliderId, int position)
{
    HWND slider = GetDlgItem(dialog, sliderId);
    RECT thumb = {}, channel = {};
    SendMessageA(slider, TBM_GETTHUMBRECT, 0, reinterpret_cast<LPARAM>(&thumb));
    SendMessageA(slider, TBM_GETCHANNELRECT, 0, reinterpret_cast<LPARAM>(&channel));
    const int low = int(SendMessageA(slider, TBM_GETRANGEMIN, 0, 0));
    const int high = int(SendMessageA(slider, TBM_GETRANGEMAX, 0, 0));
    const int x = (thumb.left + thumb.right) / 2;
    const int grabY = (thumb.top + thumb.bottom) / 2;
    // The channel runs along the slider's length; some versions of the
    // control report a vertical one as if it lay horizontally.
    const bool sideways = channel.right - channel.left > channel.bottom - channel.top;
    const int first = sideways ? channel.left : channel.top, last = sideways ? channel.right : channel.bottom;
    SendMessageA(slider, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(x, grabY));
    // Move the pointer a pixel at a time until the thumb stands at the
    // position, or as near to it as a pixel of the channel allows.
    int y = first + int((long long)(position - low) * (last - first) / (high > low ? high - low : 1));
    auto moveTo = [&](int toY) {
        SendMessageA(slider, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(x, toY));
        Settle(dialog);
        return int(SendMessageA(slider, TBM_GETPOS, 0, 0));
    };
    int current = moveTo(y);
    for (int attempt = 0; attempt < 64 && current != position; ++attempt) {
        const int step = current < position ? 1 : -1;
        const int next = moveTo(y + step);
        if ((next - position) * (current - position) < 0) {  // stepped over it
            if (std::abs(next - position) > std::abs(current - position))
                moveTo(y);
            else
                y += step;
            break;
        }
        y += step;
        current = next;
    }
    SendMessageA(slider, WM_LBUTTONUP, 0, MAKELPARAM(x, y));
    Settle(dialog);
    return int(SendMessageA(slider, TBM_GETPOS, 0, 0));
}

void MouseDown(HWND dialog, POINT at)
{
    SendMessageA(dialog, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(at.x, at.y));
    Settle(dialog);
}

void MouseMove(HWND dialog, POINT at)
{
    SendMessageA(dialog, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(at.x, at.y));
    Settle(dialog);
}

void MouseUp(HWND dialog, POINT at)
{
    SendMessageA(dialog, WM_LBUTTONUP, 0, MAKELPARAM(at.x, at.y));
    Settle(dialog);
}

void Drag(HWND dialog, POINT from, POINT to, int steps)
{
    MouseDown(dialog, from);
    for (int i = 1; i <= steps; ++i)
        MouseMove(dialog, POINT{from.x + (to.x - from.x) * i / steps, from.y + (to.y - from.y) * i / steps});
    MouseUp(dialog, to);
}

void PostKey(HWND dialog, UINT virtualKey)
{
    HWND target = GetFocus();
    if (target == nullptr)
        target = dialog;
    PostMessageA(target, WM_KEYDOWN, virtualKey, 1);
    PostMessageA(target, WM_KEYUP, virtualKey, 0xC0000001);
}

std::string TextOf(HWND dialog, int controlId)
{
    char text[256] = {};
    GetDlgItemTextA(dialog, controlId, text, sizeof text);
    return text;
}

bool Screenshot(HWND window, Document *image)
{
    Settle(window);
    RECT r = {};
    GetWindowRect(window, &r);
    const int width = r.right - r.left, height = r.bottom - r.top;
    if (width <= 0 || height <= 0)
        return false;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void *bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(memory, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    bool ok = bitmap != nullptr;
    if (ok) {
        HGDIOBJ old = SelectObject(memory, bitmap);
        ok = BitBlt(memory, 0, 0, width, height, screen, r.left, r.top, SRCCOPY) != 0;
        GdiFlush();
        if (ok) {
            *image = MakeDocument(width, height, 3, 8, plugInModeRGBColor);
            const auto *pixels = static_cast<const uint8_t *>(bits);
            for (int y = 0; y < height; ++y)
                for (int x = 0; x < width; ++x) {
                    const uint8_t *p = pixels + (size_t(y) * size_t(width) + size_t(x)) * 4;
                    image->At(0, x, y) = p[2];
                    image->At(1, x, y) = p[1];
                    image->At(2, x, y) = p[0];
                }
        }
        SelectObject(memory, old);
        DeleteObject(bitmap);
    }
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return ok;
}

} // namespace dialog_driver
