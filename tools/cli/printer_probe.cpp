#include "tools/cli/printer_probe.h"

#include "platform/winsock.h"

namespace cli {

namespace mib = snmp::printer_mib;

namespace {

// Windows Sockets for the life of the object.
class SocketsStarted {
  public:
    SocketsStarted() {
        WSADATA data;
        error_ = static_cast<DWORD>(WSAStartup(MAKEWORD(2, 2), &data));
    }
    ~SocketsStarted() {
        if (error_ == 0) {
            WSACleanup();
        }
    }
    SocketsStarted(const SocketsStarted&) = delete;
    SocketsStarted& operator=(const SocketsStarted&) = delete;
    DWORD error() const { return error_; }

  private:
    DWORD error_ = 0;
};

// A non-blocking connect and one wait for it. Windows reports a failed attempt in the exception
// set, never as writable, so both are watched and a refusal is known at once.
DWORD Connect(SOCKET s, const sockaddr_in& to, DWORD waitMs) {
    ULONG nonBlocking = 1;
    ioctlsocket(s, FIONBIO, &nonBlocking);
    if (connect(s, reinterpret_cast<const sockaddr*>(&to), sizeof to) == 0) {
        return 0;
    }
    const int started = WSAGetLastError();
    if (started != WSAEWOULDBLOCK && started != WSAEINPROGRESS) {
        return static_cast<DWORD>(started);
    }
    fd_set writable;
    fd_set failed;
    FD_ZERO(&writable);
    FD_SET(s, &writable);
    FD_ZERO(&failed);
    FD_SET(s, &failed);
    timeval wait = {static_cast<long>(waitMs / 1000), static_cast<long>(waitMs % 1000) * 1000};
    const int ready = select(0, nullptr, &writable, &failed, &wait);
    if (ready == SOCKET_ERROR) {
        return static_cast<DWORD>(WSAGetLastError());
    }
    if (ready == 0) {
        return WSAETIMEDOUT;
    }
    if (FD_ISSET(s, &failed)) {
        int code = 0;
        int length = sizeof code;
        getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&code), &length);
        return code != 0 ? static_cast<DWORD>(code) : static_cast<DWORD>(WSAECONNREFUSED);
    }
    return 0;
}

// One value by Get; nullopt when the agent has no such object or does not answer.
std::optional<snmp::Value> GetOne(snmp::Session& session, const snmp::Oid& name) {
    std::vector<snmp::VarBind> bindings = {{name, {}}};
    std::int32_t errorStatus = snmp::kNoError;
    if (!session.Request(snmp::PduType::GetRequest, bindings, &errorStatus) ||
        errorStatus != snmp::kNoError || bindings[0].name != name) {
        return std::nullopt;
    }
    return bindings[0].value;
}

// The rows of prtMarkerSuppliesTable of the device: a walk of the description column, and
// for each row its capacity and level.
std::vector<Supply> ReadSupplies(snmp::Session& session, std::uint32_t device) {
    const snmp::Oid column = mib::kPrtMarkerSuppliesDescription.Child(device);
    std::vector<Supply> supplies;
    snmp::Oid cursor = column;
    while (supplies.size() < static_cast<size_t>(kMaxSupplies)) {
        std::vector<snmp::VarBind> next = {{cursor, {}}};
        std::int32_t errorStatus = snmp::kNoError;
        if (!session.Request(snmp::PduType::GetNextRequest, next, &errorStatus) ||
            errorStatus != snmp::kNoError || next[0].name <= cursor ||
            !next[0].name.StartsWith(column) || next[0].name.size() != column.size() + 1) {
            break;
        }
        cursor = next[0].name;
        const std::uint32_t row = cursor.arcs().back();
        Supply supply;
        supply.description = next[0].value.AsText().value_or("");
        if (auto capacity =
                GetOne(session, mib::kPrtMarkerSuppliesMaxCapacity.Child({device, row}))) {
            supply.capacity = capacity->AsInteger();
        }
        if (auto level = GetOne(session, mib::kPrtMarkerSuppliesLevel.Child({device, row}))) {
            supply.level = level->AsInteger();
        }
        supplies.push_back(std::move(supply));
    }
    return supplies;
}

// What the printer says of itself once it has answered the status query.
void ReadDetails(const ProbeTarget& target, ProbeResult* result) {
    snmp::Session session;
    if (!session.Open(target.address.c_str(), target.community, kStatusTimeoutMs, kStatusRetries,
                      snmp::StatusAgentPort())) {
        return;
    }
    if (auto description = GetOne(session, mib::kHrDeviceDescr.Child(target.deviceIndex))) {
        result->description = description->AsText();
    }
    if (auto count = GetOne(
            session, mib::kPrtMarkerLifeCount.Child({target.deviceIndex, mib::kFirstMarker}))) {
        result->pageCount = count->AsUnsigned();
    }
    result->supplies = ReadSupplies(session, target.deviceIndex);
}

}  // namespace

std::optional<int> Supply::Percent() const {
    if (!capacity || !level || *capacity <= 0 || *level < 0) {
        return std::nullopt;
    }
    const long long percent = static_cast<long long>(*level) * 100 / *capacity;
    return static_cast<int>(percent > 100 ? 100 : percent);
}

DWORD ProbeConnection(const std::string& address, USHORT port, DWORD waitMs) {
    SocketsStarted sockets;
    if (sockets.error() != 0) {
        return sockets.error();
    }
    sockaddr_in to = {};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    to.sin_addr.s_addr = inet_addr(address.c_str());
    if (to.sin_addr.s_addr == INADDR_NONE) {
        return WSAEADDRNOTAVAIL;
    }
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET) {
        return static_cast<DWORD>(WSAGetLastError());
    }
    const DWORD error = Connect(s, to, waitMs);
    closesocket(s);
    return error;
}

ProbeResult ProbePrinter(const ProbeTarget& target) {
    ProbeResult result;
    result.connectError = ProbeConnection(target.address, target.portNumber, kConnectWaitMs);
    if (!target.snmpEnabled) {
        return result;
    }
    snmp::PrinterStatusQuery query;
    query.agent = target.address.c_str();
    query.community = target.community;
    query.deviceIndex = target.deviceIndex;
    query.timeoutMs = kStatusTimeoutMs;
    query.retries = kStatusRetries;
    result.status = snmp::QueryPrinterStatus(query);
    if (result.status.answered) {
        ReadDetails(target, &result);
    }
    return result;
}

}  // namespace cli
