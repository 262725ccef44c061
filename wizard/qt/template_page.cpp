#include "wizard/qt/template_page.h"

#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QString>

#include <vector>

#include "wizard/qt/address_edit.h"
#include "wizard/qt/qt_names.h"
#include "wizard/qt/report_list.h"

namespace wizard::qtview {

namespace {

QString TextOf(const wiztemplate::Control& control) {
    return control.text != nullptr ? QString::fromUtf16(control.text) : QString();
}

// A static text as Windows draws one: from the top left, wrapped at the control's width, with
// no markup.
QLabel* NewLabel(const QString& text, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setTextFormat(Qt::PlainText);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    label->setWordWrap(true);
    return label;
}

}  // namespace

TemplatePage::TemplatePage(const wiztemplate::Template& dialog, BaseUnits units, QWidget* parent)
    : QWidget(parent), dialog_(dialog) {
    setObjectName(PageName(dialog.id));
    setFixedSize(MapDialogRect(0, 0, dialog.width, dialog.height, units).size());
    std::vector<QWidget*> groupBoxes;
    for (int i = 0; i < dialog.controlCount; ++i) {
        const wiztemplate::Control& control = dialog.controls[i];
        QWidget* widget = Create(control);
        widget->setObjectName(control.id >= 0 ? ControlName(control.id) : StaticName(i));
        widget->setGeometry(
            MapDialogRect(control.x, control.y, control.width, control.height, units));
        if (control.id >= 0) {
            controls_[control.id] = widget;
        }
        if (control.kind == wiztemplate::Kind::kGroupBox) {
            groupBoxes.push_back(widget);
        }
    }
    // A Win32 group box is only a frame drawn behind the controls inside it: keep group boxes
    // at the bottom, so that they never take the clicks meant for those controls.
    for (QWidget* box : groupBoxes) {
        box->lower();
    }
}

QWidget* TemplatePage::Control(int id) const {
    auto it = controls_.find(id);
    return it != controls_.end() ? it->second : nullptr;
}

QWidget* TemplatePage::Create(const wiztemplate::Control& control) {
    const QString text = TextOf(control);
    switch (control.kind) {
        case wiztemplate::Kind::kLabel:
        case wiztemplate::Kind::kValueLabel:
            return NewLabel(text, this);
        case wiztemplate::Kind::kGroupBox: {
            auto* box = new QGroupBox(text, this);
            box->setFocusPolicy(Qt::NoFocus);
            return box;
        }
        case wiztemplate::Kind::kButton:
            return new QPushButton(text, this);
        case wiztemplate::Kind::kRadio:
            // Auto-exclusive: a click checks the button and never unchecks it, as an automatic
            // radio button of Win32 behaves.
            return new QRadioButton(text, this);
        case wiztemplate::Kind::kEdit:
            return new QLineEdit(text, this);
        case wiztemplate::Kind::kIpAddress:
            return new AddressEdit(this);
        case wiztemplate::Kind::kList:
            return new ReportList(this);
    }
    return NewLabel(text, this);
}

}  // namespace wizard::qtview
