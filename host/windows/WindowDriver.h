// Answers the windows a module opens on the host's thread, as a user would,
// through real window messages: a thread-local CBT hook notices each new
// dialog window, and once the thread is idle (a zero-delay timer, which the
// modal loops dispatch) the driver reads it and presses a button.
#pragma once

#include <windows.h>

#include <deque>
#include <functional>
#include <string>
#include <vector>

enum class MessageBoxIcon { None, Information, Warning, Error, Question, Other };

const char *MessageBoxIconName(MessageBoxIcon icon);

// A common file dialog as the driver found it, and what it answered.
struct FileDialogSeen {
    HWND window = nullptr;
    HWND owner = nullptr;
    std::string title;
    std::string fileName;  // the name field's text when the dialog opened
    std::string answer;    // the path typed, or "" when cancelled
};

struct MessageBoxSeen {
    HWND window = nullptr;
    HWND owner = nullptr;
    std::string caption;
    std::string text;
    MessageBoxIcon icon = MessageBoxIcon::None;
    std::vector<int> buttons;  // control ids (IDOK, IDCANCEL, ...) in window order
    int pressed = 0;
};

class WindowDriver {
public:
    WindowDriver() = default;
    ~WindowDriver();
    WindowDriver(const WindowDriver &) = delete;
    WindowDriver &operator=(const WindowDriver &) = delete;

    // Hooks the calling thread; only one driver per thread.
    bool Install();
    void Uninstall();

    // Buttons to press in the next message boxes, in order. When none is
    // queued the box's OK button (or its first button) is pressed.
    std::deque<int> messageBoxAnswers;

    // Paths to type into the next common file dialogs, in order; "" cancels
    // the dialog. When none is queued the dialog is cancelled.
    std::deque<std::string> fileDialogAnswers;
    std::vector<FileDialogSeen> fileDialogs;

    // Called for a dialog that is neither a message box nor a file dialog; it must end the
    // dialog. Without it such a dialog is cancelled and recorded as
    // unexpected.
    std::function<void(HWND)> dialogHandler;

    // Told of every message box as it is answered.
    std::function<void(const MessageBoxSeen &)> onMessageBox;

    std::vector<MessageBoxSeen> messageBoxes;
    std::vector<std::string> unexpectedWindows;

    void Clear();

    // Reads a message box's contents; false when the window is not one.
    static bool ReadMessageBox(HWND window, MessageBoxSeen *seen);
    // The name field of a common file dialog, or null when the window is
    // not one.
    static HWND FileNameField(HWND window);

private:
    static LRESULT CALLBACK CbtProc(int code, WPARAM wParam, LPARAM lParam);
    static void CALLBACK TimerProc(HWND, UINT, UINT_PTR id, DWORD);
    void Handle(HWND window);

    HHOOK hook_ = nullptr;
    std::vector<HWND> pending_;
    std::vector<HWND> handled_;
};
