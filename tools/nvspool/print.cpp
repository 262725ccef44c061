// nvspool print: drives one job through the monitor exactly as the spooler drives a port:
// OpenPort, StartDocPort, WritePort..., EndDocPort, ClosePort. A WritePort that fails has
// still taken the bytes it reports, so the job goes on after them (no byte twice); one that
// timed out (the printer does not take data) is called again for as long as it takes, as the
// spooler does. When the monitor asks for a job restart (SetJobW with JOB_CONTROL_RESTART,
// during the job or from a failed EndDocPort), the job is ended and printed again from its
// start on a new connection, a bounded number of times. The job's status text, which the
// monitor sets while it waits, is shown as it changes. SIGINT or SIGTERM deletes the job, as
// a user deletes a printing job in the queue: the monitor ends it within a second.
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <pthread.h>
#include <signal.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <mutex>
#include <thread>
#include <vector>

#include "tools/nvspool/commands.h"
#include "tools/nvspool/common.h"

namespace nvspool {

namespace {

struct PrintOptions {
    std::string port;
    std::string printer = "NORVA Printer";
    DWORD jobId = 0;
    std::string user;
    std::string machine;
    std::string document;
    DWORD level = 1;
    size_t block = 16 * 1024;
    std::string outputFile;
    int restarts = 3;
    int retries = 3;
    bool quiet = false;
    std::string file;
};

const char kPrintUsage[] =
    "Usage: nvspool print --port NAME [options] FILE|-\n"
    "  --printer P        printer name of the job (default \"NORVA Printer\")\n"
    "  --job-id N         job id (default: the next free one)\n"
    "  --user U           user name (default: the caller)\n"
    "  --machine M        machine name (default: \\\\ and this host's name)\n"
    "  --document T       document name (default: the file's name)\n"
    "  --level 1|2        DOC_INFO level given to StartDocPort (default 1)\n"
    "  --block BYTES      bytes per WritePort (default 16384)\n"
    "  --output-file PATH output file of a FILE: job (DOC_INFO pOutputFile)\n"
    "  --restarts N       job restarts allowed before giving up (default 3)\n"
    "  --retries N        WritePort retries after a failure other than a time-out, per\n"
    "                     attempt (default 3); a time-out is retried until the printer reads\n"
    "  --quiet            no progress, no status and no summary\n"
    "\n"
    "Ctrl-C (SIGINT) or SIGTERM deletes the job: the monitor ends it within a second, the\n"
    "printer is left without a whole copy, and the exit status is 130 (or 143).\n";

bool ParseNumber(const std::string& text, unsigned long long* value) {
    char* end = nullptr;
    errno = 0;
    *value = strtoull(text.c_str(), &end, 0);
    return errno == 0 && end != nullptr && *end == 0 && !text.empty();
}

int ParseOptions(const std::vector<std::string>& args, PrintOptions* o) {
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        auto value = [&](std::string* out) {
            if (i + 1 >= args.size()) {
                return false;
            }
            *out = args[++i];
            return true;
        };
        auto number = [&](unsigned long long* out) {
            std::string text;
            return value(&text) && ParseNumber(text, out);
        };
        unsigned long long n = 0;
        if (a == "-h" || a == "--help") {
            fputs(kPrintUsage, stdout);
            return 0;
        } else if (a == "--port") {
            if (!value(&o->port))
                return Usage("--port needs a name");
        } else if (a == "--printer") {
            if (!value(&o->printer))
                return Usage("--printer needs a name");
        } else if (a == "--job-id") {
            if (!number(&n) || n == 0 || n > 0xffffffffULL)
                return Usage("bad --job-id");
            o->jobId = static_cast<DWORD>(n);
        } else if (a == "--user") {
            if (!value(&o->user))
                return Usage("--user needs a name");
        } else if (a == "--machine") {
            if (!value(&o->machine))
                return Usage("--machine needs a name");
        } else if (a == "--document") {
            if (!value(&o->document))
                return Usage("--document needs a title");
        } else if (a == "--level") {
            if (!number(&n) || (n != 1 && n != 2))
                return Usage("--level is 1 or 2");
            o->level = static_cast<DWORD>(n);
        } else if (a == "--block") {
            if (!number(&n) || n == 0 || n > (1ULL << 30))
                return Usage("bad --block");
            o->block = static_cast<size_t>(n);
        } else if (a == "--output-file") {
            if (!value(&o->outputFile))
                return Usage("--output-file needs a path");
        } else if (a == "--restarts") {
            if (!number(&n) || n > 1000)
                return Usage("bad --restarts");
            o->restarts = static_cast<int>(n);
        } else if (a == "--retries") {
            if (!number(&n) || n > 1000)
                return Usage("bad --retries");
            o->retries = static_cast<int>(n);
        } else if (a == "--quiet" || a == "-q") {
            o->quiet = true;
        } else if (a.size() > 1 && a[0] == '-' && a != "-") {
            return Usage(("unknown option for print: " + a).c_str());
        } else if (o->file.empty()) {
            o->file = a;
        } else {
            return Usage("print takes one file");
        }
    }
    if (o->port.empty() || o->file.empty()) {
        return Usage("print needs --port NAME and a file (or - for standard input)");
    }
    return -1;
}

std::string CallerName() {
    if (const char* user = getenv("USER")) {
        return user;
    }
    struct passwd* pw = getpwuid(getuid());
    return pw != nullptr ? pw->pw_name : "unknown";
}

std::string HostName() {
    char name[256] = {};
    ::gethostname(name, sizeof name - 1);
    return name;
}

// Standard input is spooled to a temporary file first, so that a restart can read it again.
FILE* OpenInput(const std::string& file, std::string* error) {
    if (file != "-") {
        FILE* f = fopen(file.c_str(), "rb");
        if (f == nullptr) {
            *error = "cannot open " + file + ": " + strerror(errno);
        }
        return f;
    }
    FILE* spool = tmpfile();
    if (spool == nullptr) {
        *error = std::string("cannot create a temporary file: ") + strerror(errno);
        return nullptr;
    }
    std::vector<char> buffer(1 << 16);
    size_t n;
    while ((n = fread(buffer.data(), 1, buffer.size(), stdin)) > 0) {
        if (fwrite(buffer.data(), 1, n, spool) != n) {
            *error = std::string("cannot spool standard input: ") + strerror(errno);
            fclose(spool);
            return nullptr;
        }
    }
    return spool;
}

constexpr double kMiB = 1048576.0;

// A job's size as the summary gives it: in bytes, and beside them in MiB, the progress bar's
// unit, from one MiB on.
std::string SizeText(long long bytes) {
    if (bytes < (1LL << 20)) {
        return std::to_string(bytes) + " bytes";
    }
    char text[64];
    snprintf(text, sizeof text, "%.1f MiB (%lld bytes)", bytes / kMiB, bytes);
    return text;
}

class Progress {
  public:
    Progress(long long total, bool enabled)
        : total_(total),
          enabled_(enabled && isatty(STDERR_FILENO) && total > (4LL << 20)),
          start_(std::chrono::steady_clock::now()) {}
    void Update(long long done, bool force = false) {
        if (!enabled_) {
            return;
        }
        auto now = std::chrono::steady_clock::now();
        if (!force && now - last_ < std::chrono::milliseconds(200)) {
            return;
        }
        last_ = now;
        double seconds = std::chrono::duration<double>(now - start_).count();
        double rate = seconds > 0 ? done / seconds / kMiB : 0;
        int width = 30;
        int filled = total_ > 0 ? static_cast<int>(width * done / total_) : width;
        fprintf(stderr, "\r[%-*s] %7.1f of %.1f MiB  %6.1f MiB/s", width,
                std::string(static_cast<size_t>(filled), '#').c_str(), done / kMiB, total_ / kMiB,
                rate);
        fflush(stderr);
    }
    void Finish() {
        if (enabled_) {
            fputc('\n', stderr);
        }
    }

