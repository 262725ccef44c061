// Entries of the function table whose work is still to come: they keep their slots and answer
// ERROR_CALL_NOT_IMPLEMENTED.
#include "monitor/entries.h"

static BOOL NotImplemented() {
    SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
    return FALSE;
}

BOOL WINAPI MonXcvOpenPort(HANDLE, LPCWSTR, ACCESS_MASK, PHANDLE) {
    return NotImplemented();
}
DWORD WINAPI MonXcvDataPort(HANDLE, LPCWSTR, PBYTE, DWORD, PBYTE, DWORD, PDWORD) {
    return ERROR_CALL_NOT_IMPLEMENTED;
}
BOOL WINAPI MonXcvClosePort(HANDLE) {
    return NotImplemented();
}
