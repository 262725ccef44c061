#include "snmp/manager.h"

#include <algorithm>
#include <cstring>

#include "platform/late_api.h"

namespace snmp {

namespace {

// Request ids of a session start somewhere different each time (from the clock and the
// session's address), so that a late answer to an earlier session's request on the same port
// is unlikely to match; they stay positive, as agents expect.
std::int32_t FirstRequestId(const void* session) {
    const auto mixed = static_cast<std::uint32_t>(GetTickCount()) * 2654435761u ^
                       static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(session) >> 4);
    return static_cast<std::int32_t>((mixed & 0x3fffffffu) | 1u);
}

bool SameEndpoint(const sockaddr_in& a, const sockaddr_in& b) {
    return a.sin_addr.s_addr == b.sin_addr.s_addr && a.sin_port == b.sin_port;
}

}  // namespace

Session::~Session() {
    Close();
}

bool Session::Open(const char* agent, std::string_view community, DWORD timeoutMs, int retries,
                   USHORT port) {
    Close();
    if (agent == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    WSADATA data;
    const int started = WSAStartup(MAKEWORD(2, 2), &data);
    if (started != 0) {
        SetLastError(static_cast<DWORD>(started));
        return false;
    }
    started_ = true;

    ULONG address = inet_addr(agent);
    if (address == INADDR_NONE) {
        // Not a dotted address (or "255.255.255.255", which the parser cannot tell from its
        // error value): look the text up as a host name and take its first address.
        const hostent* host = gethostbyname(agent);
        if (host == nullptr || host->h_addr_list == nullptr || host->h_addr_list[0] == nullptr) {
            const DWORD error = host == nullptr ? static_cast<DWORD>(WSAGetLastError())
                                                : static_cast<DWORD>(WSANO_DATA);
            Close();
            SetLastError(error);
            return false;
        }
        std::memcpy(&address, host->h_addr_list[0], sizeof address);
    }

    socket_ = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    if (socket_ == INVALID_SOCKET) {
        const DWORD error = static_cast<DWORD>(WSAGetLastError());
        Close();
        SetLastError(error);
        return false;
    }
    agent_ = {};
    agent_.sin_family = AF_INET;
    agent_.sin_port = htons(port);
    agent_.sin_addr.s_addr = address;
    community_.assign(community.begin(), community.end());
    timeoutMs_ = timeoutMs;
    retries_ = std::clamp(retries, 0, kMaxRetries);
    nextRequestId_ = FirstRequestId(this);
    buffer_.resize(kMaxMessageSize + 1);
    return true;
}

bool Session::Request(PduType type, std::vector<VarBind>& bindings, std::int32_t* errorStatus,
                      std::int32_t* errorIndex) {
    if (!IsOpen()) {
        SetLastError(kErrorInvalidSession);
        return false;
    }
    const std::int32_t requestId = nextRequestId_;
    nextRequestId_ = nextRequestId_ == INT32_MAX ? 1 : nextRequestId_ + 1;

    std::vector<Oid> names;
    names.reserve(bindings.size());
    for (const VarBind& binding : bindings) {
        names.push_back(binding.name);
    }
    Result<Bytes> request = EncodeRequest(type, community_, requestId, names);
    if (!request) {
        SetLastError(kErrorInvalidBuffer);
        return false;
    }

    for (int attempt = 0; attempt <= retries_; ++attempt) {
        if (Stopped()) {
            return false;
        }
        const int size = static_cast<int>(request->size());
        const int sent = sendto(socket_, reinterpret_cast<const char*>(request->data()), size, 0,
                                reinterpret_cast<const sockaddr*>(&agent_), sizeof agent_);
        if (sent == SOCKET_ERROR) {
            return false;  // the Winsock code is the last error
        }
        if (sent != size) {
            SetLastError(WSAEMSGSIZE);
            return false;
        }
        const Wait wait = AwaitAnswer(requestId, bindings, errorStatus, errorIndex);
        if (wait == Wait::kAnswered) {
            return true;
        }
        if (wait == Wait::kStopped) {
            return false;  // with the last error that Stopped() set
        }
    }
    SetLastError(kErrorTimeout);
    return false;
}

bool Session::Stopped() const {
    if (stop_.cancelled != nullptr && stop_.cancelled->load()) {
        SetLastError(ERROR_CANCELLED);
        return true;
    }
    if (stop_.deadline != 0 && LateGetTickCount64() >= stop_.deadline) {
        SetLastError(kErrorTimeout);
        return true;
    }
    return false;
}

Session::Wait Session::AwaitAnswer(std::int32_t requestId, std::vector<VarBind>& bindings,
                                   std::int32_t* errorStatus, std::int32_t* errorIndex) {
    const ULONGLONG deadline = LateGetTickCount64() + timeoutMs_;
    for (;;) {
        if (Stopped()) {
            return Wait::kStopped;
        }
        const ULONGLONG now = LateGetTickCount64();
        if (now >= deadline) {
            return Wait::kTimedOut;
        }
        ULONGLONG left = deadline - now;
        if (stop_.deadline != 0) {
            left = now < stop_.deadline ? std::min(left, stop_.deadline - now) : 0;
        }
        if (stop_.cancelled != nullptr) {
            left = std::min<ULONGLONG>(left, kStopPollMs);
        }
        fd_set readable;
        FD_ZERO(&readable);
        FD_SET(socket_, &readable);
        timeval wait;
        wait.tv_sec = static_cast<long>(left / 1000);
        wait.tv_usec = static_cast<long>(left % 1000) * 1000;
        const int ready = select(0, &readable, nullptr, nullptr, &wait);
        if (ready == SOCKET_ERROR) {
            return Wait::kTimedOut;
        }
        if (ready == 0) {
            continue;  // the time is looked at again above
        }
        sockaddr_in from = {};
        int fromLength = sizeof from;
        const int size = recvfrom(socket_, buffer_.data(), static_cast<int>(buffer_.size()), 0,
                                  reinterpret_cast<sockaddr*>(&from), &fromLength);
        if (size == SOCKET_ERROR || !SameEndpoint(from, agent_)) {
            // Windows reports an ICMP port-unreachable of an earlier send as WSAECONNRESET on
            // the next receive; neither that nor a stranger's datagram is an answer.
            continue;
        }
        Result<Message> answer = DecodeResponse(std::span<const std::uint8_t>(
            reinterpret_cast<const std::uint8_t*>(buffer_.data()), static_cast<size_t>(size)));
        if (!answer || answer->pdu.requestId != requestId || answer->community != community_ ||
            answer->pdu.varbinds.size() > bindings.size()) {
            continue;
        }
        // An answer short of bindings still answers the ones it has, in order; the others keep
        // the names asked for, with the NULL value they were sent with.
        std::vector<VarBind>& answered = answer->pdu.varbinds;
        for (size_t i = 0; i < bindings.size(); ++i) {
            bindings[i] = i < answered.size() ? std::move(answered[i])
                                              : VarBind{std::move(bindings[i].name), Value::Null()};
        }
        if (errorStatus != nullptr) {
            *errorStatus = answer->pdu.errorStatus;
        }
        if (errorIndex != nullptr) {
            *errorIndex = answer->pdu.errorIndex;
        }
        return Wait::kAnswered;
    }
}

bool Session::Close() {
    DWORD error = 0;
    if (socket_ != INVALID_SOCKET) {
        if (closesocket(socket_) == SOCKET_ERROR) {
            error = static_cast<DWORD>(WSAGetLastError());
        }
        socket_ = INVALID_SOCKET;
    }
    if (started_) {
        WSACleanup();
        started_ = false;
    }
    if (error != 0) {
        SetLastError(error);
        return false;
    }
    return true;
}

}  // namespace snmp