  private:
    long long total_;
    bool enabled_;
    std::chrono::steady_clock::time_point start_;
    std::chrono::steady_clock::time_point last_{};
};

enum class Outcome { kPrinted, kRestart, kFailed, kDeleted };

// SIGINT and SIGTERM blocked in every thread (those the monitor starts later inherit it), so
// that only JobDeleter's sigwait takes them.
class StopSignals {
  public:
    StopSignals() {
        sigemptyset(&set_);
        sigaddset(&set_, SIGINT);
        sigaddset(&set_, SIGTERM);
        pthread_sigmask(SIG_BLOCK, &set_, nullptr);
    }
    ~StopSignals() { pthread_sigmask(SIG_UNBLOCK, &set_, nullptr); }
    const sigset_t& Set() const { return set_; }

  private:
    sigset_t set_;
};

// Deletes the job when SIGINT or SIGTERM arrives, as a user deletes a printing job in the
// queue; a second signal ends the process at once.
class JobDeleter {
  public:
    JobDeleter(const StopSignals& signals, SpoolerHost* host)
        : signals_(signals.Set()), host_(host) {}
    ~JobDeleter() {
        if (thread_.joinable()) {
            done_ = true;
            pthread_kill(thread_.native_handle(), SIGTERM);
            thread_.join();
        }
    }
    void Watch(DWORD jobId) {
        thread_ = std::thread([this, jobId] {
            int signal = 0;
            while (sigwait(&signals_, &signal) == 0 && !done_) {
                if (signal_ != 0) {
                    _exit(128 + signal);
                }
                signal_ = signal;
                host_->SetJobStatus(jobId, JOB_STATUS_DELETING);
                fprintf(stderr, "\nnvspool: deleting job %u\n", static_cast<unsigned>(jobId));
            }
        });
    }
    int Signal() const { return signal_; }

