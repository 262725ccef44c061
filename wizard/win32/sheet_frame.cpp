#include "wizard/win32/sheet_frame.h"

#include <cstdio>
#include <memory>
#include <vector>

#include "wizard/win32/page_window.h"

namespace wizard {

namespace win32view {

namespace {

constexpr UINT_PTR kSheetSubclass = 1;

// The library's own module: the dialog templates are its resources.
HINSTANCE Module() {
    HMODULE module = nullptr;
    GetModuleHandleExW(
        GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
        reinterpret_cast<LPCWSTR>(&Module), &module);
    return module;
}

bool IsUserInput(UINT message) {
    return (message >= WM_KEYFIRST && message <= WM_KEYLAST) ||
           (message > WM_MOUSEMOVE && message <= WM_MOUSELAST) ||
           (message >= WM_NCLBUTTONDOWN && message <= WM_NCMBUTTONDBLCLK) ||
           (message >= WM_NCXBUTTONDOWN && message <= WM_NCXBUTTONDBLCLK);
}

DWORD WINAPI RunWork(LPVOID work) {
    (*static_cast<const std::function<void()>*>(work))();
    return 0;
}

}  // namespace

// --- SheetFrame ---

void SheetFrame::Attach(HWND sheet) {
    if (sheet_ == nullptr && sheet != nullptr) {
        sheet_ = sheet;
        SetWindowSubclass(sheet_, SheetProc, kSheetSubclass, reinterpret_cast<DWORD_PTR>(this));
    }
}

void SheetFrame::Detach() {
    if (sheet_ != nullptr) {
        RemoveWindowSubclass(sheet_, SheetProc, kSheetSubclass);
        sheet_ = nullptr;
    }
}

// While busy the sheet and every window in it show the wait cursor: a child asks its parent
// first (DefWindowProc), and the sheet answers for them all.
LRESULT CALLBACK SheetFrame::SheetProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam,
                                       UINT_PTR, DWORD_PTR self) {
    auto* frame = reinterpret_cast<SheetFrame*>(self);
    if (message == WM_SETCURSOR && frame->busy_) {
        SetCursor(LoadCursorW(nullptr, IDC_WAIT));
        return TRUE;
    }
    if (message == WM_NCDESTROY) {
        frame->Detach();
    }
    return DefSubclassProc(window, message, wParam, lParam);
}

void SheetFrame::ApplyButtons() {
    if (sheet_ != nullptr) {
        DWORD flags = held_ || background_ > 0 ? 0 : buttons_;
        SendMessageW(sheet_, PSM_SETWIZBUTTONS, 0, static_cast<LPARAM>(flags));
    }
}

void SheetFrame::SetFrameButtons(bool back, bool next) {
    buttons_ = (back ? PSWIZB_BACK : 0) | (next ? PSWIZB_NEXT : 0);
    ApplyButtons();
}

void SheetFrame::HoldButtons(bool held) {
    held_ = held;
    ApplyButtons();
}

void SheetFrame::EnableCancel(bool enabled) {
    if (sheet_ != nullptr) {
        EnableWindow(GetDlgItem(sheet_, IDCANCEL), enabled ? TRUE : FALSE);
    }
}

// Cancel is pressed once the handler that asked has returned: the request is posted.
void SheetFrame::RequestClose() {
    if (!closing_ && sheet_ != nullptr) {
        closing_ = true;
        PostMessageW(sheet_, PSM_PRESSBUTTON, PSBTN_CANCEL, 0);
    }
}

void SheetFrame::SetBusy(bool busy) {
    busy_ = busy;
    SetCursor(LoadCursorW(nullptr, busy ? IDC_WAIT : IDC_ARROW));
}

bool SheetFrame::IsInputForSheet(const MSG& msg) const {
    return IsUserInput(msg.message) && sheet_ != nullptr && msg.hwnd != nullptr &&
           (msg.hwnd == sheet_ || IsChild(sheet_, msg.hwnd));
}

bool SheetFrame::IsLeavingSheet(const MSG& msg) const {
    return IsInputForSheet(msg) && ((msg.message == WM_KEYDOWN && msg.wParam == VK_ESCAPE) ||
                                    (msg.message == WM_SYSKEYDOWN && msg.wParam == VK_F4) ||
                                    (msg.message == WM_NCLBUTTONDOWN && msg.wParam == HTCLOSE));
}

void SheetFrame::CancelBackground() {
    if (background_ > 0 && cancel_ != nullptr && !cancelled_) {
        cancelled_ = true;
        (*cancel_)();
    }
}

bool SheetFrame::RunInBackground(const std::function<void()>& work,
                                 const std::function<void()>& cancel) {
    ++background_;
    const std::function<void()>* outerCancel = cancel_;
    const bool outerCancelled = cancelled_;
    cancel_ = &cancel;
    cancelled_ = false;
    ApplyButtons();
    HANDLE worker =
        CreateThread(nullptr, 0, RunWork, const_cast<std::function<void()>*>(&work), 0, nullptr);
    if (worker == nullptr) {
        work();  // no thread to be had: the search runs here, as it would without a view
    } else {
        bool quit = false;
        WPARAM quitCode = 0;
        while (MsgWaitForMultipleObjectsEx(1, &worker, INFINITE, QS_ALLINPUT,
                                           MWMO_INPUTAVAILABLE) != WAIT_OBJECT_0) {
            MSG msg;
            while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
                if (msg.message == WM_QUIT) {
                    quit = true;  // for the loop that runs after this one
                    quitCode = msg.wParam;
                } else if (IsLeavingSheet(msg)) {
                    CancelBackground();
                } else if (!IsInputForSheet(msg)) {
                    TranslateMessage(&msg);
                    DispatchMessageW(&msg);
                }
            }
        }
        CloseHandle(worker);
        if (quit) {
            PostQuitMessage(static_cast<int>(quitCode));
        }
    }
    const bool finished = !cancelled_;
    cancel_ = outerCancel;
    cancelled_ = outerCancelled;
    --background_;
    ApplyButtons();
    return finished;
}

