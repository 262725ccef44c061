// nvprinter lpd: a printer's line printer daemon (RFC 1179, port 515), receiving jobs only.
// Each connection must carry exactly one job in the order a print monitor sends it:
//
//   step 1  0x02 queue LF                        answered 0x00
//   step 2  0x02 count SP cfA<num><host> LF      answered 0x00
//   step 3  the control file's count bytes, 0x00 answered 0x00
//   step 4  0x03 count SP dfA<num><host> LF      answered 0x00
//   step 5  the data file's count bytes, 0x00    answered 0x00
//
// (an empty data file, count 0, ends the job at step 4: no bytes and no 0x00 follow). Both files
// are stored, and every departure from the protocol is a violation: it is reported on stderr,
// answered with 0x01, and the job's summary line carries a non-zero status. Fault options make
// the printer itself misbehave at a chosen step.
//
// One thread serves every connection with poll(), as the raw mode does.
#include <arpa/inet.h>
#include <fcntl.h>
#include <getopt.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tools/nvprinter/modes.h"
#include "tools/nvprinter/options.h"
#include "tools/nvprinter/stop_signals.h"
#include "tools/nvprinter/tcp_listener.h"

namespace nvprinter {

namespace {

using Clock = std::chrono::steady_clock;

const char kLpdUsage[] =
    "Usage: nvprinter lpd --listen ADDR:PORT (--out DIR | --discard) [options]\n"
    "\n"
    "A printer's line printer daemon (RFC 1179) that receives jobs. Each connection carries\n"
    "one job: the receive-job command, the control file, then the data file. They are\n"
    "stored as DIR/job-NNNN.cf and DIR/job-NNNN.df. The conversation is checked strictly\n"
    "(source port 721..731, command order, file names, announced sizes, the 0x00 after each\n"
    "file, the control file's lines); a violation is reported on stderr and answered with\n"
    "0x01. Prints 'listening on ADDR:PORT' on stdout once ready, one summary line per job\n"
    "on stderr, and stops cleanly on SIGTERM or SIGINT.\n"
    "\n"
    "Summary status: 0 received, 1 protocol violation, 2 ended early by the client,\n"
    "3 ended by a fault option, 4 the simulator was stopped.\n"
    "\n"
    "  --listen ADDR:PORT   TCP address to listen on (port 0: any free port)\n"
    "  --out DIR            directory for the job files (created if missing)\n"
    "  --discard            check and count each job but keep nothing\n"
    "  --any-source-port    accept jobs from any source port, not only 721..731\n"
    "  --once               stop after the first job\n"
    "  --quiet              no summary lines (violations are still reported)\n"
    "\n"
    "Faults (STEP 1..5: receive-job, control command, control file, data command, data):\n"
    "  --nak-at STEP        answer STEP with 0x01\n"
    "  --close-at STEP      close the connection instead of answering STEP\n"
    "  --silent-at STEP     never answer STEP; keep reading until the client gives up\n"
    "  --slow BPS           read at most BPS bytes per second of each connection\n"
    "  -h, --help           show this help\n";

// RFC 1179's answers to a command or a file.
constexpr char kPositive = '\x00';
constexpr char kNegative = '\x01';
// RFC 1179 daemon command and receive-job subcommand codes.
constexpr char kReceiveJob = '\x02';
constexpr char kAbortJob = '\x01';
constexpr char kReceiveControlFile = '\x02';
constexpr char kReceiveDataFile = '\x03';
// RFC 1179 section 3.1: the source port of a connection is 721..731.
constexpr std::uint16_t kSourcePortFirst = 721;
constexpr std::uint16_t kSourcePortLast = 731;
// RFC 1179 names no limit on a command line or a control file; these are far above anything a
// client sends (a monitor's control file fits 4096 bytes) and keep a broken client from
// filling memory.
constexpr std::size_t kMaxLine = 4096;
constexpr long long kMaxControlFile = 1 << 20;
// A count wider than 18 digits cannot be a file size.
constexpr std::size_t kMaxCountDigits = 18;
// After a 0x01 the printer shuts its side and reads whatever the client still sends, at most
// this long, so that the client reads the answer instead of a reset.
constexpr auto kDrainLimit = std::chrono::seconds(5);

// The steps of a job, each answered by one byte.
enum Step {
    kStepReceiveJob = 1,
    kStepControlCommand = 2,
    kStepControlFile = 3,
    kStepDataCommand = 4,
    kStepDataFile = 5,
};
constexpr int kStepCount = 5;

// The summary status of a job.
enum class Status {
    kReceived = 0,
    kViolation = 1,
    kIncomplete = 2,
    kFault = 3,
    kStopped = 4,
};

const char* StatusName(Status status) {
    switch (status) {
        case Status::kReceived:
            return "received";
        case Status::kViolation:
            return "violation";
        case Status::kIncomplete:
            return "incomplete";
        case Status::kFault:
            return "printer fault";
        case Status::kStopped:
            return "stopped";
    }
    return "?";
}

struct LpdOptions {
    Endpoint listen;
    bool haveListen = false;
    std::string out;
    bool discard = false;
    bool anySourcePort = false;
    bool once = false;
    bool quiet = false;
    int nakAt = 0;
    int closeAt = 0;
    int silentAt = 0;
    long long slow = 0;
};

// Where a connection is in its job.
enum class Stage {
    kCommand,     // the daemon command line
    kSubcommand,  // a receive-job subcommand line, or the end of the connection
    kFile,        // the announced bytes of a file
    kTerminator,  // the 0x00 after them
    kSilent,      // --silent-at: reading and discarding until the client gives up
    kDraining,    // answered 0x01 and shut down: discarding until the client closes
};

// One of the two files of a job, as announced and as received.
struct JobFile {
    std::string name;  // empty: not announced
    long long size = 0;
    long long received = 0;
    std::string path;  // the stored copy
    bool whole = false;
    unsigned char last = 0xFF;  // the last byte received, for the diagnosis of a short file
};

struct Connection {
    int fd = -1;
    int number = 0;
    std::string peer;
    std::uint16_t sourcePort = 0;
    Clock::time_point started;
    long long bytesRead = 0;
    Stage stage = Stage::kCommand;
    std::string line;  // the command line being read
    std::string queue;
    JobFile control;
    JobFile data;
    JobFile* current = nullptr;  // the file being received
    int file = -1;               // its stored copy
    std::string controlText;     // the control file, kept for its checks
    bool complete = false;       // the data file was received and acknowledged
    std::optional<Status> status;
    std::string reason;
    Clock::time_point drainUntil;
};

std::optional<int> ParseStep(const char* text) {
    std::optional<std::uint32_t> step = ParseNumber(text, kStepCount);
    if (!step || *step == 0) {
        return std::nullopt;
    }
    return static_cast<int>(*step);
}

int UsageError(const char* program, const std::string& message) {
    std::fprintf(stderr, "%s: %s\nTry '%s --help'.\n", program, message.c_str(), program);
    return kExitUsage;
}

// Fills options; a value means "do not run, exit with this code" (help, bad command line).
std::optional<int> ParseLpdOptions(int argc, char** argv, LpdOptions* o) {
    enum {
        kListen = 1000,
        kOut,
        kDiscard,
        kAnySourcePort,
        kOnce,
        kQuiet,
        kNakAt,
        kCloseAt,
        kSilentAt,
        kSlow,
    };
    static const option kLongOptions[] = {
        {"listen", required_argument, nullptr, kListen},
        {"out", required_argument, nullptr, kOut},
        {"discard", no_argument, nullptr, kDiscard},
        {"any-source-port", no_argument, nullptr, kAnySourcePort},
        {"once", no_argument, nullptr, kOnce},
        {"quiet", no_argument, nullptr, kQuiet},
        {"nak-at", required_argument, nullptr, kNakAt},
        {"close-at", required_argument, nullptr, kCloseAt},
        {"silent-at", required_argument, nullptr, kSilentAt},
        {"slow", required_argument, nullptr, kSlow},
        {"help", no_argument, nullptr, 'h'},
        {nullptr, 0, nullptr, 0},
    };
    const char* program = argv[0];
    opterr = 0;  // our own messages, in one format
    optind = 1;
    int id;
    while ((id = getopt_long(argc, argv, ":h", kLongOptions, nullptr)) != -1) {
        std::optional<int> step;
        std::optional<std::uint32_t> rate;
        switch (id) {
            case 'h':
                std::fputs(kLpdUsage, stdout);
                return kExitOk;
            case kListen: {
                std::optional<Endpoint> endpoint = ParseEndpoint(optarg);
                if (!endpoint) {
                    return UsageError(
                        program, std::string("--listen needs ADDR:PORT, not '") + optarg + "'");
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
            case kAnySourcePort:
                o->anySourcePort = true;
                break;
            case kOnce:
                o->once = true;
                break;
            case kQuiet:
                o->quiet = true;
                break;
            case kNakAt:
            case kCloseAt:
            case kSilentAt:
                step = ParseStep(optarg);
                if (!step) {
                    return UsageError(program, std::string(argv[optind - 1]) +
                                                   " needs a step 1..5, not '" + optarg + "'");
                }
                (id == kNakAt ? o->nakAt : id == kCloseAt ? o->closeAt : o->silentAt) = *step;
                break;
            case kSlow:
                rate = ParseNumber(optarg, UINT32_MAX);
                if (!rate || *rate == 0) {
                    return UsageError(program, std::string("--slow needs bytes per second, not '") +
                                                   optarg + "'");
                }
                o->slow = *rate;
                break;
            case ':':
                return UsageError(program, std::string(argv[optind - 1]) + " needs a value");
            default:
                return UsageError(program,
                                  std::string("unknown option '") + argv[optind - 1] + "'");
        }
    }
    if (optind < argc) {
        return UsageError(program, std::string("unexpected argument '") + argv[optind] + "'");
    }
    if (!o->haveListen || (o->out.empty() && !o->discard)) {
        return UsageError(program, "--listen ADDR:PORT and --out DIR (or --discard) are needed");
    }
    return std::nullopt;
}

// A line or name as it can be shown on one line of a log: control bytes as \xNN.
std::string Printable(std::string_view text) {
    std::string shown;
    for (unsigned char c : text) {
        if (c < 0x20 || c >= 0x7F || c == '\\') {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", c);
            shown += escaped;
        } else {
            shown += static_cast<char>(c);
        }
    }
    return shown;
}

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

bool IsLetter(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

// RFC 1179 section 6.2/6.3: a file name is "cfA" or "dfA", a three-digit job number and the host
// that built it. Clients vary the letter after "cf"/"df" and write longer job numbers, so any
// letter and three or more digits pass; the host must be there. Returns an error, or empty.
std::string CheckFileName(const std::string& name, const char* prefix) {
    if (name.size() < 3 || name.compare(0, 2, prefix) != 0 || !IsLetter(name[2])) {
        return "does not start with '" + std::string(prefix) + "' and a letter";
    }
    std::size_t digits = 0;
    while (3 + digits < name.size() && IsDigit(name[3 + digits])) {
        ++digits;
    }
    if (digits < 3) {
        return "has no three-digit job number after '" + name.substr(0, 3) + "'";
    }
    if (3 + digits == name.size()) {
        return "has no host name after the job number";
    }
    return "";
}

// The job number and host of a file name, the part that control and data file share.
std::string JobPart(const std::string& name) {
    return name.size() > 3 ? name.substr(3) : std::string();
}

// RFC 1179 section 7: the print commands, a lower-case letter for the file's format followed
// by the name of a data file of the job ('k' is reserved for Kerberized clients).
bool IsPrintCommand(char c) {
    return c != 0 && std::strchr("cdfgklnoprtv", c) != nullptr;
}

// RFC 1179 section 7: the command letters of control file lines.
bool IsControlCommand(char c) {
    return (c != 0 && std::strchr("CHIJLMNPSTUW1234", c) != nullptr) || IsPrintCommand(c);
}

// The framing of a control file: LF-ended lines, each a command letter and its operand, no
// other control characters (a CR or LF inside a name would make a line of its own), and an H
// line. Returns an error, or empty.
std::string CheckControlFile(const std::string& text) {
    if (text.empty() || text.back() != '\n') {
        return "the control file does not end with LF";
    }
    bool host = false;
    std::size_t start = 0;
    for (int number = 1; start < text.size(); ++number) {
        const std::size_t end = text.find('\n', start);
        const std::string_view line(text.data() + start, end - start);
        start = end + 1;
        const std::string where =
            "control file line " + std::to_string(number) + " '" + Printable(line) + "'";
        if (line.empty()) {
            return where + " is empty";
        }
        if (!IsControlCommand(line[0])) {
            return where + " does not start with a command letter";
        }
        for (unsigned char c : line) {
            if (c < 0x20 || c == 0x7F) {
                return where + " holds the control character " + Printable(std::string(1, c));
            }
        }
        host = host || line[0] == 'H';
    }
    return host ? "" : "the control file has no H (host) line";
}

// The lines that name files must name the data file of this job, and one of them must print
// it: otherwise a daemon looks for a file that was never sent, or never prints the one that
// was. Returns an error, or empty.
std::string CheckControlNames(const std::string& text, const std::string& dataName) {
    bool printed = false;
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t end = text.find('\n', start);
        const std::string line = text.substr(start, end - start);
        start = end + 1;
        if (line.empty() || !(IsPrintCommand(line[0]) || line[0] == 'U')) {
            continue;
        }
        const std::string operand = line.substr(1);
        if (operand != dataName) {
            return "control file line '" + Printable(line) + "' names the file '" +
                   Printable(operand) + "', which this job did not send (its data file is " +
                   Printable(dataName) + ")";
        }
        printed = printed || line[0] != 'U';
    }
    return printed ? "" : "no line of the control file prints the data file " + Printable(dataName);
}

// The number of bytes this connection may read now (0: none, --slow pacing).
long long Allowance(const LpdOptions& o, const Connection& c) {
    long long limit = 1 << 20;
    if (o.slow > 0) {
        const double seconds = std::chrono::duration<double>(Clock::now() - c.started).count();
        const long long budget = static_cast<long long>(seconds * static_cast<double>(o.slow)) + 1;
        limit = std::min(limit, budget - c.bytesRead);
    }
    return std::max(0LL, limit);
}

class LpdPrinter {
  public:
    explicit LpdPrinter(const LpdOptions& options) : o_(options) {}

    int Run(const char* program) {
        program_ = program;
        std::string why;
        if (!o_.discard && !MakeOutputDirectory(o_.out, &why)) {
            std::fprintf(stderr, "%s: cannot create %s: %s\n", program, o_.out.c_str(),
                         why.c_str());
            return kExitFailure;
        }
        // Armed before the ready line goes out, so a stop sent right after it is never lost.
        StopSignals stop;
        if (!Open()) {
            return kExitFailure;
        }
        std::printf("listening on %s\n", FormatEndpoint(bound_).c_str());
        std::fflush(stdout);
        const int result = Serve(stop);
        for (auto& c : connections_) {
            if (!c->status && !c->complete) {
                End(c.get(), Status::kStopped, "the simulator was stopped");
            }
            Close(c.get(), "stopped");
        }
        close(listener_);
        return result;
    }

  private:
    bool Open() {
        listener_ = OpenListener(o_.listen, true, &bound_);
        if (listener_ < 0) {
            const int error = errno;
            std::fprintf(stderr, "%s: cannot listen on %s: %s\n", program_,
                         FormatEndpoint(o_.listen).c_str(), std::strerror(error));
            return false;
        }
        return true;
    }

    int Serve(const StopSignals& stop) {
        std::vector<char> buffer(1 << 20);
        while (!stop.stopRequested() && !(o_.once && jobs_ > 0 && connections_.empty())) {
            std::vector<pollfd> fds;
            fds.push_back(
                pollfd{listener_, static_cast<short>(o_.once && jobs_ > 0 ? 0 : POLLIN), 0});
            int waitMs = -1;
            const Clock::time_point now = Clock::now();
            for (auto& c : connections_) {
                const bool reading = Allowance(o_, *c) > 0;
                fds.push_back(pollfd{c->fd, static_cast<short>(reading ? POLLIN : 0), 0});
                if (!reading) {
                    waitMs = 20;  // the pace allows more soon
                }
                if (c->stage == Stage::kDraining) {
                    const auto left =
                        std::chrono::ceil<std::chrono::milliseconds>(c->drainUntil - now);
                    const int ms = static_cast<int>(std::max<long long>(0, left.count()));
                    waitMs = waitMs < 0 ? ms : std::min(waitMs, ms);
                }
            }
            timespec timeout{waitMs / 1000, static_cast<long>(waitMs % 1000) * 1000000L};
            if (ppoll(fds.data(), fds.size(), waitMs < 0 ? nullptr : &timeout, stop.waitMask()) <
                0) {
                if (errno == EINTR) {
                    continue;
                }
                const int error = errno;
                std::fprintf(stderr, "%s: poll: %s\n", program_, std::strerror(error));
                return kExitFailure;
            }
            if (fds[0].revents & POLLIN) {
                Accept();
            }
            for (std::size_t i = 1; i < fds.size(); ++i) {
                Connection* c = connections_[i - 1].get();
                if (fds[i].revents != 0) {
                    Read(c, fds[i].revents, &buffer);
                }
                if (c->fd >= 0 && c->stage == Stage::kDraining && Clock::now() >= c->drainUntil) {
                    Close(c, "the client did not close");
                }
            }
            ReapClosed(&connections_);
        }
        return kExitOk;
    }

    void Accept() {
        for (;;) {
            sockaddr_in peer{};
            socklen_t length = sizeof peer;
            const int fd = accept4(listener_, reinterpret_cast<sockaddr*>(&peer), &length,
                                   SOCK_CLOEXEC | SOCK_NONBLOCK);
            if (fd < 0) {
                return;
            }
            auto c = std::make_unique<Connection>();
            c->fd = fd;
            c->number = ++jobs_;
            c->sourcePort = ntohs(peer.sin_port);
            c->peer = FormatPeer(peer);
            c->started = Clock::now();
            connections_.push_back(std::move(c));
            if (o_.once) {
                return;  // one job: later connections wait in the backlog and are never served
            }
        }
    }

    void Read(Connection* c, short events, std::vector<char>* buffer) {
        const long long allowed = Allowance(o_, *c);
        if (allowed == 0) {
            if (events & (POLLHUP | POLLERR)) {
                EndOfConnection(c, "closed by the client");  // while the printer was not reading
            }
            return;
        }
        const ssize_t n =
            recv(c->fd, buffer->data(), std::min<std::size_t>(buffer->size(), allowed), 0);
        if (n > 0) {
            c->bytesRead += n;
            Consume(c, buffer->data(), static_cast<std::size_t>(n));
        } else if (n == 0) {
            EndOfConnection(c, "closed by the client");
        } else if (errno != EAGAIN && errno != EINTR) {
            const int error = errno;
            EndOfConnection(c, std::strerror(error));
        }
    }

    // Runs the bytes through the job's stages; stops early when the connection ends.
    void Consume(Connection* c, const char* bytes, std::size_t size) {
        while (size > 0 && c->fd >= 0) {
            switch (c->stage) {
                case Stage::kCommand:
                case Stage::kSubcommand: {
                    const char* lf = static_cast<const char*>(std::memchr(bytes, '\n', size));
                    const std::size_t take = lf != nullptr ? lf - bytes : size;
                    c->line.append(bytes, take);
                    if (c->line.size() > kMaxLine) {
                        Violation(
                            c, "a command line longer than " + std::to_string(kMaxLine) + " bytes");
                        return;
                    }
                    if (lf == nullptr) {
                        return;
                    }
                    bytes += take + 1;
                    size -= take + 1;
                    std::string line;
                    line.swap(c->line);
                    if (c->stage == Stage::kCommand) {
                        OnReceiveJob(c, line);
                    } else {
                        OnSubcommand(c, line);
                    }
                    break;
                }
                case Stage::kFile: {
                    JobFile* f = c->current;
                    const std::size_t take =
                        static_cast<std::size_t>(std::min<long long>(f->size - f->received, size));
                    Store(c, bytes, take);
                    f->received += static_cast<long long>(take);
                    f->last = static_cast<unsigned char>(bytes[take - 1]);
                    bytes += take;
                    size -= take;
                    if (f->received == f->size) {
                        c->stage = Stage::kTerminator;
                    }
                    break;
                }
                case Stage::kTerminator: {
                    const unsigned char byte = static_cast<unsigned char>(*bytes);
                    ++bytes;
                    --size;
                    if (byte != 0) {
                        char found[8];
                        std::snprintf(found, sizeof found, "0x%02X", byte);
                        Violation(c, "the byte after the " + std::to_string(c->current->size) +
                                         " announced bytes of " + c->current->name + " is " +
                                         found +
                                         ", not the 0x00 that ends the file (more bytes"
                                         " than announced?)");
                        return;
                    }
                    OnFileEnd(c);
                    break;
                }
                case Stage::kSilent:
                case Stage::kDraining:
                    return;  // read and dropped
            }
        }
    }

    // Step 1: 0x02 queue LF.
    void OnReceiveJob(Connection* c, const std::string& line) {
        if (!o_.anySourcePort &&
            (c->sourcePort < kSourcePortFirst || c->sourcePort > kSourcePortLast)) {
            Violation(c, "source port " + std::to_string(c->sourcePort) + " is outside " +
                             std::to_string(kSourcePortFirst) + ".." +
                             std::to_string(kSourcePortLast));
            return;
        }
        if (line.empty() || line[0] != kReceiveJob) {
            Violation(c, "the first command '" + Printable(line) +
                             "' is not receive-job (0x02 queue LF)");
            return;
        }
        c->queue = line.substr(1);
        if (c->queue.empty()) {
            Violation(c, "the receive-job command names no queue");
            return;
        }
        if (Answer(c, kStepReceiveJob)) {
            c->stage = Stage::kSubcommand;
        }
    }

    // Steps 2 and 4: 0x02 or 0x03, count SP name LF. 0x01 aborts the job.
    void OnSubcommand(Connection* c, const std::string& line) {
        if (line.size() == 1 && line[0] == kAbortJob) {
            End(c, Status::kIncomplete, "the client aborted the job (0x01)");
            c->stage = Stage::kDraining;  // no answer to an abort
            c->drainUntil = Clock::now() + kDrainLimit;
            return;
        }
        const bool isControl = !line.empty() && line[0] == kReceiveControlFile;
        const bool isData = !line.empty() && line[0] == kReceiveDataFile;
        if (!isControl && !isData) {
            Violation(c, "'" + Printable(line) + "' is not a receive-job subcommand");
            return;
        }
        const std::size_t space = line.find(' ');
        const std::string digits = line.substr(1, space == std::string::npos ? 0 : space - 1);
        if (space == std::string::npos || digits.empty() || digits.size() > kMaxCountDigits ||
            !std::all_of(digits.begin(), digits.end(), IsDigit)) {
            Violation(c, "subcommand '" + Printable(line) + "' is not 'count SP name'");
            return;
        }
        const std::string name = line.substr(space + 1);
        const std::string nameError = CheckFileName(name, isControl ? "cf" : "df");
        if (!nameError.empty()) {
            Violation(c, std::string(isControl ? "control" : "data") + " file name '" +
                             Printable(name) + "' " + nameError);
            return;
        }
        const long long size = std::stoll(digits);
        JobFile* f = isControl ? &c->control : &c->data;
        if (!f->name.empty()) {
            Violation(c, std::string("a second ") + (isControl ? "control" : "data") +
                             " file: " + Printable(name));
            return;
        }
        if (isData && c->control.name.empty()) {
            Violation(c, "the data file " + Printable(name) + " comes before the control file");
            return;
        }
        if (isControl && (size == 0 || size > kMaxControlFile)) {
            Violation(c, "a control file of " + digits + " bytes (1.." +
                             std::to_string(kMaxControlFile) + " accepted)");
            return;
        }
        if (isData && JobPart(name) != JobPart(c->control.name)) {
            Violation(c, "the data file " + Printable(name) +
                             " has another job number or host than the control file " +
                             Printable(c->control.name));
            return;
        }
        f->name = name;
        f->size = size;
        if (isData) {
            const std::string namesError = CheckControlNames(c->controlText, name);
            if (!namesError.empty()) {
                Violation(c, namesError);
                return;
            }
        }
        if (!Answer(c, isControl ? kStepControlCommand : kStepDataCommand)) {
            return;
        }
        c->current = f;
        if (isData && size == 0) {
            // An empty data file: no bytes, no 0x00 and no answer follow; the job is whole.
            f->whole = true;
            c->complete = true;
            OpenCopy(c, ".df");
            CloseCopy(c);
            return;
        }
        OpenCopy(c, isControl ? ".cf" : ".df");
        c->stage = Stage::kFile;
    }

    // Steps 3 and 5: the 0x00 after a file's announced bytes.
    void OnFileEnd(Connection* c) {
        JobFile* f = c->current;
        f->whole = true;
        CloseCopy(c);
        c->stage = Stage::kSubcommand;
        if (f == &c->control) {
            const std::string error = CheckControlFile(c->controlText);
            if (!error.empty()) {
                Violation(c, error);
                return;
            }
            Answer(c, kStepControlFile);
        } else if (Answer(c, kStepDataFile)) {
            c->complete = true;
        }
    }

    // The printer's answer to a step, or the fault chosen for it; false when the job ends here.
    bool Answer(Connection* c, int step) {
        const std::string at = " at step " + std::to_string(step);
        if (o_.closeAt == step) {
            End(c, Status::kFault, "closed" + at + " (--close-at)");
            Close(c, "closed by the printer");
            return false;
        }
        if (o_.silentAt == step) {
            End(c, Status::kFault, "never answered" + at + " (--silent-at)");
            c->stage = Stage::kSilent;
            return false;
        }
        if (o_.nakAt == step) {
            End(c, Status::kFault, "answered 0x01" + at + " (--nak-at)");
            Refuse(c);
            return false;
        }
        const char answer = kPositive;
        send(c->fd, &answer, 1, MSG_NOSIGNAL);
        return true;
    }

    // A departure from the protocol: reported at once, answered with 0x01.
    void Violation(Connection* c, const std::string& what) {
        std::fprintf(stderr, "job %d: violation: %s\n", c->number, what.c_str());
        End(c, Status::kViolation, what);
        Refuse(c);
    }

    // 0x01, then this side is shut and whatever the client still sends is read and dropped
    // for a while, so that the client reads the answer rather than a reset.
    void Refuse(Connection* c) {
        const char answer = kNegative;
        send(c->fd, &answer, 1, MSG_NOSIGNAL);
        shutdown(c->fd, SHUT_WR);
        CloseCopy(c);
        c->stage = Stage::kDraining;
        c->drainUntil = Clock::now() + kDrainLimit;
    }

    // The job's outcome; the first one decided stands.
    void End(Connection* c, Status status, const std::string& reason) {
        if (!c->status) {
            c->status = status;
            c->reason = reason;
        }
    }

    void EndOfConnection(Connection* c, const std::string& how) {
        if (!c->status && !c->complete) {
            std::string what = "the client ended the connection (" + how + ") ";
            if (c->stage == Stage::kFile || c->stage == Stage::kTerminator) {
                const JobFile& f = *c->current;
                what += "after " + std::to_string(f.received) + " of the " +
                        std::to_string(f.size) + " announced bytes of " + Printable(f.name);
                if (f.received < f.size && f.received > 0 && f.last == 0) {
                    what += "; its last byte was 0x00: fewer bytes than announced?";
                }
            } else {
                what += c->control.name.empty() && c->queue.empty() ? "before any command"
                                                                    : "before the job was whole";
            }
            End(c, Status::kIncomplete, what);
        }
        Close(c, how.c_str());
    }

    void OpenCopy(Connection* c, const char* extension) {
        JobFile* f = c->current;
        if (f == &c->control) {
            c->controlText.clear();
        }
        if (o_.discard) {
            return;
        }
        char name[32];
        std::snprintf(name, sizeof name, "/job-%04d%s", c->number, extension);
        f->path = o_.out + name;
        c->file = open(f->path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (c->file < 0) {
            const int error = errno;
            std::fprintf(stderr, "%s: job %d: cannot create %s: %s\n", program_, c->number,
                         f->path.c_str(), std::strerror(error));
        }
    }

    void Store(Connection* c, const char* bytes, std::size_t size) {
        if (c->current == &c->control) {
            c->controlText.append(bytes, size);
        }
        if (c->file >= 0 && write(c->file, bytes, size) != static_cast<ssize_t>(size)) {
            const int error = errno;
            std::fprintf(stderr, "%s: job %d: cannot write %s: %s\n", program_, c->number,
                         c->current->path.c_str(), std::strerror(error));
            close(c->file);
            c->file = -1;
        }
    }

    void CloseCopy(Connection* c) {
        if (c->file >= 0) {
            close(c->file);
            c->file = -1;
        }
    }

    void Close(Connection* c, const char* how) {
        if (c->fd < 0) {
            return;
        }
        close(c->fd);
        c->fd = -1;
        CloseCopy(c);
        const Status status = c->status.value_or(Status::kReceived);
        if (status != Status::kReceived || !o_.quiet) {
            Summary(*c, status, how);
        }
    }

    // One line per job: its status, where it came from, what arrived and where it is kept.
    void Summary(const Connection& c, Status status, const char* how) const {
        std::string text = "job " + std::to_string(c.number) + ": status " +
                           std::to_string(static_cast<int>(status)) + " (" + StatusName(status);
        text += c.status ? ": " + c.reason : "";
        text += ") from " + c.peer;
        if (!c.queue.empty()) {
            text += " queue \"" + Printable(c.queue) + "\"";
        }
        for (const JobFile* f : {&c.control, &c.data}) {
            if (f->name.empty()) {
                continue;
            }
            text += ", " + Printable(f->name) + " " + std::to_string(f->received);
            text += f->whole ? " bytes" : " of " + std::to_string(f->size) + " bytes";
        }
        text += " (" + std::string(how) + ")";
        const char* arrow = " -> ";
        for (const JobFile* f : {&c.control, &c.data}) {
            if (!f->path.empty()) {
                text += arrow + f->path;
                arrow = ", ";
            }
        }
        std::fprintf(stderr, "%s\n", text.c_str());
    }

    const LpdOptions& o_;
    const char* program_ = "nvprinter lpd";
    int listener_ = -1;
    Endpoint bound_;
    int jobs_ = 0;
    std::vector<std::unique_ptr<Connection>> connections_;
};

}  // namespace

int RunLpd(int argc, char** argv) {
    LpdOptions options;
    if (std::optional<int> exit = ParseLpdOptions(argc, argv, &options)) {
        return *exit;
    }
    LpdPrinter printer(options);
    return printer.Run(argv[0]);
}

}  // namespace nvprinter
