#include "tools/nvprinter/stop_signals.h"

namespace nvprinter {

namespace {

// Set from the handler; signals are process-wide, so the flag is too.
volatile sig_atomic_t g_stop = 0;

void OnStopSignal(int) {
    g_stop = 1;
}

}  // namespace

StopSignals::StopSignals() {
    g_stop = 0;
    sigset_t stopSet;
    sigemptyset(&stopSet);
    sigaddset(&stopSet, SIGTERM);
    sigaddset(&stopSet, SIGINT);
    sigprocmask(SIG_BLOCK, &stopSet, &savedMask_);
    waitMask_ = savedMask_;
    sigdelset(&waitMask_, SIGTERM);
    sigdelset(&waitMask_, SIGINT);

    // No SA_RESTART: the wait must return with EINTR so the loop sees the request.
    struct sigaction action = {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGTERM, &action, &savedTerm_);
    sigaction(SIGINT, &action, &savedInt_);
}

StopSignals::~StopSignals() {
    sigaction(SIGTERM, &savedTerm_, nullptr);
    sigaction(SIGINT, &savedInt_, nullptr);
    sigprocmask(SIG_SETMASK, &savedMask_, nullptr);
}

// A wait that returns with descriptors ready restores the blocking mask without letting a
// pending stop signal in, so a loop that is never idle would never see one: a stop signal still
// pending is taken here instead.
bool StopSignals::stopRequested() const {
    if (g_stop == 0) {
        sigset_t stopSet;
        sigemptyset(&stopSet);
        sigaddset(&stopSet, SIGTERM);
        sigaddset(&stopSet, SIGINT);
        const timespec now = {0, 0};
        if (sigtimedwait(&stopSet, nullptr, &now) > 0) {
            g_stop = 1;
        }
    }
    return g_stop != 0;
}

}  // namespace nvprinter
