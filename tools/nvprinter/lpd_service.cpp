#include "tools/nvprinter/lpd_service.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string_view>

#include "tools/nvprinter/tcp_listener.h"

namespace nvprinter {

namespace {

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
// Bytes read at a time at most; a paced connection is looked at again this soon.
constexpr long long kReadSize = 1 << 20;
constexpr auto kRecheck = std::chrono::milliseconds(20);

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

}  // namespace

// The summary status of a job.
enum class LpdService::Status {
    kReceived = 0,
    kViolation = 1,
    kIncomplete = 2,
    kFault = 3,
    kStopped = 4,
};

namespace {

const char* StatusName(int status) {
    static const char* const kNames[] = {"received", "violation", "incomplete", "printer fault",
                                         "stopped"};
    return status >= 0 && status < 5 ? kNames[status] : "?";
}

// Where a connection is in its job.
enum class Stage {
    kCommand,     // the daemon command line
    kSubcommand,  // a receive-job subcommand line, or the end of the connection
    kFile,        // the announced bytes of a file
    kTerminator,  // the 0x00 after them
    kSilent,      // --silent-at: reading and discarding until the client gives up
    kDraining,    // answered 0x01 and shut down: discarding until the client closes
};

}  // namespace

// One of the two files of a job, as announced and as received.
struct LpdService::JobFile {
    std::string name;  // empty: not announced
    long long size = 0;
    long long received = 0;
    std::string path;  // the stored copy
    std::string text;  // the control file for its checks; with an observer, both files
    bool whole = false;
    unsigned char last = 0xFF;  // the last byte received, for the diagnosis of a short file
};

struct LpdService::Connection {
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
    bool complete = false;       // the data file was received and acknowledged
    std::optional<Status> status;
    std::string reason;
    std::vector<std::string> violations;
    Clock::time_point drainUntil;
};

LpdService::LpdService(const LpdConfig& config, PrinterState* state, LpdJobObserver observer)
    : config_(config), state_(state), observer_(std::move(observer)), buffer_(kReadSize) {}

LpdService::~LpdService() {
    Finish();
    if (listener_ >= 0) {
        close(listener_);
    }
}

bool LpdService::Open(const char* program) {
    program_ = program;
    std::string why;
    if (!config_.out.empty() && !MakeOutputDirectory(config_.out, &why)) {
        std::fprintf(stderr, "%s: cannot create %s: %s\n", program, config_.out.c_str(),
                     why.c_str());
        return false;
    }
    listener_ = OpenListener(config_.listen, true, &bound_);
    if (listener_ < 0) {
        const int error = errno;
        std::fprintf(stderr, "%s: cannot listen on %s: %s\n", program,
                     FormatEndpoint(config_.listen).c_str(), std::strerror(error));
        return false;
    }
    return true;
}

bool LpdService::Done() const {
    return config_.once && jobs_ > 0 && connections_.empty();
}

// The number of bytes this connection may read now (0: none: --slow pacing, or the printer is
// down).
long long LpdService::Allowance(const Connection& c) const {
    if (state_->Down()) {
        return 0;
    }
    long long limit = kReadSize;
    if (config_.slow > 0) {
        const double seconds = std::chrono::duration<double>(Clock::now() - c.started).count();
        const long long budget =
            static_cast<long long>(seconds * static_cast<double>(config_.slow)) + 1;
        limit = std::min(limit, budget - c.bytesRead);
    }
    return std::max(0LL, limit);
}

void LpdService::Prepare(std::vector<pollfd>* fds, std::optional<Clock::time_point>* deadline) {
    // --once: one job; later connections wait in the backlog and are never served.
    fds->push_back(
        pollfd{listener_, static_cast<short>(config_.once && jobs_ > 0 ? 0 : POLLIN), 0});
    const Clock::time_point now = Clock::now();
    auto before = [deadline](Clock::time_point when) {
        if (!*deadline || when < **deadline) {
            *deadline = when;
        }
    };
    for (auto& c : connections_) {
        const bool reading = Allowance(*c) > 0;
        fds->push_back(pollfd{c->fd, static_cast<short>(reading ? POLLIN : 0), 0});
        if (!reading && config_.slow > 0) {
            before(now + kRecheck);  // the pace allows more soon
        }
        if (c->stage == Stage::kDraining) {
            before(c->drainUntil);
        }
    }
}

void LpdService::Dispatch(std::span<const pollfd> ready) {
    if (ready[0].revents & POLLIN) {
        Accept();
    }
    for (std::size_t i = 1; i < ready.size(); ++i) {
        Connection* c = connections_[i - 1].get();
        if (ready[i].revents != 0) {
            Read(c, ready[i].revents);
        }
        if (c->fd >= 0 && c->stage == Stage::kDraining && Clock::now() >= c->drainUntil) {
            Close(c, "the client did not close");
        }
    }
    ReapClosed(&connections_);
}

void LpdService::Finish() {
    for (auto& c : connections_) {
        if (!c->status && !c->complete) {
            End(c.get(), Status::kStopped, "the simulator was stopped");
        }
        Close(c.get(), "stopped");
    }
    connections_.clear();
}

void LpdService::Accept() {
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
        if (config_.once) {
            return;
        }
    }
}

