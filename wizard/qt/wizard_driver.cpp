#include "wizard/qt/wizard_driver.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QApplication>
#include <QDialog>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QLineEdit>
#include <QStackedWidget>
#include <QTimer>

#include <algorithm>

#include "resources/wizard_ids.h"
#include "wizard/qt/qt_names.h"

namespace wizard::qtview {

namespace {

constexpr int kTickMs = 10;
// How long the wizard may stay open, idle, after the last step.
constexpr int kLingerTicks = 300;

int KeyFor(QChar c) {
    if (c.isDigit()) {
        return Qt::Key_0 + c.digitValue();
    }
    if (c.isLetter() && c.toUpper().unicode() >= 'A' && c.toUpper().unicode() <= 'Z') {
        return Qt::Key_A + (c.toUpper().unicode() - 'A');
    }
    switch (c.unicode()) {
        case '.':
            return Qt::Key_Period;
        case '-':
            return Qt::Key_Minus;
        case ':':
            return Qt::Key_Colon;
        case ' ':
            return Qt::Key_Space;
        default:
            return Qt::Key_unknown;
    }
}

QString Describe(const QMessageBox& box) {
    return box.windowTitle() + QStringLiteral(": ") + box.text();
}

}  // namespace

WizardDriver::WizardDriver(int stepTimeoutMs) : stepTimeoutTicks_(stepTimeoutMs / kTickMs) {}

// --- Steps ---

void WizardDriver::Do(const QString& what, int page, Action action) {
    Step step{Kind::kAct, what};
    step.page = page;
    step.action = std::move(action);
    steps_.push_back(std::move(step));
}

void WizardDriver::DoWhileBusy(const QString& what, Action action) {
    Step step{Kind::kAct, what};
    step.whileBusy = true;
    step.action = std::move(action);
    steps_.push_back(std::move(step));
}

void WizardDriver::TypeAddress(const QString& text) {
    Do(QStringLiteral("type %1 into the IPv4 address").arg(text), IDD_ADDRESS_PAGE, [text] {
        auto* radio = qobject_cast<QAbstractButton*>(Control(IDC_IP_RADIO));
        if (radio != nullptr && !radio->isChecked()) {
            radio->click();
        }
        QWidget* address = Control(IDC_IP_ADDRESS);
        if (address == nullptr) {
            return;
        }
        for (int i = 3; i >= 0; --i) {
            if (auto* field = address->findChild<QLineEdit*>(AddressFieldName(i))) {
                field->clear();
                field->setFocus(Qt::OtherFocusReason);
            }
        }
        Type(text);
    });
}

void WizardDriver::TypeHardwareAddress(const QString& text) {
    Do(QStringLiteral("type %1 into the hardware address").arg(text), IDD_ADDRESS_PAGE, [text] {
        auto* radio = qobject_cast<QAbstractButton*>(Control(IDC_HW_RADIO));
        if (radio != nullptr && !radio->isChecked()) {
            radio->click();
        }
        if (auto* edit = qobject_cast<QLineEdit*>(Control(IDC_HW_ADDRESS))) {
            edit->clear();
            edit->setFocus(Qt::OtherFocusReason);
        }
        Type(text);
    });
}

void WizardDriver::Click(int controlId) {
    Do(QStringLiteral("click %1").arg(ControlName(controlId)), kAnyPage, [controlId] {
        if (auto* button = qobject_cast<QAbstractButton*>(Control(controlId))) {
            button->click();
        }
    });
}

void WizardDriver::SelectRows(const std::vector<int>& rows) {
    QStringList names;
    for (int row : rows) {
        names << QString::number(row);
    }
    Do(QStringLiteral("select row %1").arg(names.join(QStringLiteral(", "))), IDD_LIST_PAGE,
       [rows] {
           auto* list = qobject_cast<QAbstractItemView*>(Control(IDC_PRINTER_LIST));
           if (list == nullptr) {
               return;
           }
           list->setFocus(Qt::MouseFocusReason);
           list->selectionModel()->clearSelection();
           if (!rows.empty()) {
               list->selectionModel()->setCurrentIndex(list->model()->index(rows.front(), 0),
                                                       QItemSelectionModel::NoUpdate);
           }
           for (int row : rows) {
               list->selectionModel()->select(
                   list->model()->index(row, 0),
                   QItemSelectionModel::Select | QItemSelectionModel::Rows);
           }
       });
}

void WizardDriver::Next() {
    Do(QStringLiteral("press Next"), kAnyPage, [] {
        if (QAbstractButton* next = FrameButton(kNextName)) {
            next->click();
        }
    });
}

void WizardDriver::Back() {
    Do(QStringLiteral("press Back"), kAnyPage, [] {
        if (QAbstractButton* back = FrameButton(kBackName)) {
            back->click();
        }
    });
}

void WizardDriver::Escape() {
    Do(QStringLiteral("press Escape"), kAnyPage, [] {
        if (QDialog* wizard = Wizard()) {
            QKeyEvent press(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
            QApplication::sendEvent(wizard, &press);
        }
    });
}

void WizardDriver::Answer(QMessageBox::StandardButton button, BoxCheck check) {
    QString name = button == QMessageBox::Yes  ? QStringLiteral("Yes")
                   : button == QMessageBox::No ? QStringLiteral("No")
                                               : QStringLiteral("OK");
    Step step{Kind::kAnswer, QStringLiteral("answer %1").arg(name)};
    step.check = std::move(check);
    step.button = button;
    steps_.push_back(std::move(step));
}

void WizardDriver::Wait(int ms) {
    Step step{Kind::kWait, QStringLiteral("wait %1 ms").arg(ms)};
    step.ticks = std::max(1, ms / kTickMs);
    steps_.push_back(std::move(step));
}

QString WizardDriver::Pending() const {
    return next_ < steps_.size() ? steps_[next_].what : QString();
}

// --- Running ---

void WizardDriver::Start() {
    Schedule();
}

// A new single-shot timer for every tick: a timer does not fire again while its own handler is
// still running, and a step's handler may be waiting in a message box for the next step.
void WizardDriver::Schedule() {
    QTimer::singleShot(kTickMs, &context_, [this] { Tick(); });
}

void WizardDriver::Tick() {
    QDialog* wizard = Wizard();
    QMessageBox* box = OpenMessageBox();
    if (!error_.isEmpty()) {
        CloseWhatIsOpen();
        if (wizard != nullptr || box != nullptr) {
            Schedule();
        }
        return;
    }
    if (next_ == steps_.size()) {
        if (box != nullptr) {
            Fail(QStringLiteral("a message box after the last step: ") + Describe(*box));
        } else if (wizard != nullptr && ++waited_ > kLingerTicks) {
            Fail(QStringLiteral("the wizard is still open after the last step"));
        }
        if (wizard != nullptr || box != nullptr) {
            Schedule();
        }
        return;
    }
    Schedule();
    Step& step = steps_[next_];
    if (step.kind == Kind::kWait) {
        if (++waited_ >= step.ticks) {
            waited_ = 0;
            ++next_;
        }
        return;
    }
    if (box != nullptr && step.kind != Kind::kAnswer) {
        Fail(QStringLiteral("a message box where none was expected (before: %1): %2")
                 .arg(step.what, Describe(*box)));
        return;
    }
    bool ready = step.kind == Kind::kAnswer
                     ? box != nullptr
                     : wizard != nullptr && box == nullptr && Busy() == step.whileBusy &&
                           (step.page == kAnyPage || CurrentPage() == step.page);
    if (!ready) {
        if (++waited_ > stepTimeoutTicks_) {
            Fail(QStringLiteral("timed out waiting to %1").arg(step.what));
        }
        return;
    }
    waited_ = 0;
    ++next_;
    if (step.kind == Kind::kAnswer) {
        QAbstractButton* button = box->button(step.button);
        if (button == nullptr) {
            Fail(QStringLiteral("no button to %1 in the message box %2")
                     .arg(step.what, Describe(*box)));
            return;
        }
        if (step.check) {
            step.check(*box);
        }
        Note(QStringLiteral("%1 to the message box %2").arg(step.what, Describe(*box)));
        button->click();
        return;
    }
    Note(step.what);
    Action action = step.action;  // the step list may not be touched while the action runs
    action();
}

void WizardDriver::Fail(const QString& why) {
    error_ = why;
    Note(QStringLiteral("stopped: ") + why);
    CloseWhatIsOpen();
}

void WizardDriver::Note(const QString& line) {
    log_ << line;
    if (echo_) {
        echo_(line);
    }
}

void WizardDriver::CloseWhatIsOpen() {
    if (QMessageBox* box = OpenMessageBox()) {
        QAbstractButton* no = box->button(QMessageBox::No);
        QAbstractButton* ok = box->button(QMessageBox::Ok);
        if (no != nullptr) {
            no->click();
        } else if (ok != nullptr) {
            ok->click();
        } else {
            box->reject();
        }
        return;
    }
    if (QDialog* wizard = Wizard()) {
        wizard->reject();
    }
}

// --- The wizard's widgets ---

QDialog* WizardDriver::Wizard() {
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (widget->objectName() == QLatin1String(kWizardName) && widget->isVisible()) {
            return qobject_cast<QDialog*>(widget);
        }
    }
    return nullptr;
}

int WizardDriver::CurrentPage() {
    QDialog* wizard = Wizard();
    auto* stack = wizard != nullptr ? wizard->findChild<QStackedWidget*>() : nullptr;
    QWidget* page = stack != nullptr ? stack->currentWidget() : nullptr;
    if (page == nullptr) {
        return 0;
    }
    const QLatin1String prefix(kPagePrefix);
    return page->objectName().startsWith(prefix) ? page->objectName().mid(prefix.size()).toInt()
                                                 : 0;
}

QWidget* WizardDriver::Control(int id) {
    QDialog* wizard = Wizard();
    auto* stack = wizard != nullptr ? wizard->findChild<QStackedWidget*>() : nullptr;
    QWidget* page = stack != nullptr ? stack->currentWidget() : nullptr;
    return page != nullptr ? page->findChild<QWidget*>(ControlName(id)) : nullptr;
}

QAbstractButton* WizardDriver::FrameButton(const char* name) {
    QDialog* wizard = Wizard();
    return wizard != nullptr ? wizard->findChild<QAbstractButton*>(QLatin1String(name),
                                                                   Qt::FindDirectChildrenOnly)
                             : nullptr;
}

bool WizardDriver::Busy() {
    const QCursor* cursor = QApplication::overrideCursor();
    return cursor != nullptr && cursor->shape() == Qt::WaitCursor;
}

QMessageBox* WizardDriver::OpenMessageBox() {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    return box != nullptr && box->isVisible() ? box : nullptr;
}

void WizardDriver::Type(const QString& text) {
    for (QChar c : text) {
        // The wizard's focus widget is known even while its window is not the active one.
        QDialog* wizard = Wizard();
        QWidget* target = wizard != nullptr ? wizard->focusWidget() : QApplication::focusWidget();
        if (target == nullptr) {
            return;
        }
        int key = KeyFor(c);
        QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, QString(c));
        QApplication::sendEvent(target, &press);
        QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier, QString(c));
        QApplication::sendEvent(target, &release);
    }
}

}  // namespace wizard::qtview
