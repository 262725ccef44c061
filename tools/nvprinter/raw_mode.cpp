// nvprinter raw: a printer's raw TCP port (9100-style). Each connection is one job, stored as a
// file of its own, with the faults a real printer shows on demand: refusing connections,
// stalling, pausing, resetting (after a fixed or a random count), reading slowly, closing
// early, and talking back (status text sent when a job starts).
//
// One thread serves every connection with poll(), so fifty jobs at once cost fifty sockets and
// nothing more.
#include <arpa/inet.h>
#include <fcntl.h>
#include <getopt.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "tools/nvprinter/modes.h"
#include "tools/nvprinter/options.h"
#include "tools/nvprinter/stop_signals.h"
#include "tools/nvprinter/tcp_listener.h"

namespace nvprinter {

namespace {

using Clock = std::chrono::steady_clock;

const char kRawUsage[] =
    "Usage: nvprinter raw --listen ADDR:PORT (--out DIR | --discard) [options]\n"
    "\n"
    "A printer's raw TCP port: every connection is one job, stored as DIR/job-NNNN.prn.\n"
    "Prints 'listening on ADDR:PORT' on stdout once ready, one line per job on stderr, and\n"
    "stops cleanly on SIGTERM or SIGINT.\n"
    "\n"
    "  --listen ADDR:PORT   TCP address to listen on (port 0: any free port)\n"
    "  --out DIR            directory for the job files (created if missing)\n"
    "  --discard            count the bytes of each job but keep nothing\n"
    "  --once               stop after the first job\n"
    "  --quiet              no line per job\n"
    "\n"
    "Faults:\n"
    "  --refuse             hold the port without listening: connections are refused\n"
    "  --stall-after N      stop reading a job after N bytes, keeping the connection open\n"
    "  --pause-after N      stop reading a job after N bytes for a while, then read on\n"
    "  --pause-ms MS        how long --pause-after pauses (default 3000)\n"
    "  --reset-after N      reset the connection (RST) after N bytes\n"
    "  --reset-random MAX   reset each job after a random count of 0..MAX-1 bytes (a job\n"
    "                       shorter than its count arrives whole)\n"
    "  --seed N             seed of --reset-random (default 1: the same counts every run)\n"
    "  --close-early N      close the connection normally after N bytes\n"
    "  --slow BPS           read at most BPS bytes per second of each job\n"
    "  --status-on-connect N  send N bytes of status text back when a job starts\n"
    "  --rcvbuf BYTES       the receive buffer of each connection (a printer's few KB)\n"
    "  --read-size BYTES    read at most BYTES at a time\n"
    "  -h, --help           show this help\n";

struct RawOptions {
    Endpoint listen;
    bool haveListen = false;
    std::string out;
    bool discard = false;
    bool once = false;
    bool quiet = false;
    bool refuse = false;
    long long stallAfter = -1;
    long long pauseAfter = -1;
    long long pauseMs = 3000;
    long long resetAfter = -1;
    long long resetRandom = 0;
    long long seed = 1;
    long long closeEarly = -1;
    long long slow = 0;
    long long statusOnConnect = 0;
    long long receiveBuffer = 0;
    long long readSize = 0;
};

struct Connection {
    int fd = -1;
    int file = -1;
    int number = 0;
    std::string peer;
    std::string path;
    long long bytes = 0;
    long long resetAt = -1;  // this job's reset count (--reset-after or --reset-random)
    bool paused = false;     // --pause-after has taken its pause
    Clock::time_point pauseEnds;
    Clock::time_point started;
};

std::optional<long long> ParseCount(const char* text) {
    char* end = nullptr;
    errno = 0;
    long long value = strtoll(text, &end, 10);
    if (errno != 0 || end == text || *end != 0 || value < 0) {
        return std::nullopt;
    }
    return value;
}

// Status text sent back at most; the socket's buffer takes it at once.
constexpr long long kMaxStatusBytes = 4096;

// The numeric fault options, in the order of their option ids from kStall on.
long long* CountOption(RawOptions* o, int index) {
    long long* counts[] = {&o->stallAfter,      &o->pauseAfter,    &o->pauseMs,    &o->resetAfter,
                           &o->resetRandom,     &o->seed,          &o->closeEarly, &o->slow,
                           &o->statusOnConnect, &o->receiveBuffer, &o->readSize};
    return counts[index];
}

int ParseRawOptions(int argc, char** argv, RawOptions* o) {
    enum {
        kListen = 1000,
        kOut,
        kDiscard,
        kOnce,
        kQuiet,
        kRefuse,
        kStall,
        kPause,
        kPauseMs,
        kReset,
        kResetRandom,
        kSeed,
        kClose,
        kSlow,
        kStatus,
        kReceiveBuffer,
        kReadSize,
    };
    static const option kLongOptions[] = {
        {"listen", required_argument, nullptr, kListen},
        {"out", required_argument, nullptr, kOut},
        {"discard", no_argument, nullptr, kDiscard},
        {"once", no_argument, nullptr, kOnce},
        {"quiet", no_argument, nullptr, kQuiet},
        {"refuse", no_argument, nullptr, kRefuse},
        {"stall-after", required_argument, nullptr, kStall},
        {"pause-after", required_argument, nullptr, kPause},
        {"pause-ms", required_argument, nullptr, kPauseMs},
        {"reset-after", required_argument, nullptr, kReset},
        {"reset-random", required_argument, nullptr, kResetRandom},
        {"seed", required_argument, nullptr, kSeed},
        {"close-early", required_argument, nullptr, kClose},
        {"slow", required_argument, nullptr, kSlow},
        {"status-on-connect", required_argument, nullptr, kStatus},
        {"rcvbuf", required_argument, nullptr, kReceiveBuffer},
        {"read-size", required_argument, nullptr, kReadSize},
        {"help", no_argument, nullptr, 'h'},
        {nullptr, 0, nullptr, 0},
    };
    opterr = 0;
    optind = 1;
    int id;
    while ((id = getopt_long(argc, argv, ":h", kLongOptions, nullptr)) != -1) {
        std::optional<long long> count;
        switch (id) {
            case 'h':
                fputs(kRawUsage, stdout);
                return kExitOk;
            case kListen: {
                auto endpoint = ParseEndpoint(optarg);
                if (!endpoint) {
                    fprintf(stderr, "%s: bad --listen '%s' (ADDR:PORT)\n", argv[0], optarg);
                    return kExitUsage;
                }
                o->listen = *endpoint;
                o->haveListen = true;
                break;
            }
            case kOut:
                o->out = optarg;
                break;
            case kDiscard:
                o->discard = true;
                break;
            case kOnce:
                o->once = true;
                break;
            case kQuiet:
                o->quiet = true;
                break;
            case kRefuse:
                o->refuse = true;
                break;
            case kStall:
            case kPause:
            case kPauseMs:
            case kReset:
            case kResetRandom:
            case kSeed:
            case kClose:
            case kSlow:
            case kStatus:
            case kReceiveBuffer:
            case kReadSize:
                count = ParseCount(optarg);
                if (!count ||
                    ((id == kSlow || id == kResetRandom || id == kReadSize) && *count == 0) ||
                    (id == kReceiveBuffer && *count > (1 << 30)) ||
                    (id == kStatus && *count > kMaxStatusBytes)) {
                    fprintf(stderr, "%s: bad number '%s'\n", argv[0], optarg);
                    return kExitUsage;
                }
                *CountOption(o, id - kStall) = *count;
                break;
            default:
                fprintf(stderr, "%s: unknown or incomplete option '%s'\n", argv[0],
                        argv[optind - 1]);
                return kExitUsage;
        }
    }
    if (!o->haveListen || (o->out.empty() && !o->discard && !o->refuse)) {
        fprintf(stderr, "%s: --listen ADDR:PORT and --out DIR (or --discard) are needed\n",
                argv[0]);
        return kExitUsage;
    }
    return -1;
}

// The number of bytes this connection may read now (0: none, fault or pacing).
long long Allowance(const RawOptions& o, const Connection& c) {
    long long limit = o.readSize > 0 ? o.readSize : 1 << 20;
    if (c.paused && Clock::now() < c.pauseEnds) {
        return 0;
    }
    long long pauseAt = c.paused ? -1 : o.pauseAfter;
    for (long long fault : {o.stallAfter, pauseAt, c.resetAt, o.closeEarly}) {
        if (fault >= 0) {
            limit = std::min(limit, fault - c.bytes);
        }
    }
    if (o.slow > 0) {
        double seconds = std::chrono::duration<double>(Clock::now() - c.started).count();
        long long budget = static_cast<long long>(seconds * static_cast<double>(o.slow)) + 1;
        limit = std::min(limit, budget - c.bytes);
    }
    return std::max(0LL, limit);
}

class RawPrinter {
  public:
    explicit RawPrinter(const RawOptions& options) : o_(options) {}