  private:
    sigset_t signals_;
    SpoolerHost* host_;
    std::thread thread_;
    std::atomic<int> signal_{0};
    std::atomic<bool> done_{false};
};

// The job's status text as the monitor sets it. A text that only counts on ("... for 5 s",
// "... in 3 s") rewrites its line on a terminal and is not repeated elsewhere, so that a
// long wait is one line in a log.
class StatusLine {
  public:
    void Show(DWORD id, const std::string& text) {
        std::lock_guard<std::mutex> lock(mutex_);
        if (text.empty()) {
            return;
        }
        std::string shape;
        for (char c : text) {
            if (c < '0' || c > '9') {
                shape += c;
            }
        }
        bool same = shape == shape_;
        shape_ = shape;
        if (same && !terminal_) {
            return;
        }
        fprintf(stderr, "%snvspool: job %u: %s%s", same ? "\r" : (open_ ? "\n" : ""),
                static_cast<unsigned>(id), text.c_str(), terminal_ ? "\033[K" : "\n");
        open_ = terminal_;
        fflush(stderr);
    }
    ~StatusLine() {
        if (open_) {
            fputc('\n', stderr);
        }
    }

  private:
    std::mutex mutex_;
    std::string shape_;
    bool terminal_ = isatty(STDERR_FILENO) != 0;
    bool open_ = false;
};

// One pass over the data: StartDocPort, the writes, EndDocPort.
Outcome PrintOnce(SpoolerHost& host, HANDLE port, const PrintOptions& o, DWORD jobId, FILE* input,
                  long long size, const JobDeleter& deleter, std::string* failure, DWORD* error) {
    const MONITOR2* table = host.Table();
    std::u16string printer = NvFromUtf8(o.printer.c_str());
    std::u16string document = NvFromUtf8(o.document.c_str());
    std::u16string outputFile = NvFromUtf8(o.outputFile.c_str());
    std::u16string datatype = u"RAW";
    DOC_INFO_2W info{};
    info.pDocName = document.data();
    info.pOutputFile = o.outputFile.empty() ? nullptr : outputFile.data();
    info.pDatatype = datatype.data();
    info.JobId = jobId;
    size_t commandsBefore = host.JobCommands(jobId).size();
    auto restartAsked = [&] {
        std::vector<DWORD> commands = host.JobCommands(jobId);
        for (size_t i = commandsBefore; i < commands.size(); ++i) {
            if (commands[i] == JOB_CONTROL_RESTART) {
                return true;
            }
        }
        return false;
    };
    auto ended = [&](const char* step, BOOL ok) {
        *error = ok ? ERROR_SUCCESS : GetLastError();
        *failure = step;
        if (deleter.Signal() != 0) {
            return Outcome::kDeleted;
        }
        if (ok) {
            return Outcome::kPrinted;
        }
        return restartAsked() ? Outcome::kRestart : Outcome::kFailed;
    };
    if (!table->pfnStartDocPort(port, printer.data(), jobId, o.level,
                                reinterpret_cast<LPBYTE>(&info))) {
        Outcome outcome = ended("StartDocPort", FALSE);
        return outcome == Outcome::kRestart ? Outcome::kFailed : outcome;
    }
    rewind(input);
    std::vector<BYTE> block(o.block);
    Progress progress(size, !o.quiet);
    long long done = 0;
    int retries = 0;
    size_t n;
    while (deleter.Signal() == 0 && (n = fread(block.data(), 1, block.size(), input)) > 0) {
        size_t offset = 0;
        while (offset < n && deleter.Signal() == 0) {
            DWORD written = 0;
            BOOL ok = table->pfnWritePort(port, block.data() + offset,
                                          static_cast<DWORD>(n - offset), &written);
            // The count holds even when the call failed: those bytes went to the port.
            offset += written;
            done += written;
            progress.Update(done);
            if (ok) {
                continue;
            }
            *error = GetLastError();
            if (restartAsked() || *error == ERROR_PRINT_CANCELLED) {
                progress.Finish();
                DWORD writeError = *error;
                Outcome outcome = ended("EndDocPort", table->pfnEndDocPort(port));
                if (outcome != Outcome::kDeleted) {
                    *error = writeError;  // what ended the connection, not its aftermath
                    *failure = "WritePort";
                }
                return outcome == Outcome::kPrinted ? Outcome::kRestart : outcome;
            }
            // A time-out: the printer does not take data now (the monitor says so in the
            // job's status text). Anything else counts against --retries.
            if (*error != ERROR_TIMEOUT && ++retries > o.retries) {
                progress.Finish();
                table->pfnEndDocPort(port);
                *failure = "WritePort";
                return deleter.Signal() != 0 ? Outcome::kDeleted : Outcome::kFailed;
            }
        }
    }
    progress.Update(done, true);
    progress.Finish();
    return ended("EndDocPort", table->pfnEndDocPort(port));
}

}  // namespace

