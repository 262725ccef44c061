// The broadcast search and the searches for one printer.
//
// The request is built and the replies are read with our own SNMPv1 codec, which needs no
// session: so unlike a WinSNMP-based search there is no session to create per request and no
// way for that step to fail. What the wire sees: an SNMPv1 GetNext of 1.3.6.1.2.1.43 with
// community "commro", sent to the class-based broadcast address and to every interface's own,
// with a request id drawn at random for each search.
#include "discover/broadcast.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <random>
#include <span>
#include <system_error>
#include <thread>
#include <vector>

#include "discover/discovery.h"
#include "discover/interfaces.h"
#include "discover/searchstop.h"
#include "discover/snmpquery.h"
#include "platform/late_api.h"
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

// Request ids stay positive, as agents expect.
constexpr DWORD kMaxRequestId = 0x7fffffff;

// A request id from the system's random source, 1 to 0x7fffffff and never the one before, so
// that the latest search's replies are told from an earlier one's.
DWORD NewRequestId(DWORD previous) {
    DWORD id = 0;
    try {
        std::random_device source;
        std::uniform_int_distribution<DWORD> draw(1, kMaxRequestId);
        do {
            id = draw(source);
        } while (id == previous);
    } catch (const std::exception&) {
        // No random source: the clock, mixed, still differs from the id before.
        id = static_cast<DWORD>(LateGetTickCount64() * 2654435761u) & kMaxRequestId;
        if (id == 0 || id == previous) {
            id = previous % kMaxRequestId + 1;
        }
    }
    return id;
}

// The broadcast itself: the destinations from the machine's own addresses and interfaces, then
// the passes. A machine without any destination sends nothing and leaves the list as it was.
void Broadcast() {
    DatagramSocket socket;
    std::vector<IpAddress> destinations;
    for (DWORD address : BroadcastDestinations(socket.Handle())) {
        char text[kBroadcastAddressSize];
        FormatDotted(address, text, sizeof text);
        destinations.emplace_back();
        destinations.back().Set(text, kSnmpAgentPort);
    }
    if (destinations.empty()) {
        return;
    }
    IpAddress sender;
    CollectReplies(socket, destinations, sender);
}

// At most this many records are queried at the same time, each on a thread of its own.
constexpr size_t kMaxParallelQueries = 16;

// Queries records from the shared counter until none is left; a query that throws (no memory)
// has failed. Each query writes only its own record and its own result.
void QueryRecords(PrinterList& list, std::atomic<size_t>& next, std::vector<char>& answered) {
    for (size_t i = next++; i < list.Count(); i = next++) {
        try {
            answered[i] = QueryPrinter(list.At(i)) ? 1 : 0;
        } catch (const std::exception&) {
            answered[i] = 0;
        }
    }
}

// Queries every record, all at the same time (up to kMaxParallelQueries), so that silent
// devices cost the time of one, not one after the other. The list itself is changed only
// here, after the queries: a printer whose queries fail is dropped alone, and the rest stay
// listed, newest first and linked. A search cancelled meanwhile keeps nothing.
PrinterRecord* CompleteList() {
    PrinterList& list = PrinterList::Instance();
    std::vector<char> answered(list.Count(), 0);
    std::atomic<size_t> next{0};
    std::vector<std::thread> helpers;
    for (size_t i = 1; i < std::min(list.Count(), kMaxParallelQueries); ++i) {
        try {
            helpers.emplace_back(QueryRecords, std::ref(list), std::ref(next), std::ref(answered));
        } catch (const std::system_error&) {
            break;  // no more threads to be had: this one and those started do the rest
        }
    }
    QueryRecords(list, next, answered);
    for (std::thread& helper : helpers) {
        helper.join();
    }
    if (SearchCancelled()) {
        list.Clear();
        return nullptr;
    }
    for (size_t i = list.Count(); i-- > 0;) {
        if (answered[i] == 0) {
            list.RemoveAt(i);
        }
    }
    return list.Newest();
}

// Reads the datagrams waiting on the non-blocking socket, up to the deadline, and lists every
// sender whose reply is accepted. A reply too long for the buffer (WSAEMSGSIZE) or a report of
// an unreachable port (WSAECONNRESET) costs only that datagram.
void Drain(CDatagramSocketBase& socket, ULONGLONG deadline, IpAddress& sender) {
    char reply[kDiscoveryDatagramSize];
    while (LateGetTickCount64() < deadline) {
        const int received = socket.ReceiveFrom(reply, sizeof reply, sender);
        if (received < 0) {
            const int error = socket.LastError();
            if (error == WSAEMSGSIZE || error == WSAECONNRESET) {
                continue;
            }
            return;  // WSAEWOULDBLOCK: nothing more is waiting
        }
        if (CheckDiscoveryReply(reinterpret_cast<const BYTE*>(reply), received)) {
            AddSender(sender);
        }
    }
}

