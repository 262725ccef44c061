// Print jobs by LPR, end to end through the monitor's table, against an in-process LPD.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <thread>

#include "net/netlpr.h"
#include "net/netport.h"
#include "net/netraws.h"
#include "tests/monitor/job_fixture.h"
#include "tests/support/fake_lpd.h"

namespace nvtest {
namespace {

class LprJob : public JobTest {
  protected:
    void SetUp() override {
        if (!CanBindReservedPorts()) {
            GTEST_SKIP() << "binding the local ports 721..731 needs root";
        }
        setenv("TMPDIR", spool_.path().c_str(), 1);
    }
    void TearDown() override {
        JobTest::TearDown();
        unsetenv("TMPDIR");
    }

    static void AddLprPort(const std::u16string& name, const FakeLpd& lpd,
                           const std::u16string& queue = u"lp") {
        AddRegistryPort(name, W(lpd.address()));
        SetPortValue(name, u"Protocol", 2u);
        SetPortValue(name, u"PortNumber", lpd.port());
        if (!queue.empty()) {
            SetPortValue(name, u"QueueName", queue);
        }
    }

    DWORD LprJobId(DWORD id, const std::u16string& document, const std::u16string& user) {
        nvspool::Job job;
        job.id = id;
        job.printer = kPrinter;
        job.machine = u"pc7";
        job.user = user;
        job.document = document;
        return host_->AddJob(job);
    }

    // One job: StartDocPort, the data in one WritePort (if any), EndDocPort.
    void Print(const std::u16string& port, DWORD id, const std::string& data) {
        HANDLE handle = OpenPort(port);
        ASSERT_NE(nullptr, handle);
        ASSERT_TRUE(StartDoc(handle, id));
        if (!data.empty()) {
            ASSERT_TRUE(Write(handle, data));
        }
        EXPECT_TRUE(table_->pfnEndDocPort(handle));
        table_->pfnClosePort(handle);
    }

    bool SpoolDirectoryIsEmpty() const { return std::filesystem::is_empty(spool_.path()); }

    // The descriptor of the running job's spool file (the monitor runs in this process).
    int SpoolFileDescriptor() const {
        for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
            std::error_code error;
            std::string target = std::filesystem::read_symlink(entry.path(), error).string();
            if (target.rfind(spool_.path().string(), 0) == 0 && target.size() > 10 &&
                target.compare(target.size() - 10, 10, "/spool.tmp") == 0) {
                return std::stoi(entry.path().filename().string());
            }
        }
        return -1;
    }

