// A raw TCP printer inside the test process: it accepts connections on a loopback address and
// keeps each connection's bytes as one job, with the faults and habits a real printer shows
// (it stops reading, resets, talks back, keeps the connection open after the job). It is the
// simulator's raw port (nvprinter raw) on a thread of the test, so the fakes and the tool share
// one vocabulary of faults.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace nvtest {

class InProcessPrinter;

class FakeRawPrinter {
  public:
    struct Options {
        std::string address = "127.0.0.1";
        uint16_t port = 0;          // 0: any free port
        long long stallAfter = -1;  // stop reading after this many bytes of a job (--stall-after)
        long long resetAfter = -1;  // reset the connection after this many bytes (--reset-after)
        bool listen = true;         // false: bound but not listening (--refuse)
        int receiveBuffer = 0;      // SO_RCVBUF of the connections, 0: the system's (--rcvbuf)
        int readPauseMs = 0;        // a slow printer: 16 kB per this pause (--slow, --read-size)
        std::string status;         // sent back as soon as a connection is accepted
        bool holdOpen = false;      // after a job's end, keep its connection open (--hold-open)
    };

    explicit FakeRawPrinter(Options options);
    FakeRawPrinter() : FakeRawPrinter(Options{}) {}
    ~FakeRawPrinter();
    FakeRawPrinter(const FakeRawPrinter&) = delete;
    FakeRawPrinter& operator=(const FakeRawPrinter&) = delete;

    uint16_t port() const { return port_; }
    const std::string& address() const { return address_; }
    // Resumes reading after a stall.
    void Resume();
    // Waits until `count` jobs have ended (the sender closed its side, or reset, or the
    // printer did); false on time-out.
    bool WaitForJobs(size_t count, int timeoutMs = 10000);
    std::vector<std::string> Jobs();
    size_t Connections() const;

  private:
    std::string address_;
    std::unique_ptr<InProcessPrinter> printer_;
    uint16_t port_ = 0;
};

// A loopback address of its own for a test that needs a fixed port (such as 9100), so that
// tests running at the same time do not collide: 127.x.y.z from a counter and the process id.
std::string UniqueLoopbackAddress();

}  // namespace nvtest
