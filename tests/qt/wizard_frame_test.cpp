// Both wizards in the Qt frame, driven headless through the real widgets like a user: keys into
// the fields, clicks on the buttons, answers to the message boxes. Discovery answers from
// prepared printers.
#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QHeaderView>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QStackedWidget>
#include <QTableWidget>

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "resources/wizard_ids.h"
#include "resources/wizard_texts.h"
#include "tests/qt/wizard_fixture.h"
#include "wizard/qt/frame_texts.h"
#include "wizard/qt/qt_frame.h"
#include "wizard/qt/qt_names.h"
#include "wizard/sheet.h"
#include "wizard/sheet_by_ip.h"

namespace nvtest {
namespace {

using wizard::qtview::WizardDriver;

// A message box as the pages ask it: title, text, icon and exactly these buttons with the
// system's texts.
void ExpectBox(QMessageBox& box, const WCHAR* title, const WCHAR* text, QMessageBox::Icon icon,
               bool yesNo) {
    EXPECT_EQ(Q(title), box.windowTitle());
    EXPECT_EQ(Q(text), box.text());
    EXPECT_EQ(icon, box.icon());
    EXPECT_EQ(WizardDriver::Wizard(), box.parentWidget()) << "owned by the wizard";
    EXPECT_TRUE(box.isModal());
    if (yesNo) {
        ASSERT_NE(box.button(QMessageBox::Yes), nullptr);
        ASSERT_NE(box.button(QMessageBox::No), nullptr);
        EXPECT_EQ(Q(wizard::qtview::kYesText), box.button(QMessageBox::Yes)->text());
        EXPECT_EQ(Q(wizard::qtview::kNoText), box.button(QMessageBox::No)->text());
        EXPECT_EQ(2, box.buttons().size());
    } else {
        ASSERT_NE(box.button(QMessageBox::Ok), nullptr);
        EXPECT_EQ(Q(wizard::qtview::kOkText), box.button(QMessageBox::Ok)->text());
        EXPECT_EQ(1, box.buttons().size());
    }
}

// --- The frame ---

using WizardFrame = QtWizard;

TEST_F(WizardFrame, IsAModalDialogWithBackNextAndADisabledCancelOnly) {
    wizard::CSheet sheet;
    driver_.Do("check the frame", IDD_LIST_PAGE, [] {
        QDialog* wizard = WizardDriver::Wizard();
        EXPECT_EQ(Q(wiztext::kPageCaption), wizard->windowTitle());
        EXPECT_TRUE(wizard->isModal());
        EXPECT_EQ(QStringLiteral("MS Sans Serif"), wizard->font().family());
        EXPECT_EQ(8, wizard->font().pointSize());
        auto buttons = wizard->findChildren<QPushButton*>(Qt::FindDirectChildrenOnly);
        ASSERT_EQ(3, buttons.size()) << "Back, Next, Cancel and no Finish";
        QAbstractButton* back = FrameButton(wizard::qtview::kBackName);
        QAbstractButton* next = FrameButton(wizard::qtview::kNextName);
        QAbstractButton* cancel = FrameButton(wizard::qtview::kCancelName);
        EXPECT_EQ(Q(wizard::qtview::kBackText), back->text());
        EXPECT_EQ(Q(wizard::qtview::kNextText), next->text());
        EXPECT_EQ(Q(wizard::qtview::kCancelText), cancel->text());
        EXPECT_FALSE(back->isEnabled());
        EXPECT_TRUE(next->isEnabled());
        EXPECT_TRUE(qobject_cast<QPushButton*>(next)->isDefault());
        EXPECT_FALSE(cancel->isEnabled());
        // Below the page, at the right, in the order Back, Next, Cancel.
        QWidget* pages = wizard->findChild<QStackedWidget*>();
        EXPECT_GT(back->y(), pages->geometry().bottom());
        EXPECT_EQ(back->geometry().right() + 1, next->x());
        EXPECT_LT(next->geometry().right(), cancel->x());
        EXPECT_EQ(pages->geometry().right(), cancel->geometry().right());
        EXPECT_LE(cancel->geometry().bottom(), wizard->height());
    });
    driver_.Escape();
    EXPECT_EQ(0, Run(sheet));
}

// Escape and the window's close button end the wizard as cancelled, even on the settings page,
// where the page's own close request would finish it.
TEST_F(WizardFrame, EscapeOrTheCloseButtonEndTheWizardAsCancelled) {
    discovery_.searches = {{kLab1}};
    {
        wizard::CSheet sheet;
        driver_.Next();
        driver_.Escape();
        EXPECT_EQ(0, Run(sheet));
    }
    WizardDriver closer(5000);
    closer.Next();
    closer.Do("close the window", IDD_SETTINGS_PAGE, [] { WizardDriver::Wizard()->close(); });
    closer.Start();
    wizard::CSheet sheet;
    wizard::qtview::QtWizardFrame frame;
    EXPECT_EQ(0, sheet.RunWizard(frame));
    EXPECT_TRUE(closer.Finished()) << S(closer.Error());
}

// A page of the test's own: what each operation does is up to the test.
class ScriptedPage : public wizard::CWizardPage {
  public:
    explicit ScriptedPage(int templateId) : templateId_(templateId) {}
    int TemplateId() const override { return templateId_; }
    void SetUpPage() override {
        ++setUps;
        if (setUp) {
            setUp(*this);
        }
    }
    void ActivatePage() override {
        ++activations;
        m_view->SetFrameButtons(true, true);
    }
    bool HandleNext() override { return next ? next(*this) : true; }
    void HandleClose() override {}
    void Cancel() { CancelEnd(); }

