#include "net/netxcv.h"

#include <cstring>

static const WCHAR kUiLibrary[] = WSTR("nvtcpmui.dll");

CNetXcv::CNetXcv(CPrintMonitor* monitor, LPCWSTR name) : CXcv(monitor, name) {
    DbgPrint("CNetXcv(0x%08X, size=%d, \"%ws\")\n", TraceAddress(this),
             static_cast<int>(sizeof(CNetXcv)), name);
    memcpy(m_uiLibrary, kUiLibrary, sizeof kUiLibrary);
}