    TempDir spool_;
};

TEST_F(LprJob, TheConversationIsByteForByte) {
    FakeLpd lpd;
    AddLprPort(u"LPR", lpd);
    ASSERT_EQ(ERROR_SUCCESS, Load());
    DWORD id = LprJobId(7, u"Report", u"alice");
    Print(u"LPR", id, "hello lpd");
    ASSERT_TRUE(lpd.WaitForJobs(1));
    auto job = lpd.Jobs()[0];
    EXPECT_TRUE(job.errors.empty()) << job.errors[0];
    EXPECT_TRUE(job.complete);
    EXPECT_GE(job.sourcePort, 721);
    EXPECT_LE(job.sourcePort, 731);
    EXPECT_EQ("lp", job.queue);
    EXPECT_EQ("cfa007pc7", job.controlName);
    EXPECT_EQ("Hpc7\nPalice\nJReport\nTReport\nldfA007pc7\nUdfA007pc7\nNReport\n", job.control);
    EXPECT_EQ(static_cast<long long>(job.control.size()), job.controlSize);
    EXPECT_EQ("dfA007pc7", job.dataName);
    EXPECT_EQ(9, job.dataSize);
    EXPECT_EQ("hello lpd", job.data);
    EXPECT_EQ((std::vector<DWORD>{JOB_CONTROL_SENT_TO_PRINTER}), host_->JobCommands(id));
    EXPECT_TRUE(SpoolDirectoryIsEmpty()) << "the spool file is removed with the transport";
}

TEST_F(LprJob, AnEmptyJobAnnouncesNothingAndCountsAsSent) {
    FakeLpd lpd;
    AddLprPort(u"EMPTY", lpd);
    ASSERT_EQ(ERROR_SUCCESS, Load());
    Print(u"EMPTY", LprJobId(8, u"Nothing", u"bob"), "");
    ASSERT_TRUE(lpd.WaitForJobs(1));
    auto job = lpd.Jobs()[0];
    EXPECT_TRUE(job.errors.empty());
    EXPECT_EQ(0, job.dataSize);
    EXPECT_TRUE(job.complete);
}

TEST_F(LprJob, JobIdsOfFourDigitsAreWrittenWhole) {
    FakeLpd lpd;
    AddLprPort(u"BIG", lpd);
    ASSERT_EQ(ERROR_SUCCESS, Load());
    Print(u"BIG", LprJobId(1234, u"T", u"u"), "x");
    ASSERT_TRUE(lpd.WaitForJobs(1));
    auto job = lpd.Jobs()[0];
    EXPECT_EQ("cfa1234pc7", job.controlName);
    EXPECT_EQ("dfA1234pc7", job.dataName);
}

TEST_F(LprJob, NoUserMeansNoPLine) {
    FakeLpd lpd;
    AddLprPort(u"NOUSER", lpd);
    ASSERT_EQ(ERROR_SUCCESS, Load());
    nvspool::Job record;
    record.id = 9;
    record.printer = kPrinter;
    record.machine = u"pc7";
    record.document = u"Doc";
    host_->AddJob(record);
    Print(u"NOUSER", 9, "x");
    ASSERT_TRUE(lpd.WaitForJobs(1));
    EXPECT_EQ("Hpc7\nP\nJDoc\nTDoc\nldfA009pc7\nUdfA009pc7\nNDoc\n", lpd.Jobs()[0].control)
        << "an empty user name is a user name";
}

TEST_F(LprJob, AMissingQueueNameIsQAndTheAddress) {
    FakeLpd lpd;
    AddLprPort(u"NOQUEUE", lpd, u"");
    ASSERT_EQ(ERROR_SUCCESS, Load());
    Print(u"NOQUEUE", LprJobId(3, u"T", u"u"), "x");
    ASSERT_TRUE(lpd.WaitForJobs(1));
    EXPECT_EQ("q_127.0.0.1", lpd.Jobs()[0].queue);
}

TEST_F(LprJob, MailAlertAddsAnMLineAfterT) {
    FakeLpd lpd;
    AddLprPort(u"MAIL", lpd);
    SetPortValue(u"MAIL", u"MailAlert", u"ops@example.com");
    ASSERT_EQ(ERROR_SUCCESS, Load());
    Print(u"MAIL", LprJobId(4, u"T", u"u"), "x");
    ASSERT_TRUE(lpd.WaitForJobs(1));
    EXPECT_EQ("Hpc7\nPu\nJT\nTT\nMops@example.com\nldfA004pc7\nUdfA004pc7\nNT\n",
              lpd.Jobs()[0].control);
}

TEST_F(LprJob, ControlCharactersInNamesCannotAddLines) {
    FakeLpd lpd;
    AddLprPort(u"INJECT", lpd);
    ASSERT_EQ(ERROR_SUCCESS, Load());
    Print(u"INJECT", LprJobId(5, u"a\nLroot\rb", u"eve\n"), "x");
    ASSERT_TRUE(lpd.WaitForJobs(1));
    EXPECT_EQ("Hpc7\nPeve_\nJa_Lroot_b\nTa_Lroot_b\nldfA005pc7\nUdfA005pc7\nNa_Lroot_b\n",
              lpd.Jobs()[0].control);
}

TEST_F(LprJob, LongNamesAreCutSoTheControlFileFits) {
    FakeLpd lpd;
    AddLprPort(u"LONG", lpd);
    ASSERT_EQ(ERROR_SUCCESS, Load());
    std::u16string title(5000, u'\u00e9');  // two bytes each in UTF-8
    Print(u"LONG", LprJobId(6, title, std::u16string(400, u'u')), "x");
    ASSERT_TRUE(lpd.WaitForJobs(1));
    auto job = lpd.Jobs()[0];
    EXPECT_TRUE(job.errors.empty());
    EXPECT_TRUE(job.complete);
    EXPECT_LT(job.control.size(), 4096u);
    // The title is cut between characters, never inside one.
    size_t j = job.control.find("\nJ") + 2;
    std::string cut = job.control.substr(j, job.control.find('\n', j) - j);
    EXPECT_EQ(0u, cut.size() % 2);
    EXPECT_GT(cut.size(), 1000u);
}

// --- Failures: never reported as sent, always a restart with the reason ---

// A daemon that refuses (0x01) or hangs up at any of the five steps, a refused connection, and
// a job without job information: EndDocPort fails with the reason and asks for a restart.
TEST_F(LprJob, EveryFailedStepFailsTheJobAndAsksForARestart) {
    struct Case {
        std::string what;
        std::unique_ptr<FakeLpd> lpd;
        std::vector<DWORD> errors;  // the codes that may report it
        bool jobInfo = true;
    };
    std::vector<Case> cases;
    for (int step = FakeLpd::kReceiveJob; step <= FakeLpd::kDataFile; ++step) {
        FakeLpd::Options nak;
        nak.nakAt = step;
        cases.push_back({"0x01 at step " + std::to_string(step),
                         std::make_unique<FakeLpd>(nak),
                         {ERROR_BAD_NET_RESP}});
        // A daemon that hangs up after the whole data file holds the job (job_outcome_test).
        if (step == FakeLpd::kDataFile) {
            continue;
        }
        FakeLpd::Options hangUp;
        hangUp.closeAt = step;
        cases.push_back({"close at step " + std::to_string(step),
                         std::make_unique<FakeLpd>(hangUp),
                         {WSAEDISCON, WSAECONNRESET}});
    }
    cases.push_back(
        {"no job information", std::make_unique<FakeLpd>(), {ERROR_INVALID_DATA}, false});
    std::u16string refused = u"REFUSED";
    {
        FakeLpd gone;  // its port is closed again: the connection is refused
        AddLprPort(refused, gone);
    }
    for (size_t i = 0; i < cases.size(); ++i) {
        AddLprPort(u"F" + W(std::to_string(i)), *cases[i].lpd);
    }
    ASSERT_EQ(ERROR_SUCCESS, Load());
    auto fails = [&](const std::u16string& name, DWORD id, const std::vector<DWORD>& errors,
                     bool jobInfo = true) {
        HANDLE port = OpenPort(name);
        if (!jobInfo) {
            NvFaultSet("GetJobW", ERROR_INVALID_PARAMETER);
        }
        ASSERT_TRUE(StartDoc(port, id));
        NvFaultClear("GetJobW");
        ASSERT_TRUE(Write(port, "data"));
        SetLastError(0);
        EXPECT_FALSE(table_->pfnEndDocPort(port));
        DWORD error = GetLastError();
        EXPECT_NE(errors.end(), std::find(errors.begin(), errors.end(), error)) << error;
        EXPECT_EQ(std::vector<DWORD>{JOB_CONTROL_RESTART}, host_->JobCommands(id));
        table_->pfnClosePort(port);
    };
    for (size_t i = 0; i < cases.size(); ++i) {
        SCOPED_TRACE(cases[i].what);
        fails(u"F" + W(std::to_string(i)), LprJobId(50 + static_cast<DWORD>(i), u"T", u"u"),
              cases[i].errors, cases[i].jobInfo);
        if (cases[i].jobInfo) {
            ASSERT_TRUE(cases[i].lpd->WaitForJobs(1));
            auto job = cases[i].lpd->Jobs()[0];
            EXPECT_FALSE(job.complete);
            if (i == 0) {
                EXPECT_TRUE(job.controlName.empty()) << "no control file after the refusal";
            }
        } else {
            EXPECT_FALSE(cases[i].lpd->WaitForJobs(1, 300)) << "nothing to send: no connection";
        }
    }
    SCOPED_TRACE("refused connection");
    fails(refused, LprJobId(90, u"T", u"u"), {WSAECONNREFUSED});
    EXPECT_TRUE(SpoolDirectoryIsEmpty());
}

TEST_F(LprJob, APrinterThatNeverAnswersFailsWithinTheTimeOut) {
    FakeLpd::Options options;
    options.silentAt = FakeLpd::kControlFile;
    FakeLpd lpd(options);
    AddLprPort(u"SILENT", lpd);
    SetPortValue(u"SILENT", u"SnmpTimeOut", 400u);
    ASSERT_EQ(ERROR_SUCCESS, Load());
    HANDLE port = OpenPort(u"SILENT");
    DWORD id = LprJobId(12, u"T", u"u");
    ASSERT_TRUE(StartDoc(port, id));
    ASSERT_TRUE(Write(port, "data"));
    auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(table_->pfnEndDocPort(port));
    EXPECT_EQ(static_cast<DWORD>(WSAETIMEDOUT), GetLastError());
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
    EXPECT_EQ(std::vector<DWORD>{JOB_CONTROL_RESTART}, host_->JobCommands(id));
    ASSERT_TRUE(lpd.WaitForJobs(1));
    EXPECT_FALSE(lpd.Jobs()[0].complete);
    EXPECT_TRUE(SpoolDirectoryIsEmpty());
}

// A spool file that misses part of the job (a full disk) is never sent, whatever the writes
// after the failure do.
TEST_F(LprJob, AFailedSpoolWriteIsNeverSent) {
    FakeLpd lpd;
    AddLprPort(u"FULL", lpd);
    ASSERT_EQ(ERROR_SUCCESS, Load());
    HANDLE port = OpenPort(u"FULL");
    DWORD id = LprJobId(14, u"T", u"u");
    ASSERT_TRUE(StartDoc(port, id));
    ASSERT_TRUE(Write(port, "first"));
    NvFaultSet("WriteFile", ERROR_DISK_FULL, 1);
    EXPECT_FALSE(Write(port, "lost"));
    EXPECT_EQ(static_cast<DWORD>(ERROR_DISK_FULL), GetLastError());
    EXPECT_TRUE(host_->JobCommands(id).empty());
    EXPECT_FALSE(Write(port, "after")) << "the disk has room again, but the job has a hole";
    EXPECT_EQ(static_cast<DWORD>(ERROR_DISK_FULL), GetLastError());
    EXPECT_EQ(std::vector<DWORD>{JOB_CONTROL_RESTART}, host_->JobCommands(id));
    EXPECT_FALSE(table_->pfnEndDocPort(port));
    EXPECT_EQ(static_cast<DWORD>(ERROR_DISK_FULL), GetLastError());
    EXPECT_EQ((std::vector<DWORD>{JOB_CONTROL_RESTART, JOB_CONTROL_RESTART}),
              host_->JobCommands(id));
    EXPECT_FALSE(lpd.WaitForJobs(1, 300)) << "no connection was made";
    EXPECT_TRUE(SpoolDirectoryIsEmpty());
}

// While every local port of 721..731 is taken the job waits for one, up to its time-out.
TEST_F(LprJob, BusyLocalPortsAreWaitedForUpToTheTimeOut) {
    FakeLpd lpd;
    AddLprPort(u"BUSY", lpd);
    SetPortValue(u"BUSY", u"SnmpTimeOut", 2000u);
    ASSERT_EQ(ERROR_SUCCESS, Load());
    HANDLE port = OpenPort(u"BUSY");
    DWORD freed = LprJobId(13, u"T", u"u");
    ASSERT_TRUE(StartDoc(port, freed));
    ASSERT_TRUE(Write(port, "waited"));
    {
        auto taken = std::make_unique<ReservedPortsTaken>();
        std::thread release([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            taken.reset();
        });
        EXPECT_TRUE(table_->pfnEndDocPort(port));
        release.join();
    }
    ASSERT_TRUE(lpd.WaitForJobs(1));
    EXPECT_TRUE(lpd.Jobs()[0].complete);
    EXPECT_EQ("waited", lpd.Jobs()[0].data);

    SetPortValue(u"BUSY", u"SnmpTimeOut", 300u);
    DWORD lost = LprJobId(15, u"T", u"u");
    ASSERT_TRUE(StartDoc(port, lost));
    ASSERT_TRUE(Write(port, "data"));
    {
        ReservedPortsTaken taken;
        EXPECT_FALSE(table_->pfnEndDocPort(port));
        EXPECT_EQ(static_cast<DWORD>(WSAEADDRINUSE), GetLastError());
    }
    EXPECT_EQ(std::vector<DWORD>{JOB_CONTROL_RESTART}, host_->JobCommands(lost));
    EXPECT_FALSE(lpd.WaitForJobs(2, 300)) << "no connection was made";
    EXPECT_TRUE(SpoolDirectoryIsEmpty());
}

// The machine's name may resolve first to an address that cannot reach the printer: the
// reserved port is bound on any address and routing picks the interface.
TEST_F(LprJob, TheLocalPortIsBoundOnAnyAddress) {
    FakeLpd lpd;
    AddLprPort(u"ROUTE", lpd);
    ASSERT_EQ(ERROR_SUCCESS, Load());
    NvSetHostAddresses("192.0.2.1,127.0.0.1");
    Print(u"ROUTE", LprJobId(16, u"T", u"u"), "routed");
    NvSetHostAddresses(nullptr);
    ASSERT_TRUE(lpd.WaitForJobs(1));
    EXPECT_TRUE(lpd.Jobs()[0].complete);
}

// Every report of the port's settings shows a stored 0 as the default, and so do the jobs'
// transports: a time-out of nothing would fail every wait at once. (The transports of this
// process's copy of the monitor, reading a port's key as a job does.)
TEST_F(LprJob, AStoredTimeOutOfZeroIsTheDefaultForBothTransports) {
    AddRegistryPort(u"ZERO", u"127.0.0.1");
    SetPortValue(u"ZERO", u"SnmpTimeOut", 0u);
    CNetPort port(nullptr, u"ZERO");
    std::u16string path = std::u16string(kPortsKey) + u"\\ZERO";
    ASSERT_EQ(ERROR_SUCCESS, port.GetKey().Open(HKEY_LOCAL_MACHINE, path.c_str(), KEY_ALL_ACCESS));
    ASSERT_TRUE(port.ReadConfig());
    CRawSocket raw;
    ASSERT_TRUE(raw.ReadConfig(&port));
    EXPECT_EQ(15000u, raw.m_timeOut);
    CLpr lpr;
    ASSERT_TRUE(lpr.ReadConfig(&port));
    EXPECT_EQ(15000u, lpr.m_timeOut);
}

TEST_F(LprJob, TwoJobsOnTwoPortsAtOnceSpoolSeparately) {
    FakeLpd lpd;
    AddLprPort(u"A", lpd);
    AddLprPort(u"B", lpd);
    ASSERT_EQ(ERROR_SUCCESS, Load());
    HANDLE a = OpenPort(u"A");
    HANDLE b = OpenPort(u"B");
    ASSERT_TRUE(StartDoc(a, LprJobId(21, u"TA", u"u")));
    ASSERT_TRUE(StartDoc(b, LprJobId(22, u"TB", u"u")));
    std::string dataA = Pattern(300000);
    std::string dataB(200000, 'b');
    std::thread writerA([&] { Write(a, dataA); });
    std::thread writerB([&] { Write(b, dataB); });
    writerA.join();
    writerB.join();
    EXPECT_EQ(2u, std::distance(std::filesystem::directory_iterator(spool_.path()),
                                std::filesystem::directory_iterator()));
    EXPECT_TRUE(table_->pfnEndDocPort(a));
    EXPECT_TRUE(table_->pfnEndDocPort(b));
    ASSERT_TRUE(lpd.WaitForJobs(2));
    for (const auto& job : lpd.Jobs()) {
        EXPECT_TRUE(job.data == (job.dataName == "dfA021pc7" ? dataA : dataB)) << job.dataName;
    }
    EXPECT_TRUE(SpoolDirectoryIsEmpty());
}

// A second job to the same printer that picks the same local port still goes out.
TEST_F(LprJob, TwoJobsToTheSamePrinterAtOnceBothArrive) {
    FakeLpd lpd;
    AddLprPort(u"SAME1", lpd);
    AddLprPort(u"SAME2", lpd);
    ASSERT_EQ(ERROR_SUCCESS, Load());
    HANDLE a = OpenPort(u"SAME1");
    HANDLE b = OpenPort(u"SAME2");
    ASSERT_TRUE(StartDoc(a, LprJobId(41, u"TA", u"u")));
    ASSERT_TRUE(StartDoc(b, LprJobId(42, u"TB", u"u")));
    ASSERT_TRUE(Write(a, "first"));
    ASSERT_TRUE(Write(b, "second"));
    std::thread endA([&] { table_->pfnEndDocPort(a); });
    std::thread endB([&] { table_->pfnEndDocPort(b); });
    endA.join();
    endB.join();
    ASSERT_TRUE(lpd.WaitForJobs(2));
    for (const auto& job : lpd.Jobs()) {
        EXPECT_TRUE(job.complete) << job.dataName;
    }
}

// The data file of a job of 4 GiB and more announces its true size. A sparse spool file
// stands in for the data; the printer hangs up after the announcement.
TEST_F(LprJob, JobsOfFourGibibytesAnnounceTheirTrueSize) {
    FakeLpd::Options options;
    options.closeAt = FakeLpd::kDataCommand;
    FakeLpd lpd(options);
    AddLprPort(u"HUGE", lpd);
    ASSERT_EQ(ERROR_SUCCESS, Load());
    DWORD id = LprJobId(31, u"T", u"u");
    HANDLE handle = OpenPort(u"HUGE");
    ASSERT_TRUE(StartDoc(handle, id));
    int spool = SpoolFileDescriptor();
    ASSERT_GE(spool, 0);
    ASSERT_EQ((4LL << 30) + 4, lseek(spool, (4LL << 30) + 4, SEEK_SET));
    ASSERT_TRUE(Write(handle, "end"));
    EXPECT_FALSE(table_->pfnEndDocPort(handle)) << "the printer hung up";
    ASSERT_TRUE(lpd.WaitForJobs(1));
    EXPECT_EQ((4LL << 30) + 7, lpd.Jobs()[0].dataSize);
}

// A spooler killed in the middle of LPR jobs leaves their spool directories behind; the next
// start removes those of processes that no longer run, and only those: not one whose file is
// still held, not one of a running process, and no symbolic link is followed.
TEST_F(LprJob, AStartSweepsTheSpoolDirectoriesOfEndedProcesses) {
    pid_t ended = fork();
    ASSERT_GE(ended, 0);
    if (ended == 0) {
        _exit(0);
    }
    waitpid(ended, nullptr, 0);
    auto make = [&](const std::string& name) {
        std::string dir = spool_.file(name);
        EXPECT_EQ(0, mkdir(dir.c_str(), 0700));
        std::ofstream(dir + "/spool.tmp") << std::string(4096, 'x');
        chmod((dir + "/spool.tmp").c_str(), 0600);
        return dir;
    };
    std::string dead = "nvlpr-" + std::to_string(ended) + "-";
    std::string left = make(dead + "aaaaaa");
    std::string held = make(dead + "bbbbbb");
    std::string running = make("nvlpr-" + std::to_string(getpid()) + "-cccccc");
    std::string elsewhere = make("elsewhere");
    ASSERT_EQ(0, symlink(elsewhere.c_str(), spool_.file(dead + "dddddd").c_str()));
    int holder = open((held + "/spool.tmp").c_str(), O_RDONLY);
    ASSERT_EQ(0, flock(holder, LOCK_EX));

    ASSERT_EQ(ERROR_SUCCESS, Load());
    close(holder);
    EXPECT_FALSE(std::filesystem::exists(left));
    EXPECT_TRUE(std::filesystem::exists(held + "/spool.tmp"));
    EXPECT_TRUE(std::filesystem::exists(running + "/spool.tmp"));
    EXPECT_TRUE(std::filesystem::exists(elsewhere + "/spool.tmp"));
    EXPECT_TRUE(std::filesystem::is_symlink(spool_.file(dead + "dddddd")));
}

}  // namespace
}  // namespace nvtest
