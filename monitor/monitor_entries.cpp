// The function-table entries that work on the monitor as a whole.
#include "monitor/app.h"
#include "monitor/entries.h"
#include "monitor/pmobj.h"

BOOL WINAPI MonEnumPorts(HANDLE monitor, LPWSTR server, DWORD level, LPBYTE buffer, DWORD size,
                         LPDWORD needed, LPDWORD returned) {
    return static_cast<CPrintMonitor*>(monitor)->EnumPorts(server, level, buffer, size, needed,
                                                           returned);
}

BOOL WINAPI MonAddPortEx(HANDLE monitor, LPWSTR server, DWORD level, LPBYTE buffer,
                         LPWSTR monitorName) {
    return static_cast<CPrintMonitor*>(monitor)->AddPortEx(server, level, buffer, monitorName);
}

VOID WINAPI MonShutdown(HANDLE monitor) {
    static_cast<CPrintMonitor*>(monitor)->Shutdown();
}
