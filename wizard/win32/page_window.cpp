#include "wizard/win32/page_window.h"

#include "wizard/win32/message_box.h"

#include <algorithm>
#include <cwchar>
#include <vector>

namespace wizard::win32view {

namespace {

// The timer that waits for the sheet to be on screen before a page's PageShown runs. Timer
// messages come after the paint messages, so the sheet has been painted by then.
constexpr UINT_PTR kShownTimer = 1;
constexpr UINT kShownPollMs = 10;

constexpr UINT_PTR kFieldSubclass = 1;

// A field of the IPv4 address control: a dot (or space) moves on to the next field only after a
// number typed into this one. In a blank field, or one whose whole text is selected (entered by
// Tab, or just reached by a third digit or a dot), the user is about to type over it, and the dot
// is dropped, so that an address typed over the old one lands field by field. A field reached
// by typing has its text selected, as Windows' own control does (not every implementation of it
// does).
LRESULT CALLBACK AddressFieldProc(HWND field, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                                  DWORD_PTR) {
    if (message == WM_CHAR && (wParam == '.' || wParam == ' ')) {
        const int length = GetWindowTextLengthW(field);
        DWORD start = 0;
        DWORD end = 0;
        SendMessageW(field, EM_GETSEL, reinterpret_cast<WPARAM>(&start),
                     reinterpret_cast<LPARAM>(&end));
        if (length == 0 || (start == 0 && end >= static_cast<DWORD>(length))) {
            return 0;
        }
    }
    if (message == WM_CHAR) {
        LRESULT result = DefSubclassProc(field, message, wParam, lParam);
        HWND focus = GetFocus();
        if (focus != field && focus != nullptr && GetParent(focus) == GetParent(field)) {
            SendMessageW(focus, EM_SETSEL, 0, -1);
        }
        return result;
    }
    if (message == WM_NCDESTROY) {
        RemoveWindowSubclass(field, AddressFieldProc, kFieldSubclass);
    }
    return DefSubclassProc(field, message, wParam, lParam);
}

BOOL CALLBACK WatchAddressField(HWND field, LPARAM) {
    SetWindowSubclass(field, AddressFieldProc, kFieldSubclass, 0);
    return TRUE;
}

// The address an IPv4 address control holds; a blank field counts as 0.
DWORD AddressOf(HWND control) {
    DWORD address = 0;
    SendMessageW(control, IPM_GETADDRESS, 0, reinterpret_cast<LPARAM>(&address));
    return address;
}

// The edit windows of the control's four fields, from left to right; empty when the control's
// windows are not four edits.
std::vector<HWND> FieldEdits(HWND control) {
    std::vector<HWND> edits;
    for (HWND child = GetWindow(control, GW_CHILD); child != nullptr;
         child = GetWindow(child, GW_HWNDNEXT)) {
        edits.push_back(child);
    }
    if (edits.size() != 4) {
        return {};
    }
    auto left = [](HWND window) {
        RECT rect = {};
        GetWindowRect(window, &rect);
        return rect.left;
    };
    std::sort(edits.begin(), edits.end(), [&left](HWND a, HWND b) { return left(a) < left(b); });
    return edits;
}

Text WindowText(HWND window) {
    int length = GetWindowTextLengthW(window);
    if (length <= 0) {
        return Text();
    }
    std::vector<WCHAR> buffer(static_cast<size_t>(length) + 1);
    int copied = GetWindowTextW(window, buffer.data(), length + 1);
    return Text(buffer.data(), static_cast<size_t>(copied > 0 ? copied : 0));
}

}  // namespace

INT_PTR CALLBACK PageWindow::DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    PageWindow* self = nullptr;
    if (message == WM_INITDIALOG) {
        const auto* sheetPage = reinterpret_cast<const PROPSHEETPAGEW*>(lParam);
        self = reinterpret_cast<PageWindow*>(sheetPage->lParam);
        SetWindowLongPtrW(window, DWLP_USER, reinterpret_cast<LONG_PTR>(self));
        self->window_ = window;
    } else {
        self = reinterpret_cast<PageWindow*>(GetWindowLongPtrW(window, DWLP_USER));
    }
    return self != nullptr ? self->OnMessage(message, wParam, lParam) : FALSE;
}

