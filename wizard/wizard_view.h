// What a wizard page needs from its window and the frame around it, free of any toolkit: the
// Qt view on Linux and a Win32 property-sheet view implement it.
#pragma once

#include <array>
#include <functional>
#include <string>
#include <vector>

#include "platform/win32.h"

namespace wizard {

using Text = std::basic_string<WCHAR>;

enum class Buttons { kOk, kYesNo };
enum class Icon { kError, kWarning };  // MB_ICONHAND, MB_ICONEXCLAMATION
enum class Answer { kOk, kYes, kNo };

// What AddressFields gives for a field of the IPv4 address control that is left blank: no
// value at all, which every field's check refuses (a 0 typed into a field is a value).
constexpr int kBlankField = -1;

struct Message {
    Text title;
    Text text;
    Buttons buttons;
    Icon icon;
};

class WizardView {
  public:
    virtual ~WizardView() = default;

    // --- The frame ---
    // Back and Next (never Finish); the frame's Cancel stays as EnableCancel left it.
    virtual void SetFrameButtons(bool back, bool next) = 0;
    virtual void EnableCancel(bool enabled) = 0;
    // A close request: the frame closes as by Cancel once the current handler has returned.
    virtual void RequestClose() = 0;

    // --- Controls, by id ---
    virtual void SetText(int id, const Text& text) = 0;
    virtual Text GetText(int id) = 0;
    virtual void Enable(int id, bool enabled) = 0;
    virtual void SetChecked(int id, bool checked) = 0;
    // The focus to a control; for the IPv4 address control, to one of its fields (0..3).
    virtual void SetFocus(int id, int field = -1) = 0;
    // The four fields of the IPv4 address control, 0..255 each, or kBlankField for a field
    // left blank.
    virtual std::array<int, 4> AddressFields(int id) = 0;

    // --- The report list ---
    // Grid lines and full-row selection, no rows, these columns (left-aligned, given width).
    virtual void ListSetUp(int id, const std::vector<Text>& headers, int columnWidth) = 0;
    virtual void ListDeleteAll(int id) = 0;
    virtual void ListInsertRow(int id, int row, const Text& firstCell) = 0;
    virtual void ListSetCell(int id, int row, int column, const Text& text) = 0;
    virtual int ListRowCount(int id) = 0;
    // The selected row of the lowest index, or -1.
    virtual int ListFirstSelected(int id) = 0;
    // The list's own navigation: the row above `row`, or -1 where there is none.
    virtual int ListRowAbove(int id, int row) = 0;
    virtual Text ListCell(int id, int row, int column) = 0;

    // --- The user ---
    // A modal message box owned by the page; the button pressed.
    virtual Answer Ask(const Message& message) = 0;
    virtual void SetBusy(bool busy) = 0;
    // Runs `work` on a worker thread and returns on the page's thread once it has finished.
    // Meanwhile the wizard stays on screen and is repainted, the frame's Back and Next are
    // disabled (then set back as they were), and what the user types or clicks into the wizard
    // is discarded, never kept to act on later. The work must not touch the view.
    //
    // Only leaving the wizard is taken meanwhile: Escape or the frame's close button calls
    // `cancel` once, on the page's thread, which makes the work end soon; the wait for the work
    // goes on, and the result is false. The page then drops what the work produced and ends
    // the wizard as cancelled. True when the work ended without being cancelled.
    virtual bool RunInBackground(const std::function<void()>& work,
                                 const std::function<void()>& cancel) = 0;
    // The page's window, for discovery (null where a view has no native window).
    virtual HWND Window() = 0;
};

}  // namespace wizard
