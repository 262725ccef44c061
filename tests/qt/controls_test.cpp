// The widgets of the Qt view on their own: dialog units, the pages built from their templates,
// the IPv4 address control and the report list.
#include <QAbstractButton>
#include <QApplication>
#include <QFontMetrics>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

#include <gtest/gtest.h>

#include "resources/wizard_templates.h"
#include "tests/qt/qt_fixture.h"
#include "wizard/qt/address_edit.h"
#include "wizard/qt/dialog_units.h"
#include "wizard/qt/qt_names.h"
#include "wizard/qt/report_list.h"
#include "wizard/qt/template_page.h"

namespace nvtest {
namespace {

using wizard::qtview::AddressEdit;
using wizard::qtview::BaseUnits;
using wizard::qtview::MapDialogRect;
using wizard::qtview::MulDiv;
using wizard::qtview::ReportList;
using wizard::qtview::TemplatePage;
using wiztemplate::Kind;

// --- Dialog units ---

TEST(DialogUnits, MulDivRoundsHalvesAwayFromZero) {
    EXPECT_EQ(11, MulDiv(7, 6, 4));             // 10.5
    EXPECT_EQ(2, MulDiv(1, 6, 4));              // 1.5
    EXPECT_EQ(-11, MulDiv(-7, 6, 4));           // -10.5
    EXPECT_EQ(5, MulDiv(3, 13, 8));             // 4.875
    EXPECT_EQ(4, MulDiv(3, 11, 8));             // 4.125
    EXPECT_EQ(7, MulDiv(4, 13, 8));             // 6.5
    EXPECT_EQ(1000000, MulDiv(2000000, 2, 4));  // no overflow in the product
}

// x and width by a quarter of the horizontal base unit, y and height by an eighth of the
// vertical one, each rounded on its own (not right = MulDiv(x + width)).
TEST(DialogUnits, MapsEachCoordinateOnItsOwn) {
    EXPECT_EQ(QRect(11, 11, 452, 221), MapDialogRect(7, 7, 301, 136, BaseUnits{6, 13}));
    EXPECT_EQ(QRect(12, 11, 527, 221), MapDialogRect(7, 7, 301, 136, BaseUnits{7, 13}));
    EXPECT_EQ(QRect(23, 23, 59, 26), MapDialogRect(15, 14, 39, 16, BaseUnits{6, 13}));
}

TEST_F(QtTest, BaseUnitsFollowTheTemplateFont) {
    QFont font = wizard::qtview::TemplateFont(wiztemplate::kTemplates[0]);
    EXPECT_EQ(8, font.pointSize());
    EXPECT_EQ(QStringLiteral("MS Sans Serif"), font.family());
    BaseUnits small = wizard::qtview::FontBaseUnits(font);
    EXPECT_EQ(QFontMetrics(font).height(), small.y);
    font.setPointSize(16);
    BaseUnits large = wizard::qtview::FontBaseUnits(font);
    EXPECT_GT(large.x, small.x);
    EXPECT_GT(large.y, small.y);
}

// --- Pages from their templates ---

using TemplatePageTest = QtTest;

QString WidgetText(QWidget* widget) {
    if (auto* label = qobject_cast<QLabel*>(widget)) {
        return label->text();
    }
    if (auto* button = qobject_cast<QAbstractButton*>(widget)) {
        return button->text();
    }
    if (auto* box = qobject_cast<QGroupBox*>(widget)) {
        return box->title();
    }
    if (auto* edit = qobject_cast<QLineEdit*>(widget)) {
        return edit->text();
    }
    return QString();
}

bool IsKind(QWidget* widget, Kind kind) {
    switch (kind) {
        case Kind::kLabel:
        case Kind::kValueLabel:
            return qobject_cast<QLabel*>(widget) != nullptr;
        case Kind::kGroupBox:
            return qobject_cast<QGroupBox*>(widget) != nullptr;
        case Kind::kButton:
            return qobject_cast<QPushButton*>(widget) != nullptr;
        case Kind::kRadio:
            return qobject_cast<QRadioButton*>(widget) != nullptr;
        case Kind::kEdit:
            return qobject_cast<QLineEdit*>(widget) != nullptr;
        case Kind::kIpAddress:
            return dynamic_cast<AddressEdit*>(widget) != nullptr;
        case Kind::kList:
            return dynamic_cast<ReportList*>(widget) != nullptr;
    }
    return false;
}

TEST_F(TemplatePageTest, EveryControlSitsWhereItsTemplatePutsItWithItsText) {
    const BaseUnits units{7, 13};
    for (const wiztemplate::Template& dialog : wiztemplate::kTemplates) {
        SCOPED_TRACE(dialog.id);
        TemplatePage page(dialog, units, nullptr);
        EXPECT_EQ(wizard::qtview::PageName(dialog.id), page.objectName());
        EXPECT_EQ(MapDialogRect(0, 0, 315, 166, units).size(), page.size());
        for (int i = 0; i < dialog.controlCount; ++i) {
            const wiztemplate::Control& control = dialog.controls[i];
            SCOPED_TRACE(i);
            QString name = control.id >= 0 ? wizard::qtview::ControlName(control.id)
                                           : wizard::qtview::StaticName(i);
            auto* widget = page.findChild<QWidget*>(name, Qt::FindDirectChildrenOnly);
            ASSERT_NE(widget, nullptr) << S(name);
            EXPECT_TRUE(IsKind(widget, control.kind)) << S(name);
            EXPECT_EQ(MapDialogRect(control.x, control.y, control.width, control.height, units),
                      widget->geometry());
            if (control.kind != Kind::kIpAddress && control.kind != Kind::kList) {
                EXPECT_EQ(control.text != nullptr ? Q(control.text) : QString(),
                          WidgetText(widget));
            }
            if (control.id >= 0) {
                EXPECT_EQ(widget, page.Control(control.id));
            }
        }
    }
}

// A group box is drawn behind the controls inside it and never takes their clicks, wherever
// the template lists it.
TEST_F(TemplatePageTest, GroupBoxesLieBehindTheControlsInsideThem) {
    static constexpr wiztemplate::Control kControls[] = {
        {IDC_SETTING_IP, Kind::kValueLabel, u"10.0.0.5", 30, 30, 60, 10},
        {-1, Kind::kGroupBox, u"TCP/IP", 20, 20, 100, 60},
        {IDC_REFRESH, Kind::kButton, u"OK", 30, 50, 40, 14},
    };
    const wiztemplate::Template dialog{IDD_SETTINGS_PAGE,  315, 166,       wiztemplate::kCaption,
                                       wiztemplate::kFont, 8,   kControls, 3};
    TemplatePage page(dialog, BaseUnits{6, 13}, nullptr);
    for (int id : {IDC_SETTING_IP, IDC_REFRESH}) {
        QWidget* control = page.Control(id);
        EXPECT_EQ(control, page.childAt(control->geometry().center())) << id;
    }
}

// --- The IPv4 address control ---

class AddressEditTest : public QtTest {
  protected:
    void SetUp() override {
        window_.resize(200, 40);
        edit_ = new AddressEdit(&window_);
        edit_->setGeometry(10, 10, 160, 22);
        window_.show();
        edit_->FocusField(0);
    }
    // Keys to whichever field has the focus at each character, as a keyboard does.
    void Type(const QString& text) {
        for (QChar c : text) {
            int key = c == QLatin1Char('.') ? Qt::Key_Period
                      : c.isDigit()         ? Qt::Key_0 + c.digitValue()
                                            : Qt::Key_A + (c.toUpper().unicode() - 'A');
            Press(window_.focusWidget(), key, QString(c));
        }
    }
    int FocusedField() const {
        for (int i = 0; i < 4; ++i) {
            if (window_.focusWidget() == edit_->Field(i)) {
                return i;
            }
        }
        return -1;
    }
    std::array<QString, 4> FieldTexts() const {
        return {edit_->Field(0)->text(), edit_->Field(1)->text(), edit_->Field(2)->text(),
                edit_->Field(3)->text()};
    }

