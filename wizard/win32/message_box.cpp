#include "wizard/win32/message_box.h"

namespace wizard::win32view {

namespace {

constexpr UINT_PTR kQuestionSubclass = 1;

// The question box refuses to be cancelled: Escape arrives as IDCANCEL, the close command as
// SC_CLOSE; both are dropped, and only Yes or No end the box.
LRESULT CALLBACK QuestionProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                              DWORD_PTR) {
    if ((message == WM_COMMAND && LOWORD(wParam) == IDCANCEL) ||
        (message == WM_SYSCOMMAND && (wParam & 0xFFF0) == SC_CLOSE) || message == WM_CLOSE) {
        return 0;
    }
    if (message == WM_NCDESTROY) {
        RemoveWindowSubclass(window, QuestionProc, kQuestionSubclass);
    }
    return DefSubclassProc(window, message, wParam, lParam);
}

// Watches this thread's windows while the question box is made: the first dialog activated is
// the box.
HHOOK gHook = nullptr;

LRESULT CALLBACK WatchCreation(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HCBT_ACTIVATE) {
        auto* box = reinterpret_cast<HWND>(wParam);
        WCHAR name[16] = {};
        GetClassNameW(box, name, 16);
        if (lstrcmpW(name, L"#32770") == 0) {
            SetWindowSubclass(box, QuestionProc, kQuestionSubclass, 0);
            UnhookWindowsHookEx(gHook);
            HHOOK hook = gHook;
            gHook = nullptr;
            return CallNextHookEx(hook, code, wParam, lParam);
        }
    }
    return CallNextHookEx(gHook, code, wParam, lParam);
}

}  // namespace

Answer ShowMessageBox(HWND owner, const Message& message) {
    const bool question = message.buttons == Buttons::kYesNo;
    UINT type = question ? MB_YESNO : MB_OK;
    type |= message.icon == Icon::kError ? MB_ICONHAND : MB_ICONEXCLAMATION;
    if (question && gHook == nullptr) {
        gHook = SetWindowsHookExW(WH_CBT, WatchCreation, nullptr, GetCurrentThreadId());
    }
    int pressed = MessageBoxW(owner, message.text.c_str(), message.title.c_str(), type);
    if (gHook != nullptr) {
        UnhookWindowsHookEx(gHook);
        gHook = nullptr;
    }
    if (!question) {
        return Answer::kOk;
    }
    return pressed == IDYES ? Answer::kYes : Answer::kNo;
}

}  // namespace wizard::win32view
