// The printer simulator's core (tools/nvprinter) inside the test process: one printer with the
// services a setup names (raw port, LPD, SNMP agent), served on a thread of its own, whose
// jobs the test reads from memory and whose conditions it changes while it runs. The fakes
// (fake_printer.h, fake_lpd.h) are this with one service; a test that needs the whole printer
// uses it directly.
#pragma once

#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "tools/nvprinter/printer.h"

namespace nvtest {

class InProcessPrinter {
  public:
    // Throws std::runtime_error when a service cannot be opened (a port taken).
    explicit InProcessPrinter(nvprinter::PrinterSetup setup);
    ~InProcessPrinter();
    InProcessPrinter(const InProcessPrinter&) = delete;
    InProcessPrinter& operator=(const InProcessPrinter&) = delete;

    // The ports bound (0 for a service the setup does not name).
    uint16_t rawPort() const;
    uint16_t lpdPort() const;
    uint16_t snmpPort() const;

    // Conditions by name, as the control FIFO takes them ("noPaper", "warmup"); false for an
    // unknown name.
    bool Set(const std::string& name);
    bool Clear(const std::string& name);
    // --stall-after holds no job from now on.
    void Resume();

    // Waits until `count` jobs have ended on the port; false on time-out.
    bool WaitForRawJobs(size_t count, int timeoutMs);
    bool WaitForLpdJobs(size_t count, int timeoutMs);
    std::vector<nvprinter::RawJob> RawJobs();
    std::vector<nvprinter::LpdJob> LpdJobs();
    size_t RawConnections() const;
    uint32_t Datagrams() const { return printer_.state().Datagrams(); }
    nvprinter::PrinterState& state() { return printer_.state(); }

  private:
    bool Change(const std::string& name, bool set);

    // The jobs come in on the printer's thread; the printer goes before them.
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<nvprinter::RawJob> rawJobs_;
    std::vector<nvprinter::LpdJob> lpdJobs_;
    mutable nvprinter::Printer printer_;
    std::thread thread_;
};

}  // namespace nvtest