    int Run(const char* program) {
        program_ = program;
        std::string why;
        if (!o_.out.empty() && !MakeOutputDirectory(o_.out, &why)) {
            fprintf(stderr, "%s: cannot create %s: %s\n", program, o_.out.c_str(), why.c_str());
            return kExitFailure;
        }
        if (!Open()) {
            return kExitFailure;
        }
        printf("listening on %s\n", FormatEndpoint(bound_).c_str());
        fflush(stdout);
        int result = Serve();
        for (auto& c : connections_) {
            Finish(c.get(), "stopped");
        }
        close(listener_);
        return result;
    }

  private:
    bool Open() {
        listener_ =
            OpenListener(o_.listen, !o_.refuse, &bound_, static_cast<int>(o_.receiveBuffer));
        if (listener_ < 0) {
            fprintf(stderr, "%s: cannot listen on %s: %s\n", program_,
                    FormatEndpoint(o_.listen).c_str(), strerror(errno));
            return false;
        }
        return true;
    }

    int Serve() {
        StopSignals stop;
        std::vector<char> buffer(1 << 20);
        while (!stop.stopRequested() && !(o_.once && jobs_ > 0 && connections_.empty())) {
            std::vector<pollfd> fds;
            // A socket that does not listen reports a hang-up at once: a refusing printer
            // leaves it out of the wait (poll skips a negative descriptor), or it would spin.
            fds.push_back(pollfd{o_.refuse ? -1 : listener_, POLLIN, 0});
            int waitMs = -1;
            for (auto& c : connections_) {
                bool reading = Allowance(o_, *c) > 0;
                fds.push_back(pollfd{c->fd, static_cast<short>(reading ? POLLIN : 0), 0});
                if (!reading && (o_.slow > 0 || c->paused)) {
                    waitMs = 20;  // the pace, or the end of a pause, allows more soon
                }
            }
            timespec timeout{0, static_cast<long>(waitMs) * 1000000L};
            if (ppoll(fds.data(), fds.size(), waitMs < 0 ? nullptr : &timeout, stop.waitMask()) <
                0) {
                if (errno == EINTR) {
                    continue;
                }
                fprintf(stderr, "%s: poll: %s\n", program_, strerror(errno));
                return kExitFailure;
            }
            if (fds[0].revents & POLLIN) {
                Accept();
            }
            for (size_t i = 1; i < fds.size(); ++i) {
                if (fds[i].revents != 0) {
                    Read(connections_[i - 1].get(), fds[i].revents, &buffer);
                }
            }
            ApplyFaults();
            ReapClosed(&connections_);
        }
        return kExitOk;
    }

