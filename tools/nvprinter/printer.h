// One simulated printer: the services a setup names (raw port, LPD, SNMP agent, control FIFO),
// one state they share and the loop that serves them. The nvprinter tool runs it on its main
// thread; the tests' in-process printers run it on a thread of their own.
#pragma once

#include <memory>

#include "tools/nvprinter/command_line.h"
#include "tools/nvprinter/control_fifo.h"
#include "tools/nvprinter/event_loop.h"

namespace nvprinter {

// Callers that keep the jobs in memory (the tests' printers) are handed each job at its end.
struct JobObservers {
    RawJobObserver raw;
    LpdJobObserver lpd;
};

class Printer {
  public:
    explicit Printer(const PrinterSetup& setup, JobObservers observers = {});
    ~Printer();
    Printer(const Printer&) = delete;
    Printer& operator=(const Printer&) = delete;

    // Opens every service of the setup; false after a line on stderr saying why. `program`
    // starts the messages ("nvprinter raw").
    bool Open(const char* program);
    // Serves until Stop(), a stop signal (when given) or --once is done; false when the wait
    // failed (errno set).
    bool Run(const StopSignals* signals) { return loop_.Run(signals); }
    // From any thread.
    void Stop() { loop_.Stop(); }
    void Wake() { loop_.Wake(); }

    PrinterState& state() { return state_; }
    // The services the setup names, null for the others.
    RawService* raw() { return raw_.get(); }
    LpdService* lpd() { return lpd_.get(); }
    SnmpService* snmp() { return snmp_.get(); }

  private:
    const PrinterSetup setup_;
    PrinterState state_;
    Loop loop_;
    std::unique_ptr<RawService> raw_;
    std::unique_ptr<LpdService> lpd_;
    std::unique_ptr<SnmpService> snmp_;
    std::unique_ptr<ControlFifo> control_;
};

}  // namespace nvprinter
