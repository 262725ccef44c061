// Real peers for the discovery tests: agent processes (the simulator, net-snmp's snmpd), a
// broadcast lab of network namespaces that the test builds and removes itself, and a way to
// run the test's own thread inside one of those namespaces.
//
// Nothing here sends anything: the tests do, to loopback addresses or inside the lab.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/test_env.h"

namespace nvtest {

// "" when the tests may bind UDP port 161 (root), else why they cannot.
std::string PrivilegedPortsUnavailable();
// "" when this machine can build the broadcast lab, else why not (root, ip netns).
std::string LabUnavailable();
// "" when the program is on the PATH, else a sentence saying it is not.
std::string ProgramMissing(const std::string& program);

// A daemon or simulator started for one test, in the current namespace or (netns not empty)
// under "ip netns exec". Its standard output is read through a pipe, its standard error goes
// to a log file. Stopped with SIGTERM, by its own pid, when the object goes.
class PeerProcess {
  public:
    PeerProcess(const std::vector<std::string>& argv, const std::string& netns = "",
                const std::vector<std::string>& environment = {});
    ~PeerProcess();
    PeerProcess(const PeerProcess&) = delete;
    PeerProcess& operator=(const PeerProcess&) = delete;

    bool started() const { return pid_ > 0; }
    // Waits until the standard output (or the log file, if logFile is given) contains needle.
    bool WaitFor(const std::string& needle, int timeoutMs, const std::string& logFile = "");
    std::string Output();
    std::string Log() const;
    // SIGTERM and wait; the exit code, or -1.
    int Stop();

  private:
    void ReadOutput();

    TempDir dir_;
    pid_t pid_ = -1;
    int out_ = -1;
    std::string output_;
};

// "nvprinter snmp --listen LISTEN OPTIONS...", waited for until it listens.
class Simulator : public PeerProcess {
  public:
    Simulator(const std::string& listen, const std::vector<std::string>& options,
              const std::string& netns = "");
    bool ready() const { return ready_; }

  private:
    bool ready_ = false;
};

// net-snmp's snmpd playing a printer: the Printer MIB (one counter), ifPhysAddress.1, and a
// device of type hrDevicePrinter with its description at deviceIndex; ipAdEntNetMask and
// ipRouteNextHop come from the namespace's real interfaces and routes.
struct SnmpdFiles {
    TempDir files;  // configuration, pid file, log and persistent directory
};
class Snmpd : private SnmpdFiles, public PeerProcess {
  public:
    struct Config {
        std::string agentAddress = "udp:161";
        std::string mac = "021a2b3c4d5e";
        unsigned deviceIndex = 327681;
        std::string description = "Lab Printer 1";
        std::vector<std::string> lines;  // more lines for snmpd.conf ("override OID TYPE VALUE")
    };
    Snmpd(const Config& config, const std::string& netns = "");
    bool ready() const { return ready_; }

  private:
    static std::vector<std::string> Arguments(const Config& config, const std::string& dir);
    bool ready_ = false;
};

// One network segment of a lab: a bridge in the client namespace holding the client's address
// on it, and the printers' addresses on that segment.
struct LabSegment {
    std::string clientAddress;
    int prefixLength = 24;
    std::vector<std::string> printers;
};

// What a lab is made of. The client's default route: "dev br0" keeps 255.255.255.255 on the
// first segment, "via A.B.C.D" sends whatever has no route of its own there, "" gives none.
struct LabLayout {
    std::vector<LabSegment> segments;
    std::string clientDefaultRoute = "dev br0";
    // Each printer routes by its segment's client address; without it a printer has only the
    // route of its subnet, whose next hop is 0.0.0.0.
    bool printerDefaultRoutes = true;
};

// The broadcast lab: a client namespace with one bridge per segment (br0, br1, ... in the order
// given, so the client's first address is the first segment's), and one namespace per printer
// joined to its segment's bridge by a veth pair. Printers are numbered from 1 across the
// segments in order. Names carry the test's pid, so labs of tests running side by side never
// meet. Removed, namespaces and all, when the object goes.
class NetnsLab {
  public:
    // The usual lab: the client at 192.168.77.1/24 with a default route on br0, printer k at
    // 192.168.77.(10+k).
    explicit NetnsLab(int printers, bool defaultRoutes = true);
    explicit NetnsLab(const LabLayout& layout);
    ~NetnsLab();
    NetnsLab(const NetnsLab&) = delete;
    NetnsLab& operator=(const NetnsLab&) = delete;

    bool ok() const { return error_.empty(); }
    const std::string& error() const { return error_; }
    const std::string& client() const { return client_; }
    std::string printer(int k) const;
    // Printer k's address and its segment's broadcast address.
    std::string address(int k) const;
    std::string broadcast(int k) const;
    // Printer k's address in the usual lab.
    static std::string PrinterAddress(int k);
    static constexpr const char* kClientAddress = "192.168.77.1";
    static constexpr const char* kSubnetBroadcast = "192.168.77.255";

    // Inside printer k's namespace: rewrites a datagram to its segment's broadcast address on
    // UDP port 161 into one to the printer's own address before routing (nftables), so that an
    // agent that answers from the address a request was sent to answers from its own.
    bool RewriteSubnetBroadcast(int k);
    // Inside printer k's namespace: drops every SNMP datagram sent to the printer's own address
    // (nftables), so that it answers broadcasts and nothing else.
    bool DropUnicastSnmp(int k);

  private:
    void Build(const LabLayout& layout);
    bool Run(const std::string& command);

    std::string client_;
    std::string prefix_;
    struct PrinterSeat {
        std::string address;
        std::string broadcast;
    };
    std::vector<PrinterSeat> printers_;
    std::string error_;
};

// Garbage datagrams to address:port from inside a namespace, about ten thousand a second, on
// a thread of its own, for at most 30 seconds or until the object goes.
class GarbageFlood {
  public:
    GarbageFlood(const std::string& netns, const std::string& address, std::uint16_t port);
    ~GarbageFlood();
    GarbageFlood(const GarbageFlood&) = delete;
    GarbageFlood& operator=(const GarbageFlood&) = delete;
    // Still sending: neither stopped nor past its 30 seconds.
    bool running() const { return running_; }
    int sent() const { return sent_; }

  private:
    std::atomic<bool> stop_{false};
    std::atomic<bool> running_{true};
    std::atomic<int> sent_{0};
    std::thread thread_;
};

// Moves the calling thread into a network namespace until the object goes. Sockets created
// meanwhile stay in that namespace for their whole life.
class InNamespace {
  public:
    explicit InNamespace(const std::string& name);
    ~InNamespace();
    InNamespace(const InNamespace&) = delete;
    InNamespace& operator=(const InNamespace&) = delete;
    bool ok() const { return entered_; }

  private:
    int home_ = -1;
    bool entered_ = false;
};

}  // namespace nvtest
