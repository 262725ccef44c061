// A printer's raw TCP port (9100-style). Each connection is one job, with the faults a real
// printer shows on demand: refusing connections, stalling, pausing, resetting (after a fixed or
// a random count), reading slowly, closing early, keeping the connection open after the job,
// and talking back (status text sent when a job starts). While the printer is down (paper
// out, a jam, an open door: PrinterState::Down) it reads nothing, as a real printer does.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "tools/nvprinter/event_loop.h"
#include "tools/nvprinter/options.h"

namespace nvprinter {

struct RawConfig {
    Endpoint listen;
    std::string out;  // directory for job-NNNN.prn; empty: no files
    bool once = false;
    bool quiet = false;
    // Faults. Counts are bytes of one job; -1 is off.
    bool refuse = false;            // hold the port without listening
    long long stallAfter = -1;      // stop reading for good (until Resume)
    long long pauseAfter = -1;      // stop reading for pauseMs, then read on
    long long pauseMs = 3000;       //
    long long resetAfter = -1;      // reset (RST)
    long long resetRandom = 0;      // reset after a random count of 0..resetRandom-1
    long long seed = 1;             // of resetRandom
    long long closeEarly = -1;      // an orderly close by the printer
    long long halfCloseAfter = -1;  // close the sending side (FIN) and read no more
    long long slow = 0;             // bytes per second of each job; 0: as fast as it comes
    long long receiveBuffer = 0;    // SO_RCVBUF of each connection; 0: the system's
    long long readSize = 0;         // bytes per read at most; 0: 1 MiB
    bool holdOpen = false;          // after the sender's end, keep the connection open
    std::string status;             // sent back when a job starts
};

// A job as it ended, for a caller that keeps jobs in memory (the tests' in-process printer).
struct RawJob {
    int number = 0;
    std::string data;
    std::string how;  // "done", "reset by the printer", ...
};
using RawJobObserver = std::function<void(RawJob)>;

// The status text --status-on-connect N sends: a printer's PJL status line, repeated and cut
// to `bytes`.
std::string PjlStatusText(long long bytes);

class RawService : public Service {
  public:
    // With an observer every job's bytes are kept in memory and handed to it at the job's end.
    RawService(const RawConfig& config, PrinterState* state, RawJobObserver observer = {});
    ~RawService() override;

    // Binds (and listens); false after a line on stderr saying why.
    bool Open(const char* program);
    const Endpoint& bound() const { return bound_; }
    // From any thread: --stall-after holds no job from now on (wake the loop afterwards).
    void Resume() { resumed_ = true; }
    // Connections accepted so far.
    std::size_t Connections() const { return accepted_; }

    void Prepare(std::vector<pollfd>* fds, std::optional<Clock::time_point>* deadline) override;
    void Dispatch(std::span<const pollfd> ready) override;
    void Finish() override;
    bool Done() const override;

  private:
    struct Connection;
    long long Allowance(const Connection& c) const;
    void Accept();
    void Read(Connection* c, short events);
    void ApplyFaults();
    void EndOfJob(Connection* c, const char* how);
    void Close(Connection* c);

    const RawConfig config_;
    PrinterState* state_;
    RawJobObserver observer_;
    const char* program_ = "nvprinter raw";
    int listener_ = -1;
    Endpoint bound_;
    int jobs_ = 0;
    std::atomic<std::size_t> accepted_{0};
    std::atomic<bool> resumed_{false};
    std::vector<std::unique_ptr<Connection>> connections_;
    std::vector<char> buffer_;
    std::mt19937_64 random_;
};

}  // namespace nvprinter
