// IpAddress: an IPv4 socket address as discovery uses it: the destination of the broadcast,
// the sender of each reply, and the text form "%d.%d.%d.%d" that SNMP agent addresses and
// port names are made of.
#pragma once

#include "discover/printerlist.h"
#include "platform/winsock.h"

class IpAddress {
  public:
    // Empty: 0.0.0.0, port 0.
    IpAddress();
    // From dotted text, port 0. Text that does not parse gives 255.255.255.255 (the parser's
    // error value).
    explicit IpAddress(const char* dotted);
    virtual ~IpAddress() = default;

    // Stores the address, in host byte order, as the record's IPv4 address.
    virtual void CopyTo(PrinterRecord& record) const;
    // Does the record hold this address?
    virtual bool Matches(const PrinterRecord& record) const;
    // Renders the address as "%d.%d.%d.%d" into the text buffer and returns it.
    virtual const char* FormatText();

    // Takes host as dotted text, or, when that yields no address (as for "255.255.255.255",
    // whose value is the parser's error value), as a host name whose first address is used.
    // Throws DiscoveryError with the Winsock code when the name cannot be resolved.
    void Set(const char* host, USHORT port);

    // The address in host byte order.
    DWORD HostOrder() const { return ntohl(m_address.sin_addr.s_addr); }
    sockaddr_in& SocketAddress() { return m_address; }
    const sockaddr_in& SocketAddress() const { return m_address; }

  private:
    char m_text[64];
    sockaddr_in m_address;
};

// "%d.%d.%d.%d" of an address in host byte order, most significant octet first.
void FormatDotted(DWORD hostOrder, char* buffer, size_t size);
