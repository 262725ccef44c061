// What the tests of the Qt wizards share: printers for the prepared discovery, the widgets of
// the wizard on screen, and a fixture that runs a sheet in the Qt frame with a driver's steps.
#pragma once

#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QLineEdit>
#include <QTableWidget>
#include <QTest>

#include <chrono>
#include <functional>
#include <thread>

#include "resources/wizard_ids.h"
#include "tests/qt/qt_fixture.h"
#include "tests/wizard/fake_wizard.h"
#include "wizard/qt/qt_frame.h"
#include "wizard/qt/qt_names.h"
#include "wizard/wizard_page.h"

namespace nvtest {

using P = FakeDiscovery::Printer;
using wizard::qtview::WizardDriver;

inline const P kLab1{Ip(192, 168, 0, 20), Ip(255, 255, 255, 0), Ip(192, 168, 0, 1), "021a2b3c4d5e",
                     "Lab Printer 1"};
inline const P kLab2{Ip(192, 168, 0, 21), Ip(255, 255, 255, 0), Ip(192, 168, 0, 1), "021a2b3c4d5f",
                     "Lab Printer 2"};
inline const P kBare{Ip(10, 0, 0, 5), 0, 0, nullptr, "Bare"};

inline QAbstractButton* FrameButton(const char* name) {
    return WizardDriver::FrameButton(name);
}

inline QTableWidget* List() {
    return qobject_cast<QTableWidget*>(WizardDriver::Control(IDC_PRINTER_LIST));
}

inline QLineEdit* AddressField(int field) {
    QWidget* address = WizardDriver::Control(IDC_IP_ADDRESS);
    return address != nullptr
               ? address->findChild<QLineEdit*>(wizard::qtview::AddressFieldName(field))
               : nullptr;
}

inline bool IsChecked(int id) {
    auto* button = qobject_cast<QAbstractButton*>(WizardDriver::Control(id));
    return button != nullptr && button->isChecked();
}

inline bool IsEnabled(int id) {
    QWidget* control = WizardDriver::Control(id);
    return control != nullptr && control->isEnabled();
}

// The wizard's window made the active one, as it is on a desktop: keys then reach the widget
// with the focus, and focus changes send their events.
inline void ActivateWizard() {
    QDialog* wizard = WizardDriver::Wizard();
    wizard->activateWindow();
    EXPECT_TRUE(QTest::qWaitForWindowActive(wizard));
}

inline QWidget* Focused() {
    return QApplication::focusWidget();
}

// Real key events, one press and release per key, each to the widget that has the focus then.
inline void Key(Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    QTest::keyClick(Focused(), key, modifiers);
}
inline void TypeKeys(const QString& text) {
    for (QChar c : text) {
        QTest::keyClick(Focused(), c.toLatin1());
    }
}

// Discovery whose searches take a while on the worker thread; `duringSearch` runs there at the
// start of each search (it may only post events to the widgets).
class SlowDiscovery : public FakeDiscovery {
  public:
    PrinterRecord* BroadcastSearch(HWND window, int transport) override {
        Wait();
        return FakeDiscovery::BroadcastSearch(window, transport);
    }
    PrinterRecord* FindPrinter(HWND window, const char* address, int mode) override {
        Wait();
        return FakeDiscovery::FindPrinter(window, address, mode);
    }
    std::function<void()> duringSearch;
    int delayMs = 300;

  private:
    void Wait() {
        if (duringSearch) {
            duringSearch();
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
    }
};

class QtWizard : public QtTest {
  protected:
    // Runs the sheet in the Qt frame with the driver's steps; the sheet's result.
    int Run(wizard::CWizardSheet& sheet) {
        driver_.Start();
        wizard::qtview::QtWizardFrame frame;
        int result = sheet.RunWizard(frame);
        EXPECT_TRUE(driver_.Finished())
            << S(driver_.Error()) << " / not run: " << S(driver_.Pending());
        EXPECT_EQ(nullptr, WizardDriver::Wizard()) << "the wizard is gone";
        EXPECT_EQ(nullptr, QApplication::overrideCursor()) << "no busy cursor left";
        return result;
    }

    FakeDiscovery discovery_;
    ScopedDiscovery scoped_{&discovery_};
    WizardDriver driver_{5000};
};

}  // namespace nvtest
