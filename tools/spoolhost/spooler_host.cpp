#include "tools/spoolhost/spooler_host.h"

#include <dlfcn.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

#include "tools/spoolhost/job_info.h"

namespace nvspool {

namespace {

std::u16string KeyPathOf(const std::u16string& name) {
    return std::u16string(kMonitorsKey) + u"\\" + name;
}

DWORD StringBytes(const std::u16string& text) {
    return static_cast<DWORD>((text.size() + 1) * sizeof(char16_t));
}

}  // namespace

SpoolerHost::SpoolerHost() {
    NvSetSpoolerServices(this);
}

SpoolerHost::~SpoolerHost() {
    ShutdownMonitors();
    NvSetSpoolerServices(nullptr);
}

DWORD SpoolerHost::LoadMonitor(const std::string& path, const std::u16string& name, bool local,
                               std::string* message) {
    auto monitor = std::make_unique<Monitor>();
    monitor->path = path;
    monitor->name = name;
    monitor->local = local;
    // The monitor's application object lives until the process ends, so the library is
    // never unmapped.
    monitor->library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
    if (monitor->library == nullptr) {
        if (message != nullptr) {
            const char* error = dlerror();
            *message = "cannot load " + path + (error != nullptr ? std::string(": ") + error : "");
        }
        return ERROR_MOD_NOT_FOUND;
    }
    DWORD error = Initialize(monitor.get(), message);
    if (error != ERROR_SUCCESS) {
        return error;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    monitors_.push_back(std::move(monitor));
    return ERROR_SUCCESS;
}

DWORD SpoolerHost::LoadMonitorEntry(InitializeProc initialize, const std::u16string& name) {
    auto monitor = std::make_unique<Monitor>();
    monitor->path = "(linked)";
    monitor->name = name;
    monitor->initialize = initialize;
    DWORD error = Initialize(monitor.get(), nullptr);
    if (error != ERROR_SUCCESS) {
        return error;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    monitors_.push_back(std::move(monitor));
    return ERROR_SUCCESS;
}

DWORD SpoolerHost::Initialize(Monitor* monitor, std::string* message) {
    InitializeProc initialize = monitor->initialize;
    if (initialize == nullptr) {
        initialize =
            reinterpret_cast<InitializeProc>(dlsym(monitor->library, "InitializePrintMonitor2"));
    }
    if (initialize == nullptr) {
        if (message != nullptr) {
            *message = monitor->path + " has no InitializePrintMonitor2";
        }
        return ERROR_PROC_NOT_FOUND;
    }
    std::u16string keyPath = KeyPathOf(monitor->name);
    LONG result =
        RegCreateKeyExW(HKEY_LOCAL_MACHINE, keyPath.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                        KEY_ALL_ACCESS, nullptr, &monitor->root, nullptr);
    if (result != ERROR_SUCCESS) {
        if (message != nullptr) {
            *message = "cannot open the monitor's registry key HKLM\\" + NvToUtf8(keyPath.c_str());
        }
        return static_cast<DWORD>(result);
    }
    monitor->init = MONITORINIT{};
    monitor->init.cbSize = sizeof(MONITORINIT);
    monitor->init.hSpooler = reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(0x5350));
    monitor->init.hckRegistryRoot = monitor->root;
    monitor->init.pMonitorReg = nullptr;
    monitor->init.bLocal = monitor->local ? TRUE : FALSE;
    monitor->init.pszServerName = nullptr;
    HANDLE handle = nullptr;
    SetLastError(ERROR_SUCCESS);
    const MONITOR2* table = initialize(&monitor->init, &handle);
    if (table == nullptr) {
        RegCloseKey(monitor->root);
        monitor->root = nullptr;
        if (message != nullptr) {
            *message = "InitializePrintMonitor2 of " + monitor->path + " returned no table";
        }
        DWORD error = GetLastError();
        return error != ERROR_SUCCESS ? error : ERROR_GEN_FAILURE;
    }
    monitor->table = table;
    monitor->handle = handle;
    return ERROR_SUCCESS;
}

void SpoolerHost::Shutdown(Monitor* monitor) {
    if (monitor->table != nullptr && monitor->table->pfnShutdown != nullptr) {
        monitor->table->pfnShutdown(monitor->handle);
    }
    monitor->table = nullptr;
    monitor->handle = nullptr;
    if (monitor->root != nullptr) {
        RegCloseKey(monitor->root);
        monitor->root = nullptr;
    }
}

void SpoolerHost::ShutdownMonitors() {
    std::vector<std::unique_ptr<Monitor>> monitors;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        monitors.swap(monitors_);
        channels_.clear();  // the monitor destroys the channels still open with itself
    }
    for (auto& monitor : monitors) {
        Shutdown(monitor.get());
    }
}

DWORD SpoolerHost::ReloadMonitors(std::string* message) {
    StopMonitors();
    return StartMonitors(message);
}

void SpoolerHost::StopMonitors() {
    std::lock_guard<std::mutex> lock(mutex_);
    channels_.clear();
    for (auto& monitor : monitors_) {
        Shutdown(monitor.get());
    }
}

DWORD SpoolerHost::StartMonitors(std::string* message) {
    std::lock_guard<std::mutex> lock(mutex_);
    DWORD first = ERROR_SUCCESS;
    for (auto& monitor : monitors_) {
        if (monitor->table != nullptr) {
            continue;
        }
        DWORD error = Initialize(monitor.get(), message);
        if (first == ERROR_SUCCESS) {
            first = error;
        }
    }
    return first;
}

bool SpoolerHost::Running() const {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const auto& monitor : monitors_) {
        if (monitor->table != nullptr) {
            return true;
        }
    }
    return false;
}

