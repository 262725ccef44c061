#include "platform/late_api.h"

#include <atomic>
#include <cstring>

#include "platform/test_switch.h"

namespace {

bool LateApiOff() {
    return TestSwitch("no-late-api", 0) != 0;
}

// SIO_TCP_INFO and its version-0 answer, as Windows 10 1703 defines them; written out for
// Windows because its headers declare them only for programs built for that release. The
// Linux stand-in declares them itself.
#ifdef _WIN32
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
#else
constexpr DWORD kSioTcpInfo = SIO_TCP_INFO;
using TcpInfoV0 = TCP_INFO_v0;
#endif

}  // namespace

#ifdef _WIN32
// Looked up on every call, and the switch asked again, so that a test may set it between jobs;
// the functions are called rarely, and the lookup in a loaded DLL is cheap.
FARPROC LateFunction(const wchar_t* dll, const char* name) {
    HMODULE module = GetModuleHandleW(dll);
    if (module == nullptr || LateApiOff()) {
        return nullptr;
    }
    return GetProcAddress(module, name);
}

namespace {

template <typename Function>
Function Late(const wchar_t* dll, const char* name) {
    return reinterpret_cast<Function>(reinterpret_cast<void*>(LateFunction(dll, name)));
}

// Calls the BOOL function `name` of kernel32 with `args`, or fails with
// ERROR_CALL_NOT_IMPLEMENTED where it is absent.
template <typename... Args>
BOOL CallKernel32(const char* name, Args... args) {
    auto function = Late<BOOL(WINAPI*)(Args...)>(L"kernel32.dll", name);
    if (function == nullptr) {
        SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
        return FALSE;
    }
    return function(args...);
}

ULONGLONG(WINAPI* SystemTickCount64())() {
    return Late<ULONGLONG(WINAPI*)()>(L"kernel32.dll", "GetTickCount64");
}

}  // namespace

BOOL LateCancelIoEx(HANDLE file, LPOVERLAPPED overlapped) {
    return CallKernel32("CancelIoEx", file, overlapped);
}

BOOL LateIsWow64Process(HANDLE process, PBOOL wow64) {
    return CallKernel32("IsWow64Process", process, wow64);
}
#else
// The stand-ins have every function; only the switch takes them away.
BOOL LateCancelIoEx(HANDLE file, LPOVERLAPPED overlapped) {
    if (LateApiOff()) {
        SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
        return FALSE;
    }
    return CancelIoEx(file, overlapped);
}

namespace {

ULONGLONG (*SystemTickCount64())() {
    return LateApiOff() ? nullptr : GetTickCount64;
}

}  // namespace
#endif

ULONGLONG ExtendTickCount(ULONGLONG last, DWORD now) {
    ULONGLONG wraps = last & ~0xFFFFFFFFull;
    if (now < static_cast<DWORD>(last)) {
        wraps += 0x100000000ull;
    }
    return wraps | now;
}

namespace {

// GetTickCount extended by its wraps. Two threads may read the clock at once: a thread whose
// reading is older than the one stored meanwhile tries again, so the count never goes back.
ULONGLONG TickCountFromWraps() {
    static std::atomic<ULONGLONG> last{0};
    ULONGLONG seen = last.load();
    for (;;) {
        const ULONGLONG next = ExtendTickCount(seen, GetTickCount());
        if (last.compare_exchange_weak(seen, next)) {
            return next;
        }
    }
}

}  // namespace

ULONGLONG LateGetTickCount64() {
    static const auto system = SystemTickCount64();
    return system != nullptr ? system() : TickCountFromWraps();
}

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
