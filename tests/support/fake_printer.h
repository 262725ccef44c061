// A raw TCP printer inside the test process: it accepts connections on a loopback address and
// keeps each connection's bytes as one job, with the faults and habits a real printer shows
// (it stops reading, resets, talks back, keeps the connection open after the job).
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace nvtest {

class FakeRawPrinter {
  public:
    struct Options {
        std::string address = "127.0.0.1";
        uint16_t port = 0;          // 0: any free port
        long long stallAfter = -1;  // stop reading after this many bytes of a job
        long long resetAfter = -1;  // reset the connection after this many bytes
        bool listen = true;         // false: bound but not listening (connections refused)
        int receiveBuffer = 0;      // SO_RCVBUF of the connections (0: the system's)
        int readPauseMs = 0;        // a slow printer: 16 kB per read, then this pause
        std::string status;         // sent back as soon as a connection is accepted
        bool holdOpen = false;      // after a job's end, keep its connection open until destroyed
    };

    explicit FakeRawPrinter(Options options);
    FakeRawPrinter() : FakeRawPrinter(Options{}) {}
    ~FakeRawPrinter();
    FakeRawPrinter(const FakeRawPrinter&) = delete;
    FakeRawPrinter& operator=(const FakeRawPrinter&) = delete;

    uint16_t port() const { return port_; }
    const std::string& address() const { return options_.address; }
    // Resumes reading after a stall.
    void Resume();
    // Waits until `count` jobs have ended (the sender closed its side, or reset, or the
    // printer did); false on time-out.
    bool WaitForJobs(size_t count, int timeoutMs = 10000);
    std::vector<std::string> Jobs();
    size_t Connections() const { return connections_.load(); }

  private:
    void Accept();
    void Serve(int fd);

    Options options_;
    int listener_ = -1;
    uint16_t port_ = 0;
    std::atomic<bool> stopping_{false};
    std::atomic<size_t> connections_{0};
    std::thread acceptor_;
    std::vector<std::thread> servers_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::string> jobs_;
    bool stalled_ = false;
    bool resumed_ = false;
};

// A loopback address of its own for a test that needs a fixed port (such as 9100), so that
// tests running at the same time do not collide: 127.x.y.z from a counter and the process id.
std::string UniqueLoopbackAddress();

}  // namespace nvtest
