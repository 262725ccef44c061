#include "wizard/qt/dialog_units.h"

#include <QFontMetrics>
#include <QString>

#include <cstdint>

namespace wizard::qtview {

QFont TemplateFont(const wiztemplate::Template& dialog) {
    QFont font(QString::fromUtf16(dialog.fontName));
    font.setPointSize(dialog.fontPoints);
    return font;
}

BaseUnits FontBaseUnits(const QFont& font) {
    QFontMetrics metrics(font);
    int width = metrics.horizontalAdvance(
        QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    BaseUnits units{(width / 26 + 1) / 2, metrics.height()};
    if (units.x <= 0 || units.y <= 0) {
        return kFallbackBaseUnits;
    }
    return units;
}

int MulDiv(int number, int numerator, int denominator) {
    int64_t product = static_cast<int64_t>(number) * numerator;
    int64_t half = denominator / 2;
    return static_cast<int>(product >= 0 ? (product + half) / denominator
                                         : (product - half) / denominator);
}

QRect MapDialogRect(int x, int y, int width, int height, BaseUnits units) {
    return QRect(MulDiv(x, units.x, 4), MulDiv(y, units.y, 8), MulDiv(width, units.x, 4),
                 MulDiv(height, units.y, 8));
}

}  // namespace wizard::qtview