void LpdService::Read(Connection* c, short events) {
    const long long allowed = Allowance(*c);
    if (allowed == 0) {
        if (events & (POLLHUP | POLLERR)) {
            EndOfConnection(c, "closed by the client");  // while the printer was not reading
        }
        return;
    }
    const ssize_t n =
        recv(c->fd, buffer_.data(), std::min<std::size_t>(buffer_.size(), allowed), 0);
    if (n > 0) {
        if (c->bytesRead == 0) {
            state_->JobStarted();  // a connection that says nothing is no job
        }
        c->bytesRead += n;
        Consume(c, buffer_.data(), static_cast<std::size_t>(n));
    } else if (n == 0) {
        EndOfConnection(c, "closed by the client");
    } else if (errno != EAGAIN && errno != EINTR) {
        const int error = errno;
        EndOfConnection(c, std::strerror(error));
    }
}

// Runs the bytes through the job's stages; stops early when the connection ends.
void LpdService::Consume(Connection* c, const char* bytes, std::size_t size) {
    while (size > 0 && c->fd >= 0) {
        switch (c->stage) {
            case Stage::kCommand:
            case Stage::kSubcommand:
                if (!ConsumeLine(c, &bytes, &size)) {
                    return;
                }
                break;
            case Stage::kFile:
                ConsumeFile(c, &bytes, &size);
                break;
            case Stage::kTerminator:
                if (!ConsumeTerminator(c, &bytes, &size)) {
                    return;
                }
                break;
            case Stage::kSilent:
            case Stage::kDraining:
                return;  // read and dropped
        }
    }
}

// A command line up to its LF; false when the bytes end before it (or it is too long).
bool LpdService::ConsumeLine(Connection* c, const char** bytes, std::size_t* size) {
    const char* lf = static_cast<const char*>(std::memchr(*bytes, '\n', *size));
    const std::size_t take = lf != nullptr ? static_cast<std::size_t>(lf - *bytes) : *size;
    c->line.append(*bytes, take);
    if (c->line.size() > kMaxLine) {
        Violation(c, "a command line longer than " + std::to_string(kMaxLine) + " bytes");
        return false;
    }
    if (lf == nullptr) {
        return false;
    }
    *bytes += take + 1;
    *size -= take + 1;
    std::string line;
    line.swap(c->line);
    if (c->stage == Stage::kCommand) {
        OnReceiveJob(c, line);
    } else {
        OnSubcommand(c, line);
    }
    return true;
}

// The announced bytes of the current file, as many of them as these are.
void LpdService::ConsumeFile(Connection* c, const char** bytes, std::size_t* size) {
    JobFile* f = c->current;
    const std::size_t take =
        static_cast<std::size_t>(std::min<long long>(f->size - f->received, *size));
    Store(c, *bytes, take);
    f->received += static_cast<long long>(take);
    f->last = static_cast<unsigned char>((*bytes)[take - 1]);
    *bytes += take;
    *size -= take;
    if (f->received == f->size) {
        c->stage = Stage::kTerminator;
    }
}

