#include "wizard/qt/address_edit.h"

#include <QApplication>
#include <QClipboard>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QKeySequence>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QRegularExpression>
#include <QRegularExpressionValidator>
#include <QStyle>
#include <QStyleOptionFrame>

#include "wizard/qt/qt_names.h"

namespace wizard::qtview {

namespace {

constexpr int kFields = 4;
constexpr int kFieldDigits = 3;
constexpr int kFieldMax = 255;

int FieldValue(const QLineEdit* field) {
    bool ok = false;
    int value = field->text().toInt(&ok);
    return ok ? std::min(value, kFieldMax) : 0;
}

}  // namespace

AddressEdit::AddressEdit(QWidget* parent) : QWidget(parent) {
    auto* layout = new QHBoxLayout(this);
    int frame = style()->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, this);
    layout->setContentsMargins(frame + 1, frame, frame + 1, frame);
    layout->setSpacing(0);
    auto* digits =
        new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]{0,3}")), this);
    for (int i = 0; i < kFields; ++i) {
        if (i > 0) {
            auto* dot = new QLabel(QStringLiteral("."), this);
            dot->setAlignment(Qt::AlignCenter);
            layout->addWidget(dot);
        }
        auto* field = new QLineEdit(this);
        field->setObjectName(AddressFieldName(i));
        field->setFrame(false);
        field->setAlignment(Qt::AlignCenter);
        field->setMaxLength(kFieldDigits);
        field->setValidator(digits);
        // The fields share the control's width, however narrow the template makes it.
        field->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
        // One tab stop for the whole control; the other fields take the focus by click or by
        // typing across.
        field->setFocusPolicy(i == 0 ? Qt::StrongFocus : Qt::ClickFocus);
        field->installEventFilter(this);
        connect(field, &QLineEdit::textEdited, this, [this, i] { Edited(i); });
        layout->addWidget(field, 1);
        fields_[static_cast<size_t>(i)] = field;
    }
    setFocusProxy(fields_[0]);
}

std::array<int, 4> AddressEdit::Fields() const {
    std::array<int, 4> values{};
    for (size_t i = 0; i < values.size(); ++i) {
        values[i] = FieldValue(fields_[i]);
    }
    return values;
}

bool AddressEdit::IsBlank(int field) const {
    return fields_[static_cast<size_t>(field)]->text().isEmpty();
}

QString AddressEdit::Text() const {
    std::array<int, 4> values = Fields();
    return QStringLiteral("%1.%2.%3.%4")
        .arg(values[0])
        .arg(values[1])
        .arg(values[2])
        .arg(values[3]);
}

void AddressEdit::SetText(const QString& text) {
    Clear();
    const QStringList parts = text.split(QLatin1Char('.'));
    for (int i = 0; i < kFields && i < parts.size(); ++i) {
        bool ok = false;
        int value = parts[i].trimmed().toInt(&ok);
        if (ok && value >= 0) {
            fields_[static_cast<size_t>(i)]->setText(QString::number(std::min(value, kFieldMax)));
        }
    }
}

void AddressEdit::Clear() {
    for (QLineEdit* field : fields_) {
        field->clear();
    }
}

void AddressEdit::FocusField(int field) {
    if (field < 0 || field >= kFields) {
        return;
    }
    QLineEdit* target = fields_[static_cast<size_t>(field)];
    target->setFocus(Qt::OtherFocusReason);
    target->selectAll();
}

int AddressEdit::FieldOf(QObject* object) const {
    for (int i = 0; i < kFields; ++i) {
        if (fields_[static_cast<size_t>(i)] == object) {
            return i;
        }
    }
    return -1;
}

// After each change the user makes: a value above 255 becomes 255; the third digit moves on.
void AddressEdit::Edited(int field) {
    QLineEdit* edit = fields_[static_cast<size_t>(field)];
    if (edit->text().toInt() > kFieldMax) {
        edit->setText(QString::number(kFieldMax));
    }
    if (edit->text().size() == kFieldDigits && edit->cursorPosition() == kFieldDigits &&
        field + 1 < kFields) {
        FocusField(field + 1);
    }
}

bool AddressEdit::eventFilter(QObject* watched, QEvent* event) {
    int field = FieldOf(watched);
    if (field >= 0 && (event->type() == QEvent::FocusIn || event->type() == QEvent::FocusOut)) {
        update();  // the panel shows whether one of its fields has the focus
    }
    if (field < 0 || event->type() != QEvent::KeyPress) {
        return QWidget::eventFilter(watched, event);
    }
    auto* key = static_cast<QKeyEvent*>(event);
    QLineEdit* edit = fields_[static_cast<size_t>(field)];
    bool atStart = edit->cursorPosition() == 0 && !edit->hasSelectedText();
    bool atEnd = edit->cursorPosition() == edit->text().size() && !edit->hasSelectedText();
    if (key->matches(QKeySequence::Paste)) {
        QString pasted = QApplication::clipboard()->text().trimmed();
        if (pasted.contains(QLatin1Char('.'))) {
            SetText(pasted);
            FocusField(kFields - 1);
            return true;
        }
        return false;
    }
    switch (key->key()) {
        case Qt::Key_Period:
        case Qt::Key_Space:
            // A dot ends a number the user has typed into the field. In a blank field, or in
            // one whose whole text is selected (entered by Tab, or just reached by a third
            // digit), the user is about to type over it: the dot is ignored there, so that an
            // address typed anew lands field by field.
            if (!edit->text().isEmpty() && edit->selectedText() != edit->text() &&
                field + 1 < kFields) {
                FocusField(field + 1);
            }
            return true;
        case Qt::Key_Backspace:
        case Qt::Key_Left:
            if (atStart && field > 0) {
                QLineEdit* previous = fields_[static_cast<size_t>(field - 1)];
                previous->setFocus(Qt::OtherFocusReason);
                previous->setCursorPosition(static_cast<int>(previous->text().size()));
                return true;
            }
            return false;
        case Qt::Key_Right:
            if (atEnd && field + 1 < kFields) {
                QLineEdit* next = fields_[static_cast<size_t>(field + 1)];
                next->setFocus(Qt::OtherFocusReason);
                next->setCursorPosition(0);
                return true;
            }
            return false;
        default:
            return false;
    }
}

// The panel of a line edit around the fields, so that the control looks like the edit beside it.
void AddressEdit::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    QStyleOptionFrame panel;
    panel.initFrom(this);
    panel.rect = rect();
    panel.lineWidth = style()->pixelMetric(QStyle::PM_DefaultFrameWidth, &panel, this);
    panel.midLineWidth = 0;
    panel.state |= QStyle::State_Sunken;
    if (isAncestorOf(QApplication::focusWidget())) {
        panel.state |= QStyle::State_HasFocus;
    }
    style()->drawPrimitive(QStyle::PE_PanelLineEdit, &panel, &painter, this);
}

}  // namespace wizard::qtview
