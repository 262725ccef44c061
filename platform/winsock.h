// Windows Sockets as this project uses it (see platform/win32.h).
//
// On Linux the Winsock functions that share a name with a POSIX function are macros for the
// stand-ins, so include this header only where sockets are used.
#pragma once

#include "platform/win32.h"

#ifndef _WIN32
#include "platform/linux/include/winsock_api.h"
#endif
