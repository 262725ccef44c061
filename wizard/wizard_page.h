// The framework of the two wizards: a sheet holds its pages and the finish flag; a frame (a
// view's modal wizard window) creates the pages' windows, shows one page at a time and calls the
// page's operations when the user acts.
#pragma once

#include <vector>

#include "wizard/wizard_view.h"

namespace wizard {

class CWizardSheet;

class CWizardPage {
  public:
    virtual ~CWizardPage() = default;

    // The dialog template the page is built from.
    virtual int TemplateId() const = 0;
    // Once, when the page's window is created, before the user can act.
    virtual void SetUpPage() = 0;
    // Each time the page is shown.
    virtual void ActivatePage() = 0;
    // Once, the first time the page is on screen (after its first ActivatePage, with the
    // frame's window shown): the place for work the user should see the page during.
    virtual void PageShown() {}
    // Next: true to go on to the following page, false to stay (or when the page ended the
    // wizard itself).
    virtual bool HandleNext() = 0;
    // A click on one of the page's buttons.
    virtual void HandleCommand(int) {}
    // A close request that reached the page.
    virtual void HandleClose() = 0;

    void SetSheet(CWizardSheet* sheet) { m_sheet = sheet; }
    // The frame gives each page its view when it creates the page's window.
    void SetView(WizardView* view) { m_view = view; }

  protected:
    // The cancel end: Cancel enabled, then a close request; the finish flag stays 0.
    void CancelEnd();
    // The finish end: the same, then the sheet's finish flag set to 1.
    void FinishEnd();
    // Whether the wizard goes on with a printer whose port name may already be registered:
    // true when no port of exactly that name exists, or when the user answers Yes to the
    // port-exists question; No starts the cancel end.
    bool AcceptPortName(const Text& portName, bool showBusy);

    CWizardSheet* m_sheet = nullptr;
    WizardView* m_view = nullptr;
};

// The settings page of both wizards: Back and Next, the chosen printer's settings shown again
// each time, Next (or a close request) finishes the wizard.
class CSettingsPage : public CWizardPage {
  public:
    void SetUpPage() override { ShowSettings(); }
    void ActivatePage() override;
    bool HandleNext() override;
    void HandleClose() override { FinishEnd(); }
    virtual void ShowSettings() = 0;
};

// Runs a sheet's pages modally: the toolkit's wizard frame.
class WizardFrame {
  public:
    virtual ~WizardFrame() = default;
    // Shows the pages until the frame closes: ERROR_SUCCESS. Where no wizard can be shown on
    // this thread (no display, no user interface), the Win32 code of the reason, after one line
    // that says so (ReportNoWizard).
    virtual DWORD RunModal(const Text& caption, const std::vector<CWizardPage*>& pages) = 0;
};

// The one line a frame writes when it cannot show the wizard: to standard error on Linux and to
// the debugger output, so that an installer that got "cancelled" back can find out why.
void ReportNoWizard(const char* reason);

class CWizardSheet {
  public:
    explicit CWizardSheet(Text caption) : m_caption(std::move(caption)) {}
    virtual ~CWizardSheet() = default;

    // Runs the frame modally; 1 when the user finished on the last page, 0 for every other
    // end, whatever the frame itself reports.
    int RunWizard(WizardFrame& frame);
    // ERROR_SUCCESS when the frame showed the wizard, else why it could not.
    DWORD FrameError() const { return m_frameError; }

    int m_finished = 0;

  protected:
    void AddPage(CWizardPage* page) {
        page->SetSheet(this);
        m_pages.push_back(page);
    }

  private:
    Text m_caption;
    std::vector<CWizardPage*> m_pages;
    DWORD m_frameError = ERROR_SUCCESS;
};

// The frame that the exports use: the process's toolkit (Qt on Linux). Tests may put another
// in its place.
WizardFrame& DefaultFrame();
void SetDefaultFrame(WizardFrame* frame);

}  // namespace wizard
