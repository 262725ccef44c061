// The settings of one network port of "NORVA TCP/IP Port": the registry layout below
// HKLM\SYSTEM\CurrentControlSet\Control\Print\Monitors\NORVA TCP/IP Port\Ports\<port>, which the
// monitor and the installer share, and the fixed PortEntry record that the Xcv requests exchange.
#pragma once

#include <cstddef>

#include "platform/win32.h"

// Transport codes of "Protocol".
#define PROTOCOL_RAW 1
#define PROTOCOL_LPR 2

namespace portcfg {

inline constexpr WCHAR kMonitorName[] = WSTR("NORVA TCP/IP Port");
inline constexpr WCHAR kPortsKeyPath[] =
    WSTR("SYSTEM\\CurrentControlSet\\Control\\Print\\Monitors\\NORVA TCP/IP Port\\Ports");

// Value names of a port's key.
inline constexpr WCHAR kProtocol[] = WSTR("Protocol");
inline constexpr WCHAR kIPAddress[] = WSTR("IPAddress");
inline constexpr WCHAR kHostName[] = WSTR("HostName");
inline constexpr WCHAR kHWAddress[] = WSTR("HWAddress");
inline constexpr WCHAR kPortNumber[] = WSTR("PortNumber");
inline constexpr WCHAR kSnmpTimeOut[] = WSTR("SnmpTimeOut");
inline constexpr WCHAR kSnmpEnabled[] = WSTR("SnmpEnabled");
inline constexpr WCHAR kSnmpCommunity[] = WSTR("SnmpCommunity");
inline constexpr WCHAR kSnmpIndex[] = WSTR("SnmpIndex");
inline constexpr WCHAR kSnmpVersion[] = WSTR("SnmpVersion");
inline constexpr WCHAR kQueueName[] = WSTR("QueueName");
inline constexpr WCHAR kMailAlert[] = WSTR("MailAlert");
inline constexpr WCHAR kDoubleSpool[] = WSTR("DoubleSpool");

// Defaults that readers take for a missing value.
inline constexpr DWORD kDefaultProtocol = PROTOCOL_RAW;
inline constexpr DWORD kDefaultRawPortNumber = 9100;
inline constexpr DWORD kDefaultLprPortNumber = 515;
inline constexpr DWORD kDefaultTimeOut = 15000;  // milliseconds
inline constexpr DWORD kDefaultSnmpEnabled = 1;
inline constexpr DWORD kDefaultSnmpIndex = 1;
inline constexpr DWORD kDefaultSnmpVersion = 1;  // and the highest version code kept
inline constexpr char kDefaultCommunity[] = "commro";
inline constexpr char kDefaultQueueFormat[] = "q_%d.%d.%d.%d";

// String values are read into 128 bytes: 63 characters and the terminator. A longer value
// counts as missing.
inline constexpr DWORD kStringValueBytes = 128;
// Character limits of the texts that have a default.
inline constexpr size_t kCommunityMaxChars = 32;
inline constexpr size_t kQueueNameMaxChars = 32;
inline constexpr size_t kMailAlertMaxChars = 63;

// The monitor's fixed 8-bit text fields, terminator included.
inline constexpr size_t kIPAddressBytes = 32;
inline constexpr size_t kHWAddressBytes = 13;
inline constexpr size_t kHostNameBytes = 49;
inline constexpr size_t kCommunityBytes = 33;
inline constexpr size_t kQueueNameBytes = 33;
inline constexpr size_t kMailAlertBytes = 64;

// A port is one registry key below "Ports", named exactly as the port: a name is refused
// (ERROR_INVALID_NAME) when it is empty, when it holds a backslash, which would store it as nested
// keys, or when it holds a control character, which would make listings ambiguous.
inline bool IsValidPortName(const WCHAR* name) {
    if (name == nullptr || *name == 0) {
        return false;
    }
    for (; *name != 0; ++name) {
        WCHAR c = *name;
        if (c == WSTR('\\') || c < 0x20 || (c >= 0x7F && c <= 0x9F)) {
            return false;
        }
    }
    return true;
}

}  // namespace portcfg

// The record of one port's settings: little-endian, packed, 796 bytes, no header. WCHAR fields
// are terminated UTF-16 text, anything may follow the terminator.
#pragma pack(push, 1)
struct PortEntry {
    WCHAR PortName[64];
    DWORD Protocol;
    WCHAR IPAddress[32];
    WCHAR HostName[64];
    WCHAR HWAddress[64];
    DWORD PortNumber;
    DWORD SnmpVersion;
    DWORD SnmpTimeOut;
    DWORD SnmpEnabled;
    WCHAR SnmpCommunity[64];
    DWORD SnmpIndex;
    WCHAR QueueName[32];
    WCHAR MailAlert[64];
    DWORD DoubleSpool;
};
#pragma pack(pop)

static_assert(sizeof(WCHAR) == 2, "WCHAR is a 16-bit unit");
static_assert(sizeof(PortEntry) == 796, "PortEntry is 796 bytes");
static_assert(offsetof(PortEntry, PortName) == 0);
static_assert(offsetof(PortEntry, Protocol) == 128);
static_assert(offsetof(PortEntry, IPAddress) == 132);
static_assert(offsetof(PortEntry, HostName) == 196);
static_assert(offsetof(PortEntry, HWAddress) == 324);
static_assert(offsetof(PortEntry, PortNumber) == 452);
static_assert(offsetof(PortEntry, SnmpVersion) == 456);
static_assert(offsetof(PortEntry, SnmpTimeOut) == 460);
static_assert(offsetof(PortEntry, SnmpEnabled) == 464);
static_assert(offsetof(PortEntry, SnmpCommunity) == 468);
static_assert(offsetof(PortEntry, SnmpIndex) == 596);
static_assert(offsetof(PortEntry, QueueName) == 600);
static_assert(offsetof(PortEntry, MailAlert) == 664);
static_assert(offsetof(PortEntry, DoubleSpool) == 792);
// The installer fills the record up to and including SnmpIndex.
inline constexpr size_t kInstallerPortEntryBytes = offsetof(PortEntry, QueueName);
static_assert(kInstallerPortEntryBytes == 600);