const MONITOR2* SpoolerHost::Table() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return monitors_.empty() ? nullptr : monitors_.front()->table;
}

HANDLE SpoolerHost::MonitorHandle() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return monitors_.empty() ? nullptr : monitors_.front()->handle;
}

// --- EnumPortsW ---

// The host's local ports, then every loaded monitor's ports at level 2. The host's lock is not
// held while a monitor runs, since a monitor may call back into EnumPortsW.
bool SpoolerHost::CollectPorts(std::vector<PortEntry>* ports) {
    for (const auto& local : kLocalPorts) {
        ports->push_back(PortEntry{local.name, kLocalMonitorName, local.description, local.type});
    }
    std::vector<std::pair<const MONITOR2*, HANDLE>> tables;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        for (const auto& monitor : monitors_) {
            if (monitor->table != nullptr) {
                tables.emplace_back(monitor->table, monitor->handle);
            }
        }
    }
    for (const auto& [table, handle] : tables) {
        DWORD needed = 0;
        DWORD returned = 0;
        std::vector<BYTE> buffer;
        BOOL ok = table->pfnEnumPorts(handle, nullptr, 2, nullptr, 0, &needed, &returned);
        while (!ok && GetLastError() == ERROR_INSUFFICIENT_BUFFER) {
            buffer.assign(needed, 0);
            ok = table->pfnEnumPorts(handle, nullptr, 2, buffer.data(), needed, &needed, &returned);
        }
        if (!ok) {
            return false;
        }
        ports->reserve(ports->size() + returned);
        for (DWORD i = 0; i < returned; ++i) {
            PORT_INFO_2W info;
            memcpy(&info, buffer.data() + i * sizeof(PORT_INFO_2W), sizeof info);
            ports->push_back(PortEntry{info.pPortName != nullptr ? info.pPortName : u"",
                                       info.pMonitorName != nullptr ? info.pMonitorName : u"",
                                       info.pDescription != nullptr ? info.pDescription : u"",
                                       info.fPortType});
        }
    }
    return true;
}

