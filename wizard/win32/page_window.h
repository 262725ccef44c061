// One page of the property sheet: the dialog procedure of its template and the page logic's
// view of it. Controls are reached by their ids on the page's dialog.
#pragma once

#include "wizard/win32/sheet_frame.h"
#include "wizard/wizard_view.h"

namespace wizard::win32view {

class PageWindow : public WizardView {
  public:
    PageWindow(SheetFrame& frame, CWizardPage& page) : frame_(frame), page_(page) {}

    // The dialog procedure of every page; the PROPSHEETPAGE's lParam is the PageWindow.
    static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

    void SetFrameButtons(bool back, bool next) override { frame_.SetFrameButtons(back, next); }
    void EnableCancel(bool enabled) override { frame_.EnableCancel(enabled); }
    void RequestClose() override { frame_.RequestClose(); }

    void SetText(int id, const Text& text) override;
    Text GetText(int id) override;
    void Enable(int id, bool enabled) override;
    void SetChecked(int id, bool checked) override;
    void SetFocus(int id, int field = -1) override;
    std::array<int, 4> AddressFields(int id) override;

    void ListSetUp(int id, const std::vector<Text>& headers, int columnWidth) override;
    void ListDeleteAll(int id) override;
    void ListInsertRow(int id, int row, const Text& firstCell) override;
    void ListSetCell(int id, int row, int column, const Text& text) override;
    int ListRowCount(int id) override;
    int ListFirstSelected(int id) override;
    int ListRowAbove(int id, int row) override;
    Text ListCell(int id, int row, int column) override;

    Answer Ask(const Message& message) override;
    void SetBusy(bool busy) override { frame_.SetBusy(busy); }
    bool RunInBackground(const std::function<void()>& work,
                         const std::function<void()>& cancel) override {
        return frame_.RunInBackground(work, cancel);
    }
    HWND Window() override { return window_; }

  private:
    INT_PTR OnMessage(UINT message, WPARAM wParam, LPARAM lParam);
    // The answer to a notification; TRUE when it was handled.
    INT_PTR OnNotify(const NMHDR& header);
    INT_PTR Result(LONG_PTR result);
    // Once the sheet is on screen and painted: PageShown, and the focus a page asked for before.
    void OnShownTimer();
    bool IsAddressControl(HWND control) const;
    HWND Item(int id) const { return GetDlgItem(window_, id); }

    SheetFrame& frame_;
    CWizardPage& page_;
    HWND window_ = nullptr;
    bool shown_ = false;
    int pendingFocus_ = 0;  // a control id the page gave the focus to before it was shown
    int pendingField_ = -1;
};

}  // namespace wizard::win32view
