// The state that one simulated printer's services share: its conditions (paper out, a jam, an
// open door, ...), which change on a schedule and on command, what follows from them (whether
// it reads jobs, what its agent reports), and the counters the tests look at.
//
// The services read it on the simulator's loop thread; commands (the control FIFO, a test's
// in-process fake) may come from any thread: the schedule is fixed at the start and every
// other field is atomic, so nothing here blocks.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "snmp/printer_mib.h"

namespace nvprinter {

using Clock = std::chrono::steady_clock;

// What can be set or scheduled: a condition of hrPrinterDetectedErrorState, or warming up
// (hrPrinterStatus warmup, not a condition of its own).
struct StateName {
    snmp::PrinterConditions conditions = 0;
    bool warmup = false;
};
// "noPaper", "jammed", ..., or "warmup"; nullopt for any other name.
std::optional<StateName> ParseStateName(std::string_view name);

// One window of the schedule: from `fromMs` after the start until `toMs` (nullopt: for good).
struct ScheduledState {
    StateName state;
    std::uint32_t fromMs = 0;
    std::optional<std::uint32_t> toMs;
};
// "NAME", "NAME@FROM" or "NAME@FROM-TO" (milliseconds, FROM < TO); nullopt otherwise.
std::optional<ScheduledState> ParseScheduledState(std::string_view text);

// The conditions during which a printer is down (hrDeviceStatus down): it stops reading jobs
// until they end. The others (lowPaper, lowToner, serviceRequested, outputNearFull,
// inputTrayEmpty, overduePreventMaint) are warnings: it prints on.
extern const snmp::PrinterConditions kCriticalConditions;

// What the agent reports at one moment.
struct ReportedState {
    snmp::PrinterConditions conditions = 0;
    std::int32_t deviceStatus = snmp::printer_mib::kDeviceRunning;
    std::int32_t printerStatus = snmp::printer_mib::kPrinterIdle;
};

class PrinterState {
  public:
    explicit PrinterState(std::vector<ScheduledState> schedule = {},
                          Clock::time_point start = Clock::now());

    // Commands: set or clear what the name stands for (a scheduled window lasts whatever the
    // commands say), or clear everything that commands set.
    void Set(const StateName& state);
    void Clear(const StateName& state);
    void ClearAll();

    snmp::PrinterConditions Conditions(Clock::time_point now = Clock::now()) const;
    bool WarmingUp(Clock::time_point now = Clock::now()) const;
    // A critical condition lasts: the printer reads no job.
    bool Down(Clock::time_point now = Clock::now()) const;
    ReportedState Report(Clock::time_point now = Clock::now()) const;

    // The next moment at which the schedule changes something, if any is left.
    std::optional<Clock::time_point> NextChange(Clock::time_point now = Clock::now()) const;
    // A change of the commanded state since the last call (the loop re-reads the state then).
    bool TakeCommandedChange() { return commandedChange_.exchange(false); }

    // Jobs open now, from their first byte on (hrPrinterStatus printing while one is).
    void JobStarted() { ++activeJobs_; }
    void JobEnded() { --activeJobs_; }
    // Jobs received whole, none of them empty: the page counter (prtMarkerLifeCount) goes up
    // by one per job.
    void JobPrinted() { ++printedJobs_; }
    std::uint32_t PrintedJobs() const { return printedJobs_; }
    // SNMP datagrams received, answered or not.
    void DatagramReceived() { ++datagrams_; }
    std::uint32_t Datagrams() const { return datagrams_; }

    // "noPaper, doorOpen" or "ready": a line for the log.
    std::string Describe(Clock::time_point now = Clock::now()) const;

  private:
    StateName Scheduled(Clock::time_point now) const;

    const std::vector<ScheduledState> schedule_;
    const Clock::time_point start_;
    std::atomic<snmp::PrinterConditions> commandedConditions_{0};
    std::atomic<bool> commandedWarmup_{false};
    std::atomic<bool> commandedChange_{false};
    std::atomic<int> activeJobs_{0};
    std::atomic<std::uint32_t> printedJobs_{0};
    std::atomic<std::uint32_t> datagrams_{0};
};

}  // namespace nvprinter
