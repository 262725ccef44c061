// A process that started Windows Sockets itself loads the monitor DLL and frees it again,
// once without starting the monitor and once through a whole start and Shutdown, and must
// still have working sockets: the monitor ends only the Winsock start it made itself. Exit
// code 0 when every check passed.
#include <winsock2.h>
#include <windows.h>
#include <winspool.h>
#include <winsplp.h>

#include <cstdio>

typedef LPMONITOR2(WINAPI* InitializeProc)(PMONITORINIT, PHANDLE);

static int gFailures = 0;

static void Check(bool ok, const char* what) {
    printf("%s: %s\n", ok ? "ok" : "FAILED", what);
    if (!ok) {
        ++gFailures;
    }
}

static bool SocketsWork() {
    SOCKET probe = socket(AF_INET, SOCK_STREAM, 0);
    if (probe == INVALID_SOCKET) {
        printf("socket() failed: %d\n", WSAGetLastError());
        return false;
    }
    closesocket(probe);
    return true;
}

// Starts the monitor as a local spooler would, on a registry key of its own, and shuts it down.
static bool StartAndShutDown(HMODULE library) {
    auto initialize = reinterpret_cast<InitializeProc>(
        reinterpret_cast<void*>(GetProcAddress(library, "InitializePrintMonitor2")));
    HKEY root = nullptr;
    if (initialize == nullptr ||
        RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\NORVA winsock test", 0, nullptr, 0,
                        KEY_ALL_ACCESS, nullptr, &root, nullptr) != ERROR_SUCCESS) {
        return false;
    }
    MONITORINIT init = {};
    init.cbSize = sizeof init;
    init.hckRegistryRoot = reinterpret_cast<HKEYMONITOR>(root);
    init.bLocal = TRUE;
    HANDLE monitor = nullptr;
    LPMONITOR2 table = initialize(&init, &monitor);
    if (table != nullptr) {
        table->pfnShutdown(monitor);
    }
    RegCloseKey(root);
    return table != nullptr;
}

int wmain() {
    WSADATA data;
    if (WSAStartup(MAKEWORD(2, 2), &data) != 0) {
        printf("FAILED: WSAStartup\n");
        return 1;
    }
    for (int start = 0; start < 2; ++start) {
        HMODULE library = LoadLibraryW(L"nvtcpmon.dll");
        if (library == nullptr) {
            printf("FAILED: LoadLibraryW(nvtcpmon.dll): %lu\n", GetLastError());
            return 1;
        }
        if (start == 1) {
            Check(StartAndShutDown(library), "the monitor starts and shuts down");
        }
        Check(FreeLibrary(library) != FALSE, "FreeLibrary");
        Check(SocketsWork(), start == 0 ? "sockets work after loading and freeing the monitor"
                                        : "sockets work after starting and freeing the monitor");
    }
    Check(WSACleanup() == 0, "the process's own Winsock start is still there to end");
    return gFailures == 0 ? 0 : 1;
}
