// The broadcast search and the searches for one printer.
//
// The request is built and the replies are read with our own SNMPv1 codec, which needs no
// session: so unlike a WinSNMP-based search there is no session to create per request and no
// way for that step to fail. What the wire sees stays the same: an SNMPv1 GetNext of
// 1.3.6.1.2.1.43 with community "commro" and a request id that grows by one per broadcast.
#include "discover/broadcast.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <span>

#include "discover/discovery.h"
#include "discover/snmpquery.h"
#include "snmp/message.h"

const snmp::Oid kPrinterMibRoot{1, 3, 6, 1, 2, 1, 43};

namespace {

// Process-wide, like the printer list, and as unguarded: one search at a time.
struct DiscoveryState {
    HWND window = nullptr;  // the page of the last BroadcastSearch
    DWORD requestId = 0;    // of the latest broadcast request
};

DiscoveryState& State() {
    static DiscoveryState state;
    return state;
}

// gethostname's longest answer on Windows, terminator included.
constexpr int kHostNameSize = 256;

// The broadcast itself: the destination from the machine's own address, then the passes. A
// machine whose address cannot be had sends nothing and leaves the list as it was.
void Broadcast() {
    DatagramSocket socket;
    char address[kBroadcastAddressSize];
    if (!BuildBroadcastAddress(address, sizeof address)) {
        return;
    }
    IpAddress destination;
    destination.Set(address, kSnmpAgentPort);
    IpAddress sender;
    CollectReplies(socket, destination, sender);
}

// Queries every record, oldest first. One failed query empties the whole list.
PrinterRecord* CompleteList() {
    PrinterList& list = PrinterList::Instance();
    for (size_t i = 0; i < list.Count(); ++i) {
        if (!QueryPrinter(list.At(i))) {
            list.Clear();
            return nullptr;
        }
    }
    return list.Newest();
}

}  // namespace

DWORD DiscoveryRequestId() {
    return State().requestId;
}

bool ClassBroadcastAddress(DWORD address, char* buffer, size_t size) {
    const int a = static_cast<int>((address >> 24) & 0xff);
    const int b = static_cast<int>((address >> 16) & 0xff);
    const int c = static_cast<int>((address >> 8) & 0xff);
    int written;
    if (a < 127) {
        written = std::snprintf(buffer, size, "%d.255.255.255", a);
    } else if (a <= 191) {
        written = std::snprintf(buffer, size, "%d.%d.255.255", a, b);
    } else if (a <= 223) {
        written = std::snprintf(buffer, size, "%d.%d.%d.255", a, b, c);
    } else {
        written = std::snprintf(buffer, size, "255.255.255.255");
    }
    return written > 0 && static_cast<size_t>(written) < size;
}

// The host name goes into a buffer of its own: a DNS host name can be longer than the 20
// bytes of the address buffer, and such a machine must still broadcast.
bool BuildBroadcastAddress(char* buffer, int size) {
    if (buffer == nullptr || size < kMinBroadcastAddressSize) {
        return false;
    }
    char name[kHostNameSize];
    if (gethostname(name, sizeof name) == SOCKET_ERROR) {
        return false;
    }
    const hostent* host = gethostbyname(name);
    if (host == nullptr || host->h_addrtype != AF_INET || host->h_addr_list == nullptr ||
        host->h_addr_list[0] == nullptr) {
        return false;
    }
    // Only the first address counts: a machine with several interfaces broadcasts on the one
    // its name resolves to first.
    ULONG first;
    std::memcpy(&first, host->h_addr_list[0], sizeof first);
    return ClassBroadcastAddress(ntohl(first), buffer, static_cast<size_t>(size));
}

int BuildDiscoveryRequest(BYTE* buffer, int capacity) {
    DiscoveryState& state = State();
    ++state.requestId;
    const snmp::Oid names[] = {kPrinterMibRoot};
    snmp::Result<snmp::Bytes> request =
        snmp::EncodeRequest(snmp::PduType::GetNextRequest, kCommunity,
                            static_cast<std::int32_t>(state.requestId), names);
    if (!request || buffer == nullptr || request->size() > static_cast<size_t>(capacity)) {
        return 0;
    }
    std::memcpy(buffer, request->data(), request->size());
    return static_cast<int>(request->size());
}

