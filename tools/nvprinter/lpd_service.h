// A printer's line printer daemon (RFC 1179, port 515), receiving jobs only. Each connection
// must carry exactly one job in the order a print monitor sends it:
//
//   step 1  0x02 queue LF                        answered 0x00
//   step 2  0x02 count SP cfA<num><host> LF      answered 0x00
//   step 3  the control file's count bytes, 0x00 answered 0x00
//   step 4  0x03 count SP dfA<num><host> LF      answered 0x00
//   step 5  the data file's count bytes, 0x00    answered 0x00
//
// (an empty data file, count 0, ends the job at step 4: no bytes and no 0x00 follow). Every
// departure from the protocol is a violation: it is reported on stderr, answered with 0x01,
// and the job's summary line carries a non-zero status. Fault options make the printer itself
// misbehave at a chosen step; while the printer is down (PrinterState::Down) it reads nothing.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "tools/nvprinter/event_loop.h"
#include "tools/nvprinter/options.h"

namespace nvprinter {

// The steps of a job, each answered by one byte.
enum LpdStep {
    kStepReceiveJob = 1,
    kStepControlCommand = 2,
    kStepControlFile = 3,
    kStepDataCommand = 4,
    kStepDataFile = 5,
};
constexpr int kLpdStepCount = 5;

struct LpdConfig {
    Endpoint listen;
    std::string out;  // directory for job-NNNN.cf and .df; empty: no files
    bool anySourcePort = false;
    bool once = false;
    bool quiet = false;  // no summary lines; violations are still reported
    // Faults at a step (0: none).
    int nakAt = 0;       // answer with 0x01
    int closeAt = 0;     // close instead of answering
    int silentAt = 0;    // never answer; read on until the client gives up
    long long slow = 0;  // bytes per second of each connection; 0: as fast as it comes
};

// A job as its connection ended, for a caller that keeps jobs in memory.
struct LpdJob {
    std::uint16_t sourcePort = 0;
    std::string queue;
    std::string controlName;
    long long controlSize = -1;  // as announced; -1: not announced
    std::string control;         // what arrived of it
    std::string dataName;
    long long dataSize = -1;
    std::string data;
    std::vector<std::string> errors;  // every departure from the protocol
    bool complete = false;            // the data file was received and acknowledged
};
using LpdJobObserver = std::function<void(LpdJob)>;

class LpdService : public Service {
  public:
    // With an observer both files of every job are kept in memory and handed to it when the
    // job's connection ends.
    LpdService(const LpdConfig& config, PrinterState* state, LpdJobObserver observer = {});
    ~LpdService() override;

    // Makes the output directory, binds and listens; false after a line on stderr saying why.
    bool Open(const char* program);
    const Endpoint& bound() const { return bound_; }

    void Prepare(std::vector<pollfd>* fds, std::optional<Clock::time_point>* deadline) override;
    void Dispatch(std::span<const pollfd> ready) override;
    void Finish() override;
    bool Done() const override;

  private:
    struct Connection;
    struct JobFile;
    enum class Status;

    long long Allowance(const Connection& c) const;
    void Accept();
    void Read(Connection* c, short events);
    void Consume(Connection* c, const char* bytes, std::size_t size);
    bool ConsumeLine(Connection* c, const char** bytes, std::size_t* size);
    void ConsumeFile(Connection* c, const char** bytes, std::size_t* size);
    bool ConsumeTerminator(Connection* c, const char** bytes, std::size_t* size);
    void OnReceiveJob(Connection* c, const std::string& line);
    void OnSubcommand(Connection* c, const std::string& line);
    bool AcceptFile(Connection* c, bool isControl, const std::string& digits,
                    const std::string& name);
    void OnFileEnd(Connection* c);
    bool Answer(Connection* c, int step);
    void Violation(Connection* c, const std::string& what);
    void Refuse(Connection* c);
    void End(Connection* c, Status status, const std::string& reason);
    void EndOfConnection(Connection* c, const std::string& how);
    void OpenCopy(Connection* c, const char* extension);
    void Store(Connection* c, const char* bytes, std::size_t size);
    void CloseCopy(Connection* c);
    void Close(Connection* c, const char* how);
    void Summary(const Connection& c, Status status, const char* how) const;
    void Report(Connection* c);

    const LpdConfig config_;
    PrinterState* state_;
    LpdJobObserver observer_;
    const char* program_ = "nvprinter lpd";
    int listener_ = -1;
    Endpoint bound_;
    int jobs_ = 0;
    std::vector<std::unique_ptr<Connection>> connections_;
    std::vector<char> buffer_;
};

}  // namespace nvprinter
