#include "discover/ipaddress.h"

#include <cstdio>
#include <cstring>

#include "discover/discoveryerror.h"

void FormatDotted(DWORD hostOrder, char* buffer, size_t size) {
    std::snprintf(buffer, size, "%d.%d.%d.%d", static_cast<int>((hostOrder >> 24) & 0xff),
                  static_cast<int>((hostOrder >> 16) & 0xff),
                  static_cast<int>((hostOrder >> 8) & 0xff), static_cast<int>(hostOrder & 0xff));
}

IpAddress::IpAddress() : m_text{}, m_address{} {
    m_address.sin_family = AF_INET;
}

IpAddress::IpAddress(const char* dotted) : IpAddress() {
    m_address.sin_addr.s_addr = inet_addr(dotted != nullptr ? dotted : "");
}

void IpAddress::CopyTo(PrinterRecord& record) const {
    record.ipAddress = HostOrder();
}

bool IpAddress::Matches(const PrinterRecord& record) const {
    return record.ipAddress == HostOrder();
}

const char* IpAddress::FormatText() {
    FormatDotted(HostOrder(), m_text, sizeof m_text);
    return m_text;
}

void IpAddress::Set(const char* host, USHORT port) {
    if (host == nullptr) {
        throw DiscoveryError("resolve", WSAEFAULT);
    }
    ULONG address = inet_addr(host);
    if (address == INADDR_NONE) {
        const hostent* entry = gethostbyname(host);
        if (entry == nullptr || entry->h_addr_list == nullptr || entry->h_addr_list[0] == nullptr) {
            const DWORD error = entry == nullptr ? static_cast<DWORD>(WSAGetLastError())
                                                 : static_cast<DWORD>(WSANO_DATA);
            throw DiscoveryError("resolve", error);
        }
        std::memcpy(&address, entry->h_addr_list[0], sizeof address);
    }
    m_address.sin_family = AF_INET;
    m_address.sin_port = htons(port);
    m_address.sin_addr.s_addr = address;
}
