// Functions of Windows releases later than the oldest one the DLLs run on. Each is looked up
// at run time in its system DLL, so that the DLLs load on the older systems too; where it is
// absent (or the test switch no-late-api says so), the call fails with
// ERROR_CALL_NOT_IMPLEMENTED and its caller takes the fallback written beside the call.
#pragma once

#include "platform/winsock.h"

// CancelIoEx (Windows Vista): cancels one overlapped operation of a handle.
BOOL LateCancelIoEx(HANDLE file, LPOVERLAPPED overlapped);

// How far a connection's data has gone since the connection began: the bytes put on the wire
// at least once, and those the peer's TCP acknowledged. From SIO_TCP_INFO (Windows 10 1703);
// FALSE with the Winsock error where the system cannot tell (older Windows, and Wine:
// WSAEOPNOTSUPP).
BOOL QueryTcpProgress(SOCKET s, ULONG64* transmitted, ULONG64* acknowledged);