    void Accept() {
        for (;;) {
            sockaddr_in peer{};
            socklen_t length = sizeof peer;
            int fd = accept4(listener_, reinterpret_cast<sockaddr*>(&peer), &length,
                             SOCK_CLOEXEC | SOCK_NONBLOCK);
            if (fd < 0) {
                return;
            }
            auto c = std::make_unique<Connection>();
            c->fd = fd;
            c->number = ++jobs_;
            c->peer = FormatPeer(peer);
            c->started = Clock::now();
            c->resetAt = o_.resetRandom > 0 ? std::uniform_int_distribution<long long>(
                                                  0, o_.resetRandom - 1)(random_)
                                            : o_.resetAfter;
            if (o_.statusOnConnect > 0) {
                SendStatus(c->fd, o_.statusOnConnect);
            }
            if (!o_.discard) {
                char name[32];
                snprintf(name, sizeof name, "/job-%04d.prn", c->number);
                c->path = o_.out + name;
                c->file = open(c->path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
            }
            connections_.push_back(std::move(c));
        }
    }

    void Read(Connection* c, short events, std::vector<char>* buffer) {
        long long allowed = Allowance(o_, *c);
        if (allowed == 0) {
            if (events & (POLLHUP | POLLERR)) {
                // While the printer was not reading: a reset (an abandoned job) or a close.
                int error = 0;
                socklen_t length = sizeof error;
                getsockopt(c->fd, SOL_SOCKET, SO_ERROR, &error, &length);
                Finish(c, error == ECONNRESET ? "reset by the sender" : "closed by the sender");
            }
            return;
        }
        ssize_t n = recv(c->fd, buffer->data(), std::min<size_t>(buffer->size(), allowed), 0);
        if (n > 0) {
            if (c->file >= 0 && write(c->file, buffer->data(), static_cast<size_t>(n)) != n) {
                fprintf(stderr, "%s: job %d: cannot write %s\n", program_, c->number,
                        c->path.c_str());
            }
            c->bytes += n;
        } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
            Finish(c, n == 0 ? "done" : strerror(errno));
        }
    }