BOOL SpoolerHost::EnumPorts(LPWSTR, DWORD level, LPBYTE buffer, DWORD size, LPDWORD needed,
                            LPDWORD returned) {
    if (level != 1 && level != 2) {
        SetLastError(ERROR_INVALID_LEVEL);
        return FALSE;
    }
    if (needed == nullptr || returned == nullptr) {
        SetLastError(RPC_X_NULL_REF_POINTER_VALUE);
        return FALSE;
    }
    std::vector<PortEntry> ports;
    if (!CollectPorts(&ports)) {
        return FALSE;
    }
    const DWORD entrySize = level == 1 ? sizeof(PORT_INFO_1W) : sizeof(PORT_INFO_2W);
    DWORD total = 0;
    for (const auto& port : ports) {
        total += entrySize + StringBytes(port.name);
        if (level == 2) {
            total += StringBytes(port.monitor) + StringBytes(port.description);
        }
    }
    *needed = total;
    *returned = 0;
    if (buffer == nullptr || total > size) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    LPBYTE end = buffer + total;
    auto place = [&end](const std::u16string& text) {
        end -= StringBytes(text);
        memcpy(end, text.c_str(), StringBytes(text));
        return reinterpret_cast<LPWSTR>(end);
    };
    for (size_t i = 0; i < ports.size(); ++i) {
        if (level == 1) {
            PORT_INFO_1W info{place(ports[i].name)};
            memcpy(buffer + i * entrySize, &info, sizeof info);
        } else {
            PORT_INFO_2W info{};
            info.pPortName = place(ports[i].name);
            info.pMonitorName = place(ports[i].monitor);
            info.pDescription = place(ports[i].description);
            info.fPortType = ports[i].type;
            memcpy(buffer + i * entrySize, &info, sizeof info);
        }
    }
    *returned = static_cast<DWORD>(ports.size());
    return TRUE;
}

// --- Printers and jobs ---

DWORD SpoolerHost::AddJob(Job job) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (job.id == 0) {
        job.id = nextJobId_++;
    } else if (job.id >= nextJobId_) {
        nextJobId_ = job.id + 1;
    }
    DWORD id = job.id;
    jobs_.push_back(std::move(job));
    return id;
}

std::vector<DWORD> SpoolerHost::JobCommands(DWORD jobId) const {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const auto& job : jobs_) {
        if (job.id == jobId) {
            return job.commands;
        }
    }
    return {};
}

size_t SpoolerHost::OpenPrinterCount() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return printers_.size();
}

bool SpoolerHost::CallerMayAdminister() {
    std::string path = NvRegistryPath();
    std::string dir = path.substr(0, path.find_last_of('/') + 1);
    if (dir.empty()) {
        dir = ".";
    }
    struct stat st;
    if (stat(path.c_str(), &st) == 0) {
        // A store without any write permission is read-only for everyone, root included.
        return (st.st_mode & 0222) != 0 && access(path.c_str(), W_OK) == 0 &&
               access(dir.c_str(), W_OK) == 0;
    }
    return access(dir.c_str(), W_OK) == 0;
}

// ",XcvMonitor NAME" opens a channel to the monitor of that name, ",XcvPort NAME" one to the
// monitor that owns the port; the monitor receives the access granted.
BOOL SpoolerHost::OpenXcv(const std::u16string& name, LPHANDLE printer,
                          LPPRINTER_DEFAULTSW defaults) {
    static const std::u16string kMonitorPrefix = u",XcvMonitor ";
    static const std::u16string kPortPrefix = u",XcvPort ";
    bool byMonitor = name.compare(0, kMonitorPrefix.size(), kMonitorPrefix) == 0;
    std::u16string object = name.substr(byMonitor ? kMonitorPrefix.size() : kPortPrefix.size());
    ACCESS_MASK access = defaults != nullptr ? defaults->DesiredAccess : SERVER_ACCESS_ENUMERATE;
    if ((access & SERVER_ACCESS_ADMINISTER) != 0) {
        bool allowed = administerOverride_ >= 0 ? administerOverride_ != 0 : CallerMayAdminister();
        if (!allowed) {
            SetLastError(ERROR_ACCESS_DENIED);
            return FALSE;
        }
    }
    const MONITOR2* table = nullptr;
    HANDLE monitorHandle = nullptr;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        for (const auto& monitor : monitors_) {
            if (monitor->table != nullptr &&
                (!byMonitor || lstrcmpiW(monitor->name.c_str(), object.c_str()) == 0)) {
                table = monitor->table;
                monitorHandle = monitor->handle;
                break;
            }
        }
    }
    if (table == nullptr || table->pfnXcvOpenPort == nullptr) {
        SetLastError(ERROR_INVALID_PRINTER_NAME);
        return FALSE;
    }
    HANDLE xcv = nullptr;
    if (!table->pfnXcvOpenPort(monitorHandle, object.c_str(), access, &xcv)) {
        return FALSE;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    ULONG_PTR handle = nextPrinterHandle_;
    nextPrinterHandle_ += 4;
    channels_.push_back(XcvChannel{handle, table, xcv});
    *printer = reinterpret_cast<HANDLE>(handle);
    return TRUE;
}

