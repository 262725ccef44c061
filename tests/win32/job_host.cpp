// The job host's cases: raw and LPR jobs through the monitor's MONITOR2 table, each checked at
// both ends (what the monitor answered and the job commands it sent to the spooler; what the
// printer simulator received). The group "faults" runs the shared table of printer faults
// (tests/support/printer_faults.h).
//
//   job_host MONITOR_LIBRARY PEERS_DIR [GROUP...]
//   job_host --list-faults     the simulators the table needs: NAME MODE [OPTIONS...] per line
//
// PEERS_DIR has one directory per printer simulator that the calling script started:
// NAME/port (its TCP port on 127.0.0.1), NAME/out (its job files), NAME/log (its stderr). Every
// case prints "case NAME: OUTCOME"; the outcomes are the same on every platform. An expectation
// that does not hold prints "FAILED: NAME: ..." and makes the exit code 1.
#include "tests/win32/job_host.h"

#include "platform/late_api.h"
#include "tests/support/printer_faults.h"

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
#include <atomic>
#include <thread>

namespace jobhost {
namespace {

using nvtest::JobEnd;
using nvtest::JobEndName;
using nvtest::kPrinterFaults;
using nvtest::PrinterFault;

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
    // A live printer's (nvprinter printer) LPD port, and a command to its control FIFO.
    DWORD lpdPort() const {
        return static_cast<DWORD>(atol(ReadWhole(dir_ + "/lpd-port").c_str()));
    }
    void Command(const std::string& line) const {
        std::ofstream control(dir_ + "/control");
        control << line << "\n";
    }

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
    // The whole copies of `data` the printer holds.
    int Copies(const std::string& data, bool lpd) const {
        return nvtest::WholeCopies(dir_ + "/out", ReadWhole(dir_ + "/log"), lpd, data);
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
    // A port to the peer's raw port, or to `portNumber` when given.
    void AddPort(const std::string& name, const std::string& peer, DWORD protocol, DWORD timeOut,
                 DWORD portNumber = 0);
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
    // A job of the fault table: time-outs are taken up again for as long as they come, and
    // the user deletes the job when the case says.
    JobRun PrintFault(const PrinterFault& fault, DWORD id, const std::string& data);

    // --- Reporting ---
    void Expect(const std::string& name, bool ok, const std::string& what);
    void Outcome(const std::string& name, const std::string& outcome);
    void ExpectPrinted(const std::string& name, const JobRun& run);
    void ExpectRestarted(const std::string& name, const JobRun& run);

    // --- The cases ---
    void RawSizes();
    void Faults();
    void PrinterStatus();
    void LprJob();
    void LprEmptyAndLarge();
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
                   DWORD timeOut, DWORD portNumber) {
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
    number(WSTR("PortNumber"), portNumber != 0 ? portNumber : peer(peerName).port());
    number(WSTR("SnmpTimeOut"), timeOut);
    if (protocol == kProtocolLpr) {
        text(WSTR("QueueName"), WSTR("lp"));
    }
    RegCloseKey(key);
}

bool Host::AddPorts() {
    std::vector<std::string> names = {"raw", "refused", "lpd", "status"};
    for (const PrinterFault& fault : kPrinterFaults) {
        names.push_back(fault.name);
    }
    for (const std::string& name : names) {
        if (!peer(name).valid()) {
            printf("FAILED: setup: no printer simulator '%s' in %s\n", name.c_str(),
                   peers_.c_str());
            return false;
        }
    }
    AddPort("RAW", "raw", kProtocolRaw, 15000);
    AddPort("LPR", "lpd", kProtocolLpr, 15000);
    AddPort("LPRREFUSED", "refused", kProtocolLpr, 15000);
    AddPort("STATUSRAW", "status", kProtocolRaw, 15000);
    AddPort("STATUSLPR", "status", kProtocolLpr, 15000, peer("status").lpdPort());
    for (const PrinterFault& fault : kPrinterFaults) {
        AddPort(fault.name, fault.name,
                std::string(fault.mode) == "lpd" ? kProtocolLpr : kProtocolRaw, fault.timeOutMs);
    }
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

JobRun Host::PrintFault(const PrinterFault& fault, DWORD id, const std::string& data) {
    std::thread user;
    if (fault.deleteAfterMs > 0) {
        user = std::thread([this, id, &fault] {
            std::this_thread::sleep_for(std::chrono::milliseconds(fault.deleteAfterMs));
            machine_->SetJobStatus(id, JOB_STATUS_DELETING);
        });
    }
    JobRun run = Print(fault.name, id, data, {fault.block}, 1 << 30);
    if (user.joinable()) {
        user.join();
    }
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

// --- The printer faults of the shared table ---

// Whether this platform tells what a connection's peer acknowledged (SIO_TCP_INFO), asked of a
// connection to a listener of the host's own.
bool AcknowledgementsKnown() {
    WSADATA data;
    if (WSAStartup(MAKEWORD(2, 2), &data) != 0) {
        return false;
    }
    SOCKET listener = socket(AF_INET, SOCK_STREAM, 0);
    SOCKET client = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int length = sizeof address;
    bool known = false;
    if (bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        listen(listener, 1) == 0 &&
        getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) == 0 &&
        connect(client, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
        ULONG64 transmitted = 0;
        ULONG64 acknowledged = 0;
        known = QueryTcpProgress(client, &transmitted, &acknowledged) != FALSE;
    }
    closesocket(client);
    closesocket(listener);
    WSACleanup();
    return known;
}

// The end of a job as the spooler saw it; `why` says what did not fit any end.
JobEnd EndOf(const JobRun& run, std::string* why) {
    const std::vector<DWORD> sent = {JOB_CONTROL_SENT_TO_PRINTER};
    if (!run.started) {
        *why = run.commands.empty() ? "" : "commands after a failed start";
        return JobEnd::kStartFails;
    }
    if (run.ended) {
        *why = run.commands == sent ? "" : "sent, but commands " + Commands(run.commands);
        return JobEnd::kSent;
    }
    if (run.endError == ERROR_PRINT_CANCELLED) {
        *why = run.commands.empty() ? "" : "deleted, but commands " + Commands(run.commands);
        return JobEnd::kDeleted;
    }
    bool restarted =
        !run.commands.empty() && run.commands.back() == JOB_CONTROL_RESTART &&
        std::find(run.commands.begin(), run.commands.end(),
                  static_cast<DWORD>(JOB_CONTROL_SENT_TO_PRINTER)) == run.commands.end();
    *why = restarted ? "" : "failed, but commands " + Commands(run.commands);
    return JobEnd::kRestarted;
}

// Every case of the table, judged by what this platform can prove: where the printer's TCP
// acknowledgements can be read the case's `end` must hold, elsewhere its `endUnprovable`. The
// outcome line names the end only where the two agree, so that every platform's lines compare;
// the evidence line tells which applied.
void Host::Faults() {
    const bool known = AcknowledgementsKnown();
    printf("acknowledgements: %s\n", known ? "known (SIO_TCP_INFO)" : "unknown");
    DWORD id = 500;
    for (const PrinterFault& fault : kPrinterFaults) {
        const std::string name = fault.name;
        const bool lpd = std::string(fault.mode) == "lpd";
        std::string data = Pattern(fault.jobBytes, fault.jobBytes);
        JobRun run = PrintFault(fault, NewJob(++id, "pc7", "tester", "Fault"), data);
        std::string why;
        JobEnd end = EndOf(run, &why);
        JobEnd expected = known ? fault.end : fault.endUnprovable;
        Expect(name, why.empty(), why);
        Expect(name, end == expected,
               std::string("the job is ") + JobEndName(expected) + ", not " + JobEndName(end) +
                   " (error " + std::to_string(run.endError) + ")");
        Peer& printer = peer(name);
        if (end != JobEnd::kStartFails) {
            printer.NextSummary();
        }
        int copies = printer.Copies(data, lpd);
        Expect(name, copies == fault.wholeCopies,
               "the printer holds " + std::to_string(copies) + " whole copies, not " +
                   std::to_string(fault.wholeCopies));
        bool byEvidence = fault.end != fault.endUnprovable;
        Outcome(name, std::string("end=") +
                          (byEvidence && end == expected ? "by-evidence" : JobEndName(end)) +
                          " copies=" + std::to_string(copies));
        if (byEvidence) {
            printf("evidence %s: acknowledgements %s: %s\n", fault.name,
                   known ? "known" : "unknown", JobEndName(end));
        }
    }
}

// --- The printer's state during a job ---

// A paper-out of 6 s in the middle of a raw job and of an LPR job to a live printer (its SNMP
// agent on port 161 of the host's own network): the port shows PORT_STATUS_PAPER_OUT as an
// error, then nothing, and the job ends with one whole copy.
void Host::PrinterStatus() {
    Peer& live = peer("status");
    const struct {
        const char* name;
        const char* port;
    } cases[] = {{"status-raw", "STATUSRAW"}, {"status-lpr", "STATUSLPR"}};
    DWORD id = 700;
    for (const auto& c : cases) {
        // 4 MB at 200 kB/s: the job outlasts the paper-out and the poller's look at its end.
        std::string data = Pattern(4000000, 77);
        auto start = Clock::now();
        std::thread weather([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(1000));
            live.Command("set noPaper");
            std::this_thread::sleep_for(std::chrono::milliseconds(6000));
            live.Command("clear noPaper");
        });
        long long shownMs = -1;
        long long clearedMs = -1;
        std::atomic<bool> printing{true};
        std::thread watcher([&] {
            while (printing) {
                std::vector<std::pair<DWORD, DWORD>> changes = machine_->PortStatus(c.port);
                if (shownMs < 0 && !changes.empty()) {
                    shownMs = MsSince(start) - 1000;
                }
                if (clearedMs < 0 && changes.size() >= 2) {
                    clearedMs = MsSince(start) - 7000;
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
            }
        });
        JobRun run = Print(c.port, NewJob(++id, "pc7", "tester", "Status"), data, {65536}, 1 << 30);
        weather.join();
        printing = false;
        watcher.join();
        std::vector<std::pair<DWORD, DWORD>> changes = machine_->PortStatus(c.port);
        const std::vector<std::pair<DWORD, DWORD>> expected = {
            {PORT_STATUS_PAPER_OUT, PORT_STATUS_TYPE_ERROR}, {0, 0}};
        Expect(c.name, changes == expected,
               "the port shows paper out, then nothing: " + std::to_string(changes.size()) +
                   " changes");
        ExpectPrinted(c.name, run);
        bool lpd = std::string(c.port) == "STATUSLPR";
        live.NextSummary(30000);
        int copies = live.Copies(data, lpd);
        Expect(c.name, copies == 1, "one whole copy, not " + std::to_string(copies));
        Outcome(c.name, std::string("paper-out=") + (changes == expected ? "shown,cleared" : "?") +
                            " end=" + std::to_string(run.ended) +
                            " copies=" + std::to_string(copies));
        printf(
            "timing %s: paper out shown %lld ms after it began, cleared %lld ms after it ended\n",
            c.name, shownMs, clearedMs);
    }
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
        {"faults", &Host::Faults},
        {"printer-status", &Host::PrinterStatus},
        {"lpr-job", &Host::LprJob},
        {"lpr-empty-and-large", &Host::LprEmptyAndLarge},
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
    // The printer simulators that the fault cases need, one per line: NAME MODE [OPTIONS...].
    if (argc == 2 && std::string(argv[1]) == "--list-faults") {
        for (const auto& fault : jobhost::kPrinterFaults) {
            printf("%s %s %s\n", fault.name, fault.mode, fault.options);
        }
        return 0;
    }
    if (argc < 3) {
        fprintf(stderr, "usage: %s MONITOR_LIBRARY PEERS_DIR [GROUP...] | --list-faults\n",
                argv[0]);
        return 2;
    }
    std::unique_ptr<jobhost::JobMachine> machine = jobhost::NewJobMachine();
    jobhost::Host host(machine.get(), argv[2]);
    return host.Run(argv[1], std::vector<std::string>(argv + 3, argv + argc));
}
