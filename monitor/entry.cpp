// The door between the spooler and the monitor: the library's entry point, the exported
// InitializePrintMonitor2 and the function table it hands back.
#include <cstddef>

#include "monitor/app.h"
#include "monitor/entries.h"
#include "monitor/pmobj.h"

#ifdef _WIN32
#define NV_EXPORT extern "C"
#else
#define NV_EXPORT extern "C" __attribute__((visibility("default")))
#include "platform/linux/include/nvplatform.h"
#include "resources/nvtcpmon_strings.h"
#endif

// The table ends after pfnShutdown: the Windows 2000 layout, without the bidirectional entry
// (Windows XP) and the used-ports notifications (Windows 7) of later releases. The spooler of
// Windows 2000 takes only a table of exactly this size; later spoolers, and Wine's, take the
// entries that cbSize covers.
static constexpr DWORD kMonitor2Size = offsetof(MONITOR2, pfnShutdown) + sizeof(void*);
#if defined(_WIN32) && !defined(_WIN64)
static_assert(kMonitor2Size == 0x4C, "MONITOR2 of the Windows 2000 layout is 76 bytes on i686");
#endif
static_assert(kMonitor2Size == offsetof(MONITOR2, pfnEnumPorts) + 18 * sizeof(void*),
              "cbSize covers the size field and 18 entries");

// The table, and null entries after it: a spooler that reads the entries of a later release
// beyond cbSize finds them absent.
namespace {
struct MonitorTable {
    MONITOR2 table;
    void* later[3];
};
}  // namespace

static MonitorTable gMonitor2 = {
    {
        kMonitor2Size,
        MonEnumPorts,
        MonOpenPort,
        nullptr,  // OpenPortEx
        MonStartDocPort,
        MonWritePort,
        MonReadPort,
        MonEndDocPort,
        MonClosePort,
        nullptr,  // AddPort
        MonAddPortEx,
        nullptr,  // ConfigurePort
        nullptr,  // DeletePort
        MonGetPrinterDataFromPort,
        MonSetPortTimeOuts,
        MonXcvOpenPort,
        MonXcvDataPort,
        MonXcvClosePort,
        MonShutdown,
    },
    {},
};

NV_EXPORT BOOL WINAPI DllEntryPoint(HINSTANCE instance, DWORD reason, LPVOID) {
    CQornApp* app = GetApp(instance);
    DbgPrint("DllEntryPoint(reason=%d)\n", static_cast<int>(reason));
    if (reason == DLL_PROCESS_ATTACH) {
        DisableThreadLibraryCalls(instance);
    } else if (reason == DLL_PROCESS_DETACH) {
        app->Terminate();
    }
    return TRUE;
}

NV_EXPORT LPMONITOR2 WINAPI InitializePrintMonitor2(PMONITORINIT init, PHANDLE monitorHandle) {
    CQornApp* app = GetApp(nullptr);
    if (init == nullptr || monitorHandle == nullptr || !init->bLocal) {
        return nullptr;  // the monitor runs only in a local spooler
    }
    if (!app->Initialize()) {
        return nullptr;
    }
    CPrintMonitor* monitor = app->CreatePrintMonitor();
    if (monitor == nullptr) {
        return nullptr;
    }
    monitor->Attach(init);
    app->Lock();
    monitor->LoadPorts();  // a monitor whose "Ports" key cannot be opened starts without ports
    app->Unlock();
    *monitorHandle = monitor;
    return &gMonitor2.table;
}

#ifdef _WIN32
// The C runtime's DLL entry calls DllEntryPoint and then DllMain for every notification. The
// monitor's work is done once, in DllEntryPoint; DllMain only answers, so that a detach does not
// end Winsock twice. (It must be defined here: otherwise the linker would take the DllMain
// that an import library of a system DLL happens to offer.)
extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) {
    return TRUE;
}
#else
NV_DLL_ENTRY(DllEntryPoint, u"nvtcpmon.dll", kMonitorStrings,
             sizeof(kMonitorStrings) / sizeof(kMonitorStrings[0]))
#endif
