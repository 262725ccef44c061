// The installer's two exports. Each runs one wizard; when the user finishes it, the chosen
// printer becomes a port of "NORVA TCP/IP Port" in the registry, the spooler is restarted so
// that the monitor loads it, and the port name goes back into the caller's buffer.
#include <cstdio>
#include <cstring>
#include <string>

#include "discover/exports.h"
#include "discover/portregistry.h"
#include "discover/spooler_control.h"
#include "platform/console.h"
#include "wizard/discovery_service.h"
#include "wizard/sheet.h"
#include "wizard/sheet_by_ip.h"

namespace {

// The caller's buffer holds at least this many bytes.
constexpr int kPortNameBufferBytes = 128;

// The values both exports write: a raw TCP port to 9100 with the SNMP defaults; host name and
// hardware address empty.
PortEntry NewPortEntry(const WCHAR* portName, const WCHAR* address) {
    PortEntry entry;
    memset(&entry, 0, sizeof entry);
    CopyBounded(entry.PortName, 64, portName);
    CopyBounded(entry.IPAddress, 32, address);
    entry.Protocol = PROTOCOL_RAW;
    entry.PortNumber = portcfg::kDefaultRawPortNumber;
    entry.SnmpVersion = portcfg::kDefaultSnmpVersion;
    entry.SnmpTimeOut = portcfg::kDefaultTimeOut;
    entry.SnmpEnabled = portcfg::kDefaultSnmpEnabled;
    const char* community = portcfg::kDefaultCommunity;
    for (size_t i = 0; community[i] != 0; ++i) {
        entry.SnmpCommunity[i] = static_cast<WCHAR>(community[i]);
    }
    entry.SnmpIndex = portcfg::kDefaultSnmpIndex;
    return entry;
}

void ToCallerBuffer(const WCHAR* portName, char* buffer) {
    if (WideCharToMultiByte(CP_ACP, WC_COMPOSITECHECK, portName, -1, buffer, kPortNameBufferBytes,
                            nullptr, nullptr) == 0) {
        buffer[0] = 0;
    }
    buffer[kPortNameBufferBytes - 1] = 0;
}

// Writes the port and, only when that worked, restarts the spooler. An installer knows two
// results besides success: every failure to write the port (the key, or one of its values) is
// ERROR_ALREADY_EXISTS, also as the last error, with the port name in the caller's buffer. The
// write's own code goes to the debugger output, so that the cause can still be found.
int Register(const PortEntry& entry) {
    PortRegistry registry;
    const DWORD result = registry.RegisterPort(&entry);
    if (result == ERROR_SUCCESS) {
        RestartSpooler();
        return ERROR_SUCCESS;
    }
    char name[kPortNameBufferBytes];
    ToCallerBuffer(entry.PortName, name);
    char line[kPortNameBufferBytes + 160];
    snprintf(line, sizeof line, "nvinstall: the port %s could not be written: error %lu: %s\n",
             name, static_cast<unsigned long>(result), SystemErrorText(result).c_str());
    OutputDebugStringA(line);
    SetLastError(ERROR_ALREADY_EXISTS);
    return ERROR_ALREADY_EXISTS;
}

// A wizard that ended without a printer: the empty name and result 0. The thread's last error
// tells the installer why: ERROR_CANCELLED when the user ended it, or the reason the wizard
// could not be shown at all.
int NoPort(const wizard::CWizardSheet& sheet, char* portName) {
    portName[0] = 0;
    SetLastError(sheet.FrameError() != ERROR_SUCCESS ? sheet.FrameError() : ERROR_CANCELLED);
    return 0;
}

}  // namespace

extern "C" NV_INSTALL_EXPORT int WINAPI QornSearchAll(char* portName) {
    OutputDebugStringA("nvinstall: QornSearchAll\n");
    if (portName == nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    wizard::CSheet sheet;
    if (sheet.RunWizard(wizard::DefaultFrame()) != 1) {
        return NoPort(sheet, portName);
    }
    const wizard::Text& address = sheet.ListPage().m_chosen[1];
    std::basic_string<WCHAR> name = std::basic_string<WCHAR>(WSTR("NORVA_")) + address;
    ToCallerBuffer(name.c_str(), portName);
    return Register(NewPortEntry(name.c_str(), address.c_str()));
}

// A wizard that finishes without a printer found writes nothing and ends as cancelled.
extern "C" NV_INSTALL_EXPORT int WINAPI QornSearchByIP(char* portName) {
    OutputDebugStringA("nvinstall: QornSearchByIP\n");
    if (portName == nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    wizard::CSheetByIP sheet;
    if (sheet.RunWizard(wizard::DefaultFrame()) != 1 || sheet.Found() == nullptr) {
        return NoPort(sheet, portName);
    }
    std::basic_string<WCHAR> address = wizard::DottedText(sheet.Found()->ipAddress);
    std::basic_string<WCHAR> name = std::basic_string<WCHAR>(WSTR("NORVA_")) + address;
    ToCallerBuffer(name.c_str(), portName);
    return Register(NewPortEntry(name.c_str(), address.c_str()));
}
