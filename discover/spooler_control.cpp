#include "discover/spooler_control.h"

static const WCHAR kSpoolerService[] = WSTR("Spooler");
static const WCHAR kActiveDatabase[] = WSTR("ServicesActive");
// How long a restart waits for the stop to take effect before it starts the service.
static constexpr DWORD kStopWaitMs = 10000;
static constexpr DWORD kStopPollMs = 100;

int ControlSpooler(int code) {
    SC_HANDLE manager = OpenSCManagerW(nullptr, kActiveDatabase, SC_MANAGER_ALL_ACCESS);
    if (manager == nullptr) {
        return 0;
    }
    DWORD access = SERVICE_INTERROGATE;
    if (code == kSpoolerStop) {
        access = SERVICE_STOP;
    } else if (code == 2 || code == kSpoolerStart) {
        access = SERVICE_START;
    }
    SC_HANDLE service = OpenServiceW(manager, kSpoolerService, access);
    if (service == nullptr) {
        CloseServiceHandle(manager);
        return 0;
    }
    SERVICE_STATUS status;
    if (code == kSpoolerStop) {
        ControlService(service, SERVICE_CONTROL_STOP, &status);
    } else if (code == 2 || code == kSpoolerStart) {
        StartServiceW(service, 0, nullptr);
    } else if (code == kSpoolerInterrogate) {
        ControlService(service, SERVICE_CONTROL_INTERROGATE, &status);
    } else {
        ControlService(service, static_cast<DWORD>(code), &status);
    }
    CloseServiceHandle(service);
    CloseServiceHandle(manager);
    return 1;
}

// Waits until the spooler reports SERVICE_STOPPED (or can no longer be asked), at most
// kStopWaitMs: a start sent while it is still stopping would fail and leave it stopped.
static void WaitForStopped() {
    SC_HANDLE manager = OpenSCManagerW(nullptr, kActiveDatabase, SC_MANAGER_ALL_ACCESS);
    if (manager == nullptr) {
        return;
    }
    SC_HANDLE service = OpenServiceW(manager, kSpoolerService, SERVICE_QUERY_STATUS);
    if (service != nullptr) {
        for (DWORD waited = 0; waited < kStopWaitMs; waited += kStopPollMs) {
            SERVICE_STATUS status;
            if (!QueryServiceStatus(service, &status) || status.dwCurrentState == SERVICE_STOPPED) {
                break;
            }
            Sleep(kStopPollMs);
        }
        CloseServiceHandle(service);
    }
    CloseServiceHandle(manager);
}

int RestartSpooler() {
    if (ControlSpooler(kSpoolerStop) != 0) {
        WaitForStopped();
        return ControlSpooler(kSpoolerStart);
    }
    return ControlSpooler(kSpoolerStop);
}
