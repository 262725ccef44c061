#include "net/netlpr.h"

CLpr::CLpr() {
    DbgPrint("CLpr(0x%08X, size=%d)\n", TraceAddress(this), static_cast<int>(sizeof(CLpr)));
}

CLpr::~CLpr() {
    DbgPrint("~CLpr(0x%08X)\n", TraceAddress(this));
}

BOOL CLpr::StartDoc(CNetPort*) {
    SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
    return FALSE;
}
