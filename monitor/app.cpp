#include "monitor/app.h"

#include <new>

#include "monitor/pmobj.h"
#include "net/netlpr.h"
#include "platform/winsock.h"

// --- CQornApp ---

CQornApp::CQornApp(HINSTANCE instance)
    : m_instance(nullptr), m_spoolss(nullptr), m_enumPorts(nullptr) {
    InitializeCriticalSection(&m_lock);
    DbgPrint("CQornApp(0x%08X, size=%d)\n", TraceAddress(this), static_cast<int>(sizeof(CQornApp)));
    m_instance = instance != nullptr ? instance : GetModuleHandleW(WSTR("nvtcpmon.dll"));
}

void CQornApp::CheckLocked() {
    DWORD owner = static_cast<DWORD>(reinterpret_cast<ULONG_PTR>(HANDLE(m_lock.OwningThread)));
    if (owner != GetCurrentThreadId()) {
        DbgPrint("Not in spooler semaphore\n");
    }
}

// Resolves SPOOLSS's EnumPortsW once; a failure is retried by the next query.
EnumPortsProc CQornApp::LoadEnumPorts(LPDWORD error) {
    std::lock_guard<std::mutex> guard(m_spoolssMutex);
    if (m_spoolss == nullptr) {
        m_spoolss = LoadLibraryW(WSTR("SPOOLSS.DLL"));
        if (m_spoolss == nullptr) {
            *error = GetLastError();
        } else {
            FARPROC proc = GetProcAddress(m_spoolss, "EnumPortsW");
            if (proc == nullptr) {
                *error = GetLastError();
                FreeLibrary(m_spoolss);
                m_spoolss = nullptr;
            } else {
                m_enumPorts = reinterpret_cast<EnumPortsProc>(reinterpret_cast<void*>(proc));
            }
        }
    }
    return m_spoolss != nullptr ? m_enumPorts : nullptr;
}

BOOL CQornApp::SpoolerPortExists(LPCWSTR server, LPCWSTR port, LPDWORD error) {
    DWORD ignored = 0;
    if (error == nullptr) {
        error = &ignored;
    }
    *error = 0;
    EnumPortsProc enumPorts = LoadEnumPorts(error);
    if (enumPorts == nullptr) {
        return FALSE;
    }
    DWORD needed = 0;
    DWORD returned = 0;
    LPWSTR serverName = const_cast<LPWSTR>(server);
    if (enumPorts(serverName, 1, nullptr, 0, &needed, &returned)) {
        DbgPrint("Port \"%ws\" not recoginzed by SPOOLSS\n", port);
        return FALSE;
    }
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER) {
        return TRUE;  // an enumeration that fails for another reason counts as "exists"
    }
    auto* buffer = static_cast<LPBYTE>(AllocMem(needed));
    if (buffer == nullptr) {
        return FALSE;
    }
    BOOL found = FALSE;
    if (enumPorts(serverName, 1, buffer, needed, &needed, &returned)) {
        auto* ports = reinterpret_cast<PORT_INFO_1W*>(buffer);
        for (DWORD i = 0; i < returned; ++i) {
            if (port != nullptr && ports[i].pName != nullptr &&
                lstrcmpiW(ports[i].pName, port) == 0) {
                found = TRUE;
            }
        }
    }
    FreeMem(buffer);
    return found;
}

// A file or device name that can be written; a file created only for the test is removed when
// it is closed.
BOOL CQornApp::IsPortValid(LPCWSTR name) {
    if (name == nullptr || IsComPort(name) || IsLptPort(name) || IsFilePort(name)) {
        return FALSE;
    }
    HANDLE file = CreateFileW(name, GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        file = CreateFileW(name, GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                           FILE_FLAG_DELETE_ON_CLOSE | FILE_ATTRIBUTE_NORMAL, nullptr);
    }
    if (file == INVALID_HANDLE_VALUE) {
        return FALSE;
    }
    CloseHandle(file);
    return TRUE;
}

// --- CNetApp ---

CNetApp::CNetApp(HINSTANCE instance) : CQornApp(instance) {
    DbgPrint("CNetApp(0x%08X, size=%d)\n", TraceAddress(this), static_cast<int>(sizeof(CNetApp)));
    DbgPrint("Module instance = 0x%08X\n", TraceAddress(GetInstance()));
}

// Windows Sockets 1.1 must start and give a TCP socket, or the monitor does not start.
BOOL CNetApp::Initialize() {
    WSADATA data;
    if (WSAStartup(MAKEWORD(1, 1), &data) != 0) {
        return FALSE;
    }
    SOCKET probe = socket(AF_INET, SOCK_STREAM, 0);
    if (probe == INVALID_SOCKET) {
        DWORD error = GetLastError();
        WSACleanup();  // the start that failed its check is not kept
        SetLastError(error);
        return FALSE;
    }
    closesocket(probe);
    ++m_winsockStarts;
    return TRUE;
}

BOOL CNetApp::Terminate() {
    for (int starts = m_winsockStarts.exchange(0); starts > 0; --starts) {
        WSACleanup();
    }
    return TRUE;
}

// A monitor starting up first clears away what LPR jobs of an earlier spooler process, killed
// in the middle of a job, left in the temporary directory.
CPrintMonitor* CNetApp::CreatePrintMonitor() {
    CLpr::SweepSpoolFiles();
    return new (std::nothrow) CNetPrintMonitor();
}

BOOL CNetApp::DeletePrintMonitor(CPrintMonitor* monitor) {
    if (monitor == nullptr) {
        return FALSE;
    }
    delete monitor;
    return TRUE;
}

CQornApp* GetApp(HINSTANCE instance) {
    static CQornApp* app = new CNetApp(instance);
    return app;
}
