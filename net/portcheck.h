// Checks of the settings that a port takes as new input, shared by the monitor's Xcv requests
// and the port verbs of the tools: which printer an address text reaches, hardware addresses
// and TCP port numbers.
//
// The transports read "IPAddress" with inet_addr, which takes an octet with a leading zero as
// octal (127.0.0.010 is 127.0.0.8) and one after 0x as hexadecimal. An inventory that pads its
// octets with zeros (192.168.001.010) would then send a job to another printer than the one
// meant, so new input must spell every octet in plain decimal.
#pragma once

#include <cstddef>

#include "platform/win32.h"

namespace portcfg {

// What makes a text unfit to be a printer's address.
enum class AddressFault {
    kNone,
    kNotDotted,    // not four decimal numbers 0 to 255 with a dot between each two
    kLeadingZero,  // an octet with a leading zero (or 0x), which inet_addr reads otherwise
    kThisNetwork,  // 0.0.0.0 to 0.255.255.255: "this network", no host
    kBroadcast,    // 255.255.255.255
    kMulticast,    // 224.0.0.0 to 239.255.255.255
    kReserved,     // 240.0.0.0 to 255.255.255.254
};

// Checks a printer address strictly: four plain decimal octets and a unicast address. On
// kNone, *address (when given) is the address in host byte order.
AddressFault CheckPrinterAddress(const char* text, DWORD* address = nullptr);

// Why the address is refused, as the end of a sentence ("an octet has a leading zero, ...").
const char* AddressFaultText(AddressFault fault);

// Whether a part of the dotted text starts with 0 and goes on (010, 00, 0x7f): the monitor
// would read it as octal or hexadecimal, not as the decimal number it looks like.
bool HasLeadingZeroOctet(const char* text);
bool HasLeadingZeroOctet(const WCHAR* text);

// The address the transports connect to for a stored text, as inet_addr reads it, in host
// byte order; INADDR_NONE (0xFFFFFFFF) when it does not read at all.
DWORD AddressAsRead(const char* text);

// A hardware (MAC) address: 12 hexadecimal digits in either case, alone or as six pairs with
// ':' or '-' between them (one kind throughout). Fills `out` with the 12 lower-case digits that
// printers report and the installer stores; false when the text is none of these.
inline constexpr size_t kHardwareAddressDigits = 12;
bool NormalizeHardwareAddress(const char* text, char (&out)[kHardwareAddressDigits + 1]);

// A printer's TCP port (the stored DWORD is cut to 16 bits by the transports).
inline constexpr DWORD kMinPortNumber = 1;
inline constexpr DWORD kMaxPortNumber = 65535;

}  // namespace portcfg
