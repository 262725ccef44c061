// CXcv: one open Xcv channel of the spooler, through which a port user interface sends named
// requests to the monitor.
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

    ACCESS_MASK GetGrantedAccess() const { return m_granted; }
    void SetGrantedAccess(ACCESS_MASK access) { m_granted = access; }

  protected:
    ACCESS_MASK m_granted;
    WCHAR m_uiLibrary[kUiLibraryChars + 1];
};
