#include "net/netxcv.h"

#include <cstddef>
#include <cstring>
#include <new>

#include "monitor/app.h"
#include "net/netlpr.h"
#include "net/netport.h"
#include "net/netraws.h"
#include "net/portcheck.h"
#include "net/portconfig.h"

static const WCHAR kUiLibrary[] = WSTR("nvtcpmui.dll");

namespace {

typedef DWORD (CNetXcv::*Handler)(PBYTE, DWORD, PBYTE, DWORD, PDWORD);

struct Request {
    LPCWSTR name;
    Handler handler;
};

// The requests, in the order they are looked up; the table ends with a null pair.
const Request kRequests[] = {
    {WSTR("MonitorUI"), &CNetXcv::_MonitorUI},
    {WSTR("AddPort"), &CNetXcv::_AddPort},
    {WSTR("DeletePort"), &CNetXcv::_DeletePort},
    {WSTR("PortExists"), &CNetXcv::_PortExists},
    {WSTR("PortIsValid"), &CNetXcv::_PortIsValid},
    {WSTR("ExistPort"), &CNetXcv::_ExistPort},
    {WSTR("GetDefaultCommonSettings"), &CNetXcv::_GetDefaultCommonSettings},
    {WSTR("GetCurrentCommonSettings"), &CNetXcv::_GetCurrentCommonSettings},
    {WSTR("SetCurrentCommonSettings"), &CNetXcv::_SetCurrentCommonSettings},
    {WSTR("GetDefaultRawSocketSettings"), &CNetXcv::_GetDefaultRawSocketSettings},
    {WSTR("GetCurrentRawSocketSettings"), &CNetXcv::_GetCurrentRawSocketSettings},
    {WSTR("SetCurrentRawSocketSettings"), &CNetXcv::_SetCurrentRawSocketSettings},
    {WSTR("GetDefaultLprSettings"), &CNetXcv::_GetDefaultLprSettings},
    {WSTR("GetCurrentLprSettings"), &CNetXcv::_GetCurrentLprSettings},
    {WSTR("SetCurrentLprSettings"), &CNetXcv::_SetCurrentLprSettings},
    {WSTR("ReadConfigInf"), &CNetXcv::_ReadConfigInf},
    {WSTR("ConfigPort"), &CNetXcv::_ConfigPort},
    {nullptr, nullptr},
};

// A WCHAR field of the record into the port's 8-bit field; a text that does not fit is cut
// and reported.
void FieldToAnsi(char* field, size_t fieldBytes, const WCHAR* text) {
    BOOL fits = portcfg::WideToField(field, fieldBytes, text);
    QORN_ASSERT(fits);
}

// An address with a leading-zero octet is new input only when it is not the one stored: the
// transports read such an octet as octal, so it is refused, but a port stored with one keeps
// it when its other settings change, and prints where it always has.
bool IsRefusedAddress(CNetPort* port, const WCHAR* address) {
    if (!portcfg::HasLeadingZeroOctet(address)) {
        return false;
    }
    char stored[portcfg::kIPAddressBytes];
    char given[portcfg::kIPAddressBytes];
    return port == nullptr ||
           !portcfg::ReadText(port->GetKey(), portcfg::kIPAddress, stored, sizeof stored) ||
           !portcfg::WideToField(given, sizeof given, address) || strcmp(stored, given) != 0;
}

// The part of the record that a request uses: AddPort the name and the address (the protocol
// between them is ignored); ConfigPort the fields of the record's protocol, which for raw TCP
// end with SnmpIndex and for LPR are the whole record, and for a protocol it refuses are the
// name and the address, which it takes before it refuses.
constexpr size_t kAddressFieldsEnd = offsetof(PortEntry, HostName);
constexpr size_t kRawFieldsEnd = offsetof(PortEntry, QueueName);

size_t ConfigPortBytes(DWORD protocol) {
    switch (protocol) {
        case PROTOCOL_RAW:
            return kRawFieldsEnd;
        case PROTOCOL_LPR:
            return sizeof(PortEntry);
        default:
            return kAddressFieldsEnd;
    }
}

// A DWORD that the registry readers turn from 0 into their default is reported the same way.
DWORD OrDefault(DWORD value, DWORD fallback) {
    return value != 0 ? value : fallback;
}

}  // namespace

