#include "wizard/qt/application.h"

#include <QApplication>
#include <QThread>

#include <cstdlib>

#include "platform/win32.h"
#include "wizard/wizard_page.h"

namespace wizard::qtview {

namespace {

// QApplication keeps references to argc and argv for its whole life.
int gArgc = 1;
char gProgram[] = "nvinstall";
char* gArgv[] = {gProgram, nullptr};
QApplication* gOwnApplication = nullptr;

void DeleteOwnApplication() {
    delete gOwnApplication;
    gOwnApplication = nullptr;
}

bool DisplayAvailable() {
    return !qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") ||
           !qEnvironmentVariableIsEmpty("DISPLAY") ||
           !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
}

}  // namespace

QApplication* EnsureApplication() {
    QCoreApplication* existing = QCoreApplication::instance();
    if (existing == nullptr) {
        if (!DisplayAvailable()) {
            ReportNoWizard("no display (QT_QPA_PLATFORM, DISPLAY and WAYLAND_DISPLAY are unset)");
            return nullptr;
        }
        gOwnApplication = new QApplication(gArgc, gArgv);
        // Closing the wizard must not end an event loop that the host runs later.
        QApplication::setQuitOnLastWindowClosed(false);
        return gOwnApplication;
    }
    auto* application = qobject_cast<QApplication*>(existing);
    if (application == nullptr) {
        ReportNoWizard("the host's Qt application object has no widgets (QCoreApplication)");
        return nullptr;
    }
    if (application->thread() != QThread::currentThread()) {
        ReportNoWizard(
            "called on another thread than the host's Qt application, whose message loop the "
            "wizard needs");
        return nullptr;
    }
    return application;
}

void ScheduleApplicationDeletion() {
    if (gOwnApplication != nullptr) {
        std::atexit(DeleteOwnApplication);
    }
}

}  // namespace wizard::qtview
