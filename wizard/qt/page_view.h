// The view of one page: the page logic's calls on its controls, by id, go to the widgets of
// its TemplatePage; the calls on the frame, the message boxes and the busy cursor go to the
// wizard dialog.
#pragma once

#include "wizard/qt/template_page.h"
#include "wizard/wizard_view.h"

namespace wizard::qtview {

class WizardDialog;

class PageView : public WizardView {
  public:
    PageView(WizardDialog& frame, TemplatePage& page) : frame_(frame), page_(page) {}

    void SetFrameButtons(bool back, bool next) override;
    void EnableCancel(bool enabled) override;
    void RequestClose() override;

    // Calls on an id the page does not have do nothing (and read as empty), as calls on a
    // missing dialog item do in Win32.
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
    void SetBusy(bool busy) override;
    bool RunInBackground(const std::function<void()>& work,
                         const std::function<void()>& cancel) override;
    // Qt gives child widgets no native window, and the search only passes the handle along.
    HWND Window() override { return nullptr; }

  private:
    WizardDialog& frame_;
    TemplatePage& page_;
};

// Between the page logic's UTF-16 and Qt's.
QString ToQString(const Text& text);
Text FromQString(const QString& text);

}  // namespace wizard::qtview
