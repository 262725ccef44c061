// An SNMPv1 agent inside the test process, answering Get and GetNext from a table the test
// fills, on a thread of its own. It plays what neither the simulator nor snmpd can be made to
// do on demand: a first binding of exactly 1.3.6.1.2.1.43, an answer with an old request id, a
// route whose next hop is 0.0.0.0, requests it keeps quiet about, and so on.
//
// A wildcard bind answers broadcasts too; every answer leaves from the local address the
// request came in on (IP_PKTINFO), as a real agent's would. The socket belongs to the network
// namespace of the thread that creates the agent.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "snmp/message.h"

namespace nvtest {

// One request as the agent saw it.
struct AgentRequest {
    snmp::PduType type = snmp::PduType::GetRequest;
    std::int32_t requestId = 0;
    std::vector<snmp::Oid> names;
    std::string destination;  // the address it was sent to (a broadcast address, maybe)
};

class ScriptedAgent {
  public:
    // Decides the fate of one answer: change it, or return false to send nothing. Runs on the
    // agent's thread.
    using Hook = std::function<bool(const snmp::Message& request, snmp::Message& response)>;

    // Binds address:port (port 0: any free one). ok() tells whether that worked.
    explicit ScriptedAgent(const std::string& address, std::uint16_t port = 0);
    ~ScriptedAgent();
    ScriptedAgent(const ScriptedAgent&) = delete;
    ScriptedAgent& operator=(const ScriptedAgent&) = delete;

    bool ok() const { return socket_ >= 0; }
    std::uint16_t port() const { return port_; }

    // The agent's objects, in GetNext order. A GetNext past the last one, or a Get of a
    // missing one, is answered with noSuchName and the request's bindings (SNMPv1).
    void Set(const snmp::Oid& name, const snmp::Value& value);
    void SetHook(Hook hook);
    // Only requests with this community are answered (default "commro").
    void SetCommunity(const std::string& community);

    std::vector<AgentRequest> Requests() const;

  private:
    void Serve();
    void Answer(const std::uint8_t* data, std::size_t size, const void* peer, const void* local,
                const std::string& destination);

    int socket_ = -1;
    std::uint16_t port_ = 0;
    std::atomic<bool> stop_{false};
    mutable std::mutex mutex_;
    std::map<snmp::Oid, snmp::Value> objects_;
    Hook hook_;
    std::string community_ = "commro";
    std::vector<AgentRequest> requests_;
    std::thread thread_;
};

// The objects of a small printer at address a.b.c.d: ifPhysAddress.1 (02 1a 2b 3c 4d 5e), a
// processor at hrDeviceIndex 1 and the printer at printerIndex, the Printer MIB, the address's
// ipAdEntNetMask (255.255.255.0) and a default route via gateway.
void FillPrinter(ScriptedAgent& agent, const std::array<std::uint8_t, 4>& address,
                 std::uint32_t printerIndex, const std::array<std::uint8_t, 4>& gateway);

}  // namespace nvtest
