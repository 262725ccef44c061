#include "net/portcheck.h"

#include <cctype>
#include <cstring>

#include "platform/winsock.h"

namespace portcfg {

namespace {

constexpr int kOctets = 4;
constexpr unsigned kMaxOctet = 255;
constexpr size_t kMaxOctetDigits = 3;

// The first octets of the address ranges that are no printer's.
constexpr DWORD kFirstMulticast = 224;
constexpr DWORD kFirstReserved = 240;

bool IsDigit(unsigned c) {
    return c >= '0' && c <= '9';
}

int HexValue(char c) {
    static const char kDigits[] = "0123456789abcdef";
    const char lower = static_cast<char>(tolower(static_cast<unsigned char>(c)));
    const char* at = lower != 0 ? strchr(kDigits, lower) : nullptr;
    return at != nullptr ? static_cast<int>(at - kDigits) : -1;
}

// Whether any dot-separated part of the text starts with '0' and goes on.
template <class Char>
bool LeadingZeroIn(const Char* text) {
    if (text == nullptr) {
        return false;
    }
    bool partStart = true;
    for (const Char* p = text; *p != 0; ++p) {
        if (partStart && *p == '0' && p[1] != 0 && p[1] != '.') {
            return true;
        }
        partStart = *p == '.';
    }
    return false;
}

AddressFault ClassOf(DWORD address) {
    const DWORD first = address >> 24;
    if (first == 0) {
        return AddressFault::kThisNetwork;
    }
    if (address == 0xFFFFFFFFu) {
        return AddressFault::kBroadcast;
    }
    if (first >= kFirstReserved) {
        return AddressFault::kReserved;
    }
    if (first >= kFirstMulticast) {
        return AddressFault::kMulticast;
    }
    return AddressFault::kNone;
}

}  // namespace

AddressFault CheckPrinterAddress(const char* text, DWORD* address) {
    if (text == nullptr) {
        return AddressFault::kNotDotted;
    }
    if (HasLeadingZeroOctet(text)) {
        return AddressFault::kLeadingZero;
    }
    DWORD value = 0;
    const char* p = text;
    for (int part = 0; part < kOctets; ++part) {
        if (part > 0 && *p++ != '.') {
            return AddressFault::kNotDotted;
        }
        size_t digits = 0;
        unsigned octet = 0;
        for (; IsDigit(static_cast<unsigned char>(*p)) && digits < kMaxOctetDigits; ++p, ++digits) {
            octet = octet * 10 + static_cast<unsigned>(*p - '0');
        }
        if (digits == 0 || octet > kMaxOctet) {
            return AddressFault::kNotDotted;
        }
        value = value << 8 | octet;
    }
    if (*p != 0) {
        return AddressFault::kNotDotted;
    }
    AddressFault fault = ClassOf(value);
    if (fault == AddressFault::kNone && address != nullptr) {
        *address = value;
    }
    return fault;
}

const char* AddressFaultText(AddressFault fault) {
    switch (fault) {
        case AddressFault::kNone:
            return "a printer's address";
        case AddressFault::kNotDotted:
            return "not a dotted IPv4 address (four numbers 0 to 255 with dots between)";
        case AddressFault::kLeadingZero:
            return "an octet has a leading zero, which the monitor reads as octal (after 0x as "
                   "hexadecimal)";
        case AddressFault::kThisNetwork:
            return "an address of 0.0.0.0/8 means this network, not a printer";
        case AddressFault::kBroadcast:
            return "the broadcast address is not a printer's";
        case AddressFault::kMulticast:
            return "a multicast address (224.0.0.0/4) is not a printer's";
        case AddressFault::kReserved:
            return "an address of 240.0.0.0/4 is reserved, not a printer's";
    }
    return "not a printer's address";
}

bool HasLeadingZeroOctet(const char* text) {
    return LeadingZeroIn(text);
}

bool HasLeadingZeroOctet(const WCHAR* text) {
    return LeadingZeroIn(text);
}

DWORD AddressAsRead(const char* text) {
    ULONG address = inet_addr(text != nullptr ? text : "");
    return address == INADDR_NONE ? INADDR_NONE : ntohl(address);
}

bool NormalizeHardwareAddress(const char* text, char (&out)[kHardwareAddressDigits + 1]) {
    if (text == nullptr) {
        return false;
    }
    char separator = 0;
    size_t digits = 0;
    for (const char* p = text; *p != 0; ++p) {
        if (HexValue(*p) >= 0) {
            if (digits == kHardwareAddressDigits) {
                return false;
            }
            out[digits++] = static_cast<char>(tolower(static_cast<unsigned char>(*p)));
            continue;
        }
        // A separator stands between two pairs only, and is the same one throughout.
        const bool between = digits > 0 && digits % 2 == 0 && p[-1] != ':' && p[-1] != '-';
        if ((*p != ':' && *p != '-') || !between || (separator != 0 && *p != separator)) {
            return false;
        }
        separator = *p;
    }
    if (digits != kHardwareAddressDigits) {
        return false;
    }
    // Separated pairs are all separated: 0a1b2c:3d4e5f is no address.
    if (separator != 0) {
        size_t separators = 0;
        for (const char* p = text; *p != 0; ++p) {
            separators += *p == separator ? 1 : 0;
        }
        if (separators != kHardwareAddressDigits / 2 - 1) {
            return false;
        }
    }
    out[kHardwareAddressDigits] = 0;
    return true;
}

}  // namespace portcfg
