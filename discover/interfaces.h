// The broadcast addresses of the machine's own IPv4 interfaces, which the broadcast search
// reaches besides the class-based address of its first address: a PC at 10.1.2.5/24 has its
// printers behind 10.1.2.255, not 10.255.255.255, and a PC with two adapters has printers
// behind each.
#pragma once

#include <cstddef>
#include <vector>

#include "platform/winsock.h"

// The subnet broadcast address (host byte order) of every interface in the list that is up and
// can broadcast, in the list's order and each once. Loopback and point-to-point interfaces are
// skipped, and so are interfaces whose netmask leaves no broadcast address (/0, /31, /32). The
// address is the interface's address with every host bit set, from its netmask.
std::vector<DWORD> BroadcastAddressesOf(const INTERFACE_INFO* interfaces, size_t count);

// The same for the machine's interfaces, asked of Windows Sockets on the given socket
// (SIO_GET_INTERFACE_LIST). Empty when the list cannot be had: the search then broadcasts to
// the class-based address alone.
std::vector<DWORD> InterfaceBroadcastAddresses(SOCKET socket);
