// Conditions on command: a FIFO that the simulator makes and reads, one command a line.
//
//   set NAME      the condition (noPaper, jammed, doorOpen, ...) or warmup begins
//   clear NAME    it ends (a scheduled window lasts whatever the commands say)
//   clear         every condition that commands set ends
//   report        a line on stderr: the state, the SNMP datagrams received, the jobs printed
//
// `echo set noPaper > FIFO` from a script or a test. Each command's outcome is a line on
// stderr ("state: noPaper"; with --quiet only the report); a bad command is reported there
// and changes nothing.
#pragma once

#include <string>

#include "tools/nvprinter/event_loop.h"

namespace nvprinter {

class ControlFifo : public Service {
  public:
    ControlFifo(std::string path, PrinterState* state, bool quiet);
    ~ControlFifo() override;

    // Makes the FIFO (mode 0600; an existing FIFO is taken as it is, anything else at the path
    // is refused) and opens it; false after a line on stderr saying why.
    bool Open(const char* program);

    void Prepare(std::vector<pollfd>* fds, std::optional<Clock::time_point>* deadline) override;
    void Dispatch(std::span<const pollfd> ready) override;
    // Removes the FIFO it made.
    void Finish() override;

    // Applies one command line: true with the line to log, false with the reason it is bad.
    static bool Apply(const std::string& line, PrinterState* state, std::string* reply);

  private:
    const std::string path_;
    PrinterState* state_;
    const bool quiet_;
    const char* program_ = "nvprinter";
    int fd_ = -1;
    bool made_ = false;
    std::string pending_;  // a command line not yet ended by LF
};

}  // namespace nvprinter
