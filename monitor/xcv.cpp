#include "monitor/xcv.h"

#include <cstring>

#include "monitor/app.h"
#include "monitor/entries.h"
#include "monitor/port.h"
#include "net/portentry.h"

CXcv::CXcv(CPrintMonitor* monitor, LPCWSTR name)
    : CPMObject(monitor, name), m_granted(1), m_uiLibrary{} {
    // The constructor's trace begins with a tilde, as it always has.
    DbgPrint("~CXcv(0x%08X, size=%d)\n", TraceAddress(this), static_cast<int>(sizeof(CXcv)));
    m_signature = kSignature;
}

CXcv::~CXcv() {
    DbgPrint("~CXcv(0x%08X)\n", TraceAddress(this));
}

LPCWSTR XcvInputName(PBYTE input, DWORD inputSize) {
    if (input == nullptr) {
        return nullptr;
    }
    // The terminator must lie inside the bytes given; the input may be unaligned.
    DWORD units = inputSize / sizeof(WCHAR);
    for (DWORD i = 0; i < units; ++i) {
        WCHAR c;
        memcpy(&c, input + i * sizeof(WCHAR), sizeof c);
        if (c == 0) {
            return reinterpret_cast<LPCWSTR>(input);
        }
    }
    return nullptr;
}

DWORD LastErrorOr(DWORD fallback) {
    DWORD error = GetLastError();
    return error != ERROR_SUCCESS ? error : fallback;
}

DWORD CXcv::DataXfer(LPCWSTR, PBYTE, DWORD, PBYTE, DWORD, PDWORD) {
    return ERROR_SUCCESS;
}

