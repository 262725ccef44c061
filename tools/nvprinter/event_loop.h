// The one thread of a simulated printer: every service (raw port, LPD, SNMP agent, control
// FIFO) adds its descriptors to one ppoll() and handles what it reports, so a printer with
// fifty jobs open costs fifty sockets and nothing more, and all its services see one state.
#pragma once

#include <poll.h>

#include <atomic>
#include <optional>
#include <span>
#include <vector>

#include "tools/nvprinter/printer_state.h"
#include "tools/nvprinter/stop_signals.h"

namespace nvprinter {

class Service {
  public:
    virtual ~Service() = default;
    // Appends the descriptors to wait for; lowers *deadline when the service must run again by
    // then even if nothing arrives (a pace, the end of a pause).
    virtual void Prepare(std::vector<pollfd>* fds, std::optional<Clock::time_point>* deadline) = 0;
    // After the wait, with the entries it appended and their results.
    virtual void Dispatch(std::span<const pollfd> ready) = 0;
    // The printer stops: ends what is open.
    virtual void Finish() {}
    // The service has done all it was asked to (--once): the printer stops.
    virtual bool Done() const { return false; }
};

class Loop {
  public:
    // The loop also wakes when the state's schedule changes something, so that a printer
    // whose paper-out window ends reads on without waiting for a datagram or a byte.
    explicit Loop(const PrinterState* state);
    ~Loop();
    Loop(const Loop&) = delete;
    Loop& operator=(const Loop&) = delete;

    void Add(Service* service) { services_.push_back(service); }

    // Serves until Stop(), a stop signal (when `signals` is given) or a service that is done;
    // then finishes every service. False when the wait itself failed (errno set).
    bool Run(const StopSignals* signals);

    // From any thread: the wait returns at once (a command changed the state, a stall ends).
    void Wake();
    // From any thread: Run returns after the current round.
    void Stop();

  private:
    bool Round(const StopSignals* signals);

    const PrinterState* state_;
    std::vector<Service*> services_;
    int wake_ = -1;  // an eventfd
    std::atomic<bool> stop_{false};
};

}  // namespace nvprinter
