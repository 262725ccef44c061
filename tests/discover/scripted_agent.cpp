#include "tests/discover/scripted_agent.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>

namespace nvtest {

ScriptedAgent::ScriptedAgent(const std::string& address, std::uint16_t port) {
    socket_ = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (socket_ < 0) {
        return;
    }
    const int on = 1;
    setsockopt(socket_, IPPROTO_IP, IP_PKTINFO, &on, sizeof on);
    sockaddr_in local = {};
    local.sin_family = AF_INET;
    local.sin_port = htons(port);
    inet_pton(AF_INET, address.c_str(), &local.sin_addr);
    socklen_t length = sizeof local;
    if (bind(socket_, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0 ||
        getsockname(socket_, reinterpret_cast<sockaddr*>(&local), &length) != 0) {
        close(socket_);
        socket_ = -1;
        return;
    }
    port_ = ntohs(local.sin_port);
    thread_ = std::thread([this] { Serve(); });
}

ScriptedAgent::~ScriptedAgent() {
    stop_ = true;
    if (thread_.joinable()) {
        thread_.join();
    }
    if (socket_ >= 0) {
        close(socket_);
    }
}

void ScriptedAgent::Set(const snmp::Oid& name, const snmp::Value& value) {
    std::lock_guard<std::mutex> lock(mutex_);
    objects_[name] = value;
}

void ScriptedAgent::SetHook(Hook hook) {
    std::lock_guard<std::mutex> lock(mutex_);
    hook_ = std::move(hook);
}

void ScriptedAgent::SetCommunity(const std::string& community) {
    std::lock_guard<std::mutex> lock(mutex_);
    community_ = community;
}

std::vector<AgentRequest> ScriptedAgent::Requests() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return requests_;
}

void ScriptedAgent::Serve() {
    std::vector<std::uint8_t> buffer(snmp::kMaxMessageSize + 1);
    while (!stop_) {
        pollfd readable = {socket_, POLLIN, 0};
        if (poll(&readable, 1, 20) <= 0) {
            continue;
        }
        sockaddr_in peer = {};
        alignas(cmsghdr) char control[CMSG_SPACE(sizeof(in_pktinfo))];
        iovec data = {buffer.data(), buffer.size()};
        msghdr message = {};
        message.msg_name = &peer;
        message.msg_namelen = sizeof peer;
        message.msg_iov = &data;
        message.msg_iovlen = 1;
        message.msg_control = control;
        message.msg_controllen = sizeof control;
        const ssize_t size = recvmsg(socket_, &message, MSG_DONTWAIT);
        if (size < 0) {
            continue;
        }
        in_pktinfo info = {};
        for (cmsghdr* header = CMSG_FIRSTHDR(&message); header != nullptr;
             header = CMSG_NXTHDR(&message, header)) {
            if (header->cmsg_level == IPPROTO_IP && header->cmsg_type == IP_PKTINFO) {
                std::memcpy(&info, CMSG_DATA(header), sizeof info);
            }
        }
        char destination[INET_ADDRSTRLEN] = "";
        inet_ntop(AF_INET, &info.ipi_addr, destination, sizeof destination);
        Answer(buffer.data(), static_cast<std::size_t>(size), &peer, &info.ipi_spec_dst,
               destination);
    }
}

void ScriptedAgent::Answer(const std::uint8_t* data, std::size_t size, const void* peer,
                           const void* local, const std::string& destination) {
    snmp::Result<snmp::Message> decoded = snmp::Decode(std::span(data, size));
    if (!decoded || decoded->pdu.type == snmp::PduType::GetResponse) {
        return;
    }
    const snmp::Message& request = *decoded;
    snmp::Message response;
    Hook hook;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        AgentRequest seen;
        seen.type = request.pdu.type;
        seen.requestId = request.pdu.requestId;
        for (const snmp::VarBind& binding : request.pdu.varbinds) {
            seen.names.push_back(binding.name);
        }
        seen.destination = destination;
        requests_.push_back(seen);
        if (request.community != community_) {
            return;
        }
        response.community = request.community;
        response.pdu.type = snmp::PduType::GetResponse;
        response.pdu.requestId = request.pdu.requestId;
        for (std::size_t i = 0; i < request.pdu.varbinds.size(); ++i) {
            const snmp::Oid& name = request.pdu.varbinds[i].name;
            auto found = request.pdu.type == snmp::PduType::GetRequest ? objects_.find(name)
                                                                       : objects_.upper_bound(name);
            if (found == objects_.end()) {
                response.pdu.errorStatus = snmp::kNoSuchName;
                response.pdu.errorIndex = static_cast<std::int32_t>(i + 1);
                response.pdu.varbinds = request.pdu.varbinds;
                break;
            }
            response.pdu.varbinds.push_back({found->first, found->second});
        }
        hook = hook_;
    }
    if (hook && !hook(request, response)) {
        return;
    }
    snmp::Result<snmp::Bytes> bytes = snmp::Encode(response);
    if (!bytes) {
        return;
    }
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(in_pktinfo))] = {};
    iovec body = {bytes->data(), bytes->size()};
    msghdr message = {};
    message.msg_name = const_cast<void*>(peer);
    message.msg_namelen = sizeof(sockaddr_in);
    message.msg_iov = &body;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    cmsghdr* header = CMSG_FIRSTHDR(&message);
    header->cmsg_level = IPPROTO_IP;
    header->cmsg_type = IP_PKTINFO;
    header->cmsg_len = CMSG_LEN(sizeof(in_pktinfo));
    in_pktinfo info = {};
    std::memcpy(&info.ipi_spec_dst, local, sizeof info.ipi_spec_dst);
    std::memcpy(CMSG_DATA(header), &info, sizeof info);
    sendmsg(socket_, &message, 0);
}

void FillPrinter(ScriptedAgent& agent, const std::array<std::uint8_t, 4>& address,
                 std::uint32_t printerIndex, const std::array<std::uint8_t, 4>& gateway) {
    using snmp::Oid;
    using snmp::Value;
    const Oid mib2{1, 3, 6, 1, 2, 1};
    agent.Set(mib2.Child({1, 1, 0}), Value::OctetString("scripted printer"));
    agent.Set(mib2.Child({2, 2, 1, 6, 1}),
              Value::OctetString(std::vector<std::uint8_t>{0x02, 0x1a, 0x2b, 0x3c, 0x4d, 0x5e}));
    agent.Set(mib2.Child({4, 20, 1, 3, address[0], address[1], address[2], address[3]}),
              Value::IpAddress({255, 255, 255, 0}));
    agent.Set(mib2.Child({4, 21, 1, 7, 0, 0, 0, 0}),
              Value::IpAddress({gateway[0], gateway[1], gateway[2], gateway[3]}));
    const Oid device = mib2.Child({25, 3, 2, 1});
    agent.Set(device.Child({2, 1}), Value::ObjectId(mib2.Child({25, 3, 1, 3})));
    agent.Set(device.Child({2, printerIndex}), Value::ObjectId(mib2.Child({25, 3, 1, 5})));
    agent.Set(device.Child({3, 1}), Value::OctetString("processor"));
    agent.Set(device.Child({3, printerIndex}), Value::OctetString("Scripted Printer"));
    agent.Set(mib2.Child({43, 5, 1, 1, 1, 1}), Value::Counter(7));
    agent.Set(Oid{1, 3, 6, 1, 6, 3, 1, 1, 6, 1, 0}, Value::Integer(0));
}

}  // namespace nvtest
