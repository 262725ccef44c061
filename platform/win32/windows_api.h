// Windows build: the platform layer is the system headers.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
// winsock2.h must come before windows.h.
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
#include <winspool.h>
#include <winsplp.h>

#define WSTR(s) L##s

// The kernel debugger output; exported by ntdll.dll and not declared by the user-mode headers.
extern "C" ULONG __cdecl DbgPrint(PCSTR Format, ...);
