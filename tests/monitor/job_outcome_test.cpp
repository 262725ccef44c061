// Job outcomes decided by the printer's evidence, one case per printer fault of the shared
// table: what the spooler is told at the end (sent, restarted, nothing for a deleted job) and
// how many whole copies the printer holds. The whole binary runs in a network namespace of its
// own with a printer's TCP buffers (8 KB), so that neither loopback's megabytes hide a pause or
// a reset nor the LPR jobs' local ports 721..731 meet another test's.
#include <sched.h>
#include <sys/stat.h>

#include <chrono>
#include <cstdlib>
#include <memory>
#include <fstream>
#include <sstream>
#include <thread>

#include "tests/monitor/job_fixture.h"
#include "tests/peers/peer_support.h"
#include "tests/support/printer_faults.h"

namespace nvtest {
namespace {

// The namespace, made once before the first test (before any thread or socket exists).
class PrinterSizedNetwork : public ::testing::Environment {
  public:
    void SetUp() override {
        if (geteuid() != 0 || unshare(CLONE_NEWNET) != 0) {
            skipped_ = "needs root for a network namespace of its own";
            return;
        }
        if (system("ip link set lo up") != 0) {
            skipped_ = "cannot bring up loopback in the namespace";
            return;
        }
        std::ofstream("/proc/sys/net/ipv4/tcp_wmem") << "4096 8192 8192";
        std::ofstream("/proc/sys/net/ipv4/tcp_rmem") << "4096 8192 8192";
    }
    static std::string skipped_;
};
std::string PrinterSizedNetwork::skipped_;
const auto* const kNetwork = ::testing::AddGlobalTestEnvironment(new PrinterSizedNetwork);

class FaultTest : public JobTest {
  protected:
    void SetUp() override {
        if (!PrinterSizedNetwork::skipped_.empty()) {
            GTEST_SKIP() << PrinterSizedNetwork::skipped_;
        }
        setenv("TMPDIR", spool_.path().c_str(), 1);
        setenv("NORVA_TEST", "pacing-ms=100", 1);
    }
    void TearDown() override {
        JobTest::TearDown();
        unsetenv("TMPDIR");
        unsetenv("NORVA_TEST");
    }

    // The port to the simulator, as the fault's case asks for it.
    void AddPort(const PrinterFault& fault, uint16_t port) {
        AddRegistryPort(u"FAULT", u"127.0.0.1");
        SetPortValue(u"FAULT", u"PortNumber", port);
        SetPortValue(u"FAULT", u"SnmpTimeOut", fault.timeOutMs);
        if (std::string(fault.mode) == "lpd") {
            SetPortValue(u"FAULT", u"Protocol", 2u);
            SetPortValue(u"FAULT", u"QueueName", u"lp");
        }
    }

    // The job as the spooler drives it: a WritePort that timed out is called again with the
    // rest, any other failure ends the writing; the user deletes the job when the case says.
    JobEnd Print(const PrinterFault& fault, const std::string& data) {
        HANDLE port = OpenPort(u"FAULT");
        DWORD id = NewJob();
        std::thread user;
        if (fault.deleteAfterMs > 0) {
            user = std::thread([this, id, &fault] {
                std::this_thread::sleep_for(std::chrono::milliseconds(fault.deleteAfterMs));
                host_->SetJobStatus(id, JOB_STATUS_DELETING);
            });
        }
        JobEnd end = Drive(port, id, data, fault.block);
        if (user.joinable()) {
            user.join();
        }
        table_->pfnClosePort(port);
        return end;
    }

