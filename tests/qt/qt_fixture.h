// What the tests of the Qt view share: an application on the offscreen platform (made the way
// the library makes its own), the widgets of the wizard on screen by name, and key presses.
#pragma once

#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QString>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "wizard/qt/application.h"
#include "wizard/qt/wizard_driver.h"
#include "wizard/wizard_view.h"

namespace nvtest {

// Every case of a Qt test suite runs on the offscreen platform, whatever display the machine
// has, in the application that the view creates for itself.
class QtTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
        ASSERT_NE(wizard::qtview::EnsureApplication(), nullptr);
    }
    // As after a wizard: the application object goes at exit, before Qt's own objects.
    static void TearDownTestSuite() { wizard::qtview::ScheduleApplicationDeletion(); }
};

inline QString Q(const wizard::Text& text) {
    return QString::fromUtf16(text.data(), static_cast<qsizetype>(text.size()));
}
inline QString Q(const char16_t* text) {
    return QString::fromUtf16(text);
}

inline std::string S(const QString& text) {
    return text.toStdString();
}

// The text of a label on the wizard's current page.
inline QString LabelText(int id) {
    auto* label = qobject_cast<QLabel*>(wizard::qtview::WizardDriver::Control(id));
    return label != nullptr ? label->text() : QStringLiteral("(no label %1)").arg(id);
}

// One key press and release to `target`.
inline void Press(QWidget* target, int key, const QString& text = QString()) {
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, text);
    QApplication::sendEvent(target, &press);
    QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier, text);
    QApplication::sendEvent(target, &release);
}

}  // namespace nvtest
