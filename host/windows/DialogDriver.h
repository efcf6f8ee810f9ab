// Drives a dialog as a person at the keyboard and mouse would, through real
// window messages to the platform's own controls. Every function runs on the
// dialog's thread, inside its modal loop (from a WindowDriver handler), and
// returns once the dialog has handled the input and repainted.
#pragma once

#include <windows.h>

#include <string>

struct Document;

namespace dialog_driver {

// Lets the dialog and its controls paint what the input invalidated.
void Settle(HWND dialog);

// Clicks into an edit, selects its text and types the new text key by key:
// the edit sees one character message per key (the first replaces the
// selection), and notifies its dialog of every change.
void TypeInto(HWND dialog, int editId, const std::string &text);

// Gives a control the focus, as a click or Tab would, and presses a key
// on it (a slider moves by the key's step).
void PressKey(HWND dialog, int controlId, UINT virtualKey);

// Drags a slider's thumb with the mouse until it stands at `position`.
// Returns the position the slider reports afterwards.
int DragSliderTo(HWND dialog, int sliderId, int position);

// Presses a push button or radio button with the mouse.
void Click(HWND dialog, int controlId);

// Presses the left button at `from` (client coordinates), moves to `to` in
// `steps` moves (each one a repaint), and releases there.
void Drag(HWND dialog, POINT from, POINT to, int steps);
void MouseDown(HWND dialog, POINT at);
void MouseMove(HWND dialog, POINT at);
void MouseUp(HWND dialog, POINT at);

// Posts a key press to the focused control through the modal loop, as the
// keyboard does, so that the dialog manager sees it (Enter, Esc, Tab).
void PostKey(HWND dialog, UINT virtualKey);

// The text of a control.
std::string TextOf(HWND dialog, int controlId);

// What the dialog looks like on the screen: its window as an 8-bit RGB
// document.
bool Screenshot(HWND window, Document *image);

} // namespace dialog_driver
