// The Windows view of the wizards: a modal property sheet in wizard mode whose pages are the
// dialog templates of nvinstall.dll's resources, run on the calling thread.
//
// The sheet shows Back and Next (never Finish) and keeps Cancel as the pages set it. It calls
// the page logic as the Qt frame does: SetUpPage on WM_INITDIALOG, ActivatePage on every
// PSN_SETACTIVE, PageShown once the sheet is on screen and painted, HandleNext on PSN_WIZNEXT.
// A page's close request presses Cancel once its handler has returned.
//
// Work a page runs in the background (a search) runs on a worker thread while this thread keeps
// pumping its messages: the sheet is repainted, Back and Next are off, the busy cursor stays,
// and every key and click meant for the sheet is dropped rather than kept for later, except
// the ways to leave it: Escape, Alt+F4, the close box and a close request (PSN_QUERYCANCEL)
// cancel the work, and the page ends the wizard.
#pragma once

#include <functional>

#include "wizard/win32/win32_api.h"
#include "wizard/wizard_page.h"

namespace wizard::win32view {

class PageWindow;

// The state of one running sheet that its pages share.
class SheetFrame {
  public:
    // The sheet's window, once the first page is created: subclassed for the busy cursor.
    void Attach(HWND sheet);
    void Detach();
    HWND Sheet() const { return sheet_; }

    void SetFrameButtons(bool back, bool next);
    // Back and Next stay off while held: from a page's first activation until its PageShown
    // has run, so that nothing is pressed before the page's first work has begun.
    void HoldButtons(bool held);
    void EnableCancel(bool enabled);
    void RequestClose();
    bool Closing() const { return closing_; }
    // True the first time it is asked: the first page is on screen.
    bool FirstOnScreen() { return !onScreen_ && (onScreen_ = true); }
    void SetBusy(bool busy);
    // Work on a worker thread while this thread pumps messages; returns when it has finished:
    // false when the user cancelled it meanwhile, which called `cancel` once.
    bool RunInBackground(const std::function<void()>& work, const std::function<void()>& cancel);
    bool InBackground() const { return background_ > 0; }
    // The user leaves the sheet while work runs in the background: its cancel, once.
    void CancelBackground();

  private:
    static LRESULT CALLBACK SheetProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam,
                                      UINT_PTR id, DWORD_PTR self);
    // A message of the user's input to the sheet or one of its windows.
    bool IsInputForSheet(const MSG& msg) const;
    // One of that input that leaves the sheet: Escape, Alt+F4, a click on the close box.
    bool IsLeavingSheet(const MSG& msg) const;
    // The buttons the pages asked for, unless held or in the middle of background work.
    void ApplyButtons();

    HWND sheet_ = nullptr;
    DWORD buttons_ = 0;  // the PSWIZB_ flags the pages asked for last
    bool held_ = false;
    bool onScreen_ = false;
    bool closing_ = false;
    bool busy_ = false;
    int background_ = 0;
    const std::function<void()>* cancel_ = nullptr;  // of the innermost work
    bool cancelled_ = false;
};

class PropertySheetFrame : public WizardFrame {
  public:
    DWORD RunModal(const Text& caption, const std::vector<CWizardPage*>& pages) override;
};

}  // namespace wizard::win32view
