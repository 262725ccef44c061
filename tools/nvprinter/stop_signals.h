// SIGTERM and SIGINT as a clean stop request for the long-running modes.
#pragma once

#include <signal.h>

namespace nvprinter {

// While it lives, SIGTERM and SIGINT are blocked except inside a wait that passes waitMask()
// (ppoll), so a stop request can never slip in between checking stopRequested() and waiting.
class StopSignals {
  public:
    StopSignals();
    ~StopSignals();
    StopSignals(const StopSignals&) = delete;
    StopSignals& operator=(const StopSignals&) = delete;

    bool stopRequested() const;
    // The signal mask to wait with: the caller's mask, the stop signals let through.
    const sigset_t* waitMask() const { return &waitMask_; }

  private:
    sigset_t savedMask_;
    sigset_t waitMask_;
    struct sigaction savedTerm_;
    struct sigaction savedInt_;
};

}  // namespace nvprinter
