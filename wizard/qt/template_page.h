// A wizard page built from its dialog template: one widget per control, placed where the
// template puts it (dialog units converted with the base units of the template's font), with
// the template's text exactly as written ('&' marks a mnemonic in Qt as in Win32).
#pragma once

#include <QWidget>

#include <map>

#include "resources/wizard_templates.h"
#include "wizard/qt/dialog_units.h"

namespace wizard::qtview {

class TemplatePage : public QWidget {
  public:
    // The page takes the template's size; its controls inherit the font of `parent`.
    TemplatePage(const wiztemplate::Template& dialog, BaseUnits units, QWidget* parent);

    // The control with this id, or null.
    QWidget* Control(int id) const;
    const wiztemplate::Template& Dialog() const { return dialog_; }

  private:
    QWidget* Create(const wiztemplate::Control& control);

    const wiztemplate::Template& dialog_;
    std::map<int, QWidget*> controls_;
};

}  // namespace wizard::qtview