// --- PropertySheetFrame ---

namespace {

// The library's manifest made the active activation context for the life of the object: the
// windows created meanwhile (the sheet, the controls of its pages, the message boxes) are of
// the versions it names, common controls 6. Where it cannot be had, the system's defaults stay.
class ManifestContext {
  public:
    ManifestContext() {
        ACTCTXW context = {};
        context.cbSize = sizeof context;
        context.dwFlags = ACTCTX_FLAG_HMODULE_VALID | ACTCTX_FLAG_RESOURCE_NAME_VALID;
        context.hModule = Module();
        context.lpResourceName = ISOLATIONAWARE_MANIFEST_RESOURCE_ID;
        handle_ = CreateActCtxW(&context);
        if (handle_ != INVALID_HANDLE_VALUE && !ActivateActCtx(handle_, &cookie_)) {
            ReleaseActCtx(handle_);
            handle_ = INVALID_HANDLE_VALUE;
        }
    }
    ~ManifestContext() {
        if (handle_ != INVALID_HANDLE_VALUE) {
            DeactivateActCtx(0, cookie_);
            ReleaseActCtx(handle_);
        }
    }
    ManifestContext(const ManifestContext&) = delete;
    ManifestContext& operator=(const ManifestContext&) = delete;

  private:
    HANDLE handle_ = INVALID_HANDLE_VALUE;
    ULONG_PTR cookie_ = 0;
};

}  // namespace

DWORD PropertySheetFrame::RunModal(const Text& caption, const std::vector<CWizardPage*>& pages) {
    ManifestContext manifest;
    INITCOMMONCONTROLSEX classes = {
        sizeof classes, ICC_LISTVIEW_CLASSES | ICC_INTERNET_CLASSES | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&classes);

    SheetFrame frame;
    std::vector<std::unique_ptr<PageWindow>> windows;
    std::vector<PROPSHEETPAGEW> sheetPages;
    for (CWizardPage* page : pages) {
        windows.push_back(std::make_unique<PageWindow>(frame, *page));
        page->SetView(windows.back().get());
        PROPSHEETPAGEW sheetPage = {};
        sheetPage.dwSize = sizeof sheetPage;
        sheetPage.dwFlags = PSP_DEFAULT;
        sheetPage.hInstance = Module();
        sheetPage.pszTemplate = MAKEINTRESOURCEW(page->TemplateId());
        sheetPage.pfnDlgProc = PageWindow::DialogProc;
        sheetPage.lParam = reinterpret_cast<LPARAM>(windows.back().get());
        sheetPages.push_back(sheetPage);
    }
    PROPSHEETHEADERW header = {};
    header.dwSize = sizeof header;
    header.dwFlags = PSH_PROPSHEETPAGE | PSH_WIZARD;
    header.hwndParent = nullptr;
    header.hInstance = Module();
    header.pszCaption = caption.c_str();
    header.nPages = static_cast<UINT>(sheetPages.size());
    header.ppsp = sheetPages.data();
    SetLastError(ERROR_SUCCESS);
    INT_PTR result = PropertySheetW(&header);
    DWORD error = GetLastError();
    frame.Detach();
    for (CWizardPage* page : pages) {
        page->SetView(nullptr);
    }
    if (result < 0) {
        error = error != ERROR_SUCCESS ? error : ERROR_NOT_SUPPORTED;
        char reason[96];
        snprintf(reason, sizeof reason, "the property sheet could not be created (error %lu)",
                 static_cast<unsigned long>(error));
        ReportNoWizard(reason);
        return error;
    }
    return ERROR_SUCCESS;
}

}  // namespace win32view

// The frame the exports use on Windows.
WizardFrame* ToolkitFrame() {
    static win32view::PropertySheetFrame frame;
    return &frame;
}

}  // namespace wizard