INT_PTR PageWindow::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_INITDIALOG:
            frame_.Attach(GetParent(window_));
            for (HWND child = GetWindow(window_, GW_CHILD); child != nullptr;
                 child = GetWindow(child, GW_HWNDNEXT)) {
                if (IsAddressControl(child)) {
                    EnumChildWindows(child, WatchAddressField, 0);
                }
            }
            page_.SetUpPage();
            return TRUE;
        case WM_NOTIFY:
            return OnNotify(*reinterpret_cast<const NMHDR*>(lParam));
        case WM_COMMAND:
            // A click on one of the page's buttons; nothing while a search runs or the sheet
            // is closing.
            if (HIWORD(wParam) == BN_CLICKED && !frame_.InBackground() && !frame_.Closing()) {
                page_.HandleCommand(LOWORD(wParam));
            }
            return TRUE;
        case WM_TIMER:
            if (wParam == kShownTimer) {
                OnShownTimer();
            }
            return TRUE;
        case WM_DESTROY:
            KillTimer(window_, kShownTimer);
            return FALSE;
        default:
            return FALSE;
    }
}

INT_PTR PageWindow::Result(LONG_PTR result) {
    SetWindowLongPtrW(window_, DWLP_MSGRESULT, result);
    return TRUE;
}

INT_PTR PageWindow::OnNotify(const NMHDR& header) {
    const bool refused = frame_.InBackground() || frame_.Closing();
    switch (header.code) {
        case PSN_SETACTIVE:
            // The wizard's title is the page's caption, from its template.
            SetWindowTextW(frame_.Sheet(), WindowText(window_).c_str());
            page_.ActivatePage();
            if (!shown_) {
                frame_.HoldButtons(true);
                SetTimer(window_, kShownTimer, kShownPollMs, nullptr);
            }
            return Result(0);
        case PSN_WIZNEXT:
            // -1 stays on the page; 0 goes on to the next.
            return Result(!refused && page_.HandleNext() && !frame_.Closing() ? 0 : -1);
        case PSN_WIZBACK:
            return Result(refused ? -1 : 0);
        case PSN_QUERYCANCEL:
            // In the middle of a search the sheet stays open until the search has ended: the
            // close request cancels the search, and the page then ends the wizard.
            if (frame_.InBackground()) {
                frame_.CancelBackground();
                return Result(TRUE);
            }
            return Result(FALSE);
        case LVN_ENDLABELEDITW:
            // The printer's name can be edited in place, but no edit is kept.
            return Result(FALSE);
        default:
            return FALSE;
    }
}

void PageWindow::OnShownTimer() {
    if (!IsWindowVisible(frame_.Sheet())) {
        return;
    }
    KillTimer(window_, kShownTimer);
    if (shown_ || frame_.Closing()) {
        return;
    }
    shown_ = true;
    UpdateWindow(frame_.Sheet());
    if (frame_.FirstOnScreen()) {
        OutputDebugStringA("nvinstall: the wizard is on screen\n");
    }
    if (pendingFocus_ != 0) {
        SetFocus(pendingFocus_, pendingField_);
    }
    page_.PageShown();
    frame_.HoldButtons(false);
}

// --- Controls ---

bool PageWindow::IsAddressControl(HWND control) const {
    WCHAR name[32] = {};
    GetClassNameW(control, name, 32);
    return _wcsicmp(name, WC_IPADDRESSW) == 0;
}

void PageWindow::SetText(int id, const Text& text) {
    if (HWND control = Item(id)) {
        SetWindowTextW(control, text.c_str());
    }
}

// The IPv4 address control reads as its four values dotted, a blank field as 0.
Text PageWindow::GetText(int id) {
    HWND control = Item(id);
    if (control == nullptr) {
        return Text();
    }
    if (IsAddressControl(control)) {
        const DWORD address = AddressOf(control);
        WCHAR dotted[16];
        swprintf(dotted, 16, L"%d.%d.%d.%d", FIRST_IPADDRESS(address), SECOND_IPADDRESS(address),
                 THIRD_IPADDRESS(address), FOURTH_IPADDRESS(address));
        return dotted;
    }
    return WindowText(control);
}

void PageWindow::Enable(int id, bool enabled) {
    if (HWND control = Item(id)) {
        EnableWindow(control, enabled ? TRUE : FALSE);
    }
}

void PageWindow::SetChecked(int id, bool checked) {
    CheckDlgButton(window_, id, checked ? BST_CHECKED : BST_UNCHECKED);
}

