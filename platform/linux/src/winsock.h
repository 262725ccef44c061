// Shared by the Winsock stand-in's translation units.
#pragma once

#include "platform/linux/include/winsock_api.h"
#include "platform/linux/src/internal.h"

struct NvSocketState {
    bool nonBlocking = false;     // as set with ioctlsocket(FIONBIO)
    bool connectPending = false;  // a non-blocking connect was started
};

bool NvIsSocket(SOCKET s);
bool NvSocketStateOf(SOCKET s, NvSocketState* state);

// Sets the last error and returns SOCKET_ERROR.
int NvWsaFail(DWORD error);
int NvWsaFailErrno(long negatedErrno);
DWORD NvWsaFromErrno(int error);

// Aborts the overlapped send of a socket that is being closed (winsock_io.cpp).
void NvIoCancel(SOCKET s);
