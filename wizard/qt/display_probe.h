// Whether Qt can start a platform here, asked before Qt is: a QApplication whose platform does
// not come up ends the whole process ("no Qt platform plugin could be initialized"), and an
// installer's process must not end because a stale DISPLAY was left behind by ssh or sudo.
#pragma once

#include <string>

namespace wizard::qtview {

// The platform to start Qt on, in QT_QPA_PLATFORM's syntax ("xcb", "offscreen:enable_fonts"):
// the first entry of QT_QPA_PLATFORM (";"-separated), or of Qt's own choice when it is unset
// (xcb, and wayland where WAYLAND_DISPLAY or XDG_SESSION_TYPE names a Wayland session), whose
// plugin is installed and, for xcb and wayland, whose display accepts a connection. Empty when
// none does; *reason then lists why each entry cannot start, as one line.
//
// Starting Qt with "-platform" and this entry makes it use exactly the platform checked here.
std::string UsablePlatform(std::string* reason);

}  // namespace wizard::qtview
