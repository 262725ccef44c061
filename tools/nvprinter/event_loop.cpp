#include "tools/nvprinter/event_loop.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>

namespace nvprinter {

Loop::Loop(const PrinterState* state) : state_(state) {
    wake_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
}

Loop::~Loop() {
    if (wake_ >= 0) {
        close(wake_);
    }
}

void Loop::Wake() {
    const std::uint64_t one = 1;
    if (write(wake_, &one, sizeof one) < 0) {
        // The counter is full: a wake is pending anyway.
    }
}

void Loop::Stop() {
    stop_ = true;
    Wake();
}

bool Loop::Run(const StopSignals* signals) {
    bool ok = true;
    while (!stop_ && !(signals != nullptr && signals->stopRequested()) &&
           std::none_of(services_.begin(), services_.end(),
                        [](const Service* s) { return s->Done(); })) {
        if (!Round(signals)) {
            ok = false;
            break;
        }
    }
    const int error = errno;
    for (Service* service : services_) {
        service->Finish();
    }
    errno = error;
    return ok;
}

// One wait and what it found. The wake descriptor comes first, then each service's entries.
bool Loop::Round(const StopSignals* signals) {
    std::vector<pollfd> fds = {pollfd{wake_, POLLIN, 0}};
    std::vector<std::size_t> starts;
    std::optional<Clock::time_point> deadline = state_->NextChange();
    for (Service* service : services_) {
        starts.push_back(fds.size());
        service->Prepare(&fds, &deadline);
    }
    timespec timeout{};
    if (deadline) {
        const auto left = std::max(Clock::duration::zero(), *deadline - Clock::now());
        const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(left).count();
        timeout.tv_sec = static_cast<time_t>(ns / 1000000000);
        timeout.tv_nsec = static_cast<long>(ns % 1000000000);
    }
    const int ready = ppoll(fds.data(), fds.size(), deadline ? &timeout : nullptr,
                            signals != nullptr ? signals->waitMask() : nullptr);
    if (ready < 0) {
        return errno == EINTR;
    }
    if (fds[0].revents & POLLIN) {
        std::uint64_t count;
        if (read(wake_, &count, sizeof count) < 0) {
            // Drained by an earlier round.
        }
    }
    for (std::size_t i = 0; i < services_.size(); ++i) {
        const std::size_t end = i + 1 < starts.size() ? starts[i + 1] : fds.size();
        services_[i]->Dispatch(std::span<const pollfd>(fds.data() + starts[i], end - starts[i]));
    }
    return true;
}

}  // namespace nvprinter