DWORD CXcv::_MonitorUI(PBYTE, DWORD, PBYTE output, DWORD outputSize, PDWORD needed) {
    DbgPrint("CXcv::_MonitorUI(out=%d for %ws)\n", static_cast<int>(outputSize), m_uiLibrary);
    DWORD bytes = static_cast<DWORD>((wcslen(m_uiLibrary) + 1) * sizeof(WCHAR));
    if (needed != nullptr) {
        *needed = bytes;
    }
    if (outputSize < bytes) {
        return ERROR_INSUFFICIENT_BUFFER;
    }
    if (output == nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    memcpy(output, m_uiLibrary, bytes);
    return ERROR_SUCCESS;
}

DWORD CXcv::CheckNewPortName(LPCWSTR name) {
    if (!portcfg::IsValidPortName(name)) {
        SetLastError(ERROR_INVALID_NAME);
        return ERROR_INVALID_NAME;
    }
    DWORD loadError = ERROR_SUCCESS;
    SetLastError(ERROR_SUCCESS);
    BOOL exists = GetApp(nullptr)->SpoolerPortExists(nullptr, name, &loadError);
    if (loadError != ERROR_SUCCESS) {
        return LastErrorOr(loadError);
    }
    if (exists) {
        SetLastError(ERROR_ALREADY_EXISTS);
        return ERROR_ALREADY_EXISTS;
    }
    return ERROR_SUCCESS;
}

DWORD CXcv::_AddPort(PBYTE input, DWORD inputSize, PBYTE, DWORD, PDWORD) {
    LPCWSTR name = XcvInputName(input, inputSize);
    DbgPrint("CXcv::_AddPort(\"%ws\")\n", name);
    if (name == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return ERROR_INVALID_PARAMETER;
    }
    if (DWORD error = CheckNewPortName(name); error != ERROR_SUCCESS) {
        return error;
    }
    CAppLock lock;
    CPort* port = m_monitor->CreatePortEntry(name);
    if (port != nullptr && !port->WriteConfig()) {
        m_monitor->RemovePortEntry(port);
        port = nullptr;
    }
    return port != nullptr ? ERROR_SUCCESS : LastErrorOr(ERROR_GEN_FAILURE);
}

// A port that is printing, or that another request is working on, is not deleted under it.
DWORD CXcv::_DeletePort(PBYTE input, DWORD inputSize, PBYTE, DWORD, PDWORD) {
    LPCWSTR name = XcvInputName(input, inputSize);
    DbgPrint("CXcv::_DeletePort(\"%ws\")\n", name);
    if (name == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return ERROR_INVALID_PARAMETER;
    }
    if ((m_granted & SERVER_ACCESS_ADMINISTER) == 0) {
        return ERROR_ACCESS_DENIED;
    }
    CAppLock lock;
    if (CPort* busy = m_monitor->FindPermanentPort(name); busy != nullptr && busy->IsBusy()) {
        return ERROR_BUSY;
    }
    return m_monitor->DeletePortEntry(name) ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
}

DWORD CXcv::_PortExists(PBYTE input, DWORD inputSize, PBYTE output, DWORD outputSize,
                        PDWORD needed) {
    LPCWSTR name = XcvInputName(input, inputSize);
    DbgPrint("CXcv::_PortExists(\"%ws\")\n", name);
    DWORD ignored = 0;
    BOOL exists = name != nullptr && GetApp(nullptr)->SpoolerPortExists(nullptr, name, &ignored);
    if (needed != nullptr) {
        *needed = sizeof(DWORD);
    }
    if (outputSize < sizeof(DWORD)) {
        return ERROR_INSUFFICIENT_BUFFER;
    }
    if (output == nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    DWORD answer = exists ? 1 : 0;
    memcpy(output, &answer, sizeof answer);
    return ERROR_SUCCESS;
}

DWORD CXcv::_PortIsValid(PBYTE input, DWORD inputSize, PBYTE output, DWORD outputSize,
                         PDWORD needed) {
    LPCWSTR name = XcvInputName(input, inputSize);
    DbgPrint("CXcv::_PortIsValid(\"%ws\")\n", name);
    SetLastError(ERROR_SUCCESS);
    BOOL valid = GetApp(nullptr)->IsPortValid(name);
    if (output == nullptr) {
        return valid ? ERROR_SUCCESS : LastErrorOr(ERROR_INVALID_NAME);
    }
    if (outputSize < sizeof(DWORD)) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return ERROR_INSUFFICIENT_BUFFER;
    }
    if (needed == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return ERROR_INVALID_PARAMETER;
    }
    *needed = sizeof(DWORD);
    DWORD answer = valid ? 1 : 0;
    memcpy(output, &answer, sizeof answer);
    return ERROR_SUCCESS;
}

// The input is a PortEntry: its PortName (64 wide characters, 128 bytes, at the start) is the
// name, and all that is read. (Passing the record's Protocol, 1 or 2, as the name's size would
// leave every real record's name without its terminator.)
DWORD CXcv::_ExistPort(PBYTE input, DWORD inputSize, PBYTE output, DWORD outputSize,
                       PDWORD needed) {
    static constexpr DWORD kNameFieldBytes = sizeof(PortEntry::PortName);
    if (input == nullptr || inputSize < kNameFieldBytes) {
        return 1;  // no name field to read: the inner request cannot run
    }
    return _PortExists(input, kNameFieldBytes, output, outputSize, needed) != ERROR_SUCCESS ? 1 : 0;
}

// --- Function-table entries ---

BOOL WINAPI MonXcvOpenPort(HANDLE monitorHandle, LPCWSTR object, ACCESS_MASK access, PHANDLE xcv) {
    DbgPrint("XcvOpenPort(\"%ws\")\n", object);
    auto* monitor = static_cast<CPrintMonitor*>(monitorHandle);
    CXcv* channel = monitor != nullptr ? monitor->CreateXcvEntry(object, access) : nullptr;
    if (xcv != nullptr) {
        *xcv = channel != nullptr ? channel->Handle() : nullptr;
    } else if (channel != nullptr) {
        monitor->DeleteXcvEntry(channel);  // nowhere to give it: don't keep it
        channel = nullptr;
    }
    return channel != nullptr;
}

DWORD WINAPI MonXcvDataPort(HANDLE xcv, LPCWSTR dataName, PBYTE input, DWORD inputSize,
                            PBYTE output, DWORD outputSize, PDWORD needed) {
    DbgPrint("XcvDataPort(\"%ws\")\n", dataName);
    DbgPrint("XcvDataPort(\"%d\")\n", static_cast<int>(inputSize));
    CObjectRef<CXcv> channel(xcv);
    if (channel == nullptr) {
        DbgPrint("Invalid object 0x%08X to XcvDataPort()\n", TraceAddress(xcv));
        return ERROR_INVALID_HANDLE;
    }
    return channel->DataXfer(dataName, input, inputSize, output, outputSize, needed);
}

BOOL WINAPI MonXcvClosePort(HANDLE xcv) {
    CObjectRef<CXcv> channel(xcv);
    if (channel == nullptr) {
        DbgPrint("Invalid object 0x%08X to XcvClosePort()\n", TraceAddress(xcv));
        return FALSE;
    }
    DbgPrint("XcvClosePort(\"%ws\")\n", channel->GetName());
    return channel->GetMonitor()->DeleteXcvEntry(channel.get());
}
