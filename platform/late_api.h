// Functions of Windows releases later than the oldest one the DLLs run on. Each is looked up
// at run time in its system DLL, so that the DLLs load on the older systems too; where it is
// absent (or the test switch no-late-api says so), the call fails with
// ERROR_CALL_NOT_IMPLEMENTED and its caller takes the fallback written beside the call.
#pragma once

#include "platform/winsock.h"

// CancelIoEx (Windows Vista): cancels one overlapped operation of a handle.
BOOL LateCancelIoEx(HANDLE file, LPOVERLAPPED overlapped);

// What the peer's TCP has acknowledged of a connection's data: the bytes sent and
// acknowledged since the connection began. From SIO_TCP_INFO (Windows 10 1703); FALSE with
// the Winsock error where the system cannot tell (older Windows, Wine: WSAEOPNOTSUPP).
BOOL QueryBytesAcknowledged(SOCKET s, ULONG64* acknowledged);