// A printer of the job table opens; any other name is no printer.
BOOL SpoolerHost::OpenPrinter(LPWSTR name, LPHANDLE printer, LPPRINTER_DEFAULTSW defaults) {
    if (printer == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    std::u16string wanted = name != nullptr ? name : u"";
    if (wanted.rfind(u",Xcv", 0) == 0) {
        return OpenXcv(wanted, printer, defaults);
    }
    std::lock_guard<std::mutex> lock(mutex_);
    for (const auto& job : jobs_) {
        if (!wanted.empty() && lstrcmpiW(job.printer.c_str(), wanted.c_str()) == 0) {
            ULONG_PTR handle = nextPrinterHandle_;
            nextPrinterHandle_ += 4;
            printers_.emplace_back(handle, job.printer);
            *printer = reinterpret_cast<HANDLE>(handle);
            return TRUE;
        }
    }
    SetLastError(ERROR_INVALID_PRINTER_NAME);
    return FALSE;
}

BOOL SpoolerHost::ClosePrinter(HANDLE printer) {
    std::unique_lock<std::mutex> lock(mutex_);
    for (auto it = channels_.begin(); it != channels_.end(); ++it) {
        if (it->handle == reinterpret_cast<ULONG_PTR>(printer)) {
            XcvChannel channel = *it;
            channels_.erase(it);
            lock.unlock();
            return channel.table->pfnXcvClosePort(channel.xcv);
        }
    }
    for (auto it = printers_.begin(); it != printers_.end(); ++it) {
        if (it->first == reinterpret_cast<ULONG_PTR>(printer)) {
            printers_.erase(it);
            return TRUE;
        }
    }
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
}

const Job* SpoolerHost::FindJobLocked(HANDLE printer, DWORD jobId, DWORD* error) const {
    const std::u16string* printerName = nullptr;
    for (const auto& open : printers_) {
        if (open.first == reinterpret_cast<ULONG_PTR>(printer)) {
            printerName = &open.second;
        }
    }
    if (printerName == nullptr) {
        *error = ERROR_INVALID_HANDLE;
        return nullptr;
    }
    for (const auto& job : jobs_) {
        if (job.id == jobId && lstrcmpiW(job.printer.c_str(), printerName->c_str()) == 0) {
            return &job;
        }
    }
    *error = ERROR_INVALID_PARAMETER;
    return nullptr;
}

// JOB_INFO_1W or JOB_INFO_2W with its strings packed at the end of the caller's buffer; a
// short buffer reports the size needed with ERROR_INSUFFICIENT_BUFFER.
BOOL SpoolerHost::GetJob(HANDLE printer, DWORD jobId, DWORD level, LPBYTE buffer, DWORD size,
                         LPDWORD needed) {
    std::lock_guard<std::mutex> lock(mutex_);
    DWORD error = ERROR_SUCCESS;
    const Job* job = FindJobLocked(printer, jobId, &error);
    if (job == nullptr) {
        SetLastError(error);
        return FALSE;
    }
    if (level != 1 && level != 2) {
        SetLastError(ERROR_INVALID_LEVEL);
        return FALSE;
    }
    if (needed == nullptr) {
        SetLastError(RPC_X_NULL_REF_POINTER_VALUE);
        return FALSE;
    }
    static const std::u16string kPrintProcessor = u"winprint";
    return PackJobInfo(job->id, level,
                       {job->printer, job->machine, job->user, job->document, job->datatype,
                        kPrintProcessor, job->statusText, job->status},
                       buffer, size, needed);
}

// Every command is recorded, and a status text set; the rest of the job does not change.
BOOL SpoolerHost::SetJob(HANDLE printer, DWORD jobId, DWORD level, LPBYTE data, DWORD command) {
    StatusObserver observer;
    std::u16string text;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        DWORD error = ERROR_SUCCESS;
        Job* job = const_cast<Job*>(FindJobLocked(printer, jobId, &error));
        if (job == nullptr) {
            SetLastError(error);
            return FALSE;
        }
        bool changed = false;
        if (!ApplySetJob(job, level, data, command, &changed)) {
            return FALSE;
        }
        if (!changed) {
            return TRUE;
        }
        text = job->statusText;
        observer = statusObserver_;
    }
    if (observer) {
        observer(jobId, text);
    }
    return TRUE;
}

