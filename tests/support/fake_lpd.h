// A line printer daemon inside the test process (RFC 1179, receive-job only). It records the
// whole conversation of each job and checks it strictly: source port, command order, announced
// sizes, the terminating zero bytes. Faults: a negative acknowledgement or a close at a chosen
// step, or no answer at all. It is the simulator's LPD (nvprinter lpd) on a thread of the test,
// with the same checks and faults.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "tools/nvprinter/lpd_service.h"

namespace nvtest {

class InProcessPrinter;

class FakeLpd {
  public:
    // The steps of a job, each answered by one acknowledgement.
    enum Step {
        kReceiveJob = 1,      // 0x02 queue LF
        kControlCommand = 2,  // 0x02 count SP cfA... LF
        kControlFile = 3,     // the control file and its 0x00
        kDataCommand = 4,     // 0x03 count SP dfA... LF
        kDataFile = 5,        // the data and its 0x00
    };
    struct Options {
        std::string address = "127.0.0.1";
        int nakAt = 0;     // answer this step with 0x01
        int closeAt = 0;   // close the connection instead of answering this step
        int silentAt = 0;  // never answer this step (the connection stays open)
    };
    // sourcePort, queue, controlName, controlSize, control, dataName, dataSize, data, errors
    // (every departure from the protocol), complete (the data file was received and
    // acknowledged).
    using Job = nvprinter::LpdJob;

    explicit FakeLpd(Options options);
    FakeLpd() : FakeLpd(Options{}) {}
    ~FakeLpd();
    FakeLpd(const FakeLpd&) = delete;
    FakeLpd& operator=(const FakeLpd&) = delete;

    uint16_t port() const { return port_; }
    const std::string& address() const { return address_; }
    bool WaitForJobs(size_t count, int timeoutMs = 10000);
    std::vector<Job> Jobs();

  private:
    std::string address_;
    std::unique_ptr<InProcessPrinter> printer_;
    uint16_t port_ = 0;
};

// Binding to the ports 721..731 needs root (or CAP_NET_BIND_SERVICE).
bool CanBindReservedPorts();

// Holds every port of 721..731 on all addresses while it lives.
class ReservedPortsTaken {
  public:
    ReservedPortsTaken();
    ~ReservedPortsTaken();
    ReservedPortsTaken(const ReservedPortsTaken&) = delete;
    ReservedPortsTaken& operator=(const ReservedPortsTaken&) = delete;

  private:
    std::vector<int> sockets_;
};

}  // namespace nvtest
