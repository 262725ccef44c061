// A user of the installer's property sheets, on a thread of its own: it finds the sheet and its
// message boxes by their captions and acts on them with window messages, as a test or an
// accessibility tool does. Every wait is bounded; a step that cannot happen fails the check.
#pragma once

#include "platform/win32.h"

#include <commctrl.h>
#include <prsht.h>

#include <cstdio>
#include <string>
#include <utility>

#include "resources/wizard_ids.h"
#include "resources/wizard_texts.h"

namespace sheetdriver {

// The property sheet's own Back and Next buttons.
constexpr int kBackButton = 0x3023;
constexpr int kNextButton = 0x3024;
// The text of a message box, beside its icon.
constexpr int kMessageBoxText = 0xFFFF;
constexpr DWORD kWaitMs = 30000;
constexpr DWORD kPollMs = 10;

inline int gFailures = 0;

inline void Check(bool ok, const char* what) {
    std::printf("%s: %s\n", ok ? "ok" : "FAILED", what);
    std::fflush(stdout);
    if (!ok) {
        ++gFailures;
    }
}

inline std::wstring Text(HWND window) {
    wchar_t buffer[1024] = {};
    GetWindowTextW(window, buffer, 1024);
    return buffer;
}

inline std::wstring ItemText(HWND dialog, int id) {
    return Text(GetDlgItem(dialog, id));
}

// A top-level dialog of this process with exactly this caption, visible; null after the wait.
inline HWND WaitForWindow(const wchar_t* caption, DWORD waitMs = kWaitMs) {
    for (DWORD waited = 0; waited < waitMs; waited += kPollMs) {
        HWND window = FindWindowW(L"#32770", caption);
        if (window != nullptr && IsWindowVisible(window)) {
            return window;
        }
        Sleep(kPollMs);
    }
    return nullptr;
}

inline HWND WaitForSheet() {
    return WaitForWindow(wiztext::kPageCaption);
}

// A message box of the wizard: its title, owned by the sheet.
inline HWND WaitForBox(const wchar_t* title, DWORD waitMs = kWaitMs) {
    return WaitForWindow(title, waitMs);
}

inline HWND Page(HWND sheet) {
    return reinterpret_cast<HWND>(SendMessageW(sheet, PSM_GETCURRENTPAGEHWND, 0, 0));
}

inline bool Enabled(HWND dialog, int id) {
    HWND item = GetDlgItem(dialog, id);
    return item != nullptr && IsWindowEnabled(item);
}

// The sheet shows the page with this control, and Next is enabled: no search is running.
inline bool WaitForPage(HWND sheet, int controlId, DWORD waitMs = kWaitMs) {
    for (DWORD waited = 0; waited < waitMs; waited += kPollMs) {
        HWND page = Page(sheet);
        if (page != nullptr && GetDlgItem(page, controlId) != nullptr &&
            Enabled(sheet, kNextButton)) {
            return true;
        }
        Sleep(kPollMs);
    }
    return false;
}

// Until the window is gone (the sheet closed, a box answered).
inline bool WaitGone(HWND window, DWORD waitMs = kWaitMs) {
    for (DWORD waited = 0; waited < waitMs; waited += kPollMs) {
        if (!IsWindow(window)) {
            return true;
        }
        Sleep(kPollMs);
    }
    return false;
}

inline void Press(HWND sheet, int button) {
    PostMessageW(sheet, PSM_PRESSBUTTON, static_cast<WPARAM>(button), 0);
}

inline void Click(HWND dialog, int id) {
    PostMessageW(GetDlgItem(dialog, id), BM_CLICK, 0, 0);
}

inline void SetAddress(HWND page, int a, int b, int c, int d) {
    SendMessageW(GetDlgItem(page, IDC_IP_ADDRESS), IPM_SETADDRESS, 0, MAKEIPADDRESS(a, b, c, d));
}

// The four fields of the IPv4 address control set to these texts ("" leaves a field blank), as
// typed: the fields are the control's edit windows, from left to right.
inline void SetFields(HWND page, const wchar_t* const (&texts)[4]) {
    HWND control = GetDlgItem(page, IDC_IP_ADDRESS);
    HWND edits[4] = {};
    int count = 0;
    for (HWND child = GetWindow(control, GW_CHILD); child != nullptr && count < 4;
         child = GetWindow(child, GW_HWNDNEXT)) {
        edits[count++] = child;
    }
    for (int i = 0; i < count; ++i) {
        for (int j = i + 1; j < count; ++j) {
            RECT a = {};
            RECT b = {};
            GetWindowRect(edits[i], &a);
            GetWindowRect(edits[j], &b);
            if (b.left < a.left) {
                std::swap(edits[i], edits[j]);
            }
        }
    }
    for (int i = 0; i < count; ++i) {
        SendMessageW(edits[i], WM_SETTEXT, 0, reinterpret_cast<LPARAM>(texts[i]));
    }
}

// Exactly this row of the printer list selected (-1: none).
inline void SelectRow(HWND page, int row) {
    HWND list = GetDlgItem(page, IDC_PRINTER_LIST);
    LVITEMW item = {};
    item.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
    item.state = 0;
    SendMessageW(list, LVM_SETITEMSTATE, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(&item));
    if (row >= 0) {
        item.state = LVIS_SELECTED | LVIS_FOCUSED;
        SendMessageW(list, LVM_SETITEMSTATE, static_cast<WPARAM>(row),
                     reinterpret_cast<LPARAM>(&item));
    }
}

inline int RowCount(HWND page) {
    return static_cast<int>(
        SendMessageW(GetDlgItem(page, IDC_PRINTER_LIST), LVM_GETITEMCOUNT, 0, 0));
}

inline std::wstring Cell(HWND page, int row, int column) {
    wchar_t buffer[256] = {};
    LVITEMW item = {};
    item.iSubItem = column;
    item.pszText = buffer;
    item.cchTextMax = 256;
    SendMessageW(GetDlgItem(page, IDC_PRINTER_LIST), LVM_GETITEMTEXTW, static_cast<WPARAM>(row),
                 reinterpret_cast<LPARAM>(&item));
    return buffer;
}

// Answers the open message box of this title with one of its buttons (IDYES, IDNO, IDOK), after
// checking its text and that it has exactly the buttons of its kind. False when there is none.
inline bool Answer(const wchar_t* title, const wchar_t* text, bool yesNo, int button,
                   const char* what) {
    HWND box = WaitForBox(title);
    Check(box != nullptr, what);
    if (box == nullptr) {
        return false;
    }
    Check(ItemText(box, kMessageBoxText) == text, "  its text");
    bool buttons = yesNo ? GetDlgItem(box, IDYES) != nullptr && GetDlgItem(box, IDNO) != nullptr &&
                               GetDlgItem(box, IDCANCEL) == nullptr
                         : GetDlgItem(box, IDOK) != nullptr && GetDlgItem(box, IDYES) == nullptr;
    Check(buttons, yesNo ? "  Yes and No, no Cancel" : "  OK alone");
    Click(box, button);
    return WaitGone(box);
}

}  // namespace sheetdriver