    JobEnd Drive(HANDLE port, DWORD id, const std::string& data, size_t block) {
        if (!StartDoc(port, id)) {
            EXPECT_TRUE(host_->JobCommands(id).empty());
            return JobEnd::kStartFails;
        }
        for (size_t offset = 0; offset < data.size();) {
            DWORD written = 0;
            std::string piece = data.substr(offset, block);
            BOOL ok = Write(port, piece, &written);
            offset += written;
            if (!ok && GetLastError() != ERROR_TIMEOUT) {
                break;
            }
        }
        BOOL ended = table_->pfnEndDocPort(port);
        DWORD error = GetLastError();
        std::vector<DWORD> commands = host_->JobCommands(id);
        if (ended) {
            EXPECT_EQ(std::vector<DWORD>{JOB_CONTROL_SENT_TO_PRINTER}, commands);
            return JobEnd::kSent;
        }
        if (error == ERROR_PRINT_CANCELLED) {
            EXPECT_TRUE(commands.empty()) << "a deleted job gets no command";
            return JobEnd::kDeleted;
        }
        EXPECT_FALSE(commands.empty());
        EXPECT_EQ(commands.end(),
                  std::find(commands.begin(), commands.end(), JOB_CONTROL_SENT_TO_PRINTER));
        return JobEnd::kRestarted;
    }

    TempDir spool_;
};

class JobOutcome : public FaultTest, public ::testing::WithParamInterface<PrinterFault> {};

TEST_P(JobOutcome, TheSpoolerAndThePrinterSeeWhatThePrinterShowed) {
    const PrinterFault& fault = GetParam();
    TempDir out;
    std::vector<std::string> options = {"--listen", "127.0.0.1:0", "--out", out.path().string()};
    std::istringstream words(fault.options);
    for (std::string word; words >> word;) {
        options.push_back(word);
    }
    Simulator printer(fault.mode, options);
    AddPort(fault, printer.port());
    ASSERT_EQ(ERROR_SUCCESS, Load());
    std::string data = TestData(fault.jobBytes, fault.jobBytes);
    JobEnd end = Print(fault, data);
    EXPECT_STREQ(JobEndName(fault.end), JobEndName(end));
    // The printer has ended the connection (or never had one) before its copies are counted.
    WaitUntil([&] { return printer.log().find("job 1: ") != std::string::npos; },
              end == JobEnd::kStartFails ? 0 : 10000);
    printer.stop();
    EXPECT_EQ(fault.wholeCopies, WholeCopies(out.path().string(), printer.log(),
                                             std::string(fault.mode) == "lpd", data))
        << printer.log();
}

// A port whose jobs keep being restarted pauses before each new connection, twice as long each
// time, and says so in the job's status text; deleting the job ends the pause at once, without
// a connection; a delivered job ends the run of pauses.
using RestartPause = FaultTest;

TEST_F(RestartPause, LongerEachTimeAndADeletedJobEndsIt) {
    setenv("NORVA_TEST", "pacing-ms=400", 1);
    Simulator refusing("lpd", {"--listen", "127.0.0.1:0", "--discard", "--nak-at", "1"});
    PrinterFault fault{"refusing",         "lpd", "", 10, 10, 2000, 0, JobEnd::kRestarted,
                       JobEnd::kRestarted, 0};
    AddPort(fault, refusing.port());
    ASSERT_EQ(ERROR_SUCCESS, Load());
    std::vector<long long> took;
    for (int attempt = 0; attempt < 3; ++attempt) {
        auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(JobEnd::kRestarted, Print(fault, "refused"));
        took.push_back(std::chrono::duration_cast<std::chrono::milliseconds>(
                           std::chrono::steady_clock::now() - start)
                           .count());
    }
    EXPECT_GE(took[1], 400) << "the first restart pauses the next connection";
    EXPECT_GE(took[2], 800) << "the second pauses twice as long";

    fault.deleteAfterMs = 300;  // during the pause of 1600 ms
    EXPECT_EQ(JobEnd::kDeleted, Print(fault, "deleted while it waits"));
    EXPECT_TRUE(refusing.waitForSummaries(3));
    EXPECT_FALSE(refusing.waitForSummaries(4, 500)) << "no connection for the deleted job";

    // The reason and the time left were in the queue.
    bool shown = false;
    for (DWORD id = 1; id <= 4; ++id) {
        for (const auto& text : host_->JobStatusTexts(id)) {
            shown = shown || U8(text).find("the printer refused the job") != std::string::npos;
        }
    }
    EXPECT_TRUE(shown);
}

// nvspool print plays the spooler's part: SIGINT deletes the job, as a user deletes it in the
// queue. The monitor ends it at once with a reset, so that the printer can tell the abandoned
// job from a finished one, and nvspool says so with the signal's exit status.
using PrintTool = FaultTest;

TEST_F(PrintTool, SigintDeletesThePrintingJob) {
    TempDir out;
    Simulator printer("raw", {"--listen", "127.0.0.1:0", "--out", out.path().string(),
                              "--stall-after", "100000"});
    PrinterFault fault{"stalled", "raw", "", 0, 0, 1000, 0, JobEnd::kDeleted, JobEnd::kDeleted, 0};
    AddPort(fault, printer.port());
    std::string job = out.file("job.prn.in");
    std::string data = TestData(2000000, 7);
    WriteFile(job, data);
    TempDir logs;
    BackgroundProcess print({BuildDir() + "/bin/nvspool", "print", "--port", "FAULT", job},
                            logs.file("print.log"));
    std::this_thread::sleep_for(std::chrono::milliseconds(2500));
    EXPECT_EQ(130, print.stop(SIGINT, 5000));
    EXPECT_NE(std::string::npos, ReadFile(logs.file("print.log")).find("deleted"));
    EXPECT_TRUE(WaitUntil(
        [&] { return printer.log().find("reset by the sender") != std::string::npos; }, 5000))
        << printer.log();
    EXPECT_EQ(0, WholeCopies(out.path().string(), printer.log(), false, data));
}

// --- The printer's state during a job ---

// One printer with its raw port, LPD and SNMP agent (nvprinter printer), conditions on its
// schedule; the monitor asks its agent every 500 ms (NORVA_TEST) instead of every 5 s.
class LivePrinter {
  public:
    explicit LivePrinter(std::vector<std::string> options) {
        std::vector<std::string> argv = {BuildDir() + "/bin/nvprinter",
                                         "printer",
                                         "--raw",
                                         "127.0.0.1:0",
                                         "--lpd",
                                         "127.0.0.1:0",
                                         "--snmp",
                                         "127.0.0.1:0",
                                         "--out",
                                         out_.path().string()};
        argv.insert(argv.end(), options.begin(), options.end());
        process_ = std::make_unique<BackgroundProcess>(argv, logs_.file("printer.log"));
        for (int i = 0; i < 3; ++i) {
            std::string line = process_->readLine(10000);
            uint16_t port = static_cast<uint16_t>(atoi(line.substr(line.rfind(':') + 1).c_str()));
            (line.rfind("raw", 0) == 0 ? raw_ : line.rfind("lpd", 0) == 0 ? lpd_ : snmp_) = port;
        }
    }
    uint16_t raw() const { return raw_; }
    uint16_t lpd() const { return lpd_; }
    uint16_t snmp() const { return snmp_; }
    std::string out() const { return out_.path().string(); }
    // Stops it; what it logged, the count of SNMP datagrams it received last.
    std::string Stop() {
        process_->stop();
        return ReadFile(logs_.file("printer.log"));
    }

