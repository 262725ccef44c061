// Functions of Windows releases later than the oldest one the binaries run on (Windows 2000
// for nvtcpmon.dll and nvport.exe, XP for nvinstall.dll). Each is looked up at run time in its
// system DLL, so that the binaries load on the older systems too. Where it is absent (or the
// test switch no-late-api says so), the call either fails with ERROR_CALL_NOT_IMPLEMENTED and
// its caller takes the fallback written beside the call, or, as said below, does the same work
// by older means.
#pragma once

#include "platform/winsock.h"

#ifdef _WIN32
// The address of a function of a system DLL already loaded into the process ("kernel32.dll"),
// or null where that DLL has no such function or the test switch no-late-api is set.
FARPROC LateFunction(const wchar_t* dll, const char* name);

// IsWow64Process (Windows XP SP2): whether a process is a 32-bit one on 64-bit Windows.
BOOL LateIsWow64Process(HANDLE process, PBOOL wow64);
#endif

// CancelIoEx (Windows Vista): cancels one overlapped operation of a handle.
BOOL LateCancelIoEx(HANDLE file, LPOVERLAPPED overlapped);

// GetTickCount64 (Windows Vista): milliseconds, in 64 bits, that never wrap. Without it,
// GetTickCount (which wraps every 49.7 days) extended by the wraps it has been seen to make:
// the same clock for deadlines and intervals, as long as it is read at least once in every
// 49.7 days. Which of the two the process uses is decided at its first call, so that no
// deadline mixes them.
ULONGLONG LateGetTickCount64();

// The fallback's step: the 64-bit count that follows `last` when GetTickCount reads `now`.
ULONGLONG ExtendTickCount(ULONGLONG last, DWORD now);

// How far a connection's data has gone since the connection began: the bytes put on the wire
// at least once, and those the peer's TCP acknowledged. From SIO_TCP_INFO (Windows 10 1703);
// FALSE with the Winsock error where the system cannot tell (older Windows, and Wine:
// WSAEOPNOTSUPP).
BOOL QueryTcpProgress(SOCKET s, ULONG64* transmitted, ULONG64* acknowledged);
