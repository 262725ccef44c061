// The SNMPv1 agent of the printer simulator on a UDP socket: what it holds and how it answers
// are snmp_agent.h's; here are the network side, the timing faults and the count of what
// arrives.
//
// Requests may arrive at the bound address or, with a wildcard bind, at a broadcast address.
// Every reply leaves from the same socket with a unicast source: the address the request was
// sent to, or for a broadcast the address of the interface it came in on (IP_PKTINFO). A reply
// from the broadcast address itself would never reach the manager.
#pragma once

#include <netinet/in.h>

#include <deque>
#include <string>
#include <vector>

#include "tools/nvprinter/event_loop.h"
#include "tools/nvprinter/snmp_agent.h"

namespace nvprinter {

struct SnmpConfig {
    Endpoint listen;
    SnmpAgentConfig agent;
    bool silent = false;       // never answer
    std::uint32_t lateMs = 0;  // answer this late
    bool quiet = false;        // no log lines
};

class SnmpService : public Service {
  public:
    SnmpService(const SnmpConfig& config, PrinterState* state);
    ~SnmpService() override;

    // Binds; false after a line on stderr saying why. `prefix` starts every log line.
    bool Open(const char* program, const std::string& prefix);
    const Endpoint& bound() const { return bound_; }

    void Prepare(std::vector<pollfd>* fds, std::optional<Clock::time_point>* deadline) override;
    void Dispatch(std::span<const pollfd> ready) override;
    void Finish() override;

  private:
    // One datagram as it arrived: who sent it, where to, and on which local address.
    struct Received {
        sockaddr_in peer = {};
        in_addr destination = {};  // as addressed (may be a broadcast address)
        in_addr local = {};        // the local unicast address to answer from
        std::size_t size = 0;
    };
    // A reply held back by --late.
    struct Pending {
        Clock::time_point due;
        sockaddr_in peer;
        in_addr local;
        snmp::Bytes datagram;
    };

    bool ReceiveOne(Received& received);
    Ipv4 OwnAddress(const Received& received) const;
    void Handle(const Received& received);
    void Send(const sockaddr_in& peer, const in_addr& local, const snmp::Bytes& datagram);
    void SendDue();

    const SnmpConfig config_;
    PrinterState* state_;
    const Clock::time_point started_;
    int socket_ = -1;
    Endpoint bound_;
    std::string prefix_;
    std::vector<std::uint8_t> buffer_;
    std::deque<Pending> pending_;
};

}  // namespace nvprinter
