// CNetXcv: the Xcv channel of the network monitor. DataXfer dispatches each request by its
// exact (case-sensitive) name through a table; the record requests exchange PortEntry.
#pragma once

#include "monitor/xcv.h"
#include "net/portentry.h"

class CNetPort;

class CNetXcv : public CXcv {
  public:
    // How long a request that changes a port's transport waits for a job on that port.
    static constexpr DWORD kJobWaitMs = 120000;

    CNetXcv(CPrintMonitor* monitor, LPCWSTR name);

    DWORD DataXfer(LPCWSTR name, PBYTE input, DWORD inputSize, PBYTE output, DWORD outputSize,
                   PDWORD needed) override;
    DWORD _AddPort(PBYTE input, DWORD inputSize, PBYTE output, DWORD outputSize,
                   PDWORD needed) override;
    virtual DWORD _GetDefaultCommonSettings(PBYTE, DWORD, PBYTE, DWORD, PDWORD) { return 0; }
    virtual DWORD _GetCurrentCommonSettings(PBYTE, DWORD, PBYTE, DWORD, PDWORD) { return 0; }
    virtual DWORD _SetCurrentCommonSettings(PBYTE, DWORD, PBYTE, DWORD, PDWORD) { return 0; }
    virtual DWORD _GetDefaultRawSocketSettings(PBYTE, DWORD, PBYTE, DWORD, PDWORD) { return 0; }
    virtual DWORD _GetCurrentRawSocketSettings(PBYTE, DWORD, PBYTE, DWORD, PDWORD) { return 0; }
    virtual DWORD _SetCurrentRawSocketSettings(PBYTE, DWORD, PBYTE, DWORD, PDWORD) { return 0; }
    virtual DWORD _GetDefaultLprSettings(PBYTE, DWORD, PBYTE, DWORD, PDWORD) { return 0; }
    virtual DWORD _GetCurrentLprSettings(PBYTE, DWORD, PBYTE, DWORD, PDWORD) { return 0; }
    virtual DWORD _SetCurrentLprSettings(PBYTE, DWORD, PBYTE, DWORD, PDWORD) { return 0; }
    virtual DWORD _ReadConfigInf(PBYTE input, DWORD inputSize, PBYTE output, DWORD outputSize,
                                 PDWORD needed);
    virtual DWORD _ConfigPort(PBYTE input, DWORD inputSize, PBYTE output, DWORD outputSize,
                              PDWORD needed);

  private:
    // The port of this monitor with that name, pinned and with its job gate held, or null
    // (with the Win32 code in *error).
    CNetPort* AcquirePort(LPCWSTR name, DWORD* error);
    void ReleasePort(CNetPort* port);
    DWORD FillRecord(CNetPort* port, PortEntry* record);
    DWORD ApplyRecord(CNetPort* port, const PortEntry& record);
};

// A PortEntry given as request input, of which the request uses the first `usedBytes` (whole
// fields from the start of the record): those are copied into a cleared record when the input
// holds them and each text among them ends inside its field; FALSE otherwise. The rest of the
// input is never read.
BOOL ReadPortEntry(PBYTE input, DWORD inputSize, size_t usedBytes, PortEntry* record);
