#include "host/windows/WindowDriver.h"

#include <algorithm>

namespace {

thread_local WindowDriver *tDriver = nullptr;

// The static control that carries a message box's text has this id on
// every version of the platform.
const int kMessageBoxTextId = 0xFFFF;

std::string ClassOf(HWND window)
{
    char name[64] = {};
    GetClassNameA(window, name, sizeof name);
    return name;
}

std::string TextOf(HWND window)
{
    const int length = GetWindowTextLengthA(window);
    std::string text(size_t(length) + 1, '\0');
    GetWindowTextA(window, &text[0], length + 1);
    text.resize(strlen(text.c_str()));
    return text;
}

MessageBoxIcon IconOf(HICON icon)
{
    if (icon == nullptr)
        return MessageBoxIcon::None;
    struct Known {
        LPCSTR id;
        MessageBoxIcon icon;
    };
    const Known known[] = {
        {IDI_ASTERISK, MessageBoxIcon::Information},
        {IDI_EXCLAMATION, MessageBoxIcon::Warning},
        {IDI_HAND, MessageBoxIcon::Error},
        {IDI_QUESTION, MessageBoxIcon::Question},
    };
    for (const Known &k : known)
        if (LoadIconA(nullptr, k.id) == icon)
            return k.icon;
    return MessageBoxIcon::Other;
}

} // namespace

const char *MessageBoxIconName(MessageBoxIcon icon)
{
    switch (icon) {
    case MessageBoxIcon::None: return "none";
    case MessageBoxIcon::Information: return "information";
    case MessageBoxIcon::Warning: return "warning";
    case MessageBoxIcon::Error: return "error";
    case MessageBoxIcon::Question: return "question";
    default: return "other";
    }
}

WindowDriver::~WindowDriver()
{
    Uninstall();
}

bool WindowDriver::Install()
{
    if (hook_ != nullptr)
        return true;
    if (tDriver != nullptr)
        return false;
    hook_ = SetWindowsHookExA(WH_CBT, CbtProc, nullptr, GetCurrentThreadId());
    if (hook_ == nullptr)
        return false;
    tDriver = this;
    return true;
}

void WindowDriver::Uninstall()
{
    if (hook_ == nullptr)
        return;
    UnhookWindowsHookEx(hook_);
    hook_ = nullptr;
    if (tDriver == this)
        tDriver = nullptr;
}

void WindowDriver::Clear()
{
    messageBoxAnswers.clear();
    messageBoxes.clear();
    fileDialogAnswers.clear();
    fileDialogs.clear();
    unexpectedWindows.clear();
    handled_.clear();
}

