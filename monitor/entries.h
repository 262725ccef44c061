// The entries of the monitor's function table. (The Windows headers already declare names such
// as XcvDataPort, so the monitor's own carry the prefix Mon.)
#pragma once

#include "platform/win32.h"

BOOL WINAPI MonEnumPorts(HANDLE monitor, LPWSTR server, DWORD level, LPBYTE buffer, DWORD size,
                         LPDWORD needed, LPDWORD returned);
BOOL WINAPI MonAddPortEx(HANDLE monitor, LPWSTR server, DWORD level, LPBYTE buffer,
                         LPWSTR monitorName);
VOID WINAPI MonShutdown(HANDLE monitor);

BOOL WINAPI MonOpenPort(HANDLE monitor, LPWSTR name, PHANDLE port);
BOOL WINAPI MonStartDocPort(HANDLE port, LPWSTR printerName, DWORD jobId, DWORD level,
                            LPBYTE docInfo);
BOOL WINAPI MonWritePort(HANDLE port, LPBYTE buffer, DWORD size, LPDWORD written);
BOOL WINAPI MonReadPort(HANDLE port, LPBYTE buffer, DWORD size, LPDWORD read);
BOOL WINAPI MonEndDocPort(HANDLE port);
BOOL WINAPI MonClosePort(HANDLE port);
BOOL WINAPI MonGetPrinterDataFromPort(HANDLE port, DWORD controlId, LPWSTR valueName,
                                      LPWSTR inBuffer, DWORD inSize, LPWSTR outBuffer,
                                      DWORD outSize, LPDWORD returned);
BOOL WINAPI MonSetPortTimeOuts(HANDLE port, LPCOMMTIMEOUTS timeouts, DWORD reserved);

BOOL WINAPI MonXcvOpenPort(HANDLE monitor, LPCWSTR object, ACCESS_MASK access, PHANDLE xcv);
DWORD WINAPI MonXcvDataPort(HANDLE xcv, LPCWSTR dataName, PBYTE input, DWORD inputSize,
                            PBYTE output, DWORD outputSize, PDWORD needed);
BOOL WINAPI MonXcvClosePort(HANDLE xcv);
