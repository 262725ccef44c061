// Drives the wizard on screen as a user would, one step after the other, from the event loop:
// every 10 ms it looks whether the next step can run, so steps run inside the nested loop of a
// message box or of a search too. A step waits until the wizard shows its page with no message
// box over it and no busy cursor (a search running); an answer waits until a message box is
// open. A message box that no step expects, a step that
// waits too long, or a wizard still open after the last step stop the driver: it records why
// and closes the message box (No, or OK) and then the wizard (Escape, a cancel).
//
// It finds the widgets by their object names only (qt_names.h), so it drives the wizard of the
// loaded libnvinstall.so as well as one built into a test.
#pragma once

#include <QMessageBox>
#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>
#include <vector>

class QAbstractButton;
class QDialog;

namespace wizard::qtview {

class WizardDriver {
  public:
    using Action = std::function<void()>;
    using BoxCheck = std::function<void(QMessageBox&)>;
    static constexpr int kAnyPage = 0;

    explicit WizardDriver(int stepTimeoutMs = 30000);

    // --- Steps, run in the order they were added ---
    // Any action, once the wizard shows `page` (a template id, or kAnyPage).
    void Do(const QString& what, int page, Action action);
    // Any action, once the wizard shows the busy cursor: while a search runs.
    void DoWhileBusy(const QString& what, Action action);
    // On the address page: IPv4 mode (its radio button clicked if needed), the four fields
    // blanked, then the text typed key by key from the first field.
    void TypeAddress(const QString& text);
    // On the address page: hardware mode, the edit blanked, the text typed.
    void TypeHardwareAddress(const QString& text);
    // A click on a button of the page shown.
    void Click(int controlId);
    // On the list page: exactly these rows selected.
    void SelectRows(const std::vector<int>& rows);
    void Next();
    void Back();
    // The Escape key on the wizard.
    void Escape();
    // Once a message box is open: `check` sees it, then `button` is pressed.
    void Answer(QMessageBox::StandardButton button, BoxCheck check = {});
    // Lets the event loop run for about `ms` milliseconds (a window gets painted, someone
    // watching can follow); a message box that opens meanwhile waits for the next step.
    void Wait(int ms);

    void Start();
    // Every step ran and nothing went wrong.
    bool Finished() const { return error_.isEmpty() && next_ == steps_.size(); }
    // Why the driver stopped early; empty when it did not.
    const QString& Error() const { return error_; }
    // What the first step that did not run would have done; empty when all ran.
    QString Pending() const;
    // Every step as it ran, and the message boxes answered.
    const QStringList& Log() const { return log_; }
    // Also hands each log line to `echo` as it happens.
    void SetEcho(std::function<void(const QString&)> echo) { echo_ = std::move(echo); }

    // --- The wizard's widgets ---
    static QDialog* Wizard();  // the wizard on screen, or null
    static int CurrentPage();  // the template id of the page shown, or 0
    static QWidget* Control(int id);
    static QAbstractButton* FrameButton(const char* name);
    static QMessageBox* OpenMessageBox();
    // The busy cursor is on: the wizard is searching.
    static bool Busy();
    // A key press and release per character, each to the widget that has the focus then.
    static void Type(const QString& text);

  private:
    enum class Kind { kAct, kAnswer, kWait };
    struct Step {
        Kind kind;
        QString what;
        int page = kAnyPage;
        bool whileBusy = false;
        Action action;
        BoxCheck check;
        QMessageBox::StandardButton button = QMessageBox::NoButton;
        int ticks = 0;  // kWait
    };

    void Schedule();
    void Tick();
    void Fail(const QString& why);
    void Note(const QString& line);
    void CloseWhatIsOpen();

    QObject context_;  // pending ticks end with the driver
    std::vector<Step> steps_;
    size_t next_ = 0;
    int stepTimeoutTicks_;
    int waited_ = 0;
    QString error_;
    QStringList log_;
    std::function<void(const QString&)> echo_;
};

}  // namespace wizard::qtview