    // A printer's status line, repeated and cut to `bytes`; the new socket takes it at once.
    static void SendStatus(int fd, long long bytes) {
        static const char kStatus[] =
            "@PJL USTATUS DEVICE CODE=10001 DISPLAY=\"READY\" ONLINE=TRUE\r\n";
        std::string text;
        while (static_cast<long long>(text.size()) < bytes) {
            text += kStatus;
        }
        text.resize(static_cast<size_t>(bytes));
        send(fd, text.data(), text.size(), MSG_NOSIGNAL);  // a sender already gone: no matter
    }

    void ApplyFaults() {
        for (auto& c : connections_) {
            if (c->fd < 0) {
                continue;
            }
            if (o_.pauseAfter >= 0 && !c->paused && c->bytes >= o_.pauseAfter) {
                c->paused = true;
                c->pauseEnds = Clock::now() + std::chrono::milliseconds(o_.pauseMs);
            }
            if (c->resetAt >= 0 && c->bytes >= c->resetAt) {
                linger reset{1, 0};
                setsockopt(c->fd, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
                Finish(c.get(), "reset by the printer");
            } else if (o_.closeEarly >= 0 && c->bytes >= o_.closeEarly) {
                Finish(c.get(), "closed early by the printer");
            }
        }
    }

    void Finish(Connection* c, const char* how) {
        if (c->fd < 0) {
            return;
        }
        close(c->fd);
        c->fd = -1;
        if (c->file >= 0) {
            close(c->file);
        }
        if (!o_.quiet) {
            fprintf(stderr, "job %d: %lld bytes from %s (%s)%s%s\n", c->number, c->bytes,
                    c->peer.c_str(), how, c->path.empty() ? "" : " -> ", c->path.c_str());
        }
    }

    const RawOptions& o_;
    const char* program_ = "nvprinter raw";
    int listener_ = -1;
    Endpoint bound_;
    int jobs_ = 0;
    std::vector<std::unique_ptr<Connection>> connections_;
    std::mt19937_64 random_{static_cast<std::uint64_t>(o_.seed)};
};

}  // namespace

int RunRaw(int argc, char** argv) {
    RawOptions options;
    int parsed = ParseRawOptions(argc, argv, &options);
    if (parsed >= 0) {
        return parsed;
    }
    RawPrinter printer(options);
    return printer.Run(argv[0]);
}

}  // namespace nvprinter