void SpoolerHost::SetJobStatus(DWORD jobId, DWORD status) {
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto& job : jobs_) {
        if (job.id == jobId) {
            job.status = status;
        }
    }
}

std::u16string SpoolerHost::JobStatusText(DWORD jobId) const {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const auto& job : jobs_) {
        if (job.id == jobId) {
            return job.statusText;
        }
    }
    return {};
}

std::vector<std::u16string> SpoolerHost::JobStatusTexts(DWORD jobId) const {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const auto& job : jobs_) {
        if (job.id == jobId) {
            return job.statusTexts;
        }
    }
    return {};
}

BOOL SpoolerHost::SetPort(LPWSTR, LPWSTR portName, DWORD level, LPBYTE portInfo) {
    PortStatusRecord record;
    if (!ReadPortStatus(portName, level, portInfo, &record)) {
        return FALSE;
    }
    {
        std::lock_guard<std::mutex> lock(mutex_);
        portStatus_.push_back(record);
    }
    StorePortStatus(record);
    return TRUE;
}

// A status in the store for the other processes' port lists; a status of 0 removes it. A
// store that cannot be written loses only what the lists show.
void SpoolerHost::StorePortStatus(const PortStatusRecord& record) {
    std::u16string path = std::u16string(kPortStatusKey) + u"\\" + record.port;
    if (record.status == 0) {
        RegDeleteKeyW(HKEY_LOCAL_MACHINE, path.c_str());
        return;
    }
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                        &key, nullptr) != ERROR_SUCCESS) {
        return;
    }
    for (const auto& [name, value] : {std::pair<const char16_t*, DWORD>{u"Status", record.status},
                                      {u"Severity", record.severity}}) {
        RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                       sizeof value);
    }
    RegCloseKey(key);
}

PortStatusRecord SpoolerHost::PortStatus(const std::u16string& port) const {
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto it = portStatus_.rbegin(); it != portStatus_.rend(); ++it) {
        if (lstrcmpiW(it->port.c_str(), port.c_str()) == 0) {
            return *it;
        }
    }
    PortStatusRecord none;
    none.port = port;
    return none;
}

std::vector<PortStatusRecord> SpoolerHost::PortStatusChanges() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return portStatus_;
}

void SpoolerHost::SetStatusObserver(StatusObserver observer) {
    std::lock_guard<std::mutex> lock(mutex_);
    statusObserver_ = std::move(observer);
}

// The request goes to the monitor's XcvDataPort; its result comes back in *status, and the
// call itself succeeds whenever the request was delivered.
BOOL SpoolerHost::XcvData(HANDLE xcv, PCWSTR dataName, PBYTE input, DWORD inputSize, PBYTE output,
                          DWORD outputSize, PDWORD needed, PDWORD status) {
    XcvChannel channel{};
    {
        std::lock_guard<std::mutex> lock(mutex_);
        bool found = false;
        for (const auto& c : channels_) {
            if (c.handle == reinterpret_cast<ULONG_PTR>(xcv)) {
                channel = c;
                found = true;
            }
        }
        if (!found) {
            SetLastError(ERROR_INVALID_HANDLE);
            return FALSE;
        }
    }
    if (status == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    DWORD ignored = 0;
    *status = channel.table->pfnXcvDataPort(channel.xcv, dataName, input, inputSize, output,
                                            outputSize, needed != nullptr ? needed : &ignored);
    return TRUE;
}

}  // namespace nvspool
