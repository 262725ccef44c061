// The job host's cases: raw and LPR jobs through the monitor's MONITOR2 table, each checked at
// both ends (what the monitor answered and the job commands it sent to the spooler; what the
// printer simulator received).
//
//   job_host MONITOR_LIBRARY PEERS_DIR [GROUP...]
//
// PEERS_DIR has one directory per printer simulator that the calling script started:
// NAME/port (its TCP port on 127.0.0.1), NAME/out (its job files), NAME/log (its stderr). Every
// case prints "case NAME: OUTCOME"; the outcomes are the same on every platform. An expectation
// that does not hold prints "FAILED: NAME: ..." and makes the exit code 1.
#include "tests/win32/job_host.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <map>
#include <mutex>
#include <sstream>
#include <thread>

namespace jobhost {
namespace {

using Clock = std::chrono::steady_clock;

const WCHAR kMonitorKey[] =
    WSTR("SYSTEM\\CurrentControlSet\\Control\\Print\\Monitors\\NORVA TCP/IP Port");
const WCHAR kPrinter[] = WSTR("Job Host Printer");
constexpr DWORD kProtocolRaw = 1;
constexpr DWORD kProtocolLpr = 2;
constexpr size_t kFiveMiB = 5 * 1024 * 1024;
// Handles that may come and go outside the jobs (a worker thread of the system).
constexpr size_t kHandleSlack = 3;
// The spooler hands a job over in blocks of every size: single bytes, around the transport's
// 1024-byte pieces, and large ones.
const std::vector<size_t> kVariedBlocks = {1, 7, 1000, 1023, 1024, 1025, 4096, 65536, 300000};

WString Wide(const std::string& ascii) {
    return WString(ascii.begin(), ascii.end());
}

long long MsSince(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

std::string ReadWhole(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

// Data that is no repeating pattern: a shifted or duplicated piece shows.
std::string Pattern(size_t size, uint32_t seed = 2463534242u) {
    std::string data(size, '\0');
    uint32_t x = seed;
    for (auto& c : data) {
        x ^= x << 13, x ^= x >> 17, x ^= x << 5;
        c = static_cast<char>(x);
    }
    return data;
}

// What the printer holds compared with what was sent.
std::string Delivered(const std::string& received, const std::string& sent) {
    if (received == sent) {
        return "whole";
    }
    if (received.empty()) {
        return "none";
    }
    if (received.size() < sent.size() && sent.compare(0, received.size(), received) == 0) {
        return std::to_string(received.size());
    }
    return "differs";
}

std::string Commands(const std::vector<DWORD>& commands) {
    std::string text;
    for (DWORD c : commands) {
        if (!text.empty()) {
            text += ',';
        }
        text += std::to_string(c);
    }
    return text.empty() ? "-" : text;
}

// Ends the process when a group of cases runs far past any bound of its jobs: a call into the
// monitor that never returns fails the run with the group's name instead of holding it.
class Watchdog {
  public:
    static constexpr int kGroupSeconds = 120;

    Watchdog() : thread_([this] { Watch(); }) {}
    ~Watchdog() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stopping_ = true;
        }
        changed_.notify_all();
        thread_.join();
    }
    void Arm(const char* group) {
        std::lock_guard<std::mutex> lock(mutex_);
        group_ = group;
        deadline_ = Clock::now() + std::chrono::seconds(kGroupSeconds);
    }

  private:
    void Watch() {
        std::unique_lock<std::mutex> lock(mutex_);
        while (!stopping_) {
            if (group_ != nullptr && Clock::now() > deadline_) {
                printf("FAILED: %s: still running after %d s (a call into the monitor hangs)\n",
                       group_, kGroupSeconds);
                fflush(stdout);
                std::_Exit(1);
            }
            changed_.wait_for(lock, std::chrono::milliseconds(200));
        }
    }

    std::mutex mutex_;
    std::condition_variable changed_;
    const char* group_ = nullptr;
    Clock::time_point deadline_;
    bool stopping_ = false;
    std::thread thread_;
};

// A printer simulator started by the script.
class Peer {
  public:
    Peer(const std::string& peers, const std::string& name) : dir_(peers + "/" + name) {
        port_ = static_cast<DWORD>(atol(ReadWhole(dir_ + "/port").c_str()));
    }
    DWORD port() const { return port_; }
    bool valid() const { return port_ != 0; }

