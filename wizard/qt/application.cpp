#include "wizard/qt/application.h"

#include <QApplication>
#include <QThread>

#include <cstdlib>

#include "platform/win32.h"

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
            DbgPrint(
                "nvinstall: no display (QT_QPA_PLATFORM, DISPLAY, WAYLAND_DISPLAY): "
                "the wizard cannot be shown\n");
            return nullptr;
        }
        gOwnApplication = new QApplication(gArgc, gArgv);
        // Closing the wizard must not end an event loop that the host runs later.
        QApplication::setQuitOnLastWindowClosed(false);
        return gOwnApplication;
    }
    auto* application = qobject_cast<QApplication*>(existing);
    if (application == nullptr) {
        DbgPrint(
            "nvinstall: the host's application object has no widgets: the wizard cannot "
            "be shown\n");
        return nullptr;
    }
    if (application->thread() != QThread::currentThread()) {
        DbgPrint(
            "nvinstall: called on another thread than the host's application: the wizard "
            "cannot be shown\n");
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
