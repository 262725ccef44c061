// The Windows API as this project uses it.
//
// Project code includes this header (and platform/winsock.h for sockets) instead of <windows.h>.
// On Windows it is the system headers; on Linux the same names, types and semantics come from
// the stand-ins under platform/linux. Wide literals go through WSTR() so that one source line
// compiles on both: WCHAR is wchar_t on Windows and char16_t on Linux, 16 bits on both.
#pragma once

#ifdef _WIN32
#include "platform/win32/windows_api.h"
#else
#include "platform/linux/include/windows_api.h"
#endif

#include "platform/wstr.h"
