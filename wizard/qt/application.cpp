#include "wizard/qt/application.h"

#include <QApplication>
#include <QThread>

#include <cstdlib>
#include <string>

#include "platform/win32.h"
#include "wizard/qt/display_probe.h"
#include "wizard/wizard_page.h"

namespace wizard::qtview {

namespace {

// QApplication keeps references to argc and argv for its whole life. The platform it starts
// on is the one checked to come up ("-platform" outweighs QT_QPA_PLATFORM).
char gProgram[] = "nvinstall";
char gPlatformOption[] = "-platform";
std::string gPlatform;
int gArgc = 0;
char* gArgv[4] = {};
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
        // A display that is named but cannot be reached would end the process inside Qt.
        std::string why;
        gPlatform = UsablePlatform(&why);
        if (gPlatform.empty()) {
            ReportNoWizard(("no Qt platform can start (" + why + ")").c_str());
            return nullptr;
        }
        gArgc = 3;
        gArgv[0] = gProgram;
        gArgv[1] = gPlatformOption;
        gArgv[2] = gPlatform.data();
        gArgv[3] = nullptr;
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
