// A spooler host: loads a print monitor as the Windows spooler does (InitializePrintMonitor2
// with the monitor's registry key), keeps its MONITOR2 table and serves the spooler functions
// that the monitor calls back (EnumPortsW, OpenPrinterW, GetJobW, SetJobW, ...).
//
// One host per process: it registers itself as the process's spooler services.
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/linux/include/nvplatform.h"
#include "tools/spoolhost/job_info.h"

namespace nvspool {

// Where the monitor's keys live, below HKEY_LOCAL_MACHINE.
inline constexpr char16_t kMonitorsKey[] = u"SYSTEM\\CurrentControlSet\\Control\\Print\\Monitors";
inline constexpr char16_t kNorvaMonitorName[] = u"NORVA TCP/IP Port";

struct LocalPort {
    const char16_t* name;
    const char16_t* description;
    DWORD type;
};

// The host's own ports, listed with the monitors' as a spooler lists them.
inline constexpr LocalPort kLocalPorts[] = {
    {u"COM1:", u"Serial Port", PORT_TYPE_WRITE | PORT_TYPE_READ},
    {u"LPT1:", u"Printer Port", PORT_TYPE_WRITE | PORT_TYPE_READ},
    {u"FILE:", u"Print to File", PORT_TYPE_WRITE},
};
inline constexpr char16_t kLocalMonitorName[] = u"Local Port";

// A job in the host's table, as GetJobW reports it.
struct Job : JobRecord {
    DWORD id = 0;
    std::u16string printer;
    std::u16string machine;
    std::u16string user;
    std::u16string document;
    std::u16string datatype = u"RAW";
};

class SpoolerHost : public NvSpoolerServices {
  public:
    SpoolerHost();
    ~SpoolerHost() override;
    SpoolerHost(const SpoolerHost&) = delete;
    SpoolerHost& operator=(const SpoolerHost&) = delete;

    // Loads the monitor library at `path` under the monitor name: opens (creating it when
    // missing) HKLM\...\Monitors\<name>, passes it as hckRegistryRoot and calls
    // InitializePrintMonitor2. Returns 0 or a Win32 code; `message` explains a failure.
    DWORD LoadMonitor(const std::string& path, const std::u16string& name = kNorvaMonitorName,
                      bool local = true, std::string* message = nullptr);
    // The same for a monitor linked into the process (its InitializePrintMonitor2).
    typedef LPMONITOR2(WINAPI* InitializeProc)(PMONITORINIT init, PHANDLE monitor);
    DWORD LoadMonitorEntry(InitializeProc initialize,
                           const std::u16string& name = kNorvaMonitorName);
    // Calls the monitor's Shutdown and closes its key; the library stays mapped, as the
    // monitor's application object lives until the process ends.
    void ShutdownMonitors();
    // Shutdown and InitializePrintMonitor2 again: what a spooler restart does.
    DWORD ReloadMonitors(std::string* message = nullptr);
    // The two halves of a restart, for a host that is stopped and started as a service.
    void StopMonitors();
    DWORD StartMonitors(std::string* message = nullptr);
    bool Running() const;

    // Adds a job (an id of 0 is assigned); returns its id. Its printer can then be opened.
    DWORD AddJob(Job job);
    // The commands that SetJobW received for the job so far.
    std::vector<DWORD> JobCommands(DWORD jobId) const;
    // What the spooler's user does to a job: JOB_STATUS_DELETING for a job deleted while it
    // prints, JOB_STATUS_RESTART for one restarted by hand. The monitor sees it in GetJobW.
    void SetJobStatus(DWORD jobId, DWORD status);
    // The job's status text now, and every one it had.
    std::u16string JobStatusText(DWORD jobId) const;
    std::vector<std::u16string> JobStatusTexts(DWORD jobId) const;
    // Called (outside the host's lock, on the monitor's thread) whenever the monitor sets a
    // job's status text; empty when it clears it.
    using StatusObserver = std::function<void(DWORD jobId, const std::u16string& text)>;
    void SetStatusObserver(StatusObserver observer);
    // What the monitor said of a port's printer (SetPortW level 3): the last status of the
    // port (status 0 when none), and every change in order.
    PortStatusRecord PortStatus(const std::u16string& port) const;
    std::vector<PortStatusRecord> PortStatusChanges() const;
    // Printer handles that are open (OpenPrinterW without ClosePrinter).
    size_t OpenPrinterCount() const;

    // Whether the caller may administer the server (SERVER_ACCESS_ADMINISTER): as on Windows,
    // the right of those who may change the machine's configuration, here whoever may write
    // the registry store. Tests can decide it instead.
    static bool CallerMayAdminister();
    void SetAdministerOverride(int allowed) { administerOverride_ = allowed; }  // -1: ask

    // The first monitor's table and handle (null when none is loaded).
    const MONITOR2* Table() const;
    HANDLE MonitorHandle() const;

    // NvSpoolerServices
    BOOL OpenPrinter(LPWSTR name, LPHANDLE printer, LPPRINTER_DEFAULTSW defaults) override;
    BOOL ClosePrinter(HANDLE printer) override;
    BOOL GetJob(HANDLE printer, DWORD jobId, DWORD level, LPBYTE job, DWORD size,
                LPDWORD needed) override;
    BOOL SetJob(HANDLE printer, DWORD jobId, DWORD level, LPBYTE job, DWORD command) override;
    BOOL SetPort(LPWSTR name, LPWSTR portName, DWORD level, LPBYTE portInfo) override;
    BOOL EnumPorts(LPWSTR name, DWORD level, LPBYTE ports, DWORD size, LPDWORD needed,
                   LPDWORD returned) override;
    BOOL XcvData(HANDLE xcv, PCWSTR dataName, PBYTE input, DWORD inputSize, PBYTE output,
                 DWORD outputSize, PDWORD needed, PDWORD status) override;

  private:
    struct Monitor {
        std::string path;
        InitializeProc initialize = nullptr;
        std::u16string name;
        bool local = true;
        void* library = nullptr;
        HKEY root = nullptr;
        MONITORINIT init{};
        const MONITOR2* table = nullptr;
        HANDLE handle = nullptr;
    };
    struct PortEntry {
        std::u16string name;
        std::u16string monitor;
        std::u16string description;
        DWORD type;
    };

    DWORD Initialize(Monitor* monitor, std::string* message);
    static void StorePortStatus(const PortStatusRecord& record);
    void Shutdown(Monitor* monitor);
    bool CollectPorts(std::vector<PortEntry>* ports);

    const Job* FindJobLocked(HANDLE printer, DWORD jobId, DWORD* error) const;
    BOOL OpenXcv(const std::u16string& name, LPHANDLE printer, LPPRINTER_DEFAULTSW defaults);

    // An Xcv channel opened through OpenPrinterW(",XcvMonitor NAME" or ",XcvPort NAME").
    struct XcvChannel {
        ULONG_PTR handle;
        const MONITOR2* table;
        HANDLE xcv;
    };

    mutable std::mutex mutex_;
    std::vector<std::unique_ptr<Monitor>> monitors_;
    std::vector<Job> jobs_;
    std::vector<std::pair<ULONG_PTR, std::u16string>> printers_;  // open handles
    std::vector<XcvChannel> channels_;
    int administerOverride_ = -1;
    StatusObserver statusObserver_;
    std::vector<PortStatusRecord> portStatus_;  // every change, in order
    ULONG_PTR nextPrinterHandle_ = 0x70000000;
    DWORD nextJobId_ = 1;
};

}  // namespace nvspool
