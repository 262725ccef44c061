// ClosePort.
#include "monitor/app.h"
#include "monitor/entries.h"
#include "monitor/port.h"

// A temporary "FILE:" port closed in the middle of its job takes the job's output file and
// printer handle with it.
static void EndTemporaryJob(CPort* port) {
    if (port->GetOutput() != INVALID_HANDLE_VALUE && port->GetOutput() != nullptr) {
        CloseHandle(port->GetOutput());
        port->SetOutput(INVALID_HANDLE_VALUE);
    }
    port->CloseJobPrinter();
}

BOOL WINAPI MonClosePort(HANDLE portHandle) {
    CPortRef port(portHandle);
    {
        CAppLock lock;
        if (port == nullptr) {
            SetLastError(ERROR_INVALID_HANDLE);
            return FALSE;
        }
        DbgPrint("ClosePort( \"%ws\" )\n", port->GetName());
        if (port->GetDeviceName() != nullptr) {
            DbgPrint("DeviceName = \"%ws\"\n", port->GetDeviceName());
            port->ForgetDeviceName();
        }
        if ((port->GetState() & PORT_TEMPORARY) == 0) {
            return TRUE;
        }
    }
    // A temporary port is reached through this handle only; its job's printer is closed
    // outside the lock, as every call to the spooler is.
    QORN_ASSERT(port->GetMonitor() != nullptr);
    EndTemporaryJob(port.get());
    CAppLock lock;
    if (port->GetMonitor() != nullptr) {
        port->GetMonitor()->RemovePortEntry(port.get());
    }
    return TRUE;
}