BOOL ReadPortEntry(PBYTE input, DWORD inputSize, size_t usedBytes, PortEntry* record) {
    if (input == nullptr || inputSize < usedBytes || usedBytes > sizeof(PortEntry)) {
        return FALSE;
    }
    memset(record, 0, sizeof *record);
    memcpy(record, input, usedBytes);
    auto terminated = [&](const WCHAR* field, size_t fieldBytes) {
        size_t offset = reinterpret_cast<const BYTE*>(field) - reinterpret_cast<BYTE*>(record);
        return offset + fieldBytes > usedBytes ||
               portcfg::IsTerminated(field, fieldBytes / sizeof(WCHAR));
    };
    return terminated(record->PortName, sizeof record->PortName) &&
           terminated(record->IPAddress, sizeof record->IPAddress) &&
           terminated(record->HostName, sizeof record->HostName) &&
           terminated(record->HWAddress, sizeof record->HWAddress) &&
           terminated(record->SnmpCommunity, sizeof record->SnmpCommunity) &&
           terminated(record->QueueName, sizeof record->QueueName) &&
           terminated(record->MailAlert, sizeof record->MailAlert);
}

CNetXcv::CNetXcv(CPrintMonitor* monitor, LPCWSTR name) : CXcv(monitor, name) {
    DbgPrint("CNetXcv(0x%08X, size=%d, \"%ws\")\n", TraceAddress(this),
             static_cast<int>(sizeof(CNetXcv)), name);
    memcpy(m_uiLibrary, kUiLibrary, sizeof kUiLibrary);
}

DWORD CNetXcv::DataXfer(LPCWSTR name, PBYTE input, DWORD inputSize, PBYTE output, DWORD outputSize,
                        PDWORD needed) {
    for (const Request* request = kRequests; name != nullptr && request->name != nullptr;
         ++request) {
        if (wcscmp(request->name, name) == 0) {
            QORN_ASSERT(request->handler != nullptr);
            DbgPrint("CNetXcv::DataXfer(\"%ws\") found\n", name);
            return (this->*(request->handler))(input, inputSize, output, outputSize, needed);
        }
    }
    DbgPrint("CNetXcv::DataXfer() couldn't recongize \"%ws\"", name);
    return ERROR_INVALID_PARAMETER;
}

// A raw-TCP port with the defaults, whatever the record's Protocol: only the name and the
// address of the record are used.
DWORD CNetXcv::_AddPort(PBYTE input, DWORD inputSize, PBYTE, DWORD, PDWORD) {
    PortEntry record;
    if (!ReadPortEntry(input, inputSize, kAddressFieldsEnd, &record) ||
        IsRefusedAddress(nullptr, record.IPAddress)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return ERROR_INVALID_PARAMETER;
    }
    if (DWORD error = CheckNewPortName(record.PortName); error != ERROR_SUCCESS) {
        return error;
    }
    CAppLock lock;
    auto* port = static_cast<CNetPort*>(m_monitor->CreatePortEntry(record.PortName));
    if (port != nullptr) {
        FieldToAnsi(port->m_ipAddress, sizeof port->m_ipAddress, record.IPAddress);
        if (!port->WriteConfig()) {
            m_monitor->RemovePortEntry(port);
            port = nullptr;
        }
    }
    return port != nullptr ? ERROR_SUCCESS : LastErrorOr(ERROR_GEN_FAILURE);
}

CNetPort* CNetXcv::AcquirePort(LPCWSTR name, DWORD* error) {
    DWORD loadError = ERROR_SUCCESS;
    SetLastError(ERROR_SUCCESS);
    BOOL known = GetApp(nullptr)->SpoolerPortExists(nullptr, name, &loadError);
    if (loadError != ERROR_SUCCESS) {
        *error = LastErrorOr(loadError);
        return nullptr;
    }
    if (!known) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        *error = ERROR_FILE_NOT_FOUND;
        return nullptr;
    }
    CNetPort* port = nullptr;
    {
        // A temporary "FILE:" port has no settings: the name is the spooler's own port.
        CAppLock lock;
        port = dynamic_cast<CNetPort*>(m_monitor->FindPermanentPort(name));
        if (port != nullptr) {
            port->Pin();  // not deleted while this request waits for it or works on it
        }
    }
    if (port == nullptr) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        *error = ERROR_FILE_NOT_FOUND;  // a port of another monitor
        return nullptr;
    }
    if (!port->EnterJobGate(kJobWaitMs)) {
        ReleasePort(port);
        SetLastError(ERROR_BUSY);
        *error = ERROR_BUSY;  // a job on the port did not end in time
        return nullptr;
    }
    return port;
}

