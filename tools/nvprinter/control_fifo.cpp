#include "tools/nvprinter/control_fifo.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace nvprinter {

namespace {

// A command line is a few words; anything longer is dropped as a whole.
constexpr std::size_t kMaxCommandLine = 256;

}  // namespace

ControlFifo::ControlFifo(std::string path, PrinterState* state, bool quiet)
    : path_(std::move(path)), state_(state), quiet_(quiet) {}

ControlFifo::~ControlFifo() {
    Finish();
}

bool ControlFifo::Open(const char* program) {
    program_ = program;
    if (mkfifo(path_.c_str(), 0600) == 0) {
        made_ = true;
    } else if (errno != EEXIST) {
        const int error = errno;
        std::fprintf(stderr, "%s: cannot make the FIFO %s: %s\n", program, path_.c_str(),
                     std::strerror(error));
        return false;
    }
    // Read and write: the FIFO then always has a writer (this one), so a script's writer that
    // closes leaves no end of file behind and the wait does not spin on it.
    fd_ = open(path_.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    struct stat info;
    if (fd_ < 0 || fstat(fd_, &info) != 0 || !S_ISFIFO(info.st_mode)) {
        const int error = fd_ < 0 ? errno : ENOTSUP;
        std::fprintf(stderr, "%s: %s is not a FIFO that can be opened: %s\n", program,
                     path_.c_str(), std::strerror(error));
        Finish();
        return false;
    }
    return true;
}

void ControlFifo::Prepare(std::vector<pollfd>* fds, std::optional<Clock::time_point>*) {
    fds->push_back(pollfd{fd_, POLLIN, 0});
}

void ControlFifo::Dispatch(std::span<const pollfd> ready) {
    if ((ready[0].revents & POLLIN) == 0) {
        return;
    }
    char chunk[512];
    ssize_t n;
    while ((n = read(fd_, chunk, sizeof chunk)) > 0) {
        pending_.append(chunk, static_cast<std::size_t>(n));
        std::size_t lf;
        while ((lf = pending_.find('\n')) != std::string::npos) {
            const std::string line = pending_.substr(0, lf);
            pending_.erase(0, lf + 1);
            std::string reply;
            if (!Apply(line, state_, &reply)) {
                std::fprintf(stderr, "%s: control: %s\n", program_, reply.c_str());
            } else if (!quiet_ || line.rfind("report", 0) == 0) {
                std::fprintf(stderr, "%s: %s\n", program_, reply.c_str());
            }
        }
        if (pending_.size() > kMaxCommandLine) {
            std::fprintf(stderr, "%s: control: a command line longer than %zu bytes\n", program_,
                         kMaxCommandLine);
            pending_.clear();
        }
    }
}

void ControlFifo::Finish() {
    if (fd_ >= 0) {
        close(fd_);
        fd_ = -1;
    }
    if (made_) {
        unlink(path_.c_str());
        made_ = false;
    }
}

bool ControlFifo::Apply(const std::string& line, PrinterState* state, std::string* reply) {
    std::string text = line;
    while (!text.empty() && (text.back() == '\r' || text.back() == ' ')) {
        text.pop_back();
    }
    if (text == "report") {
        *reply = "state: " + state->Describe() + "; " + std::to_string(state->Datagrams()) +
                 " SNMP datagrams received; " + std::to_string(state->PrintedJobs()) +
                 " jobs printed";
        return true;
    }
    if (text == "clear") {
        state->ClearAll();
        *reply = "state: " + state->Describe();
        return true;
    }
    const std::size_t space = text.find(' ');
    const std::string verb = text.substr(0, space);
    const std::string name = space == std::string::npos ? "" : text.substr(space + 1);
    std::optional<StateName> what = ParseStateName(name);
    if ((verb != "set" && verb != "clear") || !what) {
        *reply = "'" + text + "' is not 'set NAME', 'clear NAME', 'clear' or 'report'";
        return false;
    }
    if (verb == "set") {
        state->Set(*what);
    } else {
        state->Clear(*what);
    }
    *reply = "state: " + state->Describe();
    return true;
}

}  // namespace nvprinter
