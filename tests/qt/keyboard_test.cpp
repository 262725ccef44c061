// The Qt wizards at the keyboard and during their searches, with real key events: an address
// typed over the old one, Tab out of the printer list, Escape on a question, and a wizard that
// stays on screen while it searches but acts on nothing typed meanwhile.
#include <QCoreApplication>
#include <QKeyEvent>
#include <QMessageBox>

#include <gtest/gtest.h>

#include <thread>

#include "resources/wizard_ids.h"
#include "resources/wizard_texts.h"
#include "tests/qt/wizard_fixture.h"
#include "wizard/sheet.h"
#include "wizard/sheet_by_ip.h"

namespace nvtest {
namespace {

using wizard::qtview::kBackName;
using wizard::qtview::kNextName;

using KeyboardWizard = QtWizard;

// 10.1.1.254, Tab, Shift+Tab, 192.168.1.20: the first field comes back selected and each typed
// number replaces the old one. A dot right after a third digit (the next field then wholly
// selected) or in a blank field stays where it is, so every number lands in its own field.
TEST_F(KeyboardWizard, AnAddressTypedOverTheOldOneIsTheAddressTyped) {
    discovery_.searches = {{P{Ip(192, 168, 1, 20), 0, 0, nullptr, "Retyped"}}};
    wizard::CSheetByIP sheet;
    driver_.Do("type, Tab, Shift+Tab, type again", IDD_ADDRESS_PAGE, [] {
        ActivateWizard();
        ASSERT_EQ(AddressField(0), Focused());
        TypeKeys("10.1.1.254");
        Key(Qt::Key_Tab);
        EXPECT_EQ(FrameButton(kNextName), Focused()) << "Tab leaves the address control";
        Key(Qt::Key_Tab, Qt::ShiftModifier);
        ASSERT_EQ(AddressField(0), Focused());
        TypeKeys("192.168.1.20");
        for (int i = 0; i < 4; ++i) {
            EXPECT_EQ((QStringList{"192", "168", "1", "20"})[i], AddressField(i)->text()) << i;
        }
        TypeKeys("..");
        EXPECT_EQ(AddressField(3), Focused());
    });
    driver_.Next();
    driver_.Next();
    EXPECT_EQ(1, Run(sheet));
    EXPECT_EQ((std::vector<std::pair<std::string, int>>{{"192.168.1.20", SearchByIpAddress}}),
              discovery_.finds);
}

// Tab moves from the list to Refresh and on to Next (Back and Cancel are disabled); the arrow
// keys move between the rows.
TEST_F(KeyboardWizard, TabLeavesThePrinterList) {
    discovery_.searches = {{kLab1, kLab2}};
    wizard::CSheet sheet;
    driver_.Do("Tab through the list page", IDD_LIST_PAGE, [] {
        ActivateWizard();
        List()->setFocus(Qt::TabFocusReason);
        Key(Qt::Key_Down);
        EXPECT_EQ(List(), Focused());
        Key(Qt::Key_Tab);
        EXPECT_EQ(WizardDriver::Control(IDC_REFRESH), Focused());
        Key(Qt::Key_Tab);
        EXPECT_EQ(FrameButton(kNextName), Focused());
    });
    driver_.Escape();
    EXPECT_EQ(0, Run(sheet));
}

// A Yes/No question has no Cancel: Escape and the window's close button leave it open, as on
// Windows; only an answer closes it.
TEST_F(KeyboardWizard, EscapeOnAQuestionIsIgnored) {
    discovery_.searches = {{}, {kLab1}};
    wizard::CSheet sheet;
    driver_.Next();
    driver_.Answer(QMessageBox::Yes, [](QMessageBox& box) {
        QTest::keyClick(&box, Qt::Key_Escape);
        EXPECT_TRUE(box.isVisible()) << "Escape";
        box.close();
        EXPECT_TRUE(box.isVisible()) << "the close button";
    });
    driver_.Do("check the new search", IDD_LIST_PAGE, [] { EXPECT_EQ(1, List()->rowCount()); });
    driver_.Escape();
    EXPECT_EQ(0, Run(sheet));
    EXPECT_EQ(2, discovery_.broadcasts) << "Yes searched again";
}

// The first search runs with the wizard on screen: busy cursor, Refresh, Back and Next off, and
// keys and clicks dropped. Afterwards the wizard is as the search left it.
TEST_F(KeyboardWizard, TheWizardIsOnScreenButTakesNoInputWhileItSearches) {
    SlowDiscovery slow;
    slow.searches = {{kLab1}};
    ScopedDiscovery scoped(&slow);
    wizard::CSheet sheet;
    driver_.DoWhileBusy("act during the first search", [] {
        QDialog* wizard = WizardDriver::Wizard();
        EXPECT_TRUE(wizard->isVisible());
        EXPECT_EQ(IDD_LIST_PAGE, WizardDriver::CurrentPage());
        EXPECT_FALSE(IsEnabled(IDC_REFRESH));
        EXPECT_FALSE(FrameButton(kNextName)->isEnabled());
        EXPECT_FALSE(FrameButton(kBackName)->isEnabled());
        QTest::keyClick(wizard, Qt::Key_Return);
        QTest::keyClick(wizard, Qt::Key_Tab);
        QTest::mouseClick(FrameButton(kNextName), Qt::LeftButton);
        EXPECT_TRUE(wizard->isVisible());
    });
    driver_.Do("check the page after the search", IDD_LIST_PAGE, [] {
        EXPECT_EQ(1, List()->rowCount());
        EXPECT_TRUE(IsEnabled(IDC_REFRESH));
        EXPECT_TRUE(FrameButton(kNextName)->isEnabled());
    });
    driver_.Escape();
    EXPECT_EQ(0, Run(sheet));
    EXPECT_EQ(1, slow.broadcasts);
}

// Escape or the window's close button while a search runs (one that would run on until it is
// cancelled) cancel it and end the wizard as cancelled; what the search found anyway is not
// shown or kept, and nothing is asked.
TEST_F(KeyboardWizard, EscapeOrTheCloseButtonDuringASearchEndTheWizard) {
    discovery_.searches = {{kLab1}};
    discovery_.searchUntilCancelled = true;
    {
        wizard::CSheet sheet;
        driver_.DoWhileBusy("press Escape during the first search",
                            [] { QTest::keyClick(WizardDriver::Wizard(), Qt::Key_Escape); });
        EXPECT_EQ(0, Run(sheet));
        EXPECT_TRUE(sheet.ListPage().m_chosen[wiztext::kColumnIp].empty());
    }
    WizardDriver closer(5000);
    closer.TypeAddress("192.168.0.20");
    closer.Next();
    closer.DoWhileBusy("close the window during the search",
                       [] { WizardDriver::Wizard()->close(); });
    closer.Start();
    wizard::CSheetByIP sheet;
    wizard::qtview::QtWizardFrame frame;
    EXPECT_EQ(0, sheet.RunWizard(frame));
    EXPECT_TRUE(closer.Finished()) << S(closer.Error());
    EXPECT_EQ(nullptr, WizardDriver::Wizard());
    EXPECT_EQ(nullptr, sheet.Found());
    EXPECT_EQ(2, discovery_.cancels);
    EXPECT_TRUE(discovery_.portQuestions.empty());
    EXPECT_FALSE(discovery_.recordsAlive);
}

// Two Returns typed while the address is searched for (queued for the wizard as the window
// system queues them) are not acted on once the search is over: the settings page stays
// until the user presses Next on it.
TEST_F(KeyboardWizard, KeysTypedDuringASearchAreNotActedOnAfterIt) {
    SlowDiscovery slow;
    slow.searches = {{kLab1}};
    ScopedDiscovery scoped(&slow);
    QWidget* target = nullptr;
    slow.duringSearch = [&target] {
        for (int i = 0; i < 2; ++i) {
            QCoreApplication::postEvent(target,
                                        new QKeyEvent(QEvent::KeyPress, Qt::Key_Return, {}));
            QCoreApplication::postEvent(target,
                                        new QKeyEvent(QEvent::KeyRelease, Qt::Key_Return, {}));
        }
    };
    wizard::CSheetByIP sheet;
    driver_.TypeAddress("192.168.0.20");
    driver_.Do("note the focus", IDD_ADDRESS_PAGE,
               [&target] { target = WizardDriver::Wizard()->focusWidget(); });
    driver_.Next();
    driver_.Wait(200);  // a key kept for later would have been acted on by now
    driver_.Do("check the settings page waits", IDD_ADDRESS_SETTINGS_PAGE,
               [] { EXPECT_EQ(QStringLiteral("192.168.0.20"), LabelText(IDC_SETTING_IP)); });
    driver_.Escape();
    EXPECT_EQ(0, Run(sheet));
}

// Called on another thread than the application's, whose event loop the wizard needs: nothing
// is shown, no search runs, and the frame says why in one line.
TEST_F(KeyboardWizard, NoWizardOnAThreadWithoutTheApplicationsLoop) {
    wizard::CSheet sheet;
    int result = -1;
    testing::internal::CaptureStderr();
    std::thread caller([&sheet, &result] {
        wizard::qtview::QtWizardFrame frame;
        result = sheet.RunWizard(frame);
    });
    caller.join();
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(0, result);
    EXPECT_EQ(static_cast<DWORD>(ERROR_NOT_SUPPORTED), sheet.FrameError());
    EXPECT_EQ(0, discovery_.broadcasts);
    EXPECT_EQ(0u, err.find("nvinstall: the wizard cannot be shown: called on another thread"))
        << err;
    EXPECT_EQ(1, std::count(err.begin(), err.end(), '\n')) << err;
}

}  // namespace
}  // namespace nvtest
