#include <QAbstractButton>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>

#include "wizard/qt/address_edit.h"
#include "wizard/qt/page_view.h"
#include "wizard/qt/report_list.h"
#include "wizard/qt/wizard_dialog.h"

namespace wizard::qtview {

namespace {

template <class Widget>
Widget* As(TemplatePage& page, int id) {
    return dynamic_cast<Widget*>(page.Control(id));
}

}  // namespace

QString ToQString(const Text& text) {
    return QString::fromUtf16(text.data(), static_cast<qsizetype>(text.size()));
}

Text FromQString(const QString& text) {
    const auto* units = reinterpret_cast<const char16_t*>(text.utf16());
    return Text(units, units + text.size());
}

// --- The frame ---

void PageView::SetFrameButtons(bool back, bool next) {
    frame_.SetFrameButtons(back, next);
}

void PageView::EnableCancel(bool enabled) {
    frame_.EnableCancel(enabled);
}

void PageView::RequestClose() {
    frame_.RequestClose();
}

// --- Controls ---

void PageView::SetText(int id, const Text& text) {
    QWidget* control = page_.Control(id);
    QString value = ToQString(text);
    if (auto* label = dynamic_cast<QLabel*>(control)) {
        label->setText(value);
    } else if (auto* edit = dynamic_cast<QLineEdit*>(control)) {
        edit->setText(value);
    } else if (auto* address = dynamic_cast<AddressEdit*>(control)) {
        address->SetText(value);
    } else if (auto* button = dynamic_cast<QAbstractButton*>(control)) {
        button->setText(value);
    } else if (auto* box = dynamic_cast<QGroupBox*>(control)) {
        box->setTitle(value);
    }
}

Text PageView::GetText(int id) {
    QWidget* control = page_.Control(id);
    if (auto* label = dynamic_cast<QLabel*>(control)) {
        return FromQString(label->text());
    }
    if (auto* edit = dynamic_cast<QLineEdit*>(control)) {
        return FromQString(edit->text());
    }
    if (auto* address = dynamic_cast<AddressEdit*>(control)) {
        return FromQString(address->Text());
    }
    if (auto* button = dynamic_cast<QAbstractButton*>(control)) {
        return FromQString(button->text());
    }
    if (auto* box = dynamic_cast<QGroupBox*>(control)) {
        return FromQString(box->title());
    }
    return Text();
}

void PageView::Enable(int id, bool enabled) {
    if (QWidget* control = page_.Control(id)) {
        control->setEnabled(enabled);
    }
}

void PageView::SetChecked(int id, bool checked) {
    auto* button = As<QAbstractButton>(page_, id);
    if (button == nullptr || !button->isCheckable() || button->isChecked() == checked) {
        return;
    }
    // An auto-exclusive button refuses to be unchecked directly; the page decides here.
    bool exclusive = button->autoExclusive();
    button->setAutoExclusive(false);
    button->setChecked(checked);
    button->setAutoExclusive(exclusive);
}

void PageView::SetFocus(int id, int field) {
    QWidget* control = page_.Control(id);
    if (auto* address = dynamic_cast<AddressEdit*>(control); address != nullptr && field >= 0) {
        address->FocusField(field);
    } else if (control != nullptr) {
        control->setFocus(Qt::OtherFocusReason);
    }
}

std::array<int, 4> PageView::AddressFields(int id) {
    std::array<int, 4> fields{kBlankField, kBlankField, kBlankField, kBlankField};
    if (auto* address = As<AddressEdit>(page_, id)) {
        fields = address->Fields();
        for (int i = 0; i < 4; ++i) {
            if (address->IsBlank(i)) {
                fields[static_cast<size_t>(i)] = kBlankField;
            }
        }
    }
    return fields;
}

// --- The report list ---

void PageView::ListSetUp(int id, const std::vector<Text>& headers, int columnWidth) {
    if (auto* list = As<ReportList>(page_, id)) {
        std::vector<QString> texts;
        for (const Text& header : headers) {
            texts.push_back(ToQString(header));
        }
        list->SetUp(texts, columnWidth);
    }
}

void PageView::ListDeleteAll(int id) {
    if (auto* list = As<ReportList>(page_, id)) {
        list->DeleteAll();
    }
}

void PageView::ListInsertRow(int id, int row, const Text& firstCell) {
    if (auto* list = As<ReportList>(page_, id)) {
        list->InsertRow(row, ToQString(firstCell));
    }
}

void PageView::ListSetCell(int id, int row, int column, const Text& text) {
    if (auto* list = As<ReportList>(page_, id)) {
        list->SetCell(row, column, ToQString(text));
    }
}

int PageView::ListRowCount(int id) {
    auto* list = As<ReportList>(page_, id);
    return list != nullptr ? list->rowCount() : 0;
}

int PageView::ListFirstSelected(int id) {
    auto* list = As<ReportList>(page_, id);
    return list != nullptr ? list->FirstSelected() : -1;
}

int PageView::ListRowAbove(int id, int row) {
    auto* list = As<ReportList>(page_, id);
    return list != nullptr ? list->RowAbove(row) : -1;
}

Text PageView::ListCell(int id, int row, int column) {
    auto* list = As<ReportList>(page_, id);
    return list != nullptr ? FromQString(list->Cell(row, column)) : Text();
}

// --- The user ---

Answer PageView::Ask(const Message& message) {
    return frame_.Ask(message);
}

void PageView::SetBusy(bool busy) {
    frame_.SetBusy(busy);
}

bool PageView::RunInBackground(const std::function<void()>& work,
                               const std::function<void()>& cancel) {
    return frame_.RunInBackground(work, cancel);
}

}  // namespace wizard::qtview
