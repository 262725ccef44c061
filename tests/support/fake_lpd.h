// A line printer daemon inside the test process (RFC 1179, receive-job only). It records the
// whole conversation of each job and checks it strictly: source port, command order, announced
// sizes, the terminating zero bytes. Faults: a negative acknowledgement or a close at a chosen
// step, or no answer at all.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace nvtest {

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
    struct Job {
        uint16_t sourcePort = 0;
        std::string queue;
        std::string controlName;
        long long controlSize = -1;
        std::string control;
        std::string dataName;
        long long dataSize = -1;
        std::string data;
        std::vector<std::string> errors;  // every departure from the protocol
        bool complete = false;            // the data file was received and acknowledged
    };

    explicit FakeLpd(Options options);
    FakeLpd() : FakeLpd(Options{}) {}
    ~FakeLpd();
    FakeLpd(const FakeLpd&) = delete;
    FakeLpd& operator=(const FakeLpd&) = delete;

    uint16_t port() const { return port_; }
    const std::string& address() const { return options_.address; }
    bool WaitForJobs(size_t count, int timeoutMs = 10000);
    std::vector<Job> Jobs();

  private:
    void Accept();
    void Serve(int fd, uint16_t sourcePort);
    bool Answer(int fd, int step, Job* job);

    Options options_;
    int listener_ = -1;
    uint16_t port_ = 0;
    bool stopping_ = false;
    std::thread acceptor_;
    std::vector<std::thread> servers_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<Job> jobs_;
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
