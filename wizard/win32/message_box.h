// The wizards' message boxes: the system's MessageBoxW with the icon and buttons of the message.
#pragma once

#include "wizard/win32/win32_api.h"
#include "wizard/wizard_view.h"

namespace wizard::win32view {

// A modal message box owned by `owner`; the button pressed. A Yes/No question has no Cancel,
// so Escape and the window's close command leave it open until the user answers, as Windows
// itself keeps such a box (some implementations of the API close it as if cancelled).
Answer ShowMessageBox(HWND owner, const Message& message);

}  // namespace wizard::win32view
