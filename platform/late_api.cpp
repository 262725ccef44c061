#include "platform/late_api.h"

#include <cstring>

#include "platform/test_switch.h"

namespace {

bool LateApiOff() {
    return TestSwitch("no-late-api", 0) != 0;
}

// SIO_TCP_INFO and its version-0 answer, as Windows 10 1703 defines them; written out here
// because the system headers declare them only for programs built for that release.
constexpr DWORD kSioTcpInfo = 0xD8000027;  // _WSAIORW(IOC_VENDOR, 39)
struct TcpInfoV0 {
    int State;
    ULONG Mss;
    ULONG64 ConnectionTimeMs;
    BOOLEAN TimestampsEnabled;
    ULONG RttUs;
    ULONG MinRttUs;
    ULONG BytesInFlight;
    ULONG Cwnd;
    ULONG SndWnd;
    ULONG RcvWnd;
    ULONG RcvBuf;
    ULONG64 BytesOut;
    ULONG64 BytesIn;
    ULONG BytesReordered;
    ULONG BytesRetrans;
    ULONG FastRetrans;
    ULONG DupAcksIn;
    ULONG TimeoutEpisodes;
    UCHAR SynRetrans;
};
#ifndef _WIN32
static_assert(SIO_TCP_INFO == kSioTcpInfo, "the Winsock stand-in's SIO_TCP_INFO");
static_assert(sizeof(TCP_INFO_v0) == sizeof(TcpInfoV0), "the stand-in's TCP_INFO_v0 layout");
#endif

}  // namespace

#ifdef _WIN32
BOOL LateCancelIoEx(HANDLE file, LPOVERLAPPED overlapped) {
    using CancelIoExProc = BOOL(WINAPI*)(HANDLE, LPOVERLAPPED);
    // Looked up once; a race between two first calls only looks it up twice.
    static CancelIoExProc cancel = reinterpret_cast<CancelIoExProc>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "CancelIoEx")));
    if (cancel == nullptr || LateApiOff()) {
        SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
        return FALSE;
    }
    return cancel(file, overlapped);
}
#else
BOOL LateCancelIoEx(HANDLE file, LPOVERLAPPED overlapped) {
    if (LateApiOff()) {
        SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
        return FALSE;
    }
    return CancelIoEx(file, overlapped);
}
#endif

// BytesOut counts every byte put on the wire, retransmissions included, and BytesRetrans the
// retransmitted ones (the RFC 4898 counters that Windows' TCP statistics follow), so the
// connection's own bytes sent are their difference, and those not in flight any more have
// been acknowledged.
BOOL QueryTcpProgress(SOCKET s, ULONG64* transmitted, ULONG64* acknowledged) {
    if (LateApiOff()) {
        WSASetLastError(WSAEOPNOTSUPP);
        return FALSE;
    }
    DWORD version = 0;
    TcpInfoV0 info;
    memset(&info, 0, sizeof info);
    DWORD returned = 0;
    if (WSAIoctl(s, kSioTcpInfo, &version, sizeof version, &info, sizeof info, &returned, nullptr,
                 nullptr) == SOCKET_ERROR) {
        return FALSE;
    }
    if (returned < sizeof info) {
        WSASetLastError(WSAEOPNOTSUPP);
        return FALSE;
    }
    ULONG64 sent = info.BytesOut >= info.BytesRetrans ? info.BytesOut - info.BytesRetrans : 0;
    *transmitted = sent;
    *acknowledged = sent >= info.BytesInFlight ? sent - info.BytesInFlight : 0;
    return TRUE;
}
