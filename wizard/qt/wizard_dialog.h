// The wizard frame: a modal dialog that shows one page at a time above the buttons Back, Next
// and Cancel (there is no Finish button; the pages enable Back and Next and keep Cancel
// disabled). It calls the pages' operations as a Win32 property sheet in wizard mode does:
// every page gets its view when the frame is built, SetUpPage runs the first time a page is
// shown and ActivatePage every time; Next asks the page and moves on when it says so; Back
// shows the previous page; PageShown runs once a page is first on screen. A page's close request
// closes the frame once the page's handler has returned. Escape, Cancel and the window's close
// button end the wizard as cancelled.
//
// Work that a page runs in the background (a search) runs on a worker thread while the frame
// keeps running its event loop: the window is repainted, Back and Next are off, and every key,
// click and close request meant for the wizard is dropped, so nothing is acted on later, except
// Escape and the window's close button: they cancel the work, and the page ends the wizard.
#pragma once

#include <QDialog>

#include <functional>
#include <memory>
#include <vector>

#include "wizard/qt/dialog_units.h"
#include "wizard/qt/page_view.h"
#include "wizard/wizard_page.h"

class QPushButton;
class QStackedWidget;

namespace wizard::qtview {

class WizardDialog : public QDialog {
  public:
    // `caption` is the title for a page whose template has none.
    WizardDialog(const Text& caption, const std::vector<CWizardPage*>& pages);
    ~WizardDialog() override;

    // Builds the first page (its set-up runs before the window appears) and runs the dialog
    // modally until it closes.
    void Run();

    // For the pages' views.
    void SetFrameButtons(bool back, bool next);
    void EnableCancel(bool enabled);
    void RequestClose();
    // A modal message box owned by the dialog; the busy cursor is lifted while it is open.
    Answer Ask(const Message& message);
    void SetBusy(bool busy);
    // The work on a worker thread while the dialog's loop runs; false when the user cancelled
    // it (Escape, the window's close button), which calls `cancel` and still waits for it.
    bool RunInBackground(const std::function<void()>& work, const std::function<void()>& cancel);

    BaseUnits Units() const { return units_; }

  protected:
    // Installed on the application while work runs in the background: drops the user's input
    // to the wizard.
    bool eventFilter(QObject* watched, QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

  private:
    // The user leaves the wizard while work runs in the background: its cancel, once.
    void CancelBackground();
    void Show(size_t index);
    void RunPageShown(size_t index);
    // Runs a page operation; a close request made inside it closes the dialog once the
    // outermost operation has returned.
    void Dispatch(const std::function<void()>& operation);
    void Next();
    void Back();
    void Command(size_t page, int id);
    void LayOut(QSize pageSize);

    Text caption_;
    BaseUnits units_;
    std::vector<CWizardPage*> pages_;
    std::vector<std::unique_ptr<PageView>> views_;
    std::vector<TemplatePage*> widgets_;
    std::vector<bool> setUp_;
    std::vector<bool> shown_;
    QStackedWidget* stack_ = nullptr;
    QPushButton* back_ = nullptr;
    QPushButton* next_ = nullptr;
    QPushButton* cancel_ = nullptr;
    size_t current_ = 0;
    int depth_ = 0;
    bool running_ = false;
    bool closeRequested_ = false;
    bool busy_ = false;
    int background_ = 0;                                 // work running in the background (nested)
    const std::function<void()>* cancelWork_ = nullptr;  // of the innermost work
    bool cancelled_ = false;
    bool painted_ = false;
};

}  // namespace wizard::qtview