// Before the page is on screen the sheet still moves the focus itself when it shows the page:
// the request is made again once it is shown.
void PageWindow::SetFocus(int id, int field) {
    HWND control = Item(id);
    if (control == nullptr) {
        return;
    }
    if (!shown_) {
        pendingFocus_ = id;
        pendingField_ = field;
    }
    if (field >= 0 && IsAddressControl(control)) {
        SendMessageW(control, IPM_SETFOCUS, static_cast<WPARAM>(field), 0);
    } else {
        SendMessageW(window_, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(control), TRUE);
    }
}

// IPM_GETADDRESS reads a blank field as 0; a field whose edit holds no text is blank.
std::array<int, 4> PageWindow::AddressFields(int id) {
    HWND control = Item(id);
    if (control == nullptr) {
        return {kBlankField, kBlankField, kBlankField, kBlankField};
    }
    const DWORD address = AddressOf(control);
    std::array<int, 4> fields = {FIRST_IPADDRESS(address), SECOND_IPADDRESS(address),
                                 THIRD_IPADDRESS(address), FOURTH_IPADDRESS(address)};
    const std::vector<HWND> edits = FieldEdits(control);
    for (size_t i = 0; i < edits.size(); ++i) {
        if (GetWindowTextLengthW(edits[i]) == 0) {
            fields[i] = kBlankField;
        }
    }
    return fields;
}

// --- The report list ---

void PageWindow::ListSetUp(int id, const std::vector<Text>& headers, int columnWidth) {
    HWND list = Item(id);
    if (list == nullptr) {
        return;
    }
    const DWORD styles = LVS_EX_GRIDLINES | LVS_EX_FULLROWSELECT;
    ListView_SetExtendedListViewStyleEx(list, styles, styles);
    ListView_DeleteAllItems(list);
    while (ListView_DeleteColumn(list, 0)) {
    }
    for (size_t i = 0; i < headers.size(); ++i) {
        Text header = headers[i];
        LVCOLUMNW column = {};
        column.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT | LVCF_SUBITEM;
        column.fmt = LVCFMT_LEFT;
        column.cx = columnWidth;
        column.pszText = header.data();
        column.iSubItem = static_cast<int>(i);
        ListView_InsertColumn(list, static_cast<int>(i), &column);
    }
    ListView_SetTextBkColor(list, GetSysColor(COLOR_CAPTIONTEXT));
}

void PageWindow::ListDeleteAll(int id) {
    if (HWND list = Item(id)) {
        ListView_DeleteAllItems(list);
    }
}

void PageWindow::ListInsertRow(int id, int row, const Text& firstCell) {
    HWND list = Item(id);
    if (list == nullptr) {
        return;
    }
    Text text = firstCell;
    LVITEMW item = {};
    item.mask = LVIF_TEXT;
    item.iItem = row;
    item.pszText = text.data();
    ListView_InsertItem(list, &item);
}

void PageWindow::ListSetCell(int id, int row, int column, const Text& text) {
    if (HWND list = Item(id)) {
        Text copy = text;
        ListView_SetItemText(list, row, column, copy.data());
    }
}

int PageWindow::ListRowCount(int id) {
    HWND list = Item(id);
    return list != nullptr ? ListView_GetItemCount(list) : 0;
}

int PageWindow::ListFirstSelected(int id) {
    HWND list = Item(id);
    return list != nullptr ? ListView_GetNextItem(list, -1, LVNI_SELECTED) : -1;
}

int PageWindow::ListRowAbove(int id, int row) {
    HWND list = Item(id);
    return list != nullptr ? ListView_GetNextItem(list, row, LVNI_ABOVE) : -1;
}

// A cell's text, read into a buffer that grows until the text fits.
Text PageWindow::ListCell(int id, int row, int column) {
    HWND list = Item(id);
    if (list == nullptr) {
        return Text();
    }
    for (int capacity = 256; capacity <= 65536; capacity *= 4) {
        std::vector<WCHAR> buffer(static_cast<size_t>(capacity));
        LVITEMW item = {};
        item.iSubItem = column;
        item.pszText = buffer.data();
        item.cchTextMax = capacity;
        LRESULT copied = SendMessageW(list, LVM_GETITEMTEXTW, static_cast<WPARAM>(row),
                                      reinterpret_cast<LPARAM>(&item));
        if (copied < capacity - 1) {
            return Text(buffer.data(), static_cast<size_t>(copied > 0 ? copied : 0));
        }
    }
    return Text();
}

// --- The user ---

Answer PageWindow::Ask(const Message& message) {
    return ShowMessageBox(window_, message);
}

}  // namespace wizard::win32view
