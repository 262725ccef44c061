#include "monitor/xcv.h"

CXcv::CXcv(CPrintMonitor* monitor, LPCWSTR name)
    : CPMObject(monitor, name), m_granted(1), m_uiLibrary{} {
    // The constructor's trace begins with a tilde, as it always has.
    DbgPrint("~CXcv(0x%08X, size=%d)\n", TraceAddress(this), static_cast<int>(sizeof(CXcv)));
    m_signature = kSignature;
}

CXcv::~CXcv() {
    DbgPrint("~CXcv(0x%08X)\n", TraceAddress(this));
}
