// CXcv: one open Xcv channel of the spooler, through which a port user interface sends named
// requests to the monitor. The base handlers are here; the network channel adds its own and
// dispatches requests by name.
#pragma once

#include "monitor/pmobj.h"

class CXcv : public CPMObject {
  public:
    static constexpr DWORD kSignature = 0x5843;  // "CX"
    static constexpr size_t kUiLibraryChars = 261;

    CXcv(CPrintMonitor* monitor, LPCWSTR name);
    ~CXcv() override;

    LPCWSTR GetClassDescription() const override { return WSTR("QORN Xcv Class"); }
    BOOL IsValid() const override { return m_signature == kSignature; }
    // Every request: (input, input bytes, output, output bytes, out: output bytes needed) and a
    // Win32 code, 0 for success.
    virtual DWORD DataXfer(LPCWSTR name, PBYTE input, DWORD inputSize, PBYTE output,
                           DWORD outputSize, PDWORD needed);
    virtual DWORD _MonitorUI(PBYTE input, DWORD inputSize, PBYTE output, DWORD outputSize,
                             PDWORD needed);
    virtual DWORD _AddPort(PBYTE input, DWORD inputSize, PBYTE output, DWORD outputSize,
                           PDWORD needed);
    virtual DWORD _DeletePort(PBYTE input, DWORD inputSize, PBYTE output, DWORD outputSize,
                              PDWORD needed);
    virtual DWORD _PortExists(PBYTE input, DWORD inputSize, PBYTE output, DWORD outputSize,
                              PDWORD needed);
    virtual DWORD _PortIsValid(PBYTE input, DWORD inputSize, PBYTE output, DWORD outputSize,
                               PDWORD needed);
    virtual DWORD _ExistPort(PBYTE input, DWORD inputSize, PBYTE output, DWORD outputSize,
                             PDWORD needed);

    ACCESS_MASK GetGrantedAccess() const { return m_granted; }
    void SetGrantedAccess(ACCESS_MASK access) { m_granted = access; }

  protected:
    // 0 when no monitor of the spooler has a port of that name; ERROR_ALREADY_EXISTS (also set
    // as the last error) when one has; the load error when the spooler cannot be asked.
    DWORD CheckNewPortName(LPCWSTR name);

    ACCESS_MASK m_granted;
    WCHAR m_uiLibrary[kUiLibraryChars + 1];
};

// A name given as request input: a terminated wide string inside the input's bytes, or null.
LPCWSTR XcvInputName(PBYTE input, DWORD inputSize);
// The last error, or `fallback` when a failure left none: a failure is never reported as 0.
DWORD LastErrorOr(DWORD fallback);