bool CheckDiscoveryReply(const BYTE* datagram, int length) {
    if (datagram == nullptr || length <= 0) {
        return false;
    }
    snmp::Result<snmp::Message> reply =
        snmp::Decode(std::span<const std::uint8_t>(datagram, static_cast<size_t>(length)));
    if (!reply) {
        return false;
    }
    const snmp::Pdu& pdu = reply->pdu;
    if (pdu.requestId != static_cast<std::int32_t>(State().requestId) ||
        pdu.errorStatus != snmp::kNoError || pdu.varbinds.empty()) {
        return false;
    }
    // Only the first binding counts. Exactly 1.3.6.1.2.1.43 is not inside the subtree.
    const snmp::Oid& name = pdu.varbinds[0].name;
    return name.size() > kPrinterMibRoot.size() && name.StartsWith(kPrinterMibRoot);
}

void AddSender(const IpAddress& sender) {
    PrinterList& list = PrinterList::Instance();
    for (size_t i = 0; i < list.Count(); ++i) {
        if (sender.Matches(*list.At(i))) {
            return;  // each address is listed once, however many replies it sent
        }
    }
    auto record = std::make_unique<PrinterRecord>();
    sender.CopyTo(*record);
    list.Append(std::move(record));
}

void CollectReplies(CDatagramSocketBase& socket, IpAddress& destination, IpAddress& sender) {
    socket.SetNonBlocking();
    socket.BindForBroadcast(kDiscoveryPort);
    BYTE request[kDiscoveryDatagramSize];
    const int length = BuildDiscoveryRequest(request, sizeof request);
    if (length == 0) {
        return;
    }
    char reply[kDiscoveryDatagramSize];
    for (int pass = 1; pass <= kDiscoveryPasses; ++pass) {
        // The same datagram, request id included, in every pass.
        socket.SendTo(reinterpret_cast<const char*>(request), length, destination);
        fd_set readable;
        FD_ZERO(&readable);
        FD_SET(socket.Handle(), &readable);
        timeval wait;
        wait.tv_sec = pass;
        wait.tv_usec = 0;
        if (select(0, &readable, nullptr, nullptr, &wait) <= 0) {
            continue;
        }
        // Drain: one read per datagram until none is waiting. The socket is non-blocking, so
        // the pass ends as soon as it runs dry.
        for (;;) {
            const int received = socket.ReceiveFrom(reply, sizeof reply, sender);
            Sleep(kDrainPauseMs);
            if (received <= 0) {
                break;
            }
            if (CheckDiscoveryReply(reinterpret_cast<const BYTE*>(reply), received)) {
                AddSender(sender);
            }
        }
    }
}

void StartDiscovery() {
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
}

void StopDiscovery() {
    PrinterList::Instance().Clear();
}

PrinterRecord* BroadcastSearch(HWND window, int /*transport: 0, UDP over IPv4*/) {
    State().window = window;
    try {
        Broadcast();
        return CompleteList();
    } catch (const std::exception&) {
        // A broadcast that could not be made (DiscoveryError), or no memory: a search without
        // printers. Nothing escapes into the wizard or the installer that hosts it.
        PrinterList::Instance().Clear();
        return nullptr;
    }
}

PrinterRecord* FindPrinter(HWND window, const char* address, int mode) {
    PrinterList& list = PrinterList::Instance();
    list.Clear();
    try {
        if (mode == SearchByIpAddress) {
            const IpAddress target(address);
            auto record = std::make_unique<PrinterRecord>();
            target.CopyTo(*record);
            list.Append(std::move(record));
            return CompleteList();
        }
        if (mode == SearchByHardwareAddress) {
            PrinterRecord* newest = BroadcastSearch(window, 0);
            if (newest == nullptr) {
                StopDiscovery();
                return nullptr;
            }
            for (PrinterRecord* record = newest; record != nullptr; record = record->link) {
                if (address != nullptr && record->hardwareAddress != nullptr &&
                    std::strcmp(record->hardwareAddress.get(), address) == 0) {
                    return record;
                }
            }
        }
    } catch (const std::exception&) {
        list.Clear();
    }
    return nullptr;
}
