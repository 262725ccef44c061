#include "tools/nvprinter/snmp_service.h"

#include <arpa/inet.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace nvprinter {

namespace {

sockaddr_in ToSockaddr(const Endpoint& endpoint) {
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_port = htons(endpoint.port);
    std::memcpy(&address.sin_addr, endpoint.address.data(), 4);
    return address;
}

Endpoint FromSockaddr(const sockaddr_in& address) {
    Endpoint endpoint;
    std::memcpy(endpoint.address.data(), &address.sin_addr, 4);
    endpoint.port = ntohs(address.sin_port);
    return endpoint;
}

Ipv4 FromInAddr(const in_addr& address) {
    Ipv4 octets;
    std::memcpy(octets.data(), &address, 4);
    return octets;
}

}  // namespace

SnmpService::SnmpService(const SnmpConfig& config, PrinterState* state)
    : config_(config), state_(state), started_(Clock::now()) {
    // SNMP's largest datagram, plus one octet to notice anything longer.
    buffer_.resize(snmp::kMaxMessageSize + 1);
}

SnmpService::~SnmpService() {
    if (socket_ >= 0) {
        close(socket_);
    }
}

bool SnmpService::Open(const char* program, const std::string& prefix) {
    prefix_ = prefix;
    socket_ = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (socket_ < 0) {
        const int error = errno;
        std::fprintf(stderr, "%s: socket: %s\n", program, std::strerror(error));
        return false;
    }
    const int on = 1;
    setsockopt(socket_, IPPROTO_IP, IP_PKTINFO, &on, sizeof on);
    const sockaddr_in address = ToSockaddr(config_.listen);
    if (bind(socket_, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        const int error = errno;
        std::fprintf(stderr, "%s: cannot bind %s: %s\n", program,
                     FormatEndpoint(config_.listen).c_str(), std::strerror(error));
        return false;
    }
    sockaddr_in bound = {};
    socklen_t length = sizeof bound;
    getsockname(socket_, reinterpret_cast<sockaddr*>(&bound), &length);
    bound_ = FromSockaddr(bound);
    return true;
}

void SnmpService::Prepare(std::vector<pollfd>* fds, std::optional<Clock::time_point>* deadline) {
    fds->push_back(pollfd{socket_, POLLIN, 0});
    // Replies are queued in arrival order and all wait the same time: the front is due first.
    if (!pending_.empty() && (!*deadline || pending_.front().due < **deadline)) {
        *deadline = pending_.front().due;
    }
}

void SnmpService::Dispatch(std::span<const pollfd> ready) {
    if (ready[0].revents & POLLIN) {
        Received received;
        while (ReceiveOne(received)) {
            state_->DatagramReceived();
            Handle(received);
            received = Received();
        }
    }
    SendDue();
}

void SnmpService::Finish() {
    if (!config_.quiet) {
        std::fprintf(stderr, "%sstopped\n", prefix_.c_str());
    }
}

bool SnmpService::ReceiveOne(Received& received) {
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(in_pktinfo))];
    iovec data = {buffer_.data(), buffer_.size()};
    msghdr message = {};
    message.msg_name = &received.peer;
    message.msg_namelen = sizeof received.peer;
    message.msg_iov = &data;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    const ssize_t size = recvmsg(socket_, &message, 0);
    if (size < 0) {
        return false;  // EAGAIN: drained; anything else: try again on the next poll
    }
    received.size = static_cast<std::size_t>(size);
    if (message.msg_flags & MSG_TRUNC) {
        received.size = buffer_.size();  // longer than any SNMP message; refused below
    }
    for (cmsghdr* header = CMSG_FIRSTHDR(&message); header != nullptr;
         header = CMSG_NXTHDR(&message, header)) {
        if (header->cmsg_level == IPPROTO_IP && header->cmsg_type == IP_PKTINFO) {
            in_pktinfo info;
            std::memcpy(&info, CMSG_DATA(header), sizeof info);
            received.destination = info.ipi_addr;
            received.local = info.ipi_spec_dst;
        }
    }
    return true;
}

// The index of the ipAddrTable row: --address, else the bound address, else (wildcard bind)
// the local address this request came in on, as a host with that address would say.
Ipv4 SnmpService::OwnAddress(const Received& received) const {
    if (config_.agent.address) {
        return *config_.agent.address;
    }
    if (!IsAnyAddress(config_.listen.address)) {
        return config_.listen.address;
    }
    return FromInAddr(received.local);
}

void SnmpService::Handle(const Received& received) {
    const auto uptime =
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - started_).count() / 10;
    const PrinterMoment moment{OwnAddress(received), static_cast<std::uint32_t>(uptime),
                               state_->Report(), state_->PrintedJobs()};
    const ObjectSet objects = BuildObjects(config_.agent, moment);
    SnmpOutcome outcome =
        AnswerRequest(config_.agent, objects, std::span(buffer_.data(), received.size));

    std::string note;
    if (outcome.reply && config_.silent) {
        note = " [silent: not sent]";
        outcome.reply.reset();
    } else if (outcome.reply && config_.lateMs > 0) {
        note = " [sent after " + std::to_string(config_.lateMs) + " ms]";
        pending_.push_back({Clock::now() + std::chrono::milliseconds(config_.lateMs), received.peer,
                            received.local, std::move(*outcome.reply)});
        outcome.reply.reset();
    }
    // The line is written before the answer leaves, so whoever reads the answer can already
    // find it in the log.
    if (!config_.quiet) {
        std::fprintf(stderr, "%s%s -> %s: %s%s\n", prefix_.c_str(),
                     FormatEndpoint(FromSockaddr(received.peer)).c_str(),
                     FormatIpv4(FromInAddr(received.destination)).c_str(), outcome.log.c_str(),
                     note.c_str());
    }
    if (outcome.reply) {
        Send(received.peer, received.local, *outcome.reply);
    }
}

// Answers from the given local address whatever the socket is bound to.
void SnmpService::Send(const sockaddr_in& peer, const in_addr& local, const snmp::Bytes& datagram) {
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(in_pktinfo))] = {};
    iovec data = {const_cast<std::uint8_t*>(datagram.data()), datagram.size()};
    msghdr message = {};
    message.msg_name = const_cast<sockaddr_in*>(&peer);
    message.msg_namelen = sizeof peer;
    message.msg_iov = &data;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    cmsghdr* header = CMSG_FIRSTHDR(&message);
    header->cmsg_level = IPPROTO_IP;
    header->cmsg_type = IP_PKTINFO;
    header->cmsg_len = CMSG_LEN(sizeof(in_pktinfo));
    in_pktinfo info = {};
    info.ipi_spec_dst = local;
    std::memcpy(CMSG_DATA(header), &info, sizeof info);
    if (sendmsg(socket_, &message, 0) < 0 && !config_.quiet) {
        const int error = errno;
        std::fprintf(stderr, "%ssend to %s: %s\n", prefix_.c_str(),
                     FormatEndpoint(FromSockaddr(peer)).c_str(), std::strerror(error));
    }
}

void SnmpService::SendDue() {
    const Clock::time_point now = Clock::now();
    while (!pending_.empty() && pending_.front().due <= now) {
        Send(pending_.front().peer, pending_.front().local, pending_.front().datagram);
        pending_.pop_front();
    }
}

}  // namespace nvprinter