LRESULT CALLBACK WindowDriver::CbtProc(int code, WPARAM wParam, LPARAM lParam)
{
    WindowDriver *driver = tDriver;
    if (driver != nullptr && code == HCBT_ACTIVATE) {
        HWND window = reinterpret_cast<HWND>(wParam);
        const bool known =
            std::find(driver->pending_.begin(), driver->pending_.end(), window) != driver->pending_.end() ||
            std::find(driver->handled_.begin(), driver->handled_.end(), window) != driver->handled_.end();
        if (!known && ClassOf(window) == "#32770") {
            driver->pending_.push_back(window);
            // Fires once the thread's queue is idle, i.e. when the dialog
            // has finished initialising and waits for input.
            SetTimer(nullptr, 0, 0, TimerProc);
        }
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

void CALLBACK WindowDriver::TimerProc(HWND, UINT, UINT_PTR id, DWORD)
{
    KillTimer(nullptr, id);
    WindowDriver *driver = tDriver;
    if (driver == nullptr)
        return;
    std::vector<HWND> windows;
    windows.swap(driver->pending_);
    for (HWND window : windows) {
        if (!IsWindow(window))
            continue;
        driver->handled_.push_back(window);
        driver->Handle(window);
    }
}

bool WindowDriver::ReadMessageBox(HWND window, MessageBoxSeen *seen)
{
    HWND textControl = GetDlgItem(window, kMessageBoxTextId);
    if (textControl == nullptr)
        return false;
    *seen = MessageBoxSeen();
    seen->window = window;
    seen->owner = GetWindow(window, GW_OWNER);
    seen->caption = TextOf(window);
    seen->text = TextOf(textControl);
    for (HWND child = GetWindow(window, GW_CHILD); child != nullptr;
         child = GetWindow(child, GW_HWNDNEXT)) {
        if (!IsWindowVisible(child))
            continue;
        const std::string cls = ClassOf(child);
        const LONG style = GetWindowLongA(child, GWL_STYLE);
        if (cls == "Button") {
            seen->buttons.push_back(GetDlgCtrlID(child));
        } else if (cls == "Static" && (style & SS_TYPEMASK) == SS_ICON) {
            seen->icon = IconOf(reinterpret_cast<HICON>(SendMessageA(child, STM_GETICON, 0, 0)));
        }
    }
    return true;
}

namespace {

BOOL CALLBACK FindEdit(HWND child, LPARAM found)
{
    if (ClassOf(child) != "Edit")
        return TRUE;
    *reinterpret_cast<HWND *>(found) = child;
    return FALSE;
}

} // namespace

HWND WindowDriver::FileNameField(HWND window)
{
    // The name is a combo box (cmb13) in the Explorer-style dialog, with
    // its edit one or two levels down; an edit (edt1) in the older one.
    if (HWND combo = GetDlgItem(window, 0x47C)) {
        HWND edit = nullptr;
        EnumChildWindows(combo, FindEdit, reinterpret_cast<LPARAM>(&edit));
        if (edit != nullptr || ClassOf(combo) == "Edit")
            return edit != nullptr ? edit : combo;
    }
    HWND edit = GetDlgItem(window, 0x480);
    return edit != nullptr && ClassOf(edit) == "Edit" ? edit : nullptr;
}

void WindowDriver::Handle(HWND window)
{

    if (HWND field = FileNameField(window)) {
        FileDialogSeen seen;
        seen.window = window;
        seen.owner = GetWindow(window, GW_OWNER);
        seen.title = TextOf(window);
        seen.fileName = TextOf(field);
        if (!fileDialogAnswers.empty()) {
            seen.answer = fileDialogAnswers.front();
            fileDialogAnswers.pop_front();
        }
        fileDialogs.push_back(seen);
        if (seen.answer.empty()) {
            PostMessageA(window, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
            return;
        }
        // Typed as a person types it, then OK.
        SetFocus(field);
        SendMessageA(field, EM_SETSEL, 0, -1);
        for (char ch : seen.answer)
            SendMessageA(field, WM_CHAR, static_cast<WPARAM>(static_cast<unsigned char>(ch)), 1);
        if (HWND ok = GetDlgItem(window, IDOK))
            PostMessageA(ok, BM_CLICK, 0, 0);
        return;
    }

    MessageBoxSeen seen;
    if (ReadMessageBox(window, &seen)) {
        int answer = 0;
        if (!messageBoxAnswers.empty()) {
            answer = messageBoxAnswers.front();
            messageBoxAnswers.pop_front();
        } else if (std::find(seen.buttons.begin(), seen.buttons.end(), IDOK) != seen.buttons.end()) {
            answer = IDOK;
        } else if (!seen.buttons.empty()) {
            answer = seen.buttons.front();
        }
        seen.pressed = answer;
        messageBoxes.push_back(seen);
        if (onMessageBox)
            onMessageBox(seen);
        HWND button = GetDlgItem(window, answer);
        if (button != nullptr)
            PostMessageA(button, BM_CLICK, 0, 0);
        else
            PostMessageA(window, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
        return;
    }
    if (dialogHandler) {
        dialogHandler(window);
        return;
    }
    unexpectedWindows.push_back("dialog \"" + TextOf(window) + "\"");
    PostMessageA(window, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
}
