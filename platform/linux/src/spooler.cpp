// Spooler services: forwarded to the spooler host that registered itself. Outside a host there
// is no spooler, and the calls fail as they do on Windows when the spooler is not running.
#include "platform/linux/src/spooler.h"

#include <cstring>
#include <mutex>

namespace {

std::mutex gServicesMutex;
NvSpoolerServices* gServices = nullptr;
HMODULE const kSpoolssModule = reinterpret_cast<HMODULE>(static_cast<ULONG_PTR>(0x7ffe0000));

NvSpoolerServices* Services() {
    std::lock_guard<std::mutex> lock(gServicesMutex);
    if (gServices == nullptr) {
        SetLastError(RPC_S_SERVER_UNAVAILABLE);
    }
    return gServices;
}

BOOL WINAPI SpoolssEnumPortsW(LPWSTR name, DWORD level, LPBYTE ports, DWORD size, LPDWORD needed,
                              LPDWORD returned) {
    return EnumPortsW(name, level, ports, size, needed, returned);
}

}  // namespace

void NvSetSpoolerServices(NvSpoolerServices* services) {
    std::lock_guard<std::mutex> lock(gServicesMutex);
    gServices = services;
}

HMODULE NvSpoolssLoad() {
    if (Services() == nullptr) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    return kSpoolssModule;
}

bool NvIsSpoolssModule(HMODULE module) {
    return module == kSpoolssModule;
}

FARPROC NvSpoolssProc(const char* name) {
    if (strcmp(name, "EnumPortsW") == 0) {
        return reinterpret_cast<FARPROC>(reinterpret_cast<void*>(&SpoolssEnumPortsW));
    }
    SetLastError(ERROR_PROC_NOT_FOUND);
    return nullptr;
}

BOOL OpenPrinterW(LPWSTR printerName, LPHANDLE printer, LPPRINTER_DEFAULTSW defaults) {
    if (NvFaultFail("OpenPrinterW")) {
        return FALSE;
    }
    NvSpoolerServices* services = Services();
    return services != nullptr ? services->OpenPrinter(printerName, printer, defaults) : FALSE;
}

BOOL ClosePrinter(HANDLE printer) {
    NvSpoolerServices* services = Services();
    return services != nullptr ? services->ClosePrinter(printer) : FALSE;
}

BOOL GetJobW(HANDLE printer, DWORD jobId, DWORD level, LPBYTE job, DWORD bufSize, LPDWORD needed) {
    if (NvFaultFail("GetJobW")) {
        return FALSE;
    }
    NvSpoolerServices* services = Services();
    return services != nullptr ? services->GetJob(printer, jobId, level, job, bufSize, needed)
                               : FALSE;
}

BOOL SetJobW(HANDLE printer, DWORD jobId, DWORD level, LPBYTE job, DWORD command) {
    NvSpoolerServices* services = Services();
    return services != nullptr ? services->SetJob(printer, jobId, level, job, command) : FALSE;
}

BOOL SetPortW(LPWSTR name, LPWSTR portName, DWORD level, LPBYTE portInfo) {
    NvSpoolerServices* services = Services();
    if (services == nullptr) {
        SetLastError(RPC_S_SERVER_UNAVAILABLE);
        return FALSE;
    }
    return services->SetPort(name, portName, level, portInfo);
}

BOOL EnumPortsW(LPWSTR name, DWORD level, LPBYTE ports, DWORD bufSize, LPDWORD needed,
                LPDWORD returned) {
    if (NvFaultFail("EnumPortsW")) {
        return FALSE;
    }
    NvSpoolerServices* services = Services();
    return services != nullptr ? services->EnumPorts(name, level, ports, bufSize, needed, returned)
                               : FALSE;
}

BOOL XcvDataW(HANDLE xcv, PCWSTR dataName, PBYTE inputData, DWORD inputSize, PBYTE outputData,
              DWORD outputSize, PDWORD outputNeeded, PDWORD status) {
    NvSpoolerServices* services = Services();
    return services != nullptr ? services->XcvData(xcv, dataName, inputData, inputSize, outputData,
                                                   outputSize, outputNeeded, status)
                               : FALSE;
}

// The host process runs as itself throughout; there is no client token to switch to.
BOOL ImpersonatePrinterClient(HANDLE) {
    return TRUE;
}

HANDLE RevertToPrinterSelf() {
    return reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(0x5e1f));
}
