// What the Linux platform layer offers beyond the Windows API: the hooks that a spooler host,
// the tools and the tests use to stand in for Windows itself. Not part of the Windows build.
//
// Environment:
//   NORVA_REGISTRY  path of the registry store (default /var/lib/norva/registry.db)
//   NORVA_TRACE     debugger output: a file path (appended), or "-" for standard error
//   NORVA_FAULT     test faults at start-up: "Call=code[,Call=code...]" (see NvFaultSet)
//   NORVA_HOST_ADDRESSES  tests only: the machine's own addresses (see NvSetHostAddresses)
#pragma once

#include <string>

#include "platform/linux/include/windows_api.h"

// --- Debugger output ---
// Receives every DbgPrint text. A sink set here replaces the NORVA_TRACE destination; null
// restores it.
typedef void (*NvTraceSink)(const char* text, void* context);
void NvTraceSetSink(NvTraceSink sink, void* context);

// --- Modules ---
struct NvStringResource {
    UINT id;
    const WCHAR* text;
};
// Registers a loaded library under its Windows name, so that GetModuleHandleW finds it and
// LoadStringW reads its string table. addressInside is any address inside the library.
HMODULE NvRegisterModule(const WCHAR* windowsName, const void* addressInside,
                         const NvStringResource* strings, size_t stringCount);
void NvUnregisterModule(HMODULE module);

// Runs a library's DllEntryPoint as Windows' loader would: process attach when the library is
// loaded, process detach when it is unloaded.
#define NV_DLL_ENTRY(entry, windowsName, strings, count)                                   \
    namespace {                                                                            \
    struct NvDllEntryCaller {                                                              \
        HMODULE module;                                                                    \
        NvDllEntryCaller()                                                                 \
            : module(NvRegisterModule(windowsName, (const void*)&entry, strings, count)) { \
            entry(module, DLL_PROCESS_ATTACH, nullptr);                                    \
        }                                                                                  \
        ~NvDllEntryCaller() {                                                              \
            entry(module, DLL_PROCESS_DETACH, nullptr);                                    \
            NvUnregisterModule(module);                                                    \
        }                                                                                  \
    } nvDllEntryCaller;                                                                    \
    }

// --- Spooler services ---
// The spooler host implements these; OpenPrinterW and the rest forward to the registered
// provider, and LoadLibraryW("SPOOLSS.DLL") succeeds only while one is registered.
class NvSpoolerServices {
  public:
    virtual ~NvSpoolerServices() = default;
    virtual BOOL OpenPrinter(LPWSTR name, LPHANDLE printer, LPPRINTER_DEFAULTSW defaults) = 0;
    virtual BOOL ClosePrinter(HANDLE printer) = 0;
    virtual BOOL GetJob(HANDLE printer, DWORD jobId, DWORD level, LPBYTE job, DWORD size,
                        LPDWORD needed) = 0;
    virtual BOOL SetJob(HANDLE printer, DWORD jobId, DWORD level, LPBYTE job, DWORD command) = 0;
    virtual BOOL SetPort(LPWSTR name, LPWSTR portName, DWORD level, LPBYTE portInfo) = 0;
    virtual BOOL EnumPorts(LPWSTR name, DWORD level, LPBYTE ports, DWORD size, LPDWORD needed,
                           LPDWORD returned) = 0;
    virtual BOOL XcvData(HANDLE xcv, PCWSTR dataName, PBYTE input, DWORD inputSize, PBYTE output,
                         DWORD outputSize, PDWORD needed, PDWORD status) = 0;
};
void NvSetSpoolerServices(NvSpoolerServices* services);

// --- Test faults ---
// Makes the named platform call ("RegCreateKeyExW", "EnumPortsW", "WSASend", "LoadLibraryW",
// "socket", ...) fail with the given Win32 or Winsock code: after `skip` successful calls,
// for `times` calls (-1: until cleared).
void NvFaultSet(const char* call, DWORD code, int times = -1, int skip = 0);
void NvFaultClear(const char* call = nullptr);

// --- Host lookup ---
// Tests only: the addresses, in order, that gethostbyname answers for the machine's own name,
// instead of its interfaces' ("127.255.0.1" puts the machine on the loopback network, whose
// class-based broadcast address 127.255.255.255 reaches only local sockets). A comma-separated
// list of dotted addresses; null or empty goes back to the interfaces. A process started by a
// test takes the list from NORVA_HOST_ADDRESSES until this is called.
//
// While a list is set it is the machine's interface list too (WSAIoctl SIO_GET_INTERFACE_LIST):
// an entry written "A.B.C.D/N" is an interface that is up and can broadcast, with an N-bit
// netmask; an entry without "/N" is an address of the name only. So "127.255.0.1" gives no
// interface at all, and no test under the override ever broadcasts on a real interface.
void NvSetHostAddresses(const char* dottedList);

// --- Errors ---
// The system's text for a Win32 or Winsock error code, without a trailing line end.
std::string NvErrorText(DWORD code);
// The Win32 code that the platform's own calls give for a POSIX errno value.
DWORD NvWin32FromErrno(int error);

// --- Registry store ---
// Windows' limit on the depth of a key: the names of its path from the root down (HKLM\A\B
// lies 2 levels deep). RegCreateKeyExW beyond it is ERROR_INVALID_PARAMETER, as on Windows.
constexpr size_t kNvMaxKeyDepth = 512;
// The path of the store that the registry functions use (NORVA_REGISTRY or the default).
std::string NvRegistryPath();
// Closes the store so that the next registry call opens it again (after NORVA_REGISTRY
// changed, for instance). Open key handles become invalid; an open transaction is rolled back.
void NvRegistryReset();
// One transaction around many registry calls of this thread. For writing (an import): other
// processes see all of its changes or none; a call that fails inside undoes only itself, and
// Commit fails (undoing everything) when the transaction could not be kept. For reading (an
// export): every call sees the same state of the store, and writes are ERROR_ACCESS_DENIED.
// Begin waits for the store as a call does and fails with its code; until Commit or Rollback
// the other threads' registry calls wait. ERROR_INVALID_FUNCTION for a second Begin, or an end
// without a beginning.
LONG NvRegistryBegin(bool write = true);
LONG NvRegistryCommit();
void NvRegistryRollback();

// --- Text ---
std::string NvToUtf8(const WCHAR* text);
std::u16string NvFromUtf8(const char* text);