    std::function<void(ScriptedPage&)> setUp;
    std::function<bool(ScriptedPage&)> next;
    int setUps = 0;
    int activations = 0;

  private:
    int templateId_;
};

class ScriptedSheet : public wizard::CWizardSheet {
  public:
    ScriptedSheet() : CWizardSheet(u"Wizard") {
        AddPage(&first);
        AddPage(&second);
    }
    ScriptedPage first{IDD_SETTINGS_PAGE};
    ScriptedPage second{IDD_ADDRESS_SETTINGS_PAGE};
};

// The frame closes once the handler that asked for it has returned, and goes to no next page.
TEST_F(WizardFrame, ACloseRequestTakesEffectWhenTheHandlerReturns) {
    ScriptedSheet sheet;
    bool openDuringHandler = false;
    sheet.first.next = [&](ScriptedPage& page) {
        page.Cancel();
        openDuringHandler = WizardDriver::Wizard() != nullptr;
        return true;
    };
    driver_.Next();
    EXPECT_EQ(0, Run(sheet));
    EXPECT_TRUE(openDuringHandler);
    EXPECT_EQ(0, sheet.second.setUps);
}

// A page that ends the wizard while it is being set up: the window never appears.
TEST_F(WizardFrame, AWizardEndedDuringSetUpNeverAppears) {
    ScriptedSheet sheet;
    sheet.first.setUp = [](ScriptedPage& page) { page.Cancel(); };
    WizardDriver watcher(500);
    watcher.Do("see the wizard", WizardDriver::kAnyPage, [] {});
    watcher.Start();
    wizard::qtview::QtWizardFrame frame;
    EXPECT_EQ(0, sheet.RunWizard(frame));
    EXPECT_EQ(0, sheet.first.activations);
    EXPECT_FALSE(watcher.Finished());
}

// --- The search-all wizard ---

using ListWizard = QtWizard;

TEST_F(ListWizard, ListsThePrintersNewestFirstWithEmptyCellsForZero) {
    discovery_.searches = {{kLab1, kBare, kLab2}};
    wizard::CSheet sheet;
    driver_.Do("check the list", IDD_LIST_PAGE, [] {
        QTableWidget* list = List();
        ASSERT_NE(list, nullptr);
        ASSERT_EQ(5, list->columnCount());
        for (int column = 0; column < 5; ++column) {
            EXPECT_EQ(Q(wiztext::kColumns[column]), list->horizontalHeaderItem(column)->text());
            EXPECT_EQ(wiztext::kColumnWidth, list->columnWidth(column));
        }
        ASSERT_EQ(3, list->rowCount());
        EXPECT_EQ(QStringLiteral("Lab Printer 2"), list->item(0, 0)->text());
        EXPECT_EQ(QStringLiteral("Bare"), list->item(1, 0)->text());
        EXPECT_EQ(QStringLiteral("10.0.0.5"), list->item(1, wiztext::kColumnIp)->text());
        EXPECT_EQ(QString(), list->item(1, wiztext::kColumnGateway)->text());
        EXPECT_EQ(QString(), list->item(1, wiztext::kColumnMask)->text());
        EXPECT_EQ(QString(), list->item(1, wiztext::kColumnMac)->text());
        EXPECT_EQ(QStringLiteral("021a2b3c4d5e"), list->item(2, wiztext::kColumnMac)->text());
        EXPECT_EQ(QStringLiteral("刷新(&R)"),
                  qobject_cast<QAbstractButton*>(WizardDriver::Control(IDC_REFRESH))->text());
    });
    driver_.Escape();
    EXPECT_EQ(0, Run(sheet));
}

// Several rows selected: the lowest is taken. Back keeps the list and its selection and runs no
// search; another row and Next show that row's settings, and Next on them finishes.
TEST_F(ListWizard, FinishesWithTheRowChosenLast) {
    discovery_.searches = {{kLab1, kBare, kLab2}};
    wizard::CSheet sheet;
    driver_.SelectRows({2, 1});
    driver_.Next();
    driver_.Do("check the settings of Bare", IDD_SETTINGS_PAGE, [] {
        EXPECT_EQ(QStringLiteral("10.0.0.5"), LabelText(IDC_SETTING_IP));
        EXPECT_EQ(QString(), LabelText(IDC_SETTING_MASK));
        EXPECT_EQ(QString(), LabelText(IDC_SETTING_GATEWAY));
        EXPECT_TRUE(FrameButton(wizard::qtview::kBackName)->isEnabled());
        EXPECT_TRUE(FrameButton(wizard::qtview::kNextName)->isEnabled());
        EXPECT_FALSE(FrameButton(wizard::qtview::kCancelName)->isEnabled());
        EXPECT_EQ(Q(wiztext::kPageCaption), WizardDriver::Wizard()->windowTitle());
    });
    driver_.Back();
    driver_.Do("check the list kept its selection", IDD_LIST_PAGE, [this] {
        EXPECT_EQ(2, List()->selectionModel()->selectedRows().size());
        EXPECT_EQ(1, discovery_.broadcasts);
        EXPECT_FALSE(FrameButton(wizard::qtview::kBackName)->isEnabled());
    });
    driver_.SelectRows({0});
    driver_.Next();
    driver_.Do("check the settings of Lab Printer 2", IDD_SETTINGS_PAGE, [] {
        EXPECT_EQ(QStringLiteral("192.168.0.21"), LabelText(IDC_SETTING_IP));
        EXPECT_EQ(QStringLiteral("255.255.255.0"), LabelText(IDC_SETTING_MASK));
        EXPECT_EQ(QStringLiteral("192.168.0.1"), LabelText(IDC_SETTING_GATEWAY));
    });
    driver_.Next();
    EXPECT_EQ(1, Run(sheet));
    EXPECT_EQ(u"192.168.0.21", sheet.ListPage().m_chosen[wiztext::kColumnIp]);
    EXPECT_EQ((std::vector<wizard::Text>{u"NORVA_10.0.0.5", u"NORVA_192.168.0.21"}),
              discovery_.portQuestions);
}

TEST_F(ListWizard, AnExistingPortIsAWarningQuestionAndNoEndsTheWizard) {
    discovery_.searches = {{kLab1, kLab2}};
    discovery_.existingPorts = {u"NORVA_192.168.0.21"};
    wizard::CSheet sheet;
    driver_.Next();  // no row selected: the first row is taken
    driver_.Answer(QMessageBox::No, [](QMessageBox& box) {
        ExpectBox(box, wiztext::kErrorTitleWithStop, wiztext::kPortExistsQuestion,
                  QMessageBox::Warning, true);
        EXPECT_EQ(box.button(QMessageBox::Yes), box.defaultButton());
    });
    EXPECT_EQ(0, Run(sheet));
}

// Nothing found: Next asks; Yes searches again and stays; the one printer listed then is taken
// without a selection.
TEST_F(ListWizard, TheNoPrinterQuestionSearchesAgainOnYes) {
    discovery_.searches = {{}, {kBare}};
    wizard::CSheet sheet;
    driver_.Do("check the empty list", IDD_LIST_PAGE, [] { EXPECT_EQ(0, List()->rowCount()); });
    driver_.Next();
    driver_.Answer(QMessageBox::Yes, [](QMessageBox& box) {
        ExpectBox(box, wiztext::kErrorTitleWithStop, wiztext::kNoPrinterQuestion,
                  QMessageBox::Warning, true);
    });
    driver_.Do("check the new search", IDD_LIST_PAGE, [this] {
        EXPECT_EQ(2, discovery_.broadcasts);
        EXPECT_EQ(1, List()->rowCount());
        EXPECT_TRUE(IsEnabled(IDC_REFRESH));
    });
    driver_.Next();
    driver_.Next();
    EXPECT_EQ(1, Run(sheet));
    EXPECT_EQ(u"10.0.0.5", sheet.ListPage().m_chosen[wiztext::kColumnIp]);
}

// --- The search-by-address wizard ---

using AddressWizard = QtWizard;

// Each field is checked in order; the first bad one is named in an error box and gets the focus.
TEST_F(AddressWizard, RefusesABadFieldAndFocusesItThenFinishesWithTheAddressFound) {
    discovery_.searches = {{kBare}};
    wizard::CSheetByIP sheet;
    driver_.Do("check the address page", IDD_ADDRESS_PAGE, [] {
        EXPECT_TRUE(IsChecked(IDC_IP_RADIO));
        EXPECT_FALSE(IsChecked(IDC_HW_RADIO));
        EXPECT_TRUE(IsEnabled(IDC_IP_ADDRESS));
        EXPECT_FALSE(IsEnabled(IDC_HW_ADDRESS));
        EXPECT_EQ(Q(wiztext::kIpHelp), LabelText(IDC_HELP_TEXT));
        EXPECT_EQ(AddressField(0), WizardDriver::Wizard()->focusWidget());
        EXPECT_FALSE(FrameButton(wizard::qtview::kBackName)->isEnabled());
        EXPECT_FALSE(FrameButton(wizard::qtview::kCancelName)->isEnabled());
    });
    driver_.Next();  // blank
    driver_.Answer(QMessageBox::Ok, [](QMessageBox& box) {
        ExpectBox(box, wiztext::kErrorTitle, wiztext::kFieldErrors[0], QMessageBox::Critical,
                  false);
    });
    driver_.TypeAddress("10.1.1.255");
    driver_.Next();
    driver_.Answer(QMessageBox::Ok,
                   [](QMessageBox& box) { EXPECT_EQ(Q(wiztext::kFieldErrors[3]), box.text()); });
    driver_.Do("check the focus", IDD_ADDRESS_PAGE, [] {
        EXPECT_EQ(AddressField(3), WizardDriver::Wizard()->focusWidget());
        EXPECT_EQ(QStringLiteral("255"), AddressField(3)->selectedText());
    });
    driver_.TypeAddress("10.0.0.5");
    driver_.Next();
    driver_.Do("check the settings", IDD_ADDRESS_SETTINGS_PAGE, [] {
        EXPECT_EQ(QStringLiteral("10.0.0.5"), LabelText(IDC_SETTING_IP));
        EXPECT_EQ(QStringLiteral("0.0.0.0"), LabelText(IDC_SETTING_MASK));
        EXPECT_EQ(QStringLiteral("0.0.0.0"), LabelText(IDC_SETTING_GATEWAY));
    });
    driver_.Next();
    EXPECT_EQ(1, Run(sheet));
    ASSERT_NE(sheet.Found(), nullptr);
    EXPECT_EQ(Ip(10, 0, 0, 5), sheet.Found()->ipAddress);
    EXPECT_EQ((std::vector<std::pair<std::string, int>>{{"10.0.0.5", SearchByIpAddress}}),
              discovery_.finds);
}

// Hardware mode by a click on its radio button; a wrong length is refused, an address that is
// not found is asked about (with the ordinary cursor); Yes lets the user try again by IPv4
// address. An existing port is asked about too; Back returns to the page as it was left.
TEST_F(AddressWizard, HardwareModeNotFoundThenFoundByIpv4) {
    discovery_.searches = {{kLab1}};
    discovery_.existingPorts = {u"NORVA_192.168.0.20"};
    wizard::CSheetByIP sheet;
    driver_.Click(IDC_HW_RADIO);
    driver_.Do("check hardware mode", IDD_ADDRESS_PAGE, [] {
        EXPECT_TRUE(IsChecked(IDC_HW_RADIO));
        EXPECT_FALSE(IsChecked(IDC_IP_RADIO));
        EXPECT_TRUE(IsEnabled(IDC_HW_ADDRESS));
        EXPECT_FALSE(IsEnabled(IDC_IP_ADDRESS));
        EXPECT_FALSE(AddressField(0)->isEnabled());
        EXPECT_EQ(Q(wiztext::kHardwareHelp), LabelText(IDC_HELP_TEXT));
        EXPECT_EQ(WizardDriver::Control(IDC_HW_ADDRESS), WizardDriver::Wizard()->focusWidget());
    });
    driver_.TypeHardwareAddress("0060b08fbb4");
    driver_.Next();
    driver_.Answer(QMessageBox::Ok, [](QMessageBox& box) {
        ExpectBox(box, wiztext::kErrorTitle, wiztext::kHardwareAddressError, QMessageBox::Critical,
                  false);
    });
    driver_.TypeHardwareAddress("0060B08FBB49");
    driver_.Next();
    driver_.Answer(QMessageBox::Yes, [](QMessageBox& box) {
        ExpectBox(box, wiztext::kErrorTitle, wiztext::kNotFoundQuestion, QMessageBox::Warning,
                  true);
        EXPECT_EQ(nullptr, QApplication::overrideCursor()) << "the pointer to answer with";
    });
    driver_.TypeAddress("192.168.0.20");
    driver_.Next();
    driver_.Answer(QMessageBox::Yes, [](QMessageBox& box) {
        ExpectBox(box, wiztext::kErrorTitleWithStop, wiztext::kPortExistsQuestion,
                  QMessageBox::Warning, true);
    });
    driver_.Do("check the settings", IDD_ADDRESS_SETTINGS_PAGE, [] {
        EXPECT_EQ(QStringLiteral("192.168.0.20"), LabelText(IDC_SETTING_IP));
        EXPECT_EQ(QStringLiteral("255.255.255.0"), LabelText(IDC_SETTING_MASK));
        EXPECT_EQ(QStringLiteral("192.168.0.1"), LabelText(IDC_SETTING_GATEWAY));
    });
    driver_.Back();
    driver_.Do("check the address page as it was", IDD_ADDRESS_PAGE, [] {
        EXPECT_TRUE(IsChecked(IDC_IP_RADIO));
        EXPECT_FALSE(IsChecked(IDC_HW_RADIO));
        EXPECT_EQ(QStringLiteral("0060B08FBB49"),
                  qobject_cast<QLineEdit*>(WizardDriver::Control(IDC_HW_ADDRESS))->text());
        EXPECT_EQ(QStringLiteral("192"), AddressField(0)->text());
        EXPECT_EQ(QStringLiteral("20"), AddressField(3)->text());
    });
    driver_.Escape();
    EXPECT_EQ(0, Run(sheet));
    EXPECT_EQ((std::vector<std::pair<std::string, int>>{{"0060B08FBB49", SearchByHardwareAddress},
                                                        {"192.168.0.20", SearchByIpAddress}}),
              discovery_.finds);
}

// A middle field may hold 0, but only a 0 typed: a blank second or third field is refused with
// its field's message and gets the focus, and is never searched for as 0.
TEST_F(AddressWizard, ABlankMiddleFieldIsRefusedAndATypedZeroSearched) {
    discovery_.searches = {{}};
    wizard::CSheetByIP sheet;
    auto fill = [](std::array<const char*, 4> texts) {
        return [texts] {
            for (int i = 0; i < 4; ++i) {
                AddressField(i)->setText(QString::fromLatin1(texts[static_cast<size_t>(i)]));
            }
        };
    };
    for (int blank : {1, 2}) {
        std::array<const char*, 4> texts = {"192", "0", "0", "20"};
        texts[static_cast<size_t>(blank)] = "";
        driver_.Do("leave a field blank", IDD_ADDRESS_PAGE, fill(texts));
        driver_.Next();
        driver_.Answer(QMessageBox::Ok, [blank](QMessageBox& box) {
            EXPECT_EQ(Q(wiztext::kFieldErrors[blank]), box.text());
        });
        driver_.Do("check the focus", IDD_ADDRESS_PAGE, [blank] {
            EXPECT_EQ(AddressField(blank), WizardDriver::Wizard()->focusWidget());
        });
    }
    driver_.Do("type every field", IDD_ADDRESS_PAGE, fill({"192", "0", "0", "20"}));
    driver_.Next();
    driver_.Answer(QMessageBox::No,
                   [](QMessageBox& box) { EXPECT_EQ(Q(wiztext::kNotFoundQuestion), box.text()); });
    EXPECT_EQ(0, Run(sheet));
    EXPECT_EQ((std::vector<std::pair<std::string, int>>{{"192.0.0.20", SearchByIpAddress}}),
              discovery_.finds);
}

TEST_F(AddressWizard, NoToTheNotFoundQuestionEndsTheWizard) {
    discovery_.searches = {{}};
    wizard::CSheetByIP sheet;
    driver_.TypeAddress("192.168.0.99");
    driver_.Next();
    driver_.Answer(QMessageBox::No);
    EXPECT_EQ(0, Run(sheet));
    EXPECT_EQ(nullptr, sheet.Found());
}

}  // namespace
}  // namespace nvtest
