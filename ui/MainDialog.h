// The modal main dialog: three tone controls, the preview with its view
// choice, zoom and drag, settings files, Reset and Help.
#pragma once

#include <windows.h>

class FilterContext;

// Runs the dialog from template 101, owned by the host's window; returns
// the id of the button that ended it, IDOK or IDCANCEL; -1 when the dialog
// could not be created, kDialogOutOfMemory or kDialogFailed when it ended
// on a failure of its own, 0 when its modal loop ended some other way (a
// quit message).
int RunMainDialog(FilterContext &context, HWND ownerWindow);

constexpr int kDialogOutOfMemory = 1000;
constexpr int kDialogFailed = 1001;

INT_PTR CALLBACK MainDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
