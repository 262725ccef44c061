#include "discover/interfaces.h"

#include <algorithm>

namespace {

// Room for this many interfaces first; doubled while Windows Sockets says it does not fit,
// up to the last size. A machine with more addresses than that broadcasts on none of them.
constexpr size_t kFirstInterfaceRoom = 16;
constexpr size_t kMostInterfaces = 1024;

DWORD HostOrder(const sockaddr_gen& address) {
    return ntohl(address.AddressIn.sin_addr.s_addr);
}

}  // namespace

std::vector<DWORD> BroadcastAddressesOf(const INTERFACE_INFO* interfaces, size_t count) {
    std::vector<DWORD> broadcasts;
    for (size_t i = 0; interfaces != nullptr && i < count; ++i) {
        const INTERFACE_INFO& entry = interfaces[i];
        const ULONG flags = entry.iiFlags;
        if ((flags & IFF_UP) == 0 || (flags & IFF_BROADCAST) == 0 ||
            (flags & (IFF_LOOPBACK | IFF_POINTTOPOINT)) != 0 ||
            entry.iiAddress.Address.sa_family != AF_INET) {
            continue;
        }
        // Computed from the netmask, not read from iiBroadcastAddress: Windows does not always
        // fill that with the subnet's own (it may hold 255.255.255.255).
        const DWORD mask = HostOrder(entry.iiNetmask);
        const DWORD hostBits = ~mask;
        if (mask == 0 || hostBits <= 1) {
            continue;  // no subnet to broadcast to
        }
        const DWORD broadcast = HostOrder(entry.iiAddress) | hostBits;
        if (std::find(broadcasts.begin(), broadcasts.end(), broadcast) == broadcasts.end()) {
            broadcasts.push_back(broadcast);
        }
    }
    return broadcasts;
}

std::vector<DWORD> InterfaceBroadcastAddresses(SOCKET socket) {
    for (size_t room = kFirstInterfaceRoom; room <= kMostInterfaces; room *= 2) {
        std::vector<INTERFACE_INFO> list(room);
        DWORD returned = 0;
        if (WSAIoctl(socket, SIO_GET_INTERFACE_LIST, nullptr, 0, list.data(),
                     static_cast<DWORD>(list.size() * sizeof(INTERFACE_INFO)), &returned, nullptr,
                     nullptr) == 0) {
            return BroadcastAddressesOf(list.data(), returned / sizeof(INTERFACE_INFO));
        }
        if (WSAGetLastError() != WSAEFAULT) {
            break;
        }
    }
    return {};
}
