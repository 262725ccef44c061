// ClosePort.
#include "monitor/app.h"
#include "monitor/entries.h"
#include "monitor/port.h"

BOOL WINAPI MonClosePort(HANDLE portHandle) {
    auto* port = dynamic_cast<CPort*>(CPMObject::FromHandle(portHandle));
    if (port == nullptr || !port->IsValid()) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    DbgPrint("ClosePort( \"%ws\" )\n", port->GetName());
    if (port->GetDeviceName() != nullptr) {
        DbgPrint("DeviceName = \"%ws\"\n", port->GetDeviceName());
        port->ForgetDeviceName();
    }
    if ((port->GetState() & PORT_TEMPORARY) != 0) {
        QORN_ASSERT(port->GetMonitor() != nullptr);
        CAppLock lock;
        if (port->GetMonitor() != nullptr) {
            port->GetMonitor()->RemovePortEntry(port);
        }
    }
    return TRUE;
}