void CNetXcv::ReleasePort(CNetPort* port) {
    CAppLock lock;
    port->Unpin();
}

// Fills the record from the port's settings, read afresh through a new transport that stays
// with the port. 0, or the code of what stopped it: a protocol this monitor does not know is
// invalid data; an address that does not parse is the transport's ERROR_REGISTRY_CORRUPT, as
// a job on the port reports it.
DWORD CNetXcv::FillRecord(CNetPort* port, PortEntry* record) {
    CopyBounded(record->PortName, 64, port->GetName());
    record->Protocol = port->m_protocol;
    portcfg::AnsiToWideField(record->IPAddress, 32, port->m_ipAddress);
    port->SetTransport(nullptr);
    if (port->m_protocol != PROTOCOL_RAW && port->m_protocol != PROTOCOL_LPR) {
        SetLastError(ERROR_INVALID_DATA);
        return ERROR_INVALID_DATA;
    }
    CNetProtocol* transport = nullptr;
    if (port->m_protocol == PROTOCOL_RAW) {
        transport = new (std::nothrow) CRawSocket();
    } else {
        transport = new (std::nothrow) CLpr();
    }
    if (transport == nullptr) {
        return ERROR_NOT_ENOUGH_MEMORY;
    }
    port->SetTransport(transport);
    if (!transport->ReadConfig(port)) {
        DWORD error = LastErrorOr(ERROR_REGISTRY_CORRUPT);
        port->SetTransport(nullptr);
        SetLastError(error);
        return error;
    }
    bool lpr = port->m_protocol == PROTOCOL_LPR;
    portcfg::AnsiToWideField(record->HostName, 64, port->m_hostName);
    portcfg::AnsiToWideField(record->HWAddress, 64, port->m_hwAddress);
    portcfg::AnsiToWideField(record->SnmpCommunity, 64, transport->m_snmpCommunity);
    record->SnmpVersion = OrDefault(transport->m_snmpVersion, portcfg::kDefaultSnmpVersion);
    record->SnmpIndex = OrDefault(transport->m_snmpIndex, portcfg::kDefaultSnmpIndex);
    if (lpr) {
        auto* lprTransport = static_cast<CLpr*>(transport);
        record->PortNumber = OrDefault(lprTransport->m_portNumber, portcfg::kDefaultLprPortNumber);
        record->SnmpTimeOut = OrDefault(lprTransport->m_timeOut, portcfg::kDefaultTimeOut);
        record->SnmpEnabled = OrDefault(transport->m_snmpEnabled, portcfg::kDefaultSnmpEnabled);
        portcfg::AnsiToWideField(record->QueueName, 32, lprTransport->m_queueName);
        portcfg::AnsiToWideField(record->MailAlert, 64, lprTransport->m_mailAlert);
        record->DoubleSpool = lprTransport->m_doubleSpool;
    } else {
        auto* raw = static_cast<CRawSocket*>(transport);
        record->PortNumber = OrDefault(raw->m_portNumber, portcfg::kDefaultRawPortNumber);
        record->SnmpTimeOut = OrDefault(raw->m_timeOut, portcfg::kDefaultTimeOut);
        record->SnmpEnabled = transport->m_snmpEnabled;
    }
    return ERROR_SUCCESS;
}

