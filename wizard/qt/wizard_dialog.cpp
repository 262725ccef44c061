#include "wizard/qt/wizard_dialog.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCloseEvent>
#include <QEventLoop>
#include <QFrame>
#include <QKeyEvent>
#include <QMessageBox>
#include <QPushButton>
#include <QStackedWidget>
#include <QTimer>
#include <QWindow>

#include <thread>

#include "resources/wizard_templates.h"
#include "wizard/qt/frame_texts.h"
#include "wizard/qt/qt_names.h"

namespace wizard::qtview {

namespace {

// The frame around the pages, in dialog units: a margin, the page, an etched line, and a row
// of 50 x 14 buttons at the right (Back and Next side by side, Cancel a margin apart).
constexpr int kMargin = 7;
constexpr int kButtonWidth = 50;
constexpr int kButtonHeight = 14;
constexpr int kLineGap = 4;  // from the page to the line

// Every page shares the first page's font; a sheet without templates falls back to this one.
const wiztemplate::Template& FirstTemplate(const std::vector<CWizardPage*>& pages) {
    const wiztemplate::Template* first =
        pages.empty() ? nullptr : wiztemplate::Find(pages.front()->TemplateId());
    return first != nullptr ? *first : wiztemplate::kTemplates[0];
}

QPushButton* NewFrameButton(const char16_t* text, const char* name, QWidget* parent) {
    auto* button = new QPushButton(QString::fromUtf16(text), parent);
    button->setObjectName(QString::fromLatin1(name));
    return button;
}

bool IsUserInput(QEvent::Type type) {
    switch (type) {
        case QEvent::KeyPress:
        case QEvent::KeyRelease:
        case QEvent::ShortcutOverride:
        case QEvent::Shortcut:
        case QEvent::InputMethod:
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
        case QEvent::MouseButtonDblClick:
        case QEvent::Wheel:
        case QEvent::ContextMenu:
        case QEvent::TouchBegin:
        case QEvent::TouchUpdate:
        case QEvent::TouchEnd:
        case QEvent::TabletPress:
        case QEvent::TabletRelease:
        case QEvent::Drop:
            return true;
        default:
            return false;
    }
}

// A message box as Windows shows one: a Yes/No question has no Cancel, so Escape and the
// window's close button do nothing and the user answers with one of the two buttons. A box
// with OK alone closes on Escape, as OK.
class WizardMessageBox : public QMessageBox {
  public:
    WizardMessageBox(const Message& message, QWidget* parent)
        : QMessageBox(
              message.icon == wizard::Icon::kError ? QMessageBox::Critical : QMessageBox::Warning,
              ToQString(message.title), ToQString(message.text),
              message.buttons == Buttons::kYesNo ? QMessageBox::Yes | QMessageBox::No
                                                 : QMessageBox::Ok,
              parent),
          question_(message.buttons == Buttons::kYesNo) {
        setTextFormat(Qt::PlainText);
        if (question_) {
            button(QMessageBox::Yes)->setText(QString::fromUtf16(kYesText));
            button(QMessageBox::No)->setText(QString::fromUtf16(kNoText));
            setDefaultButton(QMessageBox::Yes);
            setWindowFlag(Qt::WindowCloseButtonHint, false);
        } else {
            button(QMessageBox::Ok)->setText(QString::fromUtf16(kOkText));
        }
    }

  protected:
    void keyPressEvent(QKeyEvent* event) override {
        if (question_ && event->matches(QKeySequence::Cancel)) {
            event->accept();
            return;
        }
        QMessageBox::keyPressEvent(event);
    }
    void closeEvent(QCloseEvent* event) override {
        if (question_) {
            event->ignore();
            return;
        }
        QMessageBox::closeEvent(event);
    }