// Collects replies until the deadline, however many arrive and whenever they do, or until the
// search is cancelled.
void CollectUntil(CDatagramSocketBase& socket, ULONGLONG deadline, IpAddress& sender) {
    for (ULONGLONG now = LateGetTickCount64(); now < deadline && !SearchCancelled();
         now = LateGetTickCount64()) {
        fd_set readable;
        FD_ZERO(&readable);
        FD_SET(socket.Handle(), &readable);
        const ULONGLONG left = std::min<ULONGLONG>(deadline - now, snmp::kStopPollMs);
        timeval wait;
        wait.tv_sec = static_cast<long>(left / 1000);
        wait.tv_usec = static_cast<long>(left % 1000 * 1000);
        const int ready = select(0, &readable, nullptr, nullptr, &wait);
        if (ready == SOCKET_ERROR) {
            return;
        }
        if (ready > 0) {
            Drain(socket, deadline, sender);
        }
    }
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
    // Only the first address counts here; the other interfaces are reached by their own
    // broadcast addresses (BroadcastDestinations).
    ULONG first;
    std::memcpy(&first, host->h_addr_list[0], sizeof first);
    return ClassBroadcastAddress(ntohl(first), buffer, static_cast<size_t>(size));
}

std::vector<DWORD> BroadcastDestinations(SOCKET socket) {
    std::vector<DWORD> destinations;
    char text[kBroadcastAddressSize];
    if (BuildBroadcastAddress(text, sizeof text)) {
        destinations.push_back(ntohl(inet_addr(text)));
    }
    for (DWORD address : InterfaceBroadcastAddresses(socket)) {
        if (std::find(destinations.begin(), destinations.end(), address) == destinations.end()) {
            destinations.push_back(address);
        }
    }
    return destinations;
}

int EncodeDiscoveryRequest(DWORD requestId, BYTE* buffer, int capacity) {
    const snmp::Oid names[] = {kPrinterMibRoot};
    snmp::Result<snmp::Bytes> request = snmp::EncodeRequest(
        snmp::PduType::GetNextRequest, kCommunity, static_cast<std::int32_t>(requestId), names);
    if (!request || buffer == nullptr || request->size() > static_cast<size_t>(capacity)) {
        return 0;
    }
    std::memcpy(buffer, request->data(), request->size());
    return static_cast<int>(request->size());
}

int BuildDiscoveryRequest(BYTE* buffer, int capacity) {
    DiscoveryState& state = State();
    state.requestId = NewRequestId(state.requestId);
    return EncodeDiscoveryRequest(state.requestId, buffer, capacity);
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

void CollectReplies(CDatagramSocketBase& socket, const std::vector<IpAddress>& destinations,
                    IpAddress& sender) {
    socket.SetNonBlocking();
    socket.BindForBroadcast(kDiscoveryPort);
    BYTE request[kDiscoveryDatagramSize];
    const int length = BuildDiscoveryRequest(request, sizeof request);
    if (length == 0) {
        return;
    }
    bool sentAny = false;
    for (int pass = 1; pass <= kDiscoveryPasses && !SearchCancelled(); ++pass) {
        const ULONGLONG deadline = LateGetTickCount64() + kPassUnitMs * static_cast<ULONGLONG>(pass);
        // The same datagram, request id included, to every destination in every pass. One
        // destination without a route (10.255.255.255 on a PC at 10.1.2.5/24) does not keep
        // the request from the others.
        DWORD sendError = WSAEDESTADDRREQ;  // when there is no destination at all
        for (const IpAddress& destination : destinations) {
            try {
                socket.SendTo(reinterpret_cast<const char*>(request), length, destination);
                sentAny = true;
            } catch (const DiscoveryError& error) {
                sendError = error.code();
            }
        }
        if (!sentAny) {
            throw DiscoveryError("send", sendError);
        }
        CollectUntil(socket, deadline, sender);
    }
}

void StartDiscovery() {
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
}

void StopDiscovery() {
    PrinterList::Instance().Clear();
    ResetSearchCancel();
}

PrinterRecord* BroadcastSearch(HWND window, int /*transport: 0, UDP over IPv4*/) {
    State().window = window;
    SearchScope search;
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
    SearchScope search;
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