// The 0x00 after a file; false when it is another byte (a violation).
bool LpdService::ConsumeTerminator(Connection* c, const char** bytes, std::size_t* size) {
    const unsigned char byte = static_cast<unsigned char>(**bytes);
    ++*bytes;
    --*size;
    if (byte != 0) {
        char found[8];
        std::snprintf(found, sizeof found, "0x%02X", byte);
        Violation(c, "the byte after the " + std::to_string(c->current->size) +
                         " announced bytes of " + c->current->name + " is " + found +
                         ", not the 0x00 that ends the file (more bytes than announced?)");
        return false;
    }
    OnFileEnd(c);
    return true;
}

// Step 1: 0x02 queue LF.
void LpdService::OnReceiveJob(Connection* c, const std::string& line) {
    if (!config_.anySourcePort &&
        (c->sourcePort < kSourcePortFirst || c->sourcePort > kSourcePortLast)) {
        Violation(c, "source port " + std::to_string(c->sourcePort) + " is outside " +
                         std::to_string(kSourcePortFirst) + ".." + std::to_string(kSourcePortLast));
        return;
    }
    if (line.empty() || line[0] != kReceiveJob) {
        Violation(c,
                  "the first command '" + Printable(line) + "' is not receive-job (0x02 queue LF)");
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
void LpdService::OnSubcommand(Connection* c, const std::string& line) {
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
    if (!AcceptFile(c, isControl, digits, name) ||
        !Answer(c, isControl ? kStepControlCommand : kStepDataCommand)) {
        return;
    }
    JobFile* f = isControl ? &c->control : &c->data;
    c->current = f;
    if (!isControl && f->size == 0) {
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

// The announcement of a file fits the job so far; false after the violation.
bool LpdService::AcceptFile(Connection* c, bool isControl, const std::string& digits,
                            const std::string& name) {
    const long long size = std::stoll(digits);
    JobFile* f = isControl ? &c->control : &c->data;
    if (!f->name.empty()) {
        Violation(c, std::string("a second ") + (isControl ? "control" : "data") +
                         " file: " + Printable(name));
        return false;
    }
    if (!isControl && c->control.name.empty()) {
        Violation(c, "the data file " + Printable(name) + " comes before the control file");
        return false;
    }
    if (isControl && (size == 0 || size > kMaxControlFile)) {
        Violation(c, "a control file of " + digits + " bytes (1.." +
                         std::to_string(kMaxControlFile) + " accepted)");
        return false;
    }
    if (!isControl && JobPart(name) != JobPart(c->control.name)) {
        Violation(c, "the data file " + Printable(name) +
                         " has another job number or host than the control file " +
                         Printable(c->control.name));
        return false;
    }
    f->name = name;
    f->size = size;
    if (!isControl) {
        const std::string namesError = CheckControlNames(c->control.text, name);
        if (!namesError.empty()) {
            Violation(c, namesError);
            return false;
        }
    }
    return true;
}

// Steps 3 and 5: the 0x00 after a file's announced bytes.
void LpdService::OnFileEnd(Connection* c) {
    JobFile* f = c->current;
    f->whole = true;
    CloseCopy(c);
    c->stage = Stage::kSubcommand;
    if (f == &c->control) {
        const std::string error = CheckControlFile(c->control.text);
        if (!error.empty()) {
            Violation(c, error);
            return;
        }
        Answer(c, kStepControlFile);
    } else if (Answer(c, kStepDataFile)) {
        c->complete = true;
        state_->JobPrinted();
    }
}

// The printer's answer to a step, or the fault chosen for it; false when the job ends here.
bool LpdService::Answer(Connection* c, int step) {
    const std::string at = " at step " + std::to_string(step);
    if (config_.closeAt == step) {
        End(c, Status::kFault, "closed" + at + " (--close-at)");
        Close(c, "closed by the printer");
        return false;
    }
    if (config_.silentAt == step) {
        End(c, Status::kFault, "never answered" + at + " (--silent-at)");
        c->stage = Stage::kSilent;
        return false;
    }
    if (config_.nakAt == step) {
        End(c, Status::kFault, "answered 0x01" + at + " (--nak-at)");
        Refuse(c);
        return false;
    }
    const char answer = kPositive;
    send(c->fd, &answer, 1, MSG_NOSIGNAL);
    return true;
}

// A departure from the protocol: reported at once, answered with 0x01.
void LpdService::Violation(Connection* c, const std::string& what) {
    std::fprintf(stderr, "job %d: violation: %s\n", c->number, what.c_str());
    c->violations.push_back(what);
    End(c, Status::kViolation, what);
    Refuse(c);
}

// 0x01, then this side is shut and whatever the client still sends is read and dropped for a
// while, so that the client reads the answer rather than a reset.
void LpdService::Refuse(Connection* c) {
    const char answer = kNegative;
    send(c->fd, &answer, 1, MSG_NOSIGNAL);
    shutdown(c->fd, SHUT_WR);
    CloseCopy(c);
    c->stage = Stage::kDraining;
    c->drainUntil = Clock::now() + kDrainLimit;
}

// The job's outcome; the first one decided stands.
void LpdService::End(Connection* c, Status status, const std::string& reason) {
    if (!c->status) {
        c->status = status;
        c->reason = reason;
    }
}

void LpdService::EndOfConnection(Connection* c, const std::string& how) {
    if (!c->status && !c->complete) {
        std::string what = "the client ended the connection (" + how + ") ";
        if (c->stage == Stage::kFile || c->stage == Stage::kTerminator) {
            const JobFile& f = *c->current;
            what += "after " + std::to_string(f.received) + " of the " + std::to_string(f.size) +
                    " announced bytes of " + Printable(f.name);
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

void LpdService::OpenCopy(Connection* c, const char* extension) {
    JobFile* f = c->current;
    f->text.clear();
    if (config_.out.empty()) {
        return;
    }
    char name[32];
    std::snprintf(name, sizeof name, "/job-%04d%s", c->number, extension);
    f->path = config_.out + name;
    c->file = open(f->path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (c->file < 0) {
        const int error = errno;
        std::fprintf(stderr, "%s: job %d: cannot create %s: %s\n", program_, c->number,
                     f->path.c_str(), std::strerror(error));
    }
}

void LpdService::Store(Connection* c, const char* bytes, std::size_t size) {
    if (c->current == &c->control || observer_) {
        c->current->text.append(bytes, size);
    }
    if (c->file >= 0 && write(c->file, bytes, size) != static_cast<ssize_t>(size)) {
        const int error = errno;
        std::fprintf(stderr, "%s: job %d: cannot write %s: %s\n", program_, c->number,
                     c->current->path.c_str(), std::strerror(error));
        close(c->file);
        c->file = -1;
    }
}

void LpdService::CloseCopy(Connection* c) {
    if (c->file >= 0) {
        close(c->file);
        c->file = -1;
    }
}

void LpdService::Close(Connection* c, const char* how) {
    if (c->fd < 0) {
        return;
    }
    close(c->fd);
    c->fd = -1;
    CloseCopy(c);
    if (c->bytesRead > 0) {
        state_->JobEnded();
    }
    const Status status = c->status.value_or(Status::kReceived);
    if (status != Status::kReceived || !config_.quiet) {
        Summary(*c, status, how);
    }
    Report(c);
}

// The job as a record, for the observer.
void LpdService::Report(Connection* c) {
    if (!observer_) {
        return;
    }
    LpdJob job;
    job.sourcePort = c->sourcePort;
    job.queue = c->queue;
    job.controlName = c->control.name;
    job.controlSize = c->control.name.empty() ? -1 : c->control.size;
    job.control = std::move(c->control.text);
    job.dataName = c->data.name;
    job.dataSize = c->data.name.empty() ? -1 : c->data.size;
    job.data = std::move(c->data.text);
    job.errors = std::move(c->violations);
    job.complete = c->complete;
    observer_(std::move(job));
}

// One line per job: its status, where it came from, what arrived and where it is kept.
void LpdService::Summary(const Connection& c, Status status, const char* how) const {
    const int code = static_cast<int>(status);
    std::string text = "job " + std::to_string(c.number) + ": status " + std::to_string(code) +
                       " (" + StatusName(code);
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

}  // namespace nvprinter