    // The summary line of the next connection, waited for up to timeoutMs; empty if none came.
    std::string NextSummary(int timeoutMs = 10000) {
        ++jobs_;
        auto start = Clock::now();
        do {
            std::string line = Summary(jobs_);
            if (!line.empty()) {
                return line;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        } while (MsSince(start) < timeoutMs);
        return "";
    }
    // Whether a connection came after the last one looked at.
    bool AnotherConnection(int waitMs = 300) {
        std::this_thread::sleep_for(std::chrono::milliseconds(waitMs));
        return !Summary(jobs_ + 1).empty();
    }
    // A file the printer stored for the connection last looked at ("prn", "cf", "df").
    std::string JobFile(const char* extension) const { return ReadWhole(JobPath(extension)); }
    bool HasJobFile(const char* extension) const {
        return std::ifstream(JobPath(extension)).good();
    }

  private:
    std::string JobPath(const char* extension) const {
        char name[32];
        snprintf(name, sizeof name, "/out/job-%04d.%s", jobs_, extension);
        return dir_ + name;
    }
    // Raw: "job N: BYTES bytes from ..."; LPD: "job N: status S (...) from ...".
    std::string Summary(int number) const {
        std::istringstream log(ReadWhole(dir_ + "/log"));
        std::string prefix = "job " + std::to_string(number) + ": ";
        for (std::string line; std::getline(log, line);) {
            if (line.compare(0, prefix.size(), prefix) == 0 &&
                line.find(" from ") != std::string::npos &&
                line.find("violation") == std::string::npos) {
                return line;
            }
        }
        return "";
    }

    std::string dir_;
    DWORD port_ = 0;
    int jobs_ = 0;
};

// What one job did, seen from the spooler.
struct JobRun {
    bool started = false;
    DWORD startError = 0;
    DWORD writeError = 0;  // of the first WritePort that failed and was not taken up again
    int timeOuts = 0;      // WritePorts that timed out and were taken up again
    long long accepted = 0;
    bool ended = false;
    DWORD endError = 0;
    std::vector<DWORD> commands;
    long long slowestMs = 0;  // the longest single call into the monitor
};

class Host {
  public:
    Host(JobMachine* machine, std::string peers) : machine_(machine), peers_(std::move(peers)) {}

    // Runs every group of cases, or those named in `only`.
    int Run(const std::string& library, const std::vector<std::string>& only);

  private:
    // --- Setup ---
    bool AddPorts();
    void AddPort(const std::string& name, const std::string& peer, DWORD protocol, DWORD timeOut);
    bool Load(const std::string& library);

    // --- One job as the spooler drives it ---
    DWORD NewJob(DWORD id, const char* machine = "\\\\JOBHOST", const char* user = "tester",
                 const char* document = "Job Host Document");
    template <class Call>
    BOOL Timed(JobRun* run, Call call);
    using BeforeEnd = std::function<void(HANDLE port, JobRun* run)>;
    // StartDocPort, the data in blocks (a WritePort that times out is taken up again after the
    // bytes it reported, up to `timeOutRetries` times, as the spooler does; any other failure
    // ends the writing), `beforeEnd`, then EndDocPort and ClosePort.
    JobRun Print(const std::string& port, DWORD id, const std::string& data,
                 const std::vector<size_t>& blocks, int timeOutRetries = 0,
                 const BeforeEnd& beforeEnd = nullptr);

    // --- Reporting ---
    void Expect(const std::string& name, bool ok, const std::string& what);
    void Outcome(const std::string& name, const std::string& outcome);
    void ExpectPrinted(const std::string& name, const JobRun& run);
    void ExpectRestarted(const std::string& name, const JobRun& run);

    // --- The cases ---
    void RawSizes();
    void RawRefused();
    void RawStalled();
    void RawReset();
    void RawTalkBack();
    void RawRandomResets();
    void RawPauses();
    void LprJob();
    void LprEmptyAndLarge();
    void LprRefusals();
    void LprSilent();
    void LprRefusedAndNoJobInfo();

    Peer& peer(const std::string& name) {
        auto it = peerList_.find(name);
        if (it == peerList_.end()) {
            it = peerList_.emplace(name, Peer(peers_, name)).first;
        }
        return it->second;
    }

