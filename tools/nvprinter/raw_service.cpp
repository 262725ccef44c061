#include "tools/nvprinter/raw_service.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "tools/nvprinter/tcp_listener.h"

namespace nvprinter {

namespace {

// Bytes read at a time when nothing limits a read.
constexpr long long kDefaultReadSize = 1 << 20;
// A connection that may read again soon (a pace, the end of a pause) is looked at this often.
constexpr auto kRecheck = std::chrono::milliseconds(20);

}  // namespace

struct RawService::Connection {
    int fd = -1;
    int file = -1;
    int number = 0;
    std::string peer;
    std::string path;
    std::string data;  // kept for the observer
    long long bytes = 0;
    long long resetAt = -1;   // this job's reset count (--reset-after or --reset-random)
    bool paused = false;      // --pause-after has taken its pause
    bool halfClosed = false;  // --half-close-after has closed the sending side
    bool ended = false;       // --hold-open: the job has ended, the connection stays
    bool printing = false;    // bytes came: the printer counts it as printing
    Clock::time_point pauseEnds;
    Clock::time_point started;
};

std::string PjlStatusText(long long bytes) {
    static const char kStatus[] =
        "@PJL USTATUS DEVICE CODE=10001 DISPLAY=\"READY\" ONLINE=TRUE\r\n";
    std::string text;
    while (static_cast<long long>(text.size()) < bytes) {
        text += kStatus;
    }
    text.resize(static_cast<size_t>(std::max(0LL, bytes)));
    return text;
}

RawService::RawService(const RawConfig& config, PrinterState* state, RawJobObserver observer)
    : config_(config),
      state_(state),
      observer_(std::move(observer)),
      buffer_(kDefaultReadSize),
      random_(static_cast<std::uint64_t>(config.seed)) {}

RawService::~RawService() {
    Finish();
    if (listener_ >= 0) {
        close(listener_);
    }
}

bool RawService::Open(const char* program) {
    program_ = program;
    std::string why;
    if (!config_.out.empty() && !MakeOutputDirectory(config_.out, &why)) {
        fprintf(stderr, "%s: cannot create %s: %s\n", program, config_.out.c_str(), why.c_str());
        return false;
    }
    listener_ = OpenListener(config_.listen, !config_.refuse, &bound_,
                             static_cast<int>(config_.receiveBuffer));
    if (listener_ < 0) {
        const int error = errno;
        fprintf(stderr, "%s: cannot listen on %s: %s\n", program,
                FormatEndpoint(config_.listen).c_str(), strerror(error));
        return false;
    }
    return true;
}

bool RawService::Done() const {
    return config_.once && jobs_ > 0 && connections_.empty();
}

// The number of bytes this connection may read now (0: none: a fault, the pace, or the
// printer is down).
long long RawService::Allowance(const Connection& c) const {
    if (c.ended || state_->Down() || (c.paused && Clock::now() < c.pauseEnds)) {
        return 0;
    }
    long long limit = config_.readSize > 0 ? config_.readSize : kDefaultReadSize;
    const long long stallAt = resumed_ ? -1 : config_.stallAfter;
    const long long pauseAt = c.paused ? -1 : config_.pauseAfter;
    for (long long fault :
         {stallAt, pauseAt, c.resetAt, config_.closeEarly, config_.halfCloseAfter}) {
        if (fault >= 0) {
            limit = std::min(limit, fault - c.bytes);
        }
    }
    if (config_.slow > 0) {
        const double seconds = std::chrono::duration<double>(Clock::now() - c.started).count();
        const long long budget =
            static_cast<long long>(seconds * static_cast<double>(config_.slow)) + 1;
        limit = std::min(limit, budget - c.bytes);
    }
    return std::max(0LL, limit);
}

void RawService::Prepare(std::vector<pollfd>* fds, std::optional<Clock::time_point>* deadline) {
    // A socket that does not listen reports a hang-up at once: a refusing printer leaves it
    // out of the wait (poll skips a negative descriptor), or it would spin.
    fds->push_back(pollfd{config_.refuse ? -1 : listener_, POLLIN, 0});
    for (auto& c : connections_) {
        const bool reading = Allowance(*c) > 0;
        fds->push_back(pollfd{c->fd, static_cast<short>(reading ? POLLIN : 0), 0});
        if (!reading && !c->ended && (config_.slow > 0 || c->paused)) {
            const Clock::time_point soon = Clock::now() + kRecheck;
            if (!*deadline || soon < **deadline) {
                *deadline = soon;
            }
        }
    }
}

void RawService::Dispatch(std::span<const pollfd> ready) {
    if (ready[0].revents & POLLIN) {
        Accept();
    }
    for (size_t i = 1; i < ready.size(); ++i) {
        if (ready[i].revents != 0) {
            Read(connections_[i - 1].get(), ready[i].revents);
        }
    }
    ApplyFaults();
    ReapClosed(&connections_);
}

void RawService::Accept() {
    for (;;) {
        sockaddr_in peer{};
        socklen_t length = sizeof peer;
        const int fd = accept4(listener_, reinterpret_cast<sockaddr*>(&peer), &length,
                               SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (fd < 0) {
            return;
        }
        ++accepted_;
        auto c = std::make_unique<Connection>();
        c->fd = fd;
        c->number = ++jobs_;
        c->peer = FormatPeer(peer);
        c->started = Clock::now();
        c->resetAt = config_.resetRandom > 0 ? std::uniform_int_distribution<long long>(
                                                   0, config_.resetRandom - 1)(random_)
                                             : config_.resetAfter;
        if (!config_.status.empty()) {
            // The new socket's buffer takes it at once; a sender already gone: no matter.
            send(fd, config_.status.data(), config_.status.size(), MSG_NOSIGNAL);
        }
        if (!config_.out.empty()) {
            char name[32];
            snprintf(name, sizeof name, "/job-%04d.prn", c->number);
            c->path = config_.out + name;
            c->file = open(c->path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        }
        connections_.push_back(std::move(c));
    }
}

void RawService::Read(Connection* c, short events) {
    const long long allowed = Allowance(*c);
    if (allowed == 0) {
        if (events & (POLLHUP | POLLERR)) {
            // While the printer was not reading: a reset (an abandoned job) or a close.
            int error = 0;
            socklen_t length = sizeof error;
            getsockopt(c->fd, SOL_SOCKET, SO_ERROR, &error, &length);
            EndOfJob(c, error == ECONNRESET ? "reset by the sender" : "closed by the sender");
            Close(c);
        }
        return;
    }
    const ssize_t n = recv(c->fd, buffer_.data(), std::min<size_t>(buffer_.size(), allowed), 0);
    if (n > 0) {
        if (c->file >= 0 && write(c->file, buffer_.data(), static_cast<size_t>(n)) != n) {
            fprintf(stderr, "%s: job %d: cannot write %s\n", program_, c->number, c->path.c_str());
        }
        if (observer_) {
            c->data.append(buffer_.data(), static_cast<size_t>(n));
        }
        c->bytes += n;
        if (!c->printing) {
            c->printing = true;
            state_->JobStarted();
        }
    } else if (n == 0) {
        if (c->printing) {
            state_->JobPrinted();
        }
        EndOfJob(c, "done");
        if (!config_.holdOpen) {
            Close(c);
        }
    } else if (errno != EAGAIN && errno != EINTR) {
        EndOfJob(c, strerror(errno));
        Close(c);
    }
}

void RawService::ApplyFaults() {
    for (auto& c : connections_) {
        if (c->fd < 0 || c->ended) {
            continue;
        }
        if (config_.pauseAfter >= 0 && !c->paused && c->bytes >= config_.pauseAfter) {
            c->paused = true;
            c->pauseEnds = Clock::now() + std::chrono::milliseconds(config_.pauseMs);
        }
        if (c->resetAt >= 0 && c->bytes >= c->resetAt) {
            linger reset{1, 0};
            setsockopt(c->fd, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
            EndOfJob(c.get(), "reset by the printer");
            Close(c.get());
        } else if (config_.closeEarly >= 0 && c->bytes >= config_.closeEarly) {
            EndOfJob(c.get(), "closed early by the printer");
            Close(c.get());
        } else if (config_.halfCloseAfter >= 0 && c->bytes >= config_.halfCloseAfter &&
                   !c->halfClosed) {
            shutdown(c->fd, SHUT_WR);  // the connection stays until the sender ends it
            c->halfClosed = true;
        }
    }
}

// The job is over (its connection may stay, --hold-open): its line, its file, its record.
void RawService::EndOfJob(Connection* c, const char* how) {
    if (c->ended) {
        return;
    }
    c->ended = true;
    if (c->printing) {
        state_->JobEnded();
    }
    if (c->file >= 0) {
        close(c->file);
        c->file = -1;
    }
    if (!config_.quiet) {
        fprintf(stderr, "job %d: %lld bytes from %s (%s)%s%s\n", c->number, c->bytes,
                c->peer.c_str(), how, c->path.empty() ? "" : " -> ", c->path.c_str());
    }
    if (observer_) {
        observer_(RawJob{c->number, std::move(c->data), how});
    }
}

void RawService::Close(Connection* c) {
    if (c->fd >= 0) {
        close(c->fd);
        c->fd = -1;
    }
}

void RawService::Finish() {
    for (auto& c : connections_) {
        EndOfJob(c.get(), "stopped");
        Close(c.get());
    }
    connections_.clear();
}

}  // namespace nvprinter