    QWidget window_;
    AddressEdit* edit_ = nullptr;
};

TEST_F(AddressEditTest, BlankFieldsReadAsZero) {
    EXPECT_EQ((std::array<int, 4>{0, 0, 0, 0}), edit_->Fields());
    EXPECT_EQ(QStringLiteral("0.0.0.0"), edit_->Text());
    Type(QStringLiteral("10..."));
    EXPECT_EQ(QStringLiteral("10.0.0.0"), edit_->Text());
}

TEST_F(AddressEditTest, DotsAndThirdDigitsMoveToTheNextField) {
    Type(QStringLiteral("192.168.0.20"));
    EXPECT_EQ((std::array<int, 4>{192, 168, 0, 20}), edit_->Fields());
    EXPECT_EQ(QStringLiteral("192.168.0.20"), edit_->Text());
    EXPECT_EQ(3, FocusedField());

    edit_->Clear();
    edit_->FocusField(0);
    Type(QStringLiteral("1921681"));  // no dots: three digits end a field
    EXPECT_EQ((std::array<QString, 4>{"192", "168", "1", ""}), FieldTexts());
    EXPECT_EQ(2, FocusedField());
}

TEST_F(AddressEditTest, ADotInABlankFieldIsIgnored) {
    Type(QStringLiteral(".."));
    EXPECT_EQ(0, FocusedField());
    Type(QStringLiteral("7.."));
    EXPECT_EQ((std::array<QString, 4>{"7", "", "", ""}), FieldTexts());
    EXPECT_EQ(1, FocusedField());
}

TEST_F(AddressEditTest, OnlyDigitsAndAtMost255) {
    Type(QStringLiteral("1x2"));
    EXPECT_EQ(QStringLiteral("12"), edit_->Field(0)->text());
    edit_->Clear();
    edit_->FocusField(0);
    Type(QStringLiteral("300"));
    EXPECT_EQ(QStringLiteral("255"), edit_->Field(0)->text());
    EXPECT_EQ(255, edit_->Fields()[0]);
    EXPECT_EQ(1, FocusedField());
}

TEST_F(AddressEditTest, BackspaceAndArrowsCrossIntoTheNeighbouringField) {
    Type(QStringLiteral("10."));
    ASSERT_EQ(1, FocusedField());
    Press(window_.focusWidget(), Qt::Key_Backspace);
    EXPECT_EQ(0, FocusedField());
    Press(window_.focusWidget(), Qt::Key_Backspace);  // now it deletes
    EXPECT_EQ(QStringLiteral("1"), edit_->Field(0)->text());
    Press(window_.focusWidget(), Qt::Key_Right);
    EXPECT_EQ(1, FocusedField());
    Press(window_.focusWidget(), Qt::Key_Left);
    EXPECT_EQ(0, FocusedField());
}

TEST_F(AddressEditTest, FocusGoesToOneFieldWithItsTextSelected) {
    edit_->SetText(QStringLiteral("10.1.2.3"));
    edit_->FocusField(2);
    EXPECT_EQ(2, FocusedField());
    EXPECT_EQ(QStringLiteral("2"), edit_->Field(2)->selectedText());
    Type(QStringLiteral("9"));
    EXPECT_EQ(QStringLiteral("10.1.9.3"), edit_->Text());
}

TEST_F(AddressEditTest, SetTextFillsTheFieldsItHas) {
    edit_->SetText(QStringLiteral("10.1.2"));
    EXPECT_EQ((std::array<QString, 4>{"10", "1", "2", ""}), FieldTexts());
    edit_->SetText(QStringLiteral("1.2.3.999"));
    EXPECT_EQ(QStringLiteral("1.2.3.255"), edit_->Text());
    edit_->SetText(QString());
    EXPECT_EQ((std::array<QString, 4>{"", "", "", ""}), FieldTexts());
}

TEST_F(AddressEditTest, OneTabStopAndDisabledAsAWhole) {
    EXPECT_EQ(Qt::StrongFocus, edit_->Field(0)->focusPolicy());
    for (int i = 1; i < 4; ++i) {
        EXPECT_EQ(Qt::NoFocus, edit_->Field(i)->focusPolicy() & Qt::TabFocus);
    }
    edit_->setEnabled(false);
    for (int i = 0; i < 4; ++i) {
        EXPECT_FALSE(edit_->Field(i)->isEnabled());
    }
}

// --- The report list ---

class ReportListTest : public QtTest {
  protected:
    void SetUp() override {
        list_.SetUp({"打印机名称", "IP地址", "网关", "子网掩码", "MAC地址"}, 100);
        for (int row = 0; row < 3; ++row) {
            list_.InsertRow(row, QStringLiteral("Printer %1").arg(row));
        }
    }
    void Select(std::initializer_list<int> rows) {
        list_.clearSelection();
        for (int row : rows) {
            list_.selectionModel()->select(list_.model()->index(row, 0),
                                           QItemSelectionModel::Select | QItemSelectionModel::Rows);
        }
    }
    ReportList list_;
};

TEST_F(ReportListTest, FiveLeftAlignedColumnsOf100PixelsWithGridAndRowSelection) {
    ASSERT_EQ(5, list_.columnCount());
    EXPECT_EQ(QStringLiteral("子网掩码"), list_.horizontalHeaderItem(3)->text());
    for (int column = 0; column < 5; ++column) {
        EXPECT_EQ(100, list_.columnWidth(column));
        EXPECT_EQ(Qt::AlignLeft | Qt::AlignVCenter,
                  Qt::Alignment(list_.horizontalHeaderItem(column)->textAlignment()));
        EXPECT_EQ(Qt::AlignLeft | Qt::AlignVCenter,
                  Qt::Alignment(list_.item(0, column)->textAlignment()));
    }
    EXPECT_TRUE(list_.showGrid());
    EXPECT_EQ(QAbstractItemView::SelectRows, list_.selectionBehavior());
    EXPECT_EQ(QAbstractItemView::ExtendedSelection, list_.selectionMode());
    EXPECT_FALSE(list_.isSortingEnabled());
    EXPECT_FALSE(list_.horizontalHeader()->sectionsClickable());
}

TEST_F(ReportListTest, RowsStayWhereTheyWereInserted) {
    list_.InsertRow(1, QStringLiteral("Between"));
    list_.InsertRow(99, QStringLiteral("Last"));
    list_.SetCell(1, 1, QStringLiteral("10.0.0.5"));
    EXPECT_EQ(QStringLiteral("Printer 0"), list_.Cell(0, 0));
    EXPECT_EQ(QStringLiteral("Between"), list_.Cell(1, 0));
    EXPECT_EQ(QStringLiteral("10.0.0.5"), list_.Cell(1, 1));
    EXPECT_EQ(QString(), list_.Cell(1, 2));
    EXPECT_EQ(QStringLiteral("Last"), list_.Cell(4, 0));
    EXPECT_EQ(QString(), list_.Cell(7, 0));
    list_.DeleteAll();
    EXPECT_EQ(0, list_.rowCount());
    EXPECT_EQ(5, list_.columnCount());
}

TEST_F(ReportListTest, FirstSelectedIsTheLowestSelectedRow) {
    EXPECT_EQ(-1, list_.FirstSelected());
    Select({2, 1});
    EXPECT_EQ(1, list_.FirstSelected());
    Select({2});
    EXPECT_EQ(2, list_.FirstSelected());
}

TEST_F(ReportListTest, RowAboveExistsOnlyBelowTheFirstRowAndInsideTheList) {
    EXPECT_EQ(0, list_.RowAbove(1));
    EXPECT_EQ(1, list_.RowAbove(2));
    EXPECT_EQ(-1, list_.RowAbove(0));
    EXPECT_EQ(-1, list_.RowAbove(3));
    list_.DeleteAll();
    list_.InsertRow(0, QStringLiteral("Only"));
    EXPECT_EQ(-1, list_.RowAbove(1));
}

// The name can be edited in place, but the edit never sticks; the other cells cannot be edited.
TEST_F(ReportListTest, AnInPlaceEditOfTheNameAlwaysReverts) {
    list_.show();
    Select({0});
    QModelIndex name = list_.model()->index(0, 0);
    list_.setCurrentIndex(name);
    Press(&list_, Qt::Key_F2);
    auto* editor = list_.findChild<QLineEdit*>();
    ASSERT_NE(editor, nullptr) << "F2 opens the editor";
    editor->selectAll();
    editor->insert(QStringLiteral("Renamed"));
    Press(editor, Qt::Key_Return);
    EXPECT_EQ(QStringLiteral("Printer 0"), list_.Cell(0, 0));
    for (int column = 1; column < 5; ++column) {
        EXPECT_FALSE(list_.item(0, column)->flags() & Qt::ItemIsEditable);
    }
}

}  // namespace
}  // namespace nvtest
