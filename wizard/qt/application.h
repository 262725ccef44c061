// The application object that Qt widgets need.
#pragma once

class QApplication;

namespace wizard::qtview {

// The host's QApplication when it has one; otherwise one created here on the first wizard.
// Null when no wizard can be shown, after the line of ReportNoWizard: no display to show it on
// (none of QT_QPA_PLATFORM, DISPLAY, WAYLAND_DISPLAY is set, or none that is named can be
// reached or has its Qt plugin: Qt would end the process), a host application object without
// widgets, or a caller on another thread than the application's, whose event loop the wizard
// cannot run on.
QApplication* EnsureApplication();

// After a wizard: an application object made here is deleted when the process exits or the
// library is unloaded. Qt destroys its own global objects from the same exit handlers, in the
// reverse order of their making, so the deletion is registered anew after every wizard: it then
// runs before every global object that the wizard made Qt create, while the application object
// can still reach them. Nothing for the host's application object.
void ScheduleApplicationDeletion();

}  // namespace wizard::qtview