    JobMachine* machine_;
    std::string peers_;
    std::map<std::string, Peer> peerList_;
    HKEY root_ = nullptr;
    const MONITOR2* table_ = nullptr;
    HANDLE monitor_ = nullptr;
    int failures_ = 0;
};

// --- Setup ---

void Host::AddPort(const std::string& name, const std::string& peerName, DWORD protocol,
                   DWORD timeOut) {
    HKEY key = nullptr;
    WString path = WString(WSTR("Ports\\")) + Wide(name);
    if (RegCreateKeyExW(root_, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                        nullptr) != ERROR_SUCCESS) {
        Expect("setup", false, "port key " + name);
        return;
    }
    auto text = [&](const WCHAR* value, const WString& data) {
        RegSetValueExW(key, value, 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                       static_cast<DWORD>((data.size() + 1) * sizeof(WCHAR)));
    };
    auto number = [&](const WCHAR* value, DWORD data) {
        RegSetValueExW(key, value, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&data), sizeof data);
    };
    text(WSTR("IPAddress"), WSTR("127.0.0.1"));
    text(WSTR("HostName"), WSTR(""));
    text(WSTR("HWAddress"), WSTR(""));
    number(WSTR("Protocol"), protocol);
    number(WSTR("PortNumber"), peer(peerName).port());
    number(WSTR("SnmpTimeOut"), timeOut);
    if (protocol == kProtocolLpr) {
        text(WSTR("QueueName"), WSTR("lp"));
    }
    RegCloseKey(key);
}

bool Host::AddPorts() {
    for (const char* name : {"raw", "refused", "stall", "reset", "talk", "random", "pause", "lpd",
                             "nak1", "nak5", "close3", "silent3"}) {
        if (!peer(name).valid()) {
            printf("FAILED: setup: no printer simulator '%s' in %s\n", name, peers_.c_str());
            return false;
        }
    }
    AddPort("RAW", "raw", kProtocolRaw, 15000);
    AddPort("REFUSED", "refused", kProtocolRaw, 15000);
    AddPort("STALL", "stall", kProtocolRaw, 1000);
    AddPort("RESET", "reset", kProtocolRaw, 2000);
    AddPort("TALK", "talk", kProtocolRaw, 5000);
    AddPort("RANDOM", "random", kProtocolRaw, 2000);
    AddPort("PAUSE", "pause", kProtocolRaw, 1000);
    AddPort("LPR", "lpd", kProtocolLpr, 15000);
    AddPort("NAK1", "nak1", kProtocolLpr, 15000);
    AddPort("NAK5", "nak5", kProtocolLpr, 15000);
    AddPort("CLOSE3", "close3", kProtocolLpr, 15000);
    AddPort("SILENT3", "silent3", kProtocolLpr, 1000);
    AddPort("LPRREFUSED", "refused", kProtocolLpr, 15000);
    return failures_ == 0;
}

// As the spooler loads a monitor: the library, its InitializePrintMonitor2 with a MONITORINIT
// whose registry root is the monitor's own key. The monitor keeps its ports through that key
// directly and never calls the MONITORREG functions, so none are given.
bool Host::Load(const std::string& library) {
    WString path = Wide(library);
    HMODULE module = LoadLibraryW(path.c_str());
    if (module == nullptr) {
        printf("FAILED: setup: cannot load %s: error %lu\n", library.c_str(),
               static_cast<unsigned long>(GetLastError()));
        return false;
    }
    std::string why;
    if (!machine_->Ready(&why)) {
        printf("FAILED: setup: %s\n", why.c_str());
        return false;
    }
    using Initialize = LPMONITOR2(WINAPI*)(PMONITORINIT, PHANDLE);
    auto initialize = reinterpret_cast<Initialize>(
        reinterpret_cast<void*>(GetProcAddress(module, "InitializePrintMonitor2")));
    if (initialize == nullptr) {
        printf("FAILED: setup: %s exports no InitializePrintMonitor2\n", library.c_str());
        return false;
    }
    static MONITORINIT init{};
    init.cbSize = sizeof init;
    init.hSpooler = reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(0x5350));
    init.hckRegistryRoot = reinterpret_cast<decltype(init.hckRegistryRoot)>(root_);
    init.pMonitorReg = nullptr;
    init.bLocal = TRUE;
    init.pszServerName = nullptr;
    table_ = initialize(&init, &monitor_);
    if (table_ == nullptr) {
        printf("FAILED: setup: InitializePrintMonitor2 failed: error %lu\n",
               static_cast<unsigned long>(GetLastError()));
        return false;
    }
    return true;
}

// --- One job ---

DWORD Host::NewJob(DWORD id, const char* machine, const char* user, const char* document) {
    machine_->AddJob(id, kPrinter, Wide(machine), Wide(user), Wide(document));
    return id;
}

template <class Call>
BOOL Host::Timed(JobRun* run, Call call) {
    auto start = Clock::now();
    BOOL result = call();
    DWORD error = GetLastError();
    run->slowestMs = std::max(run->slowestMs, MsSince(start));
    SetLastError(error);
    return result;
}

JobRun Host::Print(const std::string& portName, DWORD id, const std::string& data,
                   const std::vector<size_t>& blocks, int timeOutRetries,
                   const BeforeEnd& beforeEnd) {
    JobRun run;
    WString name = Wide(portName);
    HANDLE port = nullptr;
    if (!table_->pfnOpenPort(monitor_, name.data(), &port)) {
        Expect(portName, false, "OpenPort");
        return run;
    }
    WString printer = kPrinter;
    WString document = WSTR("Job Host Document");
    WString datatype = WSTR("RAW");
    DOC_INFO_1W info = {document.data(), nullptr, datatype.data()};
    run.started = Timed(&run, [&] {
        return table_->pfnStartDocPort(port, printer.data(), id, 1,
                                       reinterpret_cast<LPBYTE>(&info));
    });
    if (!run.started) {
        run.startError = GetLastError();
        DWORD written = 0;
        std::string one = "x";
        if (!table_->pfnWritePort(port, reinterpret_cast<LPBYTE>(one.data()), 1, &written)) {
            run.writeError = GetLastError();
        }
    } else {
        size_t offset = 0;
        for (size_t i = 0; offset < data.size(); ++i) {
            size_t block = std::min(blocks[i % blocks.size()], data.size() - offset);
            // The spooler's buffer, gone once WritePort returns: the monitor must have
            // copied what it still sends.
            std::string copy = data.substr(offset, block);
            DWORD written = 0;
            BOOL ok = Timed(&run, [&] {
                return table_->pfnWritePort(port, reinterpret_cast<LPBYTE>(copy.data()),
                                            static_cast<DWORD>(block), &written);
            });
            DWORD error = GetLastError();
            offset += written;
            run.accepted += written;
            if (!ok) {
                if (error == ERROR_TIMEOUT && run.timeOuts < timeOutRetries) {
                    ++run.timeOuts;
                    continue;
                }
                run.writeError = error;
                break;
            }
        }
        if (beforeEnd) {
            beforeEnd(port, &run);
        }
        SetLastError(0);
        run.ended = Timed(&run, [&] { return table_->pfnEndDocPort(port); });
        run.endError = run.ended ? 0 : GetLastError();
    }
    run.commands = machine_->JobCommands(id);
    Expect(portName, machine_->OpenPrinters() == 0, "the job's printer is closed at its end");
    Expect(portName, table_->pfnClosePort(port) != FALSE, "ClosePort");
    return run;
}

// --- Reporting ---

void Host::Expect(const std::string& name, bool ok, const std::string& what) {
    if (!ok) {
        printf("FAILED: %s: %s\n", name.c_str(), what.c_str());
        fflush(stdout);
        ++failures_;
    }
}

void Host::Outcome(const std::string& name, const std::string& outcome) {
    printf("case %s: %s\n", name.c_str(), outcome.c_str());
    fflush(stdout);
}

void Host::ExpectPrinted(const std::string& name, const JobRun& run) {
    Expect(name, run.started, "StartDocPort succeeds, error " + std::to_string(run.startError));
    Expect(name, run.writeError == 0,
           "every WritePort succeeds, error " + std::to_string(run.writeError));
    Expect(name, run.ended, "EndDocPort succeeds, error " + std::to_string(run.endError));
    Expect(name, run.commands == std::vector<DWORD>{JOB_CONTROL_SENT_TO_PRINTER},
           "the job is reported sent to the printer, once; commands " + Commands(run.commands));
}

// A failed job is never reported sent; the spooler is asked to print it again.
void Host::ExpectRestarted(const std::string& name, const JobRun& run) {
    Expect(name, !run.ended, "EndDocPort fails");
    Expect(name,
           std::find(run.commands.begin(), run.commands.end(),
                     static_cast<DWORD>(JOB_CONTROL_SENT_TO_PRINTER)) == run.commands.end(),
           "never reported sent; commands " + Commands(run.commands));
    Expect(name, !run.commands.empty() && run.commands.back() == JOB_CONTROL_RESTART,
           "the job is restarted; commands " + Commands(run.commands));
}

// --- Raw TCP ---

void Host::RawSizes() {
    Peer& printer = peer("raw");
    const size_t sizes[] = {0, 1, 1023, 1024, 1025, kFiveMiB};
    DWORD id = 100;
    for (size_t size : sizes) {
        std::string name = size == kFiveMiB ? "raw-5MiB" : "raw-" + std::to_string(size);
        std::string data = Pattern(size, static_cast<uint32_t>(size) + 1);
        std::vector<size_t> blocks = size > 1025 ? kVariedBlocks : std::vector<size_t>{size};
        JobRun run = Print("RAW", NewJob(++id), data, blocks);
        ExpectPrinted(name, run);
        std::string summary = printer.NextSummary();
        std::string received = printer.JobFile("prn");
        Expect(name, !summary.empty(), "the printer saw the job end");
        Expect(name, received == data,
               "the printer holds the job byte for byte: " + Delivered(received, data));
        Outcome(name, "start=" + std::to_string(run.started) + " end=" + std::to_string(run.ended) +
                          " commands=" + Commands(run.commands) +
                          " printer=" + Delivered(received, data));
    }
}

// Windows reports a failed connection in the exception set only: a wait on the write set alone
// would run its ten passes of five seconds and call the refused printer connected.
void Host::RawRefused() {
    const std::string name = "raw-refused";
    JobRun run = Print("REFUSED", NewJob(200), "lost", {4});
    Expect(name, !run.started, "StartDocPort fails");
    Expect(name, run.startError == WSAECONNREFUSED,
           "with WSAECONNREFUSED, not " + std::to_string(run.startError));
    Expect(name, run.slowestMs < 10000,
           "at once, not after the connection waits: " + std::to_string(run.slowestMs) + " ms");
    Expect(name, run.writeError == ERROR_INVALID_HANDLE, "a WritePort then has no job");
    Expect(name, run.commands.empty(), "no job command; commands " + Commands(run.commands));
    Outcome(name, "start=" + std::to_string(run.started) +
                      " error=" + std::to_string(run.startError) + " write-error=" +
                      std::to_string(run.writeError) + " commands=" + Commands(run.commands));
}

// The printer reads nothing. Once the socket's buffers are full a WritePort fails after the
// port's time-out (1000 ms) and leaves its send in flight; the next one fails the same way;
// EndDocPort fails with the piece still in flight and restarts the job.
void Host::RawStalled() {
    const std::string name = "raw-stalled";
    DWORD again = 0;
    JobRun run = Print("STALL", NewJob(210), Pattern(32 * 1024 * 1024), {256 * 1024}, 0,
                       [&](HANDLE port, JobRun* r) {
                           std::string more = "more";
                           DWORD written = 0;
                           if (!Timed(r, [&] {
                                   return table_->pfnWritePort(
                                       port, reinterpret_cast<LPBYTE>(more.data()), 4, &written);
                               })) {
                               again = GetLastError();
                           }
                       });
    Expect(name, run.writeError == ERROR_TIMEOUT,
           "a WritePort times out, error " + std::to_string(run.writeError));
    Expect(name, again == ERROR_TIMEOUT, "the next one too, error " + std::to_string(again));
    bool bounded = run.slowestMs < 1000 + 3000;
    Expect(name, bounded,
           "no call outlasts the time-out much: " + std::to_string(run.slowestMs) + " ms");
    Expect(name, run.endError == ERROR_TIMEOUT,
           "EndDocPort fails with ERROR_TIMEOUT, not " + std::to_string(run.endError));
    ExpectRestarted(name, run);
    peer("stall").NextSummary();
    Outcome(name,
            "write-error=" + std::to_string(run.writeError) + " again=" + std::to_string(again) +
                " end=" + std::to_string(run.ended) + " error=" + std::to_string(run.endError) +
                " commands=" + Commands(run.commands) + " bounded=" + (bounded ? "yes" : "no"));
}

// The printer resets the connection after 300,000 of 1,000,000 bytes, with the rest still in
// socket buffers: every WritePort may have succeeded, the job fails all the same.
void Host::RawReset() {
    const std::string name = "raw-reset";
    std::string data = Pattern(1000000);
    JobRun run = Print("RESET", NewJob(220), data, {16384});
    ExpectRestarted(name, run);
    bool reset = run.endError == WSAECONNRESET || run.endError == WSAECONNABORTED;
    Expect(name, reset, "the error is the reset, not " + std::to_string(run.endError));
    peer("reset").NextSummary();
    std::string received = peer("reset").JobFile("prn");
    Expect(name, received.size() == 300000, "the printer took 300000 bytes");
    Outcome(name, "end=" + std::to_string(run.ended) +
                      " error=" + (reset ? "reset" : std::to_string(run.endError)) + " commands=" +
                      Commands(run.commands) + " printer=" + Delivered(received, data));
}

// A printer that sends 40 bytes of status when each job starts and reads slowly: closing with
// the status unread would reset the connection and lose the end of the job.
void Host::RawTalkBack() {
    const std::string name = "raw-talk-back";
    int printed = 0;
    int whole = 0;
    const int kJobs = 5;
    for (int i = 0; i < kJobs; ++i) {
        std::string data = Pattern(300 * 1024, 300 + i);
        JobRun run = Print("TALK", NewJob(230 + i), data, {65536});
        ExpectPrinted(name, run);
        peer("talk").NextSummary();
        printed += run.ended ? 1 : 0;
        whole += peer("talk").JobFile("prn") == data ? 1 : 0;
    }
    Expect(name, whole == kJobs, "every job arrives whole");
    Outcome(name, "jobs=" + std::to_string(kJobs) + " printed=" + std::to_string(printed) +
                      " whole=" + std::to_string(whole));
}

// The printer resets each job after a random count of bytes below 2,000,000 (the same counts
// every run), while most of the 16 MiB job is still to be sent: every job fails and is
// restarted, and the printer holds the start of each, never more and never anything else.
void Host::RawRandomResets() {
    const std::string name = "raw-random-resets";
    const int kJobs = 8;
    std::string data = Pattern(16 * 1024 * 1024, 400);
    int printed = 0;
    int whole = 0;
    int restarted = 0;
    for (int i = 0; i < kJobs; ++i) {
        JobRun run = Print("RANDOM", NewJob(240 + i), data, {65536});
        peer("random").NextSummary();
        std::string received = peer("random").JobFile("prn");
        std::string delivered = Delivered(received, data);
        std::string job = name + " job " + std::to_string(i + 1);
        Expect(job, delivered != "differs", "the printer holds the start of the job");
        printed += run.ended ? 1 : 0;
        whole += delivered == "whole" ? 1 : 0;
        if (!run.ended) {
            ExpectRestarted(job, run);
            ++restarted;
        }
    }
    Expect(name, printed == whole, "as many reported printed as arrived whole");
    Outcome(name, "jobs=" + std::to_string(kJobs) + " printed=" + std::to_string(printed) +
                      " whole=" + std::to_string(whole) +
                      " restarted=" + std::to_string(restarted));
}

// The printer stops reading for 5 s after 100 kB; the port's time-out is 1000 ms. The pause is
// long enough for a slow host (Wine on a loaded machine) to fill the loopback socket's buffers
// and still wait a whole time-out. A WritePort that times out part-way reports what it handed
// to the socket, and the job goes on after that: the printer receives every byte exactly once.
void Host::RawPauses() {
    const std::string name = "raw-pause";
    std::string data = Pattern(20000000, 7);
    JobRun run = Print("PAUSE", NewJob(260), data, {65536}, 40);
    ExpectPrinted(name, run);
    Expect(name, run.timeOuts > 0, "a WritePort timed out during the pause");
    Expect(name, run.accepted == static_cast<long long>(data.size()),
           "the counts reported add up to the job: " + std::to_string(run.accepted));
    peer("pause").NextSummary();
    std::string received = peer("pause").JobFile("prn");
    Expect(name, received == data,
           "no byte is lost or sent twice: " + Delivered(received, data) + " (" +
               std::to_string(received.size()) + " bytes)");
    Outcome(name, "end=" + std::to_string(run.ended) + " commands=" + Commands(run.commands) +
                      " timed-out=" + (run.timeOuts > 0 ? "yes" : "no") +
                      " printer=" + Delivered(received, data));
}

// --- LPR ---

// The control and data files arrive exactly, from a reserved local port; the job spools into a
// private directory of its own that is gone once the job ends.
void Host::LprJob() {
    const std::string name = "lpr-job";
    std::vector<std::string> spoolBefore = machine_->SpoolDirectories();
    std::vector<std::string> during;
    std::string why;
    bool isPrivate = false;
    JobRun run = Print(
        "LPR", NewJob(7, "pc7", "alice", "Report"), "hello lpd", {9}, 0, [&](HANDLE, JobRun*) {
            for (const auto& dir : machine_->SpoolDirectories()) {
                if (std::find(spoolBefore.begin(), spoolBefore.end(), dir) == spoolBefore.end()) {
                    during.push_back(dir);
                }
            }
            isPrivate = during.size() == 1 && machine_->IsPrivate(during[0], &why);
        });
    ExpectPrinted(name, run);
    Expect(name, during.size() == 1,
           "one spool directory during the job, not " + std::to_string(during.size()));
    Expect(name, isPrivate, "the spool directory is private: " + why);
    std::vector<std::string> after = machine_->SpoolDirectories();
    bool removed =
        !during.empty() && std::find(after.begin(), after.end(), during[0]) == after.end();
    Expect(name, removed, "the spool directory is gone after the job");

    Peer& lpd = peer("lpd");
    std::string summary = lpd.NextSummary();
    std::string control = lpd.JobFile("cf");
    std::string data = lpd.JobFile("df");
    const std::string expectedControl =
        "Hpc7\nPalice\nJReport\nTReport\nldfA007pc7\nUdfA007pc7\nNReport\n";
    Expect(name, summary.find(": status 0 ") != std::string::npos, "received: " + summary);
    size_t from = summary.find(" from 127.0.0.1:");
    int source = from == std::string::npos ? 0 : atoi(summary.c_str() + from + 16);
    Expect(name, source >= 721 && source <= 731,
           "from a local port in 721..731, not " + std::to_string(source));
    Expect(name, summary.find("queue \"lp\"") != std::string::npos, "to the queue lp");
    Expect(name,
           summary.find("cfa007pc7") != std::string::npos &&
               summary.find("dfA007pc7 9 bytes") != std::string::npos,
           "the files' names: " + summary);
    Expect(name, control == expectedControl, "the control file: " + control);
    Expect(name, data == "hello lpd", "the data file: " + data);
    Outcome(name, "end=" + std::to_string(run.ended) + " commands=" + Commands(run.commands) +
                      " control=" + (control == expectedControl ? "exact" : "differs") +
                      " data=" + (data == "hello lpd" ? "exact" : "differs") +
                      " source=" + (source >= 721 && source <= 731 ? "721..731" : "other") +
                      " spool=" + (isPrivate ? "private" : "open") +
                      (removed ? ",removed" : ",left"));
}

void Host::LprEmptyAndLarge() {
    Peer& lpd = peer("lpd");
    {
        const std::string name = "lpr-empty";
        JobRun run = Print("LPR", NewJob(8, "pc7", "bob", "Nothing"), "", {1});
        ExpectPrinted(name, run);
        std::string summary = lpd.NextSummary();
        bool announced = summary.find("dfA008pc7 0 bytes") != std::string::npos;
        Expect(name, announced && summary.find(": status 0 ") != std::string::npos,
               "an empty data file: " + summary);
        Outcome(name, "end=" + std::to_string(run.ended) + " commands=" + Commands(run.commands) +
                          " data=" + (announced ? "0" : "?"));
    }
    {
        const std::string name = "lpr-5MiB";
        std::string data = Pattern(kFiveMiB, 1234);
        JobRun run = Print("LPR", NewJob(1234, "pc7", "carol", "Big"), data, kVariedBlocks);
        ExpectPrinted(name, run);
        std::string summary = lpd.NextSummary();
        bool names = summary.find("cfa1234pc7") != std::string::npos &&
                     summary.find("dfA1234pc7 5242880 bytes") != std::string::npos;
        Expect(name, names, "job 1234's files: " + summary);
        std::string received = lpd.JobFile("df");
        Expect(name, received == data, "the data file byte for byte: " + Delivered(received, data));
        Outcome(name, "end=" + std::to_string(run.ended) + " commands=" + Commands(run.commands) +
                          " data=" + Delivered(received, data) +
                          " names=" + (names ? "cfa1234pc7,dfA1234pc7" : "differ"));
    }
}

// A daemon that answers 0x01 (at the receive-job command, or after the data) or hangs up
// fails the job; it is restarted, never reported sent.
void Host::LprRefusals() {
    struct Case {
        const char* name;
        const char* port;
        const char* peer;
        DWORD id;
    };
    const Case cases[] = {{"lpr-nak-at-1", "NAK1", "nak1", 301},
                          {"lpr-nak-at-5", "NAK5", "nak5", 302},
                          {"lpr-close-at-3", "CLOSE3", "close3", 303}};
    for (const Case& c : cases) {
        JobRun run = Print(c.port, NewJob(c.id, "pc7", "dave", "Refused"), "refused data", {12});
        ExpectRestarted(c.name, run);
        bool closed = std::string(c.peer) == "close3";
        bool expected = closed ? (run.endError == WSAEDISCON || run.endError == WSAECONNRESET)
                               : run.endError == ERROR_BAD_NET_RESP;
        Expect(c.name, expected, "the error says why: " + std::to_string(run.endError));
        std::string summary = peer(c.peer).NextSummary();
        Expect(c.name, summary.find(": status 3 ") != std::string::npos,
               "the daemon ended the job: " + summary);
        if (std::string(c.peer) == "nak1") {
            Expect(c.name, !peer(c.peer).HasJobFile("cf"), "no control file after the refusal");
        }
        Outcome(c.name, "end=" + std::to_string(run.ended) + " error=" +
                            (closed && expected ? "closed" : std::to_string(run.endError)) +
                            " commands=" + Commands(run.commands));
    }
}

// A daemon that never answers the control file: the job fails within its time-out (1000 ms).
void Host::LprSilent() {
    const std::string name = "lpr-silent-at-3";
    JobRun run = Print("SILENT3", NewJob(310, "pc7", "erin", "Silent"), "unanswered", {10});
    ExpectRestarted(name, run);
    Expect(name, run.endError == WSAETIMEDOUT, "WSAETIMEDOUT, not " + std::to_string(run.endError));
    Expect(name, run.slowestMs < 6000,
           "within the time-out: EndDocPort took " + std::to_string(run.slowestMs) + " ms");
    peer("silent3").NextSummary();
    Outcome(name, "end=" + std::to_string(run.ended) + " error=" + std::to_string(run.endError) +
                      " commands=" + Commands(run.commands) +
                      " bounded=" + (run.slowestMs < 6000 ? "yes" : "no"));
}

void Host::LprRefusedAndNoJobInfo() {
    {
        const std::string name = "lpr-refused";
        JobRun run = Print("LPRREFUSED", NewJob(320, "pc7", "fay", "Nowhere"), "x", {1});
        ExpectRestarted(name, run);
        Expect(name, run.endError == WSAECONNREFUSED,
               "WSAECONNREFUSED, not " + std::to_string(run.endError));
        Expect(name, run.slowestMs < 10000, "at once: " + std::to_string(run.slowestMs) + " ms");
        Outcome(name, "end=" + std::to_string(run.ended) + " error=" +
                          std::to_string(run.endError) + " commands=" + Commands(run.commands));
    }
    {
        // Without the job's names there is no control file: nothing is sent at all.
        const std::string name = "lpr-no-job-information";
        DWORD id = NewJob(330, "pc7", "gus", "Nameless");
        machine_->FailGetJob(ERROR_INVALID_PARAMETER);
        JobRun run = Print("LPR", id, "nameless", {8}, 0,
                           [&](HANDLE, JobRun*) { machine_->FailGetJob(ERROR_SUCCESS); });
        machine_->FailGetJob(ERROR_SUCCESS);
        ExpectRestarted(name, run);
        Expect(name, run.endError == ERROR_INVALID_DATA,
               "ERROR_INVALID_DATA, not " + std::to_string(run.endError));
        bool connected = peer("lpd").AnotherConnection();
        Expect(name, !connected, "no connection was made");
        Outcome(name, "end=" + std::to_string(run.ended) + " error=" +
                          std::to_string(run.endError) + " commands=" + Commands(run.commands) +
                          " connection=" + (connected ? "made" : "none"));
    }
    Expect("lpr", machine_->SpoolDirectories().empty(), "no spool directory is left behind");
}

int Host::Run(const std::string& library, const std::vector<std::string>& only) {
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, kMonitorKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                        &root_, nullptr) != ERROR_SUCCESS) {
        printf("FAILED: setup: cannot open the monitor's registry key\n");
        return 1;
    }
    if (!AddPorts() || !Load(library)) {
        return 1;
    }
    struct Group {
        const char* name;
        void (Host::*run)();
    };
    const Group groups[] = {
        {"raw-sizes", &Host::RawSizes},
        {"raw-refused", &Host::RawRefused},
        {"raw-stalled", &Host::RawStalled},
        {"raw-reset", &Host::RawReset},
        {"raw-talk-back", &Host::RawTalkBack},
        {"raw-random-resets", &Host::RawRandomResets},
        {"raw-pause", &Host::RawPauses},
        {"lpr-job", &Host::LprJob},
        {"lpr-empty-and-large", &Host::LprEmptyAndLarge},
        {"lpr-refusals", &Host::LprRefusals},
        {"lpr-silent", &Host::LprSilent},
        {"lpr-refused-and-no-job-information", &Host::LprRefusedAndNoJobInfo},
    };
    // The first group starts what lives as long as the process (sockets library, threads);
    // after that, jobs come and go without leaving a handle behind.
    size_t baseline = 0;
    Watchdog watchdog;
    for (const Group& group : groups) {
        if (only.empty() || std::find(only.begin(), only.end(), group.name) != only.end()) {
            watchdog.Arm(group.name);
            (this->*group.run)();
            if (baseline == 0) {
                baseline = machine_->Handles();
            }
        }
    }
    if (only.empty()) {
        size_t now = machine_->Handles();
        printf("handles: %zu after the first jobs, %zu after all\n", baseline, now);
        Expect("handles", now <= baseline + kHandleSlack,
               "jobs leave no handles open: " + std::to_string(baseline) + " after the first " +
                   "jobs, " + std::to_string(now) + " after all");
        Outcome("handles", now <= baseline + kHandleSlack ? "steady" : "grew");
    }
    table_->pfnShutdown(monitor_);
    printf("%s: %d expectation%s failed\n", failures_ == 0 ? "ok" : "FAILED", failures_,
           failures_ == 1 ? "" : "s");
    return failures_ == 0 ? 0 : 1;
}

}  // namespace
}  // namespace jobhost

int main(int argc, char** argv) {
    if (argc < 3) {
        fprintf(stderr, "usage: %s MONITOR_LIBRARY PEERS_DIR [GROUP...]\n", argv[0]);
        return 2;
    }
    std::unique_ptr<jobhost::JobMachine> machine = jobhost::NewJobMachine();
    jobhost::Host host(machine.get(), argv[2]);
    return host.Run(argv[1], std::vector<std::string>(argv + 3, argv + argc));
}
