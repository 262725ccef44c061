// The application object: one per process, created at the library's first notification and
// never destroyed. It owns the monitor-wide lock and the spooler-wide port-existence query.
#pragma once

#include <atomic>
#include <mutex>

#include "monitor/template.h"

class CPrintMonitor;

typedef BOOL(WINAPI* EnumPortsProc)(LPWSTR name, DWORD level, LPBYTE ports, DWORD size,
                                    LPDWORD needed, LPDWORD returned);

class CQornApp : public CQornTemplate {
  public:
    explicit CQornApp(HINSTANCE instance);

    LPCWSTR GetClassDescription() const override { return WSTR("QORN Application Class"); }
    BOOL IsValid() const override { return TRUE; }
    virtual BOOL Initialize() { return FALSE; }
    virtual BOOL Terminate() { return FALSE; }
    virtual CPrintMonitor* CreatePrintMonitor() { return nullptr; }
    virtual BOOL DeletePrintMonitor(CPrintMonitor* monitor) = 0;
    virtual BOOL IsPortValid(LPCWSTR name);

    // The monitor-wide lock (recursive). Unlock first runs CheckLocked.
    void Lock() { EnterCriticalSection(&m_lock); }
    void Unlock() {
        CheckLocked();
        LeaveCriticalSection(&m_lock);
    }
    // Traces when the calling thread does not hold the lock; changes nothing.
    void CheckLocked();

    HINSTANCE GetInstance() const { return m_instance; }

    // TRUE when the spooler lists a port of that name under any of its monitors. Load failures
    // of SPOOLSS are reported through *error.
    BOOL SpoolerPortExists(LPCWSTR server, LPCWSTR port, LPDWORD error);

  private:
    EnumPortsProc LoadEnumPorts(LPDWORD error);

    HINSTANCE m_instance;
    CRITICAL_SECTION m_lock;
    HMODULE m_spoolss;  // null until the first query, then kept for the life of the process
    EnumPortsProc m_enumPorts;
    std::mutex m_spoolssMutex;  // guards the two fields above while SPOOLSS is being loaded
};

class CNetApp : public CQornApp {
  public:
    explicit CNetApp(HINSTANCE instance);

    // Starts Windows Sockets for the monitor; each successful start is counted.
    BOOL Initialize() override;
    // Ends exactly the starts that Initialize made, no more: the Winsock of the process that
    // loaded the monitor (the spooler and everything in it) stays as its owners left it.
    BOOL Terminate() override;
    CPrintMonitor* CreatePrintMonitor() override;
    BOOL DeletePrintMonitor(CPrintMonitor* monitor) override;

  private:
    std::atomic<int> m_winsockStarts{0};
};

// The application object, created on first use with the given instance (or, when that is null,
// the module handle of "nvtcpmon.dll").
CQornApp* GetApp(HINSTANCE instance);

// RAII for the monitor-wide lock.
class CAppLock {
  public:
    CAppLock() { GetApp(nullptr)->Lock(); }
    ~CAppLock() { GetApp(nullptr)->Unlock(); }
    CAppLock(const CAppLock&) = delete;
    CAppLock& operator=(const CAppLock&) = delete;
};