  private:
    TempDir out_;
    TempDir logs_;
    std::unique_ptr<BackgroundProcess> process_;
    uint16_t raw_ = 0, lpd_ = 0, snmp_ = 0;
};

// A condition and the port status the spooler must be told while it lasts.
struct ConditionCase {
    const char* condition;
    DWORD status;
    DWORD severity;
    const char* text;  // in the job's status text
};

class PrinterStatus : public FaultTest, public ::testing::WithParamInterface<ConditionCase> {
  protected:
    // A job of 200 kB through the port while the printer reads 80 kB/s; the condition lasts
    // its first second. What SetPortW said of the port, in order.
    std::vector<nvspool::PortStatusRecord> PrintThrough(LivePrinter& printer, bool lpd,
                                                        DWORD snmpEnabled = 1) {
        setenv("NORVA_TEST",
               ("pacing-ms=100,status-interval-ms=500,snmp-port=" + std::to_string(printer.snmp()))
                   .c_str(),
               1);
        PrinterFault fault{"live",        lpd ? "lpd" : "raw", "", 200000, 16384, 2000, 0,
                           JobEnd::kSent, JobEnd::kSent,       1};
        AddPort(fault, lpd ? printer.lpd() : printer.raw());
        SetPortValue(u"FAULT", u"SnmpEnabled", snmpEnabled);
        EXPECT_EQ(ERROR_SUCCESS, Load());
        data_ = TestData(fault.jobBytes, 24);
        EXPECT_EQ(JobEnd::kSent, Print(fault, data_));
        std::vector<nvspool::PortStatusRecord> changes;
        for (const auto& change : host_->PortStatusChanges()) {
            if (change.port == u"FAULT") {
                changes.push_back(change);
            }
        }
        return changes;
    }
    bool TextShown(const std::string& part) {
        for (const auto& text : host_->JobStatusTexts(1)) {
            if (U8(text).find(part) != std::string::npos) {
                return true;
            }
        }
        return false;
    }
    std::string data_;
};

TEST_P(PrinterStatus, IsSetWhileTheConditionLastsAndClearedAfter) {
    const ConditionCase& c = GetParam();
    for (bool lpd : {false, true}) {
        SCOPED_TRACE(lpd ? "LPR" : "raw TCP");
        LivePrinter printer(
            {"--slow", "80000", "--condition", std::string(c.condition) + "@0-1000"});
        auto changes = PrintThrough(printer, lpd);
        ASSERT_EQ(2u, changes.size()) << "set once, cleared once";
        EXPECT_EQ(c.status, changes[0].status);
        EXPECT_EQ(c.severity, changes[0].severity);
        EXPECT_EQ(0u, changes[1].status);
        EXPECT_TRUE(TextShown(c.text)) << "the job's status text names it";
        printer.Stop();
        EXPECT_EQ(1, WholeCopies(printer.out(), "", lpd, data_));
        Unload();
    }
}

INSTANTIATE_TEST_SUITE_P(
    Conditions, PrinterStatus,
    ::testing::Values(
        ConditionCase{"noPaper", PORT_STATUS_PAPER_OUT, PORT_STATUS_TYPE_ERROR, "out of paper"},
        ConditionCase{"jammed", PORT_STATUS_PAPER_JAM, PORT_STATUS_TYPE_ERROR, "Paper jam"},
        ConditionCase{"doorOpen", PORT_STATUS_DOOR_OPEN, PORT_STATUS_TYPE_ERROR, "door"},
        ConditionCase{"offline", PORT_STATUS_OFFLINE, PORT_STATUS_TYPE_ERROR, "offline"},
        ConditionCase{"inputTrayEmpty", PORT_STATUS_PAPER_PROBLEM, PORT_STATUS_TYPE_ERROR, "tray"},
        ConditionCase{"lowToner", PORT_STATUS_TONER_LOW, PORT_STATUS_TYPE_WARNING, "Toner is low"},
        ConditionCase{"warmup", PORT_STATUS_WARMING_UP, PORT_STATUS_TYPE_INFO, "warming up"}),
    [](const ::testing::TestParamInfo<ConditionCase>& test) {
        return std::string(test.param.condition);
    });

using PrinterWithoutStatus = PrinterStatus;

// An agent that never answers says nothing about the printer: no port status at all, only
// the job's status text says so.
TEST_F(PrinterWithoutStatus, ASilentAgentIsNeverOffline) {
    LivePrinter printer({"--slow", "25000", "--silent"});  // 8 s: two unanswered attempts take 4
    EXPECT_TRUE(PrintThrough(printer, false).empty());
    EXPECT_TRUE(TextShown("does not answer status queries"));
}

TEST_F(PrinterWithoutStatus, SnmpEnabledZeroSendsNoDatagram) {
    LivePrinter printer({"--slow", "50000", "--condition", "noPaper@0-1000"});
    EXPECT_TRUE(PrintThrough(printer, false, 0).empty());
    std::string log = printer.Stop();
    EXPECT_NE(std::string::npos, log.find(" 0 SNMP datagrams received")) << log;
}

INSTANTIATE_TEST_SUITE_P(Faults, JobOutcome, ::testing::ValuesIn(kPrinterFaults),
                         [](const ::testing::TestParamInfo<PrinterFault>& test) {
                             std::string name = test.param.name;
                             for (char& c : name) {
                                 c = c == '-' ? '_' : c;
                             }
                             return name;
                         });

}  // namespace
}  // namespace nvtest