int Print(const std::vector<std::string>& args, const Options& options) {
    PrintOptions o;
    int parsed = ParseOptions(args, &o);
    if (parsed >= 0) {
        return parsed;
    }
    if (o.user.empty())
        o.user = CallerName();
    if (o.machine.empty())
        o.machine = "\\\\" + HostName();
    if (o.document.empty()) {
        o.document =
            o.file == "-" ? "(standard input)" : o.file.substr(o.file.find_last_of('/') + 1);
    }
    std::string error;
    FILE* input = OpenInput(o.file, &error);
    if (input == nullptr) {
        fprintf(stderr, "nvspool: %s\n", error.c_str());
        return 1;
    }
    fseeko(input, 0, SEEK_END);
    long long size = ftello(input);

    StopSignals signals;  // before any thread starts
    StatusLine status;    // outlives the host, which reports to it
    SpoolerHost host;
    JobDeleter deleter(signals, &host);
    int exitCode = 0;
    if (!LoadMonitor(host, options, &exitCode)) {
        fclose(input);
        return exitCode;
    }
    Job job;
    job.id = o.jobId;
    job.printer = NvFromUtf8(o.printer.c_str());
    job.machine = NvFromUtf8(o.machine.c_str());
    job.user = NvFromUtf8(o.user.c_str());
    job.document = NvFromUtf8(o.document.c_str());
    DWORD jobId = host.AddJob(job);
    deleter.Watch(jobId);
    if (!o.quiet) {
        host.SetStatusObserver([&status](DWORD id, const std::u16string& text) {
            status.Show(id, NvToUtf8(text.c_str()));
        });
    }

    const MONITOR2* table = host.Table();
    std::u16string portName = NvFromUtf8(o.port.c_str());
    HANDLE port = nullptr;
    SetLastError(ERROR_SUCCESS);
    if (!table->pfnOpenPort(host.MonitorHandle(), portName.data(), &port)) {
        fclose(input);
        DWORD code = GetLastError();
        // The monitor does not know the name: an unknown port, as show and config say.
        return Fail("OpenPort " + o.port, code == ERROR_SUCCESS ? ERROR_UNKNOWN_PORT : code);
    }
    Outcome outcome = Outcome::kFailed;
    std::string failure;
    DWORD code = ERROR_SUCCESS;
    int attempt = 0;
    for (;; ++attempt) {
        outcome = PrintOnce(host, port, o, jobId, input, size, deleter, &failure, &code);
        if (outcome != Outcome::kRestart) {
            break;
        }
        if (attempt >= o.restarts) {
            if (attempt > 0) {
                failure += " (after " + std::to_string(attempt) + " job restarts)";
            }
            outcome = Outcome::kFailed;
            break;
        }
        if (!o.quiet) {
            fprintf(stderr, "nvspool: the monitor asked for a job restart; printing again\n");
        }
    }
    table->pfnClosePort(port);
    fclose(input);
    if (outcome == Outcome::kDeleted) {
        fprintf(stderr, "nvspool: job %u on %s was deleted before the printer had all of it\n",
                static_cast<unsigned>(jobId), o.port.c_str());
        return 128 + deleter.Signal();
    }
    if (outcome != Outcome::kPrinted) {
        std::string what = failure + " on " + o.port;
        if (code == ERROR_PRINT_CANCELLED && o.outputFile.empty()) {
            // The monitor asks the user for the file of a FILE: job; here no dialog can.
            what += ": a job to FILE: needs the file to print into: give --output-file PATH";
        }
        return Fail(what, code);
    }
    if (!o.quiet) {
        printf("Printed %s to %s (job %u).\n", SizeText(size).c_str(), o.port.c_str(),
               static_cast<unsigned>(jobId));
    }
    return 0;
}

}  // namespace nvspool
