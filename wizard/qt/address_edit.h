// The IPv4 address control: four numeric fields of 0..255 separated by dots, in one panel that
// looks like an edit. A blank field reads as 0. Typing works as in the Windows control: three
// digits, or a dot after a number typed into the field, move on to the next field (a dot into a
// blank or wholly selected field is ignored), Backspace and the arrow keys cross into the
// neighbouring field at its edge, a number above 255 becomes 255, and a dotted address pasted
// into any field fills all four. Only the first field is a tab stop, so Tab leaves the control.
#pragma once

#include <QString>
#include <QWidget>

#include <array>

class QLineEdit;

namespace wizard::qtview {

class AddressEdit : public QWidget {
  public:
    explicit AddressEdit(QWidget* parent = nullptr);

    // The four values, 0..255 each, blank fields as 0.
    std::array<int, 4> Fields() const;
    // Whether a field (0..3) holds no number: 0 typed is a value, nothing is none.
    bool IsBlank(int field) const;
    // The control's text: the four values dotted, blank fields as 0 ("0.0.0.0" when blank).
    QString Text() const;
    // Fills the fields from a dotted text (missing or non-numeric parts stay blank); an empty
    // text blanks the control.
    void SetText(const QString& text);
    void Clear();
    // The input focus to one field (0..3), its text selected.
    void FocusField(int field);
    QLineEdit* Field(int field) const { return fields_[static_cast<size_t>(field)]; }

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

  private:
    void Edited(int field);
    int FieldOf(QObject* object) const;

    std::array<QLineEdit*, 4> fields_{};
};

}  // namespace wizard::qtview
