// Dialog units to pixels, as Windows lays out a dialog template: the base units come from the
// template's font, and every coordinate and size is converted on its own with MulDiv.
#pragma once

#include <QFont>
#include <QRect>

#include "resources/wizard_templates.h"

namespace wizard::qtview {

struct BaseUnits {
    int x;  // the average character width: 4 horizontal dialog units
    int y;  // the character height: 8 vertical dialog units
};

// Used when the template font has no usable metrics (no font installed at all): the base units
// of "MS Sans Serif" 8 pt at 96 dpi on Windows.
inline constexpr BaseUnits kFallbackBaseUnits{6, 13};

// The template's font as this machine has it: the family by name (fontconfig substitutes one
// where it is not installed, and Qt falls back per character for the Chinese texts) at the
// template's point size.
QFont TemplateFont(const wiztemplate::Template& dialog);

// Windows' rule: x is the width of "A".."Z" "a".."z" divided by 26, plus one, halved (the
// average width rounded); y is the font's height (ascent + descent).
BaseUnits FontBaseUnits(const QFont& font);

// number * numerator / denominator rounded to the nearest integer, halves away from zero, as
// the Win32 MulDiv does (denominator > 0).
int MulDiv(int number, int numerator, int denominator);

// x and width by x / 4, y and height by y / 8.
QRect MapDialogRect(int x, int y, int width, int height, BaseUnits units);

}  // namespace wizard::qtview
