#include "tools/nvport/monitor_verbs.h"

#include <cstdio>
#include <cwchar>

#include "net/portentry.h"
#include "platform/late_api.h"
#include "tools/cli/spooler.h"
#include "tools/cli/text.h"
#include "tools/nvport/print_job.h"

namespace nvport {

namespace {

const wchar_t kMonitorDll[] = L"nvtcpmon.dll";

std::string MonitorName() {
    return cli::Utf8(portcfg::kMonitorName);
}

// Runs an Enum...W call twice, first for the size; 0 or the error.
template <class Enumerate>
DWORD EnumerateInto(std::vector<BYTE>* buffer, DWORD* returned, Enumerate enumerate) {
    DWORD needed = 0;
    buffer->clear();
    BOOL ok = enumerate(nullptr, 0, &needed, returned);
    while (!ok && GetLastError() == ERROR_INSUFFICIENT_BUFFER) {
        buffer->assign(needed, 0);
        ok = enumerate(buffer->data(), needed, &needed, returned);
    }
    return ok ? ERROR_SUCCESS : GetLastError();
}

// The monitor as the spooler lists it (EnumMonitorsW level 2): *dll is empty when it is not
// installed; 0 or the error.
DWORD FindMonitor(std::string* dll, std::string* environment) {
    std::vector<BYTE> buffer;
    DWORD count = 0;
    DWORD error =
        EnumerateInto(&buffer, &count, [](BYTE* data, DWORD size, DWORD* needed, DWORD* returned) {
            return EnumMonitorsW(nullptr, 2, data, size, needed, returned);
        });
    dll->clear();
    for (DWORD i = 0; error == ERROR_SUCCESS && i < count; ++i) {
        const auto* info = reinterpret_cast<const MONITOR_INFO_2W*>(buffer.data()) + i;
        if (cli::SameName(info->pName, portcfg::kMonitorName)) {
            *dll = cli::Utf8(info->pDLLName);
            *environment = cli::Utf8(info->pEnvironment);
        }
    }
    return error;
}

// The first printer that prints to a port of this monitor: its name and the port; 0 or the
// error of the enumeration.
DWORD FindPrinterOnOurPorts(std::string* printer, std::string* port) {
    std::vector<cli::SpoolerPort> ports;
    DWORD error = cli::ListSpoolerPorts(&ports);
    if (error != ERROR_SUCCESS) {
        return error;
    }
    return FindPrinterOnPort(
        [&ports](const wchar_t* used) {
            for (const cli::SpoolerPort& p : ports) {
                if (cli::SameName(p.monitor.c_str(), portcfg::kMonitorName) &&
                    cli::SameName(p.name.c_str(), used)) {
                    return true;
                }
            }
            return false;
        },
        printer, port);
}

}  // namespace

int InstallMonitor(const cli::Tool& tool, const std::vector<std::string>& args) {
    if (!args.empty()) {
        return tool.Usage("install-monitor takes no arguments");
    }
    // A 64-bit spooler loads 64-bit monitors only, from the 64-bit system directory. A Windows
    // without IsWow64Process has no 64-bit spooler either.
    BOOL wow64 = FALSE;
    if (LateIsWow64Process(GetCurrentProcess(), &wow64) && wow64) {
        return tool.Fail(
            "install-monitor: this is 64-bit Windows, whose spooler loads only the "
            "64-bit monitor: use the x86_64 nvport and package",
            ERROR_NOT_SUPPORTED);
    }
    wchar_t path[MAX_PATH];
    UINT length = GetSystemDirectoryW(path, MAX_PATH);
    if (length == 0 || length + 1 + wcslen(kMonitorDll) >= MAX_PATH) {
        return tool.Fail("GetSystemDirectoryW", GetLastError());
    }
    std::wstring dll = std::wstring(path, length) + L"\\" + kMonitorDll;
    if (GetFileAttributesW(dll.c_str()) == INVALID_FILE_ATTRIBUTES) {
        return tool.Fail("install-monitor: " + cli::Utf8(dll.c_str()), GetLastError());
    }
    // The monitor of the spooler's own environment, from the system directory.
    std::wstring name = portcfg::kMonitorName;
    std::wstring driver = kMonitorDll;
    MONITOR_INFO_2W info{name.data(), nullptr, driver.data()};
    if (!AddMonitorW(nullptr, 2, reinterpret_cast<BYTE*>(&info))) {
        DWORD error = GetLastError();
        if (error == ERROR_PRINT_MONITOR_ALREADY_INSTALLED) {
            printf("The monitor %s is installed already.\n", MonitorName().c_str());
            return cli::kExitOk;
        }
        return tool.Fail("AddMonitorW \"" + MonitorName() + "\"", error);
    }
    printf("Installed the monitor %s (%s).\n", MonitorName().c_str(),
           cli::Utf8(dll.c_str()).c_str());
    return cli::kExitOk;
}

int RemoveMonitor(const cli::Tool& tool, const std::vector<std::string>& args) {
    if (!args.empty()) {
        return tool.Usage("remove-monitor takes no arguments");
    }
    std::string dll;
    std::string environment;
    DWORD error = FindMonitor(&dll, &environment);
    if (error != ERROR_SUCCESS) {
        return tool.Fail("EnumMonitorsW", error);
    }
    if (dll.empty()) {
        printf("The monitor %s is not installed.\n", MonitorName().c_str());
        return cli::kExitOk;
    }
    // Removing the monitor takes its ports with it: never from under a printer.
    std::string printer;
    std::string port;
    error = FindPrinterOnOurPorts(&printer, &port);
    if (error != ERROR_SUCCESS) {
        return tool.Fail("remove-monitor: cannot list the printers and their ports", error);
    }
    if (!printer.empty()) {
        return tool.Fail("remove-monitor: the printer \"" + printer + "\" prints to the port " +
                             port + "; give it another port or delete it first",
                         ERROR_PRINT_MONITOR_IN_USE);
    }
    std::wstring name = portcfg::kMonitorName;
    if (!DeleteMonitorW(nullptr, nullptr, name.data())) {
        error = GetLastError();
        if (error == ERROR_UNKNOWN_PRINT_MONITOR) {
            printf("The monitor %s is not installed.\n", MonitorName().c_str());
            return cli::kExitOk;
        }
        return tool.Fail("DeleteMonitorW \"" + MonitorName() + "\"", error);
    }
    printf("Removed the monitor %s and its ports.\n", MonitorName().c_str());
    return cli::kExitOk;
}

int ShowMonitor(const cli::Tool& tool, const std::vector<std::string>& args) {
    if (!args.empty()) {
        return tool.Usage("show-monitor takes no arguments");
    }
    std::string dll;
    std::string environment;
    DWORD error = FindMonitor(&dll, &environment);
    if (error != ERROR_SUCCESS) {
        return tool.Fail("EnumMonitorsW", error);
    }
    if (dll.empty()) {
        printf("%s: not installed\n", MonitorName().c_str());
        return cli::kExitFailed;
    }
    printf("%s: installed, %s (%s)\n", MonitorName().c_str(), dll.c_str(), environment.c_str());
    return cli::kExitOk;
}

}  // namespace nvport