DWORD CNetXcv::_ReadConfigInf(PBYTE input, DWORD inputSize, PBYTE output, DWORD outputSize,
                              PDWORD needed) {
    LPCWSTR name = XcvInputName(input, inputSize);
    if (name == nullptr || wcslen(name) >= 64) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return ERROR_INVALID_PARAMETER;
    }
    if (output == nullptr || outputSize < sizeof(PortEntry)) {
        if (needed != nullptr) {
            *needed = sizeof(PortEntry);
        }
        return ERROR_INSUFFICIENT_BUFFER;
    }
    DWORD error = ERROR_SUCCESS;
    CNetPort* port = AcquirePort(name, &error);
    if (port == nullptr) {
        return error;
    }
    // The record is filled apart and copied only when it is whole: a failure leaves the output
    // as it was. A port that lacks one of its required values (a writer stopped half-way)
    // reports it as invalid data.
    PortEntry record;
    memset(&record, 0, sizeof record);
    error = port->ReadConfig() ? FillRecord(port, &record) : LastErrorOr(ERROR_INVALID_DATA);
    port->LeaveJobGate();
    ReleasePort(port);
    if (error != ERROR_SUCCESS) {
        return error;
    }
    memcpy(output, &record, sizeof record);
    if (needed != nullptr) {
        *needed = sizeof record;
    }
    return error;
}

// The record's values are taken as they are: no default replaces a zero.
DWORD CNetXcv::ApplyRecord(CNetPort* port, const PortEntry& record) {
    {
        CAppLock lock;
        port->SetName(record.PortName);  // the look-up ignored letter case; keep the record's
    }
    port->m_protocol = record.Protocol;
    FieldToAnsi(port->m_ipAddress, sizeof port->m_ipAddress, record.IPAddress);
    port->SetTransport(nullptr);
    if (record.Protocol != PROTOCOL_RAW && record.Protocol != PROTOCOL_LPR) {
        SetLastError(ERROR_INVALID_DATA);
        return ERROR_INVALID_DATA;
    }
    CNetProtocol* transport = nullptr;
    if (record.Protocol == PROTOCOL_RAW) {
        auto* raw = new (std::nothrow) CRawSocket();
        if (raw != nullptr) {
            raw->m_portNumber = record.PortNumber;
            raw->m_timeOut = record.SnmpTimeOut;
        }
        transport = raw;
    } else {
        auto* lpr = new (std::nothrow) CLpr();
        if (lpr != nullptr) {
            lpr->m_portNumber = record.PortNumber;
            lpr->m_timeOut = record.SnmpTimeOut;
            FieldToAnsi(lpr->m_queueName, sizeof lpr->m_queueName, record.QueueName);
            FieldToAnsi(lpr->m_mailAlert, sizeof lpr->m_mailAlert, record.MailAlert);
            lpr->m_doubleSpool = record.DoubleSpool;
        }
        transport = lpr;
    }
    if (transport == nullptr) {
        return ERROR_NOT_ENOUGH_MEMORY;
    }
    FieldToAnsi(port->m_hostName, sizeof port->m_hostName, record.HostName);
    FieldToAnsi(port->m_hwAddress, sizeof port->m_hwAddress, record.HWAddress);
    transport->m_snmpVersion = record.SnmpVersion;
    transport->m_snmpEnabled = record.SnmpEnabled;
    transport->m_snmpIndex = record.SnmpIndex;
    FieldToAnsi(transport->m_snmpCommunity, sizeof transport->m_snmpCommunity,
                record.SnmpCommunity);
    port->SetTransport(transport);
    SetLastError(ERROR_SUCCESS);
    return port->WriteConfig() ? ERROR_SUCCESS : LastErrorOr(ERROR_GEN_FAILURE);
}

DWORD CNetXcv::_ConfigPort(PBYTE input, DWORD inputSize, PBYTE, DWORD, PDWORD) {
    DWORD protocol = 0;  // an input too short to hold it holds no address either
    if (input != nullptr && inputSize >= offsetof(PortEntry, Protocol) + sizeof protocol) {
        memcpy(&protocol, input + offsetof(PortEntry, Protocol), sizeof protocol);
    }
    PortEntry record;
    if (!ReadPortEntry(input, inputSize, ConfigPortBytes(protocol), &record)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return ERROR_INVALID_PARAMETER;
    }
    DWORD error = ERROR_SUCCESS;
    CNetPort* port = AcquirePort(record.PortName, &error);
    if (port == nullptr) {
        return error;
    }
    if (IsRefusedAddress(port, record.IPAddress)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        error = ERROR_INVALID_PARAMETER;
    } else {
        error = ApplyRecord(port, record);
    }
    port->LeaveJobGate();
    ReleasePort(port);
    return error;
}