  private:
    bool question_;
};

}  // namespace

WizardDialog::WizardDialog(const Text& caption, const std::vector<CWizardPage*>& pages)
    : QDialog(nullptr, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                           Qt::WindowCloseButtonHint),
      caption_(caption),
      pages_(pages),
      setUp_(pages.size(), false),
      shown_(pages.size(), false) {
    setObjectName(QString::fromLatin1(kWizardName));
    const wiztemplate::Template& first = FirstTemplate(pages);
    setFont(TemplateFont(first));
    units_ = FontBaseUnits(font());

    // The pages first, the frame's buttons after them: the tab order of a property sheet.
    stack_ = new QStackedWidget(this);
    QSize pageSize = MapDialogRect(0, 0, first.width, first.height, units_).size();
    for (CWizardPage* page : pages_) {
        const wiztemplate::Template* dialog = wiztemplate::Find(page->TemplateId());
        auto* widget = new TemplatePage(dialog != nullptr ? *dialog : first, units_, stack_);
        pageSize = pageSize.expandedTo(widget->size());
        stack_->addWidget(widget);
        widgets_.push_back(widget);
        views_.push_back(std::make_unique<PageView>(*this, *widget));
        page->SetView(views_.back().get());
    }
    back_ = NewFrameButton(kBackText, kBackName, this);
    next_ = NewFrameButton(kNextText, kNextName, this);
    cancel_ = NewFrameButton(kCancelText, kCancelName, this);
    next_->setDefault(true);
    connect(back_, &QAbstractButton::clicked, this, [this] { Back(); });
    connect(next_, &QAbstractButton::clicked, this, [this] { Next(); });
    connect(cancel_, &QAbstractButton::clicked, this, [this] { reject(); });
    for (size_t index = 0; index < widgets_.size(); ++index) {
        const wiztemplate::Template& dialog = widgets_[index]->Dialog();
        for (int i = 0; i < dialog.controlCount; ++i) {
            const wiztemplate::Control& control = dialog.controls[i];
            auto* button = dynamic_cast<QAbstractButton*>(widgets_[index]->Control(control.id));
            if (control.id >= 0 && button != nullptr) {
                connect(button, &QAbstractButton::clicked, this,
                        [this, index, id = control.id] { Command(index, id); });
            }
        }
    }
    LayOut(pageSize);
}

WizardDialog::~WizardDialog() {
    SetBusy(false);
    // The pages outlive their views: leave them none to call.
    for (CWizardPage* page : pages_) {
        page->SetView(nullptr);
    }
}

void WizardDialog::LayOut(QSize pageSize) {
    auto px = [this](int du) { return MulDiv(du, units_.x, 4); };
    auto py = [this](int du) { return MulDiv(du, units_.y, 8); };
    stack_->setGeometry(QRect(QPoint(px(kMargin), py(kMargin)), pageSize));
    int lineY = stack_->geometry().bottom() + 1 + py(kLineGap);
    auto* line = new QFrame(this);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    line->setGeometry(px(kMargin), lineY, pageSize.width(), 2);
    int buttonsY = lineY + 2 + py(kMargin);
    int right = px(kMargin) + pageSize.width();
    QSize button(px(kButtonWidth), py(kButtonHeight));
    cancel_->setGeometry(QRect(QPoint(right - button.width(), buttonsY), button));
    next_->setGeometry(
        QRect(QPoint(cancel_->x() - px(kMargin) - button.width(), buttonsY), button));
    back_->setGeometry(QRect(QPoint(next_->x() - button.width(), buttonsY), button));
    setFixedSize(right + px(kMargin), buttonsY + button.height() + py(kMargin));
}

void WizardDialog::Run() {
    if (pages_.empty()) {
        return;
    }
    Show(0);
    if (closeRequested_) {
        return;  // a page ended the wizard while it was being built
    }
    running_ = true;
    exec();
    running_ = false;
}

void WizardDialog::Show(size_t index) {
    current_ = index;
    stack_->setCurrentIndex(static_cast<int>(index));
    const WCHAR* title = widgets_[index]->Dialog().caption;
    setWindowTitle(title != nullptr && *title != 0 ? QString::fromUtf16(title)
                                                   : ToQString(caption_));
    CWizardPage* page = pages_[index];
    if (!setUp_[index]) {
        setUp_[index] = true;
        Dispatch([page] { page->SetUpPage(); });
    }
    if (!closeRequested_) {
        Dispatch([page] { page->ActivatePage(); });
    }
    if (closeRequested_ || shown_[index]) {
        return;
    }
    shown_[index] = true;
    if (isVisible()) {
        RunPageShown(index);
    } else {
        // The first page is set up before the window appears: it is shown once the dialog's
        // event loop runs.
        QTimer::singleShot(0, this, [this, index] { RunPageShown(index); });
    }
}

void WizardDialog::RunPageShown(size_t index) {
    if (!closeRequested_ && index == current_) {
        CWizardPage* page = pages_[index];
        Dispatch([page] { page->PageShown(); });
    }
}

void WizardDialog::Dispatch(const std::function<void()>& operation) {
    ++depth_;
    operation();
    --depth_;
    if (depth_ == 0 && closeRequested_ && running_) {
        done(QDialog::Rejected);
    }
}

void WizardDialog::Next() {
    if (closeRequested_ || !next_->isEnabled()) {
        return;
    }
    Dispatch([this] {
        if (pages_[current_]->HandleNext() && !closeRequested_ && current_ + 1 < pages_.size()) {
            Show(current_ + 1);
        }
    });
}

void WizardDialog::Back() {
    if (!closeRequested_ && back_->isEnabled() && current_ > 0) {
        Dispatch([this] { Show(current_ - 1); });
    }
}

void WizardDialog::Command(size_t page, int id) {
    if (!closeRequested_ && page == current_) {
        Dispatch([this, id] { pages_[current_]->HandleCommand(id); });
    }
}

void WizardDialog::SetFrameButtons(bool back, bool next) {
    back_->setEnabled(back);
    next_->setEnabled(next);
}

void WizardDialog::EnableCancel(bool enabled) {
    cancel_->setEnabled(enabled);
}

void WizardDialog::RequestClose() {
    closeRequested_ = true;
}

void WizardDialog::SetBusy(bool busy) {
    if (busy == busy_) {
        return;
    }
    busy_ = busy;
    if (busy) {
        QApplication::setOverrideCursor(Qt::WaitCursor);
    } else {
        QApplication::restoreOverrideCursor();
    }
}

Answer WizardDialog::Ask(const Message& message) {
    WizardMessageBox box(message, this);
    // The user answers with the ordinary pointer, as over a Win32 message box during a wait.
    bool wasBusy = busy_;
    SetBusy(false);
    box.exec();
    SetBusy(wasBusy);
    if (message.buttons != Buttons::kYesNo) {
        return Answer::kOk;
    }
    // A box closed without an answer (only a program can do that) counts as No, the answer
    // that writes no port.
    return box.clickedButton() == box.button(QMessageBox::Yes) ? Answer::kYes : Answer::kNo;
}

bool WizardDialog::RunInBackground(const std::function<void()>& work,
                                   const std::function<void()>& cancel) {
    const bool back = back_->isEnabled();
    const bool next = next_->isEnabled();
    SetFrameButtons(false, false);
    if (background_++ == 0) {
        qApp->installEventFilter(this);
    }
    const std::function<void()>* outerCancel = cancelWork_;
    const bool outerCancelled = cancelled_;
    cancelWork_ = &cancel;
    cancelled_ = false;
    {
        QEventLoop loop;
        std::thread worker([&work, &loop] {
            work();
            QMetaObject::invokeMethod(
                &loop, [&loop] { loop.quit(); }, Qt::QueuedConnection);
        });
        loop.exec();
        worker.join();
    }
    const bool finished = !cancelled_;
    cancelWork_ = outerCancel;
    cancelled_ = outerCancelled;
    if (--background_ == 0) {
        qApp->removeEventFilter(this);
    }
    SetFrameButtons(back, next);
    return finished;
}

void WizardDialog::CancelBackground() {
    if (background_ > 0 && cancelWork_ != nullptr && !cancelled_) {
        cancelled_ = true;
        (*cancelWork_)();
    }
}

// During background work every input to the wizard is dropped; Escape cancels the work.
bool WizardDialog::eventFilter(QObject* watched, QEvent* event) {
    if (background_ > 0 && IsUserInput(event->type())) {
        auto* widget = qobject_cast<QWidget*>(watched);
        if ((widget != nullptr && widget->window() == this) ||
            (watched == windowHandle() && windowHandle() != nullptr)) {
            if (event->type() == QEvent::KeyPress &&
                static_cast<QKeyEvent*>(event)->matches(QKeySequence::Cancel)) {
                CancelBackground();
            }
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

// The first paint is traced: the moment the user sees the wizard.
void WizardDialog::paintEvent(QPaintEvent* event) {
    if (!painted_) {
        painted_ = true;
        OutputDebugStringA("nvinstall: the wizard is on screen\n");
    }
    QDialog::paintEvent(event);
}

// The window's close button during background work cancels it; the page then ends the wizard.
void WizardDialog::closeEvent(QCloseEvent* event) {
    if (background_ > 0) {
        event->ignore();
        CancelBackground();
        return;
    }
    QDialog::closeEvent(event);
}

}  // namespace wizard::qtview
